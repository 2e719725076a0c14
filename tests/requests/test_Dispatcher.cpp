#include "requests/CPluginManage.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManageHarness.h"

#include <gtest/gtest.h>

TEST(Dispatcher, RepliesAndSilences)
{
    struct Case
    {
        const char *pRequest;
        const char *pReply;   // nullptr: no reply
        bool bError;          // "can not analyze json" logged
    };
    const Case cases[] = {
        {"{\"MainType\":1,\"MsgID\":5}", "{\"Msg\":1,\"MsgID\":5,\"Ret\":1020,\"SubMsg\":null}\n", false},
        {"{\"MainType\":7,\"SubType\":3,\"MsgID\":\"abc\"}", "{\"Msg\":7,\"MsgID\":\"abc\",\"Ret\":1020,\"SubMsg\":3}\n", false},
        {"{\"MainType\":35,\"SubType\":0}", "{\"Msg\":35,\"MsgID\":null,\"Ret\":1020,\"SubMsg\":0}\n", false},
        {"{\"MainType\":-4}", "{\"Msg\":-4,\"MsgID\":null,\"Ret\":1020,\"SubMsg\":null}\n", false},
        {"{\"MainType\":99,\"SubType\":\"x\",\"MsgID\":[1]}", "{\"Msg\":99,\"MsgID\":[1],\"Ret\":1020,\"SubMsg\":\"x\"}\n", false},
        // Comments are allowed in requests.
        {"{\"MainType\":13 /* c */, \"MsgID\":1}", "{\"Msg\":13,\"MsgID\":1,\"Ret\":1020,\"SubMsg\":null}\n", false},
        {"{\"MainType\":0,\"MsgID\":1}", nullptr, false},
        {"{\"SubType\":4}", nullptr, false},
        {"not json at all", nullptr, false},
        {"{\"MainType\":\"8\"}", nullptr, true},
        {"[1,2,3]", nullptr, true},
        {"{\"MainType\":4294967296}", nullptr, true},
        // A handler that cannot read a field answers that the request failed, its envelope as far as it reads.
        {"{\"MainType\":24,\"SubType\":0,\"MsgID\":1,\"Channel\":0,\"Step\":\"1\"}",
         "{\"Msg\":24,\"MsgID\":1,\"Ret\":1016,\"SubMsg\":0}\n", true},
        {"{\"MainType\":2,\"SubType\":\"1\",\"MsgID\":[2]}", "{\"Msg\":2,\"MsgID\":[2],\"Ret\":1016,\"SubMsg\":\"1\"}\n", true},
        {"{\"MainType\":19,\"SubType\":{\"c\":3},\"MsgID\":3}", "{\"Channel\":{\"c\":3},\"Msg\":19,\"MsgID\":3,\"Ret\":1016}\n", true},
    };
    for (const Case &c : cases) {
        ManageHarness harness;
        LogCapture log;
        harness.Send(QString::fromUtf8(c.pRequest));
        harness.Sync();
        const QStringList messages = harness.Messages();
        if (c.pReply) {
            ASSERT_EQ(messages.size(), 1) << c.pRequest;
            EXPECT_EQ(messages[0].toStdString(), c.pReply);
        } else {
            EXPECT_TRUE(messages.isEmpty()) << c.pRequest;
        }
        EXPECT_EQ(log.Contains("can not analyze json"), c.bError) << c.pRequest;
        EXPECT_EQ(log.Count("RecvWeb msg="), 1);
    }
}

TEST(Dispatcher, RequestsAreHandledOneAtATimeInOrder)
{
    ManageHarness harness;
    for (int i = 0; i < 50; ++i)
        harness.Send(QString("{\"MainType\":1,\"MsgID\":%1}").arg(i));
    ASSERT_TRUE(harness.WaitForMessages(50));
    const QStringList messages = harness.Messages();
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(messages[i].contains(QString("\"MsgID\":%1,").arg(i))) << messages[i].toStdString();
}

TEST(Dispatcher, RequestTextIsCutAtItsFirstZeroByte)
{
    ManageHarness harness;
    harness.Send(QString::fromUtf8("{\"MainType\":1,\"MsgID\":2}") + QChar(0) + "garbage that would not parse");
    harness.Sync();
    ASSERT_EQ(harness.Messages().size(), 1);
    EXPECT_EQ(harness.Messages()[0].toStdString(), "{\"Msg\":1,\"MsgID\":2,\"Ret\":1020,\"SubMsg\":null}\n");
}

TEST(Dispatcher, SecretsNeverReachTheLog)
{
    ManageHarness harness;
    LogCapture log;
    harness.Send("{\"MainType\":1,\"Device\":{\"Password\":\"hunter2\",\"tcsToken\":\"tok-123\"},\"AppSecret\":\"s3\",\"AppKey\":\"k4\"}");
    harness.Sync();
    ASSERT_TRUE(harness.WaitForMessages(1));
    for (const QString &strLine : log.Lines()) {
        for (const char *pSecret : {"hunter2", "tok-123", "s3\"", "k4\""})
            EXPECT_FALSE(strLine.contains(pSecret)) << strLine.toStdString();
    }
    EXPECT_TRUE(log.Contains("\"Password\":\"***\""));
}

TEST(Dispatcher, CutMessageKeepsWholeCharacters)
{
    struct Case { QString strText; int nExpectedBytes; };
    const Case cases[] = {
        {QString(70000, 'a'), 65535},
        {QString(32768, QChar(0x00e9)), 65534},          // two-byte characters: the last whole one ends at 65534
        {QString(21846, QChar(0x20ac)), 65535},          // three-byte characters: 21845 of them fill 65535 exactly
        {QString(21846, QChar(0x20ac)).prepend('a'), 65533},
        {"short", 5},
        {QString("ab") + QChar(0) + "cd", 2},
    };
    for (const Case &c : cases) {
        const QByteArray cut = CPluginManage::CutMessage(c.strText);
        EXPECT_EQ(cut.size(), c.nExpectedBytes);
        EXPECT_EQ(QString::fromUtf8(cut).toUtf8(), cut) << "the cut split a character";
    }
}

TEST(Dispatcher, SendLogsOnlyWithFlagOne)
{
    ManageHarness harness;
    LogCapture log;
    harness.Manage()->sendWebSocketMsg("{\"quiet\":0}", 0);
    harness.Manage()->sendWebSocketMsg("{\"kind\":2}", 2);
    harness.Manage()->sendWebSocketMsg("{\"loud\":1}", 1);
    ASSERT_TRUE(harness.WaitForMessages(3));
    EXPECT_FALSE(log.Contains("quiet"));
    EXPECT_FALSE(log.Contains("kind"));
    EXPECT_TRUE(log.Contains("{\"loud\":1}"));
}

TEST(Dispatcher, DeviceDisconnectSendsOneEvent)
{
    ManageHarness harness;
    LogCapture log;
    CPluginManage::DisconnectFunction(12, "10.0.0.9", 34567, harness.Manage());
    ASSERT_TRUE(harness.WaitForMessages(1));
    EXPECT_EQ(harness.Messages()[0].toStdString(), "{\"MainEvent\":5,\"Ret\":100,\"SubEvent\":0}\n");
    EXPECT_TRUE(log.Contains("Device Disconnect IP=10.0.0.9 LoginID=12 Port=34567"));
}
