// Recordings past 10 MiB roll over into new files, each beginning at a key frame with the sound of its own
// pictures; about 25 MiB make three files and the temporary folder is gone afterwards. The blocks are the simulated device's loops replayed at once.

#include "device/CDecodeChannel.h"
#include "device/CRecordWorker.h"
#include "platform/stream_block.h"
#include "tests/support/RecordFixture.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

namespace {

using RecordTest::LiveBlock;
using RecordTest::MediaReport;

constexpr int64_t kStartMs = 1705312800000LL;
constexpr size_t kTarget = 25u * 1024u * 1024u;

struct RollCase
{
    int nOemMode;
    uint8_t nCodec;
    int nWidth, nHeight, nFrameRate;
    const char *pName;
};

class RecordRollOverTest : public RecordFixture, public ::testing::WithParamInterface<RollCase>
{
};

TEST_P(RecordRollOverTest, AboutTwentyFiveMiBMakeThreeFilesEachBeginningAtAKeyFrame)
{
    const RollCase c = GetParam();
    SetOemMode(c.nOemMode);
    // Pictures of noise: a stream that reaches 10 MiB in seconds, not in the half hour of the test pattern.
    auto loop = RecordTest::EncodedLoop(c.nCodec, c.nWidth, c.nHeight, c.nFrameRate, 2 * c.nFrameRate, true);
    ASSERT_TRUE(loop);
    // The bytes a loop counts towards the cut: the joined H.264, or the H.265 writer's payload, sound included.
    const bool bWriter = c.nCodec == StreamBlock::kCodecH265;
    const std::vector<LiveBlock> loopBlocks =
        RecordTest::LiveBlocks(*loop, static_cast<int>(loop->frames.size()), kStartMs, true);
    const size_t nLoopBytes = RecordTest::VideoPayload(loopBlocks) +
                              (bWriter ? static_cast<size_t>(RecordTest::SoundSamples(loopBlocks)) : 0);
    // Whole loops, so that the count of frames per file can be checked against the loop; the last loop is cut
    // in its middle, so that the recording ends within a group of pictures.
    const int nFrames = static_cast<int>(kTarget / nLoopBytes * loop->frames.size() + loop->frames.size() / 2 + 3);
    const std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, nFrames, kStartMs, true);
    const size_t nPayload = RecordTest::VideoPayload(blocks) +
                            (bWriter ? static_cast<size_t>(RecordTest::SoundSamples(blocks)) : 0);
    ASSERT_GT(nPayload, 2 * static_cast<size_t>(CRecordWorker::kRollOverBytes) + 1024 * 1024);
    ASSERT_LT(nPayload, 3 * static_cast<size_t>(CRecordWorker::kRollOverBytes));

    auto pChannel = std::make_unique<CDecodeChannel>(0);
    pChannel->Open(1);
    pChannel->StartPreview();
    const QString strName = RecordDir() + "/" + c.pName;
    ASSERT_EQ(pChannel->StartRecord(strName.toLocal8Bit().constData(), 0), 1);
    RecordTest::Feed(*pChannel, blocks);
    EXPECT_EQ(pChannel->StopRecord(), 1);
    pChannel->StopPreview();
    pChannel->Close();
    pChannel.reset();
    ASSERT_TRUE(WaitForRecordings());

    const QStringList files = RecordFiles("*");
    ASSERT_EQ(files.size(), 3) << files.join(" ").toStdString();
    // The first keeps the requested name; the others carry the time of their roll-over.
    EXPECT_EQ(files[0], strName.left(strName.size() - 5) + ".mp4");
    const QRegularExpression name("/01_\\d{8}_\\d{6}(_\\d+)?\\.mp4$");
    int nPackets = 0;
    for (const QString &strFile : files) {
        SCOPED_TRACE(strFile.toStdString());
        EXPECT_TRUE(name.match(strFile).hasMatch());
        // Reading every packet, decoding the first groups of pictures of each file.
        const MediaReport mp4 = RecordTest::Probe(strFile, 3 * c.nFrameRate);
        EXPECT_TRUE(mp4.bFirstIsKey) << RecordTest::Describe(mp4);
        EXPECT_EQ(mp4.nDecodeErrors, 0);
        EXPECT_EQ(mp4.nPictures, std::min(mp4.nVideoPackets, 3 * c.nFrameRate));
        EXPECT_NEAR(mp4.dFrameRate, c.nFrameRate, 0.05);
        EXPECT_EQ(mp4.nWidth, c.nWidth);
        // Each file has the sound of its own pictures.
        EXPECT_EQ(mp4.strAudioCodec, "aac");
        EXPECT_EQ(mp4.nAudioDecodeErrors, 0);
        EXPECT_NEAR(mp4.dAudioDuration, mp4.dVideoDuration, 0.2);
        nPackets += mp4.nVideoPackets;
        // Cut at 10 MiB of pictures (with the writer, of pictures and sound): the first two hold a little more,
        // the last the rest; the file is its packets and little else.
        if (strFile != files.last()) {
            EXPECT_GT(mp4.nVideoBytes, 9 * 1024 * 1024);
        }
        EXPECT_LT(mp4.nVideoBytes, CRecordWorker::kRollOverBytes + static_cast<int64_t>(nLoopBytes));
        EXPECT_LT(QFileInfo(strFile).size(), mp4.nVideoBytes + mp4.nAudioBytes + 1024 * 1024);
    }
    EXPECT_EQ(nPackets, nFrames);
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

INSTANTIATE_TEST_SUITE_P(Routes, RecordRollOverTest,
                         ::testing::Values(RollCase{1, StreamBlock::kCodecH264, 640, 360, 15, "01_20240115_100000.h264"},
                                           RollCase{1, StreamBlock::kCodecH265, 640, 360, 25, "01_20240115_100000.h265"}),
                         [](const ::testing::TestParamInfo<RollCase> &info) {
                             return info.param.nCodec == StreamBlock::kCodecH264 ? std::string("H264Segments")
                                                                                 : std::string("H265Writer");
                         });

TEST(RecordNames, RollOverAndFreeNames)
{
    const QString strNow = QDateTime::currentDateTime().toString("yyyyMMdd_");
    const QString strRolled = CRecordWorker::RollOverName("/rec/dir.v2/05_20240115_100000_1.mp4");
    EXPECT_TRUE(strRolled.startsWith("/rec/dir.v2/05_" + strNow)) << strRolled.toStdString();
    EXPECT_TRUE(strRolled.endsWith(".mp4"));
    EXPECT_EQ(strRolled.size(), QString("/rec/dir.v2/05_20240115_100000.mp4").size());
    EXPECT_TRUE(CRecordWorker::RollOverName("/rec/clip.mp4").startsWith("/rec/clip_" + strNow));
    EXPECT_EQ(CRecordWorker::RouteOf("/a/01_x.h264"), CRecordWorker::RouteH264);
    EXPECT_EQ(CRecordWorker::RouteOf("/a/01_x.h265"), CRecordWorker::RouteH265);
    for (const char *pOther : {"/a/01_x.h265x", "/a/01_x.avi", "", "/a.h264/01_x"})
        EXPECT_EQ(CRecordWorker::RouteOf(pOther), CRecordWorker::RouteNone) << pOther;
}

} // namespace
