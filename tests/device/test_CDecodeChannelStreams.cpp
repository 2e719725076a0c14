// CDecodeChannel with streams and files: position and seek time from the picture shown, device playback from
// the simulated device, local files, colour, display region, sound and the decode callback's filter.

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "platform/stream_block.h"
#include "tests/support/DeviceSeconds.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PavlineFixture.h"

#include <QThread>

#include <atomic>
#include <cmath>
#include <vector>

namespace {

using CDecodeChannelStreamTest = PavlineFixture;

TEST_F(CDecodeChannelStreamTest, PositionAndSeekTimeFollowThePictureShown)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 320, 180, 25);
    ASSERT_TRUE(loop);
    CDecodeChannel channel(64);
    // Stopped: no position.
    channel.SetPlayTime("2024-01-15 10:00:00", "2024-01-15 10:10:00");
    EXPECT_EQ(channel.GetPlayPos(1), 0.0f);
    EXPECT_EQ(channel.GetSeekTime(500), 0);
    ASSERT_EQ(channel.Open(0), 1);
    ASSERT_EQ(channel.StartPlayback(false), 1);
    // Before any picture: no current play time.
    EXPECT_EQ(channel.GetPlayPos(1), 0.0f);
    const int64_t nStartMs = DeviceSeconds(2024, 1, 15, 10, 5, 0) * 1000;
    ASSERT_TRUE(PavlineTest::FeedAll(64, PavlineTest::Blocks(*loop, 3, nStartMs)));
    ASSERT_TRUE(PavlineControl::WaitForShown(64, 3, 20000));

    struct Case
    {
        const char *pBegin, *pEnd;
        int nMode;
        float fPos;
        int nPerMille;
        int nSeek;
    };
    const Case cases[] = {
        {"2024-01-15 10:00:00", "2024-01-15 10:10:00", 1, 0.5f, 250, 150},
        {"2024-01-15 10:00:00", "2024-01-15 10:10:00", 0, 0.5f, 1000, 600},
        {"2024-01-15 10:00:00", "2024-01-15 10:10:00", 2, 36300.0f, 0, 0},
        {"2024-01-15 10:04:00", "2024-01-15 10:06:00", 1, 0.5f, 999, 119},
        // An empty span gives no position (instead of a division by zero), a reversed one neither.
        {"2024-01-15 10:05:00", "2024-01-15 10:05:00", 1, 0.0f, 500, 0},
        {"2024-01-15 10:00:00", "2024-01-15 09:00:00", 1, 0.0f, 500, 0},
        // The picture shown lies before the span.
        {"2024-01-15 10:06:00", "2024-01-15 10:10:00", 1, 0.0f, 500, 0},
        {"2024-01-15 10:06:00", "2024-01-15 10:10:00", 2, 0.0f, 500, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(channel.SetPlayTime(c.pBegin, c.pEnd), 1);
        const float fPos = channel.GetPlayPos(c.nMode);
        EXPECT_TRUE(std::isfinite(fPos));
        EXPECT_FLOAT_EQ(fPos, c.fPos) << c.pBegin << " - " << c.pEnd << " mode " << c.nMode;
        EXPECT_EQ(channel.GetSeekTime(c.nPerMille), c.nSeek) << c.pBegin << " - " << c.pEnd;
    }
    EXPECT_EQ(channel.GetBeginTime().wHour, 10);
    EXPECT_EQ(channel.GetBeginTime().wMinute, 6);
    EXPECT_EQ(channel.GetEndTime().wYear, 2024);
    EXPECT_EQ(channel.StopPlayback(), 1);
    EXPECT_EQ(channel.Close(), 1);
}

struct Playback
{
    CDecodeChannel *pChannel = nullptr;
    std::atomic<int> nDelivered{0};
    std::atomic<int> nRefused{0};
    std::atomic<int> nPositions{0};

