#include "settings_store.h"

#include "private_volume.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Settings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        store().setBaseFolderForTesting(dir.path());
    }
    static SettingsStore &store() { return SettingsStore::instance(); }
    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QString ini(const QString &name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
};

CalibrationRecord calibration(const QString &name, double length, const QString &unit, double real)
{
    CalibrationRecord record;
    record.name = name;
    record.length = length;
    record.unit = unit;
    record.real = real;
    return record;
}

} // namespace

TEST_F(Settings, MissingConfigGivesExactlyTheTwelveDefaults)
{
    const QMap<int, QVariant> draw = store().loadDraw();
    EXPECT_EQ(draw.keys(), QList<int>({0, 2, 3, 5, 9, 10, 11, 14, 19, 21, 25, 32}));
    EXPECT_EQ(draw[PointWidth].toInt(), 1);
    EXPECT_EQ(draw[LineWidth].toInt(), 1);
    EXPECT_EQ(draw[LineStyle].toInt(), 1);
    EXPECT_EQ(draw[TextSize].toInt(), 13);
    EXPECT_EQ(draw[LTextWidth].toInt(), 13);
    EXPECT_EQ(draw[SaveType].toInt(), 1);
    EXPECT_EQ(draw[QuickSavePath].toString(), SettingsStore::defaultPicturePath());
    EXPECT_TRUE(draw[QuickSavePath].toString().endsWith("/" + QCoreApplication::applicationName()));
}

