/* A library that keeps a block it allocated in its own data, as a GL driver
 * does: loaded and unloaded by the leak-check case, never a leak of ours.
 * Its thread data is allocated for each thread on first use, as a driver's
 * is, where the allocator happens to put it. */
#include <stdlib.h>

static void *held;

void held_block_keep(void)
{
    if (!held)
        held = malloc(128);
}

static __thread char thread_data[48];

void *held_block_thread_data(void)
{
    return thread_data;
}
