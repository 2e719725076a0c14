// The device callbacks of uploads and imports, and the talk ability read: the result of each transfer kind, the
// voice header the device accepts, the import answer naming one request whole while requests replace it, and
// an ability answer that fills the whole buffer.

#include "device/CQZConnect.h"
#include "requests/CPluginManage.h"
#include "runtime/JsonText.h"
#include "standin/korvex/FileTransfer.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/ManageHarness.h"

#include <QSet>

#include <atomic>
#include <thread>

TEST(TransferResult, KindsGiveTheirResult)
{
    struct Case
    {
        int32_t nKind;
        int32_t nValue1;
        int nRet;
    };
    const Case cases[] = {
        {1, 4096, 100}, {2, 5012, 5012}, {2, -7, -7}, {3, 12, 1023}, {0, 1, 1016}, {4, 1, 1016}, {-1, 0, 1016},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CPluginManage::TransferResult(c.nKind, c.nValue1), c.nRet) << c.nKind << " " << c.nValue1;
}

TEST(VoiceHeader, TheDeviceAcceptsEachShape)
{
    struct Case
    {
        bool bDevice;
        int nChannel;
        int nPurpose;
        const char *pChannel; // the channel written, "" for none
    };
    const Case cases[] = {
        {false, 1, 0, "1"}, {false, 255, 7, "-1"}, {false, 0, 3, "0"}, {true, 1, 9, ""}, {true, 255, 0, ""},
    };
    for (const Case &c : cases) {
        const QByteArray header = CQZConnect::VoiceHeader(c.bDevice, c.nChannel, c.nPurpose, 40960);
        Json::Value parsed;
        ASSERT_TRUE(JsonText::Parse(header.toStdString(), parsed)) << header.toStdString();
        int64_t nSize = 0;
        EXPECT_TRUE(FileTransfer::CheckHeader(parsed, 4, nSize)) << header.toStdString();
        EXPECT_EQ(nSize, 40960);
        EXPECT_EQ(parsed["FileName"].asString(), "customAlarmVoice.pcm");
        if (c.bDevice) {
            EXPECT_FALSE(parsed.isMember("Channel"));
            EXPECT_EQ(parsed["FilePurpose"].asInt(), 0);
        } else {
            EXPECT_EQ(JsonText::Write(parsed["Channel"]), std::string("[") + c.pChannel + "]\n");
            EXPECT_EQ(parsed["Parameter"]["Channel"], parsed["Channel"]);
            EXPECT_EQ(parsed["FilePurpose"].asInt(), c.nPurpose);
        }
    }
}

// While imports replace one another, a late answer names one of them whole: its "SubMsg" and "MsgID" together.
TEST(AsyncResultCallBack, AnswersNameOneImportWhole)
{
    ManageHarness harness;
    CPluginManage *pManage = harness.Manage();
    std::atomic<bool> bDone{false};
    std::thread device([&] {
        for (int i = 0; i < 2000; ++i)
            CPluginManage::AsyncResultCallBack(1, 2, 5, 0, pManage);
        bDone = true;
    });
    // Without a login each request is refused at once; only the pending import changes.
    for (int i = 0; !bDone; ++i) {
        harness.Send(QString(R"({"MainType":30,"SubType":%1,"MsgID":%2})").arg(2 + i % 3).arg((2 + i % 3) * 1000 + 1));
        if (i % 20 == 19)
            harness.Sync();
    }
    device.join();
    harness.Sync();

    int nAnswers = 0;
    for (const QString &strMessage : harness.Messages()) {
        Json::Value message;
        ASSERT_TRUE(JsonText::Parse(strMessage.toStdString(), message));
        if (message["Ret"].asInt() != 5)
            continue; // a refusal
        ++nAnswers;
        const int nSubMsg = message["SubMsg"].asInt();
        const int nMsgId = message["MsgID"].asInt();
        EXPECT_EQ(message["Msg"].asInt(), 30);
        EXPECT_TRUE(nSubMsg == -1 ? nMsgId == 0 : nMsgId == nSubMsg * 1000 + 1) << strMessage.toStdString();
    }
    EXPECT_EQ(nAnswers, 2000);
}

class TalkAbility : public KorvexFixture
{
};

TEST_F(TalkAbility, AnAnswerFillingTheBufferIsReadWithinIt)
{
    const int32_t lLogin = LoginBuiltIn();
    const std::string strName = "ChannelSystemFunction@SupportIPCTalk";
    // The answer's text, padded with blanks to a length.
    auto answer = [](size_t nLength) {
        std::string s = R"({"Name":"ChannelSystemFunction@SupportIPCTalk","ChannelSystemFunction@SupportIPCTalk":[true,false]})";
        s.append(nLength - s.size(), ' ');
        return s;
    };
    struct Case
    {
        size_t nLength;
        const char *pTail;
        int nRet;
    };
    const Case cases[] = {
        {200, "}garbage", 100},   // bytes after the answer are not read
        {102399, "", 100},        // the longest answer that leaves room for the zero
        {102400, "", 1016},       // too long for the buffer
    };
    for (const Case &c : cases) {
        KorvexControl::SetReplyTail(c.pTail);
        KorvexControl::ReplyNext(strName, answer(c.nLength));
        Json::Value data;
        EXPECT_EQ(CPluginManage::ReadTalkAbility(lLogin, data), c.nRet) << c.nLength;
        if (c.nRet == 100)
            EXPECT_EQ(JsonText::Write(data),
                      "{\"ChannelSystemFunction@SupportIPCTalk\":[true,false],\"Name\":\"ChannelSystemFunction@SupportIPCTalk\"}\n")
                << c.nLength;
        else
            EXPECT_TRUE(data.isNull());
    }
}
