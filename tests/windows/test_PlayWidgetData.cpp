// Stream data through the plug-in window's entry points, called on the device library's threads as the
// request handlers' data callbacks call them: the pictures reach the live tile and the colour page, blocks for
// a channel or pane without an open decode channel are dropped, and no widget is used off the GUI thread.

#include "device/CQZConnect.h"
#include "standin/pavline/PavlineControl.h"
#include "standin/windows/GuiThreadCheck.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/PlayWidgetPagesFixture.h"
#include "windows/CColorSetWidget.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <atomic>
#include <thread>

namespace {

using PlayWidgetDataTest = PlayWidgetPagesFixture;

// A stream's data callback handing every block to the window, counted by the entry point's result.
struct WindowFeed
{
    int nChannel = 0;
    std::thread::id guiThread = std::this_thread::get_id();
    std::atomic<int> nTaken{0};
    std::atomic<int> nDropped{0};
    std::atomic<int> nOnGuiThread{0};

    void Count(int nResult)
    {
        if (std::this_thread::get_id() == guiThread)
            ++nOnGuiThread;
        ++(nResult == 0 ? nTaken : nDropped);
    }
    static int32_t OnLive(int32_t, const RealDataFrame *pFrame, void *pUser)
    {
        WindowFeed *p = static_cast<WindowFeed *>(pUser);
        p->Count(PlayWidget::GetInstance()->PreviewInputData(p->nChannel, pFrame->pData, pFrame->nDataLength, pFrame));
        return 1;
    }
    static int32_t OnColour(int32_t, int32_t, const unsigned char *pData, uint32_t nSize, void *pUser)
    {
        static_cast<WindowFeed *>(pUser)->Count(PlayWidget::GetInstance()->ColorInputData(pData, nSize));
        return 1;
    }
};

TEST_F(PlayWidgetDataTest, LiveBlocksFromTheLibrarysThreadReachTheLiveTile)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    PlayWidget *w = Window();
    w->SetPageIndex(PAGE_REALPLAY);
    ASSERT_EQ(w->ChangeSplit(0), 0);
    ASSERT_TRUE(ShowWindow());
    ASSERT_EQ(w->PreviewPlay(1, 7, 0), 0);
    GuiThreadCheck::Reset();

    // Channel 7 shown in window 0; channel 8 streams too, but no tile has it open.
    WindowFeed shown, unopened;
    shown.nChannel = 7;
    unopened.nChannel = 8;
    CQZConnect *pConnect = CQZConnect::GetInstance();
    const int lShown = pConnect->ConnectChanel_V2(lLogin, 7, 1, &WindowFeed::OnLive, &shown);
    const int lUnopened = pConnect->ConnectChanel_V2(lLogin, 8, 1, &WindowFeed::OnLive, &unopened);
    ASSERT_GT(lShown, 0);
    ASSERT_GT(lUnopened, 0);

    CVideoFrame *pFrame = Grid(Live())->GetVideoWnd(0)->GetVideoFrame();
    EXPECT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GridTest::Grab(pFrame), 16) == 7; }, 20000))
        << shown.nTaken.load() << " blocks taken";
    EXPECT_TRUE(GridTest::ShowsPattern(GridTest::Grab(pFrame)));
    EXPECT_TRUE(WaitUntil([&] { return unopened.nDropped.load() > 0; }));
    EXPECT_EQ(pConnect->DisconnectChannel_V2(lShown, &WindowFeed::OnLive, &shown), 1);
    EXPECT_EQ(pConnect->DisconnectChannel_V2(lUnopened, &WindowFeed::OnLive, &unopened), 1);

    EXPECT_GT(shown.nTaken.load(), 0);
    EXPECT_EQ(shown.nDropped.load(), 0);
    EXPECT_EQ(unopened.nTaken.load(), 0);
    EXPECT_EQ(shown.nOnGuiThread.load() + unopened.nOnGuiThread.load(), 0);
    // Nothing was made for the channel nobody opened.
    EXPECT_FALSE(PavlineControl::Stats(8).bOpen);
    EXPECT_EQ(GuiThreadCheck::Violations(), 0) << (GuiThreadCheck::Reports().empty() ? "" : GuiThreadCheck::Reports()[0]);
}

TEST_F(PlayWidgetDataTest, ColourBlocksFromTheLibrarysThreadReachTheColourPage)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    PlayWidget *w = Window();
    w->SetPageIndex(PAGE_COLORSET);
    ASSERT_TRUE(ShowWindow());
    GuiThreadCheck::Reset();

    // Before the preview starts the page has no channel: each block is refused.
    WindowFeed feed;
    CQZConnect *pConnect = CQZConnect::GetInstance();
    int lPlay = pConnect->ConnectChanel(lLogin, 4, 1, &WindowFeed::OnColour, &feed);
    ASSERT_GT(lPlay, 0);
    EXPECT_TRUE(WaitUntil([&] { return feed.nDropped.load() > 0; }));
    EXPECT_EQ(pConnect->DisconnectChannel(lPlay, &WindowFeed::OnColour, &feed), 1);
    EXPECT_EQ(feed.nTaken.load(), 0);
    EXPECT_FALSE(PavlineControl::Stats(DECODE_PORT_COLOR_PREVIEW).bOpen);

    ASSERT_EQ(w->ColorPreviewStart(1), 0);
    WindowFeed started;
    lPlay = pConnect->ConnectChanel(lLogin, 4, 1, &WindowFeed::OnColour, &started);
    ASSERT_GT(lPlay, 0);
    CVideoFrame *pFrame = Colour()->GetVideoFrame();
    EXPECT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GridTest::Grab(pFrame), 16) == 4; }, 20000))
        << started.nTaken.load() << " blocks taken";
    EXPECT_TRUE(GridTest::ShowsPattern(GridTest::Grab(pFrame)));
    EXPECT_EQ(pConnect->DisconnectChannel(lPlay, &WindowFeed::OnColour, &started), 1);
    EXPECT_GT(started.nTaken.load(), 0);
    EXPECT_EQ(started.nDropped.load(), 0);
    EXPECT_EQ(feed.nOnGuiThread.load() + started.nOnGuiThread.load(), 0);
    EXPECT_EQ(w->ColorPreviewStop(), 0);
    EXPECT_EQ(GuiThreadCheck::Violations(), 0) << (GuiThreadCheck::Reports().empty() ? "" : GuiThreadCheck::Reports()[0]);
}

// Playback blocks for a pane out of range or without a channel are dropped without making one.
TEST_F(PlayWidgetDataTest, PlaybackBlocksForNoChannelAreDropped)
{
    PlayWidget *w = Window();
    w->SetPlaybackMode(1);
    const unsigned char block[16] = {0, 0, 1, 0xFC};
    PavlineControl::ClearJournal();
    std::thread library([&] {
        for (int nPane : {-1, 0, 3, 4, 64})
            EXPECT_EQ(w->PlaybackInputData(nPane, block, sizeof block), 0) << nPane;
    });
    library.join();
    EXPECT_TRUE(PavlineControl::Journal().empty());
    for (int nPort = DECODE_PORT_PLAYBACK; nPort < DECODE_PORT_PLAYBACK + 4; ++nPort)
        EXPECT_FALSE(PavlineControl::Stats(nPort).bOpen) << nPort;
}

} // namespace
