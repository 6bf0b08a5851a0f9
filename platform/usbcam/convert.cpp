#include "convert.h"

#include <turbojpeg.h>

#include <cstring>

namespace usbcam {

namespace {

// JPEG (JFIF) samples use the full 0..255 range; the rest of the program, like
// every other camera format, takes BT.601 video range (Y 16..235, chroma
// 16..240). Fixed point in 16-bit lanes: the high half of (sample x 256) x
// scale, then the offset and rounding, so that the loops vectorise to one
// multiply-high per 8 or 16 samples (4K frames: about 1 ms instead of 2).
inline uint8_t videoRangeLuma(uint8_t sample)
{
    // x 219/255 + 16, rounded
    const uint16_t scaled = uint16_t((uint32_t(uint16_t(sample << 8)) * 56284u) >> 16);
    return uint8_t((scaled + (16u << 8) + 128u) >> 8);
}

inline uint8_t videoRangeChroma(uint8_t sample)
{
    // 128 + (c - 128) x 224/255, rounded
    const uint16_t scaled = uint16_t((uint32_t(uint16_t(sample << 8)) * 57570u) >> 16);
    return uint8_t((scaled + 4112u) >> 8);
}

void lumaToVideoRange(uint8_t *plane, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        plane[i] = videoRangeLuma(plane[i]);
}

void chromaToVideoRange(uint8_t *plane, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        plane[i] = videoRangeChroma(plane[i]);
}

} // namespace

void yuyvToI420(const uint8_t *source, int sourceStride, int width, int height, uint8_t *y, uint8_t *u, uint8_t *v)
{
    const int chromaWidth = width / 2;
    for (int row = 0; row < height; row += 2) {
        const uint8_t *top = source + size_t(sourceStride) * row;
        // An odd last row pairs with itself.
        const uint8_t *bottom = row + 1 < height ? top + sourceStride : top;
        uint8_t *yTop = y + size_t(width) * row;
        uint8_t *yBottom = row + 1 < height ? yTop + width : nullptr;
        uint8_t *uRow = u + size_t(chromaWidth) * (row / 2);
        uint8_t *vRow = v + size_t(chromaWidth) * (row / 2);
        for (int x = 0; x < chromaWidth; ++x) {
            const uint8_t *a = top + 4 * x;
            const uint8_t *b = bottom + 4 * x;
            yTop[2 * x] = a[0];
            yTop[2 * x + 1] = a[2];
            uRow[x] = uint8_t((a[1] + b[1] + 1) >> 1);
            vRow[x] = uint8_t((a[3] + b[3] + 1) >> 1);
        }
        if (yBottom) {
            for (int x = 0; x < chromaWidth; ++x) {
                yBottom[2 * x] = bottom[4 * x];
                yBottom[2 * x + 1] = bottom[4 * x + 2];
            }
        }
    }
}

void nv12ToI420(const uint8_t *sourceY, int strideY, const uint8_t *sourceUV, int strideUV, int width, int height,
                uint8_t *y, uint8_t *u, uint8_t *v)
{
    if (strideY == width) {
        std::memcpy(y, sourceY, size_t(width) * height);
    } else {
        for (int row = 0; row < height; ++row)
            std::memcpy(y + size_t(width) * row, sourceY + size_t(strideY) * row, size_t(width));
    }
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (int row = 0; row < chromaHeight; ++row) {
        const uint8_t *in = sourceUV + size_t(strideUV) * row;
        uint8_t *uRow = u + size_t(chromaWidth) * row;
        uint8_t *vRow = v + size_t(chromaWidth) * row;
        for (int x = 0; x < chromaWidth; ++x) {
            uRow[x] = in[2 * x];
            vRow[x] = in[2 * x + 1];
        }
    }
}

MjpegDecoder::MjpegDecoder() : handle_(tjInitDecompress()) {}

MjpegDecoder::~MjpegDecoder()
{
    if (handle_)
        tjDestroy(static_cast<tjhandle>(handle_));
}

bool MjpegDecoder::peekSize(const uint8_t *jpeg, size_t size, int &width, int &height)
{
    if (!handle_ || !jpeg || size < 4 || size > 0x7fffffff)
        return false;
    int subsampling = 0, colorspace = 0;
    return tjDecompressHeader3(static_cast<tjhandle>(handle_), jpeg, static_cast<unsigned long>(size), &width,
                               &height, &subsampling, &colorspace) == 0;
}

const char *MjpegDecoder::lastError() const
{
    return handle_ ? tjGetErrorStr2(static_cast<tjhandle>(handle_)) : "no decoder";
}

bool MjpegDecoder::decode(const uint8_t *jpeg, size_t size, int width, int height, uint8_t *y, uint8_t *u,
                          uint8_t *v)
{
    if (!decodePlanes(jpeg, size, width, height, y, u, v)) {
        // A damaged stream can leave tables behind in the decompressor that
        // spoil the next good frame: start the next one on a fresh decoder.
        if (handle_)
            tjDestroy(static_cast<tjhandle>(handle_));
        handle_ = tjInitDecompress();
        return false;
    }
    lumaToVideoRange(y, size_t(width) * height);
    return true;
}

bool MjpegDecoder::decodePlanes(const uint8_t *jpeg, size_t size, int width, int height, uint8_t *y, uint8_t *u,
                                uint8_t *v)
{
    tjhandle handle = static_cast<tjhandle>(handle_);
    // A JPEG starts with SOI (FF D8); checking it first keeps the decoder from
    // scanning garbage for a header.
    if (!handle || !jpeg || size < 4 || size > 0x7fffffff || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return false;
    int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg, static_cast<unsigned long>(size), &jpegWidth, &jpegHeight, &subsampling,
                            &colorspace) != 0)
        return false;
    if (jpegWidth != width || jpegHeight != height)
        return false;
    if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY)
        return false;

    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    // Cut-short frames (a USB packet lost) end with a warning: refuse them
    // rather than show a half-grey picture.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_FASTDCT;

    if (subsampling == TJSAMP_420) {
        unsigned char *planes[3] = {y, u, v};
        int strides[3] = {width, chromaWidth, chromaWidth};
        if (tjDecompressToYUVPlanes(handle, jpeg, static_cast<unsigned long>(size), planes, width, strides, height,
                                    flags) != 0)
            return false;
        chromaToVideoRange(u, size_t(chromaWidth) * chromaHeight);
        chromaToVideoRange(v, size_t(chromaWidth) * chromaHeight);
        return true;
    }
    if (subsampling == TJSAMP_GRAY) {
        unsigned char *planes[3] = {y, nullptr, nullptr};
        int strides[3] = {width, 0, 0};
        if (tjDecompressToYUVPlanes(handle, jpeg, static_cast<unsigned long>(size), planes, width, strides, height,
                                    flags) != 0)
            return false;
        // Neutral chroma is 128 in either range.
        std::memset(u, 128, size_t(chromaWidth) * chromaHeight);
        std::memset(v, 128, size_t(chromaWidth) * chromaHeight);
        return true;
    }

    // Other subsamplings (4:2:2 is what most UVC cameras send): decode the
    // chroma at its own size, then box-filter it down to 4:2:0.
    const int planeWidth = tjPlaneWidth(1, width, subsampling);
    const int planeHeight = tjPlaneHeight(1, height, subsampling);
    if (planeWidth <= 0 || planeHeight <= 0)
        return false;
    const size_t planeSize = size_t(planeWidth) * planeHeight;
    if (chroma_.size() < 2 * planeSize)
        chroma_.resize(2 * planeSize);
    unsigned char *planes[3] = {y, chroma_.data(), chroma_.data() + planeSize};
    int strides[3] = {width, planeWidth, planeWidth};
    if (tjDecompressToYUVPlanes(handle, jpeg, static_cast<unsigned long>(size), planes, width, strides, height,
                                flags) != 0)
        return false;

    // The chroma reaches video range in the same pass.
    if (planeWidth == chromaWidth && planeHeight >= 2 * chromaHeight - 1) {
        // 4:2:2: average each pair of rows.
        for (int plane = 0; plane < 2; ++plane) {
            const uint8_t *in = planes[1 + plane];
            uint8_t *out = plane == 0 ? u : v;
            for (int row = 0; row < chromaHeight; ++row) {
                const uint8_t *a = in + size_t(planeWidth) * (2 * row);
                const uint8_t *b = 2 * row + 1 < planeHeight ? a + planeWidth : a;
                uint8_t *o = out + size_t(chromaWidth) * row;
                for (int x = 0; x < chromaWidth; ++x)
                    o[x] = videoRangeChroma(uint8_t((a[x] + b[x] + 1) >> 1));
            }
        }
        return true;
    }
    // Anything else (4:4:4, 4:4:0, 4:1:1): nearest sample of the chroma plane.
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t *in = planes[1 + plane];
        uint8_t *out = plane == 0 ? u : v;
        for (int row = 0; row < chromaHeight; ++row) {
            const int sourceRow = int(int64_t(row) * planeHeight / chromaHeight);
            const uint8_t *a = in + size_t(planeWidth) * sourceRow;
            uint8_t *o = out + size_t(chromaWidth) * row;
            for (int x = 0; x < chromaWidth; ++x)
                o[x] = videoRangeChroma(a[int64_t(x) * planeWidth / chromaWidth]);
        }
    }
    return true;
}

} // namespace usbcam
