/*
 * The corvane module: init and quit of the shared storage, named workers in
 * the thread registry, worker handles, and the library's exports.
 *
 * The registry and the storage pointers are guarded by one module lock, so
 * any Lua state on any thread may call these functions; the lock is held
 * only to look up or change the registry, never while a script runs.
 */
#include "corvane_int.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CV_THREAD_META "corvane_thread_meta"
#define CV_THREAD_BUCKETS 4096
#define CV_CACHE_BUCKETS 4096
#define CV_MAX_BUCKETS (1 << 24)
/* How long quit waits, by default, for workers to finish their current job. */
#define CV_QUIT_WAIT_MS 10000

typedef struct cv_loader {
    qv_obj head; /* family "qv_com", class "qv_loader"; no release: never freed */
    clua_lookup_fn lookup;
    struct cv_loader *next;
} cv_loader;

/* Storage that quit could not free because a worker it stopped waiting for
 * may be inside a call that uses it; freed once all such workers have ended. */
typedef struct cv_retired {
    cv_cache *cache;
    cv_tmsg *tmsg;
    struct cv_retired *next;
} cv_retired;

typedef struct cv_handle {
    char *name;
    size_t name_len;
    cv_worker *w; /* null once closed */
} cv_handle;

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static pf_mutex g_lock;
static pf_cond g_exit;
static uint32_t g_loader_tag;

/* Under g_lock: */
static int g_initialised;
static qv_hmap *g_threads;
static cv_loader *g_loaders;
static cv_retired *g_retired;
static int g_late; /* workers quit stopped waiting for that have not ended */
/* Written under g_lock, read by any thread without it. */
static cv_cache *g_cache;
static cv_tmsg *g_tmsg;

static void module_init(void)
{
    pf_mutex_init(&g_lock);
    pf_cond_init(&g_exit);
    g_loader_tag = qv_tag("qv_loader");
}

void cv_module_lock(void)
{
    pthread_once(&g_once, module_init);
    pf_mutex_lock(&g_lock);
}

void cv_module_unlock(void)
{
    pf_mutex_unlock(&g_lock);
}

void cv_module_wait_ms(uint32_t ms)
{
    pf_cond_wait_ms(&g_exit, &g_lock, ms);
}

void cv_module_broadcast(void)
{
    pf_cond_broadcast(&g_exit);
}

static void free_retired(cv_retired *retired)
{
    while (retired) {
        cv_retired *next = retired->next;
        cv_tmsg_free(retired->tmsg);
        cv_cache_free(retired->cache);
        free(retired);
        retired = next;
    }
}

/* Under the lock: the retired storage, taken when no late worker is left. */
static cv_retired *take_retired(void)
{
    cv_retired *retired = NULL;
    if (g_late == 0) {
        retired = g_retired;
        g_retired = NULL;
    }
    return retired;
}

void cv_module_late_worker_done(void)
{
    cv_retired *retired;
    cv_module_lock();
    g_late--;
    retired = take_retired();
    cv_module_unlock();
    free_retired(retired);
}

cv_cache *cv_cache_get(void)
{
    return __atomic_load_n(&g_cache, __ATOMIC_ACQUIRE);
}

cv_tmsg *cv_tmsg_get(void)
{
    return __atomic_load_n(&g_tmsg, __ATOMIC_ACQUIRE);
}

void cv_storage_set(cv_cache *cache, cv_tmsg *tmsg)
{
    __atomic_store_n(&g_cache, cache, __ATOMIC_RELEASE);
    __atomic_store_n(&g_tmsg, tmsg, __ATOMIC_RELEASE);
}

/* ---- loaders ---- */
CORVANE_API void *corvane_loader(corvane_lookup_fn lookup)
{
    const qv_tag_set *t = qv_tags();
    cv_loader *loader;
    if (!lookup)
        return NULL;
    cv_module_lock();
    for (loader = g_loaders; loader; loader = loader->next) {
        if (loader->lookup == lookup)
            break;
    }
    if (!loader) {
        loader = (cv_loader *)calloc(1, sizeof *loader);
        if (loader) {
            qv_obj_init(&loader->head, t->com, g_loader_tag, 0, NULL, NULL);
            loader->lookup = lookup;
            loader->next = g_loaders;
            g_loaders = loader;
        }
    }
    cv_module_unlock();
    return loader;
}

/* The loader argument: absent or nil, or a loader object of this library
 * (known by address, so a stray pointer is never read, let alone called). */
