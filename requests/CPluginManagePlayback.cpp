// Playback: recordings of the device (by a file list in one pane, or by time in up to four) and local files
// in the playback page's panes; speed, position, sound, zoom, clips, snapshots and pane status; the device
// library's playback callbacks, and the window timer that reports play positions.

#include "requests/BrowseChooser.h"
#include "requests/CPluginManage.h"
#include "requests/WebMessage.h"
#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "windows/HostPlayState.h"
#include "windows/LocalInfo.h"
#include "windows/PlayWidget.h"

#include <QThread>
#include <QTimerEvent>

#include <cstdio>

namespace {

enum PlaybackSubType {
    SUB_LOCAL_FILE = 33,
    SUB_START = 34,
    SUB_STOP = 35,
    SUB_PAGE_MODE = 36,
    SUB_DOWNLOAD = 39,
    SUB_CONTROL = 40,
    SUB_SNAPSHOT = 41,
    SUB_SOUND = 42,
    SUB_ZOOM = 43,
    SUB_RECORD = 44,
    SUB_STATUS = 45,
    SUB_DOWNLOAD_STOP = 46,
};

// The playback page's modes, as the page-mode request gives them.
enum PageMode { PAGE_MODE_LOCAL = 0, PAGE_MODE_FILE_LIST = 1, PAGE_MODE_BY_TIME = 2 };
// How the device plays a recording.
enum PlayKind { PLAY_BY_FILE = 1, PLAY_BY_TIME = 2 };

enum PlayCommand {
    CMD_PAUSE = 2,
    CMD_RESUME = 3,
    CMD_SEEK = 4,
    CMD_FASTER = 10,
    CMD_SLOWER = 11,
    CMD_STEP = 100,
    CMD_STEP_BACK = 101,
};

constexpr int kPaneCount = 4;
constexpr int kTimerMs = 1000;
// The pause between the end of one file of a list and the start of the next.
constexpr unsigned long kNextFileMs = 200;

bool IsPane(int nPane) { return nPane >= 0 && nPane < kPaneCount; }

} // namespace

int CPluginManage::NextSpeedState(int nState, int nFirst)
{
    if (nState >= nFirst && nState < nFirst + 3)
        return nState + 1;
    if (nState == nFirst + 3)
        return PLAY_STATE_NORMAL;
    return nFirst;
}

int CPluginManage::PaneStatusOfState(int nPane, int nState)
{
    // No pane: playing, whatever the state.
    return nPane < 0 ? 2 : HostPlayState(nState, 0);
}

uint32_t CPluginManage::FileLengthField(const Json::Value &value)
{
    unsigned int nLength = 0;
    if (std::sscanf(value.asString().c_str(), "0x%08X", &nLength) != 1)
        nLength = 0;
    return nLength;
}

QString CPluginManage::TextField(const Json::Value &value) { return QString::fromStdString(value.asString()); }

LocalInfo CPluginManage::LoadLocalInfoSync()
{
    LocalInfo info{};
    returnToMainThreadSync([&info] { PlayWidget::LoadLocalInfo(info); });
    return info;
}

