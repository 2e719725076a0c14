#include "tests/support/TestVideoEncoder.h"

#include "standin/korvex/TestPatternEncoder.h"

#include <cstdio>

// The simulated device's own test-pattern encoder makes the frames, so tests feed the writer what a device sends.
std::vector<TestVideoEncoder::AccessUnit> TestVideoEncoder::Encode(Codec codec, int nWidth, int nHeight, int nFps,
                                                                   int nFrames, int nGop)
{
    TestPatternEncoder::Settings settings;
    settings.nCodec = codec == Codec::H265 ? 3 : 2;
    settings.nWidth = nWidth;
    settings.nHeight = nHeight;
    settings.nFrameRate = nFps;
    settings.nFrameCount = nFrames;
    settings.nKeyInterval = nGop;
    VideoLoop loop;
    std::string strError;
    std::vector<AccessUnit> units;
    if (!TestPatternEncoder::EncodeLoop(settings, loop, strError)) {
        std::fprintf(stderr, "test video encoder: %s\n", strError.c_str());
        return units;
    }
    for (EncodedFrame &frame : loop.frames)
        units.push_back(AccessUnit{std::move(frame.data), frame.bKeyFrame});
    return units;
}
