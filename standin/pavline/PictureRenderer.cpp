#include "standin/pavline/PictureRenderer.h"

#include "platform/pavline.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QImage>

#include <algorithm>
#include <cstring>

namespace {

void PutLe16(uint8_t *p, uint32_t n)
{
    p[0] = static_cast<uint8_t>(n & 0xFF);
    p[1] = static_cast<uint8_t>((n >> 8) & 0xFF);
}

void PutLe32(uint8_t *p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>((n >> (8 * i)) & 0xFF);
}

// libswscale's converters read and write rows in whole steps of 16 pixels; buffers of our own have that room
// in each row, and a little more after the last.
constexpr size_t kSlack = 64;
int RoundUp16(int n) { return (n + 15) & ~15; }

int ScalingFlags(int nScaling)
{
    switch (nScaling) {
    case KTN_SCALING_BILINEAR: return SWS_BILINEAR;
    case KTN_SCALING_BICUBIC: return SWS_BICUBIC;
    default: return SWS_FAST_BILINEAR;
    }
}

} // namespace

PictureRenderer::PictureRenderer() = default;

PictureRenderer::~PictureRenderer()
{
    sws_freeContext(m_pConvert);
    sws_freeContext(m_pResize);
    sws_freeContext(m_pScale);
}

uint32_t PictureRenderer::BmpSize(int nWidth, int nHeight)
{
    const uint32_t nStride = (static_cast<uint32_t>(nWidth) * 3 + 3) & ~3u;
    return 54 + nStride * static_cast<uint32_t>(nHeight);
}

uint32_t PictureRenderer::I420Size(int nWidth, int nHeight)
{
    const uint32_t nCw = static_cast<uint32_t>(nWidth + 1) / 2, nCh = static_cast<uint32_t>(nHeight + 1) / 2;
    return static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nHeight) + 2 * nCw * nCh;
}

bool PictureRenderer::Source(const AVFrame *pFrame, Planes &planes)
{
    if (!pFrame || pFrame->width <= 0 || pFrame->height <= 0)
        return false;
    planes.nWidth = pFrame->width;
    planes.nHeight = pFrame->height;
    if (pFrame->format == AV_PIX_FMT_YUV420P || pFrame->format == AV_PIX_FMT_YUVJ420P) {
        for (int i = 0; i < 3; ++i) {
            planes.p[i] = pFrame->data[i];
            planes.stride[i] = pFrame->linesize[i];
        }
        planes.bFullRange = pFrame->format == AV_PIX_FMT_YUVJ420P || pFrame->color_range == AVCOL_RANGE_JPEG;
        return true;
    }
    // Another layout (4:2:2, 10 bits, ...): once through libswscale into 4:2:0.
    if (!m_pConverted || m_pConverted->width != pFrame->width || m_pConverted->height != pFrame->height) {
        m_pConverted = NewAvFrame();
        m_pConverted->format = AV_PIX_FMT_YUV420P;
        m_pConverted->width = pFrame->width;
        m_pConverted->height = pFrame->height;
        if (av_frame_get_buffer(m_pConverted.get(), 32) < 0) {
            m_pConverted.reset();
            return false;
        }
    }
    m_pConvert = sws_getCachedContext(m_pConvert, pFrame->width, pFrame->height,
                                      static_cast<AVPixelFormat>(pFrame->format), pFrame->width, pFrame->height,
                                      AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_pConvert)
        return false;
    sws_scale(m_pConvert, pFrame->data, pFrame->linesize, 0, pFrame->height, m_pConverted->data,
              m_pConverted->linesize);
    for (int i = 0; i < 3; ++i) {
        planes.p[i] = m_pConverted->data[i];
        planes.stride[i] = m_pConverted->linesize[i];
    }
    planes.bFullRange = false;
    return true;
}

