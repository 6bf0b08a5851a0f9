// Memory a large job freed (pictures at 4K, an encoder's lookahead: tens of
// megabytes) goes back to the system instead of staying in the C library's
// heaps for the life of the process.
#pragma once

// Under a sanitizer the heap is the sanitizer's own: the C library's heaps
// hold nothing to give back, and trimming them from several threads at once
// has crashed on heaps the C library never set up.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <malloc.h>
inline void returnFreedMemory() { malloc_trim(0); }
#else
inline void returnFreedMemory() {}
#endif
