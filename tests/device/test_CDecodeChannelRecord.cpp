// CDecodeChannel recording with blocks replayed into the channel: which recorder a name goes to, what each route
// writes (only video into an H.264 recording, audio with its codec and rate into an H.265 one, key frames as the
// blocks mark them), recordings of one second kept apart, a stop before any video, and file conversion.

#include "device/CDecodeChannel.h"
#include "platform/stream_block.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <memory>

namespace {

using RecordTest::LiveBlock;
using RecordTest::MediaReport;

constexpr int64_t kStartMs = 1705312800000LL;   // 2024-01-15 10:00:00

class CDecodeChannelRecordTest : public RecordFixture
{
protected:
    // A channel playing (without a window), so that it may record.
    std::unique_ptr<CDecodeChannel> Playing(int nPort, bool bPlayback = false)
    {
        auto pChannel = std::make_unique<CDecodeChannel>(nPort);
        EXPECT_EQ(pChannel->Open(bPlayback ? 0 : 1), 1);
        EXPECT_EQ(bPlayback ? pChannel->StartPlayback(false) : pChannel->StartPreview(), 1);
        return pChannel;
    }
    static void Close(std::unique_ptr<CDecodeChannel> &pChannel)
    {
        pChannel->StopPreview();
        pChannel->Close();
        pChannel.reset();   // the worker may finish the recording after it (WaitForRecordings)
    }
    QByteArray Name(const QString &strFile) const { return (RecordDir() + "/" + strFile).toLocal8Bit(); }
};

TEST_F(CDecodeChannelRecordTest, WhichRecorderANameGoesTo)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    const std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, 30, kStartMs);
    for (int nMode : {0, 1, 2}) {
        SCOPED_TRACE("OemMode " + std::to_string(nMode));
        SetOemMode(nMode);
        PavlineControl::ClearJournal();
        auto pChannel = std::make_unique<CDecodeChannel>(nMode);
        // Stopped: nothing records.
        EXPECT_EQ(pChannel->StartRecord(Name("stopped.h264").constData(), 0), 0);
        EXPECT_FALSE(pChannel->IsRecording());
        EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_StartDataRecord").empty());
        pChannel->Open(1);
        pChannel->StartPreview();
        // An AVI name is written by the library's recorder in every mode.
        const QString strAvi = QString("%1_20240115_100000.avi").arg(nMode);
        ASSERT_EQ(pChannel->StartRecord(Name(strAvi).constData(), 2), 1);
        EXPECT_TRUE(pChannel->IsRecording());
        // A second start keeps the running recording.
        EXPECT_EQ(pChannel->StartRecord(Name("second.h265x").constData(), 0), 0);
        EXPECT_TRUE(pChannel->IsRecording());
        RecordTest::Feed(*pChannel, blocks);
        EXPECT_EQ(pChannel->StopRecord(), 1);
        EXPECT_FALSE(pChannel->IsRecording());
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StartDataRecord").size(), 1u);
        const MediaReport avi = RecordTest::Probe(RecordDir() + "/" + strAvi);
        EXPECT_EQ(avi.nVideoPackets, 30) << RecordTest::Describe(avi);
        EXPECT_EQ(avi.nPictures, 30);
        EXPECT_EQ(avi.nDecodeErrors, 0);
        EXPECT_NEAR(avi.dFrameRate, 15.0, 0.1);
        // Without a recording: the library's answer in mode 0, else 0 without a call.
        PavlineControl::ClearJournal();
        EXPECT_EQ(pChannel->StopRecord(), 0);
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StopDataRecord").size(), nMode == 0 ? 1u : 0u);
        // An empty name records nothing.
        EXPECT_EQ(pChannel->StartRecord("", 0), 0);
        EXPECT_FALSE(pChannel->IsRecording());
        Close(pChannel);
    }
    EXPECT_FALSE(QFileInfo::exists(RecordDir() + "/stopped.mp4"));
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

