// CTalk with the microphone against the simulated device and the decode stand-in: the frames the device
// receives (sizes, headers, the microphone's A-law codes) at 8000 and 16000 Hz, the device's audio on port 499,
// the talk record and the channel ability, failed starts that undo what they opened, and stops from every state.

#include "device/CTalk.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VoiceFixture.h"

#include <QFile>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace VoiceTest;

namespace {

using CTalkTest = VoiceFixture;

const char kAbility[] = "ChannelSystemFunction@SupportIPCTalk";

std::vector<KorvexTalkFrame> Accepted()
{
    std::vector<KorvexTalkFrame> frames;
    for (const KorvexTalkFrame &f : KorvexControl::TalkFrames())
        if (f.bAccepted)
            frames.push_back(f);
    return frames;
}

bool WaitForAccepted(size_t nCount, int nTimeoutMs = 20000)
{
    return PavlineTest::WaitUntil([&] { return Accepted().size() >= nCount; }, nTimeoutMs);
}

size_t Count(const std::vector<std::string> &lines) { return lines.size(); }

// What nothing of a talk may leave behind.
void ExpectNothingHeld()
{
    EXPECT_EQ(KorvexControl::OpenTalks(), 0);
    EXPECT_FALSE(PavlineControl::CaptureRunning());
    EXPECT_FALSE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
    EXPECT_TRUE(PavlineControl::SharedSoundPorts().empty());
    EXPECT_EQ(CTalk::VoicePortOwner(), nullptr);
}

// Once a talk has ended, a stop succeeds without calling either library.
void ExpectStopCallsNothing(CTalk &talk)
{
    PavlineControl::ClearJournal();
    KorvexControl::ClearJournal();
    EXPECT_EQ(talk.StopTalk(), 1);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    EXPECT_TRUE(KorvexControl::Journal().empty());
}

} // namespace

TEST_F(CTalkTest, TheMicrophoneReachesTheDeviceInALawFramesAtTheTalksRate)
{
    struct Case
    {
        const char *pWhat;
        bool bChannel;
        bool b16K;
        int nSetRate;   // 0: not set
        int nRate;
        const char *pHeader;
    };
    const Case cases[] = {
        {"device, 8000 Hz by default", false, false, 0, 8000, "000001FA0E024001"},
        {"device, the 16 kHz flag", false, true, 0, 16000, "000001FA0E044001"},
        {"channel, 16000 Hz set", true, false, 16000, 16000, "000001FA0E044001"},
        {"channel, 8000 Hz set after the flag", true, true, 8000, 8000, "000001FA0E024001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        KorvexControl::ClearJournal();
        KorvexControl::ClearTalkFrames();
        PavlineControl::ClearJournal();
        const std::vector<int16_t> mic = UseMic(c.nRate, c.nRate);
        CTalk talk;
        talk.SetDeviceInfo(LoginInfo());
        talk.SetSampleRate16K(c.b16K);
        if (c.nSetRate)
            talk.SetSampleRate(c.nSetRate);
        ASSERT_TRUE(c.bChannel ? talk.TalkChannel(1) : talk.TalkDevice());
        EXPECT_TRUE(talk.IsStarted());
        EXPECT_GT(talk.GetTalkHandle(), 0);
        EXPECT_EQ(CTalk::VoicePortOwner(), &talk);
        ASSERT_TRUE(WaitForAccepted(6));

        // One look at what was sent (the microphone goes on sending meanwhile): every frame was accepted.
        const std::vector<KorvexTalkFrame> sent = KorvexControl::TalkFrames();
        std::vector<KorvexTalkFrame> frames;
        for (const KorvexTalkFrame &f : sent)
            if (f.bAccepted)
                frames.push_back(f);
        EXPECT_EQ(frames.size(), sent.size());
        std::string strPayloads;
        for (const KorvexTalkFrame &f : frames) {
            EXPECT_EQ(f.nHandle, talk.GetTalkHandle());
            EXPECT_EQ(f.bChannelForm, c.bChannel);
            EXPECT_EQ(f.strData.size(), 328u);
            EXPECT_EQ(Hex(f.strData), c.pHeader);
            strPayloads += f.strData.substr(8);
        }
        // Every microphone sample, in order, from the first.
        EXPECT_EQ(strPayloads, Alaw(mic, 0, strPayloads.size()));

        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_OpenStream"),
                  std::vector<std::string>{"KTN_VIEW_OpenStream 499 0 2560000"});
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_Play"), std::vector<std::string>{"KTN_VIEW_Play 499 0"});
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_PlaySoundShare"),
                  std::vector<std::string>{"KTN_VIEW_PlaySoundShare 499"});
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StartAudioCapture"),
                  std::vector<std::string>{"KTN_VIEW_StartAudioCapture 16 " + std::to_string(c.nRate) + " 640"});
        const std::string strLogin = "login=" + std::to_string(m_lLogin);
        if (c.bChannel) {
            EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_NVR_IPC"),
                      std::vector<std::string>{"ZDK_DEV_StartVoiceCom_NVR_IPC " + strLogin + " channel=1"});
        } else {
            EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetDevConfig"),
                      std::vector<std::string>{"ZDK_DEV_GetDevConfig " + strLogin +
                                               " cmd=9 channel=-1 size=229 wait=15000"});
            EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_MR"),
                      std::vector<std::string>{"ZDK_DEV_StartVoiceCom_MR " + strLogin});
        }
        // The device's audio is heard on port 499.
        EXPECT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::SoundSamples(CTalk::kTalkPort) > 0; }));
        EXPECT_EQ(PavlineControl::SharedSoundPorts(), std::vector<int>{CTalk::kTalkPort});

        EXPECT_EQ(talk.StopTalk(), 1);
        EXPECT_EQ(talk.GetTalkHandle(), 0);
        EXPECT_FALSE(talk.IsStarted());
        // The capture has stopped (above), so no microphone block can send a frame any more.
        ExpectNothingHeld();
    }
}

