#include "windows/CRealPlayWidget.h"

#include "device/CDecodeChannel.h"
#include "device/FreeFileName.h"
#include "platform/korvex.h"
#include "runtime/CDataCenter.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"
#include "windows/LocalInfoFile.h"
#include "windows/SurfaceSizeWatch.h"

#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>

#include <json/value.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kNoChannel = -1;
constexpr int kGunBallReplySize = 1024;
constexpr int kGunBallWaitMs = 10000;
const char *const kGunBallAbility = "ChannelSystemFunction@SupportGunBallTwoSensorCamera";
const char *const kGunBallPath = "SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera";

uint64_t PackSize(int nWidth, int nHeight)
{
    return (static_cast<uint64_t>(static_cast<uint32_t>(nWidth)) << 32) | static_cast<uint32_t>(nHeight);
}

} // namespace

CRealPlayWidget::CRealPlayWidget(QWidget *parent)
    : QWidget(parent)
    , m_pSmartRuleInfo(std::make_unique<SmartRuleInfo>())
{
    std::memset(m_pSmartRuleInfo.get(), 0, sizeof(SmartRuleInfo));
    m_nWndChannel.fill(kNoChannel);
    for (int i = 0; i < 64; ++i) {
        m_bDigitalZoom[static_cast<size_t>(i)] = false;
        m_nPlayOriginalState[static_cast<size_t>(i)] = -1;
        m_nVideoSize[static_cast<size_t>(i)] = PackSize(-1, -1);
    }

    // The flags before the grid: changing them later could give the tiles' surfaces other native windows.
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setMouseTracking(true);
    m_pPlayWindowManage = new CPlayWindowManage(this);
    m_pPlayWindowManage->SetSplit(9);
    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pLayout->addWidget(m_pPlayWindowManage);

    m_pSurfaceWatch = std::make_unique<SurfaceSizeWatch>([this](int nWndIndex) { StoreSurfaceSize(nWndIndex); });
    for (int i = 0; i < MAX_WND_NUM; ++i) {
        m_surfaceSizes[static_cast<size_t>(i)].hWnd = m_pPlayWindowManage->GetWndHandle(i);
        m_pPlayWindowManage->GetVideoWnd(i)->GetVideoFrame()->installEventFilter(m_pSurfaceWatch.get());
        StoreSurfaceSize(i);
    }

    CPlayWindowManage *pGrid = m_pPlayWindowManage;
    connect(pGrid, &CPlayWindowManage::curWndIndexSig, this, &CRealPlayWidget::curWndIndexSig);
    connect(pGrid, &CPlayWindowManage::DigitalZoomSig, this, &CRealPlayWidget::OnDigitalZoom);
    connect(pGrid, &CPlayWindowManage::quitDigitalZoom, this, &CRealPlayWidget::OnQuitDigitalZoom);
    connect(pGrid, &CPlayWindowManage::quitPTZElect, this, &CRealPlayWidget::OnQuitPTZElect);
    connect(pGrid, &CPlayWindowManage::sig_GetScaleTwoLensAbility, this, &CRealPlayWidget::slot_GetScaleTwoLensAbility);
    connect(pGrid, &CPlayWindowManage::sig_SetScaleTwoLensTimes, this, &CRealPlayWidget::slot_SetScaleTwoLensTimes);
    connect(this, &CRealPlayWidget::videoSizeChange, pGrid, &CPlayWindowManage::onVideoSizeChange);
    // Emitted on the data threads: the size is applied on the GUI thread.
    connect(this, &CRealPlayWidget::pictureSizeSig, this, &CRealPlayWidget::onPictureSize, Qt::QueuedConnection);
}

CRealPlayWidget::~CRealPlayWidget()
{
    m_pSurfaceWatch.reset();
    // Every port ends before the channels, the rule block and the surfaces it draws into go.
    for (int i = 0; i < 64; ++i) {
        CDecodeChannel *pChannel = m_pDecodeChannels[static_cast<size_t>(i)].get();
        if (!pChannel)
            continue;
        SetInputOpen(i, false);
        if (pChannel->IsRecording())
            pChannel->StopRecord();
        pChannel->StopPreview();
        pChannel->Close();
    }
}

