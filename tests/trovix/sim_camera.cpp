#include "sim_camera.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace simcam {

static long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static long long nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
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

std::string discoveryAnswer(const std::string &sn, const std::string &model, uint16_t port)
{
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "sn", sn.c_str());
    cJSON *discover = cJSON_AddObjectToObject(root, "discover");
    cJSON_AddStringToObject(discover, "model", model.c_str());
    cJSON_AddNumberToObject(discover, "port", port);
    cJSON_AddStringToObject(discover, "protocol", "nspp");
    char *printed = cJSON_PrintUnformatted(root);
    std::string text = printed;
    cJSON_free(printed);
    cJSON_Delete(root);
    return text;
}

// ---- the network the camera would answer on ----
bool networkIsPrivate(std::string *why)
{
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        *why = "the network interfaces can't be listed";
        return false;
    }
    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    bool ok = send(fd, &request, sizeof request, 0) == ssize_t(sizeof request), done = false;
    if (!ok)
        *why = "the network interfaces can't be listed";
    std::vector<char> buffer(65536);
    while (ok && !done) {
        ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            *why = "the network interfaces can't be listed";
            ok = false;
            break;
        }
        int left = int(n);
        for (nlmsghdr *h = reinterpret_cast<nlmsghdr *>(buffer.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                *why = "the network interfaces can't be listed";
                ok = done = false;
                break;
            }
            if (h->nlmsg_type != RTM_NEWLINK)
                continue;
            auto *info = static_cast<ifinfomsg *>(NLMSG_DATA(h));
            int length = int(h->nlmsg_len) - int(NLMSG_LENGTH(sizeof *info));
            std::string name, kind;
            bool peerElsewhere = false;
            for (rtattr *a = IFLA_RTA(info); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
                if (a->rta_type == IFLA_IFNAME) {
                    name = static_cast<const char *>(RTA_DATA(a));
                } else if (a->rta_type == IFLA_LINK_NETNSID) {
                    peerElsewhere = true;
                } else if (a->rta_type == IFLA_LINKINFO) {
                    int nestedLength = int(RTA_PAYLOAD(a));
                    for (rtattr *b = static_cast<rtattr *>(RTA_DATA(a)); RTA_OK(b, nestedLength);
                         b = RTA_NEXT(b, nestedLength)) {
                        if (b->rta_type == IFLA_INFO_KIND)
                            kind = static_cast<const char *>(RTA_DATA(b));
                    }
                }
            }
            if ((info->ifi_flags & IFF_LOOPBACK) || kind == "dummy" || (kind == "veth" && !peerElsewhere))
                continue;
            if (ok)
                *why = "interface " + name + (kind.empty() ? "" : " (" + kind + ")") +
                       " may reach beyond this network namespace";
            ok = false;
        }
    }
    close(fd);
    return ok;
}

// ---- SimCamera ----
// The device state: one group of settings per getter. Setters change the
// members of their groups that the request names with the same JSON type.
static const char *const kInitialState = R"({
 "system": {"model": "E530_IPC", "sw_ver": "V5.1.0 sim", "hw_ver": "SIM-1"},
 "image": {"focus_mode": 1, "focus_value": 175, "ezoom_value": 0, "bright": 56, "contrast": 50,
           "saturation": 128, "hue": 50, "sharpness": 8, "range": {"ezoom_value": {"min": 0, "max": 174}}},
 "exposure": {"compensation": 56},
 "meexposure": {"expo_type": 0, "shuttertime": 150, "a_gain": 0,
                "range": {"shuttertime": {"min": 1, "max": 1000}, "a_gain": {"min": 0, "max": 100}}},
 "awb": {"awb": "auto"},
 "awb_gains": {"r": 628, "gb": 256, "b": 421},
 "mirror_flip": {"mirror": false, "flip": false},
 "flick": {"flick": false},
 "gamma": {"level": 1},
 "gamma_range": {"range": {"level": {"min": 0, "max": 10}}},
 "demist": {"demist": false},
 "roi": {"roi": false, "roi_x": 0, "roi_y": 0, "code": 0},
 "mode": {"mode": 0},
 "ipv4": {"dhcp": false, "ip": "10.253.0.1", "gateway": "10.253.0.254", "netmask": "255.255.255.0",
          "dns1": "", "dns2": ""},
 "stream": {"fmt": "mjpeg", "rc_mode": "vbr", "wh": "1920*1080", "quality": "high", "frame_rate": 30,
            "bitrate": 4096, "i_interval": 30}
})";

