// The simulated device's configuration side: records, JSON reads and commands by name, abilities and the
// two-lens state, with the strict reading of what the system sends and the exact shape of the answers.

#include "platform/korvex.h"
#include "standin/korvex/DeviceCatalog.h"
#include "tests/support/KorvexFixture.h"

#include <cstring>
#include <vector>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 4, "DeviceTalk": false,
   "Main": {"Codec": "H.264"}, "Sub": {"Codec": "H.265"},
   "Abilities": {"SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera": true,
                 "SystemFunction/OtherFunction/SupportScaleTwoLens": false},
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true]},
   "EncodeFormats": [{}, {"MainFormat": "H.265", "ExtraFormat": "H.264"}],
   "TwoLens": [{"Channel": 0, "Stream": 1},
               {"Channel": 1, "Stream": 0, "Times": 2.5, "MaxTimes": 6.0},
               {"Channel": 1, "Stream": 1, "Times": 1.0},
               {"Channel": 2, "Stream": 0, "Supported": false}],
   "NewVersions": [{"Name": "KVX_V1.0.3.1", "Date": "2024-6-1"}, {"Name": "KVX_V1.0.2.0", "Date": "2024-2-1"}]},
  {"IP": "10.0.0.2", "Port": 34567, "Channels": 1, "NewVersions": []}
])";

// A JSON call's answer as the library wrote it: the result, the out length and the bytes of the whole buffer.
struct Answer
{
    int32_t nResult = 0;
    int32_t nLastError = 0;
    uint32_t nReturned = 0;
    std::vector<char> buffer;

    std::string Text() const { return std::string(buffer.data(), nReturned); }
};

Answer Command(int32_t lLogin, int32_t nCommand, const char *pName, const std::string &strIn, int32_t nChannel,
               uint32_t nSize = 4096)
{
    Answer a;
    a.buffer.assign(nSize, '\x7f');
    a.nResult = ZDK_DEV_CmdGeneral_Json(lLogin, nCommand, pName, strIn.data(), static_cast<uint32_t>(strIn.size()),
                                        a.buffer.data(), nSize, &a.nReturned, 1000, nChannel);
    a.nLastError = ZDK_DEV_GetLastError();
    return a;
}

Answer ConfigJson(int32_t lLogin, const char *pName, int32_t nCommand, int32_t nChannel, uint32_t nSize = 4096)
{
    Answer a;
    a.buffer.assign(nSize, '\x7f');
    a.nResult = ZDK_DEV_GetDevConfig_Json(lLogin, pName, nCommand, nChannel, a.buffer.data(), nSize, &a.nReturned, 1000);
    a.nLastError = ZDK_DEV_GetLastError();
    return a;
}

Answer Ability(int32_t lLogin, const char *pName, int32_t nChannel, uint32_t nSize = 4096)
{
    Answer a;
    a.buffer.assign(nSize, '\x7f');
    a.nResult = ZDK_DEV_GetChannelAbility_Json(lLogin, pName, nChannel, a.buffer.data(), nSize, &a.nReturned, 1000);
    a.nLastError = ZDK_DEV_GetLastError();
    return a;
}

} // namespace

class KorvexConfig : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
        m_lLogin = LoginBuiltIn();
    }
    int32_t m_lLogin = 0;
};

