#pragma once

#include "platform/winapi.h"

#include <QColor>
#include <QFrame>
#include <QPoint>

class CScaleSlider;
class CVideoFrame;
class QHBoxLayout;

// One cell of a tile grid: a one-pixel highlight ring around an inner black frame that holds the video surface
// at the size and aspect of the fit mode, the optional two-lens zoom slider, and the surface's signals passed
// on. GUI thread only.
class CVideoWnd : public QFrame
{
    Q_OBJECT
public:
    // Fit modes.
    enum FitMode : int { FIT_FILL = 0, FIT_SOURCE = 1, FIT_4_3 = 2, FIT_16_9 = 3 };

    CVideoWnd(QWidget *parent, int nWndIndex);
    ~CVideoWnd() override;

    int GetWndIndex() const { return m_nWndIndex; }
    // The surface's native handle, the window the decode library draws into.
    HWND GetVideoHwnd() const { return m_hVideoWnd; }
    CVideoFrame *GetVideoFrame() const { return m_pVideoFrame; }

    void SetSelected(bool bSelected);
    bool IsSelected() const { return m_bSelected; }
    void SetSkin(const QString &strSkin);
    QColor GetBorderColor() const { return m_clrBorder; }

    void SetFitMode(int nMode);
    int GetFitMode() const { return m_nFitMode; }
    void SetVideoSize(int nWidth, int nHeight);
    void RefitVideoFrame();

    void ShowScaleSlider(bool bShow, float fMaxTimes);
    void SetScaleValue(float fRatio);
    CScaleSlider *GetScaleSlider() const { return m_pScaleSlider; }

    void SetBackgroundPic(const QString &strPath);
    void SetPreviewStatus(bool bPreview);
    bool GetPreviewStatus() const;
    void SetZoomSelect(bool bSelect);
    bool IsZoomSelect() const;
    void SetPTZElectStatus(bool bElect);
    bool GetPTZElectStatus() const;
    void GetRegion(int &nLeft, int &nTop, int &nRight, int &nBottom) const;
    void SetRegion(int nLeft, int nTop, int nRight, int nBottom);

signals:
    void doubleClicked(int nWndIndex);
    void activeWnd(int nWndIndex);
    void sig_RectanglePoint(void *hWnd, QPoint start, QPoint cur);
    void sig_selectRegion(void *hWnd, QPoint start, QPoint end);
    void quitDigitalZoom(int nWndIndex);
    void quitPTZElect(int nWndIndex);
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;

private:
    void PlaceScaleSlider();
    void EmitScaleTimes();

    CVideoFrame *m_pVideoFrame = nullptr;
    QFrame *m_pPlayFrame = nullptr;
    HWND m_hVideoWnd = nullptr;
    bool m_bSelected = false;
    QColor m_clrBorder;
    CScaleSlider *m_pScaleSlider = nullptr;
    int m_nWndIndex;
    float m_fMaxTimes = 8.0f;
    int m_nFitMode = FIT_FILL;
    int m_nVideoWidth = -1;
    int m_nVideoHeight = -1;
    QHBoxLayout *m_pPlayLayout = nullptr;
};
