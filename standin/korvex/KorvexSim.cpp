#include "standin/korvex/KorvexSim.h"

#include <cstring>

namespace {
thread_local int32_t t_nLastError = 0;
}

KorvexSim &KorvexSim::Instance()
{
    static KorvexSim sim;
    return sim;
}

void KorvexSim::Record(const std::string &strCall)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.push_back(strCall);
}

std::vector<std::string> KorvexSim::Journal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_journal;
}

void KorvexSim::ClearJournal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
}

int32_t KorvexSim::Init(ZDK_fDisConnect cbDisConnect, void *pUser)
{
    Record("ZDK_DEV_Init");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cbDisConnect = cbDisConnect;
    m_pDisConnectUser = pUser;
    m_bInitialised = true;
    return 1;
}

int32_t KorvexSim::InitAppInfo(const ZDK_AppAccountInfo *pAccount)
{
    Record("ZDK_DEV_InitAppInfo");
    if (!pAccount) {
        SetLastError(-10000);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_account = *pAccount;
    return 1;
}

int32_t KorvexSim::UserData(int32_t nType, const char *pData, int32_t nLen)
{
    Record("ZDK_DEV_UserData " + std::to_string(nType) + " " + std::to_string(nLen));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nUserDataType = nType;
    m_strUserData = pData ? std::string(pData, strnlen(pData, 64)) : std::string();
    return 1;
}

int32_t KorvexSim::Cleanup()
{
    Record("ZDK_DEV_Cleanup");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bInitialised = false;
    m_cbDisConnect = nullptr;
    m_pDisConnectUser = nullptr;
    return 1;
}

void KorvexSim::SetLastError(int32_t nError) { t_nLastError = nError; }
int32_t KorvexSim::LastError() { return t_nLastError; }

void KorvexSim::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
    m_bInitialised = false;
    m_cbDisConnect = nullptr;
    m_pDisConnectUser = nullptr;
    m_account = ZDK_AppAccountInfo{};
    m_nUserDataType = 0;
    m_strUserData.clear();
}
