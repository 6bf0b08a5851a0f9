/*
 * The decoder thread "ffdec h26x": input and output queues, trimming and
 * pacing around the decoding of dec_state.c.
 *
 * Locks: the output lock before the input lock, never the other way round.
 * The feed (the library's media thread) takes only the input lock.
 */
#include "dec.h"

#include <stdlib.h>
#include <string.h>

#include <cjson/cJSON.h>

#define IDLE_WAIT_MS 5
/* Trim limits (decoded pictures and inputs together). */
#define TRIM_HARD 60
#define TRIM_KEEP 10
#define TRIM_SOFT 30
/* Pacing: at this many pending pictures the clock jumps instead of hurrying. */
#define PACE_JUMP_PENDING 15
#define PACE_JUMP_US 1000000

struct qv_dec {
    pf_mutex out_lock;
    qv_list out;              /* dec_frame *, oldest first */
    dec_pacing pacing;        /* under out_lock */

    pf_mutex in_lock;
    pf_cond in_cond;
    qv_list in;               /* qv_buf_md *, one reference each */
    int wait_key;             /* under in_lock */
    int feed_codec;           /* codec of the last record fed, under in_lock */
    uint32_t generation;      /* counts resets, under in_lock */
    qv_thread *thread;
    volatile int run;

    /* Owned by the thread. */
    dec_state *state;
    uint32_t state_generation; /* the reset the codec's references belong to */
};

int dec_pix_fmt_from_options(const char *json)
{
    static const struct { const char *name; int code; } names[] = {
        { "ARGB8888", DEC_PIX_ARGB8888 }, { "RGB888", DEC_PIX_RGB888 },
        { "YUV420P_SEPARATE", DEC_PIX_YUV420P_SEPARATE }, { "ABGR8888", DEC_PIX_ABGR8888 },
        { "BGR888", DEC_PIX_BGR888 }, { "RGBA8888", DEC_PIX_RGBA8888 }, { "BGRA8888", DEC_PIX_BGRA8888 },
    };
    int code = DEC_PIX_YUV420P_SEPARATE;
    cJSON *root, *item;
    size_t i;
    if (!json)
        return code;
    while (*json >= 1 && *json <= 32)
        json++;
    root = cJSON_Parse(json);
    if (!cJSON_IsObject(root)) {
        cJSON_Delete(root);
        return code;
    }
    for (item = root->child; item; item = item->next) {
        if (item->string && qv_strieq(item->string, "pix_fmt")) {
            if (cJSON_IsString(item)) {
                for (i = 0; i < sizeof names / sizeof names[0]; i++) {
                    if (qv_strieq(item->valuestring, names[i].name))
                        code = names[i].code;
                }
            }
            break;
        }
    }
    cJSON_Delete(root);
    return code;
}

/* ---- pacing ---- */
int dec_pace(dec_pacing *p, int64_t head_us, uint32_t pending, uint32_t now_ms)
{
    int64_t gap = p->clock > head_us ? p->clock - head_us : head_us - p->clock;
    if (pending < PACE_JUMP_PENDING && p->started && gap < PACE_JUMP_US && head_us > p->clock) {
        double speed = pending <= 2 ? 1.0 : pending == 3 ? 1.2 : pending <= 8 ? 1.3 : 1.5;
        /* In microseconds: cutting each step to whole milliseconds would
         * lose the hurry of a caller that asks every millisecond. */
        p->clock += (int64_t)((double)pf_tick_diff(now_ms, p->last_tick) * speed * 1000.0);
        p->last_tick = now_ms;
    } else {
        p->base = p->clock = head_us;
        p->last_tick = now_ms;
        p->started = 1;
    }
    return head_us <= p->clock;
}

/* ---- queues ---- */
static void drop_input(void *value) { qv_md_unref((qv_buf_md *)value); }
static void drop_output(void *value) { dec_frame_free((dec_frame *)value); }

