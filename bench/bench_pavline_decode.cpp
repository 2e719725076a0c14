// The program's live video path on the simulated device's streams: CQZConnect live streams whose data callback
// hands every block to a CDecodeChannel, which plays it into a small native-window tile of a grid, at each
// profile's own frame rate, beside the fair anchor and the simulated device alone on the same streams.
//
//   bench_pavline_decode [seconds per window, default 6] [sub|main: that scenario only] [--streams N] [--turns N]
//   bench_pavline_decode --seconds N     soak: 64 sub streams for N seconds, resident memory slope after warm-up
//
// Scenarios: 64 sub streams (640x360 H.264, 15 fps) in 160x90 tiles, 16 main streams (1280x720 H.265, 25 fps)
// in 320x180 tiles. Each is measured in turns (three by default); a turn runs, one after another and each in a
// process of its own: the project; the anchor, one thread decoding the same streams paced at their frame rate and
// interleaved, scaling each picture to the project's tile size (libavcodec and libswscale only); the simulated
// device alone, its streams running and nothing decoded; and ffmpeg -threads 1 -f null on one stream, for
// information (its cost per frame is the difference between decoding 4N and N frames, so its start-up is not
// spread over the frames). Every figure is the median of the turns with their spread. Per picture drawn: the
// whole process's CPU time and context switches (every thread); per tile: the resident memory the tiles added.
// The last line gives the project's CPU per picture less the device's, beside the anchor's.

#include "bench/BenchMeasures.h"
#include "bench/support/AnchorComparison.h"
#include "bench/support/ChildRun.h"
#include "bench/support/DeviceAlone.h"
#include "bench/support/PacedAnchor.h"
#include "bench/support/ProcessSample.h"
#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "platform/winapi.h"
#include "runtime/LightWeightLog.h"
#include "standin/pavline/PavlineControl.h"

#include <QApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;       // of the built-in device
constexpr int kWarmMs = 1500;
const char kProjectMode[] = "--project";

struct Scenario
{
    const char *pName;
    int nStreams;
    int nStreamType;                // 0 main, 1 sub
};

void Wait(int nMilliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(nMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// One live tile: the stream's decode channel, as the live page keeps it.
struct Tile
{
    explicit Tile(int nPort)
        : channel(nPort)
    {
    }
    CDecodeChannel channel;
    int lPlay = 0;
};

// The live page's data callback: every block to the channel's decode port.
int32_t OnLiveData(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    auto *pTile = static_cast<Tile *>(pUser);
    if (pFrame && pFrame->pData)
        pTile->channel.InputData(pFrame->pData, pFrame->nDataLength, pFrame);
    return 1;
}

// The live page's decode callback: the overlay of channel 0 is drawn over every picture.
void OnDecoded(int32_t, void *pDC, HWND, void *pUser)
{
    if (reinterpret_cast<intptr_t>(pUser) != 0)
        return;
    HDC hDC = static_cast<HDC>(pDC);
    static const HPEN hPen = CreatePen(PS_SOLID, 1, RGB(255, 255, 0));
    HGDIOBJ hOld = SelectObject(hDC, hPen);
    MoveToEx(hDC, 4, 4, nullptr);
    LineTo(hDC, 40, 4);
    LineTo(hDC, 40, 30);
    SelectObject(hDC, hOld);
}

// The streams of a scenario playing into a tile grid; stopped and closed when it goes.
class LiveWall
{
public:
    LiveWall(const Scenario &s, bool *pOk)
        : m_top(new QWidget)
    {
        *pOk = false;
        m_top->resize(1280, 720);
        auto *pLayout = new QGridLayout(m_top.get());
        pLayout->setContentsMargins(0, 0, 0, 0);
        pLayout->setSpacing(0);
        const int nCols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(s.nStreams))));
        for (int i = 0; i < s.nStreams; ++i) {
            auto *pTile = new QWidget(m_top.get());
            pTile->setAttribute(Qt::WA_NativeWindow);
            pLayout->addWidget(pTile, i / nCols, i % nCols);
            m_widgets.push_back(pTile);
        }
        m_top->show();
        QApplication::processEvents();

        CQZConnect *pConnect = CQZConnect::GetInstance();
        for (int i = 0; i < s.nStreams; ++i) {
            if (i % kChannels == 0) {
                DevLoginInfo info{};
                std::strcpy(info.IP, "127.0.0.1");
                info.Port = 34567;
                std::strcpy(info.User, "admin");
                int nError = 0;
                const int lLogin = pConnect->ConnectDevice(info, nError, "");
                if (lLogin <= 0) {
                    std::printf("login failed: %d\n", nError);
                    return;
                }
                m_logins.push_back(lLogin);
            }
            auto pTile = std::make_unique<Tile>(i);
            CDecodeChannel &channel = pTile->channel;
            channel.SetPlayWnd(reinterpret_cast<HWND>(m_widgets[static_cast<size_t>(i)]->winId()));
            channel.SetDecCallBack(&OnDecoded, reinterpret_cast<void *>(static_cast<intptr_t>(i)));
            if (!channel.Open(1) || !channel.StartPreview()) {
                std::printf("port %d does not play: error %d\n", i, KTN_VIEW_GetLastError());
                return;
            }
            pTile->lPlay =
                pConnect->ConnectChanel_V2(m_logins.back(), i % kChannels, s.nStreamType, &OnLiveData, pTile.get());
            if (pTile->lPlay <= 0) {
                std::printf("stream %d does not start: %d\n", i, pTile->lPlay);
                return;
            }
            m_tiles.push_back(std::move(pTile));
        }
        *pOk = true;
    }

    ~LiveWall()
    {
        CQZConnect *pConnect = CQZConnect::GetInstance();
        for (auto &pTile : m_tiles) {
            if (pTile->lPlay > 0)
                pConnect->DisconnectChannel_V2(pTile->lPlay, &OnLiveData, pTile.get());
            pTile->channel.StopPreview();
            pTile->channel.Close();
        }
        m_tiles.clear();
        for (int lLogin : m_logins)
            pConnect->DisconnectDevice(lLogin);
    }

    struct Counts
    {
        int64_t nShown = 0, nDropped = 0, nRefused = 0, nErrors = 0;
    };
    Counts Count() const
    {
        Counts c;
        for (const auto &pTile : m_tiles) {
            const PortStats st = PavlineControl::Stats(pTile->channel.GetPort());
            c.nShown += st.nPicturesShown;
            c.nDropped += st.nPicturesDropped + st.nUnitsSkipped;
            c.nRefused += st.nInputRefused;
            c.nErrors += st.nDecodeErrors;
        }
        return c;
    }
    QSize TileSize() const { return m_widgets.empty() ? QSize() : m_widgets.front()->size(); }

