// The seven network models against the simulated camera: each model's row,
// resolutions and refresh, the focus modes each way, the E-series focus in
// one scale, the Y260 display modes and the W-series zoom and focus steps.
#include "net_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <tuple>

namespace {

class NetModels : public NetCameraFixture {};
class ESeriesFocus : public NetCameraFixture {};
class Y260DisplayMode : public NetCameraFixture {};
class WSeries : public NetCameraFixture {};

} // namespace

TEST(NetModelRows, EachModelHasItsRowAndResolutions)
{
    struct Expected {
        const char *model;
        int red, contrast, focusMode, focusValue, hdr;
        const char *resolution;
        int fps;
        QStringList sizes;
    };
    const Expected expected[] = {
        {"E520_IPC", 628, 50, 2, 0, 2, "2592x1944", 30, {"1920x1080", "2592x1944"}},
        {"E530_IPC", 628, 50, 2, 0, 2, "3840x2160", 30, {"1920x1080", "3840x2160"}},
        {"E540_IPC", 661, 50, 2, 0, 2, "4000x3000", 30, {"1920x1080", "3840x2160", "4000x3000"}},
        {"Y260_IPC", 628, 60, 1, 0, 1, "3840x2160", 30, {"1920x1080", "3840x2160"}},
        {"W620_IPC", 490, 50, 2, 1, 1, "1920x1080", 60, {"1920x1080"}},
        {"W640_IPC", 512, 50, 2, 1, 0, "3840x2160", 30, {"1920x1080", "3840x2160"}},
        {"W710_IPC", 560, 50, 2, 1, 6, "3840x2160", 30, {"1920x1080", "3840x2160"}},
    };
    for (const Expected &e : expected) {
        const QSharedPointer<BaseCamera> camera = createCamera(QLatin1String(e.model));
        ASSERT_TRUE(camera) << e.model;
        const CameraRow &row = camera->defaultRow();
        EXPECT_EQ(row.whiteBalanceR, e.red) << e.model;
        EXPECT_EQ(row.contrastValue, e.contrast) << e.model;
        EXPECT_EQ(row.focusMode, e.focusMode) << e.model;
        EXPECT_EQ(row.focusValue, e.focusValue) << e.model;
        EXPECT_EQ(row.hdrValue, e.hdr) << e.model;
        EXPECT_EQ(row.resolution, e.resolution) << e.model;
        EXPECT_EQ(row.pictureResolution, e.resolution) << e.model;
        EXPECT_EQ(row.fps, e.fps) << e.model;
        // The same in every network row.
        EXPECT_EQ(row.whiteBalanceG, 256);
        EXPECT_EQ(row.exposureTime, 150);
        EXPECT_EQ(row.saturationValue, 128);
        EXPECT_EQ(row.bitrate, 1);
        EXPECT_EQ(row.whiteBalanceMode, 0);
        QStringList sizes;
        for (const Resolution &size : camera->resolutions().value(StreamMjpeg))
            sizes << size.text;
        EXPECT_EQ(sizes, e.sizes) << e.model;
        EXPECT_EQ(camera->resolutions().size(), 1);
        EXPECT_EQ(camera->streamFormats(), QList<int>{StreamMjpeg});
    }
}

TEST_F(NetModels, EveryModelLogsInAndRefreshesFromItsAnswers)
{
    for (const char *model : {"W710_IPC", "Y260_IPC", "W620_IPC", "W640_IPC", "E520_IPC", "E530_IPC", "E540_IPC"}) {
        sim.setModel(model);
        const QSharedPointer<BaseCamera> camera = createCamera(getCameraModel(settings()));
        ASSERT_TRUE(camera) << model;
        ASSERT_TRUE(camera->login(settings())) << model;
        EXPECT_EQ(camera->uniqueName(), QLatin1String(model) + "@127.0.0.1");
        CameraParameters record;
        EXPECT_TRUE(camera->queryParameters(record)) << model;
        EXPECT_EQ(camera->displayName(), "SIM-1 V5.1.0 sim 5.1.0");
        const bool eSeries = QLatin1String(model).startsWith('E');
        const bool wSeries = QLatin1String(model).startsWith('W');
        EXPECT_EQ(record.focusRegionSupported, eSeries) << model;
        EXPECT_EQ(record.mainToolsFlag, eSeries) << model;
        EXPECT_EQ(record.zoom.supported, wSeries) << model;
        EXPECT_EQ(record.defogSupported, wSeries) << model;
        EXPECT_EQ(record.focus.supported, QLatin1String(model) != "Y260_IPC") << model;
        EXPECT_EQ(record.extraFlag, QLatin1String(model) == "Y260_IPC") << model;
        EXPECT_TRUE(record.gamma.supported) << model;
        EXPECT_TRUE(record.flickerSupported) << model;
        EXPECT_TRUE(camera->logout());
    }
}

