#include "standin/windows/NativeSurface.h"

#include "standin/windows/GuiThreadCheck.h"
#include "standin/windows/SurfacePainter.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>

#include <map>

namespace {

// Handle to surface, for every widget that has one.
struct Registry
{
    std::mutex mutex;
    std::map<HWND, std::weak_ptr<NativeSurface>> surfaces;
};

// Never destroyed, as the repaint registry: the decode stand-in's ports, stopped by its own static object at exit,
// may still look a window's surface up then.
Registry &TheRegistry()
{
    static Registry *const pRegistry = new Registry;
    return *pRegistry;
}

QImage BlankImage(const QSize &size)
{
    QImage image(size.isEmpty() ? QSize(1, 1) : size, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

} // namespace

std::shared_ptr<NativeSurface> NativeSurface::Attach(QWidget *pWidget)
{
    if (!pWidget || !GuiThreadCheck::OnGuiThread())
        return nullptr;
    for (QObject *pChild : pWidget->children())
        if (auto *pPainter = dynamic_cast<SurfacePainter *>(pChild))
            return pPainter->Surface();
    pWidget->setAttribute(Qt::WA_NativeWindow);
    const HWND hWnd = reinterpret_cast<HWND>(pWidget->winId());
    std::shared_ptr<NativeSurface> pSurface(
        new NativeSurface(hWnd, pWidget->size() * pWidget->devicePixelRatioF()));
    auto *pPainter = new SurfacePainter(pWidget, pSurface);  // owned by the widget
    {
        std::lock_guard<std::mutex> lock(pSurface->m_mutex);
        pSurface->m_pPainter = pPainter;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.surfaces[hWnd] = pSurface;
    return pSurface;
}

std::shared_ptr<NativeSurface> NativeSurface::Find(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    {
        Registry &registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto it = registry.surfaces.find(hWnd);
        if (it != registry.surfaces.end())
            if (std::shared_ptr<NativeSurface> pSurface = it->second.lock())
                return pSurface;
    }
    if (!GuiThreadCheck::OnGuiThread())
        return nullptr;
    const WId id = reinterpret_cast<WId>(hWnd);
    for (QWidget *pWidget : QApplication::allWidgets())
        if (pWidget->internalWinId() == id)
            return Attach(pWidget);
    return nullptr;
}

int NativeSurface::Count()
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    int n = 0;
    for (const auto &entry : registry.surfaces)
        if (!entry.second.expired())
            ++n;
    return n;
}

NativeSurface::NativeSurface(HWND hWnd, const QSize &size)
    : m_hWnd(hWnd)
    , m_size(size)
    , m_front(BlankImage(size))
{
}

NativeSurface::~NativeSurface() = default;

HWND NativeSurface::Handle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hWnd;
}

QSize NativeSurface::Size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_size;
}

uint64_t NativeSurface::SizeGeneration() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSizeGeneration;
}

bool NativeSurface::HasWidget() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pPainter != nullptr;
}

void NativeSurface::Present(QImage &image)
{
    QSize size = Size();
    if (image.size() != size || image.format() != QImage::Format_RGB32) {
        // The widget changed its size after the picture was drawn.
        QImage scaled = BlankImage(size);
        QPainter painter(&scaled);
        painter.drawImage(scaled.rect(), image);
        painter.end();
        image = std::move(scaled);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The image given back is one the painter no longer reads: an earlier picture never painted, or the
        // front that the last paint replaced.
        m_pending.swap(image);
        m_bPending = true;
        m_bShowing = true;
    }
    RequestRepaint();
}

void NativeSurface::Clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bShowing = false;
        m_bPending = false;
    }
    RequestRepaint();
}

QImage &NativeSurface::DrawTarget()
{
    if (!m_bPending && GuiThreadCheck::OnGuiThread()) {
        // The painter's own thread: nobody reads the front meanwhile.
        if (!m_bShowing)
            m_front.fill(Qt::black);
        return m_front;
    }
    if (!m_bPending) {
        // Another thread draws over what is shown: onto a copy, which becomes the newest picture.
        m_pending = m_bShowing ? m_front.copy() : BlankImage(m_size);
        m_bPending = true;
    } else if (!m_bShowing) {
        m_pending.fill(Qt::black);
    }
    return m_pending;
}

QImage NativeSurface::Shown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bShowing)
        return QImage();
    return (m_bPending ? m_pending : m_front).copy();
}

bool NativeSurface::IsShowing() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bShowing;
}

void NativeSurface::RequestRepaint()
{
    if (m_bRepaintPending.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pPainter || !SurfacePainter::Schedule(m_pPainter))
        m_bRepaintPending = false;
}

void NativeSurface::Resize(const QSize &size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (size == m_size)
        return;
    QImage resized = BlankImage(size);
    if (m_bShowing) {
        QPainter painter(&resized);
        painter.drawImage(resized.rect(), m_bPending ? m_pending : m_front);
    }
    m_front = std::move(resized);
    m_pending = QImage();
    m_bPending = false;
    m_size = size;
    ++m_nSizeGeneration;
}

void NativeSurface::ChangeHandle(HWND hWnd)
{
    HWND hOld = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!hWnd || hWnd == m_hWnd)
            return;
        hOld = m_hWnd;
        m_hWnd = hWnd;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.surfaces.find(hOld);
    if (it != registry.surfaces.end()) {
        std::weak_ptr<NativeSurface> pSelf = it->second;
        registry.surfaces.erase(it);
        registry.surfaces[hWnd] = pSelf;
    }
}

void NativeSurface::WidgetGone()
{
    HWND hWnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pPainter = nullptr;
        hWnd = m_hWnd;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.surfaces.find(hWnd);
    if (it != registry.surfaces.end() && it->second.lock().get() == this)
        registry.surfaces.erase(it);
}

bool NativeSurface::Paint(QPainter &painter, const QRect &target)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bShowing)
            return false;
        if (m_bPending) {
            m_front.swap(m_pending);
            m_bPending = false;
        }
    }
    // Only this thread changes the front, so it is painted without the lock.
    if (m_front.size() == target.size())
        painter.drawImage(target.topLeft(), m_front);
    else
        painter.drawImage(target, m_front);
    return true;
}
