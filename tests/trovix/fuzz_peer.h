/*
 * The peer of the library's stream fuzz targets: the fuzzer's input is what
 * a peer sends, cut into receives whose sizes come from the first bytes, and
 * one protocol driver's reader runs over it until it stops.
 */
#ifndef FUZZ_PEER_H
#define FUZZ_PEER_H

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

static void fuzz_peer_close(qv_socket_x *s) { (void)s; }
static long fuzz_peer_send(qv_socket_x *s, const void *d, size_t n) { (void)s; (void)d; return (long)n; }

static long fuzz_peer_recv(qv_socket_x *s, void *buf, size_t len)
{
    fuzz_peer *p = (fuzz_peer *)s->user;
    size_t left = p->size - p->pos, n;
    if (left == 0)
        return 0;
    n = (size_t)(p->chunk_seed = (uint8_t)(p->chunk_seed * 37u + 11u)) % 97u + 1u;
    /* Now and then a large receive, as a fast peer gives. */
    if ((p->chunk_seed & 0x0F) == 0)
        n *= 997u;
    if (n > left)
        n = left;
    if (n > len)
        n = len;
    memcpy(buf, p->data + p->pos, n);
    p->pos += n;
    return (long)n;
}

static const qv_sock_ops fuzz_peer_ops = { fuzz_peer_close, NULL, NULL, fuzz_peer_send, fuzz_peer_recv,
                                           NULL, NULL, NULL, NULL };

static void fuzz_peer_run(const np_driver *drv, uint32_t key, const uint8_t *data, size_t size)
{
    qv_ncm *m = ncm_create(NULL);
    fuzz_peer peer;
    ncm_conn conn;
    ncm_text t;
    ncm_media md;
    int i;
    memset(&peer, 0, sizeof peer);
    peer.sock.fd = -1;
    peer.sock.ops = &fuzz_peer_ops;
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
    for (i = 0; i < 100000 && qv_sock_state(&peer.sock) == 0; i++) {
        drv->on_readable(m, &conn, 1, &peer.sock, 0);
        /* What the driver posted is read, as the library's threads would. */
        while (ncm_take_text(m, &t) == 0)
            qv_buf_free(t.text);
        while (ncm_take_media(m, &md) == 0) {
            if (md.obj->type == qv_tags()->buf_md) {
                qv_buf_md *rec = (qv_buf_md *)md.obj->payload;
                volatile uint8_t sink = 0;
                uint32_t k;
                for (k = rec->buf.start; k < rec->buf.end; k += 64)
                    sink ^= rec->buf.data[k];
                (void)sink;
            }
            qv_obj_release(md.obj);
        }
    }
    drv->free(conn.state);
    ncm_free(m);
}

#endif
