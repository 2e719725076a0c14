// Timed events of a device entry ("Events"): alarms through the message callback and cuts through the
// disconnect callback, each counted from its own login, in the order of their times; a logout or clean-up
// before their time drops them.

#include "tests/support/KorvexFixture.h"

#include "platform/stream_block.h"
#include "standin/korvex/DeviceCatalog.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

// The built-in device without events, and one whose logins get the given events.
std::string DevicesWithEvents(const std::string &strEvents)
{
    return R"([{}, {"IP": "10.0.0.5", "Port": 9100, "Channels": 8, "Events": )" + strEvents + "}]";
}

using Clock = std::chrono::steady_clock;

// What the disconnect and message callbacks delivered. A cut of the hold login keeps the event thread in its
// callback until Release(), so that the events due meanwhile wait for what the test sets up.
struct Calls
{
    struct Call
    {
        bool bCut = false;
        int32_t lLogin = 0;
        ZDK_AlarmInfo alarm{};
        uint32_t nLength = 0;
        int32_t nKind = 0;
        std::string strIP;
        int32_t nPort = 0;
        void *pUser = nullptr;
        Clock::time_point at;
        std::thread::id thread;
    };

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Call> calls;
    int32_t lHoldLogin = 0;
    bool bHolding = false;
    bool bReleased = false;

    void Add(Call &&call)
    {
        call.at = Clock::now();
        call.thread = std::this_thread::get_id();
        std::unique_lock<std::mutex> lock(mutex);
        if (call.bCut && call.lLogin == lHoldLogin) {
            bHolding = true;
            cv.notify_all();
            cv.wait(lock, [&] { return bReleased; });
            return;
        }
        calls.push_back(std::move(call));
        cv.notify_all();
    }
    bool WaitFor(size_t nCount)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return calls.size() >= nCount; });
    }
    bool WaitForCut(int32_t lLogin)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::any_of(calls.begin(), calls.end(), [&](const Call &c) { return c.bCut && c.lLogin == lLogin; });
        });
    }
    std::vector<Call> Taken()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        bReleased = true;
        cv.notify_all();
    }
};
Calls *g_pCalls = nullptr;

void OnDisconnect(int32_t lLogin, const char *pIP, int32_t nPort, void *pUser)
{
    Calls::Call call;
    call.bCut = true;
    call.lLogin = lLogin;
    call.strIP = pIP;
    call.nPort = nPort;
    call.pUser = pUser;
    g_pCalls->Add(std::move(call));
}

bool OnMessage(int32_t lLogin, const char *pBuf, uint32_t nLength, void *pUser, int32_t nKind)
{
    Calls::Call call;
    call.lLogin = lLogin;
    std::memcpy(&call.alarm, pBuf, std::min<size_t>(nLength, sizeof call.alarm));
    call.nLength = nLength;
    call.nKind = nKind;
    call.pUser = pUser;
    g_pCalls->Add(std::move(call));
    return true;
}

} // namespace

class KorvexTimedEvents : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        g_pCalls = &m_calls;
    }
    void TearDown() override
    {
        m_calls.Release();
        KorvexFixture::TearDown();
        g_pCalls = nullptr;
    }

    // The devices, with the library started again with the two callbacks of this test.
    void UseEvents(const std::string &strEvents)
    {
        UseDevices(DevicesWithEvents(strEvents));
        ASSERT_NE(ZDK_DEV_Cleanup(), 0);
        ASSERT_NE(ZDK_DEV_Init(&OnDisconnect, &m_calls), 0);
        ASSERT_NE(ZDK_DEV_SetMessCallBack(&OnMessage, &m_calls), 0);
    }
    int32_t LoginWithEvents() { return LoginAt("10.0.0.5", 9100); }
    // Keeps the event thread busy until m_calls.Release().
    void HoldEventThread()
    {
        const int32_t lHold = LoginBuiltIn();
        {
            std::lock_guard<std::mutex> lock(m_calls.mutex);
            m_calls.lHoldLogin = lHold;
        }
        ASSERT_TRUE(KorvexControl::CutLogin(lHold));
        std::unique_lock<std::mutex> lock(m_calls.mutex);
        ASSERT_TRUE(m_calls.cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_calls.bHolding; }));
    }

    Calls m_calls;
};

