// CQZConnect's ability reads, encoder formats, two-lens zoom and version check against the simulated device:
// the exact commands and texts sent (read back from the library's journal), the result codes, and answers of
// the wrong shape, which give the failure result instead of an exception.

#include "device/CQZConnect.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/LogCapture.h"

#include <QString>

#include <cstring>
#include <functional>
#include <vector>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
   "Main": {"Codec": "H.264"}, "Sub": {"Codec": "H.265"},
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true]},
   "EncodeFormats": [{}, {"MainFormat": "H.265", "ExtraFormat": "H.264"}, {"MainFormat": "H.264", "ExtraFormat": "H.264"}],
   "TwoLens": [{"Channel": 0, "Stream": 0, "Times": 1.5, "MaxTimes": 6.0}, {"Channel": 0, "Stream": 1, "Times": 2.0},
               {"Channel": 1, "Stream": 0, "Times": -1.0}, {"Channel": 1, "Stream": 1}],
   "NewVersions": [{"Name": "X_V2_V1.0.3.1", "Date": "2024-6-1"}, {"Name": "X_V1.0.2.0", "Date": "2024-1-15"}]},
  {"IP": "10.0.0.70", "Port": 34567, "Channels": 70, "Main": {"Codec": "H.264"}, "Sub": {"Codec": "H.264"}},
  {"IP": "10.0.0.3", "Port": 34567, "Channels": 1, "NewVersions": [], "TwoLens": []}
])";

const char kTalkAnswer[] =
    R"({"ChannelSystemFunction@SupportIPCTalk":[false,true,false,false],"Name":"ChannelSystemFunction@SupportIPCTalk","Ret":100})";

// The text after " key=" in a journal line (to the end of the line for "in", else to the next blank).
std::string Arg(const std::string &strLine, const std::string &strKey)
{
    const size_t nAt = strLine.find(" " + strKey + "=");
    if (nAt == std::string::npos)
        return "(none)";
    const size_t nBegin = nAt + strKey.size() + 2;
    if (strKey == "in")
        return strLine.substr(nBegin);
    return strLine.substr(nBegin, strLine.find(' ', nBegin) - nBegin);
}

// The zoom switches sent, as "channel input".
std::vector<std::string> Switches()
{
    std::vector<std::string> out;
    for (const std::string &strLine : KorvexControl::JournalOf("ZDK_DEV_CmdGeneral_Json"))
        if (Arg(strLine, "name") == "OPScaleTimesSwitch")
            out.push_back(Arg(strLine, "channel") + " " + Arg(strLine, "in"));
    return out;
}

} // namespace

class CQZConnectConfig : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        Restart();
    }
    // The devices as their entries describe them, and a login to the first.
    void Restart()
    {
        UseDevices(kDevices);
        m_lLogin = LoginBuiltIn();
        KorvexControl::ClearJournal();
    }
    int32_t m_lLogin = 0;
};

TEST_F(CQZConnectConfig, ChannelAbility)
{
    LogCapture log;
    CQZConnect conn;
    std::vector<char> buffer(102400, '\0');
    EXPECT_EQ(conn.GetChannelAbility(m_lLogin, "ChannelSystemFunction@SupportIPCTalk", buffer.data(), 102400), 100);
    EXPECT_STREQ(buffer.data(), kTalkAnswer);
    ASSERT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetChannelAbility_Json").size(), 1u);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetChannelAbility_Json")[0],
              "ZDK_DEV_GetChannelAbility_Json login=" + std::to_string(m_lLogin) +
                  " name=ChannelSystemFunction@SupportIPCTalk channel=-1 size=102399 wait=20000");

    // The text ends where the device's answer ends, whatever the buffer held and the library left after it.
    const size_t nAnswer = std::strlen(kTalkAnswer);
    KorvexControl::SetReplyTail("}garbage");
    for (size_t nSize : {size_t(4096), nAnswer + 1}) {
        std::vector<char> dirty(nSize, 'x');
        EXPECT_EQ(conn.GetChannelAbility(m_lLogin, "ChannelSystemFunction@SupportIPCTalk", dirty.data(),
                                         static_cast<int>(nSize)),
                  100)
            << nSize;
        EXPECT_EQ(std::string(dirty.data()), kTalkAnswer) << nSize;
    }
    // A buffer without room for the zero is too small.
    std::vector<char> tight(nAnswer, 'x');
    EXPECT_EQ(conn.GetChannelAbility(m_lLogin, "ChannelSystemFunction@SupportIPCTalk", tight.data(),
                                     static_cast<int>(nAnswer)),
              1016);

    struct Case
    {
        const char *pName;
        int32_t nForced;    // failure of the next library call, 0 for none
        int lLogin;
        int nRet;
    };
    const Case cases[] = {
        {"ChannelSystemFunction@SupportNothing", 0, m_lLogin, 1016},
        {"ChannelSystemFunction@SupportIPCTalk", -11401, m_lLogin, 1013},
        {"ChannelSystemFunction@SupportIPCTalk", -10005, m_lLogin, 1006},
        {"ChannelSystemFunction@SupportIPCTalk", -11301, m_lLogin, 106},
        {"ChannelSystemFunction@SupportIPCTalk", -11307, m_lLogin, 999},
        {"ChannelSystemFunction@SupportIPCTalk", 0, 999, 1016},
    };
    for (const Case &c : cases) {
        if (c.nForced)
            KorvexControl::FailNextCall("ZDK_DEV_GetChannelAbility_Json", c.nForced);
        EXPECT_EQ(conn.GetChannelAbility(c.lLogin, c.pName, buffer.data(), 102400), c.nRet) << c.pName << c.nForced;
    }
    EXPECT_TRUE(log.Contains("[CQZConnect::GetChannelAbility]"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_GetChannelAbility_Json Name:ChannelSystemFunction@SupportIPCTalk Ret:-11401"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_GetChannelAbility_Json Name:ChannelSystemFunction@SupportNothing Ret:-10004"));
}

