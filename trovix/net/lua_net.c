/*
 * Lua modules over the socket layer: qv_net_x (the registry of named
 * socket-driver handles), qv_skdr_x (the handles) and qv_ncm_x (connection
 * managers on a socket driver).
 */
#include "clua.h"
#include "qv_net.h"
#include "qv_net_lua.h"

#include <stdlib.h>
#include <string.h>

/* One handle type for both kinds of object. A connection manager that a
 * script makes sits on a socket driver that the script's Lua state owns: the
 * driver's handle lists its managers and ends them before the driver goes,
 * whichever of qv_sys.free, qv_net_x.quit or closing the state comes first,
 * so no manager outlives its driver or keeps its name past its state. */
typedef struct net_handle {
    char name[65];
    int running;
    qv_skdr *skdr;
    qv_ncm *ncm;
    int owns_ncm;
    qv_hmap *owner;            /* registry that lists a socket-driver handle */
    struct net_handle *driver; /* a script's manager: the handle of its driver */
    qv_list managers;          /* a socket-driver handle: managers made on it */
} net_handle;

#define NET_REGISTRY "qv_net_x.registry"

/* ---- connection-manager objects (process-wide by name) ---- */
static pf_mutex g_ncm_lock;
static qv_hmap *g_ncm_map;
static pthread_once_t g_ncm_once = PTHREAD_ONCE_INIT;

static void ncm_map_init(void)
{
    pf_mutex_init(&g_ncm_lock);
    g_ncm_map = qv_hmap_create(64);
}

static void ncm_unname(qv_obj *obj)
{
    net_handle *h = (net_handle *)obj->payload;
    qv_hmap_entry *e;
    pthread_once(&g_ncm_once, ncm_map_init);
    pf_mutex_lock(&g_ncm_lock);
    e = g_ncm_map ? qv_hmap_find(g_ncm_map, h->name, (uint32_t)strlen(h->name)) : NULL;
    if (e && e->value == obj)
        qv_hmap_remove(g_ncm_map, e);
    pf_mutex_unlock(&g_ncm_lock);
}

/* Ends a manager whose driver's thread is not running. */
static void ncm_obj_end(qv_obj *obj)
{
    net_handle *h = (net_handle *)obj->payload;
    qv_live_remove(obj);
    ncm_unname(obj);
    if (h->owns_ncm)
        ncm_free(h->ncm);
    free(h);
    free(obj);
}

static void ncm_obj_release(qv_obj *obj)
{
    net_handle *h = (net_handle *)obj->payload;
    net_handle *d = h->driver;
    qv_list_node *n;
    int was_running;
    if (!d) {
        ncm_obj_end(obj);
        return;
    }
    for (n = d->managers.head; n; n = n->next) {
        if (n->value == obj) {
            qv_list_unlink(&d->managers, n);
            break;
        }
    }
    /* Handlers of its connections run on the driver's thread: hold the
     * thread while the manager goes. */
    was_running = skdr_running(d->skdr);
    skdr_stop(d->skdr);
    ncm_obj_end(obj);
    if (was_running)
        skdr_start(d->skdr);
}

/* A lent manager belongs to the library: a script that frees it only loses
 * its handle; the owner ends it with qv_ncm_x_unwrap. */
static void ncm_obj_release_lent(qv_obj *obj) { (void)obj; }

static qv_obj *ncm_obj_new(const char *name, net_handle *driver, qv_ncm *ncm, int owns)
{
    const qv_tag_set *t = qv_tags();
    qv_obj *obj = (qv_obj *)malloc(sizeof *obj);
    net_handle *h = (net_handle *)calloc(1, sizeof *h);
    pthread_once(&g_ncm_once, ncm_map_init);
    if (!obj || !h) {
        free(obj);
        free(h);
        return NULL;
    }
    qv_strlcpy(h->name, name, sizeof h->name);
    h->skdr = ncm_skdr(ncm);
    h->ncm = ncm;
    h->owns_ncm = owns;
    h->driver = driver;
    qv_obj_init(obj, t->net_x, t->ncm_x, 0, owns ? ncm_obj_release : ncm_obj_release_lent, h);
    pf_mutex_lock(&g_ncm_lock);
    if (!g_ncm_map || qv_hmap_insert(g_ncm_map, h->name, (uint32_t)strlen(h->name), obj) != 0) {
        pf_mutex_unlock(&g_ncm_lock);
        free(h);
        free(obj);
        return NULL;
    }
    pf_mutex_unlock(&g_ncm_lock);
    if (driver && !qv_list_push(&driver->managers, obj)) {
        ncm_unname(obj);
        free(h);
        free(obj);
        return NULL;
    }
    return obj;
}

