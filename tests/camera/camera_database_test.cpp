// The camera table in a real SQLite file: creation, default rows, stored
// settings, and files that are damaged or cannot be written.
#include "camera_test_support.h"
#include "private_volume.h"
#include "settings_store.h"
#include "test_support.h"
#include "unprivileged_run.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSqlRecord>
#include <QThread>

#include <memory>
#include <unistd.h>

namespace {

QStringList tableColumns()
{
    QSqlQuery query(QSqlDatabase::database());
    QStringList names;
    if (query.exec("PRAGMA table_info(camera)"))
        while (query.next())
            names << query.value(1).toString();
    return names;
}

int rowCount()
{
    const auto result = CameraDatabase::instance().exec("SELECT COUNT(*) FROM camera");
    auto query = result.query;
    return result.ok && query.next() ? query.value(0).toInt() : -1;
}

CameraRow sampleRow()
{
    CameraRow row;
    row.resolution = "1920x1080";
    row.pictureResolution = "1920x1080";
    return row;
}

// Another program's transaction on the file, on a connection of its own,
// held while this lives: EXCLUSIVE keeps readers out, IMMEDIATE writers only.
class OtherProgramsLock
{
public:
    OtherProgramsLock(const QString &path, const char *mode)
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", kConnection);
        other.setDatabaseName(path);
        taken_ = other.open() && QSqlQuery(other).exec(QString("BEGIN %1").arg(mode));
    }
    ~OtherProgramsLock()
    {
        {
            QSqlDatabase other = QSqlDatabase::database(kConnection, false);
            QSqlQuery(other).exec("ROLLBACK");
            other.close();
        }
        QSqlDatabase::removeDatabase(kConnection);
    }
    bool taken() const { return taken_; }

private:
    static constexpr const char *kConnection = "other-program";
    bool taken_ = false;
};

// The fps of the row of `key` as another program reads it: the program's
// own reads would store what it keeps first.
int fpsInFile(const QString &path, const QString &key)
{
    int fps = -1;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "reader");
        other.setDatabaseName(path);
        QSqlQuery query(other);
        if (other.open() && query.prepare("SELECT fps FROM camera WHERE pid = ?")) {
            query.addBindValue(key);
            if (query.exec() && query.next())
                fps = query.value(0).toInt();
        }
        query.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase("reader");
    return fps;
}

// The intervals the background retry of kept camera settings scheduled
// after each failed try, as it logs them.
QList<int> retryIntervals(const LogCatcher &log)
{
    static const QRegularExpression line("^Kept camera settings not stored yet; next try in (\\d+) ms$");
    QList<int> intervals;
    for (const QString &text : log.lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            intervals << match.captured(1).toInt();
    }
    return intervals;
}

} // namespace

TEST(CameraDatabaseKey, UsbPathsLoseTheirVaryingTail)
{
    EXPECT_EQ(CameraDatabase::lookupKey("\\\\?\\usb#vid_0bda&pid_e150&mi_00#6&2c9e6b8b&0&0000#{e5323777}\\global"),
              "usb#vid_0bda&pid_e150&mi_00#6&2c9e6b8b&0&0000#{e5323777}");
    EXPECT_EQ(CameraDatabase::lookupKey("virtual:usb-vorenta-virtual&vid_1d6b&pid_e530#000000"),
              "usb-vorenta-virtual&vid_1d6b&pid_e530");
    // No "usb": the whole path less its last 7 characters.
    EXPECT_EQ(CameraDatabase::lookupKey("/dev/v4l/by-id/camera-e150-index0"), "/dev/v4l/by-id/camera-e150");
    // Network cameras: the whole name.
    EXPECT_EQ(CameraDatabase::lookupKey("E530_IPC"), "E530_IPC");
    EXPECT_EQ(CameraDatabase::lookupKey("1234567"), "");
    EXPECT_EQ(CameraDatabase::lookupKey(""), "");
    // "usb" only inside the varying tail leaves nothing.
    EXPECT_EQ(CameraDatabase::lookupKey("abc#usb0000"), "");
}

