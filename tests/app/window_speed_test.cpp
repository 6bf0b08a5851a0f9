// The main window keeps handling its events while a camera comes up and goes:
// the camera a poll lists alone opens while that poll's answer is handled,
// and a close leaves the capture thread to stop on its own.
#include "window_test_support.h"

#include "virtual_backend.h"

#include <QSignalSpy>

TEST_F(WindowTest, SingleListedCameraOpensWhileThePollsAnswerIsHandled)
{
    usbcam::setVirtualCameraPresent(false);
    startWindow();
    usbcam::setVirtualCameraPresent(true);
    CamSettings *panel = window->cameraSettings();
    // An event queued before the answer: the open does not wait for it (no
    // pause that lets the event loop run in between).
    bool eventHandled = false;
    QTimer::singleShot(0, window, [&] { eventHandled = true; });
    bool handledBeforeOpen = true;
    QObject::connect(panel, &CamSettings::openCam, window, [&] { handledBeforeOpen = eventHandled; });
    QSignalSpy opened(panel, &CamSettings::openCam);
    QMap<QString, QPair<CameraType, QString>> devices;
    devices.insert(usbcam::kVirtualCameraPath, {CameraUsb, QStringLiteral("VoCam_1")});
    panel->detectDevices(devices);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_FALSE(handledBeforeOpen);
    EXPECT_TRUE(waitForFrames(20000)) << dialogs.all();
}

TEST_F(WindowTest, CameraClosedAndReopenedAtOnceComesBackOnAFreshCaptureThread)
{
    ASSERT_TRUE(startWithCamera()) << dialogs.all();
    QPointer<CameraPlayThread> first = window->playThread().data();
    auto *toggle = childOf<QPushButton>(window->cameraSettings(), "cameraSwitch_btn");
    toggle->click();
    EXPECT_FALSE(window->playThread());
    // Opened again before the old capture thread has been seen to stop: the
    // camera comes up once it has let go of the device.
    toggle->click();
    EXPECT_TRUE(waitFor([&] { return first.isNull(); }, MainWindow2::kThreadStopWaitMs));
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_NE(window->playThread().data(), first.data());
    EXPECT_TRUE(dialogs.saw("The camera is successfully closed!")) << dialogs.all();
    EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.all();
}

TEST_F(WindowTest, CameraChosenAgainBeforeItsCaptureStartedOpensAtOnce)
{
    startWindow();
    // The first bring-up still reads the camera's parameters: its capture
    // thread has not started, holds no device and is not waited for.
    window->cameraChange("VoCam_1", usbcam::kVirtualCameraPath);
    window->cameraChange("VoCam_1", usbcam::kVirtualCameraPath);
    EXPECT_TRUE(window->playThread());
    ASSERT_TRUE(waitForFrames(20000)) << dialogs.all();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.all();
}
