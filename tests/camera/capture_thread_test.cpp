// The capture thread: its read loop on a scripted camera (failures, reports,
// settings changes, frame hand-over, edge requests) and on the virtual camera
// (a real recording read back with FFmpeg), the still-capture record and
// snapshot naming.
#include "camera_test_support.h"
#include "control.h"
#include "displayed_video_size.h"
#include "finishing_recorders.h"
#include "picture_file.h"
#include "recording_support.h"
#include "test_support.h"
#include "video_recorder.h"
#include "virtual_backend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A USB camera whose stream is a script: `frameFor(n)` answers the n-th read
// (from 0); an empty frame is a failed read. Reads return at once.
class ScriptedCamera : public UvcCamera
{
public:
    std::function<VideoFrame(int)> frameFor;
    bool openResult = true;
    bool reopenResult = true;
    bool supported = true;
    std::atomic<int> reads{0};
    std::atomic<int> opens{0};
    std::atomic<int> reopens{0};
    std::atomic<int> closes{0};

    bool open(const CameraOpenSettings &) override
    {
        ++opens;
        return openResult;
    }
    bool reopen(const CameraOpenSettings &) override
    {
        ++reopens;
        return reopenResult;
    }
    bool close() override
    {
        ++closes;
        return true;
    }
    bool isSystemSupported() override { return supported; }
    QString cameraName() override { return QStringLiteral("scripted"); }
    VideoFrame getVideoFrameData() override
    {
        const int index = reads++;
        VideoFrame frame = frameFor ? frameFor(index) : VideoFrame();
        if (frame.size() != 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            made_.push_back(frame.buffer());
        }
        return frame;
    }
    // Frames made so far that somebody still holds.
    int liveFrames()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int live = 0;
        for (const auto &made : made_)
            live += made.expired() ? 0 : 1;
        return live;
    }

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<VideoFrameBuffer>> made_;
};

// A grey frame whose first four luma bytes carry `sequence`.
VideoFrame numberedFrame(int width, int height, uint32_t sequence)
{
    auto buffer = I420Buffer::create(width, height);
    std::memset(buffer->mutableDataY(), 128, size_t(width) * height);
    std::memset(buffer->mutableDataU(), 128, size_t(buffer->chromaWidth()) * buffer->chromaHeight());
    std::memset(buffer->mutableDataV(), 128, size_t(buffer->chromaWidth()) * buffer->chromaHeight());
    std::memcpy(buffer->mutableDataY(), &sequence, sizeof sequence);
    return VideoFrame(buffer, 0, 0);
}

uint32_t sequenceOf(const VideoFrame &frame)
{
    uint32_t sequence = 0;
    std::memcpy(&sequence, frame.buffer()->getI420()->dataY(), sizeof sequence);
    return sequence;
}

// Dark on the left of column `edge`, bright from it on.
VideoFrame steppedFrame(int width, int height, int edge)
{
    auto buffer = I420Buffer::create(width, height);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            buffer->mutableDataY()[size_t(row) * width + column] = column < edge ? 16 : 235;
    std::memset(buffer->mutableDataU(), 128, size_t(buffer->chromaWidth()) * buffer->chromaHeight());
    std::memset(buffer->mutableDataV(), 128, size_t(buffer->chromaWidth()) * buffer->chromaHeight());
    return VideoFrame(buffer, 0, 0);
}

class CaptureLoopTest : public ::testing::Test
{
protected:
    void SetUp() override { camera = QSharedPointer<ScriptedCamera>::create(); }
    void TearDown() override
    {
        if (thread) {
            thread->setRunFlag(false);
            thread->wait();
        }
    }

    // Builds the capture thread without starting it, so that a test can
    // watch its signals from the first one on.
    void makeLoop(bool report = false)
    {
        thread = std::make_unique<CameraPlayThread>();
        thread->setCaptureCamera(camera);
        thread->setRunFlag(true);
        thread->setReportFlag(report);
    }
    void startLoop(bool report = false)
    {
        makeLoop(report);
        thread->start();
    }
    void stopLoop()
    {
        thread->setRunFlag(false);
        ASSERT_TRUE(thread->wait(5000));
    }

