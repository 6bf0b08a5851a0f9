// Photo settings: every change stored at once and announced, the window
// built from what is stored, and the snapshot file names built from it.
#include "photo_naming.h"
#include "photo_settings.h"
#include "test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class Photo : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SettingsStore::instance().setBaseFolderForTesting(dir.path());
        registerSettingsMetaTypes();
    }
    QVariant raw(const QString &key) const
    {
        return QSettings(dir.path() + "/config.ini", QSettings::IniFormat).value("draw/" + key);
    }
    template <typename T>
    static T *child(QWidget &window, const char *name)
    {
        T *found = window.findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(Photo, AFreshConfigurationChoosesTimeNamingAndWritesNothing)
{
    PhotoSettings window;
    EXPECT_TRUE(child<QCheckBox>(window, "timeNaming_checkBox")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(window, "scanCodeNaming_checkBox")->isChecked());
    EXPECT_EQ(child<QComboBox>(window, "format_comboBox")->currentText(), "jpg");
    EXPECT_TRUE(child<QRadioButton>(window, "manualNaming_rBtn")->isChecked());
    // What the window shows is what the store reads without these keys.
    EXPECT_FALSE(QFile::exists(dir.path() + "/config.ini"));
    EXPECT_TRUE(child<QLineEdit>(window, "savePath_lineEdit")->text().endsWith("/" + QCoreApplication::applicationName()));
    EXPECT_TRUE(child<QCheckBox>(window, "autoIndex_checkBox")->isHidden());
    EXPECT_TRUE(child<QLineEdit>(window, "exampleName_lineEdit")->isHidden());
}

TEST_F(Photo, EveryChangeIsStoredBeforeItIsAnnounced)
{
    PhotoSettings window;
    QList<std::pair<int, QVariant>> sent;
    QObject::connect(&window, &PhotoSettings::changeDrawProp, [&](DrawProperty id, const QVariant &value) {
        QVariant stored;
        SettingsStore::instance().drawValue(id, stored);
        EXPECT_EQ(stored, value) << id;
        sent.append({id, value});
    });
    child<QRadioButton>(window, "autoNaming_rBtn")->click();
    child<QRadioButton>(window, "snapOpenImageY_rBtn")->click();
    child<QRadioButton>(window, "saveGraphicsY_rBtn")->click();
    child<QComboBox>(window, "format_comboBox")->setCurrentIndex(2);
    child<QLineEdit>(window, "prefix_lineEdit")->setText("lens");
    child<QCheckBox>(window, "scanCodeNaming_checkBox")->click();
    ASSERT_EQ(sent.size(), 6);
    EXPECT_EQ(sent[0], std::make_pair(int(QuickSave), QVariant(1u)));
    EXPECT_EQ(sent[1], std::make_pair(int(SnapOpenImage), QVariant(1u)));
    EXPECT_EQ(sent[2], std::make_pair(int(SaveGraphics), QVariant(1u)));
    EXPECT_EQ(sent[3], std::make_pair(int(PhotoFormat), QVariant(int(ImgFormat::Tiff))));
    EXPECT_EQ(sent[4], std::make_pair(int(PrefixData), QVariant("lens")));
    EXPECT_EQ(sent[5], std::make_pair(int(SaveType), QVariant(0)));
    EXPECT_FALSE(child<QCheckBox>(window, "timeNaming_checkBox")->isChecked());
    EXPECT_FALSE(child<QLineEdit>(window, "prefix_lineEdit")->isEnabled());

    // Back to the time: 1, and the prefix comes back.
    child<QCheckBox>(window, "timeNaming_checkBox")->click();
    EXPECT_EQ(raw("SaveType").toInt(), 1);
    EXPECT_FALSE(child<QCheckBox>(window, "scanCodeNaming_checkBox")->isChecked());
    EXPECT_TRUE(child<QLineEdit>(window, "prefix_lineEdit")->isEnabled());
}

TEST_F(Photo, ManualNamingGreysOutTheNameParts)
{
    PhotoSettings window;
    child<QRadioButton>(window, "autoNaming_rBtn")->click();
    child<QCheckBox>(window, "scanCodeNaming_checkBox")->click();
    child<QRadioButton>(window, "manualNaming_rBtn")->click();
    for (const char *name : {"timeNaming_checkBox", "scanCodeNaming_checkBox", "autoIndex_checkBox"})
        EXPECT_FALSE(child<QCheckBox>(window, name)->isEnabled()) << name;
    EXPECT_FALSE(child<QLineEdit>(window, "prefix_lineEdit")->isEnabled());
    child<QRadioButton>(window, "autoNaming_rBtn")->click();
    EXPECT_TRUE(child<QCheckBox>(window, "timeNaming_checkBox")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(window, "prefix_lineEdit")->isEnabled());  // scan code still chosen
}

TEST_F(Photo, StoredValuesComeBack)
{
    const SettingsStore &store = SettingsStore::instance();
    store.setDrawValue(PhotoFormat, 2);
    store.setDrawValue(QuickSave, 1u);
    store.setDrawValue(SnapOpenImage, 1u);
    store.setDrawValue(SaveGraphics, 0u);
    store.setDrawValue(PrefixData, "wafer");
    store.setDrawValue(SaveType, 0);
    store.setDrawValue(QuickSavePath, "/data/shots");
    PhotoSettings window;
    EXPECT_EQ(child<QComboBox>(window, "format_comboBox")->currentText(), "tiff");
    EXPECT_TRUE(child<QRadioButton>(window, "autoNaming_rBtn")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(window, "snapOpenImageY_rBtn")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(window, "saveGraphicsN_tBtn")->isChecked());
    EXPECT_EQ(child<QLineEdit>(window, "prefix_lineEdit")->text(), "wafer");
    EXPECT_TRUE(child<QCheckBox>(window, "scanCodeNaming_checkBox")->isChecked());
    EXPECT_FALSE(child<QLineEdit>(window, "prefix_lineEdit")->isEnabled());
    EXPECT_EQ(child<QLineEdit>(window, "savePath_lineEdit")->text(), "/data/shots");
}

TEST_F(Photo, UnreadableFormatShowsJpgAndHiddenFlagsStay)
{
    SettingsStore::instance().setDrawValue(PhotoFormat, "png");
    SettingsStore::instance().setDrawValue(SaveType, 5);
    PhotoSettings window;
    EXPECT_EQ(child<QComboBox>(window, "format_comboBox")->currentText(), "jpg");
    EXPECT_FALSE(child<QCheckBox>(window, "timeNaming_checkBox")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(window, "scanCodeNaming_checkBox")->isChecked());
    EXPECT_EQ(raw("SaveType").toInt(), 5);
}

TEST_F(Photo, ALongPrefixShowsInFullAsTheToolTip)
{
    PhotoSettings window;
    window.show();
    auto *prefix = child<QLineEdit>(window, "prefix_lineEdit");
    prefix->setText("a");
    EXPECT_TRUE(prefix->toolTip().isEmpty());
    const QString longText(200, QLatin1Char('w'));
    prefix->setText(longText);
    EXPECT_EQ(prefix->toolTip(), longText);
}

// The prefix field takes no longer a prefix than the store keeps: what was
// written reads back at the next start as itself.
TEST_F(Photo, APrefixIsNoLongerThanTheStoreKeeps)
{
    const QString typed(300, QLatin1Char('p'));
    {
        PhotoSettings window;
        child<QRadioButton>(window, "autoNaming_rBtn")->click();
        auto *prefix = child<QLineEdit>(window, "prefix_lineEdit");
        prefix->clear();
        QTest::keyClicks(prefix, typed);
        EXPECT_EQ(prefix->text(), typed.left(kLongestPhotoPrefix));
    }
    EXPECT_EQ(raw("PrefixData").toString(), typed.left(kLongestPhotoPrefix));
    EXPECT_TRUE(SettingsStore::instance().ignoredSettings().isEmpty());
    EXPECT_EQ(SettingsStore::instance().loadDraw().value(PrefixData).toString(), typed.left(kLongestPhotoPrefix));
    PhotoSettings next;
    EXPECT_EQ(child<QLineEdit>(next, "prefix_lineEdit")->text(), typed.left(kLongestPhotoPrefix));
}

TEST_F(Photo, ChosenFolderIsStoredAndACancelledChoiceKeepsTheOld)
{
    PhotoSettings window;
    QSignalSpy spy(&window, &PhotoSettings::changeDrawProp);
    const QString folder = dir.path() + "/shots";
    ASSERT_TRUE(QDir().mkpath(folder));
    auto answer = [&](bool accept) {
        // The file dialog may take a while to come up on a loaded machine.
        QTimer::singleShot(0, [&, accept] {
            QFileDialog *dialog = nullptr;
            ASSERT_TRUE(waitFor([&] { return (dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())); },
                                10000));
            if (accept) {
                dialog->selectFile(folder);
                static_cast<QDialog *>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        child<QPushButton>(window, "openSavePath_btn")->click();
    };
    answer(false);
    EXPECT_TRUE(spy.isEmpty());
    answer(true);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), int(QuickSavePath));
    EXPECT_EQ(QDir(spy.at(0).at(1).toString()), QDir(folder));
    EXPECT_EQ(QDir(raw("QuickSavePath").toString()), QDir(folder));
    EXPECT_EQ(QDir(child<QLineEdit>(window, "savePath_lineEdit")->text()), QDir(folder));
}

TEST_F(Photo, SnapshotNamesFollowTheStoredSettings)
{
    const QString folder = dir.path() + "/pictures/today";
    SettingsStore::instance().setDrawValue(QuickSavePath, folder);
    const QDateTime now(QDate(2024, 1, 2), QTime(3, 4, 5, 6));
    {
        PhotoSettings window;
        child<QRadioButton>(window, "autoNaming_rBtn")->click();
        child<QLineEdit>(window, "prefix_lineEdit")->setText("lens");
        child<QComboBox>(window, "format_comboBox")->setCurrentIndex(1);
    }
    const QString path = automaticSnapshotPath(SettingsStore::instance().loadDraw(), now);
    EXPECT_EQ(path, folder + "/lens_20240102_030405_006.bmp");
    ASSERT_FALSE(QDir(folder).exists());
    ASSERT_TRUE(prepareSnapshotFolder(path));
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    EXPECT_TRUE(picture.save(path));

    QMap<int, QVariant> settings = SettingsStore::instance().loadDraw();
    settings[PrefixData] = QString();
    settings[PhotoFormat] = 7;  // no format: JPEG
    EXPECT_EQ(automaticSnapshotPath(settings, now), folder + "/20240102_030405_006.jpg");
    // Scan code naming has no code to use: the time keeps names apart.
    settings[SaveType] = 0;
    settings[PrefixData] = "lens";
    EXPECT_EQ(automaticSnapshotPath(settings, now), folder + "/20240102_030405_006.jpg");
    // A prefix names a file, it cannot lead elsewhere.
    settings[SaveType] = 1;
    settings[PrefixData] = "../up";
    EXPECT_EQ(automaticSnapshotPath(settings, now), folder + "/.._up_20240102_030405_006.jpg");
}
