/*
 * Library start-up and shut-down, the command thread "ncm cmd" and the media
 * thread "stream".
 *
 * Waits for replies are measured on the caller's own monotonic clock, so a
 * busy command thread can't stretch them. A command whose caller gave up is
 * taken out of the queue and never run.
 */
#include "sdk.h"

#include "gl_wnd.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CMD_IDLE_MS 5
#define REPLY_PURGE_MS 30000u
#define CACHE_BUCKETS 4000u
#define CONN_BUCKETS 10000u

static sdk_ctx *volatile g_ctx;
static pthread_mutex_t g_start_lock = PTHREAD_MUTEX_INITIALIZER;

static pthread_mutex_t g_use_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_use_cond = PTHREAD_COND_INITIALIZER;

sdk_ctx *sdk_current(void) { return __atomic_load_n(&g_ctx, __ATOMIC_ACQUIRE); }

sdk_ctx *sdk_acquire(void)
{
    sdk_ctx *ctx;
    pthread_mutex_lock(&g_use_lock);
    ctx = g_ctx;
    if (ctx)
        ctx->users++;
    pthread_mutex_unlock(&g_use_lock);
    return ctx;
}

void sdk_release(sdk_ctx *ctx)
{
    if (!ctx)
        return;
    pthread_mutex_lock(&g_use_lock);
    if (--ctx->users == 0)
        pthread_cond_broadcast(&g_use_cond);
    pthread_mutex_unlock(&g_use_lock);
}

static int stopping(sdk_ctx *ctx) { return __atomic_load_n(&ctx->stopping, __ATOMIC_ACQUIRE); }

uint32_t sdk_cmd_tick(sdk_ctx *ctx) { return __atomic_load_n(&ctx->cmd_tick, __ATOMIC_ACQUIRE); }

int32_t sdk_next_counter(sdk_ctx *ctx, int32_t *counter)
{
    int32_t value;
    pf_mutex_lock(&ctx->counter_lock);
    value = *counter;
    *counter = value + 1 >= 0x7FFF0000 ? 1000 : value + 1;
    pf_mutex_unlock(&ctx->counter_lock);
    return value;
}

/* ---- commands and replies ---- */
static void cmd_free(ncm_cmd *cmd)
{
    if (!cmd)
        return;
    qv_buf_free(cmd->text);
    free(cmd);
}

static void reply_free(void *p)
{
    ncm_reply *r = (ncm_reply *)p;
    qv_buf_free(r->text);
    free(r);
}

static void wake_cmd(void *user)
{
    sdk_ctx *ctx = (sdk_ctx *)user;
    pf_mutex_lock(&ctx->cmd_lock);
    ctx->cmd_wake = 1;
    pf_cond_broadcast(&ctx->cmd_cond);
    pf_mutex_unlock(&ctx->cmd_lock);
}

static void wake_stream(void *user)
{
    sdk_ctx *ctx = (sdk_ctx *)user;
    pf_mutex_lock(&ctx->stream_lock);
    ctx->stream_wake = 1;
    pf_cond_broadcast(&ctx->stream_cond);
    pf_mutex_unlock(&ctx->stream_lock);
}

ncm_cmd *sdk_submit(sdk_ctx *ctx, int type, int32_t seq, int32_t id, const char *text, int waited)
{
    ncm_cmd *cmd = (ncm_cmd *)calloc(1, sizeof *cmd);
    if (!cmd)
        return NULL;
    cmd->type = type;
    cmd->seq = seq;
    cmd->id = id;
    cmd->deadline_ms = waited ? pf_clock_ms() + TROVIX_REPLY_TIMEOUT_MS : 0;
    if (text) {
        size_t len = strlen(text);
        if (len > 0x7FFFFFF0u || !(cmd->text = qv_buf_new((uint32_t)len + 1))) {
            free(cmd);
            return NULL;
        }
        memcpy(cmd->text->data, text, len + 1);
        cmd->text->end = (uint32_t)len;
    }
    pf_mutex_lock(&ctx->cmd_lock);
    if (!qv_list_push(&ctx->cmds, cmd)) {
        pf_mutex_unlock(&ctx->cmd_lock);
        cmd_free(cmd);
        return NULL;
    }
    ctx->cmd_wake = 1;
    pf_cond_broadcast(&ctx->cmd_cond);
    pf_mutex_unlock(&ctx->cmd_lock);
    return cmd;
}

