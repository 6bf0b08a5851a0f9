// The program's start with bad stored files: each leaves a program that
// starts and works with the camera, says what is wrong, and leaves the file
// as it was. Read-only files and folders are tried as a user without root
// rights (root ignores permissions): the test runs itself again as "nobody".
#include "window_test_support.h"

#include "burst_mode_settings.h"
#include "camera_database.h"
#include "camera_factory.h"
#include "control.h"
#include "graphics_items.h"
#include "main_scene.h"
#include "measure_test_support.h"
#include "measure_widget.h"
#include "private_volume.h"
#include "termination_signals.h"
#include "title_bar.h"
#include "private_network.h"
#include "unprivileged_run.h"
#include "usb_models.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kChildCase[] = "VORENTA_STORED_FILES_CASE";

// Every test gets an application-data folder of its own.
class StoredFiles : public WindowTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        previousDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        WindowTest::SetUp();
        folder = appDataFolder();
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        qputenv("XDG_DATA_HOME", previousDataHome);
        SettingsStore::instance().setBaseFolderForTesting(appDataFolder());
    }
    QString file(const char *name) const { return folder + "/" + name; }

    QTemporaryDir home;
    QByteArray previousDataHome;
    QString folder;
};

void makeSqlite(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "stored-files");
        database.setDatabaseName(path);
        ASSERT_TRUE(database.open());
        QSqlQuery query(database);
        for (const QString &statement : statements)
            ASSERT_TRUE(query.exec(statement)) << statement;
        database.close();
    }
    QSqlDatabase::removeDatabase("stored-files");
}

QString rowText(const QVariantList &values)
{
    QStringList texts;
    for (const QVariant &value : values)
        texts << value.toString();
    return texts.join(", ");
}

// The row of `key` as another program reads it from the file: the
// program's own reads would drop what it keeps. The defaults when there is none.
CameraRow rowInFile(const QString &path, const QString &key)
{
    CameraRow row;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "stored-files");
        database.setDatabaseName(path);
        if (database.open()) {
            QSqlQuery query(database);
            query.prepare(QString("SELECT %1 FROM camera WHERE pid = ?").arg(CameraDatabase::columns().join(",")));
            query.addBindValue(key);
            QVariantList values;
            if (query.exec() && query.next())
                for (int i = 0; i < CameraDatabase::columns().size(); ++i)
                    values << query.value(i);
            CameraRow::fromValues(values, row);
        }
        database.close();
    }
    QSqlDatabase::removeDatabase("stored-files");
    return row;
}

// A setting.db at `path` that holds `row` alone.
void makeSettingDatabase(const QString &path, const CameraRow &row)
{
    QStringList values;
    for (const QVariant &value : row.values())
        values << (value.type() == QVariant::String ? "'" + value.toString() + "'" : value.toString());
    makeSqlite(path, {CameraDatabase::createTableSql(), QString("INSERT INTO camera (%1) VALUES (%2)")
                                                            .arg(CameraDatabase::columns().join(","), values.join(","))});
}

} // namespace

TEST_F(StoredFiles, ConfigOfRandomBytes)
{
    writeBytes(file("config.ini"), randomBytes(64 * 1024, 1));
    const QByteArray before = fileHash(file("config.ini"));
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("config.ini"))) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("not a settings file")) << dialogs.all();
    // Choices that are stored go nowhere rather than over the file.
    window->titleBar()->slotMouseWheelFunc(nullptr);
    delete window;
    window = nullptr;
    EXPECT_EQ(fileHash(file("config.ini")), before);
}

TEST_F(StoredFiles, ConfigOfFiftyMegabytes)
{
    QByteArray big = "[draw]\nTextSize=40\n";
    const QByteArray filler = "[filler]\nkey=" + QByteArray(4000, 'x') + "\n";
    big.reserve(50 * 1024 * 1024 + filler.size());
    while (big.size() < 50 * 1024 * 1024)
        big += filler;
    writeBytes(file("config.ini"), big);
    big.clear();
    const QByteArray before = fileHash(file("config.ini"));
    startWindow();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("larger than")) << dialogs.all();
    delete window;
    window = nullptr;
    EXPECT_EQ(fileHash(file("config.ini")), before);
}

TEST_F(StoredFiles, CalibrationAndCrossOfRandomBytes)
{
    writeBytes(file("calibration.ini"), randomBytes(8192, 2));
    writeBytes(file("cross.ini"), randomBytes(8192, 3));
    const QByteArray calibration = fileHash(file("calibration.ini"));
    const QByteArray cross = fileHash(file("cross.ini"));
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("calibration.ini"))) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("cross.ini"))) << dialogs.all();
    // The cross lines are saved once a second after a line's dialog was used.
    window->slotSetDrawMode(DrawType::Cross);
    SettingsStore::instance().saveCrossLines({CrossInfo()});
    delete window;
    window = nullptr;
    EXPECT_EQ(fileHash(file("calibration.ini")), calibration);
    EXPECT_EQ(fileHash(file("cross.ini")), cross);
}

TEST_F(StoredFiles, CalibrationListOfTwoBillionEntries)
{
    writeBytes(file("calibration.ini"), "[calibrate]\n1\\name=ruler\n1\\length=1\n1\\unit=mm\n1\\real=2\n"
                                        "size=2147483647\n");
    const QByteArray before = fileHash(file("calibration.ini"));
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("calibration.ini"))) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("2147483647")) << dialogs.all();
    delete window;
    window = nullptr;
    EXPECT_EQ(fileHash(file("calibration.ini")), before);
}

// A start with no change by the user writes none of the files: not the
// values the panels show, not the defaults, not the chosen calibration's row.
// A calibration without a usable length is named and not measured with.
TEST_F(StoredFiles, AStartWithoutAChangeLeavesEveryFileAsItIs)
{
    // Cut in the middle of a key; spacing and comments Qt would not write.
    writeBytes(file("config.ini"), "; by hand\n[draw]\nFloatNum = 2\nLine_Width = 3\n\n[base]\nOpenedImgPa");
    writeBytes(file("calibration.ini"), "[calibrate]\n1\\name=scratch\n1\\length=nan\n1\\unit=um\n1\\real=2\n"
                                        "2\\name = stage\n2\\length = 1\n2\\unit = mm\n2\\real = 5\nsize=2\n");
    writeBytes(file("cross.ini"), "; lines\n[cross]\nsize = 1\n1\\direct = 2\n");
    const QByteArray config = fileHash(file("config.ini"));
    const QByteArray calibration = fileHash(file("calibration.ini"));
    const QByteArray cross = fileHash(file("cross.ini"));
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("scratch (entry 1)"); })) << dialogs.all();
    EXPECT_EQ(dialogs.count("scratch (entry 1)"), 1) << dialogs.all();
    auto *calibrations = childOf<QComboBox>(window->measurePanel(), "calibrate_comboBox");
    ASSERT_EQ(calibrations->count(), 1);
    EXPECT_EQ(calibrations->currentText(), "stage, 1mm");
    EXPECT_DOUBLE_EQ(window->currentCalibration(), 5.0);
    // What the one-second save of the overlay lines would do now.
    window->onCrossChangedTimeOut();
    delete window;
    window = nullptr;
    EXPECT_EQ(fileHash(file("config.ini")), config);
    EXPECT_EQ(fileHash(file("calibration.ini")), calibration);
    EXPECT_EQ(fileHash(file("cross.ini")), cross);
}

