// The G.711 converters, CAudioConvert::ToPcm16 and the talk frame header. Input: a byte choosing the audio type,
// two bytes giving the output capacity, then the data (as PCM16 samples, as G.711 codes and as ToPcm16 input).
// Checks: A-law and mu-law round trips stay within half a quantisation step of the code's segment (mu-law also
// within its clip), keep the sign and the order of samples, and re-encode a decoded code to itself; an odd last
// byte is dropped; ToPcm16 follows the length rules of each type, writes nothing past the capacity it is given
// (the output is a heap buffer of exactly that size) nor past its result; a talk frame header lays out its bytes
// and reads back as one audio block.

#include "FuzzSupport.h"

#include "device/media/CAudioConvert.h"
#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"
#include "device/media/TalkFrameHeader.h"
#include "platform/stream_block.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kUntouched = 0xA5;

int16_t SampleAt(const uint8_t *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

// Half the width of the A-law interval that the code stands for: 8 in segments 0 and 1, doubling from there.
int AlawHalfStep(uint8_t nCode)
{
    const int nSegment = ((nCode ^ 0x55) >> 4) & 7;
    return nSegment == 0 ? 8 : 8 << (nSegment - 1);
}

bool AlawPositive(uint8_t nCode) { return ((nCode ^ 0x55) & 0x80) != 0; }

int UlawHalfStep(uint8_t nCode) { return 4 << ((~nCode >> 4) & 7); }

bool UlawPositive(uint8_t nCode) { return (nCode & 0x80) != 0; }

struct Law
{
    const char *pName;
    int (*encode)(const unsigned char *, unsigned char *, int, int *);
    uint8_t (*encodeSample)(int16_t);
    int16_t (*decode)(uint8_t);
    int (*halfStep)(uint8_t);
    bool (*positive)(uint8_t);
    int nClip;
};

const Law kLaws[] = {
    {"A-law", G711AlawEncode, G711AlawEncodeSample, G711AlawDecode, AlawHalfStep, AlawPositive, 32767},
    {"mu-law", G711UlawEncode, G711UlawEncodeSample, G711UlawDecode, UlawHalfStep, UlawPositive, 32635},
};

void CheckLaw(const Law &law, const uint8_t *pData, size_t nSize)
{
    const std::string strLaw = law.pName;
    const int nLen = static_cast<int>(nSize);
    const int nCount = nLen / 2;
    std::unique_ptr<unsigned char[]> in(new unsigned char[nSize ? nSize : 1]);
    if (nSize)
        std::memcpy(in.get(), pData, nSize);
    // Exactly one code per whole sample: an odd last byte is not read into a code.
    std::unique_ptr<unsigned char[]> codes(new unsigned char[nCount ? nCount : 1]);
    int nOutCount = -1;
    FUZZ_CHECK(law.encode(in.get(), codes.get(), nLen, &nOutCount) == 1, strLaw + " encoder result");
    FUZZ_CHECK(nOutCount == nCount, strLaw + " encoded " + std::to_string(nOutCount) + " of " + std::to_string(nCount));

    int nPrevSample = 0, nPrevDecoded = 0;
    for (int i = 0; i < nCount; ++i) {
        const int16_t nSample = SampleAt(pData + 2 * i);
        const uint8_t nCode = codes[i];
        FUZZ_CHECK(nCode == law.encodeSample(nSample), strLaw + " buffer and sample encoders differ");
        const int nDecoded = law.decode(nCode);
        const int nMagnitude = std::min(nSample == -32768 ? 32767 : std::abs(static_cast<int>(nSample)), law.nClip);
        const int nError = std::abs(nMagnitude - std::abs(nDecoded));
        FUZZ_CHECK(nError <= law.halfStep(nCode),
                   strLaw + " sample " + std::to_string(nSample) + " came back as " + std::to_string(nDecoded));
        FUZZ_CHECK(law.positive(nCode) == (nSample >= 0) && (nDecoded > 0) == (nSample >= 0),
                   strLaw + " sample " + std::to_string(nSample) + " lost its sign");
        if (i > 0) {
            FUZZ_CHECK((nSample < nPrevSample) == (nDecoded < nPrevDecoded) || nDecoded == nPrevDecoded,
                       strLaw + " samples " + std::to_string(nPrevSample) + ", " + std::to_string(nSample) +
                           " came back out of order");
        }
        nPrevSample = nSample;
        nPrevDecoded = nDecoded;
    }
    // A decoded code is a level of the law: it encodes to the same code.
    for (size_t i = 0; i < nSize; ++i)
        FUZZ_CHECK(law.encodeSample(law.decode(pData[i])) == pData[i],
                   strLaw + " code " + std::to_string(pData[i]) + " does not survive decode and encode");
}

// What ToPcm16 gives for the type: the result length and, when it converts, the output bytes.
int Expected(int nType, const uint8_t *pIn, int nLen, int nCapacity, std::vector<uint8_t> &out)
{
    if (nLen <= 0 || nCapacity <= 0)
        return 0;
    auto g711 = [&](int16_t (*decode)(uint8_t)) {
        if (nLen >= 1536 || 2 * nLen > nCapacity)
            return 0;
        for (int i = 0; i < nLen; ++i) {
            const auto nSample = static_cast<uint16_t>(decode(pIn[i]));
            out.push_back(static_cast<uint8_t>(nSample & 0xFF));
            out.push_back(static_cast<uint8_t>(nSample >> 8));
        }
        return 2 * nLen;
    };
    switch (nType) {
    case 14: return g711(G711AlawDecode);
    case 10:
    case 22: return g711(G711UlawDecode);
    case 12:
        // Whole samples only.
        if (nLen / 2 * 2 > nCapacity)
            return 0;
        out.assign(pIn, pIn + nLen / 2 * 2);
        return nLen / 2 * 2;
    case 15:
    case 30:
        if (nLen >= 3072 || nLen > nCapacity)
            return 0;
        out.assign(pIn, pIn + nLen);
        return nLen;
    case 9:
    case 11:
    case 13: return 0;
    default:
        if (nLen > 3072 || nLen > nCapacity)
            return 0;
        for (int i = 0; i < nLen; ++i)
            out.push_back(static_cast<uint8_t>(pIn[i] - 128));
        return nLen;
    }
}

void CheckToPcm16(int nType, int nCapacity, const uint8_t *pData, size_t nSize)
{
    const int nLen = static_cast<int>(nSize);
    std::unique_ptr<unsigned char[]> in(new unsigned char[nSize ? nSize : 1]);
    if (nSize)
        std::memcpy(in.get(), pData, nSize);
    std::unique_ptr<unsigned char[]> out(new unsigned char[nCapacity ? nCapacity : 1]);
    std::memset(out.get(), kUntouched, nCapacity ? nCapacity : 1);
    const int nRet = CAudioConvert().ToPcm16(in.get(), nLen, out.get(), nCapacity, nType);

    std::vector<uint8_t> expected;
    const int nExpected = Expected(nType, pData, nLen, nCapacity, expected);
    const std::string strCase = "type " + std::to_string(nType) + ", " + std::to_string(nLen) + " bytes into " +
                                std::to_string(nCapacity);
    FUZZ_CHECK(nRet == nExpected, strCase + ": result " + std::to_string(nRet) + ", expected " + std::to_string(nExpected));
    FUZZ_CHECK(expected.empty() || std::memcmp(out.get(), expected.data(), expected.size()) == 0,
               strCase + ": wrong output");
    for (int i = nRet; i < nCapacity; ++i)
        FUZZ_CHECK(out[i] == kUntouched, strCase + ": wrote byte " + std::to_string(i) + " past its result");
}

void CheckTalkFrameHeader(const uint8_t *pData, size_t nSize)
{
    const uint8_t nType = static_cast<uint8_t>(TakeLe(pData, nSize, 1));
    const uint32_t nRateChoice = TakeLe(pData, nSize, 1);
    const int nRate = nRateChoice % 3 == 0 ? 8000 : nRateChoice % 3 == 1 ? 16000 : static_cast<int>(TakeLe(pData, nSize, 4));
    const auto nLength = static_cast<uint16_t>(TakeLe(pData, nSize, 2));
    const TalkFrameHeader header = TalkFrameHeader::Make(nType, nRate, nLength);
    uint8_t bytes[sizeof(TalkFrameHeader)];
    std::memcpy(bytes, &header, sizeof bytes);
    const uint8_t expected[8] = {0x00, 0x00, 0x01, 0xFA, nType, static_cast<uint8_t>(nRate == 16000 ? 0x04 : 0x02),
                                 static_cast<uint8_t>(nLength & 0xFF), static_cast<uint8_t>(nLength >> 8)};
    FUZZ_CHECK(std::memcmp(bytes, expected, sizeof bytes) == 0, "talk frame header bytes for rate " + std::to_string(nRate));
    FUZZ_CHECK(header.PayloadLength() == nLength && header.FrameLength() == nLength + 8, "talk frame lengths");

    // A frame is an audio block of the data block format.
    std::vector<uint8_t> frame(bytes, bytes + sizeof bytes);
    frame.resize(frame.size() + nLength, 0x33);
    StreamBlock::Parser parser;
    size_t nBlocks = 0;
    parser.Feed(frame.data(), frame.size(), [&](const StreamBlock::View &v) {
        FUZZ_CHECK(v.IsAudio() && v.nCodec == nType && v.nRateCode == expected[5] && v.nPayload == nLength &&
                       v.nBlockSize == frame.size(),
                   "a talk frame does not read back as its audio block");
        ++nBlocks;
    });
    FUZZ_CHECK(nBlocks == 1 && parser.PendingBytes() == 0 && parser.SkippedBytes() == 0, "a talk frame is not one block");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pcm;
    for (int i = 0; i < 400; ++i) {
        const int16_t n = static_cast<int16_t>((i * 2731) ^ (i << 9));
        pcm.push_back(static_cast<char>(n & 0xFF));
        pcm.push_back(static_cast<char>((n >> 8) & 0xFF));
    }
    const std::string edges("\x00\x00\xff\xff\xff\x7f\x01\x80\x00\x80\x0f\x00\xf0\xff\x7b\x7f\x85\x80\x01", 19);
    WriteSeeds({
        std::string("\x00\x00\x10", 3) + pcm,             // A-law, 4096 bytes of room
        std::string("\x01\xff\x07", 3) + pcm + "x",       // mu-law, odd length
        std::string("\x03\x20\x03", 3) + pcm,             // PCM16 copy, 800 bytes of room
        std::string("\x04\x00\x0c", 3) + edges,
        std::string("\x50\x00\x0c", 3) + edges,           // 8-bit PCM
        std::string("\x06\x00\x00", 3) + edges,           // refused type
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    static const int kTypes[] = {14, 10, 22, 12, 15, 30, 9, 11, 13};
    const uint32_t nChoice = TakeLe(pData, nSize, 1);
    const int nType = nChoice < 2 * std::size(kTypes) ? kTypes[nChoice % std::size(kTypes)]
                                                      : static_cast<int8_t>(nChoice);
    const int nCapacity = static_cast<int>(TakeLe(pData, nSize, 2) % 8200);

    for (const Law &law : kLaws)
        CheckLaw(law, pData, nSize);
    CheckToPcm16(nType, nCapacity, pData, nSize);
    CheckTalkFrameHeader(pData, nSize);
    return 0;
}
