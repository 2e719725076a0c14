#pragma once

#include "platform/SystemCounters.h"

#include <string>

// The figures read from Linux: CPU times from /proc/stat and getrusage, the working set from /proc/self/statm,
// the available memory from the MemAvailable line of /proc/meminfo.
class LinuxSystemCounters : public SystemCounters
{
public:
    uint64_t GetTickCount64() override;
    int GetNumberOfProcessors() override;
    bool GetProcessTimes(FILETIME &kernel, FILETIME &user) override;
    bool GetSystemTimes(FILETIME &idle, FILETIME &kernel, FILETIME &user) override;
    bool GetWorkingSetSize(uint64_t &nBytes) override;
    bool GetAvailPhys(uint64_t &nBytes) override;

    // The first "cpu" line of /proc/stat, in clock ticks of nTicksPerSecond: idle is idle plus I/O wait,
    // kernel is system, interrupts and idle, user is user and nice.
    static bool ParseProcStat(const std::string &strText, long nTicksPerSecond, FILETIME &idle, FILETIME &kernel,
                              FILETIME &user);
    // The resident pages of /proc/self/statm (its second number).
    static bool ParseStatmResident(const std::string &strText, uint64_t &nPages);
    // The MemAvailable line of /proc/meminfo, in bytes.
    static bool ParseMemAvailable(const std::string &strText, uint64_t &nBytes);
};
