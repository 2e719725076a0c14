// The alarm types the page wants to be told of, stored in "ClientCfg.ini" and reported back.

#include "tests/support/HostedPlugin.h"

#include <gtest/gtest.h>

namespace {

const char *const kFixedNames[] = {"Prompt", "all", "Motion", "Blind", "Loss", "IO", "Analyze",
                                   "Human", "FaceDetect", "DiskError", "DiskFull", "Carshape", "Falldown"};

HostMessage Query(HostedPlugin &plugin, const char *pMsgId)
{
    return plugin.Request(HostedPlugin::NewRequest(15, 3, pMsgId));
}

} // namespace

TEST(AlarmType, StoreTakesEachValueAsASwitch)
{
    struct Case
    {
        const char *pRequest;
        int nRet;
        std::map<QString, QVariant> stored; // an invalid QVariant: not stored
        bool bError;
    };
    const Case cases[] = {
        {R"({"MainType":14,"SubType":9,"MsgID":"s","alarmtype":{"Motion":true,"Blind":0,"Loss":2}})", 100,
         {{"Motion", true}, {"Blind", false}, {"Loss", true}}, false},
        {R"({"MainType":14,"MsgID":"s","alarmtype":{"Human":null,"IO":0.5,"DiskFull":false}})", 100,
         {{"Human", false}, {"IO", true}, {"DiskFull", false}}, false},
        {R"({"MainType":14,"MsgID":"s"})", 100, {}, false},
        {R"({"MainType":14,"MsgID":"s","alarmtype":7})", 100, {}, false},
        // Names go in sorted order: "Blind" before the text of "IO", "Zone" after it.
        {R"({"MainType":14,"MsgID":"s","alarmtype":{"Zone":true,"IO":"on","Blind":true}})", 1016,
         {{"Blind", true}, {"IO", QVariant()}, {"Zone", QVariant()}}, true},
        {R"({"MainType":14,"MsgID":"s","alarmtype":{"Loss":[1]}})", 1016, {{"Loss", QVariant()}}, true},
    };
    for (const Case &c : cases) {
        HostedPlugin plugin;
        ASSERT_TRUE(plugin.Start());
        plugin.Send(c.pRequest);
        const HostMessage reply = plugin.WaitReply("s");
        ASSERT_TRUE(reply) << c.pRequest;
        EXPECT_EQ(reply.text.toStdString(),
                  "{\"Msg\":14,\"MsgID\":\"s\",\"Ret\":" + std::to_string(c.nRet) + ",\"SubMsg\":0}\n");
        for (const auto &entry : c.stored) {
            const QVariant value = plugin.App().ClientCfgValue("alarmtype/" + entry.first);
            EXPECT_EQ(value.isValid(), entry.second.isValid()) << c.pRequest << " " << entry.first.toStdString();
            if (entry.second.isValid()) {
                EXPECT_EQ(value.toBool(), entry.second.toBool()) << c.pRequest << " " << entry.first.toStdString();
            }
        }
        if (c.stored.empty()) {
            EXPECT_FALSE(plugin.App().ClientCfgValue("alarmtype/Motion").isValid());
        }
        ASSERT_TRUE(plugin.Finish());
        const QByteArray log = plugin.App().LogFiles();
        EXPECT_EQ(log.contains("[ERROR] [CPluginManage::onMainMsgAlarmType]"), c.bError) << c.pRequest;
        EXPECT_EQ(log.contains("store alarm type error"), c.bError) << c.pRequest;
    }
}

TEST(AlarmType, QueryReportsTheFixedNamesAndEveryStoredOne)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteClientCfg("[Path]\nCapPath=/c\n"));
    ASSERT_TRUE(plugin.Start());

    const HostMessage empty = Query(plugin, "q1");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty["Msg"].asInt(), 15);
    EXPECT_EQ(empty["SubMsg"].asInt(), 0);
    EXPECT_EQ(empty["Ret"].asInt(), 100);
    const Json::Value &none = empty["alarmtype"];
    ASSERT_TRUE(none.isObject());
    EXPECT_EQ(none.size(), std::size(kFixedNames));
    for (const char *pName : kFixedNames)
        EXPECT_TRUE(none[pName].isBool() && !none[pName].asBool()) << pName;

    plugin.Send(R"({"MainType":14,"MsgID":"s","alarmtype":{"Motion":1,"Tamper":true,"all":true}})");
    ASSERT_TRUE(plugin.WaitReply("s"));
    const HostMessage stored = Query(plugin, "q2");
    ASSERT_TRUE(stored);
    const Json::Value &types = stored["alarmtype"];
    EXPECT_EQ(types.size(), std::size(kFixedNames) + 1);
    EXPECT_TRUE(types["Tamper"].asBool());
    EXPECT_TRUE(types["Motion"].asBool());
    EXPECT_TRUE(types["all"].asBool());
    EXPECT_FALSE(types["Blind"].asBool());
    // The rest of the file is left as it was.
    EXPECT_EQ(plugin.App().ClientCfgValue("Path/CapPath").toString(), "/c");
}

TEST(AlarmType, QueryReadsOnlyTheGroupOfThatExactName)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteClientCfg("[AlarmType]\nOther=true\n[alarmtype]\nBlind=true\nMine=false\n"));
    ASSERT_TRUE(plugin.Start());
    const HostMessage reply = Query(plugin, "q");
    ASSERT_TRUE(reply);
    const Json::Value &types = reply["alarmtype"];
    EXPECT_FALSE(types.isMember("Other"));
    EXPECT_TRUE(types.isMember("Mine"));
    EXPECT_FALSE(types["Mine"].asBool());
    EXPECT_TRUE(types["Blind"].asBool());
    EXPECT_EQ(types.size(), std::size(kFixedNames) + 1);
}
