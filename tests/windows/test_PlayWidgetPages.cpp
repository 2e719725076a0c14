// The plug-in window's page operations over its three real pages: which page each family of operations reaches
// and what comes back, the host's play-state codes, the current page's operations on every page (and on a page
// index that names none), the playback pane selection report and the smart-rule result.

#include "device/CDecodeChannel.h"
#include "platform/pavline.h"
#include "runtime/ResultCodes.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/PlayWidgetPagesFixture.h"
#include "tests/windows/PlaybackTestSupport.h"
#include "windows/CColorSetWidget.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CRealPlayWidget.h"
#include "windows/SmartRuleInfo.h"

#include <QDir>
#include <QSignalSpy>

#include <functional>
#include <set>

namespace {

// Channels and panes of the scene: live channel 5 in window 0 (the current one, sub stream) and 9 in window 2
// (main stream); playback pane 1 playing a local file, paused, showing channel 4, pane 3 showing channel 7;
// the colour page playing.
constexpr int kLiveCurrent = 5;
constexpr int kLiveOther = 9;
constexpr int kPane = 1;
constexpr int kPanePort = DECODE_PORT_LOCAL_FILE + kPane;

class PlayWidgetPagesTest : public PlayWidgetPagesFixture
{
protected:
    void SetScene()
    {
        PlayWidget *w = Window();
        ASSERT_TRUE(ShowWindow());
        w->SetPageIndex(PAGE_REALPLAY);
        ASSERT_EQ(w->PreviewPlay(1, kLiveCurrent, -1), 0);
        ASSERT_EQ(w->PreviewPlay(0, kLiveOther, 2), 0);

        w->SetPageIndex(PAGE_PLAYBACK);
        w->SetPlaybackMode(0);
        ASSERT_EQ(w->BeginLocalPlay(kPane, LocalFile("local.h264", 600).constData(), nullptr, nullptr), 1);
        ASSERT_EQ(w->PlaybackStart(0, 99, kPane), 0);
        ASSERT_TRUE(PavlineControl::WaitForShown(kPanePort, 1, 10000));
        ASSERT_EQ(w->PlaybackControl(kPane, PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
        w->SetPlaybackWndChannel(4, kPane);
        w->SetPlaybackWndChannel(7, 3);
        w->SetCurWndIndex(kPane);

        ASSERT_EQ(w->ColorPreviewStart(1), 0);
    }
};

struct FacadeRow
{
    const char *pName;
    int nPage;                            // made current before the call
    std::function<double()> call;         // through the window
    std::function<double()> expected;     // evaluated after the call
    std::set<int> ports;                  // the decode library's ports the call reached
    std::function<void()> check;          // what else must hold afterwards, or empty
};

std::function<double()> Value(double d) { return [d] { return d; }; }

TEST_F(PlayWidgetPagesTest, EachFamilyReachesItsPageAndBringsItsResultBack)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    SetScene();
    PlayWidget *w = Window();
    CRealPlayWidget *pLive = Live();
    CPlaybackWidget *pPlayback = Playback();
    LogCapture log;
    bool bFlag = false;
    bool bRecord = false, bZoom = false, bSound = false;
    int nYuv = -7, nBuf = -7, nPageYuv = -7, nPageBuf = -7;
    int nBrightness = -1, nContrast = -1, nSaturation = -1, nHue = -1;
    auto files = [&](const QString &strDir, const char *pPattern) {
        return QDir(strDir).entryList(QStringList{pPattern}, QDir::Files).size();
    };

    const std::vector<FacadeRow> rows = {
        // Live operations reach the live page whatever page is shown.
        {"PreviewPlay", PAGE_COLORSET, [&] { return w->PreviewPlay(1, 12, 3); }, Value(0), {12},
         [&] { EXPECT_EQ(pLive->GetWndChannel(3), 12); }},
        {"PreviewStop", PAGE_PLAYBACK, [&] { return w->PreviewStop(12); }, Value(0), {12},
         [&] { EXPECT_EQ(pLive->GetWndChannel(3), -1); }},
        {"PreviewPlay, window out of range", PAGE_COLORSET, [&] { return w->PreviewPlay(1, 12, 64); }, Value(-2), {}, {}},
        {"PreviewPlay, channel out of range", PAGE_COLORSET, [&] { return w->PreviewPlay(1, 64, 3); }, Value(-1), {}, {}},
        {"GetStreamType, sub", PAGE_COLORSET, [&] { return w->GetStreamType(kLiveCurrent); }, Value(1), {}, {}},
        {"GetStreamType, main", PAGE_PLAYBACK, [&] { return w->GetStreamType(kLiveOther); }, Value(0), {}, {}},
        {"PlayProportion", PAGE_COLORSET, [&] { return w->PlayProportion(kLiveOther, 2); }, Value(0), {},
         [&] { EXPECT_EQ(pLive->GetPlayOriginalState(kLiveOther), 2); }},
        {"GetPlayOriginalState, live page shown", PAGE_REALPLAY, [&] { return w->GetPlayOriginalState(kLiveOther); },
         Value(2), {}, {}},
        {"GetPlayOriginalState, another page shown", PAGE_PLAYBACK,
         [&] { return w->GetPlayOriginalState(kLiveOther); }, Value(0), {}, {}},
        {"PlayNormal", PAGE_PLAYBACK, [&] { return w->PlayNormal(kLiveOther); }, Value(0), {},
         [&] { EXPECT_EQ(pLive->GetPlayOriginalState(kLiveOther), 0); }},
        {"PlayOriginal before a picture", PAGE_COLORSET, [&] { return w->PlayOriginal(kLiveOther); }, Value(-2),
         {kLiveOther}, {}},
        {"GetColor", PAGE_PLAYBACK,
         [&] { return w->GetColor(kLiveOther, nBrightness, nContrast, nSaturation, nHue); }, Value(0), {kLiveOther},
         [&] {
             int b = -1, c = -1, s = -1, h = -1;
             EXPECT_EQ(pLive->GetColor(kLiveOther, b, c, s, h), 0);
             EXPECT_EQ(std::vector<int>({nBrightness, nContrast, nSaturation, nHue}), std::vector<int>({b, c, s, h}));
         }},
        {"SetColor: the current live window's channel", PAGE_COLORSET, [&] { return w->SetColor(0, 80); }, Value(0),
         {kLiveCurrent}, {}},
        {"Record on", PAGE_COLORSET, [&] { return w->Record(kLiveCurrent, true, bFlag); }, Value(0), {kLiveCurrent},
         [&] {
             EXPECT_TRUE(bFlag);
             EXPECT_TRUE(pLive->IsRecording(kLiveCurrent));
         }},
        {"IsRecording, live page shown", PAGE_REALPLAY, [&] { return w->IsRecording(kLiveCurrent); }, Value(1), {}, {}},
        {"IsRecording, another page shown", PAGE_COLORSET, [&] { return w->IsRecording(kLiveCurrent); }, Value(0), {}, {}},
        {"Record off", PAGE_PLAYBACK, [&] { return w->Record(kLiveCurrent, false, bFlag); }, Value(0), {kLiveCurrent},
         [&] {
             EXPECT_FALSE(bFlag);
             EXPECT_EQ(files(RecordDir(), "06_*.h265x"), 1);
         }},
        {"PTZElectOpen in the current window", PAGE_PLAYBACK, [&] { return w->PTZElectOpen(kLiveCurrent, -1); },
         Value(1), {kLiveCurrent}, {}},
        {"PTZElectOpen, another channel in the window", PAGE_PLAYBACK, [&] { return w->PTZElectOpen(kLiveOther, 0); },
         Value(0), {}, {}},
        {"PTZElectZoomIn", PAGE_COLORSET, [&] { return w->PTZElectZoomIn(kLiveCurrent, 1024); }, Value(1),
         {kLiveCurrent}, {}},
        {"PTZElectronicMove left", PAGE_PLAYBACK, [&] { return w->PTZElectronicMove(kLiveCurrent, 2, 512); }, Value(1),
         {kLiveCurrent}, {}},
        {"PTZElectronicMove past the edge", PAGE_PLAYBACK, [&] { return w->PTZElectronicMove(kLiveCurrent, 2, 1024); },
         Value(0), {}, {}},
        {"PTZElectPresent add", PAGE_COLORSET, [&] { return w->PTZElectPresent(kLiveCurrent, 7, 3); }, Value(1), {}, {}},
        {"PTZElectZoomOut", PAGE_COLORSET, [&] { return w->PTZElectZoomOut(kLiveCurrent, 512); }, Value(1),
         {kLiveCurrent}, {}},
        {"PTZElectPresent go", PAGE_PLAYBACK, [&] { return w->PTZElectPresent(kLiveCurrent, 8, 3); }, Value(1),
         {kLiveCurrent}, {}},
        {"PTZElectRedu", PAGE_COLORSET, [&] { return w->PTZElectRedu(kLiveCurrent); }, Value(1), {kLiveCurrent}, {}},
        {"ScaleSwitch", PAGE_PLAYBACK, [&] { w->ScaleSwitch(0, 3); return 0; }, Value(0), {},
         [&] { EXPECT_TRUE(log.Contains("[CRealPlayWidget::ScaleSwitch]")); }},
        {"SetDeviceInfo: the two-sensor check asks with the login", PAGE_COLORSET,
         [&] {
             w->SetDeviceInfo(lLogin, true, false);
             KorvexControl::ClearJournal();
             return w->PreviewPlay(1, 13, 4);
         },
         Value(0), {13},
         [&] {
             const std::vector<std::string> asked = KorvexControl::JournalOf("ZDK_DEV_GetAbility");
             ASSERT_EQ(asked.size(), 1u);
             EXPECT_NE(asked[0].find("login=" + std::to_string(lLogin)), std::string::npos) << asked[0];
         }},

        // Playback operations reach the playback page whatever page is shown.
        {"PlaybackControl", PAGE_REALPLAY, [&] { return w->PlaybackControl(kPane, PLAY_STATE_PAUSE); },
         Value(PLAY_STATE_PAUSE), {kPanePort}, {}},
        {"GetPlayPos", PAGE_COLORSET, [&] { return w->GetPlayPos(kPane); }, [&] { return pPlayback->GetPlayPos(kPane); },
         {kPanePort}, {}},
        {"SetPlayPos", PAGE_REALPLAY, [&] { return w->SetPlayPos(kPane, 0.25); }, Value(1), {kPanePort},
         [&] {
             // The paused pane shows one picture at the new position; the rows after it read its time.
             EXPECT_TRUE(WaitUntil([] { return KTN_VIEW_GetCurPlayTime(kPanePort) > 0; }));
         }},
        {"SetPlaybackTime", PAGE_COLORSET,
         [&] { return w->SetPlaybackTime(kPane, "2023-11-13 00:00:00", "2023-11-15 00:00:00"); }, Value(1), {}, {}},
        {"GetPlaybackSeekTime", PAGE_REALPLAY, [&] { return w->GetPlaybackSeekTime(kPane, 500); },
         [&] { return pPlayback->GetSeekTime(kPane, 500); }, {kPanePort}, {}},
        {"PlaybackRecord on: the record folder read again", PAGE_REALPLAY,
         [&] {
             SetClientCfg("Path/RecPath", TempPath("clips"));
             return w->PlaybackRecord(kPane, 99, true);
         },
         Value(1), {kPanePort}, [&] { EXPECT_EQ(files(TempPath("clips"), "Local_*.h265x"), 1); }},
        {"IsPlaybackRecording", PAGE_COLORSET, [&] { return w->IsPlaybackRecording(kPane); }, Value(1), {}, {}},
        {"OpenSound, playback", PAGE_REALPLAY, [&] { return w->OpenSound(PAGE_PLAYBACK, kPane, true); }, Value(0),
         {kPanePort}, {}},
        {"GetPlaybackWndStatus", PAGE_COLORSET, [&] { return w->GetPlaybackWndStatus(kPane, bRecord, bZoom, bSound); },
         Value(1), {},
         [&] {
             EXPECT_TRUE(bRecord);
             EXPECT_FALSE(bZoom);
             EXPECT_TRUE(bSound);
         }},
        {"PlaybackRecord off", PAGE_COLORSET, [&] { return w->PlaybackRecord(kPane, 0, false); }, Value(1),
         {kPanePort}, [&] { EXPECT_FALSE(pPlayback->IsRecording(kPane)); }},
        {"PlaybackDigitalZoom: the current pane", PAGE_REALPLAY, [&] { return w->PlaybackDigitalZoom(); }, Value(0), {},
         [&] { EXPECT_TRUE(pPlayback->IsDigitalZoom(kPane)); }},
        {"GetPlaybackBufferValue", PAGE_COLORSET, [&] { w->GetPlaybackBufferValue(kPane, nYuv, nBuf); return 0; },
         Value(0), {kPanePort},
         [&] {
             pPlayback->GetBufferValue(kPane, nPageYuv, nPageBuf);
             EXPECT_EQ(nYuv, nPageYuv);
             EXPECT_EQ(nBuf, nPageBuf);
             EXPECT_GE(nYuv, 0);
         }},
        {"IsPlaybackBufferEmpty", PAGE_REALPLAY, [&] { return w->IsPlaybackBufferEmpty(kPane); }, Value(1),
         {kPanePort}, {}},
        {"SetPlaybackWndChannel, another page shown: nothing", PAGE_REALPLAY,
         [&] { w->SetPlaybackWndChannel(8, 0); return 0; }, Value(0), {},
         [&] { EXPECT_EQ(pPlayback->GetWndChannel(0), -1); }},
        {"PlaybackStart, pane out of range", PAGE_REALPLAY, [&] { return w->PlaybackStart(0, 0, 4); }, Value(-1), {}, {}},

        // A page argument: 0 the live page, 1 the playback page, another value the other-page answer.
        {"GetWndChannel 0", PAGE_PLAYBACK, [&] { return w->GetWndChannel(0, 2); }, Value(kLiveOther), {}, {}},
        {"GetWndChannel 1", PAGE_REALPLAY, [&] { return w->GetWndChannel(1, 3); }, Value(7), {}, {}},
        {"GetWndChannel 2", PAGE_REALPLAY, [&] { return w->GetWndChannel(2, 2); }, Value(-1), {}, {}},
        {"GetWndIndexByChannel 0", PAGE_PLAYBACK, [&] { return w->GetWndIndexByChannel(0, kLiveOther); }, Value(2), {}, {}},
        {"GetWndIndexByChannel 1", PAGE_REALPLAY, [&] { return w->GetWndIndexByChannel(1, 7); }, Value(3), {}, {}},
        {"GetWndIndexByChannel -1", PAGE_REALPLAY, [&] { return w->GetWndIndexByChannel(-1, 7); }, Value(-1), {}, {}},
        {"IsDigitalZoom 1", PAGE_REALPLAY, [&] { return w->IsDigitalZoom(1, kPane); }, Value(1), {}, {}},
        {"IsDigitalZoom 0", PAGE_PLAYBACK, [&] { return w->IsDigitalZoom(0, kPane); }, Value(0), {}, {}},
        {"IsDigitalZoom 2", PAGE_PLAYBACK, [&] { return w->IsDigitalZoom(2, kPane); }, Value(0), {}, {}},
        {"OpenSound 0", PAGE_PLAYBACK, [&] { return w->OpenSound(0, kLiveCurrent, true); }, Value(0), {kLiveCurrent},
         {}},
        {"IsSoundOpen 0", PAGE_COLORSET, [&] { return w->IsSoundOpen(0, kLiveCurrent); }, Value(1), {}, {}},
        {"IsSoundOpen 1", PAGE_COLORSET, [&] { return w->IsSoundOpen(1, kPane); }, Value(1), {}, {}},
        {"OpenSound 2", PAGE_REALPLAY, [&] { return w->OpenSound(2, kLiveCurrent, false); }, Value(-1), {}, {}},
        {"IsSoundOpen 3", PAGE_REALPLAY, [&] { return w->IsSoundOpen(3, kLiveCurrent); }, Value(0), {}, {}},
        {"GetPlayState 0", PAGE_PLAYBACK, [&] { return w->GetPlayState(0, kLiveCurrent); }, Value(2), {}, {}},
        {"GetPlayState 1", PAGE_REALPLAY, [&] { return w->GetPlayState(1, kPane); }, Value(4), {}, {}},
        {"GetPlayState 2", PAGE_REALPLAY, [&] { return w->GetPlayState(2, 63); }, Value(2), {}, {}},
        {"GetPlayState 3", PAGE_REALPLAY, [&] { return w->GetPlayState(3, 0); }, Value(0), {}, {}},
        {"GetPlayState 0, no such channel", PAGE_REALPLAY, [&] { return w->GetPlayState(0, 70); }, Value(-1), {}, {}},

        // Operations on the page shown.
        {"GetCurWndIndex, live page", PAGE_REALPLAY, [&] { return w->GetCurWndIndex(); }, Value(0), {}, {}},
        {"GetCurWndIndex, playback page", PAGE_PLAYBACK, [&] { return w->GetCurWndIndex(); }, Value(kPane), {}, {}},
        {"GetCurWndIndex, colour page", PAGE_COLORSET, [&] { return w->GetCurWndIndex(); }, Value(-1), {}, {}},
        {"GetCurWndChannel 5, live page", PAGE_REALPLAY, [&] { return w->GetCurWndChannel(5); }, Value(kLiveCurrent),
         {}, {}},
        {"GetCurWndChannel 5, playback page", PAGE_PLAYBACK, [&] { return w->GetCurWndChannel(5); }, Value(4), {}, {}},
        {"GetCurWndChannel 5, colour page", PAGE_COLORSET, [&] { return w->GetCurWndChannel(5); }, Value(-1), {}, {}},
        {"GetCurWndChannel 0", PAGE_COLORSET, [&] { return w->GetCurWndChannel(0); }, Value(kLiveCurrent), {}, {}},
        {"GetCurWndChannel 1", PAGE_REALPLAY, [&] { return w->GetCurWndChannel(1); }, Value(4), {}, {}},
        {"GetCurWndChannel 2", PAGE_REALPLAY, [&] { return w->GetCurWndChannel(2); }, Value(-1), {}, {}},
        {"Snapshot, live page: no picture yet", PAGE_REALPLAY, [&] { return w->Snapshot(kLiveCurrent, false); },
         Value(-2), {kLiveCurrent}, {}},
        {"Snapshot, playback page: the reloaded capture folder", PAGE_PLAYBACK, [&] { return w->Snapshot(kPane, false); },
         Value(0), {kPanePort}, [&] { EXPECT_EQ(files(CaptureDir(), "Local_*.bmp"), 1); }},
        {"Snapshot, colour page", PAGE_COLORSET, [&] { return w->Snapshot(kPane, false); }, Value(-1), {}, {}},
        {"Snapshot for the configuration: the live page whatever is shown", PAGE_PLAYBACK,
         [&] { return w->Snapshot(kLiveCurrent, true); }, Value(-2), {kLiveCurrent}, {}},

        {"ChangeSplit, live page", PAGE_REALPLAY, [&] { return w->ChangeSplit(1); }, Value(0), {},
         [&] {
             EXPECT_EQ(Grid(pLive)->GetShowWndNum(), 4);
             EXPECT_EQ(Grid(pPlayback)->GetShowWndNum(), 1);
         }},
        {"ChangeSplit, playback page", PAGE_PLAYBACK, [&] { return w->ChangeSplit(1); }, Value(0), {},
         [&] { EXPECT_EQ(Grid(pPlayback)->GetShowWndNum(), 4); }},
        {"ChangeSplit, colour page: only the log line", PAGE_COLORSET, [&] { return w->ChangeSplit(2); }, Value(-1), {},
         [&] {
             EXPECT_TRUE(log.Contains("pageid=2 mode=2"));
             EXPECT_EQ(Grid(pLive)->GetShowWndNum(), 4);
             EXPECT_EQ(Grid(pPlayback)->GetShowWndNum(), 4);
         }},

        // The colour page.
        {"ColorPreviewStop", PAGE_REALPLAY, [&] { return w->ColorPreviewStop(); }, Value(0), {DECODE_PORT_COLOR_PREVIEW},
         [&] { EXPECT_EQ(w->GetPlayState(2, 0), 0); }},
        {"ColorPreviewStart", PAGE_PLAYBACK, [&] { return w->ColorPreviewStart(0); }, Value(0),
         {DECODE_PORT_COLOR_PREVIEW}, [&] { EXPECT_EQ(w->GetPlayState(2, 0), 2); }},
        {"ChangeFileFormat of a missing file", PAGE_COLORSET,
         [&] { return PlayWidget::ChangeFileFormat(TempPath("missing.h265x"), TempPath("out.avi"), 2, nullptr, nullptr); },
         Value(0), {}, {}},

        // Closing the pane last.
        {"PlaybackStop", PAGE_REALPLAY, [&] { return w->PlaybackStop(kPane); }, Value(0), {kPanePort},
         [&] { EXPECT_EQ(pPlayback->GetPlayState(kPane), PLAY_STATE_STOPPED); }},
        {"GetPlayState 1 of the closed pane", PAGE_REALPLAY, [&] { return w->GetPlayState(1, kPane); }, Value(0), {}, {}},
    };

    for (const FacadeRow &row : rows) {
        SCOPED_TRACE(row.pName);
        w->SetPageIndex(row.nPage);
        PavlineControl::ClearJournal();
        const double dResult = row.call();
        const std::set<int> ports = PlaybackTest::JournalPorts(PavlineControl::Journal());
        EXPECT_EQ(dResult, row.expected());
        EXPECT_EQ(ports, row.ports);
        if (row.check)
            row.check();
    }
}

struct RefusedCase
{
    const char *pName;
    std::function<double()> call;
    double dExpected;
};

// A channel, window or pane outside its range (or a page index naming none) is refused with the answer for
// "no such one", whatever page is shown, and reaches no port.
TEST_F(PlayWidgetPagesTest, IndexesOutOfRangeAreRefused)
{
    PlayWidget *w = Window();
    ASSERT_TRUE(ShowWindow());
    const unsigned char block[16] = {0, 0, 1, 0xFC};
    bool bFlag = false, bRecord = true, bZoom = true, bSound = true;
    int nA = -7, nB = -7, nC = -7, nD = -7;
    const QByteArray file = LocalFile("refused.h264", 10);
    const std::vector<RefusedCase> cases = {
        {"PreviewPlay channel 64", [&] { return w->PreviewPlay(1, 64, 0); }, -1},
        {"PreviewPlay channel -1", [&] { return w->PreviewPlay(1, -1, -1); }, -1},
        {"PreviewPlay window 64", [&] { return w->PreviewPlay(1, 3, 64); }, -2},
        {"PreviewPlay window -2", [&] { return w->PreviewPlay(1, 3, -2); }, -2},
        {"PreviewStop", [&] { return w->PreviewStop(64); }, -1},
        {"Record", [&] { return w->Record(-1, true, bFlag); }, -1},
        {"IsRecording", [&] { return w->IsRecording(64); }, 0},
        {"GetStreamType", [&] { return w->GetStreamType(1000); }, 0},
        {"PlayNormal", [&] { return w->PlayNormal(64); }, -1},
        {"PlayOriginal", [&] { return w->PlayOriginal(-1); }, -1},
        {"PlayProportion", [&] { return w->PlayProportion(64, 2); }, -1},
        {"GetPlayOriginalState", [&] { return w->GetPlayOriginalState(64); }, -1},
        {"GetColor", [&] { return w->GetColor(64, nA, nB, nC, nD); }, -1},
        {"SetColor without a channel in the current window", [&] { return w->SetColor(0, 10); }, -1},
        {"PTZElectOpen channel", [&] { return w->PTZElectOpen(64, -1); }, 0},
        {"PTZElectOpen window", [&] { return w->PTZElectOpen(3, 64); }, 0},
        {"PTZElectPresent", [&] { return w->PTZElectPresent(64, 7, 1); }, 0},
        {"PTZElectRedu", [&] { return w->PTZElectRedu(-1); }, 0},
        {"PTZElectZoomIn", [&] { return w->PTZElectZoomIn(64, 10); }, 0},
        {"PTZElectZoomOut", [&] { return w->PTZElectZoomOut(64, 10); }, 0},
        {"PTZElectronicMove", [&] { return w->PTZElectronicMove(64, 0, 10); }, 0},
        {"ScaleSwitch without a channel", [&] { w->ScaleSwitch(0, 1); return 0; }, 0},
        {"Snapshot live", [&] { return w->Snapshot(64, false); }, -1},
        {"Snapshot configuration", [&] { return w->Snapshot(-1, true); }, -1},
        {"OpenSound 0", [&] { return w->OpenSound(0, 64, true); }, -1},
        {"IsSoundOpen 0", [&] { return w->IsSoundOpen(0, -1); }, 0},
        {"IsDigitalZoom 0", [&] { return w->IsDigitalZoom(0, 64); }, 0},
        {"GetWndChannel 0", [&] { return w->GetWndChannel(0, 64); }, -1},
        {"GetWndIndexByChannel 0", [&] { return w->GetWndIndexByChannel(0, 64); }, -1},
        {"GetPlayState 0", [&] { return w->GetPlayState(0, -1); }, -1},
        {"PreviewInputData 64", [&] { return w->PreviewInputData(64, block, sizeof block, nullptr); }, -1},
        {"PreviewInputData -1", [&] { return w->PreviewInputData(-1, block, sizeof block, nullptr); }, -1},

        {"PlaybackStart pane 4", [&] { return w->PlaybackStart(0, 0, 4); }, -1},
        {"PlaybackStart pane -2", [&] { return w->PlaybackStart(0, 0, -2); }, -1},
        {"PlaybackStop", [&] { return w->PlaybackStop(4); }, -1},
        {"PlaybackControl", [&] { return w->PlaybackControl(-1, PLAY_STATE_PAUSE); }, -1},
        {"SetPlayPos", [&] { return w->SetPlayPos(4, 0.5); }, 0},
        {"GetPlayPos", [&] { return w->GetPlayPos(4); }, 0},
        {"GetPlaybackSeekTime", [&] { return w->GetPlaybackSeekTime(-1, 500); }, 0},
        {"SetPlaybackTime", [&] { return w->SetPlaybackTime(4, "2023-11-13 00:00:00", "2023-11-15 00:00:00"); }, 0},
        {"PlaybackRecord", [&] { return w->PlaybackRecord(4, 0, true); }, 0},
        {"IsPlaybackRecording", [&] { return w->IsPlaybackRecording(4); }, 0},
        {"GetPlaybackWndStatus", [&] { return w->GetPlaybackWndStatus(-1, bRecord, bZoom, bSound); }, 0},
        {"GetPlaybackBufferValue leaves the counters", [&] { w->GetPlaybackBufferValue(4, nA, nB); return nA + nB; }, -14},
        {"IsPlaybackBufferEmpty", [&] { return w->IsPlaybackBufferEmpty(4); }, 0},
        {"BeginLocalPlay", [&] { return w->BeginLocalPlay(4, file.constData(), nullptr, nullptr); }, 0},
        {"OpenSound 1", [&] { return w->OpenSound(1, 4, true); }, -1},
        {"IsSoundOpen 1", [&] { return w->IsSoundOpen(1, 4); }, 0},
        {"IsDigitalZoom 1", [&] { return w->IsDigitalZoom(1, -1); }, 0},
        {"GetWndChannel 1", [&] { return w->GetWndChannel(1, 4); }, -1},
        {"GetPlayState 1", [&] { return w->GetPlayState(1, 4); }, -1},
        {"PlaybackInputData", [&] { return w->PlaybackInputData(4, block, sizeof block); }, 0},
        {"SetPlaybackWndChannel", [&] { w->SetPlaybackWndChannel(2, 4); return w->GetWndIndexByChannel(1, 2); }, -1},
        {"Snapshot playback", [&] { w->SetPageIndex(PAGE_PLAYBACK); return w->Snapshot(4, false); }, -1},

        {"GetWndChannel page 2", [&] { return w->GetWndChannel(2, 0); }, -1},
        {"GetWndIndexByChannel page -1", [&] { return w->GetWndIndexByChannel(-1, 0); }, -1},
        {"OpenSound page 3", [&] { return w->OpenSound(3, 0, true); }, -1},
        {"IsDigitalZoom page 5", [&] { return w->IsDigitalZoom(5, 0); }, 0},
        {"GetCurWndChannel kind 4", [&] { return w->GetCurWndChannel(4); }, -1},
        {"GetPlayState kind -1", [&] { return w->GetPlayState(-1, 0); }, 0},
    };
    for (int nPage : {PAGE_REALPLAY, PAGE_PLAYBACK, PAGE_COLORSET}) {
        for (const RefusedCase &c : cases) {
            SCOPED_TRACE(std::string(c.pName) + ", page " + std::to_string(nPage));
            w->SetPageIndex(nPage);
            PavlineControl::ClearJournal();
            // The live page's answers about the current page hold only while it is shown.
            const double dExpected = nPage != PAGE_REALPLAY && std::string(c.pName) == "GetPlayOriginalState" ? 0
                                                                                                           : c.dExpected;
            EXPECT_EQ(c.call(), dExpected);
            EXPECT_TRUE(PavlineControl::Journal().empty());
        }
    }
    EXPECT_FALSE(bRecord || bZoom || bSound);
    for (int nPort : {3, 64, 65, 66, 67, 128, 129, 130, 131})
        EXPECT_FALSE(PavlineControl::Stats(nPort).bOpen) << nPort;
}

// Each playback state of a pane, as the host is told it.
TEST_F(PlayWidgetPagesTest, PlayStatesInTheHostsCodes)
{
    SetScene();
    PlayWidget *w = Window();
    struct StateCase
    {
        int nState;
        int nHost;
    };
    const StateCase cases[] = {
        {PLAY_STATE_NORMAL, 2}, {PLAY_STATE_PAUSE, 4}, {16, 5}, {17, 5}, {18, 5}, {19, 5}, {PLAY_STATE_NORMAL, 2},
        {32, 6}, {33, 6}, {34, 6}, {35, 6}, {PLAY_STATE_STEP, 7}, {PLAY_STATE_STEP_BACK, 8},
    };
    for (const StateCase &c : cases) {
        SCOPED_TRACE(c.nState);
        ASSERT_EQ(w->PlaybackControl(kPane, c.nState), c.nState);
        EXPECT_EQ(w->GetPlayState(PAGE_PLAYBACK, kPane), c.nHost);
    }
    ASSERT_EQ(w->PlaybackStop(kPane), 0);
    EXPECT_EQ(w->GetPlayState(PAGE_PLAYBACK, kPane), 0);
    // A pane that never had a channel, and a live channel out of range, are passed on as they are.
    EXPECT_EQ(w->GetPlayState(PAGE_PLAYBACK, 4), -1);
    EXPECT_EQ(w->GetPlayState(PAGE_REALPLAY, 64), -1);
    EXPECT_EQ(w->GetPlayState(PAGE_REALPLAY, -1), -1);
    // The colour page: playing, then stopped, then never started.
    EXPECT_EQ(w->GetPlayState(PAGE_COLORSET, 0), 2);
    ASSERT_EQ(w->ColorPreviewStop(), 0);
    EXPECT_EQ(w->GetPlayState(PAGE_COLORSET, 0), 0);
    PlayWidget::DestroyInstance();
    EXPECT_EQ(Window()->GetPlayState(PAGE_COLORSET, 0), -1);
    EXPECT_EQ(Window()->GetPlayState(-1, 0), 0);
}

TEST_F(PlayWidgetPagesTest, PagesShownOneAtATimeAndAnIndexNamingNoPage)
{
    PlayWidget *w = Window();
    ASSERT_TRUE(ShowWindow());
    QWidget *const pages[] = {Live(), Playback(), Colour()};
    // Made hidden, and none shown until a page is chosen.
    EXPECT_EQ(w->GetPageIndex(), PAGE_REALPLAY);
    for (QWidget *pPage : pages)
        EXPECT_FALSE(pPage->isVisible());
    for (int nPage : {PAGE_PLAYBACK, PAGE_COLORSET, PAGE_REALPLAY}) {
        w->SetPageIndex(nPage);
        EXPECT_EQ(w->GetPageIndex(), nPage);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(pages[i]->isVisible(), i == nPage) << "page " << nPage << ", page " << i;
    }
    ASSERT_EQ(w->PreviewPlay(1, kLiveCurrent, -1), 0);

    // Page 3: kept, nothing shown changes, and each operation on the page shown answers for another page.
    LogCapture log;
    w->SetPageIndex(3);
    EXPECT_EQ(w->GetPageIndex(), 3);
    EXPECT_FALSE(log.Contains("m_nCurPageIndex = 3"));
    EXPECT_TRUE(pages[PAGE_REALPLAY]->isVisible());
    EXPECT_EQ(w->GetCurWndIndex(), -1);
    EXPECT_EQ(w->GetCurWndChannel(5), -1);
    EXPECT_EQ(w->GetCurWndChannel(0), kLiveCurrent);
    EXPECT_EQ(w->Snapshot(0, false), -1);
    EXPECT_EQ(w->ChangeSplit(1), -1);
    EXPECT_EQ(Grid(Live())->GetShowWndNum(), 9);
    EXPECT_FALSE(w->IsRecording(kLiveCurrent));
    EXPECT_EQ(w->GetPlayOriginalState(kLiveCurrent), 0);
    for (int nPage : {-1, 3, 5})
        w->SetPageIndex(nPage);
    EXPECT_TRUE(pages[PAGE_REALPLAY]->isVisible());
    w->SetPageIndex(PAGE_COLORSET);
    EXPECT_TRUE(log.Contains("m_nCurPageIndex = 2"));
    EXPECT_TRUE(pages[PAGE_COLORSET]->isVisible());
    EXPECT_FALSE(pages[PAGE_REALPLAY]->isVisible());
}

// The request thread hears of a pane chosen by a request even when it was current already; nothing for a
// pane the page does not have, nor on another page.
TEST_F(PlayWidgetPagesTest, SetCurWndIndexReportsOnThePlaybackPageOnly)
{
    PlayWidget *w = Window();
    QSignalSpy spy(w, &PlayWidget::curWndIndexSig);
    w->SetPageIndex(PAGE_REALPLAY);
    w->SetCurWndIndex(2);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(Playback()->GetCurWndIndex(), 0);
    w->SetPageIndex(PAGE_COLORSET);
    w->SetCurWndIndex(2);
    EXPECT_EQ(spy.count(), 0);

    w->SetPageIndex(PAGE_PLAYBACK);
    for (int i = 0; i < 2; ++i) {
        w->SetCurWndIndex(2);
        EXPECT_EQ(Playback()->GetCurWndIndex(), 2);
        EXPECT_EQ(w->GetCurWndIndex(), 2);
    }
    // The grid's own report of the first selection comes through the page as well.
    QList<QList<QVariant>> expected = {{1, 2}, {1, 2}, {1, 2}};
    ASSERT_EQ(spy.count(), 3);
    for (int i = 0; i < spy.count(); ++i)
        EXPECT_EQ(spy.at(i), expected.at(i));

    // A pane the page does not have selects nothing: the current pane is reported.
    spy.clear();
    for (int nPane : {-1, 4, 10, 63})
        w->SetCurWndIndex(nPane);
    ASSERT_EQ(spy.count(), 4);
    for (int i = 0; i < spy.count(); ++i)
        EXPECT_EQ(spy.at(i), (QList<QVariant>{1, 2}));
    EXPECT_EQ(Playback()->GetCurWndIndex(), 2);
}

// The live and playback pages' own selection reports reach the window's signal with the page shown.
TEST_F(PlayWidgetPagesTest, PagesSelectionsAndElectronicPTZEndAreRelayed)
{
    PlayWidget *w = Window();
    QSignalSpy spy(w, &PlayWidget::curWndIndexSig);
    QSignalSpy ptzSpy(w, &PlayWidget::changePTZELectPage);
    w->SetPageIndex(PAGE_REALPLAY);
    emit Live()->curWndIndexSig(6);
    w->SetPageIndex(PAGE_PLAYBACK);
    emit Playback()->curWndIndexSig(3);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0), (QList<QVariant>{0, 6}));
    EXPECT_EQ(spy.at(1), (QList<QVariant>{1, 3}));
    emit Live()->changePTZELectPage();
    EXPECT_EQ(ptzSpy.count(), 1);
}

