// Decoding and drawing the simulated device's streams in real time on 16 and 64 ports of the decode library
// stand-in, each port into a native window of a tile grid: pictures drawn per second, pictures dropped, and the
// CPU time per picture beside ffmpeg decoding the same stream into its null output in the same run.
//
// Usage: bench_pavline_decode [seconds per scenario, default 8]

#include "platform/pavline.h"
#include "platform/stream_block.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/pavline/PavlineControl.h"

#include <QApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

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

struct Scenario
{
    int nPorts;
    uint8_t nCodec;
    int nWidth, nHeight, nFrameRate;
};

double CpuSeconds()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Sends the loop to a port in real time, with fresh timestamps, as a device's live stream does; a block the
// port refuses is offered again shortly after.
class Feeder
{
public:
    Feeder(int nPort, std::shared_ptr<const VideoLoop> loop, int nOffsetMs)
        : m_nPort(nPort)
        , m_loop(std::move(loop))
        , m_thread([this, nOffsetMs] { Run(nOffsetMs); })
    {
    }
    ~Feeder()
    {
        m_bStop = true;
        m_thread.join();
    }
    int64_t Refused() const { return m_nRefused.load(); }

private:
    void Run(int nOffsetMs)
    {
        const auto step = std::chrono::microseconds(1000000 / m_loop->nFrameRate);
        Clock::time_point due = Clock::now() + std::chrono::milliseconds(nOffsetMs);
        std::vector<uint8_t> block;
        for (size_t i = 0; !m_bStop; ++i) {
            std::this_thread::sleep_until(due);
            const EncodedFrame &frame = m_loop->frames[i % m_loop->frames.size()];
            const int64_t nMs = NowMs();
            block.clear();
            StreamBlock::AppendVideo(block, frame.bKeyFrame, m_loop->nCodec, static_cast<uint8_t>(m_loop->nFrameRate),
                                     static_cast<uint32_t>(nMs / 1000), static_cast<uint16_t>(nMs % 1000),
                                     frame.data.data(), frame.data.size());
            while (!m_bStop && !KTN_VIEW_InputData(m_nPort, block.data(), static_cast<uint32_t>(block.size()))) {
                ++m_nRefused;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            due += step;
            if (due + std::chrono::milliseconds(200) < Clock::now())
                due = Clock::now();
        }
    }

    const int m_nPort;
    const std::shared_ptr<const VideoLoop> m_loop;
    std::atomic<bool> m_bStop{false};
    std::atomic<int64_t> m_nRefused{0};
    std::thread m_thread;
};

// ffmpeg decoding the loop, repeated, from an elementary stream file into its null output, one thread: the CPU
// seconds per frame, or a negative value when ffmpeg did not run.
double FfmpegCpuPerFrame(const VideoLoop &loop, int nFrames)
{
    char szPath[] = "/tmp/bench_pavline_XXXXXX";
    const int fd = mkstemp(szPath);
    if (fd < 0)
        return -1.0;
    FILE *pFile = fdopen(fd, "wb");
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &frame = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        std::fwrite(frame.data.data(), 1, frame.data.size(), pFile);
    }
    std::fclose(pFile);
    const std::string strCommand = std::string("ffmpeg -hide_banner -nostdin -nostats -loglevel info -benchmark -threads 1 -f ") +
                                   (loop.IsH265() ? "hevc" : "h264") + " -i " + szPath + " -f null - 2>&1";
    double dUser = -1.0, dSystem = 0.0;
    if (FILE *pPipe = popen(strCommand.c_str(), "r")) {
        char szLine[512];
        while (std::fgets(szLine, sizeof szLine, pPipe)) {
            const char *p = std::strstr(szLine, "utime=");
            const char *q = std::strstr(szLine, "stime=");
            if (p && q) {
                dUser = std::atof(p + 6);
                dSystem = std::atof(q + 6);
            }
        }
        pclose(pPipe);
    }
    std::remove(szPath);
    return dUser < 0 ? -1.0 : (dUser + dSystem) / nFrames;
}

