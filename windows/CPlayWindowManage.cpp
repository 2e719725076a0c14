#include "windows/CPlayWindowManage.h"

#include "device/CDecodeChannel.h"
#include "runtime/LightWeightLog.h"
#include "windows/CVideoWnd.h"

#include <QFrame>
#include <QGridLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

CPlayWindowManage::CPlayWindowManage(QWidget *parent)
    : QWidget(parent)
{
    auto *pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    m_pGridFrame = new QFrame(this);
    m_pGridFrame->setObjectName("VideoFrame");
    pLayout->addWidget(m_pGridFrame);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    NewGridLayout();

    for (int i = 0; i < MAX_WND_NUM; ++i) {
        CVideoWnd *pWnd = new CVideoWnd(m_pGridFrame, i);
        // No tile is placed until the owning page chooses a split.
        pWnd->hide();
        connect(pWnd, &CVideoWnd::activeWnd, this, &CPlayWindowManage::onCurWndIndexChange);
        connect(pWnd, &CVideoWnd::doubleClicked, this, &CPlayWindowManage::onWndDoubleClicked);
        connect(pWnd, &CVideoWnd::sig_selectRegion, this, &CPlayWindowManage::onSelectRegion);
        connect(pWnd, &CVideoWnd::sig_RectanglePoint, this, &CPlayWindowManage::onRectanglePoint);
        connect(pWnd, &CVideoWnd::quitDigitalZoom, this, &CPlayWindowManage::quitDigitalZoom);
        connect(pWnd, &CVideoWnd::quitPTZElect, this, &CPlayWindowManage::quitPTZElect);
        connect(pWnd, &CVideoWnd::sig_SetScaleTwoLensTimes, this, &CPlayWindowManage::sig_SetScaleTwoLensTimes);
        m_pVideoWnds[static_cast<size_t>(i)] = pWnd;
    }
}

CPlayWindowManage::~CPlayWindowManage() = default;

void CPlayWindowManage::PenDeleter::operator()(HPEN hPen) const { DeleteObject(hPen); }

CVideoWnd *CPlayWindowManage::OneWindow(int nIndex, const char *pTag) const
{
    if (IsWndIndex(nIndex))
        return m_pVideoWnds[static_cast<size_t>(nIndex)];
    LOGW(QString("window index %1 is outside 0-%2: refused").arg(nIndex).arg(MAX_WND_NUM - 1), pTag);
    return nullptr;
}

template <typename F>
void CPlayWindowManage::ForWindows(int nIndex, F &&apply)
{
    if (IsWndIndex(nIndex)) {
        apply(m_pVideoWnds[static_cast<size_t>(nIndex)]);
        return;
    }
    for (CVideoWnd *pWnd : m_pVideoWnds)
        apply(pWnd);
}

void CPlayWindowManage::NewGridLayout()
{
    delete m_pGridLayout;
    m_pGridLayout = new QGridLayout(m_pGridFrame);
    m_pGridLayout->setContentsMargins(0, 0, 0, 0);
    m_pGridLayout->setSpacing(0);
}

bool CPlayWindowManage::SetSplit(int nCount)
{
    if (nCount < 1 || nCount > MAX_WND_NUM) {
        LOGW(QString("tile count %1 is outside 1-%2: refused").arg(nCount).arg(MAX_WND_NUM),
             "CPlayWindowManage::SetSplit");
        return false;
    }
    for (CVideoWnd *pWnd : m_pVideoWnds)
        pWnd->hide();
    NewGridLayout();
    if (nCount == 1) {
        m_nSplitState = SPLIT_ONE;
        emit sig_GetScaleTwoLensAbility(0);
    } else {
        m_nSplitState = SPLIT_MANY;
    }
    const int nCols = static_cast<int>(std::sqrt(static_cast<double>(nCount)));
    for (int i = 0; i < nCount; ++i)
        m_pGridLayout->addWidget(m_pVideoWnds[static_cast<size_t>(i)], i / nCols, i % nCols);
    for (int i = 0; i < MAX_WND_NUM; ++i)
        m_pVideoWnds[static_cast<size_t>(i)]->setVisible(i < nCount);
    m_nShowWndNum = nCount;
    for (int i = 0; i < MAX_WND_NUM; ++i)
        m_pVideoWnds[static_cast<size_t>(i)]->SetSelected(i == 0);
    m_nCurWndIndex = 0;
    return true;
}

HWND CPlayWindowManage::GetWndHandle(int nIndex) const
{
    return IsWndIndex(nIndex) ? m_pVideoWnds[static_cast<size_t>(nIndex)]->GetVideoHwnd() : nullptr;
}

CVideoWnd *CPlayWindowManage::GetVideoWnd(int nIndex) const
{
    return IsWndIndex(nIndex) ? m_pVideoWnds[static_cast<size_t>(nIndex)] : nullptr;
}

