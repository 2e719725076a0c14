#pragma once

#include "platform/winapi.h"
#include "standin/windows/ForeignParentRegistry.h"
#include "standin/windows/ScreenContexts.h"
#include "standin/windows/ThreadInputs.h"
#include "standin/windows/WindowTree.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <map>
#include <mutex>
#include <string>

class ForeignParentWindow;

// The simulated windows behind the user32 calls of platform/winapi.h: the window tree (WindowTree) under one
// lock, and what each call does to it. Relations follow Windows: a child window has no owner; GWLP_HWNDPARENT
// sets the owner and reads the parent of a window that has one, else the owner. The browser's own doings
// (BrowserControl) act on the tree under the same lock.
//
// Widgets are looked up on the GUI thread only; there every call may be made.
class BrowserWindows
{
public:
    static BrowserWindows &Instance();

    // The tree of the JSON file named by QUORRIN_BROWSER, or the default tree; the Windows version, the screen's
    // DPI and the call counts back to their start. Plug-in windows lose their places in the tree.
    void Reset();
    // Runs fn(tree) under the lock, and gives what it returns.
    template <typename F>
    auto Locked(F &&fn)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return fn(m_tree);
    }
    // Brings the foreign-window stand-ins to their windows' places after a change (on the GUI thread; outside
    // the lock).
    void SyncForeignParents();

    void SetWindowsVersion(int nVersion);
    void SetScreenDpi(int nDpi);
    int Calls(const std::string &strName) const;
    int AttachedInputs() const;
    int ForeignParents(HWND hWnd) const;        // wrappers alive for the handle; null: all
    int ForeignParentsFreedWhileParenting() const;

    // The user32 calls.
    void Count(const char *pName);
    bool IsWindow(HWND hWnd);
    bool ClassName(HWND hWnd, QString &strClass);
    bool Title(HWND hWnd, QString &strTitle);
    HWND Relative(HWND hWnd, UINT uCmd);
    HWND Parent(HWND hWnd);
    HWND SetParent(HWND hWnd, HWND hNewParent, bool &bOk);
    LONG_PTR GetLong(HWND hWnd, int nIndex, bool &bOk);
    LONG_PTR SetLong(HWND hWnd, int nIndex, LONG_PTR nValue, bool &bOk);
    bool SetPos(HWND hWnd, HWND hInsertAfter, int x, int y, int cx, int cy, UINT uFlags);
    bool BringToTop(HWND hWnd);
    bool ClientOrigin(HWND hWnd, QPoint &origin);   // null: the screen
    bool WindowRect(HWND hWnd, QRect &rect);
    bool ClientSize(HWND hWnd, QSize &size);
    bool IsVisible(HWND hWnd);
    bool Invalidate(HWND hWnd);
    HWND Foreground();
    bool SetForegroundWindow(HWND hWnd);
    HWND Desktop() const;
    DWORD ThreadOf(HWND hWnd, DWORD *pProcessId);
    bool AttachInput(DWORD nFrom, DWORD nTo, bool bAttach);
    HDC ScreenDC();
    bool ReleaseScreenDC(HDC hDC);
    int DeviceCaps(HDC hDC, int nIndex);
    int WindowsVersion() const;

    // The foreign-window stand-ins (ForeignParentWindow).
    ForeignParentWindow *MakeForeignParent(HWND hWnd);
    void ForeignParentGone(ForeignParentWindow *pWindow, bool bParentedSomething);
    void ChildParented(HWND hChild, HWND hParent);
    void ChildUnparented(HWND hChild, HWND hParent);

private:
    using Node = WindowTree::Node;

    BrowserWindows();

    mutable std::recursive_mutex m_mutex;
    WindowTree m_tree;
    int m_nWindowsVersion = 0;          // 0: from the environment
    ScreenContexts m_screenContexts;
    std::map<std::string, int> m_calls;
    ThreadInputs m_threadInputs;
    ForeignParentRegistry m_foreignParents;
};
