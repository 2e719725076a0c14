#pragma once

#include "platform/winapi.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class QPainter;
class QRect;
class QWidget;
class SurfacePainter;

// The drawing surface of a native window: images of the widget's size that the decode library and the
// drawing contexts draw into, and that the widget shows in its paint event (through an event filter). Only the
// GUI thread touches the widget. Pictures are handed over, not copied: a producer draws into an image of its
// own and swaps it in as the pending picture under a short lock; the paint event swaps the pending picture to
// the front under the same lock and blits the front without it, so no decode thread waits for a paint.
class NativeSurface
{
public:
    // GUI thread: the surface of a widget, made on first use. The widget becomes a native window; its handle is
    // reinterpret_cast<HWND>(widget->winId()).
    static std::shared_ptr<NativeSurface> Attach(QWidget *pWidget);
    // Any thread: the surface of a handle. On the GUI thread a widget with that native handle gets its surface
    // made when it has none yet; elsewhere only surfaces already made are found. Null when there is none.
    static std::shared_ptr<NativeSurface> Find(HWND hWnd);
    // Surfaces whose widget still exists.
    static int Count();

    ~NativeSurface();
    NativeSurface(const NativeSurface &) = delete;
    NativeSurface &operator=(const NativeSurface &) = delete;

    HWND Handle() const;
    // The size of the surface in device pixels, and a number that changes with every size change.
    QSize Size() const;
    uint64_t SizeGeneration() const;
    // False once the widget is gone (drawing still works, nobody sees it).
    bool HasWidget() const;

    // Replaces the picture shown by the image (the image receives the one shown before, to draw the next
    // picture into) and asks for a repaint. An image of another size than the surface is scaled.
    void Present(QImage &image);
    // Nothing is shown any more: the widget paints itself again.
    void Clear();
    // Calls draw(QImage &) with the newest picture under the lock (the drawing contexts of GetWindowDC), then
    // asks for a repaint.
    template <typename F>
    void DrawOnShown(F &&draw)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            draw(DrawTarget());
            m_bShowing = true;
        }
        RequestRepaint();
    }
    // A copy of what the surface shows (null image when nothing is shown).
    QImage Shown() const;
    bool IsShowing() const;

private:
    friend class SurfacePainter;
    friend class RepaintScheduler;
    explicit NativeSurface(HWND hWnd, const QSize &size);
    void RequestRepaint();
    // m_mutex held: the newest picture, as an image the calling thread may draw into.
    QImage &DrawTarget();
    // GUI thread, from the painter.
    void Resize(const QSize &size);
    void ChangeHandle(HWND hWnd);
    void WidgetGone();
    // The newest picture into the rectangle (the widget's, on the painter's device); false when nothing is shown.
    bool Paint(QPainter &painter, const QRect &target);
    void RepaintDone() { m_bRepaintPending = false; }

    mutable std::mutex m_mutex;
    HWND m_hWnd;
    QSize m_size;
    uint64_t m_nSizeGeneration = 0;
    // The front is what the widget paints: the GUI thread replaces or draws into it only under the lock, and
    // reads it without the lock; other threads only read it, under the lock. The pending picture is the newest
    // one not painted yet (m_bPending), else a spare image that the next Present hands back to its producer.
    QImage m_front;
    QImage m_pending;
    bool m_bPending = false;
    bool m_bShowing = false;
    SurfacePainter *m_pPainter = nullptr;  // lives on the GUI thread; null once the widget is gone
    std::atomic<bool> m_bRepaintPending{false};
};
