#include "sim_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/md5.h>
}

namespace simcam {

static long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void putBe(std::string &s, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

static std::string lowerCase(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

static std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

static int listenLoopback(uint16_t port, uint16_t *bound)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    *bound = ntohs(a.sin_port);
    return fd;
}

// A shell command with its standard output (and optionally input) on pipes.
static pid_t spawn(const std::string &command, int *outFd, int *inFd)
{
    int out[2], in[2] = { -1, -1 };
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    if (inFd && pipe2(in, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        if (inFd)
            dup2(in[0], 0);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    *outFd = out[0];
    if (inFd) {
        close(in[0]);
        *inFd = in[1];
    }
    return pid;
}

static void reap(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; i++) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

static std::string runCapture(const std::string &command)
{
    int fd = -1;
    pid_t pid = spawn(command, &fd, nullptr);
    std::string out;
    if (pid < 0)
        return out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        out.clear();
    return out;
}

// ---- H.264 ----
// Streams made by the ffmpeg command line, once per process.
static std::mutex g_madeMu;
static std::map<std::string, std::string> g_made;

std::vector<Nal> splitAnnexB(const std::string &s)
{
    std::vector<Nal> out;
    size_t i = 0, start = std::string::npos;
    while (i + 3 <= s.size()) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && s[end - 1] == 0)
                    end--;
                out.push_back(s.substr(start, end - start));
            }
            i += 3;
            start = i;
        } else {
            i++;
        }
    }
    if (start != std::string::npos && start < s.size())
        out.push_back(s.substr(start));
    return out;
}

