#pragma once

#include "platform/winapi.h"
#include "platform/AvPointers.h"
#include "standin/pavline/ColourTables.h"

#include <QImage>

#include <cstdint>
#include <vector>

// What a port applies to each picture it shows.
struct RenderSettings
{
    int nBrightness = 64;
    int nContrast = 64;
    int nSaturation = 64;
    int nHue = 64;
    bool bRegion = false;       // region on the 0-8192 scale of the picture
    RECT region{0, 0, 8192, 8192};
    bool bActualSize = false;   // the picture at its own pixel size, in the middle
    int nScaling = 0;           // KTN_SCALING_*
};

// Draws decoded pictures into a window's surface image: the display region cut out, the colour tables
// applied, scaled with libswscale. Also gives the picture as a BMP file image or as I420.
class PictureRenderer
{
public:
    PictureRenderer();
    ~PictureRenderer();
    PictureRenderer(const PictureRenderer &) = delete;
    PictureRenderer &operator=(const PictureRenderer &) = delete;

    // Fills the image (QImage::Format_RGB32) with the picture. False for a picture it cannot convert.
    bool Draw(const AVFrame *pFrame, const RenderSettings &settings, QImage &target);
    // An image of that size that Draw fills without a copy (its rows have room for the converter's steps), and
    // whether an image is one.
    static QImage NewTarget(const QSize &size);
    static bool FitsTarget(const QImage &image);

    // The whole picture, colour applied: type 0 a BMP file image, 1 I420. nError gets a KTN_ERR_* on failure.
    bool Capture(const AVFrame *pFrame, const RenderSettings &settings, int nType, uint8_t *pBuffer,
                 uint32_t nBufferSize, int &nWidth, int &nHeight, int32_t &nError);

    // The bytes a capture of a w x h picture takes.
    static uint32_t BmpSize(int nWidth, int nHeight);
    static uint32_t I420Size(int nWidth, int nHeight);

private:
    struct Planes
    {
        // Four entries, as libswscale reads them.
        const uint8_t *p[4] = {nullptr, nullptr, nullptr, nullptr};
        int stride[4] = {0, 0, 0, 0};
        int nWidth = 0;
        int nHeight = 0;
        bool bFullRange = false;
    };
    // The picture as 8-bit 4:2:0 planes (converted when it is in another format).
    bool Source(const AVFrame *pFrame, Planes &planes);
    // The planes cut to the region (even offsets).
    Planes Crop(const Planes &source, const RenderSettings &settings);
    // The planes with the colour applied (the same planes when the colour is neutral).
    Planes Coloured(const Planes &planes, const RenderSettings &settings);
    // Every k-th line only, k the whole number of source lines per target line.
    static Planes SkipLines(const Planes &planes, int nDstHeight);
    SwsContext *Scaler(int nSrcW, int nSrcH, bool bFullRange, int nDstW, int nDstH, int nDstFormat, int nScaling);

    ColourTables m_colour;
    AvFramePtr m_pConverted;            // a picture of another format, as YUV 4:2:0
    SwsContext *m_pConvert = nullptr;
    std::vector<uint8_t> m_adjusted;    // the colour-adjusted planes
    std::vector<uint8_t> m_rows;        // a capture's rows top-down
    AvFramePtr m_pSmall;                // the picture at the target's size, still YUV 4:2:0
    QImage m_scratch;                   // the converted picture, for a target it cannot be written into
    SwsContext *m_pResize = nullptr;
    SwsContext *m_pScale = nullptr;
    bool m_bScaleFullRange = false;
};
