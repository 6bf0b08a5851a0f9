// The panel's two "All Reset" buttons, pressed as a user presses them, on a
// camera of each family: the USB models on the virtual board, the network
// camera on the simulated one. Afterwards the camera uses every value the
// panel shows, and the camera's row holds them.
#include "net_test_support.h"
#include "settings_ui_test_support.h"
#include "usb_devices.h"
#include "usb_models.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>

#include <memory>

namespace {

struct ResetCase {
    const char *name;
    // Null: the network camera, made by the panel's own model factory.
    std::function<QSharedPointer<BaseCamera>()> make;
    // The advanced reset ends in manual white balance at the gains the board
    // found in automatic mode, not at the model's defaults.
    bool gainsFound = false;
    // The network camera's gamma levels, which it reports itself: the
    // model's default lies below or above them.
    const char *gammaRange = nullptr;
};

void PrintTo(const ResetCase &resetCase, std::ostream *out)
{
    *out << resetCase.name;
}

// Modes as the panel's FocusMode, ExposureMode and WbMode numbers, switches 0 or 1.
using Values = QMap<QString, int>;

QString text(const Values &values)
{
    QStringList parts;
    for (auto it = values.begin(); it != values.end(); ++it)
        parts << it.key() + '=' + QString::number(it.value());
    return parts.join(' ');
}

class PanelResets : public Counted<NetCameraFixture>, public ::testing::WithParamInterface<ResetCase>
{
protected:
    void SetUp() override
    {
        Counted<NetCameraFixture>::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
        usbcam::setVirtualCameraPresent(true);
        usbcam::resetVirtualCamera();
        control.start();
    }
    void TearDown() override
    {
        panel.reset();
        control.quit();
        control.wait();
        camera.reset();
        usbcam::resetVirtualCamera();
        Counted<NetCameraFixture>::TearDown();
    }

    // Brought up as the main window does it: made and logged in through the
    // panel, queried, moved to the control thread, the panel filled.
    void bringUp()
    {
        CameraOpenSettings open;
        if (GetParam().make) {
            cam_probe_buffer probe;
            refreshUsbCameraContext(&probe);
            const auto make = GetParam().make;
            panel->setCameraFactory([make](const QString &) { return make(); });
            open.usb.devicePath = usbcam::kVirtualCameraPath;
        } else {
            sim.setModel("E530_IPC");
            sim.setGroup("gamma_range", GetParam().gammaRange);
            const QJsonObject levels = QJsonDocument::fromJson(GetParam().gammaRange).object();
            const int lowest = levels["range"].toObject()["level"].toObject()["min"].toInt();
            sim.setGroup("gamma", QString(R"({"level": %1})").arg(lowest).toStdString());
            open = settings();
        }
        camera = panel->createCamera(open);
        ASSERT_TRUE(camera);
        auto params = QSharedPointer<CameraParameters>::create();
        camera->queryParameters(*params);
        camera->moveToThread(&control);
        panel->refreshFromCameraInfo(params);
        ASSERT_TRUE(settled());
    }

    // Everything queued to the camera has run to its end, and the panel has
    // taken what the camera told it.
    bool settled() { return cameraCaughtUp(camera.data()); }

    // What the panel shows, of every control it shows.
    Values panelValues()
    {
        Values values;
        const auto slider = [&](const char *key, const char *name) {
            if (shownIn(*panel, name))
                values[key] = child<QSlider>(*panel, name)->value();
        };
        const auto check = [&](const char *key, const char *name) {
            if (shownIn(*panel, name))
                values[key] = child<QAbstractButton>(*panel, name)->isChecked();
        };
        if (shownIn(*panel, "expAuto_rBtn"))
            values["exposure"] = panel->expModeUI();
        slider("compensation", "brightness_horizontalSlider");
        if (shownIn(*panel, "focusAuto_rBtn"))
            values["focus"] = panel->focusModeUI();
        if (shownIn(*panel, "focusRegionX_horizontalSlider"))
            values["region"] = child<QSlider>(*panel, "focusRegionX_horizontalSlider")->value() * 100
                               + child<QSlider>(*panel, "focusRegionY_horizontalSlider")->value();
        if (shownIn(*panel, "wBAuto_rBtn"))
            values["whiteBalance"] = panel->wbModeUI();
        slider("red", "wBRed_horizontalSlider");
        slider("green", "wBGreen_horizontalSlider");
        slider("blue", "wBBlue_horizontalSlider");
        slider("hue", "hue_horizontalSlider");
        slider("saturation", "saturation_horizontalSlider");
        slider("contrast", "contrast_horizontalSlider");
        slider("sharpness", "sharpness_horizontalSlider");
        slider("gamma", "gamma_horizontalSlider");
        // The camera's one zoom value: optical, then digital.
        slider("zoom", "zoom_horizontalSlider");
        if (values.contains("zoom") && shownIn(*panel, "digitalZoom_horizontalSlider"))
            values["zoom"] += child<QSlider>(*panel, "digitalZoom_horizontalSlider")->value();
        check("flip", "verticalFlip_rBtn");
        check("mirror", "horizontalFlip_rBtn");
        check("50Hz", "pLF50Hz_rBtn");
        check("defog", "activeDefog_rBtn");
        check("monochrome", "colorModeMono_rBtn");
        return values;
    }

