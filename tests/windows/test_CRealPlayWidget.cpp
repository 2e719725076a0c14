// The live page's channel table: starts and stops in tiles, the one sound channel, the display proportions, the
// two-sensor check with the device's answers, colours, splits, full screen and the refusal of every channel and
// window outside 0..63.

#include "device/CDecodeChannel.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/windows/LivePageSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoWnd.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using LivePageTest = LivePageFixture;

bool Previewing(CRealPlayWidget &page, int nWndIndex)
{
    return page.GetPlayWindowManage()->GetVideoWnd(nWndIndex)->GetPreviewStatus();
}

int FitMode(CRealPlayWidget &page, int nWndIndex)
{
    return page.GetPlayWindowManage()->GetVideoWnd(nWndIndex)->GetFitMode();
}

TEST_F(LivePageTest, ConstructionSetsTheTableAndNineTiles)
{
    CRealPlayWidget page;
    EXPECT_EQ(page.windowFlags() & (Qt::CustomizeWindowHint | Qt::FramelessWindowHint),
              Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    EXPECT_TRUE(page.hasMouseTracking());
    EXPECT_EQ(page.GetPlayWindowManage()->GetShowWndNum(), 9);
    for (int i : {0, 31, 63}) {
        EXPECT_EQ(page.GetWndChannel(i), -1);
        EXPECT_EQ(page.GetPlayOriginalState(i), -1);
        EXPECT_EQ(page.GetPlayState(i), PLAY_STATE_STOPPED);
        EXPECT_FALSE(page.IsRecording(i));
        EXPECT_FALSE(page.IsSoundOpen(i));
        EXPECT_FALSE(page.IsDigitalZoom(i));
    }
    // Reading the table makes no decode channel.
    EXPECT_TRUE(PavlineControl::Journal().empty());
}

TEST_F(LivePageTest, PreviewEntersTheWindowOnlyWhenOpenAndStartSucceed)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 5, 2), 0);
    EXPECT_EQ(page.GetWndChannel(2), 5);
    EXPECT_EQ(page.GetWndIndexByChannel(5), 2);
    EXPECT_TRUE(Previewing(page, 2));
    EXPECT_EQ(page.GetPlayOriginalState(5), 0);   // no two-sensor camera: fill
    EXPECT_EQ(FitMode(page, 2), CVideoWnd::FIT_FILL);
    EXPECT_EQ(page.GetStreamType(5), 1);
    EXPECT_EQ(page.GetPlayState(5), PLAY_STATE_NORMAL);
    EXPECT_EQ(page.GetDecodeChannel(5)->GetPlayWnd(), page.GetPlayWindowManage()->GetWndHandle(2));

    // Window -1 is the grid's current window.
    page.GetPlayWindowManage()->onCurWndIndexChange(4);
    ASSERT_EQ(page.PreviewPlay(0, 6, -1), 0);
    EXPECT_EQ(page.GetWndChannel(4), 6);
    EXPECT_EQ(page.GetCurWndChannel(), 6);
    EXPECT_EQ(page.GetStreamType(6), 0);

    struct Failing
    {
        const char *pCall;
        int nChannel, nWnd;
    };
    for (const Failing &f : {Failing{"KTN_VIEW_OpenStream", 7, 3}, Failing{"KTN_VIEW_Play", 8, 5}}) {
        PavlineControl::FailNextCall(f.pCall, KTN_ERR_FAILED);
        EXPECT_EQ(page.PreviewPlay(1, f.nChannel, f.nWnd), -2) << f.pCall;
        EXPECT_EQ(page.GetWndChannel(f.nWnd), -1) << f.pCall;
        EXPECT_EQ(page.GetWndIndexByChannel(f.nChannel), -1) << f.pCall;
        EXPECT_FALSE(Previewing(page, f.nWnd)) << f.pCall;
        EXPECT_EQ(page.GetStreamType(f.nChannel), 1) << f.pCall;   // stored all the same
    }

    // Out of range: the channel -1, the window -2.
    EXPECT_EQ(page.PreviewPlay(1, 64, 0), -1);
    EXPECT_EQ(page.PreviewPlay(1, -1, 0), -1);
    EXPECT_EQ(page.PreviewPlay(1, 9, 64), -2);
    EXPECT_EQ(page.PreviewPlay(1, 9, -2), -2);
    EXPECT_EQ(page.GetWndIndexByChannel(9), -1);
}

