// Play control of a port: pacing by the block timestamps and the speed, pause, single steps both ways, the
// current play time, refresh, and the live port's cut of a growing delay.

#include "tests/support/PavlineFixture.h"

#include <QThread>

#include <chrono>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kStartMs = 1700000000000LL;   // timestamps of the first block
constexpr int kPort = 70;

// When each picture was shown (the decode callback runs after each one).
struct ShowTimes
{
    std::mutex mutex;
    std::vector<Clock::time_point> times;

    static void OnPicture(int32_t, void *, void *pUser)
    {
        ShowTimes *p = static_cast<ShowTimes *>(pUser);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->times.push_back(Clock::now());
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return times.size();
    }
    double SpanMs()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return times.size() < 2 ? 0.0
                                : std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
    }
};

class PavlinePlayTest : public PavlineFixture
{
protected:
    void SetUp() override
    {
        PavlineFixture::SetUp();
        m_loop = PavlineTest::PatternLoop(2, 320, 180, 25);
        ASSERT_TRUE(m_loop);
    }

    // A device-playback port (file mode), playing into no window, its pictures timed.
    void OpenPlaying(int nMode = STREAME_FILE)
    {
        ASSERT_NE(KTN_VIEW_SetDecCallBack(kPort, ShowTimes::OnPicture, &m_times), 0);
        ASSERT_NE(KTN_VIEW_OpenStream(kPort, nullptr, 0, 4096000), 0);
        ASSERT_NE(KTN_VIEW_SetStreamOpenMode(kPort, nMode), 0);
        ASSERT_NE(KTN_VIEW_Play(kPort, nullptr), 0);
    }

    std::vector<std::vector<uint8_t>> Frames(int n, int nFirst = 0)
    {
        return PavlineTest::Blocks(*m_loop, n, kStartMs + nFirst * 40);
    }

    bool WaitShown(int64_t n, int nTimeoutMs = 20000) { return PavlineControl::WaitForShown(kPort, n, nTimeoutMs); }
    int64_t LastShownMs() { return PavlineControl::Stats(kPort).nLastShownMs; }
    // The port has decoded ahead as far as its picture cache lets it.
    bool WaitCacheFull()
    {
        return PavlineTest::WaitUntil([] {
            return KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES) >= PavlineControl::Stats(kPort).nPictureCache;
        });
    }

    std::shared_ptr<const VideoLoop> m_loop;
    ShowTimes m_times;
};

TEST_F(PavlinePlayTest, PicturesFollowTheirTimestampsAtEachSpeed)
{
    struct Case
    {
        int nSteps;         // > 0 faster, < 0 slower
        double dMinFactor;  // wall time / media time, at least ...
        double dMaxFactor;  // ... and at most
    };
    // Pacing never runs ahead of the timestamps; the upper bounds leave room for a loaded machine.
    const Case cases[] = {{0, 0.85, 3.0}, {-1, 1.7, 6.0}, {2, 0.2, 0.75}};
    for (const Case &c : cases) {
        PavlineControl::Reset();
        m_times.times.clear();
        OpenPlaying();
        for (int i = 0; i < c.nSteps; ++i)
            ASSERT_NE(KTN_VIEW_Fast(kPort), 0);
        for (int i = 0; i > c.nSteps; --i)
            ASSERT_NE(KTN_VIEW_Slow(kPort), 0);
        EXPECT_EQ(PavlineControl::Stats(kPort).nSpeed, c.nSteps);
        ASSERT_TRUE(PavlineTest::FeedAll(kPort, Frames(26)));
        ASSERT_TRUE(WaitShown(26)) << c.nSteps;
        const double dMediaMs = 25 * 40.0;
        EXPECT_GE(m_times.SpanMs(), c.dMinFactor * dMediaMs) << "speed steps " << c.nSteps;
        EXPECT_LE(m_times.SpanMs(), c.dMaxFactor * dMediaMs) << "speed steps " << c.nSteps;
        EXPECT_EQ(PavlineControl::Stats(kPort).nPicturesDropped, 0);
        // The current play time is the timestamp of the picture shown last, in seconds.
        EXPECT_EQ(KTN_VIEW_GetCurPlayTime(kPort), (kStartMs + 25 * 40) / 1000);
    }
}

TEST_F(PavlinePlayTest, SpeedStepsStopAtSixteenTimes)
{
    OpenPlaying();
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(KTN_VIEW_Fast(kPort), 0);
    EXPECT_EQ(KTN_VIEW_Fast(kPort), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_PARAM);
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(KTN_VIEW_Slow(kPort), 0);
    EXPECT_EQ(KTN_VIEW_Slow(kPort), 0);
    EXPECT_EQ(PavlineControl::Stats(kPort).nSpeed, -4);
    // Play again: normal speed.
    EXPECT_NE(KTN_VIEW_Play(kPort, nullptr), 0);
    EXPECT_EQ(PavlineControl::Stats(kPort).nSpeed, 0);
}

