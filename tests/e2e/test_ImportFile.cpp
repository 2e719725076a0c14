// File imports through the host link: a configuration or a file the user chooses, and the custom voice sent to a
// channel or the device, each answered at once or later by the device's result, for the request that began it.

#include "tests/e2e/LoginFixture.h"
#include "tests/support/DeviceReceived.h"
#include "tests/support/WaitUntil.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const char kAudioFormat[] = R"("AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"})";

Json::Value Import(int nSubType, int nMsgId, int nChannel = 1)
{
    Json::Value request = HostedPlugin::NewRequest(30, nSubType, nMsgId);
    request["Channel"] = nChannel;
    return request;
}

// An answer with "Ret" (the device's, or a refusal at once) or "nRet" (the answer to a choice).
std::string Answer(int nSubType, int nMsgId, const char *pKey, int nRet)
{
    const std::string strHead = "{\"Msg\":30,\"MsgID\":" + std::to_string(nMsgId);
    const std::string strSub = ",\"SubMsg\":" + std::to_string(nSubType);
    const std::string strRet = std::string(",\"") + pKey + "\":" + std::to_string(nRet);
    return std::string(pKey) == "Ret" ? strHead + strRet + strSub + "}\n" : strHead + strSub + strRet + "}\n";
}

class ImportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_plugin.SetEnv("KORVEX_DEVICES", m_files.Devices(R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4}])"));
        m_plugin.SetEnv("KORVEX_RECEIVED", m_received.Path());
        ASSERT_TRUE(StartAndLogIn(m_plugin, LoginByAddress("login")));
    }
    // The chooser prints the text and exits with the code.
    void Choose(const QByteArray &output, int nExitCode = 0)
    {
        BrowseBehaviour behaviour;
        behaviour.output = output;
        behaviour.nExitCode = nExitCode;
        ASSERT_TRUE(m_plugin.App().WriteBrowse(behaviour));
    }
    QByteArray File(const QString &strName, const QByteArray &content) { return m_files.Write(strName, content).toUtf8(); }

    EnvFiles m_files;
    DeviceReceived m_received;
    HostedPlugin m_plugin;
};

} // namespace

TEST_F(ImportTest, AChosenConfigurationIsImportedAndAnsweredWithItsResult)
{
    const QByteArray config = R"({"General": {"DeviceName": "yard"}})";
    struct Case
    {
        const char *pWhat;
        QByteArray output;  // what the chooser prints
        int nRet;
        bool bImported;
    };
    const Case cases[] = {
        {"chosen", File("config.json", config), 100, true},
        {"nothing chosen", "", 1014, false},
        // The whole output is the path: a line break after it names another file.
        {"path with a line break", File("config.json", config) + "\n", 1020, false},
        {"missing", File("config.json", config) + ".gone", 1020, false},
        {"larger than 64 KiB", File("large.json", "{\"a\": \"" + QByteArray(65536, 'x') + "\"}"), 1015, false},
    };
    int nMsgId = 100;
    size_t nImported = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        Choose(c.output);
        ++nMsgId;
        m_plugin.Send(Import(0, nMsgId));
        const HostMessage answer = m_plugin.WaitReply(nMsgId);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer.text.toStdString(), Answer(0, nMsgId, "nRet", c.nRet));
        nImported += c.bImported;
        ASSERT_EQ(m_received.Configs().size(), nImported);
    }
    EXPECT_EQ(m_received.Configs()[0].strData, config.toStdString());
    for (const QString &strStart : m_plugin.App().BrowseStarts())
        EXPECT_EQ(strStart, "5 1");
    EXPECT_EQ(m_plugin.App().BrowseStarts().size(), 5);
}

