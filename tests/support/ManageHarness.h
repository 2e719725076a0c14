#pragma once

#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class CPluginManage;

// A request handler on its own request thread, as main makes it, with every message it sends collected.
class ManageHarness
{
public:
    explicit ManageHarness(int nSessionId = 7, const QString &strWndHandle = QString());
    ~ManageHarness();

    CPluginManage *Manage() const { return m_pManage.get(); }

    // Delivers a request text as the host link does (queued to the request thread).
    void Send(const QString &strRequest);
    // Runs the function on the request thread and waits for it, processing the GUI thread's events meanwhile.
    void RunOnRequestThread(const std::function<void()> &fn);
    // Waits until every request sent so far has been handled.
    void Sync() { RunOnRequestThread([] {}); }

    QStringList Messages() const;
    bool WaitForMessages(int nCount, int nTimeoutMs = 5000) const;

private:
    std::unique_ptr<CPluginManage> m_pManage;
    QMetaObject::Connection m_collector;
    mutable std::mutex m_mutex;
    QStringList m_messages;
};
