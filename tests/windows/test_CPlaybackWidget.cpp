// The playback page without streams: which port each operation of a pane reaches in each mode, starts that
// fail, panes outside the four, blocks for panes without a channel, the page's signals and split, clip and
// snapshot names, the sound of one pane at a time and the digital zoom.

#include "device/CDecodeChannel.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/PlaybackTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

#include <atomic>
#include <climits>
#include <functional>
#include <thread>

using namespace PlaybackTest;

namespace {

class PlaybackPageTest : public PlaybackFixture
{
protected:
    // A block file of the stream's size to play as a local file: 20 s, far longer than the port reads ahead, so
    // a clip started once it plays still gets pictures, however slowly the test runs.
    QByteArray LocalFile()
    {
        const std::string strPath = TempPath("local.h264").toStdString();
        auto loop = PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, 10);
        EXPECT_TRUE(PavlineTest::WriteFile(strPath, PavlineTest::Join(PavlineTest::Blocks(*loop, 200, 1700000000000LL))));
        return QByteArray::fromStdString(strPath);
    }

    // Opens the pane in the page's mode: the device's stream (nothing arrives), or the local file.
    void OpenPane(CPlaybackWidget &page, int nPane, bool bDevice)
    {
        if (!bDevice) {
            ASSERT_EQ(page.BeginLocalPlay(nPane, LocalFile().constData(), nullptr, nullptr), 1);
        }
        ASSERT_EQ(page.PlaybackStart(bDevice ? 1 : 0, nPane), 0);
    }

    static CPlayWindowManage *Grid(CPlaybackWidget &page) { return page.findChild<CPlayWindowManage *>(); }

    // Gives a device pane a second of its stream and waits until a picture of it is shown.
    static void FeedPane(CPlaybackWidget &page, int nPane)
    {
        auto loop = PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, 10);
        for (const std::vector<uint8_t> &block : PavlineTest::Blocks(*loop, 10, 1700000000000LL))
            ASSERT_NE(page.InputData(nPane, block.data(), static_cast<uint32_t>(block.size())), 0);
        ASSERT_TRUE(PavlineControl::WaitForShown(64 + nPane, 1, 10000));
    }
};

struct PaneOp
{
    const char *pName;
    std::function<void(CPlaybackWidget &, int)> run;
};

TEST_F(PlaybackPageTest, EachModeReachesItsOwnPortOfThePane)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    const QString strFolder = TempPath("files");
    int nYuv = -1, nBuf = -1;
    const std::vector<PaneOp> ops = {
        {"PlaybackControl pause", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.PlaybackControl(n, PLAY_STATE_PAUSE), 2); }},
        {"PlaybackControl normal", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.PlaybackControl(n, PLAY_STATE_NORMAL), 0); }},
        {"PlaybackControl fast 2", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.PlaybackControl(n, 33), 33); }},
        {"SetPlayPos", [](CPlaybackWidget &p, int n) {
             // A file goes there; a device's stream has no position to go to.
             EXPECT_EQ(p.SetPlayPos(n, 0.5), PavlineControl::Stats(p.GetDecodeChannel(n)->GetPort()).bFile ? 1 : 0);
         }},
        {"GetPlayPos", [](CPlaybackWidget &p, int n) { p.GetPlayPos(n); }},
        {"GetSeekTime", [](CPlaybackWidget &p, int n) { p.GetSeekTime(n, 500); }},
        {"GetBufferValue", [&](CPlaybackWidget &p, int n) { p.GetBufferValue(n, nYuv, nBuf); }},
        {"IsBufferEmpty", [](CPlaybackWidget &p, int n) { EXPECT_TRUE(p.IsBufferEmpty(n)); }},
        {"OpenSound on", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.OpenSound(n, true), 0); }},
        {"OpenSound off", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.OpenSound(n, false), 0); }},
        {"Record on", [&](CPlaybackWidget &p, int n) { EXPECT_NE(p.Record(n, 0, true, strFolder), 0); }},
        {"Record off", [&](CPlaybackWidget &p, int n) { EXPECT_NE(p.Record(n, 0, false, strFolder), 0); }},
        {"Snapshot", [&](CPlaybackWidget &p, int n) { p.Snapshot(n, strFolder); }},
        {"DigitalZoom on", [](CPlaybackWidget &p, int) { EXPECT_EQ(p.DigitalZoom(), 0); }},
        {"DigitalZoom off", [](CPlaybackWidget &p, int) { EXPECT_EQ(p.DigitalZoom(), 0); }},
        {"ClosePane", [](CPlaybackWidget &p, int n) { EXPECT_EQ(p.ClosePane(n), 0); }},
    };
    struct ModeCase
    {
        int nMode;
        int nPort;
    };
    // Requests pass 2 for playback by time: the device's port too.
    for (const ModeCase &c : {ModeCase{1, 66}, ModeCase{0, 130}, ModeCase{2, 66}}) {
        SCOPED_TRACE("mode " + std::to_string(c.nMode));
        page.SetMode(c.nMode);
        page.SetCurWndIndex(2);
        PavlineControl::ClearJournal();
        OpenPane(page, 2, c.nMode != 0);
        EXPECT_EQ(JournalPorts(PavlineControl::Journal()), std::set<int>{c.nPort});
        EXPECT_TRUE(PavlineControl::Stats(c.nPort).bPlaying);
        std::set<int> all;
        for (const PaneOp &op : ops) {
            SCOPED_TRACE(op.pName);
            PavlineControl::ClearJournal();
            op.run(page, 2);
            const std::set<int> ports = JournalPorts(PavlineControl::Journal());
            for (int nPort : ports)
                EXPECT_EQ(nPort, c.nPort);
            all.insert(ports.begin(), ports.end());
        }
        EXPECT_EQ(all, std::set<int>{c.nPort});
        EXPECT_FALSE(PavlineControl::Stats(c.nPort).bOpen);
    }
}

