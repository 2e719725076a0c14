// The simulated device's report of what it received, for tests whose program runs in a process of its own: every
// talk frame (refused ones too), file and configuration import, as the in-process control header sees them.

#include "platform/korvex.h"
#include "tests/support/DeviceReceived.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

#include <cstdlib>
#include <string>

namespace {

const char *kDevices = R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 2,
  "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [true, false]}}])";

void OnVoice(int32_t, const char *, int32_t, int32_t, void *) {}
void OnTransfer(int32_t, int32_t, int32_t, int32_t, void *) {}

} // namespace

class KorvexReceivedReport : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
        setenv("KORVEX_RECEIVED", m_received.Path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override
    {
        KorvexFixture::TearDown();
        unsetenv("KORVEX_RECEIVED");
    }

    DeviceReceived m_received;
};

TEST_F(KorvexReceivedReport, NamesEveryFrameFileAndImportAsTheControlHeaderSeesThem)
{
    const int32_t lLogin = LoginAt("127.0.0.1", 34567);
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_NVR_IPC(lLogin, 0, &OnVoice, nullptr);
    ASSERT_GT(lTalk, 0);
    const std::string good = std::string("\x00\x00\x01\xFA\x0E\x02\x03\x00\xD5\x00\xFF", 11);
    const std::string bad = std::string("\x00\x00\x01\xFA\x0E\x02\x09\x00\xD5", 9);
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, good.data(), static_cast<int32_t>(good.size())), 1);
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, bad.data(), static_cast<int32_t>(bad.size())), 0);

    const std::string strConfig = R"({"General": {"Name": "x"}})";
    ASSERT_EQ(ZDK_DEV_SetDevConfig(lLogin, ZDK_CFG_IMPORT, -1, strConfig.data(), static_cast<uint32_t>(strConfig.size()),
                                   1000),
              1);

    QFile file(TempPath("voice.pcm"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x00\x01\xFE\xFF", 4));
    file.close();
    const std::string strHeader = R"({"FileType": 1,"FilePurpose": 0,"FileSize": 4,"FileName": "customAlarmVoice.pcm",)"
                                  R"("Parameter": {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,)"
                                  R"("EncodeType": "G711_ALAW"}}})";
    ASSERT_EQ(ZDK_DEV_Cmd_Json(lLogin, ZDK_CMD_FILE, "OPFile", strHeader.data(), static_cast<uint32_t>(strHeader.size()),
                               1000, -1),
              1);
    ASSERT_GT(ZDK_DEV_SendFileDataToDevice(lLogin, TempPath("voice.pcm").toLocal8Bit().constData(), &OnTransfer, nullptr),
              0);
    ASSERT_TRUE(WaitUntil([] { return KorvexControl::ReceivedFiles().size() == 1; }));

    const std::vector<KorvexTalkFrame> expectedFrames = KorvexControl::TalkFrames();
    const std::vector<KorvexTalkFrame> frames = m_received.TalkFrames();
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(expectedFrames.size(), 2u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].nHandle, lTalk);
        EXPECT_EQ(frames[i].nLogin, lLogin);
        EXPECT_TRUE(frames[i].bChannelForm);
        EXPECT_EQ(frames[i].nChannel, 0);
        EXPECT_EQ(frames[i].strData, expectedFrames[i].strData);
        EXPECT_EQ(frames[i].bAccepted, expectedFrames[i].bAccepted);
        EXPECT_EQ(frames[i].at, std::chrono::time_point_cast<std::chrono::microseconds>(expectedFrames[i].at));
    }
    EXPECT_TRUE(frames[0].bAccepted);
    EXPECT_FALSE(frames[1].bAccepted);

    const std::vector<DeviceReceived::Config> configs = m_received.Configs();
    ASSERT_EQ(configs.size(), 1u);
    EXPECT_EQ(configs[0].nLogin, lLogin);
    EXPECT_EQ(configs[0].strData, strConfig);

    const std::vector<KorvexReceivedFile> files = m_received.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].nLogin, lLogin);
    EXPECT_EQ(files[0].strHeader, strHeader);
    EXPECT_EQ(files[0].strData, std::string("\x00\x01\xFE\xFF", 4));
    EXPECT_EQ(files[0].nKind, ZDK_TRANSFER_DONE);
    EXPECT_EQ(files[0].nValue1, 4);
    EXPECT_EQ(files[0].nValue2, 4);
}
