// CDecodeChannel's control of its port: what it asks of the decode library (against the stand-in's journal),
// what it returns and keeps, and its log lines.

#include "device/CDecodeChannel.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PavlineFixture.h"

#include <QString>

#include <string>
#include <vector>

namespace {

using CDecodeChannelTest = PavlineFixture;

std::string HandleText(HWND hWnd)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hWnd)));
    return buf;
}

// The play-control calls of the journal.
std::vector<std::string> PlayCalls()
{
    std::vector<std::string> calls;
    for (const std::string &strLine : PavlineControl::Journal())
        for (const char *pName : {"KTN_VIEW_Play ", "KTN_VIEW_Pause ", "KTN_VIEW_Fast ", "KTN_VIEW_Slow ",
                                  "KTN_VIEW_OneByOne ", "KTN_VIEW_OneByOneBack "})
            if (strLine.compare(0, std::strlen(pName), pName) == 0)
                calls.push_back(strLine);
    return calls;
}

TEST_F(CDecodeChannelTest, OpenAsksForTheBufferOfItsModeOnce)
{
    struct Case
    {
        int nMode;
        uint32_t nSize;
    };
    for (const Case c : {Case{1, 2048000}, Case{0, 4096000}, Case{2, 4096000}, Case{-1, 4096000}}) {
        PavlineControl::Reset();
        LogCapture log;
        CDecodeChannel channel(5);
        EXPECT_TRUE(log.WaitFor("port 5"));
        EXPECT_EQ(channel.GetOpenMode(), -1);
        EXPECT_EQ(channel.Open(c.nMode), 1);
        EXPECT_TRUE(log.WaitFor(QString("size=%1 res=1").arg(c.nSize)));
        EXPECT_EQ(channel.GetOpenMode(), c.nMode);
        // Open again: 1, nothing asked.
        EXPECT_EQ(channel.Open(3), 1);
        EXPECT_EQ(channel.GetOpenMode(), c.nMode);
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_OpenStream"),
                  std::vector<std::string>{"KTN_VIEW_OpenStream 5 1 " + std::to_string(c.nSize)});
        EXPECT_EQ(channel.Close(), 1);
        EXPECT_TRUE(log.WaitFor("res=1"));
        EXPECT_EQ(channel.GetOpenMode(), -1);
        EXPECT_EQ(channel.Close(), 1);
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_CloseStream").size(), 1u);
    }
}

TEST_F(CDecodeChannelTest, FailuresLeaveTheFlagsAsTheyWere)
{
    CDecodeChannel channel(6);
    PavlineControl::FailNextCall("KTN_VIEW_OpenStream", KTN_ERR_FAILED);
    EXPECT_EQ(channel.Open(1), 0);
    EXPECT_FALSE(channel.IsStreamOpen());
    ASSERT_EQ(channel.Open(1), 1);
    ASSERT_EQ(channel.OpenSound(), 1);
    EXPECT_TRUE(channel.IsSoundOpen());
    // A close that fails keeps the stream and the sound, but forgets the mode.
    PavlineControl::FailNextCall("KTN_VIEW_CloseStream", KTN_ERR_FAILED);
    EXPECT_EQ(channel.Close(), 0);
    EXPECT_TRUE(channel.IsStreamOpen());
    EXPECT_TRUE(channel.IsSoundOpen());
    EXPECT_EQ(channel.GetOpenMode(), -1);
    // The close after the sound was opened clears the sound too.
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_FALSE(channel.IsStreamOpen());
    EXPECT_FALSE(channel.IsSoundOpen());
    EXPECT_EQ(PavlineControl::SoundPort(), -1);

    // A failed preparation call starts nothing.
    ASSERT_EQ(channel.Open(1), 1);
    PavlineControl::FailNextCall("KTN_VIEW_SetPictureCache", KTN_ERR_FAILED);
    EXPECT_EQ(channel.StartPreview(), 0);
    EXPECT_EQ(channel.GetPlayState(), PLAY_STATE_STOPPED);
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_Play").empty());
    PavlineControl::FailNextCall("KTN_VIEW_Stop", KTN_ERR_FAILED);
    ASSERT_EQ(channel.StartPreview(), 1);
    EXPECT_EQ(channel.StopPreview(), 0);
    EXPECT_EQ(channel.GetPlayState(), PLAY_STATE_NORMAL);
    EXPECT_EQ(channel.StopPreview(), 1);
    EXPECT_EQ(channel.Close(), 1);
}

