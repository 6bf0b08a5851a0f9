/* A process that installs the crash handler and then really crashes, in the
 * way its second argument names: segv, abort or fpe. */
#include "crash_handler.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static volatile int zero = 0;

static int __attribute__((noinline)) crash_deep_inside(const char *kind)
{
    if (strcmp(kind, "abort") == 0)
        abort();
    if (strcmp(kind, "fpe") == 0)
        return 10 / zero;
    volatile int *nowhere = (volatile int *)(unsigned long)zero;
    return *nowhere;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    if (crash_handler_install(argv[1]) != 0)
        return 3;
    if (crash_handler_install(argv[1]) != 1)  /* a second install changes nothing */
        return 4;
    printf("%d\n", crash_deep_inside(argv[2]));
    return 0;
}
