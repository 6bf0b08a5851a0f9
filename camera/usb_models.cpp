#include "usb_models.h"

#include "control.h"
#include "log.h"

#include <QDebug>
#include <QThread>

namespace {

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// The columns of a USB model's default row that differ between models, in
// the order of the table below, whose headings are the camera table's own
// column names. The other columns are the same in every USB row: automatic
// exposure (mode 1) without gain, hue 50, no flip or mirror, defog and
// flicker off, and the picture size equal to the preview size.
struct UsbDefaults {
    int isnv12;
    int decodeWay;
    int exposureTime;
    int zoom;
    int whiteBalanceMode;
    int whiteBalanceR;
    int whiteBalanceG;
    int whiteBalanceB;
    int saturation;
    int contrast;
    int sharpness;
    int focusMode;
    int focusValue;
    int hdrValue;
    const char *resolution;
    int fps;
    int bitrate;  // quality index 0..2
    int exposureCompensation;
};

namespace usbDefaults {
// clang-format off
//                                                       white
//                         is  decode  exposure        Balance                                                  focus  focus    HDR                             exposure
//                       nv12     Way      Time  Zoom     Mode    R    G    B  saturation  contrast  sharpness   Mode  Value  Value  resolution   fps  bitrate  Compensation
const UsbDefaults R480{     0,      2,       -5,    0,       0,   1,   1,   1,        128,       50,       128,     1,     0,    31, "3072x2048",  10,       2, 50};
const UsbDefaults E150{     1,      0,        7,   -1,       1,   1,   1,   1,         50,       50,         8,     2,   200,     6, "2592x1944",  30,       2, 56};
const UsbDefaults E170{     1,      0,        7,    0,       1,   1,   1,   1,         50,       50,         8,     2,   200,     6, "4000x3000",  30,       2, 56};
const UsbDefaults V330{     1,      1,      150,    0,       0, 515, 256, 400,        128,       50,         8,     2,     0,     6, "3072x2048",  30,       1, 56};
const UsbDefaults V350{     1,      1,      150,    0,       0, 538, 256, 408,        128,       50,         8,     2,     0,     6, "3840x2160",  30,       1, 56};
const UsbDefaults V370{     1,      1,      150,    0,       0, 551, 256, 403,        128,       50,         8,     2,     0,     6, "4000x3000",  30,       1, 56};
const UsbDefaults V390{     1,      1,      150,    0,       0, 532, 256, 411,        128,       50,         8,     2,     0,     6, "5440x3648",  20,       1, 56};
const UsbDefaults E530U{    0,      0,      150,    0,       0, 628, 256, 421,        128,       50,         8,     2,     0,     6, "3840x2160",  30,       1, 56};
const UsbDefaults E520U{    0,      0,      150,    0,       0, 628, 256, 421,        128,       50,         8,     2,     0,     6, "2592x1944",  30,       1, 56};
const UsbDefaults E540U{    0,      0,      150,    0,       0, 661, 256, 372,        128,       50,         8,     2,     0,     6, "4000x3000",  30,       1, 56};
const UsbDefaults W610U{    1,      0,        7,    0,       1,   1,   1,   1,         50,       50,         8,     2,     1,     6, "1920x1080",  30,       2, 56};
const UsbDefaults W710U{    1,      0,      150,    0,       0, 560, 256, 470,        128,       50,         8,     2,     1,     6, "3840x2160",  30,       2, 56};
const UsbDefaults W620U{    1,      0,      150,    0,       0, 490, 256, 369,        128,       50,         8,     2,     1,     1, "1920x1080",  60,       2, 56};
// clang-format on
} // namespace usbDefaults

CameraRow usbRow(const UsbDefaults &defaults)
{
    CameraRow row;
    row.isnv12 = defaults.isnv12;
    row.decodeWay = defaults.decodeWay;
    row.exposureMode = 1;
    row.exposureGain = 0;
    row.exposureCompensation = defaults.exposureCompensation;
    row.exposureTime = defaults.exposureTime;
    row.zoom = defaults.zoom;
    row.whiteBalanceMode = defaults.whiteBalanceMode;
    row.whiteBalanceR = defaults.whiteBalanceR;
    row.whiteBalanceG = defaults.whiteBalanceG;
    row.whiteBalanceB = defaults.whiteBalanceB;
    row.hueValue = 50;
    row.saturationValue = defaults.saturation;
    row.contrastValue = defaults.contrast;
    row.sharpnessValue = defaults.sharpness;
    row.flip = 0;
    row.mirror = 0;
    row.focusMode = defaults.focusMode;
    row.focusValue = defaults.focusValue;
    row.hdrValue = defaults.hdrValue;
    row.defogMode = 0;
    row.frameMode = 0;
    row.resolution = QString::fromLatin1(defaults.resolution);
    row.fps = defaults.fps;
    row.bitrate = defaults.bitrate;
    row.pictureResolution = row.resolution;
    return row;
}

QList<Resolution> sizes(std::initializer_list<std::pair<int, int>> list)
{
    QList<Resolution> result;
    for (const auto &size : list)
        result << Resolution(size.first, size.second);
    return result;
}

void setRange(ControlRange &control, int minimum, int maximum, int defaultValue)
{
    control.setRange(minimum, maximum, defaultValue);
}

// A control read from the device: supported when the read gave a value.
void fromDevice(ControlRange &control, int value, int minimum, int maximum, int defaultValue)
{
    control.setRange(minimum, maximum, defaultValue);
    control.value = value;
    control.supported = value != -1;
}

void setWhiteBalanceDefaults(CameraParameters &out, int red, int green, int blue)
{
    out.whiteBalanceRed.defaultValue = red;
    out.whiteBalanceGreen.defaultValue = green;
    out.whiteBalanceBlue.defaultValue = blue;
}

// Exposure, white balance, hue, saturation, contrast and sharpness as the
// V-series and W-series boards report them.
void readImageControls(int32_t context, CameraParameters &out)
{
    const int exposureMode = cam_get_exposure_mode(context);
    out.exposureSupported = exposureMode != -1;
    out.exposureMode = exposureMode == 1 ? ExposureAuto : ExposureManual;
    fromDevice(out.exposureCompensation, cam_get_exposure_compensation(context), 0, 250, 56);
    fromDevice(out.exposureTime, cam_get_exposure_time(context), 0, 333, 150);
    fromDevice(out.exposureGain, cam_get_exposure_gain(context), 0, 33, 0);

    const int whiteBalanceMode = cam_get_white_balance_mode(context);
    out.whiteBalanceSupported = whiteBalanceMode != -1;
    out.whiteBalanceMode = whiteBalanceMode == 1 ? WbAuto : WbManual;
    const std::pair<ControlRange *, int> components[] = {
        {&out.whiteBalanceRed, cam_get_white_balance_component_red(context)},
        {&out.whiteBalanceGreen, cam_get_white_balance_component_green(context)},
        {&out.whiteBalanceBlue, cam_get_white_balance_component_blue(context)}};
    for (const auto &component : components) {
        component.first->value = component.second;
        component.first->supported = component.second != -1;
    }

    fromDevice(out.hue, cam_get_hue(context), 0, 100, 50);
    const int saturation = cam_get_saturation(context);
    fromDevice(out.saturation, saturation, 0, 255, 128);
    out.monochromeSupported = saturation != -1;
    out.monochromeOn = saturation == 0;
    fromDevice(out.contrast, cam_get_contrast(context), 0, 100, 50);
    fromDevice(out.sharpness, cam_get_sharpness(context), 0, 15, 8);
}

void readFlipMirror(int32_t context, CameraParameters &out)
{
    const int flip = cam_get_flip(context);
    const int mirror = cam_get_mirror(context);
    out.flip = flip == 1;
    out.mirror = mirror == 1;
    out.flipMirrorSupported = flip != -1 && mirror != -1;
}

// The V-, E5x0- and W7x0-series boards are read at open, as they keep
// settings of their own. A stored column still at the model's default row
// holds no choice (it is the row as first written, or a value that was
// ignored): the board's value stands. Any other stored value is one the user
// chose; the record takes it and the camera is set to it at open.
class StoredChoices
{
public:
    StoredChoices(const CameraRow &row, const CameraRow &defaults) : row_(row), defaults_(defaults) {}

