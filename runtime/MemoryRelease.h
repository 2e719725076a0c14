#pragma once

// The C library's allocator keeps what the process frees for reuse, in one arena per thread that allocated at
// the same time as another: after the many decode threads of a full page of tiles have ended, that memory still
// counts in the working set, which the 32-bit build's memory budget reads.
class MemoryRelease
{
public:
    // Bounds the number of arenas; called once at start, before the threads that allocate exist.
    static void BoundArenas();
    // Returns the freed memory of every arena to the system (after a logout, after streams close).
    static void GiveBack();

    static constexpr int kMaxArenas = 4;
};
