// The video surface's mouse vocabulary, with real mouse input through its native window: activation, the
// rubber-band selection and what drops it, the right-click exits and the double click; and the same input on a
// grid, which turns it into the current tile, a display region and the enlarged view.

#include "tests/support/LogCapture.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every signal of a tile, in the order it came, as text.
class TileSignals
{
public:
    explicit TileSignals(CVideoWnd &tile)
    {
        QObject::connect(&tile, &CVideoWnd::activeWnd, [this](int n) { Add("active " + std::to_string(n)); });
        QObject::connect(&tile, &CVideoWnd::doubleClicked, [this](int n) { Add("double " + std::to_string(n)); });
        QObject::connect(&tile, &CVideoWnd::quitDigitalZoom, [this](int n) { Add("quitZoom " + std::to_string(n)); });
        QObject::connect(&tile, &CVideoWnd::quitPTZElect, [this](int n) { Add("quitPTZ " + std::to_string(n)); });
        QObject::connect(&tile, &CVideoWnd::sig_selectRegion, [this, &tile](void *h, QPoint a, QPoint b) {
            Add("select " + Handle(tile, h) + Points(a, b));
        });
        QObject::connect(&tile, &CVideoWnd::sig_RectanglePoint, [this, &tile](void *h, QPoint a, QPoint b) {
            Add("band " + Handle(tile, h) + Points(a, b));
        });
    }

    const std::vector<std::string> &All() const { return m_all; }
    // The signals other than the rubber band's ticks while dragging.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> events;
        for (const std::string &s : m_all)
            if (s.rfind("band", 0) != 0 || s.find("(0,0)-(0,0)") != std::string::npos)
                events.push_back(s);
        return events;
    }
    int Count(const std::string &strPrefix) const
    {
        int n = 0;
        for (const std::string &s : m_all)
            n += s.rfind(strPrefix, 0) == 0 ? 1 : 0;
        return n;
    }
    void Clear() { m_all.clear(); }

private:
    void Add(const std::string &s) { m_all.push_back(s); }
    static std::string Handle(CVideoWnd &tile, void *h) { return h == tile.GetVideoHwnd() ? "hwnd " : "other "; }
    static std::string Points(QPoint a, QPoint b)
    {
        return "(" + std::to_string(a.x()) + "," + std::to_string(a.y()) + ")-(" + std::to_string(b.x()) + "," +
               std::to_string(b.y()) + ")";
    }
    std::vector<std::string> m_all;
};

class VideoFrameMouse : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GridTest::ShowAt(&m_tile, 402, 202));
        m_pSurface = m_tile.GetVideoFrame();
        ASSERT_TRUE(WaitUntil([&] { return m_pSurface->size() == QSize(400, 200); }));
    }

    void Drag(QPoint from, QPoint to)
    {
        GridTest::Press(m_pSurface, Qt::LeftButton, from);
        GridTest::Move(m_pSurface, to);
    }

    CVideoWnd m_tile{nullptr, 9};
    CVideoFrame *m_pSurface = nullptr;
};

