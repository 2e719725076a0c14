// The live page's electronic PTZ, digital zoom and two-lens scale on a playing port: the display regions the
// decode library is given, the refusals that keep the stored rectangle, presets, and the two-lens steps that
// reach the device.

#include "device/CDecodeChannel.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/windows/LivePageSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CScaleSlider.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QSignalSpy>

#include <limits>
#include <string>
#include <vector>

namespace {

using PTZTest = LivePageFixture;

// The rectangle (or "none") and the enable flag of the port's last display region: "l,t,r,b 1".
std::string LastRegion(int nPort)
{
    const std::string strPrefix = "KTN_VIEW_SetDisplayRegion " + std::to_string(nPort) + " 0 ";
    const std::vector<std::string> lines = PavlineControl::JournalOf("KTN_VIEW_SetDisplayRegion");
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->compare(0, strPrefix.size(), strPrefix) == 0)
            return it->substr(strPrefix.size());
    return "";
}

// One step of a PTZ sequence on channel 0, shown in the current window 0.
struct Step
{
    enum Op { IN, OUT, UP, DOWN, LEFT, RIGHT, BAD_DIRECTION, DEL, ADD, CALL, BAD_COMMAND, REDU } op;
    int nValue;         // step or preset number
    bool bResult;
    const char *pRegion; // the last region given to the library after the step ("" none yet)
};

bool RunStep(CRealPlayWidget &page, const Step &step)
{
    switch (step.op) {
    case Step::IN: return page.PTZElectZoomIn(0, step.nValue);
    case Step::OUT: return page.PTZElectZoomOut(0, step.nValue);
    case Step::UP: return page.PTZElectronicMove(0, 0, step.nValue);
    case Step::DOWN: return page.PTZElectronicMove(0, 1, step.nValue);
    case Step::LEFT: return page.PTZElectronicMove(0, 2, step.nValue);
    case Step::RIGHT: return page.PTZElectronicMove(0, 3, step.nValue);
    case Step::BAD_DIRECTION: return page.PTZElectronicMove(0, 4, step.nValue);
    case Step::DEL: return page.PTZElectPresent(0, 6, step.nValue);
    case Step::ADD: return page.PTZElectPresent(0, 7, step.nValue);
    case Step::CALL: return page.PTZElectPresent(0, 8, step.nValue);
    case Step::BAD_COMMAND: return page.PTZElectPresent(0, 5, step.nValue);
    case Step::REDU: return page.PTZElectRedu(0);
    }
    return false;
}

