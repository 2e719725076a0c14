#pragma once

// The device network library's functions and records as the system calls them. The library itself is not on
// this machine; standin/korvex implements this interface as a simulated device library.
//
// Conventions of the library:
// - Handles (login, play, download, talk, upgrade, transfer) are int32 and valid above 0; they are never reused.
// - A call that returns a bool fails at 0; a configuration call fails below 0. After a failure the calling
//   thread's last error (ZDK_DEV_GetLastError) is a negative number.
// - Every callback runs on a thread of the library, never inside the call that caused it. A stop, logout or
//   close returns only when no callback of that handle can run any more.
// - User values are void*: a pointer, or a small number such as a channel (ZDK_ChannelToUser).

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------------------
// Error numbers reported by the library (ZDK_DEV_GetLastError, login error out).
enum ZDK_ErrorCode : int32_t {
    ZDK_ERR_FAILED = -10000,            // failure without a more precise cause
    ZDK_ERR_NOT_INIT = -10001,          // ZDK_DEV_Init was not called, or the library was cleaned up
    ZDK_ERR_INVALID_HANDLE = -10002,    // no such login, play, download or talk handle (or closed already)
    ZDK_ERR_ILLEGAL_PARAM = -10003,     // a null pointer, a bad kind, stream type or record
    ZDK_ERR_NOT_SUPPORTED = -10004,     // the device does not offer the operation
    ZDK_ERR_CONNECT_FAILED = -10005,    // no device answers at that address or serial number
    ZDK_ERR_DISCONNECTED = -10006,      // the login's connection was lost
    ZDK_ERR_FILE_OPEN = -10007,         // a local file could not be opened
    ZDK_ERR_NO_RECORD = -10008,         // no recording in the asked time span
    ZDK_ERR_NO_CHANNEL = -10009,        // the device has no such channel
    ZDK_ERR_WRONG_THREAD = -10010,      // a call that must not run on a library thread was made from a callback
    ZDK_ERR_BUFFER_TOO_SMALL = -10011,  // the answer does not fit into the out buffer
    ZDK_ERR_LOGIN_REFUSED = -11300,     // the device refused the login (token refused)
    ZDK_ERR_PASSWORD = -11301,          // wrong password
    ZDK_ERR_NO_USER = -11302,           // unknown user
    ZDK_ERR_USER_LOCKED = -11303,       // the user is locked after too many failures
    ZDK_ERR_USER_BLACKLISTED = -11304,  // the client is on the device's block list
    ZDK_ERR_USER_LOGGED_IN = -11307,    // the user is logged in already
    ZDK_ERR_TOO_MANY_LOGINS = -11317,   // the device allows no further login
    ZDK_ERR_NO_PERMISSION = -11401,     // the user may not do this
    ZDK_ERR_CLOUD = -11613,             // the cloud service refused; NetDeviceInfo carries its text
    ZDK_ERR_UPGRADE_REFUSED = -512,     // the device refused to start an upgrade
};

// ---------------------------------------------------------------------------------------------------------
// Records.

// The application account handed over at set-up.
struct ZDK_AppAccountInfo
{
    char Uuid[64];
    char AppKey[64];
    char AppSecret[64];
    int32_t MoveCard;
};
static_assert(sizeof(ZDK_AppAccountInfo) == 196, "account record layout");

// Device information filled by a successful login (832 bytes). The offset-828 value is an input.
struct NetDeviceInfo
{
    char sDeviceText1[64];      // 0
    char reserved0[128];        // 64
    int32_t nYear;              // 192: the three date numbers the login keeps
    int32_t nMonth;             // 196
    int32_t nDay;               // 200
    char reserved1[20];         // 204
    char sSerialNumber[64];     // 224
    int32_t nChannelCountA;     // 288
    char reserved2[32];         // 292
    int32_t nChannelCountB;     // 324
    int32_t reserved3;          // 328
    int32_t nDeviceType;        // 332
    char sDeviceText2[64];      // 336
    char reserved4[44];         // 400
    char sCloudError[260];      // 444: set when the login fails with ZDK_ERR_CLOUD
    char reserved5[124];        // 704
    int32_t nClientFlag;        // 828: input, 1000 for the "O5" web type, else 0
};
static_assert(sizeof(NetDeviceInfo) == 832, "NetDeviceInfo size");
static_assert(offsetof(NetDeviceInfo, nYear) == 192 && offsetof(NetDeviceInfo, nMonth) == 196 &&
                  offsetof(NetDeviceInfo, nDay) == 200, "NetDeviceInfo date");