CDecodeChannel *CRealPlayWidget::GetDecodeChannel(int nChannel)
{
    if (!IsIndex(nChannel))
        return nullptr;
    std::unique_ptr<CDecodeChannel> &pChannel = m_pDecodeChannels[static_cast<size_t>(nChannel)];
    if (!pChannel) {
        try {
            pChannel = std::make_unique<CDecodeChannel>(DECODE_PORT_LIVE + nChannel);
        } catch (const std::exception &e) {
            LOGE(QString("no decode channel for %1: %2").arg(nChannel).arg(e.what()), "CRealPlayWidget::GetDecodeChannel");
            return nullptr;
        }
        LiveInput &input = m_liveInputs[static_cast<size_t>(nChannel)];
        std::lock_guard<std::mutex> lock(input.mutex);
        input.pChannel = pChannel.get();
    }
    return pChannel.get();
}

CDecodeChannel *CRealPlayWidget::ExistingChannel(int nChannel) const
{
    return IsIndex(nChannel) ? m_pDecodeChannels[static_cast<size_t>(nChannel)].get() : nullptr;
}

void CRealPlayWidget::SetInputOpen(int nChannel, bool bOpen)
{
    LiveInput &input = m_liveInputs[static_cast<size_t>(nChannel)];
    std::lock_guard<std::mutex> lock(input.mutex);
    input.bOpen = bOpen;
}

// ---------------------------------------------------------------------------------------------------------
// Channels in tiles.

int CRealPlayWidget::PreviewPlay(int nStreamType, int nChannel, int nWndIndex)
{
    const QString strTag = "CRealPlayWidget::PreviewPlay";
    // The channel's own PTZ starts afresh; every other channel's, shown in its tile, goes on as it is.
    const bool bZoomed = ResetPTZElect(nChannel);
    bool bShowRule = false;
    {
        std::lock_guard<std::mutex> lock(m_drawMutex);
        bShowRule = m_pSmartRuleInfo->ShowRule && m_pSmartRuleInfo->Channel == 0;
    }
    if (bShowRule)
        if (CDecodeChannel *pFirst = GetDecodeChannel(0))
            pFirst->SetDecCallBack(&CRealPlayWidget::DrawSmartRuleCallBack, this);

    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    if (nWndIndex == -1)
        nWndIndex = m_pPlayWindowManage->GetCurWndIndex();
    if (!IsIndex(nWndIndex))
        return -2;
    pChannel->SetPlayWnd(m_pPlayWindowManage->GetWndHandle(nWndIndex));

    const bool bOpened = pChannel->Open(nStreamType) != 0;
    LoadClientCfg(m_stLocalInfo);
    bool bStarted = false;
    if (bOpened) {
        SetInputOpen(nChannel, true);
        const int nVideoType = m_stLocalInfo.VideoType;
        if (nVideoType == 1 || nVideoType == 2) {
            const int nRet = CDecodeChannel::SetVideoMode(nChannel, nVideoType == 1 ? 0 : 2);
            LOGN(QString("set video Mode:%1 Ret:%2").arg(nVideoType).arg(nRet), strTag);
        }
        bStarted = pChannel->StartPreview() != 0;
        if (bStarted) {
            // A port left open since its zoom was set keeps its region.
            if (bZoomed)
                pChannel->SetDisplayRegion(nullptr, false);
            m_pPlayWindowManage->setPreviewStatus(nWndIndex, true);
            GunBallDeivcePlayOriginal(nChannel, nWndIndex);
        } else {
            // Nothing plays in the tile: the port must not stay open and take blocks.
            SetInputOpen(nChannel, false);
            pChannel->Close();
        }
    }
    m_nStreamType[static_cast<size_t>(nChannel)] = static_cast<uint8_t>(nStreamType);
    if (nWndIndex == m_pPlayWindowManage->GetCurWndIndex())
        slot_GetScaleTwoLensAbility(nWndIndex);
    return bOpened && bStarted ? 0 : -2;
}

int CRealPlayWidget::CapturePreviewPlay(int nStreamType, int nChannel)
{
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    ResetPTZElect(nChannel);
    // No window: the port decodes for the picture and draws into no tile.
    pChannel->SetPlayWnd(nullptr);
    if (!pChannel->Open(nStreamType))
        return -2;
    SetInputOpen(nChannel, true);
    if (!pChannel->StartPreview()) {
        SetInputOpen(nChannel, false);
        pChannel->Close();
        return -2;
    }
    return 0;
}

