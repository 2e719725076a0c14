#pragma once

#include <string>
#include <vector>

// The fair anchor of the live tiles: one process, one thread, that decodes every stream's pictures at the
// stream's frame rate, interleaved, and converts each picture to its tile's size, with libavcodec and libswscale
// and nothing else (no queue, no lock, no window). Its streams are the simulated device's loops of the same
// profile and channels; their phases are spread evenly over a frame interval, as streams opened one after
// another are.
class PacedAnchor
{
public:
    struct Settings
    {
        int nStreams = 64;
        int nStreamType = 1;    // 0 main, 1 sub profile of the built-in device
        int nLabels = 16;       // stream i plays channel i % nLabels
        int nTileWidth = 160;
        int nTileHeight = 90;
        int nWarmMs = 1500;
        int nSeconds = 6;
    };

    // The child's arguments for the settings, and the child's mode: runs and prints the figures (pictures drawn,
    // seconds, CPU, switches, resident memory before the decoders and during).
    static std::vector<std::string> Arguments(const Settings &s);
    static bool IsMode(int argc, char **argv);
    static int Main(int argc, char **argv);
};
