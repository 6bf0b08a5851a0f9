// The application's one top-level window: the left pages (camera settings,
// capture, measuring, annotation) with the snapshot, time-lapse and record
// buttons below them, the top tool bar, the view tabs (tab 0 is the live
// camera, the others pictures) and the status bar.
//
// It is the hub of the program: it polls for devices and hands the list to
// the camera settings page, brings the chosen camera up (camera object on the
// control thread, one capture thread) and tears it down, routes frames to the
// live view, runs the picture, time-lapse and recording commands, and passes
// every drawing mode, drawing property, unit and calibration from the panels
// to every open view. Panels never call a view themselves.
//
// Threads: the camera object lives on the control thread; each open camera
// has its capture thread; the capture page's workers run on the work thread;
// device polling runs on a thread of its own. None of them is ever
// terminated: a thread is asked to stop and waited for, and a wait that
// outlasts the device library's 6000 ms time-out only leaves the thread to
// finish on its own.
#pragma once

#include "camera.h"
#include "device_poll.h"
#include "frameless_main_window.h"
#include "settings_store.h"
#include "time_lapse.h"

#include <QMap>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <optional>

class BurstModeSettings;
class CamSettings;
class CapturePage;
class LabelWidget;
class MeasureWidget;
class PhotoSettings;
class QButtonGroup;
class QThread;
class VideoWidget;
class WaitDialog;

namespace Ui {
class MainWindow2;
}

class MainWindow2 : public FramelessMainWindow
{
    Q_OBJECT

public:
    // How long a thread asked to stop may take before the window stops
    // waiting for it: above the device library's 6000 ms reply time-out, so
    // a thread inside a library call still gets its answer or time-out.
    static constexpr int kThreadStopWaitMs = 10000;
    // How often the device list is polled.
    static constexpr int kDevicePollIntervalMs = 2000;
    // How long after the first frame shown the message boxes are built ahead.
    static constexpr int kWarmMessagesDelayMs = 500;

    explicit MainWindow2(QWidget *parent = nullptr);
    ~MainWindow2() override;

