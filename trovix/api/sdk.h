/*
 * sdk: the library context behind the exports: command queue and reply
 * list, the "ncm cmd" thread that runs the scripts, the "stream" thread that
 * fans media out, the media cache and the Lua host record.
 */
#ifndef TROVIX_SDK_H
#define TROVIX_SDK_H

#include "clua.h"
#include "qv_net.h"
#include "qv_net_lua.h"
#include "trovix.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    CMD_LOGIN = 0, CMD_REQUEST = 1, CMD_LOGOUT = 2, CMD_DISCOVER_OPEN = 3, CMD_DISCOVER_CLOSE = 4,
    CMD_DISCOVER_RUN = 5, CMD_DISCOVER_GET_DEVS = 6, CMD_DISCOVER_REQUEST = 7
};

/* Callbacks the scripts register through qv_ncm. */
enum {
    CB_RECV, CB_DISCONNECT, CB_LOGIN, CB_LOGOUT, CB_REQUEST,
    CB_DISCOVER_OPEN, CB_DISCOVER_CLOSE, CB_DISCOVER_RUN, CB_DISCOVER_GET_DEVS, CB_DISCOVER_REQUEST,
    CB_COUNT
};

typedef struct ncm_cmd {
    int type;
    int32_t seq;
    int32_t id;
    qv_buf *text;
    uint64_t deadline_ms; /* 0: nobody waits; else not run after this moment */
} ncm_cmd;

typedef struct ncm_reply {
    uint32_t tick;     /* command-thread tick when made */
    uint64_t made_ms;  /* monotonic clock when made, for the purge */
    int32_t seq;
    int32_t id;
    int code;
    qv_buf *text;      /* null when the reply had no text */
} ncm_reply;

typedef struct sdk_ctx sdk_ctx;

/* The media cache keeps the latest record of each key, at most
 * SDK_CACHE_MAX_ENTRIES of them holding SDK_CACHE_MAX_BYTES (a record counts
 * its buffer's allocation and SDK_CACHE_ENTRY_COST besides); the entries
 * stored longest ago make room first. */
#define SDK_CACHE_MAX_ENTRIES 256u
#define SDK_CACHE_MAX_BYTES (64u * 1024u * 1024u)
#define SDK_CACHE_ENTRY_COST 256u

typedef struct sdk_cache_entry {
    qv_buf_md *md;     /* one reference is the cache's */
    int32_t conn_id;
    uint64_t cost;
} sdk_cache_entry;

typedef struct sdk_host {
    sdk_ctx *ctx;
    clua_env *env;
    qv_obj *upgrade;   /* the "qv_ncm_upgrade" manager object */
    int refs[CB_COUNT];
} sdk_host;

typedef struct md_listener {
    char key[65];
    uint32_t hash;
    trovix_md_callback callback;
    void *user;
} md_listener;

typedef struct listener_request {
    int op;            /* 0 add, 1 remove */
    int done;
    int result;
    md_listener l;
} listener_request;

struct sdk_ctx {
    qv_skdr *skdr_a, *skdr_b;
    qv_ncm *ncm_a, *ncm_b;

    qv_hmap *cache;    /* key text -> sdk_cache_entry, the oldest first */
    uint64_t cache_bytes;
    uint64_t cache_unreported; /* entries dropped for room since the last log line */
    uint32_t cache_reported_at;
    int cache_reported;
    pf_mutex cache_lock;

    qv_list listeners;
    qv_list requests;
    pf_mutex stream_lock;
    pf_cond stream_cond;
    int stream_wake;
    qv_thread *stream_thread;
    volatile int stream_run;

    qv_list cmds;
    pf_mutex cmd_lock;
    pf_cond cmd_cond;
    int cmd_wake;
    qv_thread *cmd_thread;
    volatile int cmd_run;
    qv_hmap *conns;    /* connection id -> protocol, as the command thread knows them */
    int start_state;   /* 0 starting, 1 scripts initialised, -1 failed */

    sdk_host *host;
    volatile uint32_t cmd_tick;

    qv_list replies;
    pf_mutex reply_lock;
    pf_cond reply_cond;

    /* Open decoders (dec_record, exports_dec.c), one per trovix_dec_open id. */
    qv_list decoders;
    pf_mutex dec_lock;

    int32_t seq_counter;
    int32_t id_counter;
    pf_mutex counter_lock;

    /* Exports still inside the library; quit waits for them to leave. */
    int users;
    volatile int stopping;
};

/* Start-up with a replaceable script table (tests); trovix_init uses the
 * embedded one. */
int sdk_start(clua_lookup_fn lookup);
int sdk_stop(void);
sdk_ctx *sdk_current(void);
/* The running context with a hold on it (null when not running); every export
 * that uses the context holds it, so a quit in between can't free it under
 * them: quit wakes their waits and frees the context once all have left. */
sdk_ctx *sdk_acquire(void);
void sdk_release(sdk_ctx *ctx);
int32_t sdk_next_counter(sdk_ctx *ctx, int32_t *counter);
void sdk_post_reply(sdk_ctx *ctx, int32_t seq, int32_t id, int code, const char *text, size_t len);
/* Queues a command; the returned pointer identifies it until it is taken. */
ncm_cmd *sdk_submit(sdk_ctx *ctx, int type, int32_t seq, int32_t id, const char *text, int waited);
/* Waits for the reply of a submitted command; on time-out removes the
 * command when it is still queued (*was_queued = 1) and returns 2. */
int sdk_wait(sdk_ctx *ctx, int32_t seq, int32_t id, char **text, int *was_queued);
void sdk_command_connection_close(sdk_ctx *ctx, uint32_t id);
/* A login is over for its caller: its connection's media are no longer
 * delivered and its cached records are dropped. */
void sdk_forget_login(sdk_ctx *ctx, int32_t id);
/* Drops one cache entry; the cache lock is held. */
void sdk_cache_remove(sdk_ctx *ctx, qv_hmap_entry *e);
void sdk_cache_usage(sdk_ctx *ctx, uint32_t *entries, uint64_t *bytes);
/* Frees the decoders a caller left open; the stream thread must be stopped. */
void sdk_decoders_free(sdk_ctx *ctx);
uint32_t sdk_cmd_tick(sdk_ctx *ctx);

/* Embedded scripts. */
int trovix_script_lookup(const char *name, const char **text, size_t *len);

/* Module registrars of the library. */
void sdk_register_ncm(lua_State *L);
void sdk_register_net(lua_State *L);
int luaopen_qv_ncm(lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