std::vector<AccessUnit> accessUnits(const std::string &stream)
{
    std::vector<AccessUnit> out;
    AccessUnit cur;
    bool curHasSlice = false;
    for (const Nal &nal : splitAnnexB(stream)) {
        int type = nal[0] & 0x1F;
        bool slice = type == 1 || type == 5;
        // A first slice (first_mb_in_slice 0: the ue(v) "1") or a parameter
        // set after a picture starts the next access unit.
        bool firstSlice = slice && nal.size() > 1 && (static_cast<uint8_t>(nal[1]) & 0x80);
        if (curHasSlice && (firstSlice || !slice)) {
            out.push_back(cur);
            cur.clear();
            curHasSlice = false;
        }
        cur.push_back(nal);
        curHasSlice = curHasSlice || slice;
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

std::string annexB(const AccessUnit &au)
{
    std::string out;
    for (const Nal &nal : au)
        out += std::string("\0\0\0\1", 4) + nal;
    return out;
}

const std::string &ffmpegH264(int width, int height, int frames, int gop, int kbps)
{
    std::string key = "h264 " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(frames) +
                      "x" + std::to_string(gop) + "x" + std::to_string(kbps);
    std::lock_guard<std::mutex> lock(g_madeMu);
    auto it = g_made.find(key);
    if (it != g_made.end())
        return it->second;
    std::string cmd = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=" + std::to_string(width) + "x" +
                      std::to_string(height) + ":rate=30 -frames:v " + std::to_string(frames) +
                      (kbps ? " -vf noise=alls=12:allf=t -b:v " + std::to_string(kbps) + "k -maxrate " +
                                  std::to_string(kbps) + "k -bufsize " + std::to_string(kbps / 2) + "k"
                            : std::string()) +
                      " -c:v libx264 -preset ultrafast -threads 1 -g " + std::to_string(gop) +
                      " -bf 0 -pix_fmt yuv420p -f h264 -";
    return g_made[key] = runCapture(cmd);
}

const std::string &ffmpegH264Quadrants(int width, int height, int frames)
{
    std::string key = "quadrants " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(frames);
    std::lock_guard<std::mutex> lock(g_madeMu);
    auto it = g_made.find(key);
    if (it != g_made.end())
        return it->second;
    // BT.601 video range: red, green, blue, white.
    static const uint8_t yuv[4][3] = { { 81, 90, 240 }, { 145, 54, 34 }, { 41, 240, 110 }, { 235, 128, 128 } };
    int cw = width / 2, ch = height / 2;
    std::string picture(static_cast<size_t>(width * height + 2 * cw * ch), '\0');
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            picture[static_cast<size_t>(y * width + x)] =
                static_cast<char>(yuv[(y * 2 >= height ? 2 : 0) + (x * 2 >= width ? 1 : 0)][0]);
    for (int p = 1; p <= 2; p++)
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++)
                picture[static_cast<size_t>(width * height + (p - 1) * cw * ch + y * cw + x)] =
                    static_cast<char>(yuv[(y * 2 >= ch ? 2 : 0) + (x * 2 >= cw ? 1 : 0)][p]);
    char path[] = "/tmp/simcam-quadrants-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return g_made[key];
    for (int i = 0; i < frames; i++)
        if (write(fd, picture.data(), picture.size()) != static_cast<ssize_t>(picture.size()))
            break;
    close(fd);
    std::string cmd = "ffmpeg -nostdin -v error -f rawvideo -pix_fmt yuv420p -s " + std::to_string(width) + "x" +
                      std::to_string(height) + " -r 30 -i " + path +
                      " -c:v libx264 -preset ultrafast -threads 1 -qp 4 -g 30 -bf 0 -f h264 -";
    g_made[key] = runCapture(cmd);
    unlink(path);
    return g_made[key];
}

const std::string &ffmpegFlv(int width, int height, int frames)
{
    std::string key = "flv " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(frames);
    std::lock_guard<std::mutex> lock(g_madeMu);
    auto it = g_made.find(key);
    if (it != g_made.end())
        return it->second;
    std::string cmd = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=" + std::to_string(width) + "x" +
                      std::to_string(height) + ":rate=30 -frames:v " + std::to_string(frames) +
                      " -c:v libx264 -preset ultrafast -threads 1 -g 30 -bf 0 -pix_fmt yuv420p -f flv -";
    return g_made[key] = runCapture(cmd);
}

H264Check::H264Check()
{
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (c) {
        c->thread_count = 1;
        if (avcodec_open2(c, codec, nullptr) < 0)
            avcodec_free_context(&c);
    }
    ctx_ = c;
}

H264Check::~H264Check()
{
    AVCodecContext *c = static_cast<AVCodecContext *>(ctx_);
    avcodec_free_context(&c);
}

PictureSize H264Check::decode(const std::string &au)
{
    PictureSize size;
    AVCodecContext *c = static_cast<AVCodecContext *>(ctx_);
    if (!c)
        return size;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    if (av_new_packet(pkt, static_cast<int>(au.size())) == 0) {
        memcpy(pkt->data, au.data(), au.size());
        if (avcodec_send_packet(c, pkt) == 0 && avcodec_receive_frame(c, frame) == 0) {
            size.width = frame->width;
            size.height = frame->height;
            decoded_++;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return size;
}

// ---- RTP and RTSP ----
std::string rtpPacket(uint8_t payloadType, uint16_t seq, uint32_t ts, bool marker, const std::string &payload,
                      int csrcCount, const std::string &extension, uint8_t padding)
{
    std::string p;
    p.push_back(static_cast<char>(0x80 | (padding ? 0x20 : 0) | (extension.empty() ? 0 : 0x10) | (csrcCount & 0xF)));
    p.push_back(static_cast<char>((marker ? 0x80 : 0) | (payloadType & 0x7F)));
    putBe(p, seq, 2);
    putBe(p, ts, 4);
    putBe(p, 0x11223344, 4);
    for (int i = 0; i < csrcCount; i++)
        putBe(p, 0xC5C5C500u + static_cast<uint32_t>(i), 4);
    if (!extension.empty()) {
        putBe(p, 0xBEDE, 2);
        putBe(p, static_cast<uint32_t>(extension.size() / 4), 2);
        p += extension;
    }
    p += payload;
    if (padding) {
        p.append(padding - 1, '\0');
        p.push_back(static_cast<char>(padding));
    }
    return p;
}

std::string interleaved(uint8_t channel, const std::string &packet)
{
    std::string out = "$";
    out.push_back(static_cast<char>(channel));
    putBe(out, static_cast<uint32_t>(packet.size()), 2);
    return out + packet;
}

std::vector<std::string> packetise(const Nal &nal, size_t maxPayload)
{
    if (nal.size() <= maxPayload)
        return { nal };
    std::vector<std::string> out;
    uint8_t header = static_cast<uint8_t>(nal[0]);
    size_t chunk = maxPayload - 2;
    for (size_t at = 1; at < nal.size(); at += chunk) {
        std::string p;
        p.push_back(static_cast<char>((header & 0xE0) | 28));
        uint8_t fu = header & 0x1F;
        if (at == 1)
            fu |= 0x80;
        if (at + chunk >= nal.size())
            fu |= 0x40;
        p.push_back(static_cast<char>(fu));
        p += nal.substr(at, chunk);
        out.push_back(p);
    }
    return out;
}

std::string stapA(const std::vector<Nal> &nals)
{
    std::string p(1, static_cast<char>(24));
    uint8_t nri = 0;
    for (const Nal &nal : nals) {
        nri = std::max<uint8_t>(nri, static_cast<uint8_t>(nal[0]) & 0x60);
        putBe(p, static_cast<uint32_t>(nal.size()), 2);
        p += nal;
    }
    p[0] = static_cast<char>(24 | nri);
    return p;
}

std::string base64(const std::string &in)
{
    static const char *abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size())
            n |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size())
            n |= static_cast<uint8_t>(in[i + 2]);
        out.push_back(abc[(n >> 18) & 63]);
        out.push_back(abc[(n >> 12) & 63]);
        out.push_back(i + 1 < in.size() ? abc[(n >> 6) & 63] : '=');
        out.push_back(i + 2 < in.size() ? abc[n & 63] : '=');
    }
    return out;
}

