// Local files (the block format, MP4 through libavformat), their position and end, the conversion to AVI and
// the recorder.

#include "platform/stream_block.h"
#include "tests/support/PavlineFixture.h"
#include "tests/support/ScratchMount.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QThread>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

constexpr int64_t kStartMs = 1700000000000LL;
constexpr int kPort = 128;

struct FileEnds
{
    std::atomic<int> nEnds{0};
    std::atomic<int> nPort{-1};
    static void OnEnd(int32_t nPort, void *pUser)
    {
        FileEnds *p = static_cast<FileEnds *>(pUser);
        p->nPort = nPort;
        ++p->nEnds;
    }
};

struct Progress
{
    std::mutex mutex;
    std::vector<std::pair<int, int>> reports;
    static void OnProgress(int32_t nCurrent, int32_t nTotal, void *pUser)
    {
        Progress *p = static_cast<Progress *>(pUser);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->reports.emplace_back(nCurrent, nTotal);
    }
    std::vector<std::pair<int, int>> Reports()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }
};

// What libavformat finds in a file, and the video frames libavcodec decodes from it.
struct FileContent
{
    bool bOpened = false;
    AVCodecID eVideo = AV_CODEC_ID_NONE;
    int nWidth = 0, nHeight = 0;
    AVCodecID eAudio = AV_CODEC_ID_NONE;
    int nSampleRate = 0;
    int nVideoPackets = 0;
    int nDecoded = 0;
    bool bDecodeErrors = false;
};

// bDecode: the video packets are Annex B (AVI) and are decoded.
FileContent ReadWithLibav(const std::string &strPath, bool bDecode = true)
{
    FileContent content;
    AVFormatContext *pInput = nullptr;
    if (avformat_open_input(&pInput, strPath.c_str(), nullptr, nullptr) < 0)
        return content;
    content.bOpened = avformat_find_stream_info(pInput, nullptr) >= 0;
    int nVideo = -1;
    for (unsigned i = 0; i < pInput->nb_streams; ++i) {
        const AVCodecParameters *pPar = pInput->streams[i]->codecpar;
        if (pPar->codec_type == AVMEDIA_TYPE_VIDEO) {
            nVideo = static_cast<int>(i);
            content.eVideo = pPar->codec_id;
            content.nWidth = pPar->width;
            content.nHeight = pPar->height;
        } else if (pPar->codec_type == AVMEDIA_TYPE_AUDIO) {
            content.eAudio = pPar->codec_id;
            content.nSampleRate = pPar->sample_rate;
        }
    }
    AvTestDecoder decoder(content.eVideo == AV_CODEC_ID_HEVC);
    AVPacket *pPacket = av_packet_alloc();
    while (av_read_frame(pInput, pPacket) >= 0) {
        if (pPacket->stream_index == nVideo) {
            ++content.nVideoPackets;
            if (bDecode && !decoder.Decode(pPacket->data, static_cast<size_t>(pPacket->size)))
                content.bDecodeErrors = true;
        }
        av_packet_unref(pPacket);
    }
    if (!decoder.Flush())
        content.bDecodeErrors = true;
    content.nDecoded = decoder.Pictures();
    av_packet_free(&pPacket);
    avformat_close_input(&pInput);
    return content;
}

