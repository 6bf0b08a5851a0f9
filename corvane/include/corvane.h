/*
 * corvane: Lua worker threads, each with a Lua state of its own, with job
 * queues, named message queues (qv_tmsg) and a process-wide key/value cache
 * (qv_mcache) shared by every Lua state of the process.
 *
 * A stock Lua 5.3 interpreter loads it with require "corvane"; a host program
 * that links it registers the modules with pre_loadlib_corvane and lets its
 * scripts require them later.
 */
#ifndef CORVANE_H
#define CORVANE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CORVANE_BUILD)
#define CORVANE_API __attribute__((visibility("default")))
#else
#define CORVANE_API
#endif

struct lua_State;

/* Puts qv_mcache and qv_tmsg into package.preload and returns the corvane
 * table (one result). */
CORVANE_API int luaopen_corvane(struct lua_State *L);

/* Puts qv_mcache, qv_tmsg and corvane into package.preload; returns nothing. */
CORVANE_API void pre_loadlib_corvane(struct lua_State *L);

/* Finds a script by module name: its text and length, and non-zero; 0 when
 * the name is unknown. Called on the worker's thread. */
typedef int (*corvane_lookup_fn)(const char *name, const char **text, size_t *len);

/* The loader object for create and open_thread: a tagged object that a host
 * hands to its scripts as a light userdata, so that a stray pointer is
 * refused instead of being called. One object per lookup function, kept by
 * the library until the process ends (never freed by the caller); null when
 * out of memory. */
CORVANE_API void *corvane_loader(corvane_lookup_fn lookup);

#ifdef __cplusplus
}
#endif

#endif
