// A stream of the simulated device played into a native window: what the window shows (the test pattern, a
// display region, colours, the decode callback's drawing) and the captured pictures.

#include "device/CDecodeChannel.h"
#include "tests/support/PavlineFixture.h"

#include <QImage>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <atomic>

#include <vector>

namespace {

constexpr int kW = 640, kH = 360;   // the window
constexpr int kPort = 3;

// Feeds the channel's blocks from the device's live data thread.
int32_t OnLiveFrame(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    return static_cast<CDecodeChannel *>(pUser)->InputData(pFrame->pData, pFrame->nDataLength, pFrame) ? 1 : 0;
}

// Bar b of the pattern seen through a region of the picture: its centre in the window, and the colour the
// picture has there.
struct Sample
{
    int x, y;
    QColor expected;
};

// The centres of the bars that lie within the picture's columns [nLeft, nRight) of a nPicW x nPicH picture,
// shown stretched across the window.
std::vector<Sample> BarSamples(int nPicW, int nPicH, int nLeft, int nRight)
{
    std::vector<Sample> samples;
    for (int b = 0; b < 8; ++b) {
        const int x0 = nPicW * b / 8, x1 = nPicW * (b + 1) / 8;
        const int cx = (x0 + x1) / 2;
        if (cx - 8 < nLeft || cx + 8 >= nRight)
            continue;
        const int nWinX = (cx - nLeft) * kW / (nRight - nLeft);
        samples.push_back(Sample{nWinX, kH / 2, PavlineTest::PatternColour(nPicW, nPicH, cx, nPicH / 2)});
    }
    return samples;
}

class PavlineRenderTest : public PavlineFixture
{
protected:
    // Logs in, opens the sub stream of channel 0 (H.264 640x360) into the channel and waits for pictures.
    void StartLive(CDecodeChannel &channel, int nStreamType = 1)
    {
        m_lLogin = LoginBuiltIn();
        ASSERT_GT(m_lLogin, 0);
        channel.SetPlayWnd(m_window.Handle());
        ASSERT_NE(channel.Open(1), 0);
        ASSERT_NE(channel.StartPreview(), 0);
        ZDK_ClientInfo client{};
        client.nChannel = 0;
        client.nStreamType = nStreamType;
        m_lPlay = ZDK_DEV_RealPlay(m_lLogin, &client, nullptr);
        ASSERT_GT(m_lPlay, 0);
        ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(m_lPlay, OnLiveFrame, &channel), 0);
        ASSERT_TRUE(PavlineControl::WaitForShown(kPort, 5, 20000));
    }

    void StopLive(CDecodeChannel &channel)
    {
        if (m_lPlay > 0) {
            EXPECT_NE(ZDK_DEV_StopRealPlay(m_lPlay, 0), 0);
        }
        m_lPlay = 0;
        EXPECT_NE(channel.StopPreview(), 0);
        EXPECT_NE(channel.Close(), 0);
    }

    // Waits for pictures drawn after now, so that what is grabbed comes with the settings made before.
    void WaitForNewPictures(int n = 3)
    {
        const int64_t nShown = PavlineControl::Stats(kPort).nPicturesShown;
        ASSERT_TRUE(PavlineControl::WaitForShown(kPort, nShown + n, 20000));
    }

    void ExpectSamples(const QImage &image, const std::vector<Sample> &samples, int nTolerance, const char *pWhat)
    {
        ASSERT_FALSE(samples.empty());
        for (const Sample &s : samples) {
            const QColor got = image.pixelColor(s.x, s.y);
            EXPECT_TRUE(PavlineTest::Near(got, s.expected, nTolerance))
                << pWhat << " at (" << s.x << ", " << s.y << "): " << PavlineTest::Describe(got) << " expected "
                << PavlineTest::Describe(s.expected);
        }
    }

    NativeTestWindow m_window{kW, kH};
    int32_t m_lLogin = 0;
    int32_t m_lPlay = 0;
};

