// Live preview: the "MainType" 4 request that opens, closes, records, snapshots and adjusts live channels, one
// or a range at a time, and the data callbacks that carry the device library's blocks into the pages' decode
// channels.

#include "requests/CPluginManage.h"

#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "requests/CGetSystemStatus.h"
#include "requests/WebMessage.h"
#include "runtime/BuildVariant.h"
#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/MemoryRelease.h"
#include "runtime/ResultCodes.h"
#include "windows/LocalInfo.h"
#include "windows/PlayWidget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const char *const kTag = "CPluginManage::onMainMsgPreview";

// The live handle table holds one entry per channel.
constexpr int kMaxChannels = 64;
// A "Channel" above this opens a range of that many channels less this, from channel 0.
constexpr int kRangeBase = 256;
// The 32-bit deliverable's budget: what a stream costs, and the memory it counts on at most.
constexpr int kMainStreamMiB = 40;
constexpr int kSubStreamMiB = 25;
constexpr int kBudgetCeilingMiB = 1024;

bool IsLiveChannel(int nChannel) { return nChannel >= 0 && nChannel < kMaxChannels; }

// "Ret" of a page operation: 0 is success.
int PageRet(int nResult) { return nResult == 0 ? RET_SUCCESS : RET_FAIL; }


} // namespace

// ---------------------------------------------------------------------------------------------------------
// Data callbacks, on the device library's threads. The window exists from the login that opened a stream until
// the logout that has stopped it; a callback never makes one, and drops its block when there is none. Each
// reaches only its decode channel.

int32_t CPluginManage::RealDataCallBackV2(int32_t /*lRealHandle*/, const RealDataFrame *pFrame, void *pUser)
{
    if (!pFrame)
        return 1;
    const int nChannel = CQZConnect::UserChannel(pUser);
    if (PlayWidget *pWidget = PlayWidget::Instance())
        pWidget->PreviewInputData(nChannel, pFrame->pData, pFrame->nDataLength, pFrame);
    CPluginManage *pManage = Instance();
    if (pFrame->nKind == ZDK_FRAME_VIDEO && pManage) {
        const int nWidth = pFrame->nWidth;
        const int nHeight = pFrame->nHeight;
        emit pManage->returnToThisThreadSig(
            [pManage, nWidth, nHeight, nChannel] { pManage->onShowPTZElect(nWidth, nHeight, nChannel); });
    }
    return 1;
}

int32_t CPluginManage::RealDataCallBack(int32_t /*lHandle*/, int32_t /*nDataType*/, const unsigned char *pBuffer,
                                        uint32_t nBufSize, void *pUser)
{
    if (!pUser)
        return -1;
    if (PlayWidget *pWidget = PlayWidget::Instance())
        pWidget->ColorInputData(pBuffer, nBufSize);
    return 1;
}

int32_t CPluginManage::CaptureDataCallBack(int32_t /*lHandle*/, int32_t /*nDataType*/, const unsigned char *pBuffer,
                                           uint32_t nBufSize, void *pUser)
{
    if (PlayWidget *pWidget = PlayWidget::Instance())
        pWidget->PreviewInputData(CQZConnect::UserChannel(pUser), pBuffer, nBufSize, nullptr);
    return 1;
}

// ---------------------------------------------------------------------------------------------------------
// The request.

int CPluginManage::PreviewSupportNum(int nAvailMiB, int nAppMiB, int nStreamType)
{
    const int nRemain = std::min(nAvailMiB, kBudgetCeilingMiB);
    return (nRemain - nAppMiB) / (nStreamType == 0 ? kMainStreamMiB : kSubStreamMiB);
}

int CPluginManage::PreviewBudget(int nStreamType, bool bRange)
{
    const int nRemain = std::min(m_pSystemStatus->GetAvailMemory(), kBudgetCeilingMiB);
    const int nOwn = m_pSystemStatus->GetAppMemory();
    if (bRange)
        LOGN(QString("nRemainMemory--------->nRemainMemory:%1").arg(nRemain), kTag);
    LOGN(QString("CurAppMemory=%1<==========================>CurRemainMemory=%2").arg(nOwn).arg(nRemain), kTag);
    const int nSupport = PreviewSupportNum(nRemain, nOwn, nStreamType);
    if (!bRange)
        LOGN(QString("nSupportNum : %1").arg(nSupport), kTag);
    return nSupport;
}

