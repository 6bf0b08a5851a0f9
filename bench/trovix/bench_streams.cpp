// The RTSP receive path (socket -> access units -> a media listener, the
// decoder's input) at 1080p and 4K: CPU time per frame of the library beside
// the ffmpeg command line reading the same stream from the same server
// (-rtsp_transport tcp ... -c copy -f null -), in the same run. Each is
// measured on a short and a long run of the stream, so that start-up, login
// and probing drop out of the time per frame.
//
// The server (the simulated camera, sending as fast as the connection takes
// it) runs in a child process, so only the receiver's CPU is counted.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_stream.h"
#include "trovix.h"

namespace {

double cpuSeconds(const rusage &r)
{
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

// A server child that serves `loops` passes over the stream to one client,
// then closes. Returns its pid; the port through *port.
pid_t serve(const std::vector<simcam::AccessUnit> &stream, int loops, uint16_t *port)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        simcam::SimRtspServer server;
        simcam::SimRtspServer::Options o;
        o.frameIntervalMs = 0;
        o.loops = loops;
        o.closeAfterFrames = static_cast<int>(stream.size()) * loops;
        o.maxPayload = 1400;
        uint16_t p = server.start(stream, o);
        ssize_t n = write(fds[1], &p, sizeof p);
        close(fds[1]);
        if (n != sizeof p)
            _exit(1);
        // Until the client has had everything (or a minute has passed).
        for (int i = 0; i < 6000; i++) {
            if (server.framesSent() >= o.closeAfterFrames && server.openConnections() == 0)
                break;
            usleep(10000);
        }
        server.stop();
        _exit(0);
    }
    close(fds[1]);
    ssize_t n = read(fds[0], port, sizeof *port);
    close(fds[0]);
    return n == sizeof *port ? pid : -1;
}

std::atomic<int> g_units{ 0 };
std::atomic<long long> g_bytes{ 0 };

int countUnit(void *, int, int, int, int, int, qv_buf_md *md)
{
    g_bytes += md->buf.end - md->buf.start;
    g_units++;
    return 0;
}

// CPU seconds of this process (the library's threads) from the login until
// every access unit of `loops` passes but the last (which no later time
// stamp pushes out) has reached the listener; negative when they did not.
double libraryCpu(const std::vector<simcam::AccessUnit> &stream, int loops)
{
    const int total = static_cast<int>(stream.size()) * loops;
    uint16_t port = 0;
    pid_t server = serve(stream, loops, &port);
    if (server < 0 || trovix_init("") != 0 || trovix_md_add_listener("bench", countUnit, nullptr) != 0)
        return -1;
    g_units = 0;
    g_bytes = 0;
    std::string login = "{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                        ",\"protocol\":\"rtsp\",\"path\":\"/live\",\"login\":{\"username\":\"admin\","
                        "\"passwd\":\"x\"}}";
    double before = selfCpu();
    int id = 0;
    trovix_login(&id, login.c_str());
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (g_units < total - 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double used = selfCpu() - before;
    int got = g_units;
    trovix_logout(id);
    trovix_quit();
    int status = 0;
    waitpid(server, &status, 0);
    return got < total - 1 ? -1 : used;
}

// CPU seconds of the ffmpeg command line reading `loops` passes of the same
// stream from the same server.
double commandLineCpu(const std::vector<simcam::AccessUnit> &stream, int loops)
{
    uint16_t port = 0;
    pid_t server = serve(stream, loops, &port);
    if (server < 0)
        return -1;
    std::string cmd = "exec ffmpeg -nostdin -v error -rtsp_transport tcp -i rtsp://127.0.0.1:" +
                      std::to_string(port) + "/live -c copy -f null -";
    pid_t ff = fork();
    if (ff == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(ff, &status, 0, &ru);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    waitpid(server, &status, 0);
    return ok ? cpuSeconds(ru) : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Both are measured on a short and a long run of the same stream: start-up,
// login or probing cost the same in both, so the CPU per frame is the
// difference over the difference of frames.
void receivePath(benchmark::State &state, int width, int height, int kbps, int frames, int loops)
{
    const auto stream = simcam::accessUnits(simcam::ffmpegH264(width, height, frames, 30, kbps));
    if (static_cast<int>(stream.size()) != frames) {
        state.SkipWithError("the ffmpeg command line made no stream");
        return;
    }
    const int shortLoops = std::max(1, loops / 10);
    const double extraFrames = static_cast<double>(frames) * (loops - shortLoops);
    // Three pairs of runs each; the median of each length, so that one
    // disturbed run does not decide the difference.
    std::vector<double> oursShort, oursLong, theirsShort, theirsLong;
    for (auto _ : state) {
        for (int pair = 0; pair < 3; ++pair) {
            oursShort.push_back(libraryCpu(stream, shortLoops));
            oursLong.push_back(libraryCpu(stream, loops));
            theirsShort.push_back(commandLineCpu(stream, shortLoops));
            theirsLong.push_back(commandLineCpu(stream, loops));
            if (oursShort.back() < 0 || oursLong.back() < 0) {
                state.SkipWithError("not every access unit arrived");
                return;
            }
            if (theirsShort.back() < 0 || theirsLong.back() < 0) {
                state.SkipWithError("the ffmpeg command line failed");
                return;
            }
        }
    }
    const double oursPerFrame = (median(oursLong) - median(oursShort)) / extraFrames;
    const double ffmpegPerFrame = (median(theirsLong) - median(theirsShort)) / extraFrames;
    const double ffmpegStartup = median(theirsShort) - ffmpegPerFrame * frames * shortLoops;
    state.counters["library_cpu_us_per_frame"] = oursPerFrame * 1e6;
    state.counters["ffmpeg_cpu_us_per_frame"] = ffmpegPerFrame * 1e6;
    state.counters["ffmpeg_startup_cpu_ms"] = ffmpegStartup * 1e3;
    state.counters["ratio_to_ffmpeg"] = ffmpegPerFrame > 0 ? oursPerFrame / ffmpegPerFrame : 0;
    state.counters["MB_per_frame"] = static_cast<double>(g_bytes) / 1e6 / std::max(1, g_units.load());
}

// Bit rates of such cameras: 8 Mbit/s at 1080p30, 24 Mbit/s at 4K30.
void BM_RtspReceive1080p(benchmark::State &state) { receivePath(state, 1920, 1080, 8000, 60, 20); }
void BM_RtspReceive4K(benchmark::State &state) { receivePath(state, 3840, 2160, 24000, 30, 30); }

} // namespace

BENCHMARK(BM_RtspReceive1080p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RtspReceive4K)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
