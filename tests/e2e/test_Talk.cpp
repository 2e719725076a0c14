// Voice talk through the host link against the simulated device: the device receives the microphone as valid
// A-law talk frames, or the alarm sound at the send interval, and the device's audio is played; a new talk stops
// the old one first; the rate a device talk uses; a "SubType" without a talk; the talk ability.

#include "device/media/G711Alaw.h"
#include "runtime/JsonText.h"
#include "standin/pavline/WavFile.h"
#include "tests/e2e/LoginFixture.h"
#include "tests/support/DeviceReceived.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

// Channel 1 can talk, and so can the device itself.
const QByteArray kDevices = R"({"Devices": [{"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
    "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true, false, false]}}]})";

using Clock = std::chrono::steady_clock;

// The program with a talking device, what the device receives, a microphone of known samples and a file the
// played sound goes to.
class TalkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_plugin.SetEnv("KORVEX_DEVICES", m_files.Devices(kDevices));
        m_plugin.SetEnv("KORVEX_RECEIVED", m_received.Path());
        m_strSoundPath = m_files.Write("sound.wav", QByteArray());
        m_plugin.SetEnv("PAVLINE_SOUND_WAV", m_strSoundPath);
        // A microphone of 2000 pseudo-random samples at 8000 Hz, looped.
        m_mic.resize(2000);
        uint32_t nState = 777;
        for (int16_t &s : m_mic) {
            nState = nState * 1103515245u + 12345u;
            s = static_cast<int16_t>(static_cast<int32_t>((nState >> 8) % 40001) - 20000);
        }
        const QString strMic = m_files.Write("mic.wav", QByteArray());
        WavFile wav;
        ASSERT_TRUE(wav.Create(strMic.toStdString(), 8000));
        ASSERT_TRUE(wav.Append(m_mic.data(), m_mic.size()));
        m_plugin.SetEnv("PAVLINE_MIC_WAV", strMic);
    }

    bool LogIn(bool bSampleRate16 = false)
    {
        Json::Value request = LoginByAddress("login");
        request["SampleRate_16"] = bSampleRate16;
        return StartAndLogIn(m_plugin, request);
    }

    // The frames of one talk (by handle), in order.
    std::vector<KorvexTalkFrame> FramesOf(int32_t nHandle) const
    {
        std::vector<KorvexTalkFrame> frames;
        for (KorvexTalkFrame &frame : m_received.TalkFrames())
            if (frame.nHandle == nHandle)
                frames.push_back(std::move(frame));
        return frames;
    }
    // The handles of the talks, in the order of their first frame.
    std::vector<int32_t> Handles() const
    {
        std::vector<int32_t> handles;
        for (const KorvexTalkFrame &frame : m_received.TalkFrames())
            if (handles.empty() || std::find(handles.begin(), handles.end(), frame.nHandle) == handles.end())
                handles.push_back(frame.nHandle);
        return handles;
    }
    bool WaitForTalk(size_t nTalks, size_t nFrames)
    {
        return WaitUntil([&] { return Handles().size() >= nTalks && FramesOf(Handles()[nTalks - 1]).size() >= nFrames; },
                         HostedPlugin::kWaitMs);
    }
    qint64 SoundBytes() const { return QFileInfo(m_strSoundPath).size(); }

    Json::Value Talk(int nSubType, const char *pMsgId, const Json::Value &channel = Json::Value())
    {
        Json::Value request = HostedPlugin::NewRequest(16, nSubType, pMsgId);
        if (!channel.isNull())
            request["Channel"] = channel;
        return request;
    }

    EnvFiles m_files;
    DeviceReceived m_received;
    HostedPlugin m_plugin;
    QString m_strSoundPath;
    std::vector<int16_t> m_mic;
};

std::string HeaderHex(const std::string &strFrame)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < 6 && i < strFrame.size(); ++i) {
        out += kDigits[static_cast<unsigned char>(strFrame[i]) >> 4];
        out += kDigits[static_cast<unsigned char>(strFrame[i]) & 15];
    }
    return out;
}

} // namespace