TEST_F(CQZConnectConfig, EncodeFormat)
{
    CQZConnect conn;
    // A guard after the table shows that nothing is written past its 64 channels.
    struct
    {
        int flags[2][64];
        int guard[8];
    } table;
    auto clear = [&table] { std::memset(&table, 0, sizeof table); };
    auto marked = [&table](int nStream) {
        std::string s;
        for (int i = 0; i < 64; ++i)
            s += static_cast<char>('0' + table.flags[nStream][i]);
        return s;
    };

    clear();
    EXPECT_EQ(conn.GetEncodeFormat(m_lLogin, table.flags), 100);
    EXPECT_EQ(marked(0), "1011" + std::string(60, '0'));
    EXPECT_EQ(marked(1), "0110" + std::string(60, '0'));
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetDevConfig_Json")[0],
              "ZDK_DEV_GetDevConfig_Json login=" + std::to_string(m_lLogin) +
                  " name=AVEnc.A3Encode cmd=1042 channel=-1 size=307200 wait=20000");

    // A device of 70 channels: the first 64 only.
    clear();
    EXPECT_EQ(conn.GetEncodeFormat(LoginAt("10.0.0.70", 34567), table.flags), 100);
    EXPECT_EQ(marked(0), std::string(64, '1'));
    EXPECT_EQ(marked(1), std::string(64, '1'));
    for (int g : table.guard)
        EXPECT_EQ(g, 0);

    // Answers of the wrong shape mark what can be read, and nothing throws.
    struct Case
    {
        const char *pAnswer;
        std::string strMain, strExtra;
    };
    const std::string strNone(64, '0');
    const Case cases[] = {
        {"not JSON", strNone, strNone},
        {R"([{"MainFormat": "H.264"}])", strNone, strNone},
        {R"({"Name": 5, "5": [{"MainFormat": "H.264"}]})", strNone, strNone},
        {R"({"Name": "A", "A": {"MainFormat": "H.264"}})", strNone, strNone},
        {R"({"Name": "A", "A": [{"MainFormat": 264}, "H.264", [1], {"MainFormat": "H.264", "ExtraFormat": ["H.264"]}, null, {"ExtraFormat": "H.264"}]})",
         "0001" + std::string(60, '0'), "000001" + std::string(58, '0')},
    };
    for (const Case &c : cases) {
        clear();
        KorvexControl::ReplyNext("AVEnc.A3Encode", c.pAnswer);
        EXPECT_EQ(conn.GetEncodeFormat(m_lLogin, table.flags), 100) << c.pAnswer;
        EXPECT_EQ(marked(0), c.strMain) << c.pAnswer;
        EXPECT_EQ(marked(1), c.strExtra) << c.pAnswer;
    }
    // A failed read marks nothing and still answers 100.
    clear();
    KorvexControl::FailNextCall("ZDK_DEV_GetDevConfig_Json", -11401);
    EXPECT_EQ(conn.GetEncodeFormat(m_lLogin, table.flags), 100);
    EXPECT_EQ(marked(0), strNone);
}

