// The live page's picture operations: digital zoom, electronic PTZ, the smart-rule overlay and the two-lens scale.

#include "windows/CRealPlayWidget.h"

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "runtime/LightWeightLog.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr RECT kWholePicture{0, 0, DISPLAY_REGION_SCALE, DISPLAY_REGION_SCALE};

bool SameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Pen of the overlay: 4 pixels, the colour reference 0x00FF0000.
constexpr int kRulePenWidth = 4;
constexpr COLORREF kRulePenColour = 0x00FF0000;

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Digital zoom.

void CRealPlayWidget::OnDigitalZoom(QPoint start, QPoint end, int nWndIndex)
{
    LOGN(QString("OnDigitalZoom:nWndIndex[%1]").arg(nWndIndex), "CRealPlayWidget::OnDigitalZoom");
    const int nChannel = GetWndChannel(nWndIndex);
    CDecodeChannel *pChannel = ExistingChannel(nChannel);
    if (!pChannel)
        return;
    pChannel->SetDisplayRegionNoLog(start.x(), start.y(), end.x(), end.y(), true);
    m_bDigitalZoom[static_cast<size_t>(nChannel)] = true;
}

void CRealPlayWidget::OnQuitDigitalZoom(int nWndIndex)
{
    LOGN(QString("OnQuitDigitalZoom index :%1").arg(nWndIndex), "CRealPlayWidget::OnQuitDigitalZoom");
    const int nChannel = GetWndChannel(nWndIndex);
    CDecodeChannel *pChannel = ExistingChannel(nChannel);
    if (!pChannel)
        return;
    pChannel->SetDisplayRegionNoLog(0, 0, 0, 0, false);
    m_bDigitalZoom[static_cast<size_t>(nChannel)] = false;
}

// ---------------------------------------------------------------------------------------------------------
// Electronic PTZ.

bool CRealPlayWidget::ResetPTZElect(int nChannel)
{
    if (!IsIndex(nChannel))
        return false;
    PTZElectInfo &info = m_stPTZElect[static_cast<size_t>(nChannel)];
    const bool bChanged = info.nEnabled || !SameRect(info.rect, kWholePicture);
    info.nEnabled = 0;
    info.rect = kWholePicture;
    info.presets.clear();
    return bChanged;
}

bool CRealPlayWidget::PTZRectInPicture(int64_t nLeft, int64_t nTop, int64_t nRight, int64_t nBottom, RECT &rect)
{
    // Worked out in 64 bits: a step may be any int, of either sign.
    if (nLeft < 0 || nTop < 0 || nRight > DISPLAY_REGION_SCALE || nBottom > DISPLAY_REGION_SCALE || nLeft >= nRight ||
        nTop >= nBottom)
        return false;
    rect = RECT{static_cast<int32_t>(nLeft), static_cast<int32_t>(nTop), static_cast<int32_t>(nRight),
                static_cast<int32_t>(nBottom)};
    return true;
}

bool CRealPlayWidget::SetPTZRegion(CDecodeChannel *pChannel, const RECT &rect)
{
    return pChannel->SetDisplayRegion(&rect, true) != 0;
}

CDecodeChannel *CRealPlayWidget::PTZStepChannel(int nChannel, const char *pTag)
{
    const int nWndIndex = GetCurWndIndex();
    if (!IsIndex(nWndIndex) || !IsIndex(nChannel))
        return nullptr;
    if (GetWndChannel(nWndIndex) != nChannel) {
        LOGN(QString("%1 nWndIndex=%2 Channel=%3").arg(pTag).arg(nWndIndex).arg(nChannel),
             QString("CRealPlayWidget::%1").arg(pTag));
        return nullptr;
    }
    return ExistingChannel(nChannel);
}

bool CRealPlayWidget::PTZElectOpen(int nChannel, int nWndIndex)
{
    const QString strTag = "CRealPlayWidget::PTZElectOpen";
    if (!IsIndex(nChannel))
        return false;
    PTZElectInfo &info = m_stPTZElect[static_cast<size_t>(nChannel)];
    if (info.nEnabled)
        return true;
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    if (!IsIndex(nWndIndex))
        return false;
    if (GetWndChannel(nWndIndex) != nChannel) {
        LOGN(QString("PTZElectOpen nWndIndex=%1 Channel=%2").arg(nWndIndex).arg(nChannel), strTag);
        return false;
    }
    CDecodeChannel *pChannel = ExistingChannel(nChannel);
    if (!pChannel)
        return false;
    info.rect = kWholePicture;
    const bool bSet = SetPTZRegion(pChannel, info.rect);
    m_pPlayWindowManage->setPreviewStatus(nWndIndex, false);
    m_pPlayWindowManage->SetPTZElectStatus(nWndIndex, true);
    info.nEnabled = 1;
    return bSet;
}

