#include "requests/HostLink.h"

#include "requests/CPluginManage.h"
#include "runtime/ListenThread.h"

std::unique_ptr<ListenThread> StartHostLink(const QString &strServerName, CPluginManage *pManage)
{
    auto pListen = std::make_unique<ListenThread>(strServerName);
    QObject::connect(pListen.get(), &ListenThread::recvMsgSig, pManage, &CPluginManage::onRecvWebsocketMsg);
    QObject::connect(pListen.get(), &ListenThread::disconnectSig, pManage, &CPluginManage::onDisconnect,
                     Qt::BlockingQueuedConnection);
    QObject::connect(pManage, &CPluginManage::sendWebSocketMsgSig, pListen.get(), &ListenThread::onSendMsg);
    pListen->Start();
    return pListen;
}
