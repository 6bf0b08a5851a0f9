// The private framed protocol: header building and checking, the reader
// against split and malformed input, the writer, heartbeats and the idle rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "sim_camera.h"
#include "test_util.h"

using simcam::nsppFrame;
using simcam::nsppHeader;
using simcam::textFrame;
using trovixtest::DriverHarness;

static std::string mediaWithClaimedLength(uint32_t claimed, size_t actual)
{
    std::string m = simcam::mediaBody(std::string(actual, 'p'), 0, 0, 1);
    m[4] = static_cast<char>(claimed & 0xFF);
    m[5] = static_cast<char>((claimed >> 8) & 0xFF);
    m[6] = static_cast<char>((claimed >> 16) & 0xFF);
    m[7] = static_cast<char>(claimed >> 24);
    return nsppFrame(1, m);
}

TEST(FramedHeader, BuildsTheWordsTheDevicesExpect)
{
    struct Row {
        uint32_t kind, length, sub;
        uint32_t word1, word2;
    };
    const Row rows[] = {
        { NSPP_KIND_TEXT, 1, 0, 0x02000001u, 0 },
        { NSPP_KIND_TEXT, 0xFFFFFF, 0, 0x02FFFFFFu, 0 },
        { NSPP_KIND_MEDIA, 100, NP_SUB_UPGRADE, 0x01000064u, 0x00010000u },
        { NSPP_KIND_MEDIA, 0xFFFFFF, NP_SUB_UPGRADE, 0x01FFFFFFu, 0x00010000u },
        { NSPP_KIND_HEARTBEAT, 0, 0, 0x0E000000u, 0 },
        { NSPP_KIND_HEARTBEAT, 0, NP_SUB_UPGRADE, 0x0E000000u, 0x00010000u },
    };
    for (const Row &row : rows) {
        uint8_t h[12];
        nspp_head_build(h, row.kind, row.length, row.sub);
        EXPECT_EQ(qv_rd32(h), 0x01FA5A5Fu);
        EXPECT_EQ(qv_rd32(h + 4), row.word1);
        EXPECT_EQ(qv_rd32(h + 8), row.word2);
    }
}

TEST(FramedHeader, ChecksMagicVersionClassKindAndLength)
{
    struct Row {
        const char *name;
        std::string header;
        uint32_t maxClass;
        int result;
        uint32_t length;
    };
    const int bad = NCM_EV_BAD_FRAME;
    const Row rows[] = {
        { "text of 1 byte", nsppHeader(2, 1), 3, 0, 1 },
        { "text of the largest length", nsppHeader(2, 0xFFFFFF), 3, 0, 0xFFFFFF },
        { "media of 1 byte", nsppHeader(1, 1), 3, 0, 1 },
        { "heartbeat", nsppHeader(0xE, 0), 3, 0, 0 },
        { "last part", nsppHeader(2, 10, 3), 3, 0, 10 },
        { "upgrade sub-protocol", nsppHeader(2, 10, 0, 0xFFFF), 0, 0, 10 },
        { "class 4", nsppHeader(2, 10, 4), 3, bad, 10 },
        { "class 15", nsppHeader(2, 10, 15), 3, bad, 10 },
        { "class 1 where only whole messages go", nsppHeader(2, 10, 1), 0, bad, 10 },
        { "version 0", nsppHeader(2, 10, 0, 0, 0xFA5A5F, 0), 3, bad, 10 },
        { "version 2", nsppHeader(2, 10, 0, 0, 0xFA5A5F, 2), 3, bad, 10 },
        { "magic one below", nsppHeader(2, 10, 0, 0, 0xFA5A5E), 3, bad, 10 },
        { "magic one above", nsppHeader(2, 10, 0, 0, 0xFA5A60), 3, bad, 10 },
        { "magic with its top byte changed", nsppHeader(2, 10, 0, 0, 0x7A5A5F), 3, bad, 10 },
        { "kind 0", nsppHeader(0, 10), 3, bad, 10 },
        { "kind 3", nsppHeader(3, 10), 3, bad, 10 },
        { "kind 0xD", nsppHeader(0xD, 0), 3, bad, 0 },
        { "kind 0xF", nsppHeader(0xF, 0), 3, bad, 0 },
        { "heartbeat of 1 byte", nsppHeader(0xE, 1), 3, bad, 1 },
        { "empty text", nsppHeader(2, 0), 3, bad, 0 },
        { "empty media", nsppHeader(1, 0), 3, bad, 0 },
    };
    for (const Row &row : rows) {
        nspp_head_info info;
        EXPECT_EQ(nspp_head_parse(reinterpret_cast<const uint8_t *>(row.header.data()), row.maxClass, &info),
                  row.result)
            << row.name;
        EXPECT_EQ(info.length, row.length) << row.name;
    }
}

