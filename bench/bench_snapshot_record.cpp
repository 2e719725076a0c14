// Snapshot and recording figures: WriteJpegFile of a 1920x1080 picture beside libjpeg-turbo's own
// "cjpeg -quality 99" of the same picture, the channel's whole snapshot (capture and file, JPEG and BMP) of a
// 1920x1080 picture shown, the pre-roll cache's cost per block, and the recording tap's cost per block (not
// recording, H.264 segments, H.265 writer) with the time the worker then takes to finish. Prints its figures, the
// last line the snapshot's ratio to cjpeg; usage: bench_snapshot_record [repeats, 20].

#include "device/CDecodeChannel.h"
#include "device/CPreRollCache.h"
#include "device/CRecordWorker.h"
#include "device/media/JpegWriter.h"
#include "platform/korvex.h"
#include "platform/stream_block.h"
#include "runtime/CDataCenter.h"
#include "runtime/LightWeightLog.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/TestPatternEncoder.h"
#include "standin/pavline/PavlineControl.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec.empty() ? 0 : vec[vec.size() / 2];
}

uint8_t Clamp(double d) { return static_cast<uint8_t>(std::max(0.0, std::min(255.0, d + 0.5))); }

// The I420 picture as a binary PPM, converted as a BT.601 limited-range decoder would.
bool WritePpm(const std::string &strPath, const std::vector<uint8_t> &i420, int w, int h)
{
    std::FILE *pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        return false;
    std::fprintf(pFile, "P6\n%d %d\n255\n", w, h);
    const uint8_t *pY = i420.data(), *pU = pY + w * h, *pV = pU + (w / 2) * (h / 2);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double Y = 1.164 * (pY[y * w + x] - 16.0);
            const double U = pU[(y / 2) * (w / 2) + x / 2] - 128.0, V = pV[(y / 2) * (w / 2) + x / 2] - 128.0;
            row[static_cast<size_t>(x) * 3] = Clamp(Y + 1.596 * V);
            row[static_cast<size_t>(x) * 3 + 1] = Clamp(Y - 0.392 * U - 0.813 * V);
            row[static_cast<size_t>(x) * 3 + 2] = Clamp(Y + 2.017 * U);
        }
        std::fwrite(row.data(), 1, row.size(), pFile);
    }
    return std::fclose(pFile) == 0;
}

// Medians of one run, for the closing ratio.
struct JpegTimes
{
    double dOurs = 0;
    double dCjpeg = 0;      // the whole cjpeg process
    double dStart = 0;      // a bare process start
};

JpegTimes JpegFigures(const QString &strDir, int nRepeats)
{
    JpegTimes times;
    constexpr int w = 1920, h = 1080;
    std::vector<uint8_t> picture(static_cast<size_t>(w * h * 3 / 2));
    TestPatternEncoder::Draw(picture.data(), w, picture.data() + w * h, w / 2, picture.data() + w * h * 5 / 4, w / 2,
                             w, h, 0, 7, 25, 50);
    const std::string strOurs = (strDir + "/ours.jpg").toStdString();
    std::vector<double> ours;
    for (int i = 0; i < nRepeats; ++i) {
        const Clock::time_point t = Clock::now();
        if (!WriteJpegFile(strOurs.c_str(), w, h, picture.data(), picture.size())) {
            std::printf("WriteJpegFile failed\n");
            return times;
        }
        ours.push_back(Ms(t));
    }
    const std::string strPpm = (strDir + "/picture.ppm").toStdString();
    const std::string strTheirs = (strDir + "/cjpeg.jpg").toStdString();
    WritePpm(strPpm, picture, w, h);
    const std::string strCmd = "cjpeg -quality 99 -outfile '" + strTheirs + "' '" + strPpm + "'";
    std::vector<double> theirs;
    for (int i = 0; i < nRepeats; ++i) {
        const Clock::time_point t = Clock::now();
        if (std::system(strCmd.c_str()) != 0) {
            std::printf("cjpeg did not run (libjpeg-turbo-progs)\n");
            theirs.clear();
            break;
        }
        theirs.push_back(Ms(t));
    }
    // The child's own start, for reading the cjpeg figure.
    std::vector<double> start;
    for (int i = 0; i < nRepeats; ++i) {
        const Clock::time_point t = Clock::now();
        if (std::system("true") != 0)
            break;
        start.push_back(Ms(t));
    }
    std::printf("JPEG of a 1920x1080 picture, quality 99 (median of %d):\n", nRepeats);
    std::printf("  WriteJpegFile (I420 in)           %7.2f ms  %8lld bytes\n", Median(ours),
                static_cast<long long>(QFileInfo(QString::fromStdString(strOurs)).size()));
    if (!theirs.empty())
        std::printf("  cjpeg -quality 99 (PPM in)        %7.2f ms  %8lld bytes  (a process start is %.2f ms of it)\n",
                    Median(theirs), static_cast<long long>(QFileInfo(QString::fromStdString(strTheirs)).size()),
                    Median(start));
    times.dOurs = Median(ours);
    times.dCjpeg = Median(theirs);
    times.dStart = Median(start);
    return times;
}

