// The USB camera classes end to end on the virtual camera (an E530 board):
// bring-up, stream, settings read and written through the control layer.
#include "camera_test_support.h"
#include "control.h"
#include "virtual_backend.h"

#include <QSignalSpy>

#include <cstdlib>
#include <memory>

namespace {

class VirtualCameraTest : public VirtualCameraFixture
{
protected:

    template <typename Camera>
    std::unique_ptr<Camera> bringUp(int32_t context = 0)
    {
        auto camera = std::make_unique<Camera>();
        CameraOpenSettings settings;
        settings.usb.devicePath = usbcam::kVirtualCameraPath;
        settings.usb.controlContext = context;
        camera->setOpenSettings(settings);
        EXPECT_TRUE(camera->login(settings));
        return camera;
    }

    static CameraOpenSettings streamSettings(int width, int height, int format = StreamMjpeg, int fps = 60)
    {
        CameraOpenSettings settings;
        settings.usb.width = width;
        settings.usb.height = height;
        settings.usb.resolutionText = Resolution(width, height).text;
        settings.usb.streamFormat = format;
        settings.usb.fps = fps;
        settings.usb.bufferSize = 8294400;
        return settings;
    }

    static VideoFrame nextFrame(BaseCamera &camera)
    {
        for (int attempt = 0; attempt < 60; ++attempt) {
            VideoFrame frame = camera.getVideoFrameData();
            if (frame.size() != 0)
                return frame;
        }
        return VideoFrame();
    }

    int32_t handle() const { return cam_find_context(usbcam::kVirtualCameraPath); }
};

} // namespace

TEST_F(VirtualCameraTest, BringUpQueriesTheBoard)
{
    auto camera = bringUp<E530UCamera>();
    EXPECT_GE(camera->controlContext(), 0);
    EXPECT_EQ(camera->uniqueName(), usbcam::kVirtualCameraPath);
    EXPECT_EQ(camera->cameraName(), usbcam::kVirtualCameraPath);

    CameraParameters params;
    ASSERT_TRUE(camera->queryParameters(params));
    EXPECT_EQ(params.modelId, 0xE530u);
    EXPECT_EQ(params.firmwareVersion, usbcam::kVirtualCameraVersion);
    EXPECT_TRUE(params.focus.supported);
    EXPECT_EQ(params.focus.value, 200);
    EXPECT_EQ(params.focusMode, FocusAuto);
    EXPECT_EQ(params.focusRegionX, 8);
    EXPECT_EQ(params.focusRegionY, 7);
    EXPECT_TRUE(params.focusRegionSupported);
    EXPECT_FALSE(params.focusOnceSupported);
    EXPECT_TRUE(params.exposureSupported);
    EXPECT_EQ(params.exposureCompensation.value, 56);
    EXPECT_EQ(params.exposureCompensation.maximum, 250);
    EXPECT_EQ(params.saturation.value, 128);
    EXPECT_TRUE(params.monochromeSupported);
    EXPECT_FALSE(params.monochromeOn);
    EXPECT_EQ(params.whiteBalanceRed.defaultValue, 628);
    EXPECT_EQ(params.whiteBalanceRed.maximum, 4095);
    EXPECT_TRUE(params.flipMirrorSupported);
    EXPECT_TRUE(params.flickerSupported);
    EXPECT_TRUE(params.mainToolsFlag && params.panelPageFlag && params.extraControlA && params.extraControlB);
    EXPECT_EQ(params.resolution.text, "3840x2160");  // from the default row
    EXPECT_EQ(params.streamFormats, QList<int>({0, 1}));

    // The camera's own record is the cache: every value forgotten.
    const CameraParameters own = camera->parameters();
    EXPECT_EQ(own.saturation.value, -1);
    EXPECT_EQ(own.focus.value, -1);
    EXPECT_EQ(own.exposureMode, ExposureAuto);
}

