// H.265 segments of an H.264 recording go through the ffmpeg program: the real one converts them (without
// B-frames) and the joined file is remuxed at the source's frame rate with the stream's sound; a stand-in that
// fails, hangs or writes garbage can neither hold the channel's close nor lose the recording, and neither a
// conversion nor a remux under way holds up a start or a close on the page's thread.

#include "device/CDecodeChannel.h"
#include "device/CRecordWorker.h"
#include "platform/stream_block.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <fstream>
#include <memory>

namespace {

using RecordTest::LiveBlock;
using RecordTest::MediaReport;

constexpr int64_t kStartMs = 1705312800000LL;
constexpr int kFrameRate = 15;
constexpr int kFrames = 45;     // three groups of pictures, so three segments

class RecordConvertTest : public RecordFixture
{
protected:
    void SetUp() override
    {
        RecordFixture::SetUp();
        SetOemMode(1);
        // H.265 without timing in its parameter sets: read raw, it would pass for 25 frames a second.
        m_loop = RecordTest::UntimedH265Loop(320, 180, kFrameRate, kFrames);
        ASSERT_TRUE(m_loop);
        m_blocks = RecordTest::LiveBlocks(*m_loop, kFrames, kStartMs, true);
    }

    // Records the H.265 stream under a ".h264" name (the codec table said H.264), stops, and closes the channel;
    // returns how long the close took (the worker may go on after it).
    qint64 RecordAndClose(bool bStartAgainWhileFinishing = false)
    {
        auto pChannel = std::make_unique<CDecodeChannel>(0);
        pChannel->Open(1);
        pChannel->StartPreview();
        EXPECT_EQ(pChannel->StartRecord(Name(".h264").constData(), 0), 1);
        RecordTest::Feed(*pChannel, m_blocks);
        EXPECT_EQ(pChannel->StopRecord(), 1);
        if (bStartAgainWhileFinishing) {
            EXPECT_EQ(pChannel->StartRecord(RecordDir().toLocal8Bit() + "/01_20240115_100001.h264", 0), 0);
        }
        pChannel->StopPreview();
        pChannel->Close();
        QElapsedTimer timer;
        timer.start();
        pChannel.reset();
        return timer.elapsed();
    }
    QByteArray Name(const char *pExt) const { return (RecordDir() + "/01_20240115_100000" + pExt).toLocal8Bit(); }
    QString Path(const char *pExt) const { return QString::fromLocal8Bit(Name(pExt)); }

    // The raw H.265 kept beside the recording holds the whole stream.
    void ExpectKeptWhole()
    {
        const MediaReport kept = RecordTest::Probe(Path(".h265"));
        EXPECT_EQ(kept.strVideoCodec, "hevc") << RecordTest::Describe(kept);
        EXPECT_EQ(kept.nVideoPackets, kFrames);
        EXPECT_EQ(kept.nPictures, kFrames);
        EXPECT_EQ(kept.nDecodeErrors, 0);
        EXPECT_FALSE(QFileInfo::exists(TempFolder()));
    }

