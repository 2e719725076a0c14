// The MP4 writer and its remux, checked by reading the files back with libavformat and decoding them.

#include "device/media/CMp4Writer.h"
#include "platform/AvPointers.h"
#include "device/media/G711Alaw.h"
#include "tests/support/Mp4Frames.h"
#include "tests/support/TestVideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Codec = TestVideoEncoder::Codec;
using Units = std::vector<TestVideoEncoder::AccessUnit>;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 25;

const Units &EncodedUnits(Codec codec)
{
    // Encoding is the slow part: each test executable encodes each codec once.
    static const Units h264 = TestVideoEncoder::Encode(Codec::H264, kWidth, kHeight, kFps, 60, 25);
    static const Units h265 = TestVideoEncoder::Encode(Codec::H265, kWidth, kHeight, kFps, 60, 25);
    return codec == Codec::H264 ? h264 : h265;
}

int CodecNumber(Codec codec)
{
    return codec == Codec::H264 ? CMp4Writer::kCodecH264 : CMp4Writer::kCodecH265;
}

FrameInfo VideoFrame(const TestVideoEncoder::AccessUnit &unit, Codec codec, int nFps = kFps)
{
    return Mp4VideoFrame(unit.data, unit.bKey, CodecNumber(codec), nFps, kWidth, kHeight);
}

FrameInfo AudioFrame(const std::vector<uint8_t> &vecData, int nType, int nRate, int nBits = 16)
{
    return Mp4AudioFrame(vecData, nType, nRate, nBits);
}

// A 440 Hz sine of amplitude 8000, continuing from sample nFirst.
std::vector<int16_t> Sine(int nFirst, int nCount, int nRate)
{
    std::vector<int16_t> vec(static_cast<size_t>(nCount));
    for (int i = 0; i < nCount; ++i)
        vec[i] = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * (nFirst + i) / nRate));
    return vec;
}

std::vector<uint8_t> AlawSine(int nFirst, int nCount, int nRate)
{
    const std::vector<int16_t> vecPcm = Sine(nFirst, nCount, nRate);
    std::vector<uint8_t> vec;
    for (int16_t nSample : vecPcm)
        vec.push_back(G711AlawEncodeSample(nSample));
    return vec;
}

std::vector<uint8_t> Pcm16Sine(int nFirst, int nCount, int nRate)
{
    const std::vector<int16_t> vecPcm = Sine(nFirst, nCount, nRate);
    std::vector<uint8_t> vec;
    for (int16_t nSample : vecPcm) {
        vec.push_back(static_cast<uint8_t>(static_cast<uint16_t>(nSample) & 0xFF));
        vec.push_back(static_cast<uint8_t>(static_cast<uint16_t>(nSample) >> 8));
    }
    return vec;
}


// What libavformat and libavcodec make of one stream of a file.
struct StreamProbe
{
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    uint32_t nTag = 0;
    int nWidth = 0;
    int nHeight = 0;
    int nSampleRate = 0;
    int nChannels = 0;
    AVRational timeBase{0, 1};
    double dDuration = 0; // seconds, as the container gives it
    std::vector<int64_t> vecPts;
    int nDecoded = 0;     // pictures, or audio samples
    int nDecodeErrors = 0;
    double dRms = 0;      // audio: of the decoded samples after the encoder's start-up
};

struct FileProbe
{
    bool bOpened = false;
    std::vector<StreamProbe> vecStreams;
};

void Receive(AVCodecContext *pCtx, AVFrame *pFrame, StreamProbe &probe, std::vector<float> &vecAudio)
{
    int nRet = 0;
    while ((nRet = avcodec_receive_frame(pCtx, pFrame)) >= 0) {
        if (probe.type == AVMEDIA_TYPE_AUDIO) {
            probe.nDecoded += pFrame->nb_samples;
            const auto *pSamples = reinterpret_cast<const float *>(pFrame->extended_data[0]);
            vecAudio.insert(vecAudio.end(), pSamples, pSamples + pFrame->nb_samples);
        } else {
            ++probe.nDecoded;
        }
        av_frame_unref(pFrame);
    }
    if (nRet != AVERROR(EAGAIN) && nRet != AVERROR_EOF)
        ++probe.nDecodeErrors;
}