TEST(FramedHeader, TextBufferGrowsInFixedSteps)
{
    EXPECT_EQ(nspp_text_next_size(0), 4096u);
    EXPECT_EQ(nspp_text_next_size(4096), 16384u);
    EXPECT_EQ(nspp_text_next_size(1572864), 2097152u);
    EXPECT_EQ(nspp_text_next_size(2097152), 0u);
}

TEST(FramedReader, DeliversTextsAndSkipsHeartbeats)
{
    DriverHarness h(nspp_driver());
    h.mem.feed(simcam::heartbeatFrame() + textFrame("{\"a\":1}") + simcam::heartbeatFrame() + textFrame("{\"b\":2}"));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.texts.size(), 2u);
    EXPECT_EQ(p.texts[0], "{\"a\":1}");
    EXPECT_EQ(p.texts[1], "{\"b\":2}");
    EXPECT_TRUE(p.events.empty());
    EXPECT_EQ(h.state(), 0);
}

TEST(FramedReader, AssemblesHeadersAndBodiesSplitIntoSingleBytes)
{
    DriverHarness h(nspp_driver());
    h.mem.chunks = { 1 };
    std::string media = simcam::mediaBody(simcam::tinyJpeg(), 3, 4, 1);
    h.mem.feed(textFrame("{\"split\":true}") + nsppFrame(1, media));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.texts.size(), 1u);
    EXPECT_EQ(p.texts[0], "{\"split\":true}");
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], simcam::tinyJpeg());
    EXPECT_EQ(p.heads[0].key1, 3);
    EXPECT_EQ(p.heads[0].key2, 4);
    EXPECT_EQ(p.heads[0].frame_kind, 1);
    EXPECT_EQ(p.heads[0].media_type, 2);
}

// Every field of the media head reaches the media object as sent, at the
// ends of its range; the payload may be empty or as large as a media object
// holds.
TEST(FramedReader, MediaHeadFieldsAndPayloadSizesAtTheirLimits)
{
    struct Row {
        const char *name;
        size_t payload;
        uint16_t key1, key2;
        uint8_t kind, type;
        uint64_t pts;
    };
    const Row rows[] = {
        { "smallest", 0, 0, 0, 0, 0, 0 },
        { "one byte", 1, 1, 1, 1, 1, 1 },
        { "32-bit time", 7, 65535, 0, 2, 26, 0xFFFFFFFFu },
        { "above 32-bit time", 7, 0, 65535, 1, 2, 0x100000000u },
        { "largest", MEDIA_MAX_PAYLOAD, 65535, 65535, 255, 255, UINT64_MAX },
    };
    for (const Row &row : rows) {
        DriverHarness h(nspp_driver());
        std::string payload(row.payload, 'm');
        if (!payload.empty())
            payload.back() = 'z';
        h.mem.feed(nsppFrame(1, simcam::mediaBody(payload, row.key1, row.key2, row.kind, row.type, row.pts)));
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.events.empty()) << row.name;
        ASSERT_EQ(p.media.size(), 1u) << row.name;
        EXPECT_TRUE(p.media[0] == payload) << row.name << ": " << p.media[0].size() << " bytes";
        const media_head &head = p.heads[0];
        EXPECT_EQ(head.tag, 0x0120) << row.name;
        EXPECT_EQ(head.payload_len, row.payload) << row.name;
        EXPECT_EQ(head.key1, row.key1) << row.name;
        EXPECT_EQ(head.key2, row.key2) << row.name;
        EXPECT_EQ(head.frame_kind, row.kind) << row.name;
        EXPECT_EQ(head.media_type, row.type) << row.name;
        EXPECT_EQ(head.pts_us, row.pts) << row.name;
    }
    DriverHarness h(nspp_driver());
    h.mem.feed(mediaWithClaimedLength(MEDIA_MAX_PAYLOAD + 1, 50));
    h.pump();
    EXPECT_EQ(h.drain().events, std::vector<int>{ NCM_EV_TOO_LARGE });
}

