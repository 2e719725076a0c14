// The live page fed by the simulated device on the library's threads: every tile shows its own channel, a new
// picture size reaches the tile once, blocks without an open stream are dropped, and starts and stops of 16
// channels while data keeps coming use no widget off the GUI thread.

#include "standin/pavline/PavlineControl.h"
#include "standin/windows/GuiThreadCheck.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/LivePageSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <sstream>
#include <string>
#include <vector>

namespace {

using LiveStreamTest = LivePageFixture;

int Scrambled(int i) { return (i * 7 + 5) % 16; }

std::string Reports()
{
    std::ostringstream out;
    for (const std::string &strReport : GuiThreadCheck::Reports())
        out << "\n  " << strReport;
    return out.str();
}

QImage Surface(CRealPlayWidget &page, int nWndIndex)
{
    return GridTest::Grab(page.GetPlayWindowManage()->GetVideoWnd(nWndIndex)->GetVideoFrame());
}

TEST_F(LiveStreamTest, SixteenChannelsEachShowInTheirOwnTile)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    page.SetDeviceInfo(lLogin, false, false);
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 16, QSize(LiveTest::kSubWidth, LiveTest::kSubHeight)));
    LiveTest::PageStreams streams(&page, lLogin);
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(page.PreviewPlay(1, Scrambled(i), i), 0) << i;
        ASSERT_TRUE(streams.Start(Scrambled(i), 1)) << i;
    }
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(page.GetWndChannel(i), Scrambled(i));

    const bool bAll = WaitUntil([&] {
        for (int i = 0; i < 16; ++i)
            if (GridTest::ChannelShown(Surface(page, i), 16) != Scrambled(i))
                return false;
        return true;
    }, 30000);
    if (!bAll) {
        std::ostringstream out;
        for (int i = 0; i < 16; ++i)
            out << " tile " << i << ": " << GridTest::ChannelShown(Surface(page, i), 16) << " (wanted " << Scrambled(i)
                << ", " << streams.Feed(Scrambled(i)).nTaken.load() << " blocks)";
        ADD_FAILURE() << out.str();
    }
    streams.StopAll();
    for (int nChannel = 0; nChannel < 16; ++nChannel) {
        EXPECT_GT(streams.Feed(nChannel).nTaken.load(), 0) << nChannel;
        EXPECT_EQ(streams.Feed(nChannel).nOnGuiThread.load(), 0) << nChannel;
    }
    EXPECT_EQ(GuiThreadCheck::Violations(), 0) << Reports();
}

TEST_F(LiveStreamTest, ANewPictureSizeReachesTheTileOncePerChange)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    // A square surface, so that each source proportion shows in the surface's own size.
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 1, QSize(400, 400)));
    LiveTest::PageStreams streams(&page, lLogin);
    ASSERT_EQ(page.PreviewPlay(1, 3, 0), 0);
    ASSERT_TRUE(streams.Start(3, 1));
    ASSERT_TRUE(WaitUntil([&] { return page.PlayOriginal(3) == 0; }, 20000));
    EXPECT_EQ(page.GetPlayOriginalState(3), 1);
    CVideoFrame *pSurface = page.GetPlayWindowManage()->GetVideoWnd(0)->GetVideoFrame();
    EXPECT_EQ(page.GetPlayWindowManage()->GetVideoWnd(0)->GetFitMode(), CVideoWnd::FIT_SOURCE);
    EXPECT_TRUE(WaitUntil([&] { return pSurface->size() == QSize(400, 225); })) << pSurface->width() << "x"
                                                                                 << pSurface->height();

    QSignalSpy changes(&page, &CRealPlayWidget::videoSizeChange);
    // The device switches the channel from its sub to its main stream.
    streams.Stop(3);
    ASSERT_TRUE(streams.Start(3, 0));
    EXPECT_TRUE(WaitUntil([&] { return pSurface->size() == QSize(400, 300); }, 20000))
        << pSurface->width() << "x" << pSurface->height();
    // Many more blocks of the new size change nothing more.
    const int nVideo = streams.Feed(3).nVideo.load();
    ASSERT_TRUE(WaitUntil([&] { return streams.Feed(3).nVideo.load() >= nVideo + 20; }, 20000));
    const int nShown = static_cast<int>(PavlineControl::Stats(3).nPicturesShown);
    ASSERT_TRUE(WaitUntil([&] { return PavlineControl::Stats(3).nPicturesShown >= nShown + 10; }, 20000));
    streams.StopAll();
    QCoreApplication::processEvents();
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].toInt(), 0);
    EXPECT_EQ(pSurface->size(), QSize(400, 300));
    EXPECT_EQ(GuiThreadCheck::Violations(), 0) << Reports();
}

