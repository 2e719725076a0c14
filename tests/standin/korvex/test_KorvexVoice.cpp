// Voice talk of the simulated device: both forms send the device's audio in talk frames from a library thread,
// send-talk-data checks every frame and keeps it, and a stop, logout, cut or clean-up returns only when no voice
// callback can run any more.

#include "platform/korvex.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true, false, false]}},
  {"IP": "10.0.0.2", "Port": 34567, "Channels": 2, "DeviceTalk": false,
   "Audio": {"Codec": "G711U", "SampleRate": 16000},
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true]}},
  {"IP": "10.0.0.3", "Port": 34567, "Channels": 2,
   "ChannelAbilities": {"ChannelSystemFunction@SupportGunBallTwoSensorCamera": [false, false]}}
])";

// Collects what a talk's voice callback receives.
class VoiceProbe
{
public:
    struct Frame
    {
        int32_t lHandle;
        std::string strData;
        int32_t nDataType;
        std::thread::id thread;
    };

    static void OnVoice(int32_t lHandle, const char *pData, int32_t nLength, int32_t nDataType, void *pUser)
    {
        auto *p = static_cast<VoiceProbe *>(pUser);
        p->m_bInside = true;
        // A slow consumer, so that a stop comes while it runs (not a wait of the test).
        if (p->m_nDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(p->m_nDelayMs.load()));
        if (p->m_bStopInside.exchange(false))
            p->m_nStopResult = ZDK_DEV_StopVoiceCom(lHandle);
        {
            std::lock_guard<std::mutex> lock(p->m_mutex);
            p->m_frames.push_back(Frame{lHandle, std::string(pData, static_cast<size_t>(nLength)), nDataType,
                                        std::this_thread::get_id()});
        }
        p->m_bInside = false;
        p->m_cv.notify_all();
    }

    std::vector<Frame> Frames() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    size_t Count() const { return Frames().size(); }
    bool WaitFor(size_t nCount, int nTimeoutMs = 20000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_frames.size() >= nCount; });
    }

    std::atomic<bool> m_bInside{false};
    std::atomic<int> m_nDelayMs{0};
    std::atomic<bool> m_bStopInside{false};
    std::atomic<int32_t> m_nStopResult{-1};

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Frame> m_frames;
};

std::string Frame(std::initializer_list<int> header, size_t nPayload, uint8_t nFill = 0xD5)
{
    std::string s;
    for (int b : header)
        s.push_back(static_cast<char>(b));
    s.append(nPayload, static_cast<char>(nFill));
    return s;
}

std::string Hex(const std::string &s, size_t n)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n && i < s.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(s[i]));
        out += buf;
    }
    return out;
}

} // namespace

class KorvexVoice : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
    }
};

