// Playback through the program's socket: recordings of the simulated device by time and by file list in one
// and four panes, speed and position, pane requests, and local files chosen with "Browse".

#include "tests/e2e/PlaybackFixture.h"
#include "tests/support/PavlineFixture.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace PlaybackE2e;

namespace {

// One "ChnStatus" object of a play-control reply.
std::string ControlStatus(int nChannel, int nRet, int nStatus, int nWnd, int nMode = 0)
{
    return "{\"Chn\":" + std::to_string(nChannel) + (nMode > 0 ? ",\"Mode\":" + std::to_string(nMode) : "") +
           ",\"Ret\":" + std::to_string(nRet) + ",\"Status\":" + std::to_string(nStatus) +
           ",\"Wnd\":" + std::to_string(nWnd) + "}";
}

std::string ControlReply(const char *pMsgId, int nCmd, const std::vector<std::string> &status)
{
    std::string strStatus;
    for (const std::string &s : status)
        strStatus += (strStatus.empty() ? "" : ",") + s;
    return Reply5(40, pMsgId, 100, "\"ChnStatus\":[" + strStatus + "],\"Cmd\":" + std::to_string(nCmd) + ",");
}

std::string TimeStatus(int nIndex, int nError, int nRet, int nWnd)
{
    return "{\"Chn\":" + std::to_string(nIndex) + ",\"Error\":" + std::to_string(nError) +
           ",\"Ret\":" + std::to_string(nRet) + ",\"Stream\":1,\"Wnd\":" + std::to_string(nWnd) + "}";
}

std::string PaneStatusReply(const char *pMsgId, int nChannel, int nWnd, int nStatus)
{
    return "{\"Data\":{\"Audio\":false,\"Chn\":" + std::to_string(nChannel) + ",\"Record\":false,\"Status\":" +
           std::to_string(nStatus) + ",\"Wnd\":" + std::to_string(nWnd) + ",\"Zoom\":false}," +
           Reply5(45, pMsgId, 100).substr(1);
}

std::string StartEvent(int nChannel, int nIndex, int nWnd, int nRet)
{
    return "{\"Data\":{\"Chn\":" + std::to_string(nChannel) + ",\"PlayIndex\":" + std::to_string(nIndex) +
           ",\"Stream\":1,\"Wnd\":" + std::to_string(nWnd) + "},\"Error\":0,\"MainEvent\":1,\"Ret\":" +
           std::to_string(nRet) + ",\"SubEvent\":1}\n";
}

std::string EndEvent(int nChannel, int nWnd)
{
    return "{\"Data\":{\"Chn\":" + std::to_string(nChannel) + ",\"Wnd\":" + std::to_string(nWnd) +
           "},\"MainEvent\":1,\"SubEvent\":2}\n";
}

std::string Text(const HostMessage &message) { return message.text.toStdString(); }

} // namespace