std::string md5Hex(const std::string &bytes)
{
    uint8_t sum[16];
    av_md5_sum(sum, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    char hex[33];
    for (int i = 0; i < 16; i++)
        snprintf(hex + 2 * i, 3, "%02x", sum[i]);
    return std::string(hex, 32);
}

// ---- FLV ----
std::string flvHeader(bool audio, bool video)
{
    std::string h = "FLV";
    h.push_back(1);
    h.push_back(static_cast<char>((audio ? 4 : 0) | (video ? 1 : 0)));
    putBe(h, 9, 4);
    putBe(h, 0, 4);
    return h;
}

std::string flvTag(uint8_t type, uint32_t tsMs, const std::string &data)
{
    std::string t;
    t.push_back(static_cast<char>(type));
    putBe(t, static_cast<uint32_t>(data.size()), 3);
    putBe(t, tsMs & 0xFFFFFF, 3);
    t.push_back(static_cast<char>(tsMs >> 24));
    putBe(t, 0, 3);
    t += data;
    putBe(t, static_cast<uint32_t>(11 + data.size()), 4);
    return t;
}

std::string avcSequenceHeader(const std::vector<Nal> &sps, const std::vector<Nal> &pps, int lengthSize)
{
    std::string d;
    d.push_back(0x17);
    d.push_back(0);
    putBe(d, 0, 3);
    d.push_back(1);
    const Nal &first = sps.empty() ? Nal(4, '\x42') : sps[0];
    d.push_back(first.size() > 1 ? first[1] : 0x42);
    d.push_back(first.size() > 2 ? first[2] : 0);
    d.push_back(first.size() > 3 ? first[3] : 0x1E);
    d.push_back(static_cast<char>(0xFC | ((lengthSize - 1) & 3)));
    d.push_back(static_cast<char>(0xE0 | (sps.size() & 0x1F)));
    for (const Nal &n : sps) {
        putBe(d, static_cast<uint32_t>(n.size()), 2);
        d += n;
    }
    d.push_back(static_cast<char>(pps.size()));
    for (const Nal &n : pps) {
        putBe(d, static_cast<uint32_t>(n.size()), 2);
        d += n;
    }
    return d;
}

std::string avcNalData(bool key, const std::vector<Nal> &nals, int lengthSize)
{
    std::string d;
    d.push_back(static_cast<char>((key ? 0x10 : 0x20) | 7));
    d.push_back(1);
    putBe(d, 0, 3);
    for (const Nal &n : nals) {
        putBe(d, static_cast<uint32_t>(n.size()), lengthSize);
        d += n;
    }
    return d;
}

// ---- SimRtspServer ----
SimRtspServer::~SimRtspServer() { stop(); }

uint16_t SimRtspServer::start(const std::vector<AccessUnit> &stream, const Options &options, uint16_t port)
{
    stream_ = stream;
    opt_ = options;
    listenFd_ = listenLoopback(port, &port_);
    if (listenFd_ < 0)
        return 0;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return port_;
}

void SimRtspServer::stop()
{
    if (running_.exchange(false))
        thread_.join();
    for (auto &kv : clients_)
        close(kv.first);
    clients_.clear();
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
}

std::string SimRtspServer::url() const { return "rtsp://127.0.0.1:" + std::to_string(port_) + opt_.path; }

std::vector<RtspRequest> SimRtspServer::requests()
{
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

std::vector<std::string> SimRtspServer::methods()
{
    std::vector<std::string> out;
    for (const RtspRequest &r : requests())
        out.push_back(r.method);
    return out;
}

int SimRtspServer::openConnections()
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(clients_.size());
}

std::string SimRtspServer::captured()
{
    std::lock_guard<std::mutex> lock(mu_);
    return captured_;
}

std::string SimRtspServer::sdp() const
{
    std::string sps, pps;
    for (const AccessUnit &au : stream_) {
        for (const Nal &n : au) {
            if ((n[0] & 0x1F) == 7 && sps.empty())
                sps = n;
            if ((n[0] & 0x1F) == 8 && pps.empty())
                pps = n;
        }
    }
    std::string s = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Simulated camera\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
                    "a=control:*\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1";
    if (opt_.spropInSdp && !sps.empty())
        s += ";sprop-parameter-sets=" + base64(sps) + "," + base64(pps);
    s += "\r\na=control:" + opt_.videoControl + "\r\n";
    if (opt_.audio)
        s += "m=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\na=control:trackID=1\r\n";
    return s;
}

static std::string authParam(const std::string &header, const std::string &name)
{
    size_t at = 0;
    while ((at = header.find(name + "=", at)) != std::string::npos) {
        if (at == 0 || header[at - 1] == ' ' || header[at - 1] == ',') {
            at += name.size() + 1;
            if (at < header.size() && header[at] == '"') {
                size_t end = header.find('"', at + 1);
                return header.substr(at + 1, end - at - 1);
            }
            size_t end = header.find_first_of(", ", at);
            return header.substr(at, end == std::string::npos ? std::string::npos : end - at);
        }
        at++;
    }
    return {};
}

bool SimRtspServer::authorised(const RtspRequest &r)
{
    if (opt_.auth == Auth::Off)
        return true;
    auto it = r.headers.find("authorization");
    if (it == r.headers.end())
        return false;
    const std::string &h = it->second;
    if (opt_.auth == Auth::Basic)
        return h == "Basic " + base64(opt_.user + ":" + opt_.pass);
    if (h.compare(0, 7, "Digest ") != 0 || authParam(h, "username") != opt_.user ||
        authParam(h, "nonce") != "5ca1ab1e")
        return false;
    std::string ha1 = md5Hex(opt_.user + ":sim:" + opt_.pass);
    std::string ha2 = md5Hex(r.method + ":" + authParam(h, "uri"));
    std::string expect = md5Hex(ha1 + ":5ca1ab1e:" + ha2);
    return authParam(h, "response") == expect;
}

void SimRtspServer::answer(Client &c, const RtspRequest &r, const std::string &body)
{
    auto cseq = r.headers.find("cseq");
    std::string cs = cseq == r.headers.end() ? "0" : cseq->second;
    std::string reply;
    auto raw = opt_.raw.find(r.method);
    if (raw != opt_.raw.end()) {
        c.out += raw->second.bytes;
        c.closeWhenFlushed = raw->second.hangUp;
        return;
    }
    auto refused = opt_.refuse.find(r.method);
    if (refused != opt_.refuse.end()) {
        c.out += "RTSP/1.0 " + std::to_string(refused->second) + " Refused\r\nCSeq: " + cs + "\r\n\r\n";
        return;
    }
    if (!authorised(r)) {
        std::string challenge = opt_.auth == Auth::Basic ? "Basic realm=\"sim\""
                                                          : "Digest realm=\"sim\", nonce=\"5ca1ab1e\"";
        c.out += "RTSP/1.0 401 Unauthorized\r\nCSeq: " + cs + "\r\nWWW-Authenticate: " + challenge + "\r\n\r\n";
        return;
    }
    std::string head = "RTSP/1.0 200 OK\r\nCSeq: " + cs + "\r\n";
    std::string base = "rtsp://127.0.0.1:" + std::to_string(port_) + opt_.path + "/";
    if (r.method == "OPTIONS") {
        head += "Public: OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY, GET_PARAMETER\r\n";
    } else if (r.method == "DESCRIBE") {
        std::string s = sdp();
        if (opt_.contentBase)
            head += "Content-Base: " + base + "\r\n";
        head += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(s.size()) + "\r\n\r\n";
        c.out += head + s;
        return;
    } else if (r.method == "SETUP") {
        auto t = r.headers.find("transport");
        int a = -1, b = -1;
        if (t != r.headers.end()) {
            size_t at = t->second.find("interleaved=");
            if (at != std::string::npos)
                sscanf(t->second.c_str() + at, "interleaved=%d-%d", &a, &b);
        }
        bool audio = r.url.size() >= 9 && r.url.compare(r.url.size() - 9, 9, "trackID=1") == 0;
        (audio ? c.audioChannel : c.videoChannel) = a;
        head += "Session: 12345678;timeout=" + std::to_string(opt_.sessionTimeout) + "\r\nTransport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(a) +
                "-" + std::to_string(b) + "\r\n";
    } else if (r.method == "PLAY") {
        head += "Session: 12345678\r\nRTP-Info: url=" + base + opt_.videoControl + ";seq=0;rtptime=0\r\n";
        c.playing = c.videoChannel >= 0;
        c.due = nowMs();
    } else if (r.method == "TEARDOWN") {
        c.closeWhenFlushed = true;
    }
    (void)body;
    c.out += head + "\r\n";
}

void SimRtspServer::handleRequests(Client &c)
{
    for (;;) {
        if (!c.in.empty() && c.in[0] == '$') {
            if (c.in.size() < 4)
                return;
            size_t len = static_cast<uint8_t>(c.in[2]) << 8 | static_cast<uint8_t>(c.in[3]);
            if (c.in.size() < 4 + len)
                return;
            c.in.erase(0, 4 + len); // the client's RTCP
            continue;
        }
        size_t end = c.in.find("\r\n\r\n");
        if (end == std::string::npos)
            return;
        RtspRequest r;
        std::string head = c.in.substr(0, end + 2);
        size_t eol = head.find("\r\n");
        std::string first = head.substr(0, eol);
        size_t sp1 = first.find(' '), sp2 = first.rfind(' ');
        if (sp1 != std::string::npos && sp2 > sp1) {
            r.method = first.substr(0, sp1);
            r.url = first.substr(sp1 + 1, sp2 - sp1 - 1);
        }
        for (size_t at = eol + 2; at < head.size();) {
            size_t e = head.find("\r\n", at);
            std::string line = head.substr(at, e - at);
            size_t colon = line.find(':');
            if (colon != std::string::npos)
                r.headers[lowerCase(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
            at = e + 2;
        }
        size_t bodyLen = 0;
        auto cl = r.headers.find("content-length");
        if (cl != r.headers.end())
            bodyLen = static_cast<size_t>(std::stoul(cl->second));
        if (c.in.size() < end + 4 + bodyLen)
            return;
        std::string body = c.in.substr(end + 4, bodyLen);
        c.in.erase(0, end + 4 + bodyLen);
        requests_.push_back(r);
        answer(c, r, body);
    }
}

void SimRtspServer::produce(Client &c, long long now)
{
    const size_t highWater = 1u << 20;
    while (opt_.floodTexts && c.playing && c.out.size() < highWater)
        c.out += "RTSP/1.0 200 OK\r\nCSeq: 99\r\n\r\n";
    while (c.playing && !c.closeWhenFlushed && !stream_.empty() &&
           (opt_.frameIntervalMs > 0 ? now >= c.due : c.out.size() < highWater)) {
        const AccessUnit &au = stream_[c.frame];
        uint32_t ts = static_cast<uint32_t>((static_cast<size_t>(c.loop) * stream_.size() + c.frame) * 3000u);
        std::vector<std::string> payloads;
        std::vector<Nal> params;
        for (const Nal &nal : au) {
            int type = nal[0] & 0x1F;
            if (type == 7 || type == 8) {
                if (!opt_.paramsInBand)
                    continue;
                if (opt_.stapParams) {
                    params.push_back(nal);
                    continue;
                }
            }
            for (std::string &p : packetise(nal, opt_.maxPayload))
                payloads.push_back(std::move(p));
        }
        if (!params.empty())
            payloads.insert(payloads.begin(), stapA(params));
        for (size_t i = 0; i < payloads.size(); i++)
            c.out += interleaved(static_cast<uint8_t>(c.videoChannel),
                                 rtpPacket(96, c.seq++, ts, i + 1 == payloads.size(), payloads[i]));
        if (c.audioChannel >= 0)
            c.out += interleaved(static_cast<uint8_t>(c.audioChannel),
                                 rtpPacket(8, static_cast<uint16_t>(c.sent), ts / 11, true, std::string(160, '\xD5')));
        if (c.frame % 30 == 0) // a sender report's worth of RTCP on the odd channel
            c.out += interleaved(static_cast<uint8_t>(c.videoChannel + 1), std::string("\x80\xC8\x00\x06", 4) +
                                                                             std::string(24, '\x01'));
        c.sent++;
        framesSent_++;
        c.due += opt_.frameIntervalMs;
        if (++c.frame == stream_.size()) {
            c.frame = 0;
            if (opt_.loops >= 0 && ++c.loop >= opt_.loops)
                c.playing = false;
        }
        if (opt_.closeAfterFrames >= 0 && c.sent >= opt_.closeAfterFrames)
            c.closeWhenFlushed = true;
    }
}

void SimRtspServer::run()
{
    while (running_) {
        std::vector<pollfd> fds;
        {
            std::lock_guard<std::mutex> lock(mu_);
            long long now = nowMs();
            fds.push_back(pollfd{ listenFd_, POLLIN, 0 });
            for (auto &kv : clients_) {
                produce(kv.second, now);
                fds.push_back(pollfd{ kv.first, static_cast<short>(POLLIN | (kv.second.out.empty() ? 0 : POLLOUT)), 0 });
            }
        }
        poll(fds.data(), fds.size(), 1);
        std::lock_guard<std::mutex> lock(mu_);
        if (fds[0].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0)
                clients_[fd].fd = fd;
        }
        for (size_t i = 1; i < fds.size(); i++) {
            auto it = clients_.find(fds[i].fd);
            if (it == clients_.end())
                continue;
            Client &c = it->second;
            bool dead = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                ssize_t n = recv(c.fd, buf, sizeof buf, 0);
                if (n > 0) {
                    c.in.append(buf, static_cast<size_t>(n));
                    handleRequests(c);
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    dead = true;
                }
            }
            if (!dead && !c.out.empty() && (fds[i].revents & POLLOUT)) {
                ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    if (captured_.size() < opt_.captureBytes)
                        captured_ += c.out.substr(0, std::min<size_t>(static_cast<size_t>(n),
                                                                       opt_.captureBytes - captured_.size()));
                    c.out.erase(0, static_cast<size_t>(n));
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                    dead = true;
                }
            }
            if (dead || (c.closeWhenFlushed && c.out.empty())) {
                close(c.fd);
                clients_.erase(it);
            }
        }
    }
}