void CPlayWindowManage::SetSkin(const QString &strSkin)
{
    if (strSkin == "Black")
        m_pGridFrame->setStyleSheet("#VideoFrame{background-color:rgb(43, 43, 43);}");
    else if (strSkin == "O53")
        m_pGridFrame->setStyleSheet("#VideoFrame{background-color:rgb(24, 39, 58);}");
    else
        m_pGridFrame->setStyleSheet("#VideoFrame{background-color:rgb(255, 255, 255);}");
    for (CVideoWnd *pWnd : m_pVideoWnds)
        pWnd->SetSkin(strSkin);
}

void CPlayWindowManage::SetBackgroundPic(const QString &strPath) { m_pVideoWnds[0]->SetBackgroundPic(strPath); }

void CPlayWindowManage::ClearSelection()
{
    for (CVideoWnd *pWnd : m_pVideoWnds)
        pWnd->SetSelected(false);
}

void CPlayWindowManage::RestoreSelection()
{
    for (int i = 0; i < MAX_WND_NUM; ++i)
        m_pVideoWnds[static_cast<size_t>(i)]->SetSelected(i == m_nCurWndIndex);
}

void CPlayWindowManage::setPreviewStatus(int nIndex, bool bPreview)
{
    LOGN(QString("wnd:%1 preview:%2").arg(nIndex).arg(bPreview ? 1 : 0), "CPlayWindowManage::setPreviewStatus");
    ForWindows(nIndex, [&](CVideoWnd *pWnd) { pWnd->SetPreviewStatus(bPreview); });
}

void CPlayWindowManage::SetFitMode(int nIndex, int nMode)
{
    // Every tile fills, whatever the mode asked for.
    const int nTileMode = IsWndIndex(nIndex) ? nMode : -1;
    ForWindows(nIndex, [&](CVideoWnd *pWnd) { pWnd->SetFitMode(nTileMode); });
}

bool CPlayWindowManage::SetVideoSize(int nIndex, int nWidth, int nHeight)
{
    CVideoWnd *pWnd = OneWindow(nIndex, "CPlayWindowManage::SetVideoSize");
    if (pWnd)
        pWnd->SetVideoSize(nWidth, nHeight);
    return pWnd != nullptr;
}

void CPlayWindowManage::UpdateWnd(int nIndex)
{
    ForWindows(nIndex, [](CVideoWnd *pWnd) { pWnd->update(); });
}

void CPlayWindowManage::SetZoomSelect(int nIndex, bool bSelect)
{
    ForWindows(nIndex, [&](CVideoWnd *pWnd) { pWnd->SetZoomSelect(bSelect); });
}

bool CPlayWindowManage::IsZoomSelect() const { return m_pVideoWnds[static_cast<size_t>(m_nCurWndIndex)]->IsZoomSelect(); }

void CPlayWindowManage::ToggleZoomSelect()
{
    CVideoWnd *pWnd = m_pVideoWnds[static_cast<size_t>(m_nCurWndIndex)];
    pWnd->SetZoomSelect(!pWnd->IsZoomSelect());
}

void CPlayWindowManage::SetPTZElectStatus(int nIndex, bool bElect)
{
    ForWindows(nIndex, [&](CVideoWnd *pWnd) { pWnd->SetPTZElectStatus(bElect); });
}

bool CPlayWindowManage::ShowScaleSlider(int nIndex, bool bShow, float fMaxTimes)
{
    CVideoWnd *pWnd = OneWindow(nIndex, "CPlayWindowManage::ShowScaleSlider");
    if (pWnd)
        pWnd->ShowScaleSlider(bShow, fMaxTimes);
    return pWnd != nullptr;
}

bool CPlayWindowManage::SetScaleValue(int nIndex, float fRatio)
{
    CVideoWnd *pWnd = OneWindow(nIndex, "CPlayWindowManage::SetScaleValue");
    if (pWnd)
        pWnd->SetScaleValue(fRatio);
    return pWnd != nullptr;
}

void CPlayWindowManage::onCurWndIndexChange(int nIndex)
{
    const char *pTag = "CPlayWindowManage::onCurWndIndexChange";
    LOGN(QString("onCurWndIndexChange index=%1 curIndex=%2").arg(nIndex).arg(m_nCurWndIndex), pTag);
    if (!OneWindow(nIndex, pTag) || nIndex == m_nCurWndIndex)
        return;
    if (IsWndIndex(m_nCurWndIndex)) {
        m_pVideoWnds[static_cast<size_t>(m_nCurWndIndex)]->SetSelected(false);
        m_pVideoWnds[static_cast<size_t>(nIndex)]->SetSelected(true);
    }
    m_nCurWndIndex = nIndex;
    emit curWndIndexSig(nIndex);
}

