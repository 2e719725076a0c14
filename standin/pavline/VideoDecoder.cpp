#include "standin/pavline/VideoDecoder.h"

#include "platform/stream_block.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

VideoDecoder::VideoDecoder()
    : m_pPacket(NewAvPacket())
{
}

VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::Open(uint8_t nCodec)
{
    m_pContext.reset();
    m_nCodec = 0;
    m_bDraining = false;
    const AVCodecID eId = nCodec == StreamBlock::kCodecH265 ? AV_CODEC_ID_HEVC
                          : nCodec == StreamBlock::kCodecH264 ? AV_CODEC_ID_H264
                                                              : AV_CODEC_ID_NONE;
    const AVCodec *pCodec = eId == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(eId);
    if (!pCodec)
        return false;
    AvCodecContextPtr pContext(avcodec_alloc_context3(pCodec));
    if (!pContext)
        return false;
    // Every port decodes on a thread of its own already.
    pContext->thread_count = 1;
    pContext->pkt_timebase = AVRational{1, 1000};
    if (avcodec_open2(pContext.get(), pCodec, nullptr) < 0)
        return false;
    m_pContext = std::move(pContext);
    m_nCodec = nCodec;
    return true;
}

bool VideoDecoder::Send(const MediaUnit &unit)
{
    if (m_bDraining)
        Flush();
    if ((!m_pContext || unit.nCodec != m_nCodec) && !Open(unit.nCodec))
        return false;
    if (!m_pPacket || unit.data.empty())
        return false;
    av_packet_unref(m_pPacket.get());
    // The packet points at the unit's bytes; the decoder copies what it keeps (the packet is not refcounted).
    m_pPacket->data = const_cast<uint8_t *>(unit.data.data());
    m_pPacket->size = static_cast<int>(unit.data.size());
    m_pPacket->pts = unit.nTimeMs;
    m_pPacket->dts = AV_NOPTS_VALUE;
    if (unit.bKeyFrame)
        m_pPacket->flags |= AV_PKT_FLAG_KEY;
    int nRet = avcodec_send_packet(m_pContext.get(), m_pPacket.get());
    m_pPacket->data = nullptr;
    m_pPacket->size = 0;
    return nRet >= 0 || nRet == AVERROR(EAGAIN);
}

void VideoDecoder::SendEnd()
{
    if (m_pContext && !m_bDraining) {
        avcodec_send_packet(m_pContext.get(), nullptr);
        m_bDraining = true;
    }
}

AvFramePtr VideoDecoder::Receive()
{
    if (!m_pContext)
        return nullptr;
    AvFramePtr pFrame = NewAvFrame();
    if (!pFrame || avcodec_receive_frame(m_pContext.get(), pFrame.get()) < 0)
        return nullptr;
    if (pFrame->best_effort_timestamp != AV_NOPTS_VALUE)
        pFrame->pts = pFrame->best_effort_timestamp;
    return pFrame;
}

void VideoDecoder::Flush()
{
    if (!m_pContext)
        return;
    // A drained decoder takes input again once flushed.
    avcodec_flush_buffers(m_pContext.get());
    m_bDraining = false;
}
