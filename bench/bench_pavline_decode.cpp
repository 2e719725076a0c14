// The program's live video path on the simulated device's streams: CQZConnect live streams whose data callback
// hands every block to a CDecodeChannel, which plays it into a small native-window tile of a grid, at each
// profile's own frame rate. Prints pictures drawn per second, pictures dropped, and the whole process's CPU time
// per picture drawn beside ffmpeg decoding the same stream with one thread into its null output in the same run.
//
//   bench_pavline_decode [seconds per window, default 8] [sub|main: that scenario only] [--streams N]
//   bench_pavline_decode --seconds N     soak: 64 sub streams for N seconds, resident memory slope after warm-up
//
// Scenarios: 64 sub streams (640x360 H.264, 15 fps) in 160x90 tiles, 16 main streams (1280x720 H.265, 25 fps)
// in 320x180 tiles. Each is measured in three windows, ffmpeg right after each one (the machine is shared, so
// each ratio's two sides are taken together); the median counts. ffmpeg's cost per frame is the difference
// between decoding 4N and N frames, so its start-up is not spread over the frames.

#include "bench/BenchMeasures.h"
#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "platform/stream_block.h"
#include "platform/winapi.h"
#include "runtime/LightWeightLog.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/PavlineControl.h"
#include "standin/pavline/VideoDecoder.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGridLayout>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;       // of the built-in device
constexpr int kWindows = 3;

struct Scenario
{
    const char *pName;
    int nStreams;
    int nStreamType;                // 0 main, 1 sub
    double dGoal;                   // the ratio to reach
};

long ContextSwitches()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

