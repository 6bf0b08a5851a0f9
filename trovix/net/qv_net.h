/*
 * qv_net: sockets, the socket driver, the connection manager, the media
 * object and the private framed protocol drivers.
 *
 * Threads: one "socket drive" thread per socket driver runs its tickers and
 * every readable/writable handler; other threads only queue work for it.
 */
#ifndef QV_NET_H
#define QV_NET_H

#include "qv_core.h"
#include "trovix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- connection event codes ---- */
enum {
    NCM_EV_TEXT = 0,
    NCM_EV_CLOSED = 1,
    NCM_EV_IO_FAILED = 2,
    NCM_EV_PEER_CLOSED = 3,
    NCM_EV_IDLE = 4,
    NCM_EV_TOO_LARGE = 5,
    NCM_EV_BAD_FRAME = 6,
    NCM_EV_CONNECT = 3584
};

/* Protocol ids (low 16 bits) and sub-protocols (high 16 bits) of a driver key. */
enum {
    NP_HTTP = 2, NP_RTSP = 3, NP_WS = 4, NP_HTTP_FLV = 5,
    NP_NSPP = 20, NP_NSPP_MULTICAST = 21, NP_NSPP_BROADCAST = 22, NP_NSPP_HTTP = 23,
    NP_SUB_MEDIA = 0, NP_SUB_UPGRADE = 1
};
#define NP_KEY(main, sub) ((uint32_t)(main) | (uint32_t)(sub) << 16)
#define NP_NSPP_UPGRADE_KEY NP_KEY(NP_NSPP, NP_SUB_UPGRADE)

/* Idle limit: a connection that received nothing for longer is closed. */
#define NCM_IDLE_MS 20000u

/* ---- socket object ---- */
typedef struct qv_socket_x qv_socket_x;

typedef struct qv_sock_ops {
    void (*close)(qv_socket_x *s);
    int (*listen)(qv_socket_x *s, uint16_t port, int backlog);
    int (*accept)(qv_socket_x *s, qv_socket_x **out);
    /* send/recv: bytes moved, 0 peer closed (recv), -1 failure, -2 would block */
    long (*send)(qv_socket_x *s, const void *data, size_t len);
    long (*recv)(qv_socket_x *s, void *buf, size_t len);
    int (*connect)(qv_socket_x *s, const char *ip, uint16_t port);
    int (*connect_timeout)(qv_socket_x *s, const char *ip, uint16_t port, uint32_t ms);
    long (*sendto)(qv_socket_x *s, const void *data, size_t len, const struct sockaddr *to, socklen_t tolen);
    long (*recvfrom)(qv_socket_x *s, void *buf, size_t len, struct sockaddr *from, socklen_t *fromlen);
} qv_sock_ops;

struct qv_socket_x {
    pf_socket fd;
    int role;           /* 1 listening, 2 connecting or accepted */
    int family, type, protocol;
    uint16_t port;
    char peer[33];
    volatile int state; /* 0 open, else the connection event code that ended it */
    volatile int flags; /* bit 0: output pending */
    volatile uint32_t last_activity;
    qv_buf *buf;
    const qv_sock_ops *ops;
    void *user;         /* for sockets that are not backed by a descriptor */
};

#define QV_SOCK_OUTPUT_PENDING 1

qv_socket_x *qv_sock_open(int type, int protocol);
void qv_sock_release(qv_socket_x *s); /* frees its buffer, then runs its close */
/* Writes go out at once (TCP_NODELAY); -1 when the socket has no such option. */
int qv_sock_no_delay(qv_socket_x *s);
const qv_sock_ops *qv_sock_default_ops(void);
static inline int qv_sock_state(const qv_socket_x *s) { return __atomic_load_n(&s->state, __ATOMIC_ACQUIRE); }
/* Moves the state from 0 to code; later codes don't overwrite the first. */
void qv_sock_fail(qv_socket_x *s, int code);
void qv_sock_set_pending(qv_socket_x *s, int on);
static inline int qv_sock_pending(const qv_socket_x *s) { return __atomic_load_n(&s->flags, __ATOMIC_ACQUIRE) & QV_SOCK_OUTPUT_PENDING; }

/* ---- socket driver ---- */
typedef struct qv_skdr qv_skdr;
typedef int (*skdr_handler)(void *user, void *ctx, uint32_t id, qv_socket_x *s, uint32_t now);
typedef void (*skdr_ticker)(void *user, uint32_t now);

