#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include <memory>

class QThread;

// Appends formatted log lines to rotating files in "<application directory>/Log/Plugin", on a thread of its own.
class WriteLogThread : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxFileSize = 524288;
    static constexpr int kKeepFiles = 10;

    // Creates the writer for the application directory on first use.
    static WriteLogThread *GetInstance(const QString &strAppDir);
    static WriteLogThread *ExistingInstance();
    static void ReleaseInstance();

    explicit WriteLogThread(const QString &strAppDir);
    ~WriteLogThread() override;

    QString LogPath() const { return m_strLogPath; }
    // Blocks until the lines queued before this call are written and flushed.
    void FlushAndWait();

public slots:
    void writeLog(QString strLog);

private slots:
    void onFlush();

private:
    void PruneFolder();
    void OpenNewFile();

    QFile m_file;
    QString m_strLogPath;
    std::unique_ptr<QThread> m_pThread;
};
