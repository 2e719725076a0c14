#include "tests/support/RecordFixture.h"

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "device/CRecordWorker.h"
#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"
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

#include <cmath>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

void RecordFixture::SetUp()
{
    PavlineFixture::SetUp();
    ASSERT_TRUE(QDir().mkpath(AppDir()));
    // The process's own data centre comes back at the end, so that later tests read the folder they expect.
    m_strSavedAppDir = CDataCenter::GetInstance()->m_strAppDir;
    m_nSavedSessionId = CDataCenter::GetInstance()->m_nSessionId;
    CDataCenter *pCenter = CDataCenter::CreateInstance(AppDir());
    pCenter->m_nSessionId = 4711;
    g_nOemMode = 0;
}

void RecordFixture::TearDown()
{
    // Streams first: no block may come for a channel that has gone, whatever assertion ended the test.
    for (const std::unique_ptr<LiveChannel> &pLive : m_lives)
        StopLive(*pLive);
    m_lives.clear();
    EXPECT_TRUE(WaitForRecordings());
    g_nOemMode = 0;
    if (!m_strSavedAppDir.isEmpty())
        CDataCenter::CreateInstance(m_strSavedAppDir)->m_nSessionId = m_nSavedSessionId;
    PavlineFixture::TearDown();
}

RecordFixture::LiveChannel &RecordFixture::StartLive(int32_t lLogin, int nChannel, int nStream, int nPort)
{
    m_lives.push_back(std::make_unique<LiveChannel>());
    LiveChannel &live = *m_lives.back();
    live.pChannel = std::make_unique<CDecodeChannel>(nPort);
    EXPECT_EQ(live.pChannel->Open(1), 1);
    EXPECT_EQ(live.pChannel->StartPreview(), 1);
    live.feed.pChannel = live.pChannel.get();
    live.lPlay = CQZConnect::GetInstance()->ConnectChanel_V2(lLogin, nChannel, nStream, &RecordTest::LiveFeed::OnFrame,
                                                             &live.feed);
    EXPECT_GT(live.lPlay, 0);
    return live;
}

void RecordFixture::StopLive(LiveChannel &live)
{
    if (live.lPlay > 0) {
        EXPECT_EQ(CQZConnect::GetInstance()->DisconnectChannel_V2(live.lPlay, &RecordTest::LiveFeed::OnFrame, &live.feed),
                  1);
        live.lPlay = 0;
    }
    if (live.pChannel) {
        live.pChannel->StopPreview();
        live.pChannel->Close();
        live.pChannel.reset();
    }
}

bool RecordFixture::WaitForRecordings()
{
    // A guard against a worker that never ends, not a measure: conversions under load take their time.
    return CRecordWorker::WaitForAll(std::chrono::minutes(3));
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

std::vector<LiveBlock> LiveBlocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, bool bSound,
                                  uint8_t nAudioType, uint8_t nRateCode)
{
    std::vector<LiveBlock> blocks;
    blocks.reserve(static_cast<size_t>(nFrames) * 3);
    const int nRate = StreamBlock::SampleRateOfCode(nRateCode);
    const int nBlockSamples = nRate / 25;     // 40 ms
    int64_t nSoundMs = 0;
    int64_t nSample = 0;
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &ef = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        const int64_t nFrameMs = static_cast<int64_t>(i) * 1000 / loop.nFrameRate;
        const int64_t nMs = nStartMs + nFrameMs;
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
        // The sound of the time up to the next picture.
        const int64_t nNextMs = static_cast<int64_t>(i + 1) * 1000 / loop.nFrameRate;
        while (bSound && nSoundMs + 40 <= nNextMs) {
            std::vector<uint8_t> audio(static_cast<size_t>(nBlockSamples));
            for (uint8_t &b : audio) {
                const auto nValue = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * nSample++ / nRate));
                b = nAudioType == StreamBlock::kAudioMuLaw ? G711UlawEncodeSample(nValue) : G711AlawEncodeSample(nValue);
            }
            LiveBlock a;
            StreamBlock::AppendAudio(a.data, nAudioType, nRateCode, audio.data(), audio.size());
            a.frame.nKind = ZDK_FRAME_AUDIO;
            a.frame.nCodec = nAudioType == StreamBlock::kAudioMuLaw ? ZDK_CODEC_G711U : ZDK_CODEC_G711A;
            a.frame.nSampleRate = static_cast<uint32_t>(nRate);
            a.frame.nChannels = 1;
            a.frame.nBitsPerSample = 8;
            blocks.push_back(std::move(a));
            nSoundMs += 40;
        }
    }
    for (LiveBlock &block : blocks) {
        block.frame.pData = block.data.data();
        block.frame.nDataLength = static_cast<uint32_t>(block.data.size());
    }
    return blocks;
}

