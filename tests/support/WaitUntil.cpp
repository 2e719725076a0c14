#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

bool WaitUntil(const std::function<bool()> &pred, int nTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    // Only the application's thread has events of the test to run meanwhile.
    const QCoreApplication *pApp = QCoreApplication::instance();
    const bool bGuiThread = pApp && QThread::currentThread() == pApp->thread();
    while (!pred()) {
        if (timer.elapsed() > nTimeoutMs)
            return false;
        if (bGuiThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}