    // Parts, for tests and benchmarks.
    VideoWidget *liveView() const { return liveView_; }
    CamSettings *cameraSettings() const { return camSettings; }
    CapturePage *capturePanel() const { return capturePage; }
    MeasureWidget *measurePanel() const { return measurePage; }
    LabelWidget *labelPanel() const { return labelPage; }
    PhotoSettings *photoSettingsDialog() const { return photoSettings; }
    QSharedPointer<CameraPlayThread> playThread() const { return playThread_; }
    QSharedPointer<BaseCamera> camera() const { return camera_; }
    QThread *controlThread() const { return controlThread_; }
    QThread *workThread() const { return workThread_.data(); }
    QThread *devicePollThread() const { return pollThread_; }
    BurstModeSettings *burstModeDialog() const { return burstModeSettings; }
    QMap<int, QVariant> drawPropertyMap() const { return drawProperties; }
    int currentDrawType() const { return drawType; }
    int currentUnit() const { return unitCode; }
    double currentCalibration() const { return calibration; }
    bool isTimeLapseRunning() const { return burstTimer.isActive(); }
    bool isSnapshotInProgress() const { return snapshotInProgress; }
    // The outcome of the last Snap: the path written, or empty.
    QString lastSnapshotPath() const { return lastSnapshot; }

signals:
    void detect(QMap<QString, QPair<CameraType, QString>> cameraNames);
    void changeDeviceStateForClose(QString uniqueName);
    void signalClearDrawType();
    void stopStitch();
    void stopFusion();
    void increaseOrDecreaseFoucs(bool increase);
    void increaseOrDecreaseZoom(bool increase);

public slots:
    void on_device_tBtn_clicked();
    void on_capture_tBtn_clicked();
    void on_mesure_tBtn_clicked();
    void on_label_tBtn_clicked();
    void on_video_tabWidget_tabCloseRequested(int index);
    void on_video_tabWidget_currentChanged(int index);
    void slotEdgeEnable(bool enabled);
    void slotSetDrawMode(DrawType type);
    void slotEnableGridlines(DrawType type, int hLine, int vLine, bool enable);
    void slotExportData();
    void caliOver(double pixels);
    void clearDrawType();
    void slotUnitChange(QString text);
    // Micrometres per pixel of pictures `pictureWidth` pixels wide (0: of the
    // live picture's width now).
    void calibrateChange(double value, int pictureWidth = 0);
    void on_hand_btn_clicked();
    void DrawChange(DrawProperty id, QVariant value);
    void ltextEdit();
    void modified(VideoWidget *view);
    void drawPropertyChanged(void *item);
    void crossStatusChanged(void *item);
    void onCrossChangedTimeOut();
    void wheelChanged(bool isAdd);
    void onChangeMouseWheelFunc(KeyFunction function);
    void slotDetectTimeout();
    void cameraClose(QString cameraName, CameraCloseReason reason);
    void getVideoFrame(VideoFrame frame, int camIndex);
    void cameraChange(QString friendlyName, QString uniqueName);
    void stopRecording();
    void changeVideoScaleValue(double bestScale, double prevScale, bool isManual);
    // A stitched picture holds the pixels of frames `frameWidth` wide.
    void onShowStitchDstPix(QPixmap pix, bool newWindow, int frameWidth);
    void onShowFusionDstPix(QPixmap pix, bool newWindow);
    void onSetModeForStitch(bool start);
    void on_record_btn_toggled(bool on);
    void on_cPhotos_btn_toggled(bool on);
    void on_photo_btn_clicked();
    void on_openPic_btn_clicked();
    void on_savePic_btn_clicked();
    void on_zoomSub_btn_clicked();
    void on_zoomAdd_btn_clicked();
    void on_comboBox_currentIndexChanged(int index);
    void on_comboBox_currentTextChanged(QString text);
    void on_fullScreen_btn_toggled(bool on);
    void on_track_btn_clicked();
    void on_AF_btn_clicked(bool on);
    void slotLanguageChange(MyLanguage language);
    void on_burstModeSettings_btn_clicked();
    void on_photoSettings_btn_clicked();
    void on_splitter_splitterMoved(int pos, int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Asks before pictures with unsaved changes go with the window; the
    // windows left open go with it.
    void closeEvent(QCloseEvent *event) override;

private:
    // ---- construction and pages
    void connectPanelSignals();
    void registerMainMetaTypes();
    void attachVideoWidget(VideoWidget *view, QString title, bool existing);
    // One message at start for every stored file that is not used as it is;
    // `database` is the camera database's line (may be empty).
    void reportStoredFiles(const QString &database);
    // Once per camera and run: the camera's stored row held values it does
    // not allow or could not be read, and its model's defaults are used.
    void reportStoredCameraRow();
    QList<VideoWidget *> views() const;
    VideoWidget *currentView() const;
    bool isPictureTab(QWidget *widget) const;
    void stopThreadsForShutdown();

    // ---- devices and cameras
    void onDevicesPolled(const DeviceMap &devices);
    void openUvcCamera(const QString &friendlyName, const QString &uniqueName);
    void openNetCamera(const QString &friendlyName, const QString &uniqueName);
    // Makes a new capture thread for the camera `uniqueName` and wires it.
    void prepareCaptureThread(const QString &uniqueName);
    // Puts the camera on the control thread, reads its parameters there and,
    // once they are back, fills the panels and starts the capture thread.
    // The live tab's title: a text of the program's own, translated anew
    // after a language switch, or a device's own name, shown as it is.
    struct LiveTabTitle {
        QString text;
        bool translated = true;
    };
    void startCapture(const QString &uniqueName, const LiveTabTitle &title);
    void onCameraParametersLoaded(const QSharedPointer<CameraParameters> &params, const LiveTabTitle &title);
    void showLiveTabTitle();
    void wireCaptureThread();
    void retireCaptureThread();
    void onRetiredThreadFinished();
    void openPendingCamera();
    // `detail` is added below the reason's text.
    void showCloseMessage(int reason, const QString &detail = QString());

    // ---- pictures, recording, time lapse
    bool takeSnapshot();
    void snapshotToNewTab();
    bool savePicture();
    void restorePreviewResolution();
    QString buildSnapshotPath();
    bool askSnapshotPath(QString &path, QString &name);
    QString pictureDialogFolder() const;
    void onRecordingFailed(const QString &message);
    void onRecordingFinished(const QString &path, bool ok);
    void setRecordButton(bool on);
    void continuousShootingTick();
    void stopTimeLapse();
    // Ends a running series whose camera has gone or whose shot failed,
    // without a message of its own: the cause's message carries the returned
    // line (empty when no series ran).
    QString endTimeLapseForFailure();

    // ---- drawing and zoom
    // The calibration as it holds for the picture the view shows.
    double viewCalibration(const VideoWidget *view) const;
    void setLiveFrameWidth(int width);
    void setZoomItems(const QList<double> &levels, double current);

    // ---- messages (no parent, as every message of the window)
    // A warning about a shot of a time-lapse series ends the series.
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text,
                     const QString &detail = QString());
    void warmMessageBoxes(int step = 0);
    static bool askYesNo(const QString &title, const QString &text);

