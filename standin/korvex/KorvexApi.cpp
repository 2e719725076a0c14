// The korvex.h functions of the simulated device library: each decodes its arguments into a journal line,
// passes the entry gate (latency, forced failures) and hands over to KorvexSim.

#include "platform/korvex.h"
#include "standin/korvex/DeviceConfig.h"
#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/KorvexSim.h"
#include "standin/korvex/UpgradeTask.h"
#include "standin/korvex/VoiceCom.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

KorvexSim &Sim() { return KorvexSim::Instance(); }

std::string Field(const char *pField, size_t nWidth) { return std::string(pField, strnlen(pField, nWidth)); }

std::string Text(const char *p) { return p ? std::string(p) : std::string("(null)"); }

// A JSON input exactly as long as the length given (no terminating zero is looked for).
std::string InText(const char *p, uint32_t nLength) { return p ? std::string(p, nLength) : std::string("(null)"); }

std::string TimeText(int y, int mo, int d, int h, int mi, int s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
    return buf;
}

// Seconds since 1970 of a local time given by its fields; false for a time that does not exist.
bool LocalSeconds(int y, int mo, int d, int h, int mi, int s, int64_t &nOut)
{
    if (y < 1970 || y > 2105 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59)
        return false;
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    const time_t v = timegm(&t);
    if (t.tm_mday != d || t.tm_mon != mo - 1)
        return false;
    nOut = static_cast<int64_t>(v);
    return true;
}

bool SpanOf(const ZDK_FileTime &begin, const ZDK_FileTime &end, int64_t &nBegin, int64_t &nEnd)
{
    return LocalSeconds(begin.nYear, begin.nMonth, begin.nDay, begin.nHour, begin.nMinute, begin.nSecond, nBegin) &&
           LocalSeconds(end.nYear, end.nMonth, end.nDay, end.nHour, end.nMinute, end.nSecond, nEnd);
}

std::string FileText(const ZDK_FileData &f)
{
    const ZDK_FileTime &b = f.stBeginTime, &e = f.stEndTime;
    return "channel=" + std::to_string(f.nChannel) + " length=" + std::to_string(f.nFileLength) + " name=" +
           Field(f.sFileName, sizeof f.sFileName) + " begin=" +
           TimeText(b.nYear, b.nMonth, b.nDay, b.nHour, b.nMinute, b.nSecond) + " end=" +
           TimeText(e.nYear, e.nMonth, e.nDay, e.nHour, e.nMinute, e.nSecond) + " unused=" +
           std::to_string(b.nUnused) + "/" + std::to_string(e.nUnused) + " stream=" + std::to_string(f.nStreamType);
}

// A failed entry of a login: the error goes to the error out as well.
int32_t LoginFailed(int32_t *pError)
{
    if (pError)
        *pError = KorvexSim::LastError();
    return 0;
}

} // namespace

// ----------------------------------------------------------------------------------------------------------
// Set-up.

int32_t ZDK_DEV_Init(ZDK_fDisConnect cbDisConnect, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_Init", "", false))
        return 0;
    return Sim().Init(cbDisConnect, pUser);
}

int32_t ZDK_DEV_InitAppInfo(const ZDK_AppAccountInfo *pAccount)
{
    // The key and the secret are not journaled.
    if (!Sim().Enter("ZDK_DEV_InitAppInfo", pAccount ? "uuid=" + Field(pAccount->Uuid, sizeof pAccount->Uuid) +
                                                           " movecard=" + std::to_string(pAccount->MoveCard)
                                                     : "account=null"))
        return 0;
    return Sim().InitAppInfo(pAccount);
}

int32_t ZDK_DEV_UserData(int32_t nType, const char *pData, int32_t nLen)
{
    if (!Sim().Enter("ZDK_DEV_UserData", std::to_string(nType) + " " + std::to_string(nLen), false))
        return 0;
    return Sim().UserData(nType, pData, nLen);
}

int32_t ZDK_DEV_SetMessCallBack(ZDK_fMessCallBack cbMessage, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_SetMessCallBack", cbMessage ? "set" : "none"))
        return 0;
    return Sim().SetMessCallBack(cbMessage, pUser);
}

int32_t ZDK_DEV_Cleanup()
{
    if (!Sim().Enter("ZDK_DEV_Cleanup", "", false))
        return 0;
    return Sim().Cleanup();
}

int32_t ZDK_DEV_GetLastError() { return KorvexSim::LastError(); }

