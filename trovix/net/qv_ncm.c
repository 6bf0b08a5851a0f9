/*
 * Connection manager: numbered TCP connections on one socket driver, each
 * spoken by a protocol driver; complete texts, events and media objects
 * leave through two locked queues.
 *
 * Lock order: manager lock, then a queue lock or the driver lock or a
 * driver state's lock. Handlers run on the socket thread without the
 * manager lock; a connection record is freed only by the manager's ticker on
 * that same thread, right before its socket leaves the driver.
 */
#include "qv_net.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define NCM_BUCKETS 10000u
#define NCM_MAX_DRIVERS 8
/* At most one line about dropped records per queue in this time. */
#define NCM_DROP_REPORT_MS 10000u

/* Texts of one connection that wait for the command thread. */
typedef struct ncm_text_use {
    uint64_t bytes;
    uint32_t drops;  /* texts dropped since its queue was last empty */
} ncm_text_use;

/* Dropped records of one queue, for the rate-limited log line. */
typedef struct ncm_drop_report {
    uint64_t unreported;
    uint32_t last;
    int reported;
} ncm_drop_report;

typedef struct ncm_driver_slot {
    uint32_t key;
    np_driver ops;
    uint32_t reserved[3];
} ncm_driver_slot;

struct qv_ncm {
    qv_skdr *skdr;
    qv_hmap *conns;
    pf_mutex lock;
    qv_list close_requests;
    qv_list texts;
    pf_mutex text_lock;
    qv_hmap *text_use;    /* connection id -> ncm_text_use, while it has texts queued */
    uint64_t text_bytes, text_peak, texts_dropped, floods_ended;
    uint64_t reads;       /* readable events handled (atomic) */
    ncm_drop_report text_report;
    qv_list media;
    pf_mutex media_lock;
    uint64_t media_bytes, media_peak, media_dropped, media_unwanted;
    ncm_drop_report media_report;
    qv_list muted;        /* ids (uint32_t *) whose media nobody wants any more */
    ncm_driver_slot drivers[NCM_MAX_DRIVERS];
    int ndrivers;
    ncm_notify on_text;
    ncm_notify on_media;
    void *notify_user;
};

static void ncm_ticker(void *user, uint32_t now) { ncm_tick((qv_ncm *)user, now); }

qv_ncm *ncm_create(qv_skdr *d)
{
    qv_ncm *m = (qv_ncm *)calloc(1, sizeof *m);
    if (!m)
        return NULL;
    m->skdr = d;
    m->conns = qv_hmap_create(NCM_BUCKETS);
    m->text_use = qv_hmap_create(64);
    if (!m->conns || !m->text_use) {
        qv_hmap_free(m->conns);
        qv_hmap_free(m->text_use);
        free(m);
        return NULL;
    }
    pf_mutex_init(&m->lock);
    pf_mutex_init(&m->text_lock);
    pf_mutex_init(&m->media_lock);
    qv_list_init(&m->close_requests);
    qv_list_init(&m->texts);
    qv_list_init(&m->media);
    qv_list_init(&m->muted);
    ncm_register_driver(m, NP_NSPP, nspp_driver());
    ncm_register_driver(m, NP_NSPP_UPGRADE_KEY, nspp_upgrade_driver());
    ncm_register_driver(m, NP_RTSP, rtsp_driver());
    ncm_register_driver(m, NP_HTTP_FLV, flv_driver());
    ncm_register_driver(m, NP_NSPP_HTTP, nspp_http_driver());
    if (d && skdr_add_ticker(d, ncm_ticker, m) != 0) {
        ncm_free(m);
        return NULL;
    }
    return m;
}

qv_skdr *ncm_skdr(qv_ncm *m) { return m->skdr; }

void ncm_set_notify(qv_ncm *m, ncm_notify on_text, ncm_notify on_media, void *user)
{
    m->on_text = on_text;
    m->on_media = on_media;
    m->notify_user = user;
}

static uint64_t text_cost(const ncm_text *t) { return NCM_RECORD_COST + (t->text ? t->text->cap : 0); }

