#include "setting_database.h"

#include "camera_database.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The main window shows these texts: they are its own.
const char *const kDamaged =
    QT_TRANSLATE_NOOP("MainWindow2", "%1 is damaged or is not a camera settings database (%2).");
const char *const kOtherTable =
    QT_TRANSLATE_NOOP("MainWindow2", "The camera table of %1 has other columns than this program uses.");
const char *const kMoved = QT_TRANSLATE_NOOP(
    "MainWindow2", "It was moved to %1 and a new one was created: each camera starts with its model's defaults.");
const char *const kNotMoved =
    QT_TRANSLATE_NOOP("MainWindow2", "It could not be moved aside (%1) and stays as it is: camera settings are not "
                                     "kept in this session, and each camera uses its model's defaults.");
const char *const kMovedOnly = QT_TRANSLATE_NOOP("MainWindow2", "It was moved to %1.");
const char *const kUnreadable =
    QT_TRANSLATE_NOOP("MainWindow2", "%1 cannot be read (%2) and stays as it is: camera settings are not kept in "
                                     "this session, and each camera uses its model's defaults.");
const char *const kNotCreated = QT_TRANSLATE_NOOP("MainWindow2", "%1 cannot be created.");
const char *const kReadOnly = QT_TRANSLATE_NOOP("MainWindow2", "%1 is read-only: camera settings will not be kept.");

QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow2", source);
}

// Renames the file and the journal files SQLite keeps beside it (a journal
// left behind would be played into the new file). The empty text when the
// file itself could not be renamed; `error` then says why.
QString moveAside(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const QString stem = info.absolutePath() + QStringLiteral("/") + info.completeBaseName()
                         + QStringLiteral("-unused-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    QString target = stem + suffix;
    for (int n = 2; QFileInfo::exists(target) && n < 1000; ++n)
        target = stem + QStringLiteral("-%1").arg(n) + suffix;
    QFile file(path);
    if (QFileInfo::exists(target) || !file.rename(target)) {
        *error = file.errorString();
        return QString();
    }
    for (const char *journal : {"-journal", "-wal", "-shm"}) {
        const QString companion = path + QLatin1String(journal);
        if (QFileInfo::exists(companion) && !QFile::rename(companion, target + QLatin1String(journal)))
            qWarning().noquote() << "Setting database: could not move" << companion << "aside";
    }
    return target;
}

} // namespace

SettingDatabaseStatus openSettingDatabase(const QString &path)
{
    CameraDatabase &database = CameraDatabase::instance();
    const bool existed = QFileInfo::exists(path);
    SettingDatabaseStatus status;
    QString reason;
    CameraDatabase::OpenResult opened = database.openOrCreate(path, &reason);
    if (opened == CameraDatabase::OpenResult::Damaged || opened == CameraDatabase::OpenResult::OtherTable) {
        const QString what = opened == CameraDatabase::OpenResult::Damaged ? text(kDamaged).arg(path, reason)
                                                                           : text(kOtherTable).arg(path);
        QString error;
        status.movedTo = moveAside(path, &error);
        if (status.movedTo.isEmpty()) {
            status.state = SettingDatabaseStatus::Unusable;
            status.detail = what + QLatin1Char(' ') + text(kNotMoved).arg(error);
            qWarning().noquote() << "Setting database unusable:" << status.detail;
            return status;
        }
        opened = database.openOrCreate(path, &reason);
        if (opened == CameraDatabase::OpenResult::Opened) {
            status.state = SettingDatabaseStatus::Replaced;
            status.detail = what + QLatin1Char(' ') + text(kMoved).arg(status.movedTo);
            qWarning().noquote() << "Setting database replaced:" << status.detail;
            return status;
        }
        status.detail = what + QLatin1Char(' ') + text(kMovedOnly).arg(status.movedTo) + QLatin1Char(' ');
    }
    if (opened != CameraDatabase::OpenResult::Opened) {
        // A file that is there is never created anew over itself.
        const bool leftAlone = existed && status.movedTo.isEmpty();
        status.state = leftAlone ? SettingDatabaseStatus::Unusable : SettingDatabaseStatus::NotCreated;
        status.detail += leftAlone ? text(kUnreadable).arg(path, reason) : text(kNotCreated).arg(path);
        qWarning().noquote() << "Setting database unusable:" << status.detail;
        return status;
    }
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    // SQLite writes a journal beside the file, so the folder must be writable too.
    if (!file.isWritable() || !folder.isWritable()) {
        status.state = SettingDatabaseStatus::ReadOnly;
        status.detail = text(kReadOnly).arg(path);
        qWarning().noquote() << "Setting database:" << status.detail;
        return status;
    }
    status.state = existed ? SettingDatabaseStatus::Ready : SettingDatabaseStatus::Created;
    return status;
}
