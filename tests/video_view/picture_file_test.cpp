// Picture files: the graphics trailer against well-formed, truncated and
// hostile files; size checks before decoding; snapshot names.
#include "picture_file.h"
#include "test_support.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, reinterpret_cast<uchar *>(bytes.data()));
    return bytes;
}

QByteArray withTrailer(const QByteArray &picture, const QByteArray &json)
{
    return picture + bigEndian32(quint32(json.size())) + json + bigEndian32(quint32(json.size()))
        + bigEndian32(quint32(kGraphicsTrailerMagic));
}

GraphicsTrailer trailerOf(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readGraphicsTrailer(buffer);
}

QByteArray smallJpeg()
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

QString writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = testHomeFolder() + "/" + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

}  // namespace

TEST(PictureTrailer, ReadsTheStoredList)
{
    const QByteArray json = R"([{"type":4}])";
    const GraphicsTrailer trailer = trailerOf(withTrailer(smallJpeg(), json));
    EXPECT_EQ(trailer.status, GraphicsTrailer::Found);
    EXPECT_EQ(trailer.json, json);
    // Written the way Qt's QDataStream writes a byte array: the same layout.
    QByteArray streamed = smallJpeg();
    QDataStream stream(&streamed, QIODevice::Append);
    stream << QByteArray("[{}]") << qint32(4) << qint32(kGraphicsTrailerMagic);
    EXPECT_EQ(trailerOf(streamed).json, QByteArray("[{}]"));
}

TEST(PictureTrailer, WrongMagicOrShortListMeansNoTrailer)
{
    QByteArray bytes = withTrailer(smallJpeg(), "[1,2,3,4,5,6,7,8]");
    bytes[bytes.size() - 1] = 0x00;
    EXPECT_EQ(trailerOf(bytes).status, GraphicsTrailer::Absent);
    EXPECT_EQ(trailerOf(withTrailer(smallJpeg(), "[]")).status, GraphicsTrailer::Absent);  // n = 2
    EXPECT_EQ(trailerOf(withTrailer(smallJpeg(), "[1]")).status, GraphicsTrailer::Found);  // n = 3
    EXPECT_EQ(trailerOf(smallJpeg()).status, GraphicsTrailer::Absent);
}

TEST(PictureTrailer, FilesTooShortForATrailer)
{
    for (int size = 0; size < 12; ++size) {
        QByteArray bytes(size, '\0');
        if (size >= 4)
            qToBigEndian(quint32(kGraphicsTrailerMagic), reinterpret_cast<uchar *>(bytes.data()) + size - 4);
        if (size >= 8)
            qToBigEndian(quint32(3), reinterpret_cast<uchar *>(bytes.data()) + size - 8);
        EXPECT_NE(trailerOf(bytes).status, GraphicsTrailer::Found) << size;
    }
}

TEST(PictureTrailer, HostileLengthsAreRejected)
{
    const QByteArray tailMagic = bigEndian32(quint32(kGraphicsTrailerMagic));
    // Length far past the start of the file; 2^31 - 1 would overflow 32-bit arithmetic.
    for (quint32 length : {quint32(100), quint32(0x7fffffff), quint32(kMaxGraphicsListBytes + 1)}) {
        const QByteArray bytes = QByteArray(20, 'x') + bigEndian32(length) + tailMagic;
        EXPECT_EQ(trailerOf(bytes).status, GraphicsTrailer::Rejected) << length;
    }
    // Negative n reads as no trailer.
    EXPECT_EQ(trailerOf(QByteArray(20, 'x') + bigEndian32(0xfffffff0u) + tailMagic).status, GraphicsTrailer::Absent);
    // Leading length differing from the trailing one (including the null-array marker).
    for (quint32 leading : {quint32(4), quint32(2), quint32(0xffffffffu)}) {
        const QByteArray bytes = QByteArray(5, 'x') + bigEndian32(leading) + "[1]" + bigEndian32(3) + tailMagic;
        EXPECT_EQ(trailerOf(bytes).status, GraphicsTrailer::Rejected) << leading;
    }
    // Exactly fitting: the list starts at byte 0 of the file.
    EXPECT_EQ(trailerOf(bigEndian32(3) + "[1]" + bigEndian32(3) + tailMagic).status, GraphicsTrailer::Found);
}