// The requests the camera knows. A new request is one more entry here (and
// its group in the state above).
const std::vector<SimCamera::Command> &SimCamera::commandTable()
{
    using C = SimCamera::Command;
    static const std::vector<C> table = {
        { "system", C::Get, { "system" }, nullptr },
        { "get_image", C::Get, { "image" }, nullptr },
        { "set_image", C::Set, { "image" }, nullptr },
        { "img_exposure", C::Get, { "exposure" }, nullptr },
        { "img_meexposure", C::Get, { "meexposure" }, nullptr },
        { "set_img_meexposure", C::Set, { "meexposure" }, nullptr },
        { "img_awb", C::Get, { "awb" }, nullptr },
        { "info_img_awb", C::Get, { "awb_gains" }, nullptr },
        { "set_img_awb", C::Set, { "awb", "awb_gains" }, nullptr },
        { "img_mirror_flip", C::Get, { "mirror_flip" }, nullptr },
        { "set_img_mirror_flip", C::Set, { "mirror_flip" }, nullptr },
        { "img_flick_hz", C::Get, { "flick" }, nullptr },
        { "set_img_flick_hz", C::Set, { "flick" }, nullptr },
        { "img_hdr_gamma", C::Get, { "gamma" }, nullptr },
        { "default_img_hdr_gamma", C::Get, { "gamma_range" }, nullptr },
        { "set_img_hdr_gamma", C::Set, { "gamma" }, nullptr },
        { "motor_demist", C::Get, { "demist" }, nullptr },
        { "set_motor_demist", C::Set, { "demist" }, nullptr },
        { "img_roi", C::Get, { "roi" }, nullptr },
        { "set_img_roi", C::Set, { "roi" }, nullptr },
        { "img_mode", C::Get, { "mode" }, nullptr },
        { "set_img_mode", C::Set, { "mode" }, &SimCamera::displayModeChanged },
        { "ipv4", C::Get, { "ipv4" }, nullptr },
        { "set_ipv4", C::Set, { "ipv4" }, nullptr },
        { "set_stream", C::Set, { "stream" }, &SimCamera::streamSettingsChanged },
        { "open_stream", C::Set, {}, &SimCamera::openStream },
    };
    return table;
}

const SimCamera::Command *SimCamera::findCommand(const std::string &name)
{
    for (const auto &c : commandTable()) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

SimCamera::SimCamera() : state_(cJSON_Parse(kInitialState)) {}
SimCamera::~SimCamera()
{
    stop();
    cJSON_Delete(state_);
}

uint16_t SimCamera::start(uint16_t port, const std::string &address)
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listenFd_, 64) != 0) {
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
    streamThread_ = std::thread([this] { stream(); });
    return port_;
}

