// The thirteen USB camera models: their default rows, resolutions, stream
// formats, parameter queries and the slots where they differ.
#include "camera_test_support.h"
#include "control.h"
#include "virtual_backend.h"

#include <QSignalSpy>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

struct ModelCase {
    const char *name;
    std::function<UvcCamera *()> make;
    uint32_t modelId;
    const char *productText;  // lower-case product id in the device path
    QList<int> streamFormats;
    QMap<int, QStringList> resolutions;
    // Default row: isnv12, decodeWay, exposureTime, Zoom, whiteBalanceMode,
    // R, G, B, saturation, contrast, sharpness, focusMode, focusValue,
    // HDRValue, fps, bitrate, exposureCompensation; then the resolution.
    QList<int> row;
    const char *resolution;
};

const QList<ModelCase> &models()
{
    static const QList<ModelCase> list = {
        {"R480", [] { return new R480Camera; }, 42112, "0480", {2}, {{2, {"1536x1024", "3072x2048"}}},
         {0, 2, -5, 0, 0, 1, 1, 1, 128, 50, 128, 1, 0, 31, 10, 2, 50}, "3072x2048"},
        {"E150", [] { return new E150Camera; }, 0xE150, "e150", {0}, {{0, {"1920x1080", "2592x1944"}}},
         {1, 0, 7, -1, 1, 1, 1, 1, 50, 50, 8, 2, 200, 6, 30, 2, 56}, "2592x1944"},
        {"E170", [] { return new E170Camera; }, 0xE170, "e170", {0},
         {{0, {"1920x1080", "2592x1944", "3840x2160", "4000x3000"}}},
         {1, 0, 7, 0, 1, 1, 1, 1, 50, 50, 8, 2, 200, 6, 30, 2, 56}, "4000x3000"},
        {"E520", [] { return new E520UCamera; }, 0xE520, "e520", {0, 1},
         {{0, {"1920x1080", "2592x1944"}}, {1, {"1920x1080", "2592x1944"}}},
         {0, 0, 150, 0, 0, 628, 256, 421, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "2592x1944"},
        {"E530", [] { return new E530UCamera; }, 0xE530, "e530", {0, 1},
         {{0, {"1920x1080", "3840x2160"}}, {1, {"1920x1080", "3840x2160"}}},
         {0, 0, 150, 0, 0, 628, 256, 421, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "3840x2160"},
        {"E540", [] { return new E540UCamera; }, 0xE540, "e540", {0, 1},
         {{0, {"1920x1080", "3840x2160", "4000x3000"}}, {1, {"1920x1080", "3840x2160", "4000x3000"}}},
         {0, 0, 150, 0, 0, 661, 256, 372, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "4000x3000"},
        {"W610", [] { return new W610UCamera; }, 0x0610, "0610", {0}, {{0, {"1280x720", "1920x1080"}}},
         {1, 0, 7, 0, 1, 1, 1, 1, 50, 50, 8, 2, 1, 6, 30, 2, 56}, "1920x1080"},
        {"W620", [] { return new W620UCamera; }, 0x0620, "0620", {0},
         {{0, {"1280x720", "1920x1080"}}, {1, {"1280x720", "1920x1080"}}},
         {1, 0, 150, 0, 0, 490, 256, 369, 128, 50, 8, 2, 1, 1, 60, 2, 56}, "1920x1080"},
        {"W710", [] { return new W710UCamera; }, 0x0710, "0710", {0},
         {{0, {"1920x1080", "3840x2160"}}, {1, {"1920x1080", "3840x2160"}}},
         {1, 0, 150, 0, 0, 560, 256, 470, 128, 50, 8, 2, 1, 6, 30, 2, 56}, "3840x2160"},
        {"V330", [] { return new V330Camera; }, 0x1330, "1330", {0, 1},
         {{0, {"3072x2048"}}, {1, {"1536x1024", "3072x2048"}}},
         {1, 1, 150, 0, 0, 515, 256, 400, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "3072x2048"},
        {"V350", [] { return new V350Camera; }, 0x1350, "1350", {0, 1},
         {{0, {"3840x2160"}}, {1, {"1920x1080", "3840x2160"}}},
         {1, 1, 150, 0, 0, 538, 256, 408, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "3840x2160"},
        {"V370", [] { return new V370Camera; }, 0x1370, "1370", {0, 1},
         {{0, {"4000x3000"}}, {1, {"2048x1080", "4000x3000"}}},
         {1, 1, 150, 0, 0, 551, 256, 403, 128, 50, 8, 2, 0, 6, 30, 1, 56}, "4000x3000"},
        {"V390", [] { return new V390Camera; }, 0x1390, "1390", {0, 1},
         {{0, {"5440x3648"}}, {1, {"1824x1216", "2720x1824", "5440x3648"}}},
         {1, 1, 150, 0, 0, 532, 256, 411, 128, 50, 8, 2, 0, 6, 20, 1, 56}, "5440x3648"},
    };
    return list;
}

QString pathFor(const ModelCase &model)
{
    return QString("v4l2:usb-0000:00:14.0-3&vid_32e4&pid_%1#000042").arg(model.productText);
}

std::unique_ptr<UvcCamera> withoutDevice(const ModelCase &model, const QString &path)
{
    std::unique_ptr<UvcCamera> camera(model.make());
    CameraOpenSettings settings;
    settings.usb.devicePath = path;
    settings.usb.controlContext = -1;
    camera->setOpenSettings(settings);
    camera->login(settings);
    return camera;
}

class ModelTest : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        setenv("VORENTA_VIRTUAL_CAMERA", "1", 1);
        usbcam::setVirtualCameraPresent(true);
        usbcam::resetVirtualCamera();
    }

    template <typename Camera>
    std::unique_ptr<Camera> onVirtualBoard()
    {
        auto camera = std::make_unique<Camera>();
        CameraOpenSettings settings;
        settings.usb.devicePath = usbcam::kVirtualCameraPath;
        camera->setOpenSettings(settings);
        camera->login(settings);
        return camera;
    }
    int32_t handle() const { return cam_find_context(usbcam::kVirtualCameraPath); }
};

} // namespace

TEST_F(ModelTest, EveryModelStoresItsDefaultRowOnFirstSight)
{
    for (const ModelCase &model : models()) {
        SCOPED_TRACE(model.name);
        const QString path = pathFor(model);
        auto camera = withoutDevice(model, path);
        CameraParameters params;
        ASSERT_TRUE(camera->loadSettingsFromDb(params));
        CameraRow row;
        ASSERT_TRUE(CameraDatabase::instance().findRow(CameraDatabase::lookupKey(path), row));
        const QList<int> stored = {row.isnv12,        row.decodeWay,      row.exposureTime,  row.zoom,
                                   row.whiteBalanceMode, row.whiteBalanceR, row.whiteBalanceG, row.whiteBalanceB,
                                   row.saturationValue, row.contrastValue, row.sharpnessValue, row.focusMode,
                                   row.focusValue,    row.hdrValue,       row.fps,           row.bitrate,
                                   row.exposureCompensation};
        EXPECT_EQ(stored, model.row);
        EXPECT_EQ(row.resolution, model.resolution);
        EXPECT_EQ(row.pictureResolution, model.resolution);
        EXPECT_EQ(row.exposureMode, 1);
        EXPECT_EQ(row.exposureGain, 0);
        EXPECT_EQ(row.hueValue, 50);
        EXPECT_EQ(row.flip + row.mirror + row.defogMode + row.frameMode, 0);
        // Loaded back into the record.
        EXPECT_EQ(params.resolution.text, model.resolution);
        EXPECT_EQ(params.fps, model.row[14]);
        EXPECT_EQ(params.decodeWay, model.row[1]);
    }
}

TEST_F(ModelTest, EveryModelOffersItsSizesAndFormats)
{
    for (const ModelCase &model : models()) {
        SCOPED_TRACE(model.name);
        auto camera = withoutDevice(model, pathFor(model));
        EXPECT_EQ(camera->streamFormats(), model.streamFormats);
        QMap<int, QStringList> offered;
        const ResolutionMap resolutions = camera->resolutions();
        for (auto it = resolutions.begin(); it != resolutions.end(); ++it)
            for (const Resolution &resolution : it.value())
                offered[it.key()] << resolution.text;
        EXPECT_EQ(offered, model.resolutions);
        CameraParameters params;
        ASSERT_TRUE(camera->queryParameters(params));
        EXPECT_EQ(params.modelId, model.modelId);
        EXPECT_EQ(camera->parameters().modelId, model.modelId);
        EXPECT_TRUE(params.resolutionSelectable && params.streamFormatSelectable && params.extraControlB);
        EXPECT_EQ(params.whiteBalanceRed.maximum, 4095);
        // No Windows driver generation limits any model here.
        EXPECT_TRUE(camera->isSystemSupported());
    }
}

TEST_F(ModelTest, RangesAndFlagsOfTheModels)
{
    const auto query = [](const ModelCase &model) {
        auto camera = withoutDevice(model, pathFor(model));
        CameraParameters params;
        camera->queryParameters(params);
        return params;
    };
    const auto byName = [](const char *name) {
        for (const ModelCase &model : models())
            if (QString(model.name) == name)
                return model;
        return models().first();
    };
    CameraParameters p = query(byName("E150"));
    EXPECT_EQ(p.exposureGain.maximum, 16);
    EXPECT_EQ(p.exposureTime.maximum, 19);
    EXPECT_EQ(p.focus.maximum, 400);
    EXPECT_TRUE(p.focusOnceSupported && p.focusRegionSupported && p.mainToolsFlag && p.extraControlA);
    EXPECT_EQ(p.focusRegionX, 8);
    EXPECT_EQ(p.whiteBalanceRed.defaultValue, 800);
    p = query(byName("E170"));
    EXPECT_EQ(p.exposureGain.maximum, 22);
    EXPECT_EQ(p.exposureTime.maximum, 17);
    p = query(byName("R480"));
    EXPECT_EQ(p.exposureTime.minimum, -10);
    EXPECT_EQ(p.exposureTime.defaultValue, -5);
    EXPECT_FALSE(p.focus.supported || p.whiteBalanceSupported || p.mainToolsFlag);
    EXPECT_TRUE(p.gamma.supported && p.flickerSupported);
    p = query(byName("W610"));
    EXPECT_EQ(p.focus.maximum, 28672);
    EXPECT_EQ(p.focus.defaultValue, 4096);
    EXPECT_TRUE(p.defogSupported && p.zoom.supported);
    EXPECT_FALSE(p.digitalZoom.supported || p.mainToolsFlag);
    EXPECT_EQ(p.exposureGain.maximum, 50);
    p = query(byName("V390"));
    EXPECT_EQ(p.whiteBalanceRed.defaultValue, 532);
    EXPECT_EQ(p.whiteBalanceBlue.defaultValue, 411);
    EXPECT_FALSE(p.focus.supported);
    p = query(byName("E540"));
    EXPECT_EQ(p.whiteBalanceRed.defaultValue, 661);
    // Without a device to read, a W620 offers neither zoom nor digital zoom.
    p = query(byName("W620"));
    EXPECT_FALSE(p.zoom.supported);
    EXPECT_FALSE(p.digitalZoom.supported);
    EXPECT_FALSE(p.focusSlider || p.focusOnceSupported);
    EXPECT_EQ(p.whiteBalanceRed.defaultValue, 490);
}

TEST_F(ModelTest, StoredRowsAreReadIntoTheRecord)
{
    const ModelCase &e150 = models()[1];
    const QString path = pathFor(e150);
    auto camera = withoutDevice(e150, path);
    CameraParameters first;
    ASSERT_TRUE(camera->loadSettingsFromDb(first));
    auto &database = CameraDatabase::instance();
    database.saveCameraProperty(path, "resolution", "1920x1080");
    database.saveCameraProperty(path, "saturationValue", 0);
    database.saveCameraProperty(path, "whiteBalanceMode", 0);
    database.saveCameraProperty(path, "whiteBalanceR", 900);
    database.saveCameraProperty(path, "flip", 1);
    CameraParameters params;
    ASSERT_TRUE(camera->loadSettingsFromDb(params));
    EXPECT_EQ(params.resolution.text, "1920x1080");
    EXPECT_TRUE(params.monochromeOn);
    EXPECT_EQ(params.whiteBalanceMode, WbManual);
    EXPECT_EQ(params.whiteBalanceRed.value, 900);
    EXPECT_TRUE(params.flip);
    EXPECT_TRUE(params.focus.supported);
    EXPECT_EQ(params.focus.value, 200);

    // Without an exposure mode, nothing of the exposure group is read.
    database.saveCameraProperty(path, "exposureMode", -1);
    database.saveCameraProperty(path, "exposureGain", 9);
    CameraParameters none;
    ASSERT_TRUE(camera->loadSettingsFromDb(none));
    EXPECT_FALSE(none.exposureSupported);
    EXPECT_FALSE(none.exposureGain.supported);
    EXPECT_EQ(none.exposureGain.value, -1);
}

TEST_F(ModelTest, NoRowCanBeHadWithoutKeyOrDatabase)
{
    const ModelCase &e150 = models()[1];
    CameraParameters params;
    EXPECT_FALSE(withoutDevice(e150, "")->loadSettingsFromDb(params));
    EXPECT_FALSE(withoutDevice(e150, "short")->loadSettingsFromDb(params));
    CameraDatabase::instance().close();
    EXPECT_FALSE(withoutDevice(e150, pathFor(e150))->loadSettingsFromDb(params));
    // The camera still works with its model's defaults.
    EXPECT_EQ(params.resolution.text, "2592x1944");
    EXPECT_EQ(params.streamFormats, QList<int>{StreamMjpeg});
    EXPECT_FALSE(withoutDevice(e150, pathFor(e150))->storedRowReport().needsRewrite());
}

// Every stored value the model uses is checked against what the model offers
// and allows; what it does not allow gives way to the model's default, and
// the row stays as it is.
TEST_F(ModelTest, StoredValuesTheModelDoesNotAllowGiveWayToItsDefaults)
{
    const ModelCase &e150 = models()[1];
    const QString path = pathFor(e150);
    const QString key = CameraDatabase::lookupKey(path);
    auto camera = withoutDevice(e150, path);
    CameraParameters first;
    ASSERT_TRUE(camera->loadSettingsFromDb(first));
    QStringList assignments;
    for (const QString &column : CameraDatabase::columns().mid(1))
        assignments << column + (column.endsWith("esolution") ? " = '99999x99999'" : " = 99999");
    ASSERT_TRUE(CameraDatabase::instance()
                    .exec(QString("UPDATE camera SET %1 WHERE pid = ?").arg(assignments.join(",")), {key})
                    .ok);

    CameraParameters params;
    ASSERT_TRUE(camera->queryParameters(params));
    const StoredRowReport report = camera->storedRowReport();
    // Zoom, white-balance gains in automatic mode and gamma are not the row's on this model.
    EXPECT_EQ(report.ignored, QStringList({"isnv12", "decodeWay", "exposureMode", "exposureGain",
                                           "exposureCompensation", "exposureTime", "whiteBalanceMode", "hueValue",
                                           "saturationValue", "contrastValue", "sharpnessValue", "flip", "mirror",
                                           "focusMode", "focusValue", "defogMode", "frameMode", "resolution", "fps",
                                           "bitrate", "pictureResolution"}));
    CameraRow defaults = camera->defaultRow();
    defaults.pid = key;
    defaults.zoom = defaults.whiteBalanceR = defaults.whiteBalanceG = defaults.whiteBalanceB = defaults.hdrValue =
        99999;
    EXPECT_EQ(report.row.values(), defaults.values());
    EXPECT_EQ(params.resolution.text, "2592x1944");
    EXPECT_EQ(params.pictureResolution, "2592x1944");
    EXPECT_EQ(params.decodeWay, StreamMjpeg);
    EXPECT_EQ(params.exposureTime.value, 7);
    EXPECT_EQ(params.focus.value, 200);
    EXPECT_EQ(params.focusMode, FocusManual);
    EXPECT_EQ(params.fps, 30);
    EXPECT_FALSE(params.flip || params.mirror || params.defogOn || params.flickerOn);
    CameraRow stored;
    ASSERT_TRUE(CameraDatabase::instance().findRow(key, stored));
    EXPECT_EQ(stored.fps, 99999);

    // The top of a control's range is the camera's to take; one past it is not.
    const std::pair<const char *, int> tops[] = {{"exposureGain", 16},    {"exposureCompensation", 100},
                                                 {"exposureTime", 19},    {"hueValue", 100},
                                                 {"saturationValue", 100}, {"contrastValue", 100},
                                                 {"sharpnessValue", 15},  {"focusValue", 400}};
    for (int past : {0, 1}) {
        CameraRow edge = camera->defaultRow();
        QStringList refused;
        for (const auto &[column, top] : tops) {
            ASSERT_TRUE(edge.set(column, top + past));
            if (past)
                refused << column;
        }
        ASSERT_TRUE(CameraDatabase::instance().replaceRow(key, edge));
        ASSERT_TRUE(camera->queryParameters(params));
        EXPECT_EQ(camera->storedRowReport().ignored, refused) << "past the top by " << past;
        EXPECT_EQ(params.exposureCompensation.value, past ? 56 : 100);
        EXPECT_EQ(params.focus.value, past ? 200 : 400);
    }

    // The W610's one stored zoom value runs into digital zoom up to 140 + 50,
    // the W710's up to its own 144 + 30; it is checked whole, before it is split.
    auto w610 = withoutDevice(models()[6], pathFor(models()[6]));
    ASSERT_TRUE(w610->queryParameters(params));
    ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(pathFor(models()[6]), "Zoom", 191));
    ASSERT_TRUE(w610->queryParameters(params));
    EXPECT_EQ(w610->storedRowReport().ignored, QStringList{"Zoom"});
    EXPECT_EQ(params.zoom.value, 0);
    EXPECT_EQ(params.digitalZoom.value, 0);
    const QString w710Path = pathFor(models()[8]);
    auto w710 = withoutDevice(models()[8], w710Path);
    ASSERT_TRUE(w710->queryParameters(params));
    for (const auto &[zoom, refused] : {std::pair<int, bool>{174, false}, {175, true}, {-5, true}}) {
        ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(w710Path, "Zoom", zoom));
        ASSERT_TRUE(w710->queryParameters(params));
        EXPECT_EQ(w710->storedRowReport().ignored, refused ? QStringList{"Zoom"} : QStringList()) << zoom;
    }
}

