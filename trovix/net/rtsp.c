/*
 * RTSP driver: one TCP connection carries the RTSP exchange and the RTP
 * packets interleaved with it ('$', channel, 16-bit length; RFC 2326 10.12).
 * Texts go to the command thread unchanged; the H.264 packets of the video
 * channel are rebuilt into access units in start-code form (RFC 6184:
 * single NAL units, STAP-A/B, FU-A/B), one media object per time stamp.
 *
 * Every length read from the peer is checked against the unit that holds
 * it; a broken fragment sequence loses its NAL unit, not the connection.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

#define AU_INITIAL 65536u

enum { UNIT_NEED = -1, UNIT_FAIL = 0, UNIT_TEXT = 1, UNIT_RTP = 2, UNIT_SKIP = 3 };

typedef struct rtp_packet {
    int marker;
    int payload_type;
    uint16_t seq;
    uint32_t ts;
    const uint8_t *payload;
    uint32_t len;
} rtp_packet;

typedef struct rtsp_state {
    np_stream io;

    /* Access unit being built: 32 bytes kept for the media head, then NAL
     * units with start codes. */
    qv_buf *au;
    int au_open;
    uint32_t au_ts;
    int au_dropped;     /* over the size cap: the rest of this time stamp is ignored */
    uint8_t frame_kind;
    uint32_t nal_seen;  /* bit t for every NAL unit type t in the unit */
    uint32_t last_size;

    int fu_active;
    uint32_t fu_start;  /* offset of the open fragmented NAL unit's start code */
    int have_seq;
    uint16_t seq;

    h264_params params; /* from the SDP, then the latest ones in the stream */
} rtsp_state;

static const uint8_t start_code[4] = { 0, 0, 0, 1 };

/* ---- SDP: the H.264 medium's payload type and parameter sets ---- */
static int b64_value(int c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

/* Decodes base64 up to the first character that isn't part of it; -1 when
 * the result would not fit. */
static long b64_decode(const char *p, const char *end, uint8_t *out, uint32_t cap)
{
    uint32_t acc = 0, n = 0;
    int bits = 0;
    for (; p < end; p++) {
        int v = b64_value((unsigned char)*p);
        if (v < 0)
            break;
        acc = acc << 6 | (uint32_t)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (n >= cap)
                return -1;
            out[n++] = (uint8_t)(acc >> bits);
        }
    }
    return (long)n;
}

static int ieq_prefix(const char *p, const char *end, const char *word)
{
    size_t n = strlen(word), i;
    if ((size_t)(end - p) < n)
        return 0;
    for (i = 0; i < n; i++) {
        int a = (unsigned char)p[i], b = (unsigned char)word[i];
        if (a >= 'A' && a <= 'Z')
            a += 32;
        if (a != b)
            return 0;
    }
    return 1;
}

static const char *line_end(const char *p, const char *end)
{
    while (p < end && *p != '\r' && *p != '\n')
        p++;
    return p;
}

static const char *next_line(const char *p, const char *end)
{
    p = line_end(p, end);
    while (p < end && (*p == '\r' || *p == '\n'))
        p++;
    return p;
}

static int read_int(const char **pp, const char *end, int *out)
{
    const char *p = *pp;
    int v = 0, digits = 0;
    while (p < end && *p >= '0' && *p <= '9' && digits < 4) {
        v = v * 10 + (*p++ - '0');
        digits++;
    }
    if (!digits)
        return -1;
    *pp = p;
    *out = v;
    return 0;
}

static void take_sprop(const char *p, const char *eol, h264_params *out)
{
    while (p < eol) {
        const char *item = p, *stop;
        uint8_t nal[H264_PARAM_MAX];
        long n;
        while (p < eol && *p != ',' && *p != ';' && *p != ' ')
            p++;
        stop = p;
        n = b64_decode(item, stop, nal, sizeof nal);
        if (n > 0) {
            int type = nal[0] & 0x1F;
            if (type == 7 && !out->sps_len) {
                memcpy(out->sps, nal, (size_t)n);
                out->sps_len = (uint32_t)n;
            } else if (type == 8 && !out->pps_len) {
                memcpy(out->pps, nal, (size_t)n);
                out->pps_len = (uint32_t)n;
            }
        }
        if (p >= eol || *p != ',')
            break;
        p++;
    }
}