static uint64_t media_cost(const qv_obj *obj)
{
    const qv_tag_set *tags = qv_tags();
    uint64_t cost = NCM_RECORD_COST;
    if (obj && obj->type == tags->buf_md)
        cost += ((const qv_buf_md *)obj->payload)->buf.cap;
    else if (obj && obj->type == tags->buf)
        cost += ((const qv_buf *)obj->payload)->cap;
    return cost;
}

static qv_list_node *muted_node(qv_ncm *m, uint32_t id)
{
    qv_list_node *n;
    for (n = m->muted.head; n; n = n->next) {
        if (*(uint32_t *)n->value == id)
            return n;
    }
    return NULL;
}

static void conn_close_locked(qv_ncm *m, qv_hmap_entry *he)
{
    ncm_conn *c = (ncm_conn *)he->value;
    qv_list_node *n;
    /* The id may be used again: its media count once more. */
    pf_mutex_lock(&m->media_lock);
    if ((n = muted_node(m, c->id)) != NULL) {
        free(n->value);
        qv_list_unlink(&m->muted, n);
    }
    pf_mutex_unlock(&m->media_lock);
    /* A drop count with nothing queued would otherwise stay for good. */
    pf_mutex_lock(&m->text_lock);
    {
        qv_hmap_entry *e = qv_hmap_find(m->text_use, &c->id, sizeof c->id);
        if (e && ((ncm_text_use *)e->value)->bytes == 0) {
            free(e->value);
            qv_hmap_remove(m->text_use, e);
        }
    }
    pf_mutex_unlock(&m->text_lock);
    qv_sock_fail(c->sock, NCM_EV_CLOSED);
    if (m->skdr)
        skdr_close(m->skdr, c->id, 0);
    qv_hmap_remove(m->conns, he);
    c->ops.free(c->state);
    free(c);
}

static void text_free(void *p)
{
    ncm_text *t = (ncm_text *)p;
    qv_buf_free(t->text);
    free(t);
}

static void media_free(void *p)
{
    ncm_media *md = (ncm_media *)p;
    qv_obj_release(md->obj);
    free(md);
}

void ncm_free(qv_ncm *m)
{
    if (!m)
        return;
    if (m->skdr)
        skdr_remove_ticker(m->skdr, ncm_ticker, m);
    pf_mutex_lock(&m->lock);
    while (m->conns->head)
        conn_close_locked(m, m->conns->head);
    qv_list_clear(&m->close_requests, free);
    pf_mutex_unlock(&m->lock);
    pf_mutex_lock(&m->text_lock);
    qv_list_clear(&m->texts, text_free);
    while (m->text_use->head) {
        free(m->text_use->head->value);
        qv_hmap_remove(m->text_use, m->text_use->head);
    }
    pf_mutex_unlock(&m->text_lock);
    pf_mutex_lock(&m->media_lock);
    qv_list_clear(&m->media, media_free);
    qv_list_clear(&m->muted, free);
    pf_mutex_unlock(&m->media_lock);
    qv_hmap_free(m->text_use);
    qv_hmap_free(m->conns);
    pf_mutex_destroy(&m->lock);
    pf_mutex_destroy(&m->text_lock);
    pf_mutex_destroy(&m->media_lock);
    free(m);
}

int ncm_register_driver(qv_ncm *m, uint32_t key, const np_driver *ops)
{
    int i;
    for (i = 0; i < m->ndrivers; i++) {
        if (m->drivers[i].key == key) {
            m->drivers[i].ops = *ops;
            return 0;
        }
    }
    if (m->ndrivers >= NCM_MAX_DRIVERS)
        return 1;
    memset(&m->drivers[m->ndrivers], 0, sizeof m->drivers[0]);
    m->drivers[m->ndrivers].key = key;
    m->drivers[m->ndrivers].ops = *ops;
    m->ndrivers++;
    return 0;
}

static const np_driver *find_driver(qv_ncm *m, uint32_t key)
{
    int i;
    for (i = 0; i < m->ndrivers; i++) {
        const np_driver *o = &m->drivers[i].ops;
        if (m->drivers[i].key != key)
            continue;
        if (o->create && o->free && o->send_text && o->send_md && o->on_readable && o->on_writable && o->tick)
            return o;
        return NULL;
    }
    return NULL;
}

