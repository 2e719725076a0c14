// Reads a screenshot of the plug-in window (PNG) whose live page shows a grid of tiles, tile i showing channel i
// of the simulated device, and tells for each tile which channel's test pattern it shows.
//
//   check_screenshot PNG COLUMNS ROWS
//
// Exit status 0 when every tile shows its own channel, 1 when one does not, 2 when the picture cannot be read.

#include "tests/support/TestPatternCheck.h"

#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: check_screenshot PNG COLUMNS ROWS\n");
        return 2;
    }
    const QImage image = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const int nColumns = std::atoi(argv[2]);
    const int nRows = std::atoi(argv[3]);
    if (image.isNull() || nColumns < 1 || nRows < 1) {
        std::fprintf(stderr, "cannot read %s as a picture of %s x %s tiles\n", argv[1], argv[2], argv[3]);
        return 2;
    }
    const int nTiles = nColumns * nRows;
    int nRight = 0;
    for (int i = 0; i < nTiles; ++i) {
        const int c = i % nColumns, r = i / nColumns;
        const QRect cell(QPoint(image.width() * c / nColumns, image.height() * r / nRows),
                         QPoint(image.width() * (c + 1) / nColumns - 1, image.height() * (r + 1) / nRows - 1));
        const int nChannel = TestPattern::ChannelInCell(image, cell, nTiles);
        std::printf("tile %2d: %s\n", i,
                    nChannel == i ? "its channel's test pattern"
                    : nChannel < 0 ? "no test pattern"
                                   : qPrintable(QString("channel %1's test pattern").arg(nChannel + 1)));
        nRight += nChannel == i ? 1 : 0;
    }
    std::printf("%d of %d tiles show their channel (%dx%d picture)\n", nRight, nTiles, image.width(), image.height());
    return nRight == nTiles ? 0 : 1;
}
