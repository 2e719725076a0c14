#include "runtime/ListenThread.h"

#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/MainThreadObject.h"
#include "runtime/SecretMask.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QThread>

ListenThread::ListenThread(const QString &strServerName, QObject *parent, int nTimeoutMs)
    : QObject(parent)
{
    m_pSocket = new QLocalSocket(this);
    m_pSocket->connectToServer(strServerName, QIODevice::ReadWrite);
    if (!m_pSocket->waitForConnected(nTimeoutMs)) {
        LOGE(QString("can't connect to plugin server,serverName:%1").arg(strServerName), "ListenThread::ListenThread");
        // A quit asked for before the event loop starts would be lost: post it, and fail the process.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        return;
    }
    m_bConnected = true;
    connect(m_pSocket, &QLocalSocket::readyRead, this, &ListenThread::onReadyRead);
    connect(m_pSocket, &QLocalSocket::disconnected, this, &ListenThread::onDisconnected);
    m_pThread = std::make_unique<QThread>();
    moveToThread(m_pThread.get());
}

ListenThread::~ListenThread()
{
    Stop();
}

void ListenThread::Start()
{
    if (m_pThread && !m_pThread->isRunning())
        m_pThread->start(QThread::InheritPriority);
}

void ListenThread::Stop()
{
    if (m_pThread && m_pThread->isRunning()) {
        m_pThread->quit();
        // The link may be waiting for the logout of a host's disconnection, which may wait for the GUI thread.
        MainThreadObject::ServeWhile([this] { m_pThread->wait(); });
    }
}

void ListenThread::onReadyRead()
{
    m_frame.Append(m_pSocket->readAll());
    QByteArray payload;
    while (m_frame.TakeMessage(payload)) {
        // Nothing past what the dispatcher reads is kept or logged, so a huge frame costs no more than its cut.
        const QString strMsg = QString::fromUtf8(FixedText::CutUtf8(payload, HostLinkFrame::kMaxTextBytes));
        payload.clear();
        emit recvMsgSig(strMsg);
        LOGN(SecretMask::Mask(strMsg), "ListenThread::onReadyRead");
    }
}

void ListenThread::onSendMsg(QString msg)
{
    if (m_pSocket->state() != QLocalSocket::ConnectedState)
        return;
    m_pSocket->write(HostLinkFrame::Encode(msg));
    m_pSocket->flush();
}

void ListenThread::onDisconnected()
{
    if (m_bDisconnectHandled)
        return;
    m_bDisconnectHandled = true;
    // Frames that arrived just before the close are still delivered, ahead of the logout.
    if (m_pSocket->bytesAvailable() > 0)
        onReadyRead();
    emit disconnectSig();
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
}
