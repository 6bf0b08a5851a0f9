/*
 * HTTP-FLV driver: sends one GET request, posts the response header as a
 * text, then reads an FLV stream (FLV file format 10) and turns each AVC
 * video tag into a media object in start-code form. Key frames get the
 * stream's parameter sets (from the AVC decoder configuration record,
 * ISO/IEC 14496-15 5.2.4.1) in front.
 *
 * Every length is checked against the tag that holds it; a tag that lies
 * about its contents ends the connection with a bad-frame event.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

enum { PH_HTTP = 0, PH_FILE = 1, PH_TAG = 2, PH_BODY = 3 };

typedef struct flv_state {
    np_stream io;
    int request_sent;
    int phase;

    uint32_t tag_type;
    uint32_t tag_size;
    uint32_t tag_ts;      /* milliseconds */
    qv_buf *body;         /* video tags only; other tags are skipped */
    uint32_t body_left;   /* data and PreviousTagSize still expected */

    uint32_t nal_len_size;
    uint8_t sps[H264_PARAM_MAX];
    uint32_t sps_len;
    uint8_t pps[H264_PARAM_MAX];
    uint32_t pps_len;
} flv_state;

static const uint8_t start_code[4] = { 0, 0, 0, 1 };

static uint32_t be(const uint8_t *p, uint32_t n)
{
    uint32_t v = 0;
    while (n--)
        v = v << 8 | *p++;
    return v;
}

/* Takes the first usable entry of a parameter-set array; returns the offset
 * after the array, or rlen when the array runs past the record. */
static uint32_t take_params(const uint8_t *rec, uint32_t rlen, uint32_t at, uint32_t count, uint8_t *dst,
                            uint32_t *dst_len)
{
    int taken = 0;
    while (count--) {
        uint32_t len;
        if (rlen - at < 2)
            return rlen;
        len = be(rec + at, 2);
        at += 2;
        if (len > rlen - at)
            return rlen;
        if (!taken && len >= 1 && len <= H264_PARAM_MAX) {
            memcpy(dst, rec + at, len);
            *dst_len = len;
            taken = 1;
        }
        at += len;
    }
    return at;
}

static int sequence_header(flv_state *st, const uint8_t *rec, uint32_t rlen)
{
    uint32_t size, at;
    if (rlen < 6)
        return NCM_EV_BAD_FRAME;
    size = (rec[4] & 3u) + 1;
    if (size != 3 && size != 4)
        return NCM_EV_BAD_FRAME;
    st->nal_len_size = size;
    at = take_params(rec, rlen, 6, rec[5] & 0x1Fu, st->sps, &st->sps_len);
    if (at < rlen)
        take_params(rec, rlen, at + 1, rec[at], st->pps, &st->pps_len);
    return 0;
}

static int nal_units(flv_state *st, const uint8_t *data, uint32_t len, int key)
{
    uint32_t ls = st->nal_len_size ? st->nal_len_size : 4;
    uint64_t out = MEDIA_HEAD_SIZE;
    uint32_t at;
    qv_buf *buf;
    media_head head;
    qv_obj *obj;

    /* First pass: check every length and size the output exactly (a 3-byte
     * length grows by one byte into a start code). */
    for (at = 0; len - at >= ls;) {
        uint32_t n = be(data + at, ls);
        at += ls;
        if (n > len - at)
            return NCM_EV_BAD_FRAME;
        if (n)
            out += 4 + n;
        at += n;
    }
    if (out == MEDIA_HEAD_SIZE)
        return 0;
    if (key)
        out += (st->sps_len ? 4 + st->sps_len : 0) + (st->pps_len ? 4 + st->pps_len : 0);
    if (out - MEDIA_HEAD_SIZE > MEDIA_MAX_PAYLOAD)
        return NCM_EV_TOO_LARGE;
    buf = qv_buf_new((uint32_t)out);
    if (!buf)
        return 0;
    buf->end = MEDIA_HEAD_SIZE;
    if (key && st->sps_len) {
        qv_buf_append(buf, start_code, 4);
        qv_buf_append(buf, st->sps, st->sps_len);
    }
    if (key && st->pps_len) {
        qv_buf_append(buf, start_code, 4);
        qv_buf_append(buf, st->pps, st->pps_len);
    }
    for (at = 0; len - at >= ls;) {
        uint32_t n = be(data + at, ls);
        at += ls;
        if (n) {
            qv_buf_append(buf, start_code, 4);
            qv_buf_append(buf, data + at, n);
        }
        at += n;
    }
    memset(&head, 0, sizeof head);
    head.tag = 0x0120;
    head.media_type = 2;
    head.frame_kind = key ? 1 : 2;
    head.payload_len = buf->end - MEDIA_HEAD_SIZE;
    head.pts_us = (uint64_t)st->tag_ts * 1000u;
    media_head_build(buf->data, &head);
    obj = qv_md_obj_new(buf);
    if (!obj)
        qv_buf_free(buf);
    else if (ncm_post_media(st->io.m, NP_HTTP_FLV, st->io.id, obj) != 0)
        qv_obj_release(obj);
    return 0;
}

