/*
 * Internals of the worker module shared between its files: jobs and their
 * FIFO, worker records, the module's process-wide state and the hooks by
 * which the cache ties borrowed objects to the Lua state that fetched them.
 */
#ifndef CORVANE_INT_H
#define CORVANE_INT_H

#include "clua.h"
#include "corvane.h"

/* ---- jobs ---- */
/* Three texts copied with their lengths (zero bytes included) and a pointer
 * that is carried, never owned. One allocation holds all of it. */
typedef struct cv_job {
    struct cv_job *next;
    void *ud;
    size_t len[3];
    char *text[3];
} cv_job;

/* Null when out of memory. */
cv_job *cv_job_new(const char *const text[3], const size_t len[3], void *ud);
void cv_job_free(cv_job *job);
/* Pushes text 1..3 and ud (a light userdata, null included). */
void cv_job_push(lua_State *L, const cv_job *job);

typedef struct cv_fifo {
    cv_job *head;
    cv_job *tail;
    uint32_t count;
} cv_fifo;

void cv_fifo_push(cv_fifo *fifo, cv_job *job);
cv_job *cv_fifo_pop(cv_fifo *fifo);
void cv_fifo_clear(cv_fifo *fifo);

/* Reads arguments first..first+2 as texts and first+3 as an optional light
 * userdata (anything else counts as null); raises the standard argument
 * errors. Null when out of memory. */
cv_job *cv_job_from_args(lua_State *L, int first);

/* ---- workers ---- */
typedef struct cv_worker cv_worker;

struct cv_worker {
    char *name;            /* never empty: "corvane" stands in */
    size_t name_len;
    int interval;          /* idle wait in ms, at least 1 */
    char *module;
    char *arg;             /* handed to setup and init, then freed */
    size_t arg_len;
    clua_lookup_fn lookup; /* null: the standard searchers only */

    pf_mutex lock;         /* guards jobs and waiting */
    pf_cond wake;          /* a job arrived or a stop was asked for */
    cv_fifo jobs;
    int waiting;
    uint32_t batch_left;   /* taken from jobs by the thread, not yet run; atomic */
    int has_jobs;          /* jobs is not empty; atomic, read without the lock */

    volatile int running;  /* cleared to stop the thread */
    int stopped;           /* taken over by quit; a handle reads as closed */
    int refs;              /* owner, thread and a stopping quit; atomic */
    qv_thread *thread;     /* null once joined or let go */
    qv_thread *detached;   /* let go by quit, freed with the record */

    /* Under the module lock: */
    int done;              /* the thread body has ended */
    int stopper;           /* 0 nobody, 1 a close or destroy, 2 quit joins it */
    int quit_joins;
    int late;              /* quit stopped waiting for it */
    int orphan;            /* late, and quit let go of the thread: it leaves alone */
    cv_worker *next_stop;  /* quit's list of the workers it waits for */

    lua_State *L;          /* the worker's own state, set on its thread */
    qv_hmap *borrows;      /* cached values this state holds, keyed by value */

    cv_worker *next_live;  /* every started worker not yet stopped */
    cv_worker *prev_live;
    int live;
};

/* Starts a worker; null with *error set when the thread can't be created or
 * memory runs out. The caller owns one reference. */
cv_worker *cv_worker_start(const char *name, size_t name_len, lua_Integer interval, const char *module,
                           const char *arg, size_t arg_len, clua_lookup_fn lookup, const char **error);
/* Stops the worker's thread, waiting without limit (no-op when quit took it
 * over), and drops the caller's reference. */
void cv_worker_close(cv_worker *w);
/* Appends a job; 0 on success, -1 when the worker no longer runs (the job is
 * then the caller's). */
int cv_worker_post(cv_worker *w, cv_job *job);
uint32_t cv_worker_job_count(cv_worker *w);
int cv_worker_is_stopped(cv_worker *w);
void cv_worker_unref(cv_worker *w);
/* The worker whose thread is calling, or null. */
cv_worker *cv_worker_current(void);

/* Stops every live worker, each with at most the rest of timeout_ms: returns
 * the number that did not end in time (left to end on their own), of which
 * *newly_late were not late for an earlier call already. */
int cv_workers_stop_all(uint32_t timeout_ms, int *newly_late);

/* ---- module state ---- */
/* The module lock guards the thread registry, the live-worker list and the
 * pointers to the shared storage below. */
void cv_module_lock(void);
void cv_module_unlock(void);
/* Waits on the module lock (held once) until a worker ends or ms pass. */
void cv_module_wait_ms(uint32_t ms);
void cv_module_broadcast(void);
/* A worker that quit stopped waiting for has ended: once none is left, the
 * storage kept for such workers is freed. */
void cv_module_late_worker_done(void);

typedef struct cv_cache cv_cache;
typedef struct cv_tmsg cv_tmsg;

/* Cached texts up to this size (bytes) are copied out under the cache lock;
 * longer ones are read after it, kept alive by a reference. */
#define CV_SHORT_TEXT 128

/* Storage of init .. quit; null outside that span. */
cv_cache *cv_cache_get(void);
cv_tmsg *cv_tmsg_get(void);

cv_cache *cv_cache_create(uint32_t nbuckets);
/* Drops every value (releasing owned objects) and frees the cache. */
void cv_cache_free(cv_cache *cache);
cv_tmsg *cv_tmsg_create(void);
void cv_tmsg_free(cv_tmsg *tmsg);
void cv_storage_set(cv_cache *cache, cv_tmsg *tmsg);

int luaopen_qv_mcache(lua_State *L);
int luaopen_qv_tmsg(lua_State *L);

/* ---- borrowed cache values ---- */
/* Ends the borrows of a worker's state (after each job, timer pass and at
 * the end): the objects they kept alive may be released now. */
void cv_borrows_drop_worker(cv_worker *w);
/* Ends the borrows of any other state (the one that calls quit). */
void cv_borrows_drop_state(lua_State *L);

#endif
