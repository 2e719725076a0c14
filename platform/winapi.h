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

// ---------------------------------------------------------------------------------------------------------------
// user32: the browser's windows, for the plug-in window's embedding and for finding the browser at login.
// standin/windows simulates the browser's (foreign) windows; the plug-in's own windows are real Qt widgets that
// take part in the same tree. Handles of foreign windows never collide with the platform's native window ids.
// ---------------------------------------------------------------------------------------------------------------

#include <memory>

class QWindow;

typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef char16_t WCHAR;         // UTF-16, as the wide calls give it

// A window message, as a native event carries it ("windows_generic_MSG").
struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

enum : UINT { WM_NULL = 0x0000, WM_DESTROY = 0x0002 };

// GetWindow relations.
enum : UINT { GW_HWNDNEXT = 2, GW_HWNDPREV = 3, GW_OWNER = 4, GW_CHILD = 5 };

// GetWindowLongPtr / SetWindowLongPtr indexes.
enum : int { GWLP_HWNDPARENT = -8, GWL_STYLE = -16 };

// Window styles.
constexpr LONG_PTR WS_POPUP = static_cast<LONG_PTR>(0x80000000u);
constexpr LONG_PTR WS_CHILD = 0x40000000;
constexpr LONG_PTR WS_VISIBLE = 0x10000000;
constexpr LONG_PTR WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG_PTR WS_CLIPCHILDREN = 0x02000000;
constexpr LONG_PTR WS_OVERLAPPEDWINDOW = 0x00CF0000;

// SetWindowPos flags; a null insert-after handle is HWND_TOP.
enum : UINT { SWP_NOSIZE = 0x0001, SWP_NOMOVE = 0x0002, SWP_NOZORDER = 0x0004, SWP_NOACTIVATE = 0x0010 };

// GetDeviceCaps index: pixels per logical inch along the screen's width.
enum : int { LOGPIXELSX = 88 };

// Windows versions as QSysInfo::windowsVersion() gives them.
enum : int { WV_WINDOWS7 = 0x0090, WV_WINDOWS8 = 0x00a0, WV_WINDOWS8_1 = 0x00b0, WV_WINDOWS10 = 0x00c0 };

BOOL IsWindow(HWND hWnd);
int GetClassNameA(HWND hWnd, char *pClassName, int nMaxCount);     // characters copied, 0 on failure
int GetClassNameW(HWND hWnd, WCHAR *pClassName, int nMaxCount);
int GetWindowTextA(HWND hWnd, char *pString, int nMaxCount);       // local 8-bit encoding
int GetWindowTextW(HWND hWnd, WCHAR *pString, int nMaxCount);
HWND GetWindow(HWND hWnd, UINT uCmd);
HWND GetParent(HWND hWnd);      // the parent; for a top-level WS_POPUP window its owner
HWND SetParent(HWND hWndChild, HWND hWndNewParent);               // the previous parent, null on failure
LONG_PTR GetWindowLongPtr(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtr(HWND hWnd, int nIndex, LONG_PTR dwNewLong);  // the previous value
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL BringWindowToTop(HWND hWnd);
// Points in the client coordinates of one window (null: the screen) into those of another; the low and high
// 16 bits of the result are the horizontal and vertical offsets added, 0 on failure.
int MapWindowPoints(HWND hWndFrom, HWND hWndTo, POINT *pPoints, UINT cPoints);
BOOL GetWindowRect(HWND hWnd, RECT *pRect);     // screen coordinates
BOOL GetClientRect(HWND hWnd, RECT *pRect);     // (0, 0) to the client area's size
BOOL IsWindowVisible(HWND hWnd);
BOOL InvalidateRect(HWND hWnd, const RECT *pRect, BOOL bErase);
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND hWnd);
HWND GetDesktopWindow();
DWORD GetWindowThreadProcessId(HWND hWnd, DWORD *pProcessId);
DWORD GetCurrentThreadId();
BOOL AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach);
HDC GetDC(HWND hWnd);           // null: the screen's context, given back with ReleaseDC(nullptr, hDC)
int GetDeviceCaps(HDC hDC, int nIndex);

// QSysInfo::windowsVersion() on Windows; here the version the window stand-in is set to.
int WindowsVersion();

// The Qt window to make the parent of a plug-in window's QWindow so that it lies inside a foreign window; the
// caller owns it and frees it only once it parents nothing. Null when the handle is not a window.
//
// On Windows this is QWindow::fromWinId(handle). A simulated foreign window is no native window of the
// platform: xcb would be handed an X id that does not exist (BadWindow on every request) and offscreen makes
// no foreign windows at all. So the choice sits behind this function, and the stand-in gives an ordinary
// QWindow that it keeps on the foreign window's client rectangle: the plug-in window becomes a real child
// window, placed in that window's client coordinates, on the offscreen and the xcb platforms alike.
std::unique_ptr<QWindow> CreateForeignParentWindow(HWND hWnd);
