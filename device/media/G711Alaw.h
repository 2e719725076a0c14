#pragma once

#include <cstdint>

// G.711 A-law: 16-bit little-endian PCM to one code byte per sample, and back.

// Encodes nLen / 2 samples from pPcm into pOut (an odd last byte is dropped); *pOutCount gets the number of
// codes written. Returns 1.
int G711AlawEncode(const unsigned char *pPcm, unsigned char *pOut, int nLen, int *pOutCount);

// The code of one sample.
uint8_t G711AlawEncodeSample(int16_t nSample);

// The sample of one code.
int16_t G711AlawDecode(uint8_t nCode);
