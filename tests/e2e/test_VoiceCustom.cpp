// The custom alarm voice through the host link: recorded from the microphone, played back as a test, uploaded to
// the device with the header its type asks for, and the answers of the operations that cannot run.

#include "device/media/G711Alaw.h"
#include "standin/pavline/WavFile.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/support/DeviceReceived.h"
#include "tests/support/WaitUntil.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const char kAudioFormat[] = R"("AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"})";

Json::Value Voice(int nSubType, const char *pMsgId)
{
    return HostedPlugin::NewRequest(20, nSubType, pMsgId);
}

std::string ReplyText(int nSubType, const char *pMsgId, int nRet)
{
    return std::string("{\"Msg\":20,\"MsgID\":\"") + pMsgId + "\",\"Ret\":" + std::to_string(nRet) +
           ",\"SubMsg\":" + std::to_string(nSubType) + "}\n";
}

int CountEvents(const HostedPlugin &plugin, int nMain, int nSub)
{
    int n = 0;
    for (const HostMessage &message : plugin.Messages())
        n += message["MainEvent"].isInt() && message["MainEvent"].asInt() == nMain && message["SubEvent"].asInt() == nSub;
    return n;
}

} // namespace

TEST(VoiceCustom, RecordedTestedAndUploaded)
{
    EnvFiles files;
    DeviceReceived received;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4}])"));
    plugin.SetEnv("KORVEX_RECEIVED", received.Path());
    const QString strSound = files.Write("sound.wav", QByteArray());
    plugin.SetEnv("PAVLINE_SOUND_WAV", strSound);
    std::vector<int16_t> mic(3000);
    for (size_t i = 0; i < mic.size(); ++i)
        mic[i] = static_cast<int16_t>((static_cast<int>(i) * 7919) % 30000 - 15000);
    const QString strMic = files.Write("mic.wav", QByteArray());
    {
        WavFile wav;
        ASSERT_TRUE(wav.Create(strMic.toStdString(), 8000));
        ASSERT_TRUE(wav.Append(mic.data(), mic.size()));
    }
    plugin.SetEnv("PAVLINE_MIC_WAV", strMic);
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));
    const QString strVoice = plugin.App().FilePath("customAlarmVoice.pcm");

    // Record: an event per recorded block with the seconds left, then the end.
    HostMessage reply = plugin.Request(Voice(0, "record"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.text.toStdString(), ReplyText(0, "record", 100));
    int nPos = 5;
    for (int i = 0; i < 3; ++i) {
        const HostMessage block = plugin.WaitEvent(6, 0);
        ASSERT_TRUE(block);
        EXPECT_EQ(block["Ret"].asInt(), 100);
        EXPECT_LE(block["Pos"].asInt(), nPos);
        EXPECT_GE(block["Pos"].asInt(), 4);
        nPos = block["Pos"].asInt();
    }
    // Busy recording: another recording is refused.
    EXPECT_EQ(plugin.Request(Voice(0, "again")).text.toStdString(), ReplyText(0, "again", 1016));
    EXPECT_TRUE(plugin.WaitForLog("SubMsg:0 nRet=-3"));
    EXPECT_EQ(plugin.Request(Voice(1, "stop")).text.toStdString(), ReplyText(1, "stop", 100));
    const HostMessage end = plugin.WaitEvent(6, 1);
    ASSERT_TRUE(end);
    EXPECT_EQ(end["Ret"].asInt(), 100);
    // The file is the microphone in A-law, 160 bytes per block at 8000 Hz.
    QFile file(strVoice);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray recorded = file.readAll();
    file.close();
    ASSERT_GE(recorded.size(), 3 * 160);
    EXPECT_EQ(recorded.size() % 160, 0);
    std::string strExpected;
    for (int i = 0; i < recorded.size(); ++i)
        strExpected += static_cast<char>(G711AlawEncodeSample(mic[static_cast<size_t>(i) % mic.size()]));
    EXPECT_TRUE(recorded.toStdString() == strExpected);

    // Test: played on the talk port, then its end event.
    const qint64 nSoundBefore = QFileInfo(strSound).size();
    EXPECT_EQ(plugin.Request(Voice(2, "test")).text.toStdString(), ReplyText(2, "test", 100));
    const HostMessage tested = plugin.WaitEvent(6, 3);
    ASSERT_TRUE(tested);
    EXPECT_EQ(tested["Ret"].asInt(), 100);
    EXPECT_GT(QFileInfo(strSound).size(), nSoundBefore);
    // Stopping a test is always done.
    EXPECT_EQ(plugin.Request(Voice(4, "stoptest")).text.toStdString(), ReplyText(4, "stoptest", 100));

    // Upload to channel 1 for purpose 5: the device receives the file with its header; the file goes.
    Json::Value upload = Voice(3, "upload");
    upload["Channel"] = 1;
    upload["FilePurpose"] = 5;
    EXPECT_EQ(plugin.Request(upload).text.toStdString(), ReplyText(3, "upload", 100));
    const HostMessage uploaded = plugin.WaitEvent(6, 2);
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(uploaded.text.toStdString(), "{\"MainEvent\":6,\"Ret\":100,\"SubEvent\":2}\n");
    ASSERT_EQ(received.Files().size(), 1u);
    const KorvexReceivedFile sent = received.Files()[0];
    EXPECT_EQ(sent.strHeader, R"({"Action": "Send","FileType": 1,"Channel": [1],"FilePurpose": 5,"FileSize": )" +
                                  std::to_string(recorded.size()) +
                                  R"(,"FileName": "customAlarmVoice.pcm","Parameter":  {)" + kAudioFormat +
                                  R"(,"Channel": [1]}})");
    EXPECT_TRUE(sent.strData == recorded.toStdString());
    EXPECT_TRUE(WaitUntil([&] { return !QFileInfo::exists(strVoice); }));

    // Nothing left to upload: refused, and no empty file is made in its place.
    EXPECT_EQ(plugin.Request(upload).text.toStdString(), ReplyText(3, "upload", 1016));
    EXPECT_TRUE(plugin.WaitForLog("SubMsg:3 nRet=-3"));
    EXPECT_FALSE(QFileInfo::exists(strVoice));
    // Nothing to test either.
    EXPECT_EQ(plugin.Request(Voice(2, "test2")).text.toStdString(), ReplyText(2, "test2", 1016));
    EXPECT_EQ(plugin.Request(Voice(9, "nine")).text.toStdString(), ReplyText(9, "nine", 1016));
    EXPECT_TRUE(plugin.WaitForLog("SubMsg:9 nRet=-1"));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

TEST(VoiceCustom, UploadHeaderByDeviceTypeAndChannel)
{
    struct Case
    {
        int nDeviceType;
        int nChannel;
        int nPurpose;
        std::string strHeader;
    };
    const Case cases[] = {
        {1, 255, 0, std::string(R"({"Action": "Send","FileType": 1,"Channel": [-1],"FilePurpose": 0,"FileSize": 1000,)") +
                        R"("FileName": "customAlarmVoice.pcm","Parameter":  {)" + kAudioFormat + R"(,"Channel": [-1]}})"},
        // The device itself takes the voice: no channel, purpose 0.
        {2, 1, 5, std::string(R"({"FileType": 1,"FilePurpose": 0,"FileSize": 1000,"FileName": "customAlarmVoice.pcm",)") +
                      R"("Parameter": {)" + kAudioFormat + "}}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nDeviceType);
        EnvFiles files;
        DeviceReceived received;
        HostedPlugin plugin;
        plugin.SetEnv("KORVEX_DEVICES", files.Devices(QString(R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 2,
            "DeviceType": %1}])").arg(c.nDeviceType).toUtf8()));
        plugin.SetEnv("KORVEX_RECEIVED", received.Path());
        ASSERT_TRUE(plugin.App().WriteFile("customAlarmVoice.pcm", QByteArray(1000, '\xD5')));
        ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));
        Json::Value upload = Voice(3, "upload");
        upload["Channel"] = c.nChannel;
        upload["FilePurpose"] = c.nPurpose;
        EXPECT_EQ(plugin.Request(upload)["Ret"].asInt(), 100);
        ASSERT_TRUE(plugin.WaitEvent(6, 2));
        ASSERT_EQ(received.Files().size(), 1u);
        EXPECT_EQ(received.Files()[0].strHeader, c.strHeader);
        EXPECT_EQ(received.Files()[0].strData, std::string(1000, '\xD5'));
        ASSERT_TRUE(plugin.Finish());
    }
}

TEST(VoiceCustom, AnEmptyVoiceIsNotUploaded)
{
    EnvFiles files;
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteFile("customAlarmVoice.pcm", QByteArray()));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));
    Json::Value upload = Voice(3, "upload");
    upload["Channel"] = 0;
    EXPECT_EQ(plugin.Request(upload).text.toStdString(), ReplyText(3, "upload", 1016));
    EXPECT_TRUE(plugin.WaitForLog("SubMsg:3 nRet=-3"));
    ASSERT_TRUE(plugin.Sync());
    EXPECT_EQ(CountEvents(plugin, 6, 2), 0);
}