// Values out of range use their defaults; the user is told once which, and
// the file stays as it is until a setting is changed.
TEST_F(StoredFiles, ConfigWithValuesOutOfRange)
{
    writeBytes(file("config.ini"), "[draw]\nLine_Width=-4\nTextSize=1\nDrawCross_Width=1e308\nFloatNum=2\n"
                                   "PrefixData=" + QByteArray(100 * 1024, 'p') + "\nLText_Width=20\nLanguage=5\n"
                                   "[key_bind]\nMouseWheel=7\n");
    const QByteArray before = fileHash(file("config.ini"));
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("out of range"); })) << dialogs.all();
    EXPECT_EQ(dialogs.count("out of range"), 1) << dialogs.all();
    for (const char *key : {"Line_Width", "TextSize", "DrawCross_Width", "PrefixData", "Language", "MouseWheel"})
        EXPECT_TRUE(dialogs.saw(key)) << key;
    // The title bar's menu shows the language and wheel function in use.
    QStringList checked;
    for (QAction *action : window->titleBar()->findChildren<QAction *>())
        if (action->isChecked())
            checked << action->text();
    checked.sort();
    EXPECT_EQ(checked, QStringList({"English", "Zoom video window"}));
    EXPECT_FALSE(dialogs.saw("LText_Width")) << dialogs.all();
    // A cut "TextSize=13": labels are drawn at the size the panel shows.
    EXPECT_EQ(childOf<QComboBox>(window->measurePanel(), "fontSize_comboBox")->currentText(), "13");
    EXPECT_EQ(window->liveView()->measureScene()->propertyMap().value(TextSize).toInt(), 13);
    EXPECT_EQ(fileHash(file("config.ini")), before);

    childOf<QSpinBox>(window->measurePanel(), "floatNum_spbox")->setValue(3);
    QVariant decimals;
    EXPECT_TRUE(SettingsStore::instance().drawValue(FloatNum, decimals));
    EXPECT_EQ(decimals.toInt(), 3);
}

// ---------------------------------------------------------------- a full disk

// Every file stays whole; what the user changes stays in use and is told
// once with the cause, as is a camera's default row that could not be added
// and a calibration. A moved cross line is stored once there is room, and
// told again with its cause when the disk is full again.
TEST_F(StoredFiles, ChangesThatDoNotFitAreToldOnceAndStayInUse)
{
    const QString volume = privateVolume();
    if (volume.isEmpty()) {
        runOnPrivateVolume("StoredFiles.ChangesThatDoNotFitAreToldOnceAndStayInUse", "1m", home.path());
        return;
    }
    qputenv("XDG_DATA_HOME", volume.toLocal8Bit());
    folder = appDataFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    SettingsStore::instance().setBaseFolderForTesting(folder);
    makeSqlite(file("setting.db"), {CameraDatabase::createTableSql()});
    writeBytes(file("config.ini"), "[burst_mode]\nNumber=5\nInterval=10\n");
    const QByteArray config = fileHash(file("config.ini"));
    const QByteArray database = fileHash(file("setting.db"));
    ASSERT_TRUE(fillVolume(folder));

    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("could not be stored"); })) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("setting.db") + " (database or disk is full). It works")) << dialogs.all();

    // Typed key by key: every key stores the field.
    BurstModeSettings *timeLapse = window->burstModeDialog();
    for (const auto &[name, text] : {std::pair<const char *, const char *>{"burstModeNumber_lineEdit", "12"},
                                     {"burstModeInterval_s_lineEdit", "30"}}) {
        auto *field = childOf<QLineEdit>(timeLapse, name);
        field->clear();
        QTest::keyClicks(field, text);
    }
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("could not be saved") && !QApplication::activeModalWidget(); }))
        << dialogs.all();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.count("could not be saved"), 1) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(file("config.ini"))) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("No space left on device")) << dialogs.all();
    EXPECT_EQ(dialogs.count("could not be stored"), 1) << dialogs.all();
    const QMap<int, QVariant> inUse = timeLapse->getBurstModeMap();
    EXPECT_EQ(inUse.value(BurstModeSettings::NumberKey).toInt(), 12);
    EXPECT_EQ(inUse.value(BurstModeSettings::IntervalKey).toInt(), 30);

    dialogs.dialogActions["CalibrationWidget"] = [](QDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEdit")->setText("ruler");
        dialog->findChild<QLineEdit *>("lineEdit_2")->setText("1");
        dialog->findChild<QPushButton *>("pushButton")->click();
    };
    window->caliOver(100);
    EXPECT_TRUE(dialogs.saw("The calibration could not be saved to " + file("calibration.ini")
                            + " (No space left on device); it is kept and saved once the file can be written again."))
        << dialogs.all();

    // A cross line dragged in the live view, without its dialog.
    window->slotSetDrawMode(DrawType::Cross);
    window->slotSetDrawMode(DrawType::Hand);
    MainScene *scene = window->liveView()->measureScene();
    ASSERT_FALSE(scene->lines().isEmpty());
    const GraphicsCross *line = scene->lines()[0];
    const auto drag = [&] {
        const QPointF from = line->mapToScene(line->line().pointAt(0.25));
        moveTo(*scene, from);
        sendMouse(*scene, QEvent::GraphicsSceneMousePress, from);
        sendMouse(*scene, QEvent::GraphicsSceneMouseMove, from + QPointF(30, 30));
        sendMouse(*scene, QEvent::GraphicsSceneMouseRelease, from + QPointF(30, 30));
        return line->pos() / scene->scale();
    };
    // Only a file on disk: this process's settings objects share what the
    // program's failed write still holds.
    const auto stored = [&] {
        return QFile::exists(file("cross.ini")) ? QSettings(file("cross.ini"), QSettings::IniFormat).value("cross/1/pos")
                                                : QVariant();
    };
    // After the calibration, for the same cause: told too, with what else
    // is not stored.
    drag();
    EXPECT_TRUE(waitFor([&] {
        return dialogs.saw(file("cross.ini") + " (No space left on device).")
               && dialogs.saw("Not stored yet either: " + file("calibration.ini") + " (No space left on device), "
                              + file("config.ini") + " (No space left on device).");
    })) << dialogs.all();

    // Space again: everything kept is stored by itself.
    ASSERT_TRUE(QFile::remove(file("filler")));
    const QPointF moved = drag();
    EXPECT_TRUE(waitFor([&] { return stored() == moved; })) << stored().toPointF().y() << " " << moved.y();
    EXPECT_TRUE(waitFor([&] {
        return QSettings(file("config.ini"), QSettings::IniFormat).value("burst_mode/Number").toInt() == 12
               && QSettings(file("calibration.ini"), QSettings::IniFormat).value("calibrate/1/name") == "ruler";
    }));
    const QByteArray cross = fileHash(file("cross.ini"));
    ASSERT_TRUE(fillVolume(folder));
    drag();
    EXPECT_TRUE(waitFor([&] { return dialogs.count(file("cross.ini") + " (No space left on device).") == 2; }))
        << dialogs.all();
    LogCatcher log;
    delete window;
    window = nullptr;
    EXPECT_TRUE(log.contains("Settings lost: 2 overlay lines could not be stored in " + file("cross.ini")
                             + " (No space left on device)"))
        << log.lines.join('\n').toStdString();
    EXPECT_EQ(fileHash(file("setting.db")), database);
    EXPECT_EQ(fileHash(file("cross.ini")), cross);
}