TEST_F(PlaybackPageTest, APaneIsClosedInTheModeItWasOpenedIn)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    page.SetMode(1);
    OpenPane(page, 2, true);
    page.SetPaneChannel(5, 2);

    // The mode changes nothing of what plays: a close now reaches the local-file port of the pane only.
    page.SetMode(0);
    EXPECT_TRUE(PavlineControl::Stats(66).bPlaying);
    EXPECT_EQ(page.GetPlayState(2), 1);
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.ClosePane(2), 0);
    EXPECT_EQ(JournalPorts(PavlineControl::Journal()), std::set<int>{130});
    EXPECT_TRUE(PavlineControl::Stats(66).bOpen);
    EXPECT_TRUE(PavlineControl::Stats(66).bPlaying);

    page.SetMode(1);
    EXPECT_EQ(page.GetPlayState(2), 0);
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.ClosePane(2), 0);
    EXPECT_EQ(JournalPorts(PavlineControl::Journal()), std::set<int>{66});
    EXPECT_FALSE(PavlineControl::Stats(66).bOpen);
    EXPECT_EQ(page.GetPlayState(2), 1);
    EXPECT_FALSE(Grid(page)->GetVideoWnd(2)->GetPreviewStatus());
}

struct StartCase
{
    const char *pName;
    int nMode;
    const char *pFailing;   // the library call made to fail, or null
    int nResult;
    bool bPortOpen;         // afterwards
};

TEST_F(PlaybackPageTest, AStartThatDoesNotPlayIsAFailure)
{
    const StartCase cases[] = {
        {"device, plays", 1, nullptr, 0, true},
        {"device, the stream does not open", 1, "KTN_VIEW_OpenStream", -1, false},
        {"device, the stream opens but does not play", 1, "KTN_VIEW_Play", -2, false},
        {"local file, none opened", 0, nullptr, -2, false},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CPlaybackWidget page;
        ASSERT_TRUE(ShowPage(page, 4));
        page.SetMode(c.nMode);
        if (c.pFailing)
            PavlineControl::FailNextCall(c.pFailing, KTN_ERR_FAILED);
        PavlineControl::ClearJournal();
        EXPECT_EQ(page.PlaybackStart(1, 1), c.nResult);
        const int nPort = (c.nMode ? 64 : 128) + 1;
        EXPECT_EQ(PavlineControl::Stats(nPort).bOpen, c.bPortOpen);
        EXPECT_EQ(Grid(page)->GetVideoWnd(1)->GetPreviewStatus(), c.nResult == 0);
        EXPECT_EQ(page.GetPlayState(1), c.nResult == 0 ? 0 : 1);
        if (c.pFailing && std::string(c.pFailing) == "KTN_VIEW_OpenStream") {
            EXPECT_TRUE(Calls("KTN_VIEW_Play").empty());
        }
    }
}