void CPluginManage::onMainMsgPlayback(const Json::Value &request)
{
    switch (request["SubType"].asInt()) {
    case SUB_LOCAL_FILE:
        HandleLocalFile(request);
        break;
    case SUB_START:
        HandlePlaybackStart(request);
        break;
    case SUB_STOP:
        HandlePlaybackStop(request);
        break;
    case SUB_PAGE_MODE:
        HandlePlaybackMode(request);
        break;
    case SUB_DOWNLOAD:
        HandleDownload(request);
        break;
    case SUB_CONTROL:
        HandlePlayControl(request);
        break;
    case SUB_SNAPSHOT:
    case SUB_SOUND:
    case SUB_ZOOM:
    case SUB_RECORD:
    case SUB_STATUS:
        HandlePaneRequest(request);
        break;
    case SUB_DOWNLOAD_STOP:
        HandleDownloadStop(request);
        break;
    default:
        // No reply.
        break;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Local files.

void CPluginManage::HandleLocalFile(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    // The answer comes when the chooser ends; requests go on meanwhile.
    BrowseChooser::Start(this, 3, 1, [this, reply](const BrowseChooser::Result &result) mutable {
        int nResult = RET_FAIL;
        if (result.eOutcome == BrowseChooser::Chosen)
            OpenLocalFile(reply, result.Path(), nResult);
        reply.SetRet(nResult);
        sendWebSocketMsg(reply.ToQString(), 1);
    });
}

void CPluginManage::OpenLocalFile(WebMessage &reply, const QString &strPath, int &nResult)
{
    if (strPath.isEmpty()) {
        reply["Path"] = "";
        return;
    }
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const QByteArray path = strPath.toLocal8Bit();
    int nPane = -1;
    WithPlayWidget([&nPane](PlayWidget &widget) { nPane = widget.GetCurWndIndex(); });
    if (IsPane(nPane)) {
        PlayUserRecord &record = m_panes.m_stPaneRecord[nPane];
        int &lPlay = info.PlaybackHandle[nPane];
        if (lPlay > 0) {
            ClosePane(nPane);
            lPlay = 0;
        }
        // Numbered before its end callback can run, so that the end of an earlier file is told from its own.
        m_panes.m_nLocalPlay[nPane] = ++m_panes.m_nLastLocalPlay;
        int nOpened = 0;
        int nStarted = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            nOpened = pWidget->BeginLocalPlay(nPane, path.constData(), &CPluginManage::FileEndCallBack, &record);
            if (nOpened > 0)
                nStarted = pWidget->PlaybackStart(0, nPane, nPane);
        });
        lPlay = nOpened;
        if (nOpened > 0 && nStarted < 0) {
            lPlay = -1;
        } else if (nOpened > 0) {
            record.Channel = nPane;
            record.Pane = nPane;
            record.State = PLAY_STATE_NORMAL;
            WithPlayWidget([nPane](PlayWidget &widget) { widget.SetPlaybackWndChannel(nPane, nPane); });
        }
        if (lPlay > 0) {
            nResult = RET_SUCCESS;
        } else {
            ClosePane(nPane);
            lPlay = -1;
        }
    }
    reply["Wnd"] = nPane;
    if (nResult == RET_SUCCESS)
        StartWndTimer();
}

void CPluginManage::onEndPlayback(int nChannel, int nPane, int32_t nLocalPlay)
{
    if (!IsPane(nPane))
        return;
    int &lPlay = m_login.m_stDevLoginInfo.PlaybackHandle[nPane];
    if (lPlay < 1)
        return;
    if (nLocalPlay == 0 || nLocalPlay != m_panes.m_nLocalPlay[nPane]) {
        LOGN(QString("end of an earlier local file of pane %1 dropped").arg(nPane), "CPluginManage::onEndPlayback");
        return;
    }
    ClosePane(nPane);
    lPlay = 0;
    StopWndTimer();
    WebMessage event = WebMessage::Event(1, 2);
    event["Data"]["Chn"] = nChannel;
    event["Data"]["Wnd"] = nPane;
    sendWebSocketMsg(event.ToQString(), 1);
}

// ---------------------------------------------------------------------------------------------------------
// Device playback.