// ---------------------------------------------------------------- the camera database

namespace {

struct DamagedDatabase {
    const char *name;
    void (*make)(const QString &path);
};

// A real database of a few pages, cut in the middle.
void makeCutShort(const QString &path)
{
    QStringList statements = {CameraDatabase::createTableSql()};
    for (int i = 0; i < 200; ++i)
        statements << QString("INSERT INTO camera (pid, isnv12, decodeWay, exposureMode, exposureGain, "
                              "exposureCompensation, exposureTime, Zoom, whiteBalanceMode, whiteBalanceR, "
                              "whiteBalanceG, whiteBalanceB, hueValue, saturationValue, contrastValue, "
                              "sharpnessValue, flip, mirror, focusMode, focusValue, HDRValue, defogMode, frameMode, "
                              "resolution, fps, bitrate, pictureResolution) VALUES ('usb-camera-%1-%2', 0, 0, 1, 0, "
                              "56, 150, 0, 0, 1, 1, 1, 50, 128, 50, 8, 0, 0, 2, 0, 6, 0, 0, '1920x1080', 30, 1, "
                              "'1920x1080')")
                          .arg(i)
                          .arg(QString(200, 'x'));
    makeSqlite(path, statements);
    QFile file(path);
    ASSERT_GT(file.size(), 4 * 4096);
    ASSERT_TRUE(file.resize(file.size() / 2));
}

const DamagedDatabase kDamagedDatabases[] = {
    {"RandomBytes", [](const QString &path) { writeBytes(path, randomBytes(16 * 1024, 4)); }},
    {"CutShort", makeCutShort},
    {"FiftyMegabytes", [](const QString &path) { writeBytes(path, randomBytes(50 * 1024 * 1024, 5)); }},
    {"CameraTableOfOtherColumns",
     [](const QString &path) {
         makeSqlite(path, {"CREATE TABLE camera (id INTEGER PRIMARY KEY, pid TEXT, exposure REAL)",
                           "INSERT INTO camera (pid, exposure) VALUES ('a camera', 1.5)"});
     }},
};

void PrintTo(const DamagedDatabase &database, std::ostream *out)
{
    *out << database.name;
}

class DamagedSettingDatabase : public StoredFiles, public ::testing::WithParamInterface<DamagedDatabase>
{
};

} // namespace

// The file is kept, under another name, byte for byte, with its journal; a
// new one takes its place, the camera comes up with its model's defaults and
// every row of the panel, and the user is told once where the old file went.
TEST_P(DamagedSettingDatabase, IsMovedAsideAndTheCameraGetsItsModelsDefaults)
{
    const QString path = file("setting.db");
    GetParam().make(path);
    // A journal whose header is cleared, as SQLite's persistent journal mode
    // leaves one: it is not played back, and it goes with its file.
    writeBytes(path + "-journal", QByteArray(512, '\0') + randomBytes(3584, 6));
    const QByteArray before = fileHash(path);
    const QByteArray journal = fileHash(path + "-journal");
    startWindow();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw(path); })) << dialogs.all();
    const QStringList moved = QDir(folder).entryList({"setting-unused-*.db"});
    ASSERT_EQ(moved.size(), 1) << QDir(folder).entryList().join(" ");
    EXPECT_EQ(fileHash(folder + "/" + moved[0]), before);
    EXPECT_EQ(fileHash(folder + "/" + moved[0] + "-journal"), journal) << QDir(folder).entryList().join(" ");
    EXPECT_FALSE(QFile::exists(path + "-journal"));
    EXPECT_TRUE(dialogs.saw(folder + "/" + moved[0])) << dialogs.all();
    EXPECT_EQ(dialogs.count(path), 1) << dialogs.all();
    EXPECT_FALSE(dialogs.saw("Open Fail ?")) << dialogs.all();

    CamSettings *panel = window->cameraSettings();
    for (const char *name : {"previewRes_comboBox", "photoRes_comboBox", "format_comboBox"}) {
        auto *combo = childOf<QComboBox>(panel, name);
        EXPECT_TRUE(combo->isVisibleTo(panel)) << name;
        EXPECT_GT(combo->count(), 0) << name;
    }
    EXPECT_EQ(childOf<QComboBox>(panel, "format_comboBox")->currentText(), "MJPEG");
    auto *preview = childOf<QComboBox>(panel, "previewRes_comboBox");
    EXPECT_EQ(preview->currentText(), "3840x2160");
    // The new file keeps what the user chooses.
    preview->setCurrentText("1920x1080");
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow(CameraDatabase::lookupKey(usbcam::kVirtualCameraPath), row));
    EXPECT_EQ(row.resolution, "1920x1080");
}

INSTANTIATE_TEST_SUITE_P(StoredFiles, DamagedSettingDatabase, ::testing::ValuesIn(kDamagedDatabases),
                         [](const ::testing::TestParamInfo<DamagedDatabase> &info) { return info.param.name; });