    Ui::MainWindow2 *ui;
    QSharedPointer<BaseCamera> camera_;
    QStringList storedRowsReported;  // keys of the cameras whose stored row the user was told of
    // The camera brought up last, as the device list names it.
    QString cameraDisplayName;
    QSharedPointer<QThread> workThread_;
    QSharedPointer<CameraPlayThread> playThread_;
    QThread *controlThread_ = nullptr;
    VideoWidget *liveView_ = nullptr;
    QPointer<VideoWidget> stitchView;
    QPointer<VideoWidget> fusionView;
    WaitDialog *waitDialog = nullptr;
    BurstModeSettings *burstModeSettings = nullptr;
    PhotoSettings *photoSettings = nullptr;

    // The pages of the stacked widget.
    CamSettings *camSettings = nullptr;
    CapturePage *capturePage = nullptr;
    MeasureWidget *measurePage = nullptr;
    LabelWidget *labelPage = nullptr;
    QButtonGroup *pageButtons = nullptr;
    QButtonGroup *modeButtons = nullptr;

    int drawType = DrawType::Hand;
    QMap<int, QVariant> drawProperties;
    bool crossChanged = false;
    bool manualZoom = false;
    double zoomFactor = 1.0;
    KeyFunction wheelFunction = KeyFunction::ZoomVideoWindow;
    QTimer burstTimer;
    QMetaObject::Connection burstTick;
    std::optional<TimeLapseSchedule> timeLapse;
    QString openedImageFolder;
    StillCaptureState stillCapture;
    // Micrometres per pixel of a picture `calibrationWidth` pixels wide (0:
    // not known yet); the live picture is `liveFrameWidth` wide.
    double calibration = 1.0;
    int calibrationWidth = 0;
    int liveFrameWidth = 0;
    int unitCode = 1;
    int splitterLeft = 460;
    LiveTabTitle liveTabTitle{QStringLiteral("Camera"), true};

    // Device polling on its own thread; one poll at a time.
    QThread *pollThread_ = nullptr;
    DevicePoller *poller = nullptr;
    bool pollBusy = false;
    QTimer *detectTimer = nullptr;

    // Capture threads asked to stop that have not finished yet, and a camera
    // chosen meanwhile, opened once they have.
    QList<QSharedPointer<CameraPlayThread>> retiringThreads;
    struct PendingOpen {
        QString friendlyName;
        QString uniqueName;
    };
    std::optional<PendingOpen> pendingOpen;
    // Counts bring-ups: an answer from the control thread (a network login,
    // the camera's parameters) that arrives after the camera was closed or
    // replaced belongs to an older one and is dropped.
    quint64 bringUp = 0;
    // The camera last lost by disconnection, while every device list since
    // has named it and until the next camera is chosen; whether the camera
    // being brought up is that one again.
    QString lostCamera;
    bool reopeningLostCamera = false;
    QTimer pendingOpenTimer;
    QList<QMetaObject::Connection> focusRegionConnections;
    QList<QMetaObject::Connection> edgeConnections;
    // Receives the current capture thread's frames and reports (on this
    // thread); a new one for every capture thread.
    QObject *captureReceiver = nullptr;

    // The message boxes are built once ahead, after the first frame shown.
    bool messageBoxesWarmed = false;

    // Snap.
    bool snapshotInProgress = false;
    QString lastSnapshot;

    // Recording: its file, and whether the stop that un-checks the record
    // button says why itself.
    QString recordingPath;
    bool quietRecordStop = false;
    bool recordingFailureShown = false;
    // Where each recorder was asked to record, until it reports the end: a
    // file renamed while it records (or its folder) is finished where it is.
    QHash<const QObject *, QString> recordingsAskedFor;
};
