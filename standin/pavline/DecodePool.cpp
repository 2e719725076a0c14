#include "standin/pavline/DecodePool.h"

#include "standin/pavline/PavlineThreads.h"

#include <pthread.h>

#include <algorithm>
#include <limits>
#include <string>

namespace {

// An idle worker looks this often whether the clock is free: a service that waits (a callback held up) then
// does not hold up the other ports for longer.
constexpr auto kIdleLook = std::chrono::milliseconds(100);
// Workers kept while clients are attached, so that one of them can take the clock from a service held up.
constexpr int kMinWorkers = 2;

// The pool whose worker the calling thread is, and the client it services.
thread_local const DecodePool *tl_pWorkerOf = nullptr;
thread_local const DecodePool::Client *tl_pServicing = nullptr;

} // namespace

DecodePool::DecodePool(int nMaxWorkers)
    : m_nMaxWorkers(std::max(1, nMaxWorkers))
{
}

DecodePool::~DecodePool()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
        threads.swap(m_threads);
        m_cvClock.notify_all();
        m_cvIdle.notify_all();
    }
    for (std::thread &thread : threads)
        if (thread.joinable())
            thread.join();
}

int DecodePool::Workers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_threads.size());
}

void DecodePool::Attach(Client &client)
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (client.m_bAttached)
        return;
    client.m_bAttached = true;
    client.m_bQueued = false;
    client.m_due = Clock::time_point::max();
    client.m_cost = Clock::duration::zero();
    client.m_bReady = true;
    m_clients.push_back(&client);
    while (static_cast<int>(m_threads.size()) < std::min(kMinWorkers, m_nMaxWorkers))
        StartWorker();
    Poke();
}

void DecodePool::Detach(Client &client)
{
    bool bLast = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!client.m_bAttached)
            return;
        client.m_bAttached = false;
        m_clients.erase(std::find(m_clients.begin(), m_clients.end(), &client));
        if (client.m_bQueued) {
            m_queue.erase(std::find(m_queue.begin(), m_queue.end(), &client));
            client.m_bQueued = false;
        }
        // A service of it from the calling thread itself ends when the caller returns to it.
        if (tl_pServicing != &client)
            m_cvDone.wait(lock, [&] { return !client.m_bInService; });
        bLast = m_clients.empty();
    }
    if (bLast && tl_pWorkerOf != this)
        EndIdleWorkers();
}

void DecodePool::Ready(Client &client)
{
    if (client.m_bReady.exchange(true))
        return;
    // Nobody sleeps on the clock (0): whoever takes it next looks at every client. The clock wakes in time
    // anyway when it sleeps no longer than to the soonest tick it may make.
    const int64_t nPlanned = m_nPlannedNs.load();
    if (nPlanned == 0)
        return;
    const int64_t nSoonest = std::max(Ns(Clock::now()), m_nLastTickNs.load() + kTick.count());
    if (nPlanned <= nSoonest)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    Poke();
}

void DecodePool::EndIdleWorkers()
{
    if (tl_pWorkerOf == this)
        return;
    std::lock_guard<std::mutex> life(m_lifeMutex);
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_clients.empty() || m_nInService > 0 || m_threads.empty())
            return;
        m_bQuit = true;
        threads.swap(m_threads);
        m_cvClock.notify_all();
        m_cvIdle.notify_all();
    }
    for (std::thread &thread : threads)
        thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bQuit = false;
    m_bClock = false;
    m_bPoked = false;
    m_nIdle = 0;
    m_queue.clear();
    m_nPlannedNs = 0;
}

void DecodePool::StartWorker()
{
    const int nIndex = static_cast<int>(m_threads.size());
    m_threads.emplace_back([this, nIndex] { Run(nIndex); });
}

void DecodePool::Poke()
{
    m_bPoked = true;
    m_cvClock.notify_one();
}

void DecodePool::WakeHelpers(int nHelpers)
{
    const int nWake = std::min(nHelpers, m_nIdle);
    for (int i = 0; i < nWake; ++i)
        m_cvIdle.notify_one();
    for (int i = nWake; i < nHelpers && static_cast<int>(m_threads.size()) < m_nMaxWorkers; ++i)
        StartWorker();
}