// ----------------------------------------------------------------------------------------------------------
// Login.

int32_t ZDK_DEV_Login(const char *pAddress, int32_t nPort, const char *pUser, const char *pPassword,
                      NetDeviceInfo *pDeviceInfo, int32_t *pError, int32_t nConnectKind)
{
    const std::string strArgs = "address=" + Text(pAddress) + " port=" + std::to_string(nPort) + " user=" +
                                Text(pUser) + " conn=" + std::to_string(nConnectKind) + " flag828=" +
                                (pDeviceInfo ? std::to_string(pDeviceInfo->nClientFlag) : std::string("null"));
    if (!Sim().Enter("ZDK_DEV_Login", strArgs))
        return LoginFailed(pError);
    const int32_t lLogin =
        Sim().Login(pAddress, nPort, pUser, pPassword, false, nullptr, 0, pDeviceInfo, nConnectKind);
    if (lLogin <= 0)
        return LoginFailed(pError);
    if (pError)
        *pError = 0;
    return lLogin;
}

int32_t ZDK_DEV_LoginEx_V2(const char *pSerial, int32_t nPort, const char *pToken, const char *pPassword,
                           NetDeviceInfo *pDeviceInfo, int32_t nLoginKind, int32_t *pError, int32_t nConnectKind)
{
    // The token is not journaled; only whether a password came.
    const std::string strArgs = "serial=" + Text(pSerial) + " port=" + std::to_string(nPort) + " kind=" +
                                std::to_string(nLoginKind) + " conn=" + std::to_string(nConnectKind) +
                                " password=" + (pPassword && *pPassword ? "set" : "empty") + " flag828=" +
                                (pDeviceInfo ? std::to_string(pDeviceInfo->nClientFlag) : std::string("null"));
    if (!Sim().Enter("ZDK_DEV_LoginEx_V2", strArgs))
        return LoginFailed(pError);
    const int32_t lLogin =
        Sim().Login(pSerial, nPort, nullptr, pPassword, true, pToken, nLoginKind, pDeviceInfo, nConnectKind);
    if (lLogin <= 0)
        return LoginFailed(pError);
    if (pError)
        *pError = 0;
    return lLogin;
}

int32_t ZDK_DEV_StartAlarmListen(int32_t lLoginID)
{
    if (!Sim().Enter("ZDK_DEV_StartAlarmListen", "login=" + std::to_string(lLoginID)))
        return 0;
    return Sim().AlarmListen(lLoginID, true);
}

int32_t ZDK_DEV_StopAlarmListen(int32_t lLoginID)
{
    if (!Sim().Enter("ZDK_DEV_StopAlarmListen", "login=" + std::to_string(lLoginID)))
        return 0;
    return Sim().AlarmListen(lLoginID, false);
}

int32_t ZDK_DEV_Logout(int32_t lLoginID)
{
    if (!Sim().Enter("ZDK_DEV_Logout", "login=" + std::to_string(lLoginID)))
        return 0;
    return Sim().Logout(lLoginID);
}

// ----------------------------------------------------------------------------------------------------------
// Live streams.

int32_t ZDK_DEV_RealPlay(int32_t lLoginID, const ZDK_ClientInfo *pClient, void *pReserved)
{
    std::string strArgs = "login=" + std::to_string(lLoginID);
    if (pClient) {
        strArgs += " channel=" + std::to_string(pClient->nChannel) + " stream=" + std::to_string(pClient->nStreamType) +
                   " mode=" + std::to_string(pClient->nMode) + " rest=" + std::to_string(pClient->reserved[0]) + "/" +
                   std::to_string(pClient->reserved[1]) + "/" + std::to_string(pClient->reserved[2]);
    } else {
        strArgs += " client=null";
    }
    strArgs += pReserved ? " reserved=set" : " reserved=null";
    if (!Sim().Enter("ZDK_DEV_RealPlay", strArgs))
        return 0;
    if (!pClient) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return Sim().RealPlay(lLoginID, *pClient);
}

int32_t ZDK_DEV_SetRealDataCallBack(int32_t lRealHandle, ZDK_fRealDataCallBack cbRealData, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_SetRealDataCallBack", "play=" + std::to_string(lRealHandle)))
        return 0;
    return Sim().SetRealDataCallBack(lRealHandle, cbRealData, pUser, true);
}