TEST_F(LivePageTest, StopChecksTheChannelFirstAndClearsTheTileShowingIt)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 3, 1), 0);
    PavlineControl::ClearJournal();
    for (int nChannel : {-1, 64, 100000, -100000}) {
        EXPECT_EQ(page.PreviewStop(nChannel), -1) << nChannel;
    }
    EXPECT_TRUE(PavlineControl::Journal().empty());

    EXPECT_EQ(page.PreviewStop(3), 0);
    EXPECT_EQ(page.GetWndChannel(1), -1);
    EXPECT_FALSE(Previewing(page, 1));
    EXPECT_EQ(FitMode(page, 1), -1);
    EXPECT_EQ(page.GetPlayOriginalState(3), -1);
    EXPECT_EQ(page.GetPlayState(3), PLAY_STATE_STOPPED);
    EXPECT_FALSE(PavlineControl::Stats(3).bOpen);
    // A channel no window shows: its port is stopped, no tile changes.
    ASSERT_EQ(page.PreviewPlay(1, 4, 2), 0);
    EXPECT_EQ(page.PreviewStop(11), 0);
    EXPECT_EQ(page.GetWndChannel(2), 4);
    EXPECT_TRUE(Previewing(page, 2));
}

TEST_F(LivePageTest, OneSoundChannelAtATime)
{
    CRealPlayWidget page;
    for (int nChannel : {0, 3, 5})
        ASSERT_EQ(page.PreviewPlay(1, nChannel, nChannel), 0);
    ASSERT_EQ(page.OpenSound(0, true), 0);
    EXPECT_TRUE(page.IsSoundOpen(0));
    EXPECT_EQ(PavlineControl::SoundPort(), 0);

    PavlineControl::ClearJournal();
    ASSERT_EQ(page.OpenSound(3, true), 0);
    const std::vector<std::string> calls = PavlineControl::Journal();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "KTN_VIEW_StopSound");
    EXPECT_EQ(calls[1], "KTN_VIEW_PlaySound 3");
    EXPECT_FALSE(page.IsSoundOpen(0));
    EXPECT_TRUE(page.IsSoundOpen(3));
    EXPECT_EQ(PavlineControl::SoundPort(), 3);

    // Stopping another channel leaves the sound channel.
    EXPECT_EQ(page.PreviewStop(5), 0);
    EXPECT_TRUE(page.IsSoundOpen(3));
    // A refused open leaves no sound channel: the one before was closed first.
    PavlineControl::FailNextCall("KTN_VIEW_PlaySound", KTN_ERR_FAILED);
    EXPECT_EQ(page.OpenSound(0, true), -2);
    EXPECT_FALSE(page.IsSoundOpen(3));
    EXPECT_FALSE(page.IsSoundOpen(0));
    ASSERT_EQ(page.OpenSound(3, true), 0);
    EXPECT_EQ(page.OpenSound(3, false), 0);
    EXPECT_FALSE(page.IsSoundOpen(3));
    ASSERT_EQ(page.OpenSound(3, true), 0);
    EXPECT_EQ(page.PreviewStop(3), 0);
    EXPECT_FALSE(page.IsSoundOpen(3));
    EXPECT_EQ(page.OpenSound(64, true), -1);
    EXPECT_EQ(page.OpenSound(-1, false), -1);
}

TEST_F(LivePageTest, SourceAspectBeforeThePictureSizeIsKnownChangesNothing)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 2, 0), 0);
    LogCapture log;
    EXPECT_EQ(page.PlayOriginal(2), -2);
    EXPECT_TRUE(log.Contains("CDecodeChannel::PlayOriginal --->nChannel 2"));
    EXPECT_EQ(page.GetPlayOriginalState(2), 0);
    EXPECT_EQ(FitMode(page, 0), CVideoWnd::FIT_FILL);
    EXPECT_TRUE(Previewing(page, 0));
    EXPECT_EQ(page.PlayOriginal(64), -1);
    EXPECT_EQ(page.PlayNormal(-1), -1);
    EXPECT_EQ(page.PlayProportion(64, 2), -1);

    EXPECT_EQ(page.PlayProportion(2, CVideoWnd::FIT_4_3), 0);
    EXPECT_EQ(page.GetPlayOriginalState(2), CVideoWnd::FIT_4_3);
    EXPECT_FALSE(Previewing(page, 0));
    EXPECT_EQ(page.PlayNormal(2), 0);
    EXPECT_TRUE(Previewing(page, 0));
    EXPECT_EQ(FitMode(page, 0), CVideoWnd::FIT_FILL);
}

