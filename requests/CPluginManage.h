#pragma once

#include "device/DevLoginInfo.h"
#include "device/PlaybackRecords.h"
#include "platform/winapi.h"
#include "runtime/HostLinkFrame.h"
#include "runtime/MainThreadObject.h"

#include <json/value.h>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class CGetSystemStatus;
class CTalk;
class PlayWidget;
class QTimerEvent;
struct LocalInfo;
class WebMessage;
struct RealDataFrame;
struct SmartRuleInfo;

// The request handler of the process: lives on the request thread, dispatches each request of the page on its
// "MainType", and sends replies and events back through the host link.
//
// Definitions: CPluginManage.cpp (construction, dispatch, sending, the host's disconnection),
// CPluginManageLogin.cpp (login, logout, re-login), CPluginManagePage.cpp (page, split, window state and load
// events), CPluginManageEvents.cpp (alarm and disconnect callbacks), CPluginManagePreview.cpp (the live data
// callbacks), CPluginManagePlayback.cpp (playback, its callbacks and timers), CPluginManageDownload.cpp
// (downloads and their conversion), CPluginManageView.cpp (snapshot, colour preview, PTZ, scale, smart rule,
// key), CPluginManageConfig.cpp (client configuration and alarm types), CPluginManageTalk.cpp (talk, custom
// voice, imports), CPluginManageUpgrade.cpp (upgrades), CPluginManageVersion.cpp (version checks).
class CPluginManage : public QObject
{
    Q_OBJECT
public:
    using Handler = void (CPluginManage::*)(const Json::Value &);

    // Made once by main on the GUI thread; ends by moving itself to its own, started, request thread.
    CPluginManage(const QString &strWndHandle, int nSessionId, QObject *parent = nullptr);
    ~CPluginManage() override;

    // The instance and the GUI thread, published for the libraries' static callbacks.
    static CPluginManage *Instance();
    static Qt::HANDLE GuiThreadId();

    // Route 1: runs the function on the GUI thread and returns when it has run.
    void returnToMainThreadSync(std::function<void(void)> fn);
    // Route 1 with the plug-in window: runs the function with it on the GUI thread and returns true; without a
    // window (from a logout to the next login) runs nothing and returns false. Only the login makes the window.
    bool WithPlayWidget(const std::function<void(PlayWidget &)> &fn);

    // Sends one reply or event from any thread; nLogFlag 1 logs the text.
    void sendWebSocketMsg(const QString &strMsg, quint8 nLogFlag = 1);

    // Ends the request thread once the event loop is over. The calling GUI thread keeps running route-1
    // functions until the thread has ended; after that a route-1 call from another thread returns without
    // running its function.
    void StopThread();

    // The text of a request as it is read: UTF-8, nothing from the first zero byte on, at most kMaxMsgBytes
    // bytes, never ending inside a character.
    static QByteArray CutMessage(const QString &strMsg);
    // The text of a reply or event as it is sent: nothing from the first zero byte on, and JSON the page can read
    // within kMaxMsgBytes bytes: a longer message has its longest texts shortened, which is logged. False (and
    // nothing to send) for a longer text that is not JSON.
    static bool FitMessage(const QString &strMsg, QString &strText);
    static constexpr int kMaxMsgBytes = HostLinkFrame::kMaxTextBytes;

    // Login family (CPluginManageLogin.cpp), request thread. loginDev logs in with the login record as it
    // stands: 100, or the login's result code, the library's error kept for "ErrorCode". logoutDev closes
    // every stream, playback, download and colour preview and both logins, clearing each handle as it goes;
    // it does nothing when nothing is open.
    int loginDev();
    void logoutDev();
    // The foreground window when its title holds the name, else null (GUI thread).
    static HWND GetBrowserWndID(int nBrowseType, const QString &strName);
    // The split index of the tile grid for a tile or channel count.
    static int SplitIndexFromCount(int nCount);

