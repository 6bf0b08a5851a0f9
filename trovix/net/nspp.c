/*
 * Private framed protocol: 12-byte little-endian header, then a JSON text,
 * a media payload (32-byte media_head + picture) or nothing (heartbeat).
 *
 * Three drivers share this code: NSPP (device sessions), NSPP/UPGRADE
 * (firmware upload, whole frames only, raw media bodies) and NSPP_HTTP (one
 * HTTP request and response, then the framing).
 *
 * Everything read from the peer is bounded before use: lengths against the
 * frame, media payloads against their head and MEDIA_MAX_PAYLOAD, texts
 * against NSPP_TEXT_MAX. A violation ends the connection with its event code.
 */
#include "qv_net.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

enum { PH_HEAD = 0, PH_MEDIA = 1, PH_TEXT = 2 };

#define HTTP_BUF_SIZE 65536u
/* Bytes taken per readable event, so one busy peer can't starve the others. */
#define READ_BUDGET (4u * 1024u * 1024u)

typedef struct nspp_state {
    qv_ncm *m;
    qv_socket_x *sock;
    uint32_t id;
    uint32_t proto;     /* protocol posted with every record */
    int upgrade;
    int http;
    uint32_t last_heartbeat;

    int phase;
    uint8_t head[NSPP_HEAD_SIZE];
    uint32_t head_fill;
    nspp_head_info cur;

    qv_buf *text;
    uint32_t text_left;
    qv_buf *media;
    uint32_t media_left;
    uint32_t media_total; /* 32 + payload length once the head is in, else 0 */

    qv_buf *tx_text;
    qv_list text_q;
    qv_buf *tx_media;
    qv_list media_q;
    pf_mutex lock;

    /* NSPP_HTTP only */
    int http_phase;
    uint8_t *hbuf;
    uint32_t hfill;
    uint32_t hcons;
    int request_sent;
} nspp_state;

void nspp_head_build(uint8_t out[NSPP_HEAD_SIZE], uint32_t kind, uint32_t length, uint32_t sub)
{
    qv_wr32(out, NSPP_MAGIC | 1u << 24);
    qv_wr32(out + 4, (length & 0xFFFFFFu) | (kind & 0xFu) << 24);
    qv_wr32(out + 8, (sub & 0xFFFFu) << 16);
}

int nspp_head_parse(const uint8_t in[NSPP_HEAD_SIZE], uint32_t max_class, nspp_head_info *out)
{
    uint32_t w0 = qv_rd32(in);
    uint32_t w1 = qv_rd32(in + 4);
    out->klass = w0 >> 28;
    out->kind = (w1 >> 24) & 0xFu;
    out->length = w1 & 0xFFFFFFu;
    out->sub = qv_rd32(in + 8) >> 16;
    if ((w0 & 0xFFFFFFu) != NSPP_MAGIC || ((w0 >> 24) & 0xFu) != 1u || out->klass > max_class)
        return NCM_EV_BAD_FRAME;
    if (out->kind == NSPP_KIND_MEDIA || out->kind == NSPP_KIND_TEXT)
        return out->length ? 0 : NCM_EV_BAD_FRAME;
    if (out->kind == NSPP_KIND_HEARTBEAT)
        return out->length == 0 ? 0 : NCM_EV_BAD_FRAME;
    return NCM_EV_BAD_FRAME;
}

uint32_t nspp_text_next_size(uint32_t cur)
{
    static const uint32_t steps[] = { 4096, 16384, 65536, 131072, 262144, 524288, 1048576, 1572864, 2097152 };
    size_t i;
    for (i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        if (steps[i] > cur)
            return steps[i];
    }
    return 0;
}

static void fail(nspp_state *st, int code)
{
    if (qv_sock_state(st->sock) != 0)
        return;
    qv_sock_fail(st->sock, code);
    ncm_post_event(st->m, st->proto, st->id, code);
}