    enum class Close { NotRecording, ReturnedAtOnce, WaitedForTheRecorder };
    // Records 100 frames from a camera at up to 50 fps whose frames compress
    // badly, optionally stops the recording, then closes the capture thread as
    // the main window does, while the recorder thread is held busy until the
    // close has returned (or for 20 s): a close that waits for the recording
    // to finish waits for that hold.
    Close closeWhileRecording(const QString &path, bool stopFirst, QList<QPair<QString, bool>> &finished,
                              QObject &receiver)
    {
        std::vector<VideoFrame> noise;
        for (int i = 0; i < 8; ++i)
            noise.push_back(syntheticFrame(320, 240, i, true));
        camera->frameFor = [noise](int index) {
            QThread::msleep(20);
            return noise[size_t(index) % noise.size()];
        };
        startLoop();
        if (!waitFor([&] { return thread->isStreamOn(); }, 20000))
            return Close::NotRecording;
        VideoRecorder *recorder = thread->recorder();
        QObject::connect(recorder, &VideoRecorder::recordingFinished, &receiver,
                         [&finished](const QString &file, bool ok) { finished << qMakePair(file, ok); });
        thread->handRecord(1, path);
        if (!waitFor([&] { return recorder->isRecording(); }, 10000))
            return Close::NotRecording;
        const int first = camera->reads.load();
        if (!waitFor([&] { return camera->reads.load() - first >= 100; }, 60000))
            return Close::NotRecording;
        const auto closed = std::make_shared<std::atomic<bool>>(false);
        const auto held = std::make_shared<std::atomic<int>>(0);  // 1 until the close, 2 past the bound
        QMetaObject::invokeMethod(
            recorder,
            [closed, held] {
                QElapsedTimer clock;
                clock.start();
                while (!closed->load() && clock.elapsed() < 20000)
                    QThread::msleep(1);
                held->store(closed->load() ? 1 : 2);
            },
            Qt::QueuedConnection);
        if (stopFirst)
            thread->handRecord(2, QString());
        thread->setRunFlag(false);
        thread->quit();
        thread->wait(2000);
        thread.reset();
        closed->store(true);
        waitFor([&] { return held->load() != 0; }, 30000);
        return held->load() == 1 ? Close::ReturnedAtOnce : Close::WaitedForTheRecorder;
    }

    QSharedPointer<ScriptedCamera> camera;
    std::unique_ptr<CameraPlayThread> thread;
};

} // namespace

TEST_F(CaptureLoopTest, ClosesAsDisconnectedAfter301FailedReadsInARow)
{
    // 50 failures, one frame (which resets the count), then nothing more.
    camera->frameFor = [](int index) { return index == 50 ? numberedFrame(64, 48, 1) : VideoFrame(); };
    LogCatcher log;
    makeLoop();
    QSignalSpy closed(thread.get(), &CameraPlayThread::CameraCloseForReason);
    thread->start();
    ASSERT_TRUE(thread->wait(10000));
    QCoreApplication::processEvents();

    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toString(), "scripted");
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseDisconnected);
    EXPECT_EQ(camera->reads.load(), 51 + 301);
    EXPECT_EQ(camera->closes.load(), 1);
    EXPECT_FALSE(thread->runFlag());
    EXPECT_TRUE(thread->isReadFailed());
    EXPECT_TRUE(log.contains("getVideoFrameData failed! FailedCount="));
}

