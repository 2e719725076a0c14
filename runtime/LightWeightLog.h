#pragma once

#include <QObject>
#include <QString>

#include <memory>

class LogLineQueue;

// Levels every log call passes.
enum LogLevel { LOG_NORMAL = 0, LOG_WARNING = 1, LOG_ERROR = 2 };

// The process-wide logger: formats a line on the caller's thread and hands it to the writer's thread,
// so that no caller ever waits on the disk.
class LightWeightLog : public QObject
{
    Q_OBJECT
public:
    static LightWeightLog *GetInstance();
    static void ReleaseInstance();
    // Replaces the instance with one for the given application directory (tests use a temporary folder).
    static LightWeightLog *CreateInstance(const QString &strAppDir);

    // Reads "Enable/PrintLogEn" from the "ClientCfg.ini" of the given application directory.
    explicit LightWeightLog(const QString &strAppDir, QObject *parent = nullptr);
    ~LightWeightLog() override;

    void writeLog(const QString &strMsg, const QString &strTag, int nLevel);
    bool IsEnabled() const { return m_bEnabled; }

    // One line as the log files hold it (a bare message, without line end, for an unknown level).
    static QString FormatLine(const QString &strMsg, const QString &strTag, int nLevel);

    // Waits until every line emitted so far is written and the file is flushed; used at shutdown.
    static void Flush();

signals:
    // Every line as it is handed to the writer, on the caller's thread (for observers; the writer takes its
    // lines from its queue, not through this signal).
    void writeLogSig(QString strLog);

private:
    bool m_bEnabled;
    std::shared_ptr<LogLineQueue> m_pQueue;
};

// Shorthand used throughout the system: LOGN(msg, tag), LOGW, LOGE.
#define LOGN(msg, tag) LightWeightLog::GetInstance()->writeLog((msg), (tag), LOG_NORMAL)
#define LOGW(msg, tag) LightWeightLog::GetInstance()->writeLog((msg), (tag), LOG_WARNING)
#define LOGE(msg, tag) LightWeightLog::GetInstance()->writeLog((msg), (tag), LOG_ERROR)
