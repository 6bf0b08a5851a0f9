// Broadcast discovery: frames built and checked as pure functions, and the
// client and server sets exchanging datagrams inside a private network
// namespace (nothing may be broadcast on the machine's own network).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "bcast.h"
#include "sim_camera.h"
#include "test_util.h"

static bool parseOne(const std::string &bytes, bcast_frame_info *f, uint32_t *drop)
{
    return bcast_parse(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()), f, drop) ==
           1;
}

TEST(DiscoveryFrame, BuildsWhatTheCamerasSend)
{
    struct Row {
        int type;
        std::string body;
        uint8_t random;
        uint32_t word1;
    };
    const Row rows[] = {
        { BCAST_DISCOVER, "", 0, 20u },
        { BCAST_RESPOND, "{\"sn\":\"1\"}", 0x5A, 30u | 0x02000000u },
        { BCAST_CLIENT_MSG, "c", 0xFF, 21u | 0x02000000u },
        { BCAST_SERVER_MSG, std::string(1340, 's'), 0, 1360u | 0x02000000u },
        { BCAST_SERVER_MSG, "", 1, 20u | 0x02000000u },
    };
    for (const Row &row : rows) {
        uint8_t out[BCAST_DGRAM_MAX];
        int n = bcast_build(out, sizeof out, row.type, row.body.data(), static_cast<uint32_t>(row.body.size()), row.random);
        ASSERT_EQ(n, static_cast<int>(32 + row.body.size())) << row.type;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), static_cast<size_t>(n)),
                  simcam::bcastFrame(row.type, row.body, row.random))
            << row.type;
        EXPECT_EQ(qv_rd32(out + 4), row.word1) << row.type;
    }
    // A discover frame carries no body, whatever it is handed; other bodies
    // end at 1340 bytes.
    uint8_t out[BCAST_DGRAM_MAX];
    EXPECT_EQ(bcast_build(out, sizeof out, BCAST_CLIENT_MSG, std::string(1341, 'b').data(), 1341, 0), -1);
    EXPECT_EQ(bcast_build(out, sizeof out, BCAST_DISCOVER, "ignored", 7, 1), 32);
    EXPECT_EQ(bcast_build(out, 31, BCAST_DISCOVER, nullptr, 0, 1), -1);
}

// A frame with every field as given, its two checks made to match.
static std::string rawFrame(uint32_t word0, uint32_t word1, uint8_t type, const std::string &body, uint32_t trailer1)
{
    auto put32 = [](std::string &s, uint32_t v) {
        for (int i = 0; i < 4; i++)
            s.push_back(static_cast<char>(v >> (8 * i)));
    };
    std::string f, tr;
    put32(f, word0);
    put32(f, word1);
    put32(f, 0);
    f.push_back(static_cast<char>(type));
    f.append(3, '\0');
    put32(f, 2u * simcam::h1(f));
    put32(tr, 0);
    put32(tr, trailer1);
    put32(tr, 2u * simcam::h1(tr));
    return f + body + tr;
}