/* ---- create / free ---- */
static nspp_state *state_new(qv_ncm *m, uint32_t id, qv_socket_x *s, uint32_t proto)
{
    nspp_state *st = (nspp_state *)calloc(1, sizeof *st);
    if (!st)
        return NULL;
    st->m = m;
    st->sock = s;
    st->id = id;
    st->proto = proto;
    st->last_heartbeat = pf_tick_ms();
    /* A request is a frame of a few hundred bytes; held by Nagle's algorithm
     * while the one before it is unanswered, it would wait for the device's
     * delayed acknowledgement (40 ms) before it leaves. */
    qv_sock_no_delay(s);
    qv_list_init(&st->text_q);
    qv_list_init(&st->media_q);
    pf_mutex_init(&st->lock);
    return st;
}

static void *create_nspp(qv_ncm *m, uint32_t id, qv_socket_x *s) { return state_new(m, id, s, NP_NSPP); }

static void *create_upgrade(qv_ncm *m, uint32_t id, qv_socket_x *s)
{
    nspp_state *st = state_new(m, id, s, NP_NSPP_UPGRADE_KEY);
    if (st)
        st->upgrade = 1;
    return st;
}

static void *create_http(qv_ncm *m, uint32_t id, qv_socket_x *s)
{
    nspp_state *st = state_new(m, id, s, NP_NSPP_HTTP);
    if (!st)
        return NULL;
    st->http = 1;
    st->hbuf = (uint8_t *)malloc(HTTP_BUF_SIZE);
    if (!st->hbuf) {
        pf_mutex_destroy(&st->lock);
        free(st);
        return NULL;
    }
    return st;
}

static void buf_free_value(void *p) { qv_buf_free((qv_buf *)p); }

static void state_free(void *p)
{
    nspp_state *st = (nspp_state *)p;
    if (!st)
        return;
    qv_buf_free(st->text);
    qv_buf_free(st->media);
    qv_buf_free(st->tx_text);
    qv_buf_free(st->tx_media);
    qv_list_clear(&st->text_q, buf_free_value);
    qv_list_clear(&st->media_q, buf_free_value);
    free(st->hbuf);
    pf_mutex_destroy(&st->lock);
    free(st);
}

/* ---- sending ---- */
static int queue_frame(nspp_state *st, qv_list *q, uint32_t kind, const uint8_t *body, uint32_t len, uint32_t sub)
{
    qv_buf *frame;
    if (len > 0xFFFFFFu)
        return -1;
    frame = qv_buf_new(NSPP_HEAD_SIZE + len);
    if (!frame)
        return -1;
    nspp_head_build(frame->data, kind, len, sub);
    if (len)
        memcpy(frame->data + NSPP_HEAD_SIZE, body, len);
    frame->end = NSPP_HEAD_SIZE + len;
    pf_mutex_lock(&st->lock);
    if (!qv_list_push(q, frame)) {
        pf_mutex_unlock(&st->lock);
        qv_buf_free(frame);
        return -1;
    }
    qv_sock_set_pending(st->sock, 1);
    pf_mutex_unlock(&st->lock);
    return 0;
}

static int send_text_framed(void *p, qv_buf *text)
{
    nspp_state *st = (nspp_state *)p;
    uint32_t len = qv_buf_size(text);
    if (len == 0)
        return -1;
    if (queue_frame(st, &st->text_q, NSPP_KIND_TEXT, text->data + text->start, len, st->upgrade ? NP_SUB_UPGRADE : 0) != 0)
        return -1;
    qv_buf_free(text);
    return 0;
}

static int send_text_http(void *p, qv_buf *text)
{
    nspp_state *st = (nspp_state *)p;
    qv_buf *copy;
    uint32_t len = qv_buf_size(text);
    if (st->request_sent) {
        /* Only the opening request goes out; the framing carries the rest. */
        qv_buf_free(text);
        return 0;
    }
    if (len == 0)
        return -1;
    copy = qv_buf_new(len);
    if (!copy)
        return -1;
    memcpy(copy->data, text->data + text->start, len);
    copy->end = len;
    pf_mutex_lock(&st->lock);
    if (!qv_list_push(&st->text_q, copy)) {
        pf_mutex_unlock(&st->lock);
        qv_buf_free(copy);
        return -1;
    }
    st->request_sent = 1;
    qv_sock_set_pending(st->sock, 1);
    pf_mutex_unlock(&st->lock);
    qv_buf_free(text);
    return 0;
}

