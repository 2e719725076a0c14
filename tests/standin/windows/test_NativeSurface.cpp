// Native-window surfaces and the drawing contexts of the gdi32 calls: found by handle, painted in the widget's
// paint event, drawn into with pens from any thread.

#include "platform/winapi.h"
#include "standin/windows/GdiObjects.h"
#include "standin/windows/NativeSurface.h"
#include "tests/support/WaitUntil.h"

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

std::unique_ptr<QWidget> NativeWidget(int w, int h)
{
    auto pWidget = std::make_unique<QWidget>();
    pWidget->setAttribute(Qt::WA_NativeWindow);
    pWidget->setAutoFillBackground(true);
    QPalette palette = pWidget->palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    pWidget->setPalette(palette);
    pWidget->resize(w, h);
    pWidget->show();
    QCoreApplication::processEvents();
    return pWidget;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int nPaints = 0;

protected:
    bool eventFilter(QObject *, QEvent *pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            ++nPaints;
        return false;
    }
};

HWND HandleOf(QWidget *pWidget) { return reinterpret_cast<HWND>(pWidget->winId()); }

QImage Grab(QWidget *pWidget) { return pWidget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// What the screen shows of the widget's native window: what was flushed to it, not what the widget would paint.
QImage OnScreen(QWidget *pWidget)
{
    return QGuiApplication::primaryScreen()->grabWindow(pWidget->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// The rubber band as the tile grid draws it: start corner, (start x, current y), current corner,
// (current x, start y), start corner.
void Band(HDC hDC, int x0, int y0, int x1, int y1)
{
    MoveToEx(hDC, x0, y0, nullptr);
    LineTo(hDC, x0, y1);
    LineTo(hDC, x1, y1);
    LineTo(hDC, x1, y0);
    LineTo(hDC, x0, y0);
}

TEST(NativeSurface, RubberBandIsPaintedInThePaintEvent)
{
    auto pWidget = NativeWidget(320, 240);
    // Nothing drawn yet: the widget paints itself.
    EXPECT_EQ(Grab(pWidget.get()).pixelColor(160, 120), QColor(10, 200, 30));

    // Found by its handle alone.
    HDC hDC = GetWindowDC(HandleOf(pWidget.get()));
    ASSERT_NE(hDC, nullptr);
    HPEN hPen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    ASSERT_NE(hPen, nullptr);
    HGDIOBJ hOld = SelectObject(hDC, hPen);
    EXPECT_EQ(hOld, GdiObjects::StockBlackPen());
    Band(hDC, 40, 30, 200, 150);
    EXPECT_EQ(SelectObject(hDC, hOld), hPen);
    EXPECT_EQ(ReleaseDC(HandleOf(pWidget.get()), hDC), 1);
    EXPECT_EQ(DeleteObject(hPen), 1);

    const QImage image = Grab(pWidget.get());
    for (QPoint p : {QPoint(40, 90), QPoint(120, 150), QPoint(200, 90), QPoint(120, 30)})
        EXPECT_EQ(image.pixelColor(p), QColor(255, 0, 0)) << p.x() << "," << p.y();
    // Inside and outside the band: the surface, not the widget's own background, and not the pen.
    EXPECT_EQ(image.pixelColor(120, 90), QColor(0, 0, 0));
    EXPECT_EQ(image.pixelColor(300, 200), QColor(0, 0, 0));
}

TEST(NativeSurface, PensKeepTheirColourReferenceAndStaleHandlesFail)
{
    auto pWidget = NativeWidget(100, 100);
    HPEN hBlue = CreatePen(PS_SOLID, 4, 0x00FF0000);
    int nStyle = -1, nWidth = -1;
    COLORREF crColor = 0;
    ASSERT_TRUE(GdiObjects::PenOf(hBlue, nStyle, nWidth, crColor));
    EXPECT_EQ(nStyle, PS_SOLID);
    EXPECT_EQ(nWidth, 4);
    EXPECT_EQ(crColor, 0x00FF0000u);
    EXPECT_EQ(GetRValue(crColor), 0);
    EXPECT_EQ(GetBValue(crColor), 255);

    HDC hDC = GetWindowDC(HandleOf(pWidget.get()));
    ASSERT_NE(hDC, nullptr);
    SelectObject(hDC, hBlue);
    // A pen in use is not deleted.
    EXPECT_EQ(DeleteObject(hBlue), 0);
    POINT previous{-1, -1};
    EXPECT_EQ(MoveToEx(hDC, 10, 50, &previous), 1);
    EXPECT_EQ(previous.x, 0);
    EXPECT_EQ(previous.y, 0);
    EXPECT_EQ(LineTo(hDC, 90, 50), 1);
    EXPECT_EQ(MoveToEx(hDC, 0, 0, &previous), 1);
    EXPECT_EQ(previous.x, 90);
    EXPECT_EQ(previous.y, 50);
    // A line from a point to itself leaves nothing.
    EXPECT_EQ(LineTo(hDC, 0, 0), 1);
    SelectObject(hDC, GdiObjects::StockBlackPen());
    EXPECT_EQ(DeleteObject(hBlue), 1);
    EXPECT_EQ(ReleaseDC(HandleOf(pWidget.get()), hDC), 1);

    const QImage image = Grab(pWidget.get());
    EXPECT_EQ(image.pixelColor(50, 50), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(50, 48), QColor(0, 0, 255));     // four pixels wide
    EXPECT_EQ(image.pixelColor(50, 51), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(50, 53), QColor(0, 0, 0));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 0));

    // Handles given back, deleted or never made are refused.
    EXPECT_EQ(LineTo(hDC, 5, 5), 0);
    EXPECT_EQ(MoveToEx(hDC, 5, 5, nullptr), 0);
    EXPECT_EQ(ReleaseDC(HandleOf(pWidget.get()), hDC), 0);
    EXPECT_EQ(DeleteObject(hBlue), 0);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x1234), GdiObjects::StockBlackPen()), nullptr);
    EXPECT_EQ(GetWindowDC(reinterpret_cast<HWND>(0x7FFFFFF0)), nullptr);
    EXPECT_EQ(GetWindowDC(nullptr), nullptr);
    EXPECT_EQ(CreatePen(9, 1, 0), nullptr);
    EXPECT_EQ(GdiObjects::ContextCount(), 0);
}