TEST_F(CTalkTest, TheDevicesAudioGoesToPort499AsItCame)
{
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    ASSERT_TRUE(talk.TalkDevice());
    const QString strRecord = TempPath("port499.bin");
    ASSERT_NE(KTN_VIEW_StartDataRecord(CTalk::kTalkPort, strRecord.toLocal8Bit().constData(), KTN_RECORD_BLOCKS), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::SoundSamples(CTalk::kTalkPort) >= 3 * 320; }));
    EXPECT_EQ(talk.StopTalk(), 1);
    QFile file(strRecord);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::vector<std::string> frames = SplitFrames(file.readAll().toStdString());
    ASSERT_GE(frames.size(), 3u);
    // The device's A-law at 8000 Hz, 40 ms a frame.
    for (const std::string &f : frames) {
        EXPECT_EQ(f.size(), 328u);
        EXPECT_EQ(Hex(f), "000001FA0E024001");
    }
}

TEST_F(CTalkTest, TheTalkRecordDecidesWhetherTheDeviceTalks)
{
    const int32_t lMute = LoginAt("10.0.0.2", 34567);
    struct Case
    {
        const char *pWhat;
        int32_t lLogin;
        bool bFailRead;
        QString strLog;
    };
    const Case cases[] = {
        {"a device that cannot talk", lMute, false, "could not talk"},
        {"the record not read", m_lLogin, true, "ZDK_DEV_GetDevConfig=-10000"},
        {"no such login", 9999, false, "ZDK_DEV_GetDevConfig=-10002"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        KorvexControl::ClearJournal();
        PavlineControl::ClearJournal();
        if (c.bFailRead)
            KorvexControl::FailNextCall("ZDK_DEV_GetDevConfig", ZDK_ERR_FAILED);
        LogCapture log;
        CTalk talk;
        talk.SetDeviceInfo(LoginInfo(c.lLogin));
        EXPECT_FALSE(talk.TalkDevice());
        EXPECT_TRUE(log.WaitFor(c.strLog));
        EXPECT_FALSE(talk.IsStarted());
        EXPECT_EQ(Count(KorvexControl::JournalOf("ZDK_DEV_GetDevConfig")), 1u);
        EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_MR").empty());
        EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_OpenStream").empty());
        EXPECT_EQ(talk.StopTalk(), 1);
        ExpectNothingHeld();
    }
}

TEST_F(CTalkTest, TalkChannelNeedsTheChannelsAbility)
{
    const int32_t lMute = LoginAt("10.0.0.2", 34567);
    struct Case
    {
        const char *pWhat;
        int32_t lLogin;     // 0: the talking device
        int nChannel;
        const char *pReply; // null: the device's own answer
        bool bAsked;        // the ability is read
        bool bTalks;
        QString strLog;
    };
    const Case cases[] = {
        {"a channel that can talk", 0, 1, nullptr, true, true, ""},
        {"any channel", 0, -1, nullptr, true, true, ""},
        {"a channel that cannot", 0, 0, nullptr, true, false, "channel 0 does not support talk"},
        {"the last channel", 0, 3, nullptr, true, false, "channel 3 does not support talk"},
        {"no channel of the device", lMute, -1, nullptr, true, false, "channel -1 does not support talk"},
        {"channel 120", 0, 120, nullptr, false, false, "channel 120 out of range"},
        {"channel -2", 0, -2, nullptr, false, false, "channel -2 out of range"},
        {"not JSON", 0, 1, "talk: yes", true, false, "channel 1 does not support talk"},
        {"not an object", 0, 1, "[true, true]", true, false, "channel 1 does not support talk"},
        {"no array of that name", 0, 1, R"({"Name": "Other"})", true, false, "channel 1 does not support talk"},
        {"a name that is no text", 0, 1, R"({"Name": 5, "5": [true, true]})", true, false,
         "channel 1 does not support talk"},
        {"a text flag", 0, 1, R"({"Name": "X", "X": [0, "1"]})", true, false, "channel 1 does not support talk"},
        {"past the array", 0, 2, R"({"Name": "X", "X": [0, 1]})", true, false, "channel 2 does not support talk"},
        // The answer names its own array; the device then refuses the channel itself.
        {"the device refuses", 0, 0, R"({"Name": "X", "X": [1, 0]})", true, false,
         "ZDK_DEV_StartVoiceCom_NVR_IPC error=-10004"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        KorvexControl::ClearJournal();
        PavlineControl::ClearJournal();
        if (c.pReply)
            KorvexControl::ReplyNext(kAbility, c.pReply);
        LogCapture log;
        CTalk talk;
        talk.SetDeviceInfo(LoginInfo(c.lLogin));
        EXPECT_EQ(talk.TalkChannel(c.nChannel), c.bTalks);
        EXPECT_EQ(talk.IsStarted(), c.bTalks);
        const std::string strLogin = "login=" + std::to_string(c.lLogin ? c.lLogin : m_lLogin);
        EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_GetChannelAbility_Json"),
                  c.bAsked ? std::vector<std::string>{"ZDK_DEV_GetChannelAbility_Json " + strLogin + " name=" + kAbility +
                                                      " channel=-1 size=307200 wait=20000"}
                           : std::vector<std::string>{});
        if (c.bTalks) {
            EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_NVR_IPC"),
                      std::vector<std::string>{"ZDK_DEV_StartVoiceCom_NVR_IPC " + strLogin +
                                               " channel=" + std::to_string(c.nChannel)});
        } else {
            EXPECT_TRUE(log.WaitFor(c.strLog));
        }
        EXPECT_EQ(talk.StopTalk(), 1);
        ExpectNothingHeld();
    }

    // The ability read itself fails.
    KorvexControl::FailNextCall("ZDK_DEV_GetChannelAbility_Json", ZDK_ERR_FAILED);
    LogCapture log;
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    EXPECT_FALSE(talk.TalkChannel(1));
    EXPECT_TRUE(log.WaitFor("ZDK_DEV_GetChannelAbility_Json=-10000"));
    ExpectNothingHeld();
}

