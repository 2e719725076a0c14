#pragma once

// Turns device audio into 16-bit little-endian PCM for the AAC encoder.
class CAudioConvert
{
public:
    // Audio type codes of the device streams.
    enum : int {
        kAlaw = 14,
        kUlaw = 10,
        kUlawAlt = 22,
        kPcm16 = 12,
        kPassA = 15,
        kPassB = 30,
    };

    // Converts nLen bytes of pIn of the given type into pOut, which holds nOutSize bytes. Returns the bytes
    // written, or 0 when the type is refused, the input is too long for its type, or the result would not
    // fit pOut (then nothing is written).
    int ToPcm16(const unsigned char *pIn, int nLen, unsigned char *pOut, int nOutSize, int nType) const;
};
