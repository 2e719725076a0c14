// Firmware upgrades of the logged-in device: online, to a version the device offers, and from a local file, with
// their progress events.

#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "requests/BrowseChooser.h"
#include "requests/CPluginManage.h"
#include "requests/WebMessage.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"

namespace {

enum OnlineSubType { ONLINE_CHECK = 0, ONLINE_START = 1 };
enum LocalSubType { LOCAL_CHOOSE = 0, LOCAL_START = 1 };

// The chooser's arguments for an upgrade file.
constexpr int kBrowseUpgradeFirst = 4;
constexpr int kBrowseUpgradeSecond = 1;

bool IsFinalState(int nState) { return nState == ZDK_UPGRADE_DONE || nState == ZDK_UPGRADE_FAILED; }

} // namespace

QString CPluginManage::UpgradeVersionText(const QString &strVersionName)
{
    const int nPos = strVersionName.lastIndexOf("_V", -1, Qt::CaseSensitive);
    return nPos < 0 ? strVersionName : strVersionName.mid(nPos + 1);
}

void CPluginManage::onMainMsgOnlineUpgrade(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    const int lLogin = m_login.m_stDevLoginInfo.LoginHandle;
    int nRet = 0;
    if (nSubType == ONLINE_CHECK) {
        const DevLoginInfo &info = m_login.m_stDevLoginInfo;
        const QString strDate = QString("%1-%2-%3").arg(info.DateYear).arg(info.DateMonth).arg(info.DateDay);
        nRet = CQZConnect::GetInstance()->GetNewVersionInfo(lLogin, strDate, m_upgrade.m_strUpgradeVersion);
        reply["NewVersion"] = UpgradeVersionText(m_upgrade.m_strUpgradeVersion).toStdString();
    } else if (nSubType == ONLINE_START) {
        int lUpgrade = 0;
        nRet = CQZConnect::GetInstance()->StartOnlineUpgrade(lLogin, m_upgrade.m_strUpgradeVersion,
                                                             &CPluginManage::UpgradeCallBack, this, &lUpgrade);
        // A start the device refuses leaves an upgrade that runs already counted as running.
        if (nRet == RET_SUCCESS) {
            m_upgrade.m_bUpgrade = true;
            m_upgrade.m_openHandles.insert(lUpgrade);
        }
    }
    reply.SetRet(nRet);
    reply["IsUpgrade"] = m_upgrade.m_bUpgrade;
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgLocalUpgrade(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(25, 1, request);
    const int nSubType = request["SubType"].asInt();
    if (nSubType == LOCAL_CHOOSE) {
        BrowseChooser::Start(this, kBrowseUpgradeFirst, kBrowseUpgradeSecond,
                             [this, reply](const BrowseChooser::Result &result) mutable {
                                 // Answered whatever became of the chooser, so that the page never waits on.
                                 reply["nRet"] = RET_FAIL;
                                 const QString strPath = result.Path();
                                 if (result.eOutcome == BrowseChooser::Chosen && !strPath.isEmpty()) {
                                     reply["Path"] = strPath.toStdString();
                                     reply["nRet"] = RET_SUCCESS;
                                 }
                                 sendWebSocketMsg(reply.ToQString(), 1);
                             });
        return;
    }
    if (nSubType != LOCAL_START)
        return;
    const QString strFileName = QString::fromStdString(request["FileName"].asString());
    int lUpgrade = 0;
    const int nRet = CQZConnect::GetInstance()->StartLocalUpgrade(m_login.m_stDevLoginInfo.LoginHandle, strFileName,
                                                                  &CPluginManage::UpgradeCallBack, this, &lUpgrade);
    LOGN(QString("StartLocalUpgrade-----------ret:%1").arg(nRet), "CPluginManage::onMainMsgLocalUpgrade");
    if (nRet == RET_SUCCESS) {
        m_upgrade.m_bUpgrade = true;
        m_upgrade.m_openHandles.insert(lUpgrade);
    }
    reply.SetRet(nRet);
    reply["IsUpgrade"] = m_upgrade.m_bUpgrade;
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::UpgradeCallBack(int32_t, int32_t lUpgradeHandle, int32_t nTotalSize, int32_t nSendSize, void *pUser)
{
    CPluginManage *pManage = static_cast<CPluginManage *>(pUser);
    if (!pManage)
        return;
    emit pManage->returnToThisThreadSig([pManage, lUpgradeHandle, nTotalSize, nSendSize] {
        pManage->onUpgradeProgress(lUpgradeHandle, nTotalSize, nSendSize);
    });
}

void CPluginManage::onUpgradeProgress(int lUpgradeHandle, int nTotalSize, int nSendSize)
{
    // Reports that were on their way when the final one closed the handle have nothing left to ask.
    if (m_upgrade.m_closedHandles.count(lUpgradeHandle) > 0)
        return;
    CQZConnect *pConnect = CQZConnect::GetInstance();
    const int nState = pConnect->GetUpgradeState(lUpgradeHandle);
    if (IsFinalState(nState)) {
        pConnect->CloseUpgrade(lUpgradeHandle);
        m_upgrade.m_openHandles.erase(lUpgradeHandle);
        m_upgrade.m_closedHandles.insert(lUpgradeHandle);
        m_upgrade.m_bUpgrade = false;
    }
    WebMessage event = WebMessage::Event(3, 0);
    event["Data"]["Status"] = nState;
    event["Data"]["TotalSize"] = nTotalSize;
    event["Data"]["SendSize"] = nSendSize;
    event["IsUpgrade"] = m_upgrade.m_bUpgrade;
    sendWebSocketMsg(event.ToQString(), 1);
}

void CPluginManage::CloseUpgrades()
{
    // An upgrade belongs to the login that started it: none runs for the next one, whose device may be another.
    for (const int lUpgrade : m_upgrade.m_openHandles) {
        CQZConnect::GetInstance()->CloseUpgrade(lUpgrade);
        m_upgrade.m_closedHandles.insert(lUpgrade);
    }
    m_upgrade.m_openHandles.clear();
    m_upgrade.m_bUpgrade = false;
    m_upgrade.m_strUpgradeVersion.clear();
}
