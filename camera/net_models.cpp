#include "net_models.h"

#include <QDebug>

using netrequest::readBool;
using netrequest::readInt;

namespace {

// The columns of a network model's default row that differ between models.
// The others are the same in every network row: MJPEG, automatic exposure
// (compensation 56, time 150, no gain), no zoom, white balance in manual
// mode, hue 50, saturation 128, sharpness 8, no flip, mirror, defog or
// flicker, quality 1, and the picture size equal to the preview size.
struct NetDefaults {
    int whiteBalanceR;
    int whiteBalanceG;
    int whiteBalanceB;
    int contrast;
    int focusMode;
    int focusValue;
    int hdrValue;
    const char *resolution;
    int fps;
};

namespace netDefaults {
// clang-format off
//                     whiteBalance      contrast  focus  focus    HDR
//                       R    G    B              Mode  Value  Value  resolution   fps
const NetDefaults E520{ 628, 256, 421,       50,     2,     0,     2, "2592x1944",  30};
const NetDefaults E530{ 628, 256, 421,       50,     2,     0,     2, "3840x2160",  30};
const NetDefaults E540{ 661, 256, 372,       50,     2,     0,     2, "4000x3000",  30};
const NetDefaults Y260{ 628, 256, 421,       60,     1,     0,     1, "3840x2160",  30};
const NetDefaults W620{ 490, 256, 369,       50,     2,     1,     1, "1920x1080",  60};
const NetDefaults W640{ 512, 256, 478,       50,     2,     1,     0, "3840x2160",  30};
const NetDefaults W710{ 560, 256, 470,       50,     2,     1,     6, "3840x2160",  30};
// clang-format on
} // namespace netDefaults

CameraRow netRow(const NetDefaults &d)
{
    CameraRow row;
    row.isnv12 = 0;
    row.decodeWay = StreamMjpeg;
    row.exposureMode = 1;
    row.exposureGain = 0;
    row.exposureCompensation = 56;
    row.exposureTime = 150;
    row.zoom = 0;
    row.whiteBalanceMode = 0;
    row.whiteBalanceR = d.whiteBalanceR;
    row.whiteBalanceG = d.whiteBalanceG;
    row.whiteBalanceB = d.whiteBalanceB;
    row.hueValue = 50;
    row.saturationValue = 128;
    row.contrastValue = d.contrast;
    row.sharpnessValue = 8;
    row.focusMode = d.focusMode;
    row.focusValue = d.focusValue;
    row.hdrValue = d.hdrValue;
    row.resolution = QString::fromLatin1(d.resolution);
    row.fps = d.fps;
    row.bitrate = 1;
    row.pictureResolution = row.resolution;
    return row;
}

ResolutionMap mjpegSizes(std::initializer_list<std::pair<int, int>> sizes)
{
    QList<Resolution> list;
    for (const auto &size : sizes)
        list << Resolution(size.first, size.second);
    return ResolutionMap{{StreamMjpeg, list}};
}

void setWhiteBalanceDefaults(CameraParameters &out, int red, int green, int blue)
{
    out.whiteBalanceRed.defaultValue = red;
    out.whiteBalanceGreen.defaultValue = green;
    out.whiteBalanceBlue.defaultValue = blue;
}

// The E540 and W640 stream at most 30 pictures a second.
constexpr int kSlowModelMaxFps = 30;

} // namespace

// ---- E-series ----

E530NetCamera::E530NetCamera(QObject *parent) : NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::E530));
    resolutions_ = mjpegSizes({{1920, 1080}, {3840, 2160}});
}

E520NetCamera::E520NetCamera(QObject *parent) : E530NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::E520));
    resolutions_ = mjpegSizes({{1920, 1080}, {2592, 1944}});
}

E540NetCamera::E540NetCamera(QObject *parent) : E530NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::E540));
    resolutions_ = mjpegSizes({{1920, 1080}, {3840, 2160}, {4000, 3000}});
}

void E530NetCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    NetCamera::initSettingsPanel(params, value, skipApply);
    if (params.focusMode == FocusAuto)
        emit sendFocusRegion(params.focusRegionX, params.focusRegionY);
}

