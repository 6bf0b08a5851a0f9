#include "picture_trailer.h"

#include <QIODevice>
#include <QtEndian>

namespace {

bool readWord(QIODevice &device, qint64 position, quint32 *word)
{
    uchar bytes[4];
    if (!device.seek(position) || device.read(reinterpret_cast<char *>(bytes), 4) != 4)
        return false;
    *word = qFromBigEndian<quint32>(bytes);
    return true;
}

GraphicsTrailer rejected(const QString &reason)
{
    GraphicsTrailer trailer;
    trailer.status = GraphicsTrailer::Rejected;
    trailer.reason = reason;
    return trailer;
}

}  // namespace

GraphicsTrailer readGraphicsTrailer(QIODevice &device)
{
    GraphicsTrailer trailer;
    if (!device.isOpen() || !device.isReadable() || device.isSequential())
        return trailer;
    const qint64 size = device.size();
    // Length word, at least three list bytes, length, magic.
    if (size < 12)
        return trailer;
    quint32 magic = 0;
    quint32 lengthWord = 0;
    if (!readWord(device, size - 4, &magic) || qint32(magic) != kGraphicsTrailerMagic)
        return trailer;
    if (!readWord(device, size - 8, &lengthWord))
        return trailer;
    const qint64 length = qint32(lengthWord);
    if (length <= 2)
        return trailer;
    if (length > kMaxGraphicsListBytes)
        return rejected(QStringLiteral("graphics list of %1 bytes exceeds the limit").arg(length));
    const qint64 start = size - 12 - length;
    if (start < 0)
        return rejected(QStringLiteral("graphics list of %1 bytes does not fit a file of %2 bytes").arg(length).arg(size));
    quint32 leading = 0;
    if (!readWord(device, start, &leading))
        return rejected(QStringLiteral("graphics list length unreadable"));
    if (qint64(leading) != length)
        return rejected(QStringLiteral("graphics list lengths differ (%1 and %2)").arg(qint64(leading)).arg(length));
    QByteArray json = device.read(length);
    if (json.size() != length)
        return rejected(QStringLiteral("graphics list cut short"));
    trailer.status = GraphicsTrailer::Found;
    trailer.json = json;
    return trailer;
}
