#include "windows/CVideoWnd.h"

#include "runtime/LightWeightLog.h"
#include "windows/CScaleSlider.h"
#include "windows/CVideoFrame.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QStyle>

#include <cstdint>

namespace {

const char *const kPlayFrameStyle = "#PlayFrame{background-color:rgb(0, 0, 0);}";

} // namespace

CVideoWnd::CVideoWnd(QWidget *parent, int nWndIndex)
    : QFrame(parent)
    , m_nWndIndex(nWndIndex)
{
    auto *pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(1, 1, 1, 1);
    pLayout->setSpacing(0);
    m_pPlayFrame = new QFrame(this);
    m_pPlayFrame->setObjectName("PlayFrame");
    // The surface's letterbox margins must never hold the tile at a size it had before.
    m_pPlayFrame->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    pLayout->addWidget(m_pPlayFrame);

    m_pPlayLayout = new QHBoxLayout(m_pPlayFrame);
    m_pPlayLayout->setContentsMargins(0, 0, 0, 0);
    m_pPlayLayout->setSpacing(0);
    m_pVideoFrame = new CVideoFrame(m_pPlayFrame);
    m_pVideoFrame->SetWndIndex(nWndIndex);
    m_pPlayLayout->addWidget(m_pVideoFrame);
    m_hVideoWnd = m_pVideoFrame->GetHwnd();
    setStyleSheet(kPlayFrameStyle);

    connect(m_pVideoFrame, &CVideoFrame::doubleClicked, this, &CVideoWnd::doubleClicked);
    connect(m_pVideoFrame, &CVideoFrame::activeWnd, this, &CVideoWnd::activeWnd);
    connect(m_pVideoFrame, &CVideoFrame::sig_RectanglePoint, this, &CVideoWnd::sig_RectanglePoint);
    connect(m_pVideoFrame, &CVideoFrame::sig_selectRegion, this, &CVideoWnd::sig_selectRegion);
    connect(m_pVideoFrame, &CVideoFrame::quitDigitalZoom, this, &CVideoWnd::quitDigitalZoom);
    connect(m_pVideoFrame, &CVideoFrame::quitPTZElect, this, &CVideoWnd::quitPTZElect);
}

CVideoWnd::~CVideoWnd() = default;

void CVideoWnd::SetSelected(bool bSelected)
{
    m_bSelected = bSelected;
    const QRect rcTile = rect();
    update(QRegion(rcTile).subtracted(QRegion(rcTile.adjusted(1, 1, -1, -1))));
}

void CVideoWnd::SetSkin(const QString &strSkin)
{
    if (strSkin == "Black")
        m_clrBorder = QColor(196, 0, 34, 255);
    else if (strSkin == "O53")
        m_clrBorder = QColor(133, 1, 0, 255);
    else
        m_clrBorder = QColor(18, 144, 255, 255);
    setStyleSheet(kPlayFrameStyle);
}

void CVideoWnd::SetFitMode(int nMode)
{
    m_nFitMode = nMode;
    if (nMode != FIT_SOURCE) {
        m_nVideoWidth = -1;
        m_nVideoHeight = -1;
    }
    RefitVideoFrame();
}

void CVideoWnd::SetVideoSize(int nWidth, int nHeight)
{
    m_nVideoWidth = nWidth;
    m_nVideoHeight = nHeight;
}

void CVideoWnd::RefitVideoFrame()
{
    const int W = m_pPlayFrame->width();
    const int H = m_pPlayFrame->height();
    int x = 0, y = 0, w = W, h = H;
    // Truncated exact quotients: a picture of the frame's own proportion fills it to the last pixel.
    auto scaled = [](int nValue, int nNumerator, int nDenominator) {
        return static_cast<int>(static_cast<int64_t>(nValue) * nNumerator / nDenominator);
    };
    // A picture size the library has not given yet (0 or below) counts as unknown.
    const bool bKnownSize = m_nVideoWidth > 0 && m_nVideoHeight > 0;
    if (m_nFitMode == FIT_SOURCE && bKnownSize) {
        w = scaled(H, m_nVideoWidth, m_nVideoHeight);
        if (w > W) {
            h = scaled(W, m_nVideoHeight, m_nVideoWidth);
            w = W;
            y = (H - h) / 2;
        } else if (w < W) {
            h = H;
            x = (W - w) / 2;
        }
    } else if (m_nFitMode == FIT_4_3 || m_nFitMode == FIT_16_9) {
        const int nRatioW = m_nFitMode == FIT_4_3 ? 4 : 16;
        const int nRatioH = m_nFitMode == FIT_4_3 ? 3 : 9;
        w = scaled(H, nRatioW, nRatioH);
        if (w > W) {
            h = scaled(W, nRatioH, nRatioW);
            w = W;
            y = (H - h) / 2;
        } else {
            h = H;
            x = (W - w) / 2;
        }
    }
    // The surface keeps its place in the inner frame's layout, which puts it at (x, y) with size w x h.
    m_pPlayLayout->setContentsMargins(x, y, W - w - x, H - h - y);
    m_pPlayLayout->activate();
}

