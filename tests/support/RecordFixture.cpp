#include "tests/support/RecordFixture.h"

#include "device/CDecodeChannel.h"
#include "platform/stream_block.h"
#include "runtime/CDataCenter.h"
#include "standin/korvex/TestPatternEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <QDir>
#include <QFile>

#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

void RecordFixture::SetUp()
{
    PavlineFixture::SetUp();
    ASSERT_TRUE(QDir().mkpath(AppDir()));
    CDataCenter *pCenter = CDataCenter::CreateInstance(AppDir());
    pCenter->m_nSessionId = 4711;
    g_nOemMode = 0;
}

void RecordFixture::TearDown()
{
    g_nOemMode = 0;
    PavlineFixture::TearDown();
}

void RecordFixture::SetOemMode(int nMode) { g_nOemMode = nMode; }

QString RecordFixture::AppDir() const { return m_tempDir.filePath("app"); }

QString RecordFixture::RecordDir() const { return m_tempDir.filePath("records"); }

QString RecordFixture::TempFolder() const { return AppDir() + "/Temp4711"; }

QStringList RecordFixture::RecordFiles(const QString &strPattern) const
{
    QStringList files = QDir(RecordDir()).entryList(QStringList{strPattern}, QDir::Files, QDir::Name);
    for (QString &strFile : files)
        strFile = RecordDir() + "/" + strFile;
    return files;
}

void RecordFixture::FakeFfmpeg(const std::string &strBody)
{
    const QString strPath = AppDir() + "/ffmpeg";
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const std::string strScript = "#!/bin/sh\n" + strBody + "\n";
    file.write(strScript.data(), static_cast<qint64>(strScript.size()));
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

namespace RecordTest {

std::vector<LiveBlock> LiveBlocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, int nAudioEvery,
                                  uint8_t nAudioType, uint8_t nRateCode)
{
    std::vector<LiveBlock> blocks;
    blocks.reserve(static_cast<size_t>(nFrames) * (nAudioEvery > 0 ? 2 : 1));
    const std::vector<uint8_t> audio(320, nAudioType == StreamBlock::kAudioMuLaw ? 0xFF : 0xD5);
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &ef = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        const int64_t nMs = nStartMs + static_cast<int64_t>(i) * 1000 / loop.nFrameRate;
        LiveBlock block;
        StreamBlock::AppendVideo(block.data, ef.bKeyFrame, loop.nCodec, static_cast<uint8_t>(loop.nFrameRate),
                                 static_cast<uint32_t>(nMs / 1000), static_cast<uint16_t>(nMs % 1000), ef.data.data(),
                                 ef.data.size());
        block.frame.nKind = ZDK_FRAME_VIDEO;
        block.frame.nKeyFrame = ef.bKeyFrame ? 1 : 0;
        block.frame.nCodec = loop.IsH265() ? ZDK_CODEC_H265 : ZDK_CODEC_H264;
        block.frame.nTimeStamp = static_cast<uint32_t>(nMs / 1000);
        block.frame.nMilliSecond = static_cast<uint32_t>(nMs % 1000);
        block.frame.nFrameRate = static_cast<uint32_t>(loop.nFrameRate);
        block.frame.nWidth = static_cast<uint16_t>(loop.nWidth);
        block.frame.nHeight = static_cast<uint16_t>(loop.nHeight);
        blocks.push_back(std::move(block));
        if (nAudioEvery > 0 && (i + 1) % nAudioEvery == 0) {
            LiveBlock a;
            StreamBlock::AppendAudio(a.data, nAudioType, nRateCode, audio.data(), audio.size());
            a.frame.nKind = ZDK_FRAME_AUDIO;
            a.frame.nCodec = nAudioType == StreamBlock::kAudioMuLaw ? ZDK_CODEC_G711U : ZDK_CODEC_G711A;
            a.frame.nSampleRate = static_cast<uint32_t>(StreamBlock::SampleRateOfCode(nRateCode));
            a.frame.nChannels = 1;
            a.frame.nBitsPerSample = 8;
            blocks.push_back(std::move(a));
        }
    }
    for (LiveBlock &block : blocks) {
        block.frame.pData = block.data.data();
        block.frame.nDataLength = static_cast<uint32_t>(block.data.size());
    }
    return blocks;
}

