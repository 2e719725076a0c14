#include "tests/support/Mp4Frames.h"

FrameInfo Mp4VideoFrame(const std::vector<uint8_t> &data, bool bKeyFrame, int nCodec, int nFrameRate, int nWidth,
                        int nHeight)
{
    FrameInfo frame;
    frame.pData = data.data();
    frame.nLength = static_cast<int>(data.size());
    frame.nFrameType = CMp4Writer::kFrameVideo;
    frame.nSubType = bKeyFrame ? 0 : 1;
    frame.nCodec = nCodec;
    frame.nFrameRate = nFrameRate;
    frame.nWidth = nWidth;
    frame.nHeight = nHeight;
    return frame;
}

FrameInfo Mp4AudioFrame(const std::vector<uint8_t> &data, int nCodec, int nSampleRate, int nBitsPerSample)
{
    FrameInfo frame;
    frame.pData = data.data();
    frame.nLength = static_cast<int>(data.size());
    frame.nFrameType = CMp4Writer::kFrameAudio;
    frame.nCodec = nCodec;
    frame.nChannels = 1;
    frame.nBitsPerSample = nBitsPerSample;
    frame.nSampleRate = nSampleRate;
    return frame;
}