TEST_F(KorvexVoice, BothFormsSendTheDeviceAudioInTalkFramesFromALibraryThread)
{
    struct Case
    {
        const char *pIP;
        bool bChannelForm;
        int32_t nChannel;
        const char *pHeader;    // the first 8 bytes, in hex
        size_t nFrameSize;
        int32_t nDataType;
    };
    const Case cases[] = {
        {"127.0.0.1", false, -1, "000001FA0E024001", 328, ZDK_CODEC_G711A},
        {"127.0.0.1", true, 1, "000001FA0E024001", 328, ZDK_CODEC_G711A},
        {"127.0.0.1", true, -1, "000001FA0E024001", 328, ZDK_CODEC_G711A},
        {"10.0.0.2", true, 1, "000001FA0A048002", 648, ZDK_CODEC_G711U},
    };
    // The library's clock is held: the frames come as the device hears them, one each 40 ms of its time.
    HoldClock();
    VoiceProbe probe;
    const StreamsStop stop;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pIP) + " channel form " + std::to_string(c.bChannelForm) + " channel " +
                     std::to_string(c.nChannel));
        const int32_t lLogin = LoginAt(c.pIP, 34567);
        const size_t nBefore = probe.Count();
        const int32_t lTalk = c.bChannelForm
                                  ? ZDK_DEV_StartVoiceCom_NVR_IPC(lLogin, c.nChannel, &VoiceProbe::OnVoice, &probe)
                                  : ZDK_DEV_StartVoiceCom_MR(lLogin, &VoiceProbe::OnVoice, &probe);
        ASSERT_GT(lTalk, 0) << ZDK_DEV_GetLastError();
        EXPECT_EQ(KorvexControl::OpenTalks(), 1);
        ASSERT_TRUE(KorvexControl::WaitForIdle());
        RunLibraryFor(150);
        EXPECT_EQ(probe.Count(), nBefore + 3) << "nothing before its time";
        RunLibraryFor(10);
        ASSERT_EQ(probe.Count(), nBefore + 4);
        const std::vector<VoiceProbe::Frame> frames = probe.Frames();
        for (size_t i = nBefore; i < frames.size(); ++i) {
            const VoiceProbe::Frame &f = frames[i];
            EXPECT_EQ(f.lHandle, lTalk);
            EXPECT_EQ(f.strData.size(), c.nFrameSize);
            EXPECT_EQ(Hex(f.strData, 8), c.pHeader);
            EXPECT_EQ(f.nDataType, c.nDataType);
            EXPECT_NE(f.thread, std::this_thread::get_id());
        }
        EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 1);
        const size_t nAfterStop = probe.Count();
        EXPECT_FALSE(probe.m_bInside);
        RunLibraryFor(200);
        EXPECT_EQ(probe.Count(), nAfterStop);
        EXPECT_EQ(KorvexControl::OpenTalks(), 0);
        EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 0);
        EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
        EXPECT_EQ(ZDK_DEV_Logout(lLogin), 1);
    }
}

TEST_F(KorvexVoice, TalksTheDeviceCannotHaveAreRefused)
{
    const int32_t lLogin = LoginAt("127.0.0.1", 34567);
    const int32_t lMute = LoginAt("10.0.0.2", 34567);
    const int32_t lNoAbility = LoginAt("10.0.0.3", 34567);
    VoiceProbe probe;
    const StreamsStop stop;
    struct Case
    {
        const char *pWhat;
        int32_t lLogin;
        bool bChannelForm;
        int32_t nChannel;
        bool bCallback;
        int32_t nError;
    };
    const Case cases[] = {
        {"no callback", lLogin, false, -1, false, ZDK_ERR_ILLEGAL_PARAM},
        {"no such login", 9999, false, -1, true, ZDK_ERR_INVALID_HANDLE},
        {"a device that cannot talk", lMute, false, -1, true, ZDK_ERR_NOT_SUPPORTED},
        {"a channel that cannot talk", lLogin, true, 0, true, ZDK_ERR_NOT_SUPPORTED},
        {"no channel can talk", lMute, true, 0, true, ZDK_ERR_NOT_SUPPORTED},
        {"a device without the ability", lNoAbility, true, -1, true, ZDK_ERR_NOT_SUPPORTED},
        {"a channel past the last", lLogin, true, 4, true, ZDK_ERR_NO_CHANNEL},
        {"a channel below -1", lLogin, true, -2, true, ZDK_ERR_NO_CHANNEL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        ZDK_fVoiceDataCallBack cb = c.bCallback ? &VoiceProbe::OnVoice : nullptr;
        const int32_t lTalk = c.bChannelForm ? ZDK_DEV_StartVoiceCom_NVR_IPC(c.lLogin, c.nChannel, cb, &probe)
                                             : ZDK_DEV_StartVoiceCom_MR(c.lLogin, cb, &probe);
        EXPECT_EQ(lTalk, 0);
        EXPECT_EQ(ZDK_DEV_GetLastError(), c.nError);
    }
    EXPECT_EQ(KorvexControl::OpenTalks(), 0);
    // The device with talk ability on a channel talks with every channel at -1.
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_NVR_IPC(lMute, -1, &VoiceProbe::OnVoice, &probe);
    EXPECT_GT(lTalk, 0);
    EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 1);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_NVR_IPC").back(),
              "ZDK_DEV_StartVoiceCom_NVR_IPC login=" + std::to_string(lMute) + " channel=-1");
}

