// Stream logins end to end: RTSP, HTTP-FLV and the framed protocol over HTTP
// against the simulated camera and against real peers (GStreamer's RTSP
// server, ffmpeg's FLV output), and the firmware upgrade against the
// simulated camera. Everything on 127.0.0.1.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>

#include "clua.h"
#include "sdk.h"
#include "sim_camera.h"
#include "sim_stream.h"
#include "test_util.h"
#include "trovix.h"

using namespace simcam;
using trovixtest::member;

namespace {

std::string streamLogin(uint16_t port, const std::string &protocol, const std::string &path,
                        const std::string &user = "admin", const std::string &pass = "secret")
{
    return "{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) + ",\"protocol\":\"" + protocol +
           "\",\"path\":\"" + path + "\",\"login\":{\"username\":\"" + user + "\",\"passwd\":\"" + pass + "\"}}";
}

std::string request0(const std::string &json)
{
    char *text = nullptr;
    int code = trovix_request(0, json.c_str(), &text);
    std::string out = code == 0 && text ? text : "code " + std::to_string(code);
    trovix_free(text);
    return out;
}

std::string connectStatus(int id)
{
    std::string q = "{\"cmd\":\"status_connect\",\"status_connect\":[\"" + std::to_string(id) + "\"]}";
    return member(request0(q).c_str(), { "status_connect", std::to_string(id) });
}

// Every media record a connection delivers, copied on the stream thread.
struct Received {
    media_head head;
    std::string payload;
};

class Collector {
public:
    static int callback(void *user, int protocol, int conn, int, int, int, qv_buf_md *md)
    {
        auto *self = static_cast<Collector *>(user);
        std::lock_guard<std::mutex> lock(self->mu_);
        self->media_[conn].push_back(
            Received{ md->head, std::string(reinterpret_cast<char *>(md->buf.data + md->buf.start),
                                            md->buf.end - md->buf.start) });
        self->protocols_[conn] = protocol;
        return 0;
    }
    std::vector<Received> of(int conn)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return media_[conn];
    }
    int protocolOf(int conn)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return protocols_[conn];
    }
    bool waitFor(int conn, size_t n, int ms)
    {
        return SimCamera::waitFor([&] { return of(conn).size() >= n; }, ms);
    }

private:
    std::mutex mu_;
    std::map<int, std::vector<Received>> media_;
    std::map<int, int> protocols_;
};

class Streams : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(trovix_init(""), 0);
        ASSERT_EQ(trovix_md_add_listener("test", Collector::callback, &media), 0);
    }
    void TearDown() override { trovix_quit(); }

    // Every access unit decodes to the expected picture size.
    void expectPictures(int conn, size_t atLeast, int width, int height)
    {
        ASSERT_TRUE(media.waitFor(conn, atLeast, 10000)) << "got " << media.of(conn).size();
        H264Check check;
        auto units = media.of(conn);
        EXPECT_EQ(units[0].head.frame_kind, 1);
        for (const Received &r : units) {
            EXPECT_EQ(r.head.media_type, 2);
            EXPECT_EQ(r.head.payload_len, r.payload.size());
            PictureSize size = check.decode(r.payload);
            EXPECT_EQ(size.width, width);
            EXPECT_EQ(size.height, height);
        }
        EXPECT_EQ(check.decoded(), static_cast<int>(units.size()));
    }

    // The library's own decoder bound to the connection: n pictures of the
    // expected size come out of its pacing step.
    void expectDecoded(int conn, size_t n, int width, int height)
    {
        static int nextDecoder = 700;
        int dec = nextDecoder++;
        ASSERT_EQ(trovix_dec_open(dec, nullptr), 0);
        ASSERT_EQ(trovix_dec_bind(dec, conn, 0, 0, 0), 0);
        size_t got = 0;
        uint64_t until = pf_clock_ms() + 15000;
        while (got < n && pf_clock_ms() < until) {
            dec_frame *f = nullptr;
            if (trovix_dec_get_md_data(dec, &f) != 0) {
                pf_sleep_ms(5);
                continue;
            }
            EXPECT_EQ(f->fmt, DEC_PIX_YUV420P_SEPARATE);
            EXPECT_EQ(f->width, width);
            EXPECT_EQ(f->height, height);
            trovix_dec_free_md_data(f);
            got++;
        }
        EXPECT_EQ(got, n);
        EXPECT_EQ(trovix_dec_close(dec), 0);
    }

    Collector media;
};

