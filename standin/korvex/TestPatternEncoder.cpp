#include "standin/korvex/TestPatternEncoder.h"

#include "platform/AvPointers.h"
#include "standin/korvex/AnnexB.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {


// A 5x7 font of the characters the pattern writes; each row is five bits, the high bit on the left.
struct Glyph
{
    char c;
    uint8_t rows[7];
};
const Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

const uint8_t *GlyphRows(char c)
{
    for (const Glyph &g : kFont)
        if (g.c == c)
            return g.rows;
    return kFont[sizeof kFont / sizeof kFont[0] - 1].rows;
}

void FillRect(uint8_t *pPlane, int nStride, int nPlaneW, int nPlaneH, int x, int y, int w, int h, uint8_t value)
{
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = std::min(nPlaneW, x + w), y1 = std::min(nPlaneH, y + h);
    for (int yy = y0; yy < y1; ++yy)
        if (x1 > x0)
            std::memset(pPlane + static_cast<ptrdiff_t>(yy) * nStride + x0, value, static_cast<size_t>(x1 - x0));
}

// Writes the text in white on the luma plane, each font pixel nScale x nScale.
void DrawText(uint8_t *pY, int nStride, int nWidth, int nHeight, int x, int y, int nScale, const char *pText)
{
    for (int i = 0; pText[i]; ++i) {
        const uint8_t *rows = GlyphRows(pText[i]);
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if (rows[r] & (0x10 >> c))
                    FillRect(pY, nStride, nWidth, nHeight, x + (i * 6 + c) * nScale, y + r * nScale, nScale, nScale,
                             235);
    }
}

bool Fail(std::string &strError, const std::string &strWhat, int nErr)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(nErr, buf, sizeof buf);
    strError = strWhat + ": " + buf;
    return false;
}

} // namespace

