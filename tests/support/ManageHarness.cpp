#include "tests/support/ManageHarness.h"

#include "requests/CPluginManage.h"
#include "runtime/HandOffSync.h"
#include "runtime/JsonText.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>

#include <atomic>

namespace {

bool IsLoadEvent(const QString &strMsg)
{
    Json::Value value;
    return JsonText::Parse(strMsg.toStdString(), value) && value.isObject() && value["MainEvent"].isInt() &&
           value["MainEvent"].asInt() == 0 && value["SubEvent"].isInt() && value["SubEvent"].asInt() == 5;
}

} // namespace

ManageHarness::ManageHarness(int nSessionId, const QString &strWndHandle)
{
    MainThreadObject::RegisterMetaTypes();
    m_pManage = std::make_unique<CPluginManage>(strWndHandle, nSessionId);
    m_collector = QObject::connect(m_pManage.get(), &CPluginManage::sendWebSocketMsgSig, [this](const QString &strMsg) {
        const bool bLoad = IsLoadEvent(strMsg);
        std::lock_guard<std::mutex> lock(m_mutex);
        (bLoad ? m_loadEvents : m_messages) << strMsg;
    });
}

ManageHarness::~ManageHarness()
{
    // Nothing the handler sends while it ends is kept: the list goes before it.
    QObject::disconnect(m_collector);
    m_pManage.reset();
}

void ManageHarness::Send(const QString &strRequest)
{
    QMetaObject::invokeMethod(m_pManage.get(), "onRecvWebsocketMsg", Qt::QueuedConnection, Q_ARG(QString, strRequest));
}

void ManageHarness::RunOnRequestThread(const std::function<void()> &fn)
{
    std::atomic<bool> bDone{false};
    HandOffSync::Invoke(m_pManage.get(), [&] {
        fn();
        bDone = true;
    }, Qt::QueuedConnection);
    // The GUI thread keeps serving route 1 while it waits.
    while (!bDone)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QStringList ManageHarness::Messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

QStringList ManageHarness::LoadEvents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loadEvents;
}

bool ManageHarness::WaitForMessages(int nCount, int nTimeoutMs) const
{
    return WaitUntil([&] { return Messages().size() >= nCount; }, nTimeoutMs);
}
