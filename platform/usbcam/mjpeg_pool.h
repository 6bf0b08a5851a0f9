// MJPEG frames decoded on a small pool of threads and handed back in the
// order they came in. One 4K frame takes about as long to decode as a 30 fps
// camera takes to send it, so a 4K stream at 30 fps or more needs more than
// one core. Internal to the USB camera layer.
#pragma once

#include "backend.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace usbcam {

class MjpegDecodePool
{
public:
    enum class Fetch { Frame, NoFrame, Gone };
    // Copies the camera's next JPEG into `jpeg`, waiting at most `timeoutMs`
    // for it. Called on the pool's threads, one call at a time.
    using Source = std::function<Fetch(std::vector<uint8_t> &jpeg, int timeoutMs)>;

    // `threads` decoders for frames of width x height. Each thread fetches
    // the next frame from `source` whenever fewer than `threads` frames are
    // fetched and not yet taken, and decodes it: the threads keep working
    // while the caller is busy elsewhere, and a frame taken has at most
    // threads - 1 newer ones behind it.
    MjpegDecodePool(int threads, int width, int height, Source source);
    // Stops the threads: a fetch or a decode under way finishes first.
    ~MjpegDecodePool();
    MjpegDecodePool(const MjpegDecodePool &) = delete;
    MjpegDecodePool &operator=(const MjpegDecodePool &) = delete;

    enum class Result { Frame, Broken, Pending, Gone };
    // The oldest frame fetched, waiting at most `timeoutMs` for it: swapped
    // into `out` (Frame), dropped because it could not be decoded (Broken),
    // not there yet (Pending), or none any more because the source has gone.
    Result takeOldest(I420Frame &out, int timeoutMs);

private:
    enum class State { Free, Decoding, Decoded, Broken };
    struct Job {
        State state = State::Free;
        std::vector<uint8_t> jpeg;
        I420Frame frame;
    };

    void work();

    const int width_;
    const int height_;
    const Source source_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // A ring in fetch order: frames oldest_ .. nextSequence_ - 1 are in it.
    std::vector<Job> jobs_;
    uint64_t nextSequence_ = 0;
    uint64_t oldest_ = 0;
    bool fetching_ = false;
    bool sourceGone_ = false;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace usbcam
