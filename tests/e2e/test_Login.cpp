// Login, logout and re-login through the host link, against the simulated devices.

#include "tests/e2e/LoginFixture.h"

#include <gtest/gtest.h>

namespace {

constexpr const char *kBuiltInSerial = "KVX8A61C0F3D2E47";
constexpr const char *kBuiltInToken = "kvx-token-5f0c2a9e7d3b41c8a6e2f9d0b7c4a1e3";

Json::Value Logout() { return HostedPlugin::NewRequest(9, 0, "out"); }

Json::Value ReLogin(const Json::Value &msgId, const Json::Value &address = Json::Value())
{
    Json::Value request = HostedPlugin::NewRequest(28, 0, msgId);
    if (!address.isNull())
        request["IPAddress"] = address;
    return request;
}

std::string ReLoginReplyText(const char *pMsgId, int nRet, const std::string &strSerial)
{
    return std::string("{\"Id\":1,\"Msg\":28,\"MsgID\":\"") + pMsgId + "\",\"Ret\":" + std::to_string(nRet) +
           ",\"SerialNo\":\"" + strSerial + "\",\"SubMsg\":0}\n";
}

// The lines appear in the log in this order.
bool InOrder(const QByteArray &log, const std::vector<const char *> &lines)
{
    int nFrom = 0;
    for (const char *pLine : lines) {
        const int nAt = log.indexOf(pLine, nFrom);
        if (nAt < 0)
            return false;
        nFrom = nAt + 1;
    }
    return true;
}

} // namespace

TEST(Login, ByAddressThenLogoutAndAgain)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    const HostMessage first = plugin.Request(LoginByAddress("l1"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first.text.toStdString(), LoginReplyText("l1", 100));

    // The logout answers nothing.
    plugin.Send(Logout());
    ASSERT_TRUE(plugin.Sync());
    for (const HostMessage &message : plugin.Messages())
        EXPECT_NE(message["Msg"].asInt(), 9) << message.text.constData();
    EXPECT_TRUE(plugin.WaitForLog("release data end"));

    const HostMessage second = plugin.Request(LoginByAddress("l2"));
    ASSERT_TRUE(second);
    EXPECT_EQ(second.text.toStdString(), LoginReplyText("l2", 100));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);

    const QByteArray log = plugin.App().LogFiles();
    EXPECT_TRUE(InOrder(log, {"channel num=16", "logout nSessionID=1", "killTimer", "stop preview begin",
                              "stop preview end", "PlaybackStop end", "Disconnect Device LoginID=",
                              "release data begin", "release data end", "channel num=16"}));
}