TEST_F(PlaybackTest, ByTimeInFourPanesReportsFractionsAndSeeks)
{
    ASSERT_TRUE(Open(4));
    EXPECT_EQ(Text(m_plugin.Request(PageMode("m", 2))), Reply5(36, "m", 100));

    const HostMessage reply = m_plugin.Request(ByTime("t", 0, {{0, 0, 60}, {1, 1, 60}, {2, 2, 60}, {3, 3, 60}}));
    EXPECT_EQ(Text(reply), Reply5(34, "t", 100,
                                  "\"ChnStatus\":[" + TimeStatus(0, 0, 100, 0) + "," + TimeStatus(1, 0, 100, 1) + "," +
                                      TimeStatus(2, 0, 100, 2) + "," + TimeStatus(3, 0, 100, 3) + "],\"Error\":0,"));
    const int nReply = IndexOfReply("t");
    // "SelectWnd" 0 becomes the current pane, which the page hears of.
    EXPECT_TRUE(WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 0) && m["Data"]["Wnd"] == 0; }));

    // Every pane reports the fraction of its recording shown.
    for (int nPane = 0; nPane < 4; ++nPane) {
        const HostMessage position = WaitAfter(nReply, [nPane](const HostMessage &m) {
            return IsEvent(m, 1, 3) && m["Data"]["wnd"] == nPane && m["Data"]["pos"].isDouble() &&
                   m["Data"]["pos"].asDouble() > 0;
        });
        ASSERT_TRUE(position) << nPane;
        EXPECT_LT(position["Data"]["pos"].asDouble(), 0.3) << nPane;
    }

    // A seek to the middle goes on from there: the next position past 0.3 is about 0.5.
    EXPECT_EQ(Text(m_plugin.Request(Control("k", 1, 4, 500))),
              ControlReply("k", 4, {ControlStatus(1, 100, 2, 1)}));
    const HostMessage sought = WaitAfter(IndexOfReply("k"), [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 1 && m["Data"]["pos"].asDouble() > 0.3;
    });
    ASSERT_TRUE(sought);
    EXPECT_GE(sought["Data"]["pos"].asDouble(), 0.45);
    EXPECT_LE(sought["Data"]["pos"].asDouble(), 0.65);

    // The status of a pane that plays, and of no channel.
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s2", 45, 2))), PaneStatusReply("s2", 2, 2, 2));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("sn", 45, -1))), PaneStatusReply("sn", -1, -1, 0));

    // Stopping every pane ends the four recordings; the panes then show nothing and stop reporting.
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("x", 35, -1))), Reply5(35, "x", 100, "\"Chn\":-1,", "", "\"Wnd\":-1"));
    EXPECT_EQ(Text(m_plugin.Request(Control("c", -1, 3))),
              ControlReply("c", 3, {ControlStatus(-1, 1016, 0, 0), ControlStatus(-1, 1016, 0, 1),
                                    ControlStatus(-1, 1016, 0, 2), ControlStatus(-1, 1016, 0, 3)}));
    EXPECT_TRUE(m_plugin.WaitForLog("ZDK_DEV_StopPlayBack lPlay="));
}

TEST_F(PlaybackTest, ByTimeInOnePaneOfASingleChannelDevice)
{
    ASSERT_TRUE(Open(1));
    EXPECT_EQ(Text(m_plugin.Request(PageMode("m", 2))), Reply5(36, "m", 100));
    EXPECT_EQ(Text(m_plugin.Request(ByTime("t", 0, {{0, 0, 2}}))),
              Reply5(34, "t", 100, "\"ChnStatus\":[" + TimeStatus(0, 0, 100, 0) + "],\"Error\":0,"));
    const int nReply = IndexOfReply("t");
    ASSERT_TRUE(WaitPosition(nReply, 0));
    // Delivered whole, the recording ends at once in this mode.
    const HostMessage end = WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 2); });
    ASSERT_TRUE(end);
    EXPECT_EQ(Text(end), EndEvent(0, 0));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s", 45, 0))), PaneStatusReply("s", 0, -1, 0));
}

TEST_F(PlaybackTest, ByTimeEntriesOutsideThePanesTouchNoPane)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    // Panes -1 and 4 do not exist; channel 9 is not on the device.
    const HostMessage reply = m_plugin.Request(ByTime("t", 5, {{0, 0, 60}, {1, -1, 60}, {2, 4, 60}, {9, 1, 60}}));
    ASSERT_TRUE(reply);
    const Json::Value &status = reply["ChnStatus"];
    ASSERT_EQ(status.size(), 4u);
    const int nDeviceError = status[3]["Error"].asInt();
    EXPECT_NE(nDeviceError, 0) << "the device's refusal comes with its error";
    EXPECT_EQ(Text(reply), Reply5(34, "t", 1016,
                                  "\"ChnStatus\":[" + TimeStatus(0, 0, 100, 0) + "," + TimeStatus(1, 0, 1016, -1) + "," +
                                      TimeStatus(2, 0, 1016, 4) + "," + TimeStatus(3, nDeviceError, 1016, 1) +
                                      "],\"Error\":0,"));
    const int nReply = IndexOfReply("t");
    // "SelectWnd" 5 is no pane: the current one is reported as it is, before the reply.
    ASSERT_GE(nReply, 1);
    const HostMessage current = m_plugin.Messages()[nReply - 1];
    EXPECT_TRUE(IsEvent(current, 1, 0) && current["Data"]["Wnd"] == 0) << Text(current);

    // Pane 0 plays; pane 1, whose recording was refused, shows nothing.
    const HostMessage position = WaitAfter(nReply, [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 0 && m["Data"]["pos"].asDouble() > 0;
    });
    ASSERT_TRUE(position);
    const HostMessage pane1 = WaitPosition(IndexOfReply("t"), 1, false);
    ASSERT_TRUE(pane1);
    EXPECT_FALSE(pane1["Data"].isMember("pos"));
    EXPECT_EQ(Text(m_plugin.Request(Control("c", -1, 2))),
              ControlReply("c", 2, {ControlStatus(0, 100, 4, 0), ControlStatus(-1, 1016, 2, 1),
                                    ControlStatus(-1, 1016, 2, 2), ControlStatus(-1, 1016, 2, 3)}));
    // A channel no pane shows: no pane is touched.
    EXPECT_EQ(Text(m_plugin.Request(Control("n", 7, 11))), ControlReply("n", 11, {ControlStatus(7, 1016, 2, -1)}));
}

