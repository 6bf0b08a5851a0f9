// A network camera's upgrade end to end: the panel lists the simulated
// camera on loopback, opens it through the model factory as the main window
// does (the camera object on a control thread of its own), and upgrades it;
// the device library's upgrade script sends the package while the panel
// polls the camera for its progress.
#include "firmware_upgrade.h"
#include "net_test_support.h"
#include "upgrade_test_support.h"

#include <QCryptographicHash>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class NetworkUpgrade : public NetCameraFixture
{
protected:
    void SetUp() override
    {
        NetCameraFixture::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(folder.isValid());
        sim.setModel("W710_IPC");
        panel = std::make_unique<CamSettings>();
        QObject::connect(panel.get(), &CamSettings::openCam, [this](QString, QString) {
            camera = panel->createCamera(settings());
            if (camera)
                camera->moveToThread(&control);
        });
        control.start();
        QMap<QString, QPair<CameraType, QString>> devices;
        devices.insert(QStringLiteral("127.0.0.1"), {CameraNetwork, QStringLiteral("W710")});
        panel->detectDevices(devices);  // a single camera opens by itself
        ASSERT_TRUE(camera);
        ASSERT_TRUE(camera->uniqueName().contains(QLatin1String("W710_IPC")));
    }
    void TearDown() override
    {
        panel.reset();
        camera.reset();
        control.quit();
        control.wait();
        NetCameraFixture::TearDown();
    }
    bool ended(int timeoutMs = 30000)
    {
        return waitFor([this] { return !boxes.texts.isEmpty(); }, timeoutMs);
    }

    QTemporaryDir folder;
    QThread control;
    std::unique_ptr<CamSettings> panel;
    QSharedPointer<BaseCamera> camera;
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
};

} // namespace

TEST_F(NetworkUpgrade, CameraReceivesEveryByteOfThePackage)
{
    const QString path = writePackage(folder, QStringLiteral("update_W710_v5.qpk"), 1000003);
    panel->doUpgrade(path);
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade successful!")});
    const std::string received = sim.upgradeData();
    const QByteArray sent = fileBytes(path);
    EXPECT_EQ(qint64(received.size()), sent.size());
    EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(received), QCryptographicHash::Sha256).toHex(),
              QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(sim.commands().back(), "upgrade_ok");
    EXPECT_FALSE(panel->firmwareUpgrade().isRunning());
}

TEST_F(NetworkUpgrade, CameraAnsweringAfterTheLibrarysWaitIsFollowedToItsEnd)
{
    sim.queueReply(simcam::Reply::answer({}, 6500));  // the library stops waiting after 6 s; the upgrade goes on
    panel->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 70000));
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade successful!")});
    EXPECT_EQ(sim.upgradeData().size(), 70000u);
}

TEST_F(NetworkUpgrade, CameraThatRefusesFails)
{
    sim.queueReply(simcam::Reply::refuse(4097));
    panel->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 4096));
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_TRUE(sim.upgradeData().empty());
}

TEST_F(NetworkUpgrade, PackageTheLibraryRefusesFails)
{
    panel->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 100));  // below 512 bytes
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_TRUE(sim.upgradeData().empty());
}

TEST_F(NetworkUpgrade, CameraThatNeverConfirmsEndsAtTheTimeLimit)
{
    sim.setUpgradeCountSkew(1);  // its counts never match: it is never told to install
    panel->firmwareUpgrade().setNetworkTimeLimitMs(2000);
    panel->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 70000));
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_NE(sim.commands().back(), "upgrade_ok");
}
