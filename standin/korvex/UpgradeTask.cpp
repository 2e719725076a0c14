#include "standin/korvex/UpgradeTask.h"

#include "standin/korvex/KorvexSim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

namespace {

constexpr int kSteps = 10;

std::atomic<int> g_nStepMs{10};

// The devices that run an upgrade now.
std::mutex g_upgradingMutex;
std::set<const KorvexDevice *> g_upgrading;

int32_t Refuse(int32_t nError)
{
    KorvexSim::SetLastError(nError);
    return 0;
}

int32_t ClampSize(int64_t n) { return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)); }

} // namespace

UpgradeTask::UpgradeTask(int32_t nHandle, int32_t nLogin, std::shared_ptr<const KorvexDevice> device, int64_t nTotal,
                         int nStepMs, ZDK_fUpgradeCallBack cb, void *pUser)
    : SimStream(Kind::Upgrade, nHandle, nLogin)
    , m_device(std::move(device))
    , m_nTotal(nTotal)
    , m_nStepMs(nStepMs)
    , m_cb(cb)
    , m_pUser(pUser)
{
}

int32_t UpgradeTask::Start(int32_t lLogin, int64_t nTotal, const char *pVersion, ZDK_fUpgradeCallBack cb, void *pUser)
{
    const int32_t lHandle = KorvexSim::Instance().StartTask(
        lLogin, [&](int32_t nHandle, const std::shared_ptr<const KorvexDevice> &device) -> std::shared_ptr<SimStream> {
            int64_t nSize = nTotal;
            if (pVersion) {
                // Online: a version of the device's list; an empty name asks for the newest.
                const std::vector<FirmwareVersion> &versions = device->settings.newVersions;
                auto it = std::find_if(versions.begin(), versions.end(), [&](const FirmwareVersion &v) {
                    return *pVersion ? v.strName == pVersion : true;
                });
                if (it == versions.end()) {
                    KorvexSim::SetLastError(ZDK_ERR_UPGRADE_REFUSED);
                    return nullptr;
                }
                nSize = it->nSize;
            }
            std::lock_guard<std::mutex> lock(g_upgradingMutex);
            if (!g_upgrading.insert(device.get()).second) {
                KorvexSim::SetLastError(ZDK_ERR_UPGRADE_REFUSED);
                return nullptr;
            }
            const int nStepMs = device->settings.nUpgradeStepMs >= 0 ? device->settings.nUpgradeStepMs : g_nStepMs.load();
            return std::make_shared<UpgradeTask>(nHandle, lLogin, device, nSize, nStepMs, cb, pUser);
        });
    if (lHandle > 0)
        KorvexSim::Instance().CutAfterUpgradeStart(lLogin);
    return lHandle;
}

int32_t UpgradeTask::StartLocal(int32_t lLogin, const char *pPath, int32_t nType, ZDK_fUpgradeCallBack cb, void *pUser)
{
    if (!pPath || !cb || nType != ZDK_UPGRADE_LOCAL)
        return Refuse(ZDK_ERR_ILLEGAL_PARAM);
    if (!KorvexSim::Instance().LoginDevice(lLogin))
        return 0;
    // The firmware file is read whole during the call.
    FILE *pFile = std::fopen(pPath, "rb");
    if (!pFile)
        return Refuse(ZDK_ERR_FILE_OPEN);
    char buf[65536];
    int64_t nTotal = 0;
    size_t nRead = 0;
    while ((nRead = std::fread(buf, 1, sizeof buf, pFile)) > 0)
        nTotal += static_cast<int64_t>(nRead);
    const bool bError = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bError)
        return Refuse(ZDK_ERR_FILE_OPEN);
    if (nTotal == 0)
        return Refuse(ZDK_ERR_ILLEGAL_PARAM);
    return Start(lLogin, nTotal, nullptr, cb, pUser);
}

int32_t UpgradeTask::StartOnline(int32_t lLogin, const char *pVersion, int32_t nType, ZDK_fUpgradeCallBack cb,
                                 void *pUser)
{
    if (!pVersion || !cb || nType != ZDK_UPGRADE_ONLINE)
        return Refuse(ZDK_ERR_ILLEGAL_PARAM);
    return Start(lLogin, 0, pVersion, cb, pUser);
}

int32_t UpgradeTask::State(int32_t lHandle)
{
    std::shared_ptr<SimStream> task = KorvexSim::Instance().FindTask(lHandle, Kind::Upgrade);
    if (!task)
        return KorvexSim::LastError();
    return std::static_pointer_cast<UpgradeTask>(task)->GetState();
}

int32_t UpgradeTask::Close(int32_t lHandle) { return KorvexSim::Instance().StopStream(lHandle, Kind::Upgrade); }

void UpgradeTask::SetStepMs(int nMilliseconds) { g_nStepMs = std::max(nMilliseconds, 0); }

void UpgradeTask::Reset()
{
    g_nStepMs = 10;
    std::lock_guard<std::mutex> lock(g_upgradingMutex);
    g_upgrading.clear();
}

void UpgradeTask::Report(int32_t nState, int64_t nSent)
{
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (!Stopping() && !Broken())
        m_cb(nState, Handle(), ClampSize(m_nTotal), ClampSize(nSent), m_pUser);
}

void UpgradeTask::Run()
{
    const Clock::time_point start = Now();
    for (int i = 1; i <= kSteps; ++i) {
        if (!WaitUntil(start + std::chrono::milliseconds(static_cast<int64_t>(m_nStepMs) * i)))
            break;
        if (Broken()) {
            // The connection was lost: the device's upgrade is not known to have ended well.
            m_nState = ZDK_UPGRADE_FAILED;
            break;
        }
        if (i == kSteps)
            m_nState = m_device->settings.bUpgradeFails ? ZDK_UPGRADE_FAILED : ZDK_UPGRADE_DONE;
        Report(m_nState.load(), m_nTotal * i / kSteps);
    }
    std::lock_guard<std::mutex> lock(g_upgradingMutex);
    g_upgrading.erase(m_device.get());
}