TEST(Login, RefusedAndUnusualLogins)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(R"({"Devices": [
        {"IP": "127.0.0.1", "Port": 34567},
        {"IP": "10.0.0.5", "Password": "pw"},
        {"IP": "10.0.0.6", "LoginError": -11613, "CloudError": "cloud says no"},
        {"IP": "10.0.0.7", "LoginError": -11304},
        {"IP": "10.0.0.8", "Channels": 0},
        {"IP": "10.0.0.9", "Channels": 65},
        {"IP": "10.0.0.10", "Channels": 1}
    ]})"));
    ASSERT_TRUE(plugin.Start());

    struct Case
    {
        const char *pName;
        Json::Value request;
        std::string strReply;
    };
    auto withKey = [](Json::Value request, const char *pKey, const Json::Value &value) {
        request[pKey] = value;
        return request;
    };
    auto withDeviceKey = [](Json::Value request, const char *pKey, const Json::Value &value) {
        request["Device"][pKey] = value;
        return request;
    };
    const Json::Value byAddress = LoginByAddress("x");
    const Case cases[] = {
        {"wrong password", LoginByAddress("x", "10.0.0.5"), LoginReplyText("x", 106, "\"ErrorCode\":-11301,")},
        {"unknown user", LoginByAddress("x", "10.0.0.5", 34567, "guest", "pw"),
         LoginReplyText("x", 106, "\"ErrorCode\":-11302,")},
        {"unknown address", LoginByAddress("x", "10.9.9.9"), LoginReplyText("x", 1006, "\"ErrorCode\":-10005,")},
        {"another port", LoginByAddress("x", "127.0.0.1", 34568), LoginReplyText("x", 1006, "\"ErrorCode\":-10005,")},
        {"cloud error", LoginByAddress("x", "10.0.0.6"),
         "{\"CloudErrCode\":\"cloud says no\"," + LoginReplyText("x", 1012, "\"ErrorCode\":-11613,").substr(1)},
        {"blocked client", LoginByAddress("x", "10.0.0.7"), LoginReplyText("x", 207, "\"ErrorCode\":-11304,")},
        {"no channel", LoginByAddress("x", "10.0.0.8"), LoginReplyText("x", 1008)},
        {"65 channels", LoginByAddress("x", "10.0.0.9"), LoginReplyText("x", 1008)},
        {"one channel", LoginByAddress("x", "10.0.0.10"), LoginReplyText("x", 100)},
        // A type outside 0-2 reads no address; the default title of such a type is "velmok".
        {"login type 3", withKey(withDeviceKey(byAddress, "LoginType", 3), "Title", "Web Viewer"),
         LoginReplyText("x", 1017, "\"ErrorCode\":0,")},
        {"login type 3 without title", withDeviceKey(byAddress, "LoginType", 3),
         "{\"DPIRadio\":100,\"Id\":1,\"Msg\":8,\"MsgID\":\"x\",\"Ret\":1003,\"SubMsg\":0,\"adjustBytool\":false}\n"},
        {"a title the browser does not show", withKey(byAddress, "Title", "Other Page"),
         "{\"DPIRadio\":100,\"Id\":1,\"Msg\":8,\"MsgID\":\"x\",\"Ret\":1003,\"SubMsg\":0,\"adjustBytool\":false}\n"},
        // Not an integer: by address.
        {"login type as text", withDeviceKey(byAddress, "LoginType", "1"), LoginReplyText("x", 100)},
        // A browser kind without a content window to search: no adjustment, the login goes on.
        {"browser kind 1", withKey(byAddress, "Browse", 1),
         "{\"DPIRadio\":100,\"Id\":1,\"Msg\":8,\"MsgID\":\"x\",\"Ret\":100,\"SubMsg\":0,\"adjustBytool\":false}\n"},
        // A value of the wrong type stops the reading: the port and what follows take their defaults.
        {"port as text", withDeviceKey(byAddress, "Port", "x"),
         "{\"DPIRadio\":100,\"ErrorCode\":-10005,\"Id\":1,\"Msg\":8,\"MsgID\":\"x\",\"Ret\":1006,\"SubMsg\":0,"
         "\"adjustBytool\":false}\n"},
        {"default windows 4 of 16", withKey(byAddress, "DefaultWndNum", 4), LoginReplyText("x", 100)},
    };
    for (const Case &c : cases) {
        const HostMessage reply = plugin.Request(c.request);
        ASSERT_TRUE(reply) << c.pName;
        EXPECT_EQ(reply.text.toStdString(), c.strReply) << c.pName;
    }

    // Without "MsgID" the flag is a number.
    Json::Value noId = LoginByAddress(Json::Value());
    noId.removeMember("MsgID");
    plugin.Send(noId);
    const HostMessage reply = plugin.WaitMessage([](const HostMessage &m) { return m["Msg"].asInt() == 8; });
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.text.toStdString(),
              "{\"DPIRadio\":100,\"Id\":1,\"Msg\":8,\"MsgID\":null,\"Ret\":100,\"SubMsg\":0,\"adjustBytool\":1}\n");

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("WebDevInfoAbnorma"), 2);
    EXPECT_EQ(log.count("something error happened"), 1);
    EXPECT_TRUE(log.contains(" [ERROR] [CPluginManage::onMainMsgLogin] "));
    EXPECT_TRUE(log.contains("Name=Web Viewer Hwnd=") && log.contains("WindName=velmok"));
}

TEST(Login, BySerialNumberAndByToken)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.Start());
    struct Case
    {
        const char *pName;
        Json::Value request;
        int nRet;
        int nError; // 0: no "ErrorCode"
    };
    const Case cases[] = {
        {"serial number", LoginBySerial("s", 1, kBuiltInSerial), 100, 0},
        {"serial number and token", LoginBySerial("s", 2, kBuiltInSerial, kBuiltInToken), 100, 0},
        {"token refused", LoginBySerial("s", 2, kBuiltInSerial, "kvx-token-wrong"), 107, -11300},
        {"unknown serial number", LoginBySerial("s", 1, "KVX0000"), 1006, -10005},
    };
    for (const Case &c : cases) {
        const HostMessage reply = plugin.Request(c.request);
        ASSERT_TRUE(reply) << c.pName;
        EXPECT_EQ(reply["Ret"].asInt(), c.nRet) << c.pName;
        EXPECT_EQ(reply.value.isMember("ErrorCode"), c.nError != 0) << c.pName;
        if (c.nError != 0) {
            EXPECT_EQ(reply["ErrorCode"].asInt(), c.nError) << c.pName;
        }
        EXPECT_TRUE(reply["adjustBytool"].asBool()) << c.pName;
    }
    ASSERT_TRUE(plugin.Finish());
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("fasjnflk  token"), 2);
    // The token never reaches the log.
    EXPECT_FALSE(log.contains(kBuiltInToken));
}

