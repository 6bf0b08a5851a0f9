/*
 * dec_convert: a decoded picture (AVFrame) into a dec_frame of one of the
 * output formats of dec_pix_fmt.
 *
 * Separate planes (code 6) are I420 in BT.601 video range, whatever the
 * picture was: full-range pictures (JPEG's YUVJ formats, or any picture that
 * says so) are rescaled, 4:2:2 chroma is averaged down to 4:2:0, and any
 * other layout goes through libswscale. Odd sizes keep their last chroma row
 * and column: chroma planes are (width + 1) / 2 by (height + 1) / 2. Strides
 * are rounded up to a multiple of 4.
 *
 * The packed RGB formats go through libswscale (bilinear), taking the
 * picture's own range and colour matrix into account; their rows are tight
 * (width x bytes per pixel).
 */
#ifndef TROVIX_DEC_CONVERT_H
#define TROVIX_DEC_CONVERT_H

#include "trovix.h"

#ifdef __cplusplus
extern "C" {
#endif

struct AVFrame;
struct SwsContext;

/* The scaler a decoder reuses while the picture's size and layout stay,
 * with the picture it scales into: libswscale writes whole SIMD blocks past
 * the end of a row, so it never writes into a frame handed out; its rows are
 * copied out from here. */
typedef struct dec_scaler {
    struct SwsContext *sws;
    /* What sws was made for, and whether its colour details are set. */
    int src, width, height, dst;
    int configured, full_range, bt709;
    uint8_t *scratch;
    uint8_t *planes[4];
    int strides[4];
} dec_scaler;

/* Null when the picture is empty, in a layout that can't be converted, or
 * memory runs out. */
dec_frame *dec_convert(dec_scaler *scaler, const struct AVFrame *picture, int pix_fmt, int64_t pts_us);
void dec_scaler_free(dec_scaler *scaler);

#ifdef __cplusplus
}
#endif

#endif
