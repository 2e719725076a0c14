#pragma once

#include <cstddef>
#include <cstdint>

// Writes a planar YUV 4:2:0 picture (I420: the Y plane of nWidth x nHeight bytes, then the Cb and then the Cr
// plane of (nWidth + 1) / 2 x (nHeight + 1) / 2 bytes each), in the video levels a decoder gives (luma 16-235,
// chroma 16-240), as a baseline JPEG file of quality 99 in the full levels JPEG viewers expect. pPath is in
// the local 8-bit encoding. False without a picture, when the picture does not fit in nSize bytes, or when the
// file cannot be written; the process never ends on a libjpeg error, and a file left half written is removed.
bool WriteJpegFile(const char *pPath, int nWidth, int nHeight, const uint8_t *pPicture, size_t nSize);
