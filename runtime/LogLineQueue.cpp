#include "runtime/LogLineQueue.h"

LogLineQueue::LogLineQueue(std::function<void()> fnWake)
    : m_fnWake(std::move(fnWake))
{
    m_lines.reserve(1024);
}

bool LogLineQueue::Push(QString &&strLine)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed)
        return false;
    m_lines.push_back(std::move(strLine));
    if (m_bIdle) {
        m_bIdle = false;
        // Under the lock, so that Close() returns only when no wake is under way.
        m_fnWake();
    }
    return true;
}

void LogLineQueue::TakeAll(std::vector<QString> &lines)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_lines.empty()) {
        m_bIdle = true;
        return;
    }
    m_lines.swap(lines);
}

void LogLineQueue::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
}