TEST_F(LiveStreamTest, BlocksOfAChannelWithoutAnOpenStreamAreDropped)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    LiveTest::PageStreams streams(&page, lLogin);
    ASSERT_TRUE(streams.Start(5, 1));
    LiveTest::ChannelFeed &feed = streams.Feed(5);
    ASSERT_TRUE(WaitUntil([&] { return feed.nDropped.load() >= 5; }, 10000));
    EXPECT_EQ(feed.nTaken.load(), 0);
    // The data thread made no decode channel and opened no port.
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_OpenStream").empty());

    ASSERT_EQ(page.PreviewPlay(1, 5, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return feed.nTaken.load() >= 5; }, 10000));
    // The snapshot request's stream hands blocks without a frame record.
    const unsigned char audio[12] = {0, 0, 1, 0xFA, 0x0E, 0x02, 4, 0, 0xD5, 0xD5, 0xD5, 0xD5};
    EXPECT_EQ(page.InputData(5, audio, sizeof audio, nullptr), 0);

    ASSERT_EQ(page.PreviewStop(5), 0);
    const int nTaken = feed.nTaken.load();
    const int nDropped = feed.nDropped.load();
    ASSERT_TRUE(WaitUntil([&] { return feed.nDropped.load() >= nDropped + 5; }, 10000));
    EXPECT_EQ(feed.nTaken.load(), nTaken);
    EXPECT_EQ(page.InputData(5, audio, sizeof audio, nullptr), -1);
    streams.StopAll();
    EXPECT_EQ(feed.nOnGuiThread.load(), 0);
}

TEST_F(LiveStreamTest, StartsAndStopsOfSixteenChannelsWhileDataArrives)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    page.SetDeviceInfo(lLogin, false, false);
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 16, QSize(160, 90)));
    LiveTest::PageStreams streams(&page, lLogin);
    // The streams run the whole time: blocks come before, between and after the page's starts and stops.
    for (int nChannel = 0; nChannel < 16; ++nChannel)
        ASSERT_TRUE(streams.Start(nChannel, 1));

    auto allTaking = [&](const std::vector<int> &before) {
        for (int nChannel = 0; nChannel < 16; ++nChannel)
            if (streams.Feed(nChannel).nTaken.load() <= before[static_cast<size_t>(nChannel)])
                return false;
        return true;
    };
    for (int nRound = 0; nRound < 6; ++nRound) {
        std::vector<int> before;
        for (int nChannel = 0; nChannel < 16; ++nChannel)
            before.push_back(streams.Feed(nChannel).nTaken.load());
        // Each round puts the channels into other windows, some in source aspect.
        for (int nChannel = 0; nChannel < 16; ++nChannel) {
            ASSERT_EQ(page.PreviewPlay(nRound % 2, nChannel, (nChannel + nRound) % 16), 0);
            if ((nChannel + nRound) % 3 == 0)
                page.PlayOriginal(nChannel);
        }
        ASSERT_TRUE(WaitUntil([&] { return allTaking(before); }, 20000)) << "round " << nRound;
        // Stops in another order than the starts.
        for (int nChannel = 15; nChannel >= 0; --nChannel)
            ASSERT_EQ(page.PreviewStop((nChannel * 5) % 16), 0);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(page.GetWndChannel(i), -1);
    }
    // After the last stops every channel's blocks are dropped.
    std::vector<int> dropped;
    for (int nChannel = 0; nChannel < 16; ++nChannel)
        dropped.push_back(streams.Feed(nChannel).nDropped.load());
    EXPECT_TRUE(WaitUntil([&] {
        for (int nChannel = 0; nChannel < 16; ++nChannel)
            if (streams.Feed(nChannel).nDropped.load() <= dropped[static_cast<size_t>(nChannel)])
                return false;
        return true;
    }, 20000));
    streams.StopAll();
    for (int nChannel = 0; nChannel < 16; ++nChannel)
        EXPECT_EQ(streams.Feed(nChannel).nOnGuiThread.load(), 0) << nChannel;
    EXPECT_EQ(GuiThreadCheck::Violations(), 0) << Reports();
}

} // namespace