TEST(NativeSurface, FollowsTheWidgetSizeAndOutlivesIt)
{
    auto pWidget = NativeWidget(200, 100);
    std::shared_ptr<NativeSurface> pSurface = NativeSurface::Attach(pWidget.get());
    ASSERT_TRUE(pSurface);
    EXPECT_EQ(NativeSurface::Find(HandleOf(pWidget.get())), pSurface);
    EXPECT_EQ(pSurface->Size(), QSize(200, 100));
    const uint64_t nGeneration = pSurface->SizeGeneration();
    pWidget->resize(300, 150);
    QCoreApplication::processEvents();
    EXPECT_EQ(pSurface->Size(), QSize(300, 150));
    EXPECT_NE(pSurface->SizeGeneration(), nGeneration);

    // A picture presented at the old size is scaled to the new one.
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 200));
    pSurface->Present(picture);
    const QImage image = Grab(pWidget.get());
    EXPECT_EQ(image.size(), QSize(300, 150));
    EXPECT_EQ(image.pixelColor(290, 140), QColor(0, 0, 200));
    pSurface->Clear();
    EXPECT_EQ(Grab(pWidget.get()).pixelColor(150, 75), QColor(10, 200, 30));

    const HWND hWnd = HandleOf(pWidget.get());
    HDC hDC = GetWindowDC(hWnd);
    ASSERT_NE(hDC, nullptr);
    pWidget.reset();
    // The window is gone: its handle finds nothing; a context still held draws harmlessly.
    EXPECT_FALSE(pSurface->HasWidget());
    EXPECT_EQ(NativeSurface::Find(hWnd), nullptr);
    EXPECT_EQ(LineTo(hDC, 10, 10), 1);
    EXPECT_EQ(ReleaseDC(hWnd, hDC), 1);
}