    bool has(int CameraRow::*field) const { return row_.*field != defaults_.*field && row_.*field != -1; }
    int value(int CameraRow::*field) const { return row_.*field; }
    // Only into a control the board has.
    void take(ControlRange &control, int CameraRow::*field) const
    {
        if (control.supported && has(field))
            control.value = row_.*field;
    }
    void takeSwitch(bool supported, bool &on, int CameraRow::*field) const
    {
        if (supported && has(field))
            on = row_.*field != 0;
    }

    // Exposure, white balance, picture controls, gamma, flip, mirror, flicker.
    void takeImageControls(CameraParameters &out) const
    {
        if (out.exposureSupported && has(&CameraRow::exposureMode))
            out.exposureMode = value(&CameraRow::exposureMode) == 1 ? ExposureAuto : ExposureManual;
        take(out.exposureCompensation, &CameraRow::exposureCompensation);
        take(out.exposureTime, &CameraRow::exposureTime);
        take(out.exposureGain, &CameraRow::exposureGain);
        if (out.whiteBalanceSupported && has(&CameraRow::whiteBalanceMode))
            out.whiteBalanceMode = value(&CameraRow::whiteBalanceMode) == 1 ? WbAuto : WbManual;
        // The components the row keeps are those of manual white balance.
        if (out.whiteBalanceMode == WbManual) {
            take(out.whiteBalanceRed, &CameraRow::whiteBalanceR);
            take(out.whiteBalanceGreen, &CameraRow::whiteBalanceG);
            take(out.whiteBalanceBlue, &CameraRow::whiteBalanceB);
        }
        take(out.hue, &CameraRow::hueValue);
        take(out.saturation, &CameraRow::saturationValue);
        if (out.saturation.supported && has(&CameraRow::saturationValue))
            out.monochromeOn = out.saturation.value == 0;
        take(out.contrast, &CameraRow::contrastValue);
        take(out.sharpness, &CameraRow::sharpnessValue);
        take(out.gamma, &CameraRow::hdrValue);
        takeSwitch(out.flipMirrorSupported, out.flip, &CameraRow::flip);
        takeSwitch(out.flipMirrorSupported, out.mirror, &CameraRow::mirror);
        takeSwitch(out.flickerSupported, out.flickerOn, &CameraRow::frameMode);
    }
    // Manual focus is stored with the lens position it held, so a chosen
    // focus value carries its mode along.
    void takeFocus(CameraParameters &out) const
    {
        if (!out.focus.supported)
            return;
        const bool valueChosen = has(&CameraRow::focusValue);
        if (valueChosen)
            out.focus.value = value(&CameraRow::focusValue);
        const int mode = value(&CameraRow::focusMode);
        if ((valueChosen || has(&CameraRow::focusMode)) && (mode == FocusAuto || mode == FocusManual))
            out.focusMode = mode;
    }

private:
    CameraRow row_;
    CameraRow defaults_;
};

// The row of the camera's last loadSettingsFromDb; without one, its default
// row, which chooses nothing.
StoredChoices storedChoices(const BaseCamera &camera)
{
    return StoredChoices(camera.storedRowReport().row, camera.defaultRow());
}

// Sets the board to the record where the record differs from what the board
// reported (`board`), a mode before the values that act in it, as the
// camera's setters would. This happens while the camera is queried, before
// the panel shows the record, so the panel is told nothing afterwards.
class BoardSetter
{
public:
    BoardSetter(int32_t context, const CameraParameters &board, const CameraParameters &record)
        : context_(context), board_(board), record_(record)
    {
    }

