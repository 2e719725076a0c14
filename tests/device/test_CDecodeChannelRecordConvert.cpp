// H.265 segments of an H.264 recording go through the ffmpeg program: the real one converts them and the joined
// file is remuxed at the source's frame rate; a stand-in that fails, hangs or writes garbage can neither hold the
// channel's close nor lose the recording.

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
        m_blocks = RecordTest::LiveBlocks(*m_loop, kFrames, kStartMs, 3);
    }

    // Records the H.265 stream under a ".h264" name (the codec table said H.264), stops, and closes the channel;
    // returns how long the close took.
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

TEST_F(RecordConvertTest, RealFfmpegConvertsTheSegmentsAndTheRecordingKeepsTheSourceRate)
{
    ASSERT_FALSE(QFileInfo::exists(AppDir() + "/ffmpeg"));
    RecordAndClose();
    const MediaReport mp4 = RecordTest::Probe(Path(".mp4"));
    EXPECT_EQ(mp4.strVideoCodec, "h264") << RecordTest::Describe(mp4);
    EXPECT_EQ(mp4.nVideoPackets, kFrames);
    EXPECT_EQ(mp4.nPictures, kFrames);
    EXPECT_EQ(mp4.nDecodeErrors, 0);
    EXPECT_EQ(mp4.nWidth, 320);
    EXPECT_TRUE(mp4.bFirstIsKey);
    // ffmpeg read the segments at 25 frames a second; the recording plays at the device's 15.
    EXPECT_NEAR(mp4.dFrameRate, kFrameRate, 0.05);
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
    EXPECT_EQ(QDir::currentPath(), strCwd) << "the process's own directory is never changed";
    QFile calls(AppDir() + "/calls.txt");
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << lines.join(" | ").toStdString();
    for (int i = 0; i < 6; i += 2) {
        EXPECT_EQ(lines[i], AppDir());
        const QStringList args = lines[i + 1].split(' ');
        ASSERT_EQ(args.size(), 6);
        EXPECT_EQ(args[0], "-i");
        EXPECT_TRUE(args[1].startsWith(TempFolder() + "/1_")) << args[1].toStdString();
        EXPECT_TRUE(args[1].endsWith(".h265"));
        EXPECT_EQ(args[2], "-vcodec");
        EXPECT_EQ(args[3], "h264");
        EXPECT_EQ(args[4], "-y");
        EXPECT_EQ(args[5], args[1].left(args[1].size() - 5) + ".h264");
    }
    // Three segments of one second, each with a name of its own.
    EXPECT_NE(lines[1], lines[3]);
    EXPECT_NE(lines[3], lines[5]);
    EXPECT_TRUE(log.WaitFor("ffmpeg failed on"));
    ExpectKeptWhole();
    // Nothing was converted: the placeholder stays empty.
    EXPECT_EQ(QFileInfo(Path(".mp4")).size(), 0);
}

TEST_F(RecordConvertTest, HangingFfmpegIsEndedWithWhatItStartedAndTheCloseIsBounded)
{
    // The stand-in hangs in a child of its own, which must end with it.
    FakeFfmpeg("sleep 600 &\necho $! >> sleepers.txt\nwait");
    const qint64 nCloseMs = RecordAndClose(true);
    EXPECT_LT(nCloseMs, CRecordWorker::kCloseBudget.count() + 5000);
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
    EXPECT_GE(nSleepers, 1);
}

TEST_F(RecordConvertTest, GarbageFromFfmpegFailsTheRemuxAndTheJoinedFileIsKept)
{
    FakeFfmpeg("for a; do t=\"$a\"; done\nprintf 'this is no video at all\\n' > \"$t\"");
    LogCapture log;
    RecordAndClose();
    QFile joined(Path(".h264"));
    ASSERT_TRUE(joined.open(QIODevice::ReadOnly)) << "the joined file is kept under the requested name";
    EXPECT_EQ(joined.readAll(), QByteArray("this is no video at all\n").repeated(3));
    EXPECT_TRUE(log.WaitFor("remux failed, kept " + Path(".h264")));
    EXPECT_FALSE(QFileInfo::exists(Path(".h265")));
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

} // namespace
