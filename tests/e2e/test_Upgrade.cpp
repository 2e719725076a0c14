// Firmware upgrades through the host link against the simulated device: the online check and start, the file
// choice and the local start, each reporting its progress up to the final state with "IsUpgrade".

#include "tests/e2e/LoginFixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// 127.0.0.1 offers a newer version and upgrades in 10 ms steps; 10.0.0.2 fails every upgrade; 10.0.0.3 takes a
// minute a step, so that its upgrade surely still runs while a test goes on.
const QByteArray kDevices = R"({"Devices": [
    {"IP": "127.0.0.1", "Port": 34567, "Date": "2024-01-15", "UpgradeStepMs": 10,
     "NewVersions": [{"Name": "KVX-NVR16_V4.03.R12", "Date": "2024-6-1", "Size": 4000},
                     {"Name": "KVX-NVR16_V4.02.R01", "Date": "2024-3-1", "Size": 3000}]},
    {"IP": "10.0.0.2", "Port": 34567, "UpgradeFails": true, "UpgradeStepMs": 10},
    {"IP": "10.0.0.3", "Port": 34567, "UpgradeStepMs": 60000},
    {"IP": "10.0.0.4", "Port": 34567, "Date": "2024-06-01",
     "NewVersions": [{"Name": "Firmware", "Date": "2024-6-1"}]}]})";

Json::Value Online(int nSubType, const char *pMsgId) { return HostedPlugin::NewRequest(21, nSubType, pMsgId); }

Json::Value Local(int nSubType, const char *pMsgId, const QString &strFile = QString())
{
    Json::Value request = HostedPlugin::NewRequest(25, nSubType, pMsgId);
    if (!strFile.isNull())
        request["FileName"] = strFile.toStdString();
    return request;
}

std::string UpgradeReply(int nMsg, int nSubMsg, const char *pMsgId, int nRet, bool bUpgrade)
{
    return std::string("{\"IsUpgrade\":") + (bUpgrade ? "true" : "false") + ",\"Msg\":" + std::to_string(nMsg) +
           ",\"MsgID\":\"" + pMsgId + "\",\"Ret\":" + std::to_string(nRet) + ",\"SubMsg\":" + std::to_string(nSubMsg) +
           "}\n";
}

// The progress events of one upgrade, up to and with its final state (1 done, 3 failed).
std::vector<HostMessage> ProgressToTheEnd(HostedPlugin &plugin)
{
    std::vector<HostMessage> events;
    for (;;) {
        const HostMessage event = plugin.WaitEvent(3, 0);
        if (!event)
            return events;
        events.push_back(event);
        const int nStatus = event["Data"]["Status"].asInt();
        if (nStatus == 1 || nStatus == 3)
            return events;
    }
}

// Reports that arrive after the final state send nothing: none follows up to the next request's answer.
void ExpectNoProgressAfter(HostedPlugin &plugin)
{
    ASSERT_TRUE(plugin.Sync());
    EXPECT_FALSE(plugin.WaitEvent(3, 0, 0));
}

void ExpectProgress(const std::vector<HostMessage> &events, int nFinal, int nTotal)
{
    ASSERT_FALSE(events.empty());
    int nSent = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const bool bLast = i + 1 == events.size();
        const Json::Value &data = events[i]["Data"];
        EXPECT_EQ(data["Status"].asInt(), bLast ? nFinal : 2) << i;
        EXPECT_EQ(data["TotalSize"].asInt(), nTotal) << i;
        EXPECT_GE(data["SendSize"].asInt(), nSent) << i;
        nSent = data["SendSize"].asInt();
        EXPECT_EQ(events[i]["IsUpgrade"].asBool(), !bLast) << i;
    }
}

} // namespace