TEST_F(PavlineRenderTest, LiveStreamShowsThePatternCroppedAndColoured)
{
    CDecodeChannel channel(kPort);
    const StreamsStop streamsStop;
    StartLive(channel);

    // The whole picture: all eight bars, at their places.
    QImage image = m_window.Grab();
    ASSERT_EQ(image.size(), QSize(kW, kH));
    ExpectSamples(image, BarSamples(640, 360, 0, 640), 28, "whole picture");
    int nWidth = 0, nHeight = 0;
    EXPECT_NE(channel.GetPictureSize(nWidth, nHeight), 0);
    EXPECT_EQ(nWidth, 640);
    EXPECT_EQ(nHeight, 360);

    // The left half of the picture fills the window: four bars, twice as wide.
    const RECT left{0, 0, 4096, 8192};
    ASSERT_NE(channel.SetDisplayRegion(&left, true), 0);
    WaitForNewPictures();
    image = m_window.Grab();
    const std::vector<Sample> half = BarSamples(640, 360, 0, 320);
    EXPECT_EQ(half.size(), 4u);
    ExpectSamples(image, half, 28, "left half");
    // Where the whole picture had its fifth bar (magenta), the cropped one shows the third (cyan).
    EXPECT_TRUE(PavlineTest::Near(image.pixelColor(kW * 9 / 16, kH / 2), PavlineTest::PatternColour(640, 360, 200, 180), 28));

    // Back to the whole picture, then colours: no saturation leaves grey; full brightness lifts black.
    ASSERT_NE(channel.SetDisplayRegion(nullptr, false), 0);
    ASSERT_NE(channel.SetColor(2, 0), 0);
    WaitForNewPictures();
    image = m_window.Grab();
    const QColor yellow = image.pixelColor(kW * 3 / 16, kH / 2);
    EXPECT_LT(std::abs(yellow.red() - yellow.blue()), 16) << PavlineTest::Describe(yellow);
    EXPECT_LT(std::abs(yellow.green() - yellow.blue()), 16) << PavlineTest::Describe(yellow);
    ASSERT_NE(channel.SetColor(2, 64), 0);
    ASSERT_NE(channel.SetColor(0, 128), 0);
    WaitForNewPictures();
    image = m_window.Grab();
    const QColor black = image.pixelColor(kW * 15 / 16, kH / 2);
    EXPECT_GT(black.red(), 120) << PavlineTest::Describe(black);
    EXPECT_TRUE(PavlineTest::Near(black, QColor(black.red(), black.red(), black.red()), 16));
    int b = 0, c = 0, s = 0, h = 0;
    EXPECT_NE(channel.GetColor(b, c, s, h), 0);
    EXPECT_EQ(b, 128);
    EXPECT_EQ(c, 64);
    EXPECT_EQ(s, 64);
    EXPECT_EQ(h, 64);

    StopLive(channel);
    // Stopped, the window paints itself again.
    EXPECT_TRUE(m_window.Grab().pixelColor(kW / 2, kH / 2) != black);
}

TEST_F(PavlineRenderTest, MainStreamScaledDownKeepsTheBars)
{
    CDecodeChannel channel(kPort);
    const StreamsStop streamsStop;
    StartLive(channel, 0);  // H.265 1280x720 into 640x360
    ExpectSamples(m_window.Grab(), BarSamples(1280, 720, 0, 1280), 28, "main stream");
    int nWidth = 0, nHeight = 0;
    EXPECT_NE(channel.GetPictureSize(nWidth, nHeight), 0);
    EXPECT_EQ(nWidth, 1280);
    EXPECT_EQ(nHeight, 720);
    StopLive(channel);
}

// The overlay of the live page: drawn with a pen into each picture before it is shown.
struct OverlayCalls
{
    std::atomic<int> nCalls{0};
    std::atomic<HWND> hWnd{nullptr};
    std::atomic<bool> bData{false};
};

void DrawCross(int32_t nStatus, void *pData, HWND hWnd, void *pUser)
{
    OverlayCalls *pCalls = static_cast<OverlayCalls *>(pUser);
    HDC hDC = static_cast<HDC>(pData);
    HPEN hPen = CreatePen(PS_SOLID, 4, 0x00FF0000);     // blue
    HGDIOBJ hOld = SelectObject(hDC, hPen);
    MoveToEx(hDC, 0, 100, nullptr);
    LineTo(hDC, kW, 100);
    SelectObject(hDC, hOld);
    DeleteObject(hPen);
    pCalls->bData = nStatus == 0 && pData != nullptr;
    pCalls->hWnd = hWnd;
    ++pCalls->nCalls;
}

TEST_F(PavlineRenderTest, DecodeCallbackDrawsOverEveryPicture)
{
    CDecodeChannel channel(kPort);
    OverlayCalls calls;
    const StreamsStop streamsStop;
    const PortsStop portsStop;
    ASSERT_NE(channel.SetDecCallBack(DrawCross, &calls), 0);
    StartLive(channel);
    WaitForNewPictures();
    const QImage image = m_window.Grab();
    // The line lies on the white bar; outside it the pattern stays.
    EXPECT_TRUE(PavlineTest::Near(image.pixelColor(40, 100), QColor(0, 0, 255), 8))
        << PavlineTest::Describe(image.pixelColor(40, 100));
    EXPECT_TRUE(PavlineTest::Near(image.pixelColor(40, 180), PavlineTest::PatternColour(640, 360, 40, 180), 28));
    EXPECT_GT(calls.nCalls.load(), 0);
    EXPECT_TRUE(calls.bData.load());
    EXPECT_EQ(calls.hWnd.load(), m_window.Handle());
    const PortStats stats = PavlineControl::Stats(kPort);
    EXPECT_GE(stats.nDecodeCallbacks, stats.nPicturesShown - 1);
    StopLive(channel);
    // Closed, the port has no thread left to call back from.
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    const int nAfterStop = calls.nCalls.load();
    EXPECT_EQ(calls.nCalls.load(), nAfterStop);
}