TEST_F(KorvexTimedEvents, AlarmsAndACutComeInTheOrderOfTheirTimes)
{
    UseEvents(R"([{"AfterLoginMs": 300, "Cut": true},
                  {"AfterLoginMs": 100, "Alarm": {"Channel": 3, "Code": 4, "Status": 0}},
                  {"AfterLoginMs": 200, "Alarm": {"Channel": 7, "Code": 25, "Status": 2, "Kind": 2}}])");
    HoldEventThread();
    const Clock::time_point before = Clock::now();
    const int32_t lLogin = LoginWithEvents();
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lLogin), 0);
    m_calls.Release();
    ASSERT_TRUE(m_calls.WaitFor(3));

    const std::vector<Calls::Call> calls = m_calls.Taken();
    ASSERT_EQ(calls.size(), 3u);
    const int nAfterMs[] = {100, 200, 300};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].lLogin, lLogin);
        EXPECT_EQ(calls[i].pUser, &m_calls);
        EXPECT_NE(calls[i].thread, std::this_thread::get_id());
        EXPECT_GE(calls[i].at - before, std::chrono::milliseconds(nAfterMs[i])) << "event " << i << " came early";
    }
    EXPECT_FALSE(calls[0].bCut);
    EXPECT_EQ(calls[0].nLength, sizeof(ZDK_AlarmInfo));
    EXPECT_EQ(calls[0].alarm.nChannel, 3);
    EXPECT_EQ(calls[0].alarm.nEvent, 4);
    EXPECT_EQ(calls[0].alarm.nStatus, 0);
    EXPECT_EQ(calls[0].nKind, 1);
    EXPECT_EQ(std::strlen(calls[0].alarm.sTime), 19u);
    EXPECT_FALSE(calls[1].bCut);
    EXPECT_EQ(calls[1].alarm.nChannel, 7);
    EXPECT_EQ(calls[1].alarm.nEvent, 25);
    EXPECT_EQ(calls[1].alarm.nStatus, 2);
    EXPECT_EQ(calls[1].nKind, 2);
    EXPECT_TRUE(calls[2].bCut);
    EXPECT_EQ(calls[2].strIP, "10.0.0.5");
    EXPECT_EQ(calls[2].nPort, 9100);

    // The cut is a real one: the login's calls fail, and it is still logged out.
    ZDK_ClientInfo client{};
    EXPECT_EQ(ZDK_DEV_RealPlay(lLogin, &client, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_DISCONNECTED);
    EXPECT_FALSE(KorvexControl::CutLogin(lLogin)) << "cut once";
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
}

TEST_F(KorvexTimedEvents, AlarmsReachOnlyLoginsThatListen)
{
    UseEvents(R"([{"AfterLoginMs": 0, "Alarm": {"Channel": 1, "Code": 5, "Status": 1}},
                  {"AfterLoginMs": 50, "Cut": true}])");
    HoldEventThread();
    const int32_t lDeaf = LoginWithEvents();
    const int32_t lListening = LoginWithEvents();
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lListening), 0);
    m_calls.Release();
    // The listening login was the later one: once its cut came, every event due before it has had its turn.
    ASSERT_TRUE(m_calls.WaitForCut(lListening));
    std::vector<int32_t> alarms;
    std::vector<int32_t> cuts;
    for (const Calls::Call &call : m_calls.Taken()) {
        (call.bCut ? cuts : alarms).push_back(call.lLogin);
        if (!call.bCut) {
            EXPECT_EQ(call.alarm.nChannel, 1);
            EXPECT_EQ(call.alarm.nEvent, 5);
            EXPECT_EQ(call.alarm.nStatus, 1);
        }
    }
    EXPECT_EQ(alarms, std::vector<int32_t>{lListening});
    std::sort(cuts.begin(), cuts.end());
    EXPECT_EQ(cuts, (std::vector<int32_t>{lDeaf, lListening})) << "both logins are cut, listening or not";
}

