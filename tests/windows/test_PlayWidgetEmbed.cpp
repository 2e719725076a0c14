// The plug-in window in the browser: finding the content window, tabs, a content window that moves into
// another top window or is destroyed, and a browser without a content window, for both EmbedTypes.

#include "runtime/LightWeightLog.h"
#include "standin/windows/BrowserControl.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/PlayWidgetFixture.h"

#include <QRegularExpression>

#include <map>

namespace {

PluginRegion Region(int nLeft, int nTop, int nWidth, int nHeight) { return PluginRegion{nLeft, nTop, nWidth, nHeight}; }

// The message of a log line, without level, tag and time.
QString Message(const QString &strLine)
{
    static const QRegularExpression prefix("^ \\[[A-Z]+\\] \\[[^\\]]*\\] \\[[^\\]]*\\] ");
    QString strMessage = strLine;
    strMessage.remove(prefix);
    strMessage.remove('\n');
    return strMessage;
}

} // namespace

// A window of the class three levels down, behind siblings that are searched first and before siblings that
// must not be searched; the given window's own siblings are never searched.
TEST(PlayWidgetSearch, ErgodicAllChildVisitsDepthFirstAndStopsAtTheClass)
{
    BrowserControl::Reset();
    ASSERT_TRUE(BrowserControl::LoadTree(R"({"windows": [
      {"id": "before", "class": "Chrome_RenderWidgetHostHWND", "title": "above", "rect": [0, 0, 10, 10]},
      {"id": "top", "class": "Chrome_WidgetWin_1", "title": "Web Viewer", "rect": [0, 0, 800, 600], "children": [
        {"id": "a", "class": "ViewsHost", "title": "A", "rect": [0, 0, 10, 10], "children": [
          {"id": "a1", "class": "chrome_renderwidgethosthwnd", "title": "A1", "rect": [0, 0, 10, 10]}]},
        {"id": "b", "class": "ViewsHost", "title": "Chrome_RenderWidgetHostHWND", "rect": [0, 0, 10, 10], "children": [
          {"id": "b1", "class": "Chrome_WidgetWin_0", "title": "B1", "rect": [0, 0, 10, 10], "children": [
            {"id": "b2", "class": "Intermediate D3D Window", "title": "B2", "rect": [0, 0, 10, 10]},
            {"id": "chrome", "class": "Chrome_RenderWidgetHostHWND", "title": "Chrome Legacy Window", "rect": [0, 0, 10, 10]},
            {"id": "after", "class": "Chrome_RenderWidgetHostHWND", "title": "", "rect": [0, 0, 10, 10]}]}]},
        {"id": "c", "class": "Shell DocObject View", "title": "", "rect": [0, 0, 10, 10], "children": [
          {"id": "ie", "class": "Internet Explorer_Server", "title": "", "rect": [0, 0, 10, 10]}]}]},
      {"id": "top2", "class": "Internet Explorer_Server", "title": "Web Viewer", "rect": [0, 0, 10, 10]}
    ]})"));
    std::map<HWND, QString> names;
    for (const char *pId : {"before", "top", "a", "a1", "b", "b1", "b2", "chrome", "after", "c", "ie", "top2"})
        names[BrowserControl::Window(pId)] = pId;

    struct Case
    {
        int nBrowseType;
        const char *pFound;     // "" none
        QStringList visits;     // depth marks and ids, in order
    };
    const QStringList toChrome = {"top", "-a", "--a1", "-b", "--b1", "---b2", "---chrome"};
    const QStringList everything = toChrome + QStringList{"---after", "-c", "--ie"};
    const Case cases[] = {
        {2, "chrome", toChrome},
        {6, "chrome", toChrome},
        {9, "chrome", toChrome},
        {0, "ie", everything},
        {1, "", everything},
        {3, "", everything},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nBrowseType);
        LogCapture log;
        const HWND hFound = PlayWidget::ErgodicAllChild(BrowserControl::Window("top"), c.nBrowseType, 0);
        EXPECT_EQ(hFound, *c.pFound ? BrowserControl::Window(c.pFound) : nullptr);
        QStringList visits;
        for (const QString &strLine : log.Lines()) {
            if (!strLine.contains("[PlayWidget::ErgodicAllChild]"))
                continue;
            static const QRegularExpression line(
                "^(-*)class name:(.*),class handle:(\\d+) wndName:(.*) BrowseType:(\\d+)$");
            const QRegularExpressionMatch match = line.match(Message(strLine));
            ASSERT_TRUE(match.hasMatch()) << strLine.toStdString();
            const HWND hWnd = reinterpret_cast<HWND>(match.captured(3).toULongLong());
            ASSERT_TRUE(names.count(hWnd)) << strLine.toStdString();
            char szClass[128] = {0};
            GetClassNameA(hWnd, szClass, sizeof szClass);
            EXPECT_EQ(match.captured(2), QString(szClass));
            char szTitle[128] = {0};
            GetWindowTextA(hWnd, szTitle, sizeof szTitle);
            EXPECT_EQ(match.captured(4), QString(szTitle));
            EXPECT_EQ(match.captured(5).toInt(), c.nBrowseType);
            visits << match.captured(1) + names[hWnd];
        }
        EXPECT_EQ(visits, c.visits);
    }
    BrowserControl::Reset();
}