/* Shared media blocks of NSPP sessions have no producer in this library; the
 * operation refuses them rather than guess their layout. */
static int send_md_refuse(void *p, qv_list *blocks) { return -1; }

static int send_md_upgrade(void *p, qv_list *blocks)
{
    nspp_state *st = (nspp_state *)p;
    const qv_tag_set *t = qv_tags();
    int rc = 0;
    while (blocks && blocks->head) {
        qv_obj *obj = (qv_obj *)qv_list_pop(blocks);
        if (obj && obj->type == t->buf && obj->payload) {
            qv_buf *b = qv_obj_buf(obj);
            if (queue_frame(st, &st->media_q, NSPP_KIND_MEDIA, b->data + b->start, qv_buf_size(b), NP_SUB_UPGRADE) != 0)
                rc = -1;
        } else {
            rc = -1;
        }
        qv_obj_release(obj);
    }
    return rc;
}

static int on_writable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    nspp_state *st = (nspp_state *)c->state;
    int total = 0, first = 1;
    pf_mutex_lock(&st->lock);
    for (;;) {
        qv_buf *cur;
        long n;
        if (!st->tx_text && !st->tx_media) {
            st->tx_text = (qv_buf *)qv_list_pop(&st->text_q);
            if (!st->tx_text && qv_sock_state(s) == 0)
                st->tx_media = (qv_buf *)qv_list_pop(&st->media_q);
            if (!st->tx_text && !st->tx_media) {
                qv_sock_set_pending(s, 0);
                break;
            }
        }
        cur = st->tx_text ? st->tx_text : st->tx_media;
        n = s->ops->send(s, cur->data + cur->start, cur->end - cur->start);
        if (n == -2)
            break;
        if (n <= 0) {
            if (first)
                fail(st, n == 0 ? NCM_EV_PEER_CLOSED : NCM_EV_IO_FAILED);
            break;
        }
        first = 0;
        total += (int)n;
        cur->start += (uint32_t)n;
        if (cur->start == cur->end) {
            if (cur == st->tx_text)
                st->tx_text = NULL;
            else
                st->tx_media = NULL;
            qv_buf_free(cur);
        }
    }
    pf_mutex_unlock(&st->lock);
    return total;
}

static void tick_heartbeat(void *p, uint32_t now)
{
    nspp_state *st = (nspp_state *)p;
    if (pf_tick_diff(now, st->last_heartbeat) < NSPP_HEARTBEAT_MS)
        return;
    st->last_heartbeat = now;
    queue_frame(st, &st->text_q, NSPP_KIND_HEARTBEAT, NULL, 0, st->upgrade ? NP_SUB_UPGRADE : 0);
}

static void tick_none(void *p, uint32_t now) {}

/* ---- reading ---- */

/* Reads from what the HTTP buffer still holds, then from the socket.
 * Returns bytes, 0 peer closed, -1 failure, -2 nothing more for now. */
static long read_some(nspp_state *st, void *dst, uint32_t len, int *first)
{
    long n;
    if (st->hbuf && st->http_phase == 1 && st->hcons < st->hfill) {
        uint32_t avail = st->hfill - st->hcons;
        if (avail > len)
            avail = len;
        memcpy(dst, st->hbuf + st->hcons, avail);
        st->hcons += avail;
        if (st->hcons == st->hfill) {
            free(st->hbuf);
            st->hbuf = NULL;
        }
        return (long)avail;
    }
    n = st->sock->ops->recv(st->sock, dst, len);
    if (n == -2)
        return -2;
    if (n <= 0) {
        if (*first)
            fail(st, n == 0 ? NCM_EV_PEER_CLOSED : NCM_EV_IO_FAILED);
        return n == 0 ? 0 : -1;
    }
    *first = 0;
    return n;
}

