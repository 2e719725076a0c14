#include "standin/windows/GuiThreadCheck.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaEnum>
#include <QThread>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

constexpr size_t kMaxReports = 32;

struct Noted
{
    std::atomic<int> nCount{0};
    std::mutex mutex;
    std::vector<std::string> reports;
};

Noted &TheNoted()
{
    static Noted noted;
    return noted;
}

// Sees every event delivered to an object of the GUI thread, on the thread that delivers it.
class WidgetEventWatch : public QObject
{
public:
    explicit WidgetEventWatch(QObject *pParent) : QObject(pParent) {}

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override
    {
        if (pWatched->isWidgetType() && !GuiThreadCheck::OnGuiThread()) {
            const char *pName = QMetaEnum::fromType<QEvent::Type>().valueToKey(pEvent->type());
            const std::string strWhat = std::string("widget event ") + (pName ? pName : "?");
            GuiThreadCheck::Note(strWhat.c_str());
        }
        return false;
    }
};

void InstallWatch()
{
    QCoreApplication *pApp = QCoreApplication::instance();
    pApp->installEventFilter(new WidgetEventWatch(pApp));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWatch)

namespace GuiThreadCheck {

bool OnGuiThread()
{
    const QCoreApplication *pApp = QCoreApplication::instance();
    return pApp && QThread::currentThread() == pApp->thread();
}

void Note(const char *pWhat)
{
    if (OnGuiThread())
        return;
    Noted &noted = TheNoted();
    ++noted.nCount;
    std::ostringstream report;
    report << (pWhat ? pWhat : "?") << " (thread " << std::this_thread::get_id() << ")";
    std::lock_guard<std::mutex> lock(noted.mutex);
    if (noted.reports.size() < kMaxReports)
        noted.reports.push_back(report.str());
}

int Violations() { return TheNoted().nCount.load(); }

std::vector<std::string> Reports()
{
    Noted &noted = TheNoted();
    std::lock_guard<std::mutex> lock(noted.mutex);
    return noted.reports;
}

void Reset()
{
    Noted &noted = TheNoted();
    std::lock_guard<std::mutex> lock(noted.mutex);
    noted.nCount = 0;
    noted.reports.clear();
}

} // namespace GuiThreadCheck
