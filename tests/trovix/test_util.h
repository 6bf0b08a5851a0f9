// Helpers shared by the trovix tests: an in-memory socket and a harness that
// drives one protocol driver's reader and writer by hand.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qv_net.h"
#include "private_network.h"
#include "sim_camera.h"

struct lua_State;

namespace trovixtest {

// A socket whose peer is a byte string. recv hands out at most the next
// chunk size (cycling through chunks), then "would block" (-2), or 0 once
// the peer has closed and everything was read.
struct MemSocket {
    qv_socket_x sock{};
    std::string input;
    size_t pos = 0;
    std::vector<size_t> chunks;
    size_t chunkIndex = 0;
    bool peerClosed = false;
    bool failSend = false;
    std::string output;

    MemSocket();
    void feed(const std::string &bytes) { input += bytes; }
};

struct Posted {
    std::vector<std::string> texts;
    std::vector<int> events;
    std::vector<std::string> media; // payloads (after the 32-byte head)
    std::vector<media_head> heads;
    std::vector<std::string> raw;   // upgrade media bodies
};

class DriverHarness {
public:
    explicit DriverHarness(const np_driver *driver, uint32_t key = 20);
    ~DriverHarness();
    // Runs the readable handler until the input is used up or the socket failed.
    void pump();
    void writeAll();
    Posted drain();
    int state() const { return qv_sock_state(&mem.sock); }
    MemSocket mem;
    qv_ncm *manager;
    ncm_conn conn{};
};

// Runs a Lua chunk and returns its first result as text ("error: ..." on
// failure).
std::string luaRun(lua_State *L, const std::string &code);
// A member of a JSON reply along path, as text ("" when missing).
std::string member(const char *json, const std::vector<std::string> &path);
// Threads of this process.
int threadCount();
// A login text for the simulated camera.
std::string loginText(const std::string &ip, uint16_t port);

// The simulated camera on 127.0.0.1, the library started and logged in to it.
class CameraSession : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    simcam::SimCamera camera;
    uint16_t port = 0;
    int id = 0;
};

// The private network runner of every test program (private_network.h).
using ::inPrivateNetwork;
using ::kPrivateAddress;
using ::NamespaceRun;
using ::runInPrivateNetwork;

} // namespace trovixtest
