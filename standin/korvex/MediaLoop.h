#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One encoded video frame: an Annex-B access unit.
struct EncodedFrame
{
    std::vector<uint8_t> data;
    bool bKeyFrame = false;
};

// A short loop of encoded video, played over and over. It begins with a key frame, and every key frame
// carries its own parameter sets.
struct VideoLoop
{
    uint8_t nCodec = 0;     // block codec: 2 H.264, 3 H.265
    int nWidth = 0;
    int nHeight = 0;
    int nFrameRate = 25;
    std::vector<EncodedFrame> frames;

    bool IsH265() const { return nCodec == 3; }
};

// A loop of G.711 audio cut into blocks of nBlockMs milliseconds.
struct AudioLoop
{
    uint8_t nAudioType = 0x0E;  // talk header type: 0x0E A-law, 0x0A mu-law
    uint8_t nRateCode = 0x02;   // 0x02 8000 Hz, 0x04 16000 Hz
    int nSampleRate = 8000;
    int nBlockMs = 40;
    std::vector<std::vector<uint8_t>> blocks;
};