static_assert(offsetof(NetDeviceInfo, sSerialNumber) == 224, "NetDeviceInfo serial");
static_assert(offsetof(NetDeviceInfo, nChannelCountA) == 288 && offsetof(NetDeviceInfo, nChannelCountB) == 324,
              "NetDeviceInfo channel counts");
static_assert(offsetof(NetDeviceInfo, nDeviceType) == 332 && offsetof(NetDeviceInfo, sDeviceText2) == 336,
              "NetDeviceInfo type and text 2");
static_assert(offsetof(NetDeviceInfo, sCloudError) == 444 && offsetof(NetDeviceInfo, nClientFlag) == 828,
              "NetDeviceInfo cloud text and client flag");

// Client record of a live stream (24 bytes).
struct ZDK_ClientInfo
{
    int32_t nChannel;       // 0-based
    int32_t nStreamType;    // 0 main, 1 sub
    int32_t nMode;          // 0
    int32_t reserved[3];
};
static_assert(sizeof(ZDK_ClientInfo) == 24, "client record size");

// A time as six int32 (find record).
struct ZDK_Time6
{
    int32_t nYear, nMonth, nDay, nHour, nMinute, nSecond;
};
static_assert(sizeof(ZDK_Time6) == 24, "six-number time");

// Find record for playback by time (168 bytes).
struct ZDK_FindInfo
{
    int32_t nChannel;       // 0
    int32_t nFileType;      // 4
    ZDK_Time6 startTime;    // 8
    ZDK_Time6 endTime;      // 32
    char reserved0[40];     // 56
    int32_t nStreamType;    // 96
    char szText1[32];       // 100: at most 31 characters
    char szText2[32];       // 132: at most 31 characters
    int32_t reserved1;      // 164
};
static_assert(sizeof(ZDK_FindInfo) == 168, "find record size");
static_assert(offsetof(ZDK_FindInfo, startTime) == 8 && offsetof(ZDK_FindInfo, endTime) == 32, "find times");
static_assert(offsetof(ZDK_FindInfo, nStreamType) == 96 && offsetof(ZDK_FindInfo, szText1) == 100 &&
                  offsetof(ZDK_FindInfo, szText2) == 132, "find stream and texts");

// A time of the recording-file record: year, month, day, an unused slot, hour, minute, second.
struct ZDK_FileTime
{
    int32_t nYear, nMonth, nDay, nUnused, nHour, nMinute, nSecond;
};
static_assert(sizeof(ZDK_FileTime) == 28, "file time");

// Recording-file record for playback by name and for download (200 bytes).
struct ZDK_FileData
{
    int32_t nChannel;           // 0
    uint32_t nFileLength;       // 4
    char sFileName[108];        // 8
    ZDK_FileTime stBeginTime;   // 116 (hour at 132)
    int32_t reserved0;          // 144
    ZDK_FileTime stEndTime;     // 148 (hour at 164)
    char reserved1[16];         // 176
    int32_t nStreamType;        // 192
    int32_t reserved2;          // 196
};
static_assert(sizeof(ZDK_FileData) == 200, "recording-file record size");
static_assert(offsetof(ZDK_FileData, sFileName) == 8 && offsetof(ZDK_FileData, stBeginTime) == 116,
              "file record name and begin");
static_assert(offsetof(ZDK_FileData, stBeginTime) + offsetof(ZDK_FileTime, nUnused) == 128 &&
                  offsetof(ZDK_FileData, stBeginTime) + offsetof(ZDK_FileTime, nHour) == 132 &&
                  offsetof(ZDK_FileData, stBeginTime) + offsetof(ZDK_FileTime, nSecond) == 140,
              "file record begin time");
