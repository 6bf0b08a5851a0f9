#include "base_camera.h"

#include <QDebug>

BaseCamera::BaseCamera(QObject *parent) : QObject(parent)
{
    resolutions_ = {{StreamMjpeg, {Resolution(1920, 1080)}}, {StreamNv12, {Resolution(1920, 1080)}}};
    streamFormats_ = {StreamMjpeg, StreamNv12};
}

BaseCamera::~BaseCamera() = default;

void BaseCamera::setSettingsPanel(QObject *panel)
{
    settingsPanel_ = panel;
}

void BaseCamera::initSettingsPanel(const CameraParameters &params, int value, bool skipApply)
{
    Q_UNUSED(skipApply)
    params_ = params;
    panelValue_ = value;
    resetFrameRateLists();
}

QString BaseCamera::uniqueName()
{
    return uniqueName_;
}

void BaseCamera::applyDisplayModeLimits() {}

QString BaseCamera::displayName() const
{
    return displayText_;
}

ResolutionMap BaseCamera::resolutions() const
{
    return resolutions_;
}

QList<int> BaseCamera::lowResFrameRates() const
{
    QMutexLocker lock(&frameRatesMutex_);
    return lowResFrameRates_;
}

QList<int> BaseCamera::highResFrameRates() const
{
    QMutexLocker lock(&frameRatesMutex_);
    return highResFrameRates_;
}

void BaseCamera::resetFrameRateLists()
{
    setFrameRateLists({25, 30, 50, 60}, {10, 15, 20, 25, 30});
}

void BaseCamera::setFrameRateLists(const QList<int> &low, const QList<int> &high)
{
    QMutexLocker lock(&frameRatesMutex_);
    lowResFrameRates_ = low;
    highResFrameRates_ = high;
}

CameraParameters BaseCamera::parameters() const
{
    return params_;
}

void BaseCamera::setParameters(const CameraParameters &params)
{
    params_ = params;
}

void BaseCamera::setDefaultRow(const CameraRow &row)
{
    defaultRow_ = row;
    hasDefaultRow_ = true;
}

QString BaseCamera::usbDisplayText(int firmwareVersion)
{
    return QStringLiteral("USB Camera   %1 5.1.0").arg(firmwareVersion / 100.0, 0, 'f', 2);
}

bool BaseCamera::loadSettingsFromDb(CameraParameters &out)
{
    if (uniqueName_.isEmpty() || !hasDefaultRow_ || resolutions_.isEmpty())
        return false;
    const QString key = CameraDatabase::lookupKey(uniqueName_);
    if (key.isEmpty()) {
        qWarning() << "loadSettingsFromDb: no key in the camera name" << uniqueName_;
        return false;
    }
    CameraDatabase &database = CameraDatabase::instance();
    CameraRow row;
    const CameraDatabase::Lookup lookup = database.lookupRow(key, row);
    if (lookup == CameraDatabase::Lookup::Failed) {
        // A row that is there but unreadable keeps its place: another default
        // row under the same key would only pile up behind it on every start.
        qWarning() << "loadSettingsFromDb: camera row of" << key << "cannot be read";
        return false;
    }
    if (lookup == CameraDatabase::Lookup::Missing) {
        if (!database.insertRow(key, defaultRow_) || !database.findRow(key, row)) {
            qWarning() << "loadSettingsFromDb: no camera row for" << key;
            return false;
        }
    }

    out.streamFormats = streamFormats_;
    out.resolutions = resolutions_;
    out.decodeWay = row.decodeWay;
    for (const Resolution &offered : resolutions_.value(row.decodeWay)) {
        if (offered.text == row.resolution) {
            out.resolution = offered;
            break;
        }
    }
    out.pictureResolution = row.pictureResolution;

    if (row.exposureMode != -1) {
        out.exposureSupported = true;
        out.exposureMode = row.exposureMode == 1 ? ExposureAuto : ExposureManual;
        const std::pair<int, ControlRange *> exposure[] = {{row.exposureGain, &out.exposureGain},
                                                          {row.exposureCompensation, &out.exposureCompensation},
                                                          {row.exposureTime, &out.exposureTime}};
        for (const auto &entry : exposure) {
            if (entry.first != -1) {
                entry.second->value = entry.first;
                entry.second->supported = true;
            }
        }
    }
    out.zoom.value = row.zoom;

    if (row.whiteBalanceMode != -1) {
        out.whiteBalanceSupported = true;
        out.whiteBalanceMode = row.whiteBalanceMode == 1 ? WbAuto : WbManual;
        if (out.whiteBalanceMode == WbManual) {
            out.whiteBalanceRed.value = row.whiteBalanceR;
            out.whiteBalanceGreen.value = row.whiteBalanceG;
            out.whiteBalanceBlue.value = row.whiteBalanceB;
        }
    }

    const std::pair<int, ControlRange *> image[] = {{row.hueValue, &out.hue},
                                                   {row.saturationValue, &out.saturation},
                                                   {row.contrastValue, &out.contrast},
                                                   {row.sharpnessValue, &out.sharpness}};
    for (const auto &entry : image) {
        entry.second->value = entry.first;
        entry.second->supported = entry.first != -1;
    }
    out.monochromeSupported = row.saturationValue != -1;
    out.monochromeOn = row.saturationValue == 0;

    out.flipMirrorSupported = true;
    out.flip = row.flip != 0;
    out.mirror = row.mirror != 0;

    if (row.focusValue != -1) {
        out.focus.supported = true;
        out.focusPresent = true;
        out.focusSlider = true;
        out.focus.value = row.focusValue;
        out.focusMode = row.focusMode;
    }

    out.gamma.value = row.hdrValue;
    out.defogOn = row.defogMode != 0;
    out.flickerOn = row.frameMode != 0;
    out.fps = row.fps;
    out.bitrate = row.bitrate;
    return true;
}