static int start_body(nspp_state *st)
{
    nspp_head_info *h = &st->cur;
    int continuation = h->klass == 2 || h->klass == 3;
    if (h->kind == NSPP_KIND_HEARTBEAT) {
        st->head_fill = 0;
        return 0;
    }
    if (h->kind == NSPP_KIND_TEXT) {
        uint32_t have = st->text ? st->text->end : 0;
        if (continuation != (st->text != NULL))
            return NCM_EV_BAD_FRAME;
        if ((uint64_t)have + h->length > NSPP_TEXT_MAX)
            return NCM_EV_TOO_LARGE;
        st->text_left = h->length;
        st->phase = PH_TEXT;
        return 0;
    }
    /* media */
    if (st->upgrade) {
        if (h->length > NSPP_UPGRADE_MEDIA_MAX)
            return NCM_EV_TOO_LARGE;
        st->media = qv_buf_new(h->length + 16);
        if (!st->media)
            return NCM_EV_TOO_LARGE;
        st->media_left = h->length;
        st->phase = PH_MEDIA;
        return 0;
    }
    if (continuation != (st->media != NULL))
        return NCM_EV_BAD_FRAME;
    if (!continuation) {
        /* A first part must hold the whole media head. */
        if (h->length < MEDIA_HEAD_SIZE)
            return NCM_EV_BAD_FRAME;
        st->media = qv_buf_new(4096);
        if (!st->media)
            return NCM_EV_TOO_LARGE;
        st->media_total = 0;
    } else if (st->media_total && (uint64_t)st->media->end + h->length > st->media_total) {
        return NCM_EV_BAD_FRAME;
    }
    st->media_left = h->length;
    st->phase = PH_MEDIA;
    return 0;
}

static int text_step(nspp_state *st, int *first, int *total)
{
    qv_buf *t;
    long n;
    if (!st->text) {
        st->text = qv_buf_new(0);
        if (!st->text)
            return NCM_EV_TOO_LARGE;
    }
    t = st->text;
    while ((uint64_t)t->end + st->text_left + 4 >= t->cap) {
        uint32_t next = nspp_text_next_size(t->cap);
        uint8_t *data;
        if (!next)
            return NCM_EV_TOO_LARGE;
        data = (uint8_t *)realloc(t->data, next);
        if (!data)
            return NCM_EV_TOO_LARGE;
        t->data = data;
        t->cap = next;
    }
    n = read_some(st, t->data + t->end, st->text_left, first);
    if (n <= 0)
        return -1;
    *total += (int)n;
    t->end += (uint32_t)n;
    st->text_left -= (uint32_t)n;
    if (st->text_left)
        return 0;
    if (st->cur.klass == 0 || st->cur.klass == 3) {
        int rc;
        t->data[t->end] = 0;
        st->text = NULL;
        if ((rc = ncm_post_text(st->m, st->proto, st->id, t)) != 0) {
            qv_buf_free(t);
            if (rc == NCM_EV_TOO_LARGE)
                return rc;
        }
    }
    st->phase = PH_HEAD;
    st->head_fill = 0;
    return 0;
}

/* Called once the first 32 bytes of a media body are in: sizes the buffer
 * from the media head and checks the frame against it. */
static int media_head_ready(nspp_state *st)
{
    qv_buf *b = st->media;
    uint32_t payload = qv_rd32(b->data + 4);
    uint32_t cap;
    if (payload > MEDIA_MAX_PAYLOAD)
        return NCM_EV_TOO_LARGE;
    st->media_total = MEDIA_HEAD_SIZE + payload;
    /* A whole frame is exactly its head and payload; a first part may not
     * run past them. */
    if ((st->cur.klass == 0 && (uint64_t)b->end + st->media_left != st->media_total) ||
        (uint64_t)b->end + st->media_left > st->media_total)
        return NCM_EV_BAD_FRAME;
    cap = (st->media_total & ~3u) + 4;
    if (b->cap < cap) {
        uint8_t *data = (uint8_t *)realloc(b->data, cap);
        if (!data)
            return NCM_EV_TOO_LARGE;
        b->data = data;
        b->cap = cap;
    }
    return 0;
}