qv_obj *qv_ncm_x_wrap(const char *name, qv_ncm *m) { return ncm_obj_new(name, NULL, m, 0); }

void qv_ncm_x_unwrap(qv_obj *obj)
{
    if (obj)
        ncm_obj_end(obj);
}

static net_handle *check_ncm(lua_State *L, int idx)
{
    const qv_tag_set *t = qv_tags();
    return (net_handle *)clua_check_obj(L, idx, "qv_net_x", t->net_x, t->ncm_x, 0, "qv_ncm_x")->payload;
}

static int lncm_create(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    const char *name = luaL_checkstring(L, 1);
    net_handle *d = (net_handle *)clua_check_obj(L, 2, "qv_net_x", t->net_x, t->skdr_x, 0, "qv_skdr_x")->payload;
    qv_ncm *m = ncm_create(d->skdr);
    qv_obj *obj = m ? ncm_obj_new(name, d, m, 1) : NULL;
    if (!obj) {
        ncm_free(m);
        lua_pushnil(L);
        return 1;
    }
    clua_push_obj(L, obj);
    return 1;
}

static int lncm_get(lua_State *L)
{
    char name[65];
    qv_hmap_entry *e;
    qv_strlcpy(name, luaL_checkstring(L, 1), sizeof name);
    pthread_once(&g_ncm_once, ncm_map_init);
    pf_mutex_lock(&g_ncm_lock);
    e = g_ncm_map ? qv_hmap_find(g_ncm_map, name, (uint32_t)strlen(name)) : NULL;
    pf_mutex_unlock(&g_ncm_lock);
    if (e)
        clua_push_obj(L, (qv_obj *)e->value);
    else
        lua_pushnil(L);
    return 1;
}

static int lncm_connect(lua_State *L)
{
    net_handle *h = check_ncm(L, 1);
    lua_Integer id = luaL_checkinteger(L, 2);
    lua_Integer main = luaL_checkinteger(L, 3);
    lua_Integer sub = luaL_checkinteger(L, 4);
    const char *ip = luaL_checkstring(L, 5);
    lua_Integer port = luaL_checkinteger(L, 6);
    int ok = port > 0 && port <= 65535 &&
             ncm_connect(h->ncm, (uint32_t)id, NP_KEY(main & 0xFFFF, sub & 0xFFFF), ip, (uint16_t)port) == 0;
    lua_pushboolean(L, ok);
    return 1;
}

static int lncm_close(lua_State *L)
{
    net_handle *h = check_ncm(L, 1);
    ncm_close(h->ncm, (uint32_t)luaL_checkinteger(L, 2));
    lua_pushboolean(L, 1);
    return 1;
}

