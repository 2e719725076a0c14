#include "device/CQZConnect.h"

#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/SecretMask.h"

#include <QString>

#include <atomic>
#include <cstring>

namespace {

CQZConnect *g_pInstance = nullptr;

// Login sequence numbers, process-wide, from 1.
std::atomic<int> g_nNextLoginSequence{1};

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


// The first six rows, which both error maps share.
bool CommonError(int nError, int &nRet)
{
    switch (nError) {
    case -11301:
    case -11302: nRet = 106; return true;
    case -11300: nRet = 107; return true;
    case -11303: nRet = 206; return true;
    case -11304: nRet = 207; return true;
    case -11307: nRet = 999; return true;
    case -11317: nRet = 218; return true;
    case -10005: nRet = 1006; return true;
    default: return false;
    }
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
                 .arg(FixedText::ReadLocal(m_pUserData->UserData))
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
             .arg(FixedText::ReadLocal(m_pAccoutInfo->Uuid))
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

int CQZConnect::ErrorToRet(int nError)
{
    int nRet = 0;
    if (CommonError(nError, nRet))
        return nRet;
    return nError == -11401 ? 1013 : 1016;
}

int CQZConnect::LoginErrorToRet(int nError)
{
    int nRet = 0;
    if (CommonError(nError, nRet))
        return nRet;
    return nError == -11613 ? 1012 : 1017;
}

int CQZConnect::ConnectDevice(DevLoginInfo &info, int &nError, const char *pWebType)
{
    const QString strTag = "CQZConnect::ConnectDevice";
    NetDeviceInfo devInfo;
    std::memset(&devInfo, 0, sizeof devInfo);
    if (pWebType && std::strcmp(pWebType, "O5") == 0)
        devInfo.nClientFlag = 1000;

    const QByteArray baSN = FixedText::Read(info.SN);
    const QByteArray baUser = FixedText::Read(info.User);
    const QByteArray baPassword = FixedText::Read(info.Password);
    int32_t nSdkError = 0;
    int lLogin = 0;
    bool bTried = true;
    switch (info.LoginType) {
    case 0:
        lLogin = ZDK_DEV_Login(FixedText::Read(info.IP).constData(), info.Port & 0xFFFF, baUser.constData(),
                               baPassword.constData(), &devInfo, &nSdkError, ZDK_CONNECT_ADDRESS);
        break;
    case 1:
        lLogin = ZDK_DEV_Login(baSN.constData(), 0, baUser.constData(), baPassword.constData(), &devInfo, &nSdkError,
                               ZDK_CONNECT_SERIAL);
        break;
    case 2:
        LOGN(QString("ZDK_DEV_LoginEx_V2 SN=%1 Token=%2").arg(QString::fromLocal8Bit(baSN)).arg(SecretMask::kMasked),
             strTag);
        lLogin = ZDK_DEV_LoginEx_V2(baSN.constData(), 0, FixedText::Read(info.Token).constData(), "", &devInfo,
                                    ZDK_LOGIN_KIND_TOKEN, &nSdkError, ZDK_CONNECT_SERIAL);
        break;
    default:
        bTried = false;
        break;
    }

    if (bTried && lLogin > 0) {
        if (info.LoginSequence == 0)
            info.LoginSequence = g_nNextLoginSequence++;
        info.DateYear = devInfo.nYear;
        info.DateMonth = devInfo.nMonth;
        info.DateDay = devInfo.nDay;
        info.DeviceType = devInfo.nDeviceType;
        info.ChannelCountA = devInfo.nChannelCountA;
        info.ChannelCountB = devInfo.nChannelCountB;
        info.ChannelTotal = devInfo.nChannelCountA + devInfo.nChannelCountB;
        LOGN(QString("NetDeviceInfo----------devType:%1").arg(info.DeviceType), strTag);
        if (info.LoginType == 0)
            FixedText::Copy(info.SN, FixedText::Read(devInfo.sSerialNumber));
        FixedText::Copy(info.DeviceText1, FixedText::Read(devInfo.sDeviceText1));
        FixedText::Copy(info.DeviceText2, FixedText::Read(devInfo.sDeviceText2));
        // Exactly "Tool" with its terminating zero; "Tool" followed by more text does not count.
        if (std::memcmp(info.AlarmStyle, "Tool", 5) == 0)
            ZDK_DEV_StartAlarmListen(lLogin);
        LOGN(QString("ConnectDevice success,LoginID=%1").arg(lLogin), strTag);
        return lLogin;
    }

    int nLibError = 0;
    if (bTried) {
        nLibError = nSdkError != 0 ? nSdkError : ZDK_DEV_GetLastError();
        nError = LoginErrorToRet(nLibError);
        if (nLibError == -11613) {
            FixedText::Copy(info.CloudError, FixedText::Read(devInfo.sCloudError));
            LOGE(QString("Cloud Error:%1").arg(FixedText::ReadLocal(info.CloudError)), strTag);
        }
    } else {
        nError = 1017;
    }
    LOGN(QString("ConnectDevice fail, sdk error=%1 return=%2").arg(nLibError).arg(nError), strTag);
    LOGN(QString("ConnectDevice fail, error=%1").arg(nError), strTag);
    return nLibError;
}

int CQZConnect::DisconnectDevice(int lLoginID)
{
    ZDK_DEV_StopAlarmListen(lLoginID);
    const int bResult = ZDK_DEV_Logout(lLoginID);
    LOGN(QString("Disconnect Device LoginID=%1").arg(lLoginID), "CQZConnect::DisconnectDevice");
    return bResult;
}

int CQZConnect::GetDevConfigValue(int lLoginID, int nCommand, int nChannel, int nParam)
{
    ZDK_QueryInfo query;
    query.nCommand = nCommand;
    query.nChannel = nChannel;
    query.nParam = nParam;
    int32_t nResult = 0;
    if (!ZDK_DEV_QueryValue(lLoginID, &query, &nResult, 10000))
        return 0;
    return nResult;
}
