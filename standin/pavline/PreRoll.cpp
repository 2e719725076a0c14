#include "standin/pavline/PreRoll.h"

#include "standin/pavline/PortRecorder.h"

namespace {

constexpr size_t kMaxSpare = 256;

} // namespace

void PreRoll::Keep(const MediaUnit &unit, bool bShown, int64_t nShownMs)
{
    const bool bKey = unit.IsVideo() && unit.bKeyFrame;
    if (bKey && !m_bKeeping) {
        Clear();
        m_bKeeping = true;
    }
    if (!m_bKeeping)
        return;
    if (bKey)
        m_keys.push_back(m_nFirst + m_units.size());
    MediaUnit copy;
    if (!m_spare.empty()) {
        copy.data.swap(m_spare.back());
        m_spare.pop_back();
    }
    // Copied into the room the spare buffer has.
    copy = unit;
    m_nBytes += copy.data.size();
    m_units.push_back(std::move(copy));
    LetGoShown(bShown, nShownMs);
    while (m_bKeeping && m_nBytes > kMaxBytes)
        LetGoFirstGroup();
}

void PreRoll::WriteTo(PortRecorder &recorder, bool bShown, int64_t nShownMs)
{
    LetGoShown(bShown, nShownMs);
    for (size_t i = 0; i < m_units.size(); ++i)
        recorder.WriteUnit(m_units[i]);
}

void PreRoll::Clear()
{
    LetGo(m_units.size());
    m_keys.clear();
    m_nFirst = 0;
    m_nBytes = 0;
    m_bKeeping = false;
}

void PreRoll::LetGoShown(bool bShown, int64_t nShownMs)
{
    if (!bShown)
        return;
    while (m_keys.size() >= 2 && m_units[static_cast<size_t>(m_keys[1] - m_nFirst)].nTimeMs <= nShownMs)
        LetGoFirstGroup();
}

void PreRoll::LetGoFirstGroup()
{
    if (m_keys.size() < 2) {
        Clear();
        return;
    }
    m_keys.pop_front();
    LetGo(static_cast<size_t>(m_keys.front() - m_nFirst));
}

void PreRoll::LetGo(size_t nUnits)
{
    for (size_t i = 0; i < nUnits && !m_units.empty(); ++i) {
        MediaUnit unit = m_units.take_front();
        m_nBytes -= unit.data.size();
        ++m_nFirst;
        if (m_spare.size() < kMaxSpare) {
            unit.data.clear();
            m_spare.push_back(std::move(unit.data));
        }
    }
}