int64_t SoundSamples(const std::vector<LiveBlock> &blocks)
{
    int64_t n = 0;
    for (const LiveBlock &block : blocks)
        if (block.frame.nKind == ZDK_FRAME_AUDIO)
            n += static_cast<int64_t>(block.data.size() - StreamBlock::kAudioHeaderSize);
    return n;
}

int32_t LiveFeed::OnFrame(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    LiveFeed *p = static_cast<LiveFeed *>(pUser);
    p->pChannel->InputData(pFrame->pData, pFrame->nDataLength, pFrame);
    Event event;
    event.bVideo = pFrame->nKind == ZDK_FRAME_VIDEO;
    event.bKey = event.bVideo && pFrame->nKeyFrame != 0;
    if (event.bVideo && pFrame->nDataLength >= StreamBlock::kVideoHeaderSize) {
        const uint8_t *h = pFrame->pData;
        const int64_t nSeconds = static_cast<int64_t>(h[8] | h[9] << 8 | h[10] << 16 | static_cast<uint32_t>(h[11]) << 24);
        event.nTimeMs = nSeconds * 1000 + (h[6] | h[7] << 8);
    }
    if (pFrame->nKind == ZDK_FRAME_AUDIO && pFrame->nDataLength > StreamBlock::kAudioHeaderSize) {
        event.nSamples = static_cast<int>(pFrame->nDataLength - StreamBlock::kAudioHeaderSize);   // G.711
        event.nSampleRate = static_cast<int>(pFrame->nSampleRate);
    }
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        p->m_events.push_back(event);
        if (event.bKey)
            p->m_nSinceKey = 0;
        else if (event.bVideo && p->m_nSinceKey >= 0)
            ++p->m_nSinceKey;
    }
    if (event.bVideo)
        ++p->nVideo;
    ++p->nBlocks;
    return 1;
}

std::vector<LiveFeed::Event> LiveFeed::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

int LiveFeed::FramesSinceKey() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSinceKey;
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