const std::vector<AccessUnit> &clip()
{
    static const std::vector<AccessUnit> aus = accessUnits(ffmpegH264(320, 240, 60));
    return aus;
}

// Starts cam and logs in to it over RTSP; the login's result.
int rtspLogin(SimRtspServer &cam, const SimRtspServer::Options &o, int *id,
              const std::vector<AccessUnit> &stream = clip())
{
    uint16_t port = cam.start(stream, o);
    return trovix_login(id, streamLogin(port, "rtsp", "/live").c_str());
}

// The queues of the library's device connections once done() says so, or
// after 20 s.
ncm_queue_usage queuesWhen(const std::function<bool(const ncm_queue_usage &)> &done)
{
    ncm_queue_usage q{};
    SimCamera::waitFor(
        [&] {
            ncm_queue_stats(sdk_current()->ncm_a, &q);
            return done(q);
        },
        60000);
    return q;
}

} // namespace

// ---- RTSP against the simulated camera ----
TEST_F(Streams, RtspLoginPlaysAndDeliversDecodableAccessUnits)
{
    ASSERT_GE(clip().size(), 60u);
    SimRtspServer cam;
    SimRtspServer::Options o;
    o.loops = 2;
    uint16_t port = cam.start(clip(), o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "RTSP", "/live").c_str()), 0);
    EXPECT_EQ(cam.methods(), (std::vector<std::string>{ "OPTIONS", "DESCRIBE", "SETUP", "PLAY" }));
    auto reqs = cam.requests();
    EXPECT_EQ(reqs[0].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/live");
    EXPECT_EQ(reqs[2].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/live/trackID=0");
    EXPECT_EQ(reqs[2].headers["transport"], "RTP/AVP/TCP;unicast;interleaved=0-1");
    EXPECT_EQ(reqs[3].headers["session"], "12345678");
    EXPECT_EQ(reqs[1].headers["user-agent"], "TROVIX (TROVIX Streaming Media v2019.11.19)");
    for (size_t i = 0; i < reqs.size(); i++)
        EXPECT_EQ(reqs[i].headers["cseq"], std::to_string(i + 1));
    expectPictures(id, 30, 320, 240);
    expectDecoded(id, 10, 320, 240); // from the key frame that starts the second pass
    EXPECT_EQ(media.protocolOf(id), NP_RTSP);
    EXPECT_EQ(connectStatus(id), "doing");
    EXPECT_EQ(trovix_logout(id), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return cam.openConnections() == 0; }, 20000));
    EXPECT_EQ(connectStatus(id), "none");
}

