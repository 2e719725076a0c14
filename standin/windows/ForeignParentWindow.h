#pragma once

#include "platform/winapi.h"

#include <QWindow>

#include <map>

// What CreateForeignParentWindow gives for a simulated foreign window: an ordinary QWindow that the window tree
// keeps on the foreign window's client rectangle (and shows while the foreign window is visible), so that a
// plug-in window made its child lies where it would lie inside the foreign window. A plug-in window parented
// to it is recorded in the tree as a child of the foreign window, and leaves it again when it is taken away.
//
// On xcb the plug-in window does lie inside it, but Qt takes the outermost X ancestor of a window for the
// window manager's frame: a top-level widget inside reads its position as a frame margin (pos() becomes 0)
// and a later move() lands twice as far in. The tests run offscreen, where positions are exact.
class ForeignParentWindow : public QWindow
{
public:
    explicit ForeignParentWindow(HWND hWnd);
    ~ForeignParentWindow() override;

    HWND Handle() const { return m_hWnd; }

protected:
    void childEvent(QChildEvent *pEvent) override;

private:
    HWND m_hWnd;
    std::map<QObject *, HWND> m_children;   // plug-in windows parented to it, with their handles
};