void TestPatternEncoder::Draw(uint8_t *pY, int nStrideY, uint8_t *pU, int nStrideU, uint8_t *pV, int nStrideV,
                              int nWidth, int nHeight, int nLabel, int nFrame, int nFrameRate, int nFrameCount)
{
    // 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
    static const uint8_t kBars[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                                        {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
    const int nCw = nWidth / 2, nCh = nHeight / 2;
    for (int b = 0; b < 8; ++b) {
        const int x0 = nWidth * b / 8, x1 = nWidth * (b + 1) / 8;
        FillRect(pY, nStrideY, nWidth, nHeight, x0, 0, x1 - x0, nHeight, kBars[b][0]);
        FillRect(pU, nStrideU, nCw, nCh, x0 / 2, 0, (x1 - x0 + 1) / 2, nCh, kBars[b][1]);
        FillRect(pV, nStrideV, nCw, nCh, x0 / 2, 0, (x1 - x0 + 1) / 2, nCh, kBars[b][2]);
    }
    // A box that crosses the picture once per loop, so that every frame differs.
    const int nBox = std::max(8, nHeight / 8) & ~1;
    const int nSpan = std::max(1, nWidth - nBox);
    const int nBoxX = (nFrameCount > 0 ? nFrame % nFrameCount : nFrame) * nSpan / std::max(1, nFrameCount);
    const int nBoxY = (nHeight * 3 / 4) & ~1;
    FillRect(pY, nStrideY, nWidth, nHeight, nBoxX & ~1, nBoxY, nBox, nBox, 235);
    FillRect(pU, nStrideU, nCw, nCh, nBoxX / 2, nBoxY / 2, nBox / 2, nBox / 2, 128);
    FillRect(pV, nStrideV, nCw, nCh, nBoxX / 2, nBoxY / 2, nBox / 2, nBox / 2, 128);

    // The channel number and the time within the loop (mm:ss.ff), white on black.
    char szLine1[32], szLine2[48];
    std::snprintf(szLine1, sizeof szLine1, "CH %02d", (nLabel + 1) % 1000);
    const int nRate = std::max(1, nFrameRate);
    const int nSeconds = nFrame / nRate;
    std::snprintf(szLine2, sizeof szLine2, "%02d:%02d.%02d", (nSeconds / 60) % 100, nSeconds % 60, nFrame % nRate);
    const int nScale = std::max(1, nHeight / 90);
    const int nTextW = 8 * 6 * nScale + 2 * nScale, nTextH = 2 * 9 * nScale + nScale;
    const int nTextX = 2 * nScale, nTextY = 2 * nScale;
    FillRect(pY, nStrideY, nWidth, nHeight, nTextX & ~1, nTextY & ~1, nTextW, nTextH, 16);
    FillRect(pU, nStrideU, nCw, nCh, nTextX / 2, nTextY / 2, (nTextW + 1) / 2, (nTextH + 1) / 2, 128);
    FillRect(pV, nStrideV, nCw, nCh, nTextX / 2, nTextY / 2, (nTextW + 1) / 2, (nTextH + 1) / 2, 128);
    DrawText(pY, nStrideY, nWidth, nHeight, nTextX + nScale, nTextY + nScale, nScale, szLine1);
    DrawText(pY, nStrideY, nWidth, nHeight, nTextX + nScale, nTextY + 10 * nScale, nScale, szLine2);
}

bool TestPatternEncoder::EncodeLoop(const Settings &s, VideoLoop &loop, std::string &strError)
{
    const bool bH265 = s.nCodec == 3;
#if defined(__SANITIZE_ADDRESS__)
    // libx265 keeps some of its allocations past x265_encoder_close; they are not ours to report.
    std::unique_ptr<__lsan::ScopedDisabler> pNoLeakCheck;
    if (bH265)
        pNoLeakCheck = std::make_unique<__lsan::ScopedDisabler>();
#endif
    const char *pEncoder = bH265 ? "libx265" : "libx264";
    const AVCodec *pCodec = avcodec_find_encoder_by_name(pEncoder);
    if (!pCodec) {
        strError = std::string("no encoder ") + pEncoder;
        return false;
    }
    AvCodecContextPtr ctx(avcodec_alloc_context3(pCodec));
    if (!ctx) {
        strError = "cannot allocate the encoder";
        return false;
    }
    ctx->width = s.nWidth;
    ctx->height = s.nHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, s.nFrameRate};
    ctx->framerate = AVRational{s.nFrameRate, 1};
    ctx->gop_size = s.nKeyInterval;
    ctx->keyint_min = s.nKeyInterval;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    const std::string strKey = std::to_string(s.nKeyInterval);
    if (bH265) {
        const std::string strParams = "repeat-headers=1:open-gop=0:scenecut=0:keyint=" + strKey + ":min-keyint=" +
                                      strKey + ":bframes=0:pools=1:frame-threads=1:log-level=error";
        av_opt_set(ctx->priv_data, "x265-params", strParams.c_str(), 0);
    } else {
        const std::string strParams = "repeat-headers=1:scenecut=0:keyint=" + strKey + ":min-keyint=" + strKey +
                                      ":bframes=0:log=-1";
        av_opt_set(ctx->priv_data, "x264-params", strParams.c_str(), 0);
    }
    int nErr = avcodec_open2(ctx.get(), pCodec, nullptr);
    if (nErr < 0)
        return Fail(strError, std::string("cannot open ") + pEncoder, nErr);

    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        strError = "out of memory";
        return false;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = s.nWidth;
    frame->height = s.nHeight;
    nErr = av_frame_get_buffer(frame.get(), 0);
    if (nErr < 0)
        return Fail(strError, "cannot allocate a picture", nErr);

    loop = VideoLoop();
    loop.nCodec = s.nCodec;
    loop.nWidth = s.nWidth;
    loop.nHeight = s.nHeight;
    loop.nFrameRate = s.nFrameRate;

    auto drain = [&]() -> bool {
        for (;;) {
            const int nRet = avcodec_receive_packet(ctx.get(), packet.get());
            if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
                return true;
            if (nRet < 0)
                return Fail(strError, "encoding failed", nRet);
            EncodedFrame ef;
            ef.data.assign(packet->data, packet->data + packet->size);
            ef.bKeyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            loop.frames.push_back(std::move(ef));
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < s.nFrameCount; ++i) {
        nErr = av_frame_make_writable(frame.get());
        if (nErr < 0)
            return Fail(strError, "picture not writable", nErr);
        Draw(frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2],
             frame->linesize[2], s.nWidth, s.nHeight, s.nLabel, i, s.nFrameRate, s.nFrameCount);
        frame->pts = i;
        // Every key interval begins with a key frame, whatever the encoder would choose.
        frame->pict_type = (i % s.nKeyInterval == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        nErr = avcodec_send_frame(ctx.get(), frame.get());
        if (nErr < 0)
            return Fail(strError, "encoding failed", nErr);
        if (!drain())
            return false;
    }
    nErr = avcodec_send_frame(ctx.get(), nullptr);
    if (nErr < 0)
        return Fail(strError, "encoder flush failed", nErr);
    if (!drain())
        return false;

    if (loop.frames.empty() || !loop.frames.front().bKeyFrame) {
        strError = "the encoded loop does not begin with a key frame";
        return false;
    }
    // Every key frame carries the parameter sets, even when the encoder wrote them only once.
    const std::vector<uint8_t> sets =
        AnnexB::ParameterSets(loop.frames.front().data.data(), loop.frames.front().data.size(), bH265);
    for (EncodedFrame &ef : loop.frames) {
        if (ef.bKeyFrame && !AnnexB::HasParameterSets(ef.data.data(), ef.data.size(), bH265))
            ef.data.insert(ef.data.begin(), sets.begin(), sets.end());
    }
    if (!AnnexB::HasParameterSets(loop.frames.front().data.data(), loop.frames.front().data.size(), bH265)) {
        strError = "the encoder wrote no parameter sets";
        return false;
    }
    return true;
}

bool TestPatternEncoder::EncodeJpeg(int nWidth, int nHeight, int nLabel, std::vector<uint8_t> &out,
                                    std::string &strError)
{
    const AVCodec *pCodec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!pCodec) {
        strError = "no JPEG encoder";
        return false;
    }
    AvCodecContextPtr ctx(avcodec_alloc_context3(pCodec));
    if (!ctx) {
        strError = "cannot allocate the encoder";
        return false;
    }
    ctx->width = nWidth;
    ctx->height = nHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
    ctx->time_base = AVRational{1, 25};
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 4;
    int nErr = avcodec_open2(ctx.get(), pCodec, nullptr);
    if (nErr < 0)
        return Fail(strError, "cannot open the JPEG encoder", nErr);
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        strError = "out of memory";
        return false;
    }
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->width = nWidth;
    frame->height = nHeight;
    nErr = av_frame_get_buffer(frame.get(), 0);
    if (nErr < 0)
        return Fail(strError, "cannot allocate a picture", nErr);
    Draw(frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2], frame->linesize[2],
         nWidth, nHeight, nLabel, 0, 25, 1);
    frame->pts = 0;
    frame->quality = ctx->global_quality;
    nErr = avcodec_send_frame(ctx.get(), frame.get());
    if (nErr >= 0)
        nErr = avcodec_send_frame(ctx.get(), nullptr);
    if (nErr < 0)
        return Fail(strError, "JPEG encoding failed", nErr);
    out.clear();
    for (;;) {
        const int nRet = avcodec_receive_packet(ctx.get(), packet.get());
        if (nRet == AVERROR_EOF || nRet == AVERROR(EAGAIN))
            break;
        if (nRet < 0)
            return Fail(strError, "JPEG encoding failed", nRet);
        out.insert(out.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (out.empty()) {
        strError = "the JPEG encoder wrote nothing";
        return false;
    }
    return true;
}