namespace {

// Another program's exclusive lock on a database file, on a connection of
// its own, held while this lives.
class OtherProgramsLock
{
public:
    // EXCLUSIVE keeps readers out, IMMEDIATE lets them in.
    explicit OtherProgramsLock(const QByteArray &path, const char *mode = "EXCLUSIVE")
    {
        taken_ = sqlite3_open_v2(path.constData(), &holder_, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
                 && sqlite3_exec(holder_, QByteArray("BEGIN ").append(mode).constData(), nullptr, nullptr, nullptr)
                        == SQLITE_OK;
    }
    explicit OtherProgramsLock(const QString &path, const char *mode = "EXCLUSIVE")
        : OtherProgramsLock(QFile::encodeName(path), mode)
    {
    }
    ~OtherProgramsLock()
    {
        sqlite3_exec(holder_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder_);
    }
    bool taken() const { return taken_; }

private:
    sqlite3 *holder_ = nullptr;
    bool taken_ = false;
};

// The same lock, taken the moment the program's connection starts the first
// statement that reads from the camera table: the checks before it found
// the file healthy.
class LockAtCameraTableRead
{
public:
    explicit LockAtCameraTableRead(const QString &path)
    {
        path_ = QFile::encodeName(path);
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&LockAtCameraTableRead::onOpen));
    }
    ~LockAtCameraTableRead()
    {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&LockAtCameraTableRead::onOpen));
        delete held_;
        held_ = nullptr;
    }
    static bool taken() { return held_ && held_->taken(); }

private:
    static int onOpen(sqlite3 *connection, char **, const sqlite3_api_routines *)
    {
        if (!held_)
            sqlite3_trace_v2(connection, SQLITE_TRACE_STMT, &LockAtCameraTableRead::onStatement, nullptr);
        return SQLITE_OK;
    }
    static int onStatement(unsigned, void *, void *statement, void *)
    {
        const char *sql = sqlite3_sql(static_cast<sqlite3_stmt *>(statement));
        if (held_ || !sql || !std::strstr(sql, "FROM camera"))
            return 0;
        held_ = new OtherProgramsLock(path_);
        return 0;
    }

    static inline QByteArray path_;
    static inline OtherProgramsLock *held_ = nullptr;
};

} // namespace

// Busy is no damage: a healthy file that another program holds for a moment
// stays where it is, byte for byte, and is not used in this run.
TEST_F(StoredFiles, SettingDatabaseLockedAfterItsFirstChecksIsKept)
{
    const QString path = file("setting.db");
    makeSqlite(path, {CameraDatabase::createTableSql()});
    const QByteArray before = fileHash(path);
    {
        LockAtCameraTableRead lock(path);
        startWindow();
        ASSERT_TRUE(lock.taken());
    }
    ASSERT_TRUE(waitFor([&] { return dialogs.saw(path); })) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(path + " cannot be read (database is locked) and stays as it is")) << dialogs.all();
    EXPECT_TRUE(dialogs.saw("not kept in this session")) << dialogs.all();
    EXPECT_EQ(QDir(folder).entryList({"setting-unused-*"}), QStringList());
    EXPECT_EQ(fileHash(path), before);
    EXPECT_FALSE(CameraDatabase::instance().isOpen());
}

// Another program holding the file while the user switches the exposure,
// resets the advanced settings and drags the brightness: the first change
// answers within the short wait for the lock, the burst after it without
// another, the camera takes every value, and the user is told once with
// SQLite's reason; once the file is free again, those that met the lock are
// stored by themselves within seconds, with no further change and no new
// word. A change that meets the lock after that is told again, and one
// still kept when the program closes is stored then, once the lock is gone.
TEST_F(StoredFiles, CameraSettingsChangedWhileAnotherProgramHoldsTheFile)
{
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    const QString path = file("setting.db");
    ASSERT_EQ(CameraDatabase::instance().databaseName(), path);
    CamSettings *panel = window->cameraSettings();
    auto *automatic = childOf<QRadioButton>(panel, "expAuto_rBtn");
    auto *manual = childOf<QRadioButton>(panel, "expManual_rBtn");
    auto *brightness = childOf<QSlider>(panel, "brightness_horizontalSlider");
    auto *hue = childOf<QSlider>(panel, "hue_horizontalSlider");
    auto *flip = childOf<QRadioButton>(panel, "verticalFlip_rBtn");
    ASSERT_TRUE(automatic->isChecked());
    const int32_t camera = cam_find_context(usbcam::kVirtualCameraPath);
    // Away from their defaults, so that the reset reports each of them.
    using Range = int (*)(int32_t, int32_t *, int32_t *, int32_t *);
    const std::pair<const char *, Range> advanced[] = {{"hue_horizontalSlider", &cam_get_hue_range},
                                                       {"saturation_horizontalSlider", &cam_get_saturation_range},
                                                       {"contrast_horizontalSlider", &cam_get_contrast_range},
                                                       {"sharpness_horizontalSlider", &cam_get_sharpness_range},
                                                       {"gamma_horizontalSlider", &cam_get_gamma_range}};
    QMap<QSlider *, int> defaults;
    for (const auto &control : advanced) {
        int32_t lowest = 0, highest = 0, byDefault = 0;
        ASSERT_EQ(control.second(camera, &lowest, &highest, &byDefault), 0) << control.first;
        auto *slider = childOf<QSlider>(panel, control.first);
        slider->setValue(byDefault == highest ? lowest : highest);
        defaults.insert(slider, byDefault);
    }
    flip->setChecked(true);
    const auto wasReset = [&] {
        for (auto slider = defaults.cbegin(); slider != defaults.cend(); ++slider)
            if (slider.key()->value() != slider.value())
                return false;
        return !flip->isChecked();
    };
    const int step = brightness->value() + 10 <= brightness->maximum() ? 1 : -1;
    {
        OtherProgramsLock lock(path);
        ASSERT_TRUE(lock.taken());
        QElapsedTimer clock;
        clock.start();
        manual->click();
        const qint64 waited = clock.elapsed();
        EXPECT_GE(waited, CameraDatabase::kBusyTimeoutMs);
        EXPECT_LT(waited, 2000);  // the driver's own wait is 5 s
        EXPECT_TRUE(manual->isChecked());
        EXPECT_TRUE(waitFor([&] { return cam_get_exposure_mode(camera) == 0; }));
        ASSERT_TRUE(waitFor([&] { return dialogs.saw("could not be saved") && !QApplication::activeModalWidget(); }))
            << dialogs.all();
        automatic->click();
        EXPECT_TRUE(waitFor([&] { return cam_get_exposure_mode(camera) == 1; }));
        clock.restart();
        childOf<QPushButton>(panel, "advancedSettingsAllReset_btn")->click();
        ASSERT_TRUE(waitFor(wasReset));
        for (int i = 0; i < 10; ++i)
            brightness->setValue(brightness->value() + step);
        EXPECT_LT(clock.elapsed(), 10 * CameraDatabase::kBusyTimeoutMs);  // one wait each was over 4 s
        EXPECT_TRUE(waitFor([&] { return cam_get_exposure_compensation(camera) == brightness->value(); }));
        // Long enough for a retry of them to fail under the lock, unseen.
        QElapsedTimer held;
        held.start();
        waitFor([&] { return held.hasExpired(2 * CameraDatabase::kLockBurstMs); });
    }
    EXPECT_TRUE(wasReset());
    const QString key = CameraDatabase::lookupKey(usbcam::kVirtualCameraPath);
    QElapsedTimer sinceRead;
    const auto stored = [&] {
        // Now and then: each read holds the file for a moment too.
        if (sinceRead.isValid() && !sinceRead.hasExpired(100))
            return false;
        sinceRead.start();
        const CameraRow row = rowInFile(path, key);
        return row.exposureCompensation == brightness->value() && row.hueValue == defaults.value(hue) && row.flip == 0;
    };
    EXPECT_TRUE(waitFor(stored, 15000)) << rowText(rowInFile(path, key).values());
    EXPECT_EQ(dialogs.count("could not be saved"), 1) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(path + " (database is locked).")) << dialogs.all();

    const int lastHue = hue->value() == hue->maximum() ? hue->minimum() : hue->maximum();
    {
        OtherProgramsLock lock(path);
        ASSERT_TRUE(lock.taken());
        hue->setValue(lastHue);
        // Stored again since, so told again.
        EXPECT_TRUE(waitFor([&] { return dialogs.count("could not be saved") == 2; })) << dialogs.all();
    }
    delete window;
    window = nullptr;
    EXPECT_EQ(rowInFile(path, key).hueValue, lastHue);
    usbcam::resetVirtualCamera();  // the device would keep the values above for the next case
}

