#include "device/media/CMp4Writer.h"

#include "device/media/CAacEncoder.h"
#include "device/media/CAudioConvert.h"
#include "platform/FilePtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kScratchSize = 500000;
constexpr AVRational kStreamTimeBase{1, 1000000};
// Largest encoded audio frame written as a packet.
constexpr int kMaxAudioPacket = 40959;

// One NAL unit of an Annex B frame: where it starts (its start code included) and how long it is.
struct NalUnit
{
    int nStart = -1;
    int nLength = 0;
};

// The first NAL unit of the given type. The walk follows the units from the frame's first byte; a frame that
// does not begin with a start code has none.
NalUnit FindNal(const uint8_t *pData, int nLength, int nType, bool bHevc)
{
    NalUnit unit;
    if (!pData)
        return unit;
    int nPos = 0;
    while (nLength - nPos >= 3 && pData[nPos] == 0 && pData[nPos + 1] == 0) {
        int nCode = 0;
        if (pData[nPos + 2] == 1)
            nCode = 3;
        else if (nLength - nPos >= 4 && pData[nPos + 2] == 0 && pData[nPos + 3] == 1)
            nCode = 4;
        else
            break;
        // The unit runs to the next start code looked for from its fourth byte on, or to the end.
        int nEnd = nLength;
        for (int i = nPos + 3; i + 2 < nLength; ++i) {
            if (pData[i] == 0 && pData[i + 1] == 0 && pData[i + 2] == 1) {
                nEnd = (i > nPos + nCode && pData[i - 1] == 0) ? i - 1 : i;
                break;
            }
        }
        if (nPos + nCode < nEnd) {
            const uint8_t nHeader = pData[nPos + nCode];
            const int nUnitType = bHevc ? (nHeader >> 1) & 0x3F : nHeader & 0x1F;
            if (nUnitType == nType) {
                unit.nStart = nPos;
                unit.nLength = nEnd - nPos;
                return unit;
            }
        }
        if (nEnd <= nPos)
            break;
        nPos = nEnd;
    }
    return unit;
}

// Appends a unit to the parameter-set block with a 4-byte start code, the form the muxer turns into avcC/hvcC.
void AppendUnit(std::vector<uint8_t> &vecOut, const uint8_t *pData, const NalUnit &unit)
{
    int nSkip = pData[unit.nStart + 2] == 1 ? 3 : 4;
    static const uint8_t kStart[4] = {0, 0, 0, 1};
    vecOut.insert(vecOut.end(), kStart, kStart + 4);
    vecOut.insert(vecOut.end(), pData + unit.nStart + nSkip, pData + unit.nStart + unit.nLength);
}

} // namespace

CMp4Writer::CMp4Writer(const char *szPath)
    : m_strPath(szPath ? szPath : ""), m_vecScratch(kScratchSize), m_pPacket(av_packet_alloc())
{
}

CMp4Writer::~CMp4Writer()
{
    CloseOutput();
    m_pAac.reset();
    m_pConvert.reset();
    if (m_bCreatedFile && m_nVideoPackets == 0 && m_nAudioPackets == 0)
        std::remove(m_strPath.c_str());
}

int CMp4Writer::WriteFrame(const FrameInfo *pFrame)
{
    if (!pFrame)
        return 0;
    if (!m_pOutput) {
        if (pFrame->nFrameType == kFrameAudio) {
            // Audio ahead of the first key frame only sets up the audio stream.
            m_nChannels = pFrame->nChannels;
            m_nBitsPerSample = pFrame->nBitsPerSample;
            m_nSampleRate = pFrame->nSampleRate;
            return 0;
        }
        if (pFrame->nFrameType != kFrameVideo || pFrame->nSubType != 0 || pFrame->nWidth <= 0
            || pFrame->nHeight <= 0 || pFrame->nFrameRate <= 0)
            return 0;
        const int nOpen = OpenOutput(*pFrame);
        if (nOpen < 0) {
            // Pictures were offered and none can be written: the recording is not whole, whatever comes later.
            m_bOpenFailed = true;
            return nOpen;
        }
    }
    if (!pFrame->pData || pFrame->nLength <= 0)
        return 0;
    if (pFrame->nFrameType == kFrameVideo)
        return WriteVideo(*pFrame);
    if (pFrame->nFrameType == kFrameAudio)
        return WriteAudio(*pFrame);
    return 0;
}

