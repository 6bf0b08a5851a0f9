/*
 * clua: the Lua host shared by the device library and the worker module.
 *
 * One host environment per Lua state: embedded-script loading through
 * require, module registrars, timers and paced full garbage collections.
 * Only the thread that owns the state calls into it.
 */
#ifndef CLUA_H
#define CLUA_H

#include <lua.h>
#include <lauxlib.h>
#include "qv_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Finds an embedded script by module name; 0 when absent. */
typedef int (*clua_lookup_fn)(const char *name, const char **text, size_t *len);
/* Puts modules into package.preload of a new state. */
typedef void (*clua_registrar)(lua_State *L);

typedef struct clua_timer {
    int32_t id;
    uint32_t count;
    int ref;
    uint32_t last;
    uint32_t interval;
    int dead; /* removed while the list was being walked */
} clua_timer;

typedef struct clua_env {
    qv_value user[2];
    clua_lookup_fn lookup;
    qv_list registrars;
    uint32_t gc_interval;
    uint32_t last_gc;
    uint32_t now;
    qv_list timers;
    int walking;
    lua_State *L;
    int ref_G, ref_setup, ref_init, ref_quit, ref_on_cmd;
    int loaded;
} clua_env;

clua_env *clua_env_create(clua_lookup_fn lookup, void *user);
int clua_env_add_registrar(clua_env *env, clua_registrar fn);
/* Opens the libraries, preloads the shared modules and cjson, installs the
 * script searcher and runs the registrars; 0 on success (errors printed). */
int clua_env_setup(clua_env *env);
/* require(entry) and take references of the script globals; 0 on success. */
int clua_env_load(clua_env *env, const char *entry);
/* Calls a referenced global with an optional text argument; the integer
 * result goes to *result. 0 when the call succeeded. */
int clua_env_call(clua_env *env, int ref, const char *arg, int *result);
void clua_env_timer_tick(clua_env *env, uint32_t now, int first);
void clua_env_close(clua_env *env);
clua_env *clua_env_from(lua_State *L);
static inline void *clua_env_user(clua_env *env) { return env->user[0].v.p; }

int clua_timer_add(clua_env *env, int32_t id, int32_t interval, int ref);
int clua_timer_modify(clua_env *env, int32_t id, int32_t interval);
int clua_timer_remove(clua_env *env, int32_t id);
uint32_t clua_timer_count(clua_env *env);

/* Prints "lua_helper: <error>" on stderr and pops the error. */
void clua_report(lua_State *L);
/* Protected call with a traceback; on error reports it and returns non-zero. */
int clua_pcall(lua_State *L, int nargs, int nresults);

/* Script-argument check: a live object with these tags, else a Lua error. */
qv_obj *clua_check_obj(lua_State *L, int idx, const char *module, uint32_t family, uint32_t klass,
                       uint32_t type, const char *type_name);
/* Pushes an object as light userdata and registers it as live. */
void clua_push_obj(lua_State *L, qv_obj *obj);

int luaopen_qv_sys(lua_State *L);
int luaopen_qv_file(lua_State *L);
int luaopen_qv_hash(lua_State *L);
int luaopen_qv_snapshot(lua_State *L);

/* 32 random bits from the C library's generator (seeded by qv_sys). */
uint32_t clua_rand32(void);

#ifdef __cplusplus
}
#endif

#endif
