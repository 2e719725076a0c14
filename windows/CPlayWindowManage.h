#pragma once

#include "platform/winapi.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <memory>
#include <type_traits>

class CVideoWnd;
class QFrame;
class QGridLayout;

// Tiles per page, windows 0..63.
constexpr int MAX_WND_NUM = 64;

// The tile grid of one page: 64 tiles, of which a split shows the first n in a square grid; one current
// (highlighted) tile; a tile enlarged to the whole grid by double click and back; a rubber-band selection on a
// tile turned into a display region on the 0..8192 scale, and the band drawn on the tile's native window; and
// per-window settings for one tile or for all. GUI thread only.
//
// Window indexes: the setters setPreviewStatus, SetFitMode, UpdateWnd, SetZoomSelect and SetPTZElectStatus act
// on every tile for an index outside 0..63. The operations meant for one window (SetVideoSize,
// ShowScaleSlider, SetScaleValue, onCurWndIndexChange, onWndDoubleClicked) refuse such an index and change
// nothing; GetWndHandle gives null for it.
class CPlayWindowManage : public QWidget
{
    Q_OBJECT
public:
    // m_nSplitState values.
    enum SplitState : int { SPLIT_NONE = 0, SPLIT_ONE = 1, SPLIT_MANY = 2, SPLIT_ENLARGED = 3 };

    explicit CPlayWindowManage(QWidget *parent = nullptr);
    ~CPlayWindowManage() override;

    // Lays out the first nCount tiles (1..64); false, with nothing changed, for another count.
    bool SetSplit(int nCount);
    int GetCurWndIndex() const { return m_nCurWndIndex; }
    int GetShowWndNum() const { return m_nShowWndNum; }
    int GetSplitState() const { return m_nSplitState; }
    bool IsWndEnlarged() const { return m_bWndEnlarged; }
    // The tile's surface handle, to bind a decode channel to; null outside 0..63.
    HWND GetWndHandle(int nIndex) const;
    // The tile itself; null outside 0..63.
    CVideoWnd *GetVideoWnd(int nIndex) const;

    void SetSkin(const QString &strSkin);
    void SetBackgroundPic(const QString &strPath);
    void ClearSelection();
    void RestoreSelection();

    void setPreviewStatus(int nIndex, bool bPreview);
    void SetFitMode(int nIndex, int nMode);
    bool SetVideoSize(int nIndex, int nWidth, int nHeight);
    void UpdateWnd(int nIndex);
    void SetZoomSelect(int nIndex, bool bSelect);
    bool IsZoomSelect() const;
    void ToggleZoomSelect();
    void SetPTZElectStatus(int nIndex, bool bElect);
    bool ShowScaleSlider(int nIndex, bool bShow, float fMaxTimes);
    bool SetScaleValue(int nIndex, float fRatio);

signals:
    void DigitalZoomSig(QPoint start, QPoint end, int nWndIndex);
    void curWndIndexSig(int nWndIndex);
    void quitDigitalZoom(int nWndIndex);
    void quitPTZElect(int nWndIndex);
    void sig_GetScaleTwoLensAbility(int nWndIndex);
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

public slots:
    void onCurWndIndexChange(int nIndex);
    void onWndDoubleClicked(int nIndex);
    void onSelectRegion(void *hwnd, QPoint start, QPoint end);
    void onRectanglePoint(void *hwnd, QPoint start, QPoint end);
    void onVideoSizeChange(int nIndex);

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    static bool IsWndIndex(int nIndex) { return nIndex >= 0 && nIndex < MAX_WND_NUM; }
    // The tile of an operation meant for one window; null, with the refusal logged, outside 0..63.
    CVideoWnd *OneWindow(int nIndex, const char *pTag) const;
    // Calls apply(tile) for the tile of the index, or for every tile when the index is outside 0..63.
    template <typename F>
    void ForWindows(int nIndex, F &&apply);
    void NewGridLayout();

    struct PenDeleter
    {
        void operator()(HPEN hPen) const;
    };

    std::array<CVideoWnd *, MAX_WND_NUM> m_pVideoWnds{};
    QFrame *m_pGridFrame = nullptr;
    std::unique_ptr<std::remove_pointer_t<HPEN>, PenDeleter> m_pRubberPen;
    QGridLayout *m_pGridLayout = nullptr;
    int m_nCurWndIndex = 0;
    int m_nShowWndNum = 0;
    bool m_bWndEnlarged = false;
    int m_nSplitState = SPLIT_NONE;
};