static_assert(offsetof(ZDK_FileData, stEndTime) == 148 &&
                  offsetof(ZDK_FileData, stEndTime) + offsetof(ZDK_FileTime, nHour) == 164,
              "file record end time");
static_assert(offsetof(ZDK_FileData, nStreamType) == 192, "file record stream");

// The record that comes with each block of the V2 live data callback.
enum ZDK_FrameKind : int32_t { ZDK_FRAME_VIDEO = 1, ZDK_FRAME_AUDIO = 3 };
enum ZDK_FrameCodec : uint32_t {
    ZDK_CODEC_H264 = 2,
    ZDK_CODEC_H265 = 5,
    ZDK_CODEC_G711A = 14,   // audio: the talk header's type codes
    ZDK_CODEC_G711U = 10,
};
struct RealDataFrame
{
    int32_t nKind;                  // 0: ZDK_FRAME_VIDEO or ZDK_FRAME_AUDIO
    int32_t nKeyFrame;              // 4: video, 1 for a key frame
    const unsigned char *pData;     // 8: the whole block, the library's frame header included
    uint32_t nDataLength;           // 16
    uint32_t nCodec;                // 20: ZDK_FrameCodec
    uint32_t nTimeStamp;            // 24: seconds since 1970 of the device's local time
    uint32_t nMilliSecond;          // 28
    uint32_t nSampleRate;           // 32: audio, in Hz
    uint32_t nChannels;             // 36: audio
    uint32_t nBitsPerSample;        // 40: audio, 8 for G.711
    uint32_t reserved0[4];          // 44
    uint32_t nFrameRate;            // 60
    uint16_t nWidth;                // 64: video
    uint16_t nHeight;               // 66: video
    uint32_t reserved1;             // 68
};
static_assert(sizeof(void *) == 8, "the records are laid out for 64-bit builds");
static_assert(offsetof(RealDataFrame, pData) == 8 && offsetof(RealDataFrame, nDataLength) == 16 &&
                  offsetof(RealDataFrame, nCodec) == 20, "RealDataFrame data and codec");
static_assert(offsetof(RealDataFrame, nFrameRate) == 60 && offsetof(RealDataFrame, nWidth) == 64 &&
                  offsetof(RealDataFrame, nHeight) == 66, "RealDataFrame frame rate and size");
static_assert(sizeof(RealDataFrame) == 72, "RealDataFrame size");

// The alarm record of a message callback of kind ZDK_MSG_ALARM.
enum ZDK_MessageKind : int32_t { ZDK_MSG_ALARM = 1 };
enum ZDK_AlarmStatus : int32_t { ZDK_ALARM_START = 0, ZDK_ALARM_STOP = 1, ZDK_ALARM_PULSE = 2 };
struct ZDK_AlarmInfo
{
    int32_t nChannel;       // 0
    int32_t nEvent;         // 4: alarm code
    int32_t nStatus;        // 8: ZDK_AlarmStatus
    char sTime[32];         // 12: "yyyy-MM-dd hh:mm:ss", device local time
    char reserved[84];
};
static_assert(sizeof(ZDK_AlarmInfo) == 128, "alarm record size");
static_assert(offsetof(ZDK_AlarmInfo, nEvent) == 4 && offsetof(ZDK_AlarmInfo, nStatus) == 8, "alarm fields");

// Input record of the value query: three numbers chosen by the caller.
struct ZDK_QueryInfo
{
    int32_t nCommand;
    int32_t nChannel;
    int32_t nParam;
};
static_assert(sizeof(ZDK_QueryInfo) == 12, "query record size");

