/*
 * Tagged values, the thread starter and small text helpers.
 */
#include "qv_core.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void qv_value_clear(qv_value *value)
{
    int type = qv_value_type(value);
    if (type == QV_VAL_TEXT)
        free(value->v.text);
    else if (type == QV_VAL_BYTES)
        free(value->v.bytes);
    value->tl = 0;
    value->v.p = NULL;
}

void qv_value_set_text(qv_value *value, const char *text)
{
    size_t len = text ? strlen(text) : 0;
    char *copy;
    if (len > 0xFFFFFFu)
        len = 0xFFFFFFu;
    copy = (char *)malloc(len + 4);
    qv_value_clear(value);
    if (!copy)
        return;
    if (len)
        memcpy(copy, text, len);
    copy[len] = 0;
    value->tl = QV_VAL_TEXT | (uint32_t)len << 8;
    value->v.text = copy;
}

void qv_value_set_ptr(qv_value *value, void *ptr)
{
    qv_value_clear(value);
    value->tl = QV_VAL_PTR;
    value->v.p = ptr;
}

int qv_value_copy(qv_value *dst, const qv_value *src)
{
    int type = qv_value_type(src);
    uint32_t len = qv_value_len(src);
    if (dst == src)
        return 0;
    if (type == QV_VAL_TEXT) {
        qv_value_set_text(dst, src->v.text);
        return dst->v.text ? 0 : -1;
    }
    qv_value_clear(dst);
    if (type == QV_VAL_BYTES) {
        dst->tl = src->tl;
        dst->v.bytes = NULL;
        if (len && src->v.bytes) {
            dst->v.bytes = (uint8_t *)malloc(len);
            if (!dst->v.bytes) {
                dst->tl = 0;
                return -1;
            }
            memcpy(dst->v.bytes, src->v.bytes, len);
        }
        return 0;
    }
    *dst = *src;
    return 0;
}

static void *thread_main(void *arg)
{
    qv_thread *t = (qv_thread *)arg;
    t->fn(t->data, t->run);
    return NULL;
}

qv_thread *qv_thread_start(qv_thread_fn fn, void *data, volatile int *run, const char *name)
{
    qv_thread *t = (qv_thread *)calloc(1, sizeof *t);
    if (!t)
        return NULL;
    t->fn = fn;
    t->data = data;
    t->run = run;
    qv_strlcpy(t->name, name ? name : "", sizeof t->name);
    __atomic_store_n(run, 1, __ATOMIC_RELEASE);
    if (pf_thread_start(&t->thread, thread_main, t) != 0) {
        __atomic_store_n(run, 0, __ATOMIC_RELEASE);
        free(t);
        return NULL;
    }
    return t;
}

void qv_thread_stop(qv_thread *thread)
{
    if (!thread)
        return;
    __atomic_store_n(thread->run, 0, __ATOMIC_RELEASE);
    pf_thread_join(&thread->thread);
    free(thread);
}

const uint8_t *qv_memfind(const void *data, size_t len, const void *pattern, size_t plen)
{
    const uint8_t *p = (const uint8_t *)data;
    size_t i;
    if (plen == 0 || len < plen)
        return NULL;
    for (i = 0; i + plen <= len; i++) {
        if (p[i] == *(const uint8_t *)pattern && memcmp(p + i, pattern, plen) == 0)
            return p + i;
    }
    return NULL;
}

void qv_strlcpy(char *dst, const char *src, size_t size)
{
    size_t n = 0;
    if (size == 0)
        return;
    if (src) {
        while (n + 1 < size && src[n]) {
            dst[n] = src[n];
            n++;
        }
    }
    dst[n] = 0;
}

int qv_snprintf(char *buf, size_t size, const char *fmt, ...)
{
    va_list ap;
    int n;
    va_start(ap, fmt);
    n = vsnprintf(buf, size, fmt, ap);
    va_end(ap);
    if (n < 0 || (size_t)n >= size)
        return -1;
    return n;
}

int qv_strieq(const char *a, const char *b)
{
    if (!a || !b)
        return 0;
    while (*a && *b) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return 0;
        a++;
        b++;
    }
    return *a == *b;
}
