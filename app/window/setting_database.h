// Opening the per-camera settings database "setting.db" at start-up, with
// what went wrong when it can't be used as it is.
#pragma once

#include <QString>

struct SettingDatabaseStatus {
    enum State {
        Ready,       // opened, the camera table is there
        Created,     // a new file with the camera table
        Replaced,    // a damaged file or one of another shape was moved aside; a new one was created
        ReadOnly,    // opened for reading: camera settings are not kept
        Unusable,    // there but cannot be used, and stays as it is: closed, settings are not kept
        NotCreated,  // no file, and none can be created: closed, settings are not kept
    };
    State state = NotCreated;
    QString detail;   // what the user is told; empty when Ready or Created
    QString movedTo;  // Replaced: where the old file went
};

// Opens `path` in the camera database, creating the file and its table when
// it is missing. A file that SQLite finds damaged or that is no database,
// and one whose camera table has other columns, is renamed to
// "setting-unused-<date>-<time>.db" beside it (with its journal files) and a
// new file takes its place: no byte of it is lost, and the program keeps
// settings again. Where it cannot be moved, or opening failed for another
// reason (locked, no permission), it is left as it is and not used.
SettingDatabaseStatus openSettingDatabase(const QString &path);
