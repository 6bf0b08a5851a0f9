#include "net_camera.h"

#include "frame_convert.h"
#include "net_devices.h"
#include "trovix.h"

#include <QDebug>
#include <QMessageBox>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>

using netrequest::readBool;
using netrequest::readInt;
using netrequest::readString;

namespace {

// Model texts a firmware file can be for, in the order they are looked for,
// and the token its file name must carry.
const std::pair<const char *, const char *> kUpgradeModels[] = {
    {"W710_IPC", "w710"}, {"Y260_IPC", "y260"}, {"W620_IPC", "w620"}, {"W640_IPC", "w640"},
    {"E520_IPC", "e520"}, {"E530_IPC", "e530"}, {"E540_IPC", "e540"},
};

// A serial number a device or discovery reports, if it can key a row:
// printable ASCII, at most 64 characters.
QString usableSerial(const QString &text)
{
    const QString serial = text.trimmed();
    if (serial.isEmpty() || serial.size() > 64)
        return QString();
    for (const QChar c : serial) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return QString();
    }
    return serial;
}

} // namespace

NetCamera::NetCamera(QObject *parent) : BaseCamera(parent)
{
    streamFormats_ = {StreamMjpeg};
    resetFrameRateLists();
}

NetCamera::~NetCamera()
{
    // A camera dropped without close (a failed open or reopen, a bring-up
    // given up) leaves neither its decoder nor its login behind.
    closeDecoder();
    const int id = loginId_.exchange(0);
    if (id != 0)
        trovix_logout(id);
}

QDebug NetCamera::log()
{
    return qDebug().nospace().noquote();
}

// ---- records and names ----

CameraOpenSettings NetCamera::getOpenSettings()
{
    CameraOpenSettings settings;
    settings.network = networkSettings();
    settings.isNetwork = true;
    return settings;
}

void NetCamera::setOpenSettings(const CameraOpenSettings &settings)
{
    QMutexLocker lock(&mutex_);
    openSettings_ = settings.network;
}

NetworkOpenSettings NetCamera::networkSettings() const
{
    QMutexLocker lock(&mutex_);
    return openSettings_;
}

void NetCamera::limitFrameRates(int maximum)
{
    const auto upTo = [maximum](QList<int> rates) {
        rates.erase(std::remove_if(rates.begin(), rates.end(), [maximum](int rate) { return rate > maximum; }),
                    rates.end());
        return rates;
    };
    setFrameRateLists(upTo(lowResFrameRates()), upTo(highResFrameRates()));
}

int NetCamera::defaultFrameRate()
{
    return networkSettings().fps;
}

bool NetCamera::isSystemSupported()
{
    return true;
}

QString NetCamera::cameraName()
{
    return networkSettings().address;
}

QString NetCamera::modelText() const
{
    QMutexLocker lock(&mutex_);
    return modelText_;
}

QString NetCamera::serialNumber() const
{
    QMutexLocker lock(&mutex_);
    return serialNumber_;
}

void NetCamera::prepareCaptureParams() {}

int NetCamera::toDeviceFocusMode(int mode)
{
    switch (mode) {
    case FocusAuto: return 0;
    case FocusManual: return 1;
    case FocusOnce: return 2;
    default: return -1;
    }
}

QString NetCamera::versionDisplayText() const
{
    QMutexLocker lock(&mutex_);
    return hardwareVersion_ + QLatin1Char(' ') + softwareVersion_ + QStringLiteral(" 5.1.0");
}

void NetCamera::takeSystemInfo(const QJsonObject &system)
{
    QString model, hardware, software, serial;
    readString(system, {"model"}, model);
    readString(system, {"hw_ver"}, hardware);
    readString(system, {"sw_ver"}, software);
    readString(system, {"sn"}, serial);
    QMutexLocker lock(&mutex_);
    modelText_ = model;
    hardwareVersion_ = hardware;
    softwareVersion_ = software;
    if (!usableSerial(serial).isEmpty())
        serialNumber_ = usableSerial(serial);
}

// ---- requests ----

NetReply NetCamera::request(const QString &cmd, const QJsonObject &args)
{
    const NetReply reply = netrequest::send(loginId_.load(), netrequest::commandText(cmd, args), cmd);
    if (!reply.ok())
        log() << "NetCamera request " << cmd << " failed: "
              << (reply.status == NetReply::TimedOut ? QStringLiteral("no answer") : QString::number(reply.code));
    return reply;
}

QJsonObject NetCamera::channelArgs() const
{
    return QJsonObject{{QStringLiteral("chnn"), channel_}};
}

QJsonObject NetCamera::streamArgs() const
{
    return QJsonObject{{QStringLiteral("chnn"), channel_}, {QStringLiteral("idx"), streamIndex_}};
}