void CRealPlayWidget::OnQuitPTZElect(int nWndIndex)
{
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    const int nChannel = GetWndChannel(nWndIndex);
    if (!IsIndex(nChannel))
        return;
    PTZElectInfo &info = m_stPTZElect[static_cast<size_t>(nChannel)];
    CDecodeChannel *pChannel = ExistingChannel(nChannel);
    if (!info.nEnabled || !pChannel)
        return;
    info.rect = kWholePicture;
    pChannel->SetDisplayRegion(nullptr, false);
    info.nEnabled = 0;
    m_pPlayWindowManage->setPreviewStatus(nWndIndex, true);
    LOGN("OnQuitPTZElect", "CRealPlayWidget::OnQuitPTZElect");
    emit changePTZELectPage();
}

bool CRealPlayWidget::PTZElectZoomIn(int nChannel, int nStep)
{
    const char *pTag = "PTZElectZoomIn";
    CDecodeChannel *pChannel = PTZStepChannel(nChannel, pTag);
    if (!pChannel)
        return false;
    RECT &rect = m_stPTZElect[static_cast<size_t>(nChannel)].rect;
    const int64_t s = nStep;
    RECT next{};
    if (!PTZRectInPicture(rect.left + s, rect.top + s, rect.right - s, rect.bottom - s, next))
        return false;
    rect = next;
    const QString strTag = "CRealPlayWidget::PTZElectZoomIn";
    LOGN(QString("%1").arg(next.bottom), strTag);
    if (!SetPTZRegion(pChannel, next)) {
        LOGN("PTZElectZoomIn", strTag);
        return false;
    }
    return true;
}

bool CRealPlayWidget::PTZElectZoomOut(int nChannel, int nStep)
{
    CDecodeChannel *pChannel = PTZStepChannel(nChannel, "PTZElectZoomOut");
    if (!pChannel)
        return false;
    RECT &rect = m_stPTZElect[static_cast<size_t>(nChannel)].rect;
    const int64_t s = nStep;
    RECT next{};
    // A step that would cross an edge is refused whole.
    if (!PTZRectInPicture(rect.left - s, rect.top - s, rect.right + s, rect.bottom + s, next))
        return false;
    rect = next;
    if (!SetPTZRegion(pChannel, next)) {
        LOGN("PTZElectZoomOut", "CRealPlayWidget::PTZElectZoomOut");
        return false;
    }
    return true;
}

bool CRealPlayWidget::PTZElectronicMove(int nChannel, int nDirection, int nStep)
{
    const QString strTag = "CRealPlayWidget::PTZElectronicMove";
    CDecodeChannel *pChannel = PTZStepChannel(nChannel, "PTZElectronicMove");
    if (!pChannel)
        return false;
    RECT &rect = m_stPTZElect[static_cast<size_t>(nChannel)].rect;
    int64_t nLeft = rect.left, nTop = rect.top, nRight = rect.right, nBottom = rect.bottom;
    const int64_t s = nStep;
    switch (nDirection) {
    case 0:
        nTop -= s;
        nBottom -= s;
        LOGN(QString("nRect.top:%1 nRect.top:%2").arg(nTop).arg(nBottom), strTag);
        break;
    case 1:
        nTop += s;
        nBottom += s;
        LOGN(QString("top:%1,top:%2").arg(nTop).arg(nBottom), strTag);
        break;
    case 2:
        nLeft -= s;
        nRight -= s;
        LOGN(QString("left:%1,right:%2").arg(nLeft).arg(nRight), strTag);
        break;
    case 3:
        nLeft += s;
        nRight += s;
        LOGN(QString("left:%1,right:%2").arg(nLeft).arg(nRight), strTag);
        break;
    default:
        return false;
    }
    // Past an edge, whichever way the step's sign points, the move is refused whole.
    RECT next{};
    if (!PTZRectInPicture(nLeft, nTop, nRight, nBottom, next))
        return false;
    const bool bSet = SetPTZRegion(pChannel, next);
    rect = next;
    if (!bSet) {
        LOGN("PTZElectronicMove", strTag);
        return false;
    }
    return true;
}

