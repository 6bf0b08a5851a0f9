// The network branch of BaseCamera: a camera reached through the device
// library's exports. A login, JSON requests with JSON replies, a logout, and a
// decoder bound to the logged-in camera's stream that hands out pictures.
//
// Every request blocks its calling thread until the device answers or the
// library gives up (6000 ms). The camera object therefore lives on the
// control thread, where its slots run; the capture thread runs open, reopen,
// getVideoFrameData and close; login, queryParameters and getCameraModel are
// run off the GUI thread (bringUpNetworkCamera in net_devices.h does it).
// What the GUI thread may call directly (names, records, open settings,
// initSettingsPanel, upgradeFirmware) never sends anything.
//
// The parameter record holds what the device last accepted or reported:
// setters change it only once the device has accepted the change, and a
// getter whose request failed emits nothing. Focus values in the record and
// in every signal are in the user's scale, the device's value + 25.
#pragma once

#include "base_camera.h"
#include "net_request.h"

#include <QMutex>

#include <atomic>

class NetCamera : public BaseCamera
{
    Q_OBJECT

public:
    // Every network camera streams through this decoder: one at a time.
    static constexpr int kDecoderId = 100;
    // Device focus value + kFocusOffset = the value the user sees.
    static constexpr int kFocusOffset = 25;

    explicit NetCamera(QObject *parent = nullptr);
    ~NetCamera() override;

    // Reads the stored row (a camera seen for the first time gets its model's
    // default row, or the row this model had before rows were kept per
    // device), declares the network capabilities and refreshes from the
    // device. False when the device did not answer every request.
    bool queryParameters(CameraParameters &out) override;
    CameraOpenSettings getOpenSettings() override;
    void setOpenSettings(const CameraOpenSettings &settings) override;
    int defaultFrameRate() override;
    bool isSystemSupported() override;
    // Checks that the file fits this camera (name and model); sends nothing.
    bool upgradeFirmware(const QString &filePath, QWidget *parent) override;
    // The camera's address.
    QString cameraName() override;
    // Logs in and asks the device for its model. The unique name becomes the
    // model text, "@" and the device's serial number (from the device or from
    // discovery), or its address when no serial number is known, so that each
    // camera has its own database row. False when the login fails or the
    // device does not tell its model (then it is logged out again).
    bool login(const CameraOpenSettings &settings) override;
    bool logout() override;
    // Opens and binds the decoder, sends the stream settings and opens the
    // stream. Any failure closes the decoder again and returns false.
    bool open(const CameraOpenSettings &settings) override;
    // Unbinds and closes the decoder and logs out.
    bool close() override;
    // Sends new stream settings; a refusal closes the decoder (the stream is
    // over) and returns false.
    bool reopen(const CameraOpenSettings &settings) override;
    // The oldest decoded picture of the stream's size, else an empty frame.
    VideoFrame getVideoFrameData() override;
    void prepareCaptureParams() override;

    // Reads the device's current settings into `out`. Only values the device
    // gave change `out`; false when a request went unanswered (the rest are
    // not tried once the device stops answering).
    virtual bool refreshFromDevice(CameraParameters &out);

    // The stream request: format, rate control, size text ("1920*1080"),
    // quality (the profile), frame rate, bit rate and GOP length.
    bool setStream(const QString &format, const QString &rateControl, const QString &size, const QString &quality,
                   int frameRate, int bitrate, int gop);

    int loginId() const { return loginId_.load(); }
    // The model text and serial number the device reported at login.
    QString modelText() const;
    QString serialNumber() const;

