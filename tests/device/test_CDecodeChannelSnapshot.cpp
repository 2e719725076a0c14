// Snapshots of the picture a channel shows: a BMP file as the library gives it, a JPEG file from the library's
// I420 picture; folders are made, an existing file is replaced whole, failures give false.

#include "device/CDecodeChannel.h"
#include "platform/stream_block.h"
#include "tests/support/JpegTestDecode.h"
#include "tests/support/PavlineFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cmath>
#include <memory>

namespace {

constexpr int kWidth = 320, kHeight = 180;

class SnapshotTest : public PavlineFixture
{
protected:
    void SetUp() override
    {
        PavlineFixture::SetUp();
        m_pWindow = std::make_unique<NativeTestWindow>(kWidth, kHeight);
        m_pChannel = std::make_unique<CDecodeChannel>(6);
        m_pChannel->SetPlayWnd(m_pWindow->Handle());
        ASSERT_EQ(m_pChannel->Open(1), 1);
        ASSERT_EQ(m_pChannel->StartPreview(), 1);
    }
    void TearDown() override
    {
        m_pChannel->StopPreview();
        m_pChannel->Close();
        m_pChannel.reset();
        m_pWindow.reset();
        PavlineFixture::TearDown();
    }
    // One key frame shown: the picture stays until the next.
    void ShowPicture()
    {
        auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, kWidth, kHeight, 25);
        ASSERT_TRUE(loop);
        ASSERT_TRUE(PavlineTest::FeedAll(6, PavlineTest::Blocks(*loop, 1, 1705312800000LL)));
        ASSERT_TRUE(PavlineControl::WaitForShown(6, 1, 20000));
    }
    QByteArray Path(const QString &strName) const { return TempPath(strName).toLocal8Bit(); }

    std::unique_ptr<NativeTestWindow> m_pWindow;
    std::unique_ptr<CDecodeChannel> m_pChannel;
};

TEST_F(SnapshotTest, BmpLoadsWithQImageAndReplacesALongerFile)
{
    ShowPicture();
    // A longer file of the same name is replaced, not overwritten in its first bytes.
    const QString strPath = TempPath("captures/live/07_20240115_100000.bmp");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(strPath).absolutePath()));
    {
        QFile old(strPath);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(400000, 'x'));
    }
    ASSERT_TRUE(m_pChannel->CapturePicture(strPath.toLocal8Bit().constData(), 0));
    const qint64 nExpected = 54 + static_cast<qint64>((kWidth * 3 + 3) & ~3) * kHeight;
    EXPECT_EQ(QFileInfo(strPath).size(), nExpected);
    QImage image;
    ASSERT_TRUE(image.load(strPath, "BMP"));
    EXPECT_EQ(image.width(), kWidth);
    EXPECT_EQ(image.height(), kHeight);
    for (const QPoint &p : {QPoint(20, 90), QPoint(160, 20), QPoint(300, 170)})
        EXPECT_TRUE(PavlineTest::Near(image.pixelColor(p), PavlineTest::PatternColour(kWidth, kHeight, p.x(), p.y()), 28))
            << p.x() << "," << p.y() << " " << PavlineTest::Describe(image.pixelColor(p));
    // Folders that do not exist are made, every level of them.
    const QString strDeep = TempPath("a/b/c/07.bmp");
    EXPECT_TRUE(m_pChannel->CapturePicture(strDeep.toLocal8Bit().constData(), 0));
    EXPECT_EQ(QFileInfo(strDeep).size(), nExpected);
}

