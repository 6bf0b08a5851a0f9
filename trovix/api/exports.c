/*
 * The exported functions: each device call becomes a command for the
 * command thread and waits for the reply with its sequence number and login
 * id.
 */
#include "sdk.h"

#include <stdlib.h>
#include <string.h>

TROVIX_API int trovix_init(const char *options)
{
    (void)options;
    return sdk_start(trovix_script_lookup);
}

TROVIX_API int trovix_quit(void) { return sdk_stop(); }

static int submit_wait_in(sdk_ctx *ctx, int type, int32_t id, const char *text, char **out)
{
    int32_t seq = sdk_next_counter(ctx, &ctx->seq_counter);
    int code, was_queued = 0;
    if (!sdk_submit(ctx, type, seq, id, text, 1))
        return TROVIX_FAILED;
    code = sdk_wait(ctx, seq, id, out, &was_queued);
    if (code == TROVIX_TIMEOUT && type == CMD_LOGIN && !was_queued) {
        /* The login ran but its caller gave up: whatever it opened is logged
         * out, so no session is left that nobody knows of. */
        sdk_forget_login(ctx, id);
        sdk_submit(ctx, CMD_LOGOUT, sdk_next_counter(ctx, &ctx->seq_counter), id, NULL, 0);
    }
    return code;
}

static int submit_wait(int type, int32_t id, const char *text, char **out)
{
    sdk_ctx *ctx = sdk_acquire();
    int code;
    if (!ctx)
        return TROVIX_FAILED;
    code = submit_wait_in(ctx, type, id, text, out);
    sdk_release(ctx);
    return code;
}

TROVIX_API int trovix_login(int *id, const char *json)
{
    sdk_ctx *ctx = sdk_acquire();
    int32_t login_id;
    int code;
    if (id)
        *id = 0;
    if (!ctx)
        return TROVIX_FAILED;
    login_id = sdk_next_counter(ctx, &ctx->id_counter);
    code = submit_wait_in(ctx, CMD_LOGIN, login_id, json ? json : "", NULL);
    sdk_release(ctx);
    if (id)
        *id = code == TROVIX_OK ? login_id : 0;
    return code;
}

TROVIX_API int trovix_logout(int id)
{
    sdk_ctx *ctx = sdk_acquire();
    if (!ctx)
        return TROVIX_FAILED;
    sdk_forget_login(ctx, id);
    sdk_submit(ctx, CMD_LOGOUT, sdk_next_counter(ctx, &ctx->seq_counter), id, NULL, 0);
    sdk_release(ctx);
    return TROVIX_OK;
}

TROVIX_API int trovix_request(int id, const char *json, char **reply)
{
    char *text = NULL;
    int code = submit_wait(CMD_REQUEST, id, json ? json : "", &text);
    if (reply)
        *reply = text;
    else
        free(text);
    return code;
}

TROVIX_API void trovix_free(void *text) { free(text); }

TROVIX_API int trovix_discover_open(const char *options)
{
    return submit_wait(CMD_DISCOVER_OPEN, 0, options ? options : "", NULL);
}

TROVIX_API int trovix_discover_close(void) { return submit_wait(CMD_DISCOVER_CLOSE, 0, "", NULL); }

TROVIX_API int trovix_discover_run(int run)
{
    return submit_wait(CMD_DISCOVER_RUN, 0, (run & 0xFF) ? "{\"run\":true}" : "{\"run\":false}", NULL);
}

TROVIX_API int trovix_discover_get_devs(char **out)
{
    char *text = NULL;
    int code = submit_wait(CMD_DISCOVER_GET_DEVS, 0, "", &text);
    if (out)
        *out = text;
    else
        free(text);
    return code;
}

TROVIX_API int trovix_discover_request(const char *json, char **out)
{
    char *text = NULL;
    int code = submit_wait(CMD_DISCOVER_REQUEST, 0, json ? json : "", &text);
    if (out)
        *out = text;
    else
        free(text);
    return code;
}

