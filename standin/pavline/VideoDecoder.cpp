#include "standin/pavline/VideoDecoder.h"

#include "platform/stream_block.h"
#include "standin/pavline/UnitBufferPool.h"

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

VideoDecoder::VideoDecoder(UnitBufferPool *pBuffers)
    : m_pBuffers(pBuffers)
    , m_pPacket(NewAvPacket())
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

static_assert(MediaUnit::kPadding >= AV_INPUT_BUFFER_PADDING_SIZE, "the decoder reads past the unit's bytes");

AVBufferRef *VideoDecoder::Lend(MediaUnit &unit)
{
    Lent *pLent = nullptr;
    for (const std::unique_ptr<Lent> &p : m_lent)
        if (!p->bOut) {
            pLent = p.get();
            break;
        }
    if (!pLent) {
        m_lent.push_back(std::make_unique<Lent>());
        pLent = m_lent.back().get();
        pLent->pOwner = this;
    }
    pLent->bytes.swap(unit.data);
    unit.data.clear();
    const size_t nSize = pLent->bytes.size();
    // Within the room the input reserved: no new allocation, no copy.
    pLent->bytes.resize(nSize + MediaUnit::kPadding, 0);
    AVBufferRef *pBuffer = av_buffer_create(pLent->bytes.data(), static_cast<int>(pLent->bytes.size()), &GiveBack,
                                            pLent, 0);
    if (pBuffer)
        pLent->bOut = true;
    return pBuffer;
}

void VideoDecoder::GiveBack(void *pOpaque, uint8_t *)
{
    Lent *pLent = static_cast<Lent *>(pOpaque);
    pLent->bOut = false;
    if (pLent->pOwner->m_pBuffers)
        pLent->pOwner->m_pBuffers->Give(std::move(pLent->bytes));
    else
        pLent->bytes.clear();
}

bool VideoDecoder::Send(MediaUnit &unit)
{
    if (m_bDraining)
        Flush();
    if ((!m_pContext || unit.nCodec != m_nCodec) && !Open(unit.nCodec))
        return false;
    if (!m_pPacket || unit.data.empty() || unit.data.size() > static_cast<size_t>(INT32_MAX) - MediaUnit::kPadding)
        return false;
    av_packet_unref(m_pPacket.get());
    const int nSize = static_cast<int>(unit.data.size());
    m_pPacket->buf = Lend(unit);
    if (!m_pPacket->buf)
        return false;
    m_pPacket->data = m_pPacket->buf->data;
    m_pPacket->size = nSize;
    m_pPacket->pts = unit.nTimeMs;
    m_pPacket->dts = AV_NOPTS_VALUE;
    if (unit.bKeyFrame)
        m_pPacket->flags |= AV_PKT_FLAG_KEY;
    const int nRet = avcodec_send_packet(m_pContext.get(), m_pPacket.get());
    av_packet_unref(m_pPacket.get());
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
    // A frame that came back empty is kept for the next call rather than made anew.
    AvFramePtr pFrame = m_pSpare ? std::move(m_pSpare) : NewAvFrame();
    if (!pFrame)
        return nullptr;
    if (avcodec_receive_frame(m_pContext.get(), pFrame.get()) < 0) {
        m_pSpare = std::move(pFrame);
        return nullptr;
    }
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