std::vector<uint8_t> ReadAll(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

class PavlineFilesTest : public PavlineFixture
{
protected:
    // A block file of n frames of the 320x180 pattern, with an A-law block after every fifth frame.
    std::string BlockFile(const char *pName, uint8_t nCodec, int nFrames)
    {
        auto loop = PavlineTest::PatternLoop(nCodec, 320, 180, 25);
        const std::string strPath = TempPath(pName).toStdString();
        EXPECT_TRUE(loop && PavlineTest::WriteFile(strPath, PavlineTest::Join(PavlineTest::Blocks(*loop, nFrames, kStartMs, 5))));
        return strPath;
    }

    // An MP4 file of n frames of the 320x180 pattern, with 40 ms of A-law sound per frame.
    std::string Mp4File(const char *pName, int nFrames)
    {
        auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
        const std::string strPath = TempPath(pName).toStdString();
        EXPECT_TRUE(loop && PavlineTest::WriteMp4(strPath, *loop, nFrames, true));
        return strPath;
    }

    // Plays the open file port into the window to its end; returns the positions seen on the way.
    std::vector<float> PlayToEnd(NativeTestWindow &window, FileEnds &ends)
    {
        std::vector<float> positions;
        EXPECT_NE(KTN_VIEW_SetFileEndCallBack(kPort, FileEnds::OnEnd, &ends), 0);
        EXPECT_NE(KTN_VIEW_Play(kPort, window.Handle()), 0);
        EXPECT_TRUE(PavlineTest::WaitUntil([&] {
            positions.push_back(KTN_VIEW_GetPlayPos(kPort, 0));
            return ends.nEnds.load() > 0;
        }));
        return positions;
    }
};

TEST_F(PavlineFilesTest, BlockFilePlaysToItsEndWithOneEndCallback)
{
    for (uint8_t nCodec : {StreamBlock::kCodecH264, StreamBlock::kCodecH265}) {
        PavlineControl::Reset();
        const std::string strPath = BlockFile(nCodec == 2 ? "a.h264" : "a.h265x", nCodec, 60);
        NativeTestWindow window(320, 180);
        FileEnds ends;
        const PortsStop stop;
        ASSERT_NE(KTN_VIEW_OpenFile(kPort, strPath.c_str()), 0) << KTN_VIEW_GetLastError();
        ASSERT_NE(KTN_VIEW_PlaySound(kPort), 0);
        const std::vector<float> positions = PlayToEnd(window, ends);
        // The end comes once (counted again once the port is closed, below), and stays the end.
        EXPECT_EQ(ends.nEnds.load(), 1);
        EXPECT_EQ(ends.nPort.load(), kPort);
        EXPECT_FLOAT_EQ(KTN_VIEW_GetPlayPos(kPort, 0), 1.0f);
        for (size_t i = 1; i < positions.size(); ++i)
            EXPECT_GE(positions[i], positions[i - 1]);
        EXPECT_GT(positions.size(), 5u);
        const PortStats stats = PavlineControl::Stats(kPort);
        EXPECT_EQ(stats.nPicturesShown, 60);
        EXPECT_EQ(stats.nFileEndCallbacks, 1);
        EXPECT_EQ(PavlineControl::SoundSamples(kPort), 12 * 320);
        EXPECT_EQ(KTN_VIEW_GetSourceBufferRemain(kPort), 0);
        EXPECT_EQ(KTN_VIEW_GetBufferValue(kPort, KTN_BUF_DECODED_PICTURES), 0);
        // The last picture stays on the window.
        EXPECT_TRUE(PavlineTest::Near(window.Grab().pixelColor(60, 90), PavlineTest::PatternColour(320, 180, 60, 90), 28));
        EXPECT_NE(KTN_VIEW_Stop(kPort), 0);
        EXPECT_NE(KTN_VIEW_CloseFile(kPort), 0);
        EXPECT_EQ(ends.nEnds.load(), 1);
    }
}

TEST_F(PavlineFilesTest, SeekShowsThePictureAtThePositionWhenItReturns)
{
    const std::string strPath = BlockFile("seek.h264", StreamBlock::kCodecH264, 100);   // keys at 0, 1, 2, 3 s
    struct Case
    {
        double dPos;
        bool bPaused;
        int64_t nLandsMs;       // the picture shown at the position: the last one at or before it
        int64_t nPassed;        // decoded from the key frame before it and not shown
    };
    // The span is 3.96 s. 60 % is 2.376 s: from the key frame at 2 s, pictures 2.0 to 2.32 s are passed and the
    // one at 2.36 s is shown. 25 % is 0.99 s; 100 % the last picture itself.
    const Case cases[] = {
        {0.6, true, 2360, 9}, {0.25, true, 960, 24}, {1.0, true, 3960, 24}, {0.0, true, 0, 0}, {0.6, false, 2360, 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.dPos) + (c.bPaused ? " paused" : " playing"));
        PavlineControl::Reset();
        NativeTestWindow window(320, 180);
        const PortsStop stop;
        ASSERT_NE(KTN_VIEW_OpenFile(kPort, strPath.c_str()), 0);
        ASSERT_NE(KTN_VIEW_Play(kPort, window.Handle()), 0);
        if (c.bPaused) {
            ASSERT_NE(KTN_VIEW_Pause(kPort, 1), 0);
        }
        const PortStats before = PavlineControl::Stats(kPort);
        ASSERT_NE(KTN_VIEW_SetPlayPos(kPort, c.dPos), 0);
        // Back from the seek, the port shows the picture there: no wait for it.
        const PortStats after = PavlineControl::Stats(kPort);
        EXPECT_GT(after.nPicturesShown, before.nPicturesShown);
        if (c.bPaused) {
            EXPECT_EQ(after.nLastShownMs, kStartMs + c.nLandsMs);
            EXPECT_NEAR(KTN_VIEW_GetPlayPos(kPort, 0), static_cast<float>(c.nLandsMs) / 3960.0f, 0.001f);
        } else {
            // Playing on: a picture or two further on a loaded machine, never one before the position.
            EXPECT_GE(after.nLastShownMs, kStartMs + c.nLandsMs);
            EXPECT_LE(after.nLastShownMs, kStartMs + c.nLandsMs + 200);
        }
        EXPECT_EQ(after.nPicturesPassed - before.nPicturesPassed, c.nPassed);
        EXPECT_EQ(KTN_VIEW_GetCurPlayTime(kPort), (kStartMs + c.nLandsMs) / 1000);
    }
}