    void imageControls() const
    {
        if (record_.exposureSupported) {
            set("exposure mode", exposureMode(board_), exposureMode(record_), cam_set_exposure_mode);
            if (record_.exposureMode == ExposureAuto) {
                set("exposure compensation", &CameraParameters::exposureCompensation, cam_set_exposure_compensation);
            } else {
                set("exposure time", &CameraParameters::exposureTime, cam_set_exposure_time);
                set("exposure gain", &CameraParameters::exposureGain, cam_set_exposure_gain);
            }
        }
        if (record_.whiteBalanceSupported) {
            set("white balance mode", whiteBalanceMode(board_), whiteBalanceMode(record_),
                cam_set_white_balance_mode);
            if (record_.whiteBalanceMode == WbManual) {
                set("red", &CameraParameters::whiteBalanceRed, cam_set_white_balance_component_red);
                set("green", &CameraParameters::whiteBalanceGreen, cam_set_white_balance_component_green);
                set("blue", &CameraParameters::whiteBalanceBlue, cam_set_white_balance_component_blue);
            }
        }
        set("hue", &CameraParameters::hue, cam_set_hue);
        set("saturation", &CameraParameters::saturation, cam_set_saturation);
        set("contrast", &CameraParameters::contrast, cam_set_contrast);
        set("sharpness", &CameraParameters::sharpness, cam_set_sharpness);
        set("gamma", &CameraParameters::gamma, cam_set_gamma);
        if (record_.flipMirrorSupported) {
            set("flip", board_.flip, record_.flip, cam_set_flip);
            set("mirror", board_.mirror, record_.mirror, cam_set_mirror);
        }
        if (record_.flickerSupported)
            set("flicker", board_.flickerOn, record_.flickerOn, cam_set_flick);
    }
    // The mode, and with a lens that takes a position, the position of manual focus.
    void focus(bool position) const
    {
        if (!record_.focus.supported)
            return;
        // The board's focus modes: 1 auto, 0 manual.
        set("focus mode", board_.focusMode == FocusAuto ? 1 : 0, record_.focusMode == FocusAuto ? 1 : 0,
            cam_set_focus_mode);
        if (position && record_.focusMode == FocusManual)
            set("focus", &CameraParameters::focus, cam_set_focus);
    }
    void defog() const
    {
        if (record_.defogSupported)
            set("defog", board_.defogOn, record_.defogOn, cam_set_demist);
    }

private:
    static int exposureMode(const CameraParameters &p) { return p.exposureMode == ExposureAuto ? 1 : 0; }
    static int whiteBalanceMode(const CameraParameters &p) { return p.whiteBalanceMode == WbAuto ? 1 : 0; }

    void set(const char *name, int before, int after, int (*setter)(int32_t, int32_t)) const
    {
        if (after == before || after == -1)
            return;
        logLine() << "Stored " << name << " set: " << after;
        setter(context_, after);
    }
    void set(const char *name, ControlRange CameraParameters::*control, int (*setter)(int32_t, int32_t)) const
    {
        if ((record_.*control).supported)
            set(name, (board_.*control).value, (record_.*control).value, setter);
    }

    int32_t context_;
    const CameraParameters &board_;
    const CameraParameters &record_;
};

// Pushes a record to the device through the camera's own setters, telling
// the panel each value, with a 10 ms pause after each group.
struct Pusher {
    UvcCamera &camera;
    const CameraParameters &params;

    static void pause() { QThread::msleep(10); }

