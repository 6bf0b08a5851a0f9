/*
 * qv_mcache: the process-wide key/value cache that every Lua state of the
 * process shares.
 *
 * Values are booleans, integers and floats (kept whole), texts (zero bytes
 * included) and owned objects: light userdata that begin with the object
 * header and are released through it when the cache lets go of them.
 *
 * Every value is a counted record. The cache lock is held only to look up
 * and swap records; copying texts in and out, and releasing objects, happen
 * outside it, so a slow release function never stalls other threads and may
 * itself use the cache.
 *
 * get hands out an object as a borrow: the Lua state that fetched it keeps
 * the object alive, even when another thread replaces or deletes the key,
 * until the borrow ends. A worker's borrows end when the job (or timer pass)
 * that took them returns; any other state's when it calls quit or closes.
 */
#include "corvane_int.h"

#include <stdlib.h>
#include <string.h>

enum { CV_BOOL = 1, CV_INT, CV_NUM, CV_TEXT, CV_OBJ };

#define CV_MAX_BUCKETS (1u << 24)

typedef struct cv_value {
    int refs; /* atomic: the cache entry and every borrow */
    int type;
    int tracked; /* the object was registered as live when it was stored */
    union {
        int b;
        lua_Integer i;
        lua_Number n;
        qv_obj *obj;
    } v;
    size_t len;
    char text[];
} cv_value;

struct cv_cache {
    pf_mutex lock;
    qv_hmap *map;   /* key -> cv_value */
    qv_hmap *owned; /* object pointer -> cv_value, one owner per object */
};

static const char BORROW_META[] = "corvane_borrow";
static const char BORROW_KEY = 0; /* registry key (its address) of a state's borrows */

typedef struct cv_anchor {
    cv_value *value;
} cv_anchor;

/* ---- values ---- */
static cv_value *value_new(int type, size_t len)
{
    cv_value *value;
    if (len > SIZE_MAX - sizeof(cv_value) - 1)
        return NULL;
    value = (cv_value *)malloc(sizeof(cv_value) + (type == CV_TEXT ? len + 1 : 0));
    if (!value)
        return NULL;
    value->refs = 1;
    value->type = type;
    value->tracked = 0;
    value->len = len;
    return value;
}

static int is_object(const qv_obj *obj)
{
    return obj->root == qv_tags()->obj && obj->release != NULL;
}

/* The object goes only when its header still says it is one and, when it was
 * registered as live, nobody has released it meanwhile (a script that handed
 * it to qv_file.write, for one). */
static void release_object(cv_value *value)
{
    qv_obj *obj = value->v.obj;
    if (value->tracked) {
        if (qv_live_contains(obj) && is_object(obj))
            qv_obj_release(obj);
    } else if (is_object(obj)) {
        obj->release(obj);
    }
}

static void value_unref(cv_value *value)
{
    if (!value || __atomic_sub_fetch(&value->refs, 1, __ATOMIC_ACQ_REL) != 0)
        return;
    if (value->type == CV_OBJ)
        release_object(value);
    free(value);
}

static void value_ref(cv_value *value)
{
    __atomic_add_fetch(&value->refs, 1, __ATOMIC_RELAXED);
}

/* ---- the cache ---- */
cv_cache *cv_cache_create(uint32_t nbuckets)
{
    cv_cache *cache = (cv_cache *)calloc(1, sizeof *cache);
    if (!cache)
        return NULL;
    cache->map = qv_hmap_create(nbuckets);
    cache->owned = qv_hmap_create(nbuckets);
    if (!cache->map || !cache->owned || pf_mutex_init(&cache->lock) != 0) {
        qv_hmap_free(cache->map);
        qv_hmap_free(cache->owned);
        free(cache);
        return NULL;
    }
    return cache;
}

static void drop_all(qv_hmap *map)
{
    qv_hmap_entry *e;
    for (e = map->head; e; e = e->next)
        value_unref((cv_value *)e->value);
    qv_hmap_free(map);
}

