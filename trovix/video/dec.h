/*
 * dec: the video decoder behind trovix_dec_*.
 *
 * One "ffdec h26x" thread per decoder takes the media records its stream
 * listener feeds it (MJPEG or H.264 pictures, one picture per record),
 * decodes them with libavcodec, converts each picture into the output format
 * chosen at open and queues it. Callers take pictures through a pacing step
 * that releases them in step with their time stamps.
 *
 * Queues stay bounded: the thread stops decoding while 4 pictures wait, and
 * a trim after every pass cuts both queues when the caller falls behind.
 */
#ifndef TROVIX_DEC_H
#define TROVIX_DEC_H

#include "qv_net.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Media types of the media head that name a picture codec. 26 is the RTP
 * payload type of JPEG (RFC 3551). */
#define MEDIA_TYPE_H264 2
#define MEDIA_TYPE_MJPEG 26

enum { DEC_CODEC_NONE = 0, DEC_CODEC_MJPEG = 1, DEC_CODEC_H264 = 2 };

/* The decoded pictures that may wait before the thread stops decoding. */
#define DEC_MAX_DECODED 4

/* The largest picture decoded, in pixels: a network camera sends at most
 * 4000 x 3000. libavcodec checks a picture with its width rounded up to its
 * row alignment (and H.264 in whole macroblocks), hence the margin. A larger
 * picture is refused before memory is taken for it. */
#define DEC_MAX_PIXELS (4096 * 3072)

/* The codec of a media record. A payload that starts with JPEG's
 * start-of-image marker is MJPEG whatever its type says (cameras may label
 * MJPEG with the framed protocol's only defined type); otherwise type 2 is
 * H.264, type 26 MJPEG, and an unknown type is told by its first bytes
 * (an Annex B start code is H.264, anything else MJPEG). */
int dec_codec_of(const qv_buf_md *md);
/* A record decoding can start from: a key frame (frame kind 1), any MJPEG
 * picture, or an H.264 access unit of unset kind that holds an IDR slice or
 * a sequence parameter set. */
int dec_is_key(const qv_buf_md *md);
/* The output format named by the "pix_fmt" member of JSON options (any
 * case); DEC_PIX_YUV420P_SEPARATE for anything else. */
int dec_pix_fmt_from_options(const char *json);

typedef struct qv_dec qv_dec;

/* A decoder with its thread; null when it can't start. */
qv_dec *qv_dec_create(int pix_fmt);
/* Stops the thread and frees the decoder with everything it holds. */
void qv_dec_free(qv_dec *dec);
/* The stream listener's feed: takes a reference of its own on an accepted
 * record. Records before the first key frame are dropped. */
void qv_dec_feed(qv_dec *dec, qv_buf_md *md);
/* Empties both queues and waits for the next key frame. */
void qv_dec_reset(qv_dec *dec);
/* The oldest decoded picture when its time has come (now: pf_tick_ms), or
 * null; the caller frees it with dec_frame_free. */
dec_frame *qv_dec_take(qv_dec *dec, uint32_t now_ms);
void qv_dec_counts(qv_dec *dec, uint32_t *decoded, uint32_t *inputs);
void dec_frame_free(dec_frame *frame);

/* The decoding itself, without thread or queues: the decoder thread owns
 * one; the fuzz target drives one directly. Each picture that comes out of a
 * record is converted to pix_fmt and handed to emit, which owns it then. */
typedef struct dec_state dec_state;
typedef void (*dec_emit_fn)(void *user, dec_frame *frame);
dec_state *dec_state_create(int pix_fmt);
void dec_state_free(dec_state *state);
/* Forgets the references of the stream so far (after a reset). */
void dec_state_flush(dec_state *state);
void dec_state_decode(dec_state *state, const qv_buf_md *md, dec_emit_fn emit, void *user);

/* Pacing: releases pictures in step with their time stamps. The clock
 * starts at the first picture's time stamp, runs with the caller's tick (up
 * to 1.5 times faster while pictures pile up) and jumps when 15 or more are
 * pending, when a picture is late, or when time stamps lie 1 s apart. */
typedef struct dec_pacing {
    int started;
    uint32_t last_tick;   /* ms */
    int64_t clock;        /* us */
    int64_t base;         /* us, the time stamp of the last jump */
} dec_pacing;

/* 1 when the oldest picture (time stamp head_us, pending pictures and
 * inputs in all) is due at now_ms. */
int dec_pace(dec_pacing *pacing, int64_t head_us, uint32_t pending, uint32_t now_ms);

#ifdef __cplusplus
}
#endif

#endif
