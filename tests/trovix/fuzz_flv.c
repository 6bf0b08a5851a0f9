/*
 * libFuzzer target of the HTTP-FLV transport: the response header, the FLV
 * header and tags, AVC configuration records and NAL units.
 */
#include "fuzz_peer.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_peer_run(flv_driver(), NP_HTTP_FLV, data, size);
    return 0;
}