typedef struct skdr_handlers {
    skdr_handler on_readable;
    skdr_handler on_writable;
    void *user;
    void *ctx;
} skdr_handlers;

qv_skdr *skdr_create(void);
void skdr_free(qv_skdr *d);
int skdr_add(qv_skdr *d, uint32_t id, uint32_t sub, qv_socket_x *s, const skdr_handlers *h);
void skdr_close(qv_skdr *d, uint32_t id, uint32_t sub);
int skdr_add_ticker(qv_skdr *d, skdr_ticker fn, void *user);
void skdr_remove_ticker(qv_skdr *d, skdr_ticker fn, void *user);
int skdr_start(qv_skdr *d);
void skdr_stop(qv_skdr *d);
int skdr_running(qv_skdr *d);
/* Ends the current poll early (new output or additions are waiting). */
void skdr_wake(qv_skdr *d);
/* Makes the next pass run the tickers at once (used at shut-down). */
void skdr_kick_tickers(qv_skdr *d);
/* One pass of the thread loop; exposed for tests that drive a driver by hand. */
void skdr_run_once(qv_skdr *d, int wait_ms);
uint32_t skdr_pending_closes(qv_skdr *d);
uint32_t skdr_socket_count(qv_skdr *d);

/* ---- connection manager ---- */
typedef struct qv_ncm qv_ncm;
typedef struct ncm_conn ncm_conn;

typedef struct np_driver {
    void *(*create)(qv_ncm *m, uint32_t id, qv_socket_x *s);
    void (*free)(void *state);
    int (*send_text)(void *state, qv_buf *text);
    int (*send_md)(void *state, qv_list *blocks);
    int (*on_readable)(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now);
    int (*on_writable)(qv_ncm *m, ncm_conn *c, uint32_t id, qv_socket_x *s, uint32_t now);
    void (*tick)(void *state, uint32_t now);
} np_driver;

struct ncm_conn {
    qv_socket_x *sock;
    uint32_t id;
    uint32_t key;
    void *state;
    np_driver ops;
};

typedef struct ncm_text {
    uint32_t protocol;
    uint32_t id;
    int code;
    qv_buf *text; /* only for code 0; content followed by an uncounted zero */
    uint64_t read_no; /* the manager's read count when it was posted (ncm_reads) */
} ncm_text;

typedef struct ncm_media {
    uint32_t protocol;
    uint32_t id;
    qv_obj *obj;
    uint64_t cost; /* bytes it holds while queued */
} ncm_media;

/* What the two queues towards the reading threads may hold. A queued record
 * counts its buffer's allocation and NCM_RECORD_COST besides. Texts: at most
 * NCM_TEXT_QUEUE_MAX bytes per connection and NCM_TEXTS_MAX in all; a text
 * beyond is dropped, and a connection that has NCM_TEXT_FLOOD_DROPS texts
 * dropped before its queue ran empty is ended (event 5). Events are never
 * dropped. Media: at most NCM_MEDIA_QUEUE_MAX bytes; the oldest records go
 * first, each whole. */
#define NCM_RECORD_COST 256u
#define NCM_TEXT_QUEUE_MAX (4u * 1024u * 1024u)
#define NCM_TEXTS_MAX (16u * 1024u * 1024u)
#define NCM_TEXT_FLOOD_DROPS 1024u
#define NCM_MEDIA_QUEUE_MAX (32u * 1024u * 1024u)

typedef struct ncm_queue_usage {
    uint64_t text_bytes, text_peak, texts_dropped;
    uint64_t media_bytes, media_peak, media_dropped;
    uint64_t media_unwanted; /* records of muted connections not queued */
    uint64_t floods_ended;   /* connections ended (event 5) for the text drops above */
} ncm_queue_usage;

typedef void (*ncm_notify)(void *user);