TEST_F(VirtualCameraTest, StreamsTheAskedSizeAndReopens)
{
    auto camera = bringUp<E530UCamera>();
    ASSERT_TRUE(camera->open(streamSettings(1280, 720)));
    EXPECT_TRUE(camera->isStreamOpen());
    // The buffer size comes from the stream, not from the caller's fixed value.
    EXPECT_EQ(camera->getOpenSettings().usb.bufferSize, 1280 * 720 * 3 / 2);
    EXPECT_EQ(camera->captureRecord().resolution_code, 1);
    EXPECT_GE(camera->getOpenSettings().usb.controlContext, 0);

    VideoFrame frame = nextFrame(*camera);
    EXPECT_EQ(frame.width(), 1280);
    EXPECT_EQ(frame.height(), 720);
    EXPECT_EQ(frame.type(), VideoFrameBuffer::I420);

    ASSERT_TRUE(camera->reopen(streamSettings(640, 480, StreamNv12)));
    frame = nextFrame(*camera);
    EXPECT_EQ(frame.width(), 640);
    EXPECT_EQ(frame.height(), 480);
    EXPECT_EQ(camera->captureRecord().pixel_format, 0);

    EXPECT_TRUE(camera->close());
    EXPECT_FALSE(camera->close());
    EXPECT_EQ(camera->getVideoFrameData().size(), 0);
    EXPECT_FALSE(camera->reopen(streamSettings(640, 480)));
    ASSERT_TRUE(camera->open(streamSettings(320, 240)));
    EXPECT_EQ(nextFrame(*camera).width(), 320);
}

TEST_F(VirtualCameraTest, CameraPulledOutGivesEmptyFrames)
{
    auto camera = bringUp<E530UCamera>();
    ASSERT_TRUE(camera->open(streamSettings(640, 480)));
    ASSERT_NE(nextFrame(*camera).size(), 0);
    usbcam::setVirtualCameraPresent(false);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(camera->getVideoFrameData().size(), 0);
    usbcam::setVirtualCameraPresent(true);
    EXPECT_TRUE(camera->close());
}

TEST_F(VirtualCameraTest, MissingDeviceFailsToOpen)
{
    auto camera = std::make_unique<E530UCamera>();
    CameraOpenSettings settings;
    settings.usb.devicePath = "virtual:usb-vorenta-virtual&vid_1d6b&pid_e530#000009";
    camera->login(settings);
    EXPECT_LT(camera->controlContext(), 0);
    LogCatcher log;
    EXPECT_FALSE(camera->open(streamSettings(640, 480)));
    EXPECT_TRUE(log.contains("Uvc camera open failed!"));
}

TEST_F(VirtualCameraTest, PlainSettersSkipUnchangedValues)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->onSetHueValue(70);
    EXPECT_EQ(cam_get_hue(handle()), 70);
    cam_set_hue(handle(), 20);
    camera->onSetHueValue(70);  // equal to the cache: nothing sent
    EXPECT_EQ(cam_get_hue(handle()), 20);
    camera->onSetContrastValue(60);
    camera->onSetSharpnessValue(3);
    camera->onSetGammaValue(2);
    EXPECT_EQ(cam_get_contrast(handle()), 60);
    EXPECT_EQ(cam_get_sharpness(handle()), 3);
    EXPECT_EQ(cam_get_gamma(handle()), 2);
    // After a new query every control is sent again.
    camera->queryParameters(params);
    camera->onSetHueValue(70);
    EXPECT_EQ(cam_get_hue(handle()), 70);
}

TEST_F(VirtualCameraTest, NoControlHandleMeansNoControl)
{
    auto camera = bringUp<E530UCamera>(-1);
    EXPECT_LT(camera->controlContext(), 0);
    QSignalSpy spy(camera.get(), &BaseCamera::sendSaturationValue);
    camera->onSetHueValue(10);
    camera->onSetFlipStatus(true);
    camera->onSetMonoChromeStatus(true);
    camera->onGetSaturationValue();
    const int32_t h = handle();
    EXPECT_EQ(cam_get_hue(h), 50);
    EXPECT_EQ(cam_get_flip(h), 0);
    EXPECT_EQ(cam_get_saturation(h), 128);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(VirtualCameraTest, ExposureValuesFollowTheMode)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    // Gain in automatic exposure is ignored and not cached.
    camera->onSetExpGainValue(5);
    EXPECT_EQ(cam_get_exposure_gain(handle()), 0);
    EXPECT_EQ(camera->parameters().exposureGain.value, -1);
    camera->onSetExpCompValue(80);
    EXPECT_EQ(cam_get_exposure_compensation(handle()), 80);

    camera->onSetExpMode(ExposureManual);
    EXPECT_EQ(cam_get_exposure_mode(handle()), 0);
    camera->onSetExpGainValue(5);
    camera->onSetExpTime(200);
    EXPECT_EQ(cam_get_exposure_gain(handle()), 5);
    EXPECT_EQ(cam_get_exposure_time(handle()), 200);
    camera->onSetExpCompValue(90);  // manual: ignored
    EXPECT_EQ(cam_get_exposure_compensation(handle()), 80);

    QSignalSpy modes(camera.get(), &BaseCamera::sendExpMode);
    camera->onGetExpMode();
    ASSERT_EQ(modes.count(), 1);
    EXPECT_EQ(modes.at(0).at(0).value<ExposureMode>(), ExposureManual);

    // Back to automatic: the cached compensation goes with it.
    cam_set_exposure_compensation(handle(), 10);
    camera->onSetExpMode(ExposureAuto);
    EXPECT_EQ(cam_get_exposure_mode(handle()), 1);
    EXPECT_EQ(cam_get_exposure_compensation(handle()), 80);
}

