#include "camera_play_thread.h"

#include "displayed_video_size.h"
#include "finishing_recorders.h"
#include "frame_convert.h"
#include "log.h"
#include "video_recorder.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>

#include <exception>

namespace {

// Models whose own record keeps what it was brought up with: W610, R480, E150, E170.
bool keepsOwnParameters(uint32_t modelId)
{
    return modelId == 0x0610 || modelId == 42112 || modelId == 0xE150 || modelId == 0xE170;
}

// The format label of the status bar; codes without one of their own read "MJPEG".
QString captureFormatText(int format)
{
    switch (format) {
    case StreamNv12:
        return QStringLiteral("NV12");
    case StreamYuy2:
        return QStringLiteral("YUY2");
    default:
        return QStringLiteral("MJPEG");
    }
}

} // namespace

CameraPlayThread::CameraPlayThread(QObject *parent) : QThread(parent)
{
    registerVideoFrameMetaType();
    registerCameraMetaTypes();
    registerDrawTypeMetaType();

    captureSettings_.fps = 60;
    captureSettings_.width = 1920;
    captureSettings_.height = 1080;
    captureSettings_.bitrate = 86000;
    captureSettings_.format = StreamMjpeg;
    captureSettings_.qualityBitrates = {{0, 51200}, {1, 86000}, {2, 100000}};

    recorderThread_ = new QThread;
    recorder_ = new VideoRecorder;
    recorder_->moveToThread(recorderThread_);
    connect(recorder_, &VideoRecorder::lackOfFreeSpace, this, &CameraPlayThread::onRecorderlackOfFreeSpace,
            Qt::QueuedConnection);
    connect(this, &CameraPlayThread::startRecording, recorder_, &VideoRecorder::start, Qt::QueuedConnection);
    connect(this, &CameraPlayThread::stopRecording, recorder_, &VideoRecorder::stop, Qt::QueuedConnection);
    recorderThread_->setObjectName(QStringLiteral("recorder"));
    recorderThread_->start(QThread::InheritPriority);
    QMetaObject::invokeMethod(recorder_, &VideoRecorder::prepare, Qt::QueuedConnection);
}

CameraPlayThread::~CameraPlayThread()
{
    // The main window stops the loop first; anyone else gets the same order
    // here, so the loop never touches the recorder or members being destroyed.
    runFlag_.store(false);
    wait();

    emit sendFps(QStringLiteral("0"));
    emit resolutionChange(QStringLiteral("0x0"));
    emit formatChanged(QString());

    recording_.store(false);
    // Finishing a file (draining the encoder, rewriting the MP4) can take
    // seconds: it happens on the recorder thread, never here.
    FinishingRecorders::adopt(recorder_, recorderThread_);
    recorder_ = nullptr;
    recorderThread_ = nullptr;
}

void CameraPlayThread::setCaptureCamera(const QSharedPointer<BaseCamera> &camera)
{
    if (!camera) {
        qDebug() << "setCaptureCamera failed!";
        return;
    }
    const CameraOpenSettings open = camera->getOpenSettings();
    QMutexLocker lock(&settingsMutex_);
    camera_ = camera;
    openSettings_ = open;
    if (open.isNetwork) {
        captureSettings_.width = open.network.width;
        captureSettings_.height = open.network.height;
        captureSettings_.fps = open.network.fps;
        captureSettings_.bitrate = open.network.bitrate;
    } else {
        captureSettings_.width = open.usb.width;
        captureSettings_.height = open.usb.height;
        captureSettings_.fps = open.usb.fps;
        captureSettings_.format = open.usb.streamFormat;
    }
}

QSharedPointer<BaseCamera> CameraPlayThread::captureCamera() const
{
    QMutexLocker lock(&settingsMutex_);
    return camera_;
}

bool CameraPlayThread::loadCameraParameters(QSharedPointer<CameraParameters> &params, bool force)
{
    if (!force && !streamOn_.load()) {
        qDebug() << "++++++++++++++++++++++++++++ is_stream_on == false";
        return false;
    }
    const QSharedPointer<BaseCamera> camera = captureCamera();
    if (!camera)
        return false;

    params = QSharedPointer<CameraParameters>::create();
    const QString name = camera->uniqueName();
    camera->queryParameters(*params);
    if (!keepsOwnParameters(params->modelId))
        camera->setParameters(*params);

    QMutexLocker lock(&settingsMutex_);
    captureSettings_.width = params->resolution.width;
    captureSettings_.height = params->resolution.height;
    if (name.contains(QLatin1String("IPC")))
        captureSettings_.fps = params->fps;
    params->bitrate = 1;
    captureSettings_.bitrate = captureSettings_.qualityBitrates.value(params->bitrate, 86000);
    captureSettings_.format = params->decodeWay;

    const Resolution size(captureSettings_.width, captureSettings_.height);
    if (openSettings_.isNetwork) {
        NetworkOpenSettings &network = openSettings_.network;
        network.bitrate = captureSettings_.bitrate;
        network.fps = captureSettings_.fps;
        network.profile = QStringLiteral("high");
        network.rateControl = QStringLiteral("cbr");
        network.gop = 90;
        network.width = size.width;
        network.height = size.height;
        network.resolutionText = size.text;
    } else {
        UsbOpenSettings &usb = openSettings_.usb;
        usb.width = size.width;
        usb.height = size.height;
        usb.resolutionText = size.text;
        usb.streamFormat = captureSettings_.format;
        usb.fps = captureSettings_.fps;
        usb.bufferSize = captureBufferSize(size.width, size.height, captureSettings_.format);
    }
    return true;
}

