#pragma once

#include "runtime/SdkInfo.h"
#include "runtime/ToolInfo.h"

#include <QString>

// The process-wide OEM mode: 1 for "O60", 2 for "O61", else 0. Set once from the SDK information.
extern int g_nOemMode;

// Per stream (row 0 main, row 1 sub) and channel 0-63: 1 when the stream is encoded as H.264, else 0.
constexpr int kCodecStreamCount = 2;
constexpr int kCodecChannelCount = 64;
using ChannelCodecTable = int[kCodecStreamCount][kCodecChannelCount];

// The process-wide store of what the start-up and the login learn and several subsystems need.
class CDataCenter
{
public:
    static CDataCenter *GetInstance();
    static void ReleaseInstance();
    // Replaces the instance with one for the given application directory (tests use a temporary folder).
    static CDataCenter *CreateInstance(const QString &strAppDir);

    // Tests make their own instance with a temporary application directory.
    explicit CDataCenter(const QString &strAppDir);
    virtual ~CDataCenter();

    // Takes the SDK information of the command line: sets the OEM mode and keeps the application account and
    // the user data in m_stSdkInfo, for main to hand to the device connection.
    void InitSDKInfo(const QString &strSdkInfo);
    // 1 for "O60", 2 for "O61", else 0 (exact comparison).
    static int GetOemMode(const QString &strOemId);

    // Reads the tool-version INI file chosen by the OEM id and setup name (zero-terminated, local 8-bit) into
    // m_stToolInfo and builds the update addresses. Returns 0.
    int InitToolInfo(const char *pOemId, const char *pSetupName);

    void GetChannelCodec(ChannelCodecTable &table) const;
    void SetChannelCodec(const ChannelCodecTable &table);

    // Deletes every file of the tree, and with bRemoveRoot every directory too, the root included. A symbolic
    // link is removed itself and never followed. 0 on success, -2 no such directory, -3 a file could not be
    // removed, -4 a directory could not be removed. An empty path is no directory (-2) and touches nothing.
    static int DeleteDirectory(const QString &strPath, bool bRemoveRoot);

    // The update server: "http://<host>:8080" followed by the path ("/ocx/" tool files, "/web/" web files).
    // QUORRIN_UPDATE_HOST replaces the host ("host" or "host:port"), so that tests can use a local server.
    static QString UpdateServerAddr(const QString &strPath);

    QString m_strAppDir;
    int m_nSessionId = 0;
    ChannelCodecTable m_nChannelCodec = {};
    ToolInfo m_stToolInfo;
    SdkInfo m_stSdkInfo;
};
