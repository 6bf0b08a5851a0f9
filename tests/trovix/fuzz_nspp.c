/*
 * libFuzzer target of the private framed protocol reader: the input is what
 * a peer sends, cut into receives whose sizes come from the first bytes.
 * Runs the NSPP, NSPP/UPGRADE and NSPP_HTTP readers over it.
 */
#include <stdlib.h>
#include <string.h>

#include "qv_net.h"

typedef struct fuzz_peer {
    qv_socket_x sock;
    const uint8_t *data;
    size_t size;
    size_t pos;
    uint8_t chunk_seed;
} fuzz_peer;

static void f_close(qv_socket_x *s) { (void)s; }
static long f_send(qv_socket_x *s, const void *d, size_t n) { (void)s; (void)d; return (long)n; }

static long f_recv(qv_socket_x *s, void *buf, size_t len)
{
    fuzz_peer *p = (fuzz_peer *)s->user;
    size_t left = p->size - p->pos, n;
    if (left == 0)
        return 0;
    n = (size_t)(p->chunk_seed = (uint8_t)(p->chunk_seed * 37u + 11u)) % 97u + 1u;
    if (n > left)
        n = left;
    if (n > len)
        n = len;
    memcpy(buf, p->data + p->pos, n);
    p->pos += n;
    return (long)n;
}

static const qv_sock_ops fuzz_ops = { f_close, NULL, NULL, f_send, f_recv, NULL, NULL, NULL, NULL };

static void run(const np_driver *drv, uint32_t key, const uint8_t *data, size_t size)
{
    qv_ncm *m = ncm_create(NULL);
    fuzz_peer peer;
    ncm_conn conn;
    ncm_text t;
    ncm_media md;
    int i;
    memset(&peer, 0, sizeof peer);
    peer.sock.fd = -1;
    peer.sock.ops = &fuzz_ops;
    peer.sock.user = &peer;
    peer.data = data;
    peer.size = size;
    peer.chunk_seed = size ? data[0] : 0;
    memset(&conn, 0, sizeof conn);
    conn.sock = &peer.sock;
    conn.id = 1;
    conn.key = key;
    conn.ops = *drv;
    conn.state = drv->create(m, 1, &peer.sock);
    for (i = 0; i < 100000 && qv_sock_state(&peer.sock) == 0; i++)
        drv->on_readable(m, &conn, 1, &peer.sock, 0);
    while (ncm_take_text(m, &t) == 0)
        qv_buf_free(t.text);
    while (ncm_take_media(m, &md) == 0)
        qv_obj_release(md.obj);
    drv->free(conn.state);
    ncm_free(m);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run(nspp_driver(), NP_NSPP, data, size);
    run(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY, data, size);
    run(nspp_http_driver(), NP_NSPP_HTTP, data, size);
    return 0;
}
