// Replies and events whose text would pass the link's 65535 bytes reach the page as JSON it can read: the long
// value is shortened, at a character boundary, and every other key stays as it was.

#include "tests/e2e/LoginFixture.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kMaxBytes = 65535;

std::string Repeated(const std::string &strUnit, int nTimes)
{
    std::string str;
    for (int i = 0; i < nTimes; ++i)
        str += strUnit;
    return str;
}

// The message came whole and within the limit, and its text value under strKey is a start of strOriginal that
// ends at a character boundary and holds most of what fits.
void ExpectShortened(const HostMessage &message, const char *pKey, const std::string &strOriginal)
{
    ASSERT_TRUE(message);
    EXPECT_LE(message.text.size(), kMaxBytes);
    ASSERT_TRUE(message.value.isObject()) << message.text.left(200).constData();
    const std::string strShort = message[pKey].asString();
    ASSERT_LT(strShort.size(), strOriginal.size()) << pKey;
    EXPECT_EQ(strOriginal.compare(0, strShort.size(), strShort), 0) << pKey;
    EXPECT_NE(static_cast<unsigned char>(strOriginal[strShort.size()]) & 0xC0, 0x80) << pKey << ": a character was split";
    // One character more (at most twelve bytes written) would not have fitted.
    EXPECT_GT(message.text.size() + 12, kMaxBytes);
}

// The reply to a request of that "MainType" (its "MsgID" may be shortened, so it cannot be waited for by it).
HostMessage WaitReplyOf(HostedPlugin &plugin, int nMainType)
{
    return plugin.WaitMessage([nMainType](const HostMessage &message) {
        return message.value.isObject() && message["Msg"] == nMainType;
    });
}

} // namespace

TEST(LongMessages, VersionTextsAndChoicesTooLongForTheLinkArriveShortened)
{
    TestHttpServer server;
    ASSERT_TRUE(server.Listen());
    // 80,000 characters of one to four bytes each, written escaped as six or twelve: about 400 KB of text.
    const std::string strLog = Repeated("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 x", 16000);
    server.SetResponse("/ocx/OmbrixVersion.ini", {200, "[Tool]\nversion=2.0.0.0\ndate=2025-02-03\n"});
    server.SetResponse("/ocx/ombrixupdatelog", {200, QByteArray::fromStdString(strLog)});
    const std::string strWebVersion = "1." + std::string(70000, '7');
    server.SetResponse("/web/Web/Info.txt", {200, QByteArray::fromStdString("Version:V" + strWebVersion + "\n")});
    const std::string strChosen = "/" + Repeated("\xc3\xa9", 40000);

    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteFile("OmbrixVersion.ini", "[Tool]\nversion=1.0.2.5\ndate=2024-05-01\n"));
    BrowseBehaviour behaviour;
    behaviour.output = QByteArray::fromStdString(strChosen);
    ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
    plugin.SetEnv("QUORRIN_UPDATE_HOST", server.HostPort());
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));

    {
        SCOPED_TRACE("update log");
        ASSERT_EQ(plugin.Request(HostedPlugin::NewRequest(22, 0, "tool"))["Ret"].asInt(), 100);
        const HostMessage event = plugin.WaitEvent(0, 4);
        ExpectShortened(event, "OmbrixUpdateLog", strLog);
        EXPECT_TRUE(event["bNew"].asBool());
        EXPECT_EQ(event["newVersion"].asString(), "2.0.0.0");
        EXPECT_EQ(event["curVersion"].asString(), "1.0.2.5");
    }
    {
        SCOPED_TRACE("web version line");
        const HostMessage reply = plugin.Request(HostedPlugin::NewRequest(36, 0, "web"));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply["Ret"].asInt(), 100);
        const QList<HostMessage> messages = plugin.Messages();
        ASSERT_GE(messages.size(), 2);
        ExpectShortened(messages[messages.size() - 2], "newVersion", strWebVersion);
    }
    const std::pair<int, int> choices[] = {{18, 48}, {25, 0}};
    for (const auto &choice : choices) {
        SCOPED_TRACE(choice.first);
        const HostMessage reply = plugin.Request(HostedPlugin::NewRequest(choice.first, choice.second, "choose"));
        ExpectShortened(reply, "Path", strChosen);
        EXPECT_EQ(reply["nRet"].asInt(), 100);
        EXPECT_EQ(reply["MsgID"].asString(), "choose");
    }
    EXPECT_TRUE(plugin.WaitForLog("\"OmbrixUpdateLog\" "));
    EXPECT_TRUE(plugin.WaitForLog("\"Path\" "));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(LongMessages, ALongMsgIdIsEchoedShortened)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    const struct
    {
        const char *pName;
        std::string strMsgId;
    } cases[] = {
        // 23,334 bytes in the request, 70,002 written back escaped.
        {"escaped", Repeated("\xc3\xa9", 11667)},
        // The request fits, its reply is a few bytes over.
        {"a few bytes over", std::string(65495, 'm')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        // As the page writes it, its characters unescaped.
        const QByteArray request = "{\"MainType\":7,\"SubType\":3,\"MsgID\":\"" + QByteArray::fromStdString(c.strMsgId) + "\"}";
        ASSERT_LE(request.size(), kMaxBytes);
        plugin.Send(request);
        const HostMessage reply = WaitReplyOf(plugin, 7);
        ExpectShortened(reply, "MsgID", c.strMsgId);
        EXPECT_EQ(reply["Ret"].asInt(), 1020);
        EXPECT_EQ(reply["SubMsg"].asInt(), 3);
    }
    EXPECT_TRUE(plugin.WaitForLog("\"MsgID\" "));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}
