// The plug-in window in the browser: attaching, finding the content window, positioning, the move and parent
// timers, and surviving the content window's destruction.

#include "windows/PlayWidget.h"

#include "runtime/LightWeightLog.h"

#include <QTimerEvent>
#include <QVariant>
#include <QWindow>

#include <cstring>

namespace {

// The content window class of a browser kind; null for a kind that has none.
const char *BrowseClass(int nBrowseType)
{
    switch (nBrowseType) {
    case 0:
        return "Internet Explorer_Server";
    case 2:
    case 6:
    case 9:
        return "Chrome_RenderWidgetHostHWND";
    default:
        return nullptr;
    }
}

QString Hex8(HWND hWnd) { return QString("%1").arg(reinterpret_cast<quintptr>(hWnd), 8, 16, QChar('0')); }

// A title as the wide call gives it, at most 255 characters.
QString WideTitle(HWND hWnd)
{
    WCHAR szTitle[256] = {0};
    const int nLength = GetWindowTextW(hWnd, szTitle, 256);
    return QString::fromUtf16(szTitle, nLength);
}

// A title in the local 8-bit encoding, at most 1023 bytes.
QString Title8(HWND hWnd)
{
    char szTitle[1024] = {0};
    GetWindowTextA(hWnd, szTitle, 1024);
    return QString::fromLocal8Bit(szTitle);
}

bool RegionValid(const PluginRegion &region)
{
    return region.Width > 0 && region.Height > 0 && region.Left >= 0 && region.Top >= 0;
}

} // namespace

HWND PlayWidget::OwnHandle() { return reinterpret_cast<HWND>(winId()); }

HWND PlayWidget::TopLevelAncestor(HWND hWnd)
{
    if (!IsWindow(hWnd))
        return nullptr;
    while (HWND hParent = GetParent(hWnd))
        hWnd = hParent;
    return IsWindow(hWnd) ? hWnd : nullptr;
}

HWND PlayWidget::CurrentParent()
{
    if (EmbedType == 0)
        return TopLevelAncestor(OwnHandle());
    return reinterpret_cast<HWND>(GetWindowLongPtr(OwnHandle(), GWLP_HWNDPARENT));
}

void PlayWidget::StartParentTimer()
{
    if (!m_nParentTimerId)
        m_nParentTimerId = startTimer(100, Qt::CoarseTimer);
}

void PlayWidget::AttachBrowser(HWND hTopWnd, HWND hClientWnd, const QString &strBrowserTitle, int nBrowseType)
{
    m_hCurBrowseClientWnd = hClientWnd;
    m_hCurBrowseWnd = hTopWnd;
    m_strBrowserTitle = strBrowserTitle;
    m_bHasClientWnd = hClientWnd != nullptr;
    ReParent(hTopWnd);
    BrowseType = nBrowseType;
    m_strWndName = WideTitle(hTopWnd);
    m_bWndNameMismatch = false;
    StartParentTimer();
}

HWND PlayWidget::ErgodicAllChild(HWND hWnd, int nBrowseType, int nDepth)
{
    return SearchBrowseClientWnd(hWnd, nBrowseType, nDepth, true);
}

HWND PlayWidget::SearchBrowseClientWnd(HWND hWnd, int nBrowseType, int nDepth, bool bLog)
{
    const char *pClass = BrowseClass(nBrowseType);
    for (HWND hCur = hWnd; hCur; hCur = GetWindow(hCur, GW_HWNDNEXT)) {
        char szClass[128] = {0};
        GetClassNameA(hCur, szClass, sizeof szClass);
        if (bLog) {
            char szTitle[128] = {0};
            GetWindowTextA(hCur, szTitle, sizeof szTitle);
            LOGN(QString(nDepth, '-')
                     + QString("class name:%1,class handle:%2 wndName:%3 BrowseType:%4\n")
                           .arg(QString::fromLocal8Bit(szClass), QString::number(reinterpret_cast<quintptr>(hCur)),
                                QString::fromLocal8Bit(szTitle), QString::number(nBrowseType)),
                 "PlayWidget::ErgodicAllChild");
        }
        if (pClass && std::strstr(szClass, pClass))
            return hCur;
        if (HWND hChild = GetWindow(hCur, GW_CHILD))
            if (HWND hFound = SearchBrowseClientWnd(hChild, nBrowseType, nDepth + 1, bLog))
                return hFound;
        if (nDepth == 0)
            return nullptr;
    }
    return nullptr;
}

