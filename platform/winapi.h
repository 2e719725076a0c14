#pragma once

// The window-system calls and records the system makes, as it makes them. standin/windows implements them over
// Qt: a window handle is the native handle of a QWidget (reinterpret_cast<HWND>(widget->winId())), whose
// surface is an image painted in the widget's paint event; a drawing context draws into that surface.
//
// Handles of drawing contexts and pens are numbers handed out by the implementation and never reused; a handle
// it did not hand out, or one already given back, makes the call fail instead of being followed.

#include <cstdint>

typedef int BOOL;
typedef uint32_t COLORREF;      // 0x00BBGGRR
typedef struct HWND__ *HWND;
typedef struct HDC__ *HDC;
typedef struct HPEN__ *HPEN;
typedef void *HGDIOBJ;

struct POINT
{
    int32_t x;
    int32_t y;
};

struct RECT
{
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The local-time record (16-bit fields).
struct SYSTEMTIME
{
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME layout");

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

// Pen styles.
enum : int { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5 };

// gdi32: drawing on a window's surface. A new drawing context has a black one-pixel pen selected and its
// current point at (0, 0).
HDC GetWindowDC(HWND hWnd);                 // null when no window has that handle
int ReleaseDC(HWND hWnd, HDC hDC);          // 1 when the context was given back
HPEN CreatePen(int nStyle, int nWidth, COLORREF crColor);
HGDIOBJ SelectObject(HDC hDC, HGDIOBJ hObject);  // the object selected before, null on failure
BOOL DeleteObject(HGDIOBJ hObject);         // fails for a pen still selected into a context
BOOL MoveToEx(HDC hDC, int x, int y, POINT *pPrevious);
BOOL LineTo(HDC hDC, int x, int y);         // from the current point; the end becomes the current point
