#pragma once

#include "standin/pavline/PictureRenderer.h"

#include <cstdint>

// What a port has done, for tests and benchmarks.
struct PortStats
{
    bool bOpen = false;
    bool bFile = false;
    bool bPlaying = false;
    bool bPaused = false;
    bool bStepping = false;
    int nSpeed = 0;                 // -4 (1/16) .. 4 (16 times)
    int nStreamMode = 0;
    int nPictureCache = 0;
    int64_t nInputCalls = 0;
    int64_t nInputRefused = 0;
    int64_t nUnitsSkipped = 0;      // video before the first key frame, and cut from a growing live delay
    int64_t nPicturesDecoded = 0;
    int64_t nPicturesShown = 0;
    int64_t nPicturesDropped = 0;   // decoded but never shown (late, or cut)
    int64_t nPicturesPassed = 0;    // decoded on the way from a key frame to a seek's target, not shown
    int64_t nDecodeErrors = 0;
    int64_t nDecodeCallbacks = 0;
    int64_t nFileEndCallbacks = 0;
    int64_t nAudioUnits = 0;        // audio units that reached the front of the port (heard or not)
    int64_t nWakes = 0;             // times a worker serviced the port
    int64_t nLastShownMs = 0;
    RenderSettings settings;
};
