/*
 * Lua openers of the socket-layer and discovery modules.
 */
#ifndef QV_NET_LUA_H
#define QV_NET_LUA_H

#include <lua.h>
#include "qv_net.h"

#ifdef __cplusplus
extern "C" {
#endif

int luaopen_qv_skdr_x(lua_State *L);
int luaopen_qv_ncm_x(lua_State *L);
int luaopen_qv_net_x(lua_State *L);
int luaopen_qv_discover(lua_State *L);
int luaopen_qv_broadcast_cli(lua_State *L);
int luaopen_qv_broadcast_ser(lua_State *L);
/* A qv_ncm_x object wrapping a manager that someone else owns. Scripts can't
 * free it (qv_sys.free only drops their handle); qv_ncm_x_unwrap ends it. */
qv_obj *qv_ncm_x_wrap(const char *name, qv_ncm *m);
void qv_ncm_x_unwrap(qv_obj *obj);

#ifdef __cplusplus
}
#endif

#endif