static int media_step(nspp_state *st, int *first, int *total)
{
    qv_buf *b = st->media;
    uint32_t want = st->media_left;
    long n;

    if (!st->upgrade && !st->media_total && want > MEDIA_HEAD_SIZE - b->end)
        want = MEDIA_HEAD_SIZE - b->end;
    if (want > b->cap - b->end)
        want = b->cap - b->end;
    if (want == 0)
        return NCM_EV_BAD_FRAME;
    n = read_some(st, b->data + b->end, want, first);
    if (n <= 0)
        return -1;
    *total += (int)n;
    b->end += (uint32_t)n;
    st->media_left -= (uint32_t)n;
    if (!st->upgrade && !st->media_total && b->end >= MEDIA_HEAD_SIZE) {
        int rc = media_head_ready(st);
        if (rc)
            return rc;
    }
    if (st->media_left)
        return 0;
    st->phase = PH_HEAD;
    st->head_fill = 0;
    if (st->upgrade) {
        qv_obj *obj = qv_obj_buf_new(b);
        st->media = NULL;
        if (!obj) {
            qv_buf_free(b);
            return 0;
        }
        b->start = 0;
        if (ncm_post_media(st->m, st->proto, st->id, obj) != 0)
            qv_obj_release(obj);
        return 0;
    }
    if (st->cur.klass == 0 || st->cur.klass == 3) {
        qv_obj *obj;
        if (b->end != st->media_total)
            return NCM_EV_BAD_FRAME;
        st->media = NULL;
        st->media_total = 0;
        obj = qv_md_obj_new(b);
        if (!obj) {
            qv_buf_free(b);
            return 0;
        }
        if (ncm_post_media(st->m, st->proto, st->id, obj) != 0)
            qv_obj_release(obj);
    }
    return 0;
}

static int head_step(nspp_state *st, int *first, int *total)
{
    long n = read_some(st, st->head + st->head_fill, NSPP_HEAD_SIZE - st->head_fill, first);
    if (n <= 0)
        return -1;
    *total += (int)n;
    st->head_fill += (uint32_t)n;
    if (st->head_fill < NSPP_HEAD_SIZE)
        return 0;
    {
        int rc = nspp_head_parse(st->head, st->upgrade ? 0 : 3, &st->cur);
        if (rc)
            return rc;
    }
    return start_body(st);
}

static int is_blank(uint8_t c) { return c == ' ' || c == '\t'; }

int nspp_http_content_length(const uint8_t *header, uint32_t len, uint32_t max, uint32_t *out)
{
    static const char name[] = "content-length";
    const uint32_t name_len = sizeof name - 1;
    const uint8_t *line = header, *end = header + len;
    int found = 0;
    *out = 0;
    /* The status line first; then one field per line, "name: value". */
    while (line < end) {
        const uint8_t *eol = (const uint8_t *)memchr(line, '\n', (size_t)(end - line));
        const uint8_t *v, *v_end, *d;
        char digits[24];
        long value;
        if (!eol)
            eol = end;
        if (line != header && (uint32_t)(eol - line) > name_len && line[name_len] == ':' &&
            strncasecmp((const char *)line, name, name_len) == 0) {
            v = line + name_len + 1;
            v_end = eol > v && eol[-1] == '\r' ? eol - 1 : eol;
            while (v < v_end && is_blank(*v))
                v++;
            while (v_end > v && is_blank(v_end[-1]))
                v_end--;
            /* Digits only: strtol alone would also take a sign or a 0x. */
            if (v == v_end)
                return NCM_EV_BAD_FRAME;
            for (d = v; d < v_end; d++) {
                if (*d < '0' || *d > '9')
                    return NCM_EV_BAD_FRAME;
            }
            if ((size_t)(v_end - v) >= sizeof digits)
                return NCM_EV_TOO_LARGE;
            memcpy(digits, v, (size_t)(v_end - v));
            digits[v_end - v] = 0;
            errno = 0;
            value = strtol(digits, NULL, 10);
            if (errno == ERANGE || value > (long)max)
                return NCM_EV_TOO_LARGE;
            /* Two lengths that disagree leave the body's end unknown. */
            if (found && (uint32_t)value != *out)
                return NCM_EV_BAD_FRAME;
            found = 1;
            *out = (uint32_t)value;
        }
        line = eol + 1;
    }
    return 0;
}

