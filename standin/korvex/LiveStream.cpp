#include "standin/korvex/LiveStream.h"

#include "platform/stream_block.h"

#include <chrono>
#include <cstdio>
#include <ctime>

LiveStream::LiveStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate)
    : SimStream(Kind::Live, nHandle, nLogin)
    , m_videoSpec(videoSpec)
    , m_nAudioType(nAudioType)
    , m_nAudioRate(nAudioRate)
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
    Wake();
}

void LiveStream::SetCallback(ZDK_fRealDataCallBack_V2 cb, void *pUser)
{
    {
        std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
        m_cbV2 = cb;
        m_pUserV2 = pUser;
    }
    m_bCallbackSet = true;
    Wake();
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

bool LiveStream::DeliverBlock(const std::vector<uint8_t> &block, const RealDataFrame &frame, int32_t nDataType)
{
    // A block nobody takes is dropped, as a device would; one refused by a callback comes again.
    if (!Deliver([&] {
            return m_cbV1 ? m_cbV1(Handle(), nDataType, block.data(), static_cast<uint32_t>(block.size()), m_pUserV1)
                          : 1;
        }))
        return false;
    return Deliver([&] { return m_cbV2 ? m_cbV2(Handle(), &frame, m_pUserV2) : 1; });
}

void LiveStream::Run()
{
    std::shared_ptr<const VideoLoop> video;
    std::shared_ptr<const AudioLoop> audio;
    if (!MediaLibrary::Instance().Loops(m_videoSpec, m_nAudioType, m_nAudioRate, video, audio)) {
        WaitForStop();
        return;
    }

    // The stream begins, with its key frame, once a data callback is there to take it.
    while (!m_bCallbackSet.load()) {
        if (!WaitUntil(Now() + std::chrono::seconds(1)))
            return;
    }
    const auto frameStep = std::chrono::microseconds(1000000 / video->nFrameRate);
    const auto audioStep = std::chrono::milliseconds(audio ? audio->nBlockMs : 1000);
    const auto lateLimit = std::chrono::milliseconds(200);
    Clock::time_point nextVideo = Now();
    Clock::time_point nextAudio = nextVideo;
    size_t nFrame = 0, nAudio = 0;
    std::vector<uint8_t> block;
    block.reserve(256 * 1024);
    RealDataFrame frame{};

    while (!Stopping()) {
        if (Broken()) {
            WaitForStop();
            return;
        }
        const bool bVideoNext = !audio || nextVideo <= nextAudio;
        const Clock::time_point due = bVideoNext ? nextVideo : nextAudio;
        if (Now() < due) {
            if (!WaitUntil(due))
                return;
            continue;
        }
        uint32_t nSeconds = 0;
        uint16_t nMs = 0;
        // Stamped with the time it was due, as a camera stamps its time of capture: a block its thread delivers
        // late keeps its time, so the stream's timestamps stay as even as its pictures.
        LocalNow(nSeconds, nMs, std::chrono::duration_cast<std::chrono::milliseconds>(Now() - due));
        frame = RealDataFrame{};
        frame.nTimeStamp = nSeconds;
        frame.nMilliSecond = nMs;
        if (bVideoNext) {
            const EncodedFrame &ef = video->frames[nFrame % video->frames.size()];
            block.clear();
            StreamBlock::AppendVideo(block, ef.bKeyFrame, video->nCodec, static_cast<uint8_t>(video->nFrameRate),
                                     nSeconds, nMs, ef.data.data(), ef.data.size());
            frame.nKind = ZDK_FRAME_VIDEO;
            frame.nKeyFrame = ef.bKeyFrame ? 1 : 0;
            frame.nCodec = video->IsH265() ? ZDK_CODEC_H265 : ZDK_CODEC_H264;
            frame.nFrameRate = static_cast<uint32_t>(video->nFrameRate);
            frame.nWidth = static_cast<uint16_t>(video->nWidth);
            frame.nHeight = static_cast<uint16_t>(video->nHeight);
            frame.pData = block.data();
            frame.nDataLength = static_cast<uint32_t>(block.size());
            if (!DeliverBlock(block, frame, ZDK_DATA_VIDEO))
                continue;
            ++nFrame;
            nextVideo += frameStep;
            // A stream held up by a callback goes on from now rather than in a burst.
            const Clock::time_point now = Now();
            if (nextVideo + lateLimit < now)
                nextVideo = now;
        } else {
            const std::vector<uint8_t> &payload = audio->blocks[nAudio % audio->blocks.size()];
            block.clear();
            StreamBlock::AppendAudio(block, audio->nAudioType, audio->nRateCode, payload.data(), payload.size());
            frame.nKind = ZDK_FRAME_AUDIO;
            frame.nCodec = audio->nAudioType == StreamBlock::kAudioMuLaw ? ZDK_CODEC_G711U : ZDK_CODEC_G711A;
            frame.nSampleRate = static_cast<uint32_t>(audio->nSampleRate);
            frame.nChannels = 1;
            frame.nBitsPerSample = 8;
            frame.pData = block.data();
            frame.nDataLength = static_cast<uint32_t>(block.size());
            if (!DeliverBlock(block, frame, ZDK_DATA_AUDIO))
                continue;
            ++nAudio;
            nextAudio += audioStep;
            const Clock::time_point now = Now();
            if (nextAudio + lateLimit < now)
                nextAudio = now;
        }
    }
}
