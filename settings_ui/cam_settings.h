// The camera settings panel: the device list with its open/close switch, the
// binding to the open camera, and every camera control on two tabs.
//
// The panel never calls the camera for control work: each request leaves as
// one of the setCamera/getCamera signals, connected to the camera's onSet/onGet
// slots, and each answer comes back from the camera's send signals to an
// onRecvCamera slot. The camera lives on the main window's control thread, so
// both ways are queued. Every change the user makes is sent to the camera and
// written into the camera's row of the camera database at once; values the
// camera reports move the widgets and are stored, but never sent back. A row
// that held values the camera does not allow is left as it is until the user
// changes a setting, which then writes the whole row with valid values.
//
// The main window connects: its detect to detectDevices, its
// changeDeviceStateForClose to deviceClosed, openCam to its cameraChange,
// closeCam to its cameraClose, the capture thread's CameraCloseForReason to
// closeCameraForReason, focusRegionChanged and setFocusRegionUI to the live
// view (and the view's blinkArea to onSetFocusRegion), and its mouse-wheel
// steps to onIncreaseOrDecreaseFoucs and onIncreaseOrDecreaseZoom.
#pragma once

#include "camera.h"

#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QSharedPointer>
#include <QTabWidget>

#include <functional>
#include <optional>

class FirmwareUpgrade;
class IpSetting;
class ProduceTestDialog;
class QAbstractSlider;
class QAbstractSpinBox;
class QSize;
class UnlockAdvancedSettings;
struct UpgradeTarget;

namespace Ui {
class CamSettings;
}

class CamSettings : public QTabWidget
{
    Q_OBJECT

public:
    // Builds the camera object for a device name (the camera subsystem's
    // createCamera unless a caller gives another).
    using CameraFactory = std::function<QSharedPointer<BaseCamera>(const QString &name)>;

    explicit CamSettings(QWidget *parent = nullptr);
    ~CamSettings() override;

    // ---- camera bring-up and close, called by the main window ----

    // Creates the camera of the chosen device through the model factory (a
    // network camera is asked for its model first), binds the panel to it and
    // hands it its open settings and the panel. Null for a model the factory
    // does not know; nothing is bound then.
    QSharedPointer<BaseCamera> createCamera(const CameraOpenSettings &settings);
    // Binds the panel to a camera made and logged in elsewhere (a network
    // camera brought up on the control thread); null unbinds.
    void bindCamera(const QSharedPointer<BaseCamera> &camera, const CameraOpenSettings &settings);
    // Keeps the capture thread (releasing the previous one) and gives it the
    // bound camera. Null is accepted.
    void setPlayThread(const QSharedPointer<CameraPlayThread> &thread);
    // Shows the controls the camera supports, filled from its parameter
    // record, then lets the camera (on its own thread) take the record and
    // push it to the device.
    void refreshFromCameraInfo(const QSharedPointer<CameraParameters> &params);
    // The look without a camera: only the device list and its switch.
    void resetControlsForNoCamera();
    // Preview resolution, frame rate and format stay fixed while recording.
    void setCaptureFormatEnabled(bool enabled);
    // The picture resolution's width and height (0 for a missing part).
    void getPhotoResolution(QSize *size) const;
    // The capture settings chosen in the panel.
    CaptureSettings getVideoProperty() const;
    // When the picture and preview resolutions differ: fills `out` with the
    // capture settings (at the picture size when `usePicture` is set), hands
    // them to the capture thread and returns true.
    bool isPhotoResolutionDifferent(bool usePicture, CaptureSettings &out);
    // Around drawing modes: manual focus without focus frame or click focus
    // while a drawing mode is on, and the user's choice back afterwards. The
    // lens stays where it is, and the stored focus mode and value stay the
    // user's.
    void saveFocusRegionState();
    void restoreFocusRegionState();
    void retranslate();
    // Selects `fps` in the frame-rate list when it is offered and enabled,
    // else the largest enabled rate not above it, else the first enabled one.
    void setCurFps(int fps, bool blockSignals);
    // The modes the panel shows: FocusMode, ExposureMode and WbMode values,
    // 0 when none of a group's buttons is checked. The capture page reads
    // them before a run switches them to manual, to put them back after it.
    int focusModeUI() const;
    int expModeUI() const;
    int wbModeUI() const;

