#include "standin/windows/BrowserWindows.h"

#include "standin/windows/BrowserTreeFile.h"
#include "standin/windows/GuiThreadCheck.h"
#include "standin/windows/NativeEventDelivery.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>

#include <sys/syscall.h>
#include <unistd.h>

BrowserWindows &BrowserWindows::Instance()
{
    static BrowserWindows windows;
    return windows;
}

BrowserWindows::BrowserWindows()
{
    Reset();
}

void BrowserWindows::Reset()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_nWindowsVersion = 0;
        m_screenContexts.SetDpi(0);
        m_calls.clear();
        m_threadInputs.Clear();
        m_foreignParents.ResetCounts();
        BrowserTreeFile::LoadConfigured(m_tree);
    }
    SyncForeignParents();
}

bool BrowserWindows::LoadTree(const QByteArray &json, QString *pError)
{
    bool bOk;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        bOk = BrowserTreeFile::Load(json, m_tree, pError);
    }
    SyncForeignParents();
    return bOk;
}

HWND BrowserWindows::WindowById(const QString &strId) const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.ForeignById(strId);
}

HWND BrowserWindows::AddWindow(HWND hParent, const QString &strClass, const QString &strTitle, const QRect &rcWindow,
                               const QMargins &frame, bool bVisible)
{
    HWND hWnd = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (hParent == Desktop())
            hParent = nullptr;
        if (hParent && !m_tree.Find(hParent))
            return nullptr;
        Node node = m_tree.NewForeign(hParent);
        node.strClass = strClass;
        node.strTitle = strTitle;
        node.rcWindow = rcWindow;
        node.frame = frame;
        node.bVisible = bVisible;
        hWnd = node.hWnd;
        m_tree.AddOnTop(node);
    }
    SyncForeignParents();
    return hWnd;
}

template <typename F>
bool BrowserWindows::ChangeForeign(HWND hWnd, F &&change)
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        Node *pNode = m_tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        change(*pNode);
    }
    SyncForeignParents();
    return true;
}

bool BrowserWindows::SetTitle(HWND hWnd, const QString &strTitle)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.strTitle = strTitle; });
}

bool BrowserWindows::SetForeground(HWND hWnd) { return SetForegroundWindow(hWnd); }

bool BrowserWindows::MoveWindow(HWND hWnd, const QPoint &pos)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.rcWindow.moveTo(pos); });
}

bool BrowserWindows::ResizeWindow(HWND hWnd, const QSize &size)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.rcWindow.setSize(size); });
}

bool BrowserWindows::SetVisible(HWND hWnd, bool bVisible)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.bVisible = bVisible; });
}

bool BrowserWindows::MoveInto(HWND hWnd, HWND hNewParent)
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        Node *pNode = m_tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        bool bOk = false;
        SetParent(hWnd, hNewParent, bOk);
        if (!bOk)
            return false;
    }
    SyncForeignParents();
    return true;
}

bool BrowserWindows::Destroy(HWND hWnd)
{
    std::vector<std::pair<HWND, int>> targets;  // plug-in windows under it, with their depth
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        Node *pNode = m_tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        for (const auto &entry : m_tree.Nodes()) {
            if (entry.second.bForeign || !m_tree.UnderAny(entry.first, {hWnd}))
                continue;
            int nDepth = 0;
            for (HWND h = entry.second.hParent; h; h = m_tree.Nodes().at(h).hParent)
                ++nDepth;
            targets.emplace_back(entry.first, nDepth);
        }
    }
    // Windows hear of it before their children, each on its own handle.
    std::stable_sort(targets.begin(), targets.end(),
                     [](const auto &a, const auto &b) { return a.second < b.second; });
    for (const auto &target : targets) {
        QWidget *pWidget = nullptr;
        {
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            const Node *pTarget = m_tree.Find(target.first);
            if (pTarget && m_tree.UnderAny(target.first, {hWnd}))
                pWidget = pTarget->pWidget;
        }
        if (!pWidget)
            continue;
        NativeEventDelivery::Deliver(pWidget, target.first, WM_DESTROY);
    }

    std::vector<QPointer<QWidget>> lost;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_tree.Purge();
        std::vector<HWND> dying;
        for (const auto &entry : m_tree.Nodes())
            if (m_tree.UnderAny(entry.first, {hWnd}))
                dying.push_back(entry.first);
        for (HWND h : dying) {
            auto it = m_tree.Nodes().find(h);
            if (it == m_tree.Nodes().end())
                continue;
            if (!it->second.bForeign && it->second.pWidget && it->second.pWidget->isWindow())
                lost.push_back(it->second.pWidget);
            m_tree.Remove(h);
        }
    }
    // A plug-in window still under it goes from the screen with it.
    for (const QPointer<QWidget> &pWidget : lost)
        if (pWidget)
            pWidget->hide();
    SyncForeignParents();
    return true;
}