TEST_F(KorvexTimedEvents, EachLoginCountsFromItsOwnLogin)
{
    UseEvents(R"([{"AfterLoginMs": 200, "Cut": true}])");
    const Clock::time_point beforeFirst = Clock::now();
    const int32_t lFirst = LoginWithEvents();
    ASSERT_TRUE(m_calls.WaitFor(1));
    const Clock::time_point beforeSecond = Clock::now();
    const int32_t lSecond = LoginWithEvents();
    ASSERT_TRUE(m_calls.WaitFor(2));
    const std::vector<Calls::Call> calls = m_calls.Taken();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].lLogin, lFirst);
    EXPECT_GE(calls[0].at - beforeFirst, std::chrono::milliseconds(200));
    EXPECT_EQ(calls[1].lLogin, lSecond);
    EXPECT_GE(calls[1].at - beforeSecond, std::chrono::milliseconds(200));
    EXPECT_NE(ZDK_DEV_Logout(lFirst), 0);
    EXPECT_NE(ZDK_DEV_Logout(lSecond), 0);
}

TEST_F(KorvexTimedEvents, ALogoutBeforeTheirTimeDropsTheLoginsEvents)
{
    UseEvents(R"([{"AfterLoginMs": 100, "Alarm": {"Channel": 2, "Code": 4, "Status": 0}},
                  {"AfterLoginMs": 150, "Cut": true}])");
    HoldEventThread();
    const int32_t lGone = LoginWithEvents();
    const int32_t lKept = LoginWithEvents();
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lGone), 0);
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lKept), 0);
    EXPECT_NE(ZDK_DEV_Logout(lGone), 0);
    m_calls.Release();
    // The kept login's events were due after the other's: once they came, the other's would have too.
    ASSERT_TRUE(m_calls.WaitFor(2));
    const std::vector<Calls::Call> calls = m_calls.Taken();
    ASSERT_EQ(calls.size(), 2u);
    for (const Calls::Call &call : calls)
        EXPECT_EQ(call.lLogin, lKept);
    EXPECT_NE(ZDK_DEV_Logout(lKept), 0);
}

TEST_F(KorvexTimedEvents, LogoutAndCleanupDoNotWaitForEventsNotDue)
{
    // Ten minutes: a logout or clean-up that waited for them would run past the test's time limit.
    UseEvents(R"([{"AfterLoginMs": 600000, "Cut": true},
                  {"AfterLoginMs": 600000, "Alarm": {"Channel": 0, "Code": 4, "Status": 0}}])");
    const int32_t lFirst = LoginWithEvents();
    ASSERT_NE(ZDK_DEV_StartAlarmListen(lFirst), 0);
    EXPECT_NE(ZDK_DEV_Logout(lFirst), 0);
    LoginWithEvents();
    EXPECT_NE(ZDK_DEV_Cleanup(), 0);
    EXPECT_EQ(KorvexControl::RunningThreads(), 0);
    EXPECT_TRUE(m_calls.Taken().empty());
}

namespace {

// A minute of channel 0's recording, downloaded by name.
int32_t DownloadMinute(int32_t lLogin, const QString &strPath, BlockSink &sink)
{
    ZDK_FileData file;
    std::memset(&file, 0, sizeof file);
    std::strcpy(file.sFileName, "record.h264");
    file.stBeginTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 0};
    file.stEndTime = ZDK_FileTime{2021, 3, 4, 0, 10, 1, 0};
    file.nStreamType = 1;
    return ZDK_DEV_DownloadByName(lLogin, &file, strPath.toLocal8Bit().constData(), &BlockSink::OnPos, &sink, 0);
}