TEST_F(PlaybackPageTest, PaneMinusOneIsTheCurrentPaneAndPlaysIntoItsSurface)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    page.SetMode(1);
    page.SetCurWndIndex(3);
    PavlineControl::ClearJournal();
    ASSERT_EQ(page.PlaybackStart(0, -1), 0);
    char szHandle[32];
    std::snprintf(szHandle, sizeof szHandle, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Grid(page)->GetWndHandle(3))));
    EXPECT_EQ(Calls("KTN_VIEW_Play"), std::vector<std::string>{std::string("KTN_VIEW_Play 67 ") + szHandle});
    // Open mode 0 asks for the larger buffer.
    EXPECT_EQ(Calls("KTN_VIEW_OpenStream"), std::vector<std::string>{"KTN_VIEW_OpenStream 67 1 4096000"});
    EXPECT_EQ(Calls("KTN_VIEW_SetStreamOpenMode"), std::vector<std::string>{"KTN_VIEW_SetStreamOpenMode 67 1"});
    EXPECT_TRUE(Grid(page)->GetVideoWnd(3)->GetPreviewStatus());
    EXPECT_EQ(page.ClosePane(3), 0);
}

TEST_F(PlaybackPageTest, PanesOutsideTheFourTouchNothing)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    page.SetMode(1);
    for (int nPane : {4, 5, 63, 64, -2, 1000, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(nPane);
        PavlineControl::ClearJournal();
        const unsigned char block[16] = {0, 0, 1, 0xFC};
        int nYuv = -7, nBuf = -7;
        EXPECT_EQ(page.GetDecodeChannel(nPane), nullptr);
        EXPECT_EQ(page.PlaybackStart(1, nPane), -1);
        EXPECT_EQ(page.BeginLocalPlay(nPane, "x.h264", nullptr, nullptr), 0);
        EXPECT_EQ(page.ClosePane(nPane), -1);
        EXPECT_EQ(page.InputData(nPane, block, sizeof block), 0);
        EXPECT_EQ(page.PlaybackControl(nPane, 2), -1);
        EXPECT_EQ(page.SetPlayPos(nPane, 0.5), 0);
        EXPECT_EQ(page.SetPlaybackTime(nPane, "2024-01-01 00:00:00", "2024-01-01 01:00:00"), 0);
        EXPECT_EQ(page.GetSeekTime(nPane, 500), 0);
        EXPECT_EQ(page.GetPlayPos(nPane), 0.0f);
        EXPECT_EQ(page.GetPlayState(nPane), -1);
        page.GetBufferValue(nPane, nYuv, nBuf);
        EXPECT_EQ(nYuv, -7);
        EXPECT_EQ(nBuf, -7);
        EXPECT_FALSE(page.IsBufferEmpty(nPane));
        EXPECT_FALSE(page.IsRecording(nPane));
        EXPECT_FALSE(page.IsDigitalZoom(nPane));
        EXPECT_FALSE(page.IsSoundOpen(nPane));
        EXPECT_EQ(page.OpenSound(nPane, true), -1);
        EXPECT_EQ(page.Snapshot(nPane, TempPath("snap")), -1);
        EXPECT_EQ(page.Record(nPane, 2, true, TempPath("clip")), 0);
        page.SetPaneChannel(9, nPane);
        EXPECT_EQ(page.GetWndChannel(nPane), -1);
        EXPECT_EQ(page.GetWndIndexByChannel(9), -1);
        page.OnDigitalZoom(QPoint(0, 0), QPoint(100, 100), nPane);
        page.OnQuitDigitalZoom(nPane);
        EXPECT_TRUE(PavlineControl::Journal().empty());
    }
    EXPECT_FALSE(QFileInfo::exists(TempPath("snap")));
    EXPECT_FALSE(QFileInfo::exists(TempPath("clip")));

    // The grid takes a hidden tile as the current one; the page's operations on the current pane refuse it.
    page.SetCurWndIndex(5);
    ASSERT_EQ(page.GetCurWndIndex(), 5);
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.GetCurWndChannel(), -1);
    EXPECT_EQ(page.PlaybackStart(1, -1), -1);
    EXPECT_EQ(page.DigitalZoom(), -1);
    EXPECT_TRUE(PavlineControl::Journal().empty());
}