bool CRealPlayWidget::IsGunBallDevice(int nChannel)
{
    const QString strTag = "CRealPlayWidget::GunBallDeivcePlayOriginal";
    if (m_bFirstDevice)
        return ZDK_DEV_GetAbility(m_lLoginID, kGunBallPath, 0) != 0;

    std::vector<char> buffer(kGunBallReplySize, '\0');
    uint32_t nReturned = 0;
    const int nRet = ZDK_DEV_GetChannelAbility_Json(m_lLoginID, kGunBallAbility, -1, buffer.data(), kGunBallReplySize,
                                                    &nReturned, kGunBallWaitMs);
    if (nRet != 1) {
        LOGN(QString("GetChanenlAbility Failed(%1)-------Ret: %2 ").arg(kGunBallAbility).arg(nRet), strTag);
        return false;
    }
    // The answer carries no terminating zero: it is exactly as long as the device said, within the buffer.
    const std::string strAnswer(buffer.data(), std::min<size_t>(nReturned, buffer.size()));
    try {
        Json::Value parsed;
        if (!JsonText::Parse(strAnswer, parsed)) {
            LOGN("Json::Reader Parse Failed!", strTag);
            return false;
        }
        const Json::Value &root = parsed;   // reading never adds members
        const Json::Value &ret = root.isObject() ? root["Ret"] : Json::Value::nullSingleton();
        if (!ret.isConvertibleTo(Json::intValue) || ret.asInt() != 100) {
            LOGN(QString("ChannelAbility GunBallDevice Json: %1").arg(QString::fromStdString(strAnswer)), strTag);
            return false;
        }
        const Json::Value &name = root["Name"];
        if (!name.isString() || !root.isMember(name.asString()))
            return false;
        const Json::Value &flags = root[name.asString()];
        if (!flags.isArray() || static_cast<Json::ArrayIndex>(nChannel) >= flags.size())
            return false;
        const Json::Value &flag = flags[static_cast<Json::ArrayIndex>(nChannel)];
        return flag.isConvertibleTo(Json::booleanValue) && flag.asBool();
    } catch (const std::exception &) {
        LOGN("Json::Value Exception", strTag);
        return false;
    }
}

bool CRealPlayWidget::GunBallDeivcePlayOriginal(int nChannel, int nWndIndex)
{
    const bool bGunBall = IsGunBallDevice(nChannel);
    m_nWndChannel[static_cast<size_t>(nWndIndex)] = nChannel;
    if (bGunBall) {
        if (PlayOriginal(nChannel) != 0) {
            // Right after the start there is no picture, so no size yet: the tile keeps the source aspect and
            // takes the size with the first picture (InputData).
            m_nVideoSize[static_cast<size_t>(nChannel)] = PackSize(-1, -1);
            m_pPlayWindowManage->setPreviewStatus(nWndIndex, false);
            m_pPlayWindowManage->SetFitMode(nWndIndex, CVideoWnd::FIT_SOURCE);
            m_nPlayOriginalState[static_cast<size_t>(nChannel)] = 1;
        }
    } else {
        m_pPlayWindowManage->SetFitMode(nWndIndex, CVideoWnd::FIT_FILL);
        m_nPlayOriginalState[static_cast<size_t>(nChannel)] = 0;
    }
    return bGunBall;
}

int CRealPlayWidget::PreviewStop(int nChannel)
{
    if (!IsIndex(nChannel))
        return -1;
    if (m_bRecording[static_cast<size_t>(nChannel)]) {
        bool bRecording = false;
        Record(nChannel, false, bRecording);
    }
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    // Blocks still arriving for the channel are dropped from here on.
    SetInputOpen(nChannel, false);
    pChannel->StopPreview();
    const int nWndIndex = GetWndIndexByChannel(nChannel);
    if (nWndIndex >= 0) {
        m_pPlayWindowManage->SetZoomSelect(nWndIndex, false);
        m_nWndChannel[static_cast<size_t>(nWndIndex)] = kNoChannel;
        m_pPlayWindowManage->SetFitMode(nWndIndex, -1);
    }
    m_bDigitalZoom[static_cast<size_t>(nChannel)] = false;
    if (nChannel == m_soundChannel.Index())
        m_soundChannel.Forget();
    m_nPlayOriginalState[static_cast<size_t>(nChannel)] = -1;
    if (nWndIndex >= 0)
        m_pPlayWindowManage->setPreviewStatus(nWndIndex, false);
    pChannel->Close();
    if (nWndIndex >= 0) {
        m_pPlayWindowManage->ShowScaleSlider(nWndIndex, false, 0);
        m_pPlayWindowManage->UpdateWnd(nWndIndex);
    }
    return 0;
}

