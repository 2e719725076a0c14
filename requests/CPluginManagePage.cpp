// Page, split and window state: the page change with the live channels closed and reopened, the split, the
// current window, the window's show, hide and move, the events that tell the page what a window shows, and the
// load events.

#include "requests/CPluginManage.h"

#include "device/PlayState.h"
#include "requests/WebMessage.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "windows/PlayWidget.h"

#include <algorithm>
#include <cstring>

namespace {

// A picture of at least 2560 x 1440 shows the electronic PTZ page.
constexpr int64_t kLargePicturePixels = 3686400;

bool IsLiveChannel(int nChannel) { return nChannel >= 0 && nChannel < 64; }

// What the live page shows of a channel, the defaults for none (GUI thread).
void LiveWndReadings(PlayWidget *pWidget, int nChannel, Json::Value &data)
{
    int nBrightness = 0;
    int nContrast = 0;
    int nSaturation = 0;
    int nHue = 0;
    data["PlayStatus"] = -1;
    data["RageState"] = -1;
    data["Audio"] = 0;
    data["DigitalZoom"] = false;
    if (nChannel >= 0 && pWidget) {
        pWidget->GetColor(nChannel, nBrightness, nContrast, nSaturation, nHue);
        data["Audio"] = pWidget->IsSoundOpen(PAGE_REALPLAY, nChannel) ? 1 : 0;
        data["DigitalZoom"] = pWidget->IsDigitalZoom(PAGE_REALPLAY, nChannel);
        data["RageState"] = pWidget->GetPlayOriginalState(nChannel);
        data["PlayStatus"] = pWidget->GetPlayState(PAGE_REALPLAY, nChannel);
    }
    data["nBrightness"] = nBrightness;
    data["nContrast"] = nContrast;
    data["nSaturation"] = nSaturation;
    data["nHue"] = nHue;
}

QString ShowElectEvent(int nShowElect)
{
    WebMessage event = WebMessage::Event(0, 6);
    event["nShowElect"] = nShowElect;
    return event.ToQString();
}

} // namespace

bool CPluginManage::WithPlayWidget(const std::function<void(PlayWidget &)> &fn)
{
    bool bDone = false;
    returnToMainThreadSync([&] {
        if (PlayWidget *pWidget = PlayWidget::Instance()) {
            fn(*pWidget);
            bDone = true;
        }
    });
    return bDone;
}

int CPluginManage::PlayStateToSpeed(int nState)
{
    if (IsSlowPlayState(nState))
        return nState - PLAY_STATE_SLOW_1 + 1;
    if (IsFastPlayState(nState))
        return nState - PLAY_STATE_FAST_1 + 1;
    return -1;
}

int CPluginManage::LargePictureFlag(int nWidth, int nHeight)
{
    return static_cast<int64_t>(nWidth) * nHeight >= kLargePicturePixels ? 1 : 0;
}

