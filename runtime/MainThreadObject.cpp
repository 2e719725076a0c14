#include "runtime/MainThreadObject.h"

#include "runtime/HandOffSync.h"
#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <atomic>
#include <thread>

namespace {
std::atomic<int> g_nFailedHandOffs{0};
}

int MainThreadObject::FailedHandOffs()
{
    return g_nFailedHandOffs;
}

void MainThreadObject::NoteFailedHandOff()
{
    ++g_nFailedHandOffs;
}

MainThreadObject *MainThreadObject::GetInstance()
{
    static MainThreadObject *s_pInstance = new MainThreadObject();
    return s_pInstance;
}

MainThreadObject::MainThreadObject(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication *pApp = QCoreApplication::instance())
        moveToThread(pApp->thread());
}

void MainThreadObject::RegisterMetaTypes()
{
    HandOffSync::RegisterFunctionType("std::function<void(void)>");
    HandOffSync::RegisterFunctionType("std::function<void()>");
}

void MainThreadObject::onReturnToMainThread(std::function<void(void)> callback)
{
    // An exception that crossed the event loop would end the process. A waiting caller has its own guard, which
    // carries the exception back to it; a posted function has nobody to tell but the log.
    try {
        callback();
    } catch (const std::exception &e) {
        NoteFailedHandOff();
        LOGE(QString("a function run on the GUI thread failed: %1").arg(QString::fromLocal8Bit(e.what())),
             "MainThreadObject::onReturnToMainThread");
    } catch (...) {
        NoteFailedHandOff();
        LOGE("a function run on the GUI thread failed", "MainThreadObject::onReturnToMainThread");
    }
}

bool MainThreadObject::event(QEvent *pEvent)
{
    if (pEvent->type() == QEvent::MetaCall)
        HandOffSync::Received();
    return QObject::event(pEvent);
}

void MainThreadObject::ServeWhile(const std::function<void()> &fnWait)
{
    QCoreApplication *pApp = QCoreApplication::instance();
    if (!pApp || QThread::currentThread() != pApp->thread()) {
        fnWait();
        return;
    }
    // The application's event loop may be over (or asked to quit): events are processed here directly.
    std::atomic<bool> bDone{false};
    MainThreadObject *pWake = GetInstance();
    std::thread waiter([&] {
        fnWait();
        bDone = true;
        QMetaObject::invokeMethod(pWake, [] {}, Qt::QueuedConnection);
    });
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    waiter.join();
}