TEST_F(ImportTest, AChosenFileIsAnsweredByTheDevice)
{
    const QByteArray data = QByteArray(3000, 'k') + "end";
    Choose(File("data.bin", data));
    m_plugin.Send(Import(1, 7));
    // Started well, the answer is the device's.
    const HostMessage answer = m_plugin.WaitReply(7);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer.text.toStdString(), Answer(1, 7, "Ret", 100));
    ASSERT_EQ(m_received.Files().size(), 1u);
    EXPECT_EQ(m_received.Files()[0].strHeader,
              R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": 3003,"FileName": "",  "Path": "","Parameter":{}})");
    EXPECT_EQ(m_received.Files()[0].strData, data.toStdString());

    // A choice of nothing, or of a missing file, is answered at once.
    Choose("");
    m_plugin.Send(Import(1, 8));
    EXPECT_EQ(m_plugin.WaitReply(8).text.toStdString(), Answer(1, 8, "nRet", 1014));
    const QByteArray missing = File("data.bin", data) + ".gone";
    Choose(missing);
    m_plugin.Send(Import(1, 9));
    EXPECT_EQ(m_plugin.WaitReply(9).text.toStdString(), Answer(1, 9, "nRet", 109));
    // Its size was read without making it.
    EXPECT_FALSE(QFileInfo::exists(QString::fromUtf8(missing)));
}

TEST_F(ImportTest, TheVoiceGoesToAChannelOrTheDevice)
{
    const QByteArray voice(800, '\x55');
    ASSERT_TRUE(m_plugin.App().WriteFile("customAlarmVoice.pcm", voice));
    struct Case
    {
        int nSubType;
        int nChannel;
        std::string strHeader;
    };
    const std::string strSize = std::to_string(voice.size());
    const Case cases[] = {
        {2, 1, R"({"Action": "Send","FileType": 1,"Channel": [1],"FilePurpose": 0,"FileSize": )" + strSize +
                    R"(,"FileName": "customAlarmVoice.pcm","Parameter":  {)" + kAudioFormat + R"(,"Channel": [1]}})"},
        {3, 255, R"({"Action": "Send","FileType": 1,"Channel": [-1],"FilePurpose": 7,"FileSize": )" + strSize +
                      R"(,"FileName": "customAlarmVoice.pcm","Parameter":  {)" + kAudioFormat + R"(,"Channel": [-1]}})"},
        {4, 2, R"({"FileType": 1,"FilePurpose": 0,"FileSize": )" + strSize +
                    R"(,"FileName": "customAlarmVoice.pcm","Parameter": {)" + kAudioFormat + "}}"},
    };
    size_t nFiles = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nSubType);
        m_plugin.Send(Import(c.nSubType, 20 + c.nSubType, c.nChannel));
        const HostMessage answer = m_plugin.WaitReply(20 + c.nSubType);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer.text.toStdString(), Answer(c.nSubType, 20 + c.nSubType, "Ret", 100));
        ASSERT_EQ(m_received.Files().size(), ++nFiles);
        EXPECT_EQ(m_received.Files().back().strHeader, c.strHeader);
        EXPECT_EQ(m_received.Files().back().strData, voice.toStdString());
    }
    // The voice stays after an import.
    EXPECT_TRUE(QFileInfo::exists(m_plugin.App().FilePath("customAlarmVoice.pcm")));

    // Without a voice: refused at once, and no empty voice made.
    ASSERT_TRUE(QFile::remove(m_plugin.App().FilePath("customAlarmVoice.pcm")));
    const HostMessage refused = m_plugin.Request(Import(2, 30));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused.text.toStdString(), Answer(2, 30, "Ret", 109));
    EXPECT_FALSE(QFileInfo::exists(m_plugin.App().FilePath("customAlarmVoice.pcm")));
}