void BrowserWindows::SetWindowsVersion(int nVersion)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_nWindowsVersion = nVersion;
}

void BrowserWindows::SetScreenDpi(int nDpi)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_screenContexts.SetDpi(nDpi);
}

QRect BrowserWindows::ClientRectOnScreen(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.ClientRectOnScreen(hWnd);
}

HWND BrowserWindows::ParentOf(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const Node *pNode = m_tree.Find(hWnd);
    return pNode ? pNode->hParent : nullptr;
}

HWND BrowserWindows::OwnerOf(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const Node *pNode = m_tree.Find(hWnd);
    return pNode ? pNode->hOwner : nullptr;
}

std::vector<HWND> BrowserWindows::Children(HWND hParent)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_tree.Purge();
    if (!hParent || hParent == Desktop())
        return m_tree.TopLevel();
    const Node *pNode = m_tree.Find(hParent);
    return pNode ? pNode->children : std::vector<HWND>();
}

int BrowserWindows::Calls(const std::string &strName) const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_calls.find(strName);
    return it == m_calls.end() ? 0 : it->second;
}

int BrowserWindows::AttachedInputs() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_threadInputs.Attached();
}

int BrowserWindows::ForeignParents(HWND hWnd) const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_foreignParents.Alive(hWnd);
}

int BrowserWindows::ForeignParentsFreedWhileParenting() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_foreignParents.FreedWhileParenting();
}

void BrowserWindows::Count(const char *pName)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ++m_calls[pName];
}

bool BrowserWindows::IsWindow(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return hWnd == Desktop() || m_tree.Find(hWnd) != nullptr;
}

bool BrowserWindows::ClassName(HWND hWnd, QString &strClass)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (hWnd == Desktop()) {
        strClass = "#32769";
        return true;
    }
    const Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return false;
    if (pNode->bForeign)
        strClass = pNode->strClass;
    else if (!pNode->pWidget->isWindow())
        strClass = "Qt5QWindowIcon";
    else
        strClass = pNode->pWidget->windowType() == Qt::Tool ? "Qt5QWindowToolSaveBits" : "Qt5QWindowIcon";
    return true;
}

bool BrowserWindows::Title(HWND hWnd, QString &strTitle)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (hWnd == Desktop()) {
        strTitle.clear();
        return true;
    }
    const Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return false;
    strTitle = pNode->bForeign ? pNode->strTitle : pNode->pWidget->windowTitle();
    return true;
}

HWND BrowserWindows::Relative(HWND hWnd, UINT uCmd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (hWnd == Desktop())
        return uCmd == GW_CHILD && !m_tree.TopLevel().empty() ? m_tree.TopLevel().front() : nullptr;
    Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return nullptr;
    switch (uCmd) {
    case GW_CHILD:
        return pNode->children.empty() ? nullptr : pNode->children.front();
    case GW_OWNER:
        return pNode->hOwner;
    case GW_HWNDNEXT:
    case GW_HWNDPREV: {
        const std::vector<HWND> &siblings = m_tree.SiblingsOf(*pNode);
        auto it = std::find(siblings.begin(), siblings.end(), hWnd);
        if (uCmd == GW_HWNDNEXT)
            return it == siblings.end() || it + 1 == siblings.end() ? nullptr : *(it + 1);
        return it == siblings.begin() || it == siblings.end() ? nullptr : *(it - 1);
    }
    default:
        return nullptr;
    }
}

HWND BrowserWindows::Parent(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return nullptr;
    if (pNode->hParent)
        return pNode->hParent;
    return (pNode->nStyle & WS_POPUP) ? pNode->hOwner : nullptr;
}

