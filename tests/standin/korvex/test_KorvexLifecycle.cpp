// What the simulated library promises about its threads: a stop, a callback removal, a logout or a clean-up
// returns only when no callback of the handle can run any more, also under a start/stop stress with slow
// callbacks; the disconnect and alarm callbacks run on a library thread.

#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <map>
#include <random>
#include <set>

namespace {

const char *kSmallDevice = R"([{"IP": "10.0.0.9", "Port": 9000, "Channels": 8,
  "Main": {"Codec": "H.265", "Width": 352, "Height": 288, "FrameRate": 25},
  "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 25}}])";

// Records which callbacks may no longer run, and catches any that does.
struct Watch
{
    std::mutex mutex;
    std::set<std::pair<int32_t, int>> closed;   // (handle, 1 for V1 / 2 for V2)
    std::atomic<int> nViolations{0};
    std::atomic<int> nCalls{0};
    std::atomic<int> nMaxDelayMs{0};

    void Close(int32_t lPlay, int nVersion)
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed.insert({lPlay, nVersion});
    }
    void Check(int32_t lPlay, int nVersion)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (closed.count({lPlay, nVersion}))
            ++nViolations;
    }
    void Call(int32_t lPlay, int nVersion)
    {
        ++nCalls;
        Check(lPlay, nVersion);
        // A slow consumer: the stop that comes meanwhile has to wait for it (not a wait of the test).
        const int nMax = nMaxDelayMs.load();
        if (nMax > 0) {
            thread_local std::mt19937 rng(std::hash<std::thread::id>()(std::this_thread::get_id()));
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % (nMax + 1)));
        }
        Check(lPlay, nVersion);
    }
};
Watch *g_pWatch = nullptr;

int32_t WatchedV1(int32_t lPlay, int32_t, const unsigned char *, uint32_t, void *)
{
    g_pWatch->Call(lPlay, 1);
    return 1;
}

int32_t WatchedV2(int32_t lPlay, const RealDataFrame *, void *)
{
    g_pWatch->Call(lPlay, 2);
    return 1;
}

// Playback data (3) and playback position or download progress (4).
int32_t WatchedPlayData(int32_t lPlay, int32_t, const unsigned char *, uint32_t, void *)
{
    g_pWatch->Call(lPlay, 3);
    return 1;
}

void WatchedPos(int32_t lHandle, int32_t, int32_t, void *)
{
    g_pWatch->Call(lHandle, 4);
}

} // namespace

class KorvexLifecycle : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        g_pWatch = &m_watch;
    }
    void TearDown() override
    {
        KorvexFixture::TearDown();
        g_pWatch = nullptr;
    }
    Watch m_watch;
};

