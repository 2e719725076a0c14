// The smart-rule overlay: lines, regions and their arrows where the rules put them, drawn by the decode library's
// thread into channel 0's pictures only while the whole picture fills the tile, and never into another page's.

#include "standin/pavline/PavlineControl.h"
#include "standin/windows/GdiObjects.h"
#include "standin/windows/GuiThreadCheck.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/LivePageSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QImage>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using OverlayTest = LivePageFixture;

bool IsPenBlue(const QColor &c) { return c.red() < 80 && c.green() < 80 && c.blue() > 220; }

SmartRuleInfo LineRule(int nChannel, int nDirect)
{
    SmartRuleInfo info;
    std::memset(&info, 0, sizeof info);
    info.Channel = nChannel;
    info.LineNum = 1;
    info.ShowRule = 1;
    info.PedRule[0].Enable = 1;
    info.PedRule[0].RuleType = SMART_RULE_LINE;
    info.PedRule[0].LineAlarmDirect = static_cast<uint8_t>(nDirect);
    info.PedRule[0].StartX = 0;
    info.PedRule[0].StartY = 4096;
    info.PedRule[0].StopX = 8192;
    info.PedRule[0].StopY = 4096;
    return info;
}

// The overlay of the page drawn into a white 800 x 600 picture of window 0's surface, as the decode library
// would call it.
QImage DrawInto(CRealPlayWidget &page)
{
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::white);
    HDC hDC = GdiObjects::CreateImageDC(&image);
    page.DrawSmartRule(0, hDC, page.GetPlayWindowManage()->GetWndHandle(0));
    GdiObjects::DeleteImageDC(hDC);
    return image;
}

std::vector<QPoint> BluePoints(const QImage &image, const std::vector<QPoint> &points)
{
    std::vector<QPoint> blue;
    for (const QPoint &p : points)
        if (IsPenBlue(image.pixelColor(p)))
            blue.push_back(p);
    return blue;
}

// Points of the 800 x 600 line across the middle and of its arrow of direction 1 (tip at y = 315).
const std::vector<QPoint> kLineAndArrow = {{20, 300}, {200, 300}, {780, 300}, {400, 287}, {400, 315},
                                           {391, 306}, {409, 306}};
// Points the line and its arrow leave alone.
const std::vector<QPoint> kBeside = {{200, 290}, {200, 310}, {400, 321}, {400, 279}, {380, 310}, {420, 310}};

TEST_F(OverlayTest, LinesRegionsAndArrowsWhereTheRulesPutThem)
{
    CRealPlayWidget page;
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 1, QSize(800, 600)));
    const int nPensBefore = GdiObjects::PenCount();

    page.SetSmartRuleInfo(LineRule(0, 1));
    QImage image = DrawInto(page);
    EXPECT_EQ(BluePoints(image, kLineAndArrow).size(), kLineAndArrow.size());
    EXPECT_TRUE(BluePoints(image, kBeside).empty());

    // Direction 0 points the other way (tip at y = 285), 2 both ways, another value has no arrow.
    page.SetSmartRuleInfo(LineRule(0, 0));
    image = DrawInto(page);
    EXPECT_TRUE(IsPenBlue(image.pixelColor(400, 287)));
    EXPECT_TRUE(IsPenBlue(image.pixelColor(391, 294)));
    EXPECT_FALSE(IsPenBlue(image.pixelColor(391, 306)));
    page.SetSmartRuleInfo(LineRule(0, 2));
    image = DrawInto(page);
    EXPECT_TRUE(IsPenBlue(image.pixelColor(391, 294)));
    EXPECT_TRUE(IsPenBlue(image.pixelColor(391, 306)));
    page.SetSmartRuleInfo(LineRule(0, 7));
    image = DrawInto(page);
    EXPECT_TRUE(IsPenBlue(image.pixelColor(200, 300)));
    EXPECT_FALSE(IsPenBlue(image.pixelColor(400, 310)));

    // A region: a square with its arrow on the first edge; counts beyond what the block holds are cut to it.
    SmartRuleInfo region;
    std::memset(&region, 0, sizeof region);
    region.ShowRule = 1;
    region.AreaNum = 1000;
    region.LineNum = -5;
    for (SmartRule &rule : region.PedRule) {
        rule.RuleType = SMART_RULE_REGION;
        rule.PtsNum = 1 << 30;
        for (SmartRulePoint &p : rule.Pts)
            p = {2048, 2048};
    }
    SmartRule &square = region.PedRule[3];
    square.Enable = 1;
    square.RegionAlarmDirect = 1;
    const SmartRulePoint corners[] = {{2048, 2048}, {6144, 2048}, {6144, 6144}, {2048, 6144}};
    for (int i = 0; i < 8; ++i)
        square.Pts[i] = corners[i < 4 ? i : 3];
    page.SetSmartRuleInfo(region);
    image = DrawInto(page);
    // Edges at x 200..600, y 150..450; the first edge's arrow points down from (400, 150) (tip at y = 165).
    EXPECT_EQ(BluePoints(image, {{300, 150}, {600, 300}, {300, 450}, {200, 300}, {400, 162}}).size(), 5u);
    EXPECT_TRUE(BluePoints(image, {{400, 300}, {100, 100}, {700, 500}, {400, 175}}).empty());

    // Nothing for a block of another channel, without the show flag, or for a window handle of no tile.
    page.SetSmartRuleInfo(LineRule(1, 1));
    EXPECT_TRUE(BluePoints(DrawInto(page), kLineAndArrow).empty());
    SmartRuleInfo hidden = LineRule(0, 1);
    hidden.ShowRule = 0;
    page.SetSmartRuleInfo(hidden);
    EXPECT_TRUE(BluePoints(DrawInto(page), kLineAndArrow).empty());
    page.SetSmartRuleInfo(LineRule(0, 1));
    QImage other(800, 600, QImage::Format_RGB32);
    other.fill(Qt::white);
    HDC hDC = GdiObjects::CreateImageDC(&other);
    page.DrawSmartRule(0, hDC, reinterpret_cast<HWND>(page.winId()));
    page.DrawSmartRule(0, nullptr, page.GetPlayWindowManage()->GetWndHandle(0));
    GdiObjects::DeleteImageDC(hDC);
    EXPECT_TRUE(BluePoints(other, kLineAndArrow).empty());
    // Every pen made for a picture is deleted with it.
    EXPECT_EQ(GdiObjects::PenCount(), nPensBefore);
}

