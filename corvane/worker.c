/*
 * Worker threads: each owns a Lua state set up like the device library's
 * host, loads a script module and runs its jobs one after another; when its
 * queue is empty it fires the script's timers and waits for the idle
 * interval, or until a job arrives.
 *
 * Every call into the script runs in protected mode: an error is printed with
 * its traceback and the worker carries on. Nothing a script does ends the
 * process.
 *
 * A record is counted: its owner (the thread registry or a handle), its
 * thread, and a quit that is stopping it each hold a reference. Every started
 * worker sits in the live list until its thread has been joined, so quit can
 * wait for all of them, registered or not, before the shared storage goes.
 */
#include "corvane_int.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Busy-wait rounds (each a CPU pause, some 30 to 150 cycles) before an idle
 * worker sleeps. */
#define CV_SPIN_ROUNDS 512

static __thread cv_worker *tls_worker;
static cv_worker *g_live; /* under the module lock */

cv_worker *cv_worker_current(void)
{
    return tls_worker;
}

static void live_link(cv_worker *w)
{
    w->prev_live = NULL;
    w->next_live = g_live;
    if (g_live)
        g_live->prev_live = w;
    g_live = w;
    w->live = 1;
}

static void live_unlink(cv_worker *w)
{
    if (!w->live)
        return;
    if (w->prev_live)
        w->prev_live->next_live = w->next_live;
    else
        g_live = w->next_live;
    if (w->next_live)
        w->next_live->prev_live = w->prev_live;
    w->next_live = w->prev_live = NULL;
    w->live = 0;
}

static void worker_free(cv_worker *w)
{
    free(w->detached);
    cv_fifo_clear(&w->jobs);
    cv_borrows_drop_worker(w);
    pf_cond_destroy(&w->wake);
    pf_mutex_destroy(&w->lock);
    free(w->name);
    free(w->module);
    free(w->arg);
    free(w);
}

void cv_worker_unref(cv_worker *w)
{
    if (w && __atomic_sub_fetch(&w->refs, 1, __ATOMIC_ACQ_REL) == 0)
        worker_free(w);
}

static void worker_ref(cv_worker *w)
{
    __atomic_add_fetch(&w->refs, 1, __ATOMIC_RELAXED);
}

/* ---- the thread body ---- */
static void call_ref(lua_State *L, int ref, const char *arg, size_t arg_len)
{
    if (!ref)
        return;
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    if (arg)
        lua_pushlstring(L, arg, arg_len);
    clua_pcall(L, arg ? 1 : 0, 0);
}

/* Sets the state up, loads the module and runs setup and init; protected, so
 * that even running out of memory here only ends up printed. */
static int start_state(lua_State *L)
{
    clua_env *env = (clua_env *)lua_touserdata(L, 1);
    cv_worker *w = (cv_worker *)lua_touserdata(L, 2);
    uint32_t now;
    lua_settop(L, 0);
    if (clua_env_setup(env) == 0)
        clua_env_load(env, w->module);
    now = pf_tick_ms();
    env->now = now;
    env->last_gc = now;
    if (env->loaded) {
        call_ref(L, env->ref_setup, w->arg, w->arg_len);
        call_ref(L, env->ref_init, w->arg, w->arg_len);
    }
    return 0;
}

static int run_job(lua_State *L)
{
    clua_env *env = (clua_env *)lua_touserdata(L, 1);
    const cv_job *job = (const cv_job *)lua_touserdata(L, 2);
    lua_rawgeti(L, LUA_REGISTRYINDEX, env->ref_on_cmd);
    cv_job_push(L, job);
    lua_call(L, 4, 0);
    return 0;
}

/* The timer tick runs protected too: a collection may run a failing
 * finalizer, and a timer's result must never raise. */
static int run_tick(lua_State *L)
{
    clua_env *env = (clua_env *)lua_touserdata(L, 1);
    clua_env_timer_tick(env, (uint32_t)lua_tointeger(L, 2), lua_toboolean(L, 3));
    return 0;
}

static void protected_call(lua_State *L, lua_CFunction fn, void *a, void *b)
{
    lua_pushcfunction(L, fn);
    lua_pushlightuserdata(L, a);
    lua_pushlightuserdata(L, b);
    clua_pcall(L, 2, 0);
}

/* A job that arrives within a few tens of microseconds is picked up without
 * sleeping: a steady stream of posts then costs its poster no wake-up call
 * per job. Returns non-zero when a job (or a stop) came. */
