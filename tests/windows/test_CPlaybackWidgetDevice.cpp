// The playback page with recordings of the simulated device played by time, the library's data threads feeding
// the panes: each pane shows its channel, a paused pane holds its picture, every speed of the play-control
// sequences reaches the decoder, a seek lands at its target, and clips and snapshots of a playing pane.

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/PlaybackTestSupport.h"
#include "windows/CPlaybackWidget.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <cmath>
#include <sstream>

using namespace PlaybackTest;

namespace {

constexpr const char *kBegin = "2024-05-06 07:08:09";

// A logged-in simulated device and a shown page whose panes play its recordings.
class DevicePlaybackTest : public PlaybackFixture
{
protected:
    void TearDown() override
    {
        // The recordings end before their page.
        m_pPanes.reset();
        m_pPage.reset();
        PlaybackFixture::TearDown();
    }

    // The page with 1 or 4 panes, in the mode.
    CPlaybackWidget &OpenPage(int nPanes, int nMode)
    {
        const int lLogin = LoginBuiltIn();
        EXPECT_GT(lLogin, 0);
        m_pPage = std::make_unique<CPlaybackWidget>();
        EXPECT_TRUE(ShowPage(*m_pPage, nPanes));
        m_pPage->SetMode(nMode);
        m_pPanes = std::make_unique<DevicePanes>(*m_pPage, lLogin);
        return *m_pPage;
    }
    DevicePanes &Panes() { return *m_pPanes; }

