// Picture files of the still views: reading a picture (and the graphics list
// stored behind it), writing one without ever leaving a half-written file,
// and the names of pictures saved without a chosen name.
#pragma once

#include "picture_trailer.h"

#include <QImage>
#include <QString>

// Decoded pictures are held as 32-bit pixels; a file that claims more than
// this would take gigabytes before a single pixel is shown.
constexpr qint64 kMaxPicturePixels = 150'000'000;  // e.g. a 4 x 4 stitch of 4K frames
constexpr int kMaxPictureSide = 65535;

struct PictureFile
{
    QImage image;             // null when the picture cannot be shown
    GraphicsTrailer graphics;
    QString error;            // why the image is null; empty when it is not
};

// Reads a picture file: the image (format detected from the content) after
// checking the size its header declares, and the graphics trailer, which is
// read even when the image is not.
PictureFile readPictureFile(const QString &path);

// Saves `image` to `path` with the format of the file suffix and quality 100.
// The folder is created when missing; the file is written beside and moved
// into place, so a failed save leaves an existing file as it was.
bool writePictureFile(const QImage &image, const QString &path, QString *error);

// Next free snapshot name in `folder`: "capture" + five digits + ".jpg", one
// above the highest number among the folder's 16-character "*.jpg" names
// (characters 7 to 11 read as a number, 0 when they are none);
// "capture00000.jpg" for a folder without such names. Empty once the number
// would need more than five digits.
QString nextCaptureFileName(const QString &folder);
