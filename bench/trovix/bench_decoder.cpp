// Decoder throughput: 1080p H.264 and MJPEG pictures per second through
// trovix_dec_* (the simulated camera sends each picture over the framed
// protocol on 127.0.0.1, the decoder's one thread decodes it, I420 comes out
// of trovix_dec_get_md_data), beside the ffmpeg command line decoding the same
// stream to null on one thread, in the same run. Target: at least 0.9x.
//
// Live latency: a 1080p30 H.264 camera paced in real time; the time from the
// camera sending a picture to the caller taking it out, in ms and in frames.
// Target: under 2 frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sim_camera.h"
#include "trovix.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stream {
    std::string dir;
    std::string path;
    std::vector<std::string> pictures;
    bool h264 = false;
    // The stream file serves every benchmark of the run; it goes at exit.
    ~Stream()
    {
        if (!path.empty())
            std::remove(path.c_str());
        if (!dir.empty())
            rmdir(dir.c_str());
    }
};

// Camera-like 1080p streams made by the ffmpeg command line: H.264 without
// B-frames, one key frame a second; MJPEG with 4:2:2 chroma.
const Stream &stream(bool h264)
{
    static Stream streams[2];
    Stream &s = streams[h264 ? 1 : 0];
    if (!s.dir.empty())
        return s; // made already (or it failed once)
    char dir[] = "/tmp/vorenta_bench_dec_XXXXXX";
    if (!mkdtemp(dir))
        return s;
    s.h264 = h264;
    s.dir = dir;
    s.path = s.dir + (h264 ? "/stream.h264" : "/stream.mjpeg");
    const std::string source = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 ";
    const std::string command =
        h264 ? source + "-frames:v 600 -pix_fmt yuv420p -c:v libx264 -preset veryfast -g 30 -bf 0 -b:v 8M -f h264 " + s.path
             : source + "-frames:v 300 -pix_fmt yuvj422p -c:v mjpeg -q:v 4 -f mjpeg " + s.path;
    if (std::system(command.c_str()) != 0)
        return s;
    const std::string bytes = simcam::readFile(s.path);
    s.pictures = h264 ? simcam::splitAccessUnits(bytes) : simcam::splitJpegStream(bytes);
    return s;
}

struct Rig {
    simcam::SimCamera camera;
    int id = 0;
    bool ok = false;
    Rig()
    {
        uint16_t port = camera.start();
        trovix_init("");
        std::string login = "{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                            ",\"login\":{\"username\":\"admin\",\"passwd\":\"730418\"}}";
        ok = port && trovix_login(&id, login.c_str()) == 0 && trovix_dec_open(100, nullptr) == 0 &&
             trovix_dec_bind(100, id, 0, 0, 0) == 0;
    }
    ~Rig()
    {
        trovix_dec_close(100);
        trovix_quit();
        camera.stop();
    }
    void send(const Stream &s, size_t i, int64_t ptsUs)
    {
        const std::string &p = s.pictures[i % s.pictures.size()];
        uint8_t kind = !s.h264 || simcam::accessUnitIsKey(p) ? 1 : 2;
        camera.sendMedia(p, 0, 0, kind, s.h264 ? simcam::kMediaH264 : simcam::kMediaMjpeg, ptsUs);
    }
    // Takes one picture, waiting at most ms; false on time-out.
    bool take(int ms, int *width = nullptr)
    {
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            dec_frame *f = nullptr;
            if (trovix_dec_get_md_data(100, &f) == 0) {
                if (width)
                    *width = f->width;
                trovix_dec_free_md_data(f);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
};

bool ready(benchmark::State &state, const Stream &s, const Rig *rig)
{
    if (s.pictures.empty())
        state.SkipWithError("the ffmpeg command line (with libx264) is needed");
    else if (rig && !rig->ok)
        state.SkipWithError("the library did not start");
    else
        return true;
    return false;
}

void decoderFps(benchmark::State &state)
{
    const Stream &s = stream(state.range(0) != 0);
    Rig rig;
    if (!ready(state, s, &rig))
        return;
    const size_t count = s.pictures.size();
    // A few pictures in flight keep the decoder busy without piling up.
    constexpr size_t kWindow = 3;
    double seconds = 0;
    size_t lost = 0;
    for (auto _ : state) {
        // Time stamps 0: no pacing, every picture is due at once.
        const auto start = Clock::now();
        size_t sent = 0, taken = 0;
        while (sent < std::min(kWindow, count))
            rig.send(s, sent++, 0);
        while (taken < count) {
            int width = 0;
            if (!rig.take(2000, &width))
                break;
            ++taken;
            lost += width != 1920;
            if (sent < count)
                rig.send(s, sent++, 0);
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        lost += count - taken;
    }
    if (lost)
        state.SkipWithError("pictures lost");
    state.counters["fps"] = double(count) * double(state.iterations()) / seconds;
}

void commandLineFps(benchmark::State &state)
{
    const Stream &s = stream(state.range(0) != 0);
    if (!ready(state, s, nullptr))
        return;
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 " +
                                std::string(s.h264 ? "-f h264" : "-f mjpeg") + " -i " + s.path + " -f null -";
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    state.counters["fps"] = double(s.pictures.size()) * double(state.iterations()) / seconds;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// A 1080p30 camera in real time: pictures sent every 33.3 ms stamped with the
// moment they were sent; the caller asks for a picture every millisecond.
void liveLatency(benchmark::State &state)
{
    const Stream &s = stream(true);
    Rig rig;
    if (!ready(state, s, &rig))
        return;
    const auto frame = std::chrono::microseconds(33333);
    std::vector<double> latencies;
    for (auto _ : state) {
        auto next = Clock::now();
        size_t sent = 0;
        const size_t count = 300;
        while (sent < count || Clock::now() < next) {
            if (sent < count && Clock::now() >= next) {
                rig.send(s, sent++, std::chrono::duration_cast<std::chrono::microseconds>(
                                        Clock::now().time_since_epoch()).count());
                next += frame;
            }
            dec_frame *f = nullptr;
            if (trovix_dec_get_md_data(100, &f) == 0) {
                const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                    Clock::now().time_since_epoch()).count();
                latencies.push_back(double(now - f->pts) / 1000.0);
                trovix_dec_free_md_data(f);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        rig.take(500);
    }
    state.counters["median_ms"] = percentile(latencies, 0.5);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["median_frames"] = percentile(latencies, 0.5) / 33.333;
    state.counters["p99_frames"] = percentile(latencies, 0.99) / 33.333;
    state.counters["pictures"] = double(latencies.size());
}

} // namespace

BENCHMARK(decoderFps)->Name("trovix_dec_H264/1080p")->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(commandLineFps)->Name("ffmpeg_cli_H264/1080p")->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(decoderFps)->Name("trovix_dec_MJPEG/1080p")->Arg(0)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(commandLineFps)->Name("ffmpeg_cli_MJPEG/1080p")->Arg(0)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(liveLatency)->Name("trovix_dec_live_latency/1080p30")->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