/* ---- media listeners and cache ---- */
static int listener_request_run(int op, const char *key, trovix_md_callback callback, void *user)
{
    sdk_ctx *ctx;
    listener_request *req;
    int result;
    if (!key || (op == 0 && !callback))
        return TROVIX_FAILED;
    req = (listener_request *)calloc(1, sizeof *req);
    if (!req)
        return TROVIX_FAILED;
    if (!(ctx = sdk_acquire())) {
        free(req);
        return TROVIX_FAILED;
    }
    req->op = op;
    qv_strlcpy(req->l.key, key, sizeof req->l.key);
    req->l.hash = 2u * qv_h1_str(req->l.key);
    req->l.callback = callback;
    req->l.user = user;
    pf_mutex_lock(&ctx->stream_lock);
    if (!qv_list_push(&ctx->requests, req)) {
        pf_mutex_unlock(&ctx->stream_lock);
        free(req);
        sdk_release(ctx);
        return TROVIX_FAILED;
    }
    ctx->stream_wake = 1;
    pf_cond_broadcast(&ctx->stream_cond);
    while (!req->done) {
        if (__atomic_load_n(&ctx->stopping, __ATOMIC_ACQUIRE)) {
            /* Quitting: a request not yet taken is withdrawn; one the stream
             * thread holds is finished first. */
            qv_list_node *n;
            for (n = ctx->requests.head; n && n->value != req; n = n->next) {
            }
            if (n) {
                qv_list_unlink(&ctx->requests, n);
                req->result = TROVIX_FAILED;
                break;
            }
        }
        pf_cond_wait_ms(&ctx->stream_cond, &ctx->stream_lock, 10);
    }
    result = req->result;
    pf_mutex_unlock(&ctx->stream_lock);
    free(req);
    sdk_release(ctx);
    return result;
}

TROVIX_API int trovix_md_add_listener(const char *key, trovix_md_callback callback, void *user)
{
    return listener_request_run(0, key, callback, user);
}

TROVIX_API int trovix_md_remove_listener(const char *key) { return listener_request_run(1, key, NULL, NULL); }

static int cache_key(char *key, size_t size, int conn_id, int key1, int key2, int stream)
{
    return qv_snprintf(key, size, "%d_%d_%d_%d", conn_id, key1, key2, stream);
}

TROVIX_API int trovix_md_get(int conn_id, int key1, int key2, int stream, qv_buf_md **out)
{
    sdk_ctx *ctx;
    char key[65];
    int len;
    qv_hmap_entry *e;
    if (out)
        *out = NULL;
    if (!(ctx = sdk_acquire()))
        return TROVIX_FAILED;
    len = cache_key(key, sizeof key, conn_id, key1, key2, stream);
    if (len < 0 || !out) {
        sdk_release(ctx);
        return TROVIX_NOTHING;
    }
    pf_mutex_lock(&ctx->cache_lock);
    e = qv_hmap_find(ctx->cache, key, (uint32_t)len);
    if (e) {
        qv_buf_md *md = ((sdk_cache_entry *)e->value)->md;
        qv_md_ref(md);
        *out = md;
    }
    pf_mutex_unlock(&ctx->cache_lock);
    sdk_release(ctx);
    return e ? TROVIX_OK : TROVIX_NOTHING;
}

TROVIX_API int trovix_md_clear(int conn_id, int key1, int key2, int stream)
{
    sdk_ctx *ctx;
    char key[65];
    int len;
    qv_hmap_entry *e;
    int found;
    if (!(ctx = sdk_acquire()))
        return TROVIX_FAILED;
    len = cache_key(key, sizeof key, conn_id, key1, key2, stream);
    if (len < 0) {
        sdk_release(ctx);
        return TROVIX_NOTHING;
    }
    pf_mutex_lock(&ctx->cache_lock);
    e = qv_hmap_find(ctx->cache, key, (uint32_t)len);
    found = e != NULL;
    if (found)
        sdk_cache_remove(ctx, e);
    pf_mutex_unlock(&ctx->cache_lock);
    sdk_release(ctx);
    return found ? TROVIX_OK : TROVIX_NOTHING;
}

TROVIX_API int trovix_md_buf_add(qv_buf_md *md) { return md ? qv_md_ref(md) : 0; }

TROVIX_API int trovix_md_buf_sub(qv_buf_md *md) { return md ? qv_md_unref(md) : 0; }
