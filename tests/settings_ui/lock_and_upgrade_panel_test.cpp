// The panel's advanced-tab lock, its production-test window and its
// firmware upgrade section: what the tab bar does while locked, which camera
// the production-test window talks to, and an upgrade of the bound network
// camera from the Upgrade button to the result.
#include "fake_board.h"
#include "firmware_upgrade.h"
#include "produce_test_dialog.h"
#include "unlock_advanced_settings.h"
#include "upgrade_dialog.h"
#include "upgrade_test_support.h"

#include <QLineEdit>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTabBar>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

const QString kNetworkAddress = QStringLiteral("192.168.1.64");

class PanelLock : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registerCameraMetaTypes();
        panel.resize(378, 911);
        panel.show();
    }

    // Clicks the advanced tab as a user does; `answer` runs in the unlock
    // dialog while it is open (with nothing, the dialog is closed).
    void clickAdvancedTab(const std::function<void(UnlockAdvancedSettings &)> &answer = {})
    {
        asked = false;
        QTimer::singleShot(0, &panel, [this, answer] {
            if (!waitFor([this] { return panel.unlockDialog()->isVisible(); }, 300))
                return;  // not asked
            asked = true;
            if (answer)
                answer(*panel.unlockDialog());
            if (panel.unlockDialog()->isVisible())
                panel.unlockDialog()->close();
        });
        QTabBar *bar = panel.findChild<QTabBar *>();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QTest::qWait(400);
    }
    static void enter(UnlockAdvancedSettings &dialog, const QString &text)
    {
        auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("password_lineEdit"));
        field->setText(text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    QWidget *current() { return panel.currentWidget(); }
    QWidget *tab(const char *name) { return child<QWidget>(panel, name); }

    CamSettings panel;
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
    bool asked = false;
};

} // namespace

TEST_F(PanelLock, ClosingTheUnlockDialogLeavesTheBasicTab)
{
    clickAdvancedTab();
    EXPECT_TRUE(asked);
    EXPECT_EQ(current(), tab("basicSettings_tab"));
    EXPECT_FALSE(panel.isAdvancedUnlocked());
}

TEST_F(PanelLock, WrongPasswordLeavesTheBasicTab)
{
    clickAdvancedTab([](UnlockAdvancedSettings &dialog) { enter(dialog, QStringLiteral("Quintar")); });
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Failed to unlock, wrong password!")});
    EXPECT_EQ(current(), tab("basicSettings_tab"));
}

TEST_F(PanelLock, PasswordOpensTheAdvancedTabForTheRestOfTheRun)
{
    clickAdvancedTab([](UnlockAdvancedSettings &dialog) { enter(dialog, QStringLiteral("quintar")); });
    EXPECT_EQ(current(), tab("advancedSettings_tab"));
    EXPECT_TRUE(panel.isAdvancedUnlocked());

    panel.setCurrentIndex(0);
    clickAdvancedTab();
    EXPECT_FALSE(asked) << "asked again after the unlock";
    EXPECT_EQ(current(), tab("advancedSettings_tab"));
}

TEST_F(PanelLock, AdvancedTabCannotBeReachedAroundTheLock)
{
    panel.setCurrentWidget(tab("advancedSettings_tab"));
    EXPECT_EQ(current(), tab("basicSettings_tab"));
}

TEST_F(PanelLock, FactoryCodeOpensTheProductionTestAndKeepsTheLock)
{
    auto camera = QSharedPointer<RecordingCamera>::create();
    ASSERT_TRUE(bindThroughFactory(panel, camera, kRecordingCameraName));
    clickAdvancedTab([](UnlockAdvancedSettings &dialog) { enter(dialog, QStringLiteral("marbleguide")); });
    EXPECT_EQ(current(), tab("basicSettings_tab"));
    ASSERT_NE(panel.produceTestDialog(), nullptr);
    EXPECT_TRUE(panel.produceTestDialog()->isVisible());
    EXPECT_TRUE(child<QWidget>(*panel.produceTestDialog(), "validationCurve_Btn")->isVisible());
    EXPECT_EQ(panel.produceTestDialog()->size(), QSize(358, 119));

    clickAdvancedTab();
    EXPECT_TRUE(asked) << "the factory code does not unlock the tab";
}

TEST(PanelProductionTest, OneWindowWhoseButtonsFollowTheBoundCamera)
{
    registerCameraMetaTypes();
    CamSettings panel;
    panel.onShowProduceTestDialog();
    EXPECT_EQ(panel.produceTestDialog(), nullptr) << "nothing without a camera";

    auto first = QSharedPointer<RecordingCamera>::create();
    ASSERT_TRUE(bindThroughFactory(panel, first, kRecordingCameraName));
    panel.onShowProduceTestDialog();
    ProduceTestDialog *dialog = panel.produceTestDialog();
    ASSERT_NE(dialog, nullptr);
    panel.onShowProduceTestDialog();
    EXPECT_EQ(panel.produceTestDialog(), dialog);
    child<QPushButton>(*dialog, "CalibrationCurve_Btn")->click();
    EXPECT_TRUE(waitFor([&] { return first->calls().contains(QStringLiteral("onCalibrateCurve")); }));

    const QString w610 = QStringLiteral("usb-0000:00:14.0-4&vid_0edc&pid_0610#000004");
    auto second = QSharedPointer<RecordingCamera>::create(w610);
    ASSERT_TRUE(bindThroughFactory(panel, second, w610));
    first->clearCalls();
    panel.onShowProduceTestDialog();
    EXPECT_EQ(panel.produceTestDialog(), dialog);
    EXPECT_FALSE(child<QWidget>(*dialog, "validationCurve_Btn")->isVisible());
    child<QPushButton>(*dialog, "CalibrationCurve_Btn")->click();
    child<QPushButton>(*dialog, "validationCurve_Btn")->click();
    EXPECT_TRUE(waitFor([&] { return second->calls().contains(QStringLiteral("onValidateCurve")); }));
    EXPECT_TRUE(second->calls().contains(QStringLiteral("onCalibrateCurve")));
    EXPECT_TRUE(first->calls().isEmpty());
}