TEST_F(VirtualCameraTest, ManualWhiteBalanceReadsTheComponentsBack)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    QSignalSpy red(camera.get(), &BaseCamera::sendWbRedValue);
    QSignalSpy blue(camera.get(), &BaseCamera::sendWbBlueValue);
    camera->onSetWbRedValue(700);  // automatic: ignored
    EXPECT_EQ(cam_get_white_balance_component_red(handle()), 628);
    camera->onSetWbMode(WbManual);
    EXPECT_EQ(cam_get_white_balance_mode(handle()), 0);
    ASSERT_EQ(red.count(), 1);
    EXPECT_EQ(red.at(0).at(0).toInt(), 628);
    EXPECT_EQ(blue.at(0).at(0).toInt(), 421);
    camera->onSetWbRedValue(700);
    EXPECT_EQ(cam_get_white_balance_component_red(handle()), 700);
    camera->onSetWbMode(WbManual);  // unchanged: nothing read again
    EXPECT_EQ(red.count(), 1);
}

TEST_F(VirtualCameraTest, FlipAndMirrorCanBeSwitchedOff)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->onSetFlipStatus(true);
    camera->onSetMirrorStatus(true);
    EXPECT_EQ(cam_get_flip(handle()), 1);
    EXPECT_EQ(cam_get_mirror(handle()), 1);
    camera->onSetFlipStatus(false);
    camera->onSetMirrorStatus(false);
    EXPECT_EQ(cam_get_flip(handle()), 0);
    EXPECT_EQ(cam_get_mirror(handle()), 0);

    QSignalSpy flips(camera.get(), &BaseCamera::sendFlipStatus);
    cam_set_flip(handle(), 1);
    camera->onGetFlipStatus();
    ASSERT_EQ(flips.count(), 1);
    EXPECT_TRUE(flips.at(0).at(0).toBool());

    camera->onSetFilckStatus(true);
    EXPECT_EQ(cam_get_flick(handle()), 1);
    camera->onSetFilckStatus(false);
    EXPECT_EQ(cam_get_flick(handle()), 0);
}

TEST_F(VirtualCameraTest, MonochromeRestoresTheSavedSaturation)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->onSetSaturationValue(40);
    QSignalSpy spy(camera.get(), &BaseCamera::sendSaturationValue);
    camera->onSetMonoChromeStatus(true);
    EXPECT_EQ(cam_get_saturation(handle()), 0);
    camera->onSetMonoChromeStatus(true);  // already grey: the first saved value stays
    camera->onSetMonoChromeStatus(false);
    EXPECT_EQ(cam_get_saturation(handle()), 40);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 40);

    // Grey from the stored row, nothing saved: colour comes back at the default.
    camera->queryParameters(params);
    camera->onSetSaturationValue(0);
    camera->onSetMonoChromeStatus(false);
    EXPECT_EQ(cam_get_saturation(handle()), 128);

    QSignalSpy grey(camera.get(), &BaseCamera::sendMonoChromeStatus);
    cam_set_saturation(handle(), 0);
    camera->onGetMonoChromeStatus();
    ASSERT_EQ(grey.count(), 1);
    EXPECT_TRUE(grey.at(0).at(0).toBool());
}

