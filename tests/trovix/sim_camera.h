// A simulated network camera: the device side of the private framed protocol
// and of broadcast discovery, on 127.0.0.1 (discovery: on the port a test
// picks, inside the test's own network namespace).
//
// It answers login and logout, answers each JSON request once in the order
// the requests came (with replies, delays, refusals and silence set by the
// test), sends heartbeats and media frames, and misbehaves on demand.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simcam {

// ---- wire format, written independently of the library ----
std::string nsppHeader(uint32_t kind, uint32_t length, uint32_t klass = 0, uint32_t sub = 0,
                       uint32_t magic = 0xFA5A5F, uint32_t version = 1);
std::string nsppFrame(uint32_t kind, const std::string &body, uint32_t klass = 0, uint32_t sub = 0);
std::string textFrame(const std::string &json);
std::string heartbeatFrame();
// media_head (32 bytes) + payload.
std::string mediaBody(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind,
                      uint8_t mediaType = 2, uint64_t ptsUs = 0);
// A small baseline JPEG picture (16x16 grey ramp).
const std::string &tinyJpeg();
// Discovery datagram of the given type.
std::string bcastFrame(int type, const std::string &body, uint8_t randomByte = 0x5A);
uint32_t h1(const std::string &bytes);

struct Reply {
    enum Kind { Answer, Silent, Refuse };
    Kind kind = Answer;
    std::string json;  // empty: the default answer for the command
    int delayMs = 0;
    int code = 0;      // for Refuse
    static Reply answer(const std::string &json = {}, int delayMs = 0) { return Reply{Answer, json, delayMs, 0}; }
    static Reply silent() { return Reply{Silent, {}, 0, 0}; }
    static Reply refuse(int code, int delayMs = 0) { return Reply{Refuse, {}, delayMs, code}; }
};

class SimCamera {
public:
    SimCamera();
    ~SimCamera();
    SimCamera(const SimCamera &) = delete;
    SimCamera &operator=(const SimCamera &) = delete;

    // Listens on 127.0.0.1:port (0: any free port); returns the port.
    uint16_t start(uint16_t port = 0);
    void stop();
    uint16_t port() const { return port_; }

    void setLoginReply(const Reply &r);
    // The next request (not login or logout) gets this reply; later ones the
    // following queued replies, then the default answer.
    void queueReply(const Reply &r);
    // Heartbeats to every client every ms (0: none).
    void setHeartbeatMs(int ms);
    // Default answers echo the request under "echo".

    // To every connected client.
    void sendText(const std::string &json);
    void sendRaw(const std::string &bytes);
    void sendRawSplit(const std::string &bytes, size_t chunk, int gapMs);
    void sendMedia(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind, uint8_t mediaType = 2);
    void closeClients();

    // Firmware upgrade: the bytes of every upgrade media frame received, and
    // a difference added to the counts the camera reports back.
    std::string upgradeData();
    int upgradeBlocks();
    void setUpgradeCountSkew(int skew);

    std::vector<std::string> received();   // every JSON text received, in order
    std::vector<std::string> commands();   // their "cmd" members
    int heartbeatsReceived() const { return heartbeats_; }
    int connectionsAccepted() const { return accepted_; }
    int openConnections();
    int badFrames() const { return badFrames_; }

    static bool waitFor(const std::function<bool()> &cond, int ms);

private:
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
    };
    struct Pending {
        long long due;
        int fd;
        std::string bytes;
    };
    void run();
    void handleInput(Client &c);
    void handleText(Client &c, const std::string &text);
    void schedule(int fd, const std::string &bytes, int delayMs);
    void broadcast(const std::string &bytes);
    void wake();

    std::mutex mu_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int listenFd_ = -1;
    int wakeFd_[2] = { -1, -1 };
    uint16_t port_ = 0;
    std::map<int, Client> clients_;
    std::deque<Pending> pending_;
    long long lastDue_ = 0;
    Reply login_ = Reply::answer();
    std::deque<Reply> replies_;
    int heartbeatMs_ = 0;
    long long lastHeartbeat_ = 0;
    std::vector<std::string> received_;
    std::atomic<int> heartbeats_{0};
    std::atomic<int> accepted_{0};
    std::atomic<int> badFrames_{0};
    bool closeAll_ = false;
    std::string upgradeData_;
    int upgradeBlocks_ = 0;
    int upgradeSkew_ = 0;
};

// Answers discovery datagrams (type 1) with a respond datagram (type 2)
// sent back to the asker; stores client messages (type 3).
class SimDiscovery {
public:
    ~SimDiscovery();
    bool start(uint16_t port, const std::string &respond);
    void stop();
    int discoversSeen() const { return discovers_; }
    std::vector<std::string> messages();

private:
    void run();
    std::thread thread_;
    std::atomic<bool> running_{false};
    int fd_ = -1;
    std::string respond_;
    std::atomic<int> discovers_{0};
    std::mutex mu_;
    std::vector<std::string> messages_;
};

} // namespace simcam