    static int32_t OnData(int32_t, int32_t, const unsigned char *pData, uint32_t nSize, void *pUser)
    {
        Playback *p = static_cast<Playback *>(pUser);
        if (!p->pChannel->InputData(pData, nSize, nullptr)) {
            ++p->nRefused;
            return 0;   // handed again shortly after
        }
        ++p->nDelivered;
        return 1;
    }
    static void OnPos(int32_t, int32_t, int32_t, void *pUser) { ++static_cast<Playback *>(pUser)->nPositions; }
};

TEST_F(CDecodeChannelStreamTest, DevicePlaybackPlaysToTheEndOfItsSpanAndDrains)
{
    const int32_t lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    NativeTestWindow window(320, 180);
    CDecodeChannel channel(64);
    channel.SetPlayWnd(window.Handle());
    ASSERT_EQ(channel.Open(0), 1);
    ASSERT_EQ(channel.StartPlayback(false), 1);
    ASSERT_EQ(channel.SetPlayTime("2024-01-15 10:00:00", "2024-01-15 10:00:03"), 1);

    PlaybackFileEntry entry{};
    entry.Channel = 0;
    entry.Stream = 1;
    std::snprintf(entry.BeginTime, sizeof entry.BeginTime, "2024-01-15 10:00:00");
    std::snprintf(entry.EndTime, sizeof entry.EndTime, "2024-01-15 10:00:03");
    Playback playback;
    const StreamsStop stop;
    playback.pChannel = &channel;
    int nError = 0;
    const int lPlay = CQZConnect::GetInstance()->BeginPlayback(lLogin, 0, 2, entry, Playback::OnData, Playback::OnPos,
                                                               &playback, nError);
    ASSERT_GT(lPlay, 0) << nError;

    std::vector<float> positions;
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        positions.push_back(channel.GetPlayPos(1));
        return playback.nPositions.load() > 0;
    }, 20000));
    // The buffer watch of the playback page: both values drain to 0 once the device has sent everything.
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        positions.push_back(channel.GetPlayPos(1));
        return channel.GetYuvVal() == 0 && channel.GetBufVal() == 0;
    }));
    for (size_t i = 1; i < positions.size(); ++i)
        EXPECT_GE(positions[i], positions[i - 1]);
    EXPECT_GT(positions.back(), 0.6f);
    EXPECT_LE(positions.back(), 1.0f);
    EXPECT_GE(channel.GetPlayPos(2), 36000.0f);
    EXPECT_TRUE(channel.RefreshPlay());
    // The picture of the last block stays on the window.
    EXPECT_TRUE(PavlineTest::Near(window.Grab().pixelColor(20, 90), PavlineTest::PatternColour(320, 180, 20, 90), 28));
    EXPECT_EQ(CQZConnect::GetInstance()->EndPlayback(lPlay), 1);
    EXPECT_EQ(channel.StopPlayback(), 1);
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_GT(playback.nDelivered.load(), 50);
}

struct Ends
{
    std::atomic<int> nEnds{0};
    static void OnEnd(int32_t, void *pUser) { ++static_cast<Ends *>(pUser)->nEnds; }
};