void CPluginManage::onMainMsgPreview(const Json::Value &request)
{
    const int nSubType = request["SubType"].asInt();
    switch (nSubType) {
    case 0:
        PreviewOpen(request);
        return;
    case 1:
        PreviewClose(request);
        return;
    case 10:
        PreviewRecord(request);
        return;
    case 2: case 3: case 4: case 5: case 7: case 8: case 9: case 12: case 13: case 18:
        break;
    default:
        // Not an operation of the live page: no reply.
        return;
    }

    WebMessage reply = WebMessage::Reply(request);
    switch (nSubType) {
    case 2: {
        const int nChannel = request["Channel"].asInt();
        int nBrightness = 0, nContrast = 0, nSaturation = 0, nHue = 0;
        int nResult = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            nResult = widget.GetColor(nChannel, nBrightness, nContrast, nSaturation, nHue);
        });
        if (nResult != 0)
            nBrightness = nContrast = nSaturation = nHue = 0;
        LOGN(QString("nChannel=%1 nBrightness=%2 nContrast=%3 nSaturation=%4 nHue=%5")
                 .arg(nChannel)
                 .arg(nBrightness)
                 .arg(nContrast)
                 .arg(nSaturation)
                 .arg(nHue),
             kTag);
        reply["nBrightness"] = nBrightness;
        reply["nContrast"] = nContrast;
        reply["nSaturation"] = nSaturation;
        reply["nHue"] = nHue;
        reply.SetRet(PageRet(nResult));
        break;
    }
    case 3: {
        const int nType = request["Type"].asInt();
        const int nValue = request["Value"].asInt();
        int nResult = -1;
        WithPlayWidget([&](PlayWidget &widget) { nResult = widget.SetColor(nType, nValue); });
        reply["Chn"] = -1;
        reply.SetRet(PageRet(nResult));
        break;
    }
    case 4: {
        const int nChannel = request["Channel"].asInt();
        int nState = -1;
        WithPlayWidget([&](PlayWidget &widget) { nState = widget.GetPlayState(PAGE_REALPLAY, nChannel); });
        reply["Status"] = nState < 0 ? -1 : nState;
        reply.SetRet(nState < 0 ? RET_FAIL : RET_SUCCESS);
        break;
    }
    case 5:
        WithPlayWidget([](PlayWidget &widget) { widget.onFullScreen(); });
        reply["Chn"] = -1;
        reply.SetRet(RET_SUCCESS);
        break;
    case 7: {
        int nChannel = -1;
        WithPlayWidget([&](PlayWidget &widget) { nChannel = widget.GetCurWndChannel(5); });
        reply["Chn"] = nChannel;
        reply.SetRet(RET_SUCCESS);
        break;
    }
    case 8: {
        const int nChannel = request["Channel"].asInt();
        int nResult = -1;
        bool bAudio = false;
        WithPlayWidget([&](PlayWidget &widget) {
            nResult = widget.OpenSound(PAGE_REALPLAY, nChannel, !widget.IsSoundOpen(PAGE_REALPLAY, nChannel));
            bAudio = widget.IsSoundOpen(PAGE_REALPLAY, nChannel);
        });
        reply["Audio"] = bAudio;
        reply["Chn"] = nChannel;
        reply.SetRet(PageRet(nResult));
        break;
    }
    case 9: {
        const int nChannel = request["Channel"].asInt();
        int nResult = -1;
        LocalInfo info{};
        WithPlayWidget([&](PlayWidget &widget) {
            nResult = widget.Snapshot(nChannel, false);
            if (nResult >= 0)
                PlayWidget::LoadLocalInfo(info);
        });
        if (nResult < 0) {
            reply.SetRet(RET_FAIL);
        } else {
            reply["CapPath"] = FixedText::ReadLocal(info.CapPath).toStdString();
            reply.SetRet(RET_SUCCESS);
        }
        reply["Chn"] = nChannel;
        break;
    }
    case 12:
    case 13: {
        int nResult = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            const int nChannel = widget.GetCurWndChannel(PAGE_REALPLAY);
            if (nSubType == 12) {
                LOGN(QString("PlayControlCmdPlayOriginal--->%1").arg(nChannel), kTag);
                nResult = widget.PlayOriginal(nChannel);
            } else {
                nResult = widget.PlayNormal(nChannel);
            }
        });
        reply.SetRet(PageRet(nResult));
        break;
    }
    case 18: {
        const int nRatio = request["Ratio"].asInt();
        int nResult = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            nResult = widget.PlayProportion(widget.GetCurWndChannel(PAGE_REALPLAY), nRatio);
        });
        reply["Ratio"] = nRatio;
        reply.SetRet(PageRet(nResult));
        break;
    }
    default:
        return;
    }
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::StopLiveStream(int nChannel)
{
    int32_t &lPlay = m_login.m_stDevLoginInfo.RealPlayHandle[nChannel];
    if (lPlay > 0)
        CQZConnect::GetInstance()->DisconnectChannel_V2(lPlay, &CPluginManage::RealDataCallBackV2,
                                                         ZDK_ChannelToUser(nChannel));
    lPlay = 0;
}

