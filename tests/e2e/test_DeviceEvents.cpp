// Device alarms, a lost connection and the system load, as the page receives them.

#include "tests/e2e/LoginFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

namespace {

// A device whose every login hears these alarms, then loses its connection: the disconnect event comes after
// every alarm that was going to come.
const QByteArray kAlarmDevices = R"({"Devices": [{"IP": "127.0.0.1", "SN": "SN-ALARM", "Events": [
    {"AfterLoginMs": 500, "Alarm": {"Channel": 3, "Code": 4, "Status": 0}},
    {"AfterLoginMs": 510, "Alarm": {"Channel": 1, "Code": 25, "Status": 2}},
    {"AfterLoginMs": 520, "Alarm": {"Channel": 0, "Code": 18, "Status": 3}},
    {"AfterLoginMs": 530, "Alarm": {"Channel": 2, "Code": 4, "Status": 0, "Kind": 2}},
    {"AfterLoginMs": 540, "Alarm": {"Channel": 7, "Code": 12, "Status": 1}},
    {"AfterLoginMs": 550, "Alarm": {"Channel": 9, "Code": 43, "Status": 0}},
    {"AfterLoginMs": 700, "Cut": true}]}]})";

const char *const kAlarmTexts[] = {
    "{\"AlarmInfo\":{\"Channel\":3,\"Event\":\"VideoMotion\",\"Status\":\"Start\"},\"MainEvent\":2,"
    "\"Name\":\"AlarmInfo\",\"SubEvent\":0}\n",
    "{\"AlarmInfo\":{\"Channel\":1,\"Event\":\"VideoAnalyze\",\"Status\":\"Pulse\"},\"MainEvent\":2,"
    "\"Name\":\"AlarmInfo\",\"SubEvent\":0}\n",
    "{\"AlarmInfo\":{\"Channel\":0,\"Event\":\"\",\"Status\":\"\"},\"MainEvent\":2,\"Name\":\"AlarmInfo\","
    "\"SubEvent\":0}\n",
    "{\"AlarmInfo\":{\"Channel\":7,\"Event\":\"StorrageLowSpace\",\"Status\":\"Stop\"},\"MainEvent\":2,"
    "\"Name\":\"AlarmInfo\",\"SubEvent\":0}\n",
    "{\"AlarmInfo\":{\"Channel\":9,\"Event\":\"\",\"Status\":\"Start\"},\"MainEvent\":2,\"Name\":\"AlarmInfo\","
    "\"SubEvent\":0}\n",
};

bool IsEvent(const HostMessage &message, int nMain, int nSub)
{
    return message["MainEvent"].isInt() && message["MainEvent"].asInt() == nMain && message["SubEvent"].asInt() == nSub;
}

QList<QByteArray> EventTexts(const HostedPlugin &plugin, int nMain, int nSub)
{
    QList<QByteArray> texts;
    for (const HostMessage &message : plugin.Messages())
        if (IsEvent(message, nMain, nSub))
            texts << message.text;
    return texts;
}

Json::Value SerialLogin(const char *pMsgId, int nLoginType, const Json::Value &alarmStyle)
{
    Json::Value request = LoginBySerial(pMsgId, nLoginType, "SN-ALARM");
    if (!alarmStyle.isNull())
        request["AlarmStyle"] = alarmStyle;
    return request;
}

} // namespace

TEST(DeviceEvents, AlarmsAndTheCutReachThePageAsTheirTexts)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kAlarmDevices));
    ASSERT_TRUE(StartAndLogIn(plugin, SerialLogin("l", 1, "Tool")));

    const HostMessage cut = plugin.WaitEvent(5, 0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut.text.toStdString(), "{\"MainEvent\":5,\"Ret\":100,\"SubEvent\":0}\n");
    const QList<QByteArray> alarms = EventTexts(plugin, 2, 0);
    ASSERT_EQ(alarms.size(), static_cast<int>(std::size(kAlarmTexts)));
    for (int i = 0; i < alarms.size(); ++i)
        EXPECT_EQ(alarms[i].toStdString(), kAlarmTexts[i]);

    // The cut changes nothing: the login stays, and with it the load events.
    const int nLoad = plugin.LoadEvents().size();
    EXPECT_TRUE(WaitUntil([&] { return plugin.LoadEvents().size() > nLoad; }, HostedPlugin::kWaitMs));
    ASSERT_TRUE(plugin.Sync());
    EXPECT_EQ(EventTexts(plugin, 5, 0).size(), 1);

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("Device Disconnect IP=127.0.0.1 LoginID="), 1);
    EXPECT_TRUE(log.contains(" Port=34567"));
    // Each event is logged as it is sent.
    EXPECT_TRUE(log.contains("\"Event\":\"StorrageLowSpace\""));
}

