// H.264 encoder and MP4 recorder: encoder choice, queue and drain, recordings
// read back with libavformat, killed, starved and cut-short recordings,
// unwritable paths, recordings finished after their owner has gone.
#include "finishing_recorders.h"
#include "h264_encoder.h"
#include "mp4_finalise.h"
#include "recording_file.h"
#include "recording_support.h"
#include "test_support.h"
#include "video_recorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

VideoCodecSettings smallSettings(int fps = 30)
{
    return recordingCodecSettings(kWidth, kHeight, fps);
}

// Collects the encoder's packets; can hold the worker inside the callback.
class PacketLog final : public EncodedImageCallback
{
public:
    bool OnEncodedPacket(AVPacket *packet, int width, int height) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        pts_.push_back(packet->pts);
        if (packet->flags & AV_PKT_FLAG_KEY)
            keyFrames_.push_back(pts_.size() - 1);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !hold_; });
        return width == kWidth && height == kHeight;
    }
    bool OnEncodedImage(const EncodedImage &) override { return false; }

    void hold()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = true;
        entered_ = false;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }
    bool waitEntered(int milliseconds)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return entered_; });
    }
    std::vector<int64_t> pts() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return pts_;
    }
    // Positions of the key frames among the packets.
    std::vector<size_t> keyFrames() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return keyFrames_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> pts_;
    std::vector<size_t> keyFrames_;
    bool hold_ = false;
    bool entered_ = false;
};

EncoderProbe probeOnly(std::initializer_list<const char *> passing, std::vector<std::string> *asked = nullptr)
{
    std::vector<std::string> names(passing.begin(), passing.end());
    return [names, asked](const char *name) {
        if (asked)
            asked->push_back(name);
        return std::find(names.begin(), names.end(), std::string(name)) != names.end();
    };
}

// Counts the warnings that contain `text`, from any thread, while it lives.
class WarningCount
{
public:
    explicit WarningCount(const QString &text) : text_(text)
    {
        std::lock_guard<std::mutex> lock(mutex());
        current() = this;
        previous() = qInstallMessageHandler(&WarningCount::handler);
    }
    ~WarningCount()
    {
        std::lock_guard<std::mutex> lock(mutex());
        qInstallMessageHandler(previous());
        current() = nullptr;
    }
    int count() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return count_;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex instance;
        return instance;
    }
    static WarningCount *&current()
    {
        static WarningCount *instance = nullptr;
        return instance;
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler instance = nullptr;
        return instance;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        QtMessageHandler forward = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex());
            if (current() && type == QtWarningMsg && message.contains(current()->text_))
                ++current()->count_;
            forward = previous();
        }
        if (forward)
            forward(type, context, message);
    }

    const QString text_;
    int count_ = 0;
};

// A recorder living on its own thread, as the capture thread keeps it.
class RecorderOnThread
{
public:
    RecorderOnThread()
    {
        recorder->moveToThread(&thread);
        QObject::connect(recorder, &VideoRecorder::recordingFailed, recorder,
                         [this](const QString &message) {
                             std::lock_guard<std::mutex> lock(mutex);
                             failures << message;
                         },
                         Qt::DirectConnection);
        QObject::connect(recorder, &VideoRecorder::lackOfFreeSpace, recorder, [this] { ++lackSignals; },
                         Qt::DirectConnection);
        QObject::connect(recorder, &VideoRecorder::recordingFinished, recorder,
                         [this](const QString &path, bool ok) {
                             std::lock_guard<std::mutex> lock(mutex);
                             finished << qMakePair(path, ok);
                         },
                         Qt::DirectConnection);
        thread.start();
    }
    ~RecorderOnThread()
    {
        // Blocking, so that the deletion is queued before the thread is asked
        // to quit: a call still queued when the loop ends is never delivered.
        QMetaObject::invokeMethod(recorder, "deleteLater", Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    void start(const QString &path, const VideoCodecSettings &settings)
    {
        recorder->setSavePath(path);
        recorder->initEncoder(settings);
        QMetaObject::invokeMethod(recorder, "start", Qt::BlockingQueuedConnection);
    }
    void stop() { QMetaObject::invokeMethod(recorder, "stop", Qt::BlockingQueuedConnection); }
    void pause() { QMetaObject::invokeMethod(recorder, "pause", Qt::BlockingQueuedConnection); }
    QStringList failureMessages()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return failures;
    }
    QList<QPair<QString, bool>> finishedReports()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return finished;
    }

    QThread thread;
    VideoRecorder *recorder = new VideoRecorder;
    std::mutex mutex;
    QStringList failures;
    QList<QPair<QString, bool>> finished;
    std::atomic<int> lackSignals{0};
};

