#include "windows/CScaleSlider.h"

#include "runtime/LightWeightLog.h"

#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

CScaleSlider::CScaleSlider(QWidget *parent, int nWndIndex, float fMaxTimes)
    : QSlider(parent)
    , m_nWndIndex(nWndIndex)
    , m_fMaxTimes(fMaxTimes)
    , m_iMaxTimes(StepsOf(fMaxTimes))
{
    setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint);
    setOrientation(Qt::Horizontal);
    setRange(0, m_iMaxTimes);
    setObjectName("ScaleSlider");
    setSingleStep(1);
    setPageStep(1);

    m_pLabel = new QLabel(this);
    m_pLabel->setObjectName("ScaleLabel");
    m_pLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(this, SIGNAL(valueChanged(int)), this, SLOT(onValueChanged(int)));
    m_pLabel->resize(25, 20);
    onValueChanged(0);
    m_pLabel->show();

    LOGN(QString("CScaleSlider m_fMaxTimes=%1 m_iMaxTimes=%2").arg(static_cast<double>(fMaxTimes)).arg(m_iMaxTimes),
         "CScaleSlider::CScaleSlider");
}

int CScaleSlider::Tenths(float fValue)
{
    const double dTenths = static_cast<double>(fValue) * 10.0 + 1e-3;
    if (std::isnan(dTenths))
        return 0;
    return static_cast<int>(std::floor(std::clamp(dTenths, -1e6, 1e6)));
}

int CScaleSlider::StepsOf(float fMaxTimes) { return std::max(0, Tenths(fMaxTimes) - 10); }

void CScaleSlider::PlaceLabel(int nValue)
{
    if (m_iMaxTimes <= 0) {
        m_pLabel->move(5, 0);
        return;
    }
    const int x = nValue * width() / m_iMaxTimes;
    if (nValue < m_iMaxTimes / 2)
        m_pLabel->move(x + 5, 0);
    else
        m_pLabel->move(x - 35, 0);
}

void CScaleSlider::onValueChanged(int nValue)
{
    const QString strText = QString::number((nValue + 10) / 10.0f, 'f', 1);
    qDebug() << "onValueChanged:strText==" << strText;
    m_pLabel->setText(strText);
    PlaceLabel(nValue);
}

void CScaleSlider::paintEvent(QPaintEvent *pEvent)
{
    const int W = width();
    const int H = height();
    {
        QPainter painter(this);
        painter.setPen(QPen(Qt::gray, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(0, H / 2, W, H / 2);
        if (m_iMaxTimes > 0) {
            const int nSpacing = W / m_iMaxTimes;
            painter.setPen(QPen(Qt::white, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            for (int i = 0; i <= m_iMaxTimes; ++i) {
                const int x = i * nSpacing;
                const int nLength = i % 10 == 0 ? 9 : 5;
                painter.drawLine(x, 0, x, nLength);
                painter.drawLine(x, H, x, H - nLength);
            }
        }
    }
    const int v = value();
    m_pLabel->setText(QString("%1.%2").arg(v / 10 + 1).arg(v % 10));
    PlaceLabel(v);
    QSlider::paintEvent(pEvent);
}