TEST_F(CTalkTest, AFailedStartClosesWhatItOpened)
{
    struct Case
    {
        const char *pWhat;
        bool bChannel;
        const char *pPavlineFail;
        const char *pKorvexFail;
        QString strLog;
        size_t nStops, nCloses, nVoiceStops;
    };
    const Case cases[] = {
        {"the port does not open", false, "KTN_VIEW_OpenStream", nullptr, "KTN_VIEW_OpenStream failed m_lError = 13", 0,
         0, 0},
        {"the port does not play", false, "KTN_VIEW_Play", nullptr, "KTN_VIEW_Play failed m_lError = 13", 0, 1, 0},
        {"no shared sound", false, "KTN_VIEW_PlaySoundShare", nullptr, "KTN_VIEW_PlaySoundShare failed m_lError = 13",
         1, 1, 0},
        {"the device refuses", false, nullptr, "ZDK_DEV_StartVoiceCom_MR",
         "ZDK_DEV_StartVoiceCom_MR failed m_lError = -10000", 1, 1, 0},
        {"no microphone", false, "KTN_VIEW_StartAudioCapture", nullptr,
         "KTN_VIEW_StartAudioCapture failed m_lError = 13", 1, 1, 1},
        {"the channel refuses", true, nullptr, "ZDK_DEV_StartVoiceCom_NVR_IPC",
         "ZDK_DEV_StartVoiceCom_NVR_IPC error=-10000", 1, 1, 0},
        {"no microphone for the channel", true, "KTN_VIEW_StartAudioCapture", nullptr, "KTN_VIEW_StartAudioCapture 13",
         1, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        KorvexControl::ClearJournal();
        PavlineControl::ClearJournal();
        if (c.pPavlineFail)
            PavlineControl::FailNextCall(c.pPavlineFail, KTN_ERR_FAILED);
        if (c.pKorvexFail)
            KorvexControl::FailNextCall(c.pKorvexFail, ZDK_ERR_FAILED);
        LogCapture log;
        CTalk talk;
        talk.SetDeviceInfo(LoginInfo());
        EXPECT_FALSE(c.bChannel ? talk.TalkChannel(1) : talk.TalkDevice());
        EXPECT_TRUE(log.WaitFor(c.strLog));
        EXPECT_FALSE(talk.IsStarted());
        EXPECT_EQ(Count(PavlineControl::JournalOf("KTN_VIEW_Stop")), c.nStops);
        EXPECT_EQ(Count(PavlineControl::JournalOf("KTN_VIEW_CloseStream")), c.nCloses);
        EXPECT_EQ(Count(KorvexControl::JournalOf("ZDK_DEV_StopVoiceCom")), c.nVoiceStops);
        ExpectNothingHeld();
        // Nothing is left to stop.
        ExpectStopCallsNothing(talk);
    }
}

TEST_F(CTalkTest, StopFromEveryState)
{
    // New, without a login.
    CTalk none;
    EXPECT_EQ(none.StopTalk(), 0);

    // New, with a login: nothing to stop.
    CTalk fresh;
    fresh.SetDeviceInfo(LoginInfo());
    EXPECT_EQ(fresh.StopTalk(), 1);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    EXPECT_TRUE(KorvexControl::Journal().empty());

    // Running, stopped twice, started again.
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    ASSERT_TRUE(talk.TalkDevice());
    ASSERT_TRUE(WaitForAccepted(1));
    EXPECT_EQ(talk.StopTalk(), 1);
    ExpectNothingHeld();
    ExpectStopCallsNothing(talk);
    ASSERT_TRUE(talk.TalkChannel(1));
    EXPECT_EQ(talk.StopTalk(), 1);
    ExpectNothingHeld();

    // Deleted while it runs: stopped first, so no callback reaches the freed object.
    {
        auto pTalk = std::make_unique<CTalk>();
        pTalk->SetDeviceInfo(LoginInfo());
        ASSERT_TRUE(pTalk->TalkDevice());
        ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::SoundSamples(CTalk::kTalkPort) > 0; }));
    }
    ExpectNothingHeld();

    // A second talk cannot take port 499 while the first holds it.
    CTalk first, second;
    first.SetDeviceInfo(LoginInfo());
    second.SetDeviceInfo(LoginInfo());
    ASSERT_TRUE(first.TalkDevice());
    LogCapture log;
    EXPECT_FALSE(second.TalkDevice());
    EXPECT_TRUE(log.WaitFor("port 499 and the microphone are in use"));
    EXPECT_EQ(KorvexControl::OpenTalks(), 1);
    EXPECT_EQ(second.StopTalk(), 1);
    EXPECT_TRUE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
    EXPECT_EQ(first.StopTalk(), 1);
    ExpectNothingHeld();
}

