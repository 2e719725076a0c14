#pragma once

#include "device/DevLoginInfo.h"
#include "device/PlaybackRecords.h"
#include "platform/korvex.h"

#include <cstdint>
#include <memory>

// The user-data record handed to the device library at set-up.
struct UserDataInfo
{
    int32_t bUse;   // non-zero: hand the user data to the library
    int32_t type;
    char UserData[64];
    int32_t len;
};

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

    const ZDK_AppAccountInfo &AccountInfo() const { return *m_pAccoutInfo; }
    const UserDataInfo &UserData() const { return *m_pUserData; }

private:
    std::unique_ptr<ZDK_AppAccountInfo> m_pAccoutInfo;
    std::unique_ptr<UserDataInfo> m_pUserData;
};
