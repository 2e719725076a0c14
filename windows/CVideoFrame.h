#pragma once

#include "platform/winapi.h"

#include <QFrame>
#include <QPoint>
#include <QString>

// The video surface of a tile: a native child window whose handle the pages give to their decode channels, so
// that the decode library draws the pictures straight into it. It turns the mouse into the tile's vocabulary:
// activation, double click, a rubber-band selection for digital zoom (drawn by the grid on the native window),
// and right-click exits from digital zoom and electronic PTZ. GUI thread only.
class CVideoFrame : public QFrame
{
    Q_OBJECT
public:
    explicit CVideoFrame(QWidget *parent = nullptr);
    ~CVideoFrame() override;

    void SetWndIndex(int nWndIndex) { m_nWndIndex = nWndIndex; }
    int GetWndIndex() const { return m_nWndIndex; }
    // The native window handle, taken once at construction.
    HWND GetHwnd() const { return m_hWnd; }

    void SetBackgroundPic(const QString &strPath);
    void SetPreviewStatus(bool bPreview) { m_bPreview = bPreview; }
    bool GetPreviewStatus() const { return m_bPreview; }
    void SetSelecting(bool bSelecting) { m_bSelecting = bSelecting; }
    bool IsSelecting() const { return m_bSelecting; }
    void SetElect(bool bElect) { m_bElect = bElect; }
    bool IsElect() const { return m_bElect; }

    // The display region applied to this tile on the 0..8192 scale; empty is (0, 0, -1, -1).
    void GetRegion(int &nLeft, int &nTop, int &nRight, int &nBottom) const;
    void SetRegion(int nLeft, int nTop, int nRight, int nBottom);
    void EmptyRegion() { SetRegion(0, 0, -1, -1); }

signals:
    void doubleClicked(int nWndIndex);
    void activeWnd(int nWndIndex);
    void sig_RectanglePoint(void *hWnd, QPoint start, QPoint cur);
    void sig_selectRegion(void *hWnd, QPoint start, QPoint end);
    void quitDigitalZoom(int nWndIndex);
    void quitPTZElect(int nWndIndex);

protected:
    void timerEvent(QTimerEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;

private:
    void StopDragTimer();

    int m_nWndIndex = -1;
    int m_nDragTimerId = 0;
    bool m_bPressed = false;
    bool m_bSelecting = false;
    int m_nHalfWidth = 0;
    int m_nHalfHeight = 0;
    struct Region
    {
        int left = 0;
        int top = 0;
        int right = -1;
        int bottom = -1;
    } m_rcRegion;
    QPoint m_ptPress;
    QPoint m_ptCurrent;
    QPoint m_ptStart;
    HWND m_hWnd = nullptr;
    bool m_bPreview = false;
    bool m_bElect = false;
    QString m_strBackgroundPic;
};
