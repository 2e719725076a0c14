// The configuration snapshot, the colour page's preview, electronic PTZ, the two-lens zoom step, the smart-rule
// overlay and the key text, through the program.

#include "runtime/JsonText.h"
#include "tests/e2e/LiveSession.h"
#include "tests/support/PrivateDisplay.h"
#include "tests/support/TestPatternCheck.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QSet>

#include <algorithm>
#include <limits>

namespace {

Json::Value Capture(const Json::Value &msgId, int nChannel) { return HostedPlugin::NewRequest(19, nChannel, msgId); }

std::string CaptureReply(const char *pMsgId, int nChannel, int nRet)
{
    return "{\"Channel\":" + std::to_string(nChannel) + ",\"Msg\":19,\"MsgID\":\"" + pMsgId + "\",\"Ret\":" +
           std::to_string(nRet) + "}\n";
}

std::string PlainReply(int nMsg, const char *pMsgId, int nSub, int nRet, const std::string &strBefore = std::string())
{
    return "{" + strBefore + "\"Msg\":" + std::to_string(nMsg) + ",\"MsgID\":\"" + pMsgId + "\",\"Ret\":" +
           std::to_string(nRet) + ",\"SubMsg\":" + std::to_string(nSub) + "}\n";
}

// A text as the JSON writer quotes it.
std::string Quoted(const std::string &strText)
{
    std::string strQuoted = JsonText::Write(Json::Value(strText));
    strQuoted.pop_back();
    return strQuoted;
}

int PlayState(LiveSession &session, int nChannel)
{
    return session.Reply(LiveSession::Preview(4, "state", nChannel))["Status"].asInt();
}

int CurrentChannel(LiveSession &session) { return session.Reply(LiveSession::Preview(7, "cur", 0))["Chn"].asInt(); }

QImage ConfigSnapshot(LiveSession &session) { return QImage(session.Plugin().App().FilePath("Cfg/capture.bmp")); }

Json::Value ColorPreview(const Json::Value &msgId, int nSubType, int nChannel, int nStream)
{
    Json::Value request = HostedPlugin::NewRequest(6, nSubType, msgId);
    request["Channel"] = nChannel;
    request["Stream"] = nStream;
    return request;
}

} // namespace

// The picture of a closed channel is taken 2000 ms after its stream starts: a small main stream keeps the time its
// decoder needs well within that on a loaded machine.
const QByteArray kSmallMainStream = R"({"Devices": [{"Main": {"Codec": "H.264", "Width": 320, "Height": 180,
    "FrameRate": 10}}]})";

TEST(ConfigSnapshot, AClosedChannelIsOpenedForThePictureAndClosedAgain)
{
    LiveSession session("x64", kSmallMainStream);
    ASSERT_TRUE(session.Start());

    EXPECT_EQ(session.Reply(Capture("cap", 3)).text.toStdString(), CaptureReply("cap", 3, 100));
    const QImage picture = ConfigSnapshot(session);
    EXPECT_EQ(picture.size(), QSize(320, 180));
    EXPECT_EQ(TestPattern::ChannelShown(picture, 16), 3);
    // Nothing stays open: no tile shows the channel and its port is stopped.
    EXPECT_TRUE(session.Plugin().WaitForLog("PlayWidget::PreviewStop Chn=3"));
    EXPECT_EQ(CurrentChannel(session), -1);
    EXPECT_EQ(PlayState(session, 3), 0);
    // Its handle was cleared: the channel opens as any other.
    EXPECT_EQ(session.Reply(LiveSession::Open("open", 3, 1))["Ret"].asInt(), 100);
}

TEST(ConfigSnapshot, AnOpenChannelIsTakenAsItPlays)
{
    LiveSession session("x64", kSmallMainStream);
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 5, 1))["Ret"].asInt(), 100);
    ASSERT_FALSE(session.Snapshot(5).isNull());

    EXPECT_EQ(session.Reply(Capture("cap", 5)).text.toStdString(), CaptureReply("cap", 5, 100));
    // The sub stream it plays, not the main stream that a closed channel is opened on; and it plays on.
    const QImage picture = ConfigSnapshot(session);
    EXPECT_EQ(picture.size(), QSize(640, 360));
    EXPECT_EQ(TestPattern::ChannelShown(picture, 16), 5);
    EXPECT_EQ(PlayState(session, 5), 2);
    EXPECT_EQ(CurrentChannel(session), 5);
}