void PlayWidget::ReParent(HWND hWnd)
{
    if (!IsWindow(hWnd))
        return;
    const HWND hOwn = OwnHandle();
    if (EmbedType == 1) {
        const LONG_PTR nStyle = GetWindowLongPtr(hOwn, GWL_STYLE);
        SetWindowLongPtr(hOwn, GWL_STYLE, (nStyle & 0x3FFFFFFF) | WS_CHILD);
        SetWindowLongPtr(hOwn, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hWnd));
        SetWindowPos(hOwn, GetWindow(m_hCurBrowseWnd, GW_HWNDPREV), 0, 0, 0, 0,
                     SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
        return;
    }
    // One foreign window per browser window: the previous one is freed once this window has left it.
    std::unique_ptr<QWindow> pPrevious;
    if (!m_pForeignParent || m_hForeignParentWnd != hWnd) {
        std::unique_ptr<QWindow> pForeign = CreateForeignParentWindow(hWnd);
        if (!pForeign)
            return;
        pPrevious = std::move(m_pForeignParent);
        m_pForeignParent = std::move(pForeign);
        m_hForeignParentWnd = hWnd;
    }
    setProperty("_q_embedded_native_parent_handle",
                QVariant::fromValue<quint64>(reinterpret_cast<quintptr>(hWnd)));
    windowHandle()->setParent(m_pForeignParent.get());
}

QPoint PlayWidget::GetBrowseClientPos()
{
    if (!m_hCurBrowseWnd || !IsWindow(m_hCurBrowseWnd))
        return QPoint(0, 0);
    // A content window that is gone is not followed: the origin is then the top window's.
    if (m_hCurBrowseClientWnd && IsWindow(m_hCurBrowseClientWnd)) {
        POINT pt{0, 0};
        MapWindowPoints(m_hCurBrowseClientWnd, EmbedType == 1 ? GetDesktopWindow() : m_hCurBrowseWnd, &pt, 1);
        return QPoint(pt.x, pt.y);
    }
    if (EmbedType == 0)
        return QPoint(0, 0);
    // The frame position of a foreign window is its window rectangle's corner.
    RECT rcWindow{0, 0, 0, 0};
    RECT rcClient{0, 0, 0, 0};
    GetWindowRect(m_hCurBrowseWnd, &rcWindow);
    GetClientRect(m_hCurBrowseWnd, &rcClient);
    const int nBorderX = (rcWindow.right - rcWindow.left) - (rcClient.right - rcClient.left);
    const int nBorderY = (rcWindow.bottom - rcWindow.top) - (rcClient.bottom - rcClient.top);
    return QPoint(rcWindow.left + nBorderX / 2, rcWindow.top + nBorderY / 2);
}

void PlayWidget::MovePlayWidget(HWND hWnd, const PluginRegion &region)
{
    const QString strTag = "PlayWidget::MovePlayWidget";
    if (!PosValid || !ShowPlugin) {
        LOGW(QString("wnd can't move,reason:ShowPlugin:%1,PosValid:%2").arg(int(ShowPlugin)).arg(int(PosValid)),
             strTag);
        return;
    }
    LOGN("move begin", strTag);
    const QPoint origin = GetBrowseClientPos();
    const int nLeft = origin.x() + region.Left;
    const int nTop = origin.y() + region.Top;
    LOGN(QString("nLeft:%1,nTop:%2,Width:%3,Height:%4").arg(nLeft).arg(nTop).arg(region.Width).arg(region.Height),
         strTag);
    if (QWidget *pWidget = QWidget::find(reinterpret_cast<WId>(hWnd))) {
        pWidget->resize(region.Width, region.Height);
        pWidget->move(nLeft, nTop);
        InvalidateRect(hWnd, nullptr, 1);
        pWidget->update();
    }
    m_rcPluginRegion = region;
    LOGN("move end", strTag);
}