TEST(FramedReader, JoinsTextSentInParts)
{
    DriverHarness h(nspp_driver());
    h.mem.feed(nsppFrame(2, "{\"part", 1) + nsppFrame(2, "s\":", 2) + nsppFrame(2, "3}", 3));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.texts.size(), 1u);
    EXPECT_EQ(p.texts[0], "{\"parts\":3}");
}

TEST(FramedReader, JoinsMediaSentInParts)
{
    DriverHarness h(nspp_driver());
    std::string media = simcam::mediaBody(std::string(5000, 'x'), 0, 0, 1);
    h.mem.feed(nsppFrame(1, media.substr(0, 40), 1) + nsppFrame(1, media.substr(40, 3000), 2) +
               nsppFrame(1, media.substr(3040), 3));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], std::string(5000, 'x'));
}

struct BadInput {
    const char *name;
    std::string bytes;
    int event;
};

class FramedReaderRejects : public ::testing::TestWithParam<BadInput> {};

TEST_P(FramedReaderRejects, ClosesWithItsEventCode)
{
    DriverHarness h(nspp_driver());
    h.mem.feed(GetParam().bytes);
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.events.size(), 1u) << GetParam().name;
    EXPECT_EQ(p.events[0], GetParam().event) << GetParam().name;
    EXPECT_EQ(h.state(), GetParam().event);
    EXPECT_TRUE(p.media.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, FramedReaderRejects,
    ::testing::Values(
        BadInput{ "bad magic", nsppHeader(2, 4, 0, 0, 0x123456) + "abcd", NCM_EV_BAD_FRAME },
        BadInput{ "unknown kind", nsppHeader(5, 4) + "abcd", NCM_EV_BAD_FRAME },
        BadInput{ "heartbeat with a body", nsppHeader(0xE, 4) + "abcd", NCM_EV_BAD_FRAME },
        BadInput{ "empty text", nsppHeader(2, 0), NCM_EV_BAD_FRAME },
        BadInput{ "class above 3", nsppHeader(2, 2, 5) + "{}", NCM_EV_BAD_FRAME },
        BadInput{ "middle part without a first", nsppFrame(2, "{}", 2), NCM_EV_BAD_FRAME },
        BadInput{ "media shorter than its head", nsppFrame(1, std::string(20, 'm')), NCM_EV_BAD_FRAME },
        BadInput{ "media head claims more than the body", mediaWithClaimedLength(100, 50), NCM_EV_BAD_FRAME },
        BadInput{ "media head claims less than the body", mediaWithClaimedLength(10, 50), NCM_EV_BAD_FRAME },
        BadInput{ "media head claims the largest payload", mediaWithClaimedLength(0xFFFFFFFFu, 50), NCM_EV_TOO_LARGE },
        BadInput{ "text longer than the largest buffer", nsppHeader(2, 0xFFFFFF), NCM_EV_TOO_LARGE },
        BadInput{ "text parts adding up past the limit",
                  nsppFrame(2, std::string(1500000, 'a'), 1) + nsppHeader(2, 1000000, 3), NCM_EV_TOO_LARGE }),
    [](const ::testing::TestParamInfo<BadInput> &info) {
        std::string n = info.param.name;
        for (char &c : n)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

// The largest text (the largest text buffer less its terminator room) is
// taken whole, sent at once or in parts; one byte more is refused.
TEST(FramedReader, TextOfTheLargestSizeIsAcceptedAndOneByteMoreRefused)
{
    ASSERT_EQ(NSPP_TEXT_MAX, 2097152u - 5u);
    const std::string largest(NSPP_TEXT_MAX, 't');
    {
        DriverHarness h(nspp_driver());
        h.mem.feed(textFrame(largest));
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.events.empty());
        ASSERT_EQ(p.texts.size(), 1u);
        EXPECT_EQ(p.texts[0], largest);
    }
    {
        DriverHarness h(nspp_driver());
        h.mem.feed(textFrame(largest + "t"));
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.texts.empty());
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
    {
        DriverHarness h(nspp_driver());
        h.mem.feed(nsppFrame(2, largest.substr(0, 1000000), 1) + nsppFrame(2, largest.substr(1000000), 3));
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.events.empty());
        ASSERT_EQ(p.texts.size(), 1u);
        EXPECT_EQ(p.texts[0].size(), NSPP_TEXT_MAX);
    }
    {
        DriverHarness h(nspp_driver());
        h.mem.feed(nsppFrame(2, largest.substr(0, 1000000), 1) + nsppFrame(2, largest.substr(1000000) + "t", 3));
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.texts.empty());
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
}

