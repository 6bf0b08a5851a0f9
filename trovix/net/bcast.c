/*
 * Broadcast discovery over UDP.
 *
 * Frame: 20-byte header {0x01FA5A5F, (20 + n) | kind << 24, 0, type, 3 zero
 * bytes, 2 x H1(bytes 0-15)}, n bytes of text, 12-byte trailer {0,
 * 0xF5A5AF00 | random byte, 2 x H1(trailer bytes 0-7)}; all little-endian.
 */
#include "bcast.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define BCAST_FRAME_MIN 32u
#define BCAST_FRAME_MAX 1380u
#define RESPOND_GAP_MS 1000u
/* A flood of messages is reported at most this often. */
#define DROP_REPORT_MS 10000u

uint32_t bcast_tag_hash(const void *data, size_t len) { return qv_h1(data, len); }

int bcast_build(uint8_t *out, size_t cap, int type, const void *body, uint32_t n, uint8_t random_byte)
{
    uint32_t kind = type >= 2 ? 2u : 0u;
    uint32_t total;
    uint8_t *tr;
    if (type < 2)
        n = 0;
    if (n > BCAST_BODY_MAX)
        return -1;
    total = BCAST_HEAD_SIZE + n + BCAST_TRAILER_SIZE;
    if (cap < total)
        return -1;
    memset(out, 0, BCAST_HEAD_SIZE);
    qv_wr32(out, 0x01FA5A5Fu);
    out[12] = (uint8_t)type;
    if (n)
        memcpy(out + BCAST_HEAD_SIZE, body, n);
    tr = out + BCAST_HEAD_SIZE + n;
    qv_wr32(tr, 0);
    qv_wr32(tr + 4, 0xF5A5AF00u | random_byte);
    qv_wr32(tr + 8, 2u * bcast_tag_hash(tr, 8));
    qv_wr32(out + 4, (BCAST_HEAD_SIZE + n) | kind << 24);
    qv_wr32(out + 16, 2u * bcast_tag_hash(out, 16));
    return (int)total;
}

int bcast_parse(const uint8_t *buf, uint32_t len, bcast_frame_info *frame, uint32_t *drop)
{
    static const uint8_t magic[3] = { 0x5F, 0x5A, 0xFA };
    const uint8_t *m;
    uint32_t p, total, w0, w1;
    const uint8_t *tr;
    *drop = 0;
    if (len < BCAST_HEAD_SIZE)
        return 0;
    m = qv_memfind(buf, len, magic, 3);
    if (!m) {
        if (len >= BCAST_DGRAM_MAX)
            *drop = len - BCAST_HEAD_SIZE;
        return 0;
    }
    p = (uint32_t)(m - buf);
    *drop = p + BCAST_HEAD_SIZE < len ? p + BCAST_HEAD_SIZE : len;
    if (len - p <= 31)
        return 0;
    w0 = qv_rd32(buf + p);
    w1 = qv_rd32(buf + p + 4);
    if (((w0 >> 24) & 0xFu) != 1u || (w0 >> 28) != 0u)
        return 0;
    if (qv_rd32(buf + p + 16) != 2u * bcast_tag_hash(buf + p, 16))
        return 0;
    total = (w1 & 0xFFFFFFu) + BCAST_TRAILER_SIZE;
    if (total < BCAST_FRAME_MIN || total > BCAST_FRAME_MAX)
        return 0;
    if (len - p < total) {
        *drop = p;
        return 0;
    }
    tr = buf + p + total - BCAST_TRAILER_SIZE;
    if ((qv_rd32(tr + 4) & 0xFFFFFF00u) != 0xF5A5AF00u || qv_rd32(tr + 8) != 2u * bcast_tag_hash(tr, 8))
        return 0;
    frame->type = buf[p + 12];
    frame->body = buf + p + BCAST_HEAD_SIZE;
    frame->body_len = total - BCAST_FRAME_MIN;
    *drop = p + total;
    return 1;
}

