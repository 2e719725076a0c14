#include "standin/korvex/SimStream.h"

#include <map>
#include <set>
#include <vector>

namespace {
thread_local bool t_bLibraryThread = false;
std::atomic<int> g_nRunning{0};

// The held clock of the tests, and the library threads that wait with nothing to do.
struct ClockState
{
    std::mutex mutex;
    std::condition_variable cv;         // a held wait ended
    std::condition_variable idleCv;     // a thread parked or ended
    bool bHeld = false;
    SimStream::Clock::time_point now;           // while held
    SimStream::Clock::duration offset{0};       // else: ahead of the steady clock by what a hold added
    int nParked = 0;
    std::set<SimStream *> heldWaits;
    std::mutex listenerMutex;
    std::map<int, std::function<void()>> listeners;
    int nNextListener = 1;
};

// Never destroyed: the library's own static state stops its threads at the process's end and still uses it.
ClockState &TheClock()
{
    static ClockState *s_pClock = new ClockState();
    return *s_pClock;
}

void TellListeners()
{
    ClockState &c = TheClock();
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> lock(c.listenerMutex);
        for (const auto &entry : c.listeners)
            listeners.push_back(entry.second);
    }
    for (const auto &fn : listeners)
        fn();
}

} // namespace

SimStream::SimStream(Kind eKind, int32_t nHandle, int32_t nLogin)
    : SimHandle(eKind, nHandle, nLogin)
{
}

SimStream::~SimStream()
{
    // A stream is always stopped before its last reference goes; a thread left here would end the process.
    if (m_thread.joinable())
        m_thread.detach();
}

bool SimStream::OnLibraryThread() { return t_bLibraryThread; }
void SimStream::MarkLibraryThread() { t_bLibraryThread = true; }
int SimStream::RunningThreads() { return g_nRunning.load(); }
void SimStream::ThreadStarted() { ++g_nRunning; }

void SimStream::ThreadEnded()
{
    ClockState &c = TheClock();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        --g_nRunning;
    }
    c.idleCv.notify_all();
}

SimStream::Clock::time_point SimStream::Now()
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.bHeld ? c.now : Clock::now() + c.offset;
}

void SimStream::HoldClock()
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.bHeld) {
        c.bHeld = true;
        c.now = Clock::now() + c.offset;
    }
}

void SimStream::AdvanceClock(std::chrono::microseconds step)
{
    ClockState &c = TheClock();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!c.bHeld)
            return;
        c.now += step;
        // The waits that are due end here, so that the threads count as busy before this returns.
        for (auto it = c.heldWaits.begin(); it != c.heldWaits.end();) {
            SimStream *pStream = *it;
            if (pStream->m_heldUntil <= c.now) {
                pStream->m_bHeldWait = false;
                --c.nParked;
                it = c.heldWaits.erase(it);
            } else {
                ++it;
            }
        }
    }
    c.cv.notify_all();
    TellListeners();
}

void SimStream::ReleaseClock()
{
    ClockState &c = TheClock();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.bHeld)
            c.offset = c.now - Clock::now();
        c.bHeld = false;
        for (SimStream *pStream : c.heldWaits) {
            pStream->m_bHeldWait = false;
            --c.nParked;
        }
        c.heldWaits.clear();
    }
    c.cv.notify_all();
    TellListeners();
}

SimStream::Clock::time_point SimStream::SteadyTime(Clock::time_point tp, bool &bHeld)
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    bHeld = c.bHeld;
    return tp - c.offset;
}

int SimStream::AddClockListener(std::function<void()> fn)
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.listenerMutex);
    const int nListener = c.nNextListener++;
    c.listeners[nListener] = std::move(fn);
    return nListener;
}

void SimStream::RemoveClockListener(int nListener)
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.listenerMutex);
    c.listeners.erase(nListener);
}

void SimStream::Park()
{
    ClockState &c = TheClock();
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        ++c.nParked;
    }
    c.idleCv.notify_all();
}

void SimStream::Unpark()
{
    ClockState &c = TheClock();
    std::lock_guard<std::mutex> lock(c.mutex);
    --c.nParked;
}

bool SimStream::WaitForIdle(int nTimeoutMs)
{
    ClockState &c = TheClock();
    std::unique_lock<std::mutex> lock(c.mutex);
    return c.idleCv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                             [&] { return c.nParked == g_nRunning.load(); });
}

// Ends this stream's wait for the held clock (the clock's mutex held).
void SimStream::LeaveHeldWait()
{
    if (!m_bHeldWait)
        return;
    m_bHeldWait = false;
    --TheClock().nParked;
    TheClock().heldWaits.erase(this);
}

// False when the clock is not held: tp is then turned into a time of the steady clock for the caller to wait
// for. Else waits and sets bResult.
bool SimStream::WaitForHeldClock(Clock::time_point &tp, bool &bResult)
{
    ClockState &c = TheClock();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!c.bHeld) {
        tp -= c.offset;
        return false;
    }
    if (!m_bStop.load() && !m_bWake.load() && c.now < tp) {
        m_bHeldWait = true;
        m_heldUntil = tp;
        c.heldWaits.insert(this);
        ++c.nParked;
        c.idleCv.notify_all();
        c.cv.wait(lock, [this] { return !m_bHeldWait; });
    }
    m_bWake = false;
    bResult = !m_bStop.load();
    return true;
}

void SimStream::Start()
{
    std::shared_ptr<SimStream> self = shared_from_this();
    ThreadStarted();
    m_thread = std::thread([self]() mutable {
        MarkLibraryThread();
        self->Run();
        self.reset();
        ThreadEnded();
    });
}

std::thread SimStream::Stop()
{
    Raise(m_bStop);
    if (std::this_thread::get_id() == m_thread.get_id())
        return std::move(m_thread);
    if (m_thread.joinable())
        m_thread.join();
    return std::thread();
}

void SimStream::Break()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bBroken = true;
    }
    Wake();
}

bool SimStream::WaitUntil(Clock::time_point tp)
{
    bool bResult = true;
    if (WaitForHeldClock(tp, bResult))
        return bResult;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, tp, [this] { return m_bStop.load() || m_bWake.load(); });
    m_bWake = false;
    return !m_bStop.load();
}

void SimStream::Wake() { Raise(m_bWake); }

void SimStream::Raise(std::atomic<bool> &bFlag)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bFlag = true;
    }
    m_cv.notify_all();
    {
        std::lock_guard<std::mutex> lock(TheClock().mutex);
        LeaveHeldWait();
        if (m_bIdleWait) {
            m_bIdleWait = false;
            --TheClock().nParked;
        }
    }
    TheClock().cv.notify_all();
}

void SimStream::WaitForStop()
{
    Park();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_bStop.load(); });
    }
    Unpark();
}

bool SimStream::WaitForWake()
{
    // Idle as a wait for the held clock is: only Raise() ends it, so that the thread counts as busy again before
    // the call that woke it returns.
    ClockState &c = TheClock();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!m_bStop.load() && !m_bWake.load()) {
        m_bIdleWait = true;
        ++c.nParked;
        c.idleCv.notify_all();
        c.cv.wait(lock, [this] { return !m_bIdleWait; });
    }
    m_bWake = false;
    return !m_bStop.load();
}