TEST_F(CQZConnectConfig, ScaleTwoLensAbility)
{
    LogCapture log;
    CQZConnect conn;
    EXPECT_TRUE(conn.GetScaleTwoLensAbility(m_lLogin, 3, true));
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetAbility")[0],
              "ZDK_DEV_GetAbility login=" + std::to_string(m_lLogin) +
                  " path=SystemFunction/OtherFunction/SupportScaleTwoLens 0");
    EXPECT_FALSE(conn.GetScaleTwoLensAbility(LoginAt("10.0.0.3", 34567), 0, true)) << "no two lenses there";

    EXPECT_TRUE(conn.GetScaleTwoLensAbility(m_lLogin, 1, false));
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetDevConfig_Json")[0],
              "ZDK_DEV_GetDevConfig_Json login=" + std::to_string(m_lLogin) +
                  " name=bypass@SystemFunction cmd=1362 channel=1 size=307200 wait=20000");
    EXPECT_TRUE(log.Contains("GetScaleTwoLensAbility----->ret:1"));
    EXPECT_FALSE(conn.GetScaleTwoLensAbility(m_lLogin, 2, false));
    EXPECT_FALSE(conn.GetScaleTwoLensAbility(m_lLogin, 9, false));
    EXPECT_TRUE(log.Contains("GetScaleTwoLensAbility----->ret:-10009"));

    struct Case
    {
        const char *pAnswer;
        bool bAbility;
    };
    const Case cases[] = {
        {R"({"Name": "S", "S": {"OtherFunction": {"SupportScaleTwoLens": true}}})", true},
        {R"({"Name": "S", "S": {"OtherFunction": {"SupportScaleTwoLens": 1}}})", true},
        {R"({"Name": "S", "S": {"OtherFunction": {"SupportScaleTwoLens": "true"}}})", false},
        {R"({"Name": "S", "S": {"OtherFunction": [true]}})", false},
        {R"({"Name": "S", "S": [{"OtherFunction": {"SupportScaleTwoLens": true}}]})", false},
        {R"({"Name": ["S"], "S": {"OtherFunction": {"SupportScaleTwoLens": true}}})", false},
        {R"([{"OtherFunction": {"SupportScaleTwoLens": true}}])", false},
        {R"({"Name": "S", "S": {"OtherFunction": {"SupportScaleTwoLens": true}})", false},
    };
    KorvexControl::SetReplyTail("}}}");
    for (const Case &c : cases) {
        KorvexControl::ReplyNext("bypass@SystemFunction", c.pAnswer);
        EXPECT_EQ(conn.GetScaleTwoLensAbility(m_lLogin, 1, false), c.bAbility) << c.pAnswer;
    }
}

TEST_F(CQZConnectConfig, ScaleTwoLensConfigSequences)
{
    struct Case
    {
        const char *pWhat;
        int nChannel, nStream;
        bool bAllChannels;
        int nResult;
        std::string strSensorChannel;
        float fTimes, fMaxTimes;
        std::vector<std::string> switches;
    };
    const Case cases[] = {
        {"main stream: the sub stream is reset first", 0, 0, false, 1, "0", 1.5f, 6.0f,
         {R"(0 [{"StreamType": 1,"TimesOri": 0.0,"Times": 0.0}])", R"(0 [{"StreamType": 0,"TimesOri": 1.5,"Times": 1.5}])"}},
        {"sub stream alone, no maximum given", 0, 1, false, 1, "0", 2.0f, 8.0f,
         {R"(0 [{"StreamType": 1,"TimesOri": 2.0,"Times": 2.0}])"}},
        {"a negative zoom is none", 1, 0, false, 1, "1", 0.0f, 8.0f,
         {R"(1 [{"StreamType": 1,"TimesOri": 0.0,"Times": 0.0}])", R"(1 [{"StreamType": 0,"TimesOri": 0.0,"Times": 0.0}])"}},
        {"the device itself", 0, 0, true, 1, "-1", 1.5f, 6.0f,
         {R"(0 [{"StreamType": 1,"TimesOri": 0.0,"Times": 0.0}])", R"(0 [{"StreamType": 0,"TimesOri": 1.5,"Times": 1.5}])"}},
        {"a channel without two lenses", 2, 0, false, -1, "2", -7.0f, -7.0f, {}},
        {"no such channel", 9, 1, false, -1, "9", -7.0f, -7.0f, {}},
    };
    LogCapture log;
    for (const Case &c : cases) {
        Restart();
        // Bytes after the answer would spoil a read past its length.
        KorvexControl::SetReplyTail("}}garbage");
        CQZConnect conn;
        float fTimes = -7.0f, fMaxTimes = -7.0f;
        EXPECT_EQ(conn.GetScaleTwoLensConfig(m_lLogin, c.nChannel, c.nStream, fTimes, c.bAllChannels, fMaxTimes),
                  c.nResult)
            << c.pWhat;
        EXPECT_FLOAT_EQ(fTimes, c.fTimes) << c.pWhat;
        EXPECT_FLOAT_EQ(fMaxTimes, c.fMaxTimes) << c.pWhat;
        const std::string strSensor = KorvexControl::JournalOf("ZDK_DEV_CmdGeneral_Json").at(0);
        EXPECT_EQ(Arg(strSensor, "name"), "OPSensorGet");
        EXPECT_EQ(Arg(strSensor, "cmd"), "3034");
        EXPECT_EQ(Arg(strSensor, "size"), "65536");
        EXPECT_EQ(Arg(strSensor, "wait"), "20000");
        EXPECT_EQ(Arg(strSensor, "channel"), c.strSensorChannel) << c.pWhat;
        EXPECT_EQ(Arg(strSensor, "in"), "[{\"StreamType\": " + std::to_string(c.nStream) + "}]");
        EXPECT_EQ(Switches(), c.switches) << c.pWhat;
    }
    EXPECT_TRUE(log.Contains("[CQZConnect::GetScaleTwoLensConfig]"));
    EXPECT_TRUE(log.Contains(R"(OPSensorGet {"Name":"bypass@OPSensorGet","Ret":100,"bypass@OPSensorGet":[{"MaxTimes":6.0)"));
}