void CPluginManage::HandlePlaybackStart(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    PaneMembers &panes = m_panes;

    // The whole request is read before the list changes: one that cannot be read leaves the running list.
    const int nMode = request["Mode"].asInt();
    const int nSelectWnd = request["SelectWnd"].asInt();
    const int nChannel = request["Channel"].asInt();
    const int nStream = request["Stream"].asInt();
    const Json::Value &files = request["FileInfo"];
    const Json::ArrayIndex nFiles = files.isArray() ? files.size() : 0;
    std::vector<PlaybackFileEntry> list(nFiles, PlaybackFileEntry{});
    for (Json::ArrayIndex i = 0; i < nFiles && (nMode == PLAY_BY_FILE || nMode == PLAY_BY_TIME); ++i) {
        const Json::Value &file = files[i];
        PlaybackFileEntry &entry = list[i];
        entry.Stream = nStream;
        FixedText::Copy(entry.BeginTime, TextField(file["BeginTime"]));
        FixedText::Copy(entry.EndTime, TextField(file["EndTime"]));
        if (nMode == PLAY_BY_FILE) {
            entry.Channel = nChannel;
            entry.FileLength = FileLengthField(file["FileLength"]);
            FixedText::Copy(entry.FileName, TextField(file["FileName"]));
            entry.Wnd = nSelectWnd;
        } else {
            entry.Channel = file["Channel"].asInt();
            entry.Wnd = file["Wnd"].asInt();
            entry.FileType = file["FileType"].asInt();
        }
    }
    panes.m_vecFileList = std::move(list);
    panes.m_nFileListMode = nMode;
    panes.m_nFileIndex = 0;
    panes.m_nSelectWnd = nSelectWnd;

    int nResult = RET_UNSUPPORTED;
    int nError = 0;
    if (nMode == PLAY_BY_FILE) {
        nResult = StartPlayback(0, nError);
    } else if (nMode == PLAY_BY_TIME && nFiles > 0) {
        DevLoginInfo &info = m_login.m_stDevLoginInfo;
        Json::Value &status = reply["ChnStatus"];
        status = Json::Value(Json::arrayValue);
        for (Json::ArrayIndex i = 0; i < nFiles; ++i) {
            const PlaybackFileEntry &entry = panes.m_vecFileList[i];
            const int nWnd = entry.Wnd;
            int nEntryError = 0;
            if (IsPane(nWnd)) {
                EndPanePlayback(nWnd);
                m_panes.m_nLocalPlay[nWnd] = 0;
                int &lPlay = info.PlaybackHandle[nWnd];
                int nStarted = -1;
                WithPlayWidget(
                    [&](PlayWidget &widget) { nStarted = widget.PlaybackStart(entry.Stream, entry.Channel, nWnd); });
                nResult = nStarted < 0 ? RET_FAIL : RET_SUCCESS;
                lPlay = -1;
                if (nResult == RET_SUCCESS) {
                    PlayUserRecord &record = panes.m_stPaneRecord[nWnd];
                    record.Channel = entry.Channel;
                    record.Pane = nWnd;
                    record.State = PLAY_STATE_NORMAL;
                    WithPlayWidget([&](PlayWidget &widget) {
                        PlayWidget *pWidget = &widget;
                        pWidget->SetPlaybackWndChannel(entry.Channel, nWnd);
                        pWidget->SetPlaybackTime(nWnd, entry.BeginTime, entry.EndTime);
                    });
                    lPlay = CQZConnect::GetInstance()->BeginPlayback(
                        info.LoginHandle, entry.Channel, PLAY_BY_TIME, entry, &CPluginManage::PlayBackDataCallBack,
                        &CPluginManage::PlayPosCallBack, &record, nEntryError);
                    if (lPlay == 0)
                        lPlay = -1;
                }
                if (lPlay < 0) {
                    // The device refused the recording: nothing plays in the pane.
                    ClosePane(nWnd);
                    nResult = RET_FAIL;
                } else {
                    StartWndTimer();
                    nResult = RET_SUCCESS;
                }
            } else {
                // No such pane: nothing is touched.
                nResult = RET_FAIL;
            }
            Json::Value item(Json::objectValue);
            item["Error"] = nEntryError;
            item["Ret"] = nResult;
            item["Chn"] = static_cast<int>(i);
            item["Stream"] = entry.Stream;
            item["Wnd"] = nWnd;
            status.append(item);
        }
        std::vector<PlaybackFileEntry>().swap(panes.m_vecFileList);
        if (nSelectWnd >= 0 && nSelectWnd <= 4) {
            WithPlayWidget([nSelectWnd](PlayWidget &widget) { widget.SetCurWndIndex(nSelectWnd); });
        } else {
            int nCurPane = -1;
            WithPlayWidget([&nCurPane](PlayWidget &widget) { nCurPane = widget.GetCurWndIndex(); });
            onCurWndIndexChange(PAGE_PLAYBACK, nCurPane);
        }
    } else {
        std::vector<PlaybackFileEntry>().swap(panes.m_vecFileList);
        nResult = nMode == PLAY_BY_TIME ? RET_FAIL : RET_UNSUPPORTED;
    }
    reply["Error"] = nMode == PLAY_BY_FILE ? nError : 0;
    reply.SetRet(nResult);
    sendWebSocketMsg(reply.ToQString(), 1);
}

