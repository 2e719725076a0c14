#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/MediaUnit.h"

#include <cstdint>
#include <memory>
#include <vector>

class UnitBufferPool;
struct AVBufferRef;

// Decodes H.264 and H.265 access units (Annex B) with libavcodec, one thread. A unit of another codec than the
// one open opens a new decoder. Pictures carry the unit's timestamp (milliseconds) in pts. The units' bytes are
// lent to the decoder as they are and, once it has let them go, given back to the buffer pool (when there is one).
class VideoDecoder
{
public:
    explicit VideoDecoder(UnitBufferPool *pBuffers = nullptr);
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
    // A unit's bytes while the decoder holds them.
    struct Lent
    {
        VideoDecoder *pOwner = nullptr;
        std::vector<uint8_t> bytes;
        bool bOut = false;
    };

    bool Open(uint8_t nCodec);
    // A reference-counted buffer over the unit's bytes, the padding zeroed; null when none can be made.
    AVBufferRef *Lend(MediaUnit &unit);
    static void GiveBack(void *pOpaque, uint8_t *pData);

    UnitBufferPool *m_pBuffers;
    // Before the context: the context lets its buffers go as it is freed.
    std::vector<std::unique_ptr<Lent>> m_lent;
    AvCodecContextPtr m_pContext;
    AvPacketPtr m_pPacket;
    AvFramePtr m_pSpare;
    uint8_t m_nCodec = 0;
    bool m_bDraining = false;
};