namespace {

// A hue change under another program's lock on setting.db, kept, and the
// camera closed and opened again while the lock holds.
class CameraReopenUnderLock : public StoredFiles
{
protected:
    void SetUp() override
    {
        StoredFiles::SetUp();
        usbcam::resetVirtualCamera();
        ASSERT_TRUE(startWithCamera()) << dialogs.all();
        hue = childOf<QSlider>(window->cameraSettings(), "hue_horizontalSlider");
        kept = hue->maximum() - 1;
    }
    void TearDown() override
    {
        StoredFiles::TearDown();
        usbcam::resetVirtualCamera();  // the device would keep the hue for the next case
    }
    // `mode` as OtherProgramsLock takes it; `reopened` tells when the camera
    // is back, and runs while the lock still holds.
    void changeAndReopen(const char *mode, const std::function<bool()> &reopened)
    {
        OtherProgramsLock lock(path(), mode);
        ASSERT_TRUE(lock.taken());
        hue->setValue(kept);
        ASSERT_TRUE(waitFor([&] { return dialogs.saw("could not be saved") && !QApplication::activeModalWidget(); }))
            << dialogs.all();
        auto *cameraSwitch = childOf<QPushButton>(window->cameraSettings(), "cameraSwitch_btn");
        cameraSwitch->click();
        ASSERT_TRUE(waitFor([&] { return !window->playThread(); })) << dialogs.all();
        cameraSwitch->click();
        ASSERT_TRUE(waitFor(reopened, 30000)) << dialogs.all();
        EXPECT_EQ(hue->value(), kept);
        EXPECT_TRUE(waitFor([&] { return cam_get_hue(cam_find_context(usbcam::kVirtualCameraPath)) == kept; }))
            << cam_get_hue(cam_find_context(usbcam::kVirtualCameraPath));
    }
    QString path() const { return file("setting.db"); }

    const QString key = CameraDatabase::lookupKey(usbcam::kVirtualCameraPath);
    QSlider *hue = nullptr;
    int kept = 0;
};

} // namespace

// Readers let in: the change that met the lock is what the camera uses,
// over its stored row, and it is stored once the lock ends.
TEST_F(CameraReopenUnderLock, KeptValuesWinOverTheStoredRowUntilStored)
{
    // Away from the model's default, which a start leaves to the device.
    const int stored = hue->minimum() + 1;
    hue->setValue(stored);
    ASSERT_EQ(rowInFile(path(), key).hueValue, stored);
    changeAndReopen("IMMEDIATE",
                    [&] { return window->playThread() && window->playThread()->receivedFrameCount() > 3; });
    EXPECT_EQ(rowInFile(path(), key).hueValue, stored);
    QElapsedTimer sinceRead;
    EXPECT_TRUE(waitFor(
        [&] {
            // Now and then: each read holds the file for a moment too.
            if (sinceRead.isValid() && !sinceRead.hasExpired(100))
                return false;
            sinceRead.start();
            return rowInFile(path(), key).hueValue == kept;
        },
        20000));
    EXPECT_EQ(dialogs.count("could not be saved"), 1) << dialogs.all();
    EXPECT_FALSE(dialogs.saw("cannot be read")) << dialogs.all();
}

// Readers kept out: the row cannot be read, and the user is told why, by
// the camera's name in the device list, and that the camera works with the
// value last set, not with its model's defaults alone.
TEST_F(CameraReopenUnderLock, RowThatCannotBeReadIsToldWithItsCause)
{
    changeAndReopen("EXCLUSIVE", [&] { return dialogs.saw("cannot be read"); });
    EXPECT_TRUE(dialogs.saw("The stored settings of camera VoCam_1 in ")) << dialogs.all();
    EXPECT_FALSE(dialogs.saw(key)) << dialogs.all();
    EXPECT_TRUE(dialogs.saw(path() + " cannot be read (database is locked). It works with the values you last set "
                                     "for hueValue"))
        << dialogs.all();
    EXPECT_FALSE(dialogs.saw("defaults are used instead")) << dialogs.all();
}

// Values the camera does not offer or allow are ignored for its model's
// defaults, the user is told once a run which, and the row stays as it is
// until the user changes a setting: then it is written whole, with valid values.
TEST_F(StoredFiles, CameraRowWithValuesTheCameraDoesNotAllow)
{
    const QString key = CameraDatabase::lookupKey(usbcam::kVirtualCameraPath);
    CameraRow absurd = E530UCamera().defaultRow();
    absurd.decodeWay = 99;
    absurd.resolution = absurd.pictureResolution = "99999x99999";
    absurd.fps = 2147483647;
    absurd.flip = 7;
    QStringList values;
    for (const QVariant &value : absurd.values())
        values << (value.type() == QVariant::String ? "'" + value.toString() + "'" : value.toString());
    values[0] = "'" + key + "'";
    makeSqlite(file("setting.db"), {CameraDatabase::createTableSql(),
                                    QString("INSERT INTO camera (%1) VALUES (%2)")
                                        .arg(CameraDatabase::columns().join(","), values.join(","))});
    const QByteArray before = fileHash(file("setting.db"));

    startWindow();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("does not allow"); })) << dialogs.all();
    for (const char *column : {"decodeWay", "flip", "resolution", "fps", "pictureResolution"})
        EXPECT_TRUE(dialogs.saw(column)) << column << ": " << dialogs.all();
    CamSettings *panel = window->cameraSettings();
    EXPECT_EQ(childOf<QComboBox>(panel, "format_comboBox")->currentText(), "MJPEG");
    EXPECT_EQ(childOf<QComboBox>(panel, "previewRes_comboBox")->currentText(), "3840x2160");
    EXPECT_EQ(childOf<QComboBox>(panel, "photoRes_comboBox")->currentText(), "3840x2160");
    EXPECT_FALSE(childOf<QRadioButton>(panel, "verticalFlip_rBtn")->isChecked());

    // Closed and opened again in the same run: nothing more is said or written.
    auto *cameraSwitch = childOf<QPushButton>(panel, "cameraSwitch_btn");
    cameraSwitch->click();
    ASSERT_TRUE(waitFor([&] { return !window->playThread(); })) << dialogs.all();
    cameraSwitch->click();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_EQ(dialogs.count("does not allow"), 1) << dialogs.all();
    EXPECT_EQ(fileHash(file("setting.db")), before);

    childOf<QSlider>(panel, "hue_horizontalSlider")->setValue(70);
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow(key, row));
    EXPECT_EQ(row.decodeWay, 0);
    EXPECT_EQ(row.resolution, "3840x2160");
    EXPECT_EQ(row.pictureResolution, "3840x2160");
    EXPECT_EQ(row.fps, 30);
    EXPECT_EQ(row.flip, 0);
    EXPECT_EQ(row.hueValue, 70);
}

