#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The byte buffers of a port's units, kept for the next units once they are done with: the block input copies
// each block's payload into one, the decoder gives it back once it has read it, so that a port in its steady
// state allocates no buffers, and a buffer filled on the device's thread is not freed on a decoding one. Its
// lock is the port's own and is held only to take or give one buffer.
class UnitBufferPool
{
public:
    // An empty buffer, with the room it had when it was given back.
    std::vector<uint8_t> Take();
    // Kept for a later Take (its bytes no longer matter); beyond kMaxKept buffers, or beyond kMaxRoom bytes (a
    // burst, an unusual block), it is freed: what a port keeps stays near what it needs.
    void Give(std::vector<uint8_t> &&bytes);
    size_t Kept() const;

private:
    static constexpr size_t kMaxKept = 16;
    static constexpr size_t kMaxRoom = 1024 * 1024;

    mutable std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_kept;
};
