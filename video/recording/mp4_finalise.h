// Turning a fragmented MP4 (written while recording, so that a crash or a full
// disk loses at most the last fragment) into an ordinary MP4 with its index at
// the front, which every player can seek in. Packets are copied, not re-encoded.
#pragma once

#include <QString>

#include <atomic>

class RecordingFile;

// Writes `destination` from the first video stream of `source`. On failure
// `error` says what failed and why, `cause` only why, in the system's words
// ("Read-only file system"), and a partly written destination is removed.
// Setting `abandon` (from any thread) makes a rewrite in progress fail soon.
bool rewriteAsFastStartMp4(const QString &source, const QString &destination, QString *error,
                           const std::atomic<bool> *abandon = nullptr, QString *cause = nullptr);

// Rewrites the recording at `path` in place: into a temporary file beside it,
// then renamed over it, so that `path` is always a playable file. On failure
// (or when abandoned) `path` keeps the fragmented recording. Given the
// `recording`'s file, `path` is replaced only while it still names that file.
bool finaliseRecording(const QString &path, QString *error, const std::atomic<bool> *abandon = nullptr,
                       QString *cause = nullptr, const RecordingFile *recording = nullptr);

// Cuts a fragmented MP4 back to its last complete fragment. A write that
// failed part-way (a full volume) can leave the boxes of the last fragment
// cut short, and a fragment index cut short makes readers refuse the whole
// file. Returns the length kept, or -1 when the file can't be read, holds no
// box at all or can't be cut.
qint64 cutToCompleteFragments(const QString &path);
