// CQZConnect's playback and download calls: the records the library receives, the play-control commands each
// state change sends, and the callbacks that carry the pane record back.

#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/LogCapture.h"

#include <QFileInfo>

#include <cstring>

namespace {

const char *kDevice = R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
  "Main": {"Codec": "H.265", "Width": 352, "Height": 288, "FrameRate": 25},
  "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 25}}])";

PlaybackFileEntry Entry(const char *pBegin, const char *pEnd)
{
    PlaybackFileEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.Channel = 3;      // not read: the channel comes on its own
    entry.Stream = 1;
    FixedText::Copy(entry.BeginTime, QByteArray(pBegin));
    FixedText::Copy(entry.EndTime, QByteArray(pEnd));
    FixedText::Copy(entry.Reserved1, QByteArray("first reserved"));
    FixedText::Copy(entry.Reserved2, QByteArray("second reserved text that is longer than the field keeps"));
    entry.FileLength = 0x00ABCDEF;
    FixedText::Copy(entry.FileName, QByteArray("/idea0/2021-03-04/003/05.06.07-06.07.08[R][@2][0].h264"));
    entry.Wnd = 2;
    entry.FileType = 4;
    return entry;
}

// The playback data callback as the request handler's: the user value is the pane record.
struct PaneProbe
{
    std::mutex mutex;
    std::vector<int> panes;
    std::vector<int> positionPanes;
};
PaneProbe *g_pPanes = nullptr;

int32_t PaneData(int32_t, int32_t, const unsigned char *, uint32_t, void *pUser)
{
    const PlayUserRecord *pRecord = static_cast<const PlayUserRecord *>(pUser);
    if (!pRecord || pRecord->Pane < 0)
        return -1;
    std::lock_guard<std::mutex> lock(g_pPanes->mutex);
    g_pPanes->panes.push_back(pRecord->Pane);
    return 1;
}

void PanePos(int32_t, int32_t, int32_t, void *pUser)
{
    std::lock_guard<std::mutex> lock(g_pPanes->mutex);
    g_pPanes->positionPanes.push_back(static_cast<const PlayUserRecord *>(pUser)->Pane);
}

} // namespace

class CQZConnectPlayback : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevice);
        m_lLogin = LoginBuiltIn();
        g_pPanes = &m_panes;
    }
    void TearDown() override
    {
        KorvexFixture::TearDown();
        g_pPanes = nullptr;
    }

    CQZConnect m_conn;
    int m_lLogin = 0;
    PaneProbe m_panes;
    PlayUserRecord m_record{2, 1, 0, 0};
};

TEST_F(CQZConnectPlayback, ByTimeFillsTheFindRecord)
{
    LogCapture log;
    const PlaybackFileEntry entry = Entry("2021-03-04 05:06:07", "2021-03-04 06:07:08");
    int nError = 0;
    const int lPlay = m_conn.BeginPlayback(m_lLogin, 2, 2, entry, &PaneData, &PanePos, &m_record, nError);
    ASSERT_GT(lPlay, 0);
    EXPECT_EQ(nError, 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_PlayBackByTimeEx"),
              std::vector<std::string>{"ZDK_DEV_PlayBackByTimeEx login=" + std::to_string(m_lLogin) +
                                       " channel=2 type=4 begin=2021-03-04T05:06:07 end=2021-03-04T06:07:08"
                                       " stream=1 text1=first reserved text2=second reserved text that is lo"});
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(m_panes.mutex);
        return m_panes.panes.size() >= 3;
    }));
    {
        std::lock_guard<std::mutex> lock(m_panes.mutex);
        ASSERT_GE(m_panes.panes.size(), 3u);
        EXPECT_EQ(m_panes.panes.front(), 1) << "the pane record comes back";
    }
    EXPECT_EQ(m_conn.EndPlayback(lPlay), 1);
    EXPECT_TRUE(log.WaitFor("ZDK_DEV_StopPlayBack lPlay=" + QString::number(lPlay) + " bResult=1"));
    EXPECT_TRUE(log.Contains(QString("ZDK_DEV_PlayBackByTimeEx lLogin=%1 lPlay=%2").arg(m_lLogin).arg(lPlay)));
    EXPECT_TRUE(log.Contains("ZDK_DEV_StopPlayBack lPlay=" + QString::number(lPlay)));
}