static int on_readable(void *user, void *ctx, uint32_t id, qv_socket_x *s, uint32_t now)
{
    ncm_conn *c = (ncm_conn *)ctx;
    qv_ncm *m = (qv_ncm *)user;
    __atomic_add_fetch(&m->reads, 1, __ATOMIC_SEQ_CST);
    return c->ops.on_readable(m, c, id, s, now);
}

uint64_t ncm_reads(qv_ncm *m) { return __atomic_load_n(&m->reads, __ATOMIC_SEQ_CST); }

static int on_writable(void *user, void *ctx, uint32_t id, qv_socket_x *s, uint32_t now)
{
    ncm_conn *c = (ncm_conn *)ctx;
    return c->ops.on_writable((qv_ncm *)user, c, id, s, now);
}

int ncm_attach(qv_ncm *m, uint32_t id, uint32_t key, qv_socket_x *s)
{
    const np_driver *ops = find_driver(m, key);
    ncm_conn *c;
    ncm_text *ev;
    qv_list_node *node;
    skdr_handlers h;
    if (!ops)
        return 256;
    pf_mutex_lock(&m->lock);
    if (qv_hmap_find(m->conns, &id, sizeof id)) {
        pf_mutex_unlock(&m->lock);
        return 7;
    }
    c = (ncm_conn *)calloc(1, sizeof *c);
    ev = (ncm_text *)calloc(1, sizeof *ev);
    if (!c || !ev) {
        free(c);
        free(ev);
        pf_mutex_unlock(&m->lock);
        return 2;
    }
    c->sock = s;
    c->id = id;
    c->key = key;
    c->ops = *ops;
    c->state = ops->create(m, id, s);
    if (!c->state || qv_hmap_insert(m->conns, &id, sizeof id, c) != 0) {
        if (c->state)
            ops->free(c->state);
        free(c);
        free(ev);
        pf_mutex_unlock(&m->lock);
        return 2;
    }
    ev->protocol = key;
    ev->id = id;
    ev->code = NCM_EV_CONNECT;
    h.on_readable = on_readable;
    h.on_writable = on_writable;
    h.user = m;
    h.ctx = c;
    /* The connect event is queued, but nobody can take it (or post behind
     * it) while the queue lock is held; it stays only once the socket has
     * joined its driver, so the command thread never hears of an id that has
     * no connection, and hears of it before any event of that connection. */
    pf_mutex_lock(&m->text_lock);
    node = qv_list_push(&m->texts, ev);
    if (!node || !m->skdr || skdr_add(m->skdr, id, 0, s, &h) != 0) {
        if (node)
            qv_list_unlink(&m->texts, node);
        pf_mutex_unlock(&m->text_lock);
        /* Without a socket driver nobody would ever close the socket. */
        qv_hmap_remove(m->conns, qv_hmap_find(m->conns, &id, sizeof id));
        ops->free(c->state);
        free(c);
        free(ev);
        pf_mutex_unlock(&m->lock);
        return 2;
    }
    m->text_bytes += text_cost(ev);
    if (m->text_bytes > m->text_peak)
        m->text_peak = m->text_bytes;
    pf_mutex_unlock(&m->text_lock);
    pf_mutex_unlock(&m->lock);
    if (m->on_text)
        m->on_text(m->notify_user);
    return 0;
}

int ncm_connect(qv_ncm *m, uint32_t id, uint32_t key, const char *ip, uint16_t port)
{
    qv_socket_x *s;
    int rc;
    if (!find_driver(m, key))
        return 256;
    s = qv_sock_open(1, 6);
    if (!s)
        return 2;
    if (s->ops->connect(s, ip, port) != 0) {
        qv_sock_release(s);
        return 2;
    }
    rc = ncm_attach(m, id, key, s);
    if (rc != 0)
        qv_sock_release(s);
    return rc;
}

