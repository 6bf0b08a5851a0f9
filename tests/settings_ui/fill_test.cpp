// Filling the panel from a camera's parameter record: every USB model on the
// virtual board, a record the panel cannot show whole, and the look without
// a camera.
#include "settings_ui_test_support.h"

#include <QSignalSpy>

namespace {

class Fill : public CountedVirtualCamera
{
protected:
    // Binds a camera of the model to the panel (as if the virtual board were
    // that model) and fills the panel from its record.
    CameraParameters fillWith(BaseCamera *model)
    {
        // Each model starts from its own default row.
        CameraDatabase::instance().exec(QStringLiteral("DELETE FROM camera"));
        QSharedPointer<BaseCamera> camera(model);
        EXPECT_TRUE(bindThroughFactory(panel, camera, usbcam::kVirtualCameraPath));
        CameraParameters params;
        camera->queryParameters(params);
        panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(params));
        return params;
    }

    CamSettings panel;
};

} // namespace

TEST_F(Fill, EveryUsbModelShowsWhatItSupports)
{
    const std::pair<const char *, std::function<BaseCamera *()>> models[] = {
        {"R480", [] { return new R480Camera; }},   {"E150", [] { return new E150Camera; }},
        {"E170", [] { return new E170Camera; }},   {"E520", [] { return new E520UCamera; }},
        {"E530", [] { return new E530UCamera; }},  {"E540", [] { return new E540UCamera; }},
        {"W610", [] { return new W610UCamera; }},  {"W620", [] { return new W620UCamera; }},
        {"W710", [] { return new W710UCamera; }},  {"V330", [] { return new V330Camera; }},
        {"V350", [] { return new V350Camera; }},   {"V370", [] { return new V370Camera; }},
        {"V390", [] { return new V390Camera; }},
    };
    panel.resize(378, 911);
    for (const auto &model : models) {
        SCOPED_TRACE(model.first);
        const CameraParameters p = fillWith(model.second());
        EXPECT_EQ(shownIn(panel, "focusSettings_widget"), p.focus.supported);
        EXPECT_EQ(shownIn(panel, "focusValue_horizontalSlider"), p.focus.supported && p.focusSlider);
        EXPECT_EQ(shownIn(panel, "focusAdd_btn"), p.focus.supported && !p.focusSlider);
        EXPECT_EQ(shownIn(panel, "clickFocus_rBtn"), p.focus.supported && p.focusRegionSupported);
        EXPECT_EQ(shownIn(panel, "focusOnce_btn"), p.focus.supported && p.focusOnceSupported);
        EXPECT_FALSE(shownIn(panel, "focusRegionArea_comboBox"));
        EXPECT_EQ(shownIn(panel, "montorCenter_btn"), p.focus.supported && p.extraControlA);
        EXPECT_EQ(shownIn(panel, "expSettings_widget"), p.exposureSupported);
        EXPECT_EQ(shownIn(panel, "wBSettings_widget"), p.whiteBalanceSupported);
        EXPECT_EQ(shownIn(panel, "wBOnce_btn"), p.whiteBalanceSupported);
        EXPECT_EQ(shownIn(panel, "hue_horizontalSlider"), p.hue.supported);
        EXPECT_EQ(shownIn(panel, "gamma_horizontalSlider"), p.gamma.supported);
        EXPECT_EQ(shownIn(panel, "zoom_horizontalSlider"), p.zoom.supported);
        EXPECT_EQ(shownIn(panel, "digitalZoom_horizontalSlider"), p.digitalZoom.supported);
        EXPECT_EQ(shownIn(panel, "colorModeMono_rBtn"), p.monochromeSupported);
        EXPECT_EQ(shownIn(panel, "pLF50Hz_rBtn"), p.flickerSupported);
        EXPECT_EQ(shownIn(panel, "verticalFlip_rBtn"), p.flipMirrorSupported);
        EXPECT_EQ(shownIn(panel, "activeDefog_rBtn"), p.defogSupported);
        EXPECT_EQ(shownIn(panel, "format_comboBox"), p.streamFormatSelectable);
        EXPECT_EQ(shownIn(panel, "fps_comboBox"), p.frameRateSelectable);
        EXPECT_FALSE(shownIn(panel, "antiReflective_horizontalSlider"));
        EXPECT_FALSE(shownIn(panel, "changeIP_btn"));
        EXPECT_TRUE(shownIn(panel, "previewRes_comboBox"));

        auto *preview = child<QComboBox>(panel, "previewRes_comboBox");
        EXPECT_EQ(preview->count(), p.resolutions.value(p.decodeWay).size());
        EXPECT_EQ(preview->currentText(), p.resolution.text);
        auto *format = child<QComboBox>(panel, "format_comboBox");
        EXPECT_EQ(format->count(), p.streamFormats.size());
        EXPECT_EQ(format->currentData().toInt(), p.decodeWay);
        if (p.exposureSupported) {
            EXPECT_EQ(child<QSlider>(panel, "brightness_horizontalSlider")->maximum(), p.exposureCompensation.maximum);
            EXPECT_EQ(child<QRadioButton>(panel, "expAuto_rBtn")->isChecked(), p.exposureMode == ExposureAuto);
        }
        if (p.saturation.supported) {
            EXPECT_EQ(child<QSlider>(panel, "saturation_horizontalSlider")->value(), p.saturation.value);
        }
    }
}