TEST(NativeSurface, OtherThreadsDrawAndAskForARepaint)
{
    auto pWidget = NativeWidget(160, 120);
    const HWND hWnd = HandleOf(pWidget.get());
    // Off the GUI thread a window is found only once its surface exists.
    HDC hEarly = reinterpret_cast<HDC>(1);
    std::thread([&] { hEarly = GetWindowDC(hWnd); }).join();
    EXPECT_EQ(hEarly, nullptr);
    ASSERT_TRUE(NativeSurface::Attach(pWidget.get()));
    QCoreApplication::processEvents();
    PaintCounter counter;
    pWidget->installEventFilter(&counter);

    std::thread([&] {
        HDC hDC = GetWindowDC(hWnd);
        HPEN hPen = CreatePen(PS_SOLID, 3, RGB(0, 255, 0));
        SelectObject(hDC, hPen);
        MoveToEx(hDC, 0, 60, nullptr);
        LineTo(hDC, 160, 60);
        SelectObject(hDC, GdiObjects::StockBlackPen());
        DeleteObject(hPen);
        ReleaseDC(hWnd, hDC);
    }).join();
    // The repaint request reaches the GUI thread through its event queue: the line reaches the screen in the
    // scheduler's pass, without a paint event of the widget.
    EXPECT_TRUE(WaitUntil([&] { return OnScreen(pWidget.get()).pixelColor(80, 60) == QColor(0, 255, 0); }));
    EXPECT_EQ(counter.nPaints, 0);
    pWidget->removeEventFilter(&counter);
    EXPECT_EQ(Grab(pWidget.get()).pixelColor(80, 60), QColor(0, 255, 0));
}

TEST(NativeSurface, RepaintsOfManySurfacesAreGatheredAndNoneIsLost)
{
    constexpr int kCount = 12;
    std::vector<std::unique_ptr<QWidget>> widgets;
    std::vector<std::shared_ptr<NativeSurface>> surfaces;
    std::vector<std::unique_ptr<PaintCounter>> counters;
    for (int i = 0; i < kCount; ++i) {
        widgets.push_back(NativeWidget(40, 30));
        surfaces.push_back(NativeSurface::Attach(widgets.back().get()));
        ASSERT_TRUE(surfaces.back());
    }
    QCoreApplication::processEvents();
    for (int i = 0; i < kCount; ++i) {
        counters.push_back(std::make_unique<PaintCounter>());
        widgets[static_cast<size_t>(i)]->installEventFilter(counters.back().get());
    }
    const auto colourOf = [](int i) { return QColor(20 * i, 100, 250 - 20 * i); };
    // A decode thread hands each surface a picture; the GUI thread has not run meanwhile.
    std::thread([&] {
        for (int i = 0; i < kCount; ++i) {
            QImage picture(40, 30, QImage::Format_RGB32);
            picture.fill(colourOf(i));
            surfaces[static_cast<size_t>(i)]->Present(picture);
        }
    }).join();
    // Every other window goes before its repaint comes.
    for (int i = 1; i < kCount; i += 2)
        widgets[static_cast<size_t>(i)].reset();
    EXPECT_TRUE(WaitUntil([&] {
        for (int i = 0; i < kCount; i += 2)
            if (OnScreen(widgets[static_cast<size_t>(i)].get()).pixelColor(20, 15) != colourOf(i))
                return false;
        return true;
    }));
    for (int i = 0; i < kCount; i += 2) {
        QWidget *pWidget = widgets[static_cast<size_t>(i)].get();
        EXPECT_EQ(counters[static_cast<size_t>(i)]->nPaints, 0) << i;
        pWidget->removeEventFilter(counters[static_cast<size_t>(i)].get());
        EXPECT_EQ(Grab(pWidget).pixelColor(20, 15), colourOf(i)) << i;
    }
    for (int i = 1; i < kCount; i += 2)
        EXPECT_FALSE(surfaces[static_cast<size_t>(i)]->HasWidget());
}

TEST(NativeSurface, ALineDrawnOffTheGuiThreadLandsOnTheNewestPicture)
{
    auto pWidget = NativeWidget(100, 60);
    const HWND hWnd = HandleOf(pWidget.get());
    std::shared_ptr<NativeSurface> pSurface = NativeSurface::Attach(pWidget.get());
    ASSERT_TRUE(pSurface);
    QCoreApplication::processEvents();
    const auto drawLine = [hWnd](int y, COLORREF crColor) {
        std::thread([=] {
            HDC hDC = GetWindowDC(hWnd);
            HPEN hPen = CreatePen(PS_SOLID, 1, crColor);
            SelectObject(hDC, hPen);
            MoveToEx(hDC, 0, y, nullptr);
            LineTo(hDC, 100, y);
            SelectObject(hDC, GdiObjects::StockBlackPen());
            DeleteObject(hPen);
            ReleaseDC(hWnd, hDC);
        }).join();
    };
    // A picture handed over and not painted yet gets the line; so does the one on the window afterwards.
    std::thread([&] {
        QImage picture(100, 60, QImage::Format_RGB32);
        picture.fill(QColor(200, 0, 0));
        pSurface->Present(picture);
    }).join();
    drawLine(10, RGB(0, 255, 0));
    QImage image = Grab(pWidget.get());
    EXPECT_EQ(image.pixelColor(50, 10), QColor(0, 255, 0));
    EXPECT_EQ(image.pixelColor(50, 30), QColor(200, 0, 0));
    drawLine(40, RGB(0, 0, 255));
    image = Grab(pWidget.get());
    EXPECT_EQ(image.pixelColor(50, 10), QColor(0, 255, 0));
    EXPECT_EQ(image.pixelColor(50, 40), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(50, 30), QColor(200, 0, 0));
    EXPECT_EQ(pSurface->Shown().pixelColor(50, 40), QColor(0, 0, 255));
}

} // namespace