int32_t ZDK_DEV_DelRealDataCallBack(int32_t lRealHandle, ZDK_fRealDataCallBack cbRealData, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_DelRealDataCallBack", "play=" + std::to_string(lRealHandle)))
        return 0;
    return Sim().SetRealDataCallBack(lRealHandle, cbRealData, pUser, false);
}

int32_t ZDK_DEV_SetRealDataCallBack_V2(int32_t lRealHandle, ZDK_fRealDataCallBack_V2 cbRealData, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_SetRealDataCallBack_V2", "play=" + std::to_string(lRealHandle)))
        return 0;
    return Sim().SetRealDataCallBackV2(lRealHandle, cbRealData, pUser, true);
}

int32_t ZDK_DEV_DelRealDataCallBack_V2(int32_t lRealHandle, ZDK_fRealDataCallBack_V2 cbRealData, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_DelRealDataCallBack_V2", "play=" + std::to_string(lRealHandle)))
        return 0;
    return Sim().SetRealDataCallBackV2(lRealHandle, cbRealData, pUser, false);
}

int32_t ZDK_DEV_StopRealPlay(int32_t lRealHandle, int32_t nReserved)
{
    if (!Sim().Enter("ZDK_DEV_StopRealPlay", "play=" + std::to_string(lRealHandle) + " " + std::to_string(nReserved)))
        return 0;
    return Sim().StopStream(lRealHandle, SimStream::Kind::Live);
}

int32_t ZDK_DEV_SetStreamOption(int32_t lLoginID, int32_t nChannel, int32_t nStreamType)
{
    if (!Sim().Enter("ZDK_DEV_SetStreamOption", "login=" + std::to_string(lLoginID) + " channel=" +
                                                   std::to_string(nChannel) + " stream=" + std::to_string(nStreamType)))
        return 0;
    return Sim().SetStreamOption(lLoginID, nChannel, nStreamType);
}

// ----------------------------------------------------------------------------------------------------------
// Playback and download.

int32_t ZDK_DEV_PlayBackByTimeEx(int32_t lLoginID, const ZDK_FindInfo *pFindInfo, ZDK_fRealDataCallBack cbData,
                                 void *pDataUser, ZDK_fDownLoadPosCallBack cbPos, void *pPosUser)
{
    std::string strArgs = "login=" + std::to_string(lLoginID);
    if (pFindInfo) {
        const ZDK_Time6 &b = pFindInfo->startTime, &e = pFindInfo->endTime;
        strArgs += " channel=" + std::to_string(pFindInfo->nChannel) + " type=" + std::to_string(pFindInfo->nFileType) +
                   " begin=" + TimeText(b.nYear, b.nMonth, b.nDay, b.nHour, b.nMinute, b.nSecond) +
                   " end=" + TimeText(e.nYear, e.nMonth, e.nDay, e.nHour, e.nMinute, e.nSecond) +
                   " stream=" + std::to_string(pFindInfo->nStreamType) +
                   " text1=" + Field(pFindInfo->szText1, sizeof pFindInfo->szText1) +
                   " text2=" + Field(pFindInfo->szText2, sizeof pFindInfo->szText2);
    } else {
        strArgs += " find=null";
    }
    if (!Sim().Enter("ZDK_DEV_PlayBackByTimeEx", strArgs))
        return 0;
    if (!pFindInfo) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    const ZDK_Time6 &b = pFindInfo->startTime, &e = pFindInfo->endTime;
    int64_t nBegin = 0, nEnd = 0;
    if (!LocalSeconds(b.nYear, b.nMonth, b.nDay, b.nHour, b.nMinute, b.nSecond, nBegin) ||
        !LocalSeconds(e.nYear, e.nMonth, e.nDay, e.nHour, e.nMinute, e.nSecond, nEnd)) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return Sim().PlayBack(lLoginID, pFindInfo->nChannel, pFindInfo->nStreamType, nBegin, nEnd, cbData, pDataUser,
                          cbPos, pPosUser);
}

int32_t ZDK_DEV_PlayBackByName(int32_t lLoginID, const ZDK_FileData *pFile, ZDK_fDownLoadPosCallBack cbPos,
                               ZDK_fRealDataCallBack cbData, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_PlayBackByName",
                     "login=" + std::to_string(lLoginID) + " " + (pFile ? FileText(*pFile) : std::string("file=null"))))
        return 0;
    int64_t nBegin = 0, nEnd = 0;
    // The slot between the date and the hour stays 0; a record filled one field off is refused.
    if (!pFile || pFile->stBeginTime.nUnused != 0 || pFile->stEndTime.nUnused != 0 ||
        !SpanOf(pFile->stBeginTime, pFile->stEndTime, nBegin, nEnd)) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return Sim().PlayBack(lLoginID, pFile->nChannel, pFile->nStreamType, nBegin, nEnd, cbData, pUser, cbPos, pUser);
}

