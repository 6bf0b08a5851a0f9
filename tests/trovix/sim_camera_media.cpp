// Pictures of the simulated camera: the moving test picture, its JPEG and
// H.264 encoders, and the cutting of streams made by the ffmpeg command line
// into single pictures.
#include "sim_camera.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace simcam {

void drawTestPicture(Picture &p, int width, int height, bool chroma422, int index)
{
    p.width = width;
    p.height = height;
    p.chroma422 = chroma422;
    const int cw = p.chromaWidth(), ch = p.chromaHeight();
    p.y.resize(size_t(width) * height);
    p.u.resize(size_t(cw) * ch);
    p.v.resize(p.u.size());
    // Diagonal stripes drifting right, with a fine texture the encoders have
    // to work on, and a bright block that crosses the picture.
    const int blockSize = std::max(8, height / 6);
    const int blockX = (index * 7) % std::max(1, width - blockSize);
    const int blockY = (index * 3) % std::max(1, height - blockSize);
    for (int row = 0; row < height; ++row) {
        uint8_t *line = &p.y[size_t(row) * width];
        for (int x = 0; x < width; ++x)
            line[x] = uint8_t(16 + ((x + row + index * 4) & 0x7F) + ((x ^ row) & 7) * 8);
        if (row >= blockY && row < blockY + blockSize)
            std::fill(line + blockX, line + std::min(width, blockX + blockSize), uint8_t(235));
    }
    const int rowScale = chroma422 ? 1 : 2;
    for (int row = 0; row < ch; ++row) {
        for (int x = 0; x < cw; ++x) {
            p.u[size_t(row) * cw + x] = uint8_t(64 + ((x * 2 + index) & 0x7F));
            p.v[size_t(row) * cw + x] = uint8_t(64 + ((row * rowScale + index * 2) & 0x7F));
        }
    }
}