int CMp4Writer::OpenOutput(const FrameInfo &frame)
{
    m_nVideoCodec = frame.nCodec;
    m_nWidth = frame.nWidth;
    m_nHeight = frame.nHeight;
    m_nFrameRate = frame.nFrameRate;
    m_nTimeBase = 0;
    m_nTimeBasePacket = 0;

    std::remove(m_strPath.c_str());
    AVFormatContext *pCtx = nullptr;
    avformat_alloc_output_context2(&pCtx, nullptr, nullptr, m_strPath.c_str());
    if (!pCtx)
        avformat_alloc_output_context2(&pCtx, nullptr, "mpeg", m_strPath.c_str());
    if (!pCtx)
        return -1;
    m_pOutput.reset(pCtx);
    av_dump_format(pCtx, 0, m_strPath.c_str(), 1);
    if (!(pCtx->oformat->flags & AVFMT_NOFILE)) {
        if (avio_open(&pCtx->pb, m_strPath.c_str(), AVIO_FLAG_WRITE) < 0) {
            printf("avio_open failed. \n");
            m_pOutput.reset();
            return -1;
        }
        m_bCreatedFile = true;
    }

    AddVideoStream(frame);
    AddAudioStream();

    m_bHeaderWritten = avformat_write_header(pCtx, nullptr) >= 0;
    if (!m_bHeaderWritten || m_nVideoStream < 0) {
        CloseOutput();
        return -2;
    }
    return 0;
}

