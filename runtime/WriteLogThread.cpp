#include "runtime/WriteLogThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <mutex>

namespace {
std::mutex g_instanceMutex;
WriteLogThread *g_pInstance = nullptr;
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
    // The thread is owned here rather than parented, so it never moves to itself and is joined before it is freed.
    m_pThread = std::make_unique<QThread>();
    moveToThread(m_pThread.get());
    m_pThread->start(QThread::InheritPriority);
}

WriteLogThread::~WriteLogThread()
{
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
    if (m_file.isOpen())
        m_file.flush();
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
    // so the file just closed is never written over.
    QString strName = strBase + ".log";
    for (int n = 1; QFileInfo::exists(strName); ++n)
        strName = QString("%1_%2.log").arg(strBase).arg(n);
    m_file.setFileName(strName);
    m_file.open(QIODevice::ReadWrite | QIODevice::Append);
}

void WriteLogThread::writeLog(QString strLog)
{
    if (!m_file.isOpen()) {
        OpenNewFile();
    } else if (m_file.size() > kMaxFileSize) {
        m_file.close();
        PruneFolder();
        OpenNewFile();
    }
    if (m_file.isOpen())
        m_file.write(strLog.toLocal8Bit());
    qDebug().noquote() << (strLog.endsWith('\n') ? strLog.chopped(1) : strLog);
}