TEST_F(CDecodeChannelTest, StartsAndStopsAreIdempotentAndLogged)
{
    NativeTestWindow window(160, 90);
    LogCapture log;
    CDecodeChannel live(2);
    live.SetPlayWnd(window.Handle());
    ASSERT_EQ(live.Open(1), 1);
    PavlineControl::ClearJournal();
    EXPECT_EQ(live.StartPreview(), 1);
    EXPECT_EQ(live.GetPlayState(), PLAY_STATE_NORMAL);
    EXPECT_EQ(PavlineControl::Journal(),
              (std::vector<std::string>{"KTN_VIEW_SetPictureCache 2 8", "KTN_VIEW_Play 2 " + HandleText(window.Handle())}));
    EXPECT_TRUE(log.WaitFor("Port=2 Res=1"));
    // A second start asks nothing.
    PavlineControl::ClearJournal();
    EXPECT_EQ(live.StartPreview(), 1);
    EXPECT_EQ(live.StartPlayback(false), 1);
    EXPECT_TRUE(PavlineControl::Journal().empty());

    // The stop in normal play clears the display region first.
    EXPECT_EQ(live.StopPreview(), 1);
    EXPECT_EQ(live.GetPlayState(), PLAY_STATE_STOPPED);
    EXPECT_EQ(PavlineControl::Journal(),
              (std::vector<std::string>{"KTN_VIEW_SetDisplayRegion 2 0 none 0", "KTN_VIEW_Stop 2"}));
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_SetDisplayRegion Port=2 left=0 top=0 Enable=0 Ret=1"));
    PavlineControl::ClearJournal();
    EXPECT_EQ(live.StopPreview(), 0);
    EXPECT_EQ(live.StopPlayback(), 0);
    EXPECT_TRUE(PavlineControl::Journal().empty());

    // Device playback: file mode first; a paused stop leaves the region alone.
    CDecodeChannel playback(65);
    playback.SetPlayWnd(window.Handle());
    ASSERT_EQ(playback.Open(0), 1);
    PavlineControl::ClearJournal();
    EXPECT_EQ(playback.StartPlayback(false), 1);
    EXPECT_EQ(PavlineControl::Journal(), (std::vector<std::string>{"KTN_VIEW_SetStreamOpenMode 65 1",
                                                                  "KTN_VIEW_Play 65 " + HandleText(window.Handle())}));
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_SetStreamOpenMode STREAME_FILE"));
    EXPECT_EQ(PavlineControl::Stats(65).nStreamMode, STREAME_FILE);
    EXPECT_EQ(playback.SetPlayState(PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    PavlineControl::ClearJournal();
    EXPECT_EQ(playback.StopPlayback(), 1);
    EXPECT_EQ(PavlineControl::Journal(), std::vector<std::string>{"KTN_VIEW_Stop 65"});
    EXPECT_EQ(playback.GetPlayState(), PLAY_STATE_STOPPED);
    EXPECT_TRUE(log.WaitFor("Port=65 Res=1"));
}

TEST_F(CDecodeChannelTest, SetPlayStateTable)
{
    NativeTestWindow window(64, 36);
    const std::string strPlay = "KTN_VIEW_Play 64 " + HandleText(window.Handle());
    const std::string strFast = "KTN_VIEW_Fast 64", strSlow = "KTN_VIEW_Slow 64";
    const std::string strPause = "KTN_VIEW_Pause 64 1", strResume = "KTN_VIEW_Pause 64 0";
    const std::string strStep = "KTN_VIEW_OneByOne 64", strBack = "KTN_VIEW_OneByOneBack 64";
    struct Case
    {
        int nState;     // reached before the call (1: opened, not started)
        int nCode;
        std::vector<std::string> calls;
        int nResult;
        const char *pFail = nullptr;    // the call made to fail, after how many of it succeed
        int nPassFirst = 0;
    };
    const std::vector<Case> cases = {
        // Normal play.
        {0, 0, {}, 0},
        {1, 0, {}, 1},
        {2, 0, {strResume}, 0},
        {33, 0, {strPlay}, 0},
        {17, 0, {strPlay}, 0},
        {48, 0, {strPlay}, 0},
        {49, 0, {strPlay}, 0},
        // Fast: back to normal, then one step per level.
        {0, 32, {strPlay, strFast}, 32},
        {0, 35, {strPlay, strFast, strFast, strFast, strFast}, 35},
        {34, 33, {strPlay, strFast, strFast}, 33},
        {2, 32, {strPlay, strFast}, 32},
        {17, 34, {strPlay, strFast, strFast, strFast}, 34},
        {48, 32, {}, 48},
        {49, 35, {}, 49},
        // Codes that are no fast level do not step the speed.
        {0, 36, {}, 0},
        {0, 47, {}, 0},
        {33, 40, {}, 33},
        {0, 50, {}, 0},
        {2, 255, {}, 2},
        // Slow.
        {0, 16, {strPlay, strSlow}, 16},
        {33, 19, {strPlay, strSlow, strSlow, strSlow, strSlow}, 19},
        {48, 18, {strPlay, strSlow, strSlow, strSlow}, 18},
        // Pause: from another speed or a step, normal speed first.
        {0, 2, {strPause}, 2},
        {2, 2, {strPause}, 2},
        {34, 2, {strPlay, strPause}, 2},
        {17, 2, {strPlay, strPause}, 2},
        {49, 2, {strPlay, strPause}, 2},
        {1, 2, {strPause}, 1},     // the port does not play: the pause fails
        // Single steps.
        {0, 48, {strStep}, 48},
        {48, 49, {strBack}, 49},
        {35, 48, {strStep}, 48},
        // Other codes.
        {0, 3, {}, 0},
        {0, 1, {}, 0},
        // A failure on the way leaves the state as it was.
        {0, 34, {strPlay, strFast, strFast}, 0, "KTN_VIEW_Fast", 1},
        {34, 2, {strPlay}, 34, "KTN_VIEW_Play", 0},
        {0, 17, {strPlay, strSlow}, 0, "KTN_VIEW_Slow", 0},
        {2, 0, {strResume}, 2, "KTN_VIEW_Pause", 0},
    };
    for (const Case &c : cases) {
        PavlineControl::Reset();
        CDecodeChannel channel(64);
        channel.SetPlayWnd(window.Handle());
        ASSERT_EQ(channel.Open(0), 1);
        if (c.nState != PLAY_STATE_STOPPED) {
            ASSERT_EQ(channel.StartPlayback(false), 1);
            if (c.nState != PLAY_STATE_NORMAL) {
                ASSERT_EQ(channel.SetPlayState(c.nState), c.nState);
            }
        }
        ASSERT_EQ(channel.GetPlayState(), c.nState);
        PavlineControl::ClearJournal();
        if (c.pFail)
            PavlineControl::FailNextCall(c.pFail, KTN_ERR_FAILED, c.nPassFirst);
        const int nResult = channel.SetPlayState(c.nCode);
        EXPECT_EQ(PlayCalls(), c.calls) << "state " << c.nState << " code " << c.nCode;
        EXPECT_EQ(nResult, c.nResult) << "state " << c.nState << " code " << c.nCode;
        EXPECT_EQ(channel.GetPlayState(), c.nResult);
        EXPECT_EQ(channel.StopPlayback(), c.nState == PLAY_STATE_STOPPED && c.nResult == PLAY_STATE_STOPPED ? 0 : 1);
        EXPECT_EQ(channel.Close(), 1);
    }
}

} // namespace