TEST_F(ModelTest, UnreadableRowIsReportedWithoutAddingAnother)
{
    const ModelCase &e150 = models()[1];
    const QString path = pathFor(e150);
    CameraParameters params;
    ASSERT_TRUE(withoutDevice(e150, path)->loadSettingsFromDb(params));
    const QString key = CameraDatabase::lookupKey(path);
    ASSERT_TRUE(CameraDatabase::instance().exec("UPDATE camera SET Zoom = 'wide' WHERE pid = ?", {key}).ok);

    for (int start = 0; start < 3; ++start) {
        CameraParameters again;
        auto camera = withoutDevice(e150, path);
        EXPECT_FALSE(camera->loadSettingsFromDb(again));
        EXPECT_TRUE(camera->storedRowReport().unreadable);
        EXPECT_EQ(again.resolution.text, "2592x1944");
    }
    auto count = CameraDatabase::instance().exec("SELECT COUNT(*) FROM camera WHERE pid = ?", {key});
    ASSERT_TRUE(count.ok && count.query.next());
    EXPECT_EQ(count.query.value(0).toInt(), 1);
}

TEST_F(ModelTest, FrameRatesAndResolutionCodes)
{
    EXPECT_EQ(UvcCamera::resolutionCode(1920, 1080), 5);
    EXPECT_EQ(UvcCamera::resolutionCode(1234, 567), 5);
    EXPECT_EQ(UvcCamera::resolutionCode(640, 480), 0);
    EXPECT_EQ(UvcCamera::resolutionCode(2048, 1080), 6);
    EXPECT_EQ(UvcCamera::resolutionCode(5440, 3648), 13);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamYuy2, 1536, 1024, 42112), 80);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamYuy2, 3072, 2048, 42112), 30);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamNv12, 1920, 1080, 0x1330), 30);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamNv12, 1920, 1080, 0x1350), 60);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamNv12, 4000, 3000, 0x1370), 10);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamNv12, 5440, 3648, 0x1390), 7);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamNv12, 3840, 2160, 0x1350), 15);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamMjpeg, 1920, 1080, 0xE150), 30);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamMjpeg, 1920, 1080, 0xE530), 60);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamMjpeg, 5440, 3648, 0x1390), 20);
    EXPECT_EQ(UvcCamera::defaultFrameRateFor(StreamH264, 1920, 1080, 0), 30);
}