void sdk_post_reply(sdk_ctx *ctx, int32_t seq, int32_t id, int code, const char *text, size_t len)
{
    ncm_reply *r = (ncm_reply *)calloc(1, sizeof *r);
    if (!r)
        return;
    r->tick = sdk_cmd_tick(ctx);
    r->made_ms = pf_clock_ms();
    r->seq = seq;
    r->id = id;
    r->code = code;
    if (text && len) {
        r->text = qv_buf_new((uint32_t)len + 1);
        if (r->text) {
            memcpy(r->text->data, text, len);
            r->text->data[len] = 0;
            r->text->end = (uint32_t)len;
        }
    }
    pf_mutex_lock(&ctx->reply_lock);
    if (!qv_list_push(&ctx->replies, r)) {
        pf_mutex_unlock(&ctx->reply_lock);
        reply_free(r);
        return;
    }
    pf_cond_broadcast(&ctx->reply_cond);
    pf_mutex_unlock(&ctx->reply_lock);
}

static char *take_text(qv_buf *text)
{
    char *out;
    if (!text)
        return NULL;
    /* The reply text is handed out as the bytes themselves. */
    out = (char *)text->data;
    free(text);
    return out;
}

int sdk_wait(sdk_ctx *ctx, int32_t seq, int32_t id, char **text, int *was_queued)
{
    uint64_t deadline = pf_clock_ms() + TROVIX_REPLY_TIMEOUT_MS;
    qv_list_node *n;
    if (was_queued)
        *was_queued = 0;
    pf_mutex_lock(&ctx->reply_lock);
    for (;;) {
        uint64_t now;
        for (n = ctx->replies.head; n; n = n->next) {
            ncm_reply *r = (ncm_reply *)n->value;
            if (r->seq == seq && r->id == id) {
                int code = r->code;
                qv_list_unlink(&ctx->replies, n);
                pf_mutex_unlock(&ctx->reply_lock);
                if (text)
                    *text = take_text(r->text);
                else
                    qv_buf_free(r->text);
                free(r);
                return code;
            }
        }
        now = pf_clock_ms();
        if (now >= deadline || stopping(ctx))
            break;
        pf_cond_wait_ms(&ctx->reply_cond, &ctx->reply_lock, (uint32_t)(deadline - now < 50 ? deadline - now : 50));
    }
    pf_mutex_unlock(&ctx->reply_lock);
    if (text)
        *text = NULL;
    /* A command still queued is withdrawn, so it never runs late. */
    pf_mutex_lock(&ctx->cmd_lock);
    for (n = ctx->cmds.head; n; n = n->next) {
        ncm_cmd *cmd = (ncm_cmd *)n->value;
        if (cmd->seq == seq && cmd->id == id) {
            qv_list_unlink(&ctx->cmds, n);
            cmd_free(cmd);
            if (was_queued)
                *was_queued = 1;
            break;
        }
    }
    pf_mutex_unlock(&ctx->cmd_lock);
    return stopping(ctx) ? TROVIX_FAILED : TROVIX_TIMEOUT;
}

/* ---- command thread ---- */
static int cmd_callback(int type)
{
    switch (type) {
    case CMD_LOGIN: return CB_LOGIN;
    case CMD_REQUEST: return CB_REQUEST;
    case CMD_LOGOUT: return CB_LOGOUT;
    case CMD_DISCOVER_OPEN: return CB_DISCOVER_OPEN;
    case CMD_DISCOVER_CLOSE: return CB_DISCOVER_CLOSE;
    case CMD_DISCOVER_RUN: return CB_DISCOVER_RUN;
    case CMD_DISCOVER_GET_DEVS: return CB_DISCOVER_GET_DEVS;
    case CMD_DISCOVER_REQUEST: return CB_DISCOVER_REQUEST;
    default: return -1;
    }
}

