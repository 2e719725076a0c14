#include "standin/korvex/SimStream.h"

namespace {
thread_local bool t_bLibraryThread = false;
std::atomic<int> g_nRunning{0};
}

SimStream::SimStream(Kind eKind, int32_t nHandle, int32_t nLogin)
    : m_eKind(eKind)
    , m_nHandle(nHandle)
    , m_nLogin(nLogin)
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
void SimStream::ThreadEnded() { --g_nRunning; }

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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
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
    m_cv.notify_all();
}

bool SimStream::WaitUntil(Clock::time_point tp)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, tp, [this] { return m_bStop.load() || m_bWake; });
    m_bWake = false;
    return !m_bStop.load();
}

void SimStream::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bWake = true;
    }
    m_cv.notify_all();
}

void SimStream::WaitForStop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_bStop.load(); });
}
