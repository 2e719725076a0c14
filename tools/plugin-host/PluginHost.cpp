#include "tools/plugin-host/PluginHost.h"

#include "runtime/HostLinkFrame.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {
void Note(const QString &strText)
{
    std::fprintf(stderr, "plugin-host: %s\n", strText.toLocal8Bit().constData());
    std::fflush(stderr);
}
} // namespace

PluginHost::PluginHost(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    if (m_options.strServerName.isEmpty())
        m_options.strServerName = QString("quorrin-host-%1").arg(QCoreApplication::applicationPid());
    connect(&m_idleTimer, &QTimer::timeout, this, &PluginHost::onIdleCheck);
    m_pauseTimer.setSingleShot(true);
    connect(&m_pauseTimer, &QTimer::timeout, this, [this] {
        m_bPaused = false;
        SendPending();
    });
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &PluginHost::onProgramFinished);
}

PluginHost::~PluginHost()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PluginHost::Start()
{
    m_pServer = std::make_unique<QLocalServer>();
    QLocalServer::removeServer(m_options.strServerName);
    if (!m_pServer->listen(m_options.strServerName)) {
        Note("cannot listen on " + m_options.strServerName + ": " + m_pServer->errorString());
        return false;
    }
    connect(m_pServer.get(), &QLocalServer::newConnection, this, &PluginHost::onNewConnection);

    if (m_options.strRequestFile.isEmpty() || m_options.strRequestFile == "-") {
        m_pStdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        connect(m_pStdinNotifier.get(), &QSocketNotifier::activated, this, &PluginHost::onStdinReadable);
    } else {
        m_pRequestFile = std::make_unique<QFile>(m_options.strRequestFile);
        if (!m_pRequestFile->open(QIODevice::ReadOnly)) {
            Note("cannot read " + m_options.strRequestFile);
            return false;
        }
        for (const QByteArray &line : m_pRequestFile->readAll().split('\n'))
            m_pendingLines.append(line);
        m_bRequestsDone = true;
    }

    QStringList args;
    for (const QString &strArg : m_options.args) {
        QString strCopy = strArg;
        args << strCopy.replace("{server}", m_options.strServerName);
    }
    // Standard output is reserved for the messages; the program's own output goes to standard error.
    m_process.setStandardOutputFile("/dev/stderr");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(m_options.strProgram, args);
    if (!m_process.waitForStarted(10000)) {
        Note("cannot start " + m_options.strProgram);
        return false;
    }
    QTimer::singleShot(m_options.nTimeoutMs, this, &PluginHost::onTimeout);
    m_idleTimer.start(50);
    return true;
}

void PluginHost::onNewConnection()
{
    QLocalSocket *pSocket = m_pServer->nextPendingConnection();
    if (m_pSocket) {
        // One plug-in, one link.
        pSocket->disconnectFromServer();
        pSocket->deleteLater();
        return;
    }
    m_pSocket = pSocket;
    connect(m_pSocket, &QLocalSocket::readyRead, this, &PluginHost::onSocketReadyRead);
    connect(m_pSocket, &QLocalSocket::disconnected, this, [this] { m_bLinkClosed = true; });
    m_sinceLastMessage.start();
    SendPending();
}

void PluginHost::onSocketReadyRead()
{
    m_frame.Append(m_pSocket->readAll());
    QByteArray payload;
    while (m_frame.TakeMessage(payload)) {
        if (payload.endsWith('\n'))
            payload.chop(1);
        std::fwrite(payload.constData(), 1, static_cast<size_t>(payload.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        m_sinceLastMessage.start();
    }
}

void PluginHost::onStdinReadable()
{
    char buf[65536];
    const ssize_t nRead = ::read(STDIN_FILENO, buf, sizeof buf);
    if (nRead <= 0) {
        m_pStdinNotifier->setEnabled(false);
        if (!m_stdinBuffer.isEmpty())
            m_pendingLines.append(m_stdinBuffer);
        m_stdinBuffer.clear();
        m_bRequestsDone = true;
    } else {
        m_stdinBuffer.append(buf, static_cast<int>(nRead));
        int nEnd;
        while ((nEnd = m_stdinBuffer.indexOf('\n')) >= 0) {
            m_pendingLines.append(m_stdinBuffer.left(nEnd));
            m_stdinBuffer.remove(0, nEnd + 1);
        }
    }
    SendPending();
}

void PluginHost::SendPending()
{
    while (m_pSocket && !m_bPaused && !m_bLinkClosed && !m_pendingLines.isEmpty()) {
        QByteArray line = m_pendingLines.takeFirst();
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        if (line.startsWith('#'))
            HandleCommand(line);
        else
            SendLine(line);
    }
}

void PluginHost::HandleCommand(const QByteArray &line)
{
    const QList<QByteArray> words = line.mid(1).simplified().split(' ');
    if (words.value(0) == "sleep") {
        m_bPaused = true;
        m_pauseTimer.start(words.value(1).toInt());
    } else if (words.value(0) == "close") {
        CloseLink();
    }
    // Any other '#' line is a comment.
}

void PluginHost::SendLine(const QByteArray &line)
{
    const QString strMsg = QString::fromUtf8(line);
    m_pSocket->write(HostLinkFrame::Encode(strMsg));
    m_pSocket->flush();
    m_sinceLastMessage.start();
}

void PluginHost::onIdleCheck()
{
    if (m_options.bKeepOpen || !m_pSocket || m_bLinkClosed || m_bPaused || !m_bRequestsDone || !m_pendingLines.isEmpty())
        return;
    if (m_sinceLastMessage.elapsed() >= m_options.nIdleMs)
        CloseLink();
}

void PluginHost::CloseLink()
{
    if (!m_pSocket || m_bLinkClosed)
        return;
    m_pSocket->flush();
    m_pSocket->disconnectFromServer();
    m_bLinkClosed = true;
    m_pendingLines.clear();
}

void PluginHost::onProgramFinished(int nExitCode, QProcess::ExitStatus status)
{
    // Messages still in the socket are printed before the host ends.
    if (m_pSocket && m_pSocket->bytesAvailable() > 0)
        onSocketReadyRead();
    const int nCode = status == QProcess::NormalExit ? nExitCode : 128 + 6;
    Note(QString("exit status %1%2").arg(nCode).arg(status == QProcess::NormalExit ? "" : " (crashed)"));
    QCoreApplication::exit(nCode);
}

void PluginHost::onTimeout()
{
    Note("timed out; killing the program");
    m_process.kill();
    m_process.waitForFinished(5000);
    QCoreApplication::exit(124);
}
