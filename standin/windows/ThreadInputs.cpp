#include "standin/windows/ThreadInputs.h"

bool ThreadInputs::Attach(DWORD nFrom, DWORD nTo, bool bAttach)
{
    if (!nFrom || !nTo || nFrom == nTo)
        return false;
    const auto key = std::make_pair(nFrom, nTo);
    if (bAttach) {
        ++m_attached[key];
        return true;
    }
    auto it = m_attached.find(key);
    if (it == m_attached.end())
        return false;
    if (--it->second == 0)
        m_attached.erase(it);
    return true;
}

int ThreadInputs::Attached() const
{
    int n = 0;
    for (const auto &entry : m_attached)
        n += entry.second;
    return n;
}