TEST_F(VirtualCameraTest, FocusFollowsItsMode)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    camera->onSetFocusValue(300);  // automatic focus: ignored
    EXPECT_EQ(cam_get_focus(handle()), 200);

    QSignalSpy values(camera.get(), &BaseCamera::sendFocusValue);
    camera->onSetFocusMode(FocusManual);
    EXPECT_EQ(cam_get_focus_mode(handle()), 0);
    ASSERT_EQ(values.count(), 1);
    EXPECT_EQ(values.at(0).at(0).toInt(), 200);
    camera->onSetFocusValue(300);
    EXPECT_EQ(cam_get_focus(handle()), 300);
    camera->onSetFocusRegion(2, 3);  // only in automatic focus
    int32_t x = 0, y = 0;
    cam_get_focus_region(handle(), &x, &y);
    EXPECT_EQ(x, 8);

    camera->onSetMotorCenter();
    EXPECT_EQ(cam_get_focus(handle()), 200);  // half the maximum of 400

    QSignalSpy modes(camera.get(), &BaseCamera::sendFocusMode);
    camera->onGetFocusMode();
    ASSERT_EQ(modes.count(), 1);
    EXPECT_EQ(modes.at(0).at(0).value<FocusMode>(), FocusManual);

    camera->onSetFocusMode(FocusAuto);
    camera->onSetFocusRegion(2, 3);
    cam_get_focus_region(handle(), &x, &y);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 3);
    QSignalSpy regions(camera.get(), &BaseCamera::sendFocusRegion);
    camera->onGetFocusRegion();
    ASSERT_EQ(regions.count(), 1);
    EXPECT_EQ(regions.at(0).at(1).toInt(), 3);
}

TEST_F(VirtualCameraTest, UnsupportedSlotsOnlyLog)
{
    auto camera = bringUp<V330Camera>();
    LogCatcher log;
    camera->onSetFocusMode(FocusManual);
    camera->onSetZoomValue(10);
    camera->onGetDZoomValue();
    camera->onSetIp(IpInfo());
    camera->onUpgrade("update.bin");
    EXPECT_TRUE(log.contains("Current camera not support focus"));
    EXPECT_TRUE(log.contains("Current camera does not support to adjust zoom"));
    EXPECT_TRUE(log.contains("Current camera does not support digit zoom"));
    EXPECT_TRUE(log.contains("Uvc camera does not support to set ip!"));
    EXPECT_TRUE(log.contains("Uvc camera does not support to upgrade!"));
    EXPECT_EQ(cam_get_focus_mode(handle()), 1);
    EXPECT_EQ(cam_get_zoom(handle()), 0);
    EXPECT_FALSE(camera->upgradeFirmware("update.bin", nullptr));
}

TEST_F(VirtualCameraTest, PanelSetUpKeepsTheRecord)
{
    auto camera = bringUp<E530UCamera>();
    CameraParameters params;
    camera->queryParameters(params);
    EXPECT_TRUE(camera->lowResFrameRates().isEmpty());
    QObject panel;
    camera->setSettingsPanel(&panel);
    EXPECT_EQ(camera->settingsPanel(), &panel);
    QSignalSpy regions(camera.get(), &BaseCamera::sendFocusRegion);
    camera->initSettingsPanel(params, 7, true);
    EXPECT_EQ(regions.count(), 1);
    EXPECT_EQ(camera->panelValue(), 7);
    EXPECT_EQ(camera->parameters().saturation.value, 128);
    EXPECT_EQ(camera->highResFrameRates(), QList<int>({10, 15, 20, 25, 30}));
    EXPECT_EQ(camera->lowResFrameRates(), QList<int>({25, 30, 50, 60}));
}

TEST_F(VirtualCameraTest, UsbListingForTheMainWindow)
{
    cam_probe_buffer buffer;
    probeUsbCameras(&buffer);
    bool listed = false;
    for (int i = 0; i < buffer.count; ++i)
        listed = listed || QString(buffer.devices[i].path) == usbcam::kVirtualCameraPath;
    EXPECT_TRUE(listed);
    ASSERT_TRUE(refreshUsbCameraContext(&buffer));
    int32_t handleInBuffer = -1;
    for (int i = 0; i < buffer.count; ++i)
        if (QString(buffer.devices[i].path) == usbcam::kVirtualCameraPath)
            handleInBuffer = buffer.devices[i].handle;
    EXPECT_GE(handleInBuffer, 0);
    // The camera reaches the same handle through its path.
    auto camera = bringUp<E530UCamera>();
    EXPECT_EQ(camera->controlContext(), handleInBuffer);
    releaseUsbCameraContext();
    EXPECT_EQ(cam_get_hue(handleInBuffer), -1);
}
