// CQZConnect's set-up, login, logout and error maps against the simulated device library.

#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/LogCapture.h"

#include <cstring>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "SN": "SNQZ0001", "Token": "tok-secret-77", "User": "admin",
   "Password": "pass-secret-55", "ChannelCountA": 1, "ChannelCountB": 3, "DeviceType": 2,
   "DeviceText1": "device text one", "DeviceText2": "device text two", "Date": "2022-11-03",
   "Query": [{"Input": [3, 0, 1], "Value": 77}]},
  {"IP": "10.20.30.40", "Port": 80, "SN": "SNQZ0002", "Token": "tok-2", "User": "u2", "Password": "p2"}
])";

DevLoginInfo Record(int nLoginType)
{
    DevLoginInfo info;
    std::memset(&info, 0, sizeof info);
    info.LoginType = nLoginType;
    FixedText::Copy(info.IP, QByteArray("127.0.0.1"));
    info.Port = 34567;
    FixedText::Copy(info.SN, QByteArray("SNQZ0001"));
    FixedText::Copy(info.Token, QByteArray("tok-secret-77"));
    FixedText::Copy(info.User, QByteArray("admin"));
    FixedText::Copy(info.Password, QByteArray("pass-secret-55"));
    return info;
}

} // namespace

class CQZConnectLogin : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
    }
};

TEST(CQZConnectErrorMaps, BothMaps)
{
    struct Row
    {
        int nError, nRet, nLoginRet;
    };
    const Row rows[] = {
        {-11301, 106, 106}, {-11302, 106, 106}, {-11300, 107, 107}, {-11303, 206, 206}, {-11304, 207, 207},
        {-11307, 999, 999}, {-11317, 218, 218}, {-10005, 1006, 1006}, {-11401, 1013, 1017}, {-11613, 1016, 1012},
        {0, 1016, 1017},    {-1, 1016, 1017},   {-10000, 1016, 1017}, {-512, 1016, 1017},   {100, 1016, 1017},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(CQZConnect::ErrorToRet(r.nError), r.nRet) << r.nError;
        EXPECT_EQ(CQZConnect::LoginErrorToRet(r.nError), r.nLoginRet) << r.nError;
    }
}