void CVideoWnd::ShowScaleSlider(bool bShow, float fMaxTimes)
{
    if (bShow && CScaleSlider::StepsOf(fMaxTimes) <= 0) {
        // A camera whose ratio does not reach 1.1 has nothing to choose from: no slider.
        if (m_pScaleSlider)
            m_pScaleSlider->hide();
        return;
    }
    if (!m_pScaleSlider && bShow) {
        m_pScaleSlider = new CScaleSlider(this, m_nWndIndex, fMaxTimes);
        m_fMaxTimes = fMaxTimes;
        // Its own native window, so that it lies over the video surface's.
        m_pScaleSlider->setAttribute(Qt::WA_NativeWindow);
        m_pScaleSlider->installEventFilter(this);
        connect(m_pScaleSlider, &CScaleSlider::sig_SetScaleTwoLensTimes, this, &CVideoWnd::sig_SetScaleTwoLensTimes);
    }
    if (m_pScaleSlider) {
        m_pScaleSlider->hide();
        if (bShow) {
            PlaceScaleSlider();
            m_pScaleSlider->show();
            m_pScaleSlider->raise();
        }
    }
}

void CVideoWnd::SetScaleValue(float fRatio)
{
    if (m_pScaleSlider)
        m_pScaleSlider->setValue(CScaleSlider::Tenths(fRatio));
}

void CVideoWnd::PlaceScaleSlider()
{
    const int nSteps = CScaleSlider::StepsOf(m_fMaxTimes);
    if (!m_pScaleSlider || nSteps <= 0)
        return;
    int nWidth = width() * 2 / 3;
    if (nWidth % nSteps != 0)
        nWidth += nSteps - nWidth % nSteps;
    m_pScaleSlider->setGeometry((width() - nWidth) / 2, (height() - 1) - nSteps - 9, nWidth, nSteps / 2);
}

void CVideoWnd::EmitScaleTimes()
{
    if (m_pScaleSlider)
        emit sig_SetScaleTwoLensTimes(static_cast<float>(m_pScaleSlider->value() / 10.0), m_nWndIndex);
}

void CVideoWnd::SetBackgroundPic(const QString &strPath) { m_pVideoFrame->SetBackgroundPic(strPath); }

void CVideoWnd::SetPreviewStatus(bool bPreview) { m_pVideoFrame->SetPreviewStatus(bPreview); }

bool CVideoWnd::GetPreviewStatus() const { return m_pVideoFrame->GetPreviewStatus(); }

void CVideoWnd::SetZoomSelect(bool bSelect)
{
    if (!bSelect)
        m_pVideoFrame->EmptyRegion();
    m_pVideoFrame->SetSelecting(bSelect);
}

bool CVideoWnd::IsZoomSelect() const { return m_pVideoFrame->IsSelecting(); }

void CVideoWnd::SetPTZElectStatus(bool bElect)
{
    m_pVideoFrame->SetElect(bElect);
    LOGN(QString("m_bElect = %1").arg(bElect ? 1 : 0), "CVideoFrame::setPTZElectStatus");
}

bool CVideoWnd::GetPTZElectStatus() const { return m_pVideoFrame->IsElect(); }

void CVideoWnd::GetRegion(int &nLeft, int &nTop, int &nRight, int &nBottom) const
{
    m_pVideoFrame->GetRegion(nLeft, nTop, nRight, nBottom);
}

void CVideoWnd::SetRegion(int nLeft, int nTop, int nRight, int nBottom)
{
    m_pVideoFrame->SetRegion(nLeft, nTop, nRight, nBottom);
}

bool CVideoWnd::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    if (!m_pScaleSlider || pWatched != m_pScaleSlider)
        return QFrame::eventFilter(pWatched, pEvent);
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress: {
        const auto *pMouse = static_cast<QMouseEvent *>(pEvent);
        if (pMouse->button() == Qt::LeftButton) {
            m_pScaleSlider->setSliderDown(true);
            m_pScaleSlider->setValue(QStyle::sliderValueFromPosition(m_pScaleSlider->minimum(),
                                                                     m_pScaleSlider->maximum(), pMouse->pos().x(),
                                                                     m_pScaleSlider->width(), false));
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        m_pScaleSlider->setSliderDown(false);
        EmitScaleTimes();
        break;
    case QEvent::Wheel:
        m_pScaleSlider->setSliderDown(false);
        // The slider turns the wheel into its new value after this filter; the ratio sent is that one.
        QMetaObject::invokeMethod(this, &CVideoWnd::EmitScaleTimes, Qt::QueuedConnection);
        break;
    case QEvent::KeyRelease:
        switch (static_cast<QKeyEvent *>(pEvent)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_Right:
        case Qt::Key_Down:
            m_pScaleSlider->setSliderDown(false);
            EmitScaleTimes();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return false;
}

void CVideoWnd::paintEvent(QPaintEvent *pEvent)
{
    QFrame::paintEvent(pEvent);
    if (!m_bSelected)
        return;
    QPainter painter(this);
    painter.setPen(m_clrBorder);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CVideoWnd::resizeEvent(QResizeEvent *pEvent)
{
    RefitVideoFrame();
    PlaceScaleSlider();
    QFrame::resizeEvent(pEvent);
}
