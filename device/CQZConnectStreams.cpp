// Live streams, playback and download.

#include "device/CQZConnect.h"
#include "device/PlayState.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"

#include <QString>

#include <cstdio>
#include <cstring>

namespace {

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

} // namespace

int CQZConnect::UserChannel(const void *pUser)
{
    const int nChannel = ZDK_UserToChannel(pUser);
    return nChannel >= 0 && nChannel < 64 ? nChannel : -1;
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
    if (IsFastPlayState(nNewState)) {
        bOk = send(ZDK_PLAY_FAST, nNewState - 31);
    } else if (IsSlowPlayState(nNewState)) {
        bOk = send(ZDK_PLAY_SLOW, nNewState - 15);
    } else if (nNewState == 0) {
        if (IsFastPlayState(nCurState))
            bOk = send(ZDK_PLAY_FAST, 0);
        else if (IsSlowPlayState(nCurState))
            bOk = send(ZDK_PLAY_SLOW, 0);
        else
            bOk = send(ZDK_PLAY_NORMAL, 0);
    } else if (nNewState == 2) {
        // At normal speed the device is not told; the paused decoder holds the data back.
        if (!IsFastPlayState(nCurState) && !IsSlowPlayState(nCurState))
            return nCurState;
        bOk = send(IsFastPlayState(nCurState) ? ZDK_PLAY_FAST : ZDK_PLAY_SLOW, 0);
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
