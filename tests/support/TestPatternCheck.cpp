#include "tests/support/TestPatternCheck.h"

#include "standin/korvex/TestPatternEncoder.h"

#include <QColor>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace TestPattern {

namespace {

// The size labels are compared at: each of the font's pixels is two pixels there.
constexpr int kWidth = 320;
constexpr int kHeight = 180;

// The rectangle of the pattern's first text line ("CH nn") in a picture of the compared size.
QRect LabelRect()
{
    const int nScale = std::max(1, kHeight / 90);
    return QRect(3 * nScale, 3 * nScale, 5 * 6 * nScale, 7 * nScale);
}

// The label's pixels of a channel's pattern: bright (text) or not.
const std::vector<bool> &LabelMask(int nChannel)
{
    static std::mutex mutex;
    static std::map<int, std::vector<bool>> masks;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = masks.find(nChannel);
    if (it != masks.end())
        return it->second;
    std::vector<uint8_t> y(static_cast<size_t>(kWidth * kHeight));
    std::vector<uint8_t> u(y.size() / 4), v(y.size() / 4);
    TestPatternEncoder::Draw(y.data(), kWidth, u.data(), kWidth / 2, v.data(), kWidth / 2, kWidth, kHeight, nChannel,
                             0, 10, 20);
    std::vector<bool> mask;
    const QRect rc = LabelRect();
    for (int yy = rc.top(); yy <= rc.bottom(); ++yy)
        for (int xx = rc.left(); xx <= rc.right(); ++xx)
            mask.push_back(y[static_cast<size_t>(yy * kWidth + xx)] > 128);
    return masks.emplace(nChannel, std::move(mask)).first->second;
}

// Whether every pixel of the line lies within a few levels of its first one.
bool Uniform(const QImage &image, QPoint from, QPoint step, int nCount)
{
    const QColor first(image.pixel(from));
    for (int i = 1; i < nCount; ++i) {
        const QColor c(image.pixel(from + step * i));
        if (std::abs(c.red() - first.red()) > 12 || std::abs(c.green() - first.green()) > 12 ||
            std::abs(c.blue() - first.blue()) > 12)
            return false;
    }
    return true;
}

// The cell without the lines of one colour at its edges (a tile's border and margin), at most kMaxBorder on each
// side: the picture's own last column can be one colour too (the black bar).
constexpr int kMaxBorder = 3;

QRect TrimBorders(const QImage &image, QRect rc)
{
    for (int i = 0; i < kMaxBorder && Uniform(image, rc.topLeft(), QPoint(1, 0), rc.width()); ++i)
        rc.setTop(rc.top() + 1);
    for (int i = 0; i < kMaxBorder && Uniform(image, rc.bottomLeft(), QPoint(1, 0), rc.width()); ++i)
        rc.setBottom(rc.bottom() - 1);
    for (int i = 0; i < kMaxBorder && Uniform(image, rc.topLeft(), QPoint(0, 1), rc.height()); ++i)
        rc.setLeft(rc.left() + 1);
    for (int i = 0; i < kMaxBorder && Uniform(image, rc.topRight(), QPoint(0, 1), rc.height()); ++i)
        rc.setRight(rc.right() - 1);
    return rc;
}

} // namespace

int ChannelShown(const QImage &picture, int nChannels)
{
    if (picture.isNull())
        return -1;
    const QImage scaled = picture.size() == QSize(kWidth, kHeight)
                              ? picture
                              : picture.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::vector<bool> shown;
    const QRect rc = LabelRect();
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            shown.push_back(qGray(scaled.pixel(x, y)) > 128);
    int nBest = -1;
    size_t nBestMisses = shown.size(), nSecondMisses = shown.size();
    for (int nChannel = 0; nChannel < nChannels; ++nChannel) {
        const std::vector<bool> &mask = LabelMask(nChannel);
        size_t nMisses = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            nMisses += mask[i] != shown[i] ? 1 : 0;
        if (nMisses < nBestMisses) {
            nSecondMisses = nBestMisses;
            nBestMisses = nMisses;
            nBest = nChannel;
        } else if (nMisses < nSecondMisses) {
            nSecondMisses = nMisses;
        }
    }
    // The label must match nearly pixel for pixel, and far better than any other channel's.
    if (nBestMisses * 20 > shown.size() || (nChannels > 1 && nBestMisses * 3 > nSecondMisses))
        return -1;
    return nBest;
}

bool ShowsPattern(const QImage &picture)
{
    if (picture.isNull())
        return false;
    // Yellow in the second bar, cyan in the third, blue in the seventh (75% bars), along the middle row.
    const int y = picture.height() / 2;
    auto at = [&](int nBar) { return QColor(picture.pixel(picture.width() * (2 * nBar + 1) / 16, y)); };
    const QColor yellow = at(1), cyan = at(2), blue = at(6);
    return yellow.red() > 150 && yellow.green() > 150 && yellow.blue() < 60 && cyan.red() < 60 && cyan.green() > 150 &&
           cyan.blue() > 150 && blue.red() < 60 && blue.green() < 60 && blue.blue() > 150;
}

int ChannelInCell(const QImage &image, const QRect &cell, int nChannels)
{
    const QRect rc = cell.intersected(image.rect());
    if (rc.width() < 16 || rc.height() < 9)
        return -1;
    const QRect inner = TrimBorders(image, rc);
    // The trimmed edge may keep a line of border pixels, or lose a line of the picture that matched them.
    for (int dy = 0; dy <= 2; ++dy)
        for (int dx = 0; dx <= 2; ++dx)
            for (int sy : {1, -1})
                for (int sx : {1, -1}) {
                    const QRect candidate = inner.adjusted(sx * dx, sy * dy, 0, 0).intersected(rc);
                    const QImage picture = image.copy(candidate);
                    if (!ShowsPattern(picture))
                        continue;
                    const int nChannel = ChannelShown(picture, nChannels);
                    if (nChannel >= 0)
                        return nChannel;
                }
    return -1;
}

} // namespace TestPattern
