/*
 * corvane_testkit: what the Lua tests of corvane need from C: sleeping, a
 * clock, a loader with scripts of its own, objects with a counting release
 * function, pointers that are not objects, a fresh Lua state with the
 * modules registered the way a host program does it, and the cache's
 * short-text size.
 */
#include <lua.h>
#include <lauxlib.h>
#include <lualib.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "corvane.h"
#include "corvane_int.h"
#include "qv_core.h"

static int g_released;
static int g_created;
static pthread_mutex_t g_notes_lock = PTHREAD_MUTEX_INITIALIZER;
static char *g_notes;
static size_t g_notes_len;

static const struct {
    const char *name;
    const char *text;
} g_scripts[] = {
    /* Answers every job on the named queue "kit.out" with its texts reversed. */
    { "kit.echo",
      "local tm = require 'qv_tmsg'\n"
      "function on_cmd(a, b, c) tm.post('kit.out', c, b, a) end\n"
      "return {}\n" },
    { "kit.broken", "return function(\n" },
    /* A module that loads another one through the same loader. */
    { "kit.outer",
      "local inner = require 'kit.inner'\n"
      "function on_cmd(a) require('qv_tmsg').post('kit.out', inner.twice(a), '', '') end\n"
      "return {}\n" },
    { "kit.inner", "return { twice = function(s) return s .. s end }\n" },
};

static int kit_lookup(const char *name, const char **text, size_t *len)
{
    size_t i;
    for (i = 0; i < sizeof g_scripts / sizeof g_scripts[0]; i++) {
        if (strcmp(name, g_scripts[i].name) == 0) {
            *text = g_scripts[i].text;
            *len = strlen(g_scripts[i].text);
            return 1;
        }
    }
    return 0;
}

static int l_sleep_ms(lua_State *L)
{
    lua_Integer ms = luaL_checkinteger(L, 1);
    struct timespec ts;
    if (ms < 0)
        ms = 0;
    ts.tv_sec = (time_t)(ms / 1000);
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&ts, NULL);
    return 0;
}

static int l_now_ms(lua_State *L)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    lua_pushinteger(L, (lua_Integer)ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
    return 1;
}

static int l_loader(lua_State *L)
{
    lua_pushlightuserdata(L, corvane_loader(kit_lookup));
    return 1;
}

/* Memory that is not an object: its first word is not the object tag. */
static int l_stray(lua_State *L)
{
    static uint32_t words[16] = { 1, 2, 3, 4 };
    lua_pushlightuserdata(L, words);
    return 1;
}

static int l_null(lua_State *L)
{
    lua_pushlightuserdata(L, NULL);
    return 1;
}

static void counting_release(qv_obj *obj)
{
    __atomic_add_fetch(&g_released, 1, __ATOMIC_RELAXED);
    free(obj);
}

/* An object made the way another library makes them (the device library's
 * objects are such strangers to corvane). */
static int l_new_obj(lua_State *L)
{
    qv_obj *obj = (qv_obj *)calloc(1, sizeof *obj);
    if (!obj)
        return luaL_error(L, "out of memory");
    obj->root = qv_tag("qv_obj");
    obj->family = qv_tag("qv_com");
    obj->klass = qv_tag("kit_obj");
    obj->release = counting_release;
    __atomic_add_fetch(&g_created, 1, __ATOMIC_RELAXED);
    lua_pushlightuserdata(L, obj);
    return 1;
}

static int l_released(lua_State *L)
{
    lua_pushinteger(L, __atomic_load_n(&g_released, __ATOMIC_RELAXED));
    return 1;
}

static int l_created(lua_State *L)
{
    lua_pushinteger(L, __atomic_load_n(&g_created, __ATOMIC_RELAXED));
    return 1;
}

/* Runs a chunk in a new state whose host registered the modules with
 * pre_loadlib_corvane; returns its result as text, or nil and the error. */
/* Notes outlive the module's storage: a worker's quit() reports through
 * them after corvane.quit has freed the cache. */
static int l_note(lua_State *L)
{
    size_t len;
    const char *text = luaL_checklstring(L, 1, &len);
    char *grown;
    pthread_mutex_lock(&g_notes_lock);
    grown = (char *)realloc(g_notes, g_notes_len + len + 2);
    if (grown) {
        g_notes = grown;
        memcpy(g_notes + g_notes_len, text, len);
        g_notes_len += len;
        g_notes[g_notes_len++] = ';';
        g_notes[g_notes_len] = 0;
    }
    pthread_mutex_unlock(&g_notes_lock);
    return 0;
}

/* Returns the notes so far and forgets them. */
static int l_notes(lua_State *L)
{
    pthread_mutex_lock(&g_notes_lock);
    lua_pushlstring(L, g_notes ? g_notes : "", g_notes_len);
    free(g_notes);
    g_notes = NULL;
    g_notes_len = 0;
    pthread_mutex_unlock(&g_notes_lock);
    return 1;
}

static int l_fresh_state(lua_State *L)
{
    const char *chunk = luaL_checkstring(L, 1);
    lua_State *S = luaL_newstate();
    int ok;
    if (!S)
        return luaL_error(L, "out of memory");
    luaL_openlibs(S);
    pre_loadlib_corvane(S);
    ok = luaL_dostring(S, chunk) == LUA_OK;
    if (ok) {
        lua_pushstring(L, luaL_tolstring(S, -1, NULL));
    } else {
        lua_pushnil(L);
        lua_pushstring(L, lua_tostring(S, -1));
    }
    lua_close(S);
    return ok ? 1 : 2;
}

/* The size up to which the cache copies a text out under its lock. */
static int l_short_text(lua_State *L)
{
    lua_pushinteger(L, CV_SHORT_TEXT);
    return 1;
}

int luaopen_corvane_testkit(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "sleep_ms", l_sleep_ms }, { "now_ms", l_now_ms }, { "loader", l_loader }, { "stray", l_stray }, { "null", l_null },
        { "new_obj", l_new_obj }, { "released", l_released }, { "created", l_created }, { "fresh_state", l_fresh_state },
        { "note", l_note }, { "notes", l_notes }, { "short_text", l_short_text }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}