    // What the camera uses, read from the device, of the controls in `shown`.
    Values deviceValues(const Values &shown)
    {
        Values values;
        if (GetParam().make) {
            const int32_t h = cam_find_context(usbcam::kVirtualCameraPath);
            const int focusModes[] = {FocusManual, FocusAuto, FocusOnce};  // by the board's 0, 1, 2
            const int focus = cam_get_focus_mode(h);
            int32_t x = -1, y = -1;
            cam_get_focus_region(h, &x, &y);
            values = {{"exposure", cam_get_exposure_mode(h) == 1 ? ExposureAuto : ExposureManual},
                      {"compensation", cam_get_exposure_compensation(h)},
                      {"focus", focus >= 0 && focus <= 2 ? focusModes[focus] : -1},
                      {"region", x * 100 + y},
                      {"whiteBalance", cam_get_white_balance_mode(h) == 1 ? WbAuto : WbManual},
                      {"red", cam_get_white_balance_component_red(h)},
                      {"green", cam_get_white_balance_component_green(h)},
                      {"blue", cam_get_white_balance_component_blue(h)},
                      {"hue", cam_get_hue(h)},
                      {"saturation", cam_get_saturation(h)},
                      {"contrast", cam_get_contrast(h)},
                      {"sharpness", cam_get_sharpness(h)},
                      {"gamma", cam_get_gamma(h)},
                      {"zoom", cam_get_zoom(h)},
                      {"flip", cam_get_flip(h)},
                      {"mirror", cam_get_mirror(h)},
                      {"50Hz", cam_get_flick(h)},
                      {"defog", cam_get_demist(h)},
                      {"monochrome", cam_get_saturation(h) == 0}};
        } else {
            const QJsonObject image = group("image");
            const QJsonObject gains = group("awb_gains");
            const QJsonObject mirrorFlip = group("mirror_flip");
            const QJsonObject roi = group("roi");
            values = {{"exposure", intAt(group("meexposure"), "expo_type") == 0 ? ExposureAuto : ExposureManual},
                      {"compensation", intAt(image, "bright")},
                      {"focus", intAt(image, "focus_mode") + 1},
                      {"region", intAt(roi, "roi_x") * 100 + intAt(roi, "roi_y")},
                      {"whiteBalance", group("awb").value("awb").toString() == "auto" ? WbAuto : WbManual},
                      {"red", intAt(gains, "r")},
                      {"green", intAt(gains, "gb")},
                      {"blue", intAt(gains, "b")},
                      {"hue", intAt(image, "hue")},
                      {"saturation", intAt(image, "saturation")},
                      {"contrast", intAt(image, "contrast")},
                      {"sharpness", intAt(image, "sharpness")},
                      {"gamma", intAt(group("gamma"), "level")},
                      {"zoom", intAt(image, "ezoom_value")},
                      {"flip", mirrorFlip.value("flip").toBool()},
                      {"mirror", mirrorFlip.value("mirror").toBool()},
                      {"50Hz", group("flick").value("flick").toBool()},
                      {"defog", group("demist").value("demist").toBool()},
                      {"monochrome", intAt(image, "saturation") == 0}};
        }
        for (const QString &key : values.keys())
            if (!shown.contains(key))
                values.remove(key);
        return values;
    }

    void click(const char *name)
    {
        if (shownIn(*panel, name))
            child<QAbstractButton>(*panel, name)->click();
    }
    void move(const char *name, int value)
    {
        if (shownIn(*panel, name))
            child<QSlider>(*panel, name)->setValue(value);
    }

    QThread control;
    std::unique_ptr<CamSettings> panel = std::make_unique<CamSettings>();
    QSharedPointer<BaseCamera> camera;
};

} // namespace