TEST_F(CQZConnectLogin, EveryLoginType)
{
    struct Case
    {
        const char *pName;
        int nLoginType;
        const char *pSN;            // the record's own serial number
        int nPort;
        const char *pAlarmStyle;
        const char *pWebType;
        std::string strJournal;     // the library's login call as decoded
        bool bListen;               // the post-login call is made
        const char *pSNAfter;
    };
    const Case cases[] = {
        {"address", 0, "", 34567, "", "", "ZDK_DEV_Login address=127.0.0.1 port=34567 user=admin conn=0 flag828=0",
         false, "SNQZ0001"},
        {"address, O5 web", 0, "", 34567, "", "O5",
         "ZDK_DEV_Login address=127.0.0.1 port=34567 user=admin conn=0 flag828=1000", false, "SNQZ0001"},
        {"address, port above 16 bits", 0, "", 34567 + 65536, "", "O6",
         "ZDK_DEV_Login address=127.0.0.1 port=34567 user=admin conn=0 flag828=0", false, "SNQZ0001"},
        {"serial", 1, "SNQZ0001", 34567, "Tool", "O5",
         "ZDK_DEV_Login address=SNQZ0001 port=0 user=admin conn=2 flag828=1000", true, "SNQZ0001"},
        {"serial, alarm style longer than Tool", 1, "SNQZ0001", 0, "Tools", "",
         "ZDK_DEV_Login address=SNQZ0001 port=0 user=admin conn=2 flag828=0", false, "SNQZ0001"},
        {"serial, lower-case tool", 1, "SNQZ0001", 0, "tool", "",
         "ZDK_DEV_Login address=SNQZ0001 port=0 user=admin conn=2 flag828=0", false, "SNQZ0001"},
        {"token", 2, "SNQZ0001", 0, "Tool", "",
         "ZDK_DEV_LoginEx_V2 serial=SNQZ0001 port=0 kind=7 conn=2 password=empty flag828=0", true, "SNQZ0001"},
    };
    CQZConnect conn;
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        DevLoginInfo info = Record(c.nLoginType);
        FixedText::Copy(info.SN, QByteArray(c.pSN));
        info.Port = c.nPort;
        FixedText::Copy(info.AlarmStyle, QByteArray(c.pAlarmStyle));
        int nError = 0;
        const int lLogin = conn.ConnectDevice(info, nError, c.pWebType);
        ASSERT_GT(lLogin, 0) << c.pName << " error " << nError;
        const std::vector<std::string> journal = KorvexControl::Journal();
        ASSERT_FALSE(journal.empty()) << c.pName;
        EXPECT_EQ(journal[0], c.strJournal) << c.pName;
        const std::string strListen = "ZDK_DEV_StartAlarmListen login=" + std::to_string(lLogin);
        EXPECT_EQ(std::count(journal.begin(), journal.end(), strListen), c.bListen ? 1 : 0) << c.pName;
        EXPECT_STREQ(info.SN, c.pSNAfter) << c.pName;
        EXPECT_EQ(info.ChannelCountA, 1) << c.pName;
        EXPECT_EQ(info.ChannelCountB, 3) << c.pName;
        EXPECT_EQ(info.ChannelTotal, 4) << c.pName;
        EXPECT_EQ(info.DeviceType, 2) << c.pName;
        EXPECT_EQ(info.DateYear, 2022) << c.pName;
        EXPECT_EQ(info.DateMonth, 11) << c.pName;
        EXPECT_EQ(info.DateDay, 3) << c.pName;
        EXPECT_STREQ(info.DeviceText1, "device text one") << c.pName;
        EXPECT_STREQ(info.DeviceText2, "device text two") << c.pName;
        EXPECT_EQ(info.LoginHandle, 0) << "the handle is the caller's to store";
        EXPECT_NE(conn.DisconnectDevice(lLogin), 0) << c.pName;
    }
    EXPECT_EQ(KorvexControl::OpenLogins(), 0);
}

TEST_F(CQZConnectLogin, SerialLoginKeepsItsOwnSerialNumber)
{
    CQZConnect conn;
    DevLoginInfo info = Record(0);
    FixedText::Copy(info.IP, QByteArray("10.20.30.40"));
    info.Port = 80;
    FixedText::Copy(info.User, QByteArray("u2"));
    FixedText::Copy(info.Password, QByteArray("p2"));
    FixedText::Copy(info.SN, QByteArray("WHATEVER"));
    int nError = 0;
    int lLogin = conn.ConnectDevice(info, nError, "");
    ASSERT_GT(lLogin, 0);
    EXPECT_STREQ(info.SN, "SNQZ0002") << "an address login takes the device's serial number";
    conn.DisconnectDevice(lLogin);

    // A serial login finds the device by its serial number and leaves the record's own text.
    info = Record(1);
    lLogin = conn.ConnectDevice(info, nError, "");
    ASSERT_GT(lLogin, 0);
    EXPECT_STREQ(info.SN, "SNQZ0001");
    conn.DisconnectDevice(lLogin);
}

