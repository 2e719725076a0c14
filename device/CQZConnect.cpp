#include "device/CQZConnect.h"

#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "runtime/SecretMask.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

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

int CQZConnect::StartRealPlay(int lLoginID, int nChannel, int nStreamType)
{
    ZDK_ClientInfo client;
    std::memset(&client, 0, sizeof client);
    client.nChannel = nChannel;
    client.nStreamType = nStreamType;
    client.nMode = 0;
    return ZDK_DEV_RealPlay(lLoginID, &client, nullptr);
}

int CQZConnect::ConnectChanel(int lLoginID, int nChannel, int nStreamType, ZDK_fRealDataCallBack cbData, void *pUser)
{
    const QString strTag = "CQZConnect::ConnectChanel";
    const int lPlay = StartRealPlay(lLoginID, nChannel, nStreamType);
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
    const int lPlay = StartRealPlay(lLoginID, nChannel, nStreamType);
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

// ----------------------------------------------------------------------------------------------------------
// Configuration, abilities, upgrades and file transfer.

namespace {

constexpr int kConfigWaitMs = 20000;
constexpr int kFileCommandWaitMs = 5000;
constexpr int kImportWaitMs = 8000;
constexpr uint32_t kLargeReply = 307200;
constexpr uint32_t kCommandReply = 65536;
constexpr qint64 kMaxConfigFile = 65536;
constexpr int kNoUploadFile = 109;

// Reading device JSON: every step checks the type first, so an answer of the wrong shape reads as null instead
// of throwing out of the operation.
const Json::Value &NullValue()
{
    static const Json::Value null;
    return null;
}

const Json::Value &Member(const Json::Value &v, const std::string &strKey)
{
    return v.isObject() && v.isMember(strKey) ? v[strKey] : NullValue();
}

const Json::Value &Element(const Json::Value &v, Json::ArrayIndex i)
{
    return v.isArray() && i < v.size() ? v[i] : NullValue();
}

// The member that the answer's "Name" names.
const Json::Value &NamedMember(const Json::Value &root)
{
    const Json::Value &name = Member(root, "Name");
    return name.isString() ? Member(root, name.asString()) : NullValue();
}

bool DeviceOk(const Json::Value &root)
{
    const Json::Value &ret = Member(root, "Ret");
    return ret.isInt() && ret.asInt() == 100;
}

bool IsText(const Json::Value &v, const char *pText) { return v.isString() && v.asString() == pText; }

// The answer exactly as long as the library says it is: the buffer carries no terminating zero.
std::string AnswerText(const std::vector<char> &buffer, uint32_t nReturned)
{
    return std::string(buffer.data(), std::min<size_t>(nReturned, buffer.size()));
}

QString ShortFloat(float f) { return QString::number(static_cast<double>(f)); }

// The "OPFile" header of an upload kind; kinds without one send an empty header.
QByteArray UploadHeader(int nKind, int nChannel, qint64 nFileSize)
{
    switch (nKind) {
    case 1:
        return QString(R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": %1,"FileName": "",  "Path": "","Parameter":{}})")
            .arg(nFileSize)
            .toLatin1();
    case 2:
    case 3:
        return CQZConnect::VoiceHeader(false, nChannel, nKind == 2 ? 0 : 7, nFileSize);
    case 4:
        return CQZConnect::VoiceHeader(true, nChannel, 0, nFileSize);
    default:
        return QByteArray();
    }
}

// "OPFile" with the header, then the file: 1, -1 (the command failed) or -2 (the transfer did not start). The
// last error of the failed call is left for the caller.
int SendWithHeader(int lLoginID, const char *pPath, const char *pHeader, void *pUser, ZDK_fFileTransferCallBack cb,
                   const QString &strTag)
{
    const char *pText = pHeader ? pHeader : "";
    if (ZDK_DEV_Cmd_Json(lLoginID, ZDK_CMD_FILE, "OPFile", pText, static_cast<uint32_t>(std::strlen(pText)),
                         kFileCommandWaitMs, -1) != 1) {
        LOGN(QString("SendAudioFile OPFile error=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return -1;
    }
    if (ZDK_DEV_SendFileDataToDevice(lLoginID, pPath, cb, pUser) == 0) {
        LOGN(QString("ZDK_DEV_SendFileDataToDevice error=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return -2;
    }
    return 1;
}

} // namespace

int CQZConnect::GetChannelAbility(int lLoginID, const char *pName, char *pBuffer, int nBufferSize)
{
    int nResult = ZDK_ERR_ILLEGAL_PARAM;
    if (pBuffer && nBufferSize > 1) {
        // One byte stays free for the terminating zero, which the library does not write.
        const uint32_t nSize = static_cast<uint32_t>(nBufferSize - 1);
        uint32_t nReturned = 0;
        nResult = ZDK_DEV_GetChannelAbility_Json(lLoginID, pName, -1, pBuffer, nSize, &nReturned, kConfigWaitMs);
        if (nResult > 0) {
            pBuffer[std::min(nReturned, nSize)] = '\0';
            return RET_SUCCESS;
        }
    }
    LOGN(QString("ZDK_DEV_GetChannelAbility_Json Name:%1 Ret:%2").arg(QString::fromLocal8Bit(pName)).arg(nResult),
         "CQZConnect::GetChannelAbility");
    return ErrorToRet(nResult);
}

int CQZConnect::GetEncodeFormat(int lLoginID, int (&flags)[2][64])
{
    const QString strTag = "CQZConnect::GetEncodeFormat";
    std::vector<char> buffer(kLargeReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_GetDevConfig_Json(lLoginID, "AVEnc.A3Encode", ZDK_CMD_ENCODE, -1, buffer.data(),
                                                  kLargeReply, &nReturned, kConfigWaitMs);
    if (nResult <= 0) {
        LOGN(QString("ZDK_DEV_GetDevConfig_Json AVEnc.A3Encode Ret:%1").arg(nResult), strTag);
        return RET_SUCCESS;
    }
    Json::Value root;
    const Json::Value *pList = nullptr;
    if (JsonText::Parse(AnswerText(buffer, nReturned), root))
        pList = &NamedMember(root);
    if (!pList || !pList->isArray()) {
        LOGN("AVEnc.A3Encode answer without a list of channels", strTag);
        return RET_SUCCESS;
    }
    const Json::ArrayIndex nCount = std::min<Json::ArrayIndex>(pList->size(), 64);
    for (Json::ArrayIndex i = 0; i < nCount; ++i) {
        const Json::Value &entry = Element(*pList, i);
        if (IsText(Member(entry, "MainFormat"), "H.264"))
            flags[0][i] = 1;
        if (IsText(Member(entry, "ExtraFormat"), "H.264"))
            flags[1][i] = 1;
    }
    return RET_SUCCESS;
}

bool CQZConnect::GetScaleTwoLensAbility(int lLoginID, int nChannel, bool bQuick)
{
    const QString strTag = "CQZConnect::GetScaleTwoLensAbility";
    if (bQuick)
        return ZDK_DEV_GetAbility(lLoginID, "SystemFunction/OtherFunction/SupportScaleTwoLens", 0) != 0;
    std::vector<char> buffer(kLargeReply);
    uint32_t nReturned = 0;
    const int nRet = ZDK_DEV_GetDevConfig_Json(lLoginID, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, nChannel,
                                               buffer.data(), kLargeReply, &nReturned, kConfigWaitMs);
    LOGN(QString("GetScaleTwoLensAbility----->ret:%1").arg(nRet), strTag);
    if (nRet != 1)
        return false;
    Json::Value root;
    if (!JsonText::Parse(AnswerText(buffer, nReturned), root)) {
        LOGN("bypass@SystemFunction answer does not parse", strTag);
        return false;
    }
    const Json::Value &v = Member(Member(NamedMember(root), "OtherFunction"), "SupportScaleTwoLens");
    if (v.isBool())
        return v.asBool();
    if (v.isIntegral())
        return v.asLargestInt() != 0;
    LOGN("bypass@SystemFunction answer without a readable SupportScaleTwoLens", strTag);
    return false;
}

int CQZConnect::GetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float &fTimes, bool bAllChannels,
                                      float &fMaxTimes)
{
    const QString strTag = "CQZConnect::GetScaleTwoLensConfig";
    const QByteArray baIn = QString(R"([{"StreamType": %1}])").arg(nStreamType).toLatin1();
    std::vector<char> buffer(kCommandReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_CmdGeneral_Json(lLoginID, ZDK_CMD_SENSOR_GET, "OPSensorGet", baIn.constData(),
                                                static_cast<uint32_t>(baIn.size()), buffer.data(), kCommandReply,
                                                &nReturned, kConfigWaitMs, bAllChannels ? -1 : nChannel);
    if (nResult <= 0) {
        LOGN(QString("OPSensorGet failed Ret:%1").arg(nResult), strTag);
        return -1;
    }
    const std::string strAnswer = AnswerText(buffer, nReturned);
    LOGN(QString("OPSensorGet %1").arg(QString::fromStdString(strAnswer)), strTag);
    Json::Value root;
    if (!JsonText::Parse(strAnswer, root) || !DeviceOk(root))
        return 0;
    const Json::Value &entry = Element(bAllChannels ? Member(root, "OPSensorGet") : NamedMember(root), 0);
    const Json::Value &times = Member(entry, "Times");
    const Json::Value &timesOri = Member(entry, "TimesOri");
    const Json::Value &maxTimes = Member(entry, "MaxTimes");
    if (!times.isNumeric() || !(timesOri.isNull() || timesOri.isNumeric()) ||
        !(maxTimes.isNull() || maxTimes.isNumeric())) {
        LOGE("OPSensorGet answer without readable Times and MaxTimes", strTag);
        return -1;
    }
    fTimes = std::max(times.asFloat(), 0.0f);
    fMaxTimes = maxTimes.isNull() ? 8.0f : maxTimes.asFloat();
    // The main stream's zoom is applied after the sub stream was set back to none.
    if (nStreamType == 0)
        SetScaleTwoLensConfig(lLoginID, nChannel, 1, 0.0f, 0.0f);
    SetScaleTwoLensConfig(lLoginID, nChannel, nStreamType, fTimes, fTimes);
    return 1;
}

int CQZConnect::SetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float fTimesOri, float fTimes)
{
    // Numbers in the C form whatever the locale: the device reads JSON.
    const QByteArray baIn = QString(R"([{"StreamType": %1,"TimesOri": %2,"Times": %3}])")
                                .arg(QString::number(nStreamType), QString::number(double(fTimesOri), 'f', 1),
                                     QString::number(double(fTimes), 'f', 1))
                                .toLatin1();
    std::vector<char> buffer(kCommandReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_CmdGeneral_Json(lLoginID, ZDK_CMD_SCALE_TIMES_SWITCH, "OPScaleTimesSwitch",
                                                baIn.constData(), static_cast<uint32_t>(baIn.size()), buffer.data(),
                                                kCommandReply, &nReturned, kConfigWaitMs, nChannel);
    if (nResult < 1) {
        LOGN(QString("SetScaleTwoLensConfig failed,nStreamType:%1,fOrignalTimes:%2,fCurTimes:%3")
                 .arg(nStreamType)
                 .arg(ShortFloat(fTimesOri))
                 .arg(ShortFloat(fTimes)),
             "CQZConnect::SetScaleTwoLensConfig");
        return -1;
    }
    return 1;
}

int CQZConnect::GetNewVersionInfo(int lLoginID, const QString &strCurrentDate, QString &strNewVersion)
{
    ZDK_UpgradeInfo info;
    std::memset(&info, 0, sizeof info);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_GetDevConfig(lLoginID, ZDK_CFG_UPGRADE_INFO, -1, reinterpret_cast<char *>(&info),
                                             sizeof info, &nReturned, kConfigWaitMs);
    // Only the first version is read, and only when the device filled it.
    const bool bFirst = nReturned >= offsetof(ZDK_UpgradeInfo, versions) + sizeof(ZDK_UpgradeVersion);
    if (nResult > 0 && bFirst && info.nCount > 0) {
        const QString strDate = QString::fromLocal8Bit(FixedText::Read(info.versions[0].sDate));
        if (strDate != strCurrentDate)
            strNewVersion = QString::fromLocal8Bit(FixedText::Read(info.versions[0].sName));
    }
    LOGN(QString("GetNewVersionInfo Ret:%1 count:%2 version:%3")
             .arg(nResult)
             .arg(nResult > 0 && bFirst ? info.nCount : 0)
             .arg(strNewVersion),
         "CQZConnect::GetNewVersionInfo");
    return nResult;
}

int CQZConnect::UpgradeStartResult(int lHandle, const char *pName, const QString &strTag)
{
    LOGN(QString("%1:Ret = %2").arg(pName).arg(lHandle), strTag);
    if (lHandle > 0)
        return RET_SUCCESS;
    const int nError = ZDK_DEV_GetLastError();
    const int nRet = nError == ZDK_ERR_UPGRADE_REFUSED ? static_cast<int>(RET_UPGRADE_REFUSED) : ErrorToRet(nError);
    LOGN(QString("%1:Error = %2").arg(pName).arg(nRet), strTag);
    return nRet;
}

int CQZConnect::StartLocalUpgrade(int lLoginID, const QString &strFilePath, ZDK_fUpgradeCallBack cbProgress,
                                  void *pUser)
{
    const QString strTag = "CQZConnect::StartLocalUpgrade";
    const int lHandle = ZDK_DEV_StartLocalUpgrade(lLoginID, strFilePath.toLocal8Bit().constData(),
                                                  ZDK_UPGRADE_LOCAL, cbProgress, pUser);
    return UpgradeStartResult(lHandle, "StartLocalUpgrade", strTag);
}

int CQZConnect::StartOnlineUpgrade(int lLoginID, const QString &strVersion, ZDK_fUpgradeCallBack cbProgress,
                                   void *pUser)
{
    const QString strTag = "CQZConnect::StartOnlineUpgrade";
    const int lHandle = ZDK_DEV_StartOnlineUpgrade(lLoginID, strVersion.toLocal8Bit().constData(),
                                                   ZDK_UPGRADE_ONLINE, cbProgress, pUser);
    return UpgradeStartResult(lHandle, "StartOnlineUpgrade", strTag);
}

int CQZConnect::GetUpgradeState(int lUpgradeHandle) { return ZDK_DEV_GetUpgradeState(lUpgradeHandle); }

bool CQZConnect::CloseUpgrade(int lUpgradeHandle)
{
    if (lUpgradeHandle <= 0)
        return false;
    return ZDK_DEV_CloseUpgradeHandle(lUpgradeHandle) != 0;
}

int CQZConnect::ImportFile(int nKind, int lLoginID, int nChannel, const QString &strPath, ZDK_fFileTransferCallBack cb,
                           void *pUser)
{
    const QString strTag = "CQZConnect::ImportFile";
    if (nKind == 0) {
        LOGN("Import Config by ZDK_DEV_SetDevConfig", strTag);
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly)) {
            LOGN(QString("Import Config: cannot open %1").arg(strPath), strTag);
            return RET_UNSUPPORTED;
        }
        const qint64 nSize = file.size();
        if (nSize > kMaxConfigFile) {
            LOGN("ZDK_DEV_SetDevConfig pBuf size > 64k", strTag);
            return RET_CONFIG_TOO_LARGE;
        }
        const QByteArray data = file.read(kMaxConfigFile);
        if (ZDK_DEV_SetDevConfig(lLoginID, ZDK_CFG_IMPORT, -1, data.constData(), static_cast<uint32_t>(data.size()),
                                 kImportWaitMs) < 0) {
            const int nError = ZDK_DEV_GetLastError();
            LOGN(QString("fileszie = %1<===============>ZDK_DEV_SetDevConfig error=%2").arg(nSize).arg(nError), strTag);
            return ErrorToRet(nError);
        }
        return RET_SUCCESS;
    }

    // The size is read without opening the file for writing, so a missing file is not created.
    const QFileInfo fileInfo(strPath);
    QFile file(strPath);
    if (!fileInfo.isFile() || !file.open(QIODevice::ReadOnly) || file.size() == 0) {
        LOGN(QString("upload file missing or empty: %1").arg(strPath), strTag);
        return kNoUploadFile;
    }
    const qint64 nSize = file.size();
    file.close();
    const QByteArray baHeader = UploadHeader(nKind, nChannel, nSize);
    const QByteArray baPath = strPath.toLocal8Bit();
    if (SendWithHeader(lLoginID, baPath.constData(), baHeader.constData(), pUser, cb, strTag) != 1)
        return ErrorToRet(ZDK_DEV_GetLastError());
    return RET_SUCCESS;
}

QByteArray CQZConnect::VoiceHeader(bool bDevice, int nChannel, int nFilePurpose, int64_t nFileSize)
{
    const QString strAudio = R"("AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"})";
    if (bDevice)
        return QString(R"({"FileType": 1,"FilePurpose": 0,"FileSize": %1,"FileName": "customAlarmVoice.pcm","Parameter": {%2}})")
            .arg(QString::number(nFileSize), strAudio)
            .toLatin1();
    const QString strChannel = QString::number(nChannel == 255 ? -1 : nChannel);
    return QString(R"({"Action": "Send","FileType": 1,"Channel": [%1],"FilePurpose": %2,"FileSize": %3,"FileName": "customAlarmVoice.pcm","Parameter":  {%4,"Channel": [%5]}})")
        .arg(strChannel, QString::number(nFilePurpose), QString::number(nFileSize), strAudio, strChannel)
        .toLatin1();
}

int CQZConnect::SendAudioFile(int lLoginID, const char *pPath, const char *pHeader, void *pUser,
                              ZDK_fFileTransferCallBack cb)
{
    return SendWithHeader(lLoginID, pPath, pHeader, pUser, cb, "CQZConnect::SendAudioFile");
}

bool CQZConnect::SetMessCallBack(ZDK_fMessCallBack cbMessage, void *pUser)
{
    return ZDK_DEV_SetMessCallBack(cbMessage, pUser) != 0;
}