TEST_F(CDecodeChannelRecordTest, StartWhileStoppedClearsTheFlagAndEndsARecordingLeftRunning)
{
    // Play stopped under a running recording: a start then answers 0 with the recording flag clear, and the
    // recording is ended with its file whole rather than left running where no stop can reach it.
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    const struct
    {
        int nOemMode;
        const char *pName;
        int nRecordType;
        const char *pFile;
    } cases[] = {{0, "06_20240115_100000.avi", 2, "06_20240115_100000.avi"},
                 {1, "07_20240115_100000.h264", 0, "07_20240115_100000.mp4"},
                 {2, "08_20240115_100000.h265", 0, "08_20240115_100000.mp4"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SetOemMode(c.nOemMode);
        auto pChannel = Playing(5);
        ASSERT_EQ(pChannel->StartRecord(Name(c.pName).constData(), c.nRecordType), 1);
        RecordTest::Feed(*pChannel, RecordTest::LiveBlocks(*loop, 30, kStartMs, true));
        EXPECT_EQ(pChannel->StopPreview(), 1);
        EXPECT_EQ(pChannel->StartRecord(Name("09_20240115_100000.h264").constData(), 0), 0);
        EXPECT_FALSE(pChannel->IsRecording());
        // A second start while stopped has nothing to end.
        EXPECT_EQ(pChannel->StartRecord(Name("09_20240115_100000.h264").constData(), 0), 0);
        pChannel->Close();
        pChannel.reset();
    }
    ASSERT_TRUE(WaitForRecordings());
    for (const auto &c : cases) {
        const MediaReport report = RecordTest::Probe(RecordDir() + "/" + c.pFile);
        EXPECT_EQ(report.nVideoPackets, 30) << c.pFile << " " << RecordTest::Describe(report);
        EXPECT_EQ(report.nPictures, 30);
        EXPECT_EQ(report.nAudioStreams, 1);
    }
    EXPECT_EQ(RecordFiles("*").size(), 3u) << RecordFiles("*").join(" ").toStdString();
}

TEST_F(CDecodeChannelRecordTest, PlaybackPaneRecordingGoesToTheLibraryRecorderInOwnModes)
{
    // A playback pane's ".h265x" name in mode 1: the blocks come without a record, which the channel's own
    // recorder needs, so the library's recorder writes them.
    SetOemMode(1);
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(loop);
    auto pChannel = Playing(65, true);
    const QByteArray name = Name("02_20240115_100000.h265x");
    ASSERT_EQ(pChannel->StartRecord(name.constData(), 0), 1);
    ASSERT_TRUE(PavlineTest::FeedAll(65, PavlineTest::Blocks(*loop, 50, kStartMs, 5)));
    for (const auto &block : PavlineTest::Blocks(*loop, 10, kStartMs + 2000))
        pChannel->InputData(block.data(), static_cast<uint32_t>(block.size()), nullptr);
    EXPECT_EQ(pChannel->StopRecord(), 1);
    pChannel->StopPlayback();
    pChannel->Close();
    pChannel.reset();

    QFile file(QString::fromLocal8Bit(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    StreamBlock::Parser parser;
    AvTestDecoder decoder(true);
    int nVideo = 0, nAudio = 0;
    parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()),
                [&](const StreamBlock::View &view) {
                    if (view.IsAudio()) {
                        ++nAudio;
                        return;
                    }
                    ++nVideo;
                    EXPECT_TRUE(decoder.Decode(view.pPayload, view.nPayload));
                });
    EXPECT_TRUE(decoder.Flush());
    EXPECT_EQ(nVideo, 60);
    EXPECT_EQ(nAudio, 10);
    EXPECT_EQ(decoder.Pictures(), 60);
    EXPECT_TRUE(RecordFiles("*.mp4").isEmpty());
}

TEST_F(CDecodeChannelRecordTest, H264RecordingHoldsItsPicturesFromTheFirstKeyFrameWithTheirSound)
{
    SetOemMode(1);
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    // A channel that received nothing before its start; the stream comes in 5 frames into a group of pictures.
    std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, 15 * 8 + 5, kStartMs, true);
    size_t nVideo = 0, nAt = 0;
    while (nVideo < 5)
        nVideo += blocks[nAt++].frame.nKind == ZDK_FRAME_VIDEO ? 1 : 0;
    blocks.erase(blocks.begin(), blocks.begin() + static_cast<long>(nAt));
    ASSERT_FALSE(blocks.front().frame.nKeyFrame);
    size_t nKey = 0;
    while (!blocks[nKey].frame.nKeyFrame)
        ++nKey;
    const int64_t nSound = RecordTest::SoundSamples(std::vector<LiveBlock>(blocks.begin() + static_cast<long>(nKey), blocks.end()));
    LogCapture log;
    auto pChannel = Playing(4);
    ASSERT_EQ(pChannel->StartRecord(Name("05_20240115_100000.h264").constData(), 0), 1);
    EXPECT_TRUE(QFileInfo::exists(TempFolder()));
    EXPECT_TRUE(QFileInfo::exists(RecordDir() + "/05_20240115_100000.mp4")) << "the placeholder";
    RecordTest::Feed(*pChannel, blocks);
    EXPECT_EQ(pChannel->StopRecord(), 1);
    Close(pChannel);
    ASSERT_TRUE(WaitForRecordings());

    const MediaReport mp4 = RecordTest::Probe(RecordDir() + "/05_20240115_100000.mp4");
    SCOPED_TRACE(RecordTest::Describe(mp4));
    // The 10 frames before the first key frame cannot be decoded and are not recorded, nor their sound.
    EXPECT_EQ(mp4.nVideoPackets, 110);
    EXPECT_EQ(mp4.strVideoCodec, "h264");
    EXPECT_TRUE(mp4.bFirstIsKey);
    EXPECT_EQ(mp4.nPictures, mp4.nVideoPackets);
    EXPECT_EQ(mp4.nDecodeErrors, 0);
    EXPECT_TRUE(mp4.bPicturesInOrder);
    EXPECT_NEAR(mp4.dFrameRate, 15.0, 0.05);
    EXPECT_NEAR(mp4.dVideoDuration, 110 / 15.0, 0.001);
    EXPECT_EQ(mp4.nWidth, 640);
    // The sound from the key frame on, in AAC, all of it.
    EXPECT_EQ(mp4.nAudioStreams, 1);
    EXPECT_EQ(mp4.strAudioCodec, "aac");
    EXPECT_EQ(mp4.nSampleRate, 8000);
    EXPECT_EQ(mp4.nAudioDecodeErrors, 0);
    EXPECT_GE(mp4.nAudioSamples, nSound);
    EXPECT_LT(mp4.nAudioSamples, nSound + 1024);
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
    EXPECT_TRUE(log.WaitFor("Path=" + TempFolder()));
    EXPECT_TRUE(log.Contains("StartRecord port:4"));
    EXPECT_EQ(RecordFiles("*").size(), 1) << RecordFiles("*").join(" ").toStdString();
}

