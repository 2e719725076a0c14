#include "device/media/JpegWriter.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kQuality = 99;

// libjpeg's default error handler ends the process; this one returns to the writer.
struct JpegError
{
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnJpegError(j_common_ptr pInfo)
{
    std::longjmp(reinterpret_cast<JpegError *>(pInfo->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}

void RemoveIfRegular(const char *pPath)
{
    struct stat st;
    if (::stat(pPath, &st) == 0 && S_ISREG(st.st_mode))
        std::remove(pPath);
}

// The decoder's pictures are in video levels (luma 16-235, chroma 16-240 about 128); every JPEG viewer reads
// full levels (JFIF), so a picture written as it is looks grey beside the same picture as a BMP. Each plane goes
// through its table on the way.
struct LevelTables
{
    uint8_t luma[256];
    uint8_t chroma[256];
    LevelTables()
    {
        for (int v = 0; v < 256; ++v) {
            const double dLuma = (v - 16) * 255.0 / 219.0;
            const double dChroma = (v - 128) * 255.0 / 224.0 + 128.0;
            luma[v] = static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, dLuma))));
            chroma[v] = static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, dChroma))));
        }
    }
};

const LevelTables &Levels()
{
    static const LevelTables tables;
    return tables;
}

// Rows of one plane for one pass of the compressor, in full levels: n rows from row nFirst, each nPadded samples
// wide; rows and columns past the picture repeat its last ones.
void PlaneRows(const uint8_t *pPlane, size_t nWidth, size_t nHeight, size_t nPadded, size_t nFirst, int n,
               const uint8_t *pTable, uint8_t *pScratch, JSAMPROW *pRows)
{
    for (int i = 0; i < n; ++i) {
        const size_t r = std::min(nFirst + static_cast<size_t>(i), nHeight - 1);
        const uint8_t *pRow = pPlane + r * nWidth;
        uint8_t *pOut = pScratch + static_cast<size_t>(i) * nPadded;
        for (size_t x = 0; x < nWidth; ++x)
            pOut[x] = pTable[pRow[x]];
        std::memset(pOut + nWidth, pOut[nWidth - 1], nPadded - nWidth);
        pRows[i] = pOut;
    }
}

// The libjpeg part: no object with a destructor lives in this frame, so that the error handler may jump back;
// the compressor and the scratch rows live in the caller's frame, so that they are intact after the jump.
//
// The picture is given as it is, planes already 4:2:0 (the compressor's own sampling): Y, Cb and Cr go in as raw
// data, which is what interleaving each line as (Y, Cb, Cr) triplets, each chroma sample repeated over its two
// columns and rows, and letting libjpeg average them down again gives, without the detour.
bool Compress(jpeg_compress_struct &cinfo, JpegError &error, std::FILE *pFile, int nWidth, int nHeight,
              const uint8_t *pPicture, std::vector<uint8_t> &scratch)
{
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnJpegError;
    error.mgr.output_message = OnJpegMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, pFile);
    cinfo.image_width = static_cast<JDIMENSION>(nWidth);
    cinfo.image_height = static_cast<JDIMENSION>(nHeight);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    // Luma 2x2, chroma 1x1: rows 2j and 2j+1 and pixels 2k and 2k+1 share chroma sample (k, j).
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.raw_data_in = TRUE;
    jpeg_start_compress(&cinfo, TRUE);

    const size_t w = static_cast<size_t>(nWidth), h = static_cast<size_t>(nHeight);
    const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    const size_t nLumaPadded = cinfo.comp_info[0].width_in_blocks * DCTSIZE;
    const size_t nChromaPadded = cinfo.comp_info[1].width_in_blocks * DCTSIZE;
    scratch.resize(2 * DCTSIZE * nLumaPadded + 2 * DCTSIZE * nChromaPadded);
    uint8_t *pLumaScratch = scratch.data();
    uint8_t *pCbScratch = pLumaScratch + 2 * DCTSIZE * nLumaPadded;
    uint8_t *pCrScratch = pCbScratch + DCTSIZE * nChromaPadded;
    const uint8_t *pCb = pPicture + w * h;
    const uint8_t *pCr = pCb + cw * ch;
    const LevelTables &levels = Levels();
    JSAMPROW luma[2 * DCTSIZE], cb[DCTSIZE], cr[DCTSIZE];
    JSAMPARRAY planes[3] = {luma, cb, cr};
    while (cinfo.next_scanline < cinfo.image_height) {
        const size_t r = cinfo.next_scanline;
        PlaneRows(pPicture, w, h, std::max(nLumaPadded, w), r, 2 * DCTSIZE, levels.luma, pLumaScratch, luma);
        PlaneRows(pCb, cw, ch, std::max(nChromaPadded, cw), r / 2, DCTSIZE, levels.chroma, pCbScratch, cb);
        PlaneRows(pCr, cw, ch, std::max(nChromaPadded, cw), r / 2, DCTSIZE, levels.chroma, pCrScratch, cr);
        jpeg_write_raw_data(&cinfo, planes, 2 * DCTSIZE);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

bool WriteJpegFile(const char *pPath, int nWidth, int nHeight, const uint8_t *pPicture, size_t nSize)
{
    if (!pPath || !pPicture || nWidth <= 0 || nHeight <= 0)
        return false;
    const uint64_t nChroma = static_cast<uint64_t>((nWidth + 1) / 2) * static_cast<uint64_t>((nHeight + 1) / 2);
    const uint64_t nNeeded = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) + 2 * nChroma;
    if (nNeeded > nSize)
        return false;
    std::FILE *pFile = std::fopen(pPath, "wb");
    if (!pFile)
        return false;
    std::vector<uint8_t> scratch;
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegError error;
    std::memset(&error, 0, sizeof error);
    bool bOk = Compress(cinfo, error, pFile, nWidth, nHeight, pPicture, scratch);
    if (std::fclose(pFile) != 0)
        bOk = false;
    if (!bOk)
        RemoveIfRegular(pPath);
    return bOk;
}