TEST(PictureTrailer, RegressionInputsStaySafe)
{
    const QDir corpus(QStringLiteral(VIDEO_VIEW_DATA "/../../data/picture_trailer"));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString &name : files) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const GraphicsTrailer trailer = readGraphicsTrailer(file);
        if (trailer.status == GraphicsTrailer::Found) {
            EXPECT_LE(trailer.json.size() + 12, file.size()) << name.toStdString();
        }
    }
}

TEST(PictureFileRead, ImageAndGraphicsTogether)
{
    const QString path = writeFile("with_graphics.jpg", withTrailer(smallJpeg(), R"([{"type":12}])"));
    const PictureFile file = readPictureFile(path);
    EXPECT_EQ(file.image.size(), QSize(8, 6));
    EXPECT_TRUE(file.error.isEmpty());
    EXPECT_EQ(file.graphics.status, GraphicsTrailer::Found);
}

TEST(PictureFileRead, UnreadablePictureStillYieldsTheGraphics)
{
    const QString path = writeFile("not_a_picture.jpg", withTrailer("plain text, no picture", "[{}]"));
    const PictureFile file = readPictureFile(path);
    EXPECT_TRUE(file.image.isNull());
    EXPECT_FALSE(file.error.isEmpty());
    EXPECT_EQ(file.graphics.status, GraphicsTrailer::Found);
    EXPECT_FALSE(readPictureFile(testHomeFolder() + "/missing.jpg").error.isEmpty());
}

TEST(PictureFileRead, DeclaredSizeIsCheckedBeforeDecoding)
{
    // A PNG whose header claims 60000 x 60000 pixels (14 GB as 32-bit
    // pixels), followed by no image data at all.
    auto crc32 = [](const QByteArray &data) {
        quint32 crc = 0xffffffffu;
        for (char c : data) {
            crc ^= uchar(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    QByteArray header("IHDR");
    header += bigEndian32(60000) + bigEndian32(60000);
    header += QByteArray("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlace
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + bigEndian32(13) + header + bigEndian32(crc32(header));
    for (const char *empty : {"IDAT", "IEND"})
        png += bigEndian32(0) + empty + bigEndian32(crc32(empty));
    const PictureFile file = readPictureFile(writeFile("huge.png", png));
    EXPECT_TRUE(file.image.isNull());
    EXPECT_TRUE(file.error.contains("60000")) << file.error.toStdString();
}

TEST(PictureFileWrite, CreatesTheFolderAndKeepsOldFilesOnFailure)
{
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QString error;
    const QString path = testHomeFolder() + "/new/folder/pic.png";
    ASSERT_TRUE(writePictureFile(image, path, &error)) << error.toStdString();
    EXPECT_EQ(QImage(path).size(), QSize(10, 10));
    EXPECT_FALSE(writePictureFile(image, testHomeFolder() + "/new/folder/pic.unknownformat", &error));
    EXPECT_FALSE(error.isEmpty());
    // A folder where the file's parent should be: nothing written, error told.
    writeFile("blocker", "x");
    EXPECT_FALSE(writePictureFile(image, testHomeFolder() + "/blocker/pic.png", &error));
    EXPECT_FALSE(writePictureFile(QImage(), path, &error));
    EXPECT_EQ(QImage(path).size(), QSize(10, 10));
}

TEST(CaptureNames, NextFreeNumber)
{
    const QString folder = testHomeFolder() + "/captures";
    QDir().mkpath(folder);
    EXPECT_EQ(nextCaptureFileName(folder), "capture00000.jpg");
    QFile(folder + "/capture00012.jpg").open(QIODevice::WriteOnly);
    QFile(folder + "/capture0003.jpg").open(QIODevice::WriteOnly);  // 15 characters: ignored
    EXPECT_EQ(nextCaptureFileName(folder), "capture00013.jpg");
    QFile(folder + "/capture99999.jpg").open(QIODevice::WriteOnly);
    EXPECT_EQ(nextCaptureFileName(folder), QString());
}
