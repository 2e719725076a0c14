#include "tests/support/DeviceReceived.h"

#include "runtime/JsonText.h"
#include "standin/korvex/ReceivedReport.h"

#include <QFile>

#include <chrono>
#include <functional>

namespace {

// Calls fn with each whole line of the file that parses and holds the key.
void ForEachLine(const QString &strPath, const char *pKey, const std::function<void(const Json::Value &)> &fn)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.readAll();
    int nStart = 0;
    for (;;) {
        const int nEnd = text.indexOf('\n', nStart);
        if (nEnd < 0)
            return;
        const std::string strLine = text.mid(nStart, nEnd - nStart).toStdString();
        nStart = nEnd + 1;
        Json::Value line;
        if (JsonText::Parse(strLine, line) && line.isObject() && line.isMember(pKey))
            fn(line[pKey]);
    }
}

std::string Bytes(const Json::Value &hex)
{
    std::string strData;
    ReceivedReport::FromHex(hex.asString(), strData);
    return strData;
}

} // namespace

DeviceReceived::DeviceReceived()
    : m_strPath(m_dir.filePath("received.jsonl"))
{
}

std::vector<KorvexTalkFrame> DeviceReceived::TalkFrames() const
{
    std::vector<KorvexTalkFrame> frames;
    ForEachLine(m_strPath, "Talk", [&](const Json::Value &v) {
        KorvexTalkFrame frame;
        frame.nHandle = v["Handle"].asInt();
        frame.nLogin = v["Login"].asInt();
        frame.bChannelForm = v["ChannelForm"].asBool();
        frame.nChannel = v["Channel"].asInt();
        frame.bAccepted = v["Accepted"].asBool();
        frame.at = std::chrono::steady_clock::time_point(std::chrono::microseconds(v["AtUs"].asInt64()));
        frame.strData = Bytes(v["Data"]);
        frames.push_back(std::move(frame));
    });
    return frames;
}

std::vector<KorvexReceivedFile> DeviceReceived::Files() const
{
    std::vector<KorvexReceivedFile> files;
    ForEachLine(m_strPath, "File", [&](const Json::Value &v) {
        KorvexReceivedFile file;
        file.nHandle = v["Handle"].asInt();
        file.nLogin = v["Login"].asInt();
        file.strHeader = v["Header"].asString();
        file.strData = Bytes(v["Data"]);
        file.nKind = v["Kind"].asInt();
        file.nValue1 = v["Value1"].asInt();
        file.nValue2 = v["Value2"].asInt();
        files.push_back(std::move(file));
    });
    return files;
}

std::vector<DeviceReceived::Config> DeviceReceived::Configs() const
{
    std::vector<Config> configs;
    ForEachLine(m_strPath, "Config", [&](const Json::Value &v) {
        configs.push_back(Config{v["Login"].asInt(), Bytes(v["Data"])});
    });
    return configs;
}