TEST_F(TalkTest, ChannelAndDeviceReceiveTheMicrophoneAndTheirAudioIsPlayed)
{
    ASSERT_TRUE(LogIn());
    struct Case
    {
        int nSubType;
        int nChannel;       // the request's "Channel"
        bool bChannelForm;
        int nTalkChannel;   // the channel the device talks on
    };
    const Case cases[] = {{0, 1, true, 1}, {0, 255, true, -1}, {1, 255, false, -1}};
    size_t nTalks = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nSubType * 1000 + c.nChannel);
        const qint64 nSoundBefore = SoundBytes();
        const HostMessage reply = m_plugin.Request(Talk(c.nSubType, "start", c.nChannel));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply.text.toStdString(),
                  "{\"Msg\":16,\"MsgID\":\"start\",\"Ret\":100,\"SubMsg\":" + std::to_string(c.nSubType) + "}\n");
        ++nTalks;
        ASSERT_TRUE(WaitForTalk(nTalks, 12));
        const std::vector<KorvexTalkFrame> frames = FramesOf(Handles()[nTalks - 1]);
        std::string strPayloads;
        for (const KorvexTalkFrame &frame : frames) {
            EXPECT_TRUE(frame.bAccepted);
            EXPECT_EQ(frame.bChannelForm, c.bChannelForm);
            EXPECT_EQ(frame.nChannel, c.nTalkChannel);
            // A-law at 8000 Hz: each 640-byte microphone block is 320 samples.
            EXPECT_EQ(HeaderHex(frame.strData), "000001FA0E02");
            ASSERT_EQ(frame.strData.size(), 8u + 320u);
            strPayloads += frame.strData.substr(8);
        }
        std::string strExpected;
        for (size_t i = 0; i < strPayloads.size(); ++i)
            strExpected += static_cast<char>(G711AlawEncodeSample(m_mic[i % m_mic.size()]));
        EXPECT_TRUE(strPayloads == strExpected) << "the microphone's samples, in order";
        // The device's own audio is played on the talk port.
        EXPECT_TRUE(WaitUntil([&] { return SoundBytes() > nSoundBefore + 8000; }, HostedPlugin::kWaitMs));

        const HostMessage stopped = m_plugin.Request(Talk(2, "stop"));
        ASSERT_TRUE(stopped);
        EXPECT_EQ(stopped.text.toStdString(), "{\"Msg\":16,\"MsgID\":\"stop\",\"Ret\":100,\"SubMsg\":2}\n");
        const Clock::time_point after = Clock::now();
        // Nothing of a stopped talk comes after its stop answered.
        ASSERT_TRUE(m_plugin.Sync());
        for (const KorvexTalkFrame &frame : FramesOf(Handles()[nTalks - 1]))
            EXPECT_LT(frame.at, after);
    }
    // Without a talk, the stop still answers 100.
    const HostMessage idle = m_plugin.Request(Talk(2, "idle"));
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle["Ret"].asInt(), 100);
}

TEST_F(TalkTest, ANewTalkStopsTheOldOneFirstAndAnUnknownSubTypeLeavesNone)
{
    ASSERT_TRUE(LogIn());
    ASSERT_EQ(m_plugin.Request(Talk(0, "first", 1))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTalk(1, 3));
    const HostMessage second = m_plugin.Request(Talk(1, "second"));
    ASSERT_TRUE(second);
    EXPECT_EQ(second["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTalk(2, 3));
    // One answer for the second request, and the first talk's last frame came before the second's first.
    int nAnswers = 0;
    for (const HostMessage &message : m_plugin.Messages())
        nAnswers += message["MsgID"].asString() == "second" ? 1 : 0;
    EXPECT_EQ(nAnswers, 1);
    const std::vector<int32_t> handles = Handles();
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_LT(FramesOf(handles[0]).back().at, FramesOf(handles[1]).front().at);

    // "SubType" 5 sets a talk up without starting it: the running one is stopped and none is left.
    const HostMessage other = m_plugin.Request(Talk(5, "five", 1));
    ASSERT_TRUE(other);
    EXPECT_EQ(other.text.toStdString(), "{\"Msg\":16,\"MsgID\":\"five\",\"Ret\":1016,\"SubMsg\":5}\n");
    const Clock::time_point afterFive = Clock::now();
    // A talk started now is the only one sending: nothing else came after "SubType" 5 answered.
    ASSERT_EQ(m_plugin.Request(Talk(0, "third", 1))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTalk(3, 3));
    EXPECT_EQ(Handles().size(), 3u);
    for (const KorvexTalkFrame &frame : m_received.TalkFrames()) {
        if (frame.at >= afterFive) {
            EXPECT_EQ(frame.nHandle, Handles()[2]);
        }
    }
    // A channel without talk, or out of range, starts nothing.
    for (int nChannel : {0, 3, 120}) {
        const HostMessage refused = m_plugin.Request(Talk(0, "refused", nChannel));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused["Ret"].asInt(), 1016) << nChannel;
    }
    EXPECT_EQ(m_plugin.Request(Talk(2, "stop"))["Ret"].asInt(), 100);
}

TEST_F(TalkTest, TheRateOfADeviceTalkComesFromTheLogin)
{
    struct Case
    {
        bool bSampleRate16;     // the login's flag
        int nSubType;
        Json::Value channel;
        bool bRequestRate;      // the request gives "SampleRate" 16000
        const char *pHeader;    // the frames' first bytes: the rate code 02 (8000 Hz) or 04 (16000 Hz)
    };
    const Case cases[] = {
        {false, 1, 255, true, "000001FA0E02"},        // the device itself keeps the login's rate
        {false, 1, 0, true, "000001FA0E04"},          // a channel given: the request's rate
        {false, 0, 1, true, "000001FA0E04"},
        {false, 0, 1, false, "000001FA0E02"},
        {true, 1, 255, false, "000001FA0E04"},        // the login's flag makes it 16000
        {true, 0, 1, true, "000001FA0E04"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.bSampleRate16) + " " + std::to_string(c.nSubType) + " " +
                     c.channel.toStyledString());
        HostedPlugin plugin;
        DeviceReceived received;
        plugin.SetEnv("KORVEX_DEVICES", m_files.Devices(kDevices));
        plugin.SetEnv("KORVEX_RECEIVED", received.Path());
        Json::Value login = LoginByAddress("login");
        login["SampleRate_16"] = c.bSampleRate16;
        ASSERT_TRUE(StartAndLogIn(plugin, login));
        Json::Value request = Talk(c.nSubType, "rate", c.channel);
        if (c.bRequestRate)
            request["SampleRate"] = 16000;
        ASSERT_EQ(plugin.Request(request)["Ret"].asInt(), 100);
        ASSERT_TRUE(WaitUntil([&] { return received.TalkFrames().size() >= 3; }, HostedPlugin::kWaitMs));
        for (const KorvexTalkFrame &frame : received.TalkFrames()) {
            EXPECT_EQ(HeaderHex(frame.strData), c.pHeader);
            EXPECT_TRUE(frame.bAccepted);
        }
        ASSERT_TRUE(plugin.Finish());
        EXPECT_EQ(plugin.ExitCode(), 0);
    }
}

