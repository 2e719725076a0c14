#include "requests/WebMessage.h"
#include "runtime/JsonText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
Json::Value Parse(const char *pText)
{
    Json::Value value;
    EXPECT_TRUE(JsonText::Parse(pText, value)) << pText;
    return value;
}
} // namespace

TEST(WebMessage, Envelopes)
{
    const Json::Value request = Parse(R"({"MainType":18,"SubType":51,"MsgID":{"b":1,"a":[2]},"Path":"x"})");
    EXPECT_EQ(WebMessage::Reply(request).SetRet(100).Text(),
              "{\"Msg\":18,\"MsgID\":{\"a\":[2],\"b\":1},\"Ret\":100,\"SubMsg\":51}\n");

    WebMessage constant = WebMessage::Reply(14, 0, Parse(R"({"MainType":14,"SubType":6,"MsgID":"m"})"));
    constant["alarmtype"]["Motion"] = true;
    EXPECT_EQ(constant.SetRet(1016).Text(),
              "{\"Msg\":14,\"MsgID\":\"m\",\"Ret\":1016,\"SubMsg\":0,\"alarmtype\":{\"Motion\":true}}\n");

    // Without "SubType" and "MsgID": 0 and null.
    EXPECT_EQ(WebMessage::Reply(Parse(R"({"MainType":4})")).Text(), "{\"Msg\":4,\"MsgID\":null,\"SubMsg\":0}\n");
    EXPECT_EQ(WebMessage::Unsupported(Parse(R"({"MainType":7,"SubType":"x"})")).Text(),
              "{\"Msg\":7,\"MsgID\":null,\"Ret\":1020,\"SubMsg\":\"x\"}\n");

    WebMessage event = WebMessage::Event(0, 5);
    event["Data"]["CPU"] = 3;
    EXPECT_EQ(event.Text(), "{\"Data\":{\"CPU\":3},\"MainEvent\":0,\"SubEvent\":5}\n");
    EXPECT_EQ(WebMessage::Event(-1, -1).SetRet(100).ToQString(), QString("{\"MainEvent\":-1,\"Ret\":100,\"SubEvent\":-1}\n"));
}

TEST(WebMessage, UnreadableEnvelopeThrows)
{
    for (const char *pRequest : {R"({"MainType":"18"})", R"({"MainType":18,"SubType":[1]})", "[18]"})
        EXPECT_THROW(WebMessage::Reply(Parse(pRequest)), std::exception) << pRequest;
}

namespace {

// Whether the text is the start of the original, ending at a character boundary.
bool IsWholeStart(const std::string &strShort, const std::string &strOriginal)
{
    if (strShort.size() > strOriginal.size() || strOriginal.compare(0, strShort.size(), strShort) != 0)
        return false;
    return strShort.size() == strOriginal.size() || (static_cast<unsigned char>(strOriginal[strShort.size()]) & 0xC0) != 0x80;
}

std::string Repeated(const std::string &strUnit, size_t nTimes)
{
    std::string str;
    for (size_t i = 0; i < nTimes; ++i)
        str += strUnit;
    return str;
}

} // namespace

