/*
 * Socket objects: a non-blocking IPv4 socket with its state, activity tick
 * and buffer, reached through a table of operations so that tests can put
 * an in-memory peer behind the same interface.
 */
#include "qv_net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

static void op_close(qv_socket_x *s)
{
    pf_sock_close(s->fd);
    free(s);
}

static int op_listen(qv_socket_x *s, uint16_t port, int backlog)
{
    struct sockaddr_in a;
    s->role = 1;
    s->port = port;
    qv_strlcpy(s->peer, "127.0.0.1", sizeof s->peer);
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (bind(s->fd, (struct sockaddr *)&a, sizeof a) != 0)
        return -1;
    return listen(s->fd, backlog) == 0 ? 0 : -1;
}

static int op_accept(qv_socket_x *s, qv_socket_x **out)
{
    struct sockaddr_in a;
    socklen_t len = sizeof a;
    qv_socket_x *n;
    int fd = accept(s->fd, (struct sockaddr *)&a, &len);
    *out = NULL;
    if (fd < 0)
        return -1;
    n = (qv_socket_x *)calloc(1, sizeof *n);
    if (!n || pf_sock_set_int_option(fd, SOL_SOCKET, SO_REUSEADDR, 1) != 0 || pf_sock_set_nonblocking(fd) != 0) {
        pf_sock_close(fd);
        free(n);
        return -1;
    }
    n->fd = fd;
    n->ops = s->ops;
    n->family = s->family;
    n->type = s->type;
    n->protocol = s->protocol;
    n->role = 2;
    n->port = ntohs(a.sin_port);
    inet_ntop(AF_INET, &a.sin_addr, n->peer, sizeof n->peer);
    *out = n;
    return 0;
}

static long op_send(qv_socket_x *s, const void *data, size_t len) { return (long)pf_sock_send(s->fd, data, len); }
static long op_recv(qv_socket_x *s, void *buf, size_t len) { return (long)pf_sock_recv(s->fd, buf, len); }

static int op_connect(qv_socket_x *s, const char *ip, uint16_t port)
{
    struct sockaddr_in a;
    s->role = 2;
    s->port = port;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (!ip || inet_pton(AF_INET, ip, &a.sin_addr) != 1)
        return -1;
    qv_strlcpy(s->peer, ip, sizeof s->peer);
    if (connect(s->fd, (struct sockaddr *)&a, sizeof a) == 0)
        return 0;
    return pf_sock_connect_pending(pf_sock_last_error()) ? 0 : -1;
}

static int op_connect_timeout(qv_socket_x *s, const char *ip, uint16_t port, uint32_t ms)
{
    struct pollfd p;
    int err = 0;
    socklen_t len = sizeof err;
    if (op_connect(s, ip, port) != 0)
        return -1;
    p.fd = s->fd;
    p.events = POLLOUT;
    p.revents = 0;
    if (pf_poll(&p, 1, (int)ms) <= 0 || !(p.revents & POLLOUT))
        return -1;
    if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
        return -1;
    return 0;
}

static long op_sendto(qv_socket_x *s, const void *data, size_t len, const struct sockaddr *to, socklen_t tolen)
{
    return (long)pf_sock_sendto(s->fd, data, len, to, tolen);
}

static long op_recvfrom(qv_socket_x *s, void *buf, size_t len, struct sockaddr *from, socklen_t *fromlen)
{
    return (long)pf_sock_recvfrom(s->fd, buf, len, from, fromlen);
}

static const qv_sock_ops g_default_ops = {
    op_close, op_listen, op_accept, op_send, op_recv, op_connect, op_connect_timeout, op_sendto, op_recvfrom
};

const qv_sock_ops *qv_sock_default_ops(void) { return &g_default_ops; }

qv_socket_x *qv_sock_open(int type, int protocol)
{
    qv_socket_x *s;
    pf_socket fd = pf_sock_create(type == 2 ? SOCK_DGRAM : SOCK_STREAM, protocol);
    if (fd == PF_INVALID_SOCKET)
        return NULL;
    if (pf_sock_set_int_option(fd, SOL_SOCKET, SO_REUSEADDR, 1) != 0 || pf_sock_set_nonblocking(fd) != 0) {
        pf_sock_close(fd);
        return NULL;
    }
    s = (qv_socket_x *)calloc(1, sizeof *s);
    if (!s) {
        pf_sock_close(fd);
        return NULL;
    }
    s->fd = fd;
    s->family = AF_INET;
    s->type = type;
    s->protocol = protocol;
    s->ops = &g_default_ops;
    return s;
}

int qv_sock_no_delay(qv_socket_x *s)
{
    if (!s || s->ops != &g_default_ops)
        return -1; /* a test's in-memory peer has no such option */
    return pf_sock_set_no_delay(s->fd);
}

void qv_sock_release(qv_socket_x *s)
{
    if (!s)
        return;
    qv_buf_free(s->buf);
    s->buf = NULL;
    s->ops->close(s);
}

void qv_sock_fail(qv_socket_x *s, int code)
{
    int expected = 0;
    __atomic_compare_exchange_n(&s->state, &expected, code, 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

void qv_sock_set_pending(qv_socket_x *s, int on)
{
    if (on)
        __atomic_or_fetch(&s->flags, QV_SOCK_OUTPUT_PENDING, __ATOMIC_ACQ_REL);
    else
        __atomic_and_fetch(&s->flags, ~QV_SOCK_OUTPUT_PENDING, __ATOMIC_ACQ_REL);
}
