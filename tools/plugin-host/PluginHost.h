#pragma once

#include "runtime/HostLinkFrame.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;
class QFile;

// A stand-in for the browser's plug-in host: a local server that starts the plug-in program, sends request
// lines to it as frames, prints every message it receives as one line on stdout, and closes the link.
class PluginHost : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString strServerName;      // empty: a unique name of our own
        QString strRequestFile;     // "-" or empty: standard input
        QString strProgram;
        QStringList args;           // "{server}" is replaced by the server name
        int nIdleMs = 1500;         // after the last request: close once no message came for this long
        bool bKeepOpen = false;     // never close the link; wait for the program to end
        int nTimeoutMs = 120000;    // the whole run; the program is killed past it
    };

    explicit PluginHost(const Options &options, QObject *parent = nullptr);
    ~PluginHost() override;

    // Starts the server and the program; the application's exit code becomes the program's exit status.
    bool Start();

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onStdinReadable();
    void onIdleCheck();
    void onProgramFinished(int nExitCode, QProcess::ExitStatus status);
    void onTimeout();

private:
    void SendLine(const QByteArray &line);
    void HandleCommand(const QByteArray &line);
    void RequestsDone();
    void CloseLink();
    void SendPending();

    Options m_options;
    std::unique_ptr<QLocalServer> m_pServer;
    QLocalSocket *m_pSocket = nullptr;
    QProcess m_process;
    HostLinkFrame m_frame;
    QList<QByteArray> m_pendingLines;
    std::unique_ptr<QFile> m_pRequestFile;
    std::unique_ptr<QSocketNotifier> m_pStdinNotifier;
    QByteArray m_stdinBuffer;
    QTimer m_idleTimer;
    QTimer m_pauseTimer;
    QElapsedTimer m_sinceLastMessage;
    bool m_bRequestsDone = false;
    bool m_bLinkClosed = false;
    bool m_bPaused = false;
};