TEST_F(CDecodeChannelStreamTest, LocalFilePlaysThroughTheChannel)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(loop);
    const std::string strPath = TempPath("01_local.h265x").toStdString();
    ASSERT_TRUE(PavlineTest::WriteFile(strPath, PavlineTest::Join(PavlineTest::Blocks(*loop, 30, 1700000000000LL))));
    LogCapture log;
    NativeTestWindow window(320, 180);
    CDecodeChannel channel(129);
    channel.SetPlayWnd(window.Handle());

    Ends ends;
    EXPECT_EQ(channel.BeginLocalPlay(TempPath("missing.h265x").toLocal8Bit().constData(), Ends::OnEnd, &ends), 0);
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_OpenFile Port =129 Res=0"));
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetFileEndCallBack").empty());

    ASSERT_EQ(channel.BeginLocalPlay(strPath.c_str(), Ends::OnEnd, &ends), 1);
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_OpenFile Port =129 Res=1"));
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_SetFileEndCallBack Port =129 Res=1"));
    ASSERT_EQ(channel.StartPlayback(true), 1);
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetStreamOpenMode").empty());
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return ends.nEnds.load() == 1; }));
    EXPECT_FLOAT_EQ(channel.GetLocalPlayPos(), 1.0f);
    // The position is set, then the buffer test asked; the file plays from there to its end again.
    PavlineControl::ClearJournal();
    EXPECT_EQ(channel.SetPlayPos(0.5), 1);
    EXPECT_EQ(PavlineControl::Journal(),
              (std::vector<std::string>{"KTN_VIEW_SetPlayPos 129 0.500000", "KTN_VIEW_RefreshPlay 129"}));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return ends.nEnds.load() >= 2; }));
    EXPECT_EQ(channel.StopPlayback(), 1);
    // Stopped, the port calls back no more: the end came once for each time the file played to it.
    EXPECT_EQ(ends.nEnds.load(), 2);
    EXPECT_EQ(channel.StopLocalPlay(), 1);
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_CloseFile Port =129 Res=1"));
    // The stream was never opened: the channel's close asks nothing.
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_CloseStream").empty());
}

