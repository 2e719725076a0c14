// Live preview requests through the program: channels opened and closed one, four and sixteen at a time, every
// operation's reply, the stream switch, sound, recording, snapshots and proportions, ranges the tables do not
// hold, and the 32-bit deliverable's memory budget.

#include "runtime/JsonText.h"
#include "tests/e2e/LiveSession.h"
#include "tests/support/RecordFixture.h"
#include "tests/support/TestPatternCheck.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>

namespace {

using Kinds_t = std::vector<std::string>;

// The play state the host reports for a live channel.
int PlayState(LiveSession &session, int nChannel)
{
    const HostMessage reply = session.Reply(LiveSession::Preview(4, "state", nChannel));
    return reply ? reply["Status"].asInt() : -100;
}

// Every entry of a channel-status event: its "Ret" values by channel, and whether it carries "Error".
struct Entries
{
    std::vector<int> rets;
    std::vector<bool> errors;
};

Entries EntriesOf(const HostMessage &event)
{
    Entries entries;
    const Json::Value &status = event["ChnStatus"];
    for (Json::ArrayIndex i = 0; i < status.size(); ++i) {
        EXPECT_EQ(status[i]["Chn"].asInt(), static_cast<int>(i));
        entries.rets.push_back(status[i]["Ret"].asInt());
        entries.errors.push_back(status[i].isMember("Error"));
    }
    return entries;
}

std::string OpenReply(const char *pMsgId, int nChannel, int nOldChannel, int nStream, int nRet)
{
    return "{\"Chn\":" + std::to_string(nChannel) + ",\"Msg\":4,\"MsgID\":\"" + pMsgId + "\",\"Ret\":" +
           std::to_string(nRet) + ",\"Stream\":" + std::to_string(nStream) + ",\"SubMsg\":0,\"oldChn\":" +
           std::to_string(nOldChannel) + "}\n";
}

} // namespace

TEST(LivePreview, OneFourAndSixteenChannelsOpenShowTheirChannelsAndClose)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());

    // One channel in the current window: the window's state, then the reply.
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("one", 0, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(messages[0]["Data"]["Chn"].asInt(), 0);
    EXPECT_EQ(messages[0]["Data"]["CurChannel"].asInt(), 0);
    EXPECT_EQ(messages[1].text.toStdString(), OpenReply("one", 0, -1, 1, 100));
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(0), 16), 0);

    // Four channels in windows 0 to 3, then all sixteen: one status entry a channel, the last one's result.
    messages = session.Exchange(LiveSession::Open("four", 260, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    EXPECT_EQ(EntriesOf(messages[1]).rets, std::vector<int>(4, 100));
    EXPECT_EQ(JsonText::Write(messages[1]["ChnStatus"][3]), "{\"Chn\":3,\"Record\":false,\"Ret\":100,\"Stream\":1}\n");
    EXPECT_EQ(messages[2].text.toStdString(), OpenReply("four", 0, 0, 0, 100));
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(3), 16), 3);

    messages = session.Exchange(LiveSession::Open("all", -1, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    const Entries all = EntriesOf(messages[1]);
    EXPECT_EQ(all.rets, std::vector<int>(16, 100));
    EXPECT_EQ(all.errors, std::vector<bool>(16, false));
    for (int nChannel : {0, 7, 15})
        EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(nChannel), 16), nChannel) << "channel " << nChannel;

    // One channel closes; the others play on.
    messages = session.Exchange(LiveSession::Close("close5", 5));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(messages[1].text.toStdString(), "{\"Chn\":5,\"Msg\":4,\"MsgID\":\"close5\",\"Ret\":100,\"SubMsg\":1}\n");
    EXPECT_EQ(PlayState(session, 5), 0);
    EXPECT_EQ(PlayState(session, 6), 2);
    // A closed channel has no picture to take, and the reply names no folder.
    EXPECT_EQ(session.Reply(LiveSession::Preview(9, "shot5", 5)).text.toStdString(),
              "{\"Chn\":5,\"Msg\":4,\"MsgID\":\"shot5\",\"Ret\":1016,\"SubMsg\":9}\n");

    // Every channel closes: one entry a channel of the device, with stream 9.
    messages = session.Exchange(LiveSession::Close("closeall", -1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    EXPECT_EQ(messages[1]["Ret"].asInt(), 1016);
    EXPECT_EQ(EntriesOf(messages[1]).rets, std::vector<int>(16, 100));
    EXPECT_EQ(messages[1]["ChnStatus"][15]["Stream"].asInt(), 9);
    EXPECT_EQ(messages[2].text.toStdString(), "{\"Chn\":-1,\"Msg\":4,\"MsgID\":\"closeall\",\"Ret\":100,\"SubMsg\":1}\n");
    for (int nChannel : {0, 6, 15})
        EXPECT_EQ(PlayState(session, nChannel), 0) << "channel " << nChannel;

    ASSERT_TRUE(session.Plugin().Finish());
    EXPECT_EQ(session.Plugin().ExitCode(), 0);
}

// A range opened again closes its channels' streams before their tiles, so that no block reaches a closed tile.
TEST(LivePreview, ARangeOpenedAgainStopsEveryStreamBeforeAnyTile)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("first", 260, 1))["Ret"].asInt(), 100);
    // The log lines of a request end with its reply's.
    ASSERT_TRUE(session.Plugin().WaitForLog("\"MsgID\":\"first\",\"Ret\""));
    const int nBefore = session.Plugin().Output().size();
    ASSERT_EQ(session.Reply(LiveSession::Open("again", 260, 1))["Ret"].asInt(), 100);
    ASSERT_TRUE(session.Plugin().WaitForLog("\"MsgID\":\"again\",\"Ret\""));

    const QByteArray log = session.Plugin().Output().mid(nBefore);
    const int nFirstTile = log.indexOf("PlayWidget::PreviewStop Chn=");
    ASSERT_GE(nFirstTile, 0);
    const QByteArray beforeTiles = log.left(nFirstTile);
    EXPECT_EQ(beforeTiles.count("ZDK_DEV_StopRealPlay lPlay="), 4) << log.toStdString();
    EXPECT_EQ(log.count("ZDK_DEV_StopRealPlay lPlay="), 4);
    EXPECT_EQ(log.count("PlayWidget::PreviewStop Chn="), 4);
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(2), 16), 2);
}

