#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/MediaUnit.h"

#include <cstdint>
#include <vector>

// Turns audio units into 16-bit mono PCM: G.711 through libavcodec's pcm_alaw / pcm_mulaw decoders, PCM as it
// is.
class AudioDecoder
{
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    // Replaces pcm by the unit's samples; false for an encoding it does not know or a decoder error.
    bool Decode(const MediaUnit &unit, std::vector<int16_t> &pcm);

private:
    bool Open(uint8_t nCodec, int nSampleRate);

    AvCodecContextPtr m_pContext;
    AvPacketPtr m_pPacket;
    AvFramePtr m_pFrame;
    uint8_t m_nCodec = 0;
    int m_nSampleRate = 0;
};