TEST_F(CaptureLoopTest, CameraThatCannotStartGivesItsReasonAndIsNotClosed)
{
    camera->openResult = false;
    makeLoop();
    QSignalSpy closed(thread.get(), &CameraPlayThread::CameraCloseForReason);
    thread->start();
    ASSERT_TRUE(thread->wait(5000));
    QCoreApplication::processEvents();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseOpenFailed);
    EXPECT_EQ(camera->closes.load(), 0);

    camera->openResult = true;
    camera->supported = false;
    thread.reset();
    makeLoop();
    QSignalSpy unsupported(thread.get(), &CameraPlayThread::CameraCloseForReason);
    thread->start();
    ASSERT_TRUE(thread->wait(5000));
    QCoreApplication::processEvents();
    ASSERT_EQ(unsupported.count(), 1);
    EXPECT_EQ(unsupported.at(0).at(1).value<CameraCloseReason>(), CloseSystemUnsupported);
    EXPECT_EQ(camera->opens.load(), 1);  // only the first attempt opened

    // Without a camera the thread just ends.
    CameraPlayThread empty;
    QSignalSpy nothing(&empty, &CameraPlayThread::CameraCloseForReason);
    empty.setRunFlag(true);
    empty.start();
    ASSERT_TRUE(empty.wait(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(nothing.count(), 0);
}

TEST_F(CaptureLoopTest, ReportsOnlyWhileAskedAndThenCountsEveryFrameSinceTheLastReport)
{
    camera->frameFor = [](int index) { return numberedFrame(64, 48, uint32_t(index)); };
    makeLoop(false);
    QSignalSpy fps(thread.get(), &CameraPlayThread::sendFps);
    QSignalSpy size(thread.get(), &CameraPlayThread::resolutionChange);
    QSignalSpy format(thread.get(), &CameraPlayThread::formatChanged);
    thread->start();
    QTest::qWait(1300);
    EXPECT_EQ(fps.count(), 0);
    EXPECT_EQ(size.count(), 0);
    EXPECT_EQ(format.count(), 0);

    // Frames received and the time when each report was made, taken on the loop's thread.
    std::vector<qint64> receivedAtReport;
    std::vector<qint64> nsAtReport;
    QElapsedTimer clock;
    clock.start();
    QObject watcher;
    QObject::connect(thread.get(), &CameraPlayThread::sendFps, &watcher,
                     [&] {
                         receivedAtReport.push_back(thread->receivedFrameCount());
                         nsAtReport.push_back(clock.nsecsElapsed());
                     },
                     Qt::DirectConnection);
    const qint64 before = thread->receivedFrameCount();
    thread->setReportFlag(true);
    ASSERT_TRUE(waitFor([&] { return fps.count() >= 2; }, 20000));
    stopLoop();
    // The first report carries the frames of the whole unreported time; the
    // size is the one asked for, not the one delivered.
    EXPECT_GE(fps.at(0).at(0).toString().toInt(), before);
    ASSERT_GE(size.count(), 1);
    ASSERT_GE(format.count(), 1);
    EXPECT_EQ(size.at(0).at(0).toString(), "1920x1080");
    EXPECT_EQ(format.at(0).at(0).toString(), "MJPEG");

    // The next report counts the frames since the one before.
    const int secondReport = fps.at(1).at(0).toString().toInt();
    EXPECT_EQ(secondReport, receivedAtReport.at(1) - receivedAtReport.at(0));
    EXPECT_LE(secondReport, 101);  // at most one frame per 10 ms pass
    // A whole second lies between two reports, however late either comes.
    EXPECT_GE(nsAtReport.at(1) - nsAtReport.at(0), qint64(1000) * 1000 * 1000);
}

TEST_F(CaptureLoopTest, SettingsChangeReopensOnceAndOnlyForNewSettings)
{
    camera->frameFor = [](int index) { return numberedFrame(64, 48, uint32_t(index)); };
    makeLoop();
    QSignalSpy busy(thread.get(), &CameraPlayThread::captureSettingsChanged);
    thread->start();
    ASSERT_TRUE(waitFor([&] { return thread->isStreamOn(); }, 20000));

    thread->setCaptureSettings(thread->captureSettings());
    QTest::qWait(100);
    EXPECT_EQ(camera->reopens.load(), 0);
    EXPECT_EQ(busy.count(), 0);

    CaptureSettings settings = thread->captureSettings();
    settings.width = 3840;
    settings.height = 2160;
    settings.format = StreamNv12;
    thread->setCaptureSettings(settings);
    ASSERT_TRUE(waitFor([&] { return busy.count() == 2; }, 20000));
    EXPECT_TRUE(busy.at(0).at(0).toBool());
    EXPECT_FALSE(busy.at(1).at(0).toBool());
    EXPECT_EQ(camera->reopens.load(), 1);
    EXPECT_EQ(camera->closes.load(), 0);
    const CameraOpenSettings open = thread->openSettings();
    EXPECT_EQ(open.usb.resolutionText, "3840x2160");
    EXPECT_EQ(open.usb.streamFormat, int(StreamNv12));
    EXPECT_EQ(open.usb.bufferSize, captureBufferSize(3840, 2160, StreamNv12));

    // A reopen that fails ends the loop as an open failure.
    camera->reopenResult = false;
    QSignalSpy closed(thread.get(), &CameraPlayThread::CameraCloseForReason);
    settings.width = 1280;
    settings.height = 720;
    thread->setCaptureSettings(settings);
    ASSERT_TRUE(thread->wait(20000));
    QCoreApplication::processEvents();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseOpenFailed);
    EXPECT_FALSE(thread->runFlag());
    // The failed reopen left nothing open to close.
    EXPECT_EQ(camera->closes.load(), 0);
}

