#include "h264_encoder.h"

#include "h264_encoder_backend.h"

#include <QDebug>
#include <QTextStream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace {

std::atomic<int64_t> gDroppedFrames{0};

void releaseFrameHolder(void *opaque, uint8_t *)
{
    delete static_cast<std::shared_ptr<I420BufferInterface> *>(opaque);
}

}  // namespace

QString VideoCodecSettings::toString() const
{
    QString text;
    QTextStream stream(&text);
    stream << "Video Codec: width=" << width << ", height=" << height << ", fps=" << fps << ", bit_rate=" << bit_rate
           << ", qp=" << qp << ", qp_min=" << qp_min << ", qp_max=" << qp_max << ", crf=" << crf
           << ", frame_drop=" << (frame_drop ? "true" : "false") << ", type=" << (type == 1 ? "h264" : "mjpeg");
    stream.flush();
    return text;
}

VideoCodecSettings recordingCodecSettings(int width, int height, int fps)
{
    VideoCodecSettings settings;
    settings.width = width;
    settings.height = height;
    settings.type = 1;
    settings.fps = fps > 0 ? fps : 30;
    settings.gop = 5 * settings.fps;
    settings.qp_min = 20;
    settings.qp_max = 40;
    int64_t base;
    if (int64_t(width) * height > 1920 * 1080) {
        settings.crf = 28.0f;
        settings.qp = 32;
        base = 60000000;
    } else {
        settings.crf = 25.0f;
        settings.qp = 27;
        base = 15000000;
    }
    // Multiply first: (fps / 30) in integers would give 0 below 30 fps.
    const int64_t rate = base * settings.fps / 30;
    settings.bit_rate = int32_t(std::min<int64_t>(rate, INT_MAX));
    return settings;
}

std::shared_ptr<EncodedImageBuffer> EncodedImageBuffer::create(int size)
{
    if (size < 0)
        return nullptr;
    auto *data = static_cast<uint8_t *>(std::malloc(size_t(size > 0 ? size : 1)));
    if (!data)
        return nullptr;
    return std::shared_ptr<EncodedImageBuffer>(new EncodedImageBuffer(data, size));
}

EncodedImageBuffer::~EncodedImageBuffer()
{
    std::free(data_);
}

const char *h264EncoderName(H264EncoderKind kind)
{
    switch (kind) {
    case H264EncoderKind::Nvenc:
        return "h264_nvenc";
    case H264EncoderKind::QuickSync:
        return "h264_qsv";
    case H264EncoderKind::X264:
        return "libx264";
    case H264EncoderKind::None:
        break;
    }
    return nullptr;
}

bool probeH264Encoder(const char *encoderName)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec) {
        qWarning("Can't find encoder %s, enc is not support", encoderName);
        return false;
    }
    AVCodecContext *context = avcodec_alloc_context3(codec);
    if (!context) {
        qWarning("%s hardware Enc is not support!!", encoderName);
        return false;
    }
    context->codec_id = codec->id;
    context->time_base = AVRational{1, 30};
    context->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    context->width = 1920;
    context->height = 1080;
    context->bit_rate = 1024000;
    const bool opened = avcodec_open2(context, codec, nullptr) >= 0;
    if (!opened)
        qWarning("%s hardware Enc is not support!!", encoderName);
    avcodec_free_context(&context);
    return opened;
}

EncoderProbe memoisedProbe(EncoderProbe probe)
{
    struct Answers {
        std::mutex mutex;
        std::map<std::string, bool> byName;
    };
    auto answers = std::make_shared<Answers>();
    return [probe = std::move(probe), answers](const char *encoderName) {
        std::lock_guard<std::mutex> lock(answers->mutex);
        const auto known = answers->byName.find(encoderName);
        if (known != answers->byName.end())
            return known->second;
        const bool works = probe && probe(encoderName);
        answers->byName.emplace(encoderName, works);
        return works;
    };
}

EncoderProbe defaultEncoderProbe()
{
    static const EncoderProbe probe = memoisedProbe(probeH264Encoder);
    return probe;
}

H264EncoderKind chooseH264EncoderKind(const EncoderProbe &probe)
{
    for (H264EncoderKind kind : {H264EncoderKind::Nvenc, H264EncoderKind::QuickSync, H264EncoderKind::X264}) {
        if (probe(h264EncoderName(kind)))
            return kind;
    }
    return H264EncoderKind::None;
}

H264Encoder::H264Encoder(EncoderProbe probe) : probe_(std::move(probe))
{
    kind_ = chooseH264EncoderKind(probe_);
}

