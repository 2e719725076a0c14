#pragma once

#include "platform/winapi.h"

#include <QPointer>
#include <QRect>

#include <functional>
#include <vector>

class ForeignParentWindow;

// The foreign-window stand-ins that CreateForeignParentWindow has handed out and that are alive, and how many
// were freed while a plug-in window still had them as its parent. Not locked: its owner (BrowserWindows) holds
// the lock around every use but Apply.
class ForeignParentRegistry
{
public:
    // Where a stand-in is to lie on the screen, and whether it shows.
    struct Placement
    {
        QPointer<ForeignParentWindow> pWindow;
        QRect rect;
        bool bVisible = false;
    };

    // A new stand-in for the foreign window, owned by the caller.
    ForeignParentWindow *Make(HWND hWnd);
    // The stand-in is being destroyed; bParentedSomething: a plug-in window still had it as its parent.
    void Gone(ForeignParentWindow *pWindow, bool bParentedSomething);

    int Alive(HWND hWnd) const;     // for the handle; null: all
    int FreedWhileParenting() const { return m_nFreedWhileParenting; }
    void ResetCounts() { m_nFreedWhileParenting = 0; }

    // The places of the stand-ins alive, each as place(handle, rect, visible) gives it; one for which it
    // returns false stays where it is.
    std::vector<Placement> Placements(const std::function<bool(HWND, QRect &, bool &)> &place) const;
    // Moves, shows and hides the stand-ins (outside the owner's lock: Qt may call back into the tree).
    static void Apply(const std::vector<Placement> &placements);

private:
    std::vector<QPointer<ForeignParentWindow>> m_windows;
    int m_nFreedWhileParenting = 0;
};