TEST_F(PlaybackPageTest, ABlockForAPaneWithoutAChannelIsDroppedAndMakesNone)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetMode(1);
    auto loop = PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, 10);
    const std::vector<uint8_t> block = PavlineTest::Blocks(*loop, 1, 1700000000000LL).front();
    auto feedFromAnotherThread = [&](int nPane) {
        int nRet = -1;
        std::thread([&] { nRet = page.InputData(nPane, block.data(), static_cast<uint32_t>(block.size())); }).join();
        return nRet;
    };

    LogCapture log;
    EXPECT_EQ(feedFromAnotherThread(0), 0);
    EXPECT_EQ(log.Count("[CDecodeChannel::CDecodeChannel]"), 0) << "no channel is made on the data thread";
    EXPECT_EQ(PavlineControl::Stats(64).nInputCalls, 0);

    // Once the GUI thread has made the pane's channel its blocks reach the port.
    ASSERT_EQ(page.PlaybackStart(1, 0), 0);
    EXPECT_EQ(log.Count("[CDecodeChannel::CDecodeChannel]"), 1);
    EXPECT_NE(feedFromAnotherThread(0), 0);
    EXPECT_EQ(PavlineControl::Stats(64).nInputCalls, 1);

    // In local-file mode the pane's channel is another one, not made yet.
    page.SetMode(0);
    EXPECT_EQ(feedFromAnotherThread(0), 0);
    EXPECT_EQ(log.Count("[CDecodeChannel::CDecodeChannel]"), 1);
    EXPECT_EQ(PavlineControl::Stats(64).nInputCalls, 1);
    page.SetMode(1);
    EXPECT_EQ(page.ClosePane(0), 0);
}

TEST_F(PlaybackPageTest, BlocksKeepComingWhileThePageMakesChannelsAndChangesMode)
{
    auto pPage = std::make_unique<CPlaybackWidget>();
    ASSERT_TRUE(ShowPage(*pPage, 4));
    auto loop = PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, 10);
    const std::vector<uint8_t> block = PavlineTest::Blocks(*loop, 1, 1700000000000LL).front();
    std::atomic<bool> bStop{false};
    std::vector<std::thread> feeders;
    for (int nPane = 0; nPane < 4; ++nPane)
        feeders.emplace_back([&, nPane] {
            while (!bStop.load())
                pPage->InputData(nPane, block.data(), static_cast<uint32_t>(block.size()));
        });
    for (int nRound = 0; nRound < 6; ++nRound) {
        pPage->SetMode(nRound % 2 ? 0 : 1);
        for (int nPane = 0; nPane < 4; ++nPane)
            EXPECT_NE(pPage->GetDecodeChannel(nPane), nullptr);
    }
    pPage->SetMode(1);
    for (int nPane = 0; nPane < 4; ++nPane)
        ASSERT_EQ(pPage->PlaybackStart(1, nPane), 0);
    EXPECT_TRUE(WaitUntil([] {
        for (int nPort = 64; nPort < 68; ++nPort)
            if (PavlineControl::Stats(nPort).nInputCalls == 0)
                return false;
        return true;
    }));
    bStop = true;
    for (std::thread &t : feeders)
        t.join();
    // The page's end stops and closes what plays.
    pPage.reset();
    for (int nPort = 64; nPort < 68; ++nPort)
        EXPECT_FALSE(PavlineControl::Stats(nPort).bOpen) << nPort;
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
}

