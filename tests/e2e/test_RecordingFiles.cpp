// Recordings and snapshots as the page asks for them over the socket: a start pressed twice and "record every
// channel" over channels that already record, files of one second, and every file whole once the program ends.

#include "tests/e2e/LiveSession.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/e2e/PlaybackFixture.h"
#include "tests/e2e/RecordedFile.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QRegularExpression>

#include <set>

namespace {

QStringList FilesOf(const QString &strFolder, const QString &strPattern)
{
    return QDir(strFolder).entryList({strPattern}, QDir::Files, QDir::Name);
}

} // namespace

// A channel that records goes on recording when "record" comes again, alone or as "record every channel": its
// one file lasts from its first start to the stop, on the H.264 route (sub stream) and the H.265 route (main).
TEST(RecordingFiles, ARecordingPressedAgainGoesOnInOneWholeFile)
{
    const struct
    {
        int nStream;
        const char *pCodec;
    } cases[] = {{1, "h264"}, {0, "hevc"}};
    for (const auto &c : cases) {
        SCOPED_TRACE("stream " + std::to_string(c.nStream));
        LiveSession session;
        ASSERT_TRUE(session.Start());
        ASSERT_EQ(session.Reply(LiveSession::Open("open", 260, c.nStream))["Ret"].asInt(), 100);
        for (int nChannel = 0; nChannel < 4; ++nChannel)
            ASSERT_FALSE(session.Snapshot(nChannel).isNull()) << "channel " << nChannel;

        RecordTimer channel2, all;
        channel2.BeforeStart();
        const HostMessage first = session.Reply(RecordRequest("on", 2, true));
        channel2.AfterStart();
        ASSERT_EQ(first["Ret"].asInt(), 100);
        const QString strFolder = QString::fromStdString(first["RecPath"].asString());
        ASSERT_TRUE(WaitUntil([&] { return channel2.Running() >= 2000; }, 20000));

        const HostMessage again = session.Reply(RecordRequest("again", 2, true));
        EXPECT_EQ(again["Ret"].asInt(), 100) << again.text.toStdString();
        EXPECT_TRUE(again["Record"].asBool());

        all.BeforeStart();
        std::vector<HostMessage> messages = session.Exchange(RecordRequest("allon", -1, true));
        all.AfterStart();
        ASSERT_EQ(MessageKinds(messages), (std::vector<std::string>{"0/3", "reply"}));
        const Json::Value &status = messages[0]["ChnStatus"];
        ASSERT_EQ(status.size(), 16u);
        for (Json::ArrayIndex i = 0; i < 4; ++i) {
            EXPECT_EQ(status[i]["Ret"].asInt(), 100) << "channel " << i;
            EXPECT_TRUE(status[i]["Record"].asBool()) << "channel " << i;
        }
        ASSERT_TRUE(WaitUntil([&] { return all.Running() >= 2000; }, 20000));

        channel2.BeforeStop();
        all.BeforeStop();
        messages = session.Exchange(RecordRequest("alloff", -1, false));
        channel2.AfterStop();
        all.AfterStop();
        ASSERT_EQ(MessageKinds(messages), (std::vector<std::string>{"0/3", "reply"}));
        for (Json::ArrayIndex i = 0; i < 4; ++i)
            EXPECT_FALSE(messages[0]["ChnStatus"][i]["Record"].asBool()) << "channel " << i;

        ASSERT_TRUE(session.Plugin().Finish());
        EXPECT_EQ(session.Plugin().ExitCode(), 0);
        for (int nChannel = 0; nChannel < 4; ++nChannel) {
            const QStringList files = FilesOf(strFolder, QString("%1_*.mp4").arg(nChannel + 1, 2, 10, QChar('0')));
            ASSERT_EQ(files.size(), 1) << "channel " << nChannel << ": " << files.join(" ").toStdString();
            ExpectWholeRecording(QDir(strFolder).filePath(files[0]), c.pCodec, nChannel == 2 ? channel2 : all);
        }
        EXPECT_FALSE(QFileInfo::exists(session.Plugin().App().FilePath("Temp1")));
    }
}