TEST_F(KorvexLifecycle, StartStopStressWithSlowCallbacks)
{
    UseDevices(kSmallDevice);
    m_watch.nMaxDelayMs = 8;
    // Two clients at once, each with its own logins; every way of ending a stream in turn.
    auto client = [this](unsigned nSeed) {
        std::mt19937 rng(nSeed);
        for (int nRound = 0; nRound < 24; ++nRound) {
            NetDeviceInfo info{};
            int32_t nError = 0;
            const int32_t lLogin = ZDK_DEV_Login("10.0.0.9", 9000, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS);
            ASSERT_GT(lLogin, 0);
            std::vector<int32_t> plays;
            for (int nChannel = 0; nChannel < 4; ++nChannel) {
                const int32_t lPlay = OpenLiveStream(lLogin, nChannel, nChannel == 3 ? 0 : 1);
                ASSERT_GT(lPlay, 0);
                if (nChannel != 1) {
                    ASSERT_NE(ZDK_DEV_SetRealDataCallBack(lPlay, &WatchedV1, ZDK_ChannelToUser(nChannel)), 0);
                }
                if (nChannel != 0) {
                    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, &WatchedV2, ZDK_ChannelToUser(nChannel)), 0);
                }
                plays.push_back(lPlay);
            }
            // A playback (fast, so that it reaches its end report) and a download of a short span.
            ZDK_FindInfo find{};
            find.nChannel = 1;
            find.nStreamType = 1;
            find.startTime = ZDK_Time6{2022, 1, 2, 3, 4, 0};
            find.endTime = ZDK_Time6{2022, 1, 2, 3, 4, 1};
            const int32_t lPlayback =
                ZDK_DEV_PlayBackByTimeEx(lLogin, &find, &WatchedPlayData, nullptr, &WatchedPos, nullptr);
            ASSERT_GT(lPlayback, 0);
            ASSERT_NE(ZDK_DEV_PlayBackControl(lPlayback, ZDK_PLAY_FAST, 4, 0), 0);
            ZDK_FileData file{};
            file.nChannel = 2;
            file.nStreamType = 1;
            file.stBeginTime = ZDK_FileTime{2022, 1, 2, 0, 3, 4, 0};
            file.stEndTime = ZDK_FileTime{2022, 1, 2, 0, 3, 4, 2};
            const QByteArray baPath =
                TempPath(QString("download_%1_%2").arg(nSeed).arg(nRound)).toLocal8Bit();
            const int32_t lDownload =
                ZDK_DEV_DownloadByName(lLogin, &file, baPath.constData(), &WatchedPos, nullptr, 0);
            ASSERT_GT(lDownload, 0);

            // The streams run for a few callbacks (of either client), then end while callbacks are in flight.
            const int nUntil = m_watch.nCalls.load() + static_cast<int>(rng() % 5);
            EXPECT_TRUE(WaitUntil([&] { return m_watch.nCalls.load() >= nUntil; }));
            const int nWay = nRound % 3;
            if (nWay < 2) {
                EXPECT_NE(ZDK_DEV_StopPlayBack(lPlayback), 0);
                m_watch.Close(lPlayback, 3);
                m_watch.Close(lPlayback, 4);
                EXPECT_NE(ZDK_DEV_StopDownload(lDownload), 0);
                m_watch.Close(lDownload, 4);
            }
            for (size_t i = 0; i < plays.size() && nWay < 2; ++i) {
                const int32_t lPlay = plays[i];
                if (nWay == 0) {
                    if (i != 1) {
                        EXPECT_NE(ZDK_DEV_DelRealDataCallBack(lPlay, &WatchedV1, ZDK_ChannelToUser(int(i))), 0);
                        m_watch.Close(lPlay, 1);
                    }
                    if (i != 0) {
                        EXPECT_NE(ZDK_DEV_DelRealDataCallBack_V2(lPlay, &WatchedV2, ZDK_ChannelToUser(int(i))), 0);
                        m_watch.Close(lPlay, 2);
                    }
                }
                EXPECT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
                m_watch.Close(lPlay, 1);
                m_watch.Close(lPlay, 2);
            }
            // The third way leaves the streams to the logout.
            EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
            for (int32_t lPlay : plays) {
                m_watch.Close(lPlay, 1);
                m_watch.Close(lPlay, 2);
            }
            m_watch.Close(lPlayback, 3);
            m_watch.Close(lPlayback, 4);
            m_watch.Close(lDownload, 4);
        }
    };
    std::thread first(client, 1u), second(client, 2u);
    first.join();
    second.join();
    // Every thread of the library has ended or waits for work: no callback can still come.
    EXPECT_TRUE(KorvexControl::WaitForIdle());
    EXPECT_GT(m_watch.nCalls.load(), 0);
    EXPECT_EQ(m_watch.nViolations.load(), 0) << "a callback ran after the stop that ended it returned";
    EXPECT_EQ(KorvexControl::OpenStreams(), 0);
    EXPECT_EQ(KorvexControl::OpenLogins(), 0);
}