TEST_F(CDecodeChannelStreamTest, ColourDisplayAndSoundCalls)
{
    LogCapture log;
    NativeTestWindow window(160, 90);
    CDecodeChannel channel(5);
    channel.SetPlayWnd(window.Handle());
    ASSERT_EQ(channel.Open(1), 1);

    // Colour: one value or all four; another "which" changes none, and all four are set every time.
    struct ColourCase
    {
        int nWhich, nValue;
        int b, c, s, h;
    };
    const ColourCase colours[] = {{0, 10, 10, 64, 64, 64}, {1, 20, 10, 20, 64, 64}, {2, 30, 10, 20, 30, 64},
                                  {3, 40, 10, 20, 30, 40}, {7, 99, 10, 20, 30, 40}, {4, 50, 50, 50, 50, 50}};
    for (const ColourCase &cc : colours) {
        EXPECT_EQ(channel.SetColor(cc.nWhich, cc.nValue), 1);
        int b = 0, c = 0, s = 0, h = 0;
        EXPECT_EQ(channel.GetColor(b, c, s, h), 1);
        EXPECT_EQ((std::vector<int>{b, c, s, h}), (std::vector<int>{cc.b, cc.c, cc.s, cc.h})) << cc.nWhich;
    }
    EXPECT_TRUE(log.WaitFor("m_nPort = 5"));
    // A value the library refuses: the call fails, the channel keeps what it set.
    EXPECT_EQ(channel.SetColor(0, 500), 0);

    // The display region acts only in normal play.
    const RECT rect{100, 200, 4000, 5000};
    PavlineControl::ClearJournal();
    EXPECT_EQ(channel.SetDisplayRegion(&rect, true), 0);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    ASSERT_EQ(channel.StartPreview(), 1);
    EXPECT_EQ(channel.SetDisplayRegion(&rect, true), 1);
    EXPECT_TRUE(log.WaitFor("KTN_VIEW_SetDisplayRegion Port=5 left=100 right=4000 top=200  bottom=5000 Enable=1 Ret=1"));
    EXPECT_TRUE(PavlineControl::Stats(5).settings.bRegion);
    ASSERT_EQ(channel.SetPlayState(PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    PavlineControl::ClearJournal();
    EXPECT_EQ(channel.SetDisplayRegion(nullptr, false), 0);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    // ... the one without a log line in every state, the rectangle only when enabled.
    EXPECT_TRUE(channel.SetDisplayRegionNoLog(0, 0, 8192, 4096, true));
    EXPECT_TRUE(channel.SetDisplayRegionNoLog(1, 2, 3, 4, false));
    EXPECT_EQ(PavlineControl::Journal(), (std::vector<std::string>{"KTN_VIEW_SetDisplayRegion 5 0 0,0,8192,4096 1",
                                                                  "KTN_VIEW_SetDisplayRegion 5 0 none 0"}));
    EXPECT_FALSE(PavlineControl::Stats(5).settings.bRegion);

    PavlineControl::ClearJournal();
    EXPECT_EQ(CDecodeChannel::SetVideoMode(5, 2), 1);
    EXPECT_EQ(channel.SetOriginalValue(1), 1);
    int nWidth = 7, nHeight = 7;
    EXPECT_EQ(channel.GetPictureSize(nWidth, nHeight), 0);
    EXPECT_EQ(nWidth, 0);
    EXPECT_EQ(nHeight, 0);
    EXPECT_EQ(PavlineControl::Journal(), (std::vector<std::string>{"KTN_VIEW_SetVideoMode 5 1 2",
                                                                  "KTN_VIEW_SetActualSize 5 0 1",
                                                                  "KTN_VIEW_GetPictureSize 5"}));
    EXPECT_TRUE(PavlineControl::Stats(5).settings.bActualSize);
    EXPECT_EQ(PavlineControl::Stats(5).settings.nScaling, KTN_SCALING_BICUBIC);

    // Sound: on for the port, off without one.
    EXPECT_EQ(channel.OpenSound(), 1);
    EXPECT_TRUE(channel.IsSoundOpen());
    EXPECT_EQ(PavlineControl::SoundPort(), 5);
    PavlineControl::ClearJournal();
    EXPECT_EQ(channel.CloseSound(), 1);
    EXPECT_FALSE(channel.IsSoundOpen());
    EXPECT_EQ(PavlineControl::Journal(), std::vector<std::string>{"KTN_VIEW_StopSound"});
    EXPECT_EQ(PavlineControl::SoundPort(), -1);
    EXPECT_EQ(channel.StopPreview(), 1);
    EXPECT_EQ(channel.Close(), 1);
}

struct FilterCalls
{
    int nCalls = 0;
    int32_t nStatus = -1;
    void *pData = nullptr;
    HWND hWnd = nullptr;
    void *pUser = nullptr;
};
FilterCalls g_filterCalls;

void RecordFilterCall(int32_t nStatus, void *pData, HWND hWnd, void *pUser)
{
    ++g_filterCalls.nCalls;
    g_filterCalls.nStatus = nStatus;
    g_filterCalls.pData = pData;
    g_filterCalls.hWnd = hWnd;
    g_filterCalls.pUser = pUser;
}

TEST_F(CDecodeChannelStreamTest, FilterPassesOnlyGoodPicturesToTheStoredCallback)
{
    CDecodeChannel channel(9);
    CDecodeChannel bare(10);
    const HWND hWnd = reinterpret_cast<HWND>(0x55);
    channel.SetPlayWnd(hWnd);
    int nUser = 0, nData = 0;
    EXPECT_EQ(channel.SetDecCallBack(RecordFilterCall, &nUser), 1);
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_SetDecCallBack"), std::vector<std::string>{"KTN_VIEW_SetDecCallBack 9 set"});
    struct Case
    {
        void *pChannel;
        void *pData;
        int32_t nStatus;
        bool bCalled;
    };
    const Case cases[] = {{&channel, &nData, 0, true},  {nullptr, &nData, 0, false}, {&channel, nullptr, 0, false},
                          {&channel, &nData, 1, false}, {&bare, &nData, 0, false}};
    for (const Case &c : cases) {
        g_filterCalls = FilterCalls();
        CDecodeChannel::FilterDecCallBack(c.nStatus, c.pData, c.pChannel);
        EXPECT_EQ(g_filterCalls.nCalls, c.bCalled ? 1 : 0);
        if (c.bCalled) {
            EXPECT_EQ(g_filterCalls.nStatus, 0);
            EXPECT_EQ(g_filterCalls.pData, &nData);
            EXPECT_EQ(g_filterCalls.hWnd, hWnd);
            EXPECT_EQ(g_filterCalls.pUser, &nUser);
        }
    }
}

} // namespace
