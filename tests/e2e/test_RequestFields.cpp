// Requests whose fields have the wrong JSON type, through the program: each is answered as failed and the
// program goes on, logged in or not.

#include "runtime/JsonText.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/e2e/PlaybackFixture.h"

#include <QDir>

#include <gtest/gtest.h>

#include <string>

namespace {

struct WrongField
{
    int nMainType;
    const char *pSubType; // JSON text of the "SubType"
    const char *pFields;  // further keys, a JSON object; a "MsgID" here replaces the case's own
};

// Over the handlers, a field each that the handler reads: texts, arrays, objects and numbers no int holds.
const WrongField kWrongFields[] = {
    {24, "0", R"({"Channel":0,"Step":"1"})"},
    {24, "6", R"({"Channel":0,"Preset":[1]})"},
    {24, "4", R"({"Channel":0,"Step":1e12})"},
    {24, "7", R"({"Channel":{"a":1},"Preset":1})"},
    {4, "0", R"({"Channel":"0","Stream":1})"},
    {4, "0", R"({"Channel":0,"Stream":[1]})"},
    {4, "0", R"({"Channel":1e300,"Stream":1})"},
    {4, "1", R"({"Channel":{}})"},
    {4, "2", R"({"Channel":4294967296})"},
    {4, "3", R"({"Type":"1","Value":1})"},
    {4, "8", R"({"Channel":[0]})"},
    {4, "9", R"({"Channel":"2"})"},
    {4, "10", R"({"Channel":0,"Record":"on"})"},
    {4, "18", R"({"Ratio":{}})"},
    {2, "\"1\"", "{}"},
    {3, "[2]", "{}"},
    {11, "{\"w\":1}", "{}"},
    {12, "0", R"({"Pos":"full"})"},
    {12, "0", R"({"Pos":{"Left":"1","Top":0,"Width":10,"Height":10}})"},
    {5, "34", R"({"Mode":"2"})"},
    {5, "39", R"({"Channel":0,"FileInfo":["a"]})"},
    {5, "40", R"({"Channel":0,"Cmd":"16"})"},
    {5, "41", R"({"Channel":[]})"},
    {6, "0", R"({"Channel":"0","Stream":0})"},
    {16, "0", R"({"AutoTestEnabled":"yes","Channel":0})"},
    {16, "2", R"({"AutoTestEnabled":[true]})"},
    {18, "50", R"({"RecPath":5,"CapPath":"/c","DownPath":"/d"})"},
    {19, "\"3\"", "{}"},
    {20, "0", R"({"SampleRate":"16000"})"},
    {20, "3", R"({"Channel":"1","FilePurpose":0})"},
    {21, "[0]", "{}"},
    {22, "0", R"({"Language":5})"},
    {25, "1", R"({"FileName":{}})"},
    {28, "0", R"({"IPAddress":{}})"},
    {29, "0", R"({"Speed":"fast"})"},
    {30, "2", R"({"MsgID":"import"})"},
    {30, "2", R"({"Channel":[]})"},
    {34, "1", R"({"AreaNum":"1"})"},
    {34, "1", R"({"PedRule":[{"RuleLine":5}]})"},
    {34, "1", R"({"PedRule":["x"]})"},
    {36, "\"x\"", "{}"},
};

Json::Value Parsed(const char *pText)
{
    Json::Value value;
    EXPECT_TRUE(JsonText::Parse(pText, value)) << pText;
    return value;
}

// The failure answer: the envelope as the handlers write it ("SubType" as an int where it is one, else as it
// stands; the snapshot's under "Channel"), "Ret" 1016.
std::string FailedAnswer(int nMainType, const Json::Value &subType, const Json::Value &msgId)
{
    Json::Value answer(Json::objectValue);
    answer["Msg"] = nMainType;
    answer[nMainType == 19 ? "Channel" : "SubMsg"] = subType.isInt() ? Json::Value(subType.asInt()) : subType;
    answer["MsgID"] = msgId;
    answer["Ret"] = 1016;
    return JsonText::Write(answer);
}

// Sends every case and checks its answer; the program is alive after each.
void CheckEveryCase(HostedPlugin &plugin, int nFirstId)
{
    int nMsgId = nFirstId;
    for (const WrongField &c : kWrongFields) {
        Json::Value request = Parsed(c.pFields);
        if (!request.isMember("MsgID"))
            request["MsgID"] = ++nMsgId;
        const Json::Value msgId = request["MsgID"];
        request["MainType"] = c.nMainType;
        request["SubType"] = Parsed(c.pSubType);
        const std::string strRequest = JsonText::Write(request);
        SCOPED_TRACE(strRequest);
        const HostMessage reply = plugin.Request(request);
        ASSERT_TRUE(reply) << "no answer";
        EXPECT_EQ(reply.text.toStdString(), FailedAnswer(c.nMainType, request["SubType"], msgId));
        ASSERT_FALSE(plugin.HasExited());
    }
    ASSERT_TRUE(plugin.Sync());
}

} // namespace