TEST_F(Settings, StoredValuesWinOverDefaultsAndComeBackAsText)
{
    store().setDrawValue(TextSize, 20);
    store().setDrawValue(FloatNum, 3);
    store().setDrawValue(LineColor, QColor(Qt::red));
    const QMap<int, QVariant> draw = store().loadDraw();
    EXPECT_EQ(draw[TextSize].toInt(), 20);
    EXPECT_EQ(draw[FloatNum].toInt(), 3);
    EXPECT_EQ(draw[LineColor].value<QColor>(), QColor(Qt::red));
    EXPECT_EQ(draw.size(), 14);
    // The file uses the draw table's key names.
    QSettings raw(ini("config.ini"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("draw/TextSize").toInt(), 20);
    EXPECT_TRUE(raw.contains("draw/Line_Color"));
}

TEST_F(Settings, EveryDrawIdHasItsKey)
{
    EXPECT_EQ(SettingsStore::drawKey(0), "PointWidth");
    EXPECT_EQ(SettingsStore::drawKey(10), "DrawCross_Width");
    EXPECT_EQ(SettingsStore::drawKey(17), "DrawGridlines_VLines");
    EXPECT_EQ(SettingsStore::drawKey(26), "LLine_Color");
    EXPECT_EQ(SettingsStore::drawKey(38), "SaveGraphics");
    EXPECT_TRUE(SettingsStore::drawKey(39).isEmpty());
    EXPECT_TRUE(SettingsStore::drawKey(-1).isEmpty());
    // A value of each key's kind, from a file as the program stores it.
    const QSettings sample(QStringLiteral(CORE_TEST_DATA "/config.ini"), QSettings::IniFormat);
    for (int id = 0; id < kDrawPropertyCount; ++id) {
        const QVariant value = sample.value("draw/" + SettingsStore::drawKey(id));
        store().setDrawValue(id, value);
        QVariant out;
        ASSERT_TRUE(store().drawValue(id, out)) << id;
        EXPECT_EQ(out, value) << id;
    }
}

TEST_F(Settings, EveryKeyNameReadsFromAStoredFile)
{
    // Files as the program stores them, every key of every table present.
    for (const char *name : {"config.ini", "calibration.ini"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(CORE_TEST_DATA "/") + name, ini(name))) << name;
    const QSettings stored(ini("config.ini"), QSettings::IniFormat);
    const QMap<int, QVariant> draw = store().loadDraw();
    EXPECT_EQ(draw.size(), kDrawPropertyCount);
    for (int id = 0; id < kDrawPropertyCount; ++id) {
        const QVariant value = stored.value("draw/" + SettingsStore::drawKey(id));
        EXPECT_EQ(draw.value(id), value) << SettingsStore::drawKey(id).toStdString();
        QVariant out;
        EXPECT_TRUE(store().drawValue(id, out)) << id;
        EXPECT_EQ(out, value) << id;
    }
    QVariant out;
    ASSERT_TRUE(store().baseValue(0, out));
    EXPECT_EQ(out.toString(), "/data/upgrade/firmware.qpk");
    EXPECT_EQ(store().openedImagePath(), "/data/pictures");
    ASSERT_TRUE(store().keyBindValue(0, out));
    EXPECT_EQ(out.toInt(), 2);
    const QMap<int, QVariant> burst = store().loadBurstMode();
    EXPECT_EQ(burst.value(0).toInt(), 12);
    EXPECT_EQ(burst.value(1).toInt(), 30);
    const QMap<int, QVariant> calibrationSettings = store().loadCalibrationSettings();
    EXPECT_EQ(calibrationSettings.value(0).toInt(), 1);
    EXPECT_EQ(calibrationSettings.value(1).toInt(), 2);
    EXPECT_EQ(calibrationSettings.value(2).toInt(), 3);
}

TEST_F(Settings, WrittenFilesUseTheStoredKeyNames)
{
    for (int id = 0; id < kDrawPropertyCount; ++id)
        store().setDrawValue(id, 100 + id);
    for (int id = 0; id < 2; ++id) {
        store().setBaseValue(id, "x");
        store().setBurstModeValue(id, 1);
    }
    store().setKeyBindValue(0, 1);
    for (int id = 0; id < 3; ++id) {
        CalibrationRecord record = calibration("stage", 1, "mm", 4);
        record.width = 1920;
        store().addCalibration(record);
        store().setCalibrationSetting(id, 1);
    }
    store().saveCrossLines({CrossInfo()});
    for (const char *name : {"config.ini", "calibration.ini", "cross.ini"}) {
        QStringList stored = QSettings(QStringLiteral(CORE_TEST_DATA "/") + name, QSettings::IniFormat).allKeys();
        QStringList written = QSettings(ini(name), QSettings::IniFormat).allKeys();
        stored.sort();
        written.sort();
        EXPECT_EQ(written, stored) << name;
    }
}

TEST_F(Settings, MissingKeyLeavesOutUntouched)
{
    QVariant out(42);
    EXPECT_FALSE(store().drawValue(Language, out));
    EXPECT_EQ(out.toInt(), 42);
    EXPECT_FALSE(store().drawValue(99, out));
    EXPECT_FALSE(store().baseValue(5, out));
    EXPECT_FALSE(store().keyBindValue(0, out));
    EXPECT_EQ(out.toInt(), 42);
}

TEST_F(Settings, IdsOutsideATableWriteNothing)
{
    store().setDrawValue(39, 1);
    store().setDrawValue(-1, 1);
    store().setBaseValue(2, "x");
    store().setKeyBindValue(1, 2);
    store().setBurstModeValue(2, 3);
    store().setCalibrationSetting(3, 4);
    EXPECT_FALSE(QFile::exists(ini("config.ini")) && QSettings(ini("config.ini"), QSettings::IniFormat).allKeys().size());
    EXPECT_FALSE(QFile::exists(ini("calibration.ini"))
                 && QSettings(ini("calibration.ini"), QSettings::IniFormat).allKeys().size());
}

TEST_F(Settings, OtherGroupsRoundTrip)
{
    store().setBaseValue(0, "/tmp/update.qpk");
    store().setOpenedImagePath("/tmp/pictures");
    store().setKeyBindValue(0, 2);
    store().setBurstModeValue(0, 5);
    store().setBurstModeValue(1, 30);
    store().setCalibrationSetting(1, -1); // none chosen
    store().setCalibrationSetting(2, 1);
    QVariant out;
    ASSERT_TRUE(store().baseValue(0, out));
    EXPECT_EQ(out.toString(), "/tmp/update.qpk");
    EXPECT_EQ(store().openedImagePath(), "/tmp/pictures");
    ASSERT_TRUE(store().keyBindValue(0, out));
    EXPECT_EQ(out.toInt(), 2);
    const auto burst = store().loadBurstMode();
    EXPECT_EQ(burst.value(0).toInt(), 5);
    EXPECT_EQ(burst.value(1).toInt(), 30);
    const auto calibrationSettings = store().loadCalibrationSettings();
    EXPECT_EQ(calibrationSettings.keys(), QList<int>({1, 2}));
    QSettings raw(ini("config.ini"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("burst_mode/Interval").toInt(), 30);
    EXPECT_EQ(raw.value("key_bind/MouseWheel").toInt(), 2);
    EXPECT_EQ(raw.value("base/OpenedImgPath").toString(), "/tmp/pictures");
}

TEST_F(Settings, OpenedImagePathDefaultsToThePicturesFolder)
{
    EXPECT_EQ(store().openedImagePath(), SettingsStore::defaultPicturePath());
}

TEST_F(Settings, CommonToolsRoundTripAsOneMap)
{
    EXPECT_TRUE(store().loadCommonTools().isEmpty());
    QVariantMap tools{{"Line", true}, {"Cir", false}, {"count", 3}};
    store().saveCommonTools(tools);
    const QVariantMap back = store().loadCommonTools();
    EXPECT_EQ(back.size(), 3);
    EXPECT_TRUE(back.value("Line").toBool());
    EXPECT_EQ(back.value("count").toInt(), 3);
}

TEST_F(Settings, CalibrationsAppendInQtArrayLayout)
{
    CalibrationRecord ruler = calibration("ruler", 100, "um", 2.5);
    ruler.width = 1920;
    EXPECT_TRUE(store().addCalibration(ruler));
    {
        QSettings raw(ini("calibration.ini"), QSettings::IniFormat);
        EXPECT_EQ(raw.value("calibrate/size").toInt(), 1);
        EXPECT_EQ(raw.value("calibrate/1/name").toString(), "ruler");
        EXPECT_EQ(raw.value("calibrate/1/width").toInt(), 1920);
    }
    // Without a width the entry has the form older versions wrote.
    EXPECT_TRUE(store().addCalibration(calibration("grid", 0.5, "mm", 1.25)));
    EXPECT_FALSE(QSettings(ini("calibration.ini"), QSettings::IniFormat).contains("calibrate/2/width"));
    const auto list = store().calibrations();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].width, 1920);
    EXPECT_EQ(list[1].name, "grid");
    EXPECT_DOUBLE_EQ(list[1].length, 0.5);
    EXPECT_EQ(list[1].unit, "mm");
    EXPECT_DOUBLE_EQ(list[1].real, 1.25);
    EXPECT_EQ(list[1].width, 0);
}