TEST_F(KorvexLifecycle, StopWaitsForTheRunningCallback)
{
    UseDevices(kSmallDevice);
    const int32_t lLogin = LoginAt("10.0.0.9", 9000);
    struct Slow
    {
        std::mutex mutex;
        std::condition_variable cv;
        bool bEntered = false;
        std::atomic<bool> bLeft{false};
    } slow;
    static Slow *s_pSlow = nullptr;
    s_pSlow = &slow;
    auto onFrame = [](int32_t, const RealDataFrame *, void *) -> int32_t {
        {
            std::lock_guard<std::mutex> lock(s_pSlow->mutex);
            if (s_pSlow->bEntered)
                return 1;
            s_pSlow->bEntered = true;
        }
        s_pSlow->cv.notify_all();
        // Still inside when the stop comes (a slow consumer, not a wait of the test).
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s_pSlow->bLeft = true;
        return 1;
    };
    const int32_t lPlay = OpenLiveStream(lLogin, 0, 1);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, onFrame, nullptr), 0);
    {
        std::unique_lock<std::mutex> lock(slow.mutex);
        ASSERT_TRUE(slow.cv.wait_for(lock, std::chrono::seconds(10), [&] { return slow.bEntered; }));
    }
    EXPECT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    EXPECT_TRUE(slow.bLeft.load()) << "the stop returned while its callback still ran";
}

TEST_F(KorvexLifecycle, CallbacksMayEndTheirOwnStreamOrLogin)
{
    UseDevices(kSmallDevice);
    struct Own
    {
        std::atomic<int> nCalls{0};
        std::atomic<int> nAfter{0};
        std::atomic<int> nResult{-1};
        std::atomic<int> nCleanup{-1};
        std::atomic<int> nCleanupError{0};
        std::atomic<bool> bEnded{false};
        int32_t lLogin = 0;
        bool bLogout = false;
    };
    static Own *s_pOwn = nullptr;
    auto onFrame = [](int32_t lPlay, const RealDataFrame *, void *) -> int32_t {
        if (s_pOwn->bEnded) {
            ++s_pOwn->nAfter;
            return 1;
        }
        if (++s_pOwn->nCalls == 3) {
            // The library's clean-up may not run on its own thread.
            s_pOwn->nCleanup = ZDK_DEV_Cleanup();
            s_pOwn->nCleanupError = ZDK_DEV_GetLastError();
            s_pOwn->nResult = s_pOwn->bLogout ? ZDK_DEV_Logout(s_pOwn->lLogin) : ZDK_DEV_StopRealPlay(lPlay, 0);
            s_pOwn->bEnded = true;
        }
        return 1;
    };
    for (bool bLogout : {false, true}) {
        Own own;
        s_pOwn = &own;
        own.bLogout = bLogout;
        own.lLogin = LoginAt("10.0.0.9", 9000);
        const int32_t lPlay = OpenLiveStream(own.lLogin, 2, 1);
        ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, onFrame, nullptr), 0);
        EXPECT_TRUE(WaitUntil([&] { return own.bEnded.load(); }));
        // The stream's thread ends when the callback that ended it returns.
        EXPECT_TRUE(KorvexControl::WaitForIdle());
        ASSERT_TRUE(own.bEnded.load());
        EXPECT_EQ(own.nResult.load(), 1) << (bLogout ? "logout" : "stop");
        EXPECT_EQ(own.nAfter.load(), 0) << (bLogout ? "logout" : "stop");
        EXPECT_EQ(own.nCleanup.load(), 0);
        EXPECT_EQ(own.nCleanupError.load(), ZDK_ERR_WRONG_THREAD);
        EXPECT_EQ(KorvexControl::OpenStreams(), 0);
        EXPECT_EQ(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
        if (!bLogout) {
            EXPECT_NE(ZDK_DEV_Logout(own.lLogin), 0);
        }
    }
    // The threads that ended themselves are joined by the clean-up of the fixture.
}

