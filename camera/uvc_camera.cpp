#include "uvc_camera.h"

#include "control.h"
#include "frame_convert.h"
#include "log.h"

#include <QDebug>
#include <QMutexLocker>

#include <cstring>

namespace {

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

} // namespace

UvcCamera::UvcCamera(QObject *parent) : BaseCamera(parent) {}

UvcCamera::~UvcCamera()
{
    QMutexLocker lock(&streamMutex_);
    if (record_.priv)
        cap_close(&record_);
}

bool UvcCamera::queryParameters(CameraParameters &out)
{
    fillParameters(out);
    checkStoredControls(out);
    setBoardToRecord(out);
    adoptParameters(out);
    return true;
}

void UvcCamera::fillParameters(CameraParameters &out)
{
    for (ControlRange *component : {&out.whiteBalanceRed, &out.whiteBalanceGreen, &out.whiteBalanceBlue}) {
        component->minimum = 1;
        component->maximum = 4095;
    }
    out.resolutionSelectable = true;
    out.streamFormatSelectable = true;
    out.extraControlB = true;
}

void UvcCamera::adoptParameters(const CameraParameters &params)
{
    params_ = params;
    for (ControlRange *cached : {&params_.focus, &params_.exposureGain, &params_.exposureTime,
                                 &params_.exposureCompensation, &params_.whiteBalanceRed, &params_.whiteBalanceGreen,
                                 &params_.whiteBalanceBlue, &params_.zoom, &params_.digitalZoom, &params_.hue,
                                 &params_.saturation, &params_.contrast, &params_.sharpness, &params_.gamma})
        cached->value = -1;
    params_.focusMode = FocusAuto;
    params_.exposureMode = ExposureAuto;
    params_.whiteBalanceMode = WbAuto;
    params_.flip = false;
    params_.mirror = false;
    params_.defogOn = false;
    params_.flickerOn = false;
    params_.monochromeOn = false;
}

CameraOpenSettings UvcCamera::getOpenSettings()
{
    CameraOpenSettings settings;
    QMutexLocker lock(&usbMutex_);
    settings.usb = usb_;
    return settings;
}

void UvcCamera::setOpenSettings(const CameraOpenSettings &settings)
{
    QMutexLocker lock(&usbMutex_);
    usb_ = settings.usb;
}

int UvcCamera::defaultFrameRateFor(int streamFormat, int width, int height, uint32_t modelId)
{
    const uint64_t area = uint64_t(uint32_t(width)) * uint32_t(height);
    switch (streamFormat) {
    case StreamNv12:
        if (area > 2217984) {
            if (area <= 5038848)
                return 30;
            if (area <= 6291456)
                return 25;
            if (area <= 8294400)
                return 15;
            if (area <= 12000000)
                return 10;
            return 7;
        }
        switch (modelId) {
        case 0x0610: case 0xE150: case 0xE170: case 0xE540: case 0x1330: case 0x1370: return 30;
        default: return 60;
        }
    case StreamMjpeg:
        if (area > 2073600)
            return area <= 12000000 ? 30 : 20;
        switch (modelId) {
        case 0x0610: case 0xE150: case 0xE170: case 0xE540: return 30;
        default: return 60;
        }
    case StreamYuy2:
        return area <= 1572864 ? 80 : 30;
    default:
        return 30;
    }
}

int UvcCamera::defaultFrameRate()
{
    QMutexLocker lock(&usbMutex_);
    return defaultFrameRateFor(usb_.streamFormat, usb_.width, usb_.height, params_.modelId);
}

bool UvcCamera::isSystemSupported()
{
    return true;
}

bool UvcCamera::upgradeFirmware(const QString &, QWidget *)
{
    return false;
}

QString UvcCamera::uniqueName()
{
    return uniqueName_;
}

QString UvcCamera::cameraName()
{
    return uniqueName_;
}

