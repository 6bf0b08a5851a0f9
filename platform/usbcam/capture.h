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
    int32_t buffer_size;    /* bytes of one frame of the negotiated format; cap_open
                               writes the real value back */
    void *priv;             /* the open stream; owned by the capture layer */
    /* Added on Linux: the exact size, rate and stream format asked for.
     * resolution_code cannot tell 1920x1080 from any unlisted size, and
     * pixel_format cannot tell MJPEG from YUYV. A width or height of 0 falls
     * back to resolution_code. cap_open writes the negotiated size back. */
    int32_t width;
    int32_t height;
    int32_t fps;            /* frames per second; 0 = 30 */
    int32_t stream_format;  /* preferred: 0 MJPEG, 1 NV12, 2 YUYV */
} cap_record;

/* Results of the cap_* calls. */
enum { CAP_OK = 0, CAP_ERROR = -1, CAP_NO_FRAME = -2, CAP_GONE = -3 };

/* Opens the stream the record describes (device path as the probe reported
 * it). Negative on failure; the record is then left closed. */
int cap_open(cap_record *record);
/* Waits at most about 30 ms for the next frame and fills `frame` with tight
 * I420 planes (CAP_FORMAT_I420). Negative when no frame came: CAP_NO_FRAME for
 * a timeout or a frame that could not be decoded, CAP_GONE once the device
 * has vanished (every later read fails the same way), CAP_ERROR for a closed
 * record. Never blocks longer than that, never crashes on bad data. */
int cap_read(cap_record *record, cap_frame *frame);
/* Releases what cap_read put into the frame; safe on a zeroed record and
 * after cap_close of the stream the frame came from. */
void free_frame(cap_frame *frame);
/* Stops the stream and releases the device. Negative for a record that is not
 * open. */
int cap_close(cap_record *record);

#ifdef __cplusplus
}
#endif

#endif