    void focusMode()
    {
        camera.onSetFocusMode(FocusMode(params.focusMode));
        emit camera.sendFocusMode(FocusMode(params.focusMode));
        pause();
    }
    void exposure()
    {
        camera.onSetExpMode(ExposureMode(params.exposureMode));
        emit camera.sendExpMode(ExposureMode(params.exposureMode));
        pause();
        if (params.exposureMode == ExposureAuto) {
            camera.onSetExpCompValue(params.exposureCompensation.value);
            emit camera.sendExpCompValue(params.exposureCompensation.value);
            pause();
        } else {
            camera.onSetExpTime(params.exposureTime.value);
            emit camera.sendExpTime(params.exposureTime.value);
            pause();
            camera.onSetExpGainValue(params.exposureGain.value);
            emit camera.sendExpGainValue(params.exposureGain.value);
            pause();
        }
    }
    void whiteBalance()
    {
        camera.onSetWbMode(WbMode(params.whiteBalanceMode));
        emit camera.sendWbMode(WbMode(params.whiteBalanceMode));
        pause();
        if (params.whiteBalanceMode != WbManual)
            return;
        camera.onSetWbRedValue(params.whiteBalanceRed.value);
        emit camera.sendWbRedValue(params.whiteBalanceRed.value);
        pause();
        camera.onSetWbGreenValue(params.whiteBalanceGreen.value);
        emit camera.sendWbGreenValue(params.whiteBalanceGreen.value);
        pause();
        camera.onSetWbBlueValue(params.whiteBalanceBlue.value);
        emit camera.sendWbBlueValue(params.whiteBalanceBlue.value);
        pause();
    }
    void flipMirrorAndColour()
    {
        if (params.flipMirrorSupported) {
            camera.onSetFlipStatus(params.flip);
            emit camera.sendFlipStatus(params.flip);
            pause();
            camera.onSetMirrorStatus(params.mirror);
            emit camera.sendMirrorStatus(params.mirror);
            pause();
        }
        if (params.hue.supported) {
            camera.onSetHueValue(params.hue.value);
            emit camera.sendHueValue(params.hue.value);
            pause();
        }
        if (params.contrast.supported) {
            camera.onSetContrastValue(params.contrast.value);
            emit camera.sendContrastValue(params.contrast.value);
            pause();
        }
        if (params.saturation.supported) {
            camera.onSetSaturationValue(params.saturation.value);
            emit camera.sendSaturationValue(params.saturation.value);
            pause();
        }
        if (params.sharpness.supported) {
            camera.onSetSharpnessValue(params.sharpness.value);
            emit camera.sendSharpnessValue(params.sharpness.value);
            pause();
        }
    }
};

} // namespace

// ---------------------------------------------------------------- R480

R480Camera::R480Camera(QObject *parent) : UvcCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::R480));
    resolutions_ = {{StreamYuy2, sizes({{1536, 1024}, {3072, 2048}})}};
    streamFormats_ = {StreamYuy2};
}

void R480Camera::fillParameters(CameraParameters &out)
{
    if (!loadSettingsFromDb(out))
        logLine() << "R480: camera row not loaded, using the device's values";
    UvcCamera::fillParameters(out);
    out.modelId = 42112;
    out.focus.supported = false;
    out.focusPresent = out.focusSlider = out.focusOnceSupported = out.focusRegionSupported = false;
    out.whiteBalanceSupported = false;
    out.mainToolsFlag = out.panelPageFlag = false;
    out.gamma.supported = true;
    out.flickerSupported = true;
    out.firmwareVersion = readFirmwareVersion();
    if (hasControl()) {
        const int32_t context = usb_.controlContext;
        const std::pair<ControlRange *, int (*)(int32_t, int32_t *, int32_t *, int32_t *)> ranges[] = {
            {&out.exposureGain, cam_get_exposure_gain_range}, {&out.exposureCompensation, cam_get_exposure_compensation_range},
            {&out.hue, cam_get_hue_range},                   {&out.saturation, cam_get_saturation_range},
            {&out.contrast, cam_get_contrast_range},         {&out.sharpness, cam_get_sharpness_range},
            {&out.gamma, cam_get_gamma_range}};
        for (const auto &entry : ranges) {
            int32_t minimum = 0, maximum = 0, defaultValue = 0;
            if (entry.second(context, &minimum, &maximum, &defaultValue) == 0)
                setRange(*entry.first, minimum, maximum, defaultValue);
        }
    }
    setRange(out.exposureTime, -10, 0, -5);
}

void R480Camera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    displayText_ = usbDisplayText(params.firmwareVersion);
    if (!skipApply) {
        Pusher push{*this, params};
        if (params.exposureSupported)
            push.exposure();
        if (params.whiteBalanceSupported)
            push.whiteBalance();
        push.flipMirrorAndColour();
        if (params.gamma.supported) {
            onSetGammaValue(params.gamma.value);
            emit sendGammaValue(params.gamma.value);
            Pusher::pause();
        }
        if (params.flickerSupported) {
            onSetFilckStatus(params.flickerOn);
            emit sendFlickStatus(params.flickerOn);
            Pusher::pause();
        }
    }
    BaseCamera::initSettingsPanel(params, value, skipApply);
}

VideoFrame R480Camera::getVideoFrameData()
{
    VideoFrame frame = UvcCamera::getVideoFrameData();
    if (dropFrames_.load() == 1) {
        // The sensor needs a few frames to settle after it turned around.
        if (droppedCount_.fetch_add(1) + 1 >= kDroppedAfterFlip) {
            dropFrames_.exchange(0);
            droppedCount_.exchange(0);
        }
        return VideoFrame();
    }
    return frame;
}

void R480Camera::onSetFlipStatus(bool enable)
{
    // Only a sensor that turns needs to settle (a reset sends the flip it has).
    if (hasControl() && enable != params_.flip) {
        dropFrames_.exchange(1);
        droppedCount_.exchange(0);
    }
    UvcCamera::onSetFlipStatus(enable);
}

