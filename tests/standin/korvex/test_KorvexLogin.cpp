// The simulated library's devices and logins: the device file, the built-in device, credentials, forced
// errors, the device information it fills, handles and the per-thread last error.

#include "standin/korvex/DeviceCatalog.h"
#include "tests/support/KorvexFixture.h"

#include <cstring>
#include <thread>

namespace {

const char *kTwoDevices = R"({"Devices": [
  {"IP": "10.1.2.3", "Port": 8000, "SN": "SNTEST0001", "Token": "tok-1", "User": "op", "Password": "pw",
   "ChannelCountA": 2, "ChannelCountB": 3, "DeviceType": 2, "DeviceText1": "text one", "DeviceText2": "text two",
   "Date": "2023-05-17"},
  {"IP": "10.1.2.4", "SN": "SNTEST0002", "Token": "tok-2", "Channels": 1, "LoginError": -11303},
  {"IP": "10.1.2.5", "SN": "SNCLOUD", "LoginError": -11613, "CloudError": "cloud says no"}
]})";

struct LoginCase
{
    const char *pName;
    int nConnectKind;       // ZDK_CONNECT_ADDRESS, ZDK_CONNECT_SERIAL, or -1 for the token login
    const char *pAddress;   // address or serial number
    int nPort;
    const char *pUser;
    const char *pPassword;  // the token for the token login
    int32_t nError;         // 0: the login succeeds
};

} // namespace

class KorvexLogin : public KorvexFixture
{
};

TEST(KorvexCatalog, BuiltInDeviceWithoutAFile)
{
    unsetenv("KORVEX_DEVICES");
    std::string strError;
    const std::vector<KorvexDevice> devices = DeviceCatalog::Load(strError);
    ASSERT_EQ(devices.size(), 1u);
    const KorvexDevice &dev = devices[0];
    EXPECT_EQ(dev.strIP, "127.0.0.1");
    EXPECT_EQ(dev.nPort, 34567);
    EXPECT_EQ(dev.strUser, "admin");
    EXPECT_EQ(dev.strPassword, "");
    EXPECT_EQ(dev.ChannelCount(), 16);
    EXPECT_FALSE(dev.strSerial.empty());
    EXPECT_FALSE(dev.strToken.empty());
    EXPECT_NE(dev.main.nWidth, dev.sub.nWidth);
}

TEST(KorvexCatalog, EntriesAndTheirErrors)
{
    std::vector<KorvexDevice> devices;
    std::string strError;
    ASSERT_TRUE(DeviceCatalog::Parse(kTwoDevices, devices, strError)) << strError;
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].ChannelCount(), 5);
    EXPECT_EQ(devices[0].nYear, 2023);
    EXPECT_EQ(devices[0].nDay, 17);
    EXPECT_EQ(devices[1].nPort, 34567) << "a missing key keeps the built-in value";
    EXPECT_EQ(devices[1].ChannelCount(), 1);
    EXPECT_EQ(devices[1].nLoginError, -11303);

    // A top-level array is accepted too.
    ASSERT_TRUE(DeviceCatalog::Parse(R"([{"IP": "1.2.3.4", "Main": {"Codec": "H.264", "Width": 320}}])", devices,
                                     strError));
    EXPECT_EQ(devices[0].main.nCodec, 2);
    EXPECT_EQ(devices[0].main.nWidth, 320);

    const char *kBad[] = {
        "{",
        R"({"Devices": []})",
        R"({"Devices": [{"Port": "8000"}]})",
        R"({"Devices": [{"Main": {"Codec": "MPEG2"}}]})",
        R"({"Devices": [{"Main": {"Width": 321}}]})",
        R"({"Devices": [{"Audio": {"Codec": "AAC"}}]})",
        R"({"Devices": [{"Audio": {"SampleRate": 44100}}]})",
        R"({"Devices": [{"Date": "yesterday"}]})",
        R"({"Devices": [{"Query": [{"Input": [1, 2], "Value": 3}]}]})",
    };
    for (const char *pBad : kBad) {
        strError.clear();
        EXPECT_FALSE(DeviceCatalog::Parse(pBad, devices, strError)) << pBad;
        EXPECT_FALSE(strError.empty()) << pBad;
    }
}

