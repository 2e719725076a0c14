// The plug-in window: its lifetime, the page's show, hide and move commands, and full screen, for both
// EmbedTypes.

#include "standin/windows/BrowserControl.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/PlayWidgetFixture.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTextCodec>
#include <QWindow>

#include <optional>

namespace {

PluginRegion Region(int nLeft, int nTop, int nWidth, int nHeight) { return PluginRegion{nLeft, nTop, nWidth, nHeight}; }

QRect Screen() { return QGuiApplication::primaryScreen()->geometry(); }

} // namespace

using PlayWidgetTest = PlayWidgetFixture;

INSTANTIATE_TEST_SUITE_P(EmbedTypes, PlayWidgetTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &info) { return "EmbedType" + std::to_string(info.param); });

TEST_P(PlayWidgetTest, MadeHiddenWithItsEmbedTypeAndDestroyedTwiceHarmlessly)
{
    PlayWidget *pFirst = PlayWidget::GetInstance();
    EXPECT_EQ(PlayWidget::GetInstance(), pFirst);
    EXPECT_FALSE(pFirst->isVisible());
    EXPECT_EQ(pFirst->windowFlags(), Qt::WindowFlags(0x0200080B));
    const int nVersion = EmbedType() == 1 ? WV_WINDOWS10 : WV_WINDOWS7;
    EXPECT_TRUE(m_log.Contains(QString("WinVersion=%1 EmbedType=%2").arg(nVersion).arg(EmbedType())));
    // Attached, so that with EmbedType 0 a foreign parent holds the window when it goes.
    Attach(m_hTop, m_hContent);
    EXPECT_EQ(AttachedTo(), m_hTop);

    PlayWidget::DestroyInstance();
    PlayWidget::DestroyInstance();
    EXPECT_EQ(BrowserControl::ForeignParents(), 0);
    EXPECT_EQ(BrowserControl::ForeignParentsFreedWhileParenting(), 0);

    PlayWidget *pSecond = PlayWidget::GetInstance();
    EXPECT_FALSE(pSecond->isVisible());
    EXPECT_EQ(m_log.Count("WinVersion="), 2);
    // The new window is not attached to anything.
    EXPECT_EQ(AttachedTo(), nullptr);
}

TEST_P(PlayWidgetTest, AttachHangsTheWindowOnTheTopWindow)
{
    Attach(m_hTop, m_hContent);
    if (EmbedType() == 1) {
        // A child-styled window owned by the top window, directly above it.
        const LONG_PTR nStyle = GetWindowLongPtr(Own(), GWL_STYLE);
        EXPECT_TRUE(nStyle & WS_CHILD);
        EXPECT_FALSE(nStyle & WS_POPUP);
        EXPECT_EQ(BrowserControl::OwnerOf(Own()), m_hTop);
        EXPECT_EQ(BrowserControl::ParentOf(Own()), nullptr);
        const std::vector<HWND> order = BrowserControl::Children(nullptr);
        auto top = std::find(order.begin(), order.end(), m_hTop);
        ASSERT_NE(top, order.begin());
        EXPECT_EQ(*(top - 1), Own());
    } else {
        // A child window of the top window, through the Qt parent standing for it.
        EXPECT_EQ(BrowserControl::ParentOf(Own()), m_hTop);
        EXPECT_EQ(Widget()->property("_q_embedded_native_parent_handle").toULongLong(),
                  reinterpret_cast<quintptr>(m_hTop));
        EXPECT_EQ(BrowserControl::ForeignParents(m_hTop), 1);
    }
    // A handle that is not a window changes nothing.
    const HWND hBefore = AttachedTo();
    Widget()->ReParent(reinterpret_cast<HWND>(0x6fff0000));
    EXPECT_EQ(AttachedTo(), hBefore);
}