TEST(WebMessage, FitShortensTheLongestTextsAtCharacterBoundaries)
{
    constexpr size_t kMax = 65535;
    const std::string kE = "\xc3\xa9";             // written as \u00e9, six bytes
    const std::string kSmile = "\xf0\x9f\x98\x80"; // written as two escapes, twelve bytes
    struct Case
    {
        const char *pName;
        Json::Value message;
        std::vector<std::string> shortened; // members expected shorter, the rest unchanged
    };
    auto event = [](const char *pKey, const std::string &strText) {
        Json::Value value(Json::objectValue);
        value["MainEvent"] = 0;
        value["SubEvent"] = 4;
        value[pKey] = strText;
        value["curVersion"] = "1.0.2.5";
        return value;
    };
    Json::Value twoTexts = event("OmbrixUpdateLog", Repeated(kE, 11000));
    twoTexts["newVersion"] = Repeated("9", 40000);
    Json::Value nested(Json::objectValue);
    nested["Msg"] = 18;
    nested["Data"]["List"][1] = Repeated(kSmile, 6000);
    nested["Data"]["List"][0] = "short";
    Json::Value ascii(Json::objectValue);
    ascii["Msg"] = 7;
    ascii["MsgID"] = std::string(65500, 'a');
    ascii["Ret"] = 1020;
    ascii["SubMsg"] = Json::Value();
    const Case cases[] = {
        {"six-byte escapes", event("OmbrixUpdateLog", Repeated(kE, 80000)), {"OmbrixUpdateLog"}},
        {"the longer of two", twoTexts, {"OmbrixUpdateLog"}},
        {"escape pairs in an array", nested, {"Data"}},
        {"a few bytes over", ascii, {"MsgID"}},
        {"control characters", event("Path", Repeated("\x01", 20000)), {"Path"}},
        {"fits already", event("Path", std::string(1000, 'p')), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        Json::Value value = c.message;
        WebMessage::FitReport report;
        ASSERT_TRUE(WebMessage::Fit(value, kMax, report));
        const std::string strText = JsonText::Write(value);
        EXPECT_LE(strText.size(), kMax);
        Json::Value parsed;
        ASSERT_TRUE(JsonText::Parse(strText, parsed));
        EXPECT_EQ(report.cuts.size(), c.shortened.size());
        EXPECT_TRUE(report.nulled.empty());
        for (const std::string &strName : c.message.getMemberNames()) {
            const bool bShortened = std::find(c.shortened.begin(), c.shortened.end(), strName) != c.shortened.end();
            if (!bShortened) {
                EXPECT_EQ(parsed[strName], c.message[strName]) << strName;
            } else if (c.message[strName].isString()) {
                EXPECT_TRUE(IsWholeStart(parsed[strName].asString(), c.message[strName].asString())) << strName;
                EXPECT_LT(parsed[strName].asString().size(), c.message[strName].asString().size()) << strName;
            }
        }
        if (!c.shortened.empty()) {
            // No more was taken than was needed: one character more would not fit.
            EXPECT_GT(strText.size() + 12, kMax);
        } else {
            EXPECT_EQ(value, c.message);
        }
    }
    // The pair of escapes of a character beyond the first plane is kept or dropped whole.
    Json::Value value = nested;
    WebMessage::FitReport report;
    ASSERT_TRUE(WebMessage::Fit(value, kMax, report));
    EXPECT_TRUE(IsWholeStart(value["Data"]["List"][1].asString(), nested["Data"]["List"][1].asString()));
    EXPECT_EQ(value["Data"]["List"][0].asString(), "short");
    ASSERT_EQ(report.cuts.size(), 1u);
    EXPECT_EQ(report.cuts[0].strWhere, "Data.List[1]");
    EXPECT_EQ(report.cuts[0].nBefore, 6000u * 12 + 2);
    EXPECT_LE(report.cuts[0].nAfter, report.cuts[0].nBefore);
}

TEST(WebMessage, FitEmptiesTextsInTurnAndThenNullsWhatHoldsNoText)
{
    // Many short texts: each longest goes in turn until the rest fits.
    Json::Value many(Json::objectValue);
    for (int i = 0; i < 10; ++i)
        many["k" + std::to_string(i)] = std::string(10000, static_cast<char>('a' + i));
    WebMessage::FitReport manyReport;
    ASSERT_TRUE(WebMessage::Fit(many, 65535, manyReport));
    EXPECT_LE(JsonText::Write(many).size(), 65535u);
    EXPECT_EQ(manyReport.cuts.size(), 4u);
    EXPECT_TRUE(manyReport.nulled.empty());

    // Numbers alone, as a "SubType" copied into an answer can be: the member is set to null.
    Json::Value numbers(Json::objectValue);
    numbers["Msg"] = 1;
    numbers["MsgID"] = "m";
    numbers["Ret"] = 1020;
    for (int i = 0; i < 20000; ++i)
        numbers["SubMsg"][i] = 1e9 + i;
    WebMessage::FitReport numberReport;
    ASSERT_TRUE(WebMessage::Fit(numbers, 65535, numberReport));
    EXPECT_TRUE(numbers["SubMsg"].isNull());
    EXPECT_EQ(numbers["MsgID"].asString(), "m");
    EXPECT_EQ(numbers["Ret"].asInt(), 1020);
    EXPECT_EQ(numberReport.nulled, std::vector<std::string>{"SubMsg"});

    // What is not an object cannot be made to fit once its texts are gone.
    Json::Value array(Json::arrayValue);
    for (int i = 0; i < 20000; ++i)
        array[i] = 123456789;
    WebMessage::FitReport arrayReport;
    EXPECT_FALSE(WebMessage::Fit(array, 65535, arrayReport));
}
