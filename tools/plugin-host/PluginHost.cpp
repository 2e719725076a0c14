#include "tools/plugin-host/PluginHost.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <atomic>
#include <cstdio>

namespace {
void Note(const QString &strText)
{
    std::fprintf(stderr, "plugin-host: %s\n", strText.toLocal8Bit().constData());
    std::fflush(stderr);
}

std::atomic<int> g_nHostCount{0};
} // namespace

PluginHost::PluginHost(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    if (m_options.strServerName.isEmpty())
        m_options.strServerName =
            QString("quorrin-host-%1-%2").arg(QCoreApplication::applicationPid()).arg(++g_nHostCount);
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &PluginHost::onProgramFinished);
}

PluginHost::~PluginHost()
{
    // Nothing of ours may run while the members go.
    m_process.disconnect(this);
    if (m_pSocket)
        m_pSocket->disconnect(this);
    Kill();
    m_pServer.reset();
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

    QStringList args;
    for (const QString &strArg : m_options.args) {
        QString strCopy = strArg;
        args << strCopy.replace("{server}", m_options.strServerName);
    }
    if (!m_options.strWorkingDir.isEmpty())
        m_process.setWorkingDirectory(m_options.strWorkingDir);
    if (!m_options.env.isEmpty())
        m_process.setProcessEnvironment(m_options.env);
    if (m_options.strOutputFile.isEmpty()) {
        // Our standard output may carry the messages: the program's own output goes to standard error.
        m_process.setStandardOutputFile("/dev/stderr");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        m_process.setStandardOutputFile(m_options.strOutputFile, QIODevice::Append);
        m_process.setStandardErrorFile(m_options.strOutputFile, QIODevice::Append);
    }
    m_process.start(m_options.strProgram, args);
    if (!m_process.waitForStarted(30000)) {
        Note("cannot start " + m_options.strProgram + ": " + m_process.errorString());
        return false;
    }
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
    connect(m_pSocket, &QLocalSocket::disconnected, this, [this] {
        onSocketReadyRead();
        if (!m_bLinkClosed) {
            m_bLinkClosed = true;
            emit linkClosedSig();
        }
    });
    emit linkedSig();
    const QList<QByteArray> unsent = m_unsent;
    m_unsent.clear();
    for (const QByteArray &text : unsent)
        Write(text);
}

void PluginHost::onSocketReadyRead()
{
    if (!m_pSocket)
        return;
    m_frame.Append(m_pSocket->readAll());
    QByteArray payload;
    while (m_frame.TakeMessage(payload))
        emit messageSig(payload);
}

void PluginHost::Send(const QByteArray &utf8Text)
{
    if (m_bLinkClosed)
        return;
    if (!m_pSocket)
        m_unsent.append(utf8Text);
    else
        Write(utf8Text);
}

void PluginHost::Write(const QByteArray &utf8Text)
{
    m_pSocket->write(HostLinkFrame::Encode(QString::fromUtf8(utf8Text)));
    m_pSocket->flush();
}

void PluginHost::CloseLink()
{
    if (m_bLinkClosed)
        return;
    m_bLinkClosed = true;
    m_unsent.clear();
    if (m_pSocket) {
        m_pSocket->flush();
        m_pSocket->disconnectFromServer();
    }
    emit linkClosedSig();
}

void PluginHost::Kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
}

void PluginHost::onProgramFinished(int nExitCode, QProcess::ExitStatus status)
{
    // Messages still in the socket are delivered before the end is.
    onSocketReadyRead();
    m_bFinished = true;
    m_bCrashed = status != QProcess::NormalExit;
    m_nExitCode = m_bCrashed ? -1 : nExitCode;
    emit finishedSig(m_nExitCode, m_bCrashed);
}