TEST(LivePreview, EachOperationAnswersAsThePageExpects)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    // The picture size is known once a picture has been decoded.
    ASSERT_FALSE(session.Snapshot(0).isNull());

    auto request = [](int nSubType, const char *pMsgId, const Json::Value &keys) {
        Json::Value value = HostedPlugin::NewRequest(4, nSubType, pMsgId);
        for (const std::string &strKey : keys.getMemberNames())
            value[strKey] = keys[strKey];
        return value;
    };
    auto keys = [](const char *pJson) {
        Json::Value value(Json::objectValue);
        JsonText::Parse(pJson, value);
        return value;
    };
    struct Case
    {
        int nSubType;
        const char *pMsgId;
        const char *pKeys;
        std::string strReply;
    };
    const Case cases[] = {
        // Colour of the current channel, then read back; a channel the page does not have reads nothing.
        {3, "set", R"({"Type":4,"Value":70})", R"({"Chn":-1,"Msg":4,"MsgID":"set","Ret":100,"SubMsg":3})"},
        {2, "get", R"({"Channel":0})",
         R"({"Msg":4,"MsgID":"get","Ret":100,"SubMsg":2,"nBrightness":70,"nContrast":70,"nHue":70,"nSaturation":70})"},
        {2, "get70", R"({"Channel":70})",
         R"({"Msg":4,"MsgID":"get70","Ret":1016,"SubMsg":2,"nBrightness":0,"nContrast":0,"nHue":0,"nSaturation":0})"},
        // A channel never opened has no decode channel to read.
        {2, "get9", R"({"Channel":9})",
         R"({"Msg":4,"MsgID":"get9","Ret":1016,"SubMsg":2,"nBrightness":0,"nContrast":0,"nHue":0,"nSaturation":0})"},
        {4, "state", R"({"Channel":0})", R"({"Msg":4,"MsgID":"state","Ret":100,"Status":2,"SubMsg":4})"},
        {4, "state70", R"({"Channel":70})", R"({"Msg":4,"MsgID":"state70","Ret":1016,"Status":-1,"SubMsg":4})"},
        {7, "cur", "{}", R"({"Chn":0,"Msg":4,"MsgID":"cur","Ret":100,"SubMsg":7})"},
        {8, "soundon", R"({"Channel":0})", R"({"Audio":true,"Chn":0,"Msg":4,"MsgID":"soundon","Ret":100,"SubMsg":8})"},
        {8, "soundoff", R"({"Channel":0})", R"({"Audio":false,"Chn":0,"Msg":4,"MsgID":"soundoff","Ret":100,"SubMsg":8})"},
        {8, "sound70", R"({"Channel":70})", R"({"Audio":false,"Chn":70,"Msg":4,"MsgID":"sound70","Ret":1016,"SubMsg":8})"},
        {12, "original", "{}", R"({"Msg":4,"MsgID":"original","Ret":100,"SubMsg":12})"},
        {18, "ratio", R"({"Ratio":2})", R"({"Msg":4,"MsgID":"ratio","Ratio":2,"Ret":100,"SubMsg":18})"},
        {13, "normal", "{}", R"({"Msg":4,"MsgID":"normal","Ret":100,"SubMsg":13})"},
        {5, "full", "{}", R"({"Chn":-1,"Msg":4,"MsgID":"full","Ret":100,"SubMsg":5})"},
    };
    for (const Case &c : cases) {
        const HostMessage reply = session.Reply(request(c.nSubType, c.pMsgId, keys(c.pKeys)));
        EXPECT_EQ(reply.text.toStdString(), c.strReply + "\n") << "SubType " << c.nSubType;
    }
    EXPECT_TRUE(session.Plugin().WaitForLog("PlayControlCmdPlayOriginal--->0"));

    // Operations the live page does not have are not answered.
    for (int nSubType : {6, 11, 14, 17, 19, -1})
        EXPECT_TRUE(session.NoReply(HostedPlugin::NewRequest(4, nSubType, "none" + std::to_string(nSubType))))
            << "SubType " << nSubType;
}