bool UvcCamera::login(const CameraOpenSettings &settings)
{
    uniqueName_ = settings.usb.devicePath;
    // The probe's handle may or may not have been handed in; the device path
    // decides which camera the controls reach.
    const int32_t context = settings.usb.controlContext >= 0
                                ? cam_find_context(uniqueName_.toLatin1().constData())
                                : settings.usb.controlContext;
    {
        QMutexLocker lock(&usbMutex_);
        usb_.devicePath = uniqueName_;
        usb_.controlContext = context;
    }
    if (context < 0)
        logLine() << "No control handle for " << uniqueName_ << "; camera controls are off";
    return true;
}

bool UvcCamera::logout()
{
    return true;
}

int UvcCamera::resolutionCode(int width, int height)
{
    static const int sizes[][3] = {{640, 480, 0},    {1280, 720, 1},   {1344, 1008, 2},  {1536, 1024, 3},
                                   {1824, 1216, 4},  {2048, 1080, 6},  {2016, 1512, 7},  {2592, 1944, 8},
                                   {2720, 1824, 9},  {3072, 2048, 10}, {3840, 2160, 11}, {4000, 3000, 12},
                                   {5440, 3648, 13}};
    for (const auto &size : sizes)
        if (size[0] == width && size[1] == height)
            return size[2];
    return 5;
}

void UvcCamera::prepareCaptureParams()
{
    QMutexLocker lock(&streamMutex_);
    QMutexLocker usbLock(&usbMutex_);
    const QByteArray path = usb_.devicePath.toLatin1();
    const int length = qMin(path.size(), int(sizeof record_.device_path) - 1);
    std::memset(record_.device_path, 0, sizeof record_.device_path);
    std::memcpy(record_.device_path, path.constData(), size_t(length));
    record_.resolution_code = resolutionCode(usb_.width, usb_.height);
    record_.pixel_format = usb_.streamFormat == StreamNv12 ? 0 : 2;
    record_.capture_mode = 5;
    // Sized from the asked frame and format every time; the layer writes the
    // size of the format it negotiated back into the record.
    record_.buffer_size = captureBufferSize(usb_.width, usb_.height, usb_.streamFormat);
    record_.width = usb_.width;
    record_.height = usb_.height;
    record_.fps = usb_.fps;
    record_.stream_format = usb_.streamFormat;
}

bool UvcCamera::open(const CameraOpenSettings &settings)
{
    {
        QMutexLocker lock(&streamMutex_);
        if (record_.priv)
            cap_close(&record_);
        // Field by field: the control handle belongs to the control thread,
        // whose slots read it without a lock, so the stream never writes it.
        QMutexLocker usbLock(&usbMutex_);
        usb_.devicePath = uniqueName_;
        usb_.width = settings.usb.width;
        usb_.height = settings.usb.height;
        usb_.resolutionText = settings.usb.resolutionText;
        usb_.streamFormat = settings.usb.streamFormat;
        usb_.fps = settings.usb.fps;
        usb_.bufferSize = settings.usb.bufferSize;
    }
    prepareCaptureParams();
    QMutexLocker lock(&streamMutex_);
    if (cap_open(&record_) < 0) {
        logLine() << "Uvc camera open failed!";
        return false;
    }
    QMutexLocker usbLock(&usbMutex_);
    usb_.bufferSize = record_.buffer_size;
    return true;
}

bool UvcCamera::close()
{
    QMutexLocker lock(&streamMutex_);
    if (cap_close(&record_) < 0) {
        logLine() << "Uvc camera close failed!";
        return false;
    }
    return true;
}

bool UvcCamera::reopen(const CameraOpenSettings &settings)
{
    if (!close())
        return false;
    return open(settings);
}

bool UvcCamera::isStreamOpen() const
{
    QMutexLocker lock(&streamMutex_);
    return record_.priv != nullptr;
}

cap_record UvcCamera::captureRecord() const
{
    QMutexLocker lock(&streamMutex_);
    return record_;
}

VideoFrame UvcCamera::getVideoFrameData()
{
    QMutexLocker lock(&streamMutex_);
    cap_frame frame;
    std::memset(&frame, 0, sizeof frame);
    if (cap_read(&record_, &frame) < 0)
        return VideoFrame();
    VideoFrame result = makeVideoFrame(frame);
    free_frame(&frame);
    return result;
}

