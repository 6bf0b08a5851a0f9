#include "photo_naming.h"

#include "settings_store.h"

#include <QDir>
#include <QFileInfo>

QString snapshotExtension(const QVariant &format)
{
    bool ok = false;
    const int value = format.toInt(&ok);
    return imgFormatExtension(ok ? static_cast<ImgFormat>(value) : ImgFormat::Jpg);
}

QString automaticSnapshotPath(const QMap<int, QVariant> &settings, const QDateTime &now)
{
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
    const int flags = settings.value(SaveType, 1).toInt();
    QString name;
    if (flags != 0) {
        // The prefix is part of a name: a separator in it would put the
        // picture into another folder.
        QString prefix = settings.value(PrefixData).toString();
        prefix.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
        if (!prefix.isEmpty())
            name = prefix + QLatin1Char('_');
        if (flags & 1)
            name += stamp;
    }
    if (name.isEmpty())
        name = stamp;
    return settings.value(QuickSavePath).toString() + QLatin1Char('/') + name + snapshotExtension(settings.value(PhotoFormat));
}

bool prepareSnapshotFolder(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}
