#include "tests/support/LogCapture.h"

#include "runtime/LightWeightLog.h"
#include "tests/support/WaitUntil.h"


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
    return WaitUntil([&] { return Contains(strText); }, nTimeoutMs);
}
