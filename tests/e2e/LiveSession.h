#pragma once

// A program logged in to the simulated device, for the live preview and live page request tests.

#include "tests/support/HostedPlugin.h"

#include <json/value.h>

#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

class LiveSession
{
public:
    // OEM mode 1, whose recordings are MP4 files; strDevices (JSON) replaces the built-in device.
    explicit LiveSession(const QString &strVariant = "x64", const QByteArray &devices = QByteArray());

    HostedPlugin &Plugin() { return m_plugin; }
    // Starts the program and logs in by address; true when the login succeeded.
    bool Start();

    // Sends the request and waits for its reply; the events that came before the reply since the request was
    // sent, and the reply last (nothing when it did not come).
    std::vector<HostMessage> Exchange(const Json::Value &request);
    // The texts of Exchange.
    std::vector<std::string> Texts(const Json::Value &request);
    // The reply of a request that sends no event.
    HostMessage Reply(const Json::Value &request);
    // Whether the request gets no reply at all (a round trip after it comes back first).
    bool NoReply(const Json::Value &request);

    // "MainType" 4 requests.
    static Json::Value Open(const Json::Value &msgId, int nChannel, int nStream);
    static Json::Value Close(const Json::Value &msgId, int nChannel);
    static Json::Value Preview(int nSubType, const Json::Value &msgId, int nChannel);

    // A snapshot of the channel by request: its picture (null when the request failed or no file came).
    QImage Snapshot(int nChannel);
    // The newest file of the folder.
    static QString NewestFile(const QString &strFolder, const QString &strPattern);

private:
    QTemporaryDir m_files;
    HostedPlugin m_plugin;
    int m_nMsgId = 0;
};

// What came, in order: "reply" for a reply, "main/sub" for an event ("0/3").
std::vector<std::string> MessageKinds(const std::vector<HostMessage> &messages);