QJsonObject NetCamera::gainArgs() const
{
    // The gains are always read on channel 0.
    return QJsonObject{{QStringLiteral("chnn"), 0}};
}

NetReply NetCamera::whiteBalanceGains()
{
    return request(QStringLiteral("info_img_awb"), gainArgs());
}

QJsonObject NetCamera::imageArgs() const
{
    return QJsonObject{{QStringLiteral("chnn"), channel_}, {QStringLiteral("idx"), loginId_.load()}};
}

NetReply NetCamera::getImage()
{
    return request(QStringLiteral("get_image"), imageArgs());
}

// ---- login ----

bool NetCamera::login(const CameraOpenSettings &settings)
{
    {
        QMutexLocker lock(&mutex_);
        openSettings_ = settings.network;
        serialNumber_.clear();
    }
    prepareCaptureParams();
    const QByteArray text = netrequest::loginText(settings.network);
    if (text.isEmpty()) {
        log() << "Login failed: the port " << settings.network.port << " is not a port number";
        return false;
    }
    int id = 0;
    const int result = trovix_login(&id, text.constData());
    if (result != TROVIX_OK || id == 0) {
        log() << "Login failed. address: " << settings.network.address << ", code: " << result;
        loginId_.store(0);
        return false;
    }
    const int previous = loginId_.exchange(id);
    if (previous != 0)
        trovix_logout(previous);

    const NetReply system = request(QStringLiteral("system"));
    takeSystemInfo(system.body);
    const QString model = modelText();
    if (!system.ok() || model.isEmpty()) {
        log() << "Login: the camera at " << settings.network.address << " did not tell its model";
        logout();
        return false;
    }

    // The serial number keys the camera's row; discovery knows it when the
    // device itself does not say.
    QString key = serialNumber();
    if (key.isEmpty()) {
        for (const DiscoveredCamera &found : discoveredNetworkCameras()) {
            if (found.address == settings.network.address)
                key = usableSerial(found.serial);
        }
        QMutexLocker lock(&mutex_);
        serialNumber_ = key;
    }
    uniqueName_ = model + QLatin1Char('@') + (key.isEmpty() ? settings.network.address : key);
    log() << "Login succeed. id: " << id;
    return true;
}

bool NetCamera::logout()
{
    const int id = loginId_.exchange(0);
    if (id == 0 || trovix_logout(id) != TROVIX_OK)
        return false;
    log() << "Logout succeed. id: " << id;
    return true;
}

// ---- stream ----

bool NetCamera::setStream(const QString &format, const QString &rateControl, const QString &size,
                          const QString &quality, int frameRate, int bitrate, int gop)
{
    QJsonObject args = streamArgs();
    args.insert(QStringLiteral("fmt"), format);
    args.insert(QStringLiteral("rc_mode"), rateControl);
    args.insert(QStringLiteral("wh"), size);
    args.insert(QStringLiteral("quality"), quality);
    args.insert(QStringLiteral("frame_rate"), frameRate);
    args.insert(QStringLiteral("bitrate"), bitrate);
    args.insert(QStringLiteral("i_interval"), gop);
    const QByteArray text = netrequest::commandText(QStringLiteral("set_stream"), args);
    log() << "setStream" << QString::fromUtf8(text);
    return netrequest::send(loginId_.load(), text, QStringLiteral("set_stream")).ok();
}

namespace {

bool sendStreamSettings(NetCamera &camera, const NetworkOpenSettings &s)
{
    return camera.setStream(QStringLiteral("mjpeg"), s.rateControl, QStringLiteral("%1*%2").arg(s.width).arg(s.height),
                            s.profile, s.fps, s.bitrate, s.gop);
}

} // namespace

bool NetCamera::open(const CameraOpenSettings &settings)
{
    setOpenSettings(settings);
    if (trovix_dec_open(kDecoderId, nullptr) != TROVIX_OK) {
        log() << "Create decoder failed!";
        return false;
    }
    decoderOpen_.store(true);
    if (trovix_dec_bind(kDecoderId, loginId_.load(), channel_, streamIndex_, 0) != TROVIX_OK) {
        closeDecoder();
        logout();
        log() << "Bind decoder failed!";
        return false;
    }
    if (!sendStreamSettings(*this, settings.network)) {
        closeDecoder();
        log() << "Open: the camera refused the stream settings";
        return false;
    }
    if (!request(QStringLiteral("open_stream"), streamArgs()).ok()) {
        closeDecoder();
        log() << "Open: the camera did not open its stream";
        return false;
    }
    return true;
}

bool NetCamera::reopen(const CameraOpenSettings &settings)
{
    setOpenSettings(settings);
    prepareCaptureParams();
    if (sendStreamSettings(*this, settings.network))
        return true;
    closeDecoder();
    return false;
}