int ncm_close(qv_ncm *m, uint32_t id)
{
    uint32_t *p = (uint32_t *)malloc(sizeof *p);
    if (!p)
        return 0;
    *p = id;
    pf_mutex_lock(&m->lock);
    if (!qv_list_push(&m->close_requests, p))
        free(p);
    pf_mutex_unlock(&m->lock);
    return 0;
}

int ncm_send_text(qv_ncm *m, uint32_t id, qv_buf *text)
{
    qv_hmap_entry *he;
    int rc = -1;
    pf_mutex_lock(&m->lock);
    he = qv_hmap_find(m->conns, &id, sizeof id);
    if (he) {
        ncm_conn *c = (ncm_conn *)he->value;
        rc = qv_sock_state(c->sock) == 0 ? c->ops.send_text(c->state, text) : -1;
    }
    pf_mutex_unlock(&m->lock);
    if (rc == 0 && m->skdr)
        skdr_wake(m->skdr);
    return rc;
}

int ncm_send_md(qv_ncm *m, uint32_t id, qv_list *blocks)
{
    qv_hmap_entry *he;
    int rc = -1;
    pf_mutex_lock(&m->lock);
    he = qv_hmap_find(m->conns, &id, sizeof id);
    if (he) {
        ncm_conn *c = (ncm_conn *)he->value;
        rc = c->ops.send_md(c->state, blocks);
    }
    pf_mutex_unlock(&m->lock);
    if (rc == 0 && m->skdr)
        skdr_wake(m->skdr);
    return rc;
}

/* One line now and then about records a queue had to drop; the queue's
 * lock is held. */
static void report_drops(ncm_drop_report *r, uint64_t n, const char *what, uint64_t limit)
{
    uint32_t now = pf_tick_ms();
    r->unreported += n;
    if (r->reported && pf_tick_diff(now, r->last) < NCM_DROP_REPORT_MS)
        return;
    fprintf(stderr, "trovix: %s beyond %llu bytes waiting: %llu dropped\n", what, (unsigned long long)limit,
            (unsigned long long)r->unreported);
    fflush(stderr);
    r->unreported = 0;
    r->last = now;
    r->reported = 1;
}

int ncm_take_text(qv_ncm *m, ncm_text *out)
{
    ncm_text *t;
    pf_mutex_lock(&m->text_lock);
    t = (ncm_text *)qv_list_pop(&m->texts);
    if (t) {
        uint64_t cost = text_cost(t);
        m->text_bytes -= cost;
        if (t->code == NCM_EV_TEXT) {
            qv_hmap_entry *e = qv_hmap_find(m->text_use, &t->id, sizeof t->id);
            ncm_text_use *use = e ? (ncm_text_use *)e->value : NULL;
            if (use && (use->bytes -= cost) == 0) {
                free(use);
                qv_hmap_remove(m->text_use, e);
            }
        }
    }
    pf_mutex_unlock(&m->text_lock);
    if (!t)
        return 1;
    *out = *t;
    free(t);
    return 0;
}

int ncm_take_media(qv_ncm *m, ncm_media *out)
{
    ncm_media *md;
    pf_mutex_lock(&m->media_lock);
    md = (ncm_media *)qv_list_pop(&m->media);
    if (md)
        m->media_bytes -= md->cost;
    pf_mutex_unlock(&m->media_lock);
    if (!md)
        return 1;
    *out = *md;
    free(md);
    return 0;
}

/* Whether one more text of a connection may wait: 0 yes, 1 no (dropped), or
 * NCM_EV_TOO_LARGE when the connection keeps sending texts faster than they
 * are taken. The text lock is held. */
static int admit_text(qv_ncm *m, uint32_t id, uint64_t cost, ncm_text_use **out)
{
    qv_hmap_entry *e = qv_hmap_find(m->text_use, &id, sizeof id);
    ncm_text_use *use = e ? (ncm_text_use *)e->value : NULL;
    if (!use) {
        use = (ncm_text_use *)calloc(1, sizeof *use);
        if (!use || qv_hmap_insert(m->text_use, &id, sizeof id, use) != 0) {
            free(use);
            return 1;
        }
    }
    *out = use;
    if (use->bytes + cost <= NCM_TEXT_QUEUE_MAX && m->text_bytes + cost <= NCM_TEXTS_MAX)
        return 0;
    m->texts_dropped++;
    report_drops(&m->text_report, 1, "texts", NCM_TEXT_QUEUE_MAX);
    return ++use->drops >= NCM_TEXT_FLOOD_DROPS ? NCM_EV_TOO_LARGE : 1;
}