/* The inputs part of a trim, under the input lock: only key frames stay,
 * at most TRIM_KEEP of them, and decoding waits for the next key frame. */
static void trim_inputs(qv_dec *dec)
{
    qv_list_node *n = dec->in.head;
    while (n) {
        qv_list_node *next = n->next;
        if (!dec_is_key((qv_buf_md *)n->value)) {
            qv_md_unref((qv_buf_md *)n->value);
            qv_list_unlink(&dec->in, n);
        }
        n = next;
    }
    while (dec->in.count > TRIM_KEEP)
        qv_md_unref((qv_buf_md *)qv_list_pop(&dec->in));
    dec->wait_key = 1;
}

void qv_dec_feed(qv_dec *dec, qv_buf_md *md)
{
    int codec = dec_codec_of(md);
    pf_mutex_lock(&dec->in_lock);
    /* Bounded even while the thread is busy with a long picture. */
    if (dec->in.count >= TRIM_HARD)
        trim_inputs(dec);
    /* A stream that changes codec starts again from a key frame. */
    if (dec->feed_codec != DEC_CODEC_NONE && codec != dec->feed_codec)
        dec->wait_key = 1;
    dec->feed_codec = codec;
    if (dec->wait_key && dec_is_key(md))
        dec->wait_key = 0;
    if (!dec->wait_key) {
        qv_md_ref(md);
        if (qv_list_push(&dec->in, md))
            pf_cond_broadcast(&dec->in_cond);
        else
            qv_md_unref(md);
    }
    pf_mutex_unlock(&dec->in_lock);
}

static void flush_queues(qv_dec *dec)
{
    pf_mutex_lock(&dec->out_lock);
    pf_mutex_lock(&dec->in_lock);
    qv_list_clear(&dec->out, drop_output);
    qv_list_clear(&dec->in, drop_input);
    dec->wait_key = 1;
    dec->feed_codec = DEC_CODEC_NONE;
    dec->generation++;
    dec->pacing.started = 0;
    pf_mutex_unlock(&dec->in_lock);
    pf_mutex_unlock(&dec->out_lock);
}

/* Done at once, so that nothing fed after it is lost to it. A picture the
 * thread is decoding meanwhile is dropped by its generation, and the codec
 * forgets its references before the first input of the new generation. */
void qv_dec_reset(qv_dec *dec) { flush_queues(dec); }

void qv_dec_counts(qv_dec *dec, uint32_t *decoded, uint32_t *inputs)
{
    pf_mutex_lock(&dec->out_lock);
    pf_mutex_lock(&dec->in_lock);
    if (decoded)
        *decoded = dec->out.count;
    if (inputs)
        *inputs = dec->in.count;
    pf_mutex_unlock(&dec->in_lock);
    pf_mutex_unlock(&dec->out_lock);
}

dec_frame *qv_dec_take(qv_dec *dec, uint32_t now_ms)
{
    dec_frame *frame = NULL;
    uint32_t decoded, inputs;
    pf_mutex_lock(&dec->out_lock);
    decoded = dec->out.count;
    if (decoded > 0) {
        dec_frame *head = (dec_frame *)dec->out.head->value;
        pf_mutex_lock(&dec->in_lock);
        inputs = dec->in.count;
        pf_mutex_unlock(&dec->in_lock);
        if (dec_pace(&dec->pacing, head->pts, decoded + inputs, now_ms))
            frame = (dec_frame *)qv_list_pop(&dec->out);
    }
    pf_mutex_unlock(&dec->out_lock);
    /* The thread may have stopped at the limit of waiting pictures. */
    if (frame && decoded >= DEC_MAX_DECODED)
        pf_cond_broadcast(&dec->in_cond);
    return frame;
}


/* Cuts the queues when the caller falls behind. Run after every pass (not
 * only when idle), so that a thread that decodes all the time trims too. */