static clua_lookup_fn opt_loader(lua_State *L, int idx)
{
    void *p;
    cv_loader *loader;
    if (lua_isnoneornil(L, idx))
        return NULL;
    p = lua_type(L, idx) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, idx) : NULL;
    cv_module_lock();
    for (loader = g_loaders; loader && (void *)loader != p; loader = loader->next) {
    }
    cv_module_unlock();
    if (!loader || loader->head.root != qv_tags()->obj || loader->head.klass != g_loader_tag)
        luaL_error(L, "%s.check(0x%p),idx=%d.must \"%s\".\n", "corvane", p, idx, "qv_loader");
    return loader->lookup;
}

/* ---- module functions ---- */
static void require_init(lua_State *L, const char *fn)
{
    if (!g_initialised) {
        cv_module_unlock();
        luaL_error(L, "corvane.%s: init has not been called", fn);
    }
}

/* Under the module lock: the registry entry of a worker name, or null. */
static qv_hmap_entry *find_registered(const char *name, size_t len)
{
    return len <= UINT32_MAX ? qv_hmap_find(g_threads, name, (uint32_t)len) : NULL;
}

static int l_init(lua_State *L)
{
    lua_Integer n = CV_CACHE_BUCKETS;
    cv_cache *cache;
    cv_tmsg *tmsg;
    qv_hmap *threads;
    if (lua_type(L, 1) == LUA_TNUMBER) {
        n = luaL_checkinteger(L, 1);
        if (n < 100)
            n = CV_CACHE_BUCKETS;
        luaL_argcheck(L, n <= CV_MAX_BUCKETS, 1, "too many buckets");
    }
    cache = cv_cache_create((uint32_t)n);
    tmsg = cv_tmsg_create();
    threads = qv_hmap_create(CV_THREAD_BUCKETS);
    if (!cache || !tmsg || !threads) {
        cv_cache_free(cache);
        cv_tmsg_free(tmsg);
        qv_hmap_free(threads);
        return luaL_error(L, "corvane.init: out of memory");
    }
    cv_module_lock();
    if (g_initialised) {
        cv_module_unlock();
        cv_cache_free(cache);
        cv_tmsg_free(tmsg);
        qv_hmap_free(threads);
        return luaL_error(L, "corvane.init: already initialised (call quit first)");
    }
    g_threads = threads;
    cv_storage_set(cache, tmsg);
    g_initialised = 1;
    cv_module_unlock();
    return 0;
}

static int l_quit(lua_State *L)
{
    lua_Integer wait = luaL_optinteger(L, 1, CV_QUIT_WAIT_MS);
    qv_hmap *threads;
    qv_hmap_entry *e;
    cv_cache *cache;
    cv_tmsg *tmsg;
    int late, newly_late;

    if (cv_worker_current())
        return luaL_error(L, "corvane.quit: a worker can't stop the module it runs in");
    wait = wait < 0 ? 0 : wait > INT_MAX ? INT_MAX : wait;
    cv_module_lock();
    require_init(L, "quit");
    threads = g_threads;
    g_threads = NULL;
    g_initialised = 0;
    cv_module_unlock();

    /* Every worker ends before the storage it may use goes; a worker's own
     * quit() may still read the cache. */
    late = cv_workers_stop_all((uint32_t)wait, &newly_late);
    for (e = threads->head; e; e = e->next)
        cv_worker_unref((cv_worker *)e->value);
    qv_hmap_free(threads);

    cv_module_lock();
    cache = cv_cache_get();
    tmsg = cv_tmsg_get();
    cv_storage_set(NULL, NULL);
    if (late) {
        cv_retired *retired = (cv_retired *)calloc(1, sizeof *retired);
        if (retired) {
            retired->cache = cache;
            retired->tmsg = tmsg;
            retired->next = g_retired;
            g_retired = retired;
        }
        g_late += newly_late;
        /* The late ones may all have ended meanwhile. */
        retired = take_retired();
        cv_module_unlock();
        fprintf(stderr, "corvane.quit: %d worker(s) still busy after %d ms; their queues and cache are kept until they end\n",
                late, (int)wait);
        fflush(stderr);
        cv_borrows_drop_state(L);
        free_retired(retired);
        lua_pushboolean(L, 0);
        return 1;
    }
    cv_module_unlock();
    cv_borrows_drop_state(L);
    cv_tmsg_free(tmsg);
    cv_cache_free(cache);
    lua_pushboolean(L, 1);
    return 1;
}

