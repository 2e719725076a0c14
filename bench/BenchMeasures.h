#pragma once

// What the video benchmarks measure: the process's CPU time, in all and by kind of thread, the simulated device's
// loops, and ffmpeg decoding one of them with one thread into its null output, its start-up taken out (a figure
// for information: decoding back to back is no anchor a paced live tile can reach).

#include "platform/stream_block.h"
#include "standin/korvex/MediaLibrary.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace BenchMeasures {

inline double CpuSeconds()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the process's threads by kind: the decode ports, the GUI thread, and the others (the device
// library's stream threads with the data callbacks, the request thread, the host link).
struct ThreadCpu
{
    double dPorts = 0, dDevice = 0, dGui = 0;
};

inline ThreadCpu ThreadTimes()
{
    ThreadCpu cpu;
    const long nTicks = sysconf(_SC_CLK_TCK);
    const std::string strSelf = std::to_string(getpid());
    QDir tasks("/proc/self/task");
    for (const QString &strTid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(strTid + "/stat"));
        QFile comm(tasks.filePath(strTid + "/comm"));
        if (!stat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QString strName = QString::fromUtf8(comm.readAll()).trimmed();
        // Fields after the name in parentheses: state is field 3, utime 14, stime 15.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        const double d = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) / nTicks;
        if (strName.startsWith("pavline"))
            cpu.dPorts += d;
        else if (strTid.toStdString() == strSelf)
            cpu.dGui += d;
        else
            cpu.dDevice += d;
    }
    return cpu;
}

// The user and system seconds of one ffmpeg run decoding nFrames of the loop, or a negative value.
inline double FfmpegSeconds(const VideoLoop &loop, int nFrames)
{
    char szPath[] = "/tmp/bench_anchor_XXXXXX";
    const int fd = mkstemp(szPath);
    if (fd < 0)
        return -1.0;
    FILE *pFile = fdopen(fd, "wb");
    for (int i = 0; i < nFrames; ++i) {
        const EncodedFrame &frame = loop.frames[static_cast<size_t>(i) % loop.frames.size()];
        std::fwrite(frame.data.data(), 1, frame.data.size(), pFile);
    }
    std::fclose(pFile);
    const std::string strCommand =
        std::string("ffmpeg -hide_banner -nostdin -nostats -loglevel info -benchmark -threads 1 -f ") +
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
    return dUser < 0 ? -1.0 : dUser + dSystem;
}

// ffmpeg's CPU seconds per frame decoded, start-up taken out (the difference between 4N and N frames);
// negative when it did not run.
inline double FfmpegPerFrame(const VideoLoop &loop)
{
    const int nFrames = loop.nWidth * loop.nHeight > 640 * 360 ? 400 : 1500;
    const double dShort = FfmpegSeconds(loop, nFrames);
    const double dLong = FfmpegSeconds(loop, 4 * nFrames);
    if (dShort < 0 || dLong < 0)
        return -1.0;
    return (dLong - dShort) / (3.0 * nFrames);
}

// The loop of the built-in device's main (0) or sub (1) stream profile, of that channel.
inline std::shared_ptr<const VideoLoop> LoopOf(int nStreamType, int nChannel = 0)
{
    VideoSpec format;
    format.nLabel = nChannel;
    format.nCodec = nStreamType == 0 ? StreamBlock::kCodecH265 : StreamBlock::kCodecH264;
    format.nWidth = nStreamType == 0 ? 1280 : 640;
    format.nHeight = nStreamType == 0 ? 720 : 360;
    format.nFrameRate = nStreamType == 0 ? 25 : 15;
    std::string strError;
    std::shared_ptr<const VideoLoop> loop = MediaLibrary::Instance().Video(format, strError);
    if (!loop)
        std::printf("no test pattern: %s\n", strError.c_str());
    return loop;
}

} // namespace BenchMeasures