TEST_F(PlaybackTest, SpeedSequencesStepThroughTheLevelsAndBack)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    ASSERT_EQ(m_plugin.Request(ByTime("t", 0, {{2, 0, 60}}))["Ret"].asInt(), 100);

    struct Step
    {
        int nCmd;
        int nStatus;
        int nMode;
    };
    const Step steps[] = {
        // Slower: 16, 17, 18, 19, then normal.
        {11, 5, 1}, {11, 5, 2}, {11, 5, 3}, {11, 5, 4}, {11, 2, 0},
        // Faster: 32, 33, 34, 35, then normal.
        {10, 6, 1}, {10, 6, 2}, {10, 6, 3}, {10, 6, 4}, {10, 2, 0},
        // From a slow level, faster starts at its first level.
        {11, 5, 1}, {10, 6, 1}, {3, 2, 0},
        {2, 4, 0}, {3, 2, 0}, {100, 7, 0}, {101, 8, 0}, {3, 2, 0},
    };
    int n = 0;
    for (const Step &step : steps) {
        const std::string strId = "c" + std::to_string(n++);
        EXPECT_EQ(Text(m_plugin.Request(Control(strId, 2, step.nCmd))),
                  ControlReply(strId.c_str(), step.nCmd, {ControlStatus(2, 100, step.nStatus, 0, step.nMode)}))
            << "step " << n;
    }
    // "Channel" -1 answers for the four panes.
    EXPECT_EQ(Text(m_plugin.Request(Control("all", -1, 11))),
              ControlReply("all", 11, {ControlStatus(2, 100, 5, 0, 1), ControlStatus(-1, 1016, 2, 1),
                                       ControlStatus(-1, 1016, 2, 2), ControlStatus(-1, 1016, 2, 3)}));
    // Any other command does nothing.
    EXPECT_EQ(Text(m_plugin.Request(Control("o", 2, 7))), ControlReply("o", 7, {ControlStatus(2, 1016, 5, 0, 1)}));
}

TEST_F(PlaybackTest, ByFileListPlaysEachFileInTurnInOnePane)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 1)));
    const HostMessage reply = m_plugin.Request(ByFile("f", 0, 2, {2, 2}));
    EXPECT_EQ(Text(reply), Reply5(34, "f", 100, "\"Error\":0,"));
    const int nReply = IndexOfReply("f");
    // The start event goes out before the reply.
    const QList<HostMessage> messages = m_plugin.Messages();
    ASSERT_GE(nReply, 1);
    EXPECT_EQ(Text(messages[nReply - 1]), StartEvent(2, 0, 0, 100));

    // One pane: the position in thousandths of the file.
    const HostMessage position = WaitAfter(nReply, [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["pos"].isInt() && m["Data"]["pos"].asInt() > 0;
    });
    ASSERT_TRUE(position);
    EXPECT_EQ(position["Data"]["wnd"].asInt(), 0);
    EXPECT_LE(position["Data"]["pos"].asInt(), 1000);

    // The first file ends once its pictures are shown, and the second follows.
    const HostMessage end1 = WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 2); });
    ASSERT_TRUE(end1);
    EXPECT_EQ(Text(end1), EndEvent(2, 0));
    const HostMessage start2 = WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 1); });
    ASSERT_TRUE(start2);
    EXPECT_EQ(Text(start2), StartEvent(2, 1, 0, 100));
    ASSERT_TRUE(WaitForNth(nReply, 2, [](const HostMessage &m) { return IsEvent(m, 1, 2); }));
    EXPECT_TRUE(m_plugin.WaitForLog("end lPlay["));
    // The list is done: no pane shows the channel any more.
    EXPECT_EQ(Text(m_plugin.Request(Control("c", 2, 2))), ControlReply("c", 2, {ControlStatus(2, 1016, 2, -1)}));
}