/* HTTP phase of NSPP_HTTP: collect the response header and its body. */
static int http_step(nspp_state *st, int *first, int *total)
{
    long n;
    const uint8_t *end;
    uint32_t room = HTTP_BUF_SIZE - st->hfill - 4;
    if (st->hfill + 4 >= HTTP_BUF_SIZE)
        return NCM_EV_TOO_LARGE;
    n = st->sock->ops->recv(st->sock, st->hbuf + st->hfill, room);
    if (n == -2)
        return -1;
    if (n <= 0) {
        if (*first)
            fail(st, n == 0 ? NCM_EV_PEER_CLOSED : NCM_EV_IO_FAILED);
        return -1;
    }
    *first = 0;
    *total += (int)n;
    st->hfill += (uint32_t)n;
    end = qv_memfind(st->hbuf, st->hfill, "\r\n\r\n", 4);
    if (!end)
        return st->hfill + 4 >= HTTP_BUF_SIZE ? NCM_EV_TOO_LARGE : 0;
    {
        uint32_t header_len = (uint32_t)(end - st->hbuf) + 4;
        uint32_t content = 0;
        qv_buf *text;
        int rc = nspp_http_content_length(st->hbuf, header_len, HTTP_BUF_SIZE - 4 - header_len, &content);
        if (rc)
            return rc;
        if (st->hfill < header_len + content)
            return 0;
        text = qv_buf_new(header_len + content + 1);
        if (!text)
            return NCM_EV_TOO_LARGE;
        memcpy(text->data, st->hbuf, header_len + content);
        text->end = header_len + content;
        text->data[text->end] = 0;
        if (ncm_post_text(st->m, st->proto, st->id, text) != 0)
            qv_buf_free(text);
        st->hcons = header_len + content;
        st->http_phase = 1;
        if (st->hcons == st->hfill) {
            free(st->hbuf);
            st->hbuf = NULL;
        }
    }
    return 0;
}

static int on_readable(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now)
{
    nspp_state *st = (nspp_state *)c->state;
    int total = 0, first = 1;
    while (qv_sock_state(s) == 0 && (uint32_t)total < READ_BUDGET) {
        int rc;
        if (st->http && st->http_phase == 0)
            rc = http_step(st, &first, &total);
        else if (st->phase == PH_HEAD)
            rc = head_step(st, &first, &total);
        else if (st->phase == PH_TEXT)
            rc = text_step(st, &first, &total);
        else
            rc = media_step(st, &first, &total);
        if (rc < 0)
            break;
        if (rc > 0) {
            fail(st, rc);
            break;
        }
    }
    return total;
}

static const np_driver g_nspp = {
    create_nspp, state_free, send_text_framed, send_md_refuse, on_readable, on_writable, tick_heartbeat
};
static const np_driver g_upgrade = {
    create_upgrade, state_free, send_text_framed, send_md_upgrade, on_readable, on_writable, tick_heartbeat
};
static const np_driver g_http = {
    create_http, state_free, send_text_http, send_md_refuse, on_readable, on_writable, tick_none
};

const np_driver *nspp_driver(void) { return &g_nspp; }
const np_driver *nspp_upgrade_driver(void) { return &g_upgrade; }
const np_driver *nspp_http_driver(void) { return &g_http; }
