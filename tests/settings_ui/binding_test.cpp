// Binding the panel to a camera: every panel signal reaches the camera slot
// of its name, every camera notification comes back, and nothing stays
// connected to a camera the panel has let go.
#include "settings_ui_test_support.h"

#include <QSignalSpy>

namespace {

class Binding : public CountedDatabase
{
protected:

    // Binds a new recording camera through createCamera and returns it.
    QSharedPointer<RecordingCamera> bind(const QString &name = kRecordingCameraName)
    {
        auto camera = QSharedPointer<RecordingCamera>::create(name);
        EXPECT_TRUE(insertRowFor(name));
        EXPECT_TRUE(bindThroughFactory(panel, camera, name));
        camera->clearCalls();
        return camera;
    }

    CamSettings panel;
};

} // namespace

TEST_F(Binding, EveryPanelSignalReachesItsCameraSlot)
{
    auto camera = bind();
    const std::pair<std::function<void()>, QString> cases[] = {
        {[&] { emit panel.setCameraFocusMode(FocusOnce); }, "onSetFocusMode 3"},
        {[&] { emit panel.setCameraFocusValue(7); }, "onSetFocusValue 7"},
        {[&] { emit panel.setCameraFocusAdd(); }, "onSetFocusAdd"},
        {[&] { emit panel.setCameraFocusSub(); }, "onSetFocusSub"},
        {[&] { emit panel.setCameraFocusOnce(); }, "onSetFocusOnce"},
        {[&] { emit panel.setCameraExpMode(ExposureManual); }, "onSetExpMode 2"},
        {[&] { emit panel.setCameraExpCompValue(8); }, "onSetExpCompValue 8"},
        {[&] { emit panel.setCameraExpGainValue(9); }, "onSetExpGainValue 9"},
        {[&] { emit panel.setCameraExpTime(10); }, "onSetExpTime 10"},
        {[&] { emit panel.saveCameraConfig(); }, "onSaveCameraConfig"},
        {[&] { IpInfo info; info.ip = "10.0.0.5"; emit panel.setCameraIp(info); }, "onSetIp 10.0.0.5"},
        {[&] { emit panel.upgradeCamera("update.qpk"); }, "onUpgrade update.qpk"},
        {[&] { emit panel.setCameraFocusRegionStatus(true); }, "onSetFocusRegionStatus true"},
        {[&] { emit panel.setCameraFocusRegion(3, 4); }, "onSetFocusRegion 3,4"},
        {[&] { emit panel.setCameraFlickStatus(true); }, "onSetFilckStatus true"},
        {[&] { emit panel.setCameraMotorCenter(); }, "onSetMotorCenter"},
        {[&] { emit panel.setCameraWbMode(WbManual); }, "onSetWbMode 2"},
        {[&] { emit panel.setCameraWbRedValue(11); }, "onSetWbRedValue 11"},
        {[&] { emit panel.setCameraWbGreenValue(12); }, "onSetWbGreenValue 12"},
        {[&] { emit panel.setCameraWbBlueValue(13); }, "onSetWbBlueValue 13"},
        {[&] { emit panel.setCameraMirrorStatus(true); }, "onSetMirrorStatus true"},
        {[&] { emit panel.setCameraFlipStatus(false); }, "onSetFlipStatus false"},
        {[&] { emit panel.setCameraHueValue(14); }, "onSetHueValue 14"},
        {[&] { emit panel.setCameraSaturationValue(15); }, "onSetSaturationValue 15"},
        {[&] { emit panel.setCameraContrastValue(16); }, "onSetContrastValue 16"},
        {[&] { emit panel.setCameraSharpnessValue(17); }, "onSetSharpnessValue 17"},
        {[&] { emit panel.setCameraDZoomValue(18); }, "onSetDZoomValue 18"},
        {[&] { emit panel.setCameraZoomValue(19); }, "onSetZoomValue 19"},
        {[&] { emit panel.setCameraDefogStatus(true); }, "onSetDefogStatus true"},
        {[&] { emit panel.setCameraMonoChromeStatus(true); }, "onSetMonoChromeStatus true"},
        {[&] { emit panel.setCameraGammaValue(20); }, "onSetGammaValue 20"},
        {[&] { emit panel.resetCamera(); }, "onReset"},
        {[&] { emit panel.setCameraWhiteBalanceOnce(); }, "onSetWhiteBalanceOnce"},
        {[&] { emit panel.setCameraDisplayMode(DisplayMetallography); }, "onSetCameraDisplayMode 1"},
        {[&] { emit panel.resetCameraBasicSettings(); }, "onResetBasicSettings"},
        {[&] { emit panel.resetCameraAdvancedSettings(); }, "onResetAdvancedSettings"},
        {[&] { emit panel.getCameraFocusMode(); }, "onGetFocusMode"},
        {[&] { emit panel.getCameraFocusValue(); }, "onGetFocusValue"},
        {[&] { emit panel.getCameraExpMode(); }, "onGetExpMode"},
        {[&] { emit panel.getCameraExpCompValue(); }, "onGetExpCompValue"},
        {[&] { emit panel.getCameraExpGainValue(); }, "onGetExpGainValue"},
        {[&] { emit panel.getCameraExpTime(); }, "onGetExpTime"},
        {[&] { emit panel.getCameraIpInfo(); }, "onGetIpInfo"},
        {[&] { emit panel.getCameraUpgradeStatus(); }, "onGetUpgradeStatus"},
        {[&] { emit panel.getCameraFocusRegion(); }, "onGetFocusRegion"},
        {[&] { emit panel.getCameraWbMode(); }, "onGetWbMode"},
        {[&] { emit panel.getCameraWbRedValue(); }, "onGetWbRedValue"},
        {[&] { emit panel.getCameraWbGreenValue(); }, "onGetWbGreenValue"},
        {[&] { emit panel.getCameraWbBlueValue(); }, "onGetWbBlueValue"},
        {[&] { emit panel.getCameraMirrorStatus(); }, "onGetMirrorStatus"},
        {[&] { emit panel.getCameraFlipStatus(); }, "onGetFlipStatus"},
        {[&] { emit panel.getCameraHueValue(); }, "onGetHueValue"},
        {[&] { emit panel.getCameraSaturationValue(); }, "onGetSaturationValue"},
        {[&] { emit panel.getCameraContrastValue(); }, "onGetContrastValue"},
        {[&] { emit panel.getCameraSharpnessValue(); }, "onGetSharpnessValue"},
        {[&] { emit panel.getCameraDZoomValue(); }, "onGetDZoomValue"},
        {[&] { emit panel.getCameraZoomValue(); }, "onGetZoomValue"},
        {[&] { emit panel.getCameraDefogStatus(); }, "onGetDefogStatus"},
        {[&] { emit panel.getCameraGammaValue(); }, "onGetGammaValue"},
        {[&] { emit panel.getCameraMonoChromeStatus(); }, "onGetMonoChromeStatus"},
        {[&] { emit panel.getCameraFlickStatus(); }, "onGetFlickStatus"},
        {[&] { emit panel.getCameraDisplayMode(); }, "onGetCameraDisplayMode"},
    };
    for (const auto &entry : cases) {
        camera->clearCalls();
        entry.first();
        EXPECT_EQ(camera->calls(), QStringList({entry.second}));
    }
    // Nothing answers the focus-region status request.
    camera->clearCalls();
    emit panel.getCameraFocusRegionStatus();
    EXPECT_TRUE(camera->calls().isEmpty());
}

