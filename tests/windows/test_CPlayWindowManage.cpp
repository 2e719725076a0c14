// The tile grid: the layout of each split, the current tile, enlarge and restore with their signals, the
// selection turned into a display region, and the per-window settings for one tile, for all, or refused.

#include "tests/support/LogCapture.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CScaleSlider.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kGridSize = 840;  // divisible by every column count of the splits

std::vector<int> Visible(const CPlayWindowManage &grid)
{
    std::vector<int> shown;
    for (int i = 0; i < MAX_WND_NUM; ++i)
        if (!grid.GetVideoWnd(i)->isHidden())
            shown.push_back(i);
    return shown;
}

std::vector<int> Highlighted(const CPlayWindowManage &grid)
{
    std::vector<int> lit;
    for (int i = 0; i < MAX_WND_NUM; ++i)
        if (grid.GetVideoWnd(i)->IsSelected())
            lit.push_back(i);
    return lit;
}

std::vector<int> Range(int n)
{
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(i);
    return v;
}

struct Region
{
    int l, t, r, b;
    bool operator==(const Region &o) const { return l == o.l && t == o.t && r == o.r && b == o.b; }
};

std::ostream &operator<<(std::ostream &out, const Region &rc)
{
    return out << "(" << rc.l << ", " << rc.t << ", " << rc.r << ", " << rc.b << ")";
}

Region RegionOf(const CPlayWindowManage &grid, int nIndex)
{
    Region rc{};
    grid.GetVideoWnd(nIndex)->GetRegion(rc.l, rc.t, rc.r, rc.b);
    return rc;
}

TEST(CPlayWindowManage, EachSplitShowsItsTilesRowByRow)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(9));
    ASSERT_TRUE(GridTest::ShowAt(&grid, kGridSize, kGridSize));
    struct Case
    {
        int nCount;
        int nCols;
    };
    // Large to small and back, so that tiles of an earlier split must be hidden again.
    const Case cases[] = {{64, 8}, {4, 2}, {1, 1}, {36, 6}, {9, 3}, {25, 5}, {16, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nCount);
        // A current tile other than 0 beforehand: the split makes tile 0 current again.
        grid.onCurWndIndexChange(c.nCount > 1 ? 1 : 0);
        QSignalSpy ability(&grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
        QSignalSpy current(&grid, &CPlayWindowManage::curWndIndexSig);
        ASSERT_TRUE(grid.SetSplit(c.nCount));

        EXPECT_EQ(Visible(grid), Range(c.nCount));
        EXPECT_EQ(grid.GetShowWndNum(), c.nCount);
        EXPECT_EQ(grid.GetSplitState(), c.nCount == 1 ? CPlayWindowManage::SPLIT_ONE : CPlayWindowManage::SPLIT_MANY);
        EXPECT_EQ(grid.GetCurWndIndex(), 0);
        EXPECT_EQ(Highlighted(grid), std::vector<int>{0});
        EXPECT_EQ(current.count(), 0);
        ASSERT_EQ(ability.count(), c.nCount == 1 ? 1 : 0);
        if (c.nCount == 1) {
            EXPECT_EQ(ability.at(0).at(0).toInt(), 0);
        }

        const int nTile = kGridSize / c.nCols;
        auto placed = [&](int i) {
            return grid.GetVideoWnd(i)->geometry() == QRect((i % c.nCols) * nTile, (i / c.nCols) * nTile, nTile, nTile);
        };
        ASSERT_TRUE(WaitUntil([&] {
            for (int i = 0; i < c.nCount; ++i)
                if (!placed(i))
                    return false;
            return true;
        })) << "tile " << c.nCount - 1 << " at " << grid.GetVideoWnd(c.nCount - 1)->geometry().x() << ","
            << grid.GetVideoWnd(c.nCount - 1)->geometry().y();
    }
}

