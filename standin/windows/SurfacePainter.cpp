#include "standin/windows/SurfacePainter.h"

#include "standin/windows/NativeSurface.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <map>
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
    // The pictures of the window's surfaces painted with one painter into its backing store, then flushed.
    static void PaintWindow(QWidget *pWindow, const std::vector<SurfacePainter *> &painters);

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
    std::map<QWidget *, std::vector<SurfacePainter *>> byWindow;
    for (SurfacePainter *pPainter : painters) {
        if (pPainter->PaintsInPass())
            byWindow[pPainter->m_pWidget->window()].push_back(pPainter);
        else
            pPainter->Repaint();
    }
    for (const auto &entry : byWindow)
        PaintWindow(entry.first, entry.second);
}

void RepaintScheduler::PaintWindow(QWidget *pWindow, const std::vector<SurfacePainter *> &painters)
{
    QBackingStore *pStore = pWindow->backingStore();
    if (!pStore || !pStore->paintDevice()) {
        for (SurfacePainter *pPainter : painters)
            pPainter->Repaint();
        return;
    }
    // What of each surface shows (not under its window's edges or an opaque widget above it), where it lies in
    // the backing store.
    struct Part
    {
        SurfacePainter *pPainter;
        QPoint offset;
        QRegion visible;
    };
    std::vector<Part> parts;
    QRegion all;
    for (SurfacePainter *pPainter : painters) {
        pPainter->m_pSurface->RepaintDone();
        QWidget *pWidget = pPainter->m_pWidget;
        if (!pWidget->testAttribute(Qt::WA_OpaquePaintEvent))
            pWidget->setAttribute(Qt::WA_OpaquePaintEvent, true);
        Part part{pPainter, pWidget->mapTo(pWindow, QPoint(0, 0)), pWidget->visibleRegion()};
        if (part.visible.isEmpty())
            continue;
        for (const QRect &rect : part.visible)
            all += rect.translated(part.offset);
        parts.push_back(std::move(part));
    }
    if (parts.empty())
        return;
    std::vector<SurfacePainter *> cleared;
    pStore->beginPaint(all);
    {
        QPainter painter(pStore->paintDevice());
        for (const Part &part : parts) {
            const QRect target(part.offset, part.pPainter->m_pWidget->size());
            // Most tiles show whole: no clip to work through.
            if (part.visible.rectCount() == 1 && part.visible.boundingRect().size() == target.size())
                painter.setClipping(false);
            else
                painter.setClipRegion(part.visible.translated(part.offset));
            // A surface cleared since it was looked at paints itself.
            if (!part.pPainter->m_pSurface->Paint(painter, target))
                cleared.push_back(part.pPainter);
        }
    }
    pStore->endPaint();
    for (const Part &part : parts) {
        QWindow *pNative = part.pPainter->m_pWidget->windowHandle();
        if (pNative)
            pStore->flush(part.visible, pNative, part.offset);
        else
            pStore->flush(part.visible.translated(part.offset), pWindow->windowHandle());
    }
    for (SurfacePainter *pPainter : cleared)
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

bool SurfacePainter::PaintsInPass() const
{
    QWidget *pWindow = m_pWidget->window();
    const QWindow *pHandle = pWindow->windowHandle();
    return m_pSurface->IsShowing() && m_pWidget->isVisible() && pHandle && pHandle->isExposed();
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
        case QEvent::Paint: {
            // While the surface shows a picture it is the widget's whole content.
            QPainter painter(m_pWidget);
            return m_pSurface->Paint(painter, QRect(QPoint(0, 0), m_pWidget->size()));
        }
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