typedef struct cv_start_args {
    const char *name;
    size_t name_len;
    lua_Integer interval;
    const char *module;
    const char *arg;
    size_t arg_len;
    clua_lookup_fn lookup;
} cv_start_args;

static void check_start_args(lua_State *L, cv_start_args *a)
{
    a->name = luaL_checklstring(L, 1, &a->name_len);
    a->interval = luaL_checkinteger(L, 2);
    a->module = luaL_checkstring(L, 3);
    a->arg = luaL_checklstring(L, 4, &a->arg_len);
    a->lookup = opt_loader(L, 5);
}

static cv_worker *start(const cv_start_args *a, const char **error)
{
    return cv_worker_start(a->name, a->name_len, a->interval, a->module, a->arg, a->arg_len, a->lookup, error);
}

static int l_create(lua_State *L)
{
    cv_start_args a;
    cv_worker *w;
    const char *error = NULL;
    int inserted;
    check_start_args(L, &a);
    cv_module_lock();
    require_init(L, "create");
    /* The name is checked, the worker started and registered under one hold
     * of the lock, so two creators of one name can't both succeed. */
    if (a.name_len ? find_registered(a.name, a.name_len) : find_registered("corvane", 7)) {
        cv_module_unlock();
        lua_pushboolean(L, 0);
        return 1;
    }
    w = start(&a, &error);
    inserted = w && qv_hmap_insert(g_threads, w->name, (uint32_t)w->name_len, w) == 0;
    cv_module_unlock();
    if (!w) {
        lua_pushboolean(L, 0);
        lua_pushstring(L, error);
        return 2;
    }
    if (!inserted) {
        cv_worker_close(w);
        lua_pushboolean(L, 0);
        lua_pushliteral(L, "out of memory");
        return 2;
    }
    lua_pushboolean(L, 1);
    return 1;
}

static int l_destroy(lua_State *L)
{
    size_t len;
    const char *name = luaL_checklstring(L, 1, &len);
    qv_hmap_entry *e;
    cv_worker *w;
    cv_module_lock();
    require_init(L, "destroy");
    e = find_registered(name, len);
    if (!e) {
        cv_module_unlock();
        lua_pushboolean(L, 0);
        return 1;
    }
    w = (cv_worker *)e->value;
    if (w == cv_worker_current()) {
        cv_module_unlock();
        return luaL_error(L, "corvane.destroy: a worker can't destroy itself");
    }
    qv_hmap_remove(g_threads, e);
    cv_module_unlock();
    cv_worker_close(w);
    lua_pushboolean(L, 1);
    return 1;
}

static int l_post(lua_State *L)
{
    size_t len;
    const char *name = luaL_checklstring(L, 1, &len);
    qv_hmap_entry *e;
    cv_job *job = cv_job_from_args(L, 2);
    int ok = 0;
    if (!job)
        return luaL_error(L, "corvane.post: out of memory");
    cv_module_lock();
    if (!g_initialised) {
        cv_job_free(job);
        require_init(L, "post");
    }
    e = find_registered(name, len);
    ok = e && cv_worker_post((cv_worker *)e->value, job) == 0;
    cv_module_unlock();
    if (!ok)
        cv_job_free(job);
    lua_pushboolean(L, ok);
    return 1;
}

static int l_find_idle(lua_State *L)
{
    uint32_t best = UINT32_MAX;
    luaL_checkstack(L, 4, NULL);
    lua_settop(L, 1);
    lua_pushnil(L); /* slot 2: the best name so far */
    cv_module_lock();
    require_init(L, "find_idle");
    if (lua_istable(L, 1)) {
        lua_pushnil(L);
        while (lua_next(L, 1)) {
            if (lua_type(L, -1) == LUA_TSTRING) {
                size_t len;
                const char *name = lua_tolstring(L, -1, &len);
                qv_hmap_entry *e = find_registered(name, len);
                if (e) {
                    uint32_t count = cv_worker_job_count((cv_worker *)e->value);
                    if (count < best) {
                        best = count;
                        lua_pushvalue(L, -1);
                        lua_replace(L, 2);
                    }
                    if (count == 0) {
                        lua_pop(L, 2);
                        break;
                    }
                }
            }
            lua_pop(L, 1);
        }
    }
    cv_module_unlock();
    if (lua_type(L, 2) != LUA_TSTRING)
        lua_pushliteral(L, "");
    return 1;
}

/* ---- handles ---- */
static cv_handle *check_handle(lua_State *L)
{
    return (cv_handle *)luaL_checkudata(L, 1, CV_THREAD_META);
}

