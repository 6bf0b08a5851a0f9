// trovix_request round trips (median and 99th percentile of all round trips,
// 5,000 per caller: 1 caller, 8 callers of one command, 8 callers of a
// command each), the round trip of a request sent while another is on the
// wire beside one sent alone, round trips beside and after 10,000 requests
// of distinct commands that are never answered beside those before them,
// and media throughput of the framed protocol beside a plain TCP read loop,
// all on 127.0.0.1 against the simulated camera.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sdk.h"
#include "sim_camera.h"
#include "trovix.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Rig {
    simcam::SimCamera camera;
    int id = 0;
    Rig()
    {
        uint16_t port = camera.start();
        trovix_init("");
        std::string login = "{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                            ",\"login\":{\"username\":\"admin\",\"passwd\":\"pw\"}}";
        trovix_login(&id, login.c_str());
    }
    ~Rig()
    {
        trovix_quit();
        camera.stop();
    }
};

Rig &rig()
{
    static Rig r;
    return r;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Every caller's round trips go into one pool; the caller that finishes last
// reports the median and the 99th percentile of all of them (5,000 per
// caller: the 99th percentile of the 8 callers then rests on 400 samples).
std::mutex g_poolMutex;
std::vector<double> g_pool;
int g_finished = 0;

double roundTripMs(int id, const std::string &request, int *failures)
{
    auto t0 = Clock::now();
    char *reply = nullptr;
    if (trovix_request(id, request.c_str(), &reply) != 0)
        (*failures)++;
    trovix_free(reply);
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// state.range(0): 0 every caller asks the same command, 1 each its own (the
// library has one request of a command on the wire at a time).
void BM_RequestRoundTrip(benchmark::State &state)
{
    Rig &r = rig();
    if (state.thread_index() == 0) {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        g_pool.clear();
        g_finished = 0;
    }
    const std::string cmd = state.range(0) ? "get_c" + std::to_string(state.thread_index()) : "get_image";
    const std::string request = "{\"cmd\":\"" + cmd + "\",\"" + cmd + "\":{\"chnn\":0,\"idx\":0}}";
    std::vector<double> ms;
    ms.reserve(size_t(state.max_iterations));
    int failures = 0;
    for (auto _ : state)
        ms.push_back(roundTripMs(r.id, request, &failures));
    state.counters["failures"] = failures;
    std::lock_guard<std::mutex> lock(g_poolMutex);
    g_pool.insert(g_pool.end(), ms.begin(), ms.end());
    if (++g_finished == state.threads()) {
        // Counters of all callers are summed: only this one sets these.
        state.counters["median_ms"] = percentile(g_pool, 0.5);
        state.counters["p99_ms"] = percentile(g_pool, 0.99);
        state.counters["samples"] = double(g_pool.size());
    }
}
BENCHMARK(BM_RequestRoundTrip)->Arg(0)->Threads(1)->Threads(8)->UseRealTime()->Iterations(5000);
BENCHMARK(BM_RequestRoundTrip)->Name("BM_RequestRoundTripOwnCommands")->Arg(1)->Threads(8)->UseRealTime()->Iterations(5000);

// A get_y sent while a get_x is on the wire (the camera answers get_x after
// 20 ms, each in its own time), beside a get_y sent alone: what a held small
// write (Nagle's algorithm against a delayed acknowledgement) would cost.
void BM_RequestBesideOneOnTheWire(benchmark::State &state)
{
    Rig &r = rig();
    r.camera.setReplyChooser([](const std::string &text) {
        return simcam::Reply::answer({}, text.find("get_x") != std::string::npos ? 20 : 0).inOwnTime();
    });
    const std::string x = "{\"cmd\":\"get_x\"}", y = "{\"cmd\":\"get_y\"}";
    sdk_ctx *ctx = sdk_current();
    std::vector<double> alone, beside;
    int failures = 0;
    for (auto _ : state) {
        alone.push_back(roundTripMs(r.id, y, &failures));
        // Nobody waits for the get_x: its answer is dropped when it comes.
        sdk_submit(ctx, CMD_REQUEST, sdk_next_counter(ctx, &ctx->seq_counter), r.id, x.c_str(), 0);
        beside.push_back(roundTripMs(r.id, y, &failures));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    r.camera.setReplyChooser(nullptr);
    state.counters["alone_median_ms"] = percentile(alone, 0.5);
    state.counters["beside_median_ms"] = percentile(beside, 0.5);
    state.counters["beside_p99_ms"] = percentile(beside, 0.99);
    state.counters["failures"] = failures;
}
BENCHMARK(BM_RequestBesideOneOnTheWire)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kb;
            break;
        }
        status.ignore(1 << 12, '\n');
    }
    return kb;
}

