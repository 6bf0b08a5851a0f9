// The control slots of the network camera: each control is one request to
// the device. A setter sends only a value that differs from the record and
// takes it into the record once the device has accepted it; a getter emits
// only what the device answered.
#include "net_camera.h"

#include "log.h"

#include <QDebug>
#include <QJsonDocument>

using netrequest::readBool;
using netrequest::readDouble;
using netrequest::readInt;
using netrequest::readString;

// ---- setting requests ----

bool NetCamera::setImage(int bright, int contrast, int saturation, int hue, int focusModeCode, int focusValue,
                         int zoomValue, int sharpness)
{
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("bright"), bright);
    args.insert(QStringLiteral("contrast"), contrast);
    args.insert(QStringLiteral("saturation"), saturation);
    args.insert(QStringLiteral("hue"), hue);
    args.insert(QStringLiteral("focus_mode"), focusModeCode);
    args.insert(QStringLiteral("focus_value"), focusValue);
    args.insert(QStringLiteral("ezoom_value"), zoomValue);
    args.insert(QStringLiteral("sharpness"), sharpness);
    return request(QStringLiteral("set_image"), args).ok();
}

bool NetCamera::setImgMeExposure(int exposureType, int gain, int shutterTime)
{
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("expo_type"), exposureType);
    args.insert(QStringLiteral("shuttertime"), shutterTime);
    args.insert(QStringLiteral("a_gain"), gain);
    return request(QStringLiteral("set_img_meexposure"), args).ok();
}

bool NetCamera::setImgAwb(const QString &awb, int blue, int greenB, int greenR, int red)
{
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("awb"), awb);
    args.insert(QStringLiteral("b"), blue);
    args.insert(QStringLiteral("gb"), greenB);
    args.insert(QStringLiteral("gr"), greenR);
    args.insert(QStringLiteral("r"), red);
    return request(QStringLiteral("set_img_awb"), args).ok();
}

bool NetCamera::setImgMirrorFlip(bool flip, bool mirror)
{
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("flip"), flip);
    args.insert(QStringLiteral("mirror"), mirror);
    return request(QStringLiteral("set_img_mirror_flip"), args).ok();
}

bool NetCamera::setImgRoi(bool roi, int x, int y, int roiMode)
{
    log() << "Net setFocusRegion: enable=" << roi << ", x=" << x << ", y=" << y << ", mode=" << roiMode;
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("roi"), roi);
    args.insert(QStringLiteral("roi_x"), x);
    args.insert(QStringLiteral("roi_y"), y);
    args.insert(QStringLiteral("roi_mode"), roiMode);
    return request(QStringLiteral("set_img_roi"), args).ok();
}

bool NetCamera::setImgMode(int mode)
{
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("mode"), mode);
    return request(QStringLiteral("set_img_mode"), args).ok();
}

bool NetCamera::setMotorDemist(bool demist)
{
    // Defog is always switched on channel 0.
    return request(QStringLiteral("set_motor_demist"),
                   QJsonObject{{QStringLiteral("chnn"), 0}, {QStringLiteral("demist"), demist}})
        .ok();
}

bool NetCamera::imageFocus(CameraParameters &next, bool plainFocusCode, int &modeCode, int &deviceFocusValue)
{
    if (next.focusMode == FocusOnce && !plainFocusCode) {
        // Once has done its work: the camera stays where it focused, in manual.
        int position = 0;
        if (!readInt(getImage().body, {"focus_value"}, position))
            return false;
        next.focusMode = FocusManual;
        next.focus.value = position + kFocusOffset;
    }
    modeCode = toDeviceFocusMode(next.focusMode);
    deviceFocusValue = next.focus.value - kFocusOffset;
    return true;
}

bool NetCamera::applyImageSettings(CameraParameters &next, bool plainFocusCode)
{
    int modeCode = 0;
    int focusValue = 0;
    if (!imageFocus(next, plainFocusCode, modeCode, focusValue))
        return false;
    if (!setImage(next.exposureCompensation.value, next.contrast.value, next.saturation.value, next.hue.value,
                  modeCode, focusValue, next.zoom.value + next.digitalZoom.value, next.sharpness.value))
        return false;
    params_ = next;
    return true;
}

void NetCamera::setImageValue(ControlRange CameraParameters::*control, int value)
{
    if ((params_.*control).value == value)
        return;
    CameraParameters next = params_;
    (next.*control).value = value;
    applyImageSettings(next);
}