void CPluginManage::onMainMsgChangePage(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nPage = request["SubType"].asInt();
    DevLoginInfo &info = m_login.m_stDevLoginInfo;

    if (nPage != PAGE_COLORSET)
        StopColorPreview();
    if (nPage != PAGE_PLAYBACK) {
        StopPlaybackPanes();
        KillPlaybackTimers();
        StopDownload();
        std::vector<DownloadFileEntry>().swap(m_download.m_vecDownloadList);
        if (m_download.m_stDownloadRecord.State == 0)
            WithPlayWidget([](PlayWidget &widget) { widget.SetBackgroundPic(QString()); });
    }
    WithPlayWidget([nPage](PlayWidget &widget) { widget.SetPageIndex(nPage); });

    if (nPage == PAGE_PLAYBACK) {
        for (int nChannel = 0; nChannel < 64; ++nChannel) {
            if (info.RealPlayHandle[nChannel] <= 0)
                continue;
            StopLiveStream(nChannel);
            SaveChannel(nChannel);
            WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
            // Saved, to be opened again when the live page comes back.
            info.RealPlayHandle[nChannel] = -1;
            info.RestoreSaved = 1;
        }
    } else if (nPage == PAGE_REALPLAY) {
        ReopenSavedChannels();
    }

    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::ReopenSavedChannels()
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    WebMessage event = WebMessage::Event(0, 3);
    Json::Value &status = event["ChnStatus"];
    status = Json::Value(Json::arrayValue);
    const int nChannels = std::min(info.ChannelTotal, 64);
    for (int nChannel = 0; nChannel < nChannels; ++nChannel) {
        const uint8_t nEntry = info.RestoreTable.Entry[nChannel];
        const int nStream = (nEntry & 2) ? 1 : 0;
        const int nWnd = info.RestoreTable.Wnd[nChannel];
        int &lPlay = info.RealPlayHandle[nChannel];
        int nRet = RET_FAIL;
        if (nEntry & 1) {
            if (lPlay > 0) {
                nRet = RET_SUCCESS;
            } else if (nWnd <= 63) {
                // A channel opened in the window since it was saved gives it up.
                FreeLiveWnd(nWnd, true);
                m_page.m_stPicture[nChannel] = PictureRecord();
                int nPlay = -1;
                WithPlayWidget([&](PlayWidget &widget) { nPlay = widget.PreviewPlay(nStream, nChannel, nWnd); });
                if (nPlay < 0) {
                    nRet = RET_WND_FAIL;
                } else {
                    if (StartLiveStream(nChannel, nStream) < 0) {
                        WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
                        nRet = RET_OPEN_CHANNEL_FAIL;
                    } else {
                        nRet = RET_SUCCESS;
                    }
                }
            }
        } else if (lPlay > 0) {
            nRet = RET_SUCCESS;
        }
        bool bRecording = false;
        WithPlayWidget([&](PlayWidget &widget) { bRecording = widget.IsRecording(nChannel); });
        Json::Value entry(Json::objectValue);
        entry["Ret"] = nRet;
        entry["Chn"] = nChannel;
        entry["Stream"] = nStream;
        entry["Record"] = bRecording;
        status.append(entry);
    }

    const int nCurChannel = CurrentLiveChannel();
    SendWndStatus(nCurChannel, nCurChannel, m_nSessionId);
    std::memset(&info.RestoreTable, 0, sizeof info.RestoreTable);
    if (info.RestoreSaved == 1)
        sendWebSocketMsg(event.ToQString(), 1);
    info.RestoreSaved = 0;
}