// Every field the parser checks, on both sides of each limit: version 1 and
// class 0, 32 to 1380 bytes in all, trailer word 1 from 0xF5A5AF00 to
// 0xF5A5AFFF. The kind bits and the type are not checked.
TEST(DiscoveryFrame, FieldsAtTheirLimits)
{
    const uint32_t w0 = 0x01FA5A5Fu, tr = 0xF5A5AF5Au;
    auto body = [](size_t n) {
        std::string b(n, 'b');
        if (n)
            b.back() = 'e';
        return b;
    };
    auto sized = [&](size_t n) { return rawFrame(w0, static_cast<uint32_t>(20 + n) | 0x02000000u, 2, body(n), tr); };
    struct Row {
        const char *name;
        std::string bytes;
        bool frame;
        uint32_t bodyLen;
        int type;
    };
    const Row rows[] = {
        { "no body", sized(0), true, 0, 2 },
        { "1 byte", sized(1), true, 1, 2 },
        { "1340 bytes", sized(1340), true, 1340, 2 },
        { "1348 bytes, 1380 in all", sized(1348), true, 1348, 2 },
        { "1349 bytes", sized(1349), false, 0, 0 },
        { "a length below the header", rawFrame(w0, 19, 1, "", tr) + "x", false, 0, 0 },
        { "kind bits", rawFrame(w0, 21 | 0x0F000000u, 3, "k", tr), true, 1, 3 },
        { "type 0", rawFrame(w0, 20, 0, "", tr), true, 0, 0 },
        { "type 255", rawFrame(w0, 21, 255, "t", tr), true, 1, 255 },
        { "version 0", rawFrame(0x00FA5A5Fu, 20, 1, "", tr), false, 0, 0 },
        { "version 2", rawFrame(0x02FA5A5Fu, 20, 1, "", tr), false, 0, 0 },
        { "class 1", rawFrame(0x11FA5A5Fu, 20, 1, "", tr), false, 0, 0 },
        { "trailer 0xF5A5AF00", rawFrame(w0, 20, 1, "", 0xF5A5AF00u), true, 0, 1 },
        { "trailer 0xF5A5AFFF", rawFrame(w0, 20, 1, "", 0xF5A5AFFFu), true, 0, 1 },
        { "trailer 0xF5A5AEFF", rawFrame(w0, 20, 1, "", 0xF5A5AEFFu), false, 0, 0 },
        { "trailer 0xF5A5B000", rawFrame(w0, 20, 1, "", 0xF5A5B000u), false, 0, 0 },
        { "31 bytes", sized(0).substr(0, 31), false, 0, 0 },
    };
    for (const Row &row : rows) {
        bcast_frame_info f{};
        uint32_t drop = 0;
        int rc = bcast_parse(reinterpret_cast<const uint8_t *>(row.bytes.data()), static_cast<uint32_t>(row.bytes.size()),
                             &f, &drop);
        EXPECT_EQ(rc, row.frame ? 1 : 0) << row.name;
        // A frame is used up whole; anything else loses its header only.
        EXPECT_EQ(drop, row.frame ? row.bytes.size() : 20u) << row.name;
        if (rc != 1)
            continue;
        EXPECT_EQ(f.type, row.type) << row.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(f.body), f.body_len), row.bytes.substr(20, row.bodyLen))
            << row.name;
        EXPECT_EQ(f.body_len, row.bodyLen) << row.name;
    }
}

TEST(DiscoveryFrame, GarbageBeforeAFrameIsSkipped)
{
    std::string frame = simcam::bcastFrame(BCAST_RESPOND, "hello");
    bcast_frame_info f;
    uint32_t drop;
    std::string datagram = "garbage!" + frame;
    ASSERT_TRUE(parseOne(datagram, &f, &drop));
    EXPECT_EQ(f.type, BCAST_RESPOND);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(f.body), f.body_len), "hello");
    EXPECT_EQ(drop, 8u + frame.size());
}

TEST(DiscoveryFrame, ChecksHeaderAndTrailer)
{
    std::string good = simcam::bcastFrame(BCAST_RESPOND, "x");
    bcast_frame_info f;
    uint32_t drop;
    ASSERT_TRUE(parseOne(good, &f, &drop));

    std::string bad = good;
    bad[12] = 3; // type changed after the header check was made
    EXPECT_FALSE(parseOne(bad, &f, &drop));

    bad = good; // trailer word 1 above 0xF5A5AFFF, check made to match
    size_t tr = good.size() - 12;
    bad[tr + 7] = static_cast<char>(0xF6);
    uint32_t check = 2u * bcast_tag_hash(bad.data() + tr, 8);
    for (int i = 0; i < 4; i++)
        bad[tr + 8 + i] = static_cast<char>((check >> (8 * i)) & 0xFF);
    EXPECT_FALSE(parseOne(bad, &f, &drop));

    bad = good;
    bad[good.size() - 1] ^= 1;
    EXPECT_FALSE(parseOne(bad, &f, &drop));

    // One byte short, with the missing byte still in memory right behind the
    // end: only the length check can refuse it (a copy would end in a zero,
    // which fails the trailer check by chance).
    EXPECT_EQ(bcast_parse(reinterpret_cast<const uint8_t *>(good.data()), static_cast<uint32_t>(good.size() - 1), &f,
                          &drop),
              0);
    EXPECT_EQ(drop, 0u); // the frame's start is kept for the rest
    std::string twice = "ab" + good + good;
    EXPECT_EQ(bcast_parse(reinterpret_cast<const uint8_t *>(twice.data()), static_cast<uint32_t>(2 + good.size() - 1),
                          &f, &drop),
              0);
    EXPECT_EQ(drop, 2u);
    EXPECT_FALSE(parseOne(std::string(19, 'z'), &f, &drop));
    EXPECT_FALSE(parseOne(std::string(1499, 'z'), &f, &drop));
    EXPECT_EQ(drop, 0u);
    EXPECT_FALSE(parseOne(std::string(1500, 'z'), &f, &drop));
    EXPECT_EQ(drop, 1480u);
}

// ---- stored messages, fed on loopback ----