// Configuration commands (ZDK_DEV_GetDevConfig, ZDK_DEV_SetDevConfig) and JSON commands, each with its name.
enum ZDK_ConfigCommand : int32_t {
    ZDK_CFG_TALK = 9,                   // get: ZDK_TalkConfig
    ZDK_CFG_IMPORT = 52,                // set: a configuration file (JSON text) for the whole device
    ZDK_CFG_UPGRADE_INFO = 192,         // get: ZDK_UpgradeInfo
    ZDK_CMD_ENCODE = 1042,              // "AVEnc.A3Encode": the encoder formats of every channel
    ZDK_CMD_SYSTEM_FUNCTION = 1362,     // "bypass@SystemFunction": the abilities of the camera behind a channel
    ZDK_CMD_SCALE_TIMES_SWITCH = 3032,  // "OPScaleTimesSwitch": sets the two-lens zoom of a stream
    ZDK_CMD_SENSOR_GET = 3034,          // "OPSensorGet": reads the two-lens zoom of a stream
    ZDK_CMD_FILE = 3500,                // "OPFile": announces the file that ZDK_DEV_SendFileDataToDevice sends
};

// The device talk configuration (command ZDK_CFG_TALK, 229 bytes).
struct ZDK_TalkConfig
{
    char reserved0[128];
    uint8_t bCannotTalk;    // 128: non-zero when the device itself cannot talk
    char reserved1[100];
};
static_assert(sizeof(ZDK_TalkConfig) == 229 && offsetof(ZDK_TalkConfig, bCannotTalk) == 128, "talk record layout");

// One firmware version the device could be upgraded to, and the list of them (command ZDK_CFG_UPGRADE_INFO,
// 2884 bytes): the count, then the versions, newest first.
struct ZDK_UpgradeVersion
{
    char sName[128];    // the version name, such as "KVX-NVR16_V4.03.R12"
    char sDate[32];     // its date text, such as "2024-6-1"
    char sNote[128];
};
struct ZDK_UpgradeInfo
{
    int32_t nCount;
    ZDK_UpgradeVersion versions[10];
};
static_assert(sizeof(ZDK_UpgradeVersion) == 288, "upgrade version size");
static_assert(sizeof(ZDK_UpgradeInfo) == 2884 && offsetof(ZDK_UpgradeInfo, versions) == 4 &&
                  offsetof(ZDK_UpgradeInfo, versions) + offsetof(ZDK_UpgradeVersion, sDate) == 132,
              "upgrade information layout");

// Upgrade kinds (the type argument of the two starts) and states (ZDK_DEV_GetUpgradeState; the progress
// callback's first value is the state at that report). Done and failed are final.
enum ZDK_UpgradeType : int32_t { ZDK_UPGRADE_ONLINE = 0, ZDK_UPGRADE_LOCAL = 1 };
enum ZDK_UpgradeState : int32_t { ZDK_UPGRADE_DONE = 1, ZDK_UPGRADE_RUNNING = 2, ZDK_UPGRADE_FAILED = 3 };

// Result kinds of the file-transfer callback: the device took the whole file (values: bytes received, file
// size); the device answered with a code of its own (value 1: the code, value 2: bytes received); the transfer
// broke off (values: bytes received, file size).
enum ZDK_TransferKind : int32_t { ZDK_TRANSFER_DONE = 1, ZDK_TRANSFER_ANSWER = 2, ZDK_TRANSFER_BROKEN = 3 };

// Data types of the V1 live and playback data callbacks.
enum ZDK_DataType : int32_t { ZDK_DATA_VIDEO = 1, ZDK_DATA_AUDIO = 3 };

// Play-control commands; the value is the speed level 1-4 (0: back to normal), or the position in seconds
// from the begin of the played span for ZDK_PLAY_POSITION.
enum ZDK_PlayControl : int32_t {
    ZDK_PLAY_PAUSE = 0,
    ZDK_PLAY_NORMAL = 1,
    ZDK_PLAY_POSITION = 2,
    ZDK_PLAY_FAST = 3,
    ZDK_PLAY_SLOW = 4,
};

// Connection kinds of the login, and the login kind of the token login.
enum ZDK_ConnectKind : int32_t { ZDK_CONNECT_ADDRESS = 0, ZDK_CONNECT_SERIAL = 2 };
enum : int32_t { ZDK_LOGIN_KIND_TOKEN = 7 };