TEST_F(Settings, DisplayTextUsesSixSignificantDigits)
{
    EXPECT_EQ(calibration("ruler", 100, "um", 1).displayText(), "ruler, 100um");
    EXPECT_EQ(calibration("a", 0.5, "mm", 1).displayText(), "a, 0.5mm");
    EXPECT_EQ(calibration("b", 2345678, "mil", 1).displayText(), "b, 2.34568e+06mil");
}

TEST_F(Settings, CalibrationsWithTheSameTextStayApartAndGoOneByOne)
{
    store().addCalibration(calibration("ruler", 100, "um", 1));
    store().addCalibration(calibration("keep", 3, "mm", 2));
    store().addCalibration(calibration("ruler", 100, "um", 3));
    store().addCalibration(calibration("ruler", 100.5, "um", 4));
    auto list = store().calibrations();
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0].displayText(), list[2].displayText());
    EXPECT_NE(list[0].id, list[2].id);
    EXPECT_FALSE(list[0].id.isEmpty());

    EXPECT_TRUE(store().removeCalibration(list[2].id));
    list = store().calibrations();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].name, "ruler");
    EXPECT_DOUBLE_EQ(list[0].real, 1.0);
    EXPECT_EQ(list[1].name, "keep");
    EXPECT_DOUBLE_EQ(list[2].length, 100.5);
    QSettings raw(ini("calibration.ini"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("calibrate/size").toInt(), 3);
    EXPECT_FALSE(raw.contains("calibrate/4/name"));

    // An id nobody has removes nothing and says so.
    EXPECT_FALSE(store().removeCalibration("ruler, 100um"));
    EXPECT_EQ(store().calibrations().size(), 3);
}