TEST_F(PavlineRenderTest, ALiveStreamWakesItsPortAboutOncePerPicture)
{
    // The device's sub stream: a picture every 67 ms and a block of sound every 40 ms, nobody listening.
    CDecodeChannel channel(kPort);
    StartLive(channel);
    const PortStats before = PavlineControl::Stats(kPort);
    ASSERT_TRUE(PavlineControl::WaitForShown(kPort, before.nPicturesShown + 30, 10000));
    const PortStats after = PavlineControl::Stats(kPort);
    const int64_t nShown = after.nPicturesShown - before.nPicturesShown;
    // Neither each block of sound nor the picture's due time wakes the thread again: about one wake a picture,
    // with room for a few more on a busy machine.
    EXPECT_LE(after.nWakes - before.nWakes, nShown * 3 / 2 + 5) << nShown << " pictures";
    // The sound went through all the same.
    EXPECT_GT(after.nAudioUnits, before.nAudioUnits);
    StopLive(channel);
}

TEST_F(PavlineRenderTest, CaptureGivesBmpAndI420OfTheStreamSize)
{
    CDecodeChannel channel(kPort);
    const StreamsStop streamsStop;
    StartLive(channel);

    std::vector<unsigned char> buffer(36000054);
    int nWidth = 0, nHeight = 0;
    ASSERT_NE(KTN_VIEW_CapturePicture(kPort, buffer.data(), static_cast<uint32_t>(buffer.size()), &nWidth, &nHeight,
                                      KTN_CAPTURE_BMP),
              0);
    EXPECT_EQ(nWidth, 640);
    EXPECT_EQ(nHeight, 360);
    const uint32_t nFileSize = buffer[2] | (buffer[3] << 8) | (buffer[4] << 16) | (static_cast<uint32_t>(buffer[5]) << 24);
    EXPECT_EQ(nFileSize, 54u + 640u * 3u * 360u);
    QImage bmp;
    ASSERT_TRUE(bmp.loadFromData(buffer.data(), static_cast<int>(nFileSize), "BMP"));
    EXPECT_EQ(bmp.size(), QSize(640, 360));
    for (int x : {40, 200, 360, 600})
        EXPECT_TRUE(PavlineTest::Near(bmp.pixelColor(x, 180), PavlineTest::PatternColour(640, 360, x, 180), 28))
            << x << ": " << PavlineTest::Describe(bmp.pixelColor(x, 180));

    std::fill(buffer.begin(), buffer.end(), 0xAB);
    ASSERT_NE(KTN_VIEW_CapturePicture(kPort, buffer.data(), 18000000, &nWidth, &nHeight, KTN_CAPTURE_I420), 0);
    const size_t nI420 = 640 * 360 * 3 / 2;
    // The picture fills exactly w x h x 3 / 2 bytes: the byte after it is untouched.
    EXPECT_NE(buffer[nI420 - 1], 0xAB);
    EXPECT_EQ(buffer[nI420], 0xAB);
    // Luma of the white bar, chroma planes at w x h and w x h x 5 / 4.
    EXPECT_NEAR(buffer[180 * 640 + 40], 180, 12);
    EXPECT_NEAR(buffer[640 * 360 + 90 * 320 + 20], 128, 12);
    EXPECT_NEAR(buffer[640 * 360 * 5 / 4 + 90 * 320 + 20], 128, 12);

    // Too small a buffer, or another type, is refused.
    EXPECT_EQ(KTN_VIEW_CapturePicture(kPort, buffer.data(), 1000, &nWidth, &nHeight, KTN_CAPTURE_BMP), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_BUFFER_SMALL);
    EXPECT_EQ(KTN_VIEW_CapturePicture(kPort, buffer.data(), 18000000, &nWidth, &nHeight, 7), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_PARAM);
    StopLive(channel);
    // Nothing shown, nothing to capture.
    EXPECT_EQ(KTN_VIEW_CapturePicture(kPort, buffer.data(), 18000000, &nWidth, &nHeight, KTN_CAPTURE_I420), 0);
}

} // namespace
