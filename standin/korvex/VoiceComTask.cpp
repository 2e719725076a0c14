#include "standin/korvex/VoiceComTask.h"

#include "platform/stream_block.h"

#include <vector>

VoiceComTask::VoiceComTask(int32_t nHandle, int32_t nLogin, int32_t nChannel, std::shared_ptr<const AudioLoop> audio,
                           ZDK_fVoiceDataCallBack cb, void *pUser)
    : SimStream(Kind::Talk, nHandle, nLogin)
    , m_nChannel(nChannel)
    , m_audio(std::move(audio))
    , m_cb(cb)
    , m_pUser(pUser)
{
}

void VoiceComTask::Run()
{
    const int32_t nDataType = m_audio->nAudioType == StreamBlock::kAudioMuLaw ? ZDK_CODEC_G711U : ZDK_CODEC_G711A;
    const auto step = std::chrono::milliseconds(m_audio->nBlockMs);
    Clock::time_point next = Now() + step;
    std::vector<uint8_t> frame;
    for (size_t nBlock = 0;; ++nBlock) {
        // A block goes out once its time has passed, as a device's microphone delivers it.
        if (!WaitUntil(next))
            return;
        if (Broken()) {
            WaitForStop();
            return;
        }
        const std::vector<uint8_t> &payload = m_audio->blocks[nBlock % m_audio->blocks.size()];
        frame.clear();
        StreamBlock::AppendAudio(frame, m_audio->nAudioType, m_audio->nRateCode, payload.data(), payload.size());
        {
            std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
            if (Stopping() || Broken())
                continue;
            m_cb(Handle(), reinterpret_cast<const char *>(frame.data()), static_cast<int32_t>(frame.size()), nDataType,
                 m_pUser);
        }
        next += step;
        const Clock::time_point now = Now();
        if (next + std::chrono::milliseconds(500) < now)
            next = now;     // held up by a slow callback: go on from now, not in a burst
    }
}
