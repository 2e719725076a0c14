#pragma once

#include "runtime/HostLinkFrame.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLocalSocket;

// The browser's plug-in host as the plug-in sees it: a local server, the plug-in program started with the
// server's name, and the one link the program opens to it. Messages go both ways as HostLinkFrame frames.
// Everything happens on the thread that owns the object, driven by its event loop; the tool (main.cpp) and the
// end-to-end tests (tests/support/HostedPlugin) both build on it.
class PluginHost : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString strServerName;   // empty: a name of our own, unique in this process
        QString strProgram;
        QStringList args;        // "{server}" stands for the server name
        QString strWorkingDir;   // empty: ours
        QProcessEnvironment env; // empty: ours
        QString strOutputFile;   // the program's standard output and error go there; empty: to our standard error
    };

    explicit PluginHost(const Options &options, QObject *parent = nullptr);
    // Kills a program that is still running.
    ~PluginHost() override;

    // Listens and starts the program; false (with a note on standard error) when either fails.
    bool Start();

    QString ServerName() const { return m_options.strServerName; }
    bool IsLinked() const { return m_pSocket != nullptr; }
    bool IsLinkClosed() const { return m_bLinkClosed; }
    bool HasFinished() const { return m_bFinished; }
    // Valid once HasFinished(): the exit code of a normal exit; Crashed() when it did not exit normally.
    int ExitCode() const { return m_nExitCode; }
    bool Crashed() const { return m_bCrashed; }
    qint64 ProgramPid() const { return m_process.processId(); }

    // Sends one message as a frame; messages sent before the program has connected go when it does.
    void Send(const QByteArray &utf8Text);
    // Closes the link as the browser's host does when the page goes; the program then ends on its own.
    void CloseLink();
    void Kill();

signals:
    void linkedSig();
    // One message received from the program, as it came (its final line feed included).
    void messageSig(QByteArray payload);
    void linkClosedSig();
    void finishedSig(int nExitCode, bool bCrashed);

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onProgramFinished(int nExitCode, QProcess::ExitStatus status);

private:
    void Write(const QByteArray &utf8Text);

    Options m_options;
    std::unique_ptr<QLocalServer> m_pServer;
    QLocalSocket *m_pSocket = nullptr;
    QProcess m_process;
    HostLinkFrame m_frame;
    QList<QByteArray> m_unsent;
    bool m_bLinkClosed = false;
    bool m_bFinished = false;
    int m_nExitCode = -1;
    bool m_bCrashed = false;
};