using PlayWidgetEmbedTest = PlayWidgetFixture;

INSTANTIATE_TEST_SUITE_P(EmbedTypes, PlayWidgetEmbedTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &info) { return "EmbedType" + std::to_string(info.param); });

// The page's tab goes to the background (the browser's title no longer holds the page's title): the window
// hides at the next tick; back in front, it shows at the last region over the content window.
TEST_P(PlayWidgetEmbedTest, TabSwitchHidesAndTheSwitchBackShows)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);

    int nTicksAtHide = -1;
    EventHook hideHook(Widget(), QEvent::Hide, [&] { nTicksAtHide = ParentTicks(); });
    const int nTicksAtSwitch = ParentTicks();
    BrowserControl::SetTitle(m_hTop, "Another page - Chromium");
    ASSERT_TRUE(WaitUntil([&] { return !Widget()->isVisible(); }));
    EXPECT_GE(nTicksAtHide - nTicksAtSwitch, 1);
    EXPECT_LE(nTicksAtHide - nTicksAtSwitch, 2);

    // The browser moves meanwhile; the window comes back over the content window's new place.
    BrowserControl::Move(m_hTop, QPoint(220, 140));
    BrowserControl::SetTitle(m_hTop, "Web Viewer - Chromium");
    ASSERT_TRUE(WaitUntil([&] { return Widget()->isVisible(); }));
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
}

// A browser kind without a content window: placed on the top window, shown without the tab test.
TEST_P(PlayWidgetEmbedTest, BrowserKindWithoutContentWindow)
{
    const HWND hContent = PlayWidget::ErgodicAllChild(m_hTop, 1, 0);
    EXPECT_EQ(hContent, nullptr);
    Attach(m_hTop, hContent, 1);
    const PluginRegion region = Region(40, 30, 640, 360);
    Command(WebCtrlShow, region);
    EXPECT_TRUE(Widget()->isVisible());
    if (EmbedType() == 1) {
        // Screen position: the top window's corner plus half its border on each axis.
        RECT rcWindow;
        RECT rcClient;
        GetWindowRect(m_hTop, &rcWindow);
        GetClientRect(m_hTop, &rcClient);
        const QPoint origin(rcWindow.left + ((rcWindow.right - rcWindow.left) - rcClient.right) / 2,
                            rcWindow.top + ((rcWindow.bottom - rcWindow.top) - rcClient.bottom) / 2);
        EXPECT_EQ(ScreenGeometry(), QRect(origin + QPoint(40, 30), QSize(640, 360)));
    } else {
        EXPECT_EQ(ScreenGeometry(), Expected(m_hTop, region));
    }
    const QRect placed = ScreenGeometry();

    // Another tab's title hides nothing.
    BrowserControl::SetTitle(m_hTop, "Another page - Chromium");
    int nTimerEvents = 0;
    EventHook timerHook(Widget(), QEvent::Timer, [&] { ++nTimerEvents; });
    ASSERT_TRUE(WaitUntil([&] { return nTimerEvents >= 6; }));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_EQ(ScreenGeometry(), placed);
    EXPECT_EQ(AttachedTo(), m_hTop);
}

