#include "standin/pavline/MediaFileReader.h"

#include "platform/pavline.h"
#include "standin/pavline/AvFileReader.h"
#include "standin/pavline/BlockFileReader.h"

std::unique_ptr<MediaFileReader> MediaFileReader::Open(const std::string &strPath, int32_t &nError)
{
    nError = KTN_ERR_NONE;
    if (strPath.empty()) {
        nError = KTN_ERR_PARAM;
        return nullptr;
    }
    bool bBlocks = false;
    if (!BlockFileReader::Probe(strPath, bBlocks)) {
        nError = KTN_ERR_FILE;
        return nullptr;
    }
    std::unique_ptr<MediaFileReader> pReader;
    if (bBlocks)
        pReader = BlockFileReader::Open(strPath, nError);
    else
        pReader = AvFileReader::Open(strPath, nError);
    return pReader;
}
