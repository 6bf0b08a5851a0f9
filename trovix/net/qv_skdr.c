/*
 * Socket driver: one "socket drive" thread that runs the tickers (at most
 * once a second), applies queued additions and closes, and polls every open
 * socket for at most 5 ms per round.
 *
 * Only this thread touches the socket map; other threads queue additions and
 * closes under the driver lock and may wake the poll early.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

#define SKDR_BUCKETS 20000u
#define SKDR_MAX_POLL 1024u
#define SKDR_POLL_MS 5

typedef struct skdr_entry {
    uint32_t id;
    uint32_t sub;
    skdr_handlers h;
    qv_socket_x *sock;
} skdr_entry;

typedef struct skdr_tick_entry {
    skdr_ticker fn;
    void *user;
} skdr_tick_entry;

struct qv_skdr {
    uint32_t last_tick;
    int ticked_once;
    volatile int kick;
    qv_list tickers;
    pf_mutex tick_lock; /* tickers may come and go while the thread runs */
    qv_hmap *map;
    qv_list adds;
    qv_list closes;
    pf_mutex lock;
    pf_wake wake;
    qv_thread *thread;
    volatile int run;
    struct pollfd *fds;
    skdr_entry **polled;
};

static void entry_release(skdr_entry *e)
{
    qv_sock_release(e->sock);
    free(e);
}

qv_skdr *skdr_create(void)
{
    qv_skdr *d = (qv_skdr *)calloc(1, sizeof *d);
    if (!d)
        return NULL;
    d->map = qv_hmap_create(SKDR_BUCKETS);
    d->fds = (struct pollfd *)calloc(SKDR_MAX_POLL + 1, sizeof *d->fds);
    d->polled = (skdr_entry **)calloc(SKDR_MAX_POLL + 1, sizeof *d->polled);
    if (!d->map || !d->fds || !d->polled || pf_mutex_init(&d->lock) != 0) {
        qv_hmap_free(d->map);
        free(d->fds);
        free(d->polled);
        free(d);
        return NULL;
    }
    pf_mutex_init(&d->tick_lock);
    if (pf_wake_init(&d->wake) != 0) {
        pf_mutex_destroy(&d->tick_lock);
        pf_mutex_destroy(&d->lock);
        qv_hmap_free(d->map);
        free(d->fds);
        free(d->polled);
        free(d);
        return NULL;
    }
    qv_list_init(&d->tickers);
    qv_list_init(&d->adds);
    qv_list_init(&d->closes);
    return d;
}

void skdr_free(qv_skdr *d)
{
    qv_hmap_entry *e;
    if (!d)
        return;
    skdr_stop(d);
    qv_list_clear(&d->closes, free);
    while (d->adds.head)
        entry_release((skdr_entry *)qv_list_pop(&d->adds));
    for (e = d->map->head; e; e = e->next)
        entry_release((skdr_entry *)e->value);
    qv_hmap_free(d->map);
    qv_list_clear(&d->tickers, free);
    pf_wake_destroy(&d->wake);
    pf_mutex_destroy(&d->tick_lock);
    pf_mutex_destroy(&d->lock);
    free(d->fds);
    free(d->polled);
    free(d);
}

int skdr_add(qv_skdr *d, uint32_t id, uint32_t sub, qv_socket_x *s, const skdr_handlers *h)
{
    skdr_entry *e = (skdr_entry *)calloc(1, sizeof *e);
    if (!e)
        return -1;
    e->id = id;
    e->sub = sub;
    e->h = *h;
    e->sock = s;
    s->last_activity = pf_tick_ms();
    pf_mutex_lock(&d->lock);
    if (!qv_list_push(&d->adds, e)) {
        pf_mutex_unlock(&d->lock);
        free(e);
        return -1;
    }
    pf_mutex_unlock(&d->lock);
    pf_wake_signal(&d->wake);
    return 0;
}

void skdr_close(qv_skdr *d, uint32_t id, uint32_t sub)
{
    uint32_t *key = (uint32_t *)malloc(2 * sizeof *key);
    if (!key)
        return;
    key[0] = id;
    key[1] = sub;
    pf_mutex_lock(&d->lock);
    if (!qv_list_push(&d->closes, key))
        free(key);
    pf_mutex_unlock(&d->lock);
    pf_wake_signal(&d->wake);
}

int skdr_add_ticker(qv_skdr *d, skdr_ticker fn, void *user)
{
    skdr_tick_entry *t = (skdr_tick_entry *)malloc(sizeof *t);
    if (!t)
        return -1;
    t->fn = fn;
    t->user = user;
    pf_mutex_lock(&d->tick_lock);
    if (!qv_list_push(&d->tickers, t)) {
        pf_mutex_unlock(&d->tick_lock);
        free(t);
        return -1;
    }
    pf_mutex_unlock(&d->tick_lock);
    return 0;
}

void skdr_remove_ticker(qv_skdr *d, skdr_ticker fn, void *user)
{
    qv_list_node *n;
    pf_mutex_lock(&d->tick_lock);
    for (n = d->tickers.head; n; n = n->next) {
        skdr_tick_entry *t = (skdr_tick_entry *)n->value;
        if (t->fn == fn && t->user == user) {
            free(t);
            qv_list_unlink(&d->tickers, n);
            break;
        }
    }
    pf_mutex_unlock(&d->tick_lock);
}

void skdr_wake(qv_skdr *d) { pf_wake_signal(&d->wake); }

