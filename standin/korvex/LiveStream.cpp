#include "standin/korvex/LiveStream.h"

#include "platform/stream_block.h"
#include "standin/korvex/LiveClock.h"

#include <chrono>
#include <ctime>

namespace {
// A block a callback refused comes again after this long.
constexpr std::chrono::milliseconds kRetryDelay{20};
// A stream held up longer goes on from now rather than in a burst.
constexpr std::chrono::milliseconds kLateLimit{200};
} // namespace

LiveStream::LiveStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType,
                       int nAudioRate, std::shared_ptr<LiveClock> pClock)
    : SimHandle(Kind::Live, nHandle, nLogin)
    , m_videoSpec(videoSpec)
    , m_nAudioType(nAudioType)
    , m_nAudioRate(nAudioRate)
    , m_pClock(std::move(pClock))
{
}

void LiveStream::SetCallback(ZDK_fRealDataCallBack cb, void *pUser)
{
    {
        std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
        m_cbV1 = cb;
        m_pUserV1 = pUser;
    }
    m_bCallbackSet = true;
    m_pClock->Nudge();
}

void LiveStream::SetCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser)
{
    {
        std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
        m_cbV2 = cb;
        m_pUserV2 = pUser;
    }
    m_bCallbackSet = true;
    m_pClock->Nudge();
}

bool LiveStream::RemoveCallback(ZDK_fRealDataCallBack cb, void *pUser)
{
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (!m_cbV1 || m_cbV1 != cb || m_pUserV1 != pUser)
        return false;
    m_cbV1 = nullptr;
    m_pUserV1 = nullptr;
    return true;
}

bool LiveStream::RemoveCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser)
{
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (!m_cbV2 || m_cbV2 != cb || m_pUserV2 != pUser)
        return false;
    m_cbV2 = nullptr;
    m_pUserV2 = nullptr;
    return true;
}

void LiveStream::Start() { m_pClock->Add(shared_from_this()); }

std::thread LiveStream::Stop()
{
    {
        std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
        m_bStopped = true;
    }
    m_pClock->Remove(this);
    return std::thread();
}

void LiveStream::Break() { m_bBroken = true; }

void LiveStream::LocalNow(uint32_t &nSeconds, uint16_t &nMilliseconds, std::chrono::milliseconds ago)
{
    const auto now = std::chrono::system_clock::now() - ago;
    const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t t = static_cast<time_t>(nMs / 1000);
    struct tm local;
    localtime_r(&t, &local);
    nSeconds = static_cast<uint32_t>(t + local.tm_gmtoff);
    nMilliseconds = static_cast<uint16_t>(nMs % 1000);
}

LiveStream::Clock::time_point LiveStream::Serve()
{
    constexpr Clock::time_point kNever = Clock::time_point::max();
    if (m_bStopped || m_bNoVideo)
        return kNever;
    if (!m_bLoaded) {
        m_bLoaded = true;
        if (!MediaLibrary::Instance().Loops(m_videoSpec, m_nAudioType, m_nAudioRate, m_pVideo, m_pAudio)) {
            m_bNoVideo = true;
            return kNever;
        }
    }
    // The stream begins, with its key frame, once a data callback is there to take it.
    if (!m_bCallbackSet)
        return kNever;
    if (!m_bStarted) {
        m_bStarted = true;
        m_nextVideo = m_nextAudio = SimStream::Now();
    }
    for (;;) {
        if (m_bStopped || m_bBroken)
            return kNever;
        if (m_eStage != Stage::None) {
            if (SimStream::Now() < m_retryAt)
                return m_retryAt;
            const Outcome eOutcome = Deliver();
            if (eOutcome == Outcome::Ended)
                return kNever;
            if (eOutcome == Outcome::Refused) {
                m_retryAt = SimStream::Now() + kRetryDelay;
                return m_retryAt;
            }
            Advance();
            continue;
        }
        const bool bVideoNext = !m_pAudio || m_nextVideo <= m_nextAudio;
        const Clock::time_point due = bVideoNext ? m_nextVideo : m_nextAudio;
        if (SimStream::Now() < due)
            return due;
        Prepare(bVideoNext, due);
    }
}

