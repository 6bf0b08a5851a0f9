/*
 * POSIX implementation of the portability layer.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "portable.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <sys/stat.h>

uint64_t pf_clock_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

uint32_t pf_tick_ms(void)
{
    return (uint32_t)pf_clock_ms();
}

uint32_t pf_tick_diff(uint32_t a, uint32_t b)
{
    uint32_t d = a - b;
    uint32_t e = b - a;
    return d < e ? d : e;
}

void pf_sleep_ms(uint32_t ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000u;
    ts.tv_nsec = (long)(ms % 1000u) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int pf_mutex_init(pf_mutex *mutex)
{
    pthread_mutexattr_t attr;
    int rc;
    if (pthread_mutexattr_init(&attr) != 0)
        return -1;
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    rc = pthread_mutex_init(&mutex->m, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc == 0 ? 0 : -1;
}

void pf_mutex_destroy(pf_mutex *mutex) { pthread_mutex_destroy(&mutex->m); }
void pf_mutex_lock(pf_mutex *mutex) { pthread_mutex_lock(&mutex->m); }
int pf_mutex_trylock(pf_mutex *mutex) { return pthread_mutex_trylock(&mutex->m); }
void pf_mutex_unlock(pf_mutex *mutex) { pthread_mutex_unlock(&mutex->m); }

int pf_cond_init(pf_cond *cond)
{
    pthread_condattr_t attr;
    int rc;
    if (pthread_condattr_init(&attr) != 0)
        return -1;
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    rc = pthread_cond_init(&cond->c, &attr);
    pthread_condattr_destroy(&attr);
    return rc == 0 ? 0 : -1;
}

void pf_cond_destroy(pf_cond *cond) { pthread_cond_destroy(&cond->c); }
void pf_cond_broadcast(pf_cond *cond) { pthread_cond_broadcast(&cond->c); }

void pf_cond_wait_ms(pf_cond *cond, pf_mutex *mutex, uint32_t ms)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000u;
    ts.tv_nsec += (long)(ms % 1000u) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(&cond->c, &mutex->m, &ts);
}

int pf_thread_start(pf_thread *thread, void *(*fn)(void *), void *arg)
{
    return pthread_create(&thread->t, NULL, fn, arg) == 0 ? 0 : -1;
}

void pf_thread_join(pf_thread *thread) { pthread_join(thread->t, NULL); }
void pf_thread_detach(pf_thread *thread) { pthread_detach(thread->t); }

pf_socket pf_sock_create(int type, int protocol)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? PF_INVALID_SOCKET : fd;
}

int pf_sock_set_nonblocking(pf_socket s)
{
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return -1;
    return fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int pf_sock_set_int_option(pf_socket s, int level, int name, int value)
{
    return setsockopt(s, level, name, &value, sizeof value) == 0 ? 0 : -1;
}

int pf_sock_set_no_delay(pf_socket s) { return pf_sock_set_int_option(s, IPPROTO_TCP, TCP_NODELAY, 1); }

void pf_sock_close(pf_socket s)
{
    if (s >= 0)
        close(s);
}

int pf_sock_last_error(void) { return errno; }

int pf_sock_connect_pending(int err)
{
    return err == EINPROGRESS || err == EALREADY || err == EAGAIN || err == EISCONN;
}

ssize_t pf_sock_send(pf_socket s, const void *data, size_t len)
{
    ssize_t n;
    do {
        n = send(s, data, len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return -2;
    return n;
}

ssize_t pf_sock_recv(pf_socket s, void *buf, size_t len)
{
    ssize_t n;
    do {
        n = recv(s, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return -2;
    return n;
}

ssize_t pf_sock_sendto(pf_socket s, const void *data, size_t len, const struct sockaddr *to, socklen_t tolen)
{
    ssize_t n;
    do {
        n = sendto(s, data, len, MSG_NOSIGNAL, to, tolen);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t pf_sock_recvfrom(pf_socket s, void *buf, size_t len, struct sockaddr *from, socklen_t *fromlen)
{
    ssize_t n;
    do {
        n = recvfrom(s, buf, len, 0, from, fromlen);
    } while (n < 0 && errno == EINTR);
    return n;
}

int pf_poll(struct pollfd *fds, size_t n, int timeout_ms)
{
    int rc;
    do {
        rc = poll(fds, (nfds_t)n, timeout_ms);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

int pf_wake_init(pf_wake *wake)
{
    wake->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wake->fd < 0 ? -1 : 0;
}

void pf_wake_destroy(pf_wake *wake)
{
    if (wake->fd >= 0)
        close(wake->fd);
    wake->fd = -1;
}

void pf_wake_signal(pf_wake *wake)
{
    uint64_t one = 1;
    ssize_t n = write(wake->fd, &one, sizeof one);
    (void)n;
}

void pf_wake_drain(pf_wake *wake)
{
    uint64_t v;
    ssize_t n = read(wake->fd, &v, sizeof v);
    (void)n;
}

int pf_file_open_read(const char *path)
{
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void pf_file_close(int fd)
{
    if (fd >= 0)
        close(fd);
}

static void file_id_of(const struct stat *info, pf_file_id *id)
{
    id->device = (uint64_t)info->st_dev;
    id->inode = (uint64_t)info->st_ino;
}

int pf_fd_identity(int fd, pf_file_id *id, uint64_t *links)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return errno;
    file_id_of(&info, id);
    *links = (uint64_t)info.st_nlink;
    return 0;
}

int pf_path_identity(const char *path, pf_file_id *id)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return errno;
    file_id_of(&info, id);
    return 0;
}

int pf_same_file(const pf_file_id *a, const pf_file_id *b)
{
    return a->device == b->device && a->inode == b->inode;
}

int pf_fd_path(int fd, char *buf, size_t size)
{
    /* Linux keeps the name an open file is reached by up to date in /proc. */
    char link[64];
    ssize_t length;
    if (size == 0)
        return ERANGE;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    length = readlink(link, buf, size);
    if (length < 0)
        return errno == ENOENT ? ENOSYS : errno;
    if ((size_t)length >= size)
        return ERANGE;
    buf[length] = '\0';
    return 0;
}