TEST_F(PavlinePlayTest, PauseHoldsThePictureAndResumeGoesOn)
{
    OpenPlaying();
    ASSERT_TRUE(PavlineTest::FeedAll(kPort, Frames(40)));
    ASSERT_TRUE(WaitShown(5));
    ASSERT_NE(KTN_VIEW_Pause(kPort, 1), 0);
    const int64_t nAtPause = PavlineControl::Stats(kPort).nPicturesShown;
    // The port decodes on while paused until its picture cache is full: then its thread has nothing left to do.
    ASSERT_TRUE(WaitCacheFull());
    // At most a picture that was being drawn when the pause came.
    EXPECT_LE(PavlineControl::Stats(kPort).nPicturesShown, nAtPause + 1);
    EXPECT_GT(KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES), 0);
    ASSERT_NE(KTN_VIEW_Pause(kPort, 0), 0);
    ASSERT_TRUE(WaitShown(40));
    EXPECT_EQ(LastShownMs(), kStartMs + 39 * 40);
}

TEST_F(PavlinePlayTest, SingleStepsGoForwardAndBack)
{
    OpenPlaying();
    ASSERT_NE(KTN_VIEW_Pause(kPort, 1), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(kPort, Frames(20)));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES) > 3; }));
    EXPECT_EQ(PavlineControl::Stats(kPort).nPicturesShown, 0);

    // Each step forward shows the next picture, and only that.
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(KTN_VIEW_OneByOne(kPort), 0);
        ASSERT_TRUE(WaitShown(i + 1));
        EXPECT_EQ(LastShownMs(), kStartMs + i * 40);
    }
    // Nothing left to decode ahead: the port does nothing more until the next step.
    ASSERT_TRUE(WaitCacheFull());
    EXPECT_EQ(PavlineControl::Stats(kPort).nPicturesShown, 4);
    EXPECT_TRUE(PavlineControl::Stats(kPort).bStepping);

    // A step back shows the picture before; a step forward then shows the one stepped back from.
    ASSERT_NE(KTN_VIEW_OneByOneBack(kPort), 0);
    ASSERT_TRUE(WaitShown(5));
    EXPECT_EQ(LastShownMs(), kStartMs + 2 * 40);
    ASSERT_NE(KTN_VIEW_OneByOneBack(kPort), 0);
    ASSERT_TRUE(WaitShown(6));
    EXPECT_EQ(LastShownMs(), kStartMs + 1 * 40);
    ASSERT_NE(KTN_VIEW_OneByOne(kPort), 0);
    ASSERT_TRUE(WaitShown(7));
    EXPECT_EQ(LastShownMs(), kStartMs + 2 * 40);

    // Play leaves single steps: the rest plays at normal speed.
    ASSERT_NE(KTN_VIEW_Play(kPort, nullptr), 0);
    EXPECT_FALSE(PavlineControl::Stats(kPort).bStepping);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return LastShownMs() == kStartMs + 19 * 40; }));
}

TEST_F(PavlinePlayTest, RefreshEmptiesTheBuffersAndWaitsForAKeyFrame)
{
    OpenPlaying();
    ASSERT_NE(KTN_VIEW_Pause(kPort, 1), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(kPort, Frames(30)));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES) > 0; }));
    EXPECT_GT(KTN_VIEW_GetSourceBufferRemain(kPort), 0);
    ASSERT_NE(KTN_VIEW_RefreshPlay(kPort), 0);
    EXPECT_EQ(KTN_VIEW_GetSourceBufferRemain(kPort), 0);
    EXPECT_EQ(KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES), 0);

    // What comes next begins with frame 5 of a key interval of 25: up to frame 25, nothing can be decoded.
    ASSERT_NE(KTN_VIEW_Pause(kPort, 0), 0);
    const int64_t nSkippedBefore = PavlineControl::Stats(kPort).nUnitsSkipped;
    auto frames = PavlineTest::Blocks(*m_loop, 30, kStartMs);
    frames.erase(frames.begin(), frames.begin() + 5);
    ASSERT_TRUE(PavlineTest::FeedAll(kPort, frames));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        return KTN_VIEW_GetSourceBufferRemain(kPort) == 0 && KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES) == 0;
    }));
    const PortStats stats = PavlineControl::Stats(kPort);
    EXPECT_EQ(stats.nUnitsSkipped - nSkippedBefore, 20);
    EXPECT_EQ(stats.nPicturesShown, 5);
    EXPECT_EQ(stats.nDecodeErrors, 0);
}

TEST_F(PavlinePlayTest, ALivePortCutsAGrowingDelayAtAKeyFrame)
{
    OpenPlaying(STREAME_REALTIME);
    // Six seconds of live stream arrive at once, as after a stall of the network.
    ASSERT_TRUE(PavlineTest::FeedAll(kPort, Frames(150)));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return LastShownMs() == kStartMs + 149 * 40; }));
    const PortStats stats = PavlineControl::Stats(kPort);
    EXPECT_GT(stats.nUnitsSkipped + stats.nPicturesDropped, 0);
    EXPECT_LT(stats.nPicturesShown, 150);
    // Only the last key interval and less is shown in time: far less than the six seconds.
    EXPECT_LT(m_times.SpanMs(), 3000.0);
    // A file-mode port would show them all (see the pacing test): the live one is where the stream is.
    EXPECT_EQ(KTN_VIEW_GetCurPlayTime(kPort), (kStartMs + 149 * 40) / 1000);
}

} // namespace
