#include "tests/support/TestVideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

struct CodecFree { void operator()(AVCodecContext *p) const { avcodec_free_context(&p); } };
struct FrameFree { void operator()(AVFrame *p) const { av_frame_free(&p); } };
struct PacketFree { void operator()(AVPacket *p) const { av_packet_free(&p); } };

void Drain(AVCodecContext *pCtx, AVPacket *pPkt, std::vector<TestVideoEncoder::AccessUnit> &vecOut)
{
    while (avcodec_receive_packet(pCtx, pPkt) >= 0) {
        TestVideoEncoder::AccessUnit unit;
        unit.data.assign(pPkt->data, pPkt->data + pPkt->size);
        unit.bKey = (pPkt->flags & AV_PKT_FLAG_KEY) != 0;
        vecOut.push_back(std::move(unit));
        av_packet_unref(pPkt);
    }
}

} // namespace

std::vector<TestVideoEncoder::AccessUnit> TestVideoEncoder::Encode(Codec codec, int nWidth, int nHeight, int nFps,
                                                                   int nFrames, int nGop)
{
#if defined(__SANITIZE_ADDRESS__)
    // libx265 keeps some of its allocations past x265_encoder_close; they are not ours to report.
    std::unique_ptr<__lsan::ScopedDisabler> pNoLeakCheck;
    if (codec == Codec::H265)
        pNoLeakCheck = std::make_unique<__lsan::ScopedDisabler>();
#endif
    std::vector<AccessUnit> vecOut;
    const AVCodec *pCodec = avcodec_find_encoder_by_name(codec == Codec::H264 ? "libx264" : "libx265");
    if (!pCodec)
        return vecOut;
    std::unique_ptr<AVCodecContext, CodecFree> pCtx(avcodec_alloc_context3(pCodec));
    pCtx->width = nWidth;
    pCtx->height = nHeight;
    pCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    pCtx->time_base = AVRational{1, nFps};
    pCtx->framerate = AVRational{nFps, 1};
    pCtx->gop_size = nGop;
    pCtx->keyint_min = nGop;
    pCtx->max_b_frames = 0;
    pCtx->thread_count = 1;
    av_opt_set(pCtx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(pCtx->priv_data, "tune", "zerolatency", 0);
    if (codec == Codec::H265)
        av_opt_set(pCtx->priv_data, "x265-params", "log-level=error:repeat-headers=1:scenecut=0", 0);
    else
        av_opt_set(pCtx->priv_data, "x264-params", "scenecut=0", 0);
    // Without a global header both encoders repeat the parameter sets in every key frame.
    if (avcodec_open2(pCtx.get(), pCodec, nullptr) < 0)
        return vecOut;

    std::unique_ptr<AVFrame, FrameFree> pFrame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> pPkt(av_packet_alloc());
    pFrame->format = AV_PIX_FMT_YUV420P;
    pFrame->width = nWidth;
    pFrame->height = nHeight;
    if (av_frame_get_buffer(pFrame.get(), 0) < 0)
        return vecOut;
    for (int n = 0; n < nFrames; ++n) {
        if (av_frame_make_writable(pFrame.get()) < 0)
            return {};
        // A diagonal gradient that moves, with moving chroma.
        for (int y = 0; y < nHeight; ++y)
            for (int x = 0; x < nWidth; ++x)
                pFrame->data[0][y * pFrame->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * n);
        for (int y = 0; y < nHeight / 2; ++y)
            for (int x = 0; x < nWidth / 2; ++x) {
                pFrame->data[1][y * pFrame->linesize[1] + x] = static_cast<uint8_t>(128 + y + 2 * n);
                pFrame->data[2][y * pFrame->linesize[2] + x] = static_cast<uint8_t>(64 + x + 5 * n);
            }
        pFrame->pts = n;
        if (avcodec_send_frame(pCtx.get(), pFrame.get()) < 0)
            return {};
        Drain(pCtx.get(), pPkt.get(), vecOut);
    }
    avcodec_send_frame(pCtx.get(), nullptr);
    Drain(pCtx.get(), pPkt.get(), vecOut);
    return vecOut;
}
