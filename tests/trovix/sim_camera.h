// A simulated network camera: the device side of the private framed protocol
// and of broadcast discovery, written independently of the library. Tests
// run it on 127.0.0.1 (discovery: inside the test's own network namespace);
// vorenta_sim_camera runs one inside a private namespace only.
//
// It answers login and logout and every request of its command table from a
// device state that getters read and setters change, each request once and
// in the order the requests came (with replies, delays, refusals, silence,
// repeated answers and answers in their own time a test may set instead). A client that opens the stream gets moving test
// pictures, MJPEG or H.264 as the stream settings say. It sends heartbeats
// and misbehaves on demand.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct cJSON;

namespace simcam {

// ---- wire format ----
std::string nsppHeader(uint32_t kind, uint32_t length, uint32_t klass = 0, uint32_t sub = 0,
                       uint32_t magic = 0xFA5A5F, uint32_t version = 1);
std::string nsppFrame(uint32_t kind, const std::string &body, uint32_t klass = 0, uint32_t sub = 0);
std::string textFrame(const std::string &json);
std::string heartbeatFrame();
// Media types the camera writes into the media head: 2 H.264 (start-code
// form), 26 JPEG (its RTP payload type).
constexpr uint8_t kMediaH264 = 2;
constexpr uint8_t kMediaMjpeg = 26;
// media_head (32 bytes) + payload.
std::string mediaBody(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind,
                      uint8_t mediaType = kMediaH264, uint64_t ptsUs = 0);
// A small baseline JPEG picture (16x16 grey ramp).
const std::string &tinyJpeg();
// Discovery datagram of the given type.
std::string bcastFrame(int type, const std::string &body, uint8_t randomByte = 0x5A);
uint32_t h1(const std::string &bytes);
// What the camera answers to discovery.
std::string discoveryAnswer(const std::string &sn, const std::string &model, uint16_t port);

// ---- pictures ----
// Planar YUV in video range, tight rows; chroma (width + 1) / 2 wide and
// (height + 1) / 2 high (4:2:0) or height high (4:2:2).
struct Picture {
    int width = 0, height = 0;
    bool chroma422 = false;
    std::vector<uint8_t> y, u, v;
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return chroma422 ? height : (height + 1) / 2; }
};
// Moving stripes and a moving block: every index gives another picture.
void drawTestPicture(Picture &picture, int width, int height, bool chroma422, int index);

class PictureEncoder {
public:
    virtual ~PictureEncoder() = default;
    // The encoded picture (empty on failure); *key tells whether it decodes
    // on its own.
    virtual std::string encode(const Picture &picture, bool forceKey, bool *key) = 0;
};
std::unique_ptr<PictureEncoder> makeJpegEncoder(int quality = 85);
// libx264 through libavcodec, 4:2:0, no B-frames; null when it can't open.
std::unique_ptr<PictureEncoder> makeH264Encoder(int width, int height, int fps, int gop);

// Streams made by the ffmpeg command line, cut into pictures.
std::vector<std::string> splitJpegStream(const std::string &bytes);   // -f mjpeg
std::vector<std::string> splitAccessUnits(const std::string &annexB); // -f h264
bool accessUnitIsKey(const std::string &accessUnit);
std::string readFile(const std::string &path);

// True when every network interface besides loopback is a dummy or a veth
// whose peer is in this same namespace, so nothing sent here can leave it;
// otherwise false with the reason.
bool networkIsPrivate(std::string *why);

struct Reply {
    enum Kind { Answer, Silent, Refuse, HangUp };
    Kind kind = Answer;
    std::string json;  // empty: the default answer for the command
    int delayMs = 0;
    int code = 0;      // for Refuse
    int repeatMs = -1; // a copy of the answer goes out this long after the request, out of turn
    bool twice = false; // a copy goes out right behind the answer, in the same write
    bool ownTime = false; // goes out after its own delay, also before earlier answers
    static Reply answer(const std::string &json = {}, int delayMs = 0) { return Reply{Answer, json, delayMs, 0}; }
    static Reply silent() { return Reply{Silent, {}, 0, 0}; }
    static Reply refuse(int code, int delayMs = 0) { return Reply{Refuse, {}, delayMs, code}; }
    // The camera closes the connection instead of answering.
    static Reply hangUp() { return Reply{HangUp, {}, 0, 0}; }
    Reply repeatedAfter(int ms) const
    {
        Reply r = *this;
        r.repeatMs = ms;
        return r;
    }
    Reply sentTwice() const
    {
        Reply r = *this;
        r.twice = true;
        return r;
    }
    // As a camera that works on commands side by side: a quick answer
    // overtakes a slow one asked before it.
    Reply inOwnTime() const
    {
        Reply r = *this;
        r.ownTime = true;
        return r;
    }
};

class SimCamera {
public:
    SimCamera();
    ~SimCamera();
    SimCamera(const SimCamera &) = delete;
    SimCamera &operator=(const SimCamera &) = delete;