TEST(Upgrade, OnlineCheckAndStartReportToTheEnd)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kDevices));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));

    // An unknown "SubType" does nothing and tells whether an upgrade runs.
    EXPECT_EQ(plugin.Request(Online(7, "seven")).text.toStdString(), UpgradeReply(21, 7, "seven", 0, false));

    const HostMessage check = plugin.Request(Online(0, "check"));
    ASSERT_TRUE(check);
    EXPECT_GT(check["Ret"].asInt(), 0);
    EXPECT_EQ(check["NewVersion"].asString(), "V4.03.R12");
    EXPECT_FALSE(check["IsUpgrade"].asBool());

    EXPECT_EQ(plugin.Request(Online(1, "start")).text.toStdString(), UpgradeReply(21, 1, "start", 100, true));
    ExpectProgress(ProgressToTheEnd(plugin), 1, 4000);
    ExpectNoProgressAfter(plugin);
    EXPECT_EQ(plugin.Request(Online(7, "after")).text.toStdString(), UpgradeReply(21, 7, "after", 0, false));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(Upgrade, OnlineStartWithoutACheckAndAVersionNameWithoutAMark)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kDevices));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login", "10.0.0.4")));
    // Before any check the version name is empty: the device takes its newest.
    EXPECT_EQ(plugin.Request(Online(1, "start")).text.toStdString(), UpgradeReply(21, 1, "start", 100, true));
    ExpectProgress(ProgressToTheEnd(plugin), 1, 1 << 20);
    // The device's date is the version's: nothing newer, and the name stays as it was (empty).
    const HostMessage check = plugin.Request(Online(0, "check"));
    ASSERT_TRUE(check);
    EXPECT_EQ(check["NewVersion"].asString(), "");
    ASSERT_TRUE(plugin.Finish());
}

TEST(Upgrade, ARefusedStartLeavesTheRunningUpgradeCounted)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kDevices));
    ASSERT_TRUE(plugin.App().WriteFile("firmware.bin", QByteArray(5000, 'F')));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login", "10.0.0.3")));
    const QString strFirmware = plugin.App().FilePath("firmware.bin");
    EXPECT_EQ(plugin.Request(Local(1, "first", strFirmware)).text.toStdString(), UpgradeReply(25, 1, "first", 100, true));
    // The device runs one upgrade at a time and refuses the second.
    EXPECT_EQ(plugin.Request(Local(1, "second", strFirmware)).text.toStdString(),
              UpgradeReply(25, 1, "second", 1007, true));
    EXPECT_EQ(plugin.Request(Online(1, "third")).text.toStdString(), UpgradeReply(21, 1, "third", 1007, true));
    EXPECT_EQ(plugin.Request(Online(9, "state")).text.toStdString(), UpgradeReply(21, 9, "state", 0, true));
    EXPECT_TRUE(plugin.WaitForLog("StartLocalUpgrade-----------ret:1007"));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(Upgrade, LocalFileChosenThenUpgraded)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kDevices));
    const QString strFirmware = files.Write("firmware bin", QByteArray(7000, 'F'));
    BrowseBehaviour behaviour;
    behaviour.output = strFirmware.toUtf8();
    ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login", "10.0.0.2")));

    // The choice answers with "SubMsg" 1 whatever the request's "SubType", with "nRet" and no "Ret".
    plugin.Send(Local(0, "choose"));
    const HostMessage chosen = plugin.WaitReply("choose");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen.text.toStdString(),
              "{\"Msg\":25,\"MsgID\":\"choose\",\"Path\":\"" + strFirmware.toStdString() + "\",\"SubMsg\":1,\"nRet\":100}\n");
    EXPECT_EQ(plugin.App().BrowseStarts(), QStringList{"4 1"});

    EXPECT_EQ(plugin.Request(Local(1, "start", chosen["Path"].asCString())).text.toStdString(),
              UpgradeReply(25, 1, "start", 100, true));
    ExpectProgress(ProgressToTheEnd(plugin), 3, 7000);
    ExpectNoProgressAfter(plugin);

    // A choice cancelled or printing nothing; a missing file the device cannot read.
    for (const BrowseBehaviour &other : {BrowseBehaviour{"/x", false, 1}, BrowseBehaviour{""}}) {
        ASSERT_TRUE(plugin.App().WriteBrowse(other));
        plugin.Send(Local(0, "cancel"));
        const HostMessage cancelled = plugin.WaitReply("cancel");
        ASSERT_TRUE(cancelled);
        EXPECT_EQ(cancelled.text.toStdString(), "{\"Msg\":25,\"MsgID\":\"cancel\",\"SubMsg\":1,\"nRet\":1016}\n");
    }
    const HostMessage missing = plugin.Request(Local(1, "missing", strFirmware + ".gone"));
    ASSERT_TRUE(missing);
    EXPECT_NE(missing["Ret"].asInt(), 100);
    EXPECT_FALSE(missing["IsUpgrade"].asBool());
    // Without a chooser the choice fails; another "SubType" is not answered.
    plugin.App().RemoveBrowse();
    plugin.Send(Local(2, "two"));
    EXPECT_EQ(plugin.Request(Local(0, "none")).text.toStdString(), "{\"Msg\":25,\"MsgID\":\"none\",\"SubMsg\":1,\"nRet\":1016}\n");
    ASSERT_TRUE(plugin.Sync());
    ASSERT_TRUE(plugin.Finish());
    for (const HostMessage &message : plugin.Messages())
        EXPECT_NE(message["MsgID"].asString(), "two");
}