TEST_F(CTalkTest, ACaptureBlockLongerThanAFrameGoesOutInFramesThatFit)
{
    // File mode without the alarm sound: the talk runs, its file task ended, nothing else sends.
    LogCapture log;
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    talk.SetFileMode(true);
    ASSERT_TRUE(talk.TalkDevice());
    EXPECT_TRUE(log.WaitFor("Audio File Not Exists! Path: " + AppPath("Sound/AlarmSound.wav")));
    EXPECT_TRUE(PavlineTest::WaitUntil([&] { return talk.GetErrorCode() == CTalk::kFileMissing; }));
    KorvexControl::ClearTalkFrames();

    std::vector<int16_t> samples(5000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>((static_cast<int>(i) * 7919) % 60000 - 30000);
    std::vector<unsigned char> pcm(2 * samples.size() + 1, 0x7F);   // an odd last byte
    for (size_t i = 0; i < samples.size(); ++i) {
        pcm[2 * i] = static_cast<unsigned char>(samples[i] & 0xFF);
        pcm[2 * i + 1] = static_cast<unsigned char>((samples[i] >> 8) & 0xFF);
    }
    CTalk::OnAudioCapture(pcm.data(), static_cast<int32_t>(pcm.size()), nullptr);
    CTalk::OnAudioCapture(nullptr, 640, &talk);
    CTalk::OnAudioCapture(pcm.data(), 1, &talk);
    EXPECT_TRUE(KorvexControl::TalkFrames().empty());

    CTalk::OnAudioCapture(pcm.data(), static_cast<int32_t>(pcm.size()), &talk);
    const std::vector<KorvexTalkFrame> frames = KorvexControl::TalkFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].bAccepted);
    EXPECT_TRUE(frames[1].bAccepted);
    EXPECT_EQ(frames[0].strData.size(), static_cast<size_t>(CTalk::kFrameBufferSize));
    EXPECT_EQ(Hex(frames[0].strData), "000001FA0E02F80F");
    EXPECT_EQ(Hex(frames[1].strData), "000001FA0E029003");
    EXPECT_EQ(frames[0].strData.substr(8) + frames[1].strData.substr(8), Alaw(samples, 0, samples.size()));
    EXPECT_EQ(talk.StopTalk(), 1);
    ExpectNothingHeld();
}