void CameraPlayThread::setCaptureSettings(const CaptureSettings &settings)
{
    {
        QMutexLocker lock(&settingsMutex_);
        const Resolution size(settings.width, settings.height);
        if (openSettings_.isNetwork) {
            captureSettings_ = settings;
            openSettings_.network.width = size.width;
            openSettings_.network.height = size.height;
            openSettings_.network.resolutionText = size.text;
            openSettings_.network.fps = settings.fps;
            openSettings_.network.bitrate = settings.bitrate;
        } else {
            if (settings == captureSettings_)
                return;
            captureSettings_ = settings;
            UsbOpenSettings &usb = openSettings_.usb;
            usb.width = size.width;
            usb.height = size.height;
            usb.resolutionText = size.text;
            usb.fps = settings.fps;
            usb.streamFormat = settings.format;
            // The frame buffer must fit the new size; the camera writes back
            // what the device negotiated when it opens.
            usb.bufferSize = captureBufferSize(size.width, size.height, settings.format);
        }
    }
    settingsChanged_.store(true);
}

CaptureSettings CameraPlayThread::captureSettings() const
{
    QMutexLocker lock(&settingsMutex_);
    return captureSettings_;
}

CameraOpenSettings CameraPlayThread::openSettings() const
{
    QMutexLocker lock(&settingsMutex_);
    return openSettings_;
}

VideoFrame CameraPlayThread::latestFrame() const
{
    QMutexLocker lock(&frameMutex_);
    return latestFrame_;
}

QPixmap CameraPlayThread::latestPixmap() const
{
    // Frame buffers are never written after they are made, so the conversion
    // can run on a copy taken under the lock, without holding up the loop.
    const VideoFrame frame = latestFrame();
    if (frame.size() == 0)
        return QPixmap();
    return QPixmap::fromImage(videoFrameToImage(frame));
}

void CameraPlayThread::setUniqueName(const QString &name)
{
    QMutexLocker lock(&settingsMutex_);
    uniqueName_ = name;
}

QString CameraPlayThread::uniqueName() const
{
    QMutexLocker lock(&settingsMutex_);
    return uniqueName_;
}

void CameraPlayThread::setCameraName(const QString &name)
{
    QMutexLocker lock(&settingsMutex_);
    cameraName_ = name;
}

QString CameraPlayThread::cameraName() const
{
    QMutexLocker lock(&settingsMutex_);
    return cameraName_;
}

QPointF CameraPlayThread::lastEdgePoint() const
{
    QMutexLocker lock(&edgeMutex_);
    return lastEdgePoint_;
}

void CameraPlayThread::onGetVideoFrame()
{
    frameRequested_.store(true);
}

void CameraPlayThread::onMouseClik(int x, int y, DrawType type)
{
    // The click is in the picture area as laid out now; the search scales the
    // frame to this size, so the size travels with the request. The view
    // publishes the size and emits the click on the GUI thread, and this slot
    // runs there too, so width and height always come from one layout.
    EdgeRequest request;
    request.x = x;
    request.y = y;
    request.viewWidth = displayedVideoWidth.load();
    request.viewHeight = displayedVideoHeight.load();
    request.type = type;
    QMutexLocker lock(&edgeMutex_);
    edgeRequest_ = request;
    edgeRequested_ = true;
}

void CameraPlayThread::handRecord(int opt, QString path)
{
    if (opt == 1) {
        const QSharedPointer<BaseCamera> camera = captureCamera();
        // The size the camera actually delivers: the recorder takes only
        // frames of the codec size, so a camera that negotiated another size
        // than asked would otherwise record nothing.
        QSize size;
        const VideoFrame latest = latestFrame();
        if (latest.size() != 0) {
            size = QSize(latest.width(), latest.height());
        } else {
            const CaptureSettings capture = captureSettings();
            size = QSize(capture.width, capture.height);
        }
        const int fps = camera ? camera->defaultFrameRate() : 30;
        const VideoCodecSettings settings = recordingCodecSettings(size.width(), size.height(), fps);
        qDebug() << "Start recording. Codec info: " << settings.toString();
        recorder_->setSavePath(path);
        recorder_->initEncoder(settings);
        emit startRecording();
        recording_.store(true);
    } else if (opt == 2) {
        recording_.store(false);
        emit stopRecording();
        qDebug() << "Stop recording";
    }
}

void CameraPlayThread::onRecorderlackOfFreeSpace()
{
    emit recorderLackOfFreeSpace();
}

