#pragma once

#include "device/DevLoginInfo.h"
#include "device/PlaybackRecords.h"
#include "platform/korvex.h"
#include "runtime/SdkInfo.h"

#include <cstdint>
#include <memory>

class QByteArray;
class QString;

// The one object through which the system reaches the device network library: set-up, login and logout with
// their error maps, live streams, playback and download. It keeps no login state of its own; the handles live
// in the callers' DevLoginInfo. Results of the library pass through (a handle above 0, a bool, or a negative
// error) except where a result code is named.
class CQZConnect
{
public:
    static CQZConnect *GetInstance();

    CQZConnect();
    virtual ~CQZConnect();

    // Copies the account over the defaults when bUseAccount is set, and the user data when its use flag is set.
    void SetSDKInfo(const ZDK_AppAccountInfo *pAccount, const UserDataInfo *pUserData, bool bUseAccount);

    // Starts the library with the disconnect callback; returns the result of ZDK_DEV_Init.
    virtual int InitKorvex(ZDK_fDisConnect cbDisConnect, void *pUser);
    // Ends the library; returns once no library thread runs and no callback can come any more. Called after
    // the event loop has ended, never from a library callback.
    virtual bool Cleanup();

    // Logs in as info.LoginType says and fills info from the device. Returns the login handle (above 0); on
    // failure the library's error (0 for a bad login type), with the result code in nError.
    virtual int ConnectDevice(DevLoginInfo &info, int &nError, const char *pWebType);
    virtual int DisconnectDevice(int lLoginID);
    // The device's value for the three numbers, or 0 when the query fails.
    virtual int GetDevConfigValue(int lLoginID, int nCommand, int nChannel, int nParam);

    // The result code of a library error, for every operation but the login.
    static int ErrorToRet(int nError);
    // The login's own map of library errors.
    static int LoginErrorToRet(int nError);

    // The channel (0-63) that a live data callback's user value carries, or -1 when it is out of range.
    // Channel 0 is a valid channel, so the value 0 is not "no user".
    static int UserChannel(const void *pUser);

    // Live streams. Both return the play handle; on failure ConnectChanel returns what the library returned
    // (not above 0) and ConnectChanel_V2 the library's (negative) last error. A stream whose data callback
    // cannot be set is stopped and reported as a failure.
    int ConnectChanel(int lLoginID, int nChannel, int nStreamType, ZDK_fRealDataCallBack cbData, void *pUser);
    int ConnectChanel_V2(int lLoginID, int nChannel, int nStreamType, ZDK_fRealDataCallBack_V2 cbData, void *pUser);
    bool SetStreamOpt(int lLoginID, int nChannel, int nStreamType);
    int DisconnectChannel(int lPlay, ZDK_fRealDataCallBack cbData, void *pUser);
    int DisconnectChannel_V2(int lPlay, ZDK_fRealDataCallBack_V2 cbData, void *pUser);

    // Playback: nKind 2 by time, 1 by file name; any other kind, and a file without a start time, give -1
    // without a call. On a result not above 0 the library's last error goes to nError.
    int BeginPlayback(int lLoginID, int nChannel, int nKind, const PlaybackFileEntry &entry,
                      ZDK_fRealDataCallBack cbData, ZDK_fDownLoadPosCallBack cbPos, void *pUser, int &nError);
    int EndPlayback(int lPlay);
    // Sends what the change from the current play state to the new one needs; returns the state in force.
    int PlayBackControl(int lPlay, int nNewState, int nCurState);
    bool PlayBackSeek(int lPlay, int nSeconds);

    // Downloads the entry's recording into the local file (path in the local 8-bit encoding).
    int StartDownLoad(int lLoginID, const DownloadFileEntry &entry, const char *pLocalPath,
                      ZDK_fDownLoadPosCallBack cbPos, void *pUser);
    bool StopDownLoad(int lHandle);

    // Configuration, abilities, upgrades and file transfer. Answers of the device are read within the length
    // the library reports, and every JSON value is type-checked before it is read: an answer of the wrong shape
    // gives the operation's failure result.

