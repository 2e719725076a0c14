#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class LogLineQueue;
class QThread;
class QTimer;

// Appends formatted log lines to rotating files in "<application directory>/Log/Plugin", on a thread of its own.
// Lines reach it through its queue (LightWeightLog) and are written in batches; each batch is also copied to
// standard error through LogEcho, which never holds the writer up.
class WriteLogThread : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxFileSize = 524288;
    static constexpr int kKeepFiles = 10;
    // While lines keep coming, the writer looks for more this often instead of being woken for each.
    static constexpr int kBatchMs = 20;

    // Creates the writer for the application directory on first use.
    static WriteLogThread *GetInstance(const QString &strAppDir);
    static WriteLogThread *ExistingInstance();
    static void ReleaseInstance();

    explicit WriteLogThread(const QString &strAppDir);
    ~WriteLogThread() override;

    QString LogPath() const { return m_strLogPath; }
    // Where the callers put their lines; it outlives the writer for loggers that still hold it (they are dropped).
    std::shared_ptr<LogLineQueue> Queue() const { return m_pQueue; }
    // Blocks until the lines queued before this call are written and flushed.
    void FlushAndWait();

public slots:
    void writeLog(QString strLog);

private slots:
    void onFlush();
    void onDrain();

private:
    void PruneFolder();
    void OpenNewFile();
    // Writes the lines to the files, rotating between lines, and hands their text to the standard-error copy.
    void WriteLines(const std::vector<QString> &lines);

    QFile m_file;
    QString m_strLogPath;
    qint64 m_nFileSize = 0;
    std::shared_ptr<LogLineQueue> m_pQueue;
    std::vector<QString> m_batch;
    QTimer *m_pDrainTimer = nullptr;
    std::unique_ptr<QThread> m_pThread;
};
