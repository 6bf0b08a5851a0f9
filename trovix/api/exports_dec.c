/*
 * The decoder exports: open decoders by the caller's id, bind them to the
 * media of one connection through a media listener, and hand out decoded
 * pictures.
 *
 * The decoder list lock is held while a bind or unbind waits for the stream
 * thread; the feed, which runs on that thread, never takes it.
 */
#include "sdk.h"
#include "dec.h"

#include <stdlib.h>

typedef struct dec_record {
    int32_t id;
    qv_dec *dec;
    int bound;
    /* The media it takes; written only while no listener is registered. */
    int32_t conn_id, key1, key2, stream;
    char key[65];
} dec_record;

static dec_record *find(sdk_ctx *ctx, int32_t id, qv_list_node **node)
{
    qv_list_node *n;
    for (n = ctx->decoders.head; n; n = n->next) {
        dec_record *r = (dec_record *)n->value;
        if (r->id == id) {
            if (node)
                *node = n;
            return r;
        }
    }
    return NULL;
}

static int feed(void *user, int protocol, int conn_id, int key1, int key2, int stream, qv_buf_md *md)
{
    dec_record *r = (dec_record *)user;
    (void)protocol;
    if (conn_id == r->conn_id && key1 == r->key1 && key2 == r->key2 && stream == r->stream)
        qv_dec_feed(r->dec, md);
    return 0;
}

static void unbind(dec_record *r)
{
    if (!r->bound)
        return;
    trovix_md_remove_listener(r->key);
    r->bound = 0;
    qv_dec_reset(r->dec);
}

static void record_free(dec_record *r)
{
    qv_dec_free(r->dec);
    free(r);
}

void sdk_decoders_free(sdk_ctx *ctx)
{
    dec_record *r;
    while ((r = (dec_record *)qv_list_pop(&ctx->decoders)) != NULL)
        record_free(r);
}

TROVIX_API int trovix_dec_open(int id, const char *json)
{
    sdk_ctx *ctx = sdk_acquire();
    dec_record *r = NULL;
    int code = TROVIX_OK;
    if (!ctx)
        return TROVIX_FAILED;
    pf_mutex_lock(&ctx->dec_lock);
    if (find(ctx, id, NULL)) {
        code = TROVIX_DECODER_STATE;
    } else if (!(r = (dec_record *)calloc(1, sizeof *r)) || !(r->dec = qv_dec_create(dec_pix_fmt_from_options(json))) ||
               !qv_list_push(&ctx->decoders, r)) {
        if (r)
            record_free(r);
        code = TROVIX_FAILED;
    } else {
        r->id = id;
    }
    pf_mutex_unlock(&ctx->dec_lock);
    sdk_release(ctx);
    return code;
}

TROVIX_API int trovix_dec_close(int id)
{
    sdk_ctx *ctx = sdk_acquire();
    qv_list_node *n = NULL;
    dec_record *r;
    if (!ctx)
        return TROVIX_FAILED;
    pf_mutex_lock(&ctx->dec_lock);
    r = find(ctx, id, &n);
    if (r) {
        qv_list_unlink(&ctx->decoders, n);
        unbind(r);
    }
    pf_mutex_unlock(&ctx->dec_lock);
    sdk_release(ctx);
    if (r)
        record_free(r);
    return TROVIX_OK;
}

TROVIX_API int trovix_dec_bind(int id, int conn_id, int key1, int key2, int stream)
{
    sdk_ctx *ctx = sdk_acquire();
    dec_record *r;
    int code = TROVIX_DECODER_STATE;
    if (!ctx)
        return TROVIX_FAILED;
    pf_mutex_lock(&ctx->dec_lock);
    r = find(ctx, id, NULL);
    if (r) {
        /* A second bind replaces the first instead of feeding the decoder
         * two streams. */
        unbind(r);
        r->conn_id = conn_id;
        r->key1 = key1;
        r->key2 = key2;
        r->stream = stream;
        /* Separated, so that no two filters share a key. */
        qv_snprintf(r->key, sizeof r->key, "_trovix_%d_%d_%d_%d", conn_id, key1, key2, stream);
        qv_dec_reset(r->dec);
        code = trovix_md_add_listener(r->key, feed, r);
        r->bound = code == TROVIX_OK;
    }
    pf_mutex_unlock(&ctx->dec_lock);
    sdk_release(ctx);
    return code;
}

TROVIX_API int trovix_dec_unbind(int id)
{
    sdk_ctx *ctx = sdk_acquire();
    dec_record *r;
    if (!ctx)
        return TROVIX_FAILED;
    pf_mutex_lock(&ctx->dec_lock);
    r = find(ctx, id, NULL);
    if (r)
        unbind(r);
    pf_mutex_unlock(&ctx->dec_lock);
    sdk_release(ctx);
    return r ? TROVIX_OK : TROVIX_DECODER_STATE;
}

TROVIX_API int trovix_dec_get_md_data(int id, dec_frame **out)
{
    sdk_ctx *ctx = sdk_acquire();
    dec_record *r;
    dec_frame *frame = NULL;
    if (out)
        *out = NULL;
    if (!ctx)
        return TROVIX_FAILED;
    pf_mutex_lock(&ctx->dec_lock);
    r = find(ctx, id, NULL);
    if (r && out)
        frame = qv_dec_take(r->dec, pf_tick_ms());
    pf_mutex_unlock(&ctx->dec_lock);
    sdk_release(ctx);
    if (!r)
        return TROVIX_DECODER_STATE;
    if (!frame)
        return TROVIX_NOTHING;
    *out = frame;
    return TROVIX_OK;
}

TROVIX_API int trovix_dec_free_md_data(dec_frame *frame)
{
    if (!frame)
        return TROVIX_NULL_FRAME;
    dec_frame_free(frame);
    return TROVIX_OK;
}