bool CRealPlayWidget::PTZElectPresent(int nChannel, int nCommand, int nPresetNo)
{
    const QString strTag = "CRealPlayWidget::PTZElectPresent";
    CDecodeChannel *pChannel = PTZStepChannel(nChannel, "PTZElectPresent");
    if (!pChannel)
        return false;
    PTZElectInfo &info = m_stPTZElect[static_cast<size_t>(nChannel)];
    switch (nCommand) {
    case 6:
        if (info.presets.empty())
            return false;
        info.presets.erase(nPresetNo);
        LOGN("Del", strTag);
        return true;
    case 7:
        info.presets[nPresetNo] = info.rect;
        LOGN("ADD", strTag);
        return true;
    case 8: {
        auto it = info.presets.find(nPresetNo);
        if (it == info.presets.end())
            return false;
        info.rect = it->second;
        if (!SetPTZRegion(pChannel, info.rect))
            return false;
        LOGN("GO", strTag);
        return true;
    }
    default:
        return false;
    }
}

bool CRealPlayWidget::PTZElectRedu(int nChannel)
{
    CDecodeChannel *pChannel = PTZStepChannel(nChannel, "PTZElectRedu");
    if (!pChannel)
        return false;
    RECT &rect = m_stPTZElect[static_cast<size_t>(nChannel)].rect;
    if (SameRect(rect, kWholePicture))
        return false;
    const int nRet = pChannel->SetDisplayRegion(nullptr, false);
    rect = kWholePicture;
    return nRet != 0;
}

// ---------------------------------------------------------------------------------------------------------
// Smart-rule overlay.

void CRealPlayWidget::SetSmartRuleInfo(const SmartRuleInfo &info)
{
    std::lock_guard<std::mutex> lock(m_drawMutex);
    *m_pSmartRuleInfo = info;
}

bool CRealPlayWidget::SetSmartRuleDraw()
{
    {
        std::lock_guard<std::mutex> lock(m_drawMutex);
        if (m_pSmartRuleInfo->Channel != 0)
            return false;
    }
    CDecodeChannel *pChannel = GetDecodeChannel(0);
    return pChannel && pChannel->SetDecCallBack(&CRealPlayWidget::DrawSmartRuleCallBack, this) != 0;
}

void CRealPlayWidget::StoreSurfaceSize(int nWndIndex)
{
    if (!IsIndex(nWndIndex))
        return;
    const CVideoFrame *pFrame = m_pPlayWindowManage->GetVideoWnd(nWndIndex)->GetVideoFrame();
    const QSize size = pFrame->size() * pFrame->devicePixelRatioF();
    std::lock_guard<std::mutex> lock(m_drawMutex);
    m_surfaceSizes[static_cast<size_t>(nWndIndex)].nWidth = size.width();
    m_surfaceSizes[static_cast<size_t>(nWndIndex)].nHeight = size.height();
}

void CRealPlayWidget::DrawSmartRuleCallBack(int32_t nStatus, void *pData, HWND hWnd, void *pUser)
{
    if (pUser)
        static_cast<CRealPlayWidget *>(pUser)->DrawSmartRule(nStatus, static_cast<HDC>(pData), hWnd);
}