TEST(CPlayWindowManage, TileCountsOutsideTheGridAreRefused)
{
    LogCapture log;
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(4));
    grid.onCurWndIndexChange(2);
    for (int nCount : {0, -1, 65, 1000}) {
        EXPECT_FALSE(grid.SetSplit(nCount)) << nCount;
        EXPECT_EQ(Visible(grid), Range(4));
        EXPECT_EQ(grid.GetShowWndNum(), 4);
        EXPECT_EQ(grid.GetCurWndIndex(), 2);
    }
    EXPECT_TRUE(log.WaitFor("tile count 65 is outside 1-64: refused"));
}

TEST(CPlayWindowManage, CurrentTileChangesWithOneSignal)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(9));
    LogCapture log;
    QSignalSpy current(&grid, &CPlayWindowManage::curWndIndexSig);
    grid.onCurWndIndexChange(4);
    grid.onCurWndIndexChange(4);    // already current: no signal
    grid.onCurWndIndexChange(7);
    ASSERT_EQ(current.count(), 2);
    EXPECT_EQ(current.at(0).at(0).toInt(), 4);
    EXPECT_EQ(current.at(1).at(0).toInt(), 7);
    EXPECT_EQ(Highlighted(grid), std::vector<int>{7});
    EXPECT_TRUE(log.WaitFor("onCurWndIndexChange index=7 curIndex=4"));

    // Full screen shows no highlight; its end shows the current tile's again.
    grid.ClearSelection();
    EXPECT_TRUE(Highlighted(grid).empty());
    grid.RestoreSelection();
    EXPECT_EQ(Highlighted(grid), std::vector<int>{7});
}

// Double clicks, as the surfaces deliver them, on a grid of nSplit tiles.
struct EnlargeCase
{
    const char *pName;
    int nSplit;
    bool bOneTileFirst;     // a split of one tile, double-clicked in vain, before the split
    int nCurrentBefore;     // made current by a press first
    int nSplitBetween;      // a page's split while enlarged (0: none)
    int nFirst, nSecond;    // the tiles double-clicked (-1: no second)
    // after the first double click
    bool bEnlarged;
    std::vector<int> shownAfterFirst;
    int nCurrentAfterFirst;
    std::vector<int> currentSignalsOfFirst;
    std::vector<int> abilitySignalsOfFirst;
    // after the second
    std::vector<int> shownAfterSecond;
    int nCurrentAfterSecond;
    int nStateAfterSecond;
};

