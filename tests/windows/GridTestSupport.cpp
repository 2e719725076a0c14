#include "tests/windows/GridTestSupport.h"

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "standin/korvex/TestPatternEncoder.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace GridTest {

namespace {

QWindow *WindowOf(QWidget *pWidget)
{
    // The native window the platform delivers the widget's input to.
    pWidget->winId();
    return pWidget->windowHandle();
}

// The rectangle of the pattern's first text line ("CH nn") in a picture of the stream's size.
QRect LabelRect()
{
    const int nScale = std::max(1, kStreamHeight / 90);
    return QRect(3 * nScale, 3 * nScale, 5 * 6 * nScale, 7 * nScale);
}

// The label's pixels of a channel's pattern: bright (text) or not.
const std::vector<bool> &LabelMask(int nChannel)
{
    static std::mutex mutex;
    static std::map<int, std::vector<bool>> masks;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = masks.find(nChannel);
    if (it != masks.end())
        return it->second;
    std::vector<uint8_t> y(static_cast<size_t>(kStreamWidth * kStreamHeight));
    std::vector<uint8_t> u(y.size() / 4), v(y.size() / 4);
    TestPatternEncoder::Draw(y.data(), kStreamWidth, u.data(), kStreamWidth / 2, v.data(), kStreamWidth / 2,
                             kStreamWidth, kStreamHeight, nChannel, 0, 10, 20);
    std::vector<bool> mask;
    const QRect rc = LabelRect();
    for (int yy = rc.top(); yy <= rc.bottom(); ++yy)
        for (int xx = rc.left(); xx <= rc.right(); ++xx)
            mask.push_back(y[static_cast<size_t>(yy * kStreamWidth + xx)] > 128);
    return masks.emplace(nChannel, std::move(mask)).first->second;
}

} // namespace

void Press(QWidget *pWidget, Qt::MouseButton button, QPoint pos) { QTest::mousePress(WindowOf(pWidget), button, {}, pos); }

void Move(QWidget *pWidget, QPoint pos) { QTest::mouseMove(WindowOf(pWidget), pos); }

void Release(QWidget *pWidget, Qt::MouseButton button, QPoint pos)
{
    QTest::mouseRelease(WindowOf(pWidget), button, {}, pos);
}

void DoubleClick(QWidget *pWidget, QPoint pos) { QTest::mouseDClick(WindowOf(pWidget), Qt::LeftButton, {}, pos); }

bool ShowAt(QWidget *pWidget, int nWidth, int nHeight)
{
    pWidget->resize(nWidth, nHeight);
    pWidget->show();
    return WaitUntil([&] { return pWidget->size() == QSize(nWidth, nHeight) && pWidget->isVisible(); }) &&
           QTest::qWaitForWindowExposed(pWidget);
}

QImage Grab(QWidget *pWidget) { return pWidget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

std::string SmallSubStreamDevice()
{
    return R"({"Devices": [{"Sub": {"Codec": "H.264", "Width": )" + std::to_string(kStreamWidth) +
           R"(, "Height": )" + std::to_string(kStreamHeight) +
           R"(, "FrameRate": 10}, "Audio": {"Codec": "None", "SampleRate": 8000}}]})";
}

int ChannelShown(const QImage &picture, int nChannels)
{
    if (picture.isNull())
        return -1;
    const QImage scaled = picture.size() == QSize(kStreamWidth, kStreamHeight)
                              ? picture
                              : picture.scaled(kStreamWidth, kStreamHeight, Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
    std::vector<bool> shown;
    const QRect rc = LabelRect();
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            shown.push_back(qGray(scaled.pixel(x, y)) > 128);
    int nBest = -1;
    size_t nBestMisses = shown.size(), nSecondMisses = shown.size();
    for (int nChannel = 0; nChannel < nChannels; ++nChannel) {
        const std::vector<bool> &mask = LabelMask(nChannel);
        size_t nMisses = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            nMisses += mask[i] != shown[i] ? 1 : 0;
        if (nMisses < nBestMisses) {
            nSecondMisses = nBestMisses;
            nBestMisses = nMisses;
            nBest = nChannel;
        } else if (nMisses < nSecondMisses) {
            nSecondMisses = nMisses;
        }
    }
    // The label must match nearly pixel for pixel, and far better than any other channel's.
    if (nBestMisses * 20 > shown.size() || (nChannels > 1 && nBestMisses * 3 > nSecondMisses))
        return -1;
    return nBest;
}

bool ShowsPattern(const QImage &picture)
{
    if (picture.isNull())
        return false;
    // Yellow in the second bar, cyan in the third, blue in the seventh (75% bars), along the middle row.
    const int y = picture.height() / 2;
    auto at = [&](int nBar) { return QColor(picture.pixel(picture.width() * (2 * nBar + 1) / 16, y)); };
    const QColor yellow = at(1), cyan = at(2), blue = at(6);
    return yellow.red() > 150 && yellow.green() > 150 && yellow.blue() < 60 && cyan.red() < 60 && cyan.green() > 150 &&
           cyan.blue() > 150 && blue.red() < 60 && blue.green() < 60 && blue.blue() > 150;
}

bool LiveStreams::Start(int nChannel, HWND hWnd)
{
    m_streams.emplace_back();
    Stream &stream = m_streams.back();
    stream.nChannel = nChannel;
    stream.pChannel = std::make_unique<CDecodeChannel>(nChannel);
    stream.pChannel->SetPlayWnd(hWnd);
    stream.pFeed = std::make_unique<RecordTest::LiveFeed>();
    stream.pFeed->pChannel = stream.pChannel.get();
    if (stream.pChannel->Open(1) != 1 || stream.pChannel->StartPreview() != 1)
        return false;
    stream.lPlay = CQZConnect::GetInstance()->ConnectChanel_V2(m_lLogin, nChannel, 1, &RecordTest::LiveFeed::OnFrame,
                                                               stream.pFeed.get());
    return stream.lPlay > 0;
}

LiveStreams::~LiveStreams() { StopAll(); }

void LiveStreams::StopAll()
{
    for (Stream &stream : m_streams)
        if (stream.lPlay > 0)
            CQZConnect::GetInstance()->DisconnectChannel_V2(stream.lPlay, &RecordTest::LiveFeed::OnFrame,
                                                             stream.pFeed.get());
    for (Stream &stream : m_streams) {
        stream.pChannel->StopPreview();
        stream.pChannel->Close();
    }
    m_streams.clear();
}

int LiveStreams::VideoBlocks(int nChannel) const
{
    for (const Stream &stream : m_streams)
        if (stream.nChannel == nChannel)
            return stream.pFeed->nVideo.load();
    return 0;
}

} // namespace GridTest
