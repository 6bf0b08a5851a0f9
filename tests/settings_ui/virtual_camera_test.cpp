// The panel with the virtual camera, brought up the way the main window does
// it: listed, opened by itself, every E530 control reaching the device, and
// the values there again after a restart.
#include "settings_ui_test_support.h"

#include <QSignalSpy>

namespace {

using Devices = QMap<QString, QPair<CameraType, QString>>;

class VirtualPanel : public CountedVirtualCamera
{
protected:
    static Devices poll() { return pollLikeTheMainWindow(); }
    static int32_t handle() { return cam_find_context(usbcam::kVirtualCameraPath); }
    static QVariant storedColumn(const char *name)
    {
        return column(CameraDatabase::lookupKey(usbcam::kVirtualCameraPath), QString::fromLatin1(name));
    }
};

template <typename Widget>
Widget *in(CamSettings &panel, const char *name)
{
    return child<Widget>(panel, name);
}

} // namespace

TEST_F(VirtualPanel, ListsOpensAndDrivesTheVirtualCamera)
{
    CamSettings panel;
    MainWindowStandIn window(panel);
    const Devices devices = poll();
    ASSERT_TRUE(devices.contains(usbcam::kVirtualCameraPath));
    panel.detectDevices(devices);
    ASSERT_EQ(window.opens, 1);
    ASSERT_TRUE(window.camera);
    EXPECT_EQ(QString(window.camera->metaObject()->className()), "E530UCamera");
    EXPECT_EQ(in<QComboBox>(panel, "camera_comboBox")->currentText(), "VoCam_1");
    ASSERT_TRUE(waitFor([&] { return window.thread->receivedFrameCount() > 0; }));

    // The E530's controls are there.
    for (const char *name : {"focusValue_horizontalSlider", "brightness_horizontalSlider", "gain_horizontalSlider",
                             "wBRed_horizontalSlider", "saturation_horizontalSlider", "horizontalFlip_rBtn",
                             "verticalFlip_rBtn", "previewRes_comboBox", "format_comboBox"})
        EXPECT_TRUE(shownIn(panel, name)) << name;

    // Switched to manual, the camera reports the white balance and the focus
    // it starts from; the user moves the slider once the panel shows them.
    int startValues = 0;
    for (auto report : {&BaseCamera::sendWbRedValue, &BaseCamera::sendFocusValue})
        QObject::connect(window.camera.data(), report, &panel, [&startValues] { ++startValues; });
    in<QRadioButton>(panel, "expManual_rBtn")->click();
    in<QSlider>(panel, "gain_horizontalSlider")->setValue(20);
    in<QSlider>(panel, "shutter_horizontalSlider")->setValue(90);
    in<QRadioButton>(panel, "wBManual_rBtn")->click();
    ASSERT_TRUE(waitFor([&] { return startValues == 1; }));
    in<QSlider>(panel, "wBRed_horizontalSlider")->setValue(900);
    in<QSlider>(panel, "saturation_horizontalSlider")->setValue(0);
    in<QRadioButton>(panel, "horizontalFlip_rBtn")->click();
    in<QRadioButton>(panel, "verticalFlip_rBtn")->click();
    in<QRadioButton>(panel, "focusManual_rBtn")->click();
    ASSERT_TRUE(waitFor([&] { return startValues == 2; }));
    in<QSlider>(panel, "focusValue_horizontalSlider")->setValue(250);

    EXPECT_TRUE(waitFor([] {
        return cam_get_exposure_mode(handle()) == 0 && cam_get_exposure_gain(handle()) == 20
               && cam_get_exposure_time(handle()) == 90 && cam_get_white_balance_component_red(handle()) == 900
               && cam_get_saturation(handle()) == 0 && cam_get_mirror(handle()) == 1 && cam_get_flip(handle()) == 1
               && cam_get_focus_mode(handle()) == 0 && cam_get_focus(handle()) == 250;
    }));
    EXPECT_TRUE(in<QRadioButton>(panel, "colorModeMono_rBtn")->isChecked());
    EXPECT_EQ(storedColumn("exposureGain").toInt(), 20);
    EXPECT_EQ(storedColumn("whiteBalanceR").toInt(), 900);
    EXPECT_EQ(storedColumn("mirror").toInt(), 1);
    EXPECT_EQ(storedColumn("focusValue").toInt(), 250);
    // What the device reports of its flip and its mirror reaches their own buttons.
    cam_set_flip(handle(), 0);
    QMetaObject::invokeMethod(window.camera.data(), &BaseCamera::onGetFlipStatus, Qt::QueuedConnection);
    EXPECT_TRUE(waitFor([&] { return !in<QRadioButton>(panel, "verticalFlip_rBtn")->isChecked(); }));
    EXPECT_TRUE(in<QRadioButton>(panel, "horizontalFlip_rBtn")->isChecked());
    cam_set_mirror(handle(), 0);
    QMetaObject::invokeMethod(window.camera.data(), &BaseCamera::onGetMirrorStatus, Qt::QueuedConnection);
    EXPECT_TRUE(waitFor([&] { return !in<QRadioButton>(panel, "horizontalFlip_rBtn")->isChecked(); }));
    EXPECT_FALSE(in<QRadioButton>(panel, "verticalFlip_rBtn")->isChecked());

    // The stream follows the resolution list.
    in<QComboBox>(panel, "previewRes_comboBox")->setCurrentText("1920x1080");
    EXPECT_EQ(window.thread->captureSettings().width, 1920);
    EXPECT_EQ(storedColumn("resolution").toString(), "1920x1080");
}

