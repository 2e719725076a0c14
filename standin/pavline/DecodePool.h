#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// The workers that decode and draw for the playing ports: at most one per core, driven by one clock. One worker
// at a time holds the clock: it sleeps until the next tick, which comes kTick after the one before at the
// soonest, then services every port that has something due, itself, and wakes as many idle workers to help as
// the work the tick is expected to take asks for. Between ticks nothing is woken: input and control calls mark
// their port ready for the next tick, and wake the clock only when it would otherwise sleep past that tick. So
// the ports share their wakes, and no worker wakes more than once a tick.
//
// A service never runs for one port on two workers at once. Detach returns once no service of the port runs or
// can start. A service that waits (a callback held up) holds up no other port for long: idle workers look now
// and then whether the clock is free, and take it.
class DecodePool
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kTick = std::chrono::milliseconds(10);
    // The work one worker is given in a tick; more wakes another.
    static constexpr Clock::duration kWorkPerWorker = std::chrono::milliseconds(4);

    // What a worker services: a playing port.
    class Client
    {
    public:
        explicit Client(int nPort)
            : m_nPort(nPort)
        {
        }
        virtual ~Client() = default;
        Client(const Client &) = delete;
        Client &operator=(const Client &) = delete;

        int Port() const { return m_nPort; }
        // Does what is due at now, on a worker. Returns when it is to be serviced again: a time, or
        // Clock::time_point::max() for once it is made ready.
        virtual Clock::time_point Service(Clock::time_point now) = 0;

    private:
        friend class DecodePool;
        const int m_nPort;
        std::atomic<bool> m_bReady{false};
        // Guarded by the pool's mutex.
        bool m_bAttached = false;
        bool m_bQueued = false;
        bool m_bInService = false;
        Clock::time_point m_due = Clock::time_point::max();
        Clock::duration m_cost{};       // what its services took lately
    };

    explicit DecodePool(int nMaxWorkers);
    ~DecodePool();
    DecodePool(const DecodePool &) = delete;
    DecodePool &operator=(const DecodePool &) = delete;

    // The client is serviced from the next tick on.
    void Attach(Client &client);
    // Returns when no service of the client runs or can start (at once when the calling thread is servicing
    // it). The last detach made outside the workers ends them.
    void Detach(Client &client);
    // The client has something to do now: it is serviced at the next tick.
    void Ready(Client &client);
    // Ends the workers when no client is attached (a detach made on a worker leaves them waiting).
    void EndIdleWorkers();
    int Workers() const;

private:
    static int64_t Ns(Clock::time_point t) { return t.time_since_epoch().count(); }
    void Run(int nIndex);
    // The clock's turn: m_mutex held in lk, returns when the queue holds the clients of a tick, or on quit.
    void Tick(std::unique_lock<std::mutex> &lk);
    void ServiceNext(std::unique_lock<std::mutex> &lk);
    void WakeHelpers(int nHelpers);
    void StartWorker();
    // m_mutex held: the clock sleeps (and is told of a sooner time) or nobody holds it.
    void Poke();

    const int m_nMaxWorkers;
    std::mutex m_lifeMutex;                 // starting the first worker and ending them all
    mutable std::mutex m_mutex;             // everything below but the atomics
    std::condition_variable m_cvClock;      // the clock's sleep
    std::condition_variable m_cvIdle;       // workers without work
    std::condition_variable m_cvDone;       // a service ended (for a detach)
    std::vector<std::thread> m_threads;
    std::vector<Client *> m_clients;
    std::deque<Client *> m_queue;           // due in the current tick, not yet taken
    bool m_bQuit = false;
    bool m_bClock = false;                  // a worker holds the clock
    bool m_bPoked = false;
    int m_nIdle = 0;
    int m_nInService = 0;
    Clock::time_point m_lastTick{};
    // When the sleeping clock wakes (0 when it does not sleep, so that a ready client needs to wake nobody),
    // and the last tick, as nanoseconds of Clock.
    std::atomic<int64_t> m_nPlannedNs{0};
    std::atomic<int64_t> m_nLastTickNs{0};
};
