#include "picture_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

PictureFile readPictureFile(const QString &path)
{
    PictureFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QCoreApplication::translate("VideoWidget", "Cannot open %1: %2").arg(path, file.errorString());
        return result;
    }
    result.graphics = readGraphicsTrailer(file);

    file.seek(0);
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty()) {
        // Without a declared size the decoder could allocate anything.
        result.error = QCoreApplication::translate("VideoWidget", "%1 is no picture that can be shown.").arg(path);
        return result;
    }
    if (declared.width() > kMaxPictureSide || declared.height() > kMaxPictureSide
        || qint64(declared.width()) * declared.height() > kMaxPicturePixels) {
        result.error = QCoreApplication::translate("VideoWidget", "The picture %1 is too large (%2 x %3 pixels).")
                           .arg(path)
                           .arg(declared.width())
                           .arg(declared.height());
        return result;
    }
    if (!reader.read(&result.image) || result.image.isNull()) {
        result.image = QImage();
        result.error =
            QCoreApplication::translate("VideoWidget", "Cannot read the picture %1: %2").arg(path, reader.errorString());
    }
    return result;
}

bool writePictureFile(const QImage &image, const QString &path, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (image.isNull())
        return fail(QCoreApplication::translate("VideoWidget", "There is no picture to save."));
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QCoreApplication::translate("VideoWidget", "Cannot create the folder %1.").arg(info.absolutePath()));
    QByteArray format = info.suffix().toLower().toLatin1();
    if (format == "tif")
        format = "tiff";
    if (format == "jpeg")
        format = "jpg";
    if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format))
        return fail(QCoreApplication::translate("VideoWidget", "Unknown picture format \"%1\".").arg(info.suffix()));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QCoreApplication::translate("VideoWidget", "Cannot write %1: %2").arg(path, file.errorString()));
    // The file's own error names the cause (no space, no permission): the
    // picture writer only knows that its device failed, and committing
    // forgets the text of an error it met while flushing.
    const auto cannotWrite = [&](const QString &fallback) {
        const QString cause = file.error() != QFileDevice::NoError ? file.errorString() : fallback;
        file.cancelWriting();
        return fail(QCoreApplication::translate("VideoWidget", "Cannot write %1: %2").arg(path, cause));
    };
    QImageWriter writer(&file, format);
    writer.setQuality(100);
    if (!writer.write(image) || file.error() != QFileDevice::NoError)
        return cannotWrite(writer.errorString());
    if (!file.flush())
        return cannotWrite(file.errorString());
    if (!file.commit())
        return fail(QCoreApplication::translate("VideoWidget", "Cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

QString nextCaptureFileName(const QString &folder)
{
    const QStringList names = QDir(folder).entryList(QStringList() << QStringLiteral("*.jpg"), QDir::Files);
    qint64 next = 0;
    for (const QString &name : names) {
        if (name.size() != 16)
            continue;
        bool ok = false;
        const int number = name.mid(7, 5).toInt(&ok);
        next = std::max(next, qint64(ok ? number : 0) + 1);
    }
    if (next > 99999)
        return QString();
    return QStringLiteral("capture%1.jpg").arg(next, 5, 10, QLatin1Char('0'));
}
