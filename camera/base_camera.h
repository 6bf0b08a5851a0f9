// The abstract camera every other part talks to. It lives on the control
// thread: the capture thread calls open, read and close; the settings panel
// reaches it only through its onSet/onGet slots and send signals. The panel
// fills its own controls from the camera's parameter record; a camera never
// touches the panel's widgets and changes them only through its send signals.
#pragma once

#include "camera_database.h"
#include "camera_types.h"
#include "video_frame.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>

// What the last loadSettingsFromDb made of the camera's stored row.
struct StoredRowReport {
    QString key;              // the row's pid
    QStringList ignored;      // columns holding values the camera does not allow, in table order
    bool unreadable = false;  // a row is there but holds no usable values
    bool notRead = false;     // the row could not be read (another program's lock, an unreadable file)
    QString cause;            // why, for the user, when unreadable or not read
    QString notStored;        // SQLite's reason when the model's default row could not be added
    // Columns whose last change did not reach the file: the camera uses the
    // values they gave, over the row or the defaults, until they are stored.
    QStringList kept;
    CameraRow row;            // the row as the camera uses it: every value one it allows
    // The stored row is not what the camera uses: it should be written anew.
    bool needsRewrite() const { return unreadable || !ignored.isEmpty(); }
};

class BaseCamera : public QObject
{
    Q_OBJECT

public:
    explicit BaseCamera(QObject *parent = nullptr);
    ~BaseCamera() override;

    // True while a slot that waits for the device still has its second half
    // to run (a one-shot white balance); readable from any thread.
    bool isContinuing() const { return continuations_.load() > 0; }
    // Keeps the settings panel the camera is bound to (not owned; null unbinds).
    virtual void setSettingsPanel(QObject *panel);
    // Takes `params` as the camera's own record, keeps `value` and resets the
    // frame-rate lists. Models first push the record to the device unless
    // `skipApply` is set, telling the panel each value by its send signal.
    // Runs on the camera's own thread (the panel queues it there once it has
    // filled its controls from the same record).
    virtual void initSettingsPanel(const CameraParameters &params, int value, bool skipApply);
    // Fills `out` with what the device can do and is set to.
    virtual bool queryParameters(CameraParameters &out) = 0;
    virtual CameraOpenSettings getOpenSettings() = 0;
    virtual void setOpenSettings(const CameraOpenSettings &settings) = 0;
    virtual int defaultFrameRate() = 0;
    virtual bool isSystemSupported() = 0;
    virtual bool upgradeFirmware(const QString &filePath, QWidget *parent) = 0;
    virtual QString uniqueName();
    virtual QString cameraName() = 0;
    virtual void applyDisplayModeLimits();
    virtual bool login(const CameraOpenSettings &settings) = 0;
    virtual bool logout() = 0;
    // Stream operations, called on the capture thread.
    virtual bool open(const CameraOpenSettings &settings) = 0;
    virtual bool close() = 0;
    virtual bool reopen(const CameraOpenSettings &settings) = 0;
    // The next frame, or an empty frame when none came.
    virtual VideoFrame getVideoFrameData() = 0;
    virtual void prepareCaptureParams() = 0;
    // Reads the camera's row (inserting the model's default row the first
    // time) into `out`. A column whose value the model does not allow (a
    // stream format or size it does not offer, a frame rate, mode or flag out
    // of range) is taken from the model's default row instead, and so is the
    // whole row when it cannot be read. False when the camera has no default
    // row or no resolutions (`out` is then left alone), and when it has no key
    // or the database gives no row (`out` then holds the model's defaults).
    virtual bool loadSettingsFromDb(CameraParameters &out);
    // Of the last loadSettingsFromDb and the parameter query after it. Safe
    // from any thread.
    StoredRowReport storedRowReport() const;

    QString displayName() const;
    ResolutionMap resolutions() const;
    // The frame rates offered up to 1920x1080 and above it. Safe from any
    // thread: the panel reads them while the camera's thread may reset them.
    QList<int> lowResFrameRates() const;
    QList<int> highResFrameRates() const;
    void resetFrameRateLists();