void R480Camera::onSetMirrorStatus(bool enable)
{
    if (hasControl() && enable != params_.mirror) {
        dropFrames_.exchange(1);
        droppedCount_.exchange(0);
    }
    UvcCamera::onSetMirrorStatus(enable);
}

void R480Camera::onSetExpMode(ExposureMode mode)
{
    if (!hasControl() || mode == params_.exposureMode)
        return;
    logLine() << "onSetExpMode:" << int(mode);
    params_.exposureMode = mode;
    const int32_t context = usb_.controlContext;
    if (mode == ExposureAuto) {
        cam_set_exposure_mode(context, 1);
    } else if (mode == ExposureManual) {
        cam_set_exposure_mode(context, 0);
        // The sensor takes the gain only once it is in manual mode.
        QThread::msleep(200);
        cam_set_exposure_gain(context, params_.exposureGain.value);
    }
}

void R480Camera::onSetGammaValue(int value)
{
    setPlainValue("onSetGammaValue", params_.gamma, value, cam_set_gamma, false);
}

void R480Camera::onSetWhiteBalanceOnce()
{
    onSetWbMode(WbAuto);
    onSetWbMode(WbManual);
}

void R480Camera::onResetAdvancedSettings()
{
    resetAdvancedValues();
}

// ---------------------------------------------------------------- E150 / E170

E150Camera::E150Camera(QObject *parent) : UvcCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::E150));
    resolutions_ = {{StreamMjpeg, sizes({{1920, 1080}, {2592, 1944}})}};
    streamFormats_ = {StreamMjpeg};
}

void E150Camera::fillParameters(CameraParameters &out)
{
    if (!loadSettingsFromDb(out))
        logLine() << "E150: camera row not loaded, using the model's values";
    UvcCamera::fillParameters(out);
    out.modelId = 0xE150;
    out.mainToolsFlag = out.panelPageFlag = out.extraControlA = true;
    out.focusPresent = out.focusSlider = out.focusOnceSupported = out.focusRegionSupported = true;
    out.firmwareVersion = readFirmwareVersion();
    setRange(out.exposureGain, 0, 16, 0);
    setRange(out.exposureCompensation, 0, 100, 56);
    setRange(out.exposureTime, 0, 19, 7);
    for (ControlRange *component : {&out.whiteBalanceRed, &out.whiteBalanceGreen, &out.whiteBalanceBlue})
        setRange(*component, 1, 4095, 800);
    setRange(out.hue, 0, 100, 50);
    setRange(out.saturation, 0, 100, 50);
    setRange(out.contrast, 0, 100, 50);
    setRange(out.sharpness, 0, 15, 8);
    setRange(out.focus, 1, 400, 200);
    out.focusRegionX = 8;
    out.focusRegionY = 7;
}

void E150Camera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    displayText_ = usbDisplayText(params.firmwareVersion);
    if (!skipApply) {
        Pusher push{*this, params};
        if (params.focus.supported) {
            push.focusMode();
            if (params.focusMode == FocusAuto) {
                onSetFocusRegion(params.focusRegionX, params.focusRegionY);
                emit sendFocusRegion(params.focusRegionX, params.focusRegionY);
            } else if (params.focusMode == FocusManual) {
                onSetFocusValue(params.focus.value);
                emit sendFocusValue(params.focus.value);
                Pusher::pause();
            }
        }
        if (params.exposureSupported)
            push.exposure();
        if (params.whiteBalanceSupported)
            push.whiteBalance();
        push.flipMirrorAndColour();
    }
    BaseCamera::initSettingsPanel(params, value, skipApply);
}

void E150Camera::onSetFocusMode(FocusMode mode) { deviceSetFocusMode(mode); }
void E150Camera::onSetFocusValue(int value) { deviceSetFocusValue(value); }
void E150Camera::onSetFocusOnce() { deviceSetFocusOnce(); }
void E150Camera::onSetFocusRegion(int x, int y) { deviceSetFocusRegion(x, y); }
void E150Camera::onSetMotorCenter() { deviceSetMotorCenter(); }
void E150Camera::onGetFocusMode() { deviceGetFocusMode(); }
void E150Camera::onGetFocusValue() { deviceGetFocusValue(); }
void E150Camera::onGetFocusRegion() { deviceGetFocusRegion(false); }

void E150Camera::onResetAdvancedSettings()
{
    resetAdvancedWithWhiteBalanceOnce();
}

E170Camera::E170Camera(QObject *parent) : E150Camera(parent)
{
    setDefaultRow(usbRow(usbDefaults::E170));
    resolutions_ = {{StreamMjpeg, sizes({{1920, 1080}, {2592, 1944}, {3840, 2160}, {4000, 3000}})}};
    streamFormats_ = {StreamMjpeg};
}

void E170Camera::fillParameters(CameraParameters &out)
{
    E150Camera::fillParameters(out);
    out.modelId = 0xE170;
    out.exposureGain.maximum = 22;
    out.exposureTime.maximum = 17;
}

// ---------------------------------------------------------------- V330 family

V330Camera::V330Camera(QObject *parent) : UvcCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::V330));
    resolutions_ = {{StreamMjpeg, sizes({{3072, 2048}})}, {StreamNv12, sizes({{1536, 1024}, {3072, 2048}})}};
    streamFormats_ = {StreamMjpeg, StreamNv12};
}

