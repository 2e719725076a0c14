#include "standin/windows/SurfacePainter.h"

#include "standin/windows/NativeSurface.h"

#include <QEvent>
#include <QWidget>

SurfacePainter::SurfacePainter(QWidget *pWidget, std::shared_ptr<NativeSurface> pSurface)
    : QObject(pWidget)
    , m_pWidget(pWidget)
    , m_pSurface(std::move(pSurface))
{
    pWidget->installEventFilter(this);
}

SurfacePainter::~SurfacePainter() { m_pSurface->WidgetGone(); }

int SurfacePainter::RepaintEventType()
{
    static const int nType = QEvent::registerEventType();
    return nType;
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

bool SurfacePainter::event(QEvent *pEvent)
{
    if (pEvent->type() == RepaintEventType()) {
        m_pSurface->RepaintDone();
        m_pWidget->update();
        return true;
    }
    return QObject::event(pEvent);
}