TEST_F(CDecodeChannelRecordTest, StopBeforeAnyVideoLeavesTheEmptyPlaceholder)
{
    SetOemMode(2);
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    std::vector<LiveBlock> audioOnly;
    for (LiveBlock &block : RecordTest::LiveBlocks(*loop, 10, kStartMs, true))
        if (block.frame.nKind == ZDK_FRAME_AUDIO)
            audioOnly.push_back(std::move(block));
    auto pChannel = Playing(0);
    ASSERT_EQ(pChannel->StartRecord(Name("01_20240115_100000.h264").constData(), 0), 1);
    RecordTest::Feed(*pChannel, audioOnly);
    EXPECT_EQ(pChannel->StopRecord(), 1);
    Close(pChannel);
    ASSERT_TRUE(WaitForRecordings());
    EXPECT_EQ(RecordFiles("*"), QStringList{RecordDir() + "/01_20240115_100000.mp4"});
    EXPECT_EQ(QFileInfo(RecordDir() + "/01_20240115_100000.mp4").size(), 0);
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

struct AudioCase
{
    uint8_t nAudioType;
    uint8_t nRateCode;
    int nSampleRate;
};

class H265RouteTest : public CDecodeChannelRecordTest, public ::testing::WithParamInterface<AudioCase>
{
};

TEST_P(H265RouteTest, RecordingBeginsAtTheKeyFrameBeforeItsStartWithItsSoundAtItsCodecAndRate)
{
    SetOemMode(2);
    const AudioCase c = GetParam();
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(loop);
    ASSERT_EQ(loop->frames.size() % 25, 0u);
    // Over four seconds of the stream play before the recording starts, half a second after a key frame: the
    // recording begins with that key frame and the sound since, and the writer makes its audio stream with the
    // sound the stream has.
    const std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, 150, kStartMs, true, c.nAudioType, c.nRateCode);
    auto videoBlock = [&](int nFrame) {
        int nVideo = -1;
        for (auto it = blocks.begin(); it != blocks.end(); ++it)
            if (it->frame.nKind == ZDK_FRAME_VIDEO && ++nVideo == nFrame)
                return it;
        return blocks.end();
    };
    const auto key = videoBlock(100);
    const auto recordFrom = videoBlock(112);
    ASSERT_TRUE(key->frame.nKeyFrame);
    const int64_t nSound = RecordTest::SoundSamples(std::vector<LiveBlock>(key, blocks.end()));
    auto pChannel = Playing(2);
    RecordTest::Feed(*pChannel, std::vector<LiveBlock>(blocks.begin(), recordFrom));
    ASSERT_EQ(pChannel->StartRecord(Name("03_20240115_100000.h265").constData(), 0), 1);
    RecordTest::Feed(*pChannel, std::vector<LiveBlock>(recordFrom, blocks.end()));
    EXPECT_EQ(pChannel->StopRecord(), 1);
    Close(pChannel);
    ASSERT_TRUE(WaitForRecordings());

    const MediaReport mp4 = RecordTest::Probe(RecordDir() + "/03_20240115_100000.mp4");
    SCOPED_TRACE(RecordTest::Describe(mp4));
    ASSERT_EQ(mp4.nVideoPackets, 50);
    EXPECT_EQ(mp4.strVideoCodec, "hevc");
    EXPECT_EQ(mp4.nPictures, 50);
    EXPECT_EQ(mp4.nDecodeErrors, 0);
    EXPECT_TRUE(mp4.bPicturesInOrder);
    EXPECT_NEAR(mp4.dFrameRate, 25.0, 0.05);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(mp4.keyFlags[static_cast<size_t>(i)], loop->frames[static_cast<size_t>(100 + i) % loop->frames.size()].bKeyFrame)
            << "packet " << i;
    EXPECT_EQ(mp4.nAudioStreams, 1);
    EXPECT_EQ(mp4.strAudioCodec, "aac");
    EXPECT_EQ(mp4.nSampleRate, c.nSampleRate);
    EXPECT_EQ(mp4.nAudioDecodeErrors, 0);
    EXPECT_GE(mp4.nAudioSamples, nSound);
    EXPECT_LT(mp4.nAudioSamples, nSound + 1024);
    EXPECT_EQ(RecordFiles("*").size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Audio, H265RouteTest,
                         ::testing::Values(AudioCase{StreamBlock::kAudioALaw, StreamBlock::kRate8000, 8000},
                                           AudioCase{StreamBlock::kAudioMuLaw, StreamBlock::kRate16000, 16000}));

TEST_F(CDecodeChannelRecordTest, RecordingsOfOneSecondKeepTheirOwnFiles)
{
    // The live page names recordings to the second: a second recording of the same second (and of the same
    // channel) gets a name of its own instead of replacing the first. Each after the first begins with the last
    // group of pictures of the stream before it.
    SetOemMode(1);
    auto h264 = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    auto h265 = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(h264 && h265);
    for (const char *pExt : {".h264", ".h265"}) {
        const VideoLoop &loop = QByteArray(pExt) == ".h264" ? *h264 : *h265;
        auto pChannel = Playing(7);
        for (int nFrames : {30, 45, 60}) {
            const QByteArray name = Name(QString("08_20240115_100000") + pExt);
            // The worker may still be finishing the one before.
            ASSERT_TRUE(PavlineTest::WaitUntil([&] { return pChannel->StartRecord(name.constData(), 0) == 1; }, 60000));
            RecordTest::Feed(*pChannel, RecordTest::LiveBlocks(loop, nFrames, kStartMs));
            EXPECT_EQ(pChannel->StopRecord(), 1);
        }
        Close(pChannel);
    }
    ASSERT_TRUE(WaitForRecordings());
    const QStringList files = RecordFiles("*");
    const QString strBase = RecordDir() + "/08_20240115_100000";
    ASSERT_EQ(files, (QStringList{strBase + ".mp4", strBase + "_1.mp4", strBase + "_2.mp4", strBase + "_3.mp4",
                                  strBase + "_4.mp4", strBase + "_5.mp4"}));
    // 30, 45 and 60 pictures; from the second on with the pictures since the last key frame before (one a second).
    const int expected[] = {30, 15 + 45, 15 + 60, 30, 5 + 45, 20 + 60};
    for (int i = 0; i < files.size(); ++i) {
        const MediaReport mp4 = RecordTest::Probe(files[i]);
        EXPECT_EQ(mp4.nVideoPackets, expected[i]) << files[i].toStdString() << " " << RecordTest::Describe(mp4);
        EXPECT_EQ(mp4.nPictures, expected[i]);
        EXPECT_EQ(mp4.nDecodeErrors, 0);
        EXPECT_EQ(mp4.strVideoCodec, i < 3 ? "h264" : "hevc");
    }
}

TEST_F(CDecodeChannelRecordTest, H265RecordingGoesOnInANewFileWhenTheStreamChangesItsCodec)
{
    // The device's stream changes from H.264 to H.265 during the recording: one file a codec, both whole.
    SetOemMode(1);
    auto h264 = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    auto h265 = PavlineTest::PatternLoop(StreamBlock::kCodecH265, 320, 180, 25);
    ASSERT_TRUE(h264 && h265);
    auto pChannel = Playing(7);
    ASSERT_EQ(pChannel->StartRecord(Name("08_20240115_100000.h265").constData(), 0), 1);
    RecordTest::Feed(*pChannel, RecordTest::LiveBlocks(*h264, 30, kStartMs, true));
    RecordTest::Feed(*pChannel, RecordTest::LiveBlocks(*h265, 50, kStartMs + 2000, true));
    EXPECT_EQ(pChannel->StopRecord(), 1);
    Close(pChannel);
    ASSERT_TRUE(WaitForRecordings());
    const QStringList files = RecordFiles("*");
    ASSERT_EQ(files.size(), 2) << files.join(" ").toStdString();
    EXPECT_EQ(files[0], RecordDir() + "/08_20240115_100000.mp4");
    const struct
    {
        const char *pCodec;
        int nPictures;
    } expected[] = {{"h264", 30}, {"hevc", 50}};
    for (int i = 0; i < 2; ++i) {
        const MediaReport mp4 = RecordTest::Probe(files[i]);
        SCOPED_TRACE(files[i].toStdString() + " " + RecordTest::Describe(mp4));
        EXPECT_EQ(mp4.strVideoCodec, expected[i].pCodec);
        EXPECT_EQ(mp4.nVideoPackets, expected[i].nPictures);
        EXPECT_EQ(mp4.nPictures, expected[i].nPictures);
        EXPECT_EQ(mp4.nDecodeErrors, 0);
        EXPECT_EQ(mp4.nAudioStreams, 1);
    }
}

TEST_F(CDecodeChannelRecordTest, ClosingTheChannelFinishesItsRecording)
{
    SetOemMode(1);
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    for (const char *pName : {"01_20240115_100000.h264", "02_20240115_100000.h265"}) {
        auto pChannel = Playing(0);
        ASSERT_EQ(pChannel->StartRecord(Name(pName).constData(), 0), 1);
        RecordTest::Feed(*pChannel, RecordTest::LiveBlocks(*loop, 45, kStartMs));
        // The page went without stopping the recording.
        pChannel.reset();
        ASSERT_TRUE(WaitForRecordings());
        const MediaReport mp4 = RecordTest::Probe(RecordDir() + "/" + QString(pName).left(18) + ".mp4");
        EXPECT_EQ(mp4.nVideoPackets, 45) << pName << " " << RecordTest::Describe(mp4);
        EXPECT_EQ(mp4.nPictures, 45);
    }
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

TEST_F(CDecodeChannelRecordTest, ChannelsRecordingTogetherShareTheTemporaryFolder)
{
    // One channel finishing its recording leaves the folder to the others still using it.
    SetOemMode(1);
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    auto pFirst = Playing(0);
    auto pSecond = Playing(1);
    ASSERT_EQ(pFirst->StartRecord(Name("01_20240115_100000.h264").constData(), 0), 1);
    ASSERT_EQ(pSecond->StartRecord(Name("02_20240115_100000.h264").constData(), 0), 1);
    const std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, 60, kStartMs);
    RecordTest::Feed(*pFirst, blocks);
    RecordTest::Feed(*pSecond, std::vector<LiveBlock>(blocks.begin(), blocks.begin() + 30));
    EXPECT_EQ(pFirst->StopRecord(), 1);
    Close(pFirst);
    EXPECT_TRUE(QFileInfo::exists(TempFolder()));
    RecordTest::Feed(*pSecond, std::vector<LiveBlock>(blocks.begin() + 30, blocks.end()));
    EXPECT_EQ(pSecond->StopRecord(), 1);
    Close(pSecond);
    ASSERT_TRUE(WaitForRecordings());
    for (const char *pName : {"01_20240115_100000.mp4", "02_20240115_100000.mp4"}) {
        const MediaReport mp4 = RecordTest::Probe(RecordDir() + "/" + pName);
        EXPECT_EQ(mp4.nVideoPackets, 60) << pName << " " << RecordTest::Describe(mp4);
        EXPECT_EQ(mp4.nPictures, 60);
    }
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

struct Progress
{
    std::atomic<int> nCalls{0};
    std::atomic<int> nLast{-1};
    std::atomic<int> nTotal{0};
    static void OnProgress(int32_t nCurrent, int32_t nTotal, void *pUser)
    {
        Progress *p = static_cast<Progress *>(pUser);
        p->nTotal = nTotal;
        p->nLast = nCurrent;
        ++p->nCalls;
    }
};

TEST_F(CDecodeChannelRecordTest, ChangeFileFormatConvertsToAviOnly)
{
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    const QString strSource = m_tempDir.filePath("01_2024-01-15_100000_100004_for_avi.h265x");
    ASSERT_TRUE(PavlineTest::WriteFile(strSource.toStdString(), PavlineTest::Join(PavlineTest::Blocks(*loop, 45, kStartMs))));
    const QString strTarget = m_tempDir.filePath("01_2024-01-15_100000_100004.avi");
    LogCapture log;
    Progress progress;
    for (int nType : {0, 1, 3}) {
        EXPECT_FALSE(CDecodeChannel::ChangeFileFormat(strSource, strTarget, nType, &Progress::OnProgress, &progress));
    }
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_ConvertFile").empty());
    ASSERT_TRUE(CDecodeChannel::ChangeFileFormat(strSource, strTarget, 2, &Progress::OnProgress, &progress));
    EXPECT_TRUE(log.WaitFor("srcFileName:" + strSource + "<--->dstFileName:" + strTarget));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return progress.nCalls > 0 && progress.nLast == progress.nTotal; }, 10000));
    PavlineControl::WaitForConversions();
    const MediaReport avi = RecordTest::Probe(strTarget);
    EXPECT_EQ(avi.nVideoPackets, 45) << RecordTest::Describe(avi);
    EXPECT_EQ(avi.nPictures, 45);
    // A source that does not exist does not start.
    EXPECT_FALSE(CDecodeChannel::ChangeFileFormat(m_tempDir.filePath("absent.h265x"), strTarget, 2,
                                                  &Progress::OnProgress, &progress));
}

} // namespace