TEST_F(KorvexVoice, SendTalkDataChecksEveryFrameAndKeepsIt)
{
    const int32_t lLogin = LoginAt("127.0.0.1", 34567);
    VoiceProbe probe;
    const StreamsStop stop;
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_NVR_IPC(lLogin, 1, &VoiceProbe::OnVoice, &probe);
    ASSERT_GT(lTalk, 0);
    struct Case
    {
        const char *pWhat;
        std::string strFrame;
        bool bAccepted;
    };
    const Case cases[] = {
        {"A-law at 8000 Hz", Frame({0, 0, 1, 0xFA, 0x0E, 0x02, 0x40, 0x01}, 320), true},
        {"mu-law at 16000 Hz, one byte", Frame({0, 0, 1, 0xFA, 0x0A, 0x04, 0x01, 0x00}, 1), true},
        {"A-law at 16000 Hz, 4088 bytes", Frame({0, 0, 1, 0xFA, 0x0E, 0x04, 0xF8, 0x0F}, 4088), true},
        {"a broken start code", Frame({0, 1, 1, 0xFA, 0x0E, 0x02, 0xA0, 0x00}, 160), false},
        {"a video tag", Frame({0, 0, 1, 0xFC, 0x0E, 0x02, 0xA0, 0x00}, 160), false},
        {"an unknown audio type", Frame({0, 0, 1, 0xFA, 0x0B, 0x02, 0xA0, 0x00}, 160), false},
        {"an unknown rate code", Frame({0, 0, 1, 0xFA, 0x0E, 0x03, 0xA0, 0x00}, 160), false},
        {"a header longer than the payload", Frame({0, 0, 1, 0xFA, 0x0E, 0x02, 0xA0, 0x00}, 40), false},
        {"bytes after the payload", Frame({0, 0, 1, 0xFA, 0x0E, 0x02, 0x28, 0x00}, 160), false},
        {"no payload", Frame({0, 0, 1, 0xFA, 0x0E, 0x02, 0x00, 0x00}, 0), false},
        {"less than a header", Frame({0, 0, 1, 0xFA, 0x0E, 0x02}, 0), false},
    };
    KorvexControl::ClearTalkFrames();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        const int32_t nRet = ZDK_DEV_VoiceComSendData(lTalk, c.strFrame.data(), static_cast<int32_t>(c.strFrame.size()));
        EXPECT_EQ(nRet, c.bAccepted ? 1 : 0);
        if (!c.bAccepted) {
            EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
        }
    }
    const std::vector<KorvexTalkFrame> frames = KorvexControl::TalkFrames();
    ASSERT_EQ(frames.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(cases[i].pWhat);
        EXPECT_EQ(frames[i].strData, cases[i].strFrame);
        EXPECT_EQ(frames[i].bAccepted, cases[i].bAccepted);
        EXPECT_EQ(frames[i].nHandle, lTalk);
        EXPECT_EQ(frames[i].nLogin, lLogin);
        EXPECT_TRUE(frames[i].bChannelForm);
        EXPECT_EQ(frames[i].nChannel, 1);
    }
    EXPECT_TRUE(KorvexControl::WaitForTalkFrames(frames.size(), 0));

    // Nothing to send, or no talk to send it to: refused and not kept.
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, nullptr, 8), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    const std::string strGood = cases[0].strFrame;
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk + 1000, strGood.data(), static_cast<int32_t>(strGood.size())), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 1);
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, strGood.data(), static_cast<int32_t>(strGood.size())), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
    EXPECT_EQ(KorvexControl::TalkFrames().size(), frames.size());
    KorvexControl::FailNextCall("ZDK_DEV_VoiceComSendData", ZDK_ERR_FAILED);
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, strGood.data(), static_cast<int32_t>(strGood.size())), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_FAILED);
}