static void run_command(sdk_ctx *ctx, ncm_cmd *cmd)
{
    sdk_host *host = ctx->host;
    lua_State *L = host->env->L;
    int cb = cmd_callback(cmd->type);
    int ref = cb >= 0 ? host->refs[cb] : 0;
    int nargs = 1, ok = 0;
    const char *text = cmd->text ? (const char *)cmd->text->data : "";
    uint64_t now = pf_clock_ms();

    if (cmd->deadline_ms && now > cmd->deadline_ms)
        return; /* its caller has given up */
    if (ref) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
        lua_pushinteger(L, cmd->seq);
        switch (cmd->type) {
        /* Login, request and logout also learn how long their caller still
         * waits (ms; nil when nobody waits), so the scripts know when an
         * answer can no longer reach it. */
        case CMD_LOGIN:
        case CMD_REQUEST:
            lua_pushinteger(L, cmd->id);
            lua_pushlstring(L, text, qv_buf_size(cmd->text));
            nargs = 4;
            break;
        case CMD_LOGOUT:
            lua_pushinteger(L, cmd->id);
            nargs = 3;
            break;
        case CMD_DISCOVER_OPEN:
        case CMD_DISCOVER_RUN:
        case CMD_DISCOVER_REQUEST:
            lua_pushlstring(L, text, qv_buf_size(cmd->text));
            nargs = 2;
            break;
        default:
            break;
        }
        if (cmd->type == CMD_LOGIN || cmd->type == CMD_REQUEST || cmd->type == CMD_LOGOUT) {
            if (cmd->deadline_ms)
                lua_pushinteger(L, (lua_Integer)(cmd->deadline_ms - now));
            else
                lua_pushnil(L);
        }
        if (clua_pcall(L, nargs, 1) == LUA_OK) {
            int isnum = 0;
            lua_Integer r = lua_tointegerx(L, -1, &isnum);
            ok = isnum && r == 0;
            lua_pop(L, 1);
        }
    }
    if (!ok)
        sdk_post_reply(ctx, cmd->seq, cmd->id, TROVIX_FAILED, NULL, 0);
}

void sdk_command_connection_close(sdk_ctx *ctx, uint32_t id)
{
    qv_hmap_entry *e = qv_hmap_find(ctx->conns, &id, sizeof id);
    if (e)
        qv_hmap_remove(ctx->conns, e);
    ncm_close(ctx->ncm_a, id);
}

static void notify_disconnect(sdk_ctx *ctx, uint32_t id, int code)
{
    sdk_host *host = ctx->host;
    lua_State *L = host->env->L;
    if (host->refs[CB_DISCONNECT]) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, host->refs[CB_DISCONNECT]);
        lua_pushinteger(L, id);
        lua_pushinteger(L, code);
        if (clua_pcall(L, 2, 0) != LUA_OK)
            return;
    }
}

static void drop_connection(sdk_ctx *ctx, uint32_t id, int code)
{
    notify_disconnect(ctx, id, code);
    sdk_command_connection_close(ctx, id);
}

