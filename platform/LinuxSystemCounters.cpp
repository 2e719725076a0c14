#include "platform/LinuxSystemCounters.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000;  // 100 ns units

bool ReadFile(const char *pPath, std::string &strText)
{
    std::ifstream in(pPath, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    strText = text.str();
    return !strText.empty();
}

uint64_t TimevalUnits(const timeval &tv)
{
    return static_cast<uint64_t>(tv.tv_sec) * kUnitsPerSecond + static_cast<uint64_t>(tv.tv_usec) * 10;
}

} // namespace

std::shared_ptr<SystemCounters> SystemCounters::Os()
{
    return std::make_shared<LinuxSystemCounters>();
}

uint64_t LinuxSystemCounters::GetTickCount64()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

int LinuxSystemCounters::GetNumberOfProcessors()
{
    // The processors /proc/stat sums over.
    const long nCount = sysconf(_SC_NPROCESSORS_ONLN);
    return nCount > 0 ? static_cast<int>(nCount) : 0;
}

bool LinuxSystemCounters::GetProcessTimes(FILETIME &kernel, FILETIME &user)
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return false;
    kernel = U64ToFileTime(TimevalUnits(usage.ru_stime));
    user = U64ToFileTime(TimevalUnits(usage.ru_utime));
    return true;
}

bool LinuxSystemCounters::GetSystemTimes(FILETIME &idle, FILETIME &kernel, FILETIME &user)
{
    std::string strText;
    return ReadFile("/proc/stat", strText) && ParseProcStat(strText, sysconf(_SC_CLK_TCK), idle, kernel, user);
}

bool LinuxSystemCounters::GetWorkingSetSize(uint64_t &nBytes)
{
    std::string strText;
    uint64_t nPages = 0;
    const long nPageSize = sysconf(_SC_PAGESIZE);
    if (nPageSize <= 0 || !ReadFile("/proc/self/statm", strText) || !ParseStatmResident(strText, nPages))
        return false;
    nBytes = nPages * static_cast<uint64_t>(nPageSize);
    return true;
}

bool LinuxSystemCounters::GetAvailPhys(uint64_t &nBytes)
{
    std::string strText;
    return ReadFile("/proc/meminfo", strText) && ParseMemAvailable(strText, nBytes);
}

bool LinuxSystemCounters::ParseProcStat(const std::string &strText, long nTicksPerSecond, FILETIME &idle,
                                        FILETIME &kernel, FILETIME &user)
{
    if (nTicksPerSecond <= 0)
        return false;
    // "cpu  user nice system idle iowait irq softirq ..."; kernels before 2.6 stop after idle.
    uint64_t v[7] = {};
    const int nRead = std::sscanf(strText.c_str(),
                                  "cpu %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
                                  " %" SCNu64,
                                  &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    if (nRead < 4)
        return false;
    const uint64_t nUnitsPerTick = kUnitsPerSecond / static_cast<uint64_t>(nTicksPerSecond);
    const uint64_t nIdle = v[3] + v[4];
    idle = U64ToFileTime(nIdle * nUnitsPerTick);
    kernel = U64ToFileTime((v[2] + v[5] + v[6] + nIdle) * nUnitsPerTick);
    user = U64ToFileTime((v[0] + v[1]) * nUnitsPerTick);
    return true;
}

bool LinuxSystemCounters::ParseStatmResident(const std::string &strText, uint64_t &nPages)
{
    uint64_t nSize = 0;
    return std::sscanf(strText.c_str(), "%" SCNu64 " %" SCNu64, &nSize, &nPages) == 2;
}

bool LinuxSystemCounters::ParseMemAvailable(const std::string &strText, uint64_t &nBytes)
{
    static const char kKey[] = "MemAvailable:";
    size_t nAt = strText.find(kKey);
    // The key starts a line.
    while (nAt != std::string::npos && nAt > 0 && strText[nAt - 1] != '\n')
        nAt = strText.find(kKey, nAt + 1);
    if (nAt == std::string::npos)
        return false;
    uint64_t nKiB = 0;
    char szUnit[8] = {};
    if (std::sscanf(strText.c_str() + nAt + sizeof kKey - 1, "%" SCNu64 " %7s", &nKiB, szUnit) != 2 ||
        std::string(szUnit) != "kB")
        return false;
    nBytes = nKiB * 1024;
    return true;
}
