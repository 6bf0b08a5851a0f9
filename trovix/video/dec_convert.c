/*
 * Conversion of decoded pictures into the decoder's output formats. The
 * common camera layouts (4:2:0 and 4:2:2, video or full range) into I420 are
 * done here directly; everything else goes through libswscale.
 */
#include "dec_convert.h"
#include "dec.h"

#include <stdlib.h>
#include <string.h>

#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>

static int round4(int v) { return (v + 3) & ~3; }

static dec_frame *frame_new(int pix_fmt, int width, int height, int64_t pts_us, size_t bytes)
{
    dec_frame *f = (dec_frame *)calloc(1, sizeof *f);
    if (!f)
        return NULL;
    /* Aligned for the SIMD loops of whoever reads the planes next. */
    f->buf = aligned_alloc(64, (bytes + 63) & ~(size_t)63);
    if (!f->buf) {
        free(f);
        return NULL;
    }
    f->fmt = pix_fmt;
    f->pts = pts_us;
    f->width = width;
    f->height = height;
    return f;
}

void dec_frame_free(dec_frame *frame)
{
    if (!frame)
        return;
    free(frame->buf);
    free(frame);
}

void dec_scaler_free(dec_scaler *scaler)
{
    sws_freeContext(scaler->sws);
    free(scaler->scratch);
    memset(scaler, 0, sizeof *scaler);
}

/* Room past the end of every row of the scratch picture: two of the widest
 * SIMD registers (AVX-512), the most a block that starts inside the row
 * reaches past it. Rows start 64-byte aligned, as libswscale's aligned loads
 * and stores want. */
#define SCRATCH_ROW_SLACK 128
#define SCRATCH_ALIGN 64

static int scratch_alloc(dec_scaler *scaler, enum AVPixelFormat dst, int width, int height)
{
    int tight[4] = { 0 };
    ptrdiff_t strides[4] = { 0 };
    size_t sizes[4] = { 0 }, total = 0;
    int i;
    if (av_image_fill_linesizes(tight, dst, width) < 0)
        return -1;
    for (i = 0; i < 4 && tight[i] > 0; i++)
        strides[i] = (tight[i] + SCRATCH_ROW_SLACK + SCRATCH_ALIGN - 1) & ~(SCRATCH_ALIGN - 1);
    if (av_image_fill_plane_sizes(sizes, dst, height, strides) < 0)
        return -1;
    for (i = 0; i < 4; i++)
        total += sizes[i];
    scaler->scratch = (uint8_t *)aligned_alloc(SCRATCH_ALIGN, total + SCRATCH_ALIGN);
    if (!scaler->scratch)
        return -1;
    for (i = 0; i < 4 && sizes[i]; i++) {
        scaler->planes[i] = i ? scaler->planes[i - 1] + sizes[i - 1] : scaler->scratch;
        scaler->strides[i] = (int)strides[i];
    }
    return 0;
}

static int is_full_range(const AVFrame *p)
{
    switch (p->format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return 1;
    default:
        return p->color_range == AVCOL_RANGE_JPEG;
    }
}

/* libswscale wants the plain twin of a YUVJ format with the range said
 * separately. */
static enum AVPixelFormat plain_format(int format)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return (enum AVPixelFormat)format;
    }
}

/* Full range to BT.601 video range in 8.8 fixed point: luma y x 219/255 + 16,
 * chroma (c - 128) x 224/255 + 128, rounded. Every step stays within 16
 * bits, so the loops below vectorise. */
static inline uint8_t luma_to_video(unsigned y) { return (uint8_t)((uint16_t)(y * 220u + 4224u) >> 8); }
static inline uint8_t chroma_to_video(unsigned c) { return (uint8_t)((uint16_t)(c * 225u + 4096u) >> 8); }