    // Device focus-mode code of a FocusMode: auto 0, manual 1, once 2, else -1.
    static int toDeviceFocusMode(int mode);
    // What is wrong with an upgrade file for a camera of this model text (the
    // untranslated message of context "NetCamera"), or null when it fits: the
    // name must hold "update" and ".qpk" and the model's token ("w710" for
    // "W710_IPC" ...), each in any case.
    static const char *upgradeFileProblem(const QString &filePath, const QString &modelText);

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetFocusValue(int value) override;
    void onSetFocusAdd() override;
    void onSetFocusSub() override;
    void onSetFocusOnce() override;
    void onSetExpMode(ExposureMode mode) override;
    void onSetExpCompValue(int value) override;
    void onSetExpGainValue(int value) override;
    void onSetExpTime(int time) override;
    void onSetWbMode(WbMode mode) override;
    void onSetWbRedValue(int value) override;
    void onSetWbGreenValue(int value) override;
    void onSetWbBlueValue(int value) override;
    void onSetMirrorStatus(bool enable) override;
    void onSetFlipStatus(bool enable) override;
    void onSetHueValue(int value) override;
    void onSetSaturationValue(int value) override;
    void onSetContrastValue(int value) override;
    void onSetSharpnessValue(int value) override;
    void onSetDZoomValue(int value) override;
    void onSetZoomValue(int value) override;
    void onSetDefogStatus(bool enable) override;
    void onSetMonoChromeStatus(bool enable) override;
    void onSetFilckStatus(bool enable) override;
    void onSetGammaValue(int value) override;
    void onReset() override;
    void onSaveCameraConfig() override;
    void onUpgrade(QString filePath) override;
    void onSetIp(IpInfo info) override;
    void onSetFocusRegionStatus(bool enable) override;
    void onSetFocusRegion(int x, int y) override;
    void onSetWhiteBalanceOnce() override;
    void onSetMotorCenter() override;
    void onSetCameraDisplayMode(DisplayMode mode) override;
    void onResetBasicSettings() override;
    void onResetAdvancedSettings() override;
    void onCalibrateCurve() override;
    void onValidateCurve() override;
    void onGetFocusMode() override;
    void onGetFocusValue() override;
    void onGetExpMode() override;
    void onGetExpCompValue() override;
    void onGetExpGainValue() override;
    void onGetExpTime() override;
    void onGetWbMode() override;
    void onGetWbRedValue() override;
    void onGetWbGreenValue() override;
    void onGetWbBlueValue() override;
    void onGetMirrorStatus() override;
    void onGetFlipStatus() override;
    void onGetHueValue() override;
    void onGetSaturationValue() override;
    void onGetContrastValue() override;
    void onGetSharpnessValue() override;
    void onGetDZoomValue() override;
    void onGetZoomValue() override;
    void onGetDefogStatus() override;
    void onGetGammaValue() override;
    void onGetMonoChromeStatus() override;
    void onGetFlickStatus() override;
    void onGetIpInfo() override;
    void onGetUpgradeStatus() override;
    void onGetFocusRegionStatus() override;
    void onGetFocusRegion() override;
    void onGetCameraDisplayMode() override;

protected:
    static QDebug log();

    // One request of this camera's login; the reply's object named like the
    // command is NetReply::body.
    NetReply request(const QString &cmd, const QJsonObject &args = {});
    // {"chnn": channel} and {"chnn", "idx"} argument objects.
    QJsonObject channelArgs() const;
    QJsonObject streamArgs() const;
    // get_image carries the login id as "idx".
    QJsonObject imageArgs() const;
    NetReply getImage();
    // The white-balance gains ("r", "gb", "b"), always asked on channel 0.
    QJsonObject gainArgs() const;
    NetReply whiteBalanceGains();

    // Senders of the setting requests; true when the device accepted.
    bool setImage(int bright, int contrast, int saturation, int hue, int focusModeCode, int focusValue,
                  int zoomValue, int sharpness);
    bool setImgMeExposure(int exposureType, int gain, int shutterTime);
    bool setImgAwb(const QString &awb, int blue, int greenB, int greenR, int red);
    bool setImgMirrorFlip(bool flip, bool mirror);
    bool setImgRoi(bool roi, int x, int y, int roiMode);
    bool setImgMode(int mode);
    bool setMotorDemist(bool demist);

    // The image request for the record `next`; on acceptance `next` becomes
    // the camera's record. Its focus part comes from imageFocus; with
    // `plainFocusCode` the record's focus mode is sent as it stands.
    bool applyImageSettings(CameraParameters &next, bool plainFocusCode = false);
    // The focus mode code and device focus value an image request carries for
    // `next`. In once mode the camera is put into manual focus at the
    // device's current position (one more request); false when that fails.
    virtual bool imageFocus(CameraParameters &next, bool plainFocusCode, int &modeCode, int &deviceFocusValue);
    // Changes one image value: unchanged sends nothing; else the image
    // request with the new value.
    void setImageValue(ControlRange CameraParameters::*control, int value);

    // The display text: hardware and software version of the device and the
    // application version.
    QString versionDisplayText() const;
    // The open settings' network block (capture and control thread).
    NetworkOpenSettings networkSettings() const;
    // Drops every frame rate above `maximum` from both frame-rate lists.
    void limitFrameRates(int maximum);

private:
    bool closeDecoder();
    void takeSystemInfo(const QJsonObject &system);

    std::atomic<int> loginId_{0};
    const int streamIndex_ = 0;
    const int channel_ = 0;
    IpInfo ipInfo_;
    bool ipInfoSent_ = false;  // ipInfo_ holds what the device last accepted

    mutable QMutex mutex_;  // the open settings and the device's texts
    NetworkOpenSettings openSettings_;
    QString modelText_;
    QString serialNumber_;
    QString hardwareVersion_;
    QString softwareVersion_;

    std::atomic<bool> decoderOpen_{false};  // this camera opened the decoder
};
