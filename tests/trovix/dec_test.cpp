// The decoder: MJPEG and H.264 streams made by the ffmpeg command line go
// from the simulated camera through the library into trovix_dec_* and come
// out as I420 (or packed RGB) that matches ffmpeg's own decoding; queues,
// trimming and pacing are driven directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "dec.h"
#include "dec_convert.h"
#include "sim_camera.h"
#include "sim_stream.h"
#include "test_util.h"
#include "trovix.h"

using simcam::SimCamera;

namespace {

// ---- streams from the ffmpeg command line ----
struct Streams {
    std::string dir;
    bool ok = false;
};

bool ffmpeg(const std::string &args)
{
    return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " > /dev/null 2>&1").c_str()) == 0;
}

const Streams &streams()
{
    static Streams s = [] {
        Streams out;
        char dir[] = "/tmp/trovix_dec_XXXXXX";
        if (!mkdtemp(dir))
            return out;
        out.dir = dir;
        const std::string d = out.dir + "/";
        const std::string src = "-f lavfi -i testsrc=size=";
        out.ok =
            ffmpeg(src + "641x481:rate=25 -frames:v 4 -pix_fmt yuvj422p -c:v mjpeg -q:v 3 -f mjpeg " + d + "j422.mjpeg") &&
            ffmpeg(src + "641x481:rate=25 -frames:v 4 -pix_fmt yuvj420p -c:v mjpeg -q:v 3 -f mjpeg " + d + "j420.mjpeg") &&
            ffmpeg(src + "640x480:rate=25 -frames:v 12 -pix_fmt yuv420p -c:v libx264 -g 6 -bf 0 -f h264 " + d + "h420.h264") &&
            // 4:2:2 H.264 can have an odd height (cropping in whole rows).
            ffmpeg(src + "642x482:rate=25 -frames:v 6 -pix_fmt yuv422p -c:v libx264 -g 6 -bf 0 "
                         "-bsf:v h264_metadata=crop_bottom=15 -f h264 " + d + "h422.h264") &&
            ffmpeg(src + "641x481:rate=25 -frames:v 6 -pix_fmt yuv444p -c:v libx264 -g 6 -bf 0 -f h264 " + d + "h444.h264");
        for (const char *name : { "j422.mjpeg", "j420.mjpeg", "h420.h264", "h422.h264", "h444.h264" }) {
            out.ok = out.ok && ffmpeg("-i " + d + name + " -f rawvideo -pix_fmt yuv420p " + d + name + ".yuv");
        }
        return out;
    }();
    return s;
}

std::string streamFile(const std::string &name) { return simcam::readFile(streams().dir + "/" + name); }

// ---- pictures that came out ----
struct Planes {
    int fmt = 0, width = 0, height = 0;
    int stride[3] = { 0, 0, 0 };
    std::vector<uint8_t> y, u, v; // tight, chroma (w + 1) / 2 x (h + 1) / 2; y holds packed RGB rows
};

Planes copyOut(const dec_frame *f)
{
    Planes p;
    p.fmt = f->fmt;
    p.width = f->width;
    p.height = f->height;
    for (int i = 0; i < 3; i++)
        p.stride[i] = f->stride[i];
    if (f->fmt != DEC_PIX_YUV420P_SEPARATE) {
        const int bytes = f->fmt == DEC_PIX_RGB888 || f->fmt == DEC_PIX_BGR888 ? 3 : 4;
        for (int r = 0; r < f->height; r++)
            p.y.insert(p.y.end(), f->data[0] + size_t(r) * f->stride[0],
                       f->data[0] + size_t(r) * f->stride[0] + size_t(f->width) * bytes);
        return p;
    }
    const int cw = (f->width + 1) / 2, ch = (f->height + 1) / 2;
    for (int r = 0; r < f->height; r++)
        p.y.insert(p.y.end(), f->data[0] + size_t(r) * f->stride[0], f->data[0] + size_t(r) * f->stride[0] + f->width);
    for (int r = 0; r < ch; r++) {
        p.u.insert(p.u.end(), f->data[1] + size_t(r) * f->stride[1], f->data[1] + size_t(r) * f->stride[1] + cw);
        p.v.insert(p.v.end(), f->data[2] + size_t(r) * f->stride[2], f->data[2] + size_t(r) * f->stride[2] + cw);
    }
    return p;
}

// Frame i of a raw yuv420p file of w x h.
Planes reference(const std::string &raw, int w, int h, int i)
{
    const size_t cw = size_t(w + 1) / 2, ch = size_t(h + 1) / 2, ys = size_t(w) * h, cs = cw * ch;
    const size_t at = (ys + 2 * cs) * size_t(i);
    Planes p;
    p.width = w;
    p.height = h;
    if (raw.size() < at + ys + 2 * cs)
        return p;
    p.y.assign(raw.begin() + long(at), raw.begin() + long(at + ys));
    p.u.assign(raw.begin() + long(at + ys), raw.begin() + long(at + ys + cs));
    p.v.assign(raw.begin() + long(at + ys + cs), raw.begin() + long(at + ys + 2 * cs));
    return p;
}

double psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// Mean absolute difference of column `col` (or row `row`) of two planes of width w.
double columnError(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int w, int col)
{
    double sum = 0;
    size_t rows = a.size() / size_t(w);
    for (size_t r = 0; r < rows; r++)
        sum += std::fabs(double(a[r * w + col]) - b[r * w + col]);
    return rows ? sum / double(rows) : 255;
}

double rowError(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int w, int row)
{
    double sum = 0;
    for (int x = 0; x < w; x++)
        sum += std::fabs(double(a[size_t(row) * w + x]) - b[size_t(row) * w + x]);
    return sum / w;
}

// ---- FFmpeg's log lines, as the program's log would get them ----
std::mutex g_logLock;
std::string g_log;

void captureLog(void *, int level, const char *format, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    std::lock_guard<std::mutex> lock(g_logLock);
    g_log += line;
}

std::string takeLog()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    std::string out;
    out.swap(g_log);
    return out;
}

void expectOddLayout(const Planes &p, int w, int h)
{
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    EXPECT_EQ(p.fmt, DEC_PIX_YUV420P_SEPARATE);
    EXPECT_EQ(p.stride[0], (w + 3) & ~3);
    EXPECT_EQ(p.stride[1], ((w + 1) / 2 + 3) & ~3);
    EXPECT_EQ(p.stride[2], p.stride[1]);
}

// Close to ffmpeg's own conversion to yuv420p, including the last chroma
// row and column of an odd size.
void expectLikeReference(const Planes &got, const Planes &ref, double lumaDb, double chromaDb)
{
    ASSERT_EQ(got.y.size(), ref.y.size());
    ASSERT_EQ(got.u.size(), ref.u.size());
    EXPECT_GE(psnr(got.y, ref.y), lumaDb);
    EXPECT_GE(psnr(got.u, ref.u), chromaDb);
    EXPECT_GE(psnr(got.v, ref.v), chromaDb);
    const int cw = (got.width + 1) / 2, ch = (got.height + 1) / 2;
    EXPECT_LT(columnError(got.u, ref.u, cw, cw - 1), 6.0);
    EXPECT_LT(columnError(got.v, ref.v, cw, cw - 1), 6.0);
    EXPECT_LT(rowError(got.u, ref.u, cw, ch - 1), 6.0);
    EXPECT_LT(rowError(got.v, ref.v, cw, ch - 1), 6.0);
}

// The simulated camera, the library, a login and decoder 100 bound to it.
class Decoder : public trovixtest::CameraSession {
protected:
    void SetUp() override
    {
        if (!streams().ok)
            GTEST_SKIP() << "the ffmpeg command line (with libx264) is needed to make the test streams";
        av_log_set_callback(captureLog);
        takeLog();
        CameraSession::SetUp();
    }
    void TearDown() override
    {
        trovix_dec_close(100);
        CameraSession::TearDown();
        av_log_set_callback(av_log_default_callback);
    }
    void open(const char *options = nullptr)
    {
        ASSERT_EQ(trovix_dec_open(100, options), 0);
        ASSERT_EQ(trovix_dec_bind(100, id, 0, 0, 0), 0);
    }
    // Time stamps 0: every picture is due at once.
    void send(const std::string &picture, uint8_t kind, uint8_t type)
    {
        camera.sendMedia(picture, 0, 0, kind, type, 0);
    }
    void sendJpegs(const std::vector<std::string> &jpegs)
    {
        for (const auto &j : jpegs)
            send(j, 1, simcam::kMediaMjpeg);
    }
    void sendAccessUnits(const std::vector<std::string> &aus)
    {
        for (const auto &au : aus)
            send(au, simcam::accessUnitIsKey(au) ? 1 : 2, simcam::kMediaH264);
    }
    // Takes pictures until count came or nothing more came for quietMs: a
    // loaded machine decodes late, so pictures that must come are given long.
    std::vector<Planes> take(size_t count, uint64_t quietMs = 20000)
    {
        std::vector<Planes> out;
        uint64_t quietSince = pf_clock_ms();
        while (out.size() < count && pf_clock_ms() - quietSince < quietMs) {
            dec_frame *f = nullptr;
            int code = trovix_dec_get_md_data(100, &f);
            if (code == 0) {
                out.push_back(copyOut(f));
                EXPECT_EQ(trovix_dec_free_md_data(f), 0);
                quietSince = pf_clock_ms();
            } else {
                EXPECT_EQ(code, 5);
                pf_sleep_ms(2);
            }
        }
        return out;
    }
    // Pictures that come within 1.5 s more, where none should.
    std::vector<Planes> takeStray() { return take(1, 1500); }
    // Sends every picture of a stream file and expects each one back, of
    // size w x h, close to ffmpeg's own decoding of that file to yuv420p.
    void expectStreamLikeFfmpeg(const std::string &name, int w, int h, size_t count, double lumaDb, double chromaDb)
    {
        const std::string bytes = streamFile(name);
        const bool h264 = name.find(".h264") != std::string::npos;
        auto pictures = h264 ? simcam::splitAccessUnits(bytes) : simcam::splitJpegStream(bytes);
        ASSERT_EQ(pictures.size(), count);
        if (h264)
            sendAccessUnits(pictures);
        else
            sendJpegs(pictures);
        auto got = take(count);
        ASSERT_EQ(got.size(), count);
        const std::string raw = streamFile(name + ".yuv");
        for (size_t i = 0; i < count; i++) {
            expectOddLayout(got[i], w, h);
            expectLikeReference(got[i], reference(raw, w, h, int(i)), lumaDb, chromaDb);
        }
    }
};

} // namespace

