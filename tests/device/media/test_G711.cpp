// G.711 A-law and mu-law against the ITU-T segment formulas, over every 16-bit input and every code.

#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <vector>

namespace {

int BitLength(int nValue)
{
    int nBits = 0;
    while (nValue > 0) {
        ++nBits;
        nValue >>= 1;
    }
    return nBits;
}

// A-law of a 16-bit sample: the 13-bit magnitude split into segment and 4-bit mantissa, even bits inverted.
uint8_t RefAlaw(int nSample)
{
    const bool bNegative = nSample < 0;
    const int nMagnitude = bNegative ? std::min(-nSample, 32767) : nSample;
    const int n13 = nMagnitude >> 3;
    int nSeg = 0;
    int nMant = 0;
    if (n13 < 32) {
        nMant = n13 >> 1;
    } else {
        nSeg = BitLength(n13) - 5;
        nMant = (n13 >> nSeg) & 0x0F;
    }
    return static_cast<uint8_t>(((bNegative ? 0x00 : 0x80) | (nSeg << 4) | nMant) ^ 0x55);
}

// mu-law of a 16-bit sample: magnitude clipped at 32635, biased by 132, exponent from its highest bit.
uint8_t RefUlaw(int nSample)
{
    const bool bNegative = nSample < 0;
    const int nMagnitude = std::min(bNegative ? -nSample : nSample, 32635) + 132;
    const int nExp = BitLength(nMagnitude) - 8;
    const int nMant = (nMagnitude >> (nExp + 3)) & 0x0F;
    return static_cast<uint8_t>(~((bNegative ? 0x80 : 0x00) | (nExp << 4) | nMant) & 0xFF);
}

int RefAlawDecode(uint8_t nCode)
{
    const int nValue = nCode ^ 0x55;
    const int nSeg = (nValue >> 4) & 7;
    const int nMant = nValue & 0x0F;
    // The middle of the code's interval, in 13-bit units, then scaled to 16 bits.
    const int n13 = nSeg == 0 ? 2 * nMant + 1 : (2 * nMant + 33) << (nSeg - 1);
    return (nValue & 0x80) ? n13 * 8 : -n13 * 8;
}

int RefUlawDecode(uint8_t nCode)
{
    if (nCode == 0xFF)
        return 2;
    if (nCode == 0x7F)
        return -2;
    const int nValue = ~nCode & 0xFF;
    const int nExp = (nValue >> 4) & 7;
    const int nMant = nValue & 0x0F;
    const int nMagnitude = ((8 * nMant + 132) << nExp) - 132;
    return (nValue & 0x80) ? -nMagnitude : nMagnitude;
}

struct Law
{
    const char *szName;
    uint8_t (*encode)(int16_t);
    int16_t (*decode)(uint8_t);
    uint8_t (*refEncode)(int);
    int (*refDecode)(uint8_t);
    int (*encodeBuffer)(const unsigned char *, unsigned char *, int, int *);
};

const Law kLaws[] = {
    {"alaw", G711AlawEncodeSample, G711AlawDecode, RefAlaw, RefAlawDecode, G711AlawEncode},
    {"ulaw", G711UlawEncodeSample, G711UlawDecode, RefUlaw, RefUlawDecode, G711UlawEncode},
};

void PrintTo(const Law &law, std::ostream *pOut)
{
    *pOut << law.szName;
}

class G711Test : public ::testing::TestWithParam<Law>
{
};

} // namespace

TEST_P(G711Test, EncodesEverySampleAsTheFormula)
{
    const Law &law = GetParam();
    int nWrong = 0;
    for (int nSample = -32768; nSample <= 32767; ++nSample) {
        const uint8_t nGot = law.encode(static_cast<int16_t>(nSample));
        if (nGot != law.refEncode(nSample) && ++nWrong <= 5)
            ADD_FAILURE() << law.szName << " sample " << nSample << " gave " << int(nGot) << ", formula "
                          << int(law.refEncode(nSample));
    }
    EXPECT_EQ(nWrong, 0);
}

