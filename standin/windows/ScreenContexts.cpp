#include "standin/windows/ScreenContexts.h"

#include <algorithm>

HDC ScreenContexts::Get()
{
    if (m_nDpi < 0)
        return nullptr;
    m_open.push_back(m_nNext);
    return reinterpret_cast<HDC>(m_nNext++);
}

bool ScreenContexts::Release(HDC hDC)
{
    auto it = std::find(m_open.begin(), m_open.end(), reinterpret_cast<uintptr_t>(hDC));
    if (it == m_open.end())
        return false;
    m_open.erase(it);
    return true;
}

int ScreenContexts::DeviceCaps(HDC hDC, int nIndex) const
{
    if (nIndex != LOGPIXELSX || !IsOpen(hDC))
        return 0;
    // A screen at 100 % unless told otherwise (the platform's own figure, offscreen's 100 for one, is no
    // Windows screen's).
    return m_nDpi > 0 ? m_nDpi : 96;
}

bool ScreenContexts::IsOpen(HDC hDC) const
{
    return std::find(m_open.begin(), m_open.end(), reinterpret_cast<uintptr_t>(hDC)) != m_open.end();
}