TEST_F(Decoder, Mjpeg422OddSizeBecomesVideoRangeI420)
{
    open();
    expectStreamLikeFfmpeg("j422.mjpeg", 641, 481, 4, 45, 30);
}

TEST_F(Decoder, Mjpeg420OddSizeKeepsLastChromaRowAndColumn)
{
    open();
    // Only the range changes: within rounding of ffmpeg's conversion.
    expectStreamLikeFfmpeg("j420.mjpeg", 641, 481, 4, 45, 45);
}

TEST_F(Decoder, H264IsDecodedByTheH264DecoderBitExact)
{
    open();
    auto aus = simcam::splitAccessUnits(streamFile("h420.h264"));
    ASSERT_EQ(aus.size(), 12u);
    sendAccessUnits(aus);
    auto got = take(12);
    ASSERT_EQ(got.size(), 12u);
    const std::string raw = streamFile("h420.h264.yuv");
    for (int i = 0; i < 12; i++) {
        Planes ref = reference(raw, 640, 480, i);
        EXPECT_EQ(got[i].y, ref.y) << "picture " << i;
        EXPECT_EQ(got[i].u, ref.u) << "picture " << i;
        EXPECT_EQ(got[i].v, ref.v) << "picture " << i;
    }
}

TEST_F(Decoder, H264With422ChromaAndOddHeight)
{
    open();
    expectStreamLikeFfmpeg("h422.h264", 642, 481, 6, 99, 30);
}

TEST_F(Decoder, OtherLayoutsGoThroughTheScaler)
{
    open();
    expectStreamLikeFfmpeg("h444.h264", 641, 481, 6, 99, 30);
}

// A known picture (red, green, blue and white quadrants) in every output
// format: its code, stride and each pixel's bytes in the format's order, so
// that RGB and BGR, 24 and 32 bits and alpha first or last are told apart.
TEST_F(Decoder, EveryOutputFormatHoldsTheKnownPictureInItsByteOrder)
{
    const int w = 66, h = 50;
    auto aus = simcam::splitAccessUnits(simcam::ffmpegH264Quadrants(w, h, 1));
    ASSERT_EQ(aus.size(), 1u);
    struct Format {
        const char *options;
        int code;
        int bytes;      // per pixel; 0 for separate planes
        int r, g, b, a; // byte of each channel in a pixel; -1: none
    };
    const Format formats[] = {
        { "{\"pix_fmt\":\"ARGB8888\"}", DEC_PIX_ARGB8888, 4, 1, 2, 3, 0 },
        { "{\"pix_fmt\":\"RGB888\"}", DEC_PIX_RGB888, 3, 0, 1, 2, -1 },
        { "{\"pix_fmt\":\"ABGR8888\"}", DEC_PIX_ABGR8888, 4, 3, 2, 1, 0 },
        { "{\"pix_fmt\":\"BGR888\"}", DEC_PIX_BGR888, 3, 2, 1, 0, -1 },
        { "{\"pix_fmt\":\"RGBA8888\"}", DEC_PIX_RGBA8888, 4, 0, 1, 2, 3 },
        { "{\"pix_fmt\":\"BGRA8888\"}", DEC_PIX_BGRA8888, 4, 2, 1, 0, 3 },
        { "{\"pix_fmt\":\"YUV420P_SEPARATE\"}", DEC_PIX_YUV420P_SEPARATE, 0, -1, -1, -1, -1 },
        { "{\"pix_fmt\":\"NV12\"}", DEC_PIX_YUV420P_SEPARATE, 0, -1, -1, -1, -1 },
        { nullptr, DEC_PIX_YUV420P_SEPARATE, 0, -1, -1, -1, -1 },
    };
    struct Quadrant {
        const char *name;
        int x, y;
        uint8_t rgb[3], yuv[3]; // the YUV the picture was made of, video range
    };
    const Quadrant quadrants[] = {
        { "red", w / 4, h / 4, { 255, 0, 0 }, { 81, 90, 240 } },
        { "green", 3 * w / 4, h / 4, { 0, 255, 0 }, { 145, 54, 34 } },
        { "blue", w / 4, 3 * h / 4, { 0, 0, 255 }, { 41, 240, 110 } },
        { "white", 3 * w / 4, 3 * h / 4, { 255, 255, 255 }, { 235, 128, 128 } },
    };
    auto near = [](int got, int want, int tolerance) { return std::abs(got - want) <= tolerance; };
    for (const Format &f : formats) {
        const std::string name = f.options ? f.options : "no options";
        open(f.options);
        sendAccessUnits(aus);
        auto got = take(1);
        ASSERT_EQ(got.size(), 1u) << name;
        const Planes &p = got[0];
        EXPECT_EQ(p.fmt, f.code) << name;
        EXPECT_EQ(p.width, w) << name;
        EXPECT_EQ(p.height, h) << name;
        for (const Quadrant &q : quadrants) {
            if (f.bytes == 0) {
                const int cw = (w + 1) / 2;
                const uint8_t yuv[3] = { p.y[size_t(q.y) * w + q.x], p.u[size_t(q.y / 2) * cw + q.x / 2],
                                         p.v[size_t(q.y / 2) * cw + q.x / 2] };
                for (int c = 0; c < 3; c++)
                    EXPECT_PRED3(near, yuv[c], q.yuv[c], 3) << name << " " << q.name << " plane " << c;
                continue;
            }
            const uint8_t *px = &p.y[(size_t(q.y) * w + q.x) * size_t(f.bytes)];
            EXPECT_PRED3(near, px[f.r], q.rgb[0], 10) << name << " " << q.name << " red";
            EXPECT_PRED3(near, px[f.g], q.rgb[1], 10) << name << " " << q.name << " green";
            EXPECT_PRED3(near, px[f.b], q.rgb[2], 10) << name << " " << q.name << " blue";
            if (f.a >= 0) {
                EXPECT_EQ(px[f.a], 255) << name << " " << q.name << " alpha";
            }
        }
        if (f.bytes) {
            EXPECT_EQ(p.stride[0], w * f.bytes) << name;
            EXPECT_EQ(p.y.size(), size_t(w) * h * size_t(f.bytes)) << name;
        } else {
            expectOddLayout(p, w, h);
        }
        EXPECT_EQ(trovix_dec_close(100), 0) << name;
    }
}