static void run_connection_record(sdk_ctx *ctx, ncm_text *t)
{
    sdk_host *host = ctx->host;
    lua_State *L = host->env->L;
    qv_hmap_entry *e = qv_hmap_find(ctx->conns, &t->id, sizeof t->id);

    if (t->code == NCM_EV_CONNECT) {
        if (!e)
            qv_hmap_insert(ctx->conns, &t->id, sizeof t->id, (void *)(uintptr_t)t->protocol);
        else
            drop_connection(ctx, t->id, 1);
    } else if (t->code == NCM_EV_TEXT) {
        if (!e) {
            drop_connection(ctx, t->id, 1);
        } else if (qv_buf_size(t->text) > 0) {
            int rc = -1;
            if (host->refs[CB_RECV]) {
                lua_rawgeti(L, LUA_REGISTRYINDEX, host->refs[CB_RECV]);
                lua_pushinteger(L, t->id);
                lua_pushinteger(L, t->protocol);
                lua_pushlstring(L, (const char *)t->text->data + t->text->start, qv_buf_size(t->text));
                lua_pushinteger(L, (lua_Integer)t->read_no);
                if (clua_pcall(L, 4, 1) == LUA_OK) {
                    int isnum = 0;
                    lua_Integer r = lua_tointegerx(L, -1, &isnum);
                    rc = isnum ? (int)r : -1;
                    lua_pop(L, 1);
                }
            }
            if (rc != 0)
                drop_connection(ctx, t->id, rc);
        }
    } else {
        drop_connection(ctx, t->id, 1);
    }
    qv_buf_free(t->text);
}

static void purge_replies(sdk_ctx *ctx)
{
    uint64_t now = pf_clock_ms();
    qv_list_node *n;
    pf_mutex_lock(&ctx->reply_lock);
    n = ctx->replies.head;
    while (n) {
        qv_list_node *next = n->next;
        ncm_reply *r = (ncm_reply *)n->value;
        if (now - r->made_ms >= REPLY_PURGE_MS) {
            qv_list_unlink(&ctx->replies, n);
            reply_free(r);
        }
        n = next;
    }
    pf_mutex_unlock(&ctx->reply_lock);
}

static void set_start_state(sdk_ctx *ctx, int state)
{
    pf_mutex_lock(&ctx->cmd_lock);
    ctx->start_state = state;
    pf_cond_broadcast(&ctx->cmd_cond);
    pf_mutex_unlock(&ctx->cmd_lock);
}

static void cmd_thread(void *data, volatile int *run)
{
    sdk_ctx *ctx = (sdk_ctx *)data;
    clua_env *env = ctx->host->env;
    uint32_t now = pf_tick_ms();
    int first = 1, rc = -1, result = 0;
    qv_hmap_entry *e;
    uint32_t *ids = NULL, n, i;

    env->now = env->last_gc = now;
    __atomic_store_n(&ctx->cmd_tick, now, __ATOMIC_RELEASE);
    if (clua_env_call(env, env->ref_setup, "", &result) == 0) {
        env->now = pf_tick_ms();
        rc = clua_env_call(env, env->ref_init, "", &result);
    }
    set_start_state(ctx, rc == 0 && result == 0 ? 1 : -1);
    if (rc != 0 || result != 0)
        return; /* trovix_init reports the failure and stops everything */

    while (qv_running(run)) {
        ncm_cmd *cmd;
        ncm_text t;
        int did = 0;
        pf_mutex_lock(&ctx->cmd_lock);
        cmd = (ncm_cmd *)qv_list_pop(&ctx->cmds);
        pf_mutex_unlock(&ctx->cmd_lock);
        if (cmd) {
            env->now = pf_tick_ms();
            run_command(ctx, cmd);
            cmd_free(cmd);
            did = 1;
        }
        if (ncm_take_text(ctx->ncm_a, &t) == 0) {
            env->now = pf_tick_ms();
            run_connection_record(ctx, &t);
            did = 1;
        }
        if (did)
            continue;
        now = pf_tick_ms();
        clua_env_timer_tick(env, now, first);
        __atomic_store_n(&ctx->cmd_tick, now, __ATOMIC_RELEASE);
        if (!first)
            purge_replies(ctx);
        first = 0;
        pf_mutex_lock(&ctx->cmd_lock);
        if (!ctx->cmd_wake && !ctx->cmds.head && qv_running(run))
            pf_cond_wait_ms(&ctx->cmd_cond, &ctx->cmd_lock, CMD_IDLE_MS);
        ctx->cmd_wake = 0;
        pf_mutex_unlock(&ctx->cmd_lock);
    }

    env->now = pf_tick_ms();
    clua_env_call(env, env->ref_quit, NULL, &result);
    n = ncm_connection_ids(ctx->ncm_a, &ids);
    for (i = 0; i < n; i++)
        ncm_close(ctx->ncm_a, ids[i]);
    free(ids);
    while ((e = ctx->conns->head) != NULL)
        qv_hmap_remove(ctx->conns, e);
}

