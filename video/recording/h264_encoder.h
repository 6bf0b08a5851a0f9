// H.264 encoding of camera frames with libavcodec. The encoder picks the best
// H.264 encoder that opens on this machine (NVENC, then Quick Sync, then
// libx264), encodes on a worker thread of its own fed through a short queue,
// and hands every packet to a registered callback on that worker thread.
#pragma once

#include "video_frame.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct VideoCodecSettings {
    int32_t width = 0;
    int32_t height = 0;
    int32_t type = 1;      // 1 = H.264; anything else is MJPEG, which the recorder refuses
    int32_t fps = 0;
    int32_t bit_rate = 0;  // bits per second (Quick Sync only; the others use qp or crf)
    int32_t qp_min = 0;    // carried, not given to an encoder
    int32_t qp_max = 0;    // carried, not given to an encoder
    int32_t qp = 0;        // NVENC and Quick Sync quantiser
    float crf = 0.0f;      // libx264 constant rate factor
    bool frame_drop = false;  // carried, not used
    int32_t gop = 0;       // key-frame interval in frames

    // "Video Codec: width=1920, height=1080, fps=30, ..." for the log.
    QString toString() const;
};

// The settings a recording of a width x height capture at `fps` frames per
// second uses: GOP of 5 seconds, quantiser bounds 20..40, and above 1920x1080
// crf 28 / qp 32 / 60 Mbit/s at 30 fps, else crf 25 / qp 27 / 15 Mbit/s at
// 30 fps. The bit rate scales with fps / 30 in exact arithmetic, so a 25 fps
// camera gets 25/30 of the base rather than nothing. fps <= 0 counts as 30.
VideoCodecSettings recordingCodecSettings(int width, int height, int fps);

// Encoded picture as a plain record, for callers that produce their own
// encoded pictures. H264Encoder delivers packets instead.
class EncodedImageBufferInterface
{
public:
    virtual ~EncodedImageBufferInterface() = default;
    virtual const uint8_t *data() const = 0;
    virtual int size() const = 0;
};

class EncodedImageBuffer final : public EncodedImageBufferInterface
{
public:
    // Always owned through a shared pointer; null when memory runs out.
    static std::shared_ptr<EncodedImageBuffer> create(int size);
    ~EncodedImageBuffer() override;
    const uint8_t *data() const override { return data_; }
    uint8_t *mutableData() { return data_; }
    int size() const override { return size_; }

private:
    EncodedImageBuffer(uint8_t *data, int size) : data_(data), size_(size) {}
    uint8_t *data_;
    int size_;
};

struct EncodedImage {
    int32_t streamIndex = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool keyFrame = false;
    int64_t timestamp = 0;  // presentation time in the encoder's time base
    std::shared_ptr<EncodedImageBufferInterface> buffer;
    int size = 0;
};

class EncodedImageCallback
{
public:
    virtual ~EncodedImageCallback() = default;
    // Called on the encoder's worker thread. The packet stays the encoder's:
    // a callback that keeps it takes its own reference.
    virtual bool OnEncodedPacket(AVPacket *packet, int width, int height) = 0;
    virtual bool OnEncodedImage(const EncodedImage &image) = 0;
};

class VideoEncoder
{
public:
    virtual ~VideoEncoder() = default;
    virtual bool EnableCompatibilityMode() = 0;
    virtual bool InitEncoder(const VideoCodecSettings &settings) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual AVCodecContext *CodecContext() const { return nullptr; }
    // `captureTimeUs`: when the frame was captured, in microseconds of a
    // monotonic clock. Frames are placed in time by it, not by their count.
    virtual void Encode(const VideoFrame &frame, int64_t captureTimeUs) = 0;
    virtual void Release() = 0;
    virtual void RegisterCallback(EncodedImageCallback *callback) = 0;
};

enum class H264EncoderKind : int { None = -1, Nvenc = 0, QuickSync = 1, X264 = 2 };

// "h264_nvenc", "h264_qsv", "libx264"; null for None.
const char *h264EncoderName(H264EncoderKind kind);

