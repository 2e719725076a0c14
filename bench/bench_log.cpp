// The cost of one log call to the caller: LOGN from 1 thread and from 8 threads at once, timed on the calling
// thread's CPU clock (and the wall clock): the median over batches of calls, the p99 call by call (the clock's
// own cost, measured alike, taken off). The anchor, measured the same way
// in the same run: snprintf of the same line into a stack buffer, the least any logger does on the caller's side.
//
//   bench_log [calls per thread, 1-thread case; default 100000]
//
// The log goes to a temporary application directory; standard error is sent to /dev/null so that the copy of
// every line there measures the program, not the terminal.

#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kRuns = 3;
const char *const kTag = "CPluginManage::sendWebSocketMsg";
const char *const kMsg = "{\"Msg\":7,\"MsgID\":\"request-0042\",\"Ret\":1020,\"SubMsg\":3,\"Data\":{\"Channel\":12}}\n";

inline long long ThreadCpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

inline long long WallNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

struct Samples
{
    std::vector<double> cpu; // ns per call
    std::vector<double> wall;
};

double Percentile(std::vector<double> vec, double dFraction)
{
    if (vec.empty())
        return 0;
    std::sort(vec.begin(), vec.end());
    const size_t n = std::min(vec.size() - 1, static_cast<size_t>(dFraction * double(vec.size())));
    return vec[n];
}

double Median(std::vector<double> vec)
{
    return Percentile(std::move(vec), 0.5);
}

constexpr int kBatch = 64;

// nThreads threads start together. Each first times empty clock pairs (the timing's own cost, taken off its
// single-call samples), then makes nCalls calls in batches of kBatch (the batch's time over kBatch: the typical
// call, with the clock's cost spread thin), then nCalls calls timed one by one (the tail).
void Measure(int nThreads, int nCalls, const std::function<void(int)> &call, Samples &batched, Samples &single)
{
    std::vector<Samples> perBatch(static_cast<size_t>(nThreads));
    std::vector<Samples> perCall(static_cast<size_t>(nThreads));
    std::atomic<int> nReady{0};
    std::atomic<bool> bGo{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([&, t] {
            Samples &b = perBatch[static_cast<size_t>(t)];
            Samples &s = perCall[static_cast<size_t>(t)];
            Samples empty;
            for (int i = 0; i < 2000; ++i) {
                const long long nWall0 = WallNs();
                const long long nCpu0 = ThreadCpuNs();
                const long long nCpu1 = ThreadCpuNs();
                const long long nWall1 = WallNs();
                empty.cpu.push_back(double(nCpu1 - nCpu0));
                empty.wall.push_back(double(nWall1 - nWall0));
            }
            const double dCpuCost = Median(empty.cpu);
            const double dWallCost = Median(empty.wall);
            s.cpu.reserve(static_cast<size_t>(nCalls));
            s.wall.reserve(static_cast<size_t>(nCalls));
            ++nReady;
            while (!bGo)
                std::this_thread::yield();
            for (int i = 0; i + kBatch <= nCalls; i += kBatch) {
                const long long nWall0 = WallNs();
                const long long nCpu0 = ThreadCpuNs();
                for (int k = 0; k < kBatch; ++k)
                    call(i + k);
                const long long nCpu1 = ThreadCpuNs();
                const long long nWall1 = WallNs();
                b.cpu.push_back(double(nCpu1 - nCpu0 - dCpuCost) / kBatch);
                b.wall.push_back(double(nWall1 - nWall0 - dWallCost) / kBatch);
            }
            for (int i = 0; i < nCalls; ++i) {
                const long long nWall0 = WallNs();
                const long long nCpu0 = ThreadCpuNs();
                call(i);
                const long long nCpu1 = ThreadCpuNs();
                const long long nWall1 = WallNs();
                s.cpu.push_back(double(nCpu1 - nCpu0) - dCpuCost);
                s.wall.push_back(double(nWall1 - nWall0) - dWallCost);
            }
        });
    }
    while (nReady < nThreads)
        std::this_thread::yield();
    bGo = true;
    for (std::thread &th : threads)
        th.join();
    for (int t = 0; t < nThreads; ++t) {
        for (auto [pFrom, pTo] : {std::pair{&perBatch[size_t(t)], &batched}, std::pair{&perCall[size_t(t)], &single}}) {
            pTo->cpu.insert(pTo->cpu.end(), pFrom->cpu.begin(), pFrom->cpu.end());
            pTo->wall.insert(pTo->wall.end(), pFrom->wall.begin(), pFrom->wall.end());
        }
    }
}

