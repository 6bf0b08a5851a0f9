/*
 * What a media record holds (its codec, whether decoding can start from it)
 * and the decoding itself: one libavcodec decoder at a time, chosen per
 * picture, pictures that did not decode whole dropped with a log line.
 * No threads or queues here; the decoder thread owns one dec_state.
 */
#include "dec.h"
#include "dec_convert.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libavcodec/avcodec.h>
#include <libavutil/log.h>

/* At most one line a second about dropped pictures. */
#define DROP_LOG_MS 1000

struct dec_state {
    int pix_fmt;
    AVCodecContext *avctx;
    int codec;
    AVFrame *picture;
    AVPacket *packet;
    dec_scaler scaler;
    int failed_codec;         /* a codec that could not be opened, logged once */
    uint64_t drop_logged_ms;
    uint32_t drops_unlogged;
};

/* ---- what a record holds ---- */
static const uint8_t *payload_of(const qv_buf_md *md, uint32_t *len)
{
    uint32_t avail = md->buf.end > md->buf.start ? md->buf.end - md->buf.start : 0;
    /* The head's length decides unless it claims more than arrived. */
    *len = md->head.payload_len && md->head.payload_len < avail ? md->head.payload_len : avail;
    return md->buf.data + md->buf.start;
}

static int starts_with_start_code(const uint8_t *p, uint32_t n)
{
    return (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1) || (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1);
}

int dec_codec_of(const qv_buf_md *md)
{
    uint32_t n;
    const uint8_t *p = payload_of(md, &n);
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xD8)
        return DEC_CODEC_MJPEG;
    if (md->head.media_type == MEDIA_TYPE_H264)
        return DEC_CODEC_H264;
    if (md->head.media_type == MEDIA_TYPE_MJPEG)
        return DEC_CODEC_MJPEG;
    return starts_with_start_code(p, n) ? DEC_CODEC_H264 : DEC_CODEC_MJPEG;
}

/* Walks the NAL units of an Annex B access unit up to its first slice: an
 * IDR slice (type 5) or a sequence parameter set (type 7) starts a picture
 * that decodes on its own. */
static int annexb_has_key(const uint8_t *p, uint32_t n)
{
    uint32_t i = 0;
    while (i + 3 < n) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            int type = p[i + 3] & 0x1F;
            if (type == 5 || type == 7)
                return 1;
            if (type == 1)
                return 0;
            i += 3;
        } else {
            i++;
        }
    }
    return 0;
}

int dec_is_key(const qv_buf_md *md)
{
    int codec = dec_codec_of(md);
    if (md->head.frame_kind == 1 || codec == DEC_CODEC_MJPEG)
        return 1;
    if (md->head.frame_kind == 0 && codec == DEC_CODEC_H264) {
        uint32_t n;
        const uint8_t *p = payload_of(md, &n);
        return annexb_has_key(p, n);
    }
    return 0;
}

/* ---- decoding ---- */
static const char *codec_name(int codec) { return codec == DEC_CODEC_H264 ? "H.264" : "MJPEG"; }

static void log_drop(dec_state *st, int codec, uint32_t len)
{
    uint64_t now = pf_clock_ms();
    char more[64] = "";
    if (st->drop_logged_ms && now - st->drop_logged_ms < DROP_LOG_MS) {
        st->drops_unlogged++;
        return;
    }
    if (st->drops_unlogged)
        snprintf(more, sizeof more, " (and %u more since the last report)", st->drops_unlogged);
    av_log(NULL, AV_LOG_WARNING, "ffdec h26x: dropped a corrupt or truncated %s picture of %u bytes%s\n",
           codec_name(codec), len, more);
    st->drop_logged_ms = now;
    st->drops_unlogged = 0;
}

static void close_codec(dec_state *st)
{
    avcodec_free_context(&st->avctx);
    st->codec = DEC_CODEC_NONE;
}

static int open_codec(dec_state *st, int codec)
{
    const AVCodec *c = avcodec_find_decoder(codec == DEC_CODEC_H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MJPEG);
    const int previous = st->codec;
    close_codec(st);
    st->avctx = c ? avcodec_alloc_context3(c) : NULL;
    if (!st->avctx)
        goto fail;
    /* One thread: a camera picture is out as soon as it is decoded, with no
     * frame-threading delay. */
    st->avctx->thread_count = 1;
    st->avctx->pkt_timebase = (AVRational){ 1, 1000000 };
    st->avctx->max_pixels = DEC_MAX_PIXELS;
    /* A picture that did not decode whole is dropped, not shown patched. */
    st->avctx->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    if (codec == DEC_CODEC_MJPEG)
        st->avctx->err_recognition |= AV_EF_EXPLODE;
    if (avcodec_open2(st->avctx, c, NULL) < 0)
        goto fail;
    if (previous != codec)
        av_log(NULL, AV_LOG_INFO, "ffdec h26x: decoding %s\n", codec_name(codec));
    st->codec = codec;
    st->failed_codec = DEC_CODEC_NONE;
    return 0;
fail:
    avcodec_free_context(&st->avctx);
    if (st->failed_codec != codec)
        av_log(NULL, AV_LOG_ERROR, "ffdec h26x: no %s decoder could be opened\n", codec_name(codec));
    st->failed_codec = codec;
    return -1;
}

dec_state *dec_state_create(int pix_fmt)
{
    dec_state *st = (dec_state *)calloc(1, sizeof *st);
    if (!st)
        return NULL;
    st->pix_fmt = pix_fmt;
    st->picture = av_frame_alloc();
    st->packet = av_packet_alloc();
    if (!st->picture || !st->packet) {
        dec_state_free(st);
        return NULL;
    }
    return st;
}

void dec_state_free(dec_state *st)
{
    if (!st)
        return;
    close_codec(st);
    av_frame_free(&st->picture);
    av_packet_free(&st->packet);
    dec_scaler_free(&st->scaler);
    free(st);
}

void dec_state_flush(dec_state *st)
{
    if (st->avctx)
        avcodec_flush_buffers(st->avctx);
}

void dec_state_decode(dec_state *st, const qv_buf_md *md, dec_emit_fn emit, void *user)
{
    int codec = dec_codec_of(md);
    uint32_t len;
    const uint8_t *data = payload_of(md, &len);
    int rc;
    if (len == 0)
        return;
    if ((codec != st->codec || !st->avctx) && open_codec(st, codec) != 0)
        return;
    /* libavcodec reads a little past the end of its input: the packet is a
     * padded copy. */
    if (av_new_packet(st->packet, (int)len) < 0)
        return;
    memcpy(st->packet->data, data, len);
    st->packet->pts = st->packet->dts = (int64_t)md->head.pts_us;
    rc = avcodec_send_packet(st->avctx, st->packet);
    av_packet_unref(st->packet);
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
        log_drop(st, codec, len);
        return;
    }
    while (avcodec_receive_frame(st->avctx, st->picture) == 0) {
        AVFrame *p = st->picture;
        if (p->decode_error_flags || (p->flags & AV_FRAME_FLAG_CORRUPT)) {
            log_drop(st, codec, len);
        } else {
            int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : (int64_t)md->head.pts_us;
            dec_frame *frame = dec_convert(&st->scaler, p, st->pix_fmt, pts);
            if (frame)
                emit(user, frame);
        }
        av_frame_unref(p);
    }
}