TEST_F(PTZTest, StepsPresetsAndRefusalsKeepTheStoredRectangle)
{
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    struct Case
    {
        const char *pName;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"zoom in to the middle", {{Step::IN, 4096, false, ""}, {Step::IN, 4095, true, "4095,4095,4097,4097 1"}}},
        {"zoom out across an edge is refused whole",
         {{Step::IN, 100, true, "100,100,8092,8092 1"},
          {Step::LEFT, 95, true, "5,100,7997,8092 1"},
          {Step::OUT, 10, false, "5,100,7997,8092 1"},
          {Step::OUT, 5, true, "0,95,8002,8097 1"},
          {Step::OUT, 100, false, "0,95,8002,8097 1"}}},
        {"moves to the edges",
         {{Step::IN, 100, true, "100,100,8092,8092 1"},
          {Step::UP, 200, false, "100,100,8092,8092 1"},
          {Step::RIGHT, 8, true, "108,100,8100,8092 1"},
          {Step::RIGHT, 92, true, "200,100,8192,8092 1"},
          {Step::RIGHT, 1, false, "200,100,8192,8092 1"},
          {Step::DOWN, 100, true, "200,200,8192,8192 1"},
          {Step::DOWN, 1, false, "200,200,8192,8192 1"},
          {Step::UP, 200, true, "200,0,8192,7992 1"},
          {Step::LEFT, 201, false, "200,0,8192,7992 1"},
          {Step::BAD_DIRECTION, 1, false, "200,0,8192,7992 1"}}},
        {"presets",
         {{Step::DEL, 3, false, ""},
          {Step::CALL, 3, false, ""},
          {Step::IN, 1000, true, "1000,1000,7192,7192 1"},
          {Step::ADD, 3, true, "1000,1000,7192,7192 1"},
          {Step::LEFT, 500, true, "500,1000,6692,7192 1"},
          {Step::DOWN, 300, true, "500,1300,6692,7492 1"},
          {Step::CALL, 3, true, "1000,1000,7192,7192 1"},
          {Step::DEL, 9, true, "1000,1000,7192,7192 1"},
          {Step::CALL, 9, false, "1000,1000,7192,7192 1"},
          {Step::BAD_COMMAND, 3, false, "1000,1000,7192,7192 1"},
          {Step::DEL, 3, true, "1000,1000,7192,7192 1"},
          {Step::CALL, 3, false, "1000,1000,7192,7192 1"}}},
        {"steps at the int range's ends are refused whole",
         {{Step::IN, kMin, false, ""},
          {Step::IN, kMax, false, ""},
          {Step::OUT, kMin, false, ""},
          {Step::OUT, kMax, false, ""},
          {Step::UP, kMin, false, ""},
          {Step::UP, kMax, false, ""},
          {Step::DOWN, kMin, false, ""},
          {Step::DOWN, kMax, false, ""},
          {Step::LEFT, kMin, false, ""},
          {Step::LEFT, kMax, false, ""},
          {Step::RIGHT, kMin, false, ""},
          {Step::RIGHT, kMax, false, ""},
          {Step::IN, 100, true, "100,100,8092,8092 1"},
          {Step::IN, kMin + 1, false, "100,100,8092,8092 1"},
          {Step::UP, kMax, false, "100,100,8092,8092 1"}}},
        {"a negative step turns the step around, within the picture",
         {{Step::IN, -10, false, ""},
          {Step::OUT, -10, true, "10,10,8182,8182 1"},
          {Step::OUT, -4087, false, "10,10,8182,8182 1"},
          {Step::UP, -10, true, "10,20,8182,8192 1"},
          {Step::UP, -1, false, "10,20,8182,8192 1"},
          {Step::LEFT, -10, true, "20,20,8192,8192 1"},
          {Step::RIGHT, -20, true, "0,20,8172,8192 1"},
          {Step::DOWN, -20, true, "0,0,8172,8172 1"},
          {Step::DOWN, -1, false, "0,0,8172,8172 1"}}},
        {"back to the whole picture",
         {{Step::REDU, 0, false, ""},
          {Step::IN, 10, true, "10,10,8182,8182 1"},
          {Step::REDU, 0, true, "none 0"},
          {Step::REDU, 0, false, "none 0"},
          {Step::IN, 10, true, "10,10,8182,8182 1"}}},
    };

    CRealPlayWidget page;
    for (const Case &c : cases) {
        // Every start sets each channel's PTZ back to the whole picture without presets.
        page.PreviewStop(0);
        ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0) << c.pName;
        PavlineControl::ClearJournal();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &step = c.steps[i];
            EXPECT_EQ(RunStep(page, step), step.bResult) << c.pName << ", step " << i;
            EXPECT_EQ(LastRegion(0), step.pRegion) << c.pName << ", step " << i;
        }
    }
}

TEST_F(PTZTest, ALibraryRefusalLeavesTheNewRectangleStored)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    // Paused, the port takes no display region: the step fails but the next one starts from its rectangle.
    ASSERT_EQ(page.GetDecodeChannel(0)->SetPlayState(PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    LogCapture log;
    EXPECT_FALSE(page.PTZElectZoomIn(0, 100));
    EXPECT_TRUE(log.Contains("PTZElectZoomIn"));
    EXPECT_FALSE(page.PTZElectronicMove(0, 2, 50));
    ASSERT_EQ(page.GetDecodeChannel(0)->SetPlayState(PLAY_STATE_NORMAL), PLAY_STATE_NORMAL);
    PavlineControl::ClearJournal();
    EXPECT_TRUE(page.PTZElectZoomIn(0, 10));
    EXPECT_EQ(LastRegion(0), "60,110,8032,8082 1");
}

TEST_F(PTZTest, StepsActOnlyOnTheCurrentWindowsChannel)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    ASSERT_EQ(page.PreviewPlay(1, 2, 1), 0);
    page.GetPlayWindowManage()->onCurWndIndexChange(1);
    LogCapture log;
    PavlineControl::ClearJournal();
    EXPECT_FALSE(page.PTZElectZoomIn(0, 10));
    EXPECT_FALSE(page.PTZElectZoomOut(0, 10));
    EXPECT_FALSE(page.PTZElectRedu(0));
    EXPECT_FALSE(page.PTZElectronicMove(0, 1, 10));
    EXPECT_FALSE(page.PTZElectPresent(0, 7, 1));
    EXPECT_TRUE(log.Contains("PTZElectZoomIn nWndIndex=1 Channel=0"));
    EXPECT_TRUE(log.Contains("PTZElectRedu nWndIndex=1 Channel=0"));
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetDisplayRegion").empty());
    // Channels and windows outside 0..63 never reach a table.
    for (int nChannel : {-1, 64, 100000}) {
        EXPECT_FALSE(page.PTZElectOpen(nChannel, -1)) << nChannel;
        EXPECT_FALSE(page.PTZElectZoomIn(nChannel, 1)) << nChannel;
        EXPECT_FALSE(page.PTZElectPresent(nChannel, 7, 1)) << nChannel;
    }
    EXPECT_FALSE(page.PTZElectOpen(2, 64));
    page.OnQuitPTZElect(64);
    page.OnDigitalZoom(QPoint(0, 0), QPoint(10, 10), 64);
    page.OnQuitDigitalZoom(-5);
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetDisplayRegion").empty());
    // The current window's own channel works.
    EXPECT_TRUE(page.PTZElectZoomIn(2, 10));
    EXPECT_EQ(LastRegion(2), "10,10,8182,8182 1");
}

