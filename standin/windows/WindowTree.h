#pragma once

#include "platform/winapi.h"

#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <map>
#include <vector>

class QWidget;

// The windows of the simulated tree and their places: the browser's (foreign) windows with everything they
// have, and the plug-in's own windows, which are real Qt widgets with a native handle and are taken in when a
// call first names them (their parent, owner, style and order are kept here, their geometry and visibility
// are the widget's). A plug-in window whose widget or native window has gone leaves the tree at the next look.
//
// A foreign window's rectangle is kept relative to its parent's client origin (the screen for a top-level
// window), so moving a window moves everything inside it.
//
// Not locked: its owner (BrowserWindows) holds the lock around every use. Widgets are looked up on the GUI
// thread only.
class WindowTree
{
public:
    struct Node
    {
        HWND hWnd = nullptr;
        bool bForeign = true;
        QString strId;
        QString strClass;
        QString strTitle;
        HWND hParent = nullptr;
        HWND hOwner = nullptr;
        std::vector<HWND> children;     // top of the z-order first
        LONG_PTR nStyle = 0;
        QRect rcWindow;                 // foreign: relative to the parent's client origin
        QMargins frame;                 // foreign: window rectangle less client rectangle
        bool bVisible = true;           // foreign only
        QPointer<QWidget> pWidget;      // plug-in only
        DWORD nThreadId = 0;
    };

    // The thread and process the browser's windows belong to.
    static constexpr DWORD kBrowserThread = 0x2a10;
    static constexpr DWORD kBrowserProcess = 0x2a0c;

    static HWND Desktop();

    WindowTree();

    // A foreign window's record with a new handle (never one used before), its parent, the browser's thread
    // and the style of a child or a top-level window; not in the tree yet.
    Node NewForeign(HWND hParent);
    // The tree becomes these foreign windows; plug-in windows keep existing but start again outside it.
    void Replace(std::map<HWND, Node> nodes, std::vector<HWND> topLevel, HWND hForeground);
    // A new foreign window on top of its siblings.
    void AddOnTop(const Node &node);

    // The window, foreign or plug-in; null when the handle names neither.
    Node *Find(HWND hWnd);
    HWND ForeignById(const QString &strId) const;
    const std::map<HWND, Node> &Nodes() const { return m_nodes; }
    const std::vector<HWND> &TopLevel() const { return m_topLevel; }
    HWND Foreground() const { return m_hForeground; }
    void SetForeground(HWND hWnd) { m_hForeground = hWnd; }

    // Plug-in windows whose widget or native window has gone leave the tree (on the GUI thread only).
    void Purge();
    // The window leaves the tree with its children; the windows it owned have no owner any more.
    void Remove(HWND hWnd);

    // The window's siblings with itself (the top-level windows for one without a parent), top first.
    std::vector<HWND> &SiblingsOf(const Node &node);
    void Unlink(Node &node);
    void LinkOnTop(Node &node, HWND hParent);
    bool IsAncestorOrSelf(HWND hAncestor, HWND hWnd) const;
    // Whether the window is one of them, or lies under one of them through parents or owners.
    bool UnderAny(HWND hWnd, const std::vector<HWND> &windows) const;

    // Where windows lie on the screen.
    bool ClientOrigin(HWND hWnd, QPoint &origin);   // null: the screen
    bool WindowRect(HWND hWnd, QRect &rect);
    bool ClientSize(HWND hWnd, QSize &size);
    QRect ClientRectOnScreen(HWND hWnd);
    bool IsVisible(HWND hWnd);    // with every parent

private:
    Node *PluginNode(HWND hWnd);
    static QWidget *WidgetWithHandle(HWND hWnd);

    std::map<HWND, Node> m_nodes;
    std::vector<HWND> m_topLevel;       // the desktop's children, top of the z-order first
    HWND m_hForeground = nullptr;
    uintptr_t m_nNextHandle;
};
