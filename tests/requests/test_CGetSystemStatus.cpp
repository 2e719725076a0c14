// The load sampler's arithmetic over given counter values, its timer, and the load event it leads to.

#include "requests/CGetSystemStatus.h"
#include "requests/CPluginManage.h"
#include "tests/support/ManageHarness.h"
#include "tests/support/WaitUntil.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

constexpr uint64_t kUnitsPerMs = 10000;    // 100 ns units

// Counter values a test sets; the sampler reads them as it would read the machine's.
struct FakeCounters : SystemCounters
{
    uint64_t nTick = 5000000;
    int nProcessors = 4;
    bool bProcessOk = true;
    uint64_t nProcKernel = 0;
    uint64_t nProcUser = 0;
    bool bSystemOk = true;
    uint64_t nIdle = 0;
    uint64_t nKernel = 0;
    uint64_t nUser = 0;
    bool bMemoryOk = true;
    uint64_t nWorkingSet = 0;
    bool bAvailOk = true;
    uint64_t nAvail = 0;

    uint64_t GetTickCount64() override { return nTick; }
    int GetNumberOfProcessors() override { return nProcessors; }
    bool GetProcessTimes(FILETIME &kernel, FILETIME &user) override
    {
        kernel = U64ToFileTime(nProcKernel);
        user = U64ToFileTime(nProcUser);
        return bProcessOk;
    }
    bool GetSystemTimes(FILETIME &idle, FILETIME &kernel, FILETIME &user) override
    {
        if (!bSystemOk)
            return false;
        idle = U64ToFileTime(nIdle);
        kernel = U64ToFileTime(nKernel);
        user = U64ToFileTime(nUser);
        return true;
    }
    bool GetWorkingSetSize(uint64_t &nBytes) override
    {
        nBytes = nWorkingSet;
        return bMemoryOk;
    }
    bool GetAvailPhys(uint64_t &nBytes) override
    {
        nBytes = nAvail;
        return bAvailOk;
    }
};

// One process sample: time passed, the process's whole CPU time by then (kernel and user in milliseconds),
// the processor count, whether the times can be read, and the result.
struct AppStep
{
    uint64_t nAfterMs;
    uint64_t nKernelMs;
    uint64_t nUserMs;
    int nProcessors;
    bool bOk;
    int nExpected;
};

struct AppCase
{
    const char *pName;
    std::vector<AppStep> steps;
};

// One system sample: the growth of the idle, kernel and user times (100 ns units, may be negative), whether
// they can be read, and the result.
struct SystemStep
{
    int64_t nIdle;
    int64_t nKernel;
    int64_t nUser;
    bool bOk;
    int nExpected;
};

struct SystemCase
{
    const char *pName;
    uint64_t nStart;    // the three baselines read at construction
    std::vector<SystemStep> steps;
};

} // namespace

TEST(CGetSystemStatus, ProcessCpuUse)
{
    const AppCase cases[] = {
        {"1500 ms in 1000 ms on 4 processors, the first sample measured from 0", {{1000, 600, 900, 4, true, 37}}},
        {"later samples measure from the last one",
         {{1000, 600, 900, 4, true, 37}, {1000, 1000, 1300, 4, true, 20}, {500, 1000, 1300, 4, true, 0}}},
        {"the processor count is read at each sample", {{1000, 600, 900, 4, true, 37}, {1000, 1500, 2000, 2, true, 100}}},
        {"exactly 100", {{1000, 0, 1000, 1, true, 100}}},
        {"above 100 reports 0", {{1000, 700, 800, 1, true, 0}, {1000, 1500, 1601, 1, true, 0}}},
        {"no time passed: -1, and the next sample measures from the last good one",
         {{0, 600, 900, 4, true, -1}, {1000, 600, 900, 4, true, 37}}},
        {"times that cannot be read: -1; the time still moves on, the CPU time does not",
         {{1000, 0, 0, 4, false, -1}, {1000, 600, 900, 4, true, 37}}},
        {"a CPU time that went back: -1", {{1000, 1000, 1000, 4, true, 50}, {1000, 500, 500, 4, true, -1}}},
        {"no processor count: -1", {{1000, 600, 900, 0, true, -1}}},
    };
    for (const AppCase &c : cases) {
        auto pCounters = std::make_shared<FakeCounters>();
        CGetSystemStatus status(pCounters);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const AppStep &step = c.steps[i];
            pCounters->nTick += step.nAfterMs;
            pCounters->nProcKernel = step.nKernelMs * kUnitsPerMs;
            pCounters->nProcUser = step.nUserMs * kUnitsPerMs;
            pCounters->nProcessors = step.nProcessors;
            pCounters->bProcessOk = step.bOk;
            EXPECT_EQ(status.GetAppCpuUsage(), step.nExpected) << c.pName << ", sample " << i;
        }
    }
}