void CPluginManage::onMainMsgChangeSplit(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSplit = request["SubType"].asInt();
    int nChannel = -1;
    WithPlayWidget([&](PlayWidget &widget) {
        widget.ChangeSplit(nSplit);
        nChannel = widget.GetWndChannel(PAGE_REALPLAY, 0);
    });
    reply["Chn"] = nChannel;
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgSetCurWnd(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nWnd = request["SubType"].asInt();
    WithPlayWidget([nWnd](PlayWidget &widget) { widget.SetCurWndIndex(nWnd); });
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgWidgetStatus(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nType = request["SubType"].asInt();
    const Json::Value &pos = request["Pos"];
    const PluginRegion region{pos["Left"].asInt(), pos["Top"].asInt(), pos["Width"].asInt(), pos["Height"].asInt()};
    WithPlayWidget([nType, region](PlayWidget &widget) { widget.onWidgetStatuChange(nType, region); });
    if (!request["Potocol"].isNull())
        return;
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::SendWndStatus(int nChannel, int nCurChannel, int /*nSessionId*/)
{
    WebMessage event = WebMessage::Event(0, 2);
    Json::Value &data = event["Data"];
    bool bLivePage = false;
    WithPlayWidget([&](PlayWidget &widget) {
        bLivePage = widget.GetPageIndex() == PAGE_REALPLAY;
        if (bLivePage)
            LiveWndReadings(&widget, nChannel, data);
    });
    if (!bLivePage)
        return;
    data["Chn"] = nChannel;
    data["CurChannel"] = nCurChannel;
    sendWebSocketMsg(event.ToQString(), 1);
}

void CPluginManage::SendShowElect(int nChannel, int /*nSessionId*/)
{
    if (IsLiveChannel(nChannel))
        m_page.m_stPicture[nChannel] = PictureRecord();
    sendWebSocketMsg(ShowElectEvent(0), 1);
}

void CPluginManage::onChangePTZELectPage()
{
    // Queued by the window: one that a logout has destroyed since has nothing to report.
    if (!WithPlayWidget([](PlayWidget &) {}))
        return;
    sendWebSocketMsg(ShowElectEvent(2), 1);
}

void CPluginManage::onShowPTZElect(int nWidth, int nHeight, int nChannel)
{
    // A report queued before its stream was stopped (by a close or a logout) is stale; acting on it after the
    // logout would make a new window.
    if (!IsLiveChannel(nChannel) || m_login.m_stDevLoginInfo.RealPlayHandle[nChannel] <= 0)
        return;
    PictureRecord &picture = m_page.m_stPicture[nChannel];
    // A change on either axis is a new picture size.
    if (nWidth == picture.nWidth && nHeight == picture.nHeight)
        return;
    LOGN(QString("uHeight:%1,uWidth:%2").arg(nHeight).arg(nWidth), "CPluginManage::onShowPTZElect");
    picture.nWidth = nWidth;
    picture.nHeight = nHeight;
    picture.nLargePicture = LargePictureFlag(nWidth, nHeight);
    const int nShowElect = picture.nLargePicture;
    WithPlayWidget([this, nChannel, nShowElect](PlayWidget &widget) {
        if (widget.GetCurWndChannel(PAGE_REALPLAY) == nChannel)
            sendWebSocketMsg(ShowElectEvent(nShowElect), 1);
    });
}

void CPluginManage::onCurWndIndexChange(int nPageId, int nWndIndex)
{
    // Sent by the window; one still queued when a logout destroyed it is about a window that is gone.
    if (nPageId == PAGE_REALPLAY) {
        WebMessage event = WebMessage::Event(0, 0);
        Json::Value &data = event["Data"];
        int nChannel = -1;
        if (!WithPlayWidget([&](PlayWidget &widget) {
                nChannel = widget.GetWndChannel(PAGE_REALPLAY, nWndIndex);
                LiveWndReadings(&widget, nChannel, data);
            }))
            return;
        data["Channel"] = nChannel;
        data["Wnd"] = nWndIndex;
        sendWebSocketMsg(event.ToQString(), 1);
        sendWebSocketMsg(ShowElectEvent(IsLiveChannel(nChannel) ? m_page.m_stPicture[nChannel].nLargePicture : 0), 1);
        return;
    }
    if (nPageId != PAGE_PLAYBACK)
        return;
    bool bRecord = false;
    bool bZoom = false;
    bool bSound = false;
    int nStatus = 0;
    if (!WithPlayWidget([&](PlayWidget &widget) {
            widget.GetPlaybackWndStatus(nWndIndex, bRecord, bZoom, bSound);
            nStatus = widget.GetPlayState(PAGE_PLAYBACK, nWndIndex);
        }))
        return;
    int nMode = -1;
    if ((nStatus == 5 || nStatus == 6) && nWndIndex >= 0 && nWndIndex < 4)
        nMode = PlayStateToSpeed(m_panes.m_stPaneRecord[nWndIndex].State);
    WebMessage event = WebMessage::Event(1, 0);
    Json::Value &data = event["Data"];
    data["Wnd"] = nWndIndex;
    data["Zoom"] = bZoom;
    data["Record"] = bRecord;
    data["Audio"] = bSound;
    data["Status"] = nStatus;
    data["Mode"] = nMode;
    sendWebSocketMsg(event.ToQString(), 1);
}

QString CPluginManage::SystemStatusEvent(int nLoginHandle, int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    if (nLoginHandle <= 0 || nAppCpuStatus < 0 || nSystemCpuStatus < 0)
        return QString();
    WebMessage event = WebMessage::Event(0, 5);
    event["AppCpu"] = nAppCpuStatus;
    event["SystemCpu"] = nSystemCpuStatus;
    event["AppMemory"] = nAppMemory;
    return event.ToQString();
}

void CPluginManage::onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    const QString strEvent =
        SystemStatusEvent(m_login.m_stDevLoginInfo.LoginHandle, nAppCpuStatus, nSystemCpuStatus, nAppMemory);
    // Once a second: kept out of the log.
    if (!strEvent.isEmpty())
        sendWebSocketMsg(strEvent, 0);
}
