#include "bench/support/PacedAnchor.h"

#include "bench/BenchMeasures.h"
#include "bench/support/ChildRun.h"
#include "bench/support/ProcessSample.h"
#include "platform/AvPointers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char kMode[] = "--anchor";
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLateLimit{200};

struct AnchorStream
{
    std::shared_ptr<const VideoLoop> loop;
    AvCodecContextPtr context;
    AvPacketPtr packet;
    AvFramePtr frame;
    SwsPtr scale;
    std::vector<uint8_t> tile;
    size_t nNext = 0;
    Clock::time_point due;
};

void SleepUntil(Clock::time_point tp)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

bool Open(AnchorStream &s)
{
    const AVCodec *pCodec = avcodec_find_decoder(s.loop->IsH265() ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    s.context.reset(pCodec ? avcodec_alloc_context3(pCodec) : nullptr);
    if (!s.context)
        return false;
    s.context->thread_count = 1;
    s.packet = NewAvPacket();
    s.frame = NewAvFrame();
    return s.packet && s.frame && avcodec_open2(s.context.get(), pCodec, nullptr) >= 0;
}

// The stream's next picture, decoded and converted to the tile; the pictures it gave.
int DecodeNext(AnchorStream &s, int nTileW, int nTileH)
{
    const EncodedFrame &ef = s.loop->frames[s.nNext++ % s.loop->frames.size()];
    if (av_new_packet(s.packet.get(), static_cast<int>(ef.data.size())) < 0)
        return 0;
    std::memcpy(s.packet->data, ef.data.data(), ef.data.size());
    if (ef.bKeyFrame)
        s.packet->flags |= AV_PKT_FLAG_KEY;
    const int nSent = avcodec_send_packet(s.context.get(), s.packet.get());
    av_packet_unref(s.packet.get());
    if (nSent < 0)
        return 0;
    int nPictures = 0;
    while (avcodec_receive_frame(s.context.get(), s.frame.get()) >= 0) {
        AVFrame *f = s.frame.get();
        s.scale.reset(sws_getCachedContext(s.scale.release(), f->width, f->height,
                                           static_cast<AVPixelFormat>(f->format), nTileW, nTileH, AV_PIX_FMT_BGRA,
                                           SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
        if (s.scale) {
            uint8_t *pDst[4] = {s.tile.data(), nullptr, nullptr, nullptr};
            int nDstStride[4] = {nTileW * 4, 0, 0, 0};
            sws_scale(s.scale.get(), f->data, f->linesize, 0, f->height, pDst, nDstStride);
            ++nPictures;
        }
        av_frame_unref(f);
    }
    return nPictures;
}

} // namespace

std::vector<std::string> PacedAnchor::Arguments(const Settings &s)
{
    return {kMode,
            std::to_string(s.nStreams),
            std::to_string(s.nStreamType),
            std::to_string(s.nLabels),
            std::to_string(s.nTileWidth),
            std::to_string(s.nTileHeight),
            std::to_string(s.nWarmMs),
            std::to_string(s.nSeconds)};
}

bool PacedAnchor::IsMode(int argc, char **argv) { return argc > 1 && std::strcmp(argv[1], kMode) == 0; }

int PacedAnchor::Main(int argc, char **argv)
{
    if (argc < 9)
        return 2;
    Settings s;
    s.nStreams = std::max(1, std::atoi(argv[2]));
    s.nStreamType = std::atoi(argv[3]);
    s.nLabels = std::max(1, std::atoi(argv[4]));
    s.nTileWidth = std::max(2, std::atoi(argv[5]));
    s.nTileHeight = std::max(2, std::atoi(argv[6]));
    s.nWarmMs = std::max(0, std::atoi(argv[7]));
    s.nSeconds = std::max(1, std::atoi(argv[8]));

    std::vector<AnchorStream> streams(static_cast<size_t>(s.nStreams));
    for (int i = 0; i < s.nStreams; ++i) {
        streams[static_cast<size_t>(i)].loop = BenchMeasures::LoopOf(s.nStreamType, i % s.nLabels);
        if (!streams[static_cast<size_t>(i)].loop)
            return 1;
    }
    const ProcessSample before = ProcessSample::Take();
    for (AnchorStream &stream : streams) {
        if (!Open(stream)) {
            std::printf("the decoder does not open\n");
            return 1;
        }
        stream.tile.resize(static_cast<size_t>(s.nTileWidth) * static_cast<size_t>(s.nTileHeight) * 4);
    }

    const auto interval = std::chrono::microseconds(1000000 / streams.front().loop->nFrameRate);
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(20);
    for (size_t i = 0; i < streams.size(); ++i)
        streams[i].due = start + interval * static_cast<int>(i) / s.nStreams;
    const Clock::time_point windowStart = start + std::chrono::milliseconds(s.nWarmMs);
    const Clock::time_point windowEnd = windowStart + std::chrono::seconds(s.nSeconds);
    bool bMeasuring = false;
    ProcessSample first;
    Clock::time_point firstTime;
    long nPictures = 0;
    for (;;) {
        Clock::time_point next = streams.front().due;
        for (const AnchorStream &stream : streams)
            next = std::min(next, stream.due);
        if (next >= windowEnd)
            break;
        if (!bMeasuring && next >= windowStart) {
            bMeasuring = true;
            first = ProcessSample::Take();
            firstTime = Clock::now();
        }
        SleepUntil(next);
        const Clock::time_point now = Clock::now();
        for (AnchorStream &stream : streams) {
            if (stream.due > now)
                continue;
            const int n = DecodeNext(stream, s.nTileWidth, s.nTileHeight);
            if (bMeasuring)
                nPictures += n;
            // Held up (the machine is shared), it goes on from now rather than in a burst, as the device's
            // streams do.
            stream.due += interval;
            if (stream.due + kLateLimit < now)
                stream.due = now;
        }
    }
    const ProcessSample last = ProcessSample::Take();
    ChildRun::Put("pictures", static_cast<double>(nPictures));
    ChildRun::Put("seconds", std::chrono::duration<double>(Clock::now() - firstTime).count());
    ChildRun::Put("cpu", last.dCpuSeconds - first.dCpuSeconds);
    ChildRun::Put("switches", static_cast<double>(last.nSwitches - first.nSwitches));
    ChildRun::Put("rss_before", before.dResidentMb);
    ChildRun::Put("rss_during", last.dResidentMb);
    ChildRun::Put("dropped", 0);
    return 0;
}