TEST_F(PlaybackPageTest, SignalsSplitAndPaneChannels)
{
    CPlaybackWidget page;
    EXPECT_EQ(page.windowFlags() & (Qt::CustomizeWindowHint | Qt::FramelessWindowHint),
              Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    EXPECT_TRUE(page.hasMouseTracking());
    EXPECT_EQ(Grid(page)->GetShowWndNum(), 1);
    EXPECT_EQ(page.ChangeSplit(1), 0);
    EXPECT_EQ(Grid(page)->GetShowWndNum(), 4);
    EXPECT_EQ(page.ChangeSplit(7), 0);
    EXPECT_EQ(Grid(page)->GetShowWndNum(), 1);
    ASSERT_TRUE(ShowPage(page, 4));

    QSignalSpy spy(&page, &CPlaybackWidget::curWndIndexSig);
    page.SetCurWndIndex(2);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toInt(), 2);
    // The mode makes pane 0 current: the grid's change and the page's own report.
    page.SetMode(1);
    EXPECT_EQ(page.GetCurWndIndex(), 0);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 0);
    spy.clear();
    page.SetMode(0);
    EXPECT_EQ(spy.count(), 1);
    spy.clear();
    // A click in a tile is passed on.
    GridTest::Press(Grid(page)->GetVideoWnd(3)->GetVideoFrame(), Qt::LeftButton, QPoint(10, 10));
    GridTest::Release(Grid(page)->GetVideoWnd(3)->GetVideoFrame(), Qt::LeftButton, QPoint(10, 10));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 3);

    page.SetPaneChannel(2, 0);
    page.SetPaneChannel(7, 1);
    page.SetPaneChannel(7, 3);
    EXPECT_EQ(page.GetWndIndexByChannel(7), 1);
    EXPECT_EQ(page.GetWndIndexByChannel(2), 0);
    EXPECT_EQ(page.GetWndIndexByChannel(9), -1);
    EXPECT_EQ(page.GetWndChannel(3), 7);
    EXPECT_EQ(page.GetWndChannel(2), -1);
    EXPECT_EQ(page.GetCurWndChannel(), 7);
}

TEST_F(PlaybackPageTest, BackgroundPictureAndSkinReachTheGrid)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    QImage picture(64, 36, QImage::Format_RGB32);
    picture.fill(QColor(200, 30, 40));
    const QString strPicture = TempPath("background.png");
    ASSERT_TRUE(picture.save(strPicture));
    page.SetBackgroundPic(strPicture);
    EXPECT_TRUE(WaitUntil([&] {
        const QColor c = GrabPane(page, 0).pixelColor(100, 60);
        return c.red() > 180 && c.green() < 60 && c.blue() < 60;
    }));
    EXPECT_EQ(GrabPane(page, 1).pixelColor(100, 60), QColor(0, 0, 0)) << "only the first pane";

    CPlayWindowManage reference;
    for (const char *pSkin : {"Black", "O53", "White"}) {
        page.SetSkin(pSkin);
        reference.SetSkin(pSkin);
        EXPECT_EQ(Grid(page)->GetVideoWnd(2)->GetBorderColor(), reference.GetVideoWnd(2)->GetBorderColor()) << pSkin;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Clip and snapshot names.

struct NameCase
{
    int nMode;
    int nRecordType;
    const char *pPattern;
    int nPort;
};

TEST_F(PlaybackPageTest, ClipNamesFollowTheModeAndKeepTheRunningClip)
{
    const NameCase cases[] = {
        {1, 2, R"(^08_\d{8}_\d{6}\.avi$)", 65},
        {1, 0, R"(^08_\d{8}_\d{6}\.h265x$)", 65},
        {0, 2, R"(^Local_\d{8}_\d{6}\.avi$)", 129},
        {0, 0, R"(^Local_\d{8}_\d{6}\.h265x$)", 129},
    };
    const QString strFolder = TempPath("clips/new");
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.pPattern);
        CPlaybackWidget page;
        ASSERT_TRUE(ShowPage(page, 4));
        page.SetMode(c.nMode);
        page.SetPaneChannel(7, 1);
        OpenPane(page, 1, c.nMode != 0);
        PavlineControl::ClearJournal();
        EXPECT_NE(page.Record(1, c.nRecordType, true, strFolder), 0);
        EXPECT_TRUE(page.IsRecording(1));
        const std::vector<std::string> starts = Calls("KTN_VIEW_StartDataRecord");
        ASSERT_EQ(starts.size(), 1u);
        // "KTN_VIEW_StartDataRecord port path type"
        const QStringList words = QString::fromStdString(starts.front()).split(' ');
        ASSERT_EQ(words.size(), 4);
        EXPECT_EQ(words[1].toInt(), c.nPort);
        EXPECT_EQ(words[3].toInt(), c.nRecordType);
        const QFileInfo clip(words[2]);
        EXPECT_EQ(clip.absolutePath(), strFolder);
        EXPECT_TRUE(QRegularExpression(c.pPattern).match(clip.fileName()).hasMatch()) << clip.fileName().toStdString();

        // A second start keeps the clip that runs.
        EXPECT_EQ(page.Record(1, c.nRecordType, true, strFolder), 0);
        EXPECT_EQ(Calls("KTN_VIEW_StartDataRecord").size(), 1u);
        EXPECT_TRUE(page.IsRecording(1));
        // Pictures to record (an AVI file without any is not kept).
        if (c.nMode != 0) {
            FeedPane(page, 1);
        } else {
            ASSERT_TRUE(PavlineControl::WaitForShown(129, PavlineControl::Stats(129).nPicturesShown + 5, 10000));
        }
        EXPECT_NE(page.Record(1, c.nRecordType, false, strFolder), 0);
        EXPECT_FALSE(page.IsRecording(1));
        EXPECT_EQ(page.Record(1, c.nRecordType, false, strFolder), 0) << "nothing runs";
        EXPECT_TRUE(clip.exists());
        QFile::remove(clip.filePath());
        EXPECT_EQ(page.ClosePane(1), 0);
    }
}

