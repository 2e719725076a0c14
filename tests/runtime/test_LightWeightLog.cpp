#include "runtime/LightWeightLog.h"
#include "runtime/WriteLogThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

namespace {

QStringList LogFiles(const QString &strDir)
{
    return QDir(strDir).entryList(QDir::Files, QDir::Name);
}

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void Write(WriteLogThread &writer, const QString &strLine)
{
    QMetaObject::invokeMethod(&writer, "writeLog", Qt::QueuedConnection, Q_ARG(QString, strLine));
}

} // namespace

TEST(LightWeightLog, LineFormatPerLevel)
{
    const QString strTime = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\d{3}";
    struct Case { int nLevel; QString strPattern; };
    const Case cases[] = {
        {LOG_NORMAL, "^ \\[NORMAL\\] \\[Cls::Fn\\] \\[" + strTime + "\\] hello world\n$"},
        {LOG_WARNING, "^ \\[WARNING\\] \\[Cls::Fn\\] \\[" + strTime + "\\] hello world\n$"},
        {LOG_ERROR, "^ \\[ERROR\\] \\[Cls::Fn\\] \\[" + strTime + "\\] hello world\n$"},
        {7, "^hello world$"},
    };
    for (const Case &c : cases) {
        const QString strLine = LightWeightLog::FormatLine("hello\r\n world\n", "Cls::Fn", c.nLevel);
        EXPECT_TRUE(QRegularExpression(c.strPattern).match(strLine).hasMatch()) << strLine.toStdString();
    }
    // A '%' in the tag or the message is not taken for a placeholder.
    EXPECT_TRUE(LightWeightLog::FormatLine("50%3 done", "Tag%2", LOG_NORMAL).endsWith("] 50%3 done\n"));
    EXPECT_TRUE(LightWeightLog::FormatLine("x", "Tag%2", LOG_NORMAL).startsWith(" [NORMAL] [Tag%2] ["));
}

TEST(LightWeightLog, DisabledInClientCfgCreatesNoFolder)
{
    QTemporaryDir dir;
    {
        QSettings cfg(dir.filePath("ClientCfg.ini"), QSettings::IniFormat);
        cfg.setValue("Enable/PrintLogEn", 0);
    }
    WriteLogThread::ReleaseInstance(); // the test process's own writer
    LightWeightLog log(dir.path());
    EXPECT_FALSE(log.IsEnabled());
    QSignalSpy spy(&log, &LightWeightLog::writeLogSig);
    log.writeLog("nothing", "Test::Disabled", LOG_NORMAL);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Log")));
    EXPECT_EQ(WriteLogThread::ExistingInstance(), nullptr);
}

TEST(LightWeightLog, EnabledWithoutClientCfgWritesLinesToTheFolder)
{
    QTemporaryDir dir;
    WriteLogThread::ReleaseInstance(); // the test process's own writer
    LightWeightLog log(dir.path());
    ASSERT_TRUE(log.IsEnabled());
    log.writeLog("first\r\nline", "Test::Enabled", LOG_NORMAL);
    log.writeLog("second", "Test::Enabled", LOG_ERROR);
    LightWeightLog::Flush();
    const QString strFolder = dir.filePath("Log/Plugin");
    const QStringList files = LogFiles(strFolder);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(QString("^log_%1_\\d{14}\\.log$").arg(QCoreApplication::applicationPid()))
                    .match(files[0]).hasMatch()) << files[0].toStdString();
    const QList<QByteArray> lines = ReadAll(strFolder + "/" + files[0]).split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(" [NORMAL] [Test::Enabled] [")) << lines[0].constData();
    EXPECT_TRUE(lines[0].endsWith("] firstline"));
    EXPECT_TRUE(lines[1].startsWith(" [ERROR] [Test::Enabled] ["));
    EXPECT_TRUE(lines[2].isEmpty());
    WriteLogThread::ReleaseInstance();
}

TEST(WriteLogThread, PrunesToTheTenNewestFilesAtStart)
{
    QTemporaryDir dir;
    const QString strFolder = dir.filePath("Log/Plugin");
    QDir().mkpath(strFolder);
    const qint64 nNow = QDateTime::currentSecsSinceEpoch();
    for (int i = 0; i < 12; ++i) {
        const QString strPath = QString("%1/old_%2.log").arg(strFolder).arg(i, 2, 10, QChar('0'));
        QFile file(strPath);
        file.open(QIODevice::WriteOnly);
        file.write("x");
        file.close();
        // old_00 is the oldest, old_11 the newest.
        utimbuf times{static_cast<time_t>(nNow - 1000 + i), static_cast<time_t>(nNow - 1000 + i)};
        utime(strPath.toLocal8Bit().constData(), &times);
    }
    WriteLogThread writer(dir.path());
    QStringList files = LogFiles(strFolder);
    EXPECT_EQ(files.size(), 10);
    EXPECT_FALSE(files.contains("old_00.log"));
    EXPECT_FALSE(files.contains("old_01.log"));
    EXPECT_TRUE(files.contains("old_02.log"));

    Write(writer, "line\n");
    writer.FlushAndWait();
    EXPECT_EQ(LogFiles(strFolder).size(), 11);
}

TEST(WriteLogThread, RotatesPastTheLimitWithoutOverwritingAndKeepsTen)
{
    QTemporaryDir dir;
    const QString strFolder = dir.filePath("Log/Plugin");
    WriteLogThread writer(dir.path());
    const QString strLine = QString(1023, 'a') + "\n"; // 1 KiB a line
    // 512 lines fill a file to exactly the limit; the 513th still goes there (the test is "above the limit"),
    // the 514th opens the next file. 14 files' worth, all within the same second or two.
    const int nLinesPerFile = 513;
    for (int i = 0; i < nLinesPerFile * 14; ++i)
        Write(writer, strLine);
    writer.FlushAndWait();
    const QStringList files = LogFiles(strFolder);
    // Pruning runs before each new file: 10 kept plus the one being written.
    EXPECT_EQ(files.size(), 11);
    qint64 nTotal = 0;
    for (const QString &strName : files) {
        const qint64 nSize = QFileInfo(strFolder + "/" + strName).size();
        EXPECT_LE(nSize, WriteLogThread::kMaxFileSize + strLine.size()) << strName.toStdString();
        EXPECT_EQ(nSize % strLine.size(), 0) << "a line was cut or overwritten in " << strName.toStdString();
        nTotal += nSize;
    }
    // The newest file holds the rest; each full file holds 513 lines.
    EXPECT_EQ(nTotal, qint64(strLine.size()) * (10 * nLinesPerFile + nLinesPerFile));
}

// Requests and replies are in the log: its files are their owner's alone, whatever the umask lets others read.
TEST(WriteLogThread, FilesAreReadableByTheirOwnerOnly)
{
    QTemporaryDir dir;
    const mode_t nOldMask = umask(0);
    {
        WriteLogThread writer(dir.path());
        Write(writer, " [NORMAL] [T] [t] one\n");
        writer.FlushAndWait();
    }
    umask(nOldMask);
    const QString strFolder = dir.filePath("Log/Plugin");
    const QStringList files = LogFiles(strFolder);
    ASSERT_EQ(files.size(), 1);
    struct stat info{};
    ASSERT_EQ(stat(QFile::encodeName(strFolder + "/" + files[0]).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(strFolder + "/" + files[0]), " [NORMAL] [T] [t] one\n");
}