bool PlayWidget::ReqShowPlugin(bool bShow)
{
    if (!bShow) {
        if (!isVisible())
            return false;
        hide();
        return true;
    }
    if (isVisible())
        return false;
    if (ShowPlugin && (BrowseClientVisible || !m_bHasClientWnd) && PosValid) {
        show();
        return true;
    }
    LOGW(QString("can't show window reason:ShowPlugin:%1,BrowseClientVisible:%2,PosValid:%3")
             .arg(int(ShowPlugin))
             .arg(int(BrowseClientVisible))
             .arg(int(PosValid)),
         "PlayWidget::ReqShowPlugin");
    return false;
}

void PlayWidget::onWidgetStatuChange(int nType, PluginRegion region)
{
    const QString strTag = "PlayWidget::onWidgetStatuChange";
    const HWND hOwn = OwnHandle();
    if (!IsWindow(hOwn)) {
        LOGN("m_playWidget is invalid window", strTag);
        return;
    }
    if (!m_hCurBrowseWnd || !IsWindow(m_hCurBrowseWnd)) {
        LOGN("m_hCurBrowseWnd is invalid window", strTag);
        return;
    }
    switch (nType) {
    case WebCtrlHide:
        LOGN("WebCtrlHide call", strTag);
        ShowPlugin = false;
        if (isVisible())
            hide();
        break;
    case WebCtrlShow:
        LOGN("WebCtrlShow call", strTag);
        ShowPlugin = true;
        PosValid = RegionValid(region);
        ReqShowPlugin(true);
        MovePlayWidget(hOwn, region);
        if (EmbedType == 1 && !m_nMoveTimerId)
            m_nMoveTimerId = startTimer(100, Qt::CoarseTimer);
        break;
    case WebCtrlMove:
        LOGN("WebCtrlMove call", strTag);
        PosValid = RegionValid(region);
        ReqShowPlugin(PosValid);
        MovePlayWidget(hOwn, region);
        break;
    default:
        break;
    }
}

void PlayWidget::timerEvent(QTimerEvent *pEvent)
{
    if (m_nMoveTimerId && pEvent->timerId() == m_nMoveTimerId)
        MoveTimerTick();
    else if (m_nParentTimerId && pEvent->timerId() == m_nParentTimerId)
        ParentTimerTick();
    else
        QWidget::timerEvent(pEvent);
}

void PlayWidget::MoveTimerTick()
{
    // Full screen is not the browser's to move; nor is a content window that is gone.
    if (isFullScreen() || (m_bHasClientWnd && !IsWindow(m_hCurBrowseClientWnd)))
        return;
    if (!IsWindow(OwnHandle()))
        return;
    const QPoint origin = GetBrowseClientPos();
    if (origin == m_ptLastOrigin)
        return;
    const QPoint pos = origin + QPoint(m_rcPluginRegion.Left, m_rcPluginRegion.Top);
    move(pos);
    m_ptLastOrigin = origin;
    LOGN(QString("move pt.x=%1 pt.y=%2").arg(pos.x()).arg(pos.y()), "PlayWidget::timerEvent");
}

