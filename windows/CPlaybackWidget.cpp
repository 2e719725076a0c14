#include "windows/CPlaybackWidget.h"

#include "device/CDecodeChannel.h"
#include "device/FreeFileName.h"
#include "runtime/LightWeightLog.h"
#include "windows/CPlayWindowManage.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>

#include <exception>

namespace {

// Snapshot and clip names are kept in buffers of this size, terminator included.
constexpr int kNameBufferSize = 260;

// The channel's stream, clip and sound ended and its port closed, whatever state it was left in.
void ClosePort(CDecodeChannel &channel, bool bLocalFile)
{
    if (channel.IsRecording())
        channel.StopRecord();
    if (channel.IsSoundOpen())
        channel.CloseSound();
    channel.StopPlayback();
    if (bLocalFile)
        channel.StopLocalPlay();
    channel.Close();
}

} // namespace

CPlaybackWidget::CPlaybackWidget(QWidget *parent)
    : QWidget(parent)
{
    // The flags before the grid: changing them later could give the tiles' surfaces other native windows.
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setMouseTracking(true);
    m_pPlayWindowManage = new CPlayWindowManage(this);
    m_pPlayWindowManage->SetSplit(1);
    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pLayout->addWidget(m_pPlayWindowManage);

    connect(m_pPlayWindowManage, &CPlayWindowManage::curWndIndexSig, this, &CPlaybackWidget::curWndIndexSig);
    connect(m_pPlayWindowManage, &CPlayWindowManage::DigitalZoomSig, this, &CPlaybackWidget::OnDigitalZoom);
    connect(m_pPlayWindowManage, &CPlayWindowManage::quitDigitalZoom, this, &CPlaybackWidget::OnQuitDigitalZoom);
}

CPlaybackWidget::~CPlaybackWidget()
{
    // The ports end before the surfaces they draw into go with the page's children.
    for (int i = 0; i < PANE_NUM; ++i) {
        std::unique_ptr<CDecodeChannel> pPlayback, pLocal;
        {
            std::lock_guard<std::mutex> lock(m_channelMutexes[static_cast<size_t>(i)]);
            pPlayback = std::move(m_pPlaybackChannels[static_cast<size_t>(i)]);
            pLocal = std::move(m_pLocalChannels[static_cast<size_t>(i)]);
        }
        if (pPlayback)
            ClosePort(*pPlayback, false);
        if (pLocal)
            ClosePort(*pLocal, true);
    }
}

std::array<std::unique_ptr<CDecodeChannel>, CPlaybackWidget::PANE_NUM> &CPlaybackWidget::Channels()
{
    return IsDeviceMode() ? m_pPlaybackChannels : m_pLocalChannels;
}

CDecodeChannel *CPlaybackWidget::GetDecodeChannel(int nPane)
{
    if (!IsPane(nPane))
        return nullptr;
    const size_t i = static_cast<size_t>(nPane);
    std::unique_ptr<CDecodeChannel> &pChannel = Channels()[i];
    if (pChannel)
        return pChannel.get();
    const int nPort = (IsDeviceMode() ? DECODE_PORT_PLAYBACK : DECODE_PORT_LOCAL_FILE) + nPane;
    std::unique_ptr<CDecodeChannel> pNew;
    try {
        pNew = std::make_unique<CDecodeChannel>(nPort);
    } catch (const std::exception &e) {
        LOGE(QString("no decode channel for port %1: %2").arg(nPort).arg(e.what()), "CPlaybackWidget::GetDecodeChannel");
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_channelMutexes[i]);
    pChannel = std::move(pNew);
    return pChannel.get();
}

void CPlaybackWidget::SetMode(int nMode)
{
    m_nMode = nMode;
    m_pPlayWindowManage->onCurWndIndexChange(0);
    emit curWndIndexSig(0);
}

int CPlaybackWidget::ChangeSplit(int nSplit)
{
    m_pPlayWindowManage->SetSplit(nSplit == 1 ? 4 : 1);
    update();
    return 0;
}

void CPlaybackWidget::SetPaneChannel(int nChannel, int nPane)
{
    if (IsPane(nPane))
        m_nPaneChannels[static_cast<size_t>(nPane)] = nChannel;
}

int CPlaybackWidget::GetWndChannel(int nPane) const
{
    return IsPane(nPane) ? m_nPaneChannels[static_cast<size_t>(nPane)] : -1;
}

int CPlaybackWidget::GetWndIndexByChannel(int nChannel) const
{
    for (int i = 0; i < PANE_NUM; ++i)
        if (m_nPaneChannels[static_cast<size_t>(i)] == nChannel)
            return i;
    return -1;
}