// The page's commands in a row, each with what the window shows afterwards and what it logs.
TEST_P(PlayWidgetTest, StatusCommandsAndTheirRefusals)
{
    const PluginRegion valid = Region(40, 30, 640, 360);
    // Before any browser is attached every command is refused.
    Command(WebCtrlShow, valid);
    EXPECT_TRUE(m_log.Contains("m_hCurBrowseWnd is invalid window"));
    EXPECT_FALSE(Widget()->isVisible());

    Attach(m_hTop, m_hContent);
    ASSERT_TRUE(WaitParentTicks(1));   // the content window is seen visible

    struct Step
    {
        const char *pName;
        int nType;
        PluginRegion region;
        bool bVisible;
        std::optional<PluginRegion> placedAt;   // where the window then lies
        const char *pLog;                       // a line this step logs ("" none)
    };
    const Step steps[] = {
        {"type 3 does nothing", 3, valid, false, std::nullopt, ""},
        {"type 5 does nothing", 5, valid, false, std::nullopt, ""},
        {"show an empty region", WebCtrlShow, Region(0, 0, 0, 0), false, std::nullopt,
         "wnd can't move,reason:ShowPlugin:1,PosValid:0"},
        {"hide", WebCtrlHide, valid, false, std::nullopt, "WebCtrlHide call"},
        {"move while hidden by the page", WebCtrlMove, valid, false, std::nullopt,
         "wnd can't move,reason:ShowPlugin:0,PosValid:1"},
        {"show", WebCtrlShow, valid, true, valid, "move end"},
        {"move", WebCtrlMove, Region(100, 80, 320, 240), true, Region(100, 80, 320, 240), "move end"},
        {"move to a negative left", WebCtrlMove, Region(-1, 80, 320, 240), false, Region(100, 80, 320, 240),
         "wnd can't move,reason:ShowPlugin:1,PosValid:0"},
        {"move back into view", WebCtrlMove, Region(0, 0, 200, 100), true, Region(0, 0, 200, 100), "move end"},
        {"move to a zero height", WebCtrlMove, Region(0, 0, 200, 0), false, Region(0, 0, 200, 100), ""},
        {"hide again", WebCtrlHide, valid, false, Region(0, 0, 200, 100), "WebCtrlHide call"},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.pName);
        LogCapture log;
        Command(step.nType, step.region);
        EXPECT_EQ(Widget()->isVisible(), step.bVisible);
        if (step.placedAt) {
            EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, *step.placedAt));
        }
        if (*step.pLog) {
            EXPECT_TRUE(log.Contains(step.pLog)) << log.Lines().join("").toStdString();
        }
        if (step.nType != WebCtrlHide && step.nType != WebCtrlShow && step.nType != WebCtrlMove) {
            EXPECT_TRUE(log.Lines().isEmpty());
        }
    }
    EXPECT_TRUE(HasLine(m_log, "WARNING", "PlayWidget::MovePlayWidget", "wnd can't move,reason:ShowPlugin:1,PosValid:0"));
    EXPECT_TRUE(HasLine(m_log, "WARNING", "PlayWidget::ReqShowPlugin",
                        "can't show window reason:ShowPlugin:1,BrowseClientVisible:1,PosValid:0"));

    // A browser whose top window is gone refuses the commands.
    BrowserControl::Destroy(m_hTop);
    LogCapture log;
    Command(WebCtrlShow, valid);
    EXPECT_TRUE(log.Contains("m_hCurBrowseWnd is invalid window"));
    EXPECT_FALSE(Widget()->isVisible());
}

TEST_P(PlayWidgetTest, FullScreenIsLeftByAReleasedEscape)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);

    // Escape while not full screen does nothing.
    QTest::keyRelease(Widget(), Qt::Key_Escape);
    EXPECT_FALSE(m_log.Contains("exit fullscreen"));
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
    EXPECT_TRUE(LiveTileHighlighted());

    Widget()->onFullScreen();
    EXPECT_TRUE(Widget()->isFullScreen());
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_FALSE(LiveTileHighlighted());
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Screen(); }));
    for (const char *pLine : {"fullscreen begin", "showFullScreen begin", "showFullScreen end", "fullscreen end"})
        EXPECT_TRUE(m_log.Contains(pLine)) << pLine;
    if (EmbedType() == 0) {
        // Out of the browser window, in front, with the input given back.
        EXPECT_EQ(BrowserControl::ParentOf(Own()), nullptr);
        EXPECT_EQ(GetForegroundWindow(), Own());
        EXPECT_EQ(BrowserControl::AttachedInputs(), 0);
        EXPECT_EQ(Widget()->windowFlags(), Qt::WindowFlags(0x0204080B));
    }
    // The parent timer rests meanwhile, and the check after 500 ms finds full screen in force.
    const int nTicks = ParentTicks();
    WaitFor(700);
    EXPECT_EQ(ParentTicks(), nTicks);
    EXPECT_FALSE(m_log.Contains("fullscreen unsuccessful"));
    EXPECT_TRUE(Widget()->isFullScreen());

    QTest::keyPress(Widget(), Qt::Key_Escape);
    EXPECT_TRUE(Widget()->isFullScreen());
    QTest::keyRelease(Widget(), Qt::Key_Escape);
    EXPECT_TRUE(HasLine(m_log, "NORMAL", "PlayWidget::keyReleaseEvent", "keyReleaseEvent release"));
    EXPECT_TRUE(m_log.Contains("exit fullscreen"));
    EXPECT_FALSE(Widget()->isFullScreen());
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_TRUE(LiveTileHighlighted());
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Expected(m_hContent, region); }));
    EXPECT_EQ(AttachedTo(), m_hTop);
    if (EmbedType() == 0) {
        EXPECT_EQ(Widget()->windowFlags(), Qt::WindowFlags(0x02000C0B));
    }
    // The parent timer runs again.
    ASSERT_TRUE(WaitParentTicks(2));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));

    // Full screen left before the check: the check is not taken for a failure.
    Widget()->onFullScreen();
    QTest::keyRelease(Widget(), Qt::Key_Escape);
    EXPECT_FALSE(Widget()->isFullScreen());
    WaitFor(700);
    EXPECT_FALSE(m_log.Contains("fullscreen unsuccessful"));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
    EXPECT_EQ(AttachedTo(), m_hTop);
}