int CPluginManage::StartPlayback(int nIndex, int &nError)
{
    PaneMembers &panes = m_panes;
    if (nIndex < 0 || nIndex >= static_cast<int>(panes.m_vecFileList.size()))
        return RET_UNSUPPORTED;
    const PlaybackFileEntry &entry = panes.m_vecFileList[static_cast<size_t>(nIndex)];
    const int nChannel = entry.Channel;
    const int nStream = entry.Stream;
    const int nWnd = entry.Wnd;
    int nResult = RET_UNSUPPORTED;
    if (IsPane(nWnd)) {
        DevLoginInfo &info = m_login.m_stDevLoginInfo;
        EndPanePlayback(nWnd);
        m_panes.m_nLocalPlay[nWnd] = 0;
        int nStarted = -1;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            nStarted = pWidget->PlaybackStart(nStream, nChannel, nWnd);
            if (nStarted >= 0) {
                pWidget->SetPlaybackWndChannel(nChannel, nWnd);
                pWidget->SetPlaybackTime(nWnd, entry.BeginTime, entry.EndTime);
            }
        });
        int &lPlay = info.PlaybackHandle[nWnd];
        lPlay = -1;
        if (nStarted >= 0) {
            nResult = RET_SUCCESS;
            PlayUserRecord &record = panes.m_stPaneRecord[nWnd];
            record.Channel = nChannel;
            record.Pane = nWnd;
            record.State = PLAY_STATE_NORMAL;
            lPlay = CQZConnect::GetInstance()->BeginPlayback(info.LoginHandle, nChannel, PLAY_BY_FILE, entry,
                                                              &CPluginManage::PlayBackDataCallBack,
                                                              &CPluginManage::PlayPosCallBack, &record, nError);
            if (lPlay == 0)
                lPlay = -1;
        }
        if (lPlay < 0) {
            nResult = RET_FAIL;
            ClosePane(nWnd);
        } else if (nResult == RET_SUCCESS) {
            StartWndTimer();
        }
    } else {
        // No such pane: nothing is touched.
        nResult = RET_FAIL;
    }
    WebMessage event = WebMessage::Event(1, 1);
    event.SetRet(nResult);
    Json::Value &data = event["Data"];
    data["Chn"] = nChannel;
    data["Stream"] = nStream;
    data["PlayIndex"] = nIndex;
    data["Wnd"] = nWnd;
    event["Error"] = nError;
    sendWebSocketMsg(event.ToQString(), 1);
    return nResult;
}

void CPluginManage::EndPanePlayback(int nPane)
{
    int &lPlay = m_login.m_stDevLoginInfo.PlaybackHandle[nPane];
    if (lPlay <= 0)
        return;
    CQZConnect::GetInstance()->EndPlayback(lPlay);
    ClosePane(nPane);
    lPlay = 0;
}

void CPluginManage::ClosePane(int nPane)
{
    WithPlayWidget([nPane](PlayWidget &widget) { widget.PlaybackStop(nPane); });
    // Closed, its file can end no more.
    m_panes.m_nLocalPlay[nPane] = 0;
}

void CPluginManage::onPlaybackDelivered(int nPane, int32_t lHandle)
{
    if (!IsPane(nPane))
        return;
    // The report of a playback the pane played before, handled only after the pane was given another one.
    if (lHandle <= 0 || lHandle != m_login.m_stDevLoginInfo.PlaybackHandle[nPane]) {
        LOGN(QString("position report of an earlier playback %1 of pane %2 dropped").arg(lHandle).arg(nPane),
             "CPluginManage::onPlaybackDelivered");
        return;
    }
    // In a file list the next file waits until pane 0 has shown what it holds.
    if (m_panes.m_nPageMode == PAGE_MODE_FILE_LIST) {
        m_panes.m_lBufferWatchPlay = lHandle;
        if (m_panes.m_nBufferTimerId == 0)
            m_panes.m_nBufferTimerId = startTimer(kTimerMs, Qt::CoarseTimer);
    } else {
        EndPlaybackBuf(nPane);
    }
}

void CPluginManage::EndPlaybackBuf(int nPane)
{
    if (!IsPane(nPane))
        return;
    PaneMembers &panes = m_panes;
    int &lPlay = m_login.m_stDevLoginInfo.PlaybackHandle[nPane];
    if (lPlay < 1)
        return;
    LOGN(QString("end lPlay[%1]").arg(lPlay), "CPluginManage::EndPlaybackBuf");
    CQZConnect::GetInstance()->EndPlayback(lPlay);
    ClosePane(nPane);
    lPlay = 0;
    StopWndTimer();
    WebMessage event = WebMessage::Event(1, 2);
    event["Data"]["Chn"] = panes.m_stPaneRecord[nPane].Channel.load();
    event["Data"]["Wnd"] = nPane;
    sendWebSocketMsg(event.ToQString(), 1);

    if (panes.m_nPageMode != PAGE_MODE_FILE_LIST)
        return;
    QThread::msleep(kNextFileMs);
    ++panes.m_nFileIndex;
    if (panes.m_nFileIndex < static_cast<int>(panes.m_vecFileList.size())) {
        int nError = 0;
        StartPlayback(panes.m_nFileIndex, nError);
    } else {
        panes.m_nFileIndex = 0;
        std::vector<PlaybackFileEntry>().swap(panes.m_vecFileList);
    }
}

