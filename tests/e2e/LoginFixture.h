#pragma once

#include "tests/support/HostedPlugin.h"

#include <json/value.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Files the program is pointed at through its environment (KORVEX_DEVICES, QUORRIN_BROWSER), kept outside
// its application directory.
class EnvFiles
{
public:
    // Writes the JSON text and returns its path.
    QString Write(const QString &strName, const QByteArray &json);

    // The device file for plugin.SetEnv("KORVEX_DEVICES", ...).
    QString Devices(const QByteArray &json) { return Write("devices.json", json); }

private:
    QTemporaryDir m_dir;
};

// A "MainType" 8 request by address to the built-in simulated device; tests change what they need.
Json::Value LoginByAddress(const Json::Value &msgId, const char *pIP = "127.0.0.1", int nPort = 34567,
                           const char *pUser = "admin", const char *pPassword = "");
// By serial number (nLoginType 1) or serial number and token (2), with the title of the default browser window.
Json::Value LoginBySerial(const Json::Value &msgId, int nLoginType, const char *pSerial, const char *pToken = "");

// The text of a login reply of the default screen and session (DPIRadio 100, Id 1), with "adjustBytool" true
// and the "MsgID" text; strExtra holds further keys in their place ("\"CloudErrCode\":\"x\"," or
// "\"ErrorCode\":-11301,"), which sort before "Id".
std::string LoginReplyText(const char *pMsgId, int nRet, const std::string &strExtra = std::string());

// Starts the program and logs in with the request; true when the reply's "Ret" is 100.
bool StartAndLogIn(HostedPlugin &plugin, const Json::Value &request);
