#pragma once

#include "platform/korvex.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/SimStream.h"

#include <chrono>

// A channel's live stream: its loop played out in real time with fresh timestamps, video and audio blocks
// to the V1 and V2 data callbacks. It begins with a key frame once the first data callback is set; later,
// a block that no callback takes is dropped.
class LiveStream : public SimStream
{
public:
    LiveStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate);

    void SetCallback(ZDK_fRealDataCallBack cb, void *pUser);
    void SetCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser);
    // Removes the callback when it is the one set with that user value; false otherwise.
    bool RemoveCallback(ZDK_fRealDataCallBack cb, void *pUser);
    bool RemoveCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser);

    // Seconds since 1970 of the device's local time, and the milliseconds, of now (or of that long ago).
    static void LocalNow(uint32_t &nSeconds, uint16_t &nMilliseconds,
                         std::chrono::milliseconds ago = std::chrono::milliseconds(0));

protected:
    void Run() override;

private:
    bool DeliverBlock(const std::vector<uint8_t> &block, const RealDataFrame &frame, int32_t nDataType);

    const VideoSpec m_videoSpec;
    std::atomic<bool> m_bCallbackSet{false};
    const uint8_t m_nAudioType;
    const int m_nAudioRate;
    // Guarded by m_callbackMutex.
    ZDK_fRealDataCallBack m_cbV1 = nullptr;
    void *m_pUserV1 = nullptr;
    ZDK_fRealDataCallBack_V2 m_cbV2 = nullptr;
    void *m_pUserV2 = nullptr;
};
