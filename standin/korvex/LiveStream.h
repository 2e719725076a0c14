#pragma once

#include "platform/korvex.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/SimHandle.h"
#include "standin/korvex/SimStream.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

class LiveClock;

// A channel's live stream: its loop played out in real time with fresh timestamps, video and audio blocks
// to the V1 and V2 data callbacks, from the thread of its login's clock. It begins with a key frame once the
// first data callback is set; later, a block that no callback takes is dropped, and one that a callback refuses
// comes again shortly after (the stream waits for it; the login's other streams do not).
class LiveStream : public SimHandle, public std::enable_shared_from_this<LiveStream>
{
public:
    using Clock = SimStream::Clock;

    LiveStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate,
               std::shared_ptr<LiveClock> pClock);

    void SetCallback(ZDK_fRealDataCallBack cb, void *pUser);
    void SetCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser);
    // Removes the callback when it is the one set with that user value; false otherwise.
    bool RemoveCallback(ZDK_fRealDataCallBack cb, void *pUser);
    bool RemoveCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser);

    // Joins its login's clock.
    void Start() override;
    // Leaves the clock; a callback in progress on the clock's thread is waited for, unless this is it.
    std::thread Stop() override;
    void Break() override;

    // On the clock's thread: delivers the blocks that are due by the library's clock; the time the next one is
    // due (Clock::time_point::max() when none is to come until something changes).
    Clock::time_point Serve();

    // Seconds since 1970 of the device's local time, and the milliseconds, of now (or of that long ago).
    static void LocalNow(uint32_t &nSeconds, uint16_t &nMilliseconds,
                         std::chrono::milliseconds ago = std::chrono::milliseconds(0));

private:
    enum class Stage { None, V1, V2 };
    enum class Outcome { Delivered, Refused, Ended };

    // The next block into m_block and m_frame, stamped with the time it was due.
    void Prepare(bool bVideo, Clock::time_point due);
    // The prepared block to the callbacks that have not taken it yet.
    Outcome Deliver();
    // The prepared block was taken: the next one's time.
    void Advance();

    const VideoSpec m_videoSpec;
    const uint8_t m_nAudioType;
    const int m_nAudioRate;
    const std::shared_ptr<LiveClock> m_pClock;
    std::atomic<bool> m_bStopped{false};
    std::atomic<bool> m_bBroken{false};
    std::atomic<bool> m_bCallbackSet{false};

    // Held while a callback runs, so that a change or removal of a callback, and the stop, wait for it; a
    // callback may call back into the library for its own handle.
    std::recursive_mutex m_callbackMutex;
    // Guarded by m_callbackMutex.
    ZDK_fRealDataCallBack m_cbV1 = nullptr;
    void *m_pUserV1 = nullptr;
    ZDK_fRealDataCallBack_V2 m_cbV2 = nullptr;
    void *m_pUserV2 = nullptr;

    // The clock's thread alone.
    bool m_bLoaded = false;
    bool m_bNoVideo = false;
    bool m_bStarted = false;
    std::shared_ptr<const VideoLoop> m_pVideo;
    std::shared_ptr<const AudioLoop> m_pAudio;
    Clock::time_point m_nextVideo;
    Clock::time_point m_nextAudio;
    size_t m_nFrame = 0;
    size_t m_nAudio = 0;
    Stage m_eStage = Stage::None;
    bool m_bPendingVideo = false;
    Clock::time_point m_retryAt;
    std::vector<uint8_t> m_block;
    RealDataFrame m_frame{};
};