static int push_text(qv_ncm *m, uint32_t protocol, uint32_t id, int code, qv_buf *text)
{
    ncm_text *t = (ncm_text *)malloc(sizeof *t);
    ncm_text_use *use = NULL;
    uint64_t cost;
    int rc;
    if (!t)
        return -1;
    t->protocol = protocol;
    t->id = id;
    t->code = code;
    t->text = text;
    t->read_no = ncm_reads(m);
    cost = text_cost(t);
    pf_mutex_lock(&m->text_lock);
    /* Events are few (one connect, one end) and always wait. */
    if (code == NCM_EV_TOO_LARGE) {
        qv_hmap_entry *e = qv_hmap_find(m->text_use, &id, sizeof id);
        if (e && ((ncm_text_use *)e->value)->drops >= NCM_TEXT_FLOOD_DROPS)
            m->floods_ended++;
    }
    if (code == NCM_EV_TEXT && (rc = admit_text(m, id, cost, &use)) != 0) {
        pf_mutex_unlock(&m->text_lock);
        free(t);
        return rc;
    }
    if (!qv_list_push(&m->texts, t)) {
        pf_mutex_unlock(&m->text_lock);
        free(t);
        return -1;
    }
    if (use)
        use->bytes += cost;
    m->text_bytes += cost;
    if (m->text_bytes > m->text_peak)
        m->text_peak = m->text_bytes;
    pf_mutex_unlock(&m->text_lock);
    if (m->on_text)
        m->on_text(m->notify_user);
    return 0;
}

int ncm_post_event(qv_ncm *m, uint32_t protocol, uint32_t id, int code)
{
    return push_text(m, protocol, id, code, NULL);
}

int ncm_post_text(qv_ncm *m, uint32_t protocol, uint32_t id, qv_buf *text)
{
    return push_text(m, protocol, id, NCM_EV_TEXT, text);
}

int ncm_post_media(qv_ncm *m, uint32_t protocol, uint32_t id, qv_obj *obj)
{
    ncm_media *md = (ncm_media *)malloc(sizeof *md);
    uint64_t dropped = 0;
    if (!md)
        return -1;
    md->protocol = protocol;
    md->id = id;
    md->obj = obj;
    md->cost = media_cost(obj);
    pf_mutex_lock(&m->media_lock);
    if (m->muted.head && muted_node(m, id)) {
        m->media_unwanted++;
        pf_mutex_unlock(&m->media_lock);
        free(md);
        return -1;
    }
    /* A reader that falls behind loses the oldest records, whole. */
    while (m->media.head && m->media_bytes + md->cost > NCM_MEDIA_QUEUE_MAX) {
        ncm_media *old = (ncm_media *)qv_list_pop(&m->media);
        m->media_bytes -= old->cost;
        media_free(old);
        dropped++;
    }
    if (dropped) {
        m->media_dropped += dropped;
        report_drops(&m->media_report, dropped, "media records", NCM_MEDIA_QUEUE_MAX);
    }
    if (!qv_list_push(&m->media, md)) {
        pf_mutex_unlock(&m->media_lock);
        free(md);
        return -1;
    }
    m->media_bytes += md->cost;
    if (m->media_bytes > m->media_peak)
        m->media_peak = m->media_bytes;
    pf_mutex_unlock(&m->media_lock);
    if (m->on_media)
        m->on_media(m->notify_user);
    return 0;
}

