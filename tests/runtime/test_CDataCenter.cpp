#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct LogLine
{
    QString strLevel;
    QString strMsg;
    bool operator==(const LogLine &other) const { return strLevel == other.strLevel && strMsg == other.strMsg; }
};

std::ostream &operator<<(std::ostream &os, const LogLine &line)
{
    return os << "[" << line.strLevel.toStdString() << "] " << line.strMsg.toStdString();
}

// Collects the log lines of one tag, as the writer thread would receive them.
class LogCapture
{
public:
    LogCapture() : m_spy(LightWeightLog::GetInstance(), &LightWeightLog::writeLogSig) {}

    std::vector<LogLine> Lines(const QString &strTag) const
    {
        static const QRegularExpression format("^ \\[(NORMAL|WARNING|ERROR)\\] \\[([^\\]]*)\\] \\[[^\\]]*\\] (.*)\\n$",
                                               QRegularExpression::DotMatchesEverythingOption);
        std::vector<LogLine> lines;
        for (const QList<QVariant> &args : m_spy) {
            const QRegularExpressionMatch match = format.match(args.at(0).toString());
            EXPECT_TRUE(match.hasMatch()) << args.at(0).toString().toStdString();
            if (match.hasMatch() && match.captured(2) == strTag)
                lines.push_back({match.captured(1), match.captured(3)});
        }
        return lines;
    }

    QString AllText() const
    {
        QString strAll;
        for (const QList<QVariant> &args : m_spy)
            strAll += args.at(0).toString();
        return strAll;
    }

private:
    QSignalSpy m_spy;
};

QByteArray Field(const char *pField, std::size_t nWidth) { return FixedText::Read(pField, nWidth); }

// What the data centre keeps for the device connection; an absent record is not handed on.
struct ExpectedAccount
{
    QByteArray uuid, appKey, appSecret;
    int nMoveCard;
};
struct ExpectedUserData
{
    QByteArray text;
    int nType, nLen;
};

struct SdkCase
{
    const char *pName;
    QString strJson;
    int nOemMode;
    std::vector<LogLine> lines;
    bool bAccount;
    ExpectedAccount account;
    bool bUserData;
    ExpectedUserData userData;
};

LogLine N(const QString &strMsg) { return {"NORMAL", strMsg}; }
LogLine E(const QString &strMsg) { return {"ERROR", strMsg}; }

} // namespace