static void plane_copy(uint8_t *dst, int dst_stride, const uint8_t *src, int src_stride, int width, int rows)
{
    int r;
    for (r = 0; r < rows; r++)
        memcpy(dst + (size_t)r * dst_stride, src + (size_t)r * src_stride, (size_t)width);
}

static void plane_to_video(uint8_t *dst, int dst_stride, const uint8_t *src, int src_stride, int width, int rows,
                           int luma)
{
    int r, x;
    for (r = 0; r < rows; r++) {
        uint8_t *restrict d = dst + (size_t)r * dst_stride;
        const uint8_t *restrict s = src + (size_t)r * src_stride;
        if (luma) {
            for (x = 0; x < width; x++)
                d[x] = luma_to_video(s[x]);
        } else {
            for (x = 0; x < width; x++)
                d[x] = chroma_to_video(s[x]);
        }
    }
}

/* 4:2:2 chroma (full height) to 4:2:0: rows 2r and 2r + 1 are averaged; with
 * an odd height the last row stands alone. */
static void chroma_halve_rows(uint8_t *dst, int dst_stride, const uint8_t *src, int src_stride, int width,
                              int src_rows, int full)
{
    int r, x;
    for (r = 0; r < (src_rows + 1) / 2; r++) {
        const uint8_t *restrict a = src + (size_t)(2 * r) * src_stride;
        const uint8_t *restrict b = 2 * r + 1 < src_rows ? a + src_stride : a;
        uint8_t *restrict d = dst + (size_t)r * dst_stride;
        if (full) {
            for (x = 0; x < width; x++)
                d[x] = chroma_to_video((unsigned)(a[x] + b[x] + 1) >> 1);
        } else {
            for (x = 0; x < width; x++)
                d[x] = (uint8_t)((unsigned)(a[x] + b[x] + 1) >> 1);
        }
    }
}

/* The scaler for this picture into dst, made again only when the size or
 * layout changed; its colour details follow the picture. */
static struct SwsContext *scaler_for(dec_scaler *scaler, const AVFrame *p, enum AVPixelFormat dst, int dst_is_rgb)
{
    enum AVPixelFormat src = plain_format(p->format);
    int full = is_full_range(p), bt709 = p->colorspace == AVCOL_SPC_BT709;
    if (sws_isSupportedInput(src) <= 0 || sws_isSupportedOutput(dst) <= 0)
        return NULL;
    if (!scaler->sws || scaler->src != (int)src || scaler->width != p->width || scaler->height != p->height ||
        scaler->dst != (int)dst) {
        /* libswscale's fast path from 4:2:0 and 4:2:2 to ARGB and ABGR leaves
         * the last column of an odd width unwritten. */
        const int flags = SWS_BILINEAR | (p->width & 1 ? SWS_ACCURATE_RND : 0);
        dec_scaler_free(scaler);
        scaler->sws = sws_getContext(p->width, p->height, src, p->width, p->height, dst, flags, NULL, NULL, NULL);
        if (!scaler->sws || scratch_alloc(scaler, dst, p->width, p->height) != 0) {
            dec_scaler_free(scaler);
            return NULL;
        }
        scaler->src = (int)src;
        scaler->width = p->width;
        scaler->height = p->height;
        scaler->dst = (int)dst;
    }
    if (!scaler->configured || scaler->full_range != full || scaler->bt709 != bt709) {
        sws_setColorspaceDetails(scaler->sws, sws_getCoefficients(bt709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT), full,
                                 sws_getCoefficients(SWS_CS_DEFAULT), dst_is_rgb, 0, 1 << 16, 1 << 16);
        scaler->configured = 1;
        scaler->full_range = full;
        scaler->bt709 = bt709;
    }
    return scaler->sws;
}

/* The picture through libswscale into the scaler's scratch picture. */
static int scale(dec_scaler *scaler, const AVFrame *p, enum AVPixelFormat dst, int dst_is_rgb)
{
    struct SwsContext *sws = scaler_for(scaler, p, dst, dst_is_rgb);
    return sws && sws_scale(sws, (const uint8_t *const *)p->data, p->linesize, 0, p->height, scaler->planes,
                            scaler->strides) == p->height
               ? 0
               : -1;
}

