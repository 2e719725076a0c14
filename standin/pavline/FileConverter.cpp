#include "standin/pavline/FileConverter.h"

#include "platform/stream_block.h"
#include "standin/pavline/BlockFileReader.h"
#include "standin/pavline/PavlineThreads.h"

#include <vector>

std::unique_ptr<FileConverter> FileConverter::Prepare(const std::string &strSource, const std::string &strTarget,
                                                      int32_t &nError)
{
    bool bBlocks = false;
    if (!BlockFileReader::Probe(strSource, bBlocks)) {
        nError = KTN_ERR_FILE;
        return nullptr;
    }
    if (!bBlocks) {
        nError = KTN_ERR_FORMAT;
        return nullptr;
    }
    std::unique_ptr<FileConverter> pConverter(new FileConverter());
    pConverter->m_pSource.reset(std::fopen(strSource.c_str(), "rb"));
    if (!pConverter->m_pSource) {
        nError = KTN_ERR_FILE;
        return nullptr;
    }
    std::fseek(pConverter->m_pSource.get(), 0, SEEK_END);
    pConverter->m_nSourceSize = std::ftell(pConverter->m_pSource.get());
    std::fseek(pConverter->m_pSource.get(), 0, SEEK_SET);
    pConverter->m_pWriter = std::make_unique<AviWriter>(strTarget);
    if (!pConverter->m_pWriter->Create(nError))
        return nullptr;
    return pConverter;
}

FileConverter::~FileConverter() = default;

bool FileConverter::Run(KTN_fConvertProgressCallBack cb, void *pUser)
{
    PavlineThreads::Scope scope(-1);
    constexpr int32_t kTotal = 100;
    StreamBlock::Parser parser;
    std::vector<uint8_t> chunk(256 * 1024);
    int64_t nRead = 0;
    int32_t nReported = -1;
    bool bOk = true;
    size_t n = 0;
    while (bOk && (n = std::fread(chunk.data(), 1, chunk.size(), m_pSource.get())) > 0) {
        nRead += static_cast<int64_t>(n);
        parser.Feed(chunk.data(), n, [&](const StreamBlock::View &view) {
            if (!bOk)
                return;
            MediaUnit unit;
            BlockFileReader::ToUnit(view, unit);
            bOk = m_pWriter->Write(unit);
        });
        // The end is reported only once the file is finished, below.
        const int32_t nPercent =
            m_nSourceSize > 0 ? static_cast<int32_t>(nRead * 99 / m_nSourceSize) : 0;
        if (cb && nPercent > nReported) {
            nReported = nPercent;
            cb(nPercent, kTotal, pUser);
        }
    }
    if (std::ferror(m_pSource.get()))
        bOk = false;
    m_pSource.reset();
    if (!m_pWriter->Finish())
        bOk = false;
    if (bOk && cb)
        cb(kTotal, kTotal, pUser);
    return bOk;
}