// The browser moves its content window into a new top-level window (a tab dragged out): the window follows.
TEST_P(PlayWidgetEmbedTest, ContentWindowMovedIntoNewTopWindow)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);
    const HWND hNewTop = BrowserControl::AddWindow(nullptr, "Chrome_WidgetWin_1", "Web Viewer - Chromium",
                                                   QRect(420, 260, 1296, 837), QMargins(8, 31, 8, 8));
    ASSERT_TRUE(BrowserControl::MoveInto(m_hContent, hNewTop));
    BrowserControl::SetForeground(hNewTop);

    ASSERT_TRUE(WaitUntil([&] { return AttachedTo() == hNewTop; }));
    EXPECT_TRUE(m_log.Contains(QString::fromStdString("m_playWidget handle:" + Hex8(Own())
                                                      + "\tm_hCurBrowseClientWnd:" + Hex8(m_hContent)
                                                      + "\tbefore parent handle:" + Hex8(m_hTop)
                                                      + "\tnow parent handle:" + Hex8(hNewTop))));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
    if (EmbedType() == 1) {
        const std::vector<HWND> order = BrowserControl::Children(nullptr);
        auto top = std::find(order.begin(), order.end(), hNewTop);
        ASSERT_NE(top, order.begin());
        EXPECT_EQ(*(top - 1), Own());
    } else {
        // The Qt parent of the old top window was freed once the window had left it.
        EXPECT_EQ(BrowserControl::ForeignParents(m_hTop), 0);
        EXPECT_EQ(BrowserControl::ForeignParents(hNewTop), 1);
    }

    // The old top window closes without touching the window.
    BrowserControl::Destroy(m_hTop);
    ASSERT_TRUE(WaitParentTicks(2));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
    EXPECT_FALSE(m_log.Contains("recive WM_DESTROY"));
}

// The plug-in host handed the content window itself, and the browser destroys it: the window hears WM_DESTROY,
// moves into the top window and survives; the next content window the browser makes is found and used.
TEST_P(PlayWidgetEmbedTest, ContentWindowDestroyedUnderTheWindow)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    Attach(m_hContent, PlayWidget::ErgodicAllChild(m_hContent, 2, 0));
    Command(WebCtrlShow, region);
    ASSERT_EQ(AttachedTo(), m_hContent);
    // Before any tick (with EmbedType 1 the first tick moves the window onto the top window).
    ASSERT_TRUE(BrowserControl::Destroy(m_hContent));

    EXPECT_TRUE(m_log.Contains(QString::fromStdString("recive WM_DESTROY " + Hex8(Own()))));
    EXPECT_TRUE(IsWindow(Own()));
    EXPECT_EQ(BrowserControl::ParentOf(Own()), m_hTop);
    EXPECT_EQ(BrowserControl::OwnerOf(Own()), nullptr);

    // The top window is kept while no content window exists: commands still work.
    int nTimerEvents = 0;
    EventHook timerHook(Widget(), QEvent::Timer, [&] { ++nTimerEvents; });
    ASSERT_TRUE(WaitUntil([&] { return nTimerEvents >= 3; }));
    EXPECT_EQ(BrowserControl::ParentOf(Own()), m_hTop);
    LogCapture log;
    Command(WebCtrlMove, region);
    EXPECT_FALSE(log.Contains("invalid window"));

    const HWND hNewContent = BrowserControl::AddWindow(m_hTop, "Chrome_RenderWidgetHostHWND", "Chrome Legacy Window",
                                                       QRect(0, 100, 1280, 698));
    ASSERT_TRUE(WaitUntil([&] { return Widget()->isVisible(); }));
    EXPECT_TRUE(m_log.Contains(QString::fromStdString("m_hCurBrowseClientWnd:" + Hex8(hNewContent))));
    EXPECT_EQ(ScreenGeometry(), Expected(hNewContent, region));
    EXPECT_EQ(AttachedTo(), m_hTop);
    if (EmbedType() == 0) {
        EXPECT_EQ(BrowserControl::ForeignParents(m_hContent), 0);
        EXPECT_EQ(BrowserControl::ForeignParents(m_hTop), 1);
    }
}

// The top window's title did not hold the page's title at login: the line saying so is written once, the
// browser window is adopted from the foreground once its title does, and one Qt parent serves it throughout.
TEST_P(PlayWidgetEmbedTest, TitleMismatchIsLoggedOnceAndTheForegroundWindowAdopted)
{
    BrowserControl::SetTitle(m_hTop, "Loading...");
    Attach(m_hTop, m_hContent);
    const PluginRegion region = Region(40, 30, 640, 360);
    Command(WebCtrlShow, region);
    ASSERT_TRUE(WaitParentTicks(4));
    EXPECT_EQ(m_log.Count("m_strWndName.indexOf(m_strBrowserTitle)"), 1);
    EXPECT_FALSE(Widget()->isVisible());

    BrowserControl::SetTitle(m_hTop, "Web Viewer - Chromium");
    ASSERT_TRUE(WaitUntil([&] { return Widget()->isVisible(); }));
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
    ASSERT_TRUE(WaitParentTicks(2));
    EXPECT_EQ(m_log.Count("m_strWndName.indexOf(m_strBrowserTitle)"), 1);
    EXPECT_EQ(AttachedTo(), m_hTop);
    if (EmbedType() == 0) {
        EXPECT_EQ(BrowserControl::ForeignParents(m_hTop), 1);
    }
}