/* Empties the cache; the values are dropped after the lock is let go. Fails
 * (-1) only when no empty map can be made. */
static int cache_clear(cv_cache *cache)
{
    qv_hmap *map = qv_hmap_create(cache->map->nbuckets);
    qv_hmap *owned = qv_hmap_create(cache->owned->nbuckets);
    qv_hmap *old_map, *old_owned;
    if (!map || !owned) {
        qv_hmap_free(map);
        qv_hmap_free(owned);
        return -1;
    }
    pf_mutex_lock(&cache->lock);
    old_map = cache->map;
    old_owned = cache->owned;
    cache->map = map;
    cache->owned = owned;
    pf_mutex_unlock(&cache->lock);
    qv_hmap_free(old_owned);
    drop_all(old_map);
    return 0;
}

void cv_cache_free(cv_cache *cache)
{
    if (!cache)
        return;
    qv_hmap_free(cache->owned);
    drop_all(cache->map);
    pf_mutex_destroy(&cache->lock);
    free(cache);
}

static cv_cache *check_cache(lua_State *L, const char *fn)
{
    cv_cache *cache = cv_cache_get();
    if (!cache)
        luaL_error(L, "qv_mcache.%s: corvane.init has not been called", fn);
    return cache;
}

/* ---- borrows ---- */
static int anchor_gc(lua_State *L)
{
    cv_anchor *anchor = (cv_anchor *)luaL_checkudata(L, 1, BORROW_META);
    cv_value *value = anchor->value;
    anchor->value = NULL;
    value_unref(value);
    return 0;
}

/* An empty anchor, made before the lock is taken so that nothing can raise
 * between taking a reference and handing it to the anchor. */
static cv_anchor *push_anchor(lua_State *L)
{
    cv_anchor *anchor = (cv_anchor *)lua_newuserdata(L, sizeof *anchor);
    anchor->value = NULL;
    if (luaL_newmetatable(L, BORROW_META)) {
        lua_pushcfunction(L, anchor_gc);
        lua_setfield(L, -2, "__gc");
    }
    lua_setmetatable(L, -2);
    return anchor;
}

static int is_main_state(lua_State *L, lua_State *main)
{
    lua_State *mine;
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_MAINTHREAD);
    mine = lua_tothread(L, -1);
    lua_pop(L, 1);
    return mine == main;
}

/* Keeps value (one reference, already taken) alive for the calling state:
 * a worker's own state keeps it in a set of its record, any other state in
 * the anchor made beforehand, which sits on top of the stack and is popped. */
static void keep_borrow(lua_State *L, cv_value *value, cv_worker *w, cv_anchor *anchor)
{
    if (w) {
        if (!w->borrows)
            w->borrows = qv_hmap_create(64);
        if (!w->borrows || qv_hmap_insert(w->borrows, &value, sizeof value, value) != 0) {
            /* Held already (or no memory for the set): one reference is enough. */
            int held = w->borrows && qv_hmap_find(w->borrows, &value, sizeof value);
            value_unref(value);
            if (!held)
                luaL_error(L, "qv_mcache.get: out of memory");
        }
        return;
    }
    anchor->value = value;
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &BORROW_KEY) != LUA_TTABLE) {
        lua_pop(L, 1);
        lua_newtable(L);
        lua_pushvalue(L, -1);
        lua_rawsetp(L, LUA_REGISTRYINDEX, &BORROW_KEY);
    }
    if (lua_rawgetp(L, -1, value) != LUA_TNIL) {
        /* This state holds the value already; the new anchor lets go at once. */
        anchor->value = NULL;
        lua_pop(L, 3);
        value_unref(value);
        return;
    }
    lua_pop(L, 1);
    lua_pushvalue(L, -2);
    lua_rawsetp(L, -2, value);
    lua_pop(L, 2);
}

void cv_borrows_drop_worker(cv_worker *w)
{
    qv_hmap *borrows = w->borrows;
    qv_hmap_entry *e;
    if (!borrows)
        return;
    w->borrows = NULL;
    for (e = borrows->head; e; e = e->next)
        value_unref((cv_value *)e->value);
    qv_hmap_free(borrows);
}