// A client endpoint on 127.0.0.1 that a local socket sends answers to; the
// socket driver is pumped by hand, one datagram per readable event.
struct LoopbackClient {
    qv_skdr *skdr = skdr_create();
    bcast_set *client = bcast_set_create(1, skdr);
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};

    LoopbackClient()
    {
        // A port the system just handed out is free for the endpoint to bind.
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof to;
        if (bind(tx, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 ||
            getsockname(tx, reinterpret_cast<sockaddr *>(&to), &len) != 0)
            ADD_FAILURE() << "no local port";
        close(tx);
        tx = socket(AF_INET, SOCK_DGRAM, 0);
        EXPECT_EQ(bcast_open(client, 1, 0, "127.0.0.1", ntohs(to.sin_port)), 0);
        skdr_run_once(skdr, 0);
    }
    ~LoopbackClient()
    {
        close(tx);
        bcast_set_free(client);
        skdr_free(skdr);
    }
    void deliver(const std::string &body)
    {
        std::string frame = simcam::bcastFrame(BCAST_RESPOND, body);
        ASSERT_EQ(sendto(tx, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
                  static_cast<ssize_t>(frame.size()));
        skdr_run_once(skdr, 100);
    }
    std::vector<std::string> takeAll()
    {
        for (int i = 0; i < 5; i++)
            skdr_run_once(skdr, 5); // anything still waiting in the socket
        std::vector<std::string> out;
        bcast_msg m;
        while (bcast_take(client, &m) == 0) {
            out.emplace_back(reinterpret_cast<char *>(m.body->data), qv_buf_size(m.body));
            bcast_msg_free_body(&m);
        }
        return out;
    }
};

// Bodies of distinct lengths, so that no two count as one sender's repeat.
static std::string numberedBody(int i, size_t len)
{
    std::string body = std::to_string(i) + ":";
    body.resize(len, 'x');
    return body;
}

TEST(DiscoveryStore, KeepsTheNewestMessagesUpToItsCount)
{
    LoopbackClient rig;
    const int sent = static_cast<int>(BCAST_STORE_MAX_MSGS) + 88;
    testing::internal::CaptureStderr();
    for (int i = 0; i < sent; i++)
        rig.deliver(numberedBody(i, 20 + static_cast<size_t>(i)));
    std::string err = testing::internal::GetCapturedStderr();
    auto msgs = rig.takeAll();
    ASSERT_EQ(msgs.size(), BCAST_STORE_MAX_MSGS);
    EXPECT_EQ(msgs.front(), numberedBody(88, 108));
    EXPECT_EQ(msgs.back(), numberedBody(sent - 1, 20 + static_cast<size_t>(sent) - 1));
    // One line for the whole flood, not one per message.
    EXPECT_NE(err.find("discovery messages beyond"), std::string::npos) << err;
    EXPECT_EQ(err.find("discovery messages beyond"), err.rfind("discovery messages beyond")) << err;
    // The store works on after it was emptied.
    rig.deliver("after");
    EXPECT_EQ(rig.takeAll(), std::vector<std::string>{ "after" });
}

TEST(DiscoveryStore, KeepsTheNewestMessagesUpToItsBytes)
{
    LoopbackClient rig;
    const int sent = 500; // fewer than the count limit, more bytes than the byte limit
    testing::internal::CaptureStderr();
    for (int i = 0; i < sent; i++)
        rig.deliver(numberedBody(i, 841 + static_cast<size_t>(i)));
    testing::internal::GetCapturedStderr();
    auto msgs = rig.takeAll();
    ASSERT_FALSE(msgs.empty());
    ASSERT_LT(msgs.size(), static_cast<size_t>(sent));
    size_t bytes = 0;
    int first = sent - static_cast<int>(msgs.size());
    for (size_t k = 0; k < msgs.size(); k++) {
        int i = first + static_cast<int>(k);
        EXPECT_EQ(msgs[k], numberedBody(i, 841 + static_cast<size_t>(i)));
        bytes += msgs[k].size();
    }
    EXPECT_LE(bytes, BCAST_STORE_MAX_BYTES);
    // Only as many were dropped as had to be.
    EXPECT_GT(bytes + 841 + static_cast<size_t>(first - 1), BCAST_STORE_MAX_BYTES);
}

// ---- inside a private network namespace ----

static bool inNamespace() { return trovixtest::inPrivateNetwork(); }

TEST(Discovery, RunsInsideItsOwnNetworkNamespace)
{
    if (inNamespace())
        GTEST_SKIP() << "already inside the namespace";
    // The test binary runs again inside a fresh namespace, so its broadcasts
    // never leave it.
    auto run = trovixtest::runInPrivateNetwork("DiscoveryInNamespace.*");
    if (!run.ran)
        GTEST_SKIP() << run.why;
    EXPECT_NE(run.output.find("[  PASSED  ] 2 tests"), std::string::npos) << run.output;
    EXPECT_EQ(run.status, 0);
}

struct DiscoveryRig {
    qv_skdr *skdr = skdr_create();
    bcast_set *client = bcast_set_create(1, skdr);
    bcast_set *server = bcast_set_create(0, skdr);
    ~DiscoveryRig()
    {
        skdr_stop(skdr);
        bcast_set_free(client);
        bcast_set_free(server);
        skdr_free(skdr);
    }
    std::vector<bcast_msg> waitMessages(bcast_set *set, size_t count, int ms)
    {
        std::vector<bcast_msg> out;
        simcam::SimCamera::waitFor(
            [&] {
                bcast_msg m;
                while (bcast_take(set, &m) == 0)
                    out.push_back(m);
                return out.size() >= count;
            },
            ms);
        return out;
    }
};

TEST(DiscoveryInNamespace, ClientFindsTheSimulatedCamera)
{
    if (!inNamespace())
        GTEST_SKIP() << "runs only inside its own network namespace";
    const uint16_t port = 47991;
    simcam::SimDiscovery camera;
    ASSERT_TRUE(camera.start(port, "{\"ip\":\"10.253.0.1\",\"sn\":\"SIM-1\"}"));
    DiscoveryRig rig;
    ASSERT_EQ(bcast_open(rig.client, 5, 0, "255.255.255.255", port), 0);
    EXPECT_NE(bcast_open(rig.client, 5, 0, "255.255.255.255", port), 0);
    ASSERT_EQ(skdr_start(rig.skdr), 0);
    ASSERT_EQ(bcast_send(rig.client, 5, BCAST_DISCOVER, nullptr, 0), 0);
    auto msgs = rig.waitMessages(rig.client, 1, 3000);
    ASSERT_GE(msgs.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(msgs[0].body->data)), "{\"ip\":\"10.253.0.1\",\"sn\":\"SIM-1\"}");
    EXPECT_EQ(msgs[0].type, BCAST_RESPOND);
    EXPECT_EQ(msgs[0].id, 5);
    for (auto &m : msgs)
        bcast_msg_free_body(&m);
    // The same answer twice from one sender is kept once.
    ASSERT_EQ(bcast_send(rig.client, 5, BCAST_DISCOVER, nullptr, 0), 0);
    ASSERT_EQ(bcast_send(rig.client, 5, BCAST_DISCOVER, nullptr, 0), 0);
    EXPECT_TRUE(simcam::SimCamera::waitFor([&] { return camera.discoversSeen() >= 3; }, 20000));
    pf_sleep_ms(200);
    msgs = rig.waitMessages(rig.client, 1, 1000);
    EXPECT_EQ(msgs.size(), 1u);
    for (auto &m : msgs)
        bcast_msg_free_body(&m);
    EXPECT_EQ(bcast_send(rig.client, 6, BCAST_DISCOVER, nullptr, 0), -1);
}