TEST_P(PanelResets, CameraUsesWhatThePanelAndTheRowShow)
{
    bringUp();
    ASSERT_FALSE(HasFatalFailure());

    // The user moves what the model has away from its defaults; the focus
    // region first, which the camera takes in automatic focus.
    click("focusAuto_rBtn");
    if (shownIn(*panel, "focusRegionX_horizontalSlider"))
        panel->onSetFocusRegion(3, 4);
    move("hue_horizontalSlider", 70);
    move("contrast_horizontalSlider", 30);
    if (shownIn(*panel, "gamma_horizontalSlider"))
        move("gamma_horizontalSlider", child<QSlider>(*panel, "gamma_horizontalSlider")->maximum());
    move("zoom_horizontalSlider", 60);
    for (const char *name : {"expManual_rBtn", "focusManual_rBtn", "verticalFlip_rBtn", "horizontalFlip_rBtn",
                             "pLF50Hz_rBtn", "activeDefog_rBtn", "colorModeMono_rBtn", "wBManual_rBtn"})
        click(name);
    ASSERT_TRUE(settled());  // manual white balance starts from the gains the camera tells
    move("wBRed_horizontalSlider", 900);
    ASSERT_TRUE(settled());
    const Values changed = panelValues();
    ASSERT_EQ(changed.value("hue"), 70);
    ASSERT_EQ(text(deviceValues(changed)), text(changed));

    child<QPushButton>(*panel, "basicSettingsAllReset_btn")->click();
    child<QPushButton>(*panel, "advancedSettingsAllReset_btn")->click();
    ASSERT_TRUE(settled());
    const Values shown = panelValues();
    EXPECT_EQ(text(deviceValues(shown)), text(shown));
    // The model's defaults, within its ranges (the camera's thread is idle: its record can be read).
    const CameraParameters record = camera->parameters();
    QList<std::pair<const char *, ControlRange>> defaults = {
        {"compensation", record.exposureCompensation}, {"hue", record.hue}, {"saturation", record.saturation},
        {"contrast", record.contrast}, {"sharpness", record.sharpness}, {"gamma", record.gamma}, {"zoom", record.zoom}};
    if (!GetParam().gainsFound)
        defaults += {{"red", record.whiteBalanceRed},
                     {"green", record.whiteBalanceGreen},
                     {"blue", record.whiteBalanceBlue}};
    for (const auto &control : defaults) {
        if (shown.contains(control.first)) {
            EXPECT_EQ(shown.value(control.first),
                      qBound(control.second.minimum, control.second.defaultValue, control.second.maximum))
                << control.first;
        }
    }
    EXPECT_EQ(shown.value("hue"), 50);
    EXPECT_EQ(shown.value("exposure", ExposureAuto), ExposureAuto);
    EXPECT_EQ(shown.value("focus", FocusAuto), FocusAuto);
    EXPECT_EQ(shown.value("region", 807), 807);
    EXPECT_EQ(shown.value("whiteBalance", WbManual), WbManual);
    EXPECT_EQ(shown.value("flip") + shown.value("mirror") + shown.value("50Hz") + shown.value("defog")
                  + shown.value("monochrome"),
              0);
    // The row holds what the panel shows.
    const QString key = CameraDatabase::lookupKey(camera->uniqueName());
    const std::pair<const char *, const char *> columns[] = {
        {"exposureMode", "exposure"}, {"exposureCompensation", "compensation"}, {"focusMode", "focus"},
        {"whiteBalanceMode", "whiteBalance"}, {"whiteBalanceR", "red"}, {"whiteBalanceG", "green"},
        {"whiteBalanceB", "blue"}, {"hueValue", "hue"}, {"saturationValue", "saturation"},
        {"contrastValue", "contrast"}, {"sharpnessValue", "sharpness"}, {"HDRValue", "gamma"}, {"Zoom", "zoom"},
        {"flip", "flip"}, {"mirror", "mirror"}, {"frameMode", "50Hz"}, {"defogMode", "defog"}};
    for (const auto &entry : columns) {
        if (shown.contains(entry.second)) {
            EXPECT_EQ(column(key, entry.first).toInt(), shown.value(entry.second)) << entry.first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, PanelResets,
    ::testing::Values(ResetCase{"R480", [] { return QSharedPointer<BaseCamera>(new R480Camera); }},
                      ResetCase{"E150", [] { return QSharedPointer<BaseCamera>(new E150Camera); }, true},
                      ResetCase{"E530", [] { return QSharedPointer<BaseCamera>(new E530UCamera); }},
                      ResetCase{"W610", [] { return QSharedPointer<BaseCamera>(new W610UCamera); }, true},
                      ResetCase{"Network", nullptr, false, R"({"range": {"level": {"min": 2, "max": 10}}})"},
                      ResetCase{"NetworkGammaBelowDefault", nullptr, false,
                                R"({"range": {"level": {"min": -6, "max": -2}}})"}),
    [](const ::testing::TestParamInfo<ResetCase> &info) { return std::string(info.param.name); });