TEST_F(CQZConnectConfig, ScaleTwoLensConfigAnswers)
{
    struct Case
    {
        const char *pAnswer;
        bool bAllChannels;
        int nResult;
        float fTimes;
    };
    const Case cases[] = {
        {R"({"Name": "N", "N": [{"Times": 3.0, "TimesOri": 1.0, "MaxTimes": 5}], "Ret": 100})", false, 1, 3.0f},
        {R"({"Name": "N", "N": [{"Times": 3}], "Ret": 100})", false, 1, 3.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0}], "OPSensorGet": [{"Times": 4.0}], "Ret": 100})", true, 1, 4.0f},
        {"no JSON", false, 0, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0}], "Ret": 101})", false, 0, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0}], "Ret": "100"})", false, 0, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0}]})", false, 0, -7.0f},
        {R"([{"Times": 3.0}])", false, 0, -7.0f},
        {R"({"Name": "N", "N": [{"Times": "3.0"}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0, "MaxTimes": "8"}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0, "TimesOri": [1]}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [{"TimesOri": 1.0}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": {"Times": 3.0}, "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [3.0], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": 1, "N": [{"Times": 3.0}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "M", "N": [{"Times": 3.0}], "Ret": 100})", false, -1, -7.0f},
        {R"({"Name": "N", "N": [{"Times": 3.0}], "Ret": 100})", true, -1, -7.0f},
        // Cut short: the byte the library leaves after it would complete it.
        {R"({"Name": "N", "N": [{"Times": 3.0}], "Ret": 100)", false, 0, -7.0f},
    };
    KorvexControl::SetReplyTail("}");
    CQZConnect conn;
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        KorvexControl::ReplyNext("OPSensorGet", c.pAnswer);
        float fTimes = -7.0f, fMaxTimes = -7.0f;
        EXPECT_EQ(conn.GetScaleTwoLensConfig(m_lLogin, 0, 1, fTimes, c.bAllChannels, fMaxTimes), c.nResult) << c.pAnswer;
        EXPECT_FLOAT_EQ(fTimes, c.fTimes) << c.pAnswer;
        // Only a usable answer is applied to the device.
        EXPECT_EQ(Switches().size(), c.nResult == 1 ? 1u : 0u) << c.pAnswer;
    }
    float fTimes = 0.0f, fMaxTimes = 0.0f;
    KorvexControl::ReplyNext("OPSensorGet", R"({"Name": "N", "N": [{"Times": 3.0, "MaxTimes": 5}], "Ret": 100})");
    conn.GetScaleTwoLensConfig(m_lLogin, 0, 1, fTimes, false, fMaxTimes);
    EXPECT_FLOAT_EQ(fMaxTimes, 5.0f);
    KorvexControl::FailNextCall("ZDK_DEV_CmdGeneral_Json", -11401);
    EXPECT_EQ(conn.GetScaleTwoLensConfig(m_lLogin, 0, 1, fTimes, false, fMaxTimes), -1);
}

