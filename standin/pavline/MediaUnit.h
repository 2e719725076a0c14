#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One unit of a played stream or file: a video access unit (Annex B) or a block of audio.
struct MediaUnit
{
    enum class Kind { Video, Audio };
    // Audio encodings: G.711 codes (the talk header's types) or 16-bit mono PCM already decoded.
    static constexpr uint8_t kAudioPcm16 = 0;
    // Room kept after a video unit's bytes, so that the decoder can take them over without a copy (the
    // decoder's input padding).
    static constexpr size_t kPadding = 64;

    Kind eKind = Kind::Video;
    uint8_t nCodec = 0;         // video: 2 H.264, 3 H.265; audio: 0x0E A-law, 0x0A mu-law, kAudioPcm16
    bool bKeyFrame = false;
    int nFrameRate = 0;         // video, frames per second (0: unknown)
    int64_t nTimeMs = 0;        // video: timestamp in milliseconds
    int nSampleRate = 0;        // audio, Hz
    std::vector<uint8_t> data;  // video: the access unit; audio: the codes or the samples
    size_t nSourceBytes = 0;    // bytes of the stream this unit came from (the buffer accounting)

    bool IsVideo() const { return eKind == Kind::Video; }
    bool IsAudio() const { return eKind == Kind::Audio; }
};