TEST_F(TalkTest, TheAlarmSoundGoesAtTheSendInterval)
{
    // 400 bytes: two whole frames, then a frame that rewinds.
    QByteArray sound;
    for (int i = 0; i < 400; ++i)
        sound.append(static_cast<char>(i * 7 + 3));
    ASSERT_TRUE(QDir(m_plugin.App().Path()).mkpath("Sound"));
    ASSERT_TRUE(m_plugin.App().WriteFile("Sound/AlarmSound.wav", sound));
    ASSERT_TRUE(LogIn());
    const std::string strSound = sound.toStdString();
    struct Case
    {
        Json::Value interval;   // the request's "SendInterval"; null: none
        int nIntervalMs;
    };
    size_t nTalks = 0;
    // An interval shorter than a frame lasts (160 samples at 8000 Hz: 20 ms) is held to the frame's duration.
    for (const Case &c : {Case{Json::Value(), 20}, Case{45, 45}, Case{0, 20}, Case{-30, 20}}) {
        SCOPED_TRACE(c.nIntervalMs);
        // The alarm sound goes to the device itself; a channel talk always takes the microphone.
        Json::Value request = Talk(1, "file");
        request["AutoTestEnabled"] = true;
        if (!c.interval.isNull())
            request["SendInterval"] = c.interval;
        ASSERT_EQ(m_plugin.Request(request)["Ret"].asInt(), 100);
        ++nTalks;
        ASSERT_TRUE(WaitForTalk(nTalks, 9));
        const std::vector<KorvexTalkFrame> frames = FramesOf(Handles()[nTalks - 1]);
        // The file's bytes in 160-byte frames, a frame that rewinds, then the file again.
        const std::string strLoop = strSound.substr(0, 320) + strSound.substr(320, 80) + strSound.substr(240, 80);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(frames[i].bAccepted);
            ASSERT_EQ(frames[i].strData.size(), 168u);
            EXPECT_EQ(frames[i].strData.substr(0, 8), std::string("\x00\x00\x01\xFA\x0E\x02\xA0\x00", 8));
            const size_t nInLoop = i % 3;
            EXPECT_EQ(frames[i].strData.substr(8), strLoop.substr(nInLoop * 160, 160)) << i;
            // A whole read waits the interval before the next frame; the rewind frame does not wait.
            if (i + 1 < frames.size() && nInLoop != 2) {
                EXPECT_GE(frames[i + 1].at - frames[i].at, std::chrono::milliseconds(c.nIntervalMs)) << i;
            }
        }
        Json::Value stop = Talk(2, "stop");
        stop["AutoTestEnabled"] = true;
        EXPECT_EQ(m_plugin.Request(stop)["Ret"].asInt(), 100);
    }

    // Without the sound file the talk starts, and the stop reports the file task's error.
    ASSERT_TRUE(QFile::remove(m_plugin.App().FilePath("Sound/AlarmSound.wav")));
    Json::Value request = Talk(1, "nofile");
    request["AutoTestEnabled"] = true;
    ASSERT_EQ(m_plugin.Request(request)["Ret"].asInt(), 100);
    Json::Value stop = Talk(2, "stop");
    stop["AutoTestEnabled"] = true;
    EXPECT_EQ(m_plugin.Request(stop)["Ret"].asInt(), 401037);
}

TEST_F(TalkTest, AbilityOfTheChannels)
{
    ASSERT_TRUE(LogIn());
    const HostMessage reply = m_plugin.Request(Talk(3, "ability"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply["Ret"].asInt(), 100);
    const Json::Value &data = reply["Data"];
    ASSERT_TRUE(data.isObject()) << reply.text.constData();
    EXPECT_EQ(data["Name"].asString(), "ChannelSystemFunction@SupportIPCTalk");
    EXPECT_EQ(JsonText::Write(data["ChannelSystemFunction@SupportIPCTalk"]), "[false,true,false,false]\n");
}
