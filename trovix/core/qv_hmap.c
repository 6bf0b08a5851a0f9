/*
 * Hash map keyed by byte strings of any length.
 *
 * Entries keep their insertion order in a list; a fixed bucket table of
 * chains sorted by H2 finds them. Look-ups compare the key bytes, not only
 * H2, so two keys whose hashes collide stay two keys.
 */
#include "qv_core.h"

#include <stdlib.h>
#include <string.h>

qv_hmap *qv_hmap_create(uint32_t nbuckets)
{
    qv_hmap *map;
    if (nbuckets == 0)
        nbuckets = 1;
    map = (qv_hmap *)calloc(1, sizeof *map);
    if (!map)
        return NULL;
    map->buckets = (qv_hmap_chain **)calloc(nbuckets, sizeof *map->buckets);
    if (!map->buckets) {
        free(map);
        return NULL;
    }
    map->nbuckets = nbuckets;
    return map;
}

uint32_t qv_hmap_bucket(const qv_hmap *map, const void *key, uint32_t len)
{
    return (2u * qv_h1(key, len)) % map->nbuckets;
}

static int same_key(const qv_hmap_entry *e, uint32_t h2, const void *key, uint32_t len)
{
    return e->h2 == h2 && e->key_len == len && (len == 0 || memcmp(e->key, key, len) == 0);
}

qv_hmap_entry *qv_hmap_find(const qv_hmap *map, const void *key, uint32_t len)
{
    uint32_t h2 = qv_h2(key, len);
    const qv_hmap_chain *c = map->buckets[qv_hmap_bucket(map, key, len)];
    for (; c && c->h2 <= h2; c = c->next) {
        if (same_key(c->entry, h2, key, len))
            return c->entry;
    }
    return NULL;
}

int qv_hmap_insert(qv_hmap *map, const void *key, uint32_t len, void *value)
{
    uint32_t h2 = qv_h2(key, len);
    qv_hmap_chain **link = &map->buckets[qv_hmap_bucket(map, key, len)];
    qv_hmap_chain *node;
    qv_hmap_entry *e;

    if (map->count == UINT32_MAX)
        return -1;
    /* Chains are sorted by H2 ascending; equal hashes sit side by side. */
    while (*link && (*link)->h2 < h2)
        link = &(*link)->next;
    for (node = *link; node && node->h2 == h2; node = node->next) {
        if (same_key(node->entry, h2, key, len))
            return -1;
    }
    e = (qv_hmap_entry *)calloc(1, sizeof *e);
    node = (qv_hmap_chain *)malloc(sizeof *node);
    if (e)
        e->key = (char *)malloc((size_t)len + 1);
    if (!e || !node || !e->key) {
        if (e)
            free(e->key);
        free(e);
        free(node);
        return -1;
    }
    if (len)
        memcpy(e->key, key, len);
    e->key[len] = 0;
    e->key_len = len;
    e->h2 = h2;
    e->value = value;
    node->h2 = h2;
    node->entry = e;
    node->next = *link;
    *link = node;

    e->prev = map->tail;
    if (map->tail)
        map->tail->next = e;
    else
        map->head = e;
    map->tail = e;
    map->count++;
    return 0;
}

void qv_hmap_remove(qv_hmap *map, qv_hmap_entry *entry)
{
    qv_hmap_chain **link = &map->buckets[qv_hmap_bucket(map, entry->key, entry->key_len)];
    while (*link && (*link)->entry != entry)
        link = &(*link)->next;
    if (*link) {
        qv_hmap_chain *dead = *link;
        *link = dead->next;
        free(dead);
    }
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        map->head = entry->next;
    if (entry->next)
        entry->next->prev = entry->prev;
    else
        map->tail = entry->prev;
    map->count--;
    free(entry->key);
    free(entry);
}

void qv_hmap_free(qv_hmap *map)
{
    uint32_t i;
    qv_hmap_entry *e;
    if (!map)
        return;
    for (i = 0; i < map->nbuckets; i++) {
        qv_hmap_chain *c = map->buckets[i];
        while (c) {
            qv_hmap_chain *next = c->next;
            free(c);
            c = next;
        }
    }
    e = map->head;
    while (e) {
        qv_hmap_entry *next = e->next;
        free(e->key);
        free(e);
        e = next;
    }
    free(map->buckets);
    free(map);
}