void LiveStream::Prepare(bool bVideo, Clock::time_point due)
{
    uint32_t nSeconds = 0;
    uint16_t nMs = 0;
    // Stamped with the time it was due, as a camera stamps its time of capture: a block delivered late keeps its
    // time, so the stream's timestamps stay as even as its pictures.
    LocalNow(nSeconds, nMs, std::chrono::duration_cast<std::chrono::milliseconds>(SimStream::Now() - due));
    m_frame = RealDataFrame{};
    m_frame.nTimeStamp = nSeconds;
    m_frame.nMilliSecond = nMs;
    m_block.clear();
    if (bVideo) {
        const VideoLoop &video = *m_pVideo;
        const EncodedFrame &ef = video.frames[m_nFrame % video.frames.size()];
        StreamBlock::AppendVideo(m_block, ef.bKeyFrame, video.nCodec, static_cast<uint8_t>(video.nFrameRate), nSeconds,
                                 nMs, ef.data.data(), ef.data.size());
        m_frame.nKind = ZDK_FRAME_VIDEO;
        m_frame.nKeyFrame = ef.bKeyFrame ? 1 : 0;
        m_frame.nCodec = video.IsH265() ? ZDK_CODEC_H265 : ZDK_CODEC_H264;
        m_frame.nFrameRate = static_cast<uint32_t>(video.nFrameRate);
        m_frame.nWidth = static_cast<uint16_t>(video.nWidth);
        m_frame.nHeight = static_cast<uint16_t>(video.nHeight);
    } else {
        const AudioLoop &audio = *m_pAudio;
        const std::vector<uint8_t> &payload = audio.blocks[m_nAudio % audio.blocks.size()];
        StreamBlock::AppendAudio(m_block, audio.nAudioType, audio.nRateCode, payload.data(), payload.size());
        m_frame.nKind = ZDK_FRAME_AUDIO;
        m_frame.nCodec = audio.nAudioType == StreamBlock::kAudioMuLaw ? ZDK_CODEC_G711U : ZDK_CODEC_G711A;
        m_frame.nSampleRate = static_cast<uint32_t>(audio.nSampleRate);
        m_frame.nChannels = 1;
        m_frame.nBitsPerSample = 8;
    }
    m_frame.pData = m_block.data();
    m_frame.nDataLength = static_cast<uint32_t>(m_block.size());
    m_bPendingVideo = bVideo;
    m_eStage = Stage::V1;
    m_retryAt = Clock::time_point::min();
}

LiveStream::Outcome LiveStream::Deliver()
{
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    // A callback may stop the stream, or cut its login, for the next one not to run.
    if (m_bStopped || m_bBroken)
        return Outcome::Ended;
    if (m_eStage == Stage::V1) {
        if (m_cbV1 && m_cbV1(Handle(), m_bPendingVideo ? ZDK_DATA_VIDEO : ZDK_DATA_AUDIO, m_block.data(),
                             static_cast<uint32_t>(m_block.size()), m_pUserV1) <= 0)
            return Outcome::Refused;
        m_eStage = Stage::V2;
        if (m_bStopped || m_bBroken)
            return Outcome::Ended;
    }
    if (m_cbV2 && m_cbV2(Handle(), &m_frame, m_pUserV2) <= 0)
        return Outcome::Refused;
    m_eStage = Stage::None;
    return Outcome::Delivered;
}

void LiveStream::Advance()
{
    Clock::time_point &next = m_bPendingVideo ? m_nextVideo : m_nextAudio;
    if (m_bPendingVideo) {
        ++m_nFrame;
        next += std::chrono::microseconds(1000000 / m_pVideo->nFrameRate);
    } else {
        ++m_nAudio;
        next += std::chrono::milliseconds(m_pAudio->nBlockMs);
    }
    const Clock::time_point now = SimStream::Now();
    if (next + kLateLimit < now)
        next = now;
}
