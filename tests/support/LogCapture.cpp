#include "tests/support/LogCapture.h"

#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

LogCapture::LogCapture()
{
    m_connection = QObject::connect(LightWeightLog::GetInstance(), &LightWeightLog::writeLogSig,
                                    [this](const QString &strLine) {
                                        std::lock_guard<std::mutex> lock(m_mutex);
                                        m_lines << strLine;
                                    });
}

LogCapture::~LogCapture()
{
    QObject::disconnect(m_connection);
}

QStringList LogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

int LogCapture::Count(const QString &strText) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const QString &strLine : m_lines)
        if (strLine.contains(strText))
            ++n;
    return n;
}

bool LogCapture::WaitFor(const QString &strText, int nTimeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (!Contains(strText)) {
        if (timer.elapsed() > nTimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
