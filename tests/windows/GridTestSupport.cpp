#include "tests/windows/GridTestSupport.h"

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace GridTest {

namespace {

QWindow *WindowOf(QWidget *pWidget)
{
    // The native window the platform delivers the widget's input to.
    pWidget->winId();
    return pWidget->windowHandle();
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