TEST_F(KorvexLifecycle, CutLoginCallsTheDisconnectCallback)
{
    struct Cut
    {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::tuple<int32_t, std::string, int32_t, void *, std::thread::id>> calls;
        std::atomic<bool> bLeft{false};
        int nDelayMs = 0;
    } cut;
    static Cut *s_pCut = nullptr;
    s_pCut = &cut;
    auto onDisconnect = [](int32_t lLogin, const char *pIP, int32_t nPort, void *pUser) {
        {
            std::lock_guard<std::mutex> lock(s_pCut->mutex);
            s_pCut->calls.emplace_back(lLogin, pIP, nPort, pUser, std::this_thread::get_id());
        }
        s_pCut->cv.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(s_pCut->nDelayMs));
        s_pCut->bLeft = true;
    };
    ASSERT_NE(ZDK_DEV_Cleanup(), 0);
    ASSERT_NE(ZDK_DEV_Init(onDisconnect, &cut), 0);
    const int32_t lLogin = LoginBuiltIn();
    BlockSink sink;
    const StreamsStop stop;
    const int32_t lPlay = OpenLiveStream(lLogin, 0, 1);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack(lPlay, &BlockSink::OnData, &sink), 0);
    ASSERT_TRUE(sink.WaitForBlocks(2, 20000));

    ASSERT_TRUE(KorvexControl::CutLogin(lLogin));
    EXPECT_FALSE(KorvexControl::CutLogin(lLogin)) << "cut once";
    {
        std::unique_lock<std::mutex> lock(cut.mutex);
        ASSERT_TRUE(cut.cv.wait_for(lock, std::chrono::seconds(20), [&] { return !cut.calls.empty(); }));
        EXPECT_EQ(std::get<0>(cut.calls[0]), lLogin);
        EXPECT_EQ(std::get<1>(cut.calls[0]), "127.0.0.1");
        EXPECT_EQ(std::get<2>(cut.calls[0]), 34567);
        EXPECT_EQ(std::get<3>(cut.calls[0]), &cut);
        EXPECT_NE(std::get<4>(cut.calls[0]), std::this_thread::get_id());
    }
    const size_t nAtCut = sink.Count();
    HoldClock();
    RunLibraryFor(400);
    EXPECT_LE(sink.Count(), nAtCut + 1) << "a cut stream delivers nothing more";
    EXPECT_EQ(OpenLiveStream(lLogin, 1, 1), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_DISCONNECTED);
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0) << "a cut login is still logged out";

    // A logout returns only after a disconnect callback of its login that runs has ended (the callback is slow
    // so that the logout comes while it runs).
    cut.nDelayMs = 300;
    cut.bLeft = false;
    const int32_t lSecond = LoginBuiltIn();
    ASSERT_TRUE(KorvexControl::CutLogin(lSecond));
    {
        std::unique_lock<std::mutex> lock(cut.mutex);
        ASSERT_TRUE(cut.cv.wait_for(lock, std::chrono::seconds(20), [&] { return cut.calls.size() == 2; }));
    }
    EXPECT_NE(ZDK_DEV_Logout(lSecond), 0);
    EXPECT_TRUE(cut.bLeft.load());
}