bool V330Camera::isSystemSupported()
{
    // -1: not Windows, where no driver generation limits the camera.
    const int code = osVersionCode();
    return code == -1 || code > 9;
}

void V330Camera::fillParameters(CameraParameters &out)
{
    if (!loadSettingsFromDb(out))
        logLine() << "V330: camera row not loaded, using the device's values";
    UvcCamera::fillParameters(out);
    out.modelId = 0x1330;
    out.focus.supported = false;
    if (hasControl()) {
        const int32_t context = usb_.controlContext;
        readImageControls(context, out);
        fromDevice(out.gamma, cam_get_gamma(context), 0, 3, 1);
        readFlipMirror(context, out);
        out.flickerSupported = true;
        out.flickerOn = cam_get_flick(context) == 1;
        boardState_ = out;
        storedChoices(*this).takeImageControls(out);
    }
    out.firmwareVersion = readFirmwareVersion();
    setWhiteBalanceDefaults(out, 515, 256, 400);
}

void V330Camera::setBoardToRecord(const CameraParameters &record)
{
    if (hasControl())
        BoardSetter(usb_.controlContext, boardState_, record).imageControls();
}

V350Camera::V350Camera(QObject *parent) : V330Camera(parent)
{
    setDefaultRow(usbRow(usbDefaults::V350));
    resolutions_ = {{StreamMjpeg, sizes({{3840, 2160}})}, {StreamNv12, sizes({{1920, 1080}, {3840, 2160}})}};
}

void V350Camera::fillParameters(CameraParameters &out)
{
    V330Camera::fillParameters(out);
    out.modelId = 0x1350;
    setWhiteBalanceDefaults(out, 538, 256, 408);
}

V370Camera::V370Camera(QObject *parent) : V350Camera(parent)
{
    setDefaultRow(usbRow(usbDefaults::V370));
    resolutions_ = {{StreamMjpeg, sizes({{4000, 3000}})}, {StreamNv12, sizes({{2048, 1080}, {4000, 3000}})}};
}

void V370Camera::fillParameters(CameraParameters &out)
{
    V350Camera::fillParameters(out);
    out.modelId = 0x1370;
    setWhiteBalanceDefaults(out, 551, 256, 403);
}

V390Camera::V390Camera(QObject *parent) : V370Camera(parent)
{
    setDefaultRow(usbRow(usbDefaults::V390));
    resolutions_ = {{StreamMjpeg, sizes({{5440, 3648}})},
                    {StreamNv12, sizes({{1824, 1216}, {2720, 1824}, {5440, 3648}})}};
}

void V390Camera::fillParameters(CameraParameters &out)
{
    V370Camera::fillParameters(out);
    out.modelId = 0x1390;
    setWhiteBalanceDefaults(out, 532, 256, 411);
}

// ---------------------------------------------------------------- E530 family

E530UCamera::E530UCamera(QObject *parent) : V330Camera(parent)
{
    setDefaultRow(usbRow(usbDefaults::E530U));
    const QList<Resolution> offered = sizes({{1920, 1080}, {3840, 2160}});
    resolutions_ = {{StreamMjpeg, offered}, {StreamNv12, offered}};
}

void E530UCamera::fillParameters(CameraParameters &out)
{
    V330Camera::fillParameters(out);
    out.modelId = 0xE530;
    out.mainToolsFlag = out.panelPageFlag = out.extraControlA = true;
    if (hasControl()) {
        const int32_t context = usb_.controlContext;
        const int focus = cam_get_focus(context);
        if (focus != -1) {
            out.focus.supported = true;
            out.focus.value = focus;
            out.focusPresent = out.focusSlider = out.focusRegionSupported = true;
            out.focusOnceSupported = false;
            int32_t x = -1, y = -1;
            if (cam_get_focus_region(context, &x, &y) == 0) {
                out.focusRegionX = x;
                out.focusRegionY = y;
            }
            out.focusMode = cam_get_focus_mode(context) == 1 ? FocusAuto : FocusManual;
            setRange(out.focus, 1, 400, 200);
            boardState_.focus = out.focus;
            boardState_.focusMode = out.focusMode;
            storedChoices(*this).takeFocus(out);
        }
    }
    setWhiteBalanceDefaults(out, 628, 256, 421);
}

void E530UCamera::setBoardToRecord(const CameraParameters &record)
{
    V330Camera::setBoardToRecord(record);
    if (hasControl())
        BoardSetter(usb_.controlContext, boardState_, record).focus(true);
}

void E530UCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    BaseCamera::initSettingsPanel(params, value, skipApply);
    if (params.focusMode == FocusAuto)
        emit sendFocusRegion(params.focusRegionX, params.focusRegionY);
}

void E530UCamera::onSetFocusMode(FocusMode mode) { deviceSetFocusMode(mode); }
void E530UCamera::onSetFocusValue(int value) { deviceSetFocusValue(value); }
void E530UCamera::onSetFocusOnce() { deviceSetFocusOnce(); }
void E530UCamera::onSetFocusRegion(int x, int y) { deviceSetFocusRegion(x, y); }
void E530UCamera::onSetMotorCenter() { deviceSetMotorCenter(); }
void E530UCamera::onGetFocusMode() { deviceGetFocusMode(); }
void E530UCamera::onGetFocusValue() { deviceGetFocusValue(); }
void E530UCamera::onGetFocusRegion() { deviceGetFocusRegion(true); }

