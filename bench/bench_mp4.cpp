// MP4 writer figures: remux of a large raw H.264 file by CMp4Writer::RemuxFile beside "ffmpeg -c copy" of
// the same file, and WriteFrame throughput. Prints its figures; usage: bench_mp4 [seconds of video, 120]
// [bit rate, 8M]. Its last line is the remux time's ratio to "ffmpeg -c copy" of the same file.

#include "device/media/CMp4Writer.h"
#include "device/media/G711Alaw.h"
#include "tests/support/Mp4Frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Unit
{
    std::vector<uint8_t> data;
    bool bKey = false;
};

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec[vec.size() / 2];
}

// The access units of a raw H.264 file, as the device delivers them: parameter sets in every key frame.
std::vector<Unit> ReadUnits(const std::string &strPath)
{
    std::vector<Unit> vecUnits;
    AVFormatContext *pIn = nullptr;
    if (avformat_open_input(&pIn, strPath.c_str(), nullptr, nullptr) < 0)
        return vecUnits;
    AVPacket *pPkt = av_packet_alloc();
    while (av_read_frame(pIn, pPkt) >= 0) {
        vecUnits.push_back(Unit{std::vector<uint8_t>(pPkt->data, pPkt->data + pPkt->size),
                                (pPkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pPkt);
    }
    av_packet_free(&pPkt);
    avformat_close_input(&pIn);
    return vecUnits;
}

// Writes every unit through one writer, with 40 ms of A-law audio per picture when bAudio; returns seconds.
double WriteAll(const std::vector<Unit> &vecUnits, const std::string &strOut, bool bAudio)
{
    std::vector<uint8_t> vecAlaw(160);
    for (size_t i = 0; i < vecAlaw.size(); ++i)
        vecAlaw[i] = G711AlawEncodeSample(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * double(i) / 8000)));
    const FrameInfo audio = Mp4AudioFrame(vecAlaw, 14, 8000, 16);

    const auto start = std::chrono::steady_clock::now();
    {
        CMp4Writer writer(strOut.c_str());
        for (const Unit &unit : vecUnits) {
            const FrameInfo frame = Mp4VideoFrame(unit.data, unit.bKey, CMp4Writer::kCodecH264, 25, 1280, 720);
            writer.WriteFrame(&frame);
            for (int n = 0; bAudio && n < 2; ++n)
                writer.WriteFrame(&audio);
        }
    }
    return Seconds(start);
}

} // namespace

int main(int argc, char **argv)
{
    const int nSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    const std::string strRate = argc > 2 ? argv[2] : "8M";
    constexpr int kRuns = 3;

    const fs::path dir = fs::temp_directory_path() / ("bench_mp4_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string strRaw = (dir / "large.h264").string();
    const std::string strGen = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -t " + std::to_string(nSeconds)
        + " -c:v libx264 -preset ultrafast -bf 0 -g 50 -b:v " + strRate + " -x264-params repeat-headers=1 '" + strRaw + "'";
    std::printf("making %d s of 1280x720 H.264 at %s with ffmpeg...\n", nSeconds, strRate.c_str());
    if (std::system(strGen.c_str()) != 0 || !fs::exists(strRaw)) {
        std::fprintf(stderr, "could not make the input with ffmpeg\n");
        fs::remove_all(dir);
        return 1;
    }
    const double dMb = double(fs::file_size(strRaw)) / (1024.0 * 1024.0);
    std::printf("input: %.1f MB\n", dMb);

    av_log_set_level(AV_LOG_ERROR);
    std::vector<double> vecRemux;
    std::vector<double> vecFfmpeg;
    for (int nRun = 0; nRun < kRuns; ++nRun) {
        const std::string strOut = (dir / "remux.mp4").string();
        auto start = std::chrono::steady_clock::now();
        {
            CMp4Writer scratch((dir / "scratch.mp4").string().c_str());
            scratch.RemuxFile(strRaw.c_str(), strOut.c_str());
        }
        vecRemux.push_back(Seconds(start));
        fs::remove(strOut);

        const std::string strCopy = "ffmpeg -v error -y -i '" + strRaw + "' -c copy '" + (dir / "copy.mp4").string() + "'";
        start = std::chrono::steady_clock::now();
        const int nRet = std::system(strCopy.c_str());
        vecFfmpeg.push_back(Seconds(start));
        if (nRet != 0)
            std::fprintf(stderr, "ffmpeg -c copy failed\n");
        fs::remove(dir / "copy.mp4");
    }
    std::printf("remux, median of %d runs:\n", kRuns);
    std::printf("  CMp4Writer::RemuxFile  %8.3f s  %8.1f MB/s\n", Median(vecRemux), dMb / Median(vecRemux));
    std::printf("  ffmpeg -c copy         %8.3f s  %8.1f MB/s  (process start included)\n", Median(vecFfmpeg),
                dMb / Median(vecFfmpeg));

    const std::vector<Unit> vecUnits = ReadUnits(strRaw);
    std::printf("WriteFrame, %zu pictures in memory, median of %d runs:\n", vecUnits.size(), kRuns);
    for (bool bAudio : {false, true}) {
        std::vector<double> vecWrite;
        for (int nRun = 0; nRun < kRuns; ++nRun) {
            vecWrite.push_back(WriteAll(vecUnits, (dir / "write.mp4").string(), bAudio));
            fs::remove(dir / "write.mp4");
        }
        const double dSec = Median(vecWrite);
        std::printf("  %-22s %8.3f s  %8.0f frames/s  %8.1f MB/s\n", bAudio ? "video + A-law audio" : "video only", dSec,
                    double(vecUnits.size()) / dSec, dMb / dSec);
    }
    fs::remove_all(dir);
    std::printf("CMp4Writer::RemuxFile / ffmpeg -c copy: %.2fx (%.3f s vs %.3f s, median of %d runs in this run)\n",
                Median(vecRemux) / Median(vecFfmpeg), Median(vecRemux), Median(vecFfmpeg), kRuns);
    return 0;
}