TEST_F(Streams, RtspOtherMediaGetChannelsOfTheirOwn)
{
    SimRtspServer::Options o;
    o.audio = true;
    SimRtspServer cam;
    uint16_t port = cam.start(clip(), o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live").c_str()), 0);
    auto reqs = cam.requests();
    ASSERT_EQ(reqs.size(), 5u);
    EXPECT_EQ(reqs[2].headers["transport"], "RTP/AVP/TCP;unicast;interleaved=0-1");
    EXPECT_EQ(reqs[3].url.substr(reqs[3].url.size() - 9), "trackID=1");
    EXPECT_EQ(reqs[3].headers["transport"], "RTP/AVP/TCP;unicast;interleaved=2-3");
    EXPECT_EQ(reqs[3].headers["session"], "12345678");
    expectPictures(id, 20, 320, 240);
}

TEST_F(Streams, RtspParameterSetsFromTheSdpOrAStapAPacket)
{
    for (int variant = 0; variant < 2; variant++) {
        SimRtspServer::Options o;
        o.paramsInBand = variant == 1;
        o.stapParams = variant == 1;
        o.spropInSdp = variant == 0;
        SimRtspServer cam;
        uint16_t port = cam.start(clip(), o);
        int id = 0;
        ASSERT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live").c_str()), 0);
        expectPictures(id, 10, 320, 240);
        trovix_logout(id);
    }
}

TEST_F(Streams, RtspAuthorisationBasicAndDigest)
{
    for (auto auth : { SimRtspServer::Auth::Basic, SimRtspServer::Auth::Digest }) {
        SimRtspServer::Options o;
        o.auth = auth;
        SimRtspServer cam;
        uint16_t port = cam.start(clip(), o);
        int id = 0;
        ASSERT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live", "admin", "secret").c_str()), 0);
        auto reqs = cam.requests();
        ASSERT_GE(reqs.size(), 5u);
        EXPECT_EQ(reqs[0].headers.count("authorization"), 0u); // asked for only after the 401
        EXPECT_NE(reqs.back().headers["authorization"], "");
        expectPictures(id, 5, 320, 240);
        trovix_logout(id);

        SimRtspServer wrong;
        port = wrong.start(clip(), o);
        uint64_t start = pf_clock_ms();
        EXPECT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live", "admin", "guess").c_str()), 4098);
        EXPECT_LT(pf_clock_ms() - start, uint64_t(TROVIX_REPLY_TIMEOUT_MS)); // refused, not timed out
        EXPECT_EQ(id, 0);
        EXPECT_EQ(wrong.methods(), (std::vector<std::string>{ "OPTIONS", "OPTIONS" }));
        EXPECT_TRUE(SimCamera::waitFor([&] { return wrong.openConnections() == 0; }, 20000));
    }
}

TEST_F(Streams, RtspEveryStepMustBeAnswered200)
{
    for (const char *method : { "OPTIONS", "DESCRIBE", "SETUP", "PLAY" }) {
        SimRtspServer::Options o;
        o.refuse[method] = 454;
        SimRtspServer cam;
        uint16_t port = cam.start(clip(), o);
        int id = 7;
        EXPECT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live").c_str()), 4098) << method;
        EXPECT_EQ(id, 0);
        EXPECT_EQ(cam.methods().back(), method);
        EXPECT_TRUE(SimCamera::waitFor([&] { return cam.openConnections() == 0; }, 20000)) << method;
    }
}

TEST_F(Streams, RtspLoginFailsAtOnceWhenTheCameraBreaksTheExchange)
{
    // Each answers OPTIONS; the login gets 1 as soon as the connection is
    // given up, not the time-out's 2.
    const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
    std::string endless = ok;
    while (endless.size() < 100000)
        endless += "X-Filler: 0123456789abcdef0123456789abcdef\r\n";
    const SimRtspServer::Options::Raw answers[] = {
        { ok + "Content-Length: 100000000000000000000\r\n\r\n" },
        { ok + "Content-Length: -5\r\n\r\n" },
        { ok + "Content-Length: 70000\r\n\r\n" },
        { endless },
        { "RTSP/1.0 2", true },
        { "RTSP/1.0 OK\r\nCSeq: 1\r\n\r\n" },
        { "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n" },
    };
    for (const auto &answer : answers) {
        SimRtspServer::Options o;
        o.raw["OPTIONS"] = answer;
        SimRtspServer cam;
        int id = 7;
        EXPECT_EQ(rtspLogin(cam, o, &id), 1) << answer.bytes.substr(0, 60);
        EXPECT_EQ(id, 0);
    }
}

TEST_F(Streams, RtspCameraFloodingUnaskedAnswersIsCutOff)
{
    // The camera floods for as long as it is connected, so its connection
    // never goes idle: only the library's cut-off ends it.
    SimRtspServer::Options o;
    o.floodTexts = true;
    o.loops = -1;
    SimRtspServer cam;
    int id = 0;
    ASSERT_EQ(rtspLogin(cam, o, &id), 0);
    // The wait also ends once far more texts were dropped than the cut-off
    // allows, or on a queue that grows without end.
    const ncm_queue_usage q = queuesWhen([&](const ncm_queue_usage &u) {
        return u.floods_ended > 0 || u.texts_dropped > 64 * NCM_TEXT_FLOOD_DROPS || u.text_peak > 2 * NCM_TEXT_QUEUE_MAX;
    });
    ASSERT_EQ(q.floods_ended, 1u) << "ended by the library for flooding";
    EXPECT_TRUE(SimCamera::waitFor([&] { return cam.openConnections() == 0; }, 20000));
    EXPECT_LE(q.text_peak, NCM_TEXT_QUEUE_MAX + 2 * NCM_RECORD_COST);
    EXPECT_GE(q.texts_dropped, NCM_TEXT_FLOOD_DROPS);
}

namespace {
struct SlowListener {
    std::atomic<int> calls{ 0 };
    std::atomic<bool> oversized{ false };
    static int callback(void *user, int, int, int, int, int, qv_buf_md *md)
    {
        auto *self = static_cast<SlowListener *>(user);
        if (md->buf.cap != md->buf.end)
            self->oversized = true;
        self->calls++;
        pf_sleep_ms(1);
        return 0;
    }
};
} // namespace

TEST_F(Streams, RtspFloodOfTinyAccessUnitsPastASlowListenerStaysBounded)
{
    ASSERT_EQ(trovix_md_remove_listener("test"), 0);
    SlowListener slow;
    ASSERT_EQ(trovix_md_add_listener("slow", SlowListener::callback, &slow), 0);
    SimRtspServer::Options o;
    o.frameIntervalMs = 0;
    o.loops = -1;
    const std::vector<AccessUnit> tiny(30, AccessUnit{ Nal("\x41\x9a\x01\x02\x03\x04\x05\x06", 8) });
    SimRtspServer cam;
    int id = 0;
    ASSERT_EQ(rtspLogin(cam, o, &id, tiny), 0);
    const ncm_queue_usage q = queuesWhen(
        [](const ncm_queue_usage &u) { return u.media_dropped > 0 || u.media_peak > 2 * NCM_MEDIA_QUEUE_MAX; });
    EXPECT_GT(q.media_dropped, 0u);
    EXPECT_LE(q.media_peak, NCM_MEDIA_QUEUE_MAX);
    EXPECT_GT(slow.calls, 0);
    EXPECT_FALSE(slow.oversized) << "an access unit's buffer holds just its content";
    EXPECT_EQ(trovix_quit(), 0) << "the library quits while the camera floods it";
}

TEST_F(Streams, RtspCameraGoingAwayMidStreamEndsTheSession)
{
    SimRtspServer::Options o;
    o.closeAfterFrames = 12;
    SimRtspServer cam;
    uint16_t port = cam.start(clip(), o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live").c_str()), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return connectStatus(id) == "none"; }, 20000));
    auto units = media.of(id);
    EXPECT_GE(units.size(), 10u); // the last one, not followed by a new time stamp, stays unsent
    EXPECT_LE(units.size(), 12u);
    H264Check check;
    for (const Received &r : units)
        EXPECT_EQ(check.decode(r.payload).width, 320);
    EXPECT_EQ(trovix_logout(id), 0);
}

TEST_F(Streams, RtspSessionIsKeptAliveWithinItsTimeOut)
{
    SimRtspServer::Options o;
    o.sessionTimeout = 10;
    o.loops = -1;
    SimRtspServer cam;
    uint16_t port = cam.start(clip(), o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "rtsp", "/live").c_str()), 0);
    EXPECT_TRUE(SimCamera::waitFor(
        [&] {
            auto m = cam.methods();
            return std::find(m.begin(), m.end(), "GET_PARAMETER") != m.end();
        },
        8000));
    auto reqs = cam.requests();
    EXPECT_EQ(reqs.back().headers["session"], "12345678");
    EXPECT_EQ(connectStatus(id), "doing");
}