int CPluginManage::StartLiveStream(int nChannel, int nStreamType)
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    int lPlay = CQZConnect::GetInstance()->ConnectChanel_V2(info.LoginHandle, nChannel, nStreamType,
                                                           &CPluginManage::RealDataCallBackV2,
                                                           ZDK_ChannelToUser(nChannel));
    if (lPlay == 0)
        lPlay = -1;
    info.RealPlayHandle[nChannel] = lPlay;
    return lPlay;
}

int CPluginManage::CurrentLiveChannel()
{
    int nChannel = -1;
    WithPlayWidget([&](PlayWidget &widget) { nChannel = widget.GetCurWndChannel(PAGE_REALPLAY); });
    return nChannel;
}

int CPluginManage::LiveWndChannel(int nWndIndex)
{
    // Off the live page the current window reads -1, but a preview still goes to the live page's own.
    if (nWndIndex == -1)
        return CurrentLiveChannel();
    int nChannel = -1;
    WithPlayWidget([&](PlayWidget &widget) { nChannel = widget.GetWndChannel(PAGE_REALPLAY, nWndIndex); });
    return nChannel;
}

int CPluginManage::FreeLiveWnd(int nWndIndex, bool bReport)
{
    const int nOldChannel = LiveWndChannel(nWndIndex);
    if (!IsLiveChannel(nOldChannel))
        return -1;
    // Its stream would go on drawing into the window the next channel draws into.
    StopLiveStream(nOldChannel);
    WithPlayWidget([nOldChannel](PlayWidget &widget) { widget.PreviewStop(nOldChannel); });
    SendShowElect(nOldChannel, m_nSessionId);
    if (bReport)
        SendWndStatus(nOldChannel, CurrentLiveChannel(), m_nSessionId);
    return nOldChannel;
}

