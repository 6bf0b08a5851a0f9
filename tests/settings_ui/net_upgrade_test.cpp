// The network camera's upgrade from the panel's side, end to end: the device
// library's upgrade script sends the package to the simulated camera on
// loopback while the panel polls its progress. The camera object is a
// stand-in that makes the two library requests a network camera makes.
#include "firmware_upgrade.h"
#include "sim_camera.h"
#include "trovix.h"
#include "upgrade_test_support.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// The upgrade requests of a network camera, on a thread of its own as the
// camera objects live on the main window's control thread.
class LibraryCamera : public QObject
{
    Q_OBJECT
public:
    explicit LibraryCamera(int port) : port_(port) {}

public slots:
    void onUpgrade(QString filePath)
    {
        const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("upgrade")},
                                  {QStringLiteral("ip"), QStringLiteral("127.0.0.1")},
                                  {QStringLiteral("port"), port_},
                                  {QStringLiteral("path"), filePath}};
        if (send(request).isEmpty())
            emit sendUpgradeStatus(QString(), -1.0);
    }
    void onGetUpgradeStatus()
    {
        const QJsonObject request{{QStringLiteral("cmd"), QStringLiteral("status_upgrade")},
                                  {QStringLiteral("ip"), QStringLiteral("127.0.0.1")},
                                  {QStringLiteral("port"), port_}};
        const QJsonObject status = send(request).value(QStringLiteral("status_upgrade")).toObject();
        if (!status.isEmpty())
            emit sendUpgradeStatus(status.value(QStringLiteral("status")).toString(),
                                   status.value(QStringLiteral("percentage")).toDouble());
    }

signals:
    void sendUpgradeStatus(QString status, double percentage);

private:
    // The reply of a library-level request; null when it failed.
    static QJsonObject send(const QJsonObject &request)
    {
        char *reply = nullptr;
        const int code =
            trovix_request(0, QJsonDocument(request).toJson(QJsonDocument::Compact).constData(), &reply);
        const QByteArray text(reply ? reply : "");
        trovix_free(reply);
        if (code != 0)
            return QJsonObject();
        QJsonObject object = QJsonDocument::fromJson(text).object();
        return object.isEmpty() ? QJsonObject{{QStringLiteral("cmd"), QString()}} : object;
    }

    int port_;
};

class NetworkUpgrade : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        port = device.start();
        ASSERT_NE(port, 0);
        ASSERT_EQ(trovix_init(""), 0);
        camera = new LibraryCamera(port);
        camera->moveToThread(&control);
        control.start();
        UpgradeTarget target;
        target.cameraOpen = target.networkCamera = true;
        target.cameraName = QStringLiteral("W710_IPC");
        upgrade = std::make_unique<FirmwareUpgrade>(&panel, [target] { return target; });
        QObject::connect(upgrade.get(), &FirmwareUpgrade::upgradeCamera, camera, &LibraryCamera::onUpgrade);
        QObject::connect(upgrade.get(), &FirmwareUpgrade::getCameraUpgradeStatus, camera,
                         &LibraryCamera::onGetUpgradeStatus);
        QObject::connect(camera, &LibraryCamera::sendUpgradeStatus, upgrade.get(),
                         &FirmwareUpgrade::onRecvCameraUpgradeStatus);
    }
    void TearDown() override
    {
        upgrade.reset();
        control.quit();
        control.wait();
        delete camera;
        trovix_quit();
        device.stop();
    }
    bool ended(int timeoutMs = 20000)
    {
        return waitFor([this] { return !boxes.texts.isEmpty(); }, timeoutMs);
    }

    QTemporaryDir folder;
    simcam::SimCamera device;
    int port = 0;
    QThread control;
    LibraryCamera *camera = nullptr;
    QWidget panel;
    std::unique_ptr<FirmwareUpgrade> upgrade;
    MessageBoxAnswer boxes{QMessageBox::NoButton, 60000};
};

} // namespace

TEST_F(NetworkUpgrade, CameraReceivesEveryByteOfThePackage)
{
    const QString path = writePackage(folder, QStringLiteral("update_W710_v5.qpk"), 1000003);
    upgrade->doUpgrade(path);
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade successful!")});
    const std::string received = device.upgradeData();
    const QByteArray sent = fileBytes(path);
    EXPECT_EQ(qint64(received.size()), sent.size());
    EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(received), QCryptographicHash::Sha256).toHex(),
              QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(device.commands().back(), "upgrade_ok");
}

TEST_F(NetworkUpgrade, CameraThatRefusesFails)
{
    device.queueReply(simcam::Reply::refuse(4097));
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 4096));
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_TRUE(device.upgradeData().empty());
}

TEST_F(NetworkUpgrade, PackageTheLibraryRefusesFails)
{
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 100));  // below 512 bytes
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_EQ(device.connectionsAccepted(), 0);
}

TEST_F(NetworkUpgrade, CameraThatNeverConfirmsEndsAtTheTimeLimit)
{
    device.setUpgradeCountSkew(1);  // its counts never match: it is never told to install
    upgrade->setNetworkTimeLimitMs(2000);
    upgrade->doUpgrade(writePackage(folder, QStringLiteral("update_w710.qpk"), 70000));
    ASSERT_TRUE(ended());
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Upgrade failed!")});
    EXPECT_NE(device.commands().back(), "upgrade_ok");
}

#include "net_upgrade_test.moc"
