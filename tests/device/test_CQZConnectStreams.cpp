// CQZConnect's live streams, playback and download calls against the simulated device library: what reaches
// the library (its journal), what comes back, the log lines, and the mends of the data callback contract.

#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/LogCapture.h"

#include <cstring>

namespace {

const char *kDevice = R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
  "Main": {"Codec": "H.265", "Width": 352, "Height": 288, "FrameRate": 25},
  "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 25}}])";

// A V2 callback as the live page's: the user value is the channel, and channel 0 is a channel.
struct ChannelProbe
{
    std::mutex mutex;
    std::vector<int> channels;
    std::atomic<int> nDropped{0};
};
ChannelProbe *g_pProbe = nullptr;

int32_t ChannelCallbackV2(int32_t, const RealDataFrame *, void *pUser)
{
    const int nChannel = CQZConnect::UserChannel(pUser);
    if (nChannel < 0) {
        ++g_pProbe->nDropped;
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_pProbe->mutex);
    g_pProbe->channels.push_back(nChannel);
    return 1;
}

int32_t ChannelCallbackV1(int32_t, int32_t, const unsigned char *, uint32_t, void *pUser)
{
    return ChannelCallbackV2(0, nullptr, pUser);
}

} // namespace

class CQZConnectStreams : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevice);
        m_lLogin = LoginBuiltIn();
        g_pProbe = &m_probe;
    }
    void TearDown() override
    {
        KorvexFixture::TearDown();
        g_pProbe = nullptr;
    }
    size_t ChannelCalls()
    {
        std::lock_guard<std::mutex> lock(m_probe.mutex);
        return m_probe.channels.size();
    }
    bool WaitForChannelCalls(size_t n)
    {
        return WaitUntil([&] { return ChannelCalls() >= n; });
    }

    CQZConnect m_conn;
    int m_lLogin = 0;
    ChannelProbe m_probe;
};

