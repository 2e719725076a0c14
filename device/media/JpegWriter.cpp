#include "device/media/JpegWriter.h"

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

// The libjpeg part: no object with a destructor lives in this frame, so that the error handler may jump back;
// the compressor lives in the caller's frame, so that it is intact after the jump.
bool Compress(jpeg_compress_struct &cinfo, JpegError &error, std::FILE *pFile, int nWidth, int nHeight,
              const uint8_t *pPicture, uint8_t *pRow)
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
    jpeg_start_compress(&cinfo, TRUE);

    const size_t nChromaWidth = static_cast<size_t>(nWidth + 1) / 2;
    const size_t nChromaHeight = static_cast<size_t>(nHeight + 1) / 2;
    const size_t nLuma = static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight);
    const uint8_t *pCb = pPicture + nLuma;
    const uint8_t *pCr = pCb + nChromaWidth * nChromaHeight;
    JSAMPROW rows[1] = {pRow};
    while (cinfo.next_scanline < cinfo.image_height) {
        const size_t r = cinfo.next_scanline;
        const uint8_t *pY = pPicture + r * static_cast<size_t>(nWidth);
        const uint8_t *pU = pCb + (r / 2) * nChromaWidth;
        const uint8_t *pV = pCr + (r / 2) * nChromaWidth;
        // Pixels 2k and 2k+1 share chroma sample k, rows 2j and 2j+1 chroma row j.
        uint8_t *pOut = pRow;
        for (int x = 0; x < nWidth; ++x) {
            *pOut++ = pY[x];
            *pOut++ = pU[x / 2];
            *pOut++ = pV[x / 2];
        }
        jpeg_write_scanlines(&cinfo, rows, 1);
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
    std::vector<uint8_t> row(static_cast<size_t>(nWidth) * 3);
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegError error;
    std::memset(&error, 0, sizeof error);
    bool bOk = Compress(cinfo, error, pFile, nWidth, nHeight, pPicture, row.data());
    if (std::fclose(pFile) != 0)
        bOk = false;
    if (!bOk)
        RemoveIfRegular(pPath);
    return bOk;
}