TEST_F(DatabaseTest, NewFileGetsTheCameraTable)
{
    EXPECT_TRUE(QFile::exists(path));
    QStringList expected = {"id"};
    expected << CameraDatabase::columns();
    EXPECT_EQ(tableColumns(), expected);
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(DatabaseTest, FolderIsCreatedWhenMissing)
{
    const QString nested = folder.path() + "/a/b/setting.db";
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(nested), CameraDatabase::OpenResult::Opened);
    EXPECT_TRUE(QFile::exists(nested));
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(DatabaseTest, ExistingFileWithoutTableGetsOne)
{
    const QString other = folder.path() + "/empty.db";
    CameraDatabase::instance().testOpen(other);
    ASSERT_TRUE(QFile::exists(other));
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(other), CameraDatabase::OpenResult::Opened);
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(DatabaseTest, ExistingRowsSurviveAReopen)
{
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-key-one", sampleRow()));
    CameraDatabase::instance().close();
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(path), CameraDatabase::OpenResult::Opened);
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-key-one", row));
    EXPECT_EQ(row.pid, "usb-key-one");
    EXPECT_EQ(row.resolution, "1920x1080");
    EXPECT_EQ(rowCount(), 1);
}

// Damage SQLite finds at the first statement, and damage that only a check of
// every page finds, are told apart from a sound file; the file stays as it is.
TEST_F(DatabaseTest, CorruptFileIsReportedAndLeftAlone)
{
    CameraDatabase::instance().close();
    const QString broken = folder.path() + "/broken.db";
    QByteArray garbage;
    for (int i = 0; i < 200; ++i)
        garbage += "this is not an SQLite database ";
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    LogCatcher log;
    EXPECT_EQ(CameraDatabase::instance().openOrCreate(broken), CameraDatabase::OpenResult::Damaged);
    EXPECT_FALSE(CameraDatabase::instance().isOpen());
    EXPECT_TRUE(log.contains("not used"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
    // Statements on the closed database fail without touching anything.
    EXPECT_FALSE(CameraDatabase::instance().exec("SELECT 1").ok);
    CameraRow row;
    EXPECT_FALSE(CameraDatabase::instance().findRow("usb-x", row));
    EXPECT_FALSE(CameraDatabase::instance().saveCameraProperty("usb-camera-path-0000000", "fps", 30));

    // A file that reads and writes as usual but whose free pages were lost:
    // only reading every page tells, and what it answers is not "ok".
    const QString lost = folder.path() + "/lost.db";
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(lost), CameraDatabase::OpenResult::Opened);
    CameraRow wide = sampleRow();
    wide.resolution = QString(1000, 'x');
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(CameraDatabase::instance().insertRow(QString("usb-cam-%1").arg(i), wide));
    ASSERT_TRUE(CameraDatabase::instance().exec("DELETE FROM camera WHERE pid <> 'usb-cam-0'").ok);
    CameraDatabase::instance().close();
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(lost), CameraDatabase::OpenResult::Opened);
    CameraDatabase::instance().close();
    QByteArray pages;
    {
        QFile file(lost);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        pages = file.readAll();
        ASSERT_GT(pages.size(), 32 * 1024);
        // The header's first free page and count of free pages.
        pages.replace(32, 8, QByteArray(8, '\0'));
        ASSERT_TRUE(file.seek(0));
        ASSERT_EQ(file.write(pages), pages.size());
    }
    QString reason;
    EXPECT_EQ(CameraDatabase::instance().openOrCreate(lost, &reason), CameraDatabase::OpenResult::Damaged);
    EXPECT_TRUE(reason.contains("never used")) << reason.toStdString();
    EXPECT_FALSE(CameraDatabase::instance().isOpen());
    QFile kept(lost);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), pages);
}

