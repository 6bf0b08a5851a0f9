/*
 * The Lua module "trovix": the exports for a Lua host outside the library.
 */
#include "sdk.h"

#include "gl_wnd.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int l_init(lua_State *L)
{
    lua_pushinteger(L, trovix_init(luaL_optstring(L, 1, "")));
    return 1;
}

static int l_quit(lua_State *L)
{
    trovix_quit();
    return 0;
}

static int l_login(lua_State *L)
{
    int id = 0;
    int code = trovix_login(&id, luaL_checkstring(L, 1));
    lua_pushinteger(L, code);
    lua_pushinteger(L, code == 0 ? id : 0);
    return 2;
}

static int l_logout(lua_State *L)
{
    lua_pushinteger(L, trovix_logout((int)luaL_checkinteger(L, 1)));
    return 1;
}

static int push_reply(lua_State *L, int code, char *text)
{
    lua_pushinteger(L, code);
    lua_pushstring(L, text ? text : "{}");
    trovix_free(text);
    return 2;
}

static int l_request(lua_State *L)
{
    char *text = NULL;
    int code = trovix_request((int)luaL_checkinteger(L, 1), luaL_checkstring(L, 2), &text);
    return push_reply(L, code, text);
}

static int l_discover_open(lua_State *L)
{
    lua_pushinteger(L, trovix_discover_open(luaL_optstring(L, 1, "")));
    return 1;
}

static int l_discover_close(lua_State *L)
{
    lua_pushinteger(L, trovix_discover_close());
    return 1;
}

static int l_discover_run(lua_State *L)
{
    luaL_checktype(L, 1, LUA_TBOOLEAN);
    lua_pushinteger(L, trovix_discover_run(lua_toboolean(L, 1)));
    return 1;
}

static int l_discover_get_devs(lua_State *L)
{
    char *text = NULL;
    int code = trovix_discover_get_devs(&text);
    lua_pushstring(L, code == 0 && text ? text : "{}");
    trovix_free(text);
    return 1;
}

static int l_discover_request(lua_State *L)
{
    char *text = NULL;
    int code = trovix_discover_request(luaL_checkstring(L, 1), &text);
    return push_reply(L, code, text);
}

static int save_common(lua_State *L, const char *mode)
{
    qv_buf_md *md = NULL;
    int conn = (int)luaL_checkinteger(L, 1), k1 = (int)luaL_checkinteger(L, 2);
    int k2 = (int)luaL_checkinteger(L, 3), stream = (int)luaL_checkinteger(L, 4);
    const char *path = luaL_checkstring(L, 5);
    int ok = 0;
    if (trovix_md_get(conn, k1, k2, stream, &md) == 0 && md) {
        FILE *f = fopen(path, mode);
        if (f) {
            size_t n = md->buf.end - md->buf.start;
            ok = fwrite(md->buf.data + md->buf.start, 1, n, f) == n;
            ok = fclose(f) == 0 && ok;
        }
        trovix_md_buf_sub(md);
    }
    lua_pushboolean(L, ok);
    return 1;
}

static int l_save(lua_State *L) { return save_common(L, "wb"); }
static int l_save_yuv(lua_State *L) { return save_common(L, "wb+"); }

static int l_gethostbyname(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    struct addrinfo hints, *res = NULL, *ai;
    int family, n = 1;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(name, NULL, &hints, &res) != 0 || !res)
        return 0;
    family = res->ai_family;
    lua_pushstring(L, family == AF_INET6 ? "ipv6" : "ipv4");
    for (ai = res; ai; ai = ai->ai_next) {
        char text[INET6_ADDRSTRLEN];
        const void *addr;
        if (ai->ai_family != family)
            continue;
        addr = family == AF_INET6 ? (const void *)&((struct sockaddr_in6 *)ai->ai_addr)->sin6_addr
                                  : (const void *)&((struct sockaddr_in *)ai->ai_addr)->sin_addr;
        if (!inet_ntop(family, addr, text, sizeof text))
            continue;
        luaL_checkstack(L, 1, "too many addresses");
        lua_pushstring(L, text);
        n++;
    }
    freeaddrinfo(res);
    return n;
}

TROVIX_API int luaopen_trovix(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "init", l_init }, { "quit", l_quit }, { "login", l_login }, { "logout", l_logout },
        { "request", l_request }, { "discover_open", l_discover_open }, { "discover_close", l_discover_close },
        { "discover_run", l_discover_run }, { "discover_get_devs", l_discover_get_devs },
        { "discover_request", l_discover_request }, { "save", l_save }, { "save_yuv", l_save_yuv },
        { "open_wnd", qv_gl_wnd_open }, { "gethostbyname", l_gethostbyname }, { NULL, NULL }
    };
    qv_gl_wnd_register(L);
    luaL_newlib(L, fns);
    return 1;
}
