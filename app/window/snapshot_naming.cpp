#include "snapshot_naming.h"

QString snapshotTimeStamp(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
}

QString timeStampedPath(const QString &folder, const QDateTime &time, const QString &extension)
{
    return folder + QLatin1Char('/') + snapshotTimeStamp(time) + extension;
}

QString withExtension(const QString &path, const QString &extension)
{
    if (path.endsWith(extension, Qt::CaseInsensitive))
        return path;
    return path + extension;
}

QString openedPictureSavePath(const QString &folder, const QString &tabText)
{
    QString name = tabText;
    if (name.endsWith(QLatin1Char('*')))
        name.chop(1);
    // A tab text is a file name; anything that would lead elsewhere is cut.
    name = name.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    return folder + QLatin1Char('/') + name;
}

SplitPath splitChosenPath(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {QString(), path};
    return {path.left(slash + 1), path.mid(slash + 1)};
}