TEST(CQZConnectUserChannel, RangeNotZero)
{
    const struct
    {
        intptr_t nUser;
        int nChannel;
    } cases[] = {{0, 0}, {1, 1}, {63, 63}, {64, -1}, {-1, -1}, {256, -1}, {0x7f0000001000, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(CQZConnect::UserChannel(reinterpret_cast<void *>(c.nUser)), c.nChannel) << c.nUser;
}

TEST_F(CQZConnectStreams, LiveChannelZeroDeliversAndStops)
{
    LogCapture log;
    KorvexControl::ClearJournal();
    const int lPlay = m_conn.ConnectChanel_V2(m_lLogin, 0, 1, &ChannelCallbackV2, ZDK_ChannelToUser(0));
    ASSERT_GT(lPlay, 0);
    const std::string strLogin = std::to_string(m_lLogin), strPlay = std::to_string(lPlay);
    EXPECT_EQ(KorvexControl::Journal(),
              (std::vector<std::string>{
                  "ZDK_DEV_RealPlay login=" + strLogin + " channel=0 stream=1 mode=0 rest=0/0/0 reserved=null",
                  "ZDK_DEV_SetRealDataCallBack_V2 play=" + strPlay,
                  "ZDK_DEV_SetStreamOption login=" + strLogin + " channel=0 stream=1"}));
    ASSERT_TRUE(WaitForChannelCalls(5));
    EXPECT_EQ(m_probe.nDropped.load(), 0) << "channel 0's blocks are not dropped";

    KorvexControl::ClearJournal();
    EXPECT_EQ(m_conn.DisconnectChannel_V2(lPlay, &ChannelCallbackV2, ZDK_ChannelToUser(0)), 1);
    EXPECT_EQ(KorvexControl::Journal(), (std::vector<std::string>{"ZDK_DEV_DelRealDataCallBack_V2 play=" + strPlay,
                                                                   "ZDK_DEV_StopRealPlay play=" + strPlay + " 0"}));
    const size_t nAfter = ChannelCalls();
    RunLibraryFor(300);
    EXPECT_EQ(ChannelCalls(), nAfter);
    EXPECT_TRUE(log.WaitFor("ZDK_DEV_StopRealPlay lPlay=" + QString::number(lPlay) + " end bRes=1"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_RealPlay lPlayOK=" + QString::number(lPlay) + " bRet=1 bRet1=1"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_DelRealDataCallBack_V2 begin lPlay=" + QString::number(lPlay)));
    EXPECT_TRUE(log.Contains("ZDK_DEV_DelRealDataCallBack_V2 end lPlay=" + QString::number(lPlay) + " bRes=1"));
}

TEST_F(CQZConnectStreams, LiveV1Form)
{
    LogCapture log;
    const int lPlay = m_conn.ConnectChanel(m_lLogin, 3, 0, &ChannelCallbackV1, ZDK_ChannelToUser(3));
    ASSERT_GT(lPlay, 0);
    ASSERT_TRUE(WaitForChannelCalls(3));
    {
        std::lock_guard<std::mutex> lock(m_probe.mutex);
        EXPECT_EQ(m_probe.channels.front(), 3);
    }
    KorvexControl::ClearJournal();
    EXPECT_EQ(m_conn.DisconnectChannel(lPlay, &ChannelCallbackV1, ZDK_ChannelToUser(3)), 1);
    const std::string strPlay = std::to_string(lPlay);
    EXPECT_EQ(KorvexControl::Journal(), (std::vector<std::string>{"ZDK_DEV_DelRealDataCallBack play=" + strPlay,
                                                                   "ZDK_DEV_StopRealPlay play=" + strPlay + " 0"}));
    EXPECT_TRUE(log.WaitFor("ZDK_DEV_StopRealPlay lPlay=" + QString::number(lPlay) + " bRes=1"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_RealPlay lPlayOK=" + QString::number(lPlay)));
    EXPECT_TRUE(m_conn.SetStreamOpt(m_lLogin, 3, 1));
    EXPECT_FALSE(m_conn.SetStreamOpt(m_lLogin, 9, 1));
}

TEST_F(CQZConnectStreams, RefusedStreamStart)
{
    LogCapture log;
    // The device refuses the channel: V1 passes the library's 0 through, V2 its negative last error.
    EXPECT_EQ(m_conn.ConnectChanel(m_lLogin, 9, 0, &ChannelCallbackV1, nullptr), 0);
    EXPECT_EQ(m_conn.ConnectChanel_V2(m_lLogin, 9, 0, &ChannelCallbackV2, nullptr), ZDK_ERR_NO_CHANNEL);
    EXPECT_TRUE(log.WaitFor("[ERROR] [CQZConnect::ConnectChanel_V2]"));
    EXPECT_TRUE(log.Contains("[NORMAL] [CQZConnect::ConnectChanel]"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_RealPlay error=-10009"));
    EXPECT_EQ(KorvexControl::OpenStreams(), 0);
}

TEST_F(CQZConnectStreams, StreamWithoutItsCallbackIsStoppedAndFails)
{
    LogCapture log;
    for (bool bV2 : {false, true}) {
        KorvexControl::ClearJournal();
        KorvexControl::FailNextCall(bV2 ? "ZDK_DEV_SetRealDataCallBack_V2" : "ZDK_DEV_SetRealDataCallBack", -10000);
        const int nResult = bV2 ? m_conn.ConnectChanel_V2(m_lLogin, 1, 1, &ChannelCallbackV2, ZDK_ChannelToUser(1))
                                : m_conn.ConnectChanel(m_lLogin, 1, 1, &ChannelCallbackV1, ZDK_ChannelToUser(1));
        EXPECT_EQ(nResult, -10000) << (bV2 ? "V2" : "V1");
        EXPECT_EQ(KorvexControl::OpenStreams(), 0) << "the stream was stopped";
        const std::vector<std::string> journal = KorvexControl::Journal();
        ASSERT_EQ(journal.size(), 3u);
        EXPECT_EQ(journal[2].rfind("ZDK_DEV_StopRealPlay play=", 0), 0u) << journal[2];
        EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_SetStreamOption").empty());
    }
    EXPECT_TRUE(log.WaitFor("ZDK_DEV_SetRealDataCallBack_V2 failed"));
    EXPECT_FALSE(log.Contains("lPlayOK"));
}