TEST_F(KorvexLifecycle, AlarmsReachTheLoginsThatListen)
{
    struct Alarms
    {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::tuple<int32_t, ZDK_AlarmInfo, uint32_t, void *, int32_t>> calls;
    } alarms;
    static Alarms *s_pAlarms = nullptr;
    s_pAlarms = &alarms;
    auto onMessage = [](int32_t lLogin, const char *pBuf, uint32_t nLen, void *pUser, int32_t nKind) -> bool {
        ZDK_AlarmInfo info{};
        std::memcpy(&info, pBuf, std::min<size_t>(nLen, sizeof info));
        {
            std::lock_guard<std::mutex> lock(s_pAlarms->mutex);
            s_pAlarms->calls.emplace_back(lLogin, info, nLen, pUser, nKind);
        }
        s_pAlarms->cv.notify_all();
        return true;
    };
    auto waitFor = [&](size_t n) {
        std::unique_lock<std::mutex> lock(alarms.mutex);
        return alarms.cv.wait_for(lock, std::chrono::seconds(20), [&] { return alarms.calls.size() >= n; });
    };
    const int32_t lLogin = LoginBuiltIn();
    EXPECT_FALSE(KorvexControl::RaiseAlarm(lLogin, 3, 4, 0)) << "no message callback";
    ASSERT_NE(ZDK_DEV_SetMessCallBack(onMessage, &alarms), 0);
    EXPECT_FALSE(KorvexControl::RaiseAlarm(lLogin, 3, 4, 0)) << "the login does not listen";
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lLogin), 0);
    ASSERT_TRUE(KorvexControl::RaiseAlarm(lLogin, 3, 4, 0));
    ASSERT_TRUE(KorvexControl::RaiseAlarm(lLogin, 7, 25, 2, 2));
    ASSERT_TRUE(waitFor(2));
    {
        std::lock_guard<std::mutex> lock(alarms.mutex);
        EXPECT_EQ(std::get<0>(alarms.calls[0]), lLogin);
        EXPECT_EQ(std::get<1>(alarms.calls[0]).nChannel, 3);
        EXPECT_EQ(std::get<1>(alarms.calls[0]).nEvent, 4);
        EXPECT_EQ(std::get<1>(alarms.calls[0]).nStatus, 0);
        EXPECT_EQ(std::get<2>(alarms.calls[0]), sizeof(ZDK_AlarmInfo));
        EXPECT_EQ(std::get<3>(alarms.calls[0]), &alarms);
        EXPECT_EQ(std::get<4>(alarms.calls[0]), 1);
        EXPECT_EQ(std::get<1>(alarms.calls[1]).nStatus, 2);
        EXPECT_EQ(std::get<4>(alarms.calls[1]), 2);
    }
    ASSERT_NE(ZDK_DEV_StopAlarmListen(lLogin), 0);
    EXPECT_FALSE(KorvexControl::RaiseAlarm(lLogin, 3, 4, 1));
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lLogin), 0);
    ASSERT_NE(ZDK_DEV_SetMessCallBack(nullptr, nullptr), 0);
    EXPECT_FALSE(KorvexControl::RaiseAlarm(lLogin, 3, 4, 1));
}

TEST_F(KorvexLifecycle, CleanupEndsEveryStreamAndThread)
{
    UseDevices(kSmallDevice);
    m_watch.nMaxDelayMs = 20;
    std::vector<int32_t> plays;
    for (int i = 0; i < 2; ++i) {
        const int32_t lLogin = LoginAt("10.0.0.9", 9000);
        for (int nChannel = 0; nChannel < 3; ++nChannel) {
            const int32_t lPlay = OpenLiveStream(lLogin, nChannel, 1);
            ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, &WatchedV2, nullptr), 0);
            plays.push_back(lPlay);
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return m_watch.nCalls.load() >= 10; }));
    // The event thread and each login's live clock.
    EXPECT_EQ(KorvexControl::RunningThreads(), 3);
    ASSERT_NE(ZDK_DEV_Cleanup(), 0);
    for (int32_t lPlay : plays)
        m_watch.Close(lPlay, 2);
    EXPECT_EQ(KorvexControl::RunningThreads(), 0);
    EXPECT_EQ(KorvexControl::OpenStreams(), 0);
    EXPECT_EQ(KorvexControl::OpenLogins(), 0);
    EXPECT_EQ(ZDK_DEV_StopRealPlay(plays[0], 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NOT_INIT);
    // No thread of the library is left (checked above), so none can call back after this.
    EXPECT_EQ(m_watch.nViolations.load(), 0);
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
}