int UvcCamera::readFirmwareVersion()
{
    int32_t version = 0;
    if (!hasControl() || cam_get_version(usb_.controlContext, &version) != 0)
        return 0;
    return version;
}

// ---- plain setters ----

void UvcCamera::setPlainValue(const char *slotName, ControlRange &cache, int value, int (*setter)(int32_t, int32_t),
                              bool log)
{
    if (!hasControl() || value == cache.value)
        return;
    if (log)
        logLine() << slotName << ":" << value;
    cache.value = value;
    setter(usb_.controlContext, value);
}

void UvcCamera::onSetHueValue(int value)
{
    setPlainValue("onSetHueValue", params_.hue, value, cam_set_hue);
}

void UvcCamera::onSetSaturationValue(int value)
{
    setPlainValue("onSetSaturationValue", params_.saturation, value, cam_set_saturation);
}

void UvcCamera::onSetContrastValue(int value)
{
    setPlainValue("onSetContrastValue", params_.contrast, value, cam_set_contrast);
}

void UvcCamera::onSetSharpnessValue(int value)
{
    setPlainValue("onSetSharpnessValue", params_.sharpness, value, cam_set_sharpness);
}

void UvcCamera::onSetGammaValue(int value)
{
    setPlainValue("onSetGammaValue", params_.gamma, value, cam_set_gamma);
}

void UvcCamera::onSetExpCompValue(int value)
{
    if (params_.exposureMode != ExposureAuto)
        return;
    setPlainValue("onSetExpCompValue", params_.exposureCompensation, value, cam_set_exposure_compensation);
}

void UvcCamera::onSetExpGainValue(int value)
{
    if (params_.exposureMode != ExposureManual)
        return;
    setPlainValue("onSetExpGainValue", params_.exposureGain, value, cam_set_exposure_gain);
}

void UvcCamera::onSetExpTime(int time)
{
    if (params_.exposureMode != ExposureManual)
        return;
    setPlainValue("onSetExpTime", params_.exposureTime, time, cam_set_exposure_time);
}

void UvcCamera::onSetExpMode(ExposureMode mode)
{
    if (!hasControl() || mode == params_.exposureMode)
        return;
    logLine() << "onSetExpMode:" << int(mode);
    params_.exposureMode = mode;
    const int32_t context = usb_.controlContext;
    if (mode == ExposureAuto) {
        cam_set_exposure_mode(context, 1);
        cam_set_exposure_compensation(context, params_.exposureCompensation.value);
    } else if (mode == ExposureManual) {
        cam_set_exposure_mode(context, 0);
        cam_set_exposure_time(context, params_.exposureTime.value);
        cam_set_exposure_gain(context, params_.exposureGain.value);
    }
}

void UvcCamera::onSetWbMode(WbMode mode)
{
    if (!hasControl() || mode == params_.whiteBalanceMode)
        return;
    logLine() << "onSetWbMode:" << int(mode);
    params_.whiteBalanceMode = mode;
    const int32_t context = usb_.controlContext;
    if (mode == WbAuto) {
        cam_set_white_balance_mode(context, 1);
    } else if (mode == WbManual) {
        cam_set_white_balance_mode(context, 0);
        params_.whiteBalanceRed.value = cam_get_white_balance_component_red(context);
        params_.whiteBalanceGreen.value = cam_get_white_balance_component_green(context);
        params_.whiteBalanceBlue.value = cam_get_white_balance_component_blue(context);
        emit sendWbRedValue(params_.whiteBalanceRed.value);
        emit sendWbGreenValue(params_.whiteBalanceGreen.value);
        emit sendWbBlueValue(params_.whiteBalanceBlue.value);
    }
}

void UvcCamera::onSetWbRedValue(int value)
{
    if (params_.whiteBalanceMode != WbManual)
        return;
    setPlainValue("onSetWbRedValue", params_.whiteBalanceRed, value, cam_set_white_balance_component_red);
}