void cv_borrows_drop_state(lua_State *L)
{
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &BORROW_KEY) != LUA_TTABLE) {
        lua_pop(L, 1);
        return;
    }
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        cv_anchor *anchor = (cv_anchor *)lua_touserdata(L, -1);
        if (anchor && anchor->value) {
            cv_value *value = anchor->value;
            anchor->value = NULL;
            value_unref(value);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    lua_pushnil(L);
    lua_rawsetp(L, LUA_REGISTRYINDEX, &BORROW_KEY);
}

/* ---- Lua functions ---- */
static int l_clear(lua_State *L)
{
    if (cache_clear(check_cache(L, "clear")) != 0)
        return luaL_error(L, "qv_mcache.clear: out of memory");
    return 0;
}

/* Builds the record of a new value; returns 0 with *out null for nil (the
 * key is removed), 1 with a record, -1 for a type the cache can't hold. */
static int value_from_arg(lua_State *L, int idx, cv_value **out)
{
    cv_value *value = NULL;
    *out = NULL;
    switch (lua_type(L, idx)) {
    case LUA_TNONE:
    case LUA_TNIL:
        return 0;
    case LUA_TBOOLEAN:
        value = value_new(CV_BOOL, 0);
        if (value)
            value->v.b = lua_toboolean(L, idx);
        break;
    case LUA_TNUMBER:
        if (lua_isinteger(L, idx)) {
            value = value_new(CV_INT, 0);
            if (value)
                value->v.i = lua_tointeger(L, idx);
        } else {
            value = value_new(CV_NUM, 0);
            if (value)
                value->v.n = lua_tonumber(L, idx);
        }
        break;
    case LUA_TSTRING: {
        size_t len;
        const char *text = lua_tolstring(L, idx, &len);
        value = value_new(CV_TEXT, len);
        if (value) {
            memcpy(value->text, text, len);
            value->text[len] = 0;
        }
        break;
    }
    case LUA_TLIGHTUSERDATA: {
        qv_obj *obj = (qv_obj *)lua_touserdata(L, idx);
        int tracked;
        if (!obj)
            return 0;
        tracked = qv_live_contains(obj);
        if (!is_object(obj))
            luaL_error(L, "%s.check(0x%p),idx=%d.must \"%s\".\n", "qv_mcache", (void *)obj, idx, "qv_obj");
        value = value_new(CV_OBJ, 0);
        if (value) {
            value->v.obj = obj;
            value->tracked = tracked;
        }
        break;
    }
    default:
        return -1;
    }
    if (!value)
        luaL_error(L, "qv_mcache.set: out of memory");
    *out = value;
    return 1;
}

static int l_set(lua_State *L)
{
    size_t key_len;
    const char *key = luaL_checklstring(L, 1, &key_len);
    cv_cache *cache = check_cache(L, "set");
    cv_value *value, *old = NULL;
    qv_hmap_entry *e;
    int ok = 1, oom = 0;

    if (key_len > UINT32_MAX)
        return luaL_argerror(L, 1, "key too long");
    if (value_from_arg(L, 2, &value) < 0) {
        lua_pushboolean(L, 0);
        return 1;
    }
    pf_mutex_lock(&cache->lock);
    e = qv_hmap_find(cache->map, key, (uint32_t)key_len);
    if (value && value->type == CV_OBJ) {
        qv_hmap_entry *owner = qv_hmap_find(cache->owned, &value->v.obj, sizeof value->v.obj);
        if (owner) {
            /* Storing an object again under its own key keeps it; under
             * another key it would end up released twice. */
            ok = e && e->value == owner->value;
            pf_mutex_unlock(&cache->lock);
            free(value);
            lua_pushboolean(L, ok);
            return 1;
        }
        if (qv_hmap_insert(cache->owned, &value->v.obj, sizeof value->v.obj, value) != 0)
            oom = 1;
    }
    if (!oom && !e && value && qv_hmap_insert(cache->map, key, (uint32_t)key_len, value) != 0) {
        if (value->type == CV_OBJ)
            qv_hmap_remove(cache->owned, qv_hmap_find(cache->owned, &value->v.obj, sizeof value->v.obj));
        oom = 1;
    }
    if (!oom && e) {
        old = (cv_value *)e->value;
        if (value)
            e->value = value;
        else
            qv_hmap_remove(cache->map, e);
        if (old->type == CV_OBJ) {
            qv_hmap_entry *owner = qv_hmap_find(cache->owned, &old->v.obj, sizeof old->v.obj);
            if (owner)
                qv_hmap_remove(cache->owned, owner);
        }
    }
    pf_mutex_unlock(&cache->lock);
    if (oom) {
        free(value);
        return luaL_error(L, "qv_mcache.set: out of memory");
    }
    value_unref(old);
    lua_pushboolean(L, 1);
    return 1;
}

