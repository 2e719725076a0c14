#include "tests/e2e/LiveSession.h"

#include "tests/e2e/LoginFixture.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFile>

namespace {

HostedPlugin::Options SessionOptions(const QString &strVariant)
{
    HostedPlugin::Options options;
    options.strVariant = strVariant;
    options.strSdkInfo = R"({"MainType":35,"SubMsg":1,"OemID":"O60"})";
    return options;
}

} // namespace

LiveSession::LiveSession(const QString &strVariant, const QByteArray &devices)
    : m_plugin(SessionOptions(strVariant))
{
    if (!devices.isEmpty()) {
        const QString strPath = m_files.filePath("devices.json");
        QFile file(strPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(devices);
        m_plugin.SetEnv("KORVEX_DEVICES", strPath);
    }
}

bool LiveSession::Start()
{
    return StartAndLogIn(m_plugin, LoginByAddress("login"));
}

std::vector<HostMessage> LiveSession::Exchange(const Json::Value &request)
{
    const int nBefore = m_plugin.Messages().size();
    const HostMessage reply = m_plugin.Request(request);
    std::vector<HostMessage> messages;
    if (!reply)
        return messages;
    const QList<HostMessage> all = m_plugin.Messages();
    for (int i = nBefore; i < all.size(); ++i) {
        if (all[i].text == reply.text)
            break;
        // The electronic PTZ page's event also comes on its own whenever a channel's picture size is first seen.
        const bool bShowElect = all[i]["MainEvent"].asInt() == 0 && all[i]["SubEvent"].asInt() == 6;
        if (all[i].value.isMember("MainEvent") && !bShowElect)
            messages.push_back(all[i]);
    }
    messages.push_back(reply);
    return messages;
}

std::vector<std::string> LiveSession::Texts(const Json::Value &request)
{
    std::vector<std::string> texts;
    for (const HostMessage &message : Exchange(request))
        texts.push_back(message.text.toStdString());
    return texts;
}

HostMessage LiveSession::Reply(const Json::Value &request)
{
    return m_plugin.Request(request);
}

bool LiveSession::NoReply(const Json::Value &request)
{
    m_plugin.Send(request);
    if (!m_plugin.Sync())
        return false;
    for (const HostMessage &message : m_plugin.Messages())
        if (message["MsgID"] == request["MsgID"])
            return false;
    return true;
}

Json::Value LiveSession::Open(const Json::Value &msgId, int nChannel, int nStream)
{
    Json::Value request = HostedPlugin::NewRequest(4, 0, msgId);
    request["Channel"] = nChannel;
    request["Stream"] = nStream;
    return request;
}

Json::Value LiveSession::Close(const Json::Value &msgId, int nChannel)
{
    return Preview(1, msgId, nChannel);
}

Json::Value LiveSession::Preview(int nSubType, const Json::Value &msgId, int nChannel)
{
    Json::Value request = HostedPlugin::NewRequest(4, nSubType, msgId);
    request["Channel"] = nChannel;
    return request;
}

QImage LiveSession::Snapshot(int nChannel)
{
    // A channel shows its first picture a moment after its stream starts: until then there is nothing to take.
    HostMessage reply;
    const bool bTaken = WaitUntil(
        [&] {
            reply = m_plugin.Request(Preview(9, "snapshot-" + std::to_string(++m_nMsgId), nChannel));
            return reply && reply["Ret"].asInt() == 100;
        },
        HostedPlugin::kWaitMs);
    if (!bTaken)
        return QImage();
    return QImage(NewestFile(QString::fromStdString(reply["CapPath"].asString()),
                             QString("%1_*").arg(nChannel + 1, 2, 10, QChar('0'))));
}

QString LiveSession::NewestFile(const QString &strFolder, const QString &strPattern)
{
    const QFileInfoList files = QDir(strFolder).entryInfoList({strPattern}, QDir::Files, QDir::Time);
    return files.isEmpty() ? QString() : files.first().absoluteFilePath();
}

std::vector<std::string> MessageKinds(const std::vector<HostMessage> &messages)
{
    std::vector<std::string> kinds;
    for (const HostMessage &message : messages)
        kinds.push_back(message.value.isMember("MainEvent") ? std::to_string(message["MainEvent"].asInt()) + "/" +
                                                                  std::to_string(message["SubEvent"].asInt())
                                                            : "reply");
    return kinds;
}