TEST(CGetSystemStatus, ProcessCpuTimeUsesBothHalvesOfItsTimes)
{
    auto pCounters = std::make_shared<FakeCounters>();
    CGetSystemStatus status(pCounters);
    // 2^32 units of kernel time (429496 ms) over 1000 s on one processor.
    pCounters->nTick += 1000000;
    pCounters->nProcKernel = uint64_t(1) << 32;
    pCounters->nProcessors = 1;
    EXPECT_EQ(status.GetAppCpuUsage(), 42);
}

TEST(CGetSystemStatus, SystemCpuUse)
{
    const uint64_t nNearWrap = (uint64_t(3) << 32) | 0xFFFFF000u;   // the low words wrap within the next step
    const SystemCase cases[] = {
        {"kernel 8000000, user 2000000, idle 6000000", 0, {{6000000, 8000000, 2000000, true, 40}}},
        {"the same across a wrap of the low words", nNearWrap, {{6000000, 8000000, 2000000, true, 40}}},
        {"each sample measures from the last", nNearWrap,
         {{6000000, 8000000, 2000000, true, 40}, {1000, 1000, 3000, true, 75}}},
        {"all busy", 1000, {{0, 500, 500, true, 100}}},
        {"all idle", 1000, {{700, 700, 0, true, 0}}},
        {"no time passed", 1000, {{0, 0, 0, true, -1}}},
        {"more idle than time: -1", 1000, {{10, 5, 0, true, -1}}},
        {"times that went back: -1", 1000000, {{-50, -100, 0, true, -1}}},
        {"times that cannot be read: -1, and the next sample measures from the last good one", 1000,
         {{5, 5, 5, false, -1}, {45, 95, 95, true, 75}}},
    };
    for (const SystemCase &c : cases) {
        auto pCounters = std::make_shared<FakeCounters>();
        pCounters->nIdle = pCounters->nKernel = pCounters->nUser = c.nStart;
        CGetSystemStatus status(pCounters);
        int64_t nIdle = 0, nKernel = 0, nUser = 0;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const SystemStep &step = c.steps[i];
            nIdle += step.nIdle;
            nKernel += step.nKernel;
            nUser += step.nUser;
            pCounters->nIdle = c.nStart + static_cast<uint64_t>(nIdle);
            pCounters->nKernel = c.nStart + static_cast<uint64_t>(nKernel);
            pCounters->nUser = c.nStart + static_cast<uint64_t>(nUser);
            pCounters->bSystemOk = step.bOk;
            EXPECT_EQ(status.GetSystemCpuUsage(), step.nExpected) << c.pName << ", sample " << i;
        }
    }
}

TEST(CGetSystemStatus, FileTimeDiffOverTheWhole64Bits)
{
    struct Case
    {
        FILETIME now;
        FILETIME before;
        int64_t nExpected;
    };
    const Case cases[] = {
        {{0x00000100, 6}, {0xFFFFFF00, 5}, 0x200},
        {{5, 1}, {5, 0}, int64_t(1) << 32},
        {{7, 2}, {7, 2}, 0},
        {{0, 0}, {1, 0}, -1},
        {{0xFFFFFF00, 5}, {0x00000100, 6}, -0x200},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CGetSystemStatus::FileTimeDiff(c.now, c.before), c.nExpected)
            << c.now.dwHighDateTime << ":" << c.now.dwLowDateTime;
}