TEST_F(Binding, NotificationsComeBackAndThePictureScaleIsRelayed)
{
    auto camera = bind();
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(everythingSupported()));
    QSignalSpy regionUi(&panel, &CamSettings::setFocusRegionUI);
    QSignalSpy scale(&panel, &CamSettings::signalSetPicScale);
    emit camera->sendHueValue(77);
    emit camera->sendFocusRegion(5, 6);
    emit camera->sendFlickStatus(true);
    emit camera->signalSetPicScale(3);
    EXPECT_EQ(child<QSlider>(panel, "hue_horizontalSlider")->value(), 77);
    EXPECT_EQ(child<QSpinBox>(panel, "hue_spinBox")->value(), 77);
    EXPECT_EQ(child<QSlider>(panel, "focusRegionX_horizontalSlider")->value(), 5);
    ASSERT_EQ(regionUi.count(), 1);
    EXPECT_EQ(regionUi.at(0).at(1).toInt(), 6);
    EXPECT_TRUE(child<QRadioButton>(panel, "pLF50Hz_rBtn")->isChecked());
    ASSERT_EQ(scale.count(), 1);
    EXPECT_EQ(scale.at(0).at(0).toInt(), 3);
}

TEST_F(Binding, TenSwitchesLeaveOnlyTheLastCameraConnected)
{
    QList<QSharedPointer<RecordingCamera>> cameras;
    for (int i = 0; i < 10; ++i)
        cameras << bind(QStringLiteral("usb-recording&vid_0000&pid_000%1#000000").arg(i));
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(everythingSupported()));
    for (const auto &camera : cameras)
        camera->clearCalls();

    emit panel.setCameraHueValue(5);
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(cameras[i]->calls().isEmpty()) << i;
        EXPECT_FALSE(cameras[i]->isHeard(&BaseCamera::sendHueValue)) << i;
    }
    EXPECT_EQ(cameras[9]->calls(), QStringList({"onSetHueValue 5"}));
    emit cameras[3]->sendContrastValue(99);
    EXPECT_NE(child<QSlider>(panel, "contrast_horizontalSlider")->value(), 99);

    panel.closeCameraForReason(QStringLiteral("usb-recording&vid_0000&pid_0009#000000"), CloseDone);
    EXPECT_FALSE(panel.camera());
    EXPECT_FALSE(cameras[9]->isHeard(&BaseCamera::sendHueValue));
    cameras[9]->clearCalls();
    emit panel.setCameraHueValue(6);
    EXPECT_TRUE(cameras[9]->calls().isEmpty());
}