int CPlaybackWidget::GetCurWndIndex() const { return m_pPlayWindowManage->GetCurWndIndex(); }

int CPlaybackWidget::GetCurWndChannel() const { return GetWndChannel(GetCurWndIndex()); }

void CPlaybackWidget::SetCurWndIndex(int nPane) { m_pPlayWindowManage->onCurWndIndexChange(nPane); }

int CPlaybackWidget::PlaybackStart(int nOpenMode, int nPane)
{
    if (nPane == -1)
        nPane = GetCurWndIndex();
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return -1;
    pChannel->SetPlayWnd(m_pPlayWindowManage->GetWndHandle(nPane));
    if (IsDeviceMode()) {
        // Nothing can play without the stream: the request must hear of it.
        if (!pChannel->Open(nOpenMode))
            return -1;
        if (!pChannel->StartPlayback(false)) {
            pChannel->Close();
            return -2;
        }
    } else if (!pChannel->StartPlayback(true)) {
        return -2;
    }
    m_pPlayWindowManage->setPreviewStatus(nPane, true);
    return 0;
}

int CPlaybackWidget::BeginLocalPlay(int nPane, const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return 0;
    return pChannel->BeginLocalPlay(pFilePath, cbFileEnd, pUser) ? 1 : 0;
}

int CPlaybackWidget::ClosePane(int nPane)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return -1;
    const size_t i = static_cast<size_t>(nPane);
    if (m_bRecording[i] && (pChannel->StopRecord() || !pChannel->IsRecording()))
        m_bRecording[i] = false;
    if (m_soundPane.Index() == nPane && pChannel->CloseSound())
        m_soundPane.Forget();
    pChannel->SetDisplayRegionNoLog(0, 0, 0, 0, false);
    m_pPlayWindowManage->SetZoomSelect(nPane, false);
    m_nPaneChannels[i] = -1;
    pChannel->StopPlayback();
    if (!IsDeviceMode())
        pChannel->StopLocalPlay();
    m_bDigitalZoom[i] = false;
    pChannel->Close();
    m_pPlayWindowManage->setPreviewStatus(nPane, false);
    update();
    return 0;
}

int CPlaybackWidget::InputData(int nPane, const unsigned char *pData, uint32_t nLength)
{
    if (!IsPane(nPane))
        return 0;
    const size_t i = static_cast<size_t>(nPane);
    std::lock_guard<std::mutex> lock(m_channelMutexes[i]);
    CDecodeChannel *pChannel = IsDeviceMode() ? m_pPlaybackChannels[i].get() : m_pLocalChannels[i].get();
    return pChannel ? pChannel->InputData(pData, nLength, nullptr) : 0;
}

int CPlaybackWidget::PlaybackControl(int nPane, int nState)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->SetPlayState(nState) : -1;
}

int CPlaybackWidget::SetPlayPos(int nPane, double dPos)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->SetPlayPos(dPos) : 0;
}

int CPlaybackWidget::SetPlaybackTime(int nPane, const char *pBeginTime, const char *pEndTime)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->SetPlayTime(pBeginTime, pEndTime) : 0;
}

int CPlaybackWidget::GetSeekTime(int nPane, int nPerMille)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->GetSeekTime(nPerMille) : 0;
}

float CPlaybackWidget::GetPlayPos(int nPane)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return 0.0f;
    return IsDeviceMode() ? pChannel->GetPlayPos(1) : pChannel->GetLocalPlayPos();
}

int CPlaybackWidget::GetPlayState(int nPane)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->GetPlayState() : -1;
}

void CPlaybackWidget::GetBufferValue(int nPane, int &nYuvVal, int &nBufVal)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return;
    nYuvVal = pChannel->GetYuvVal();
    nBufVal = pChannel->GetBufVal();
}

bool CPlaybackWidget::IsBufferEmpty(int nPane)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    return pChannel ? pChannel->RefreshPlay() : false;
}

bool CPlaybackWidget::IsRecording(int nPane) const
{
    return IsPane(nPane) && m_bRecording[static_cast<size_t>(nPane)];
}

bool CPlaybackWidget::IsDigitalZoom(int nPane) const
{
    return IsPane(nPane) && m_bDigitalZoom[static_cast<size_t>(nPane)];
}

bool CPlaybackWidget::IsSoundOpen(int nPane) const { return IsPane(nPane) && nPane == m_soundPane.Index(); }

