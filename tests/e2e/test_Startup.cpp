// The built program driven through tools/plugin-host, as the browser's host drives it.

#include "runtime/HostLinkFrame.h"
#include "runtime/JsonText.h"
#include "tests/support/PluginAppDir.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct HostRun
{
    int nExitCode = -1;
    QList<QByteArray> messages; // one per line of the host's standard output
    QByteArray errors;          // the host's and the program's diagnostics
};

HostRun RunHost(const PluginAppDir &app, const QStringList &programArgs, const QByteArray &requests = QByteArray(),
            const QStringList &hostOptions = {})
{
    QTemporaryDir scratch;
    const QString strRequests = scratch.filePath("requests.txt");
    QFile file(strRequests);
    file.open(QIODevice::WriteOnly);
    file.write(requests);
    file.close();

    QProcess host;
    host.setWorkingDirectory(app.Path());
    QStringList args = hostOptions;
    args << "--requests" << strRequests << "--idle-ms" << "700" << "--" << app.Program() << programArgs;
    host.start(QStringLiteral(QUORRIN_BUILD_DIR "/tools/plugin-host/plugin-host"), args);
    EXPECT_TRUE(host.waitForFinished(60000));
    HostRun run;
    run.nExitCode = host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    QByteArray out = host.readAllStandardOutput();
    if (out.endsWith('\n'))
        out.chop(1);
    if (!out.isEmpty())
        run.messages = out.split('\n');
    run.errors = host.readAllStandardError();
    return run;
}

} // namespace

TEST(Startup, BadCommandLinesEndWithTheirMessage)
{
    struct Case { QStringList args; const char *pMessage; };
    const Case cases[] = {
        {{}, "plugin argc incorrect"},
        {{"1", "{server}"}, "plugin argc incorrect"},
        {{"abc", "{server}", "/tmp"}, "sessionID incorrect"},
        {{"", "{server}", "/tmp"}, "sessionID incorrect"},
        {{"1x", "", "/tmp"}, "sessionID incorrect"},   // the session id is tested first
        {{"5", "", "/tmp"}, "serverName incorrect"},
    };
    for (const Case &c : cases) {
        PluginAppDir app;
        const HostRun run = RunHost(app, c.args);
        EXPECT_NE(run.nExitCode, 0) << c.pMessage;
        EXPECT_TRUE(run.errors.contains(c.pMessage)) << run.errors.constData();
        EXPECT_TRUE(run.messages.isEmpty());
        EXPECT_FALSE(app.HasLogFolder()) << c.pMessage;
    }
}

