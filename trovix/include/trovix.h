/*
 * trovix: the network device library's exported interface.
 * Every function returns an integer code (0 success); texts the library hands
 * out are released with trovix_free.
 */
#ifndef TROVIX_H
#define TROVIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TROVIX_BUILD)
#define TROVIX_API __attribute__((visibility("default")))
#else
#define TROVIX_API
#endif

/* Output pixel formats of a decoder. 6: separate Y, U and V planes of 4:2:0. */
enum dec_pix_fmt {
    DEC_PIX_ARGB8888 = 1,
    DEC_PIX_RGB888 = 3,
    DEC_PIX_YUV420P_SEPARATE = 6,
    DEC_PIX_ABGR8888 = 41,
    DEC_PIX_BGR888 = 43,
    DEC_PIX_RGBA8888 = 45,
    DEC_PIX_BGRA8888 = 47,
};

/* One decoded picture, released with trovix_dec_free_md_data. */
typedef struct dec_frame {
    int32_t fmt;          /* enum dec_pix_fmt */
    int64_t pts;          /* microseconds, from the media head */
    int32_t width;
    int32_t height;
    uint8_t *data[3];     /* planes 1 and 2 only for DEC_PIX_YUV420P_SEPARATE */
    int32_t stride[3];    /* bytes per row */
    void *buf;            /* holds every plane; freed with the frame */
} dec_frame;

#ifdef __cplusplus
}
#endif

#endif
