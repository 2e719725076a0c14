#include "requests/WebMessage.h"
#include "runtime/JsonText.h"

#include <gtest/gtest.h>

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