static int lncm_send(lua_State *L)
{
    net_handle *h = check_ncm(L, 1);
    lua_Integer id = luaL_checkinteger(L, 2);
    size_t len = 0;
    const char *text = luaL_checklstring(L, 3, &len);
    qv_buf *buf;
    if (len == 0 || len > 0xFFFFFFu || !(buf = qv_buf_new((uint32_t)len))) {
        lua_pushboolean(L, 0);
        return 1;
    }
    memcpy(buf->data, text, len);
    buf->end = (uint32_t)len;
    if (ncm_send_text(h->ncm, (uint32_t)id, buf) != 0) {
        qv_buf_free(buf);
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushboolean(L, 1);
    return 1;
}

static int lncm_recv(lua_State *L)
{
    net_handle *h = check_ncm(L, 1);
    ncm_text t;
    if (ncm_take_text(h->ncm, &t) != 0) {
        lua_pushboolean(L, 0);
        lua_pushinteger(L, 0);
        lua_pushstring(L, "");
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        return 6;
    }
    lua_pushboolean(L, 1);
    lua_pushinteger(L, t.code);
    if (t.code == 0 && t.text)
        lua_pushlstring(L, (const char *)t.text->data + t.text->start, qv_buf_size(t.text));
    else
        lua_pushstring(L, "");
    lua_pushinteger(L, t.id);
    lua_pushinteger(L, t.protocol & 0xFFFF);
    lua_pushinteger(L, t.protocol >> 16);
    qv_buf_free(t.text);
    return 6;
}

static int lncm_send_md(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    net_handle *h = check_ncm(L, 1);
    lua_Integer id = luaL_checkinteger(L, 2);
    qv_obj *block = clua_check_obj(L, 3, "qv_ncm_x", t->buf, t->buf, t->buf, "qv_buf");
    qv_list list;
    int rc;
    qv_list_init(&list);
    /* The driver takes the block; it is no longer the script's. */
    qv_live_remove(block);
    qv_list_push(&list, block);
    rc = ncm_send_md(h->ncm, (uint32_t)id, &list);
    while (list.head)
        qv_obj_release((qv_obj *)qv_list_pop(&list));
    lua_pushboolean(L, rc == 0);
    return 1;
}

static int lncm_recv_md(lua_State *L)
{
    net_handle *h = check_ncm(L, 1);
    ncm_media m;
    if (ncm_take_media(h->ncm, &m) != 0) {
        lua_pushnil(L);
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        lua_pushinteger(L, 0);
        return 4;
    }
    clua_push_obj(L, m.obj);
    lua_pushinteger(L, m.id);
    lua_pushinteger(L, m.protocol & 0xFFFF);
    lua_pushinteger(L, m.protocol >> 16);
    return 4;
}

int luaopen_qv_ncm_x(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "create", lncm_create }, { "get", lncm_get }, { "connect", lncm_connect }, { "close", lncm_close },
        { "send", lncm_send }, { "recv", lncm_recv }, { "send_md", lncm_send_md }, { "recv_md", lncm_recv_md },
        { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}

/* ---- socket-driver handles, registered per Lua state ---- */
typedef struct net_registry {
    qv_hmap *map;
} net_registry;

static void skdr_obj_release(qv_obj *obj)
{
    net_handle *h = (net_handle *)obj->payload;
    if (h->owner) {
        qv_hmap_entry *e = qv_hmap_find(h->owner, h->name, (uint32_t)strlen(h->name));
        if (e && e->value == obj)
            qv_hmap_remove(h->owner, e);
    }
    skdr_stop(h->skdr);
    /* Its managers first: they hold the driver. */
    while (h->managers.head)
        ncm_obj_end((qv_obj *)qv_list_pop(&h->managers));
    skdr_free(h->skdr);
    free(h);
    free(obj);
}

static int registry_gc(lua_State *L);

static net_registry *registry(lua_State *L, int create)
{
    net_registry *r;
    lua_getfield(L, LUA_REGISTRYINDEX, NET_REGISTRY);
    r = (net_registry *)lua_touserdata(L, -1);
    lua_pop(L, 1);
    if (r && r->map)
        return r;
    if (!create)
        return NULL;
    if (!r) {
        /* A full userdata, so closing the state releases every handle. */
        r = (net_registry *)lua_newuserdata(L, sizeof *r);
        r->map = NULL;
        lua_newtable(L);
        lua_pushcfunction(L, registry_gc);
        lua_setfield(L, -2, "__gc");
        lua_setmetatable(L, -2);
        lua_setfield(L, LUA_REGISTRYINDEX, NET_REGISTRY);
    }
    r->map = qv_hmap_create(1000);
    return r->map ? r : NULL;
}

static void registry_release_all(net_registry *r)
{
    if (!r || !r->map)
        return;
    /* Last registered first. */
    while (r->map->tail) {
        qv_hmap_entry *e = r->map->tail;
        qv_obj *obj = (qv_obj *)e->value;
        ((net_handle *)obj->payload)->owner = NULL;
        qv_hmap_remove(r->map, e);
        qv_obj_release(obj);
    }
    qv_hmap_free(r->map);
    r->map = NULL;
}

static int registry_gc(lua_State *L)
{
    registry_release_all((net_registry *)lua_touserdata(L, 1));
    return 0;
}

static int lnet_init(lua_State *L)
{
    registry(L, 1);
    lua_pushinteger(L, 0);
    return 1;
}

static int lnet_quit(lua_State *L)
{
    registry_release_all(registry(L, 0));
    lua_pushinteger(L, 0);
    return 1;
}

static int lnet_start(lua_State *L)
{
    net_registry *r = registry(L, 0);
    qv_hmap_entry *e;
    for (e = r ? r->map->head : NULL; e; e = e->next) {
        net_handle *h = (net_handle *)((qv_obj *)e->value)->payload;
        if (!h->running && skdr_start(h->skdr) == 0)
            h->running = 1;
    }
    lua_pushinteger(L, 0);
    return 1;
}

static int lnet_stop(lua_State *L)
{
    net_registry *r = registry(L, 0);
    qv_hmap_entry *e;
    for (e = r ? r->map->head : NULL; e; e = e->next) {
        net_handle *h = (net_handle *)((qv_obj *)e->value)->payload;
        if (h->running) {
            skdr_stop(h->skdr);
            h->running = 0;
        }
    }
    lua_pushinteger(L, 0);
    return 1;
}

int luaopen_qv_net_x(lua_State *L)
{
    static const luaL_Reg fns[] = {
        { "init", lnet_init }, { "quit", lnet_quit }, { "start", lnet_start }, { "stop", lnet_stop }, { NULL, NULL }
    };
    luaL_newlib(L, fns);
    return 1;
}

static int lskdr_create(lua_State *L)
{
    const qv_tag_set *t = qv_tags();
    net_registry *r;
    net_handle *h;
    qv_obj *obj;
    char name[65];
    qv_strlcpy(name, luaL_checkstring(L, 1), sizeof name);
    r = registry(L, 1);
    if (!r || qv_hmap_find(r->map, name, (uint32_t)strlen(name))) {
        lua_pushnil(L);
        return 1;
    }
    obj = (qv_obj *)malloc(sizeof *obj);
    h = (net_handle *)calloc(1, sizeof *h);
    if (h)
        h->skdr = skdr_create();
    if (!obj || !h || !h->skdr) {
        if (h)
            skdr_free(h->skdr);
        free(h);
        free(obj);
        lua_pushnil(L);
        return 1;
    }
    qv_strlcpy(h->name, name, sizeof h->name);
    qv_obj_init(obj, t->net_x, t->skdr_x, 0, skdr_obj_release, h);
    if (qv_hmap_insert(r->map, name, (uint32_t)strlen(name), obj) != 0) {
        qv_obj_release(obj);
        lua_pushnil(L);
        return 1;
    }
    h->owner = r->map;
    clua_push_obj(L, obj);
    return 1;
}

static int lskdr_get(lua_State *L)
{
    net_registry *r = registry(L, 0);
    char name[65];
    qv_hmap_entry *e;
    qv_strlcpy(name, luaL_checkstring(L, 1), sizeof name);
    e = r ? qv_hmap_find(r->map, name, (uint32_t)strlen(name)) : NULL;
    if (e)
        clua_push_obj(L, (qv_obj *)e->value);
    else
        lua_pushnil(L);
    return 1;
}

int luaopen_qv_skdr_x(lua_State *L)
{
    static const luaL_Reg fns[] = { { "create", lskdr_create }, { "get", lskdr_get }, { NULL, NULL } };
    luaL_newlib(L, fns);
    return 1;
}