// Whether the named encoder opens at 1920x1080 on this machine.
using EncoderProbe = std::function<bool(const char *encoderName)>;
bool probeH264Encoder(const char *encoderName);
// `probe` asked at most once per encoder name; the answers are kept for as
// long as any copy of the returned probe lives. Opening a hardware encoder
// to see whether it works takes tens of milliseconds, and the answer can't
// change while the program runs.
EncoderProbe memoisedProbe(EncoderProbe probe);
// probeH264Encoder, asked once per name in the whole process.
EncoderProbe defaultEncoderProbe();
// The first kind of NVENC, Quick Sync, libx264 that passes `probe`; None when none does.
H264EncoderKind chooseH264EncoderKind(const EncoderProbe &probe);

class H264EncoderBackend;

class H264Encoder final : public VideoEncoder
{
public:
    // Time base of the encoder and of its packets: the 90 kHz clock of MPEG video.
    static constexpr int kTimeBase = 90000;
    // Frames waiting for the worker after an append; older ones are dropped.
    static constexpr int kMaxQueuedFrames = 6;
    // Pictures an encoder that holds pictures back leaves to the one that
    // doesn't at the start (a quarter of a second at 30 fps): long enough to
    // open the other, at 4K too.
    static constexpr int kFirstPictures = 8;

    explicit H264Encoder(EncoderProbe probe = defaultEncoderProbe());
    ~H264Encoder() override;
    H264Encoder(const H264Encoder &) = delete;
    H264Encoder &operator=(const H264Encoder &) = delete;

    H264EncoderKind kind() const { return kind_; }

    bool EnableCompatibilityMode() override;
    bool InitEncoder(const VideoCodecSettings &settings) override;
    void Start() override;
    void Stop() override;
    // The stream's parameters come from it. An encoder that starts on a
    // second context for its first packets (libx264) goes over to its own
    // after kFirstPictures: read it before `Start`.
    AVCodecContext *CodecContext() const override { return context_; }
    void Encode(const VideoFrame &frame, int64_t captureTimeUs) override;
    // Frames captured before the encoder started, oldest first, queued
    // before every frame Encode has queued. All of them are encoded: the
    // drop of the oldest frame when the queue is full passes over them.
    // Ignored while not running.
    void EncodeBacklog(std::deque<std::pair<VideoFrame, int64_t>> frames);
    void Release() override;
    void RegisterCallback(EncodedImageCallback *callback) override;

    int queuedFrameCount() const;
    // Frames dropped by every encoder of the process since it started.
    static int64_t droppedFrameCount();

private:
    struct QueuedFrame {
        VideoFrame frame;
        int64_t captureTimeUs = 0;
        bool held = false;  // from a backlog: never dropped
    };

    // An open encoder context for the settings; null after a warning.
    AVCodecContext *openContext(const struct AVCodec *codec, bool firstPackets);
    // On the worker: the context opened meanwhile takes over from the one
    // for the first packets.
    void takeOver();
    void dropSuccessor();
    void workerLoop();
    void encodeOne(const QueuedFrame &queued);
    void sendAndReceive(AVFrame *picture);
    int64_t presentationTime(int64_t captureTimeUs);

    EncoderProbe probe_;
    H264EncoderKind kind_ = H264EncoderKind::None;
    std::unique_ptr<H264EncoderBackend> backend_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    std::deque<QueuedFrame> queue_;  // held frames first
    int heldCount_ = 0;              // held frames in the queue
    std::atomic<bool> running_{false};

    VideoCodecSettings settings_;
    EncodedImageCallback *callback_ = nullptr;
    EncodedImage image_;

    // Worker-thread state: time origin and last stamp, so that stamps start at
    // 0 and always rise.
    bool haveOrigin_ = false;
    int64_t originUs_ = 0;
    int64_t lastPts_ = -1;

    AVCodecContext *context_ = nullptr;
    // The context that goes on after the first pictures, opened on a thread
    // of its own from `Start`. Always after the same number of pictures, so
    // that the same frames make the same file.
    bool successorWanted_ = false;
    std::thread successorOpener_;
    AVCodecContext *successor_ = nullptr;
    int firstPictures_ = 0;  // encoded by the first context
    AVFrame *source_ = nullptr;     // wraps the queued frame's planes, no copy
    AVFrame *converted_ = nullptr;  // in the encoder's input format, when it differs
    struct SwsContext *scaler_ = nullptr;
    AVPacket *packet_ = nullptr;
};
