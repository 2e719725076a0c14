#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <vector>

// The log's lines on their way from the callers to the writer's thread. A caller appends under a lock held for a
// vector push; the writer takes every waiting line at once by swapping vectors. The writer is woken only when it
// has said it is idle (it found nothing the last time it looked), so a stream of lines costs the callers no wake.
class LogLineQueue
{
public:
    // fnWake runs (under the queue's lock) when a line arrives for an idle writer.
    explicit LogLineQueue(std::function<void()> fnWake);

    // False once the queue is closed: the line is dropped.
    bool Push(QString &&strLine);

    // Swaps the waiting lines into lines (which should come in empty; its capacity is kept for the callers).
    // Taking nothing marks the writer idle, so that the next line wakes it.
    void TakeAll(std::vector<QString> &lines);

    // No line is taken in after this, and nobody is woken; the lines already in can still be taken.
    void Close();

private:
    std::mutex m_mutex;
    std::vector<QString> m_lines;
    bool m_bIdle = true;
    bool m_bClosed = false;
    std::function<void()> m_fnWake;
};