// ---- HTTP-FLV against the simulated camera ----
TEST_F(Streams, FlvLoginSendsOneGetAndDeliversDecodableAccessUnits)
{
    const std::string &flv = ffmpegFlv(320, 240, 45);
    ASSERT_FALSE(flv.empty());
    SimFlvServer cam;
    SimFlvServer::Options o;
    o.body = flv;
    uint16_t port = cam.start(o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "http_flv", " /live/1.flv ").c_str()), 0);
    expectPictures(id, 45, 320, 240);
    auto reqs = cam.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0], "GET /live/1.flv HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nUser-Agent: TROVIX (TROVIX Streaming Media v2019.12.11)\r\nAccept: */*\r\n"
                           "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(media.protocolOf(id), NP_HTTP_FLV);
    auto units = media.of(id);
    EXPECT_EQ(units[1].head.pts_us - units[0].head.pts_us, 33000u);
}

TEST_F(Streams, FlvRefusedRequestFailsTheLoginAndCloses)
{
    SimFlvServer cam;
    SimFlvServer::Options o;
    o.status = 401;
    uint16_t port = cam.start(o);
    int id = 5;
    EXPECT_EQ(trovix_login(&id, streamLogin(port, "HTTP_FLV", "/x.flv").c_str()), 4098);
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return cam.openConnections() == 0; }, 20000));
}