TEST_F(Settings, CalibrationsOfTheOldFormLoadAndDeleteOneByOne)
{
    // Written by a version without ids: two entries with the same text.
    writeFile("calibration.ini",
              "[calibrate]\nsize=3\n1\\name=ruler\n1\\length=100\n1\\unit=um\n1\\real=1\n"
              "2\\name=ruler\n2\\length=100\n2\\unit=um\n2\\real=2\n"
              "3\\name=grid\n3\\length=0.5\n3\\unit=mm\n3\\real=2.5\n3\\id=#1\n");
    auto list = store().calibrations();
    ASSERT_EQ(list.size(), 3);
    QSet<QString> ids;
    for (const CalibrationRecord &record : list)
        ids.insert(record.id);
    EXPECT_EQ(ids.size(), 3);
    EXPECT_EQ(store().calibrations()[1].id, list[1].id);  // the same file gives the same ids

    EXPECT_TRUE(store().removeCalibration(list[0].id));
    const auto after = store().calibrations();
    ASSERT_EQ(after.size(), 2);
    EXPECT_DOUBLE_EQ(after[0].real, 2.0);
    EXPECT_EQ(after[0].id, list[1].id);  // stored now, no longer a place
    EXPECT_EQ(after[1].name, "grid");
    EXPECT_EQ(after[1].id, list[2].id);
    EXPECT_TRUE(store().removeCalibration(after[1].id));
    ASSERT_EQ(store().calibrations().size(), 1);
    EXPECT_EQ(store().calibrations()[0].name, "ruler");
}

TEST_F(Settings, CalibrationThatCannotBeWrittenIsReported)
{
    store().addCalibration(calibration("ruler", 100, "um", 1));
    const QString id = store().calibrations()[0].id;
    // A folder in place of the file: nothing can be written there.
    ASSERT_TRUE(QFile::remove(ini("calibration.ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("calibration.ini"));
    EXPECT_FALSE(store().addCalibration(calibration("grid", 1, "mm", 2)));
    QString cause;
    EXPECT_FALSE(store().removeCalibration(id, &cause));
    EXPECT_EQ(cause, "a folder has its name");
}

TEST_F(Settings, CalibrationIsNotAppendedToAFileThatCannotBeParsed)
{
    const QByteArray broken = "[calibrate\nsize=1\n1\\name=ruler\n";
    writeFile("calibration.ini", broken);
    // Read first, as the measuring panel does at start; Qt reports the
    // format error only to the reader that parses the file.
    EXPECT_TRUE(store().calibrations().isEmpty());
    QString cause;
    EXPECT_FALSE(store().addCalibration(calibration("grid", 1, "mm", 2), &cause));
    EXPECT_EQ(cause, "the file is not used");
    EXPECT_FALSE(store().removeCalibration("#1"));
    QFile file(ini("calibration.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), broken);
}

TEST_F(Settings, DamagedCalibrationsAreLeftOutNamedAndKeptAsTheyAre)
{
    writeFile("calibration.ini", "[calibrate]\nsize=5\n1\\name=odd\n1\\length=abc\n1\\unit=um\n1\\real=2\n"
                                 "2\\name=ruler\n2\\length=1\n2\\unit=mm\n2\\real=5\n2\\width=1920\n"
                                 "3\\name=flat\n3\\length=1\n3\\unit=mm\n3\\real=-5\n"
                                 "4\\name=wide\n4\\length=1\n4\\unit=mm\n4\\real=nan\n4\\width=1e9\n"
                                 "5\\name=old\n5\\length=2\n5\\unit=um\n5\\real=0.5\n");
    auto list = store().calibrations();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].name, "ruler");
    EXPECT_EQ(list[0].width, 1920);
    EXPECT_EQ(list[1].name, "old");
    EXPECT_EQ(list[1].width, 0);
    const QList<IgnoredSettings> ignored = store().ignoredSettings();
    ASSERT_EQ(ignored.size(), 1);
    EXPECT_EQ(ignored[0].path, ini("calibration.ini"));
    EXPECT_TRUE(ignored[0].keys.isEmpty());
    EXPECT_EQ(ignored[0].calibrations, QStringList({"odd (entry 1)", "flat (entry 3)", "wide (entry 4)"}));

    // Removing a calibration rewrites the list: the damaged entries stay as
    // they were, only moved up.
    EXPECT_TRUE(store().removeCalibration(list[0].id));
    QSettings raw(ini("calibration.ini"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("calibrate/size").toInt(), 4);
    EXPECT_EQ(raw.value("calibrate/1/length").toString(), "abc");
    EXPECT_EQ(raw.value("calibrate/2/real").toString(), "-5");
    EXPECT_EQ(raw.value("calibrate/3/width").toString(), "1e9");
    list = store().calibrations();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].name, "old");
}

TEST_F(Settings, CrossLinesAreRewrittenWithTheirSize)
{
    CrossInfo line;
    line.direct = 1;
    line.width = 2;
    line.color = Qt::green;
    line.pos = QPointF(10.5, 20);
    line.lock = true;
    store().saveCrossLines({line, line, line});
    store().saveCrossLines({line});
    QSettings raw(ini("cross.ini"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("cross/size").toInt(), 1);
    EXPECT_EQ(raw.value("cross/1/pos").toPointF(), QPointF(10.5, 20));
    EXPECT_EQ(raw.value("cross/1/color").value<QColor>(), QColor(Qt::green));
    EXPECT_TRUE(raw.value("cross/1/lock").toBool());
    store().saveCrossLines({});
    QSettings again(ini("cross.ini"), QSettings::IniFormat);
    EXPECT_EQ(again.value("cross/size").toInt(), 0);
}

TEST_F(Settings, GarbageFilesReadAsDefaultsAndStayUntouched)
{
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919) & 0xff));
    for (const char *name : {"config.ini", "calibration.ini", "cross.ini"})
        writeFile(name, garbage);
    const auto draw = store().loadDraw();
    EXPECT_EQ(draw.value(TextSize).toInt(), 13);
    EXPECT_EQ(draw.value(LineWidth).toInt(), 1);
    EXPECT_TRUE(store().calibrations().isEmpty());
    EXPECT_TRUE(store().loadCommonTools().isEmpty());
    EXPECT_TRUE(store().loadBurstMode().isEmpty());

    // Nothing is written over a file the store could not read.
    store().setDrawValue(FloatNum, 4);
    store().saveCommonTools({{"a", 1}});
    EXPECT_FALSE(store().addCalibration(calibration("ruler", 100, "um", 2)));
    store().saveCrossLines({CrossInfo()});
    QVariant out;
    EXPECT_FALSE(store().drawValue(FloatNum, out));
    for (const char *name : {"config.ini", "calibration.ini", "cross.ini"}) {
        QFile file(ini(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), garbage) << name;
    }
    const QList<SettingsFileProblem> problems = store().unusableFiles();
    ASSERT_EQ(problems.size(), 3);
    EXPECT_EQ(problems[0].path, ini("config.ini"));
    EXPECT_FALSE(problems[0].reason.isEmpty());
}

