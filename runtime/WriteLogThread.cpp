#include "runtime/WriteLogThread.h"

#include "runtime/LogEcho.h"
#include "runtime/LogLineQueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_instanceMutex;
WriteLogThread *g_pInstance = nullptr;
// A batch this large says the callers are ahead: look again at once rather than after kBatchMs.
constexpr size_t kBusyBatch = 4096;
}

WriteLogThread *WriteLogThread::GetInstance(const QString &strAppDir)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (!g_pInstance)
        g_pInstance = new WriteLogThread(strAppDir);
    return g_pInstance;
}

WriteLogThread *WriteLogThread::ExistingInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    return g_pInstance;
}

void WriteLogThread::ReleaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_pInstance;
    g_pInstance = nullptr;
}

WriteLogThread::WriteLogThread(const QString &strAppDir)
    : m_strLogPath(strAppDir + "/Log/Plugin")
{
    qDebug() << "m_strLogPath" << m_strLogPath;
    QDir().mkpath(m_strLogPath);
    PruneFolder();
    m_pQueue = std::make_shared<LogLineQueue>(
        [this] { QMetaObject::invokeMethod(this, &WriteLogThread::onDrain, Qt::QueuedConnection); });
    m_pDrainTimer = new QTimer(this);
    m_pDrainTimer->setSingleShot(true);
    connect(m_pDrainTimer, &QTimer::timeout, this, &WriteLogThread::onDrain);
    // The thread is owned here rather than parented, so it never moves to itself and is joined before it is freed.
    m_pThread = std::make_unique<QThread>();
    moveToThread(m_pThread.get());
    m_pThread->start(QThread::InheritPriority);
}

WriteLogThread::~WriteLogThread()
{
    m_pQueue->Close();
    if (m_pThread && m_pThread->isRunning()) {
        FlushAndWait();
        m_pThread->quit();
        m_pThread->wait();
    }
    m_file.close();
}

void WriteLogThread::FlushAndWait()
{
    if (!m_pThread || !m_pThread->isRunning())
        return;
    if (QThread::currentThread() == m_pThread.get())
        onFlush();
    else
        QMetaObject::invokeMethod(this, "onFlush", Qt::BlockingQueuedConnection);
}

void WriteLogThread::onFlush()
{
    // Everything queued so far, however many batches that takes.
    for (;;) {
        m_pQueue->TakeAll(m_batch);
        if (m_batch.empty())
            break;
        WriteLines(m_batch);
        m_batch.clear();
    }
    m_pDrainTimer->stop();
    if (m_file.isOpen())
        m_file.flush();
}

void WriteLogThread::onDrain()
{
    m_pQueue->TakeAll(m_batch);
    if (m_batch.empty())
        return; // idle: the next line wakes the writer
    const size_t nLines = m_batch.size();
    WriteLines(m_batch);
    m_batch.clear();
    m_pDrainTimer->start(nLines >= kBusyBatch ? 0 : kBatchMs);
}

void WriteLogThread::PruneFolder()
{
    QDir dir(m_strLogPath);
    QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Time);
    while (files.size() > kKeepFiles) {
        QFile::remove(files.last().absoluteFilePath());
        files.removeLast();
    }
}

void WriteLogThread::OpenNewFile()
{
    QDir().mkpath(m_strLogPath);
    const QString strBase = QString("%1/log_%2_%3").arg(m_strLogPath).arg(QCoreApplication::applicationPid())
                                .arg(QDateTime::currentDateTime().toString("yyyyMMddhhmmss"));
    // Names have a one-second resolution: a rotation within the second of the last file gets a counter,
    // so the file just closed is never written over. The file is always a new one, readable by its owner only
    // (requests and replies are in it), and never a link or file someone else put there.
    int nFd = -1;
    QString strName = strBase + ".log";
    for (int n = 1; nFd < 0; ++n) {
        nFd = ::open(QFile::encodeName(strName).constData(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC,
                     S_IRUSR | S_IWUSR);
        if (nFd < 0 && errno != EEXIST)
            return; // lost, like the line; the next one tries again
        if (nFd < 0)
            strName = QString("%1_%2.log").arg(strBase).arg(n);
    }
    // Unbuffered: each batch is one write of its own.
    if (m_file.open(nFd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        m_nFileSize = m_file.size();
    else
        ::close(nFd);
}

void WriteLogThread::writeLog(QString strLog)
{
    // Lines already queued by the callers come first.
    onFlush();
    WriteLines({strLog});
}

void WriteLogThread::WriteLines(const std::vector<QString> &lines)
{
    QByteArray bytes;
    // The copy on standard error ends every line with a line end; only a batch with a line that lacks one
    // needs a text of its own.
    QByteArray echo;
    bool bOwnEcho = false;
    int nFileStart = 0;        // where the part of bytes that goes to the current file begins
    auto writeFilePart = [&] {
        if (m_file.isOpen() && bytes.size() > nFileStart)
            m_file.write(bytes.constData() + nFileStart, bytes.size() - nFileStart);
        nFileStart = bytes.size();
    };
    for (const QString &strLine : lines) {
        // The size test comes before the line, so a file ends at most one line past the limit.
        if (!m_file.isOpen()) {
            writeFilePart();
            OpenNewFile();
        } else if (m_nFileSize > kMaxFileSize) {
            writeFilePart();
            m_file.close();
            PruneFolder();
            OpenNewFile();
        }
        const QByteArray line = strLine.toLocal8Bit();
        if (!m_file.isOpen()) {
            // Lost, like the file; the next line tries a new one.
            nFileStart = bytes.size() + line.size();
        } else {
            m_nFileSize += line.size();
        }
        if (!bOwnEcho && !line.endsWith('\n')) {
            bOwnEcho = true;
            echo = bytes;
        }
        bytes += line;
        if (bOwnEcho) {
            echo += line;
            if (!line.endsWith('\n'))
                echo += '\n';
        }
    }
    writeFilePart();
    LogEcho::GetInstance()->Append(bOwnEcho ? echo : bytes);
}