    std::shared_ptr<const VideoLoop> m_loop;
    std::vector<LiveBlock> m_blocks;
};

TEST_F(RecordConvertTest, RealFfmpegConvertsTheSegmentsAndTheRecordingKeepsTheSourceRateAndSound)
{
    ASSERT_FALSE(QFileInfo::exists(AppDir() + "/ffmpeg"));
    RecordAndClose();
    ASSERT_TRUE(WaitForRecordings());
    const MediaReport mp4 = RecordTest::Probe(Path(".mp4"));
    SCOPED_TRACE(RecordTest::Describe(mp4));
    EXPECT_EQ(mp4.strVideoCodec, "h264");
    EXPECT_EQ(mp4.nVideoPackets, kFrames);
    EXPECT_EQ(mp4.nPictures, kFrames);
    EXPECT_EQ(mp4.nDecodeErrors, 0);
    // No B-frames: each picture is shown when it is decoded, in order.
    EXPECT_TRUE(mp4.bDtsRising);
    EXPECT_TRUE(mp4.bPicturesInOrder);
    EXPECT_EQ(mp4.nWidth, 320);
    EXPECT_TRUE(mp4.bFirstIsKey);
    // ffmpeg read the segments at 25 frames a second; the recording plays at the device's 15.
    EXPECT_NEAR(mp4.dFrameRate, kFrameRate, 0.05);
    EXPECT_NEAR(mp4.dVideoDuration, kFrames / double(kFrameRate), 0.001);
    const int64_t nSound = RecordTest::SoundSamples(m_blocks);
    EXPECT_EQ(mp4.strAudioCodec, "aac");
    EXPECT_EQ(mp4.nAudioDecodeErrors, 0);
    EXPECT_GE(mp4.nAudioSamples, nSound);
    EXPECT_LT(mp4.nAudioSamples, nSound + 1024);
    EXPECT_EQ(RecordFiles("*"), QStringList{Path(".mp4")});
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

TEST_F(RecordConvertTest, FfmpegStartsInTheApplicationDirectoryWithItsArguments)
{
    // The stand-in notes where it ran and what it was given, then copies nothing: the segments are kept.
    FakeFfmpeg("pwd >> calls.txt; echo \"$@\" >> calls.txt; exit 1");
    LogCapture log;
    const QString strCwd = QDir::currentPath();
    RecordAndClose();
    ASSERT_TRUE(WaitForRecordings());
    EXPECT_EQ(QDir::currentPath(), strCwd) << "the process's own directory is never changed";
    QFile calls(AppDir() + "/calls.txt");
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << lines.join(" | ").toStdString();
    for (int i = 0; i < 6; i += 2) {
        EXPECT_EQ(lines[i], AppDir());
        const QStringList args = lines[i + 1].split(' ');
        ASSERT_EQ(args.size(), 8);
        EXPECT_EQ(args[0], "-i");
        EXPECT_TRUE(args[1].startsWith(TempFolder() + "/1_")) << args[1].toStdString();
        EXPECT_TRUE(args[1].endsWith(".h265"));
        EXPECT_EQ(args[2], "-vcodec");
        EXPECT_EQ(args[3], "h264");
        EXPECT_EQ(args[4], "-bf");
        EXPECT_EQ(args[5], "0");
        EXPECT_EQ(args[6], "-y");
        EXPECT_EQ(args[7], args[1].left(args[1].size() - 5) + ".h264");
    }
    // Three segments of one second, each with a name of its own.
    EXPECT_NE(lines[1], lines[3]);
    EXPECT_NE(lines[3], lines[5]);
    EXPECT_TRUE(log.WaitFor("ffmpeg failed on"));
    ExpectKeptWhole();
    // Nothing was converted: the placeholder stays empty.
    EXPECT_EQ(QFileInfo(Path(".mp4")).size(), 0);
}

TEST_F(RecordConvertTest, HangingFfmpegIsEndedWithWhatItStartedOnceAndTheCloseIsBounded)
{
    // The stand-in hangs in a child of its own, which must end with it. The channel's close does not wait for
    // it; the worker ends it at its time limit and keeps the rest of the recording's segments unconverted
    // rather than waiting for another hang.
    FakeFfmpeg("sleep 600 &\necho $! >> sleepers.txt\nwait");
    const qint64 nCloseMs = RecordAndClose(true);
    EXPECT_LT(nCloseMs, CRecordWorker::kCloseBudget.count() + 2000);
    ASSERT_TRUE(WaitForRecordings());
    ExpectKeptWhole();
    std::ifstream sleepers((AppDir() + "/sleepers.txt").toStdString());
    int nPid = 0;
    int nSleepers = 0;
    while (sleepers >> nPid) {
        ++nSleepers;
        // Gone, or a zombie nobody reaps: not running.
        std::ifstream stat("/proc/" + std::to_string(nPid) + "/stat");
        std::string strLine;
        if (std::getline(stat, strLine)) {
            const size_t nParen = strLine.rfind(')');
            ASSERT_NE(nParen, std::string::npos);
            EXPECT_EQ(strLine.substr(nParen + 2, 1), "Z") << strLine;
        }
    }
    EXPECT_EQ(nSleepers, 1);
}

TEST_F(RecordConvertTest, SlowConversionFinishesAfterTheChannelHasGoneWithNothingLost)
{
    // The stand-in waits for the test's word before it converts with the real ffmpeg: the worker is held in the
    // conversion of the first segment for as long as the test likes.
    FakeFfmpeg("until [ -e gate ]; do sleep 0.05; done\nexec ffmpeg \"$@\"");
    const qint64 nCloseMs = RecordAndClose(true);
    EXPECT_GE(nCloseMs, CRecordWorker::kCloseBudget.count() - 100) << "the worker was still converting";
    EXPECT_LT(nCloseMs, CRecordWorker::kCloseBudget.count() + 2000);
    {
        QFile gate(AppDir() + "/gate");
        ASSERT_TRUE(gate.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(WaitForRecordings());
    const MediaReport mp4 = RecordTest::Probe(Path(".mp4"));
    SCOPED_TRACE(RecordTest::Describe(mp4));
    EXPECT_EQ(mp4.nVideoPackets, kFrames);
    EXPECT_EQ(mp4.nPictures, kFrames);
    EXPECT_EQ(mp4.nDecodeErrors, 0);
    EXPECT_TRUE(mp4.bPicturesInOrder);
    const int64_t nSound = RecordTest::SoundSamples(m_blocks);
    EXPECT_GE(mp4.nAudioSamples, nSound);
    EXPECT_LT(mp4.nAudioSamples, nSound + 1024);
    EXPECT_EQ(RecordFiles("*"), QStringList{Path(".mp4")});
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

TEST_F(RecordConvertTest, RemuxUnderWayHoldsUpNeitherAStartNorTheClose)
{
    // An H.264 recording whose MP4 file cannot be opened for writing until the test reads it: a named pipe in
    // its place holds the worker inside the remux, in the middle of the joining.
    auto loop = PavlineTest::PatternLoop(StreamBlock::kCodecH264, 640, 360, 15);
    ASSERT_TRUE(loop);
    const std::vector<LiveBlock> blocks = RecordTest::LiveBlocks(*loop, kFrames, kStartMs, true);
    auto pChannel = std::make_unique<CDecodeChannel>(0);
    pChannel->Open(1);
    pChannel->StartPreview();
    ASSERT_EQ(pChannel->StartRecord(Name(".h264").constData(), 0), 1);
    ASSERT_TRUE(QFile::remove(Path(".mp4")));
    ASSERT_EQ(mkfifo(Name(".mp4").constData(), 0600), 0);
    RecordTest::Feed(*pChannel, blocks);
    EXPECT_EQ(pChannel->StopRecord(), 1);
    // Every segment joined: only the joined video, its sound and its manifest are left, and the worker goes
    // into the remux.
    const QStringList joined{"01_20240115_100000.h264", "01_20240115_100000.pcm", "01_20240115_100000.rec"};
    ASSERT_TRUE(WaitUntil([&] { return QDir(TempFolder()).entryList(QDir::Files, QDir::Name) == joined; }, 60000))
        << QDir(TempFolder()).entryList(QDir::Files).join(" ").toStdString();
    // The start answers at once that the recording before is still being finished.
    EXPECT_EQ(pChannel->StartRecord(RecordDir().toLocal8Bit() + "/01_20240115_100001.h264", 0), 0);
    EXPECT_FALSE(pChannel->IsRecording());
    pChannel->StopPreview();
    pChannel->Close();
    QElapsedTimer timer;
    timer.start();
    pChannel.reset();
    EXPECT_LT(timer.elapsed(), CRecordWorker::kCloseBudget.count() + 2000);
    // The test reads the pipe: the remux goes on (and fails, as MP4 needs a file it can seek in), and the
    // joined file is kept whole.
    std::thread reader([this] {
        QFile pipe(Path(".mp4"));
        if (pipe.open(QIODevice::ReadOnly))
            pipe.readAll();
    });
    ASSERT_TRUE(WaitForRecordings());
    reader.join();
    const MediaReport kept = RecordTest::Probe(Path(".h264"));
    EXPECT_EQ(kept.nVideoPackets, kFrames) << RecordTest::Describe(kept);
    EXPECT_EQ(kept.nPictures, kFrames);
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

TEST_F(RecordConvertTest, GarbageFromFfmpegFailsTheRemuxAndTheJoinedFileIsKept)
{
    FakeFfmpeg("for a; do t=\"$a\"; done\nprintf 'this is no video at all\\n' > \"$t\"");
    LogCapture log;
    RecordAndClose();
    ASSERT_TRUE(WaitForRecordings());
    QFile joined(Path(".h264"));
    ASSERT_TRUE(joined.open(QIODevice::ReadOnly)) << "the joined file is kept under the requested name";
    EXPECT_EQ(joined.readAll(), QByteArray("this is no video at all\n").repeated(3));
    EXPECT_TRUE(log.WaitFor("remux failed, kept " + Path(".h264")));
    EXPECT_FALSE(QFileInfo::exists(Path(".h265")));
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

} // namespace
