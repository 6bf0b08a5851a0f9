/*
 * Pieces shared by the drivers that speak plain text before or beside their
 * stream (RTSP, HTTP-FLV): the length of one HTTP-style message at the front
 * of a buffer, and a queue of unframed texts with its writer.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

static int lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

/* Header names are compared without regard to case (RFC 9110 5.1). */
static int name_is(const uint8_t *p, const uint8_t *end, const char *name)
{
    size_t n = strlen(name), i;
    if ((size_t)(end - p) < n)
        return 0;
    for (i = 0; i < n; i++) {
        if (lower(p[i]) != lower((unsigned char)name[i]))
            return 0;
    }
    return 1;
}

int np_message_length(const uint8_t *data, uint32_t n, uint32_t max, uint32_t *total)
{
    const uint8_t *end = qv_memfind(data, n, "\r\n\r\n", 4);
    const uint8_t *line, *head_end;
    uint64_t content = 0;
    uint32_t head_len;
    int seen = 0;

    if (!end)
        return n + 4 > max ? NCM_EV_TOO_LARGE : -1;
    head_len = (uint32_t)(end - data) + 4;
    head_end = data + head_len - 2;
    /* Every header line after the start line; a Content-Length header must
     * hold digits only (optional white space around them), at most once. */
    for (line = qv_memfind(data, head_len, "\r\n", 2); line && line + 2 < head_end;) {
        const uint8_t *p = line + 2;
        const uint8_t *eol = qv_memfind(p, (size_t)(head_end - p), "\r\n", 2);
        if (!eol)
            eol = head_end;
        if (name_is(p, eol, "content-length")) {
            const uint8_t *v = p + 14;
            int digits = 0;
            while (v < eol && (*v == ' ' || *v == '\t'))
                v++;
            if (v == eol || *v != ':' || seen)
                return NCM_EV_BAD_FRAME;
            v++;
            while (v < eol && (*v == ' ' || *v == '\t'))
                v++;
            for (; v < eol && *v >= '0' && *v <= '9'; v++, digits++) {
                content = content * 10 + (uint64_t)(*v - '0');
                if (content > max)
                    return NCM_EV_TOO_LARGE;
            }
            while (v < eol && (*v == ' ' || *v == '\t'))
                v++;
            if (!digits || v != eol)
                return NCM_EV_BAD_FRAME;
            seen = 1;
        }
        line = eol;
    }
    if ((uint64_t)head_len + content + 1 > max)
        return NCM_EV_TOO_LARGE;
    *total = head_len + (uint32_t)content;
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
