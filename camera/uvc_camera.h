// The USB branch of BaseCamera: opens the stream through the capture layer,
// reads frames, and maps every control slot onto the control layer. Every USB
// model derives from it.
#pragma once

#include "base_camera.h"
#include "capture.h"

#include <QMutex>

class UvcCamera : public BaseCamera
{
    Q_OBJECT

public:
    explicit UvcCamera(QObject *parent = nullptr);
    ~UvcCamera() override;

    // Fills `out` (fillParameters), then takes it as the camera's own record
    // with every cached value reset (adoptParameters).
    bool queryParameters(CameraParameters &out) override;
    CameraOpenSettings getOpenSettings() override;
    void setOpenSettings(const CameraOpenSettings &settings) override;
    int defaultFrameRate() override;
    bool isSystemSupported() override;
    bool upgradeFirmware(const QString &filePath, QWidget *parent) override;
    QString uniqueName() override;
    QString cameraName() override;
    // Takes the device path as the unique name and, unless the open settings
    // carry a negative control context, the control handle of that device.
    bool login(const CameraOpenSettings &settings) override;
    bool logout() override;
    bool open(const CameraOpenSettings &settings) override;
    bool close() override;
    bool reopen(const CameraOpenSettings &settings) override;
    VideoFrame getVideoFrameData() override;
    void prepareCaptureParams() override;

    // Takes `params` as the camera's own record and forgets every value last
    // sent, so that the next value of each control reaches the device.
    void adoptParameters(const CameraParameters &params);

    int32_t controlContext() const { return usb_.controlContext; }
    bool isStreamOpen() const;
    // The capture record as the stream operations fill it (for tests).
    cap_record captureRecord() const;

    // Capture record code of a frame size (5 for 1920x1080 and every size
    // not in the list).
    static int resolutionCode(int width, int height);
    // Default frame rate of a stream format and size on a model.
    static int defaultFrameRateFor(int streamFormat, int width, int height, uint32_t modelId);

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
    // The USB branch's part of queryParameters: white-balance ranges 1..4095
    // and the resolution, stream-format and extra-B panel flags. Models run
    // their own steps around it.
    virtual void fillParameters(CameraParameters &out);
    // After the stored row's values in the record were checked against the
    // controls' ranges: sets a board that keeps settings of its own to the
    // record where it differs from what the board reported (boardState_).
    virtual void setBoardToRecord(const CameraParameters &record) { Q_UNUSED(record) }

    bool hasControl() const { return usb_.controlContext >= 0; }
    // One plain setter: skips a value equal to the cache, logs, caches, sends.
    void setPlainValue(const char *slotName, ControlRange &cache, int value, int (*setter)(int32_t, int32_t),
                       bool log = true);
    // The firmware version from the device (0 when it gives none).
    int readFirmwareVersion();
    // The advanced reset of the boards that find their white balance
    // themselves: the colour, zoom and switch defaults, then automatic white
    // balance for a second and manual white balance at the gains it found.
    void resetAdvancedWithWhiteBalanceOnce();

    // The focus slots of the E-series (also used by the W-series models).
    void deviceSetFocusMode(FocusMode mode);
    void deviceSetFocusValue(int value);
    void deviceSetFocusOnce();
    void deviceSetFocusRegion(int x, int y);
    void deviceSetMotorCenter();
    void deviceGetFocusMode();
    void deviceGetFocusValue();
    void deviceGetFocusRegion(bool cache);

    // The open block. The capture thread rewrites its stream fields on every
    // (re)open while the GUI thread reads them (open settings, frame rate):
    // usbMutex_ guards it. The control handle is written only on the control
    // thread, whose slots read it as they stand.
    UsbOpenSettings usb_;
    // What a board read at open reported, before the row's choices were
    // taken into the record (setBoardToRecord).
    CameraParameters boardState_;
    mutable QMutex usbMutex_;  // taken after streamMutex_ where both are held
    cap_record record_{};
    mutable QMutex streamMutex_;  // the capture record, between capture thread and readers
};