private:
    std::unique_ptr<QWidget> m_top;
    std::vector<QWidget *> m_widgets;
    std::vector<int> m_logins;
    std::vector<std::unique_ptr<Tile>> m_tiles;
};

// The project's child of a turn: the scenario's wall for a window of seconds after the warm-up; prints the figures
// AnchorComparison reads.
int ProjectTurn(const Scenario &s, int nWarmMs, int nSeconds)
{
    for (int i = 0; i < std::min(s.nStreams, kChannels); ++i)
        if (!BenchMeasures::LoopOf(s.nStreamType, i))
            return 1;
    const ProcessSample before = ProcessSample::Take();
    bool bOk = false;
    auto pWall = std::make_unique<LiveWall>(s, &bOk);
    if (!bOk)
        return 1;
    Wait(nWarmMs);  // the streams' first key frames, the decoders' start
    const LiveWall::Counts c0 = pWall->Count();
    const BenchMeasures::ThreadCpu t0 = BenchMeasures::ThreadTimes();
    const ProcessSample first = ProcessSample::Take();
    const Clock::time_point tp0 = Clock::now();
    Wait(nSeconds * 1000);
    const double dSeconds = std::chrono::duration<double>(Clock::now() - tp0).count();
    const ProcessSample last = ProcessSample::Take();
    const BenchMeasures::ThreadCpu t1 = BenchMeasures::ThreadTimes();
    const LiveWall::Counts c1 = pWall->Count();
    const QSize tile = pWall->TileSize();
    pWall.reset();
    if (c1.nRefused > c0.nRefused || c1.nErrors > c0.nErrors)
        std::printf("input refused %lld times, decode errors %lld\n", static_cast<long long>(c1.nRefused - c0.nRefused),
                    static_cast<long long>(c1.nErrors - c0.nErrors));
    ChildRun::Put("pictures", static_cast<double>(c1.nShown - c0.nShown));
    ChildRun::Put("seconds", dSeconds);
    ChildRun::Put("cpu", last.dCpuSeconds - first.dCpuSeconds);
    ChildRun::Put("switches", static_cast<double>(last.nSwitches - first.nSwitches));
    ChildRun::Put("rss_before", before.dResidentMb);
    ChildRun::Put("rss_during", last.dResidentMb);
    ChildRun::Put("dropped", static_cast<double>(c1.nDropped - c0.nDropped));
    ChildRun::Put("tile_w", tile.width());
    ChildRun::Put("tile_h", tile.height());
    ChildRun::Put("ports_cpu", t1.dPorts - t0.dPorts);
    ChildRun::Put("gui_cpu", t1.dGui - t0.dGui);
    ChildRun::Put("other_cpu", t1.dDevice - t0.dDevice);
    return 0;
}