static dec_frame *to_i420(dec_scaler *scaler, const AVFrame *p, int64_t pts_us)
{
    const int w = p->width, h = p->height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int stride_y = round4(w), stride_c = round4(cw);
    const int full = is_full_range(p);
    dec_frame *f = frame_new(DEC_PIX_YUV420P_SEPARATE, w, h, pts_us,
                             (size_t)stride_y * h + 2 * (size_t)stride_c * ch);
    int i;
    if (!f)
        return NULL;
    f->data[0] = (uint8_t *)f->buf;
    f->data[1] = f->data[0] + (size_t)stride_y * h;
    f->data[2] = f->data[1] + (size_t)stride_c * ch;
    f->stride[0] = stride_y;
    f->stride[1] = f->stride[2] = stride_c;

    switch (p->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        if (full)
            plane_to_video(f->data[0], stride_y, p->data[0], p->linesize[0], w, h, 1);
        else
            plane_copy(f->data[0], stride_y, p->data[0], p->linesize[0], w, h);
        for (i = 1; i <= 2; i++) {
            if (p->format == AV_PIX_FMT_YUV422P || p->format == AV_PIX_FMT_YUVJ422P)
                chroma_halve_rows(f->data[i], stride_c, p->data[i], p->linesize[i], cw, h, full);
            else if (full)
                plane_to_video(f->data[i], stride_c, p->data[i], p->linesize[i], cw, ch, 0);
            else
                plane_copy(f->data[i], stride_c, p->data[i], p->linesize[i], cw, ch);
        }
        return f;
    default:
        if (scale(scaler, p, AV_PIX_FMT_YUV420P, 0) != 0) {
            dec_frame_free(f);
            return NULL;
        }
        plane_copy(f->data[0], stride_y, scaler->planes[0], scaler->strides[0], w, h);
        for (i = 1; i <= 2; i++)
            plane_copy(f->data[i], stride_c, scaler->planes[i], scaler->strides[i], cw, ch);
        return f;
    }
}

static dec_frame *to_packed(dec_scaler *scaler, const AVFrame *p, int pix_fmt, enum AVPixelFormat dst,
                            int64_t pts_us)
{
    int linesize[4] = { 0 };
    int size = av_image_get_buffer_size(dst, p->width, p->height, 1);
    dec_frame *f;
    if (size <= 0 || av_image_fill_linesizes(linesize, dst, p->width) < 0 || scale(scaler, p, dst, 1) != 0)
        return NULL;
    if (!(f = frame_new(pix_fmt, p->width, p->height, pts_us, (size_t)size)))
        return NULL;
    f->data[0] = (uint8_t *)f->buf;
    f->stride[0] = linesize[0];
    plane_copy(f->data[0], linesize[0], scaler->planes[0], scaler->strides[0], linesize[0], p->height);
    return f;
}

dec_frame *dec_convert(dec_scaler *scaler, const AVFrame *picture, int pix_fmt, int64_t pts_us)
{
    if (!picture || picture->width <= 0 || picture->height <= 0 || !picture->data[0])
        return NULL;
    switch (pix_fmt) {
    case DEC_PIX_ARGB8888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_ARGB, pts_us);
    case DEC_PIX_RGB888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_RGB24, pts_us);
    case DEC_PIX_ABGR8888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_ABGR, pts_us);
    case DEC_PIX_BGR888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_BGR24, pts_us);
    case DEC_PIX_RGBA8888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_RGBA, pts_us);
    case DEC_PIX_BGRA8888: return to_packed(scaler, picture, pix_fmt, AV_PIX_FMT_BGRA, pts_us);
    default: return to_i420(scaler, picture, pts_us);
    }
}
