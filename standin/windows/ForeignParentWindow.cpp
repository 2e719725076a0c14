#include "standin/windows/ForeignParentWindow.h"

#include "standin/windows/BrowserWindows.h"

#include <QChildEvent>

ForeignParentWindow::ForeignParentWindow(HWND hWnd)
    : m_hWnd(hWnd)
{
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setTitle(QStringLiteral("foreign window %1").arg(reinterpret_cast<quintptr>(hWnd), 8, 16, QChar('0')));
}

ForeignParentWindow::~ForeignParentWindow()
{
    // A native foreign window would take its children with it; here the owner's mistake is counted and the
    // child survives, so that a test can tell instead of crashing.
    const bool bParenting = !m_children.empty();
    const QObjectList kids = children();
    for (QObject *pChild : kids)
        if (auto *pWindow = qobject_cast<QWindow *>(pChild))
            pWindow->setParent(nullptr);
    BrowserWindows::Instance().ForeignParentGone(this, bParenting);
}

void ForeignParentWindow::childEvent(QChildEvent *pEvent)
{
    if (pEvent->added()) {
        // A window made with this one as its parent is not a QWindow yet while it is being constructed.
        auto *pWindow = qobject_cast<QWindow *>(pEvent->child());
        if (pWindow && pWindow->handle()) {
            const HWND hChild = reinterpret_cast<HWND>(pWindow->winId());
            m_children[pWindow] = hChild;
            BrowserWindows::Instance().ChildParented(hChild, m_hWnd);
        }
    } else if (pEvent->removed()) {
        // The child may be half destroyed: only its address is used.
        auto it = m_children.find(pEvent->child());
        if (it != m_children.end()) {
            const HWND hChild = it->second;
            m_children.erase(it);
            BrowserWindows::Instance().ChildUnparented(hChild, m_hWnd);
        }
    }
    QWindow::childEvent(pEvent);
}
