// The decode library's pool of workers with clients of the test's own: every ready client is serviced, never on
// two workers at once, no more than once a tick; a detach waits for a service under way; the workers end with the
// last client, and more of them share a tick that holds much work.

#include "standin/pavline/DecodePool.h"
#include "standin/pavline/PavlineThreads.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = DecodePool::Clock;

// A client that counts its services, notes the threads they ran on, and can be held inside one.
class TestClient : public DecodePool::Client
{
public:
    explicit TestClient(int nPort = 0)
        : DecodePool::Client(nPort)
    {
    }

    Clock::time_point Service(Clock::time_point now) override
    {
        if (m_bInside.exchange(true))
            m_bOverlap = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_threads.insert(std::this_thread::get_id());
            m_nPort = PavlineThreads::CurrentPort();
        }
        if (m_bHold) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_bHeld = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_bHold; });
        }
        if (m_busy > Clock::duration::zero()) {
            const Clock::time_point until = Clock::now() + m_busy;
            while (Clock::now() < until) {
            }
        }
        if (m_onService)
            m_onService();
        ++m_nServices;
        m_bInside = false;
        return m_bAgain ? now : Clock::time_point::max();
    }

    // The next service waits inside until Release.
    void Hold() { m_bHold = true; }
    bool WaitHeld()
    {
        return WaitUntil([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_bHeld;
        });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = false;
        m_cv.notify_all();
    }
    std::set<std::thread::id> Threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }
    int PortSeen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nPort;
    }

    std::atomic<int> m_nServices{0};
    std::atomic<bool> m_bInside{false};
    std::atomic<bool> m_bOverlap{false};
    std::atomic<bool> m_bAgain{false};          // wants to be serviced again at once (work left)
    Clock::duration m_busy{};
    std::function<void()> m_onService;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_bHold{false};
    bool m_bHeld = false;
    std::set<std::thread::id> m_threads;
    int m_nPort = -2;
};

TEST(DecodePool, EveryReadyClientIsServicedOnAWorkerOfItsPort)
{
    DecodePool pool(4);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<TestClient>(100 + i));
        pool.Attach(*clients.back());
    }
    // Attached, each is serviced once; then only when made ready, from threads of the test's own, over and over
    // while the clock may sleep for good.
    ASSERT_TRUE(WaitUntil([&] {
        for (auto &p : clients)
            if (p->m_nServices.load() < 1)
                return false;
        return true;
    }));
    for (int nRound = 2; nRound <= 30; ++nRound) {
        std::vector<std::thread> readiers;
        for (int t = 0; t < 4; ++t)
            readiers.emplace_back([&, t] {
                for (size_t i = static_cast<size_t>(t); i < clients.size(); i += 4)
                    pool.Ready(*clients[i]);
            });
        for (std::thread &thread : readiers)
            thread.join();
        ASSERT_TRUE(WaitUntil([&] {
            for (auto &p : clients)
                if (p->m_nServices.load() < nRound)
                    return false;
            return true;
        })) << "round " << nRound;
    }
    EXPECT_LE(pool.Workers(), 4);
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_FALSE(clients[i]->m_bOverlap.load());
        EXPECT_EQ(clients[i]->PortSeen(), static_cast<int>(100 + i));
    }
    for (auto &p : clients)
        pool.Detach(*p);
    // The last detach, made outside the workers, ended them.
    EXPECT_EQ(pool.Workers(), 0);
    EXPECT_EQ(PavlineThreads::Running(), 0);
}

TEST(DecodePool, AClientWithWorkLeftIsServicedAtMostOnceATick)
{
    DecodePool pool(2);
    TestClient client;
    client.m_bAgain = true;
    const Clock::time_point start = Clock::now();
    pool.Attach(client);
    ASSERT_TRUE(WaitUntil([&] { return client.m_nServices.load() >= 10; }));
    pool.Detach(client);
    const auto elapsed = Clock::now() - start;
    // However busy or idle the machine, no tick comes sooner than kTick after the one before.
    EXPECT_LE(client.m_nServices.load(), 1 + static_cast<int>(elapsed / DecodePool::kTick));
}

TEST(DecodePool, ADetachWaitsForTheServiceUnderWay)
{
    DecodePool pool(2);
    TestClient held, other;
    held.Hold();
    pool.Attach(held);
    pool.Attach(other);
    // A failed check below must not leave the pool waiting for the held service at its end, nor a client
    // destroyed while the pool has it.
    struct ReleaseAtEnd
    {
        DecodePool &pool;
        TestClient &held, &other;
        ~ReleaseAtEnd()
        {
            held.Release();
            pool.Detach(held);
            pool.Detach(other);
        }
    } releaseAtEnd{pool, held, other};
    ASSERT_TRUE(held.WaitHeld());
    // Another client is serviced meanwhile, and again once made ready after that (made ready before its first
    // service, the two would be one), and the held one is not serviced twice at once.
    ASSERT_TRUE(WaitUntil([&] { return other.m_nServices.load() >= 1; }));
    pool.Ready(other);
    ASSERT_TRUE(WaitUntil([&] { return other.m_nServices.load() >= 2; }));
    std::atomic<bool> bDetached{false}, bInsideAtReturn{true};
    std::thread detacher([&] {
        pool.Detach(held);
        bInsideAtReturn = held.m_bInside.load();
        bDetached = true;
    });
    held.Release();
    detacher.join();
    EXPECT_TRUE(bDetached.load());
    EXPECT_FALSE(bInsideAtReturn.load());
    // Detached, it is never serviced again, made ready or not.
    const int nServices = held.m_nServices.load();
    pool.Ready(held);
    pool.Ready(other);
    ASSERT_TRUE(WaitUntil([&] { return other.m_nServices.load() >= 3; }));
    EXPECT_EQ(held.m_nServices.load(), nServices);
    pool.Detach(other);
}

TEST(DecodePool, AServiceMayDetachAnotherClient)
{
    DecodePool pool(2);
    TestClient first(1), second(2);
    // The first client's service detaches the second (as a port's callback stops another port).
    std::atomic<bool> bDetachedInside{false};
    first.m_onService = [&] {
        if (!bDetachedInside.exchange(true))
            pool.Detach(second);
    };
    pool.Attach(second);
    ASSERT_TRUE(WaitUntil([&] { return second.m_nServices.load() >= 1; }));
    pool.Attach(first);
    ASSERT_TRUE(WaitUntil([&] { return first.m_nServices.load() >= 1; }));
    const int nSecond = second.m_nServices.load();
    pool.Ready(second);
    pool.Ready(first);
    ASSERT_TRUE(WaitUntil([&] { return first.m_nServices.load() >= 2; }));
    EXPECT_EQ(second.m_nServices.load(), nSecond);
    pool.Detach(first);
    EXPECT_EQ(pool.Workers(), 0);
}

TEST(DecodePool, ATickWithMuchWorkIsSharedByMoreWorkers)
{
    DecodePool pool(4);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<TestClient>(i));
        // Each service takes more than a worker's share of a tick.
        clients.back()->m_busy = DecodePool::kWorkPerWorker;
        clients.back()->m_bAgain = true;
        pool.Attach(*clients.back());
    }
    std::set<std::thread::id> threads;
    ASSERT_TRUE(WaitUntil([&] {
        threads.clear();
        for (auto &p : clients)
            for (std::thread::id id : p->Threads())
                threads.insert(id);
        return threads.size() >= 2;
    }));
    for (auto &p : clients) {
        pool.Detach(*p);
        EXPECT_FALSE(p->m_bOverlap.load());
    }
    EXPECT_LE(threads.size(), 4u);
}

} // namespace