TEST_F(KorvexVoice, NoVoiceCallbackRunsOnceAStopHasReturned)
{
    const int32_t lLogin = LoginAt("127.0.0.1", 34567);

    VoiceProbe slow, inside, first, second;
    const StreamsStop stop;

    // Stop while a slow callback runs: the stop waits for it.
    slow.m_nDelayMs = 60;
    int32_t lTalk = ZDK_DEV_StartVoiceCom_MR(lLogin, &VoiceProbe::OnVoice, &slow);
    ASSERT_GT(lTalk, 0);
    ASSERT_TRUE(slow.WaitFor(1));
    ASSERT_TRUE(WaitUntil([&] { return slow.m_bInside.load(); }));
    EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 1);
    EXPECT_FALSE(slow.m_bInside);
    const size_t nSlow = slow.Count();
    RunLibraryFor(200);
    EXPECT_EQ(slow.Count(), nSlow);

    // A stop from the talk's own callback: the talk's thread ends when that callback returns.
    inside.m_bStopInside = true;
    lTalk = ZDK_DEV_StartVoiceCom_MR(lLogin, &VoiceProbe::OnVoice, &inside);
    ASSERT_GT(lTalk, 0);
    ASSERT_TRUE(inside.WaitFor(1));
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    EXPECT_EQ(inside.m_nStopResult, 1);
    EXPECT_EQ(inside.Count(), 1u);
    EXPECT_EQ(KorvexControl::OpenTalks(), 0);

    // The logout ends the talks of its login; the clean-up every talk.
    const int32_t lFirst = ZDK_DEV_StartVoiceCom_MR(lLogin, &VoiceProbe::OnVoice, &first);
    const int32_t lOther = LoginAt("10.0.0.2", 34567);
    const int32_t lSecond = ZDK_DEV_StartVoiceCom_NVR_IPC(lOther, 1, &VoiceProbe::OnVoice, &second);
    ASSERT_GT(lFirst, 0);
    ASSERT_GT(lSecond, 0);
    ASSERT_TRUE(first.WaitFor(1));
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(KorvexControl::OpenTalks(), 2);
    EXPECT_EQ(ZDK_DEV_Logout(lLogin), 1);
    EXPECT_FALSE(first.m_bInside);
    EXPECT_EQ(KorvexControl::OpenTalks(), 1);
    EXPECT_EQ(ZDK_DEV_StopVoiceCom(lFirst), 0);
    EXPECT_EQ(ZDK_DEV_Cleanup(), 1);
    EXPECT_FALSE(second.m_bInside);
    // No thread of the library is left to call back.
    EXPECT_EQ(KorvexControl::RunningThreads(), 0);
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
}

TEST_F(KorvexVoice, ACutConnectionCarriesNoTalkAnyMore)
{
    const int32_t lLogin = LoginAt("127.0.0.1", 34567);
    VoiceProbe probe;
    const StreamsStop stop;
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_MR(lLogin, &VoiceProbe::OnVoice, &probe);
    ASSERT_GT(lTalk, 0);
    ASSERT_TRUE(probe.WaitFor(1));
    ASSERT_TRUE(KorvexControl::CutLogin(lLogin));
    // A frame under way when the cut came has landed once the library is idle; nothing comes after it.
    HoldClock();
    const size_t nAfterCut = probe.Count();
    RunLibraryFor(200);
    EXPECT_EQ(probe.Count(), nAfterCut);
    const std::string strFrame = Frame({0, 0, 1, 0xFA, 0x0E, 0x02, 0xA0, 0x00}, 160);
    EXPECT_EQ(ZDK_DEV_VoiceComSendData(lTalk, strFrame.data(), static_cast<int32_t>(strFrame.size())), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_DISCONNECTED);
    EXPECT_EQ(ZDK_DEV_StopVoiceCom(lTalk), 1);
}