TEST_F(PavlineFilesTest, SeekToTheEndEndsAgainAndAClosedPortCallsBackNoMore)
{
    const std::string strPath = BlockFile("seek.h264", StreamBlock::kCodecH264, 100);
    NativeTestWindow window(320, 180);
    FileEnds ends;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_OpenFile(kPort, strPath.c_str()), 0);
    ASSERT_NE(KTN_VIEW_SetFileEndCallBack(kPort, FileEnds::OnEnd, &ends), 0);
    ASSERT_NE(KTN_VIEW_Play(kPort, window.Handle()), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return ends.nEnds.load() == 1; }));
    // Played again from near its end, it ends again: one callback for each end reached.
    ASSERT_NE(KTN_VIEW_SetPlayPos(kPort, 0.95), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return ends.nEnds.load() >= 2; }));
    EXPECT_EQ(KTN_VIEW_SetPlayPos(kPort, 1.5), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_PARAM);
    // Closed, the port calls back no more: two ends, one for each time the file was played to it.
    EXPECT_NE(KTN_VIEW_CloseFile(kPort), 0);
    EXPECT_EQ(ends.nEnds.load(), 2);
}

TEST_F(PavlineFilesTest, Mp4FilePlaysThroughLibavformat)
{
    const std::string strPath = Mp4File("clip.mp4", 50);
    const FileContent content = ReadWithLibav(strPath, false);
    ASSERT_TRUE(content.bOpened);
    ASSERT_EQ(content.eAudio, AV_CODEC_ID_AAC);
    NativeTestWindow window(320, 180);
    FileEnds ends;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_OpenFile(kPort, strPath.c_str()), 0) << KTN_VIEW_GetLastError();
    ASSERT_NE(KTN_VIEW_PlaySound(kPort), 0);
    PlayToEnd(window, ends);
    const PortStats stats = PavlineControl::Stats(kPort);
    EXPECT_EQ(stats.nPicturesShown, 50);
    EXPECT_EQ(stats.nDecodeErrors, 0);
    // AAC decoded to PCM: about the two seconds of sound.
    EXPECT_GT(PavlineControl::SoundSamples(kPort), 12000);
    int nWidth = 0, nHeight = 0;
    EXPECT_NE(KTN_VIEW_GetPictureSize(kPort, &nWidth, &nHeight), 0);
    EXPECT_EQ(nWidth, 320);
    const QImage image = window.Grab();
    for (int x : {20, 100, 180, 300})
        EXPECT_TRUE(PavlineTest::Near(image.pixelColor(x, 90), PavlineTest::PatternColour(320, 180, x, 90), 28)) << x;
    EXPECT_NE(KTN_VIEW_CloseFile(kPort), 0);
    // Closed, the port calls back no more: the end came once.
    EXPECT_EQ(ends.nEnds.load(), 1);
}

