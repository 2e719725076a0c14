#include "tests/support/PavlineFixture.h"

#include "platform/stream_block.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/TestPatternEncoder.h"
#include "tests/support/Mp4Frames.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>

void PavlineFixture::SetUp()
{
    KorvexFixture::SetUp();
    PavlineControl::Reset();
}

void PavlineFixture::TearDown()
{
    PavlineControl::Reset();
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    KorvexFixture::TearDown();
}

NativeTestWindow::NativeTestWindow(int nWidth, int nHeight)
    : m_pWidget(std::make_unique<QWidget>())
{
    m_pWidget->setAttribute(Qt::WA_NativeWindow);
    m_pWidget->resize(nWidth, nHeight);
    m_pWidget->show();
    m_hWnd = reinterpret_cast<HWND>(m_pWidget->winId());
    QCoreApplication::processEvents();
}

NativeTestWindow::~NativeTestWindow() = default;

QImage NativeTestWindow::Grab() const { return m_pWidget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

namespace PavlineTest {

std::shared_ptr<const VideoLoop> PatternLoop(uint8_t nCodec, int nWidth, int nHeight, int nFrameRate)
{
    VideoSpec videoSpec;
    videoSpec.nCodec = nCodec;
    videoSpec.nWidth = nWidth;
    videoSpec.nHeight = nHeight;
    videoSpec.nFrameRate = nFrameRate;
    std::string strError;
    std::shared_ptr<const VideoLoop> loop = MediaLibrary::Instance().Video(videoSpec, strError);
    EXPECT_TRUE(loop) << strError;
    return loop;
}

std::vector<std::vector<uint8_t>> Blocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, int nAudioEvery)
{
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t> audio(320, 0xD5);  // A-law silence
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &frame = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        const int64_t nMs = nStartMs + static_cast<int64_t>(i) * 1000 / loop.nFrameRate;
        std::vector<uint8_t> block;
        StreamBlock::AppendVideo(block, frame.bKeyFrame, loop.nCodec, static_cast<uint8_t>(loop.nFrameRate),
                                 static_cast<uint32_t>(nMs / 1000), static_cast<uint16_t>(nMs % 1000),
                                 frame.data.data(), frame.data.size());
        blocks.push_back(std::move(block));
        if (nAudioEvery > 0 && (i + 1) % nAudioEvery == 0) {
            std::vector<uint8_t> a;
            StreamBlock::AppendAudio(a, StreamBlock::kAudioALaw, StreamBlock::kRate8000, audio.data(), audio.size());
            blocks.push_back(std::move(a));
        }
    }
    return blocks;
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>> &blocks)
{
    std::vector<uint8_t> out;
    for (const auto &b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

bool WriteFile(const std::string &strPath, const std::vector<uint8_t> &bytes)
{
    std::FILE *pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bOk = std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    return std::fclose(pFile) == 0 && bOk;
}

bool WriteMp4(const std::string &strPath, const VideoLoop &loop, int nFrames, bool bSound)
{
    CMp4Writer writer(strPath.c_str());
    const std::vector<uint8_t> alaw(320, 0xD5);     // 40 ms of A-law silence
    const FrameInfo sound = Mp4AudioFrame(alaw, 14, 8000, 8);
    if (bSound)
        writer.WriteFrame(&sound);
    const int nCodec = loop.IsH265() ? CMp4Writer::kCodecH265 : CMp4Writer::kCodecH264;
    bool bAll = true;
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &f = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        const FrameInfo video =
            Mp4VideoFrame(f.data, f.bKeyFrame, nCodec, loop.nFrameRate, loop.nWidth, loop.nHeight);
        bAll = writer.WriteFrame(&video) == 1 && bAll;
        if (bSound)
            writer.WriteFrame(&sound);
    }
    return bAll;
}

bool FeedAll(int nPort, const std::vector<std::vector<uint8_t>> &blocks, int nTimeoutMs)
{
    for (const auto &block : blocks) {
        bool bRefused = false;
        const bool bTaken = WaitUntil([&] {
            if (KTN_VIEW_InputData(nPort, block.data(), static_cast<uint32_t>(block.size())))
                return true;
            bRefused = KTN_VIEW_GetLastError() != KTN_ERR_BUFFER_FULL;
            return bRefused;
        }, nTimeoutMs);
        if (!bTaken || bRefused)
            return false;
    }
    return true;
}

QColor PatternColour(int nWidth, int nHeight, int x, int y)
{
    std::vector<uint8_t> py(static_cast<size_t>(nWidth * nHeight));
    std::vector<uint8_t> pu(static_cast<size_t>(nWidth * nHeight / 4)), pv(pu.size());
    TestPatternEncoder::Draw(py.data(), nWidth, pu.data(), nWidth / 2, pv.data(), nWidth / 2, nWidth, nHeight, 0, 0,
                             25, 50);
    const double Y = py[static_cast<size_t>(y * nWidth + x)] - 16.0;
    const double U = pu[static_cast<size_t>((y / 2) * (nWidth / 2) + x / 2)] - 128.0;
    const double V = pv[static_cast<size_t>((y / 2) * (nWidth / 2) + x / 2)] - 128.0;
    auto clamp = [](double d) { return static_cast<int>(std::max(0.0, std::min(255.0, std::round(d)))); };
    return QColor(clamp(1.164 * Y + 1.596 * V), clamp(1.164 * Y - 0.392 * U - 0.813 * V), clamp(1.164 * Y + 2.017 * U));
}

bool Near(const QColor &a, const QColor &b, int nTolerance)
{
    return std::abs(a.red() - b.red()) <= nTolerance && std::abs(a.green() - b.green()) <= nTolerance &&
           std::abs(a.blue() - b.blue()) <= nTolerance;
}

std::string Describe(const QColor &c)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "rgb(%d, %d, %d)", c.red(), c.green(), c.blue());
    return buf;
}

} // namespace PavlineTest