bool BaseCamera::monochromeTarget(bool enable, int &saturation) const
{
    if (enable) {
        if (params_.saturation.value == 0)
            return false;
        saturation = 0;
        return true;
    }
    // Already in colour: nothing to restore.
    if (params_.saturation.value != 0 && !params_.monochromeOn)
        return false;
    // A saturation saved by switching on; else (monochrome stored in the
    // camera's row) the control's default.
    saturation = saturationSaved_ && savedSaturation_ > 0 ? savedSaturation_ : params_.saturation.defaultValue;
    return true;
}

void BaseCamera::commitMonochrome(bool enable, int saturation)
{
    if (enable) {
        savedSaturation_ = params_.saturation.value;
        saturationSaved_ = true;
    } else {
        saturationSaved_ = false;
    }
    params_.monochromeOn = enable;
    params_.saturation.value = saturation;
}

void BaseCamera::resetBasicToDefaults()
{
    emit sendExpMode(ExposureAuto);
    emit sendExpCompValue(params_.exposureCompensation.defaultValue);
    emit sendFocusMode(FocusAuto);
    emit sendFocusRegionStatus(true);
    emit sendFocusRegion(8, 7);
}

void BaseCamera::resetAdvancedValues()
{
    emit sendHueValue(params_.hue.defaultValue);
    emit sendSaturationValue(params_.saturation.defaultValue);
    emit sendContrastValue(params_.contrast.defaultValue);
    emit sendSharpnessValue(params_.sharpness.defaultValue);
    emit sendDZoomValue(params_.digitalZoom.defaultValue);
    emit sendZoomValue(params_.zoom.defaultValue);
    emit sendGammaValue(params_.gamma.defaultValue);
    emit sendFlipStatus(false);
    emit sendMirrorStatus(false);
    emit sendFlickStatus(false);
    emit sendMonoChromeStatus(false);
    emit sendDefogStatus(false);
}

void BaseCamera::resetAdvancedToDefaults()
{
    resetAdvancedValues();
    onSetWbMode(WbManual);
    emit sendWbMode(WbManual);
    emit sendWbRedValue(params_.whiteBalanceRed.defaultValue);
    emit sendWbGreenValue(params_.whiteBalanceGreen.defaultValue);
    emit sendWbBlueValue(params_.whiteBalanceBlue.defaultValue);
}
