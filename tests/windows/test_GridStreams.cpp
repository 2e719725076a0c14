// The tile grid with live video: each tile shows the channel whose decode channel draws into it, the rubber band
// appears on the picture while dragging and is gone with the next picture after the release.

#include "device/CQZConnect.h"
#include "tests/support/PavlineFixture.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QGuiApplication>
#include <QSignalSpy>

#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

class GridStreamTest : public PavlineFixture
{
protected:
    void SetUp() override
    {
        PavlineFixture::SetUp();
        UseDevices(GridTest::SmallSubStreamDevice());
    }

    // A grid of nTiles (a square count) whose tiles' surfaces are the stream's size; tile i shows the channel
    // nChannelOf(i). True when every tile shows its own channel's pattern.
    void ExpectTilesShowTheirChannels(int nTiles, int (*nChannelOf)(int))
    {
        const int lLogin = LoginBuiltIn();
        ASSERT_GT(lLogin, 0);
        int nCols = 1;
        while ((nCols + 1) * (nCols + 1) <= nTiles)
            ++nCols;
        CPlayWindowManage grid;
        ASSERT_TRUE(grid.SetSplit(nTiles));
        // One pixel of ring around each surface.
        ASSERT_TRUE(GridTest::ShowAt(&grid, nCols * (GridTest::kStreamWidth + 2), nCols * (GridTest::kStreamHeight + 2)));
        GridTest::LiveStreams streams(lLogin);
        for (int i = 0; i < nTiles; ++i)
            ASSERT_TRUE(streams.Start(nChannelOf(i), grid.GetWndHandle(i))) << "tile " << i;

        auto shown = [&](int i) { return GridTest::ChannelShown(GridTest::Grab(grid.GetVideoWnd(i)->GetVideoFrame()), 16); };
        const bool bAll = WaitUntil([&] {
            for (int i = 0; i < nTiles; ++i)
                if (shown(i) != nChannelOf(i))
                    return false;
            return true;
        }, 30000);
        if (!bAll) {
            std::ostringstream out;
            for (int i = 0; i < nTiles; ++i)
                out << " tile " << i << ": channel " << shown(i) << " (wanted " << nChannelOf(i) << ", "
                    << streams.VideoBlocks(nChannelOf(i)) << " blocks)";
            ADD_FAILURE() << out.str();
        }
        for (int i = 0; i < nTiles; ++i) {
            const QImage picture = GridTest::Grab(grid.GetVideoWnd(i)->GetVideoFrame());
            EXPECT_EQ(picture.size(), QSize(GridTest::kStreamWidth, GridTest::kStreamHeight)) << "tile " << i;
            EXPECT_TRUE(GridTest::ShowsPattern(picture)) << "tile " << i;
        }
        streams.StopAll();
    }
};

int Scrambled(int i) { return (i * 5 + 3) % 16; }

TEST_F(GridStreamTest, SixteenTilesEachShowTheirOwnChannel)
{
    ExpectTilesShowTheirChannels(16, Scrambled);
}

bool IsBandRed(const QColor &c) { return c.red() > 200 && c.green() < 70 && c.blue() < 70; }

TEST_F(GridStreamTest, RubberBandIsDrawnOnThePictureWhileDragging)
{
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    CPlayWindowManage grid;
    ASSERT_TRUE(grid.SetSplit(1));
    ASSERT_TRUE(GridTest::ShowAt(&grid, GridTest::kStreamWidth + 2, GridTest::kStreamHeight + 2));
    CVideoFrame *pSurface = grid.GetVideoWnd(0)->GetVideoFrame();
    GridTest::LiveStreams streams(lLogin);
    ASSERT_TRUE(streams.Start(0, grid.GetWndHandle(0)));
    grid.setPreviewStatus(0, true);
    ASSERT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GridTest::Grab(pSurface), 16) == 0; }, 20000));

    // One point on each edge of the band from (40, 30) to (150, 120), on bars that have no red of their own.
    const std::vector<QPoint> edges = {{100, 30}, {40, 75}, {150, 75}, {100, 120}};
    auto bandShown = [&](bool bWanted) {
        const QImage picture = GridTest::Grab(pSurface);
        for (const QPoint &p : edges)
            if (IsBandRed(picture.pixelColor(p)) != bWanted)
                return false;
        return GridTest::ShowsPattern(picture);
    };
    ASSERT_TRUE(bandShown(false));
    QSignalSpy zoom(&grid, &CPlayWindowManage::DigitalZoomSig);
    GridTest::Press(pSurface, Qt::LeftButton, QPoint(40, 30));
    GridTest::Move(pSurface, QPoint(150, 120));
    EXPECT_TRUE(WaitUntil([&] { return bandShown(true); }, 10000));
    // Inside the band the picture stays as it is.
    EXPECT_FALSE(IsBandRed(GridTest::Grab(pSurface).pixelColor(95, 75)));
    GridTest::Release(pSurface, Qt::LeftButton, QPoint(150, 120));
    ASSERT_EQ(zoom.count(), 1);
    // The next picture draws over the last band.
    EXPECT_TRUE(WaitUntil([&] { return bandShown(false); }, 10000));
    streams.StopAll();
}

// The same with four tiles on whatever platform the test runs on; CTest runs it once more on an X server.
using GridOnDisplay = GridStreamTest;

TEST_F(GridOnDisplay, FourTilesEachShowTheirOwnChannel)
{
    const char *pExpected = std::getenv("QUORRIN_EXPECT_QPA");
    if (pExpected && *pExpected) {
        ASSERT_EQ(QGuiApplication::platformName().toStdString(), std::string(pExpected));
    }
    ExpectTilesShowTheirChannels(4, [](int i) { return 12 - 3 * i; });
}

} // namespace
