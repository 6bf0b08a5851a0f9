// Shared by the recorder tests and their child process: synthetic camera
// frames and reading a recording back with libavformat.
#pragma once

#include "video_frame.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// A frame with a gradient and a square that moves with `index`; `noise`
// fills it with random bytes instead, which compress badly.
VideoFrame syntheticFrame(int width, int height, int index, bool noise = false);

struct RecordingInfo {
    bool opened = false;
    QString error;
    int streams = 0;
    bool h264 = false;
    int width = 0;
    int height = 0;
    int packets = 0;
    int decodedFrames = 0;
    double durationSeconds = 0.0;  // of the video stream, from its packets
    QStringList topLevelBoxes;     // "ftyp", "moov", "mdat", "moof" ... in file order
};

// Reads every packet and decodes every frame it can.
RecordingInfo readRecording(const QString &path);