// ---------------------------------------------------------------------------------------------------------
// Callbacks (all run on threads of the library).

// A login's connection was lost.
typedef void (*ZDK_fDisConnect)(int32_t lLoginID, const char *pchDVRIP, int32_t nDVRPort, void *pUser);
// A message of a login; nKind ZDK_MSG_ALARM carries a ZDK_AlarmInfo.
typedef bool (*ZDK_fMessCallBack)(int32_t lLoginID, const char *pBuf, uint32_t nBufLen, void *pUser, int32_t nKind);
// One block of a live stream (V1) or of a playback; a result of 0 or less hands the same block again shortly after.
typedef int32_t (*ZDK_fRealDataCallBack)(int32_t lHandle, int32_t nDataType, const unsigned char *pBuffer,
                                         uint32_t nBufSize, void *pUser);
// One block of a live stream with its frame record (V2); a result of 0 or less hands it again shortly after.
typedef int32_t (*ZDK_fRealDataCallBack_V2)(int32_t lRealHandle, const RealDataFrame *pFrame, void *pUser);
// Playback position (once, when the whole span has been delivered) and download progress (a last report with
// a position of -1). Sizes are in KiB.
typedef void (*ZDK_fDownLoadPosCallBack)(int32_t lHandle, int32_t nTotalSize, int32_t nDownLoadSize, void *pUser);
// Audio of a voice talk.
typedef void (*ZDK_fVoiceDataCallBack)(int32_t lVoiceHandle, const char *pDataBuf, int32_t nBufLen,
                                       int32_t nDataType, void *pUser);
// Upgrade progress: nValue is the ZDK_UpgradeState at the report, sizes in bytes; the last report comes with
// the final state.
typedef void (*ZDK_fUpgradeCallBack)(int32_t nValue, int32_t lUpgradeHandle, int32_t nTotalSize, int32_t nSendSize,
                                     void *pUser);
// The result of a file sent to the device: one report per transfer, nKind a ZDK_TransferKind.
typedef void (*ZDK_fFileTransferCallBack)(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2,
                                          void *pUser);

// A channel number carried as a user value, and back.
inline void *ZDK_ChannelToUser(int32_t nChannel) { return reinterpret_cast<void *>(static_cast<intptr_t>(nChannel)); }
inline int32_t ZDK_UserToChannel(const void *pUser)
{
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(pUser));
}

// ---------------------------------------------------------------------------------------------------------
// Set-up. ZDK_DEV_Init returns non-zero on success.
int32_t ZDK_DEV_Init(ZDK_fDisConnect cbDisConnect, void *pUser);
int32_t ZDK_DEV_InitAppInfo(const ZDK_AppAccountInfo *pAccount);
int32_t ZDK_DEV_UserData(int32_t nType, const char *pData, int32_t nLen);
// Registers the one message callback of the process (alarms of the logins that listen for them).
int32_t ZDK_DEV_SetMessCallBack(ZDK_fMessCallBack cbMessage, void *pUser);
// Ends the library: returns only when no library thread runs and no callback can be made any more.
// Must not be called from a callback.
int32_t ZDK_DEV_Cleanup();

// The error of the calling thread's last failed call (a negative number).
int32_t ZDK_DEV_GetLastError();

// ---------------------------------------------------------------------------------------------------------
// Login. Both return the login handle, or 0 with the error in *pError and in the last error.
// ZDK_CONNECT_ADDRESS: pAddress is the IP address and nPort the port; ZDK_CONNECT_SERIAL: pAddress is the
// serial number and the port is not used.
int32_t ZDK_DEV_Login(const char *pAddress, int32_t nPort, const char *pUser, const char *pPassword,
                      NetDeviceInfo *pDeviceInfo, int32_t *pError, int32_t nConnectKind);
