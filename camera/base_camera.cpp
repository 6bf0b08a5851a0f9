#include "base_camera.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>

namespace {

// The frame rates the settings panel offers up to 1920x1080 and above it.
const QList<int> kLowResFrameRates = {25, 30, 50, 60};
const QList<int> kHighResFrameRates = {10, 15, 20, 25, 30};

bool offers(const QList<Resolution> &sizes, const QString &text)
{
    for (const Resolution &size : sizes)
        if (size.text == text)
            return true;
    return false;
}

// The panel's slider holds the control's range: a default outside it would
// be shown as the range's end while the camera took another value.
int defaultWithinRange(const ControlRange &control)
{
    return control.maximum > control.minimum ? qBound(control.minimum, control.defaultValue, control.maximum)
                                             : control.defaultValue;
}

} // namespace

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
    setFrameRateLists(kLowResFrameRates, kHighResFrameRates);
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

StoredRowReport BaseCamera::storedRowReport() const
{
    QMutexLocker lock(&storedRowMutex_);
    return storedRow_;
}

CameraRow BaseCamera::allowedRow(const CameraRow &stored, QStringList &ignored) const
{
    CameraRow row = stored;
    const auto check = [&](const char *column, int CameraRow::*field, int minimum, int maximum) {
        const int value = row.*field;
        // The model's own default is allowed whatever the limits say.
        if (value == defaultRow_.*field || (value >= minimum && value <= maximum))
            return;
        row.*field = defaultRow_.*field;
        ignored << QLatin1String(column);
    };
    check("isnv12", &CameraRow::isnv12, 0, 1);

    const auto offered = [this](int format) {
        return streamFormats_.contains(format) && !resolutions_.value(format).isEmpty();
    };
    if (!offered(row.decodeWay)) {
        row.decodeWay = defaultRow_.decodeWay;
        for (int i = 0; i < streamFormats_.size() && !offered(row.decodeWay); ++i)
            row.decodeWay = streamFormats_[i];
        if (!offered(row.decodeWay) && !resolutions_.isEmpty())
            row.decodeWay = resolutions_.firstKey();
        ignored << QStringLiteral("decodeWay");
    }
    // -1 none, 1 auto, 0 and 2 manual (the default rows store 0, the panel 2).
    check("exposureMode", &CameraRow::exposureMode, -1, 2);
    check("whiteBalanceMode", &CameraRow::whiteBalanceMode, -1, 2);
    for (const auto &flag : {std::make_pair("flip", &CameraRow::flip), std::make_pair("mirror", &CameraRow::mirror),
                             std::make_pair("defogMode", &CameraRow::defogMode),
                             std::make_pair("frameMode", &CameraRow::frameMode)})
        check(flag.first, flag.second, 0, 1);
    check("focusMode", &CameraRow::focusMode, FocusAuto, FocusOnce);

    const QList<Resolution> sizes = resolutions_.value(row.decodeWay);
    for (const auto &size : {std::make_pair("resolution", &CameraRow::resolution),
                             std::make_pair("pictureResolution", &CameraRow::pictureResolution)}) {
        if (offers(sizes, row.*size.second))
            continue;
        row.*size.second = offers(sizes, defaultRow_.*size.second) ? defaultRow_.*size.second : sizes.value(0).text;
        ignored << QLatin1String(size.first);
    }

    QList<int> rates = lowResFrameRates() + highResFrameRates();
    if (rates.isEmpty())
        rates = kLowResFrameRates + kHighResFrameRates;
    check("fps", &CameraRow::fps, *std::min_element(rates.begin(), rates.end()),
          *std::max_element(rates.begin(), rates.end()));
    check("bitrate", &CameraRow::bitrate, 0, 2);
    return row;
}

