#include "standin/pavline/AvFileReader.h"

#include "platform/pavline.h"
#include "platform/stream_block.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>

namespace {

constexpr AVRational kMs{1, 1000};

int16_t ClampSample(double d)
{
    const double v = std::round(d * 32767.0);
    return static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
}

// The mean of the channels of sample i, as a value -1.0 .. 1.0.
double SampleAt(const AVFrame *pFrame, int nChannels, int i)
{
    double dSum = 0;
    const AVSampleFormat eFormat = static_cast<AVSampleFormat>(pFrame->format);
    const bool bPlanar = av_sample_fmt_is_planar(eFormat);
    for (int c = 0; c < nChannels; ++c) {
        const int nPlane = bPlanar ? c : 0;
        const int nIndex = bPlanar ? i : i * nChannels + c;
        const uint8_t *p = pFrame->extended_data[nPlane];
        switch (av_get_packed_sample_fmt(eFormat)) {
        case AV_SAMPLE_FMT_U8: dSum += (p[nIndex] - 128) / 128.0; break;
        case AV_SAMPLE_FMT_S16: dSum += reinterpret_cast<const int16_t *>(p)[nIndex] / 32768.0; break;
        case AV_SAMPLE_FMT_S32: dSum += reinterpret_cast<const int32_t *>(p)[nIndex] / 2147483648.0; break;
        case AV_SAMPLE_FMT_FLT: dSum += reinterpret_cast<const float *>(p)[nIndex]; break;
        case AV_SAMPLE_FMT_DBL: dSum += reinterpret_cast<const double *>(p)[nIndex]; break;
        default: break;
        }
    }
    return nChannels > 0 ? dSum / nChannels : 0.0;
}

// avcC and hvcC extradata begin with version 1; Annex B extradata with a start code.
bool LengthPrefixed(const AVCodecParameters *pPar)
{
    return pPar->extradata && pPar->extradata_size > 0 && pPar->extradata[0] == 1;
}

} // namespace

AvFileReader::~AvFileReader() = default;

std::unique_ptr<AvFileReader> AvFileReader::Open(const std::string &strPath, int32_t &nError)
{
    std::unique_ptr<AvFileReader> pReader(new AvFileReader());
    AVFormatContext *pInput = nullptr;
    if (avformat_open_input(&pInput, strPath.c_str(), nullptr, nullptr) < 0) {
        nError = KTN_ERR_FORMAT;
        return nullptr;
    }
    pReader->m_pInput.reset(pInput);
    if (avformat_find_stream_info(pInput, nullptr) < 0 || !pReader->OpenVideo(nError))
        return nullptr;
    pReader->OpenAudio();
    pReader->m_pPacket = NewAvPacket();
    pReader->m_pFrame = NewAvFrame();
    return pReader;
}

bool AvFileReader::OpenVideo(int32_t &nError)
{
    AVFormatContext *pInput = m_pInput.get();
    m_nVideoStream = av_find_best_stream(pInput, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_nVideoStream < 0) {
        nError = KTN_ERR_FORMAT;
        return false;
    }
    AVStream *pStream = pInput->streams[m_nVideoStream];
    const AVCodecParameters *pPar = pStream->codecpar;
    const char *pFilter = nullptr;
    if (pPar->codec_id == AV_CODEC_ID_H264) {
        m_nCodec = StreamBlock::kCodecH264;
        pFilter = "h264_mp4toannexb";
    } else if (pPar->codec_id == AV_CODEC_ID_HEVC) {
        m_nCodec = StreamBlock::kCodecH265;
        pFilter = "hevc_mp4toannexb";
    } else {
        nError = KTN_ERR_DECODER;
        return false;
    }
    if (LengthPrefixed(pPar)) {
        const AVBitStreamFilter *pBsf = av_bsf_get_by_name(pFilter);
        AVBSFContext *pContext = nullptr;
        if (!pBsf || av_bsf_alloc(pBsf, &pContext) < 0) {
            nError = KTN_ERR_DECODER;
            return false;
        }
        m_pBsf.reset(pContext);
        avcodec_parameters_copy(pContext->par_in, pPar);
        pContext->time_base_in = pStream->time_base;
        if (av_bsf_init(pContext) < 0) {
            nError = KTN_ERR_DECODER;
            return false;
        }
    }
    const AVRational rate = pStream->avg_frame_rate.num > 0 ? pStream->avg_frame_rate : pStream->r_frame_rate;
    m_nFrameRate = rate.den > 0 ? static_cast<int>(std::lround(av_q2d(rate))) : 0;
    const int64_t nStart = pStream->start_time != AV_NOPTS_VALUE ? pStream->start_time : 0;
    m_nFirstMs = av_rescale_q(nStart, pStream->time_base, kMs);
    int64_t nDuration = 0;
    if (pStream->duration != AV_NOPTS_VALUE && pStream->duration > 0)
        nDuration = av_rescale_q(pStream->duration, pStream->time_base, kMs);
    else if (pInput->duration != AV_NOPTS_VALUE && pInput->duration > 0)
        nDuration = av_rescale_q(pInput->duration, AVRational{1, AV_TIME_BASE}, kMs);
    // The span runs to the last picture's timestamp, one frame before the end of the file.
    const int64_t nFrameMs = m_nFrameRate > 0 ? 1000 / m_nFrameRate : 0;
    m_nLastMs = m_nFirstMs + std::max<int64_t>(0, nDuration - nFrameMs);
    return true;
}