TEST_F(NetModels, SlowModelsOfferAtMost30PicturesASecond)
{
    for (const char *model : {"E540_IPC", "W640_IPC"}) {
        sim.setModel(model);
        const QSharedPointer<BaseCamera> camera = createCamera(QLatin1String(model));
        ASSERT_TRUE(camera->login(settings()));
        CameraParameters record;
        camera->queryParameters(record);
        EXPECT_EQ(camera->lowResFrameRates(), (QList<int>{25, 30})) << model;
        EXPECT_EQ(camera->highResFrameRates(), (QList<int>{10, 15, 20, 25, 30})) << model;
        camera->initSettingsPanel(record, 0, true);
        EXPECT_EQ(camera->lowResFrameRates(), (QList<int>{25, 30})) << model;
    }
    auto fast = ready<E530NetCamera>("E530_IPC");
    EXPECT_EQ(fast->lowResFrameRates(), (QList<int>{25, 30, 50, 60}));
}

TEST_F(NetModels, DefaultsOfEachSeries)
{
    CameraParameters record;
    auto e540 = loggedIn<E540NetCamera>("E540_IPC");
    e540->queryParameters(record);
    EXPECT_EQ(record.whiteBalanceRed.defaultValue, 661);
    EXPECT_EQ(record.exposureCompensation.maximum, 250);
    EXPECT_EQ(record.gamma.defaultValue, 1);

    auto w640 = loggedIn<W640NetCamera>("W640_IPC");
    w640->queryParameters(record);
    EXPECT_EQ(record.whiteBalanceRed.defaultValue, 512);
    EXPECT_EQ(record.whiteBalanceBlue.defaultValue, 478);
    EXPECT_EQ(record.gamma.defaultValue, 1);
    EXPECT_FALSE(record.focusSlider);

    auto w710 = loggedIn<W710NetCamera>("W710_IPC");
    w710->queryParameters(record);
    EXPECT_EQ(record.whiteBalanceRed.defaultValue, 560);
    EXPECT_EQ(record.gamma.defaultValue, 6);
    EXPECT_EQ(record.zoom.maximum, 144);
    EXPECT_EQ(record.digitalZoom.maximum, 30);
}

// ---- focus modes: auto, manual and once are the device's codes 0, 1 and 2 ----

TEST_F(NetModels, EveryFocusModeTravelsBothWays)
{
    const std::pair<int, int> codes[] = {{0, -1}, {FocusAuto, 0}, {FocusManual, 1}, {FocusOnce, 2}, {4, -1}};
    for (const auto &[mode, code] : codes)
        EXPECT_EQ(NetCamera::toDeviceFocusMode(mode), code) << mode;

    const auto check = [&](NetCamera &camera, bool hasGetter) {
        // From the device: the refresh and, where the model has one, the getter.
        QSignalSpy told(&camera, &BaseCamera::sendFocusMode);
        const std::pair<int, int> fromDevice[] = {{0, FocusAuto}, {1, FocusManual}, {2, FocusOnce}, {3, 0}, {-1, 0}};
        for (const auto &[code, mode] : fromDevice) {
            SCOPED_TRACE("device code " + std::to_string(code));
            sim.setGroup("image", "{\"focus_mode\": " + std::to_string(code) + "}");
            CameraParameters out;
            out.focusMode = 0;
            camera.refreshFromDevice(out);
            EXPECT_EQ(out.focusMode, mode);
            if (hasGetter) {
                told.clear();
                camera.onGetFocusMode();
                ASSERT_EQ(told.count(), mode ? 1 : 0);
                if (mode) {
                    EXPECT_EQ(told.at(0).at(0).value<FocusMode>(), FocusMode(mode));
                }
            }
        }
        // To the device: every change between the three modes.
        ASSERT_EQ(camera.parameters().focusMode, FocusManual);
        for (const FocusMode mode : {FocusAuto, FocusManual, FocusOnce, FocusAuto, FocusOnce, FocusManual}) {
            SCOPED_TRACE("mode " + std::to_string(mode));
            camera.onSetFocusMode(mode);
            EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), mode - 1);
            EXPECT_EQ(intAt(group("image"), "focus_mode"), mode - 1);
            EXPECT_EQ(camera.parameters().focusMode, mode);
        }
        const size_t from = mark();
        camera.onSetFocusMode(FocusMode(0));
        camera.onSetFocusMode(FocusMode(4));
        EXPECT_TRUE(commandsSince(from).empty());
        EXPECT_EQ(camera.parameters().focusMode, FocusManual);
    };
    {
        SCOPED_TRACE("E530");
        check(*ready<E530NetCamera>("E530_IPC"), true);
    }
    {
        SCOPED_TRACE("W710");
        check(*ready<W710NetCamera>("W710_IPC"), false);
    }
}