// Login by serial number and token (nLoginKind ZDK_LOGIN_KIND_TOKEN).
int32_t ZDK_DEV_LoginEx_V2(const char *pSerial, int32_t nPort, const char *pToken, const char *pPassword,
                           NetDeviceInfo *pDeviceInfo, int32_t nLoginKind, int32_t *pError, int32_t nConnectKind);
// Post-login call: the login starts listening for the device's alarms (message callback). Returns a bool.
int32_t ZDK_DEV_StartAlarmListen(int32_t lLoginID);
// Pre-logout call: the login stops listening for alarms. Returns a bool (true also when it did not listen).
int32_t ZDK_DEV_StopAlarmListen(int32_t lLoginID);
// Ends the login with every stream, playback, download and talk it still has. Returns a bool.
int32_t ZDK_DEV_Logout(int32_t lLoginID);

// ---------------------------------------------------------------------------------------------------------
// Live streams.
int32_t ZDK_DEV_RealPlay(int32_t lLoginID, const ZDK_ClientInfo *pClient, void *pReserved);
int32_t ZDK_DEV_SetRealDataCallBack(int32_t lRealHandle, ZDK_fRealDataCallBack cbRealData, void *pUser);
int32_t ZDK_DEV_DelRealDataCallBack(int32_t lRealHandle, ZDK_fRealDataCallBack cbRealData, void *pUser);
int32_t ZDK_DEV_SetRealDataCallBack_V2(int32_t lRealHandle, ZDK_fRealDataCallBack_V2 cbRealData, void *pUser);
int32_t ZDK_DEV_DelRealDataCallBack_V2(int32_t lRealHandle, ZDK_fRealDataCallBack_V2 cbRealData, void *pUser);
int32_t ZDK_DEV_StopRealPlay(int32_t lRealHandle, int32_t nReserved);
// Stream option of a channel (0 main, 1 sub). Returns a bool.
int32_t ZDK_DEV_SetStreamOption(int32_t lLoginID, int32_t nChannel, int32_t nStreamType);

// ---------------------------------------------------------------------------------------------------------
// Playback and download.
int32_t ZDK_DEV_PlayBackByTimeEx(int32_t lLoginID, const ZDK_FindInfo *pFindInfo, ZDK_fRealDataCallBack cbData,
                                 void *pDataUser, ZDK_fDownLoadPosCallBack cbPos, void *pPosUser);
int32_t ZDK_DEV_PlayBackByName(int32_t lLoginID, const ZDK_FileData *pFile, ZDK_fDownLoadPosCallBack cbPos,
                               ZDK_fRealDataCallBack cbData, void *pUser);
// ZDK_PlayControl command with its value. Returns a bool.
int32_t ZDK_DEV_PlayBackControl(int32_t lPlayHandle, int32_t nCommand, int32_t nValue, int32_t nReserved);
int32_t ZDK_DEV_StopPlayBack(int32_t lPlayHandle);
// Downloads the recording of the file record into the local file (stream blocks, or a JPEG picture for a file
// name containing ".jpg"). Returns the download handle.
int32_t ZDK_DEV_DownloadByName(int32_t lLoginID, const ZDK_FileData *pFile, const char *pSavedFileName,
                               ZDK_fDownLoadPosCallBack cbPos, void *pUser, int32_t nReserved);
int32_t ZDK_DEV_StopDownload(int32_t lDownloadHandle);

// ---------------------------------------------------------------------------------------------------------
// Voice talk with the device, or with one channel behind a recorder. Return the talk handle.
int32_t ZDK_DEV_StartVoiceCom_MR(int32_t lLoginID, ZDK_fVoiceDataCallBack cbVoice, void *pUser);
int32_t ZDK_DEV_StartVoiceCom_NVR_IPC(int32_t lLoginID, int32_t nChannel, ZDK_fVoiceDataCallBack cbVoice,
                                      void *pUser);
// Sends one talk frame (header and payload). Returns a bool.
int32_t ZDK_DEV_VoiceComSendData(int32_t lVoiceHandle, const char *pSendBuf, int32_t nBufLen);
int32_t ZDK_DEV_StopVoiceCom(int32_t lVoiceHandle);

