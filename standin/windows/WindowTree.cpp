#include "standin/windows/WindowTree.h"

#include "standin/windows/ForeignParentWindow.h"
#include "standin/windows/GuiThreadCheck.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <set>

namespace {

// Foreign handles lie above every id that X11 (29 bits) or the offscreen platform (a small counter) hands out,
// so a handle names either a simulated window or a widget, never both.
constexpr uintptr_t kDesktop = 0x60000000;
constexpr uintptr_t kFirstHandle = 0x60000010;
constexpr uintptr_t kHandleStep = 0x10;

QRect ScreenGeometry()
{
    const QScreen *pScreen = QGuiApplication::primaryScreen();
    return pScreen ? pScreen->geometry() : QRect(0, 0, 1920, 1080);
}

} // namespace

HWND WindowTree::Desktop() { return reinterpret_cast<HWND>(kDesktop); }

WindowTree::WindowTree()
    : m_nNextHandle(kFirstHandle)
{
}

WindowTree::Node WindowTree::NewForeign(HWND hParent)
{
    Node node;
    node.hWnd = reinterpret_cast<HWND>(m_nNextHandle);
    m_nNextHandle += kHandleStep;
    node.hParent = hParent;
    node.nStyle = hParent ? (WS_CHILD | WS_CLIPSIBLINGS) : (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
    node.nThreadId = kBrowserThread;
    return node;
}

void WindowTree::Replace(std::map<HWND, Node> nodes, std::vector<HWND> topLevel, HWND hForeground)
{
    m_nodes = std::move(nodes);
    m_topLevel = std::move(topLevel);
    m_hForeground = hForeground;
}

void WindowTree::AddOnTop(const Node &node)
{
    LinkOnTop(m_nodes[node.hWnd] = node, node.hParent);
}

HWND WindowTree::ForeignById(const QString &strId) const
{
    for (const auto &entry : m_nodes)
        if (entry.second.bForeign && entry.second.strId == strId)
            return entry.first;
    return nullptr;
}

QWidget *WindowTree::WidgetWithHandle(HWND hWnd)
{
    const uintptr_t nId = reinterpret_cast<uintptr_t>(hWnd);
    if (!nId || nId >= kDesktop)
        return nullptr;
    if (!GuiThreadCheck::OnGuiThread()) {
        // Not a simulated window: one of the plug-in's own (or none), which only the GUI thread may ask about.
        GuiThreadCheck::Note("user32 call on a plug-in window");
        return nullptr;
    }
    for (QWidget *pWidget : QApplication::allWidgets())
        if (pWidget->internalWinId() == static_cast<WId>(nId))
            return pWidget;
    return nullptr;
}

void WindowTree::Purge()
{
    if (!GuiThreadCheck::OnGuiThread())
        return;
    std::vector<HWND> stale;
    for (const auto &entry : m_nodes)
        if (!entry.second.bForeign
            && (!entry.second.pWidget || entry.second.pWidget->internalWinId() != reinterpret_cast<WId>(entry.first)))
            stale.push_back(entry.first);
    for (HWND hWnd : stale)
        Remove(hWnd);
}

void WindowTree::Remove(HWND hWnd)
{
    auto it = m_nodes.find(hWnd);
    if (it == m_nodes.end())
        return;
    Unlink(it->second);
    // Its children go too (a native child of a widget whose window is gone has no window either).
    const std::vector<HWND> children = it->second.children;
    for (HWND hChild : children)
        Remove(hChild);
    m_nodes.erase(hWnd);
    for (auto &entry : m_nodes)
        if (entry.second.hOwner == hWnd)
            entry.second.hOwner = nullptr;
    if (m_hForeground == hWnd)
        m_hForeground = nullptr;
}

WindowTree::Node *WindowTree::Find(HWND hWnd)
{
    Purge();
    auto it = m_nodes.find(hWnd);
    if (it != m_nodes.end()) {
        if (!it->second.bForeign)
            GuiThreadCheck::Note("user32 call on a plug-in window");
        return &it->second;
    }
    return PluginNode(hWnd);
}

WindowTree::Node *WindowTree::PluginNode(HWND hWnd)
{
    auto it = m_nodes.find(hWnd);
    if (it != m_nodes.end())
        return it->second.bForeign ? nullptr : &it->second;
    QWidget *pWidget = WidgetWithHandle(hWnd);
    if (!pWidget)
        return nullptr;
    Node node;
    node.hWnd = hWnd;
    node.bForeign = false;
    node.pWidget = pWidget;
    node.nThreadId = GetCurrentThreadId();
    HWND hParent = nullptr;
    if (!pWidget->isWindow()) {
        node.nStyle = WS_CHILD | WS_CLIPSIBLINGS;
        if (QWidget *pNative = pWidget->nativeParentWidget())
            if (PluginNode(reinterpret_cast<HWND>(pNative->internalWinId())))
                hParent = reinterpret_cast<HWND>(pNative->internalWinId());
    } else {
        node.nStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        const QWindow *pWindow = pWidget->windowHandle();
        if (auto *pForeign = dynamic_cast<const ForeignParentWindow *>(pWindow ? pWindow->parent() : nullptr)) {
            auto parent = m_nodes.find(pForeign->Handle());
            if (parent != m_nodes.end() && parent->second.bForeign)
                hParent = pForeign->Handle();
        }
    }
    Node &added = m_nodes[hWnd] = node;
    LinkOnTop(added, hParent);
    return &added;
}

std::vector<HWND> &WindowTree::SiblingsOf(const Node &node)
{
    return node.hParent ? m_nodes[node.hParent].children : m_topLevel;
}

void WindowTree::Unlink(Node &node)
{
    std::vector<HWND> &siblings = SiblingsOf(node);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), node.hWnd), siblings.end());
    node.hParent = nullptr;
}

