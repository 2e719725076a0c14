// The JPEG writer: baseline, quality 99, from I420 of any size; the picture it writes decodes back to the planes
// it was given, in full levels (black 0 and white 255, as a viewer shows them); a picture larger than its buffer and a file that cannot be written give false, never an end of
// the process.

#include "device/media/JpegWriter.h"
#include "tests/support/JpegTestDecode.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Size
{
    int nWidth, nHeight;
};

class JpegWriterTest : public ::testing::TestWithParam<Size>
{
protected:
    QTemporaryDir m_dir;
};

TEST_P(JpegWriterTest, DecodesBackToThePlanesItWasGiven)
{
    const Size s = GetParam();
    const std::vector<uint8_t> picture = JpegTest::SyntheticI420(s.nWidth, s.nHeight);
    const QString strPath = m_dir.filePath("snap.jpg");
    ASSERT_TRUE(WriteJpegFile(strPath.toLocal8Bit().constData(), s.nWidth, s.nHeight, picture.data(), picture.size()));
    const JpegTest::Decoded jpeg = JpegTest::Decode(strPath);
    ASSERT_TRUE(jpeg.bOk);
    EXPECT_EQ(jpeg.nWidth, s.nWidth);
    EXPECT_EQ(jpeg.nHeight, s.nHeight);
    EXPECT_EQ(jpeg.nComponents, 3);
    EXPECT_FALSE(jpeg.bProgressive);
    EXPECT_TRUE(jpeg.bBaselineMarker);
    EXPECT_EQ(jpeg.nLumaH, 2);
    EXPECT_EQ(jpeg.nLumaV, 2);
    // Quality 99 scales the standard tables to 1s and 2s.
    EXPECT_LE(jpeg.nMaxLumaQuant, 2);
    ASSERT_EQ(jpeg.i420.size(), picture.size());
    const std::vector<uint8_t> full = JpegTest::FullLevels(picture, s.nWidth, s.nHeight);
    const size_t nLuma = static_cast<size_t>(s.nWidth) * static_cast<size_t>(s.nHeight);
    const size_t nChroma = (picture.size() - nLuma) / 2;
    const JpegTest::Difference y = JpegTest::Compare(jpeg.i420.data(), full.data(), nLuma);
    const JpegTest::Difference cb = JpegTest::Compare(jpeg.i420.data() + nLuma, full.data() + nLuma, nChroma);
    const JpegTest::Difference cr =
        JpegTest::Compare(jpeg.i420.data() + nLuma + nChroma, full.data() + nLuma + nChroma, nChroma);
    EXPECT_LT(y.dMean, 1.0);
    EXPECT_LE(y.nMax, 16);
    EXPECT_LT(cb.dMean, 1.0);
    EXPECT_LE(cb.nMax, 8);
    EXPECT_LT(cr.dMean, 1.0);
    EXPECT_LE(cr.nMax, 16);
}

TEST(JpegWriterLevels, BlackAndWhiteOfTheDecoderAreBlackAndWhiteInTheFile)
{
    // Flat fields of video black (16), grey (126) and white (235) with neutral chroma: a viewer must show 0, 128
    // and 255, not the washed-out 16 and 235.
    QTemporaryDir dir;
    constexpr int w = 48, h = 16;
    std::vector<uint8_t> picture(static_cast<size_t>(w * h * 3 / 2), 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            picture[static_cast<size_t>(y * w + x)] = x < 16 ? 16 : (x < 32 ? 126 : 235);
    const QString strPath = dir.filePath("levels.jpg");
    ASSERT_TRUE(WriteJpegFile(strPath.toLocal8Bit().constData(), w, h, picture.data(), picture.size()));
    const JpegTest::Decoded jpeg = JpegTest::Decode(strPath);
    ASSERT_TRUE(jpeg.bOk);
    const int expected[] = {0, 128, 255};
    for (int nField = 0; nField < 3; ++nField) {
        const int nLuma = jpeg.i420[static_cast<size_t>(8 * w + nField * 16 + 8)];
        EXPECT_NEAR(nLuma, expected[nField], 1) << "field " << nField;
    }
    EXPECT_NEAR(jpeg.i420[static_cast<size_t>(w * h + 4 * (w / 2) + 4)], 128, 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegWriterTest,
                         ::testing::Values(Size{1920, 1080}, Size{64, 48}, Size{33, 17}, Size{2, 2}, Size{1, 1}));

TEST(JpegWriterFailures, RefusedAndFailedWrites)
{
    QTemporaryDir dir;
    const std::vector<uint8_t> picture = JpegTest::SyntheticI420(64, 48);
    const QByteArray path = dir.filePath("snap.jpg").toLocal8Bit();
    const std::vector<uint8_t> wide(70000 + 2 * 35000, 128);
    struct Case
    {
        const char *pWhat;
        const char *pPath;
        int nWidth, nHeight;
        const uint8_t *pPicture;
        size_t nSize;
    };
    const Case cases[] = {
        {"no picture", path.constData(), 64, 48, nullptr, picture.size()},
        {"no path", nullptr, 64, 48, picture.data(), picture.size()},
        {"no width", path.constData(), 0, 48, picture.data(), picture.size()},
        {"negative height", path.constData(), 64, -2, picture.data(), picture.size()},
        {"a byte short", path.constData(), 64, 48, picture.data(), picture.size() - 1},
        {"larger than the buffer", path.constData(), 640, 480, picture.data(), picture.size()},
        {"wider than libjpeg takes", path.constData(), 70000, 1, wide.data(), wide.size()},
    };
    for (const Case &c : cases) {
        EXPECT_FALSE(WriteJpegFile(c.pPath, c.nWidth, c.nHeight, c.pPicture, c.nSize)) << c.pWhat;
        EXPECT_FALSE(QFileInfo::exists(QString::fromLocal8Bit(path))) << c.pWhat;
    }
    // A folder that does not exist, and a device that takes no byte: false, and the process goes on.
    EXPECT_FALSE(WriteJpegFile(dir.filePath("missing/snap.jpg").toLocal8Bit().constData(), 64, 48, picture.data(),
                               picture.size()));
    const std::vector<uint8_t> large = JpegTest::SyntheticI420(1920, 1080);
    EXPECT_FALSE(WriteJpegFile("/dev/full", 1920, 1080, large.data(), large.size()));
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
    // And a good write after them.
    EXPECT_TRUE(WriteJpegFile(path.constData(), 64, 48, picture.data(), picture.size()));
}

} // namespace
