#pragma once

#include "platform/SystemCounters.h"

#include <QObject>

#include <cstdint>
#include <memory>

class QTimerEvent;

// The system-load sampler: once a second the process's CPU use, the whole system's CPU use and the process's
// working set. It lives on the thread of its parent and ticks there.
class CGetSystemStatus : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 1000;

    explicit CGetSystemStatus(QObject *parent = nullptr);
    // Samples the given figures instead of the machine's.
    CGetSystemStatus(std::shared_ptr<SystemCounters> pCounters, QObject *parent = nullptr);
    ~CGetSystemStatus() override;

    // Percent of all processors this process used since the last sample, or -1.
    int GetAppCpuUsage();
    // Percent of all processors busy since the last sample, or -1.
    int GetSystemCpuUsage();
    // The working set in MiB (0 when it cannot be read).
    int GetAppMemory();
    // The available physical memory in MiB (0 when it cannot be read).
    int GetAvailMemory();

    // now - before over the whole 64-bit value.
    static int64_t FileTimeDiff(const FILETIME &now, const FILETIME &before);

signals:
    void sendSystemStatusSig(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);

protected:
    bool event(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    std::shared_ptr<SystemCounters> m_pCounters;
    int m_nTimerId = 0;
    uint64_t m_nLastTick = 0;           // ms
    int64_t m_nLastProcessCpu = 0;      // ms of kernel plus user time
    int m_nProcessorCount = 0;
    FILETIME m_ftLastIdle{};
    FILETIME m_ftLastKernel{};
    FILETIME m_ftLastUser{};
};
