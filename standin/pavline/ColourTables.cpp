#include "standin/pavline/ColourTables.h"

#include <algorithm>
#include <cmath>

namespace {

uint8_t Clamp8(double d) { return static_cast<uint8_t>(std::max(0.0, std::min(255.0, std::round(d)))); }

} // namespace

void ColourTables::Set(int nBrightness, int nContrast, int nSaturation, int nHue)
{
    if (nBrightness == m_nBrightness && nContrast == m_nContrast && nSaturation == m_nSaturation && nHue == m_nHue)
        return;
    m_nBrightness = nBrightness;
    m_nContrast = nContrast;
    m_nSaturation = nSaturation;
    m_nHue = nHue;
    m_bNeutral = nBrightness == 64 && nContrast == 64 && nSaturation == 64 && nHue == 64;
    if (m_bNeutral)
        return;
    // Brightness moves luma by up to +-128; contrast stretches it around mid grey, 0 to 2 times.
    const double dContrast = nContrast / 64.0;
    const double dBrightness = (nBrightness - 64) * 2.0;
    for (int y = 0; y < 256; ++y)
        m_luma[y] = Clamp8((y - 128) * dContrast + 128 + dBrightness);
    // Saturation scales the chroma vector 0 to 2 times; hue turns it by up to +-180 degrees.
    const double dSaturation = nSaturation / 64.0;
    const double dAngle = (nHue - 64) / 64.0 * 3.14159265358979323846;
    const double c = std::cos(dAngle) * dSaturation, s = std::sin(dAngle) * dSaturation;
    m_chroma.resize(65536);
    for (int u = 0; u < 256; ++u)
        for (int v = 0; v < 256; ++v) {
            const double du = u - 128, dv = v - 128;
            const uint8_t uOut = Clamp8(du * c - dv * s + 128);
            const uint8_t vOut = Clamp8(du * s + dv * c + 128);
            m_chroma[(static_cast<size_t>(u) << 8) | static_cast<size_t>(v)] =
                static_cast<uint16_t>((uOut << 8) | vOut);
        }
}

void ColourTables::Apply(const uint8_t *pY, int nStrideY, const uint8_t *pU, int nStrideU, const uint8_t *pV,
                         int nStrideV, uint8_t *pOutY, int nOutStrideY, uint8_t *pOutU, int nOutStrideU,
                         uint8_t *pOutV, int nOutStrideV, int nWidth, int nHeight) const
{
    for (int r = 0; r < nHeight; ++r) {
        const uint8_t *pIn = pY + static_cast<std::ptrdiff_t>(r) * nStrideY;
        uint8_t *pOut = pOutY + static_cast<std::ptrdiff_t>(r) * nOutStrideY;
        for (int x = 0; x < nWidth; ++x)
            pOut[x] = m_luma[pIn[x]];
    }
    const int nCw = (nWidth + 1) / 2, nCh = (nHeight + 1) / 2;
    for (int r = 0; r < nCh; ++r) {
        const uint8_t *pInU = pU + static_cast<std::ptrdiff_t>(r) * nStrideU;
        const uint8_t *pInV = pV + static_cast<std::ptrdiff_t>(r) * nStrideV;
        uint8_t *pOU = pOutU + static_cast<std::ptrdiff_t>(r) * nOutStrideU;
        uint8_t *pOV = pOutV + static_cast<std::ptrdiff_t>(r) * nOutStrideV;
        for (int x = 0; x < nCw; ++x)
            Chroma(pInU[x], pInV[x], pOU[x], pOV[x]);
    }
}