TEST(FramedReader, PeerClosingMidFrameIsReportedOnce)
{
    DriverHarness h(nspp_driver());
    std::string frame = textFrame("{\"cut\":\"short\"}");
    h.mem.feed(frame.substr(0, 15));
    h.pump();
    EXPECT_EQ(h.state(), 0);
    h.mem.peerClosed = true;
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.events.size(), 1u);
    EXPECT_EQ(p.events[0], NCM_EV_PEER_CLOSED);
    EXPECT_TRUE(p.texts.empty());
}

TEST(FramedReader, UpgradeConnectionsTakeWholeFramesOnly)
{
    DriverHarness h(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY);
    h.mem.feed(nsppFrame(1, "raw upgrade bytes", 0, 1) + nsppFrame(2, "{\"x\":1}", 0, 1));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.raw.size(), 1u);
    EXPECT_EQ(p.raw[0], "raw upgrade bytes");
    ASSERT_EQ(p.texts.size(), 1u);

    DriverHarness parts(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY);
    parts.mem.feed(nsppFrame(2, "{}", 1, 1));
    parts.pump();
    EXPECT_EQ(parts.state(), NCM_EV_BAD_FRAME);

    // Media bodies of 1 to 65524 bytes, taken raw.
    for (uint32_t size : { 1u, NSPP_UPGRADE_MEDIA_MAX }) {
        DriverHarness sized(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY);
        std::string body(size, 'u');
        body.back() = 'v';
        sized.mem.feed(nsppFrame(1, body, 0, 1));
        sized.pump();
        auto got = sized.drain();
        EXPECT_TRUE(got.events.empty()) << size;
        ASSERT_EQ(got.raw.size(), 1u) << size;
        EXPECT_TRUE(got.raw[0] == body) << size;
    }
    DriverHarness big(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY);
    big.mem.feed(nsppHeader(1, NSPP_UPGRADE_MEDIA_MAX + 1, 0, 1));
    big.pump();
    EXPECT_EQ(big.state(), NCM_EV_TOO_LARGE);
}

TEST(FramedReader, HttpVariantKeepsFramedBytesThatCameWithTheHeader)
{
    DriverHarness h(nspp_http_driver(), NP_NSPP_HTTP);
    std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody";
    h.mem.feed(response + textFrame("{\"after\":1}"));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.texts.size(), 2u);
    EXPECT_EQ(p.texts[0], response);
    EXPECT_EQ(p.texts[1], "{\"after\":1}");
}

TEST(HttpHeader, ContentLengthIsTheFieldOfExactlyThatName)
{
    auto length = [](const std::string &fields, uint32_t max = 65000) {
        std::string header = "HTTP/1.1 200 OK\r\n" + fields + "\r\n";
        uint32_t out = 12345;
        int rc = nspp_http_content_length(reinterpret_cast<const uint8_t *>(header.data()),
                                          static_cast<uint32_t>(header.size()), max, &out);
        return rc ? -rc : static_cast<int64_t>(out);
    };
    EXPECT_EQ(length("Content-Length: 4\r\n"), 4);
    EXPECT_EQ(length("Server: x\r\ncontent-LENGTH:\t17 \r\n"), 17);
    EXPECT_EQ(length("Server: x\r\n"), 0);
    // Only the field itself counts, not the name inside another.
    EXPECT_EQ(length("X-Content-Length: 9\r\n"), 0);
    EXPECT_EQ(length("Server: Content-Length: 9\r\n"), 0);
    EXPECT_EQ(length("Content-Lengths: 9\r\n"), 0);
    EXPECT_EQ(length("Content-Length : 9\r\n"), 0);
    // Values that are not a plain decimal number.
    EXPECT_EQ(length("Content-Length: -1\r\n"), -NCM_EV_BAD_FRAME);
    EXPECT_EQ(length("Content-Length: +4\r\n"), -NCM_EV_BAD_FRAME);
    EXPECT_EQ(length("Content-Length: 4x\r\n"), -NCM_EV_BAD_FRAME);
    EXPECT_EQ(length("Content-Length: 0x10\r\n"), -NCM_EV_BAD_FRAME);
    EXPECT_EQ(length("Content-Length: 4 5\r\n"), -NCM_EV_BAD_FRAME);
    EXPECT_EQ(length("Content-Length:\r\n"), -NCM_EV_BAD_FRAME);
    // Too large for a long, for an int, or for the buffer.
    EXPECT_EQ(length("Content-Length: 99999999999999999999\r\n"), -NCM_EV_TOO_LARGE);
    EXPECT_EQ(length("Content-Length: 2147483648\r\n"), -NCM_EV_TOO_LARGE);
    EXPECT_EQ(length("Content-Length: 10\r\n", 10), 10);
    EXPECT_EQ(length("Content-Length: 11\r\n", 10), -NCM_EV_TOO_LARGE);
    // A repeated field must agree with itself.
    EXPECT_EQ(length("Content-Length: 4\r\nContent-Length: 4\r\n"), 4);
    EXPECT_EQ(length("Content-Length: 4\r\nContent-Length: 5\r\n"), -NCM_EV_BAD_FRAME);
}

