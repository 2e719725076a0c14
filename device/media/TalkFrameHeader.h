#pragma once

#include <cstdint>

// The 8-byte header in front of every talk audio frame: 00 00 01 FA, audio type, rate code, payload length
// (uint16 little-endian). A frame is the header followed by the payload.
struct TalkFrameHeader
{
    static constexpr uint8_t kFrameTag = 0xFA;
    static constexpr uint8_t kAudioAlaw = 0x0E;
    static constexpr uint8_t kAudioUlaw = 0x0A;
    static constexpr uint8_t kRate8000 = 0x02;
    static constexpr uint8_t kRate16000 = 0x04;

    uint8_t startCode[3];
    uint8_t frameTag;
    uint8_t audioType;
    uint8_t rateCode;
    uint8_t payloadLength[2];

    // A header for nPayloadLength bytes of the given audio type; rate code 0x04 at 16000 Hz, else 0x02.
    static TalkFrameHeader Make(uint8_t nAudioType, int nSampleRate, uint16_t nPayloadLength);

    uint16_t PayloadLength() const;
    // Header plus payload.
    int FrameLength() const;
};

static_assert(sizeof(TalkFrameHeader) == 8, "the talk frame header is 8 bytes on the wire");