TEST(LivePreview, TheStreamSwitchReopensTheChannelOnTheOtherStream)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("sub", 0, 1))["Ret"].asInt(), 100);
    const QImage sub = session.Snapshot(0);
    EXPECT_EQ(sub.size(), QSize(640, 360));
    EXPECT_EQ(TestPattern::ChannelShown(sub, 16), 0);

    // The channel leaves its tile first, so the current window no longer shows a channel to replace.
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("main", 0, 0));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "reply"}));
    EXPECT_EQ(messages[1].text.toStdString(), OpenReply("main", 0, -1, 0, 100));
    EXPECT_TRUE(WaitUntil([&] { return session.Snapshot(0).size() == QSize(1280, 720); }, HostedPlugin::kWaitMs));
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(0), 16), 0);

    // Another channel into the current window replaces the one it showed.
    messages = session.Exchange(LiveSession::Open("other", 9, 1));
    EXPECT_EQ(messages.back().text.toStdString(), OpenReply("other", 9, 0, 1, 100));
    EXPECT_EQ(PlayState(session, 0), 0);
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(9), 16), 9);
    EXPECT_EQ(session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(), 9);
}

TEST(LivePreview, ARecordingByRequestIsAnMp4AsLongAsTheTimeRecorded)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 2, 1))["Ret"].asInt(), 100);
    ASSERT_FALSE(session.Snapshot(2).isNull());

    Json::Value on = LiveSession::Preview(10, "on", 2);
    on["Record"] = 1;
    const HostMessage started = session.Reply(on);
    QElapsedTimer recorded;
    recorded.start();
    ASSERT_EQ(started["Ret"].asInt(), 100);
    EXPECT_TRUE(started["Record"].asBool());
    const QString strFolder = QString::fromStdString(started["RecPath"].asString());
    ASSERT_FALSE(strFolder.isEmpty());
    // The recording is to hold a known length of pictures: the stream plays on into it for three seconds.
    ASSERT_TRUE(session.Plugin().WaitForLog("nChannel :2,bRecord :1"));
    ASSERT_TRUE(WaitUntil([&] { return recorded.elapsed() >= 3000; }, 10000));

    Json::Value off = LiveSession::Preview(10, "off", 2);
    off["Record"] = 0;
    const HostMessage stopped = session.Reply(off);
    const double dRecorded = static_cast<double>(recorded.elapsed()) / 1000.0;
    EXPECT_EQ(stopped.text.toStdString(), "{\"Chn\":2,\"Msg\":4,\"MsgID\":\"off\",\"RecPath\":\"" +
                                              strFolder.toStdString() + "\",\"Record\":false,\"Ret\":100,\"SubMsg\":10}\n");

    // The program finishes the file before it ends.
    ASSERT_TRUE(session.Plugin().Finish());
    const QString strFile = LiveSession::NewestFile(strFolder, "03_*.mp4");
    ASSERT_FALSE(strFile.isEmpty()) << strFolder.toStdString();
    const RecordTest::MediaReport report = RecordTest::Probe(strFile);
    EXPECT_EQ(report.strVideoCodec, "h264") << RecordTest::Describe(report);
    EXPECT_NEAR(report.dVideoDuration, dRecorded, 1.0) << RecordTest::Describe(report);
}

