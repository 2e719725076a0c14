#pragma once

#include "standin/korvex/MediaLoop.h"

#include <string>

// The video of a media file (H.264 or H.265, any container libavformat reads) as a loop of Annex-B access
// units: from its first key frame, at most nMaxFrames frames, cut before the last key frame so the loop
// joins cleanly.
class MediaFileSource
{
public:
    static bool Load(const std::string &strPath, int nMaxFrames, VideoLoop &loop, std::string &strError);
};
