/*
 * Our stand-in for a minidump writer. Everything the signal handler needs is
 * prepared at install time (folder name, alternate stack, the unwinder loaded
 * by one backtrace call), because inside the handler only async-signal-safe
 * calls are allowed: open, write, close, getpid, time, sigaction, raise.
 */
#define _GNU_SOURCE
#include "crash_handler.h"

#include <dirent.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define CRASH_DIR_MAX 3072
#define CRASH_FRAMES 64

static char crash_dir[CRASH_DIR_MAX];
static size_t crash_dir_len;
static int crash_installed;
static const int crash_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
static struct sigaction crash_previous[sizeof crash_signals / sizeof crash_signals[0]];
static char *crash_stack;

static size_t append_text(char *out, size_t pos, size_t cap, const char *text)
{
    while (*text && pos + 1 < cap)
        out[pos++] = *text++;
    out[pos] = '\0';
    return pos;
}

static size_t append_unsigned(char *out, size_t pos, size_t cap, unsigned long long value, unsigned base)
{
    char digits[32];
    int n = 0;
    do {
        unsigned d = (unsigned)(value % base);
        digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
        value /= base;
    } while (value && n < (int)sizeof digits);
    while (n > 0 && pos + 1 < cap)
        out[pos++] = digits[--n];
    out[pos] = '\0';
    return pos;
}

static void write_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        len -= (size_t)n;
    }
}

static const char *signal_name(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

static void crash_on_signal(int sig, siginfo_t *info, void *ucontext)
{
    (void)ucontext;
    int saved_errno = errno;
    char path[CRASH_DIR_MAX + 64];
    size_t p = 0;
    p = append_text(path, p, sizeof path, crash_dir);
    p = append_text(path, p, sizeof path, "/pending-crash-");
    p = append_unsigned(path, p, sizeof path, (unsigned long long)time(NULL), 10);
    p = append_text(path, p, sizeof path, "-");
    p = append_unsigned(path, p, sizeof path, (unsigned long long)getpid(), 10);
    p = append_text(path, p, sizeof path, ".dmp");

    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        char line[256];
        size_t n = 0;
        n = append_text(line, n, sizeof line, "signal ");
        n = append_unsigned(line, n, sizeof line, (unsigned)sig, 10);
        n = append_text(line, n, sizeof line, " (");
        n = append_text(line, n, sizeof line, signal_name(sig));
        n = append_text(line, n, sizeof line, ")\naddress 0x");
        n = append_unsigned(line, n, sizeof line, (unsigned long long)(uintptr_t)(info ? info->si_addr : 0), 16);
        n = append_text(line, n, sizeof line, "\npid ");
        n = append_unsigned(line, n, sizeof line, (unsigned long long)getpid(), 10);
        n = append_text(line, n, sizeof line, "\nbacktrace:\n");
        write_all(fd, line, n);
        void *frames[CRASH_FRAMES];
        int count = backtrace(frames, CRASH_FRAMES);
        backtrace_symbols_fd(frames, count, fd);
        close(fd);
    }

    /* Hand the signal back to whoever had it before us (normally the
     * default action), so the process dies the way it would have. */
    for (size_t i = 0; i < sizeof crash_signals / sizeof crash_signals[0]; ++i) {
        if (crash_signals[i] == sig) {
            sigaction(sig, &crash_previous[i], NULL);
            break;
        }
    }
    errno = saved_errno;
    raise(sig);
}

int crash_handler_install(const char *dump_dir)
{
    if (crash_installed)
        return 1;
    if (!dump_dir)
        return -1;
    size_t len = strlen(dump_dir);
    if (len == 0 || len >= CRASH_DIR_MAX)
        return -1;
    memcpy(crash_dir, dump_dir, len + 1);
    crash_dir_len = len;

    /* The first backtrace() call loads the unwinder, which allocates: do it
     * now rather than inside the handler. */
    void *warm[2];
    (void)backtrace(warm, 2);

    /* A stack of its own, so a stack overflow can still be reported. */
    size_t stack_size = 64 * 1024;
    crash_stack = malloc(stack_size);
    if (crash_stack) {
        stack_t ss;
        memset(&ss, 0, sizeof ss);
        ss.ss_sp = crash_stack;
        ss.ss_size = stack_size;
        sigaltstack(&ss, NULL);
    }

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = crash_on_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof crash_signals / sizeof crash_signals[0]; ++i) {
        if (sigaction(crash_signals[i], &action, &crash_previous[i]) != 0)
            return -1;
    }
    crash_installed = 1;
    return 0;
}

int crash_handler_collect(const char *dump_dir, void (*report)(const char *path, void *user), void *user)
{
    static const char prefix[] = "pending-crash-";
    DIR *dir = opendir(dump_dir);
    if (!dir)
        return 0;
    int found = 0;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        if (strncmp(entry->d_name, prefix, sizeof prefix - 1) != 0)
            continue;
        char from[4096], to[4096];
        int a = snprintf(from, sizeof from, "%s/%s", dump_dir, entry->d_name);
        int b = snprintf(to, sizeof to, "%s/crash-%s", dump_dir, entry->d_name + sizeof prefix - 1);
        if (a <= 0 || b <= 0 || (size_t)a >= sizeof from || (size_t)b >= sizeof to)
            continue;
        if (rename(from, to) == 0) {
            ++found;
            if (report)
                report(to, user);
        }
    }
    closedir(dir);
    return found;
}