PictureRenderer::Planes PictureRenderer::Crop(const Planes &source, const RenderSettings &s)
{
    Planes out = source;
    if (s.bRegion) {
        const int W = source.nWidth, H = source.nHeight;
        int x0 = static_cast<int>(static_cast<int64_t>(s.region.left) * W / KTN_DISPLAY_REGION_SCALE) & ~1;
        int y0 = static_cast<int>(static_cast<int64_t>(s.region.top) * H / KTN_DISPLAY_REGION_SCALE) & ~1;
        int x1 = static_cast<int>(static_cast<int64_t>(s.region.right) * W / KTN_DISPLAY_REGION_SCALE);
        int y1 = static_cast<int>(static_cast<int64_t>(s.region.bottom) * H / KTN_DISPLAY_REGION_SCALE);
        // A region narrower than two pixels still shows two.
        x0 = std::min(x0, std::max(0, W - 2) & ~1);
        y0 = std::min(y0, std::max(0, H - 2) & ~1);
        x1 = std::min(W, std::max(x1, x0 + 2));
        y1 = std::min(H, std::max(y1, y0 + 2));
        out.p[0] = source.p[0] + static_cast<std::ptrdiff_t>(y0) * source.stride[0] + x0;
        out.p[1] = source.p[1] + static_cast<std::ptrdiff_t>(y0 / 2) * source.stride[1] + x0 / 2;
        out.p[2] = source.p[2] + static_cast<std::ptrdiff_t>(y0 / 2) * source.stride[2] + x0 / 2;
        out.nWidth = x1 - x0;
        out.nHeight = y1 - y0;
    }
    return out;
}

PictureRenderer::Planes PictureRenderer::Coloured(const Planes &planes, const RenderSettings &s)
{
    m_colour.Set(s.nBrightness, s.nContrast, s.nSaturation, s.nHue);
    if (m_colour.IsNeutral())
        return planes;
    Planes out = planes;
    const int nCw = (out.nWidth + 1) / 2, nCh = (out.nHeight + 1) / 2;
    const int nStrideY = RoundUp16(out.nWidth), nStrideC = RoundUp16(nCw);
    const size_t nLuma = static_cast<size_t>(nStrideY) * static_cast<size_t>(out.nHeight);
    const size_t nChroma = static_cast<size_t>(nStrideC) * static_cast<size_t>(nCh);
    m_adjusted.resize(nLuma + 2 * nChroma + kSlack);
    uint8_t *pY = m_adjusted.data(), *pU = pY + nLuma, *pV = pU + nChroma;
    m_colour.Apply(out.p[0], out.stride[0], out.p[1], out.stride[1], out.p[2], out.stride[2], pY, nStrideY, pU,
                   nStrideC, pV, nStrideC, out.nWidth, out.nHeight);
    out.p[0] = pY;
    out.p[1] = pU;
    out.p[2] = pV;
    out.stride[0] = nStrideY;
    out.stride[1] = nStrideC;
    out.stride[2] = nStrideC;
    return out;
}

SwsContext *PictureRenderer::Scaler(int nSrcW, int nSrcH, bool bFullRange, int nDstW, int nDstH, int nDstFormat,
                                    int nScaling)
{
    SwsContext *pBefore = m_pScale;
    m_pScale = sws_getCachedContext(m_pScale, nSrcW, nSrcH, AV_PIX_FMT_YUV420P, nDstW, nDstH,
                                    static_cast<AVPixelFormat>(nDstFormat), ScalingFlags(nScaling), nullptr, nullptr,
                                    nullptr);
    if (m_pScale && (m_pScale != pBefore || bFullRange != m_bScaleFullRange)) {
        // The range of the source is told to the scaler, not carried in a deprecated "J" format.
        int *pInvTable = nullptr, *pTable = nullptr;
        int nSrcRange = 0, nDstRange = 0, nBrightness = 0, nContrast = 0, nSaturation = 0;
        if (sws_getColorspaceDetails(m_pScale, &pInvTable, &nSrcRange, &pTable, &nDstRange, &nBrightness, &nContrast,
                                     &nSaturation) >= 0)
            sws_setColorspaceDetails(m_pScale, sws_getCoefficients(SWS_CS_ITU601), bFullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_ITU601), nDstRange, nBrightness, nContrast,
                                     nSaturation);
        m_bScaleFullRange = bFullRange;
    }
    return m_pScale;
}

PictureRenderer::Planes PictureRenderer::SkipLines(const Planes &planes, int nDstHeight)
{
    // The fast scaler reads two source lines per target line whatever the ratio; lines it would pass over are
    // left out before it rather than filtered by it, so each picture costs what the tile needs.
    const int k = nDstHeight > 0 ? planes.nHeight / nDstHeight : 1;
    if (k < 2)
        return planes;
    Planes out = planes;
    for (int i = 0; i < 3; ++i)
        out.stride[i] = planes.stride[i] * k;
    out.nHeight = planes.nHeight / k;
    return out;
}