TEST(Startup, AnswersRequestsAndEndsWhenTheHostCloses)
{
    PluginAppDir app;
    // The reply escapes each "é" of the id as \u00e9 (6 bytes), so a 48000-byte request gets a reply far
    // longer than the 65535-byte limit.
    QByteArray longIdUtf8;
    for (int i = 0; i < 24000; ++i)
        longIdUtf8 += "\xc3\xa9";
    const QByteArray requests = "{\"MainType\":1,\"MsgID\":5}\n"
                                "{\"MainType\":0,\"MsgID\":6}\n"
                                "this is not json\n"
                                "{\"MainType\":23,\"SubType\":1,\"MsgID\":\"" + longIdUtf8 + "\"}\n"
                                "{\"MainType\":7,\"SubType\":3,\"MsgID\":\"last\"}\n"
                                "#wait 3\n";
    const HostRun run = RunHost(app, {"42", "{server}", "/tmp"}, requests);
    EXPECT_EQ(run.nExitCode, 0) << run.errors.right(2000).constData();
    ASSERT_EQ(run.messages.size(), 3);
    EXPECT_EQ(run.messages[0], QByteArray("{\"Msg\":1,\"MsgID\":5,\"Ret\":1020,\"SubMsg\":null}"));
    // Its id shortened by whole characters, so that the reply is JSON within the limit (less its line feed here).
    Json::Value longReply;
    ASSERT_TRUE(JsonText::Parse(run.messages[1].toStdString(), longReply));
    EXPECT_LE(run.messages[1].size(), 65534);
    EXPECT_GT(run.messages[1].size(), 65534 - 6);
    EXPECT_EQ(longReply["Msg"].asInt(), 23);
    EXPECT_EQ(longReply["Ret"].asInt(), 1020);
    const std::string strId = longReply["MsgID"].asString();
    EXPECT_LT(strId.size(), static_cast<size_t>(longIdUtf8.size()));
    EXPECT_TRUE(longIdUtf8.startsWith(QByteArray::fromStdString(strId)) && strId.size() % 2 == 0);
    EXPECT_EQ(run.messages[2], QByteArray("{\"Msg\":7,\"MsgID\":\"last\",\"Ret\":1020,\"SubMsg\":3}"));

    const QByteArray log = app.LogFiles();
    EXPECT_TRUE(log.contains("] start plugin"));
    EXPECT_TRUE(log.contains("argv0=" + app.Program().toLocal8Bit() + ", argv1=42, argv2="));
    EXPECT_TRUE(log.contains("RecvWeb msg=this is not json"));
    // Closing the link ran the logout before the process ended.
    EXPECT_TRUE(log.contains("[CPluginManage::onMainMsgLogout]"));
    EXPECT_TRUE(log.contains("logout nSessionID=42"));
}

TEST(Startup, OptionalArgumentsMayBeGivenEmpty)
{
    PluginAppDir app;
    const HostRun run = RunHost(app, {"3", "{server}", "/tmp", "", ""}, "{\"MainType\":1,\"MsgID\":1}\n");
    EXPECT_EQ(run.nExitCode, 0);
    ASSERT_EQ(run.messages.size(), 1);
    EXPECT_TRUE(app.LogFiles().contains("argv4=, argv5="));
}

// The account and the user data reach the device layer: the device library is started with them.
TEST(Startup, SdkInformationSetsTheOemModeAndHidesItsSecrets)
{
    PluginAppDir app;
    const QString strSdk = "{\"MainType\":35,\"SubMsg\":0,\"OemID\":\"O61\",\"Uuid\":\"u-1\","
                           "\"AppKey\":\"key-secret-1\",\"AppSecret\":\"secret-2\",\"MoveCard\":3,"
                           "\"UserData\":\"ud-7\",\"type\":2,\"len\":4}";
    const HostRun run = RunHost(app, {"3", "{server}", "/tmp", "", strSdk}, "{\"MainType\":1}\n");
    EXPECT_EQ(run.nExitCode, 0);
    const QByteArray log = app.LogFiles();
    EXPECT_TRUE(log.contains("OemID=2"));
    EXPECT_TRUE(log.contains("InitSDKInfo end"));
    EXPECT_TRUE(log.contains("InitKorvex OemID=2"));
    EXPECT_TRUE(log.contains("ZDK_DEV_UserData end type:2, UserData:ud-7, nlen:4"));
    EXPECT_TRUE(log.contains("m_pAccoutInfo:u-1  ***  *** 3"));
    EXPECT_FALSE(log.contains("key-secret-1"));
    EXPECT_FALSE(log.contains("secret-2"));
}

TEST(Startup, FailedConnectionEndsTheProcessWithAFailure)
{
    PluginAppDir app;
    QProcess program;
    program.start(app.Program(), {"9", "quorrin-no-such-server", "/tmp"});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(program.exitCode(), 0);
    EXPECT_TRUE(app.LogFiles().contains("[ERROR] [ListenThread::ListenThread]"));
    EXPECT_TRUE(app.LogFiles().contains("can't connect to plugin server,serverName:quorrin-no-such-server"));
}

