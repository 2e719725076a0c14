#pragma once

#include "platform/winapi.h"

#include <cstdint>
#include <vector>

// The screen's drawing contexts (GetDC with no window) and the DPI they report. Not locked: its owner
// (BrowserWindows) holds the lock around every use.
class ScreenContexts
{
public:
    // A new context; null when the screen has none (a DPI of -1).
    HDC Get();
    // Whether the context was one of the screen's (it is one no longer).
    bool Release(HDC hDC);
    // GetDeviceCaps on a context: LOGPIXELSX of a screen context, 0 for anything else.
    int DeviceCaps(HDC hDC, int nIndex) const;
    // 0: 96; -1: there is no screen context.
    void SetDpi(int nDpi) { m_nDpi = nDpi; }

private:
    bool IsOpen(HDC hDC) const;

    int m_nDpi = 0;
    uintptr_t m_nNext = 0x70000000;     // above every window handle, foreign or the platform's
    std::vector<uintptr_t> m_open;
};
