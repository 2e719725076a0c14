#include "device/media/CAacEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>


CAacEncoder::CAacEncoder() = default;
CAacEncoder::~CAacEncoder() = default;

bool CAacEncoder::Open(int nSampleRate, int nChannels, int &nInputSamples, int &nMaxOutputBytes)
{
    m_pCodec.reset();
    if (nSampleRate <= 0 || nChannels <= 0 || nChannels > 8)
        return false;
    const AVCodec *pCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!pCodec)
        return false;
    AvCodecContextPtr pCtx(avcodec_alloc_context3(pCodec));
    AvFramePtr pFrame(av_frame_alloc());
    AvPacketPtr pPacket(av_packet_alloc());
    if (!pCtx || !pFrame || !pPacket)
        return false;
    // AAC-LC, no LFE, TNS on; the container carries the AudioSpecificConfig, the frames stay raw.
    pCtx->profile = FF_PROFILE_AAC_LOW;
    pCtx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    pCtx->sample_rate = nSampleRate;
    av_channel_layout_default(&pCtx->ch_layout, nChannels);
    pCtx->time_base = AVRational{1, nSampleRate};
    // 64 kbit/s a channel, below the 6144 bits a channel that one AAC frame may carry at low rates.
    pCtx->bit_rate = static_cast<int64_t>(nChannels) * std::min<int64_t>(64000, 6144LL * nSampleRate / 1024);
    pCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    pCtx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (avcodec_open2(pCtx.get(), pCodec, nullptr) < 0 || pCtx->frame_size <= 0)
        return false;

    pFrame->format = AV_SAMPLE_FMT_FLTP;
    pFrame->sample_rate = nSampleRate;
    pFrame->nb_samples = pCtx->frame_size;
    if (av_channel_layout_copy(&pFrame->ch_layout, &pCtx->ch_layout) < 0 || av_frame_get_buffer(pFrame.get(), 0) < 0)
        return false;

    m_vecExtraData.assign(pCtx->extradata, pCtx->extradata + pCtx->extradata_size);
    m_nSampleRate = nSampleRate;
    m_nChannels = nChannels;
    m_nFrameSize = pCtx->frame_size;
    m_nNextPts = 0;
    m_bFlushed = false;
    m_pCodec = std::move(pCtx);
    m_pFrame = std::move(pFrame);
    m_pPacket = std::move(pPacket);

    nInputSamples = m_nFrameSize * m_nChannels;
    // An AAC frame carries at most 6144 bits per channel.
    nMaxOutputBytes = std::max(8192, 768 * m_nChannels);
    return true;
}

int CAacEncoder::Encode(const int16_t *pSamples, int nSamples, uint8_t *pOut, int nOutSize)
{
    if (!m_pCodec || m_bFlushed || !pSamples || nSamples < 0 || nSamples > m_nFrameSize * m_nChannels)
        return -1;
    if (av_frame_make_writable(m_pFrame.get()) < 0)
        return -1;
    const int nFrames = nSamples / m_nChannels;
    // A short block goes in as it is: the encoder then knows where the sound ends, and its last frame says so.
    m_pFrame->nb_samples = nFrames;
    for (int nCh = 0; nCh < m_nChannels; ++nCh) {
        auto *pPlane = reinterpret_cast<float *>(m_pFrame->extended_data[nCh]);
        for (int i = 0; i < nFrames; ++i)
            pPlane[i] = static_cast<float>(pSamples[i * m_nChannels + nCh]) / 32768.0f;
    }
    m_pFrame->pts = m_nNextPts;
    m_nNextPts += nFrames;
    const int nSend = nFrames > 0 ? avcodec_send_frame(m_pCodec.get(), m_pFrame.get()) : 0;
    m_pFrame->nb_samples = m_nFrameSize;
    if (nSend < 0)
        return -1;
    return ReceiveFrame(pOut, nOutSize);
}

int CAacEncoder::Flush(uint8_t *pOut, int nOutSize)
{
    if (!m_pCodec)
        return -1;
    if (!m_bFlushed) {
        m_bFlushed = true;
        if (avcodec_send_frame(m_pCodec.get(), nullptr) < 0)
            return -1;
    }
    return ReceiveFrame(pOut, nOutSize);
}

int CAacEncoder::ReceiveFrame(uint8_t *pOut, int nOutSize)
{
    const int nRet = avcodec_receive_packet(m_pCodec.get(), m_pPacket.get());
    if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
        return 0;
    if (nRet < 0)
        return -1;
    int nBytes = m_pPacket->size;
    if (!pOut || nBytes > nOutSize)
        nBytes = -1;
    else
        std::copy(m_pPacket->data, m_pPacket->data + nBytes, pOut);
    m_nFramePts = m_pPacket->pts;
    m_nFrameDuration = m_pPacket->duration > 0 ? m_pPacket->duration : m_nFrameSize;
    av_packet_unref(m_pPacket.get());
    return nBytes;
}
