#include "runtime/CloseSignals.h"

#include "runtime/LightWeightLog.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's ends; the handler, which may run on any thread at any time, writes to the second.
int g_nReadFd = -1;
std::atomic<int> g_nWriteFd{-1};

void OnSignal(int nSignal)
{
    const int nSavedErrno = errno;
    const int nFd = g_nWriteFd.load();
    if (nFd >= 0) {
        const unsigned char nByte = static_cast<unsigned char>(nSignal);
        // Non-blocking: with the pipe full the signal is one of many already noted.
        [[maybe_unused]] const ssize_t nWritten = write(nFd, &nByte, 1);
    }
    errno = nSavedErrno;
}

} // namespace

CloseSignals::CloseSignals(QObject *parent)
    : QObject(parent)
{
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        LOGE(QString("no pipe for the close signals: %1").arg(errno), "CloseSignals::CloseSignals");
        return;
    }
    g_nReadFd = fds[0];
    g_nWriteFd = fds[1];
    m_pNotifier = std::make_unique<QSocketNotifier>(g_nReadFd, QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CloseSignals::onSignalReady);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : kSignals)
        sigaction(nSignal, &action, nullptr);
}

CloseSignals::~CloseSignals()
{
    if (!m_pNotifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int nSignal : kSignals)
        sigaction(nSignal, &action, nullptr);
    // The pipe stays until the process ends: a handler under way on another thread may still write to it.
    m_pNotifier.reset();
}

void CloseSignals::onSignalReady()
{
    unsigned char buffer[64];
    const ssize_t nRead = read(g_nReadFd, buffer, sizeof buffer);
    if (nRead <= 0)
        return;
    const int nSignal = buffer[0];
    if (m_bClosing) {
        LOGN(QString("signal %1 while closing: ignored").arg(nSignal), "CloseSignals::onSignalReady");
        return;
    }
    m_bClosing = true;
    LOGN(QString("signal %1: closing as the host does").arg(nSignal), "CloseSignals::onSignalReady");
    emit closeSig(nSignal);
}