TEST_F(SnapshotTest, JpegAndBmpOfOnePausedPictureShowTheSameColours)
{
    ShowPicture();
    ASSERT_EQ(m_pChannel->SetPlayState(PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    // The planes of the picture shown, as the library gives them.
    std::vector<uint8_t> planes(static_cast<size_t>(kWidth * kHeight * 3 / 2));
    int nWidth = 0, nHeight = 0;
    ASSERT_EQ(KTN_VIEW_CapturePicture(6, planes.data(), static_cast<uint32_t>(planes.size()), &nWidth, &nHeight,
                                      KTN_CAPTURE_I420), 1);
    ASSERT_EQ(nWidth, kWidth);
    const QString strJpeg = TempPath("captures/07_20240115_100000.jpg");
    const QString strBmp = TempPath("captures/07_20240115_100000.bmp");
    ASSERT_TRUE(m_pChannel->CapturePicture(strJpeg.toLocal8Bit().constData(), 1));
    ASSERT_TRUE(m_pChannel->CapturePicture(strBmp.toLocal8Bit().constData(), 0));

    // The file holds the planes in full levels, within the error of quality 99.
    const JpegTest::Decoded jpeg = JpegTest::Decode(strJpeg);
    ASSERT_TRUE(jpeg.bOk);
    EXPECT_EQ(jpeg.nWidth, kWidth);
    EXPECT_EQ(jpeg.nHeight, kHeight);
    EXPECT_TRUE(jpeg.bBaselineMarker);
    EXPECT_LE(jpeg.nMaxLumaQuant, 2);
    ASSERT_EQ(jpeg.i420.size(), planes.size());
    const std::vector<uint8_t> full = JpegTest::FullLevels(planes, kWidth, kHeight);
    const size_t nLuma = static_cast<size_t>(kWidth * kHeight), nChroma = nLuma / 4;
    for (int nPlane = 0; nPlane < 3; ++nPlane) {
        const size_t nAt = nPlane == 0 ? 0 : nLuma + (nPlane - 1) * nChroma;
        const JpegTest::Difference d =
            JpegTest::Compare(jpeg.i420.data() + nAt, full.data() + nAt, nPlane == 0 ? nLuma : nChroma);
        EXPECT_LT(d.dMean, 1.0) << "plane " << nPlane;
        EXPECT_LE(d.nMax, 16) << "plane " << nPlane;
    }

    // Read as a viewer reads them, the two files of one picture differ by no more than JPEG's own error.
    QImage jpegImage, bmpImage;
    ASSERT_TRUE(jpegImage.load(strJpeg, "JPEG"));
    ASSERT_TRUE(bmpImage.load(strBmp, "BMP"));
    ASSERT_EQ(jpegImage.size(), bmpImage.size());
    jpegImage = jpegImage.convertToFormat(QImage::Format_RGB32);
    bmpImage = bmpImage.convertToFormat(QImage::Format_RGB32);
    double dSum = 0;
    int nMeanSigned = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const QRgb a = jpegImage.pixel(x, y), b = bmpImage.pixel(x, y);
            for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) {
                dSum += std::abs(d);
                nMeanSigned += d;
            }
        }
    const double nValues = 3.0 * kWidth * kHeight;
    EXPECT_LT(dSum / nValues, 3.0) << "signed mean " << nMeanSigned / nValues;
}

TEST_F(SnapshotTest, FailuresGiveFalse)
{
    // Nothing decoded yet.
    EXPECT_FALSE(m_pChannel->CapturePicture(Path("none.bmp").constData(), 0));
    EXPECT_FALSE(m_pChannel->CapturePicture(Path("none.jpg").constData(), 1));
    EXPECT_FALSE(QFileInfo::exists(TempPath("none.bmp")));
    ShowPicture();
    // Another type, no path.
    PavlineControl::ClearJournal();
    EXPECT_FALSE(m_pChannel->CapturePicture(Path("other.png").constData(), 2));
    EXPECT_FALSE(m_pChannel->CapturePicture(nullptr, 0));
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_CapturePicture").empty());
    // A folder that cannot be made: a file stands where it would be.
    {
        QFile blocker(TempPath("blocker"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    for (int nType : {0, 1})
        EXPECT_FALSE(m_pChannel->CapturePicture(Path("blocker/sub/x.bmp").constData(), nType));
    // A file that cannot take the bytes.
    EXPECT_FALSE(m_pChannel->CapturePicture("/dev/full", 0));
    EXPECT_FALSE(m_pChannel->CapturePicture("/dev/full", 1));
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
    // The library's own failure.
    PavlineControl::FailNextCall("KTN_VIEW_CapturePicture", KTN_ERR_FAILED);
    EXPECT_FALSE(m_pChannel->CapturePicture(Path("failed.jpg").constData(), 1));
    EXPECT_FALSE(QFileInfo::exists(TempPath("failed.jpg")));
    EXPECT_TRUE(m_pChannel->CapturePicture(Path("after.jpg").constData(), 1));
}

} // namespace