void SnapshotFigures(const QString &strDir, int nRepeats)
{
    VideoSpec videoSpec;
    videoSpec.nCodec = StreamBlock::kCodecH264;
    videoSpec.nWidth = 1920;
    videoSpec.nHeight = 1080;
    videoSpec.nFrameRate = 25;
    std::string strError;
    const std::shared_ptr<const VideoLoop> loop = MediaLibrary::Instance().Video(videoSpec, strError);
    if (!loop) {
        std::printf("no 1080p loop: %s\n", strError.c_str());
        return;
    }
    QWidget window;
    window.setAttribute(Qt::WA_NativeWindow);
    window.resize(640, 360);
    window.show();
    CDecodeChannel channel(9);
    channel.SetPlayWnd(reinterpret_cast<HWND>(window.winId()));
    channel.Open(1);
    channel.StartPreview();
    std::vector<uint8_t> block;
    const EncodedFrame &frame = loop->frames.front();
    StreamBlock::AppendVideo(block, true, videoSpec.nCodec, 25, 1705312800, 0, frame.data.data(), frame.data.size());
    channel.InputData(block.data(), static_cast<uint32_t>(block.size()), nullptr);
    if (!PavlineControl::WaitForShown(9, 1, 10000)) {
        std::printf("the 1080p picture was not shown\n");
        return;
    }
    std::printf("Snapshot of the 1920x1080 picture shown, capture and file (median of %d):\n", nRepeats);
    for (int nType : {1, 0}) {
        const QByteArray path = (strDir + (nType ? "/snap.jpg" : "/snap.bmp")).toLocal8Bit();
        std::vector<double> times;
        for (int i = 0; i < nRepeats; ++i) {
            const Clock::time_point t = Clock::now();
            if (!channel.CapturePicture(path.constData(), nType))
                break;
            times.push_back(Ms(t));
        }
        std::printf("  CapturePicture %s                %7.2f ms  %8lld bytes\n", nType ? "JPEG" : "BMP ",
                    Median(times), static_cast<long long>(QFileInfo(QString::fromLocal8Bit(path)).size()));
    }
    channel.StopPreview();
    channel.Close();
}

struct Block
{
    std::vector<uint8_t> data;
    RealDataFrame frame{};
};

std::vector<Block> LiveBlocks(uint8_t nCodec, int nFrames)
{
    VideoSpec videoSpec;
    videoSpec.nCodec = nCodec;
    videoSpec.nWidth = 1280;
    videoSpec.nHeight = 720;
    videoSpec.nFrameRate = 25;
    std::string strError;
    const std::shared_ptr<const VideoLoop> loop = MediaLibrary::Instance().Video(videoSpec, strError);
    std::vector<Block> blocks;
    if (!loop)
        return blocks;
    const std::vector<uint8_t> audio(320, 0xD5);
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &ef = loop->frames[static_cast<size_t>(i) % loop->frames.size()];
        Block b;
        StreamBlock::AppendVideo(b.data, ef.bKeyFrame, nCodec, 25, static_cast<uint32_t>(1705312800 + i / 25),
                                 static_cast<uint16_t>(i % 25 * 40), ef.data.data(), ef.data.size());
        b.frame.nKind = ZDK_FRAME_VIDEO;
        b.frame.nKeyFrame = ef.bKeyFrame;
        b.frame.nCodec = nCodec == StreamBlock::kCodecH265 ? ZDK_CODEC_H265 : ZDK_CODEC_H264;
        b.frame.nFrameRate = 25;
        b.frame.nWidth = 1280;
        b.frame.nHeight = 720;
        blocks.push_back(std::move(b));
        Block a;
        StreamBlock::AppendAudio(a.data, StreamBlock::kAudioALaw, StreamBlock::kRate8000, audio.data(), audio.size());
        a.frame.nKind = ZDK_FRAME_AUDIO;
        a.frame.nCodec = ZDK_CODEC_G711A;
        a.frame.nSampleRate = 8000;
        blocks.push_back(std::move(a));
    }
    for (Block &b : blocks) {
        b.frame.pData = b.data.data();
        b.frame.nDataLength = static_cast<uint32_t>(b.data.size());
    }
    return blocks;
}

