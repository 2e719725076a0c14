#include "standin/windows/BrowserWindows.h"

#include "standin/windows/BrowserTreeFile.h"
#include "standin/windows/GuiThreadCheck.h"

#include <QWidget>

#include <algorithm>

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