int rtsp_sdp_h264(const char *text, size_t len, h264_params *out)
{
    const char *p = text, *end = text + len;
    const char *medium = NULL, *medium_end = NULL;
    int pt = -1;

    memset(out, 0, sizeof *out);
    out->payload_type = -1;
    /* Pass 1: the first video medium whose rtpmap names H264. */
    while (p < end && pt < 0) {
        const char *eol = line_end(p, end);
        if (eol - p >= 2 && p[1] == '=' && p[0] == 'm') {
            medium = ieq_prefix(p, eol, "m=video") ? p : NULL;
        } else if (medium && ieq_prefix(p, eol, "a=rtpmap:")) {
            const char *q = p + 9;
            int v;
            if (read_int(&q, eol, &v) == 0) {
                while (q < eol && *q == ' ')
                    q++;
                if (ieq_prefix(q, eol, "h264/"))
                    pt = v;
            }
        }
        p = next_line(p, end);
    }
    if (pt < 0)
        return -1;
    out->payload_type = pt;
    /* Pass 2: that medium's fmtp line, up to the next m= line. */
    for (medium_end = p; medium_end < end && !(medium_end[0] == 'm' && medium_end + 1 < end && medium_end[1] == '=');)
        medium_end = next_line(medium_end, end);
    for (p = medium; p < medium_end; p = next_line(p, medium_end)) {
        const char *eol = line_end(p, medium_end), *q;
        int v;
        if (!ieq_prefix(p, eol, "a=fmtp:"))
            continue;
        q = p + 7;
        if (read_int(&q, eol, &v) != 0 || v != pt)
            continue;
        for (; q < eol; q++) {
            if (ieq_prefix(q, eol, "sprop-parameter-sets=")) {
                take_sprop(q + 21, eol, out);
                break;
            }
        }
    }
    return 0;
}

/* ---- access units ---- */
static void fu_abort(rtsp_state *st)
{
    if (st->fu_active && st->au)
        st->au->end = st->fu_start;
    st->fu_active = 0;
}

static void au_reset(rtsp_state *st)
{
    st->au_open = 0;
    st->au_dropped = 0;
    st->frame_kind = 0;
    st->nal_seen = 0;
    st->fu_active = 0;
    if (st->au)
        st->au->end = MEDIA_HEAD_SIZE;
}

static qv_buf *with_params(rtsp_state *st, qv_buf *au, uint32_t payload)
{
    int add_sps = !(st->nal_seen & 1u << 7) && st->params.sps_len;
    int add_pps = !(st->nal_seen & 1u << 8) && st->params.pps_len;
    uint32_t extra = (add_sps ? 4 + st->params.sps_len : 0) + (add_pps ? 4 + st->params.pps_len : 0);
    qv_buf *out;
    if (!(st->nal_seen & 1u << 5) || !extra)
        return au;
    out = qv_buf_new(MEDIA_HEAD_SIZE + extra + payload);
    if (!out)
        return au;
    out->end = MEDIA_HEAD_SIZE;
    if (add_sps) {
        qv_buf_append(out, start_code, 4);
        qv_buf_append(out, st->params.sps, st->params.sps_len);
    }
    if (add_pps) {
        qv_buf_append(out, start_code, 4);
        qv_buf_append(out, st->params.pps, st->params.pps_len);
    }
    qv_buf_append(out, au->data + MEDIA_HEAD_SIZE, payload);
    qv_buf_free(au);
    return out;
}