TEST(FramedReader, HttpVariantReadsNoBodyForAFieldThatOnlyContainsTheName)
{
    DriverHarness h(nspp_http_driver(), NP_NSPP_HTTP);
    std::string response = "HTTP/1.1 200 OK\r\nX-Content-Length: 40\r\n\r\n";
    h.mem.feed(response + textFrame("{\"after\":1}"));
    h.pump();
    auto p = h.drain();
    ASSERT_EQ(p.texts.size(), 2u);
    EXPECT_EQ(p.texts[0], response);
    EXPECT_EQ(p.texts[1], "{\"after\":1}");
}

TEST(FramedReader, HttpVariantRefusesContentLengthsItCannotHold)
{
    for (const auto &[value, event] : std::vector<std::pair<std::string, int>>{
             { "99999999999999999999", NCM_EV_TOO_LARGE },
             { "65536", NCM_EV_TOO_LARGE },
             { "-5", NCM_EV_BAD_FRAME },
             { "five", NCM_EV_BAD_FRAME } }) {
        DriverHarness h(nspp_http_driver(), NP_NSPP_HTTP);
        h.mem.feed("HTTP/1.1 200 OK\r\nContent-Length: " + value + "\r\n\r\nbody");
        h.pump();
        auto p = h.drain();
        EXPECT_TRUE(p.texts.empty()) << value;
        ASSERT_EQ(p.events.size(), 1u) << value;
        EXPECT_EQ(p.events[0], event) << value;
    }
}

// A heartbeat goes out once 10000 ms have passed since the last one, not a
// millisecond sooner, also where the tick counter wraps.
TEST(FramedWriter, FramesTextsAndQueuesHeartbeats)
{
    DriverHarness h(nspp_driver());
    qv_buf *text = qv_buf_new(8);
    memcpy(text->data, "{\"q\":1}", 7);
    text->end = 7;
    ASSERT_EQ(h.conn.ops.send_text(h.conn.state, text), 0);
    const uint32_t start = pf_tick_ms() + NSPP_HEARTBEAT_MS + 5;
    h.conn.ops.tick(h.conn.state, start);
    h.writeAll();
    EXPECT_EQ(h.mem.output, textFrame("{\"q\":1}") + simcam::heartbeatFrame());
    EXPECT_FALSE(qv_sock_pending(&h.mem.sock));

    for (uint32_t last : { 0x7FFFFFFFu - 5000u, 0xFFFFFFFFu - 5000u }) {
        // Half the counter's range apart, one of the two is a heartbeat
        // whatever came before: the second is one for certain.
        h.conn.ops.tick(h.conn.state, last - 0x80000000u);
        h.conn.ops.tick(h.conn.state, last);
        h.writeAll();
        h.mem.output.clear();
        h.conn.ops.tick(h.conn.state, last + NSPP_HEARTBEAT_MS - 1);
        EXPECT_FALSE(qv_sock_pending(&h.mem.sock)) << last;
        h.conn.ops.tick(h.conn.state, last + NSPP_HEARTBEAT_MS);
        h.writeAll();
        EXPECT_EQ(h.mem.output, simcam::heartbeatFrame()) << last;
    }
}

TEST(FramedWriter, HttpVariantSendsOnlyTheOpeningRequest)
{
    DriverHarness h(nspp_http_driver(), NP_NSPP_HTTP);
    for (const char *t : { "GET / HTTP/1.1\r\n\r\n", "second" }) {
        qv_buf *b = qv_buf_new(64);
        memcpy(b->data, t, strlen(t));
        b->end = static_cast<uint32_t>(strlen(t));
        EXPECT_EQ(h.conn.ops.send_text(h.conn.state, b), 0);
    }
    h.writeAll();
    EXPECT_EQ(h.mem.output, "GET / HTTP/1.1\r\n\r\n");
}

