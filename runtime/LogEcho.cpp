#include "runtime/LogEcho.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <poll.h>
#include <unistd.h>

LogEcho *LogEcho::GetInstance()
{
    // Never destroyed: its thread may sit in a write that nobody will ever complete, up to the process's end.
    static LogEcho *s_pEcho = new LogEcho;
    return s_pEcho;
}

void LogEcho::Append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bBroken)
        return;
    if (m_nDropped > 0 && m_pending.size() + bytes.size() <= kMaxPending) {
        m_pending += QByteArray("[") + QByteArray::number(m_nDropped)
                     + " bytes of log lines were not copied here: standard error was not read]\n";
        m_nDropped = 0;
    }
    // What does not fit is left out in whole lines: a burst larger than the buffer still fills it (and so the
    // pipe) as far as it can, rather than being left out altogether.
    int nTake = bytes.size();
    if (m_pending.size() + nTake > kMaxPending) {
        const int nRoom = kMaxPending - m_pending.size();
        nTake = nRoom > 0 ? bytes.lastIndexOf('\n', nRoom - 1) + 1 : 0;
        m_nDropped += bytes.size() - nTake;
    }
    if (nTake == 0)
        return;
    m_pending.append(bytes.constData(), nTake);
    if (!m_bStarted) {
        m_bStarted = true;
        std::thread([this] { Run(); }).detach();
    }
    m_cvWork.notify_one();
}

void LogEcho::Flush(int nStallMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::uint64_t nSeen = m_nWritten;
    while ((m_bWriting || !m_pending.isEmpty()) && !m_bBroken) {
        if (!m_cvProgress.wait_for(lock, std::chrono::milliseconds(nStallMs), [&] { return m_nWritten != nSeen; }))
            return;
        nSeen = m_nWritten;
    }
}

void LogEcho::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [&] { return !m_pending.isEmpty(); });
        QByteArray out;
        out.swap(m_pending);
        m_bWriting = true;
        lock.unlock();

        const char *p = out.constData();
        qint64 nLeft = out.size();
        bool bBroken = false;
        while (nLeft > 0) {
            const ssize_t n = ::write(STDERR_FILENO, p, static_cast<size_t>(nLeft));
            if (n > 0) {
                p += n;
                nLeft -= n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                // Someone made standard error non-blocking: wait here, on this thread, for room.
                pollfd pfd{STDERR_FILENO, POLLOUT, 0};
                ::poll(&pfd, 1, -1);
            } else {
                bBroken = true;
                break;
            }
        }

        lock.lock();
        m_bWriting = false;
        m_nWritten += static_cast<std::uint64_t>(out.size());
        if (bBroken) {
            m_bBroken = true;
            m_pending.clear();
        }
        m_cvProgress.notify_all();
    }
}