TEST(ConfigSnapshot, AChannelThatCannotBeTakenAnswers1016)
{
    LiveSession session("x64", R"({"Devices": [{"Channels": 4, "Main": {"Codec": "H.264", "Width": 320,
        "Height": 180, "FrameRate": 10}}]})");
    ASSERT_TRUE(session.Start());
    // The device has no channel 10: the preview opened for it is closed again.
    EXPECT_EQ(session.Reply(Capture("cap10", 10)).text.toStdString(), CaptureReply("cap10", 10, 1016));
    EXPECT_TRUE(session.Plugin().WaitForLog("PlayWidget::PreviewStop Chn=10"));
    EXPECT_EQ(CurrentChannel(session), -1);
    EXPECT_EQ(PlayState(session, 10), 0);
    // Channels the table does not hold touch nothing.
    for (int nChannel : {64, 200, -1})
        EXPECT_EQ(session.Reply(Capture("bad", nChannel)).text.toStdString(), CaptureReply("bad", nChannel, 1016));
    EXPECT_FALSE(QFile::exists(session.Plugin().App().FilePath("Cfg/capture.bmp")));
    EXPECT_EQ(session.Reply(Capture("cap1", 1)).text.toStdString(), CaptureReply("cap1", 1, 100));
}

TEST(ColorPreview, OpensClosesAndReportsTheDevicesRefusal)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    EXPECT_EQ(session.Reply(ColorPreview("open", 0, 2, 1)).text.toStdString(), PlainReply(6, "open", 0, 100));
    EXPECT_TRUE(session.Plugin().WaitForLog("CColorSetWidget::PreviewStart"));
    // Opening again replaces the preview and its login.
    EXPECT_EQ(session.Reply(ColorPreview("again", 0, 4, 0)).text.toStdString(), PlainReply(6, "again", 0, 100));
    EXPECT_EQ(session.Reply(ColorPreview("close", 1, 0, 0)).text.toStdString(), PlainReply(6, "close", 1, 100));
    EXPECT_TRUE(session.NoReply(ColorPreview("other", 2, 2, 1)));
    // A channel the device does not have: the second login ends with it.
    EXPECT_EQ(session.Reply(ColorPreview("none", 0, 40, 1)).text.toStdString(), PlainReply(6, "none", 0, 122));
    // Every login of the device is a line of the log; the second ones went again each time.
    ASSERT_TRUE(session.Plugin().Finish());
    const QByteArray log = session.Plugin().App().LogFiles();
    EXPECT_EQ(log.count("ConnectDevice success"), 4);
    EXPECT_EQ(log.count("Disconnect Device LoginID="), 4);
}

// The colour page's second login hears no alarm and reports no lost connection of its own: the page hears of the
// device once, through the first login.
TEST(ColorPreview, TheSecondLoginAddsNoEvents)
{
    LiveSession session("x64", R"({"Devices": [{"Events": [
        {"AfterLoginMs": 1500, "Alarm": {"Channel": 1, "Code": 4, "Status": 0}},
        {"AfterLoginMs": 3000, "Cut": true}]}]})");
    Json::Value login = HostedPlugin::NewRequest(8, 0, "serial");
    login["Device"]["LoginType"] = 1;
    login["Device"]["SN"] = "KVX8A61C0F3D2E47";
    login["Device"]["User"] = "admin";
    login["Device"]["Password"] = "";
    login["Title"] = "Web Viewer";
    login["Browse"] = 2;
    login["AlarmStyle"] = "Tool";
    ASSERT_TRUE(session.Plugin().Start());
    ASSERT_EQ(session.Reply(login)["Ret"].asInt(), 100);
    ASSERT_EQ(session.Reply(ColorPreview("open", 0, 2, 1))["Ret"].asInt(), 100);

    // Both logins are cut in the end, each logged as it goes.
    ASSERT_TRUE(WaitUntil([&] { return session.Plugin().Output().count("Device Disconnect IP=") >= 2; },
                          HostedPlugin::kWaitMs));
    ASSERT_TRUE(session.Plugin().Sync());
    int nAlarms = 0, nDisconnects = 0;
    for (const HostMessage &message : session.Plugin().Messages()) {
        nAlarms += message["MainEvent"] == 2 && message["SubEvent"] == 0 ? 1 : 0;
        nDisconnects += message["MainEvent"] == 5 && message["SubEvent"] == 0 ? 1 : 0;
    }
    EXPECT_EQ(nAlarms, 1);
    EXPECT_EQ(nDisconnects, 1);
}

