/*
 * Crash dumps: on a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
 * a text dump with the signal, the faulting address and a backtrace is
 * written into the dump folder, then the process dies with the original
 * signal. The handler itself only uses async-signal-safe calls; dumps are
 * written as "pending-crash-<seconds>-<pid>.dmp" so that the next start can
 * find and report them (crash_handler_collect).
 */
#ifndef VORENTA_CRASH_HANDLER_H
#define VORENTA_CRASH_HANDLER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the handler for the given folder (which must exist). Returns 0 on
 * success, 1 when a handler was installed already (nothing changes), -1 when
 * the folder name is too long or the signals could not be set. */
int crash_handler_install(const char *dump_dir);

/* Renames the pending dumps of earlier runs in `dump_dir` to
 * "crash-<seconds>-<pid>.dmp" and calls `report` with each new name.
 * Returns how many were found. */
int crash_handler_collect(const char *dump_dir, void (*report)(const char *path, void *user), void *user);

#ifdef __cplusplus
}
#endif

#endif
