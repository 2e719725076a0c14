// The colour page: a simulated sub stream shown through port 320, fed from the device library's thread; the
// port closed on every stop, restart and end of the page, whatever state it was left in.

#include "device/CQZConnect.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PavlineFixture.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CColorSetWidget.h"
#include "windows/CVideoFrame.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

class ColorSetTest : public PavlineFixture
{
protected:
    void SetUp() override
    {
        PavlineFixture::SetUp();
        UseDevices(GridTest::SmallSubStreamDevice());
    }
};

// The colour stream's data callback: every block to the page, on the library's thread.
struct ColourFeed
{
    CColorSetWidget *pPage = nullptr;
    std::thread::id guiThread = std::this_thread::get_id();
    std::atomic<int> nTaken{0};
    std::atomic<bool> bOnGuiThread{false};

    static int32_t OnData(int32_t, int32_t, const unsigned char *pData, uint32_t nSize, void *pUser)
    {
        ColourFeed *p = static_cast<ColourFeed *>(pUser);
        if (std::this_thread::get_id() == p->guiThread)
            p->bOnGuiThread = true;
        if (p->pPage->InputData(pData, nSize) == 0)
            ++p->nTaken;
        return 1;
    }
};

// The journal's lines for port 320, without their arguments past the port.
std::vector<std::string> PortCalls()
{
    std::vector<std::string> calls;
    for (const std::string &strLine : PavlineControl::Journal())
        if (strLine.find(" 320") != std::string::npos)
            calls.push_back(strLine.substr(0, strLine.find(" 320")));
    return calls;
}

int IndexOf(const std::vector<std::string> &calls, const std::string &strCall, int nFrom = 0)
{
    for (size_t i = static_cast<size_t>(nFrom); i < calls.size(); ++i)
        if (calls[i] == strCall)
            return static_cast<int>(i);
    return -1;
}

TEST_F(ColorSetTest, ShowsTheSubStreamOnPort320AndStopsOnce)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    CColorSetWidget page;
    ASSERT_TRUE(GridTest::ShowAt(&page, GridTest::kStreamWidth, GridTest::kStreamHeight));
    EXPECT_EQ(page.windowFlags() & (Qt::CustomizeWindowHint | Qt::FramelessWindowHint),
              Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    LogCapture log;
    ASSERT_EQ(page.PreviewStart(1), 0);
    EXPECT_TRUE(log.WaitFor("[CColorSetWidget::PreviewStart]"));
    EXPECT_EQ(page.GetPlayState(), 0);
    const std::vector<std::string> started = PortCalls();
    EXPECT_NE(IndexOf(started, "KTN_VIEW_OpenStream"), -1);
    EXPECT_NE(IndexOf(started, "KTN_VIEW_Play"), -1);

    ColourFeed feed;
    feed.pPage = &page;
    const int lPlay = CQZConnect::GetInstance()->ConnectChanel(lLogin, 7, 1, &ColourFeed::OnData, &feed);
    ASSERT_GT(lPlay, 0);
    EXPECT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GridTest::Grab(page.GetVideoFrame()), 16) == 7; }, 20000))
        << feed.nTaken.load() << " blocks";
    EXPECT_TRUE(GridTest::ShowsPattern(GridTest::Grab(page.GetVideoFrame())));
    // The data thread counts a block once the page's InputData has returned, which may be after its picture.
    EXPECT_TRUE(WaitUntil([&] { return feed.nTaken.load() > 0; }));
    EXPECT_FALSE(feed.bOnGuiThread.load());
    EXPECT_EQ(CQZConnect::GetInstance()->DisconnectChannel(lPlay, &ColourFeed::OnData, &feed), 1);

    PavlineControl::ClearJournal();
    EXPECT_EQ(page.PreviewStop(), 0);
    EXPECT_EQ(PortCalls(), (std::vector<std::string>{"KTN_VIEW_SetDisplayRegion", "KTN_VIEW_Stop", "KTN_VIEW_CloseStream"}));
    EXPECT_EQ(page.GetPlayState(), 1);
    EXPECT_FALSE(PavlineControl::Stats(320).bOpen);
    // A second stop finds nothing to do.
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.PreviewStop(), 0);
    EXPECT_TRUE(PortCalls().empty());
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
}

