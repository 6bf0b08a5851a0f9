/*
 * qv_sys: system services for scripts (ticks, sleep, random numbers, timers,
 * shell commands, object release).
 */
#include "clua.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int l_type_size(lua_State *L)
{
    static const struct { const char *name; int size; } sizes[] = {
        { "void*", (int)sizeof(void *) }, { "bool8", 1 }, { "int8", 1 }, { "bool16", 2 }, { "uint16", 2 },
        { "int32", 4 }, { "uint32", 4 }, { "bool32", 4 }, { "int64", 8 }, { "uint64", 8 },
        { "bool_t", 4 }, { "int_t", 4 }, { "uint_t", 4 },
        { "long_t", (int)sizeof(long) }, { "ulong_t", (int)sizeof(unsigned long) },
    };
    const char *name = luaL_checkstring(L, 1);
    size_t i;
    for (i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
        if (qv_strieq(name, sizes[i].name)) {
            lua_pushinteger(L, sizes[i].size);
            return 1;
        }
    }
    lua_pushinteger(L, 0);
    return 1;
}

static int l_free(lua_State *L)
{
    void *p = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, 1) : NULL;
    qv_obj *obj = (qv_obj *)p;
    if (!p || !qv_live_contains(p) || obj->root != qv_tags()->obj || !obj->release)
        return luaL_error(L, "qv_sys.free(0x%p),must \"qv_obj\".\n", p);
    qv_obj_release(obj);
    return 0;
}

static int l_tc(lua_State *L)
{
    clua_env *env = clua_env_from(L);
    lua_pushinteger(L, (lua_Integer)(env ? env->now : pf_tick_ms()));
    return 1;
}

static int l_sleep(lua_State *L)
{
    lua_Integer ms = luaL_optinteger(L, 1, 1);
    if (ms <= 0)
        ms = 1;
    if (ms > 0x7FFFFFFF)
        ms = 0x7FFFFFFF;
    pf_sleep_ms((uint32_t)ms);
    return 0;
}

static int l_srand(lua_State *L)
{
    if (lua_type(L, 1) == LUA_TNUMBER)
        srand((unsigned)lua_tointeger(L, 1));
    else
        srand((unsigned)pf_tick_ms());
    return 0;
}

static int l_rand(lua_State *L)
{
    lua_Integer n = 2147483647;
    if (lua_type(L, 1) == LUA_TNUMBER) {
        n = lua_tointeger(L, 1);
        if (n < 1 || n > 2147483647)
            n = 2147483647;
    }
    lua_pushinteger(L, 1 + (lua_Integer)(clua_rand32() % (uint32_t)n));
    return 1;
}

static int opt_count(lua_State *L)
{
    lua_Integer n = 8;
    if (lua_type(L, 1) == LUA_TNUMBER) {
        n = lua_tointeger(L, 1);
        if (n < 1 || n > 256)
            n = 8;
    }
    return (int)n;
}

static int l_rand_char(lua_State *L)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char out[257];
    int n = opt_count(L), i;
    for (i = 0; i < n; i++)
        out[i] = alphabet[rand() % 62];
    lua_pushlstring(L, out, (size_t)n);
    return 1;
}

static int l_rand_num(lua_State *L)
{
    char out[257];
    int n = opt_count(L), i;
    for (i = 0; i < n; i++) {
        int d = rand() % 10;
        while (i == 0 && d == 0)
            d = rand() % 10;
        out[i] = (char)('0' + d);
    }
    lua_pushlstring(L, out, (size_t)n);
    return 1;
}

static int l_add_timer(lua_State *L)
{
    clua_env *env = clua_env_from(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    lua_Integer interval = luaL_checkinteger(L, 2);
    int ref;
    luaL_checktype(L, 3, LUA_TFUNCTION);
    if (!env) {
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushvalue(L, 3);
    ref = luaL_ref(L, LUA_REGISTRYINDEX);
    if (clua_timer_add(env, (int32_t)id, (int32_t)interval, ref) != 0) {
        luaL_unref(L, LUA_REGISTRYINDEX, ref);
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushboolean(L, 1);
    return 1;
}

static int l_modify_timer(lua_State *L)
{
    clua_env *env = clua_env_from(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    lua_Integer interval = luaL_checkinteger(L, 2);
    lua_pushboolean(L, env && clua_timer_modify(env, (int32_t)id, (int32_t)interval) == 0);
    return 1;
}

static int l_remove_timer(lua_State *L)
{
    clua_env *env = clua_env_from(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    lua_pushboolean(L, env && clua_timer_remove(env, (int32_t)id) == 0);
    return 1;
}

static int l_sh(lua_State *L)
{
    size_t len = 0;
    const char *cmd = luaL_optlstring(L, 1, "", &len);
    luaL_Buffer out;
    char line[1000];
    FILE *pipe;
    char *full;
    if (len == 0) {
        lua_pushinteger(L, -1);
        lua_pushstring(L, "");
        return 2;
    }
    full = (char *)malloc(len + 8);
    if (!full)
        return luaL_error(L, "qv_sys.sh: out of memory");
    memcpy(full, cmd, len);
    memcpy(full + len, " 2>&1", 6);
    pipe = popen(full, "r");
    free(full);
    luaL_buffinit(L, &out);
    if (!pipe) {
        luaL_pushresult(&out);
        lua_pushinteger(L, -1);
        lua_insert(L, -2);
        return 2;
    }
    while (fgets(line, sizeof line, pipe))
        luaL_addstring(&out, line);
    luaL_pushresult(&out);
    lua_pushinteger(L, pclose(pipe) == -1 ? -1 : 0);
    lua_insert(L, -2);
    return 2;
}

int luaopen_qv_sys(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "type_size", l_type_size }, { "free", l_free }, { "tc", l_tc }, { "sleep", l_sleep },
        { "srand", l_srand }, { "rand", l_rand }, { "rand_char", l_rand_char }, { "rand_num", l_rand_num },
        { "add_timer", l_add_timer }, { "modify_timer", l_modify_timer }, { "remove_timer", l_remove_timer },
        { "sh", l_sh }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    lua_pushstring(L, "release");
    lua_setfield(L, -2, "version");
    lua_pushstring(L, "linux");
    lua_setfield(L, -2, "platform");
    lua_pushstring(L, "x86_64");
    lua_setfield(L, -2, "chip");
    return 1;
}