// ---------------------------------------------------------------------------------------------------------
// Configuration. Results below 0 fail (the result is the error, also the last error); the out length receives
// the bytes written to the out buffer. Texts in and out are JSON of exactly the given length: the library
// neither needs nor writes a terminating zero. The JSON answers are objects whose "Name" names the member
// that carries the data, with a "Ret" of 100 when the device did what was asked.
int32_t ZDK_DEV_GetDevConfig(int32_t lLoginID, int32_t nCommand, int32_t nChannel, char *pOutBuffer,
                             uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs);
int32_t ZDK_DEV_SetDevConfig(int32_t lLoginID, int32_t nCommand, int32_t nChannel, const char *pInBuffer,
                             uint32_t nInLength, int32_t nWaitMs);
// JSON configuration read by name and command (1 = success).
int32_t ZDK_DEV_GetDevConfig_Json(int32_t lLoginID, const char *pName, int32_t nCommand, int32_t nChannel,
                                  char *pOutBuffer, uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs);
// JSON command with an answer (1 = success).
int32_t ZDK_DEV_CmdGeneral_Json(int32_t lLoginID, int32_t nCommand, const char *pName, const char *pInData,
                                uint32_t nInLength, char *pOutBuffer, uint32_t nOutBufferSize, uint32_t *pReturned,
                                int32_t nWaitMs, int32_t nChannel);
// JSON command without an answer (1 = success), such as "OPFile".
int32_t ZDK_DEV_Cmd_Json(int32_t lLoginID, int32_t nCommand, const char *pName, const char *pInData,
                         uint32_t nInLength, int32_t nWaitMs, int32_t nChannel);
// Channel abilities as JSON, by ability name (1 = success).
int32_t ZDK_DEV_GetChannelAbility_Json(int32_t lLoginID, const char *pName, int32_t nChannel, char *pOutBuffer,
                                       uint32_t nOutBufferSize, uint32_t *pReturned, int32_t nWaitMs);
// One ability by its slash path, such as "SystemFunction/OtherFunction/SupportScaleTwoLens". Returns a bool.
int32_t ZDK_DEV_GetAbility(int32_t lLoginID, const char *pPath, int32_t nReserved);
// A value of the device chosen by the query record. Returns a bool; the value goes to *pResult.
int32_t ZDK_DEV_QueryValue(int32_t lLoginID, const ZDK_QueryInfo *pQuery, int32_t *pResult, int32_t nWaitMs);
// Sends a local file to the device after an "OPFile" command (ZDK_CMD_FILE) announced it: the whole file is
// read during the call; the result comes through the callback. Returns the transfer handle (non-zero on success).
int32_t ZDK_DEV_SendFileDataToDevice(int32_t lLoginID, const char *pPath, ZDK_fFileTransferCallBack cbTransfer,
                                     void *pUser);
// Acknowledges a report of a file transfer (kind 1 and the report's two values). Returns a bool.
int32_t ZDK_DEV_FileTransferAck(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2);

// ---------------------------------------------------------------------------------------------------------
// Firmware upgrade from a local file (read whole during the call, type ZDK_UPGRADE_LOCAL) or to a version of the
// device's list (type ZDK_UPGRADE_ONLINE). Both return the upgrade handle; a device that refuses to start one
// (an upgrade runs already, no such version) fails with ZDK_ERR_UPGRADE_REFUSED. The handle stays valid after
// the final state until it is closed; closing returns only when no callback of it can run any more.
int32_t ZDK_DEV_StartLocalUpgrade(int32_t lLoginID, const char *pFilePath, int32_t nType, ZDK_fUpgradeCallBack cb,
                                  void *pUser);
int32_t ZDK_DEV_StartOnlineUpgrade(int32_t lLoginID, const char *pVersion, int32_t nType, ZDK_fUpgradeCallBack cb,
                                   void *pUser);
int32_t ZDK_DEV_GetUpgradeState(int32_t lUpgradeHandle);
int32_t ZDK_DEV_CloseUpgradeHandle(int32_t lUpgradeHandle);