static int l_get(lua_State *L)
{
    size_t key_len;
    const char *key = luaL_checklstring(L, 1, &key_len);
    cv_cache *cache = check_cache(L, "get");
    cv_worker *w = cv_worker_current();
    char small[CV_SHORT_TEXT];
    cv_value copy, *value;
    cv_anchor *anchor = NULL;
    qv_hmap_entry *e;

    luaL_checkstack(L, 6, NULL);
    /* Only the worker's own state may keep borrows in the worker's record. */
    if (w && !(w->L && is_main_state(L, w->L)))
        w = NULL;
    if (key_len > UINT32_MAX) {
        lua_pushnil(L);
        lua_pushliteral(L, "nil");
        return 2;
    }
retry:
    value = NULL;
    pf_mutex_lock(&cache->lock);
    e = qv_hmap_find(cache->map, key, (uint32_t)key_len);
    if (e) {
        value = (cv_value *)e->value;
        /* Not the count: borrows change it without the lock. */
        copy.type = value->type;
        copy.v = value->v;
        copy.len = value->len;
        if (value->type == CV_OBJ && !w && !anchor) {
            /* The anchor must exist before a reference is taken: making it
             * may raise. The key may change meanwhile, so look again. */
            pf_mutex_unlock(&cache->lock);
            anchor = push_anchor(L);
            goto retry;
        }
        if (value->type == CV_TEXT && value->len <= sizeof small)
            memcpy(small, value->text, value->len);
        else if (value->type == CV_TEXT || value->type == CV_OBJ)
            value_ref(value);
    }
    pf_mutex_unlock(&cache->lock);

    if (!value) {
        lua_pushnil(L);
        lua_pushliteral(L, "nil");
        return 2;
    }
    switch (copy.type) {
    case CV_BOOL:
        lua_pushboolean(L, copy.v.b);
        lua_pushliteral(L, "boolean");
        return 2;
    case CV_INT:
        lua_pushinteger(L, copy.v.i);
        lua_pushliteral(L, "number");
        return 2;
    case CV_NUM:
        lua_pushnumber(L, copy.v.n);
        lua_pushliteral(L, "number");
        return 2;
    case CV_TEXT:
        if (copy.len <= sizeof small) {
            lua_pushlstring(L, small, copy.len);
        } else {
            /* A failing push leaves one reference behind: only out of memory. */
            lua_pushlstring(L, value->text, copy.len);
            value_unref(value);
        }
        lua_pushliteral(L, "string");
        return 2;
    default:
        break;
    }
    keep_borrow(L, value, w, anchor);
    lua_pushlightuserdata(L, copy.v.obj);
    lua_pushliteral(L, "qv_obj");
    return 2;
}

int luaopen_qv_mcache(lua_State *L)
{
    static const luaL_Reg fns[] = { { "clear", l_clear }, { "set", l_set }, { "get", l_get }, { NULL, NULL } };
    luaL_checkversion(L);
    luaL_newlib(L, fns);
    return 1;
}
