/*
 * String hashes: H1 gives the type tags and the discovery frame checks, H2
 * orders the chains of the hash map.
 */
#include "qv_core.h"

#include <pthread.h>
#include <string.h>

uint32_t qv_h1(const void *data, size_t len)
{
    const int8_t *p = (const int8_t *)data;
    uint32_t a = 312737325u;
    uint32_t h = 934013177u;
    size_t i;
    for (i = 0; i < len; i++) {
        uint32_t t = ((uint32_t)(int32_t)p[i] * 7152373u) ^ a;
        t += h;
        h = a;
        a = (int32_t)t >= 0 ? t : t - 2147483647u;
    }
    return a;
}

uint32_t qv_h1_str(const char *text) { return qv_h1(text, text ? strlen(text) : 0); }

uint32_t qv_tag(const char *name) { return 2u * qv_h1_str(name); }

uint32_t qv_h2(const void *data, size_t len)
{
    const int8_t *p = (const int8_t *)data;
    uint32_t h = 1315423911u;
    size_t i;
    for (i = 0; i < len; i++)
        h ^= (h << 5) + (h >> 2) + (uint32_t)(int32_t)p[i];
    return h;
}

static qv_tag_set g_tags;
static pthread_once_t g_tags_once = PTHREAD_ONCE_INIT;

static void tags_init(void)
{
    g_tags.obj = qv_tag("qv_obj");
    g_tags.buf = qv_tag("qv_buf");
    g_tags.buf_md = qv_tag("qv_buf_md");
    g_tags.buf_mp = qv_tag("qv_buf_mp");
    g_tags.com = qv_tag("qv_com");
    g_tags.file = qv_tag("qv_file");
    g_tags.net_x = qv_tag("qv_net_x");
    g_tags.skdr_x = qv_tag("qv_skdr_x");
    g_tags.ncm_x = qv_tag("qv_ncm_x");
}

const qv_tag_set *qv_tags(void)
{
    pthread_once(&g_tags_once, tags_init);
    return &g_tags;
}