struct SmartRuleCase
{
    const char *pName;
    int nOn;
    int nChannel;   // the rule block's channel
    bool bRefused;  // the caller's result becomes 1016; otherwise it is left as it was
};

TEST_F(PlayWidgetPagesTest, SmartRuleResultIsWrittenOnlyWhenTheDrawingIsRefused)
{
    const SmartRuleCase cases[] = {
        {"off, channel 0", 0, 0, false},
        {"off, channel 3", 0, 3, false},
        {"on, channel 3: refused", 1, 3, true},
        {"on, channel 0", 1, 0, false},
        {"2 counts as off", 2, 3, false},
    };
    // Neither result code: a write of either shows.
    constexpr int kUntouched = -4242;
    for (const SmartRuleCase &c : cases) {
        SCOPED_TRACE(c.pName);
        SmartRuleInfo info{};
        info.Channel = c.nChannel;
        info.ShowRule = 1;
        PavlineControl::ClearJournal();
        int nResult = kUntouched;
        Window()->SetSmartRule(c.nOn, info, nResult);
        EXPECT_EQ(nResult, c.bRefused ? RET_FAIL : kUntouched);
        // Only a drawing registered with the decode library reaches a port: channel 0's.
        const std::set<int> ports = PlaybackTest::JournalPorts(PavlineControl::Journal());
        EXPECT_EQ(ports, c.nOn == 1 && c.nChannel == 0 ? std::set<int>{0} : std::set<int>{});
    }
}

} // namespace
