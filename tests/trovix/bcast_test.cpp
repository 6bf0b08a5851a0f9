// Broadcast discovery: frames built and checked as pure functions, and the
// client and server sets exchanging datagrams inside a private network
// namespace (nothing may be broadcast on the machine's own network).
#include <gtest/gtest.h>

#include <string>

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
    uint8_t out[BCAST_DGRAM_MAX];
    int n = bcast_build(out, sizeof out, BCAST_RESPOND, "{\"sn\":\"1\"}", 10, 0x5A);
    ASSERT_EQ(n, 20 + 10 + 12);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), static_cast<size_t>(n)),
              simcam::bcastFrame(BCAST_RESPOND, "{\"sn\":\"1\"}", 0x5A));
    EXPECT_EQ(qv_rd32(out + 4), 30u | 0x02000000u);
    n = bcast_build(out, sizeof out, BCAST_DISCOVER, "ignored", 7, 1);
    EXPECT_EQ(n, 32);
    EXPECT_EQ(qv_rd32(out + 4), 20u);
}

TEST(DiscoveryFrame, BodyLimitIs1340Bytes)
{
    uint8_t out[BCAST_DGRAM_MAX];
    std::string body(1340, 'b');
    EXPECT_EQ(bcast_build(out, sizeof out, BCAST_CLIENT_MSG, body.data(), 1340, 0), 1372);
    EXPECT_EQ(bcast_build(out, sizeof out, BCAST_CLIENT_MSG, body.data(), 1341, 0), -1);
    bcast_frame_info f;
    uint32_t drop;
    ASSERT_TRUE(parseOne(std::string(reinterpret_cast<char *>(out), 1372), &f, &drop));
    EXPECT_EQ(f.body_len, 1340u);
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

    EXPECT_FALSE(parseOne(good.substr(0, good.size() - 1), &f, &drop)); // truncated
    EXPECT_FALSE(parseOne(std::string(19, 'z'), &f, &drop));
    EXPECT_FALSE(parseOne(std::string(1500, 'z'), &f, &drop));
    EXPECT_EQ(drop, 1480u);
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
    EXPECT_TRUE(simcam::SimCamera::waitFor([&] { return camera.discoversSeen() >= 3; }, 3000));
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
    EXPECT_TRUE(simcam::SimCamera::waitFor([&] { return skdr_socket_count(rig.skdr) == 1; }, 3000));
}