QByteArray ReadFile(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(KorvexTimedEvents, ADownloadsOwnProgressCutsTheLogin)
{
    // As fast as the machine writes: the cut must come at the share, whatever the time then.
    UseEvents(R"([{"AfterDownloadPercent": 30, "Cut": true}, {"AfterDownloadPercent": 60, "Cut": true}])");
    KorvexControl::SetDownloadSpeed(0);
    BlockSink whole, cut;
    StreamsStop stop;

    // The same minute from the device without the event, for the size of the whole file.
    const int32_t lPlain = LoginBuiltIn();
    const QString strWhole = TempPath("whole.h265x");
    const int32_t lWhole = DownloadMinute(lPlain, strWhole, whole);
    ASSERT_GT(lWhole, 0);
    ASSERT_TRUE(WaitUntil([&] { return !whole.Positions().empty() && whole.Positions().back().nPos == -1; }));
    const qint64 nWhole = ReadFile(strWhole).size();
    ASSERT_GT(nWhole, 0);

    const int32_t lLogin = LoginWithEvents();
    const QString strCut = TempPath("cut.h265x");
    const int32_t lCut = DownloadMinute(lLogin, strCut, cut);
    ASSERT_GT(lCut, 0);
    ASSERT_TRUE(m_calls.WaitForCut(lLogin));
    ASSERT_TRUE(KorvexControl::WaitForIdle());

    // The file ends with the block that reached the first share, whole.
    const QByteArray bytes = ReadFile(strCut);
    StreamBlock::Parser parser;
    size_t nLastBlock = 0;
    parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()),
                [&](const StreamBlock::View &view) { nLastBlock = view.nBlockSize; });
    EXPECT_EQ(parser.PendingBytes() + parser.SkippedBytes(), 0u);
    EXPECT_GE(bytes.size() * 100, nWhole * 30);
    EXPECT_LT((bytes.size() - static_cast<qint64>(nLastBlock)) * 100, nWhole * 30);
    for (const BlockSink::Position &pos : cut.Positions())
        EXPECT_NE(pos.nPos, -1) << "the cut download never ends as done";

    // One cut, of that login only; the other login's calls still work.
    const std::vector<Calls::Call> calls = m_calls.Taken();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].bCut);
    EXPECT_EQ(calls[0].lLogin, lLogin);
    EXPECT_EQ(DownloadMinute(lLogin, TempPath("after.h265x"), cut), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_DISCONNECTED);
    EXPECT_NE(ZDK_DEV_StopDownload(lWhole), 0);
    EXPECT_NE(ZDK_DEV_StopDownload(lCut), 0);
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
}

TEST_F(KorvexTimedEvents, AProgressCutWaitsForTheHeldClock)
{
    UseEvents(R"([{"AfterDownloadPercent": 50, "Cut": true}])");
    KorvexControl::SetDownloadSpeed(1);
    HoldClock();
    BlockSink sink;
    StreamsStop stop;
    const int32_t lLogin = LoginWithEvents();
    ASSERT_GT(DownloadMinute(lLogin, TempPath("cut.h265x"), sink), 0);
    // At one second a second, half the minute is written near 30 s of the library's clock: not within the first
    // 20 s, and by 40 s.
    RunLibraryFor(20000, 500);
    EXPECT_TRUE(m_calls.Taken().empty());
    RunLibraryFor(20000, 500);
    ASSERT_TRUE(m_calls.WaitForCut(lLogin));
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
}