TEST_F(ModelTest, R480ShowsNoPictureForTwentyReadsAfterFlip)
{
    auto camera = onVirtualBoard<R480Camera>();
    CameraParameters params;
    camera->queryParameters(params);
    CameraOpenSettings settings;
    settings.usb.width = 320;
    settings.usb.height = 240;
    settings.usb.fps = 240;
    ASSERT_TRUE(camera->open(settings));
    camera->onSetFlipStatus(true);
    EXPECT_EQ(cam_get_flip(handle()), 1);
    for (int read = 0; read < R480Camera::kDroppedAfterFlip; ++read)
        ASSERT_EQ(camera->getVideoFrameData().size(), 0) << read;
    VideoFrame frame;
    for (int attempt = 0; attempt < 60 && frame.size() == 0; ++attempt)
        frame = camera->getVideoFrameData();
    EXPECT_EQ(frame.width(), 320);
    // Told the flip it has (as a reset tells it), the sensor does not turn.
    camera->onSetFlipStatus(true);
    frame = camera->getVideoFrameData();
    for (int read = 1; read < R480Camera::kDroppedAfterFlip && frame.size() == 0; ++read)
        frame = camera->getVideoFrameData();
    EXPECT_EQ(frame.width(), 320);
    camera->onSetMirrorStatus(true);
    EXPECT_EQ(camera->getVideoFrameData().size(), 0);
    camera->close();
}