void WindowTree::LinkOnTop(Node &node, HWND hParent)
{
    node.hParent = hParent;
    std::vector<HWND> &siblings = SiblingsOf(node);
    siblings.insert(siblings.begin(), node.hWnd);
}

bool WindowTree::IsAncestorOrSelf(HWND hAncestor, HWND hWnd) const
{
    for (HWND h = hWnd; h;) {
        if (h == hAncestor)
            return true;
        auto it = m_nodes.find(h);
        h = it == m_nodes.end() ? nullptr : it->second.hParent;
    }
    return false;
}

bool WindowTree::UnderAny(HWND hWnd, const std::vector<HWND> &windows) const
{
    // Through parents and owners alike: owned windows go with their owner.
    std::set<HWND> seen;
    std::vector<HWND> pending{hWnd};
    while (!pending.empty()) {
        const HWND h = pending.back();
        pending.pop_back();
        if (!h || !seen.insert(h).second)
            continue;
        if (std::find(windows.begin(), windows.end(), h) != windows.end())
            return true;
        auto it = m_nodes.find(h);
        if (it != m_nodes.end()) {
            pending.push_back(it->second.hParent);
            pending.push_back(it->second.hOwner);
        }
    }
    return false;
}

bool WindowTree::ClientOrigin(HWND hWnd, QPoint &origin)
{
    if (!hWnd || hWnd == Desktop()) {
        origin = QPoint(0, 0);
        return true;
    }
    const Node *pNode = Find(hWnd);
    if (!pNode)
        return false;
    if (!pNode->bForeign) {
        origin = pNode->pWidget->mapToGlobal(QPoint(0, 0));
        return true;
    }
    QPoint parentOrigin;
    if (!ClientOrigin(pNode->hParent, parentOrigin))
        return false;
    origin = parentOrigin + pNode->rcWindow.topLeft() + QPoint(pNode->frame.left(), pNode->frame.top());
    return true;
}

bool WindowTree::WindowRect(HWND hWnd, QRect &rect)
{
    if (hWnd == Desktop()) {
        rect = ScreenGeometry();
        return true;
    }
    const Node *pNode = Find(hWnd);
    if (!pNode)
        return false;
    if (!pNode->bForeign) {
        const QWidget *pWidget = pNode->pWidget;
        rect = QRect(pWidget->mapToGlobal(QPoint(0, 0)), pWidget->size());
        if (pWidget->isWindow() && pWidget->windowHandle())
            rect = rect.marginsAdded(pWidget->windowHandle()->frameMargins());
        return true;
    }
    QPoint parentOrigin;
    if (!ClientOrigin(pNode->hParent, parentOrigin))
        return false;
    rect = pNode->rcWindow.translated(parentOrigin);
    return true;
}

bool WindowTree::ClientSize(HWND hWnd, QSize &size)
{
    if (hWnd == Desktop()) {
        size = ScreenGeometry().size();
        return true;
    }
    const Node *pNode = Find(hWnd);
    if (!pNode)
        return false;
    if (!pNode->bForeign)
        size = pNode->pWidget->size();
    else
        size = pNode->rcWindow.marginsRemoved(pNode->frame).size().expandedTo(QSize(0, 0));
    return true;
}

QRect WindowTree::ClientRectOnScreen(HWND hWnd)
{
    QPoint origin;
    QSize size;
    if (!ClientOrigin(hWnd, origin) || !ClientSize(hWnd, size))
        return QRect();
    return QRect(origin, size);
}

bool WindowTree::IsVisible(HWND hWnd)
{
    if (hWnd == Desktop())
        return true;
    const Node *pNode = Find(hWnd);
    if (!pNode)
        return false;
    const bool bVisible = pNode->bForeign ? pNode->bVisible : pNode->pWidget->isVisible();
    return bVisible && (!pNode->hParent || IsVisible(pNode->hParent));
}
