/*
 * libFuzzer target of the discovery datagram parser: the input is what an
 * endpoint receives. Every frame the parser reports must lie inside the
 * input and every drop must stay within it; parsing goes on over what is
 * left, so frames anywhere in the input are reached. A frame built from the
 * input's own bytes must parse back to exactly what went in.
 */
#include <stdlib.h>
#include <string.h>

#include "bcast.h"

static void check_parse(const uint8_t *data, size_t size)
{
    size_t pos = 0;
    while (pos < size) {
        bcast_frame_info f;
        uint32_t len = (uint32_t)(size - pos), drop = 0;
        int got = bcast_parse(data + pos, len, &f, &drop);
        if (drop > len)
            abort();
        if (got) {
            if (f.body < data + pos || f.body_len > BCAST_BODY_MAX ||
                f.body + f.body_len + BCAST_TRAILER_SIZE > data + pos + drop)
                abort();
            if (f.type != data[pos + drop - f.body_len - BCAST_HEAD_SIZE - BCAST_TRAILER_SIZE + 12])
                abort();
        }
        if (drop == 0)
            break;
        pos += drop;
    }
}

static void check_round_trip(const uint8_t *data, size_t size)
{
    uint8_t out[BCAST_DGRAM_MAX];
    bcast_frame_info f;
    uint32_t drop = 0, n;
    int type, total;
    if (size < 2)
        return;
    type = data[0] % 5;
    n = (uint32_t)(size - 2 > BCAST_BODY_MAX ? BCAST_BODY_MAX : size - 2);
    total = bcast_build(out, sizeof out, type, data + 2, n, data[1]);
    if (total < 0)
        abort();
    if (type < 2)
        n = 0;
    if (bcast_parse(out, (uint32_t)total, &f, &drop) != 1 || drop != (uint32_t)total || f.type != type ||
        f.body_len != n || (n && memcmp(f.body, data + 2, n) != 0))
        abort();
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_parse(data, size);
    check_round_trip(data, size);
    return 0;
}