void CPlayWindowManage::onWndDoubleClicked(int nIndex)
{
    const char *pTag = "CPlayWindowManage::onWndDoubleClicked";
    LOGN("onWndDoubleClicked", pTag);
    CVideoWnd *pWnd = OneWindow(nIndex, pTag);
    if (!pWnd || m_nSplitState == SPLIT_ONE)
        return;
    const bool bLeaving = m_bWndEnlarged;
    m_bWndEnlarged = !m_bWndEnlarged;
    if (bLeaving) {
        m_nSplitState = SPLIT_MANY;
        SetSplit(m_nShowWndNum);
        m_pVideoWnds[static_cast<size_t>(m_nCurWndIndex)]->SetSelected(false);
        pWnd->SetSelected(true);
        if (pWnd->GetFitMode() == CVideoWnd::FIT_SOURCE)
            pWnd->RefitVideoFrame();
        m_nCurWndIndex = nIndex;
    } else {
        NewGridLayout();
        m_pGridLayout->addWidget(pWnd, 0, 0);
        pWnd->show();
        m_nSplitState = SPLIT_ENLARGED;
        for (CVideoWnd *pOther : m_pVideoWnds)
            if (pOther != pWnd)
                pOther->hide();
        emit sig_GetScaleTwoLensAbility(nIndex);
        onCurWndIndexChange(nIndex);
    }
    update();
}

void CPlayWindowManage::onSelectRegion(void *hwnd, QPoint start, QPoint end)
{
    const QWidget *pSurface = QWidget::find(reinterpret_cast<WId>(hwnd));
    if (!pSurface || pSurface->width() <= 0 || pSurface->height() <= 0) {
        LOGW("no surface of that size to select on", "CPlayWindowManage::onSelectRegion");
        return;
    }
    const int FW = pSurface->width();
    const int FH = pSurface->height();
    const int nLeft = std::min(start.x(), end.x());
    const int nRight = std::max(start.x(), end.x());
    const int nTop = std::min(start.y(), end.y());
    const int nBottom = std::max(start.y(), end.y());

    CVideoWnd *pWnd = m_pVideoWnds[static_cast<size_t>(m_nCurWndIndex)];
    int rl = 0, rt = 0, rr = -1, rb = -1;
    pWnd->GetRegion(rl, rt, rr, rb);
    const int RW = rr - rl + 1;
    const int RH = rb - rt + 1;
    int nNewLeft, nNewTop, nNewRight, nNewBottom;
    if (RW != 0 && RH != 0) {
        // A zoom is applied already: the selection refines it.
        nNewLeft = rl + nLeft * RW / FW;
        nNewRight = nNewLeft + (nRight - nLeft + 1) * RW / FW;
        nNewTop = rt + nTop * RH / FH;
        nNewBottom = nNewTop + (nBottom - nTop + 1) * RH / FH;
    } else {
        nNewLeft = nLeft * DISPLAY_REGION_SCALE / FW;
        nNewRight = nRight * DISPLAY_REGION_SCALE / FW;
        nNewTop = nTop * DISPLAY_REGION_SCALE / FH;
        nNewBottom = nBottom * DISPLAY_REGION_SCALE / FH;
    }
    if (nNewLeft >= nNewRight || nNewTop >= nNewBottom) {
        nNewLeft = 0;
        nNewTop = 0;
        nNewRight = DISPLAY_REGION_SCALE;
        nNewBottom = DISPLAY_REGION_SCALE;
    }
    pWnd->SetRegion(nNewLeft, nNewTop, nNewRight, nNewBottom);
    emit DigitalZoomSig(QPoint(nNewLeft, nNewTop), QPoint(nNewRight, nNewBottom), m_nCurWndIndex);
}

void CPlayWindowManage::onRectanglePoint(void *hwnd, QPoint start, QPoint end)
{
    const HWND hWnd = static_cast<HWND>(hwnd);
    HDC hDC = GetWindowDC(hWnd);
    if (!hDC)
        return;
    if (!m_pRubberPen)
        m_pRubberPen.reset(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    HGDIOBJ hOld = SelectObject(hDC, m_pRubberPen.get());
    MoveToEx(hDC, start.x(), start.y(), nullptr);
    LineTo(hDC, start.x(), end.y());
    LineTo(hDC, end.x(), end.y());
    LineTo(hDC, end.x(), start.y());
    LineTo(hDC, start.x(), start.y());
    if (hOld)
        SelectObject(hDC, hOld);
    ReleaseDC(hWnd, hDC);
}

void CPlayWindowManage::onVideoSizeChange(int nIndex)
{
    SetFitMode(nIndex, CVideoWnd::FIT_SOURCE);
}

void CPlayWindowManage::paintEvent(QPaintEvent *pEvent)
{
    // The grid frame's style sheet gives the background.
    Q_UNUSED(pEvent);
}
