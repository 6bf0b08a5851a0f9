#include "mjpeg_pool.h"

#include "convert.h"

#include <pthread.h>

#include <chrono>

namespace usbcam {
namespace {

// How long one fetch waits for the camera: short, so that stopping the pool
// never waits long.
constexpr int kFetchWaitMs = 20;

} // namespace

MjpegDecodePool::MjpegDecodePool(int threads, int width, int height, Source source)
    : width_(width), height_(height), source_(std::move(source)), jobs_(size_t(threads < 1 ? 1 : threads))
{
    for (size_t i = 0; i < jobs_.size(); ++i) {
        workers_.emplace_back([this] { work(); });
        pthread_setname_np(workers_.back().native_handle(), "mjpeg decode");
    }
}

MjpegDecodePool::~MjpegDecodePool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
}

MjpegDecodePool::Result MjpegDecodePool::takeOldest(I420Frame &out, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    Job &job = jobs_[oldest_ % jobs_.size()];
    const auto ready = [&] {
        return sourceGone_
               || (oldest_ != nextSequence_ && (job.state == State::Decoded || job.state == State::Broken));
    };
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0), ready))
        return Result::Pending;
    if (sourceGone_)
        return Result::Gone;
    const Result result = job.state == State::Decoded ? Result::Frame : Result::Broken;
    if (result == Result::Frame) {
        // The planes change hands; the job decodes a later frame into the
        // caller's old buffer.
        std::swap(out.data, job.frame.data);
        out.width = width_;
        out.height = height_;
    }
    job.state = State::Free;
    ++oldest_;
    changed_.notify_all();
    return result;
}

void MjpegDecodePool::work()
{
    MjpegDecoder decoder;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return stopping_ || sourceGone_ || (!fetching_ && nextSequence_ - oldest_ < jobs_.size());
        });
        if (stopping_ || sourceGone_)
            return;
        // The next slot of the ring is free while fewer than all are in use;
        // only the fetching thread touches it until it is numbered.
        Job &job = jobs_[nextSequence_ % jobs_.size()];
        fetching_ = true;
        lock.unlock();
        const Fetch fetched = source_(job.jpeg, kFetchWaitMs);
        lock.lock();
        fetching_ = false;
        if (fetched != Fetch::Frame) {
            sourceGone_ = sourceGone_ || fetched == Fetch::Gone;
            changed_.notify_all();
            continue;
        }
        job.state = State::Decoding;
        ++nextSequence_;
        changed_.notify_all();  // the next fetch may start
        lock.unlock();
        job.frame.resize(width_, height_);
        const bool decoded =
            decoder.decode(job.jpeg.data(), job.jpeg.size(), width_, height_, job.frame.y(), job.frame.u(), job.frame.v());
        lock.lock();
        job.state = decoded ? State::Decoded : State::Broken;
        changed_.notify_all();
    }
}

} // namespace usbcam