TEST(Login, ReLoginMovesToAnotherAddress)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(R"({"Devices": [
        {"IP": "127.0.0.1", "SN": "SN-FIRST"},
        {"IP": "127.0.0.2", "SN": "SN-SECOND", "Channels": 4}
    ]})"));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("l")));

    const struct
    {
        const char *pMsgId;
        Json::Value address;
        int nRet;
        const char *pSerial;
    } cases[] = {
        {"r1", "127.0.0.2", 100, "SN-SECOND"},
        // The same address again, with the same user and password.
        {"r2", Json::Value(), 100, "SN-SECOND"},
        // A failed re-login reports only "Ret"; the record keeps the last serial number.
        {"r3", "127.0.0.9", 1006, "SN-SECOND"},
        {"r4", "127.0.0.1", 100, "SN-FIRST"},
    };
    for (const auto &c : cases) {
        const HostMessage reply = plugin.Request(ReLogin(c.pMsgId, c.address));
        ASSERT_TRUE(reply) << c.pMsgId;
        EXPECT_EQ(reply.text.toStdString(), ReLoginReplyText(c.pMsgId, c.nRet, c.pSerial));
    }
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    // Each re-login logged the previous login out; the failed one had nothing to log out; the end logged out
    // the last.
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("Disconnect Device LoginID="), 4);
}

TEST(Login, AddressLongerThanItsFieldIsCutAtACharacterBoundary)
{
    // The address field holds 63 bytes and its zero. "é" is two bytes in UTF-8.
    const std::string strBoundary(62, 'h');
    const std::string strFull(63, 'k');
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(QByteArray::fromStdString(
        "{\"Devices\": [{\"IP\": \"" + strBoundary + "\", \"SN\": \"SN-BOUNDARY\"},"
        "{\"IP\": \"" + strFull + "\", \"SN\": \"SN-FULL\"}]}")));
    ASSERT_TRUE(plugin.Start());

    const struct
    {
        const char *pName;
        std::string strAddress;
        const char *pSerial;
    } cases[] = {
        {"a character across the cut", strBoundary + "\xC3\xA9" + std::string(40, 't'), "SN-BOUNDARY"},
        {"a long address", strFull + std::string(200, 'k'), "SN-FULL"},
    };
    for (const auto &c : cases) {
        const HostMessage login = plugin.Request(LoginByAddress("l", c.strAddress.c_str()));
        ASSERT_TRUE(login) << c.pName;
        EXPECT_EQ(login["Ret"].asInt(), 100) << c.pName;
        // The re-login keeps the address: its answer names the device reached.
        const HostMessage again = plugin.Request(ReLogin("r"));
        ASSERT_TRUE(again) << c.pName;
        EXPECT_EQ(again["SerialNo"].asString(), c.pSerial) << c.pName;
    }
    // The re-login's address is cut the same way.
    const HostMessage moved =
        plugin.Request(ReLogin("m", strBoundary + "\xC3\xA9" + std::string(10, 'x')));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved.text.toStdString(), ReLoginReplyText("m", 100, "SN-BOUNDARY"));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_FALSE(plugin.Crashed());
}

TEST(Login, HostClosingTheLinkLogsTheDeviceOutAndEndsWithStatusZero)
{
    HostedPlugin plugin;
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("l")));
    plugin.CloseLink();
    ASSERT_TRUE(plugin.WaitExit());
    EXPECT_FALSE(plugin.Crashed());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_TRUE(InOrder(log, {"ConnectDevice success,LoginID=", "logout nSessionID=1", "stop preview begin",
                              "stop preview end", "PlaybackStop end", "Disconnect Device LoginID=",
                              "release data end"}));
    EXPECT_EQ(log.count("Disconnect Device LoginID="), 1);
}

TEST(Login, BrowserWindowFromTheCommandLine)
{
    // The default browser's top window is the first simulated window, 0x60000010; with a handle given, the
    // title is not searched for.
    const struct
    {
        const char *pHandle;
        std::string strReply;
    } cases[] = {
        {"60000010", LoginReplyText("l", 100)},
        {"0x60000010", LoginReplyText("l", 100)},
        {"zz", "{\"DPIRadio\":100,\"Id\":1,\"Msg\":8,\"MsgID\":\"l\",\"Ret\":1003,\"SubMsg\":0,\"adjustBytool\":false}\n"},
    };
    for (const auto &c : cases) {
        HostedPlugin::Options options;
        options.strWndHandle = c.pHandle;
        HostedPlugin plugin(options);
        ASSERT_TRUE(plugin.Start()) << c.pHandle;
        Json::Value request = LoginByAddress("l");
        request["Title"] = "Other Page";
        const HostMessage reply = plugin.Request(request);
        ASSERT_TRUE(reply) << c.pHandle;
        EXPECT_EQ(reply.text.toStdString(), c.strReply) << c.pHandle;
        ASSERT_TRUE(plugin.Finish());
        const QByteArray log = plugin.App().LogFiles();
        EXPECT_TRUE(log.contains(QByteArray("WndHandle ") + c.pHandle)) << c.pHandle;
        EXPECT_FALSE(log.contains("[GetBrowserWndID]")) << c.pHandle;
    }
}