// ---- E-series focus: the user's scale is the device's + 25 everywhere ----

TEST_F(ESeriesFocus, ValuesTravelInOneScale)
{
    auto camera = ready<E530NetCamera>("E530_IPC");  // the device: manual, 175
    EXPECT_EQ(camera->parameters().focusMode, FocusManual);
    EXPECT_EQ(camera->parameters().focus.value, 200);
    QSignalSpy value(camera.get(), &BaseCamera::sendFocusValue);
    camera->onGetFocusValue();
    EXPECT_EQ(value.at(0).at(0).toInt(), 200);

    camera->onSetFocusValue(300);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 1);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 275);
    EXPECT_EQ(camera->parameters().focus.value, 300);
    // Another image setting keeps the focus where it is.
    camera->onSetContrastValue(55);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 275);
    EXPECT_EQ(intAt(group("image"), "focus_value"), 275);

    camera->onSetMotorCenter();
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 175);
    EXPECT_EQ(value.last().at(0).toInt(), 200);
    EXPECT_EQ(camera->parameters().focus.value, 200);

    // Both ends of the user's range, 1 to 400, there and back.
    for (const int end : {400, 1}) {
        SCOPED_TRACE(end);
        camera->onSetFocusValue(end);
        EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), end - 25);
        EXPECT_EQ(intAt(group("image"), "focus_value"), end - 25);
        camera->onGetFocusValue();
        EXPECT_EQ(value.last().at(0).toInt(), end);
        CameraParameters out;
        camera->refreshFromDevice(out);
        EXPECT_EQ(out.focus.value, end);
        EXPECT_EQ(out.focus.minimum, 1);
        EXPECT_EQ(out.focus.maximum, 400);
    }
}

TEST_F(ESeriesFocus, ModeRulesAndSwitching)
{
    sim.setGroup("image", R"({"focus_mode": 0, "focus_value": 90})");
    auto camera = ready<E530NetCamera>("E530_IPC");
    LogCatcher log;
    size_t from = mark();
    camera->onSetFocusValue(300);
    camera->onSetFocusOnce();
    EXPECT_TRUE(commandsSince(from).empty());
    EXPECT_TRUE(log.contains("Net camera, current mode can not change focus value."));
    EXPECT_TRUE(log.contains("Net camera, current mode can not trigger once focus."));

    // Manual starts where the camera focused by itself.
    sim.setGroup("image", R"({"focus_value": 120})");
    QSignalSpy value(camera.get(), &BaseCamera::sendFocusValue);
    camera->onSetFocusMode(FocusManual);
    EXPECT_EQ(value.at(0).at(0).toInt(), 145);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 1);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 120);
    EXPECT_EQ(camera->parameters().focusMode, FocusManual);

    camera->onSetFocusMode(FocusOnce);
    from = mark();
    camera->onSetFocusOnce();
    EXPECT_EQ(commandsSince(from), std::vector<std::string>{"set_image"});
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 2);
    from = mark();
    camera->onSetFocusMode(FocusOnce);  // unchanged
    EXPECT_TRUE(commandsSince(from).empty());

    sim.queueReply(simcam::Reply::refuse(4099));
    camera->onSetFocusMode(FocusAuto);
    EXPECT_EQ(camera->parameters().focusMode, FocusOnce);
}

