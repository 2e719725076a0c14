#pragma once

#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <mutex>

// Collects every line the process's logger formats, from whatever thread, while it exists.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList Lines() const;
    // Lines whose text (after the time stamp) contains the given text.
    int Count(const QString &strText) const;
    bool Contains(const QString &strText) const { return Count(strText) > 0; }
    // Processes events until a line containing the text arrives or the time is up.
    bool WaitFor(const QString &strText, int nTimeoutMs = 5000) const;

private:
    mutable std::mutex m_mutex;
    QStringList m_lines;
    QMetaObject::Connection m_connection;
};
