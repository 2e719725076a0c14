#include "tests/e2e/PlaybackFixture.h"

#include "tests/support/TestPatternCheck.h"
#include "tests/support/WaitUntil.h"

#include <QDateTime>
#include <QDir>
#include <QImage>

namespace PlaybackE2e {

namespace {

const char *const kTimeFormat = "yyyy-MM-dd hh:mm:ss";

QDateTime DeviceTime(const std::string &strTime)
{
    QDateTime time = QDateTime::fromString(QString::fromStdString(strTime), kTimeFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
}

QByteArray DeviceJson(int nChannels, const QByteArray &deviceKeys)
{
    const QByteArray profile = R"({"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 10})";
    return R"({"Devices": [{"Channels": )" + QByteArray::number(nChannels) + R"(, "Main": )" + profile +
           R"(, "Sub": )" + profile + (deviceKeys.isEmpty() ? QByteArray() : ", " + deviceKeys) + "}]}";
}

} // namespace

std::string TimeAfter(const char *pTime, int nSeconds)
{
    return DeviceTime(pTime).addSecs(nSeconds).toString(kTimeFormat).toStdString();
}

int64_t DeviceSeconds(const std::string &strTime)
{
    return DeviceTime(strTime).toSecsSinceEpoch();
}

Json::Value PageMode(const Json::Value &msgId, int nMode)
{
    Json::Value request = HostedPlugin::NewRequest(5, 36, msgId);
    request["Mode"] = nMode;
    return request;
}

Json::Value ByTime(const Json::Value &msgId, int nSelectWnd, const std::vector<TimeEntry> &entries)
{
    Json::Value request = HostedPlugin::NewRequest(5, 34, msgId);
    request["Mode"] = 2;
    request["SelectWnd"] = nSelectWnd;
    request["Stream"] = 1;
    Json::Value &files = request["FileInfo"];
    files = Json::Value(Json::arrayValue);
    for (const TimeEntry &entry : entries) {
        Json::Value file;
        file["Channel"] = entry.nChannel;
        file["Wnd"] = entry.nWnd;
        file["FileType"] = 0;
        file["BeginTime"] = kBegin;
        file["EndTime"] = TimeAfter(kBegin, entry.nSeconds);
        files.append(file);
    }
    return request;
}

Json::Value ByFile(const Json::Value &msgId, int nSelectWnd, int nChannel, const std::vector<int> &spans)
{
    Json::Value request = HostedPlugin::NewRequest(5, 34, msgId);
    request["Mode"] = 1;
    request["SelectWnd"] = nSelectWnd;
    request["Channel"] = nChannel;
    request["Stream"] = 1;
    Json::Value &files = request["FileInfo"];
    files = Json::Value(Json::arrayValue);
    int nFrom = 0;
    for (int nSeconds : spans) {
        Json::Value file;
        file["FileName"] = "/idea0/" + std::to_string(nFrom) + ".h264";
        file["FileLength"] = "0x00000400";
        file["BeginTime"] = TimeAfter(kBegin, nFrom);
        file["EndTime"] = TimeAfter(kBegin, nFrom + nSeconds);
        files.append(file);
        nFrom += nSeconds;
    }
    return request;
}

Json::Value Control(const Json::Value &msgId, int nChannel, int nCmd, int nParam)
{
    Json::Value request = HostedPlugin::NewRequest(5, 40, msgId);
    request["Channel"] = nChannel;
    request["Cmd"] = nCmd;
    request["Param"] = nParam;
    return request;
}

Json::Value ForChannel(const Json::Value &msgId, int nSubType, int nChannel)
{
    Json::Value request = HostedPlugin::NewRequest(5, nSubType, msgId);
    request["Channel"] = nChannel;
    return request;
}

Json::Value Download(const Json::Value &msgId, int nChannel, const std::vector<DownloadEntry> &entries,
                     const char *pEvent, int nFileType)
{
    Json::Value request = HostedPlugin::NewRequest(5, 39, msgId);
    request["Channel"] = nChannel;
    request["Stream"] = 1;
    request["FileType"] = nFileType;
    request["Event"] = pEvent;
    Json::Value &files = request["FileInfo"];
    files = Json::Value(Json::arrayValue);
    for (const DownloadEntry &entry : entries) {
        Json::Value file;
        file["FileName"] = entry.strFileName;
        file["FileLength"] = "0x00010000";
        file["BeginTime"] = entry.strBegin;
        file["EndTime"] = entry.strEnd;
        files.append(file);
    }
    return request;
}

Json::Value HoldingRequest(const Json::Value &msgId) { return HostedPlugin::NewRequest(19, 5, msgId); }

std::string Reply5(int nSubType, const char *pMsgId, int nRet, const std::string &strBefore,
                   const std::string &strAfterId, const std::string &strAfterSub)
{
    return "{" + strBefore + "\"Msg\":5,\"MsgID\":\"" + pMsgId + "\"," + strAfterId + "\"Ret\":" + std::to_string(nRet) +
           ",\"SubMsg\":" + std::to_string(nSubType) + (strAfterSub.empty() ? "" : "," + strAfterSub) + "}\n";
}

