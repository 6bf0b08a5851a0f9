/*
 * qv_snapshot: a report of everything reachable from the registry, for
 * finding what keeps memory alive in a long-running state.
 *
 * snapshot() returns { [address] = "what it is\n<referrer> : <how>\n..." }.
 * Weak keys and values are not followed.
 */
#include "clua.h"

#include <stdio.h>
#include <string.h>

#define RESULT 1 /* stack index of the result table */

static void walk(lua_State *L, int idx, const void *parent, const char *how);

static int is_collectable(int type)
{
    return type == LUA_TTABLE || type == LUA_TUSERDATA || type == LUA_TFUNCTION || type == LUA_TTHREAD;
}

/* Records one reference; returns 1 when the object was new. */
static int mark(lua_State *L, int idx, const void *parent, const char *how)
{
    const void *p = lua_topointer(L, idx);
    char line[320];
    lua_pushlightuserdata(L, (void *)p);
    lua_rawget(L, RESULT);
    if (parent)
        snprintf(line, sizeof line, "\n%p : %s", parent, how);
    else
        snprintf(line, sizeof line, "\n%s", how);
    if (lua_isstring(L, -1)) {
        lua_pushstring(L, line);
        lua_concat(L, 2);
        lua_pushlightuserdata(L, (void *)p);
        lua_insert(L, -2);
        lua_rawset(L, RESULT);
        return 0;
    }
    lua_pop(L, 1);
    lua_pushlightuserdata(L, (void *)p);
    switch (lua_type(L, idx)) {
    case LUA_TTABLE:
        lua_pushstring(L, "table");
        break;
    case LUA_TUSERDATA:
        lua_pushstring(L, "userdata");
        break;
    case LUA_TTHREAD:
        lua_pushstring(L, "thread");
        break;
    default: {
        lua_Debug ar;
        lua_pushvalue(L, idx);
        lua_getinfo(L, ">S", &ar);
        if (ar.what[0] == 'C')
            lua_pushstring(L, "cfunction");
        else
            lua_pushfstring(L, "%s:%d", ar.short_src, ar.linedefined);
        break;
    }
    }
    lua_pushstring(L, line);
    lua_concat(L, 2);
    lua_rawset(L, RESULT);
    return 1;
}

static void key_name(lua_State *L, int kidx, char *out, size_t size)
{
    switch (lua_type(L, kidx)) {
    case LUA_TSTRING:
        snprintf(out, size, "%s", lua_tostring(L, kidx));
        break;
    case LUA_TNUMBER:
        snprintf(out, size, "[%lg]", (double)lua_tonumber(L, kidx));
        break;
    case LUA_TBOOLEAN:
        snprintf(out, size, "[%s]", lua_toboolean(L, kidx) ? "true" : "false");
        break;
    case LUA_TNIL:
        snprintf(out, size, "[nil]");
        break;
    default:
        snprintf(out, size, "[%s:%p]", luaL_typename(L, kidx), lua_topointer(L, kidx));
        break;
    }
}

static void walk_table(lua_State *L, int t)
{
    const void *self = lua_topointer(L, t);
    int weak_k = 0, weak_v = 0;
    char name[256];
    if (lua_getmetatable(L, t)) {
        lua_getfield(L, -1, "__mode");
        if (lua_type(L, -1) == LUA_TSTRING) {
            const char *mode = lua_tostring(L, -1);
            weak_k = strchr(mode, 'k') != NULL;
            weak_v = strchr(mode, 'v') != NULL;
        }
        lua_pop(L, 1);
        walk(L, lua_gettop(L), self, "[metatable]");
        lua_pop(L, 1);
    }
    lua_pushnil(L);
    while (lua_next(L, t)) {
        int v = lua_gettop(L), k = v - 1;
        if (!weak_v && is_collectable(lua_type(L, v))) {
            key_name(L, k, name, sizeof name);
            walk(L, v, self, name);
        }
        if (!weak_k && is_collectable(lua_type(L, k)))
            walk(L, k, self, "[key]");
        lua_pop(L, 1);
    }
}

static void walk_function(lua_State *L, int f)
{
    const void *self = lua_topointer(L, f);
    int i;
    for (i = 1;; i++) {
        const char *up = lua_getupvalue(L, f, i);
        if (!up)
            break;
        walk(L, lua_gettop(L), self, *up ? up : "[upvalue]");
        lua_pop(L, 1);
    }
}

static void walk_thread(lua_State *L, int th)
{
    lua_State *co = lua_tothread(L, th);
    const void *self = lua_topointer(L, th);
    lua_Debug ar;
    int level, i;
    char how[320];
    for (level = 0; co != L && lua_getstack(co, level, &ar); level++) {
        lua_getinfo(co, "Sl", &ar);
        for (i = 1;; i++) {
            const char *name = lua_getlocal(co, &ar, i);
            if (!name)
                break;
            lua_xmove(co, L, 1);
            snprintf(how, sizeof how, "%s : %s:%d", name, ar.short_src, ar.currentline);
            walk(L, lua_gettop(L), self, how);
            lua_pop(L, 1);
        }
    }
    if (co != L) {
        int top = lua_gettop(co);
        for (i = 1; i <= top; i++) {
            lua_pushvalue(co, i);
            lua_xmove(co, L, 1);
            snprintf(how, sizeof how, "[%d]", i);
            walk(L, lua_gettop(L), self, how);
            lua_pop(L, 1);
        }
    }
}

static void walk(lua_State *L, int idx, const void *parent, const char *how)
{
    int type = lua_type(L, idx);
    if (!is_collectable(type) || !lua_checkstack(L, 8))
        return;
    if (lua_topointer(L, idx) == lua_topointer(L, RESULT))
        return;
    if (!mark(L, idx, parent, how))
        return;
    switch (type) {
    case LUA_TTABLE:
        walk_table(L, idx);
        break;
    case LUA_TUSERDATA:
        if (lua_getmetatable(L, idx)) {
            walk(L, lua_gettop(L), lua_topointer(L, idx), "[metatable]");
            lua_pop(L, 1);
        }
        lua_getuservalue(L, idx);
        walk(L, lua_gettop(L), lua_topointer(L, idx), "[uservalue]");
        lua_pop(L, 1);
        break;
    case LUA_TFUNCTION:
        walk_function(L, idx);
        break;
    case LUA_TTHREAD:
        walk_thread(L, idx);
        break;
    }
}

static int l_snapshot(lua_State *L)
{
    lua_settop(L, 0);
    lua_newtable(L);
    lua_pushvalue(L, LUA_REGISTRYINDEX);
    walk(L, 2, NULL, "[registry]");
    lua_settop(L, 1);
    return 1;
}

int luaopen_qv_snapshot(lua_State *L)
{
    static const luaL_Reg fns[] = { { "snapshot", l_snapshot }, { NULL, NULL } };
    luaL_newlib(L, fns);
    return 1;
}