// The device's two-sensor answer decides between source aspect (state 1: before the first picture the size is
// not known, and the tile takes it with that picture) and fill (state 0).
TEST_F(LivePageTest, TwoSensorAnswerReadWithinTheLengthTheDeviceGave)
{
    const std::string kName = "ChannelSystemFunction@SupportGunBallTwoSensorCamera";
    UseDevice(R"(, "ChannelAbilities": {"ChannelSystemFunction@SupportGunBallTwoSensorCamera": [false, true]},
                   "Abilities": {"SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera": true})");
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);

    // An answer filling the whole 1024-byte buffer, without a terminating zero.
    std::string strFull = R"({"Name": ")" + kName + R"(", "Ret": 100, ")" + kName + R"(": [true, true]})";
    strFull += std::string(1024 - strFull.size(), ' ');
    struct Case
    {
        const char *pName;
        int nChannel;
        bool bFirstDevice;
        std::string strReply;       // "" the device's own answer
        std::string strTail;        // bytes after the answer in the buffer
        int32_t nFail;              // the call fails with this error
        int nState;                 // 1 two sensors, 0 fill
        const char *pLog;
    };
    const std::vector<Case> cases = {
        {"device answer, no", 0, false, "", "", 0, 0, nullptr},
        {"device answer, yes", 1, false, "", "", 0, 1, nullptr},
        {"bytes after the answer", 1, false, "", "}}}garbage{", 0, 1, nullptr},
        {"whole buffer", 0, false, strFull, "", 0, 1, nullptr},
        {"call fails", 1, false, "", "", ZDK_ERR_FAILED, 0,
         "GetChanenlAbility Failed(ChannelSystemFunction@SupportGunBallTwoSensorCamera)-------Ret: -10000 "},
        {"not JSON", 1, false, "{\"Ret\": 100, ", "", 0, 0, "Json::Reader Parse Failed!"},
        {"device refuses", 1, false, R"({"Name": "X", "Ret": 103, "X": [true, true]})", "", 0, 0,
         R"(ChannelAbility GunBallDevice Json: {"Name": "X", "Ret": 103, "X": [true, true]})"},
        {"no such member", 1, false, R"({"Name": "Y", "Ret": 100, "X": [true, true]})", "", 0, 0, nullptr},
        {"not a list", 1, false, R"({"Name": "X", "Ret": 100, "X": {"1": true}})", "", 0, 0, nullptr},
        {"list too short", 5, false, R"({"Name": "X", "Ret": 100, "X": [true, true]})", "", 0, 0, nullptr},
        {"an IPC asks its own ability", 0, true, "", "", 0, 1, nullptr},
    };
    for (const Case &c : cases) {
        CRealPlayWidget page;
        page.SetDeviceInfo(lLogin, c.bFirstDevice, false);
        if (!c.strReply.empty())
            KorvexControl::ReplyNext(kName, c.strReply);
        KorvexControl::SetReplyTail(c.strTail);
        if (c.nFail)
            KorvexControl::FailNextCall("ZDK_DEV_GetChannelAbility_Json", c.nFail);
        KorvexControl::ClearJournal();
        LogCapture log;
        ASSERT_EQ(page.PreviewPlay(1, c.nChannel, 0), 0) << c.pName;
        EXPECT_EQ(page.GetPlayOriginalState(c.nChannel), c.nState) << c.pName;
        EXPECT_EQ(page.GetWndChannel(0), c.nChannel) << c.pName;
        if (c.pLog) {
            EXPECT_TRUE(log.Contains(c.pLog)) << c.pName;
        }
        if (c.bFirstDevice) {
            const std::vector<std::string> calls = KorvexControl::JournalOf("ZDK_DEV_GetAbility");
            EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                    [](const std::string &s) {
                                        return s.find("path=SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera") !=
                                               std::string::npos;
                                    }),
                      1)
                << c.pName;
            EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_GetChannelAbility_Json").empty()) << c.pName;
        } else {
            const std::vector<std::string> calls = KorvexControl::JournalOf("ZDK_DEV_GetChannelAbility_Json");
            ASSERT_EQ(calls.size(), 1u) << c.pName;
            EXPECT_EQ(calls[0], "ZDK_DEV_GetChannelAbility_Json login=" + std::to_string(lLogin) + " name=" + kName +
                                    " channel=-1 size=1024 wait=10000")
                << c.pName;
        }
        page.PreviewStop(c.nChannel);
    }
    KorvexControl::SetReplyTail("");
}