// A start writes nothing into the camera's row, whatever the camera had
// before: every value chosen there is what the camera is set to and what the
// panel shows, also a value the control showed already (contrast 0 at the
// slider's minimum), and again at the next start; a column still at the
// model's default leaves the camera's own value, shown but not stored. The
// user's next change is written, and only that.
TEST_F(StoredFiles, AStartSetsTheCameraToItsRowAndLeavesTheRowAsItIs)
{
    usbcam::resetVirtualCamera();
    cam_set_sharpness(cam_find_context(usbcam::kVirtualCameraPath), 3);
    const QString key = CameraDatabase::lookupKey(usbcam::kVirtualCameraPath);
    const CameraRow defaults = E530UCamera().defaultRow();
    CameraRow chosen = defaults;
    chosen.pid = key;
    chosen.isnv12 = 1;
    chosen.decodeWay = StreamNv12;
    chosen.exposureGain = 5;
    chosen.exposureCompensation = 80;
    chosen.exposureTime = 200;
    chosen.zoom = 5;
    chosen.whiteBalanceMode = WbManual;
    chosen.whiteBalanceR = 700;
    chosen.whiteBalanceG = 300;
    chosen.whiteBalanceB = 500;
    chosen.hueValue = 70;
    chosen.saturationValue = 200;
    chosen.contrastValue = 0;
    chosen.flip = 1;
    chosen.mirror = 1;
    chosen.focusValue = 250;
    chosen.hdrValue = 2;
    chosen.defogMode = 1;
    chosen.frameMode = 1;
    chosen.resolution = "1920x1080";
    chosen.fps = 25;
    chosen.bitrate = 2;
    // Every column differs from the default row but the automatic exposure
    // (the brightness acts only in it), the manual focus mode, the picture
    // size and the sharpness, which are the default row's.
    const QVariantList chosenValues = chosen.values();
    for (int i = 1; i < chosenValues.size(); ++i) {
        if (!QStringList({"exposureMode", "focusMode", "pictureResolution", "sharpnessValue"})
                 .contains(CameraDatabase::columns()[i])) {
            ASSERT_NE(chosenValues[i], defaults.values()[i]) << CameraDatabase::columns()[i];
        }
    }
    makeSettingDatabase(file("setting.db"), chosen);

    const auto handle = [] { return cam_find_context(usbcam::kVirtualCameraPath); };
    CamSettings *panel = nullptr;
    const auto camera = [&] {
        const int32_t h = handle();
        return cam_get_exposure_compensation(h) == 80 && cam_get_white_balance_mode(h) == 0
               && cam_get_white_balance_component_red(h) == 700 && cam_get_white_balance_component_green(h) == 300
               && cam_get_white_balance_component_blue(h) == 500 && cam_get_hue(h) == 70
               && cam_get_saturation(h) == 200 && cam_get_contrast(h) == 0 && cam_get_sharpness(h) == 3
               && cam_get_gamma(h) == 2 && cam_get_flip(h) == 1 && cam_get_mirror(h) == 1 && cam_get_flick(h) == 1
               && cam_get_focus_mode(h) == 0 && cam_get_focus(h) == 250;
    };
    // What the panel shows of the controls of `expected`, as "control=value" like it.
    const auto shown = [&](const QStringList &expected) {
        QStringList state;
        for (const QString &entry : expected) {
            const QString name = entry.section('=', 0, 0);
            QWidget *control = panel->findChild<QWidget *>(name);
            QString value;
            if (auto *slider = qobject_cast<QSlider *>(control))
                value = QString::number(slider->value());
            else if (auto *radio = qobject_cast<QRadioButton *>(control))
                value = radio->isChecked() ? "on" : "off";
            else if (auto *box = qobject_cast<QComboBox *>(control))
                value = box->currentText();
            state << name + "=" + value;
        }
        return state.join(", ");
    };
    const QStringList shownAtStart = {
        "brightness_horizontalSlider=80", "wBManual_rBtn=on",  "wBRed_horizontalSlider=700",
        "wBGreen_horizontalSlider=300",   "wBBlue_horizontalSlider=500", "hue_horizontalSlider=70",
        "saturation_horizontalSlider=200", "contrast_horizontalSlider=0", "sharpness_horizontalSlider=3",
        "gamma_horizontalSlider=2",       "verticalFlip_rBtn=on", "horizontalFlip_rBtn=on", "pLF50Hz_rBtn=on",
        "focusManual_rBtn=on",            "focusValue_horizontalSlider=250", "format_comboBox=NV12",
        "previewRes_comboBox=1920x1080",  "photoRes_comboBox=3840x2160"};
    const auto storedRow = [&] {
        CameraRow row;
        EXPECT_TRUE(CameraDatabase::instance().findRow(key, row));
        return rowText(row.values());
    };
    const QByteArray before = fileHash(file("setting.db"));

    startWindow();
    panel = window->cameraSettings();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_TRUE(waitFor(camera)) << "exposure compensation " << cam_get_exposure_compensation(handle());
    waitFor([&] { return shown(shownAtStart) == shownAtStart.join(", "); });
    EXPECT_EQ(shown(shownAtStart), shownAtStart.join(", "));
    EXPECT_TRUE(waitFor([&] { return shownWidth() == 1920; }));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
    EXPECT_EQ(fileHash(file("setting.db")), before);

    // The next start, with manual exposure chosen, on a camera that kept
    // nothing meanwhile.
    auto *cameraSwitch = childOf<QPushButton>(panel, "cameraSwitch_btn");
    cameraSwitch->click();
    ASSERT_TRUE(waitFor([&] { return !window->playThread(); })) << dialogs.all();
    dialogs.messages.clear();
    ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(usbcam::kVirtualCameraPath, "exposureMode",
                                                              int(ExposureManual)));
    chosen.exposureMode = ExposureManual;
    const QByteArray manual = fileHash(file("setting.db"));
    usbcam::resetVirtualCamera();
    cameraSwitch->click();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_TRUE(waitFor([&] {
        return cam_get_exposure_mode(handle()) == 0 && cam_get_exposure_time(handle()) == 200
               && cam_get_exposure_gain(handle()) == 5 && cam_get_hue(handle()) == 70 && cam_get_contrast(handle()) == 0;
    }));
    const QStringList shownManual = {"expManual_rBtn=on", "shutter_horizontalSlider=200", "gain_horizontalSlider=5",
                                     "brightness_horizontalSlider=80", "hue_horizontalSlider=70",
                                     "contrast_horizontalSlider=0"};
    waitFor([&] { return shown(shownManual) == shownManual.join(", "); });
    EXPECT_EQ(shown(shownManual), shownManual.join(", "));
    EXPECT_EQ(fileHash(file("setting.db")), manual);
    EXPECT_EQ(storedRow(), rowText(chosen.values()));

    // The user's change is written, and nothing else.
    childOf<QSlider>(panel, "hue_horizontalSlider")->setValue(40);
    EXPECT_TRUE(waitFor([&] { return cam_get_hue(handle()) == 40; }));
    chosen.hueValue = 40;
    EXPECT_EQ(storedRow(), rowText(chosen.values()));
}

