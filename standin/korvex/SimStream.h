#pragma once

#include "standin/korvex/SimHandle.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A handle of the simulated library that runs on a thread of its own (a playback, a download, an upgrade, a file
// transfer, a voice talk; and the clock of a login's live streams) and calls back from there. Its callbacks run
// with m_callbackMutex held, so whoever changes or removes a callback waits for a call in progress; a callback
// may call back into the library for its own handle. Also the library's clock and its threads' bookkeeping.
class SimStream : public SimHandle, public std::enable_shared_from_this<SimStream>
{
public:
    using Clock = std::chrono::steady_clock;

    SimStream(Kind eKind, int32_t nHandle, int32_t nLogin);
    ~SimStream() override;

    void Start() override;
    // Ends the thread and returns when no callback of this handle can run any more. Called from one of this
    // handle's own callbacks it cannot wait for itself: the thread ends when that callback returns, and the
    // thread object is handed back to be joined later. Otherwise the returned thread is empty.
    std::thread Stop() override;
    void Break() override;

    // Whether the calling thread is a thread of the library, and how many of them run.
    static bool OnLibraryThread();
    static void MarkLibraryThread();
    static int RunningThreads();
    static void ThreadStarted();
    static void ThreadEnded();

    // The library's clock: the steady clock, or while a test holds it, a clock that moves only when the test
    // advances it. Every paced wait of the library (WaitUntil) waits on this clock.
    static Clock::time_point Now();
    static void HoldClock();
    static void AdvanceClock(std::chrono::microseconds step);
    static void ReleaseClock();
    // A library thread that waits with nothing to do (for its stop, or for an event to run) says so; true when
    // every thread of the library waits so or for the held clock, within the time.
    static void Park();
    static void Unpark();
    static bool WaitForIdle(int nTimeoutMs);
    // A time of the library's clock as a time of the steady clock to wait for; bHeld tells that the clock is
    // held, when no steady time brings it nearer.
    static Clock::time_point SteadyTime(Clock::time_point tp, bool &bHeld);
    // Called (outside the clock's lock) whenever the held clock moves or is let go; a number to remove it by.
    static int AddClockListener(std::function<void()> fn);
    static void RemoveClockListener(int nListener);

protected:
    virtual void Run() = 0;

    bool Stopping() const { return m_bStop.load(); }
    bool Broken() const { return m_bBroken.load(); }
    // Sleeps until the time (of the library's clock), a Wake() or the stop; false when stopping.
    bool WaitUntil(Clock::time_point tp);
    void Wake();
    // Idles until the stop.
    void WaitForStop();
    // Idles until a Wake() or the stop; false when stopping.
    bool WaitForWake();

    // Runs call() (the callback, returning its result) with the callback lock held; a result of 0 or less is
    // repeated shortly after until accepted. Returns false when the stream stopped meanwhile.
    template <typename F>
    bool Deliver(F &&call)
    {
        for (;;) {
            {
                std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
                if (Stopping() || Broken())
                    return false;
                if (call() > 0)
                    return true;
            }
            if (!WaitUntil(Now() + kRetryDelay))
                return false;
        }
    }

    static constexpr std::chrono::milliseconds kRetryDelay{20};

    std::recursive_mutex m_callbackMutex;
    std::mutex m_mutex;     // guards the state of the subclasses and the wake flag

private:
    bool WaitForHeldClock(Clock::time_point &tp, bool &bResult);
    void LeaveHeldWait();
    // Sets the flag and wakes the thread, in a wait of its own or of the held clock.
    void Raise(std::atomic<bool> &bFlag);

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bBroken{false};
    std::atomic<bool> m_bWake{false};
    std::condition_variable m_cv;
    std::thread m_thread;
    // Guarded by the clock's mutex: the thread waits for the held clock until this time; it waits for a wake.
    bool m_bHeldWait = false;
    bool m_bIdleWait = false;
    Clock::time_point m_heldUntil;
};