TEST(ElectronicPTZ, EachCommandOnTheCurrentChannel)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    ASSERT_FALSE(session.Snapshot(0).isNull());

    struct Case
    {
        int nSubType;
        int nChannel;
        int nStep;
        int nPreset;
        int nRet;
    };
    const Case cases[] = {
        {10, 0, 0, 0, 100},     // electronic PTZ on
        {5, 0, 1000, 0, 100},   // zoom in: {1000, 1000, 7192, 7192}
        {0, 0, 500, 0, 100},    // up: top 500
        {0, 0, 600, 0, 1016},   // up past the edge: refused whole
        {3, 0, 900, 0, 100},    // right: right 8092
        {7, 0, 0, 3, 100},      // preset 3 added
        {1, 0, 200, 0, 100},    // down
        {8, 0, 0, 3, 100},      // back to preset 3
        {8, 0, 0, 4, 1016},     // no preset 4
        {6, 0, 0, 3, 100},      // preset 3 deleted
        {6, 0, 0, 3, 1016},     // no preset left to delete
        {4, 0, 2000, 0, 1016},  // zoom out past the edges: refused
        {9, 0, 0, 0, 100},      // back to the whole picture
        {9, 0, 0, 0, 1016},     // already the whole picture
        {2, 5, 100, 0, 1016},   // channel 5 is not the current window's
        {11, 0, 0, 0, 100},     // not a command: nothing done
        {-1, 0, 0, 0, 100},
    };
    for (const Case &c : cases) {
        Json::Value request = HostedPlugin::NewRequest(24, c.nSubType, "ptz");
        request["Channel"] = c.nChannel;
        request["Step"] = c.nStep;
        request["Preset"] = c.nPreset;
        EXPECT_EQ(session.Reply(request).text.toStdString(), PlainReply(24, "ptz", c.nSubType, c.nRet))
            << "SubType " << c.nSubType;
    }
}

// Steps at the ends of the int range, and steps whose sign turns a zoom or move around, never leave the picture:
// each is refused whole, without overflow (the sanitizer build reports none), and the next step goes on from the
// rectangle as it was.
TEST(ElectronicPTZ, ExtremeStepsAreRefusedWithoutOverflow)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    ASSERT_FALSE(session.Snapshot(0).isNull());
    auto step = [&](int nSubType, int nStep) {
        Json::Value request = HostedPlugin::NewRequest(24, nSubType, "ptz");
        request["Channel"] = 0;
        request["Step"] = nStep;
        return session.Reply(request)["Ret"].asInt();
    };
    ASSERT_EQ(step(10, 0), 100);
    const int kMin = std::numeric_limits<int>::min();
    const int kMax = std::numeric_limits<int>::max();
    for (int nSubType = 0; nSubType <= 5; ++nSubType)
        for (int nStep : {kMin, kMax, kMin + 1, -kMax / 2})
            EXPECT_EQ(step(nSubType, nStep), 1016) << "SubType " << nSubType << ", Step " << nStep;
    // A zoom in by a negative step would take the region past the picture's edges; a zoom out by one shrinks it.
    EXPECT_EQ(step(5, -10), 1016);
    EXPECT_EQ(step(4, -8192), 1016);
    EXPECT_EQ(step(4, -1000), 100);
    // A move up by a negative step moves down: past the bottom edge it is refused.
    EXPECT_EQ(step(0, -1001), 1016);
    EXPECT_EQ(step(0, -1000), 100);
    EXPECT_EQ(step(9, 0), 100);
    ASSERT_TRUE(session.Plugin().Finish());
    EXPECT_FALSE(session.Plugin().Output().contains("runtime error")) << session.Plugin().Output().toStdString();
}

