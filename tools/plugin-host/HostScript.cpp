#include "tools/plugin-host/HostScript.h"

#include "tools/plugin-host/PluginHost.h"

#include <QCoreApplication>
#include <QFile>
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

HostScript::HostScript(PluginHost *pHost, const Options &options, QObject *parent)
    : QObject(parent)
    , m_pHost(pHost)
    , m_options(options)
{
    connect(m_pHost, &PluginHost::messageSig, this, &HostScript::onMessage);
    connect(m_pHost, &PluginHost::linkedSig, this, [this] {
        m_sinceLastMessage.start();
        SendPending();
    });
    connect(m_pHost, &PluginHost::finishedSig, this, &HostScript::onProgramFinished);
    connect(&m_idleTimer, &QTimer::timeout, this, &HostScript::onIdleCheck);
    m_pauseTimer.setSingleShot(true);
    connect(&m_pauseTimer, &QTimer::timeout, this, [this] {
        m_bPaused = false;
        SendPending();
    });
}

HostScript::~HostScript() = default;

bool HostScript::Start()
{
    if (m_options.strRequestFile.isEmpty() || m_options.strRequestFile == "-") {
        m_pStdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        connect(m_pStdinNotifier.get(), &QSocketNotifier::activated, this, &HostScript::onStdinReadable);
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
    QTimer::singleShot(m_options.nTimeoutMs, this, &HostScript::onTimeout);
    m_idleTimer.start(50);
    return true;
}

void HostScript::onMessage(const QByteArray &payload)
{
    QByteArray line = payload;
    if (line.endsWith('\n'))
        line.chop(1);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_sinceLastMessage.start();
    ++m_nMessages;
    if (m_nWaitFor > 0 && m_nMessages >= m_nWaitFor) {
        m_nWaitFor = 0;
        m_bPaused = false;
        SendPending();
    }
}

void HostScript::onStdinReadable()
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

void HostScript::SendPending()
{
    // Lines wait for the link, so that a '#sleep' counts from the program's connection.
    while (m_pHost->IsLinked() && !m_bPaused && !m_pHost->IsLinkClosed() && !m_pendingLines.isEmpty()) {
        QByteArray line = m_pendingLines.takeFirst();
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        if (line.startsWith('#')) {
            HandleCommand(line);
        } else {
            m_pHost->Send(line);
            m_sinceLastMessage.start();
        }
    }
}

void HostScript::HandleCommand(const QByteArray &line)
{
    const QList<QByteArray> words = line.mid(1).simplified().split(' ');
    if (words.value(0) == "sleep") {
        m_bPaused = true;
        m_pauseTimer.start(words.value(1).toInt());
    } else if (words.value(0) == "wait") {
        // However slow the program, what follows waits for the messages that came before it.
        const int nWaitFor = words.value(1).toInt();
        if (m_nMessages < nWaitFor) {
            m_bPaused = true;
            m_nWaitFor = nWaitFor;
        }
    } else if (words.value(0) == "close") {
        m_pendingLines.clear();
        m_pHost->CloseLink();
    }
    // Any other '#' line is a comment.
}

void HostScript::onIdleCheck()
{
    if (m_options.bKeepOpen || !m_pHost->IsLinked() || m_pHost->IsLinkClosed() || m_bPaused || !m_bRequestsDone
        || !m_pendingLines.isEmpty())
        return;
    if (m_sinceLastMessage.elapsed() >= m_options.nIdleMs)
        m_pHost->CloseLink();
}

void HostScript::onProgramFinished(int nExitCode, bool bCrashed)
{
    const int nCode = bCrashed ? 128 + 6 : nExitCode;
    Note(QString("exit status %1%2").arg(nCode).arg(bCrashed ? " (crashed)" : ""));
    QCoreApplication::exit(nCode);
}

void HostScript::onTimeout()
{
    Note("timed out; killing the program");
    m_pHost->Kill();
    QCoreApplication::exit(124);
}
