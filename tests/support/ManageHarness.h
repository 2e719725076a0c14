#pragma once

#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class CPluginManage;

// A request handler on its own request thread, as main makes it, with every message it sends collected. The
// system-load events (0/5, once a second while logged in) are kept apart: only LoadEvents() has them, so that a
// test that runs longer than a second on a loaded machine counts the same messages.
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
    QStringList LoadEvents() const;
    bool WaitForMessages(int nCount, int nTimeoutMs = 5000) const;

private:
    std::unique_ptr<CPluginManage> m_pManage;
    QMetaObject::Connection m_collector;
    mutable std::mutex m_mutex;
    QStringList m_messages;
    QStringList m_loadEvents;
};