void DecodePool::Run(int nIndex)
{
    PavlineThreads::Scope scope(-1);
    tl_pWorkerOf = this;
    pthread_setname_np(pthread_self(), ("pavline w" + std::to_string(nIndex)).c_str());
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bQuit) {
        if (!m_queue.empty()) {
            ServiceNext(lock);
            continue;
        }
        if (!m_bClock) {
            m_bClock = true;
            Tick(lock);
            m_bClock = false;
            continue;
        }
        ++m_nIdle;
        m_cvIdle.wait_for(lock, kIdleLook);
        --m_nIdle;
    }
    tl_pWorkerOf = nullptr;
}

void DecodePool::Tick(std::unique_lock<std::mutex> &lock)
{
    constexpr Clock::time_point kNever = Clock::time_point::max();
    for (;;) {
        if (m_bQuit)
            return;
        const Clock::time_point now = Clock::now();
        const Clock::time_point soonest = std::max(now, m_lastTick + kTick);
        Clock::time_point next = kNever;
        for (const Client *pClient : m_clients)
            if (!pClient->m_bInService && !pClient->m_bQueued)
                next = std::min(next, pClient->m_bReady.load() ? now : pClient->m_due);
        if (next != kNever)
            next = std::max(next, soonest);
        if (next > now) {
            m_nPlannedNs = next == kNever ? std::numeric_limits<int64_t>::max() : Ns(next);
            // A client made ready before the plan was up woke nobody: look at the flags once more.
            bool bReady = false;
            for (const Client *pClient : m_clients)
                bReady = bReady || (!pClient->m_bInService && !pClient->m_bQueued && pClient->m_bReady.load());
            if (bReady && soonest < next) {
                next = soonest;
                m_nPlannedNs = Ns(next);
            }
        }
        if (next > now) {
            m_bPoked = false;
            if (next == kNever)
                m_cvClock.wait(lock, [this] { return m_bPoked || m_bQuit; });
            else
                m_cvClock.wait_until(lock, next, [this] { return m_bPoked || m_bQuit; });
            m_nPlannedNs = 0;
            continue;
        }
        m_nPlannedNs = 0;
        m_lastTick = now;
        m_nLastTickNs = Ns(now);
        Clock::duration work = Clock::duration::zero();
        for (Client *pClient : m_clients) {
            if (pClient->m_bInService || pClient->m_bQueued)
                continue;
            const bool bReady = pClient->m_bReady.exchange(false);
            if (bReady || pClient->m_due <= now) {
                pClient->m_bQueued = true;
                m_queue.push_back(pClient);
                work += pClient->m_cost;
            }
        }
        if (m_queue.empty())
            continue;
        // This worker takes the first share itself.
        WakeHelpers(static_cast<int>(work / kWorkPerWorker));
        return;
    }
}

void DecodePool::ServiceNext(std::unique_lock<std::mutex> &lock)
{
    Client *pClient = m_queue.front();
    m_queue.pop_front();
    pClient->m_bQueued = false;
    pClient->m_bInService = true;
    ++m_nInService;
    // A tick that runs long gets help with the rest.
    if (!m_queue.empty() && m_nIdle > 0 && Clock::now() - m_lastTick > kWorkPerWorker)
        m_cvIdle.notify_one();
    lock.unlock();
    const Clock::time_point start = Clock::now();
    Clock::time_point due;
    {
        PavlineThreads::PortScope scope(pClient->Port());
        tl_pServicing = pClient;
        due = pClient->Service(start);
        tl_pServicing = nullptr;
    }
    const Clock::duration took = Clock::now() - start;
    lock.lock();
    pClient->m_bInService = false;
    --m_nInService;
    pClient->m_cost = (3 * pClient->m_cost + took) / 4;
    pClient->m_due = due;
    if (!pClient->m_bAttached) {
        m_cvDone.notify_all();
        return;
    }
    // Due sooner than the sleeping clock planned, or made ready while serviced: the clock plans again.
    const int64_t nPlanned = m_nPlannedNs.load();
    if (m_bClock && nPlanned != 0) {
        const Clock::time_point next = pClient->m_bReady.load() ? Clock::now() : due;
        if (next != Clock::time_point::max() && Ns(next) < nPlanned)
            Poke();
    }
}
