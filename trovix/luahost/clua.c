/*
 * Lua host environment: state set-up, the embedded-script searcher, timers
 * and garbage-collection pacing.
 */
#include "clua.h"

#include <lualib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern int luaopen_cjson(lua_State *L);

#define ENV_GLOBAL "clua_env"

clua_env *clua_env_from(lua_State *L)
{
    clua_env *env;
    lua_getglobal(L, ENV_GLOBAL);
    env = (clua_env *)lua_touserdata(L, -1);
    lua_pop(L, 1);
    return env;
}

void clua_report(lua_State *L)
{
    const char *msg = lua_tostring(L, -1);
    fprintf(stderr, "%s: ", "lua_helper");
    fflush(stderr);
    fprintf(stderr, "%s\n", msg ? msg : "(no error text)");
    fflush(stderr);
    lua_pop(L, 1);
}

static int msg_handler(lua_State *L)
{
    const char *msg = lua_tostring(L, 1);
    if (!msg) {
        if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING)
            msg = lua_tostring(L, -1);
        else
            msg = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    }
    luaL_traceback(L, L, msg, 1);
    return 1;
}

int clua_pcall(lua_State *L, int nargs, int nresults)
{
    int base = lua_gettop(L) - nargs;
    int rc;
    lua_pushcfunction(L, msg_handler);
    lua_insert(L, base);
    rc = lua_pcall(L, nargs, nresults, base);
    lua_remove(L, base);
    if (rc != LUA_OK)
        clua_report(L);
    return rc;
}

qv_obj *clua_check_obj(lua_State *L, int idx, const char *module, uint32_t family, uint32_t klass,
                       uint32_t type, const char *type_name)
{
    void *p = lua_type(L, idx) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, idx) : NULL;
    qv_obj *obj = (qv_obj *)p;
    if (!p || !qv_live_contains(p) || obj->root != qv_tags()->obj || obj->family != family ||
        obj->klass != klass || (type && obj->type != type)) {
        luaL_error(L, "%s.check(0x%p),idx=%d.must \"%s\".\n", module, p, idx, type_name);
        return NULL;
    }
    return obj;
}

void clua_push_obj(lua_State *L, qv_obj *obj)
{
    if (!obj) {
        lua_pushnil(L);
        return;
    }
    qv_live_add(obj);
    lua_pushlightuserdata(L, obj);
}

/* Searcher: compiles an embedded script; anything but a function or a text
 * makes require go on with the other searchers. */
static int searcher(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    clua_env *env = clua_env_from(L);
    const char *text = NULL;
    size_t len = 0;
    if (!env || !env->lookup || !env->lookup(name, &text, &len)) {
        lua_pushboolean(L, 0);
        return 1;
    }
    if (luaL_loadbuffer(L, text, len, name) != LUA_OK)
        return 1; /* the compiler's error text */
    return 1;
}

uint32_t clua_rand32(void)
{
    uint32_t r = 0;
    int i;
    for (i = 0; i < 4; i++)
        r = r << 8 | ((uint32_t)rand() & 0xFFu);
    return r;
}

clua_env *clua_env_create(clua_lookup_fn lookup, void *user)
{
    clua_env *env = (clua_env *)calloc(1, sizeof *env);
    if (!env)
        return NULL;
    qv_value_set_ptr(&env->user[0], user);
    env->lookup = lookup;
    qv_list_init(&env->registrars);
    qv_list_init(&env->timers);
    env->gc_interval = 10000u + clua_rand32() % 10000u;
    env->L = luaL_newstate();
    if (!env->L) {
        free(env);
        return NULL;
    }
    lua_pushlightuserdata(env->L, env);
    lua_setglobal(env->L, ENV_GLOBAL);
    return env;
}

int clua_env_add_registrar(clua_env *env, clua_registrar fn)
{
    return qv_list_push(&env->registrars, (void *)(uintptr_t)fn) ? 0 : -1;
}

static void preload(lua_State *L, const char *name, lua_CFunction fn)
{
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, fn);
    lua_setfield(L, -2, name);
    lua_pop(L, 2);
}