    std::unique_ptr<CPlaybackWidget> m_pPage;
    std::unique_ptr<DevicePanes> m_pPanes;
};

TEST_F(DevicePlaybackTest, FourPanesShowTheirChannelsAndAPausedPaneHoldsItsPicture)
{
    CPlaybackWidget &page = OpenPage(4, 2);
    DevicePanes &panes = Panes();
    const int channels[4] = {12, 9, 6, 3};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(panes.Start(i, channels[i], kBegin, 600)) << "pane " << i;

    auto shown = [&](int i) { return GridTest::ChannelShown(GrabPane(page, i), 16); };
    const bool bAll = WaitUntil([&] {
        for (int i = 0; i < 4; ++i)
            if (shown(i) != channels[i])
                return false;
        return true;
    }, 30000);
    if (!bAll) {
        std::ostringstream out;
        for (int i = 0; i < 4; ++i)
            out << " pane " << i << ": channel " << shown(i) << " (" << panes.Feed(i)->nTaken.load() << " blocks)";
        ADD_FAILURE() << out.str();
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(GridTest::ShowsPattern(GrabPane(page, i))) << "pane " << i;
        EXPECT_FALSE(panes.Feed(i)->bOnGuiThread.load());
        EXPECT_TRUE(WaitUntil([&] { return page.GetPlayPos(i) > 0.0f; }, 10000)) << "pane " << i;
        EXPECT_LT(page.GetPlayPos(i), 0.1f);
    }

    // Pause pane 1 as the play-control request does: the device first (at normal speed it is not told), then
    // the pane.
    CQZConnect::GetInstance()->PlayBackControl(panes.Handle(1), PLAY_STATE_PAUSE, page.GetPlayState(1));
    ASSERT_EQ(page.PlaybackControl(1, PLAY_STATE_PAUSE), PLAY_STATE_PAUSE);
    // A picture being drawn at the pause may still land; then nothing changes while pane 0 plays on.
    auto morePictures = [&](int nPort, int64_t nMore) {
        return PavlineControl::WaitForShown(nPort, PavlineControl::Stats(nPort).nPicturesShown + nMore, 20000);
    };
    ASSERT_TRUE(morePictures(64, 5));
    const QImage held = GrabPane(page, 1);
    const QImage playing = GrabPane(page, 0);
    const int64_t nHeld = PavlineControl::Stats(65).nPicturesShown;
    ASSERT_TRUE(morePictures(64, 15));
    EXPECT_EQ(PavlineControl::Stats(65).nPicturesShown, nHeld);
    EXPECT_TRUE(GrabPane(page, 1) == held) << "the paused picture changed";
    EXPECT_FALSE(GrabPane(page, 0) == playing) << "the playing pane's picture did not change";
    EXPECT_EQ(page.GetPlayState(1), PLAY_STATE_PAUSE);

    ASSERT_EQ(CQZConnect::GetInstance()->PlayBackControl(panes.Handle(1), PLAY_STATE_NORMAL, PLAY_STATE_PAUSE),
              PLAY_STATE_NORMAL);
    ASSERT_EQ(page.PlaybackControl(1, PLAY_STATE_NORMAL), PLAY_STATE_NORMAL);
    EXPECT_TRUE(morePictures(65, 5));
    panes.StopAll();
    for (int nPort = 64; nPort < 68; ++nPort)
        EXPECT_FALSE(PavlineControl::Stats(nPort).bOpen) << nPort;
}

// The rate at which the port's play time runs, measured from its pictures over about two seconds once the
// pictures shown follow the speed: milliseconds of play time per millisecond.
double PlayRate(int nPort, double dExpected)
{
    const int64_t nFirst = PavlineControl::Stats(nPort).nPicturesShown;
    // The first picture after a change is shown at once; the rate shows from the next one.
    if (!PavlineControl::WaitForShown(nPort, nFirst + 2, 30000))
        return 0.0;
    QElapsedTimer timer;
    timer.start();
    const int64_t nStartMs = ShownMs(nPort);
    const int64_t nSpanMs = std::max<int64_t>(200, static_cast<int64_t>(2000.0 * dExpected));
    if (!WaitUntil([&] { return ShownMs(nPort) - nStartMs >= nSpanMs; }, 60000))
        return 0.0;
    return static_cast<double>(ShownMs(nPort) - nStartMs) / static_cast<double>(std::max<qint64>(1, timer.elapsed()));
}

TEST_F(DevicePlaybackTest, EverySpeedOfThePlayControlSequencesReachesTheDecoder)
{
    CPlaybackWidget &page = OpenPage(1, 2);
    DevicePanes &panes = Panes();
    constexpr int kSpanSeconds = 1200;
    ASSERT_TRUE(panes.Start(0, 5, kBegin, kSpanSeconds));
    ASSERT_TRUE(PavlineControl::WaitForShown(64, 1, 20000));
    const int64_t nBegin = DeviceSeconds(kBegin);

    struct Step
    {
        int nState;
        double dRate;
    };
    // "Slower" from normal through slow 1-4 and back, then "faster" through fast 1-4 and back.
    const Step steps[] = {
        {0, 1.0},      {16, 1 / 2.0}, {17, 1 / 4.0}, {18, 1 / 8.0}, {19, 1 / 16.0}, {0, 1.0},
        {32, 2.0},     {33, 4.0},     {34, 8.0},     {35, 16.0},    {0, 1.0},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE("state " + std::to_string(step.nState));
        const int nCurrent = page.GetPlayState(0);
        if (step.nState != nCurrent) {
            ASSERT_EQ(CQZConnect::GetInstance()->PlayBackControl(panes.Handle(0), step.nState, nCurrent), step.nState);
            ASSERT_EQ(page.PlaybackControl(0, step.nState), step.nState);
        }
        EXPECT_EQ(page.GetPlayState(0), step.nState);
        const double dRate = PlayRate(64, step.dRate);
        // Neighbouring speeds differ twofold; a loaded machine only shifts the rate within that.
        EXPECT_GT(dRate, step.dRate * 0.65) << "measured " << dRate;
        EXPECT_LT(dRate, step.dRate * 1.5) << "measured " << dRate;
        // The page's position is the play time in the span.
        const double dShown = static_cast<double>(ShownMs(64)) / 1000.0 - static_cast<double>(nBegin);
        EXPECT_NEAR(page.GetPlayPos(0) * kSpanSeconds, dShown, 1.5);
    }
    panes.StopAll();
}

TEST_F(DevicePlaybackTest, ASeekLandsWithinASecondOfItsTarget)
{
    CPlaybackWidget &page = OpenPage(1, 2);
    DevicePanes &panes = Panes();
    constexpr int kSpanSeconds = 600;
    ASSERT_TRUE(panes.Start(0, 2, kBegin, kSpanSeconds));
    // A position needs a picture past the begin.
    ASSERT_TRUE(WaitUntil([&] { return page.GetPlayPos(0) > 0.0f; }, 20000));
    const int64_t nBeginMs = DeviceSeconds(kBegin) * 1000;

    for (int nPerMille : {500, 100, 875}) {
        SCOPED_TRACE(nPerMille);
        // As the play-control request seeks: the seconds from the page, the device told, the pane's buffers
        // emptied.
        const int nSeconds = page.GetSeekTime(0, nPerMille);
        EXPECT_EQ(nSeconds, nPerMille * kSpanSeconds / 1000);
        ASSERT_TRUE(CQZConnect::GetInstance()->PlayBackSeek(panes.Handle(0), nSeconds));
        EXPECT_TRUE(page.IsBufferEmpty(0));
        const int64_t nTargetMs = nBeginMs + nSeconds * 1000LL;
        // Wait for the jump (normal play cannot come within five seconds of the target meanwhile).
        ASSERT_TRUE(WaitUntil([&] { return std::llabs(ShownMs(64) - nTargetMs) <= 5000; }, 20000))
            << "shown " << ShownMs(64) - nBeginMs << " ms into the span";
        EXPECT_LE(std::llabs(ShownMs(64) - nTargetMs), 1000) << "shown " << ShownMs(64) - nBeginMs << " ms into the span";
        EXPECT_NEAR(page.GetPlayPos(0), nPerMille / 1000.0, 1.5 / kSpanSeconds);
    }
    panes.StopAll();
}

TEST_F(DevicePlaybackTest, ClipsAndSnapshotsOfAPlayingPane)
{
    CPlaybackWidget &page = OpenPage(4, 1);
    DevicePanes &panes = Panes();
    ASSERT_TRUE(panes.Start(1, 7, kBegin, 600));
    ASSERT_TRUE(WaitUntil([&] { return GridTest::ChannelShown(GrabPane(page, 1), 16) == 7; }, 20000));

    // The snapshot shows the pane's channel.
    const QString strSnapshots = TempPath("snapshots");
    ASSERT_EQ(page.Snapshot(1, strSnapshots), 0);
    const QStringList pictures = QDir(strSnapshots).entryList(QStringList{"08_*.bmp"}, QDir::Files);
    ASSERT_EQ(pictures.size(), 1);
    const QImage picture(QDir(strSnapshots).filePath(pictures.front()));
    EXPECT_EQ(picture.size(), QSize(GridTest::kStreamWidth, GridTest::kStreamHeight));
    EXPECT_EQ(GridTest::ChannelShown(picture, 16), 7);

    struct ClipCase
    {
        int nRecordType;
        const char *pPattern;
    };
    for (const ClipCase &c : {ClipCase{2, "08_*.avi"}, ClipCase{0, "08_*.h265x"}}) {
        SCOPED_TRACE(c.pPattern);
        ASSERT_NE(page.Record(1, c.nRecordType, true, RecordDir()), 0);
        const int nTaken = panes.Feed(1)->nTaken.load();
        ASSERT_TRUE(WaitUntil([&] { return panes.Feed(1)->nTaken.load() >= nTaken + 30; }, 20000));
        ASSERT_NE(page.Record(1, c.nRecordType, false, RecordDir()), 0);
        const QStringList clips = RecordFiles(c.pPattern);
        ASSERT_EQ(clips.size(), 1);
        if (c.nRecordType == 2) {
            const RecordTest::MediaReport report = RecordTest::Probe(clips.front());
            EXPECT_TRUE(report.bOpened) << RecordTest::Describe(report);
            EXPECT_EQ(report.strVideoCodec, "h264");
            EXPECT_EQ(report.nWidth, GridTest::kStreamWidth);
            EXPECT_EQ(report.nHeight, GridTest::kStreamHeight);
            EXPECT_GE(report.nVideoPackets, 20);
            EXPECT_EQ(report.nDecodeErrors, 0);
        } else {
            // The blocks as received.
            QFile file(clips.front());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray baHead = file.read(4);
            ASSERT_EQ(baHead.size(), 4);
            EXPECT_EQ(baHead.left(3), QByteArray("\x00\x00\x01", 3));
            EXPECT_TRUE(QByteArray("\xFA\xFC\xFD").contains(baHead[3]));
            EXPECT_GT(file.size(), 30 * 16);
        }
    }
    panes.StopAll();
}

} // namespace