TEST_F(Binding, UnknownModelBindsNothing)
{
    panel.setCameraFactory([](const QString &) { return QSharedPointer<BaseCamera>(); });
    CameraOpenSettings settings;
    settings.usb.devicePath = QStringLiteral("usb-unknown&vid_0000&pid_9999#000000");
    EXPECT_FALSE(panel.createCamera(settings));
    EXPECT_FALSE(panel.camera());
}

TEST_F(Binding, CameraIsReleasedOnItsControlThread)
{
    QThread control;
    control.start();
    panel.setCameraFactory(createCamera);
    CameraOpenSettings settings;
    settings.usb.devicePath = usbcam::kVirtualCameraPath;
    settings.usb.controlContext = -1;
    QSharedPointer<BaseCamera> camera = panel.createCamera(settings);
    ASSERT_TRUE(camera);
    camera->moveToThread(&control);
    std::atomic<QThread *> diedOn{nullptr};
    QObject::connect(camera.data(), &QObject::destroyed, camera.data(),
                     [&diedOn] { diedOn = QThread::currentThread(); }, Qt::DirectConnection);
    camera.reset();  // the panel holds the last reference now
    panel.closeCameraForReason(usbcam::kVirtualCameraPath, CloseDone);
    EXPECT_TRUE(waitFor([&] { return diedOn.load() != nullptr; }));
    EXPECT_EQ(diedOn.load(), &control);
    control.quit();
    control.wait();
}

TEST_F(Binding, CameraGetsItsOpenSettingsAndThePanel)
{
    auto camera = bind();
    EXPECT_EQ(camera->settingsPanel(), &panel);
    EXPECT_EQ(camera->getOpenSettings().usb.devicePath, kRecordingCameraName);
    EXPECT_EQ(camera->uniqueName(), kRecordingCameraName);
}