TEST_F(Decoder, TruncatedOrCorruptPicturesAreDroppedWithALogLine)
{
    open();
    auto jpegs = simcam::splitJpegStream(streamFile("j420.mjpeg"));
    std::string garbled = jpegs[2];
    for (size_t i = garbled.size() / 3; i < garbled.size() / 3 + 200; i++)
        garbled[i] = char(garbled[i] ^ 0x5A);
    sendJpegs({ jpegs[0], jpegs[1].substr(0, jpegs[1].size() / 2), garbled, jpegs[3] });
    auto got = take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(takeStray().empty());
    const std::string raw = streamFile("j420.mjpeg.yuv");
    expectLikeReference(got[0], reference(raw, 641, 481, 0), 45, 45);
    expectLikeReference(got[1], reference(raw, 641, 481, 3), 45, 45);
    EXPECT_NE(takeLog().find("ffdec h26x: dropped a corrupt or truncated MJPEG picture"), std::string::npos);

    // An H.264 access unit cut short: that picture is dropped, the next
    // ones decode.
    auto aus = simcam::splitAccessUnits(streamFile("h420.h264"));
    aus[3] = aus[3].substr(0, aus[3].size() / 2);
    sendAccessUnits(aus);
    got = take(11);
    EXPECT_EQ(got.size(), 11u);
    EXPECT_TRUE(takeStray().empty());
    for (const auto &p : got)
        EXPECT_EQ(p.width, 640);
    EXPECT_NE(takeLog().find("ffdec h26x: dropped a corrupt or truncated H.264 picture"), std::string::npos);
}

TEST_F(Decoder, SwitchesDecoderWhenTheStreamChangesCodec)
{
    open();
    auto jpegs = simcam::splitJpegStream(streamFile("j420.mjpeg"));
    auto aus = simcam::splitAccessUnits(streamFile("h420.h264"));
    sendJpegs({ jpegs[0], jpegs[1] });
    // After a change of codec decoding starts again at a key frame: the
    // P-frames before the second IDR of the H.264 stream are skipped.
    sendAccessUnits({ aus[3], aus[4], aus[5], aus[6], aus[7] });
    // A JPEG labelled with H.264's media type is still a JPEG.
    send(jpegs[2], 1, simcam::kMediaH264);
    auto got = take(5);
    ASSERT_EQ(got.size(), 5u);
    const int widths[] = { 641, 641, 640, 640, 641 };
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(got[i].width, widths[i]) << "picture " << i;
    const std::string raw = streamFile("h420.h264.yuv");
    EXPECT_EQ(got[2].y, reference(raw, 640, 480, 6).y);
}

TEST_F(Decoder, WaitsForTheFirstKeyFrame)
{
    open();
    auto aus = simcam::splitAccessUnits(streamFile("h420.h264"));
    sendAccessUnits({ aus[1], aus[2], aus[6], aus[7] });
    auto got = take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(takeStray().empty());
    const std::string raw = streamFile("h420.h264.yuv");
    EXPECT_EQ(got[0].y, reference(raw, 640, 480, 6).y);
    EXPECT_EQ(got[1].y, reference(raw, 640, 480, 7).y);
}

