// How recordings end when the world ends the program: a termination signal finishes every file as the host's
// close does.

#include "tests/e2e/LiveSession.h"
#include "tests/support/RecordFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>

#include <csignal>

namespace {

Json::Value RecordRequest(const Json::Value &msgId, int nChannel, bool bOn)
{
    Json::Value request = LiveSession::Preview(10, msgId, nChannel);
    request["Record"] = bOn ? 1 : 0;
    return request;
}

// The built-in device with nChannels channels, whose channel nH265 reports H.265 for its sub stream, so that
// the live page records it through the MP4 writer and the others through joined H.264 segments.
QByteArray DeviceWithFormats(int nChannels, int nH265)
{
    QByteArray formats;
    for (int i = 0; i < nChannels; ++i)
        formats += QByteArray(i ? "," : "") + (i == nH265 ? "{\"ExtraFormat\":\"H.265\"}" : "{}");
    return "{\"Devices\":[{\"Channels\":" + QByteArray::number(nChannels) + ",\"EncodeFormats\":[" + formats + "]}]}";
}

void ExpectWhole(const QString &strPath, double dSeconds)
{
    SCOPED_TRACE(strPath.toStdString());
    const RecordTest::MediaReport report = RecordTest::Probe(strPath);
    const std::string strReport = RecordTest::Describe(report);
    ASSERT_TRUE(report.bOpened) << strReport;
    EXPECT_EQ(report.strVideoCodec, "h264") << strReport;
    EXPECT_TRUE(report.bFirstIsKey) << strReport;
    EXPECT_GT(report.nVideoPackets, 0) << strReport;
    EXPECT_EQ(report.nPictures, report.nVideoPackets) << strReport;
    EXPECT_EQ(report.nDecodeErrors, 0) << strReport;
    EXPECT_GE(report.dVideoDuration, dSeconds - 0.5) << strReport;
    EXPECT_LE(report.dVideoDuration, dSeconds + 1.5) << strReport;
}

QString ChannelPattern(int nChannel) { return QString("%1_*.mp4").arg(nChannel + 1, 2, 10, QChar('0')); }

} // namespace

// SIGTERM while 15 channels record (14 through joined segments, one through the MP4 writer): the program ends
// with status 0 and leaves 15 whole MP4 files and no temporary folder.
TEST(RecordingEnd, SigtermWhileFifteenChannelsRecordFinishesEveryFile)
{
    constexpr int kChannels = 15;
    LiveSession session("x64", DeviceWithFormats(kChannels, 14));
    HostedPlugin &plugin = session.Plugin();
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 256 + kChannels, 1))["Ret"].asInt(), 100);
    for (int nChannel = 0; nChannel < kChannels; ++nChannel)
        ASSERT_FALSE(session.Snapshot(nChannel).isNull()) << "channel " << nChannel;

    const std::vector<HostMessage> messages = session.Exchange(RecordRequest("allon", -1, true));
    QElapsedTimer recorded;
    recorded.start();
    ASSERT_EQ(messages.size(), 2u);
    for (int i = 0; i < kChannels; ++i)
        ASSERT_TRUE(messages[0]["ChnStatus"][i]["Record"].asBool()) << "channel " << i;
    const QString strFolder = plugin.App().FilePath("Device/Record");
    ASSERT_TRUE(WaitUntil([&] { return recorded.elapsed() >= 3000; }, 20000));

    ASSERT_TRUE(plugin.Signal(SIGTERM));
    const double dRecorded = static_cast<double>(recorded.elapsed()) / 1000.0;
    ASSERT_TRUE(plugin.WaitExit());
    EXPECT_FALSE(plugin.Crashed());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_TRUE(plugin.Output().contains("signal 15: closing as the host does"));
    for (int nChannel = 0; nChannel < kChannels; ++nChannel) {
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(nChannel)}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << "channel " << nChannel;
        ExpectWhole(QDir(strFolder).filePath(files[0]), dRecorded);
    }
    EXPECT_FALSE(QFileInfo::exists(plugin.App().FilePath("Temp1")));
}

// SIGINT and SIGHUP end the program as SIGTERM does; a second signal while it closes changes nothing.
TEST(RecordingEnd, SigintAndSighupCloseAsTheHostDoes)
{
    for (int nSignal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(nSignal));
        LiveSession session;
        HostedPlugin &plugin = session.Plugin();
        ASSERT_TRUE(session.Start());
        ASSERT_EQ(session.Reply(LiveSession::Open("open", 3, 1))["Ret"].asInt(), 100);
        ASSERT_FALSE(session.Snapshot(3).isNull());
        const HostMessage on = session.Reply(RecordRequest("on", 3, true));
        QElapsedTimer recorded;
        recorded.start();
        ASSERT_EQ(on["Ret"].asInt(), 100);
        const QString strFolder = QString::fromStdString(on["RecPath"].asString());
        ASSERT_TRUE(WaitUntil([&] { return recorded.elapsed() >= 2000; }, 20000));

        ASSERT_TRUE(plugin.Signal(nSignal));
        const double dRecorded = static_cast<double>(recorded.elapsed()) / 1000.0;
        ASSERT_TRUE(plugin.WaitForLog("closing as the host does"));
        plugin.Signal(nSignal);
        ASSERT_TRUE(plugin.WaitExit());
        EXPECT_FALSE(plugin.Crashed());
        EXPECT_EQ(plugin.ExitCode(), 0);
        EXPECT_TRUE(plugin.Output().contains("logout nSessionID=1"));
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(3)}, QDir::Files);
        ASSERT_EQ(files.size(), 1);
        ExpectWhole(QDir(strFolder).filePath(files[0]), dRecorded);
    }
}