void CameraPlayThread::handOverToView(const VideoFrame &frame)
{
    {
        QMutexLocker lock(&displayMutex_);
        if (pendingDisplayFrame_.size() != 0)
            replacedDisplayFrames_.fetch_add(1);
        pendingDisplayFrame_ = frame;
        if (displayQueued_)
            return;
        displayQueued_ = true;
    }
    QMetaObject::invokeMethod(this, &CameraPlayThread::deliverPendingFrame, Qt::QueuedConnection);
}

void CameraPlayThread::deliverPendingFrame()
{
    VideoFrame frame;
    {
        QMutexLocker lock(&displayMutex_);
        frame = pendingDisplayFrame_;
        pendingDisplayFrame_ = VideoFrame();
        // Cleared before the emit: frames read while the receiver works queue
        // the next notification instead of waiting for this one.
        displayQueued_ = false;
    }
    if (frame.size() != 0)
        emit putVideoFrame(frame, cameraIndex_.load());
}

void CameraPlayThread::answerEdgeRequest(const VideoFrame &frame)
{
    EdgeRequest request;
    {
        QMutexLocker lock(&edgeMutex_);
        if (!edgeRequested_)
            return;
        edgeRequested_ = false;
        request = edgeRequest_;
    }
    QPointF point(request.x, request.y);
    try {
        point = imageProcess_.findNearestEdge(frame, request);
    } catch (const std::exception &error) {
        qWarning() << "Edge search failed:" << error.what();
    } catch (...) {
        qWarning() << "Edge search failed";
    }
    {
        QMutexLocker lock(&edgeMutex_);
        lastEdgePoint_ = point;
    }
    emit sendEdgepos(point);
}

void CameraPlayThread::report()
{
    const CaptureSettings capture = captureSettings();
    emit resolutionChange(QStringLiteral("%1x%2").arg(capture.width).arg(capture.height));
    emit formatChanged(captureFormatText(capture.format));
}

void CameraPlayThread::run()
{
    const QSharedPointer<BaseCamera> camera = captureCamera();
    if (!camera) {
        qDebug() << "CameraPlayThread, m_camera is not exist!";
        return;
    }
    const QString name = camera->cameraName();
    if (!camera->isSystemSupported()) {
        qDebug() << "Camera not support current system!";
        emit CameraCloseForReason(name, CloseSystemUnsupported);
        return;
    }
    if (!camera->open(openSettings())) {
        qDebug() << "CameraPlayThread, open camera failed!";
        emit CameraCloseForReason(name, CloseOpenFailed);
        return;
    }

    // A reopen that fails leaves the stream closed: it is not closed again.
    bool streamOpen = true;
    QElapsedTimer reportTimer;  // monotonic: wall-clock changes don't upset the rate
    reportTimer.start();
    int framesSinceReport = 0;
    int failedReads = 0;
    while (runFlag_.load()) {
        readFailed_.store(false);

        if (settingsChanged_.exchange(false)) {
            emit captureSettingsChanged(true);
            streamOn_.store(false);
            if (!camera->reopen(openSettings())) {
                streamOpen = false;
                qDebug() << "Camera change capture settings failed!";
                emit captureSettingsChanged(false);
                runFlag_.store(false);
                emit CameraCloseForReason(name, CloseOpenFailed);
                break;
            }
            emit captureSettingsChanged(false);
        }

        VideoFrame frame = camera->getVideoFrameData();
        // Stamped as soon as it is read, from the clock the recorder places
        // frames by, so a camera slower than its nominal rate still records
        // at true speed.
        const int64_t captureTimeUs = captureClockMicroseconds();
        if (frame.size() != 0) {
            ++framesSinceReport;
            receivedFrames_.fetch_add(1);
            failedReads = 0;
            streamOn_.store(true);
            if (reportFlag_.load() && reportTimer.elapsed() / 1000.0 >= 1.0) {
                emit sendFps(QString::number(framesSinceReport));
                report();
                framesSinceReport = 0;
                reportTimer.restart();
            }

            {
                QMutexLocker lock(&frameMutex_);
                latestFrame_ = frame;
            }
            if (frameRequested_.exchange(false))
                emit sendVideoFrame(frame);
            handOverToView(frame);
            if (recording_.load())
                recorder_->encodeFrame(frame, captureTimeUs);
            // Frames are immutable once made: the search reads this frame
            // outside the frame lock, so latestPixmap never waits for it.
            if (streamOn_.load())
                answerEdgeRequest(frame);
        } else {
            ++failedReads;
            readFailed_.store(true);
            if (failedReads > kMaxFailedReads) {
                qDebug() << "getVideoFrameData failed! FailedCount=" << failedReads << ", cameraName=" << name;
                runFlag_.store(false);
                emit CameraCloseForReason(name, CloseDisconnected);
                break;
            }
        }

        QThread::msleep(kPassPauseMs);
        frame = VideoFrame();
    }
    if (streamOpen)
        camera->close();
}

void StillCaptureState::arm()
{
    pending_ = true;
    frameTaken_ = false;
}

bool StillCaptureState::waitDone()
{
    for (int step = 0; step <= 500 && (pending_ || !frameTaken_); ++step) {
        QCoreApplication::processEvents();
        blockingWait(10);
    }
    const bool done = !pending_ && frameTaken_;
    blockingWait(300);
    return done;
}