int32_t ZDK_DEV_PlayBackControl(int32_t lPlayHandle, int32_t nCommand, int32_t nValue, int32_t nReserved)
{
    if (!Sim().Enter("ZDK_DEV_PlayBackControl", "play=" + std::to_string(lPlayHandle) + " cmd=" +
                                                   std::to_string(nCommand) + " value=" + std::to_string(nValue) +
                                                   " " + std::to_string(nReserved)))
        return 0;
    return Sim().PlayBackControl(lPlayHandle, nCommand, nValue);
}

int32_t ZDK_DEV_StopPlayBack(int32_t lPlayHandle)
{
    if (!Sim().Enter("ZDK_DEV_StopPlayBack", "play=" + std::to_string(lPlayHandle)))
        return 0;
    return Sim().StopStream(lPlayHandle, SimStream::Kind::Playback);
}

int32_t ZDK_DEV_DownloadByName(int32_t lLoginID, const ZDK_FileData *pFile, const char *pSavedFileName,
                               ZDK_fDownLoadPosCallBack cbPos, void *pUser, int32_t nReserved)
{
    if (!Sim().Enter("ZDK_DEV_DownloadByName", "login=" + std::to_string(lLoginID) + " " +
                                                  (pFile ? FileText(*pFile) : std::string("file=null")) +
                                                  " path=" + Text(pSavedFileName) + " " + std::to_string(nReserved)))
        return 0;
    if (!pFile || pFile->stBeginTime.nUnused != 0 || pFile->stEndTime.nUnused != 0) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    const std::string strName = Field(pFile->sFileName, sizeof pFile->sFileName);
    int64_t nBegin = 0, nEnd = 0;
    if (!SpanOf(pFile->stBeginTime, pFile->stEndTime, nBegin, nEnd) && strName.find(".jpg") == std::string::npos) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return Sim().Download(lLoginID, pFile->nChannel, pFile->nStreamType, nBegin, nEnd, strName.c_str(),
                          pSavedFileName, cbPos, pUser);
}

int32_t ZDK_DEV_StopDownload(int32_t lDownloadHandle)
{
    if (!Sim().Enter("ZDK_DEV_StopDownload", "handle=" + std::to_string(lDownloadHandle)))
        return 0;
    return Sim().StopStream(lDownloadHandle, SimStream::Kind::Download);
}

// ----------------------------------------------------------------------------------------------------------
// Talk (VoiceCom.h).

int32_t ZDK_DEV_StartVoiceCom_MR(int32_t lLoginID, ZDK_fVoiceDataCallBack cbVoice, void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_StartVoiceCom_MR", "login=" + std::to_string(lLoginID)))
        return 0;
    return VoiceCom::Instance().Start(lLoginID, false, -1, cbVoice, pUser);
}

int32_t ZDK_DEV_StartVoiceCom_NVR_IPC(int32_t lLoginID, int32_t nChannel, ZDK_fVoiceDataCallBack cbVoice,
                                      void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_StartVoiceCom_NVR_IPC",
                     "login=" + std::to_string(lLoginID) + " channel=" + std::to_string(nChannel)))
        return 0;
    return VoiceCom::Instance().Start(lLoginID, true, nChannel, cbVoice, pUser);
}

int32_t ZDK_DEV_VoiceComSendData(int32_t lVoiceHandle, const char *pSendBuf, int32_t nBufLen)
{
    if (!Sim().Enter("ZDK_DEV_VoiceComSendData",
                     "talk=" + std::to_string(lVoiceHandle) + " length=" + std::to_string(nBufLen)))
        return 0;
    return VoiceCom::Instance().Send(lVoiceHandle, pSendBuf, nBufLen);
}

int32_t ZDK_DEV_StopVoiceCom(int32_t lVoiceHandle)
{
    if (!Sim().Enter("ZDK_DEV_StopVoiceCom", "talk=" + std::to_string(lVoiceHandle)))
        return 0;
    return VoiceCom::Instance().Stop(lVoiceHandle);
}

// ----------------------------------------------------------------------------------------------------------
// Configuration, abilities, file transfer and upgrades.