FileProbe Probe(const QString &strPath)
{
    FileProbe result;
    AVFormatContext *pRaw = nullptr;
    if (avformat_open_input(&pRaw, strPath.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return result;
    AvInputPtr pIn(pRaw);
    if (avformat_find_stream_info(pIn.get(), nullptr) < 0)
        return result;
    result.bOpened = true;
    std::vector<AvCodecContextPtr> vecDecoders;
    for (unsigned i = 0; i < pIn->nb_streams; ++i) {
        const AVCodecParameters *pPar = pIn->streams[i]->codecpar;
        StreamProbe probe;
        probe.type = pPar->codec_type;
        probe.codec = pPar->codec_id;
        probe.nTag = pPar->codec_tag;
        probe.nWidth = pPar->width;
        probe.nHeight = pPar->height;
        probe.nSampleRate = pPar->sample_rate;
        probe.nChannels = pPar->ch_layout.nb_channels;
        probe.timeBase = pIn->streams[i]->time_base;
        if (pIn->streams[i]->duration > 0)
            probe.dDuration = static_cast<double>(pIn->streams[i]->duration) * av_q2d(probe.timeBase);
        result.vecStreams.push_back(probe);
        const AVCodec *pCodec = avcodec_find_decoder(pPar->codec_id);
        AvCodecContextPtr pCtx(pCodec ? avcodec_alloc_context3(pCodec) : nullptr);
        if (pCtx) {
            pCtx->thread_count = 1;
            if (avcodec_parameters_to_context(pCtx.get(), pPar) < 0 || avcodec_open2(pCtx.get(), pCodec, nullptr) < 0)
                pCtx.reset();
        }
        vecDecoders.push_back(std::move(pCtx));
    }
    AvPacketPtr pPkt(av_packet_alloc());
    AvFramePtr pFrame(av_frame_alloc());
    std::vector<std::vector<float>> vecAudio(pIn->nb_streams);
    while (av_read_frame(pIn.get(), pPkt.get()) >= 0) {
        const int nIndex = pPkt->stream_index;
        StreamProbe &probe = result.vecStreams[nIndex];
        probe.vecPts.push_back(pPkt->pts);
        if (AVCodecContext *pCtx = vecDecoders[nIndex].get()) {
            if (avcodec_send_packet(pCtx, pPkt.get()) < 0)
                ++probe.nDecodeErrors;
            Receive(pCtx, pFrame.get(), probe, vecAudio[nIndex]);
        }
        av_packet_unref(pPkt.get());
    }
    for (unsigned i = 0; i < pIn->nb_streams; ++i) {
        if (AVCodecContext *pCtx = vecDecoders[i].get()) {
            avcodec_send_packet(pCtx, nullptr);
            Receive(pCtx, pFrame.get(), result.vecStreams[i], vecAudio[i]);
        }
        const std::vector<float> &vec = vecAudio[i];
        // Skip the first 2048 samples: the encoder's delay and its start-up.
        if (vec.size() > 4096) {
            double dSum = 0;
            for (size_t n = 2048; n < vec.size(); ++n)
                dSum += double(vec[n]) * vec[n];
            result.vecStreams[i].dRms = std::sqrt(dSum / double(vec.size() - 2048)) * 32768.0;
        }
    }
    return result;
}

bool Exists(const QString &strPath)
{
    return QFile::exists(strPath);
}

// The bytes of an access unit from its first NAL unit of the given type on (H.264 types), dropping what
// comes before it: a key frame without its parameter sets.
std::vector<uint8_t> FromNalType(const std::vector<uint8_t> &vecUnit, int nType)
{
    for (size_t i = 0; i + 3 < vecUnit.size(); ++i) {
        if (vecUnit[i] == 0 && vecUnit[i + 1] == 0 && vecUnit[i + 2] == 1 && (vecUnit[i + 3] & 0x1F) == nType)
            return std::vector<uint8_t>(vecUnit.begin() + static_cast<long>(i), vecUnit.end());
    }
    return {};
}

// An MPEG-TS file with nStreams copies of the H.264 units, made with libavformat.
bool WriteTransportStream(const QString &strPath, const Units &units, int nStreams)
{
    AVFormatContext *pRaw = nullptr;
    const QByteArray path = strPath.toLocal8Bit();
    if (avformat_alloc_output_context2(&pRaw, nullptr, "mpegts", path.constData()) < 0)
        return false;
    AvOutputPtr pOut(pRaw);
    for (int i = 0; i < nStreams; ++i) {
        AVStream *pStream = avformat_new_stream(pOut.get(), nullptr);
        if (!pStream)
            return false;
        pStream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        pStream->codecpar->codec_id = AV_CODEC_ID_H264;
        pStream->codecpar->width = kWidth;
        pStream->codecpar->height = kHeight;
        pStream->time_base = AVRational{1, 90000};
    }
    if (avio_open(&pOut->pb, path.constData(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(pOut.get(), nullptr) < 0)
        return false;
    AvPacketPtr pPkt(av_packet_alloc());
    for (size_t n = 0; n < units.size(); ++n) {
        for (int i = 0; i < nStreams; ++i) {
            if (av_new_packet(pPkt.get(), static_cast<int>(units[n].data.size())) < 0)
                return false;
            std::copy(units[n].data.begin(), units[n].data.end(), pPkt->data);
            pPkt->stream_index = i;
            pPkt->flags = units[n].bKey ? AV_PKT_FLAG_KEY : 0;
            const AVRational tb = pOut->streams[i]->time_base;
            pPkt->pts = pPkt->dts = av_rescale_q(static_cast<int64_t>(n), AVRational{1, kFps}, tb) + 9000;
            pPkt->duration = av_rescale_q(1, AVRational{1, kFps}, tb);
            if (av_interleaved_write_frame(pOut.get(), pPkt.get()) < 0)
                return false;
        }
    }
    return av_write_trailer(pOut.get()) >= 0;
}

bool WriteRawFile(const QString &strPath, const Units &units)
{
    std::ofstream file(strPath.toLocal8Bit().constData(), std::ios::binary);
    for (const auto &unit : units)
        file.write(reinterpret_cast<const char *>(unit.data.data()), static_cast<std::streamsize>(unit.data.size()));
    return static_cast<bool>(file);
}

bool StrictlyIncreasing(const std::vector<int64_t> &vec)
{
    for (size_t i = 1; i < vec.size(); ++i)
        if (vec[i] <= vec[i - 1])
            return false;
    return true;
}

class Mp4WriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_FALSE(EncodedUnits(Codec::H264).empty());
        ASSERT_FALSE(EncodedUnits(Codec::H265).empty());
    }
    QString Path(const char *szName) const { return m_dir.filePath(QString::fromLatin1(szName)); }

    QTemporaryDir m_dir;
};

struct WriteCase
{
    Codec codec;
    bool bAudio;
    const char *szName;
};

void PrintTo(const WriteCase &c, std::ostream *pOut)
{
    *pOut << c.szName;
}

class Mp4WriteTest : public Mp4WriterTest, public ::testing::WithParamInterface<WriteCase>
{
};

} // namespace

TEST_P(Mp4WriteTest, WritesAFileThatLibavformatReadsAndDecodes)
{
    const WriteCase &c = GetParam();
    const Units &units = EncodedUnits(c.codec);
    const QString strPath = Path("out.mp4");
    int nAudioSample = 0;
    testing::internal::CaptureStdout();
    {
        CMp4Writer writer(strPath.toLocal8Bit().constData());
        if (c.bAudio) {
            // Audio ahead of the first key frame: it sets the stream's rate and channels, it is not written.
            const std::vector<uint8_t> vecEarly = AlawSine(0, 160, 8000);
            const FrameInfo early = AudioFrame(vecEarly, 14, 8000);
            EXPECT_EQ(writer.WriteFrame(&early), 0);
        }
        for (const auto &unit : units) {
            const FrameInfo frame = VideoFrame(unit, c.codec);
            EXPECT_EQ(writer.WriteFrame(&frame), 1);
            // 40 ms of A-law audio for each 40 ms picture, in two records.
            for (int n = 0; c.bAudio && n < 2; ++n) {
                const std::vector<uint8_t> vecAudio = AlawSine(nAudioSample, 160, 8000);
                nAudioSample += 160;
                const FrameInfo audio = AudioFrame(vecAudio, 14, 8000);
                EXPECT_EQ(writer.WriteFrame(&audio), 1);
            }
        }
    }
    const std::string strOut = testing::internal::GetCapturedStdout();
    EXPECT_NE(strOut.find("mp4 audio codec_id '86018' 'aac' \n"), std::string::npos) << strOut;

    const FileProbe probe = Probe(strPath);
    ASSERT_TRUE(probe.bOpened);
    // The audio track is set up in every file; the muxer leaves it out when it got no packet.
    ASSERT_EQ(probe.vecStreams.size(), c.bAudio ? 2u : 1u);
    const StreamProbe &video = probe.vecStreams[0];
    EXPECT_EQ(video.type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(video.codec, c.codec == Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
    if (c.codec == Codec::H265) {
        EXPECT_EQ(video.nTag, MKTAG('h', 'v', 'c', '1'));
    }
    EXPECT_EQ(video.nWidth, kWidth);
    EXPECT_EQ(video.nHeight, kHeight);
    EXPECT_EQ(video.timeBase.num, 1);
    EXPECT_EQ(video.timeBase.den, 1000000);
    ASSERT_EQ(video.vecPts.size(), units.size());
    // MP4 starts its sample times at 0: the steps between the writer's 1, 40000, 79999, 120001 remain.
    EXPECT_EQ(std::vector<int64_t>(video.vecPts.begin(), video.vecPts.begin() + 4),
              (std::vector<int64_t>{0, 39999, 79998, 120000}));
    EXPECT_TRUE(StrictlyIncreasing(video.vecPts));
    EXPECT_EQ(video.nDecoded, static_cast<int>(units.size()));
    EXPECT_EQ(video.nDecodeErrors, 0);
    if (!c.bAudio)
        return;

    const StreamProbe &audio = probe.vecStreams[1];
    EXPECT_EQ(audio.type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio.codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(audio.nSampleRate, 8000);
    EXPECT_EQ(audio.nChannels, 1);
    // 120 records of 160 samples after the first picture: the track holds every one of them (the encoder's
    // start-up delay hidden, what it held back at the end drained), within one AAC frame.
    ASSERT_GE(audio.vecPts.size(), 19u);
    EXPECT_EQ(audio.vecPts[1] - audio.vecPts[0], 1024);
    EXPECT_TRUE(StrictlyIncreasing(audio.vecPts));
    EXPECT_EQ(audio.nDecodeErrors, 0);
    EXPECT_EQ(nAudioSample, 19200);
    EXPECT_GE(audio.nDecoded, nAudioSample);
    EXPECT_LT(audio.nDecoded, nAudioSample + 1024);
    EXPECT_NEAR(audio.dDuration, nAudioSample / 8000.0, 1024 / 8000.0);
    // The sine of amplitude 8000 has an RMS of 5657; garbage or silence would not.
    EXPECT_NEAR(audio.dRms, 5657.0, 600.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, Mp4WriteTest,
                         ::testing::Values(WriteCase{Codec::H264, false, "h264"},
                                           WriteCase{Codec::H264, true, "h264_audio"},
                                           WriteCase{Codec::H265, false, "h265"},
                                           WriteCase{Codec::H265, true, "h265_audio"}),
                         [](const ::testing::TestParamInfo<WriteCase> &info) { return std::string(info.param.szName); });

TEST_F(Mp4WriterTest, TimestampsGoToTheMuxerAsTheWriterComputesThem)
{
    // NUT keeps the stream time base and every timestamp as given, so the writer's values show unchanged.
    const QString strPath = Path("out.nut");
    const Units &units = EncodedUnits(Codec::H264);
    {
        CMp4Writer writer(strPath.toLocal8Bit().constData());
        for (size_t n = 0; n < 8; ++n) {
            const FrameInfo frame = VideoFrame(units[n], Codec::H264);
            ASSERT_EQ(writer.WriteFrame(&frame), 1);
        }
    }
    const FileProbe probe = Probe(strPath);
    ASSERT_TRUE(probe.bOpened);
    ASSERT_FALSE(probe.vecStreams.empty());
    const StreamProbe &video = probe.vecStreams[0];
    EXPECT_EQ(video.timeBase.den / video.timeBase.num, 1000000);
    EXPECT_EQ(video.vecPts, (std::vector<int64_t>{1, 40000, 79999, 120001, 160000, 199999, 240001, 280000}));
}

TEST_F(Mp4WriterTest, AudioStreamRateAndWhichRecordsAreWritten)
{
    struct Case
    {
        int nEarlyRate;  // audio record before the first key frame, 0 for none
        int nRecordRate; // the audio records after it
        int nStreamRate; // the audio stream of the file, 0 for no audio track
        int nResult;     // WriteFrame of an audio record
    };
    const Case kCases[] = {
        {16000, 16000, 16000, 1},
        {0, 8000, 8000, 1},
        // A stream set up for 8000 Hz cannot carry 16000 Hz audio: such records are not written.
        {0, 16000, 0, 0},
    };
    const Units &units = EncodedUnits(Codec::H264);
    for (const Case &c : kCases) {
        const QString strPath = Path("rate.mp4");
        int nSample = 0;
        {
            CMp4Writer writer(strPath.toLocal8Bit().constData());
            if (c.nEarlyRate > 0) {
                const std::vector<uint8_t> vecEarly = AlawSine(0, 160, c.nEarlyRate);
                const FrameInfo early = AudioFrame(vecEarly, 14, c.nEarlyRate);
                EXPECT_EQ(writer.WriteFrame(&early), 0);
            }
            const int nPerPicture = c.nRecordRate / kFps;
            for (const auto &unit : units) {
                const FrameInfo frame = VideoFrame(unit, Codec::H264);
                EXPECT_EQ(writer.WriteFrame(&frame), 1);
                const std::vector<uint8_t> vecAudio = AlawSine(nSample, nPerPicture, c.nRecordRate);
                nSample += nPerPicture;
                const FrameInfo audio = AudioFrame(vecAudio, 14, c.nRecordRate);
                EXPECT_EQ(writer.WriteFrame(&audio), c.nResult) << "record rate " << c.nRecordRate;
            }
        }
        const FileProbe probe = Probe(strPath);
        ASSERT_TRUE(probe.bOpened);
        ASSERT_EQ(probe.vecStreams.size(), c.nStreamRate ? 2u : 1u) << "record rate " << c.nRecordRate;
        EXPECT_EQ(probe.vecStreams[0].nDecoded, static_cast<int>(units.size()));
        if (c.nStreamRate) {
            const StreamProbe &audio = probe.vecStreams[1];
            EXPECT_EQ(audio.nSampleRate, c.nStreamRate);
            EXPECT_EQ(audio.nDecodeErrors, 0);
            EXPECT_GE(audio.nDecoded, nSample - 3 * 1024);
            EXPECT_NEAR(audio.dRms, 5657.0, 600.0);
        }
        ASSERT_TRUE(QFile::remove(strPath));
    }
}

TEST_F(Mp4WriterTest, NoFileWithoutAKeyFrameCarryingItsParameterSets)
{
    const Units &units = EncodedUnits(Codec::H264);
    const std::vector<uint8_t> vecBareKey = FromNalType(units[0].data, 5);
    ASSERT_FALSE(vecBareKey.empty());
    ASSERT_LT(vecBareKey.size(), units[0].data.size());
    const std::vector<uint8_t> vecAudio = AlawSine(0, 160, 8000);

    struct Case
    {
        const char *szName;
        int nFirstResult; // of the first video record
    };
    const Case kCases[] = {{"pictures without key frame", 0}, {"key frame without SPS and PPS", -2},
                           {"key frame without frame rate", 0}, {"key frame without size", 0}};
    for (const Case &c : kCases) {
        const QString strPath = Path("none.mp4");
        {
            CMp4Writer writer(strPath.toLocal8Bit().constData());
            const FrameInfo early = AudioFrame(vecAudio, 14, 8000);
            EXPECT_EQ(writer.WriteFrame(&early), 0);
            FrameInfo first = VideoFrame(units[0], Codec::H264);
            const std::string strName = c.szName;
            if (strName == "pictures without key frame")
                first = VideoFrame(units[1], Codec::H264);
            else if (strName == "key frame without SPS and PPS") {
                first.pData = vecBareKey.data();
                first.nLength = static_cast<int>(vecBareKey.size());
            } else if (strName == "key frame without frame rate")
                first.nFrameRate = 0;
            else
                first.nWidth = 0;
            EXPECT_EQ(writer.WriteFrame(&first), c.nFirstResult) << c.szName;
            for (size_t n = 1; n < 25; ++n) {
                const FrameInfo frame = VideoFrame(units[n], Codec::H264);
                EXPECT_EQ(writer.WriteFrame(&frame), 0) << c.szName;
                EXPECT_EQ(writer.WriteFrame(&early), 0) << c.szName;
            }
            EXPECT_EQ(writer.WriteFrame(nullptr), 0);
        }
        EXPECT_FALSE(Exists(strPath)) << c.szName;
    }
}

TEST_F(Mp4WriterTest, LeavesAloneAFileItNeverOpened)
{
    // The writer only removes what it created: a file at its path that it never touched stays.
    const QString strPath = Path("kept.mp4");
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }
    {
        CMp4Writer writer(strPath.toLocal8Bit().constData());
    }
    EXPECT_TRUE(Exists(strPath));
}

TEST_F(Mp4WriterTest, OpeningFailuresAndTheirMessages)
{
    const Units &units = EncodedUnits(Codec::H264);
    const FrameInfo key = VideoFrame(units[0], Codec::H264);

    testing::internal::CaptureStdout();
    {
        CMp4Writer writer(Path("missing/folder/out.mp4").toLocal8Bit().constData());
        EXPECT_EQ(writer.WriteFrame(&key), -1);
    }
    std::string strOut = testing::internal::GetCapturedStdout();
    EXPECT_NE(strOut.find("avio_open failed. \n"), std::string::npos) << strOut;

    // 3GP's audio codec (AMR) has no encoder here: the file gets its video only.
    const QString str3gp = Path("out.3gp");
    testing::internal::CaptureStdout();
    {
        CMp4Writer writer(str3gp.toLocal8Bit().constData());
        for (const auto &unit : units) {
            const FrameInfo frame = VideoFrame(unit, Codec::H264);
            EXPECT_EQ(writer.WriteFrame(&frame), 1);
        }
    }
    strOut = testing::internal::GetCapturedStdout();
    EXPECT_NE(strOut.find("mp4 could not find encoder for 'amr_nb' \n"), std::string::npos) << strOut;
    FileProbe probe = Probe(str3gp);
    ASSERT_EQ(probe.vecStreams.size(), 1u);
    EXPECT_EQ(probe.vecStreams[0].nDecoded, static_cast<int>(units.size()));

    // A rate AAC does not have: the audio codec does not open, the video is still written.
    const QString strOdd = Path("odd.mp4");
    const std::vector<uint8_t> vecAudio = AlawSine(0, 160, 11111);
    testing::internal::CaptureStdout();
    {
        CMp4Writer writer(strOdd.toLocal8Bit().constData());
        const FrameInfo audio = AudioFrame(vecAudio, 14, 11111);
        EXPECT_EQ(writer.WriteFrame(&audio), 0);
        for (const auto &unit : units) {
            const FrameInfo frame = VideoFrame(unit, Codec::H264);
            EXPECT_EQ(writer.WriteFrame(&frame), 1);
            // The AAC encoder cannot open for it either.
            EXPECT_EQ(writer.WriteFrame(&audio), -1);
        }
    }
    strOut = testing::internal::GetCapturedStdout();
    EXPECT_NE(strOut.find("mp4 could not open audio codec["), std::string::npos) << strOut;
    probe = Probe(strOdd);
    ASSERT_EQ(probe.vecStreams.size(), 1u);
    EXPECT_EQ(probe.vecStreams[0].nDecoded, static_cast<int>(units.size()));
}

TEST_F(Mp4WriterTest, LargePcmRecordsAreEncodedWholeWhateverTheirBitsPerSample)
{
    // Records of 2500 16-bit samples, each more than two encoder blocks of 1024, labelled 8 bits per sample:
    // every sample reaches the AAC track.
    const Units &units = EncodedUnits(Codec::H264);
    const QString strPath = Path("pcm.mp4");
    int nSample = 0;
    {
        CMp4Writer writer(strPath.toLocal8Bit().constData());
        for (size_t n = 0; n < units.size(); ++n) {
            const FrameInfo frame = VideoFrame(units[n], Codec::H264);
            EXPECT_EQ(writer.WriteFrame(&frame), 1);
            if (n % 7 == 0) {
                const std::vector<uint8_t> vecPcm = Pcm16Sine(nSample, 2500, 8000);
                nSample += 2500;
                const FrameInfo audio = AudioFrame(vecPcm, 12, 8000, 8);
                EXPECT_EQ(writer.WriteFrame(&audio), 1);
            }
        }
        // Longer than the conversion buffer: refused, nothing written.
        const std::vector<uint8_t> vecHuge(600000, 0);
        const FrameInfo huge = AudioFrame(vecHuge, 12, 8000, 16);
        EXPECT_EQ(writer.WriteFrame(&huge), 0);
    }
    const FileProbe probe = Probe(strPath);
    ASSERT_EQ(probe.vecStreams.size(), 2u);
    const StreamProbe &audio = probe.vecStreams[1];
    // 9 records, 22500 samples: every one of them in the track, the last short block too.
    EXPECT_EQ(nSample, 22500);
    EXPECT_GE(audio.nDecoded, nSample);
    EXPECT_LT(audio.nDecoded, nSample + 1024);
    EXPECT_NEAR(audio.dDuration, nSample / 8000.0, 1024 / 8000.0);
    EXPECT_EQ(audio.nDecodeErrors, 0);
    EXPECT_NEAR(audio.dRms, 5657.0, 600.0);
}

TEST_F(Mp4WriterTest, AnotherFrameRateContinuesTheTimeline)
{
    // From the second key frame on the stream runs at 50 pictures a second.
    const Units &units = EncodedUnits(Codec::H265);
    ASSERT_TRUE(units[25].bKey);
    const QString strPath = Path("rate.mp4");
    {
        CMp4Writer writer(strPath.toLocal8Bit().constData());
        for (size_t n = 0; n < units.size(); ++n) {
            const FrameInfo frame = VideoFrame(units[n], Codec::H265, n < 25 ? 25 : 50);
            EXPECT_EQ(writer.WriteFrame(&frame), 1);
        }
    }
    const FileProbe probe = Probe(strPath);
    ASSERT_FALSE(probe.vecStreams.empty());
    const StreamProbe &video = probe.vecStreams[0];
    ASSERT_EQ(video.vecPts.size(), units.size());
    EXPECT_TRUE(StrictlyIncreasing(video.vecPts));
    EXPECT_NEAR(static_cast<double>(video.vecPts[25] - video.vecPts[24]), 40000, 3);
    EXPECT_NEAR(static_cast<double>(video.vecPts[40] - video.vecPts[39]), 20000, 3);
    EXPECT_EQ(video.nDecoded, static_cast<int>(units.size()));
}

TEST_F(Mp4WriterTest, RemuxesARawH264File)
{
    const Units &units = EncodedUnits(Codec::H264);
    const QString strRaw = Path("joined.h264");
    const QString strOut = Path("joined.mp4");
    ASSERT_TRUE(WriteRawFile(strRaw, units));
    {
        // A scratch writer whose path is the remux output: its own end must not remove the result.
        CMp4Writer writer(strOut.toLocal8Bit().constData());
        EXPECT_EQ(writer.RemuxFile(strRaw.toLocal8Bit().constData(), strOut.toLocal8Bit().constData()), AVERROR_EOF);
    }
    const FileProbe probe = Probe(strOut);
    ASSERT_TRUE(probe.bOpened);
    ASSERT_EQ(probe.vecStreams.size(), 1u);
    const StreamProbe &video = probe.vecStreams[0];
    EXPECT_EQ(video.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(video.nWidth, kWidth);
    ASSERT_EQ(video.vecPts.size(), units.size());
    EXPECT_TRUE(StrictlyIncreasing(video.vecPts));
    EXPECT_NEAR(static_cast<double>(video.vecPts.back() - video.vecPts.front()) * video.timeBase.num / video.timeBase.den,
                (units.size() - 1) / double(kFps), 0.01);
    EXPECT_EQ(video.nDecoded, static_cast<int>(units.size()));
    EXPECT_EQ(video.nDecodeErrors, 0);
}

TEST_F(Mp4WriterTest, RemuxAddsTheSoundOfAPcmFileBesideTheVideo)
{
    // 60 pictures at 25 a second and 2.4 s of a 440 Hz tone in 16-bit PCM: the remuxed file holds both, the
    // sound in AAC, all of it. A sound file that does not open leaves the video alone.
    const Units &units = EncodedUnits(Codec::H264);
    const QString strRaw = Path("joined.h264");
    ASSERT_TRUE(WriteRawFile(strRaw, units));
    const int nSamples = static_cast<int>(units.size()) * 8000 / kFps;
    const std::vector<uint8_t> vecPcm = Pcm16Sine(0, nSamples, 8000);
    const QString strPcm = Path("joined.pcm");
    {
        QFile pcm(strPcm);
        ASSERT_TRUE(pcm.open(QIODevice::WriteOnly));
        pcm.write(reinterpret_cast<const char *>(vecPcm.data()), static_cast<qint64>(vecPcm.size()));
    }
    for (const bool bSound : {true, false}) {
        SCOPED_TRACE(bSound ? "with sound" : "sound file missing");
        const QString strOut = Path(bSound ? "with_sound.mp4" : "without.mp4");
        const QByteArray pcm = (bSound ? strPcm : Path("absent.pcm")).toLocal8Bit();
        CMp4Writer::RemuxAudio audio;
        audio.szPcmPath = pcm.constData();
        audio.nSampleRate = 8000;
        {
            CMp4Writer scratch(Path("scratch.mp4").toLocal8Bit().constData());
            EXPECT_EQ(scratch.RemuxFile(strRaw.toLocal8Bit().constData(), strOut.toLocal8Bit().constData(), kFps, &audio),
                      AVERROR_EOF);
        }
        const FileProbe probe = Probe(strOut);
        ASSERT_EQ(probe.vecStreams.size(), bSound ? 2u : 1u);
        const StreamProbe &video = probe.vecStreams[0];
        EXPECT_EQ(video.codec, AV_CODEC_ID_H264);
        EXPECT_EQ(video.nDecoded, static_cast<int>(units.size()));
        EXPECT_EQ(video.nDecodeErrors, 0);
        EXPECT_NEAR(video.dDuration, units.size() / double(kFps), 0.001);
        if (!bSound)
            continue;
        const StreamProbe &sound = probe.vecStreams[1];
        EXPECT_EQ(sound.codec, AV_CODEC_ID_AAC);
        EXPECT_EQ(sound.nSampleRate, 8000);
        EXPECT_EQ(sound.nDecodeErrors, 0);
        EXPECT_GE(sound.nDecoded, nSamples);
        EXPECT_LT(sound.nDecoded, nSamples + 1024);
        EXPECT_NEAR(sound.dRms, 5657.0, 600.0);
    }
}

TEST_F(Mp4WriterTest, RemuxCopiesOnlyTheVideoOfAFileWithAudio)
{
    const Units &units = EncodedUnits(Codec::H265);
    const QString strIn = Path("with_audio.mp4");
    const QString strOut = Path("video_only.mp4");
    int nSample = 0;
    {
        CMp4Writer writer(strIn.toLocal8Bit().constData());
        for (const auto &unit : units) {
            const FrameInfo frame = VideoFrame(unit, Codec::H265);
            writer.WriteFrame(&frame);
            const std::vector<uint8_t> vecAudio = AlawSine(nSample, 320, 8000);
            nSample += 320;
            const FrameInfo audio = AudioFrame(vecAudio, 14, 8000);
            writer.WriteFrame(&audio);
        }
    }
    ASSERT_EQ(Probe(strIn).vecStreams.size(), 2u);
    CMp4Writer scratch(Path("scratch.mp4").toLocal8Bit().constData());
    scratch.RemuxFile(strIn.toLocal8Bit().constData(), strOut.toLocal8Bit().constData());
    const FileProbe probe = Probe(strOut);
    ASSERT_EQ(probe.vecStreams.size(), 1u);
    EXPECT_EQ(probe.vecStreams[0].codec, AV_CODEC_ID_HEVC);
    EXPECT_EQ(probe.vecStreams[0].nDecoded, static_cast<int>(units.size()));
    EXPECT_EQ(probe.vecStreams[0].nDecodeErrors, 0);
}

TEST_F(Mp4WriterTest, RemuxRefusesAnInputWithThreeStreams)
{
    const Units &units = EncodedUnits(Codec::H264);
    for (int nStreams : {2, 3}) {
        const QString strIn = Path("streams.ts");
        const QString strOut = Path("streams.mp4");
        ASSERT_TRUE(WriteTransportStream(strIn, units, nStreams));
        ASSERT_EQ(Probe(strIn).vecStreams.size(), static_cast<size_t>(nStreams));
        CMp4Writer scratch(Path("scratch.mp4").toLocal8Bit().constData());
        scratch.RemuxFile(strIn.toLocal8Bit().constData(), strOut.toLocal8Bit().constData());
        if (nStreams == 3) {
            EXPECT_FALSE(Exists(strOut));
        } else {
            const FileProbe probe = Probe(strOut);
            ASSERT_EQ(probe.vecStreams.size(), 1u);
            EXPECT_EQ(probe.vecStreams[0].nDecoded, static_cast<int>(units.size()));
        }
        QFile::remove(strIn);
        QFile::remove(strOut);
    }
    // An input that does not open: nothing is made either.
    CMp4Writer scratch(Path("scratch.mp4").toLocal8Bit().constData());
    EXPECT_LT(scratch.RemuxFile(Path("absent.h264").toLocal8Bit().constData(), Path("absent.mp4").toLocal8Bit().constData()), 0);
    EXPECT_FALSE(Exists(Path("absent.mp4")));
}