int CRealPlayWidget::InputData(int nChannel, const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame)
{
    if (!IsIndex(nChannel))
        return -1;
    LiveInput &input = m_liveInputs[static_cast<size_t>(nChannel)];
    std::lock_guard<std::mutex> lock(input.mutex);
    if (!input.bOpen || !input.pChannel)
        return -1;
    input.pChannel->InputData(pData, nLength, pFrame);
    if (m_nPlayOriginalState[static_cast<size_t>(nChannel)].load() != 1)
        return 0;
    int nWidth = 0, nHeight = 0;
    if (!input.pChannel->GetPictureSize(nWidth, nHeight) || nWidth <= 0 || nHeight <= 0)
        return 0;
    // One report per change: only the thread that stores the new size sends it.
    std::atomic<uint64_t> &size = m_nVideoSize[static_cast<size_t>(nChannel)];
    uint64_t nStored = size.load();
    const uint64_t nNew = PackSize(nWidth, nHeight);
    if (nStored != nNew && size.compare_exchange_strong(nStored, nNew))
        emit pictureSizeSig(nChannel, nWidth, nHeight);
    return 0;
}

void CRealPlayWidget::onPictureSize(int nChannel, int nWidth, int nHeight)
{
    // The channel may have left source-aspect display, or its window, since the size was seen.
    if (!IsIndex(nChannel) || m_nPlayOriginalState[static_cast<size_t>(nChannel)].load() != 1)
        return;
    const int nWndIndex = GetWndIndexByChannel(nChannel);
    if (nWndIndex < 0)
        return;
    m_pPlayWindowManage->SetVideoSize(nWndIndex, nWidth, nHeight);
    emit videoSizeChange(nWndIndex);
}

// ---------------------------------------------------------------------------------------------------------
// Recording and snapshots.

QString CRealPlayWidget::ChannelFileName(const char *pFolder, int nChannel, const QString &strExtension)
{
    const QString strName = QString("%1_%2.%3")
                                .arg(nChannel + 1, 2, 10, QChar('0'))
                                .arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"), strExtension);
    return QDir::cleanPath(QString::fromLocal8Bit(pFolder) + "/" + strName);
}

int CRealPlayWidget::Record(int nChannel, bool bOn, bool &bRecording)
{
    const QString strTag = "CRealPlayWidget::Record";
    LoadClientCfg(m_stLocalInfo);
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    int nRet = 0;
    if (bOn && pChannel->IsRecording()) {
        // Pressed again: the recording goes on. Stopping it would cut its file short, and a new start is refused
        // while that file is still being finished.
        nRet = 1;
    } else if (bOn) {
        QString strExtension;
        if (g_nOemMode == 1 || g_nOemMode == 2) {
            ChannelCodecTable codecs = {};
            CDataCenter::GetInstance()->GetChannelCodec(codecs);
            const int nRow = m_nStreamType[static_cast<size_t>(nChannel)] == 0 ? 0 : 1;
            strExtension = codecs[nRow][nChannel] == 1 ? "h264" : "h265";
        } else if (m_stLocalInfo.RecordType == 0) {
            strExtension = "h265x";
        } else if (m_stLocalInfo.RecordType == 2) {
            strExtension = "avi";
        }
        if (strExtension.isEmpty()) {
            // No file kind belongs to that record type: nothing is recorded.
            LOGW(QString("record type %1 has no file name").arg(m_stLocalInfo.RecordType), strTag);
        } else {
            QString strName = ChannelFileName(m_stLocalInfo.RecPath, nChannel, strExtension);
            // The decode library writes the very name it is given; the MP4 route of modes 1 and 2 frees its own.
            if (g_nOemMode != 1 && g_nOemMode != 2)
                strName = FreeFileName(strName);
            LOGN(strName, strTag);
            nRet = pChannel->StartRecord(strName.toLocal8Bit().constData(), m_stLocalInfo.RecordType);
        }
    } else {
        nRet = pChannel->StopRecord();
    }
    bRecording = pChannel->IsRecording();
    m_bRecording[static_cast<size_t>(nChannel)] = bRecording;
    LOGN(QString("nChannel :%1,bRecord :%2").arg(nChannel).arg(bRecording ? 1 : 0), strTag);
    return nRet ? 0 : -2;
}

