/*
 * Lua modules of broadcast discovery: qv_discover (its socket driver and the
 * two endpoint sets), qv_broadcast_cli and qv_broadcast_ser.
 */
#include "bcast.h"
#include "clua.h"
#include "qv_net_lua.h"

#include <arpa/inet.h>
#include <string.h>

#define DISCOVER_KEY "qv_discover.record"

typedef struct discover_record {
    qv_skdr *skdr;
    bcast_set *server;
    bcast_set *client;
} discover_record;

static void record_free(discover_record *r)
{
    if (!r->skdr)
        return;
    skdr_stop(r->skdr);
    bcast_set_free(r->client);
    bcast_set_free(r->server);
    skdr_free(r->skdr);
    r->client = r->server = NULL;
    r->skdr = NULL;
}

static int record_gc(lua_State *L)
{
    record_free((discover_record *)lua_touserdata(L, 1));
    return 0;
}

static discover_record *record(lua_State *L)
{
    discover_record *r;
    lua_getfield(L, LUA_REGISTRYINDEX, DISCOVER_KEY);
    r = (discover_record *)lua_touserdata(L, -1);
    lua_pop(L, 1);
    return r && r->skdr ? r : NULL;
}

static int l_init(lua_State *L)
{
    discover_record *r;
    lua_getfield(L, LUA_REGISTRYINDEX, DISCOVER_KEY);
    r = (discover_record *)lua_touserdata(L, -1);
    lua_pop(L, 1);
    if (!r) {
        /* A full userdata, so closing the state stops and frees it. */
        r = (discover_record *)lua_newuserdata(L, sizeof *r);
        memset(r, 0, sizeof *r);
        lua_newtable(L);
        lua_pushcfunction(L, record_gc);
        lua_setfield(L, -2, "__gc");
        lua_setmetatable(L, -2);
        lua_setfield(L, LUA_REGISTRYINDEX, DISCOVER_KEY);
    }
    if (!r->skdr) {
        r->skdr = skdr_create();
        if (r->skdr) {
            r->server = bcast_set_create(0, r->skdr);
            r->client = bcast_set_create(1, r->skdr);
        }
        if (!r->server || !r->client) {
            record_free(r);
            lua_pushinteger(L, 1);
            return 1;
        }
    }
    lua_pushinteger(L, 0);
    return 1;
}

static int l_quit(lua_State *L)
{
    discover_record *r = record(L);
    if (r)
        record_free(r);
    return 0;
}

static int l_start(lua_State *L)
{
    discover_record *r = record(L);
    lua_pushinteger(L, r && skdr_start(r->skdr) == 0 ? 0 : 1);
    return 1;
}

static int l_stop(lua_State *L)
{
    discover_record *r = record(L);
    if (r)
        skdr_stop(r->skdr);
    return 0;
}

int luaopen_qv_discover(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "init", l_init }, { "quit", l_quit }, { "start", l_start }, { "stop", l_stop }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}

/* ---- endpoint sets; upvalue 1 says which (0 server, 1 client) ---- */
static bcast_set *set_of(lua_State *L)
{
    discover_record *r = record(L);
    int mode = (int)lua_tointeger(L, lua_upvalueindex(1));
    if (!r)
        luaL_error(L, "qv_discover is not initialised");
    return mode == 0 ? r->server : r->client;
}

static int l_open(lua_State *L)
{
    bcast_set *set = set_of(L);
    lua_Integer id = luaL_checkinteger(L, 1), idx = luaL_checkinteger(L, 2);
    const char *ip = luaL_checkstring(L, 3);
    lua_Integer port = luaL_checkinteger(L, 4);
    lua_pushboolean(L, port >= 0 && port <= 65535 &&
                           bcast_open(set, (int32_t)id, (int32_t)idx, ip, (uint16_t)port) == 0);
    return 1;
}

static int l_close(lua_State *L)
{
    bcast_close(set_of(L), (int32_t)luaL_checkinteger(L, 1), (int32_t)luaL_checkinteger(L, 2));
    lua_pushboolean(L, 1);
    return 1;
}

static int l_close_all(lua_State *L)
{
    bcast_close_all(set_of(L), (int32_t)luaL_checkinteger(L, 1));
    lua_pushboolean(L, 1);
    return 1;
}

static int l_discover(lua_State *L)
{
    lua_pushboolean(L, bcast_send(set_of(L), (int32_t)luaL_checkinteger(L, 1), BCAST_DISCOVER, NULL, 0) == 0);
    return 1;
}

static int l_recv(lua_State *L)
{
    bcast_msg m;
    char ip[INET_ADDRSTRLEN] = "";
    if (bcast_take(set_of(L), &m) != 0) {
        lua_pushboolean(L, 0);
        lua_pushinteger(L, 0);
        lua_pushstring(L, "");
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        lua_pushstring(L, "");
        lua_pushinteger(L, 0);
        return 7;
    }
    inet_ntop(AF_INET, &m.from.sin_addr, ip, sizeof ip);
    lua_pushboolean(L, 1);
    lua_pushinteger(L, 0);
    lua_pushlstring(L, (const char *)m.body->data, qv_buf_size(m.body));
    lua_pushinteger(L, m.protocol);
    lua_pushinteger(L, m.id);
    lua_pushstring(L, ip);
    lua_pushinteger(L, ntohs(m.from.sin_port));
    bcast_msg_free_body(&m);
    return 7;
}

static int l_send(lua_State *L)
{
    bcast_set *set = set_of(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    size_t n = 0;
    const char *text = luaL_checklstring(L, 2, &n);
    int type = (int)lua_tointeger(L, lua_upvalueindex(1)) == 0 ? BCAST_SERVER_MSG : BCAST_CLIENT_MSG;
    lua_pushboolean(L, n >= 1 && n <= BCAST_BODY_MAX && bcast_send(set, (int32_t)id, type, text, (uint32_t)n) == 0);
    return 1;
}

static int l_set_respond(lua_State *L)
{
    bcast_set *set = set_of(L);
    size_t n = 0;
    const char *text;
    luaL_checkinteger(L, 1);
    text = luaL_checklstring(L, 2, &n);
    lua_pushboolean(L, n <= BCAST_BODY_MAX && bcast_set_respond(set, text, (uint32_t)n) == 0);
    return 1;
}

static int open_set(lua_State *L, int mode)
{
    static const luaL_Reg cli[] = {
        { "open", l_open }, { "close", l_close }, { "close_all", l_close_all }, { "discover", l_discover },
        { "recv", l_recv }, { "send", l_send }, { NULL, NULL }
    };
    static const luaL_Reg ser[] = {
        { "set_respond", l_set_respond }, { "open", l_open }, { "close", l_close }, { "close_all", l_close_all },
        { "recv", l_recv }, { "send", l_send }, { NULL, NULL }
    };
    lua_newtable(L);
    lua_pushinteger(L, mode);
    luaL_setfuncs(L, mode == 0 ? ser : cli, 1);
    return 1;
}

int luaopen_qv_broadcast_cli(lua_State *L) { return open_set(L, 1); }
int luaopen_qv_broadcast_ser(lua_State *L) { return open_set(L, 0); }