HWND BrowserWindows::SetParent(HWND hWnd, HWND hNewParent, bool &bOk)
{
    bOk = false;
    HWND hOld = nullptr;
    bool bForeign = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (hNewParent == Desktop())
            hNewParent = nullptr;
        Node *pNode = m_tree.Find(hWnd);
        if (!pNode || (hNewParent && !m_tree.Find(hNewParent)) || (hNewParent && m_tree.IsAncestorOrSelf(hWnd, hNewParent)))
            return nullptr;
        pNode = m_tree.Find(hWnd);
        hOld = pNode->hParent ? pNode->hParent : Desktop();
        bForeign = pNode->bForeign;
        m_tree.Unlink(*pNode);
        m_tree.LinkOnTop(*pNode, hNewParent);
        if (hNewParent)
            pNode->hOwner = nullptr;    // a child window has no owner
        bOk = true;
    }
    if (bForeign)
        SyncForeignParents();
    return hOld;
}

LONG_PTR BrowserWindows::GetLong(HWND hWnd, int nIndex, bool &bOk)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    bOk = false;
    const Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return 0;
    switch (nIndex) {
    case GWL_STYLE: {
        bOk = true;
        const bool bVisible = pNode->bForeign ? pNode->bVisible : pNode->pWidget->isVisible();
        return (pNode->nStyle & ~WS_VISIBLE) | (bVisible ? WS_VISIBLE : 0);
    }
    case GWLP_HWNDPARENT:
        bOk = true;
        return reinterpret_cast<LONG_PTR>(pNode->hParent ? pNode->hParent : pNode->hOwner);
    default:
        return 0;
    }
}

LONG_PTR BrowserWindows::SetLong(HWND hWnd, int nIndex, LONG_PTR nValue, bool &bOk)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const LONG_PTR nPrevious = GetLong(hWnd, nIndex, bOk);
    if (!bOk)
        return 0;
    Node *pNode = m_tree.Find(hWnd);
    if (nIndex == GWL_STYLE) {
        // Visibility stays what the window shows.
        pNode->nStyle = nValue & ~WS_VISIBLE;
        return nPrevious;
    }
    const HWND hOwner = reinterpret_cast<HWND>(nValue);
    if (hOwner && (!m_tree.Find(hOwner) || m_tree.UnderAny(hOwner, {hWnd}))) {
        bOk = false;
        return 0;
    }
    pNode = m_tree.Find(hWnd);
    pNode->hOwner = hOwner;
    return nPrevious;
}

bool BrowserWindows::SetPos(HWND hWnd, HWND hInsertAfter, int x, int y, int cx, int cy, UINT uFlags)
{
    QPointer<QWidget> pWidget;
    bool bForeign = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        Node *pNode = m_tree.Find(hWnd);
        if (!pNode)
            return false;
        if (!(uFlags & SWP_NOZORDER) && hInsertAfter != hWnd) {
            std::vector<HWND> &siblings = m_tree.SiblingsOf(*pNode);
            const HWND hBottom = reinterpret_cast<HWND>(1);
            if (hInsertAfter && hInsertAfter != hBottom
                && std::find(siblings.begin(), siblings.end(), hInsertAfter) == siblings.end())
                return false;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
            if (!hInsertAfter)
                siblings.insert(siblings.begin(), hWnd);
            else if (hInsertAfter == hBottom)
                siblings.push_back(hWnd);
            else
                siblings.insert(std::find(siblings.begin(), siblings.end(), hInsertAfter) + 1, hWnd);
        }
        bForeign = pNode->bForeign;
        if (bForeign) {
            if (!(uFlags & SWP_NOMOVE))
                pNode->rcWindow.moveTo(x, y);
            if (!(uFlags & SWP_NOSIZE))
                pNode->rcWindow.setSize(QSize(cx, cy));
        } else {
            pWidget = pNode->pWidget;
        }
    }
    if (pWidget) {
        if (!(uFlags & SWP_NOMOVE))
            pWidget->move(x, y);
        if (!(uFlags & SWP_NOSIZE))
            pWidget->resize(cx, cy);
    }
    if (bForeign && (uFlags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE))
        SyncForeignParents();
    return true;
}

bool BrowserWindows::BringToTop(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Node *pNode = m_tree.Find(hWnd);
    if (!pNode)
        return false;
    std::vector<HWND> &siblings = m_tree.SiblingsOf(*pNode);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), hWnd), siblings.end());
    siblings.insert(siblings.begin(), hWnd);
    return true;
}

bool BrowserWindows::ClientOrigin(HWND hWnd, QPoint &origin)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.ClientOrigin(hWnd, origin);
}

