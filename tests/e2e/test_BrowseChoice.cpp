// Folder and file choices of the client configuration through the "Browse" chooser beside the program.

#include "tests/support/HostedPlugin.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

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

namespace {

// Each request family that starts the chooser, and its answer when nothing was chosen.
struct Chooser
{
    int nMainType;
    int nSubType;
    std::string strFailed; // the answer's text after "{\"Msg\":M,\"MsgID\":N,"
};
const Chooser kChoosers[] = {
    {18, 48, "\"SubMsg\":48,\"nRet\":1016}\n"},
    {25, 0, "\"SubMsg\":1,\"nRet\":1016}\n"},
    {30, 0, "\"SubMsg\":0,\"nRet\":1016}\n"},
    {30, 1, "\"SubMsg\":1,\"nRet\":1016}\n"},
    {5, 33, "\"Ret\":1016,\"SubMsg\":33}\n"},
};

std::string Head(int nMainType, int nMsgId)
{
    return "{\"Msg\":" + std::to_string(nMainType) + ",\"MsgID\":" + std::to_string(nMsgId) + ",";
}

} // namespace

TEST(BrowseChoice, EveryRequestThatStartsTheChooserAnswersOnceWhateverBecomesOfIt)
{
    struct Case
    {
        const char *pName;
        BrowseBehaviour behaviour;
        bool bMissing;
    };
    const Case cases[] = {
        {"missing", {}, true},
        {"not executable", {"/tmp/x", false, 0, false, false, false}, false},
        {"a non-zero exit", {"/tmp/x", false, 2}, false},
        {"a crash", {"/tmp/x", false, 0, true}, false},
    };
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        if (c.bMissing)
            plugin.App().RemoveBrowse();
        else
            ASSERT_TRUE(plugin.App().WriteBrowse(c.behaviour));
        for (const Chooser &chooser : kChoosers) {
            SCOPED_TRACE(chooser.nMainType * 100 + chooser.nSubType);
            const HostMessage answer = plugin.Request(HostedPlugin::NewRequest(chooser.nMainType, chooser.nSubType, ++nMsgId));
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer.text.toStdString(), Head(chooser.nMainType, nMsgId) + chooser.strFailed);
        }
    }
    // Once each: nothing more comes, up to the end.
    ASSERT_TRUE(plugin.Sync());
    ASSERT_TRUE(plugin.Finish());
    std::map<int, int> answers;
    for (const HostMessage &message : plugin.Messages())
        if (message["MsgID"].isInt())
            ++answers[message["MsgID"].asInt()];
    EXPECT_EQ(answers.size(), static_cast<size_t>(nMsgId));
    for (const auto &entry : answers)
        EXPECT_EQ(entry.second, 1) << entry.first;
}

TEST(BrowseChoice, AZeroByteEndsTheChosenPathForEveryRequest)
{
    struct Case
    {
        QByteArray output;
        const char *pPath; // the path before the zero byte
    };
    const Case cases[] = {
        {QByteArray("/nowhere/x\0/etc/hosts", 21), "/nowhere/x"},
        {QByteArray("\0/etc/hosts", 11), ""},
    };
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pPath);
        BrowseBehaviour behaviour;
        behaviour.output = c.output;
        ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
        const bool bEmpty = c.pPath[0] == '\0';
        const std::string strPath = std::string("\"Path\":\"") + c.pPath + "\",";
        auto answer = [&](int nMainType, int nSubType) {
            const std::string strText = plugin.Request(HostedPlugin::NewRequest(nMainType, nSubType, ++nMsgId)).text.toStdString();
            const std::string strHead = Head(nMainType, nMsgId);
            EXPECT_EQ(strText.substr(0, strHead.size()), strHead);
            return strText.substr(std::min(strHead.size(), strText.size()));
        };
        EXPECT_EQ(answer(18, 48), strPath + "\"SubMsg\":48,\"nRet\":100}\n");
        EXPECT_EQ(answer(25, 0), bEmpty ? "\"SubMsg\":1,\"nRet\":1016}\n" : strPath + "\"SubMsg\":1,\"nRet\":100}\n");
        // An import of nothing chosen, or of the path before the zero byte (which is not there).
        EXPECT_EQ(answer(30, 0), std::string("\"SubMsg\":0,\"nRet\":") + (bEmpty ? "1014" : "1020") + "}\n");
        EXPECT_EQ(answer(30, 1), std::string("\"SubMsg\":1,\"nRet\":") + (bEmpty ? "1014" : "109") + "}\n");
    }
    ASSERT_TRUE(plugin.Finish());
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_TRUE(log.contains("Import Config: cannot open /nowhere/x\n")) << "the import was of another path";
    EXPECT_FALSE(log.contains("/etc/hosts")) << "the path went on after its zero byte";
}