TEST_F(PlaybackPageTest, ARecordTypeWithoutAFileTypeStartsNoClip)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetMode(1);
    OpenPane(page, 0, true);
    for (int nType : {1, 3, -1}) {
        PavlineControl::ClearJournal();
        EXPECT_EQ(page.Record(0, nType, true, TempPath("clips")), 0) << nType;
        EXPECT_FALSE(page.IsRecording(0));
        EXPECT_TRUE(Calls("KTN_VIEW_StartDataRecord").empty());
    }
    EXPECT_FALSE(QFileInfo::exists(TempPath("clips")));
    EXPECT_EQ(page.ClosePane(0), 0);
}

TEST_F(PlaybackPageTest, ClipAndSnapshotOnAStoppedPaneFail)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetMode(1);
    EXPECT_EQ(page.Record(0, 2, true, TempPath("clips")), 0);
    EXPECT_FALSE(page.IsRecording(0));
    EXPECT_EQ(page.Snapshot(0, TempPath("snaps")), -2) << "nothing shown to take";
}

// A folder below the base whose path takes exactly nBytes in the local 8-bit encoding, with characters of two
// bytes in its first level; its levels stay within a file name's length.
QString FolderOfBytes(const QString &strBase, int nBytes)
{
    QString strFolder = strBase + "/\u00e9\u00e9";
    while (strFolder.toLocal8Bit().size() < nBytes) {
        const int nLeft = nBytes - strFolder.toLocal8Bit().size();
        // "/" and at most 200 letters, never a lone "/" at the end.
        const int nLevel = nLeft > 201 ? 200 : (nLeft == 201 ? 199 : nLeft - 1);
        if (nLevel <= 0) {
            strFolder += "x";
            continue;
        }
        strFolder += "/" + QString(nLevel, QChar('d'));
    }
    return strFolder;
}

struct LongNameCase
{
    const char *pName;
    int nNameBytes;     // "/" and the file name
    bool bClip;         // else a snapshot
};