/* ---- endpoint sets ---- */
typedef struct bcast_dgram {
    int type;
    uint32_t len;
    uint8_t data[BCAST_DGRAM_MAX];
} bcast_dgram;

typedef struct bcast_endpoint {
    int32_t idx;
    int32_t id;
    uint16_t port;
    struct sockaddr_in dest;
    qv_socket_x *sock;
    uint8_t rbuf[BCAST_RECV_BUF];
    uint32_t rfill;
    uint8_t dgram[BCAST_DGRAM_MAX];
    bcast_dgram *tx;
    qv_list txq;
    uint32_t last_respond;
    int responded;
} bcast_endpoint;

struct bcast_set {
    int mode;
    qv_buf *respond;
    qv_hmap *endpoints;
    qv_list closes;
    qv_list msgs;
    uint32_t msg_bytes;   /* body bytes of the stored messages */
    uint32_t dropped;     /* dropped since the last report */
    uint32_t last_report;
    int reported;
    qv_skdr *skdr;
    pf_mutex lock;
};

static void msg_free(void *p)
{
    bcast_msg *m = (bcast_msg *)p;
    qv_buf_free(m->body);
    free(m);
}

void bcast_msg_free_body(bcast_msg *msg)
{
    qv_buf_free(msg->body);
    msg->body = NULL;
}

static void endpoint_free(bcast_endpoint *ep)
{
    free(ep->tx);
    qv_list_clear(&ep->txq, free);
    free(ep);
}

static void set_ticker(void *user, uint32_t now)
{
    bcast_set *set = (bcast_set *)user;
    pf_mutex_lock(&set->lock);
    while (set->closes.head) {
        int32_t *key = (int32_t *)qv_list_pop(&set->closes);
        qv_hmap_entry *e = qv_hmap_find(set->endpoints, key, 2 * sizeof *key);
        if (e) {
            bcast_endpoint *ep = (bcast_endpoint *)e->value;
            qv_sock_fail(ep->sock, NCM_EV_CLOSED);
            skdr_close(set->skdr, (uint32_t)ep->id, (uint32_t)ep->idx);
            qv_hmap_remove(set->endpoints, e);
            endpoint_free(ep);
        }
        free(key);
    }
    pf_mutex_unlock(&set->lock);
}

bcast_set *bcast_set_create(int mode, qv_skdr *d)
{
    bcast_set *set = (bcast_set *)calloc(1, sizeof *set);
    if (!set)
        return NULL;
    set->mode = mode;
    set->skdr = d;
    set->endpoints = qv_hmap_create(10000);
    if (!set->endpoints) {
        free(set);
        return NULL;
    }
    pf_mutex_init(&set->lock);
    qv_list_init(&set->closes);
    qv_list_init(&set->msgs);
    skdr_add_ticker(d, set_ticker, set);
    return set;
}

void bcast_set_free(bcast_set *set)
{
    qv_hmap_entry *e;
    if (!set)
        return;
    skdr_remove_ticker(set->skdr, set_ticker, set);
    pf_mutex_lock(&set->lock);
    for (e = set->endpoints->head; e; e = e->next) {
        bcast_endpoint *ep = (bcast_endpoint *)e->value;
        qv_sock_fail(ep->sock, NCM_EV_CLOSED);
        skdr_close(set->skdr, (uint32_t)ep->id, (uint32_t)ep->idx);
        endpoint_free(ep);
    }
    qv_hmap_free(set->endpoints);
    qv_list_clear(&set->closes, free);
    qv_list_clear(&set->msgs, msg_free);
    qv_buf_free(set->respond);
    pf_mutex_unlock(&set->lock);
    pf_mutex_destroy(&set->lock);
    free(set);
}