TEST_F(Streams, FlvCameraGoingAwayMidStreamEndsTheSession)
{
    SimFlvServer cam;
    SimFlvServer::Options o;
    o.body = ffmpegFlv(320, 240, 45);
    o.closeAfterBytes = static_cast<int>(o.body.size() / 2);
    uint16_t port = cam.start(o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "http_flv", "/x.flv").c_str()), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return connectStatus(id) == "none"; }, 20000));
    // The media thread may hand the pictures on after the session has ended.
    EXPECT_TRUE(media.waitFor(id, 6, 5000)) << "got " << media.of(id).size();
    EXPECT_LT(media.of(id).size(), 45u);
}

// ---- the framed protocol over HTTP ----
TEST_F(Streams, HttpFramedLoginSurvivesTheMessagesAfterIt)
{
    SimFlvServer cam;
    SimFlvServer::Options o;
    o.body = textFrame("{\"cmd\":\"hello\"}") + nsppFrame(1, mediaBody(tinyJpeg(), 1, 2, 1, 1)) +
             textFrame("{\"cmd\":\"alarm\"}");
    o.command = "sleep 30"; // keeps the connection open
    uint16_t port = cam.start(o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "http_nspp", "/nspp").c_str()), 0);
    ASSERT_TRUE(media.waitFor(id, 1, 3000));
    EXPECT_EQ(media.of(id)[0].payload, tinyJpeg());
    pf_sleep_ms(200);
    EXPECT_EQ(connectStatus(id), "doing");
    EXPECT_EQ(cam.openConnections(), 1);
}

// ---- real peers ----
TEST_F(Streams, GStreamerRtspServer)
{
    GstRtspServer server;
    std::string why = server.start(352, 288);
    ASSERT_EQ(why, "");
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(server.port(), "rtsp", "/test").c_str()), 0);
    expectPictures(id, 15, 352, 288);
    expectDecoded(id, 15, 352, 288);
    EXPECT_EQ(trovix_logout(id), 0);
    EXPECT_EQ(connectStatus(id), "none");
}

TEST_F(Streams, GStreamerRtspServerWithDigestAuthorisation)
{
    GstRtspServer server;
    ASSERT_EQ(server.start(320, 240, "digest", "admin", "secret"), "");
    int id = 0;
    EXPECT_EQ(trovix_login(&id, streamLogin(server.port(), "rtsp", "/test", "admin", "wrong").c_str()), 4098);
    ASSERT_EQ(trovix_login(&id, streamLogin(server.port(), "rtsp", "/test", "admin", "secret").c_str()), 0);
    expectPictures(id, 10, 320, 240);
}