// 64 sub streams for nSeconds: the resident memory each second, and its slope (least squares) after the first
// third of the run.
int Soak(int nSeconds)
{
    const Scenario s{"sub", 64, 1};
    bool bOk = false;
    auto pWall = std::make_unique<LiveWall>(s, &bOk);
    if (!bOk)
        return 1;
    std::vector<double> times, rss;
    const Clock::time_point t0 = Clock::now();
    for (int i = 1; i <= nSeconds; ++i) {
        Wait(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  t0 + std::chrono::seconds(i) - Clock::now())
                                  .count()));
        times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        rss.push_back(ProcessSample::Take().dResidentMb);
        if (i % 5 == 0 || i == nSeconds)
            std::printf("  %4d s  resident %8.1f MB\n", i, rss.back());
        std::fflush(stdout);
    }
    const LiveWall::Counts c = pWall->Count();
    pWall.reset();
    const size_t nFrom = times.size() / 3;
    double dSlope = 0.0;
    const size_t n = times.size() - nFrom;
    if (n >= 2) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (size_t i = nFrom; i < times.size(); ++i) {
            sx += times[i];
            sy += rss[i];
            sxx += times[i] * times[i];
            sxy += times[i] * rss[i];
        }
        const double dn = static_cast<double>(n);
        dSlope = (dn * sxy - sx * sy) / (dn * sxx - sx * sx);
    }
    std::printf("  pictures drawn %lld, dropped %lld\n", static_cast<long long>(c.nShown),
                static_cast<long long>(c.nDropped));
    std::printf("resident memory slope after warm-up (from %.0f s): %+.3f MB/s beside flat (0 MB/s); %.1f MB at %.0f s, "
                "%.1f MB at the end\n",
                times[nFrom], dSlope, rss[nFrom], times[nFrom], rss.back());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (PacedAnchor::IsMode(argc, argv))
        return PacedAnchor::Main(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    unsetenv("KORVEX_DEVICES");
    if (DeviceAlone::IsMode(argc, argv))
        return DeviceAlone::Main(argc, argv);

    Scenario scenarios[] = {
        {"sub", 64, 1},
        {"main", 16, 0},
    };
    const bool bProject = argc > 1 && std::strcmp(argv[1], kProjectMode) == 0;
    int nSeconds = 6, nSoak = 0, nStreams = 0, nTurns = 3;
    std::string strOnly;
    for (int i = bProject ? 2 : 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            nSoak = std::max(3, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--streams") == 0 && i + 1 < argc)
            nStreams = std::max(1, std::min(64, std::atoi(argv[++i])));
        else if (std::strcmp(argv[i], "--turns") == 0 && i + 1 < argc)
            nTurns = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "sub") == 0 || std::strcmp(argv[i], "main") == 0)
            strOnly = argv[i];
        else
            nSeconds = std::max(1, std::atoi(argv[i]));
    }
    for (Scenario &s : scenarios)
        if (nStreams > 0)
            s.nStreams = nStreams;

    QApplication app(argc, argv);
    // The program's log stays off: its set-up lines are not what is measured.
    QTemporaryDir logDir;
    {
        QSettings settings(logDir.filePath("ClientCfg.ini"), QSettings::IniFormat);
        settings.setValue("Enable/PrintLogEn", 0);
    }
    LightWeightLog::CreateInstance(logDir.path());
    if (bProject || nSoak > 0) {
        if (!CQZConnect::GetInstance()->InitKorvex(nullptr, nullptr)) {
            std::printf("the device library does not start: %d\n", ZDK_DEV_GetLastError());
            return 1;
        }
        int nRet = 1;
        if (nSoak > 0) {
            std::printf("soak: 64 sub streams for %d s\n", nSoak);
            nRet = Soak(nSoak);
        } else {
            for (const Scenario &s : scenarios)
                if (strOnly == s.pName)
                    nRet = ProjectTurn(s, kWarmMs, nSeconds);
        }
        CQZConnect::GetInstance()->Cleanup();
        PavlineControl::Reset();
        return nRet;
    }

    std::printf("live streams through CQZConnect into CDecodeChannel tiles, %ld cores\n", sysconf(_SC_NPROCESSORS_ONLN));
    Spread ratios[2];
    for (size_t i = 0; i < 2; ++i) {
        const Scenario &s = scenarios[i];
        if (!strOnly.empty() && strOnly != s.pName)
            continue;
        AnchorComparison::Scenario c;
        c.strTitle = std::to_string(s.nStreams) + " " + s.pName + " streams";
        c.nStreams = s.nStreams;
        c.nStreamType = s.nStreamType;
        c.nChannelsPerLogin = kChannels;
        c.nWarmMs = kWarmMs;
        c.nSeconds = nSeconds;
        c.nTurns = nTurns;
        c.projectArgs = {kProjectMode, s.pName, std::to_string(nSeconds), "--streams", std::to_string(s.nStreams)};
        std::printf("%s\n", c.strTitle.c_str());
        ratios[i] = AnchorComparison::Run(c);
    }
    std::printf("project less device beside the anchor, CPU per picture: %d sub %sx (goal <= 1.15x), %d main %sx "
                "(goal <= 1.1x)\n",
                scenarios[0].nStreams, ratios[0].Text(2).c_str(), scenarios[1].nStreams, ratios[1].Text(2).c_str());
    return ratios[0].Empty() && ratios[1].Empty() ? 1 : 0;
}
