// The live streams of a login share one thread of the library, its clock: every stream keeps its own pace, a
// stream whose callback refuses or blocks holds up no stop of another, and a callback may stop another stream of
// its login.

#include "platform/korvex.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

size_t VideoBlocks(const BlockSink &sink)
{
    size_t n = 0;
    for (const BlockSink::Block &b : sink.Blocks())
        n += b.nType == ZDK_FRAME_VIDEO ? 1 : 0;
    return n;
}

std::set<std::thread::id> Threads(const BlockSink &sink)
{
    std::set<std::thread::id> threads;
    for (const BlockSink::Block &b : sink.Blocks())
        threads.insert(b.thread);
    return threads;
}

} // namespace

class KorvexLiveClock : public KorvexFixture
{
};

TEST_F(KorvexLiveClock, OneThreadALoginServesEveryStreamAtItsPace)
{
    HoldClock();
    const int32_t lFirst = LoginBuiltIn(), lSecond = LoginBuiltIn();
    std::vector<BlockSink> sinks(6);
    const StreamsStop stop;
    for (size_t i = 0; i < sinks.size(); ++i) {
        const int32_t lPlay = OpenLiveStream(i < 4 ? lFirst : lSecond, static_cast<int>(i), 1);
        ASSERT_GT(lPlay, 0);
        ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, &BlockSink::OnFrame, &sinks[i]), 0);
    }
    EXPECT_EQ(KorvexControl::RunningThreads(), 3) << "the event thread and one clock a login";
    // Every stream began when its callback was set, on the held clock: one second of 15 pictures a second and
    // of 40 ms audio blocks, both ends counted.
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    RunLibraryFor(1000);
    for (size_t i = 0; i < sinks.size(); ++i) {
        EXPECT_EQ(VideoBlocks(sinks[i]), 16u) << "stream " << i;
        EXPECT_EQ(sinks[i].Count() - VideoBlocks(sinks[i]), 26u) << "stream " << i;
    }
    std::set<std::thread::id> first, second;
    for (size_t i = 0; i < sinks.size(); ++i)
        for (std::thread::id id : Threads(sinks[i]))
            (i < 4 ? first : second).insert(id);
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(second.size(), 1u);
    EXPECT_NE(first, second) << "each login has a clock of its own";
    EXPECT_EQ(first.count(std::this_thread::get_id()), 0u);

    ASSERT_NE(ZDK_DEV_Logout(lFirst), 0);
    EXPECT_EQ(KorvexControl::RunningThreads(), 2) << "a logout ends its clock";
    ASSERT_NE(ZDK_DEV_Logout(lSecond), 0);
    EXPECT_EQ(KorvexControl::RunningThreads(), 1);
}

TEST_F(KorvexLiveClock, ARefusedBlockHoldsUpItsOwnStreamOnly)
{
    HoldClock();
    const int32_t lLogin = LoginBuiltIn();
    BlockSink refusing, taking;
    const StreamsStop stop;
    refusing.RefuseNext(1000000);
    const int32_t lRefusing = OpenLiveStream(lLogin, 0, 1), lTaking = OpenLiveStream(lLogin, 1, 1);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lRefusing, &BlockSink::OnFrame, &refusing), 0);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lTaking, &BlockSink::OnFrame, &taking), 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    RunLibraryFor(1000);
    EXPECT_EQ(VideoBlocks(taking), 16u) << "the other stream keeps its pace";
    EXPECT_EQ(refusing.Count(), 0u);
    // Offered again every 20 ms, from its first offer to the end of the second.
    EXPECT_EQ(refusing.Refused(), 51);

    refusing.RefuseNext(0);
    RunLibraryFor(100);
    ASSERT_GT(refusing.Count(), 0u);
    const BlockSink::Block first = refusing.Blocks().front();
    EXPECT_EQ(first.nType, ZDK_FRAME_VIDEO);
    EXPECT_EQ(first.frame.nKeyFrame, 1) << "the refused block, the stream's first, comes at last";
}

TEST_F(KorvexLiveClock, AStopWaitsForNoOtherStreamsCallback)
{
    const int32_t lLogin = LoginBuiltIn();
    struct Gate
    {
        std::mutex mutex;
        std::condition_variable cv;
        bool bOpen = false;
        std::atomic<bool> bEntered{false};
    };
    static Gate *s_pGate = nullptr;
    Gate gate;
    s_pGate = &gate;
    // Its first call waits for the gate: meanwhile the login's clock serves nothing else.
    auto onBlocked = [](int32_t, const RealDataFrame *, void *) -> int32_t {
        std::unique_lock<std::mutex> lock(s_pGate->mutex);
        s_pGate->bEntered = true;
        s_pGate->cv.wait(lock, [] { return s_pGate->bOpen; });
        return 1;
    };
    auto openGate = [&gate] {
        {
            std::lock_guard<std::mutex> lock(gate.mutex);
            gate.bOpen = true;
        }
        gate.cv.notify_all();
    };
    BlockSink other;
    const StreamsStop stop;
    const int32_t lBlocked = OpenLiveStream(lLogin, 0, 1), lOther = OpenLiveStream(lLogin, 1, 1);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lOther, &BlockSink::OnFrame, &other), 0);
    ASSERT_TRUE(other.WaitForBlocks(1, 20000));
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lBlocked, onBlocked, nullptr), 0);
    ASSERT_TRUE(WaitUntil([&] { return gate.bEntered.load(); }));

    std::future<int32_t> stopped = std::async(std::launch::async, [lOther] { return ZDK_DEV_StopRealPlay(lOther, 0); });
    const bool bReturned = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    openGate();
    ASSERT_TRUE(bReturned) << "the stop waited for another stream's callback";
    EXPECT_EQ(stopped.get(), 1);
    const size_t nOther = other.Count();
    EXPECT_NE(ZDK_DEV_StopRealPlay(lBlocked, 0), 0);
    RunLibraryFor(400);
    EXPECT_EQ(other.Count(), nOther);
}

TEST_F(KorvexLiveClock, ACallbackMayStopAnotherStreamOfItsLogin)
{
    HoldClock();
    const int32_t lLogin = LoginBuiltIn();
    struct Stopper
    {
        int32_t lOther = 0;
        std::atomic<int> nCalls{0};
        std::atomic<int> nResult{-1};
    };
    static Stopper *s_pStopper = nullptr;
    Stopper stopper;
    s_pStopper = &stopper;
    auto onFrame = [](int32_t, const RealDataFrame *, void *) -> int32_t {
        if (++s_pStopper->nCalls == 3)
            s_pStopper->nResult = ZDK_DEV_StopRealPlay(s_pStopper->lOther, 0);
        return 1;
    };
    BlockSink other;
    const StreamsStop stop;
    const int32_t lStopping = OpenLiveStream(lLogin, 0, 1);
    stopper.lOther = OpenLiveStream(lLogin, 1, 1);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(stopper.lOther, &BlockSink::OnFrame, &other), 0);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lStopping, onFrame, nullptr), 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    RunLibraryFor(400);
    EXPECT_EQ(stopper.nResult.load(), 1);
    const size_t nOther = other.Count();
    EXPECT_GT(nOther, 0u);
    const int nCalls = stopper.nCalls.load();
    RunLibraryFor(400);
    EXPECT_EQ(other.Count(), nOther) << "nothing comes after the stop";
    EXPECT_GT(stopper.nCalls.load(), nCalls) << "the stopping stream goes on";
    EXPECT_EQ(ZDK_DEV_StopRealPlay(stopper.lOther, 0), 0);
    EXPECT_EQ(KorvexControl::OpenStreams(), 1);
}
