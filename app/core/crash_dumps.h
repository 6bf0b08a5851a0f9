// Process-wide holder of the crash-dump handler.
#pragma once

#include <QString>

class CrashDumpHolder
{
public:
    static CrashDumpHolder &instance();
    // Creates the folder when missing and installs the handler once; a second
    // call changes nothing. Dumps left by an earlier run that crashed are
    // reported in the log ("BreakpadQt crash" and the dump's path).
    // Returns false when the handler could not be installed.
    bool installCrashHandler(const QString &dumpFolder);
    bool installed() const { return installed_; }

private:
    CrashDumpHolder() = default;
    bool installed_ = false;
};