TEST_F(ModelTest, R480ManualExposureSendsOnlyTheGain)
{
    auto camera = onVirtualBoard<R480Camera>();
    CameraParameters params;
    camera->queryParameters(params);
    cam_set_exposure_time(handle(), 100);
    camera->onSetExpMode(ExposureManual);
    EXPECT_EQ(cam_get_exposure_mode(handle()), 0);
    EXPECT_EQ(cam_get_exposure_time(handle()), 100);
    cam_set_exposure_compensation(handle(), 99);
    camera->onSetExpMode(ExposureAuto);
    EXPECT_EQ(cam_get_exposure_compensation(handle()), 99);
}

TEST_F(ModelTest, W610SplitsTheStoredZoom)
{
    auto camera = onVirtualBoard<W610UCamera>();
    CameraParameters params;
    ASSERT_TRUE(camera->loadSettingsFromDb(params));
    ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(usbcam::kVirtualCameraPath, "Zoom", 150));
    ASSERT_TRUE(camera->queryParameters(params));
    EXPECT_EQ(params.zoom.value, 140);
    EXPECT_EQ(params.digitalZoom.value, 10);
    camera->initSettingsPanel(params, 0, true);
    EXPECT_EQ(camera->displayName(), "USB Camera   1.23 5.1.0");
    camera->onSetDZoomValue(5);
    EXPECT_EQ(cam_get_zoom(handle()), 145);
    QSignalSpy zoom(camera.get(), &BaseCamera::sendZoomValue);
    QSignalSpy digital(camera.get(), &BaseCamera::sendDZoomValue);
    camera->onGetZoomValue();
    camera->onGetDZoomValue();
    EXPECT_EQ(zoom.at(0).at(0).toInt(), 140);
    EXPECT_EQ(digital.at(0).at(0).toInt(), 5);
    camera->onSetDefogStatus(true);
    EXPECT_EQ(cam_get_demist(handle()), 1);
}

