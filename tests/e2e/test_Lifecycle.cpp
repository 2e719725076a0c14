// The ends of a login with everything open: the host closing the link, a logout and a second login, the live
// page left and shown again, and a re-login. What the simulated device was asked and what it found still open
// comes from its journal file, read from outside the program.

#include "tests/e2e/LiveSession.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/e2e/PlaybackFixture.h"
#include "tests/support/RecordFixture.h"
#include "tests/support/TestPatternCheck.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include <map>
#include <string>
#include <vector>

namespace {

// Two devices whose streams tell main from sub, and one from the other, by their picture sizes.
const QByteArray kDevices = R"({"Devices": [
    {"IP": "127.0.0.1", "SN": "SN-FIRST",
     "Main": {"Codec": "H.264", "Width": 640, "Height": 360, "FrameRate": 10},
     "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 10}},
    {"IP": "127.0.0.2", "SN": "SN-SECOND", "Channels": 4,
     "Main": {"Codec": "H.264", "Width": 480, "Height": 270, "FrameRate": 10},
     "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 10}}]})";
const QSize kFirstMain(640, 360);
const QSize kSub(320, 180);
const QSize kSecondMain(480, 270);

// The simulated library's journal file (KORVEX_JOURNAL): every call, and its notes of logins, of the streams
// opened and of what each logout and the clean-up found still open.
class DeviceJournal
{
public:
    QString Path() const { return m_dir.filePath("korvex-journal.txt"); }

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        QFile file(Path());
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines.push_back(line.toStdString());
        return lines;
    }

    // The login handles in the order of their logins.
    std::vector<int> Logins() const
    {
        std::vector<int> logins;
        for (const std::string &strLine : Lines()) {
            int nLogin = 0;
            if (std::sscanf(strLine.c_str(), "# login=%d:", &nLogin) == 1 &&
                strLine.find(": logged in to ") != std::string::npos)
                logins.push_back(nLogin);
        }
        return logins;
    }

    // The handles of the streams of that kind ("live", "playback", "download") that the login opened.
    std::vector<int> Opened(int nLogin, const std::string &strKind) const
    {
        std::vector<int> handles;
        const std::string strPrefix = "# login=" + std::to_string(nLogin) + ": opened " + strKind + " ";
        for (const std::string &strLine : Lines())
            if (strLine.compare(0, strPrefix.size(), strPrefix) == 0)
                handles.push_back(std::stoi(strLine.substr(strPrefix.size())));
        return handles;
    }

    // What each logout found still open, by login.
    std::map<int, std::string> LeftAtLogout() const
    {
        std::map<int, std::string> left;
        const std::string strMark = ": streams left open: ";
        for (const std::string &strLine : Lines()) {
            int nLogin = 0;
            const size_t nAt = strLine.find(strMark);
            if (std::sscanf(strLine.c_str(), "# logout login=%d:", &nLogin) == 1 && nAt != std::string::npos)
                left[nLogin] = strLine.substr(nAt + strMark.size());
        }
        return left;
    }

    // What the library's clean-up found still open ("" when it did not run).
    std::string LeftAtCleanup() const
    {
        std::string strLeft;
        for (const std::string &strLine : Lines())
            if (strLine.compare(0, 11, "# cleanup: ") == 0)
                strLeft = strLine.substr(11);
        return strLeft;
    }

    // Every stream opened, of every login, that no call of its own stopped ("live 12").
    std::vector<std::string> Unstopped() const
    {
        const std::vector<std::string> lines = Lines();
        auto stopped = [&](const std::string &strCall) {
            for (const std::string &strLine : lines)
                if (strLine == strCall || strLine.compare(0, strCall.size() + 1, strCall + " ") == 0)
                    return true;
            return false;
        };
        const std::map<std::string, std::string> stopCalls = {{"live", "ZDK_DEV_StopRealPlay play="},
                                                              {"playback", "ZDK_DEV_StopPlayBack play="},
                                                              {"download", "ZDK_DEV_StopDownload handle="}};
        std::vector<std::string> unstopped;
        for (const std::string &strLine : lines) {
            int nLogin = 0;
            char kind[16] = {};
            int nHandle = 0;
            if (std::sscanf(strLine.c_str(), "# login=%d: opened %15s %d", &nLogin, kind, &nHandle) != 3)
                continue;
            const auto it = stopCalls.find(kind);
            if (it == stopCalls.end() || !stopped(it->second + std::to_string(nHandle)))
                unstopped.push_back(std::string(kind) + " " + std::to_string(nHandle));
        }
        return unstopped;
    }

    // After the program's end: every login was logged out with nothing of its own left open, every stream was
    // stopped by its own call, and the library's clean-up found nothing open.
    ::testing::AssertionResult EverythingClosed() const
    {
        const std::map<int, std::string> left = LeftAtLogout();
        for (int nLogin : Logins()) {
            const auto it = left.find(nLogin);
            if (it == left.end() || it->second != "none")
                return ::testing::AssertionFailure()
                       << "login " << nLogin << ": " << (it == left.end() ? "not logged out" : it->second);
        }
        const std::vector<std::string> unstopped = Unstopped();
        if (!unstopped.empty())
            return ::testing::AssertionFailure() << "not stopped: " << unstopped.front();
        if (LeftAtCleanup() != "logins left open 0; streams left open: none")
            return ::testing::AssertionFailure() << "clean-up: " << LeftAtCleanup();
        return ::testing::AssertionSuccess();
    }

private:
    QTemporaryDir m_dir;
};

using Kinds_t = std::vector<std::string>;

Json::Value Page(const Json::Value &msgId, int nPage) { return HostedPlugin::NewRequest(2, nPage, msgId); }
Json::Value Logout() { return HostedPlugin::NewRequest(9, 0, "out"); }

Json::Value ReLogin(const Json::Value &msgId, const char *pAddress = nullptr)
{
    Json::Value request = HostedPlugin::NewRequest(28, 0, msgId);
    if (pAddress)
        request["IPAddress"] = pAddress;
    return request;
}

Json::Value ColorPreview(const Json::Value &msgId, int nChannel, int nStream)
{
    Json::Value request = HostedPlugin::NewRequest(6, 0, msgId);
    request["Channel"] = nChannel;
    request["Stream"] = nStream;
    return request;
}

// The live play state the page is told of a channel: 2 playing, 0 stopped.
int PlayState(LiveSession &session, int nChannel)
{
    const HostMessage reply = session.Reply(LiveSession::Preview(4, "state", nChannel));
    return reply ? reply["Status"].asInt() : -100;
}

int CurrentChannel(LiveSession &session) { return session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(); }

// Channels 0 to 3 on the main stream in windows 0 to 3, then channel 5 on the sub stream into the current
// window 0, where it takes channel 0's place: 1, 2 and 3 play on the main stream, 5 on the sub stream.
bool OpenChannels(LiveSession &session)
{
    return session.Reply(LiveSession::Open("range", 260, 0))["Ret"].asInt() == 100 &&
           session.Reply(LiveSession::Open("five", 5, 1))["Ret"].asInt() == 100 && CurrentChannel(session) == 5;
}

// The program with the simulated library's journal file, logged in to the first device with OpenChannels' channels.
struct JournaledSession
{
    DeviceJournal journal;
    LiveSession session{"x64", kDevices};
    HostedPlugin &plugin = session.Plugin();

    bool Start()
    {
        plugin.SetEnv("KORVEX_JOURNAL", journal.Path());
        return session.Start() && OpenChannels(session);
    }
};

// The channel's picture: which channel it shows (of nChannels) and its size.
struct Shown
{
    int nChannel;
    QSize size;
    bool operator==(const Shown &other) const { return nChannel == other.nChannel && size == other.size; }
};

std::ostream &operator<<(std::ostream &os, const Shown &shown)
{
    return os << "channel " << shown.nChannel << " in " << shown.size.width() << "x" << shown.size.height();
}

Shown ShownBy(LiveSession &session, int nChannel, int nChannels)
{
    const QImage picture = session.Snapshot(nChannel);
    return {TestPattern::ChannelShown(picture, nChannels), picture.size()};
}

qint64 BytesUnder(const QString &strFolder)
{
    qint64 nBytes = 0;
    QDirIterator it(strFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        nBytes += it.fileInfo().size();
    }
    return nBytes;
}

} // namespace

TEST(Lifecycle, TheHostClosingTheLinkWithEverythingOpenLogsOutClosesEveryStreamAndEndsWithStatusZero)
{
    using namespace PlaybackE2e;
    JournaledSession s;
    ASSERT_TRUE(s.Start());
    DeviceJournal &journal = s.journal;
    LiveSession &session = s.session;
    HostedPlugin &plugin = s.plugin;

    // A recording of channel 2, once its pictures come.
    ASSERT_EQ(ShownBy(session, 2, 16), (Shown{2, kFirstMain}));
    Json::Value record = LiveSession::Preview(10, "record", 2);
    record["Record"] = 1;
    const HostMessage recording = session.Reply(record);
    ASSERT_EQ(recording["Ret"].asInt(), 100);
    const QString strRecordFolder = QString::fromStdString(recording["RecPath"].asString());

    // The colour page's preview, a playback in pane 0 and a download of an hour.
    ASSERT_EQ(session.Reply(ColorPreview("colour", 4, 1))["Ret"].asInt(), 100);
    ASSERT_EQ(session.Reply(PageMode("mode", 2))["Ret"].asInt(), 100);
    ASSERT_EQ(session.Reply(ByTime("play", 0, {{0, 0, 600}}))["Ret"].asInt(), 100);
    const HostMessage download =
        session.Reply(Download("down", 1, {{"/idea0/rec.h264", kBegin, TimeAfter(kBegin, 3600)}}));
    ASSERT_EQ(download["Ret"].asInt(), 100);
    // The download and the recording are under way once their files grow.
    const QString strDownloadFolder = QString::fromStdString(download["DownPath"].asString());
    ASSERT_TRUE(WaitUntil([&] { return BytesUnder(strDownloadFolder) > 0; }, HostedPlugin::kWaitMs));
    ASSERT_TRUE(WaitUntil(
        [&] { return BytesUnder(strRecordFolder) + BytesUnder(plugin.App().FilePath("Temp1")) > 0; },
        HostedPlugin::kWaitMs));

    // All of it runs on the device: the live channels and the download on the first login, the colour preview on
    // a second one.
    const std::vector<int> logins = journal.Logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(journal.Opened(logins[0], "live").size(), 5u);
    EXPECT_EQ(journal.Opened(logins[0], "playback").size(), 1u);
    EXPECT_EQ(journal.Opened(logins[0], "download").size(), 1u);
    EXPECT_EQ(journal.Opened(logins[1], "live").size(), 1u);
    // Four live channels, the colour preview, the playback and the download are open.
    EXPECT_EQ(journal.Unstopped().size(), 7u);

    const int nLogBefore = plugin.Output().size();
    plugin.CloseLink();
    ASSERT_TRUE(plugin.WaitExit());
    EXPECT_FALSE(plugin.Crashed());
    EXPECT_EQ(plugin.ExitCode(), 0);

    // Both logins ended with nothing of theirs left for the device to close; each stream was stopped by its own
    // call; the library's clean-up found nothing open.
    EXPECT_TRUE(journal.EverythingClosed());

    // The tiles of the four channels were stopped by the logout.
    const QByteArray log = plugin.Output().mid(nLogBefore);
    const int nLogout = log.indexOf("logout nSessionID=1");
    ASSERT_GE(nLogout, 0) << log.toStdString();
    for (int nChannel : {1, 2, 3, 5})
        EXPECT_GT(log.indexOf("PlayWidget::PreviewStop Chn=" + QByteArray::number(nChannel), nLogout), nLogout)
            << "channel " << nChannel;
    EXPECT_TRUE(log.contains("release data end"));

    // The recording was finished into a whole MP4.
    const QString strFile = LiveSession::NewestFile(strRecordFolder, "03_*.mp4");
    ASSERT_FALSE(strFile.isEmpty()) << strRecordFolder.toStdString();
    const RecordTest::MediaReport report = RecordTest::Probe(strFile);
    EXPECT_TRUE(report.bOpened) << RecordTest::Describe(report);
    EXPECT_EQ(report.strVideoCodec, "h264") << RecordTest::Describe(report);
    EXPECT_EQ(QSize(report.nWidth, report.nHeight), kFirstMain);
    EXPECT_GT(report.nPictures, 0) << RecordTest::Describe(report);
    EXPECT_EQ(report.nDecodeErrors, 0) << RecordTest::Describe(report);
    EXPECT_TRUE(report.bFirstIsKey) << RecordTest::Describe(report);
}

// From the playback page (the live channels closed and kept for the live page, a playback running) and from the
// colour page (the live channels open, the colour preview running), the end closes what is open and only that.
TEST(Lifecycle, TheHostClosingTheLinkOnThePlaybackOrColourPageClosesWhatIsOpen)
{
    using namespace PlaybackE2e;
    const struct
    {
        int nPage;
        size_t nOpenAtClose;    // streams open on the device when the link closes
    } cases[] = {{1, 1}, {2, 5}};
    for (const auto &c : cases) {
        SCOPED_TRACE("page " + std::to_string(c.nPage));
        JournaledSession s;
        ASSERT_TRUE(s.Start());
        DeviceJournal &journal = s.journal;
        LiveSession &session = s.session;
        HostedPlugin &plugin = s.plugin;
        ASSERT_EQ(session.Reply(Page("page", c.nPage))["Ret"].asInt(), 100);
        if (c.nPage == 1) {
            ASSERT_EQ(session.Reply(PageMode("mode", 2))["Ret"].asInt(), 100);
            ASSERT_EQ(session.Reply(ByTime("play", 0, {{0, 0, 600}}))["Ret"].asInt(), 100);
            ASSERT_TRUE(plugin.WaitMessage([](const HostMessage &m) {
                return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 0 && m["Data"]["pos"].asDouble() > 0;
            }));
        } else {
            ASSERT_EQ(session.Reply(ColorPreview("colour", 4, 1))["Ret"].asInt(), 100);
        }
        EXPECT_EQ(journal.Unstopped().size(), c.nOpenAtClose);

        plugin.CloseLink();
        ASSERT_TRUE(plugin.WaitExit());
        EXPECT_FALSE(plugin.Crashed());
        EXPECT_EQ(plugin.ExitCode(), 0);
        EXPECT_EQ(journal.Logins().size(), c.nPage == 2 ? 2u : 1u);
        EXPECT_TRUE(journal.EverythingClosed());
    }
}

TEST(Lifecycle, ALogoutClosesEveryStreamAndTileAndTheNextLoginStartsAfresh)
{
    JournaledSession s;
    ASSERT_TRUE(s.Start());
    DeviceJournal &journal = s.journal;
    LiveSession &session = s.session;
    HostedPlugin &plugin = s.plugin;

    const int nLogBefore = plugin.Output().size();
    EXPECT_TRUE(session.NoReply(Logout()));
    ASSERT_TRUE(plugin.WaitForLog("release data end"));
    std::vector<int> logins = journal.Logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(journal.LeftAtLogout(), (std::map<int, std::string>{{logins[0], "none"}}));
    EXPECT_EQ(journal.Unstopped(), std::vector<std::string>{});
    // Each tile stopped after its stream, before the device was logged out.
    const QByteArray log = plugin.Output().mid(nLogBefore);
    const int nLoggedOut = log.indexOf("Disconnect Device LoginID=");
    ASSERT_GE(nLoggedOut, 0) << log.toStdString();
    for (int nChannel : {1, 2, 3, 5}) {
        const int nTile = log.indexOf("PlayWidget::PreviewStop Chn=" + QByteArray::number(nChannel));
        EXPECT_GE(nTile, 0) << "channel " << nChannel;
        EXPECT_LT(nTile, nLoggedOut) << "channel " << nChannel;
    }

    // A second login shows nothing of the first: no channel plays, and the live page reopens none.
    ASSERT_EQ(session.Reply(LoginByAddress("again"))["Ret"].asInt(), 100);
    for (int nChannel : {1, 2, 3, 5})
        EXPECT_EQ(PlayState(session, nChannel), 0) << "channel " << nChannel;
    EXPECT_EQ(CurrentChannel(session), -1);
    EXPECT_EQ(MessageKinds(session.Exchange(Page("live", 0))), (Kinds_t{"0/2", "reply"}));

    // A channel opened now plays on a new stream of the new login.
    ASSERT_EQ(session.Reply(LiveSession::Open("fresh", 5, 1))["Ret"].asInt(), 100);
    EXPECT_EQ(ShownBy(session, 5, 16), (Shown{5, kSub}));
    logins = journal.Logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(journal.Opened(logins[1], "live").size(), 1u);

    // Channels kept for the live page while the playback page shows are forgotten by a logout: the next login's
    // live page reopens none and reports no channel status.
    EXPECT_EQ(MessageKinds(session.Exchange(Page("playback", 1))), (Kinds_t{"reply"}));
    EXPECT_TRUE(session.NoReply(Logout()));
    ASSERT_EQ(session.Reply(LoginByAddress("third"))["Ret"].asInt(), 100);
    EXPECT_EQ(MessageKinds(session.Exchange(Page("live", 0))), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(PlayState(session, 5), 0);
    logins = journal.Logins();
    ASSERT_EQ(logins.size(), 3u);
    EXPECT_TRUE(journal.Opened(logins[2], "live").empty());

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_TRUE(journal.EverythingClosed());
}

TEST(Lifecycle, BackOnTheLivePageTheChannelsReopenInTheirWindowsOnTheirStreams)
{
    JournaledSession s;
    ASSERT_TRUE(s.Start());
    DeviceJournal &journal = s.journal;
    LiveSession &session = s.session;
    HostedPlugin &plugin = s.plugin;
    const int nLogin = journal.Logins().at(0);

    // The playback page: every live stream and tile stops.
    EXPECT_EQ(MessageKinds(session.Exchange(Page("playback", 1))), (Kinds_t{"reply"}));
    EXPECT_EQ(journal.Unstopped(), std::vector<std::string>{});
    for (int nChannel : {1, 5})
        EXPECT_EQ(PlayState(session, nChannel), 0) << "channel " << nChannel;

    // Back on the live page: the current window's state, every channel's status, then the reply.
    std::vector<HostMessage> messages = session.Exchange(Page("live", 0));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    EXPECT_EQ(messages[0]["Data"]["Chn"].asInt(), 5);
    EXPECT_EQ(messages[0]["Data"]["CurChannel"].asInt(), 5);
    EXPECT_EQ(messages[0]["Data"]["PlayStatus"].asInt(), 2);
    const Json::Value &status = messages[1]["ChnStatus"];
    ASSERT_EQ(status.size(), 16u);
    for (Json::ArrayIndex i = 0; i < status.size(); ++i) {
        const bool bReopened = i == 1 || i == 2 || i == 3 || i == 5;
        EXPECT_EQ(status[i]["Chn"].asInt(), static_cast<int>(i));
        EXPECT_EQ(status[i]["Ret"].asInt(), bReopened ? 100 : 1016) << "channel " << i;
        EXPECT_EQ(status[i]["Stream"].asInt(), i == 5 ? 1 : 0) << "channel " << i;
        EXPECT_FALSE(status[i]["Record"].asBool()) << "channel " << i;
    }
    EXPECT_EQ(messages[2].text.toStdString(), "{\"Msg\":2,\"MsgID\":\"live\",\"Ret\":100,\"SubMsg\":0}\n");

    // Each in its window, on its stream, on new streams of the login.
    EXPECT_EQ(CurrentChannel(session), 5);
    EXPECT_EQ(ShownBy(session, 5, 16), (Shown{5, kSub}));
    EXPECT_EQ(ShownBy(session, 1, 16), (Shown{1, kFirstMain}));
    EXPECT_EQ(PlayState(session, 0), 0);
    EXPECT_EQ(journal.Opened(nLogin, "live").size(), 9u);

    // Reported once: the live page shown again reopens nothing and reports no channel status.
    EXPECT_EQ(MessageKinds(session.Exchange(Page("again", 0))), (Kinds_t{"0/2", "reply"}));
    // The colour page leaves the live streams open.
    EXPECT_EQ(MessageKinds(session.Exchange(Page("colour", 2))), (Kinds_t{"reply"}));
    EXPECT_EQ(PlayState(session, 3), 2);
    EXPECT_EQ(MessageKinds(session.Exchange(Page("back", 0))), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(journal.Opened(nLogin, "live").size(), 9u);
    EXPECT_EQ(journal.Unstopped().size(), 4u);

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_TRUE(journal.EverythingClosed());
}

TEST(Lifecycle, AReLoginClosesTheChannelsAndTheLivePageReopensThemOnTheNewLogin)
{
    JournaledSession s;
    ASSERT_TRUE(s.Start());
    DeviceJournal &journal = s.journal;
    LiveSession &session = s.session;
    HostedPlugin &plugin = s.plugin;

    // At the same address: the channels close with the old login and nothing opens with the new one.
    std::vector<HostMessage> messages = session.Exchange(ReLogin("same"));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"reply"}));
    EXPECT_EQ(messages[0].text.toStdString(),
              "{\"Id\":1,\"Msg\":28,\"MsgID\":\"same\",\"Ret\":100,\"SerialNo\":\"SN-FIRST\",\"SubMsg\":0}\n");
    std::vector<int> logins = journal.Logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(journal.LeftAtLogout(), (std::map<int, std::string>{{logins[0], "none"}}));
    EXPECT_EQ(journal.Unstopped(), std::vector<std::string>{});
    EXPECT_TRUE(journal.Opened(logins[1], "live").empty());
    for (int nChannel : {1, 5})
        EXPECT_EQ(PlayState(session, nChannel), 0) << "channel " << nChannel;

