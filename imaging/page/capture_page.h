// The capture page: one page of the main window's side panel, with a
// "Stitching" tab (live stitching while the specimen is moved) and an "EDF"
// tab (a focus series fused into one picture sharp everywhere). The page
// drives both runs from the GUI thread; the two workers live on the work
// thread the main window hands over, and every exchange with them and with
// the capture thread is a queued signal.
//
// A run keeps one frame in flight: the page asks the capture thread for a
// frame (getVideoFrame), the capture thread sends exactly one to both
// workers, the running worker handles it and asks for the next, and only
// then, after the run's pause, does the page ask again. The page never asks
// while a frame it asked for has not been sent. A run's worker is started
// only once every frame asked for earlier has been sent, so that such a frame
// reaches it before its start and is ignored, and the page counts the
// worker's requests only from its start on, so that a late answer of an
// earlier run can't start a second chain.
//
// One run at a time, over both tabs. A run ends when the user stops it, when
// the main window stops it (stopStitch/stopFusion), when a focus series has
// taken its last frame ("Compound complete"), when the stitching worker ends
// it (its canvas can't grow), or when the camera stops delivering frames.
// The camera's focus, exposure and white-balance modes are read when a run
// starts, and those it switched to manual are put back when it ends, on that
// camera only. Moving an end of the focus range switches the camera to manual
// focus and leaves it there: the user asked to see that focus value.
//
// The main window connects, besides what it hands over by the operations
// below: changeFocusMode and changeFocusValue to the camera settings panel's
// setFocusModeUI and setFocusValueUI, changeExposureMode and changeWbMode to
// its setExpModeUI and setWbModeUI, setModeForStitch to its own
// onSetModeForStitch, showStitchDstPix and showFusionDstPix to its
// onShowStitchDstPix and onShowFusionDstPix, and its stopStitch and
// stopFusion to onStopStitch and onStopFusion.
#pragma once

#include "camera_types.h"
#include "pic_analyse.h"
#include "picture_stitch.h"
#include "video_frame.h"

#include <QImage>
#include <QList>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QSharedPointer>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <functional>

class CameraPlayThread;

namespace Ui {
class CapturePage;
}

class CapturePage : public QTabWidget
{
    Q_OBJECT

public:
    // The camera's modes as the camera settings panel shows them (FocusMode,
    // ExposureMode, WbMode values; 0 where a mode is not known).
    struct CameraModes {
        int focus = 0;
        int exposure = 0;
        int whiteBalance = 0;
    };
    using CameraModesSource = std::function<CameraModes()>;

    // Pause between the switch to manual modes (stitching) or to manual focus
    // (focus series) and the run's first frame, and again between the move
    // to the first focus value and the first frame of a focus series.
    static constexpr int kStartPauseMs = 1000;
    // A frame asked for and not sent within this time means the camera has
    // stopped delivering: the run ends with a message.
    static constexpr int kFrameTimeoutMs = 8000;

    explicit CapturePage(QWidget *parent = nullptr);
    // Takes the workers off the work thread first when it still runs; a
    // work thread that has been told to quit must have been waited for.
    ~CapturePage() override;

    // ---- called by the main window ----

    // Keeps the thread and moves both workers onto it; null is only logged.
    void setWorkThread(QSharedPointer<QThread> thread);
    // Connects the frame requests to this capture thread and its frames to
    // the workers, dropping the connections to the previous one; null keeps
    // them. A run still going on another camera ends.
    void connectToPlayThread(CameraPlayThread *thread);
    // Enables the stitching tab and the focus-series tab; a run on a tab
    // that becomes disabled ends.
    void setTabsEnabled(bool stitch, bool fusion);
    // Range of the focus-series start and end (the camera's focus range).
    // Moves no focus: the camera keeps its mode.
    void setFocusRange(int min, int max);
    void retranslate();
    // Where the page reads the camera's modes before a run switches them to
    // manual, so that it can put them back afterwards. Without one the modes
    // stay as the run left them.
    void setCameraModesSource(CameraModesSource source);

    // Frames a focus series takes: 1 + ceil(|end - start| / interval); shown
    // in "Capture Num".
    void updateCaptureCount();

    bool isStitching() const { return run_ == Run::Stitch; }
    bool isFusing() const { return run_ == Run::Fusion; }
    int captureCount() const { return count_; }