void CPluginManage::HandlePlaybackStop(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    PaneMembers &panes = m_panes;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const int nChannel = request["Channel"].asInt();

    // The picture of a picture download stays only until playback stops.
    if (m_download.m_stDownloadRecord.State == 0)
        WithPlayWidget([](PlayWidget &widget) { widget.SetBackgroundPic(QString()); });

    auto stopPane = [&](int nPane) {
        PlayUserRecord &record = panes.m_stPaneRecord[nPane];
        int &lPlay = info.PlaybackHandle[nPane];
        if (record.Channel < 0 || lPlay <= 0)
            return;
        if (panes.m_nPageMode != PAGE_MODE_LOCAL)
            CQZConnect::GetInstance()->EndPlayback(lPlay);
        ClosePane(nPane);
        lPlay = 0;
        record.Channel = -1;
        record.State = PLAY_STATE_STOPPED;
    };

    int nWnd = -1;
    if (nChannel == -1) {
        const int nPanes = panes.m_nPageMode == PAGE_MODE_LOCAL || panes.m_nPageMode == PAGE_MODE_BY_TIME ? kPaneCount : 1;
        for (int nPane = 0; nPane < nPanes; ++nPane)
            stopPane(nPane);
        if (panes.m_nWndTimerId != 0)
            killTimer(panes.m_nWndTimerId);
        panes.m_nWndTimerId = 0;
    } else if (nChannel >= 0) {
        WithPlayWidget(
            [&nWnd, nChannel](PlayWidget &widget) { nWnd = widget.GetWndIndexByChannel(PAGE_PLAYBACK, nChannel); });
        if (IsPane(nWnd))
            stopPane(nWnd);
        StopWndTimer();
    }
    if (panes.m_nPageMode == PAGE_MODE_FILE_LIST) {
        std::vector<PlaybackFileEntry>().swap(panes.m_vecFileList);
        panes.m_nFileIndex = 0;
        if (panes.m_nBufferTimerId != 0)
            killTimer(panes.m_nBufferTimerId);
        panes.m_nBufferTimerId = 0;
    }
    reply["Chn"] = nChannel;
    reply["Wnd"] = nWnd;
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::HandlePlaybackMode(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nMode = request["Mode"].asInt();
    m_panes.m_nPageMode = nMode;
    const bool bFour = (nMode == PAGE_MODE_LOCAL || nMode == PAGE_MODE_BY_TIME) &&
                       m_login.m_stDevLoginInfo.ChannelTotal >= 2;
    WithPlayWidget([nMode, bFour](PlayWidget &widget) {
        PlayWidget *pWidget = &widget;
        pWidget->ChangeSplit(bFour ? 1 : 0);
        pWidget->SetPlaybackMode(nMode);
    });
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

// ---------------------------------------------------------------------------------------------------------
// Play control and pane requests.

void CPluginManage::HandlePlayControl(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nChannelAsked = request["Channel"].asInt();
    const int nCmd = request["Cmd"].asInt();
    const int nParam = request["Param"].asInt();
    reply["Cmd"] = nCmd;
    reply.SetRet(RET_SUCCESS);
    Json::Value &status = reply["ChnStatus"];
    status = Json::Value(Json::arrayValue);

    const int nPasses = nChannelAsked == -1 ? kPaneCount : 1;
    for (int i = 0; i < nPasses; ++i) {
        int nChannel = nChannelAsked;
        int nPane = i;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            if (nChannelAsked == -1)
                nChannel = pWidget->GetWndChannel(PAGE_PLAYBACK, i);
            else
                nPane = pWidget->GetWndIndexByChannel(PAGE_PLAYBACK, nChannelAsked);
        });
        bool bSuccess = false;
        if (nChannel >= 0 && IsPane(nPane) && m_login.m_stDevLoginInfo.PlaybackHandle[nPane] > 0)
            bSuccess = PlayControl(nPane, nCmd, nParam);
        // A pane outside the page has no record to read.
        const int nState = IsPane(nPane) ? m_panes.m_stPaneRecord[nPane].State.load() : PLAY_STATE_NORMAL;
        Json::Value item(Json::objectValue);
        item["Ret"] = bSuccess ? RET_SUCCESS : RET_FAIL;
        item["Chn"] = nChannel;
        item["Wnd"] = nPane;
        item["Status"] = PaneStatusOfState(nPane, nState);
        const int nSpeed = PlayStateToSpeed(nState);
        if (IsPane(nPane) && nSpeed > 0)
            item["Mode"] = nSpeed;
        status.append(item);
    }
    sendWebSocketMsg(reply.ToQString(), 1);
}

