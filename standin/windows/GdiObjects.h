#pragma once

#include "platform/winapi.h"

#include <memory>

class NativeSurface;
class QImage;

// The drawing contexts and pens behind the gdi32 calls of platform/winapi.h. A context is {surface or image,
// selected pen, current point}; a pen keeps its style, width and 0x00BBGGRR colour. Handles are numbers that
// are never reused, looked up in a table, so a stale or foreign handle fails the call.
class GdiObjects
{
public:
    // A context on what a window's surface shows (GetWindowDC).
    static HDC CreateSurfaceDC(HWND hWnd, std::shared_ptr<NativeSurface> pSurface);
    // A context on an image that the calling thread owns while the context is used (the picture the decode
    // library is about to show, during its decode callback); the caller deletes it with DeleteImageDC.
    static HDC CreateImageDC(QImage *pImage);
    static bool DeleteImageDC(HDC hDC);

    // The calls of platform/winapi.h.
    static int ReleaseDC(HWND hWnd, HDC hDC);
    static HPEN CreatePen(int nStyle, int nWidth, COLORREF crColor);
    static HGDIOBJ SelectObject(HDC hDC, HGDIOBJ hObject);
    static BOOL DeleteObject(HGDIOBJ hObject);
    static BOOL MoveToEx(HDC hDC, int x, int y, POINT *pPrevious);
    static BOOL LineTo(HDC hDC, int x, int y);

    // What a pen handle holds; false for no pen.
    static bool PenOf(HGDIOBJ hObject, int &nStyle, int &nWidth, COLORREF &crColor);
    // Contexts and pens that exist (the stock pen not counted).
    static int ContextCount();
    static int PenCount();
    // The stock pen selected into every new context.
    static HPEN StockBlackPen();
};
