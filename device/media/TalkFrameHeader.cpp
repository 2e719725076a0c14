#include "device/media/TalkFrameHeader.h"

TalkFrameHeader TalkFrameHeader::Make(uint8_t nAudioType, int nSampleRate, uint16_t nPayloadLength)
{
    TalkFrameHeader header{};
    header.startCode[0] = 0x00;
    header.startCode[1] = 0x00;
    header.startCode[2] = 0x01;
    header.frameTag = kFrameTag;
    header.audioType = nAudioType;
    header.rateCode = nSampleRate == 16000 ? kRate16000 : kRate8000;
    header.payloadLength[0] = static_cast<uint8_t>(nPayloadLength & 0xFF);
    header.payloadLength[1] = static_cast<uint8_t>(nPayloadLength >> 8);
    return header;
}

uint16_t TalkFrameHeader::PayloadLength() const
{
    return static_cast<uint16_t>(payloadLength[0] | (payloadLength[1] << 8));
}

int TalkFrameHeader::FrameLength() const
{
    return PayloadLength() + static_cast<int>(sizeof(TalkFrameHeader));
}