namespace {

// The models that push their row to the board when they start, each put on
// the virtual camera's board through the model factory under its product id.
struct PushingModel {
    const char *name;
    const char *productId;
};

class PushingModelStart : public StoredFiles, public ::testing::WithParamInterface<PushingModel>
{
};

void PrintTo(const PushingModel &model, std::ostream *out)
{
    *out << model.name;
}


} // namespace

// What the camera reports while it starts is not the user's: the board's own
// values, told when the panel's filling sets a mode (focus 200 once manual
// focus is set, the white balance once it is manual), and the row it then
// pushes. setting.db stays byte for byte as it was; the user's change is
// written.
TEST_P(PushingModelStart, LeavesSettingDatabaseAsItIs)
{
    usbcam::resetVirtualCamera();
    const QString productId = GetParam().productId;
    const CamSettings::CameraFactory factory = [productId](const QString &path) {
        return createCamera(QString(path).replace("pid_e530", "pid_" + productId));
    };
    const QString key = CameraDatabase::lookupKey(usbcam::kVirtualCameraPath);
    CameraRow chosen = factory(usbcam::kVirtualCameraPath)->defaultRow();
    chosen.pid = key;
    chosen.exposureCompensation = 80;
    chosen.whiteBalanceMode = WbManual;
    chosen.whiteBalanceR = 700;
    chosen.hueValue = 70;
    chosen.saturationValue = 40;
    chosen.contrastValue = 30;
    chosen.sharpnessValue = 3;
    chosen.flip = 1;
    chosen.mirror = 1;
    chosen.focusMode = FocusManual;
    chosen.focusValue = 250;
    chosen.hdrValue = 2;
    chosen.zoom = 5;
    chosen.frameMode = 1;
    makeSettingDatabase(file("setting.db"), chosen);
    const QByteArray before = fileHash(file("setting.db"));

    window = new MainWindow2;
    window->cameraSettings()->setCameraFactory(factory);
    window->show();
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    ASSERT_TRUE(threadCaughtUp(window->camera().data()));
    EXPECT_EQ(cam_get_hue(cam_find_context(usbcam::kVirtualCameraPath)), 70);
    EXPECT_EQ(fileHash(file("setting.db")), before);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();

    childOf<QSlider>(window->cameraSettings(), "hue_horizontalSlider")->setValue(40);
    chosen.hueValue = 40;
    CameraRow stored;
    ASSERT_TRUE(CameraDatabase::instance().findRow(key, stored));
    EXPECT_EQ(rowText(stored.values()), rowText(chosen.values()));
}

INSTANTIATE_TEST_SUITE_P(StoredFiles, PushingModelStart,
                         ::testing::Values(PushingModel{"R480", "0480"}, PushingModel{"E150", "e150"},
                                           PushingModel{"E170", "e170"}, PushingModel{"W610", "0610"}),
                         [](const ::testing::TestParamInfo<PushingModel> &info) { return info.param.name; });

// ---------------------------------------------------------------- as a user without root rights

namespace {

// A folder the user the child runs as may own: outside this process's
// private temporary folder.
struct SharedHome {
    QTemporaryDir dir{QDir::tempPath() + "/vorenta-stored-files-XXXXXX"};
    QString data() const { return dir.path() + "/data"; }
    QString appData() const { return data() + "/" + QCoreApplication::applicationName(); }
};

void giveToChildUser(const QString &path)
{
    ASSERT_TRUE(giveToUnprivilegedUser(path)) << path;
}

// Runs this test program again with one case of StoredFilesChild, as
// "nobody" when this process is root, in the given application-data home.
int runChild(const QString &caseName, const SharedHome &home, QString *output)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kChildCase, caseName);
    environment.insert("VORENTA_TEST_HOME_GIVEN", "1");
    environment.insert("HOME", home.dir.path());
    environment.insert("XDG_DATA_HOME", home.data());
    environment.insert("XDG_RUNTIME_DIR", home.dir.path() + "/runtime");
    environment.insert("XDG_CONFIG_HOME", home.dir.path() + "/config");
    environment.insert("XDG_CACHE_HOME", home.dir.path() + "/cache");
    // No X display for the other user: the window starts offscreen.
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_QPA_OFFSCREEN_NO_GLX", "1");
    environment.insert("TMPDIR", home.dir.path() + "/tmp");
    return runAsUnprivilegedUser("StoredFilesChild." + caseName, environment, output);
}

void prepareHome(const SharedHome &home)
{
    ASSERT_TRUE(home.dir.isValid());
    for (const QString &sub : {QString("/runtime"), QString("/config"), QString("/cache"), QString("/tmp"),
                               QString("/data")}) {
        ASSERT_TRUE(QDir().mkpath(home.dir.path() + sub));
        giveToChildUser(home.dir.path() + sub);
    }
    QFile::setPermissions(home.dir.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QDir().mkpath(home.appData()));
    giveToChildUser(home.appData());
    // The child user must reach its folders.
    QFile::setPermissions(home.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                              | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
}

} // namespace