TEST_F(KorvexLogin, UnreadableDeviceFileFailsTheStart)
{
    ASSERT_NE(ZDK_DEV_Cleanup(), 0);
    setenv("KORVEX_DEVICES", TempPath("missing.json").toLocal8Bit().constData(), 1);
    EXPECT_EQ(ZDK_DEV_Init(nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_FILE_OPEN);
    NetDeviceInfo info{};
    int32_t nError = 0;
    EXPECT_EQ(ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS), 0);
    EXPECT_EQ(nError, ZDK_ERR_NOT_INIT);
    unsetenv("KORVEX_DEVICES");
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
}

TEST_F(KorvexLogin, BuiltInDeviceFillsTheDeviceInformation)
{
    NetDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    info.nClientFlag = 1000;
    int32_t nError = -1;
    const int32_t lLogin = ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS);
    ASSERT_GT(lLogin, 0);
    EXPECT_EQ(nError, 0);
    const KorvexDevice dev = DeviceCatalog::BuiltIn();
    EXPECT_EQ(std::string(info.sSerialNumber), dev.strSerial);
    EXPECT_EQ(std::string(info.sDeviceText1), dev.strDeviceText1);
    EXPECT_EQ(std::string(info.sDeviceText2), dev.strDeviceText2);
    EXPECT_EQ(info.nChannelCountA + info.nChannelCountB, 16);
    EXPECT_EQ(info.nDeviceType, dev.nDeviceType);
    EXPECT_EQ(info.nYear, dev.nYear);
    EXPECT_EQ(info.nClientFlag, 1000) << "the input value is kept";
    // The fixed offsets the login reads.
    const char *p = reinterpret_cast<const char *>(&info);
    EXPECT_EQ(std::string(p + 224), dev.strSerial);
    EXPECT_EQ(*reinterpret_cast<const int32_t *>(p + 332), dev.nDeviceType);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_Login"),
              std::vector<std::string>{"ZDK_DEV_Login address=127.0.0.1 port=34567 user=admin conn=0 flag828=1000"});
    EXPECT_EQ(KorvexControl::OpenLogins(), 1);
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
    EXPECT_EQ(KorvexControl::OpenLogins(), 0);
    EXPECT_EQ(ZDK_DEV_Logout(lLogin), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
}