TEST_F(DatabaseTest, ReadOnlyFileIsReadButNeverWritten)
{
    // Root writes a read-only file all the same: as root, the case runs again
    // as a user without root rights, in a temporary folder of that user's.
    if (geteuid() == 0) {
        QTemporaryDir userTemp(QDir::tempPath() + "/vorenta-read-only-XXXXXX");
        ASSERT_TRUE(userTemp.isValid() && giveToUnprivilegedUser(userTemp.path()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", userTemp.path());
        QString output;
        EXPECT_EQ(runAsUnprivilegedUser("DatabaseTest.ReadOnlyFileIsReadButNeverWritten", environment, &output), 0)
            << output.toStdString();
        return;
    }
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-read-only", sampleRow()));
    CameraDatabase::instance().close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    ASSERT_EQ(CameraDatabase::instance().openOrCreate(path), CameraDatabase::OpenResult::Opened);
    CameraRow row;
    EXPECT_TRUE(CameraDatabase::instance().findRow("usb-read-only", row));
    EXPECT_FALSE(CameraDatabase::instance().saveCameraProperty("usb-read-only1234567", "fps", 15));
    EXPECT_FALSE(CameraDatabase::instance().insertRow("usb-other", sampleRow()));
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-read-only", row));
    EXPECT_EQ(row.fps, 30);
    CameraDatabase::instance().close();
}

// A changed camera setting that does not fit on the disk is told once, with
// SQLite's reason; the row keeps what it held; once a change went through,
// the next failure is told again.
TEST_F(DatabaseTest, ChangesThatDoNotFitAreToldOnceWithTheCause)
{
    const QString volume = privateVolume();
    if (volume.isEmpty()) {
        runOnPrivateVolume("DatabaseTest.ChangesThatDoNotFitAreToldOnceWithTheCause", "512k", folder.path());
        return;
    }
    CameraDatabase &database = CameraDatabase::instance();
    database.close();
    path = volume + "/setting.db";
    ASSERT_EQ(database.openOrCreate(path), CameraDatabase::OpenResult::Opened);
    ASSERT_TRUE(database.insertRow("usb-cam", sampleRow()));
    QStringList told;
    SettingsStore::instance().setWriteFailureHandler(
        [&](const SettingsWriteFailure &failure) { told << failure.path + ": " + failure.cause; });
    const QString name = "usb-cam#000001";

    ASSERT_TRUE(fillVolume(volume));
    EXPECT_FALSE(database.saveCameraProperty(name, "fps", 15));
    EXPECT_FALSE(database.saveCameraProperty(name, "fps", 10));
    CameraRow changed = sampleRow();
    changed.fps = 20;
    EXPECT_FALSE(database.replaceRow("usb-cam", changed));
    ASSERT_EQ(told.size(), 1) << told.join('\n').toStdString();
    EXPECT_EQ(told.at(0), path + ": database or disk is full");
    ASSERT_TRUE(database.findRow("usb-cam", changed));
    EXPECT_EQ(changed.fps, 30);

    ASSERT_TRUE(QFile::remove(volume + "/filler"));
    EXPECT_TRUE(database.saveCameraProperty(name, "fps", 15));
    ASSERT_TRUE(fillVolume(volume));
    EXPECT_FALSE(database.saveCameraProperty(name, "fps", 10));
    EXPECT_EQ(told.size(), 2) << told.join('\n').toStdString();
    SettingsStore::instance().setWriteFailureHandler({});
}

// Another program holding the file: a change fails after the short wait for
// its lock, with SQLite's reason (the row is there), told once however many
// changes meet it; the changes right after it fail without waiting again,
// one after a quiet moment waits again. The row keeps what it held; the next
// change that goes through, or the next read of the row, stores the failed
// ones with it, and ends the cause, so that the next one met, by any write,
// is told again.
TEST_F(DatabaseTest, ChangesWhileAnotherProgramHoldsTheFileAreToldOnceWithTheCause)
{
    CameraDatabase &database = CameraDatabase::instance();
    ASSERT_TRUE(database.insertRow("usb-cam", sampleRow()));
    QStringList told;
    SettingsStore::instance().setWriteFailureHandler(
        [&](const SettingsWriteFailure &failure) { told << failure.path + ": " + failure.cause; });
    const QString name = "usb-cam#000001";
    const QString locked = path + ": database is locked";
    const char *const reset[] = {"hueValue", "saturationValue", "contrastValue", "sharpnessValue", "HDRValue", "flip",
                                 "mirror",   "frameMode",       "defogMode",     "whiteBalanceR",  "whiteBalanceG"};
    CameraRow changed = sampleRow();
    changed.fps = 20;
    {
        OtherProgramsLock lock(path, "EXCLUSIVE");
        ASSERT_TRUE(lock.taken());
        LogCatcher log;
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(database.saveCameraProperty(name, "fps", 10));
        const qint64 waited = clock.elapsed();
        EXPECT_GE(waited, CameraDatabase::kBusyTimeoutMs);
        EXPECT_LT(waited, 2000);  // the driver's own wait is 5 s
        EXPECT_FALSE(log.contains("Can not find the entry"));
        clock.restart();
        for (const char *column : reset)
            EXPECT_FALSE(database.saveCameraProperty(name, column, 1));
        EXPECT_LT(clock.elapsed(), 4 * CameraDatabase::kBusyTimeoutMs);  // one wait each was 11
        EXPECT_EQ(told, QStringList({locked}));
        // The quiet moment itself is what is waited for here.
        QElapsedTimer quiet;
        quiet.start();
        while (!quiet.hasExpired(CameraDatabase::kLockBurstMs))
            QThread::msleep(20);
        clock.restart();
        EXPECT_FALSE(database.saveCameraProperty(name, "whiteBalanceB", 1));
        EXPECT_GE(clock.elapsed(), CameraDatabase::kBusyTimeoutMs);
    }
    EXPECT_TRUE(database.saveCameraProperty(name, "Zoom", 1));
    CameraRow row;
    ASSERT_TRUE(database.findRow("usb-cam", row));
    EXPECT_EQ(row.fps, 10);
    for (const char *column : reset)
        EXPECT_EQ(row.values().at(CameraDatabase::columns().indexOf(column)).toInt(), 1) << column;
    EXPECT_EQ(row.whiteBalanceB, 1);
    EXPECT_TRUE(database.saveCameraProperty(name, "fps", 15));
    {
        OtherProgramsLock lock(path, "EXCLUSIVE");
        ASSERT_TRUE(lock.taken());
        EXPECT_FALSE(database.replaceRow("usb-cam", changed));
        EXPECT_EQ(told, QStringList({locked, locked}));
    }
    EXPECT_TRUE(database.saveCameraProperty(name, "fps", 15));
    {
        // Read but not written: a new camera's row can't be inserted.
        OtherProgramsLock lock(path, "IMMEDIATE");
        ASSERT_TRUE(lock.taken());
        EXPECT_FALSE(database.replaceRow("usb-new", changed));
        EXPECT_EQ(told, QStringList({locked, locked, locked}));
        EXPECT_FALSE(database.saveCameraProperty(name, "fps", 10));
        EXPECT_EQ(told.size(), 3);
    }
    // Read again (the camera opened again) before a retry: what was kept is
    // stored first.
    ASSERT_TRUE(database.findRow("usb-cam", row));
    EXPECT_EQ(row.fps, 10);
    EXPECT_TRUE(database.saveCameraProperty(name, "hueValue", 2));
    ASSERT_TRUE(database.findRow("usb-cam", row));
    EXPECT_EQ(row.fps, 10);
    EXPECT_EQ(row.flip, changed.flip);  // the whole row that met the second lock
    EXPECT_TRUE(database.findRow("usb-new", row));  // and the new camera's row
    {
        // Still held as the program closes.
        OtherProgramsLock lock(path, "EXCLUSIVE");
        ASSERT_TRUE(lock.taken());
        EXPECT_FALSE(database.saveCameraProperty(name, "sharpnessValue", 3));
        LogCatcher log;
        database.storeKeptAtExit();
        EXPECT_TRUE(log.contains("Camera settings lost: sharpnessValue of camera usb-cam could not be stored in "
                                 + path + " (database is locked)"))
            << log.lines.join('\n').toStdString();
    }
    SettingsStore::instance().setWriteFailureHandler({});
}

// Under a lock held for 10 s and more the retries come at most kRetryMaxMs
// apart: what was kept is stored by the first retry after the lock ends, at
// most that long after it. Judged by the intervals the retry schedules and
// by the count of retries, which a busy machine does not change.
TEST_F(DatabaseTest, KeptChangesAreTriedAtMostFourSecondsApartUnderALongLock)
{
    CameraDatabase &database = CameraDatabase::instance();
    ASSERT_TRUE(database.insertRow("usb-cam", sampleRow()));
    LogCatcher log;
    int triesUnderLock = 0;
    {
        OtherProgramsLock lock(path, "EXCLUSIVE");
        ASSERT_TRUE(lock.taken());
        EXPECT_FALSE(database.saveCameraProperty("usb-cam#000001", "fps", 37));
        QElapsedTimer held;
        held.start();
        // 1 + 2 + 4 + 4 s: four tries reach the longest interval.
        ASSERT_TRUE(waitFor([&] { return held.hasExpired(10000) && retryIntervals(log).size() >= 4; }, 60000))
            << log.lines.join('\n').toStdString();
        triesUnderLock = retryIntervals(log).size();
    }
    EXPECT_TRUE(waitFor([&] { return fpsInFile(path, "usb-cam") == 37; }, 60000));
    const QList<int> intervals = retryIntervals(log);
    EXPECT_EQ(intervals.size(), triesUnderLock);
    for (int interval : intervals)
        EXPECT_LE(interval, CameraDatabase::kRetryMaxMs);
    EXPECT_EQ(intervals.value(triesUnderLock - 1), CameraDatabase::kRetryMaxMs);
}

// The store at close waits once for another program's lock: one released
// 100 ms after the close began still lets the kept values in.
TEST_F(DatabaseTest, StoreAtCloseWaitsOnceForAShortLock)
{
    CameraDatabase &database = CameraDatabase::instance();
    ASSERT_TRUE(database.insertRow("usb-cam", sampleRow()));
    QSemaphore taken, closing;
    bool lockTaken = false;
    std::unique_ptr<QThread> otherProgram(QThread::create([&] {
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other-program-thread");
            other.setDatabaseName(path);
            lockTaken = other.open() && QSqlQuery(other).exec("BEGIN EXCLUSIVE");
            taken.release();
            closing.acquire();
            QThread::msleep(100);
            QSqlQuery(other).exec("ROLLBACK");
            other.close();
        }
        QSqlDatabase::removeDatabase("other-program-thread");
    }));
    otherProgram->start();
    taken.acquire();
    EXPECT_TRUE(lockTaken);
    EXPECT_FALSE(database.saveCameraProperty("usb-cam#000001", "fps", 37));
    LogCatcher log;
    closing.release();
    database.storeKeptAtExit();
    otherProgram->wait();
    EXPECT_EQ(fpsInFile(path, "usb-cam"), 37);
    EXPECT_FALSE(log.contains("Camera settings lost")) << log.lines.join('\n').toStdString();
}

TEST_F(DatabaseTest, SavedValuesAreBoundNotPasted)
{
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-cam", sampleRow()));
    const QString name = "usb-cam" + QString("#000001");
    const QString hostile = "1x1'); DROP TABLE camera; --";
    EXPECT_TRUE(CameraDatabase::instance().saveCameraProperty(name, "resolution", hostile));
    EXPECT_TRUE(CameraDatabase::instance().saveCameraProperty(name, "fps", 15));
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-cam", row));
    EXPECT_EQ(row.resolution, hostile);
    EXPECT_EQ(row.fps, 15);
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(DatabaseTest, OnlyTableColumnsCanBeWritten)
{
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-cam", sampleRow()));
    const QString name = "usb-cam#000001";
    for (const char *column : {"fps = 1, pid", "fps; DROP TABLE camera", "id", "pid", "", "FPS"})
        EXPECT_FALSE(CameraDatabase::instance().saveCameraProperty(name, column, 1)) << column;
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-cam", row));
    EXPECT_EQ(row.fps, 30);
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(DatabaseTest, KeysMatchExactlyNotBySubstring)
{
    CameraRow longer = sampleRow();
    longer.fps = 10;
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-port1-pid_e150-serialAB", longer));
    // A camera whose key is contained in another camera's key has no row yet.
    CameraRow row;
    EXPECT_FALSE(CameraDatabase::instance().findRow("usb-port1-pid_e150", row));
    LogCatcher log;
    EXPECT_FALSE(CameraDatabase::instance().saveCameraProperty("usb-port1-pid_e150#000000", "fps", 60));
    EXPECT_TRUE(log.contains("saveCameraProperty error. Can not find the entry for cur camera usb-port1-pid_e150"));
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-port1-pid_e150-serialAB", row));
    EXPECT_EQ(row.fps, 10);
    // Wildcards in a key are plain characters.
    EXPECT_FALSE(CameraDatabase::instance().findRow("usb-port1*", row));
    EXPECT_FALSE(CameraDatabase::instance().findRow("", row));
    EXPECT_FALSE(CameraDatabase::instance().insertRow("", sampleRow()));
}

TEST_F(DatabaseTest, RowsWithTextWhereNumbersBelongAreRefused)
{
    ASSERT_TRUE(CameraDatabase::instance().insertRow("usb-odd", sampleRow()));
    // Saving can't spoil the row: a number column takes only whole numbers.
    EXPECT_FALSE(CameraDatabase::instance().saveCameraProperty("usb-odd#000000", "fps", "fast"));
    EXPECT_TRUE(CameraDatabase::instance().saveCameraProperty("usb-odd#000000", "fps", "25"));
    EXPECT_TRUE(CameraDatabase::instance().saveCameraProperty("usb-odd#000000", "resolution", "1280x720"));
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow("usb-odd", row));
    EXPECT_EQ(row.fps, 25);

    // A row spoilt by someone else is refused as unreadable, not as missing.
    ASSERT_TRUE(CameraDatabase::instance().exec("UPDATE camera SET fps = 'fast' WHERE pid = 'usb-odd'").ok);
    EXPECT_FALSE(CameraDatabase::instance().findRow("usb-odd", row));
    EXPECT_EQ(CameraDatabase::instance().lookupRow("usb-odd", row), CameraDatabase::Lookup::Damaged);
    EXPECT_EQ(CameraDatabase::instance().lookupRow("usb-none", row), CameraDatabase::Lookup::Missing);
}
