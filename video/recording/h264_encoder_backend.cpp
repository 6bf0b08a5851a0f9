#include "h264_encoder_backend.h"

#include <QDebug>

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/hwcontext.h>
}

namespace {

// Half the processors this process may run on, and at least 2: one slice per
// thread. More slices than that were slower on a loaded machine (every
// picture waits for its slowest slice).
int x264SliceThreads()
{
    int processors = int(std::thread::hardware_concurrency());
#if defined(__linux__)
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        processors = CPU_COUNT(&allowed);
#endif
    return std::max(2, processors / 2);
}

// NVIDIA NVENC: low-latency preset at a fixed quantiser.
class NvencBackend final : public H264EncoderBackend
{
public:
    H264EncoderKind kind() const override { return H264EncoderKind::Nvenc; }
    AVPixelFormat inputPixelFormat() const override { return AV_PIX_FMT_YUV420P; }
    bool configure(AVCodecContext *context, const VideoCodecSettings &settings, AVDictionary **options,
                   bool) override
    {
        context->pix_fmt = AV_PIX_FMT_YUV420P;
        av_dict_set(options, "preset", "llhp", 0);
        av_dict_set(options, "tune", "ll", 0);
        av_dict_set(options, "profile", "main", 0);
        av_dict_set_int(options, "multipass", 2, 0);  // full-resolution second pass
        av_dict_set_int(options, "qp", settings.qp, 0);
        return true;
    }
};

// Intel Quick Sync: pictures are converted to NV12 and uploaded into a pool of
// GPU surfaces before they are sent.
class QuickSyncBackend final : public H264EncoderBackend
{
public:
    ~QuickSyncBackend() override { release(); }
    H264EncoderKind kind() const override { return H264EncoderKind::QuickSync; }
    AVPixelFormat inputPixelFormat() const override { return AV_PIX_FMT_NV12; }

    bool configure(AVCodecContext *context, const VideoCodecSettings &settings, AVDictionary **options,
                   bool) override
    {
        int result = av_hwdevice_ctx_create(&device_, AV_HWDEVICE_TYPE_QSV, nullptr, nullptr, 0);
        if (result < 0) {
            qWarning("Failed to create a QSV device. Error code: %d", result);
            return false;
        }
        AVBufferRef *frames = av_hwframe_ctx_alloc(device_);
        if (!frames) {
            qWarning() << "Failed to create qsv hardware frame context.";
            return false;
        }
        auto *framesContext = reinterpret_cast<AVHWFramesContext *>(frames->data);
        framesContext->format = AV_PIX_FMT_QSV;
        framesContext->sw_format = AV_PIX_FMT_NV12;
        framesContext->width = settings.width;
        framesContext->height = settings.height;
        framesContext->initial_pool_size = 20;
        if (av_hwframe_ctx_init(frames) < 0) {
            qWarning() << "Failed to initialize qsv hardware frame context.";
            av_buffer_unref(&frames);
            return false;
        }
        context->hw_frames_ctx = av_buffer_ref(frames);
        av_buffer_unref(&frames);
        if (!context->hw_frames_ctx) {
            qWarning() << "Failed to set hwframe context.";
            return false;
        }
        context->pix_fmt = AV_PIX_FMT_QSV;
        av_dict_set(options, "preset", "veryfast", 0);
        av_dict_set(options, "profile", "main", 0);
        context->global_quality = settings.qp;
        context->bit_rate = settings.bit_rate;
        context->rc_buffer_size = settings.bit_rate;
        return true;
    }

    AVFrame *prepare(AVCodecContext *context, AVFrame *picture) override
    {
        AVFrame *surface = av_frame_alloc();
        if (!surface || av_hwframe_get_buffer(context->hw_frames_ctx, surface, 0) < 0) {
            qWarning() << "Get hardware frame failed";
            av_frame_free(&surface);
            return nullptr;
        }
        if (!surface->hw_frames_ctx) {
            qWarning() << "hw_frame doesn't have hw_frame_ctx";
            av_frame_free(&surface);
            return nullptr;
        }
        if (av_hwframe_transfer_data(surface, picture, 0) < 0) {
            qWarning() << "QSV: Error while transferring frame data to surface.";
            av_frame_free(&surface);
            return nullptr;
        }
        surface->pts = picture->pts;
        return surface;
    }

    void sent(AVFrame *picture) override { av_frame_free(&picture); }

    void release() override { av_buffer_unref(&device_); }

private:
    AVBufferRef *device_ = nullptr;
};

// libx264: the fastest preset, baseline profile, constant rate factor.
//
// x264's own threading gives each thread a whole picture and holds back one
// picture per thread (11 with 12 threads) before the first packet: at 30 fps
// a recording would write its first frame only 0.4 s after the click. The
// encoder for the first pictures splits each picture into slices encoded in
// parallel instead, so that its packet comes out as soon as it is encoded;
// slices alone would keep a quarter to a third below the throughput of whole
// pictures at 4K. Both pass timestamps through without using them for rate
// control (which would hold every picture until the next one arrives), so
// that both also write the same timing into the parameter sets.
class X264Backend final : public H264EncoderBackend
{
public:
    H264EncoderKind kind() const override { return H264EncoderKind::X264; }
    AVPixelFormat inputPixelFormat() const override { return AV_PIX_FMT_YUV420P; }
    bool holdsPicturesBack() const override { return true; }
    bool configure(AVCodecContext *context, const VideoCodecSettings &settings, AVDictionary **options,
                   bool firstPackets) override
    {
        context->pix_fmt = AV_PIX_FMT_YUV420P;
        if (firstPackets) {
            context->thread_type = FF_THREAD_SLICE;
            context->thread_count = x264SliceThreads();
        }
        av_dict_set(options, "preset", "ultrafast", 0);
        av_dict_set(options, "profile", "baseline", 0);
        av_dict_set(options, "crf", QByteArray::number(double(settings.crf)).constData(), 0);
        av_dict_set(options, "x264-params", "force-cfr=1", 0);
        return true;
    }
};

}  // namespace

std::unique_ptr<H264EncoderBackend> makeH264EncoderBackend(H264EncoderKind kind)
{
    switch (kind) {
    case H264EncoderKind::Nvenc:
        return std::make_unique<NvencBackend>();
    case H264EncoderKind::QuickSync:
        return std::make_unique<QuickSyncBackend>();
    case H264EncoderKind::X264:
        return std::make_unique<X264Backend>();
    case H264EncoderKind::None:
        break;
    }
    return nullptr;
}