TEST_F(Streams, FfmpegFlvRelayedLikeACamera)
{
    SimFlvServer relay;
    SimFlvServer::Options o;
    o.command = "exec ffmpeg -nostdin -v error -re -f lavfi -i testsrc=size=320x240:rate=30 -c:v libx264 "
                "-preset ultrafast -g 15 -bf 0 -pix_fmt yuv420p -f flv -";
    uint16_t port = relay.start(o);
    int id = 0;
    ASSERT_EQ(trovix_login(&id, streamLogin(port, "http_flv", "/live.flv").c_str()), 0);
    expectPictures(id, 15, 320, 240);
    expectDecoded(id, 15, 320, 240);
    EXPECT_EQ(trovix_logout(id), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return relay.openConnections() == 0; }, 20000));
}

// ---- firmware upgrade ----
namespace {

class Upgrade : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = camera.start();
        ASSERT_NE(port, 0);
        ASSERT_EQ(trovix_init(""), 0);
        char tmpl[] = "/tmp/trovix-upgrade-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        trovix_quit();
        camera.stop();
        std::string cmd = "rm -rf " + dir;
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string file(size_t size, const std::string &name = "update.qpk")
    {
        std::string path = dir + "/" + name;
        std::mt19937 rng(static_cast<unsigned>(size));
        std::string bytes(size, '\0');
        for (char &c : bytes)
            c = static_cast<char>(rng());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    int start(const std::string &path, std::string *text = nullptr)
    {
        std::string req = "{\"cmd\":\"upgrade\",\"path\":\"" + path + "\",\"ip\":\"127.0.0.1\",\"port\":" +
                          std::to_string(port) + ",\"login\":{\"username\":\"x\",\"passwd\":\"y\"}}";
        char *reply = nullptr;
        int code = trovix_request(0, req.c_str(), &reply);
        if (text)
            *text = reply ? reply : "";
        trovix_free(reply);
        return code;
    }
    std::string status(int *percentage = nullptr)
    {
        std::string text = request0("{\"cmd\":\"status_upgrade\"}");
        if (percentage)
            *percentage = atoi(member(text.c_str(), { "status_upgrade", "percentage" }).c_str());
        return member(text.c_str(), { "status_upgrade", "status" });
    }
    std::string waitUntilNot(const std::string &state, int ms)
    {
        std::string s;
        SimCamera::waitFor([&] { return (s = status()) != state; }, ms);
        return s;
    }
    SimCamera camera;
    uint16_t port = 0;
    std::string dir;
};

} // namespace

TEST_F(Upgrade, StatusBeforeAnyUpgrade)
{
    int pct = -1;
    EXPECT_EQ(status(&pct), "done");
    EXPECT_EQ(pct, 0);
}

TEST_F(Upgrade, EveryByteArrivesBeforeTheDeviceIsToldToInstall)
{
    std::string path = file(200000);
    std::string answer;
    ASSERT_EQ(start(path, &answer), 0);
    EXPECT_EQ(member(answer.c_str(), { "cmd" }), "upgrade");
    EXPECT_EQ(member(answer.c_str(), { "upgrade", "code" }), "0");
    int pct = 0;
    EXPECT_EQ(waitUntilNot("doing", 10000), "done");
    status(&pct);
    EXPECT_EQ(pct, 100);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(camera.upgradeData(), bytes);
    EXPECT_EQ(camera.upgradeBlocks(), 7);
    auto cmds = camera.commands();
    ASSERT_GE(cmds.size(), 3u);
    EXPECT_EQ(cmds.front(), "upgrade");
    EXPECT_EQ(cmds.back(), "upgrade_ok");
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "upgrade_ok"), 1);
    auto texts = camera.received();
    EXPECT_EQ(member(texts.back().c_str(), { "upgrade_ok", "all_bits" }), "200000");
    EXPECT_EQ(member(texts.back().c_str(), { "upgrade_ok", "all_packs" }), "7");
    EXPECT_EQ(member(texts.front().c_str(), { "upgrade", "passwd" }), "730418");
    // Polling stops after "upgrade_ok".
    size_t n = camera.received().size();
    pf_sleep_ms(400);
    EXPECT_EQ(camera.received().size(), n);
}

