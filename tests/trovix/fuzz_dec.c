/*
 * libFuzzer target of the decoder: the input is one media payload as a
 * camera sends it, the first byte choosing the media type, the frame kind and
 * the output format. The payload goes through the codec choice, the key-frame
 * test, libavcodec and the conversion; every plane of every picture that
 * comes out is read to its last byte.
 */
#include <stdlib.h>
#include <string.h>

#include "dec.h"

static void touch(void *user, dec_frame *f)
{
    volatile uint8_t sink = 0;
    int rows[3] = { f->height, (f->height + 1) / 2, (f->height + 1) / 2 };
    int widths[3] = { f->width, (f->width + 1) / 2, (f->width + 1) / 2 };
    int planes = f->fmt == DEC_PIX_YUV420P_SEPARATE ? 3 : 1, i;
    (void)user;
    if (f->fmt != DEC_PIX_YUV420P_SEPARATE)
        widths[0] = f->stride[0];
    for (i = 0; i < planes; i++)
        sink ^= f->data[i][(size_t)(rows[i] - 1) * f->stride[i] + (size_t)widths[i] - 1];
    (void)sink;
    dec_frame_free(f);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t types[4] = { MEDIA_TYPE_MJPEG, MEDIA_TYPE_H264, 0, 99 };
    static const int formats[4] = { DEC_PIX_YUV420P_SEPARATE, DEC_PIX_RGB888, DEC_PIX_BGRA8888,
                                    DEC_PIX_YUV420P_SEPARATE };
    /* One decoder per output format lives across inputs, as on a stream. */
    static dec_state *states[4];
    qv_buf_md md;
    uint8_t *copy;
    int f;
    if (size < 1 || size > (1u << 22))
        return 0;
    f = (data[0] >> 4) & 3;
    if (!states[f] && !(states[f] = dec_state_create(formats[f])))
        return 0;
    copy = (uint8_t *)malloc(size - 1 + MEDIA_HEAD_SIZE);
    if (!copy)
        return 0;
    memset(copy, 0, MEDIA_HEAD_SIZE);
    memcpy(copy + MEDIA_HEAD_SIZE, data + 1, size - 1);
    memset(&md, 0, sizeof md);
    md.head.media_type = types[data[0] & 3];
    md.head.frame_kind = (uint8_t)((data[0] >> 2) & 3);
    /* Sometimes the head claims more than arrived. */
    md.head.payload_len = (data[0] & 0x40) ? (uint32_t)(size + 100) : (uint32_t)(size - 1);
    md.buf.data = copy;
    md.buf.cap = (uint32_t)(size - 1 + MEDIA_HEAD_SIZE);
    md.buf.start = MEDIA_HEAD_SIZE;
    md.buf.end = md.buf.cap;
    (void)dec_codec_of(&md);
    (void)dec_is_key(&md);
    if (data[0] & 0x80)
        dec_state_flush(states[f]);
    dec_state_decode(states[f], &md, touch, NULL);
    free(copy);
    return 0;
}