TEST_F(PlaybackPageTest, NamesLongerThanTheirBufferAreRefusedNotCut)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetMode(1);
    page.SetPaneChannel(7, 0);
    OpenPane(page, 0, true);
    FeedPane(page, 0);
    const LongNameCase cases[] = {
        {"clip \"/08_yyyyMMdd_hhmmss.h265x\"", 25, true},
        {"snapshot \"/08_yyyyMMdd_hhmmss.bmp\"", 23, false},
    };
    for (const LongNameCase &c : cases) {
        SCOPED_TRACE(c.pName);
        auto take = [&](const QString &strFolder) {
            if (!c.bClip)
                return page.Snapshot(0, strFolder);
            const int nRet = page.Record(0, 0, true, strFolder);
            if (nRet) {
                EXPECT_NE(page.Record(0, 0, false, strFolder), 0);
            }
            return nRet;
        };
        const char *pCall = c.bClip ? "KTN_VIEW_StartDataRecord" : "KTN_VIEW_CapturePicture";
        // Names of 259 bytes fit their 260-byte buffer with the terminator; one more does not.
        const QString strFits = FolderOfBytes(TempPath(c.bClip ? "clip-fits" : "snap-fits"), 259 - c.nNameBytes);
        const QString strLong = FolderOfBytes(TempPath(c.bClip ? "clip-long" : "snap-long"), 260 - c.nNameBytes);
        ASSERT_EQ(strFits.toLocal8Bit().size(), 259 - c.nNameBytes);
        ASSERT_EQ(strLong.toLocal8Bit().size(), 260 - c.nNameBytes);

        PavlineControl::ClearJournal();
        EXPECT_EQ(take(strLong), c.bClip ? 0 : -2);
        EXPECT_TRUE(Calls(pCall).empty());
        EXPECT_FALSE(page.IsRecording(0));
        EXPECT_FALSE(QFileInfo::exists(TempPath(c.bClip ? "clip-long" : "snap-long")));

        EXPECT_EQ(take(strFits), c.bClip ? 1 : 0);
        EXPECT_EQ(Calls(pCall).size(), 1u);
        const QStringList files = QDir(strFits).entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1);
        EXPECT_EQ(QDir(strFits).filePath(files.front()).toLocal8Bit().size(), 259);
    }
    EXPECT_EQ(page.ClosePane(0), 0);
}

// ---------------------------------------------------------------------------------------------------------
// Sound and digital zoom.

TEST_F(PlaybackPageTest, OnePaneIsHeardAtATime)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 4));
    page.SetMode(1);
    OpenPane(page, 0, true);
    OpenPane(page, 2, true);

    EXPECT_EQ(page.OpenSound(0, true), 0);
    EXPECT_TRUE(page.IsSoundOpen(0));
    EXPECT_EQ(PavlineControl::SoundPort(), 64);

    // Pane 0's sound is closed before pane 2's opens.
    PavlineControl::ClearJournal();
    EXPECT_EQ(page.OpenSound(2, true), 0);
    EXPECT_EQ(PavlineControl::Journal(), (std::vector<std::string>{"KTN_VIEW_StopSound", "KTN_VIEW_PlaySound 66"}));
    EXPECT_FALSE(page.IsSoundOpen(0));
    EXPECT_TRUE(page.IsSoundOpen(2));
    EXPECT_EQ(PavlineControl::SoundPort(), 66);

    // Closing the pane heard ends its sound.
    EXPECT_EQ(page.ClosePane(2), 0);
    EXPECT_FALSE(page.IsSoundOpen(2));
    EXPECT_EQ(PavlineControl::SoundPort(), -1);

    // A pane whose port is closed is not heard.
    EXPECT_EQ(page.OpenSound(2, true), -2);
    EXPECT_FALSE(page.IsSoundOpen(2));

    // When the sound heard cannot be closed nothing changes.
    EXPECT_EQ(page.OpenSound(0, true), 0);
    PavlineControl::FailNextCall("KTN_VIEW_StopSound", KTN_ERR_FAILED);
    PavlineControl::ClearJournal();
    OpenPane(page, 1, true);
    EXPECT_EQ(page.OpenSound(1, true), -2);
    EXPECT_TRUE(Calls("KTN_VIEW_PlaySound").empty());
    EXPECT_TRUE(page.IsSoundOpen(0));
    EXPECT_FALSE(page.IsSoundOpen(1));

    EXPECT_EQ(page.OpenSound(0, false), 0);
    EXPECT_FALSE(page.IsSoundOpen(0));
    EXPECT_EQ(PavlineControl::SoundPort(), -1);
    page.ClosePane(0);
    page.ClosePane(1);
}

