#pragma once

#include "runtime/HostLinkFrame.h"

#include <QObject>
#include <QString>

#include <memory>

class QLocalSocket;
class QThread;

// The host link: a local socket to the host's server, read and written on a thread of its own.
class ListenThread : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 30000;

    // Connects on the calling (GUI) thread, waiting up to nTimeoutMs. On failure it logs and posts the
    // application's exit with a non-zero code, which takes effect once the event loop runs.
    explicit ListenThread(const QString &strServerName, QObject *parent = nullptr, int nTimeoutMs = kConnectTimeoutMs);
    ~ListenThread() override;

    bool IsConnected() const { return m_bConnected; }
    // Starts the link thread; called once the receivers are connected, so no message arrives before them.
    void Start();
    // Ends the link thread (after the event loop is over); the GUI thread keeps serving hand-offs meanwhile.
    void Stop();

signals:
    void recvMsgSig(QString msg);
    void disconnectSig();

public slots:
    void onSendMsg(QString msg);
    void onReadyRead();

private slots:
    void onDisconnected();

private:
    HostLinkFrame m_frame;
    QLocalSocket *m_pSocket = nullptr;
    std::unique_ptr<QThread> m_pThread;
    bool m_bConnected = false;
    bool m_bDisconnectHandled = false;
};
