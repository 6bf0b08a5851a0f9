// The file name of a snapshot taken with automatic naming, built from the
// photo settings as the photo settings window stores them (DrawProperty ids
// 9 folder, 32 naming flags, 33 prefix, 35 format).
#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QVariant>

// ".jpg", ".bmp" or ".tiff" for a stored PhotoFormat; ".jpg" for anything else.
QString snapshotExtension(const QVariant &format);

// folder + "/" + name + extension. With naming flags other than 0 the name is
// the prefix (path separators made "_") and "_" (when there is a prefix) followed by the time stamp
// "yyyyMMdd_hhmmss_zzz" (flag 1). A name that would be empty otherwise (scan
// code naming, which no camera delivers yet, or no part chosen) is the time
// stamp, so snapshots never land in one hidden ".jpg".
QString automaticSnapshotPath(const QMap<int, QVariant> &settings, const QDateTime &now);

// Creates the folder of `path` when it is missing; false when it cannot.
bool prepareSnapshotFolder(const QString &path);
