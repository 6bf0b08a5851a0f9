/* A library that keeps a block it allocated in its own data, as a GL driver
 * does: loaded and unloaded by the leak-check case, never a leak of ours. */
#include <stdlib.h>

static void *held;

void held_block_keep(void)
{
    if (!held)
        held = malloc(128);
}
