#include "device/CQZConnect.h"

#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/SecretMask.h"

#include <QString>

#include <atomic>
#include <cstdio>
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

QString Text(const char *pField, size_t nWidth) { return QString::fromLocal8Bit(FixedText::Read(pField, nWidth)); }

// "yyyy-MM-dd hh:mm:ss" into six numbers; what does not read stays 0.
void ParseTime(const char *pField, size_t nWidth, int32_t v[6])
{
    const QByteArray text = FixedText::Read(pField, nWidth);
    v[0] = v[1] = v[2] = v[3] = v[4] = v[5] = 0;
    std::sscanf(text.constData(), "%04d-%02d-%02d %02d:%02d:%02d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
}

void FillFileTime(ZDK_FileTime &t, const char *pField, size_t nWidth)
{
    int32_t v[6];
    ParseTime(pField, nWidth, v);
    t.nYear = v[0];
    t.nMonth = v[1];
    t.nDay = v[2];
    t.nUnused = 0;
    t.nHour = v[3];
    t.nMinute = v[4];
    t.nSecond = v[5];
}

bool IsFast(int nState) { return nState >= 32 && nState <= 35; }
bool IsSlow(int nState) { return nState >= 16 && nState <= 19; }

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
                 .arg(Text(m_pUserData->UserData, sizeof m_pUserData->UserData))
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
             .arg(Text(m_pAccoutInfo->Uuid, sizeof m_pAccoutInfo->Uuid))
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

int CQZConnect::UserChannel(const void *pUser)
{
    const int nChannel = ZDK_UserToChannel(pUser);
    return nChannel >= 0 && nChannel < 64 ? nChannel : -1;
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
            LOGE(QString("Cloud Error:%1").arg(Text(info.CloudError, sizeof info.CloudError)), strTag);
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

bool CQZConnect::SetStreamOpt(int lLoginID, int nChannel, int nStreamType)
{
    return ZDK_DEV_SetStreamOption(lLoginID, nChannel, nStreamType) != 0;
}

int CQZConnect::ConnectChanel(int lLoginID, int nChannel, int nStreamType, ZDK_fRealDataCallBack cbData, void *pUser)
{
    const QString strTag = "CQZConnect::ConnectChanel";
    ZDK_ClientInfo client;
    std::memset(&client, 0, sizeof client);
    client.nChannel = nChannel;
    client.nStreamType = nStreamType;
    client.nMode = 0;
    const int lPlay = ZDK_DEV_RealPlay(lLoginID, &client, nullptr);
    if (lPlay <= 0) {
        LOGN(QString("ZDK_DEV_RealPlay error=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return lPlay;
    }
    if (!ZDK_DEV_SetRealDataCallBack(lPlay, cbData, pUser)) {
        // Nobody would receive the stream's data: it is not live.
        const int nError = ZDK_DEV_GetLastError();
        ZDK_DEV_StopRealPlay(lPlay, 0);
        LOGE(QString("ZDK_DEV_SetRealDataCallBack failed lPlay=%1 error=%2, stream stopped").arg(lPlay).arg(nError),
             strTag);
        return nError < 0 ? nError : static_cast<int>(ZDK_ERR_FAILED);
    }
    SetStreamOpt(lLoginID, nChannel, nStreamType);
    LOGN(QString("ZDK_DEV_RealPlay lPlayOK=%1").arg(lPlay), strTag);
    return lPlay;
}

int CQZConnect::ConnectChanel_V2(int lLoginID, int nChannel, int nStreamType, ZDK_fRealDataCallBack_V2 cbData,
                                 void *pUser)
{
    const QString strTag = "CQZConnect::ConnectChanel_V2";
    ZDK_ClientInfo client;
    std::memset(&client, 0, sizeof client);
    client.nChannel = nChannel;
    client.nStreamType = nStreamType;
    client.nMode = 0;
    const int lPlay = ZDK_DEV_RealPlay(lLoginID, &client, nullptr);
    if (lPlay <= 0) {
        const int nError = ZDK_DEV_GetLastError();
        LOGE(QString("ZDK_DEV_RealPlay error=%1").arg(nError), strTag);
        return nError < 0 ? nError : static_cast<int>(ZDK_ERR_FAILED);
    }
    const int bRet = ZDK_DEV_SetRealDataCallBack_V2(lPlay, cbData, pUser);
    if (!bRet) {
        // Nobody would receive the stream's data: it is not live.
        const int nError = ZDK_DEV_GetLastError();
        ZDK_DEV_StopRealPlay(lPlay, 0);
        LOGE(QString("ZDK_DEV_SetRealDataCallBack_V2 failed lPlay=%1 error=%2, stream stopped").arg(lPlay).arg(nError),
             strTag);
        return nError < 0 ? nError : static_cast<int>(ZDK_ERR_FAILED);
    }
    const bool bRet1 = SetStreamOpt(lLoginID, nChannel, nStreamType);
    LOGN(QString("ZDK_DEV_RealPlay lPlayOK=%1 bRet=%2 bRet1=%3").arg(lPlay).arg(bRet).arg(bRet1 ? 1 : 0), strTag);
    return lPlay;
}

int CQZConnect::DisconnectChannel(int lPlay, ZDK_fRealDataCallBack cbData, void *pUser)
{
    ZDK_DEV_DelRealDataCallBack(lPlay, cbData, pUser);
    const int bRes = ZDK_DEV_StopRealPlay(lPlay, 0);
    LOGN(QString("ZDK_DEV_StopRealPlay lPlay=%1 bRes=%2").arg(lPlay).arg(bRes), "CQZConnect::DisconnectChannel");
    return bRes;
}

int CQZConnect::DisconnectChannel_V2(int lPlay, ZDK_fRealDataCallBack_V2 cbData, void *pUser)
{
    const QString strTag = "CQZConnect::DisconnectChannel_V2";
    LOGN(QString("ZDK_DEV_DelRealDataCallBack_V2 begin lPlay=%1").arg(lPlay), strTag);
    const int bDel = ZDK_DEV_DelRealDataCallBack_V2(lPlay, cbData, pUser);
    LOGN(QString("ZDK_DEV_DelRealDataCallBack_V2 end lPlay=%1 bRes=%2").arg(lPlay).arg(bDel), strTag);
    const int bRes = ZDK_DEV_StopRealPlay(lPlay, 0);
    LOGN(QString("ZDK_DEV_StopRealPlay lPlay=%1 end bRes=%2").arg(lPlay).arg(bRes), strTag);
    return bRes;
}

int CQZConnect::BeginPlayback(int lLoginID, int nChannel, int nKind, const PlaybackFileEntry &entry,
                              ZDK_fRealDataCallBack cbData, ZDK_fDownLoadPosCallBack cbPos, void *pUser, int &nError)
{
    const QString strTag = "CQZConnect::BeginPlayback";
    int lPlay = -1;
    if (nKind == 2) {
        ZDK_FindInfo find;
        std::memset(&find, 0, sizeof find);
        find.nChannel = nChannel;
        find.nFileType = entry.FileType;
        int32_t v[6];
        ParseTime(entry.BeginTime, sizeof entry.BeginTime, v);
        find.startTime = ZDK_Time6{v[0], v[1], v[2], v[3], v[4], v[5]};
        ParseTime(entry.EndTime, sizeof entry.EndTime, v);
        find.endTime = ZDK_Time6{v[0], v[1], v[2], v[3], v[4], v[5]};
        find.nStreamType = entry.Stream;
        FixedText::Copy(find.szText1, FixedText::Read(entry.Reserved1));
        FixedText::Copy(find.szText2, FixedText::Read(entry.Reserved2));
        lPlay = ZDK_DEV_PlayBackByTimeEx(lLoginID, &find, cbData, pUser, cbPos, pUser);
        if (lPlay > 0) {
            LOGN(QString("ZDK_DEV_PlayBackByTimeEx lLogin=%1 lPlay=%2").arg(lLoginID).arg(lPlay), strTag);
        } else {
            nError = ZDK_DEV_GetLastError();
            LOGN(QString("ZDK_DEV_PlayBackByTimeEx lLogin=%1 nError=%2").arg(lLoginID).arg(nError), strTag);
        }
    } else if (nKind == 1) {
        if (entry.BeginTime[0] == '\0')
            return -1;
        ZDK_FileData file;
        std::memset(&file, 0, sizeof file);
        file.nChannel = nChannel;
        file.nFileLength = entry.FileLength;
        FixedText::Copy(file.sFileName, FixedText::Read(entry.FileName));
        FillFileTime(file.stBeginTime, entry.BeginTime, sizeof entry.BeginTime);
        FillFileTime(file.stEndTime, entry.EndTime, sizeof entry.EndTime);
        file.nStreamType = entry.Stream;
        lPlay = ZDK_DEV_PlayBackByName(lLoginID, &file, cbPos, cbData, pUser);
        if (lPlay > 0) {
            LOGN(QString("ZDK_DEV_PlayBackByName lLogin=%1 lPlay=%2").arg(lLoginID).arg(lPlay), strTag);
        } else {
            nError = ZDK_DEV_GetLastError();
            LOGN(QString("ZDK_DEV_PlayBackByName lLogin=%1 nError=%2").arg(lLoginID).arg(nError), strTag);
        }
    }
    return lPlay;
}

int CQZConnect::EndPlayback(int lPlay)
{
    const QString strTag = "CQZConnect::EndPlayback";
    LOGN(QString("ZDK_DEV_StopPlayBack lPlay=%1").arg(lPlay), strTag);
    const int bResult = ZDK_DEV_StopPlayBack(lPlay);
    LOGN(QString("ZDK_DEV_StopPlayBack lPlay=%1 bResult=%2").arg(lPlay).arg(bResult), strTag);
    return bResult;
}

int CQZConnect::PlayBackControl(int lPlay, int nNewState, int nCurState)
{
    auto send = [lPlay](int nCommand, int nValue) { return ZDK_DEV_PlayBackControl(lPlay, nCommand, nValue, 0) != 0; };
    bool bOk = false;
    if (IsFast(nNewState)) {
        bOk = send(ZDK_PLAY_FAST, nNewState - 31);
    } else if (IsSlow(nNewState)) {
        bOk = send(ZDK_PLAY_SLOW, nNewState - 15);
    } else if (nNewState == 0) {
        if (IsFast(nCurState))
            bOk = send(ZDK_PLAY_FAST, 0);
        else if (IsSlow(nCurState))
            bOk = send(ZDK_PLAY_SLOW, 0);
        else
            bOk = send(ZDK_PLAY_NORMAL, 0);
    } else if (nNewState == 2) {
        // At normal speed the device is not told; the paused decoder holds the data back.
        if (!IsFast(nCurState) && !IsSlow(nCurState))
            return nCurState;
        bOk = send(IsFast(nCurState) ? ZDK_PLAY_FAST : ZDK_PLAY_SLOW, 0);
        if (bOk)
            bOk = send(ZDK_PLAY_PAUSE, 0);
    } else {
        return nCurState;
    }
    return bOk ? nNewState : nCurState;
}

bool CQZConnect::PlayBackSeek(int lPlay, int nSeconds)
{
    return ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, nSeconds, 0) != 0;
}

int CQZConnect::StartDownLoad(int lLoginID, const DownloadFileEntry &entry, const char *pLocalPath,
                              ZDK_fDownLoadPosCallBack cbPos, void *pUser)
{
    ZDK_FileData file;
    std::memset(&file, 0, sizeof file);
    file.nChannel = entry.Channel;
    file.nFileLength = entry.FileLength;
    FixedText::Copy(file.sFileName, FixedText::Read(entry.FileName));
    FillFileTime(file.stBeginTime, entry.BeginTime, sizeof entry.BeginTime);
    FillFileTime(file.stEndTime, entry.EndTime, sizeof entry.EndTime);
    file.nStreamType = entry.Stream;
    const int lHandle = ZDK_DEV_DownloadByName(lLoginID, &file, pLocalPath, cbPos, pUser, 0);
    if (lHandle <= 0)
        LOGN(QString("LastError:%1").arg(ZDK_DEV_GetLastError()), "CQZConnect::StartDownLoad");
    return lHandle;
}

bool CQZConnect::StopDownLoad(int lHandle)
{
    if (lHandle == 0)
        return false;
    return ZDK_DEV_StopDownload(lHandle) != 0;
}