TEST_F(CQZConnectLogin, RefusedLoginsMapTheirErrors)
{
    struct Case
    {
        int32_t nError;
        int nRet;
    };
    const Case cases[] = {{-11301, 106}, {-11302, 106}, {-11300, 107}, {-11303, 206}, {-11304, 207},
                          {-11307, 999}, {-11317, 218}, {-10005, 1006}, {-11401, 1017}, {-10003, 1017}};
    CQZConnect conn;
    for (int nLoginType : {0, 1, 2}) {
        for (const Case &c : cases) {
            KorvexControl::SetLoginError(nLoginType == 0 ? "127.0.0.1" : "SNQZ0001", c.nError);
            DevLoginInfo info = Record(nLoginType);
            int nError = 0;
            EXPECT_EQ(conn.ConnectDevice(info, nError, ""), c.nError) << nLoginType << " " << c.nError;
            EXPECT_EQ(nError, c.nRet) << nLoginType << " " << c.nError;
            EXPECT_EQ(info.CloudError[0], '\0');
        }
    }
    // Wrong credentials, as the device answers them.
    KorvexControl::SetLoginError("127.0.0.1", 0);
    DevLoginInfo info = Record(0);
    FixedText::Copy(info.Password, QByteArray("wrong"));
    int nError = 0;
    EXPECT_EQ(conn.ConnectDevice(info, nError, ""), ZDK_ERR_PASSWORD);
    EXPECT_EQ(nError, 106);
    info = Record(0);
    info.Port = 1;
    EXPECT_EQ(conn.ConnectDevice(info, nError, ""), ZDK_ERR_CONNECT_FAILED);
    EXPECT_EQ(nError, 1006);
}

TEST_F(CQZConnectLogin, CloudRefusalCarriesItsText)
{
    LogCapture log;
    CQZConnect conn;
    KorvexControl::SetLoginError("SNQZ0001", -11613, "cloud: " + std::string(300, 'x'));
    DevLoginInfo info = Record(2);
    int nError = 0;
    EXPECT_EQ(conn.ConnectDevice(info, nError, ""), -11613);
    EXPECT_EQ(nError, 1012);
    EXPECT_EQ(std::strlen(info.CloudError), 259u);
    EXPECT_EQ(std::string(info.CloudError, 7), "cloud: ");
    EXPECT_TRUE(log.WaitFor("[ERROR] [CQZConnect::ConnectDevice]"));
    EXPECT_TRUE(log.Contains("Cloud Error:cloud: xxx"));
    EXPECT_TRUE(log.Contains("ConnectDevice fail, sdk error=-11613 return=1012"));
    EXPECT_TRUE(log.Contains("ConnectDevice fail, error=1012"));
}

TEST_F(CQZConnectLogin, UnknownLoginTypeCallsNothing)
{
    LogCapture log;
    CQZConnect conn;
    KorvexControl::ClearJournal();
    for (int nLoginType : {3, -1}) {
        DevLoginInfo info = Record(nLoginType);
        int nError = 0;
        EXPECT_EQ(conn.ConnectDevice(info, nError, ""), 0);
        EXPECT_EQ(nError, 1017);
    }
    EXPECT_TRUE(KorvexControl::Journal().empty());
    EXPECT_TRUE(log.WaitFor("ConnectDevice fail, sdk error=0 return=1017"));
    EXPECT_TRUE(log.Contains("ConnectDevice fail, error=1017"));
}

TEST_F(CQZConnectLogin, LoginSequenceNumbers)
{
    CQZConnect conn;
    DevLoginInfo first = Record(0);
    int nError = 0;
    const int lFirst = conn.ConnectDevice(first, nError, "");
    ASSERT_GT(lFirst, 0);
    const int nSequence = first.LoginSequence;
    EXPECT_GT(nSequence, 0);
    conn.DisconnectDevice(lFirst);
    // A record that has its number keeps it; a new record gets the next one.
    const int lAgain = conn.ConnectDevice(first, nError, "");
    EXPECT_EQ(first.LoginSequence, nSequence);
    DevLoginInfo second = Record(0);
    const int lSecond = conn.ConnectDevice(second, nError, "");
    EXPECT_EQ(second.LoginSequence, nSequence + 1);
    conn.DisconnectDevice(lAgain);
    conn.DisconnectDevice(lSecond);
}

