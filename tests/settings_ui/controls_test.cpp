// Every control of the panel: what it sends to the camera, what it stores in
// the camera's row, and how the camera's reports move it without echoing.
#include "settings_ui_test_support.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>

#include <utility>

namespace {

const QString kUsbName = QStringLiteral("usb-recording&vid_0000&pid_e530#000000");

class Controls : public CountedDatabase
{
protected:
    void SetUp() override
    {
        CountedDatabase::SetUp();
        bindCamera(kUsbName, everythingSupported());
    }

    void bindCamera(const QString &name, const CameraParameters &params)
    {
        camera = QSharedPointer<RecordingCamera>::create(name);
        ASSERT_TRUE(bindThroughFactory(panel, camera, name));
        key = CameraDatabase::lookupKey(name);
        ASSERT_TRUE(insertRowFor(name));
        panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(params));
        QCoreApplication::processEvents();  // the camera's own set-up, queued to it
        camera->clearCalls();
        clearWrites();
    }

    QSlider *slider(const char *name) { return child<QSlider>(panel, name); }
    QRadioButton *radio(const char *name) { return child<QRadioButton>(panel, name); }
    QVariant stored(const char *columnName) { return column(key, QString::fromLatin1(columnName)); }

    CamSettings panel;
    QSharedPointer<RecordingCamera> camera;
    QString key;
};

} // namespace

TEST_F(Controls, EachSliderSendsOnceAndStoresOnce)
{
    const struct {
        const char *slider;
        const char *slot;
        const char *column;
        int value;
    } cases[] = {
        {"focusValue_horizontalSlider", "onSetFocusValue", "focusValue", 123},
        {"brightness_horizontalSlider", "onSetExpCompValue", "exposureCompensation", 77},
        {"shutter_horizontalSlider", "onSetExpTime", "exposureTime", 78},
        {"gain_horizontalSlider", "onSetExpGainValue", "exposureGain", 79},
        {"wBRed_horizontalSlider", "onSetWbRedValue", "whiteBalanceR", 1000},
        {"wBGreen_horizontalSlider", "onSetWbGreenValue", "whiteBalanceG", 1001},
        {"wBBlue_horizontalSlider", "onSetWbBlueValue", "whiteBalanceB", 1002},
        {"hue_horizontalSlider", "onSetHueValue", "hueValue", 33},
        {"saturation_horizontalSlider", "onSetSaturationValue", "saturationValue", 34},
        {"contrast_horizontalSlider", "onSetContrastValue", "contrastValue", 35},
        {"sharpness_horizontalSlider", "onSetSharpnessValue", "sharpnessValue", 36},
        {"gamma_horizontalSlider", "onSetGammaValue", "HDRValue", 37},
        {"zoom_horizontalSlider", "onSetZoomValue", "Zoom", 38},
    };
    for (const auto &entry : cases) {
        camera->clearCalls();
        clearWrites();
        slider(entry.slider)->setValue(entry.value);
        EXPECT_EQ(camera->calls(), QStringList({QStringLiteral("%1 %2").arg(entry.slot).arg(entry.value)}))
            << entry.slider;
        EXPECT_EQ(writes(), 1) << entry.slider;
        EXPECT_EQ(stored(entry.column).toInt(), entry.value) << entry.slider;
    }
}

TEST_F(Controls, SpinBoxMovesItsSliderAndSendsOnce)
{
    child<QSpinBox>(panel, "contrast_spinBox")->setValue(61);
    EXPECT_EQ(slider("contrast_horizontalSlider")->value(), 61);
    EXPECT_EQ(camera->calls(), QStringList({"onSetContrastValue 61"}));
    EXPECT_EQ(writes(), 1);
}