    // The camera's own record, which doubles as the cache of the values last
    // sent to the device.
    CameraParameters parameters() const;
    void setParameters(const CameraParameters &params);
    int panelValue() const { return panelValue_; }
    QObject *settingsPanel() const { return settingsPanel_; }
    const CameraRow &defaultRow() const { return defaultRow_; }
    QList<int> streamFormats() const { return streamFormats_; }

public slots:
    virtual void onSetFocusMode(FocusMode mode) = 0;
    virtual void onSetFocusValue(int value) = 0;
    virtual void onSetFocusAdd() = 0;
    virtual void onSetFocusSub() = 0;
    virtual void onSetFocusOnce() = 0;
    virtual void onSetExpMode(ExposureMode mode) = 0;
    virtual void onSetExpCompValue(int value) = 0;
    virtual void onSetExpGainValue(int value) = 0;
    virtual void onSetExpTime(int time) = 0;
    virtual void onSetWbMode(WbMode mode) = 0;
    virtual void onSetWbRedValue(int value) = 0;
    virtual void onSetWbGreenValue(int value) = 0;
    virtual void onSetWbBlueValue(int value) = 0;
    virtual void onSetMirrorStatus(bool enable) = 0;
    virtual void onSetFlipStatus(bool enable) = 0;
    virtual void onSetHueValue(int value) = 0;
    virtual void onSetSaturationValue(int value) = 0;
    virtual void onSetContrastValue(int value) = 0;
    virtual void onSetSharpnessValue(int value) = 0;
    virtual void onSetDZoomValue(int value) = 0;
    virtual void onSetZoomValue(int value) = 0;
    virtual void onSetDefogStatus(bool enable) = 0;
    virtual void onSetMonoChromeStatus(bool enable) = 0;
    virtual void onSetFilckStatus(bool enable) = 0;
    virtual void onSetGammaValue(int value) = 0;
    virtual void onReset() = 0;
    virtual void onSaveCameraConfig() = 0;
    virtual void onUpgrade(QString filePath) = 0;
    virtual void onSetIp(IpInfo info) = 0;
    virtual void onSetFocusRegionStatus(bool enable) = 0;
    virtual void onSetFocusRegion(int x, int y) = 0;
    virtual void onSetWhiteBalanceOnce() = 0;
    virtual void onSetMotorCenter() = 0;
    virtual void onSetCameraDisplayMode(DisplayMode mode) = 0;
    virtual void onResetBasicSettings() = 0;
    virtual void onResetAdvancedSettings() = 0;
    virtual void onCalibrateCurve() = 0;
    virtual void onValidateCurve() = 0;
    virtual void onGetFocusMode() = 0;
    virtual void onGetFocusValue() = 0;
    virtual void onGetExpMode() = 0;
    virtual void onGetExpCompValue() = 0;
    virtual void onGetExpGainValue() = 0;
    virtual void onGetExpTime() = 0;
    virtual void onGetWbMode() = 0;
    virtual void onGetWbRedValue() = 0;
    virtual void onGetWbGreenValue() = 0;
    virtual void onGetWbBlueValue() = 0;
    virtual void onGetMirrorStatus() = 0;
    virtual void onGetFlipStatus() = 0;
    virtual void onGetHueValue() = 0;
    virtual void onGetSaturationValue() = 0;
    virtual void onGetContrastValue() = 0;
    virtual void onGetSharpnessValue() = 0;
    virtual void onGetDZoomValue() = 0;
    virtual void onGetZoomValue() = 0;
    virtual void onGetDefogStatus() = 0;
    virtual void onGetGammaValue() = 0;
    virtual void onGetMonoChromeStatus() = 0;
    virtual void onGetFlickStatus() = 0;
    virtual void onGetIpInfo() = 0;
    virtual void onGetUpgradeStatus() = 0;
    virtual void onGetFocusRegionStatus() = 0;
    virtual void onGetFocusRegion() = 0;
    virtual void onGetCameraDisplayMode() = 0;

signals:
    void sendFocusMode(FocusMode mode);
    void sendFocusValue(int value);
    void sendExpMode(ExposureMode mode);
    void sendExpCompValue(int value);
    void sendExpGainValue(int value);
    void sendExpTime(int time);
    void sendWbMode(WbMode mode);
    void sendWbRedValue(int value);
    void sendWbGreenValue(int value);
    void sendWbBlueValue(int value);
    void sendMirrorStatus(bool enable);
    void sendFlipStatus(bool enable);
    void sendHueValue(int value);
    void sendSaturationValue(int value);
    void sendContrastValue(int value);
    void sendSharpnessValue(int value);
    void sendDZoomValue(int value);
    void sendZoomValue(int value);
    void sendDefogStatus(bool enable);
    void sendGammaValue(int value);
    void sendMonoChromeStatus(bool enable);
    void sendFlickStatus(bool enable);
    void sendIpInfo(IpInfo info);
    void sendUpgradeStatus(QString status, double percentage);
    void sendFocusRegionStatus(bool enable);
    void sendFocusRegion(int x, int y);
    void sendDisplayModeValue(DisplayMode mode);
    void signalSetPicScale(int);

protected:
    QPointer<QObject> settingsPanel_;
    int panelValue_ = 0;
    CameraParameters params_;
    QString displayText_;
    QString uniqueName_;
    CameraRow defaultRow_;
    bool hasDefaultRow_ = false;
    ResolutionMap resolutions_;
    QList<int> streamFormats_;
    int savedSaturation_ = 0;
    bool saturationSaved_ = false;  // savedSaturation_ holds a value to restore

