// Pictures drawn into window images of any size: every pixel of the target is the picture's (or the black
// border of an actual-size picture), whatever room the image's rows have.

#include "platform/pavline.h"
#include "standin/pavline/PictureRenderer.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A picture of one colour: luma y, chroma u, v.
AvFramePtr UniformPicture(int nWidth, int nHeight, uint8_t y, uint8_t u, uint8_t v)
{
    AvFramePtr pFrame = NewAvFrame();
    pFrame->format = AV_PIX_FMT_YUV420P;
    pFrame->width = nWidth;
    pFrame->height = nHeight;
    EXPECT_GE(av_frame_get_buffer(pFrame.get(), 32), 0);
    for (int r = 0; r < nHeight; ++r)
        std::memset(pFrame->data[0] + r * pFrame->linesize[0], y, static_cast<size_t>(nWidth));
    for (int r = 0; r < (nHeight + 1) / 2; ++r) {
        std::memset(pFrame->data[1] + r * pFrame->linesize[1], u, static_cast<size_t>((nWidth + 1) / 2));
        std::memset(pFrame->data[2] + r * pFrame->linesize[2], v, static_cast<size_t>((nWidth + 1) / 2));
    }
    return pFrame;
}

bool Near(const QColor &a, const QColor &b, int n)
{
    return std::abs(a.red() - b.red()) <= n && std::abs(a.green() - b.green()) <= n &&
           std::abs(a.blue() - b.blue()) <= n;
}

// The pixels of the image that are not near the colour inside the rectangle, or not near black outside it.
int Wrong(const QImage &image, const QRect &picture, const QColor &colour)
{
    int nWrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!Near(image.pixelColor(x, y), picture.contains(x, y) ? colour : QColor(Qt::black), 12))
                ++nWrong;
    return nWrong;
}

TEST(PictureRenderer, EveryPixelOfATargetOfAnyWidthIsDrawn)
{
    // Orange-ish: well away from black and from the marker the targets start with.
    const AvFramePtr pPicture = UniformPicture(640, 360, 150, 60, 190);
    const QColor marker(0, 255, 255);
    struct Case
    {
        int nWidth, nHeight;
    };
    const Case cases[] = {{2, 2}, {22, 90}, {160, 90}, {161, 91}, {426, 240}, {427, 240}, {640, 360}, {1001, 563}};
    PictureRenderer renderer;
    QColor colour;
    for (const Case &c : cases)
        for (bool bOwn : {false, true}) {
            const std::string strWhat = std::to_string(c.nWidth) + "x" + std::to_string(c.nHeight) +
                                        (bOwn ? " (the renderer's own image)" : " (a plain image)");
            QImage target = bOwn ? PictureRenderer::NewTarget(QSize(c.nWidth, c.nHeight))
                                 : QImage(c.nWidth, c.nHeight, QImage::Format_RGB32);
            EXPECT_EQ(PictureRenderer::FitsTarget(target), bOwn || c.nWidth % 16 == 0) << strWhat;
            target.fill(marker);
            ASSERT_TRUE(renderer.Draw(pPicture.get(), RenderSettings(), target)) << strWhat;
            if (!colour.isValid())
                colour = target.pixelColor(0, 0);
            EXPECT_FALSE(Near(colour, marker, 40));
            EXPECT_EQ(Wrong(target, target.rect(), colour), 0) << strWhat;
        }
}

TEST(PictureRenderer, AnActualSizePictureLeavesItsBorderBlack)
{
    const AvFramePtr pPicture = UniformPicture(150, 86, 150, 60, 190);
    PictureRenderer renderer;
    RenderSettings settings;
    QImage reference = PictureRenderer::NewTarget(QSize(150, 86));
    ASSERT_TRUE(renderer.Draw(pPicture.get(), settings, reference));
    const QColor colour = reference.pixelColor(75, 43);
    settings.bActualSize = true;
    for (bool bOwn : {false, true}) {
        // The picture in the middle of a larger target, rows written from an odd column on.
        QImage target = bOwn ? PictureRenderer::NewTarget(QSize(163, 99)) : QImage(163, 99, QImage::Format_RGB32);
        target.fill(QColor(0, 255, 255));
        ASSERT_TRUE(renderer.Draw(pPicture.get(), settings, target));
        EXPECT_EQ(Wrong(target, QRect(6, 6, 150, 86), colour), 0) << (bOwn ? "own image" : "plain image");
    }
}

} // namespace
