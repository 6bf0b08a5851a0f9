/*
 * libFuzzer target of the RTSP transport: answers and interleaved RTP as a
 * camera sends them, through the message framing and the H.264
 * depacketiser into access units.
 */
#include "fuzz_peer.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_peer_run(rtsp_driver(), NP_RTSP, data, size);
    return 0;
}
