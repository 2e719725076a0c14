#include "standin/windows/ForeignParentRegistry.h"

#include "standin/windows/ForeignParentWindow.h"

#include <algorithm>

ForeignParentWindow *ForeignParentRegistry::Make(HWND hWnd)
{
    auto *pWindow = new ForeignParentWindow(hWnd);
    m_windows.emplace_back(pWindow);
    return pWindow;
}

void ForeignParentRegistry::Gone(ForeignParentWindow *pWindow, bool bParentedSomething)
{
    m_windows.erase(std::remove_if(m_windows.begin(), m_windows.end(),
                                   [&](const QPointer<ForeignParentWindow> &p) { return !p || p == pWindow; }),
                    m_windows.end());
    if (bParentedSomething)
        ++m_nFreedWhileParenting;
}

int ForeignParentRegistry::Alive(HWND hWnd) const
{
    int n = 0;
    for (const QPointer<ForeignParentWindow> &pWindow : m_windows)
        if (pWindow && (!hWnd || pWindow->Handle() == hWnd))
            ++n;
    return n;
}

std::vector<ForeignParentRegistry::Placement>
ForeignParentRegistry::Placements(const std::function<bool(HWND, QRect &, bool &)> &place) const
{
    std::vector<Placement> placements;
    for (const QPointer<ForeignParentWindow> &pWindow : m_windows) {
        if (!pWindow)
            continue;
        Placement placement;
        placement.pWindow = pWindow;
        if (place(pWindow->Handle(), placement.rect, placement.bVisible))
            placements.push_back(placement);
    }
    return placements;
}

void ForeignParentRegistry::Apply(const std::vector<Placement> &placements)
{
    for (const Placement &placement : placements) {
        if (!placement.pWindow)
            continue;
        if (placement.pWindow->geometry() != placement.rect)
            placement.pWindow->setGeometry(placement.rect);
        if (placement.pWindow->isVisible() != placement.bVisible)
            placement.pWindow->setVisible(placement.bVisible);
    }
}