TEST_F(Controls, EachSwitchSendsAndStores)
{
    const struct {
        const char *button;
        QStringList calls;
        const char *column;
        int value;
    } cases[] = {
        {"horizontalFlip_rBtn", {"onSetMirrorStatus true"}, "mirror", 1},
        {"verticalFlip_rBtn", {"onSetFlipStatus true"}, "flip", 1},
        {"activeDefog_rBtn", {"onSetDefogStatus true"}, "defogMode", 1},
        {"pLF50Hz_rBtn", {"onSetFilckStatus true"}, "frameMode", 1},
        {"expAuto_rBtn", {"onSetExpMode 1"}, "exposureMode", 1},
        {"wBAuto_rBtn", {"onSetWbMode 1"}, "whiteBalanceMode", 1},
        {"focusAuto_rBtn", {"onSetFocusMode 1", "onSetFocusRegionStatus true"}, "focusMode", 1},
        {"focusOnce_rBtn", {"onSetFocusMode 3", "onSetFocusRegionStatus false"}, "focusMode", 3},
    };
    for (const auto &entry : cases) {
        camera->clearCalls();
        clearWrites();
        radio(entry.button)->click();
        EXPECT_EQ(camera->calls(), entry.calls) << entry.button;
        EXPECT_EQ(writes(), 1) << entry.button;
        EXPECT_EQ(stored(entry.column).toInt(), entry.value) << entry.button;
    }
    // The colour mode is sent, not stored.
    camera->clearCalls();
    clearWrites();
    radio("colorModeMono_rBtn")->click();
    EXPECT_EQ(camera->calls(), QStringList({"onSetMonoChromeStatus true"}));
    EXPECT_EQ(writes(), 0);
}

TEST_F(Controls, CameraReportMovesTheWidgetWithoutEcho)
{
    // A device that reports one more than it was given would otherwise be
    // answered for ever.
    camera->reaction = [](RecordingCamera &self, const QString &slot, const QVariant &value) {
        if (slot == "onSetHueValue")
            QMetaObject::invokeMethod(&self, [&self, value] { emit self.sendHueValue(value.toInt() + 1); },
                                      Qt::QueuedConnection);
    };
    slider("hue_horizontalSlider")->setValue(33);
    ASSERT_TRUE(waitFor([&] { return slider("hue_horizontalSlider")->value() == 34; }));
    QTest::qWait(50);
    EXPECT_EQ(camera->calls(), QStringList({"onSetHueValue 33"}));
    EXPECT_EQ(child<QSpinBox>(panel, "hue_spinBox")->value(), 34);
    EXPECT_EQ(stored("hueValue").toInt(), 34);
    EXPECT_EQ(writes(), 2);  // the user's value, then the camera's
}

TEST_F(Controls, ReportedModesApplyTheirRulesWithoutSending)
{
    emit camera->sendExpMode(ExposureAuto);
    EXPECT_TRUE(radio("expAuto_rBtn")->isChecked());
    EXPECT_TRUE(slider("brightness_horizontalSlider")->isEnabled());
    EXPECT_FALSE(slider("gain_horizontalSlider")->isEnabled());
    emit camera->sendWbMode(WbAuto);
    EXPECT_FALSE(slider("wBRed_horizontalSlider")->isEnabled());
    // A report that comes in while another is applied (the event loop runs
    // under a box opened meanwhile) is applied too, and the end of it is not
    // the end of the first: the focus frame's switch still goes unsent.
    bool nestedReport = false;
    const auto duringReport = QObject::connect(&panel, &CamSettings::focusRegionChanged, [&] {
        if (std::exchange(nestedReport, true))
            return;
        QMetaObject::invokeMethod(camera.data(), [this] { emit camera->sendHueValue(71); }, Qt::QueuedConnection);
        EXPECT_TRUE(waitFor([&] { return slider("hue_horizontalSlider")->value() == 71; }));
    });
    emit camera->sendFocusMode(FocusAuto);
    QObject::disconnect(duringReport);
    EXPECT_TRUE(nestedReport);
    EXPECT_TRUE(radio("clickFocus_rBtn")->isChecked());
    EXPECT_EQ(slider("hue_horizontalSlider")->value(), 71);
    EXPECT_TRUE(camera->calls().isEmpty());
    EXPECT_EQ(stored("hueValue").toInt(), 71);
    EXPECT_EQ(stored("exposureMode").toInt(), 1);
    EXPECT_EQ(stored("whiteBalanceMode").toInt(), 1);
    EXPECT_EQ(stored("focusMode").toInt(), 1);
    // Both reports over, the user's change goes to the camera.
    slider("hue_horizontalSlider")->setValue(72);
    EXPECT_EQ(camera->calls(), QStringList({"onSetHueValue 72"}));

    // A mode the panel has no button for changes nothing.
    clearWrites();
    panel.onRecvCameraFocusMode(FocusMode(4));
    EXPECT_TRUE(radio("focusAuto_rBtn")->isChecked());
    EXPECT_EQ(writes(), 0);
}

