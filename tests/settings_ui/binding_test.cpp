// Binding the panel to a camera: every control of the panel reaches the
// camera, every camera notification comes back, and nothing stays connected
// to a camera the panel has let go.
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

// The panel's sliders and buttons of one kind that it shows, except those
// that are not for the camera: the open/close switch, the upgrade dialog, the
// presets and save buttons (always disabled), the focus frame (drawn by the
// view) and the region position (taken from the picture). Combo boxes reach
// the capture thread, not the camera.
template <typename Control>
QList<Control *> shownControls(CamSettings &panel)
{
    static const QStringList notForTheCamera = {
        "cameraSwitch_btn",    "cameraUpgrade_btn",   "presetSettings_btn",           "basicSettingsSave_btn",
        "advancedSettingsSave_btn", "showFocusFrame_rBtn", "focusRegionX_horizontalSlider",
        "focusRegionY_horizontalSlider"};
    QList<Control *> controls;
    for (Control *control : panel.findChildren<Control *>())
        if (shownIn(panel, control->objectName().toLatin1().constData())
            && !notForTheCamera.contains(control->objectName()))
            controls << control;
    return controls;
}

} // namespace

TEST_F(Binding, EveryControlOfTheBoundPanelReachesTheCamera)
{
    auto camera = bind();
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(everythingSupported()));
    QStringList unheard;
    const auto reaches = [&](QWidget *control, const std::function<void()> &use) {
        camera->clearCalls();
        use();
        if (camera->calls().isEmpty())
            unheard << control->objectName();
    };
    for (QSlider *slider : shownControls<QSlider>(panel))
        reaches(slider, [slider] { slider->setValue(slider->value() + (slider->value() < slider->maximum() ? 1 : -1)); });
    for (QPushButton *button : shownControls<QPushButton>(panel))
        reaches(button, [button] {
            button->setEnabled(true);
            button->click();
        });
    // A radio button that is on in its group is clicked after the others.
    QList<QRadioButton *> checked;
    for (QRadioButton *radio : shownControls<QRadioButton>(panel)) {
        if (radio->isChecked() && radio->autoExclusive()) {
            checked << radio;
            continue;
        }
        reaches(radio, [radio] {
            radio->setEnabled(true);
            radio->click();
        });
    }
    for (QRadioButton *radio : checked)
        reaches(radio, [radio] { radio->click(); });
    EXPECT_EQ(unheard, QStringList());
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