int32_t LiveFeed::OnFrame(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    LiveFeed *p = static_cast<LiveFeed *>(pUser);
    p->pChannel->InputData(pFrame->pData, pFrame->nDataLength, pFrame);
    if (pFrame->nKind == ZDK_FRAME_VIDEO)
        ++p->nVideo;
    ++p->nBlocks;
    return 1;
}

void Feed(CDecodeChannel &channel, const std::vector<LiveBlock> &blocks)
{
    for (const LiveBlock &block : blocks)
        channel.InputData(block.data.data(), static_cast<uint32_t>(block.data.size()), &block.frame);
}

size_t VideoPayload(const std::vector<LiveBlock> &blocks)
{
    size_t n = 0;
    for (const LiveBlock &block : blocks)
        if (block.frame.nKind == ZDK_FRAME_VIDEO)
            n += block.data.size() - StreamBlock::kVideoHeaderSize;
    return n;
}

std::shared_ptr<const VideoLoop> UntimedH265Loop(int nWidth, int nHeight, int nFrameRate, int nFrames)
{
#if defined(__SANITIZE_ADDRESS__)
    // libx265 keeps some of its allocations past x265_encoder_close; they are not ours to report.
    __lsan::ScopedDisabler noLeakCheck;
#endif
    auto loop = std::make_shared<VideoLoop>();
    loop->nCodec = StreamBlock::kCodecH265;
    loop->nWidth = nWidth;
    loop->nHeight = nHeight;
    loop->nFrameRate = nFrameRate;
    const AVCodec *pCodec = avcodec_find_encoder_by_name("libx265");
    if (!pCodec)
        return nullptr;
    AVCodecContext *ctx = avcodec_alloc_context3(pCodec);
    ctx->width = nWidth;
    ctx->height = nHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, nFrameRate};
    ctx->framerate = AVRational{nFrameRate, 1};
    ctx->gop_size = nFrameRate;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    const std::string strParams = "repeat-headers=1:open-gop=0:scenecut=0:keyint=" + std::to_string(nFrameRate) +
                                  ":min-keyint=" + std::to_string(nFrameRate) +
                                  ":bframes=0:pools=1:frame-threads=1:log-level=error:vui-timing-info=0:vui-hrd-info=0";
    av_opt_set(ctx->priv_data, "x265-params", strParams.c_str(), 0);
    if (avcodec_open2(ctx, pCodec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    AVFrame *pFrame = av_frame_alloc();
    AVPacket *pPacket = av_packet_alloc();
    pFrame->format = AV_PIX_FMT_YUV420P;
    pFrame->width = nWidth;
    pFrame->height = nHeight;
    av_frame_get_buffer(pFrame, 0);
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, pPacket) == 0) {
            EncodedFrame ef;
            ef.data.assign(pPacket->data, pPacket->data + pPacket->size);
            ef.bKeyFrame = (pPacket->flags & AV_PKT_FLAG_KEY) != 0;
            loop->frames.push_back(std::move(ef));
            av_packet_unref(pPacket);
        }
    };
    for (int i = 0; i < nFrames; ++i) {
        av_frame_make_writable(pFrame);
        TestPatternEncoder::Draw(pFrame->data[0], pFrame->linesize[0], pFrame->data[1], pFrame->linesize[1],
                                 pFrame->data[2], pFrame->linesize[2], nWidth, nHeight, 0, i, nFrameRate, nFrames);
        pFrame->pts = i;
        avcodec_send_frame(ctx, pFrame);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&pPacket);
    av_frame_free(&pFrame);
    avcodec_free_context(&ctx);
    if (loop->frames.empty() || !loop->frames.front().bKeyFrame)
        return nullptr;
    return loop;
}