TEST_F(Settings, OversizedFileIsNeitherParsedNorWritten)
{
    // Two megabytes of a valid INI file: far more than any settings file.
    QByteArray big = "[draw]\nTextSize=40\n";
    while (big.size() < 2 * 1024 * 1024)
        big += "[filler]\nkey=" + QByteArray(1000, 'x') + "\n";
    writeFile("config.ini", big);
    EXPECT_EQ(store().loadDraw().value(TextSize).toInt(), 13);
    store().setDrawValue(TextSize, 20);
    QFile file(ini("config.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), big);
    ASSERT_EQ(store().unusableFiles().size(), 1);
}

TEST_F(Settings, UsableFilesAreNoProblem)
{
    store().setDrawValue(TextSize, 20);
    writeFile("calibration.ini", "[settings]\nUnit=2\n");
    EXPECT_TRUE(store().unusableFiles().isEmpty());
}

TEST_F(Settings, EmptyAndUnreadableFilesReadAsDefaults)
{
    writeFile("config.ini", "");
    EXPECT_EQ(store().loadDraw().size(), 12);
    store().setDrawValue(TextSize, 30);
    if (::geteuid() != 0) {
        QFile::setPermissions(ini("config.ini"), QFileDevice::Permissions());
        EXPECT_EQ(store().loadDraw().value(TextSize).toInt(), 13);
    }
}

TEST_F(Settings, ValuesOutOfRangeReadAsAbsentAndAreNamed)
{
    writeFile("config.ini", "[CommonTool]\ncommontool=just text\n"
                            "[draw]\nLine_Width=-3\nTextSize=1\nDrawMark_Width=nan\nDrawCross_Width=1e308\n"
                            "Line_Color=notacolor\nRingDistance1=1e308\nTextFont=Sans\nLText_Width=@Variant(garbage)\nFloatNum=4\n"
                            "PrefixData=" + QByteArray(100 * 1024, 'p') + "\n"
                            "[burst_mode]\nNumber=-1\nInterval=5\n");
    EXPECT_TRUE(store().loadCommonTools().isEmpty());
    const auto draw = store().loadDraw();
    EXPECT_EQ(draw.value(LineWidth).toInt(), 1);
    EXPECT_EQ(draw.value(TextSize).toInt(), 13);
    EXPECT_EQ(draw.value(CrossWidth).toInt(), 1);
    EXPECT_EQ(draw.value(LTextWidth).toInt(), 13);
    EXPECT_FALSE(draw.contains(LineColor));
    EXPECT_FALSE(draw.contains(RingDistance1));
    EXPECT_FALSE(draw.contains(PrefixData));
    EXPECT_EQ(draw.value(TextFont).toString(), "Sans");
    EXPECT_EQ(draw.value(FloatNum).toInt(), 4);
    QVariant out = 7;
    EXPECT_FALSE(store().drawValue(PrefixData, out));
    EXPECT_EQ(out.toInt(), 7);
    EXPECT_EQ(store().loadBurstMode().keys(), QList<int>({1}));

    const QList<IgnoredSettings> ignored = store().ignoredSettings();
    ASSERT_EQ(ignored.size(), 1);
    EXPECT_EQ(ignored[0].path, ini("config.ini"));
    QStringList keys = ignored[0].keys;
    keys.sort();
    EXPECT_EQ(keys, QStringList({"DrawCross_Width", "DrawMark_Width", "LText_Width", "Line_Color", "Line_Width", "Number",
                                 "PrefixData", "RingDistance1", "TextSize"}));
    EXPECT_TRUE(store().unusableFiles().isEmpty());
}

TEST_F(Settings, AFileNotUsedIsLoggedOnce)
{
    static int notUsed;
    notUsed = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        if (text.startsWith("Settings file not used"))
            ++notUsed;
    });
    writeFile("config.ini", QByteArray(64, '\x01'));
    for (int i = 0; i < 20; ++i)
        store().loadDraw();
    store().unusableFiles();
    qInstallMessageHandler(previous);
    EXPECT_EQ(notUsed, 1);
}