bool NetCamera::closeDecoder()
{
    if (!decoderOpen_.exchange(false))
        return false;
    trovix_dec_unbind(kDecoderId);
    trovix_dec_close(kDecoderId);
    return true;
}

bool NetCamera::close()
{
    closeDecoder();
    logout();
    return true;
}

VideoFrame NetCamera::getVideoFrameData()
{
    dec_frame *record = nullptr;
    if (trovix_dec_get_md_data(kDecoderId, &record) != TROVIX_OK) {
        if (record)
            trovix_dec_free_md_data(record);
        return VideoFrame();
    }
    const NetworkOpenSettings settings = networkSettings();
    VideoFrame frame;
    // Pictures of another size (the camera is changing its stream) are dropped.
    if (record->width == settings.width && record->height == settings.height)
        frame = makeVideoFrame(*record);
    trovix_dec_free_md_data(record);
    return frame;
}

// ---- parameters ----

bool NetCamera::queryParameters(CameraParameters &out)
{
    // Rows used to be kept per model; a camera seen for the first time since
    // takes its model's old row as its own.
    const QString model = modelText();
    CameraRow row;
    CameraDatabase &database = CameraDatabase::instance();
    if (!model.isEmpty() && !uniqueName_.isEmpty()
        && database.lookupRow(CameraDatabase::lookupKey(uniqueName_), row) == CameraDatabase::Lookup::Missing
        && database.lookupRow(model, row) == CameraDatabase::Lookup::Found) {
        database.insertRow(CameraDatabase::lookupKey(uniqueName_), row);
    }
    loadSettingsFromDb(out);
    // What the model offers, also when its row could not be read.
    out.streamFormats = streamFormats_;
    out.resolutions = resolutions_;

    out.focus.supported = true;
    out.hue.supported = true;
    out.saturation.supported = true;
    out.contrast.supported = true;
    out.sharpness.supported = true;
    out.focusPresent = true;
    out.focusSlider = true;
    out.focusOnceSupported = true;
    out.exposureSupported = true;
    out.whiteBalanceSupported = true;
    out.flipMirrorSupported = true;
    out.monochromeSupported = true;
    out.resolutionSelectable = true;
    out.frameRateSelectable = true;
    out.extraControlB = true;

    out.zoom.supported = false;
    out.digitalZoom.supported = false;
    out.gamma.supported = false;
    out.focusRegionSupported = false;
    out.panelPageFlag = false;
    out.defogSupported = false;
    out.flickerSupported = false;
    out.qualitySelectable = false;
    out.streamFormatSelectable = false;
    out.extraControlA = false;
    out.mainToolsFlag = false;
    out.extraFlag = false;

    const bool complete = refreshFromDevice(out);
    checkStoredControls(out);
    return complete;
}

