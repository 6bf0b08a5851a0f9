// The discovery client scripts: the device list (checked, capped, expiring)
// and, inside the test's own network namespace, the library finding the
// simulated camera by broadcast, then logging in to it and decoding its
// stream. Nothing is broadcast outside that namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "clua.h"
#include "sdk.h"
#include "sim_camera.h"
#include "test_util.h"
#include "trovix.h"

extern char **environ;

using simcam::SimCamera;

namespace {

// ---- the device list, in a Lua state of its own with a tick we set ----
class DeviceList : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = clua_env_create(trovix_script_lookup, nullptr);
        ASSERT_NE(env, nullptr);
        ASSERT_EQ(clua_env_setup(env), 0);
        env->now = 1000;
        ASSERT_EQ(run("S = require('sdk.ncm.dev_storage') S.init() return true"), "true");
        clua_env_timer_tick(env, env->now, 1);
    }
    void TearDown() override { clua_env_close(env); }
    std::string run(const std::string &code) { return trovixtest::luaRun(env->L, code); }
    void tick(uint32_t now) { clua_env_timer_tick(env, now, 0); }
    clua_env *env = nullptr;
};

} // namespace

TEST_F(DeviceList, OnlyWellFormedDevicesAreKept)
{
    EXPECT_EQ(run("return S.push('10.253.0.7', 57975, 'SN-1', {model='E530_IPC'})"), "true");
    for (const char *ip : { "1.2.3", "256.1.1.1", "01.2.3.4", "0.0.0.0", "255.255.255.255", "224.0.0.1",
                            "1.2.3.4;x", "../../1.2.3.4", "" })
        EXPECT_EQ(run(std::string("return S.valid_ip('") + ip + "')"), "false") << ip;
    EXPECT_EQ(run("return S.valid_ip('192.168.1.255')"), "true");
    EXPECT_EQ(run("return S.push('10.253.0.8', 1, '', {m=1})"), "false");
    EXPECT_EQ(run("return S.push('10.253.0.8', 1, string.rep('x', 65), {m=1})"), "false");
    EXPECT_EQ(run("return S.push('10.253.0.8', 1, 'a\\nb', {m=1})"), "false");
    EXPECT_EQ(run("return S.push('10.253.0.8', 1, 'SN', {})"), "false");
    EXPECT_EQ(run("return S.push('10.253.0.8', 1, 'SN', {v=math.huge})"), "false");
    EXPECT_EQ(run("return S.push('not an address', 1, 'SN', {m=1})"), "false");
    EXPECT_EQ(run("return S.count()"), "1");
    cJSON *list = cJSON_Parse(run("return S.get_json()").c_str());
    ASSERT_TRUE(cJSON_IsArray(list));
    ASSERT_EQ(cJSON_GetArraySize(list), 1);
    const cJSON *dev = cJSON_GetArrayItem(list, 0);
    EXPECT_STREQ(cJSON_GetObjectItem(dev, "ip")->valuestring, "10.253.0.7");
    EXPECT_STREQ(cJSON_GetObjectItem(dev, "sn")->valuestring, "SN-1");
    EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetObjectItem(dev, "discover"), "model")->valuestring, "E530_IPC");
    cJSON_Delete(list);
}

TEST_F(DeviceList, SameSerialAtTwoAddressesIsListedTwiceAndAnswersReplace)
{
    run("S.push('10.253.0.7', 1, 'SN-1', {v=1}) S.push('10.253.0.9', 1, 'SN-1', {v=1})");
    run("S.push('10.253.0.7', 1, 'SN-1', {v=2})");
    EXPECT_EQ(run("return S.count()"), "2");
    EXPECT_EQ(run("for _, d in ipairs(S.get()) do if d.ip == '10.253.0.7' then return d.discover.v end end"), "2");
    EXPECT_EQ(run("S2 = {} return require('cjson').encode(S2)"), "{}");
}