static int spin_for_job(cv_worker *w, volatile int *run)
{
    int i;
    for (i = 0; i < CV_SPIN_ROUNDS; i++) {
        if (__atomic_load_n(&w->has_jobs, __ATOMIC_ACQUIRE) || !qv_running(run))
            return 1;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return 0;
}

static void worker_loop(cv_worker *w, clua_env *env, volatile int *run)
{
    uint32_t tick = pf_tick_ms();
    int first = 1, ran_jobs = 0;
    /* Jobs are taken from the queue a batch at a time: one hold of the queue
     * lock per batch instead of per job. Until they run they still count as
     * queued (job_size, find_idle). */
    cv_fifo batch = { NULL, NULL, 0 };
    while (qv_running(run)) {
        cv_job *job;
        if (!batch.head) {
            pf_mutex_lock(&w->lock);
            batch = w->jobs;
            w->jobs.head = w->jobs.tail = NULL;
            w->jobs.count = 0;
            __atomic_store_n(&w->has_jobs, 0, __ATOMIC_RELAXED);
            __atomic_store_n(&w->batch_left, batch.count, __ATOMIC_RELAXED);
            pf_mutex_unlock(&w->lock);
        }
        job = cv_fifo_pop(&batch);
        if (job) {
            __atomic_store_n(&w->batch_left, batch.count, __ATOMIC_RELAXED);
            /* Jobs run back to back: no timers, no wait. */
            if (env && env->loaded && env->ref_on_cmd) {
                env->now = tick;
                protected_call(env->L, run_job, env, job);
            }
            cv_job_free(job);
            cv_borrows_drop_worker(w);
            ran_jobs = 1;
            continue;
        }
        if (env) {
            lua_pushcfunction(env->L, run_tick);
            lua_pushlightuserdata(env->L, env);
            lua_pushinteger(env->L, tick);
            lua_pushboolean(env->L, first);
            clua_pcall(env->L, 3, 0);
            cv_borrows_drop_worker(w);
        }
        first = 0;
        /* Only a worker that just ran jobs expects more soon: an idle one
         * goes straight to sleep. */
        if (ran_jobs && spin_for_job(w, run)) {
            tick = pf_tick_ms();
            continue;
        }
        ran_jobs = 0;
        pf_mutex_lock(&w->lock);
        if (!w->jobs.head && qv_running(run)) {
            w->waiting = 1;
            pf_cond_wait_ms(&w->wake, &w->lock, (uint32_t)w->interval);
            w->waiting = 0;
        }
        pf_mutex_unlock(&w->lock);
        tick = pf_tick_ms();
    }
    /* Stopped between two jobs of a batch: the rest never runs. */
    cv_fifo_clear(&batch);
    __atomic_store_n(&w->batch_left, 0, __ATOMIC_RELAXED);
}

static void worker_main(void *data, volatile int *run)
{
    cv_worker *w = (cv_worker *)data;
    clua_env *env;
    int late;
    tls_worker = w;
    env = clua_env_create(w->lookup, NULL);
    if (env) {
        w->L = env->L;
        clua_env_add_registrar(env, pre_loadlib_corvane);
        lua_pushcfunction(env->L, start_state);
        lua_pushlightuserdata(env->L, env);
        lua_pushlightuserdata(env->L, w);
        if (lua_pcall(env->L, 2, 0, 0) != LUA_OK)
            clua_report(env->L);
    } else {
        fprintf(stderr, "lua_helper: %s\n", "worker has no Lua state (out of memory)");
        fflush(stderr);
    }
    free(w->arg);
    w->arg = NULL;
    w->arg_len = 0;

    worker_loop(w, env, run);

    if (env) {
        if (env->loaded && env->ref_quit) {
            lua_rawgeti(env->L, LUA_REGISTRYINDEX, env->ref_quit);
            clua_pcall(env->L, 0, 0);
        }
        cv_borrows_drop_worker(w);
        clua_env_close(env);
        w->L = NULL;
    }
    cv_borrows_drop_worker(w);
    tls_worker = NULL;

    cv_module_lock();
    w->done = 1;
    late = w->late;
    /* A worker that quit gave up on is nobody's to join: it leaves alone. */
    if (w->orphan)
        live_unlink(w);
    cv_module_broadcast();
    cv_module_unlock();
    if (late)
        cv_module_late_worker_done();
    cv_worker_unref(w);
}

/* ---- starting and stopping ---- */
static char *copy_text(const char *text, size_t len)
{
    char *copy = (char *)malloc(len + 1);
    if (!copy)
        return NULL;
    if (len)
        memcpy(copy, text, len);
    copy[len] = 0;
    return copy;
}

cv_worker *cv_worker_start(const char *name, size_t name_len, lua_Integer interval, const char *module,
                           const char *arg, size_t arg_len, clua_lookup_fn lookup, const char **error)
{
    cv_worker *w = (cv_worker *)calloc(1, sizeof *w);
    *error = "out of memory";
    if (!w)
        return NULL;
    if (name_len == 0) {
        name = "corvane";
        name_len = strlen(name);
    }
    w->name = copy_text(name, name_len);
    w->name_len = name_len;
    w->interval = interval < 2 ? 1 : interval > INT_MAX ? INT_MAX : (int)interval;
    w->module = copy_text(module, strlen(module));
    w->arg = copy_text(arg, arg_len);
    w->arg_len = arg_len;
    w->lookup = lookup;
    w->refs = 2; /* the caller and the thread */
    if (!w->name || !w->module || !w->arg || pf_mutex_init(&w->lock) != 0) {
        free(w->name);
        free(w->module);
        free(w->arg);
        free(w);
        return NULL;
    }
    if (pf_cond_init(&w->wake) != 0) {
        pf_mutex_destroy(&w->lock);
        w->refs = 1;
        cv_worker_unref(w);
        return NULL;
    }
    /* Linked before the thread starts, under the lock, so that a quit on
     * another thread either misses the worker whole or waits for it. */
    cv_module_lock();
    live_link(w);
    w->thread = qv_thread_start(worker_main, w, &w->running, w->name);
    if (!w->thread)
        live_unlink(w);
    cv_module_unlock();
    if (!w->thread) {
        *error = "cannot start a thread";
        w->refs = 1;
        cv_worker_unref(w);
        return NULL;
    }
    *error = NULL;
    return w;
}

static void request_stop(cv_worker *w)
{
    pf_mutex_lock(&w->lock);
    __atomic_store_n(&w->running, 0, __ATOMIC_RELEASE);
    pf_cond_broadcast(&w->wake);
    pf_mutex_unlock(&w->lock);
}

void cv_worker_close(cv_worker *w)
{
    int mine;
    if (!w)
        return;
    cv_module_lock();
    mine = w->live && !w->stopper;
    if (mine)
        w->stopper = 1;
    cv_module_unlock();
    if (mine) {
        qv_thread *thread = w->thread;
        request_stop(w);
        qv_thread_stop(thread); /* waits without limit */
        cv_module_lock();
        w->thread = NULL;
        live_unlink(w);
        cv_module_broadcast();
        cv_module_unlock();
    }
    cv_worker_unref(w);
}

int cv_worker_post(cv_worker *w, cv_job *job)
{
    int ok, wake = 0;
    pf_mutex_lock(&w->lock);
    ok = qv_running(&w->running) && !__atomic_load_n(&w->stopped, __ATOMIC_ACQUIRE);
    if (ok) {
        cv_fifo_push(&w->jobs, job);
        __atomic_store_n(&w->has_jobs, 1, __ATOMIC_RELEASE);
        /* One wake-up per wait, given after the lock is let go so that the
         * worker does not wake into a held lock. */
        wake = w->waiting;
        w->waiting = 0;
    }
    pf_mutex_unlock(&w->lock);
    if (wake)
        pf_cond_broadcast(&w->wake);
    return ok ? 0 : -1;
}

uint32_t cv_worker_job_count(cv_worker *w)
{
    uint32_t count;
    pf_mutex_lock(&w->lock);
    count = w->jobs.count + __atomic_load_n(&w->batch_left, __ATOMIC_RELAXED);
    pf_mutex_unlock(&w->lock);
    return count;
}

int cv_worker_is_stopped(cv_worker *w)
{
    return __atomic_load_n(&w->stopped, __ATOMIC_ACQUIRE);
}

int cv_workers_stop_all(uint32_t timeout_ms, int *newly_late)
{
    cv_worker *chain = NULL, *w, *next;
    uint64_t deadline = pf_clock_ms() + timeout_ms;
    int late = 0;
    *newly_late = 0;

    /* Take every live worker: those nobody is stopping become quit's to
     * join; those a close is stopping right now are only waited for. */
    cv_module_lock();
    for (w = g_live; w; w = w->next_live) {
        if (w == tls_worker)
            continue;
        w->quit_joins = !w->stopper;
        if (w->quit_joins)
            w->stopper = 2;
        __atomic_store_n(&w->stopped, 1, __ATOMIC_RELEASE);
        worker_ref(w);
        w->next_stop = chain;
        chain = w;
    }
    cv_module_unlock();

    for (w = chain; w; w = w->next_stop)
        request_stop(w);

    cv_module_lock();
    for (w = chain; w; w = w->next_stop) {
        uint64_t now;
        while (!w->done && (now = pf_clock_ms()) < deadline)
            cv_module_wait_ms((uint32_t)(deadline - now));
        if (!w->done) {
            /* Late for an earlier quit already: counted once only. */
            late++;
            *newly_late += !w->late;
            w->late = 1;
            if (w->quit_joins)
                w->orphan = 1;
        }
    }
    cv_module_unlock();

    for (w = chain; w; w = next) {
        next = w->next_stop;
        if (w->quit_joins) {
            qv_thread *thread = w->thread;
            cv_module_lock();
            w->thread = NULL;
            if (!w->orphan)
                live_unlink(w);
            cv_module_unlock();
            if (w->orphan) {
                /* Still inside a job: it ends, and unlinks itself, later. Its
                 * starter record may not have been read yet: it goes with the
                 * worker record, after the thread's last reference. */
                pf_thread_detach(&thread->thread);
                w->detached = thread;
            } else {
                qv_thread_stop(thread);
            }
        }
        cv_worker_unref(w);
    }
    return late;
}
