#pragma once

#include "platform/korvex.h"
#include "standin/korvex/DeviceCatalog.h"
#include "standin/korvex/SimStream.h"

#include <atomic>
#include <memory>

// A firmware upgrade of a device: it reports its progress in ten steps on its own thread (state running), the
// last report with the final state (done, or failed for a device whose entry says "UpgradeFails"), and then
// ends; the handle keeps the final state until it is closed. A device runs one upgrade at a time and refuses
// another with ZDK_ERR_UPGRADE_REFUSED.
class UpgradeTask : public SimStream
{
public:
    // The korvex.h functions: a handle, or 0 with the last error set.
    static int32_t StartLocal(int32_t lLogin, const char *pPath, int32_t nType, ZDK_fUpgradeCallBack cb, void *pUser);
    static int32_t StartOnline(int32_t lLogin, const char *pVersion, int32_t nType, ZDK_fUpgradeCallBack cb,
                               void *pUser);
    // The state, or the error.
    static int32_t State(int32_t lHandle);
    static int32_t Close(int32_t lHandle);

    // Control: the time between two reports (default 10 ms).
    static void SetStepMs(int nMilliseconds);
    static void Reset();

    UpgradeTask(int32_t nHandle, int32_t nLogin, std::shared_ptr<const KorvexDevice> device, int64_t nTotal,
                int nStepMs, ZDK_fUpgradeCallBack cb, void *pUser);
    int32_t GetState() const { return m_nState.load(); }

protected:
    void Run() override;

private:
    static int32_t Start(int32_t lLogin, int64_t nTotal, const char *pVersion, ZDK_fUpgradeCallBack cb, void *pUser);
    void Report(int32_t nState, int64_t nSent);

    const std::shared_ptr<const KorvexDevice> m_device;
    const int64_t m_nTotal;
    const int m_nStepMs;
    ZDK_fUpgradeCallBack m_cb;
    void *m_pUser;
    std::atomic<int32_t> m_nState{ZDK_UPGRADE_RUNNING};
};
