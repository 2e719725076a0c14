#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// The library thread that runs the disconnect and message callbacks, one event after the other, each at its
// time (in the order of their times, and of posting for equal times).
class EventDispatcher
{
public:
    EventDispatcher() = default;
    ~EventDispatcher();
    EventDispatcher(const EventDispatcher &) = delete;
    EventDispatcher &operator=(const EventDispatcher &) = delete;

    void Start();
    // Drops the events not run yet, waits for the one running and ends the thread.
    void Stop();
    void Post(int32_t nLogin, std::function<void()> fn);
    // Runs the event once the time (of the library's clock, SimStream::Now) has come.
    void PostAt(int32_t nLogin, std::chrono::steady_clock::time_point at, std::function<void()> fn);
    // Drops the login's events not run yet and waits until none of its events runs.
    void Forget(int32_t nLogin);
    // Waits until the event running now (if any) has ended.
    void Barrier();
    bool OnThread() const;

private:
    void Loop();
    // Counts the thread as busy again (m_mutex held).
    void Busy();
    // The library's clock was moved or let go: an event may be due.
    void ClockMoved();

    struct Event
    {
        int32_t nLogin;
        std::function<void()> fn;
    };
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::multimap<std::chrono::steady_clock::time_point, Event> m_queue;
    bool m_bStop = false;
    bool m_bRunning = false;    // an event runs now
    bool m_bParked = false;     // the thread waits for an event (counted as idle by SimStream)
    int m_nClockListener = 0;
    int32_t m_nRunningLogin = 0;
    std::thread m_thread;
    std::thread::id m_threadId;
};
