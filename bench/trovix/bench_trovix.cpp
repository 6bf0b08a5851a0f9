// trovix_request round trips (median and 99th percentile of all round trips,
// 5,000 per caller, 1 and 8 callers)
// and media throughput of the framed protocol beside a plain TCP read loop,
// all on 127.0.0.1 against the simulated camera.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

void BM_RequestRoundTrip(benchmark::State &state)
{
    Rig &r = rig();
    if (state.thread_index() == 0) {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        g_pool.clear();
        g_finished = 0;
    }
    std::vector<double> ms;
    ms.reserve(size_t(state.max_iterations));
    int failures = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        char *reply = nullptr;
        if (trovix_request(r.id, "{\"cmd\":\"get_image\",\"get_image\":{\"chnn\":0,\"idx\":0}}", &reply) != 0)
            failures++;
        trovix_free(reply);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
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
BENCHMARK(BM_RequestRoundTrip)->Threads(1)->Threads(8)->UseRealTime()->Iterations(5000);

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
