// The preview and view requests' arithmetic and tables, and the failures of the libraries that the host link
// cannot bring about: a colour page that does not start, a device that refuses the snapshot stream's option.

#include "requests/CPluginManage.h"
#include "runtime/JsonText.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/ManageHarness.h"
#include "windows/SmartRuleInfo.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cstring>
#include <utility>
#include <vector>

namespace {

const QString kLogin = R"({"MainType":8,"MsgID":"l","Title":"Web Viewer","Browse":2,)"
                       R"("Device":{"LoginType":0,"IP":"127.0.0.1","Port":34567,"User":"admin","Password":""}})";

Json::Value Parse(const char *pText)
{
    Json::Value value;
    JsonText::Parse(pText, value);
    return value;
}

// A harness logged in to the built-in device; the replies after the login's.
class LoggedIn
{
public:
    LoggedIn()
    {
        m_harness.Send(kLogin);
        m_bLoggedIn = m_harness.WaitForMessages(1) && m_harness.Messages()[0].contains("\"Ret\":100");
    }
    ~LoggedIn()
    {
        m_harness.Send(R"({"MainType":9})");
        m_harness.Sync();
    }
    bool IsLoggedIn() const { return m_bLoggedIn; }
    // Sends the request and returns the last reply once it has been handled (the load events aside).
    QString Last(const QString &strRequest)
    {
        m_harness.Send(strRequest);
        m_harness.Sync();
        const QStringList messages = m_harness.Messages();
        for (auto it = messages.rbegin(); it != messages.rend(); ++it)
            if (it->contains("\"MsgID\":"))
                return *it;
        return QString();
    }

private:
    ManageHarness m_harness;
    bool m_bLoggedIn = false;
};

} // namespace

TEST(PreviewBudget, ChannelsTheMemoryAllows)
{
    const struct
    {
        int nAvail, nApp, nStream, nSupport;
    } cases[] = {
        {600, 200, 0, 10},      // (600 - 200) / 40
        {600, 200, 1, 16},      // (600 - 200) / 25
        {600, 200, 2, 16},      // any stream but the main one counts as a sub stream
        {1000, 990, 0, 0},
        {4096, 200, 0, 20},     // at most 1024 MiB count
        {4096, 200, 1, 32},
        {100, 200, 0, -2},      // none
        {0, 0, 1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CPluginManage::PreviewSupportNum(c.nAvail, c.nApp, c.nStream), c.nSupport)
            << c.nAvail << " " << c.nApp << " " << c.nStream;
}

TEST(SmartRuleBlock, CountsAreHeldToWhatTheBlockHolds)
{
    // Six regions of ten points each, and counts beyond the block.
    Json::Value request = Parse(R"({"Channel": 259, "AreaNum": 6, "LineNum": 9, "ShowRule": 1})");
    for (int i = 0; i < 6; ++i) {
        Json::Value rule = Parse(R"({"Enable": 1, "RuleType": 1, "RuleLine": {"AlarmDirect": 1,
            "Pts": {"StartX": 1, "StartY": 2, "StopX": 3, "StopY": 4}}, "RuleRegion": {"AlarmDirect": 2, "PtsNum": 10}})");
        rule["RuleLine"]["Pts"]["StartX"] = 100 + i;
        for (int j = 0; j < 10; ++j) {
            Json::Value point;
            point["X"] = 10 * i + j;
            point["Y"] = 1000 + j;
            rule["RuleRegion"]["Pts"].append(point);
        }
        request["PedRule"].append(rule);
    }
    SmartRuleInfo info;
    std::memset(&info, 0xAB, sizeof info);
    CPluginManage::FillSmartRule(request, info);
    EXPECT_EQ(info.Channel, 3);
    EXPECT_EQ(info.AreaNum, SMART_RULE_MAX);
    EXPECT_EQ(info.LineNum, SMART_RULE_MAX);
    EXPECT_EQ(info.ShowRule, 1);
    for (int i = 0; i < SMART_RULE_MAX; ++i) {
        const SmartRule &rule = info.PedRule[i];
        EXPECT_EQ(rule.Enable, 1);
        EXPECT_EQ(rule.RuleType, 1);
        EXPECT_EQ(rule.LineAlarmDirect, 1);
        EXPECT_EQ(rule.RegionAlarmDirect, 2);
        EXPECT_EQ(rule.StartX, 100 + i);
        EXPECT_EQ(rule.StopY, 4);
        EXPECT_EQ(rule.PtsNum, SMART_RULE_MAX_POINTS);
        for (int j = 0; j < SMART_RULE_MAX_POINTS; ++j) {
            EXPECT_EQ(rule.Pts[j].X, 10 * i + j);
            EXPECT_EQ(rule.Pts[j].Y, 1000 + j);
        }
    }

    // Fewer points than the count, negative counts, no rules: nothing but zeros beyond what was given.
    request = Parse(R"({"Channel": 0, "AreaNum": -3, "LineNum": 2, "PedRule": [
        {"RuleRegion": {"PtsNum": -1, "Pts": [{"X": 5, "Y": 6}]}}]})");
    CPluginManage::FillSmartRule(request, info);
    EXPECT_EQ(info.AreaNum, 0);
    EXPECT_EQ(info.LineNum, 2);
    EXPECT_EQ(info.PedRule[0].PtsNum, 0);
    EXPECT_EQ(info.PedRule[0].Pts[0].X, 5);
    EXPECT_EQ(info.PedRule[0].Pts[1].X, 0);
    EXPECT_EQ(info.PedRule[1].Enable, 0);
}

