#pragma once

#include "tests/support/PluginAppDir.h"

#include <json/value.h>

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>

class PluginHost;

// One message from the program: its text as it came (with the final line feed) and the text parsed.
struct HostMessage
{
    QByteArray text;   // empty: no message (a wait that ran out)
    Json::Value value; // null when the text is not JSON

    explicit operator bool() const { return !text.isEmpty(); }
    const Json::Value &operator[](const char *pKey) const;
};

// The plug-in program run end to end, as the browser's host runs it, for the request tests.
//
//   HostedPlugin plugin;                                  // a fresh application directory with Quorrin_x64
//   plugin.App().WriteClientCfg("[Info]\nImageType=1\n"); // prepare it (ClientCfg.ini, Browse, files) ...
//   plugin.App().WriteBrowse({"/home/u/Videos"});
//   plugin.SetEnv("KORVEX_DEVICES", strDevicesJson);      // ... and the program's environment
//   ASSERT_TRUE(plugin.Start());                          // true once the program has connected
//   plugin.Send(R"({"MainType":18,"SubType":51,"MsgID":"cfg"})");
//   const HostMessage reply = plugin.WaitReply("cfg");    // the reply whose "MsgID" is "cfg"
//   ASSERT_TRUE(reply);
//   EXPECT_EQ(reply["Ret"].asInt(), 100);
//   const HostMessage event = plugin.WaitEvent(5, 0);     // the next event 5/0
//   EXPECT_TRUE(plugin.WaitForLog("save config path"));   // a log line, as soon as it is made
//   ASSERT_TRUE(plugin.Finish());                         // closes the link, waits for the end
//   EXPECT_EQ(plugin.ExitCode(), 0);
//   plugin.App().LogFiles();                              // the whole log, once the program has ended
//
// Every wait processes the test thread's events until its message or state has come, and fails (an empty
// HostMessage, or false) when kWaitMs pass first; nothing sleeps. A wait takes the message it returns, so each
// reply or event is returned once; Messages() keeps all of them in order. The system-load events (0/5, every
// second once logged in) are kept apart: only WaitEvent(0, 5) and LoadEvents() see them.
class HostedPlugin
{
public:
    static constexpr int kWaitMs = 30000;

    struct Options
    {
        QString strVariant = "x64"; // or "x86"
        int nSessionId = 1;
        QString strWndHandle;       // the optional fourth argument (hexadecimal window handle)
        QString strSdkInfo;         // the optional fifth argument (JSON)
        // Another plugin's application directory to run in (both programs then share it, as two programs
        // started from one folder do); null: a fresh one of its own.
        PluginAppDir *pSharedApp = nullptr;
    };

    HostedPlugin();
    explicit HostedPlugin(const Options &options);
    // Closes the link and waits for the end; a program that does not end is killed.
    ~HostedPlugin();

    PluginAppDir &App() { return m_options.pSharedApp ? *m_options.pSharedApp : m_app; }
    // A variable of the program's environment, on top of the test's own (before Start).
    void SetEnv(const QString &strName, const QString &strValue);

    // Starts the program with "SESSION {server} APPDIR [WND [SDK]]"; true once it has connected to the host.
    bool Start();

    // {"MainType", "SubType", "MsgID"}, to which a test adds the request's own keys.
    static Json::Value NewRequest(int nMainType, int nSubType, const Json::Value &msgId);

    // Sends a request text as it stands (it need not be JSON), or a JSON value as compact text.
    void Send(const QByteArray &text);
    void Send(const char *pText) { Send(QByteArray(pText)); }
    void Send(const Json::Value &request);

    // The first reply not taken yet whose "MsgID" equals msgId (compared as JSON text, so 5 matches 5u).
    HostMessage WaitReply(const Json::Value &msgId, int nTimeoutMs = kWaitMs);
    // Sends the request and waits for the reply to its "MsgID".
    HostMessage Request(const Json::Value &request, int nTimeoutMs = kWaitMs);
    // The first event not taken yet with this "MainEvent" and "SubEvent".
    HostMessage WaitEvent(int nMainEvent, int nSubEvent, int nTimeoutMs = kWaitMs);
    // The first message not taken yet (load events aside) that satisfies the predicate.
    HostMessage WaitMessage(const std::function<bool(const HostMessage &)> &pred, int nTimeoutMs = kWaitMs);
    // Waits until every request sent before has been handled (they are handled in order): sends a request
    // without a handler and waits for its reply. Answers that come later on their own (a chooser's, a
    // download's) are not covered.
    bool Sync(int nTimeoutMs = kWaitMs);

    // Every message received so far, in order, the load events aside; and the load events.
    QList<HostMessage> Messages() const;
    QList<HostMessage> LoadEvents() const;

    // Waits until a log line holding the text has been made. The program also writes each log line to its
    // standard error as it logs it; that is what this watches.
    bool WaitForLog(const QByteArray &text, int nTimeoutMs = kWaitMs);
    // The program's standard output and error so far.
    QByteArray Output();

    // Closes the link as the browser's host does when the page goes.
    void CloseLink();
    // Sends the running program a signal (SIGTERM, SIGKILL ...); false when it is not running.
    bool Signal(int nSignal);
    // Waits for the program to end.
    bool WaitExit(int nTimeoutMs = kWaitMs);
    bool Finish(int nTimeoutMs = kWaitMs) { CloseLink(); return WaitExit(nTimeoutMs); }
    bool HasExited() const;
    // The program's process id while it runs (for what the test reads of it in /proc), else 0.
    qint64 ProgramPid() const;
    // Valid once ended: the exit code of a normal exit, and whether it ended by a signal instead.
    int ExitCode() const;
    bool Crashed() const;

private:
    struct Received
    {
        HostMessage message;
        bool bLoad = false;
        bool bTaken = false;
    };

    void onMessage(const QByteArray &payload);
    HostMessage Take(bool bLoad, const std::function<bool(const HostMessage &)> &pred, int nTimeoutMs);

    Options m_options;
    PluginAppDir m_app;
    QProcessEnvironment m_env;
    QString m_strOutputFile;
    std::unique_ptr<PluginHost> m_pHost;
    QList<Received> m_received;
    QByteArray m_output;
    qint64 m_nOutputRead = 0;
    int m_nSyncCount = 0;
};