TEST_F(Fill, ModelsDifferWhereTheirBoardsDo)
{
    fillWith(new R480Camera);
    EXPECT_FALSE(shownIn(panel, "focus_tBtn"));
    EXPECT_FALSE(shownIn(panel, "wB_tBtn"));
    EXPECT_TRUE(shownIn(panel, "gamma_horizontalSlider"));
    fillWith(new E530UCamera);
    EXPECT_TRUE(shownIn(panel, "focusValue_horizontalSlider"));
    EXPECT_TRUE(shownIn(panel, "focusRegionX_horizontalSlider"));
    EXPECT_FALSE(shownIn(panel, "focusOnce_btn"));
    EXPECT_TRUE(shownIn(panel, "montorCenter_btn"));
    fillWith(new W620UCamera);
    EXPECT_TRUE(shownIn(panel, "focusAdd_btn"));
    EXPECT_FALSE(shownIn(panel, "focusValue_horizontalSlider"));
    EXPECT_TRUE(shownIn(panel, "activeDefog_rBtn"));
    fillWith(new W610UCamera);
    EXPECT_TRUE(shownIn(panel, "zoom_horizontalSlider"));
    EXPECT_FALSE(shownIn(panel, "digitalZoom_horizontalSlider"));
    EXPECT_EQ(child<QSlider>(panel, "zoom_horizontalSlider")->maximum(), 140);
}

TEST_F(Fill, RecordWithoutSizesForItsFormatHidesTheResolutionRows)
{
    ASSERT_TRUE(bindThroughFactory(panel, QSharedPointer<RecordingCamera>::create(), kRecordingCameraName));
    CameraParameters params = everythingSupported();
    params.decodeWay = StreamYuy2;  // no list for it
    panel.refreshFromCameraInfo(QSharedPointer<CameraParameters>::create(params));
    EXPECT_FALSE(shownIn(panel, "previewRes_comboBox"));
    EXPECT_FALSE(shownIn(panel, "photoRes_label"));
    EXPECT_TRUE(shownIn(panel, "expSettings_widget"));
}

TEST_F(Fill, NoCameraLeavesOnlyTheDeviceList)
{
    panel.resize(378, 911);
    EXPECT_TRUE(shownIn(panel, "camera_comboBox"));
    EXPECT_TRUE(shownIn(panel, "cameraSwitch_btn"));
    for (const char *name : {"focusSettings_widget", "expSettings_widget", "wBOnce_btn", "previewRes_comboBox",
                             "photoRes_comboBox", "fps_comboBox", "format_comboBox", "changeIP_btn"})
        EXPECT_FALSE(shownIn(panel, name)) << name;
    EXPECT_FALSE(child<QToolButton>(panel, "focus_tBtn")->isEnabled());
    EXPECT_FALSE(child<QToolButton>(panel, "func_tBtn")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(panel, "basicSettingsSave_btn")->isEnabled());
    EXPECT_FALSE(shownIn(panel, "config_label"));
    EXPECT_EQ(child<QComboBox>(panel, "camera_comboBox")->property("flag").toString(), "Combox");
    EXPECT_EQ(child<QPushButton>(panel, "wBOnce_btn")->property("flag").toString(), "LinearGradient");
}

TEST_F(Fill, SectionButtonsFoldTheirSections)
{
    fillWith(new E530UCamera);
    auto *button = child<QToolButton>(panel, "exp_tBtn");
    button->click();
    EXPECT_FALSE(shownIn(panel, "expSettings_widget"));
    button->click();
    EXPECT_TRUE(shownIn(panel, "expSettings_widget"));
}