static int setup_state(lua_State *L)
{
    clua_env *env = (clua_env *)lua_touserdata(L, 1);
    luaL_openlibs(L);
    preload(L, "qv_snapshot", luaopen_qv_snapshot);
    preload(L, "qv_sys", luaopen_qv_sys);
    preload(L, "qv_hash", luaopen_qv_hash);
    preload(L, "qv_file", luaopen_qv_file);
    preload(L, "cjson", luaopen_cjson);
    if (env->lookup) {
        /* Lua 5.3 names the searcher list package.searchers only; the
         * 5.1-style name is made the same table so both reach it. */
        lua_getglobal(L, "package");
        lua_getfield(L, -1, "loaders");
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            lua_getfield(L, -1, "searchers");
            lua_pushvalue(L, -1);
            lua_setfield(L, -3, "loaders");
        }
        if (!lua_istable(L, -1))
            return luaL_error(L, "package.loaders is missing");
        lua_pushcfunction(L, searcher);
        lua_rawseti(L, -2, 2);
        lua_pop(L, 2);
        lua_pushcfunction(L, searcher);
        lua_setglobal(L, "dofile");
    }
    while (env->registrars.head) {
        clua_registrar fn = (clua_registrar)(uintptr_t)qv_list_pop(&env->registrars);
        fn(L);
    }
    return 0;
}

int clua_env_setup(clua_env *env)
{
    lua_State *L = env->L;
    lua_pushcfunction(L, setup_state);
    lua_pushlightuserdata(L, env);
    return clua_pcall(L, 1, 0) == LUA_OK ? 0 : -1;
}