// ---- focus: not on the plain network camera ----

void NetCamera::onSetFocusMode(FocusMode)
{
    log() << "Current camera does not support to set focus mode!";
}

void NetCamera::onSetFocusValue(int)
{
    log() << "Current camera does not support to set focus!";
}

void NetCamera::onSetFocusAdd()
{
    log() << "current camera does not support to add focus!";
}

void NetCamera::onSetFocusSub()
{
    log() << "current camera does not support to sub focus!";
}

void NetCamera::onSetFocusOnce()
{
    log() << "current camera does not support to set focus once!";
}

// ---- exposure ----

void NetCamera::onSetExpMode(ExposureMode mode)
{
    if (mode == params_.exposureMode || (mode != ExposureAuto && mode != ExposureManual))
        return;
    if (setImgMeExposure(mode == ExposureAuto ? 0 : 1, params_.exposureGain.value, params_.exposureTime.value))
        params_.exposureMode = mode;
}

void NetCamera::onSetExpCompValue(int value)
{
    if (params_.exposureMode != ExposureAuto) {
        log() << "Bright can only be modified in auto mode!";
        return;
    }
    setImageValue(&CameraParameters::exposureCompensation, value);
}

void NetCamera::onSetExpGainValue(int value)
{
    if (params_.exposureMode != ExposureManual) {
        log() << "Exposure gain can only be modified in manual mode!";
        return;
    }
    if (value != params_.exposureGain.value && setImgMeExposure(1, value, params_.exposureTime.value))
        params_.exposureGain.value = value;
}

void NetCamera::onSetExpTime(int time)
{
    if (params_.exposureMode != ExposureManual) {
        log() << "Exposure time can only be modified in manual mode!";
        return;
    }
    if (time != params_.exposureTime.value && setImgMeExposure(1, params_.exposureGain.value, time))
        params_.exposureTime.value = time;
}

// ---- white balance ----

void NetCamera::onSetWbMode(WbMode mode)
{
    if (mode == params_.whiteBalanceMode || (mode != WbAuto && mode != WbManual))
        return;
    if (mode == WbManual) {
        // Manual starts from the gains the camera uses now.
        const NetReply gains = whiteBalanceGains();
        int red = 0, green = 0, blue = 0;
        if (!readInt(gains.body, {"r"}, red) || !readInt(gains.body, {"gb"}, green)
            || !readInt(gains.body, {"b"}, blue)) {
            log() << "onSetWbMode: the camera did not tell its gains; white balance stays as it is";
            return;
        }
        params_.whiteBalanceRed.value = red;
        params_.whiteBalanceGreen.value = green;
        params_.whiteBalanceBlue.value = blue;
        emit sendWbRedValue(red);
        emit sendWbGreenValue(green);
        emit sendWbBlueValue(blue);
    }
    const int green = params_.whiteBalanceGreen.value;
    if (setImgAwb(mode == WbAuto ? QStringLiteral("auto") : QStringLiteral("manual"), params_.whiteBalanceBlue.value,
                  green, green, params_.whiteBalanceRed.value))
        params_.whiteBalanceMode = mode;
}

void NetCamera::onSetWbRedValue(int value)
{
    if (params_.whiteBalanceMode != WbManual) {
        log() << "Red can only be modified in manual mode!";
        return;
    }
    const int green = params_.whiteBalanceGreen.value;
    if (value != params_.whiteBalanceRed.value
        && setImgAwb(QStringLiteral("manual"), params_.whiteBalanceBlue.value, green, green, value))
        params_.whiteBalanceRed.value = value;
}

void NetCamera::onSetWbGreenValue(int value)
{
    if (params_.whiteBalanceMode != WbManual) {
        log() << "Green can only be modified in manual mode!";
        return;
    }
    if (value != params_.whiteBalanceGreen.value
        && setImgAwb(QStringLiteral("manual"), params_.whiteBalanceBlue.value, value, value,
                     params_.whiteBalanceRed.value))
        params_.whiteBalanceGreen.value = value;
}

void NetCamera::onSetWbBlueValue(int value)
{
    if (params_.whiteBalanceMode != WbManual) {
        log() << "Bule can only be modified in manual mode!";
        return;
    }
    const int green = params_.whiteBalanceGreen.value;
    if (value != params_.whiteBalanceBlue.value
        && setImgAwb(QStringLiteral("manual"), value, green, green, params_.whiteBalanceRed.value))
        params_.whiteBalanceBlue.value = value;
}

