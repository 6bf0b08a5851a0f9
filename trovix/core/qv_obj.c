/*
 * Byte buffers, the object header and the registry of objects that Lua
 * states hold.
 *
 * Scripts get objects as light userdata, so Lua can't tell a freed object from
 * a live one. Every object pushed to a script is registered here and removed
 * when released; argument checks refuse pointers that are not registered.
 */
#include "qv_core.h"

#include <stdlib.h>
#include <string.h>

qv_buf *qv_buf_new(uint32_t cap)
{
    qv_buf *buf = (qv_buf *)calloc(1, sizeof *buf);
    if (!buf)
        return NULL;
    if (cap) {
        buf->data = (uint8_t *)malloc(cap);
        if (!buf->data) {
            free(buf);
            return NULL;
        }
        buf->cap = cap;
    }
    return buf;
}

void qv_buf_free(qv_buf *buf)
{
    if (!buf)
        return;
    free(buf->data);
    free(buf);
}

int qv_buf_reserve(qv_buf *buf, uint32_t extra)
{
    uint64_t need = (uint64_t)buf->end + extra;
    uint64_t cap = buf->cap ? buf->cap : 64;
    uint8_t *data;
    if (need <= buf->cap)
        return 0;
    if (need > 0x7FFFFFFFu)
        return -1;
    while (cap < need)
        cap *= 2;
    if (cap > 0x7FFFFFFFu)
        cap = need;
    data = (uint8_t *)realloc(buf->data, (size_t)cap);
    if (!data)
        return -1;
    buf->data = data;
    buf->cap = (uint32_t)cap;
    return 0;
}

int qv_buf_append(qv_buf *buf, const void *data, uint32_t len)
{
    if (len == 0)
        return 0;
    if (qv_buf_reserve(buf, len) != 0)
        return -1;
    memcpy(buf->data + buf->end, data, len);
    buf->end += len;
    return 0;
}

void qv_obj_init(qv_obj *obj, uint32_t family, uint32_t klass, uint32_t type, qv_release_fn release, void *payload)
{
    obj->root = qv_tags()->obj;
    obj->family = family;
    obj->klass = klass;
    obj->type = type;
    obj->release = release;
    obj->payload = payload;
    obj->exposed = 0;
}

/* ---- live registry ---- */
static pf_mutex g_live_lock;
static qv_hmap *g_live;
static pthread_once_t g_live_once = PTHREAD_ONCE_INIT;

static void live_init(void)
{
    pf_mutex_init(&g_live_lock);
    g_live = qv_hmap_create(4096);
}

void qv_live_add(qv_obj *obj)
{
    pthread_once(&g_live_once, live_init);
    pf_mutex_lock(&g_live_lock);
    if (!obj->exposed && g_live && qv_hmap_insert(g_live, &obj, sizeof obj, obj) == 0)
        obj->exposed = 1;
    pf_mutex_unlock(&g_live_lock);
}

void qv_live_remove(qv_obj *obj)
{
    qv_hmap_entry *e;
    if (!obj->exposed)
        return;
    pthread_once(&g_live_once, live_init);
    pf_mutex_lock(&g_live_lock);
    e = g_live ? qv_hmap_find(g_live, &obj, sizeof obj) : NULL;
    if (e)
        qv_hmap_remove(g_live, e);
    obj->exposed = 0;
    pf_mutex_unlock(&g_live_lock);
}

int qv_live_contains(const void *ptr)
{
    int found;
    pthread_once(&g_live_once, live_init);
    pf_mutex_lock(&g_live_lock);
    found = g_live && qv_hmap_find(g_live, &ptr, sizeof ptr) != NULL;
    pf_mutex_unlock(&g_live_lock);
    return found;
}

void qv_obj_release(qv_obj *obj)
{
    if (!obj)
        return;
    qv_live_remove(obj);
    if (obj->release)
        obj->release(obj);
}

static void buf_obj_release(qv_obj *obj)
{
    qv_buf_free((qv_buf *)obj->payload);
    free(obj);
}

qv_obj *qv_obj_buf_new(qv_buf *buf)
{
    const qv_tag_set *t = qv_tags();
    qv_obj *obj = (qv_obj *)malloc(sizeof *obj);
    if (!obj)
        return NULL;
    qv_obj_init(obj, t->buf, t->buf, t->buf, buf_obj_release, buf);
    return obj;
}
