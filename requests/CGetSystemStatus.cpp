#include "requests/CGetSystemStatus.h"

#include <QThread>
#include <QTimerEvent>

CGetSystemStatus::CGetSystemStatus(QObject *parent)
    : CGetSystemStatus(SystemCounters::Os(), parent)
{
}

CGetSystemStatus::CGetSystemStatus(std::shared_ptr<SystemCounters> pCounters, QObject *parent)
    : QObject(parent)
    , m_pCounters(std::move(pCounters))
{
    m_nLastTick = m_pCounters->GetTickCount64();
    m_pCounters->GetSystemTimes(m_ftLastIdle, m_ftLastKernel, m_ftLastUser);
    m_nTimerId = startTimer(kIntervalMs, Qt::CoarseTimer);
}

CGetSystemStatus::~CGetSystemStatus()
{
    // A timer can be stopped only by its own thread; once that thread has ended no timer runs anyway.
    if (m_nTimerId != 0 && thread() == QThread::currentThread())
        killTimer(m_nTimerId);
}

int64_t CGetSystemStatus::FileTimeDiff(const FILETIME &now, const FILETIME &before)
{
    return static_cast<int64_t>(FileTimeToU64(now) - FileTimeToU64(before));
}

bool CGetSystemStatus::event(QEvent *event)
{
    // Qt would carry the running timer to the new thread through a queued call whose record leaks when this
    // object goes before that thread runs it; the timer starts afresh there instead.
    if (event->type() == QEvent::ThreadChange && m_nTimerId != 0) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
        QMetaObject::invokeMethod(this, [this] { m_nTimerId = startTimer(kIntervalMs, Qt::CoarseTimer); },
                                  Qt::QueuedConnection);
    }
    return QObject::event(event);
}

void CGetSystemStatus::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_nTimerId) {
        QObject::timerEvent(event);
        return;
    }
    const int nApp = GetAppCpuUsage();
    const int nSystem = GetSystemCpuUsage();
    const int nMemory = GetAppMemory();
    emit sendSystemStatusSig(nApp, nSystem, nMemory);
}

int CGetSystemStatus::GetAppCpuUsage()
{
    m_nProcessorCount = m_pCounters->GetNumberOfProcessors();
    const uint64_t nNow = m_pCounters->GetTickCount64();
    if (nNow == m_nLastTick)
        return -1;
    const int64_t nElapsed = static_cast<int64_t>(nNow - m_nLastTick);
    m_nLastTick = nNow;
    FILETIME ftKernel{};
    FILETIME ftUser{};
    if (!m_pCounters->GetProcessTimes(ftKernel, ftUser))
        return -1;
    const int64_t nCpu = static_cast<int64_t>((FileTimeToU64(ftKernel) + FileTimeToU64(ftUser)) / 10000);
    const int64_t nDelta = nCpu - m_nLastProcessCpu;
    m_nLastProcessCpu = nCpu;
    if (m_nProcessorCount < 1)
        return -1;
    const int64_t nResult = nDelta * 100 / nElapsed / m_nProcessorCount;
    if (nResult > 100)
        return 0;
    return nResult < 0 ? -1 : static_cast<int>(nResult);
}

int CGetSystemStatus::GetSystemCpuUsage()
{
    FILETIME ftIdle{};
    FILETIME ftKernel{};
    FILETIME ftUser{};
    if (!m_pCounters->GetSystemTimes(ftIdle, ftKernel, ftUser))
        return -1;
    const int64_t nIdle = FileTimeDiff(ftIdle, m_ftLastIdle);
    const int64_t nKernel = FileTimeDiff(ftKernel, m_ftLastKernel);
    const int64_t nUser = FileTimeDiff(ftUser, m_ftLastUser);
    m_ftLastIdle = ftIdle;
    m_ftLastKernel = ftKernel;
    m_ftLastUser = ftUser;
    // The kernel time includes the idle time. Counters that went back give no figure.
    const int64_t nTotal = nKernel + nUser;
    if (nTotal <= 0)
        return -1;
    const int64_t nResult = (nTotal - nIdle) * 100 / nTotal;
    return nResult < 0 || nResult > 100 ? -1 : static_cast<int>(nResult);
}

int CGetSystemStatus::GetAppMemory()
{
    uint64_t nBytes = 0;
    return m_pCounters->GetWorkingSetSize(nBytes) ? static_cast<int>(nBytes >> 20) : 0;
}

int CGetSystemStatus::GetAvailMemory()
{
    uint64_t nBytes = 0;
    return m_pCounters->GetAvailPhys(nBytes) ? static_cast<int>(nBytes >> 20) : 0;
}
