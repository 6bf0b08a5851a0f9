#include "sim_camera.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace simcam {

static long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void put32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

static void put16(std::string &s, uint16_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}

static uint32_t get32(const std::string &s, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

std::string nsppHeader(uint32_t kind, uint32_t length, uint32_t klass, uint32_t sub, uint32_t magic, uint32_t version)
{
    std::string h;
    put32(h, (magic & 0xFFFFFF) | (version & 0xF) << 24 | (klass & 0xF) << 28);
    put32(h, (length & 0xFFFFFF) | (kind & 0xF) << 24);
    put32(h, (sub & 0xFFFF) << 16);
    return h;
}

std::string nsppFrame(uint32_t kind, const std::string &body, uint32_t klass, uint32_t sub)
{
    return nsppHeader(kind, static_cast<uint32_t>(body.size()), klass, sub) + body;
}

std::string textFrame(const std::string &json) { return nsppFrame(2, json); }
std::string heartbeatFrame() { return nsppHeader(0xE, 0); }

std::string mediaBody(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind, uint8_t mediaType,
                      uint64_t ptsUs)
{
    std::string m;
    put16(m, 0x0120);
    m.push_back(static_cast<char>(mediaType));
    m.push_back(static_cast<char>(frameKind));
    put32(m, static_cast<uint32_t>(payload.size()));
    m.append(8, '\0');
    put32(m, static_cast<uint32_t>(ptsUs));
    put32(m, static_cast<uint32_t>(ptsUs >> 32));
    put16(m, key1);
    put16(m, key2);
    m.append(4, '\0');
    return m + payload;
}

const std::string &tinyJpeg()
{
    static const std::string jpeg = [] {
        unsigned char pixels[16 * 16];
        for (int i = 0; i < 256; i++)
            pixels[i] = static_cast<unsigned char>(i);
        tjhandle h = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long size = 0;
        std::string result;
        if (h && tjCompress2(h, pixels, 16, 16, 16, TJPF_GRAY, &out, &size, TJSAMP_GRAY, 80, 0) == 0)
            result.assign(reinterpret_cast<char *>(out), size);
        tjFree(out);
        if (h)
            tjDestroy(h);
        return result;
    }();
    return jpeg;
}

uint32_t h1(const std::string &bytes)
{
    uint32_t a = 312737325u, h = 934013177u;
    for (char ch : bytes) {
        uint32_t t = (static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(ch))) * 7152373u) ^ a;
        t += h;
        h = a;
        a = static_cast<int32_t>(t) >= 0 ? t : t - 2147483647u;
    }
    return a;
}

std::string bcastFrame(int type, const std::string &body, uint8_t randomByte)
{
    std::string b = type >= 2 ? body : std::string();
    std::string f;
    put32(f, 0x01FA5A5F);
    put32(f, static_cast<uint32_t>(20 + b.size()) | (type >= 2 ? 2u : 0u) << 24);
    put32(f, 0);
    f.push_back(static_cast<char>(type));
    f.append(3, '\0');
    put32(f, 2u * h1(f.substr(0, 16)));
    f += b;
    std::string tr;
    put32(tr, 0);
    put32(tr, 0xF5A5AF00u | randomByte);
    put32(tr, 2u * h1(tr));
    return f + tr;
}

// ---- SimCamera ----
SimCamera::SimCamera() = default;
SimCamera::~SimCamera() { stop(); }

uint16_t SimCamera::start(uint16_t port)
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listenFd_, 64) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return 0;
    }
    socklen_t len = sizeof a;
    getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (pipe2(wakeFd_, O_NONBLOCK | O_CLOEXEC) != 0)
        return 0;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return port_;
}

void SimCamera::stop()
{
    if (running_.exchange(false)) {
        wake();
        thread_.join();
    }
    for (auto &kv : clients_)
        close(kv.first);
    clients_.clear();
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
    for (int &fd : wakeFd_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void SimCamera::wake()
{
    if (wakeFd_[1] >= 0) {
        char c = 1;
        ssize_t n = write(wakeFd_[1], &c, 1);
        (void)n;
    }
}

void SimCamera::setLoginReply(const Reply &r)
{
    std::lock_guard<std::mutex> lock(mu_);
    login_ = r;
}

void SimCamera::queueReply(const Reply &r)
{
    std::lock_guard<std::mutex> lock(mu_);
    replies_.push_back(r);
}

void SimCamera::setHeartbeatMs(int ms)
{
    std::lock_guard<std::mutex> lock(mu_);
    heartbeatMs_ = ms;
}

void SimCamera::broadcast(const std::string &bytes)
{
    for (auto &kv : clients_)
        kv.second.out += bytes;
}

void SimCamera::sendText(const std::string &json)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        broadcast(textFrame(json));
    }
    wake();
}

