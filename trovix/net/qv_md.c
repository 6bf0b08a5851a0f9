/*
 * Media objects: a media record (qv_buf_md) shared by an atomic reference
 * count, and the qv_obj wrappers that carry one reference each through the
 * queues.
 */
#include "qv_net.h"

#include <stdlib.h>
#include <string.h>

void media_head_parse(const uint8_t raw[MEDIA_HEAD_SIZE], media_head *out)
{
    out->tag = qv_rd16(raw);
    out->media_type = raw[2];
    out->frame_kind = raw[3];
    out->payload_len = qv_rd32(raw + 4);
    out->pts_us = (uint64_t)qv_rd32(raw + 16) | (uint64_t)qv_rd32(raw + 20) << 32;
    out->key1 = qv_rd16(raw + 24);
    out->key2 = qv_rd16(raw + 26);
}

void media_head_build(uint8_t raw[MEDIA_HEAD_SIZE], const media_head *head)
{
    memset(raw, 0, MEDIA_HEAD_SIZE);
    qv_wr16(raw, head->tag);
    raw[2] = head->media_type;
    raw[3] = head->frame_kind;
    qv_wr32(raw + 4, head->payload_len);
    qv_wr32(raw + 16, (uint32_t)head->pts_us);
    qv_wr32(raw + 20, (uint32_t)(head->pts_us >> 32));
    qv_wr16(raw + 24, head->key1);
    qv_wr16(raw + 26, head->key2);
}

int32_t qv_md_ref(qv_buf_md *md)
{
    if (!md)
        return 0;
    return __atomic_add_fetch(md->refs, 1, __ATOMIC_ACQ_REL);
}

int32_t qv_md_unref(qv_buf_md *md)
{
    int32_t n;
    if (!md)
        return 0;
    n = __atomic_sub_fetch(md->refs, 1, __ATOMIC_ACQ_REL);
    if (n == 0) {
        free(md->refs);
        free(md->buf.data);
        free(md);
    }
    return n;
}

static void md_obj_release(qv_obj *obj)
{
    qv_md_unref((qv_buf_md *)obj->payload);
    free(obj);
}

qv_obj *qv_md_obj_wrap(qv_buf_md *md)
{
    const qv_tag_set *t = qv_tags();
    qv_obj *obj = (qv_obj *)malloc(sizeof *obj);
    if (!obj)
        return NULL;
    qv_md_ref(md);
    qv_obj_init(obj, t->buf, t->buf, t->buf_md, md_obj_release, md);
    return obj;
}

qv_obj *qv_md_obj_new(qv_buf *buf)
{
    const qv_tag_set *t = qv_tags();
    qv_buf_md *md;
    qv_obj *obj;
    if (!buf || buf->end < MEDIA_HEAD_SIZE)
        return NULL;
    md = (qv_buf_md *)calloc(1, sizeof *md);
    obj = (qv_obj *)malloc(sizeof *obj);
    if (md)
        md->refs = (int32_t *)malloc(sizeof *md->refs);
    if (!md || !obj || !md->refs) {
        if (md)
            free(md->refs);
        free(md);
        free(obj);
        return NULL;
    }
    *md->refs = 1;
    md->flag = 1;
    media_head_parse(buf->data, &md->head);
    md->buf.data = buf->data;
    md->buf.cap = buf->cap;
    md->buf.start = MEDIA_HEAD_SIZE;
    md->buf.end = buf->end;
    free(buf); /* the bytes now belong to the record */
    qv_obj_init(obj, t->buf, t->buf, t->buf_md, md_obj_release, md);
    return obj;
}