void PreRollFigures()
{
    // What every live block of a recording channel costs before any recording: its copy into the pre-roll.
    constexpr int kFrames = 15000;
    for (uint8_t nCodec : {StreamBlock::kCodecH264, StreamBlock::kCodecH265}) {
        const std::vector<Block> blocks = LiveBlocks(nCodec, kFrames);
        if (blocks.empty())
            return;
        CPreRollCache cache;
        size_t nMost = 0;
        const Clock::time_point t = Clock::now();
        for (const Block &b : blocks) {
            cache.Add(b.data.data(), static_cast<uint32_t>(b.data.size()), b.frame);
            nMost = std::max(nMost, cache.Bytes());
        }
        const double dMs = Ms(t);
        std::printf("Pre-roll cache, %s 1280x720 at 25 fps with its sound: %6.0f ns a block, at most %zu KiB kept\n",
                    nCodec == StreamBlock::kCodecH264 ? "H.264" : "H.265",
                    dMs * 1e6 / static_cast<double>(blocks.size()), nMost / 1024);
    }
}

void TapFigures(const QString &strDir)
{
    constexpr int kFrames = 15000;   // 10 minutes at 25 frames a second, each with its audio block
    struct Case
    {
        const char *pWhat;
        int nOemMode;
        uint8_t nCodec;
        const char *pExt;   // null: not recording
    };
    const Case cases[] = {
        {"mode 0, not recording         ", 0, StreamBlock::kCodecH264, nullptr},
        {"mode 1, not recording         ", 1, StreamBlock::kCodecH264, nullptr},
        {"mode 1, H.264 segments        ", 1, StreamBlock::kCodecH264, ".h264"},
        {"mode 1, H.265 into MP4 writer ", 1, StreamBlock::kCodecH265, ".h265"},
    };
    std::printf("Recording tap, %d video and %d audio blocks of 1280x720 at 25 fps, port not open:\n", kFrames, kFrames);
    for (const Case &c : cases) {
        const std::vector<Block> blocks = LiveBlocks(c.nCodec, kFrames);
        if (blocks.empty()) {
            std::printf("  no loop\n");
            return;
        }
        g_nOemMode = c.nOemMode;
        auto pChannel = std::make_unique<CDecodeChannel>(12);
        // A playing port is what lets a channel record; its input is then refused quickly once full, as for
        // a port that does not keep up.
        pChannel->Open(1);
        pChannel->StartPreview();
        const QString strName = strDir + "/rec/13_20240115_100000" + (c.pExt ? c.pExt : ".h264");
        if (c.pExt && !pChannel->StartRecord(strName.toLocal8Bit().constData(), 0)) {
            std::printf("  %s did not start\n", c.pWhat);
            continue;
        }
        const Clock::time_point t = Clock::now();
        for (const Block &b : blocks)
            pChannel->InputData(b.data.data(), static_cast<uint32_t>(b.data.size()), &b.frame);
        const double dTap = Ms(t);
        const Clock::time_point tStop = Clock::now();
        if (c.pExt)
            pChannel->StopRecord();
        pChannel->StopPreview();
        pChannel->Close();
        pChannel.reset();
        CRecordWorker::WaitForAll(std::chrono::minutes(5));     // the worker may finish after its channel
        const double dFinish = Ms(tStop);
        std::printf("  %s %7.0f ns a block   finished %7.1f ms after the stop\n", c.pWhat,
                    dTap * 1e6 / static_cast<double>(blocks.size()), dFinish);
        QDir(strDir + "/rec").removeRecursively();
    }
    g_nOemMode = 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int nRepeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir dir;
    LightWeightLog::CreateInstance(dir.path());
    CDataCenter::CreateInstance(dir.path());
    const JpegTimes jpeg = JpegFigures(dir.path(), nRepeats);
    SnapshotFigures(dir.path(), nRepeats);
    PreRollFigures();
    TapFigures(dir.path());
    PavlineControl::Reset();
    // What this benchmark is for: the snapshot's JPEG beside cjpeg's of the same picture, this run.
    if (jpeg.dCjpeg > jpeg.dStart && jpeg.dOurs > 0)
        std::printf("WriteJpegFile / cjpeg -quality 99, 1920x1080: %.2f (%.2f ms beside %.2f ms, cjpeg's process "
                    "start of %.2f ms taken off)\n",
                    jpeg.dOurs / (jpeg.dCjpeg - jpeg.dStart), jpeg.dOurs, jpeg.dCjpeg - jpeg.dStart, jpeg.dStart);
    else
        std::printf("WriteJpegFile / cjpeg -quality 99, 1920x1080: not measured (cjpeg did not run)\n");
    return 0;
}