    // Listens on address:port (port 0: any free port); returns the port, 0
    // when it could not listen.
    uint16_t start(uint16_t port = 0, const std::string &address = "127.0.0.1");
    void stop();
    uint16_t port() const { return port_; }

    void setLoginReply(const Reply &r);
    // The next request (not login or logout) gets this reply; later ones the
    // following queued replies, then the standing reply.
    void queueReply(const Reply &r);
    // What requests without a queued reply get (at first the default answer).
    void setStandingReply(const Reply &r);
    // Or, when set, what this says for each such request, from its text. It
    // runs on the camera's thread as the request comes, under the camera's
    // lock: it must not call the camera.
    void setReplyChooser(std::function<Reply(const std::string &text)> choose);
    // Heartbeats to every client every ms (0: none).
    void setHeartbeatMs(int ms);

    // Device state: the group of settings that a getter answers and setters
    // change (see the command table in sim_camera.cpp), as JSON text.
    std::string group(const std::string &name);
    // Merges the members of a JSON object into a group (creating it).
    void setGroup(const std::string &name, const std::string &json);
    void setModel(const std::string &model);
    // How the stream carries pictures: JPEG chroma and the media type of JPEG.
    void setJpegChroma422(bool on);
    void setJpegMediaType(uint8_t type);

    // To every connected client.
    void sendText(const std::string &json);
    void sendRaw(const std::string &bytes);
    void sendRawSplit(const std::string &bytes, size_t chunk, int gapMs);
    // ptsUs < 0: now.
    void sendMedia(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind,
                   uint8_t mediaType = kMediaH264, int64_t ptsUs = -1);
    void closeClients();

    // Firmware upgrade: the bytes of every upgrade media frame received, and
    // a difference added to the counts the camera reports back.
    std::string upgradeData();
    int upgradeBlocks();
    void setUpgradeCountSkew(int skew);

    std::vector<std::string> received();   // every JSON text received, in order
    std::vector<std::string> commands();   // their "cmd" members
    // For every request but login and logout, in the order they came: when
    // its answer was due to go out (clockMs), -1 for none.
    std::vector<long long> answerTimes();
    static long long clockMs();
    int heartbeatsReceived() const { return heartbeats_; }
    int connectionsAccepted() const { return accepted_; }
    int openConnections();
    int badFrames() const { return badFrames_; }
    int streamingClients();
    int picturesSent() const { return picturesSent_; }

    static bool waitFor(const std::function<bool()> &cond, int ms);

    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
        bool streaming = false;
        bool hangUp = false;
        bool needKey = true;
        uint16_t channel = 0, index = 0;
    };
    // One entry of the command table.
    struct Command {
        const char *name;
        enum Kind { Get, Set } kind;
        std::vector<const char *> groups; // Get: the group answered; Set: the groups changed
        void (SimCamera::*after)(Client &client, const cJSON *args);
    };

private:
    static const std::vector<Command> &commandTable();
    static const Command *findCommand(const std::string &name);
    struct Pending {
        long long due;
        int fd;
        std::string bytes;
    };
    void run();
    void stream();
    void handleInput(Client &c);
    void handleText(Client &c, const std::string &text);
    std::string answerCommand(const Command &command, Client &c, const cJSON *req);
    void openStream(Client &c, const cJSON *args);
    void streamSettingsChanged(Client &c, const cJSON *args);
    void displayModeChanged(Client &c, const cJSON *args);
    long long schedule(int fd, const std::string &bytes, int delayMs, bool ownTime); // when it goes out
    void broadcast(const std::string &bytes);
    void wake();

    std::mutex mu_;
    std::thread thread_;
    std::thread streamThread_;
    std::condition_variable streamWake_;
    std::atomic<bool> running_{false};
    int listenFd_ = -1;
    int wakeFd_[2] = { -1, -1 };
    uint16_t port_ = 0;
    std::map<int, Client> clients_;
    std::deque<Pending> pending_;
    long long lastDue_ = 0;
    Reply login_ = Reply::answer();
    std::deque<Reply> replies_;
    Reply standing_ = Reply::answer();
    std::function<Reply(const std::string &)> chooser_;
    int heartbeatMs_ = 0;
    long long lastHeartbeat_ = 0;
    std::vector<std::string> received_;
    std::vector<long long> answerTimes_;
    std::atomic<int> heartbeats_{0};
    std::atomic<int> accepted_{0};
    std::atomic<int> badFrames_{0};
    std::atomic<int> picturesSent_{0};
    bool closeAll_ = false;
    std::string upgradeData_;
    int upgradeBlocks_ = 0;
    int upgradeSkew_ = 0;
    cJSON *state_ = nullptr;
    int streamGeneration_ = 0;   // changes with the stream settings
    bool keyRequested_ = true;
    bool jpeg422_ = true;
    uint8_t jpegMediaType_ = kMediaMjpeg;
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
