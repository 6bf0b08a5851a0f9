// Fuzz target: the graphics trailer reader on arbitrary file contents.
#include "picture_trailer.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    const GraphicsTrailer trailer = readGraphicsTrailer(device);
    if (trailer.status == GraphicsTrailer::Found && (trailer.json.size() <= 2 || trailer.json.size() > kMaxGraphicsListBytes
                                                     || trailer.json.size() + 12 > bytes.size()))
        __builtin_trap();
    return 0;
}
