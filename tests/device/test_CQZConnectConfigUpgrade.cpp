// CQZConnect's firmware upgrades against the simulated device: the calls made, the result codes (-512 gives
// 1007, other errors the device-error map), progress on a library thread to a final state, and closing.

#include "device/CQZConnect.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 2,
   "NewVersions": [{"Name": "X_V2_V1.0.3.1", "Date": "2024-6-1", "Size": 4000}]}
])";

struct Progress
{
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::vector<int32_t>> reports;   // value, handle, total, sent
    bool bOtherThread = true;
    std::thread::id caller = std::this_thread::get_id();

    static void OnProgress(int32_t nValue, int32_t lHandle, int32_t nTotal, int32_t nSent, void *pUser)
    {
        auto *p = static_cast<Progress *>(pUser);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->reports.push_back({nValue, lHandle, nTotal, nSent});
        p->bOtherThread = p->bOtherThread && std::this_thread::get_id() != p->caller;
        p->cv.notify_all();
    }
    // Waits for the report with a final state.
    std::vector<int32_t> WaitForFinal()
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(20), [this] {
            return !reports.empty() && reports.back()[0] != ZDK_UPGRADE_RUNNING;
        });
        return reports.empty() ? std::vector<int32_t>{} : reports.back();
    }
};

} // namespace

class CQZConnectUpgrade : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
        m_lLogin = LoginBuiltIn();
        // A path in UTF-8, as the page gives it.
        m_strFirmware = TempPath(QString::fromUtf8("Firmware_\xc3\xbc.bin"));
        QFile file(m_strFirmware);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2500, 'F'));
        KorvexControl::ClearJournal();
    }
    int32_t m_lLogin = 0;
    QString m_strFirmware;
};

TEST_F(CQZConnectUpgrade, StartsReportAndClose)
{
    struct Case
    {
        const char *pWhat;
        bool bLocal;
        QString strVersion;
        std::string strJournal;
        int32_t nTotal;
    };
    const std::string strLogin = std::to_string(m_lLogin);
    const Case cases[] = {
        {"local", true, "", "ZDK_DEV_StartLocalUpgrade login=" + strLogin + " path=" + m_strFirmware.toStdString() + " type=1", 2500},
        {"online", false, "X_V2_V1.0.3.1", "ZDK_DEV_StartOnlineUpgrade login=" + strLogin + " version=X_V2_V1.0.3.1 type=0", 4000},
        {"online before any check", false, "", "ZDK_DEV_StartOnlineUpgrade login=" + strLogin + " version= type=0", 4000},
    };
    LogCapture log;
    CQZConnect conn;
    Progress progresses[sizeof cases / sizeof cases[0]];
    const StreamsStop stop;
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        Progress &progress = progresses[&c - cases];
        const int nRet = c.bLocal ? conn.StartLocalUpgrade(m_lLogin, m_strFirmware, Progress::OnProgress, &progress)
                                  : conn.StartOnlineUpgrade(m_lLogin, c.strVersion, Progress::OnProgress, &progress);
        EXPECT_EQ(nRet, 100) << c.pWhat;
        EXPECT_EQ(KorvexControl::Journal().at(0), c.strJournal) << c.pWhat;
        const std::vector<int32_t> last = progress.WaitForFinal();
        ASSERT_EQ(last.size(), 4u) << c.pWhat;
        EXPECT_EQ(last[0], ZDK_UPGRADE_DONE);
        EXPECT_EQ(last[2], c.nTotal);
        EXPECT_EQ(last[3], c.nTotal);
        EXPECT_TRUE(progress.bOtherThread);
        // The state passes through; closing ends the handle.
        EXPECT_EQ(conn.GetUpgradeState(last[1]), ZDK_UPGRADE_DONE);
        EXPECT_TRUE(conn.CloseUpgrade(last[1]));
        EXPECT_EQ(conn.GetUpgradeState(last[1]), ZDK_ERR_INVALID_HANDLE);
    }
    EXPECT_TRUE(log.Contains("[CQZConnect::StartLocalUpgrade]"));
    EXPECT_TRUE(log.Contains("StartOnlineUpgrade:Ret = "));
    // A handle of 0 or below is not handed to the library.
    KorvexControl::ClearJournal();
    EXPECT_FALSE(conn.CloseUpgrade(0));
    EXPECT_FALSE(conn.CloseUpgrade(-3));
    EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_CloseUpgradeHandle").empty());
}

TEST_F(CQZConnectUpgrade, FailureCodes)
{
    struct Case
    {
        const char *pWhat;
        bool bLocal;
        int32_t nForced;
        std::function<void()> before;
        int nRet;
    };
    CQZConnect conn;
    Progress running;
    const StreamsStop stop;
    const Case cases[] = {
        {"refused by the device", true, -512, nullptr, 1007},
        {"refused by the device", false, -512, nullptr, 1007},
        {"no permission", true, -11401, nullptr, 1013},
        {"no permission", false, -11401, nullptr, 1013},
        {"wrong password", false, -11301, nullptr, 106},
        {"no connection", true, -10005, nullptr, 1006},
        {"unmapped error", true, -10000, nullptr, 1016},
        {"an upgrade runs already", true, 0,
         [&] {
             // The upgrade makes no step until the clock held here moves on.
             HoldClock();
             ASSERT_EQ(conn.StartOnlineUpgrade(m_lLogin, "", Progress::OnProgress, &running), 100);
         },
         1007},
        {"an upgrade runs already", false, 0, nullptr, 1007},
    };
    LogCapture log;
    for (const Case &c : cases) {
        if (c.before)
            c.before();
        if (c.nForced)
            KorvexControl::FailNextCall(c.bLocal ? "ZDK_DEV_StartLocalUpgrade" : "ZDK_DEV_StartOnlineUpgrade", c.nForced);
        Progress progress;
        const int nRet = c.bLocal ? conn.StartLocalUpgrade(m_lLogin, m_strFirmware, Progress::OnProgress, &progress)
                                  : conn.StartOnlineUpgrade(m_lLogin, "X_V2_V1.0.3.1", Progress::OnProgress, &progress);
        EXPECT_EQ(nRet, c.nRet) << c.pWhat << (c.bLocal ? " (local)" : " (online)");
        EXPECT_TRUE(progress.reports.empty());
    }
    EXPECT_TRUE(log.Contains("StartLocalUpgrade:Ret = 0"));
    EXPECT_TRUE(log.Contains("StartLocalUpgrade:Error = 1007"));
    EXPECT_TRUE(log.Contains("StartOnlineUpgrade:Error = 1013"));
    EXPECT_TRUE(log.Contains("[CQZConnect::StartOnlineUpgrade]"));

    // Once the running upgrade is closed, errors of the library's own come through the map.
    RunLibraryFor(200);
    const std::vector<int32_t> last = running.WaitForFinal();
    ASSERT_FALSE(last.empty());
    EXPECT_TRUE(conn.CloseUpgrade(last[1]));
    Progress progress;
    EXPECT_EQ(conn.StartOnlineUpgrade(m_lLogin, "X_V9", Progress::OnProgress, &progress), 1007) << "no such version";
    EXPECT_EQ(conn.StartLocalUpgrade(m_lLogin, TempPath("missing.bin"), Progress::OnProgress, &progress), 1016);
    EXPECT_EQ(conn.StartLocalUpgrade(999, m_strFirmware, Progress::OnProgress, &progress), 1016);
}