/* ---- stream thread ---- */
#define CACHE_REPORT_MS 10000u

void sdk_cache_remove(sdk_ctx *ctx, qv_hmap_entry *e)
{
    sdk_cache_entry *ce = (sdk_cache_entry *)e->value;
    ctx->cache_bytes -= ce->cost;
    qv_md_unref(ce->md);
    free(ce);
    qv_hmap_remove(ctx->cache, e);
}

/* Drops the entries stored longest ago until one of cost bytes fits; the
 * cache lock is held. */
static void cache_make_room(sdk_ctx *ctx, uint64_t cost)
{
    uint32_t dropped = 0, now;
    while (ctx->cache->head &&
           (ctx->cache->count >= SDK_CACHE_MAX_ENTRIES || ctx->cache_bytes + cost > SDK_CACHE_MAX_BYTES)) {
        sdk_cache_remove(ctx, ctx->cache->head);
        dropped++;
    }
    if (!dropped)
        return;
    ctx->cache_unreported += dropped;
    now = pf_tick_ms();
    if (ctx->cache_reported && pf_tick_diff(now, ctx->cache_reported_at) < CACHE_REPORT_MS)
        return;
    fprintf(stderr, "trovix: media cache beyond %u records or %u bytes: %llu oldest dropped\n", SDK_CACHE_MAX_ENTRIES,
            SDK_CACHE_MAX_BYTES, (unsigned long long)ctx->cache_unreported);
    fflush(stderr);
    ctx->cache_unreported = 0;
    ctx->cache_reported_at = now;
    ctx->cache_reported = 1;
}

static void cache_store(sdk_ctx *ctx, uint32_t conn_id, qv_buf_md *md)
{
    char key[65];
    qv_hmap_entry *e;
    sdk_cache_entry *ce;
    int len = snprintf(key, sizeof key, "%d_%d_%d_%d", (int)conn_id, md->head.key1, md->head.key2, md->stream);
    if (len < 0 || len >= (int)sizeof key)
        return;
    ce = (sdk_cache_entry *)malloc(sizeof *ce);
    if (!ce)
        return;
    ce->md = md;
    ce->conn_id = (int32_t)conn_id;
    ce->cost = SDK_CACHE_ENTRY_COST + md->buf.cap;
    pf_mutex_lock(&ctx->cache_lock);
    /* A login that has logged out keeps nothing here, whatever was still
     * on its way. */
    if (ncm_media_muted(ctx->ncm_a, conn_id)) {
        pf_mutex_unlock(&ctx->cache_lock);
        free(ce);
        return;
    }
    /* A key stored again counts as stored now. */
    if ((e = qv_hmap_find(ctx->cache, key, (uint32_t)len)) != NULL)
        sdk_cache_remove(ctx, e);
    cache_make_room(ctx, ce->cost);
    if (qv_hmap_insert(ctx->cache, key, (uint32_t)len, ce) != 0) {
        free(ce);
    } else {
        qv_md_ref(md);
        ctx->cache_bytes += ce->cost;
    }
    pf_mutex_unlock(&ctx->cache_lock);
}

void sdk_forget_login(sdk_ctx *ctx, int32_t id)
{
    qv_hmap_entry *e;
    ncm_mute_media(ctx->ncm_a, (uint32_t)id);
    pf_mutex_lock(&ctx->cache_lock);
    for (e = ctx->cache->head; e;) {
        qv_hmap_entry *next = e->next;
        if (((sdk_cache_entry *)e->value)->conn_id == id)
            sdk_cache_remove(ctx, e);
        e = next;
    }
    pf_mutex_unlock(&ctx->cache_lock);
}

