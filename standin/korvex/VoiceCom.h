#pragma once

#include "platform/korvex.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A talk frame that reached the device through ZDK_DEV_VoiceComSendData, accepted or refused.
struct KorvexTalkFrame
{
    int32_t nHandle = 0;
    int32_t nLogin = 0;
    bool bChannelForm = false;  // a talk with a channel (ZDK_DEV_StartVoiceCom_NVR_IPC)
    int32_t nChannel = -1;      // its channel, -1 for every channel; -1 for a talk with the device itself
    std::string strData;        // the bytes given, header included
    bool bAccepted = false;
    std::chrono::steady_clock::time_point at;
};

// The device side of voice talk.
//
// A talk with the device itself needs a device whose entry lets it talk ("DeviceTalk"); a talk with a channel
// needs that channel's "ChannelSystemFunction@SupportIPCTalk" ability (-1: any channel with it). Each talk runs a
// thread that sends the device's audio (its "Audio" codec and rate, A-law at 8000 Hz for a device without audio)
// to the voice callback, 40 ms per frame, with the G.711 type code (ZDK_CODEC_G711A or ZDK_CODEC_G711U) as the
// data type. Stopping a talk, or the logout of its login, returns once no voice callback can run any more.
//
// The device checks every frame it is sent: the header 00 00 01 FA, audio type 0x0E or 0x0A, rate code 0x02 or
// 0x04, a payload of at least one byte whose length is the header's, nothing after it. A frame that fails the
// check is refused with ZDK_ERR_ILLEGAL_PARAM; both kinds are kept for tests, in order.
class VoiceCom
{
public:
    static VoiceCom &Instance();

    // The korvex.h functions: a talk handle or a bool, 0 with the last error set on failure.
    int32_t Start(int32_t lLogin, bool bChannelForm, int32_t nChannel, ZDK_fVoiceDataCallBack cb, void *pUser);
    int32_t Send(int32_t lHandle, const char *pData, int32_t nLength);
    int32_t Stop(int32_t lHandle);

    // Whether a frame passes the device's check.
    static bool CheckFrame(const uint8_t *pData, size_t nLength);

    // Control.
    std::vector<KorvexTalkFrame> Frames();
    bool WaitForFrames(size_t nCount, int nTimeoutMs);
    void ClearFrames();
    // Talks that run (not stopped, not ended by a logout or a clean-up).
    int OpenTalks();
    void Reset();

private:
    VoiceCom() = default;
    void Keep(KorvexTalkFrame &&frame);

    // Kept frames beyond this many push the oldest out.
    static constexpr size_t kMaxKept = 20000;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<KorvexTalkFrame> m_frames;
    size_t m_nTotal = 0;
    struct Talk
    {
        int32_t nHandle;
        int32_t nLogin;
        bool bChannelForm;
        int32_t nChannel;
    };
    std::vector<Talk> m_talks;  // every talk started since the reset
};
