/*
 * qv_core: type tags, object header, byte buffers, FIFO lists, the hash map
 * keyed by byte strings, tagged values and the thread starter.
 *
 * Shared by the device library and the worker module. None of these
 * containers locks by itself; the owner holds its own lock around them.
 */
#ifndef QV_CORE_H
#define QV_CORE_H

#include <stddef.h>
#include <stdint.h>
#include "portable.h"
#include "trovix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- string hashes ---- */
/* The library's own string hash; bytes are taken as signed 8-bit values. */
uint32_t qv_h1(const void *data, size_t len);
uint32_t qv_h1_str(const char *text);
/* Type tag of a name: 2 x H1(name) modulo 2^32. */
uint32_t qv_tag(const char *name);
/* Chain hash of the hash map (the "JS" hash). */
uint32_t qv_h2(const void *data, size_t len);

typedef struct qv_tag_set {
    uint32_t obj, buf, buf_md, buf_mp, com, file, net_x, skdr_x, ncm_x;
} qv_tag_set;

/* Tags of the names used by the library, computed once. */
const qv_tag_set *qv_tags(void);

/* ---- byte buffer ---- */
/* qv_buf, the byte buffer (bytes start .. end-1 of data are the content; cap
 * is the allocation), is part of the exported interface: trovix.h. */

qv_buf *qv_buf_new(uint32_t cap);
void qv_buf_free(qv_buf *buf);
/* Makes room for at least extra bytes after end; 0 on success. */
int qv_buf_reserve(qv_buf *buf, uint32_t extra);
int qv_buf_append(qv_buf *buf, const void *data, uint32_t len);
static inline uint32_t qv_buf_size(const qv_buf *buf) { return buf ? buf->end - buf->start : 0; }

/* ---- object header ---- */
typedef struct qv_obj qv_obj;
typedef void (*qv_release_fn)(qv_obj *obj);

struct qv_obj {
    uint32_t root;      /* always the tag of "qv_obj" */
    uint32_t family;
    uint32_t klass;
    uint32_t type;      /* 0 where the family does not use it */
    qv_release_fn release;
    void *payload;
    int exposed;        /* handed to a Lua state: registered as live */
};

void qv_obj_init(qv_obj *obj, uint32_t family, uint32_t klass, uint32_t type, qv_release_fn release, void *payload);
/* Calls the release function (which frees the header too). */
void qv_obj_release(qv_obj *obj);

/* Objects handed to scripts are registered as live so that a stale pointer is
 * refused instead of being dereferenced. */
void qv_live_add(qv_obj *obj);
void qv_live_remove(qv_obj *obj);
int qv_live_contains(const void *ptr);

/* Plain byte-buffer object: family, class and type "qv_buf". Takes buf. */
qv_obj *qv_obj_buf_new(qv_buf *buf);
static inline qv_buf *qv_obj_buf(qv_obj *obj) { return (qv_buf *)obj->payload; }

/* ---- FIFO list ---- */
typedef struct qv_list_node {
    void *value;
    struct qv_list_node *prev;
    struct qv_list_node *next;
} qv_list_node;

typedef struct qv_list {
    uint32_t count;
    qv_list_node *tail;
    qv_list_node *head;
} qv_list;

void qv_list_init(qv_list *list);
qv_list_node *qv_list_push(qv_list *list, void *value); /* at the tail; null when out of memory */
void *qv_list_pop(qv_list *list);                         /* from the head; null when empty */
int qv_list_unlink(qv_list *list, qv_list_node *node);    /* 1 for an empty or absent list */
void qv_list_clear(qv_list *list, void (*free_value)(void *));

/* ---- hash map ---- */
typedef struct qv_hmap_entry {
    void *value;
    struct qv_hmap_entry *prev;
    struct qv_hmap_entry *next;
    uint32_t key_len;
    uint32_t h2;
    char *key; /* copy of the key, zero-terminated */
} qv_hmap_entry;

typedef struct qv_hmap_chain {
    uint32_t h2;
    qv_hmap_entry *entry;
    struct qv_hmap_chain *next;
} qv_hmap_chain;

typedef struct qv_hmap {
    uint32_t count;
    qv_hmap_entry *tail;
    qv_hmap_entry *head;   /* oldest entry; walk with ->next */
    uint32_t nbuckets;
    qv_hmap_chain **buckets;
} qv_hmap;

qv_hmap *qv_hmap_create(uint32_t nbuckets);
/* 0 inserted; -1 the key is present already (or out of memory). */
int qv_hmap_insert(qv_hmap *map, const void *key, uint32_t len, void *value);
qv_hmap_entry *qv_hmap_find(const qv_hmap *map, const void *key, uint32_t len);
void qv_hmap_remove(qv_hmap *map, qv_hmap_entry *entry);
void qv_hmap_free(qv_hmap *map); /* values are the caller's */
uint32_t qv_hmap_bucket(const qv_hmap *map, const void *key, uint32_t len);

/* ---- tagged value ---- */
enum {
    QV_VAL_NONE = 0, QV_VAL_BOOL = 1, QV_VAL_INT = 2, QV_VAL_NUM = 3,
    QV_VAL_TEXT = 4, QV_VAL_BYTES = 5, QV_VAL_PTR = 6, QV_VAL_OTHER = 7
};

typedef struct qv_value {
    uint32_t tl; /* low byte type, upper 24 bits length of a text or byte value */
    union {
        uint32_t u;
        void *p;
        char *text;
        uint8_t *bytes;
    } v;
} qv_value;

static inline int qv_value_type(const qv_value *value) { return (int)(value->tl & 0xFF); }
static inline uint32_t qv_value_len(const qv_value *value) { return value->tl >> 8; }
void qv_value_clear(qv_value *value);
/* Copies src into dst, freeing dst's own text or bytes first; 0 on success. */
int qv_value_copy(qv_value *dst, const qv_value *src);
void qv_value_set_text(qv_value *value, const char *text); /* null becomes "" */
void qv_value_set_ptr(qv_value *value, void *ptr);

/* ---- threads ---- */
typedef void (*qv_thread_fn)(void *data, volatile int *run);

typedef struct qv_thread {
    pf_thread thread;
    void *data;
    volatile int *run;
    qv_thread_fn fn;
    char name[33]; /* kept for diagnostics only */
} qv_thread;

/* Sets *run to 1 and starts fn(data, run); null when the thread can't start. */
qv_thread *qv_thread_start(qv_thread_fn fn, void *data, volatile int *run, const char *name);
/* Clears the run flag, waits without limit, frees the handle. */
void qv_thread_stop(qv_thread *thread);
static inline int qv_running(volatile int *run) { return __atomic_load_n(run, __ATOMIC_ACQUIRE); }

/* ---- small helpers ---- */
/* First occurrence of pattern in data, or null. */
const uint8_t *qv_memfind(const void *data, size_t len, const void *pattern, size_t plen);
/* Copies at most size-1 bytes and always terminates (size > 0). */
void qv_strlcpy(char *dst, const char *src, size_t size);
/* Bounded formatting; -1 on failure or truncation. */
int qv_snprintf(char *buf, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
/* Case-insensitive ASCII comparison. */
int qv_strieq(const char *a, const char *b);
static inline uint32_t qv_rd32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }
static inline uint16_t qv_rd16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static inline void qv_wr32(uint8_t *p, uint32_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24); }
static inline void qv_wr16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }

#ifdef __cplusplus
}
#endif

#endif