int32_t ZDK_DEV_GetDevConfig(int32_t lLoginID, int32_t nCommand, int32_t nChannel, char *pOutBuffer,
                             uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs)
{
    if (pReturned)
        *pReturned = 0;
    if (!Sim().Enter("ZDK_DEV_GetDevConfig", "login=" + std::to_string(lLoginID) + " cmd=" +
                                                std::to_string(nCommand) + " channel=" + std::to_string(nChannel) +
                                                " size=" + std::to_string(nOutBufferSize) +
                                                " wait=" + std::to_string(nWaitMs)))
        return KorvexSim::LastError();
    return DeviceConfig::Instance().GetConfig(lLoginID, nCommand, nChannel, pOutBuffer, nOutBufferSize, pReturned);
}

int32_t ZDK_DEV_SetDevConfig(int32_t lLoginID, int32_t nCommand, int32_t nChannel, const char *pInBuffer,
                             uint32_t nInLength, int32_t nWaitMs)
{
    if (!Sim().Enter("ZDK_DEV_SetDevConfig", "login=" + std::to_string(lLoginID) + " cmd=" +
                                                std::to_string(nCommand) + " channel=" + std::to_string(nChannel) +
                                                " length=" + std::to_string(nInLength) +
                                                " wait=" + std::to_string(nWaitMs)))
        return KorvexSim::LastError();
    return DeviceConfig::Instance().SetConfig(lLoginID, nCommand, nChannel, pInBuffer, nInLength);
}

int32_t ZDK_DEV_GetDevConfig_Json(int32_t lLoginID, const char *pName, int32_t nCommand, int32_t nChannel,
                                  char *pOutBuffer, uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs)
{
    if (pReturned)
        *pReturned = 0;
    if (!Sim().Enter("ZDK_DEV_GetDevConfig_Json", "login=" + std::to_string(lLoginID) + " name=" + Text(pName) +
                                                     " cmd=" + std::to_string(nCommand) + " channel=" +
                                                     std::to_string(nChannel) + " size=" +
                                                     std::to_string(nOutBufferSize) + " wait=" + std::to_string(nWaitMs)))
        return KorvexSim::LastError();
    return DeviceConfig::Instance().GetConfigJson(lLoginID, pName, nCommand, nChannel, pOutBuffer, nOutBufferSize,
                                                  pReturned);
}

int32_t ZDK_DEV_CmdGeneral_Json(int32_t lLoginID, int32_t nCommand, const char *pName, const char *pInData,
                                uint32_t nInLength, char *pOutBuffer, uint32_t nOutBufferSize, uint32_t *pReturned,
                                int32_t nWaitMs, int32_t nChannel)
{
    if (pReturned)
        *pReturned = 0;
    if (!Sim().Enter("ZDK_DEV_CmdGeneral_Json", "login=" + std::to_string(lLoginID) + " cmd=" +
                                                   std::to_string(nCommand) + " name=" + Text(pName) + " length=" +
                                                   std::to_string(nInLength) + " size=" +
                                                   std::to_string(nOutBufferSize) + " wait=" +
                                                   std::to_string(nWaitMs) + " channel=" + std::to_string(nChannel) +
                                                   " in=" + InText(pInData, nInLength)))
        return KorvexSim::LastError();
    if (!pOutBuffer) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return ZDK_ERR_ILLEGAL_PARAM;
    }
    return DeviceConfig::Instance().Command(lLoginID, nCommand, pName, pInData, nInLength, pOutBuffer, nOutBufferSize,
                                            pReturned, nChannel);
}

int32_t ZDK_DEV_Cmd_Json(int32_t lLoginID, int32_t nCommand, const char *pName, const char *pInData,
                         uint32_t nInLength, int32_t nWaitMs, int32_t nChannel)
{
    if (!Sim().Enter("ZDK_DEV_Cmd_Json", "login=" + std::to_string(lLoginID) + " cmd=" + std::to_string(nCommand) +
                                            " name=" + Text(pName) + " length=" + std::to_string(nInLength) +
                                            " wait=" + std::to_string(nWaitMs) + " channel=" +
                                            std::to_string(nChannel) + " in=" + InText(pInData, nInLength)))
        return KorvexSim::LastError();
    return DeviceConfig::Instance().Command(lLoginID, nCommand, pName, pInData, nInLength, nullptr, 0, nullptr,
                                            nChannel);
}