int CRealPlayWidget::Snapshot(int nChannel, bool bConfigSnapshot)
{
    LoadClientCfg(m_stLocalInfo);
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    QString strName;
    int nType = m_stLocalInfo.ImageType;
    if (bConfigSnapshot) {
        // The configuration page reads this one file as a bitmap, whatever the snapshot type.
        strName = QDir::cleanPath(CDataCenter::GetInstance()->m_strAppDir + "/Cfg/capture.bmp");
        nType = 0;
    } else {
        strName = FreeFileName(ChannelFileName(m_stLocalInfo.CapPath, nChannel, nType != 0 ? "jpg" : "bmp"));
        nType = nType != 0 ? 1 : 0;
    }
    return pChannel->CapturePicture(strName.toLocal8Bit().constData(), nType) ? 0 : -2;
}

// ---------------------------------------------------------------------------------------------------------
// Sound, colour and display proportion.

int CRealPlayWidget::OpenSound(int nChannel, bool bOn)
{
    return m_soundChannel.Switch(nChannel, bOn, [this](int nIndex) { return GetDecodeChannel(nIndex); });
}

bool CRealPlayWidget::IsSoundOpen(int nChannel) const { return IsIndex(nChannel) && nChannel == m_soundChannel.Index(); }

int CRealPlayWidget::SetColor(int nWhich, int nValue)
{
    const int nWndIndex = GetCurWndIndex();
    const int nChannel = GetWndChannel(nWndIndex);
    if (!IsIndex(nWndIndex) || !IsIndex(nChannel))
        return -1;
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    return pChannel->SetColor(nWhich, nValue) ? 0 : -2;
}

int CRealPlayWidget::GetColor(int nChannel, int &nBrightness, int &nContrast, int &nSaturation, int &nHue)
{
    // A channel never opened has no colour to read; reading it makes no decode channel.
    CDecodeChannel *pChannel = ExistingChannel(nChannel);
    if (!pChannel)
        return -1;
    return pChannel->GetColor(nBrightness, nContrast, nSaturation, nHue) ? 0 : -2;
}

int CRealPlayWidget::PlayOriginal(int nChannel)
{
    LOGN(QString("CDecodeChannel::PlayOriginal --->nChannel %1").arg(nChannel), "CRealPlayWidget::PlayOriginal");
    CDecodeChannel *pChannel = GetDecodeChannel(nChannel);
    if (!pChannel)
        return -1;
    const int nWndIndex = GetWndIndexByChannel(nChannel);
    int nWidth = 0, nHeight = 0;
    if (!pChannel->GetPictureSize(nWidth, nHeight))
        return -2;
    if (nWndIndex >= 0) {
        m_nVideoSize[static_cast<size_t>(nChannel)] = PackSize(nWidth, nHeight);
        m_pPlayWindowManage->SetVideoSize(nWndIndex, nWidth, nHeight);
        if (m_bDigitalZoom[static_cast<size_t>(nChannel)])
            OnQuitDigitalZoom(nWndIndex);
        m_pPlayWindowManage->setPreviewStatus(nWndIndex, false);
        m_pPlayWindowManage->UpdateWnd(nWndIndex);
        m_pPlayWindowManage->SetFitMode(nWndIndex, CVideoWnd::FIT_SOURCE);
    }
    m_nPlayOriginalState[static_cast<size_t>(nChannel)] = 1;
    return 0;
}

int CRealPlayWidget::PlayNormal(int nChannel)
{
    if (!GetDecodeChannel(nChannel))
        return -1;
    const int nWndIndex = GetWndIndexByChannel(nChannel);
    if (nWndIndex >= 0) {
        m_pPlayWindowManage->setPreviewStatus(nWndIndex, true);
        m_pPlayWindowManage->UpdateWnd(nWndIndex);
        m_pPlayWindowManage->SetFitMode(nWndIndex, CVideoWnd::FIT_FILL);
    }
    m_nPlayOriginalState[static_cast<size_t>(nChannel)] = 0;
    return 0;
}