TEST_F(Upgrade, FilesOutsideTheSizeLimitsOrUnreadableAreRefused)
{
    EXPECT_EQ(start(file(511)), 1);
    EXPECT_EQ(start(dir + "/missing.qpk"), 1);
    EXPECT_EQ(start(dir), 1);
    std::string big = dir + "/big.qpk";
    int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 33554433), 0);
    close(fd);
    EXPECT_EQ(start(big), 1);
    EXPECT_EQ(camera.connectionsAccepted(), 0); // nothing was sent
    ASSERT_EQ(truncate(big.c_str(), 33554432), 0);
    EXPECT_EQ(start(big), 0);
    EXPECT_EQ(status(), "doing");
    EXPECT_EQ(start(file(512)), 1); // one at a time
}

TEST_F(Upgrade, SmallestFileIsSentWhole)
{
    ASSERT_EQ(start(file(512)), 0);
    EXPECT_EQ(waitUntilNot("doing", 5000), "done");
    EXPECT_EQ(camera.upgradeData().size(), 512u);
}

TEST_F(Upgrade, ALostConnectionFailsNeverDone)
{
    std::string path = file(4000000);
    ASSERT_EQ(start(path), 0);
    int pct = 0;
    SimCamera::waitFor([&] { return status(&pct) == "doing" && pct >= 20; }, 5000);
    EXPECT_LT(pct, 90);
    camera.closeClients();
    EXPECT_EQ(waitUntilNot("doing", 3000), "failed");
    status(&pct);
    EXPECT_LT(pct, 90);
}

TEST_F(Upgrade, DeviceRefusalIsAnsweredAndFails)
{
    camera.queueReply(Reply::refuse(3));
    EXPECT_EQ(start(file(1000)), 1);
    EXPECT_EQ(waitUntilNot("doing", 3000), "failed");
    EXPECT_TRUE(camera.upgradeData().empty());
}

TEST_F(Upgrade, CountsThatDifferDoNotTellTheDeviceToInstall)
{
    camera.setUpgradeCountSkew(-1);
    ASSERT_EQ(start(file(70000)), 0);
    EXPECT_TRUE(SimCamera::waitFor([&] { return camera.upgradeData().size() == 70000u; }, 20000));
    pf_sleep_ms(500);
    int pct = 0;
    EXPECT_EQ(status(&pct), "doing");
    EXPECT_EQ(pct, 90);
    auto cmds = camera.commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "upgrade_ok"), 0);
    EXPECT_GE(std::count(cmds.begin(), cmds.end(), "upgrade_packs"), 2);
}

TEST_F(Upgrade, DeviceThatSaysItIsDoneIsDone)
{
    camera.setUpgradeCountSkew(1); // its counts never match: it is never told to install
    camera.queueReply(Reply::answer());
    camera.queueReply(Reply::answer("{\"cmd\":\"upgrade_ok\"}")); // to the first count query
    ASSERT_EQ(start(file(70000)), 0);
    EXPECT_EQ(waitUntilNot("doing", 5000), "done");
    int pct = 0;
    status(&pct);
    EXPECT_EQ(pct, 100);
    auto cmds = camera.commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "upgrade_ok"), 0);
}

// ---- the RTSP and SDP text codec on its own ----
namespace {

class RtspTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = clua_env_create(trovix_script_lookup, nullptr);
        ASSERT_NE(env, nullptr);
        ASSERT_EQ(clua_env_setup(env), 0);
        ASSERT_EQ(run("sdp = require('sdk.ncm.rtsp_sdp2') return 1"), "1");
    }
    void TearDown() override { clua_env_close(env); }
    std::string run(const std::string &code) { return trovixtest::luaRun(env->L, code); }
    clua_env *env = nullptr;
};

} // namespace