bool PictureRenderer::Draw(const AVFrame *pFrame, const RenderSettings &settings, QImage &target)
{
    Planes source;
    if (target.isNull() || !Source(pFrame, source))
        return false;
    const Planes planes = Crop(source, settings);
    const int nTw = target.width(), nTh = target.height();
    int nDx = 0, nDy = 0, nDw = nTw, nDh = nTh;
    Planes shown = planes;
    if (settings.bActualSize) {
        // At its own size in the middle; what does not fit is cut off evenly.
        nDw = std::min(nTw, planes.nWidth);
        nDh = std::min(nTh, planes.nHeight);
        const int nCutX = ((planes.nWidth - nDw) / 2) & ~1, nCutY = ((planes.nHeight - nDh) / 2) & ~1;
        shown.p[0] += static_cast<std::ptrdiff_t>(nCutY) * planes.stride[0] + nCutX;
        shown.p[1] += static_cast<std::ptrdiff_t>(nCutY / 2) * planes.stride[1] + nCutX / 2;
        shown.p[2] += static_cast<std::ptrdiff_t>(nCutY / 2) * planes.stride[2] + nCutX / 2;
        shown.nWidth = nDw;
        shown.nHeight = nDh;
        nDx = (nTw - nDw) / 2;
        nDy = (nTh - nDh) / 2;
        if (nDw < nTw || nDh < nTh)
            target.fill(Qt::black);
    }
    if (nDw <= 0 || nDh <= 0)
        return false;

    // Scaled once, from the decoder's planes to the target's size, still as 4:2:0; the colour tables then work
    // on the small planes, and the conversion to RGB runs at the target's size without scaling.
    Planes small = shown;
    if (shown.nWidth != nDw || shown.nHeight != nDh) {
        const Planes from = settings.nScaling == KTN_SCALING_FAST ? SkipLines(shown, nDh) : shown;
        if (!m_pSmall || m_pSmall->width != nDw || m_pSmall->height != nDh) {
            m_pSmall = NewAvFrame();
            m_pSmall->format = AV_PIX_FMT_YUV420P;
            m_pSmall->width = nDw;
            m_pSmall->height = nDh;
            if (av_frame_get_buffer(m_pSmall.get(), 32) < 0) {
                m_pSmall.reset();
                return false;
            }
        }
        m_pResize = sws_getCachedContext(m_pResize, from.nWidth, from.nHeight, AV_PIX_FMT_YUV420P, nDw, nDh,
                                         AV_PIX_FMT_YUV420P, ScalingFlags(settings.nScaling), nullptr, nullptr,
                                         nullptr);
        if (!m_pResize)
            return false;
        sws_scale(m_pResize, from.p, from.stride, 0, from.nHeight, m_pSmall->data, m_pSmall->linesize);
        for (int i = 0; i < 3; ++i) {
            small.p[i] = m_pSmall->data[i];
            small.stride[i] = m_pSmall->linesize[i];
        }
        small.nWidth = nDw;
        small.nHeight = nDh;
    }
    small = Coloured(small, settings);
    SwsContext *pConvert = Scaler(nDw, nDh, small.bFullRange, nDw, nDh, AV_PIX_FMT_BGRA, KTN_SCALING_FAST);
    if (!pConvert)
        return false;
    // The converter writes whole steps of 16 pixels a row: straight into an image with that room, else into
    // one of its own and copied.
    const bool bDirect = nDx == 0 && nDy == 0 && nDw == nTw && FitsTarget(target);
    if (!bDirect && (m_scratch.width() < nDw || m_scratch.height() < nDh))
        m_scratch = NewTarget(QSize(nDw, nDh));
    QImage &out = bDirect ? target : m_scratch;
    uint8_t *pDst[4] = {out.bits(), nullptr, nullptr, nullptr};
    int nDstStride[4] = {static_cast<int>(out.bytesPerLine()), 0, 0, 0};
    sws_scale(pConvert, small.p, small.stride, 0, nDh, pDst, nDstStride);
    if (!bDirect)
        for (int r = 0; r < nDh; ++r)
            std::memcpy(target.scanLine(nDy + r) + nDx * 4, m_scratch.constScanLine(r), static_cast<size_t>(nDw) * 4);
    return true;
}