void skdr_kick_tickers(qv_skdr *d)
{
    __atomic_store_n(&d->kick, 1, __ATOMIC_RELEASE);
    pf_wake_signal(&d->wake);
}

static void apply_queues(qv_skdr *d, uint32_t now)
{
    pf_mutex_lock(&d->lock);
    while (d->closes.head) {
        uint32_t *key = (uint32_t *)qv_list_pop(&d->closes);
        qv_hmap_entry *he = qv_hmap_find(d->map, key, 2 * sizeof *key);
        if (he) {
            skdr_entry *e = (skdr_entry *)he->value;
            qv_hmap_remove(d->map, he);
            entry_release(e);
        } else {
            /* Closed before its addition was applied: the addition goes too,
             * or its handlers would later run on a context already freed. */
            qv_list_node *n;
            for (n = d->adds.head; n; n = n->next) {
                skdr_entry *e = (skdr_entry *)n->value;
                if (e->id == key[0] && e->sub == key[1]) {
                    qv_list_unlink(&d->adds, n);
                    entry_release(e);
                    break;
                }
            }
        }
        free(key);
    }
    while (d->adds.head) {
        skdr_entry *e = (skdr_entry *)qv_list_pop(&d->adds);
        uint32_t key[2];
        key[0] = e->id;
        key[1] = e->sub;
        e->sock->last_activity = now;
        if (qv_hmap_insert(d->map, key, sizeof key, e) != 0)
            entry_release(e);
    }
    pf_mutex_unlock(&d->lock);
}

static void run_tickers(qv_skdr *d, uint32_t now)
{
    qv_list_node *n;
    int kick = __atomic_exchange_n(&d->kick, 0, __ATOMIC_ACQ_REL);
    if (!kick && d->ticked_once && pf_tick_diff(now, d->last_tick) <= 999)
        return;
    d->ticked_once = 1;
    d->last_tick = now;
    /* Lock order: ticker lock, then whatever the tickers take. */
    pf_mutex_lock(&d->tick_lock);
    for (n = d->tickers.head; n; n = n->next) {
        skdr_tick_entry *t = (skdr_tick_entry *)n->value;
        t->fn(t->user, now);
    }
    pf_mutex_unlock(&d->tick_lock);
}

static void poll_sockets(qv_skdr *d, int wait_ms)
{
    qv_hmap_entry *he;
    size_t n = 0, i;
    uint32_t now;
    int rc;

    for (he = d->map->head; he && n < SKDR_MAX_POLL; he = he->next) {
        skdr_entry *e = (skdr_entry *)he->value;
        if (qv_sock_state(e->sock) != 0 || e->sock->fd < 0)
            continue;
        d->fds[n].fd = e->sock->fd;
        d->fds[n].events = (short)(POLLIN | (qv_sock_pending(e->sock) ? POLLOUT : 0));
        d->fds[n].revents = 0;
        d->polled[n] = e;
        n++;
    }
    d->fds[n].fd = d->wake.fd;
    d->fds[n].events = POLLIN;
    d->fds[n].revents = 0;
    rc = pf_poll(d->fds, n + 1, wait_ms);
    if (rc <= 0)
        return;
    if (d->fds[n].revents & POLLIN)
        pf_wake_drain(&d->wake);
    now = pf_tick_ms();
    for (i = 0; i < n; i++) {
        skdr_entry *e = d->polled[i];
        short rev = d->fds[i].revents;
        if (!rev)
            continue;
        if ((rev & (POLLIN | POLLHUP | POLLERR)) && qv_sock_state(e->sock) == 0 && e->h.on_readable) {
            /* Only bytes received count as activity: our own heartbeats must
             * not keep a silent peer alive. */
            if (e->h.on_readable(e->h.user, e->h.ctx, e->id, e->sock, now) > 0)
                e->sock->last_activity = now;
        }
        if ((rev & POLLOUT) && qv_sock_state(e->sock) == 0 && e->h.on_writable)
            e->h.on_writable(e->h.user, e->h.ctx, e->id, e->sock, now);
    }
}

void skdr_run_once(qv_skdr *d, int wait_ms)
{
    uint32_t now = pf_tick_ms();
    run_tickers(d, now);
    apply_queues(d, now);
    poll_sockets(d, wait_ms);
}

static void skdr_thread(void *data, volatile int *run)
{
    qv_skdr *d = (qv_skdr *)data;
    while (qv_running(run))
        skdr_run_once(d, SKDR_POLL_MS);
}

int skdr_start(qv_skdr *d)
{
    if (d->thread)
        return 0;
    d->thread = qv_thread_start(skdr_thread, d, &d->run, "socket drive");
    return d->thread ? 0 : -1;
}

void skdr_stop(qv_skdr *d)
{
    if (!d->thread)
        return;
    __atomic_store_n(&d->run, 0, __ATOMIC_RELEASE);
    pf_wake_signal(&d->wake);
    qv_thread_stop(d->thread);
    d->thread = NULL;
}

int skdr_running(qv_skdr *d) { return d->thread != NULL; }

uint32_t skdr_pending_closes(qv_skdr *d)
{
    uint32_t n;
    pf_mutex_lock(&d->lock);
    n = d->closes.count;
    pf_mutex_unlock(&d->lock);
    return n;
}

uint32_t skdr_socket_count(qv_skdr *d)
{
    uint32_t n;
    pf_mutex_lock(&d->lock);
    n = d->map->count + d->adds.count;
    pf_mutex_unlock(&d->lock);
    return n;
}