    // The live page reopens them on the new login, in their windows and on their streams, without a channel
    // status.
    messages = session.Exchange(Page("live", 0));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(messages[0]["Data"]["Chn"].asInt(), 5);
    EXPECT_EQ(journal.Opened(logins[1], "live").size(), 4u);
    EXPECT_EQ(CurrentChannel(session), 5);
    EXPECT_EQ(ShownBy(session, 5, 16), (Shown{5, kSub}));
    EXPECT_EQ(ShownBy(session, 2, 16), (Shown{2, kFirstMain}));

    // At another address, a device of four channels: channel 5 is not one of them and stays closed.
    messages = session.Exchange(ReLogin("moved", "127.0.0.2"));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"reply"}));
    EXPECT_EQ(messages[0]["SerialNo"].asString(), "SN-SECOND");
    EXPECT_EQ(messages[0]["Ret"].asInt(), 100);
    messages = session.Exchange(Page("live", 0));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(messages[0]["Data"]["Chn"].asInt(), -1);
    logins = journal.Logins();
    ASSERT_EQ(logins.size(), 3u);
    EXPECT_EQ(journal.Opened(logins[2], "live").size(), 3u);
    EXPECT_EQ(ShownBy(session, 1, 4), (Shown{1, kSecondMain}));
    EXPECT_EQ(ShownBy(session, 3, 4), (Shown{3, kSecondMain}));
    EXPECT_EQ(PlayState(session, 5), 0);
    EXPECT_EQ(CurrentChannel(session), -1);

    // Channels the playback page closed are still kept through a re-login, and the live page reports them when
    // it reopens them on the login after it.
    EXPECT_EQ(MessageKinds(session.Exchange(Page("playback", 1))), (Kinds_t{"reply"}));
    messages = session.Exchange(ReLogin("back", "127.0.0.1"));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"reply"}));
    EXPECT_EQ(messages[0]["SerialNo"].asString(), "SN-FIRST");
    messages = session.Exchange(Page("live", 0));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    const Json::Value &status = messages[1]["ChnStatus"];
    ASSERT_EQ(status.size(), 16u);
    for (Json::ArrayIndex i = 0; i < status.size(); ++i)
        EXPECT_EQ(status[i]["Ret"].asInt(), i >= 1 && i <= 3 ? 100 : 1016) << "channel " << i;
    logins = journal.Logins();
    ASSERT_EQ(logins.size(), 4u);
    EXPECT_EQ(journal.Opened(logins[3], "live").size(), 3u);
    EXPECT_EQ(ShownBy(session, 2, 16), (Shown{2, kFirstMain}));

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_TRUE(journal.EverythingClosed());
}
