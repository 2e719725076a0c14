// The figures read from Linux: the texts of /proc parsed, and the machine's own readings.

#include "platform/LinuxSystemCounters.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

TEST(LinuxSystemCounters, ProcStatGivesIdleKernelAndUserTimes)
{
    struct Case
    {
        const char *pText;
        long nTicksPerSecond;
        bool bOk;
        uint64_t nIdle, nKernel, nUser;     // 100 ns units
    };
    const Case cases[] = {
        // user nice system idle iowait irq softirq steal: idle and I/O wait are idle, and part of the kernel time.
        {"cpu  100 20 30 400 50 6 7 8 0 0\ncpu0 50 10 15 200 25 3 3 4 0 0\n", 100, true, 450 * 100000,
         (30 + 6 + 7 + 450) * 100000, 120 * 100000},
        {"cpu  100 20 30 400 50 6 7 8 0 0\n", 1000, true, 450 * 10000, (30 + 6 + 7 + 450) * 10000, 120 * 10000},
        {"cpu 1 2 3 4\n", 100, true, 4 * 100000, 7 * 100000, 3 * 100000},
        // Beyond 32 bits of 100 ns units.
        {"cpu  0 0 0 5000000 0 0 0\n", 100, true, 500000000000ull, 500000000000ull, 0},
        {"cpu 1 2 3\n", 100, false, 0, 0, 0},
        {"intr 1 2 3 4 5\n", 100, false, 0, 0, 0},
        {"", 100, false, 0, 0, 0},
        {"cpu  100 20 30 400 50 6 7 8 0 0\n", 0, false, 0, 0, 0},
    };
    for (const Case &c : cases) {
        FILETIME idle{}, kernel{}, user{};
        ASSERT_EQ(LinuxSystemCounters::ParseProcStat(c.pText, c.nTicksPerSecond, idle, kernel, user), c.bOk)
            << c.pText;
        if (!c.bOk)
            continue;
        EXPECT_EQ(FileTimeToU64(idle), c.nIdle) << c.pText;
        EXPECT_EQ(FileTimeToU64(kernel), c.nKernel) << c.pText;
        EXPECT_EQ(FileTimeToU64(user), c.nUser) << c.pText;
    }
}

TEST(LinuxSystemCounters, StatmAndMeminfoTexts)
{
    uint64_t nPages = 0;
    EXPECT_TRUE(LinuxSystemCounters::ParseStatmResident("123456 7890 345 12 0 4567 0\n", nPages));
    EXPECT_EQ(nPages, 7890u);
    EXPECT_FALSE(LinuxSystemCounters::ParseStatmResident("123456\n", nPages));

    uint64_t nBytes = 0;
    EXPECT_TRUE(LinuxSystemCounters::ParseMemAvailable(
        "MemTotal:       24576000 kB\nMemFree:         1000000 kB\nMemAvailable:   12345678 kB\nBuffers: 1 kB\n",
        nBytes));
    EXPECT_EQ(nBytes, 12345678ull * 1024);
    // Only a line that starts with the key counts.
    EXPECT_TRUE(LinuxSystemCounters::ParseMemAvailable("XMemAvailable: 5 kB\nMemAvailable: 7 kB\n", nBytes));
    EXPECT_EQ(nBytes, 7u * 1024);
    EXPECT_FALSE(LinuxSystemCounters::ParseMemAvailable("MemTotal: 1 kB\nMemFree: 1 kB\n", nBytes));
    EXPECT_FALSE(LinuxSystemCounters::ParseMemAvailable("MemAvailable: 7 pages\n", nBytes));
}

TEST(LinuxSystemCounters, ProcessTimesFollowTheProcessCpuClock)
{
    LinuxSystemCounters counters;
    // Use some CPU first, so that the figures are not both near 0.
    const std::clock_t until = std::clock() + CLOCKS_PER_SEC / 5;
    volatile uint64_t nSink = 0;
    while (std::clock() < until)
        nSink = nSink + 1;
    FILETIME kernel{}, user{};
    const double dClockBefore = 1000.0 * std::clock() / CLOCKS_PER_SEC;
    ASSERT_TRUE(counters.GetProcessTimes(kernel, user));
    const double dClockAfter = 1000.0 * std::clock() / CLOCKS_PER_SEC;
    const double dMs = (FileTimeToU64(kernel) + FileTimeToU64(user)) / 10000.0;
    // Both are the CPU time of the whole process; they differ by their granularity only.
    EXPECT_GE(dMs, dClockBefore - 20) << dClockBefore;
    EXPECT_LE(dMs, dClockAfter + 20) << dClockAfter;
    EXPECT_GE(counters.GetNumberOfProcessors(), 1);
}

TEST(LinuxSystemCounters, SystemTimesAndTheTickGoForward)
{
    LinuxSystemCounters counters;
    FILETIME idle{}, kernel{}, user{};
    ASSERT_TRUE(counters.GetSystemTimes(idle, kernel, user));
    EXPECT_GT(FileTimeToU64(kernel), FileTimeToU64(idle)) << "the kernel time includes the idle time";
    EXPECT_GT(FileTimeToU64(user), 0u);
    const uint64_t nTick = counters.GetTickCount64();
    const uint64_t nSteady = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    EXPECT_LE(nTick > nSteady ? nTick - nSteady : nSteady - nTick, 1000u) << "the tick is the monotonic clock";
    FILETIME idle2{}, kernel2{}, user2{};
    ASSERT_TRUE(counters.GetSystemTimes(idle2, kernel2, user2));
    EXPECT_GE(FileTimeToU64(kernel2) + FileTimeToU64(user2), FileTimeToU64(kernel) + FileTimeToU64(user));
    EXPECT_GE(counters.GetTickCount64(), nTick);
}

TEST(LinuxSystemCounters, WorkingSetGrowsWithTouchedMemory)
{
    LinuxSystemCounters counters;
    uint64_t nBefore = 0;
    ASSERT_TRUE(counters.GetWorkingSetSize(nBefore));
    EXPECT_GT(nBefore, uint64_t(1) << 20);
    const size_t nSize = size_t(64) << 20;
    std::vector<char> block(nSize);
    std::memset(block.data(), 1, nSize);
    uint64_t nAfter = 0;
    ASSERT_TRUE(counters.GetWorkingSetSize(nAfter));
    EXPECT_GE(nAfter, nBefore + (size_t(60) << 20));
    EXPECT_EQ(block[nSize / 2], 1);

    uint64_t nAvail = 0;
    ASSERT_TRUE(counters.GetAvailPhys(nAvail));
    const uint64_t nPhys = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    EXPECT_GT(nAvail, uint64_t(16) << 20);
    EXPECT_LE(nAvail, nPhys);
}