    // The device library's callbacks (CPluginManageEvents.cpp), on its threads; each sends its event itself.
    static bool AlarmMessCallBack(int32_t lLoginID, const char *pBuf, uint32_t nBufLen, void *pUser, int32_t nKind);
    static void DisconnectFunction(int32_t lLoginID, const char *pchDVRIP, int32_t nDVRPort, void *pUser);
    // The alarm event of a message, or an empty text when there is none to send: a kind other than 1, or a
    // record that is missing or shorter than its channel, code and status.
    static QString AlarmEvent(const char *pBuf, uint32_t nBufLen, int32_t nKind);
    // The name of an alarm code ("" for a code without one) and the text of an alarm status.
    static QString AlarmEventName(int32_t nCode);
    static QString AlarmStatusText(int32_t nStatus);

    // The live data callbacks (CPluginManagePreview.cpp), on the device library's threads: each hands its block
    // to the page's decode channel without a lock or a thread change. The user value of the live and the
    // snapshot stream (CaptureDataCallBack) is the channel; that of the colour page's stream the CPluginManage.
    static int32_t RealDataCallBackV2(int32_t lRealHandle, const RealDataFrame *pFrame, void *pUser);
    static int32_t RealDataCallBack(int32_t lHandle, int32_t nDataType, const unsigned char *pBuffer,
                                    uint32_t nBufSize, void *pUser);
    static int32_t CaptureDataCallBack(int32_t lHandle, int32_t nDataType, const unsigned char *pBuffer,
                                       uint32_t nBufSize, void *pUser);
    // A live recording's file that could not be finished after the request that stopped it was answered (the
    // disk full): the page hears it as the channel's status with "Ret" 1016 (CPluginManagePreview.cpp). Runs
    // on the recorder's thread; the user value is the CPluginManage.
    static void RecordFailCallBack(int nChannel, bool bRecording, void *pUser);
    // The live channels the 32-bit deliverable's memory budget allows (0 or less: none), from the available
    // memory and the working set in MiB.
    static int PreviewSupportNum(int nAvailMiB, int nAppMiB, int nStreamType);

    // Snapshot, colour preview, PTZ, scale, smart rule and key (CPluginManageView.cpp). The overlay block of a
    // smart-rule request, its counts held to what the block holds; a fresh key text.
    static void FillSmartRule(const Json::Value &request, SmartRuleInfo &info);
    static QString MakeKeyText();
    // Whether the login is the colour page's second login (any thread).
    bool IsColorLogin(int32_t lLoginID) const;

    // Page family (CPluginManagePage.cpp), request thread. The session id is passed and not used.
    void SendWndStatus(int nChannel, int nCurChannel, int nSessionId);
    void SendShowElect(int nChannel, int nSessionId);
    // The speed level 1-4 of a slow or fast play state, else -1.
    static int PlayStateToSpeed(int nState);
    // Whether a picture is large enough for the electronic PTZ page.
    static int LargePictureFlag(int nWidth, int nHeight);

    // Playback and download arithmetic (CPluginManagePlayback.cpp, CPluginManageDownload.cpp).
    // The state a slower (nFirst 16) or faster (nFirst 32) step leads to from the pane's state: up one level,
    // back to normal (0) after the fourth, the first level from any other state.
    static int NextSpeedState(int nState, int nFirst);
    // The host status of a pane's play state: 2 normal (and for no pane), 4 paused, 5 slow, 6 fast, 7 and 8 the
    // single steps, 0 anything else.
    static int PaneStatusOfState(int nPane, int nState);
    // A download's progress in thousandths: 1000 for the end report (-1), else done / total truncated.
    static int DownloadPosPerMille(int nTotal, int nDone);
    // The local file of a record download in the folder: "NN_BEGIN_END[_for_avi]EXT".
    static QString DownloadFileName(const QString &strFolder, const DownloadFileEntry &entry, bool bForAvi);
    // The AVI file a marked download converts to; empty for a file that is not a marked ".h265x" download.
    static QString ConvertTargetName(const QString &strSource);
    // The name a download that did not come down whole is kept under: "_partial" before the extension.
    static QString PartialDownloadName(const QString &strFile);

