/*
 * libFuzzer target of the private framed protocol reader: runs the NSPP,
 * NSPP/UPGRADE and NSPP_HTTP readers over what a peer sends.
 */
#include "fuzz_peer.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_peer_run(nspp_driver(), NP_NSPP, data, size);
    fuzz_peer_run(nspp_upgrade_driver(), NP_NSPP_UPGRADE_KEY, data, size);
    fuzz_peer_run(nspp_http_driver(), NP_NSPP_HTTP, data, size);
    return 0;
}