void CMp4Writer::AddVideoStream(const FrameInfo &frame)
{
    const bool bHevc = frame.nCodec == kCodecH265;
    if (frame.nCodec != kCodecH264 && !bHevc)
        return;
    const NalUnit vps = bHevc ? FindNal(frame.pData, frame.nLength, 32, true) : NalUnit{};
    const NalUnit sps = FindNal(frame.pData, frame.nLength, bHevc ? 33 : 7, bHevc);
    const NalUnit pps = FindNal(frame.pData, frame.nLength, bHevc ? 34 : 8, bHevc);
    if (sps.nStart < 0 || pps.nStart < 0)
        return;

    AVStream *pStream = avformat_new_stream(m_pOutput.get(), nullptr);
    if (!pStream) {
        printf("mp4 could not allocate stream \n");
        return;
    }
    // The parameter sets become the stream's extra data, from which the muxer builds its avcC or hvcC box.
    std::vector<uint8_t> vecSets;
    if (vps.nStart >= 0)
        AppendUnit(vecSets, frame.pData, vps);
    AppendUnit(vecSets, frame.pData, sps);
    AppendUnit(vecSets, frame.pData, pps);
    AVCodecParameters *pPar = pStream->codecpar;
    pPar->extradata = static_cast<uint8_t *>(av_mallocz(vecSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!pPar->extradata)
        return;
    std::memcpy(pPar->extradata, vecSets.data(), vecSets.size());
    pPar->extradata_size = static_cast<int>(vecSets.size());
    pPar->codec_type = AVMEDIA_TYPE_VIDEO;
    pPar->codec_id = bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    if (bHevc)
        pPar->codec_tag = MKTAG('h', 'v', 'c', '1');
    pPar->bit_rate = 12800;
    pPar->width = frame.nWidth;
    pPar->height = frame.nHeight;
    pPar->format = AV_PIX_FMT_YUV420P;
    pStream->time_base = kStreamTimeBase;
    pStream->avg_frame_rate = AVRational{frame.nFrameRate, 1};
    m_nVideoStream = pStream->index;
}

void CMp4Writer::AddAudioStream()
{
    if (m_nSampleRate <= 0) {
        m_nSampleRate = 8000;
        m_nChannels = 1;
    }
    const AVCodecID nId = m_pOutput->oformat->audio_codec;
    const AVCodec *pCodec = avcodec_find_encoder(nId);
    if (!pCodec) {
        printf("mp4 could not find encoder for '%s' \n", avcodec_get_name(nId));
        return;
    }
    printf("mp4 audio codec_id '%d' '%s' \n", static_cast<int>(nId), avcodec_get_name(nId));

    // The codec is opened before the stream is added: an empty stream would make the header fail and cost
    // the whole file its video.
    AvCodecContextPtr pCodecCtx(avcodec_alloc_context3(pCodec));
    if (!pCodecCtx)
        return;
    pCodecCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    pCodecCtx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    pCodecCtx->bit_rate = 64000;
    pCodecCtx->sample_rate = m_nSampleRate;
    pCodecCtx->time_base = AVRational{1, m_nSampleRate};
    av_channel_layout_default(&pCodecCtx->ch_layout, m_nChannels > 0 ? m_nChannels : 1);
    pCodecCtx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    const int nErr = avcodec_open2(pCodecCtx.get(), pCodec, nullptr);
    if (nErr < 0) {
        printf("mp4 could not open audio codec[%d]\n", nErr);
        return;
    }
    AVStream *pStream = avformat_new_stream(m_pOutput.get(), nullptr);
    if (!pStream) {
        printf("mp4 could not allocate stream \n");
        return;
    }
    if (avcodec_parameters_from_context(pStream->codecpar, pCodecCtx.get()) < 0)
        return;
    pStream->time_base = AVRational{1, m_nSampleRate};
    m_pAudioCodec = std::move(pCodecCtx);
    m_nAudioStream = pStream->index;
}

bool CMp4Writer::Finish()
{
    CloseOutput();
    return !m_bWriteFailed && !m_bOpenFailed;
}

void CMp4Writer::NoteWriteError(int nError)
{
    if (nError < 0 && m_nWriteError == 0)
        m_nWriteError = nError;
    m_bWriteFailed = true;
}

void CMp4Writer::CloseOutput()
{
    if (m_pOutput && m_bHeaderWritten) {
        DrainAudio();
        const int nTrailer = av_write_trailer(m_pOutput.get());
        if (nTrailer < 0)
            NoteWriteError(nTrailer);
    }
    // Closed here rather than by the owner, so that a write that fails at the last flush is seen.
    if (m_pOutput && m_pOutput->pb && !(m_pOutput->oformat->flags & AVFMT_NOFILE)) {
        const bool bErrorBefore = m_pOutput->pb->error < 0;
        const int nError = m_pOutput->pb->error;
        const int nClose = avio_closep(&m_pOutput->pb);
        if (m_bHeaderWritten && (bErrorBefore || nClose < 0))
            NoteWriteError(bErrorBefore ? nError : nClose);
    }
    m_pOutput.reset();
    m_bHeaderWritten = false;
    m_pAudioCodec.reset();
    m_nVideoStream = -1;
    m_nAudioStream = -1;
    m_nSampleRate = 0;
}

int64_t CMp4Writer::VideoTimestamp(int nPacket) const
{
    const AVRational tb = m_pOutput->streams[m_nVideoStream]->time_base;
    int64_t nTs = m_nTimeBase + av_rescale_q(nPacket - m_nTimeBasePacket, AVRational{1, m_nFrameRate}, tb);
    if (nPacket % 3 == 0)
        ++nTs;
    else if (nPacket % 3 == 2)
        --nTs;
    return nTs;
}

int CMp4Writer::WriteVideo(const FrameInfo &frame)
{
    // Pictures of another codec than the stream's would make the rest of the file undecodable.
    if (m_nVideoStream < 0 || frame.nCodec != m_nVideoCodec)
        return 0;
    const bool bKey = frame.nSubType == 0;
    if (bKey) {
        if (frame.nWidth <= 0 || frame.nHeight <= 0 || frame.nFrameRate <= 0)
            return 0;
        m_nWidth = frame.nWidth;
        m_nHeight = frame.nHeight;
        if (frame.nFrameRate != m_nFrameRate) {
            // Another frame rate goes on from where the next frame was due, so the timeline never runs back.
            const AVRational tb = m_pOutput->streams[m_nVideoStream]->time_base;
            m_nTimeBase += av_rescale_q(m_nVideoPackets - m_nTimeBasePacket, AVRational{1, m_nFrameRate}, tb);
            m_nTimeBasePacket = m_nVideoPackets;
            m_nFrameRate = frame.nFrameRate;
        }
    }
    AVPacket *pPkt = m_pPacket.get();
    av_packet_unref(pPkt);
    // Not reference-counted: the muxer makes its own copy.
    pPkt->data = const_cast<uint8_t *>(frame.pData);
    pPkt->size = frame.nLength;
    pPkt->flags = bKey ? AV_PKT_FLAG_KEY : 0;
    pPkt->stream_index = m_nVideoStream;
    pPkt->pts = pPkt->dts = VideoTimestamp(m_nVideoPackets);
    pPkt->duration = av_rescale_q(1, AVRational{1, m_nFrameRate}, m_pOutput->streams[m_nVideoStream]->time_base);
    const int nWrite = av_interleaved_write_frame(m_pOutput.get(), pPkt);
    if (nWrite < 0) {
        printf("mp4 cannot write frame[%d]\n", m_nVideoPackets);
        NoteWriteError(nWrite);
    } else {
        ++m_nVideoPackets;
    }
    av_packet_unref(pPkt);
    return 1;
}

int CMp4Writer::OpenAudioEncoder(const FrameInfo &frame)
{
    auto pAac = std::make_unique<CAacEncoder>();
    int nInputSamples = 0;
    int nMaxOutput = 0;
    if (!pAac->Open(frame.nSampleRate, frame.nChannels, nInputSamples, nMaxOutput))
        return -1;
    m_pConvert = std::make_unique<CAudioConvert>();
    m_nInputSamples = nInputSamples;
    m_vecAacOut.assign(static_cast<size_t>(nMaxOutput), 0);
    // The converter always yields 16-bit samples, whatever the record's bits per sample.
    m_vecPcmBlock.assign(static_cast<size_t>(nInputSamples), 0);
    m_nPcmBlockSize = nInputSamples * 2;
    m_nPcmFill = 0;
    m_pAac = std::move(pAac);
    return 0;
}

int CMp4Writer::WriteAudio(const FrameInfo &frame)
{
    if (!m_pAac && OpenAudioEncoder(frame) < 0)
        return -1;
    if (!EncoderFitsStream())
        return 0;
    const int nBytes = m_pConvert->ToPcm16(frame.pData, frame.nLength, m_vecScratch.data(),
                                           static_cast<int>(m_vecScratch.size()), frame.nCodec);
    if (nBytes <= 0)
        return 0;
    auto *pBlock = reinterpret_cast<uint8_t *>(m_vecPcmBlock.data());
    int nDone = 0;
    // A chunk may span several blocks: each full block is encoded, the rest waits for the next record.
    while (nDone < nBytes) {
        const int nCopy = std::min(nBytes - nDone, m_nPcmBlockSize - m_nPcmFill);
        std::memcpy(pBlock + m_nPcmFill, m_vecScratch.data() + nDone, static_cast<size_t>(nCopy));
        m_nPcmFill += nCopy;
        nDone += nCopy;
        if (m_nPcmFill < m_nPcmBlockSize)
            break;
        const int nOut = m_pAac->Encode(m_vecPcmBlock.data(), m_nInputSamples, m_vecAacOut.data(),
                                        static_cast<int>(m_vecAacOut.size()));
        if (nOut >= 1 && nOut <= kMaxAudioPacket)
            WriteAudioPacket(m_vecAacOut.data(), nOut);
        m_nPcmFill = 0;
    }
    return 1;
}

bool CMp4Writer::EncoderFitsStream() const
{
    // Encoded frames only suit an AAC stream of the same rate and channels; anything else would play wrong.
    return m_pAac && m_nAudioStream >= 0 && m_pAudioCodec && m_pAudioCodec->codec_id == AV_CODEC_ID_AAC
           && m_pAac->SampleRate() == m_pAudioCodec->sample_rate
           && m_pAac->Channels() == m_pAudioCodec->ch_layout.nb_channels;
}

void CMp4Writer::DrainAudio()
{
    if (!EncoderFitsStream())
        return;
    // The block still filling and the frames the encoder holds back: without them every file would lose the
    // last fifth of a second of its sound.
    const int nMax = static_cast<int>(m_vecAacOut.size());
    int nOut = m_pAac->Encode(m_vecPcmBlock.data(), m_nPcmFill / 2, m_vecAacOut.data(), nMax);
    m_nPcmFill = 0;
    for (;;) {
        if (nOut >= 1 && nOut <= kMaxAudioPacket)
            WriteAudioPacket(m_vecAacOut.data(), nOut);
        else if (nOut < 0)
            return;
        nOut = m_pAac->Flush(m_vecAacOut.data(), nMax);
        if (nOut == 0)
            return;
    }
}

int CMp4Writer::WriteAudioPacket(const uint8_t *pData, int nLength)
{
    if (m_nAudioStream < 0)
        return -1;
    AVPacket *pPkt = m_pPacket.get();
    av_packet_unref(pPkt);
    pPkt->data = const_cast<uint8_t *>(pData);
    pPkt->size = nLength;
    pPkt->flags = AV_PKT_FLAG_KEY;
    pPkt->stream_index = m_nAudioStream;
    const AVRational rate{1, m_pAac->SampleRate()};
    const AVRational tb = m_pOutput->streams[m_nAudioStream]->time_base;
    // The encoder's own timing: its start-up delay plays before 0 (the muxer's edit list hides it), so that the
    // sound starts with the first picture, and the last frame lasts only as long as the sound it holds.
    pPkt->pts = pPkt->dts = av_rescale_q(m_pAac->FramePts(), rate, tb);
    pPkt->duration = av_rescale_q(m_pAac->FrameDuration(), rate, tb);
    int nRet = av_interleaved_write_frame(m_pOutput.get(), pPkt);
    av_packet_unref(pPkt);
    if (nRet < 0) {
        printf("Cannot write Audio frame\n");
        NoteWriteError(nRet);
        return -1;
    }
    ++m_nAudioPackets;
    return 0;
}

int CMp4Writer::RemuxFile(const char *szInput, const char *szOutput, int nFrameRate, const RemuxAudio *pAudio)
{
    m_nRemuxDuration = 0;
    m_nRemuxPackets = 0;
    m_nRemuxAudioSamples = 0;
    m_bWriteFailed = false;
    m_nWriteError = 0;
    AVFormatContext *pRawIn = nullptr;
    int nRet = avformat_open_input(&pRawIn, szInput, nullptr, nullptr);
    if (nRet < 0)
        return nRet;
    AvInputPtr pIn(pRawIn);
    nRet = avformat_find_stream_info(pIn.get(), nullptr);
    if (nRet < 0)
        return nRet;
    if (pIn->nb_streams > 2)
        return -1;
    int nVideo = -1;
    for (unsigned i = 0; i < pIn->nb_streams; ++i) {
        if (pIn->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            nVideo = static_cast<int>(i);
    }
    if (nVideo < 0)
        return -1;
    AVStream *pInStream = pIn->streams[nVideo];

    // The output is this writer's own while the remux runs, so that its sound goes through the AAC path.
    CloseOutput();
    m_pAac.reset();
    m_nAudioPackets = 0;
    m_nPcmFill = 0;
    AVFormatContext *pRawOut = nullptr;
    avformat_alloc_output_context2(&pRawOut, nullptr, nullptr, szOutput);
    if (!pRawOut)
        return -1;
    m_pOutput.reset(pRawOut);
    AVFormatContext *pOut = pRawOut;
    AVStream *pOutStream = avformat_new_stream(pOut, avcodec_find_encoder(pInStream->codecpar->codec_id));
    if (!pOutStream || avcodec_parameters_copy(pOutStream->codecpar, pInStream->codecpar) < 0) {
        CloseOutput();
        return -1;
    }
    pOutStream->codecpar->codec_tag = 0;
    FilePtr pPcm;
    if (pAudio && pAudio->szPcmPath && pAudio->nSampleRate > 0)
        pPcm.reset(std::fopen(pAudio->szPcmPath, "rb"));
    if (pPcm) {
        m_nSampleRate = pAudio->nSampleRate;
        m_nChannels = std::max(1, pAudio->nChannels);
        m_nBitsPerSample = 16;
        AddAudioStream();
    }
    if (!(pOut->oformat->flags & AVFMT_NOFILE) && avio_open(&pOut->pb, szOutput, AVIO_FLAG_WRITE) < 0) {
        CloseOutput();
        return -1;
    }
    m_bHeaderWritten = avformat_write_header(pOut, nullptr) >= 0;
    if (!m_bHeaderWritten) {
        CloseOutput();
        return -1;
    }
    const bool bSound = pPcm && m_nAudioStream >= 0;

    AvPacketPtr pPkt(av_packet_alloc());
    if (!pPkt) {
        CloseOutput();
        return -1;
    }
    const AVRational inTb = pInStream->time_base;
    const AVRational outTb = pOutStream->time_base;
    const auto nRound = static_cast<AVRounding>(AV_ROUND_INF | AV_ROUND_PASS_MINMAX);
    for (;;) {
        nRet = av_read_frame(pIn.get(), pPkt.get());
        if (nRet == AVERROR(EAGAIN))
            continue;
        if (nRet < 0)
            break;
        if (pPkt->stream_index != nVideo) {
            av_packet_unref(pPkt.get());
            continue;
        }
        int64_t nTs = 0;
        if (nFrameRate > 0) {
            const AVRational frameTb{1, nFrameRate};
            nTs = av_rescale_q(m_nRemuxPackets, frameTb, outTb);
            pPkt->duration = av_rescale_q(m_nRemuxPackets + 1, frameTb, outTb) - nTs;
        } else {
            pPkt->duration = av_rescale_q_rnd(pPkt->duration, inTb, outTb, nRound);
            nTs = pPkt->dts == AV_NOPTS_VALUE ? m_nRemuxDuration : av_rescale_q_rnd(pPkt->dts, inTb, outTb, nRound);
        }
        if (m_nRemuxPackets % 3 == 0)
            ++nTs;
        else if (m_nRemuxPackets % 3 == 2)
            --nTs;
        pPkt->dts = pPkt->pts = nTs;
        pPkt->stream_index = 0;
        pPkt->pos = -1;
        m_nRemuxDuration += pPkt->duration;
        const int64_t nEnd = nTs + pPkt->duration;
        const int nWrite = av_interleaved_write_frame(pOut, pPkt.get());
        if (nWrite < 0)
            NoteWriteError(nWrite);
        av_packet_unref(pPkt.get());
        ++m_nRemuxPackets;
        // The sound that plays with this picture, so that the file stays interleaved.
        if (bSound)
            RemuxAudioUntil(pPcm.get(), *pAudio, av_rescale_q(nEnd, outTb, AVRational{1, pAudio->nSampleRate}));
    }
    if (bSound)
        RemuxAudioUntil(pPcm.get(), *pAudio, INT64_MAX);
    CloseOutput();  // the sound drained, the trailer written
    // A file that could not be written whole is a failure, however far the input was read.
    if (m_bWriteFailed)
        return m_nWriteError < 0 && m_nWriteError != AVERROR_EOF ? m_nWriteError : AVERROR(EIO);
    return nRet;
}

void CMp4Writer::RemuxAudioUntil(std::FILE *pPcm, const RemuxAudio &audio, int64_t nUntilSamples)
{
    const int nChannels = std::max(1, audio.nChannels);
    const size_t nSampleBytes = 2 * static_cast<size_t>(nChannels);
    uint8_t chunk[4096];
    while (m_nRemuxAudioSamples < nUntilSamples) {
        const size_t nWant = static_cast<size_t>(
            std::min<int64_t>(nUntilSamples - m_nRemuxAudioSamples, static_cast<int64_t>(sizeof chunk / nSampleBytes)));
        const size_t nRead = std::fread(chunk, nSampleBytes, nWant, pPcm);
        if (nRead == 0)
            return;
        FrameInfo frame;
        frame.pData = chunk;
        frame.nLength = static_cast<int>(nRead * nSampleBytes);
        frame.nFrameType = kFrameAudio;
        frame.nCodec = CAudioConvert::kPcm16;
        frame.nChannels = nChannels;
        frame.nBitsPerSample = 16;
        frame.nSampleRate = audio.nSampleRate;
        WriteAudio(frame);
        m_nRemuxAudioSamples += static_cast<int64_t>(nRead);
    }
}