TEST_F(RtspTexts, MediumUrlsFromTheirControls)
{
    auto url = [&](const std::string &base, const std::string &control) {
        return run("return sdp.media_url('rtsp://10.0.0.2:554/live', '" + base + "', '" + control + "')");
    };
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live", "rtsp://h:554/live/track1"), "rtsp://10.0.0.2:554/live/track1");
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live", "track1"), "rtsp://10.0.0.2:554/live/track1");
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live/", "track1"), "rtsp://10.0.0.2:554/live/track1");
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live", "*"), "rtsp://10.0.0.2:554/live");
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live", ""), "rtsp://10.0.0.2:554/live");
    EXPECT_EQ(url("rtsp://10.0.0.2:554/live", "/other/t"), "rtsp://10.0.0.2:554/other/t");
}

TEST_F(RtspTexts, AnswersGiveStatusSessionTimeOutAndMedia)
{
    EXPECT_EQ(run(R"(local a = sdp.parser('RTSP/1.0 200 OK\r\nCSeq: 3\r\nsession: abc;Timeout=60\r\n\r\n', {url='rtsp://h/x'})
                     return a.code .. ' ' .. a.cseq .. ' ' .. a.session .. ' ' .. a.timeout)"),
              "200 3 abc 60");
    std::string describe = R"(local body = 'v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=0\r\n' ..
                     'm=application 0 RTP/AVP 107\r\na=control:meta\r\nm=audio 0 RTP/AVP 8\r\na=control:trackID=2\r\n'
                     local a = sdp.parser('RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Base: rtsp://h/x/\r\n' ..
                         'Content-Length: ' .. #body .. '\r\n\r\n' .. body, {url='rtsp://h/x'}))";
    EXPECT_EQ(run(describe + " return #a.media .. ' ' .. a.media[1].url .. ' ' .. a.media[2].t .. ' ' .. "
                             "a.media[2].control .. ' ' .. a.media[3].url .. ' ' .. sdp.h264_index(a)"),
              "3 rtsp://h/x/trackID=0 application meta rtsp://h/x/trackID=2 1");
    EXPECT_EQ(run("return sdp.parser('garbage', {url=''}).code == nil"), "true");
}

TEST_F(RtspTexts, RequestsAndTheirAuthorisation)
{
    EXPECT_EQ(run("local r = sdp.new_sdp() r.url = 'rtsp://h/x' r.sent_cseq = 1 return sdp.pack_options(r)"),
              "OPTIONS rtsp://h/x RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: TROVIX (TROVIX Streaming Media v2019.11.19)\r\n\r\n");
    EXPECT_EQ(run("return sdp.md5('')"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(run("return sdp.md5(string.rep('a', 1000))"), md5Hex(std::string(1000, 'a')));
    EXPECT_EQ(run("return sdp.base64('admin:secret')"), base64("admin:secret"));
    EXPECT_EQ(run("return sdp.base64('ab')"), "YWI=");
    // Digest is preferred over Basic; the response follows RFC 2617 without qop.
    std::string expect = md5Hex(md5Hex("u:cam:p") + ":n0:" + md5Hex("DESCRIBE:rtsp://h/x"));
    EXPECT_EQ(run(R"(local r = sdp.new_sdp() r.username, r.passwd = 'u', 'p'
                     r.challenge = sdp.challenge({'Basic realm="cam"', 'Digest realm="cam", nonce="n0", stale=FALSE'})
                     return sdp.authorization(r, 'DESCRIBE', 'rtsp://h/x'))"),
              "Authorization: Digest username=\"u\", realm=\"cam\", nonce=\"n0\", uri=\"rtsp://h/x\", response=\"" +
                  expect + "\"\r\n");
    EXPECT_EQ(run(R"(local r = sdp.new_sdp() r.username, r.passwd = 'admin', 'secret'
                     r.challenge = sdp.challenge({'Basic realm="cam"'}) return sdp.authorization(r, 'PLAY', 'x'))"),
              "Authorization: Basic " + base64("admin:secret") + "\r\n");
    EXPECT_EQ(run("return sdp.challenge({'Digest realm=\"x\", nonce=\"n\", algorithm=SHA-256'}) == nil"), "true");
}
