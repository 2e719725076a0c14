#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/MediaUnit.h"

#include <cstdint>

// Decodes H.264 and H.265 access units (Annex B) with libavcodec, one thread. A unit of another codec than the
// one open opens a new decoder. Pictures carry the unit's timestamp (milliseconds) in pts.
class VideoDecoder
{
public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // False when no decoder opens for the unit's codec or the decoder refuses the unit (a damaged unit). The
    // unit's bytes are handed to the decoder as they are (unit.data is left empty).
    bool Send(MediaUnit &unit);
    // Signals the end of the units: the pictures still inside come out.
    void SendEnd();
    // The next decoded picture, or null.
    AvFramePtr Receive();
    // Forgets what is inside (after a jump in the stream).
    void Flush();

    bool IsOpen() const { return m_pContext != nullptr; }
    uint8_t Codec() const { return m_nCodec; }

private:
    bool Open(uint8_t nCodec);

    AvCodecContextPtr m_pContext;
    AvPacketPtr m_pPacket;
    AvFramePtr m_pSpare;
    uint8_t m_nCodec = 0;
    bool m_bDraining = false;
};