// The content window went away (the browser makes a new one): the top window is kept, and each tick looks
// below it for a new content window, quietly, until there is one; the window then goes over it.
bool PlayWidget::FindClientWndAgain()
{
    if (!IsWindow(m_hCurBrowseWnd))
        return false;
    const HWND hFound = SearchBrowseClientWnd(m_hCurBrowseWnd, BrowseType, 0, false);
    if (!hFound)
        return false;
    LOGN(QString("m_hCurBrowseClientWnd:%1").arg(Hex8(hFound)), "PlayWidget::timerEvent");
    m_hCurBrowseClientWnd = hFound;
    ReParent(m_hCurBrowseWnd);
    MovePlayWidget(OwnHandle(), m_rcPluginRegion);
    return true;
}

void PlayWidget::ParentTimerTick()
{
    const QString strTag = "PlayWidget::timerEvent";
    const HWND hOwn = OwnHandle();
    if (!m_bHasClientWnd) {
        // A top window that is gone is not followed either.
        if (!IsWindow(m_hCurBrowseWnd) || CurrentParent() == m_hCurBrowseWnd)
            return;
        ReParent(m_hCurBrowseWnd);
        MovePlayWidget(hOwn, m_rcPluginRegion);
        return;
    }
    if (!IsWindow(m_hCurBrowseClientWnd) && !FindClientWndAgain())
        return;

    const HWND hRoot = TopLevelAncestor(m_hCurBrowseClientWnd);
    const HWND hCurrent = CurrentParent();

    const QString strForeground = WideTitle(GetForegroundWindow());
    if (!m_strWndName.contains(m_strBrowserTitle)) {
        if (!m_bWndNameMismatch)
            LOGN("m_strWndName.indexOf(m_strBrowserTitle)", strTag);
        if (strForeground.contains(m_strBrowserTitle)) {
            m_hCurBrowseWnd = GetForegroundWindow();
            m_hCurBrowseClientWnd = ErgodicAllChild(m_hCurBrowseWnd, BrowseType, 0);
            ReParent(m_hCurBrowseWnd);
            m_bHasClientWnd = m_hCurBrowseClientWnd != nullptr;
            m_strWndName = strForeground;
        }
    }
    m_bWndNameMismatch = !m_strWndName.contains(m_strBrowserTitle);

    if (hCurrent != hRoot) {
        LOGN(QString("m_playWidget handle:%1\tm_hCurBrowseClientWnd:%2\tbefore parent handle:%3\tnow parent handle:%4")
                 .arg(Hex8(hOwn), Hex8(m_hCurBrowseClientWnd), Hex8(m_hCurBrowseWnd), Hex8(hRoot)),
             strTag);
        m_hCurBrowseWnd = hRoot;
        ReParent(hRoot);
        MovePlayWidget(hOwn, m_rcPluginRegion);
    }

    const bool bVisible = IsWindowVisible(m_hCurBrowseClientWnd) && Title8(m_hCurBrowseWnd).contains(m_strBrowserTitle);
    if (bVisible != BrowseClientVisible) {
        BrowseClientVisible = bVisible;
        ReqShowPlugin(bVisible);
        if (bVisible)
            MovePlayWidget(hOwn, m_rcPluginRegion);
    }
}

bool PlayWidget::nativeEvent(const QByteArray &eventType, void *pMessage, long *pResult)
{
    Q_UNUSED(pResult);
    if ((eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG") || !pMessage)
        return false;
    MSG *pMsg = static_cast<MSG *>(pMessage);
    if (pMsg->message != WM_DESTROY)
        return false;
    LOGN(QString("recive WM_DESTROY %1").arg(Hex8(pMsg->hwnd)), "PlayWidget::nativeEvent");
    if (m_bHasClientWnd) {
        // Out from under the browser window that goes, into the content window's top-level window.
        const HWND hAncestor = TopLevelAncestor(m_hCurBrowseClientWnd);
        const HWND hOwn = OwnHandle();
        SetParent(hOwn, nullptr);
        SetParent(hOwn, hAncestor);
        InvalidateRect(hOwn, nullptr, 1);
        m_hCurBrowseWnd = hAncestor;
    }
    pMsg->message = WM_NULL;
    return true;
}