TEST_F(DeviceList, DevicesExpire30To40SecondsAfterTheirLastAnswer)
{
    run("S.push('10.253.0.7', 1, 'OLD', {v=1})");
    tick(11000);
    env->now = 15000;
    run("S.push('10.253.0.8', 1, 'NEW', {v=1})");
    tick(21000);
    EXPECT_EQ(run("return S.count()"), "2");
    tick(31000); // OLD was heard 30 s ago
    EXPECT_EQ(run("return S.count()"), "1");
    EXPECT_EQ(run("return S.get()[1].sn"), "NEW");
    tick(41000);
    EXPECT_EQ(run("return S.count()"), "1");
    tick(51000);
    EXPECT_EQ(run("return S.count()"), "0");
}

TEST_F(DeviceList, ExpiryFollowsTheTickAcrossItsWrap)
{
    env->now = 0xFFFFF000u;
    clua_env_timer_tick(env, env->now, 1);
    run("S.push('10.253.0.7', 1, 'WRAP', {v=1})");
    tick(0xFFFFF000u + 10000u);
    tick(0xFFFFF000u + 20000u);
    EXPECT_EQ(run("return S.count()"), "1");
    tick(0xFFFFF000u + 30000u);
    EXPECT_EQ(run("return S.count()"), "0");
}

TEST_F(DeviceList, AFloodOfSerialNumbersIsCapped)
{
    run("S.MAX_DEVICES = 3");
    for (int i = 0; i < 5; i++) {
        env->now = 2000 + uint32_t(i);
        run("S.push('10.253.0.7', 1, 'SN-" + std::to_string(i) + "', {v=1})");
    }
    EXPECT_EQ(run("return S.count()"), "3");
    EXPECT_EQ(run("local t = {} for _, d in ipairs(S.get()) do t[d.sn] = true end "
                  "return tostring(t['SN-2'] and t['SN-3'] and t['SN-4'] and not t['SN-0'])"),
              "true");
}

// ---- inside the test's own network namespace ----
namespace {

std::string devices()
{
    char *text = nullptr;
    EXPECT_EQ(trovix_discover_get_devs(&text), 0);
    std::string out = text ? text : "";
    trovix_free(text);
    return out;
}

// The device of that serial number in the device list (a copy, or null).
cJSON *findDevice(const std::string &list, const std::string &sn)
{
    cJSON *root = cJSON_Parse(list.c_str());
    cJSON *found = nullptr;
    for (const cJSON *dev = cJSON_IsArray(root) ? root->child : nullptr; dev; dev = dev->next) {
        const cJSON *s = cJSON_GetObjectItemCaseSensitive(dev, "sn");
        if (cJSON_IsString(s) && sn == s->valuestring)
            found = cJSON_Duplicate(dev, 1);
    }
    cJSON_Delete(root);
    return found;
}

int countDevices(const std::string &list)
{
    cJSON *root = cJSON_Parse(list.c_str());
    int n = cJSON_IsArray(root) ? cJSON_GetArraySize(root) : 0;
    cJSON_Delete(root);
    return n;
}

// A respond datagram from a socket bound to `from`, to the discovery port.
bool respondFrom(const char *from, const std::string &body)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(57975);
    const std::string datagram = simcam::bcastFrame(2, body);
    ok = ok && sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
                   ssize_t(datagram.size());
    close(fd);
    return ok;
}

class DiscoveryClientInNamespace : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!trovixtest::inPrivateNetwork())
            GTEST_SKIP() << "runs only inside its own network namespace";
        ASSERT_EQ(trovix_init(""), 0);
        ASSERT_EQ(trovix_discover_open(""), 0);
        ASSERT_EQ(trovix_discover_run(1), 0);
    }
    void TearDown() override
    {
        trovix_discover_run(0);
        trovix_discover_close();
        trovix_quit();
    }
};