TEST_F(VideoFrameMouse, DragOnAPreviewingTileSelectsARegion)
{
    m_tile.SetPreviewStatus(true);
    LogCapture log;
    TileSignals seen(m_tile);
    Drag(QPoint(40, 30), QPoint(200, 120));
    EXPECT_EQ(seen.Events(), std::vector<std::string>{"active 9"});
    // Every 10 ms while the button is down, the band from the press to the pointer.
    ASSERT_TRUE(WaitUntil([&] { return seen.Count("band hwnd (40,30)-(200,120)") >= 2; }));
    GridTest::Move(m_pSurface, QPoint(250, 150));
    ASSERT_TRUE(WaitUntil([&] { return seen.Count("band hwnd (40,30)-(250,150)") >= 1; }));
    GridTest::Release(m_pSurface, Qt::LeftButton, QPoint(250, 150));
    EXPECT_EQ(seen.Events(), (std::vector<std::string>{"active 9", "select hwnd (40,30)-(250,150)",
                                                          "band hwnd (0,0)-(0,0)"}));
    EXPECT_EQ(seen.All().back(), "band hwnd (0,0)-(0,0)");
    EXPECT_FALSE(m_tile.IsZoomSelect());
    EXPECT_TRUE(log.WaitFor("draw region start.x=40 end.x=250 start.y=30 end.y=150"));

    // The pointer is held to the surface; the ends go unordered to the grid.
    seen.Clear();
    Drag(QPoint(300, 150), QPoint(5000, -40));
    GridTest::Move(m_pSurface, QPoint(-80, 5000));
    GridTest::Release(m_pSurface, Qt::LeftButton, QPoint(-80, 5000));
    EXPECT_EQ(seen.Events(), (std::vector<std::string>{"active 9", "select hwnd (300,150)-(0,200)",
                                                          "band hwnd (0,0)-(0,0)"}));
}

TEST_F(VideoFrameMouse, SmallOrStillSelectionsAreDropped)
{
    m_tile.SetPreviewStatus(true);
    TileSignals seen(m_tile);
    struct Case
    {
        QPoint from, to;
        bool bMove;
    };
    // 50 x 5 and 5 x 50 pixels, and a click without a move.
    for (const Case &c : {Case{{100, 100}, {150, 105}, true}, Case{{100, 100}, {105, 150}, true},
                          Case{{100, 100}, {100, 100}, false}}) {
        seen.Clear();
        GridTest::Press(m_pSurface, Qt::LeftButton, c.from);
        if (c.bMove)
            GridTest::Move(m_pSurface, c.to);
        GridTest::Release(m_pSurface, Qt::LeftButton, c.to);
        EXPECT_EQ(seen.Events(), std::vector<std::string>{"active 9"}) << c.to.x() << "," << c.to.y();
        // Still armed for the next drag.
        EXPECT_TRUE(m_tile.IsZoomSelect());
    }
}

TEST_F(VideoFrameMouse, TileWithoutVideoSelectsNothing)
{
    m_tile.SetZoomSelect(true);
    TileSignals seen(m_tile);
    Drag(QPoint(40, 30), QPoint(200, 120));
    GridTest::Release(m_pSurface, Qt::LeftButton, QPoint(200, 120));
    GridTest::Press(m_pSurface, Qt::RightButton, QPoint(60, 60));
    GridTest::Release(m_pSurface, Qt::RightButton, QPoint(60, 60));
    // Then the same drag once the tile shows video: its first band comes 10 ms after its press, so a band of the
    // drag before would have come by then.
    m_tile.SetPreviewStatus(true);
    Drag(QPoint(41, 31), QPoint(201, 121));
    ASSERT_TRUE(WaitUntil([&] { return seen.Count("band") > 0; }));
    GridTest::Release(m_pSurface, Qt::LeftButton, QPoint(201, 121));
    EXPECT_EQ(seen.All().front(), "active 9");
    EXPECT_EQ(seen.All().at(1), "active 9");
    EXPECT_EQ(seen.All().at(2), "active 9");
    EXPECT_EQ(seen.All().at(3), "band hwnd (41,31)-(201,121)");
    EXPECT_EQ(seen.Count("select"), 1);
    EXPECT_EQ(seen.Count("quitZoom"), 0);
}

