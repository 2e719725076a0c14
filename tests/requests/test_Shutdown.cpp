// The end of the process: while the GUI thread ends the link and the request thread, route-1 calls made by
// their last work still run; once the request thread has ended, a route-1 call returns without running.

#include "requests/CPluginManage.h"
#include "runtime/HandOffSync.h"
#include "runtime/ListenThread.h"
#include "tests/support/ManageHarness.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

// The link's end posts the application's quit, which would end every later event loop of this process at once;
// a short run of the application's own loop, which starts afresh, takes it.
void TakeQuit()
{
    QCoreApplication::processEvents();
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

} // namespace

TEST(Shutdown, ARouteOneCallOfTheRequestThreadRunsWhileTheGuiThreadEndsIt)
{
    std::atomic<bool> bRanOnGui{false};
    std::atomic<int> nResult{0};
    std::promise<void> started;
    std::promise<void> ending;
    std::shared_future<void> endingFuture = ending.get_future().share();
    ManageHarness harness;
    CPluginManage *pManage = harness.Manage();
    const Qt::HANDLE gui = QThread::currentThreadId();
    HandOffSync::Invoke(pManage, [&, endingFuture] {
        started.set_value();
        endingFuture.wait();
        int nLocal = 0;
        pManage->returnToMainThreadSync([&] {
            bRanOnGui = QThread::currentThreadId() == gui;
            nLocal = 121;
        });
        nResult = nLocal;
    }, Qt::QueuedConnection);
    started.get_future().wait();
    // From here the GUI thread runs no event until it waits for the request thread to end.
    ending.set_value();
    pManage->StopThread();
    EXPECT_TRUE(bRanOnGui.load());
    EXPECT_EQ(nResult.load(), 121);
}

TEST(Shutdown, AfterTheEndARouteOneCallReturnsWithoutRunning)
{
    ManageHarness harness;
    CPluginManage *pManage = harness.Manage();
    pManage->StopThread();

    std::atomic<bool> bRan{false};
    std::atomic<bool> bReturned{false};
    std::thread library([&] {
        pManage->returnToMainThreadSync([&] { bRan = true; });
        bReturned = true;
    });
    // The GUI thread runs its events meanwhile: a call still handed to it would run here.
    EXPECT_TRUE(WaitUntil([&] { return bReturned.load(); }));
    library.join();
    EXPECT_FALSE(bRan.load());

    // On the GUI thread itself it still runs directly.
    bool bDirect = false;
    pManage->returnToMainThreadSync([&] { bDirect = true; });
    EXPECT_TRUE(bDirect);
}

TEST(Shutdown, TheHostsDisconnectionLogoutWaitingForTheGuiThreadLetsTheEndFinish)
{
    QLocalServer server;
    const QString strName = QString("quorrin-shutdown-%1").arg(QCoreApplication::applicationPid());
    QLocalServer::removeServer(strName);
    ASSERT_TRUE(server.listen(strName));

    std::atomic<bool> bRanOnGui{false};
    std::atomic<bool> bLogoutDone{false};
    std::promise<void> entered;
    std::promise<void> go;
    std::shared_future<void> goFuture = go.get_future().share();
    ManageHarness harness;
    CPluginManage *pManage = harness.Manage();
    const Qt::HANDLE gui = QThread::currentThreadId();
    auto pListen = std::make_unique<ListenThread>(strName, nullptr, 5000);
    ASSERT_TRUE(pListen->IsConnected());
    ASSERT_TRUE(server.waitForNewConnection(5000));
    QLocalSocket *pHost = server.nextPendingConnection();
    ASSERT_NE(pHost, nullptr);
    // As main wires it: the link waits for the logout, which runs on the request thread and waits for the
    // GUI thread.
    QObject::connect(pListen.get(), &ListenThread::disconnectSig, pManage, [&, goFuture] {
        entered.set_value();
        goFuture.wait();
        pManage->returnToMainThreadSync([&] { bRanOnGui = QThread::currentThreadId() == gui; });
        bLogoutDone = true;
    }, Qt::BlockingQueuedConnection);
    pListen->Start();

    pHost->abort();
    entered.get_future().wait();
    // The GUI thread ends the link and then the request thread, as main does, while the logout still waits.
    go.set_value();
    pListen->Stop();
    pManage->StopThread();
    EXPECT_TRUE(bRanOnGui.load());
    EXPECT_TRUE(bLogoutDone.load());
    pListen.reset();
    TakeQuit();
}