TEST_F(Decoder, ExportResults)
{
    dec_frame *f = reinterpret_cast<dec_frame *>(1);
    EXPECT_EQ(trovix_dec_get_md_data(100, &f), 4);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(trovix_dec_bind(100, id, 0, 0, 0), 4);
    EXPECT_EQ(trovix_dec_unbind(100), 4);
    EXPECT_EQ(trovix_dec_close(100), 0);
    EXPECT_EQ(trovix_dec_open(100, "{\"pix_fmt\":\"NV12\"}"), 0);
    EXPECT_EQ(trovix_dec_open(100, nullptr), 4);
    EXPECT_EQ(trovix_dec_get_md_data(100, &f), 5);
    EXPECT_EQ(trovix_dec_free_md_data(nullptr), 3);
    // Bound twice: the second binding replaces the first.
    EXPECT_EQ(trovix_dec_bind(100, id, 7, 0, 0), 0);
    EXPECT_EQ(trovix_dec_bind(100, id, 0, 0, 0), 0);
    // The first binding's listener is gone: its key is free again.
    const std::string firstKey = "_trovix_" + std::to_string(id) + "_7_0_0";
    EXPECT_EQ(trovix_md_add_listener(firstKey.c_str(), [](void *, int, int, int, int, int, qv_buf_md *) { return 0; },
                                     nullptr),
              0);
    EXPECT_EQ(trovix_md_remove_listener(firstKey.c_str()), 0);
    auto jpegs = simcam::splitJpegStream(streamFile("j420.mjpeg"));
    send(jpegs[0], 1, simcam::kMediaMjpeg);
    camera.sendMedia(jpegs[1], 7, 0, 1, simcam::kMediaMjpeg, 0); // another channel: not this decoder's
    auto got = take(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(takeStray().empty());
    EXPECT_EQ(got[0].fmt, DEC_PIX_YUV420P_SEPARATE); // an unknown format gives separate planes
    EXPECT_EQ(trovix_dec_unbind(100), 0);
    send(jpegs[2], 1, simcam::kMediaMjpeg);
    EXPECT_TRUE(takeStray().empty());
    EXPECT_EQ(trovix_dec_close(100), 0);
    EXPECT_EQ(trovix_dec_get_md_data(100, &f), 4);
}

TEST(DecoderOptions, PixelFormatFromOptions)
{
    EXPECT_EQ(dec_pix_fmt_from_options(nullptr), DEC_PIX_YUV420P_SEPARATE);
    EXPECT_EQ(dec_pix_fmt_from_options("\n\t {\"pix_fmt\":\"rgb888\"}"), DEC_PIX_RGB888);
    EXPECT_EQ(dec_pix_fmt_from_options("{\"Pix_Fmt\":\"bgra8888\"}"), DEC_PIX_BGRA8888);
    EXPECT_EQ(dec_pix_fmt_from_options("{\"PIX_FMT\":3}"), DEC_PIX_YUV420P_SEPARATE);
    EXPECT_EQ(dec_pix_fmt_from_options("{\"pix_fmt\":\"ARGB8888\",\"pix_fmt\":\"RGB888\"}"), DEC_PIX_ARGB8888);
    EXPECT_EQ(dec_pix_fmt_from_options("not json"), DEC_PIX_YUV420P_SEPARATE);
}

TEST(DecoderQuit, DecodersLeftOpenAreClosedByQuit)
{
    auto threads = trovixtest::threadCount;
    ASSERT_EQ(trovix_init(nullptr), 0);
    trovix_quit();
    int before = threads();
    ASSERT_EQ(trovix_init(nullptr), 0);
    ASSERT_EQ(trovix_dec_open(1, nullptr), 0);
    ASSERT_EQ(trovix_dec_open(2, "{\"pix_fmt\":\"RGBA8888\"}"), 0);
    ASSERT_EQ(trovix_dec_bind(2, 1000, 0, 0, 0), 0);
    EXPECT_EQ(trovix_quit(), 0);
    EXPECT_EQ(threads(), before);
}

// ---- the decoder's queues, fed directly ----
namespace {

// A media record as the framed protocol makes one.
qv_buf_md *record(const std::string &payload, uint8_t kind, uint8_t type, int64_t pts)
{
    std::string body = simcam::mediaBody(payload, 0, 0, kind, type, uint64_t(pts));
    qv_buf *buf = qv_buf_new(uint32_t(body.size()) + 4);
    memcpy(buf->data, body.data(), body.size());
    buf->end = uint32_t(body.size());
    qv_obj *obj = qv_md_obj_new(buf);
    auto *md = static_cast<qv_buf_md *>(obj->payload);
    qv_md_ref(md);
    qv_obj_release(obj);
    return md;
}

void feed(qv_dec *dec, const std::string &payload, uint8_t kind, uint8_t type, int64_t pts = 0)
{
    qv_buf_md *md = record(payload, kind, type, pts);
    qv_dec_feed(dec, md);
    qv_md_unref(md);
}

} // namespace

TEST(DecoderQueues, StopsDecodingWhileFourPicturesWait)
{
    if (!streams().ok)
        GTEST_SKIP() << "the ffmpeg command line is needed";
    auto jpegs = simcam::splitJpegStream(streamFile("j420.mjpeg"));
    qv_dec *dec = qv_dec_create(DEC_PIX_YUV420P_SEPARATE);
    ASSERT_NE(dec, nullptr);
    for (int i = 0; i < 10; i++)
        feed(dec, jpegs[size_t(i) % jpegs.size()], 1, simcam::kMediaMjpeg);
    uint32_t decoded = 0, inputs = 0;
    EXPECT_TRUE(SimCamera::waitFor([&] {
        qv_dec_counts(dec, &decoded, &inputs);
        return decoded == 4;
    }, 3000));
    pf_sleep_ms(100);
    qv_dec_counts(dec, &decoded, &inputs);
    EXPECT_EQ(decoded, 4u);
    EXPECT_EQ(inputs, 6u);
    dec_frame *f = qv_dec_take(dec, pf_tick_ms());
    ASSERT_NE(f, nullptr);
    dec_frame_free(f);
    EXPECT_TRUE(SimCamera::waitFor([&] {
        qv_dec_counts(dec, &decoded, &inputs);
        return decoded == 4 && inputs == 5;
    }, 3000));
    qv_dec_free(dec);
}

TEST(DecoderQueues, TrimKeepsQueuesBoundedWhenNobodyTakes)
{
    if (!streams().ok)
        GTEST_SKIP() << "the ffmpeg command line is needed";
    auto aus = simcam::splitAccessUnits(streamFile("h420.h264"));
    qv_dec *dec = qv_dec_create(DEC_PIX_YUV420P_SEPARATE);
    ASSERT_NE(dec, nullptr);
    for (int round = 0; round < 20; round++) {
        for (const auto &au : aus)
            feed(dec, au, simcam::accessUnitIsKey(au) ? 1 : 2, simcam::kMediaH264);
        uint32_t decoded = 0, inputs = 0;
        qv_dec_counts(dec, &decoded, &inputs);
        EXPECT_LE(inputs, 60u);
        EXPECT_LE(decoded, 4u);
    }
    // A reset empties both queues.
    qv_dec_reset(dec);
    uint32_t decoded = 1, inputs = 1;
    EXPECT_TRUE(SimCamera::waitFor([&] {
        qv_dec_counts(dec, &decoded, &inputs);
        return decoded == 0 && inputs == 0;
    }, 3000));
    // ... and decoding waits for the next key frame.
    feed(dec, aus[1], 2, simcam::kMediaH264);
    pf_sleep_ms(50);
    qv_dec_counts(dec, &decoded, &inputs);
    EXPECT_EQ(decoded + inputs, 0u);
    qv_dec_free(dec);
}

TEST(DecoderQueues, KeyFramesAreToldByKindCodecOrContent)
{
    auto key = [](const std::string &payload, uint8_t kind, uint8_t type) {
        qv_buf_md *md = record(payload, kind, type, 0);
        int k = dec_is_key(md), codec = dec_codec_of(md);
        qv_md_unref(md);
        return std::make_pair(k, codec);
    };
    const std::string jpeg = simcam::tinyJpeg();
    EXPECT_EQ(key(jpeg, 0, 0), std::make_pair(1, int(DEC_CODEC_MJPEG)));
    EXPECT_EQ(key(jpeg, 2, simcam::kMediaH264), std::make_pair(1, int(DEC_CODEC_MJPEG)));
    const std::string idr("\0\0\0\1\x67\x42\0\0\0\1\x65\x88", 12), p("\0\0\1\x41\x9a", 5);
    EXPECT_EQ(key(idr, 0, simcam::kMediaH264), std::make_pair(1, int(DEC_CODEC_H264)));
    EXPECT_EQ(key(p, 0, simcam::kMediaH264), std::make_pair(0, int(DEC_CODEC_H264)));
    EXPECT_EQ(key(p, 1, simcam::kMediaH264), std::make_pair(1, int(DEC_CODEC_H264)));
    EXPECT_EQ(key(p, 0, 99), std::make_pair(0, int(DEC_CODEC_H264)));  // told by its start code
    EXPECT_EQ(key("xyz", 2, simcam::kMediaMjpeg), std::make_pair(1, int(DEC_CODEC_MJPEG)));
}

// ---- the decoding itself, driven directly ----
namespace {

std::string jpegOfSize(const std::string &size)
{
    const std::string path = streams().dir + "/" + size + ".jpg";
    if (!ffmpeg("-f lavfi -i testsrc=size=" + size + " -frames:v 1 -pix_fmt yuvj422p -c:v mjpeg -q:v 20 -f mjpeg " + path))
        return {};
    return simcam::readFile(path);
}

using Sizes = std::vector<std::pair<int, int>>;

void decode(dec_state *state, const std::string &payload, Sizes &out)
{
    qv_buf_md *md = record(payload, 1, simcam::kMediaMjpeg, 0);
    dec_state_decode(state, md, [](void *user, dec_frame *f) {
        static_cast<Sizes *>(user)->emplace_back(f->width, f->height);
        dec_frame_free(f);
    }, &out);
    qv_md_unref(md);
}

} // namespace

// A picture above the largest a camera sends (4000 x 3000) is refused before
// it takes memory; the decoder goes on with the next one.
TEST(DecoderLimits, PicturesAboveTheLargestCameraPictureAreRefused)
{
    if (!streams().ok)
        GTEST_SKIP() << "the ffmpeg command line is needed";
    const std::string largest = jpegOfSize("4000x3000"), larger = jpegOfSize("4160x3120");
    ASSERT_FALSE(largest.empty() || larger.empty());
    dec_state *state = dec_state_create(DEC_PIX_YUV420P_SEPARATE);
    ASSERT_NE(state, nullptr);
    Sizes sizes;
    for (const std::string *jpeg : { &largest, &larger, &largest })
        decode(state, *jpeg, sizes);
    EXPECT_EQ(sizes, (Sizes{ { 4000, 3000 }, { 4000, 3000 } }));
    dec_state_free(state);
}

// ---- pacing ----
TEST(DecoderPacing, FirstPictureAtOnceThenInStepWithTimeStamps)
{
    dec_pacing p{};
    EXPECT_EQ(dec_pace(&p, 5000000, 3, 1000), 1);        // the first at once
    EXPECT_EQ(dec_pace(&p, 5040000, 2, 1010), 0);        // 40 ms later by its stamp, 10 ms by the clock
    EXPECT_EQ(dec_pace(&p, 5040000, 2, 1039), 0);
    EXPECT_EQ(dec_pace(&p, 5040000, 2, 1040), 1);
    EXPECT_EQ(dec_pace(&p, 6500000, 2, 1041), 1);        // 1 s or more ahead: jump at once
    EXPECT_EQ(dec_pace(&p, 6400000, 2, 1042), 1);        // behind the clock: at once
    EXPECT_EQ(dec_pace(&p, 6900000, 15, 1043), 1);       // 15 pending: jump
}

TEST(DecoderPacing, HurriesWhenPicturesPileUpEvenWhenAskedEveryMillisecond)
{
    dec_pacing p{};
    ASSERT_EQ(dec_pace(&p, 0 + 1, 9, 0), 1);
    // 9 pending: the clock runs 1.5 times as fast. 100 ms of stamps are due
    // after 67 ms, asked once a millisecond.
    uint32_t now = 0;
    while (!dec_pace(&p, 100001, 9, ++now) && now < 1000) {
    }
    EXPECT_GE(now, 66u);
    EXPECT_LE(now, 68u);
}

// ---- conversion, on pictures made here ----
namespace {

struct PictureDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using PicturePtr = std::unique_ptr<AVFrame, PictureDeleter>;

// A picture of the given layout whose plane p holds value(p, x, y).
template <typename Value> PicturePtr picture(AVPixelFormat format, int w, int h, Value value)
{
    PicturePtr f(av_frame_alloc());
    f->format = format;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return nullptr;
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
    for (int p = 0; p < 3; p++) {
        const int pw = p ? AV_CEIL_RSHIFT(w, d->log2_chroma_w) : w, ph = p ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
        for (int y = 0; y < ph; y++)
            for (int x = 0; x < pw; x++)
                f->data[p][y * f->linesize[p] + x] = value(p, x, y);
    }
    return f;
}

struct ConvertedFrame {
    dec_scaler scaler{};
    dec_frame *frame = nullptr;
    ConvertedFrame(const AVFrame *p, int code) { frame = dec_convert(&scaler, p, code, 0); }
    ~ConvertedFrame()
    {
        dec_frame_free(frame);
        dec_scaler_free(&scaler);
    }
    int at(int plane, int x, int y) const { return frame->data[plane][y * frame->stride[plane] + x]; }
};

} // namespace

// Separate planes are video range: a full-range picture's luma 0 to 255
// becomes 16 to 235 and its chroma 0 to 255 becomes 16 to 240 (128 stays),
// each value within one of BT.601's rounding; a video-range picture is
// copied as it is; 4:2:2 chroma rows are averaged in pairs, rounding up.
TEST(DecoderConversion, SeparatePlanesAtTheEndsOfEachRange)
{
    auto ideal = [](int v, bool luma) {
        return int(std::lround(luma ? 16 + v * 219.0 / 255 : 128 + (v - 128) * 224.0 / 255));
    };
    // Luma x / 2, chroma x and 255 - x: every value of both ranges.
    auto ramp = [](int p, int x, int) { return uint8_t(p == 0 ? x / 2 : p == 1 ? x : 255 - x); };
    for (AVPixelFormat format : { AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P }) {
        const bool full = format == AV_PIX_FMT_YUVJ420P;
        PicturePtr p = picture(format, 512, 2, ramp);
        ASSERT_TRUE(p);
        ConvertedFrame out(p.get(), DEC_PIX_YUV420P_SEPARATE);
        ASSERT_NE(out.frame, nullptr);
        for (int v = 0; v < 256; v++) {
            const int luma = out.at(0, 2 * v, 1), u = out.at(1, v, 0), vv = out.at(2, 255 - v, 0);
            if (!full) {
                EXPECT_EQ(luma, v);
                EXPECT_EQ(u, v);
                EXPECT_EQ(vv, v);
                continue;
            }
            EXPECT_LE(std::abs(luma - ideal(v, true)), 1) << "luma " << v;
            EXPECT_LE(std::abs(u - ideal(v, false)), 1) << "U " << v;
            EXPECT_LE(std::abs(vv - ideal(v, false)), 1) << "V " << v;
        }
        if (full) {
            EXPECT_EQ(out.at(0, 0, 0), 16);
            EXPECT_EQ(out.at(0, 511, 0), 235);
            EXPECT_EQ(out.at(1, 0, 0), 16);
            EXPECT_EQ(out.at(1, 128, 0), 128);
            EXPECT_EQ(out.at(1, 255, 0), 240);
            EXPECT_EQ(out.at(2, 0, 0), 240);
            EXPECT_EQ(out.at(2, 255, 0), 16);
        }
    }

    // Chroma rows 0 and 255, 10 and 11, then an odd last row on its own.
    const uint8_t rows[5] = { 0, 255, 10, 11, 77 };
    PicturePtr p = picture(AV_PIX_FMT_YUV422P, 4, 5, [&](int plane, int, int y) {
        return uint8_t(plane == 0 ? 100 : plane == 1 ? rows[y] : 255 - rows[y]);
    });
    ASSERT_TRUE(p);
    ConvertedFrame out(p.get(), DEC_PIX_YUV420P_SEPARATE);
    ASSERT_NE(out.frame, nullptr);
    const int u[3] = { 128, 11, 77 }, v[3] = { 128, 245, 178 };
    for (int r = 0; r < 3; r++) {
        EXPECT_EQ(out.at(1, 1, r), u[r]) << "row " << r;
        EXPECT_EQ(out.at(2, 1, r), v[r]) << "row " << r;
    }
    EXPECT_EQ(out.at(0, 3, 4), 100);
}

// Packed RGB follows the picture's range: grey levels of a full-range
// picture keep their value, video-range 16 to 235 spread over 0 to 255.
TEST(DecoderConversion, PackedRgbFollowsThePicturesRange)
{
    const int levels[] = { 0, 16, 64, 128, 192, 235, 255 };
    for (AVPixelFormat format : { AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P }) {
        const bool full = format == AV_PIX_FMT_YUVJ420P;
        PicturePtr p = picture(format, 14, 2, [&](int plane, int x, int) {
            return uint8_t(plane == 0 ? levels[x / 2] : 128);
        });
        ASSERT_TRUE(p);
        ConvertedFrame out(p.get(), DEC_PIX_RGB888);
        ASSERT_NE(out.frame, nullptr);
        for (int i = 0; i < 7; i++) {
            const int want = full ? levels[i] : std::clamp(int(std::lround((levels[i] - 16) * 255.0 / 219)), 0, 255);
            for (int c = 0; c < 3; c++)
                EXPECT_LE(std::abs(out.at(0, 2 * i * 3 + c, 0) - want), 1)
                    << (full ? "full" : "video") << " range level " << levels[i] << " channel " << c;
        }
    }
}

// libswscale writes whole SIMD blocks past the end of a row. Pictures of
// every small size through it (packed RGB, and I420 from 4:4:4) come out
// whole while many frames lie side by side on the heap, whose allocator would
// otherwise find the headers of its blocks overwritten.
TEST(DecoderConversion, ScaledPicturesStayInsideTheirFrames)
{
    const int codes[] = { DEC_PIX_RGB888,   DEC_PIX_BGR888,   DEC_PIX_ARGB8888,        DEC_PIX_ABGR8888,
                          DEC_PIX_RGBA8888, DEC_PIX_BGRA8888, DEC_PIX_YUV420P_SEPARATE };
    const auto flat = [](int p, int, int) { return uint8_t(p == 0 ? 100 : 128); };
    for (int w = 1; w <= 48; w++) {
        for (int h = 1; h <= 3; h++) {
            PicturePtr yuv420 = picture(AV_PIX_FMT_YUV420P, w, h, flat), yuv444 = picture(AV_PIX_FMT_YUV444P, w, h, flat);
            ASSERT_TRUE(yuv420 && yuv444);
            for (int code : codes) {
                const bool planes = code == DEC_PIX_YUV420P_SEPARATE;
                const bool alphaFirst = code == DEC_PIX_ARGB8888 || code == DEC_PIX_ABGR8888;
                const int bytes = code == DEC_PIX_RGB888 || code == DEC_PIX_BGR888 ? 3 : 4;
                // Video-range luma 100 is grey 98 in RGB (96 on libswscale's fast path).
                const int grey = planes ? 100 : 98;
                dec_scaler scaler{};
                std::vector<dec_frame *> frames;
                for (int i = 0; i < 16; i++)
                    frames.push_back(dec_convert(&scaler, planes ? yuv444.get() : yuv420.get(), code, 0));
                for (dec_frame *f : frames) {
                    ASSERT_NE(f, nullptr) << w << "x" << h << " code " << code;
                    for (int y = 0; y < h; y++) {
                        const uint8_t *row = f->data[0] + size_t(y) * f->stride[0];
                        for (int x = 0; x < (planes ? w : w * bytes); x++) {
                            const bool alpha = !planes && bytes == 4 && x % 4 == (alphaFirst ? 0 : 3);
                            EXPECT_LE(std::abs(row[x] - (alpha ? 255 : grey)), 2)
                                << w << "x" << h << " code " << code << " row " << y << " byte " << x;
                        }
                    }
                    if (planes)
                        EXPECT_EQ(f->data[2][size_t((h + 1) / 2 - 1) * f->stride[2] + size_t((w + 1) / 2 - 1)], 128);
                    else
                        EXPECT_EQ(f->stride[0], w * bytes);
                    dec_frame_free(f);
                }
                dec_scaler_free(&scaler);
            }
        }
    }
}