TEST_F(PlaybackPageTest, DigitalZoomSwitchesSelectionOnAPlayingPaneOnly)
{
    CPlaybackWidget page;
    ASSERT_TRUE(ShowPage(page, 1));
    page.SetMode(1);
    CPlayWindowManage *pGrid = Grid(page);
    CVideoFrame *pSurface = pGrid->GetVideoWnd(0)->GetVideoFrame();

    EXPECT_EQ(page.DigitalZoom(), -1) << "stopped";
    EXPECT_FALSE(page.IsDigitalZoom(0));
    EXPECT_FALSE(pGrid->IsZoomSelect());

    OpenPane(page, 0, true);
    // Twice: selection on, then off.
    ASSERT_EQ(page.DigitalZoom(), 0);
    EXPECT_TRUE(page.IsDigitalZoom(0));
    EXPECT_TRUE(pGrid->IsZoomSelect());
    ASSERT_EQ(page.DigitalZoom(), 0);
    EXPECT_FALSE(page.IsDigitalZoom(0));
    EXPECT_FALSE(pGrid->IsZoomSelect());

    ASSERT_EQ(page.DigitalZoom(), 0);
    // A region drawn in the pane is applied, and the switch stays on.
    GridTest::Press(pSurface, Qt::LeftButton, QPoint(40, 30));
    GridTest::Move(pSurface, QPoint(150, 120));
    GridTest::Release(pSurface, Qt::LeftButton, QPoint(150, 120));
    const PortStats zoomed = PavlineControl::Stats(64);
    ASSERT_TRUE(zoomed.settings.bRegion);
    EXPECT_EQ(zoomed.settings.region.left, 40 * 8192 / GridTest::kStreamWidth);
    EXPECT_EQ(zoomed.settings.region.right, 150 * 8192 / GridTest::kStreamWidth);
    EXPECT_EQ(zoomed.settings.region.top, 30 * 8192 / GridTest::kStreamHeight);
    EXPECT_EQ(zoomed.settings.region.bottom, 120 * 8192 / GridTest::kStreamHeight);
    EXPECT_TRUE(page.IsDigitalZoom(0));

    // The drawn region ended the selection; the next switch ends the zoom, region and all.
    EXPECT_FALSE(pGrid->IsZoomSelect());
    ASSERT_EQ(page.DigitalZoom(), 0);
    EXPECT_FALSE(page.IsDigitalZoom(0));
    EXPECT_FALSE(pGrid->IsZoomSelect());
    EXPECT_FALSE(PavlineControl::Stats(64).settings.bRegion);

    // Paused is not stopped; a right click ends the zoom too.
    ASSERT_EQ(page.PlaybackControl(0, PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    ASSERT_EQ(page.DigitalZoom(), 0);
    GridTest::Press(pSurface, Qt::LeftButton, QPoint(20, 20));
    GridTest::Move(pSurface, QPoint(200, 150));
    GridTest::Release(pSurface, Qt::LeftButton, QPoint(200, 150));
    ASSERT_TRUE(PavlineControl::Stats(64).settings.bRegion);
    LogCapture log;
    GridTest::Press(pSurface, Qt::RightButton, QPoint(50, 50));
    GridTest::Release(pSurface, Qt::RightButton, QPoint(50, 50));
    EXPECT_TRUE(log.WaitFor("OnQuitDigitalZoom index :0"));
    EXPECT_FALSE(PavlineControl::Stats(64).settings.bRegion);
    EXPECT_FALSE(page.IsDigitalZoom(0));

    // A closed pane has no zoom.
    ASSERT_EQ(page.DigitalZoom(), 0);
    EXPECT_EQ(page.ClosePane(0), 0);
    EXPECT_FALSE(page.IsDigitalZoom(0));
    EXPECT_FALSE(pGrid->IsZoomSelect());
    EXPECT_EQ(page.DigitalZoom(), -1);
}

} // namespace
