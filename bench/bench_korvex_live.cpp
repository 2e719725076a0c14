// Runs many live streams of the simulated device library at once and prints the blocks delivered per second
// and the library's CPU cost per stream. The streams use the built-in device (16 channels, main and sub
// profile); more than 32 streams take further logins. The loops are encoded before the measurement starts.
// Its anchor, in the same run: bare feeder threads, one a stream, that wake at the same times and hand blocks of
// the same average size to the same kind of callback; the last line gives the library's CPU per block beside it.
//
//   bench_korvex_live [seconds per run, default 5] [stream counts, default 16 64]

#include "platform/korvex.h"
#include "standin/korvex/KorvexControl.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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

struct Measured
{
    double dCpuPerBlock = 0;    // seconds
    double dVideoBlockBytes = 0;
    double dAudioBlockBytes = 0;
};

// One stream's bare feeder: sleeps until the next video or audio block is due, copies a block of the average
// size and hands it to the callback, as the library's stream thread does with its loop.
class BareFeeder
{
public:
    BareFeeder(int nFrameRate, size_t nVideoBytes, size_t nAudioBytes, Counters &counters)
        : m_thread([=, &counters] { Run(nFrameRate, nVideoBytes, nAudioBytes, counters); })
    {
    }
    ~BareFeeder()
    {
        m_bStop = true;
        m_thread.join();
    }

private:
    void Run(int nFrameRate, size_t nVideoBytes, size_t nAudioBytes, Counters &counters)
    {
        using Clock = std::chrono::steady_clock;
        const std::vector<uint8_t> source(std::max(nVideoBytes, nAudioBytes), 0x5A);
        std::vector<uint8_t> block;
        StreamUser user;
        user.pCounters = &counters;
        const auto videoStep = std::chrono::microseconds(1000000 / nFrameRate);
        const auto audioStep = std::chrono::milliseconds(40);
        Clock::time_point nextVideo = Clock::now(), nextAudio = nextVideo;
        while (!m_bStop) {
            const bool bVideo = nextVideo <= nextAudio;
            std::this_thread::sleep_until(bVideo ? nextVideo : nextAudio);
            const size_t n = bVideo ? nVideoBytes : nAudioBytes;
            block.assign(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(n));
            RealDataFrame frame{};
            frame.nKind = bVideo ? ZDK_FRAME_VIDEO : ZDK_FRAME_AUDIO;
            frame.pData = block.data();
            frame.nDataLength = static_cast<uint32_t>(block.size());
            OnFrame(0, &frame, &user);
            (bVideo ? nextVideo : nextAudio) += bVideo ? std::chrono::duration_cast<std::chrono::microseconds>(videoStep)
                                                       : std::chrono::duration_cast<std::chrono::microseconds>(audioStep);
        }
    }

    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// The bare feeders for the same streams: CPU seconds per block.
double AnchorCpuPerBlock(int nStreams, int nSeconds, const Measured &m)
{
    Counters counters;
    std::vector<std::unique_ptr<BareFeeder>> feeders;
    for (int i = 0; i < nStreams; ++i)
        feeders.push_back(std::make_unique<BareFeeder>((i / 16) % 2 == 0 ? 25 : 15,
                                                       static_cast<size_t>(m.dVideoBlockBytes),
                                                       static_cast<size_t>(m.dAudioBlockBytes), counters));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t nBlocks0 = counters.nBlocks;
    const double dCpu0 = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(nSeconds));
    const double dCpu = CpuSeconds() - dCpu0;
    const uint64_t nBlocks = counters.nBlocks - nBlocks0;
    feeders.clear();
    return nBlocks > 0 ? dCpu / static_cast<double>(nBlocks) : 0.0;
}

bool Run(int nStreams, int nSeconds, Measured &measured)
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
    const double nAllBlocks = dBlocks * dWall, nVideoBlocks = dVideo * dWall;
    measured.dCpuPerBlock = nAllBlocks > 0 ? dCpu / nAllBlocks : 0.0;
    // Audio blocks are 8 bytes of header and 320 of G.711 (40 ms at 8000 Hz).
    measured.dAudioBlockBytes = 328;
    measured.dVideoBlockBytes =
        nVideoBlocks > 0 ? (dMBytes * 1e6 * dWall - (nAllBlocks - nVideoBlocks) * 328) / nVideoBlocks : 0.0;
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
    Measured last;
    for (int n : counts)
        bOk = Run(n, nSeconds, last) && bOk;
    ZDK_DEV_Cleanup();
    if (bOk) {
        const double dAnchor = AnchorCpuPerBlock(counts.back(), nSeconds, last);
        std::printf("%d streams: CPU per block %.1f us beside bare feeder threads' %.1f us (%.0f-byte video blocks): "
                    "%.2fx\n",
                    counts.back(), last.dCpuPerBlock * 1e6, dAnchor * 1e6, last.dVideoBlockBytes,
                    dAnchor > 0 ? last.dCpuPerBlock / dAnchor : 0.0);
    }
    return bOk ? 0 : 1;
}
