#include "standin/pavline/UnitBufferPool.h"

std::vector<uint8_t> UnitBufferPool::Take()
{
    std::vector<uint8_t> bytes;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_kept.empty()) {
        bytes.swap(m_kept.back());
        m_kept.pop_back();
    }
    bytes.clear();
    return bytes;
}

void UnitBufferPool::Give(std::vector<uint8_t> &&bytes)
{
    if (bytes.capacity() == 0 || bytes.capacity() > kMaxRoom)
        return;
    std::vector<uint8_t> kept;
    kept.swap(bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_kept.size() < kMaxKept) {
        if (m_kept.capacity() == 0)
            m_kept.reserve(kMaxKept);
        m_kept.push_back(std::move(kept));
    }
}

size_t UnitBufferPool::Kept() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kept.size();
}