void CRealPlayWidget::DrawSmartRule(int nStatus, HDC hDC, HWND hWnd)
{
    Q_UNUSED(nStatus);
    if (!hDC || !hWnd)
        return;
    SmartRuleInfo info;
    int W = 0, H = 0;
    {
        std::lock_guard<std::mutex> lock(m_drawMutex);
        for (const SurfaceSize &surface : m_surfaceSizes)
            if (surface.hWnd == hWnd) {
                W = surface.nWidth;
                H = surface.nHeight;
                break;
            }
        info = *m_pSmartRuleInfo;
    }
    if (W <= 0 || H <= 0)
        return;
    // The rules belong to channel 0's picture, and only to its whole picture filling the tile.
    if (info.Channel != 0 || m_nPlayOriginalState[0].load() > 0 || m_bDigitalZoom[0].load())
        return;
    auto px = [W](int32_t v) { return static_cast<double>(static_cast<int64_t>(v) * W) / DISPLAY_REGION_SCALE; };
    auto py = [H](int32_t v) { return static_cast<double>(static_cast<int64_t>(v) * H) / DISPLAY_REGION_SCALE; };
    auto arrows = [hDC](int nDirect, double ax, double ay, double bx, double by, bool bLine) {
        if (nDirect == 1 || nDirect == 2)
            DrawArrow(hDC, ax, ay, bx, by, bLine);
        if (nDirect == 0 || nDirect == 2)
            DrawArrow(hDC, bx, by, ax, ay, bLine);
    };

    HPEN hPen = CreatePen(PS_SOLID, kRulePenWidth, kRulePenColour);
    HGDIOBJ hOld = SelectObject(hDC, hPen);
    if (info.ShowRule) {
        const int nKind = info.PedRule[0].RuleType;
        if (nKind == SMART_RULE_LINE) {
            const int nLines = std::clamp<int32_t>(info.LineNum, 0, SMART_RULE_MAX);
            for (int i = 0; i < nLines; ++i) {
                const SmartRule &rule = info.PedRule[i];
                if (!rule.Enable)
                    continue;
                const double ax = px(rule.StartX), ay = py(rule.StartY), bx = px(rule.StopX), by = py(rule.StopY);
                MoveToEx(hDC, static_cast<int>(ax), static_cast<int>(ay), nullptr);
                LineTo(hDC, static_cast<int>(bx), static_cast<int>(by));
                arrows(rule.LineAlarmDirect, ax, ay, bx, by, true);
            }
        } else if (nKind == SMART_RULE_REGION) {
            const int nRegions = std::clamp<int32_t>(info.AreaNum, 0, SMART_RULE_MAX);
            for (int i = 0; i < nRegions; ++i) {
                const SmartRule &rule = info.PedRule[i];
                if (!rule.Enable)
                    continue;
                const int n = std::clamp<int32_t>(rule.PtsNum, 0, SMART_RULE_MAX_POINTS);
                for (int k = 0; k < n; ++k) {
                    const SmartRulePoint &p = rule.Pts[k];
                    const SmartRulePoint &q = rule.Pts[(k + 1) % n];
                    MoveToEx(hDC, static_cast<int>(px(p.X)), static_cast<int>(py(p.Y)), nullptr);
                    LineTo(hDC, static_cast<int>(px(q.X)), static_cast<int>(py(q.Y)));
                }
                arrows(rule.RegionAlarmDirect, px(rule.Pts[0].X), py(rule.Pts[0].Y), px(rule.Pts[1].X),
                       py(rule.Pts[1].Y), false);
            }
        }
    }
    if (hOld)
        SelectObject(hDC, hOld);
    DeleteObject(hPen);
}

void CRealPlayWidget::DrawArrow(HDC hDC, double x1, double y1, double x2, double y2, bool bLine)
{
    int d = 0, e = 0;
    if (x1 != x2) {
        d = x1 < x2 ? 1 : -1;
        e = y1 == y2 ? 0 : (y1 > y2 ? 1 : -1);
    } else {
        e = (bLine ? y1 > y2 : y1 < y2) ? 1 : -1;
    }
    const double h = (x1 + x2) / 2;
    const double l = (y1 + y2) / 2;
    double tx, ty, b1x, b1y, b2x, b2y;
    if (x1 == x2) {
        tx = h + 30 * e;
        ty = l;
        b1x = h + 20 * e;
        b1y = l - 10;
        b2x = b1x;
        b2y = l + 10;
    } else if (y1 == y2) {
        tx = h;
        ty = l + 30 * d;
        b1x = h - 10;
        b1y = l + 20 * d;
        b2x = h + 10;
        b2y = b1y;
    } else {
        const double k = (y1 - y2) / (x1 - x2);
        const double w = std::sqrt(1 / (k * k) + 1);
        const double q = std::sqrt(100 / (k * k + 1));
        const double a = 20 * e / w;
        const double c = std::fabs(a / k) * d + l;
        tx = 30 * e / w + h;
        ty = std::fabs(30 * e / (w * k)) * d + l;
        b1x = a + h + q;
        b1y = c + q * k;
        b2x = a + h - q;
        b2y = c - q * k;
    }
    tx = std::floor(tx);
    ty = std::floor(ty);
    b1x = std::floor(b1x);
    b1y = std::floor(b1y);
    b2x = std::floor(b2x);
    b2y = std::floor(b2y);
    const double sx = (tx + h) / 2;
    const double sy = (ty + l) / 2;
    const int nSx = static_cast<int>(sx);
    const int nSy = static_cast<int>(sy);
    MoveToEx(hDC, nSx, nSy, nullptr);
    LineTo(hDC, static_cast<int>(2 * h - sx), static_cast<int>(2 * l - sy));
    MoveToEx(hDC, nSx, nSy, nullptr);
    LineTo(hDC, static_cast<int>(b1x + h - sx), static_cast<int>(b1y + l - sy));
    MoveToEx(hDC, nSx, nSy, nullptr);
    LineTo(hDC, static_cast<int>(b2x + h - sx), static_cast<int>(b2y + l - sy));
}

