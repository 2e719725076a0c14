#include "standin/pavline/AviWriter.h"

#include "platform/pavline.h"
#include "platform/stream_block.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kMaxWaitingVideo = 50;

} // namespace

AviWriter::AviWriter(std::string strPath)
    : m_strPath(std::move(strPath))
    , m_pPacket(NewAvPacket())
{
}

AviWriter::~AviWriter() { Finish(); }

bool AviWriter::Create(int32_t &nError)
{
    if (avformat_alloc_output_context2(&m_pOutput, nullptr, "avi", m_strPath.c_str()) < 0 || !m_pOutput) {
        nError = KTN_ERR_DECODER;
        return false;
    }
    if (avio_open(&m_pOutput->pb, m_strPath.c_str(), AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(m_pOutput);
        m_pOutput = nullptr;
        nError = KTN_ERR_FILE;
        return false;
    }
    return true;
}

bool AviWriter::Start()
{
    AVStream *pVideo = avformat_new_stream(m_pOutput, nullptr);
    if (!pVideo)
        return false;
    m_nVideoStream = pVideo->index;
    pVideo->time_base = AVRational{1, m_nFrameRate};
    pVideo->avg_frame_rate = AVRational{m_nFrameRate, 1};
    pVideo->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    pVideo->codecpar->codec_id = m_nCodec == StreamBlock::kCodecH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    // The AVI muxer knows no tag of its own for H.265; readers know this one.
    if (m_nCodec == StreamBlock::kCodecH265)
        pVideo->codecpar->codec_tag = MKTAG('H', 'E', 'V', 'C');
    pVideo->codecpar->width = m_nWidth;
    pVideo->codecpar->height = m_nHeight;
    pVideo->codecpar->format = AV_PIX_FMT_YUV420P;
    if (m_nAudioCodec) {
        AVStream *pAudio = avformat_new_stream(m_pOutput, nullptr);
        if (!pAudio)
            return false;
        m_nAudioStream = pAudio->index;
        pAudio->time_base = AVRational{1, m_nAudioRate};
        AVCodecParameters *pPar = pAudio->codecpar;
        pPar->codec_type = AVMEDIA_TYPE_AUDIO;
        pPar->codec_id = m_nAudioCodec == StreamBlock::kAudioMuLaw ? AV_CODEC_ID_PCM_MULAW : AV_CODEC_ID_PCM_ALAW;
        pPar->sample_rate = m_nAudioRate;
        av_channel_layout_default(&pPar->ch_layout, 1);
        pPar->bits_per_coded_sample = 8;
        pPar->block_align = 1;
        pPar->bit_rate = static_cast<int64_t>(m_nAudioRate) * 8;
    }
    if (avformat_write_header(m_pOutput, nullptr) < 0)
        return false;
    m_bHeader = true;
    return true;
}

bool AviWriter::WriteVideo(const MediaUnit &unit)
{
    // AVI counts frames: a timestamp becomes a frame index, always after the one before.
    int64_t nIndex = m_nLastIndex + 1;
    if (unit.nTimeMs > m_nLastMs && m_nLastIndex >= 0) {
        const int64_t nByTime =
            static_cast<int64_t>(std::llround((unit.nTimeMs - m_nFirstMs) * m_nFrameRate / 1000.0));
        nIndex = std::max(nIndex, nByTime);
    }
    if (m_nLastIndex < 0)
        m_nFirstMs = unit.nTimeMs;
    m_nLastMs = std::max(m_nLastMs, unit.nTimeMs);
    m_nLastIndex = nIndex;
    av_packet_unref(m_pPacket.get());
    if (av_new_packet(m_pPacket.get(), static_cast<int>(unit.data.size())) < 0)
        return false;
    std::copy(unit.data.begin(), unit.data.end(), m_pPacket->data);
    m_pPacket->stream_index = m_nVideoStream;
    m_pPacket->pts = m_pPacket->dts = nIndex;
    m_pPacket->duration = 1;
    if (unit.bKeyFrame)
        m_pPacket->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(m_pPacket.get(), AVRational{1, m_nFrameRate}, m_pOutput->streams[m_nVideoStream]->time_base);
    if (av_interleaved_write_frame(m_pOutput, m_pPacket.get()) < 0)
        return false;
    ++m_nVideoFrames;
    return true;
}

bool AviWriter::WriteAudio(const MediaUnit &unit)
{
    if (m_nAudioStream < 0 || unit.nCodec != m_nAudioCodec || unit.nSampleRate != m_nAudioRate || unit.data.empty())
        return true;
    av_packet_unref(m_pPacket.get());
    if (av_new_packet(m_pPacket.get(), static_cast<int>(unit.data.size())) < 0)
        return false;
    std::copy(unit.data.begin(), unit.data.end(), m_pPacket->data);
    m_pPacket->stream_index = m_nAudioStream;
    m_pPacket->pts = m_pPacket->dts = m_nAudioSamples;
    m_pPacket->duration = static_cast<int64_t>(unit.data.size());
    m_pPacket->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(m_pPacket.get(), AVRational{1, m_nAudioRate}, m_pOutput->streams[m_nAudioStream]->time_base);
    m_nAudioSamples += static_cast<int64_t>(unit.data.size());
    return av_interleaved_write_frame(m_pOutput, m_pPacket.get()) >= 0;
}

bool AviWriter::Write(const MediaUnit &unit)
{
    if (!m_pOutput || m_bFailed || m_bFinished)
        return false;
    if (m_bHeader) {
        if (unit.IsVideo()) {
            if (unit.nCodec != m_nCodec)
                return true;    // another codec cannot join this stream
            m_bFailed = !WriteVideo(unit);
        } else {
            m_bFailed = !WriteAudio(unit);
        }
        return !m_bFailed;
    }
    if (unit.IsAudio()) {
        if (!m_nAudioCodec && (unit.nCodec == StreamBlock::kAudioALaw || unit.nCodec == StreamBlock::kAudioMuLaw) &&
            unit.nSampleRate > 0) {
            m_nAudioCodec = unit.nCodec;
            m_nAudioRate = unit.nSampleRate;
        }
        // Sound before the first picture has nothing to go with.
        if (!m_waiting.empty())
            m_waiting.push_back(unit);
        return TryStart(false);
    }
    if (m_waiting.empty()) {
        if (!unit.bKeyFrame)
            return true;
        m_nCodec = unit.nCodec;
        m_nFrameRate = unit.nFrameRate > 0 ? unit.nFrameRate : 25;
        m_pProbe = std::make_unique<VideoDecoder>();
    }
    m_waiting.push_back(unit);
    ++m_nWaitingVideo;
    MediaUnit probe = m_pProbe && m_nWidth <= 0 ? unit : MediaUnit();
    if (m_pProbe && m_nWidth <= 0 && m_pProbe->Send(probe))
        if (AvFramePtr pFrame = m_pProbe->Receive()) {
            m_nWidth = pFrame->width;
            m_nHeight = pFrame->height;
            m_pProbe.reset();
        }
    return TryStart(false);
}

bool AviWriter::TryStart(bool bForce)
{
    if (m_waiting.empty())
        return true;
    if (m_nWidth <= 0) {
        if (m_nWaitingVideo > kMaxWaitingVideo) {
            // Nothing in a whole stretch of units decodes: this is no stream to keep.
            m_waiting.clear();
            m_nWaitingVideo = 0;
            m_pProbe.reset();
        }
        return true;
    }
    // The streams are fixed by the header: a while is waited for the sound of a stream that has any.
    if (!bForce && !m_nAudioCodec && m_nWaitingVideo < kMaxWaitingVideo)
        return true;
    if (!Start()) {
        m_bFailed = true;
        return false;
    }
    std::vector<MediaUnit> waiting;
    waiting.swap(m_waiting);
    m_nWaitingVideo = 0;
    for (const MediaUnit &w : waiting)
        if (!Write(w))
            return false;
    return true;
}

bool AviWriter::Finish()
{
    if (m_bFinished)
        return !m_bFailed;
    if (!m_pOutput) {
        m_bFinished = true;
        return false;
    }
    // Units still waiting for the header are written before the file is closed to further writes.
    if (!m_bHeader && !m_bFailed)
        TryStart(true);
    m_bFinished = true;
    bool bOk = !m_bFailed;
    if (m_bHeader && av_write_trailer(m_pOutput) < 0)
        bOk = false;
    // The last of the file reaches the disk only here: a full disk shows now.
    if (avio_closep(&m_pOutput->pb) < 0)
        bOk = false;
    avformat_free_context(m_pOutput);
    m_pOutput = nullptr;
    if (!m_bHeader) {
        std::remove(m_strPath.c_str());
        return false;
    }
    return bOk;
}
