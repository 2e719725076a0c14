#pragma once

// The operating-system figures of the load report and of the preview memory budget, in the shape of the
// kernel32 calls the system makes. LinuxSystemCounters reads them on this machine; tests give their own.

#include <cstdint>
#include <memory>

// A time in 100 ns units, as two 32-bit halves.
struct FILETIME
{
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

inline uint64_t FileTimeToU64(const FILETIME &ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME U64ToFileTime(uint64_t n)
{
    return FILETIME{static_cast<uint32_t>(n & 0xFFFFFFFFu), static_cast<uint32_t>(n >> 32)};
}

class SystemCounters
{
public:
    virtual ~SystemCounters() = default;

    // Milliseconds since an arbitrary start; never goes back (GetTickCount64).
    virtual uint64_t GetTickCount64() = 0;
    // Processors the system times are summed over (GetSystemInfo).
    virtual int GetNumberOfProcessors() = 0;
    // Kernel and user time this process has used (GetProcessTimes).
    virtual bool GetProcessTimes(FILETIME &kernel, FILETIME &user) = 0;
    // Idle, kernel and user time of all processors together; the kernel time includes the idle time
    // (GetSystemTimes).
    virtual bool GetSystemTimes(FILETIME &idle, FILETIME &kernel, FILETIME &user) = 0;
    // This process's working set in bytes (K32GetProcessMemoryInfo).
    virtual bool GetWorkingSetSize(uint64_t &nBytes) = 0;
    // Physical memory available to new work, in bytes (GlobalMemoryStatusEx).
    virtual bool GetAvailPhys(uint64_t &nBytes) = 0;

    // The figures of this machine.
    static std::shared_ptr<SystemCounters> Os();
};