TEST_F(Controls, SaturationZeroMeansMonochrome)
{
    slider("saturation_horizontalSlider")->setValue(0);
    EXPECT_TRUE(radio("colorModeMono_rBtn")->isChecked());
    EXPECT_EQ(camera->calls(), QStringList({"onSetSaturationValue 0"}));
    camera->clearCalls();
    emit camera->sendSaturationValue(12);
    EXPECT_TRUE(radio("colorModeRGB_rBtn")->isChecked());
    emit camera->sendSaturationValue(0);
    EXPECT_TRUE(radio("colorModeMono_rBtn")->isChecked());
    EXPECT_TRUE(camera->calls().isEmpty());
}

TEST_F(Controls, ZoomBoxShowsTheMagnification)
{
    auto *zoomBox = child<QDoubleSpinBox>(panel, "zoom_spinBox");
    EXPECT_DOUBLE_EQ(zoomBox->minimum(), 1.0);
    EXPECT_DOUBLE_EQ(zoomBox->maximum(), 84.0);  // zoom range 0..200
    slider("zoom_horizontalSlider")->setValue(130);
    EXPECT_DOUBLE_EQ(zoomBox->value(), 14.0);
    slider("zoom_horizontalSlider")->setValue(131);
    EXPECT_DOUBLE_EQ(zoomBox->value(), 15.0);
    zoomBox->setValue(14.1);
    EXPECT_EQ(slider("zoom_horizontalSlider")->value(), 130);
    zoomBox->setValue(2.3);
    EXPECT_EQ(slider("zoom_horizontalSlider")->value(), 13);
}

TEST_F(Controls, DigitalZoomOnlyAtFullZoomAndStoredAsOneSum)
{
    QSlider *zoom = slider("zoom_horizontalSlider");
    QSlider *digital = slider("digitalZoom_horizontalSlider");
    EXPECT_FALSE(digital->isEnabled());
    zoom->setValue(200);
    EXPECT_TRUE(digital->isEnabled());
    digital->setValue(20);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(panel, "digitalZoom_spinBox")->value(), 3.0);
    EXPECT_EQ(stored("Zoom").toInt(), 220);
    camera->clearCalls();
    zoom->setValue(150);
    EXPECT_FALSE(digital->isEnabled());
    EXPECT_EQ(digital->value(), 0);
    EXPECT_EQ(camera->calls(), QStringList({"onSetDZoomValue 0", "onSetZoomValue 150"}));
    EXPECT_EQ(stored("Zoom").toInt(), 150);
}

TEST_F(Controls, WheelStepsZoomThenDigitalZoom)
{
    QSlider *zoom = slider("zoom_horizontalSlider");
    QSlider *digital = slider("digitalZoom_horizontalSlider");
    zoom->setValue(199);
    panel.onIncreaseOrDecreaseZoom(true);
    EXPECT_EQ(zoom->value(), 200);
    panel.onIncreaseOrDecreaseZoom(true);
    EXPECT_EQ(digital->value(), 1);
    panel.onIncreaseOrDecreaseZoom(false);
    EXPECT_EQ(digital->value(), 0);
    panel.onIncreaseOrDecreaseZoom(false);
    EXPECT_EQ(zoom->value(), 199);
}