std::shared_ptr<const VideoLoop> EncodedLoop(uint8_t nCodec, int nWidth, int nHeight, int nFrameRate, int nFrames,
                                             bool bNoise, bool bTiming)
{
#if defined(__SANITIZE_ADDRESS__)
    // libx265 keeps some of its allocations past x265_encoder_close; they are not ours to report.
    __lsan::ScopedDisabler noLeakCheck;
#endif
    const bool bH265 = nCodec == StreamBlock::kCodecH265;
    auto loop = std::make_shared<VideoLoop>();
    loop->nCodec = nCodec;
    loop->nWidth = nWidth;
    loop->nHeight = nHeight;
    loop->nFrameRate = nFrameRate;
    const AVCodec *pCodec = avcodec_find_encoder_by_name(bH265 ? "libx265" : "libx264");
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
    const std::string strKey = std::to_string(nFrameRate);
    if (bH265) {
        std::string strParams = "repeat-headers=1:open-gop=0:scenecut=0:keyint=" + strKey + ":min-keyint=" + strKey +
                                ":bframes=0:pools=1:frame-threads=1:log-level=error";
        if (!bTiming)
            strParams += ":vui-timing-info=0:vui-hrd-info=0";
        av_opt_set(ctx->priv_data, "x265-params", strParams.c_str(), 0);
    } else {
        const std::string strParams =
            "repeat-headers=1:scenecut=0:keyint=" + strKey + ":min-keyint=" + strKey + ":bframes=0:log=-1";
        av_opt_set(ctx->priv_data, "x264-params", strParams.c_str(), 0);
    }
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
    uint32_t nNoise = 20240115;
    for (int i = 0; i < nFrames; ++i) {
        av_frame_make_writable(pFrame);
        if (bNoise) {
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < (p ? nHeight / 2 : nHeight); ++y)
                    for (int x = 0; x < (p ? nWidth / 2 : nWidth); ++x) {
                        nNoise = nNoise * 1664525u + 1013904223u;
                        pFrame->data[p][y * pFrame->linesize[p] + x] = static_cast<uint8_t>(48 + (nNoise >> 24) % 160);
                    }
        } else {
            TestPatternEncoder::Draw(pFrame->data[0], pFrame->linesize[0], pFrame->data[1], pFrame->linesize[1],
                                     pFrame->data[2], pFrame->linesize[2], nWidth, nHeight, 0, i, nFrameRate, nFrames);
        }
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

std::shared_ptr<const VideoLoop> UntimedH265Loop(int nWidth, int nHeight, int nFrameRate, int nFrames)
{
    return EncodedLoop(StreamBlock::kCodecH265, nWidth, nHeight, nFrameRate, nFrames, false, false);
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
    auto openDecoder = [&](int nStream) -> AVCodecContext * {
        const AVCodecParameters *par = pFormat->streams[nStream]->codecpar;
        const AVCodec *pCodec = avcodec_find_decoder(par->codec_id);
        AVCodecContext *pCtx = pCodec ? avcodec_alloc_context3(pCodec) : nullptr;
        if (!pCtx)
            return nullptr;
        avcodec_parameters_to_context(pCtx, par);
        pCtx->thread_count = 1;
        pCtx->err_recognition = AV_EF_EXPLODE;
        pCtx->pkt_timebase = pFormat->streams[nStream]->time_base;
        if (avcodec_open2(pCtx, pCodec, nullptr) < 0)
            avcodec_free_context(&pCtx);
        return pCtx;
    };
    const int nVideo = av_find_best_stream(pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVCodecContext *pDecoder = nullptr;
    if (nVideo >= 0) {
        const AVCodecParameters *par = pFormat->streams[nVideo]->codecpar;
        report.strVideoCodec = avcodec_get_name(par->codec_id);
        report.nWidth = par->width;
        report.nHeight = par->height;
        pDecoder = openDecoder(nVideo);
    }
    int nAudio = -1;
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        const AVCodecParameters *par = pFormat->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            ++report.nAudioStreams;
            if (nAudio < 0) {
                nAudio = static_cast<int>(i);
                report.strAudioCodec = avcodec_get_name(par->codec_id);
                report.nSampleRate = par->sample_rate;
            }
        }
    }
    AVCodecContext *pAudioDecoder = nAudio >= 0 ? openDecoder(nAudio) : nullptr;
    AVPacket *pPacket = av_packet_alloc();
    AVFrame *pPicture = av_frame_alloc();
    int64_t nFirstTs = AV_NOPTS_VALUE, nLastTs = AV_NOPTS_VALUE, nEnd = AV_NOPTS_VALUE, nLastDts = AV_NOPTS_VALUE;
    int64_t nLastPicture = AV_NOPTS_VALUE;
    // Every frame a decoder has ready; a failure counts as an error of its stream.
    auto drain = [&](AVCodecContext *pCtx, int &nErrors, auto &&onFrame) {
        for (;;) {
            const int nRet = avcodec_receive_frame(pCtx, pPicture);
            if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
                return;
            if (nRet < 0) {
                ++nErrors;
                return;
            }
            onFrame();
            av_frame_unref(pPicture);
        }
    };
    auto receive = [&] {
        drain(pDecoder, report.nDecodeErrors, [&] {
            if (pPicture->decode_error_flags != 0 || (pPicture->flags & AV_FRAME_FLAG_CORRUPT))
                ++report.nDecodeErrors;
            // AVI gives decoding times only: the decoder's best guess then stands for the presentation time.
            const int64_t nTs = pPicture->pts != AV_NOPTS_VALUE ? pPicture->pts : pPicture->best_effort_timestamp;
            if (nTs == AV_NOPTS_VALUE || (nLastPicture != AV_NOPTS_VALUE && nTs <= nLastPicture))
                report.bPicturesInOrder = false;
            nLastPicture = nTs;
            ++report.nPictures;
        });
    };
    auto receiveAudio = [&] {
        drain(pAudioDecoder, report.nAudioDecodeErrors, [&] { report.nAudioSamples += pPicture->nb_samples; });
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
                if (nEnd == AV_NOPTS_VALUE || nTs + pPacket->duration > nEnd)
                    nEnd = nTs + pPacket->duration;
            }
            if (pPacket->dts == AV_NOPTS_VALUE || (nLastDts != AV_NOPTS_VALUE && pPacket->dts <= nLastDts))
                report.bDtsRising = false;
            nLastDts = pPacket->dts;
            ++report.nVideoPackets;
            report.nVideoBytes += pPacket->size;
            if (pDecoder && (nDecodeLimit <= 0 || report.nVideoPackets <= nDecodeLimit)) {
                if (avcodec_send_packet(pDecoder, pPacket) < 0)
                    ++report.nDecodeErrors;
                receive();
            }
        } else if (pPacket->stream_index == nAudio) {
            ++report.nAudioPackets;
            report.nAudioBytes += pPacket->size;
            if (pAudioDecoder) {
                if (avcodec_send_packet(pAudioDecoder, pPacket) < 0)
                    ++report.nAudioDecodeErrors;
                receiveAudio();
            }
        }
        av_packet_unref(pPacket);
    }
    if (pDecoder) {
        avcodec_send_packet(pDecoder, nullptr);
        receive();
    }
    if (pAudioDecoder) {
        avcodec_send_packet(pAudioDecoder, nullptr);
        receiveAudio();
        if (report.nSampleRate > 0)
            report.dAudioDuration = static_cast<double>(report.nAudioSamples) / report.nSampleRate;
    }
    if (nVideo >= 0 && nFirstTs != AV_NOPTS_VALUE) {
        const double dTb = av_q2d(pFormat->streams[nVideo]->time_base);
        report.dVideoDuration = static_cast<double>(nEnd - nFirstTs) * dTb;
        if (report.nVideoPackets > 1 && nLastTs > nFirstTs)
            report.dFrameRate = (report.nVideoPackets - 1) / (static_cast<double>(nLastTs - nFirstTs) * dTb);
    }
    av_frame_free(&pPicture);
    av_packet_free(&pPacket);
    avcodec_free_context(&pDecoder);
    avcodec_free_context(&pAudioDecoder);
    avformat_close_input(&pFormat);
    return report;
}

std::string Describe(const MediaReport &r)
{
    std::ostringstream out;
    out << (r.bOpened ? "opened" : "not opened") << " video=" << r.strVideoCodec << " " << r.nWidth << "x" << r.nHeight
        << " packets=" << r.nVideoPackets << " pictures=" << r.nPictures << " errors=" << r.nDecodeErrors
        << " firstKey=" << r.bFirstIsKey << " fps=" << r.dFrameRate << " video " << r.dVideoDuration << " s"
        << (r.bDtsRising ? "" : " dts-not-rising") << (r.bPicturesInOrder ? "" : " pictures-out-of-order")
        << " audio=" << r.nAudioStreams << " " << r.strAudioCodec << "@" << r.nSampleRate
        << " audioPackets=" << r.nAudioPackets << " audio " << r.dAudioDuration << " s"
        << " audioErrors=" << r.nAudioDecodeErrors;
    return out.str();
}

} // namespace RecordTest
