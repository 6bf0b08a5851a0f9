/*
 * qv_ncm: the scripts' bridge to the command and reply queues and to the
 * default connection manager.
 */
#include "sdk.h"

#include <string.h>

static sdk_host *host_of(lua_State *L)
{
    clua_env *env = clua_env_from(L);
    sdk_host *host = env ? (sdk_host *)clua_env_user(env) : NULL;
    if (!host || !host->ctx)
        luaL_error(L, "qv_ncm: no library context");
    return host;
}

static int set_refs(lua_State *L, const int *slots, int n)
{
    sdk_host *host = host_of(L);
    int i;
    for (i = 1; i <= n; i++)
        luaL_checktype(L, i, LUA_TFUNCTION);
    for (i = 0; i < n; i++) {
        if (host->refs[slots[i]])
            luaL_unref(L, LUA_REGISTRYINDEX, host->refs[slots[i]]);
        lua_pushvalue(L, i + 1);
        host->refs[slots[i]] = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    lua_pushboolean(L, 1);
    return 1;
}

static int l_set_sdk(lua_State *L)
{
    static const int slots[] = { CB_LOGIN, CB_LOGOUT, CB_REQUEST };
    return set_refs(L, slots, 3);
}

static int l_set_sdk_discover(lua_State *L)
{
    static const int slots[] = { CB_DISCOVER_OPEN, CB_DISCOVER_CLOSE, CB_DISCOVER_RUN, CB_DISCOVER_GET_DEVS,
                                 CB_DISCOVER_REQUEST };
    return set_refs(L, slots, 5);
}

static int l_set_recv(lua_State *L)
{
    static const int slots[] = { CB_RECV };
    return set_refs(L, slots, 1);
}

static int l_set_disconnect(lua_State *L)
{
    static const int slots[] = { CB_DISCONNECT };
    return set_refs(L, slots, 1);
}

static int l_response_sdk(lua_State *L)
{
    sdk_host *host = host_of(L);
    lua_Integer seq = luaL_checkinteger(L, 1);
    lua_Integer id = luaL_checkinteger(L, 2);
    lua_Integer code = luaL_checkinteger(L, 3);
    size_t len = 0;
    const char *text = luaL_optlstring(L, 4, "", &len);
    /* A code is never cut to fit: a cut one could read as success. */
    luaL_argcheck(L, code >= INT32_MIN && code <= INT32_MAX, 3, "code out of the int range");
    sdk_post_reply(host->ctx, (int32_t)seq, (int32_t)id, (int)code, text, len);
    lua_pushboolean(L, 1);
    return 1;
}

static int l_connect(lua_State *L)
{
    sdk_host *host = host_of(L);
    const char *ip = luaL_checkstring(L, 1);
    lua_Integer port = luaL_checkinteger(L, 2);
    lua_Integer id = luaL_checkinteger(L, 3);
    lua_Integer protocol = luaL_optinteger(L, 4, NP_NSPP);
    int rc = -1;
    if (port > 0 && port <= 65535)
        rc = ncm_connect(host->ctx->ncm_a, (uint32_t)id, (uint32_t)protocol, ip, (uint16_t)port);
    lua_pushboolean(L, rc == 0);
    return 1;
}

static int l_send(lua_State *L)
{
    sdk_host *host = host_of(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    size_t len = 0;
    const char *text = luaL_checklstring(L, 2, &len);
    qv_buf *buf;
    if (len == 0 || len > 0xFFFFFFu || !(buf = qv_buf_new((uint32_t)len))) {
        lua_pushboolean(L, 0);
        return 1;
    }
    memcpy(buf->data, text, len);
    buf->end = (uint32_t)len;
    if (ncm_send_text(host->ctx->ncm_a, (uint32_t)id, buf) != 0) {
        qv_buf_free(buf);
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushboolean(L, 1);
    return 1;
}

/* The default manager's read count (ncm_reads): taken before a request is
 * sent, it tells which answers were read too early to be that request's. */
static int l_reads(lua_State *L)
{
    sdk_host *host = host_of(L);
    lua_pushinteger(L, (lua_Integer)ncm_reads(host->ctx->ncm_a));
    return 1;
}

static int l_close(lua_State *L)
{
    sdk_host *host = host_of(L);
    lua_Integer id = luaL_checkinteger(L, 1);
    ncm_close(host->ctx->ncm_a, (uint32_t)id);
    lua_pushboolean(L, 1);
    return 1;
}

static int l_get_ncm(lua_State *L)
{
    sdk_host *host = host_of(L);
    const char *name = luaL_checkstring(L, 1);
    if (qv_strieq(name, "upgrade") && host->upgrade)
        clua_push_obj(L, host->upgrade);
    else
        lua_pushnil(L);
    return 1;
}

int luaopen_qv_ncm(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "set_sdk", l_set_sdk }, { "set_sdk_discover", l_set_sdk_discover }, { "set_recv", l_set_recv },
        { "set_disconnect", l_set_disconnect }, { "response_sdk", l_response_sdk }, { "connect", l_connect },
        { "send", l_send }, { "reads", l_reads }, { "close", l_close }, { "get_ncm", l_get_ncm }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}

static void preload(lua_State *L, const char *name, lua_CFunction fn)
{
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, fn);
    lua_setfield(L, -2, name);
    lua_pop(L, 2);
}

void sdk_register_ncm(lua_State *L) { preload(L, "qv_ncm", luaopen_qv_ncm); }

void sdk_register_net(lua_State *L)
{
    preload(L, "qv_broadcast_ser", luaopen_qv_broadcast_ser);
    preload(L, "qv_broadcast_cli", luaopen_qv_broadcast_cli);
    preload(L, "qv_discover", luaopen_qv_discover);
    preload(L, "qv_skdr_x", luaopen_qv_skdr_x);
    preload(L, "qv_ncm_x", luaopen_qv_ncm_x);
    preload(L, "qv_net_x", luaopen_qv_net_x);
}