TEST_F(CaptureLoopTest, SlowViewGetsTheNewestFrameAndNothingPilesUp)
{
    std::atomic<uint32_t> lastMade{0};
    camera->frameFor = [&](int index) {
        lastMade = uint32_t(index + 1);
        return numberedFrame(320, 240, uint32_t(index + 1));
    };
    startLoop();
    std::vector<uint32_t> shown;
    int mostAlive = 0;
    int camIndexSeen = -1;
    QObject receiver;
    QObject::connect(thread.get(), &CameraPlayThread::putVideoFrame, &receiver,
                     [&](const VideoFrame &frame, int camIndex) {
                         shown.push_back(sequenceOf(frame));
                         camIndexSeen = camIndex;
                         mostAlive = std::max(mostAlive, camera->liveFrames());
                         QThread::msleep(100);  // a view far slower than the camera
                     });
    thread->setCameraIndex(7);
    QTest::qWait(1500);
    ASSERT_TRUE(waitFor([&] { return shown.size() >= 5 && thread->replacedDisplayFrameCount() > 0; }));
    stopLoop();
    QTest::qWait(50);  // the last pending frame is delivered
    QCoreApplication::processEvents();

    EXPECT_EQ(camIndexSeen, 7);
    // Every frame was either shown or replaced by a newer one before it was.
    EXPECT_EQ(thread->receivedFrameCount(), qint64(shown.size()) + thread->replacedDisplayFrameCount());
    // Frames alive at any time: the latest, the pending one, the one shown
    // and the loop's own; a queue would keep every unshown frame.
    EXPECT_LE(mostAlive, 5);
    for (size_t i = 1; i < shown.size(); ++i)
        EXPECT_GT(shown[i], shown[i - 1]);
    EXPECT_EQ(shown.back(), lastMade.load());
    EXPECT_EQ(sequenceOf(thread->latestFrame()), lastMade.load());
    EXPECT_FALSE(thread->latestPixmap().isNull());
}

TEST_F(CaptureLoopTest, EachFrameRequestGetsOneFrame)
{
    camera->frameFor = [](int index) { return numberedFrame(64, 48, uint32_t(index)); };
    makeLoop();
    QSignalSpy sent(thread.get(), &CameraPlayThread::sendVideoFrame);
    thread->start();
    ASSERT_TRUE(waitFor([&] { return thread->isStreamOn(); }, 20000));
    QTest::qWait(100);
    EXPECT_EQ(sent.count(), 0);
    thread->onGetVideoFrame();
    ASSERT_TRUE(waitFor([&] { return sent.count() == 1; }, 20000));
    QTest::qWait(100);
    EXPECT_EQ(sent.count(), 1);
    thread->onGetVideoFrame();
    thread->onGetVideoFrame();  // a second request before the first is served adds nothing
    ASSERT_TRUE(waitFor([&] { return sent.count() == 2; }, 20000));
    QTest::qWait(100);
    EXPECT_EQ(sent.count(), 2);
}

