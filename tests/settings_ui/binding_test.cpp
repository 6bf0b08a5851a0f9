// Binding the panel to a camera: every control of the panel reaches the
// camera, every camera notification comes back, and nothing stays connected
// to a camera the panel has let go.
#include "settings_ui_test_support.h"

#include <QButtonGroup>
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

// Slider values and radio-button checks of the panel, by object name.
QMap<QString, int> controlStates(CamSettings &panel)
{
    QMap<QString, int> states;
    for (QSlider *slider : panel.findChildren<QSlider *>())
        states[slider->objectName()] = slider->value();
    for (QRadioButton *radio : panel.findChildren<QRadioButton *>())
        states[radio->objectName()] = radio->isChecked() ? 1 : 0;
    return states;
}

// The radio buttons that go off when `radio` goes on.
QList<QRadioButton *> exclusivePartners(QRadioButton *radio)
{
    QList<QRadioButton *> partners;
    if (radio->group()) {
        for (QAbstractButton *button : radio->group()->buttons())
            if (button != radio && qobject_cast<QRadioButton *>(button))
                partners << static_cast<QRadioButton *>(button);
    } else if (radio->autoExclusive()) {
        const auto siblings =
            radio->parentWidget()->findChildren<QRadioButton *>(QString(), Qt::FindDirectChildrenOnly);
        for (QRadioButton *sibling : siblings)
            if (sibling != radio && sibling->autoExclusive())
                partners << sibling;
    }
    return partners;
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

TEST_F(Binding, EachNotificationMovesItsOwnControlOnlyAndThePictureScaleIsRelayed)
{
    auto camera = bind();
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(everythingSupported()));
    RecordingCamera &from = *camera;
    const auto slider = [&](const char *name) { return child<QSlider>(panel, name); };
    // Each report gets a value its control does not show yet: a slider one step
    // off, a switch the other way round, a mode its button on. A button of an
    // exclusive set takes the others along; `alsoMoves` are the controls the
    // panel's own rules move with it.
    const QStringList focusRule = {"clickFocus_rBtn", "showFocusFrame_rBtn"};
    const struct {
        const char *control;
        std::function<void(int)> send;
        QStringList alsoMoves;
    } reports[] = {
        {"focusValue_horizontalSlider", [&](int v) { emit from.sendFocusValue(v); }, {}},
        {"brightness_horizontalSlider", [&](int v) { emit from.sendExpCompValue(v); }, {}},
        {"gain_horizontalSlider", [&](int v) { emit from.sendExpGainValue(v); }, {}},
        {"shutter_horizontalSlider", [&](int v) { emit from.sendExpTime(v); }, {}},
        {"wBRed_horizontalSlider", [&](int v) { emit from.sendWbRedValue(v); }, {}},
        {"wBGreen_horizontalSlider", [&](int v) { emit from.sendWbGreenValue(v); }, {}},
        {"wBBlue_horizontalSlider", [&](int v) { emit from.sendWbBlueValue(v); }, {}},
        {"hue_horizontalSlider", [&](int v) { emit from.sendHueValue(v); }, {}},
        {"saturation_horizontalSlider", [&](int v) { emit from.sendSaturationValue(v); }, {}},
        {"contrast_horizontalSlider", [&](int v) { emit from.sendContrastValue(v); }, {}},
        {"sharpness_horizontalSlider", [&](int v) { emit from.sendSharpnessValue(v); }, {}},
        {"gamma_horizontalSlider", [&](int v) { emit from.sendGammaValue(v); }, {}},
        {"zoom_horizontalSlider", [&](int v) { emit from.sendZoomValue(v); }, {}},
        {"digitalZoom_horizontalSlider", [&](int v) { emit from.sendDZoomValue(v); }, {}},
        {"focusRegionX_horizontalSlider",
         [&](int v) { emit from.sendFocusRegion(v, slider("focusRegionY_horizontalSlider")->value()); }, {}},
        {"focusRegionY_horizontalSlider",
         [&](int v) { emit from.sendFocusRegion(slider("focusRegionX_horizontalSlider")->value(), v); }, {}},
        {"horizontalFlip_rBtn", [&](int on) { emit from.sendMirrorStatus(on); }, {}},
        {"verticalFlip_rBtn", [&](int on) { emit from.sendFlipStatus(on); }, {}},
        {"activeDefog_rBtn", [&](int on) { emit from.sendDefogStatus(on); }, {}},
        {"colorModeMono_rBtn", [&](int on) { emit from.sendMonoChromeStatus(on); }, {}},
        {"pLF50Hz_rBtn", [&](int on) { emit from.sendFlickStatus(on); }, {}},
        {"expAuto_rBtn", [&](int on) { emit from.sendExpMode(on ? ExposureAuto : ExposureManual); }, {}},
        {"wBAuto_rBtn", [&](int on) { emit from.sendWbMode(on ? WbAuto : WbManual); }, {}},
        {"focusManual_rBtn", [&](int) { emit from.sendFocusMode(FocusManual); }, focusRule},
        {"focusOnce_rBtn", [&](int) { emit from.sendFocusMode(FocusOnce); }, focusRule},
        {"focusAuto_rBtn", [&](int) { emit from.sendFocusMode(FocusAuto); }, focusRule},
        {nullptr, [&](int on) { emit from.sendFocusRegionStatus(on); }, {}},
        {nullptr, [&](int) { emit from.sendDisplayModeValue(DisplayMode(1)); }, {}},
    };
    for (const auto &report : reports) {
        const QMap<QString, int> before = controlStates(panel);
        QMap<QString, int> expected = before;
        int value = 1;
        if (auto *own = report.control ? panel.findChild<QSlider *>(report.control) : nullptr) {
            value = own->value() < own->maximum() ? own->value() + 1 : own->value() - 1;
            expected[report.control] = value;
        } else if (auto *own = report.control ? panel.findChild<QRadioButton *>(report.control) : nullptr) {
            const QList<QRadioButton *> others = exclusivePartners(own);
            value = others.size() > 1 || !own->isChecked() ? 1 : 0;
            expected[report.control] = value;
            for (QRadioButton *other : others)
                expected[other->objectName()] = others.size() == 1 ? !value : 0;
        }
        report.send(value);
        const QMap<QString, int> after = controlStates(panel);
        QStringList moved;
        for (auto it = after.begin(); it != after.end(); ++it)
            if (it.value() != expected.value(it.key()) && !report.alsoMoves.contains(it.key()))
                moved << QStringLiteral("%1 %2 (not %3)").arg(it.key()).arg(it.value()).arg(expected.value(it.key()));
        EXPECT_EQ(moved, QStringList()) << (report.control ? report.control : "(none)");
    }

    QSignalSpy regionUi(&panel, &CamSettings::setFocusRegionUI);
    QSignalSpy scale(&panel, &CamSettings::signalSetPicScale);
    emit from.sendFocusRegion(5, 6);
    emit from.signalSetPicScale(3);
    ASSERT_EQ(regionUi.count(), 1);
    EXPECT_EQ(regionUi.at(0).at(0).toInt(), 5);
    EXPECT_EQ(regionUi.at(0).at(1).toInt(), 6);
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
