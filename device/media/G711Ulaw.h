#pragma once

#include <cstdint>

// G.711 mu-law: 16-bit little-endian PCM to one code byte per sample, and back.

// Encodes nLen / 2 samples from pPcm into pOut (an odd last byte is dropped); *pOutCount gets the number of
// codes written. Returns 1.
int G711UlawEncode(const unsigned char *pPcm, unsigned char *pOut, int nLen, int *pOutCount);

// The code of one sample.
uint8_t G711UlawEncodeSample(int16_t nSample);

// The sample of one code; 0xFF and 0x7F give +2 and -2 rather than 0, as the devices expect.
int16_t G711UlawDecode(uint8_t nCode);
