// Shared by the recorder tests and their child process: synthetic camera
// frames and reading a recording back with libavformat.
#pragma once

#include "video_frame.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// A frame with a gradient and a square that moves with `index`, and `index`
// (0 to 4095) written as a row of black and white blocks along the top of
// frames at least 224 pixels wide; `noise` fills it with random bytes
// instead, which compress badly.
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
    QVector<int> frames;  // the syntheticFrame index of each decoded frame in order, -1 where none is written
    double durationSeconds = 0.0;  // of the video stream, from its packets
    double lastPacketSeconds = 0.0;  // where the last packet starts, from the first
    double containerDurationSeconds = 0.0;  // as the file states it (what players show)
    double longestGapSeconds = 0.0;  // between the starts of two frames that follow each other
    QStringList topLevelBoxes;     // "ftyp", "moov", "mdat", "moof" ... in file order
    QStringList errors;            // what libavformat and the decoder logged as errors while reading
};

struct Mp4Box {
    QString type;
    qint64 offset = 0;
    qint64 size = 0;  // may reach past the end of a cut file
};
// The top-level boxes of an MP4 file in file order.
QList<Mp4Box> mp4Boxes(const QString &path);

// Reads every packet and decodes every frame it can.
RecordingInfo readRecording(const QString &path);
// Frames in the complete fragments of a recording still being written.
int completeFramesIn(const QString &path);