void SimCamera::stop()
{
    if (running_.exchange(false)) {
        wake();
        {
            std::lock_guard<std::mutex> lock(mu_);
            streamWake_.notify_all();
        }
        thread_.join();
        streamThread_.join();
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

void SimCamera::setStandingReply(const Reply &r)
{
    std::lock_guard<std::mutex> lock(mu_);
    standing_ = r;
}

void SimCamera::setReplyChooser(std::function<Reply(const std::string &text)> choose)
{
    std::lock_guard<std::mutex> lock(mu_);
    chooser_ = std::move(choose);
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

void SimCamera::sendMedia(const std::string &payload, uint16_t key1, uint16_t key2, uint8_t frameKind,
                          uint8_t mediaType, int64_t ptsUs)
{
    uint64_t pts = static_cast<uint64_t>(ptsUs < 0 ? nowUs() : ptsUs);
    sendRaw(nsppFrame(1, mediaBody(payload, key1, key2, frameKind, mediaType, pts)));
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

int SimCamera::streamingClients()
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(),
                                          [](const auto &kv) { return kv.second.streaming; }));
}

std::string SimCamera::group(const std::string &name)
{
    std::lock_guard<std::mutex> lock(mu_);
    const cJSON *g = cJSON_GetObjectItemCaseSensitive(state_, name.c_str());
    if (!g)
        return {};
    char *printed = cJSON_PrintUnformatted(g);
    std::string text = printed;
    cJSON_free(printed);
    return text;
}

void SimCamera::setGroup(const std::string &name, const std::string &json)
{
    cJSON *values = cJSON_Parse(json.c_str());
    std::lock_guard<std::mutex> lock(mu_);
    cJSON *g = cJSON_GetObjectItemCaseSensitive(state_, name.c_str());
    if (!g)
        g = cJSON_AddObjectToObject(state_, name.c_str());
    for (const cJSON *item = values ? values->child : nullptr; item; item = item->next) {
        cJSON *copy = cJSON_Duplicate(item, 1);
        if (cJSON_GetObjectItemCaseSensitive(g, item->string))
            cJSON_ReplaceItemInObjectCaseSensitive(g, item->string, copy);
        else
            cJSON_AddItemToObject(g, item->string, copy);
    }
    cJSON_Delete(values);
    if (name == "stream")
        streamGeneration_++;
}

void SimCamera::setModel(const std::string &model)
{
    cJSON *values = cJSON_CreateObject();
    cJSON_AddStringToObject(values, "model", model.c_str());
    char *printed = cJSON_PrintUnformatted(values);
    setGroup("system", printed);
    cJSON_free(printed);
    cJSON_Delete(values);
}

void SimCamera::setJpegChroma422(bool on)
{
    std::lock_guard<std::mutex> lock(mu_);
    jpeg422_ = on;
    streamGeneration_++;
}

void SimCamera::setJpegMediaType(uint8_t type)
{
    std::lock_guard<std::mutex> lock(mu_);
    jpegMediaType_ = type;
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
// one, whatever their delays; one in its own time goes after its delay alone.
long long SimCamera::schedule(int fd, const std::string &bytes, int delayMs, bool ownTime)
{
    long long due = nowMs() + delayMs;
    if (!ownTime)
        lastDue_ = due = std::max(due, lastDue_);
    pending_.push_back(Pending{ due, fd, bytes });
    return due;
}

long long SimCamera::clockMs() { return nowMs(); }

std::vector<long long> SimCamera::answerTimes()
{
    std::lock_guard<std::mutex> lock(mu_);
    return answerTimes_;
}

static std::string print(cJSON *json)
{
    char *printed = cJSON_PrintUnformatted(json);
    std::string text = printed ? printed : "";
    cJSON_free(printed);
    return text;
}

// Copies the members of args into group where the group has a member of that
// name and JSON type.
static void mergeInto(cJSON *group, const cJSON *args)
{
    for (const cJSON *item = args ? args->child : nullptr; item; item = item->next) {
        const cJSON *held = cJSON_GetObjectItemCaseSensitive(group, item->string);
        const bool sameType = held && ((cJSON_IsNumber(held) && cJSON_IsNumber(item)) ||
                                       (cJSON_IsString(held) && cJSON_IsString(item)) ||
                                       (cJSON_IsBool(held) && cJSON_IsBool(item)));
        if (sameType)
            cJSON_ReplaceItemInObjectCaseSensitive(group, item->string, cJSON_Duplicate(item, 1));
    }
}

// The answer names the command and carries its object under the command's
// name, with "code" 0 there and at the top; the request comes back under
// "echo".
std::string SimCamera::answerCommand(const Command &command, Client &c, const cJSON *req)
{
    cJSON *out = cJSON_CreateObject();
    cJSON_AddStringToObject(out, "cmd", command.name);
    cJSON *body = nullptr;
    const cJSON *args = cJSON_GetObjectItemCaseSensitive(req, command.name);
    if (command.kind == Command::Get) {
        const cJSON *g = cJSON_GetObjectItemCaseSensitive(state_, command.groups[0]);
        body = g ? cJSON_Duplicate(g, 1) : cJSON_CreateObject();
    } else {
        for (const char *name : command.groups) {
            cJSON *g = cJSON_GetObjectItemCaseSensitive(state_, name);
            if (g && cJSON_IsObject(args))
                mergeInto(g, args);
        }
        body = cJSON_CreateObject();
    }
    cJSON_AddNumberToObject(body, "code", 0);
    cJSON_AddItemToObject(out, command.name, body);
    cJSON_AddNumberToObject(out, "code", 0);
    cJSON_AddItemToObject(out, "echo", cJSON_Duplicate(req, 1));
    if (command.after)
        (this->*command.after)(c, args);
    std::string text = print(out);
    cJSON_Delete(out);
    return text;
}

void SimCamera::handleText(Client &c, const std::string &text)
{
    received_.push_back(text);
    cJSON *req = cJSON_Parse(text.c_str());
    const cJSON *cmdItem = req ? cJSON_GetObjectItemCaseSensitive(req, "cmd") : nullptr;
    std::string cmd = cJSON_IsString(cmdItem) ? cmdItem->valuestring : "";
    Reply r = standing_;
    if (cmd == "login") {
        r = login_;
    } else if (cmd == "logout") {
        r = Reply::answer("{\"cmd\":\"logout\",\"code\":0}");
    } else if (!replies_.empty()) {
        r = replies_.front();
        replies_.pop_front();
    } else if (chooser_) {
        r = chooser_(text);
    }
    std::string answer;
    const bool counted = cmd != "login" && cmd != "logout";
    if (r.kind == Reply::Silent || r.kind == Reply::HangUp) {
        c.hangUp = r.kind == Reply::HangUp;
        if (counted)
            answerTimes_.push_back(-1);
        cJSON_Delete(req);
        return;
    }
    const std::string name = cmd.empty() ? "answer" : cmd;
    if (r.kind == Reply::Refuse) {
        cJSON *out = cJSON_CreateObject();
        cJSON_AddStringToObject(out, "cmd", cmd.c_str());
        cJSON_AddNumberToObject(out, "code", r.code);
        cJSON_AddNumberToObject(cJSON_AddObjectToObject(out, name.c_str()), "code", r.code);
        answer = print(out);
        cJSON_Delete(out);
    } else if (!r.json.empty()) {
        answer = r.json;
    } else if (cmd == "upgrade_packs") {
        answer = "{\"cmd\":\"upgrade_packs\",\"upgrade_packs\":{\"code\":0,\"packs\":" +
                 std::to_string(upgradeBlocks_ + upgradeSkew_) + ",\"bits\":" +
                 std::to_string(upgradeData_.size() + static_cast<size_t>(upgradeSkew_)) + "}}";
    } else if (cmd == "login") {
        answer = "{\"cmd\":\"login\",\"code\":0,\"login\":{\"qqssid\":\"S1\",\"qqauth\":\"A1\"}}";
    } else if (const Command *command = findCommand(cmd)) {
        answer = answerCommand(*command, c, req);
    } else {
        cJSON *out = cJSON_CreateObject();
        cJSON_AddStringToObject(out, "cmd", cmd.c_str());
        cJSON_AddNumberToObject(cJSON_AddObjectToObject(out, name.c_str()), "code", 0);
        if (req)
            cJSON_AddItemToObject(out, "echo", cJSON_Duplicate(req, 1));
        answer = print(out);
        cJSON_Delete(out);
    }
    cJSON_Delete(req);
    const long long due = schedule(c.fd, r.twice ? textFrame(answer) + textFrame(answer) : textFrame(answer), r.delayMs, r.ownTime);
    if (counted)
        answerTimes_.push_back(due);
    if (r.repeatMs >= 0) // out of turn: it holds back no later reply
        pending_.push_back(Pending{ nowMs() + r.repeatMs, c.fd, textFrame(answer) });
}

// ---- streaming ----
static int memberInt(const cJSON *object, const char *name, int fallback)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsNumber(item) ? item->valueint : fallback;
}

void SimCamera::openStream(Client &c, const cJSON *args)
{
    c.streaming = true;
    c.needKey = true;
    c.channel = uint16_t(memberInt(args, "chnn", 0));
    c.index = uint16_t(memberInt(args, "idx", 0));
    keyRequested_ = true;
    streamWake_.notify_all();
}

void SimCamera::streamSettingsChanged(Client &, const cJSON *) { streamGeneration_++; }

// Like the cameras with display modes, it picks its own contrast and gamma
// for the new mode: 60 and 1 for Default, 55 and 3 for Metallography.
void SimCamera::displayModeChanged(Client &, const cJSON *args)
{
    const int mode = memberInt(args, "mode", -1);
    if (mode != 0 && mode != 1)
        return;
    cJSON *image = cJSON_GetObjectItemCaseSensitive(state_, "image");
    cJSON *gamma = cJSON_GetObjectItemCaseSensitive(state_, "gamma");
    if (image)
        cJSON_ReplaceItemInObjectCaseSensitive(image, "contrast", cJSON_CreateNumber(mode == 0 ? 60 : 55));
    if (gamma)
        cJSON_ReplaceItemInObjectCaseSensitive(gamma, "level", cJSON_CreateNumber(mode == 0 ? 1 : 3));
}

namespace {

struct StreamSettings {
    bool h264 = false;
    int width = 1920, height = 1080, fps = 30, gop = 30;
};

StreamSettings streamSettings(const cJSON *group)
{
    StreamSettings s;
    const cJSON *fmt = cJSON_GetObjectItemCaseSensitive(group, "fmt");
    s.h264 = cJSON_IsString(fmt) && (strcasecmp(fmt->valuestring, "h264") == 0 || strcasecmp(fmt->valuestring, "h.264") == 0);
    const cJSON *wh = cJSON_GetObjectItemCaseSensitive(group, "wh");
    int w = 0, h = 0;
    if (cJSON_IsString(wh) && sscanf(wh->valuestring, "%d*%d", &w, &h) == 2) {
        s.width = std::clamp(w, 16, 8192);
        s.height = std::clamp(h, 16, 8192);
    }
    s.fps = std::clamp(memberInt(group, "frame_rate", 30), 1, 120);
    s.gop = std::clamp(memberInt(group, "i_interval", 30), 1, 600);
    if (s.h264) {
        // 4:2:0 H.264 has even sizes.
        s.width &= ~1;
        s.height &= ~1;
    }
    return s;
}

} // namespace

// Sends the test picture to every client that opened the stream, at the
// frame rate of the stream settings. A client that can't keep up loses
// pictures and, for H.264, waits for the next key frame.
void SimCamera::stream()
{
    constexpr size_t kMaxBacklog = 16u << 20;
    std::unique_ptr<PictureEncoder> encoder;
    StreamSettings settings;
    bool jpeg422 = true;
    uint8_t jpegType = kMediaMjpeg;
    int generation = -1, index = 0;
    Picture picture;
    auto next = std::chrono::steady_clock::now();
    while (running_) {
        bool forceKey;
        {
            std::unique_lock<std::mutex> lock(mu_);
            auto anyStreaming = [this] {
                return std::any_of(clients_.begin(), clients_.end(), [](const auto &kv) { return kv.second.streaming; });
            };
            if (!anyStreaming()) {
                streamWake_.wait_for(lock, std::chrono::milliseconds(50));
                next = std::chrono::steady_clock::now();
                continue;
            }
            if (generation != streamGeneration_ || !encoder) {
                generation = streamGeneration_;
                settings = streamSettings(cJSON_GetObjectItemCaseSensitive(state_, "stream"));
                jpeg422 = jpeg422_;
                encoder.reset();
                keyRequested_ = true;
                for (auto &kv : clients_)
                    kv.second.needKey = true;
            }
            jpegType = jpegMediaType_;
            forceKey = keyRequested_;
            keyRequested_ = false;
        }
        if (!encoder)
            encoder = settings.h264 ? makeH264Encoder(settings.width, settings.height, settings.fps, settings.gop)
                                    : makeJpegEncoder();
        drawTestPicture(picture, settings.width, settings.height, !settings.h264 && jpeg422, index++);
        bool key = false;
        const long long pts = nowUs();
        const std::string data = encoder ? encoder->encode(picture, forceKey, &key) : std::string();
        if (!data.empty()) {
            std::lock_guard<std::mutex> lock(mu_);
            for (auto &kv : clients_) {
                Client &c = kv.second;
                if (!c.streaming || (c.needKey && !key))
                    continue;
                if (c.out.size() > kMaxBacklog) {
                    c.needKey = true;
                    keyRequested_ = true;
                    continue;
                }
                c.needKey = false;
                c.out += nsppFrame(1, mediaBody(data, c.channel, c.index, key ? 1 : 2,
                                                settings.h264 ? kMediaH264 : jpegType, uint64_t(pts)));
                picturesSent_++;
            }
        }
        wake();
        next += std::chrono::microseconds(1000000 / settings.fps);
        const auto now = std::chrono::steady_clock::now();
        if (next < now - std::chrono::milliseconds(100))
            next = now; // fell far behind: don't try to catch up
        std::unique_lock<std::mutex> lock(mu_);
        streamWake_.wait_until(lock, next, [this] { return !running_; });
    }
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
            // Whatever is due goes, in the order it was scheduled.
            for (auto p = pending_.begin(); p != pending_.end();) {
                if (p->due > now) {
                    ++p;
                    continue;
                }
                auto it = clients_.find(p->fd);
                if (it != clients_.end())
                    it->second.out += p->bytes;
                p = pending_.erase(p);
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
                // Each answer goes out as it is written, so that what a test
                // or benchmark times is the library's, not this end's Nagle.
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
                    dead = c.hangUp;
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
