#include "standin/pavline/AudioDecoder.h"

#include "platform/stream_block.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <cstring>

AudioDecoder::AudioDecoder()
    : m_pPacket(NewAvPacket())
    , m_pFrame(NewAvFrame())
{
}

AudioDecoder::~AudioDecoder() = default;

bool AudioDecoder::Open(uint8_t nCodec, int nSampleRate)
{
    m_pContext.reset();
    m_nCodec = 0;
    const AVCodecID eId = nCodec == StreamBlock::kAudioALaw   ? AV_CODEC_ID_PCM_ALAW
                          : nCodec == StreamBlock::kAudioMuLaw ? AV_CODEC_ID_PCM_MULAW
                                                               : AV_CODEC_ID_NONE;
    const AVCodec *pCodec = eId == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(eId);
    if (!pCodec)
        return false;
    AvCodecContextPtr pContext(avcodec_alloc_context3(pCodec));
    if (!pContext)
        return false;
    pContext->sample_rate = nSampleRate > 0 ? nSampleRate : 8000;
    av_channel_layout_default(&pContext->ch_layout, 1);
    if (avcodec_open2(pContext.get(), pCodec, nullptr) < 0)
        return false;
    m_pContext = std::move(pContext);
    m_nCodec = nCodec;
    m_nSampleRate = nSampleRate;
    return true;
}

bool AudioDecoder::Decode(const MediaUnit &unit, std::vector<int16_t> &pcm)
{
    pcm.clear();
    if (unit.nCodec == MediaUnit::kAudioPcm16) {
        pcm.resize(unit.data.size() / 2);
        if (!pcm.empty())
            std::memcpy(pcm.data(), unit.data.data(), pcm.size() * 2);
        return true;
    }
    if ((!m_pContext || unit.nCodec != m_nCodec || unit.nSampleRate != m_nSampleRate) &&
        !Open(unit.nCodec, unit.nSampleRate))
        return false;
    if (unit.data.empty())
        return true;
    av_packet_unref(m_pPacket.get());
    m_pPacket->data = const_cast<uint8_t *>(unit.data.data());
    m_pPacket->size = static_cast<int>(unit.data.size());
    const int nSent = avcodec_send_packet(m_pContext.get(), m_pPacket.get());
    m_pPacket->data = nullptr;
    m_pPacket->size = 0;
    if (nSent < 0)
        return false;
    while (avcodec_receive_frame(m_pContext.get(), m_pFrame.get()) >= 0) {
        if (m_pFrame->format == AV_SAMPLE_FMT_S16 && m_pFrame->nb_samples > 0) {
            const int16_t *pSamples = reinterpret_cast<const int16_t *>(m_pFrame->data[0]);
            pcm.insert(pcm.end(), pSamples, pSamples + m_pFrame->nb_samples);
        }
        av_frame_unref(m_pFrame.get());
    }
    return true;
}