// In OEM mode 0 the decode library records the name it is given: starts of one second each keep a file of
// their own.
TEST(RecordingFiles, StartsOfOneSecondKeepAFileEachInModeZero)
{
    HostedPlugin plugin;
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));
    ASSERT_EQ(plugin.Request(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    const QRegularExpression name("^01_(\\d{8}_\\d{6})(_\\d+)?\\.h265x$");
    // Starts and stops back to back, until two starts have fallen within one second (they nearly always do at
    // once): every start keeps a file.
    QString strFolder;
    int nStarts = 0;
    bool bSameSecond = false;
    for (int nRound = 0; nRound < 5 && !bSameSecond; ++nRound) {
        for (int i = 0; i < 3; ++i) {
            const std::string strId = std::to_string(nRound) + "-" + std::to_string(i);
            const HostMessage on = plugin.Request(RecordRequest("on" + strId, 0, true));
            ASSERT_EQ(on["Ret"].asInt(), 100) << on.text.toStdString();
            strFolder = QString::fromStdString(on["RecPath"].asString());
            ++nStarts;
            ASSERT_EQ(plugin.Request(RecordRequest("off" + strId, 0, false))["Ret"].asInt(), 100);
        }
        const QStringList files = FilesOf(strFolder, "01_*");
        ASSERT_EQ(files.size(), nStarts) << files.join(" ").toStdString();
        std::set<QString> seconds;
        for (const QString &strFile : files) {
            const QRegularExpressionMatch match = name.match(strFile);
            ASSERT_TRUE(match.hasMatch()) << strFile.toStdString();
            seconds.insert(match.captured(1));
        }
        bSameSecond = static_cast<int>(seconds.size()) < nStarts;
    }
    EXPECT_TRUE(bSameSecond);
    ASSERT_TRUE(plugin.Finish());
}

// Three snapshots in one second are three files, on the live page (BMP and JPEG) and on the playback page.
TEST(RecordingFiles, SnapshotsOfOneSecondAreFilesOfTheirOwn)
{
    for (int nImageType : {0, 1}) {
        SCOPED_TRACE("image type " + std::to_string(nImageType));
        LiveSession session;
        ASSERT_TRUE(session.Plugin().App().WriteClientCfg(QString("[Info]\nImageType=%1\n").arg(nImageType).toUtf8()));
        ASSERT_TRUE(session.Start());
        ASSERT_EQ(session.Reply(LiveSession::Open("open", 5, 1))["Ret"].asInt(), 100);
        ASSERT_FALSE(session.Snapshot(5).isNull());
        const HostMessage first = session.Reply(LiveSession::Preview(9, "first", 5));
        const QString strFolder = QString::fromStdString(first["CapPath"].asString());
        const QString strPattern = nImageType == 0 ? "06_*.bmp" : "06_*.jpg";
        const int nBefore = FilesOf(strFolder, strPattern).size();
        for (int i = 0; i < 3; ++i)
            session.Plugin().Send(LiveSession::Preview(9, "shot" + std::to_string(i), 5));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(session.Plugin().WaitReply("shot" + std::to_string(i))["Ret"].asInt(), 100);
        const QStringList files = FilesOf(strFolder, strPattern);
        EXPECT_EQ(files.size(), nBefore + 3) << files.join(" ").toStdString();
        for (const QString &strFile : files)
            EXPECT_FALSE(QImage(QDir(strFolder).filePath(strFile)).isNull()) << strFile.toStdString();
        ASSERT_TRUE(session.Plugin().Finish());
    }
}

class PlaybackSnapshots : public PlaybackE2e::PlaybackTest
{
};

TEST_F(PlaybackSnapshots, SnapshotsOfOneSecondAreFilesOfTheirOwn)
{
    using namespace PlaybackE2e;
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    ASSERT_EQ(m_plugin.Request(ByTime("t", 0, {{3, 0, 60}}))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitAfter(IndexOfReply("t"), [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 0 && m["Data"]["pos"].asDouble() > 0;
    }));
    for (int i = 0; i < 3; ++i)
        m_plugin.Send(ForChannel("shot" + std::to_string(i), 41, 3));
    QString strFolder;
    for (int i = 0; i < 3; ++i) {
        const HostMessage reply = m_plugin.WaitReply("shot" + std::to_string(i));
        EXPECT_EQ(reply["Ret"].asInt(), 100) << reply.text.toStdString();
        strFolder = QString::fromStdString(reply["CapPath"].asString());
    }
    const QStringList files = FilesOf(strFolder, "04_*.bmp");
    EXPECT_EQ(files.size(), 3) << files.join(" ").toStdString();
    for (const QString &strFile : files)
        EXPECT_FALSE(QImage(QDir(strFolder).filePath(strFile)).isNull()) << strFile.toStdString();
}