bool BaseCamera::loadSettingsFromDb(CameraParameters &out)
{
    if (!hasDefaultRow_ || resolutions_.isEmpty())
        return false;
    StoredRowReport report;
    report.key = CameraDatabase::lookupKey(uniqueName_);
    CameraRow stored;
    bool loaded = false;
    if (report.key.isEmpty()) {
        qWarning() << "loadSettingsFromDb: no key in the camera name" << uniqueName_;
    } else {
        CameraDatabase &database = CameraDatabase::instance();
        switch (database.lookupRow(report.key, stored, &report.cause)) {
        case CameraDatabase::Lookup::Found:
            loaded = true;
            break;
        case CameraDatabase::Lookup::Missing:
            if (!database.insertRow(report.key, defaultRow_, &report.notStored))
                break;
            loaded = database.findRow(report.key, stored);
            if (!loaded)
                qWarning() << "loadSettingsFromDb: no camera row for" << report.key;
            break;
        case CameraDatabase::Lookup::Damaged:
            // A row that is there but unreadable keeps its place: another
            // default row under the same key would only pile up behind it on
            // every start. It is written anew when the user changes a setting.
            report.unreadable = true;
            qWarning() << "loadSettingsFromDb: camera row of" << report.key << "cannot be read:" << report.cause;
            break;
        case CameraDatabase::Lookup::Failed:
            // A healthy row another program holds stays as it is: a change
            // then writes only its own column.
            report.notRead = database.isOpen();
            qWarning() << "loadSettingsFromDb: camera row of" << report.key << "cannot be read:" << report.cause;
            break;
        }
    }
    // Without a row of its own the camera works with its model's defaults.
    report.row = loaded ? allowedRow(stored, report.ignored) : defaultRow_;
    report.row.pid = report.key;
    if (!report.ignored.isEmpty())
        qWarning() << "loadSettingsFromDb: stored values of" << report.key << "not allowed, defaults used:"
                   << report.ignored;
    // What the user last set and the file did not take yet wins.
    if (!report.key.isEmpty()) {
        const QVariantMap kept = CameraDatabase::instance().keptChanges(report.key);
        for (auto change = kept.cbegin(); change != kept.cend(); ++change)
            if (report.row.set(change.key(), change.value()))
                report.kept << change.key();
        if (!report.kept.isEmpty())
            qDebug() << "loadSettingsFromDb: values of" << report.key << "not stored yet are used:" << report.kept;
    }
    const CameraRow row = report.row;
    {
        QMutexLocker lock(&storedRowMutex_);
        storedRow_ = report;
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
    return loaded;
}

void BaseCamera::checkStoredControls(CameraParameters &out)
{
    QMutexLocker lock(&storedRowMutex_);
    CameraRow &row = storedRow_.row;
    const struct {
        const char *column;
        int CameraRow::*field;
        ControlRange &control;
    } controls[] = {
        {"exposureGain", &CameraRow::exposureGain, out.exposureGain},
        {"exposureCompensation", &CameraRow::exposureCompensation, out.exposureCompensation},
        {"exposureTime", &CameraRow::exposureTime, out.exposureTime},
        {"whiteBalanceR", &CameraRow::whiteBalanceR, out.whiteBalanceRed},
        {"whiteBalanceG", &CameraRow::whiteBalanceG, out.whiteBalanceGreen},
        {"whiteBalanceB", &CameraRow::whiteBalanceB, out.whiteBalanceBlue},
        {"hueValue", &CameraRow::hueValue, out.hue},
        {"saturationValue", &CameraRow::saturationValue, out.saturation},
        {"contrastValue", &CameraRow::contrastValue, out.contrast},
        {"sharpnessValue", &CameraRow::sharpnessValue, out.sharpness},
        {"focusValue", &CameraRow::focusValue, out.focus},
        {"HDRValue", &CameraRow::hdrValue, out.gamma},
    };
    for (const auto &entry : controls) {
        const int stored = row.*entry.field;
        ControlRange &control = entry.control;
        // -1 is "none"; a control without a range, or whose value came from
        // the device rather than the row, has nothing to check against.
        if (stored == -1 || stored == defaultRow_.*entry.field || control.maximum <= control.minimum
            || control.value != stored || (stored >= control.minimum && stored <= control.maximum))
            continue;
        const int fallback = defaultRow_.*entry.field;
        control.value = fallback >= control.minimum && fallback <= control.maximum ? fallback : control.defaultValue;
        row.*entry.field = control.value;
        storedRow_.ignored << QLatin1String(entry.column);
        qWarning() << "Stored" << entry.column << "of" << storedRow_.key << "out of range:" << stored;
    }
    if (row.saturationValue != -1 && out.saturation.value == row.saturationValue)
        out.monochromeOn = row.saturationValue == 0;
    // In the table's order, as the user finds them in the file.
    std::sort(storedRow_.ignored.begin(), storedRow_.ignored.end(), [](const QString &a, const QString &b) {
        return CameraDatabase::columns().indexOf(a) < CameraDatabase::columns().indexOf(b);
    });
}

int BaseCamera::ignoreStoredValue(const char *column, int CameraRow::*field)
{
    QMutexLocker lock(&storedRowMutex_);
    storedRow_.row.*field = defaultRow_.*field;
    if (!storedRow_.ignored.contains(QLatin1String(column)))
        storedRow_.ignored << QLatin1String(column);
    return defaultRow_.*field;
}

int BaseCamera::allowedStoredZoom(int stored, int highest)
{
    if (stored == defaultRow_.zoom || (stored >= 0 && stored <= highest))
        return stored;
    qWarning() << "Stored Zoom out of range:" << stored;
    return ignoreStoredValue("Zoom", &CameraRow::zoom);
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

int BaseCamera::resetControl(ControlRange CameraParameters::*control, void (BaseCamera::*setter)(int))
{
    const int value = defaultWithinRange(params_.*control);
    if (!(params_.*control).supported)
        return value;
    (this->*setter)(value);
    return (params_.*control).value;
}

bool BaseCamera::resetSwitch(bool supported, bool CameraParameters::*state, void (BaseCamera::*setter)(bool))
{
    if (!supported)
        return false;
    (this->*setter)(false);
    return params_.*state;
}

void BaseCamera::resetBasicToDefaults()
{
    ExposureMode exposure = ExposureAuto;
    int compensation = defaultWithinRange(params_.exposureCompensation);
    if (params_.exposureSupported) {
        onSetExpMode(ExposureAuto);
        compensation = resetControl(&CameraParameters::exposureCompensation, &BaseCamera::onSetExpCompValue);
        exposure = ExposureMode(params_.exposureMode);
    }
    emit sendExpMode(exposure);
    emit sendExpCompValue(compensation);

    FocusMode focus = FocusAuto;
    if (params_.focus.supported) {
        onSetFocusMode(FocusAuto);
        focus = FocusMode(params_.focusMode);
    }
    emit sendFocusMode(focus);
    emit sendFocusRegionStatus(true);
    int x = 8, y = 7;
    if (params_.focusRegionSupported) {
        // The region acts in automatic focus once it is switched on.
        onSetFocusRegionStatus(true);
        onSetFocusRegion(x, y);
        x = params_.focusRegionX;
        y = params_.focusRegionY;
    }
    emit sendFocusRegion(x, y);
}

void BaseCamera::resetAdvancedValues()
{
    emit sendHueValue(resetControl(&CameraParameters::hue, &BaseCamera::onSetHueValue));
    const int saturation = resetControl(&CameraParameters::saturation, &BaseCamera::onSetSaturationValue);
    if (params_.saturation.supported && saturation > 0) {
        // Colour again: a saturation kept when monochrome was switched on
        // has nothing left to restore.
        params_.monochromeOn = false;
        saturationSaved_ = false;
    }
    emit sendSaturationValue(saturation);
    emit sendContrastValue(resetControl(&CameraParameters::contrast, &BaseCamera::onSetContrastValue));
    emit sendSharpnessValue(resetControl(&CameraParameters::sharpness, &BaseCamera::onSetSharpnessValue));
    // Optical zoom first: digital zoom continues it.
    const int zoom = resetControl(&CameraParameters::zoom, &BaseCamera::onSetZoomValue);
    const int digitalZoom = resetControl(&CameraParameters::digitalZoom, &BaseCamera::onSetDZoomValue);
    emit sendZoomValue(zoom);
    emit sendDZoomValue(digitalZoom);
    emit sendGammaValue(resetControl(&CameraParameters::gamma, &BaseCamera::onSetGammaValue));
    emit sendFlipStatus(
        resetSwitch(params_.flipMirrorSupported, &CameraParameters::flip, &BaseCamera::onSetFlipStatus));
    emit sendMirrorStatus(
        resetSwitch(params_.flipMirrorSupported, &CameraParameters::mirror, &BaseCamera::onSetMirrorStatus));
    emit sendFlickStatus(
        resetSwitch(params_.flickerSupported, &CameraParameters::flickerOn, &BaseCamera::onSetFilckStatus));
    emit sendMonoChromeStatus(params_.monochromeSupported && params_.monochromeOn);
    emit sendDefogStatus(
        resetSwitch(params_.defogSupported, &CameraParameters::defogOn, &BaseCamera::onSetDefogStatus));
}

void BaseCamera::resetAdvancedToDefaults()
{
    resetAdvancedValues();
    WbMode mode = WbManual;
    int red = defaultWithinRange(params_.whiteBalanceRed);
    int green = defaultWithinRange(params_.whiteBalanceGreen);
    int blue = defaultWithinRange(params_.whiteBalanceBlue);
    if (params_.whiteBalanceSupported) {
        // The gains act only in manual white balance.
        onSetWbMode(WbManual);
        onSetWbRedValue(red);
        onSetWbGreenValue(green);
        onSetWbBlueValue(blue);
        mode = WbMode(params_.whiteBalanceMode);
        red = params_.whiteBalanceRed.value;
        green = params_.whiteBalanceGreen.value;
        blue = params_.whiteBalanceBlue.value;
    }
    emit sendWbMode(mode);
    emit sendWbRedValue(red);
    emit sendWbGreenValue(green);
    emit sendWbBlueValue(blue);
}

void BaseCamera::continueAfter(int milliseconds, std::function<void()> next)
{
    ++continuations_;
    QTimer::singleShot(milliseconds, this, [this, next = std::move(next)] {
        next();
        --continuations_;
    });
}
