#include "standin/korvex/EventDispatcher.h"

#include "standin/korvex/SimStream.h"

EventDispatcher::~EventDispatcher() { Stop(); }

void EventDispatcher::Start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_bStop = false;
    if (m_nClockListener == 0)
        m_nClockListener = SimStream::AddClockListener([this] { ClockMoved(); });
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
    SimStream::RemoveClockListener(m_nClockListener);
    m_nClockListener = 0;
}

void EventDispatcher::Post(int32_t nLogin, std::function<void()> fn)
{
    PostAt(nLogin, SimStream::Now(), std::move(fn));
}

void EventDispatcher::PostAt(int32_t nLogin, std::chrono::steady_clock::time_point at, std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop || !m_thread.joinable())
            return;
        // Goes after the events of the same time.
        m_queue.emplace(at, Event{nLogin, std::move(fn)});
        // The thread looks at its queue again before it counts as idle.
        Busy();
    }
    m_cv.notify_all();
}

void EventDispatcher::Busy()
{
    if (m_bParked) {
        m_bParked = false;
        SimStream::Unpark();
    }
}

void EventDispatcher::ClockMoved()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue.empty() && m_queue.begin()->first <= SimStream::Now())
            Busy();
    }
    m_cv.notify_all();
}

void EventDispatcher::Forget(int32_t nLogin)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_queue.begin(); it != m_queue.end();)
        it = it->second.nLogin == nLogin ? m_queue.erase(it) : std::next(it);
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
        if (m_bStop) {
            Busy();
            return;
        }
        if (m_queue.empty()) {
            // Idle until an event comes or the stop.
            if (!m_bParked) {
                m_bParked = true;
                SimStream::Park();
            }
            m_cv.wait(lock);
            continue;
        }
        bool bHeld = false;
        const auto at = SimStream::SteadyTime(m_queue.begin()->first, bHeld);
        if (m_queue.begin()->first > SimStream::Now()) {
            // Until its time, or until a stop or a change of the queue. On a held clock the thread is idle
            // meanwhile, and the clock's moves wake it.
            if (bHeld) {
                if (!m_bParked) {
                    m_bParked = true;
                    SimStream::Park();
                }
                m_cv.wait(lock);
            } else {
                Busy();
                m_cv.wait_until(lock, at);
            }
            continue;
        }
        Busy();
        Event ev = std::move(m_queue.begin()->second);
        m_queue.erase(m_queue.begin());
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
