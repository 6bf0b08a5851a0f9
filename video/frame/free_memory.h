// Memory a large job freed (pictures at 4K, an encoder's lookahead: tens of
// megabytes) goes back to the system instead of staying in the C library's
// heaps for the life of the process.
#pragma once

// Defines __GLIBC__ on the C library that has the trim, whatever was
// included before this header.
#include <cstdlib>

// Under a sanitizer the heap is the sanitizer's own: the C library's heaps
// hold nothing to give back, and trimming them from several threads at once
// has crashed on heaps the C library never set up. GCC names its sanitizers
// by macros; clang answers for its own through __has_feature, which GCC 12
// does not know.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORENTA_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(hwaddress_sanitizer) || __has_feature(thread_sanitizer) \
    || __has_feature(memory_sanitizer)
#define VORENTA_UNDER_SANITIZER 1
#endif
#endif

#if defined(__GLIBC__) && !defined(VORENTA_UNDER_SANITIZER)
#include <malloc.h>
inline void returnFreedMemory() { malloc_trim(0); }
#else
inline void returnFreedMemory() {}
#endif
