#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The colour settings as lookup tables over YUV: brightness and contrast on luma, saturation and hue on the
// chroma pair. Values 0 - 128, 64 neutral.
class ColourTables
{
public:
    // Rebuilds the tables when the settings changed.
    void Set(int nBrightness, int nContrast, int nSaturation, int nHue);
    bool IsNeutral() const { return m_bNeutral; }

    uint8_t Luma(uint8_t y) const { return m_luma[y]; }
    void Chroma(uint8_t u, uint8_t v, uint8_t &uOut, uint8_t &vOut) const
    {
        const uint16_t nPair = m_chroma[(static_cast<size_t>(u) << 8) | v];
        uOut = static_cast<uint8_t>(nPair >> 8);
        vOut = static_cast<uint8_t>(nPair & 0xFF);
    }

    // Applies the tables to planes of w x h luma and (w+1)/2 x (h+1)/2 chroma, from source to destination.
    void Apply(const uint8_t *pY, int nStrideY, const uint8_t *pU, int nStrideU, const uint8_t *pV, int nStrideV,
               uint8_t *pOutY, int nOutStrideY, uint8_t *pOutU, int nOutStrideU, uint8_t *pOutV, int nOutStrideV,
               int nWidth, int nHeight) const;

private:
    int m_nBrightness = -1, m_nContrast = -1, m_nSaturation = -1, m_nHue = -1;
    bool m_bNeutral = true;
    uint8_t m_luma[256] = {};
    std::vector<uint16_t> m_chroma;
};