    // The system-load event of one sample, or an empty text when none goes out: logged out (a login handle of
    // 0 or less), or no CPU figure (-1).
    static QString SystemStatusEvent(int nLoginHandle, int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);

    // Dotted version texts (CPluginManageVersion.cpp): true when strNew is newer; the version a text names.
    static bool CompareVersion(const QString &strNew, const QString &strCur);
    static QString GetVersionFromText(const QString &strText);

    // Talk, custom voice and import (CPluginManageTalk.cpp). The two transfer callbacks run on the device
    // library's threads and send their answers themselves; user value: this object.
    static void VoiceUploadCallBack(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2, void *pUser);
    static void AsyncResultCallBack(int32_t lHandle, int32_t nKind, int32_t nValue, int32_t nUnused, void *pUser);
    // The "Ret" of a transfer report: kind 1 100, kind 2 its first value, kind 3 1023, any other 1016.
    static int TransferResult(int32_t nKind, int32_t nValue1);
    // The talk ability of the login's channels as JSON: the ability read's result code, data filled on 100.
    static int ReadTalkAbility(int lLoginID, Json::Value &data);

    // Firmware upgrades (CPluginManageUpgrade.cpp). The progress callback runs on a device library thread and
    // only posts the report to the request thread (onUpgradeProgress); user value: this object.
    static void UpgradeCallBack(int32_t nValue, int32_t lUpgradeHandle, int32_t nTotalSize, int32_t nSendSize,
                                void *pUser);
    // "NewVersion" of an upgrade version name: from its last "_V" on, less the underscore, else the whole name.
    static QString UpgradeVersionText(const QString &strVersionName);

    // The "MainType" values that have a handler, in ascending order (the request fuzzer covers each of them).
    static std::vector<int> HandledMainTypes();

signals:
    void returnToMainThreadSyncSig(std::function<void(void)> fn);
    void returnToMainThreadAsyncSig(std::function<void(void)> fn);
    void returnToThisThreadSig(std::function<void(void)> fn);
    void sendWebSocketMsgSig(QString msg);

public slots:
    void onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);
    void onChangePTZELectPage();
    void onCurWndIndexChange(int nPageId, int nWndIndex);
    void onRecvWebsocketMsg(QString msg);
    void onDisconnect();

protected:
    // The window timer (play positions) and the buffer-watch timer of the playback panes.
    void timerEvent(QTimerEvent *pEvent) override;