void UvcCamera::onSetWbGreenValue(int value)
{
    if (params_.whiteBalanceMode != WbManual)
        return;
    setPlainValue("onSetWbGreenValue", params_.whiteBalanceGreen, value, cam_set_white_balance_component_green);
}

void UvcCamera::onSetWbBlueValue(int value)
{
    if (params_.whiteBalanceMode != WbManual)
        return;
    setPlainValue("onSetWbBlueValue", params_.whiteBalanceBlue, value, cam_set_white_balance_component_blue);
}

void UvcCamera::onSetWhiteBalanceOnce()
{
    onSetWbMode(WbAuto);
    // Manual mode then reads back the gains the board found.
    continueAfter(kWhiteBalanceOnceMs, [this] { onSetWbMode(WbManual); });
}

void UvcCamera::onSetFlipStatus(bool enable)
{
    if (!hasControl() || enable == params_.flip)
        return;
    logLine() << "onSetFlipStatus:" << enable;
    params_.flip = enable;
    cam_set_flip(usb_.controlContext, enable ? 1 : 0);
}

void UvcCamera::onSetMirrorStatus(bool enable)
{
    if (!hasControl() || enable == params_.mirror)
        return;
    params_.mirror = enable;
    cam_set_mirror(usb_.controlContext, enable ? 1 : 0);
}

void UvcCamera::onSetFilckStatus(bool enable)
{
    if (!hasControl() || enable == params_.flickerOn)
        return;
    params_.flickerOn = enable;
    cam_set_flick(usb_.controlContext, enable ? 1 : 0);
}

void UvcCamera::onSetMonoChromeStatus(bool enable)
{
    int saturation = 0;
    if (!hasControl() || !monochromeTarget(enable, saturation))
        return;
    commitMonochrome(enable, saturation);
    logLine() << "onSetMonoChromeStatus:" << enable << ", saturation=" << saturation;
    cam_set_saturation(usb_.controlContext, saturation);
    emit sendSaturationValue(saturation);
}

// ---- getters ----

void UvcCamera::onGetExpCompValue()
{
    if (hasControl())
        emit sendExpCompValue(cam_get_exposure_compensation(usb_.controlContext));
}

void UvcCamera::onGetExpGainValue()
{
    if (hasControl())
        emit sendExpGainValue(cam_get_exposure_gain(usb_.controlContext));
}

void UvcCamera::onGetExpTime()
{
    if (hasControl())
        emit sendExpTime(cam_get_exposure_time(usb_.controlContext));
}

void UvcCamera::onGetHueValue()
{
    if (hasControl())
        emit sendHueValue(cam_get_hue(usb_.controlContext));
}

void UvcCamera::onGetSaturationValue()
{
    if (!hasControl())
        return;
    const int value = cam_get_saturation(usb_.controlContext);
    logLine() << "get saturation:" << value << ", fd=" << usb_.controlContext;
    emit sendSaturationValue(value);
}

void UvcCamera::onGetContrastValue()
{
    if (hasControl())
        emit sendContrastValue(cam_get_contrast(usb_.controlContext));
}

void UvcCamera::onGetSharpnessValue()
{
    if (hasControl())
        emit sendSharpnessValue(cam_get_sharpness(usb_.controlContext));
}

void UvcCamera::onGetGammaValue()
{
    if (hasControl())
        emit sendGammaValue(cam_get_gamma(usb_.controlContext));
}

void UvcCamera::onGetWbRedValue()
{
    if (hasControl())
        emit sendWbRedValue(cam_get_white_balance_component_red(usb_.controlContext));
}

void UvcCamera::onGetWbGreenValue()
{
    if (hasControl())
        emit sendWbGreenValue(cam_get_white_balance_component_green(usb_.controlContext));
}

void UvcCamera::onGetWbBlueValue()
{
    if (hasControl())
        emit sendWbBlueValue(cam_get_white_balance_component_blue(usb_.controlContext));
}

