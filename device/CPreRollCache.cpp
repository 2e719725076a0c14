#include "device/CPreRollCache.h"

#include "platform/stream_block.h"

constexpr size_t CPreRollCache::kMaxBytes;

void CPreRollCache::Add(const uint8_t *pData, uint32_t nLength, const RealDataFrame &frame)
{
    if (!pData || nLength == 0)
        return;
    // The block's own header says what it is, as it does for the recorder that replays it.
    const bool bKeyFrame = nLength >= StreamBlock::kVideoHeaderSize && pData[0] == 0 && pData[1] == 0 &&
                           pData[2] == 1 && pData[3] == StreamBlock::kTypeKeyFrame;
    if (bKeyFrame) {
        Clear();
        m_bKeeping = true;
    }
    if (!m_bKeeping)
        return;
    if (m_bytes.size() + nLength > kMaxBytes) {
        Clear();
        return;
    }
    m_entries.push_back(Entry{m_bytes.size(), nLength, frame});
    m_bytes.insert(m_bytes.end(), pData, pData + nLength);
}

void CPreRollCache::Clear()
{
    m_bytes.clear();
    m_entries.clear();
    m_bKeeping = false;
}