// 10,000 requests of distinct commands that the camera never answers, whose
// callers are gone (as after their time-outs). A login holds at most 1,024
// requests: the rest fail at once. The round trips of another login to the
// same camera while the first holds them, and of the first once their answer
// time is over, beside those before them; what the floods leave resident.
void BM_RequestAfterNeverAnswered(benchmark::State &state)
{
    constexpr int kHeld = 1024, kFlood = 10000;
    Rig &r = rig();
    const std::string request = "{\"cmd\":\"get_image\",\"get_image\":{\"chnn\":0,\"idx\":0}}";
    int failures = 0;
    int besideId = 0;
    trovix_login(&besideId, ("{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(r.camera.port()) +
                             ",\"login\":{\"username\":\"admin\",\"passwd\":\"pw\"}}").c_str());
    for (auto _ : state) {
        std::vector<double> before, beside, after;
        for (int i = 0; i < 2000; i++)
            before.push_back(roundTripMs(r.id, request, &failures));
        r.camera.setReplyChooser([](const std::string &text) {
            return text.find("never_") != std::string::npos ? simcam::Reply::silent() : simcam::Reply::answer();
        });
        // Two floods: what the first leaves resident the second reuses.
        const long rssBefore = residentKb();
        long rssAfterFirst = 0;
        int failedAtOnce = 0;
        sdk_ctx *ctx = sdk_current();
        for (int flood = 0; flood < 2; flood++) {
            std::vector<int32_t> seqs;
            for (int i = 0; i < kFlood; i++) {
                const std::string text = "{\"cmd\":\"never_" + std::to_string(flood) + "_" + std::to_string(i) + "\"}";
                seqs.push_back(sdk_next_counter(ctx, &ctx->seq_counter));
                sdk_submit(ctx, CMD_REQUEST, seqs.back(), r.id, text.c_str(), 1);
            }
            for (int i = kHeld; i < kFlood; i++) {
                char *text = nullptr;
                failedAtOnce += sdk_wait(ctx, seqs[size_t(i)], r.id, &text, nullptr) == TROVIX_FAILED;
                trovix_free(text);
            }
            for (int i = 0; i < 1000; i++)
                beside.push_back(roundTripMs(besideId, request, &failures));
            // The flooded login takes requests again 11 s after it sent them.
            for (auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
                int refused = 0;
                roundTripMs(r.id, request, &refused);
                if (!refused)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            for (int i = 0; i < 1000; i++)
                after.push_back(roundTripMs(r.id, request, &failures));
            if (flood == 0)
                rssAfterFirst = residentKb();
        }
        state.counters["before_median_ms"] = percentile(before, 0.5);
        state.counters["beside_median_ms"] = percentile(beside, 0.5);
        state.counters["after_median_ms"] = percentile(after, 0.5);
        state.counters["after_p99_ms"] = percentile(after, 0.99);
        state.counters["failed_at_once"] = failedAtOnce;
        state.counters["first_flood_resident_kb"] = double(rssAfterFirst - rssBefore);
        state.counters["second_flood_resident_kb"] = double(residentKb() - rssAfterFirst);
        r.camera.setReplyChooser(nullptr);
    }
    trovix_logout(besideId);
    state.counters["failures"] = failures;
}
BENCHMARK(BM_RequestAfterNeverAnswered)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- media throughput ----
constexpr size_t kFrameBytes = 256 * 1024;
constexpr int kFramesPerBatch = 64;

std::atomic<long long> g_received{ 0 };
int countBytes(void *, int, int, int, int, int, qv_buf_md *md)
{
    g_received += md->buf.end - md->buf.start;
    return 0;
}

void BM_MediaThroughputFramed(benchmark::State &state)
{
    Rig &r = rig();
    std::string payload(kFrameBytes, '\x5a');
    std::string batch;
    for (int i = 0; i < kFramesPerBatch; i++)
        batch += simcam::nsppFrame(1, simcam::mediaBody(payload, 0, 0, i == 0 ? 1 : 2));
    trovix_md_add_listener("bench", countBytes, nullptr);
    const long long want = static_cast<long long>(kFrameBytes) * kFramesPerBatch;
    for (auto _ : state) {
        g_received = 0;
        r.camera.sendRaw(batch);
        while (g_received < want)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    trovix_md_remove_listener("bench");
    state.SetBytesProcessed(state.iterations() * want);
}
BENCHMARK(BM_MediaThroughputFramed)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same bytes through a bare TCP connection on loopback: the ceiling.
void BM_MediaThroughputPlainTcp(benchmark::State &state)
{
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(lfd, 1);
    socklen_t len = sizeof a;
    getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &len);
    int cfd = socket(AF_INET, SOCK_STREAM, 0);
    connect(cfd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    int sfd = accept(lfd, nullptr, nullptr);
    const size_t total = (kFrameBytes + 44) * kFramesPerBatch;
    std::string chunk(total, '\x5a');
    std::vector<char> buf(65536);
    for (auto _ : state) {
        std::thread sender([&] {
            size_t off = 0;
            while (off < total) {
                ssize_t n = send(sfd, chunk.data() + off, total - off, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                off += static_cast<size_t>(n);
            }
        });
        size_t got = 0;
        while (got < total) {
            ssize_t n = recv(cfd, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        sender.join();
    }
    close(cfd);
    close(sfd);
    close(lfd);
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(kFrameBytes) * kFramesPerBatch);
}
BENCHMARK(BM_MediaThroughputPlainTcp)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