void NetCamera::onSetWhiteBalanceOnce()
{
    // The camera finds its gains in auto mode; manual then reads and keeps them.
    onSetWbMode(WbAuto);
    continueAfter(kWhiteBalanceOnceMs, [this] { onSetWbMode(WbManual); });
}

// ---- picture ----

void NetCamera::onSetMirrorStatus(bool enable)
{
    if (enable != params_.mirror && setImgMirrorFlip(params_.flip, enable))
        params_.mirror = enable;
}

void NetCamera::onSetFlipStatus(bool enable)
{
    if (enable != params_.flip && setImgMirrorFlip(enable, params_.mirror))
        params_.flip = enable;
}

void NetCamera::onSetHueValue(int value)
{
    setImageValue(&CameraParameters::hue, value);
}

void NetCamera::onSetSaturationValue(int value)
{
    setImageValue(&CameraParameters::saturation, value);
}

void NetCamera::onSetContrastValue(int value)
{
    setImageValue(&CameraParameters::contrast, value);
}

void NetCamera::onSetSharpnessValue(int value)
{
    setImageValue(&CameraParameters::sharpness, value);
}

void NetCamera::onSetDZoomValue(int)
{
    log() << "Current camera does not support to set dzoom!";
}

void NetCamera::onSetZoomValue(int)
{
    log() << "Current camera does not support to set zoom!";
}

void NetCamera::onSetDefogStatus(bool)
{
    log() << "Current camera does not support to set defog!";
}

void NetCamera::onSetMonoChromeStatus(bool enable)
{
    int saturation = 0;
    if (!monochromeTarget(enable, saturation))
        return;
    CameraParameters next = params_;
    next.saturation.value = saturation;
    int modeCode = 0, focusValue = 0;
    if (!imageFocus(next, true, modeCode, focusValue)
        || !setImage(next.exposureCompensation.value, next.contrast.value, saturation, next.hue.value, modeCode,
                     focusValue, next.zoom.value + next.digitalZoom.value, next.sharpness.value))
        return;
    commitMonochrome(enable, saturation);
    emit sendSaturationValue(saturation);
}

void NetCamera::onSetFilckStatus(bool enable)
{
    if (enable == params_.flickerOn)
        return;
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("flick"), enable);
    if (request(QStringLiteral("set_img_flick_hz"), args).ok())
        params_.flickerOn = enable;
}

void NetCamera::onSetGammaValue(int value)
{
    if (value == params_.gamma.value)
        return;
    QJsonObject args = channelArgs();
    args.insert(QStringLiteral("level"), value);
    if (request(QStringLiteral("set_img_hdr_gamma"), args).ok())
        params_.gamma.value = value;
}

// ---- resets and camera-wide requests ----

void NetCamera::onReset()
{
    onResetBasicSettings();
    onResetAdvancedSettings();
}

void NetCamera::onResetBasicSettings()
{
    resetBasicToDefaults();
}

void NetCamera::onResetAdvancedSettings()
{
    resetAdvancedToDefaults();
}

void NetCamera::onCalibrateCurve() {}
void NetCamera::onValidateCurve() {}

void NetCamera::onSaveCameraConfig()
{
    log() << "NetCamera does not support save camera config!";
}

void NetCamera::onUpgrade(QString filePath)
{
    // A library-level command (login id 0): the library reaches the camera itself.
    const NetworkOpenSettings settings = networkSettings();
    const QJsonObject credentials{{QStringLiteral("username"), settings.user},
                                  {QStringLiteral("passwd"), settings.password}};
    const QJsonObject upgrade{{QStringLiteral("cmd"), QStringLiteral("upgrade")},
                              {QStringLiteral("qqssid"), NetCameraCredentials::password},
                              {QStringLiteral("qqauth"), NetCameraCredentials::password},
                              {QStringLiteral("ip"), settings.address},
                              {QStringLiteral("port"), settings.port.toInt()},
                              {QStringLiteral("path"), filePath},
                              {QStringLiteral("upgrade"), credentials}};
    const QString cmd = QStringLiteral("upgrade");
    const NetReply reply = netrequest::send(0, QJsonDocument(upgrade).toJson(QJsonDocument::Compact), cmd);
    log() << "onUpgrade. FilePath=" << filePath << ", valid=" << reply.ok();
    // Unanswered within the library's wait, the upgrade may still go on: the
    // status polls tell how it ends.
    if (reply.status == NetReply::TimedOut)
        log() << "onUpgrade: the camera has not answered yet; its upgrade status will tell";
    else if (!reply.ok())
        emit sendUpgradeStatus(QString(), -1.0);
}

