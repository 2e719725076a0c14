// How recordings end when the world ends the program or fills its disk: a termination signal finishes every file
// as the host's close does; a file that cannot be written whole is answered as a failure and its data kept; what
// a killed run left becomes its files at the next start, and a program started beside a recording one leaves
// that one's files alone.

#include "device/CRecordRecovery.h"
#include "tests/e2e/LiveSession.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/e2e/RecordedFile.h"
#include "tests/support/ScratchMount.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>

#include <csignal>

namespace {

// The built-in device with nChannels channels, whose channel nH265 reports H.265 for its sub stream, so that
// the live page records it through the MP4 writer and the others through joined H.264 segments.
QByteArray DeviceWithFormats(int nChannels, int nH265)
{
    QByteArray formats;
    for (int i = 0; i < nChannels; ++i)
        formats += QByteArray(i ? "," : "") + (i == nH265 ? "{\"ExtraFormat\":\"H.265\"}" : "{}");
    return "{\"Devices\":[{\"Channels\":" + QByteArray::number(nChannels) + ",\"EncodeFormats\":[" + formats + "]}]}";
}

QString ChannelPattern(int nChannel) { return QString("%1_*.mp4").arg(nChannel + 1, 2, 10, QChar('0')); }

// The data a file that could not be finished left in the temporary folder: the manifests in it.
QStringList KeptManifests(const QString &strTemp)
{
    QStringList manifests;
    QDirIterator it(strTemp, {"*.rec"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        manifests << it.next();
    return manifests;
}

// Another run of the program in the application directory of the first, logged in as the page does.
HostedPlugin::Options BesideOptions(HostedPlugin &first, int nSessionId)
{
    HostedPlugin::Options options;
    options.nSessionId = nSessionId;
    options.strSdkInfo = R"({"MainType":35,"SubMsg":1,"OemID":"O60"})";
    options.pSharedApp = &first.App();
    return options;
}


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

    RecordTimer recorded;
    recorded.BeforeStart();
    const std::vector<HostMessage> messages = session.Exchange(RecordRequest("allon", -1, true));
    recorded.AfterStart();
    ASSERT_EQ(messages.size(), 2u);
    for (int i = 0; i < kChannels; ++i)
        ASSERT_TRUE(messages[0]["ChnStatus"][i]["Record"].asBool()) << "channel " << i;
    const QString strFolder = plugin.App().FilePath("Device/Record");
    ASSERT_TRUE(WaitUntil([&] { return recorded.Running() >= 3000; }, 20000));

    recorded.BeforeStop();
    ASSERT_TRUE(plugin.Signal(SIGTERM));
    ASSERT_TRUE(plugin.WaitExit());
    // The logout stops the channels one after the other, up to the end.
    recorded.AfterStop();
    EXPECT_FALSE(plugin.Crashed());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_TRUE(plugin.Output().contains("signal 15: closing as the host does"));
    for (int nChannel = 0; nChannel < kChannels; ++nChannel) {
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(nChannel)}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << "channel " << nChannel;
        ExpectWholeRecording(QDir(strFolder).filePath(files[0]), "h264", recorded);
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
        RecordTimer recorded;
        recorded.BeforeStart();
        const HostMessage on = session.Reply(RecordRequest("on", 3, true));
        recorded.AfterStart();
        ASSERT_EQ(on["Ret"].asInt(), 100);
        const QString strFolder = QString::fromStdString(on["RecPath"].asString());
        ASSERT_TRUE(WaitUntil([&] { return recorded.Running() >= 2000; }, 20000));

        recorded.BeforeStop();
        ASSERT_TRUE(plugin.Signal(nSignal));
        ASSERT_TRUE(plugin.WaitForLog("closing as the host does"));
        plugin.Signal(nSignal);
        ASSERT_TRUE(plugin.WaitExit());
        recorded.AfterStop();
        EXPECT_FALSE(plugin.Crashed());
        EXPECT_EQ(plugin.ExitCode(), 0);
        EXPECT_TRUE(plugin.Output().contains("logout nSessionID=1"));
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(3)}, QDir::Files);
        ASSERT_EQ(files.size(), 1);
        ExpectWholeRecording(QDir(strFolder).filePath(files[0]), "h264", recorded);
    }
}