TEST(FramedWriter, FailedFirstSendRaisesEvent2)
{
    DriverHarness h(nspp_driver());
    qv_buf *b = qv_buf_new(4);
    memcpy(b->data, "{}", 2);
    b->end = 2;
    h.conn.ops.send_text(h.conn.state, b);
    h.mem.failSend = true;
    h.writeAll();
    EXPECT_EQ(h.state(), NCM_EV_IO_FAILED);
}

// The idle rule looks at bytes received: our own heartbeats going out must
// not keep a silent peer alive.
TEST(ConnectionManager, SilentPeerIsIdleDespiteOurHeartbeats)
{
    qv_skdr *d = skdr_create();
    qv_ncm *m = ncm_create(d);
    trovixtest::MemSocket mem;
    mem.sock.fd = -1;
    ASSERT_EQ(ncm_attach(m, 1000, NP_NSPP, &mem.sock), 0);
    skdr_run_once(d, 0); // the socket joins the driver; its activity is now
    uint32_t start = mem.sock.last_activity;
    ncm_tick(m, start + 10001); // a heartbeat is queued and would go out
    EXPECT_EQ(qv_sock_state(&mem.sock), 0);
    ncm_tick(m, start + NCM_IDLE_MS); // idle only for more than 20000 ms
    EXPECT_EQ(qv_sock_state(&mem.sock), 0);
    ncm_tick(m, start + NCM_IDLE_MS + 1);
    EXPECT_EQ(qv_sock_state(&mem.sock), NCM_EV_IDLE);
    ncm_text t;
    ASSERT_EQ(ncm_take_text(m, &t), 0);
    EXPECT_EQ(t.code, NCM_EV_CONNECT);
    ASSERT_EQ(ncm_take_text(m, &t), 0);
    EXPECT_EQ(t.code, NCM_EV_IDLE);
    EXPECT_EQ(t.id, 1000u);
    ncm_free(m);
    skdr_free(d);
}

TEST(ConnectionManager, DuplicateIdsUnknownClosesAndDriverSlots)
{
    qv_skdr *d = skdr_create();
    qv_ncm *m = ncm_create(d);
    EXPECT_EQ(ncm_connect(m, 7, NP_NSPP, "127.0.0.1", 9), 0);
    EXPECT_EQ(ncm_connect(m, 7, NP_NSPP, "127.0.0.1", 9), 7);
    EXPECT_EQ(ncm_connect(m, 8, NP_WS, "127.0.0.1", 9), 256);
    EXPECT_EQ(ncm_connect(m, 9, NP_NSPP, "not an address", 9), 2);
    EXPECT_EQ(ncm_connection_count(m), 1u);
    ncm_close(m, 12345);
    ncm_tick(m, pf_tick_ms());
    EXPECT_EQ(ncm_connection_count(m), 1u);
    // Re-registering a key replaces it; an eighth slot is the last.
    EXPECT_EQ(ncm_register_driver(m, NP_NSPP, nspp_driver()), 0);
    for (uint32_t k = 100; k < 103; k++) // after NSPP, UPGRADE, RTSP, HTTP-FLV and NSPP_HTTP
        EXPECT_EQ(ncm_register_driver(m, k, nspp_driver()), 0);
    EXPECT_EQ(ncm_register_driver(m, 200, nspp_driver()), 1);
    ncm_text t;
    while (ncm_take_text(m, &t) == 0)
        qv_buf_free(t.text);
    ncm_free(m);
    skdr_free(d);
}

// A connection closed before the socket thread took its socket in: the socket
// must leave with it, not join the driver with handlers on a freed record.
TEST(ConnectionManager, CloseBeforeTheSocketJoinsTheDriverDropsIt)
{
    qv_skdr *d = skdr_create();
    qv_ncm *m = ncm_create(d);
    ASSERT_EQ(ncm_connect(m, 7, NP_NSPP, "127.0.0.1", 9), 0); // refused by loopback soon
    ncm_close(m, 7);
    ncm_tick(m, pf_tick_ms()); // frees the connection, queues the socket's close
    EXPECT_EQ(ncm_connection_count(m), 0u);
    for (int i = 0; i < 3; i++)
        skdr_run_once(d, 5);
    EXPECT_EQ(skdr_socket_count(d), 0u);
    ncm_text t;
    while (ncm_take_text(m, &t) == 0)
        qv_buf_free(t.text);
    ncm_free(m);
    skdr_free(d);
}

