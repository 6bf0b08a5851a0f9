/*
 * qv_file: files as objects, read into and written from byte-buffer objects.
 */
#include "clua.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void file_release(qv_obj *obj)
{
    if (obj->payload)
        fclose((FILE *)obj->payload);
    free(obj);
}

static qv_obj *check_file(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    return clua_check_obj(L, 1, "qv_file", t->com, t->file, 0, "qv_file");
}

static int l_open(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    const char *path = luaL_checkstring(L, 1);
    const char *mode = luaL_optstring(L, 2, "rb");
    FILE *f = fopen(path, mode);
    qv_obj *obj;
    if (!f) {
        lua_pushnil(L);
        return 1;
    }
    obj = (qv_obj *)malloc(sizeof *obj);
    if (!obj) {
        fclose(f);
        lua_pushnil(L);
        return 1;
    }
    qv_obj_init(obj, t->com, t->file, 0, file_release, f);
    clua_push_obj(L, obj);
    return 1;
}

static int l_close(lua_State *L)
{
    qv_obj_release(check_file(L));
    return 0;
}

static int l_seek(lua_State *L)
{
    FILE *f = (FILE *)check_file(L)->payload;
    lua_Integer off = luaL_checkinteger(L, 2);
    const char *origin = luaL_optstring(L, 3, "seek_set");
    int whence = SEEK_SET;
    if (qv_strieq(origin, "seek_cur"))
        whence = SEEK_CUR;
    else if (qv_strieq(origin, "seek_end"))
        whence = SEEK_END;
    lua_pushboolean(L, fseek(f, (long)off, whence) == 0);
    return 1;
}

static int l_tell(lua_State *L)
{
    lua_pushinteger(L, (lua_Integer)ftell((FILE *)check_file(L)->payload));
    return 1;
}

static int l_read(lua_State *L)
{
    FILE *f = (FILE *)check_file(L)->payload;
    lua_Integer size = luaL_optinteger(L, 2, 32768);
    qv_buf *buf;
    qv_obj *obj;
    size_t n;
    if (size <= 0 || size > 0x7FFFFFF0)
        size = 32768;
    buf = qv_buf_new((uint32_t)size);
    if (!buf)
        return luaL_error(L, "qv_file.read: out of memory");
    n = fread(buf->data, 1, (size_t)size, f);
    if (n == 0 || !(obj = qv_obj_buf_new(buf))) {
        qv_buf_free(buf);
        lua_pushnil(L);
        lua_pushinteger(L, 0);
        return 2;
    }
    buf->end = (uint32_t)n;
    clua_push_obj(L, obj);
    lua_pushinteger(L, (lua_Integer)n);
    return 2;
}

static int l_write(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    FILE *f = (FILE *)check_file(L)->payload;
    qv_obj *obj = clua_check_obj(L, 2, "qv_file", t->buf, t->buf, t->buf, "qv_buf");
    qv_buf *b = qv_obj_buf(obj);
    size_t n;
    if (!b || !b->data) {
        lua_pushboolean(L, 0);
        lua_pushinteger(L, 0);
        return 2;
    }
    n = fwrite(b->data + b->start, 1, qv_buf_size(b), f);
    qv_obj_release(obj);
    lua_pushboolean(L, 1);
    lua_pushinteger(L, (lua_Integer)n);
    return 2;
}

static int l_flush(lua_State *L)
{
    fflush((FILE *)check_file(L)->payload);
    return 0;
}

int luaopen_qv_file(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "open", l_open }, { "close", l_close }, { "seek", l_seek }, { "tell", l_tell },
        { "read", l_read }, { "write", l_write }, { "flush", l_flush }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}
