#include "standin/windows/SurfacePainter.h"

#include "standin/windows/NativeSurface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <mutex>
#include <vector>

// Lives on the GUI thread, a child of the application: takes the painters with a new picture and repaints
// them together.
class RepaintScheduler : public QObject
{
public:
    explicit RepaintScheduler(QObject *pParent);
    ~RepaintScheduler() override;

    static int EventType();

protected:
    bool event(QEvent *pEvent) override;

private:
    void Flush();

    QTimer m_timer;
    QElapsedTimer m_sinceFlush;
};

namespace {

// The painters waiting for a repaint, shared by every thread.
struct Requests
{
    std::mutex mutex;
    std::vector<SurfacePainter *> painters;
    bool bPosted = false;
    RepaintScheduler *pScheduler = nullptr;
};

// Never destroyed: the decode stand-in's ports, stopped by its own static object at exit, still ask for
// repaints then.
Requests &TheRequests()
{
    static Requests *const pRequests = new Requests;
    return *pRequests;
}

} // namespace

RepaintScheduler::RepaintScheduler(QObject *pParent)
    : QObject(pParent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { Flush(); });
}

RepaintScheduler::~RepaintScheduler()
{
    Requests &requests = TheRequests();
    std::lock_guard<std::mutex> lock(requests.mutex);
    requests.pScheduler = nullptr;
    requests.painters.clear();
    requests.bPosted = false;
}

int RepaintScheduler::EventType()
{
    static const int nType = QEvent::registerEventType();
    return nType;
}

bool RepaintScheduler::event(QEvent *pEvent)
{
    if (pEvent->type() != EventType())
        return QObject::event(pEvent);
    // The last pass was a moment ago: the next one waits for the rest of the interval, gathering more.
    const qint64 nSince = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : SurfacePainter::kRepaintIntervalMs;
    if (nSince >= SurfacePainter::kRepaintIntervalMs)
        Flush();
    else if (!m_timer.isActive())
        m_timer.start(static_cast<int>(SurfacePainter::kRepaintIntervalMs - nSince));
    return true;
}

void RepaintScheduler::Flush()
{
    std::vector<SurfacePainter *> painters;
    {
        Requests &requests = TheRequests();
        std::lock_guard<std::mutex> lock(requests.mutex);
        painters.swap(requests.painters);
        requests.bPosted = false;
    }
    m_sinceFlush.start();
    // A painter that went meanwhile took itself off the list on this same thread.
    for (SurfacePainter *pPainter : painters)
        pPainter->Repaint();
}

SurfacePainter::SurfacePainter(QWidget *pWidget, std::shared_ptr<NativeSurface> pSurface)
    : QObject(pWidget)
    , m_pWidget(pWidget)
    , m_pSurface(std::move(pSurface))
{
    pWidget->installEventFilter(this);
    Requests &requests = TheRequests();
    std::lock_guard<std::mutex> lock(requests.mutex);
    if (!requests.pScheduler && QCoreApplication::instance())
        requests.pScheduler = new RepaintScheduler(QCoreApplication::instance());
}

SurfacePainter::~SurfacePainter()
{
    m_pSurface->WidgetGone();
    Requests &requests = TheRequests();
    std::lock_guard<std::mutex> lock(requests.mutex);
    requests.painters.erase(std::remove(requests.painters.begin(), requests.painters.end(), this),
                            requests.painters.end());
}

bool SurfacePainter::Schedule(SurfacePainter *pPainter)
{
    Requests &requests = TheRequests();
    std::lock_guard<std::mutex> lock(requests.mutex);
    if (!requests.pScheduler)
        return false;
    requests.painters.push_back(pPainter);
    if (!requests.bPosted) {
        requests.bPosted = true;
        QCoreApplication::postEvent(requests.pScheduler,
                                    new QEvent(static_cast<QEvent::Type>(RepaintScheduler::EventType())));
    }
    return true;
}

void SurfacePainter::Repaint()
{
    m_pSurface->RepaintDone();
    // A picture covers the whole widget: nothing beneath it is painted first.
    const bool bShowing = m_pSurface->IsShowing();
    if (m_pWidget->testAttribute(Qt::WA_OpaquePaintEvent) != bShowing)
        m_pWidget->setAttribute(Qt::WA_OpaquePaintEvent, bShowing);
    m_pWidget->update();
}

bool SurfacePainter::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    if (pWatched == m_pWidget) {
        switch (pEvent->type()) {
        case QEvent::Paint:
            // While the surface shows a picture it is the widget's whole content.
            return m_pSurface->Paint(m_pWidget);
        case QEvent::Resize:
            m_pSurface->Resize(m_pWidget->size() * m_pWidget->devicePixelRatioF());
            break;
        case QEvent::WinIdChange:
            m_pSurface->ChangeHandle(reinterpret_cast<HWND>(m_pWidget->internalWinId()));
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(pWatched, pEvent);
}