TEST(DeviceEvents, OnlyASerialLoginWithAlarmStyleToolHearsAlarms)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kAlarmDevices));
    ASSERT_TRUE(plugin.Start());

    Json::Value byAddress = LoginByAddress("l");
    byAddress["AlarmStyle"] = "Tool";
    Json::Value byToken = SerialLogin("l", 2, "Tool");
    byToken["Device"]["tcsToken"] = "kvx-token-5f0c2a9e7d3b41c8a6e2f9d0b7c4a1e3";
    const struct
    {
        const char *pName;
        Json::Value request;
        bool bAlarms;
    } cases[] = {
        {"no style", SerialLogin("l", 1, Json::Value()), false},
        {"lower case", SerialLogin("l", 1, "tool"), false},
        {"more text", SerialLogin("l", 1, "Tools"), false},
        {"not a text", SerialLogin("l", 1, 1), false},
        {"by address", byAddress, false},
        {"token login", byToken, true},
        // The callback of the last login is gone with it.
        {"no style after one with it", SerialLogin("l", 1, Json::Value()), false},
    };
    int nAlarmsBefore = 0;
    for (const auto &c : cases) {
        const HostMessage reply = plugin.Request(c.request);
        ASSERT_TRUE(reply) << c.pName;
        ASSERT_EQ(reply["Ret"].asInt(), 100) << c.pName;
        ASSERT_TRUE(plugin.WaitEvent(5, 0)) << c.pName;
        const int nAlarms = EventTexts(plugin, 2, 0).size();
        EXPECT_EQ(nAlarms - nAlarmsBefore, c.bAlarms ? static_cast<int>(std::size(kAlarmTexts)) : 0) << c.pName;
        nAlarmsBefore = nAlarms;
    }
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(LoadEvents, OnceASecondWhileLoggedInNoneAfterLogout)
{
    // A second program, logged in all along, is the clock: while it sends two load events, the first has
    // sampled its load at least once.
    HostedPlugin clock;
    ASSERT_TRUE(StartAndLogIn(clock, LoginByAddress("c")));
    auto waitTicks = [&clock](int nTicks) {
        const int nTarget = clock.LoadEvents().size() + nTicks;
        return WaitUntil([&] { return clock.LoadEvents().size() >= nTarget; }, HostedPlugin::kWaitMs);
    };

    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    ASSERT_TRUE(waitTicks(2));
    EXPECT_TRUE(plugin.LoadEvents().isEmpty());

    ASSERT_TRUE(plugin.Request(LoginByAddress("l")));
    for (int i = 0; i < 3; ++i) {
        const HostMessage load = plugin.WaitEvent(0, 5);
        ASSERT_TRUE(load);
        EXPECT_EQ(load.value.getMemberNames(),
                  (std::vector<std::string>{"AppCpu", "AppMemory", "MainEvent", "SubEvent", "SystemCpu"}));
        EXPECT_GE(load["AppCpu"].asInt(), 0);
        EXPECT_LE(load["AppCpu"].asInt(), 100);
        EXPECT_GE(load["SystemCpu"].asInt(), 0);
        EXPECT_LE(load["SystemCpu"].asInt(), 100);
        EXPECT_GT(load["AppMemory"].asInt(), 0);
    }

    plugin.Send(HostedPlugin::NewRequest(9, 0, "out"));
    ASSERT_TRUE(plugin.Sync());
    const int nAtLogout = plugin.LoadEvents().size();
    ASSERT_TRUE(waitTicks(2));
    EXPECT_EQ(plugin.LoadEvents().size(), nAtLogout);

    ASSERT_TRUE(plugin.Finish());
    // Sent once a second, never logged.
    EXPECT_FALSE(plugin.App().LogFiles().contains("\"SubEvent\":5"));
}
