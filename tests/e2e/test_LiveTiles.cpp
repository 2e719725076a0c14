// What the live tiles show, in the pixels of the program's window on an X server of the test's own: a window given
// to another channel, the configuration snapshot of a closed channel, electronic PTZ after another tile starts,
// and two-sensor cameras in their source aspect.

#include "tests/e2e/LiveSession.h"
#include "tests/support/PrivateDisplay.h"
#include "tests/support/TestPatternCheck.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace {

constexpr int kChannels = 16;
// The login splits the grid for the device's 16 channels: 4 x 4 tiles.
constexpr int kColumns = 4;
// A second of pictures, at the pace the decoders draw at: a tile that two ports draw into shows both within it.
constexpr int kGrabFrames = 25;

int PlayState(LiveSession &session, int nChannel)
{
    const HostMessage reply = session.Reply(LiveSession::Preview(4, "state", nChannel));
    return reply ? reply["Status"].asInt() : -100;
}

int CurrentChannel(LiveSession &session) { return session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(); }

Json::Value Page(int nPage) { return HostedPlugin::NewRequest(2, nPage, "page"); }

Json::Value ElectPTZ(int nSubType, int nChannel, int nStep = 0)
{
    Json::Value request = HostedPlugin::NewRequest(24, nSubType, "ptz");
    request["Channel"] = nChannel;
    request["Step"] = nStep;
    return request;
}

// The program logged in on a display of its own, its window shown over the page's content window.
class LiveTiles : public ::testing::Test
{
protected:
    explicit LiveTiles(const QByteArray &devices = QByteArray()) : m_session("x64", devices) {}

    void SetUp() override
    {
        if (!m_display.Started())
            GTEST_SKIP() << m_display.Why().toStdString();
        m_display.Use(m_session.Plugin());
        ASSERT_TRUE(m_session.Start());
    }

    // Shows the window in a region of the page of that size; false when it is not shown.
    bool Show(int nWidth, int nHeight)
    {
        Json::Value request = HostedPlugin::NewRequest(12, 2, "show");
        request["Pos"]["Left"] = 0;
        request["Pos"]["Top"] = 0;
        request["Pos"]["Width"] = nWidth;
        request["Pos"]["Height"] = nHeight;
        if (m_session.Reply(request)["Ret"].asInt() != 100)
            return false;
        // The place is logged before the reply is sent, but the log may reach the test after it.
        return WaitUntil(
            [&] {
                m_window = PrivateDisplay::WindowPlace(m_session.Plugin().Output());
                return m_window.width() == nWidth && m_window.height() == nHeight;
            },
            HostedPlugin::kWaitMs);
    }

    // The rectangle of a tile on the screen.
    QRect Tile(int nWnd) const
    {
        const int c = nWnd % kColumns, r = nWnd / kColumns;
        const int w = m_window.width(), h = m_window.height();
        return QRect(QPoint(m_window.left() + w * c / kColumns, m_window.top() + h * r / kColumns),
                     QPoint(m_window.left() + w * (c + 1) / kColumns - 1, m_window.top() + h * (r + 1) / kColumns - 1));
    }

    // Which channel each picture of the tile shows over a second (-1: none); an empty set when the grab failed.
    std::multiset<int> ChannelsInTile(int nWnd) const
    {
        const QRect tile = Tile(nWnd);
        std::multiset<int> shown;
        for (const QImage &frame : m_display.Grab(tile, kGrabFrames, kGrabFrames))
            shown.insert(TestPattern::ChannelInCell(frame, frame.rect(), kChannels));
        return shown;
    }

    // Waits until the tile shows the channel's picture (its first pictures take a moment).
    bool WaitForTile(int nWnd, int nChannel) const
    {
        return WaitUntil(
            [&] {
                const std::vector<QImage> frames = m_display.Grab(Tile(nWnd), 1, kGrabFrames);
                return !frames.empty() &&
                       TestPattern::ChannelInCell(frames.front(), frames.front().rect(), kChannels) == nChannel;
            },
            HostedPlugin::kWaitMs);
    }

    // The handle of the live stream the program started last, from its log.
    int LastStreamHandle()
    {
        static const QRegularExpression started("ZDK_DEV_RealPlay lPlayOK=(\\d+)");
        int nHandle = -1;
        QRegularExpressionMatchIterator it = started.globalMatch(QString::fromUtf8(m_session.Plugin().Output()));
        while (it.hasNext())
            nHandle = it.next().captured(1).toInt();
        return nHandle;
    }

    PrivateDisplay m_display;
    LiveSession m_session;
    QRect m_window;
};

std::multiset<int> Only(int nChannel)
{
    std::multiset<int> shown;
    for (int i = 0; i < kGrabFrames; ++i)
        shown.insert(nChannel);
    return shown;
}

} // namespace