bool E530NetCamera::refreshFromDevice(CameraParameters &out)
{
    const bool complete = NetCamera::refreshFromDevice(out);
    out.focusRegionSupported = true;
    out.mainToolsFlag = true;
    out.panelPageFlag = true;
    out.flickerSupported = true;
    out.extraControlA = true;
    out.gamma.supported = true;
    out.gamma.defaultValue = 1;
    out.exposureCompensation.maximum = 250;
    setWhiteBalanceDefaults(out, 628, 256, 421);
    return complete;
}

void E540NetCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    E530NetCamera::initSettingsPanel(params, value, skipApply);
    resetFrameRateLists();
    limitFrameRates(kSlowModelMaxFps);
}

bool E540NetCamera::refreshFromDevice(CameraParameters &out)
{
    const bool complete = E530NetCamera::refreshFromDevice(out);
    setWhiteBalanceDefaults(out, 661, 256, 372);
    limitFrameRates(kSlowModelMaxFps);
    return complete;
}

void E530NetCamera::onGetFocusMode()
{
    int mode = 0;
    if (readInt(getImage().body, {"focus_mode"}, mode) && mode >= 0 && mode <= 2)
        emit sendFocusMode(FocusMode(mode + 1));
}

void E530NetCamera::onGetFocusValue()
{
    int value = 0;
    if (readInt(getImage().body, {"focus_value"}, value))
        emit sendFocusValue(value + kFocusOffset);
}

void E530NetCamera::onSetFocusMode(FocusMode mode)
{
    if (mode == params_.focusMode || toDeviceFocusMode(mode) == -1)
        return;
    CameraParameters next = params_;
    next.focusMode = mode;
    if (mode == FocusManual) {
        // Manual starts where the camera's focus stands now.
        int position = 0;
        if (!readInt(getImage().body, {"focus_value"}, position)) {
            log() << "onSetFocusMode: the camera did not tell its focus position";
            return;
        }
        params_.focus.value = next.focus.value = position + kFocusOffset;
        log() << "focusValue: " << next.focus.value;
        emit sendFocusValue(next.focus.value);
    }
    applyImageSettings(next, true);
}

void E530NetCamera::onSetFocusOnce()
{
    if (params_.focusMode != FocusOnce) {
        log() << "Net camera, current mode can not trigger once focus.";
        return;
    }
    // "focus_value" is not read in once mode.
    setImage(params_.exposureCompensation.value, params_.contrast.value, params_.saturation.value, params_.hue.value,
             toDeviceFocusMode(FocusOnce), 0, params_.zoom.value + params_.digitalZoom.value,
             params_.sharpness.value);
}

void E530NetCamera::onSetFocusValue(int value)
{
    if (params_.focusMode != FocusManual) {
        log() << "Net camera, current mode can not change focus value.";
        return;
    }
    if (value == params_.focus.value)
        return;
    CameraParameters next = params_;
    next.focus.value = value;
    applyImageSettings(next);
}

void E530NetCamera::onSetMotorCenter()
{
    CameraParameters next = params_;
    next.focusMode = FocusManual;
    next.focus.value = next.focus.maximum / 2;
    if (applyImageSettings(next))
        emit sendFocusValue(next.focus.value);
}

void E530NetCamera::onSetFocusRegion(int x, int y)
{
    if (!params_.focusRegionEnabled || params_.focusMode != FocusAuto
        || (x == params_.focusRegionX && y == params_.focusRegionY))
        return;
    if (setImgRoi(params_.focusRegionEnabled, x, y, 0)) {
        params_.focusRegionX = x;
        params_.focusRegionY = y;
    }
}

void E530NetCamera::onSetFocusRegionStatus(bool enable)
{
    if (params_.focusMode != FocusAuto || enable == params_.focusRegionEnabled)
        return;
    if (setImgRoi(enable, params_.focusRegionX, params_.focusRegionY, 0))
        params_.focusRegionEnabled = enable;
}

void E530NetCamera::onGetFocusRegion()
{
    const NetReply roi = request(QStringLiteral("img_roi"), streamArgs());
    int x = 0, y = 0;
    if (!readInt(roi.body, {"roi_x"}, x) || !readInt(roi.body, {"roi_y"}, y))
        return;
    log() << "onGetFocusRegion. x=" << x << ", y=" << y;
    emit sendFocusRegion(x, y);
}