// A socket that can't join a driver leaves no connection behind, and the
// command thread never hears of its id.
TEST(ConnectionManager, NoConnectEventWhenTheSocketCannotJoinItsDriver)
{
    qv_ncm *m = ncm_create(nullptr); // no socket driver to join
    trovixtest::MemSocket mem;
    EXPECT_EQ(ncm_attach(m, 1000, NP_NSPP, &mem.sock), 2);
    EXPECT_EQ(ncm_connection_count(m), 0u);
    ncm_text t;
    EXPECT_EQ(ncm_take_text(m, &t), 1);
    ncm_free(m);
}

// The socket thread may read (and fail) a new socket at once: the connect
// event still comes first, or the command thread would drop an id it never
// registered and then register one that is gone.
TEST(ConnectionManager, ConnectEventComesBeforeTheConnectionsOwnEvents)
{
    qv_skdr *d = skdr_create();
    qv_ncm *m = ncm_create(d);
    ASSERT_EQ(skdr_start(d), 0);
    const uint32_t rounds = 100;
    for (uint32_t id = 1; id <= rounds; id++) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        close(sv[1]); // the peer is gone before we start: the first read ends it
        auto *s = static_cast<qv_socket_x *>(calloc(1, sizeof(qv_socket_x)));
        s->fd = sv[0];
        s->ops = qv_sock_default_ops();
        ASSERT_EQ(ncm_attach(m, id, NP_NSPP, s), 0);
    }
    std::map<uint32_t, std::vector<int>> seen;
    size_t records = 0;
    simcam::SimCamera::waitFor(
        [&] {
            ncm_text t;
            while (ncm_take_text(m, &t) == 0) {
                seen[t.id].push_back(t.code);
                records++;
                qv_buf_free(t.text);
            }
            return records >= 2 * rounds;
        },
        5000);
    ASSERT_EQ(seen.size(), rounds);
    for (const auto &[id, codes] : seen) {
        ASSERT_EQ(codes.size(), 2u) << id;
        EXPECT_EQ(codes[0], NCM_EV_CONNECT) << id;
        EXPECT_EQ(codes[1], NCM_EV_PEER_CLOSED) << id;
    }
    skdr_stop(d);
    ncm_free(m);
    skdr_free(d);
}

