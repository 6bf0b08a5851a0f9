/*
 * USB capture layer: opens a USB camera's video stream by device path and
 * hands out planar 4:2:0 frames. Two backends stand behind these calls: V4L2
 * for real UVC cameras, and a virtual camera (VORENTA_VIRTUAL_CAMERA=1).
 */
#ifndef VORENTA_CAPTURE_H
#define VORENTA_CAPTURE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel-format codes of a frame record: 4 and 5 are planar YUV 4:2:0. */
enum { CAP_FORMAT_I420 = 4, CAP_FORMAT_YV12 = 5 };

/* One frame handed out by cap_read; zeroed by the caller before the call and
 * released with free_frame after the caller copied it. */
typedef struct cap_frame {
    uint8_t *y;          /* Y plane */
    uint8_t *u;          /* U plane */
    uint8_t *v;          /* V plane */
    void *priv;          /* owned by the capture layer */
    int32_t format;      /* CAP_FORMAT_* */
    int32_t width;
    int32_t height;
    int32_t stride_y;    /* bytes per row */
    int32_t stride_u;
    int32_t stride_v;
    int32_t reserved;
} cap_frame;

/* What the caller asks cap_open for. */
typedef struct cap_record {
    char device_path[128];  /* Latin-1, zero-terminated */
    int32_t resolution_code;
    int32_t pixel_format;
    int32_t capture_mode;   /* always 5 */
    int32_t buffer_size;
    void *priv;             /* the open stream; owned by the capture layer */
} cap_record;

int cap_open(cap_record *record);
int cap_read(cap_record *record, cap_frame *frame);
void free_frame(cap_frame *frame);
int cap_close(cap_record *record);

#ifdef __cplusplus
}
#endif

#endif