TEST_F(CaptureLoopTest, EdgeRequestSnapsInTheViewSizeOfItsClick)
{
    // A 640x480 frame with its edge at column 320, shown at half size: the
    // edge lies at view column 160.
    camera->frameFor = [](int) { return steppedFrame(640, 480, 320); };
    makeLoop();
    QSignalSpy snapped(thread.get(), &CameraPlayThread::sendEdgepos);
    thread->start();
    ASSERT_TRUE(waitFor([&] { return thread->isStreamOn(); }, 20000));

    displayedVideoWidth = 320;
    displayedVideoHeight = 240;
    thread->onMouseClik(150, 120, Line);
    // The view is laid out anew before the frame is searched: the request
    // keeps the size of its click.
    displayedVideoWidth = 640;
    displayedVideoHeight = 480;
    ASSERT_TRUE(waitFor([&] { return snapped.count() == 1; }, 20000));
    const QPointF point = snapped.at(0).at(0).toPointF();
    EXPECT_GE(point.x(), 158.0);
    EXPECT_LE(point.x(), 161.0);
    EXPECT_EQ(point.y(), 120.0);
    EXPECT_EQ(thread->lastEdgePoint(), point);

    // A picture area of no size, or a click outside it, gives the click back.
    displayedVideoWidth = 0;
    displayedVideoHeight = 0;
    thread->onMouseClik(150, 120, VLine);
    ASSERT_TRUE(waitFor([&] { return snapped.count() == 2; }, 20000));
    EXPECT_EQ(snapped.at(1).at(0).toPointF(), QPointF(150, 120));
    displayedVideoWidth = 320;
    displayedVideoHeight = 240;
    thread->onMouseClik(400, 120, HLine);
    ASSERT_TRUE(waitFor([&] { return snapped.count() == 3; }, 20000));
    EXPECT_EQ(snapped.at(2).at(0).toPointF(), QPointF(400, 120));
    QTest::qWait(50);
    EXPECT_EQ(snapped.count(), 3);  // one answer per request
}

TEST_F(CaptureLoopTest, EdgeRequestWaitsForTheStream)
{
    camera->frameFor = [](int index) { return index < 30 ? VideoFrame() : steppedFrame(64, 48, 32); };
    makeLoop();
    QSignalSpy snapped(thread.get(), &CameraPlayThread::sendEdgepos);
    thread->start();
    displayedVideoWidth = 64;
    displayedVideoHeight = 48;
    thread->onMouseClik(20, 20, HLine);
    QTest::qWait(100);
    EXPECT_EQ(snapped.count(), 0);
    ASSERT_TRUE(waitFor([&] { return snapped.count() == 1; }, 20000));
    EXPECT_NEAR(snapped.at(0).at(0).toPointF().x(), 31.5, 1.0);
}

TEST_F(CaptureLoopTest, RecordCommandsOtherThanStartAndStopDoNothing)
{
    camera->frameFor = [](int index) { return numberedFrame(64, 48, uint32_t(index)); };
    makeLoop();
    QSignalSpy starts(thread.get(), &CameraPlayThread::startRecording);
    QSignalSpy stops(thread.get(), &CameraPlayThread::stopRecording);
    thread->start();
    thread->handRecord(3, QStringLiteral("/nowhere.mp4"));
    thread->handRecord(0, QString());
    EXPECT_EQ(starts.count(), 0);
    EXPECT_EQ(stops.count(), 0);
    EXPECT_FALSE(thread->isRecording());
}

TEST_F(CaptureLoopTest, ClosingWhileRecordingReturnsAtOnceAndTheFileIsFinishedAfterwards)
{
    for (const bool stopFirst : {false, true}) {
        SCOPED_TRACE(stopFirst ? "closed just after the stop" : "closed while recording");
        camera = QSharedPointer<ScriptedCamera>::create();
        QTemporaryDir folder;
        const QString path = folder.path() + "/running.mp4";
        QList<QPair<QString, bool>> finished;
        QObject receiver;
        const Close close = closeWhileRecording(path, stopFirst, finished, receiver);
        ASSERT_NE(close, Close::NotRecording) << "the recording did not start";
        // Draining the encoder and rewriting the file happen elsewhere.
        EXPECT_EQ(close, Close::ReturnedAtOnce);
        EXPECT_EQ(camera->closes.load(), 1);

        ASSERT_TRUE(waitFor([&] { return !finished.isEmpty(); }, 60000));
        EXPECT_EQ(finished.size(), 1);
        EXPECT_EQ(finished.at(0), qMakePair(path, true));
        const RecordingInfo info = readRecording(path);
        ASSERT_TRUE(info.opened) << info.error.toStdString();
        EXPECT_EQ(info.width, 320);
        EXPECT_GT(info.packets, 45);
        EXPECT_LT(info.topLevelBoxes.indexOf("moov"), info.topLevelBoxes.indexOf("mdat"));
        EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
        EXPECT_FALSE(QFile::exists(path + ".finalising"));
        EXPECT_TRUE(FinishingRecorders::waitForAll(10000));
    }
}

// ---------------------------------------------------------------- virtual camera

namespace {

class VirtualCaptureTest : public VirtualCameraFixture
{
protected:

    static QSharedPointer<E530UCamera> bringUp(int width, int height, int fps)
    {
        auto camera = QSharedPointer<E530UCamera>::create();
        CameraOpenSettings settings;
        settings.usb.devicePath = usbcam::kVirtualCameraPath;
        settings.usb.width = width;
        settings.usb.height = height;
        settings.usb.resolutionText = Resolution(width, height).text;
        settings.usb.fps = fps;
        camera->setOpenSettings(settings);
        EXPECT_TRUE(camera->login(settings));
        return camera;
    }

    // Runs the capture loop on `camera` until frames flow.
    static bool startStreaming(CameraPlayThread &thread, const QSharedPointer<E530UCamera> &camera)
    {
        thread.setCaptureCamera(camera);
        thread.setRunFlag(true);
        thread.start();
        return waitFor([&] { return thread.isStreamOn(); }, 5000);
    }
};

} // namespace

TEST_F(VirtualCaptureTest, RecordingHasTheCapturedFramesAndTheWallClockDuration)
{
    QTemporaryDir folder;
    const QString path = folder.path() + "/20240101_120000_000.mp4";
    // The camera runs at 30 fps while its nominal rate for this size is 60:
    // a file stamped by a frame counter would last half the wall time.
    auto camera = bringUp(640, 480, 30);
    ASSERT_EQ(camera->defaultFrameRate(), 60);
    CameraPlayThread thread;
    QSignalSpy failures(thread.recorder(), &VideoRecorder::recordingFailed);
    thread.setCaptureCamera(camera);
    thread.setRunFlag(true);
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.receivedFrameCount() > 3; }, 5000));

    // The recording starts at the command, however long the encoder takes
    // to open: its frames and its length count from there.
    thread.recorder()->setEncoderProbe([](const char *name) {
        QThread::msleep(200);
        return std::strcmp(name, "libx264") == 0;
    });
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    QElapsedTimer wall;
    wall.start();
    const qint64 firstFrame = thread.receivedFrameCount();
    thread.handRecord(1, path);
    ASSERT_TRUE(thread.isRecording());
    ASSERT_TRUE(waitFor([&] { return thread.recorder()->isRecording(); }, 10000));
    // About 3 s; longer where a loaded machine delivers fewer frames.
    QTest::qWait(3000);
    waitFor([&] { return thread.receivedFrameCount() - firstFrame > 60; }, 10000);
    thread.handRecord(2, QString());
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    const qint64 captured = thread.receivedFrameCount() - firstFrame;
    EXPECT_FALSE(thread.isRecording());
    // The stop was queued before this: when it returns the file is final.
    QMetaObject::invokeMethod(thread.recorder(), [] {}, Qt::BlockingQueuedConnection);
    const int dropped = int(H264Encoder::droppedFrameCount() - droppedBefore);
    thread.setRunFlag(false);
    ASSERT_TRUE(thread.wait(5000));
    QCoreApplication::processEvents();

    EXPECT_EQ(failures.count(), 0);
    EXPECT_GT(captured, 60);
    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_EQ(info.streams, 1);
    EXPECT_TRUE(info.h264);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_NEAR(info.packets, double(captured - dropped), 3.0);
    EXPECT_NEAR(info.decodedFrames, double(captured - dropped), 3.0);
    EXPECT_NEAR(info.durationSeconds, wallSeconds, wallSeconds * 0.05);
}

TEST_F(VirtualCaptureTest, ParametersSetTheCaptureAndOpenSettings)
{
    auto camera = bringUp(1920, 1080, 30);
    CameraPlayThread thread;
    QSharedPointer<CameraParameters> params;
    EXPECT_FALSE(thread.loadCameraParameters(params, true));  // no camera yet
    thread.setCaptureCamera(camera);
    EXPECT_FALSE(thread.loadCameraParameters(params, false));  // no stream yet
    ASSERT_TRUE(thread.loadCameraParameters(params, true));
    ASSERT_TRUE(params);
    EXPECT_EQ(params->modelId, 0xE530u);
    EXPECT_EQ(params->bitrate, 1);

    const CaptureSettings capture = thread.captureSettings();
    EXPECT_EQ(capture.width, params->resolution.width);
    EXPECT_EQ(capture.height, params->resolution.height);
    EXPECT_EQ(capture.bitrate, 86000);
    EXPECT_EQ(capture.format, params->decodeWay);
    const CameraOpenSettings open = thread.openSettings();
    EXPECT_EQ(open.usb.resolutionText, params->resolution.text);
    EXPECT_EQ(open.usb.bufferSize, captureBufferSize(capture.width, capture.height, capture.format));
    EXPECT_EQ(open.usb.devicePath, usbcam::kVirtualCameraPath);
    // E530 takes the queried record as its own.
    EXPECT_EQ(camera->parameters().saturation.value, params->saturation.value);

    // The loop opens the camera at the size from the record and streams it.
    thread.setRunFlag(true);
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.isStreamOn(); }, 5000));
    EXPECT_EQ(thread.latestFrame().width(), capture.width);
    EXPECT_EQ(thread.latestFrame().height(), capture.height);
}