static int video_tag(flv_state *st)
{
    const uint8_t *d = st->body->data;
    uint32_t size = st->tag_size;
    if (size == 0)
        return 0;
    if ((d[0] & 0x0F) != 7) /* AVC only */
        return NCM_EV_BAD_FRAME;
    if (size < 5)
        return NCM_EV_BAD_FRAME;
    if (d[1] == 0)
        return sequence_header(st, d + 5, size - 5);
    if (d[1] == 1)
        return nal_units(st, d + 5, size - 5, d[0] >> 4 == 1);
    return 0; /* end of sequence */
}

/* Bytes consumed (> 0), 0 when more are needed, or -(event code). */
static long parse_step(flv_state *st, const uint8_t *p, uint32_t n)
{
    uint32_t total;
    int rc;
    switch (st->phase) {
    case PH_HTTP:
        if (n <= 4)
            return 0;
        rc = np_message_length(p, n, FLV_BUF_SIZE - 4, &total);
        if (rc < 0)
            return 0;
        if (rc > 0)
            return -rc;
        {
            qv_buf *text = qv_buf_new(total + 1);
            if (text) {
                memcpy(text->data, p, total);
                text->data[total] = 0;
                text->end = total;
                if (ncm_post_text(st->io.m, NP_HTTP_FLV, st->io.id, text) != 0)
                    qv_buf_free(text);
            }
        }
        st->phase = PH_FILE;
        return (long)total;
    case PH_FILE:
        if (n < 13)
            return 0;
        if (memcmp(p, "FLV", 3) != 0 || p[3] != 1 || be(p + 5, 4) != 9 || !(p[4] & 5))
            return -NCM_EV_BAD_FRAME;
        st->phase = PH_TAG;
        return 13;
    case PH_TAG:
        if (n < 11)
            return 0;
        st->tag_type = p[0] & 0x3F;
        st->tag_size = be(p + 1, 3);
        st->tag_ts = be(p + 4, 3) | (uint32_t)p[7] << 24;
        st->body_left = st->tag_size + 4;
        if ((st->tag_type & 0x1F) == 9) {
            if (st->tag_size > MEDIA_MAX_PAYLOAD)
                return -NCM_EV_TOO_LARGE;
            if (!st->body)
                st->body = qv_buf_new(0);
            if (!st->body)
                return -NCM_EV_TOO_LARGE;
            st->body->end = 0;
            if (st->body->cap < st->tag_size + 8) {
                uint8_t *data = (uint8_t *)realloc(st->body->data, st->tag_size + 8);
                if (!data)
                    return -NCM_EV_TOO_LARGE;
                st->body->data = data;
                st->body->cap = st->tag_size + 8;
            }
        }
        st->phase = PH_BODY;
        return 11;
    default:
        total = n < st->body_left ? n : st->body_left;
        if ((st->tag_type & 0x1F) == 9 && total) {
            memcpy(st->body->data + st->body->end, p, total);
            st->body->end += total;
        }
        st->body_left -= total;
        if (st->body_left)
            return (long)total;
        st->phase = PH_TAG;
        if ((st->tag_type & 0x1F) == 9) {
            rc = video_tag(st);
            if (rc)
                return -rc;
        }
        return (long)total; /* body_left started at 4 or more: total > 0 */
    }
}

static long parse_all(void *user, const uint8_t *data, uint32_t n)
{
    flv_state *st = (flv_state *)user;
    uint32_t used = 0;
    for (;;) {
        long step = parse_step(st, data + used, n - used);
        if (step < 0)
            return step;
        if (step == 0)
            return (long)used;
        used += (uint32_t)step;
    }
}

static int on_readable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    flv_state *st = (flv_state *)c->state;
    return np_stream_read(&st->io, parse_all, st);
}

static int on_writable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    return np_stream_write(&((flv_state *)c->state)->io);
}

static void *create(qv_ncm *m, uint32_t id, qv_socket_x *s)
{
    flv_state *st = (flv_state *)calloc(1, sizeof *st);
    if (!st || np_stream_init(&st->io, m, id, s, NP_HTTP_FLV, FLV_BUF_SIZE) != 0) {
        free(st);
        return NULL;
    }
    return st;
}

static void destroy(void *p)
{
    flv_state *st = (flv_state *)p;
    if (!st)
        return;
    np_stream_free(&st->io);
    qv_buf_free(st->body);
    free(st);
}

/* Only the opening request goes out; later texts report success unsent. */
static int send_text(void *p, qv_buf *text)
{
    flv_state *st = (flv_state *)p;
    if (st->request_sent) {
        qv_buf_free(text);
        return 0;
    }
    if (np_txq_push(&st->io.tx, st->io.sock, text) != 0)
        return -1;
    st->request_sent = 1;
    return 0;
}

static int send_md(void *p, qv_list *blocks) { return 0; }
static void tick(void *p, uint32_t now) {}

static const np_driver g_flv = { create, destroy, send_text, send_md, on_readable, on_writable, tick };

const np_driver *flv_driver(void) { return &g_flv; }