void UvcCamera::onGetExpMode()
{
    if (!hasControl())
        return;
    const int mode = cam_get_exposure_mode(usb_.controlContext);
    if (mode == 0)
        emit sendExpMode(ExposureManual);
    else if (mode == 1)
        emit sendExpMode(ExposureAuto);
}

void UvcCamera::onGetWbMode()
{
    if (!hasControl())
        return;
    const int mode = cam_get_white_balance_mode(usb_.controlContext);
    if (mode == 0)
        emit sendWbMode(WbManual);
    else if (mode == 1)
        emit sendWbMode(WbAuto);
}

void UvcCamera::onGetFlipStatus()
{
    if (hasControl())
        emit sendFlipStatus(cam_get_flip(usb_.controlContext) == 1);
}

void UvcCamera::onGetMirrorStatus()
{
    if (hasControl())
        emit sendMirrorStatus(cam_get_mirror(usb_.controlContext) == 1);
}

void UvcCamera::onGetFlickStatus()
{
    if (hasControl())
        emit sendFlickStatus(cam_get_flick(usb_.controlContext) == 1);
}

void UvcCamera::onGetMonoChromeStatus()
{
    if (hasControl())
        emit sendMonoChromeStatus(cam_get_saturation(usb_.controlContext) == 0);
}

// ---- commands ----

void UvcCamera::onSaveCameraConfig()
{
    if (hasControl())
        cam_save_config(usb_.controlContext);
}

void UvcCamera::onReset()
{
    onResetBasicSettings();
    onResetAdvancedSettings();
}

void UvcCamera::onResetBasicSettings()
{
    resetBasicToDefaults();
}

void UvcCamera::onResetAdvancedSettings()
{
    resetAdvancedToDefaults();
}

void UvcCamera::resetAdvancedWithWhiteBalanceOnce()
{
    resetAdvancedValues();
    const bool supported = params_.whiteBalanceSupported;
    if (supported)
        onSetWbMode(WbAuto);
    emit sendWbMode(supported ? WbMode(params_.whiteBalanceMode) : WbAuto);
    continueAfter(kWhiteBalanceOnceMs, [this, supported] {
        // Manual mode reads the gains back and tells them to the panel.
        if (supported)
            onSetWbMode(WbManual);
        emit sendWbMode(supported ? WbMode(params_.whiteBalanceMode) : WbManual);
    });
}

void UvcCamera::onCalibrateCurve() {}
void UvcCamera::onValidateCurve() {}

// ---- not supported on the plain USB camera ----

void UvcCamera::onSetFocusMode(FocusMode) { logLine() << "Current camera not support focus"; }
void UvcCamera::onSetFocusValue(int) { logLine() << "Current camera not support focus"; }
void UvcCamera::onSetFocusAdd() { logLine() << "Current camera not support focus"; }
void UvcCamera::onSetFocusSub() { logLine() << "Current camera not support focus"; }
void UvcCamera::onSetFocusOnce() { logLine() << "Current camera not support focus"; }
void UvcCamera::onGetFocusMode() { logLine() << "Current camera not support focus"; }
void UvcCamera::onGetFocusValue() { logLine() << "Current camera not support focus"; }
void UvcCamera::onSetFocusRegion(int, int) { logLine() << "Current camera not support focus region"; }
void UvcCamera::onGetFocusRegion() { logLine() << "Current camera not support focus region"; }
void UvcCamera::onSetFocusRegionStatus(bool)
{
    logLine() << "Uvc camera does not support to set focus region status!";
}
void UvcCamera::onGetFocusRegionStatus()
{
    logLine() << "Uvc camera does not support to get focus region status!";
}
void UvcCamera::onSetZoomValue(int) { logLine() << "Current camera does not support to adjust zoom"; }
void UvcCamera::onGetZoomValue() { logLine() << "Current camera does not support zoom"; }
void UvcCamera::onSetDZoomValue(int) { logLine() << "Current camera does not support to adjust digit zoom"; }
void UvcCamera::onGetDZoomValue() { logLine() << "Current camera does not support digit zoom"; }
void UvcCamera::onSetDefogStatus(bool) { logLine() << "Current camera not support defog"; }
void UvcCamera::onGetDefogStatus() { logLine() << "Current camera not support defog"; }
void UvcCamera::onSetMotorCenter() { logLine() << "Current camera not support motor center"; }
void UvcCamera::onSetCameraDisplayMode(DisplayMode) { logLine() << "Current camera not support set display mode"; }
void UvcCamera::onGetCameraDisplayMode() { logLine() << "Current camera not support to get display mode!"; }
void UvcCamera::onSetIp(IpInfo) { logLine() << "Uvc camera does not support to set ip!"; }
void UvcCamera::onGetIpInfo() { logLine() << "Uvc camera does not support to get ip info!"; }
void UvcCamera::onUpgrade(QString) { logLine() << "Uvc camera does not support to upgrade!"; }
void UvcCamera::onGetUpgradeStatus() { logLine() << "Uvc camera does not support to get upgrade status!"; }