static int handle_open(const cv_handle *h)
{
    return h->w && !cv_worker_is_stopped(h->w);
}

static int l_open_thread(lua_State *L)
{
    cv_start_args a;
    cv_handle *h;
    const char *error = NULL;
    check_start_args(L, &a);
    /* The handle exists before the thread, so nothing can raise between
     * starting a worker and giving it an owner. */
    h = (cv_handle *)lua_newuserdata(L, sizeof *h);
    memset(h, 0, sizeof *h);
    luaL_setmetatable(L, CV_THREAD_META);
    h->w = start(&a, &error);
    if (!h->w) {
        lua_pushnil(L);
        lua_pushstring(L, error);
        return 2;
    }
    h->name = (char *)malloc(h->w->name_len + 1);
    if (h->name) {
        memcpy(h->name, h->w->name, h->w->name_len + 1);
        h->name_len = h->w->name_len;
    }
    return 1;
}

static void handle_close(cv_handle *h)
{
    cv_worker *w = h->w;
    h->w = NULL;
    cv_worker_close(w);
}

static int m_close(lua_State *L)
{
    handle_close(check_handle(L));
    return 0;
}

static int m_gc(lua_State *L)
{
    cv_handle *h = check_handle(L);
    handle_close(h);
    free(h->name);
    h->name = NULL;
    return 0;
}

static int m_post(lua_State *L)
{
    cv_handle *h = check_handle(L);
    cv_job *job;
    if (!handle_open(h)) {
        lua_pushboolean(L, 0);
        return 1;
    }
    job = cv_job_from_args(L, 2);
    if (!job)
        return luaL_error(L, "corvane_thread.post: out of memory");
    if (cv_worker_post(h->w, job) != 0) {
        cv_job_free(job);
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushboolean(L, 1);
    return 1;
}

static int m_name(lua_State *L)
{
    cv_handle *h = check_handle(L);
    lua_pushlstring(L, h->name ? h->name : "", h->name ? h->name_len : 0);
    return 1;
}

static int m_status(lua_State *L)
{
    lua_pushstring(L, handle_open(check_handle(L)) ? "run" : "close");
    return 1;
}

static int m_job_size(lua_State *L)
{
    cv_handle *h = check_handle(L);
    int open = handle_open(h);
    lua_pushboolean(L, open);
    lua_pushinteger(L, open ? (lua_Integer)cv_worker_job_count(h->w) : 0);
    return 2;
}

static int m_tostring(lua_State *L)
{
    cv_handle *h = check_handle(L);
    const char *name = h->name ? h->name : "";
    if (handle_open(h))
        lua_pushfstring(L, "corvane_thread:%s-run-%d", name, h->w->interval);
    else
        lua_pushfstring(L, "corvane_thread:%s-close-0", name);
    return 1;
}

/* ---- opening ---- */
static void preload(lua_State *L, const char *name, lua_CFunction fn)
{
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_PRELOAD_TABLE);
    lua_pushcfunction(L, fn);
    lua_setfield(L, -2, name);
    lua_pop(L, 1);
}

static int open_corvane(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "init", l_init }, { "quit", l_quit }, { "create", l_create }, { "destroy", l_destroy },
        { "post", l_post }, { "find_idle", l_find_idle }, { "open_thread", l_open_thread }, { NULL, NULL }
    };
    static const luaL_Reg methods[] = {
        { "__gc", m_gc }, { "__tostring", m_tostring }, { "close", m_close }, { "post", m_post },
        { "name", m_name }, { "status", m_status }, { "job_size", m_job_size }, { NULL, NULL }
    };
    pthread_once(&g_once, module_init);
    luaL_checkversion(L);
    luaL_newlib(L, fns);
    if (luaL_newmetatable(L, CV_THREAD_META)) {
        luaL_setfuncs(L, methods, 0);
        lua_pushvalue(L, -1);
        lua_setfield(L, -2, "__index");
    }
    lua_pop(L, 1);
    return 1;
}

CORVANE_API int luaopen_corvane(lua_State *L)
{
    preload(L, "qv_mcache", luaopen_qv_mcache);
    preload(L, "qv_tmsg", luaopen_qv_tmsg);
    return open_corvane(L);
}

CORVANE_API void pre_loadlib_corvane(lua_State *L)
{
    preload(L, "qv_mcache", luaopen_qv_mcache);
    preload(L, "qv_tmsg", luaopen_qv_tmsg);
    preload(L, "corvane", open_corvane);
}