private:
    // "MainType" to handler; a type without an entry is answered with "Ret" 1020.
    static const std::map<int, Handler> &HandlerTable();

    // Login, logout and re-login (CPluginManageLogin.cpp); request thread.
    void onMainMsgLogin(const Json::Value &request);
    void onMainMsgLogout(const Json::Value &request);
    void onMainMsgReLogin(const Json::Value &request);
    // The second device flag of the current login record.
    bool SecondDeviceFlag() const;
    // Remembers the window and stream of an open live channel in the restore table.
    void SaveChannel(int nChannel);

    // Page, split and window state (CPluginManagePage.cpp); request thread.
    void onMainMsgChangePage(const Json::Value &request);
    void onMainMsgChangeSplit(const Json::Value &request);
    void onMainMsgSetCurWnd(const Json::Value &request);
    void onMainMsgWidgetStatus(const Json::Value &request);
    void onShowPTZElect(int nWidth, int nHeight, int nChannel);
    // Closing steps that logout and the page change share: the colour preview with its second login, the
    // playback panes, the playback timers, the download.
    void StopColorPreview();
    void StopPlaybackPanes();
    void KillPlaybackTimers();
    void StopDownload();
    // The page change back to the live page: reopens the channels of the restore table.
    void ReopenSavedChannels();

    // Talk, custom voice and import (CPluginManageTalk.cpp); request thread.
    void onMainMsgTalk(const Json::Value &request);
    void onMainMsgVoiceCustom(const Json::Value &request);
    void onMainMsgImportFile(const Json::Value &request);
    // 0 once the custom voice's transfer has started, -2 the file cannot be read, -3 it is empty or missing,
    // -4 the device refused it.
    int UploadVoiceFile(int nChannel, int nFilePurpose);

    // Firmware upgrades (CPluginManageUpgrade.cpp); request thread.
    void onMainMsgOnlineUpgrade(const Json::Value &request);
    void onMainMsgLocalUpgrade(const Json::Value &request);
    void onUpgradeProgress(int lUpgradeHandle, int nTotalSize, int nSendSize);
    // The logout's part: closes every upgrade still open and forgets the login's upgrade state.
    void CloseUpgrades();

    // Tool and web version checks (CPluginManageVersion.cpp); request thread.
    void onMainMsgCheckToolVersion(const Json::Value &request);
    void onMainMsgCheckWebVersion(const Json::Value &request);

    // Playback requests (CPluginManagePlayback.cpp); request thread.
    void onMainMsgPlayback(const Json::Value &request);
    // A "FileLength" ("0x%08X" text; 0 when it is not one) and a text of a "FileInfo" element.
    static uint32_t FileLengthField(const Json::Value &value);
    static QString TextField(const Json::Value &value);
    // The client configuration, read on the GUI thread.
    LocalInfo LoadLocalInfoSync();
    void HandleLocalFile(const Json::Value &request);
    void HandlePlaybackStart(const Json::Value &request);
    void HandlePlaybackStop(const Json::Value &request);
    void HandlePlaybackMode(const Json::Value &request);
    void HandlePlayControl(const Json::Value &request);
    void HandlePaneRequest(const Json::Value &request);
    // One "Cmd" on a playing pane; true when the pane's state became what the command asked for.
    bool PlayControl(int nPane, int nCmd, int nParam);
    int StartPlayback(int nIndex, int &nError);
    // A position report of a pane's playback: the device has delivered the whole recording. A report of a
    // playback the pane no longer plays changes nothing.
    void onPlaybackDelivered(int nPane, int32_t lHandle);
    void EndPlaybackBuf(int nPane);
    void OpenLocalFile(WebMessage &reply, const QString &strPath, int &nResult);
    // The end of the pane's local file nLocalPlay (its number in m_nLocalPlay); that of a file the pane no longer
    // plays changes nothing.
    void onEndPlayback(int nChannel, int nPane, int32_t nLocalPlay);
    void StopWndTimer();
    void StartWndTimer();
    // Ends the pane's device playback, closes the pane and clears its handle, when it plays.
    void EndPanePlayback(int nPane);
    // Closes the pane on the GUI thread.
    void ClosePane(int nPane);
    void SendPlayPositions();
    void WatchPlaybackBuffer();
    // The device library's playback data and position callbacks, the decode library's file end (library
    // threads); the position and the end only post their work to the request thread.
    static int32_t PlayBackDataCallBack(int32_t lHandle, int32_t nType, const unsigned char *pBuffer,
                                        uint32_t nBufSize, void *pUser);
    static void PlayPosCallBack(int32_t lHandle, int32_t nTotal, int32_t nDone, void *pUser);
    static void FileEndCallBack(int32_t nPort, void *pUser);

    // Downloads and their conversion (CPluginManageDownload.cpp); request thread.
    void HandleDownload(const Json::Value &request);
    void HandleDownloadStop(const Json::Value &request);
    int DownloadFile();
    // The end of a list: the conversion chain, or the done event (a failed one when a file did not come down).
    void EndDownloadList(const LocalInfo &local);
    void SendDownloadDone(const QString &strFolder, bool bFailed);
    // A report of the running download; one of an earlier download changes nothing.
    void onSendDownloadPos(int32_t lHandle, int nTotal, int nDone, int nKind, int nPane);
    // The running download can go no further: it stops, what came down is kept as partial, and the list ends
    // as a failure. Nothing happens when it came down whole and only its end report is still on its way.
    void FailDownload(const QString &strWhy);
    // The list still coming down when a new one replaces it ends: done when its last file came down whole, else
    // failed.
    void EndReplacedDownload();
    // The file of the download lStopped, stopped before its end was handled: left alone when it came down whole,
    // else kept under a name that says it is partial, or removed when it holds nothing (and a picture always).
    void KeepPartialDownload(int32_t lStopped);
    // Watch of the running download (timer): a file that stopped growing on a file system without room.
    void WatchDownload();
    // A login's connection was lost (posted by the disconnect callback).
    void onDownloadLoginLost(int32_t lLoginID);
    void onConvertNextFile();
    // The end of the conversion with that ticket: the chain's next step, unless the chain was given up.
    void onConvertFileEnd(intptr_t nTicket);
    // The decode library's conversion progress (its thread); the user value is the conversion's ticket, and
    // the end posts its step to the request thread.
    static void ConvertFilePosCallback(int32_t nCurrent, int32_t nTotal, void *pUser);

    // Live preview (CPluginManagePreview.cpp); request thread.
    void onMainMsgPreview(const Json::Value &request);
    void PreviewOpen(const Json::Value &request);
    void PreviewOpenRange(const Json::Value &request, int nCount, int nStream);
    void PreviewClose(const Json::Value &request);
    void PreviewRecord(const Json::Value &request);
    // The channels the memory budget allows, its lines logged (32-bit deliverable).
    int PreviewBudget(int nStreamType, bool bRange);
    // Stops the channel's live stream when it runs and clears its handle; starts it (the handle, -1 for none).
    void StopLiveStream(int nChannel);
    int StartLiveStream(int nChannel, int nStreamType);
    int CurrentLiveChannel();
    // The channel a live window shows (-1: the live page's current window), -1 for none.
    int LiveWndChannel(int nWndIndex);
    // The live window goes to another channel: the one it shows, if any, is stopped (its device stream, then its
    // tile) and, with bReport, reported as closed; that channel, or -1.
    int FreeLiveWnd(int nWndIndex, bool bReport);

    // Snapshot, colour preview, PTZ, scale, smart rule and key (CPluginManageView.cpp); request thread.
    void onMainMsgCapturePicture(const Json::Value &request);
    void onMainMsgColorPreview(const Json::Value &request);
    void onMainMsgElectPTZ(const Json::Value &request);
    void onMainMsgScaleSwitch(const Json::Value &request);
    void onMainMsgSmartRule(const Json::Value &request);
    void onMainMsgConsultAesKey(const Json::Value &request);

    // Client configuration and alarm types (CPluginManageConfig.cpp); request thread.
    void onMainMsgClientConfig(const Json::Value &request);
    void onMainMsgAlarmType(const Json::Value &request);
    void onMainMsgQueryAlarmType(const Json::Value &request);

    // Set once by the constructor, read on every thread.
    const int m_nSessionId;
    const QString m_strWndHandle;

    // Login family; request thread only (a GUI-thread step gets copies of what it needs).
    struct LoginMembers
    {
        // The current login's record and handles; its LoginHandle is above 0 while a device is logged in.
        DevLoginInfo m_stDevLoginInfo{};
        // The library's error of the last failed login, the reply's "ErrorCode".
        int m_nLoginError = 0;
        // Device type 2 or a single channel, at the last successful login; the re-login reuses it.
        bool m_bFirstDevice = false;
        bool m_bSampleRate16 = false;
        QString m_strWebType;
        QString m_strSetupName;
        // The alarm callback is registered for the current login.
        bool m_bMessCallBack = false;
    };
    LoginMembers m_login;

    // Colour page: its second login, written on the request thread, read by the disconnect callback on the
    // device library's threads.
    struct ViewMembers
    {
        std::atomic<int32_t> m_nColorLoginID{0};
    };
    ViewMembers m_view;

    // Page family; request thread only. Per live channel the last picture size reported and whether it was
    // large (electronic PTZ); cleared so that the next picture is reported again.
    struct PictureRecord
    {
        int32_t nWidth = 0;
        int32_t nHeight = 0;
        int32_t nLargePicture = 0;
    };
    struct PageMembers
    {
        PictureRecord m_stPicture[64];
    };
    PageMembers m_page;

    // Playback panes; request thread only (timers, the file list of the last playback request).
    struct PaneMembers
    {
        // Per pane: the user value of its callbacks; State is the pane's play state.
        PlayUserRecord m_stPaneRecord[4] = {{0, 0, 0, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}, {0, 3, 0, 0}};
        int m_nWndTimerId = 0;
        int m_nBufferTimerId = 0;
        std::vector<PlaybackFileEntry> m_vecFileList;
        // The entry of the file list playing in pane 0 (page mode 1).
        int m_nFileIndex = 0;
        // "Mode" of the last page-mode request: 0 local files, 1 a file list in one pane, 2 by time.
        int m_nPageMode = 0;
        // "Mode" and "SelectWnd" of the last playback start.
        int m_nFileListMode = 0;
        int m_nSelectWnd = 0;
        // The playback whose buffers the buffer-watch timer waits for.
        int32_t m_lBufferWatchPlay = 0;
        // Per pane the number of the local file it plays (0 none), read by the file-end callback on the decode
        // library's thread; numbers are never reused.
        std::atomic<int32_t> m_nLocalPlay[4] = {{0}, {0}, {0}, {0}};
        int32_t m_nLastLocalPlay = 0;
    };
    PaneMembers m_panes;

    // Download; request thread only.
    struct DownloadMembers
    {
        bool m_bDownloadStop = false;
        // Download index to the file to convert once the list is down.
        std::map<int, QString> m_mapConvertFiles;
        // The last downloaded picture shown behind the playback page; deleted at logout.
        QString m_strDownloadPicPath;
        std::vector<DownloadFileEntry> m_vecDownloadList;
        // The download's user record; its State is the flag (1 record file, 0 picture).
        PlayUserRecord m_stDownloadRecord{0, 0, 1, 1};
        int m_nDownloadIndex = 0;
        // 1 record files, 2 pictures ("PicturePlay").
        int m_nDownloadKind = 1;
        int m_nFileType = 0;
        // The files of the last list down, and those handed to conversion so far.
        int m_nTotalConvertFileNum = 0;
        int m_nCurConvertFileNum = 0;
        // The ticket of the last conversion started, and of the one whose end the chain waits for (0 none).
        intptr_t m_nConvertTicket = 0;
        intptr_t m_nConvertWaiting = 0;
        // The file of the running download until its end report; the watch timer and the size it saw last
        // (-1 not yet).
        QString m_strDownloadFile;
        int m_nWatchTimerId = 0;
        qint64 m_nWatchSize = -1;
        // A file of the list did not come down: the list's end says so.
        bool m_bDownloadFailed = false;
        // The last download whose file the library reported whole (its end report), written by the position
        // callback on the library's thread before the report is posted.
        std::atomic<int32_t> m_lCompletedDownload{0};
    };
    DownloadMembers m_download;

    // Talk; request thread only.
    struct TalkMembers
    {
        std::unique_ptr<CTalk> m_pTalk;
    };
    TalkMembers m_talk;

    // The import started last: its "SubType" and "MsgID", written on the request thread and read by
    // AsyncResultCallBack on a library thread, both at once.
    // Aligned to its size, so that every compiler makes its atomic lock-free (clang calls libatomic for a less
    // aligned one).
    struct alignas(8) PendingImport
    {
        int32_t nSubType;
        int32_t nMsgId;
    };
    struct ImportMembers
    {
        std::atomic<PendingImport> m_pending{PendingImport{-1, 0}};
    };
    ImportMembers m_import;

    // Upgrades; request thread only (the progress callback posts its reports here).
    struct UpgradeMembers
    {
        // An upgrade runs: from a successful start until a report finds its final state.
        bool m_bUpgrade = false;
        // The version the online check found, for the online start.
        QString m_strUpgradeVersion;
        // Upgrades started and not closed yet.
        std::set<int> m_openHandles;
        // Upgrades whose handle is closed (by their final state or by the logout); reports still queued for them
        // are dropped. Handles are never reused.
        std::set<int> m_closedHandles;
    };
    UpgradeMembers m_upgrade;

    // The load sampler, a child: it ticks on the request thread and goes when that thread ends.
    QPointer<CGetSystemStatus> m_pSystemStatus;
    std::unique_ptr<QThread> m_pThread;
};