// ---- SimFlvServer ----
SimFlvServer::~SimFlvServer() { stop(); }

uint16_t SimFlvServer::start(const Options &options, uint16_t port)
{
    opt_ = options;
    listenFd_ = listenLoopback(port, &port_);
    if (listenFd_ < 0)
        return 0;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return port_;
}

void SimFlvServer::stop()
{
    if (running_.exchange(false))
        thread_.join();
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
}

std::vector<std::string> SimFlvServer::requests()
{
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

int SimFlvServer::openConnections()
{
    std::lock_guard<std::mutex> lock(mu_);
    return clients_;
}

void SimFlvServer::run()
{
    struct Client {
        int fd = -1;
        std::string in, out;
        bool answered = false;
        long long sent = 0;
        pid_t pid = -1;
        int source = -1;
        bool done = false;
    };
    std::map<int, Client> clients;
    auto drop = [&](std::map<int, Client>::iterator it) {
        if (it->second.source >= 0)
            close(it->second.source);
        reap(it->second.pid);
        close(it->first);
        return clients.erase(it);
    };
    while (running_) {
        std::vector<pollfd> fds{ pollfd{ listenFd_, POLLIN, 0 } };
        for (auto &kv : clients) {
            Client &c = kv.second;
            fds.push_back(pollfd{ c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0 });
            if (c.source >= 0 && c.out.size() < (1u << 20))
                fds.push_back(pollfd{ c.source, POLLIN, 0 });
        }
        poll(fds.data(), fds.size(), 2);
        if (fds[0].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                clients[fd].fd = fd;
                std::lock_guard<std::mutex> lock(mu_);
                clients_++;
            }
        }
        std::map<int, short> ready;
        for (size_t i = 1; i < fds.size(); i++)
            ready[fds[i].fd] = fds[i].revents;
        for (auto it = clients.begin(); it != clients.end();) {
            Client &c = it->second;
            bool dead = false;
            if (ready[c.fd] & (POLLIN | POLLHUP | POLLERR)) {
                char buf[4096];
                ssize_t n = recv(c.fd, buf, sizeof buf, 0);
                if (n > 0)
                    c.in.append(buf, static_cast<size_t>(n));
                else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    dead = true;
            }
            if (!c.answered && c.in.find("\r\n\r\n") != std::string::npos) {
                c.answered = true;
                {
                    std::lock_guard<std::mutex> lock(mu_);
                    requests_.push_back(c.in.substr(0, c.in.find("\r\n\r\n") + 4));
                }
                if (opt_.status != 200) {
                    c.out = "HTTP/1.1 " + std::to_string(opt_.status) + " Refused\r\nContent-Type: text/html\r\n"
                            "Content-Length: 5\r\n\r\nnope\n";
                    c.done = true;
                } else {
                    c.out = "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nConnection: close\r\n"
                            "Cache-Control: no-cache\r\n\r\n" + opt_.body;
                    if (!opt_.command.empty())
                        c.pid = spawn(opt_.command, &c.source, nullptr);
                    else
                        c.done = true;
                }
            }
            if (c.source >= 0 && (ready[c.source] & (POLLIN | POLLHUP))) {
                char buf[65536];
                ssize_t n = read(c.source, buf, sizeof buf);
                if (n > 0) {
                    c.out.append(buf, static_cast<size_t>(n));
                } else {
                    close(c.source);
                    c.source = -1;
                    c.done = true;
                }
            }
            if (!dead && !c.out.empty() && (ready[c.fd] & POLLOUT)) {
                size_t want = c.out.size();
                if (opt_.closeAfterBytes >= 0)
                    want = std::min<size_t>(want, static_cast<size_t>(std::max<long long>(0, opt_.closeAfterBytes - c.sent)));
                ssize_t n = want ? send(c.fd, c.out.data(), want, MSG_NOSIGNAL) : 0;
                if (n > 0) {
                    c.out.erase(0, static_cast<size_t>(n));
                    c.sent += n;
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                    dead = true;
                }
            }
            if (opt_.closeAfterBytes >= 0 && c.sent >= opt_.closeAfterBytes)
                dead = true;
            if (dead || (c.done && c.out.empty())) {
                it = drop(it);
                std::lock_guard<std::mutex> lock(mu_);
                clients_--;
            } else {
                ++it;
            }
        }
    }
    for (auto it = clients.begin(); it != clients.end();)
        it = drop(it);
    std::lock_guard<std::mutex> lock(mu_);
    clients_ = 0;
}