bool BrowserWindows::WindowRect(HWND hWnd, QRect &rect)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.WindowRect(hWnd, rect);
}

bool BrowserWindows::ClientSize(HWND hWnd, QSize &size)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.ClientSize(hWnd, size);
}

bool BrowserWindows::IsVisible(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_tree.IsVisible(hWnd);
}

bool BrowserWindows::Invalidate(HWND hWnd)
{
    QPointer<QWidget> pWidget;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const Node *pNode = m_tree.Find(hWnd);
        if (!pNode)
            return hWnd == Desktop();
        pWidget = pNode->pWidget;
    }
    if (pWidget)
        pWidget->update();
    return true;
}

HWND BrowserWindows::Foreground()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const HWND hForeground = m_tree.Foreground();
    return hForeground && m_tree.Find(hForeground) ? hForeground : nullptr;
}

bool BrowserWindows::SetForegroundWindow(HWND hWnd)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_tree.Find(hWnd))
        return false;
    m_tree.SetForeground(hWnd);
    return true;
}

HWND BrowserWindows::Desktop() const { return WindowTree::Desktop(); }

DWORD BrowserWindows::ThreadOf(HWND hWnd, DWORD *pProcessId)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const Node *pNode = hWnd == Desktop() ? nullptr : m_tree.Find(hWnd);
    if (!pNode)
        return 0;
    if (pProcessId)
        *pProcessId = pNode->bForeign ? WindowTree::kBrowserProcess : static_cast<DWORD>(getpid());
    return pNode->nThreadId;
}

bool BrowserWindows::AttachInput(DWORD nFrom, DWORD nTo, bool bAttach)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_threadInputs.Attach(nFrom, nTo, bAttach);
}

HDC BrowserWindows::ScreenDC()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_screenContexts.Get();
}

bool BrowserWindows::ReleaseScreenDC(HDC hDC)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_screenContexts.Release(hDC);
}

int BrowserWindows::DeviceCaps(HDC hDC, int nIndex)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_screenContexts.DeviceCaps(hDC, nIndex);
}

int BrowserWindows::WindowsVersion() const
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_nWindowsVersion)
            return m_nWindowsVersion;
    }
    bool bOk = false;
    const int nVersion = qEnvironmentVariable("QUORRIN_WINDOWS_VERSION").toInt(&bOk, 0);
    return bOk ? nVersion : WV_WINDOWS10;
}

ForeignParentWindow *BrowserWindows::MakeForeignParent(HWND hWnd)
{
    if (!GuiThreadCheck::OnGuiThread())
        return nullptr;
    ForeignParentWindow *pWindow = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        const Node *pNode = m_tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return nullptr;
        pWindow = m_foreignParents.Make(hWnd);
    }
    SyncForeignParents();
    return pWindow;
}

void BrowserWindows::ForeignParentGone(ForeignParentWindow *pWindow, bool bParentedSomething)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_foreignParents.Gone(pWindow, bParentedSomething);
}

void BrowserWindows::ChildParented(HWND hChild, HWND hParent)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Node *pParent = m_tree.Find(hParent);
    Node *pNode = m_tree.Find(hChild);
    if (!pNode || pNode->bForeign || !pParent || !pParent->bForeign)
        return;
    m_tree.Unlink(*pNode);
    m_tree.LinkOnTop(*pNode, hParent);
    pNode->hOwner = nullptr;
}

void BrowserWindows::ChildUnparented(HWND hChild, HWND hParent)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Node *pNode = m_tree.Find(hChild);
    if (!pNode || pNode->bForeign || pNode->hParent != hParent)
        return;
    m_tree.Unlink(*pNode);
    m_tree.LinkOnTop(*pNode, nullptr);
}

void BrowserWindows::SyncForeignParents()
{
    if (!GuiThreadCheck::OnGuiThread())
        return;
    std::vector<ForeignParentRegistry::Placement> placements;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        placements = m_foreignParents.Placements([&](HWND hWnd, QRect &rect, bool &bVisible) {
            const Node *pNode = m_tree.Find(hWnd);
            if (!pNode || !pNode->bForeign)
                return false;   // the window is gone: its stand-in stays where it was
            rect = m_tree.ClientRectOnScreen(hWnd);
            bVisible = m_tree.IsVisible(hWnd);
            return true;
        });
    }
    ForeignParentRegistry::Apply(placements);
}
