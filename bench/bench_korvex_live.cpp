// Runs many live streams of the simulated device library at once and prints the blocks delivered per second
// and the library's CPU cost per stream. The streams use the built-in device (16 channels, main and sub
// profile); more than 32 streams take further logins. The loops are encoded before the measurement starts.
//
//   bench_korvex_live [seconds per run, default 5] [stream counts, default 16 64]

#include "platform/korvex.h"
#include "standin/korvex/KorvexControl.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct Counters
{
    std::atomic<uint64_t> nBlocks{0};
    std::atomic<uint64_t> nVideo{0};
    std::atomic<uint64_t> nBytes{0};
};

struct StreamUser
{
    Counters *pCounters;
    std::atomic<bool> bStarted{false};
};

int32_t OnFrame(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    StreamUser *pStream = static_cast<StreamUser *>(pUser);
    pStream->bStarted.store(true, std::memory_order_relaxed);
    pStream->pCounters->nBlocks.fetch_add(1, std::memory_order_relaxed);
    pStream->pCounters->nBytes.fetch_add(pFrame->nDataLength, std::memory_order_relaxed);
    if (pFrame->nKind == ZDK_FRAME_VIDEO)
        pStream->pCounters->nVideo.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

double CpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool Run(int nStreams, int nSeconds)
{
    Counters counters;
    std::vector<int32_t> logins;
    std::vector<int32_t> plays;
    std::vector<std::unique_ptr<StreamUser>> users;
    const auto warmStart = std::chrono::steady_clock::now();
    for (int i = 0; i < nStreams; ++i) {
        if (i % 32 == 0) {
            NetDeviceInfo info{};
            int32_t nError = 0;
            const int32_t lLogin =
                ZDK_DEV_Login("127.0.0.1", 34567, "admin", "", &info, &nError, ZDK_CONNECT_ADDRESS);
            if (lLogin <= 0) {
                std::fprintf(stderr, "login failed: %d\n", nError);
                return false;
            }
            logins.push_back(lLogin);
        }
        ZDK_ClientInfo client{};
        client.nChannel = i % 16;
        client.nStreamType = (i / 16) % 2;
        const int32_t lPlay = ZDK_DEV_RealPlay(logins.back(), &client, nullptr);
        users.push_back(std::make_unique<StreamUser>());
        users.back()->pCounters = &counters;
        if (lPlay <= 0 || !ZDK_DEV_SetRealDataCallBack_V2(lPlay, &OnFrame, users.back().get())) {
            std::fprintf(stderr, "stream %d failed: %d\n", i, ZDK_DEV_GetLastError());
            return false;
        }
        plays.push_back(lPlay);
    }
    // Every loop is encoded once the stream has delivered its first block.
    for (;;) {
        bool bAll = true;
        for (const auto &user : users)
            bAll = bAll && user->bStarted.load();
        if (bAll)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double dWarm = std::chrono::duration<double>(std::chrono::steady_clock::now() - warmStart).count();

    const uint64_t nBlocks0 = counters.nBlocks, nVideo0 = counters.nVideo, nBytes0 = counters.nBytes;
    const double dCpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(nSeconds));
    const double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double dCpu = CpuSeconds() - dCpu0;
    const double dBlocks = double(counters.nBlocks - nBlocks0) / dWall;
    const double dVideo = double(counters.nVideo - nVideo0) / dWall;
    const double dMBytes = double(counters.nBytes - nBytes0) / dWall / 1e6;

    for (int32_t lPlay : plays)
        ZDK_DEV_StopRealPlay(lPlay, 0);
    for (int32_t lLogin : logins)
        ZDK_DEV_Logout(lLogin);

    std::printf("%7d %9.1f %10.0f %10.0f %9.2f %12.2f %12.1f\n", nStreams, dWarm, dBlocks, dVideo, dMBytes,
                100.0 * dCpu / dWall / nStreams, 100.0 * dCpu / dWall);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int nSeconds = 5;
    std::vector<int> counts;
    if (argc > 1)
        nSeconds = std::max(1, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i)
        counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty())
        counts = {16, 64};

    unsetenv("KORVEX_DEVICES");
    if (!ZDK_DEV_Init(nullptr, nullptr)) {
        std::fprintf(stderr, "ZDK_DEV_Init failed: %d\n", ZDK_DEV_GetLastError());
        return 1;
    }
    std::printf("simulated live streams, %d s per run (main 1280x720 H.265 25 fps, sub 640x360 H.264 15 fps, "
                "G.711 audio)\n",
                nSeconds);
    std::printf("%7s %9s %10s %10s %9s %12s %12s\n", "streams", "warm-up s", "blocks/s", "frames/s", "MB/s",
                "cpu%/stream", "cpu% total");
    bool bOk = true;
    for (int n : counts)
        bOk = Run(n, nSeconds) && bOk;
    ZDK_DEV_Cleanup();
    return bOk ? 0 : 1;
}