TEST(KorvexTimedEventsCatalog, ReadsEventsAndRefusesBadOnes)
{
    std::vector<KorvexDevice> devices;
    std::string strError;
    ASSERT_TRUE(DeviceCatalog::Parse(DevicesWithEvents(R"([
        {"AfterLoginMs": 500, "Alarm": {"Channel": 3, "Code": 4, "Status": 0}},
        {"AfterLoginMs": 1500, "Cut": true},
        {"AfterLoginMs": 0, "Alarm": {"Channel": -1, "Code": 99, "Status": 7, "Kind": 0}},
        {"AfterDownloadPercent": 40, "Cut": true},
        {"AfterUpgradeStart": true, "Cut": true}])"),
                                     devices, strError))
        << strError;
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices[0].events.empty());
    const std::vector<KorvexTimedEvent> &events = devices[1].events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].nAfterLoginMs, 500);
    EXPECT_FALSE(events[0].bCut);
    EXPECT_EQ(events[0].nChannel, 3);
    EXPECT_EQ(events[0].nCode, 4);
    EXPECT_EQ(events[0].nStatus, 0);
    EXPECT_EQ(events[0].nKind, 1);
    EXPECT_EQ(events[1].nAfterLoginMs, 1500);
    EXPECT_TRUE(events[1].bCut);
    EXPECT_EQ(events[2].nChannel, -1);
    EXPECT_EQ(events[2].nStatus, 7);
    EXPECT_EQ(events[2].nKind, 0);
    EXPECT_EQ(events[2].nAfterDownloadPercent, 0) << "timed from the login";
    EXPECT_EQ(events[3].nAfterDownloadPercent, 40);
    EXPECT_TRUE(events[3].bCut);
    EXPECT_FALSE(events[3].bAfterUpgradeStart);
    EXPECT_TRUE(events[4].bAfterUpgradeStart);
    EXPECT_TRUE(events[4].bCut);

    const char *bad[] = {
        R"({"AfterLoginMs": 5, "Cut": true})",
        R"([{"Cut": true}])",
        R"([{"AfterLoginMs": -1, "Cut": true}])",
        R"([{"AfterLoginMs": 1.5, "Cut": true}])",
        R"([{"AfterLoginMs": "5", "Cut": true}])",
        R"([{"AfterLoginMs": 5}])",
        R"([{"AfterLoginMs": 5, "Cut": true, "Alarm": {"Channel": 1, "Code": 4, "Status": 0}}])",
        R"([{"AfterLoginMs": 5, "Cut": false}])",
        R"([{"AfterLoginMs": 5, "Alarm": {"Channel": 1, "Code": 4}}])",
        R"([{"AfterLoginMs": 5, "Alarm": {"Channel": 1, "Code": "4", "Status": 0}}])",
        R"([{"AfterLoginMs": 5, "Alarm": {"Channel": 1, "Code": 4, "Status": 0, "Kind": true}}])",
        R"([5])",
        R"([{"AfterDownloadPercent": 0, "Cut": true}])",
        R"([{"AfterDownloadPercent": 100, "Cut": true}])",
        R"([{"AfterDownloadPercent": 12.5, "Cut": true}])",
        R"([{"AfterDownloadPercent": "10", "Cut": true}])",
        R"([{"AfterDownloadPercent": 10, "AfterLoginMs": 5, "Cut": true}])",
        R"([{"AfterDownloadPercent": 10}])",
        R"([{"AfterDownloadPercent": 10, "Cut": false}])",
        R"([{"AfterDownloadPercent": 10, "Alarm": {"Channel": 1, "Code": 4, "Status": 0}}])",
        R"([{"AfterUpgradeStart": false, "Cut": true}])",
        R"([{"AfterUpgradeStart": 1, "Cut": true}])",
        R"([{"AfterUpgradeStart": true}])",
        R"([{"AfterUpgradeStart": true, "AfterLoginMs": 5, "Cut": true}])",
    };
    for (const char *pEvents : bad) {
        strError.clear();
        EXPECT_FALSE(DeviceCatalog::Parse(DevicesWithEvents(pEvents), devices, strError)) << pEvents;
        EXPECT_NE(strError.find("Events"), std::string::npos) << pEvents << ": " << strError;
    }
}
