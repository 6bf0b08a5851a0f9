// The panel's firmware upgrade: the package name rules, which way a package
// takes, the network camera's status polls and what ends them, and the USB
// board's transfer with its progress dialog.
#include "fake_board.h"
#include "firmware_upgrade.h"
#include "net_camera.h"
#include "upgrade_dialog.h"
#include "upgrade_test_support.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kInvalid = QStringLiteral("Invalid upgrade file name!");
const QString kNotNet = QStringLiteral("Current camera is not support upgrading by net!");
const QString kNotThisCamera = QStringLiteral("The upgrade file is not for current camera!");
const QString kNotSupported = QStringLiteral("Current camera is not support upgrade!");
const QString kNoCamera = QStringLiteral("There is no camera to upgrade!");
const QString kFailed = QStringLiteral("Upgrade failed!");
const QString kSucceeded = QStringLiteral("Upgrade successful!");

QString problem(const char *text)
{
    return text ? QString::fromLatin1(text) : QString();
}

UpgradeTarget networkCamera(const QString &model = QStringLiteral("W710_IPC"))
{
    UpgradeTarget target;
    target.cameraOpen = true;
    target.networkCamera = true;
    target.cameraName = model;
    return target;
}

// A panel stand-in: the target it reports, what it asked the camera, and
// the messages it showed.
class UpgradeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        upgrade = std::make_unique<FirmwareUpgrade>(&panel, [this] { return target; });
        upgrade->usbUpgrade().setBus(&bus);
        upgrade->usbUpgrade().setTiming(quickTiming(20));
        QObject::connect(upgrade.get(), &FirmwareUpgrade::upgradeCamera, [this](QString path) { upgrades << path; });
        QObject::connect(upgrade.get(), &FirmwareUpgrade::getCameraUpgradeStatus, [this] { ++polls; });
    }
    void TearDown() override { upgrade.reset(); }

    QPushButton *cancelButton() const { return upgrade->progressDialog()->findChild<QPushButton *>(); }
    void answer(const QString &status, double percentage) { upgrade->onRecvCameraUpgradeStatus(status, percentage); }
    // Starts a network upgrade of a W710 and waits for its first poll.
    void startNetworkUpgrade()
    {
        target = networkCamera();
        upgrade->doUpgrade(QStringLiteral("/firmware/update_W710_v2.qpk"));
        ASSERT_EQ(upgrades, QStringList{QStringLiteral("/firmware/update_W710_v2.qpk")});
        ASSERT_TRUE(waitFor([this] { return polls > 0; }));
    }

    QWidget panel;
    QTemporaryDir folder;
    usbboard::FakeBus bus;
    UpgradeTarget target;
    std::unique_ptr<FirmwareUpgrade> upgrade;
    QStringList upgrades;
    int polls = 0;
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
};

} // namespace

TEST(UpgradeFileNames, ExtensionsMatchLiterally)
{
    EXPECT_EQ(problem(usbUpgradeFileProblem(QStringLiteral("update-board.bin"))), QString());
    EXPECT_EQ(problem(usbUpgradeFileProblem(QStringLiteral("Board_UPDATE.BIN"))), QString());
    EXPECT_EQ(problem(usbUpgradeFileProblem(QStringLiteral("update_xbin"))), kInvalid);
    EXPECT_EQ(problem(usbUpgradeFileProblem(QStringLiteral("board.bin"))), kInvalid);
    EXPECT_EQ(problem(NetCamera::upgradeFileProblem(QStringLiteral("update_w710xqpk"), QStringLiteral("W710_IPC"))),
              kInvalid);
}

TEST_F(UpgradeTest, PackageOfAnotherModelIsRefusedTwice)
{
    target = networkCamera();
    upgrade->doUpgrade(QStringLiteral("/firmware/update_w620.qpk"));
    EXPECT_EQ(boxes.texts, (QStringList{kNotThisCamera, kNotSupported}));
    EXPECT_EQ(boxes.titles, (QStringList{QStringLiteral("Warning"), QStringLiteral("Warning")}));
    EXPECT_TRUE(upgrades.isEmpty());
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, OpenUsbCameraCannotBeUpgraded)
{
    target.cameraOpen = true;
    target.cameraName = QStringLiteral("usb-0000:00:14.0-1&vid_0edc&pid_5830#000001");
    upgrade->doUpgrade(QStringLiteral("/firmware/update.bin"));
    EXPECT_EQ(boxes.texts, QStringList{kNotSupported});
}