qv_ncm *ncm_create(qv_skdr *d);
void ncm_free(qv_ncm *m);
qv_skdr *ncm_skdr(qv_ncm *m);
int ncm_register_driver(qv_ncm *m, uint32_t key, const np_driver *ops);
/* 0 ok; 256 no complete driver; 2 socket or connect failed; 7 id in use. */
int ncm_connect(qv_ncm *m, uint32_t id, uint32_t key, const char *ip, uint16_t port);
/* Adopts a socket that is already connected (used by tests and listeners). */
int ncm_attach(qv_ncm *m, uint32_t id, uint32_t key, qv_socket_x *s);
int ncm_close(qv_ncm *m, uint32_t id);
/* The driver takes text on 0; on non-zero the caller frees it. -1: no such id. */
int ncm_send_text(qv_ncm *m, uint32_t id, qv_buf *text);
int ncm_send_md(qv_ncm *m, uint32_t id, qv_list *blocks);
int ncm_take_text(qv_ncm *m, ncm_text *out);   /* 1 when empty */
int ncm_take_media(qv_ncm *m, ncm_media *out); /* 1 when empty */
int ncm_post_event(qv_ncm *m, uint32_t protocol, uint32_t id, int code);
/* 0 queued. Otherwise the text was not queued and stays the caller's; with
 * NCM_EV_TOO_LARGE the connection floods and the caller ends it with that
 * event. */
int ncm_post_text(qv_ncm *m, uint32_t protocol, uint32_t id, qv_buf *text);
/* 0 queued; otherwise the object stays the caller's (also for a muted id). */
int ncm_post_media(qv_ncm *m, uint32_t protocol, uint32_t id, qv_obj *obj);
/* From now until the connection is freed its media are dropped, queued ones
 * too; -1 when there is no such connection. */
int ncm_mute_media(qv_ncm *m, uint32_t id);
int ncm_media_muted(qv_ncm *m, uint32_t id);
/* Every readable event of the manager's connections is counted before its
 * handler reads, on the socket thread that also writes their output. So a
 * text posted with read_no n was read before anything queued for sending
 * after ncm_reads() gave n or more went out: it can't answer that. */
uint64_t ncm_reads(qv_ncm *m);
/* Current and largest bytes of both queues and what they dropped. */
void ncm_queue_stats(qv_ncm *m, ncm_queue_usage *out);
/* The manager's ticker: idle rule, driver ticks, queued closes. */
void ncm_tick(qv_ncm *m, uint32_t now);
void ncm_set_notify(qv_ncm *m, ncm_notify on_text, ncm_notify on_media, void *user);
uint32_t ncm_connection_count(qv_ncm *m);
/* Ids of every connection (caller frees *ids). */
uint32_t ncm_connection_ids(qv_ncm *m, uint32_t **ids);
uint32_t ncm_pending_closes(qv_ncm *m);
/* True while any connection still has output queued. */
int ncm_output_pending(qv_ncm *m);

/* ---- media objects ---- */
#define MEDIA_HEAD_SIZE 32
/* Largest media payload accepted from a device. */
#define MEDIA_MAX_PAYLOAD (8u * 1024u * 1024u)

void media_head_parse(const uint8_t raw[MEDIA_HEAD_SIZE], media_head *out);
void media_head_build(uint8_t raw[MEDIA_HEAD_SIZE], const media_head *head);
/* Takes buf (data starts with the 32-byte head, end = fill); count 1. */
qv_obj *qv_md_obj_new(qv_buf *buf);
/* A further wrapper of an existing record that owns one more reference. */
qv_obj *qv_md_obj_wrap(qv_buf_md *md);
int32_t qv_md_ref(qv_buf_md *md);
int32_t qv_md_unref(qv_buf_md *md);

/* ---- private framed protocol ---- */
#define NSPP_HEAD_SIZE 12
#define NSPP_MAGIC 0xFA5A5Fu
#define NSPP_KIND_MEDIA 1u
#define NSPP_KIND_TEXT 2u
#define NSPP_KIND_HEARTBEAT 0xEu
#define NSPP_HEARTBEAT_MS 10000u
/* Largest text message: the largest text buffer less the terminator room. */
#define NSPP_TEXT_MAX (2097152u - 5u)
#define NSPP_UPGRADE_MEDIA_MAX 65524u

typedef struct nspp_head_info {
    uint32_t klass;   /* 0 whole, 1 first, 2 middle, 3 last */
    uint32_t kind;
    uint32_t length;
    uint32_t sub;
} nspp_head_info;