TEST_F(Controls, WheelStepsFocusOnlyInManualFocus)
{
    QSlider *focus = slider("focusValue_horizontalSlider");
    ASSERT_TRUE(radio("focusManual_rBtn")->isChecked());
    panel.onIncreaseOrDecreaseFoucs(true);
    EXPECT_EQ(focus->value(), 201);
    EXPECT_EQ(camera->calls(), QStringList({"onSetFocusValue 201"}));
    radio("focusAuto_rBtn")->click();
    camera->clearCalls();
    panel.onIncreaseOrDecreaseFoucs(false);
    EXPECT_EQ(focus->value(), 201);
    EXPECT_TRUE(camera->calls().isEmpty());
}

TEST_F(Controls, StepFocusCamerasGetStepRequests)
{
    CameraParameters params = everythingSupported();
    params.focusSlider = false;
    bindCamera(kUsbName, params);
    EXPECT_FALSE(shownIn(panel, "focusValue_horizontalSlider"));
    EXPECT_TRUE(shownIn(panel, "focusAdd_btn"));
    panel.onIncreaseOrDecreaseFoucs(true);
    panel.onIncreaseOrDecreaseFoucs(false);
    EXPECT_EQ(camera->calls(), QStringList({"onSetFocusAdd", "onSetFocusSub"}));
}

TEST_F(Controls, OnceWhiteBalanceFirstSwitchesToManual)
{
    radio("wBAuto_rBtn")->click();
    camera->clearCalls();
    child<QPushButton>(panel, "wBOnce_btn")->click();
    EXPECT_TRUE(radio("wBManual_rBtn")->isChecked());
    EXPECT_EQ(camera->calls(), QStringList({"onSetWbMode 2", "onSetWhiteBalanceOnce"}));
    EXPECT_EQ(stored("whiteBalanceMode").toInt(), 2);
}

TEST_F(Controls, MotorCentreSwitchesThePanelToManualWithoutAModeRequest)
{
    radio("focusAuto_rBtn")->click();
    camera->clearCalls();
    child<QPushButton>(panel, "montorCenter_btn")->click();
    EXPECT_TRUE(radio("focusManual_rBtn")->isChecked());
    EXPECT_TRUE(slider("focusValue_horizontalSlider")->isEnabled());
    EXPECT_FALSE(radio("clickFocus_rBtn")->isEnabled());
    EXPECT_EQ(camera->calls(), QStringList({"onSetMotorCenter", "onSetFocusRegionStatus false"}));
    EXPECT_EQ(stored("focusMode").toInt(), 2);
}

TEST_F(Controls, FocusRegionFromThePictureAndFromTheCamera)
{
    QSignalSpy regionUi(&panel, &CamSettings::setFocusRegionUI);
    panel.onSetFocusRegion(3, 4);
    EXPECT_EQ(slider("focusRegionX_horizontalSlider")->value(), 3);
    EXPECT_EQ(slider("focusRegionY_horizontalSlider")->value(), 4);
    EXPECT_EQ(camera->calls(), QStringList({"onSetFocusRegion 3,4"}));
    EXPECT_EQ(regionUi.count(), 0);
    QSignalSpy changed(&panel, &CamSettings::focusRegionChanged);
    radio("showFocusFrame_rBtn")->setEnabled(true);
    radio("showFocusFrame_rBtn")->click();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_TRUE(changed.at(0).at(2).toBool());
}