/* Queues a datagram on one endpoint; the set lock is held. */
static void queue_dgram(bcast_endpoint *ep, int type, const void *body, uint32_t n)
{
    bcast_dgram *d = (bcast_dgram *)malloc(sizeof *d);
    int len;
    if (!d)
        return;
    len = bcast_build(d->data, sizeof d->data, type, body, n, (uint8_t)(rand() & 0xFF));
    if (len < 0 || !qv_list_push(&ep->txq, d)) {
        free(d);
        return;
    }
    d->type = type;
    d->len = (uint32_t)len;
    qv_sock_set_pending(ep->sock, 1);
}

static void unstore_msg(bcast_set *set, qv_list_node *node)
{
    bcast_msg *m = (bcast_msg *)node->value;
    set->msg_bytes -= qv_buf_size(m->body);
    msg_free(m);
    qv_list_unlink(&set->msgs, node);
}

/* Drops the oldest messages until one of n bytes fits; the set lock is held. */
static void make_room(bcast_set *set, uint32_t n)
{
    uint32_t before = set->dropped;
    uint32_t now;
    while (set->msgs.head &&
           (set->msgs.count >= BCAST_STORE_MAX_MSGS || set->msg_bytes + n > BCAST_STORE_MAX_BYTES)) {
        unstore_msg(set, set->msgs.head);
        set->dropped++;
    }
    if (set->dropped == before)
        return;
    now = pf_tick_ms();
    if (set->reported && pf_tick_diff(now, set->last_report) < DROP_REPORT_MS)
        return;
    fprintf(stderr, "trovix: discovery messages beyond %u or %u bytes: %u oldest dropped\n",
            BCAST_STORE_MAX_MSGS, BCAST_STORE_MAX_BYTES, set->dropped);
    fflush(stderr);
    set->dropped = 0;
    set->last_report = now;
    set->reported = 1;
}

static void store_msg(bcast_set *set, bcast_endpoint *ep, int type, const uint8_t *body, uint32_t n,
                      const struct sockaddr_in *from)
{
    qv_list_node *node = set->msgs.head;
    bcast_msg *m;
    if (n == 0)
        return;
    /* Keep only the newest message of each sender, kind and size. */
    while (node) {
        qv_list_node *next = node->next;
        bcast_msg *old = (bcast_msg *)node->value;
        if (old->protocol == NP_NSPP_BROADCAST && old->id == ep->id && old->type == type &&
            old->from.sin_addr.s_addr == from->sin_addr.s_addr && old->from.sin_port == from->sin_port &&
            qv_buf_size(old->body) == n)
            unstore_msg(set, node);
        node = next;
    }
    make_room(set, n);
    m = (bcast_msg *)calloc(1, sizeof *m);
    if (!m)
        return;
    m->body = qv_buf_new(n + 1);
    if (!m->body) {
        free(m);
        return;
    }
    memcpy(m->body->data, body, n);
    m->body->data[n] = 0;
    m->body->end = n;
    m->protocol = NP_NSPP_BROADCAST;
    m->id = ep->id;
    m->type = type;
    m->from = *from;
    if (!qv_list_push(&set->msgs, m))
        msg_free(m);
    else
        set->msg_bytes += n;
}

static void dispatch(bcast_set *set, bcast_endpoint *ep, const bcast_frame_info *f, const struct sockaddr_in *from)
{
    if (set->mode == 0) {
        if (f->type == BCAST_DISCOVER) {
            uint32_t n = qv_buf_size(set->respond);
            qv_hmap_entry *e;
            if (n < 1 || n > BCAST_BODY_MAX)
                return;
            for (e = set->endpoints->head; e; e = e->next) {
                bcast_endpoint *other = (bcast_endpoint *)e->value;
                if (other->id == ep->id)
                    queue_dgram(other, BCAST_RESPOND, set->respond->data + set->respond->start, n);
            }
            skdr_wake(set->skdr);
        } else if (f->type == BCAST_CLIENT_MSG) {
            store_msg(set, ep, f->type, f->body, f->body_len, from);
        }
    } else if (f->type == BCAST_RESPOND || f->type == BCAST_SERVER_MSG) {
        store_msg(set, ep, f->type, f->body, f->body_len, from);
    }
}

