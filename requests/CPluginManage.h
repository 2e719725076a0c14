#pragma once

#include "device/DevLoginInfo.h"
#include "runtime/HostLinkFrame.h"
#include "runtime/MainThreadObject.h"

#include <json/value.h>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <functional>
#include <map>
#include <memory>

class CGetSystemStatus;

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
    };
    LoginMembers m_login;

    // The load sampler, a child: it ticks on the request thread and goes when that thread ends.
    QPointer<CGetSystemStatus> m_pSystemStatus;
    std::unique_ptr<QThread> m_pThread;
};