TEST_F(PTZTest, OpenAndRightClickQuitWithAStartResettingItsOwnChannelOnly)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 4, 0), 0);
    CVideoWnd *pTile = page.GetPlayWindowManage()->GetVideoWnd(0);
    EXPECT_TRUE(pTile->GetPreviewStatus());
    EXPECT_FALSE(page.PTZElectOpen(5, 0));   // window 0 shows channel 4
    PavlineControl::ClearJournal();
    EXPECT_TRUE(page.PTZElectOpen(4, -1));
    EXPECT_EQ(LastRegion(4), "0,0,8192,8192 1");
    EXPECT_FALSE(pTile->GetPreviewStatus());
    EXPECT_TRUE(pTile->GetPTZElectStatus());
    // Open again: enabled already, nothing is asked of the library.
    PavlineControl::ClearJournal();
    EXPECT_TRUE(page.PTZElectOpen(4, 0));
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetDisplayRegion").empty());
    EXPECT_TRUE(page.PTZElectZoomIn(4, 500));
    EXPECT_TRUE(page.PTZElectPresent(4, 7, 2));
    // Another tile's start leaves channel 4's PTZ as it is: its rectangle, its preset, and its quit.
    ASSERT_EQ(page.PreviewPlay(1, 9, 1), 0);
    PavlineControl::ClearJournal();
    EXPECT_TRUE(page.PTZElectZoomIn(4, 100));
    EXPECT_EQ(LastRegion(4), "600,600,7592,7592 1");
    EXPECT_TRUE(page.PTZElectPresent(4, 8, 2));
    EXPECT_EQ(LastRegion(4), "500,500,7692,7692 1");

    QSignalSpy left(&page, &CRealPlayWidget::changePTZELectPage);
    // The tile's right click reaches the page through the grid.
    emit page.GetPlayWindowManage()->quitPTZElect(0);
    EXPECT_EQ(left.count(), 1);
    EXPECT_EQ(LastRegion(4), "none 0");
    EXPECT_TRUE(pTile->GetPreviewStatus());
    emit page.GetPlayWindowManage()->quitPTZElect(0);
    EXPECT_EQ(left.count(), 1);   // not enabled any more

    // The channel's own start empties its presets and gives its port the whole picture, even when its port
    // stayed open.
    EXPECT_TRUE(page.PTZElectPresent(4, 8, 2));
    EXPECT_EQ(LastRegion(4), "500,500,7692,7692 1");
    PavlineControl::ClearJournal();
    ASSERT_EQ(page.PreviewPlay(1, 4, 0), 0);
    EXPECT_EQ(LastRegion(4), "none 0");
    EXPECT_FALSE(page.PTZElectPresent(4, 8, 2));
    EXPECT_FALSE(page.PTZElectPresent(4, 6, 2));
    EXPECT_FALSE(page.PTZElectRedu(4));
}

