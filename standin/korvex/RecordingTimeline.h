#pragma once

#include "standin/korvex/MediaLoop.h"

#include <cstdint>
#include <memory>
#include <vector>

// A recording of a channel for a time span, made from the channel's loops: the video loop and the audio loop
// played over and over from the span's begin. Items are addressed by index; their blocks carry the recording's
// own times.
class RecordingTimeline
{
public:
    // nBeginSeconds: the span's begin, seconds since 1970 of the device's local time.
    RecordingTimeline(std::shared_ptr<const VideoLoop> video, std::shared_ptr<const AudioLoop> audio,
                      int64_t nBeginSeconds, int64_t nDurationMs);

    int64_t DurationMs() const { return m_nDurationMs; }
    size_t VideoCount() const { return m_nVideoCount; }
    size_t AudioCount() const { return m_nAudioCount; }
    int64_t VideoTimeMs(size_t k) const;
    int64_t AudioTimeMs(size_t j) const;
    const VideoLoop &Video() const { return *m_video; }
    bool HasAudio() const { return m_audio != nullptr; }

    // The last key frame at or before the media time.
    size_t KeyFrameAtOrBefore(int64_t nMediaMs) const;
    // The first audio block at or after the media time.
    size_t AudioAtOrAfter(int64_t nMediaMs) const;

    // Replaces out with the whole block of the item.
    void VideoBlock(size_t k, std::vector<uint8_t> &out) const;
    void AudioBlock(size_t j, std::vector<uint8_t> &out) const;

    // Bytes of every block of the span.
    uint64_t TotalBytes() const;

private:
    std::shared_ptr<const VideoLoop> m_video;
    std::shared_ptr<const AudioLoop> m_audio;
    int64_t m_nBeginSeconds;
    int64_t m_nDurationMs;
    size_t m_nVideoCount;
    size_t m_nAudioCount;
};
