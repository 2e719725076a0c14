// The two-lens zoom slider: its range from the camera's maximum, the ratio label beside the handle and the scale
// of ticks it paints.

#include "tests/support/LogCapture.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CScaleSlider.h"

#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

// A slider of the given size on a dark parent, shown.
struct SliderOnTile
{
    QWidget parent;
    CScaleSlider *pSlider;

    SliderOnTile(float fMaxTimes, int nWidth, int nHeight)
    {
        parent.setObjectName("Back");
        parent.setStyleSheet("#Back{background-color: rgb(0, 0, 0);}");
        pSlider = new CScaleSlider(&parent, 4, fMaxTimes);
        pSlider->setGeometry(0, 0, nWidth, nHeight);
        GridTest::ShowAt(&parent, nWidth + 20, nHeight + 20);
    }
};

struct LabelCase
{
    int nValue;
    const char *pText;
    int nLabelX;
};

struct SliderCase
{
    const char *pName;
    float fMaxTimes;
    int nWidth, nHeight;
    int nMaximum;
    std::vector<LabelCase> labels;
    std::vector<int> minorTicks;    // columns of the top row's short and long ticks left of the handle
    std::vector<int> majorTicks;    // columns of the long ticks only
};

TEST(CScaleSlider, RangeLabelAndTicksFollowTheMaximum)
{
    const SliderCase cases[] = {
        {"8.0", 8.0f, 210, 35, 70,
         // x = v * 210 / 70: right of the handle below half the range, left of it from there on.
         {{0, "1.0", 5}, {25, "3.5", 80}, {34, "4.4", 107}, {35, "4.5", 70}, {70, "8.0", 175}},
         {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48, 51, 54, 57, 60, 63, 66, 69, 72, 75, 78, 81,
          84, 87, 90, 93, 96, 99, 102, 105, 108, 111, 114, 117, 120, 123, 126, 129, 132, 135, 138, 141, 144, 147, 150,
          153, 156, 159, 162, 165, 168},
         {0, 30, 60, 90, 120, 150}},
        // Five steps: no long tick but the first.
        {"1.5", 1.5f, 200, 30, 5, {{0, "1.0", 5}, {2, "1.2", 45}, {3, "1.3", 85}, {5, "1.5", 165}},
         {0, 40, 80, 120}, {0}},
        {"1.3 as a float", 1.3f, 150, 30, 3, {{0, "1.0", 5}, {3, "1.3", 115}}, {0, 50, 100}, {0}},
    };
    for (const SliderCase &c : cases) {
        SCOPED_TRACE(c.pName);
        LogCapture log;
        SliderOnTile tile(c.fMaxTimes, c.nWidth, c.nHeight);
        CScaleSlider *pSlider = tile.pSlider;
        EXPECT_EQ(pSlider->minimum(), 0);
        EXPECT_EQ(pSlider->maximum(), c.nMaximum);
        EXPECT_EQ(pSlider->orientation(), Qt::Horizontal);
        EXPECT_EQ(pSlider->singleStep(), 1);
        EXPECT_EQ(pSlider->pageStep(), 1);
        EXPECT_EQ(pSlider->objectName(), "ScaleSlider");
        EXPECT_EQ(pSlider->Label()->objectName(), "ScaleLabel");
        EXPECT_EQ(pSlider->Label()->size(), QSize(25, 20));
        EXPECT_TRUE(pSlider->Label()->testAttribute(Qt::WA_TransparentForMouseEvents));
        EXPECT_TRUE(log.WaitFor(QString("CScaleSlider m_fMaxTimes=%1 m_iMaxTimes=%2")
                                    .arg(static_cast<double>(c.fMaxTimes))
                                    .arg(c.nMaximum)));
        for (const LabelCase &l : c.labels) {
            pSlider->setValue(l.nValue);
            EXPECT_EQ(pSlider->Label()->text().toStdString(), l.pText) << l.nValue;
            EXPECT_EQ(pSlider->Label()->pos(), QPoint(l.nLabelX, 0)) << l.nValue;
        }

        // The handle and its label at the right end, the ticks on the left free to look at.
        pSlider->setValue(c.nMaximum);
        const QImage picture = GridTest::Grab(pSlider);
        const int nFree = c.nWidth - 40;
        auto whiteColumns = [&](int y) {
            std::vector<int> columns;
            for (int x = 0; x < nFree; ++x)
                if (QColor(picture.pixel(x, y)) == QColor(Qt::white))
                    columns.push_back(x);
            return columns;
        };
        EXPECT_EQ(whiteColumns(2), c.minorTicks);
        EXPECT_EQ(whiteColumns(c.nHeight - 3), c.minorTicks);
        EXPECT_EQ(whiteColumns(7), c.majorTicks);
        EXPECT_EQ(whiteColumns(c.nHeight - 8), c.majorTicks);
        // The label shows the value the slider paints.
        EXPECT_EQ(pSlider->Label()->text().toStdString(), c.labels.back().pText);
    }
}

TEST(CScaleSlider, MaximumBelowOnePointOneHasNoSteps)
{
    for (float fMax : {1.09f, 1.0f, 0.2f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity() * -1.0f}) {
        SCOPED_TRACE(fMax);
        EXPECT_EQ(CScaleSlider::StepsOf(fMax), 0);
        // Made all the same (a tile never makes one): it shows 1.0 and paints without a step to divide by.
        SliderOnTile tile(fMax, 100, 20);
        EXPECT_EQ(tile.pSlider->maximum(), 0);
        EXPECT_EQ(tile.pSlider->Label()->text(), "1.0");
        EXPECT_FALSE(GridTest::Grab(tile.pSlider).isNull());
        tile.pSlider->setValue(5);
        EXPECT_EQ(tile.pSlider->value(), 0);
    }
    struct StepCase
    {
        float fMax;
        int nSteps;
    };
    for (const StepCase &s : {StepCase{1.1f, 1}, StepCase{1.3f, 3}, StepCase{2.7f, 17}, StepCase{8.0f, 70},
                              StepCase{30.0f, 290}, StepCase{1.19f, 1}}) {
        EXPECT_EQ(CScaleSlider::StepsOf(s.fMax), s.nSteps) << s.fMax;
    }
}

} // namespace
