#pragma once

#include <cstddef>
#include <cstdint>

// Per live channel whether it was open (bit 0 of the entry byte), its stream type (bit 1) and the window that
// showed it; saved when the live page is left or before a re-login, read back when it is shown again.
struct ChannelRestoreTable
{
    uint8_t Entry[64];
    uint8_t Wnd[64];
};
static_assert(sizeof(ChannelRestoreTable) == 128, "restore table size");

// The login record: what a login request gives, what the device reports, and the handles of the login.
// Texts are in the local 8-bit encoding and zero-terminated within their field (the token in Latin-1).
struct DevLoginInfo
{
    int32_t LoginType;          // 0 address, 1 serial number, 2 serial number and token
    char Reserved[32];
    char SN[32];
    char Token[64];
    char IP[64];
    int32_t Port;               // the login passes its low 16 bits
    char User[64];
    char Password[64];
    int32_t LoginHandle;
    int32_t RealPlayHandle[64];     // per channel
    int32_t ColorLoginHandle;       // the colour preview's second login
    int32_t ColorPlayHandle;
    int32_t PlaybackHandle[4];      // per pane
    int32_t DownloadHandle;
    int32_t ChannelTotal;           // ChannelCountB + ChannelCountA
    int32_t ChannelCountB;
    int32_t ChannelCountA;
    int32_t LoginSequence;
    int32_t DeviceType;
    char CloudError[260];
    char DeviceText1[64];
    ChannelRestoreTable RestoreTable;
    int32_t RestoreSaved;
    int32_t DateYear;
    int32_t DateMonth;
    int32_t DateDay;
    char DeviceText2[64];
    char AlarmStyle[164];
};
static_assert(sizeof(DevLoginInfo) == 1332, "login record size");
static_assert(offsetof(DevLoginInfo, LoginHandle) == 328 && offsetof(DevLoginInfo, ChannelTotal) == 616,
              "login record handles and counts");