    // A board in firmware-upgrade mode is listed or on the USB bus.
    bool hasUsbUpgradeDevice() const;
    FirmwareUpgrade &firmwareUpgrade() { return *upgrade_; }
    UnlockAdvancedSettings *unlockDialog() const { return unlockDialog_; }
    bool isAdvancedUnlocked() const { return advancedUnlocked_; }
    // Null until the factory access code first asked for it.
    ProduceTestDialog *produceTestDialog() const { return produceTestDialog_; }

    void setCameraFactory(CameraFactory factory);
    QSharedPointer<BaseCamera> camera() const { return camera_; }
    QSharedPointer<CameraPlayThread> playThread() const { return playThread_; }

signals:
    // ---- towards the main window and the live view ----
    void openCam(QString friendlyName, QString uniqueName);
    void closeCam(QString uniqueName, CameraCloseReason reason);
    void focusRegionChanged(bool clickFocus, bool isBig, bool showRect, bool init);
    void setFocusRegionUI(int x, int y);
    void signalSetPicScale(int scale);

    // ---- towards the bound camera ----
    void setCameraFocusMode(FocusMode mode);
    void setCameraFocusValue(int value);
    void setCameraFocusAdd();
    void setCameraFocusSub();
    void setCameraFocusOnce();
    void setCameraExpMode(ExposureMode mode);
    void setCameraExpCompValue(int value);
    void setCameraExpGainValue(int value);
    void setCameraExpTime(int time);
    void saveCameraConfig();
    void setCameraIp(IpInfo info);
    void upgradeCamera(QString filePath);
    void setCameraFocusRegionStatus(bool enable);
    void setCameraFocusRegion(int x, int y);
    void setCameraFlickStatus(bool enable);
    void setCameraMotorCenter();
    void setCameraWbMode(WbMode mode);
    void setCameraWbRedValue(int value);
    void setCameraWbGreenValue(int value);
    void setCameraWbBlueValue(int value);
    void setCameraMirrorStatus(bool enable);
    void setCameraFlipStatus(bool enable);
    void setCameraHueValue(int value);
    void setCameraSaturationValue(int value);
    void setCameraContrastValue(int value);
    void setCameraSharpnessValue(int value);
    void setCameraDZoomValue(int value);
    void setCameraZoomValue(int value);
    void setCameraDefogStatus(bool enable);
    void setCameraMonoChromeStatus(bool enable);
    void setCameraGammaValue(int value);
    void resetCamera();
    void setCameraWhiteBalanceOnce();
    void setCameraDisplayMode(DisplayMode mode);
    void resetCameraBasicSettings();
    void resetCameraAdvancedSettings();
    void getCameraFocusMode();
    void getCameraFocusValue();
    void getCameraExpMode();
    void getCameraExpCompValue();
    void getCameraExpGainValue();
    void getCameraExpTime();
    void getCameraIpInfo();
    void getCameraUpgradeStatus();
    void getCameraFocusRegion();
    void getCameraFocusRegionStatus();  // not connected: no camera answers it
    void getCameraWbMode();
    void getCameraWbRedValue();
    void getCameraWbGreenValue();
    void getCameraWbBlueValue();
    void getCameraMirrorStatus();
    void getCameraFlipStatus();
    void getCameraHueValue();
    void getCameraSaturationValue();
    void getCameraContrastValue();
    void getCameraSharpnessValue();
    void getCameraDZoomValue();
    void getCameraZoomValue();
    void getCameraDefogStatus();
    void getCameraGammaValue();
    void getCameraMonoChromeStatus();
    void getCameraFlickStatus();
    void getCameraDisplayMode();

public slots:
    // Every device poll: unique name -> (type, display name). Opens a single
    // camera, or one lost by disconnection, by itself.
    void detectDevices(QMap<QString, QPair<CameraType, QString>> cameraNames);
    // Bringing the device up failed: it is no longer open.
    void deviceClosed(QString uniqueName);
    // The camera was closed (by its capture thread, or by the user through the
    // switch): releases it, resets the controls and emits closeCam.
    void closeCameraForReason(QString cameraName, CameraCloseReason reason);

    // Firmware upgrade of the package at `filePath`: the open network camera
    // upgrades itself, a USB board in upgrade mode gets it over USB.
    void doUpgrade(QString filePath);
    // The factory access code was entered: the production-test window for
    // the bound camera.
    void onShowProduceTestDialog();
    // A click on a tab, before the tab changes: the advanced tab asks for the
    // administrator password until it has been given once.
    void onTabWidgetClicked(int index);

    // Stitching and the capture page: check a mode's radio button as a user would.
    void setExpModeUI(int mode);
    void setFocusModeUI(int mode);
    void setWbModeUI(int mode);
    void setFocusValueUI(int value);