static int on_readable(void *user, void *ctx, uint32_t id, qv_socket_x *s, uint32_t now)
{
    bcast_set *set = (bcast_set *)user;
    bcast_endpoint *ep = (bcast_endpoint *)ctx;
    struct sockaddr_in from;
    socklen_t fromlen = sizeof from;
    bcast_frame_info f;
    uint32_t drop;
    long n;
    pf_mutex_lock(&set->lock);
    memset(&from, 0, sizeof from);
    n = s->ops->recvfrom(s, ep->dgram, sizeof ep->dgram, (struct sockaddr *)&from, &fromlen);
    if (n > 0) {
        /* Each datagram replaces what an earlier one left. */
        memcpy(ep->rbuf, ep->dgram, (size_t)n);
        ep->rfill = (uint32_t)n;
        if (bcast_parse(ep->rbuf, ep->rfill, &f, &drop))
            dispatch(set, ep, &f, &from);
        if (drop > ep->rfill)
            drop = ep->rfill;
        memmove(ep->rbuf, ep->rbuf + drop, ep->rfill - drop);
        ep->rfill -= drop;
    }
    pf_mutex_unlock(&set->lock);
    return n > 0 ? (int)n : 0;
}

static int on_writable(void *user, void *ctx, uint32_t id, qv_socket_x *s, uint32_t now)
{
    bcast_set *set = (bcast_set *)user;
    bcast_endpoint *ep = (bcast_endpoint *)ctx;
    int sent = 0;
    pf_mutex_lock(&set->lock);
    if (!ep->tx) {
        if (ep->responded && pf_tick_diff(now, ep->last_respond) < RESPOND_GAP_MS) {
            /* One answer per second is enough for any number of askers. */
            qv_list_node *node = ep->txq.head;
            while (node) {
                qv_list_node *next = node->next;
                bcast_dgram *d = (bcast_dgram *)node->value;
                if (d->type == BCAST_RESPOND) {
                    free(d);
                    qv_list_unlink(&ep->txq, node);
                }
                node = next;
            }
        }
        ep->tx = (bcast_dgram *)qv_list_pop(&ep->txq);
        if (ep->tx && ep->tx->type == BCAST_RESPOND) {
            ep->last_respond = now;
            ep->responded = 1;
        }
    }
    if (ep->tx) {
        long n = s->ops->sendto(s, ep->tx->data, ep->tx->len, (struct sockaddr *)&ep->dest, sizeof ep->dest);
        /* A datagram that can't go out for any reason but a full buffer is
         * dropped; retrying it would spin. */
        if (n == (long)ep->tx->len || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            if (n > 0)
                sent = (int)n;
            free(ep->tx);
            ep->tx = NULL;
        }
    }
    if (!ep->tx && !ep->txq.head)
        qv_sock_set_pending(s, 0);
    pf_mutex_unlock(&set->lock);
    return sent;
}

