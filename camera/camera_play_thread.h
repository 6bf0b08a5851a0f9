// The capture thread of one open camera: opens the camera, reads frames as
// fast as it delivers them, keeps the latest one, reports frame rate, size and
// format once a second, and hands frames to the view, to the recorder and to
// image-analysis workers that ask for one. It closes the camera when reading
// keeps failing. The object itself lives on the GUI thread; only `run`
// executes on the capture thread.
//
// Frames reach the view through one pending slot and at most one queued
// notification: a GUI thread that falls behind gets the newest frame, never a
// growing queue of old ones.
#pragma once

#include "base_camera.h"
#include "camera_types.h"
#include "draw_type.h"
#include "image_process.h"
#include "video_frame.h"

#include <QMutex>
#include <QPixmap>
#include <QPointF>
#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>

class VideoRecorder;

class CameraPlayThread : public QThread
{
    Q_OBJECT

public:
    // Failed reads in a row that are still tolerated; the next one closes the
    // camera as disconnected.
    static constexpr int kMaxFailedReads = 300;
    // Pause after every pass of the read loop, in milliseconds.
    static constexpr int kPassPauseMs = 10;

    explicit CameraPlayThread(QObject *parent = nullptr);
    // Stops the loop if it still runs and hands the recorder over to
    // FinishingRecorders: a recording still running is finished on the
    // recorder's own thread, and this returns without waiting for it.
    ~CameraPlayThread() override;

    // Keeps the camera and takes its open settings; the size and frame rate
    // (network: also bit rate; USB: also stream format) become the capture
    // settings. A null camera is only logged.
    void setCaptureCamera(const QSharedPointer<BaseCamera> &camera);
    QSharedPointer<BaseCamera> captureCamera() const;
    // Queries the camera into a new record `params` and derives the capture and
    // open settings from it. Without `force` it refuses while no frame has
    // arrived since the last settings change.
    bool loadCameraParameters(QSharedPointer<CameraParameters> &params, bool force);
    // New stream settings; the loop reopens the camera in its next pass. A USB
    // camera ignores settings equal to the current ones.
    void setCaptureSettings(const CaptureSettings &settings);
    CaptureSettings captureSettings() const;
    CameraOpenSettings openSettings() const;

    // The latest frame (empty before the first); the picture form is null then.
    VideoFrame latestFrame() const;
    QPixmap latestPixmap() const;

    // The loop runs while set; the loop clears it when it gives up.
    void setRunFlag(bool run) { runFlag_.store(run); }
    bool runFlag() const { return runFlag_.load(); }
    // The once-a-second report is emitted only while set.
    void setReportFlag(bool report) { reportFlag_.store(report); }
    bool reportFlag() const { return reportFlag_.load(); }
    // Set by every frame, cleared when a settings change begins.
    void setStreamOn(bool on) { streamOn_.store(on); }
    bool isStreamOn() const { return streamOn_.load(); }
    // Whether the last read brought no frame.
    bool isReadFailed() const { return readFailed_.load(); }

    // Passed with every frame in putVideoFrame.
    void setCameraIndex(int index) { cameraIndex_.store(index); }
    int cameraIndex() const { return cameraIndex_.load(); }
    // The camera's unique name and name as the main window keeps them.
    void setUniqueName(const QString &name);
    QString uniqueName() const;
    void setCameraName(const QString &name);
    QString cameraName() const;

    QPointF lastEdgePoint() const;
    bool isRecording() const { return recording_.load(); }
    // Lives on the recorder thread. Its reports (recordingFinished,
    // recordingFailed) come from the recorder itself, so that a recording
    // finished after this object is gone still reaches whoever listens; the
    // recorder lives until its file is finished.
    VideoRecorder *recorder() const { return recorder_; }

    // Frames read since the loop started.
    qint64 receivedFrameCount() const { return receivedFrames_.load(); }
    // Frames the view never got because a newer one replaced them first.
    qint64 replacedDisplayFrameCount() const { return replacedDisplayFrames_.load(); }

signals:
    // Once per onGetVideoFrame request, with the next frame read.
    void sendVideoFrame(VideoFrame frame);
    // The newest frame, on this object's thread.
    void putVideoFrame(VideoFrame frame, int camIndex);
    void CameraCloseForReason(QString cameraName, CameraCloseReason reason);
    void sendEdgepos(QPointF point);
    void sendFps(QString fps);
    void resolutionChange(QString resolution);
    void formatChanged(QString format);
    void recorderLackOfFreeSpace();
    void startRecording();
    void stopRecording();
    // True before a reopen for new settings, false after it.
    void captureSettingsChanged(bool flag);

public slots:
    void onGetVideoFrame();
    // Snaps the click (x, y) in the live picture area to the nearest edge of
    // the next frame; the answer comes by sendEdgepos.
    void onMouseClik(int x, int y, DrawType type);
    // 1 starts a recording into `path`, 2 stops it; other values do nothing.
    void handRecord(int opt, QString path);
    void onRecorderlackOfFreeSpace();

protected:
    void run() override;

private:
    void handOverToView(const VideoFrame &frame);
    void deliverPendingFrame();
    void answerEdgeRequest(const VideoFrame &frame);
    void report();

    std::atomic<bool> runFlag_{false};
    std::atomic<bool> reportFlag_{false};
    std::atomic<bool> streamOn_{false};
    std::atomic<bool> readFailed_{false};
    std::atomic<bool> frameRequested_{false};
    std::atomic<bool> recording_{false};
    std::atomic<bool> settingsChanged_{false};
    std::atomic<int> cameraIndex_{0};
    std::atomic<qint64> receivedFrames_{0};
    std::atomic<qint64> replacedDisplayFrames_{0};

    // Camera, capture and open settings and the name texts (GUI and capture thread).
    mutable QMutex settingsMutex_;
    QSharedPointer<BaseCamera> camera_;
    CaptureSettings captureSettings_;
    CameraOpenSettings openSettings_;
    QString uniqueName_;
    QString cameraName_;

    mutable QMutex frameMutex_;
    VideoFrame latestFrame_;

    // The frame waiting for the view and whether its notification is queued.
    QMutex displayMutex_;
    VideoFrame pendingDisplayFrame_;
    bool displayQueued_ = false;

    // The pending edge request, with the picture-area size of its click.
    mutable QMutex edgeMutex_;
    EdgeRequest edgeRequest_;
    bool edgeRequested_ = false;
    QPointF lastEdgePoint_;
    ImageProcess imageProcess_;

    // Both outlive this object while a recording finishes (FinishingRecorders).
    QThread *recorderThread_ = nullptr;
    VideoRecorder *recorder_ = nullptr;
};

// The main window's record of a still capture at another resolution: the
// settings asked for, the picture size expected and three flags. GUI thread only.
class StillCaptureState
{
public:
    CaptureSettings settings;
    QSize expectedSize;

    bool isPending() const { return pending_; }
    bool isFrameTaken() const { return frameTaken_; }
    bool isSwitched() const { return switched_; }
    void setPending(bool pending) { pending_ = pending; }
    void setFrameTaken(bool taken) { frameTaken_ = taken; }
    void setSwitched(bool switched) { switched_ = switched; }
    // Pending set, frame taken cleared.
    void arm();
    // Keeps the event loop running in 10 ms steps, at most 501 of them, until
    // the capture is no longer pending and its frame is taken, then 300 ms
    // more so the view settles. True when the capture finished in time.
    bool waitDone();

private:
    bool pending_ = false;
    bool frameTaken_ = false;
    bool switched_ = false;
};