TEST_F(VirtualCaptureTest, UnpluggedCameraIsClosedAsDisconnected)
{
    auto camera = bringUp(320, 240, 30);
    CameraPlayThread thread;
    QSignalSpy closed(&thread, &CameraPlayThread::CameraCloseForReason);
    ASSERT_TRUE(startStreaming(thread, camera));
    usbcam::setVirtualCameraPresent(false);
    ASSERT_TRUE(thread.wait(15000));
    QCoreApplication::processEvents();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toString(), usbcam::kVirtualCameraPath);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseDisconnected);
}

TEST_F(VirtualCaptureTest, FailedReopenIsNotClosedAgain)
{
    auto camera = bringUp(320, 240, 30);
    CameraPlayThread thread;
    QSignalSpy closed(&thread, &CameraPlayThread::CameraCloseForReason);
    ASSERT_TRUE(startStreaming(thread, camera));
    LogCatcher log;
    // The camera goes away just as new settings arrive: the reopen closes the
    // stream and then fails to open it again.
    usbcam::setVirtualCameraPresent(false);
    CaptureSettings settings = thread.captureSettings();
    settings.width = 640;
    settings.height = 480;
    thread.setCaptureSettings(settings);
    ASSERT_TRUE(thread.wait(5000));
    QCoreApplication::processEvents();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseOpenFailed);
    EXPECT_TRUE(log.contains("Camera change capture settings failed!"));
    EXPECT_FALSE(log.contains("Uvc camera close failed!"));
    EXPECT_FALSE(camera->isStreamOpen());
}

// ---------------------------------------------------------------- still capture and names

TEST(StillCapture, WaitEndsWhenTheFrameIsTakenAndTheCaptureIsNoLongerPending)
{
    StillCaptureState state;
    state.setFrameTaken(true);
    state.arm();
    EXPECT_TRUE(state.isPending());
    EXPECT_FALSE(state.isFrameTaken());
    QTimer::singleShot(100, [&] {
        state.setSwitched(true);
        state.setFrameTaken(true);
    });
    QTimer::singleShot(200, [&] {
        state.setPending(false);
        state.setSwitched(false);
    });
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(state.waitDone());
    // The wait ended on the flags, not on its limit (501 passes of at least
    // 10 ms), and then settled 300 ms.
    EXPECT_GE(timer.elapsed(), 480);
    EXPECT_LT(timer.elapsed(), 501 * 10 + 300);
    EXPECT_FALSE(state.isSwitched());
}

TEST(CaptureFileNames, NextNumberFollowsTheHighestCaptureName)
{
    QTemporaryDir folder;
    EXPECT_EQ(nextCaptureFileName(folder.path()), "capture00000.jpg");
    for (const char *name : {"capture00003.jpg", "capture00012.jpg", "capture0001.jpg", "Capture00099.png",
                             "snapshotABCD.jpg", "capture000500.jpg"}) {
        QFile file(folder.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // Only 16-character .jpg names count; "snapshotABCD.jpg" reads as 0.
    EXPECT_EQ(nextCaptureFileName(folder.path()), "capture00013.jpg");
    QFile last(folder.path() + "/capture99999.jpg");
    ASSERT_TRUE(last.open(QIODevice::WriteOnly));
    EXPECT_EQ(nextCaptureFileName(folder.path()), "");
    EXPECT_EQ(nextCaptureFileName(folder.path() + "/missing"), "capture00000.jpg");
}
