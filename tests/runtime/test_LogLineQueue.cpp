#include "runtime/LightWeightLog.h"
#include "runtime/LogLineQueue.h"
#include "runtime/WriteLogThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

// The writer is woken only when it said it was idle; a wake lost here would leave lines waiting for good.
TEST(LogLineQueue, WakesTheWriterOnlyWhenItIsIdle)
{
    int nWakes = 0;
    LogLineQueue queue([&] { ++nWakes; });
    std::vector<QString> taken;
    bool bClosed = false;
    struct Step { const char *pAction; int nWakesAfter; size_t nTaken; };
    const Step steps[] = {
        {"push", 1, 0},  // idle at the start
        {"push", 1, 0},  // already woken
        {"take", 1, 2},  // took lines: still busy, it will look again
        {"push", 1, 0},
        {"take", 1, 1},
        {"take", 1, 0},  // found nothing: idle
        {"push", 2, 0},
        {"push", 2, 0},
        {"close", 2, 0},
        {"push", 2, 0},  // dropped, nobody woken
        {"take", 2, 2},  // what came before the close is still there
    };
    for (const Step &step : steps) {
        const QString strAction = step.pAction;
        taken.clear();
        if (strAction == "push") {
            EXPECT_EQ(queue.Push(QString("line")), !bClosed);
        } else if (strAction == "take") {
            queue.TakeAll(taken);
        } else {
            queue.Close();
            bClosed = true;
        }
        EXPECT_EQ(nWakes, step.nWakesAfter) << step.pAction;
        EXPECT_EQ(taken.size(), step.nTaken) << step.pAction;
    }
}

namespace {

QList<QByteArray> ReadLines(const QString &strFolder)
{
    QList<QByteArray> lines;
    // Oldest file first, by name: names carry the time to the second, then a counter within that second. The
    // files' modification times cannot order them: several are written within the clock's resolution.
    QFileInfoList files = QDir(strFolder).entryInfoList(QDir::Files);
    const QRegularExpression name("^(.*_\\d{14})(?:_(\\d+))?\\.log$");
    auto key = [&](const QFileInfo &info) {
        const QRegularExpressionMatch match = name.match(info.fileName());
        return std::make_pair(match.captured(1), match.captured(2).toInt());
    };
    std::sort(files.begin(), files.end(),
              [&](const QFileInfo &a, const QFileInfo &b) { return key(a) < key(b); });
    for (const QFileInfo &info : files) {
        QFile file(info.absoluteFilePath());
        file.open(QIODevice::ReadOnly);
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines << line;
    }
    return lines;
}

} // namespace

// Lines from many threads at once: every line reaches the files whole, each thread's in its own order, and the
// files still rotate at the limit.
TEST(WriteLogThread, LinesFromManyThreadsArriveWholeAndInOrder)
{
    QTemporaryDir dir;
    WriteLogThread::ReleaseInstance(); // the test process's own writer
    LightWeightLog log(dir.path());
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    const QString strPad(40, QChar('p'));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                log.writeLog(QString("t%1 n%2 %3").arg(t).arg(i).arg(strPad), "Test::Threads", LOG_NORMAL);
        });
    }
    for (std::thread &th : threads)
        th.join();
    LightWeightLog::Flush();

    const QString strFolder = dir.filePath("Log/Plugin");
    const QList<QByteArray> lines = ReadLines(strFolder);
    ASSERT_EQ(lines.size(), kThreads * kLines);
    std::vector<int> next(kThreads, 0);
    const QRegularExpression pattern("^ \\[NORMAL\\] \\[Test::Threads\\] \\[[^]]+\\] t(\\d) n(\\d+) p{40}$");
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
        ASSERT_TRUE(match.hasMatch()) << line.constData();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[t]) << line.constData();
        next[t] = match.captured(2).toInt() + 1;
    }
    const qint64 nLineSize = lines[0].size() + 1;
    const QFileInfoList files = QDir(strFolder).entryInfoList(QDir::Files);
    EXPECT_GE(files.size(), 2);
    for (const QFileInfo &info : files)
        EXPECT_LE(info.size(), WriteLogThread::kMaxFileSize + nLineSize + 10) << info.fileName().toStdString();
    WriteLogThread::ReleaseInstance();
}

// The line's time is the local time of the call, to the millisecond.
TEST(LightWeightLog, LineTimeIsTheLocalTimeOfTheCall)
{
    for (int i = 0; i < 200; ++i) {
        const QDateTime before = QDateTime::currentDateTime();
        const QString strLine = LightWeightLog::FormatLine("m", "T", LOG_WARNING);
        const QDateTime after = QDateTime::currentDateTime();
        const QString strTime = strLine.mid(QString(" [WARNING] [T] [").size(), 23);
        const QDateTime stamp = QDateTime::fromString(strTime, "yyyy-MM-dd HH:mm:ss zzz");
        ASSERT_TRUE(stamp.isValid()) << strLine.toStdString();
        EXPECT_LE(before.toMSecsSinceEpoch(), stamp.toMSecsSinceEpoch()) << strLine.toStdString();
        EXPECT_LE(stamp.toMSecsSinceEpoch(), after.toMSecsSinceEpoch()) << strLine.toStdString();
    }
}