TEST(CPlayWindowManage, DoubleClickEnlargesATileAndRestoresTheSplit)
{
    const EnlargeCase cases[] = {
        {"nine, tile 5", 9, false, 0, 0, 5, 5, true, {5}, 5, {5}, {5}, Range(9), 5, CPlayWindowManage::SPLIT_MANY},
        {"nine, tile 5 already current", 9, false, 5, 0, 5, 5, true, {5}, 5, {}, {5}, Range(9), 5,
         CPlayWindowManage::SPLIT_MANY},
        {"one tile: nothing", 1, false, 0, 0, 0, -1, false, {0}, 0, {}, {}, {}, 0, 0},
        {"sixty-four after one", 64, true, 0, 0, 63, 63, true, {63}, 63, {63}, {63}, Range(64), 63,
         CPlayWindowManage::SPLIT_MANY},
        // The enlarged view outlives a page's split: the next double click leaves it.
        {"split while enlarged", 16, false, 0, 4, 9, 2, true, {9}, 9, {9}, {9}, Range(4), 2, CPlayWindowManage::SPLIT_MANY},
    };
    for (const EnlargeCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CPlayWindowManage grid;
        ASSERT_TRUE(grid.SetSplit(c.bOneTileFirst ? 1 : c.nSplit));
        ASSERT_TRUE(GridTest::ShowAt(&grid, kGridSize, kGridSize));
        if (c.bOneTileFirst) {
            QSignalSpy ability(&grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
            GridTest::DoubleClick(grid.GetVideoWnd(0)->GetVideoFrame(), QPoint(20, 20));
            EXPECT_FALSE(grid.IsWndEnlarged());
            EXPECT_EQ(grid.GetSplitState(), CPlayWindowManage::SPLIT_ONE);
            EXPECT_EQ(ability.count(), 0);
            ASSERT_TRUE(grid.SetSplit(c.nSplit));
        }
        if (c.nCurrentBefore != 0) {
            GridTest::Press(grid.GetVideoWnd(c.nCurrentBefore)->GetVideoFrame(), Qt::LeftButton, QPoint(5, 5));
            GridTest::Release(grid.GetVideoWnd(c.nCurrentBefore)->GetVideoFrame(), Qt::LeftButton, QPoint(5, 5));
        }
        ASSERT_TRUE(WaitUntil([&] { return grid.GetVideoWnd(c.nFirst)->GetVideoFrame()->width() > 10; }));

        QSignalSpy current(&grid, &CPlayWindowManage::curWndIndexSig);
        QSignalSpy ability(&grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
        GridTest::DoubleClick(grid.GetVideoWnd(c.nFirst)->GetVideoFrame(), QPoint(20, 20));
        EXPECT_EQ(grid.IsWndEnlarged(), c.bEnlarged);
        EXPECT_EQ(Visible(grid), c.shownAfterFirst);
        EXPECT_EQ(grid.GetCurWndIndex(), c.nCurrentAfterFirst);
        EXPECT_EQ(Highlighted(grid), std::vector<int>{c.nCurrentAfterFirst});
        std::vector<int> signalled, asked;
        for (const QList<QVariant> &args : current)
            signalled.push_back(args.at(0).toInt());
        for (const QList<QVariant> &args : ability)
            asked.push_back(args.at(0).toInt());
        EXPECT_EQ(signalled, c.currentSignalsOfFirst);
        EXPECT_EQ(asked, c.abilitySignalsOfFirst);
        if (!c.bEnlarged)
            continue;
        EXPECT_EQ(grid.GetSplitState(), CPlayWindowManage::SPLIT_ENLARGED);
        // The enlarged tile fills the grid.
        EXPECT_TRUE(WaitUntil([&] { return grid.GetVideoWnd(c.nFirst)->size() == QSize(kGridSize, kGridSize); }));
        if (c.nSplitBetween) {
            ASSERT_TRUE(grid.SetSplit(c.nSplitBetween));
            EXPECT_TRUE(grid.IsWndEnlarged());
        }

        current.clear();
        ability.clear();
        ASSERT_TRUE(WaitUntil([&] { return grid.GetVideoWnd(c.nSecond)->GetVideoFrame()->width() > 10; }));
        GridTest::DoubleClick(grid.GetVideoWnd(c.nSecond)->GetVideoFrame(), QPoint(20, 20));
        EXPECT_FALSE(grid.IsWndEnlarged());
        EXPECT_EQ(Visible(grid), c.shownAfterSecond);
        EXPECT_EQ(grid.GetShowWndNum(), static_cast<int>(c.shownAfterSecond.size()));
        EXPECT_EQ(grid.GetCurWndIndex(), c.nCurrentAfterSecond);
        EXPECT_EQ(Highlighted(grid), std::vector<int>{c.nCurrentAfterSecond});
        EXPECT_EQ(grid.GetSplitState(), c.nStateAfterSecond);
        EXPECT_EQ(ability.count(), 0);
        // Leaving the enlarged view tells nobody: the tile was current already, or was pressed just now.
        for (const QList<QVariant> &args : current)
            EXPECT_EQ(args.at(0).toInt(), c.nSecond);
    }
}

struct SelectionCase
{
    const char *pName;
    int nWidth, nHeight;    // the surface
    Region before;          // the tile's region before (empty: 0, 0, -1, -1)
    QPoint start, end;
    Region after;
};

TEST(CPlayWindowManage, SelectionBecomesADisplayRegionNestedInThePreviousOne)
{
    const SelectionCase cases[] = {
        {"first selection", 400, 200, {0, 0, -1, -1}, {100, 50}, {300, 150}, {2048, 2048, 6144, 6144}},
        {"second selection zooms into the first", 400, 200, {2048, 2048, 6144, 6144}, {0, 0}, {199, 99},
         {2048, 2048, 4096, 4096}},
        {"points in any order", 400, 200, {0, 0, -1, -1}, {300, 50}, {100, 150}, {2048, 2048, 6144, 6144}},
        {"wide surface", 640, 360, {0, 0, -1, -1}, {64, 90}, {480, 300}, {819, 2048, 6144, 6826}},
        {"wide surface, nested", 640, 360, {819, 2048, 6144, 6826}, {320, 180}, {639, 359},
         {3482, 4437, 6145, 6826}},
        {"tall surface", 180, 320, {0, 0, -1, -1}, {45, 0}, {90, 160}, {2048, 0, 4096, 4096}},
        {"nothing left of the region: the whole picture", 400, 200, {100, 100, 101, 101}, {0, 0}, {10, 10},
         {0, 0, 8192, 8192}},
        {"a line: the whole picture", 400, 200, {0, 0, -1, -1}, {50, 20}, {50, 180}, {0, 0, 8192, 8192}},
    };
    for (const SelectionCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CPlayWindowManage grid;
        ASSERT_TRUE(grid.SetSplit(1));
        ASSERT_TRUE(GridTest::ShowAt(&grid, c.nWidth + 2, c.nHeight + 2));
        CVideoFrame *pSurface = grid.GetVideoWnd(0)->GetVideoFrame();
        ASSERT_TRUE(WaitUntil([&] { return pSurface->size() == QSize(c.nWidth, c.nHeight); }));
        grid.GetVideoWnd(0)->SetRegion(c.before.l, c.before.t, c.before.r, c.before.b);
        QSignalSpy zoom(&grid, &CPlayWindowManage::DigitalZoomSig);
        grid.onSelectRegion(grid.GetWndHandle(0), c.start, c.end);
        ASSERT_EQ(zoom.count(), 1);
        EXPECT_EQ(zoom.at(0).at(0).toPoint(), QPoint(c.after.l, c.after.t));
        EXPECT_EQ(zoom.at(0).at(1).toPoint(), QPoint(c.after.r, c.after.b));
        EXPECT_EQ(zoom.at(0).at(2).toInt(), 0);
        EXPECT_EQ(RegionOf(grid, 0), c.after);
    }
}

TEST(CPlayWindowManage, SelectionOnAHandleWithoutASurfaceIsIgnored)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(4));
    QSignalSpy zoom(&grid, &CPlayWindowManage::DigitalZoomSig);
    grid.onSelectRegion(nullptr, QPoint(1, 1), QPoint(50, 50));
    grid.onSelectRegion(reinterpret_cast<void *>(0x7fff1234), QPoint(1, 1), QPoint(50, 50));
    EXPECT_EQ(zoom.count(), 0);
    EXPECT_EQ(RegionOf(grid, 0), (Region{0, 0, -1, -1}));
}

