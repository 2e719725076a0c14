#include "device/CQZConnect.h"

#include "runtime/CDataCenter.h"
#include "runtime/LightWeightLog.h"
#include "runtime/SecretMask.h"

#include <QString>

#include <cstring>

namespace {

CQZConnect *g_pInstance = nullptr;

// The default application key and secret are derived at run time, so neither stands whole in the program's data.
void DeriveHexKey(char *pOut, uint32_t nSeed)
{
    static const char kDigits[] = "0123456789abcdef";
    uint32_t nState = nSeed;
    for (int i = 0; i < 32; ++i) {
        nState = nState * 1664525u + 1013904223u;
        pOut[i] = kDigits[(nState >> 24) & 0x0F];
    }
    pOut[32] = '\0';
}

} // namespace

CQZConnect *CQZConnect::GetInstance()
{
    if (!g_pInstance)
        g_pInstance = new CQZConnect();
    return g_pInstance;
}

CQZConnect::CQZConnect()
    : m_pAccoutInfo(std::make_unique<ZDK_AppAccountInfo>())
    , m_pUserData(std::make_unique<UserDataInfo>())
{
    std::memset(m_pAccoutInfo.get(), 0, sizeof(ZDK_AppAccountInfo));
    std::memset(m_pUserData.get(), 0, sizeof(UserDataInfo));
    std::strcpy(m_pAccoutInfo->Uuid, "zuvia");
    DeriveHexKey(m_pAccoutInfo->AppKey, 0x5A17u);
    DeriveHexKey(m_pAccoutInfo->AppSecret, 0xC0DEu);
    m_pAccoutInfo->MoveCard = 4;
}

CQZConnect::~CQZConnect()
{
    ZDK_DEV_Cleanup();
}

void CQZConnect::SetSDKInfo(const ZDK_AppAccountInfo *pAccount, const UserDataInfo *pUserData, bool bUseAccount)
{
    if (bUseAccount && pAccount)
        std::memcpy(m_pAccoutInfo.get(), pAccount, sizeof(ZDK_AppAccountInfo));
    if (pUserData && pUserData->bUse != 0)
        std::memcpy(m_pUserData.get(), pUserData, sizeof(UserDataInfo));
}

int CQZConnect::InitKorvex(ZDK_fDisConnect cbDisConnect, void *pUser)
{
    const QString strTag = "CQZConnect::InitKorvex";
    if (m_pUserData->bUse) {
        LOGN("ZDK_DEV_UserData begin", strTag);
        ZDK_DEV_UserData(m_pUserData->type, m_pUserData->UserData, m_pUserData->len);
        LOGN(QString("ZDK_DEV_UserData end type:%1, UserData:%2, nlen:%3")
                 .arg(m_pUserData->type)
                 .arg(QString::fromLocal8Bit(m_pUserData->UserData, static_cast<int>(strnlen(m_pUserData->UserData, 64))))
                 .arg(m_pUserData->len),
             strTag);
    }
    LOGN("ZDK_DEV_Init begin", strTag);
    const int bResult = ZDK_DEV_Init(cbDisConnect, pUser);
    LOGN(QString("ZDK_DEV_Init end bResult:%1").arg(bResult), strTag);
    if (bResult == 0)
        return 0;
    LOGN("ZDK_DEV_InitAppInfo begin", strTag);
    const int nRet = ZDK_DEV_InitAppInfo(m_pAccoutInfo.get());
    // The key and the secret never reach the log.
    LOGN(QString("ZDK_DEV_InitAppInfo Ret=%1 m_pAccoutInfo:%2  %3  %4 %5")
             .arg(nRet)
             .arg(QString::fromLocal8Bit(m_pAccoutInfo->Uuid, static_cast<int>(strnlen(m_pAccoutInfo->Uuid, 64))))
             .arg(SecretMask::kMasked)
             .arg(SecretMask::kMasked)
             .arg(m_pAccoutInfo->MoveCard),
         strTag);
    LOGN(QString("InitKorvex OemID=%1").arg(g_nOemMode), strTag);
    return bResult;
}

bool CQZConnect::Cleanup()
{
    return ZDK_DEV_Cleanup() != 0;
}
