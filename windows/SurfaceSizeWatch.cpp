#include "windows/SurfaceSizeWatch.h"

#include "windows/CVideoFrame.h"

#include <QEvent>

SurfaceSizeWatch::SurfaceSizeWatch(std::function<void(int)> onResize)
    : m_onResize(std::move(onResize))
{
}

bool SurfaceSizeWatch::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    if (pEvent->type() == QEvent::Resize)
        if (auto *pFrame = qobject_cast<CVideoFrame *>(pWatched))
            m_onResize(pFrame->GetWndIndex());
    return false;
}
