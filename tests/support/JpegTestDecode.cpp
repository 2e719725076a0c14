#include "tests/support/JpegTestDecode.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace JpegTest {

namespace {

struct Error
{
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnError(j_common_ptr p) { std::longjmp(reinterpret_cast<Error *>(p->err)->jump, 1); }

bool Read(const QByteArray &bytes, jpeg_decompress_struct &cinfo, Error &error, Decoded &out)
{
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    out.nWidth = static_cast<int>(cinfo.image_width);
    out.nHeight = static_cast<int>(cinfo.image_height);
    out.nComponents = cinfo.num_components;
    out.bProgressive = cinfo.progressive_mode != 0;
    out.nLumaH = cinfo.comp_info[0].h_samp_factor;
    out.nLumaV = cinfo.comp_info[0].v_samp_factor;
    if (cinfo.quant_tbl_ptrs[0])
        for (int i = 0; i < DCTSIZE2; ++i)
            out.nMaxLumaQuant = std::max<int>(out.nMaxLumaQuant, cinfo.quant_tbl_ptrs[0]->quantval[i]);
    // The decoder's own colour space and a chroma sample repeated over its pixels: the planes come back as
    // they were compressed.
    cinfo.out_color_space = JCS_YCbCr;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    const int w = out.nWidth, h = out.nHeight, cw = (w + 1) / 2, ch = (h + 1) / 2;
    out.i420.assign(static_cast<size_t>(w * h + 2 * cw * ch), 0);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int x = 0; x < w; ++x) {
            out.i420[static_cast<size_t>(y * w + x)] = row[static_cast<size_t>(x) * 3];
            if (y % 2 == 0 && x % 2 == 0) {
                out.i420[static_cast<size_t>(w * h + (y / 2) * cw + x / 2)] = row[static_cast<size_t>(x) * 3 + 1];
                out.i420[static_cast<size_t>(w * h + cw * ch + (y / 2) * cw + x / 2)] = row[static_cast<size_t>(x) * 3 + 2];
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

Decoded Decode(const QString &strPath)
{
    Decoded out;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QByteArray bytes = file.readAll();
    for (int i = 0; i + 1 < bytes.size(); ++i)
        if (static_cast<uint8_t>(bytes[i]) == 0xFF && static_cast<uint8_t>(bytes[i + 1]) == 0xC0) {
            out.bBaselineMarker = true;
            break;
        }
    jpeg_decompress_struct cinfo{};
    Error error{};
    out.bOk = Read(bytes, cinfo, error, out);
    return out;
}

Difference Compare(const uint8_t *pA, const uint8_t *pB, size_t nSize)
{
    Difference d;
    double dSum = 0;
    for (size_t i = 0; i < nSize; ++i) {
        const int n = std::abs(static_cast<int>(pA[i]) - static_cast<int>(pB[i]));
        dSum += n;
        d.nMax = std::max(d.nMax, n);
    }
    d.dMean = nSize ? dSum / static_cast<double>(nSize) : 0;
    return d;
}

std::vector<uint8_t> FullLevels(const std::vector<uint8_t> &i420, int w, int h)
{
    std::vector<uint8_t> out(i420.size());
    const size_t nLuma = static_cast<size_t>(w) * static_cast<size_t>(h);
    auto clamp = [](double d) { return static_cast<uint8_t>(std::lround(std::max(0.0, std::min(255.0, d)))); };
    for (size_t i = 0; i < i420.size(); ++i)
        out[i] = i < nLuma ? clamp((i420[i] - 16.0) * 255.0 / 219.0) : clamp((i420[i] - 128.0) * 255.0 / 224.0 + 128.0);
    return out;
}

std::vector<uint8_t> SyntheticI420(int w, int h)
{
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> pic(static_cast<size_t>(w * h + 2 * cw * ch));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pic[static_cast<size_t>(y * w + x)] =
                static_cast<uint8_t>(x < w / 2 ? 16 + (x * 219) / std::max(1, w / 2) : ((y / 8) % 2 ? 40 : 200));
    uint8_t *pCb = pic.data() + w * h;
    uint8_t *pCr = pCb + cw * ch;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            pCb[y * cw + x] = static_cast<uint8_t>(64 + (y * 128) / std::max(1, ch));
            pCr[y * cw + x] = static_cast<uint8_t>(x < cw / 3 ? 90 : 170);
        }
    return pic;
}

} // namespace JpegTest