// ---- GstRtspServer ----
GstRtspServer::~GstRtspServer() { stop(); }

std::string GstRtspServer::start(int width, int height, const std::string &auth, const std::string &user,
                                 const std::string &pass)
{
    std::string script = std::string(SIMCAM_SOURCE_DIR) + "/gst_rtsp_server.py";
    std::string cmd = "exec /usr/bin/python3 " + script + " --width " + std::to_string(width) + " --height " +
                      std::to_string(height) + " --auth " + auth + " --user " + user + " --password " + pass;
    int out = -1;
    pid_ = spawn(cmd, &out, &stdin_);
    if (pid_ < 0)
        return "cannot start python3";
    std::string line;
    // Python and GStreamer take long to load on a busy machine.
    long long until = nowMs() + 60000;
    while (nowMs() < until && line.find('\n') == std::string::npos) {
        pollfd p{ out, POLLIN, 0 };
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        ssize_t n = read(out, buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out);
    port_ = static_cast<uint16_t>(atoi(line.c_str()));
    if (port_ == 0) {
        stop();
        return "GStreamer's RTSP server did not start (python3-gi, gir1.2-gst-rtsp-server-1.0, "
               "gstreamer1.0-plugins-ugly and -good are needed)";
    }
    return {};
}

void GstRtspServer::stop()
{
    if (stdin_ >= 0)
        close(stdin_);
    stdin_ = -1;
    reap(pid_);
    pid_ = -1;
}

} // namespace simcam
