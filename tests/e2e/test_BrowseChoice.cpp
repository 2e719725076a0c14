// Folder and file choices of the client configuration through the "Browse" chooser beside the program.

#include "tests/support/HostedPlugin.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

TEST(BrowseChoice, ChooserOutcomes)
{
    struct Case
    {
        const char *pName;
        BrowseBehaviour behaviour;
        bool bMissing;
        const char *pReply;
    };
    const Case cases[] = {
        {"a path", {"/home/u/Videos"}, false,
         "{\"Msg\":18,\"MsgID\":\"c\",\"Path\":\"/home/u/Videos\",\"SubMsg\":48,\"nRet\":100}\n"},
        // The whole output is the path: a line break stays in it.
        {"a path and a line break", {"/home/u/a b.mp4\n"}, false,
         "{\"Msg\":18,\"MsgID\":\"c\",\"Path\":\"/home/u/a b.mp4\\n\",\"SubMsg\":48,\"nRet\":100}\n"},
        {"nothing", {""}, false, "{\"Msg\":18,\"MsgID\":\"c\",\"Path\":\"\",\"SubMsg\":48,\"nRet\":100}\n"},
        {"a non-zero exit", {"/tmp/x", false, 1}, false, "{\"Msg\":18,\"MsgID\":\"c\",\"SubMsg\":48,\"nRet\":1016}\n"},
        {"a crash", {"/tmp/x", false, 0, true}, false, "{\"Msg\":18,\"MsgID\":\"c\",\"SubMsg\":48,\"nRet\":1016}\n"},
        {"not executable", {"/tmp/x", false, 0, false, false, false}, false,
         "{\"Msg\":18,\"MsgID\":\"c\",\"SubMsg\":48,\"nRet\":1016}\n"},
        {"missing", {}, true, "{\"Msg\":18,\"MsgID\":\"c\",\"SubMsg\":48,\"nRet\":1016}\n"},
    };
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    for (const Case &c : cases) {
        if (c.bMissing)
            plugin.App().RemoveBrowse();
        else
            ASSERT_TRUE(plugin.App().WriteBrowse(c.behaviour)) << c.pName;
        const HostMessage reply = plugin.Request(HostedPlugin::NewRequest(18, 48, "c"));
        ASSERT_TRUE(reply) << c.pName;
        EXPECT_EQ(reply.text.toStdString(), c.pReply) << c.pName;
    }
    // Every answer came once: nothing is left over.
    ASSERT_TRUE(plugin.Sync());
    EXPECT_EQ(plugin.Messages().size(), static_cast<int>(std::size(cases)) + 1);
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(BrowseChoice, EachSubTypeStartsTheChooserWithItsArguments)
{
    const std::pair<int, const char *> cases[] = {
        {48, "0 0"}, {49, "1 0"}, {53, "2 0"}, {55, "9 1"}, {56, "0 0"}, {57, "3 1"}, {58, "4 1"},
    };
    HostedPlugin plugin;
    BrowseBehaviour behaviour;
    behaviour.bPrintArguments = true;
    ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
    ASSERT_TRUE(plugin.Start());
    // All at once: the choosers run side by side.
    for (const auto &c : cases)
        plugin.Send(HostedPlugin::NewRequest(18, c.first, c.first));
    for (const auto &c : cases) {
        const HostMessage reply = plugin.WaitReply(c.first);
        ASSERT_TRUE(reply) << c.first;
        EXPECT_EQ(reply["SubMsg"].asInt(), c.first);
        EXPECT_EQ(reply["Path"].asString(), c.second) << c.first;
        EXPECT_EQ(reply["nRet"].asInt(), 100);
        EXPECT_FALSE(reply.value.isMember("Ret"));
    }
    EXPECT_EQ(plugin.App().BrowseStarts().size(), static_cast<int>(std::size(cases)));
}

TEST(BrowseChoice, RequestsGoOnWhileChoosingAndEachAnswerKeepsItsRequest)
{
    HostedPlugin plugin;
    BrowseBehaviour behaviour;
    behaviour.bPrintArguments = true;
    behaviour.bWait = true;
    ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
    ASSERT_TRUE(plugin.Start());
    plugin.Send(HostedPlugin::NewRequest(18, 48, "first"));
    plugin.Send(HostedPlugin::NewRequest(18, 57, Json::Value(57)));
    ASSERT_TRUE(WaitUntil([&] { return plugin.App().BrowseStarts().size() == 2; }, HostedPlugin::kWaitMs));

    // Both choosers are open, and the request thread answers others meanwhile.
    ASSERT_TRUE(plugin.Request(HostedPlugin::NewRequest(15, 0, "meanwhile")));
    plugin.Send(HostedPlugin::NewRequest(18, 53, "last"));
    ASSERT_TRUE(WaitUntil([&] { return plugin.App().BrowseStarts().size() == 3; }, HostedPlugin::kWaitMs));
    EXPECT_EQ(plugin.Messages().size(), 1);

    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(plugin.App().ReleaseBrowse());
    const HostMessage first = plugin.WaitReply("first");
    const HostMessage second = plugin.WaitReply(57);
    const HostMessage last = plugin.WaitReply("last");
    ASSERT_TRUE(first && second && last);
    EXPECT_EQ(first.text, QByteArray("{\"Msg\":18,\"MsgID\":\"first\",\"Path\":\"0 0\",\"SubMsg\":48,\"nRet\":100}\n"));
    EXPECT_EQ(second.text, QByteArray("{\"Msg\":18,\"MsgID\":57,\"Path\":\"3 1\",\"SubMsg\":57,\"nRet\":100}\n"));
    EXPECT_EQ(last.text, QByteArray("{\"Msg\":18,\"MsgID\":\"last\",\"Path\":\"2 0\",\"SubMsg\":53,\"nRet\":100}\n"));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}