TEST_F(ESeriesFocus, FocusRegionOnlyInAutoMode)
{
    sim.setGroup("image", R"({"focus_mode": 0})");
    sim.setGroup("roi", R"({"roi": false, "roi_x": 8, "roi_y": 7})");
    auto camera = ready<E520NetCamera>("E520_IPC");
    QSignalSpy region(camera.get(), &BaseCamera::sendFocusRegion);
    QSignalSpy status(camera.get(), &BaseCamera::sendFocusRegionStatus);
    size_t from = mark();
    camera->onSetFocusRegion(3, 4);  // the region is off
    EXPECT_TRUE(commandsSince(from).empty());
    camera->onSetFocusRegionStatus(true);
    EXPECT_TRUE(group("roi").value("roi").toBool());
    camera->onSetFocusRegion(3, 4);
    const QJsonObject roi = lastArgs("set_img_roi");
    EXPECT_EQ(intAt(roi, "roi_x"), 3);
    EXPECT_EQ(intAt(roi, "roi_y"), 4);
    EXPECT_EQ(intAt(roi, "roi_mode"), 0);
    camera->onGetFocusRegion();
    camera->onGetFocusRegionStatus();
    EXPECT_EQ(region.last().at(0).toInt(), 3);
    EXPECT_EQ(region.last().at(1).toInt(), 4);
    EXPECT_TRUE(status.at(0).at(0).toBool());

    sim.queueReply(simcam::Reply::refuse(4099));
    LogCatcher log;
    camera->onGetFocusRegionStatus();
    EXPECT_EQ(status.count(), 1);
    EXPECT_TRUE(log.contains("Error: failed to get focus region status."));

    CameraParameters record = camera->parameters();
    record.focusMode = FocusManual;
    camera->setParameters(record);
    from = mark();
    camera->onSetFocusRegionStatus(false);
    camera->onSetFocusRegion(5, 5);
    EXPECT_TRUE(commandsSince(from).empty());
}

TEST_F(ESeriesFocus, PanelSetUpShowsTheRegionInAutoMode)
{
    sim.setGroup("image", R"({"focus_mode": 0})");
    sim.setGroup("roi", R"({"roi": true, "roi_x": 6, "roi_y": 9})");
    auto camera = loggedIn<E530NetCamera>("E530_IPC");
    CameraParameters record;
    camera->queryParameters(record);
    QSignalSpy region(camera.get(), &BaseCamera::sendFocusRegion);
    const size_t from = mark();
    camera->initSettingsPanel(record, 0, false);
    ASSERT_EQ(region.count(), 1);
    EXPECT_EQ(region.at(0).at(0).toInt(), 6);
    EXPECT_EQ(region.at(0).at(1).toInt(), 9);
    EXPECT_TRUE(commandsSince(from).empty());  // setting up the panel asks the device nothing
}

// ---- Y260 display modes ----

TEST_F(Y260DisplayMode, SwitchingModeRereadsWhatTheCameraChose)
{
    auto camera = ready<Y260NetCamera>("Y260_IPC");
    EXPECT_EQ(camera->parameters().contrast.defaultValue, 60);
    EXPECT_EQ(camera->parameters().gamma.defaultValue, 1);
    QSignalSpy gamma(camera.get(), &BaseCamera::sendGammaValue);
    QSignalSpy contrast(camera.get(), &BaseCamera::sendContrastValue);
    camera->onSetCameraDisplayMode(DisplayMetallography);
    EXPECT_EQ(intAt(lastArgs("set_img_mode"), "mode"), 1);
    EXPECT_EQ(camera->parameters().displayMode, DisplayMetallography);
    EXPECT_EQ(camera->parameters().contrast.defaultValue, 55);
    EXPECT_EQ(camera->parameters().gamma.defaultValue, 3);
    EXPECT_EQ(gamma.at(0).at(0).toInt(), 3);
    EXPECT_EQ(contrast.at(0).at(0).toInt(), 55);

    QSignalSpy mode(camera.get(), &BaseCamera::sendDisplayModeValue);
    camera->onGetCameraDisplayMode();
    EXPECT_EQ(mode.at(0).at(0).value<DisplayMode>(), DisplayMetallography);

    sim.queueReply(simcam::Reply::refuse(4099));
    camera->onSetCameraDisplayMode(DisplayDefault);
    EXPECT_EQ(camera->parameters().displayMode, DisplayMetallography);
    EXPECT_EQ(gamma.count(), 1);

    camera->onSetCameraDisplayMode(DisplayDefault);
    EXPECT_EQ(intAt(lastArgs("set_img_mode"), "mode"), 0);
    EXPECT_EQ(camera->parameters().contrast.defaultValue, 60);
    EXPECT_EQ(camera->parameters().gamma.defaultValue, 1);
    EXPECT_EQ(gamma.last().at(0).toInt(), 1);
    EXPECT_EQ(contrast.last().at(0).toInt(), 60);
    camera->onGetCameraDisplayMode();
    EXPECT_EQ(mode.last().at(0).value<DisplayMode>(), DisplayDefault);
}