TEST_F(Controls, DrawingModesSuspendAndRestoreTheFocusChoice)
{
    radio("focusAuto_rBtn")->click();
    ASSERT_TRUE(radio("clickFocus_rBtn")->isChecked());
    panel.restoreFocusRegionState();  // nothing saved: nothing happens
    EXPECT_TRUE(radio("focusAuto_rBtn")->isChecked());

    clearWrites();
    camera->clearCalls();
    panel.saveFocusRegionState();
    panel.saveFocusRegionState();  // a second mode change keeps the first choice
    EXPECT_TRUE(radio("focusManual_rBtn")->isChecked());
    EXPECT_FALSE(radio("clickFocus_rBtn")->isChecked());
    EXPECT_FALSE(radio("focusAuto_rBtn")->isEnabled());
    EXPECT_EQ(camera->calls(), QStringList({"onSetFocusMode 2", "onSetFocusRegionStatus false"}));
    // Where autofocus left the lens is shown, not stored.
    emit camera->sendFocusValue(321);
    EXPECT_EQ(slider("focusValue_horizontalSlider")->value(), 321);
    panel.restoreFocusRegionState();
    EXPECT_TRUE(radio("focusAuto_rBtn")->isChecked());
    EXPECT_TRUE(radio("clickFocus_rBtn")->isChecked());
    EXPECT_TRUE(radio("showFocusFrame_rBtn")->isChecked());
    EXPECT_TRUE(radio("focusAuto_rBtn")->isEnabled());
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(stored("focusMode").toInt(), 1);

    // Manual and one-shot focus come back as they were.
    for (const char *mode : {"focusManual_rBtn", "focusOnce_rBtn"}) {
        radio(mode)->click();
        panel.saveFocusRegionState();
        panel.restoreFocusRegionState();
        EXPECT_TRUE(radio(mode)->isChecked()) << mode;
    }
}

TEST_F(Controls, ModeButtonsForStitchingActLikeAUser)
{
    panel.setExpModeUI(ExposureAuto);
    panel.setWbModeUI(WbAuto);
    panel.setFocusModeUI(FocusAuto);
    panel.setFocusModeUI(9);
    EXPECT_EQ(camera->calls(),
              QStringList({"onSetExpMode 1", "onSetWbMode 1", "onSetFocusMode 1", "onSetFocusRegionStatus true"}));
    panel.setFocusValueUI(42);  // auto focus: ignored
    EXPECT_NE(slider("focusValue_horizontalSlider")->value(), 42);
    panel.setFocusModeUI(FocusManual);
    panel.setFocusValueUI(42);
    EXPECT_EQ(slider("focusValue_horizontalSlider")->value(), 42);
}

TEST_F(Controls, CloseResetsEveryControlAndStoresNothing)
{
    slider("hue_horizontalSlider")->setValue(90);
    radio("verticalFlip_rBtn")->click();
    clearWrites();
    camera->clearCalls();
    QSignalSpy closed(&panel, &CamSettings::closeCam);
    panel.closeCameraForReason(kUsbName, CloseDisconnected);
    ASSERT_EQ(closed.count(), 1);
    for (QSlider *each : panel.findChildren<QSlider *>())
        EXPECT_EQ(each->value(), each->minimum()) << each->objectName().toStdString();
    for (const char *name : {"focusAuto_rBtn", "expAuto_rBtn", "wBAuto_rBtn", "colorModeRGB_rBtn", "pLF60Hz_rBtn"})
        EXPECT_TRUE(radio(name)->isChecked()) << name;
    for (const char *name :
         {"showFocusFrame_rBtn", "clickFocus_rBtn", "verticalFlip_rBtn", "horizontalFlip_rBtn", "activeDefog_rBtn"})
        EXPECT_FALSE(radio(name)->isChecked()) << name;
    EXPECT_EQ(writes(), 0);
    EXPECT_TRUE(camera->calls().isEmpty());
    EXPECT_EQ(stored("hueValue").toInt(), 90);
}

TEST_F(Controls, ResetButtonsAndIpRequestNeedNoStore)
{
    child<QPushButton>(panel, "basicSettingsAllReset_btn")->click();
    child<QPushButton>(panel, "advancedSettingsAllReset_btn")->click();
    child<QPushButton>(panel, "changeIP_btn")->click();
    EXPECT_EQ(camera->calls(), QStringList({"onResetBasicSettings", "onResetAdvancedSettings", "onGetIpInfo"}));
    EXPECT_EQ(writes(), 0);
}

// ---- stream format, resolutions and frame rates ----

