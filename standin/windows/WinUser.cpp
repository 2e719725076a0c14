// The user32 calls of platform/winapi.h over the simulated window tree.

#include "platform/winapi.h"
#include "standin/windows/BrowserWindows.h"
#include "standin/windows/ForeignParentWindow.h"

#include <QByteArray>
#include <QString>

#include <cstring>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

BrowserWindows &Tree(const char *pName)
{
    BrowserWindows &tree = BrowserWindows::Instance();
    tree.Count(pName);
    return tree;
}

// At most nMaxCount - 1 bytes of the text in the local 8-bit encoding, never ending inside a character.
int CopyText8(const QString &strText, char *pBuffer, int nMaxCount)
{
    if (!pBuffer || nMaxCount <= 0)
        return 0;
    QByteArray bytes = strText.toLocal8Bit();
    int nLength = qMin(bytes.size(), nMaxCount - 1);
    if (nLength < bytes.size())
        while (nLength > 0 && (static_cast<unsigned char>(bytes[nLength]) & 0xC0) == 0x80)
            --nLength;
    std::memcpy(pBuffer, bytes.constData(), static_cast<size_t>(nLength));
    pBuffer[nLength] = '\0';
    return nLength;
}

// At most nMaxCount - 1 UTF-16 units, never half a surrogate pair.
int CopyText16(const QString &strText, WCHAR *pBuffer, int nMaxCount)
{
    if (!pBuffer || nMaxCount <= 0)
        return 0;
    int nLength = qMin(strText.size(), nMaxCount - 1);
    if (nLength > 0 && nLength < strText.size() && strText[nLength - 1].isHighSurrogate())
        --nLength;
    for (int i = 0; i < nLength; ++i)
        pBuffer[i] = static_cast<WCHAR>(strText[i].unicode());
    pBuffer[nLength] = 0;
    return nLength;
}

} // namespace

BOOL IsWindow(HWND hWnd) { return Tree("IsWindow").IsWindow(hWnd); }

int GetClassNameA(HWND hWnd, char *pClassName, int nMaxCount)
{
    QString strClass;
    return Tree("GetClassNameA").ClassName(hWnd, strClass) ? CopyText8(strClass, pClassName, nMaxCount) : 0;
}

int GetClassNameW(HWND hWnd, WCHAR *pClassName, int nMaxCount)
{
    QString strClass;
    return Tree("GetClassNameW").ClassName(hWnd, strClass) ? CopyText16(strClass, pClassName, nMaxCount) : 0;
}

int GetWindowTextA(HWND hWnd, char *pString, int nMaxCount)
{
    QString strTitle;
    if (!Tree("GetWindowTextA").Title(hWnd, strTitle))
        return CopyText8(QString(), pString, nMaxCount);
    return CopyText8(strTitle, pString, nMaxCount);
}

int GetWindowTextW(HWND hWnd, WCHAR *pString, int nMaxCount)
{
    QString strTitle;
    if (!Tree("GetWindowTextW").Title(hWnd, strTitle))
        return CopyText16(QString(), pString, nMaxCount);
    return CopyText16(strTitle, pString, nMaxCount);
}

HWND GetWindow(HWND hWnd, UINT uCmd) { return Tree("GetWindow").Relative(hWnd, uCmd); }

HWND GetParent(HWND hWnd) { return Tree("GetParent").Parent(hWnd); }

HWND SetParent(HWND hWndChild, HWND hWndNewParent)
{
    bool bOk = false;
    return Tree("SetParent").SetParent(hWndChild, hWndNewParent, bOk);
}

LONG_PTR GetWindowLongPtr(HWND hWnd, int nIndex)
{
    bool bOk = false;
    return Tree("GetWindowLongPtr").GetLong(hWnd, nIndex, bOk);
}

LONG_PTR SetWindowLongPtr(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    bool bOk = false;
    return Tree("SetWindowLongPtr").SetLong(hWnd, nIndex, dwNewLong, bOk);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    return Tree("SetWindowPos").SetPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL BringWindowToTop(HWND hWnd) { return Tree("BringWindowToTop").BringToTop(hWnd); }

int MapWindowPoints(HWND hWndFrom, HWND hWndTo, POINT *pPoints, UINT cPoints)
{
    BrowserWindows &tree = Tree("MapWindowPoints");
    QPoint from, to;
    if (!tree.ClientOrigin(hWndFrom, from) || !tree.ClientOrigin(hWndTo, to))
        return 0;
    const QPoint offset = from - to;
    for (UINT i = 0; pPoints && i < cPoints; ++i) {
        pPoints[i].x += offset.x();
        pPoints[i].y += offset.y();
    }
    return static_cast<int>((static_cast<uint32_t>(offset.y() & 0xFFFF) << 16) | static_cast<uint32_t>(offset.x() & 0xFFFF));
}

BOOL GetWindowRect(HWND hWnd, RECT *pRect)
{
    QRect rect;
    if (!pRect || !Tree("GetWindowRect").WindowRect(hWnd, rect))
        return 0;
    *pRect = RECT{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
    return 1;
}

BOOL GetClientRect(HWND hWnd, RECT *pRect)
{
    QSize size;
    if (!pRect || !Tree("GetClientRect").ClientSize(hWnd, size))
        return 0;
    *pRect = RECT{0, 0, size.width(), size.height()};
    return 1;
}

BOOL IsWindowVisible(HWND hWnd) { return Tree("IsWindowVisible").IsVisible(hWnd); }

BOOL InvalidateRect(HWND hWnd, const RECT *, BOOL) { return Tree("InvalidateRect").Invalidate(hWnd); }

HWND GetForegroundWindow() { return Tree("GetForegroundWindow").Foreground(); }

BOOL SetForegroundWindow(HWND hWnd) { return Tree("SetForegroundWindow").SetForegroundWindow(hWnd); }

HWND GetDesktopWindow() { return Tree("GetDesktopWindow").Desktop(); }

DWORD GetWindowThreadProcessId(HWND hWnd, DWORD *pProcessId)
{
    return Tree("GetWindowThreadProcessId").ThreadOf(hWnd, pProcessId);
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

BOOL AttachThreadInput(DWORD idAttach, DWORD idAttachTo, BOOL fAttach)
{
    return Tree("AttachThreadInput").AttachInput(idAttach, idAttachTo, fAttach != 0);
}

HDC GetDC(HWND hWnd)
{
    BrowserWindows &tree = Tree("GetDC");
    return hWnd ? GetWindowDC(hWnd) : tree.ScreenDC();
}

int GetDeviceCaps(HDC hDC, int nIndex) { return Tree("GetDeviceCaps").DeviceCaps(hDC, nIndex); }

int WindowsVersion() { return BrowserWindows::Instance().WindowsVersion(); }

std::unique_ptr<QWindow> CreateForeignParentWindow(HWND hWnd)
{
    return std::unique_ptr<QWindow>(BrowserWindows::Instance().MakeForeignParent(hWnd));
}