TEST_F(LivePageTest, ColourOfTheCurrentWindowsChannel)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 2, 0), 0);
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.SetColor(1, 80), 0);
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_SetColor"), std::vector<std::string>{"KTN_VIEW_SetColor 2 0 64 80 64 64"});
    int b = 0, c = 0, s = 0, h = 0;
    EXPECT_EQ(page.GetColor(2, b, c, s, h), 0);
    EXPECT_EQ(c, 80);
    PavlineControl::FailNextCall("KTN_VIEW_SetColor", KTN_ERR_FAILED);
    EXPECT_EQ(page.SetColor(0, 10), -2);
    EXPECT_EQ(page.GetColor(64, b, c, s, h), -1);
    // The current window shows no channel.
    page.GetPlayWindowManage()->onCurWndIndexChange(1);
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.SetColor(0, 10), -1);
    EXPECT_TRUE(PavlineControl::Journal().empty());
}

TEST_F(LivePageTest, SplitIndexesFullScreenAndTheRangeOfEveryGetter)
{
    CRealPlayWidget page;
    const std::vector<std::pair<int, int>> splits = {{1, 4}, {2, 9}, {3, 16}, {4, 25}, {5, 36}, {6, 64},
                                                     {0, 1}, {7, 1}, {-3, 1}};
    for (const auto &split : splits) {
        EXPECT_EQ(page.ChangeSplit(split.first), 0);
        EXPECT_EQ(page.GetPlayWindowManage()->GetShowWndNum(), split.second) << split.first;
    }
    page.ChangeSplit(1);
    page.GetPlayWindowManage()->onCurWndIndexChange(2);
    page.EnterFullScreenState();
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(page.GetPlayWindowManage()->GetVideoWnd(i)->IsSelected()) << i;
    page.ExitFullScreenState();
    EXPECT_TRUE(page.GetPlayWindowManage()->GetVideoWnd(2)->IsSelected());
    EXPECT_EQ(page.GetCurWndIndex(), 2);
    EXPECT_EQ(page.GetCurWndChannel(), -1);

    for (int n : {-1, 64, 1 << 30}) {
        EXPECT_EQ(page.GetWndChannel(n), -1) << n;
        EXPECT_EQ(page.GetWndIndexByChannel(n), -1) << n;
        EXPECT_EQ(page.GetPlayState(n), -1) << n;
        EXPECT_EQ(page.GetStreamType(n), 0) << n;
        EXPECT_EQ(page.GetPlayOriginalState(n), -1) << n;
        EXPECT_FALSE(page.IsDigitalZoom(n)) << n;
        EXPECT_FALSE(page.IsRecording(n)) << n;
        EXPECT_FALSE(page.IsSoundOpen(n)) << n;
        EXPECT_EQ(page.GetDecodeChannel(n), nullptr) << n;
        bool bRecording = true;
        EXPECT_EQ(page.Record(n, true, bRecording), -1) << n;
        EXPECT_EQ(page.Snapshot(n, false), -1) << n;
        const unsigned char block[4] = {0, 0, 1, 0xFC};
        EXPECT_EQ(page.InputData(n, block, sizeof block, nullptr), -1) << n;
        page.slot_GetScaleTwoLensAbility(n);
        page.slot_SetScaleTwoLensTimes(1.0f, n);
    }
}

} // namespace