class StreamControls : public Controls
{
protected:
    void SetUp() override
    {
        Controls::SetUp();
        thread = QSharedPointer<CameraPlayThread>::create();
        panel.setPlayThread(thread);
        camera->clearCalls();
    }
    QComboBox *combo(const char *name) { return child<QComboBox>(panel, name); }

    QSharedPointer<CameraPlayThread> thread;
};

TEST_F(StreamControls, FormatChangeKeepsOrNearsTheResolutions)
{
    ASSERT_EQ(combo("previewRes_comboBox")->currentText(), "1920x1080");
    ASSERT_EQ(combo("photoRes_comboBox")->currentText(), "3840x2160");
    combo("format_comboBox")->setCurrentIndex(1);  // NV12: 1920x1080, 2592x1944
    EXPECT_EQ(combo("previewRes_comboBox")->currentText(), "1920x1080");
    EXPECT_EQ(combo("photoRes_comboBox")->currentText(), "1920x1080");
    EXPECT_EQ(thread->captureSettings().format, StreamNv12);
    EXPECT_EQ(stored("decodeWay").toInt(), StreamNv12);
    EXPECT_EQ(stored("pictureResolution").toString(), "1920x1080");

    combo("previewRes_comboBox")->setCurrentText("2592x1944");
    EXPECT_EQ(thread->captureSettings().width, 2592);
    EXPECT_EQ(stored("resolution").toString(), "2592x1944");
    combo("format_comboBox")->setCurrentIndex(0);  // MJPEG has nothing between 1920x1080 and 3840x2160
    EXPECT_EQ(combo("previewRes_comboBox")->currentText(), "1920x1080");
    EXPECT_EQ(thread->captureSettings().width, 1920);
    EXPECT_EQ(thread->captureSettings().format, StreamMjpeg);
}

TEST_F(StreamControls, FormatChangeWithNothingSmallerTakesTheFirst)
{
    // A preview smaller than anything MJPEG offers moves to MJPEG's first size.
    combo("format_comboBox")->setCurrentIndex(1);
    combo("previewRes_comboBox")->clear();
    combo("previewRes_comboBox")->addItem("640x480");
    combo("format_comboBox")->setCurrentIndex(0);
    EXPECT_EQ(combo("previewRes_comboBox")->currentText(), "1280x720");
    EXPECT_EQ(thread->captureSettings().width, 1280);
}

TEST_F(StreamControls, FormatChangeCountsASizeOfEqualAreaAsNotLarger)
{
    CameraParameters params = everythingSupported();
    params.streamFormats << StreamYuy2;
    params.resolutions[StreamYuy2] = {Resolution(640, 480), Resolution(960, 960), Resolution(1920, 1080),
                                      Resolution(3840, 2160)};
    camera->setResolutions(params.resolutions);
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(params));
    const auto chooseFormat = [&](StreamFormat format) {
        combo("format_comboBox")->setCurrentIndex(combo("format_comboBox")->findData(format));
    };
    // Both sizes offered again, though smaller ones come before them.
    chooseFormat(StreamYuy2);
    EXPECT_EQ(combo("previewRes_comboBox")->currentText(), "1920x1080");
    EXPECT_EQ(combo("photoRes_comboBox")->currentText(), "3840x2160");
    EXPECT_EQ(thread->captureSettings().format, StreamYuy2);

    // 960x960 holds as many pixels as 1280x720: the largest size not larger.
    chooseFormat(StreamMjpeg);
    combo("previewRes_comboBox")->setCurrentText("1280x720");
    chooseFormat(StreamYuy2);
    EXPECT_EQ(combo("previewRes_comboBox")->currentText(), "960x960");
    EXPECT_EQ(thread->captureSettings().width, 960);
}

TEST_F(StreamControls, RecordingLocksTheStreamChoices)
{
    panel.setCaptureFormatEnabled(false);
    EXPECT_FALSE(combo("previewRes_comboBox")->isEnabled());
    EXPECT_FALSE(combo("fps_comboBox")->isEnabled());
    EXPECT_FALSE(combo("format_comboBox")->isEnabled());
    EXPECT_TRUE(combo("photoRes_comboBox")->isEnabled());
    panel.setCaptureFormatEnabled(true);
    EXPECT_TRUE(combo("format_comboBox")->isEnabled());
}