TEST(ScaleSwitch, EveryDirectionAnswers100)
{
    LiveSession session;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    for (int nDirection : {0, 1, 2}) {
        Json::Value request = HostedPlugin::NewRequest(29, nDirection, "scale");
        request["Speed"] = 5;
        EXPECT_EQ(session.Reply(request).text.toStdString(), PlainReply(29, "scale", nDirection, 100));
    }
    EXPECT_TRUE(session.Plugin().WaitForLog("click to scale"));
}

namespace {

// A smart-rule request of nRules regions of nPoints points each.
Json::Value SmartRule(const Json::Value &msgId, int nOn, int nChannel, int nRules, int nPoints)
{
    Json::Value request = HostedPlugin::NewRequest(34, nOn, msgId);
    request["Channel"] = nChannel;
    request["AreaNum"] = nRules;
    request["LineNum"] = 0;
    request["ShowRule"] = 1;
    Json::Value &rules = request["PedRule"];
    for (int i = 0; i < nRules; ++i) {
        Json::Value rule;
        rule["Enable"] = 1;
        rule["RuleType"] = 1;
        rule["RuleRegion"]["AlarmDirect"] = 2;
        rule["RuleRegion"]["PtsNum"] = nPoints;
        for (int j = 0; j < nPoints; ++j) {
            Json::Value point;
            point["X"] = 500 + 700 * j;
            point["Y"] = 1000 + 600 * i + 100 * (j % 2);
            rule["RuleRegion"]["Pts"].append(point);
        }
        rules.append(rule);
    }
    return request;
}

// One picture of the screen's rectangle; null when the grab failed.
QImage GrabOne(const PrivateDisplay &display, const QRect &rect)
{
    const std::vector<QImage> frames = display.Grab(rect, 1, 25);
    return frames.empty() ? QImage() : frames.front();
}

} // namespace