TEST_F(ColorSetTest, EachStartClosesThePortBeforeTheNextOpensWhileDataKeepsComing)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    CColorSetWidget page;
    ASSERT_TRUE(GridTest::ShowAt(&page, GridTest::kStreamWidth, GridTest::kStreamHeight));
    ASSERT_EQ(page.PreviewStart(1), 0);
    ColourFeed feed;
    feed.pPage = &page;
    const int lPlay = CQZConnect::GetInstance()->ConnectChanel(lLogin, 4, 1, &ColourFeed::OnData, &feed);
    ASSERT_GT(lPlay, 0);
    ASSERT_TRUE(WaitUntil([&] { return feed.nTaken.load() > 0; }, 10000));

    // Starts in a row while the library's thread goes on feeding the page.
    for (int i = 0; i < 8; ++i) {
        PavlineControl::ClearJournal();
        const int nBefore = feed.nTaken.load();
        ASSERT_EQ(page.PreviewStart(i % 2), 0) << i;
        const std::vector<std::string> calls = PortCalls();
        const int nStop = IndexOf(calls, "KTN_VIEW_Stop");
        const int nClose = IndexOf(calls, "KTN_VIEW_CloseStream");
        const int nOpen = IndexOf(calls, "KTN_VIEW_OpenStream");
        ASSERT_NE(nStop, -1) << i;
        EXPECT_LT(nStop, nClose) << i;
        EXPECT_LT(nClose, nOpen) << i;
        EXPECT_LT(nOpen, IndexOf(calls, "KTN_VIEW_Play", nOpen)) << i;
        EXPECT_TRUE(WaitUntil([&] { return feed.nTaken.load() > nBefore; }, 10000));
    }
    // The port of the last start shows the stream.
    EXPECT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GridTest::Grab(page.GetVideoFrame()), 16) == 4; }, 20000));
    EXPECT_EQ(CQZConnect::GetInstance()->DisconnectChannel(lPlay, &ColourFeed::OnData, &feed), 1);
    EXPECT_EQ(page.PreviewStop(), 0);
}

struct EndCase
{
    const char *pName;
    const char *pFailing;       // the library call made to fail at the start, or null
    int nStart;                 // PreviewStart's result
    int nPlayState;             // after the start
    bool bDestroy;              // the page ends (else it is stopped)
    std::vector<std::string> endCalls;
};

TEST_F(ColorSetTest, PortIsClosedWhateverStateTheStopOrTheEndFindsItIn)
{
    const std::vector<std::string> kPlaying = {"KTN_VIEW_SetDisplayRegion", "KTN_VIEW_Stop", "KTN_VIEW_CloseStream"};
    const EndCase cases[] = {
        {"playing, stopped", nullptr, 0, 0, false, kPlaying},
        {"playing, ended", nullptr, 0, 0, true, kPlaying},
        {"open but not playing, stopped", "KTN_VIEW_Play", -2, 1, false, {"KTN_VIEW_CloseStream"}},
        {"open but not playing, ended", "KTN_VIEW_Play", -2, 1, true, {"KTN_VIEW_CloseStream"}},
        {"never opened, stopped", "KTN_VIEW_OpenStream", -2, 1, false, {}},
        {"never opened, ended", "KTN_VIEW_OpenStream", -2, 1, true, {}},
    };
    for (const EndCase &c : cases) {
        SCOPED_TRACE(c.pName);
        auto pPage = std::make_unique<CColorSetWidget>();
        ASSERT_TRUE(GridTest::ShowAt(pPage.get(), 160, 90));
        if (c.pFailing)
            PavlineControl::FailNextCall(c.pFailing, KTN_ERR_FAILED);
        EXPECT_EQ(pPage->PreviewStart(0), c.nStart);
        EXPECT_EQ(pPage->GetPlayState(), c.nPlayState);
        PavlineControl::ClearJournal();
        if (c.bDestroy)
            pPage.reset();
        else
            EXPECT_EQ(pPage->PreviewStop(), 0);
        EXPECT_EQ(PortCalls(), c.endCalls);
        EXPECT_FALSE(PavlineControl::Stats(320).bOpen);
        EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    }
}

TEST_F(ColorSetTest, WithoutAChannelNothingIsDone)
{
    CColorSetWidget page;
    const unsigned char block[16] = {0, 0, 1, 0xFC};
    EXPECT_EQ(page.PreviewStop(), -1);
    EXPECT_EQ(page.InputData(block, sizeof block), -1);
    EXPECT_EQ(page.GetPlayState(), -1);
    EXPECT_TRUE(PortCalls().empty());
}

} // namespace