void SimCamera::sendRaw(const std::string &bytes)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        broadcast(bytes);
    }
    wake();
}

void SimCamera::sendRawSplit(const std::string &bytes, size_t chunk, int gapMs)
{
    std::lock_guard<std::mutex> lock(mu_);
    long long due = nowMs();
    for (auto &kv : clients_) {
        long long at = due;
        for (size_t i = 0; i < bytes.size(); i += chunk) {
            at += gapMs;
            pending_.push_back(Pending{ at, kv.first, bytes.substr(i, chunk) });
        }
        lastDue_ = std::max(lastDue_, at);
    }
}

void SimCamera::sendMedia(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind, uint8_t mediaType)
{
    sendRaw(nsppFrame(1, mediaBody(payload, key1, key2, frameKind, mediaType, static_cast<uint64_t>(nowMs()) * 1000)));
}

void SimCamera::closeClients()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        closeAll_ = true;
    }
    wake();
}

std::string SimCamera::upgradeData()
{
    std::lock_guard<std::mutex> lock(mu_);
    return upgradeData_;
}

int SimCamera::upgradeBlocks()
{
    std::lock_guard<std::mutex> lock(mu_);
    return upgradeBlocks_;
}

void SimCamera::setUpgradeCountSkew(int skew)
{
    std::lock_guard<std::mutex> lock(mu_);
    upgradeSkew_ = skew;
}

std::vector<std::string> SimCamera::received()
{
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
}

std::vector<std::string> SimCamera::commands()
{
    std::vector<std::string> out;
    for (const std::string &text : received()) {
        cJSON *j = cJSON_Parse(text.c_str());
        const cJSON *cmd = j ? cJSON_GetObjectItemCaseSensitive(j, "cmd") : nullptr;
        out.push_back(cJSON_IsString(cmd) ? cmd->valuestring : "");
        cJSON_Delete(j);
    }
    return out;
}

int SimCamera::openConnections()
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(clients_.size());
}

bool SimCamera::waitFor(const std::function<bool()> &cond, int ms)
{
    long long until = nowMs() + ms;
    while (nowMs() < until) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return cond();
}

// Replies go out in request order: a later reply never overtakes an earlier
// one, whatever their delays.
void SimCamera::schedule(int fd, const std::string &bytes, int delayMs)
{
    long long due = std::max(nowMs() + delayMs, lastDue_);
    lastDue_ = due;
    pending_.push_back(Pending{ due, fd, bytes });
}

void SimCamera::handleText(Client &c, const std::string &text)
{
    received_.push_back(text);
    cJSON *req = cJSON_Parse(text.c_str());
    const cJSON *cmdItem = req ? cJSON_GetObjectItemCaseSensitive(req, "cmd") : nullptr;
    std::string cmd = cJSON_IsString(cmdItem) ? cmdItem->valuestring : "";
    Reply r;
    if (cmd == "login") {
        r = login_;
    } else if (cmd == "logout") {
        r = Reply::answer("{\"cmd\":\"logout\",\"code\":0}");
    } else if (!replies_.empty()) {
        r = replies_.front();
        replies_.pop_front();
    }
    std::string answer;
    if (r.kind == Reply::Silent) {
        cJSON_Delete(req);
        return;
    }
    if (r.kind == Reply::Refuse) {
        answer = "{\"cmd\":\"" + cmd + "\",\"code\":" + std::to_string(r.code) + "}";
    } else if (!r.json.empty()) {
        answer = r.json;
    } else if (cmd == "upgrade_packs") {
        answer = "{\"cmd\":\"upgrade_packs\",\"upgrade_packs\":{\"code\":0,\"packs\":" +
                 std::to_string(upgradeBlocks_ + upgradeSkew_) + ",\"bits\":" +
                 std::to_string(upgradeData_.size() + static_cast<size_t>(upgradeSkew_)) + "}}";
    } else if (cmd == "login") {
        answer = "{\"cmd\":\"login\",\"code\":0,\"login\":{\"qqssid\":\"S1\",\"qqauth\":\"A1\"}}";
    } else {
        cJSON *out = cJSON_CreateObject();
        cJSON_AddStringToObject(out, "cmd", cmd.c_str());
        cJSON *inner = cJSON_AddObjectToObject(out, cmd.empty() ? "answer" : cmd.c_str());
        cJSON_AddNumberToObject(inner, "code", 0);
        if (req)
            cJSON_AddItemToObject(out, "echo", cJSON_Duplicate(req, 1));
        char *printed = cJSON_PrintUnformatted(out);
        answer = printed;
        cJSON_free(printed);
        cJSON_Delete(out);
    }
    cJSON_Delete(req);
    schedule(c.fd, textFrame(answer), r.delayMs);
}