AVCodecContext *H264Encoder::openContext(const AVCodec *codec, bool firstPackets)
{
    AVCodecContext *context = avcodec_alloc_context3(codec);
    if (!context) {
        qWarning() << "Can't alloc codec context";
        return nullptr;
    }
    context->width = settings_.width;
    context->height = settings_.height;
    context->gop_size = settings_.gop;
    context->time_base = AVRational{1, kTimeBase};
    context->framerate = AVRational{settings_.fps, 1};
    context->bit_rate = 0;
    context->rc_buffer_size = 0;
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // As many threads as the encoder sees fit, like the ffmpeg tool, unless
    // the backend knows better; the libavcodec default of one thread cannot
    // keep up with 4K.
    context->thread_count = 0;

    AVDictionary *options = nullptr;
    if (!backend_->configure(context, settings_, &options, firstPackets)) {
        av_dict_free(&options);
        avcodec_free_context(&context);
        return nullptr;
    }
    const int result = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        qWarning() << "Can't open codec: " << result;
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

H264Encoder::~H264Encoder()
{
    Stop();
    Release();
}

bool H264Encoder::EnableCompatibilityMode()
{
    if (!probe_(h264EncoderName(H264EncoderKind::X264)))
        return false;
    kind_ = H264EncoderKind::X264;
    return true;
}

bool H264Encoder::InitEncoder(const VideoCodecSettings &settings)
{
    Release();
    settings_ = settings;
    image_ = EncodedImage{};
    image_.width = settings.width;
    image_.height = settings.height;

    if (settings.width <= 0 || settings.height <= 0 || settings.fps <= 0) {
        qWarning() << "InitEncoder: invalid settings," << settings.toString();
        return false;
    }

    backend_ = makeH264EncoderBackend(kind_);
    const AVCodec *codec = nullptr;
    if (backend_) {
        // Two spaces for Quick Sync, as the log has always read.
        qDebug().noquote() << (kind_ == H264EncoderKind::QuickSync ? "InitEncoder: use  " : "InitEncoder: use ")
                                  + QString::fromLatin1(backend_->encoderName()) + " encoder";
        codec = avcodec_find_encoder_by_name(backend_->encoderName());
    }
    if (!codec) {
        qWarning() << "Can't find requested codec, codec type: " << int(kind_);
        Release();
        return false;
    }
    // An encoder that holds pictures back starts on one that doesn't.
    successorWanted_ = backend_->holdsPicturesBack();
    context_ = openContext(codec, successorWanted_);
    if (!context_) {
        Release();
        return false;
    }

    source_ = av_frame_alloc();
    if (!source_) {
        qWarning() << "Can't allocate video frame";
        Release();
        return false;
    }
    packet_ = av_packet_alloc();
    if (!packet_) {
        qWarning() << "Can't allocate video packet";
        Release();
        return false;
    }
    if (backend_->inputPixelFormat() == AV_PIX_FMT_YUV420P)
        return true;

    scaler_ = sws_getContext(settings.width, settings.height, AV_PIX_FMT_YUV420P, settings.width, settings.height,
                             backend_->inputPixelFormat(), SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) {
        qWarning() << "Failed to get sws context!";
        Release();
        return false;
    }
    converted_ = av_frame_alloc();
    if (converted_) {
        converted_->format = backend_->inputPixelFormat();
        converted_->width = settings.width;
        converted_->height = settings.height;
    }
    if (!converted_ || av_frame_get_buffer(converted_, 0) < 0) {
        qWarning() << "Can't allocate sws frame";
        Release();
        return false;
    }
    return true;
}

void H264Encoder::Start()
{
    if (!context_ || running_.load() || worker_.joinable())
        return;
    haveOrigin_ = false;
    lastPts_ = -1;
    running_.store(true);
    if (successorWanted_ && !successor_ && !successorOpener_.joinable()) {
        firstPictures_ = 0;
        successorOpener_ = std::thread([this, codec = context_->codec] { successor_ = openContext(codec, false); });
    }
    worker_ = std::thread(&H264Encoder::workerLoop, this);
}

void H264Encoder::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_.store(false);
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    if (successorOpener_.joinable())
        successorOpener_.join();
    dropSuccessor();
}

void H264Encoder::dropSuccessor()
{
    avcodec_free_context(&successor_);
    successorWanted_ = false;
}

void H264Encoder::Encode(const VideoFrame &frame, int64_t captureTimeUs)
{
    if (!running_.load())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_.load())
            return;
        if (int(queue_.size()) - heldCount_ >= kMaxQueuedFrames) {
            queue_.erase(queue_.begin() + heldCount_);
            const int64_t dropped = ++gDroppedFrames;
            if (dropped % 30 == 0)
                qWarning() << "Encode: drop frame count=" << dropped;
        }
        queue_.push_back(QueuedFrame{frame, captureTimeUs, false});
    }
    wake_.notify_one();
}

void H264Encoder::EncodeBacklog(std::deque<std::pair<VideoFrame, int64_t>> frames)
{
    if (frames.empty() || !running_.load())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_.load())
            return;
        // Held frames stay in front of every frame queued after them.
        auto position = queue_.begin() + heldCount_;
        for (auto &[frame, captureTimeUs] : frames) {
            position = queue_.insert(position, QueuedFrame{std::move(frame), captureTimeUs, true}) + 1;
            ++heldCount_;
        }
    }
    wake_.notify_one();
}