TEST_F(ImportTest, AChoiceAnswersForItsOwnRequestWhateverCameMeanwhile)
{
    ASSERT_TRUE(m_plugin.App().WriteFile("customAlarmVoice.pcm", QByteArray(400, '\x55')));
    BrowseBehaviour behaviour;
    behaviour.output = File("data.bin", "payload");
    behaviour.bWait = true;
    ASSERT_TRUE(m_plugin.App().WriteBrowse(behaviour));
    m_plugin.Send(Import(1, 11));
    ASSERT_TRUE(WaitUntil([&] { return m_plugin.App().BrowseStarts().size() == 1; }, HostedPlugin::kWaitMs));
    // Another import while the user chooses, answered by the device.
    const HostMessage voice = m_plugin.Request(Import(2, 12));
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice.text.toStdString(), Answer(2, 12, "Ret", 100));
    // The choice is made: the file of the first request is imported and its answer names that request.
    ASSERT_TRUE(m_plugin.App().ReleaseBrowse());
    const HostMessage chosen = m_plugin.WaitReply(11);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen.text.toStdString(), Answer(1, 11, "Ret", 100));
    ASSERT_EQ(m_received.Files().size(), 2u);
    EXPECT_EQ(m_received.Files()[1].strData, "payload");
}

TEST_F(ImportTest, OtherSubTypesAndUnreadableRequests)
{
    Json::Value other = Import(7, 40);
    m_plugin.Send(other);
    Json::Value text = Import(2, 0);
    text["MsgID"] = "x";
    m_plugin.Send(text);
    ASSERT_TRUE(m_plugin.Sync());
    EXPECT_TRUE(m_plugin.WaitForLog("can not analyze json"));
    // The one whose "MsgID" is no integer is answered as failed, and nothing is imported.
    EXPECT_EQ(m_plugin.WaitReply("x", 0).text.toStdString(), "{\"Msg\":30,\"MsgID\":\"x\",\"Ret\":1016,\"SubMsg\":2}\n");
    for (const HostMessage &message : m_plugin.Messages())
        EXPECT_TRUE(message["Msg"].asInt() != 30 || message["MsgID"] == "x") << message.text.constData();
    EXPECT_TRUE(m_plugin.App().BrowseStarts().isEmpty());
}

// The device's later answers other than success reach the page by the result mapping, for imports and for the
// voice's upload alike; the upload's answer takes the voice with it whatever it reports.
TEST(ImportAnswers, TheDevicesLaterAnswersReachThePageByTheirKind)
{
    EnvFiles files;
    DeviceReceived received;
    HostedPlugin plugin;
    // The device's first four transfers report: its own code, broken off, an unknown kind, and broken off again.
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
        "TransferResults": [{"Kind": 2, "Value": 5012}, {"Kind": 3, "Value": 10}, {"Kind": 7, "Value": 0},
                            {"Kind": 3, "Value": 0}]}])"));
    plugin.SetEnv("KORVEX_RECEIVED", received.Path());
    const QString strData = files.Write("data.bin", "payload");
    BrowseBehaviour behaviour;
    behaviour.output = strData.toUtf8();
    ASSERT_TRUE(plugin.App().WriteBrowse(behaviour));
    ASSERT_TRUE(plugin.App().WriteFile("customAlarmVoice.pcm", QByteArray(400, '\x55')));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));

    struct Case
    {
        int nSubType;
        int nMsgId;
        int nRet;
    };
    const Case cases[] = {{1, 51, 5012}, {2, 52, 1023}, {4, 53, 1016}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nSubType);
        plugin.Send(Import(c.nSubType, c.nMsgId));
        const HostMessage answer = plugin.WaitReply(c.nMsgId);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer.text.toStdString(), Answer(c.nSubType, c.nMsgId, "Ret", c.nRet));
    }
    ASSERT_EQ(received.Files().size(), 3u);

    Json::Value upload = HostedPlugin::NewRequest(20, 3, "upload");
    upload["Channel"] = 1;
    upload["FilePurpose"] = 0;
    EXPECT_EQ(plugin.Request(upload)["Ret"].asInt(), 100);
    const HostMessage uploaded = plugin.WaitEvent(6, 2);
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(uploaded.text.toStdString(), "{\"MainEvent\":6,\"Ret\":1023,\"SubEvent\":2}\n");
    EXPECT_TRUE(WaitUntil([&] { return !QFileInfo::exists(plugin.App().FilePath("customAlarmVoice.pcm")); },
                          HostedPlugin::kWaitMs));
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}