E520UCamera::E520UCamera(QObject *parent) : E530UCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::E520U));
    const QList<Resolution> offered = sizes({{1920, 1080}, {2592, 1944}});
    resolutions_ = {{StreamMjpeg, offered}, {StreamNv12, offered}};
}

void E520UCamera::fillParameters(CameraParameters &out)
{
    E530UCamera::fillParameters(out);
    out.modelId = 0xE520;
}

E540UCamera::E540UCamera(QObject *parent) : E530UCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::E540U));
    const QList<Resolution> offered = sizes({{1920, 1080}, {3840, 2160}, {4000, 3000}});
    resolutions_ = {{StreamMjpeg, offered}, {StreamNv12, offered}};
}

void E540UCamera::fillParameters(CameraParameters &out)
{
    E530UCamera::fillParameters(out);
    out.modelId = 0xE540;
    setWhiteBalanceDefaults(out, 661, 256, 372);
}

// ---------------------------------------------------------------- W610 family

W610UCamera::W610UCamera(QObject *parent) : UvcCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::W610U));
    resolutions_ = {{StreamMjpeg, sizes({{1280, 720}, {1920, 1080}})}};
    streamFormats_ = {StreamMjpeg};
}

void W610UCamera::fillParameters(CameraParameters &out)
{
    if (!loadSettingsFromDb(out))
        logLine() << "W610: camera row not loaded, using the model's values";
    UvcCamera::fillParameters(out);
    out.modelId = 0x0610;
    out.mainToolsFlag = out.panelPageFlag = false;
    out.focus.supported = true;
    out.focusPresent = out.focusSlider = true;
    setRange(out.focus, 1, 28672, 4096);
    out.defogSupported = true;
    out.firmwareVersion = readFirmwareVersion();
    setRange(out.exposureGain, 0, 50, 0);
    setRange(out.exposureCompensation, 0, 100, 56);
    setRange(out.exposureTime, 0, 19, 7);
    for (ControlRange *component : {&out.whiteBalanceRed, &out.whiteBalanceGreen, &out.whiteBalanceBlue})
        setRange(*component, 1, 4095, 800);
    setRange(out.hue, 0, 100, 50);
    setRange(out.saturation, 0, 100, 50);
    setRange(out.contrast, 0, 100, 50);
    setRange(out.sharpness, 0, 15, 8);
    // The stored zoom runs on past the optical range into digital zoom: it
    // is checked against the model's own ranges before it is split.
    const int limit = opticalZoomLimit();
    const int stored = allowedStoredZoom(out.zoom.value, limit + digitalZoomMaximum());
    setRange(out.zoom, 0, limit, 0);
    out.zoom.supported = true;
    out.zoom.value = qMin(stored, limit);
    setRange(out.digitalZoom, 0, digitalZoomMaximum(), 0);
    out.digitalZoom.value = stored > limit ? stored - limit : 0;
}

void W610UCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    displayText_ = usbDisplayText(params.firmwareVersion);
    if (!skipApply) {
        Pusher push{*this, params};
        if (params.focus.supported)
            push.focusMode();
        if (params.exposureSupported)
            push.exposure();
        if (params.whiteBalanceSupported)
            push.whiteBalance();
        push.flipMirrorAndColour();
        if (params.zoom.supported) {
            onSetZoomValue(params.zoom.value);
            emit sendZoomValue(params.zoom.value);
            if (params.zoom.value >= params.zoom.maximum && params.digitalZoom.supported) {
                onSetDZoomValue(params.digitalZoom.value);
                emit sendDZoomValue(params.digitalZoom.value);
            }
        }
    }
    BaseCamera::initSettingsPanel(params, value, skipApply);
}

void W610UCamera::onSetFocusMode(FocusMode mode) { deviceSetFocusMode(mode); }

void W610UCamera::onSetZoomValue(int value)
{
    if (!hasControl())
        return;
    logLine() << "onSetZoomValue:" << value;
    params_.zoom.value = value;
    cam_set_zoom(usb_.controlContext, value);
}

void W610UCamera::onSetDZoomValue(int value)
{
    if (!hasControl())
        return;
    logLine() << "onSetDZoomValue:" << value;
    params_.digitalZoom.value = value;
    // Digital zoom continues the one zoom value past the optical part.
    cam_set_zoom(usb_.controlContext, value + qMax(0, params_.zoom.value));
}

void W610UCamera::onGetZoomValue()
{
    if (hasControl())
        emit sendZoomValue(qMin(cam_get_zoom(usb_.controlContext), params_.zoom.maximum));
}

void W610UCamera::onGetDZoomValue()
{
    if (!hasControl())
        return;
    const int zoom = cam_get_zoom(usb_.controlContext);
    emit sendDZoomValue(zoom > params_.zoom.maximum ? zoom - params_.zoom.maximum : params_.digitalZoom.minimum);
}

void W610UCamera::onSetDefogStatus(bool enable)
{
    if (!hasControl())
        return;
    logLine() << "onSetDefogStatus:" << enable;
    params_.defogOn = enable;
    cam_set_demist(usb_.controlContext, enable ? 1 : 0);
}

void W610UCamera::onGetDefogStatus()
{
    if (hasControl())
        emit sendDefogStatus(cam_get_demist(usb_.controlContext) == 1);
}