TEST_F(PlaybackTest, ByFileIntoAPaneOfFourAndOutsideThem)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    EXPECT_EQ(m_plugin.Request(ByFile("f3", 3, 1, {60}))["Ret"].asInt(), 100);
    EXPECT_EQ(Text(m_plugin.Messages()[IndexOfReply("f3") - 1]), StartEvent(1, 0, 3, 100));
    for (int nWnd : {4, -1}) {
        const std::string strId = "w" + std::to_string(nWnd);
        const HostMessage reply = m_plugin.Request(ByFile(strId, nWnd, 0, {60}));
        EXPECT_EQ(Text(reply), Reply5(34, strId.c_str(), 1016, "\"Error\":0,")) << nWnd;
        EXPECT_EQ(Text(m_plugin.Messages()[IndexOfReply(strId) - 1]), StartEvent(0, 0, nWnd, 1016)) << nWnd;
    }
    // Pane 3 still plays its file.
    const HostMessage position = WaitAfter(IndexOfReply("w-1"), [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 3 && m["Data"]["pos"].asDouble() > 0;
    });
    EXPECT_TRUE(position);
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s", 45, 1))), PaneStatusReply("s", 1, 3, 2));
    // Stopping one channel reports its pane.
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("x", 35, 1))), Reply5(35, "x", 100, "\"Chn\":1,", "", "\"Wnd\":3"));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s2", 45, 1))), PaneStatusReply("s2", 1, -1, 0));
}

TEST_F(PlaybackTest, PaneSnapshotSoundZoomAndClip)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    ASSERT_EQ(m_plugin.Request(ByTime("t", 0, {{3, 0, 60}}))["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitAfter(IndexOfReply("t"), [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 0 && m["Data"]["pos"].asDouble() > 0;
    }));
    const QDir app(m_plugin.App().Path());
    const std::string strCapture = QDir::toNativeSeparators(app.filePath("Device/Capture")).toStdString();
    const std::string strRecord = QDir::toNativeSeparators(app.filePath("Device/Record")).toStdString();

    EXPECT_EQ(Text(m_plugin.Request(ForChannel("p", 41, 3))),
              Reply5(41, "p", 100, "\"CapPath\":\"" + strCapture + "\",\"Chn\":3,", "", "\"Wnd\":0"));
    EXPECT_EQ(QDir(QString::fromStdString(strCapture)).entryList({"04_*.bmp"}, QDir::Files).size(), 1);
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("p2", 41, 2))),
              Reply5(41, "p2", 1016, "\"CapPath\":\"" + strCapture + "\",\"Chn\":2,", "", "\"Wnd\":-1"));

    EXPECT_EQ(Text(m_plugin.Request(ForChannel("a", 42, 3))), Reply5(42, "a", 100, "\"Audio\":true,\"Chn\":3,", "", "\"Wnd\":0"));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("a2", 42, 3))), Reply5(42, "a2", 100, "\"Audio\":false,\"Chn\":3,", "", "\"Wnd\":0"));

    EXPECT_EQ(Text(m_plugin.Request(ForChannel("z", 43, 3))), Reply5(43, "z", 100, "\"Chn\":3,", "", "\"Wnd\":0,\"Zoom\":true"));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("z2", 43, 3))), Reply5(43, "z2", 100, "\"Chn\":3,", "", "\"Wnd\":0,\"Zoom\":false"));

    EXPECT_EQ(Text(m_plugin.Request(ForChannel("r", 44, 3))),
              Reply5(44, "r", 100, "\"Chn\":3,", "\"RecPath\":\"" + strRecord + "\",\"Record\":true,", "\"Wnd\":0"));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("r2", 44, 3))),
              Reply5(44, "r2", 100, "\"Chn\":3,", "\"RecPath\":\"" + strRecord + "\",\"Record\":false,", "\"Wnd\":0"));
    EXPECT_EQ(QDir(QString::fromStdString(strRecord)).entryList({"04_*.h265x"}, QDir::Files).size(), 1);
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("r3", 44, -1))),
              Reply5(44, "r3", 1016, "\"Chn\":-1,", "\"RecPath\":\"" + strRecord + "\",\"Record\":false,", "\"Wnd\":-1"));
}

