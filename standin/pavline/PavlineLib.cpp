#include "standin/pavline/PavlineLib.h"

#include "standin/pavline/FileConverter.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

constexpr size_t kJournalLines = 20000;

thread_local int32_t tl_nLastError = KTN_ERR_NONE;

} // namespace

PavlineLib &PavlineLib::Instance()
{
    static PavlineLib lib;
    return lib;
}

PavlineLib::PavlineLib()
    : m_pool(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())))
{
    for (int i = 0; i < KTN_VIEW_MAX_PORT; ++i)
        m_ports[static_cast<size_t>(i)] = std::make_unique<PavlinePort>(i, m_sound, m_pool);
    // A program run in a process of its own gets its failures from its environment: "NAME:ERROR[:PASS],...".
    if (const char *pFailures = std::getenv("PAVLINE_FAIL_NEXT")) {
        std::istringstream list(pFailures);
        std::string strItem;
        while (std::getline(list, strItem, ',')) {
            std::istringstream item(strItem);
            std::string strName, strError, strPass;
            std::getline(item, strName, ':');
            std::getline(item, strError, ':');
            std::getline(item, strPass, ':');
            char *pEnd = nullptr;
            const long nError = std::strtol(strError.c_str(), &pEnd, 10);
            if (strName.empty() || strError.empty() || *pEnd != '\0')
                continue;
            const long nPass = std::strtol(strPass.c_str(), nullptr, 10);
            FailNextCall(strName, static_cast<int32_t>(nError), static_cast<int>(std::max(0L, nPass)));
        }
    }
}

PavlineLib::~PavlineLib()
{
    m_capture.Stop();
    for (auto &pPort : m_ports)
        pPort->Reset();
    WaitForConversions();
}

bool PavlineLib::Enter(const char *pName, const std::string &strArgs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.push_back(strArgs.empty() ? std::string(pName) : std::string(pName) + " " + strArgs);
    while (m_journal.size() > kJournalLines)
        m_journal.pop_front();
    return !FailsNow(pName);
}

bool PavlineLib::EnterQuiet(const char *pName)
{
    if (m_nFailures.load() == 0)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return !FailsNow(pName);
}

bool PavlineLib::FailsNow(const char *pName)
{
    auto it = m_failNext.find(pName);
    if (it == m_failNext.end() || it->second.empty())
        return false;
    Failure &failure = it->second.front();
    if (failure.nPassFirst > 0) {
        --failure.nPassFirst;
        return false;
    }
    tl_nLastError = failure.nError;
    it->second.pop_front();
    --m_nFailures;
    return true;
}

void PavlineLib::SetLastError(int32_t nError) { tl_nLastError = nError; }

int32_t PavlineLib::LastError() { return tl_nLastError; }

int PavlineLib::Result(int32_t nError)
{
    if (nError == KTN_ERR_NONE)
        return 1;
    tl_nLastError = nError;
    return 0;
}

PavlinePort *PavlineLib::Port(int nPort)
{
    if (nPort < 0 || nPort >= KTN_VIEW_MAX_PORT) {
        tl_nLastError = KTN_ERR_PORT;
        return nullptr;
    }
    return m_ports[static_cast<size_t>(nPort)].get();
}

int32_t PavlineLib::Convert(const std::string &strSource, const std::string &strTarget, int nType,
                            KTN_fConvertProgressCallBack cb, void *pUser)
{
    if (nType != KTN_CONVERT_AVI || strSource.empty() || strTarget.empty())
        return KTN_ERR_PARAM;
    int32_t nError = KTN_ERR_NONE;
    std::unique_ptr<FileConverter> pConverter = FileConverter::Prepare(strSource, strTarget, nError);
    if (!pConverter)
        return nError;
    ReapConversions(false);
    auto pDone = std::make_shared<bool>(false);
    std::lock_guard<std::mutex> lock(m_conversionMutex);
    Conversion conversion;
    conversion.pDone = pDone;
    conversion.thread = std::thread([this, pDone, cb, pUser, p = std::shared_ptr<FileConverter>(std::move(pConverter))] {
        p->Run(cb, pUser);
        std::lock_guard<std::mutex> doneLock(m_conversionMutex);
        *pDone = true;
    });
    m_conversions.push_back(std::move(conversion));
    return KTN_ERR_NONE;
}

void PavlineLib::ReapConversions(bool bAll)
{
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> lock(m_conversionMutex);
        for (auto it = m_conversions.begin(); it != m_conversions.end();) {
            if (bAll || *it->pDone) {
                finished.push_back(std::move(it->thread));
                it = m_conversions.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread &thread : finished)
        if (thread.joinable())
            thread.join();
}

void PavlineLib::WaitForConversions() { ReapConversions(true); }

int PavlineLib::RunningConversions()
{
    std::lock_guard<std::mutex> lock(m_conversionMutex);
    int n = 0;
    for (const Conversion &conversion : m_conversions)
        if (!*conversion.pDone)
            ++n;
    return n;
}

std::vector<std::string> PavlineLib::Journal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<std::string>(m_journal.begin(), m_journal.end());
}

void PavlineLib::ClearJournal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
}

void PavlineLib::FailNextCall(const std::string &strName, int32_t nError, int nPassFirst)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failNext[strName].push_back(Failure{nError, nPassFirst});
    ++m_nFailures;
}

void PavlineLib::Reset()
{
    m_capture.Stop();
    for (auto &pPort : m_ports)
        pPort->Reset();
    WaitForConversions();
    m_pool.EndIdleWorkers();
    m_sound.Reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
    m_failNext.clear();
    m_nFailures = 0;
}
