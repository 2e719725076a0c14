// The video tile: the surface's place for each fit mode, the zoom slider it carries and the ratio it signals.

#include "tests/support/WaitUntil.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CScaleSlider.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// A tile whose inner frame is nWidth x nHeight (the ring takes one pixel on each side).
bool ShowTile(CVideoWnd &tile, int nWidth, int nHeight) { return GridTest::ShowAt(&tile, nWidth + 2, nHeight + 2); }

QRect SurfaceRect(const CVideoWnd &tile) { return tile.GetVideoFrame()->geometry(); }

struct FitCase
{
    const char *pName;
    int W, H;               // the inner frame
    int nMode;
    int vw, vh;             // the source picture (0: not given)
    QRect surface;          // inside the inner frame
};

TEST(CVideoWnd, FitModesPlaceTheSurfaceInsideTheFrame)
{
    const FitCase cases[] = {
        {"source aspect, wide picture in a square", 400, 400, 1, 1920, 1080, QRect(0, 87, 400, 225)},
        {"source aspect, tall picture in a square", 400, 400, 1, 1080, 1920, QRect(87, 0, 225, 400)},
        {"source aspect, the frame's own proportion", 640, 360, 1, 1920, 1080, QRect(0, 0, 640, 360)},
        {"16:9 in a square", 300, 300, 3, 0, 0, QRect(0, 66, 300, 168)},
        {"4:3 in a wide frame", 800, 300, 2, 0, 0, QRect(200, 0, 400, 300)},
        {"4:3 in a square", 300, 300, 2, 0, 0, QRect(0, 37, 300, 225)},
        {"fill", 300, 200, 0, 1920, 1080, QRect(0, 0, 300, 200)},
        {"another mode value fills", 300, 200, 7, 0, 0, QRect(0, 0, 300, 200)},
        {"source aspect without a size fills", 300, 200, 1, 0, 0, QRect(0, 0, 300, 200)},
        {"source aspect with a size of 0 x 0 fills", 300, 200, 1, -2, -2, QRect(0, 0, 300, 200)},
    };
    for (const FitCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CVideoWnd tile(nullptr, 3);
        ASSERT_TRUE(ShowTile(tile, c.W, c.H));
        if (c.vw > 0)
            tile.SetVideoSize(c.vw, c.vh);
        else if (c.vw == -2)
            tile.SetVideoSize(0, 0);
        tile.SetFitMode(c.nMode);
        EXPECT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == c.surface; }))
            << SurfaceRect(tile).x() << "," << SurfaceRect(tile).y() << " " << SurfaceRect(tile).width() << "x"
            << SurfaceRect(tile).height();
    }
}

TEST(CVideoWnd, FillForgetsTheSourceSizeAndTheSurfaceFollowsTheTile)
{
    CVideoWnd tile(nullptr, 0);
    ASSERT_TRUE(ShowTile(tile, 400, 400));
    tile.SetVideoSize(1920, 1080);
    tile.SetFitMode(CVideoWnd::FIT_SOURCE);
    ASSERT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(0, 87, 400, 225); }));
    tile.SetFitMode(CVideoWnd::FIT_FILL);
    ASSERT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(0, 0, 400, 400); }));
    // The size was forgotten: source aspect fills until a size is given again.
    tile.SetFitMode(CVideoWnd::FIT_SOURCE);
    ASSERT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(0, 0, 400, 400); }));
    tile.SetVideoSize(1920, 1080);
    EXPECT_EQ(SurfaceRect(tile), QRect(0, 0, 400, 400));    // no refit by the size alone
    tile.SetFitMode(CVideoWnd::FIT_SOURCE);
    ASSERT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(0, 87, 400, 225); }));

    // A letterboxed surface neither holds the tile at its old size nor keeps its old place.
    tile.SetFitMode(CVideoWnd::FIT_4_3);
    ASSERT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(0, 50, 400, 300); }));
    tile.resize(802, 302);
    EXPECT_TRUE(WaitUntil([&] { return SurfaceRect(tile) == QRect(200, 0, 400, 300); }));
    tile.resize(102, 52);
    EXPECT_TRUE(WaitUntil([&] { return tile.size() == QSize(102, 52) && SurfaceRect(tile) == QRect(17, 0, 66, 50); }))
        << SurfaceRect(tile).x() << "," << SurfaceRect(tile).y() << " " << SurfaceRect(tile).width() << "x"
        << SurfaceRect(tile).height();
}

struct SliderPlaceCase
{
    const char *pName;
    int nTileWidth, nTileHeight;
    float fMaxTimes;
    QRect slider;
    int nMaximum;
};

TEST(CVideoWnd, ScaleSliderLiesCentredAboveTheBottomEdge)
{
    const SliderPlaceCase cases[] = {
        {"8.0", 300, 200, 8.0f, QRect(45, 120, 210, 35), 70},
        {"1.5", 300, 200, 1.5f, QRect(50, 185, 200, 2), 5},
        // 2/3 of 400 is 266, rounded up to the next multiple of 30 steps.
        {"4.0 on a wider tile", 400, 300, 4.0f, QRect(65, 260, 270, 15), 30},
        // 1.3 is a little below 1.3 as a float; it still has its three steps.
        {"1.3", 300, 200, 1.3f, QRect(49, 187, 201, 1), 3},
    };
    for (const SliderPlaceCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CVideoWnd tile(nullptr, 6);
        ASSERT_TRUE(GridTest::ShowAt(&tile, c.nTileWidth, c.nTileHeight));
        tile.ShowScaleSlider(true, c.fMaxTimes);
        CScaleSlider *pSlider = tile.GetScaleSlider();
        ASSERT_NE(pSlider, nullptr);
        EXPECT_EQ(pSlider->geometry(), c.slider);
        EXPECT_TRUE(pSlider->isVisible());
        EXPECT_EQ(pSlider->maximum(), c.nMaximum);
        EXPECT_EQ(pSlider->GetWndIndex(), 6);
    }
}