void W610UCamera::onSetFocusAdd()
{
    if (!hasControl() || params_.focusMode != FocusManual)
        return;
    logLine() << "onSetFocusAdd";
    cam_set_focus(usb_.controlContext, 1);
}

void W610UCamera::onSetFocusSub()
{
    if (!hasControl() || params_.focusMode != FocusManual)
        return;
    logLine() << "onSetFocusSub";
    cam_set_focus(usb_.controlContext, 2);
}

void W610UCamera::onValidateCurve()
{
    if (!hasControl())
        return;
    logLine() << "onValidateCurve";
    cam_focus_cure_check(usb_.controlContext);
}

void W610UCamera::onCalibrateCurve()
{
    if (!hasControl())
        return;
    logLine() << "onCalibrateCurve";
    // This board starts its focus-curve calibration on sharpness 21.
    cam_set_sharpness(usb_.controlContext, 21);
}

void W610UCamera::onResetAdvancedSettings()
{
    resetAdvancedWithWhiteBalanceOnce();
}

W710UCamera::W710UCamera(QObject *parent) : W610UCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::W710U));
    const QList<Resolution> offered = sizes({{1920, 1080}, {3840, 2160}});
    resolutions_ = {{StreamMjpeg, offered}, {StreamNv12, offered}};
    streamFormats_ = {StreamMjpeg};
}

void W710UCamera::splitZoom(CameraParameters &out)
{
    const int opticalLimit = opticalZoomLimit();
    int zoom = hasControl() ? cam_get_zoom(usb_.controlContext) : -1;
    // A stored zoom is the user's: the board is set to it. One the board
    // can't take gave way to the default row's when the row was read.
    const StoredChoices stored = storedChoices(*this);
    const int chosen = stored.value(&CameraRow::zoom);
    if (zoom != -1 && stored.has(&CameraRow::zoom) && chosen != zoom) {
        logLine() << "Stored zoom set: " << chosen;
        cam_set_zoom(usb_.controlContext, chosen);
        zoom = chosen;
    }
    setRange(out.zoom, 0, opticalLimit, 0);
    setRange(out.digitalZoom, 0, digitalZoomMaximum(), 0);
    out.zoom.supported = out.digitalZoom.supported = zoom != -1;
    out.zoom.value = zoom == -1 ? -1 : qMin(zoom, opticalLimit);
    out.digitalZoom.value = zoom >= opticalLimit ? zoom - opticalLimit : 0;
}

void W710UCamera::fillParameters(CameraParameters &out)
{
    W610UCamera::fillParameters(out);
    out.modelId = 0x0710;
    if (hasControl()) {
        const int32_t context = usb_.controlContext;
        readImageControls(context, out);
        const int focus = cam_get_focus(context);
        fromDevice(out.focus, focus, 1, 400, 200);
        out.focusMode = cam_get_focus_mode(context) == 1 ? FocusAuto : FocusManual;
        fromDevice(out.gamma, cam_get_gamma(context), 0, 10, 6);
        readFlipMirror(context, out);
        out.defogSupported = true;
        out.defogOn = cam_get_demist(context) == 1;
        out.flickerSupported = true;
        out.flickerOn = cam_get_flick(context) == 1;
        boardState_ = out;
        const StoredChoices stored = storedChoices(*this);
        stored.takeImageControls(out);
        stored.takeFocus(out);
        stored.takeSwitch(out.defogSupported, out.defogOn, &CameraRow::defogMode);
    }
    splitZoom(out);
    setWhiteBalanceDefaults(out, 560, 256, 470);
}

void W710UCamera::setBoardToRecord(const CameraParameters &record)
{
    if (!hasControl())
        return;
    const BoardSetter setter(usb_.controlContext, boardState_, record);
    setter.imageControls();
    // The lens of this family moves in steps: only its mode is set.
    setter.focus(false);
    setter.defog();
}

void W710UCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    BaseCamera::initSettingsPanel(params, value, skipApply);
    displayText_ = usbDisplayText(params.firmwareVersion);
    if (params.zoom.supported) {
        emit sendZoomValue(params.zoom.value);
        if (params.zoom.value >= params.zoom.maximum && params.digitalZoom.supported)
            emit sendDZoomValue(params.digitalZoom.value);
    }
}

void W710UCamera::onCalibrateCurve()
{
    if (!hasControl())
        return;
    logLine() << "onCalibrateCurve";
    cam_focus_cure_test(usb_.controlContext);
}

W620UCamera::W620UCamera(QObject *parent) : W710UCamera(parent)
{
    setDefaultRow(usbRow(usbDefaults::W620U));
    const QList<Resolution> offered = sizes({{1280, 720}, {1920, 1080}});
    resolutions_ = {{StreamMjpeg, offered}, {StreamNv12, offered}};
    streamFormats_ = {StreamMjpeg};
}

void W620UCamera::fillParameters(CameraParameters &out)
{
    W710UCamera::fillParameters(out);
    out.modelId = 0x0620;
    out.focusSlider = false;
    out.focusOnceSupported = false;
    out.defogSupported = true;
    out.flickerSupported = true;
    setWhiteBalanceDefaults(out, 490, 256, 369);
    out.focus.maximum = 28672;
    out.focus.defaultValue = 4096;
    if (out.gamma.supported)
        setRange(out.gamma, 0, 3, 1);
}