TEST_F(VirtualPanel, ValuesAreThereAgainAfterARestart)
{
    {
        CamSettings panel;
        MainWindowStandIn window(panel);
        panel.detectDevices(poll());
        ASSERT_TRUE(window.camera);
        in<QSlider>(panel, "hue_horizontalSlider")->setValue(70);
        in<QSlider>(panel, "contrast_horizontalSlider")->setValue(30);
        in<QRadioButton>(panel, "pLF50Hz_rBtn")->click();
        in<QComboBox>(panel, "previewRes_comboBox")->setCurrentText("1920x1080");
        ASSERT_TRUE(waitFor([] { return cam_get_hue(handle()) == 70 && cam_get_flick(handle()) == 1; }));
    }
    CamSettings panel;
    MainWindowStandIn window(panel);
    panel.detectDevices(poll());
    ASSERT_TRUE(window.camera);
    EXPECT_EQ(in<QSlider>(panel, "hue_horizontalSlider")->value(), 70);
    EXPECT_EQ(in<QSpinBox>(panel, "contrast_spinBox")->value(), 30);
    EXPECT_TRUE(in<QRadioButton>(panel, "pLF50Hz_rBtn")->isChecked());
    EXPECT_EQ(in<QComboBox>(panel, "previewRes_comboBox")->currentText(), "1920x1080");
    EXPECT_EQ(window.thread->captureSettings().width, 1920);
}

TEST_F(VirtualPanel, UnpluggedCameraIsReopenedWhenItComesBack)
{
    CamSettings panel;
    MainWindowStandIn window(panel);
    panel.detectDevices(poll());
    ASSERT_EQ(window.opens, 1);
    ASSERT_TRUE(waitFor([&] { return window.thread->receivedFrameCount() > 0; }));

    usbcam::setVirtualCameraPresent(false);
    ASSERT_TRUE(waitFor([&] { return window.closes == 1; }, 20000));
    EXPECT_EQ(window.lastReason, CloseDisconnected);
    EXPECT_FALSE(panel.camera());
    panel.detectDevices(poll());
    EXPECT_EQ(window.opens, 1);

    usbcam::setVirtualCameraPresent(true);
    panel.detectDevices(poll());
    EXPECT_EQ(window.opens, 2);
    EXPECT_TRUE(panel.camera());
    EXPECT_TRUE(waitFor([&] { return window.thread && window.thread->receivedFrameCount() > 0; }));
}