// A reader whose texts keep being dropped ends its connection with event 5 at
// the NCM_TEXT_FLOOD_DROPS-th drop: the framed protocol and RTSP alike.
TEST(ConnectionManager, ReadersEndAPeerThatFloodsThemWithTexts)
{
    const std::pair<const np_driver *, std::string> readers[] = {
        { nspp_driver(), textFrame("{}") },
        { rtsp_driver(), "RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n" },
    };
    for (const auto &[driver, text] : readers) {
        DriverHarness h(driver, driver == rtsp_driver() ? NP_RTSP : NP_NSPP);
        for (int i = 0; i < 20000; i++)
            h.mem.feed(text);
        h.pump();
        EXPECT_EQ(h.state(), NCM_EV_TOO_LARGE);
        ncm_queue_usage u{};
        ncm_queue_stats(h.manager, &u);
        EXPECT_EQ(u.texts_dropped, NCM_TEXT_FLOOD_DROPS);
        EXPECT_EQ(u.floods_ended, 1u);
        EXPECT_EQ(h.drain().events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
}

namespace {
// Posts a text whose record costs `cost` bytes in the queue; its result.
int postText(qv_ncm *m, uint32_t id, uint32_t cost = 1024)
{
    qv_buf *text = qv_buf_new(cost - NCM_RECORD_COST);
    text->data[0] = 't';
    text->end = 1;
    int rc = ncm_post_text(m, NP_NSPP, id, text);
    if (rc != 0)
        qv_buf_free(text);
    return rc;
}
} // namespace

// Texts wait up to NCM_TEXT_QUEUE_MAX bytes per connection and NCM_TEXTS_MAX
// in all, each bound reached exactly; events always wait.
TEST(ConnectionManager, TextsWaitWithinTheBoundOfTheirConnectionAndOfAll)
{
    qv_ncm *m = ncm_create(nullptr);
    const uint32_t own = NCM_TEXT_QUEUE_MAX / 1024, all = NCM_TEXTS_MAX / 1024;
    ASSERT_EQ((all - 3 * own) % 2, 0u);
    // Three connections fill their own bound; two more share the rest.
    for (uint32_t id = 1; id <= 3; id++) {
        for (uint32_t i = 0; i < own; i++)
            ASSERT_EQ(postText(m, id), 0) << id << ": " << i;
        EXPECT_EQ(postText(m, id), 1) << id;
    }
    for (uint32_t id = 4; id <= 5; id++) {
        for (uint32_t i = 0; i < (all - 3 * own) / 2; i++)
            ASSERT_EQ(postText(m, id), 0) << id << ": " << i;
    }
    ncm_queue_usage u{};
    ncm_queue_stats(m, &u);
    EXPECT_EQ(u.text_bytes, uint64_t(NCM_TEXTS_MAX));
    EXPECT_EQ(postText(m, 5), 1) << "within its own bound, beyond the total";
    EXPECT_EQ(postText(m, 6), 1);
    // Taking the oldest text makes room for one more of its connection.
    ncm_text t;
    ASSERT_EQ(ncm_take_text(m, &t), 0);
    EXPECT_EQ(t.id, 1u);
    qv_buf_free(t.text);
    EXPECT_EQ(postText(m, 1), 0);
    EXPECT_EQ(ncm_post_event(m, NP_NSPP, 6, NCM_EV_PEER_CLOSED), 0);
    ncm_queue_stats(m, &u);
    EXPECT_EQ(u.texts_dropped, 5u);
    EXPECT_EQ(u.floods_ended, 0u);
    while (ncm_take_text(m, &t) == 0)
        qv_buf_free(t.text);
    ncm_queue_stats(m, &u);
    EXPECT_EQ(u.text_bytes, 0u);
    ncm_free(m);
}

// The media queue holds NCM_MEDIA_QUEUE_MAX bytes: a record beyond makes the
// oldest go, whole. A muted connection loses its own records, queued and
// later ones, and no other connection's.
TEST(ConnectionManager, MediaQueueDropsTheOldestAndMutingDropsOnlyItsOwn)
{
    qv_skdr *d = skdr_create();
    qv_ncm *m = ncm_create(d);
    trovixtest::MemSocket muted, other;
    ASSERT_EQ(ncm_attach(m, 1000, NP_NSPP, &muted.sock), 0);
    ASSERT_EQ(ncm_attach(m, 1001, NP_NSPP, &other.sock), 0);
    const uint32_t cost = 1u << 20, fit = NCM_MEDIA_QUEUE_MAX / cost;
    auto post = [&](uint32_t id, uint8_t tag) {
        qv_buf *buf = qv_buf_new(cost - NCM_RECORD_COST);
        memset(buf->data, tag, buf->cap);
        buf->end = buf->cap;
        qv_obj *obj = qv_obj_buf_new(buf);
        int rc = ncm_post_media(m, NP_NSPP, id, obj);
        if (rc != 0)
            qv_obj_release(obj);
        return rc;
    };
    // The two in turn, one record more than fits: the very first goes.
    for (uint32_t i = 0; i <= fit; i++)
        ASSERT_EQ(post(1000 + i % 2, uint8_t(i)), 0) << i;
    ncm_queue_usage u{};
    ncm_queue_stats(m, &u);
    EXPECT_EQ(u.media_bytes, uint64_t(NCM_MEDIA_QUEUE_MAX));
    EXPECT_EQ(u.media_dropped, 1u);
    ASSERT_EQ(ncm_mute_media(m, 1000), 0);
    EXPECT_EQ(post(1000, 0xEE), -1);
    ncm_queue_stats(m, &u);
    EXPECT_EQ(u.media_bytes, uint64_t(fit / 2) * cost);
    EXPECT_EQ(u.media_unwanted, 1u);
    std::vector<uint32_t> tags;
    ncm_media md;
    while (ncm_take_media(m, &md) == 0) {
        qv_buf *b = qv_obj_buf(md.obj);
        EXPECT_EQ(md.id, 1001u);
        EXPECT_EQ(qv_buf_size(b), cost - NCM_RECORD_COST);
        EXPECT_EQ(std::count(b->data, b->data + b->end, b->data[0]), long(b->end)) << "whole";
        tags.push_back(b->data[0]);
        qv_obj_release(md.obj);
    }
    std::vector<uint32_t> expected;
    for (uint32_t i = 1; i <= fit; i += 2)
        expected.push_back(i);
    EXPECT_EQ(tags, expected);
    ncm_free(m);
    skdr_free(d);
}
