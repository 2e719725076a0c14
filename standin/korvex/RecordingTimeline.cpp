#include "standin/korvex/RecordingTimeline.h"

#include "platform/stream_block.h"

RecordingTimeline::RecordingTimeline(std::shared_ptr<const VideoLoop> video, std::shared_ptr<const AudioLoop> audio,
                                     int64_t nBeginSeconds, int64_t nDurationMs)
    : m_video(std::move(video))
    , m_audio(audio && !audio->blocks.empty() ? std::move(audio) : nullptr)
    , m_nBeginSeconds(nBeginSeconds)
    , m_nDurationMs(nDurationMs > 0 ? nDurationMs : 0)
{
    const int64_t nFps = m_video->nFrameRate;
    m_nVideoCount = static_cast<size_t>((m_nDurationMs * nFps + 999) / 1000);
    m_nAudioCount = m_audio ? static_cast<size_t>((m_nDurationMs + m_audio->nBlockMs - 1) / m_audio->nBlockMs) : 0;
}

int64_t RecordingTimeline::VideoTimeMs(size_t k) const
{
    return static_cast<int64_t>(k) * 1000 / m_video->nFrameRate;
}

int64_t RecordingTimeline::AudioTimeMs(size_t j) const
{
    return m_audio ? static_cast<int64_t>(j) * m_audio->nBlockMs : 0;
}

size_t RecordingTimeline::KeyFrameAtOrBefore(int64_t nMediaMs) const
{
    if (m_nVideoCount == 0)
        return 0;
    size_t k = static_cast<size_t>(nMediaMs < 0 ? 0 : nMediaMs * m_video->nFrameRate / 1000);
    if (k >= m_nVideoCount)
        k = m_nVideoCount - 1;
    const size_t n = m_video->frames.size();
    while (k > 0 && !m_video->frames[k % n].bKeyFrame)
        --k;
    return k;
}

size_t RecordingTimeline::AudioAtOrAfter(int64_t nMediaMs) const
{
    if (!m_audio)
        return 0;
    const int64_t nMs = nMediaMs < 0 ? 0 : nMediaMs;
    return static_cast<size_t>((nMs + m_audio->nBlockMs - 1) / m_audio->nBlockMs);
}

void RecordingTimeline::VideoBlock(size_t k, std::vector<uint8_t> &out) const
{
    const EncodedFrame &frame = m_video->frames[k % m_video->frames.size()];
    const int64_t nMs = VideoTimeMs(k);
    out.clear();
    StreamBlock::AppendVideo(out, frame.bKeyFrame, m_video->nCodec, static_cast<uint8_t>(m_video->nFrameRate),
                             static_cast<uint32_t>(m_nBeginSeconds + nMs / 1000), static_cast<uint16_t>(nMs % 1000),
                             frame.data.data(), frame.data.size());
}

void RecordingTimeline::AudioBlock(size_t j, std::vector<uint8_t> &out) const
{
    const std::vector<uint8_t> &payload = m_audio->blocks[j % m_audio->blocks.size()];
    out.clear();
    StreamBlock::AppendAudio(out, m_audio->nAudioType, m_audio->nRateCode, payload.data(), payload.size());
}

uint64_t RecordingTimeline::TotalBytes() const
{
    uint64_t nTotal = 0;
    const size_t nFrames = m_video->frames.size();
    // Whole loops at once, then the rest.
    uint64_t nLoopBytes = 0;
    for (const EncodedFrame &f : m_video->frames)
        nLoopBytes += StreamBlock::kVideoHeaderSize + f.data.size();
    nTotal += nLoopBytes * (m_nVideoCount / nFrames);
    for (size_t k = 0; k < m_nVideoCount % nFrames; ++k)
        nTotal += StreamBlock::kVideoHeaderSize + m_video->frames[k].data.size();
    if (m_audio) {
        const size_t nBlocks = m_audio->blocks.size();
        uint64_t nAudioLoop = 0;
        for (const auto &b : m_audio->blocks)
            nAudioLoop += StreamBlock::kAudioHeaderSize + b.size();
        nTotal += nAudioLoop * (m_nAudioCount / nBlocks);
        for (size_t j = 0; j < m_nAudioCount % nBlocks; ++j)
            nTotal += StreamBlock::kAudioHeaderSize + m_audio->blocks[j].size();
    }
    return nTotal;
}