// A record folder that fills up during a recording: the stop, or for a joined file the event that follows it,
// says that the recording failed; no broken file is left as the recording and its data waits in the temporary
// folder, which the next start, with room on the disk again, makes the whole file.
TEST(RecordingEnd, AFullDiskDuringARecordingIsAFailureAndKeepsTheData)
{
    const struct
    {
        int nStream;
        bool bJoined;   // the H.264 route, finished after the stop's answer
    } cases[] = {{1, true}, {0, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE("stream " + std::to_string(c.nStream));
        ScratchMount disk(2 * 1024 * 1024);
        if (!disk.Mounted())
            GTEST_SKIP() << disk.Why().toStdString();
        LiveSession session;
        HostedPlugin &plugin = session.Plugin();
        ASSERT_TRUE(plugin.App().WriteClientCfg("[Path]\nRecPath=" + disk.Path().toUtf8() + "\n"));
        ASSERT_TRUE(session.Start());
        ASSERT_EQ(session.Reply(LiveSession::Open("open", 2, c.nStream))["Ret"].asInt(), 100);
        ASSERT_FALSE(session.Snapshot(2).isNull());

        RecordTimer recorded;
        recorded.BeforeStart();
        const HostMessage on = session.Reply(RecordRequest("on", 2, true));
        recorded.AfterStart();
        ASSERT_EQ(on["Ret"].asInt(), 100);
        ASSERT_EQ(QString::fromStdString(on["RecPath"].asString()), disk.Path());
        ASSERT_TRUE(disk.Fill());
        ASSERT_TRUE(WaitUntil([&] { return recorded.Running() >= 2000; }, 20000));

        recorded.BeforeStop();
        const HostMessage off = session.Reply(RecordRequest("off", 2, false));
        recorded.AfterStop();
        EXPECT_FALSE(off["Record"].asBool());
        if (c.bJoined) {
            // The file is joined after the answer: the page hears of it as the channel's status.
            EXPECT_EQ(off["Ret"].asInt(), 100);
            const HostMessage failed = plugin.WaitEvent(0, 3);
            ASSERT_TRUE(failed);
            EXPECT_EQ(failed.text.toStdString(),
                      "{\"ChnStatus\":[{\"Chn\":2,\"Record\":false,\"Ret\":1016}],\"MainEvent\":0,\"SubEvent\":3}\n");
        } else {
            EXPECT_EQ(off["Ret"].asInt(), 1016) << off.text.toStdString();
        }
        ASSERT_TRUE(plugin.Finish());
        EXPECT_EQ(plugin.ExitCode(), 0);
        EXPECT_TRUE(QDir(disk.Path()).entryList({"03_*"}, QDir::Files).isEmpty())
            << QDir(disk.Path()).entryList(QDir::Files).join(" ").toStdString();
        const QStringList kept = KeptManifests(plugin.App().FilePath("Temp1"));
        ASSERT_EQ(kept.size(), 1);
        EXPECT_TRUE(QFileInfo(kept[0]).fileName().startsWith("03_")) << kept[0].toStdString();

        disk.Unfill();
        HostedPlugin next(BesideOptions(plugin, 1));
        ASSERT_TRUE(next.Start());
        ASSERT_TRUE(WaitUntil([&] { return !QFileInfo::exists(plugin.App().FilePath("Temp1")); }, HostedPlugin::kWaitMs))
            << KeptManifests(plugin.App().FilePath("Temp1")).join(" ").toStdString();
        const QStringList files = QDir(disk.Path()).entryList({"03_*"}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(" ").toStdString();
        ExpectWholeRecording(QDir(disk.Path()).filePath(files[0]), c.nStream == 0 ? "hevc" : "h264", recorded);
        ASSERT_TRUE(next.Finish());
    }
}

// SIGKILL while two channels record, one through joined segments, one through the MP4 writer: nothing of their
// files is whole, and the next start makes each its whole file from what was written, leaving no temporary
// folder.
TEST(RecordingEnd, TheNextStartFinishesWhatAKilledRunRecorded)
{
    LiveSession session("x64", DeviceWithFormats(2, 1));
    HostedPlugin &plugin = session.Plugin();
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 258, 1))["Ret"].asInt(), 100);
    for (int nChannel = 0; nChannel < 2; ++nChannel)
        ASSERT_FALSE(session.Snapshot(nChannel).isNull()) << "channel " << nChannel;
    RecordTimer recorded;
    recorded.BeforeStart();
    ASSERT_EQ(session.Exchange(RecordRequest("allon", -1, true)).size(), 2u);
    recorded.AfterStart();
    const QString strFolder = plugin.App().FilePath("Device/Record");
    const QString strTemp = plugin.App().FilePath("Temp1");
    ASSERT_TRUE(WaitUntil([&] { return recorded.Running() >= 3000; }, 20000));

    recorded.BeforeStop();
    ASSERT_TRUE(plugin.Signal(SIGKILL));
    recorded.AfterStop();
    ASSERT_TRUE(plugin.WaitExit());
    EXPECT_TRUE(plugin.Crashed());
    EXPECT_EQ(KeptManifests(strTemp).size(), 2);
    for (int nChannel = 0; nChannel < 2; ++nChannel) {
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(nChannel)}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << "channel " << nChannel;
        EXPECT_FALSE(CRecordRecovery::IsWholeMedia(QDir(strFolder).filePath(files[0]))) << "channel " << nChannel;
    }

    HostedPlugin next(BesideOptions(plugin, 1));
    ASSERT_TRUE(next.Start());
    ASSERT_TRUE(WaitUntil([&] { return !QFileInfo::exists(strTemp); }, HostedPlugin::kWaitMs))
        << QDir(strTemp).entryList().join(" ").toStdString();
    for (int nChannel = 0; nChannel < 2; ++nChannel) {
        SCOPED_TRACE("channel " + std::to_string(nChannel));
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(nChannel)}, QDir::Files);
        ASSERT_EQ(files.size(), 1);
        // What the killed run still held in its buffers is lost: up to a second at the end.
        ExpectWholeRecording(QDir(strFolder).filePath(files[0]), "h264", recorded.Least() - 1.0, recorded.Most());
    }
    // The program goes on as usual.
    EXPECT_EQ(next.Request(LoginByAddress("again"))["Ret"].asInt(), 100);
    ASSERT_TRUE(next.Finish());
    EXPECT_EQ(next.ExitCode(), 0);
}