static int take_ref(lua_State *L, const char *global)
{
    lua_getglobal(L, global);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

int clua_env_load(clua_env *env, const char *entry)
{
    lua_State *L = env->L;
    lua_getglobal(L, "require");
    lua_pushstring(L, entry);
    if (clua_pcall(L, 1, 1) != LUA_OK)
        return -1;
    lua_setglobal(L, entry);
    env->ref_init = take_ref(L, "init");
    env->ref_quit = take_ref(L, "quit");
    env->ref_setup = take_ref(L, "setup");
    env->ref_on_cmd = take_ref(L, "on_cmd");
    env->ref_G = take_ref(L, "G");
    env->loaded = 1;
    return 0;
}

int clua_env_call(clua_env *env, int ref, const char *arg, int *result)
{
    lua_State *L = env->L;
    int isnum = 0;
    if (!ref)
        return -1;
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    if (arg)
        lua_pushstring(L, arg);
    if (clua_pcall(L, arg ? 1 : 0, 1) != LUA_OK)
        return -1;
    if (result)
        *result = (int)lua_tointegerx(L, -1, &isnum);
    lua_pop(L, 1);
    return isnum ? 0 : -1;
}

/* ---- timers ---- */
static clua_timer *find_timer(clua_env *env, int32_t id)
{
    qv_list_node *n;
    for (n = env->timers.head; n; n = n->next) {
        clua_timer *t = (clua_timer *)n->value;
        if (t->id == id && !t->dead)
            return t;
    }
    return NULL;
}

static uint32_t abs32(int32_t v) { return v < 0 ? (uint32_t)0 - (uint32_t)v : (uint32_t)v; }

int clua_timer_add(clua_env *env, int32_t id, int32_t interval, int ref)
{
    clua_timer *t;
    if (find_timer(env, id) || ref == LUA_NOREF || ref == LUA_REFNIL)
        return -1;
    t = (clua_timer *)calloc(1, sizeof *t);
    if (!t)
        return -1;
    t->id = id;
    t->ref = ref;
    t->last = env->now;
    t->interval = abs32(interval);
    if (!qv_list_push(&env->timers, t)) {
        free(t);
        return -1;
    }
    return 0;
}

int clua_timer_modify(clua_env *env, int32_t id, int32_t interval)
{
    clua_timer *t = find_timer(env, id);
    if (!t)
        return -1;
    t->interval = abs32(interval);
    t->last = env->now;
    return 0;
}

static void timer_unlink(clua_env *env, qv_list_node *n)
{
    clua_timer *t = (clua_timer *)n->value;
    if (!t->dead)
        luaL_unref(env->L, LUA_REGISTRYINDEX, t->ref);
    qv_list_unlink(&env->timers, n);
    free(t);
}

int clua_timer_remove(clua_env *env, int32_t id)
{
    qv_list_node *n;
    for (n = env->timers.head; n; n = n->next) {
        clua_timer *t = (clua_timer *)n->value;
        if (t->id != id || t->dead)
            continue;
        if (env->walking) {
            /* The walk holds this node; it is unlinked when the walk ends. */
            luaL_unref(env->L, LUA_REGISTRYINDEX, t->ref);
            t->dead = 1;
        } else {
            timer_unlink(env, n);
        }
        return 0;
    }
    return -1;
}

uint32_t clua_timer_count(clua_env *env)
{
    uint32_t c = 0;
    qv_list_node *n;
    for (n = env->timers.head; n; n = n->next)
        c += !((clua_timer *)n->value)->dead;
    return c;
}

void clua_env_timer_tick(clua_env *env, uint32_t now, int first)
{
    lua_State *L = env->L;
    qv_list_node *n;
    env->now = now;
    if (first) {
        env->last_gc = now;
        for (n = env->timers.head; n; n = n->next)
            ((clua_timer *)n->value)->last = now;
        return;
    }
    if (pf_tick_diff(now, env->last_gc) >= env->gc_interval) {
        env->last_gc = now;
        lua_gc(L, LUA_GCCOUNT, 0);
        lua_gc(L, LUA_GCCOLLECT, 0);
        lua_gc(L, LUA_GCCOUNT, 0);
    }
    env->walking = 1;
    for (n = env->timers.head; n; n = n->next) {
        clua_timer *t = (clua_timer *)n->value;
        int rc, isnum = 0;
        lua_Integer result = 1;
        if (t->dead || pf_tick_diff(now, t->last) < t->interval)
            continue;
        t->count = t->count + 1 >= 0x7FFF0000u ? 1 : t->count + 1;
        lua_rawgeti(L, LUA_REGISTRYINDEX, t->ref);
        lua_pushinteger(L, t->id);
        lua_pushinteger(L, t->count);
        lua_pushinteger(L, t->interval);
        lua_pushinteger(L, now & 0x7FFFFFFFu);
        lua_pushinteger(L, t->last & 0x7FFFFFFFu);
        rc = clua_pcall(L, 5, 1);
        if (rc == LUA_OK) {
            result = lua_tointegerx(L, -1, &isnum);
            lua_pop(L, 1);
        }
        if (t->dead)
            continue;
        if (rc == LUA_OK && isnum && result == 0) {
            t->last = now;
        } else {
            luaL_unref(L, LUA_REGISTRYINDEX, t->ref);
            t->dead = 1;
        }
    }
    env->walking = 0;
    n = env->timers.head;
    while (n) {
        qv_list_node *next = n->next;
        if (((clua_timer *)n->value)->dead)
            timer_unlink(env, n);
        n = next;
    }
}

void clua_env_close(clua_env *env)
{
    lua_State *L;
    if (!env)
        return;
    L = env->L;
    while (env->timers.head)
        timer_unlink(env, env->timers.head);
    if (env->ref_on_cmd)
        luaL_unref(L, LUA_REGISTRYINDEX, env->ref_on_cmd);
    if (env->ref_quit)
        luaL_unref(L, LUA_REGISTRYINDEX, env->ref_quit);
    if (env->ref_init)
        luaL_unref(L, LUA_REGISTRYINDEX, env->ref_init);
    if (env->ref_setup)
        luaL_unref(L, LUA_REGISTRYINDEX, env->ref_setup);
    if (env->ref_G)
        luaL_unref(L, LUA_REGISTRYINDEX, env->ref_G);
    env->loaded = 0;
    qv_value_clear(&env->user[0]);
    qv_value_clear(&env->user[1]);
    qv_list_clear(&env->registrars, NULL);
    lua_close(L);
    free(env);
}