TEST_F(VideoFrameMouse, RightClickLeavesDigitalZoomAndElectronicPTZ)
{
    m_tile.SetPreviewStatus(true);
    m_tile.SetZoomSelect(true);
    m_tile.SetRegion(2048, 2048, 6144, 6144);
    TileSignals seen(m_tile);
    GridTest::Press(m_pSurface, Qt::RightButton, QPoint(60, 60));
    GridTest::Release(m_pSurface, Qt::RightButton, QPoint(60, 60));
    EXPECT_EQ(seen.Events(), (std::vector<std::string>{"quitZoom 9", "active 9"}));
    EXPECT_FALSE(m_tile.IsZoomSelect());
    int l, t, r, b;
    m_tile.GetRegion(l, t, r, b);
    EXPECT_EQ((std::vector<int>{l, t, r, b}), (std::vector<int>{0, 0, -1, -1}));

    // Electronic PTZ: the tile is not previewing (no zoom to leave), the first right click ends it.
    m_tile.SetPreviewStatus(false);
    m_tile.SetPTZElectStatus(true);
    seen.Clear();
    for (int i = 0; i < 2; ++i) {
        GridTest::Press(m_pSurface, Qt::RightButton, QPoint(60, 60));
        GridTest::Release(m_pSurface, Qt::RightButton, QPoint(60, 60));
    }
    EXPECT_EQ(seen.Events(), (std::vector<std::string>{"quitPTZ 9", "active 9", "active 9"}));
    EXPECT_FALSE(m_tile.GetPTZElectStatus());
}

TEST_F(VideoFrameMouse, DoubleClickActivatesThenSignals)
{
    TileSignals seen(m_tile);
    GridTest::DoubleClick(m_pSurface, QPoint(100, 100));
    // The first click's press, then the double click.
    EXPECT_EQ(seen.Events(), (std::vector<std::string>{"active 9", "active 9", "double 9"}));
}

TEST(GridMouse, DragZoomsTheTileItBecomesCurrentIn)
{
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(4));
    ASSERT_TRUE(GridTest::ShowAt(&grid, 804, 404));
    grid.setPreviewStatus(-1, true);
    CVideoFrame *pSurface = grid.GetVideoWnd(2)->GetVideoFrame();
    ASSERT_TRUE(WaitUntil([&] { return pSurface->size() == QSize(400, 200); }));
    QSignalSpy current(&grid, &CPlayWindowManage::curWndIndexSig);
    QSignalSpy zoom(&grid, &CPlayWindowManage::DigitalZoomSig);
    QSignalSpy quit(&grid, &CPlayWindowManage::quitDigitalZoom);

    GridTest::Press(pSurface, Qt::LeftButton, QPoint(300, 150));
    GridTest::Move(pSurface, QPoint(100, 50));
    GridTest::Release(pSurface, Qt::LeftButton, QPoint(100, 50));
    ASSERT_EQ(current.count(), 1);
    EXPECT_EQ(current.at(0).at(0).toInt(), 2);
    ASSERT_EQ(zoom.count(), 1);
    EXPECT_EQ(zoom.at(0).at(0).toPoint(), QPoint(2048, 2048));
    EXPECT_EQ(zoom.at(0).at(1).toPoint(), QPoint(6144, 6144));
    EXPECT_EQ(zoom.at(0).at(2).toInt(), 2);
    // The next drag zooms further into that region.
    GridTest::Press(pSurface, Qt::LeftButton, QPoint(1, 1));
    GridTest::Move(pSurface, QPoint(200, 100));
    GridTest::Release(pSurface, Qt::LeftButton, QPoint(200, 100));
    ASSERT_EQ(zoom.count(), 2);
    EXPECT_EQ(zoom.at(1).at(0).toPoint(), QPoint(2058, 2068));
    EXPECT_EQ(zoom.at(1).at(1).toPoint(), QPoint(4106, 4116));

    // A right click leaves the zoom; the grid passes it on with the tile's index.
    GridTest::Press(pSurface, Qt::RightButton, QPoint(10, 10));
    GridTest::Release(pSurface, Qt::RightButton, QPoint(10, 10));
    ASSERT_EQ(quit.count(), 1);
    EXPECT_EQ(quit.at(0).at(0).toInt(), 2);
    int l, t, r, b;
    grid.GetVideoWnd(2)->GetRegion(l, t, r, b);
    EXPECT_EQ((std::vector<int>{l, t, r, b}), (std::vector<int>{0, 0, -1, -1}));
    EXPECT_EQ(current.count(), 1);
}

} // namespace
