#pragma once

#include "platform/korvex.h"

#include <cstdint>

// The user-data record handed to the device library at set-up.
struct UserDataInfo
{
    int32_t bUse;   // non-zero: hand the user data to the library
    int32_t type;
    char UserData[64];
    int32_t len;
};

// What the SDK information of the command line gives the device connection: the application account (taken
// only when bAccount is set) and the user data (taken when its bUse is set). bHandOn: either is there.
struct SdkInfo
{
    bool bHandOn = false;
    bool bAccount = false;
    ZDK_AppAccountInfo Account{};
    UserDataInfo UserData{};
};
