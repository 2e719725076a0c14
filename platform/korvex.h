#pragma once

// The device network library's functions and records as the system calls them. The library itself is not on
// this machine; standin/korvex implements this interface as a simulated device library.

#include <cstdint>

// Set-up records.
struct ZDK_AppAccountInfo
{
    char Uuid[64];
    char AppKey[64];
    char AppSecret[64];
    int32_t MoveCard;
};
static_assert(sizeof(ZDK_AppAccountInfo) == 196, "account record layout");

// Called on a library thread when a login's connection is lost.
typedef void (*ZDK_fDisConnect)(int32_t lLoginID, const char *pchDVRIP, int32_t nDVRPort, void *pUser);

// Set-up. ZDK_DEV_Init returns non-zero on success.
int32_t ZDK_DEV_Init(ZDK_fDisConnect cbDisConnect, void *pUser);
int32_t ZDK_DEV_InitAppInfo(const ZDK_AppAccountInfo *pAccount);
int32_t ZDK_DEV_UserData(int32_t nType, const char *pData, int32_t nLen);
// Ends the library: returns only when no library thread runs and no callback can be made any more.
int32_t ZDK_DEV_Cleanup();

// The error of the calling thread's last failed call (a negative number).
int32_t ZDK_DEV_GetLastError();