TEST(RequestFields, AFieldOfTheWrongTypeIsAnsweredAsFailedAndTheProgramGoesOn)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    {
        SCOPED_TRACE("logged out");
        CheckEveryCase(plugin, 0);
    }
    const HostMessage login = plugin.Request(LoginByAddress("login"));
    ASSERT_TRUE(login);
    ASSERT_EQ(login["Ret"].asInt(), 100);
    {
        SCOPED_TRACE("logged in");
        CheckEveryCase(plugin, 1000);
    }
    // The re-login that could not be read left the login as it was: a channel still opens.
    Json::Value open = HostedPlugin::NewRequest(4, 0, "open");
    open["Channel"] = 0;
    open["Stream"] = 1;
    const HostMessage opened = plugin.Request(open);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened["Ret"].asInt(), 100);

    ASSERT_TRUE(plugin.Finish());
    EXPECT_FALSE(plugin.Crashed());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("[ERROR] [CPluginManage::onRecvWebsocketMsg] "), 2 * static_cast<int>(std::size(kWrongFields)));
    // Every field was read on the request thread, before any of the request's work was handed to the windows.
    EXPECT_EQ(log.count("a function run on the GUI thread failed"), 0);
}

// A download list that cannot be read, sent while another comes down: the running list is left as it was, and
// each of its files comes down under its own name.
class RequestFieldsDownload : public PlaybackE2e::PlaybackTest
{
};

TEST_F(RequestFieldsDownload, AnUnreadableListLeavesTheRunningOneWhole)
{
    ASSERT_TRUE(Open(4));
    const HostMessage started = m_plugin.Request(PlaybackE2e::Download(
        "list", 0,
        {{"/idea0/a.h264", "2024-01-15 10:00:00", "2024-01-15 10:00:04"},
         {"/idea0/b.h264", "2024-01-15 10:01:00", "2024-01-15 10:01:04"}}));
    ASSERT_TRUE(started);
    ASSERT_EQ(started["Ret"].asInt(), 100);
    const QString strFolder = QString::fromStdString(started["DownPath"].asString());

    Json::Value unreadable = PlaybackE2e::Download("bad", 0, {{"/idea0/c.h264", "2024-01-15 10:02:00", "2024-01-15 10:02:04"}});
    unreadable["FileInfo"][0]["EndTime"] = Json::Value(Json::arrayValue);
    const HostMessage refused = m_plugin.Request(unreadable);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused["Ret"].asInt(), 1016);

    ASSERT_TRUE(WaitAfter(IndexOfReply("list"), [](const HostMessage &m) { return PlaybackE2e::IsEvent(m, 1, 5); }));
    EXPECT_EQ(QDir(strFolder).entryList(QDir::Files, QDir::Name).join(' ').toStdString(),
              "01_2024-01-15_100000_100004.h265x 01_2024-01-15_100100_100104.h265x");
}