TEST_F(ModelTest, W610PushesTheRecordToTheDevice)
{
    auto camera = onVirtualBoard<W610UCamera>();
    CameraParameters params;
    ASSERT_TRUE(camera->queryParameters(params));
    params.hue.value = 33;
    params.flip = true;
    params.zoom.value = 60;
    QSignalSpy hue(camera.get(), &BaseCamera::sendHueValue);
    camera->initSettingsPanel(params, 0, false);
    EXPECT_EQ(cam_get_hue(handle()), 33);
    EXPECT_EQ(cam_get_flip(handle()), 1);
    EXPECT_EQ(cam_get_zoom(handle()), 60);
    ASSERT_EQ(hue.count(), 1);
    EXPECT_EQ(hue.at(0).at(0).toInt(), 33);
    // With skipApply nothing reaches the device.
    params.hue.value = 44;
    camera->queryParameters(params);
    params.hue.value = 44;
    camera->initSettingsPanel(params, 0, true);
    EXPECT_EQ(cam_get_hue(handle()), 33);
}

TEST_F(ModelTest, W710ReadsZoomFromTheDevice)
{
    cam_set_zoom(handle(), 160);
    auto camera = onVirtualBoard<W710UCamera>();
    CameraParameters params;
    ASSERT_TRUE(camera->queryParameters(params));
    EXPECT_EQ(params.zoom.value, 144);
    EXPECT_EQ(params.digitalZoom.value, 16);
    EXPECT_EQ(params.digitalZoom.maximum, 30);
    EXPECT_TRUE(params.digitalZoom.supported);
    EXPECT_EQ(params.gamma.maximum, 10);
    EXPECT_TRUE(params.defogSupported && params.flickerSupported);
    auto w620 = onVirtualBoard<W620UCamera>();
    ASSERT_TRUE(w620->queryParameters(params));
    EXPECT_EQ(params.zoom.value, 130);
    EXPECT_EQ(params.digitalZoom.value, 30);
    EXPECT_EQ(params.gamma.maximum, 3);
}