TEST(CPlayWindowManage, PerWindowSettingsReachOneTileOrAll)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(16));
    auto all = [&](auto &&pred) {
        for (int i = 0; i < MAX_WND_NUM; ++i)
            if (!pred(grid.GetVideoWnd(i)))
                return false;
        return true;
    };
    LogCapture log;
    grid.setPreviewStatus(-1, true);
    EXPECT_TRUE(all([](CVideoWnd *p) { return p->GetPreviewStatus(); }));
    grid.setPreviewStatus(3, false);
    EXPECT_FALSE(grid.GetVideoWnd(3)->GetPreviewStatus());
    EXPECT_TRUE(grid.GetVideoWnd(4)->GetPreviewStatus());
    grid.setPreviewStatus(64, false);
    EXPECT_TRUE(all([](CVideoWnd *p) { return !p->GetPreviewStatus(); }));
    EXPECT_TRUE(log.WaitFor("wnd:3 preview:0"));

    // Fit mode: one tile takes the mode; an index outside the grid puts every tile into fill, whatever the mode.
    grid.SetFitMode(5, CVideoWnd::FIT_4_3);
    EXPECT_EQ(grid.GetVideoWnd(5)->GetFitMode(), CVideoWnd::FIT_4_3);
    grid.SetFitMode(-1, CVideoWnd::FIT_4_3);
    EXPECT_TRUE(all([](CVideoWnd *p) { return p->GetFitMode() == -1; }));
    grid.onVideoSizeChange(6);
    EXPECT_EQ(grid.GetVideoWnd(6)->GetFitMode(), CVideoWnd::FIT_SOURCE);
    grid.onVideoSizeChange(-3);
    EXPECT_TRUE(all([](CVideoWnd *p) { return p->GetFitMode() == -1; }));

    // Zoom selection, and its switch on the current tile.
    grid.SetZoomSelect(-1, true);
    EXPECT_TRUE(all([](CVideoWnd *p) { return p->IsZoomSelect(); }));
    grid.GetVideoWnd(7)->SetRegion(1, 2, 3, 4);
    grid.SetZoomSelect(7, false);
    EXPECT_FALSE(grid.GetVideoWnd(7)->IsZoomSelect());
    EXPECT_EQ(RegionOf(grid, 7), (Region{0, 0, -1, -1}));
    grid.onCurWndIndexChange(7);
    EXPECT_FALSE(grid.IsZoomSelect());
    grid.ToggleZoomSelect();
    EXPECT_TRUE(grid.IsZoomSelect());
    grid.GetVideoWnd(7)->SetRegion(1, 2, 3, 4);
    grid.ToggleZoomSelect();
    EXPECT_FALSE(grid.IsZoomSelect());
    EXPECT_EQ(RegionOf(grid, 7), (Region{0, 0, -1, -1}));

    grid.SetPTZElectStatus(100, true);
    EXPECT_TRUE(all([](CVideoWnd *p) { return p->GetPTZElectStatus(); }));
    grid.SetPTZElectStatus(2, false);
    EXPECT_FALSE(grid.GetVideoWnd(2)->GetPTZElectStatus());
    EXPECT_TRUE(grid.GetVideoWnd(1)->GetPTZElectStatus());
    EXPECT_TRUE(log.WaitFor("m_bElect = 0"));

    // The surface handles the pages bind their decode channels to: the tiles' own native windows.
    for (int i : {0, 17, 63}) {
        EXPECT_NE(grid.GetWndHandle(i), nullptr);
        EXPECT_EQ(QWidget::find(reinterpret_cast<WId>(grid.GetWndHandle(i))), grid.GetVideoWnd(i)->GetVideoFrame());
    }
    EXPECT_NE(grid.GetWndHandle(0), grid.GetWndHandle(1));
}

