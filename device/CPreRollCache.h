#pragma once

#include "platform/korvex.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The blocks of a live stream since its last key frame, with their records, so that a recording begins with the
// picture on screen when it was started instead of at the next key frame. Bounded: a group of pictures longer
// than kMaxBytes is not kept (a recording then begins at the next key frame). Not locked: its owner serialises.
class CPreRollCache
{
public:
    static constexpr size_t kMaxBytes = 8u * 1024u * 1024u;

    // One whole block (header included) with its record; a video key frame begins the cache anew.
    void Add(const uint8_t *pData, uint32_t nLength, const RealDataFrame &frame);
    void Clear();
    size_t Blocks() const { return m_entries.size(); }
    size_t Bytes() const { return m_bytes.size(); }

    // Calls onBlock(pData, nLength, frame) for each block kept, in order; the record's data pointer is the kept
    // copy of the block.
    template <typename F>
    void ForEach(F &&onBlock) const
    {
        for (const Entry &entry : m_entries) {
            RealDataFrame frame = entry.frame;
            frame.pData = m_bytes.data() + entry.nOffset;
            frame.nDataLength = entry.nLength;
            onBlock(frame.pData, entry.nLength, frame);
        }
    }

private:
    struct Entry
    {
        size_t nOffset;
        uint32_t nLength;
        RealDataFrame frame;
    };

    std::vector<uint8_t> m_bytes;       // the blocks end to end; its room stays from one key frame to the next
    std::vector<Entry> m_entries;
    bool m_bKeeping = false;            // a key frame began the cache and everything since fits
};