TEST_F(PTZTest, DigitalZoomFollowsTheGridAndEndsWithAnotherDisplay)
{
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 6, 3), 0);
    PavlineControl::ClearJournal();
    emit page.GetPlayWindowManage()->DigitalZoomSig(QPoint(100, 200), QPoint(4000, 5000), 3);
    EXPECT_TRUE(page.IsDigitalZoom(6));
    EXPECT_EQ(LastRegion(6), "100,200,4000,5000 1");
    emit page.GetPlayWindowManage()->quitDigitalZoom(3);
    EXPECT_FALSE(page.IsDigitalZoom(6));
    EXPECT_EQ(LastRegion(6), "none 0");
    // A window without a channel does nothing.
    PavlineControl::ClearJournal();
    emit page.GetPlayWindowManage()->DigitalZoomSig(QPoint(1, 1), QPoint(9, 9), 4);
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_SetDisplayRegion").empty());
    // A fixed proportion leaves digital zoom first.
    emit page.GetPlayWindowManage()->DigitalZoomSig(QPoint(100, 200), QPoint(4000, 5000), 3);
    ASSERT_TRUE(page.IsDigitalZoom(6));
    EXPECT_EQ(page.PlayProportion(6, CVideoWnd::FIT_16_9), 0);
    EXPECT_FALSE(page.IsDigitalZoom(6));
    EXPECT_EQ(LastRegion(6), "none 0");
    EXPECT_EQ(page.GetPlayOriginalState(6), CVideoWnd::FIT_16_9);
    EXPECT_EQ(page.GetPlayWindowManage()->GetVideoWnd(3)->GetFitMode(), CVideoWnd::FIT_16_9);
    EXPECT_EQ(page.PlayNormal(6), 0);
    EXPECT_EQ(page.GetPlayOriginalState(6), 0);
    EXPECT_EQ(page.GetPlayWindowManage()->GetVideoWnd(3)->GetFitMode(), CVideoWnd::FIT_FILL);
}

// The zoom ratio command the device was last sent: its "TimesOri" and "Times".
std::string LastScaleCommand()
{
    const std::vector<std::string> lines = KorvexControl::JournalOf("ZDK_DEV_CmdGeneral_Json");
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->find("name=OPScaleTimesSwitch") != std::string::npos) {
            const size_t nAt = it->find("\"TimesOri\"");
            return nAt == std::string::npos ? *it : it->substr(nAt, it->find('}', nAt) - nAt);
        }
    return "";
}

TEST_F(PTZTest, TwoLensScaleStepsAreHeldWithinZeroToSeven)
{
    UseDevice(R"(, "TwoLens": [{"Channel": 0, "Stream": 1, "Times": 6.8, "MaxTimes": 7.0},
                               {"Channel": 2, "Stream": 1, "Supported": false}])");
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 1, QSize(320, 180)));
    page.SetDeviceInfo(lLogin, false, false);
    ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    CVideoWnd *pTile = page.GetPlayWindowManage()->GetVideoWnd(0);
    ASSERT_NE(pTile->GetScaleSlider(), nullptr);
    EXPECT_TRUE(pTile->GetScaleSlider()->isVisible());

    struct Case
    {
        int nDirection, nStep;
        const char *pCommand;
    };
    const Case cases[] = {
        {0, 5, R"("TimesOri": 6.8,"Times": 7.0)"},     // 7.3 held at 7
        {1, 100, R"("TimesOri": 7.0,"Times": 0.0)"},   // held at 0
        {0, 12, R"("TimesOri": 0.0,"Times": 1.2)"},
        {1, 2, R"("TimesOri": 1.2,"Times": 1.0)"},
        {3, 4, R"("TimesOri": 1.0,"Times": 0.0)"},     // another direction gives 0
    };
    for (const Case &c : cases) {
        page.ScaleSwitch(c.nDirection, c.nStep);
        EXPECT_EQ(LastScaleCommand(), c.pCommand) << c.nDirection << "/" << c.nStep;
    }
    // A device refusal keeps the times the page had.
    KorvexControl::FailNextCall("ZDK_DEV_CmdGeneral_Json", ZDK_ERR_FAILED);
    page.ScaleSwitch(0, 30);
    page.ScaleSwitch(0, 5);
    EXPECT_EQ(LastScaleCommand(), R"("TimesOri": 0.0,"Times": 0.5)");

    // A channel without a two-lens zoom hides the slider of its window.
    page.PreviewStop(0);
    ASSERT_EQ(page.PreviewPlay(1, 2, 0), 0);
    EXPECT_FALSE(pTile->GetScaleSlider()->isVisible());
    // A window without a channel sends nothing.
    page.PreviewStop(2);
    KorvexControl::ClearJournal();
    page.ScaleSwitch(0, 1);
    EXPECT_EQ(LastScaleCommand(), "");
}

} // namespace