struct Figures
{
    double dCpuMedianUs = 0, dCpuP99Us = 0, dWallMedianUs = 0, dWallP99Us = 0;
};

// Each figure the median of its kRuns runs: the medians from the batches, the p99s from the single calls.
Figures Run(int nThreads, int nCalls, const std::function<void(int)> &call, const std::function<void()> &afterRun = {})
{
    std::vector<double> cpuMed, cpuP99, wallMed, wallP99;
    for (int r = 0; r < kRuns; ++r) {
        Samples batched, single;
        Measure(nThreads, nCalls, call, batched, single);
        cpuMed.push_back(Median(batched.cpu) / 1000.0);
        wallMed.push_back(Median(batched.wall) / 1000.0);
        cpuP99.push_back(Percentile(single.cpu, 0.99) / 1000.0);
        wallP99.push_back(Percentile(single.wall, 0.99) / 1000.0);
        if (afterRun)
            afterRun();
    }
    return Figures{Median(cpuMed), Median(cpuP99), Median(wallMed), Median(wallP99)};
}

void Print(const char *pName, const Figures &f)
{
    std::printf("%-34s CPU median %7.2f us  p99 %8.2f us   wall median %7.2f us  p99 %8.2f us\n", pName,
                f.dCpuMedianUs, f.dCpuP99Us, f.dWallMedianUs, f.dWallP99Us);
}

} // namespace

int main(int argc, char *argv[])
{
    const int nCalls = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 100000;
    std::fflush(stderr);
    const int nNull = ::open("/dev/null", O_WRONLY);
    if (nNull >= 0) {
        ::dup2(nNull, STDERR_FILENO);
        ::close(nNull);
    }

    QCoreApplication app(argc, argv);
    QTemporaryDir appDir;
    LightWeightLog::CreateInstance(appDir.path());
    const QString strMsg = QString::fromLatin1(kMsg);
    const QString strTag = QString::fromLatin1(kTag);

    auto logCall = [&](int) { LOGN(strMsg, strTag); };
    auto drain = [] { LightWeightLog::Flush(); };
    char line[512];
    auto plainCall = [&](int i) {
        // The same line with a time text that changes, as the log's does.
        std::snprintf(line, sizeof line, " [NORMAL] [%s] [2024-05-06 07:08:09 %03d] %s", kTag, i % 1000, kMsg);
        asm volatile("" : : "r"(line) : "memory");
    };
    std::printf("one log call: medians timed over batches of %d calls, p99s call by call; each figure the median of %d "
                "runs\n", kBatch, kRuns);
    const Figures plain1 = Run(1, nCalls, plainCall);
    Print("snprintf of the line, 1 thread", plain1);
    LOGN("warm-up", strTag);
    drain();
    const Figures log1 = Run(1, nCalls, logCall, drain);
    Print("LOGN, 1 thread", log1);
    const Figures log8 = Run(8, nCalls / 4, logCall, drain);
    Print("LOGN, 8 threads at once", log8);

    std::printf("log call / snprintf: 1 thread CPU median %.2f us vs %.2f us = %.1fx; "
                "8 threads CPU p99 %.2f us\n",
                log1.dCpuMedianUs, plain1.dCpuMedianUs, log1.dCpuMedianUs / std::max(0.001, plain1.dCpuMedianUs),
                log8.dCpuP99Us);
    std::fflush(stdout);
    // The writer may still hold lines; the process ends without waiting for them.
    std::_Exit(0);
}
