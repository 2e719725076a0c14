#pragma once

#include "platform/winapi.h"
#include "standin/windows/ForeignParentRegistry.h"
#include "standin/windows/ScreenContexts.h"
#include "standin/windows/ThreadInputs.h"
#include "standin/windows/WindowTree.h"

#include <QByteArray>
#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

#include <map>
#include <mutex>
#include <string>
#include <vector>

class ForeignParentWindow;
class QWidget;

// The simulated windows behind the user32 calls of platform/winapi.h and behind BrowserControl: the window
// tree (WindowTree) under one lock, and what each call does to it. Relations follow Windows: a child window
// has no owner; GWLP_HWNDPARENT sets the owner and reads the parent of a window that has one, else the owner.
// Destroying a window destroys its children and the windows it owns; the plug-in windows among them first get
// WM_DESTROY as a native event, and those that moved themselves out from under the window survive.
//
// Widgets are looked up on the GUI thread only; there every call may be made.
class BrowserWindows
{
public:
    static BrowserWindows &Instance();

    // The tree of the JSON file named by QUORRIN_BROWSER, or the default tree; the Windows version, the screen's
    // DPI and the call counts back to their start. Plug-in windows lose their places in the tree.
    void Reset();
    bool LoadTree(const QByteArray &json, QString *pError);
    HWND WindowById(const QString &strId) const;

    // Changes of the browser (control).
    HWND AddWindow(HWND hParent, const QString &strClass, const QString &strTitle, const QRect &rcWindow,
                   const QMargins &frame, bool bVisible);
    bool SetTitle(HWND hWnd, const QString &strTitle);
    bool SetForeground(HWND hWnd);
    bool MoveWindow(HWND hWnd, const QPoint &pos);
    bool ResizeWindow(HWND hWnd, const QSize &size);
    bool SetVisible(HWND hWnd, bool bVisible);
    bool Destroy(HWND hWnd);
    bool MoveInto(HWND hWnd, HWND hNewParent);
    void SetWindowsVersion(int nVersion);
    void SetScreenDpi(int nDpi);

    // What the tree holds (control).
    QRect ClientRectOnScreen(HWND hWnd);
    HWND ParentOf(HWND hWnd);
    HWND OwnerOf(HWND hWnd);
    std::vector<HWND> Children(HWND hParent);   // top of the z-order first; null: the top-level windows
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
    void SyncForeignParents();
    // Changes a foreign window under the lock, then brings the foreign parents up to date.
    template <typename F>
    bool ChangeForeign(HWND hWnd, F &&change);

    mutable std::recursive_mutex m_mutex;
    WindowTree m_tree;
    int m_nWindowsVersion = 0;          // 0: from the environment
    ScreenContexts m_screenContexts;
    std::map<std::string, int> m_calls;
    ThreadInputs m_threadInputs;
    ForeignParentRegistry m_foreignParents;
};