    // The abilities of that name (JSON) into the buffer, as a zero-terminated text within nBufferSize bytes.
    // 100, or the result code of the library's error.
    int GetChannelAbility(int lLoginID, const char *pName, char *pBuffer, int nBufferSize);
    // Sets flags[0][i] (main stream) and flags[1][i] (extra stream) to 1 for each of the first 64 channels whose
    // encoder is H.264 (a ChannelCodecTable); leaves the rest as they are. Always 100.
    int GetEncodeFormat(int lLoginID, int (&flags)[2][64]);
    // Whether the camera of the channel (bQuick: the device itself) has a two-lens zoom.
    bool GetScaleTwoLensAbility(int lLoginID, int nChannel, bool bQuick);
    // Reads the zoom of the stream (bAllChannels: of the device itself, channel -1) and applies it back to the
    // channel, the sub stream reset first for the main stream. 1 when read, 0 when the answer does not parse
    // or its "Ret" is not 100, -1 when the command fails or a value has the wrong type.
    int GetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float &fTimes, bool bAllChannels,
                              float &fMaxTimes);
    // 1, or -1 when the device refuses.
    int SetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float fTimesOri, float fTimes);
    // The library's result; when it succeeded and the device lists a version whose date text differs from
    // strCurrentDate, strNewVersion becomes the name of the first version listed.
    int GetNewVersionInfo(int lLoginID, const QString &strCurrentDate, QString &strNewVersion);
    // 100 (the progress callback follows on a library thread), 1007 when the device refuses to start, or the
    // result code of the library's error. The upgrade handle comes with the callback, and in *pHandle when given
    // (0 when the start failed), so that an upgrade can be closed before it has reported.
    int StartLocalUpgrade(int lLoginID, const QString &strFilePath, ZDK_fUpgradeCallBack cbProgress, void *pUser,
                          int *pHandle = nullptr);
    int StartOnlineUpgrade(int lLoginID, const QString &strVersion, ZDK_fUpgradeCallBack cbProgress, void *pUser,
                           int *pHandle = nullptr);
    int GetUpgradeState(int lUpgradeHandle);
    // Closes a handle above 0; returns once no callback of that upgrade can run any more.
    bool CloseUpgrade(int lUpgradeHandle);
    // Kind 0 imports a configuration file (100, 1020 when it does not open, 1015 above 64 KiB, or the result
    // code of the library's error); kinds 1-4 send the file with the upload header of the kind (100, 109 for a
    // missing or empty file, or the result code of the library's error), the result following through cb.
    int ImportFile(int nKind, int lLoginID, int nChannel, const QString &strPath, ZDK_fFileTransferCallBack cb,
                   void *pUser);
    // The "OPFile" header of a custom alarm voice of nFileSize bytes, for the device itself (bDevice) or for a
    // channel (255 written as -1) with the file purpose.
    static QByteArray VoiceHeader(bool bDevice, int nChannel, int nFilePurpose, int64_t nFileSize);
    // Sends the file (local 8-bit path) with the caller's header: 1, -1 when the "OPFile" command fails, -2 when
    // the transfer does not start.
    int SendAudioFile(int lLoginID, const char *pPath, const char *pHeader, void *pUser, ZDK_fFileTransferCallBack cb);
    // Registers the library's message callback (alarms).
    bool SetMessCallBack(ZDK_fMessCallBack cbMessage, void *pUser);

    const ZDK_AppAccountInfo &AccountInfo() const { return *m_pAccoutInfo; }
    const UserDataInfo &UserData() const { return *m_pUserData; }

private:
    // Starts a channel's live stream with its client record; the play handle or the failing value.
    static int StartRealPlay(int lLoginID, int nChannel, int nStreamType);
    // The result code of an upgrade start: 100 for a handle, 1007 when the device refused, else the mapped error.
    static int UpgradeStartResult(int lHandle, const char *pName, const QString &strTag);
    std::unique_ptr<ZDK_AppAccountInfo> m_pAccoutInfo;
    std::unique_ptr<UserDataInfo> m_pUserData;
};