// A board that keeps settings of its own is set, when it is queried at
// open, to what the user chose in its row; a column still at the model's default row leaves the
// board's own value, so a camera seen for the first time stays as it is.
TEST_F(ModelTest, BoardModelsAreSetToTheChoicesOfTheirRow)
{
    cam_set_hue(handle(), 20);
    cam_set_sharpness(handle(), 3);
    const auto query = [this] {
        auto camera = onVirtualBoard<W710UCamera>();
        CameraParameters params;
        EXPECT_TRUE(camera->queryParameters(params));
        return params;
    };
    CameraParameters params = query();
    EXPECT_EQ(params.hue.value, 20);
    EXPECT_EQ(cam_get_hue(handle()), 20);
    EXPECT_EQ(cam_get_sharpness(handle()), 3);
    EXPECT_EQ(cam_get_focus_mode(handle()), 1);
    EXPECT_EQ(cam_get_white_balance_mode(handle()), 1);

    const std::pair<const char *, int> chosen[] = {
        {"hueValue", 33},  {"HDRValue", 2},      {"defogMode", 1},        {"Zoom", 160},         {"mirror", 1},
        {"focusMode", 2},  {"focusValue", 250},  {"whiteBalanceMode", 2}, {"whiteBalanceR", 900}};
    for (const auto &column : chosen)
        ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(usbcam::kVirtualCameraPath, column.first,
                                                                  column.second));
    usbcam::resetVirtualCamera();
    cam_set_sharpness(handle(), 3);
    params = query();
    EXPECT_EQ(params.hue.value, 33);
    EXPECT_EQ(cam_get_hue(handle()), 33);
    EXPECT_EQ(cam_get_gamma(handle()), 2);
    EXPECT_EQ(cam_get_demist(handle()), 1);
    EXPECT_EQ(cam_get_zoom(handle()), 160);
    EXPECT_EQ(cam_get_mirror(handle()), 1);
    EXPECT_EQ(cam_get_focus_mode(handle()), 0);
    EXPECT_EQ(cam_get_white_balance_mode(handle()), 0);
    EXPECT_EQ(cam_get_white_balance_component_red(handle()), 900);
    EXPECT_EQ(cam_get_sharpness(handle()), 3);
}

TEST_F(ModelTest, E150IgnoresFocusValuesInAutoFocus)
{
    auto camera = onVirtualBoard<E150Camera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->onSetFocusValue(300);
    EXPECT_EQ(cam_get_focus(handle()), 200);
    camera->onSetFocusMode(FocusOnce);
    EXPECT_EQ(cam_get_focus_mode(handle()), 2);
    camera->onSetFocusOnce();
    camera->onSetFocusMode(FocusManual);
    camera->onSetFocusValue(300);
    EXPECT_EQ(cam_get_focus(handle()), 300);
}

TEST_F(ModelTest, E150PanelSetUpNamesTheCamera)
{
    auto camera = onVirtualBoard<E150Camera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->initSettingsPanel(params, 0, true);
    EXPECT_EQ(camera->displayName(), "USB Camera   1.23 5.1.0");
    EXPECT_EQ(camera->parameters().modelId, 0xE150u);
}
