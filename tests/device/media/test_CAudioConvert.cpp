#include "device/media/CAudioConvert.h"

#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr unsigned char kGuard = 0xEE;

struct Result
{
    int nRet = 0;
    std::vector<unsigned char> vecOut; // the whole output buffer, guard bytes included
};

// Converts nLen bytes of a known pattern with an output of nCapacity bytes followed by 16 guard bytes.
Result Convert(int nType, int nLen, int nCapacity)
{
    std::vector<unsigned char> vecIn(static_cast<size_t>(nLen));
    for (int i = 0; i < nLen; ++i)
        vecIn[i] = static_cast<unsigned char>(i * 7 + 3);
    Result result;
    result.vecOut.assign(static_cast<size_t>(nCapacity) + 16, kGuard);
    result.nRet = CAudioConvert().ToPcm16(vecIn.data(), nLen, result.vecOut.data(), nCapacity, nType);
    return result;
}

bool Untouched(const Result &result, size_t nFrom)
{
    for (size_t i = nFrom; i < result.vecOut.size(); ++i)
        if (result.vecOut[i] != kGuard)
            return false;
    return true;
}

int16_t SampleAt(const Result &result, int nIndex)
{
    return static_cast<int16_t>(result.vecOut[2 * nIndex] | (result.vecOut[2 * nIndex + 1] << 8));
}

} // namespace

TEST(CAudioConvert, ResultLengthsByTypeAndSize)
{
    struct Case
    {
        int nType;
        int nLen;
        int nExpected;
    };
    const Case kCases[] = {
        {14, 1535, 3070}, {14, 1536, 0},                       // A-law
        {10, 1535, 3070}, {10, 1536, 0}, {22, 100, 200},       // mu-law
        {12, 3000, 3000}, {12, 3001, 3000}, {12, 100000, 100000}, // PCM16: whole samples only
        {15, 3071, 3071}, {15, 3072, 0}, {30, 3071, 3071}, {30, 3072, 0},
        {9, 100, 0}, {11, 100, 0}, {13, 100, 0},
        {0, 3072, 3072}, {0, 3073, 0}, {7, 10, 10},            // 8-bit unsigned PCM
    };
    for (const Case &c : kCases) {
        const Result result = Convert(c.nType, c.nLen, 500000);
        EXPECT_EQ(result.nRet, c.nExpected) << "type " << c.nType << " length " << c.nLen;
        EXPECT_TRUE(Untouched(result, static_cast<size_t>(result.nRet))) << "type " << c.nType << " length " << c.nLen;
    }
}

TEST(CAudioConvert, SampleValues)
{
    const Result alaw = Convert(14, 64, 128);
    const Result ulaw = Convert(10, 64, 128);
    const Result pcm8 = Convert(0, 64, 128);
    for (int i = 0; i < 64; ++i) {
        const auto nCode = static_cast<uint8_t>(i * 7 + 3);
        EXPECT_EQ(SampleAt(alaw, i), G711AlawDecode(nCode));
        EXPECT_EQ(SampleAt(ulaw, i), G711UlawDecode(nCode));
        EXPECT_EQ(pcm8.vecOut[i], static_cast<unsigned char>(nCode - 128));
    }
}

TEST(CAudioConvert, NeverWritesPastTheOutputCapacity)
{
    struct Case
    {
        int nType;
        int nLen;
        int nCapacity;
        int nExpected;
    };
    const Case kCases[] = {
        {14, 100, 199, 0}, {14, 100, 200, 200}, {10, 100, 199, 0},
        {12, 600000, 500000, 0}, {12, 500000, 500000, 500000},
        {15, 100, 99, 0}, {0, 100, 99, 0}, {0, 100, 100, 100},
    };
    for (const Case &c : kCases) {
        const Result result = Convert(c.nType, c.nLen, c.nCapacity);
        EXPECT_EQ(result.nRet, c.nExpected) << "type " << c.nType << " capacity " << c.nCapacity;
        // A refused conversion writes nothing at all; an accepted one stays inside its capacity.
        EXPECT_TRUE(Untouched(result, static_cast<size_t>(result.nRet))) << "type " << c.nType;
        EXPECT_TRUE(Untouched(result, static_cast<size_t>(c.nCapacity))) << "type " << c.nType;
    }
    unsigned char nByte = 0;
    EXPECT_EQ(CAudioConvert().ToPcm16(nullptr, 10, &nByte, 1, 14), 0);
    EXPECT_EQ(CAudioConvert().ToPcm16(&nByte, -1, &nByte, 1, 0), 0);
}