TEST_F(CQZConnectPlayback, ByNameFillsTheFileRecord)
{
    LogCapture log;
    const PlaybackFileEntry entry = Entry("2021-03-04 10:00:00", "2021-03-04 10:00:01");
    int nError = 0;
    const int lPlay = m_conn.BeginPlayback(m_lLogin, 1, 1, entry, &PaneData, &PanePos, &m_record, nError);
    ASSERT_GT(lPlay, 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_PlayBackByName"),
              std::vector<std::string>{"ZDK_DEV_PlayBackByName login=" + std::to_string(m_lLogin) +
                                       " channel=1 length=11259375"
                                       " name=/idea0/2021-03-04/003/05.06.07-06.07.08[R][@2][0].h264"
                                       " begin=2021-03-04T10:00:00 end=2021-03-04T10:00:01 unused=0/0 stream=1"});
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 4, 0), 0);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(m_panes.mutex);
        return !m_panes.positionPanes.empty();
    }));
    // The playback at its end goes on waiting: a while more brings no second report.
    RunLibraryFor(500);
    {
        std::lock_guard<std::mutex> lock(m_panes.mutex);
        EXPECT_EQ(m_panes.positionPanes, std::vector<int>{1}) << "one end report with the pane record";
    }
    EXPECT_TRUE(log.WaitFor(QString("ZDK_DEV_PlayBackByName lLogin=%1 lPlay=%2").arg(m_lLogin).arg(lPlay)));
    m_conn.EndPlayback(lPlay);
}

TEST_F(CQZConnectPlayback, RefusedPlaybacks)
{
    LogCapture log;
    KorvexControl::ClearJournal();
    int nError = 0;
    PlaybackFileEntry entry = Entry("", "2021-03-04 10:00:01");
    EXPECT_EQ(m_conn.BeginPlayback(m_lLogin, 1, 1, entry, &PaneData, &PanePos, &m_record, nError), -1)
        << "by name without a start time";
    entry = Entry("2021-03-04 10:00:00", "2021-03-04 10:00:01");
    for (int nKind : {0, 3, -1})
        EXPECT_EQ(m_conn.BeginPlayback(m_lLogin, 1, nKind, entry, &PaneData, &PanePos, &m_record, nError), -1);
    EXPECT_EQ(nError, 0);
    EXPECT_TRUE(KorvexControl::Journal().empty()) << "none of these reaches the library";

    // The device refuses: the library's error goes to the error out.
    EXPECT_EQ(m_conn.BeginPlayback(m_lLogin, 9, 2, entry, &PaneData, &PanePos, &m_record, nError), 0);
    EXPECT_EQ(nError, ZDK_ERR_NO_CHANNEL);
    entry = Entry("2021-03-04 10:00:00", "");
    nError = 0;
    EXPECT_EQ(m_conn.BeginPlayback(m_lLogin, 1, 1, entry, &PaneData, &PanePos, &m_record, nError), 0);
    EXPECT_EQ(nError, ZDK_ERR_ILLEGAL_PARAM);
    EXPECT_TRUE(log.WaitFor(QString("ZDK_DEV_PlayBackByName lLogin=%1 nError=%2").arg(m_lLogin).arg(ZDK_ERR_ILLEGAL_PARAM)));
    EXPECT_TRUE(log.Contains(QString("ZDK_DEV_PlayBackByTimeEx lLogin=%1 nError=%2").arg(m_lLogin).arg(ZDK_ERR_NO_CHANNEL)));
}