TEST(LivePreview, RecordingEveryChannelReportsEachOne)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 260, 1))["Ret"].asInt(), 100);

    Json::Value on = LiveSession::Preview(10, "allon", -1);
    on["Record"] = 1;
    std::vector<HostMessage> messages = session.Exchange(on);
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/3", "reply"}));
    EXPECT_EQ(messages[1].text.toStdString(), "{\"Chn\":-1,\"Msg\":4,\"MsgID\":\"allon\",\"Record\":0,\"SubMsg\":10}\n");
    const Json::Value &status = messages[0]["ChnStatus"];
    ASSERT_EQ(status.size(), 16u);
    for (Json::ArrayIndex i = 0; i < status.size(); ++i) {
        // Channels 0 to 3 play and record; the others have no stream to record.
        EXPECT_EQ(status[i]["Record"].asBool(), i < 4) << "channel " << i;
        EXPECT_EQ(status[i]["Ret"].asInt(), i < 4 ? 100 : 1016) << "channel " << i;
    }

    Json::Value off = LiveSession::Preview(10, "alloff", -1);
    off["Record"] = 0;
    messages = session.Exchange(off);
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/3", "reply"}));
    for (Json::ArrayIndex i = 0; i < 16; ++i)
        EXPECT_FALSE(messages[0]["ChnStatus"][i]["Record"].asBool()) << "channel " << i;
}

TEST(LivePreview, ChannelsBeyondTheTablesAreRefusedWithoutHarm)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());

    // A range of 100 channels opens the 64 the tables hold; the device has 16 of them.
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("range", 356, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    const Entries entries = EntriesOf(messages[1]);
    ASSERT_EQ(entries.rets.size(), 64u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(entries.rets[i], i < 16 ? 100 : 122) << "channel " << i;
        EXPECT_EQ(entries.errors[i], i >= 16) << "channel " << i;
    }
    EXPECT_EQ(messages[2].text.toStdString(), OpenReply("range", 0, 0, 0, 122));

    // One channel outside the tables: refused, nothing closed.
    for (int nChannel : {64, 100, 256, -2, -1000}) {
        const std::string strId = "single" + std::to_string(nChannel);
        EXPECT_EQ(session.Reply(LiveSession::Open(strId, nChannel, 1)).text.toStdString(),
                  OpenReply(strId.c_str(), nChannel, -1, 1, 1016));
    }
    for (int nSubType : {9, 10}) {
        const HostMessage reply = session.Reply(LiveSession::Preview(nSubType, "page", 64));
        EXPECT_EQ(reply["Ret"].asInt(), 1016) << "SubType " << nSubType;
    }
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(12), 16), 12);
    EXPECT_EQ(PlayState(session, 15), 2);

    ASSERT_TRUE(session.Plugin().Finish());
    EXPECT_FALSE(session.Plugin().Crashed());
    EXPECT_EQ(session.Plugin().ExitCode(), 0);
}