bool CPluginManage::PlayControl(int nPane, int nCmd, int nParam)
{
    PlayUserRecord &record = m_panes.m_stPaneRecord[nPane];
    const int lPlay = m_login.m_stDevLoginInfo.PlaybackHandle[nPane];
    const bool bDevice = m_panes.m_nPageMode != PAGE_MODE_LOCAL;
    CQZConnect *pConnect = CQZConnect::GetInstance();
    // Sets the pane's play state on the GUI thread and keeps what the pane reports.
    auto setState = [&](int nCode) {
        int nState = -1;
        WithPlayWidget([&](PlayWidget &widget) { nState = widget.PlaybackControl(nPane, nCode); });
        record.State = nState;
        return nState == nCode;
    };
    switch (nCmd) {
    case CMD_PAUSE:
        if (bDevice)
            pConnect->PlayBackControl(lPlay, PLAY_STATE_PAUSE, record.State);
        return setState(PLAY_STATE_PAUSE);
    case CMD_RESUME:
        if (bDevice)
            pConnect->PlayBackControl(lPlay, PLAY_STATE_NORMAL, record.State);
        return setState(PLAY_STATE_NORMAL);
    case CMD_STEP:
        return setState(PLAY_STATE_STEP);
    case CMD_STEP_BACK:
        return setState(PLAY_STATE_STEP_BACK);
    case CMD_SLOWER:
    case CMD_FASTER: {
        const int nNew = NextSpeedState(record.State, nCmd == CMD_SLOWER ? PLAY_STATE_SLOW_1 : PLAY_STATE_FAST_1);
        if (bDevice)
            pConnect->PlayBackControl(lPlay, nNew, record.State);
        return setState(nNew);
    }
    case CMD_SEEK: {
        bool bSuccess = false;
        if (bDevice) {
            int nSeconds = 0;
            WithPlayWidget(
                [&](PlayWidget &widget) { nSeconds = widget.GetPlaybackSeekTime(nPane, nParam); });
            if (nSeconds != 0 && pConnect->PlayBackSeek(lPlay, nSeconds))
                WithPlayWidget([&](PlayWidget &widget) { bSuccess = widget.IsPlaybackBufferEmpty(nPane); });
        } else {
            // Thousandths of the file as a fraction.
            const double dPos = nParam / 1000.0;
            WithPlayWidget([&](PlayWidget &widget) { bSuccess = widget.SetPlayPos(nPane, dPos) != 0; });
        }
        return bSuccess;
    }
    default:
        return false;
    }
}

