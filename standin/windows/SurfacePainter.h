#pragma once

#include <QObject>

#include <memory>

class NativeSurface;
class QWidget;

// The GUI-thread side of a native surface: an event filter on the widget that paints the surface in the
// widget's paint event, follows its size and handle, and turns repaint requests of other threads into
// QWidget::update. A child of the widget, so it goes with it.
//
// Repaint requests of all surfaces are gathered and handed to the GUI thread together, at most once per
// kRepaintIntervalMs: many decode threads then wake the GUI thread once, and it paints every surface that has a
// new picture in one pass per window, straight into the window's backing store with one painter, and flushes
// them (no paint event a surface). What Qt paints itself (a surface that shows nothing, a window that is not
// exposed, an expose or a resize) still comes through the widget's paint event.
class SurfacePainter : public QObject
{
public:
    static constexpr int kRepaintIntervalMs = 10;

    SurfacePainter(QWidget *pWidget, std::shared_ptr<NativeSurface> pSurface);
    ~SurfacePainter() override;

    const std::shared_ptr<NativeSurface> &Surface() const { return m_pSurface; }

    // Any thread, with the surface's lock held (so the painter lives): the widget is repainted soon. False when
    // no GUI thread takes requests (no application).
    static bool Schedule(SurfacePainter *pPainter);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;

private:
    friend class RepaintScheduler;
    // GUI thread, from the scheduler: whether the surface's picture is painted in the pass of its window (it
    // shows one, and the widget and its window are on screen); else Repaint() has the widget paint itself.
    bool PaintsInPass() const;
    // GUI thread: the scheduled repaint, as a paint event of the widget.
    void Repaint();

    QWidget *m_pWidget;
    std::shared_ptr<NativeSurface> m_pSurface;
};
