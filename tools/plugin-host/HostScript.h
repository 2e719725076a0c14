#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

class PluginHost;
class QFile;
class QSocketNotifier;

// The tool's script: request lines from a file or standard input go to the program one by one ('#sleep N'
// pauses, '#close' closes the link, other '#' lines are comments), every message received is printed as one
// line on standard output, and the link is closed once the requests are done and the program has been quiet
// for a while.
class HostScript : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString strRequestFile;  // "-" or empty: standard input
        int nIdleMs = 1500;      // after the last request: close once no message came for this long
        bool bKeepOpen = false;  // never close the link; wait for the program to end
        int nTimeoutMs = 120000; // the whole run; the program is killed past it
    };

    HostScript(PluginHost *pHost, const Options &options, QObject *parent = nullptr);
    ~HostScript() override;

    // Opens the requests and starts the clocks; the application's exit code becomes the program's exit status.
    bool Start();

private:
    void onMessage(const QByteArray &payload);
    void onStdinReadable();
    void onIdleCheck();
    void onProgramFinished(int nExitCode, bool bCrashed);
    void onTimeout();
    void SendPending();
    void HandleCommand(const QByteArray &line);

    PluginHost *m_pHost;
    Options m_options;
    QList<QByteArray> m_pendingLines;
    std::unique_ptr<QFile> m_pRequestFile;
    std::unique_ptr<QSocketNotifier> m_pStdinNotifier;
    QByteArray m_stdinBuffer;
    QTimer m_idleTimer;
    QTimer m_pauseTimer;
    QElapsedTimer m_sinceLastMessage;
    bool m_bRequestsDone = false;
    bool m_bPaused = false;
    int m_nMessages = 0;    // received in all
    int m_nWaitFor = 0;     // a '#wait N' pauses until N messages have come
};