void CPluginManage::HandlePaneRequest(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    const int nChannel = request["Channel"].asInt();
    int nPane = -1;
    if (nChannel >= 0)
        WithPlayWidget(
            [&nPane, nChannel](PlayWidget &widget) { nPane = widget.GetWndIndexByChannel(PAGE_PLAYBACK, nChannel); });
    const bool bPlaying = IsPane(nPane) && m_login.m_stDevLoginInfo.PlaybackHandle[nPane] > 0;
    int nResult = RET_FAIL;

    switch (nSubType) {
    case SUB_SNAPSHOT: {
        int nShot = -1;
        if (bPlaying)
            WithPlayWidget([&](PlayWidget &widget) { nShot = widget.Snapshot(nPane, false); });
        if (nShot >= 0)
            nResult = RET_SUCCESS;
        const LocalInfo info = LoadLocalInfoSync();
        reply["CapPath"] = FixedText::ReadLocal(info.CapPath).toStdString();
        break;
    }
    case SUB_SOUND: {
        bool bAudio = false;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            if (bPlaying) {
                const bool bOpen = pWidget->IsSoundOpen(PAGE_PLAYBACK, nPane);
                if (pWidget->OpenSound(PAGE_PLAYBACK, nPane, !bOpen) == 0)
                    nResult = RET_SUCCESS;
            }
            bAudio = pWidget->IsSoundOpen(PAGE_PLAYBACK, nPane);
        });
        reply["Audio"] = bAudio;
        break;
    }
    case SUB_ZOOM: {
        bool bZoom = false;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            if (pWidget->PlaybackDigitalZoom() >= 0) {
                nResult = RET_SUCCESS;
                bZoom = pWidget->IsDigitalZoom(PAGE_PLAYBACK, nPane);
            }
        });
        reply["Zoom"] = bZoom;
        break;
    }
    case SUB_RECORD: {
        bool bRecord = false;
        if (bPlaying) {
            WithPlayWidget([&](PlayWidget &widget) {
                PlayWidget *pWidget = &widget;
                if (pWidget->PlaybackRecord(nPane, 0, !pWidget->IsPlaybackRecording(nPane)) != 0)
                    nResult = RET_SUCCESS;
                // What the pane does now: a clip whose stop failed has ended all the same.
                bRecord = pWidget->IsPlaybackRecording(nPane);
            });
        }
        reply["Record"] = bRecord;
        const LocalInfo info = LoadLocalInfoSync();
        reply["RecPath"] = FixedText::ReadLocal(info.RecPath).toStdString();
        break;
    }
    case SUB_STATUS: {
        bool bRecord = false;
        bool bZoom = false;
        bool bSound = false;
        int nStatus = 0;
        if (nPane >= 0)
            WithPlayWidget([&](PlayWidget &widget) {
                PlayWidget *pWidget = &widget;
                pWidget->GetPlaybackWndStatus(nPane, bRecord, bZoom, bSound);
                nStatus = pWidget->GetPlayState(PAGE_PLAYBACK, nPane);
            });
        nResult = RET_SUCCESS;
        Json::Value &data = reply["Data"];
        data["Chn"] = nChannel;
        data["Wnd"] = nPane;
        data["Zoom"] = bZoom;
        data["Record"] = bRecord;
        data["Audio"] = bSound;
        data["Status"] = nStatus;
        break;
    }
    default:
        return;
    }
    if (nSubType != SUB_STATUS) {
        reply["Chn"] = nChannel;
        reply["Wnd"] = nPane;
    }
    reply.SetRet(nResult);
    sendWebSocketMsg(reply.ToQString(), 1);
}

// ---------------------------------------------------------------------------------------------------------
// Timers.

void CPluginManage::StartWndTimer()
{
    if (m_panes.m_nWndTimerId == 0)
        m_panes.m_nWndTimerId = startTimer(kTimerMs, Qt::CoarseTimer);
}

void CPluginManage::StopWndTimer()
{
    const DevLoginInfo &info = m_login.m_stDevLoginInfo;
    for (int nPane = 0; nPane < kPaneCount; ++nPane)
        if (info.PlaybackHandle[nPane] > 0)
            return;
    if (m_panes.m_nWndTimerId != 0)
        killTimer(m_panes.m_nWndTimerId);
    m_panes.m_nWndTimerId = 0;
}

void CPluginManage::timerEvent(QTimerEvent *pEvent)
{
    const int nId = pEvent->timerId();
    if (nId == m_panes.m_nWndTimerId)
        SendPlayPositions();
    else if (nId == m_panes.m_nBufferTimerId)
        WatchPlaybackBuffer();
    else if (nId == m_download.m_nWatchTimerId)
        WatchDownload();
    else
        QObject::timerEvent(pEvent);
}

void CPluginManage::SendPlayPositions()
{
    const int nPageMode = m_panes.m_nPageMode;
    if (nPageMode == PAGE_MODE_BY_TIME) {
        int nChannels[kPaneCount] = {-1, -1, -1, -1};
        float fPos[kPaneCount] = {0, 0, 0, 0};
        bool bPlaybackPage = false;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            bPlaybackPage = pWidget->GetPageIndex() == PAGE_PLAYBACK;
            for (int nPane = 0; bPlaybackPage && nPane < kPaneCount; ++nPane) {
                nChannels[nPane] = pWidget->GetWndChannel(PAGE_PLAYBACK, nPane);
                if (nChannels[nPane] >= 0)
                    fPos[nPane] = pWidget->GetPlayPos(nPane);
            }
        });
        if (!bPlaybackPage)
            return;
        for (int nPane = 0; nPane < kPaneCount; ++nPane) {
            WebMessage event = WebMessage::Event(1, 3);
            Json::Value &data = event["Data"];
            if (nChannels[nPane] >= 0)
                data["pos"] = static_cast<double>(fPos[nPane]);
            data["wnd"] = nPane;
            sendWebSocketMsg(event.ToQString(), 1);
        }
    } else if (nPageMode == PAGE_MODE_LOCAL || nPageMode == PAGE_MODE_FILE_LIST) {
        int nPane = -1;
        int nPos = 0;
        bool bPlaybackPage = false;
        WithPlayWidget([&](PlayWidget &widget) {
            PlayWidget *pWidget = &widget;
            bPlaybackPage = pWidget->GetPageIndex() == PAGE_PLAYBACK;
            if (!bPlaybackPage)
                return;
            nPane = pWidget->GetCurWndIndex();
            if (pWidget->GetCurWndChannel(PAGE_PLAYBACK) >= 0)
                nPos = static_cast<int>(pWidget->GetPlayPos(nPane) * 1000);
        });
        if (!bPlaybackPage)
            return;
        WebMessage event = WebMessage::Event(1, 3);
        event["Data"]["pos"] = nPos;
        event["Data"]["wnd"] = nPane;
        sendWebSocketMsg(event.ToQString(), 1);
    }
}

