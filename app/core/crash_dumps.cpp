#include "crash_dumps.h"

#include "crash_handler.h"

#include <QDebug>
#include <QDir>
#include <QFile>

CrashDumpHolder &CrashDumpHolder::instance()
{
    static CrashDumpHolder holder;
    return holder;
}

bool CrashDumpHolder::installCrashHandler(const QString &dumpFolder)
{
    QDir().mkpath(dumpFolder);
    if (installed_)
        return true;
    const QByteArray folder = QFile::encodeName(QDir(dumpFolder).absolutePath());
    // The handler must not log from inside a crashed process, so the dump of
    // the last crash is announced here, on the next start.
    crash_handler_collect(
        folder.constData(),
        [](const char *path, void *) { qDebug() << "BreakpadQt crash" << QFile::decodeName(path); }, nullptr);
    installed_ = crash_handler_install(folder.constData()) >= 0;
    if (!installed_)
        qWarning() << "Crash handler could not be installed for" << dumpFolder;
    return installed_;
}