// A range open gives window 0 to channel 0: channel 7, which window 0 showed, is stopped, device stream and
// tile, and reported as closed; the tile shows channel 0 alone.
TEST_F(LiveTiles, ARangeOpenStopsTheChannelAWindowShowedBefore)
{
    ASSERT_TRUE(Show(1280, 720));
    ASSERT_EQ(m_session.Reply(LiveSession::Open("seven", 7, 1))["Ret"].asInt(), 100);
    int lSeven = -1;
    ASSERT_TRUE(WaitUntil([&] { return (lSeven = LastStreamHandle()) > 0; }, HostedPlugin::kWaitMs));
    ASSERT_TRUE(WaitForTile(0, 7));

    const std::vector<HostMessage> messages = m_session.Exchange(LiveSession::Open("range", 260, 1));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back()["Ret"].asInt(), 100);
    const auto closed = std::find_if(messages.begin(), messages.end(), [](const HostMessage &m) {
        return m["MainEvent"] == 0 && m["SubEvent"] == 2 && m["Data"]["Chn"] == 7;
    });
    ASSERT_NE(closed, messages.end()) << "channel 7 is not reported";
    EXPECT_EQ((*closed)["Data"]["PlayStatus"].asInt(), 0);
    EXPECT_TRUE(m_session.Plugin().WaitForLog(QString("ZDK_DEV_StopRealPlay lPlay=%1 end").arg(lSeven).toUtf8()));
    EXPECT_EQ(PlayState(m_session, 7), 0);

    ASSERT_TRUE(WaitForTile(0, 0));
    EXPECT_EQ(ChannelsInTile(0), Only(0));
    EXPECT_EQ(ChannelsInTile(3), Only(3));
}

// While the current window reads -1 (the colour page, a page the window does not have), a single open goes to the
// live page's current window all the same, and the channel that window showed is the old one.
TEST_F(LiveTiles, ASingleOpenOffTheLivePageStopsTheChannelTheLiveWindowShowed)
{
    ASSERT_TRUE(Show(1280, 720));
    int nNext = 3;
    for (int nPage : {2, 7}) {
        SCOPED_TRACE(nPage);
        const int nOld = nNext == 3 ? 7 : 3;
        ASSERT_EQ(m_session.Reply(Page(0))["Ret"].asInt(), 100);
        ASSERT_EQ(m_session.Reply(LiveSession::Open("old", nOld, 1))["Ret"].asInt(), 100);
        ASSERT_EQ(m_session.Reply(Page(nPage))["Ret"].asInt(), 100);

        const HostMessage reply = m_session.Reply(LiveSession::Open("new", nNext, 1));
        EXPECT_EQ(reply["Ret"].asInt(), 100);
        EXPECT_EQ(reply["oldChn"].asInt(), nOld);
        EXPECT_EQ(PlayState(m_session, nOld), 0);

        ASSERT_EQ(m_session.Reply(Page(0))["Ret"].asInt(), 100);
        EXPECT_EQ(CurrentChannel(m_session), nNext);
        ASSERT_TRUE(WaitForTile(0, nNext));
        EXPECT_EQ(ChannelsInTile(0), Only(nNext));
        nNext = nOld;
    }
}

namespace {

// The picture of a closed channel is taken 2000 ms after its main stream starts: a small one keeps the time its
// decoder needs well within that on a loaded machine.
class SnapshotTiles : public LiveTiles
{
protected:
    SnapshotTiles()
        : LiveTiles(R"({"Devices": [{"Main": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 10}}]})")
    {
    }
};

} // namespace

// The configuration snapshot of a closed channel never takes a tile: the current window keeps its channel, the
// next open names it as the old one, and the tile then shows the new channel alone.
TEST_F(SnapshotTiles, AConfigurationSnapshotOfAClosedChannelLeavesTheCurrentWindowAsItWas)
{
    ASSERT_TRUE(Show(1280, 720));
    ASSERT_EQ(m_session.Reply(LiveSession::Open("seven", 7, 1))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTile(0, 7));

    EXPECT_EQ(m_session.Reply(HostedPlugin::NewRequest(19, 3, "cap"))["Ret"].asInt(), 100);
    EXPECT_TRUE(m_session.Plugin().WaitForLog("PlayWidget::PreviewStop Chn=3"));
    EXPECT_EQ(CurrentChannel(m_session), 7);
    EXPECT_EQ(PlayState(m_session, 3), 0);
    EXPECT_EQ(ChannelsInTile(0), Only(7));

    const HostMessage reply = m_session.Reply(LiveSession::Open("two", 2, 1));
    EXPECT_EQ(reply["Ret"].asInt(), 100);
    EXPECT_EQ(reply["oldChn"].asInt(), 7);
    EXPECT_EQ(PlayState(m_session, 7), 0);
    ASSERT_TRUE(WaitForTile(0, 2));
    EXPECT_EQ(ChannelsInTile(0), Only(2));
}