// vorenta_sim_camera as a child process.
struct Child {
    pid_t pid = -1;
    int out = -1;
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
        if (out >= 0)
            close(out);
    }
    bool start(const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out = fds[0];
        if (rc != 0)
            pid = -1;
        return rc == 0;
    }
    std::string readLine(int ms)
    {
        std::string line;
        uint64_t until = pf_clock_ms() + uint64_t(ms);
        char c;
        while (pf_clock_ms() < until) {
            pollfd p{ out, POLLIN, 0 };
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (read(out, &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }
};

} // namespace

TEST(DiscoveryClient, RunsInsideItsOwnNetworkNamespace)
{
    if (trovixtest::inPrivateNetwork())
        GTEST_SKIP() << "already inside the namespace";
    auto run = trovixtest::runInPrivateNetwork("DiscoveryClientInNamespace.*");
    if (!run.ran)
        GTEST_SKIP() << run.why;
    EXPECT_NE(run.output.find("[  PASSED  ] 5 tests"), std::string::npos) << run.output;
    EXPECT_EQ(run.status, 0);
}

TEST_F(DiscoveryClientInNamespace, ThisNamespaceIsPrivateEnoughForTheCameraProgram)
{
    std::string why;
    EXPECT_TRUE(simcam::networkIsPrivate(&why)) << why;
}

TEST_F(DiscoveryClientInNamespace, FindsTheSimulatedCamera)
{
    simcam::SimDiscovery camera;
    ASSERT_TRUE(camera.start(57975, simcam::discoveryAnswer("SIM-7", "W710_IPC", 8080)));
    std::string list;
    ASSERT_TRUE(SimCamera::waitFor([&] { return (list = devices()).find("SIM-7") != std::string::npos; }, 20000))
        << list;
    cJSON *dev = findDevice(list, "SIM-7");
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(cJSON_GetObjectItem(dev, "ip")->valuestring, trovixtest::kPrivateAddress);
    const cJSON *discover = cJSON_GetObjectItem(dev, "discover");
    EXPECT_STREQ(cJSON_GetObjectItem(discover, "model")->valuestring, "W710_IPC");
    EXPECT_EQ(cJSON_GetObjectItem(discover, "port")->valueint, 8080);
    cJSON_Delete(dev);
    char *text = reinterpret_cast<char *>(1);
    EXPECT_EQ(trovix_discover_request("{}", &text), 4097);
}

TEST_F(DiscoveryClientInNamespace, UnfitAnswersAreNotListed)
{
    const bool second = std::system("ip addr add 10.253.0.2/24 dev d0 2>/dev/null") == 0;
    const char *a = trovixtest::kPrivateAddress;
    for (const std::string &body : { std::string("not json"), std::string("{\"discover\":{\"m\":1}}"),
                                     std::string("{\"sn\":\"X1\",\"discover\":{}}"),
                                     std::string("{\"sn\":\"X2\",\"discover\":\"text\"}"),
                                     std::string("{\"sn\":\"X3\\u0001\",\"discover\":{\"m\":1}}"),
                                     std::string("{\"sn\":\"X4\",\"discover\":{\"m\":1e999}}"),
                                     std::string("{\"sn\":7,\"discover\":{\"m\":1}}") }) {
        EXPECT_TRUE(respondFrom(a, body));
    }
    ASSERT_TRUE(respondFrom(a, "{\"sn\":\"GOOD\",\"discover\":{\"v\":1}}"));
    if (second) {
        ASSERT_TRUE(respondFrom("10.253.0.2", "{\"sn\":\"GOOD\",\"discover\":{\"v\":1}}"));
    }
    std::string list;
    const int expected = second ? 2 : 1;
    ASSERT_TRUE(SimCamera::waitFor([&] { return countDevices(list = devices()) == expected; }, 20000)) << list;
    pf_sleep_ms(100);
    EXPECT_EQ(countDevices(list = devices()), expected) << list;
    EXPECT_EQ(list.find("X"), std::string::npos) << list;
    // A second answer from the same address replaces the first.
    ASSERT_TRUE(respondFrom(a, "{\"sn\":\"GOOD\",\"discover\":{\"v\":2}}"));
    ASSERT_TRUE(SimCamera::waitFor([&] { return (list = devices()).find("\"v\":2") != std::string::npos; }, 20000));
    EXPECT_EQ(countDevices(list), expected);
}

TEST_F(DiscoveryClientInNamespace, SwitchedOffItStopsAskingButStillListens)
{
    simcam::SimDiscovery camera;
    ASSERT_TRUE(camera.start(57975, simcam::discoveryAnswer("SIM-8", "E530_IPC", 80)));
    ASSERT_TRUE(SimCamera::waitFor([&] { return camera.discoversSeen() >= 1; }, 20000));
    ASSERT_EQ(trovix_discover_run(0), 0);
    pf_sleep_ms(100);
    const int seen = camera.discoversSeen();
    pf_sleep_ms(2200);
    EXPECT_EQ(camera.discoversSeen(), seen);
    ASSERT_TRUE(respondFrom(trovixtest::kPrivateAddress, "{\"sn\":\"LATE\",\"discover\":{\"v\":1}}"));
    EXPECT_TRUE(SimCamera::waitFor([&] { return devices().find("LATE") != std::string::npos; }, 20000));
}

// The standalone camera program: found by discovery, then logged in to at
// the address and port it was found with, and its stream decoded, first
// MJPEG, then H.264.
TEST_F(DiscoveryClientInNamespace, StandaloneCameraIsFoundLoggedInToAndStreams)
{
    Child child;
    ASSERT_TRUE(child.start({ TROVIX_SIM_CAMERA, "--port", "0", "--model", "Y260_IPC", "--sn", "SIM-9" }));
    const std::string line = child.readLine(5000);
    const size_t at = line.find("listening on port ");
    ASSERT_NE(at, std::string::npos) << line;
    std::string list;
    ASSERT_TRUE(SimCamera::waitFor([&] { return (list = devices()).find("SIM-9") != std::string::npos; }, 20000));
    cJSON *dev = findDevice(list, "SIM-9");
    ASSERT_NE(dev, nullptr);
    const std::string ip = cJSON_GetObjectItem(dev, "ip")->valuestring;
    const int port = cJSON_GetObjectItem(cJSON_GetObjectItem(dev, "discover"), "port")->valueint;
    cJSON_Delete(dev);
    EXPECT_EQ(std::to_string(port), line.substr(at + 18));

    int id = 0;
    ASSERT_EQ(trovix_login(&id, trovixtest::loginText(ip, uint16_t(port)).c_str()), 0);
    char *reply = nullptr;
    ASSERT_EQ(trovix_request(id, "{\"cmd\":\"system\"}", &reply), 0);
    cJSON *system = cJSON_Parse(reply);
    trovix_free(reply);
    EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetObjectItem(system, "system"), "model")->valuestring, "Y260_IPC");
    cJSON_Delete(system);

    ASSERT_EQ(trovix_dec_open(100, nullptr), 0);
    ASSERT_EQ(trovix_dec_bind(100, id, 0, 0, 0), 0);
    auto pictures = [&](int w, int h, int want) {
        int n = 0;
        SimCamera::waitFor([&] {
            dec_frame *f = nullptr;
            if (trovix_dec_get_md_data(100, &f) == 0) {
                n += f->width == w && f->height == h;
                trovix_dec_free_md_data(f);
            }
            return n >= want;
        }, 8000);
        return n;
    };
    const char *mjpeg = "{\"cmd\":\"set_stream\",\"set_stream\":{\"chnn\":0,\"idx\":0,\"fmt\":\"mjpeg\",\"rc_mode\":\"vbr\","
                        "\"wh\":\"640*360\",\"quality\":\"high\",\"frame_rate\":30,\"bitrate\":2048,\"i_interval\":30}}";
    ASSERT_EQ(trovix_request(id, mjpeg, &reply), 0);
    trovix_free(reply);
    ASSERT_EQ(trovix_request(id, "{\"cmd\":\"open_stream\",\"open_stream\":{\"chnn\":0,\"idx\":0}}", &reply), 0);
    trovix_free(reply);
    EXPECT_EQ(pictures(640, 360, 10), 10);
    const char *h264 = "{\"cmd\":\"set_stream\",\"set_stream\":{\"chnn\":0,\"idx\":0,\"fmt\":\"h264\",\"rc_mode\":\"vbr\","
                       "\"wh\":\"320*240\",\"quality\":\"high\",\"frame_rate\":25,\"bitrate\":1024,\"i_interval\":25}}";
    ASSERT_EQ(trovix_request(id, h264, &reply), 0);
    trovix_free(reply);
    EXPECT_EQ(pictures(320, 240, 10), 10);
    EXPECT_EQ(trovix_dec_close(100), 0);
    EXPECT_EQ(trovix_logout(id), 0);
}
