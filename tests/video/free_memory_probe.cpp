// Compiled alone by free_memory_check.sh: whether this calls malloc_trim is
// what the object file's undefined symbols tell.
#include "free_memory.h"

void afterALargeJob()
{
    returnFreedMemory();
}
