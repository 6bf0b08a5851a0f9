// The stream side of the simulated network camera: an RTSP server with
// interleaved RTP (RFC 2326, RFC 6184) and an HTTP-FLV server, both on
// 127.0.0.1, with the wire formats written independently of the library.
//
// The H.264 they send comes from the ffmpeg command line (libx264); real
// peers (GStreamer's RTSP server, ffmpeg's own FLV output relayed the way
// cameras serve it) are started from here too.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simcam {

using Nal = std::string; // one NAL unit, header byte first
using AccessUnit = std::vector<Nal>;

// ---- H.264 ----
std::vector<Nal> splitAnnexB(const std::string &stream);
// Groups NAL units into access units (a new one at each first slice).
std::vector<AccessUnit> accessUnits(const std::string &annexB);
std::string annexB(const AccessUnit &au);
// Made by the ffmpeg command line with libx264 (no B frames, a key frame
// every gop pictures); cached per process. Empty when ffmpeg fails. With a
// bit rate, the picture is noisy enough to fill it, as a camera's would.
const std::string &ffmpegH264(int width, int height, int frames, int gop = 30, int kbps = 0);
// A known test picture: four flat quadrants, red, green, blue and white
// from the top left, encoded the same way.
const std::string &ffmpegH264Quadrants(int width, int height, int frames);
// An FLV file with the same kind of stream, as ffmpeg writes it.
const std::string &ffmpegFlv(int width, int height, int frames);
// Width and height as an H.264 decoder (libavcodec) sees them in an
// access unit; {0, 0} when it doesn't decode.
struct PictureSize {
    int width = 0;
    int height = 0;
};
class H264Check {
public:
    H264Check();
    ~H264Check();
    // Decodes one access unit (start-code form); the picture size or {0,0}.
    PictureSize decode(const std::string &au);
    int decoded() const { return decoded_; }

private:
    void *ctx_ = nullptr;
    int decoded_ = 0;
};

// ---- RTP and RTSP ----
std::string rtpPacket(uint8_t payloadType, uint16_t seq, uint32_t ts, bool marker, const std::string &payload,
                      int csrcCount = 0, const std::string &extension = {}, uint8_t padding = 0);
std::string interleaved(uint8_t channel, const std::string &packet);
// RTP payloads of one NAL unit: itself when it fits, else FU-A fragments.
std::vector<std::string> packetise(const Nal &nal, size_t maxPayload);
std::string stapA(const std::vector<Nal> &nals);
std::string base64(const std::string &bytes);
std::string md5Hex(const std::string &bytes);

// ---- FLV ----
std::string flvHeader(bool audio, bool video);
std::string flvTag(uint8_t type, uint32_t tsMs, const std::string &data);
std::string avcSequenceHeader(const std::vector<Nal> &sps, const std::vector<Nal> &pps, int lengthSize = 4);
// The data of an AVC video tag carrying these NAL units.
std::string avcNalData(bool key, const std::vector<Nal> &nals, int lengthSize = 4);

struct RtspRequest {
    std::string method;
    std::string url;
    std::map<std::string, std::string> headers; // names in lower case
};

class SimRtspServer {
public:
    enum class Auth { Off, Basic, Digest };
    struct Options {
        std::string path = "/live";
        Auth auth = Auth::Off;
        std::string user = "admin";
        std::string pass = "secret";
        bool spropInSdp = true;
        bool paramsInBand = true;  // SPS and PPS travel with the key frames
        bool stapParams = false;   // ... as one STAP-A packet
        bool audio = false;        // an audio medium as well, with packets on its channel
        std::string videoControl = "trackID=0";
        bool contentBase = true;
        size_t maxPayload = 1400;
        int frameIntervalMs = 33;  // 0: as fast as the connection takes them
        int loops = 1;             // passes over the stream; -1 without end
        int closeAfterFrames = -1; // the camera goes away mid-stream
        int sessionTimeout = 60;   // seconds, named in the SETUP answer
        std::map<std::string, int> refuse; // method -> status answered instead of 200
        // Broken cameras: method -> bytes sent instead of its answer, and
        // whether the camera then goes away.
        struct Raw {
            std::string bytes;
            bool hangUp = false;
        };
        std::map<std::string, Raw> raw;
        bool floodTexts = false;   // after PLAY, unasked answers as fast as they are taken
        size_t captureBytes = 0;   // keep the first bytes sent to a client
    };

    SimRtspServer() = default;
    ~SimRtspServer();
    SimRtspServer(const SimRtspServer &) = delete;
    SimRtspServer &operator=(const SimRtspServer &) = delete;

    uint16_t start(const std::vector<AccessUnit> &stream, const Options &options, uint16_t port = 0);
    void stop();
    uint16_t port() const { return port_; }
    std::string url() const;

    std::vector<RtspRequest> requests();
    std::vector<std::string> methods();
    int framesSent() const { return framesSent_; }
    int openConnections();
    std::string captured();

private:
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
        bool playing = false;
        int videoChannel = -1;
        int audioChannel = -1;
        size_t frame = 0;
        int loop = 0;
        uint16_t seq = 0;
        long long due = 0;
        int sent = 0;
        bool closeWhenFlushed = false;
    };
    void run();
    void handleRequests(Client &c);
    void answer(Client &c, const RtspRequest &r, const std::string &body);
    bool authorised(const RtspRequest &r);
    std::string sdp() const;
    void produce(Client &c, long long now);

    std::vector<AccessUnit> stream_;
    Options opt_;
    std::mutex mu_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::map<int, Client> clients_;
    std::vector<RtspRequest> requests_;
    std::atomic<int> framesSent_{0};
    std::string captured_;
};

// Answers one GET with a status line and header (no Content-Length, no
// chunking, as cameras do) and then relays a stream: fixed bytes, or the
// output of a command (the ffmpeg command line) read as it comes.
class SimFlvServer {
public:
    struct Options {
        int status = 200;
        std::string body;          // sent after the header
        std::string command;       // or: relayed from this shell command's output
        int closeAfterBytes = -1;  // the camera goes away mid-stream
    };
    ~SimFlvServer();
    uint16_t start(const Options &options, uint16_t port = 0);
    void stop();
    uint16_t port() const { return port_; }
    std::vector<std::string> requests();
    int openConnections();

private:
    void run();
    Options opt_;
    std::mutex mu_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::vector<std::string> requests_;
    int clients_ = 0;
};

// GStreamer's RTSP server (python3-gi, gst-rtsp-server) serving H.264 from
// x264enc over RTP, in a child process; stopped with the object.
class GstRtspServer {
public:
    ~GstRtspServer();
    // Empty string on success, else why it could not start.
    std::string start(int width, int height, const std::string &auth = "none", const std::string &user = "admin",
                      const std::string &pass = "secret");
    void stop();
    uint16_t port() const { return port_; }
    std::string url() const { return "/test"; }

private:
    int pid_ = -1;
    int stdin_ = -1; // closing it ends the server
    uint16_t port_ = 0;
};

} // namespace simcam