// Electronic PTZ of the channel in window 0 outlives another tile's start (the live page reopening what a re-login
// closed): it resets and leaves as before, and the tile shows the whole picture again.
TEST_F(LiveTiles, ElectronicPTZOutlivesAnotherTilesStart)
{
    ASSERT_TRUE(Show(1280, 720));
    // Channel 1 in window 1, kept through the re-login for the live page to reopen.
    ASSERT_EQ(m_session.Reply(LiveSession::Open("range", 258, 1))["Ret"].asInt(), 100);
    ASSERT_EQ(m_session.Reply(HostedPlugin::NewRequest(28, 0, "relogin"))["Ret"].asInt(), 100);
    ASSERT_EQ(m_session.Reply(LiveSession::Open("zero", 0, 1))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTile(0, 0));

    ASSERT_EQ(m_session.Reply(ElectPTZ(10, 0))["Ret"].asInt(), 100);
    ASSERT_EQ(m_session.Reply(ElectPTZ(5, 0, 1500))["Ret"].asInt(), 100);
    // Zoomed in, the label in the picture's corner is out of the tile.
    ASSERT_TRUE(WaitUntil([&] { return ChannelsInTile(0) == Only(-1); }, HostedPlugin::kWaitMs));

    // Window 0's channel plays on; channel 1 starts in window 1.
    ASSERT_EQ(m_session.Reply(Page(0))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTile(1, 1));
    EXPECT_EQ(ChannelsInTile(0), Only(-1));
    // The zoom goes on from where it was, and the reset gives the whole picture back.
    EXPECT_EQ(m_session.Reply(ElectPTZ(1, 0, 100))["Ret"].asInt(), 100);
    EXPECT_EQ(m_session.Reply(ElectPTZ(9, 0))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitForTile(0, 0));
    EXPECT_EQ(ChannelsInTile(0), Only(0));
    EXPECT_EQ(m_session.Reply(ElectPTZ(9, 0))["Ret"].asInt(), 1016);
}

namespace {

// Channel 2 is a two-sensor camera.
const QByteArray kTwoSensors = R"({"Devices": [{"ChannelAbilities":
    {"ChannelSystemFunction@SupportGunBallTwoSensorCamera": [false, false, true]}}]})";

// The rows of the tile in which its picture shows: every row across the pattern's colour bars holds several
// colours, a row of the bands beside a letterboxed picture one (the tile's border columns left out).
int PictureRows(const QImage &tile)
{
    constexpr int kBorder = 4;
    int nRows = 0;
    for (int y = 0; y < tile.height(); ++y) {
        int nMin = 255, nMax = 0;
        for (int x = kBorder; x < tile.width() - kBorder; ++x) {
            const int nGray = qGray(tile.pixel(x, y));
            nMin = std::min(nMin, nGray);
            nMax = std::max(nMax, nGray);
        }
        nRows += nMax - nMin > 40 ? 1 : 0;
    }
    return nRows;
}

class TwoSensorTiles : public LiveTiles
{
protected:
    TwoSensorTiles() : LiveTiles(kTwoSensors) {}
};

} // namespace

// Square tiles: a 16:9 picture in its source aspect fills the tile's width and a band of 9/16 of its height; the
// tile fills itself until the first picture gives the size.
TEST_F(TwoSensorTiles, ATwoSensorChannelIsLetterboxedOnceItsPictureSizeIsKnown)
{
    ASSERT_TRUE(Show(800, 800));
    const std::vector<HostMessage> messages = m_session.Exchange(LiveSession::Open("two", 2, 1));
    ASSERT_FALSE(messages.empty());
    ASSERT_EQ(messages.back()["Ret"].asInt(), 100);
    EXPECT_EQ(messages.front()["Data"]["RageState"].asInt(), 1);

    const int nBand = Tile(0).height() * 9 / 16;
    int nRows = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::vector<QImage> frames = m_display.Grab(Tile(0), 1, kGrabFrames);
            nRows = frames.empty() ? 0 : PictureRows(frames.front());
            return std::abs(nRows - nBand) <= 4;
        },
        HostedPlugin::kWaitMs))
        << nRows << " rows of the picture, not " << nBand;

    // A channel of one sensor fills its tile.
    ASSERT_EQ(m_session.Reply(LiveSession::Open("one", 1, 1))["Ret"].asInt(), 100);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::vector<QImage> frames = m_display.Grab(Tile(0), 1, kGrabFrames);
            nRows = frames.empty() ? 0 : PictureRows(frames.front());
            return nRows >= Tile(0).height() - 8;
        },
        HostedPlugin::kWaitMs))
        << nRows << " rows of the picture";
}
