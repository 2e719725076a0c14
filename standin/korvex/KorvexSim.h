#pragma once

#include "platform/korvex.h"

#include <mutex>
#include <string>
#include <vector>

// The simulated device library's state, behind the korvex.h functions.
class KorvexSim
{
public:
    static KorvexSim &Instance();

    void Record(const std::string &strCall);
    std::vector<std::string> Journal();
    void ClearJournal();

    int32_t Init(ZDK_fDisConnect cbDisConnect, void *pUser);
    int32_t InitAppInfo(const ZDK_AppAccountInfo *pAccount);
    int32_t UserData(int32_t nType, const char *pData, int32_t nLen);
    int32_t Cleanup();

    static void SetLastError(int32_t nError);
    static int32_t LastError();

    void Reset();

    std::mutex m_mutex;
    bool m_bInitialised = false;
    ZDK_fDisConnect m_cbDisConnect = nullptr;
    void *m_pDisConnectUser = nullptr;
    ZDK_AppAccountInfo m_account{};
    int m_nUserDataType = 0;
    std::string m_strUserData;

private:
    std::vector<std::string> m_journal;
};
