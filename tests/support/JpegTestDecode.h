#pragma once

// Decodes a JPEG file back into I420 planes for comparison with the picture it was made from.

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace JpegTest {

struct Decoded
{
    bool bOk = false;
    int nWidth = 0, nHeight = 0;
    int nComponents = 0;
    bool bProgressive = false;
    bool bBaselineMarker = false;       // a SOF0 marker
    int nLumaH = 0, nLumaV = 0;         // sampling factors of Y; those of Cb and Cr are 1
    int nMaxLumaQuant = 0;              // largest entry of the luminance quantisation table
    std::vector<uint8_t> i420;          // Y, then Cb and Cr at (w + 1) / 2 x (h + 1) / 2
};

Decoded Decode(const QString &strPath);

// Mean and largest absolute difference of two planes of the same size.
struct Difference
{
    double dMean = 0;
    int nMax = 0;
};
Difference Compare(const uint8_t *pA, const uint8_t *pB, size_t nSize);

// The I420 picture of a decoder (video levels: luma 16-235, chroma 16-240) in the full levels of JPEG.
std::vector<uint8_t> FullLevels(const std::vector<uint8_t> &i420, int nWidth, int nHeight);

// A picture with gradients and edges in all three planes.
std::vector<uint8_t> SyntheticI420(int nWidth, int nHeight);

} // namespace JpegTest
