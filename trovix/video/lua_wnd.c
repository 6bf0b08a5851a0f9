/*
 * The video window for a Lua host: trovix.open_wnd and the handle's
 * metatable "qv_gl_wnd_meta" (close, is_run, bind, unbind). A window shows
 * the pictures of the decoder with its id, taken through the decoder's
 * pacing step.
 */
#include <lauxlib.h>
#include <lua.h>
#include <stdint.h>

#include "gl_wnd.h"

#define WND_META "qv_gl_wnd_meta"

static int take(void *user, dec_frame **out) { return trovix_dec_get_md_data((int)(intptr_t)user, out); }
static void release(void *user, dec_frame *frame) { trovix_dec_free_md_data(frame); }

static qv_gl_wnd_lua_t *check(lua_State *L)
{
    qv_gl_wnd_lua_t *h = (qv_gl_wnd_lua_t *)luaL_testudata(L, 1, WND_META);
    if (!h)
        luaL_argerror(L, 1, "'qv_gl_wnd_lua_t' expected");
    return h;
}

/* A number of at least 1 at idx, else the default. */
static int opt_size(lua_State *L, int idx, int def)
{
    if (lua_type(L, idx) == LUA_TNUMBER) {
        lua_Integer v = (lua_Integer)lua_tonumber(L, idx);
        if (v >= 1 && v <= 16384)
            return (int)v;
    }
    return def;
}

/* Largest decoder id a window takes; a larger one is an argument error
 * rather than falling back on decoder 100, whose pictures it would show. */
#define WND_MAX_ID 16384

int qv_gl_wnd_open(lua_State *L)
{
    int id;
    int width = opt_size(L, 2, 960);
    int height = opt_size(L, 3, 540);
    const char *title = lua_type(L, 4) == LUA_TSTRING ? lua_tostring(L, 4) : "hello";
    gl_wnd_source src = { take, release, NULL };
    qv_gl_wnd_lua_t *h;
    int rc;

    luaL_argcheck(L, lua_type(L, 1) != LUA_TNUMBER || lua_tonumber(L, 1) <= WND_MAX_ID, 1, "decoder id above 16384");
    id = opt_size(L, 1, 100);
    src.user = (void *)(intptr_t)id;
    if (!gl_wnd_available()) {
        lua_pushnil(L);
        lua_pushstring(L, "no OpenGL display");
        return 2;
    }
    /* An open decoder is used as it is. */
    rc = trovix_dec_open(id, NULL);
    if (rc != 0 && rc != TROVIX_DECODER_STATE) {
        lua_pushnil(L);
        lua_pushstring(L, "the library is not running");
        return 2;
    }
    h = (qv_gl_wnd_lua_t *)lua_newuserdata(L, sizeof *h);
    h->wnd = NULL;
    h->dec_id = id;
    luaL_setmetatable(L, WND_META);
    h->wnd = gl_wnd_open(title, width, height, &src);
    if (!h->wnd) {
        trovix_dec_close(id);
        lua_pushnil(L);
        lua_pushstring(L, "the window thread could not start");
        return 2;
    }
    return 1;
}

/* The window thread goes first: it may be using the decoder until then. */
static int l_close(lua_State *L)
{
    qv_gl_wnd_lua_t *h = check(L);
    if (h->wnd) {
        gl_wnd_close(h->wnd);
        h->wnd = NULL;
        trovix_dec_close(h->dec_id);
    }
    return 0;
}

static int l_is_run(lua_State *L)
{
    qv_gl_wnd_lua_t *h = check(L);
    lua_pushboolean(L, h->wnd && gl_wnd_running(h->wnd));
    return 1;
}

static int l_bind(lua_State *L)
{
    qv_gl_wnd_lua_t *h = check(L);
    int conn = (int)luaL_checkinteger(L, 2);
    int key1 = (int)luaL_optinteger(L, 3, 0);
    int key2 = (int)luaL_optinteger(L, 4, 0);
    int stream = (int)luaL_optinteger(L, 5, 0);
    lua_pushboolean(L, h->wnd && trovix_dec_bind(h->dec_id, conn, key1, key2, stream) == 0);
    return 1;
}

static int l_unbind(lua_State *L)
{
    qv_gl_wnd_lua_t *h = check(L);
    lua_pushboolean(L, h->wnd && trovix_dec_unbind(h->dec_id) == 0);
    return 1;
}

static int l_tostring(lua_State *L)
{
    check(L);
    lua_pushstring(L, WND_META);
    return 1;
}

void qv_gl_wnd_register(lua_State *L)
{
    static const luaL_Reg methods[] = {
        { "close", l_close }, { "is_run", l_is_run }, { "bind", l_bind }, { "unbind", l_unbind },
        { "__gc", l_close }, { "__tostring", l_tostring }, { NULL, NULL }
    };
    if (luaL_newmetatable(L, WND_META)) {
        luaL_setfuncs(L, methods, 0);
        lua_pushvalue(L, -1);
        lua_setfield(L, -2, "__index");
    }
    lua_pop(L, 1);
}