TEST(CPlayWindowManage, OneWindowOperationsRefuseAnIndexOutsideTheGrid)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(9));
    ASSERT_TRUE(GridTest::ShowAt(&grid, 300, 300));
    grid.onCurWndIndexChange(4);
    LogCapture log;
    QSignalSpy current(&grid, &CPlayWindowManage::curWndIndexSig);
    QSignalSpy ability(&grid, &CPlayWindowManage::sig_GetScaleTwoLensAbility);
    for (int nIndex : {-1, 64, 1000, -64}) {
        SCOPED_TRACE(nIndex);
        EXPECT_EQ(grid.GetWndHandle(nIndex), nullptr);
        EXPECT_EQ(grid.GetVideoWnd(nIndex), nullptr);
        EXPECT_FALSE(grid.SetVideoSize(nIndex, 1920, 1080));
        EXPECT_FALSE(grid.ShowScaleSlider(nIndex, true, 8.0f));
        EXPECT_FALSE(grid.SetScaleValue(nIndex, 3.0f));
        grid.onCurWndIndexChange(nIndex);
        grid.onWndDoubleClicked(nIndex);
    }
    EXPECT_EQ(current.count(), 0);
    EXPECT_EQ(ability.count(), 0);
    EXPECT_EQ(grid.GetCurWndIndex(), 4);
    EXPECT_EQ(Highlighted(grid), std::vector<int>{4});
    EXPECT_FALSE(grid.IsWndEnlarged());
    EXPECT_EQ(grid.GetSplitState(), CPlayWindowManage::SPLIT_MANY);
    EXPECT_EQ(Visible(grid), Range(9));
    for (int i = 0; i < MAX_WND_NUM; ++i)
        EXPECT_EQ(grid.GetVideoWnd(i)->GetScaleSlider(), nullptr);
    EXPECT_TRUE(log.WaitFor("window index 1000 is outside 0-63: refused"));

    // Inside the grid they act.
    EXPECT_TRUE(grid.SetVideoSize(2, 1920, 1080));
    EXPECT_TRUE(grid.ShowScaleSlider(2, true, 8.0f));
    EXPECT_TRUE(grid.SetScaleValue(2, 3.0f));
    ASSERT_NE(grid.GetVideoWnd(2)->GetScaleSlider(), nullptr);
    EXPECT_EQ(grid.GetVideoWnd(2)->GetScaleSlider()->value(), 30);
}