// The overlay is drawn into the tile's window after each picture, not into the pictures a snapshot takes: the
// program runs on a screen of the test's own, and the test looks at what the screen shows.
TEST(SmartRule, RulesBeyondTheBlockAreLeftOutAndTheOverlayDrawn)
{
    PrivateDisplay display;
    ASSERT_TRUE(display.Started()) << display.Why().toStdString();
    LiveSession session;
    HostedPlugin &plugin = session.Plugin();
    display.Use(plugin);
    ASSERT_TRUE(session.Start());
    // One tile filling the window, shown over the content window.
    ASSERT_TRUE(plugin.Request(HostedPlugin::NewRequest(3, 0, "split")));
    Json::Value show = HostedPlugin::NewRequest(12, 2, "show");
    show["Pos"]["Left"] = 0;
    show["Pos"]["Top"] = 0;
    show["Pos"]["Width"] = 1280;
    show["Pos"]["Height"] = 720;
    ASSERT_TRUE(plugin.Request(show));
    ASSERT_TRUE(plugin.WaitForLog("nLeft:"));
    const QRect window = PrivateDisplay::WindowPlace(plugin.Output());
    ASSERT_EQ(window.size(), QSize(1280, 720));
    ASSERT_EQ(session.Reply(LiveSession::Open("open", 0, 1))["Ret"].asInt(), 100);
    ASSERT_FALSE(session.Snapshot(0).isNull());

    // The rule pen's blue in the window: by rows (y in the window), and to the right of x.
    auto penPixels = [](const QImage &shot, int nTop, int nBottom, int nLeft) {
        int nCount = 0;
        for (int y = std::max(nTop, 0); y < std::min(nBottom, shot.height()); ++y)
            for (int x = std::max(nLeft, 0); x < shot.width(); ++x) {
                const QRgb rgb = shot.pixel(x, y);
                nCount += qRed(rgb) < 60 && qGreen(rgb) < 60 && qBlue(rgb) > 200 ? 1 : 0;
            }
        return nCount;
    };
    // A region's lines are thousands of pixels of the pen's colour; the picture itself has a stray pixel of that
    // colour here and there (its compression), never that many.
    constexpr int kStray = 40;
    constexpr int kDrawn = 1000;
    const QImage before = GrabOne(display, window);
    ASSERT_FALSE(before.isNull());
    EXPECT_LE(penPixels(before, 0, 720, 0), kStray) << "the picture has the pen's colour already";

    // Six regions of ten points: the overlay draws four of eight points each, picture after picture.
    EXPECT_EQ(session.Reply(SmartRule("six", 1, 0, 6, 10)).text.toStdString(),
              "{\"Chn\":0,\"Msg\":34,\"MsgID\":\"six\",\"Ret\":100,\"SubMsg\":1,\"WndNum\":0}\n");
    // Region i lies at 1000 + 600 i to 1100 + 600 i of 8192 down the picture, its points at 500 + 700 j across.
    auto row = [](int nOf8192) { return nOf8192 * 720 / 8192; };
    QImage shot;
    const bool bDrawn = WaitUntil(
        [&] {
            shot = GrabOne(display, window);
            for (int i = 0; i < 4; ++i) {
                if (penPixels(shot, row(1000 + 600 * i) - 3, row(1100 + 600 * i) + 4, 0) < kDrawn)
                    return false;
            }
            return true;
        },
        HostedPlugin::kWaitMs);
    EXPECT_TRUE(bDrawn) << "the four regions were not drawn";
    // Nothing of the fifth and sixth regions, nor of the ninth and tenth points (beyond 5400 across).
    EXPECT_LE(penPixels(shot, row(3300), 720, 0), kStray);
    EXPECT_LE(penPixels(shot, 0, 720, 5750 * 1280 / 8192), kStray);

    // The overlay is drawn over channel 0 only; switching it off is always accepted.
    EXPECT_EQ(session.Reply(SmartRule("one", 1, 1, 1, 3))["Ret"].asInt(), 1016);
    EXPECT_EQ(session.Reply(SmartRule("off", 0, 1, 1, 3))["Ret"].asInt(), 100);
    EXPECT_EQ(session.Reply(SmartRule("low8", 1, 256, 2, 4))["Ret"].asInt(), 100);
    ASSERT_TRUE(plugin.Finish());
    EXPECT_FALSE(plugin.Crashed());
}

TEST(ConsultKey, AFreshSecretKeyEachTimeThatNoLogHolds)
{
    LiveSession session;
    ASSERT_TRUE(session.Plugin().Start());
    QSet<QString> keys;
    for (int i = 0; i < 3; ++i) {
        const HostMessage reply = session.Reply(HostedPlugin::NewRequest(32, 0, "key" + std::to_string(i)));
        ASSERT_TRUE(reply);
        const std::string strKey = reply["key"]["key"].asString();
        EXPECT_EQ(reply.text.toStdString(), "{\"Msg\":32,\"MsgID\":\"key" + std::to_string(i) +
                                                "\",\"Ret\":100,\"SubMsg\":0,\"key\":{\"iv\":\"\",\"key\":" +
                                                Quoted(strKey) + "}}\n");
        ASSERT_EQ(strKey.size(), 16u);
        for (char c : strKey)
            EXPECT_TRUE(c >= '!' && c <= '~') << strKey;
        keys.insert(QString::fromStdString(strKey));
    }
    // Requests within the same second get keys of their own.
    EXPECT_EQ(keys.size(), 3);

    ASSERT_TRUE(session.Plugin().Finish());
    const QByteArray log = session.Plugin().App().LogFiles() + session.Plugin().Output();
    EXPECT_TRUE(log.contains("[CPluginManage::onMainMsgConsultAesKey]"));
    EXPECT_TRUE(log.contains(R"("key":{"iv":"","key":"***"})"));
    for (const QString &strKey : keys) {
        EXPECT_FALSE(log.contains(strKey.toUtf8())) << strKey.toStdString();
        EXPECT_FALSE(log.contains(QByteArray::fromStdString(Quoted(strKey.toStdString())))) << strKey.toStdString();
    }
}