MediaReport Probe(const QString &strPath, int nDecodeLimit)
{
    MediaReport report;
    AVFormatContext *pFormat = nullptr;
    if (avformat_open_input(&pFormat, strPath.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return report;
    if (avformat_find_stream_info(pFormat, nullptr) < 0) {
        avformat_close_input(&pFormat);
        return report;
    }
    report.bOpened = true;
    const int nVideo = av_find_best_stream(pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVCodecContext *pDecoder = nullptr;
    if (nVideo >= 0) {
        const AVCodecParameters *par = pFormat->streams[nVideo]->codecpar;
        report.strVideoCodec = avcodec_get_name(par->codec_id);
        report.nWidth = par->width;
        report.nHeight = par->height;
        const AVCodec *pCodec = avcodec_find_decoder(par->codec_id);
        pDecoder = avcodec_alloc_context3(pCodec);
        avcodec_parameters_to_context(pDecoder, par);
        pDecoder->thread_count = 1;
        pDecoder->err_recognition = AV_EF_EXPLODE;
        if (avcodec_open2(pDecoder, pCodec, nullptr) < 0)
            avcodec_free_context(&pDecoder);
    }
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        const AVCodecParameters *par = pFormat->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            ++report.nAudioStreams;
            report.strAudioCodec = avcodec_get_name(par->codec_id);
            report.nSampleRate = par->sample_rate;
        }
    }
    AVPacket *pPacket = av_packet_alloc();
    AVFrame *pPicture = av_frame_alloc();
    int64_t nFirstTs = AV_NOPTS_VALUE, nLastTs = AV_NOPTS_VALUE;
    auto receive = [&] {
        for (;;) {
            const int nRet = avcodec_receive_frame(pDecoder, pPicture);
            if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
                return;
            if (nRet < 0) {
                ++report.nDecodeErrors;
                return;
            }
            ++report.nPictures;
        }
    };
    while (av_read_frame(pFormat, pPacket) >= 0) {
        if (pPacket->stream_index == nVideo) {
            const bool bKey = (pPacket->flags & AV_PKT_FLAG_KEY) != 0;
            if (report.nVideoPackets == 0)
                report.bFirstIsKey = bKey;
            report.keyFlags.push_back(bKey);
            const int64_t nTs = pPacket->pts != AV_NOPTS_VALUE ? pPacket->pts : pPacket->dts;
            if (nTs != AV_NOPTS_VALUE) {
                if (nFirstTs == AV_NOPTS_VALUE || nTs < nFirstTs)
                    nFirstTs = nTs;
                if (nLastTs == AV_NOPTS_VALUE || nTs > nLastTs)
                    nLastTs = nTs;
            }
            ++report.nVideoPackets;
            if (pDecoder && (nDecodeLimit <= 0 || report.nVideoPackets <= nDecodeLimit)) {
                if (avcodec_send_packet(pDecoder, pPacket) < 0)
                    ++report.nDecodeErrors;
                receive();
            }
        } else if (pFormat->streams[pPacket->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            ++report.nAudioPackets;
        }
        av_packet_unref(pPacket);
    }
    if (pDecoder) {
        avcodec_send_packet(pDecoder, nullptr);
        receive();
    }
    if (nVideo >= 0 && report.nVideoPackets > 1 && nFirstTs != AV_NOPTS_VALUE && nLastTs > nFirstTs) {
        const double dSpan = static_cast<double>(nLastTs - nFirstTs) * av_q2d(pFormat->streams[nVideo]->time_base);
        report.dFrameRate = (report.nVideoPackets - 1) / dSpan;
    }
    av_frame_free(&pPicture);
    av_packet_free(&pPacket);
    avcodec_free_context(&pDecoder);
    avformat_close_input(&pFormat);
    return report;
}

std::string Describe(const MediaReport &r)
{
    std::ostringstream out;
    out << (r.bOpened ? "opened" : "not opened") << " video=" << r.strVideoCodec << " " << r.nWidth << "x" << r.nHeight
        << " packets=" << r.nVideoPackets << " pictures=" << r.nPictures << " errors=" << r.nDecodeErrors
        << " firstKey=" << r.bFirstIsKey << " fps=" << r.dFrameRate << " audio=" << r.nAudioStreams << " "
        << r.strAudioCodec << "@" << r.nSampleRate << " audioPackets=" << r.nAudioPackets;
    return out.str();
}

} // namespace RecordTest