int CRealPlayWidget::PlayProportion(int nChannel, int nMode)
{
    if (!GetDecodeChannel(nChannel))
        return -1;
    const int nWndIndex = GetWndIndexByChannel(nChannel);
    if (nWndIndex >= 0) {
        if (m_bDigitalZoom[static_cast<size_t>(nChannel)])
            OnQuitDigitalZoom(nWndIndex);
        m_pPlayWindowManage->setPreviewStatus(nWndIndex, false);
        m_pPlayWindowManage->UpdateWnd(nWndIndex);
        m_pPlayWindowManage->SetFitMode(nWndIndex, nMode);
    }
    m_nPlayOriginalState[static_cast<size_t>(nChannel)] = nMode;
    return 0;
}

int CRealPlayWidget::GetPlayOriginalState(int nChannel) const
{
    return IsIndex(nChannel) ? m_nPlayOriginalState[static_cast<size_t>(nChannel)].load() : -1;
}

// ---------------------------------------------------------------------------------------------------------
// What the page holds.

int CRealPlayWidget::GetPlayState(int nChannel) const
{
    if (!IsIndex(nChannel))
        return -1;
    // A channel not made yet has a channel's first state.
    const CDecodeChannel *pChannel = ExistingChannel(nChannel);
    return pChannel ? pChannel->GetPlayState() : PLAY_STATE_STOPPED;
}

int CRealPlayWidget::GetStreamType(int nChannel) const
{
    return IsIndex(nChannel) ? m_nStreamType[static_cast<size_t>(nChannel)] : 0;
}

bool CRealPlayWidget::IsDigitalZoom(int nChannel) const
{
    return IsIndex(nChannel) && m_bDigitalZoom[static_cast<size_t>(nChannel)].load();
}

bool CRealPlayWidget::IsRecording(int nChannel) const
{
    return IsIndex(nChannel) && m_bRecording[static_cast<size_t>(nChannel)];
}

int CRealPlayWidget::GetWndChannel(int nWndIndex) const
{
    return IsIndex(nWndIndex) ? m_nWndChannel[static_cast<size_t>(nWndIndex)] : kNoChannel;
}

int CRealPlayWidget::GetWndIndexByChannel(int nChannel) const
{
    if (!IsIndex(nChannel))
        return -1;
    for (int i = 0; i < MAX_WND_NUM; ++i)
        if (m_nWndChannel[static_cast<size_t>(i)] == nChannel)
            return i;
    return -1;
}

int CRealPlayWidget::GetCurWndIndex() const { return m_pPlayWindowManage->GetCurWndIndex(); }

int CRealPlayWidget::GetCurWndChannel() const { return GetWndChannel(GetCurWndIndex()); }

// ---------------------------------------------------------------------------------------------------------
// The grid, full screen and the login.

int CRealPlayWidget::ChangeSplit(int nSplitIndex)
{
    static const int kCounts[] = {1, 4, 9, 16, 25, 36, 64};
    const int nCount = nSplitIndex >= 1 && nSplitIndex <= 6 ? kCounts[nSplitIndex] : 1;
    m_pPlayWindowManage->SetSplit(nCount);
    update();
    return 0;
}

void CRealPlayWidget::EnterFullScreenState()
{
    m_bFullScreen = true;
    m_pPlayWindowManage->ClearSelection();
}

void CRealPlayWidget::ExitFullScreenState()
{
    m_bFullScreen = false;
    m_pPlayWindowManage->RestoreSelection();
}

void CRealPlayWidget::SetSkin(const QString &strSkin) { m_pPlayWindowManage->SetSkin(strSkin); }

void CRealPlayWidget::SetDeviceInfo(int lLoginID, bool bFirstDevice, bool bSecondDevice)
{
    m_lLoginID = lLoginID;
    m_bFirstDevice = bFirstDevice;
    m_bSecondDevice = bSecondDevice;
}

void CRealPlayWidget::LoadClientCfg(LocalInfo &info) { LocalInfoFile::Read(info, CDataCenter::GetInstance()->m_strAppDir); }