void NetCamera::onSetIp(IpInfo info)
{
    const bool same = ipInfoSent_ && info.dhcp == ipInfo_.dhcp && info.ip == ipInfo_.ip
                      && info.gateway == ipInfo_.gateway && info.netmask == ipInfo_.netmask
                      && info.dns1 == ipInfo_.dns1 && info.dns2 == ipInfo_.dns2;
    if (same)
        return;
    log() << "onSetIp, dhcp=" << (info.dhcp ? "true" : "false") << ", ip=" << info.ip << ", gateway=" << info.gateway
          << ", netmask=" << info.netmask << ", dns1=" << info.dns1 << ", dns2=" << info.dns2;
    // A camera given an address it cannot use is lost to the user: a fixed
    // configuration needs plain addresses, and a DNS server is one or empty.
    auto optional = [](const QString &text) { return text.isEmpty() || netrequest::isPlainIpv4(text); };
    const bool usable = info.dhcp
                            ? optional(info.dns1) && optional(info.dns2)
                            : netrequest::isPlainIpv4(info.ip) && netrequest::isPlainIpv4(info.netmask)
                                  && optional(info.gateway) && optional(info.dns1) && optional(info.dns2);
    if (!usable) {
        log() << "onSetIp: not a usable IPv4 configuration; nothing is sent";
        return;
    }
    const QJsonObject args{{QStringLiteral("dhcp"), info.dhcp},       {QStringLiteral("ip"), info.ip},
                           {QStringLiteral("gateway"), info.gateway}, {QStringLiteral("netmask"), info.netmask},
                           {QStringLiteral("dns1"), info.dns1},       {QStringLiteral("dns2"), info.dns2}};
    if (request(QStringLiteral("set_ipv4"), args).ok()) {
        ipInfo_ = info;
        ipInfoSent_ = true;
    }
}

void NetCamera::onSetFocusRegionStatus(bool)
{
    log() << "Current camera does not support to set focus region status!";
}

void NetCamera::onSetFocusRegion(int, int)
{
    log() << "Current camera does not support to set focus region!";
}

void NetCamera::onSetMotorCenter()
{
    log() << "Current Camera does not support to set motor center!";
}

void NetCamera::onSetCameraDisplayMode(DisplayMode)
{
    log() << "Current Camera does not support to set display mode!";
}

// ---- getters ----

void NetCamera::onGetFocusMode()
{
    log() << "Current camera does not support to get focus mode!";
}

void NetCamera::onGetFocusValue()
{
    log() << "Current camera does not support to get focus!";
}

void NetCamera::onGetExpMode()
{
    int type = 0;
    if (!readInt(request(QStringLiteral("img_meexposure"), channelArgs()).body, {"expo_type"}, type))
        return;
    if (type == 0)
        emit sendExpMode(ExposureAuto);
    else if (type == 1)
        emit sendExpMode(ExposureManual);
}

void NetCamera::onGetExpCompValue()
{
    int value = 0;
    if (readInt(request(QStringLiteral("img_exposure"), channelArgs()).body, {"compensation"}, value))
        emit sendExpCompValue(value);
}

void NetCamera::onGetExpGainValue()
{
    int value = 0;
    if (readInt(request(QStringLiteral("img_meexposure"), channelArgs()).body, {"a_gain"}, value))
        emit sendExpGainValue(value);
}

void NetCamera::onGetExpTime()
{
    int value = 0;
    if (readInt(request(QStringLiteral("img_meexposure"), channelArgs()).body, {"shuttertime"}, value))
        emit sendExpTime(value);
}

void NetCamera::onGetWbMode()
{
    QString awb;
    if (!readString(request(QStringLiteral("img_awb"), channelArgs()).body, {"awb"}, awb))
        return;
    if (awb == QLatin1String("manual"))
        emit sendWbMode(WbManual);
    else if (awb == QLatin1String("auto"))
        emit sendWbMode(WbAuto);
}

