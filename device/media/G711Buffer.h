#pragma once

#include <cstdint>

// Encodes nLen / 2 samples of 16-bit little-endian PCM from pPcm into pOut, one code a sample by encodeSample
// (an odd last byte is dropped); *pOutCount gets the number of codes written. Returns 1. Both G.711 laws
// encode a buffer so.
template <typename EncodeSample>
int G711EncodeBuffer(const unsigned char *pPcm, unsigned char *pOut, int nLen, int *pOutCount,
                     EncodeSample encodeSample)
{
    const int nCount = (pPcm && pOut && nLen > 0) ? nLen / 2 : 0;
    for (int i = 0; i < nCount; ++i) {
        const auto nSample = static_cast<int16_t>(pPcm[2 * i] | (pPcm[2 * i + 1] << 8));
        pOut[i] = encodeSample(nSample);
    }
    if (pOutCount)
        *pOutCount = nCount;
    return 1;
}
