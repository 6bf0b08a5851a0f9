#include "setting_database.h"

#include "camera_database.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

SettingDatabaseStatus openSettingDatabase(const QString &path)
{
    CameraDatabase &database = CameraDatabase::instance();
    const bool existed = QFileInfo::exists(path);
    SettingDatabaseStatus status;
    if (!database.openOrCreate(path)) {
        status.detail = existed ? QCoreApplication::translate("MainWindow2", "%1 is not a settings database or cannot be read.").arg(path)
                                : QCoreApplication::translate("MainWindow2", "%1 cannot be created.").arg(path);
        qWarning().noquote() << "Setting database unusable:" << status.detail;
        return status;
    }
    // Every column the cameras read must be there; a table of another shape
    // would fail each read and write of a camera, so it is not used at all.
    const CameraDatabase::Result probe = database.exec(
        QStringLiteral("SELECT %1 FROM camera LIMIT 0").arg(CameraDatabase::columns().join(QLatin1Char(','))));
    if (!probe.ok) {
        database.close();
        status.detail = QCoreApplication::translate("MainWindow2", "The camera table of %1 has other columns than this program uses.").arg(path);
        qWarning().noquote() << "Setting database unusable:" << status.detail << probe.error.text();
        return status;
    }
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    // SQLite writes a journal beside the file, so the folder must be writable too.
    if (!file.isWritable() || !folder.isWritable()) {
        status.state = SettingDatabaseStatus::ReadOnly;
        status.detail = QCoreApplication::translate("MainWindow2", "%1 is read-only: camera settings will not be kept.").arg(path);
        qWarning().noquote() << "Setting database:" << status.detail;
        return status;
    }
    status.state = existed ? SettingDatabaseStatus::Ready : SettingDatabaseStatus::Created;
    return status;
}