void E530NetCamera::onGetFocusRegionStatus()
{
    const NetReply roi = request(QStringLiteral("img_roi"), streamArgs());
    bool enable = false;
    if (!roi.ok() || !readBool(roi.body, {"roi"}, enable)) {
        log() << "Error: failed to get focus region status.";
        return;
    }
    log() << "onGetFocusRegionStatus. enable=" << enable;
    emit sendFocusRegionStatus(enable);
}

// ---- Y260 ----

Y260NetCamera::Y260NetCamera(QObject *parent) : NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::Y260));
    resolutions_ = mjpegSizes({{1920, 1080}, {3840, 2160}});
}

bool Y260NetCamera::refreshFromDevice(CameraParameters &out)
{
    const bool complete = NetCamera::refreshFromDevice(out);
    out.focus.supported = false;
    out.focusPresent = false;
    out.focusSlider = false;
    out.focusOnceSupported = false;
    setWhiteBalanceDefaults(out, 628, 256, 421);
    out.gamma.supported = true;
    out.flickerSupported = true;
    out.extraFlag = true;
    // The record handed on carries the defaults of the mode the device is in.
    applyDisplayModeLimits(out);
    applyDisplayModeLimits();
    return complete;
}

void Y260NetCamera::applyDisplayModeLimits()
{
    applyDisplayModeLimits(params_);
}

void Y260NetCamera::applyDisplayModeLimits(CameraParameters &record)
{
    if (record.displayMode == DisplayDefault) {
        record.contrast.defaultValue = 60;
        record.gamma.defaultValue = 1;
    } else if (record.displayMode == DisplayMetallography) {
        record.contrast.defaultValue = 55;
        record.gamma.defaultValue = 3;
    }
}

void Y260NetCamera::onGetCameraDisplayMode()
{
    if (!readInt(request(QStringLiteral("img_mode"), streamArgs()).body, {"mode"}, params_.displayMode))
        return;
    applyDisplayModeLimits();
    emit sendDisplayModeValue(DisplayMode(params_.displayMode));
}

void Y260NetCamera::onSetCameraDisplayMode(DisplayMode mode)
{
    if (mode == params_.displayMode)
        return;
    log() << "onSetCameraDisplayMode:" << int(mode);
    if (!setImgMode(mode))
        return;
    params_.displayMode = mode;
    applyDisplayModeLimits();
    // The camera chose its own gamma and contrast for the new mode.
    onGetGammaValue();
    onGetContrastValue();
}

// ---- W-series ----

W710NetCamera::W710NetCamera(QObject *parent) : NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::W710));
    resolutions_ = mjpegSizes({{1920, 1080}, {3840, 2160}});
}

W620NetCamera::W620NetCamera(QObject *parent) : W710NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::W620));
    resolutions_ = mjpegSizes({{1920, 1080}});
}

W640NetCamera::W640NetCamera(QObject *parent) : W620NetCamera(parent)
{
    setDefaultRow(netRow(netDefaults::W640));
    resolutions_ = mjpegSizes({{1920, 1080}, {3840, 2160}});
}

void W710NetCamera::setSeriesDefaults(CameraParameters &out) const
{
    setWhiteBalanceDefaults(out, 560, 256, 470);
    out.gamma.defaultValue = 6;
}

void W620NetCamera::setSeriesDefaults(CameraParameters &out) const
{
    setWhiteBalanceDefaults(out, 490, 256, 369);
    out.gamma.defaultValue = 1;
}

void W640NetCamera::setSeriesDefaults(CameraParameters &out) const
{
    W620NetCamera::setSeriesDefaults(out);
    setWhiteBalanceDefaults(out, 512, 256, 478);
}

void W710NetCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    NetCamera::initSettingsPanel(params, value, skipApply);
    if (params.zoom.supported)
        emit sendZoomValue(params.zoom.value);
    if (params.digitalZoom.supported)
        emit sendDZoomValue(params.digitalZoom.value);
}

void W640NetCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    W620NetCamera::initSettingsPanel(params, value, skipApply);
    resetFrameRateLists();
    limitFrameRates(kSlowModelMaxFps);
}

