#pragma once

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

// The one object through which the system reaches the device network library.
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
    // Ends the library; no library thread runs afterwards.
    virtual bool Cleanup();

    const ZDK_AppAccountInfo &AccountInfo() const { return *m_pAccoutInfo; }
    const UserDataInfo &UserData() const { return *m_pUserData; }

private:
    std::unique_ptr<ZDK_AppAccountInfo> m_pAccoutInfo;
    std::unique_ptr<UserDataInfo> m_pUserData;
};