TEST_F(CQZConnectConfig, SetScaleTwoLensConfig)
{
    LogCapture log;
    CQZConnect conn;
    struct Case
    {
        int nChannel, nStream;
        float fOri, fTimes;
        int nResult;
        std::string strSent;
    };
    const Case cases[] = {
        {0, 0, 1.5f, 2.5f, 1, R"(0 [{"StreamType": 0,"TimesOri": 1.5,"Times": 2.5}])"},
        {-1, 1, 0.0f, 0.3f, 1, R"(-1 [{"StreamType": 1,"TimesOri": 0.0,"Times": 0.3}])"},
        {1, 0, 0.0f, 7.0f, 1, R"(1 [{"StreamType": 0,"TimesOri": 0.0,"Times": 7.0}])"},
        {0, 0, 2.5f, 6.5f, -1, R"(0 [{"StreamType": 0,"TimesOri": 2.5,"Times": 6.5}])"},   // above the maximum
        {2, 0, 1.5f, 2.5f, -1, R"(2 [{"StreamType": 0,"TimesOri": 1.5,"Times": 2.5}])"},   // no two lenses
    };
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        EXPECT_EQ(conn.SetScaleTwoLensConfig(m_lLogin, c.nChannel, c.nStream, c.fOri, c.fTimes), c.nResult) << c.strSent;
        EXPECT_EQ(Switches(), std::vector<std::string>{c.strSent});
        const std::string strLine = KorvexControl::JournalOf("ZDK_DEV_CmdGeneral_Json")[0];
        EXPECT_EQ(Arg(strLine, "cmd"), "3032");
        EXPECT_EQ(Arg(strLine, "size"), "65536");
    }
    EXPECT_TRUE(log.Contains("[CQZConnect::SetScaleTwoLensConfig]"));
    EXPECT_TRUE(log.Contains("SetScaleTwoLensConfig failed,nStreamType:0,fOrignalTimes:2.5,fCurTimes:6.5"));
    KorvexControl::FailNextCall("ZDK_DEV_CmdGeneral_Json", -11401);
    EXPECT_EQ(conn.SetScaleTwoLensConfig(m_lLogin, 0, 0, 0.0f, 1.0f), -1);
    // What was set is what the device reports.
    float fTimes = 0.0f, fMaxTimes = 0.0f;
    EXPECT_EQ(conn.GetScaleTwoLensConfig(m_lLogin, 1, 0, fTimes, false, fMaxTimes), 1);
    EXPECT_FLOAT_EQ(fTimes, 7.0f);
}

TEST_F(CQZConnectConfig, NewVersionDateComparison)
{
    struct Case
    {
        const char *pWhat;
        std::function<int()> login;
        const char *pCurrent;
        int32_t nForced;
        bool bSucceeds;
        QString strName;
    };
    const int32_t l = m_lLogin;
    const Case cases[] = {
        {"an older date", [l] { return l; }, "2024-1-15", 0, true, "X_V2_V1.0.3.1"},
        {"the same date", [l] { return l; }, "2024-6-1", 0, true, "kept"},
        {"the same day written otherwise", [l] { return l; }, "2024-06-01", 0, true, "X_V2_V1.0.3.1"},
        {"no new version", [this] { return LoginAt("10.0.0.3", 34567); }, "2024-1-15", 0, true, "kept"},
        {"the read fails", [l] { return l; }, "2024-1-15", -11401, false, "kept"},
        {"no such login", [] { return 999; }, "2024-1-15", 0, false, "kept"},
    };
    CQZConnect conn;
    for (const Case &c : cases) {
        const int lLogin = c.login();
        KorvexControl::ClearJournal();
        if (c.nForced)
            KorvexControl::FailNextCall("ZDK_DEV_GetDevConfig", c.nForced);
        QString strName = "kept";
        const int nResult = conn.GetNewVersionInfo(lLogin, c.pCurrent, strName);
        EXPECT_EQ(nResult > 0, c.bSucceeds) << c.pWhat << " " << nResult;
        if (c.nForced) {
            EXPECT_EQ(nResult, c.nForced);
        }
        EXPECT_EQ(strName, c.strName) << c.pWhat;
        EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetDevConfig").at(0),
                  "ZDK_DEV_GetDevConfig login=" + std::to_string(lLogin) + " cmd=192 channel=-1 size=2884 wait=20000");
    }
}