// Whether a file can be used is judged again once it changed on disk.
TEST_F(Settings, AFileIsJudgedAgainWhenItChangesOnDisk)
{
    const auto bytesOf = [this](const char *name) {
        QFile file(ini(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray garbage(64, '\x01');
    store().setDrawValue(TextSize, 20);
    ASSERT_EQ(store().loadDraw().value(TextSize).toInt(), 20);
    writeFile("config.ini", garbage);
    store().setDrawValue(FloatNum, 2);
    EXPECT_EQ(bytesOf("config.ini"), garbage);
    ASSERT_EQ(store().unusableFiles().size(), 1);

    writeFile("calibration.ini", garbage);
    ASSERT_EQ(store().unusableFiles().size(), 2);
    writeFile("calibration.ini", "[settings]\nUnit=2\n");
    EXPECT_EQ(store().loadCalibrationSettings().value(2).toInt(), 2);
    store().setCalibrationSetting(2, 3);
    EXPECT_EQ(store().loadCalibrationSettings().value(2).toInt(), 3);
    EXPECT_EQ(store().unusableFiles().size(), 1);

    // Put back in one step from a copy of the same size and time (a backup
    // restored, an editor's save): a file of its own, not the one judged.
    writeFile("config.ini", "[draw]\nTextSize=20\n");
    ASSERT_EQ(store().loadDraw().value(TextSize).toInt(), 20);
    struct stat judged {};
    ASSERT_EQ(::stat(QFile::encodeName(ini("config.ini")).constData(), &judged), 0);
    const QByteArray sameSize(int(judged.st_size), '\x01');
    writeFile("restored.ini", sameSize);
    const timespec times[2] = {judged.st_atim, judged.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(ini("restored.ini")).constData(), times, 0), 0);
    ASSERT_EQ(std::rename(QFile::encodeName(ini("restored.ini")).constData(),
                          QFile::encodeName(ini("config.ini")).constData()),
              0);
    store().setDrawValue(FloatNum, 2);
    EXPECT_EQ(bytesOf("config.ini"), sameSize);
    EXPECT_EQ(store().unusableFiles().size(), 1);
}

// A write that does not fit leaves the file as it was and is kept: it is
// what reads give, it is told once for each file however many writes then
// fail for the same cause, with every other file not stored, and each
// failure is logged; a calibration's caller gets the cause to tell itself.
// When space returns, everything kept is stored by itself; a failure after
// that is told again, and what is still kept at close is named in the log.
TEST_F(Settings, WritesThatDoNotFitAreKeptToldOncePerFileAndStoredWhenSpaceReturns)
{
    const QString volume = privateVolume();
    if (volume.isEmpty()) {
        runOnPrivateVolume("Settings.WritesThatDoNotFitAreKeptToldOncePerFileAndStoredWhenSpaceReturns", "64k",
                           dir.path());
        return;
    }
    store().setBaseFolderForTesting(volume);
    QList<SettingsWriteFailure> told;
    store().setWriteFailureHandler([&told](const SettingsWriteFailure &failure) { told << failure; });
    const auto bytes = [&volume](const char *name) {
        QFile file(volume + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    store().setBurstModeValue(0, 5);
    const QByteArray before = bytes("config.ini");
    ASSERT_TRUE(fillVolume(volume));
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        if (text.startsWith("Settings "))
            logged << text;
    });
    const QString full = "No space left on device";
    for (int number : {1, 12})
        store().setBurstModeValue(0, number);
    store().setDrawValue(TextSize, 20);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].path, volume + "/config.ini");
    EXPECT_EQ(told[0].cause, full);
    EXPECT_TRUE(told[0].othersNotStored.isEmpty());
    QString cause;
    CalibrationRecord ruler = calibration("ruler", 100, "um", 1);
    EXPECT_FALSE(store().addCalibration(ruler, &cause));
    EXPECT_EQ(cause, full);
    CrossInfo line;
    line.pos = QPointF(12, 34);
    store().saveCrossLines({line});
    const QString database = volume + "/setting.db";
    store().noteWriteOf(database, "database or disk is full");
    ASSERT_EQ(told.size(), 3);
    EXPECT_EQ(told[1].path, volume + "/cross.ini");
    const QMap<QString, QString> others{{volume + "/config.ini", full}, {volume + "/calibration.ini", full}};
    EXPECT_EQ(told[1].othersNotStored, others);
    EXPECT_EQ(told[2].path, database);
    EXPECT_EQ(told[2].othersNotStored.size(), 3);
    EXPECT_EQ(bytes("config.ini"), before);
    EXPECT_EQ(logged.size(), 6) << logged.join("\n").toStdString();
    EXPECT_EQ(store().loadBurstMode().value(0).toInt(), 12);
    ASSERT_EQ(store().calibrations().size(), 1);
    EXPECT_EQ(store().calibrations()[0].name, "ruler");

    ASSERT_TRUE(QFile::remove(volume + "/filler"));
    EXPECT_TRUE(waitFor([&] {
        return bytes("config.ini").contains("Number=12") && bytes("config.ini").contains("TextSize=20")
               && bytes("calibration.ini").contains("name=ruler") && bytes("cross.ini").contains("1\\pos=");
    }));
    EXPECT_EQ(told.size(), 3);
    store().noteWriteOf(database, QString());
    ASSERT_TRUE(fillVolume(volume));
    store().setBurstModeValue(0, 13);
    EXPECT_EQ(told.size(), 4);
    store().storeKeptAtExit();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(logged.contains("Settings lost: burst_mode/Number could not be stored in " + volume
                                + "/config.ini (" + full + ")"))
        << logged.join("\n").toStdString();
    store().setWriteFailureHandler({});
}

TEST_F(Settings, EveryWriteIsOnDiskWhenTheCallReturns)
{
    store().setDrawValue(PrefixData, "sample");
    QFile file(ini("config.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("PrefixData=sample"));
}

TEST(SettingsTypes, EnumerationsAreRegisteredByName)
{
    registerSettingsMetaTypes();
    EXPECT_NE(QMetaType::type("KeyFunction"), 0);
    EXPECT_NE(QMetaType::type("MyLanguage"), 0);
    EXPECT_NE(QMetaType::type("ImgFormat"), 0);
    EXPECT_EQ(imgFormatExtension(ImgFormat::Tiff), ".tiff");
    EXPECT_EQ(imgFormatExtension(static_cast<ImgFormat>(9)), ".jpg");
}
