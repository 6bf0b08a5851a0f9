// Camera frames: an immutable planar YUV 4:2:0 buffer shared by reference.
// Copying a VideoFrame never copies pixels.
#pragma once

#include <QMetaType>

#include <cstddef>
#include <cstdint>
#include <memory>

// 64-byte (or any power-of-two) aligned blocks; none for size 0 or a bad alignment.
void *alignedAlloc(size_t size, size_t alignment);
void alignedFree(void *block);

class I420BufferInterface;

class VideoFrameBuffer
{
public:
    enum Type { Unknown = 0, I420 = 1 };

    virtual ~VideoFrameBuffer() = default;
    virtual int type() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual std::shared_ptr<I420BufferInterface> toI420() = 0;
    virtual I420BufferInterface *getI420() { return nullptr; }
};

class PlanarYuvBuffer : public VideoFrameBuffer
{
public:
    virtual int chromaWidth() const = 0;
    virtual int chromaHeight() const = 0;
    virtual int strideY() const = 0;
    virtual int strideU() const = 0;
    virtual int strideV() const = 0;
};

class PlanarYuv8Buffer : public PlanarYuvBuffer
{
public:
    virtual const uint8_t *dataY() const = 0;
    virtual const uint8_t *dataU() const = 0;
    virtual const uint8_t *dataV() const = 0;
};

class I420BufferInterface : public PlanarYuv8Buffer, public std::enable_shared_from_this<I420BufferInterface>
{
public:
    int type() const override { return I420; }
    std::shared_ptr<I420BufferInterface> toI420() override { return shared_from_this(); }
    I420BufferInterface *getI420() override { return this; }
    int chromaWidth() const override { return (width() + 1) / 2; }
    int chromaHeight() const override { return (height() + 1) / 2; }
};

// Y, U and V planes in one 64-byte-aligned block, tight strides.
class I420Buffer final : public I420BufferInterface
{
public:
    // Largest side accepted: far beyond any camera, small enough that the
    // plane sizes fit in 32 bits.
    static constexpr int kMaxSide = 16384;

    // A buffer of the given size, or null when the size is out of range or
    // memory runs out.
    static std::shared_ptr<I420Buffer> create(int width, int height);

    I420Buffer(int width, int height, uint8_t *block);
    ~I420Buffer() override;

    int width() const override { return width_; }
    int height() const override { return height_; }
    int strideY() const override { return strideY_; }
    int strideU() const override { return strideU_; }
    int strideV() const override { return strideV_; }
    const uint8_t *dataY() const override { return data_; }
    const uint8_t *dataU() const override { return data_ + size_t(strideY_) * height_; }
    const uint8_t *dataV() const override { return dataU() + size_t(strideU_) * chromaHeight(); }
    int totalSize() const { return size_; }

    // Writable planes, for the code that fills a new buffer.
    uint8_t *mutableDataY() { return data_; }
    uint8_t *mutableDataU() { return const_cast<uint8_t *>(dataU()); }
    uint8_t *mutableDataV() { return const_cast<uint8_t *>(dataV()); }

    static int blockSize(int width, int height);

private:
    int width_;
    int height_;
    int size_;
    int strideY_;
    int strideU_;
    int strideV_;
    uint8_t *data_;
};

class VideoFrame
{
public:
    VideoFrame() = default;
    VideoFrame(std::shared_ptr<VideoFrameBuffer> buffer, int32_t reserved1, int32_t reserved2)
        : buffer_(std::move(buffer)), reserved1_(reserved1), reserved2_(reserved2) {}

    void reset();
    int width() const { return buffer_ ? buffer_->width() : 0; }
    int height() const { return buffer_ ? buffer_->height() : 0; }
    int type() const { return buffer_ ? buffer_->type() : 0; }
    int size() const { return width() * height(); }
    std::shared_ptr<VideoFrameBuffer> buffer() const { return buffer_; }

private:
    std::shared_ptr<VideoFrameBuffer> buffer_;
    int32_t reserved1_ = 0;  // carried along, read by nobody
    int32_t reserved2_ = 0;
};

Q_DECLARE_METATYPE(VideoFrame)

// Registers VideoFrame for queued signals under the name "VideoFrame".
void registerVideoFrameMetaType();
