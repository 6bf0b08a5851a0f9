#include "mjpeg_pool.h"

#include "convert.h"

#include <pthread.h>

#include <chrono>

namespace usbcam {

MjpegDecodePool::MjpegDecodePool(int threads, int width, int height)
    : width_(width), height_(height), jobs_(size_t(threads < 1 ? 1 : threads))
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
    queued_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
}

bool MjpegDecodePool::full() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nextSequence_ - oldest_ >= jobs_.size();
}

bool MjpegDecodePool::empty() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nextSequence_ == oldest_;
}

void MjpegDecodePool::submit(const uint8_t *jpeg, size_t size)
{
    Job *job;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (nextSequence_ - oldest_ >= jobs_.size())
            return;
        job = &jobs_[nextSequence_ % jobs_.size()];
    }
    // A free job belongs to the one thread that submits: copy outside the lock.
    job->jpeg.assign(jpeg, jpeg + size);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job->sequence = nextSequence_++;
        job->state = State::Queued;
    }
    queued_.notify_one();
}

MjpegDecodePool::Result MjpegDecodePool::takeOldest(I420Frame &out, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (nextSequence_ == oldest_)
        return Result::Pending;
    Job &job = jobs_[oldest_ % jobs_.size()];
    const auto settled = [&job] { return job.state == State::Decoded || job.state == State::Broken; };
    if (!finished_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0), settled))
        return Result::Pending;
    const Result result = job.state == State::Decoded ? Result::Frame : Result::Broken;
    if (result == Result::Frame) {
        // The planes change hands; the job decodes its next frame into the
        // caller's old buffer.
        std::swap(out.data, job.frame.data);
        out.width = width_;
        out.height = height_;
    }
    job.state = State::Free;
    ++oldest_;
    return result;
}

void MjpegDecodePool::work()
{
    MjpegDecoder decoder;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Job *next = nullptr;
        queued_.wait(lock, [&] {
            next = nullptr;
            for (Job &job : jobs_)
                if (job.state == State::Queued && (!next || job.sequence < next->sequence))
                    next = &job;
            return stopping_ || next;
        });
        if (stopping_)
            return;
        next->state = State::Decoding;
        lock.unlock();
        next->frame.resize(width_, height_);
        const bool decoded = decoder.decode(next->jpeg.data(), next->jpeg.size(), width_, height_, next->frame.y(),
                                            next->frame.u(), next->frame.v());
        lock.lock();
        next->state = decoded ? State::Decoded : State::Broken;
        finished_.notify_all();
    }
}

} // namespace usbcam