TEST_F(KorvexLogin, CredentialsAndForcedErrors)
{
    UseDevices(kTwoDevices);
    KorvexControl::SetLoginError("SNTEST0001", 0);
    const LoginCase cases[] = {
        {"address", ZDK_CONNECT_ADDRESS, "10.1.2.3", 8000, "op", "pw", 0},
        {"serial", ZDK_CONNECT_SERIAL, "SNTEST0001", 0, "op", "pw", 0},
        {"token", -1, "SNTEST0001", 0, nullptr, "tok-1", 0},
        {"no device at the address", ZDK_CONNECT_ADDRESS, "10.9.9.9", 8000, "op", "pw", ZDK_ERR_CONNECT_FAILED},
        {"wrong port", ZDK_CONNECT_ADDRESS, "10.1.2.3", 8001, "op", "pw", ZDK_ERR_CONNECT_FAILED},
        {"unknown serial", ZDK_CONNECT_SERIAL, "NOSUCH", 0, "op", "pw", ZDK_ERR_CONNECT_FAILED},
        {"unknown user", ZDK_CONNECT_ADDRESS, "10.1.2.3", 8000, "admin", "pw", ZDK_ERR_NO_USER},
        {"wrong password", ZDK_CONNECT_SERIAL, "SNTEST0001", 0, "op", "", ZDK_ERR_PASSWORD},
        {"wrong token", -1, "SNTEST0001", 0, nullptr, "tok-2", ZDK_ERR_LOGIN_REFUSED},
        {"entry forces an error", ZDK_CONNECT_ADDRESS, "10.1.2.4", 34567, "admin", "", -11303},
        {"entry forces it for the token too", -1, "SNTEST0002", 0, nullptr, "tok-2", -11303},
        {"bad connection kind", 5, "10.1.2.3", 8000, "op", "pw", ZDK_ERR_ILLEGAL_PARAM},
    };
    for (const LoginCase &c : cases) {
        NetDeviceInfo info{};
        int32_t nError = 12345;
        const int32_t lLogin = c.nConnectKind < 0
                                   ? ZDK_DEV_LoginEx_V2(c.pAddress, c.nPort, c.pPassword, "", &info,
                                                        ZDK_LOGIN_KIND_TOKEN, &nError, ZDK_CONNECT_SERIAL)
                                   : ZDK_DEV_Login(c.pAddress, c.nPort, c.pUser, c.pPassword, &info, &nError,
                                                   c.nConnectKind);
        if (c.nError == 0) {
            EXPECT_GT(lLogin, 0) << c.pName;
            EXPECT_EQ(nError, 0) << c.pName;
            EXPECT_EQ(std::string(info.sSerialNumber), "SNTEST0001") << c.pName;
            EXPECT_EQ(info.nChannelCountA, 2) << c.pName;
            EXPECT_EQ(info.nChannelCountB, 3) << c.pName;
            EXPECT_NE(ZDK_DEV_Logout(lLogin), 0) << c.pName;
        } else {
            EXPECT_EQ(lLogin, 0) << c.pName;
            EXPECT_EQ(nError, c.nError) << c.pName;
            EXPECT_EQ(ZDK_DEV_GetLastError(), c.nError) << c.pName;
        }
    }

    // The token login must come with login kind 7.
    NetDeviceInfo info{};
    int32_t nError = 0;
    EXPECT_EQ(ZDK_DEV_LoginEx_V2("SNTEST0001", 0, "tok-1", "", &info, 6, &nError, ZDK_CONNECT_SERIAL), 0);
    EXPECT_EQ(nError, ZDK_ERR_ILLEGAL_PARAM);

    // A cloud refusal carries its text; a control setting overrides the device entry and is removed with 0.
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(ZDK_DEV_Login("SNCLOUD", 0, "admin", "", &info, &nError, ZDK_CONNECT_SERIAL), 0);
    EXPECT_EQ(nError, ZDK_ERR_CLOUD);
    EXPECT_EQ(std::string(info.sCloudError), "cloud says no");
    KorvexControl::SetLoginError("10.1.2.3", ZDK_ERR_CLOUD, std::string(300, 'c'));
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(ZDK_DEV_Login("10.1.2.3", 8000, "op", "pw", &info, &nError, ZDK_CONNECT_ADDRESS), 0);
    EXPECT_EQ(std::string(info.sCloudError), std::string(259, 'c'));
    KorvexControl::SetLoginError("10.1.2.3", 0);
    const int32_t lLogin = ZDK_DEV_Login("10.1.2.3", 8000, "op", "pw", &info, &nError, ZDK_CONNECT_ADDRESS);
    EXPECT_GT(lLogin, 0);
}

TEST_F(KorvexLogin, JournalKeepsNoSecret)
{
    UseDevices(kTwoDevices);
    NetDeviceInfo info{};
    int32_t nError = 0;
    ZDK_DEV_Login("10.1.2.3", 8000, "op", "pw", &info, &nError, ZDK_CONNECT_ADDRESS);
    ZDK_DEV_LoginEx_V2("SNTEST0001", 0, "tok-1", "", &info, ZDK_LOGIN_KIND_TOKEN, &nError, ZDK_CONNECT_SERIAL);
    ZDK_AppAccountInfo account{};
    std::strcpy(account.Uuid, "uuid-1");
    std::strcpy(account.AppKey, "key-secret-value");
    std::strcpy(account.AppSecret, "secret-secret-value");
    ZDK_DEV_InitAppInfo(&account);
    EXPECT_EQ(KorvexControl::AppKey(), "key-secret-value");
    for (const std::string &line : KorvexControl::Journal()) {
        EXPECT_EQ(line.find("pw"), std::string::npos) << line;
        EXPECT_EQ(line.find("tok-1"), std::string::npos) << line;
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    }
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_LoginEx_V2"),
              std::vector<std::string>{
                  "ZDK_DEV_LoginEx_V2 serial=SNTEST0001 port=0 kind=7 conn=2 password=empty flag828=0"});
}

