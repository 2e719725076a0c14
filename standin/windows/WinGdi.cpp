// The gdi32 calls of platform/winapi.h over the native surfaces.

#include "platform/winapi.h"
#include "standin/windows/BrowserWindows.h"
#include "standin/windows/GdiObjects.h"
#include "standin/windows/NativeSurface.h"

HDC GetWindowDC(HWND hWnd)
{
    std::shared_ptr<NativeSurface> pSurface = NativeSurface::Find(hWnd);
    return pSurface ? GdiObjects::CreateSurfaceDC(hWnd, std::move(pSurface)) : nullptr;
}

int ReleaseDC(HWND hWnd, HDC hDC)
{
    // The screen's context (GetDC with no window) is the window tree's.
    if (!hWnd && BrowserWindows::Instance().ReleaseScreenDC(hDC))
        return 1;
    return GdiObjects::ReleaseDC(hWnd, hDC);
}

HPEN CreatePen(int nStyle, int nWidth, COLORREF crColor) { return GdiObjects::CreatePen(nStyle, nWidth, crColor); }

HGDIOBJ SelectObject(HDC hDC, HGDIOBJ hObject) { return GdiObjects::SelectObject(hDC, hObject); }

BOOL DeleteObject(HGDIOBJ hObject) { return GdiObjects::DeleteObject(hObject); }

BOOL MoveToEx(HDC hDC, int x, int y, POINT *pPrevious) { return GdiObjects::MoveToEx(hDC, x, y, pPrevious); }

BOOL LineTo(HDC hDC, int x, int y) { return GdiObjects::LineTo(hDC, x, y); }