// ---- the E-series focus, shared with the models that have it ----

void UvcCamera::deviceSetFocusMode(FocusMode mode)
{
    if (!hasControl() || mode == params_.focusMode)
        return;
    logLine() << "onSetFocusMode:" << int(mode);
    params_.focusMode = mode;
    const int32_t context = usb_.controlContext;
    if (mode == FocusAuto) {
        cam_set_focus_mode(context, 1);
    } else if (mode == FocusOnce) {
        cam_set_focus_mode(context, 2);
    } else if (mode == FocusManual) {
        cam_set_focus_mode(context, 0);
        params_.focus.value = cam_get_focus(context);
        emit sendFocusValue(params_.focus.value);
    }
}

void UvcCamera::deviceSetFocusValue(int value)
{
    if (!hasControl() || params_.focusMode != FocusManual || value == params_.focus.value)
        return;
    logLine() << "onSetFocusValue" << value;
    params_.focus.value = value;
    cam_set_focus(usb_.controlContext, value);
}

void UvcCamera::deviceSetFocusOnce()
{
    if (!hasControl() || params_.focusMode != FocusOnce)
        return;
    logLine() << "onSetFocusOnce";
    cam_trigger_focus_once(usb_.controlContext);
}

void UvcCamera::deviceSetFocusRegion(int x, int y)
{
    if (!hasControl() || params_.focusMode != FocusAuto)
        return;
    if (x == params_.focusRegionX && y == params_.focusRegionY)
        return;
    logLine() << "onSetFocusRegion, x=" << x << ", y=" << y;
    params_.focusRegionX = x;
    params_.focusRegionY = y;
    cam_set_focus_region(usb_.controlContext, x, y);
}

void UvcCamera::deviceSetMotorCenter()
{
    if (!hasControl())
        return;
    const int32_t context = usb_.controlContext;
    if (params_.focusMode != FocusManual) {
        params_.focusMode = FocusManual;
        cam_set_focus_mode(context, 0);
    }
    logLine() << "onSetMotorCenter";
    params_.focus.value = params_.focus.maximum / 2;
    cam_set_focus(context, params_.focus.value);
    emit sendFocusValue(params_.focus.value);
}

void UvcCamera::deviceGetFocusMode()
{
    if (!hasControl())
        return;
    switch (cam_get_focus_mode(usb_.controlContext)) {
    case 0: emit sendFocusMode(FocusManual); break;
    case 1: emit sendFocusMode(FocusAuto); break;
    case 2: emit sendFocusMode(FocusOnce); break;
    default: break;
    }
}

void UvcCamera::deviceGetFocusValue()
{
    if (hasControl())
        emit sendFocusValue(cam_get_focus(usb_.controlContext));
}

void UvcCamera::deviceGetFocusRegion(bool cache)
{
    if (!hasControl())
        return;
    int32_t x = -1, y = -1;
    cam_get_focus_region(usb_.controlContext, &x, &y);
    if (cache) {
        params_.focusRegionX = x;
        params_.focusRegionY = y;
    }
    emit sendFocusRegion(x, y);
}