void H264Encoder::Release()
{
    // The worker uses the context, the frames and the packet until it ends;
    // a release (or a new InitEncoder) while it runs waits for it first.
    Stop();
    av_packet_free(&packet_);
    av_frame_free(&converted_);
    av_frame_free(&source_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    avcodec_free_context(&context_);
    if (backend_)
        backend_->release();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    heldCount_ = 0;
}

void H264Encoder::RegisterCallback(EncodedImageCallback *callback)
{
    callback_ = callback;
}

int H264Encoder::queuedFrameCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(queue_.size());
}

int64_t H264Encoder::droppedFrameCount()
{
    return gDroppedFrames.load();
}

void H264Encoder::workerLoop()
{
    for (;;) {
        QueuedFrame next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !queue_.empty() || !running_.load(); });
            // Stopped: the frames still queued are encoded first, then the loop ends.
            if (queue_.empty())
                break;
            next = std::move(queue_.front());
            queue_.pop_front();
            if (next.held)
                --heldCount_;
        }
        encodeOne(next);
        if (successorWanted_ && ++firstPictures_ >= kFirstPictures)
            takeOver();
    }
    sendAndReceive(nullptr);
}

void H264Encoder::takeOver()
{
    successorWanted_ = false;
    // Usually open long before; the frames meanwhile wait in the queue.
    if (successorOpener_.joinable())
        successorOpener_.join();
    AVCodecContext *next = std::exchange(successor_, nullptr);
    // Not open: the first encoder goes on, as fast as it can.
    if (!next)
        return;
    // The stream's header holds the first encoder's parameter sets.
    if (next->extradata_size != context_->extradata_size
        || std::memcmp(next->extradata, context_->extradata, size_t(next->extradata_size)) != 0) {
        qWarning() << "The encoder for the rest of the recording writes other parameter sets; the first goes on";
        avcodec_free_context(&next);
        return;
    }
    // The first encoder holds no picture back; its end of stream hands out
    // nothing, and the next picture starts the new one with a key frame.
    sendAndReceive(nullptr);
    avcodec_free_context(&context_);
    context_ = next;
}

int64_t H264Encoder::presentationTime(int64_t captureTimeUs)
{
    if (!haveOrigin_) {
        haveOrigin_ = true;
        originUs_ = captureTimeUs;
    }
    int64_t pts = av_rescale(captureTimeUs - originUs_, kTimeBase, 1000000);
    // Encoders refuse stamps that don't rise; two frames within 11 us, or a
    // clock that steps back, get the next free tick.
    if (pts <= lastPts_)
        pts = lastPts_ + 1;
    lastPts_ = pts;
    return pts;
}

void H264Encoder::encodeOne(const QueuedFrame &queued)
{
    const auto buffer = queued.frame.buffer();
    std::shared_ptr<I420BufferInterface> planes = buffer ? buffer->toI420() : nullptr;
    if (!planes || planes->width() != context_->width || planes->height() != context_->height)
        return;

    // The encoder reads the frame's own planes; the buffer reference keeps
    // them alive for as long as libavcodec holds the picture.
    auto *holder = new std::shared_ptr<I420BufferInterface>(planes);
    source_->buf[0] = av_buffer_create(const_cast<uint8_t *>(planes->dataY()), 1, releaseFrameHolder, holder,
                                       AV_BUFFER_FLAG_READONLY);
    if (!source_->buf[0]) {
        delete holder;
        return;
    }
    source_->format = AV_PIX_FMT_YUV420P;
    source_->width = planes->width();
    source_->height = planes->height();
    source_->data[0] = const_cast<uint8_t *>(planes->dataY());
    source_->data[1] = const_cast<uint8_t *>(planes->dataU());
    source_->data[2] = const_cast<uint8_t *>(planes->dataV());
    source_->linesize[0] = planes->strideY();
    source_->linesize[1] = planes->strideU();
    source_->linesize[2] = planes->strideV();
    source_->pts = presentationTime(queued.captureTimeUs);

    AVFrame *picture = source_;
    if (converted_) {
        if (av_frame_make_writable(converted_) < 0
            || sws_scale(scaler_, source_->data, source_->linesize, 0, source_->height, converted_->data,
                         converted_->linesize)
                   <= 0) {
            qWarning() << "sws_scale frame failed!";
            av_frame_unref(source_);
            return;
        }
        converted_->pts = source_->pts;
        picture = converted_;
    }
    AVFrame *toSend = backend_->prepare(context_, picture);
    if (toSend) {
        sendAndReceive(toSend);
        backend_->sent(toSend);
    }
    av_frame_unref(source_);
}

void H264Encoder::sendAndReceive(AVFrame *picture)
{
    const int sent = avcodec_send_frame(context_, picture);
    if (sent < 0) {
        if (picture || sent != AVERROR_EOF)
            qWarning() << "Error sending a frame for encoding";
        return;
    }
    for (;;) {
        const int received = avcodec_receive_packet(context_, packet_);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0) {
            qWarning() << "Error during encoding";
            break;
        }
        if (callback_)
            callback_->OnEncodedPacket(packet_, context_->width, context_->height);
        av_packet_unref(packet_);
    }
}
