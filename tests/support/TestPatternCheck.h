#pragma once

// Which channel of the simulated device a picture shows: the device's test pattern (colour bars, and the label
// "CH nn" in its top left corner, drawn in proportion to the picture's height) read back from a grab, a snapshot
// file or a screenshot.

#include <QImage>
#include <QRect>

namespace TestPattern {

// Which channel (0-based) the picture of a 16:9 stream shows, read from its label: the picture is scaled to
// 320x180 and its label compared with each channel's. -1 when no channel of 0..nChannels-1 matches clearly.
int ChannelShown(const QImage &picture, int nChannels);
// Whether the picture shows the pattern at all: its colour bars along the middle row.
bool ShowsPattern(const QImage &picture);

// The same for a picture that fills a rectangle of a larger image but for a border of a few pixels (a tile of
// a screenshot): lines of one colour are taken off the rectangle's edges (three at most), and the picture's
// corner is searched for within two pixels of what is left.
int ChannelInCell(const QImage &image, const QRect &cell, int nChannels);

} // namespace TestPattern
