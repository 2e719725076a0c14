#include "tests/windows/PlayWidgetFixture.h"

#include "standin/windows/BrowserControl.h"
#include "standin/windows/ForeignParentWindow.h"
#include "tests/support/WaitUntil.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoWnd.h"

#include <QTimer>
#include <QWindow>

void PlayWidgetFixture::SetUp()
{
    BrowserControl::Reset();
    BrowserControl::SetWindowsVersion(EmbedType() == 1 ? WV_WINDOWS10 : WV_WINDOWS7);
    m_hTop = BrowserControl::Window("browser");
    m_hContent = BrowserControl::Window("content");
    ASSERT_NE(m_hTop, nullptr);
    ASSERT_NE(m_hContent, nullptr);
}

void PlayWidgetFixture::TearDown()
{
    PlayWidget::DestroyInstance();
    EXPECT_EQ(BrowserControl::ForeignParentsFreedWhileParenting(), 0);
    EXPECT_EQ(BrowserControl::ForeignParents(), 0);
    BrowserControl::Reset();
}

void PlayWidgetFixture::Attach(HWND hTop, HWND hContent, int nBrowseType)
{
    Widget()->AttachBrowser(hTop, hContent, "Web Viewer", nBrowseType);
}

void PlayWidgetFixture::AttachAndShow(const PluginRegion &region)
{
    Attach(m_hTop, PlayWidget::ErgodicAllChild(m_hTop, 2, 0));
    Command(WebCtrlShow, region);
    ASSERT_TRUE(WaitUntil([&] { return Widget()->isVisible(); }));
    ASSERT_EQ(ScreenGeometry(), Expected(m_hContent, region));
}

QRect PlayWidgetFixture::ScreenGeometry() const
{
    // The widget's geometry is in its Qt parent's coordinates: with EmbedType 0 the window standing for a
    // browser window, which lies on that window's client area.
    QRect geometry = Widget()->geometry();
    if (const QWindow *pWindow = Widget()->windowHandle())
        if (const auto *pParent = dynamic_cast<const ForeignParentWindow *>(pWindow->parent()))
            geometry.translate(BrowserControl::ClientRectOnScreen(pParent->Handle()).topLeft());
    return geometry;
}

bool PlayWidgetFixture::HasLine(const LogCapture &log, const QString &strLevel, const QString &strTag,
                                const QString &strMessage)
{
    for (const QString &strLine : log.Lines())
        if (strLine.startsWith(" [" + strLevel + "] [" + strTag + "] ") && strLine.endsWith("] " + strMessage + "\n"))
            return true;
    return false;
}

QRect PlayWidgetFixture::Expected(HWND hOrigin, const PluginRegion &region)
{
    const QRect client = BrowserControl::ClientRectOnScreen(hOrigin);
    return QRect(client.topLeft() + QPoint(region.Left, region.Top), QSize(region.Width, region.Height));
}

HWND PlayWidgetFixture::AttachedTo() const
{
    return EmbedType() == 1 ? BrowserControl::OwnerOf(Own()) : BrowserControl::ParentOf(Own());
}

bool PlayWidgetFixture::LiveTileHighlighted() const
{
    const CPlayWindowManage *pGrid = Widget()->findChild<CRealPlayWidget *>()->GetPlayWindowManage();
    return pGrid->GetVideoWnd(pGrid->GetCurWndIndex())->IsSelected();
}

int PlayWidgetFixture::ParentTicks() { return BrowserControl::Calls("GetForegroundWindow"); }

bool PlayWidgetFixture::WaitParentTicks(int nTicks) const
{
    const int nStart = ParentTicks();
    return WaitUntil([&] { return ParentTicks() >= nStart + nTicks; });
}

void PlayWidgetFixture::WaitFor(int nMilliseconds)
{
    bool bDone = false;
    QTimer::singleShot(nMilliseconds, [&] { bDone = true; });
    WaitUntil([&] { return bDone; }, nMilliseconds + 60000);
}

std::string PlayWidgetFixture::Hex8(HWND hWnd)
{
    return QString("%1").arg(reinterpret_cast<quintptr>(hWnd), 8, 16, QChar('0')).toStdString();
}

EventHook::EventHook(QObject *pTarget, QEvent::Type type, std::function<void()> fn)
    : m_type(type)
    , m_fn(std::move(fn))
{
    pTarget->installEventFilter(this);
}

bool EventHook::eventFilter(QObject *, QEvent *pEvent)
{
    if (pEvent->type() == m_type)
        m_fn();
    return false;
}
