#pragma once

#include <QObject>

#include <functional>

// Watches tile surfaces (CVideoFrame) on the GUI thread: each resize of one calls onResize with its window
// index. A surface is watched once it has this object installed as its event filter.
class SurfaceSizeWatch : public QObject
{
public:
    explicit SurfaceSizeWatch(std::function<void(int)> onResize);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;

private:
    std::function<void(int)> m_onResize;
};
