#include "runtime/MemoryRelease.h"

// Any C library header says which C library this is.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

#if defined(__GLIBC__)
// The bound must be set before any thread has asked for an arena: the allocator fixes it then. Static objects of
// the libraries linked in may start threads before main, so it is set before them.
__attribute__((constructor(101))) void BoundArenasEarly()
{
    MemoryRelease::BoundArenas();
}
#endif

} // namespace

void MemoryRelease::BoundArenas()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, kMaxArenas);
#endif
}

void MemoryRelease::GiveBack()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
