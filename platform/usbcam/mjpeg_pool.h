// MJPEG frames decoded on a small pool of threads and handed back in the
// order they came in. One 4K frame takes about as long to decode as a 30 fps
// camera takes to send it, so a 4K stream at 30 fps or more needs more than
// one core. Internal to the USB camera layer.
#pragma once

#include "backend.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace usbcam {

class MjpegDecodePool
{
public:
    // `threads` decoders for frames of width x height; as many frames as
    // threads are in flight at most, each with its own copy of the JPEG and
    // its own output planes.
    MjpegDecodePool(int threads, int width, int height);
    // Waits for the frames being decoded (one decode at most) and stops.
    ~MjpegDecodePool();
    MjpegDecodePool(const MjpegDecodePool &) = delete;
    MjpegDecodePool &operator=(const MjpegDecodePool &) = delete;

    int threads() const { return int(workers_.size()); }
    bool full() const;
    bool empty() const;
    // Copies one JPEG in; only when not full.
    void submit(const uint8_t *jpeg, size_t size);

    enum class Result { Frame, Broken, Pending };
    // The oldest frame submitted: swapped into `out` (Frame) once decoded,
    // dropped when it could not be decoded (Broken), or left in the pool when
    // `timeoutMs` passed first (Pending).
    Result takeOldest(I420Frame &out, int timeoutMs);

private:
    enum class State { Free, Queued, Decoding, Decoded, Broken };
    struct Job {
        State state = State::Free;
        uint64_t sequence = 0;
        std::vector<uint8_t> jpeg;
        I420Frame frame;
    };

    void work();

    const int width_;
    const int height_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::vector<Job> jobs_;
    uint64_t nextSequence_ = 0;  // of the next frame submitted
    uint64_t oldest_ = 0;        // of the next frame handed out
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace usbcam
