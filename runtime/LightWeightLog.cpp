#include "runtime/LightWeightLog.h"

#include "runtime/LogEcho.h"
#include "runtime/LogLineQueue.h"
#include "runtime/TimeText.h"
#include "runtime/WriteLogThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include <atomic>
#include <mutex>

namespace {
std::mutex g_instanceMutex;
std::atomic<LightWeightLog *> g_pInstance{nullptr};

// The time text of each thread that logs.
thread_local TimeText t_time;

// Appends the text without its carriage returns and line feeds.
void AppendWithoutBreaks(QString &strOut, const QString &strText)
{
    const QChar *pBegin = strText.constData();
    const QChar *pEnd = pBegin + strText.size();
    const QChar *pRun = pBegin;
    for (const QChar *p = pBegin; p != pEnd; ++p) {
        if (*p == QLatin1Char('\r') || *p == QLatin1Char('\n')) {
            strOut.append(pRun, static_cast<int>(p - pRun));
            pRun = p + 1;
        }
    }
    if (pRun == pBegin)
        strOut.append(strText);
    else
        strOut.append(pRun, static_cast<int>(pEnd - pRun));
}
}

LightWeightLog *LightWeightLog::GetInstance()
{
    LightWeightLog *pLog = g_pInstance.load(std::memory_order_acquire);
    if (pLog)
        return pLog;
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    pLog = g_pInstance.load(std::memory_order_relaxed);
    if (!pLog) {
        pLog = new LightWeightLog(QCoreApplication::applicationDirPath());
        g_pInstance.store(pLog, std::memory_order_release);
    }
    return pLog;
}

void LightWeightLog::ReleaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_pInstance.exchange(nullptr);
}

LightWeightLog *LightWeightLog::CreateInstance(const QString &strAppDir)
{
    LightWeightLog *pLog = new LightWeightLog(strAppDir);
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_pInstance.exchange(pLog);
    return pLog;
}

LightWeightLog::LightWeightLog(const QString &strAppDir, QObject *parent)
    : QObject(parent)
{
    QSettings settings(QDir(strAppDir).filePath("ClientCfg.ini"), QSettings::IniFormat);
    m_bEnabled = settings.value("Enable/PrintLogEn", 1).toBool();
    if (m_bEnabled)
        m_pQueue = WriteLogThread::GetInstance(strAppDir)->Queue();
}

LightWeightLog::~LightWeightLog() = default;

QString LightWeightLog::FormatLine(const QString &strMsg, const QString &strTag, int nLevel)
{
    QLatin1String level;
    switch (nLevel) {
    case LOG_NORMAL: level = QLatin1String(" [NORMAL] ["); break;
    case LOG_WARNING: level = QLatin1String(" [WARNING] ["); break;
    case LOG_ERROR: level = QLatin1String(" [ERROR] ["); break;
    default: {
        QString strText;
        strText.reserve(strMsg.size());
        AppendWithoutBreaks(strText, strMsg);
        return strText;
    }
    }
    // " [LEVEL] [tag] [time] message\n", built piece by piece into one allocation.
    QString strLine;
    strLine.reserve(level.size() + strTag.size() + 3 + TimeText::kLength + 2 + strMsg.size() + 1);
    strLine.append(level);
    strLine.append(strTag);
    strLine.append(QLatin1String("] ["));
    strLine.append(QLatin1String(t_time.Now(), TimeText::kLength));
    strLine.append(QLatin1String("] "));
    AppendWithoutBreaks(strLine, strMsg);
    strLine.append(QLatin1Char('\n'));
    return strLine;
}

void LightWeightLog::writeLog(const QString &strMsg, const QString &strTag, int nLevel)
{
    if (!m_bEnabled)
        return;
    QString strLine = FormatLine(strMsg, strTag, nLevel);
    emit writeLogSig(strLine);
    if (m_pQueue)
        m_pQueue->Push(std::move(strLine));
}

void LightWeightLog::Flush()
{
    if (WriteLogThread *pWriter = WriteLogThread::ExistingInstance())
        pWriter->FlushAndWait();
    LogEcho::GetInstance()->Flush();
}
