/*
 * portable: the few operating-system services that the device library, the
 * worker module and the recorder need, in one place.
 *
 * What callers may rely on:
 * - pf_tick_ms() is a 32-bit millisecond count of CLOCK_MONOTONIC; it wraps
 *   every 2^32 ms (about 49.7 days), so ticks are only ever compared through
 *   pf_tick_diff(), which takes the difference the short way round the wrap.
 * - pf_clock_ms() is the same clock as a 64-bit count that never wraps; use it
 *   for deadlines.
 * - Mutexes are recursive and offer a non-blocking try-lock.
 * - Condition waits measure their time-out on the monotonic clock.
 * - Sockets are IPv4, non-blocking where asked, and never raise SIGPIPE.
 * - A file is known by its identity (device and inode), not by its name: an
 *   open descriptor keeps naming the same file when it is renamed, its
 *   folder with it, or removed.
 */
#ifndef PF_PORTABLE_H
#define PF_PORTABLE_H

#include <stddef.h>
#include <stdint.h>
#include <pthread.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/socket.h>
#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- time ---- */
uint32_t pf_tick_ms(void);
uint32_t pf_tick_diff(uint32_t a, uint32_t b);
uint64_t pf_clock_ms(void);
void pf_sleep_ms(uint32_t ms);

/* ---- locks ---- */
typedef struct pf_mutex {
    pthread_mutex_t m;
} pf_mutex;

int pf_mutex_init(pf_mutex *mutex);     /* recursive; 0 on success */
void pf_mutex_destroy(pf_mutex *mutex);
void pf_mutex_lock(pf_mutex *mutex);
int pf_mutex_trylock(pf_mutex *mutex);  /* 0 when taken, non-zero when busy */
void pf_mutex_unlock(pf_mutex *mutex);

typedef struct pf_cond {
    pthread_cond_t c;
} pf_cond;

int pf_cond_init(pf_cond *cond);
void pf_cond_destroy(pf_cond *cond);
/* Waits at most ms milliseconds; the mutex must be held exactly once. */
void pf_cond_wait_ms(pf_cond *cond, pf_mutex *mutex, uint32_t ms);
void pf_cond_broadcast(pf_cond *cond);

/* ---- threads ---- */
typedef struct pf_thread {
    pthread_t t;
} pf_thread;

int pf_thread_start(pf_thread *thread, void *(*fn)(void *), void *arg); /* 0 on success */
void pf_thread_join(pf_thread *thread);
/* Lets the thread end on its own; its handle may not be joined afterwards. */
void pf_thread_detach(pf_thread *thread);

/* ---- sockets ---- */
typedef int pf_socket;
#define PF_INVALID_SOCKET (-1)

pf_socket pf_sock_create(int type, int protocol);
int pf_sock_set_nonblocking(pf_socket s);
int pf_sock_set_int_option(pf_socket s, int level, int name, int value);
/* A TCP socket sends each write at once instead of holding a small one while
 * earlier bytes are unacknowledged (Nagle's algorithm). */
int pf_sock_set_no_delay(pf_socket s);
void pf_sock_close(pf_socket s);
int pf_sock_last_error(void);
/* True for the errors of a connect that is still under way. */
int pf_sock_connect_pending(int err);
ssize_t pf_sock_send(pf_socket s, const void *data, size_t len);
ssize_t pf_sock_recv(pf_socket s, void *buf, size_t len);
ssize_t pf_sock_sendto(pf_socket s, const void *data, size_t len, const struct sockaddr *to, socklen_t tolen);
ssize_t pf_sock_recvfrom(pf_socket s, void *buf, size_t len, struct sockaddr *from, socklen_t *fromlen);
/* poll() that retries when interrupted by a signal. */
int pf_poll(struct pollfd *fds, size_t n, int timeout_ms);

/* A file descriptor that another thread can make readable to end a poll early. */
typedef struct pf_wake {
    int fd;
} pf_wake;

int pf_wake_init(pf_wake *wake);
void pf_wake_destroy(pf_wake *wake);
void pf_wake_signal(pf_wake *wake);
void pf_wake_drain(pf_wake *wake);

/* ---- files ---- */
/* Two identities are equal exactly when they name the same file. */
typedef struct pf_file_id {
    uint64_t device;
    uint64_t inode;
} pf_file_id;

/* Opens path for reading only, closed on exec; -1 with errno on failure. */
int pf_file_open_read(const char *path);
void pf_file_close(int fd);
/* The identity of an open file, and how many names it has in the file
 * system: 0 once it was removed (its folder with it). 0 or the errno. */
int pf_fd_identity(int fd, pf_file_id *id, uint64_t *links);
/* The identity of the file that path names now. 0 or the errno: ENOENT or
 * ENOTDIR when nothing is there. */
int pf_path_identity(const char *path, pf_file_id *id);
int pf_same_file(const pf_file_id *a, const pf_file_id *b);
/* A path that reached the open file lately, after every rename of it and of
 * its folders, NUL-terminated in buf. Only a hint: the file may have been
 * removed or renamed since, so check it with pf_path_identity. 0 or the
 * errno: ERANGE when buf is too small, ENOSYS where the system can't tell. */
int pf_fd_path(int fd, char *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