void sdk_cache_usage(sdk_ctx *ctx, uint32_t *entries, uint64_t *bytes)
{
    pf_mutex_lock(&ctx->cache_lock);
    *entries = ctx->cache->count;
    *bytes = ctx->cache_bytes;
    pf_mutex_unlock(&ctx->cache_lock);
}

static void handle_request(sdk_ctx *ctx, listener_request *req)
{
    qv_list_node *n;
    int result = 1;
    for (n = ctx->listeners.head; n; n = n->next) {
        md_listener *l = (md_listener *)n->value;
        if (l->hash == req->l.hash && strcmp(l->key, req->l.key) == 0)
            break;
    }
    if (req->op == 0 && !n) {
        md_listener *l = (md_listener *)malloc(sizeof *l);
        if (l) {
            *l = req->l;
            if (qv_list_push(&ctx->listeners, l))
                result = 0;
            else
                free(l);
        }
    } else if (req->op == 1 && n) {
        free(n->value);
        qv_list_unlink(&ctx->listeners, n);
        result = 0;
    }
    pf_mutex_lock(&ctx->stream_lock);
    req->result = result;
    req->done = 1;
    pf_cond_broadcast(&ctx->stream_cond);
    pf_mutex_unlock(&ctx->stream_lock);
}

static void stream_thread(void *data, volatile int *run)
{
    sdk_ctx *ctx = (sdk_ctx *)data;
    const qv_tag_set *tags = qv_tags();
    while (qv_running(run)) {
        listener_request *req;
        ncm_media m;
        int did = 0;
        pf_mutex_lock(&ctx->stream_lock);
        req = (listener_request *)qv_list_pop(&ctx->requests);
        pf_mutex_unlock(&ctx->stream_lock);
        if (req) {
            handle_request(ctx, req);
            did = 1;
        }
        if (ncm_take_media(ctx->ncm_a, &m) == 0) {
            if (m.obj && m.obj->type == tags->buf_md) {
                qv_buf_md *md = (qv_buf_md *)m.obj->payload;
                qv_list_node *n;
                uint8_t type = md->head.media_type;
                for (n = ctx->listeners.head; n; n = n->next) {
                    md_listener *l = (md_listener *)n->value;
                    l->callback(l->user, (int)m.protocol, (int)m.id, md->head.key1, md->head.key2, md->stream, md);
                }
                if (type == 5 || (type >= 65 && type <= 94))
                    cache_store(ctx, m.id, md);
            }
            qv_obj_release(m.obj);
            did = 1;
        }
        if (did)
            continue;
        pf_mutex_lock(&ctx->stream_lock);
        if (!ctx->stream_wake && !ctx->requests.head && qv_running(run))
            pf_cond_wait_ms(&ctx->stream_cond, &ctx->stream_lock, 5);
        ctx->stream_wake = 0;
        pf_mutex_unlock(&ctx->stream_lock);
    }
    /* Requests nobody will serve now are answered 1. */
    pf_mutex_lock(&ctx->stream_lock);
    while (ctx->requests.head) {
        listener_request *req = (listener_request *)qv_list_pop(&ctx->requests);
        req->result = 1;
        req->done = 1;
    }
    pf_cond_broadcast(&ctx->stream_cond);
    pf_mutex_unlock(&ctx->stream_lock);
}

/* ---- start and stop ---- */
static void host_close(sdk_host *host)
{
    int i;
    if (!host)
        return;
    if (host->env) {
        for (i = 0; i < CB_COUNT; i++) {
            if (host->refs[i])
                luaL_unref(host->env->L, LUA_REGISTRYINDEX, host->refs[i]);
        }
        clua_env_close(host->env);
    }
    qv_ncm_x_unwrap(host->upgrade);
    free(host);
}

static void stop_thread(qv_thread **t, pf_mutex *lock, pf_cond *cond)
{
    if (!*t)
        return;
    __atomic_store_n((*t)->run, 0, __ATOMIC_RELEASE);
    pf_mutex_lock(lock);
    pf_cond_broadcast(cond);
    pf_mutex_unlock(lock);
    qv_thread_stop(*t);
    *t = NULL;
}

