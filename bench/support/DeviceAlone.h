#pragma once

#include <string>
#include <vector>

// The simulated device alone: the same live streams opened through CQZConnect as the project opens them, their
// blocks taken by a data callback that only counts them; nothing decoded, nothing drawn. What it costs per
// picture is the device's share of the project's cost.
class DeviceAlone
{
public:
    struct Settings
    {
        int nStreams = 64;
        int nStreamType = 1;            // 0 main, 1 sub
        int nChannelsPerLogin = 16;     // stream i plays channel i % this, on login i / this
        int nWarmMs = 1500;
        int nSeconds = 6;
    };

    // The child's arguments, and the child's mode: runs and prints the figures (video blocks delivered as
    // "pictures", seconds, CPU, switches, resident memory before the streams and during).
    static std::vector<std::string> Arguments(const Settings &s);
    static bool IsMode(int argc, char **argv);
    static int Main(int argc, char **argv);
};