void CPluginManage::PreviewOpen(const Json::Value &request)
{
    const int nChannel = request["Channel"].asInt();
    const int nStream = request["Stream"].asInt();
    if (nChannel == -1 || nChannel > kRangeBase) {
        const int nCount = nChannel == -1 ? m_login.m_stDevLoginInfo.ChannelTotal : nChannel - kRangeBase;
        PreviewOpenRange(request, std::clamp(nCount, 0, kMaxChannels), nStream);
        return;
    }

    WebMessage reply = WebMessage::Reply(request);
    if (!IsLiveChannel(nChannel)) {
        // No entry of the channel tables belongs to it.
        LOGW(QString("no live channel %1").arg(nChannel), kTag);
        reply["Chn"] = nChannel;
        reply["oldChn"] = -1;
        reply["Stream"] = nStream;
        reply.SetRet(RET_FAIL);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    // The channel leaves the tile it shows in, and the current window's channel leaves it.
    if (m_login.m_stDevLoginInfo.RealPlayHandle[nChannel] > 0) {
        StopLiveStream(nChannel);
        WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
        SendShowElect(nChannel, m_nSessionId);
    }
    int nCurWnd = -1;
    WithPlayWidget([&](PlayWidget &widget) { nCurWnd = widget.GetCurWndIndex(); });
    const int nOldChannel = FreeLiveWnd(nCurWnd, false);
    reply["Chn"] = nChannel;
    reply["oldChn"] = nOldChannel;
    reply["Stream"] = nStream;

    if (g_bPreviewMemoryBudget && PreviewBudget(nStream, false) <= 0) {
        LOGN("The remaining memory is not enough to open all channels of the device! ", kTag);
        reply.SetRet(RET_MEMORY_LOW);
    } else {
        m_page.m_stPicture[nChannel] = PictureRecord();
        int nPlay = -1;
        WithPlayWidget([&](PlayWidget &widget) { nPlay = widget.PreviewPlay(nStream, nChannel, nCurWnd); });
        if (nPlay < 0) {
            m_login.m_stDevLoginInfo.RealPlayHandle[nChannel] = -1;
            reply.SetRet(RET_WND_FAIL);
        } else {
            const int lPlay = StartLiveStream(nChannel, nStream);
            if (lPlay < 0) {
                reply["Error"] = lPlay;
                reply.SetRet(RET_OPEN_CHANNEL_FAIL);
                WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
                SendShowElect(nChannel, m_nSessionId);
            } else {
                reply.SetRet(RET_SUCCESS);
            }
        }
    }

    SendWndStatus(nChannel, CurrentLiveChannel(), m_nSessionId);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::PreviewOpenRange(const Json::Value &request, int nCount, int nStream)
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    WebMessage reply = WebMessage::Reply(request);
    reply["Chn"] = 0;
    reply["oldChn"] = 0;
    reply["Stream"] = 0;
    int nRet = RET_FAIL;

    // Streams first, then tiles: no block of a stream can reach a tile that is closed already.
    std::vector<int> open;
    for (int i = 0; i < nCount; ++i) {
        if (info.RealPlayHandle[i] > 0) {
            StopLiveStream(i);
            open.push_back(i);
        }
    }
    if (!open.empty()) {
        WithPlayWidget([&open](PlayWidget &widget) {
            for (int nChannel : open)
                widget.PreviewStop(nChannel);
        });
    }

    int nOpen = nCount;
    if (g_bPreviewMemoryBudget)
        nOpen = std::clamp(PreviewBudget(nStream, true), 0, nCount);

    WebMessage event = WebMessage::Event(0, 3);
    Json::Value &status = event["ChnStatus"];
    status = Json::Value(Json::arrayValue);
    for (int i = 0; i < nOpen; ++i) {
        Json::Value entry(Json::objectValue);
        // A channel outside the range that window i shows gives it up.
        FreeLiveWnd(i, true);
        int nPlay = -1;
        WithPlayWidget([&](PlayWidget &widget) { nPlay = widget.PreviewPlay(nStream, i, i); });
        if (nPlay < 0) {
            info.RealPlayHandle[i] = -1;
            nRet = RET_WND_FAIL;
        } else {
            m_page.m_stPicture[i] = PictureRecord();
            const int lPlay = StartLiveStream(i, nStream);
            if (lPlay < 0) {
                nRet = RET_OPEN_CHANNEL_FAIL;
                entry["Error"] = lPlay;
                WithPlayWidget([i](PlayWidget &widget) { widget.PreviewStop(i); });
            } else {
                nRet = RET_SUCCESS;
            }
        }
        bool bRecording = false;
        WithPlayWidget([&](PlayWidget &widget) { bRecording = widget.IsRecording(i); });
        entry["Ret"] = nRet;
        entry["Chn"] = i;
        entry["Stream"] = nStream;
        entry["Record"] = bRecording;
        status.append(entry);
    }

    const int nCurChannel = CurrentLiveChannel();
    SendWndStatus(nCurChannel, nCurChannel, m_nSessionId);
    SendShowElect(nCurChannel, m_nSessionId);
    reply.SetRet(nRet);
    sendWebSocketMsg(event.ToQString(), 1);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::PreviewClose(const Json::Value &request)
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const int nChannel = request["Channel"].asInt();
    WebMessage reply = WebMessage::Reply(request);
    LOGN(QString("stop play channel:%1").arg(nChannel), kTag);

    if (IsLiveChannel(nChannel)) {
        StopLiveStream(nChannel);
        int nCurChannel = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            nCurChannel = widget.GetCurWndChannel(PAGE_REALPLAY);
            widget.PreviewStop(nChannel);
        });
        SendShowElect(nChannel, m_nSessionId);
        SendWndStatus(nChannel, nCurChannel, m_nSessionId);
        reply["Chn"] = nChannel;
        reply.SetRet(RET_SUCCESS);
        sendWebSocketMsg(reply.ToQString(), 1);
        // What the tile's decoder freed goes back, so that the budget does not count it.
        MemoryRelease::GiveBack();
        return;
    }

    if (nChannel == -1)
        std::fill(std::begin(m_page.m_stPicture), std::end(m_page.m_stPicture), PictureRecord());
    WebMessage event = WebMessage::Event(0, 3);
    event.SetRet(RET_FAIL);
    Json::Value &status = event["ChnStatus"];
    status = Json::Value(Json::arrayValue);
    const int nChannels = std::clamp(info.ChannelTotal, 0, kMaxChannels);
    for (int i = 0; i < nChannels; ++i) {
        const bool bOpen = info.RealPlayHandle[i] > 0;
        StopLiveStream(i);
        bool bRecording = false;
        WithPlayWidget([&](PlayWidget &widget) {
            if (bOpen)
                widget.PreviewStop(i);
            bRecording = widget.IsRecording(i);
        });
        Json::Value entry(Json::objectValue);
        entry["Ret"] = RET_SUCCESS;
        entry["Chn"] = i;
        entry["Stream"] = 9;
        entry["Record"] = bRecording;
        status.append(entry);
    }
    const int nCurChannel = CurrentLiveChannel();
    SendWndStatus(nCurChannel, nCurChannel, m_nSessionId);
    SendShowElect(nCurChannel, m_nSessionId);
    sendWebSocketMsg(event.ToQString(), 1);
    reply["Chn"] = nChannel;
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
    MemoryRelease::GiveBack();
}