// ---- W-series: one zoom value on the device, focus in steps ----

TEST_F(WSeries, OneZoomValueIsSplitAtTheOpticalLimitBothWays)
{
    const auto check = [&](NetCamera &camera, int limit, int digitalMaximum) {
        QSignalSpy zoom(&camera, &BaseCamera::sendZoomValue);
        QSignalSpy digital(&camera, &BaseCamera::sendDZoomValue);
        // The device's one value at each end and on each side of the limit.
        for (const int combined : {0, limit - 1, limit, limit + 1, limit + digitalMaximum}) {
            SCOPED_TRACE(combined);
            const int optical = std::min(combined, limit);
            const int beyond = std::max(combined - limit, 0);
            sim.setGroup("image", "{\"ezoom_value\": " + std::to_string(combined) + "}");
            CameraParameters out;
            camera.refreshFromDevice(out);
            EXPECT_EQ(out.zoom.value, optical);
            EXPECT_EQ(out.zoom.minimum, 0);
            EXPECT_EQ(out.zoom.maximum, limit);
            EXPECT_EQ(out.digitalZoom.value, beyond);
            EXPECT_EQ(out.digitalZoom.minimum, 0);
            EXPECT_EQ(out.digitalZoom.maximum, digitalMaximum);

            zoom.clear();
            digital.clear();
            camera.onGetZoomValue();
            camera.onGetDZoomValue();
            ASSERT_EQ(zoom.count(), 1);
            EXPECT_EQ(zoom.at(0).at(0).toInt(), optical);
            // No digital zoom is told while the optical one has room left.
            ASSERT_EQ(digital.count(), beyond > 0 ? 1 : 0);
            if (beyond > 0) {
                EXPECT_EQ(digital.at(0).at(0).toInt(), beyond);
            }

            // The panel set-up shows both.
            zoom.clear();
            digital.clear();
            camera.initSettingsPanel(out, 0, true);
            ASSERT_EQ(zoom.count(), 1);
            EXPECT_EQ(zoom.at(0).at(0).toInt(), optical);
            ASSERT_EQ(digital.count(), 1);
            EXPECT_EQ(digital.at(0).at(0).toInt(), beyond);
        }
        // Back to the device as one value, at each end of both ranges (the
        // panel set-up left both at their maximum).
        const std::tuple<bool, int, int> steps[] = {
            {true, 0, digitalMaximum}, {false, 0, 0},
            {true, limit, limit}, {false, digitalMaximum, limit + digitalMaximum},
        };
        for (const auto &[optical, value, combined] : steps) {
            SCOPED_TRACE(std::string(optical ? "zoom " : "digital zoom ") + std::to_string(value));
            if (optical)
                camera.onSetZoomValue(value);
            else
                camera.onSetDZoomValue(value);
            EXPECT_EQ(intAt(lastArgs("set_image"), "ezoom_value"), combined);
            EXPECT_EQ(intAt(group("image"), "ezoom_value"), combined);
        }
    };
    {
        SCOPED_TRACE("W620");
        check(*ready<W620NetCamera>("W620_IPC"), 130, 50);
    }
    {
        SCOPED_TRACE("W710");
        check(*ready<W710NetCamera>("W710_IPC"), 144, 30);
    }
}