TEST_F(UpgradeTest, NothingToUpgrade)
{
    upgrade->doUpgrade(QStringLiteral("/firmware/update.bin"));
    EXPECT_EQ(boxes.texts, QStringList{kNoCamera});
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, BoardInUpgradeModeIsFoundByNameOrOnTheBus)
{
    EXPECT_FALSE(upgrade->hasUsbUpgradeDevice({}));
    EXPECT_FALSE(upgrade->hasUsbUpgradeDevice({QStringLiteral("usb-1&vid_04b4&PID_0480#1")}));
    EXPECT_TRUE(upgrade->hasUsbUpgradeDevice({QStringLiteral("x"), QStringLiteral("usb-1&vid_04b4&pid_0480#1")}));
    bus.addDevice(kUsbUpgradeVendorId, kUsbUpgradeProductId);
    EXPECT_TRUE(upgrade->hasUsbUpgradeDevice({}));
}

TEST_F(UpgradeTest, NetworkUpgradePollsUntilTheCameraSaysDone)
{
    startNetworkUpgrade();
    QProgressDialog *progress = upgrade->progressDialog();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->labelText(), QStringLiteral("Upgrading, please not disconnect!"));
    EXPECT_EQ(cancelButton(), nullptr) << "the camera's upgrade can't be stopped from here";

    answer(QStringLiteral("doing"), 37.8);
    EXPECT_EQ(progress->value(), 37);
    answer(QStringLiteral("doing"), 100);  // the device is told to install; not done yet
    EXPECT_TRUE(upgrade->isRunning());
    EXPECT_TRUE(boxes.texts.isEmpty());
    answer(QStringLiteral("done"), 100);
    EXPECT_EQ(boxes.texts, QStringList{kSucceeded});
    EXPECT_EQ(boxes.titles, QStringList{QStringLiteral("Info")});
    EXPECT_FALSE(upgrade->isRunning());
    EXPECT_FALSE(progress->isVisible());

    const int pollsAtEnd = polls;
    QTest::qWait(300);
    EXPECT_EQ(polls, pollsAtEnd) << "the status timer stops";
    answer(QStringLiteral("done"), 100);  // a late answer changes nothing
    EXPECT_EQ(boxes.texts.size(), 1);
}

TEST_F(UpgradeTest, HundredPercentWithAnErrorIsAFailure)
{
    startNetworkUpgrade();
    answer(QStringLiteral("failed"), 100);
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, DoneShortOfHundredPercentIsAFailure)
{
    startNetworkUpgrade();
    answer(QStringLiteral("doing"), 37);
    answer(QStringLiteral("done"), 37);
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
}

TEST_F(UpgradeTest, StatusThatIsNoOutcomeWaitsForTheNextPoll)
{
    startNetworkUpgrade();
    answer(QStringLiteral("checking"), 95);
    EXPECT_TRUE(upgrade->isRunning());
    EXPECT_TRUE(boxes.texts.isEmpty());
    answer(QStringLiteral("done"), 100);
    EXPECT_EQ(boxes.texts, QStringList{kSucceeded});
}

TEST_F(UpgradeTest, RefusedUpgradeFailsAtOnce)
{
    startNetworkUpgrade();
    answer(QString(), -1);
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    EXPECT_FALSE(upgrade->progressDialog()->isVisible());
}

TEST_F(UpgradeTest, CameraThatRefusesWhileAskedEndsTheUpgradeBeforeAnyPoll)
{
    target = networkCamera();
    QObject::connect(upgrade.get(), &FirmwareUpgrade::upgradeCamera,
                     [this](QString) { answer(QString(), -1); });  // a direct connection: the answer comes first
    upgrade->doUpgrade(QStringLiteral("/firmware/update_w710.qpk"));
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    QTest::qWait(300);
    EXPECT_EQ(polls, 0);
}

TEST_F(UpgradeTest, ClosingTheCameraStopsThePolls)
{
    startNetworkUpgrade();
    answer(QStringLiteral("doing"), 50);
    upgrade->cameraClosed();
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    const int pollsAtClose = polls;
    QTest::qWait(300);
    EXPECT_EQ(polls, pollsAtClose);
}

TEST_F(UpgradeTest, StuckUpgradeEndsAtTheTimeLimit)
{
    upgrade->setNetworkTimeLimitMs(400);
    startNetworkUpgrade();
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(100);
        answer(QStringLiteral("doing"), 12);
    }
    ASSERT_TRUE(waitFor([this] { return !boxes.texts.isEmpty(); }, 20000));
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, UnansweredPollIsNotRepeatedEveryTick)
{
    startNetworkUpgrade();
    QTest::qWait(500);
    EXPECT_EQ(polls, 1);
    answer(QStringLiteral("doing"), 5);
    ASSERT_TRUE(waitFor([this] { return polls == 2; }, 20000));
}

