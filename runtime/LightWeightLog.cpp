#include "runtime/LightWeightLog.h"

#include "runtime/WriteLogThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>

#include <mutex>

namespace {
std::mutex g_instanceMutex;
LightWeightLog *g_pInstance = nullptr;
}

LightWeightLog *LightWeightLog::GetInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (!g_pInstance)
        g_pInstance = new LightWeightLog(QCoreApplication::applicationDirPath());
    return g_pInstance;
}

void LightWeightLog::ReleaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_pInstance;
    g_pInstance = nullptr;
}

LightWeightLog *LightWeightLog::CreateInstance(const QString &strAppDir)
{
    LightWeightLog *pLog = new LightWeightLog(strAppDir);
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_pInstance;
    g_pInstance = pLog;
    return pLog;
}

LightWeightLog::LightWeightLog(const QString &strAppDir, QObject *parent)
    : QObject(parent)
{
    QSettings settings(QDir(strAppDir).filePath("ClientCfg.ini"), QSettings::IniFormat);
    m_bEnabled = settings.value("Enable/PrintLogEn", 1).toBool();
    if (m_bEnabled) {
        WriteLogThread *pWriter = WriteLogThread::GetInstance(strAppDir);
        connect(this, &LightWeightLog::writeLogSig, pWriter, &WriteLogThread::writeLog);
    }
}

QString LightWeightLog::FormatLine(const QString &strMsg, const QString &strTag, int nLevel)
{
    static const QRegularExpression lineBreaks("\\r|\\n");
    QString strText = strMsg;
    strText.remove(lineBreaks);
    const char *pTemplate = nullptr;
    switch (nLevel) {
    case LOG_NORMAL: pTemplate = " [NORMAL] [%1] [%2] %3\n"; break;
    case LOG_WARNING: pTemplate = " [WARNING] [%1] [%2] %3\n"; break;
    case LOG_ERROR: pTemplate = " [ERROR] [%1] [%2] %3\n"; break;
    default: return strText;
    }
    const QString strTime = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss zzz");
    // One pass over the template, so a '%' in the tag or the time is never substituted again.
    return QString::fromLatin1(pTemplate).arg(strTag, strTime, strText);
}

void LightWeightLog::writeLog(const QString &strMsg, const QString &strTag, int nLevel)
{
    if (!m_bEnabled)
        return;
    emit writeLogSig(FormatLine(strMsg, strTag, nLevel));
}

void LightWeightLog::Flush()
{
    if (WriteLogThread *pWriter = WriteLogThread::ExistingInstance())
        pWriter->FlushAndWait();
}