int bcast_open(bcast_set *set, int32_t id, int32_t idx, const char *ip, uint16_t port)
{
    int32_t key[2];
    bcast_endpoint *ep;
    struct sockaddr_in any;
    skdr_handlers h;
    key[0] = id;
    key[1] = idx;
    pf_mutex_lock(&set->lock);
    if (qv_hmap_find(set->endpoints, key, sizeof key)) {
        pf_mutex_unlock(&set->lock);
        return -1;
    }
    ep = (bcast_endpoint *)calloc(1, sizeof *ep);
    if (!ep) {
        pf_mutex_unlock(&set->lock);
        return -1;
    }
    ep->id = id;
    ep->idx = idx;
    ep->port = port;
    qv_list_init(&ep->txq);
    ep->dest.sin_family = AF_INET;
    ep->dest.sin_port = htons(port);
    if (!ip || inet_pton(AF_INET, ip, &ep->dest.sin_addr) != 1 || !(ep->sock = qv_sock_open(2, 0))) {
        free(ep);
        pf_mutex_unlock(&set->lock);
        return -1;
    }
    pf_sock_set_int_option(ep->sock->fd, SOL_SOCKET, SO_BROADCAST, 1);
    memset(&any, 0, sizeof any);
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    /* A failed bind still leaves an endpoint that can send. */
    (void)bind(ep->sock->fd, (struct sockaddr *)&any, sizeof any);
    ep->sock->role = 2;
    ep->sock->port = port;
    qv_strlcpy(ep->sock->peer, ip, sizeof ep->sock->peer);
    h.on_readable = on_readable;
    h.on_writable = on_writable;
    h.user = set;
    h.ctx = ep;
    if (qv_hmap_insert(set->endpoints, key, sizeof key, ep) != 0) {
        qv_sock_release(ep->sock);
        free(ep);
        pf_mutex_unlock(&set->lock);
        return -1;
    }
    if (skdr_add(set->skdr, (uint32_t)id, (uint32_t)idx, ep->sock, &h) != 0) {
        qv_hmap_remove(set->endpoints, qv_hmap_find(set->endpoints, key, sizeof key));
        qv_sock_release(ep->sock);
        free(ep);
        pf_mutex_unlock(&set->lock);
        return -1;
    }
    pf_mutex_unlock(&set->lock);
    return 0;
}

static void queue_close(bcast_set *set, int32_t id, int32_t idx)
{
    int32_t *key = (int32_t *)malloc(2 * sizeof *key);
    if (!key)
        return;
    key[0] = id;
    key[1] = idx;
    if (!qv_list_push(&set->closes, key))
        free(key);
}

void bcast_close(bcast_set *set, int32_t id, int32_t idx)
{
    pf_mutex_lock(&set->lock);
    queue_close(set, id, idx);
    pf_mutex_unlock(&set->lock);
}

void bcast_close_all(bcast_set *set, int32_t id)
{
    qv_hmap_entry *e;
    pf_mutex_lock(&set->lock);
    for (e = set->endpoints->head; e; e = e->next) {
        bcast_endpoint *ep = (bcast_endpoint *)e->value;
        if (ep->id == id)
            queue_close(set, ep->id, ep->idx);
    }
    pf_mutex_unlock(&set->lock);
}

int bcast_send(bcast_set *set, int32_t id, int type, const char *body, uint32_t n)
{
    qv_hmap_entry *e;
    int found = 0;
    pf_mutex_lock(&set->lock);
    for (e = set->endpoints->head; e; e = e->next) {
        bcast_endpoint *ep = (bcast_endpoint *)e->value;
        if (ep->id == id) {
            queue_dgram(ep, type, body, n);
            found = 1;
        }
    }
    pf_mutex_unlock(&set->lock);
    if (found)
        skdr_wake(set->skdr);
    return found ? 0 : -1;
}

int bcast_set_respond(bcast_set *set, const char *text, uint32_t n)
{
    qv_buf *b;
    if (n < 1 || n > BCAST_BODY_MAX || !(b = qv_buf_new(n)))
        return -1;
    memcpy(b->data, text, n);
    b->end = n;
    pf_mutex_lock(&set->lock);
    qv_buf_free(set->respond);
    set->respond = b;
    pf_mutex_unlock(&set->lock);
    return 0;
}

int bcast_take(bcast_set *set, bcast_msg *out)
{
    bcast_msg *m;
    pf_mutex_lock(&set->lock);
    m = (bcast_msg *)qv_list_pop(&set->msgs);
    if (m)
        set->msg_bytes -= qv_buf_size(m->body);
    pf_mutex_unlock(&set->lock);
    if (!m)
        return 1;
    *out = *m;
    free(m);
    return 0;
}
