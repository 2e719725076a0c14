// The cost of one log call to the caller: LOGN from 1 thread and from 8 threads at once, each call timed on the
// calling thread's CPU clock (the clock's own cost, measured alike, taken off). The anchor, measured the same way
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

// nThreads threads start together and make nCalls calls each; every call is timed alone.
Samples Measure(int nThreads, int nCalls, const std::function<void(int)> &call)
{
    std::vector<Samples> perThread(static_cast<size_t>(nThreads));
    std::atomic<int> nReady{0};
    std::atomic<bool> bGo{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([&, t] {
            Samples &s = perThread[static_cast<size_t>(t)];
            s.cpu.reserve(static_cast<size_t>(nCalls));
            s.wall.reserve(static_cast<size_t>(nCalls));
            ++nReady;
            while (!bGo)
                std::this_thread::yield();
            for (int i = 0; i < nCalls; ++i) {
                const long long nWall0 = WallNs();
                const long long nCpu0 = ThreadCpuNs();
                call(i);
                const long long nCpu1 = ThreadCpuNs();
                const long long nWall1 = WallNs();
                s.cpu.push_back(double(nCpu1 - nCpu0));
                s.wall.push_back(double(nWall1 - nWall0));
            }
        });
    }
    while (nReady < nThreads)
        std::this_thread::yield();
    bGo = true;
    for (std::thread &th : threads)
        th.join();
    Samples all;
    for (Samples &s : perThread) {
        all.cpu.insert(all.cpu.end(), s.cpu.begin(), s.cpu.end());
        all.wall.insert(all.wall.end(), s.wall.begin(), s.wall.end());
    }
    return all;
}

struct Figures
{
    double dCpuMedianUs = 0, dCpuP99Us = 0, dWallMedianUs = 0, dWallP99Us = 0;
};

// Median over kRuns runs of each figure, less the timing's own cost.
Figures Run(int nThreads, int nCalls, const std::function<void(int)> &call, const Figures &overhead,
            const std::function<void()> &afterRun = {})
{
    std::vector<double> cpuMed, cpuP99, wallMed, wallP99;
    for (int r = 0; r < kRuns; ++r) {
        const Samples s = Measure(nThreads, nCalls, call);
        cpuMed.push_back(Median(s.cpu) / 1000.0 - overhead.dCpuMedianUs);
        cpuP99.push_back(Percentile(s.cpu, 0.99) / 1000.0 - overhead.dCpuMedianUs);
        wallMed.push_back(Median(s.wall) / 1000.0 - overhead.dWallMedianUs);
        wallP99.push_back(Percentile(s.wall, 0.99) / 1000.0 - overhead.dWallMedianUs);
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
    const Figures none{};
    const Figures overhead = Run(1, nCalls, [](int) {}, none);

    std::printf("one log call, %d runs (median of their figures), timing cost %.2f us CPU / %.2f us wall taken off\n",
                kRuns, overhead.dCpuMedianUs, overhead.dWallMedianUs);
    const Figures plain1 = Run(1, nCalls, plainCall, overhead);
    Print("snprintf of the line, 1 thread", plain1);
    LOGN("warm-up", strTag);
    drain();
    const Figures log1 = Run(1, nCalls, logCall, overhead, drain);
    Print("LOGN, 1 thread", log1);
    const Figures log8 = Run(8, nCalls / 4, logCall, overhead, drain);
    Print("LOGN, 8 threads at once", log8);

    std::printf("log call / snprintf: 1 thread CPU median %.2f us vs %.2f us = %.1fx; "
                "8 threads CPU p99 %.2f us\n",
                log1.dCpuMedianUs, plain1.dCpuMedianUs, log1.dCpuMedianUs / std::max(0.001, plain1.dCpuMedianUs),
                log8.dCpuP99Us);
    std::fflush(stdout);
    // The writer may still hold lines; the process ends without waiting for them.
    std::_Exit(0);
}
