#include "windows/CVideoFrame.h"

#include "runtime/LightWeightLog.h"

#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kDragTickMs = 10;
// A selection narrower or lower than this is taken for a click.
constexpr int kMinSelection = 10;

} // namespace

CVideoFrame::CVideoFrame(QWidget *parent)
    : QFrame(parent)
{
    setObjectName("CPlayWnd");
    setStyleSheet("#CPlayWnd{background-color:rgb(0,0,0);}");
    setMouseTracking(true);
    setAttribute(Qt::WA_NativeWindow);
    m_hWnd = reinterpret_cast<HWND>(winId());
}

CVideoFrame::~CVideoFrame() = default;

void CVideoFrame::SetBackgroundPic(const QString &strPath)
{
    m_strBackgroundPic = strPath;
    update();
}

void CVideoFrame::GetRegion(int &nLeft, int &nTop, int &nRight, int &nBottom) const
{
    nLeft = m_rcRegion.left;
    nTop = m_rcRegion.top;
    nRight = m_rcRegion.right;
    nBottom = m_rcRegion.bottom;
}

void CVideoFrame::SetRegion(int nLeft, int nTop, int nRight, int nBottom)
{
    m_rcRegion.left = nLeft;
    m_rcRegion.top = nTop;
    m_rcRegion.right = nRight;
    m_rcRegion.bottom = nBottom;
}

void CVideoFrame::StopDragTimer()
{
    if (m_nDragTimerId != 0) {
        killTimer(m_nDragTimerId);
        m_nDragTimerId = 0;
    }
}

void CVideoFrame::timerEvent(QTimerEvent *pEvent)
{
    if (pEvent->timerId() != m_nDragTimerId) {
        QFrame::timerEvent(pEvent);
        return;
    }
    if (m_bPressed && m_ptCurrent.x() > 0 && m_ptCurrent.y() > 0 && m_bPreview)
        emit sig_RectanglePoint(m_hWnd, m_ptStart, m_ptCurrent);
}

void CVideoFrame::mousePressEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() == Qt::LeftButton) {
        m_bPressed = true;
        m_ptPress = pEvent->pos();
        if (m_bPreview) {
            m_bSelecting = true;
            m_ptStart = pEvent->pos();
            m_ptCurrent = QPoint(0, 0);
            StopDragTimer();
            m_nDragTimerId = startTimer(kDragTickMs, Qt::CoarseTimer);
        }
    } else if (pEvent->button() == Qt::RightButton) {
        if (m_bPreview) {
            m_bPressed = false;
            m_bSelecting = false;
            StopDragTimer();
            emit quitDigitalZoom(m_nWndIndex);
            EmptyRegion();
        }
        if (m_bElect) {
            m_bElect = false;
            emit quitPTZElect(m_nWndIndex);
        }
    }
    emit activeWnd(m_nWndIndex);
    QFrame::mousePressEvent(pEvent);
}

void CVideoFrame::mouseMoveEvent(QMouseEvent *pEvent)
{
    if (m_bPressed && m_bSelecting && m_bPreview) {
        const int x = std::clamp(pEvent->pos().x(), 0, 2 * m_nHalfWidth);
        const int y = std::clamp(pEvent->pos().y(), 0, 2 * m_nHalfHeight);
        m_ptCurrent = QPoint(x, y);
    }
    QFrame::mouseMoveEvent(pEvent);
}

void CVideoFrame::mouseReleaseEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() == Qt::LeftButton) {
        m_bPressed = false;
        StopDragTimer();
        if (m_bSelecting && m_bPreview) {
            const bool bDropped = m_ptCurrent == QPoint(0, 0) ||
                                  std::abs(m_ptCurrent.x() - m_ptStart.x()) < kMinSelection ||
                                  std::abs(m_ptCurrent.y() - m_ptStart.y()) < kMinSelection;
            if (!bDropped) {
                LOGN(QString("draw region start.x=%1 end.x=%2 start.y=%3 end.y=%4")
                         .arg(m_ptStart.x())
                         .arg(m_ptCurrent.x())
                         .arg(m_ptStart.y())
                         .arg(m_ptCurrent.y()),
                     "CVideoFrame::mouseReleaseEvent");
                emit sig_selectRegion(m_hWnd, m_ptStart, m_ptCurrent);
                m_ptStart = QPoint(0, 0);
                m_ptCurrent = QPoint(0, 0);
                emit sig_RectanglePoint(m_hWnd, QPoint(0, 0), QPoint(0, 0));
                m_bSelecting = false;
            }
        }
    }
    QFrame::mouseReleaseEvent(pEvent);
}

void CVideoFrame::mouseDoubleClickEvent(QMouseEvent *pEvent)
{
    emit activeWnd(m_nWndIndex);
    emit doubleClicked(m_nWndIndex);
    pEvent->accept();
}

void CVideoFrame::paintEvent(QPaintEvent *pEvent)
{
    QFrame::paintEvent(pEvent);
    if (m_strBackgroundPic.isEmpty() || !QFileInfo::exists(m_strBackgroundPic))
        return;
    const QImage picture(m_strBackgroundPic);
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

void CVideoFrame::resizeEvent(QResizeEvent *pEvent)
{
    m_nHalfWidth = pEvent->size().width() / 2;
    m_nHalfHeight = pEvent->size().height() / 2;
    QFrame::resizeEvent(pEvent);
}
