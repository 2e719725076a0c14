#include "standin/windows/NativeSurface.h"

#include "standin/windows/SurfacePainter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>

#include <map>

namespace {

// Handle to surface, for every widget that has one.
struct Registry
{
    std::mutex mutex;
    std::map<HWND, std::weak_ptr<NativeSurface>> surfaces;
};

Registry &TheRegistry()
{
    static Registry registry;
    return registry;
}

bool OnGuiThread()
{
    const QCoreApplication *pApp = QCoreApplication::instance();
    return pApp && QThread::currentThread() == pApp->thread();
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
    if (!pWidget || !OnGuiThread())
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
    if (!OnGuiThread())
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
    , m_shown(BlankImage(size))
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (image.size() == m_shown.size() && image.format() == m_shown.format()) {
            std::swap(m_shown, image);
        } else {
            // The widget changed its size after the picture was drawn.
            QPainter painter(&m_shown);
            painter.drawImage(m_shown.rect(), image);
        }
        m_bShowing = true;
    }
    RequestRepaint();
}

void NativeSurface::Clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bShowing = false;
        m_shown.fill(Qt::black);
    }
    RequestRepaint();
}

QImage NativeSurface::Shown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bShowing ? m_shown.copy() : QImage();
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
    if (m_pPainter)
        QCoreApplication::postEvent(m_pPainter, new QEvent(static_cast<QEvent::Type>(SurfacePainter::RepaintEventType())));
    else
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
        painter.drawImage(resized.rect(), m_shown);
    }
    m_shown = std::move(resized);
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

bool NativeSurface::Paint(QWidget *pWidget)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bShowing)
        return false;
    QPainter painter(pWidget);
    painter.drawImage(QRect(QPoint(0, 0), pWidget->size()), m_shown);
    return true;
}
