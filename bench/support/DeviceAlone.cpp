#include "bench/support/DeviceAlone.h"

#include "bench/BenchMeasures.h"
#include "bench/support/ChildRun.h"
#include "bench/support/ProcessSample.h"
#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

const char kMode[] = "--device";

std::atomic<long> g_nVideoBlocks{0};

int32_t OnLiveData(int32_t, const RealDataFrame *pFrame, void *)
{
    if (pFrame && pFrame->nKind == ZDK_FRAME_VIDEO)
        g_nVideoBlocks.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

} // namespace

std::vector<std::string> DeviceAlone::Arguments(const Settings &s)
{
    return {kMode, std::to_string(s.nStreams), std::to_string(s.nStreamType), std::to_string(s.nChannelsPerLogin),
            std::to_string(s.nWarmMs), std::to_string(s.nSeconds)};
}

bool DeviceAlone::IsMode(int argc, char **argv) { return argc > 1 && std::strcmp(argv[1], kMode) == 0; }

int DeviceAlone::Main(int argc, char **argv)
{
    if (argc < 7)
        return 2;
    Settings s;
    s.nStreams = std::max(1, std::atoi(argv[2]));
    s.nStreamType = std::atoi(argv[3]);
    s.nChannelsPerLogin = std::max(1, std::atoi(argv[4]));
    s.nWarmMs = std::max(0, std::atoi(argv[5]));
    s.nSeconds = std::max(1, std::atoi(argv[6]));

    QCoreApplication app(argc, argv);
    QTemporaryDir logDir;
    {
        QSettings settings(logDir.filePath("ClientCfg.ini"), QSettings::IniFormat);
        settings.setValue("Enable/PrintLogEn", 0);
    }
    LightWeightLog::CreateInstance(logDir.path());
    CQZConnect *pConnect = CQZConnect::GetInstance();
    if (!pConnect->InitKorvex(nullptr, nullptr)) {
        std::printf("the device library does not start: %d\n", ZDK_DEV_GetLastError());
        return 1;
    }
    // The loops are in memory before the streams, as in the project's measure.
    for (int i = 0; i < std::min(s.nStreams, s.nChannelsPerLogin); ++i)
        if (!BenchMeasures::LoopOf(s.nStreamType, i))
            return 1;
    const ProcessSample before = ProcessSample::Take();
    std::vector<int> logins, plays;
    for (int i = 0; i < s.nStreams; ++i) {
        if (i % s.nChannelsPerLogin == 0) {
            DevLoginInfo info{};
            std::strcpy(info.IP, "127.0.0.1");
            info.Port = 34567;
            std::strcpy(info.User, "admin");
            int nError = 0;
            const int lLogin = pConnect->ConnectDevice(info, nError, "");
            if (lLogin <= 0) {
                std::printf("login failed: %d\n", nError);
                return 1;
            }
            logins.push_back(lLogin);
        }
        const int lPlay =
            pConnect->ConnectChanel_V2(logins.back(), i % s.nChannelsPerLogin, s.nStreamType, &OnLiveData, nullptr);
        if (lPlay <= 0) {
            std::printf("stream %d does not start: %d\n", i, lPlay);
            return 1;
        }
        plays.push_back(lPlay);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(s.nWarmMs));
    const long nBlocks0 = g_nVideoBlocks.load();
    const ProcessSample first = ProcessSample::Take();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(s.nSeconds));
    const ProcessSample last = ProcessSample::Take();
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long nBlocks = g_nVideoBlocks.load() - nBlocks0;
    for (int lPlay : plays)
        pConnect->DisconnectChannel_V2(lPlay, &OnLiveData, nullptr);
    for (int lLogin : logins)
        pConnect->DisconnectDevice(lLogin);
    pConnect->Cleanup();

    ChildRun::Put("pictures", static_cast<double>(nBlocks));
    ChildRun::Put("seconds", dSeconds);
    ChildRun::Put("cpu", last.dCpuSeconds - first.dCpuSeconds);
    ChildRun::Put("switches", static_cast<double>(last.nSwitches - first.nSwitches));
    ChildRun::Put("rss_before", before.dResidentMb);
    ChildRun::Put("rss_during", last.dResidentMb);
    ChildRun::Put("dropped", 0);
    return 0;
}