TEST_F(PavlineFilesTest, ConversionWritesAnAviThatLibavformatReads)
{
    for (uint8_t nCodec : {StreamBlock::kCodecH264, StreamBlock::kCodecH265}) {
        PavlineControl::Reset();
        const std::string strSource = BlockFile("dl_for_avi.h265x", nCodec, 50);
        const std::string strTarget = TempPath(nCodec == 2 ? "dl264.avi" : "dl265.avi").toStdString();
        Progress progress;
        const PortsStop stop;
        ASSERT_GT(KTN_VIEW_ConvertFile(strSource.c_str(), strTarget.c_str(), KTN_CONVERT_AVI, Progress::OnProgress,
                                       &progress),
                  0);
        ASSERT_TRUE(PavlineTest::WaitUntil([&] {
            const auto r = progress.Reports();
            return !r.empty() && r.back().first == r.back().second;
        }));
        PavlineControl::WaitForConversions();
        const auto reports = progress.Reports();
        // Rising, below the total until the one last report, which is the total.
        for (size_t i = 0; i + 1 < reports.size(); ++i) {
            EXPECT_LT(reports[i].first, reports[i].second);
            EXPECT_LE(reports[i].first, reports[i + 1].first);
        }
        EXPECT_EQ(reports.back(), std::make_pair(100, 100));

        const FileContent content = ReadWithLibav(strTarget);
        ASSERT_TRUE(content.bOpened);
        EXPECT_EQ(content.eVideo, nCodec == 2 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
        EXPECT_EQ(content.nWidth, 320);
        EXPECT_EQ(content.nHeight, 180);
        EXPECT_EQ(content.eAudio, AV_CODEC_ID_PCM_ALAW);
        EXPECT_EQ(content.nSampleRate, 8000);
        EXPECT_EQ(content.nVideoPackets, 50);
        EXPECT_EQ(content.nDecoded, 50);
        EXPECT_FALSE(content.bDecodeErrors);

        // The AVI plays as a local file.
        NativeTestWindow window(320, 180);
        FileEnds ends;
        const PortsStop endsStop;
        ASSERT_NE(KTN_VIEW_OpenFile(kPort, strTarget.c_str()), 0);
        PlayToEnd(window, ends);
        EXPECT_EQ(PavlineControl::Stats(kPort).nPicturesShown, 50);
        EXPECT_NE(KTN_VIEW_CloseFile(kPort), 0);
    }
}

TEST_F(PavlineFilesTest, ConversionAndFilesRefuseWhatTheyCannotRead)
{
    const std::string strMp4 = Mp4File("x.mp4", 10);
    const std::string strBlocks = BlockFile("x.h265x", StreamBlock::kCodecH264, 10);
    const std::string strText = TempPath("notes.txt").toStdString();
    ASSERT_TRUE(PavlineTest::WriteFile(strText, std::vector<uint8_t>(200, 'a')));
    struct Case
    {
        const char *pWhat;
        std::string strSource, strTarget;
        int nType;
        int32_t nError;
    };
    const Case cases[] = {
        {"missing source", TempPath("none.h265x").toStdString(), TempPath("a.avi").toStdString(), 2, KTN_ERR_FILE},
        {"container source", strMp4, TempPath("b.avi").toStdString(), 2, KTN_ERR_FORMAT},
        {"type other than AVI", strBlocks, TempPath("c.avi").toStdString(), 1, KTN_ERR_PARAM},
        {"target folder missing", strBlocks, TempPath("no/such/d.avi").toStdString(), 2, KTN_ERR_FILE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(KTN_VIEW_ConvertFile(c.strSource.c_str(), c.strTarget.c_str(), c.nType, Progress::OnProgress, nullptr), 0)
            << c.pWhat;
        EXPECT_EQ(KTN_VIEW_GetLastError(), c.nError) << c.pWhat;
    }
    EXPECT_EQ(PavlineControl::RunningConversions(), 0);
    EXPECT_EQ(KTN_VIEW_OpenFile(kPort, strText.c_str()), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_FORMAT);
    EXPECT_EQ(KTN_VIEW_OpenFile(kPort, TempPath("none.mp4").toLocal8Bit().constData()), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_FILE);
}

TEST_F(PavlineFilesTest, RecorderWritesTheBlocksOrAnAvi)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(loop);
    const auto blocks = PavlineTest::Blocks(*loop, 40, kStartMs, 4);
    const QString strBlocks = TempPath("rec.h265x"), strAvi = TempPath("rec.avi");
    ASSERT_NE(KTN_VIEW_OpenStream(5, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(5, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(5, nullptr), 0);
    // Started before any input, the recording is the input, byte for byte.
    ASSERT_NE(KTN_VIEW_StartDataRecord(5, strBlocks.toLocal8Bit().constData(), KTN_RECORD_BLOCKS), 0);
    EXPECT_EQ(KTN_VIEW_StartDataRecord(5, strAvi.toLocal8Bit().constData(), KTN_RECORD_AVI), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_BUSY);
    ASSERT_TRUE(PavlineTest::FeedAll(5, blocks));
    ASSERT_NE(KTN_VIEW_StopDataRecord(5), 0);
    EXPECT_EQ(ReadAll(strBlocks), PavlineTest::Join(blocks));

    ASSERT_NE(KTN_VIEW_StartDataRecord(5, strAvi.toLocal8Bit().constData(), KTN_RECORD_AVI), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(5, PavlineTest::Blocks(*loop, 40, kStartMs + 1600, 4)));
    ASSERT_NE(KTN_VIEW_StopDataRecord(5), 0);
    const FileContent content = ReadWithLibav(strAvi.toStdString());
    ASSERT_TRUE(content.bOpened);
    EXPECT_EQ(content.eVideo, AV_CODEC_ID_HEVC);
    EXPECT_EQ(content.eAudio, AV_CODEC_ID_PCM_ALAW);
    EXPECT_GE(content.nVideoPackets, 40);
    EXPECT_EQ(content.nDecoded, content.nVideoPackets);
    EXPECT_FALSE(content.bDecodeErrors);
    EXPECT_EQ(KTN_VIEW_StopDataRecord(5), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_ORDER);

    // An AVI that never got a picture cannot be finished whole, yet its recording ends: the stop succeeds once
    // and the port records again.
    const QString strEmpty = TempPath("empty.avi");
    ASSERT_NE(KTN_VIEW_StartDataRecord(5, strEmpty.toLocal8Bit().constData(), KTN_RECORD_AVI), 0);
    EXPECT_NE(KTN_VIEW_StopDataRecord(5), 0);
    EXPECT_EQ(KTN_VIEW_StopDataRecord(5), 0);
    EXPECT_NE(KTN_VIEW_StartDataRecord(5, strEmpty.toLocal8Bit().constData(), KTN_RECORD_AVI), 0);
    EXPECT_NE(KTN_VIEW_StopDataRecord(5), 0);

    // A file port records what it reads: a block file again, block for block.
    const std::string strSource = BlockFile("src.h265x", StreamBlock::kCodecH264, 30);
    const QString strCopy = TempPath("copy.h265x");
    NativeTestWindow window(320, 180);
    FileEnds ends;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_OpenFile(kPort, strSource.c_str()), 0);
    ASSERT_NE(KTN_VIEW_StartDataRecord(kPort, strCopy.toLocal8Bit().constData(), KTN_RECORD_BLOCKS), 0);
    PlayToEnd(window, ends);
    ASSERT_NE(KTN_VIEW_StopDataRecord(kPort), 0);
    EXPECT_EQ(ReadAll(strCopy), ReadAll(QString::fromStdString(strSource)));
}

// The video blocks of a block file decoded with libavcodec: how many there are, how many decode, the first one's
// kind and timestamp.
struct BlockFileContent
{
    int nVideo = 0;
    int nDecoded = 0;
    bool bDecodeErrors = false;
    bool bFirstIsKey = false;
    int64_t nFirstMs = -1;
};

BlockFileContent DecodeBlockFile(const QString &strPath, bool bH265)
{
    BlockFileContent content;
    const std::vector<uint8_t> bytes = ReadAll(strPath);
    AvTestDecoder decoder(bH265);
    StreamBlock::Parser parser;
    parser.Feed(bytes.data(), bytes.size(), [&](const StreamBlock::View &view) {
        if (!view.IsVideo())
            return;
        if (content.nVideo++ == 0) {
            content.bFirstIsKey = view.IsKeyFrame();
            content.nFirstMs = static_cast<int64_t>(view.nSeconds) * 1000 + view.nMilliseconds;
        }
        if (!decoder.Decode(view.pPayload, view.nPayload))
            content.bDecodeErrors = true;
    });
    if (!decoder.Flush())
        content.bDecodeErrors = true;
    content.nDecoded = decoder.Pictures();
    return content;
}

TEST_F(PavlineFilesTest, ARecordingBeginsWithTheKeyFrameBeforeThePictureShown)
{
    // 40 pictures, key frames at 0 and 25, held still and stepped through: the recording started then begins
    // at the key frame at or before the picture stepped to (at the first key frame while none is shown).
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(loop);
    struct Case
    {
        const char *pWhat;
        bool bFile;         // a local file (else a device playback stream)
        int nSteps;         // pictures shown before the recording starts
        int nKeptFrom;      // the first picture of the recording
    };
    const Case cases[] = {
        {"stream, nothing shown", false, 0, 0}, {"stream, picture 9", false, 10, 0},
        {"stream, picture 29", false, 30, 25}, {"file, picture 29", true, 30, 25}, {"file, picture 24", true, 25, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        PavlineControl::Reset();
        const PortsStop stop;
        const int nPort = c.bFile ? kPort : 5;
        const auto blocks = PavlineTest::Blocks(*loop, 40, kStartMs);
        if (c.bFile) {
            const std::string strSource = TempPath("gop.h265x").toStdString();
            ASSERT_TRUE(PavlineTest::WriteFile(strSource, PavlineTest::Join(blocks)));
            ASSERT_NE(KTN_VIEW_OpenFile(nPort, strSource.c_str()), 0);
            ASSERT_NE(KTN_VIEW_Play(nPort, nullptr), 0);
            ASSERT_NE(KTN_VIEW_Pause(nPort, 1), 0);
        } else {
            ASSERT_NE(KTN_VIEW_OpenStream(nPort, nullptr, 0, 4096000), 0);
            ASSERT_NE(KTN_VIEW_SetStreamOpenMode(nPort, STREAME_FILE), 0);
            ASSERT_NE(KTN_VIEW_Play(nPort, nullptr), 0);
            ASSERT_NE(KTN_VIEW_Pause(nPort, 1), 0);
            ASSERT_TRUE(PavlineTest::FeedAll(nPort, blocks));
        }
        for (int i = 0; i < c.nSteps; ++i) {
            ASSERT_NE(KTN_VIEW_OneByOne(nPort), 0);
            ASSERT_TRUE(PavlineControl::WaitForShown(nPort, i + 1, 20000));
        }
        const QString strClip = TempPath(QString("clip%1.h265x").arg(c.nSteps));
        ASSERT_NE(KTN_VIEW_StartDataRecord(nPort, strClip.toLocal8Bit().constData(), KTN_RECORD_BLOCKS), 0);
        if (!c.bFile) {
            ASSERT_TRUE(PavlineTest::FeedAll(nPort, PavlineTest::Blocks(*loop, 10, kStartMs + 1600)));
        }
        ASSERT_NE(KTN_VIEW_StopDataRecord(nPort), 0);
        const BlockFileContent content = DecodeBlockFile(strClip, true);
        EXPECT_TRUE(content.bFirstIsKey);
        EXPECT_EQ(content.nFirstMs, kStartMs + c.nKeptFrom * 40);
        EXPECT_GE(content.nVideo, 40 - c.nKeptFrom);
        EXPECT_EQ(content.nDecoded, content.nVideo);
        EXPECT_FALSE(content.bDecodeErrors);
    }
}

TEST_F(PavlineFilesTest, ARecordingThatCannotBeKeptEndsAndSaysWhy)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 320, 180, 25);
    ASSERT_TRUE(loop);
    ScratchMount disk(1024 * 1024);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why().toStdString();
    // Pictures 5 to 24 of a group: none can be decoded without the key frame before them.
    auto noKey = PavlineTest::Blocks(*loop, 25, kStartMs, 5);
    noKey.erase(noKey.begin(), noKey.begin() + 6);
    struct Case
    {
        const char *pWhat;
        int nType;
        bool bFull;
        std::vector<std::vector<uint8_t>> blocks;
        int32_t nError;
        bool bFileKept;
    };
    const Case cases[] = {
        {"no key frame, blocks", KTN_RECORD_BLOCKS, false, noKey, KTN_ERR_NO_PICTURE, false},
        {"no key frame, AVI", KTN_RECORD_AVI, false, noKey, KTN_ERR_NO_PICTURE, false},
        {"a full disk, blocks", KTN_RECORD_BLOCKS, true, PavlineTest::Blocks(*loop, 30, kStartMs, 5), KTN_ERR_FILE, true},
        {"a full disk, AVI", KTN_RECORD_AVI, true, PavlineTest::Blocks(*loop, 30, kStartMs, 5), KTN_ERR_FILE, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        PavlineControl::Reset();
        const QString strPath = disk.Path() + (c.nType == KTN_RECORD_AVI ? "/rec.avi" : "/rec.h265x");
        ASSERT_NE(KTN_VIEW_OpenStream(6, nullptr, 0, 4096000), 0);
        ASSERT_NE(KTN_VIEW_SetStreamOpenMode(6, STREAME_FILE), 0);
        ASSERT_NE(KTN_VIEW_Play(6, nullptr), 0);
        ASSERT_NE(KTN_VIEW_StartDataRecord(6, strPath.toLocal8Bit().constData(), c.nType), 0);
        if (c.bFull) {
            ASSERT_TRUE(disk.Fill());
        }
        ASSERT_TRUE(PavlineTest::FeedAll(6, c.blocks));
        EXPECT_EQ(KTN_VIEW_StopDataRecord(6), 0);
        EXPECT_EQ(KTN_VIEW_GetLastError(), c.nError);
        EXPECT_EQ(QFile::exists(strPath), c.bFileKept);
        // The recording has ended all the same: there is none to stop, and the port records again.
        EXPECT_EQ(KTN_VIEW_StopDataRecord(6), 0);
        EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_ORDER);
        disk.Unfill();
        QFile::remove(strPath);
        ASSERT_NE(KTN_VIEW_StartDataRecord(6, strPath.toLocal8Bit().constData(), c.nType), 0);
        ASSERT_TRUE(PavlineTest::FeedAll(6, PavlineTest::Blocks(*loop, 30, kStartMs + 2000, 5)));
        EXPECT_NE(KTN_VIEW_StopDataRecord(6), 0);
        QFile::remove(strPath);
        EXPECT_NE(KTN_VIEW_CloseStream(6), 0);
    }
}

} // namespace