TEST_F(CQZConnectPlayback, PlayControlSendsWhatTheChangeNeeds)
{
    const PlaybackFileEntry entry = Entry("2021-03-04 10:00:00", "2021-03-04 11:00:00");
    int nError = 0;
    const int lPlay = m_conn.BeginPlayback(m_lLogin, 0, 2, entry, &PaneData, &PanePos, &m_record, nError);
    ASSERT_GT(lPlay, 0);
    using Commands = std::vector<std::pair<int, int>>;
    struct Case
    {
        int nNew, nCur;
        Commands commands;
        int nResult;
        bool bFailFirst;
    };
    const Case cases[] = {
        {32, 0, {{3, 1}}, 32, false},
        {35, 16, {{3, 4}}, 35, false},
        {16, 0, {{4, 1}}, 16, false},
        {19, 32, {{4, 4}}, 19, false},
        {0, 34, {{3, 0}}, 0, false},            // back to normal from fast 3: command 3 with 0, not command 1
        {0, 17, {{4, 0}}, 0, false},
        {0, 2, {{1, 0}}, 0, false},
        {0, 0, {{1, 0}}, 0, false},
        {2, 0, {}, 0, false},                   // pause at normal speed: the device is not told
        {2, 33, {{3, 0}, {0, 0}}, 2, false},
        {2, 18, {{4, 0}, {0, 0}}, 2, false},
        {48, 0, {}, 0, false},
        {1, 32, {}, 32, false},
        {32, 0, {{3, 1}}, 0, true},             // a refused command leaves the current state
        {2, 33, {{3, 0}}, 33, true},            // and nothing follows it
        {0, 35, {{3, 0}}, 35, true},
    };
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        if (c.bFailFirst)
            KorvexControl::FailNextCall("ZDK_DEV_PlayBackControl", -10000);
        EXPECT_EQ(m_conn.PlayBackControl(lPlay, c.nNew, c.nCur), c.nResult) << c.nNew << " from " << c.nCur;
        std::vector<std::string> expected;
        for (const auto &command : c.commands)
            expected.push_back("ZDK_DEV_PlayBackControl play=" + std::to_string(lPlay) + " cmd=" +
                               std::to_string(command.first) + " value=" + std::to_string(command.second) + " 0");
        EXPECT_EQ(KorvexControl::Journal(), expected) << c.nNew << " from " << c.nCur;
    }

    KorvexControl::ClearJournal();
    EXPECT_TRUE(m_conn.PlayBackSeek(lPlay, 20));
    EXPECT_FALSE(m_conn.PlayBackSeek(lPlay, 3600)) << "past the span";
    EXPECT_EQ(KorvexControl::Journal().front(),
              "ZDK_DEV_PlayBackControl play=" + std::to_string(lPlay) + " cmd=2 value=20 0");
    EXPECT_EQ(m_conn.EndPlayback(lPlay), 1);
    EXPECT_EQ(m_conn.EndPlayback(lPlay), 0);
}

TEST_F(CQZConnectPlayback, DownloadFillsTheFileRecord)
{
    LogCapture log;
    KorvexControl::SetDownloadSpeed(0);
    DownloadFileEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.Channel = 1;
    entry.FileLength = 0x10;
    FixedText::Copy(entry.FileName, QByteArray("a.h264"));
    FixedText::Copy(entry.BeginTime, QByteArray("2021-03-04 05:06:07"));
    FixedText::Copy(entry.EndTime, QByteArray("2021-03-04 05:06:09"));
    entry.Stream = 1;
    const QByteArray baPath = TempPath("02_2021-03-04_050607_050609.h265x").toLocal8Bit();
    BlockSink sink;
    const StreamsStop stop;
    const int lDown = m_conn.StartDownLoad(m_lLogin, entry, baPath.constData(), &BlockSink::OnPos, &sink);
    ASSERT_GT(lDown, 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_DownloadByName"),
              std::vector<std::string>{"ZDK_DEV_DownloadByName login=" + std::to_string(m_lLogin) +
                                       " channel=1 length=16 name=a.h264 begin=2021-03-04T05:06:07"
                                       " end=2021-03-04T05:06:09 unused=0/0 stream=1 path=" +
                                       baPath.toStdString() + " 0"});
    ASSERT_TRUE(WaitUntil([&] { return !sink.Positions().empty() && sink.Positions().back().nPos == -1; }));
    EXPECT_GT(QFileInfo(QString::fromLocal8Bit(baPath)).size(), 0);
    EXPECT_TRUE(m_conn.StopDownLoad(lDown));

    KorvexControl::ClearJournal();
    EXPECT_FALSE(m_conn.StopDownLoad(0));
    EXPECT_TRUE(KorvexControl::Journal().empty()) << "handle 0 is not passed on";
    EXPECT_FALSE(m_conn.StopDownLoad(lDown));

    EXPECT_EQ(m_conn.StartDownLoad(m_lLogin, entry, TempPath("missing/dir/x").toLocal8Bit().constData(),
                                   &BlockSink::OnPos, &sink),
              0);
    EXPECT_TRUE(log.WaitFor(QString("LastError:%1").arg(ZDK_ERR_FILE_OPEN)));
}
