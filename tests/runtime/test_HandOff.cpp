#include "requests/CPluginManage.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManageHarness.h"
#include "tests/support/WaitUntil.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

class HandOff : public ::testing::Test
{
protected:
    ManageHarness m_harness;
    CPluginManage *Manage() { return m_harness.Manage(); }
    Qt::HANDLE GuiThread() { return QThread::currentThreadId(); }
};

TEST_F(HandOff, SyncOnTheGuiThreadRunsDirectly)
{
    Qt::HANDLE ranOn = nullptr;
    Manage()->returnToMainThreadSync([&] { ranOn = QThread::currentThreadId(); });
    EXPECT_EQ(ranOn, GuiThread());
}

TEST_F(HandOff, SyncFromTheRequestThreadBlocksUntilTheGuiThreadRanIt)
{
    Qt::HANDLE ranOn = nullptr;
    int nResult = 0;
    Qt::HANDLE callerThread = nullptr;
    m_harness.RunOnRequestThread([&] {
        callerThread = QThread::currentThreadId();
        int nLocal = 0;
        // The function writes into the caller's local: valid only because the caller waits.
        Manage()->returnToMainThreadSync([&nLocal, &ranOn] {
            ranOn = QThread::currentThreadId();
            nLocal = 121;
        });
        nResult = nLocal;
    });
    EXPECT_EQ(ranOn, GuiThread());
    EXPECT_NE(callerThread, GuiThread());
    EXPECT_EQ(nResult, 121);
}

TEST_F(HandOff, SyncFromALibraryThreadBlocksToo)
{
    std::atomic<Qt::HANDLE> ranOn{nullptr};
    std::atomic<int> nSeen{0};
    std::thread library([&] {
        int nLocal = 0;
        Manage()->returnToMainThreadSync([&] {
            ranOn = QThread::currentThreadId();
            nLocal = 7;
        });
        nSeen = nLocal;
    });
    WaitUntil([&] { return nSeen.load() != 0; });
    library.join();
    EXPECT_EQ(ranOn.load(), GuiThread());
    EXPECT_EQ(nSeen.load(), 7);
}

TEST_F(HandOff, AsyncIsPostedEvenOnTheGuiThread)
{
    bool bRan = false;
    emit Manage()->returnToMainThreadAsyncSig([&] { bRan = true; });
    EXPECT_FALSE(bRan) << "route 2 ran inside the emit";
    WaitUntil([&] { return bRan; });
    EXPECT_TRUE(bRan);
}

TEST_F(HandOff, AsyncFromTheRequestThreadDoesNotWait)
{
    std::promise<void> emitted;
    std::shared_future<void> emittedFuture = emitted.get_future().share();
    std::atomic<bool> bRan{false};
    std::atomic<bool> bEmitterWentOn{false};
    std::atomic<Qt::HANDLE> ranOn{nullptr};
    // A plain value written before the hand-off is the function's to read (ThreadSanitizer checks the order).
    int nHandedOver = 0;
    int nRead = 0;
    m_harness.RunOnRequestThread([&] {
        nHandedOver = 42;
        emit Manage()->returnToMainThreadAsyncSig([emittedFuture, &bRan, &bEmitterWentOn, &ranOn, &nHandedOver, &nRead] {
            // Had the emitter waited for this function, the future would never be ready in time.
            bEmitterWentOn = emittedFuture.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
            ranOn = QThread::currentThreadId();
            nRead = nHandedOver;
            bRan = true;
        });
        emitted.set_value();
    });
    WaitUntil([&] { return bRan.load(); });
    EXPECT_TRUE(bEmitterWentOn);
    EXPECT_EQ(ranOn.load(), GuiThread());
    EXPECT_EQ(nRead, 42);
}

TEST_F(HandOff, BackToTheRequestThreadInlineThereQueuedFromElsewhere)
{
    // Emitted on the request thread: runs within the emit.
    bool bInline = false;
    m_harness.RunOnRequestThread([&] {
        bool bRan = false;
        emit Manage()->returnToThisThreadSig([&] { bRan = true; });
        bInline = bRan;
    });
    EXPECT_TRUE(bInline);

    // Emitted on a library thread: queued to the request thread, and the emitter goes on at once.
    std::promise<void> emitted;
    std::shared_future<void> emittedFuture = emitted.get_future().share();
    std::atomic<Qt::HANDLE> ranOn{nullptr};
    std::atomic<bool> bWaitedForEmitter{false};
    int nHandedOver = 0;
    int nRead = 0;
    std::thread library([&] {
        nHandedOver = 7;
        emit Manage()->returnToThisThreadSig([emittedFuture, &ranOn, &bWaitedForEmitter, &nHandedOver, &nRead] {
            // Had it run inside the emit, the emitter could not have returned yet and this wait would time out.
            bWaitedForEmitter = emittedFuture.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
            nRead = nHandedOver;
            ranOn = QThread::currentThreadId();
        });
        emitted.set_value();
    });
    library.join();
    WaitUntil([&] { return ranOn.load() != nullptr; });
    Qt::HANDLE requestThread = nullptr;
    m_harness.RunOnRequestThread([&] { requestThread = QThread::currentThreadId(); });
    EXPECT_TRUE(bWaitedForEmitter);
    EXPECT_EQ(ranOn.load(), requestThread);
    EXPECT_EQ(nRead, 7);
}

// An exception must never cross an event loop (Qt would end the process): route 1 raises it in the caller that
// waited, routes 2 and 3 log it, and each route goes on serving.
TEST_F(HandOff, AnExceptionOnTheGuiThreadIsRaisedInTheWaitingCaller)
{
    const int nFailedBefore = MainThreadObject::FailedHandOffs();
    std::string strCaught;
    bool bRanAfter = false;
    m_harness.RunOnRequestThread([&] {
        try {
            Manage()->returnToMainThreadSync([] { throw std::runtime_error("unreadable field"); });
        } catch (const std::runtime_error &e) {
            strCaught = e.what();
        }
        Manage()->returnToMainThreadSync([&] { bRanAfter = true; });
    });
    EXPECT_EQ(strCaught, "unreadable field");
    EXPECT_TRUE(bRanAfter);
    EXPECT_EQ(MainThreadObject::FailedHandOffs(), nFailedBefore + 1);
}

TEST_F(HandOff, AnExceptionInAPostedFunctionIsLoggedAndTheNextOneRuns)
{
    LogCapture log;
    const int nFailedBefore = MainThreadObject::FailedHandOffs();
    std::atomic<bool> bGuiRan{false};
    std::atomic<bool> bRequestRan{false};
    emit Manage()->returnToMainThreadAsyncSig([] { throw std::runtime_error("async"); });
    emit Manage()->returnToMainThreadAsyncSig([&] { bGuiRan = true; });
    std::thread library([&] {
        emit Manage()->returnToThisThreadSig([] { throw std::runtime_error("back"); });
        emit Manage()->returnToThisThreadSig([&] { bRequestRan = true; });
    });
    library.join();
    EXPECT_TRUE(WaitUntil([&] { return bGuiRan && bRequestRan; }));
    EXPECT_TRUE(log.Contains("a function run on the GUI thread failed: async"));
    EXPECT_TRUE(log.Contains("a function handed back to the request thread failed: back"));
    EXPECT_EQ(MainThreadObject::FailedHandOffs(), nFailedBefore + 2);
}