// Feeds `count` frames stamped `intervalUs` apart on a clock of our own,
// pausing a little between them so that the encoder keeps up. They carry
// the indices from `firstIndex` on.
int64_t feedFrames(VideoRecorder &recorder, int count, int64_t intervalUs, int64_t startUs = 1000000,
                   int firstIndex = 0)
{
    for (int i = 0; i < count; ++i) {
        recorder.encodeFrame(syntheticFrame(kWidth, kHeight, firstIndex + i), startUs + i * intervalUs);
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    return startUs + count * intervalUs;
}

// first, first + 1, ... first + count - 1
QVector<int> indices(int first, int count)
{
    QVector<int> result;
    for (int i = 0; i < count; ++i)
        result << first + i;
    return result;
}

QString recordingPath(const QTemporaryDir &folder, const char *name = "20240102_030405_006.mp4")
{
    return folder.path() + "/" + name;
}

// Records `frames` frames into `path` and keeps the fragmented file, as a
// recording given up at shut-down does; what it reported at its end.
QList<QPair<QString, bool>> recordFragmented(const QString &path, int frames)
{
    RecorderOnThread fixture;
    fixture.recorder->abandonFinalising();
    fixture.start(path, smallSettings());
    feedFrames(*fixture.recorder, frames, 33333);
    fixture.stop();
    return fixture.finishedReports();
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The loss as the user reads it.
QString lostMessage(const QString &path)
{
    return "Recording failed: the video file " + path
           + " no longer exists (No such file or directory), so what was recorded is lost.";
}

}  // namespace

TEST(RecordingSettings, BitRateFollowsFrameRateWithoutTruncation)
{
    EXPECT_EQ(recordingCodecSettings(1920, 1080, 30).bit_rate, 15000000);
    EXPECT_EQ(recordingCodecSettings(1920, 1080, 25).bit_rate, 12500000);
    EXPECT_EQ(recordingCodecSettings(1920, 1080, 15).bit_rate, 7500000);
    EXPECT_EQ(recordingCodecSettings(1920, 1080, 59).bit_rate, 29500000);
    EXPECT_EQ(recordingCodecSettings(3840, 2160, 60).bit_rate, 120000000);
    const VideoCodecSettings noRate = recordingCodecSettings(640, 480, 0);
    EXPECT_EQ(noRate.fps, 30);
    EXPECT_EQ(noRate.gop, 150);
    EXPECT_GT(noRate.bit_rate, 0);
}

TEST(RecordingSettings, SizeChoosesQualityAndTextFormIsComplete)
{
    const VideoCodecSettings hd = recordingCodecSettings(1920, 1080, 30);
    EXPECT_EQ(hd.qp, 27);
    EXPECT_FLOAT_EQ(hd.crf, 25.0f);
    EXPECT_EQ(hd.toString(), "Video Codec: width=1920, height=1080, fps=30, bit_rate=15000000, qp=27, qp_min=20, "
                             "qp_max=40, crf=25, frame_drop=false, type=h264");
    const VideoCodecSettings uhd = recordingCodecSettings(1920, 1081, 30);
    EXPECT_EQ(uhd.qp, 32);
    EXPECT_FLOAT_EQ(uhd.crf, 28.0f);
    EXPECT_EQ(uhd.bit_rate, 60000000);
}

TEST(EncoderChoice, ProbesInOrderAndTakesTheFirstThatOpens)
{
    std::vector<std::string> asked;
    EXPECT_EQ(chooseH264EncoderKind(probeOnly({"h264_nvenc", "h264_qsv", "libx264"}, &asked)), H264EncoderKind::Nvenc);
    EXPECT_EQ(asked, std::vector<std::string>({"h264_nvenc"}));
    asked.clear();
    EXPECT_EQ(chooseH264EncoderKind(probeOnly({"h264_qsv", "libx264"}, &asked)), H264EncoderKind::QuickSync);
    EXPECT_EQ(asked, std::vector<std::string>({"h264_nvenc", "h264_qsv"}));
    asked.clear();
    EXPECT_EQ(chooseH264EncoderKind(probeOnly({"libx264"}, &asked)), H264EncoderKind::X264);
    EXPECT_EQ(asked, std::vector<std::string>({"h264_nvenc", "h264_qsv", "libx264"}));
    EXPECT_EQ(chooseH264EncoderKind(probeOnly({})), H264EncoderKind::None);
}

TEST(EncoderChoice, RealProbeFallsThroughToAWorkingEncoder)
{
    // Hardware encoders fail their probe cleanly where there is no GPU; some encoder always opens.
    EXPECT_FALSE(probeH264Encoder("no_such_encoder"));
    H264Encoder encoder;
    ASSERT_NE(encoder.kind(), H264EncoderKind::None);
    EXPECT_TRUE(encoder.InitEncoder(smallSettings()));
    ASSERT_NE(encoder.CodecContext(), nullptr);
    EXPECT_EQ(encoder.CodecContext()->width, kWidth);
    EXPECT_NE(encoder.CodecContext()->extradata_size, 0);  // SPS and PPS for the MP4 header
}

TEST(EncoderChoice, HardwareEncoderThatFailsToOpenFallsBackToLibx264)
{
    for (const char *hardware : {"h264_nvenc", "h264_qsv"}) {
        SCOPED_TRACE(hardware);
        H264Encoder encoder(probeOnly({hardware, "libx264"}));
        EXPECT_EQ(encoder.kind(), std::string(hardware) == "h264_nvenc" ? H264EncoderKind::Nvenc
                                                                          : H264EncoderKind::QuickSync);
        if (encoder.InitEncoder(smallSettings()))
            GTEST_SKIP() << hardware << " works on this machine";
        EXPECT_EQ(encoder.CodecContext(), nullptr);
        ASSERT_TRUE(encoder.EnableCompatibilityMode());
        EXPECT_EQ(encoder.kind(), H264EncoderKind::X264);
        EXPECT_TRUE(encoder.InitEncoder(smallSettings()));
    }
}

TEST(EncoderChoice, EachEncoderIsProbedOnceWhateverTheNumberOfRecordings)
{
    QTemporaryDir folder;
    std::vector<std::string> asked;
    RecorderOnThread fixture;
    fixture.recorder->setEncoderProbe(probeOnly({"libx264"}, &asked));
    const std::vector<std::string> everyEncoder({"h264_nvenc", "h264_qsv", "libx264"});
    // Asked when a camera opens, so that the first recording doesn't ask.
    QMetaObject::invokeMethod(fixture.recorder, "prepare", Qt::BlockingQueuedConnection);
    EXPECT_EQ(asked, everyEncoder);
    EXPECT_EQ(fixture.recorder->encoderKind(), H264EncoderKind::X264);
    for (const char *name : {"first.mp4", "second.mp4"}) {
        fixture.start(recordingPath(folder, name), smallSettings());
        ASSERT_TRUE(fixture.recorder->isRecording()) << name;
        fixture.stop();
    }
    EXPECT_EQ(asked, everyEncoder);
}

TEST(EncoderChoice, NoEncoderFailsInitAndCompatibilityMode)
{
    H264Encoder encoder(probeOnly({}));
    EXPECT_EQ(encoder.kind(), H264EncoderKind::None);
    EXPECT_FALSE(encoder.InitEncoder(smallSettings()));
    EXPECT_FALSE(encoder.EnableCompatibilityMode());
    EXPECT_EQ(encoder.kind(), H264EncoderKind::None);
    encoder.Start();  // nothing to start
    encoder.Encode(syntheticFrame(kWidth, kHeight, 0), 0);
    EXPECT_EQ(encoder.queuedFrameCount(), 0);
}

TEST(EncoderQueue, FramesOutsideStartAndStopAreIgnored)
{
    H264Encoder encoder(probeOnly({"libx264"}));
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    PacketLog log;
    encoder.RegisterCallback(&log);
    encoder.Encode(syntheticFrame(kWidth, kHeight, 0), 0);
    EXPECT_EQ(encoder.queuedFrameCount(), 0);
    encoder.Start();
    encoder.Stop();
    encoder.Encode(syntheticFrame(kWidth, kHeight, 1), 1000);
    EXPECT_EQ(encoder.queuedFrameCount(), 0);
    EXPECT_TRUE(log.pts().empty());
}

TEST(EncoderQueue, StopEncodesEveryQueuedFrameAndFlushes)
{
    H264Encoder encoder(probeOnly({"libx264"}));
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    PacketLog log;
    encoder.RegisterCallback(&log);
    encoder.Start();
    for (int i = 0; i < 3; ++i)
        encoder.Encode(syntheticFrame(kWidth, kHeight, i), i * 33333);
    encoder.Stop();
    EXPECT_EQ(log.pts().size(), 3u);
    encoder.Stop();  // a second stop joins nothing
}

TEST(EncoderQueue, ReleasingARunningEncoderWaitsForItsWorker)
{
    H264Encoder encoder(probeOnly({"libx264"}));
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    PacketLog log;
    encoder.RegisterCallback(&log);
    encoder.Start();
    log.hold();
    int fed = 0;
    while (!log.waitEntered(20) && fed < 200) {
        encoder.Encode(syntheticFrame(kWidth, kHeight, fed), int64_t(fed) * 33333);
        ++fed;
    }
    ASSERT_LT(fed, 200) << "the encoder never produced a packet";
    // The worker is inside the packet loop, using the codec context.
    std::thread other([&] { encoder.Release(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log.release();
    other.join();
    EXPECT_EQ(encoder.CodecContext(), nullptr);
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    const size_t before = log.pts().size();
    encoder.Start();
    for (int i = 0; i < 3; ++i)
        encoder.Encode(syntheticFrame(kWidth, kHeight, i), i * 33333);
    encoder.Stop();
    EXPECT_EQ(log.pts().size(), before + 3);
}

TEST(EncoderQueue, FirstPictureComesOutBeforeTheNextGoesInAndLaterOnesFollow)
{
    H264Encoder encoder(probeOnly({"libx264"}));
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    PacketLog log;
    encoder.RegisterCallback(&log);
    encoder.Start();
    // A recording's first frame is written without waiting for the frames
    // after it, whatever the number of processors.
    encoder.Encode(syntheticFrame(kWidth, kHeight, 0), 0);
    ASSERT_TRUE(log.waitEntered(10000));
    // The encoder that goes on from there gives every later frame its
    // capture time.
    for (int i = 1; i < 40; ++i) {
        encoder.Encode(syntheticFrame(kWidth, kHeight, i), int64_t(i) * 33333);
        // Kept below the drop, for at most 5 s a frame.
        for (int wait = 0; wait < 5000 && encoder.queuedFrameCount() >= H264Encoder::kMaxQueuedFrames - 1; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    encoder.Stop();
    const std::vector<int64_t> pts = log.pts();
    ASSERT_EQ(pts.size(), 40u);
    for (size_t i = 0; i < pts.size(); ++i)
        EXPECT_EQ(pts[i], av_rescale(int64_t(i) * 33333, H264Encoder::kTimeBase, 1000000)) << i;
    // The encoder that goes on starts with a key frame after exactly the
    // first pictures; the key-frame interval (150) gives no other.
    EXPECT_EQ(log.keyFrames(), (std::vector<size_t>{0, size_t(H264Encoder::kFirstPictures)}));
}

TEST(EncoderQueue, BusyWorkerKeepsTheSixNewestFramesAndStampsFromCaptureTime)
{
    H264Encoder encoder(probeOnly({"libx264"}));
    ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
    PacketLog log;
    encoder.RegisterCallback(&log);
    encoder.Start();
    log.hold();
    // Feed until the first packet holds the worker inside the callback.
    int fed = 0;
    while (!log.waitEntered(20) && fed < 200) {
        encoder.Encode(syntheticFrame(kWidth, kHeight, fed), int64_t(fed) * 100000);
        ++fed;
    }
    ASSERT_LT(fed, 200) << "the encoder never produced a packet";
    // The worker may still be taking frames; on a loaded machine it can also
    // have entered the callback with a frame or two still queued, which then
    // stay queued while it is held.
    for (int i = 0; i < 25 && encoder.queuedFrameCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int pending = encoder.queuedFrameCount();
    ASSERT_LE(pending, 4);

    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    const int burstStart = 1000;
    for (int i = 0; i < 10; ++i)
        encoder.Encode(syntheticFrame(kWidth, kHeight, burstStart + i), int64_t(burstStart + i) * 100000);
    EXPECT_EQ(encoder.queuedFrameCount(), H264Encoder::kMaxQueuedFrames);
    // The oldest go: the frames still pending, then the first four of the burst.
    EXPECT_EQ(H264Encoder::droppedFrameCount() - droppedBefore, pending + 4);
    log.release();
    encoder.Stop();

    // Stamps on the 90 kHz clock from the capture times, starting at 0: the
    // dropped frames leave a gap instead of shifting the later ones.
    const std::vector<int64_t> pts = log.pts();
    const int encodedBefore = fed - pending;
    ASSERT_EQ(int(pts.size()), encodedBefore + 6);
    for (int i = 0; i < encodedBefore; ++i)
        EXPECT_EQ(pts[size_t(i)], int64_t(i) * 9000);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(pts[size_t(encodedBefore + i)], int64_t(burstStart + 4 + i) * 9000);
}

TEST(Recorder, RecordingHasTheCapturedSizeFramesAndDuration)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    // A camera nominally at 30 fps that delivers 15: 45 frames cover 3 seconds.
    fixture.start(path, smallSettings(30));
    ASSERT_TRUE(fixture.recorder->isRecording());
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    feedFrames(*fixture.recorder, 45, 1000000 / 15);
    fixture.stop();
    const int fed = 45 - int(H264Encoder::droppedFrameCount() - droppedBefore);
    EXPECT_FALSE(fixture.recorder->isRecording());
    EXPECT_TRUE(fixture.failureMessages().isEmpty()) << fixture.failureMessages().join("; ").toStdString();

    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_EQ(info.streams, 1);
    EXPECT_TRUE(info.h264);
    EXPECT_EQ(info.width, kWidth);
    EXPECT_EQ(info.height, kHeight);
    EXPECT_NEAR(info.packets, fed, 2);
    EXPECT_NEAR(info.decodedFrames, fed, 2);
    EXPECT_NEAR(info.durationSeconds, 3.0, 0.15);
    // The last frame lasts as long as the one before it (1/15 s, not the
    // nominal 1/30) and is inside the duration players show.
    EXPECT_NEAR(info.durationSeconds - info.lastPacketSeconds, 1.0 / 15, 0.001);
    EXPECT_NEAR(info.containerDurationSeconds, info.durationSeconds, 0.001);
    ASSERT_EQ(fixture.finishedReports().size(), 1);
    EXPECT_EQ(fixture.finishedReports().at(0), qMakePair(path, true));
    // Finalised: a plain MP4 with its index before the media, no fragments left.
    ASSERT_GE(info.topLevelBoxes.size(), 3);
    EXPECT_LT(info.topLevelBoxes.indexOf("moov"), info.topLevelBoxes.indexOf("mdat"));
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
    EXPECT_FALSE(QFile::exists(path + ".finalising"));
}

TEST(Recorder, PauseRefusesThePacketsStillInsideTheEncoderAndStopFinalises)
{
    // Whether this machine's encoder keeps frames back until it is flushed
    // (libx264 holds one per frame thread once past its first pictures):
    // twenty frames, none dropped, and what came out once the queue is empty.
    int heldBack = 0;
    {
        H264Encoder encoder(probeOnly({"libx264"}));
        ASSERT_TRUE(encoder.InitEncoder(smallSettings()));
        PacketLog log;
        encoder.RegisterCallback(&log);
        encoder.Start();
        for (int i = 0; i < 20; ++i) {
            for (int wait = 0; wait < 5000 && encoder.queuedFrameCount() >= H264Encoder::kMaxQueuedFrames - 1; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            encoder.Encode(syntheticFrame(kWidth, kHeight, i), i * 33333);
        }
        for (int wait = 0; wait < 10000 && encoder.queuedFrameCount() > 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // The picture taken last comes out within this, unless held back.
        for (int wait = 0; wait < 200 && log.pts().size() < 20; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        heldBack = 20 - int(log.pts().size());
        encoder.Stop();
    }
    if (heldBack == 0)
        GTEST_SKIP() << "the encoder keeps no frame back on this machine";

    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    // Every packet refused says so.
    const WarningCount refused("Could not save encoded image, recorder have not started!");
    fixture.recorder->setSavePath(path);
    fixture.recorder->initEncoder(smallSettings());
    // Frames kept from the request until the start are never dropped, however
    // busy the machine: two seconds of them, all reach the encoder.
    const int handed = VideoRecorder::kMaxBacklogFrames;
    const int64_t end = feedFrames(*fixture.recorder, handed, 33333);
    QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
    ASSERT_TRUE(fixture.recorder->isRecording());
    // Paused once the first second is in the file: its fragment reaches the
    // file as the packet that starts the next one is written.
    const qint64 header = QFileInfo(path).size();
    ASSERT_TRUE(waitFor([&] { return QFileInfo(path).size() > header; }, 30000));
    fixture.pause();
    EXPECT_FALSE(fixture.recorder->isRecording());
    feedFrames(*fixture.recorder, 10, 33333, end, handed);  // ignored while paused
    fixture.stop();
    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened);
    // The file holds the frames handed in from the first on, in order, each
    // once, up to those the encoder still held at the pause: they came out
    // at the stop's flush and were refused, each saying so.
    EXPECT_GT(info.packets, 30);
    EXPECT_EQ(info.frames, indices(0, info.packets));
    EXPECT_GT(refused.count(), 0);
    EXPECT_EQ(info.packets + refused.count(), handed);
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
    ASSERT_EQ(fixture.finishedReports().size(), 1);
    EXPECT_TRUE(fixture.finishedReports().at(0).second);
}

TEST(Recorder, EncodedImagesAreWrittenLikePackets)
{
    // Encoded pictures made elsewhere (here by an encoder of their own) and
    // handed in as records: two seconds of a camera at 15 fps set up as 30.
    std::vector<EncodedImage> images;
    {
        class ImageLog final : public EncodedImageCallback
        {
        public:
            explicit ImageLog(std::vector<EncodedImage> *images) : images_(images) {}
            bool OnEncodedPacket(AVPacket *packet, int width, int height) override
            {
                EncodedImage image;
                image.width = width;
                image.height = height;
                image.keyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                image.timestamp = packet->pts;
                auto buffer = EncodedImageBuffer::create(packet->size);
                std::memcpy(buffer->mutableData(), packet->data, size_t(packet->size));
                image.buffer = buffer;
                image.size = packet->size;
                images_->push_back(image);
                return true;
            }
            bool OnEncodedImage(const EncodedImage &) override { return false; }

        private:
            std::vector<EncodedImage> *images_;
        } log(&images);
        H264Encoder encoder(probeOnly({"libx264"}));
        ASSERT_TRUE(encoder.InitEncoder(smallSettings(30)));
        encoder.RegisterCallback(&log);
        encoder.Start();
        for (int i = 0; i < 30; ++i) {
            // Never a full queue, so that no frame is dropped.
            for (int wait = 0; wait < 1000 && encoder.queuedFrameCount() > 1; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            encoder.Encode(syntheticFrame(kWidth, kHeight, i), i * 66667);
        }
        encoder.Stop();
    }
    ASSERT_EQ(images.size(), 30u);
    ASSERT_TRUE(images.front().keyFrame);

    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    EXPECT_FALSE(fixture.recorder->OnEncodedImage(images.front()));  // not started
    fixture.start(path, smallSettings(30));
    EncodedImage otherSize = images.front();
    otherSize.width = 640;
    EXPECT_FALSE(fixture.recorder->OnEncodedImage(otherSize));
    EXPECT_FALSE(fixture.recorder->OnEncodedImage(EncodedImage{}));  // no buffer
    for (const EncodedImage &image : images)
        EXPECT_TRUE(fixture.recorder->OnEncodedImage(image));
    fixture.stop();

    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_EQ(info.width, kWidth);
    EXPECT_EQ(info.packets, 30);
    EXPECT_EQ(info.decodedFrames, 30);
    // Records carry no duration: each frame lasts until the next, the last
    // one as long as the one before it, so the 30 frames fill two seconds.
    EXPECT_NEAR(info.lastPacketSeconds, 29.0 / 15, 0.001);
    EXPECT_NEAR(info.durationSeconds, 2.0, 0.001);
    EXPECT_NEAR(info.containerDurationSeconds, 2.0, 0.001);
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
}

TEST(Recorder, FramesOfAnotherSizeAreIgnored)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    fixture.start(path, smallSettings());
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    for (int i = 0; i < 20; ++i) {
        const bool other = i % 2 == 1;
        fixture.recorder->encodeFrame(syntheticFrame(other ? 640 : kWidth, other ? 480 : kHeight, i), i * 33333);
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    // A busy worker (a loaded machine) drops the oldest queued frames.
    const int kept = 10 - int(H264Encoder::droppedFrameCount() - droppedBefore);
    fixture.stop();
    EXPECT_NEAR(readRecording(path).packets, kept, 1);
}

TEST(Recorder, StartWithoutEncoderSettingsOrTwiceDoesNothingMore)
{
    QTemporaryDir folder;
    RecorderOnThread fixture;
    fixture.recorder->setSavePath(recordingPath(folder));
    QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
    EXPECT_FALSE(fixture.recorder->isRecording());
    EXPECT_TRUE(QDir(folder.path()).isEmpty());

    VideoCodecSettings mjpeg = smallSettings();
    mjpeg.type = 2;
    fixture.recorder->initEncoder(mjpeg);  // refused: only H.264
    QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
    EXPECT_FALSE(fixture.recorder->isRecording());

    fixture.start(recordingPath(folder), smallSettings());
    EXPECT_TRUE(fixture.recorder->isRecording());
    fixture.start(recordingPath(folder, "other.mp4"), smallSettings());
    EXPECT_TRUE(fixture.recorder->isRecording());
    EXPECT_FALSE(QFile::exists(recordingPath(folder, "other.mp4")));
    feedFrames(*fixture.recorder, 5, 33333);
    fixture.stop();
    // The settings were used up by the recording: a further start opens nothing.
    const QDateTime written = QFileInfo(recordingPath(folder)).lastModified();
    QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
    EXPECT_FALSE(fixture.recorder->isRecording());
    EXPECT_EQ(QFileInfo(recordingPath(folder)).lastModified(), written);
    EXPECT_TRUE(readRecording(recordingPath(folder)).opened);
}

TEST(Recorder, FramesFromTheRequestUpToTheBoundAreRecordedWhileTheEncoderOpens)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    const int bound = VideoRecorder::kMaxBacklogFrames;
    {
        RecorderOnThread fixture;
        fixture.recorder->setSavePath(path);
        fixture.recorder->initEncoder(smallSettings());
        // Frames come while the recorder thread has not started yet: those up
        // to the bound are kept, the first one past it is lost.
        const int64_t next = feedFrames(*fixture.recorder, bound + 1, 33333);
        QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
        ASSERT_TRUE(fixture.recorder->isRecording());
        const int64_t droppedBefore = H264Encoder::droppedFrameCount();
        feedFrames(*fixture.recorder, 10, 33333, next, bound + 1);
        const int kept = 10 - int(H264Encoder::droppedFrameCount() - droppedBefore);
        fixture.stop();
        EXPECT_EQ(fixture.recorder->startTiming().firstFrameCaptureUs, 1000000);
        // The kept frames go first, every one; then those after the start that
        // a busy worker did not drop, in order.
        const RecordingInfo info = readRecording(path);
        ASSERT_EQ(info.frames.size(), bound + kept);
        EXPECT_EQ(info.frames.mid(0, bound), indices(0, bound));
        for (int i = bound; i < info.frames.size(); ++i)
            EXPECT_TRUE(info.frames[i] > info.frames[i - 1] && info.frames[i] > bound && info.frames[i] <= bound + 10)
                << i << ": " << info.frames[i];
    }
    // The bound in bytes, reached before the bound in frames: it holds
    // exactly 32 frames of 4096x1024, and the 33rd is lost.
    const int width = 4096, height = 1024;
    const qint64 frameBytes = qint64(width) * height * 3 / 2;
    const int fitting = int(VideoRecorder::kMaxBacklogBytes / frameBytes);
    ASSERT_EQ(fitting * frameBytes, VideoRecorder::kMaxBacklogBytes);
    ASSERT_LT(fitting, bound);
    const QString large = recordingPath(folder, "large.mp4");
    {
        RecorderOnThread fixture;
        fixture.recorder->setSavePath(large);
        fixture.recorder->initEncoder(recordingCodecSettings(width, height, 30));
        for (int i = 0; i <= fitting; ++i)
            fixture.recorder->encodeFrame(syntheticFrame(width, height, i), 1000000 + i * 33333);
        QMetaObject::invokeMethod(fixture.recorder, "start", Qt::BlockingQueuedConnection);
        ASSERT_TRUE(fixture.recorder->isRecording());
        fixture.stop();
    }
    EXPECT_EQ(readRecording(large).frames, indices(0, fitting));
}

TEST(Recorder, RecordingThatGetsNoFrameLeavesNoFileAndSaysSo)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    fixture.start(path, smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    fixture.stop();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(fixture.failureMessages(), QStringList{VideoRecorder::failureText(VideoRecorder::Failure::NothingRecorded)});
    EXPECT_EQ(fixture.finishedReports(), (QList<QPair<QString, bool>>{{path, false}}));
}

TEST(Recorder, StopWhileTheCaptureThreadFeedsFramesIsSafe)
{
    QTemporaryDir folder;
    RecorderOnThread fixture;
    std::atomic<bool> feeding{true};
    std::thread capture([&] {
        int i = 0;
        while (feeding) {
            fixture.recorder->encodeFrame(syntheticFrame(kWidth, kHeight, i), captureClockMicroseconds());
            ++i;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (int round = 0; round < 4; ++round) {
        const QString path = recordingPath(folder, QString("round%1.mp4").arg(round).toUtf8().constData());
        fixture.start(path, smallSettings());
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        fixture.stop();
        EXPECT_TRUE(readRecording(path).opened) << round;
    }
    feeding = false;
    capture.join();
    EXPECT_TRUE(fixture.failureMessages().isEmpty());
}

TEST(RecorderFailure, NoUsableEncoderIsReportedAndCreatesNoFile)
{
    QTemporaryDir folder;
    RecorderOnThread fixture;
    fixture.recorder->setEncoderProbe(probeOnly({}));
    fixture.start(recordingPath(folder), smallSettings());
    EXPECT_FALSE(fixture.recorder->isRecording());
    EXPECT_EQ(fixture.failureMessages().size(), 1);
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST(RecorderFailure, HardwareEncoderFailureFallsBackAndRecords)
{
    QTemporaryDir folder;
    RecorderOnThread fixture;
    fixture.recorder->setEncoderProbe(probeOnly({"h264_nvenc", "libx264"}));
    fixture.start(recordingPath(folder), smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    if (fixture.recorder->encoderKind() == H264EncoderKind::Nvenc)
        GTEST_SKIP() << "NVENC works on this machine";
    EXPECT_EQ(fixture.recorder->encoderKind(), H264EncoderKind::X264);
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    feedFrames(*fixture.recorder, 10, 33333);
    const int kept = 10 - int(H264Encoder::droppedFrameCount() - droppedBefore);
    fixture.stop();
    EXPECT_NEAR(readRecording(recordingPath(folder)).packets, kept, 1);
}

TEST(RecorderFailure, UnwritablePlacesAreReportedWithTheirCause)
{
    QTemporaryDir folder;
    QFile plainFile(folder.path() + "/not_a_folder");
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    // A file where a folder is expected, a missing folder, a folder of /proc
    // (read-only even for root, and without free space).
    const QList<QPair<QString, QString>> places{
        {plainFile.fileName() + "/recording.mp4",
         VideoRecorder::failureText(VideoRecorder::Failure::CannotCreateFile, "Not a directory")},
        {folder.path() + "/missing/recording.mp4",
         VideoRecorder::failureText(VideoRecorder::Failure::CannotCreateFile, "No such file or directory")},
        {"/proc/vorenta_recording.mp4", VideoRecorder::failureText(VideoRecorder::Failure::NoSpace)}};
    for (const auto &[path, cause] : places) {
        SCOPED_TRACE(path.toStdString());
        RecorderOnThread fixture;
        fixture.start(path, smallSettings());
        EXPECT_FALSE(fixture.recorder->isRecording());
        ASSERT_EQ(fixture.failureMessages().size(), 1);
        EXPECT_TRUE(fixture.failureMessages().at(0).contains(cause)) << fixture.failureMessages().at(0).toStdString();
        EXPECT_FALSE(QFileInfo(path).isFile());
    }
}

// Writes into a removed file still go through, into a file no one can open
// again: the recording is lost, and says so while it records.
TEST(RecorderFailure, RecordingWhoseFolderIsRemovedIsToldAsLostAtOnce)
{
    QTemporaryDir base;
    const QString folder = base.path() + "/videos";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/lost.mp4";
    RecorderOnThread fixture;
    fixture.start(path, smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    int64_t next = feedFrames(*fixture.recorder, 10, 33333);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    // Within the pace of the free-space query, with frames still coming.
    EXPECT_TRUE(waitFor(
        [&] {
            next = feedFrames(*fixture.recorder, 1, 33333, next);
            return !fixture.failureMessages().isEmpty();
        },
        10000));
    fixture.stop();
    EXPECT_EQ(fixture.failureMessages(), QStringList{lostMessage(path)});
    EXPECT_EQ(fixture.finishedReports(), (QList<QPair<QString, bool>>{{path, false}}));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// The recording's file removed and another program's file made at its
// path, just before the stop: the recording is lost, and the other file is
// neither finalised nor cut.
TEST(RecorderFailure, RecordingWhoseFileIsReplacedIsLostAndTheOtherFileIsLeftWhole)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    // The other file is a recording too, as fragmented as ours: one that
    // would be finalised if it were taken for ours.
    const QString otherSource = recordingPath(folder, "other.mp4");
    recordFragmented(otherSource, 40);
    const QByteArray otherBytes = bytesOf(otherSource);
    ASSERT_TRUE(readRecording(otherSource).topLevelBoxes.contains("moof"));

    RecorderOnThread fixture;
    fixture.start(path, smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    feedFrames(*fixture.recorder, 40, 33333);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(otherSource, path));
    fixture.stop();
    EXPECT_EQ(fixture.failureMessages(), QStringList{lostMessage(path)});
    EXPECT_EQ(fixture.finishedReports(), (QList<QPair<QString, bool>>{{path, false}}));
    EXPECT_TRUE(bytesOf(path) == otherBytes);
    EXPECT_FALSE(QFile::exists(path + ".finalising"));
}

// A folder renamed while it records (in a file manager, say): the file is
// still there, under its new name, and the recording goes on into it.
TEST(Recorder, RecordingWhoseFolderIsRenamedGoesOnAndIsFinishedWhereItIsNow)
{
    QTemporaryDir base;
    const QString folder = base.path() + "/videos";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString movedPath = base.path() + "/renamed/kept.mp4";
    RecorderOnThread fixture;
    const int64_t droppedBefore = H264Encoder::droppedFrameCount();
    fixture.start(folder + "/kept.mp4", smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    int fed = 10;
    int64_t next = feedFrames(*fixture.recorder, fed, 33333);
    ASSERT_TRUE(QDir().rename(folder, base.path() + "/renamed"));
    // Frames keep coming past the recorder's next look at its file.
    ASSERT_TRUE(waitFor(
        [&] {
            next = feedFrames(*fixture.recorder, 1, 33333, next, fed++);
            return fixture.recorder->currentPath() == movedPath;
        },
        10000));
    feedFrames(*fixture.recorder, 10, 33333, next, fed);
    fed += 10;
    fixture.stop();
    const int kept = fed - int(H264Encoder::droppedFrameCount() - droppedBefore);
    EXPECT_TRUE(fixture.failureMessages().isEmpty()) << fixture.failureMessages().join("; ").toStdString();
    EXPECT_EQ(fixture.finishedReports(), (QList<QPair<QString, bool>>{{movedPath, true}}));
    // Every frame fed, but those a busy worker dropped, in order, to the last.
    const RecordingInfo info = readRecording(movedPath);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_EQ(info.frames.size(), kept);
    EXPECT_TRUE(std::is_sorted(info.frames.begin(), info.frames.end()));
    EXPECT_EQ(info.frames.isEmpty() ? -1 : info.frames.last(), fed - 1);
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
}

// The file turns unreadable in its second fragment while it records (a
// fragment index pointing before the file's start): the finalise can't read
// it, and says why.
TEST(RecorderFailure, FinaliseThatCannotReadTheFileNamesTheCause)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    RecorderOnThread fixture;
    fixture.start(path, smallSettings());
    ASSERT_TRUE(fixture.recorder->isRecording());
    int64_t next = 1000000;
    // The second fragment index, once it is in the file whole.
    const auto secondIndex = [&path] {
        int seen = 0;
        for (const Mp4Box &box : mp4Boxes(path))
            if (box.type == "moof" && ++seen == 2 && box.offset + box.size <= QFileInfo(path).size())
                return box;
        return Mp4Box{};
    };
    ASSERT_TRUE(waitFor(
        [&] {
            next = feedFrames(*fixture.recorder, 1, 33333, next);
            return secondIndex().size > 0;
        },
        30000));
    const Mp4Box second = secondIndex();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(second.offset));
    const qint64 trun = file.read(second.size).indexOf("trun");
    ASSERT_GT(trun, 0);
    // The trun's data offset: after its type, version and flags and count.
    ASSERT_TRUE(file.seek(second.offset + trun + 12));
    ASSERT_EQ(file.write(QByteArray::fromHex("80000000")), 4);
    file.close();
    feedFrames(*fixture.recorder, 10, 33333, next);
    fixture.stop();
    EXPECT_EQ(fixture.failureMessages(),
              QStringList{"The recording was saved, but it could not be finalised (Invalid data found when processing "
                          "input); some players may not show its length or seek in it."});
    EXPECT_EQ(fixture.finishedReports(), (QList<QPair<QString, bool>>{{path, false}}));
}

TEST(RecorderFailure, FailedHeaderWriteIsReportedAndLeavesTheDeviceAlone)
{
    // Every write to /dev/full fails with "no space left".
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    RecorderOnThread fixture;
    fixture.start("/dev/full", smallSettings());
    EXPECT_FALSE(fixture.recorder->isRecording());
    EXPECT_EQ(fixture.failureMessages().size(), 1);
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
}

TEST(RecorderFailure, KilledRecordingLeavesAPlayableFile)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(VORENTA_RECORDER_CHILD, {"record", path});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForReadyRead(30000)) << "child did not start recording";
    EXPECT_EQ(child.readLine().trimmed(), QByteArray("started"));
    // Killed once a second and a half of frames (at 30 fps) are in complete
    // fragments, however slowly a busy machine records them: no trailer, no
    // finalising.
    int inFile = 0;
    const bool recorded = waitFor(
        [&] {
            QThread::msleep(50);
            inFile = completeFramesIn(path);
            return inFile >= 45;
        },
        60000);
    child.kill();
    ASSERT_TRUE(child.waitForFinished(10000));
    ASSERT_TRUE(recorded) << inFile << " frames in complete fragments";

    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_TRUE(info.h264);
    EXPECT_EQ(info.width, kWidth);
    EXPECT_EQ(info.height, kHeight);
    EXPECT_TRUE(info.topLevelBoxes.contains("moof"));
    // Everything in the file before the kill plays, in its time: the child
    // hands a frame over at most every 33 ms.
    EXPECT_GE(info.decodedFrames, inFile);
    EXPECT_GE(info.durationSeconds, (inFile - 1) * 0.033);
    // A fragment about every second of it, whatever a busy machine's pauses
    // between frames add to one: a kill loses about the last second.
    const QList<Mp4Box> boxes = mp4Boxes(path);
    const auto fragments = std::count_if(boxes.begin(), boxes.end(), [](const Mp4Box &box) { return box.type == "moof"; });
    EXPECT_GE(fragments, int(info.durationSeconds / 1.5)) << info.durationSeconds << " s";
}

namespace {

// Runs the recorder child with `mode` on a volume of `megabytes` of its own,
// visible only inside a private mount namespace; its output (a failure when
// no such volume can be mounted here).
QString runOnPrivateVolume(const char *mode, int megabytes)
{
    QTemporaryDir folder;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start("unshare", {"-m", "sh", "-c",
                            QString("mount -t tmpfs -o size=%1m tmpfs \"$1\" || exit 77; exec \"$2\" %2 \"$1\"")
                                .arg(megabytes)
                                .arg(mode),
                            "sh", folder.path(), VORENTA_RECORDER_CHILD});
    if (!child.waitForStarted(10000) || !child.waitForFinished(60000) || child.exitCode() == 77) {
        ADD_FAILURE() << "no private tmpfs could be mounted (unshare and mount need root)";
        return QString();
    }
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    return output;
}

// The number after "name=" in the child's report; -1 when it is missing.
int reported(const QString &output, const QString &name)
{
    const QRegularExpressionMatch match = QRegularExpression("\\b" + name + "=(\\d+)").match(output);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

TEST(RecorderFailure, FullVolumeIsReportedAndKeepsWhatWasRecorded)
{
    const QString output = runOnPrivateVolume("fill", 4);
    SCOPED_TRACE(output.toStdString());
    EXPECT_TRUE(output.contains("failed=1") || output.contains("lack=1"));
    // Whichever came first, the message names the file that was kept.
    EXPECT_EQ(reported(output, "named"), 1);
    EXPECT_EQ(reported(output, "opened"), 1);
    EXPECT_GE(reported(output, "decoded"), 45);  // the 2.5 s before the volume filled, less the last fragment
    EXPECT_EQ(reported(output, "decoded"), reported(output, "packets"));
    EXPECT_EQ(reported(output, "errors"), 0);
}

TEST(RecorderFailure, AFrameRefusedForSpaceIsTheEndOfWhatIsWritten)
{
    const QString output = runOnPrivateVolume("refuse", 8);
    SCOPED_TRACE(output.toStdString());
    const auto part = [&output](const QString &name) {
        for (const QString &line : output.split('\n'))
            if (line.startsWith(name + ":"))
                return line;
        return QString();
    };
    // The first frame, the key frame, did not fit: none of the frames after
    // it is written, and no file without a decodable frame is left.
    const QString first = part("first");
    EXPECT_EQ(reported(first, "lack"), 1);
    EXPECT_EQ(reported(first, "exists"), 0);
    EXPECT_EQ(reported(first, "noSpace"), 1);
    EXPECT_EQ(reported(first, "nothing"), 1);
    // A frame in the middle did not fit: the file ends with the frame before
    // it, plays without errors, and the message names it.
    const QString middle = part("middle");
    EXPECT_EQ(reported(middle, "lack"), 1);
    EXPECT_EQ(reported(middle, "noSpace"), 1);
    EXPECT_EQ(reported(middle, "named"), 1);
    EXPECT_EQ(reported(middle, "errors"), 0);
    EXPECT_EQ(reported(middle, "packets"), reported(middle, "fitting"));
    EXPECT_EQ(reported(middle, "decoded"), reported(middle, "fitting"));
}

TEST(RecorderFailure, ReadOnlyFolderNamesTheCause)
{
    // The folder turns read-only while it records: the recording is not
    // finalised, and the next one is not created.
    const QString output = runOnPrivateVolume("readonly", 8);
    SCOPED_TRACE(output.toStdString());
    const QString cause = "Read-only file system";
    EXPECT_TRUE(output.contains(
        "finalising: " + VideoRecorder::failureText(VideoRecorder::Failure::CannotFinalise, cause) + "\n"));
    EXPECT_TRUE(output.contains(
        "creating: " + VideoRecorder::failureText(VideoRecorder::Failure::CannotCreateFile, cause) + "\n"));
}

TEST(RecorderFailure, VolumeFullBeforeTheFirstFragmentLeavesNoFileAndSaysNothingWasRecorded)
{
    const QString output = runOnPrivateVolume("empty", 4);
    SCOPED_TRACE(output.toStdString());
    EXPECT_EQ(reported(output, "nothing"), 1);
    EXPECT_EQ(reported(output, "cannotWrite"), 0);
    EXPECT_EQ(reported(output, "exists"), 0);
}

TEST(RecorderFailure, FragmentHeldInMemoryCountsAgainstTheFreeSpace)
{
    // Everything recorded is in one fragment that the muxer holds until the
    // stop; the recording must stop taking frames while that fragment still
    // fits, not fail to write it.
    const QString output = runOnPrivateVolume("spill", 16);
    SCOPED_TRACE(output.toStdString());
    EXPECT_EQ(reported(output, "lack"), 1);
    EXPECT_EQ(reported(output, "cannotWrite"), 0);
    EXPECT_EQ(reported(output, "opened"), 1);
    EXPECT_GT(reported(output, "decoded"), 0);
}

TEST(RecorderFailure, WritesFailingInsideAFragmentLeaveEveryCompleteFragmentReadable)
{
    // Writes fail a little way into a fragment's index, once while recording
    // and once in the trailer: a fragment index cut short would make the
    // whole file unreadable.
    QTemporaryDir folder;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(VORENTA_RECORDER_CHILD, {"tear", folder.path()});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    SCOPED_TRACE(output.toStdString());
    ASSERT_EQ(child.exitCode(), 0);
    const QStringList lines = output.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    for (const QString &line : lines) {
        QMap<QString, qint64> values;
        for (const QString &pair : line.split(' ')) {
            const QStringList parts = pair.split('=');
            if (parts.size() == 2)
                values[parts[0]] = parts[1].toLongLong();
        }
        EXPECT_EQ(values["failed"], 1);
        EXPECT_EQ(values["cause"], 1);  // "could not be written (File too large)"
        EXPECT_EQ(values["opened"], 1);
        // The run wrote what the reference did up to the failure, and the
        // file keeps exactly the fragments before the failed one.
        EXPECT_EQ(values["same"], 1);
        EXPECT_EQ(values["size"], values["boundary"]);
        EXPECT_GT(values["decoded"], 0);
        EXPECT_EQ(values["decoded"], values["expected"]);
    }
}

TEST(RecordingRepair, CutFilesKeepTheirCompleteFragments)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    EXPECT_EQ(recordFragmented(path, 90), (QList<QPair<QString, bool>>{{path, false}}));
    const QList<Mp4Box> boxes = mp4Boxes(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    ASSERT_GE(std::count_if(boxes.begin(), boxes.end(), [](const Mp4Box &box) { return box.type == "moof"; }), 3);

    // Cuts inside every box, and at its very end; each file is cut back to
    // the end of the last box that is not a fragment index on its own.
    const QString cutPath = folder.path() + "/cut.mp4";
    int cuts = 0;
    for (const Mp4Box &box : boxes) {
        if (box.offset < boxes[2].offset)  // ftyp and moov are written before any frame
            continue;
        for (qint64 cut : {box.offset + 8, box.offset + box.size / 2, box.offset + box.size - 1, box.offset + box.size}) {
            SCOPED_TRACE(QString("%1 at %2, cut at %3").arg(box.type).arg(box.offset).arg(cut).toStdString());
            QFile cutFile(cutPath);
            ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
            cutFile.write(bytes.left(cut));
            cutFile.close();
            qint64 expected = 0;
            for (const Mp4Box &earlier : boxes) {
                if (earlier.offset + earlier.size <= cut && earlier.type != "moof")
                    expected = earlier.offset + earlier.size;
            }
            EXPECT_EQ(cutToCompleteFragments(cutPath), expected);
            EXPECT_EQ(QFileInfo(cutPath).size(), expected);
            const RecordingInfo info = readRecording(cutPath);
            EXPECT_TRUE(info.opened);
            ++cuts;
        }
    }
    EXPECT_GE(cuts, 20);
    // Not a box structure at all: left alone.
    QFile text(folder.path() + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a recording");
    text.close();
    EXPECT_EQ(cutToCompleteFragments(text.fileName()), -1);
    EXPECT_EQ(text.size(), 15);
}

TEST(RecordingRepair, AbandonedFinalisingLeavesTheRecordingAsItWas)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    recordFragmented(path, 40);
    const QByteArray before = bytesOf(path);
    const std::atomic<bool> abandon{true};
    QString error;
    EXPECT_FALSE(finaliseRecording(path, &error, &abandon));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(path + ".finalising"));
    EXPECT_TRUE(bytesOf(path) == before);
    // Not abandoned, the same file is finalised.
    const std::atomic<bool> goOn{false};
    EXPECT_TRUE(finaliseRecording(path, &error, &goOn)) << error.toStdString();
    EXPECT_FALSE(readRecording(path).topLevelBoxes.contains("moof"));
}

// The recording moved away while it was being finalised, and a copy of it
// (another program's file, as alike as can be) made at its old path: that
// file is not replaced; the recording where it is now is finalised.
TEST(RecordingRepair, FinalisingReplacesOnlyTheRecordingItIsGiven)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    recordFragmented(path, 40);
    RecordingFile recording;
    ASSERT_TRUE(recording.follow(path));
    const QString moved = recordingPath(folder, "moved.mp4");
    ASSERT_TRUE(QFile::rename(path, moved));
    ASSERT_TRUE(QFile::copy(moved, path));
    const QByteArray before = bytesOf(path);

    QString error;
    QString cause;
    EXPECT_FALSE(finaliseRecording(path, &error, nullptr, &cause, &recording));
    EXPECT_EQ(cause, "No such file or directory");
    EXPECT_TRUE(bytesOf(path) == before);
    EXPECT_FALSE(QFile::exists(path + ".finalising"));
    EXPECT_TRUE(finaliseRecording(moved, &error, nullptr, &cause, &recording)) << error.toStdString();
    EXPECT_FALSE(readRecording(moved).topLevelBoxes.contains("moof"));
}

namespace {

// A recorder on a thread of its own, recording, as a capture thread would
// hand it over.
struct HandedOverRecording {
    QThread *thread = new QThread;
    VideoRecorder *recorder = new VideoRecorder;
    QObject receiver;
    QList<QPair<QString, bool>> finished;
    bool handedOver = false;
    // Frames the encoder kept: a busy worker (a loaded machine) drops the
    // oldest queued frames while they are fed.
    int keptFrames = 0;

    HandedOverRecording(const QString &path, int frames)
    {
        const int64_t droppedBefore = H264Encoder::droppedFrameCount();
        recorder->moveToThread(thread);
        QObject::connect(recorder, &VideoRecorder::recordingFinished, &receiver,
                         [this](const QString &file, bool ok) { finished << qMakePair(file, ok); });
        thread->start();
        recorder->setSavePath(path);
        recorder->initEncoder(smallSettings());
        QMetaObject::invokeMethod(recorder, "start", Qt::BlockingQueuedConnection);
        feedFrames(*recorder, frames, 33333);
        keptFrames = frames - int(H264Encoder::droppedFrameCount() - droppedBefore);
    }
    ~HandedOverRecording()
    {
        if (!handedOver) {
            FinishingRecorders::adopt(recorder, thread);
            FinishingRecorders::waitForAll(30000);
        }
    }
    // Hands both over, as a capture thread closed mid-recording does.
    bool handOver()
    {
        if (!recorder->isRecording())
            return false;
        handedOver = true;
        FinishingRecorders::adopt(recorder, thread);
        return true;
    }
    // Reports are queued to this thread.
    void deliverReports()
    {
        for (int i = 0; i < 100 && finished.isEmpty(); ++i)
            QTest::qWait(10);
    }
};

}  // namespace

TEST(FinishingRecorders, HandedOverRecordingIsFinishedOnItsOwnThread)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    HandedOverRecording recording(path, 60);
    ASSERT_TRUE(recording.handOver());
    EXPECT_GE(FinishingRecorders::pendingCount(), 1);
    EXPECT_TRUE(FinishingRecorders::waitForAll(30000));
    EXPECT_EQ(FinishingRecorders::pendingCount(), 0);
    recording.deliverReports();
    ASSERT_EQ(recording.finished.size(), 1);
    EXPECT_EQ(recording.finished.at(0), qMakePair(path, true));
    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened);
    EXPECT_FALSE(info.topLevelBoxes.contains("moof"));
    EXPECT_NEAR(info.packets, recording.keptFrames, 2);
}

TEST(FinishingRecorders, PastTheBoundTheFragmentedFileStaysAndNothingIsLeftBehind)
{
    QTemporaryDir folder;
    const QString path = recordingPath(folder);
    const WarningCount givenUp("Recordings still finishing at exit");
    HandedOverRecording recording(path, 60);
    // The recorder thread is held until the wait has given up, so that the
    // recording can't be finished within the bound however the threads are
    // scheduled (a few milliseconds would do it).
    QMetaObject::invokeMethod(
        recording.recorder,
        [&givenUp] {
            for (int wait = 0; wait < 10000 && givenUp.count() == 0; ++wait)
                QThread::msleep(1);
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(recording.handOver());
    EXPECT_FALSE(FinishingRecorders::waitForAll(0));
    // The recorder let go of its file within the grace time and is gone.
    EXPECT_EQ(FinishingRecorders::pendingCount(), 0);
    EXPECT_FALSE(QFile::exists(path + ".finalising"));
    recording.deliverReports();
    ASSERT_EQ(recording.finished.size(), 1);
    EXPECT_EQ(recording.finished.at(0), qMakePair(path, false));
    // The recording as written: fragmented, complete, playable.
    const RecordingInfo info = readRecording(path);
    ASSERT_TRUE(info.opened) << info.error.toStdString();
    EXPECT_TRUE(info.topLevelBoxes.contains("moof"));
    EXPECT_NEAR(info.decodedFrames, recording.keptFrames, 2);
}