    // For tests: the start pauses, and the time a frame may take.
    void setStartPause(int milliseconds) { startPauseMs_ = milliseconds; }
    void setFrameTimeout(int milliseconds);
    PictureStitch &stitchWorker() { return stitch_; }
    PicAnalyse &fusionWorker() { return analyse_; }

signals:
    void startStitch();
    void stopStitch();
    void getVideoFrame();
    void startFusion();
    void stopFusion();
    void changeFocusMode(FocusMode mode);
    void changeFocusValue(int value);
    void showFusionDstPix(QPixmap pix, bool newWindow);
    // A stitched picture holds the pixels of frames `frameWidth` wide.
    void showStitchDstPix(QPixmap pix, bool newWindow, int frameWidth);
    void setModeForStitch(bool start);
    // Put the camera's exposure and white-balance modes back after a run.
    void changeExposureMode(ExposureMode mode);
    void changeWbMode(WbMode mode);

public slots:
    void onStopStitch();
    void onStopFusion();
    void onGetNextVideoFrameForStitch();
    void onGetNextVideoFrameForFusion();
    // The workers' pictures; made into pixmaps here, on the GUI thread.
    void onShowStitchDstPix(QImage pix, int frameWidth);
    void onShowFusionDstPix(QImage pix);
    void on_stitchSpeed_horizontalSlider_valueChanged(int value);
    void on_startStitching_btn_clicked();
    void on_stopStitching_btn_clicked();
    void on_fusionStartPos_horizontalSlider_valueChanged(int value);
    void on_fusionEndPos_horizontalSlider_valueChanged(int value);
    void on_capInterval_spinBox_valueChanged(int arg1);
    void on_startFusion_btn_clicked();
    void on_fusionRest_btn_clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class Run { None, Stitch, Fusion };
    enum class Ending { Stopped, Completed, CameraLost, WorkerEnded };

    void moveWorkersTo(QThread *thread);
    void setFusionRunning(bool on);
    // An end of the focus range moved: the camera shows the picture there.
    void rangeEndMoved(bool end, int value);
    void updateRunControls();
    void endRun(Ending ending, const QString &message = QString());
    void showMessage(bool warning, const QString &text);

    // ---- the frame chain ----
    // Runs `step` after `milliseconds`, unless the run ends first.
    void after(int milliseconds, std::function<void()> step);
    // Starts the run's worker once every frame asked for earlier has been
    // sent; a round trip through the work thread then marks the point after
    // which the worker's requests belong to this run.
    void startWorker();
    void onWorkerSynced(quint64 run);
    // Asks for the next frame as soon as the worker is in step and no frame
    // asked for is still unsent.
    void requestFrame();
    void tryRequest();
    void onFrameSent();
    void onFrameTimeout();
    // A worker asked for its next frame: true when it answers this run's frame.
    bool takeReply(Run run);

    // ---- camera modes ----
    // Reads the modes a run is about to switch to manual: the focus mode,
    // and for stitching also the exposure and white-balance modes.
    void takeCameraModes(bool stitching);
    void restoreCameraModes();

    Ui::CapturePage *ui;
    int stitchDelay_ = 20;
    bool stitchNewWindow_ = true;
    // Focus series.
    int position_ = 0;
    int end_ = 0;
    int step_ = 0;
    int wait_ = 0;
    int index_ = 0;
    int count_ = 0;
    bool endMovedLast_ = false;
    bool running_ = false;
    bool fusionNewWindow_ = false;

    QSharedPointer<QThread> workThread_;
    PictureStitch stitch_;
    PicAnalyse analyse_;
    QList<QMetaObject::Connection> playThreadConnections_;
    QPointer<CameraPlayThread> playThread_;

    Run run_ = Run::None;
    quint64 runId_ = 0;          // counts runs; late steps of an ended run are dropped
    bool workerInStep_ = false;  // the worker's requests count for this run
    bool startPending_ = false;  // the worker's start waits for unsent frames
    bool wantFrame_ = false;     // the run asks for a frame as soon as it may
    bool awaitingReply_ = false; // a frame was asked for and its worker hasn't asked again
    quint64 framesAsked_ = 0;    // frames asked of the current capture thread
    quint64 framesSent_ = 0;     // frames it has sent
    QTimer stepTimer_;
    std::function<void()> pendingStep_;
    QTimer frameTimer_;
    int startPauseMs_ = kStartPauseMs;

    CameraModesSource modesSource_;
    CameraModes takenModes_;  // modes a run switched to manual, to put back (0: none)
    QPointer<CameraPlayThread> runThread_;  // the capture thread of the camera the run switched
};
