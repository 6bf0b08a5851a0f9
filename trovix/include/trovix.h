/*
 * trovix: the network device library's exported interface.
 * Every function returns an integer code (0 success); texts the library hands
 * out are released with trovix_free.
 */
#ifndef TROVIX_H
#define TROVIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TROVIX_BUILD)
#define TROVIX_API __attribute__((visibility("default")))
#else
#define TROVIX_API
#endif

/* Result codes of the exports. 0 ... 6 are the library's own; any other code
 * is the refusal code of a device (or of its protocol, 4096 ... 32767),
 * passed on unchanged. A device code that would read as one of the library's
 * own (1 ... 6), or that is not an integer in int's range, is reported as
 * TROVIX_DEVICE_CODE instead, so it is never taken for success or for a
 * time-out. */
enum trovix_result {
    TROVIX_OK = 0,
    TROVIX_FAILED = 1,      /* library not running, the command failed, or its connection was lost */
    TROVIX_TIMEOUT = 2,     /* no reply within TROVIX_REPLY_TIMEOUT_MS */
    TROVIX_NULL_FRAME = 3,
    TROVIX_DECODER_STATE = 4,
    TROVIX_NOTHING = 5,     /* nothing available */
    TROVIX_DEVICE_CODE = 6, /* the device refused with a code that can't be passed on */
};

/* Longest wait of an export for its reply, measured on the caller's own
 * monotonic clock. */
#define TROVIX_REPLY_TIMEOUT_MS 6000

#ifndef QV_BUF_DEFINED
#define QV_BUF_DEFINED
/* Byte buffer: bytes start .. end-1 of data are the content. */
typedef struct qv_buf {
    uint8_t *data;
    uint32_t cap;
    uint32_t start;
    uint32_t end;
} qv_buf;
#endif

/* The 32-byte little-endian head of every media payload, as decoded. */
typedef struct media_head {
    uint16_t tag;           /* 0x0120 */
    uint8_t media_type;     /* 2: H.264 in start-code form */
    uint8_t frame_kind;     /* 1 key frame, 2 other frame, 0 not set */
    uint32_t payload_len;   /* bytes after the head */
    uint64_t pts_us;        /* time stamp, microseconds */
    uint16_t key1;
    uint16_t key2;
} media_head;

/* A media record shared by reference count (trovix_md_buf_add/_sub). The
 * payload buffer starts with the raw 32-byte head; buf.start is 32. */
typedef struct qv_buf_md {
    uint32_t reserved;
    int32_t stream;         /* 0 in every record the protocol drivers make */
    uint8_t flag;
    media_head head;
    qv_buf buf;
    int32_t *refs;
} qv_buf_md;

/* Called on the library's media thread for every media record a device
 * connection delivers; md is valid during the call only (take a reference
 * with trovix_md_buf_add to keep it). The result is ignored. */
typedef int (*trovix_md_callback)(void *user, int protocol, int conn_id, int key1, int key2, int stream,
                                  qv_buf_md *md);

/* Starts the library (options are ignored); 1 when it is running already or
 * could not start (then nothing is left running). */
TROVIX_API int trovix_init(const char *options);
/* Stops the library; must not run concurrently with any other export. */
TROVIX_API int trovix_quit(void);
/* Logs in with {"ip","port","login":{"username","passwd"}[,"protocol"]};
 * *id is the new login id on 0 and 0 otherwise. */
TROVIX_API int trovix_login(int *id, const char *json);
TROVIX_API int trovix_logout(int id);
/* Sends one JSON request; *reply gets the reply text (null when the reply had
 * none, and on time-out); release it with trovix_free. */
TROVIX_API int trovix_request(int id, const char *json, char **reply);
TROVIX_API void trovix_free(void *text);

TROVIX_API int trovix_discover_open(const char *options);
TROVIX_API int trovix_discover_close(void);
TROVIX_API int trovix_discover_run(int run);
TROVIX_API int trovix_discover_get_devs(char **out);
TROVIX_API int trovix_discover_request(const char *json, char **out);

TROVIX_API int trovix_md_add_listener(const char *key, trovix_md_callback callback, void *user);
TROVIX_API int trovix_md_remove_listener(const char *key);
TROVIX_API int trovix_md_get(int conn_id, int key1, int key2, int stream, qv_buf_md **out);
TROVIX_API int trovix_md_clear(int conn_id, int key1, int key2, int stream);
TROVIX_API int trovix_md_buf_add(qv_buf_md *md);
TROVIX_API int trovix_md_buf_sub(qv_buf_md *md);

struct lua_State;
TROVIX_API int luaopen_trovix(struct lua_State *L);

/* Output pixel formats of a decoder. 6: separate Y, U and V planes of 4:2:0
 * (I420, BT.601 video range; chroma planes (width + 1) / 2 by
 * (height + 1) / 2; strides rounded up to a multiple of 4). */
enum dec_pix_fmt {
    DEC_PIX_ARGB8888 = 1,
    DEC_PIX_RGB888 = 3,
    DEC_PIX_YUV420P_SEPARATE = 6,
    DEC_PIX_ABGR8888 = 41,
    DEC_PIX_BGR888 = 43,
    DEC_PIX_RGBA8888 = 45,
    DEC_PIX_BGRA8888 = 47,
};

/* One decoded picture, released with trovix_dec_free_md_data. */
typedef struct dec_frame {
    int32_t fmt;          /* enum dec_pix_fmt */
    int64_t pts;          /* microseconds, from the media head */
    int32_t width;
    int32_t height;
    uint8_t *data[3];     /* planes 1 and 2 only for DEC_PIX_YUV420P_SEPARATE */
    int32_t stride[3];    /* bytes per row */
    void *buf;            /* holds every plane; freed with the frame */
} dec_frame;

/* Decoders, one per caller-chosen id, each with its own thread. */
/* Opens decoder id with JSON options ({"pix_fmt":"RGB888"} and the like;
 * null or no "pix_fmt": DEC_PIX_YUV420P_SEPARATE); 4 when id is open. */
TROVIX_API int trovix_dec_open(int id, const char *json);
/* Unbinds, stops and frees decoder id; 0 also when it was not open. */
TROVIX_API int trovix_dec_close(int id);
/* Feeds decoder id the media of one connection (a login id), key parts and
 * stream value, from the next key frame on; binding again replaces the
 * earlier binding. 4 when id is not open. */
TROVIX_API int trovix_dec_bind(int id, int conn_id, int key1, int key2, int stream);
TROVIX_API int trovix_dec_unbind(int id);
/* The oldest decoded picture whose time has come: 0 with *out set (free it
 * with trovix_dec_free_md_data), 5 when none is ready, 4 no such decoder. */
TROVIX_API int trovix_dec_get_md_data(int id, dec_frame **out);
/* 3 for null, else frees the picture and 0. */
TROVIX_API int trovix_dec_free_md_data(dec_frame *frame);

#ifdef __cplusplus
}
#endif

#endif