void CPluginManage::PreviewRecord(const Json::Value &request)
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const int nChannel = request["Channel"].asInt();
    const bool bOn = request["Record"].asInt() != 0;
    WebMessage reply = WebMessage::Reply(request);

    // The recorder names the file after the stream's codec.
    if (g_nOemMode == 1 || g_nOemMode == 2) {
        ChannelCodecTable table;
        std::memset(table, 0, sizeof table);
        CQZConnect::GetInstance()->GetEncodeFormat(info.LoginHandle, table);
        CDataCenter::GetInstance()->SetChannelCodec(table);
    }

    if (nChannel != -1) {
        int nResult = -1;
        LocalInfo local{};
        WithPlayWidget([&](PlayWidget &widget) {
            bool bRecording = false;
            nResult = widget.Record(nChannel, bOn, bRecording);
            PlayWidget::LoadLocalInfo(local);
        });
        reply["RecPath"] = FixedText::ReadLocal(local.RecPath).toStdString();
        reply["Chn"] = nChannel;
        reply["Record"] = bOn;
        reply.SetRet(PageRet(nResult));
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    WebMessage event = WebMessage::Event(0, 3);
    Json::Value &status = event["ChnStatus"];
    status = Json::Value(Json::arrayValue);
    const int nChannels = std::clamp(info.ChannelTotal, 0, kMaxChannels);
    WithPlayWidget([&](PlayWidget &widget) {
        PlayWidget *pWidget = &widget;
        for (int i = 0; i < nChannels; ++i) {
            bool bRecording = false;
            const int nResult = pWidget->Record(i, bOn, bRecording);
            Json::Value entry(Json::objectValue);
            entry["Ret"] = PageRet(nResult);
            entry["Chn"] = i;
            entry["Record"] = pWidget->IsRecording(i);
            status.append(entry);
        }
    });
    sendWebSocketMsg(event.ToQString(), 1);
    reply["Record"] = 0;
    reply["Chn"] = -1;
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::RecordFailCallBack(int nChannel, bool bRecording, void *pUser)
{
    auto *pManage = static_cast<CPluginManage *>(pUser);
    if (!pManage || !IsLiveChannel(nChannel))
        return;
    WebMessage event = WebMessage::Event(0, 3);
    Json::Value entry(Json::objectValue);
    entry["Ret"] = RET_FAIL;
    entry["Chn"] = nChannel;
    entry["Record"] = bRecording;
    event["ChnStatus"].append(entry);
    pManage->sendWebSocketMsg(event.ToQString(), 1);
}