/* Frees whatever start-up made; threads must be stopped. */
static void ctx_free(sdk_ctx *ctx)
{
    qv_hmap_entry *e;
    sdk_decoders_free(ctx);
    host_close(ctx->host);
    pf_mutex_lock(&ctx->cmd_lock);
    while (ctx->cmds.head)
        cmd_free((ncm_cmd *)qv_list_pop(&ctx->cmds));
    pf_mutex_unlock(&ctx->cmd_lock);
    qv_list_clear(&ctx->replies, reply_free);
    qv_list_clear(&ctx->listeners, free);
    qv_list_clear(&ctx->requests, NULL);
    if (ctx->cache) {
        while ((e = ctx->cache->head) != NULL)
            sdk_cache_remove(ctx, e);
        qv_hmap_free(ctx->cache);
    }
    qv_hmap_free(ctx->conns);
    ncm_free(ctx->ncm_b);
    skdr_free(ctx->skdr_b);
    ncm_free(ctx->ncm_a);
    skdr_free(ctx->skdr_a);
    pf_mutex_destroy(&ctx->cache_lock);
    pf_mutex_destroy(&ctx->stream_lock);
    pf_mutex_destroy(&ctx->cmd_lock);
    pf_mutex_destroy(&ctx->reply_lock);
    pf_mutex_destroy(&ctx->counter_lock);
    pf_mutex_destroy(&ctx->dec_lock);
    pf_cond_destroy(&ctx->stream_cond);
    pf_cond_destroy(&ctx->cmd_cond);
    pf_cond_destroy(&ctx->reply_cond);
    free(ctx);
}

/* Lets the closes queued by the command thread reach their sockets. */
static void flush_closes(sdk_ctx *ctx)
{
    uint64_t until = pf_clock_ms() + 500;
    while (ncm_output_pending(ctx->ncm_a) && pf_clock_ms() < until)
        pf_sleep_ms(2);
    if (!skdr_running(ctx->skdr_a))
        return;
    skdr_kick_tickers(ctx->skdr_a);
    until = pf_clock_ms() + 2000;
    while ((ncm_pending_closes(ctx->ncm_a) || skdr_pending_closes(ctx->skdr_a)) && pf_clock_ms() < until)
        pf_sleep_ms(2);
}

static void stop_all(sdk_ctx *ctx)
{
    stop_thread(&ctx->cmd_thread, &ctx->cmd_lock, &ctx->cmd_cond);
    flush_closes(ctx);
    stop_thread(&ctx->stream_thread, &ctx->stream_lock, &ctx->stream_cond);
    skdr_stop(ctx->skdr_b);
    skdr_stop(ctx->skdr_a);
}

