#include "standin/korvex/EventDispatcher.h"

#include "standin/korvex/SimStream.h"

EventDispatcher::~EventDispatcher() { Stop(); }

void EventDispatcher::Start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_bStop = false;
    SimStream::ThreadStarted();
    m_thread = std::thread([this] {
        SimStream::MarkLibraryThread();
        Loop();
        SimStream::ThreadEnded();
    });
    m_threadId = m_thread.get_id();
}

void EventDispatcher::Stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            return;
        m_bStop = true;
        m_queue.clear();
        thread = std::move(m_thread);
    }
    m_cv.notify_all();
    thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threadId = std::thread::id();
}

void EventDispatcher::Post(int32_t nLogin, std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop || !m_thread.joinable())
            return;
        m_queue.push_back(Event{nLogin, std::move(fn)});
        // The thread has work from now on, before it wakes.
        if (m_bParked) {
            m_bParked = false;
            SimStream::Unpark();
        }
    }
    m_cv.notify_all();
}

void EventDispatcher::Forget(int32_t nLogin)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_queue.begin(); it != m_queue.end();)
        it = it->nLogin == nLogin ? m_queue.erase(it) : it + 1;
    if (std::this_thread::get_id() == m_threadId)
        return;
    m_cv.wait(lock, [&] { return !m_bRunning || m_nRunningLogin != nLogin; });
}

void EventDispatcher::Barrier()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (std::this_thread::get_id() == m_threadId)
        return;
    m_cv.wait(lock, [&] { return !m_bRunning; });
}

bool EventDispatcher::OnThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::this_thread::get_id() == m_threadId;
}

void EventDispatcher::Loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (!m_bStop && m_queue.empty()) {
            m_bParked = true;
            SimStream::Park();
            m_cv.wait(lock, [&] { return m_bStop || !m_queue.empty(); });
            if (m_bParked) {
                m_bParked = false;
                SimStream::Unpark();
            }
        }
        if (m_bStop)
            return;
        Event ev = std::move(m_queue.front());
        m_queue.pop_front();
        m_bRunning = true;
        m_nRunningLogin = ev.nLogin;
        lock.unlock();
        ev.fn();
        lock.lock();
        m_bRunning = false;
        m_nRunningLogin = 0;
        m_cv.notify_all();
    }
}