TEST_F(PlaybackTest, ALateEndOfTheLastRecordingLeavesTheNewOnePlaying)
{
    ASSERT_TRUE(Open(kHoldingChannels));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    // The 1 s recording is delivered whole while the snapshot of a closed channel holds the request thread, so
    // that its end report is handled only after channel 3 has taken the pane.
    m_plugin.Send(ByTime("t1", 0, {{0, 0, 1}}));
    m_plugin.Send(HoldingRequest("slow"));
    m_plugin.Send(ByTime("t2", 0, {{3, 0, 30}}));
    EXPECT_EQ(m_plugin.WaitReply("t1")["Ret"].asInt(), 100);
    ASSERT_TRUE(m_plugin.WaitReply("slow"));
    EXPECT_EQ(m_plugin.WaitReply("t2")["Ret"].asInt(), 100);
    ExpectPlaysOn(IndexOfReply("t2"), 3, 0, 5, 30);
}

class LocalFilePlayback : public PlaybackTest
{
protected:
    // A block file of nFrames pictures at 10 per second.
    QString BlockFile(int nFrames)
    {
        const QString strPath = m_dir.filePath("local.h265x");
        auto loop = PavlineTest::PatternLoop(2, 320, 180, 10);
        EXPECT_TRUE(PavlineTest::WriteFile(strPath.toStdString(),
                                           PavlineTest::Join(PavlineTest::Blocks(*loop, nFrames, 1700000000000LL))));
        return strPath;
    }

    QTemporaryDir m_dir;
};

TEST_F(LocalFilePlayback, PlaysAChosenFileToItsEndAndSeeksByThousandths)
{
    ASSERT_TRUE(m_plugin.App().WriteBrowse({BlockFile(41).toUtf8()}));
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 0)));
    EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 33, "f"))), Reply5(33, "f", 100, "", "", "\"Wnd\":0"));
    EXPECT_EQ(m_plugin.App().BrowseStarts(), QStringList{"3 1"});

    // Paused and sent to the middle, the file shows the picture there: 500 thousandths, not its start.
    EXPECT_EQ(Text(m_plugin.Request(Control("p", 0, 2))), ControlReply("p", 2, {ControlStatus(0, 100, 4, 0)}));
    EXPECT_EQ(Text(m_plugin.Request(Control("k", 0, 4, 500))), ControlReply("k", 4, {ControlStatus(0, 100, 4, 0)}));
    const HostMessage sought = WaitAfter(IndexOfReply("k"), [](const HostMessage &m) {
        return IsEvent(m, 1, 3) && m["Data"]["pos"].isInt() && m["Data"]["pos"].asInt() >= 400;
    });
    ASSERT_TRUE(sought);
    EXPECT_LE(sought["Data"]["pos"].asInt(), 600);
    EXPECT_EQ(sought["Data"]["wnd"].asInt(), 0);

    // Played on, it ends once.
    EXPECT_EQ(Text(m_plugin.Request(Control("r", 0, 3))), ControlReply("r", 3, {ControlStatus(0, 100, 2, 0)}));
    const HostMessage end = WaitAfter(IndexOfReply("r"), [](const HostMessage &m) { return IsEvent(m, 1, 2); });
    ASSERT_TRUE(end);
    EXPECT_EQ(Text(end), EndEvent(0, 0));
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s", 45, 0))), PaneStatusReply("s", 0, -1, 0));

    // No other pane plays: no position follows the end (the window timer would have ticked twice by the third
    // load report).
    const int nLoad = m_plugin.LoadEvents().size();
    ASSERT_TRUE(WaitUntil([&] { return m_plugin.LoadEvents().size() >= nLoad + 3; }, HostedPlugin::kWaitMs));
    bool bAfterEnd = false;
    for (const HostMessage &m : m_plugin.Messages()) {
        bAfterEnd = bAfterEnd || IsEvent(m, 1, 2);
        EXPECT_FALSE(bAfterEnd && IsEvent(m, 1, 3)) << Text(m);
    }
}

