#pragma once

#include <QByteArray>

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The copy of the log's lines on standard error. A thread of its own writes them, so that a reader of standard
// error that falls behind, or a pipe that nobody reads at all, holds up only that thread: what does not fit in
// the waiting buffer is left out (and the gap is noted once the copy moves again). One per process.
class LogEcho
{
public:
    static constexpr int kMaxPending = 1024 * 1024;

    static LogEcho *GetInstance();

    void Append(const QByteArray &bytes);

    // Waits until everything appended so far is written, or until the copy has made no progress for
    // nStallMs (nobody reads standard error): the program's end is never held up for long.
    void Flush(int nStallMs = 200);

private:
    LogEcho() = default;
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvProgress;
    QByteArray m_pending;
    qint64 m_nDropped = 0;
    std::uint64_t m_nWritten = 0;   // bytes taken out of the buffer and written so far
    bool m_bWriting = false;
    bool m_bStarted = false;
    bool m_bBroken = false;         // standard error cannot be written: nothing is kept any more
};