TEST_F(KorvexConfig, JsonAnswersByName)
{
    struct Case
    {
        const char *pWhat;
        std::function<Answer()> call;
        std::string strAnswer;
    };
    const int32_t l = m_lLogin;
    const Case cases[] = {
        {"encoder formats", [l] { return ConfigJson(l, "AVEnc.A3Encode", ZDK_CMD_ENCODE, -1); },
         R"({"AVEnc.A3Encode":[{"ExtraFormat":"H.265","MainFormat":"H.264"},{"ExtraFormat":"H.264","MainFormat":"H.265"},)"
         R"({"ExtraFormat":"H.265","MainFormat":"H.264"},{"ExtraFormat":"H.265","MainFormat":"H.264"}],"Name":"AVEnc.A3Encode","Ret":100})"},
        {"camera abilities, two-lens channel", [l] { return ConfigJson(l, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 1); },
         R"({"Name":"SystemFunction","Ret":100,"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":true}}})"},
        {"camera abilities, unsupported two-lens", [l] { return ConfigJson(l, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 2); },
         R"({"Name":"SystemFunction","Ret":100,"SystemFunction":{"OtherFunction":{"SupportScaleTwoLens":false}}})"},
        {"channel abilities, padded to every channel", [l] { return Ability(l, "ChannelSystemFunction@SupportIPCTalk", -1); },
         R"({"ChannelSystemFunction@SupportIPCTalk":[false,true,false,false],"Name":"ChannelSystemFunction@SupportIPCTalk","Ret":100})"},
        {"sensor of a channel's camera", [l] { return Command(l, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 1); },
         R"({"Name":"bypass@OPSensorGet","Ret":100,"bypass@OPSensorGet":[{"MaxTimes":6.0,"StreamType":0,"Times":2.5,"TimesOri":2.5}]})"},
        {"sensor of the device itself", [l] { return Command(l, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 1}])", -1); },
         R"({"Name":"OPSensorGet","OPSensorGet":[{"StreamType":1,"Times":0.0,"TimesOri":0.0}],"Ret":100})"},
        {"zoom switch", [l] { return Command(l, ZDK_CMD_SCALE_TIMES_SWITCH, "OPScaleTimesSwitch", R"([{"StreamType": 1,"TimesOri": 1.0,"Times": 0.5}])", 1); },
         R"({"Name":"OPScaleTimesSwitch","Ret":100})"},
    };
    for (const Case &c : cases) {
        const Answer a = c.call();
        EXPECT_EQ(a.nResult, 1) << c.pWhat << " error " << a.nLastError;
        EXPECT_EQ(a.Text(), c.strAnswer) << c.pWhat;
        // Nothing but the answer is written: no terminating zero.
        ASSERT_LT(a.nReturned, a.buffer.size());
        EXPECT_EQ(a.buffer[a.nReturned], '\x7f') << c.pWhat;
    }
}

TEST_F(KorvexConfig, InputsAreReadStrictly)
{
    struct Case
    {
        const char *pName;
        int32_t nCommand;
        std::string strIn;
        int32_t nResult;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1}])", 1},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, "[{\"StreamType\": 1}]\0"s, ZDK_ERR_ILLEGAL_PARAM},     // the zero too
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1}] /* note */)", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1.0}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 2}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": "1"}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"({"StreamType": 1})", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1},{"StreamType": 0}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1, "Channel": 1}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 1, "StreamType": 1}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, R"([{'StreamType': 1}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPSensorGet", ZDK_CMD_SENSOR_GET, "", ZDK_ERR_ILLEGAL_PARAM},
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"TimesOri": 2.5,"Times": 3.0}])", 1},
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"TimesOri": 2.5,"Times": 6.1}])",
         ZDK_ERR_ILLEGAL_PARAM},    // above the camera's maximum
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"TimesOri": 2.5,"Times": -0.5}])",
         ZDK_ERR_ILLEGAL_PARAM},
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"Times": 3.0}])", ZDK_ERR_ILLEGAL_PARAM},
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"TimesOri": 2,5,"Times": 3.0}])",
         ZDK_ERR_ILLEGAL_PARAM},    // a decimal comma
        {"OPScaleTimesSwitch", ZDK_CMD_SCALE_TIMES_SWITCH, R"([{"StreamType": 0,"TimesOri": 2.5,"Times": "3.0"}])",
         ZDK_ERR_ILLEGAL_PARAM},
        {"OPScaleTimesSwitch", ZDK_CMD_SENSOR_GET, R"([{"StreamType": 0,"TimesOri": 2.5,"Times": 3.0}])",
         ZDK_ERR_ILLEGAL_PARAM},    // the name with another command
        {"OPUnknown", 1234, R"([{"StreamType": 0}])", ZDK_ERR_NOT_SUPPORTED},
    };
    for (const Case &c : cases) {
        const Answer a = Command(m_lLogin, c.nCommand, c.pName, c.strIn, 1);
        EXPECT_EQ(a.nResult, c.nResult) << c.pName << " " << c.strIn;
        if (c.nResult < 0) {
            EXPECT_EQ(a.nLastError, c.nResult) << c.strIn;
        }
        // The journal keeps the input exactly as long as it was given.
        const std::string strLine = KorvexControl::JournalOf("ZDK_DEV_CmdGeneral_Json").back();
        EXPECT_EQ(strLine.substr(strLine.find(" in=") + 4), c.strIn);
    }
    // Bytes after the length given are not read.
    const std::string strPadded = R"([{"StreamType": 1}]garbage)";
    std::vector<char> out(4096);
    uint32_t nReturned = 0;
    EXPECT_EQ(ZDK_DEV_CmdGeneral_Json(m_lLogin, ZDK_CMD_SENSOR_GET, "OPSensorGet", strPadded.data(), 19, out.data(),
                                      4096, &nReturned, 1000, 1),
              1);
}