void CPluginManage::WatchPlaybackBuffer()
{
    // Pane 0 was given another playback (or none) since the watch began: the one it waited for is over.
    if (m_login.m_stDevLoginInfo.PlaybackHandle[0] != m_panes.m_lBufferWatchPlay) {
        killTimer(m_panes.m_nBufferTimerId);
        m_panes.m_nBufferTimerId = 0;
        return;
    }
    int nYuvVal = -1;
    int nBufVal = -1;
    WithPlayWidget([&](PlayWidget &widget) { widget.GetPlaybackBufferValue(0, nYuvVal, nBufVal); });
    LOGN(QString("lYuvVal=%1 lBufVal=%2").arg(nYuvVal).arg(nBufVal), "CPluginManage::timerEvent");
    if (nYuvVal > 0 || nBufVal > 0)
        return;
    killTimer(m_panes.m_nBufferTimerId);
    m_panes.m_nBufferTimerId = 0;
    EndPlaybackBuf(0);
}

// ---------------------------------------------------------------------------------------------------------
// Library callbacks.

int32_t CPluginManage::PlayBackDataCallBack(int32_t /*lHandle*/, int32_t /*nType*/, const unsigned char *pBuffer,
                                            uint32_t nBufSize, void *pUser)
{
    const PlayUserRecord *pRecord = static_cast<const PlayUserRecord *>(pUser);
    if (!pRecord)
        return -1;
    const int nPane = pRecord->Pane;
    if (nPane < 0)
        return -1;
    // The window exists from the login to the logout, which stops every playback before it goes; a block
    // without a window is dropped, and never makes one.
    PlayWidget *pWidget = PlayWidget::Instance();
    return pWidget ? pWidget->PlaybackInputData(nPane, pBuffer, nBufSize) : -1;
}

void CPluginManage::PlayPosCallBack(int32_t lHandle, int32_t nTotal, int32_t nDone, void *pUser)
{
    const PlayUserRecord *pRecord = static_cast<const PlayUserRecord *>(pUser);
    CPluginManage *pManage = Instance();
    if (!pRecord || !pManage)
        return;
    const int nKind = pRecord->Kind;
    const int nPane = pRecord->Pane;
    // A download's file is whole from its end report on, whatever stops it before the report is handled.
    if (nKind != 0 && nDone == -1)
        pManage->m_download.m_lCompletedDownload = lHandle;
    emit pManage->returnToThisThreadSig([pManage, lHandle, nTotal, nDone, nKind, nPane] {
        pManage->onSendDownloadPos(lHandle, nTotal, nDone, nKind, nPane);
    });
}

void CPluginManage::FileEndCallBack(int32_t /*nPort*/, void *pUser)
{
    const PlayUserRecord *pRecord = static_cast<const PlayUserRecord *>(pUser);
    CPluginManage *pManage = Instance();
    if (!pRecord || !pManage)
        return;
    const int nChannel = pRecord->Channel;
    const int nPane = pRecord->Pane;
    if (!IsPane(nPane))
        return;
    // The file that ends is the one the pane plays while this runs: a close waits for this callback.
    const int32_t nLocalPlay = pManage->m_panes.m_nLocalPlay[nPane];
    emit pManage->returnToThisThreadSig(
        [pManage, nChannel, nPane, nLocalPlay] { pManage->onEndPlayback(nChannel, nPane, nLocalPlay); });
}
