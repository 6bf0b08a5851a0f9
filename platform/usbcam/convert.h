// Conversions of the formats UVC cameras deliver into tight I420 planes
// (Y of width x height, U and V of (width + 1) / 2 x (height + 1) / 2).
// Chroma is averaged where the source has more of it than 4:2:0 keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbcam {

// Packed 4:2:2 (Y0 U Y1 V). `width` must be even, as the format requires.
void yuyvToI420(const uint8_t *source, int sourceStride, int width, int height, uint8_t *y, uint8_t *u, uint8_t *v);

// Semi-planar 4:2:0: a Y plane, then one plane of interleaved U and V.
void nv12ToI420(const uint8_t *sourceY, int strideY, const uint8_t *sourceUV, int strideUV, int width, int height,
                uint8_t *y, uint8_t *u, uint8_t *v);

// Baseline JPEG (one MJPEG frame) straight into I420 planes, rescaled from
// JPEG's full range to video range like the other formats. Refuses (false)
// data that is not a JPEG, is cut short or corrupt, or whose size differs from
// the expected one; never writes past the planes of width x height.
class MjpegDecoder
{
public:
    MjpegDecoder();
    ~MjpegDecoder();
    MjpegDecoder(const MjpegDecoder &) = delete;
    MjpegDecoder &operator=(const MjpegDecoder &) = delete;

    bool decode(const uint8_t *jpeg, size_t size, int width, int height, uint8_t *y, uint8_t *u, uint8_t *v);
    // The size a JPEG header declares; false when the header is unreadable.
    bool peekSize(const uint8_t *jpeg, size_t size, int &width, int &height);
    const char *lastError() const;

private:
    bool decodePlanes(const uint8_t *jpeg, size_t size, int width, int height, uint8_t *y, uint8_t *u, uint8_t *v);

    void *handle_;
    std::vector<uint8_t> chroma_;
};

} // namespace usbcam