TEST(DiscoveryInNamespace, ServerAnswersDiscoversAndKeepsClientMessages)
{
    if (!inNamespace())
        GTEST_SKIP() << "runs only inside its own network namespace";
    const uint16_t port = 47992;
    DiscoveryRig rig;
    ASSERT_EQ(bcast_set_respond(rig.server, "{\"sn\":\"LIB\"}", 12), 0);
    EXPECT_EQ(bcast_set_respond(rig.server, std::string(1341, 'x').c_str(), 1341), -1);
    ASSERT_EQ(bcast_open(rig.server, 1, 0, "255.255.255.255", port), 0);
    ASSERT_EQ(bcast_open(rig.client, 2, 0, "255.255.255.255", port), 0);
    ASSERT_EQ(skdr_start(rig.skdr), 0);
    pf_sleep_ms(50);
    ASSERT_EQ(bcast_send(rig.client, 2, BCAST_DISCOVER, nullptr, 0), 0);
    ASSERT_EQ(bcast_send(rig.client, 2, BCAST_DISCOVER, nullptr, 0), 0);
    auto msgs = rig.waitMessages(rig.client, 1, 3000);
    ASSERT_GE(msgs.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(msgs[0].body->data)), "{\"sn\":\"LIB\"}");
    for (auto &m : msgs)
        bcast_msg_free_body(&m);
    // A client message reaches the server set and is stored there.
    ASSERT_EQ(bcast_send(rig.client, 2, BCAST_CLIENT_MSG, "hi", 2), 0);
    msgs = rig.waitMessages(rig.server, 1, 3000);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(msgs[0].body->data)), "hi");
    for (auto &m : msgs)
        bcast_msg_free_body(&m);
    bcast_close_all(rig.client, 2);
    EXPECT_TRUE(simcam::SimCamera::waitFor([&] { return skdr_socket_count(rig.skdr) == 1; }, 20000));
}
