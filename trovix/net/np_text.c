/*
 * Pieces shared by the drivers that speak plain text before or beside their
 * stream (RTSP, HTTP-FLV): the length of one HTTP-style message at the front
 * of a buffer, a queue of unframed texts with its writer, and the receive
 * loop over one buffer.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

int np_message_length(const uint8_t *data, uint32_t n, uint32_t max, uint32_t *total)
{
    const uint8_t *end = qv_memfind(data, n, "\r\n\r\n", 4);
    uint32_t head_len, content = 0;
    int rc;
    if (!end)
        return n + 4 > max ? NCM_EV_TOO_LARGE : -1;
    head_len = (uint32_t)(end - data) + 4;
    if (head_len + 1 > max)
        return NCM_EV_TOO_LARGE;
    /* Room is left for the terminating zero of the posted text. */
    rc = nspp_http_content_length(data, head_len, max - head_len - 1, &content);
    if (rc)
        return rc;
    *total = head_len + content;
    return *total <= n ? 0 : -1;
}

void np_txq_init(np_txq *q)
{
    memset(q, 0, sizeof *q);
    qv_list_init(&q->queue);
    pf_mutex_init(&q->lock);
}

static void buf_free_value(void *p) { qv_buf_free((qv_buf *)p); }

void np_txq_free(np_txq *q)
{
    qv_buf_free(q->cur);
    qv_list_clear(&q->queue, buf_free_value);
    pf_mutex_destroy(&q->lock);
}

int np_txq_push(np_txq *q, qv_socket_x *s, qv_buf *text)
{
    qv_buf *copy;
    uint32_t len = qv_buf_size(text);
    if (len == 0)
        return -1;
    /* A copy of exactly the content: the caller's buffer may be larger. */
    copy = qv_buf_new(len);
    if (!copy)
        return -1;
    memcpy(copy->data, text->data + text->start, len);
    copy->end = len;
    pf_mutex_lock(&q->lock);
    if (!qv_list_push(&q->queue, copy)) {
        pf_mutex_unlock(&q->lock);
        qv_buf_free(copy);
        return -1;
    }
    qv_sock_set_pending(s, 1);
    pf_mutex_unlock(&q->lock);
    qv_buf_free(text);
    return 0;
}

int np_txq_write(np_txq *q, qv_socket_x *s, int *failed)
{
    int total = 0, first = 1;
    *failed = 0;
    pf_mutex_lock(&q->lock);
    for (;;) {
        long n;
        if (!q->cur && !(q->cur = (qv_buf *)qv_list_pop(&q->queue))) {
            qv_sock_set_pending(s, 0);
            break;
        }
        n = s->ops->send(s, q->cur->data + q->cur->start, q->cur->end - q->cur->start);
        if (n == -2)
            break;
        if (n <= 0) {
            if (first)
                *failed = n == 0 ? NCM_EV_PEER_CLOSED : NCM_EV_IO_FAILED;
            break;
        }
        first = 0;
        total += (int)n;
        q->cur->start += (uint32_t)n;
        if (q->cur->start == q->cur->end) {
            qv_buf_free(q->cur);
            q->cur = NULL;
        }
    }
    pf_mutex_unlock(&q->lock);
    return total;
}

/* Bytes taken per readable event, so one busy peer can't starve the others. */
#define READ_BUDGET (4u * 1024u * 1024u)

int np_stream_init(np_stream *io, qv_ncm *m, uint32_t id, qv_socket_x *s, uint32_t protocol, uint32_t cap)
{
    memset(io, 0, sizeof *io);
    io->rbuf = (uint8_t *)malloc(cap);
    if (!io->rbuf)
        return -1;
    io->cap = cap;
    io->m = m;
    io->sock = s;
    io->id = id;
    io->protocol = protocol;
    np_txq_init(&io->tx);
    return 0;
}

void np_stream_free(np_stream *io)
{
    np_txq_free(&io->tx);
    free(io->rbuf);
}

void np_stream_fail(np_stream *io, int code)
{
    if (qv_sock_state(io->sock) != 0)
        return;
    qv_sock_fail(io->sock, code);
    ncm_post_event(io->m, io->protocol, io->id, code);
}

int np_stream_read(np_stream *io, np_parse_fn parse, void *user)
{
    int total = 0, first = 1;
    while (qv_sock_state(io->sock) == 0 && (uint32_t)total < READ_BUDGET) {
        long n, used;
        if (io->fill + 4 >= io->cap) {
            np_stream_fail(io, NCM_EV_TOO_LARGE);
            break;
        }
        n = io->sock->ops->recv(io->sock, io->rbuf + io->fill, io->cap - io->fill - 4);
        if (n == -2)
            break;
        if (n <= 0) {
            /* Only the first receive of an event tells a closed peer. */
            if (first)
                np_stream_fail(io, n == 0 ? NCM_EV_PEER_CLOSED : NCM_EV_IO_FAILED);
            break;
        }
        first = 0;
        total += (int)n;
        io->fill += (uint32_t)n;
        used = parse(user, io->rbuf, io->fill);
        if (used < 0) {
            np_stream_fail(io, (int)-used);
            break;
        }
        if (used) {
            memmove(io->rbuf, io->rbuf + used, io->fill - (uint32_t)used);
            io->fill -= (uint32_t)used;
        }
    }
    return total;
}

int np_stream_write(np_stream *io)
{
    int failed = 0;
    int total = np_txq_write(&io->tx, io->sock, &failed);
    if (failed)
        np_stream_fail(io, failed);
    return total;
}
