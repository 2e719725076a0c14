#include "standin/pavline/PavlineThreads.h"

#include <atomic>

namespace {

std::atomic<int> g_nRunning{0};
thread_local bool tl_bLibrary = false;
thread_local int tl_nPort = -1;

} // namespace

PavlineThreads::Scope::Scope(int nPort)
{
    tl_bLibrary = true;
    tl_nPort = nPort;
    ++g_nRunning;
}

PavlineThreads::Scope::~Scope()
{
    --g_nRunning;
    tl_bLibrary = false;
    tl_nPort = -1;
}

PavlineThreads::PortScope::PortScope(int nPort)
    : m_nPrevious(tl_nPort)
{
    tl_nPort = nPort;
}

PavlineThreads::PortScope::~PortScope() { tl_nPort = m_nPrevious; }

int PavlineThreads::Running() { return g_nRunning.load(); }

bool PavlineThreads::OnLibraryThread() { return tl_bLibrary; }

int PavlineThreads::CurrentPort() { return tl_nPort; }
