// Firmware upgrades of the simulated device: progress on a library thread up to a final state, one upgrade at
// a time, and closing, logging out or cleaning up returning only when no callback of the upgrade can run.

#include "platform/korvex.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char *kDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 2,
   "NewVersions": [{"Name": "KVX_V1.0.3.1", "Date": "2024-6-1", "Size": 5000},
                   {"Name": "KVX_V1.0.2.0", "Date": "2024-2-1", "Size": 3000}]},
  {"IP": "10.0.0.2", "Port": 34567, "Channels": 1, "UpgradeFails": true},
  {"IP": "10.0.0.3", "Port": 34567, "Channels": 1, "NewVersions": []},
  {"IP": "10.0.0.4", "Port": 34567, "Channels": 1, "UpgradeStepMs": 0}
])";

// Collects the progress reports of upgrades.
class UpgradeProbe
{
public:
    struct Report
    {
        int32_t nValue, lHandle, nTotal, nSent;
        std::thread::id thread;
    };

    static void OnProgress(int32_t nValue, int32_t lHandle, int32_t nTotal, int32_t nSent, void *pUser)
    {
        auto *p = static_cast<UpgradeProbe *>(pUser);
        p->m_bInside = true;
        ++p->m_nEntered;
        // A slow consumer, so that the end comes while it runs (not a wait of the test).
        if (p->m_nDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(p->m_nDelayMs.load()));
        if (p->m_bCloseInside)
            p->m_nCloseResult = ZDK_DEV_CloseUpgradeHandle(lHandle);
        {
            std::lock_guard<std::mutex> lock(p->m_mutex);
            p->m_reports.push_back(Report{nValue, lHandle, nTotal, nSent, std::this_thread::get_id()});
            // What the request thread would read after this report.
            p->m_states.push_back(ZDK_DEV_GetUpgradeState(lHandle));
        }
        p->m_bInside = false;
        p->m_cv.notify_all();
    }

    std::vector<Report> Reports() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }
    std::vector<int32_t> States() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_states;
    }
    bool WaitFor(size_t n, int nTimeoutMs = 20000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_reports.size() >= n; });
    }

    std::atomic<int> m_nDelayMs{0};
    std::atomic<bool> m_bCloseInside{false};
    std::atomic<int> m_nCloseResult{-1};
    std::atomic<bool> m_bInside{false};
    std::atomic<int> m_nEntered{0};

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Report> m_reports;
    std::vector<int32_t> m_states;
};

} // namespace

class KorvexUpgrade : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
        m_lLogin = LoginBuiltIn();
        m_strFirmware = TempPath("firmware.bin");
        QFile file(m_strFirmware);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(12345, 'F'));
    }
    std::string Firmware() const { return m_strFirmware.toStdString(); }

    int32_t m_lLogin = 0;
    QString m_strFirmware;
};

TEST_F(KorvexUpgrade, ReportsOnALibraryThreadUpToTheFinalState)
{
    struct Case
    {
        const char *pWhat;
        const char *pAddress;
        bool bLocal;
        const char *pVersion;
        int32_t nTotal;
        int32_t nFinal;
    };
    const Case cases[] = {
        {"local file", "127.0.0.1", true, nullptr, 12345, ZDK_UPGRADE_DONE},
        {"online, named version", "127.0.0.1", false, "KVX_V1.0.2.0", 3000, ZDK_UPGRADE_DONE},
        {"online, newest version", "127.0.0.1", false, "", 5000, ZDK_UPGRADE_DONE},
        {"device whose upgrades fail", "10.0.0.2", true, nullptr, 12345, ZDK_UPGRADE_FAILED},
    };
    UpgradeProbe probes[sizeof cases / sizeof cases[0]];
    const StreamsStop stop;
    // Held, so that no report can be due before the check that none came inside the call.
    HoldClock();
    for (const Case &c : cases) {
        UpgradeProbe &probe = probes[&c - cases];
        const int32_t lLogin = LoginAt(c.pAddress, 34567);
        const int32_t lHandle =
            c.bLocal ? ZDK_DEV_StartLocalUpgrade(lLogin, Firmware().c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, &probe)
                     : ZDK_DEV_StartOnlineUpgrade(lLogin, c.pVersion, ZDK_UPGRADE_ONLINE, UpgradeProbe::OnProgress, &probe);
        ASSERT_GT(lHandle, 0) << c.pWhat << " error " << ZDK_DEV_GetLastError();
        // Never inside the call.
        EXPECT_TRUE(probe.Reports().empty()) << c.pWhat;
        RunLibraryFor(200, 10);
        ASSERT_TRUE(probe.WaitFor(10)) << c.pWhat;
        // The upgrade's thread ends after its last report.
        ASSERT_TRUE(KorvexControl::WaitForIdle());
        const std::vector<UpgradeProbe::Report> reports = probe.Reports();
        ASSERT_EQ(reports.size(), 10u) << c.pWhat << ": the upgrade ends with its final report";
        int32_t nLastSent = 0;
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].lHandle, lHandle);
            EXPECT_EQ(reports[i].nTotal, c.nTotal) << c.pWhat;
            EXPECT_GT(reports[i].nSent, nLastSent) << c.pWhat;
            EXPECT_NE(reports[i].thread, std::this_thread::get_id());
            EXPECT_EQ(reports[i].nValue, i + 1 < reports.size() ? ZDK_UPGRADE_RUNNING : c.nFinal) << c.pWhat;
            nLastSent = reports[i].nSent;
        }
        EXPECT_EQ(nLastSent, c.nTotal) << c.pWhat;
        EXPECT_EQ(probe.States().back(), c.nFinal) << c.pWhat;
        // The final state stays until the handle is closed.
        EXPECT_EQ(ZDK_DEV_GetUpgradeState(lHandle), c.nFinal) << c.pWhat;
        EXPECT_EQ(ZDK_DEV_CloseUpgradeHandle(lHandle), 1);
        EXPECT_EQ(ZDK_DEV_GetUpgradeState(lHandle), ZDK_ERR_INVALID_HANDLE);
        EXPECT_EQ(ZDK_DEV_CloseUpgradeHandle(lHandle), 0);
        EXPECT_EQ(ZDK_DEV_Logout(lLogin), 1);
    }
}