TEST_F(UpgradeTest, SecondUpgradeWaitsForTheFirst)
{
    startNetworkUpgrade();
    upgrade->doUpgrade(QStringLiteral("/firmware/update_w710_v3.qpk"));
    EXPECT_EQ(upgrades.size(), 1);
    EXPECT_TRUE(boxes.texts.isEmpty());
    answer(QStringLiteral("done"), 100);
}

TEST_F(UpgradeTest, UsbBoardGetsThePackageWithProgressInBytes)
{
    auto board = std::make_shared<usbboard::FakeBoard>();
    board->setReplies({{}, usbboard::FakeBoard::Packet{0x91, 0x01, 0x04, 0x72, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}});
    board->setWriteDelayMs(2);
    bus.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, board);
    const QString path = writePackage(folder, QStringLiteral("board_update.bin"), 300 * 1024 + 7);

    upgrade->doUpgrade(path);
    QProgressDialog *progress = upgrade->progressDialog();
    EXPECT_TRUE(progress->isVisible());
    ASSERT_NE(cancelButton(), nullptr);
    EXPECT_EQ(cancelButton()->text(), QStringLiteral("Cancel"));
    ASSERT_TRUE(waitFor([&] { return progress->maximum() == 300 * 1024 + 7 && progress->value() > 0; }));
    ASSERT_TRUE(waitFor([&] { return !boxes.texts.isEmpty(); }, 10000));
    EXPECT_EQ(boxes.texts, QStringList{kSucceeded});
    EXPECT_EQ(board->packetCount(), 303u);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, CancelledUsbTransferSendsNoFinishPacket)
{
    auto board = std::make_shared<usbboard::FakeBoard>();
    board->setWriteDelayMs(3);
    bus.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, board);
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("update.bin"), 500 * 1024));
    ASSERT_TRUE(board->waitForPackets(10, 5000));
    ASSERT_NE(cancelButton(), nullptr);
    cancelButton()->click();
    ASSERT_TRUE(waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    EXPECT_LT(board->packetCount(), 400u);
    EXPECT_EQ(board->readCount(), 0);
    EXPECT_FALSE(upgrade->isRunning());
}

TEST_F(UpgradeTest, UsbUpgradeThatCannotStartFailsAtOnce)
{
    target.listedDevices = QStringList{QStringLiteral("usb-1-2&vid_04b4&pid_0480#000001")};  // listed, but gone
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("update.bin"), 4096));
    EXPECT_EQ(boxes.texts, QStringList{kFailed});

    boxes.texts.clear();
    bus.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, std::make_shared<usbboard::FakeBoard>());
    upgrade->doUpgrade(folder.filePath(QStringLiteral("missing_update.bin")));
    EXPECT_EQ(boxes.texts, QStringList{kFailed});
    EXPECT_FALSE(upgrade->progressDialog()->isVisible());
}

TEST_F(UpgradeTest, UsbPackageWithAWrongNameIsRefused)
{
    bus.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, std::make_shared<usbboard::FakeBoard>());
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("firmware.bin"), 4096));
    EXPECT_EQ(boxes.texts, (QStringList{kInvalid, kNoCamera}));
}

TEST(UpgradeTranslations, MessagesAndDialogsSpeakChinese)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/Language/language_cn.qm")));
    QCoreApplication::installTranslator(&translator);
    {
        QWidget panel;
        usbboard::FakeBus bus;
        FirmwareUpgrade upgrade(&panel, [] { return networkCamera(); });
        upgrade.usbUpgrade().setBus(&bus);
        MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
        upgrade.doUpgrade(QStringLiteral("/firmware/update_w620.qpk"));
        EXPECT_EQ(boxes.texts, (QStringList{QStringLiteral("该升级文件不适用于当前相机！"),
                                            QStringLiteral("当前相机不支持升级！")}));
        EXPECT_EQ(boxes.titles.value(0), QStringLiteral("警告"));
        EXPECT_EQ(QCoreApplication::translate("UsbTransfer", "Writing an upgrade file !"),
                  QStringLiteral("正在写入升级文件！"));
        upgrade.retranslate();
        EXPECT_EQ(upgrade.dialog()->windowTitle(), QStringLiteral("升级"));
    }
    QCoreApplication::removeTranslator(&translator);
}