void NetCamera::onGetWbRedValue()
{
    int value = 0;
    if (readInt(whiteBalanceGains().body, {"r"}, value))
        emit sendWbRedValue(value);
}

void NetCamera::onGetWbGreenValue()
{
    int value = 0;
    if (readInt(whiteBalanceGains().body, {"gb"}, value))
        emit sendWbGreenValue(value);
}

void NetCamera::onGetWbBlueValue()
{
    int value = 0;
    if (readInt(whiteBalanceGains().body, {"b"}, value))
        emit sendWbBlueValue(value);
}

void NetCamera::onGetMirrorStatus()
{
    bool on = false;
    if (readBool(request(QStringLiteral("img_mirror_flip"), channelArgs()).body, {"mirror"}, on))
        emit sendMirrorStatus(on);
}

void NetCamera::onGetFlipStatus()
{
    bool on = false;
    if (readBool(request(QStringLiteral("img_mirror_flip"), channelArgs()).body, {"flip"}, on))
        emit sendFlipStatus(on);
}

void NetCamera::onGetHueValue()
{
    int value = 0;
    if (readInt(getImage().body, {"hue"}, value))
        emit sendHueValue(value);
}

void NetCamera::onGetSaturationValue()
{
    int value = 0;
    if (readInt(getImage().body, {"saturation"}, value))
        emit sendSaturationValue(value);
}

void NetCamera::onGetContrastValue()
{
    if (readInt(getImage().body, {"contrast"}, params_.contrast.value))
        emit sendContrastValue(params_.contrast.value);
}

void NetCamera::onGetSharpnessValue()
{
    int value = 0;
    if (readInt(getImage().body, {"sharpness"}, value))
        emit sendSharpnessValue(value);
}

void NetCamera::onGetDZoomValue()
{
    log() << "Current camera does not support to get dzoom!";
}

void NetCamera::onGetZoomValue()
{
    log() << "Current camera does not support to get zoom!";
}

void NetCamera::onGetDefogStatus()
{
    log() << "Current camera does not support to get defog!";
}

void NetCamera::onGetGammaValue()
{
    if (readInt(request(QStringLiteral("img_hdr_gamma"), streamArgs()).body, {"level"}, params_.gamma.value))
        emit sendGammaValue(params_.gamma.value);
}

void NetCamera::onGetMonoChromeStatus()
{
    int saturation = 0;
    if (readInt(getImage().body, {"saturation"}, saturation))
        emit sendMonoChromeStatus(saturation == 0);
}

void NetCamera::onGetFlickStatus()
{
    bool on = false;
    if (readBool(request(QStringLiteral("img_flick_hz"), channelArgs()).body, {"flick"}, on))
        emit sendFlickStatus(on);
}

void NetCamera::onGetIpInfo()
{
    const NetReply reply = request(QStringLiteral("ipv4"));
    IpInfo info;
    if (!reply.ok() || !readBool(reply.body, {"dhcp"}, info.dhcp))
        return;
    readString(reply.body, {"ip"}, info.ip);
    readString(reply.body, {"gateway"}, info.gateway);
    readString(reply.body, {"netmask"}, info.netmask);
    readString(reply.body, {"dns1"}, info.dns1);
    readString(reply.body, {"dns2"}, info.dns2);
    emit sendIpInfo(info);
}

void NetCamera::onGetUpgradeStatus()
{
    const NetworkOpenSettings settings = networkSettings();
    const QString cmd = QStringLiteral("status_upgrade");
    const QJsonObject status{{QStringLiteral("cmd"), cmd},
                             {QStringLiteral("ip"), settings.address},
                             {QStringLiteral("port"), settings.port.toInt()}};
    const NetReply reply = netrequest::send(0, QJsonDocument(status).toJson(QJsonDocument::Compact), cmd);
    QString state;
    double percentage = 0;
    if (!readString(reply.body, {"status"}, state) || !readDouble(reply.body, {"percentage"}, percentage))
        return;
    log() << "onGetUpgradeStatus. status=" << state << ", percentage=" << percentage;
    emit sendUpgradeStatus(state, percentage);
}

void NetCamera::onGetFocusRegionStatus()
{
    log() << "Current camera does not support to get focus region status!";
}

void NetCamera::onGetFocusRegion()
{
    log() << "Current camera does not support to get focus region!";
}

void NetCamera::onGetCameraDisplayMode()
{
    log() << "Current camera does not support to get display mode!";
}