TEST_F(LocalFilePlayback, ChooserOutcomes)
{
    struct Case
    {
        const char *pName;
        BrowseBehaviour behaviour;
        bool bMissing;
        std::string strReply;
    };
    const QString strNotMedia = m_dir.filePath("notes.txt");
    QFile notes(strNotMedia);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a recording\n");
    notes.close();
    const Case cases[] = {
        {"nothing", {""}, false, Reply5(33, "c", 1016, "", "\"Path\":\"\",")},
        {"a non-zero exit", {"/tmp/x.h265x", false, 1}, false, Reply5(33, "c", 1016)},
        {"a crash", {"/tmp/x.h265x", false, 0, true}, false, Reply5(33, "c", 1016)},
        {"not executable", {"/tmp/x.h265x", false, 0, false, false, false}, false, Reply5(33, "c", 1016)},
        {"missing", {}, true, Reply5(33, "c", 1016)},
        {"a file that does not play", {strNotMedia.toUtf8()}, false, Reply5(33, "c", 1016, "", "", "\"Wnd\":0")},
    };
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 0)));
    for (const Case &c : cases) {
        if (c.bMissing)
            m_plugin.App().RemoveBrowse();
        else
            ASSERT_TRUE(m_plugin.App().WriteBrowse(c.behaviour)) << c.pName;
        EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 33, "c"))), c.strReply) << c.pName;
    }
    // Each request was answered once.
    ASSERT_TRUE(m_plugin.Sync());
    int nAnswers = 0;
    for (const HostMessage &m : m_plugin.Messages())
        nAnswers += m["Msg"] == 5 && m["SubMsg"] == 33;
    EXPECT_EQ(nAnswers, static_cast<int>(std::size(cases)));
}

// A "SelectWnd" that names no pane (4, 5 or -1) leaves the current pane as it is and reports it.
TEST_F(PlaybackTest, ASelectedWindowBeyondThePanesReportsTheCurrentPane)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 2)));
    for (int nSelectWnd : {4, 5, -1}) {
        SCOPED_TRACE(nSelectWnd);
        const int nBefore = m_plugin.Messages().size() - 1;
        ASSERT_EQ(m_plugin.Request(ByTime("t", nSelectWnd, {{0, 1, 60}}))["Ret"].asInt(), 100);
        const HostMessage current = WaitAfter(nBefore, [](const HostMessage &m) { return IsEvent(m, 1, 0); });
        ASSERT_TRUE(current);
        EXPECT_EQ(current["Data"]["Wnd"].asInt(), 0) << Text(current);
    }
}

TEST_F(LocalFilePlayback, ALateEndOfALocalFileLeavesTheRecordingThatFollows)
{
    ASSERT_TRUE(m_plugin.App().WriteBrowse({BlockFile(10).toUtf8()}));
    ASSERT_TRUE(Open(kHoldingChannels));
    ASSERT_TRUE(m_plugin.Request(PageMode("m", 0)));
    EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 33, "f"))), Reply5(33, "f", 100, "", "", "\"Wnd\":0"));
    // The file (1 s) ends while the request thread is held; by then a recording has been asked for in its pane.
    m_plugin.Send(PageMode("m2", 2));
    m_plugin.Send(HoldingRequest("slow"));
    m_plugin.Send(ByTime("t", 0, {{3, 0, 30}}));
    ASSERT_TRUE(m_plugin.WaitReply("slow"));
    EXPECT_EQ(m_plugin.WaitReply("t")["Ret"].asInt(), 100);
    ExpectPlaysOn(IndexOfReply("t"), 3, 0, 5, 30);
}