QImage PictureRenderer::NewTarget(const QSize &size)
{
    const int w = std::max(1, size.width()), h = std::max(1, size.height());
    const qsizetype nStride = static_cast<qsizetype>(RoundUp16(w)) * 4;
    auto *pBytes = new uchar[static_cast<size_t>(nStride) * static_cast<size_t>(h) + kSlack];
    return QImage(pBytes, w, h, nStride, QImage::Format_RGB32, [](void *p) { delete[] static_cast<uchar *>(p); },
                  pBytes);
}

bool PictureRenderer::FitsTarget(const QImage &image)
{
    return image.format() == QImage::Format_RGB32 &&
           image.bytesPerLine() >= static_cast<qsizetype>(RoundUp16(image.width())) * 4;
}

bool PictureRenderer::Capture(const AVFrame *pFrame, const RenderSettings &settings, int nType, uint8_t *pBuffer,
                              uint32_t nBufferSize, int &nWidth, int &nHeight, int32_t &nError)
{
    Planes source;
    if (!Source(pFrame, source)) {
        nError = KTN_ERR_NO_PICTURE;
        return false;
    }
    const Planes planes = Coloured(source, settings);
    const int W = planes.nWidth, H = planes.nHeight;
    if (nType == KTN_CAPTURE_I420) {
        if (nBufferSize < I420Size(W, H)) {
            nError = KTN_ERR_BUFFER_SMALL;
            return false;
        }
        const int nCw = (W + 1) / 2, nCh = (H + 1) / 2;
        uint8_t *pOut = pBuffer;
        for (int r = 0; r < H; ++r, pOut += W)
            std::memcpy(pOut, planes.p[0] + static_cast<std::ptrdiff_t>(r) * planes.stride[0], static_cast<size_t>(W));
        for (int c = 1; c <= 2; ++c)
            for (int r = 0; r < nCh; ++r, pOut += nCw)
                std::memcpy(pOut, planes.p[c] + static_cast<std::ptrdiff_t>(r) * planes.stride[c],
                            static_cast<size_t>(nCw));
        nWidth = W;
        nHeight = H;
        return true;
    }
    if (nType != KTN_CAPTURE_BMP) {
        nError = KTN_ERR_PARAM;
        return false;
    }
    const uint32_t nFileSize = BmpSize(W, H);
    if (nBufferSize < nFileSize) {
        nError = KTN_ERR_BUFFER_SMALL;
        return false;
    }
    const uint32_t nStride = (static_cast<uint32_t>(W) * 3 + 3) & ~3u;
    std::memset(pBuffer, 0, 54);
    pBuffer[0] = 'B';
    pBuffer[1] = 'M';
    PutLe32(pBuffer + 2, nFileSize);
    PutLe32(pBuffer + 10, 54);                  // pixels follow the two headers
    PutLe32(pBuffer + 14, 40);                  // BITMAPINFOHEADER
    PutLe32(pBuffer + 18, static_cast<uint32_t>(W));
    PutLe32(pBuffer + 22, static_cast<uint32_t>(H));    // positive: rows bottom-up
    PutLe16(pBuffer + 26, 1);
    PutLe16(pBuffer + 28, 24);
    PutLe32(pBuffer + 34, nStride * static_cast<uint32_t>(H));
    PutLe32(pBuffer + 38, 2835);                // 72 dpi
    PutLe32(pBuffer + 42, 2835);
    uint8_t *pPixels = pBuffer + 54;
    std::memset(pPixels, 0, nStride * static_cast<uint32_t>(H));
    SwsContext *pScale = Scaler(W, H, planes.bFullRange, W, H, AV_PIX_FMT_BGR24, KTN_SCALING_BICUBIC);
    if (!pScale) {
        nError = KTN_ERR_FAILED;
        return false;
    }
    const size_t nRowStride = static_cast<size_t>(RoundUp16(W)) * 3;
    m_rows.resize(nRowStride * static_cast<size_t>(H) + kSlack);
    uint8_t *pDst[4] = {m_rows.data(), nullptr, nullptr, nullptr};
    int nDstStride[4] = {static_cast<int>(nRowStride), 0, 0, 0};
    sws_scale(pScale, planes.p, planes.stride, 0, H, pDst, nDstStride);
    // A BMP keeps its rows bottom-up.
    for (int r = 0; r < H; ++r)
        std::memcpy(pPixels + static_cast<std::ptrdiff_t>(H - 1 - r) * nStride,
                    m_rows.data() + static_cast<std::ptrdiff_t>(r) * nRowStride, static_cast<size_t>(W) * 3);
    nWidth = W;
    nHeight = H;
    return true;
}
