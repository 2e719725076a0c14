#include "tests/e2e/LoginFixture.h"

#include <QFile>

QString EnvFiles::Write(const QString &strName, const QByteArray &json)
{
    const QString strPath = m_dir.filePath(strName);
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(json);
    return strPath;
}

Json::Value LoginByAddress(const Json::Value &msgId, const char *pIP, int nPort, const char *pUser,
                           const char *pPassword)
{
    Json::Value request = HostedPlugin::NewRequest(8, 0, msgId);
    Json::Value &device = request["Device"];
    device["LoginType"] = 0;
    device["IP"] = pIP;
    device["Port"] = nPort;
    device["User"] = pUser;
    device["Password"] = pPassword;
    request["Browse"] = 2;
    return request;
}

Json::Value LoginBySerial(const Json::Value &msgId, int nLoginType, const char *pSerial, const char *pToken)
{
    Json::Value request = HostedPlugin::NewRequest(8, 0, msgId);
    Json::Value &device = request["Device"];
    device["LoginType"] = nLoginType;
    device["SN"] = pSerial;
    device["tcsToken"] = pToken;
    device["User"] = "admin";
    device["Password"] = "";
    request["Title"] = "Web Viewer";
    request["Browse"] = 2;
    return request;
}

std::string LoginReplyText(const char *pMsgId, int nRet, const std::string &strExtra)
{
    return "{\"DPIRadio\":100," + strExtra + "\"Id\":1,\"Msg\":8,\"MsgID\":\"" + pMsgId + "\",\"Ret\":" +
           std::to_string(nRet) + ",\"SubMsg\":0,\"adjustBytool\":true}\n";
}

bool StartAndLogIn(HostedPlugin &plugin, const Json::Value &request)
{
    if (!plugin.Start())
        return false;
    const HostMessage reply = plugin.Request(request);
    return reply && reply["Ret"].asInt() == 100;
}
