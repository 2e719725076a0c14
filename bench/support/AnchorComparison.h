#pragma once

#include "bench/support/Spread.h"

#include <string>
#include <vector>

// One scenario of the live tiles measured in turns, each turn in processes of their own one after another: the
// project, the paced anchor on the same streams into tiles of the project's size, and the simulated device alone
// (its streams running, nothing decoded); then ffmpeg on one of the streams, for information. Prints per figure
// the median of the turns and their spread, and the project's CPU per picture less the device's beside the
// anchor's.
class AnchorComparison
{
public:
    struct Scenario
    {
        std::string strTitle;           // "64 sub streams"
        int nStreams = 64;
        int nStreamType = 1;            // 0 main, 1 sub
        int nChannelsPerLogin = 16;     // stream i plays channel i % this
        int nWarmMs = 1500;
        int nSeconds = 6;
        int nTurns = 3;
        // The project's child: its arguments. It prints the figures of PacedAnchor's (pictures drawn) and the
        // size of its tiles ("tile_w", "tile_h"); "ports_cpu", "gui_cpu" and "other_cpu" when it has them.
        std::vector<std::string> projectArgs;
    };

    // The ratio's turns (empty when a turn failed).
    static Spread Run(const Scenario &s);
};