static void au_flush(rtsp_state *st)
{
    qv_buf *au = st->au;
    uint32_t payload;
    media_head head;
    qv_obj *obj;

    fu_abort(st);
    if (!st->au_open || st->au_dropped || !au || au->end <= MEDIA_HEAD_SIZE) {
        au_reset(st);
        return;
    }
    st->au = NULL;
    /* A key frame that lacks its parameter sets gets the latest ones, so a
     * decoder can start from it. */
    au = with_params(st, au, au->end - MEDIA_HEAD_SIZE);
    /* The record holds no more than its content while it waits and while
     * it is cached. */
    if (au->cap > au->end) {
        uint8_t *data = (uint8_t *)realloc(au->data, au->end);
        if (data) {
            au->data = data;
            au->cap = au->end;
        }
    }
    payload = au->end - MEDIA_HEAD_SIZE;
    st->last_size = payload;
    memset(&head, 0, sizeof head);
    head.tag = 0x0120;
    head.media_type = 2;
    head.frame_kind = st->frame_kind;
    head.payload_len = payload;
    head.pts_us = (uint64_t)st->au_ts * 100u / 9u; /* 90 kHz clock */
    media_head_build(au->data, &head);
    obj = qv_md_obj_new(au);
    if (!obj)
        qv_buf_free(au);
    else if (ncm_post_media(st->io.m, NP_RTSP, st->io.id, obj) != 0)
        qv_obj_release(obj);
    au_reset(st);
}

/* Opens the access unit of ts for a new NAL unit, flushing the one before. */
static int au_begin(rtsp_state *st, uint32_t ts)
{
    if (st->au_open && st->au_ts != ts)
        au_flush(st);
    fu_abort(st);
    if (!st->au) {
        uint64_t cap = (uint64_t)st->last_size + st->last_size / 4 + MEDIA_HEAD_SIZE;
        st->au = qv_buf_new(cap > AU_INITIAL ? (uint32_t)cap : AU_INITIAL);
        if (!st->au)
            return -1;
        st->au->end = MEDIA_HEAD_SIZE;
    }
    if (!st->au_open) {
        st->au_open = 1;
        st->au_ts = ts;
    }
    return st->au_dropped ? -1 : 0;
}

static int au_append(rtsp_state *st, const uint8_t *a, uint32_t alen, const uint8_t *b, uint32_t blen)
{
    uint64_t size = (uint64_t)st->au->end - MEDIA_HEAD_SIZE + alen + blen;
    if (st->au_dropped)
        return -1;
    if (size > RTSP_AU_MAX || qv_buf_reserve(st->au, alen + blen) != 0) {
        st->au_dropped = 1;
        st->fu_active = 0;
        st->au->end = MEDIA_HEAD_SIZE;
        return -1;
    }
    memcpy(st->au->data + st->au->end, a, alen);
    st->au->end += alen;
    if (blen)
        memcpy(st->au->data + st->au->end, b, blen);
    st->au->end += blen;
    return 0;
}

static void note_nal(rtsp_state *st, int type)
{
    st->nal_seen |= 1u << type;
    if (type == 5 || type == 7 || type == 8)
        st->frame_kind = 1;
    else if (type == 1 && st->frame_kind != 1)
        st->frame_kind = 2;
}

static void keep_param(rtsp_state *st, const uint8_t *nal, uint32_t len)
{
    int type = nal[0] & 0x1F;
    if (len > H264_PARAM_MAX)
        return;
    if (type == 7) {
        memcpy(st->params.sps, nal, len);
        st->params.sps_len = len;
    } else if (type == 8) {
        memcpy(st->params.pps, nal, len);
        st->params.pps_len = len;
    }
}

/* A whole NAL unit (header byte first). */
static void add_nal(rtsp_state *st, const uint8_t *nal, uint32_t len)
{
    if (au_append(st, start_code, 4, nal, len) != 0)
        return;
    note_nal(st, nal[0] & 0x1F);
    keep_param(st, nal, len);
}

