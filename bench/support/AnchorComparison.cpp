#include "bench/support/AnchorComparison.h"

#include "bench/BenchMeasures.h"
#include "bench/support/ChildRun.h"
#include "bench/support/DeviceAlone.h"
#include "bench/support/PacedAnchor.h"

#include <cstdio>

namespace {

// The figures of one side over the turns.
struct Side
{
    Spread cpu, switches, residentPerTile, resident, rate, dropped;

    // False when the child gave no pictures.
    bool Add(const ChildRun::Figures &f, int nStreams)
    {
        const double dPictures = ChildRun::Get(f, "pictures");
        const double dSeconds = ChildRun::Get(f, "seconds");
        if (dPictures <= 0 || dSeconds <= 0)
            return false;
        cpu.Add(ChildRun::Get(f, "cpu") / dPictures);
        switches.Add(ChildRun::Get(f, "switches") / dPictures);
        residentPerTile.Add((ChildRun::Get(f, "rss_during") - ChildRun::Get(f, "rss_before")) / nStreams);
        resident.Add(ChildRun::Get(f, "rss_during"));
        rate.Add(dPictures / dSeconds);
        dropped.Add(ChildRun::Get(f, "dropped"));
        return true;
    }

    void Print(const char *pName) const
    {
        std::printf("  %-38s %-24s %-20s %-20s %-22s %s\n", pName, cpu.Text(3, 1000.0).c_str(),
                    switches.Text(2).c_str(), residentPerTile.Text(2).c_str(), rate.Text(0).c_str(),
                    dropped.Text(0).c_str());
    }
};

} // namespace

Spread AnchorComparison::Run(const Scenario &s)
{
    Spread ratio, lessDevice, ffmpeg, beside, ports, gui, other;
    Side project, anchor, device;
    std::shared_ptr<const VideoLoop> loop = BenchMeasures::LoopOf(s.nStreamType, 0);
    if (!loop)
        return Spread();
    int nTileW = 0, nTileH = 0;
    for (int nTurn = 1; nTurn <= s.nTurns; ++nTurn) {
        std::printf("  turn %d of %d\n", nTurn, s.nTurns);
        std::fflush(stdout);
        ChildRun::Figures p, a, d;
        if (!ChildRun::Run(s.projectArgs, p) || !project.Add(p, s.nStreams)) {
            std::printf("  the project's turn failed\n");
            return Spread();
        }
        nTileW = static_cast<int>(ChildRun::Get(p, "tile_w"));
        nTileH = static_cast<int>(ChildRun::Get(p, "tile_h"));
        PacedAnchor::Settings as;
        as.nStreams = s.nStreams;
        as.nStreamType = s.nStreamType;
        as.nLabels = s.nChannelsPerLogin;
        as.nTileWidth = nTileW;
        as.nTileHeight = nTileH;
        as.nWarmMs = s.nWarmMs;
        as.nSeconds = s.nSeconds;
        DeviceAlone::Settings ds;
        ds.nStreams = s.nStreams;
        ds.nStreamType = s.nStreamType;
        ds.nChannelsPerLogin = s.nChannelsPerLogin;
        ds.nWarmMs = s.nWarmMs;
        ds.nSeconds = s.nSeconds;
        if (!ChildRun::Run(PacedAnchor::Arguments(as), a) || !anchor.Add(a, s.nStreams) ||
            !ChildRun::Run(DeviceAlone::Arguments(ds), d) || !device.Add(d, s.nStreams)) {
            std::printf("  the anchor's or the device's turn failed\n");
            return Spread();
        }
        const double dPictures = ChildRun::Get(p, "pictures");
        ports.Add(ChildRun::Get(p, "ports_cpu") / dPictures);
        gui.Add(ChildRun::Get(p, "gui_cpu") / dPictures);
        other.Add(ChildRun::Get(p, "other_cpu") / dPictures);
        const double dProject = ChildRun::Get(p, "cpu") / dPictures;
        const double dDevice = ChildRun::Get(d, "cpu") / ChildRun::Get(d, "pictures");
        const double dAnchor = ChildRun::Get(a, "cpu") / ChildRun::Get(a, "pictures");
        lessDevice.Add(dProject - dDevice);
        ratio.Add((dProject - dDevice) / dAnchor);
        const double dFfmpeg = BenchMeasures::FfmpegPerFrame(*loop);
        if (dFfmpeg > 0) {
            ffmpeg.Add(dFfmpeg);
            beside.Add(dProject / dFfmpeg);
        }
    }

    const double dExpected = static_cast<double>(s.nStreams) * loop->nFrameRate;
    std::printf("%s  %s %dx%d@%d into %dx%d tiles; %d turns of %d s, each figure the median of the turns "
                "(spread min-max)\n",
                s.strTitle.c_str(), loop->IsH265() ? "H.265" : "H.264", loop->nWidth, loop->nHeight, loop->nFrameRate,
                nTileW, nTileH, s.nTurns, s.nSeconds);
    std::printf("  %-38s %-24s %-20s %-20s %-22s %s\n", "", "CPU ms per picture", "switches/picture",
                "resident MB/tile", "pictures/s", "dropped");
    project.Print("project");
    anchor.Print("anchor: paced interleaved decode+scale");
    device.Print("simulated device alone, nothing decoded");
    std::printf("  %-38s %s  (stream rate %.0f pictures/s; resident in all %s MB)\n", "project less device",
                lessDevice.Text(3, 1000.0).c_str(), dExpected, project.resident.Text(0).c_str());
    std::printf("  %-38s decode ports %s, GUI thread %s, device and the rest %s ms\n", "project's threads per picture",
                ports.Text(3, 1000.0).c_str(), gui.Text(3, 1000.0).c_str(), other.Text(3, 1000.0).c_str());
    if (!ffmpeg.Empty())
        std::printf("  %-38s %s ms per frame decoded back to back (information; project beside it %sx)\n",
                    "ffmpeg -threads 1 -f null", ffmpeg.Text(3, 1000.0).c_str(), beside.Text(2).c_str());
    else
        std::printf("  %-38s not run (no ffmpeg on PATH)\n", "ffmpeg -threads 1 -f null");
    std::printf("  %-38s %sx\n", "project less device beside the anchor", ratio.Text(2).c_str());
    std::fflush(stdout);
    return ratio;
}