TEST(CDataCenter, InitSDKInfoTable)
{
    const QByteArray longUuid = QByteArray(62, 'u') + "\xc3\xa9" + "tail"; // é spans bytes 62-63
    const QByteArray longUserData(100, 'd');
    const std::vector<SdkCase> cases = {
        {"oem only", R"({"MainType": 35, "SubMsg": 0, "OemID": "O61"})", 2,
         {N("InitSDKInfo begin"), N("OemID=2"), N("InitSDKInfo end")}, false, {}, false, {}},
        {"other main type", R"({"MainType": 34, "SubMsg": 0, "OemID": "O60", "UserData": "x"})", 0,
         {N("InitSDKInfo begin")}, false, {}, false, {}},
        {"no main type", R"({"OemID": "O60"})", 0, {N("InitSDKInfo begin")}, false, {}, false, {}},
        {"lower-case oem id", R"({"MainType": 35, "OemID": "o60"})", 0,
         {N("InitSDKInfo begin"), N("OemID=0"), N("InitSDKInfo end")}, false, {}, false, {}},
        {"secret empty, user data given",
         R"({"MainType": 35, "SubMsg": 0, "Uuid": "u-4", "AppKey": "k-4", "AppSecret": "", "UserData": "ud4", "type": 3, "len": 3})",
         0,
         {N("InitSDKInfo begin"), N("SetSDKInfo bUse:ud4"), N("SetSDKInfo bUse:1 bAccountInfo:0"), N("InitSDKInfo end")},
         false, {}, true, {"ud4", 3, 3}},
        {"account and user data",
         R"({"MainType": 35, "SubMsg": 0, "OemID": "O60", "Uuid": "u-5", "AppKey": "k-5", "AppSecret": "s-5",
             "MoveCard": 7, "UserData": "ud5", "type": 2, "len": 5})",
         1,
         {N("InitSDKInfo begin"), N("OemID=1"), N("SetSDKInfo bUse:ud5"), N("SetSDKInfo bUse:1 bAccountInfo:1"),
          N("InitSDKInfo end")},
         true, {"u-5", "k-5", "s-5", 7}, true, {"ud5", 2, 5}},
        {"account only, no move card",
         R"({"MainType": 35, "Uuid": "u-6", "AppKey": "k-6", "AppSecret": "s-6", "UserData": null})", 0,
         {N("InitSDKInfo begin"), N("SetSDKInfo bUse:0 bAccountInfo:1"), N("InitSDKInfo end")},
         true, {"u-6", "k-6", "s-6", 0}, false, {}},
        {"sub message not 0 takes only the oem id",
         R"({"MainType": 35, "SubMsg": 1, "OemID": "O60", "Uuid": "u-7", "AppKey": "k-7", "AppSecret": "s-7", "UserData": "ud7"})",
         1, {N("InitSDKInfo begin"), N("OemID=1"), N("InitSDKInfo end")}, false, {}, false, {}},
        {"not json", "{\"MainType\": 35, oops", 0, {N("InitSDKInfo begin"), N("InitSDKInfo end")}, false, {}, false, {}},
        {"main type of the wrong type", R"({"MainType": "35", "OemID": "O60"})", 0,
         {N("InitSDKInfo begin"), E("something error happened"), N("InitSDKInfo end")}, false, {}, false, {}},
        {"not an object", "[35, 0]", 0, {N("InitSDKInfo begin"), E("something error happened"), N("InitSDKInfo end")},
         false, {}, false, {}},
        {"exception keeps what was set before it",
         R"({"MainType": 35, "OemID": "O60", "Uuid": {"a": 1}, "AppKey": "k", "AppSecret": "s", "UserData": "ud9"})", 1,
         {N("InitSDKInfo begin"), N("OemID=1"), E("something error happened"), N("InitSDKInfo end")},
         false, {}, false, {}},
        {"null oem id, null uuid",
         R"({"MainType": 35, "OemID": null, "Uuid": null, "AppKey": "k", "AppSecret": "s", "UserData": "ud10", "len": -5})",
         0, {N("InitSDKInfo begin"), N("SetSDKInfo bUse:ud10"), N("SetSDKInfo bUse:1 bAccountInfo:0"), N("InitSDKInfo end")},
         false, {}, true, {"ud10", 0, 0}},
        {"long texts are cut at a character boundary, the length to the field",
         QString(R"({"MainType": 35, "Uuid": "%1", "AppKey": "k-11", "AppSecret": "s-11", "UserData": "%2", "len": 100})")
             .arg(QString::fromUtf8(longUuid), QString::fromLatin1(longUserData)),
         0,
         {N("InitSDKInfo begin"), N("SetSDKInfo bUse:" + QString(63, 'd')), N("SetSDKInfo bUse:1 bAccountInfo:1"),
          N("InitSDKInfo end")},
         true, {QByteArray(62, 'u'), "k-11", "s-11", 0}, true, {QByteArray(63, 'd'), 0, 64}},
    };

    for (const SdkCase &c : cases) {
        SCOPED_TRACE(c.pName);
        g_nOemMode = 0;
        CDataCenter dataCenter("/nonexistent-app-dir");
        LogCapture log;

        dataCenter.InitSDKInfo(c.strJson);

        EXPECT_EQ(g_nOemMode, c.nOemMode);
        EXPECT_EQ(log.Lines("CDataCenter::InitSDKInfo"), c.lines);
        EXPECT_FALSE(log.AllText().contains("s-")) << "an application secret reached the log";
        EXPECT_FALSE(log.AllText().contains("k-")) << "an application key reached the log";

        const SdkInfo &sdk = dataCenter.m_stSdkInfo;
        EXPECT_EQ(sdk.bHandOn, c.bAccount || c.bUserData);
        EXPECT_EQ(sdk.bAccount, c.bAccount);
        const ZDK_AppAccountInfo &account = sdk.Account;
        if (c.bAccount) {
            EXPECT_EQ(Field(account.Uuid, sizeof account.Uuid), c.account.uuid);
            EXPECT_EQ(Field(account.AppKey, sizeof account.AppKey), c.account.appKey);
            EXPECT_EQ(Field(account.AppSecret, sizeof account.AppSecret), c.account.appSecret);
            EXPECT_EQ(account.MoveCard, c.account.nMoveCard);
        }
        const UserDataInfo &userData = sdk.UserData;
        if (c.bUserData) {
            EXPECT_EQ(userData.bUse, 1);
            EXPECT_EQ(Field(userData.UserData, sizeof userData.UserData), c.userData.text);
            EXPECT_EQ(userData.type, c.userData.nType);
            EXPECT_EQ(userData.len, c.userData.nLen);
        } else {
            EXPECT_EQ(userData.bUse, 0) << "user data that was not given is not handed on";
        }
    }
}

TEST(CDataCenter, GetOemModeIsExact)
{
    struct Case { const char *pOemId; int nMode; };
    const Case cases[] = {{"O60", 1}, {"O61", 2}, {"o60", 0}, {"O60 ", 0}, {"O6", 0}, {"O610", 0}, {"", 0}, {"O18", 0}};
    for (const Case &c : cases)
        EXPECT_EQ(CDataCenter::GetOemMode(c.pOemId), c.nMode) << c.pOemId;
}

TEST(CDataCenter, ChannelCodecTableIsCopiedWhole)
{
    CDataCenter dataCenter("/nonexistent-app-dir");
    ChannelCodecTable table;
    std::memset(table, 0x55, sizeof table);
    dataCenter.GetChannelCodec(table);
    for (const auto &row : table)
        for (int nCodec : row)
            ASSERT_EQ(nCodec, 0) << "the table starts all 0";

    for (int nStream = 0; nStream < kCodecStreamCount; ++nStream)
        for (int nChannel = 0; nChannel < kCodecChannelCount; ++nChannel)
            table[nStream][nChannel] = (nStream * 7 + nChannel) % 2;
    dataCenter.SetChannelCodec(table);
    table[1][63] = 5; // the stored table is a copy

    ChannelCodecTable readBack = {};
    dataCenter.GetChannelCodec(readBack);
    EXPECT_EQ(readBack[0][1], 1);
    EXPECT_EQ(readBack[1][0], 1);
    EXPECT_EQ(readBack[1][63], 0);
    EXPECT_EQ(readBack[0][63], 1);
}

TEST(CDataCenter, ApplicationDirectoryIsInjected)
{
    CDataCenter *pDataCenter = CDataCenter::CreateInstance("/tmp/quorrin-app-dir");
    EXPECT_EQ(CDataCenter::GetInstance(), pDataCenter);
    EXPECT_EQ(pDataCenter->m_strAppDir, QString("/tmp/quorrin-app-dir"));
    EXPECT_EQ(pDataCenter->m_nSessionId, 0);
    CDataCenter::ReleaseInstance();
}