TEST_P(G711Test, DecodesEveryCodeAsTheFormula)
{
    const Law &law = GetParam();
    for (int nCode = 0; nCode < 256; ++nCode)
        EXPECT_EQ(law.decode(static_cast<uint8_t>(nCode)), law.refDecode(static_cast<uint8_t>(nCode)))
            << law.szName << " code " << nCode;
}

TEST_P(G711Test, RoundTripsEveryCodeAndKeepsSamplesClose)
{
    const Law &law = GetParam();
    for (int nCode = 0; nCode < 256; ++nCode)
        EXPECT_EQ(law.encode(law.decode(static_cast<uint8_t>(nCode))), nCode) << law.szName << " code " << nCode;

    // Each sample comes back within half a step of its segment, and larger samples never come back smaller.
    int nPrevious = -40000;
    for (int nSample = -32768; nSample <= 32767; ++nSample) {
        const int nBack = law.decode(law.encode(static_cast<int16_t>(nSample)));
        ASSERT_LE(std::abs(nBack - nSample), std::abs(nSample) / 16 + 16) << law.szName << " sample " << nSample;
        ASSERT_GE(nBack, nPrevious) << law.szName << " sample " << nSample;
        nPrevious = nBack;
    }
}

TEST_P(G711Test, EncodesBuffersAndDropsAnOddLastByte)
{
    const Law &law = GetParam();
    const int16_t kSamples[] = {0, -1, 32767, -32768, 1234, -4321};
    std::vector<unsigned char> vecPcm;
    for (int16_t nSample : kSamples) {
        vecPcm.push_back(static_cast<unsigned char>(static_cast<uint16_t>(nSample) & 0xFF));
        vecPcm.push_back(static_cast<unsigned char>(static_cast<uint16_t>(nSample) >> 8));
    }
    // 11 bytes: five samples and a lone byte that is not one.
    std::vector<unsigned char> vecOut(8, 0xEE);
    int nCount = -1;
    EXPECT_EQ(law.encodeBuffer(vecPcm.data(), vecOut.data(), 11, &nCount), 1);
    EXPECT_EQ(nCount, 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(vecOut[i], law.encode(kSamples[i])) << law.szName << " sample " << i;
    EXPECT_EQ(vecOut[5], 0xEE);

    nCount = -1;
    EXPECT_EQ(law.encodeBuffer(vecPcm.data(), vecOut.data(), 0, &nCount), 1);
    EXPECT_EQ(nCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Laws, G711Test, ::testing::ValuesIn(kLaws),
                         [](const ::testing::TestParamInfo<Law> &info) { return std::string(info.param.szName); });

TEST(G711, KnownCodes)
{
    EXPECT_EQ(G711AlawEncodeSample(0), 0xD5);
    EXPECT_EQ(G711AlawEncodeSample(-1), 0x55);
    EXPECT_EQ(G711AlawEncodeSample(32767), 0xAA);
    EXPECT_EQ(G711AlawEncodeSample(-32767), 0x2A);
    EXPECT_EQ(G711AlawEncodeSample(-32768), 0x2A);

    for (int16_t nSample : {0, 1, 2, 3})
        EXPECT_EQ(G711UlawEncodeSample(nSample), 0xFF) << nSample;
    for (int16_t nSample : {-1, -2, -3})
        EXPECT_EQ(G711UlawEncodeSample(nSample), 0x7F) << nSample;
    EXPECT_EQ(G711UlawEncodeSample(-32767), 0x00);
    EXPECT_EQ(G711UlawEncodeSample(-32768), 0x00);
    EXPECT_EQ(G711UlawEncodeSample(32767), 0x80);

    // The devices' mu-law table: the two zero codes decode to +2 and -2.
    EXPECT_EQ(G711UlawDecode(0xFF), 2);
    EXPECT_EQ(G711UlawDecode(0x7F), -2);
    EXPECT_EQ(G711UlawDecode(0x00), -32124);
    EXPECT_EQ(G711UlawDecode(0x80), 32124);
    EXPECT_EQ(G711AlawDecode(0xD5), 8);
    EXPECT_EQ(G711AlawDecode(0x2A), -32256);
}
