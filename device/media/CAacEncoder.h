#pragma once

#include "platform/AvPointers.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// AAC-LC encoder over FFmpeg's native "aac" encoder, offering what the MP4 writer needs of an AAC library:
// interleaved 16-bit PCM in, a fixed number of samples per call (frame size x channels), raw AAC frames out
// and the AudioSpecificConfig for the container.
class CAacEncoder
{
public:
    CAacEncoder();
    ~CAacEncoder();
    CAacEncoder(const CAacEncoder &) = delete;
    CAacEncoder &operator=(const CAacEncoder &) = delete;

    // Opens the encoder; nInputSamples gets the samples one Encode call takes (all channels together) and
    // nMaxOutputBytes the largest output of one call. False when the rate or channels are not supported.
    bool Open(int nSampleRate, int nChannels, int &nInputSamples, int &nMaxOutputBytes);

    // Encodes nSamples interleaved samples (at most the input samples per call; a shorter block is the last one
    // of the stream). Returns the bytes of one raw AAC frame written to pOut, 0 while the encoder still fills its
    // delay, -1 on failure or when the frame does not fit nOutSize.
    int Encode(const int16_t *pSamples, int nSamples, uint8_t *pOut, int nOutSize);
    // After the last block: the frames the encoder still holds, one a call. Returns the bytes of one frame, 0 when
    // none is left, -1 on failure.
    int Flush(uint8_t *pOut, int nOutSize);

    // The frame last returned, in samples of one channel: where it plays (the first frames carry the encoder's
    // start-up delay and play before 0) and how long (the last one only as long as the sound it holds).
    int64_t FramePts() const { return m_nFramePts; }
    int64_t FrameDuration() const { return m_nFrameDuration; }

    const std::vector<uint8_t> &ExtraData() const { return m_vecExtraData; }
    int SampleRate() const { return m_nSampleRate; }
    int Channels() const { return m_nChannels; }

private:

    int ReceiveFrame(uint8_t *pOut, int nOutSize);

    AvCodecContextPtr m_pCodec;
    AvFramePtr m_pFrame;
    AvPacketPtr m_pPacket;
    std::vector<uint8_t> m_vecExtraData;
    int m_nSampleRate = 0;
    int m_nChannels = 0;
    int m_nFrameSize = 0;
    int64_t m_nNextPts = 0;
    bool m_bFlushed = false;
    int64_t m_nFramePts = 0;
    int64_t m_nFrameDuration = 0;
};