static void add_aggregate(rtsp_state *st, const rtp_packet *pkt, uint32_t off)
{
    const uint8_t *p = pkt->payload;
    uint32_t at;
    /* Every size is checked before anything is taken from the packet. */
    for (at = off; at < pkt->len;) {
        uint32_t size;
        if (pkt->len - at < 2)
            return;
        size = (uint32_t)p[at] << 8 | p[at + 1];
        if (size == 0 || size > pkt->len - at - 2)
            return;
        at += 2 + size;
    }
    if (at == off || au_begin(st, pkt->ts) != 0)
        return;
    for (at = off; at < pkt->len;) {
        uint32_t size = (uint32_t)p[at] << 8 | p[at + 1];
        add_nal(st, p + at + 2, size);
        at += 2 + size;
    }
}

static void add_fragment(rtsp_state *st, const rtp_packet *pkt, uint32_t data_off)
{
    const uint8_t *p = pkt->payload;
    uint8_t fu = p[1], header;
    int type = fu & 0x1F;
    if (pkt->len < data_off || type == 0 || type >= 24)
        return;
    if (fu & 0x80) {
        if (au_begin(st, pkt->ts) != 0)
            return;
        st->fu_start = st->au->end;
        header = (uint8_t)((p[0] & 0xE0) | type);
        if (au_append(st, start_code, 4, &header, 1) != 0 ||
            au_append(st, p + data_off, pkt->len - data_off, NULL, 0) != 0)
            return;
        note_nal(st, type);
        st->fu_active = !(fu & 0x40);
        return;
    }
    /* A middle or end part counts only after its start. */
    if (!st->fu_active || !st->au_open || st->au_ts != pkt->ts)
        return;
    if (au_append(st, p + data_off, pkt->len - data_off, NULL, 0) != 0)
        return;
    if (fu & 0x40)
        st->fu_active = 0;
}

static void handle_rtp(rtsp_state *st, const rtp_packet *pkt)
{
    int type;
    if (st->params.payload_type >= 0 && pkt->payload_type != st->params.payload_type)
        return;
    /* A lost packet inside a fragmented NAL unit makes that unit useless. */
    if (st->have_seq && pkt->seq != (uint16_t)(st->seq + 1))
        fu_abort(st);
    st->have_seq = 1;
    st->seq = pkt->seq;
    if (pkt->len < 1)
        return;
    type = pkt->payload[0] & 0x1F;
    if (type >= 1 && type <= 23) {
        if (au_begin(st, pkt->ts) == 0)
            add_nal(st, pkt->payload, pkt->len);
    } else if (type == 24) {
        add_aggregate(st, pkt, 1);
    } else if (type == 25) {
        add_aggregate(st, pkt, 3); /* after the decoding order number */
    } else if (type == 28) {
        if (pkt->len >= 2)
            add_fragment(st, pkt, 2);
    } else if (type == 29) {
        if (pkt->len >= 4)
            add_fragment(st, pkt, 4);
    }
    /* 0, 26, 27 (MTAP), 30 and 31 are not used by cameras: dropped. */
}

/* ---- units on the wire ---- */
static int parse_unit(const uint8_t *p, uint32_t n, uint32_t *total, rtp_packet *pkt, int *err)
{
    if (n < 4)
        return UNIT_NEED;
    if (p[0] == '$') {
        uint32_t len = (uint32_t)p[2] << 8 | p[3], hdr, pad;
        *total = len + 4;
        if (n < *total)
            return UNIT_NEED;
        if (p[1] != RTSP_VIDEO_CHANNEL)
            return UNIT_SKIP;
        if (*total < 16) {
            *err = NCM_EV_BAD_FRAME;
            return UNIT_FAIL;
        }
        if (p[4] >> 6 != 2)
            return UNIT_SKIP;
        hdr = 16 + 4u * (p[4] & 0x0F);
        if (p[4] & 0x10) {
            if (*total < hdr + 4) {
                *err = NCM_EV_BAD_FRAME;
                return UNIT_FAIL;
            }
            hdr += 4 + 4u * ((uint32_t)p[hdr + 2] << 8 | p[hdr + 3]);
        }
        pad = (p[4] & 0x20) ? p[*total - 1] : 0;
        if (*total < hdr + pad) {
            *err = NCM_EV_BAD_FRAME;
            return UNIT_FAIL;
        }
        pkt->marker = p[5] >> 7;
        pkt->payload_type = p[5] & 0x7F;
        pkt->seq = (uint16_t)(p[6] << 8 | p[7]);
        pkt->ts = (uint32_t)p[8] << 24 | (uint32_t)p[9] << 16 | (uint32_t)p[10] << 8 | p[11];
        pkt->payload = p + hdr;
        pkt->len = *total - pad - hdr;
        return UNIT_RTP;
    }
    if (n <= 4)
        return UNIT_NEED;
    *err = np_message_length(p, n, RTSP_BUF_SIZE - 4, total);
    if (*err == 0)
        return UNIT_TEXT;
    return *err < 0 ? UNIT_NEED : UNIT_FAIL;
}