namespace {

// A network camera listed, opened by the panel and bound, as the main window
// brings one up.
class PanelUpgrade : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registerCameraMetaTypes();
        panel.firmwareUpgrade().usbUpgrade().setBus(&bus);
        camera = QSharedPointer<RecordingCamera>::create(QStringLiteral("W710_IPC"));
        QObject::connect(&panel, &CamSettings::openCam, [this](QString, QString address) {
            ASSERT_TRUE(bindThroughFactory(panel, camera, address, true));
        });
        QMap<QString, QPair<CameraType, QString>> devices;
        devices.insert(kNetworkAddress, {CameraNetwork, QStringLiteral("W710")});
        panel.detectDevices(devices);
        ASSERT_EQ(panel.camera(), camera);
    }
    int polls() const { return camera->calls().count(QStringLiteral("onGetUpgradeStatus")); }

    usbboard::FakeBus bus;
    CamSettings panel;
    QSharedPointer<RecordingCamera> camera;
    MessageBoxAnswer boxes{QStringLiteral("OK"), 60000};
};

} // namespace

TEST_F(PanelUpgrade, UpgradeButtonUpgradesTheBoundNetworkCamera)
{
    QTemporaryDir folder;
    const QString path = writePackage(folder, QStringLiteral("update_w710_v2.qpk"), 4096);
    panel.firmwareUpgrade().dialog()->setFileChooser(
        [&](QWidget *, const QString &, const QString &, const QString &) { return path; });
    QTimer::singleShot(0, &panel, [this] {
        ASSERT_TRUE(waitFor([this] { return panel.firmwareUpgrade().dialog()->isVisible(); }));
        child<QPushButton>(*panel.firmwareUpgrade().dialog(), "openUpgradeFile_btn")->click();
        child<QPushButton>(*panel.firmwareUpgrade().dialog(), "upgrade_btn")->click();  // confirmed with OK
    });
    child<QPushButton>(panel, "cameraUpgrade_btn")->click();

    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Are you sure to upgrade?")});
    EXPECT_TRUE(camera->calls().contains(QStringLiteral("onUpgrade ") + path));
    ASSERT_TRUE(waitFor([this] { return polls() > 0; }));
    emit camera->sendUpgradeStatus(QStringLiteral("doing"), 42);
    EXPECT_EQ(panel.firmwareUpgrade().progressDialog()->value(), 42);
    emit camera->sendUpgradeStatus(QStringLiteral("done"), 100);
    EXPECT_EQ(boxes.texts.last(), QStringLiteral("Upgrade successful!"));
}

TEST_F(PanelUpgrade, LostCameraEndsTheUpgrade)
{
    QSignalSpy closed(&panel, &CamSettings::closeCam);
    panel.doUpgrade(QStringLiteral("/firmware/update_w710.qpk"));
    ASSERT_TRUE(waitFor([this] { return polls() > 0; }));
    panel.closeCameraForReason(kNetworkAddress, CloseDisconnected);
    EXPECT_EQ(closed.size(), 1);
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_FALSE(panel.firmwareUpgrade().isRunning());
}

TEST_F(PanelUpgrade, NetworkCameraWithAPackageForAnotherModel)
{
    panel.doUpgrade(QStringLiteral("/firmware/update_e520.qpk"));
    EXPECT_EQ(boxes.texts, (QStringList{QStringLiteral("The upgrade file is not for current camera!"),
                                        QStringLiteral("Current camera is not support upgrade!")}));
    EXPECT_FALSE(camera->calls().join(' ').contains(QStringLiteral("onUpgrade")));
}

TEST(PanelUpgradeBoard, ListedBoardInUpgradeModeWithoutAnOpenCamera)
{
    registerCameraMetaTypes();
    CamSettings panel;
    usbboard::FakeBus bus;
    panel.firmwareUpgrade().usbUpgrade().setBus(&bus);
    EXPECT_FALSE(panel.hasUsbUpgradeDevice());
    QMap<QString, QPair<CameraType, QString>> devices;
    devices.insert(QStringLiteral("v4l2:usb-0000:00:14.0-3&vid_04b4&pid_0480#000003"), {CameraUsb, QStringLiteral("VoCam_1")});
    panel.detectDevices(devices);
    EXPECT_TRUE(panel.hasUsbUpgradeDevice());
}

TEST(PanelTranslation, LockAndUpgradeDialogsFollowTheLanguage)
{
    registerCameraMetaTypes();
    CamSettings panel;
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QCoreApplication::installTranslator(&translator);
    panel.retranslate();
    EXPECT_EQ(panel.unlockDialog()->windowTitle(), QStringLiteral("高级设置"));
    EXPECT_EQ(panel.firmwareUpgrade().dialog()->windowTitle(), QStringLiteral("升级"));
    QCoreApplication::removeTranslator(&translator);
    panel.retranslate();
    EXPECT_EQ(panel.unlockDialog()->windowTitle(), QStringLiteral("AdvancedSettings"));
}