TEST_F(OverlayTest, DrawnIntoChannelZerosPicturesOnlyWhileTheWholePictureFillsTheTile)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 1, QSize(800, 600)));
    page.SetDeviceInfo(lLogin, false, false);
    page.SetSmartRuleInfo(LineRule(1, 1));
    EXPECT_FALSE(page.SetSmartRuleDraw());
    page.SetSmartRuleInfo(LineRule(0, 1));
    LiveTest::PageStreams streams(&page, lLogin);
    // The start registers the drawing of the rules that were set.
    ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    ASSERT_TRUE(streams.Start(0, 1));
    CVideoFrame *pSurface = page.GetPlayWindowManage()->GetVideoWnd(0)->GetVideoFrame();
    auto drawn = [&] { return BluePoints(GridTest::Grab(pSurface), kLineAndArrow).size() == kLineAndArrow.size(); };
    // The pictures hold no pure blue of their own along the line (the pattern's blue bar is darker).
    auto clean = [&] { return BluePoints(GridTest::Grab(pSurface), kLineAndArrow).empty(); };
    ASSERT_TRUE(WaitUntil(drawn, 20000));
    EXPECT_TRUE(BluePoints(GridTest::Grab(pSurface), kBeside).empty());

    struct Case
    {
        const char *pName;
        std::function<void()> set;
        std::function<void()> unset;
    };
    const std::vector<Case> cases = {
        {"channel 1's rules", [&] { page.SetSmartRuleInfo(LineRule(1, 1)); },
         [&] { page.SetSmartRuleInfo(LineRule(0, 1)); }},
        {"digital zoom",
         [&] { emit page.GetPlayWindowManage()->DigitalZoomSig(QPoint(0, 0), QPoint(4096, 4096), 0); },
         [&] { emit page.GetPlayWindowManage()->quitDigitalZoom(0); }},
        {"fixed proportion", [&] { page.PlayProportion(0, CVideoWnd::FIT_16_9); }, [&] { page.PlayNormal(0); }},
        {"source aspect", [&] { ASSERT_EQ(page.PlayOriginal(0), 0); }, [&] { page.PlayNormal(0); }},
    };
    for (const Case &c : cases) {
        c.set();
        EXPECT_TRUE(WaitUntil(clean, 10000)) << c.pName;
        // Several pictures later, still nothing.
        const int64_t nShown = PavlineControl::Stats(0).nPicturesShown;
        ASSERT_TRUE(PavlineControl::WaitForShown(0, nShown + 5, 10000)) << c.pName;
        EXPECT_TRUE(clean()) << c.pName;
        c.unset();
        EXPECT_TRUE(WaitUntil(drawn, 10000)) << c.pName;
    }
    streams.StopAll();
    EXPECT_EQ(GuiThreadCheck::Violations(), 0);
}

TEST_F(OverlayTest, APageGoneLeavesNoDrawingBehindOnItsPort)
{
    {
        CRealPlayWidget page;
        page.SetSmartRuleInfo(LineRule(0, 1));
        ASSERT_TRUE(page.SetSmartRuleDraw());
        ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    }
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    ASSERT_TRUE(LiveTest::ShowWithSurfaces(page, 1, QSize(320, 180)));
    LiveTest::PageStreams streams(&page, lLogin);
    ASSERT_EQ(page.PreviewPlay(1, 0, 0), 0);
    ASSERT_TRUE(streams.Start(0, 1));
    ASSERT_TRUE(PavlineControl::WaitForShown(0, 5, 20000));
    streams.StopAll();
    EXPECT_EQ(PavlineControl::Stats(0).nDecodeCallbacks, 0);
}

} // namespace
