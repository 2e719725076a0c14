#include "windows/CColorSetWidget.h"

#include "device/CDecodeChannel.h"
#include "runtime/LightWeightLog.h"
#include "windows/CVideoFrame.h"

#include <QHBoxLayout>

#include <exception>

CColorSetWidget::CColorSetWidget(QWidget *parent)
    : QWidget(parent)
{
    // The flags before the surface: changing them later could give the surface another native window.
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pVideoFrame = new CVideoFrame(this);
    m_pVideoFrame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pLayout->addWidget(m_pVideoFrame);
}

CColorSetWidget::~CColorSetWidget()
{
    // The port ends before the surface it draws into goes with the page's children.
    std::unique_ptr<CDecodeChannel> pChannel;
    {
        std::lock_guard<std::mutex> lock(m_channelMutex);
        pChannel = std::move(m_pDecodeChannel);
    }
    if (pChannel)
        ClosePort(*pChannel);
}

void CColorSetWidget::ClosePort(CDecodeChannel &channel)
{
    // Both are no-ops when there is nothing to stop or close, so every state ends with the port closed.
    channel.StopPreview();
    channel.Close();
}

int CColorSetWidget::PreviewStart(int nStreamType)
{
    std::unique_ptr<CDecodeChannel> pOld;
    {
        std::lock_guard<std::mutex> lock(m_channelMutex);
        pOld = std::move(m_pDecodeChannel);
    }
    if (pOld) {
        ClosePort(*pOld);
        pOld.reset();
    }

    std::unique_ptr<CDecodeChannel> pChannel;
    try {
        pChannel = std::make_unique<CDecodeChannel>(DECODE_PORT_COLOR_PREVIEW);
    } catch (const std::exception &e) {
        LOGE(QString("no decode channel: %1").arg(e.what()), "CColorSetWidget::PreviewStart");
        return -1;
    }
    pChannel->SetPlayWnd(m_pVideoFrame->GetHwnd());
    bool bStarted = false;
    if (pChannel->Open(nStreamType)) {
        LOGN("called", "CColorSetWidget::PreviewStart");
        bStarted = pChannel->StartPreview() != 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_channelMutex);
        m_pDecodeChannel = std::move(pChannel);
    }
    return bStarted ? 0 : -2;
}

int CColorSetWidget::PreviewStop()
{
    if (!m_pDecodeChannel)
        return -1;
    ClosePort(*m_pDecodeChannel);
    return 0;
}

int CColorSetWidget::InputData(const unsigned char *pData, uint32_t nLength)
{
    std::lock_guard<std::mutex> lock(m_channelMutex);
    if (!m_pDecodeChannel)
        return -1;
    m_pDecodeChannel->InputData(pData, nLength, nullptr);
    return 0;
}

int CColorSetWidget::GetPlayState() const { return m_pDecodeChannel ? m_pDecodeChannel->GetPlayState() : -1; }