// The window system takes full screen back before the check: the window comes back into the browser.
TEST_P(PlayWidgetTest, FailedFullScreenIsUndoneAfter500Ms)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);
    Widget()->onFullScreen();
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Screen(); }));
    EXPECT_FALSE(LiveTileHighlighted());
    Widget()->windowHandle()->setWindowState(Qt::WindowNoState);

    ASSERT_TRUE(WaitUntil([&] { return HasLine(m_log, "ERROR", "PlayWidget::onFullScreen::check", "fullscreen unsuccessful"); }));
    EXPECT_TRUE(LiveTileHighlighted());
    if (EmbedType() == 0) {
        EXPECT_EQ(Widget()->windowFlags(), Qt::WindowFlags(0x02000C0B));
    }
    // Shown still, and attached again by the parent timer.
    ASSERT_TRUE(WaitUntil([&] { return AttachedTo() == m_hTop; }));
    ASSERT_TRUE(WaitParentTicks(2));
    EXPECT_TRUE(Widget()->isVisible());
    EXPECT_FALSE(Widget()->isFullScreen());
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Expected(m_hContent, region); }));
}

TEST_P(PlayWidgetTest, FullScreenCheckDoesNotOutliveTheWindow)
{
    AttachAndShow(Region(40, 30, 640, 360));
    Widget()->onFullScreen();
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Screen(); }));
    Widget()->windowHandle()->setWindowState(Qt::WindowNoState);   // the check would fail
    ASSERT_TRUE(WaitUntil([&] { return !Widget()->isFullScreen(); }));
    PlayWidget::DestroyInstance();
    WaitFor(700);
    EXPECT_FALSE(m_log.Contains("fullscreen unsuccessful"));
}

// The browser moves while the window is full screen: the window stays full screen, and goes over the content
// window's new place once full screen is left.
TEST_P(PlayWidgetTest, MoveTimerLeavesFullScreenAlone)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);
    Widget()->onFullScreen();
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Screen(); }));
    LogCapture log;
    BrowserControl::Move(m_hTop, QPoint(160, 90));
    WaitFor(350);
    EXPECT_EQ(ScreenGeometry(), Screen());
    EXPECT_FALSE(log.Contains("move pt.x"));

    QTest::keyRelease(Widget(), Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Expected(m_hContent, region); }));
}

TEST_P(PlayWidgetTest, MoveTimerFollowsTheBrowserWithEmbedType1)
{
    const PluginRegion region = Region(40, 30, 640, 360);
    AttachAndShow(region);
    BrowserControl::Move(m_hTop, QPoint(160, 90));
    if (EmbedType() == 1) {
        ASSERT_TRUE(WaitUntil([&] { return ScreenGeometry() == Expected(m_hContent, region); }));
        const QPoint pos = Expected(m_hContent, region).topLeft();
        EXPECT_TRUE(m_log.Contains(QString("move pt.x=%1 pt.y=%2").arg(pos.x()).arg(pos.y())));
    } else {
        // A child window moves with its parent.
        EXPECT_EQ(ScreenGeometry(), Expected(m_hContent, region));
        EXPECT_FALSE(m_log.Contains("move pt.x"));
    }
}

TEST(PlayWidget, LoadLocalInfoReadsTheApplicationDirectory)
{
    LocalInfo info;
    PlayWidget::LoadLocalInfo(info);
    QSettings settings(QCoreApplication::applicationDirPath() + "/ClientCfg.ini", QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForLocale());
    EXPECT_FALSE(settings.value("Path/CapPath").toString().isEmpty());
    EXPECT_EQ(QString::fromLocal8Bit(info.CapPath), settings.value("Path/CapPath").toString());
    EXPECT_EQ(QString::fromLocal8Bit(info.RecPath), settings.value("Path/RecPath").toString());
    EXPECT_EQ(QString::fromLocal8Bit(info.DownPath), settings.value("Path/DownPath").toString());
}