// An upgrade running when the login ends, by a logout or by a new login after the device was lost, ends with it:
// its handle is closed before the device's logout, "IsUpgrade" is false at the next login, and the version the
// old device offered is not asked of the next one.
TEST(Upgrade, ALogoutOrALostDeviceEndsTheRunningUpgrade)
{
    // 10.0.0.6 takes a minute a step, so that its upgrade surely runs until the login ends; 10.0.0.7 is the same
    // device losing its connection once an upgrade has started, however slow the machine. 10.0.0.4 offers only
    // its own "Firmware".
    const QByteArray kLongDevices = R"({"Devices": [
        {"IP": "10.0.0.6", "Port": 34567, "Date": "2024-01-15", "UpgradeStepMs": 60000,
         "NewVersions": [{"Name": "KVX-NVR16_V4.03.R12", "Date": "2024-6-1", "Size": 4000}]},
        {"IP": "10.0.0.7", "Port": 34567, "Date": "2024-01-15", "UpgradeStepMs": 60000,
         "NewVersions": [{"Name": "KVX-NVR16_V4.03.R12", "Date": "2024-6-1", "Size": 4000}],
         "Events": [{"AfterUpgradeStart": true, "Cut": true}]},
        {"IP": "10.0.0.4", "Port": 34567, "Date": "2024-06-01",
         "NewVersions": [{"Name": "Firmware", "Date": "2024-6-1"}]}]})";
    struct Case
    {
        const char *pName;
        const char *pIP;
        bool bLogout; // a logout first; else the device is lost and the next login ends the old one
    };
    const Case cases[] = {{"logout", "10.0.0.6", true}, {"lost device", "10.0.0.7", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        EnvFiles files;
        QTemporaryDir journalDir;
        const QString strJournal = journalDir.filePath("journal.txt");
        HostedPlugin plugin;
        plugin.SetEnv("KORVEX_DEVICES", files.Devices(kLongDevices));
        plugin.SetEnv("KORVEX_JOURNAL", strJournal);
        ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("first", c.pIP)));
        EXPECT_EQ(plugin.Request(Online(0, "check"))["NewVersion"].asString(), "V4.03.R12");
        EXPECT_EQ(plugin.Request(Online(1, "start")).text.toStdString(), UpgradeReply(21, 1, "start", 100, true));

        if (c.bLogout)
            plugin.Send(HostedPlugin::NewRequest(9, 0, "logout"));
        else
            ASSERT_TRUE(plugin.WaitEvent(5, 0));
        const HostMessage second = plugin.Request(LoginByAddress("second", "10.0.0.4"));
        ASSERT_TRUE(second);
        ASSERT_EQ(second["Ret"].asInt(), 100);
        EXPECT_EQ(plugin.Request(Online(7, "state")).text.toStdString(), UpgradeReply(21, 7, "state", 0, false));
        // Without a check of its own the next device is asked for its newest version, not the old device's.
        EXPECT_EQ(plugin.Request(Online(1, "again")).text.toStdString(), UpgradeReply(21, 1, "again", 100, true));
        ExpectProgress(ProgressToTheEnd(plugin), 1, 1 << 20);
        ASSERT_TRUE(plugin.Finish());
        EXPECT_EQ(plugin.ExitCode(), 0);

        QFile journal(strJournal);
        ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
        const QByteArray text = journal.readAll();
        // The first upgrade's handle is closed before the first login's logout, which then finds nothing open.
        const int nClose = text.indexOf("ZDK_DEV_CloseUpgradeHandle handle=");
        const int nLogout = text.indexOf("# logout login=");
        ASSERT_GE(nClose, 0);
        ASSERT_GE(nLogout, 0);
        EXPECT_LT(nClose, nLogout);
        EXPECT_TRUE(text.mid(nLogout, text.indexOf('\n', nLogout) - nLogout).endsWith("streams left open: none"))
            << text.mid(nLogout, 200).constData();
    }
}
