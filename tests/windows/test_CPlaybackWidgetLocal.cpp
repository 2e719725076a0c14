// The playback page with local files: an MP4 file of the project's MP4 writer and a block file, each played in
// a pane to its end, the end reported once and the pane then closed as the requests close it; the position of
// a file, and clips and snapshots named for local files.

#include "device/CDecodeChannel.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/PlaybackTestSupport.h"
#include "windows/CPlaybackWidget.h"

#include <QDir>
#include <QImage>

#include <atomic>
#include <string>
#include <thread>

using namespace PlaybackTest;

namespace {

constexpr int kFrameRate = 10;
constexpr int kFrames = 40;     // 3.9 s, a key frame each second

using LocalPlaybackTest = PlaybackFixture;

std::shared_ptr<const VideoLoop> Loop()
{
    return PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, kFrameRate);
}

std::string Mp4File(const QString &strPath, int nFrames)
{
    const std::string strFile = strPath.toStdString();
    auto loop = Loop();
    EXPECT_TRUE(loop && PavlineTest::WriteMp4(strFile, *loop, nFrames, false));
    return strFile;
}

std::string Mp4File(const QString &strPath) { return Mp4File(strPath, kFrames); }

std::string BlockFile(const QString &strPath)
{
    const std::string strFile = strPath.toStdString();
    EXPECT_TRUE(PavlineTest::WriteFile(strFile, PavlineTest::Join(PavlineTest::Blocks(*Loop(), kFrames, 1700000000000LL))));
    return strFile;
}

// The file-end callback as the requests give it: on the decode library's thread it only hands the end to the
// GUI thread, where the pane is closed (once, as the requests close a pane that still plays).
struct FileEnd
{
    PlayUserRecord record{-1, 3, 0, 0};
    CPlaybackWidget *pPage = nullptr;
    std::atomic<int> nEnds{0};
    std::atomic<int> nPort{-1};
    std::atomic<bool> bOnGuiThread{false};
    std::thread::id guiThread = std::this_thread::get_id();
    bool bClosed = false;   // GUI thread

    static void OnEnd(int32_t nPort, void *pUser)
    {
        FileEnd *p = static_cast<FileEnd *>(pUser);
        p->nPort = nPort;
        if (std::this_thread::get_id() == p->guiThread)
            p->bOnGuiThread = true;
        ++p->nEnds;
        QMetaObject::invokeMethod(
            p->pPage,
            [p] {
                if (p->bClosed)
                    return;
                p->pPage->ClosePane(p->record.Pane);
                p->bClosed = true;
            },
            Qt::QueuedConnection);
    }
};

struct FileCase
{
    const char *pName;
    std::string (*make)(const QString &);
    bool bSeek;
};

TEST_F(LocalPlaybackTest, AFilePlaysToItsEndWithOneEndCallback)
{
    const FileCase cases[] = {
        {"mp4.mp4", &Mp4File, false},
        {"blocks.h264", &BlockFile, true},
    };
    for (const FileCase &c : cases) {
        SCOPED_TRACE(c.pName);
        PavlineControl::Reset();
        const std::string strPath = c.make(TempPath(c.pName));
        CPlaybackWidget page;
        ASSERT_TRUE(ShowPage(page, 4));
        FileEnd end;
        end.pPage = &page;
        ASSERT_EQ(page.BeginLocalPlay(3, strPath.c_str(), &FileEnd::OnEnd, &end), 1);
        ASSERT_EQ(page.PlaybackStart(0, 3), 0);
        EXPECT_EQ(page.GetPlayState(3), PLAY_STATE_NORMAL);
        ASSERT_TRUE(WaitUntil([&] { return GridTest::ShowsPattern(GrabPane(page, 3)); }, 10000));

        if (c.bSeek) {
            // Still, at 80 % of the span: the picture there shows (3.1 s of 3.9 s), not the key frame at 3 s
            // before it, as soon as the seek has returned.
            ASSERT_EQ(page.PlaybackControl(3, PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
            EXPECT_EQ(page.SetPlayPos(3, 0.8), 1);
            EXPECT_NEAR(page.GetPlayPos(3), 3.1 / 3.9, 0.005);
            ASSERT_EQ(page.PlaybackControl(3, PLAY_STATE_NORMAL), PLAY_STATE_NORMAL);
        }
        float fLast = 0.0f;
        bool bForward = true;
        ASSERT_TRUE(WaitUntil([&] {
            if (!end.bClosed) {
                const float fPos = page.GetPlayPos(3);
                bForward = bForward && fPos >= fLast;
                fLast = fPos;
            }
            return end.bClosed;
        }, 20000));
        EXPECT_TRUE(bForward) << "the position went back";
        EXPECT_GT(fLast, 0.9f);
        // The close has returned: no callback of the file can come any more.
        EXPECT_EQ(end.nEnds.load(), 1);
        EXPECT_EQ(end.nPort.load(), 131);
        EXPECT_FALSE(end.bOnGuiThread.load());
        EXPECT_FALSE(PavlineControl::Stats(131).bOpen);
        EXPECT_EQ(page.GetPlayState(3), PLAY_STATE_STOPPED);
    }
}

TEST_F(LocalPlaybackTest, ClipsAndSnapshotsOfALocalFileAreNamedLocal)
{
    // Long enough for key frames after what the file's reader has read ahead at the start.
    const std::string strPath = Mp4File(TempPath("clip-source.mp4"), 100);
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetPaneChannel(7, 0);
    ASSERT_EQ(page.BeginLocalPlay(0, strPath.c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(page.PlaybackStart(0, 0), 0);
    ASSERT_TRUE(PavlineControl::WaitForShown(128, 1, 10000));

    ASSERT_NE(page.Record(0, 2, true, RecordDir()), 0);
    ASSERT_TRUE(PavlineControl::WaitForShown(128, PavlineControl::Stats(128).nPicturesShown + 30, 10000));
    const QString strSnapshots = TempPath("snapshots");
    EXPECT_EQ(page.Snapshot(0, strSnapshots), 0);
    // The close ends the clip.
    EXPECT_EQ(page.ClosePane(0), 0);
    EXPECT_FALSE(page.IsRecording(0));

    const QStringList clips = RecordFiles("Local_*.avi");
    ASSERT_EQ(clips.size(), 1);
    const RecordTest::MediaReport report = RecordTest::Probe(clips.front());
    EXPECT_TRUE(report.bOpened) << RecordTest::Describe(report);
    EXPECT_EQ(report.strVideoCodec, "h264");
    EXPECT_GE(report.nVideoPackets, 10);
    EXPECT_EQ(report.nDecodeErrors, 0);

    const QStringList pictures = QDir(strSnapshots).entryList(QStringList{"Local_*.bmp"}, QDir::Files);
    ASSERT_EQ(pictures.size(), 1);
    const QImage picture(QDir(strSnapshots).filePath(pictures.front()));
    EXPECT_EQ(picture.size(), QSize(GridTest::kStreamWidth, GridTest::kStreamHeight));
    EXPECT_TRUE(GridTest::ShowsPattern(picture));
}

} // namespace