// ---------------------------------------------------------------------------------------------------------
// Two-lens scale.

void CRealPlayWidget::slot_GetScaleTwoLensAbility(int nWndNo)
{
    const QString strTag = "CRealPlayWidget::slot_GetScaleTwoLensAbility";
    LOGN(QString("slot_GetScaleTwoLensAbility----------->devType:%1").arg(m_bFirstDevice ? "IPC" : "Not IPC"), strTag);
    CQZConnect *pConnect = CQZConnect::GetInstance();
    if (!pConnect)
        return;
    const int nChannel = GetWndChannel(nWndNo);
    LOGN(QString("GetScaleTwoLens------>Channel:%1").arg(nChannel), strTag);
    if (!IsIndex(nChannel))
        return;
    if (!pConnect->GetScaleTwoLensAbility(m_lLoginID, nChannel, m_bFirstDevice)) {
        m_pPlayWindowManage->ShowScaleSlider(nWndNo, false, 0);
        return;
    }
    if ((m_bFirstDevice || m_bSecondDevice) && nChannel != 0)
        return;
    float fTimes = 0.0f, fMaxTimes = 0.0f;
    if (pConnect->GetScaleTwoLensConfig(m_lLoginID, nChannel, m_nStreamType[static_cast<size_t>(nChannel)], fTimes,
                                        m_bFirstDevice, fMaxTimes) <= 0) {
        m_pPlayWindowManage->ShowScaleSlider(nWndNo, false, 0);
        return;
    }
    if (m_bFullScreen)
        return;
    LOGN(QString("slot_GetScaleTwoLensAbility----------->fMaxtimes:%1").arg(QString::number(double(fMaxTimes))), strTag);
    m_pPlayWindowManage->ShowScaleSlider(nWndNo, true, fMaxTimes);
    m_fTwoLensTimes = fTimes;
    m_pPlayWindowManage->SetScaleValue(nWndNo, fTimes);
}

void CRealPlayWidget::slot_SetScaleTwoLensTimes(float fTimes, int nWndNo)
{
    CQZConnect *pConnect = CQZConnect::GetInstance();
    const int nChannel = GetWndChannel(nWndNo);
    if (!pConnect || !IsIndex(nWndNo) || !IsIndex(nChannel))
        return;
    const int nStreamType = m_nStreamType[static_cast<size_t>(nChannel)];
    LOGN(QString("fLastTimes=%1------fTimes=%2------Channel=%3------Stream=%4")
             .arg(double(m_fTwoLensTimes))
             .arg(double(fTimes))
             .arg(nChannel)
             .arg(nStreamType),
         "CRealPlayWidget::slot_SetScaleTwoLensTimes");
    if (pConnect->SetScaleTwoLensConfig(m_lLoginID, m_bFirstDevice ? -1 : nChannel, nStreamType, m_fTwoLensTimes,
                                        fTimes) <= 0)
        return;
    m_fTwoLensTimes = fTimes;
    const int nSplit = m_pPlayWindowManage->GetSplitState();
    if (nSplit == CPlayWindowManage::SPLIT_ONE || nSplit == CPlayWindowManage::SPLIT_ENLARGED)
        m_pPlayWindowManage->SetScaleValue(nWndNo, fTimes);
}

void CRealPlayWidget::ScaleSwitch(int nDirection, int nStep)
{
    LOGN("click to scale", "CRealPlayWidget::ScaleSwitch");
    const int nWndIndex = GetCurWndIndex();
    if (!IsIndex(nWndIndex) || !IsIndex(GetWndChannel(nWndIndex)))
        return;
    float fTimes = 0.0f;
    if (nDirection == 0)
        fTimes = m_fTwoLensTimes + static_cast<float>(nStep * 0.1);
    else if (nDirection == 1)
        fTimes = m_fTwoLensTimes - static_cast<float>(nStep * 0.1);
    fTimes = std::clamp(fTimes, 0.0f, 7.0f);
    slot_SetScaleTwoLensTimes(fTimes, nWndIndex);
}