// ---- JPEG ----
namespace {

class JpegEncoder final : public PictureEncoder {
public:
    explicit JpegEncoder(int quality) : quality_(quality), handle_(tjInitCompress()) {}
    ~JpegEncoder() override
    {
        if (handle_)
            tjDestroy(handle_);
    }
    std::string encode(const Picture &p, bool, bool *key) override
    {
        *key = true;
        if (!handle_)
            return {};
        const unsigned char *planes[3] = { p.y.data(), p.u.data(), p.v.data() };
        int strides[3] = { p.width, p.chromaWidth(), p.chromaWidth() };
        unsigned char *out = nullptr;
        unsigned long size = 0;
        std::string jpeg;
        if (tjCompressFromYUVPlanes(handle_, planes, p.width, strides, p.height, p.chroma422 ? TJSAMP_422 : TJSAMP_420,
                                    &out, &size, quality_, TJFLAG_FASTDCT) == 0)
            jpeg.assign(reinterpret_cast<char *>(out), size);
        tjFree(out);
        return jpeg;
    }

private:
    int quality_;
    tjhandle handle_;
};

// ---- H.264 ----
class H264Encoder final : public PictureEncoder {
public:
    H264Encoder(int width, int height, int fps, int gop)
    {
        const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
        if (!codec || !(ctx_ = avcodec_alloc_context3(codec)) || !(frame_ = av_frame_alloc()) ||
            !(packet_ = av_packet_alloc()))
            return;
        ctx_->width = width;
        ctx_->height = height;
        ctx_->time_base = AVRational{ 1, fps };
        ctx_->framerate = AVRational{ fps, 1 };
        ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx_->gop_size = gop;
        ctx_->max_b_frames = 0;
        ctx_->thread_count = 1;
        av_opt_set(ctx_->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx_->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx_->priv_data, "profile", "baseline", 0);
        av_opt_set_int(ctx_->priv_data, "forced-idr", 1, 0);
        if (avcodec_open2(ctx_, codec, nullptr) < 0)
            avcodec_free_context(&ctx_);
    }
    ~H264Encoder() override
    {
        avcodec_free_context(&ctx_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }
    bool ok() const { return ctx_ != nullptr; }
    std::string encode(const Picture &p, bool forceKey, bool *key) override
    {
        *key = false;
        if (!ctx_ || p.chroma422 || p.width != ctx_->width || p.height != ctx_->height)
            return {};
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = p.width;
        frame_->height = p.height;
        frame_->data[0] = const_cast<uint8_t *>(p.y.data());
        frame_->data[1] = const_cast<uint8_t *>(p.u.data());
        frame_->data[2] = const_cast<uint8_t *>(p.v.data());
        frame_->linesize[0] = p.width;
        frame_->linesize[1] = frame_->linesize[2] = p.chromaWidth();
        frame_->pts = index_++;
        frame_->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        std::string out;
        if (avcodec_send_frame(ctx_, frame_) < 0)
            return out;
        while (avcodec_receive_packet(ctx_, packet_) == 0) {
            out.append(reinterpret_cast<char *>(packet_->data), size_t(packet_->size));
            *key = *key || (packet_->flags & AV_PKT_FLAG_KEY);
            av_packet_unref(packet_);
        }
        return out;
    }

private:
    AVCodecContext *ctx_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    int64_t index_ = 0;
};

} // namespace

std::unique_ptr<PictureEncoder> makeJpegEncoder(int quality) { return std::make_unique<JpegEncoder>(quality); }

std::unique_ptr<PictureEncoder> makeH264Encoder(int width, int height, int fps, int gop)
{
    auto encoder = std::make_unique<H264Encoder>(width, height, fps, gop);
    if (!encoder->ok())
        return nullptr;
    return encoder;
}

// ---- cutting streams ----
std::vector<std::string> splitJpegStream(const std::string &bytes)
{
    // A picture ends at its end-of-image marker; the next starts with a
    // start-of-image marker (FF D8 FF) right after it.
    std::vector<std::string> out;
    size_t start = bytes.find("\xFF\xD8\xFF");
    while (start != std::string::npos) {
        size_t end = bytes.find("\xFF\xD9\xFF\xD8\xFF", start + 3);
        size_t next = end == std::string::npos ? std::string::npos : end + 2;
        out.push_back(bytes.substr(start, next == std::string::npos ? std::string::npos : next - start));
        start = next;
    }
    return out;
}

namespace {

struct Nal {
    size_t start;  // of its start code
    size_t header; // of its header byte
    int type;
};

std::vector<Nal> nalUnits(const std::string &s)
{
    std::vector<Nal> nals;
    for (size_t i = 0; i + 3 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            size_t begin = i > 0 && s[i - 1] == 0 ? i - 1 : i;
            nals.push_back(Nal{ begin, i + 3, s[i + 3] & 0x1F });
            i += 2;
        }
    }
    return nals;
}

} // namespace

std::vector<std::string> splitAccessUnits(const std::string &s)
{
    // A new access unit starts at a delimiter, at parameter sets or SEI that
    // follow a slice, or at a slice whose first macroblock is 0 (RFC 6184's
    // access-unit rules, as far as x264's output needs them).
    std::vector<std::string> out;
    const std::vector<Nal> nals = nalUnits(s);
    size_t auStart = nals.empty() ? 0 : nals[0].start;
    bool haveSlice = false;
    for (size_t n = 0; n < nals.size(); ++n) {
        const Nal &nal = nals[n];
        const bool slice = nal.type == 1 || nal.type == 5;
        bool starts = nal.type == 9 || (haveSlice && (nal.type == 6 || nal.type == 7 || nal.type == 8));
        if (slice && haveSlice && nal.header + 1 < s.size() && (uint8_t(s[nal.header + 1]) & 0x80))
            starts = true;
        if (starts && nal.start > auStart) {
            out.push_back(s.substr(auStart, nal.start - auStart));
            auStart = nal.start;
            haveSlice = false;
        }
        haveSlice = haveSlice || slice;
    }
    if (!nals.empty() && auStart < s.size())
        out.push_back(s.substr(auStart));
    return out;
}

bool accessUnitIsKey(const std::string &accessUnit)
{
    for (const Nal &nal : nalUnits(accessUnit)) {
        if (nal.type == 5)
            return true;
    }
    return false;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace simcam