// Where the device does not tell its zoom, the row's one value stands: it is
// checked whole against the model's ranges before it is split, and one
// outside them gives way to the default like any stored value out of range.
TEST_F(WSeries, StoredZoomIsCheckedWholeBeforeItIsSplit)
{
    auto camera = ready<W710NetCamera>("W710_IPC");
    const QString key = CameraDatabase::lookupKey(camera->uniqueName());
    const std::tuple<int, int, int, bool> cases[] = {{174, 144, 30, false}, {175, 0, 0, true}, {-5, 0, 0, true}};
    for (const auto &[stored, optical, digital, refused] : cases) {
        SCOPED_TRACE(stored);
        ASSERT_TRUE(CameraDatabase::instance().exec("UPDATE camera SET Zoom = ? WHERE pid = ?", {stored, key}).ok);
        sim.queueReply(simcam::Reply::answer());                                         // system
        sim.queueReply(simcam::Reply::answer(R"({"cmd":"img_meexposure","code":0})"));  // nothing in it
        sim.queueReply(simcam::Reply::refuse(4099));                                     // get_image
        CameraParameters out;
        camera->queryParameters(out);
        EXPECT_EQ(out.zoom.value, optical);
        EXPECT_EQ(out.digitalZoom.value, digital);
        EXPECT_EQ(camera->storedRowReport().ignored, refused ? QStringList{"Zoom"} : QStringList());
    }
}

TEST_F(WSeries, ImageRequestsNeverMoveTheFocusMotor)
{
    auto camera = ready<W710NetCamera>("W710_IPC");  // the device: manual
    camera->onSetHueValue(60);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 0);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 1);

    LogCatcher log;
    camera->onSetFocusAdd();
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 1);
    camera->onSetFocusSub();
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), -1);
    EXPECT_TRUE(log.contains("onSetFocusAdd"));

    camera->onSetFocusMode(FocusOnce);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 2);
    // Once has done its work when the next image value goes out: manual, no step.
    const size_t from = mark();
    camera->onSetSharpnessValue(3);
    EXPECT_EQ(commandsSince(from), std::vector<std::string>{"set_image"});
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 1);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 0);
    EXPECT_EQ(camera->parameters().focusMode, FocusManual);

    camera->onSetFocusMode(FocusAuto);
    const size_t later = mark();
    camera->onSetFocusAdd();
    EXPECT_TRUE(commandsSince(later).empty());
    EXPECT_TRUE(log.contains("Net camera, current mode can not change focus value."));
}

TEST_F(WSeries, DefogIsSwitchedAndRead)
{
    auto camera = ready<W640NetCamera>("W640_IPC");
    camera->onSetDefogStatus(true);
    EXPECT_TRUE(group("demist").value("demist").toBool());
    EXPECT_EQ(intAt(lastArgs("set_motor_demist"), "chnn"), 0);
    QSignalSpy defog(camera.get(), &BaseCamera::sendDefogStatus);
    camera->onGetDefogStatus();
    EXPECT_TRUE(defog.at(0).at(0).toBool());
    sim.queueReply(simcam::Reply::refuse(4099));
    camera->onSetDefogStatus(false);
    EXPECT_TRUE(camera->parameters().defogOn);
}

// ---- upgrade file check ----

TEST(NetCameraUpgrade, FileMustFitTheModel)
{
    EXPECT_EQ(NetCamera::upgradeFileProblem("/fw/Update_W710_1.2.qpk", "W710_IPC"), nullptr);
    EXPECT_STREQ(NetCamera::upgradeFileProblem("/fw/update_w620.qpk", "W710_IPC"),
                 "The upgrade file is not for current camera!");
    EXPECT_STREQ(NetCamera::upgradeFileProblem("/fw/w710.qpk", "W710_IPC"), "Invalid upgrade file name!");
    EXPECT_STREQ(NetCamera::upgradeFileProblem("/fw/update_w710.zip", "W710_IPC"), "Invalid upgrade file name!");
    // The extension is plain text: no other character stands in for its dot.
    EXPECT_STREQ(NetCamera::upgradeFileProblem("/fw/update_w710_qpk", "W710_IPC"), "Invalid upgrade file name!");
    EXPECT_STREQ(NetCamera::upgradeFileProblem("/fw/update_x.qpk", "Z100_IPC"),
                 "Current camera is not support upgrading by net!");
}

TEST(NetCameraUpgrade, WarningSpeaksTheUsersLanguage)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(":/Language/language_cn.qm"));
    QCoreApplication::installTranslator(&translator);
    E530NetCamera camera;  // never logged in: no model known
    QString title, text, button;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            button = box->buttons().value(0) ? box->buttons().value(0)->text() : QString();
            box->accept();
        }
    });
    closer.start(20);
    EXPECT_FALSE(camera.upgradeFirmware("/fw/update_e530.qpk", nullptr));
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(title, QString::fromUtf8("警告"));
    EXPECT_EQ(text, QString::fromUtf8("当前相机不支持网络升级！"));
    EXPECT_EQ(button, QString::fromUtf8("确定"));
}
