#pragma once

#include <QSlider>

class QLabel;

// The two-lens zoom slider a live tile shows over its picture: value v stands for the ratio 1 + v / 10, from 1.0
// up to the camera's maximum, with a scale of ticks and a label with the ratio beside the handle. The owning
// tile watches it and signals the user's moves; the slider itself never emits sig_SetScaleTwoLensTimes.
class CScaleSlider : public QSlider
{
    Q_OBJECT
public:
    CScaleSlider(QWidget *parent, int nWndIndex, float fMaxTimes);

    // A ratio in tenths (a float such as 1.3 lies a little below its value; it still counts 13 tenths).
    static int Tenths(float fValue);
    // The slider's steps of 0.1 from 1.0 to the maximum ratio; 0 when the maximum is below 1.1.
    static int StepsOf(float fMaxTimes);

    int GetWndIndex() const { return m_nWndIndex; }
    float GetMaxTimes() const { return m_fMaxTimes; }
    int GetMaxSteps() const { return m_iMaxTimes; }
    QLabel *Label() const { return m_pLabel; }

signals:
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

public slots:
    void onValueChanged(int nValue);

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    // Beside the handle: on its right in the left half, on its left in the right half.
    void PlaceLabel(int nValue);

    QLabel *m_pLabel = nullptr;
    int m_nWndIndex;
    float m_fMaxTimes;
    int m_iMaxTimes;
};