void SimCamera::handleInput(Client &c)
{
    while (c.in.size() >= 12) {
        uint32_t w0 = get32(c.in, 0), w1 = get32(c.in, 4);
        uint32_t len = w1 & 0xFFFFFF, kind = (w1 >> 24) & 0xF;
        if ((w0 & 0xFFFFFF) != 0xFA5A5F) {
            badFrames_++;
            c.in.clear();
            return;
        }
        if (c.in.size() < 12 + len)
            return;
        uint32_t sub = get32(c.in, 8) >> 16;
        std::string body = c.in.substr(12, len);
        c.in.erase(0, 12 + len);
        if (kind == 0xE) {
            heartbeats_++;
        } else if (kind == 2) {
            handleText(c, body);
        } else if (kind == 1 && sub == 1) {
            upgradeData_ += body;
            upgradeBlocks_++;
        }
    }
}

void SimCamera::run()
{
    while (running_) {
        std::vector<pollfd> fds;
        {
            std::lock_guard<std::mutex> lock(mu_);
            long long now = nowMs();
            if (closeAll_) {
                for (auto &kv : clients_)
                    close(kv.first);
                clients_.clear();
                pending_.clear();
                closeAll_ = false;
            }
            while (!pending_.empty() && pending_.front().due <= now) {
                auto it = clients_.find(pending_.front().fd);
                if (it != clients_.end())
                    it->second.out += pending_.front().bytes;
                pending_.pop_front();
            }
            if (heartbeatMs_ > 0 && now - lastHeartbeat_ >= heartbeatMs_) {
                lastHeartbeat_ = now;
                broadcast(heartbeatFrame());
            }
            fds.push_back(pollfd{ listenFd_, POLLIN, 0 });
            fds.push_back(pollfd{ wakeFd_[0], POLLIN, 0 });
            for (auto &kv : clients_)
                fds.push_back(pollfd{ kv.first, static_cast<short>(POLLIN | (kv.second.out.empty() ? 0 : POLLOUT)), 0 });
        }
        poll(fds.data(), fds.size(), 2);
        std::lock_guard<std::mutex> lock(mu_);
        if (fds[1].revents & POLLIN) {
            char buf[64];
            while (read(wakeFd_[0], buf, sizeof buf) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                clients_[fd].fd = fd;
                accepted_++;
            }
        }
        for (size_t i = 2; i < fds.size(); i++) {
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
                    handleInput(c);
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    dead = true;
                }
            }
            if (!dead && (fds[i].revents & POLLOUT) && !c.out.empty()) {
                ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0)
                    c.out.erase(0, static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    dead = true;
            }
            if (dead) {
                close(c.fd);
                clients_.erase(it);
            }
        }
    }
}

// ---- SimDiscovery ----
SimDiscovery::~SimDiscovery() { stop(); }

bool SimDiscovery::start(uint16_t port, const std::string &respond)
{
    respond_ = respond;
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SimDiscovery::stop()
{
    if (running_.exchange(false))
        thread_.join();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

std::vector<std::string> SimDiscovery::messages()
{
    std::lock_guard<std::mutex> lock(mu_);
    return messages_;
}

void SimDiscovery::run()
{
    while (running_) {
        pollfd p{ fd_, POLLIN, 0 };
        if (poll(&p, 1, 5) <= 0)
            continue;
        char buf[1500];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 32)
            continue;
        std::string d(buf, static_cast<size_t>(n));
        if (get32(d, 0) != 0x01FA5A5F)
            continue;
        int type = static_cast<uint8_t>(d[12]);
        uint32_t total = (get32(d, 4) & 0xFFFFFF) + 12;
        if (total > d.size())
            continue;
        if (type == 1) {
            discovers_++;
            // Answered by broadcast, as a camera does: the asker may share
            // this port, and a unicast answer could land on our own socket.
            std::string answer = bcastFrame(2, respond_);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            to.sin_port = from.sin_port;
            sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        } else if (type == 3) {
            std::lock_guard<std::mutex> lock(mu_);
            messages_.push_back(d.substr(20, total - 32));
        }
    }
}

} // namespace simcam