bool W710NetCamera::loadSettingsFromDb(CameraParameters &out)
{
    const bool loaded = NetCamera::loadSettingsFromDb(out);
    // The row keeps the device's one zoom value, which stands where the
    // device does not tell its own; it is checked whole, before
    // refreshFromDevice splits it.
    if (loaded)
        out.zoom.value = allowedStoredZoom(out.zoom.value, opticalZoomLimit() + digitalZoomMaximum());
    return loaded;
}

bool W710NetCamera::refreshFromDevice(CameraParameters &out)
{
    const bool complete = NetCamera::refreshFromDevice(out);
    if (params_.focusMode == FocusAuto)
        params_.focus.value = 0;
    out.zoom.supported = true;
    out.digitalZoom.supported = true;
    out.gamma.supported = true;
    out.defogSupported = true;
    out.flickerSupported = true;
    out.focusSlider = false;
    out.focusRegionSupported = false;
    setSeriesDefaults(out);
    // The device's one zoom value: optical up to the limit, digital beyond.
    const int limit = opticalZoomLimit();
    const int combined = out.zoom.value;
    out.zoom.value = qMin(combined, limit);
    out.zoom.setRange(0, limit, out.zoom.defaultValue, 1);
    out.digitalZoom.value = combined >= limit ? combined - limit : 0;
    out.digitalZoom.setRange(0, digitalZoomMaximum(), out.digitalZoom.defaultValue, 1);
    return complete;
}

bool W640NetCamera::refreshFromDevice(CameraParameters &out)
{
    const bool complete = W620NetCamera::refreshFromDevice(out);
    limitFrameRates(kSlowModelMaxFps);
    return complete;
}

bool W710NetCamera::imageFocus(CameraParameters &next, bool plainFocusCode, int &modeCode, int &deviceFocusValue)
{
    if (next.focusMode == FocusOnce && !plainFocusCode) {
        next.focusMode = FocusManual;
        next.focus.value = 0;
    }
    modeCode = toDeviceFocusMode(next.focusMode);
    deviceFocusValue = 0;
    return true;
}

void W710NetCamera::onSetFocusMode(FocusMode mode)
{
    if (mode == params_.focusMode || toDeviceFocusMode(mode) == -1)
        return;
    CameraParameters next = params_;
    next.focusMode = mode;
    if (mode == FocusManual)
        next.focus.value = 0;
    applyImageSettings(next, true);
}

void W710NetCamera::stepFocus(const char *slotName, int step)
{
    if (params_.focusMode != FocusManual) {
        log() << "Net camera, current mode can not change focus value.";
        return;
    }
    log() << slotName;
    setImage(params_.exposureCompensation.value, params_.contrast.value, params_.saturation.value, params_.hue.value,
             toDeviceFocusMode(FocusManual), step, params_.zoom.value + params_.digitalZoom.value,
             params_.sharpness.value);
}

void W710NetCamera::onSetFocusAdd()
{
    stepFocus("onSetFocusAdd", 1);
}

void W710NetCamera::onSetFocusSub()
{
    stepFocus("onSetFocusSub", -1);
}

void W710NetCamera::onSetZoomValue(int value)
{
    setImageValue(&CameraParameters::zoom, value);
}

void W710NetCamera::onSetDZoomValue(int value)
{
    setImageValue(&CameraParameters::digitalZoom, value);
}

void W710NetCamera::onSetDefogStatus(bool enable)
{
    if (enable != params_.defogOn && setMotorDemist(enable))
        params_.defogOn = enable;
}

void W710NetCamera::onGetDefogStatus()
{
    bool on = false;
    if (readBool(request(QStringLiteral("motor_demist"), channelArgs()).body, {"demist"}, on))
        emit sendDefogStatus(on);
}

void W710NetCamera::onGetZoomValue()
{
    int combined = 0;
    if (!readInt(getImage().body, {"ezoom_value"}, combined))
        return;
    log() << "getZoomValue:" << combined;
    emit sendZoomValue(qMin(combined, opticalZoomLimit()));
}

void W710NetCamera::onGetDZoomValue()
{
    int combined = 0;
    if (!readInt(getImage().body, {"ezoom_value"}, combined))
        return;
    log() << "getDZoomValue:" << combined;
    if (combined - opticalZoomLimit() > 0)
        emit sendDZoomValue(combined - opticalZoomLimit());
}