TEST_F(KorvexUpgrade, RefusalsAndErrors)
{
    struct Case
    {
        const char *pWhat;
        std::function<int32_t()> start;
        int32_t nError;
    };
    UpgradeProbe probe;
    const int32_t l = m_lLogin;
    const std::string strFirmware = Firmware();
    const std::string strMissing = TempPath("missing.bin").toStdString();
    const std::string strEmpty = TempPath("empty.bin").toStdString();
    QFile(QString::fromStdString(strEmpty)).open(QIODevice::WriteOnly);
    auto *pProbe = &probe;
    const Case cases[] = {
        {"unknown version", [=] { return ZDK_DEV_StartOnlineUpgrade(l, "KVX_V9", ZDK_UPGRADE_ONLINE, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_UPGRADE_REFUSED},
        {"device without versions",
         [=] { return ZDK_DEV_StartOnlineUpgrade(LoginAt("10.0.0.3", 34567), "", ZDK_UPGRADE_ONLINE, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_UPGRADE_REFUSED},
        {"online with the local type", [=] { return ZDK_DEV_StartOnlineUpgrade(l, "", ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"local with the online type",
         [=] { return ZDK_DEV_StartLocalUpgrade(l, strFirmware.c_str(), ZDK_UPGRADE_ONLINE, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"missing file", [=] { return ZDK_DEV_StartLocalUpgrade(l, strMissing.c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_FILE_OPEN},
        {"empty file", [=] { return ZDK_DEV_StartLocalUpgrade(l, strEmpty.c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"no callback", [=] { return ZDK_DEV_StartLocalUpgrade(l, strFirmware.c_str(), ZDK_UPGRADE_LOCAL, nullptr, pProbe); },
         ZDK_ERR_ILLEGAL_PARAM},
        {"no such login", [=] { return ZDK_DEV_StartLocalUpgrade(999, strFirmware.c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, pProbe); },
         ZDK_ERR_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.start(), 0) << c.pWhat;
        EXPECT_EQ(ZDK_DEV_GetLastError(), c.nError) << c.pWhat;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(strMissing)));
    EXPECT_EQ(ZDK_DEV_GetUpgradeState(0), ZDK_ERR_INVALID_HANDLE);
    EXPECT_EQ(KorvexControl::RunningThreads(), 1) << "no upgrade runs, only the event thread";
    EXPECT_TRUE(probe.Reports().empty());
}

TEST_F(KorvexUpgrade, OneUpgradeAtATime)
{
    // The upgrades make no step while the library's clock is held.
    HoldClock();
    UpgradeProbe probe;
    const StreamsStop stop;
    const int32_t lFirst = ZDK_DEV_StartOnlineUpgrade(m_lLogin, "", ZDK_UPGRADE_ONLINE, UpgradeProbe::OnProgress, &probe);
    ASSERT_GT(lFirst, 0);
    // Also through another login to the same device; another device upgrades on its own.
    const int32_t lSecondLogin = LoginBuiltIn();
    EXPECT_EQ(ZDK_DEV_StartLocalUpgrade(lSecondLogin, Firmware().c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress,
                                        &probe),
              0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_UPGRADE_REFUSED);
    const int32_t lOther = ZDK_DEV_StartLocalUpgrade(LoginAt("10.0.0.2", 34567), Firmware().c_str(), ZDK_UPGRADE_LOCAL,
                                                     UpgradeProbe::OnProgress, &probe);
    EXPECT_GT(lOther, 0);
    EXPECT_EQ(ZDK_DEV_GetUpgradeState(lFirst), ZDK_UPGRADE_RUNNING);
    // Closed, the device takes the next one.
    EXPECT_EQ(ZDK_DEV_CloseUpgradeHandle(lFirst), 1);
    const int32_t lNext = ZDK_DEV_StartLocalUpgrade(lSecondLogin, Firmware().c_str(), ZDK_UPGRADE_LOCAL,
                                                    UpgradeProbe::OnProgress, &probe);
    EXPECT_GT(lNext, lOther);
    EXPECT_TRUE(probe.Reports().empty());
}

TEST_F(KorvexUpgrade, ADeviceStepsAtItsOwnPace)
{
    // The library-wide step would take hours; the device's own is none.
    KorvexControl::SetUpgradeStep(3600000);
    UpgradeProbe probe;
    const int32_t lHandle = ZDK_DEV_StartLocalUpgrade(LoginAt("10.0.0.4", 34567), Firmware().c_str(), ZDK_UPGRADE_LOCAL,
                                                      UpgradeProbe::OnProgress, &probe);
    ASSERT_GT(lHandle, 0);
    ASSERT_TRUE(probe.WaitFor(10));
    EXPECT_EQ(probe.Reports().back().nValue, ZDK_UPGRADE_DONE);
    EXPECT_EQ(ZDK_DEV_CloseUpgradeHandle(lHandle), 1);
}

TEST_F(KorvexUpgrade, NoCallbackAfterCloseLogoutOrCleanup)
{
    enum class End { Close, CloseInside, Logout, Cleanup };
    UpgradeProbe probes[4];
    const StreamsStop stop;
    // The library's clock is held: an upgrade makes its first report when the test moves the clock a step on.
    HoldClock();
    for (End eEnd : {End::Close, End::CloseInside, End::Logout, End::Cleanup}) {
        if (eEnd == End::Cleanup) {
            ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
        }
        UpgradeProbe &probe = probes[static_cast<int>(eEnd)];
        probe.m_nDelayMs = 30;
        probe.m_bCloseInside = eEnd == End::CloseInside;
        const int32_t lLogin = LoginBuiltIn();
        const int32_t lHandle =
            ZDK_DEV_StartLocalUpgrade(lLogin, Firmware().c_str(), ZDK_UPGRADE_LOCAL, UpgradeProbe::OnProgress, &probe);
        ASSERT_GT(lHandle, 0);
        ASSERT_TRUE(KorvexControl::WaitForIdle());
        // The first report runs (slowly); the upgrade is ended while it runs, or else right after it.
        KorvexControl::AdvanceClock(10);
        EXPECT_TRUE(WaitUntil([&] { return probe.m_nEntered.load() > 0; }));
        switch (eEnd) {
        case End::Close: EXPECT_EQ(ZDK_DEV_CloseUpgradeHandle(lHandle), 1); break;
        case End::CloseInside: ASSERT_TRUE(probe.WaitFor(1)); break;
        case End::Logout: EXPECT_EQ(ZDK_DEV_Logout(lLogin), 1); break;
        case End::Cleanup: EXPECT_EQ(ZDK_DEV_Cleanup(), 1); break;
        }
        if (eEnd == End::CloseInside) {
            EXPECT_EQ(probe.m_nCloseResult.load(), 1);
            // The upgrade's thread ends when the callback that closed it returns.
            EXPECT_TRUE(KorvexControl::WaitForIdle());
        }
        EXPECT_FALSE(probe.m_bInside);
        const size_t nReports = probe.Reports().size();
        EXPECT_LE(nReports, 1u);
        RunLibraryFor(200);
        EXPECT_EQ(probe.Reports().size(), nReports) << static_cast<int>(eEnd);
        EXPECT_EQ(KorvexControl::RunningThreads(), eEnd == End::Cleanup ? 0 : 1) << static_cast<int>(eEnd);
    }
}
