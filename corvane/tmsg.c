/*
 * qv_tmsg: named first-in first-out queues of jobs that any Lua state of the
 * process may post to and poll.
 *
 * Queues are registered up front: the first post, get or clear on any name
 * freezes the registry, after which it is only read, without a lock, while
 * several threads use the queues. Each queue has its own lock, held only to
 * add, take or free jobs; get never waits for it.
 */
#include "corvane_int.h"

#include <stdlib.h>

#define CV_TMSG_BUCKETS 4096

typedef struct cv_queue {
    pf_mutex lock;
    cv_fifo jobs;
} cv_queue;

struct cv_tmsg {
    pf_mutex lock; /* guards registration and the freeze */
    qv_hmap *queues;
    int frozen;
};

cv_tmsg *cv_tmsg_create(void)
{
    cv_tmsg *tmsg = (cv_tmsg *)calloc(1, sizeof *tmsg);
    if (!tmsg)
        return NULL;
    tmsg->queues = qv_hmap_create(CV_TMSG_BUCKETS);
    if (!tmsg->queues || pf_mutex_init(&tmsg->lock) != 0) {
        qv_hmap_free(tmsg->queues);
        free(tmsg);
        return NULL;
    }
    return tmsg;
}

void cv_tmsg_free(cv_tmsg *tmsg)
{
    qv_hmap_entry *e;
    if (!tmsg)
        return;
    for (e = tmsg->queues->head; e; e = e->next) {
        cv_queue *queue = (cv_queue *)e->value;
        cv_fifo_clear(&queue->jobs);
        pf_mutex_destroy(&queue->lock);
        free(queue);
    }
    qv_hmap_free(tmsg->queues);
    pf_mutex_destroy(&tmsg->lock);
    free(tmsg);
}

/* Freezes the registry and finds a queue by the name in argument 1. */
static cv_queue *find_queue(lua_State *L)
{
    size_t len;
    const char *name = luaL_checklstring(L, 1, &len);
    cv_tmsg *tmsg = cv_tmsg_get();
    qv_hmap_entry *e;
    if (!tmsg)
        return NULL;
    if (!__atomic_load_n(&tmsg->frozen, __ATOMIC_ACQUIRE)) {
        pf_mutex_lock(&tmsg->lock);
        __atomic_store_n(&tmsg->frozen, 1, __ATOMIC_RELEASE);
        pf_mutex_unlock(&tmsg->lock);
    }
    if (len > UINT32_MAX)
        return NULL;
    e = qv_hmap_find(tmsg->queues, name, (uint32_t)len);
    return e ? (cv_queue *)e->value : NULL;
}

static int l_register(lua_State *L)
{
    size_t len;
    const char *name = luaL_checklstring(L, 1, &len);
    cv_tmsg *tmsg = cv_tmsg_get();
    cv_queue *queue;
    int ok = 0;
    if (!tmsg || len > UINT32_MAX) {
        lua_pushboolean(L, 0);
        return 1;
    }
    queue = (cv_queue *)calloc(1, sizeof *queue);
    if (!queue || pf_mutex_init(&queue->lock) != 0) {
        free(queue);
        return luaL_error(L, "qv_tmsg.register: out of memory");
    }
    pf_mutex_lock(&tmsg->lock);
    if (!__atomic_load_n(&tmsg->frozen, __ATOMIC_RELAXED) && !qv_hmap_find(tmsg->queues, name, (uint32_t)len))
        ok = qv_hmap_insert(tmsg->queues, name, (uint32_t)len, queue) == 0;
    pf_mutex_unlock(&tmsg->lock);
    if (!ok) {
        pf_mutex_destroy(&queue->lock);
        free(queue);
    }
    lua_pushboolean(L, ok);
    return 1;
}

static int l_post(lua_State *L)
{
    cv_queue *queue;
    cv_job *job;
    luaL_checklstring(L, 2, NULL);
    luaL_checklstring(L, 3, NULL);
    luaL_checklstring(L, 4, NULL);
    queue = find_queue(L);
    if (!queue) {
        lua_pushboolean(L, 0);
        return 1;
    }
    job = cv_job_from_args(L, 2);
    if (!job)
        return luaL_error(L, "qv_tmsg.post: out of memory");
    pf_mutex_lock(&queue->lock);
    cv_fifo_push(&queue->jobs, job);
    pf_mutex_unlock(&queue->lock);
    lua_pushboolean(L, 1);
    return 1;
}

static int l_get(lua_State *L)
{
    cv_queue *queue = find_queue(L);
    cv_job *job = NULL;
    luaL_checkstack(L, 5, NULL);
    if (queue && pf_mutex_trylock(&queue->lock) == 0) {
        job = cv_fifo_pop(&queue->jobs);
        pf_mutex_unlock(&queue->lock);
    }
    if (!job) {
        lua_pushboolean(L, 0);
        lua_pushliteral(L, "");
        lua_pushliteral(L, "");
        lua_pushliteral(L, "");
        lua_pushlightuserdata(L, NULL);
        return 5;
    }
    lua_pushboolean(L, 1);
    cv_job_push(L, job);
    cv_job_free(job);
    return 5;
}

static int l_clear(lua_State *L)
{
    cv_queue *queue = find_queue(L);
    if (!queue) {
        lua_pushboolean(L, 0);
        return 1;
    }
    pf_mutex_lock(&queue->lock);
    cv_fifo_clear(&queue->jobs);
    pf_mutex_unlock(&queue->lock);
    lua_pushboolean(L, 1);
    return 1;
}

int luaopen_qv_tmsg(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "register", l_register }, { "post", l_post }, { "get", l_get }, { "clear", l_clear }, { NULL, NULL }
    };
    luaL_checkversion(L);
    luaL_newlib(L, fns);
    return 1;
}