/* 0, or the event that ends a connection flooding us with texts. */
static int handle_text(rtsp_state *st, const uint8_t *p, uint32_t len)
{
    qv_buf *text = qv_buf_new(len + 1);
    int rc;
    if (!text)
        return 0;
    memcpy(text->data, p, len);
    text->data[len] = 0;
    text->end = len;
    /* The DESCRIBE answer names the H.264 payload type and may carry the
     * parameter sets that the stream itself never repeats. */
    if (qv_memfind(p, len, "m=video", 7)) {
        h264_params found;
        if (rtsp_sdp_h264((const char *)p, len, &found) == 0)
            st->params = found;
    }
    if ((rc = ncm_post_text(st->io.m, NP_RTSP, st->io.id, text)) == 0)
        return 0;
    qv_buf_free(text);
    return rc == NCM_EV_TOO_LARGE ? rc : 0;
}

/* Runs every complete unit at the front of data: bytes used, or -(event). */
static long parse_all(void *user, const uint8_t *data, uint32_t n)
{
    rtsp_state *st = (rtsp_state *)user;
    uint32_t used = 0;
    for (;;) {
        rtp_packet pkt;
        uint32_t total = 0;
        int err = 0;
        int kind = parse_unit(data + used, n - used, &total, &pkt, &err);
        if (kind == UNIT_NEED)
            return (long)used;
        if (kind == UNIT_FAIL)
            return -err;
        if (kind == UNIT_TEXT) {
            if ((err = handle_text(st, data + used, total)) != 0)
                return -err;
        } else if (kind == UNIT_RTP)
            handle_rtp(st, &pkt);
        used += total;
    }
}

static int on_readable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    rtsp_state *st = (rtsp_state *)c->state;
    return np_stream_read(&st->io, parse_all, st);
}

static int on_writable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    return np_stream_write(&((rtsp_state *)c->state)->io);
}

static void *create(qv_ncm *m, uint32_t id, qv_socket_x *s)
{
    rtsp_state *st = (rtsp_state *)calloc(1, sizeof *st);
    if (!st || np_stream_init(&st->io, m, id, s, NP_RTSP, RTSP_BUF_SIZE) != 0) {
        free(st);
        return NULL;
    }
    st->params.payload_type = -1;
    return st;
}

static void destroy(void *p)
{
    rtsp_state *st = (rtsp_state *)p;
    if (!st)
        return;
    np_stream_free(&st->io);
    qv_buf_free(st->au);
    free(st);
}

static int send_text(void *p, qv_buf *text)
{
    rtsp_state *st = (rtsp_state *)p;
    return np_txq_push(&st->io.tx, st->io.sock, text);
}

static int send_md(void *p, qv_list *blocks) { return 0; }
static void tick(void *p, uint32_t now) {}

static const np_driver g_rtsp = { create, destroy, send_text, send_md, on_readable, on_writable, tick };

const np_driver *rtsp_driver(void) { return &g_rtsp; }