void nspp_head_build(uint8_t out[NSPP_HEAD_SIZE], uint32_t kind, uint32_t length, uint32_t sub);
/* 0 when the header may be read on (max_class 3, or 0 on upgrade), else NCM_EV_BAD_FRAME. */
int nspp_head_parse(const uint8_t in[NSPP_HEAD_SIZE], uint32_t max_class, nspp_head_info *out);
/* Size steps of the text buffer; 0 when cur can't grow. */
uint32_t nspp_text_next_size(uint32_t cur);
/* The Content-Length of an HTTP response header (status line and fields, up to
 * and including the empty line): the field named exactly that, in any case,
 * with a plain decimal value of at most max. 0 with *out set (0 when absent),
 * NCM_EV_TOO_LARGE above max, NCM_EV_BAD_FRAME for a value that is not a
 * number or two values that disagree. */
int nspp_http_content_length(const uint8_t *header, uint32_t len, uint32_t max, uint32_t *out);

const np_driver *nspp_driver(void);
const np_driver *nspp_upgrade_driver(void);
const np_driver *nspp_http_driver(void);

/* ---- plain texts beside a stream (RTSP, HTTP-FLV) ---- */
/* Length of the HTTP-style message (header, then Content-Length bytes) at
 * the front of data: 0 with *total when all n bytes needed are there, -1
 * when more are needed, NCM_EV_TOO_LARGE when it can't fit in max bytes,
 * NCM_EV_BAD_FRAME for a Content-Length that isn't a plain number. */
int np_message_length(const uint8_t *data, uint32_t n, uint32_t max, uint32_t *total);

/* Queue of unframed texts and the writer that sends them in order. */
typedef struct np_txq {
    qv_list queue;
    qv_buf *cur;
    pf_mutex lock;
} np_txq;

void np_txq_init(np_txq *q);
void np_txq_free(np_txq *q);
/* Queues a copy of text's content and frees text on 0; sets output pending. */
int np_txq_push(np_txq *q, qv_socket_x *s, qv_buf *text);
/* Sends what is queued; *failed gets an event code when the first send
 * failed. Returns the bytes sent. */
int np_txq_write(np_txq *q, qv_socket_x *s, int *failed);

/* One connection of such a driver: its receive buffer and its send queue. */
typedef struct np_stream {
    qv_ncm *m;
    qv_socket_x *sock;
    uint32_t id;
    uint32_t protocol; /* posted with every record */
    uint8_t *rbuf;
    uint32_t cap;
    uint32_t fill;
    np_txq tx;
} np_stream;

/* Consumes complete units at the front of data: bytes used, or -(event). */
typedef long (*np_parse_fn)(void *user, const uint8_t *data, uint32_t n);

int np_stream_init(np_stream *io, qv_ncm *m, uint32_t id, qv_socket_x *s, uint32_t protocol, uint32_t cap);
void np_stream_free(np_stream *io);
/* Ends the connection with an event (the first event only). */
void np_stream_fail(np_stream *io, int code);
/* A readable event: receives (at most 4 MiB) and parses after each receive;
 * a message that can't fit in the buffer is event 5. Bytes read. */
int np_stream_read(np_stream *io, np_parse_fn parse, void *user);
/* A writable event: sends the queued texts. Bytes sent. */
int np_stream_write(np_stream *io);

/* ---- RTSP with interleaved RTP (RFC 2326 10.12, RFC 6184) ---- */
#define RTSP_BUF_SIZE 69632u
/* The interleaved channel that carries the H.264 video: the login script
 * sets that medium up on channels 0-1 and every other medium elsewhere. */
#define RTSP_VIDEO_CHANNEL 0
/* Largest access unit assembled; a larger one is dropped. */
#define RTSP_AU_MAX MEDIA_MAX_PAYLOAD
#define H264_PARAM_MAX 256u

typedef struct h264_params {
    int payload_type;            /* -1: not named by the SDP */
    uint8_t sps[H264_PARAM_MAX];
    uint32_t sps_len;
    uint8_t pps[H264_PARAM_MAX];
    uint32_t pps_len;
} h264_params;

/* Finds the first video medium whose rtpmap names H264 in an SDP text and
 * takes its payload type and sprop-parameter-sets (RFC 6184 8.1); 0 when
 * such a medium exists. */
int rtsp_sdp_h264(const char *text, size_t len, h264_params *out);
const np_driver *rtsp_driver(void);

/* ---- HTTP-FLV (FLV file format 10, ISO/IEC 14496-15 AVC records) ---- */
#define FLV_BUF_SIZE 65536u
const np_driver *flv_driver(void);

#ifdef __cplusplus
}
#endif

#endif