// The tiles of one window, as the tile grid holds them: every new picture is painted in one pass into the window
// and flushed to its tile, with no paint event a tile; a widget above a tile keeps its pixels; a tile whose
// surface shows nothing any more paints itself.
TEST(NativeSurface, TheTilesOfAWindowArePaintedInOnePass)
{
    constexpr int kColumns = 8, kRows = 8, kW = 40, kH = 30;
    QWidget window;
    window.resize(kColumns * kW, kRows * kH);
    std::vector<QWidget *> tiles;
    for (int i = 0; i < kColumns * kRows; ++i) {
        auto *pTile = new QWidget(&window);
        pTile->setGeometry((i % kColumns) * kW, (i / kColumns) * kH, kW, kH);
        pTile->setAttribute(Qt::WA_NativeWindow);
        pTile->setAutoFillBackground(true);
        QPalette palette = pTile->palette();
        palette.setColor(QPalette::Window, QColor(10, 200, 30));
        pTile->setPalette(palette);
        tiles.push_back(pTile);
    }
    // An opaque widget over the right half of tile 9, above it.
    auto *pCover = new QWidget(&window);
    pCover->setGeometry(kW + kW / 2, kH, kW / 2, kH);
    pCover->setAutoFillBackground(true);
    QPalette cover = pCover->palette();
    cover.setColor(QPalette::Window, QColor(200, 0, 200));
    pCover->setPalette(cover);
    pCover->raise();
    window.show();
    std::vector<std::shared_ptr<NativeSurface>> surfaces;
    for (QWidget *pTile : tiles)
        surfaces.push_back(NativeSurface::Attach(pTile));
    ASSERT_TRUE(WaitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    QCoreApplication::processEvents();
    std::vector<std::unique_ptr<PaintCounter>> counters;
    for (QWidget *pTile : tiles) {
        counters.push_back(std::make_unique<PaintCounter>());
        pTile->installEventFilter(counters.back().get());
    }

    const auto colourOf = [](int i) { return QColor(4 * i, 255 - 4 * i, 128); };
    std::thread([&] {
        for (size_t i = 0; i < surfaces.size(); ++i) {
            QImage picture(kW, kH, QImage::Format_RGB32);
            picture.fill(colourOf(static_cast<int>(i)));
            surfaces[i]->Present(picture);
        }
    }).join();
    EXPECT_TRUE(WaitUntil([&] {
        for (size_t i = 0; i < tiles.size(); ++i)
            if (OnScreen(tiles[i]).pixelColor(5, 5) != colourOf(static_cast<int>(i)))
                return false;
        return true;
    }));
    for (size_t i = 0; i < tiles.size(); ++i)
        EXPECT_EQ(counters[i]->nPaints, 0) << "tile " << i;
    const QImage whole = OnScreen(&window);
    EXPECT_EQ(whole.pixelColor(kW + 5, kH + 5), colourOf(9));
    EXPECT_EQ(whole.pixelColor(kW + kW - 5, kH + 5), QColor(200, 0, 200)) << "the widget above keeps its pixels";

    // Tile 3 shows nothing any more: it paints its own background again.
    surfaces[3]->Clear();
    EXPECT_TRUE(WaitUntil([&] { return counters[3]->nPaints > 0; }));
    EXPECT_EQ(Grab(tiles[3]).pixelColor(5, 5), QColor(10, 200, 30));
    for (size_t i = 0; i < tiles.size(); ++i)
        tiles[i]->removeEventFilter(counters[i].get());
}
