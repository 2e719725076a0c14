// The plug-in window: construction, lifetime, full screen and its exit by Escape.

#include "windows/PlayWidget.h"

#include "runtime/CDataCenter.h"
#include "runtime/LightWeightLog.h"
#include "windows/CColorSetWidget.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CRealPlayWidget.h"
#include "windows/LocalInfoFile.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTimer>
#include <QWindow>

#include <atomic>

namespace {

// Made on the GUI thread at login, deleted there at logout (DestroyInstance): a widget must go before the
// application object, so no static owner holds it. The data callbacks read it on the device library's threads.
std::atomic<PlayWidget *> g_pPlayWidget{nullptr};

constexpr Qt::WindowFlags kWindowFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::CustomizeWindowHint;
constexpr Qt::WindowFlags kFullScreenFlags = kWindowFlags | Qt::WindowStaysOnTopHint;
constexpr Qt::WindowFlags kLeftFullScreenFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::CustomizeWindowHint;

} // namespace

PlayWidget *PlayWidget::GetInstance()
{
    if (!g_pPlayWidget.load())
        g_pPlayWidget = new PlayWidget();
    return g_pPlayWidget.load();
}

PlayWidget *PlayWidget::Instance() { return g_pPlayWidget.load(); }

void PlayWidget::DestroyInstance()
{
    delete g_pPlayWidget.exchange(nullptr);
}

PlayWidget::PlayWidget()
    : QWidget(nullptr)
{
    setWindowFlags(kWindowFlags);
    hide();

    const int nVersion = WindowsVersion();
    EmbedType = nVersion > WV_WINDOWS7 ? 1 : 0;
    LOGN(QString("WinVersion=%1 EmbedType=%2").arg(nVersion).arg(EmbedType), "PlayWidget::PlayWidget");

    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pRealPlayWidget = new CRealPlayWidget(this);
    m_pPlaybackWidget = new CPlaybackWidget(this);
    m_pColorSetWidget = new CColorSetWidget(this);
    for (QWidget *pPage : {static_cast<QWidget *>(m_pRealPlayWidget), static_cast<QWidget *>(m_pPlaybackWidget),
                           static_cast<QWidget *>(m_pColorSetWidget)}) {
        pPage->hide();
        m_pLayout->addWidget(pPage);
    }

    m_pFullScreenCheck = new QTimer(this);
    m_pFullScreenCheck->setSingleShot(true);
    m_pFullScreenCheck->setInterval(500);
    connect(m_pFullScreenCheck, &QTimer::timeout, this, &PlayWidget::CheckFullScreen);

    LoadLocalInfo(m_stLocalInfo);
    m_nCurPageIndex = 0;
    connect(m_pRealPlayWidget, &CRealPlayWidget::curWndIndexSig, this, &PlayWidget::onCurWndIndexChange);
    connect(m_pPlaybackWidget, &CPlaybackWidget::curWndIndexSig, this, &PlayWidget::onCurWndIndexChange);
    connect(m_pRealPlayWidget, &CRealPlayWidget::changePTZELectPage, this, &PlayWidget::changePTZELectPage);
}

PlayWidget::~PlayWidget()
{
    // The foreign parent goes with its member; this window must have left it first, or it would take this
    // window's QWindow with it.
    if (QWindow *pWindow = windowHandle())
        if (m_pForeignParent && pWindow->parent() == m_pForeignParent.get())
            pWindow->setParent(nullptr);
}

// The data centre's application directory, the one the live page reads the same file in.
void PlayWidget::LoadLocalInfo(LocalInfo &info) { LocalInfoFile::Load(info, CDataCenter::GetInstance()->m_strAppDir); }

void PlayWidget::onCurWndIndexChange(int nIndex) { emit curWndIndexSig(m_nCurPageIndex, nIndex); }

void PlayWidget::onFullScreen()
{
    const QString strTag = "PlayWidget::onFullScreen";
    LOGN("fullscreen begin", strTag);
    if (m_nParentTimerId) {
        killTimer(m_nParentTimerId);
        m_nParentTimerId = 0;
    }
    if (EmbedType == 0) {
        setWindowFlags(kFullScreenFlags);
        if (QWindow *pWindow = windowHandle())
            pWindow->setParent(nullptr);
        activateWindow();
        raise();
        const HWND hOwn = OwnHandle();
        const HWND hForeground = GetForegroundWindow();
        if (hForeground != hOwn) {
            const DWORD nThread = GetCurrentThreadId();
            const DWORD nForegroundThread = GetWindowThreadProcessId(hForeground, nullptr);
            AttachThreadInput(nThread, nForegroundThread, 1);
            SetForegroundWindow(hOwn);
            AttachThreadInput(nThread, nForegroundThread, 0);
            BringWindowToTop(hOwn);
        }
    }
    LOGN("showFullScreen begin", strTag);
    showFullScreen();
    m_pRealPlayWidget->EnterFullScreenState();
    LOGN("showFullScreen end", strTag);
    LOGN("fullscreen end", strTag);
    m_pFullScreenCheck->start();
}

void PlayWidget::CheckFullScreen()
{
    if (isFullScreen())
        return;
    LOGE("fullscreen unsuccessful", "PlayWidget::onFullScreen::check");
    if (EmbedType == 0) {
        // Changing the flags hides the window; it comes back as the page left it, and the parent timer puts
        // it into the browser window again.
        setWindowFlags(kLeftFullScreenFlags);
        ReqShowPlugin(true);
    }
    StartParentTimer();
    m_pRealPlayWidget->ExitFullScreenState();
}

void PlayWidget::onExitFullscreen()
{
    if (!isFullScreen())
        return;
    LOGN("exit fullscreen", "PlayWidget::onExitFullscreen");
    // Left on purpose: the check must not take this for a failed full screen.
    m_pFullScreenCheck->stop();
    if (EmbedType == 0)
        setWindowFlags(kLeftFullScreenFlags);
    showNormal();
    ReParent(m_hCurBrowseWnd);
    if (EmbedType == 0) {
        ReqShowPlugin(true);
        MovePlayWidget(OwnHandle(), m_rcPluginRegion);
    }
    m_pRealPlayWidget->ExitFullScreenState();
    StartParentTimer();
}

void PlayWidget::keyReleaseEvent(QKeyEvent *pEvent)
{
    const QString strTag = "PlayWidget::keyReleaseEvent";
    LOGN(QString("%1").arg("keyReleaseEvent"), strTag);
    if (pEvent->key() == Qt::Key_Escape && pEvent->type() == QEvent::KeyRelease) {
        LOGN("keyReleaseEvent release", strTag);
        onExitFullscreen();
        return;
    }
    QWidget::keyReleaseEvent(pEvent);
}