int CPlaybackWidget::OpenSound(int nPane, bool bOn)
{
    return m_soundPane.Switch(nPane, bOn, [this](int nIndex) { return GetDecodeChannel(nIndex); });
}

int CPlaybackWidget::DigitalZoom()
{
    const int nPane = GetCurWndIndex();
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel || pChannel->GetPlayState() == PLAY_STATE_STOPPED)
        return -1;
    // The switch follows the pane's flag, not the tile's selection: a region drawn ends the selection, and the
    // next switch must end that zoom rather than arm another selection.
    const size_t i = static_cast<size_t>(nPane);
    const bool bOn = !m_bDigitalZoom[i];
    m_pPlayWindowManage->SetZoomSelect(nPane, bOn);
    if (!bOn)
        pChannel->SetDisplayRegionNoLog(0, 0, 0, 0, false);
    m_bDigitalZoom[i] = bOn;
    return 0;
}

void CPlaybackWidget::OnDigitalZoom(QPoint start, QPoint end, int nWndIndex)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nWndIndex);
    if (pChannel)
        pChannel->SetDisplayRegionNoLog(start.x(), start.y(), end.x(), end.y(), true);
}

void CPlaybackWidget::OnQuitDigitalZoom(int nWndIndex)
{
    LOGN(QString("OnQuitDigitalZoom index :%1").arg(nWndIndex), "CPlaybackWidget::OnQuitDigitalZoom");
    CDecodeChannel *pChannel = GetDecodeChannel(nWndIndex);
    if (!pChannel)
        return;
    pChannel->SetDisplayRegionNoLog(0, 0, 0, 0, false);
    m_bDigitalZoom[static_cast<size_t>(nWndIndex)] = false;
}

QByteArray CPlaybackWidget::PaneFilePath(int nPane, const QString &strFolder, const char *pExtension) const
{
    const QString strTime = QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss");
    const QString strName = IsDeviceMode()
                                ? QString::asprintf("%02d_", GetWndChannel(nPane) + 1) + strTime + pExtension
                                : "Local_" + strTime + pExtension;
    // A snapshot or clip of the same second never replaces the one before.
    const QByteArray baPath = FreeFileName(QDir(strFolder).filePath(strName)).toLocal8Bit();
    // A name cut to its buffer would be another path: it is refused instead.
    if (baPath.size() >= kNameBufferSize) {
        LOGW(QString("name of %1 bytes does not fit: %2").arg(baPath.size()).arg(QString::fromLocal8Bit(baPath)),
             "CPlaybackWidget::PaneFilePath");
        return QByteArray();
    }
    return baPath;
}

int CPlaybackWidget::Snapshot(int nPane, const QString &strFolder)
{
    if (!IsPane(nPane))
        return -1;
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return -1;
    const QByteArray baPath = PaneFilePath(nPane, strFolder, ".bmp");
    if (baPath.isEmpty())
        return -2;
    return pChannel->CapturePicture(baPath.constData(), KTN_CAPTURE_BMP) ? 0 : -2;
}

int CPlaybackWidget::Record(int nPane, int nRecordType, bool bOn, const QString &strFolder)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nPane);
    if (!pChannel)
        return 0;
    const size_t i = static_cast<size_t>(nPane);
    if (!bOn) {
        if (!m_bRecording[i])
            return 0;
        // A clip that could not be kept has ended too: its stop fails, and the pane no longer records.
        const int nRet = pChannel->StopRecord();
        if (nRet || !pChannel->IsRecording())
            m_bRecording[i] = false;
        return nRet;
    }
    if (m_bRecording[i])
        return 0;
    const char *pExtension = nullptr;
    if (nRecordType == KTN_RECORD_AVI)
        pExtension = ".avi";
    else if (nRecordType == KTN_RECORD_BLOCKS)
        pExtension = ".h265x";
    if (!pExtension) {
        LOGW(QString("record type %1 has no file type: refused").arg(nRecordType), "CPlaybackWidget::Record");
        return 0;
    }
    const QByteArray baPath = PaneFilePath(nPane, strFolder, pExtension);
    if (baPath.isEmpty())
        return 0;
    const int nRet = pChannel->StartRecord(baPath.constData(), nRecordType);
    if (nRet)
        m_bRecording[i] = true;
    return nRet;
}

void CPlaybackWidget::SetBackgroundPic(const QString &strPath) { m_pPlayWindowManage->SetBackgroundPic(strPath); }

void CPlaybackWidget::SetSkin(const QString &strSkin) { m_pPlayWindowManage->SetSkin(strSkin); }