    // The saturation that switching monochrome on or off asks for: 0 on; off,
    // the saturation saved when it was switched on, else the control's
    // default. False when nothing is to change.
    bool monochromeTarget(bool enable, int &saturation) const;
    // Records a monochrome switch that took effect.
    void commitMonochrome(bool enable, int saturation);

    // The resets of the settings panel: the basic page (automatic exposure
    // and focus, the focus region in the middle) and the advanced page
    // (colour, zoom and switch defaults; then white balance in manual mode at
    // its default gains). Each control the model has is set through the
    // camera's own setter, as a change of the user's is, modes before the
    // values that act in them; the panel is then told what the camera holds.
    // Of a control the model lacks, nothing is sent and the panel is told
    // the default.
    void resetBasicToDefaults();
    void resetAdvancedValues();  // the twelve colour, zoom and switch defaults
    void resetAdvancedToDefaults();
    // One control of a reset: its default (within the model's range) set
    // through `setter`, and the value the control then holds; the default
    // alone when the model lacks the control.
    int resetControl(ControlRange CameraParameters::*control, void (BaseCamera::*setter)(int));
    // One switch of a reset: off through `setter` when the model has it; its state then.
    bool resetSwitch(bool supported, bool CameraParameters::*state, void (BaseCamera::*setter)(bool));

    // How long a one-shot white balance leaves the device in automatic mode
    // to find its gains before manual mode reads them back.
    static constexpr int kWhiteBalanceOnceMs = 1000;
    // Runs `next` on the camera's thread `milliseconds` from now, unless the
    // camera is gone by then. A slot never waits for the device in a nested
    // event loop: the camera could be released, or another of its slots run,
    // in its middle. Pauses of a few milliseconds between two writes sleep.
    void continueAfter(int milliseconds, std::function<void()> next);

    // A model's default row, stored under the camera's key the first time it
    // is seen.
    void setDefaultRow(const CameraRow &row);
    // The end of a parameter query: a stored control value outside the range
    // the model (or its device) gives that control is replaced by the model's
    // default, in `out` and in the stored-row report. Values the device
    // reported instead of the row's are left alone.
    void checkStoredControls(CameraParameters &out);
    // Marks one column of the stored row as not allowed and returns the
    // model's default for it, for a model that checks a column itself.
    int ignoreStoredValue(const char *column, int CameraRow::*field);
    // The row's zoom of a model whose device has one zoom value, optical zoom
    // running on into digital zoom: it is checked whole against 0..`highest`
    // before it is split, and one outside gives way to the model's default.
    int allowedStoredZoom(int stored, int highest);
    // "USB Camera", three spaces, the firmware version (x 100) with two
    // decimals, a space and the application version.
    static QString usbDisplayText(int firmwareVersion);
    void setFrameRateLists(const QList<int> &low, const QList<int> &high);

private:
    // The stored row with every column the model does not allow set to the
    // model's default; the names of those columns are added to `ignored`.
    CameraRow allowedRow(const CameraRow &stored, QStringList &ignored) const;

    std::atomic<int> continuations_{0};
    mutable QMutex storedRowMutex_;
    StoredRowReport storedRow_;
    mutable QMutex frameRatesMutex_;
    QList<int> lowResFrameRates_;
    QList<int> highResFrameRates_;
};
