// Page, split, window state and load events.

#include "requests/CPluginManage.h"

#include "runtime/JsonText.h"

QString CPluginManage::SystemStatusEvent(int nLoginHandle, int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    if (nLoginHandle <= 0 || nAppCpuStatus < 0 || nSystemCpuStatus < 0)
        return QString();
    Json::Value event;
    event["MainEvent"] = 0;
    event["SubEvent"] = 5;
    event["AppCpu"] = nAppCpuStatus;
    event["SystemCpu"] = nSystemCpuStatus;
    event["AppMemory"] = nAppMemory;
    return QString::fromStdString(JsonText::Write(event));
}

void CPluginManage::onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    const QString strEvent =
        SystemStatusEvent(m_login.m_stDevLoginInfo.LoginHandle, nAppCpuStatus, nSystemCpuStatus, nAppMemory);
    // Once a second: kept out of the log.
    if (!strEvent.isEmpty())
        sendWebSocketMsg(strEvent, 0);
}