    // A click on the live picture in click-focus mode.
    void onSetFocusRegion(int x, int y);
    // Mouse-wheel steps over the live view.
    void onIncreaseOrDecreaseFoucs(bool increase);
    void onIncreaseOrDecreaseZoom(bool increase);

    // ---- notifications of the bound camera ----
    void onRecvCameraFocusMode(FocusMode mode);
    void onRecvCameraFocusValue(int value);
    void onRecvCameraExpMode(ExposureMode mode);
    void onRecvCameraExpCompValue(int value);
    void onRecvCameraExpGainValue(int value);
    void onRecvCameraExpTime(int time);
    void onRecvCameraIpInfo(IpInfo info);
    void onRecvCameraUpgradeStatus(QString status, double percentage);
    void onRecvCameraFocusRegionStatus(bool enable);
    void onRecvCameraFocusRegion(int x, int y);
    void onRecvCameraWbMode(WbMode mode);
    void onRecvCameraWbRedValue(int value);
    void onRecvCameraWbGreenValue(int value);
    void onRecvCameraWbBlueValue(int value);
    void onRecvCameraMirrorStatus(bool enable);
    void onRecvCameraFlipStatus(bool enable);
    void onRecvCameraHueValue(int value);
    void onRecvCameraSaturationValue(int value);
    void onRecvCameraContrastValue(int value);
    void onRecvCameraSharpnessValue(int value);
    void onRecvCameraDZoomValue(int value);
    void onRecvCameraZoomValue(int value);
    void onRecvCameraDefogStatus(bool enable);
    void onRecvCameraGammaValue(int value);
    void onRecvCameraMonoChromeStatus(bool enable);
    void onRecvCameraFlickStatus(bool enable);
    void onRecvCameraDisplayMode(DisplayMode mode);

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_cameraSwitch_btn_clicked();
    void on_camera_comboBox_currentIndexChanged(int index);
    void on_focus_tBtn_clicked();
    void on_exp_tBtn_clicked();
    void on_wB_tBtn_clicked();
    void on_func_tBtn_clicked();
    void on_cameraUpgrade_btn_clicked();
    void on_CamSettings_currentChanged(int index);

    void on_focusAuto_rBtn_toggled(bool checked);
    void on_focusManual_rBtn_toggled(bool checked);
    void on_focusOnce_rBtn_toggled(bool checked);
    void on_focusValue_horizontalSlider_valueChanged(int value);
    void on_focusAdd_btn_clicked();
    void on_focusSub_btn_clicked();
    void on_focusOnce_btn_clicked();
    void on_montorCenter_btn_clicked();
    void on_clickFocus_rBtn_toggled(bool checked);
    void on_showFocusFrame_rBtn_toggled(bool checked);

    void on_expAuto_rBtn_toggled(bool checked);
    void on_expManual_rBtn_toggled(bool checked);
    void on_brightness_horizontalSlider_valueChanged(int value);
    void on_shutter_horizontalSlider_valueChanged(int value);
    void on_gain_horizontalSlider_valueChanged(int value);

    void on_wBAuto_rBtn_toggled(bool checked);
    void on_wBManual_rBtn_toggled(bool checked);
    void on_wBRed_horizontalSlider_valueChanged(int value);
    void on_wBGreen_horizontalSlider_valueChanged(int value);
    void on_wBBlue_horizontalSlider_valueChanged(int value);
    void on_wBOnce_btn_clicked();

    void on_hue_horizontalSlider_valueChanged(int value);
    void on_saturation_horizontalSlider_valueChanged(int value);
    void on_contrast_horizontalSlider_valueChanged(int value);
    void on_sharpness_horizontalSlider_valueChanged(int value);
    void on_gamma_horizontalSlider_valueChanged(int value);
    void on_colorModeRGB_rBtn_toggled(bool checked);
    void on_colorModeMono_rBtn_toggled(bool checked);
    void on_zoom_horizontalSlider_valueChanged(int value);
    void on_zoom_spinBox_valueChanged(double value);
    void on_digitalZoom_horizontalSlider_valueChanged(int value);
    void on_digitalZoom_spinBox_valueChanged(double value);
    void on_horizontalFlip_rBtn_toggled(bool checked);
    void on_verticalFlip_rBtn_toggled(bool checked);
    void on_activeDefog_rBtn_toggled(bool checked);
    void on_pLF50Hz_rBtn_toggled(bool checked);
    void on_pLF60Hz_rBtn_toggled(bool checked);