int32_t ZDK_DEV_GetChannelAbility_Json(int32_t lLoginID, const char *pName, int32_t nChannel, char *pOutBuffer,
                                       uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs)
{
    if (pReturned)
        *pReturned = 0;
    if (!Sim().Enter("ZDK_DEV_GetChannelAbility_Json", "login=" + std::to_string(lLoginID) + " name=" + Text(pName) +
                                                          " channel=" + std::to_string(nChannel) + " size=" +
                                                          std::to_string(nOutBufferSize) +
                                                          " wait=" + std::to_string(nWaitMs)))
        return KorvexSim::LastError();
    return DeviceConfig::Instance().ChannelAbility(lLoginID, pName, nChannel, pOutBuffer, nOutBufferSize, pReturned);
}

int32_t ZDK_DEV_GetAbility(int32_t lLoginID, const char *pPath, int32_t nReserved)
{
    if (!Sim().Enter("ZDK_DEV_GetAbility",
                     "login=" + std::to_string(lLoginID) + " path=" + Text(pPath) + " " + std::to_string(nReserved)))
        return 0;
    return DeviceConfig::Instance().Ability(lLoginID, pPath);
}

int32_t ZDK_DEV_QueryValue(int32_t lLoginID, const ZDK_QueryInfo *pQuery, int32_t *pResult, int32_t nWaitMs)
{
    std::string strArgs = "login=" + std::to_string(lLoginID);
    strArgs += pQuery ? " query=" + std::to_string(pQuery->nCommand) + "/" + std::to_string(pQuery->nChannel) + "/" +
                            std::to_string(pQuery->nParam)
                      : std::string(" query=null");
    strArgs += " wait=" + std::to_string(nWaitMs);
    if (!Sim().Enter("ZDK_DEV_QueryValue", strArgs))
        return 0;
    if (!pQuery || !pResult) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return Sim().QueryValue(lLoginID, *pQuery, pResult);
}

int32_t ZDK_DEV_SendFileDataToDevice(int32_t lLoginID, const char *pPath, ZDK_fFileTransferCallBack cbTransfer,
                                     void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_SendFileDataToDevice", "login=" + std::to_string(lLoginID) + " path=" + Text(pPath)))
        return 0;
    return FileTransfer::Instance().Send(lLoginID, pPath, cbTransfer, pUser);
}

int32_t ZDK_DEV_FileTransferAck(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2)
{
    if (!Sim().Enter("ZDK_DEV_FileTransferAck", "handle=" + std::to_string(lHandle) + " kind=" +
                                                   std::to_string(nKind) + " " + std::to_string(nValue1) + " " +
                                                   std::to_string(nValue2)))
        return 0;
    return FileTransfer::Instance().Ack(lHandle, nKind, nValue1, nValue2);
}

int32_t ZDK_DEV_StartLocalUpgrade(int32_t lLoginID, const char *pFilePath, int32_t nType, ZDK_fUpgradeCallBack cb,
                                  void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_StartLocalUpgrade",
                     "login=" + std::to_string(lLoginID) + " path=" + Text(pFilePath) + " type=" + std::to_string(nType)))
        return 0;
    return UpgradeTask::StartLocal(lLoginID, pFilePath, nType, cb, pUser);
}

int32_t ZDK_DEV_StartOnlineUpgrade(int32_t lLoginID, const char *pVersion, int32_t nType, ZDK_fUpgradeCallBack cb,
                                   void *pUser)
{
    if (!Sim().Enter("ZDK_DEV_StartOnlineUpgrade", "login=" + std::to_string(lLoginID) + " version=" + Text(pVersion) +
                                                      " type=" + std::to_string(nType)))
        return 0;
    return UpgradeTask::StartOnline(lLoginID, pVersion, nType, cb, pUser);
}

int32_t ZDK_DEV_GetUpgradeState(int32_t lUpgradeHandle)
{
    if (!Sim().Enter("ZDK_DEV_GetUpgradeState", "handle=" + std::to_string(lUpgradeHandle)))
        return KorvexSim::LastError();
    return UpgradeTask::State(lUpgradeHandle);
}

int32_t ZDK_DEV_CloseUpgradeHandle(int32_t lUpgradeHandle)
{
    if (!Sim().Enter("ZDK_DEV_CloseUpgradeHandle", "handle=" + std::to_string(lUpgradeHandle)))
        return 0;
    return UpgradeTask::Close(lUpgradeHandle);
}
