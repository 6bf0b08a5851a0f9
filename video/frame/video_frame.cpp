#include "video_frame.h"

#include <cstdlib>
#include <new>

void *alignedAlloc(size_t size, size_t alignment)
{
    if (size == 0 || alignment == 0 || (alignment & (alignment - 1)) != 0)
        return nullptr;
    if (size > SIZE_MAX - alignment - sizeof(void *))
        return nullptr;
    void *raw = std::malloc(size + alignment + sizeof(void *) - 1);
    if (!raw)
        return nullptr;
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(raw) + sizeof(void *) - 1 + alignment) & ~(alignment - 1);
    reinterpret_cast<void **>(aligned)[-1] = raw;
    return reinterpret_cast<void *>(aligned);
}

void alignedFree(void *block)
{
    if (block)
        std::free(static_cast<void **>(block)[-1]);
}

int I420Buffer::blockSize(int width, int height)
{
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    return width * height + chromaHeight * (chromaWidth * 2);
}

I420Buffer::I420Buffer(int width, int height, uint8_t *block)
    : width_(width), height_(height), size_(blockSize(width, height)), strideY_(width),
      strideU_((width + 1) / 2), strideV_((width + 1) / 2), data_(block)
{
}

I420Buffer::~I420Buffer()
{
    alignedFree(data_);
}

std::shared_ptr<I420Buffer> I420Buffer::create(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    auto *block = static_cast<uint8_t *>(alignedAlloc(size_t(blockSize(width, height)), 64));
    if (!block)
        return nullptr;
    try {
        return std::make_shared<I420Buffer>(width, height, block);
    } catch (const std::bad_alloc &) {
        alignedFree(block);
        return nullptr;
    }
}

void VideoFrame::reset()
{
    buffer_.reset();
    reserved1_ = 0;
    reserved2_ = 0;
}

void registerVideoFrameMetaType()
{
    qRegisterMetaType<VideoFrame>("VideoFrame");
}
