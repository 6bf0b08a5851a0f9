// What differs between the H.264 encoders libavcodec offers: the encoder name,
// the picture format it takes, its options and, for Quick Sync, the upload of
// every picture to the GPU. One class per encoder kind; H264Encoder owns the
// queue, the worker thread and the packet loop common to all of them.
#pragma once

#include "h264_encoder.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/pixfmt.h>
}

#include <memory>

class H264EncoderBackend
{
public:
    virtual ~H264EncoderBackend() = default;
    virtual H264EncoderKind kind() const = 0;
    const char *encoderName() const { return h264EncoderName(kind()); }
    // The format the encoder's pictures must be converted to from planar 4:2:0.
    virtual AVPixelFormat inputPixelFormat() const = 0;
    // Whether the encoder holds pictures back before their packets come out
    // (x264's picture-per-thread scheme). Such an encoder is opened twice: a
    // first one with `firstPackets`, which hands every packet out as soon as
    // its picture is encoded, takes the first pictures of a recording while
    // the second opens; from then on the second goes on. Both must give the
    // stream the same parameter sets.
    virtual bool holdsPicturesBack() const { return false; }
    // Before the encoder opens: devices, the context's pixel format and the
    // encoder options. False (after a warning) when the encoder can't be used.
    // May run on another thread than `prepare` and `sent`.
    virtual bool configure(AVCodecContext *context, const VideoCodecSettings &settings, AVDictionary **options,
                           bool firstPackets) = 0;
    // The picture to send for `picture` (already in the input format), or
    // null after a warning; `sent` is called with it once it has been sent.
    virtual AVFrame *prepare(AVCodecContext *context, AVFrame *picture) { return picture; }
    virtual void sent(AVFrame *picture) {}
    // Frees what `configure` created.
    virtual void release() {}
};

std::unique_ptr<H264EncoderBackend> makeH264EncoderBackend(H264EncoderKind kind);