    void on_format_comboBox_currentIndexChanged(int index);
    void on_previewRes_comboBox_currentTextChanged(const QString &text);
    void on_photoRes_comboBox_currentTextChanged(const QString &text);
    void on_fps_comboBox_currentTextChanged(const QString &text);

    void on_changeIP_btn_clicked();
    void on_basicSettingsAllReset_btn_clicked();
    void on_advancedSettingsAllReset_btn_clicked();

private:
    // ---- binding ----
    void connectToCamera();
    void disconnectToCamera();
    void linkSlidersToSpinBoxes();
    // The production-test window's curve buttons to the bound camera.
    void connectProduceTestDialog();
    UpgradeTarget upgradeTarget() const;

    // ---- panel state ----
    void showAllControls();
    void resetControlsToDefaults();
    void fillControlsFromParameters(const CameraParameters &params);
    bool refreshResolutionLists(int format);
    void setFpsListforCurRes(bool refill);
    void applyCaptureSettings();
    void applyFocusRule(FocusMode mode);
    void focusModeChosen(FocusMode mode);
    // A drawing mode holds manual focus that the user had not chosen.
    bool isManualFocusForced() const;

    // ---- sending and storing ----
    // A control change goes to the camera: a camera is bound and the change
    // is not a value the camera itself just reported.
    bool sendsToCamera() const { return camera_ && reportDepth_ == 0; }
    // The same for the rows that reach the camera's signals without a camera check.
    bool sendsUnchecked() const { return reportDepth_ == 0; }
    // Writes one column of the bound camera's row (nothing without a camera,
    // nor for the values of the camera's start).
    void store(const char *column, const QVariant &value);
    // A control's change goes to the camera by `signal` and into `column`.
    template <typename Value>
    void sendAndStore(void (CamSettings::*signal)(Value), const char *column, Value value);
    // Zoom and digital zoom share one stored value, their sum.
    void storeZoom();

    // While it lives, the handlers treat changes as the camera's own report.
    class CameraReport
    {
    public:
        explicit CameraReport(CamSettings *panel) : panel_(panel) { ++panel_->reportDepth_; }
        ~CameraReport() { --panel_->reportDepth_; }
        CameraReport(const CameraReport &) = delete;
        CameraReport &operator=(const CameraReport &) = delete;

    private:
        CamSettings *panel_;
    };
    friend class CameraReport;

    // The (type, unique name) a device-list item carries, and the item index
    // whose data is (type, name); -1 when none.
    CameraTypeAndName itemDevice(int index) const;
    int findDeviceItem(const CameraTypeAndName &device) const;
    // The device-list entries change only with the opened flag and the switch together.
    void setOpened(bool opened);

    Ui::CamSettings *ui;
    IpSetting *ipDialog_;
    UnlockAdvancedSettings *unlockDialog_;
    bool advancedUnlocked_ = false;  // for the rest of the run once the password was given
    FirmwareUpgrade *upgrade_;
    ProduceTestDialog *produceTestDialog_ = nullptr;
    CameraFactory factory_;

    QSharedPointer<BaseCamera> camera_;
    QString cameraKey_;         // the bound camera's unique name: its row in the camera database
    QString boundDeviceName_;   // the device-list name the bound camera was opened under
    QSharedPointer<CameraPlayThread> playThread_;
    CameraOpenSettings openSettings_;
    QList<QMetaObject::Connection> connections_;

    int lowResFps_ = 60;   // last rate chosen at up to 1920x1080
    int highResFps_ = 30;  // last rate chosen above it

    bool noAutoOpen_ = false;  // the user closed a camera: a single camera no longer opens by itself
    bool opened_ = false;      // the camera selected in the device list is open
    QMap<QString, CameraTypeAndName> deviceMap_;
    QString pendingReopen_;    // lost by disconnection, reopened when seen again
    QMap<QString, CameraTypeAndName> openCameras_;  // at most one entry

    // Saved focus-radio choices around drawing modes.
    int savedFocusMode_ = 0;  // FocusMode, 0 when no mode was checked
    bool savedFocusFrame_ = false;
    bool savedClickFocus_ = false;
    int focusRegionSuspension_ = -1;  // 1 while suspended

    int reportDepth_ = 0;
    bool fillingControls_ = false;  // refreshFromCameraInfo is filling the controls
    // From the filling until the camera's reports of its own set-up are in.
    bool startingCamera_ = false;
    int startCount_ = 0;  // tells a finished start from a later one
    // The bound camera's row as it uses it, while the stored one holds values
    // it does not allow: see store().
    std::optional<CameraRow> heldRow_;
};
