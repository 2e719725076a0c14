#pragma once

#include "device/DevLoginInfo.h"
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

class CGetSystemStatus;
class CTalk;

// The request handler of the process: lives on the request thread, dispatches each request of the page on its
// "MainType", and sends replies and events back through the host link.
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

    // Sends one reply or event from any thread; nLogFlag 1 logs the text.
    void sendWebSocketMsg(const QString &strMsg, quint8 nLogFlag = 1);

    // Ends the request thread once the event loop is over. The calling GUI thread keeps running route-1
    // functions until the thread has ended; after that a route-1 call from another thread returns without
    // running its function.
    void StopThread();

    // The device library's disconnect callback (runs on a library thread).
    static void DisconnectFunction(int32_t lLoginID, const char *pchDVRIP, int32_t nDVRPort, void *pUser);

    // The text of a reply or request as the link carries it: UTF-8, nothing from the first zero byte on,
    // at most kMaxMsgBytes bytes, never ending inside a character.
    static QByteArray CutMessage(const QString &strMsg);
    static constexpr int kMaxMsgBytes = HostLinkFrame::kMaxTextBytes;

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

signals:
    void returnToMainThreadSyncSig(std::function<void(void)> fn);
    void returnToMainThreadAsyncSig(std::function<void(void)> fn);
    void returnToThisThreadSig(std::function<void(void)> fn);
    void sendWebSocketMsgSig(QString msg);

public slots:
    void onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);
    void onRecvWebsocketMsg(QString msg);
    void onDisconnect();

private:
    // "MainType" to handler; a type without an entry is answered with "Ret" 1020.
    static const std::map<int, Handler> &HandlerTable();

    void onMainMsgLogout(const Json::Value &request);

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

    // Tool and web version checks (CPluginManageVersion.cpp); request thread.
    void onMainMsgCheckToolVersion(const Json::Value &request);
    void onMainMsgCheckWebVersion(const Json::Value &request);

    // Client configuration and alarm types (CPluginManageConfig.cpp); request thread.
    void onMainMsgClientConfig(const Json::Value &request);
    void onMainMsgAlarmType(const Json::Value &request);
    void onMainMsgQueryAlarmType(const Json::Value &request);

    int m_nSessionId;
    QString m_strWndHandle;

    // Login family; request thread only.
    struct LoginMembers
    {
        // The current login's record and handles; its LoginHandle is above 0 while a device is logged in.
        DevLoginInfo m_stDevLoginInfo{};
        bool m_bSampleRate16 = false;
        QString m_strWebType;
    };
    LoginMembers m_login;

    // Talk; request thread only.
    struct TalkMembers
    {
        std::unique_ptr<CTalk> m_pTalk;
    };
    TalkMembers m_talk;

    // The import started last: its "SubType" and "MsgID", written on the request thread and read by
    // AsyncResultCallBack on a library thread, both at once.
    struct PendingImport
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
        // Upgrades whose final state was reported and whose handle is closed; reports still queued for them
        // are dropped. Handles are never reused.
        std::set<int> m_closedHandles;
    };
    UpgradeMembers m_upgrade;

    // The load sampler, a child: it ticks on the request thread and goes when that thread ends.
    QPointer<CGetSystemStatus> m_pSystemStatus;
    std::unique_ptr<QThread> m_pThread;
};