TEST(CVideoWnd, ScaleSliderKeepsItsMaximumAndFollowsTheTile)
{
    CVideoWnd tile(nullptr, 2);
    ASSERT_TRUE(GridTest::ShowAt(&tile, 300, 200));
    tile.ShowScaleSlider(false, 0.0f);
    EXPECT_EQ(tile.GetScaleSlider(), nullptr);
    tile.ShowScaleSlider(true, 8.0f);
    CScaleSlider *pSlider = tile.GetScaleSlider();
    ASSERT_NE(pSlider, nullptr);
    tile.ShowScaleSlider(false, 0.0f);
    EXPECT_FALSE(pSlider->isVisible());
    // Made once: a later maximum changes nothing.
    tile.ShowScaleSlider(true, 4.0f);
    EXPECT_EQ(tile.GetScaleSlider(), pSlider);
    EXPECT_TRUE(pSlider->isVisible());
    EXPECT_EQ(pSlider->maximum(), 70);
    EXPECT_EQ(pSlider->geometry(), QRect(45, 120, 210, 35));
    tile.resize(600, 400);
    EXPECT_TRUE(WaitUntil([&] { return pSlider->geometry() == QRect(90, 320, 420, 35); }));

    // The ratio in tenths; a float a little below its value still counts.
    struct ValueCase
    {
        float fRatio;
        int nValue;
    };
    for (const ValueCase &v : {ValueCase{3.0f, 30}, ValueCase{2.3f, 23}, ValueCase{0.0f, 0}, ValueCase{7.0f, 70},
                               ValueCase{9.5f, 70}}) {
        tile.SetScaleValue(v.fRatio);
        EXPECT_EQ(pSlider->value(), v.nValue) << v.fRatio;
    }
}

TEST(CVideoWnd, CameraWithoutAZoomRangeGetsNoSlider)
{
    for (float fMax : {1.09f, 1.0f, 0.5f, 0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()}) {
        SCOPED_TRACE(fMax);
        CVideoWnd tile(nullptr, 0);
        ASSERT_TRUE(GridTest::ShowAt(&tile, 300, 200));
        tile.ShowScaleSlider(true, fMax);
        EXPECT_EQ(tile.GetScaleSlider(), nullptr);
        tile.SetScaleValue(2.0f);
        // Another camera in the same tile: its slider is hidden again for one without a range.
        tile.ShowScaleSlider(true, 2.0f);
        ASSERT_NE(tile.GetScaleSlider(), nullptr);
        EXPECT_TRUE(tile.GetScaleSlider()->isVisible());
        tile.ShowScaleSlider(true, fMax);
        EXPECT_FALSE(tile.GetScaleSlider()->isVisible());
        tile.resize(400, 300);
        EXPECT_TRUE(WaitUntil([&] { return tile.size() == QSize(400, 300); }));
    }
}

TEST(CVideoWnd, SliderMovesSignalTheChosenRatio)
{
    CVideoWnd tile(nullptr, 5);
    ASSERT_TRUE(GridTest::ShowAt(&tile, 300, 200));
    tile.ShowScaleSlider(true, 8.0f);
    CScaleSlider *pSlider = tile.GetScaleSlider();
    ASSERT_NE(pSlider, nullptr);
    QSignalSpy times(&tile, &CVideoWnd::sig_SetScaleTwoLensTimes);
    auto last = [&] { return std::make_pair(times.last().at(0).toFloat(), times.last().at(1).toInt()); };

    // A press jumps to the pointer and holds the slider down; the release sends the ratio.
    const int x = 150;
    const int nExpected = QStyle::sliderValueFromPosition(0, 70, x, pSlider->width(), false);
    GridTest::Press(pSlider, Qt::LeftButton, QPoint(x, pSlider->height() / 2));
    EXPECT_TRUE(pSlider->isSliderDown());
    EXPECT_EQ(pSlider->value(), nExpected);
    EXPECT_EQ(times.count(), 0);
    GridTest::Release(pSlider, Qt::LeftButton, QPoint(x, pSlider->height() / 2));
    EXPECT_FALSE(pSlider->isSliderDown());
    ASSERT_EQ(times.count(), 1);
    EXPECT_FLOAT_EQ(last().first, nExpected / 10.0f);
    EXPECT_EQ(last().second, 5);

    // Arrow keys: the ratio once the key is let go.
    pSlider->setFocus();
    pSlider->setValue(20);
    times.clear();
    QTest::keyClick(pSlider, Qt::Key_Right);
    ASSERT_EQ(times.count(), 1);
    EXPECT_FLOAT_EQ(last().first, 2.1f);
    QTest::keyClick(pSlider, Qt::Key_A);
    EXPECT_EQ(times.count(), 1);

    // The wheel: the ratio sent is the one the slider moved to, not the one before.
    pSlider->setValue(40);
    times.clear();
    QWheelEvent wheel(QPointF(10, 5), QPointF(pSlider->mapToGlobal(QPoint(10, 5))), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(pSlider, &wheel);
    ASSERT_NE(pSlider->value(), 40);
    ASSERT_TRUE(WaitUntil([&] { return times.count() == 1; }));
    EXPECT_FLOAT_EQ(last().first, pSlider->value() / 10.0f);
}

} // namespace
