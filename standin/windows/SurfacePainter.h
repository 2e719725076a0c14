#pragma once

#include <QObject>

#include <memory>

class NativeSurface;
class QWidget;

// The GUI-thread side of a native surface: an event filter on the widget that paints the surface in the
// widget's paint event, follows its size and handle, and turns repaint requests of other threads into
// QWidget::update. A child of the widget, so it goes with it.
class SurfacePainter : public QObject
{
public:
    SurfacePainter(QWidget *pWidget, std::shared_ptr<NativeSurface> pSurface);
    ~SurfacePainter() override;

    const std::shared_ptr<NativeSurface> &Surface() const { return m_pSurface; }

    // The event type a repaint request is posted with.
    static int RepaintEventType();

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;
    bool event(QEvent *pEvent) override;

private:
    QWidget *m_pWidget;
    std::shared_ptr<NativeSurface> m_pSurface;
};
