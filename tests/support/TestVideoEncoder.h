#pragma once

#include <cstdint>
#include <vector>

// Encodes the moving test pattern with libx264 or libx265 into Annex B access units, each key frame
// carrying its parameter sets, no B-frames: what a device stream delivers. For feeding the MP4 writer.
class TestVideoEncoder
{
public:
    enum class Codec { H264, H265 };

    struct AccessUnit
    {
        std::vector<uint8_t> data;
        bool bKey = false;
    };

    // nFrames pictures of nWidth x nHeight at nFps, a key frame every nGop frames. Empty on failure.
    static std::vector<AccessUnit> Encode(Codec codec, int nWidth, int nHeight, int nFps, int nFrames, int nGop);
};
