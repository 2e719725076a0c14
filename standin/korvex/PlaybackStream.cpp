#include "standin/korvex/PlaybackStream.h"

#include "standin/korvex/RecordingTimeline.h"

#include <algorithm>
#include <cstdio>

PlaybackStream::PlaybackStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType,
                               int nAudioRate, int64_t nBeginSeconds, int64_t nDurationMs,
                               ZDK_fRealDataCallBack cbData, void *pDataUser, ZDK_fDownLoadPosCallBack cbPos,
                               void *pPosUser)
    : SimStream(Kind::Playback, nHandle, nLogin)
    , m_videoSpec(videoSpec)
    , m_nAudioType(nAudioType)
    , m_nAudioRate(nAudioRate)
    , m_nBeginSeconds(nBeginSeconds)
    , m_nDurationMs(nDurationMs)
    , m_cbData(cbData)
    , m_pDataUser(pDataUser)
    , m_cbPos(cbPos)
    , m_pPosUser(pPosUser)
    , m_anchor(Now())
{
}

PlaybackStream::~PlaybackStream() = default;

int64_t PlaybackStream::ClockMs(Clock::time_point now) const
{
    if (m_bPaused)
        return m_nAnchorMs;
    const double dElapsed = std::chrono::duration<double, std::milli>(now - m_anchor).count();
    return m_nAnchorMs + static_cast<int64_t>(dElapsed * m_dSpeed);
}

void PlaybackStream::Rebase(Clock::time_point now)
{
    m_nAnchorMs = ClockMs(now);
    m_anchor = now;
}

bool PlaybackStream::Control(int32_t nCommand, int32_t nValue)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Now();
        switch (nCommand) {
        case ZDK_PLAY_PAUSE:
            Rebase(now);
            m_bPaused = true;
            break;
        case ZDK_PLAY_NORMAL:
            Rebase(now);
            m_bPaused = false;
            m_dSpeed = 1.0;
            break;
        case ZDK_PLAY_POSITION:
            if (nValue < 0 || static_cast<int64_t>(nValue) * 1000 >= m_nDurationMs)
                return false;
            m_bSeek = true;
            m_nSeekMs = static_cast<int64_t>(nValue) * 1000;
            break;
        case ZDK_PLAY_FAST:
        case ZDK_PLAY_SLOW:
            if (nValue < 0 || nValue > 4)
                return false;
            Rebase(now);
            m_bPaused = false;
            m_dSpeed = nCommand == ZDK_PLAY_FAST ? double(1 << nValue) : 1.0 / double(1 << nValue);
            break;
        default:
            return false;
        }
    }
    Wake();
    return true;
}

void PlaybackStream::Run()
{
    std::shared_ptr<const VideoLoop> video;
    std::shared_ptr<const AudioLoop> audio;
    if (!MediaLibrary::Instance().Loops(m_videoSpec, m_nAudioType, m_nAudioRate, video, audio)) {
        WaitForStop();
        return;
    }
    const RecordingTimeline timeline(video, audio, m_nBeginSeconds, m_nDurationMs);
    {
        // The play clock starts when the recording is ready.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_anchor = Now();
        m_nAnchorMs = 0;
    }
    const int32_t nTotalKiB = static_cast<int32_t>(std::min<uint64_t>((timeline.TotalBytes() + 1023) / 1024, INT32_MAX));
    size_t k = 0, j = 0;
    bool bEndReported = false;
    std::vector<uint8_t> block;

    while (!Stopping()) {
        if (Broken()) {
            WaitForStop();
            return;
        }
        Clock::time_point now = Now();
        int64_t nClock = 0;
        bool bPaused = false;
        double dSpeed = 1.0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bSeek) {
                m_bSeek = false;
                k = timeline.KeyFrameAtOrBefore(m_nSeekMs);
                j = timeline.AudioAtOrAfter(timeline.VideoTimeMs(k));
                m_nAnchorMs = timeline.VideoTimeMs(k);
                m_anchor = now;
                bEndReported = false;
            }
            nClock = ClockMs(now);
            bPaused = m_bPaused;
            dSpeed = m_dSpeed;
        }
        const bool bVideoLeft = k < timeline.VideoCount();
        const bool bAudioLeft = j < timeline.AudioCount();
        if (!bVideoLeft && !bAudioLeft) {
            if (!bEndReported) {
                bEndReported = true;
                std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
                if (m_cbPos && !Stopping())
                    m_cbPos(Handle(), nTotalKiB, nTotalKiB, m_pPosUser);
            }
            WaitUntil(now + std::chrono::seconds(1));
            continue;
        }
        const bool bVideo = bVideoLeft && (!bAudioLeft || timeline.VideoTimeMs(k) <= timeline.AudioTimeMs(j));
        const int64_t nItemMs = bVideo ? timeline.VideoTimeMs(k) : timeline.AudioTimeMs(j);
        if (nItemMs > nClock + kLeadMs) {
            // Sleep until the play clock brings the item within the lead; a command wakes the thread earlier.
            Clock::time_point wake = now + std::chrono::seconds(1);
            if (!bPaused) {
                const double dWaitMs = double(nItemMs - kLeadMs - nClock) / dSpeed;
                wake = now + std::chrono::microseconds(static_cast<int64_t>(dWaitMs * 1000.0) + 1);
            }
            WaitUntil(wake);
            continue;
        }
        if (bVideo)
            timeline.VideoBlock(k, block);
        else
            timeline.AudioBlock(j, block);
        const int32_t nType = bVideo ? ZDK_DATA_VIDEO : ZDK_DATA_AUDIO;
        if (!Deliver([&] {
                return m_cbData(Handle(), nType, block.data(), static_cast<uint32_t>(block.size()), m_pDataUser);
            }))
            continue;
        // A seek that came while the block was refused replaces it; otherwise go on.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bSeek) {
            if (bVideo)
                ++k;
            else
                ++j;
        }
    }
}