bool NetCamera::refreshFromDevice(CameraParameters &out)
{
    bool complete = true;
    bool reachable = true;
    // Each value is asked for once; a device that has stopped answering is
    // not asked again for every one that remains.
    auto step = [&](const QString &cmd, const QJsonObject &args) -> NetReply {
        if (!reachable)
            return NetReply();
        NetReply reply = request(cmd, args);
        complete = complete && reply.ok();
        reachable = !reply.unreachable();
        return reply;
    };

    const NetReply system = step(QStringLiteral("system"), {});
    if (system.ok()) {
        takeSystemInfo(system.body);
        displayText_ = versionDisplayText();
    }

    const NetReply exposure = step(QStringLiteral("img_meexposure"), channelArgs());
    int number = 0;
    if (readInt(exposure.body, {"expo_type"}, number))
        out.exposureMode = number == 0 ? ExposureAuto : ExposureManual;
    if (out.exposureMode == ExposureManual) {
        readInt(exposure.body, {"shuttertime"}, out.exposureTime.value);
        readInt(exposure.body, {"a_gain"}, out.exposureGain.value);
    }
    readInt(exposure.body, {"range", "shuttertime", "max"}, out.exposureTime.maximum);
    readInt(exposure.body, {"range", "shuttertime", "min"}, out.exposureTime.minimum);
    out.exposureTime.defaultValue = 150;
    readInt(exposure.body, {"range", "a_gain", "max"}, out.exposureGain.maximum);
    readInt(exposure.body, {"range", "a_gain", "min"}, out.exposureGain.minimum);
    out.exposureGain.defaultValue = 0;

    const NetReply image = step(QStringLiteral("get_image"), imageArgs());
    if (readInt(image.body, {"focus_mode"}, number) && number >= 0 && number <= 2)
        out.focusMode = number + 1;
    if (readInt(image.body, {"focus_value"}, number))
        out.focus.value = number + kFocusOffset;
    out.focus.minimum = 1;
    out.focus.maximum = 400;
    out.focus.defaultValue = 200;

    const NetReply roi = step(QStringLiteral("img_roi"), streamArgs());
    readBool(roi.body, {"roi"}, out.focusRegionEnabled);
    readInt(roi.body, {"roi_x"}, out.focusRegionX);
    readInt(roi.body, {"roi_y"}, out.focusRegionY);

    readInt(image.body, {"ezoom_value"}, out.zoom.value);
    readInt(image.body, {"range", "ezoom_value", "max"}, out.zoom.maximum);
    readInt(image.body, {"range", "ezoom_value", "min"}, out.zoom.minimum);
    out.zoom.defaultValue = 0;
    log() << "NetCamera zoom value:" << out.zoom.value;

    if (out.exposureMode == ExposureAuto)
        readInt(image.body, {"bright"}, out.exposureCompensation.value);
    out.exposureCompensation.setRange(0, 255, 56, out.exposureCompensation.step);

    readInt(image.body, {"contrast"}, out.contrast.value);
    out.contrast.setRange(0, 100, 50, 1);
    readInt(image.body, {"saturation"}, out.saturation.value);
    out.saturation.setRange(0, 255, 128, out.saturation.step);
    out.monochromeOn = out.saturation.value == 0;
    readInt(image.body, {"hue"}, out.hue.value);
    out.hue.setRange(0, 100, 50, 1);
    readInt(image.body, {"sharpness"}, out.sharpness.value);
    out.sharpness.setRange(0, 15, 8, 1);

    QString awb;
    if (readString(step(QStringLiteral("img_awb"), channelArgs()).body, {"awb"}, awb)) {
        if (awb == QLatin1String("auto"))
            out.whiteBalanceMode = WbAuto;
        else if (awb == QLatin1String("manual"))
            out.whiteBalanceMode = WbManual;
    }
    const NetReply gains = step(QStringLiteral("info_img_awb"), gainArgs());
    readInt(gains.body, {"r"}, out.whiteBalanceRed.value);
    readInt(gains.body, {"gb"}, out.whiteBalanceGreen.value);
    readInt(gains.body, {"b"}, out.whiteBalanceBlue.value);

    const NetReply mirrorFlip = step(QStringLiteral("img_mirror_flip"), channelArgs());
    readBool(mirrorFlip.body, {"mirror"}, out.mirror);
    readBool(mirrorFlip.body, {"flip"}, out.flip);
    for (ControlRange *component : {&out.whiteBalanceRed, &out.whiteBalanceGreen, &out.whiteBalanceBlue}) {
        component->minimum = 1;
        component->maximum = 4095;
    }

    readInt(step(QStringLiteral("img_hdr_gamma"), streamArgs()).body, {"level"}, out.gamma.value);
    const NetReply gammaRange = step(QStringLiteral("default_img_hdr_gamma"), channelArgs());
    readInt(gammaRange.body, {"range", "level", "max"}, out.gamma.maximum);
    readInt(gammaRange.body, {"range", "level", "min"}, out.gamma.minimum);
    out.gamma.defaultValue = 0;

    readBool(step(QStringLiteral("motor_demist"), channelArgs()).body, {"demist"}, out.defogOn);
    readBool(step(QStringLiteral("img_flick_hz"), channelArgs()).body, {"flick"}, out.flickerOn);
    readInt(step(QStringLiteral("img_mode"), streamArgs()).body, {"mode"}, out.displayMode);

    if (!complete)
        log() << "NetCamera: the camera did not answer every request; its stored values stand for the rest";
    return complete;
}

// ---- firmware upgrade ----

const char *NetCamera::upgradeFileProblem(const QString &filePath, const QString &modelText)
{
    // Plain text, not patterns: ".qpk" is the extension, not "any character, then qpk".
    if (!filePath.contains(QLatin1String("update"), Qt::CaseInsensitive)
        || !filePath.contains(QLatin1String(".qpk"), Qt::CaseInsensitive))
        return QT_TR_NOOP("Invalid upgrade file name!");
    const char *token = nullptr;
    for (const auto &model : kUpgradeModels) {
        if (modelText.contains(QLatin1String(model.first))) {
            token = model.second;
            break;
        }
    }
    if (!token)
        return QT_TR_NOOP("Current camera is not support upgrading by net!");
    if (!filePath.contains(QLatin1String(token), Qt::CaseInsensitive))
        return QT_TR_NOOP("The upgrade file is not for current camera!");
    return nullptr;
}

bool NetCamera::upgradeFirmware(const QString &filePath, QWidget *parent)
{
    const char *problem = upgradeFileProblem(filePath, modelText());
    if (!problem)
        return true;
    log() << problem;
    QMessageBox box(QMessageBox::Warning, tr("Warning"), tr(problem), QMessageBox::NoButton, parent);
    box.addButton(tr("OK"), QMessageBox::AcceptRole);
    box.setFixedSize(box.sizeHint());
    box.exec();
    return false;
}
