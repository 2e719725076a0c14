#include "device/media/TalkFrameHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const TalkFrameHeader &header)
{
    std::vector<uint8_t> vec(sizeof(header));
    std::memcpy(vec.data(), &header, sizeof(header));
    return vec;
}

} // namespace

TEST(TalkFrameHeader, BytesOnTheWire)
{
    struct Case
    {
        uint8_t nType;
        int nRate;
        uint16_t nLength;
        std::vector<uint8_t> vecExpected;
    };
    const Case kCases[] = {
        {TalkFrameHeader::kAudioAlaw, 16000, 320, {0x00, 0x00, 0x01, 0xFA, 0x0E, 0x04, 0x40, 0x01}},
        {TalkFrameHeader::kAudioAlaw, 8000, 160, {0x00, 0x00, 0x01, 0xFA, 0x0E, 0x02, 0xA0, 0x00}},
        // Any rate but 16000 Hz gets the 8000 Hz code.
        {TalkFrameHeader::kAudioUlaw, 11025, 0xFFFF, {0x00, 0x00, 0x01, 0xFA, 0x0A, 0x02, 0xFF, 0xFF}},
    };
    for (const Case &c : kCases) {
        const TalkFrameHeader header = TalkFrameHeader::Make(c.nType, c.nRate, c.nLength);
        EXPECT_EQ(Bytes(header), c.vecExpected) << "rate " << c.nRate << " length " << c.nLength;
        EXPECT_EQ(header.PayloadLength(), c.nLength);
        EXPECT_EQ(header.FrameLength(), c.nLength + 8);
    }
}