void Run(const Scenario &s, int nSeconds)
{
    VideoSpec videoSpec;
    videoSpec.nCodec = s.nCodec;
    videoSpec.nWidth = s.nWidth;
    videoSpec.nHeight = s.nHeight;
    videoSpec.nFrameRate = s.nFrameRate;
    std::string strError;
    std::shared_ptr<const VideoLoop> loop = MediaLibrary::Instance().Video(videoSpec, strError);
    if (!loop) {
        std::printf("no test pattern: %s\n", strError.c_str());
        return;
    }

    // The tile grid: one native window per port in a 1280x720 window.
    QWidget top;
    top.resize(1280, 720);
    auto *pLayout = new QGridLayout(&top);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    const int nCols = static_cast<int>(std::sqrt(static_cast<double>(s.nPorts)));
    std::vector<QWidget *> tiles;
    for (int i = 0; i < s.nPorts; ++i) {
        auto *pTile = new QWidget(&top);
        pTile->setAttribute(Qt::WA_NativeWindow);
        pLayout->addWidget(pTile, i / nCols, i % nCols);
        tiles.push_back(pTile);
    }
    top.show();
    QApplication::processEvents();

    for (int i = 0; i < s.nPorts; ++i) {
        KTN_VIEW_OpenStream(i, nullptr, 1, 2048000);
        KTN_VIEW_SetPictureCache(i, 8);
        if (!KTN_VIEW_Play(i, reinterpret_cast<HWND>(tiles[static_cast<size_t>(i)]->winId())))
            std::printf("port %d does not play: error %d\n", i, KTN_VIEW_GetLastError());
    }
    std::vector<std::unique_ptr<Feeder>> feeders;
    for (int i = 0; i < s.nPorts; ++i)
        feeders.push_back(std::make_unique<Feeder>(i, loop, (i * 37) % 40));

    // A second to settle, then the measured span with the GUI thread painting.
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    int64_t nShown0 = 0, nDropped0 = 0;
    for (int i = 0; i < s.nPorts; ++i) {
        const PortStats st = PavlineControl::Stats(i);
        nShown0 += st.nPicturesShown;
        nDropped0 += st.nPicturesDropped + st.nUnitsSkipped;
    }
    int64_t nRefused0 = 0;
    for (const auto &f : feeders)
        nRefused0 += f->Refused();
    const double dCpu0 = CpuSeconds();
    const Clock::time_point t0 = Clock::now();
    QEventLoop measure;
    QTimer::singleShot(nSeconds * 1000, &measure, &QEventLoop::quit);
    measure.exec();
    const double dWall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double dCpu = CpuSeconds() - dCpu0;
    int64_t nShown = 0, nDropped = 0, nErrors = 0;
    for (int i = 0; i < s.nPorts; ++i) {
        const PortStats st = PavlineControl::Stats(i);
        nShown += st.nPicturesShown;
        nDropped += st.nPicturesDropped + st.nUnitsSkipped;
        nErrors += st.nDecodeErrors;
    }
    nShown -= nShown0;
    nDropped -= nDropped0;
    int64_t nRefused = -nRefused0;
    for (const auto &f : feeders)
        nRefused += f->Refused();
    feeders.clear();
    for (int i = 0; i < s.nPorts; ++i) {
        KTN_VIEW_Stop(i);
        KTN_VIEW_CloseStream(i);
    }

    const double dFfmpeg = FfmpegCpuPerFrame(*loop, 1000);
    const double dExpected = static_cast<double>(s.nPorts) * s.nFrameRate;
    std::printf("%2d ports  %s %dx%d@%d into %dx%d tiles\n", s.nPorts, loop->IsH265() ? "H.265" : "H.264", s.nWidth,
                s.nHeight, s.nFrameRate, tiles[0]->width(), tiles[0]->height());
    std::printf("  pictures drawn per second  %8.1f  (stream rate %.0f, %.1f %%)\n", nShown / dWall, dExpected,
                100.0 * nShown / dWall / dExpected);
    std::printf("  pictures dropped           %8lld  (input refused %lld times, decode errors %lld)\n",
                static_cast<long long>(nDropped), static_cast<long long>(nRefused), static_cast<long long>(nErrors));
    std::printf("  CPU per picture drawn      %8.3f ms  (whole process: decode, scale, paint, feed; %.0f %% of a core)\n",
                nShown > 0 ? dCpu * 1000.0 / static_cast<double>(nShown) : 0.0, 100.0 * dCpu / dWall);
    if (dFfmpeg >= 0)
        std::printf("  ffmpeg -f null, 1 thread   %8.3f ms per frame decoded\n", dFfmpeg * 1000.0);
    else
        std::printf("  ffmpeg -f null             not run (no ffmpeg on PATH)\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int nSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    const Scenario scenarios[] = {
        {16, StreamBlock::kCodecH264, 640, 360, 25},
        {64, StreamBlock::kCodecH264, 640, 360, 25},
        {16, StreamBlock::kCodecH265, 1280, 720, 25},
    };
    std::printf("decode library stand-in: %d s per scenario, %u cores\n", nSeconds, std::thread::hardware_concurrency());
    for (const Scenario &s : scenarios)
        Run(s, nSeconds);
    PavlineControl::Reset();
    return 0;
}
