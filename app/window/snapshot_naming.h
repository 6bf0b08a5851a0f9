// File names of snapshots, recordings and saved pictures, as plain functions.
#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QVariant>

// "yyyyMMdd_hhmmss_zzz" of a local time (milliseconds last).
QString snapshotTimeStamp(const QDateTime &time);

// folder + "/" + the time stamp + extension: recordings (".mp4") and the
// shots of a time-lapse series taken with manual naming.
QString timeStampedPath(const QString &folder, const QDateTime &time, const QString &extension);

// A path the user chose in a save dialog, with `extension` added only when
// the name does not end in it already (letter case aside).
QString withExtension(const QString &path, const QString &extension);

// Where a picture that was opened from a file is saved: the snapshot folder
// + "/" + the tab's text without the "*" that marks unsaved changes. Empty
// when no file name is left.
QString openedPictureSavePath(const QString &folder, const QString &tabText);

// A chosen path split at its last "/": the folder with its trailing "/", and
// the file name.
struct SplitPath {
    QString folder;
    QString name;
};
SplitPath splitChosenPath(const QString &path);