int sdk_start(clua_lookup_fn lookup)
{
    sdk_ctx *ctx;
    sdk_host *host;
    int state;

    pthread_mutex_lock(&g_start_lock);
    if (sdk_current()) {
        pthread_mutex_unlock(&g_start_lock);
        return TROVIX_FAILED;
    }
    /* Once per process (again after a failure): can video windows be shown? */
    gl_wnd_probe();
    ctx = (sdk_ctx *)calloc(1, sizeof *ctx);
    if (!ctx) {
        pthread_mutex_unlock(&g_start_lock);
        return TROVIX_FAILED;
    }
    pf_mutex_init(&ctx->cache_lock);
    pf_mutex_init(&ctx->stream_lock);
    pf_mutex_init(&ctx->cmd_lock);
    pf_mutex_init(&ctx->reply_lock);
    pf_mutex_init(&ctx->counter_lock);
    pf_mutex_init(&ctx->dec_lock);
    pf_cond_init(&ctx->stream_cond);
    pf_cond_init(&ctx->cmd_cond);
    pf_cond_init(&ctx->reply_cond);
    qv_list_init(&ctx->listeners);
    qv_list_init(&ctx->requests);
    qv_list_init(&ctx->cmds);
    qv_list_init(&ctx->replies);
    qv_list_init(&ctx->decoders);
    ctx->seq_counter = 1000;
    ctx->id_counter = 1000;

    ctx->skdr_a = skdr_create();
    ctx->skdr_b = skdr_create();
    ctx->ncm_a = ctx->skdr_a ? ncm_create(ctx->skdr_a) : NULL;
    ctx->ncm_b = ctx->skdr_b ? ncm_create(ctx->skdr_b) : NULL;
    ctx->cache = qv_hmap_create(CACHE_BUCKETS);
    ctx->conns = qv_hmap_create(CONN_BUCKETS);
    host = ctx->host = (sdk_host *)calloc(1, sizeof *host);
    if (!ctx->ncm_a || !ctx->ncm_b || !ctx->cache || !ctx->conns || !host)
        goto fail;
    ncm_set_notify(ctx->ncm_a, wake_cmd, wake_stream, ctx);
    host->ctx = ctx;
    host->upgrade = qv_ncm_x_wrap("qv_ncm_upgrade", ctx->ncm_b);
    host->env = clua_env_create(lookup, host);
    if (!host->upgrade || !host->env)
        goto fail;
    clua_env_add_registrar(host->env, sdk_register_ncm);
    clua_env_add_registrar(host->env, sdk_register_net);
    if (clua_env_setup(host->env) != 0 || clua_env_load(host->env, "sdk.loader") != 0)
        goto fail;

    if (skdr_start(ctx->skdr_a) != 0 || skdr_start(ctx->skdr_b) != 0)
        goto fail_threads;
    ctx->stream_thread = qv_thread_start(stream_thread, ctx, &ctx->stream_run, "stream");
    if (!ctx->stream_thread)
        goto fail_threads;
    ctx->cmd_tick = pf_tick_ms();
    ctx->cmd_thread = qv_thread_start(cmd_thread, ctx, &ctx->cmd_run, "ncm cmd");
    if (!ctx->cmd_thread)
        goto fail_threads;
    pf_mutex_lock(&ctx->cmd_lock);
    while (ctx->start_state == 0)
        pf_cond_wait_ms(&ctx->cmd_cond, &ctx->cmd_lock, 50);
    state = ctx->start_state;
    pf_mutex_unlock(&ctx->cmd_lock);
    if (state != 1)
        goto fail_threads;
    __atomic_store_n(&g_ctx, ctx, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&g_start_lock);
    return TROVIX_OK;

fail_threads:
    /* The scripts may have started their own threads (discovery); their
     * quit runs when the command thread leaves its loop or, failing that,
     * when the state is closed. */
    stop_all(ctx);
fail:
    ctx_free(ctx);
    pthread_mutex_unlock(&g_start_lock);
    return TROVIX_FAILED;
}

int sdk_stop(void)
{
    sdk_ctx *ctx;
    pthread_mutex_lock(&g_start_lock);
    ctx = sdk_current();
    if (!ctx) {
        pthread_mutex_unlock(&g_start_lock);
        return 0;
    }
    pthread_mutex_lock(&g_use_lock);
    __atomic_store_n(&g_ctx, NULL, __ATOMIC_RELEASE);
    __atomic_store_n(&ctx->stopping, 1, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&g_use_lock);
    /* Callers still waiting give up now (code 1); the threads keep running
     * until they have left, since a listener request may be in hand. */
    pf_mutex_lock(&ctx->reply_lock);
    pf_cond_broadcast(&ctx->reply_cond);
    pf_mutex_unlock(&ctx->reply_lock);
    pf_mutex_lock(&ctx->stream_lock);
    pf_cond_broadcast(&ctx->stream_cond);
    pf_mutex_unlock(&ctx->stream_lock);
    pthread_mutex_lock(&g_use_lock);
    while (ctx->users > 0)
        pthread_cond_wait(&g_use_cond, &g_use_lock);
    pthread_mutex_unlock(&g_use_lock);
    stop_all(ctx);
    ctx_free(ctx);
    pthread_mutex_unlock(&g_start_lock);
    return 0;
}