int ncm_mute_media(qv_ncm *m, uint32_t id)
{
    uint32_t *p;
    qv_list_node *n;
    int rc = -1;
    pf_mutex_lock(&m->lock);
    if (!qv_hmap_find(m->conns, &id, sizeof id)) {
        pf_mutex_unlock(&m->lock);
        return -1;
    }
    pf_mutex_lock(&m->media_lock);
    if (muted_node(m, id)) {
        rc = 0;
    } else if ((p = (uint32_t *)malloc(sizeof *p)) != NULL) {
        *p = id;
        if (qv_list_push(&m->muted, p))
            rc = 0;
        else
            free(p);
    }
    /* What the connection queued already goes too. */
    for (n = m->media.head; rc == 0 && n;) {
        qv_list_node *next = n->next;
        ncm_media *md = (ncm_media *)n->value;
        if (md->id == id) {
            m->media_bytes -= md->cost;
            qv_list_unlink(&m->media, n);
            media_free(md);
        }
        n = next;
    }
    pf_mutex_unlock(&m->media_lock);
    pf_mutex_unlock(&m->lock);
    return rc;
}

int ncm_media_muted(qv_ncm *m, uint32_t id)
{
    int muted;
    pf_mutex_lock(&m->media_lock);
    muted = muted_node(m, id) != NULL;
    pf_mutex_unlock(&m->media_lock);
    return muted;
}

void ncm_queue_stats(qv_ncm *m, ncm_queue_usage *out)
{
    pf_mutex_lock(&m->text_lock);
    out->text_bytes = m->text_bytes;
    out->text_peak = m->text_peak;
    out->texts_dropped = m->texts_dropped;
    out->floods_ended = m->floods_ended;
    pf_mutex_unlock(&m->text_lock);
    pf_mutex_lock(&m->media_lock);
    out->media_bytes = m->media_bytes;
    out->media_peak = m->media_peak;
    out->media_dropped = m->media_dropped;
    out->media_unwanted = m->media_unwanted;
    pf_mutex_unlock(&m->media_lock);
}

void ncm_tick(qv_ncm *m, uint32_t now)
{
    qv_hmap_entry *he;
    pf_mutex_lock(&m->lock);
    for (he = m->conns->head; he; he = he->next) {
        ncm_conn *c = (ncm_conn *)he->value;
        if (qv_sock_state(c->sock) != 0)
            continue;
        if (pf_tick_diff(now, c->sock->last_activity) > NCM_IDLE_MS) {
            qv_sock_fail(c->sock, NCM_EV_IDLE);
            ncm_post_event(m, c->key, c->id, NCM_EV_IDLE);
            continue;
        }
        c->ops.tick(c->state, now);
    }
    while (m->close_requests.head) {
        uint32_t *id = (uint32_t *)qv_list_pop(&m->close_requests);
        he = qv_hmap_find(m->conns, id, sizeof *id);
        if (he)
            conn_close_locked(m, he);
        free(id);
    }
    pf_mutex_unlock(&m->lock);
}

uint32_t ncm_connection_count(qv_ncm *m)
{
    uint32_t n;
    pf_mutex_lock(&m->lock);
    n = m->conns->count;
    pf_mutex_unlock(&m->lock);
    return n;
}

uint32_t ncm_connection_ids(qv_ncm *m, uint32_t **ids)
{
    uint32_t n = 0;
    qv_hmap_entry *he;
    pf_mutex_lock(&m->lock);
    *ids = (uint32_t *)calloc(m->conns->count + 1, sizeof **ids);
    if (*ids) {
        for (he = m->conns->head; he; he = he->next)
            (*ids)[n++] = ((ncm_conn *)he->value)->id;
    }
    pf_mutex_unlock(&m->lock);
    return n;
}

uint32_t ncm_pending_closes(qv_ncm *m)
{
    uint32_t n;
    pf_mutex_lock(&m->lock);
    n = m->close_requests.count;
    pf_mutex_unlock(&m->lock);
    return n;
}

int ncm_output_pending(qv_ncm *m)
{
    int pending = 0;
    qv_hmap_entry *he;
    pf_mutex_lock(&m->lock);
    for (he = m->conns->head; he; he = he->next) {
        ncm_conn *c = (ncm_conn *)he->value;
        if (qv_sock_state(c->sock) == 0 && qv_sock_pending(c->sock))
            pending = 1;
    }
    pf_mutex_unlock(&m->lock);
    return pending;
}