TEST_F(KorvexLogin, HandlesAreNeverReused)
{
    std::vector<int32_t> handles;
    for (int i = 0; i < 3; ++i) {
        const int32_t lLogin = LoginBuiltIn();
        handles.push_back(lLogin);
        ZDK_ClientInfo client{};
        handles.push_back(ZDK_DEV_RealPlay(lLogin, &client, nullptr));
        ASSERT_NE(ZDK_DEV_Logout(lLogin), 0);
        // A clean-up does not start the numbering again.
        ASSERT_NE(ZDK_DEV_Cleanup(), 0);
        ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
    }
    for (size_t i = 0; i < handles.size(); ++i) {
        EXPECT_GT(handles[i], 0);
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(handles[i], handles[j]);
    }
}

TEST_F(KorvexLogin, LastErrorIsPerThread)
{
    NetDeviceInfo info{};
    int32_t nError = 0;
    EXPECT_EQ(ZDK_DEV_Login("127.0.0.1", 34567, "admin", "bad", &info, &nError, ZDK_CONNECT_ADDRESS), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_PASSWORD);
    int32_t nOther = 1;
    std::thread other([&] {
        nOther = ZDK_DEV_GetLastError();
        NetDeviceInfo otherInfo{};
        int32_t nOtherError = 0;
        ZDK_DEV_Login("127.0.0.1", 34567, "nobody", "", &otherInfo, &nOtherError, ZDK_CONNECT_ADDRESS);
    });
    other.join();
    EXPECT_EQ(nOther, 0) << "another thread has its own last error";
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_PASSWORD) << "and its failure does not change this thread's";
}

TEST_F(KorvexLogin, ForcedFailuresAndLatency)
{
    KorvexControl::FailNextCall("ZDK_DEV_Login", -11317);
    KorvexControl::FailNextCall("ZDK_DEV_Login", -11307);
    NetDeviceInfo info{};
    int32_t nError = 0;
    EXPECT_EQ(ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS), 0);
    EXPECT_EQ(nError, -11317);
    EXPECT_EQ(ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS), 0);
    EXPECT_EQ(nError, -11307);
    const int32_t lLogin = ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS);
    EXPECT_GT(lLogin, 0) << "each failure is used once";

    KorvexControl::SetLatency("ZDK_DEV_SetStreamOption", 150);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(ZDK_DEV_SetStreamOption(lLogin, 0, 1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    KorvexControl::SetLatency("ZDK_DEV_SetStreamOption", 0);

    EXPECT_EQ(ZDK_DEV_SetStreamOption(lLogin, 16, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_CHANNEL);
    EXPECT_EQ(ZDK_DEV_SetStreamOption(lLogin, 0, 2), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
}

TEST_F(KorvexLogin, ValueQueryFromTheDeviceEntry)
{
    UseDevices(R"([{"Query": [{"Input": [1, -1, 7], "Value": 42}]}])");
    const int32_t lLogin = LoginBuiltIn();
    ZDK_QueryInfo query{1, -1, 7};
    int32_t nResult = 0;
    EXPECT_NE(ZDK_DEV_QueryValue(lLogin, &query, &nResult, 10000), 0);
    EXPECT_EQ(nResult, 42);
    query.nParam = 8;
    EXPECT_EQ(ZDK_DEV_QueryValue(lLogin, &query, &nResult, 10000), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NOT_SUPPORTED);
}
