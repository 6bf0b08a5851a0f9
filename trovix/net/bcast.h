/*
 * Broadcast discovery: the checked discovery frame and the endpoint sets
 * (server: answers discover frames; client: sends them and keeps answers).
 */
#ifndef QV_BCAST_H
#define QV_BCAST_H

#include "qv_net.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BCAST_HEAD_SIZE 20
#define BCAST_TRAILER_SIZE 12
#define BCAST_BODY_MAX 1340
#define BCAST_DGRAM_MAX 1500
#define BCAST_RECV_BUF 6000
/* Bound of the stored messages of a set: any host on the network can send
 * them. Beyond either limit the oldest go first. */
#define BCAST_STORE_MAX_MSGS 512u
#define BCAST_STORE_MAX_BYTES (512u * 1024u)

enum { BCAST_DISCOVER = 1, BCAST_RESPOND = 2, BCAST_CLIENT_MSG = 3, BCAST_SERVER_MSG = 4 };

/* 32-bit check of the frame: H1 of the bytes; frames store twice its value. */
uint32_t bcast_tag_hash(const void *data, size_t len);
/* Builds a frame into out; returns its length, or -1 when it doesn't fit or
 * the body is too long. Types 1 and 0 carry no body. */
int bcast_build(uint8_t *out, size_t cap, int type, const void *body, uint32_t n, uint8_t random_byte);

typedef struct bcast_frame_info {
    int type;
    const uint8_t *body;
    uint32_t body_len;
} bcast_frame_info;

/* Looks for one frame in buf[0..len). Returns 1 with *frame filled when one
 * passed every check; *drop is how many leading bytes are spent either way. */
int bcast_parse(const uint8_t *buf, uint32_t len, bcast_frame_info *frame, uint32_t *drop);

typedef struct bcast_set bcast_set;
typedef struct bcast_msg {
    uint32_t protocol;
    int32_t id;
    qv_buf *body; /* zero-terminated */
    int type;
    struct sockaddr_in from;
} bcast_msg;

bcast_set *bcast_set_create(int mode, qv_skdr *d); /* mode 0 server, 1 client */
void bcast_set_free(bcast_set *set);
int bcast_open(bcast_set *set, int32_t id, int32_t idx, const char *ip, uint16_t port);
void bcast_close(bcast_set *set, int32_t id, int32_t idx);
void bcast_close_all(bcast_set *set, int32_t id);
/* Queues a frame on every endpoint with this id; 0 when there was one. */
int bcast_send(bcast_set *set, int32_t id, int type, const char *body, uint32_t n);
int bcast_set_respond(bcast_set *set, const char *text, uint32_t n);
/* Oldest stored message (caller frees body), 1 when none. */
int bcast_take(bcast_set *set, bcast_msg *out);
void bcast_msg_free_body(bcast_msg *msg);

#ifdef __cplusplus
}
#endif

#endif
