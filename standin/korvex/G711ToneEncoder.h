#pragma once

#include "standin/korvex/MediaLoop.h"

#include <cstdint>
#include <string>

// A test tone (a short beep at the start of every second) encoded to G.711 with libavcodec's pcm_alaw or
// pcm_mulaw encoder, cut into blocks.
class G711ToneEncoder
{
public:
    // nAudioType 0x0E A-law or 0x0A mu-law; nSampleRate 8000 or 16000.
    static bool EncodeLoop(uint8_t nAudioType, int nSampleRate, int nDurationMs, int nBlockMs, AudioLoop &loop,
                           std::string &strError);
};
