// The model factory: which class a device name gets, and on which thread a
// camera object dies.
#include "camera_test_support.h"

#include <QThread>

#include <atomic>

namespace {

QString className(const QSharedPointer<BaseCamera> &camera)
{
    return camera ? QString::fromLatin1(camera->metaObject()->className()) : QString();
}

QString v4l2Path(const char *vendorAndProduct)
{
    return QStringLiteral("v4l2:usb-0000:00:14.0-1&%1#000003").arg(QLatin1String(vendorAndProduct));
}

} // namespace

TEST(CameraFactory, EveryUsbModelByItsProductId)
{
    const std::pair<const char *, const char *> models[] = {
        {"0610", "W610UCamera"}, {"e170", "E170Camera"}, {"0620", "W620UCamera"}, {"0710", "W710UCamera"},
        {"e150", "E150Camera"},  {"0480", "R480Camera"}, {"e520", "E520UCamera"}, {"e530", "E530UCamera"},
        {"e540", "E540UCamera"}, {"1370", "V370Camera"}, {"1330", "V330Camera"},  {"1350", "V350Camera"},
        {"1390", "V390Camera"}};
    for (const auto &model : models) {
        const QString path = v4l2Path(QStringLiteral("vid_32e4&pid_%1").arg(model.first).toLatin1().constData());
        EXPECT_EQ(className(createCamera(path)), model.second) << model.first;
    }
}

TEST(CameraFactory, EveryNetworkModelByItsModelText)
{
    const std::pair<const char *, const char *> models[] = {
        {"W710_IPC", "W710NetCamera"}, {"Y260_IPC", "Y260NetCamera"}, {"W620_IPC", "W620NetCamera"},
        {"W640_IPC", "W640NetCamera"}, {"E520_IPC", "E520NetCamera"}, {"E530_IPC", "E530NetCamera"},
        {"E540_IPC", "E540NetCamera"}};
    for (const auto &model : models)
        EXPECT_EQ(className(createCamera(QLatin1String(model.first))), model.second) << model.first;
    // Anywhere in the text, case-sensitive, the first model of the list first.
    EXPECT_EQ(className(createCamera(QStringLiteral("SN7 W710_IPC_V2"))), "W710NetCamera");
    EXPECT_EQ(className(createCamera(QStringLiteral("E530_IPC W710_IPC"))), "W710NetCamera");
    for (const char *other : {"w710_ipc", "W710", "E530IPC", "0710"})
        EXPECT_TRUE(createCamera(QLatin1String(other)).isNull()) << other;
}

TEST(CameraFactory, ProductIdInEitherCase)
{
    EXPECT_EQ(className(createCamera(QStringLiteral("\\\\?\\usb#vid_32E4&PID_E170&MI_00#7&1b2&0&0000"))),
              "E170Camera");
    EXPECT_EQ(className(createCamera(usbcam::kVirtualCameraPath)), "E530UCamera");
}

TEST(CameraFactory, OnlyTheProductIdPicksTheModel)
{
    // The vendor id and the bus address hold other models' digits.
    EXPECT_EQ(className(createCamera(QStringLiteral("v4l2:usb-0000:06:10.0-1370&vid_0610&pid_e530#000001"))),
              "E530UCamera");
    EXPECT_TRUE(createCamera(v4l2Path("vid_1330&pid_1234")).isNull());
    EXPECT_TRUE(createCamera(QStringLiteral("v4l2:usb-e150-0610#000001")).isNull());
    EXPECT_TRUE(createCamera(QString()).isNull());
}

TEST(CameraFactory, UpgradeModeBoards)
{
    EXPECT_TRUE(isUpgradeModeDevice(v4l2Path("vid_04b4&pid_0480")));
    EXPECT_TRUE(isUpgradeModeDevice(QStringLiteral("\\\\?\\usb#vid_04b4&PID_0480#5&2c")));
    EXPECT_FALSE(isUpgradeModeDevice(v4l2Path("vid_0480&pid_e530")));
    EXPECT_FALSE(isUpgradeModeDevice(QStringLiteral("W710_IPC")));
    EXPECT_EQ(usbProductIdText(v4l2Path("vid_04b4&pid_E150")), "e150");
    EXPECT_EQ(usbProductIdText(QStringLiteral("pid_e15")), QString());
}

TEST(CameraFactory, CameraDiesOnItsOwnThread)
{
    QThread control;
    control.start();
    QSharedPointer<BaseCamera> camera = createCamera(usbcam::kVirtualCameraPath);
    ASSERT_TRUE(camera);
    camera->moveToThread(&control);
    std::atomic<QThread *> diedOn{nullptr};
    QObject::connect(camera.data(), &QObject::destroyed, camera.data(),
                     [&diedOn] { diedOn = QThread::currentThread(); }, Qt::DirectConnection);
    camera.reset();
    for (int i = 0; i < 4000 && !diedOn.load(); ++i)
        QThread::msleep(5);
    EXPECT_EQ(diedOn.load(), &control);
    control.quit();
    control.wait();
}

TEST(CameraFactory, CameraOfAStoppedThreadDiesAtOnce)
{
    QThread control;
    control.start();
    QSharedPointer<BaseCamera> camera = createCamera(usbcam::kVirtualCameraPath);
    camera->moveToThread(&control);
    control.quit();
    control.wait();
    bool died = false;
    QObject::connect(camera.data(), &QObject::destroyed, [&died] { died = true; });
    camera.reset();
    EXPECT_TRUE(died);
}
