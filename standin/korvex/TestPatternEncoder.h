#pragma once

#include "standin/korvex/MediaLoop.h"

#include <cstdint>
#include <string>
#include <vector>

// Draws a test pattern (colour bars, a moving box, the channel number and the time within the loop) and
// encodes it with libavcodec: H.264 through libx264, H.265 through libx265, a picture through the JPEG encoder.
class TestPatternEncoder
{
public:
    struct Settings
    {
        uint8_t nCodec = 2;     // block codec: 2 H.264, 3 H.265
        int nWidth = 640;
        int nHeight = 360;
        int nFrameRate = 25;
        int nFrameCount = 50;   // length of the loop
        int nKeyInterval = 25;  // frames from one key frame to the next
        int nLabel = 0;         // the channel number shown (0-based; drawn as 1-based)
    };

    // One picture of the pattern into the three planes of a YUV 4:2:0 image.
    static void Draw(uint8_t *pY, int nStrideY, uint8_t *pU, int nStrideU, uint8_t *pV, int nStrideV, int nWidth,
                     int nHeight, int nLabel, int nFrame, int nFrameRate, int nFrameCount);

    // Encodes a loop of nFrameCount frames. Key frames are IDR frames with their parameter sets; there are no
    // B-frames, so frames come out in display order.
    static bool EncodeLoop(const Settings &settings, VideoLoop &loop, std::string &strError);

    // One JPEG picture of the pattern (the first frame of the loop).
    static bool EncodeJpeg(int nWidth, int nHeight, int nLabel, std::vector<uint8_t> &out, std::string &strError);
};