TEST(CGetSystemStatus, MemoryInWholeMiB)
{
    auto pCounters = std::make_shared<FakeCounters>();
    CGetSystemStatus status(pCounters);
    pCounters->nWorkingSet = (uint64_t(300) << 20) + 1023;
    pCounters->nAvail = (uint64_t(5) << 30) - 1;
    EXPECT_EQ(status.GetAppMemory(), 300);
    EXPECT_EQ(status.GetAvailMemory(), 5119);
    pCounters->bMemoryOk = false;
    pCounters->bAvailOk = false;
    EXPECT_EQ(status.GetAppMemory(), 0);
    EXPECT_EQ(status.GetAvailMemory(), 0);
}

TEST(CGetSystemStatus, EverySecondItSendsTheThreeFigures)
{
    auto pCounters = std::make_shared<FakeCounters>();
    CGetSystemStatus status(pCounters);
    QSignalSpy spy(&status, &CGetSystemStatus::sendSystemStatusSig);
    pCounters->nTick += 1000;
    pCounters->nProcUser = 1500 * kUnitsPerMs;
    pCounters->nIdle = 6000000;
    pCounters->nKernel = 8000000;
    pCounters->nUser = 2000000;
    pCounters->nWorkingSet = uint64_t(12) << 20;
    ASSERT_TRUE(spy.wait(10000));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 37);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 40);
    EXPECT_EQ(spy.at(0).at(2).toInt(), 12);
}

TEST(SystemStatusEvent, SentOnlyWhileLoggedInWithBothCpuFigures)
{
    struct Case
    {
        int nLoginHandle, nApp, nSystem, nMemory;
        const char *pExpected;  // "" for no event
    };
    const Case cases[] = {
        {5, 37, 40, 12, "{\"AppCpu\":37,\"AppMemory\":12,\"MainEvent\":0,\"SubEvent\":5,\"SystemCpu\":40}\n"},
        {1, 0, 0, 0, "{\"AppCpu\":0,\"AppMemory\":0,\"MainEvent\":0,\"SubEvent\":5,\"SystemCpu\":0}\n"},
        {7, 100, 100, 4096, "{\"AppCpu\":100,\"AppMemory\":4096,\"MainEvent\":0,\"SubEvent\":5,\"SystemCpu\":100}\n"},
        {0, 37, 40, 12, ""},
        {-1, 37, 40, 12, ""},
        {5, -1, 40, 12, ""},
        {5, 37, -1, 12, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CPluginManage::SystemStatusEvent(c.nLoginHandle, c.nApp, c.nSystem, c.nMemory).toStdString(),
                  c.pExpected)
            << c.nLoginHandle << " " << c.nApp << " " << c.nSystem;
}

TEST(SystemStatusEvent, TheSamplerTicksOnTheRequestThreadAndNothingGoesOutLoggedOut)
{
    std::atomic<int> nTicks{0};
    std::atomic<Qt::HANDLE> tickThread{nullptr};
    ManageHarness harness;
    Qt::HANDLE requestThread = nullptr;
    harness.RunOnRequestThread([&] {
        requestThread = QThread::currentThreadId();
        CGetSystemStatus *pStatus = harness.Manage()->findChild<CGetSystemStatus *>();
        ASSERT_NE(pStatus, nullptr);
        // Connected after the handler's own slot, so it runs once that slot has dealt with the sample.
        QObject::connect(pStatus, &CGetSystemStatus::sendSystemStatusSig, pStatus, [&](int, int, int) {
            tickThread = QThread::currentThreadId();
            ++nTicks;
        });
    });
    ASSERT_TRUE(WaitUntil([&] { return nTicks.load() >= 1; }, 10000));
    EXPECT_EQ(tickThread.load(), requestThread);
    harness.Sync();
    EXPECT_TRUE(harness.Messages().isEmpty()) << harness.Messages().join("").toStdString();
    EXPECT_TRUE(harness.LoadEvents().isEmpty()) << harness.LoadEvents().join("").toStdString();
}