TEST(CPlayWindowManage, SkinColoursTheGridAndTheHighlight)
{
    struct Case
    {
        const char *pSkin;
        const char *pStyle;
        QColor border;
    };
    const Case cases[] = {
        {"Black", "#VideoFrame{background-color:rgb(43, 43, 43);}", QColor(196, 0, 34)},
        {"O53", "#VideoFrame{background-color:rgb(24, 39, 58);}", QColor(133, 1, 0)},
        {"White", "#VideoFrame{background-color:rgb(255, 255, 255);}", QColor(18, 144, 255)},
    };
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(4));
    ASSERT_TRUE(GridTest::ShowAt(&grid, 400, 400));
    grid.onCurWndIndexChange(3);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pSkin);
        grid.SetSkin(c.pSkin);
        EXPECT_EQ(grid.findChild<QFrame *>("VideoFrame")->styleSheet(), QString(c.pStyle));
        for (int i : {0, 63})
            EXPECT_EQ(grid.GetVideoWnd(i)->GetBorderColor(), c.border);
        // The ring along the current tile's edge, and none around the others.
        const QImage current = GridTest::Grab(grid.GetVideoWnd(3));
        EXPECT_EQ(QColor(current.pixel(0, 0)), c.border);
        EXPECT_EQ(QColor(current.pixel(current.width() - 1, current.height() / 2)), c.border);
        EXPECT_EQ(QColor(current.pixel(current.width() / 2, current.height() - 1)), c.border);
        EXPECT_NE(QColor(GridTest::Grab(grid.GetVideoWnd(2)).pixel(0, 0)), c.border);
    }
}

TEST(CPlayWindowManage, BackgroundPictureGoesBehindTheFirstTileOnly)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath("back.png");
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(QColor(20, 200, 90));
    ASSERT_TRUE(picture.save(strPath));
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(4));
    ASSERT_TRUE(GridTest::ShowAt(&grid, 400, 400));
    grid.SetBackgroundPic(strPath);
    const QImage first = GridTest::Grab(grid.GetVideoWnd(0)->GetVideoFrame());
    EXPECT_EQ(QColor(first.pixel(first.width() / 2, first.height() / 2)), QColor(20, 200, 90));
    EXPECT_EQ(QColor(GridTest::Grab(grid.GetVideoWnd(1)->GetVideoFrame()).pixel(50, 50)), QColor(0, 0, 0));
    // A path that does not exist draws nothing.
    grid.SetBackgroundPic(dir.filePath("missing.png"));
    EXPECT_EQ(QColor(GridTest::Grab(grid.GetVideoWnd(0)->GetVideoFrame()).pixel(50, 50)), QColor(0, 0, 0));
}

} // namespace
