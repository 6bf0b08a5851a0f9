// Turning a fragmented MP4 (written while recording, so that a crash or a full
// disk loses at most the last fragment) into an ordinary MP4 with its index at
// the front, which every player can seek in. Packets are copied, not re-encoded.
#pragma once

#include <QString>

// Writes `destination` from the first video stream of `source`. On failure
// `error` says why and a partly written destination is removed.
bool rewriteAsFastStartMp4(const QString &source, const QString &destination, QString *error);

// Rewrites the recording at `path` in place: into a temporary file beside it,
// then renamed over it, so that `path` is always a playable file. On failure
// `path` keeps the fragmented recording.
bool finaliseRecording(const QString &path, QString *error);
