/*
 * qv_hash: 32-bit string hashes as decimal texts (bytes taken as signed).
 */
#include "clua.h"

#include <stdio.h>

static void push_u32(lua_State *L, uint32_t h)
{
    char text[16];
    snprintf(text, sizeof text, "%u", h);
    lua_pushstring(L, text);
}

static int l_dx(lua_State *L)
{
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    push_u32(L, 2u * qv_h1(s, len));
    return 1;
}

static int l_rs(lua_State *L)
{
    size_t len, i;
    const int8_t *s = (const int8_t *)luaL_checklstring(L, 1, &len);
    uint32_t h = 0, a = 63689u;
    for (i = 0; i < len; i++) {
        h = h * a + (uint32_t)(int32_t)s[i];
        a *= 378551u;
    }
    push_u32(L, h);
    return 1;
}

static int l_js(lua_State *L)
{
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    push_u32(L, qv_h2(s, len));
    return 1;
}

static int l_ap(lua_State *L)
{
    size_t len, i;
    const int8_t *s = (const int8_t *)luaL_checklstring(L, 1, &len);
    uint32_t h = 0xAAAAAAAAu;
    for (i = 0; i < len; i++) {
        uint32_t c = (uint32_t)(int32_t)s[i];
        if ((i & 1) == 0)
            h ^= (h << 7) ^ (c * (h >> 3));
        else
            h ^= ~((h << 11) + (c ^ (h >> 5)));
    }
    push_u32(L, h);
    return 1;
}

int luaopen_qv_hash(lua_State *L)
{
    static const luaL_Reg fns[] = { { "dx", l_dx }, { "rs", l_rs }, { "js", l_js }, { "ap", l_ap }, { NULL, NULL } };
    luaL_newlib(L, fns);
    return 1;
}