TEST_F(CQZConnectLogin, LogLinesKeepNoSecret)
{
    LogCapture log;
    CQZConnect conn;
    ZDK_AppAccountInfo account;
    std::memset(&account, 0, sizeof account);
    std::strcpy(account.Uuid, "uuid-visible");
    std::strcpy(account.AppKey, "appkey-hidden-0123");
    std::strcpy(account.AppSecret, "appsecret-hidden-4567");
    account.MoveCard = 9;
    UserDataInfo userData;
    std::memset(&userData, 0, sizeof userData);
    userData.bUse = 1;
    userData.type = 5;
    std::strcpy(userData.UserData, "ud-text");
    userData.len = 7;
    conn.SetSDKInfo(&account, &userData, true);
    EXPECT_EQ(conn.InitKorvex(nullptr, nullptr), 1);
    EXPECT_EQ(KorvexControl::AppKey(), "appkey-hidden-0123") << "the library gets the key";
    EXPECT_EQ(KorvexControl::UserDataType(), 5);
    EXPECT_EQ(KorvexControl::UserData(), "ud-text");

    int nError = 0;
    for (int nLoginType : {0, 1, 2}) {
        DevLoginInfo info = Record(nLoginType);
        const int lLogin = conn.ConnectDevice(info, nError, "");
        ASSERT_GT(lLogin, 0);
        conn.DisconnectDevice(lLogin);
    }
    DevLoginInfo bad = Record(0);
    FixedText::Copy(bad.Password, QByteArray("pass-secret-wrong"));
    conn.ConnectDevice(bad, nError, "");

    ASSERT_TRUE(log.WaitFor("ConnectDevice fail, error=106"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_UserData end type:5, UserData:ud-text, nlen:7"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_Init end bResult:1"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_InitAppInfo Ret=1 m_pAccoutInfo:uuid-visible  ***  *** 9"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_LoginEx_V2 SN=SNQZ0001 Token=***"));
    EXPECT_TRUE(log.Contains("NetDeviceInfo----------devType:2"));
    EXPECT_TRUE(log.Contains("ConnectDevice success,LoginID="));
    EXPECT_TRUE(log.Contains("Disconnect Device LoginID="));
    for (const QString &strLine : log.Lines()) {
        for (const char *pSecret : {"appkey-hidden", "appsecret-hidden", "tok-secret", "pass-secret"})
            EXPECT_FALSE(strLine.contains(pSecret)) << strLine.toStdString();
    }
}

TEST_F(CQZConnectLogin, DisconnectStopsAlarmsThenLogsOut)
{
    CQZConnect conn;
    DevLoginInfo info = Record(1);
    FixedText::Copy(info.AlarmStyle, QByteArray("Tool"));
    int nError = 0;
    const int lLogin = conn.ConnectDevice(info, nError, "");
    ASSERT_GT(lLogin, 0);
    KorvexControl::ClearJournal();
    EXPECT_EQ(conn.DisconnectDevice(lLogin), 1);
    const std::string strLogin = std::to_string(lLogin);
    EXPECT_EQ(KorvexControl::Journal(), (std::vector<std::string>{"ZDK_DEV_StopAlarmListen login=" + strLogin,
                                                                   "ZDK_DEV_Logout login=" + strLogin}));
    EXPECT_EQ(conn.DisconnectDevice(lLogin), 0) << "a second logout fails";
}

TEST_F(CQZConnectLogin, DeviceValueQuery)
{
    CQZConnect conn;
    DevLoginInfo info = Record(0);
    int nError = 0;
    const int lLogin = conn.ConnectDevice(info, nError, "");
    ASSERT_GT(lLogin, 0);
    EXPECT_EQ(conn.GetDevConfigValue(lLogin, 3, 0, 1), 77);
    EXPECT_EQ(conn.GetDevConfigValue(lLogin, 3, 0, 2), 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_QueryValue").front(),
              "ZDK_DEV_QueryValue login=" + std::to_string(lLogin) + " query=3/0/1 wait=10000");
    conn.DisconnectDevice(lLogin);
}