TEST(LivePreview, ChannelsTheDeviceRefusesReportTheirError)
{
    LiveSession session("x64", R"({"Devices": [{"Channels": 4}]})");
    ASSERT_TRUE(session.Start());
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("six", 262, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    const Entries entries = EntriesOf(messages[1]);
    EXPECT_EQ(entries.rets, (std::vector<int>{100, 100, 100, 100, 122, 122}));
    EXPECT_EQ(entries.errors, (std::vector<bool>{false, false, false, false, true, true}));
    EXPECT_LT(messages[1]["ChnStatus"][4]["Error"].asInt(), 0);
    EXPECT_EQ(messages[2]["Ret"].asInt(), 122);

    // A single channel the device refuses: its tile is stopped again and its error reported.
    messages = session.Exchange(LiveSession::Open("five", 5, 1));
    EXPECT_EQ(messages.back()["Ret"].asInt(), 122);
    EXPECT_LT(messages.back()["Error"].asInt(), 0);
    EXPECT_EQ(session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(), -1);
}

// The decode library opens the channel's port but will not play it: the page answers 121 and closes the port
// again, so that the next open opens it afresh and plays.
TEST(LivePreview, APortThatDoesNotPlayIsClosedAgain)
{
    LiveSession session;
    session.Plugin().SetEnv("PAVLINE_FAIL_NEXT", "KTN_VIEW_Play:9");
    ASSERT_TRUE(session.Start());
    EXPECT_EQ(session.Reply(LiveSession::Open("refused", 2, 1))["Ret"].asInt(), 121);
    ASSERT_TRUE(session.Plugin().WaitForLog("[CDecodeChannel::StartPreview]"));
    EXPECT_EQ(PlayState(session, 2), 0);
    EXPECT_EQ(session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(), -1);

    EXPECT_EQ(session.Reply(LiveSession::Open("again", 2, 1))["Ret"].asInt(), 100);
    EXPECT_EQ(TestPattern::ChannelShown(session.Snapshot(2), 16), 2);
    ASSERT_TRUE(session.Plugin().Finish());
    const QByteArray log = session.Plugin().App().LogFiles();
    EXPECT_EQ(log.count("[CDecodeChannel::Open]"), 2);
    const int nRefused = log.indexOf("Port=2 Res=0");
    ASSERT_GE(nRefused, 0);
    const int nClose = log.indexOf("[CDecodeChannel::Close]", nRefused);
    EXPECT_GE(nClose, 0) << "the port was left open";
    EXPECT_LT(nClose, log.indexOf("[CDecodeChannel::Open]", nRefused)) << "closed only later";
}

// The 32-bit deliverable opens as many channels as the memory it finds allows: the figures it logs decide.
TEST(LivePreviewBudget, TheThirtyTwoBitDeliverableOpensWhatItsMemoryAllows)
{
    LiveSession session("x86");
    ASSERT_TRUE(session.Start());
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("range", 320, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));

    const QRegularExpression figures("CurAppMemory=(\\d+)<=+>CurRemainMemory=(\\d+)");
    const QRegularExpressionMatch match = figures.match(QString::fromUtf8(session.Plugin().Output()));
    ASSERT_TRUE(match.hasMatch());
    const int nOwn = match.captured(1).toInt();
    const int nRemain = match.captured(2).toInt();
    EXPECT_LE(nRemain, 1024);
    EXPECT_TRUE(session.Plugin().WaitForLog(QString("nRemainMemory--------->nRemainMemory:%1").arg(nRemain).toUtf8()));
    const int nAllowed = std::clamp((nRemain - nOwn) / 25, 0, 64);
    const Entries entries = EntriesOf(messages[1]);
    ASSERT_EQ(static_cast<int>(entries.rets.size()), nAllowed);
    for (int i = 0; i < nAllowed; ++i)
        EXPECT_EQ(entries.rets[i], i < 16 ? 100 : 122) << "channel " << i;
    EXPECT_LT(nAllowed, 64) << "the machine's memory leaves the budget nothing to limit";

    // One channel: the figures and the number it allows are logged.
    EXPECT_EQ(session.Reply(LiveSession::Open("one", 3, 0))["Ret"].asInt(), nAllowed > 0 ? 100 : 1010);
    EXPECT_TRUE(session.Plugin().WaitForLog("nSupportNum : "));
}

TEST(LivePreviewBudget, TheSixtyFourBitDeliverableHasNoBudget)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    std::vector<HostMessage> messages = session.Exchange(LiveSession::Open("range", 320, 1));
    ASSERT_EQ(MessageKinds(messages), (Kinds_t{"0/2", "0/3", "reply"}));
    EXPECT_EQ(messages[1]["ChnStatus"].size(), 64u);
    EXPECT_FALSE(session.Plugin().Output().contains("CurAppMemory="));
}
