// The korvex.h functions of the simulated device library.

#include "platform/korvex.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/korvex/KorvexSim.h"

#include <cstring>

int32_t ZDK_DEV_Init(ZDK_fDisConnect cbDisConnect, void *pUser) { return KorvexSim::Instance().Init(cbDisConnect, pUser); }
int32_t ZDK_DEV_InitAppInfo(const ZDK_AppAccountInfo *pAccount) { return KorvexSim::Instance().InitAppInfo(pAccount); }
int32_t ZDK_DEV_UserData(int32_t nType, const char *pData, int32_t nLen) { return KorvexSim::Instance().UserData(nType, pData, nLen); }
int32_t ZDK_DEV_Cleanup() { return KorvexSim::Instance().Cleanup(); }
int32_t ZDK_DEV_GetLastError() { return KorvexSim::LastError(); }

namespace KorvexControl {

std::vector<std::string> Journal() { return KorvexSim::Instance().Journal(); }
void ClearJournal() { KorvexSim::Instance().ClearJournal(); }

bool IsInitialised()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return sim.m_bInitialised;
}

std::string AppUuid()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return std::string(sim.m_account.Uuid, strnlen(sim.m_account.Uuid, sizeof sim.m_account.Uuid));
}

std::string AppKey()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return std::string(sim.m_account.AppKey, strnlen(sim.m_account.AppKey, sizeof sim.m_account.AppKey));
}

int AppMoveCard()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return sim.m_account.MoveCard;
}

int UserDataType()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return sim.m_nUserDataType;
}

std::string UserData()
{
    KorvexSim &sim = KorvexSim::Instance();
    std::lock_guard<std::mutex> lock(sim.m_mutex);
    return sim.m_strUserData;
}

void Reset() { KorvexSim::Instance().Reset(); }

} // namespace KorvexControl