void AvFileReader::OpenAudio()
{
    AVFormatContext *pInput = m_pInput.get();
    m_nAudioStream = av_find_best_stream(pInput, AVMEDIA_TYPE_AUDIO, -1, m_nVideoStream, nullptr, 0);
    if (m_nAudioStream < 0)
        return;
    const AVCodecParameters *pPar = pInput->streams[m_nAudioStream]->codecpar;
    if (pPar->codec_id == AV_CODEC_ID_PCM_ALAW && pPar->ch_layout.nb_channels == 1) {
        m_nG711 = StreamBlock::kAudioALaw;
        return;
    }
    if (pPar->codec_id == AV_CODEC_ID_PCM_MULAW && pPar->ch_layout.nb_channels == 1) {
        m_nG711 = StreamBlock::kAudioMuLaw;
        return;
    }
    const AVCodec *pCodec = avcodec_find_decoder(pPar->codec_id);
    AvCodecContextPtr pContext(pCodec ? avcodec_alloc_context3(pCodec) : nullptr);
    if (!pContext || avcodec_parameters_to_context(pContext.get(), pPar) < 0 ||
        avcodec_open2(pContext.get(), pCodec, nullptr) < 0) {
        m_nAudioStream = -1;
        return;
    }
    m_pAudio = std::move(pContext);
}

void AvFileReader::TakeVideo(AVPacket *pPacket)
{
    AVStream *pStream = m_pInput->streams[m_nVideoStream];
    auto emit = [&](AVPacket *p) {
        MediaUnit unit;
        unit.eKind = MediaUnit::Kind::Video;
        unit.nCodec = m_nCodec;
        unit.bKeyFrame = (p->flags & AV_PKT_FLAG_KEY) != 0;
        unit.nFrameRate = m_nFrameRate;
        const int64_t nTs = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        unit.nTimeMs = nTs != AV_NOPTS_VALUE ? av_rescale_q(nTs, pStream->time_base, kMs) : m_nFirstMs;
        unit.data.assign(p->data, p->data + p->size);
        unit.nSourceBytes = static_cast<size_t>(p->size);
        m_units.push_back(std::move(unit));
    };
    if (!m_pBsf) {
        if (pPacket)
            emit(pPacket);
        return;
    }
    if (av_bsf_send_packet(m_pBsf.get(), pPacket) < 0)
        return;
    AvPacketPtr pOut = NewAvPacket();
    while (av_bsf_receive_packet(m_pBsf.get(), pOut.get()) >= 0) {
        emit(pOut.get());
        av_packet_unref(pOut.get());
    }
}

void AvFileReader::TakeAudio(AVPacket *pPacket)
{
    const AVCodecParameters *pPar = m_pInput->streams[m_nAudioStream]->codecpar;
    if (m_nG711) {
        MediaUnit unit;
        unit.eKind = MediaUnit::Kind::Audio;
        unit.nCodec = m_nG711;
        unit.nSampleRate = pPar->sample_rate;
        unit.data.assign(pPacket->data, pPacket->data + pPacket->size);
        unit.nSourceBytes = static_cast<size_t>(pPacket->size);
        m_units.push_back(std::move(unit));
        return;
    }
    if (!m_pAudio || avcodec_send_packet(m_pAudio.get(), pPacket) < 0)
        return;
    while (avcodec_receive_frame(m_pAudio.get(), m_pFrame.get()) >= 0) {
        const int nChannels = m_pFrame->ch_layout.nb_channels;
        MediaUnit unit;
        unit.eKind = MediaUnit::Kind::Audio;
        unit.nCodec = MediaUnit::kAudioPcm16;
        unit.nSampleRate = m_pFrame->sample_rate;
        unit.data.resize(static_cast<size_t>(m_pFrame->nb_samples) * 2);
        int16_t *pOut = reinterpret_cast<int16_t *>(unit.data.data());
        for (int i = 0; i < m_pFrame->nb_samples; ++i)
            pOut[i] = ClampSample(SampleAt(m_pFrame.get(), nChannels, i));
        unit.nSourceBytes = static_cast<size_t>(pPacket->size);
        m_units.push_back(std::move(unit));
        av_frame_unref(m_pFrame.get());
    }
}

MediaFileReader::Result AvFileReader::Next(MediaUnit &unit)
{
    while (m_units.empty()) {
        if (m_bEnd)
            return Result::End;
        const int nRead = av_read_frame(m_pInput.get(), m_pPacket.get());
        if (nRead < 0) {
            if (nRead != AVERROR_EOF && !avio_feof(m_pInput->pb))
                return Result::Error;
            m_bEnd = true;
            TakeVideo(nullptr);     // what the filter still holds
            continue;
        }
        if (m_pPacket->stream_index == m_nVideoStream)
            TakeVideo(m_pPacket.get());
        else if (m_pPacket->stream_index == m_nAudioStream)
            TakeAudio(m_pPacket.get());
        av_packet_unref(m_pPacket.get());
    }
    unit = std::move(m_units.front());
    m_units.pop_front();
    return Result::Unit;
}

bool AvFileReader::SeekToFraction(double dFraction)
{
    dFraction = std::min(1.0, std::max(0.0, dFraction));
    AVStream *pStream = m_pInput->streams[m_nVideoStream];
    const int64_t nTargetMs = m_nFirstMs + static_cast<int64_t>(dFraction * static_cast<double>(m_nLastMs - m_nFirstMs));
    const int64_t nTarget = av_rescale_q(nTargetMs, kMs, pStream->time_base);
    if (av_seek_frame(m_pInput.get(), m_nVideoStream, nTarget, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    m_units.clear();
    m_bEnd = false;
    if (m_pBsf)
        av_bsf_flush(m_pBsf.get());
    if (m_pAudio)
        avcodec_flush_buffers(m_pAudio.get());
    return true;
}