double ResidentMb()
{
    long nPages = 0, nResident = 0;
    if (FILE *pFile = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(pFile, "%ld %ld", &nPages, &nResident) != 2)
            nResident = 0;
        std::fclose(pFile);
    }
    return static_cast<double>(nResident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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
        int64_t nShown = 0, nDropped = 0, nRefused = 0, nErrors = 0, nWakes = 0;
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
            c.nWakes += st.nWakes;
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

double ThreadCpuSeconds()
{
    struct timespec ts = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The stand-in's own decoder on this thread, in this process: CPU seconds per frame decoding the loop back to
// back (as ffmpeg does), and one frame per frame interval with sleeps between (as a live port does).
double DecoderCpuPerFrame(const VideoLoop &loop, bool bPaced)
{
    VideoDecoder decoder;
    const int nFrames = bPaced ? 2 * loop.nFrameRate : (loop.nWidth * loop.nHeight > 640 * 360 ? 400 : 1500);
    const auto step = std::chrono::microseconds(1000000 / loop.nFrameRate);
    Clock::time_point due = Clock::now();
    double dCpu = 0.0;
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &frame = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        MediaUnit unit;
        unit.nCodec = loop.nCodec;
        unit.bKeyFrame = frame.bKeyFrame;
        unit.nTimeMs = i * 1000 / loop.nFrameRate;
        unit.data.reserve(frame.data.size() + MediaUnit::kPadding);
        unit.data = frame.data;
        if (bPaced) {
            due += step;
            std::this_thread::sleep_until(due);
        }
        const double dCpu0 = ThreadCpuSeconds();
        decoder.Send(unit);
        while (decoder.Receive()) {
        }
        dCpu += ThreadCpuSeconds() - dCpu0;
    }
    return dCpu / nFrames;
}

struct Result
{
    double dRatio = -1.0;
};

Result RunScenario(const Scenario &s, int nSeconds)
{
    Result result;
    std::shared_ptr<const VideoLoop> loop = BenchMeasures::LoopOf(s.nStreamType);
    if (!loop)
        return result;
    bool bOk = false;
    auto pWall = std::make_unique<LiveWall>(s, &bOk);
    if (!bOk)
        return result;
    Wait(1500);     // the streams' first key frames, the decoders' start

    std::vector<double> cpuPer, rates, switches, ports, device, gui, wakes, anchors, ratios;
    int64_t nDropped = 0, nRefused = 0, nErrors = 0;
    for (int w = 0; w < kWindows; ++w) {
        const LiveWall::Counts c0 = pWall->Count();
        const BenchMeasures::ThreadCpu t0Cpu = BenchMeasures::ThreadTimes();
        const double dCpu0 = BenchMeasures::CpuSeconds();
        const long nSwitch0 = ContextSwitches();
        const Clock::time_point t0 = Clock::now();
        Wait(nSeconds * 1000);
        const double dWall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double dCpu = BenchMeasures::CpuSeconds() - dCpu0;
        const long nSwitch = ContextSwitches() - nSwitch0;
        const LiveWall::Counts c1 = pWall->Count();
        const BenchMeasures::ThreadCpu t1Cpu = BenchMeasures::ThreadTimes();
        const int64_t nShown = c1.nShown - c0.nShown;
        const double dPer = nShown > 0 ? 1000.0 / static_cast<double>(nShown) : 0.0;
        ports.push_back((t1Cpu.dPorts - t0Cpu.dPorts) * dPer);
        device.push_back((t1Cpu.dDevice - t0Cpu.dDevice) * dPer);
        gui.push_back((t1Cpu.dGui - t0Cpu.dGui) * dPer);
        nDropped += c1.nDropped - c0.nDropped;
        nRefused += c1.nRefused - c0.nRefused;
        nErrors += c1.nErrors - c0.nErrors;
        rates.push_back(static_cast<double>(nShown) / dWall);
        wakes.push_back(nShown > 0 ? static_cast<double>(c1.nWakes - c0.nWakes) / static_cast<double>(nShown) : 0.0);
        // The anchor right after each window, the streams still running: both sides of a ratio see the machine
        // as it was then.
        cpuPer.push_back(nShown > 0 ? dCpu / static_cast<double>(nShown) : 0.0);
        switches.push_back(nShown > 0 ? static_cast<double>(nSwitch) / static_cast<double>(nShown) : 0.0);
        const double dAnchor = BenchMeasures::FfmpegPerFrame(*loop);
        if (dAnchor > 0) {
            anchors.push_back(dAnchor);
            ratios.push_back(cpuPer.back() / dAnchor);
        }
    }
    const QSize tile = pWall->TileSize();
    pWall.reset();

    const double dFfmpeg = anchors.size() == static_cast<size_t>(kWindows) ? Median(anchors) : -1.0;
    const double dCpu = Median(cpuPer);
    const double dExpected = static_cast<double>(s.nStreams) * loop->nFrameRate;
    std::printf("%d %s streams  %s %dx%d@%d into %dx%d tiles\n", s.nStreams, s.pName, loop->IsH265() ? "H.265" : "H.264",
                loop->nWidth, loop->nHeight, loop->nFrameRate, tile.width(), tile.height());
    std::printf("  pictures drawn per second  %8.1f  (stream rate %.0f, %.1f %%)\n", Median(rates), dExpected,
                100.0 * Median(rates) / dExpected);
    std::printf("  pictures dropped           %8lld  (input refused %lld times, decode errors %lld; %d windows)\n",
                static_cast<long long>(nDropped), static_cast<long long>(nRefused), static_cast<long long>(nErrors),
                kWindows);
    std::printf("  CPU per picture drawn      %8.3f ms  (whole process, median of %d windows of %d s)\n", dCpu * 1000.0,
                kWindows, nSeconds);
    std::printf("  per picture                %8.1f context switches, %.2f wakes of the port's thread\n",
                Median(switches), Median(wakes));
    std::printf("  of which, ms per picture   decode ports %.3f, GUI thread %.3f, device library and the rest %.3f\n",
                Median(ports), Median(gui), Median(device));
    if (dFfmpeg > 0) {
        std::printf("  ffmpeg -threads 1 -f null  %8.3f ms per frame decoded (median of %d, one after each window)\n",
                    dFfmpeg * 1000.0, kWindows);
        result.dRatio = Median(ratios);
        std::printf("  ratio                      %8.2fx  (median of the %d windows' ratios, each beside its own "
                    "anchor; goal <= %.1fx)\n",
                    result.dRatio, kWindows, s.dGoal);
    } else {
        std::printf("  ffmpeg -threads 1 -f null  not run (no ffmpeg on PATH)\n");
    }
    // What the decoder alone costs here, before any port runs it: back to back, and paced as a live stream is.
    const double dBackToBack = DecoderCpuPerFrame(*loop, false), dPaced = DecoderCpuPerFrame(*loop, true);
    std::printf("  decoder alone, this process %8.3f ms per frame back to back, %.3f ms paced at %d fps: CPU per "
                "picture drawn beside it %.2fx\n",
                dBackToBack * 1000.0, dPaced * 1000.0, loop->nFrameRate, dPaced > 0 ? dCpu / dPaced : 0.0);
    std::fflush(stdout);
    return result;
}

// 64 sub streams for nSeconds: the resident memory each second, and its slope (least squares) after the first
// third of the run.
int Soak(int nSeconds)
{
    const Scenario s{"sub", 64, 1, 1.3};
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
        rss.push_back(ResidentMb());
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int nSeconds = 8;
    int nSoak = 0;
    std::string strOnly;
    int nStreams = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            nSoak = std::max(3, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--streams") == 0 && i + 1 < argc)
            nStreams = std::max(1, std::min(64, std::atoi(argv[++i])));
        else if (std::strcmp(argv[i], "sub") == 0 || std::strcmp(argv[i], "main") == 0)
            strOnly = argv[i];
        else
            nSeconds = std::max(1, std::atoi(argv[i]));
    }
    // The program's log stays off: its set-up lines are not what is measured.
    QTemporaryDir logDir;
    {
        QSettings settings(logDir.filePath("ClientCfg.ini"), QSettings::IniFormat);
        settings.setValue("Enable/PrintLogEn", 0);
    }
    LightWeightLog::CreateInstance(logDir.path());
    unsetenv("KORVEX_DEVICES");
    if (!CQZConnect::GetInstance()->InitKorvex(nullptr, nullptr)) {
        std::printf("the device library does not start: %d\n", ZDK_DEV_GetLastError());
        return 1;
    }
    int nRet = 0;
    if (nSoak > 0) {
        std::printf("soak: 64 sub streams for %d s\n", nSoak);
        nRet = Soak(nSoak);
    } else {
        std::printf("live streams through CQZConnect into CDecodeChannel tiles, %d s windows, %ld cores\n", nSeconds,
                    sysconf(_SC_NPROCESSORS_ONLN));
        Scenario scenarios[] = {
            {"sub", 64, 1, 1.3},
            {"main", 16, 0, 1.2},
        };
        std::vector<Result> results;
        for (Scenario &s : scenarios) {
            if (nStreams > 0)
                s.nStreams = nStreams;
            results.push_back(strOnly.empty() || strOnly == s.pName ? RunScenario(s, nSeconds) : Result());
        }
        std::printf("CPU per drawn picture beside ffmpeg -threads 1 per frame: %d sub %.2fx (goal <= 1.3x), "
                    "%d main %.2fx (goal <= 1.2x)\n",
                    scenarios[0].nStreams, results[0].dRatio, scenarios[1].nStreams, results[1].dRatio);
    }
    CQZConnect::GetInstance()->Cleanup();
    PavlineControl::Reset();
    return nRet;
}
