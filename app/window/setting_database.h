// Opening the per-camera settings database "setting.db" at start-up, with
// what went wrong when it can't be used.
#pragma once

#include <QString>

struct SettingDatabaseStatus {
    enum State {
        Ready,      // opened, the camera table is there
        Created,    // a new file with the camera table
        ReadOnly,   // opened for reading: camera settings are not kept
        Unusable,   // no file, not a database, or a camera table of another shape: closed
    };
    State state = Unusable;
    QString detail;  // why, for the user; empty when Ready or Created
};

// Opens `path` in the camera database, creating the file and its table when
// it is missing. A file that is there but unusable is closed again and never
// written: the program goes on without per-camera storage.
SettingDatabaseStatus openSettingDatabase(const QString &path);