// The host owns the program's standard error. One that never reads it must not hold the program up: the pipe
// fills, and the program still answers, logs to its files, and ends when the link closes.
TEST(Startup, KeepsWorkingAndEndsWhenStandardErrorIsNeverRead)
{
    PluginAppDir app;
    QTemporaryDir scratch;
    const QByteArray fifo = scratch.filePath("stderr").toLocal8Bit();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // The host's end of the pipe: open, never read.
    const int nReadEnd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(nReadEnd, 0);

    QLocalServer server;
    const QString strServer = QString("quorrin-e2e-stderr-%1").arg(QCoreApplication::applicationPid());
    QLocalServer::removeServer(strServer);
    ASSERT_TRUE(server.listen(strServer));
    QProcess program;
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QString::fromLocal8Bit(fifo));
    program.start(app.Program(), {"7", strServer, "/tmp"});
    ASSERT_TRUE(server.waitForNewConnection(30000));
    QLocalSocket *pLink = server.nextPendingConnection();

    // About 1 KiB of log a request: far more than the pipe holds.
    const int nRequests = 1000;
    const QString strPad(1000, QChar('~'));
    for (int i = 0; i < nRequests; ++i)
        pLink->write(HostLinkFrame::Encode(QString("{\"MainType\":1,\"MsgID\":%1,\"Pad\":\"%2\"}").arg(i).arg(strPad)));
    pLink->flush();
    HostLinkFrame frame;
    QByteArray reply;
    int nReplies = 0;
    while (nReplies < nRequests && pLink->waitForReadyRead(30000)) {
        frame.Append(pLink->readAll());
        while (frame.TakeMessage(reply))
            ++nReplies;
    }
    EXPECT_EQ(nReplies, nRequests);
    // The link closes only once the copy has filled the pipe, so the end is tested against a full pipe.
    const int nPipeSize = ::fcntl(nReadEnd, F_GETPIPE_SZ);
    int nInPipe = 0;
    const bool bFull = WaitUntil([&] {
        ::ioctl(nReadEnd, FIONREAD, &nInPipe);
        return nInPipe >= nPipeSize - 4096;
    }, 30000);

    pLink->disconnectFromServer();
    const bool bEnded = program.waitForFinished(60000);
    ::close(nReadEnd);
    if (!bEnded) {
        program.kill();
        program.waitForFinished();
    }
    ASSERT_TRUE(bEnded) << "the program hung with its standard error full";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // The copy did reach standard error and filled the pipe.
    EXPECT_TRUE(bFull) << nInPipe << " bytes in a pipe of " << nPipeSize;
    const QByteArray log = app.LogFiles();
    EXPECT_EQ(log.count("RecvWeb msg="), nRequests);
    EXPECT_TRUE(log.contains("logout nSessionID=7"));
}

// A request far beyond what the dispatcher reads is logged only as far as it is read, by the link and by the
// dispatcher.
TEST(Startup, AHugeRequestIsLoggedOnlyAsFarAsItIsRead)
{
    PluginAppDir app;
    const int nFill = 1024 * 1024;
    const QByteArray head = "{\"MainType\":1,\"MsgID\":\"";
    const QByteArray request = head + QByteArray(nFill, '~') + "\"}";
    const HostRun run = RunHost(app, {"4", "{server}", "/tmp"}, request + "\n");
    EXPECT_EQ(run.nExitCode, 0) << run.errors.right(2000).constData();
    // Cut to 65535 bytes the request no longer parses: no reply.
    EXPECT_TRUE(run.messages.isEmpty());
    const QByteArray log = app.LogFiles();
    const QByteArray cut = head + QByteArray(65535 - head.size(), '~');
    EXPECT_EQ(log.count('~'), 2 * (65535 - head.size()));
    EXPECT_EQ(log.count("RecvWeb msg=" + cut + "\n"), 1);
    EXPECT_EQ(log.count("ListenThread::onReadyRead"), 1);
    EXPECT_EQ(log.count(cut + "\n"), 2);
}