bool IsEvent(const HostMessage &message, int nMain, int nSub)
{
    const Json::Value &value = message.value;
    return value.isObject() && value["MainEvent"].isInt() && value["MainEvent"].asInt() == nMain &&
           value["SubEvent"].isInt() && value["SubEvent"].asInt() == nSub;
}

bool PlaybackTest::Open(int nChannels, const QByteArray &clientCfg, const QByteArray &deviceKeys)
{
    if (!clientCfg.isEmpty() && !m_plugin.App().WriteClientCfg(clientCfg))
        return false;
    m_plugin.SetEnv("KORVEX_DEVICES", m_files.Devices(DeviceJson(nChannels, deviceKeys)));
    if (!StartAndLogIn(m_plugin, LoginByAddress("login")))
        return false;
    Json::Value show = HostedPlugin::NewRequest(12, 2, "show");
    show["Pos"]["Left"] = 0;
    show["Pos"]["Top"] = 0;
    show["Pos"]["Width"] = 640;
    show["Pos"]["Height"] = 360;
    const HostMessage shown = m_plugin.Request(show);
    const HostMessage page = m_plugin.Request(HostedPlugin::NewRequest(2, 1, "page"));
    return shown && page && page["Ret"].asInt() == 100;
}

int PlaybackTest::IndexOfReply(const Json::Value &msgId) const
{
    const QList<HostMessage> messages = m_plugin.Messages();
    for (int i = messages.size() - 1; i >= 0; --i)
        if (messages[i].value.isObject() && messages[i].value.isMember("Msg") && messages[i]["MsgID"] == msgId)
            return i;
    return -1;
}

HostMessage PlaybackTest::WaitAfter(int nAfter, const std::function<bool(const HostMessage &)> &pred, int nTimeoutMs)
{
    HostMessage found;
    WaitUntil(
        [&] {
            const QList<HostMessage> messages = m_plugin.Messages();
            for (int i = nAfter + 1; i < messages.size(); ++i) {
                if (pred(messages[i])) {
                    found = messages[i];
                    return true;
                }
            }
            return false;
        },
        nTimeoutMs);
    return found;
}

HostMessage PlaybackTest::WaitForNth(int nAfter, int nNth, const std::function<bool(const HostMessage &)> &pred)
{
    HostMessage found;
    WaitUntil(
        [&] {
            const QList<HostMessage> messages = m_plugin.Messages();
            int nSeen = 0;
            for (int i = nAfter + 1; i < messages.size(); ++i) {
                if (pred(messages[i]) && ++nSeen == nNth) {
                    found = messages[i];
                    return true;
                }
            }
            return false;
        },
        HostedPlugin::kWaitMs);
    return found;
}

HostMessage PlaybackTest::WaitPosition(int nAfter, int nPane, bool bWithPos)
{
    return WaitAfter(nAfter, [&](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"].asInt() == nPane && (!bWithPos || m["Data"].isMember("pos"));
    });
}

void PlaybackTest::ExpectPlaysOn(int nAfter, int nChannel, int nPane, int nSeconds, int nTotal)
{
    const double dFraction = static_cast<double>(nSeconds) / nTotal;
    const HostMessage later = WaitAfter(nAfter, [&](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == nPane && m["Data"]["pos"].isDouble() &&
               m["Data"]["pos"].asDouble() >= dFraction;
    });
    EXPECT_TRUE(later) << "the pane did not play " << nSeconds << " s of the recording";

    const HostMessage status = m_plugin.Request(ForChannel("plays-on-status", 45, nChannel));
    EXPECT_EQ(status["Data"]["Wnd"].asInt(), nPane);
    EXPECT_EQ(status["Data"]["Status"].asInt(), 2) << "playing";

    const HostMessage shot = m_plugin.Request(ForChannel("plays-on-shot", 41, nChannel));
    EXPECT_EQ(shot["Ret"].asInt(), 100);
    const QFileInfoList files = QDir(QString::fromStdString(shot["CapPath"].asString()))
                                    .entryInfoList({QString("%1_*.bmp").arg(nChannel + 1, 2, 10, QChar('0'))},
                                                   QDir::Files, QDir::Time);
    EXPECT_FALSE(files.isEmpty());
    if (!files.isEmpty()) {
        EXPECT_EQ(TestPattern::ChannelShown(QImage(files.first().absoluteFilePath()), 16), nChannel);
    }

    for (const HostMessage &m : m_plugin.Messages().mid(nAfter + 1))
        EXPECT_FALSE(IsEvent(m, 1, 2) && m["Data"]["Wnd"] == nPane) << m.text.toStdString();
}

} // namespace PlaybackE2e