TEST(ConsultKey, KeysComeFromTheWholeAlphabetAndNeverRepeat)
{
    QSet<QString> keys;
    QSet<QChar> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString strKey = CPluginManage::MakeKeyText();
        ASSERT_EQ(strKey.size(), 16);
        for (QChar c : strKey) {
            ASSERT_TRUE(c.unicode() >= 33 && c.unicode() <= 126) << strKey.toStdString();
            seen.insert(c);
        }
        keys.insert(strKey);
    }
    EXPECT_EQ(keys.size(), 2000);
    // 32000 draws from 94 characters leave none out.
    EXPECT_EQ(seen.size(), 94);
}

TEST(ColorPreviewFailures, ASecondLoginWhoseColourPageDoesNotStartEndsAgain)
{
    LoggedIn session;
    ASSERT_TRUE(session.IsLoggedIn());
    ASSERT_EQ(KorvexControl::OpenLogins(), 1);

    PavlineControl::FailNextCall("KTN_VIEW_OpenStream", -1);
    EXPECT_EQ(session.Last(R"({"MainType":6,"SubType":0,"MsgID":"c","Channel":2,"Stream":1})").toStdString(),
              "{\"Msg\":6,\"MsgID\":\"c\",\"Ret\":121,\"SubMsg\":0}\n");
    EXPECT_EQ(KorvexControl::OpenLogins(), 1);
    EXPECT_EQ(KorvexControl::OpenStreams(), 0);

    // A second login the device refuses.
    KorvexControl::FailNextCall("ZDK_DEV_Login", ZDK_ERR_TOO_MANY_LOGINS);
    EXPECT_EQ(session.Last(R"({"MainType":6,"SubType":0,"MsgID":"c","Channel":2,"Stream":1})").toStdString(),
              "{\"Msg\":6,\"MsgID\":\"c\",\"Ret\":1017,\"SubMsg\":0}\n");
    EXPECT_EQ(KorvexControl::OpenLogins(), 1);

    // A colour preview that starts keeps its second login and its stream.
    EXPECT_EQ(session.Last(R"({"MainType":6,"SubType":0,"MsgID":"c","Channel":2,"Stream":1})").toStdString(),
              "{\"Msg\":6,\"MsgID\":\"c\",\"Ret\":100,\"SubMsg\":0}\n");
    EXPECT_EQ(KorvexControl::OpenLogins(), 2);
    EXPECT_EQ(KorvexControl::OpenStreams(), 1);
}

TEST(ConfigSnapshotFailures, EachRefusedStepAnswers1016AndLeavesNothingOpen)
{
    LoggedIn session;
    ASSERT_TRUE(session.IsLoggedIn());
    const struct
    {
        const char *pName;
        std::vector<std::pair<const char *, int32_t>> failures;
        size_t nStreamsStopped;
    } cases[] = {
        // The stream's own start sets the option once, the snapshot a second time.
        {"stream option", {{"ZDK_DEV_SetStreamOption", ZDK_ERR_FAILED}, {"ZDK_DEV_SetStreamOption", ZDK_ERR_FAILED}},
         1},
        {"stream", {{"ZDK_DEV_RealPlay", ZDK_ERR_NO_CHANNEL}}, 0},
    };
    for (const auto &c : cases) {
        for (const auto &failure : c.failures)
            KorvexControl::FailNextCall(failure.first, failure.second);
        KorvexControl::ClearJournal();
        PavlineControl::ClearJournal();
        EXPECT_EQ(session.Last(R"({"MainType":19,"SubType":2,"MsgID":"s"})").toStdString(),
                  "{\"Channel\":2,\"Msg\":19,\"MsgID\":\"s\",\"Ret\":1016}\n")
            << c.pName;
        EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_StopRealPlay").size(), c.nStreamsStopped) << c.pName;
        EXPECT_EQ(KorvexControl::OpenStreams(), 0) << c.pName;
        // The tile opened for the picture is closed again.
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_OpenStream").size(), 1u) << c.pName;
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_CloseStream").size(), 1u) << c.pName;
    }
}