TEST(StoredFilesAsUser, ReadOnlySettingDatabase)
{
    SharedHome home;
    prepareHome(home);
    const QString database = home.appData() + "/setting.db";
    CameraDatabase::instance().close();
    makeSqlite(database, {CameraDatabase::createTableSql()});
    giveToChildUser(database);
    QFile::setPermissions(database, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const QByteArray before = fileHash(database);
    QString output;
    EXPECT_EQ(runChild("ReadOnlySettingDatabase", home, &output), 0) << output;
    EXPECT_EQ(fileHash(database), before);
}

TEST(StoredFilesAsUser, ReadOnlyApplicationDataFolder)
{
    SharedHome home;
    prepareHome(home);
    writeBytes(home.appData() + "/config.ini", "[draw]\nTextSize=20\n");
    const QByteArray before = fileHash(home.appData() + "/config.ini");
    QFile::setPermissions(home.appData(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                                              | QFile::ReadGroup | QFile::ExeGroup);
    QString output;
    EXPECT_EQ(runChild("ReadOnlyApplicationDataFolder", home, &output), 0) << output;
    EXPECT_EQ(fileHash(home.appData() + "/config.ini"), before);
    EXPECT_EQ(QDir(home.appData()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({"config.ini"}));
    QFile::setPermissions(home.appData(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The child's side: run only when the parent asks for it.
class StoredFilesChild : public WindowTest
{
protected:
    void SetUp() override
    {
        if (qgetenv(kChildCase).isEmpty())
            GTEST_SKIP() << "run by StoredFilesAsUser";
        ASSERT_NE(geteuid(), 0u) << "the child must not run as root";
        WindowTest::SetUp();
    }
};

TEST_F(StoredFilesChild, ReadOnlySettingDatabase)
{
    startWindow();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("read-only"); }, 10000)) << dialogs.all();
    EXPECT_TRUE(CameraDatabase::instance().isOpen());
    EXPECT_FALSE(dialogs.saw("Open Fail ?")) << dialogs.all();
    // The program goes on with the camera; its row can't be stored, and it
    // works with its model's defaults.
    EXPECT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 0; },
                        20000));
    CamSettings *panel = window->cameraSettings();
    for (const char *name : {"previewRes_comboBox", "photoRes_comboBox", "format_comboBox"})
        EXPECT_TRUE(waitFor([&] { return childOf<QComboBox>(panel, name)->isVisibleTo(panel); })) << name;
    EXPECT_EQ(childOf<QComboBox>(panel, "previewRes_comboBox")->currentText(), "3840x2160");
}

TEST_F(StoredFilesChild, ReadOnlyApplicationDataFolder)
{
    startWindow();
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("Open Fail ?") && dialogs.saw("cannot be written"); }, 10000))
        << dialogs.all();
    EXPECT_TRUE(waitFor([&] { return window->playThread() && window->playThread()->receivedFrameCount() > 0; },
                        20000));
    // A stored value has nowhere to go, and the program goes on.
    SettingsStore::instance().setDrawValue(TextSize, 30);
}

// ---------------------------------------------------------------- closed by a signal

namespace {

const char kSignalledChild[] = "VORENTA_SIGNALLED_CHILD";

} // namespace

// A logout, `kill` or Ctrl+C closes the program as its window's close does:
// a camera change that another program's lock kept is stored at the close,
// once the lock is gone. The program runs as a child that builds the real
// window and runs the application's loop until the signal, as main does.
TEST(ClosedBySignal, KeptCameraSettingsAreStoredAsAtAWindowClose)
{
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const QString handshake = home.path() + "/handshake";
        ASSERT_TRUE(QDir().mkpath(handshake));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kSignalledChild, handshake);
        environment.insert("VORENTA_TEST_HOME_GIVEN", "1");
        environment.insert("HOME", home.path());
        environment.insert("XDG_DATA_HOME", home.path() + "/data");
        environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
        environment.insert("XDG_CACHE_HOME", home.path() + "/cache");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // The child's report is its case's run (one per signal).
        const std::string report = innerRunReport("signal" + std::to_string(number));
        if (report.empty())
            environment.remove("GTEST_OUTPUT");
        else
            environment.insert("GTEST_OUTPUT", QString::fromStdString(report));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.setStandardOutputFile(home.path() + "/output.txt");
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=SignalledChild.RunsUntilASignalClosesIt"});
        ASSERT_TRUE(child.waitForStarted());
        const auto output = [&] {
            QFile file(home.path() + "/output.txt");
            return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(6000)) : QString();
        };
        const auto ended = [&] { return child.state() == QProcess::NotRunning; };
        ASSERT_TRUE(waitFor([&] { return QFile::exists(handshake + "/up") || ended(); }, 120000)) << output();
        ASSERT_FALSE(ended()) << output();
        const QString database = home.path() + "/data/" + QCoreApplication::applicationName() + "/setting.db";
        auto lock = std::make_unique<OtherProgramsLock>(database);
        ASSERT_TRUE(lock->taken());
        writeBytes(handshake + "/locked", "");
        ASSERT_TRUE(waitFor([&] { return QFile::exists(handshake + "/changed") || ended(); }, 120000)) << output();
        ASSERT_FALSE(ended()) << output();
        QFile changed(handshake + "/changed");
        ASSERT_TRUE(changed.open(QIODevice::ReadOnly));
        const int kept = changed.readAll().toInt();
        ASSERT_EQ(::kill(pid_t(child.processId()), number), 0);
        lock.reset();
        ASSERT_TRUE(waitFor(ended, 120000)) << output();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output();
        EXPECT_EQ(child.exitCode(), 0) << output();
        EXPECT_EQ(rowInFile(database, CameraDatabase::lookupKey(usbcam::kVirtualCameraPath)).hueValue, kept)
            << output();
    }
}

// The child's side: run only when the parent asks for it.
class SignalledChild : public WindowTest
{
protected:
    void SetUp() override
    {
        if (qgetenv(kSignalledChild).isEmpty())
            GTEST_SKIP() << "run by ClosedBySignal";
        WindowTest::SetUp();
    }
};

TEST_F(SignalledChild, RunsUntilASignalClosesIt)
{
    const QString handshake = qEnvironmentVariable(kSignalledChild);
    ASSERT_TRUE(quitOnTerminationSignals());
    usbcam::resetVirtualCamera();
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    writeBytes(handshake + "/up", "");
    ASSERT_TRUE(waitFor([&] { return QFile::exists(handshake + "/locked"); }, 120000));
    auto *hue = childOf<QSlider>(window->cameraSettings(), "hue_horizontalSlider");
    const int kept = hue->maximum() - 1;
    hue->setValue(kept);
    ASSERT_TRUE(waitFor([&] { return dialogs.saw("could not be saved") && !QApplication::activeModalWidget(); }))
        << dialogs.all();
    writeBytes(handshake + "/changed", QByteArray::number(kept));
    QApplication::exec();
    // As main does when its loop ends.
    delete window;
    window = nullptr;
}