TEST_F(KorvexConfig, RefusalsOfNamesChannelsAndBuffers)
{
    struct Case
    {
        const char *pWhat;
        std::function<Answer()> call;
        int32_t nError;
    };
    const int32_t l = m_lLogin;
    const Case cases[] = {
        {"encoder formats with the wrong command", [l] { return ConfigJson(l, "AVEnc.A3Encode", ZDK_CMD_SYSTEM_FUNCTION, -1); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"encoder formats of one channel", [l] { return ConfigJson(l, "AVEnc.A3Encode", ZDK_CMD_ENCODE, 0); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"camera abilities of no channel", [l] { return ConfigJson(l, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 4); },
         ZDK_ERR_NO_CHANNEL},
        {"unknown configuration", [l] { return ConfigJson(l, "General.Location", 1040, -1); }, ZDK_ERR_NOT_SUPPORTED},
        {"unknown ability", [l] { return Ability(l, "ChannelSystemFunction@SupportNothing", -1); }, ZDK_ERR_NOT_SUPPORTED},
        {"ability of no channel", [l] { return Ability(l, "ChannelSystemFunction@SupportIPCTalk", 4); }, ZDK_ERR_NO_CHANNEL},
        {"sensor without two lenses", [l] { return Command(l, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 3); },
         ZDK_ERR_NOT_SUPPORTED},
        {"sensor switched off", [l] { return Command(l, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 2); },
         ZDK_ERR_NOT_SUPPORTED},
        {"sensor of no channel", [l] { return Command(l, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 9); },
         ZDK_ERR_NO_CHANNEL},
        {"answer larger than the buffer", [l] { return ConfigJson(l, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 1, 40); },
         ZDK_ERR_BUFFER_TOO_SMALL},
        {"no such login", [] { return ConfigJson(999, "AVEnc.A3Encode", ZDK_CMD_ENCODE, -1); }, ZDK_ERR_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        const Answer a = c.call();
        EXPECT_EQ(a.nResult, c.nError) << c.pWhat;
        EXPECT_EQ(a.nLastError, c.nError) << c.pWhat;
        EXPECT_EQ(a.nReturned, 0u) << c.pWhat;
    }
    // An answer of exactly the buffer's size fits (and has no room for a zero).
    const Answer whole = ConfigJson(m_lLogin, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 1);
    ASSERT_EQ(whole.nResult, 1);
    const Answer exact = ConfigJson(m_lLogin, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, 1, whole.nReturned);
    EXPECT_EQ(exact.nResult, 1);
    EXPECT_EQ(exact.Text(), whole.Text());
}

TEST_F(KorvexConfig, ControlledAnswersAndTail)
{
    KorvexControl::ReplyNext("OPSensorGet", R"({"Name": 7})");
    KorvexControl::SetReplyTail("}}garbage");
    Answer a = Command(m_lLogin, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 1);
    EXPECT_EQ(a.nResult, 1);
    EXPECT_EQ(a.Text(), R"({"Name": 7})");
    EXPECT_EQ(std::string(a.buffer.data() + a.nReturned, 9), "}}garbage");
    // Only the next answer is replaced.
    a = Command(m_lLogin, ZDK_CMD_SENSOR_GET, "OPSensorGet", R"([{"StreamType": 0}])", 1);
    EXPECT_EQ(a.Text().substr(0, 28), R"({"Name":"bypass@OPSensorGet")");
}

TEST_F(KorvexConfig, TwoLensStatePerChannelAndStream)
{
    auto times = [this](int32_t lLogin, int nChannel, int nStream) {
        const Answer a = Command(lLogin, ZDK_CMD_SENSOR_GET, "OPSensorGet",
                                 "[{\"StreamType\": " + std::to_string(nStream) + "}]", nChannel);
        EXPECT_EQ(a.nResult, 1);
        const std::string strText = a.Text();
        const size_t nAt = strText.find("\"Times\":");
        return strText.substr(nAt + 8, strText.find(',', nAt) - nAt - 8);
    };
    ASSERT_EQ(Command(m_lLogin, ZDK_CMD_SCALE_TIMES_SWITCH, "OPScaleTimesSwitch",
                      R"([{"StreamType": 0,"TimesOri": 2.5,"Times": 4.5}])", 1)
                  .nResult,
              1);
    EXPECT_EQ(times(m_lLogin, 1, 0), "4.5");
    EXPECT_EQ(times(m_lLogin, 1, 1), "1.0");
    // Channel -1 is the device itself, its first channel; another login to the device sees the same zoom.
    ASSERT_EQ(Command(m_lLogin, ZDK_CMD_SCALE_TIMES_SWITCH, "OPScaleTimesSwitch",
                      R"([{"StreamType": 1,"TimesOri": 0.0,"Times": 7.0}])", -1)
                  .nResult,
              1);
    const int32_t lSecond = LoginBuiltIn();
    EXPECT_EQ(times(lSecond, 0, 1), "7.0");
    EXPECT_EQ(times(lSecond, 1, 0), "4.5");
    // A library started again starts from the device entry.
    ASSERT_NE(ZDK_DEV_Cleanup(), 0);
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
    EXPECT_EQ(times(LoginBuiltIn(), 1, 0), "2.5");
}

TEST_F(KorvexConfig, Records)
{
    // The talk record: byte 128 says the device cannot talk.
    ZDK_TalkConfig talk;
    std::memset(&talk, 0x55, sizeof talk);
    uint32_t nReturned = 0;
    ASSERT_EQ(ZDK_DEV_GetDevConfig(m_lLogin, ZDK_CFG_TALK, -1, reinterpret_cast<char *>(&talk), sizeof talk, &nReturned,
                                   1000),
              1);
    EXPECT_EQ(nReturned, sizeof talk);
    EXPECT_EQ(talk.bCannotTalk, 1);
    EXPECT_EQ(talk.reserved0[0], 0);

    ZDK_UpgradeInfo info;
    ASSERT_EQ(ZDK_DEV_GetDevConfig(m_lLogin, ZDK_CFG_UPGRADE_INFO, -1, reinterpret_cast<char *>(&info), sizeof info,
                                   &nReturned, 1000),
              1);
    EXPECT_EQ(nReturned, 2884u);
    const char *pRaw = reinterpret_cast<const char *>(&info);
    int32_t nCount = 0;
    std::memcpy(&nCount, pRaw, 4);
    EXPECT_EQ(nCount, 2);
    EXPECT_STREQ(pRaw + 4, "KVX_V1.0.3.1");
    EXPECT_STREQ(pRaw + 132, "2024-6-1");
    EXPECT_STREQ(info.versions[1].sName, "KVX_V1.0.2.0");

    struct Refusal
    {
        int32_t nCommand, nChannel;
        uint32_t nSize;
        int32_t nError;
    };
    const Refusal refusals[] = {
        {ZDK_CFG_UPGRADE_INFO, -1, 2883, ZDK_ERR_BUFFER_TOO_SMALL},
        {ZDK_CFG_UPGRADE_INFO, 0, 2884, ZDK_ERR_ILLEGAL_PARAM},
        {ZDK_CFG_TALK, -1, 228, ZDK_ERR_BUFFER_TOO_SMALL},
        {ZDK_CFG_IMPORT, -1, 2884, ZDK_ERR_NOT_SUPPORTED},
    };
    for (const Refusal &r : refusals) {
        EXPECT_EQ(ZDK_DEV_GetDevConfig(m_lLogin, r.nCommand, r.nChannel, reinterpret_cast<char *>(&info), r.nSize,
                                       &nReturned, 1000),
                  r.nError)
            << r.nCommand << " " << r.nSize;
        EXPECT_EQ(nReturned, 0u);
    }

    // A device without new versions lists none.
    const int32_t lOther = LoginAt("10.0.0.2", 34567);
    std::memset(&info, 0x55, sizeof info);
    ASSERT_EQ(ZDK_DEV_GetDevConfig(lOther, ZDK_CFG_UPGRADE_INFO, -1, reinterpret_cast<char *>(&info), sizeof info,
                                   &nReturned, 1000),
              1);
    EXPECT_EQ(info.nCount, 0);
}

TEST_F(KorvexConfig, ConfigurationImport)
{
    struct Case
    {
        std::string strData;
        int32_t nChannel;
        int32_t nResult;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {R"({"General": {"Location": {"Language": "English"}}})", -1, 1},
        {R"({"General": 1})", 0, ZDK_ERR_ILLEGAL_PARAM},
        {R"(["General"])", -1, ZDK_ERR_ILLEGAL_PARAM},
        {"{\"General\": 1}\0"s, -1, ZDK_ERR_ILLEGAL_PARAM},
        {"not a configuration", -1, ZDK_ERR_ILLEGAL_PARAM},
        {"", -1, ZDK_ERR_ILLEGAL_PARAM},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ZDK_DEV_SetDevConfig(m_lLogin, ZDK_CFG_IMPORT, c.nChannel, c.strData.data(),
                                       static_cast<uint32_t>(c.strData.size()), 1000),
                  c.nResult)
            << c.strData;
    }
    EXPECT_EQ(KorvexControl::ImportedConfig(m_lLogin), cases[0].strData);
    EXPECT_EQ(ZDK_DEV_SetDevConfig(m_lLogin, ZDK_CFG_TALK, -1, "{}", 2, 1000), ZDK_ERR_NOT_SUPPORTED);
}

TEST_F(KorvexConfig, AbilitiesBySlashPath)
{
    EXPECT_EQ(ZDK_DEV_GetAbility(m_lLogin, "SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera", 0), 1);
    // The device entry says no two-lens zoom for the device itself, whatever its first channel has.
    EXPECT_EQ(ZDK_DEV_GetAbility(m_lLogin, "SystemFunction/OtherFunction/SupportScaleTwoLens", 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NOT_SUPPORTED);
    EXPECT_EQ(ZDK_DEV_GetAbility(m_lLogin, "SystemFunction/Nothing", 0), 0);

    // The built-in device: two lenses on its first channel, which the device's own ability follows; talk on its
    // first channel only.
    UseDevices(R"([{"IP": "127.0.0.1", "Port": 34567}])");
    const int32_t lLogin = LoginBuiltIn();
    EXPECT_EQ(ZDK_DEV_GetAbility(lLogin, "SystemFunction/OtherFunction/SupportScaleTwoLens", 0), 1);
    const Answer a = Ability(lLogin, "ChannelSystemFunction@SupportIPCTalk", -1);
    EXPECT_EQ(a.Text().substr(0, 52), R"({"ChannelSystemFunction@SupportIPCTalk":[true,false,)");
}

TEST(KorvexConfigCatalog, BadKeysAreRefused)
{
    const char *cases[] = {
        R"([{"Abilities": {"A/B": 1}}])",
        R"([{"Abilities": []}])",
        R"([{"Channels": 2, "ChannelAbilities": {"X@Y": [true, false, true]}}])",
        R"([{"ChannelAbilities": {"X@Y": [1]}}])",
        R"([{"EncodeFormats": [{"MainFormat": 264}]}])",
        R"([{"TwoLens": [{"Channel": 0}]}])",
        R"([{"TwoLens": [{"Channel": 0, "Stream": 2}]}])",
        R"([{"Channels": 2, "TwoLens": [{"Channel": 2, "Stream": 0}]}])",
        R"([{"TwoLens": [{"Channel": 0, "Stream": 0, "Times": "1"}]}])",
        R"([{"TwoLens": [{"Channel": 0, "Stream": 0}, {"Channel": 0, "Stream": 0}]}])",
        R"([{"NewVersions": [{"Name": "A"}]}])",
        R"([{"NewVersions": [{"Name": "", "Date": "2024-1-1"}]}])",
        R"([{"NewVersions": [{"Name": "A", "Date": "2024-1-1", "Size": 0}]}])",
        R"([{"UpgradeFails": 1}])",
        R"([{"UpgradeStepMs": -1}])",
        R"([{"UpgradeStepMs": "10"}])",
        R"([{"DeviceTalk": "yes"}])",
        R"([{"TransferResults": {"Kind": 2, "Value": 1}}])",
        R"([{"TransferResults": [{"Kind": 2}]}])",
    };
    for (const char *pJson : cases) {
        std::vector<KorvexDevice> devices;
        std::string strError;
        EXPECT_FALSE(DeviceCatalog::Parse(pJson, devices, strError)) << pJson;
        EXPECT_FALSE(strError.empty()) << pJson;
    }
    std::vector<KorvexDevice> devices;
    std::string strError;
    ASSERT_TRUE(DeviceCatalog::Parse(kDevices, devices, strError)) << strError;
    const DeviceSettings &s = devices[0].settings;
    EXPECT_FALSE(s.bDeviceTalk);
    ASSERT_NE(s.TwoLens(1, 1), nullptr);
    EXPECT_FALSE(s.TwoLens(1, 1)->bHasMaxTimes);
    EXPECT_TRUE(s.TwoLensSupported(1));
    EXPECT_FALSE(s.TwoLensSupported(2));
    EXPECT_EQ(s.newVersions.size(), 2u);
    // Keys left out keep the built-in values.
    EXPECT_EQ(devices[1].settings.channelAbilities.count("ChannelSystemFunction@SupportIPCTalk"), 1u);
}