static void trim(qv_dec *dec)
{
    uint32_t total;
    pf_mutex_lock(&dec->out_lock);
    pf_mutex_lock(&dec->in_lock);
    total = dec->out.count + dec->in.count;
    if (total >= TRIM_HARD) {
        trim_inputs(dec);
        if (dec->out.count > 1)
            dec_frame_free((dec_frame *)qv_list_pop(&dec->out));
    } else if (total >= TRIM_SOFT && dec->out.count > 1) {
        dec_frame_free((dec_frame *)qv_list_pop(&dec->out));
    }
    pf_mutex_unlock(&dec->in_lock);
    pf_mutex_unlock(&dec->out_lock);
}

typedef struct picture_target {
    qv_dec *dec;
    uint32_t generation;
} picture_target;

/* Queues a decoded picture unless a reset came since its input was taken. */
static void queue_picture(void *user, dec_frame *frame)
{
    qv_dec *dec = ((picture_target *)user)->dec;
    uint32_t generation = ((picture_target *)user)->generation;
    int current;
    pf_mutex_lock(&dec->out_lock);
    pf_mutex_lock(&dec->in_lock);
    current = generation == dec->generation;
    pf_mutex_unlock(&dec->in_lock);
    if (!current || !qv_list_push(&dec->out, frame))
        dec_frame_free(frame);
    pf_mutex_unlock(&dec->out_lock);
}

static void dec_thread(void *data, volatile int *run)
{
    qv_dec *dec = (qv_dec *)data;
    while (qv_running(run)) {
        qv_buf_md *md = NULL;
        uint32_t decoded, generation = 0;
        pf_mutex_lock(&dec->out_lock);
        decoded = dec->out.count;
        pf_mutex_unlock(&dec->out_lock);
        pf_mutex_lock(&dec->in_lock);
        if (decoded < DEC_MAX_DECODED) {
            md = (qv_buf_md *)qv_list_pop(&dec->in);
            generation = dec->generation;
        }
        pf_mutex_unlock(&dec->in_lock);
        if (md) {
            picture_target target = { dec, generation };
            if (generation != dec->state_generation)
                dec_state_flush(dec->state);
            dec->state_generation = generation;
            dec_state_decode(dec->state, md, queue_picture, &target);
            qv_md_unref(md);
            trim(dec);
            continue;
        }
        trim(dec);
        pf_mutex_lock(&dec->in_lock);
        if (qv_running(run) && (!dec->in.head || decoded >= DEC_MAX_DECODED))
            pf_cond_wait_ms(&dec->in_cond, &dec->in_lock, IDLE_WAIT_MS);
        pf_mutex_unlock(&dec->in_lock);
    }
}

qv_dec *qv_dec_create(int pix_fmt)
{
    qv_dec *dec = (qv_dec *)calloc(1, sizeof *dec);
    if (!dec)
        return NULL;
    pf_mutex_init(&dec->out_lock);
    pf_mutex_init(&dec->in_lock);
    pf_cond_init(&dec->in_cond);
    qv_list_init(&dec->out);
    qv_list_init(&dec->in);
    dec->wait_key = 1;
    /* An unknown format gives separate planes (dec_convert). */
    dec->state = dec_state_create(pix_fmt);
    if (dec->state)
        dec->thread = qv_thread_start(dec_thread, dec, &dec->run, "ffdec h26x");
    if (!dec->thread) {
        qv_dec_free(dec);
        return NULL;
    }
    return dec;
}

void qv_dec_free(qv_dec *dec)
{
    if (!dec)
        return;
    if (dec->thread) {
        __atomic_store_n(&dec->run, 0, __ATOMIC_RELEASE);
        pf_cond_broadcast(&dec->in_cond);
        qv_thread_stop(dec->thread);
    }
    dec_state_free(dec->state);
    qv_list_clear(&dec->out, drop_output);
    qv_list_clear(&dec->in, drop_input);
    pf_cond_destroy(&dec->in_cond);
    pf_mutex_destroy(&dec->in_lock);
    pf_mutex_destroy(&dec->out_lock);
    free(dec);
}