// A program started in the application directory of one that records, of another session or of the same one,
// takes nothing of the running recording: its file is whole and as long as the time recorded.
TEST(RecordingEnd, AProgramStartedBesideARecordingOneLeavesItsFilesAlone)
{
    for (int nSession : {2, 1}) {
        SCOPED_TRACE("session " + std::to_string(nSession));
        LiveSession session;
        HostedPlugin &plugin = session.Plugin();
        ASSERT_TRUE(session.Start());
        ASSERT_EQ(session.Reply(LiveSession::Open("open", 3, 1))["Ret"].asInt(), 100);
        ASSERT_FALSE(session.Snapshot(3).isNull());
        RecordTimer recorded;
        recorded.BeforeStart();
        const HostMessage on = session.Reply(RecordRequest("on", 3, true));
        recorded.AfterStart();
        ASSERT_EQ(on["Ret"].asInt(), 100);
        const QString strTemp = plugin.App().FilePath("Temp1");
        // Segments of the running recording lie in its temporary folder.
        ASSERT_TRUE(WaitUntil([&] { return QDir(strTemp).entryList({"4_*"}, QDir::Files).size() > 0; }, 20000));

        HostedPlugin beside(BesideOptions(plugin, nSession));
        ASSERT_TRUE(beside.Start());
        EXPECT_EQ(KeptManifests(strTemp).size(), 1);
        EXPECT_TRUE(QDir(strTemp).entryList({"Recover-*"}, QDir::Dirs).isEmpty());
        ASSERT_TRUE(WaitUntil([&] { return recorded.Running() >= 3000; }, 20000));
        ASSERT_TRUE(beside.Finish());

        recorded.BeforeStop();
        const HostMessage off = session.Reply(RecordRequest("off", 3, false));
        recorded.AfterStop();
        ASSERT_EQ(off["Ret"].asInt(), 100);
        ASSERT_TRUE(plugin.Finish());
        const QString strFolder = QString::fromStdString(off["RecPath"].asString());
        const QStringList files = QDir(strFolder).entryList({ChannelPattern(3)}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(" ").toStdString();
        ExpectWholeRecording(QDir(strFolder).filePath(files[0]), "h264", recorded);
        EXPECT_FALSE(QFileInfo::exists(strTemp));
    }
}
