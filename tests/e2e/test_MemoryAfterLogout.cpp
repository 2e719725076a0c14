// What a full page of live tiles leaves behind after the logout, through the program: the working set the
// 32-bit build's memory budget counts comes back to where it was, login after login.

#include "tests/e2e/LiveSession.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/support/TestPatternCheck.h"

#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

namespace {

// A sanitizer build's program allocates through the sanitizer's own allocator, which keeps freed memory in
// quarantine on purpose: its working set says nothing of the C library's arenas.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#else
constexpr bool kSanitizerAllocator = false;
#endif

constexpr int kCycles = 6;
constexpr int kChannels = 64;

// 64 channels of small sub streams, so that a page of them decodes on a loaded machine.
const QByteArray kDevice = R"({"Devices": [{"Channels": 64,
    "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 10}}]})";

// The program's resident memory in MiB (the second figure of /proc/<pid>/statm, in pages), -1 when unread.
int ResidentMiB(qint64 nPid)
{
    QFile statm(QString("/proc/%1/statm").arg(nPid));
    if (nPid <= 0 || !statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> figures = statm.readAll().split(' ');
    if (figures.size() < 2)
        return -1;
    return static_cast<int>(figures[1].toLongLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024));
}

struct Cycles
{
    std::vector<int> resident; // after each logout
    std::vector<int> opened;   // channels the range opened at each login
};

// Logs in, opens every channel (as many as the budget allows), lets the last of them show its picture, logs out;
// kCycles times.
Cycles RunCycles(LiveSession &session)
{
    Cycles cycles;
    HostedPlugin &plugin = session.Plugin();
    for (int i = 0; i < kCycles; ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            const HostMessage login = plugin.Request(LoginByAddress("login" + std::to_string(i)));
            EXPECT_TRUE(login && login["Ret"].asInt() == 100);
        }
        const std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("all" + std::to_string(i), 320, 1));
        EXPECT_EQ(MessageKinds(messages), (std::vector<std::string>{"0/2", "0/3", "reply"}));
        int nOpened = 0;
        if (messages.size() == 3) {
            for (const Json::Value &entry : messages[1]["ChnStatus"])
                nOpened += entry["Ret"].asInt() == 100 ? 1 : 0;
        }
        cycles.opened.push_back(nOpened);
        // The last tile opened shows its channel: every tile's decoder has been at work.
        if (nOpened > 0) {
            EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(nOpened - 1), kChannels), nOpened - 1);
        }
        plugin.Send(HostedPlugin::NewRequest(9, 0, "logout"));
        // Requests are handled in order: once the next is answered, the logout has ended.
        EXPECT_TRUE(plugin.Sync());
        cycles.resident.push_back(ResidentMiB(plugin.ProgramPid()));
    }
    return cycles;
}

std::string Figures(const std::vector<int> &figures)
{
    std::string strOut;
    for (int n : figures)
        strOut += std::to_string(n) + " ";
    return strOut;
}

} // namespace

TEST(MemoryAfterLogout, TheWorkingSetAfterEachLogoutStaysNearTheFirst)
{
    if (kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator keeps what is freed";
    LiveSession session("x64", kDevice);
    ASSERT_TRUE(session.Start());
    const Cycles cycles = RunCycles(session);
    SCOPED_TRACE("resident MiB after each logout: " + Figures(cycles.resident));
    ASSERT_EQ(cycles.resident.size(), static_cast<size_t>(kCycles));
    EXPECT_EQ(cycles.opened, std::vector<int>(kCycles, kChannels));
    ASSERT_GT(cycles.resident[0], 0);
    for (int nResident : cycles.resident)
        EXPECT_LE(nResident, cycles.resident[0] + 20);
}

// The budget counts the working set at each open: what the allocator kept of the last login's tiles must not
// take channels from the next. The first login counts a process that has never shown a tile (the libraries'
// and the simulated device's first-use memory comes with the first page), so every later login is compared
// with the second, which starts, as each after it, from the working set after a logout.
TEST(MemoryAfterLogout, TheThirtyTwoBitBudgetAllowsAsManyChannelsAtEveryLogin)
{
    if (kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator keeps what is freed";
    LiveSession session("x86", kDevice);
    ASSERT_TRUE(session.Start());
    const Cycles cycles = RunCycles(session);
    SCOPED_TRACE("channels opened at each login: " + Figures(cycles.opened) + "; resident MiB after each logout: " +
                 Figures(cycles.resident));
    ASSERT_EQ(cycles.opened.size(), static_cast<size_t>(kCycles));
    ASSERT_GT(cycles.opened[1], 0);
    ASSERT_LT(cycles.opened[0], kChannels) << "the machine's memory leaves the budget nothing to limit";
    for (size_t i = 2; i < cycles.opened.size(); ++i)
        EXPECT_GE(cycles.opened[i], cycles.opened[1]) << "login " << i;
}
