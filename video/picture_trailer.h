// The graphics trailer a picture file may carry after its image data:
//   [length L, u32] [L bytes of graphics JSON] [length n, i32] [magic 2095320, i32]
// all big-endian. The program reads such files and never writes them. The
// file comes from outside, so every length is checked against the file in
// 64-bit arithmetic and the list is capped before anything is allocated.
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

constexpr qint32 kGraphicsTrailerMagic = 2095320;  // 0x001FF8D8
// Graphics lists are a few kilobytes per hundred shapes; anything above this
// is no list the program could show.
constexpr qint64 kMaxGraphicsListBytes = 16 * 1024 * 1024;

struct GraphicsTrailer
{
    enum Status {
        Absent,    // no magic, or a list of 2 bytes or less: an ordinary picture
        Found,     // `json` holds the stored list
        Rejected,  // the magic is there but the lengths do not fit the file
    };
    Status status = Absent;
    QByteArray json;
    QString reason;  // why a trailer was rejected, for the log
};

// Reads the trailer of a random-access device that is open for reading; the
// device position afterwards is unspecified.
GraphicsTrailer readGraphicsTrailer(QIODevice &device);