TEST_F(StreamControls, PictureResolutionForTheSnapshot)
{
    QSize size;
    panel.getPhotoResolution(&size);
    EXPECT_EQ(size, QSize(3840, 2160));
    CaptureSettings settings;
    ASSERT_TRUE(panel.isPhotoResolutionDifferent(true, settings));
    EXPECT_EQ(settings.width, 3840);
    EXPECT_EQ(thread->captureSettings().height, 2160);
    ASSERT_TRUE(panel.isPhotoResolutionDifferent(false, settings));
    EXPECT_EQ(settings.width, 1920);
    combo("photoRes_comboBox")->setCurrentText("1920x1080");
    EXPECT_FALSE(panel.isPhotoResolutionDifferent(true, settings));
}

TEST_F(StreamControls, UsbCameraKeepsItsFrameRatesWithTheMains)
{
    const QStringList before = [&] {
        QStringList rates;
        for (int i = 0; i < combo("fps_comboBox")->count(); ++i)
            rates << combo("fps_comboBox")->itemText(i);
        return rates;
    }();
    radio("pLF50Hz_rBtn")->click();
    for (int i = 0; i < combo("fps_comboBox")->count(); ++i) {
        EXPECT_EQ(combo("fps_comboBox")->itemText(i), before.value(i));
        auto *model = qobject_cast<QStandardItemModel *>(combo("fps_comboBox")->model());
        EXPECT_TRUE(model->item(i)->isEnabled());
    }
}

TEST_F(StreamControls, NetworkCameraAvoidsTheRateThatBeatsWithTheMains)
{
    CameraParameters params = everythingSupported();
    params.modelId = 0;
    params.fps = 60;
    bindCamera(QStringLiteral("W710_IPC"), params);
    panel.setPlayThread(thread);
    EXPECT_TRUE(shownIn(panel, "changeIP_btn"));
    ASSERT_EQ(combo("fps_comboBox")->currentText(), "60");
    radio("pLF50Hz_rBtn")->click();
    auto *model = qobject_cast<QStandardItemModel *>(combo("fps_comboBox")->model());
    const int sixty = combo("fps_comboBox")->findText("60");
    ASSERT_GE(sixty, 0);
    EXPECT_FALSE(model->item(sixty)->isEnabled());
    EXPECT_EQ(combo("fps_comboBox")->currentText(), "50");
    EXPECT_EQ(thread->captureSettings().fps, 50);
    EXPECT_EQ(stored("fps").toInt(), 50);

    // Above 1920x1080 the high list applies and its 30 is the beating rate.
    combo("previewRes_comboBox")->setCurrentText("3840x2160");
    QStringList rates;
    for (int i = 0; i < combo("fps_comboBox")->count(); ++i)
        rates << combo("fps_comboBox")->itemText(i);
    EXPECT_EQ(rates, QStringList({"10", "15", "20", "25", "30"}));
    EXPECT_EQ(combo("fps_comboBox")->currentText(), "25");
    radio("pLF60Hz_rBtn")->click();
    combo("fps_comboBox")->setCurrentText("30");
    combo("previewRes_comboBox")->setCurrentText("1920x1080");
    EXPECT_EQ(combo("fps_comboBox")->currentText(), "50");  // the rate last chosen at this size

    // The W640 and E540 give up 30 as well.
    for (const char *model : {"W640_IPC", "E540_IPC"}) {
        params.fps = 30;
        bindCamera(QString::fromLatin1(model), params);
        panel.setPlayThread(thread);
        radio("pLF50Hz_rBtn")->click();
        EXPECT_EQ(combo("fps_comboBox")->currentText(), "25") << model;
        EXPECT_EQ(stored("fps").toInt(), 25) << model;
    }
}
