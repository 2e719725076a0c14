#include "device/media/CAudioConvert.h"

#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"

#include <cstdint>
#include <cstring>

namespace {

// The longest G.711 input taken in one call (its PCM is twice as long), and the longest copied input.
constexpr int kMaxG711 = 1536;
constexpr int kMaxCopy = 3072;

int DecodeG711(const unsigned char *pIn, int nLen, unsigned char *pOut, int nOutSize, int16_t (*decode)(uint8_t))
{
    if (nLen >= kMaxG711 || 2 * nLen > nOutSize)
        return 0;
    for (int i = 0; i < nLen; ++i) {
        const auto nSample = static_cast<uint16_t>(decode(pIn[i]));
        pOut[2 * i] = static_cast<unsigned char>(nSample & 0xFF);
        pOut[2 * i + 1] = static_cast<unsigned char>(nSample >> 8);
    }
    return 2 * nLen;
}

} // namespace

int CAudioConvert::ToPcm16(const unsigned char *pIn, int nLen, unsigned char *pOut, int nOutSize, int nType) const
{
    if (!pIn || !pOut || nLen <= 0 || nOutSize <= 0)
        return 0;
    switch (nType) {
    case kAlaw:
        return DecodeG711(pIn, nLen, pOut, nOutSize, G711AlawDecode);
    case kUlaw:
    case kUlawAlt:
        return DecodeG711(pIn, nLen, pOut, nOutSize, G711UlawDecode);
    case kPcm16: {
        // Whole samples only: an odd last byte is not a sample.
        const int nBytes = nLen / 2 * 2;
        if (nBytes > nOutSize)
            return 0;
        std::memcpy(pOut, pIn, static_cast<size_t>(nBytes));
        return nBytes;
    }
    case kPassA:
    case kPassB:
        if (nLen >= kMaxCopy || nLen > nOutSize)
            return 0;
        std::memcpy(pOut, pIn, static_cast<size_t>(nLen));
        return nLen;
    case 9:
    case 11:
    case 13:
        return 0;
    default:
        // 8-bit unsigned PCM to 8-bit signed.
        if (nLen > kMaxCopy || nLen > nOutSize)
            return 0;
        for (int i = 0; i < nLen; ++i)
            pOut[i] = static_cast<unsigned char>(pIn[i] - 128);
        return nLen;
    }
}
