#include "standin/pavline/BlockFileReader.h"

#include "platform/pavline.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kChunk = 256 * 1024;

int64_t FileSize(std::FILE *pFile)
{
    if (std::fseek(pFile, 0, SEEK_END) != 0)
        return -1;
    const long nSize = std::ftell(pFile);
    std::fseek(pFile, 0, SEEK_SET);
    return nSize;
}

} // namespace

bool BlockFileReader::Probe(const std::string &strPath, bool &bBlocks)
{
    bBlocks = false;
    std::FILE *pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return false;
    std::vector<uint8_t> head(64 * 1024);
    const size_t nRead = std::fread(head.data(), 1, head.size(), pFile);
    std::fclose(pFile);
    StreamBlock::Parser parser;
    const uint8_t *p = head.data();
    size_t n = nRead;
    StreamBlock::View view;
    // A block stream has a block at its very start; a container has its own header there.
    if (parser.Next(p, n, view) && view.pBlock == head.data())
        bBlocks = true;
    else if (nRead >= 4 && head[0] == 0 && head[1] == 0 && head[2] == 1 &&
             (head[3] == StreamBlock::kTypeKeyFrame || head[3] == StreamBlock::kTypeFrame ||
              head[3] == StreamBlock::kTypeAudio))
        bBlocks = true;     // a first block longer than the probe
    return true;
}

std::unique_ptr<BlockFileReader> BlockFileReader::Open(const std::string &strPath, int32_t &nError)
{
    std::unique_ptr<BlockFileReader> pReader(new BlockFileReader());
    pReader->m_pFile.reset(std::fopen(strPath.c_str(), "rb"));
    if (!pReader->m_pFile) {
        nError = KTN_ERR_FILE;
        return nullptr;
    }
    pReader->m_nSize = FileSize(pReader->m_pFile.get());
    if (pReader->m_nSize <= 0) {
        nError = KTN_ERR_FORMAT;
        return nullptr;
    }
    if (!pReader->ScanSpan()) {
        nError = KTN_ERR_FORMAT;
        return nullptr;
    }
    pReader->GoTo(0);
    return pReader;
}

void BlockFileReader::ToUnit(const StreamBlock::View &view, MediaUnit &unit)
{
    // The unit's buffer keeps its room: a buffer used before takes the bytes without an allocation.
    std::vector<uint8_t> bytes;
    bytes.swap(unit.data);
    unit = MediaUnit();
    if (view.IsVideo()) {
        unit.eKind = MediaUnit::Kind::Video;
        unit.nCodec = view.nCodec;
        unit.bKeyFrame = view.IsKeyFrame();
        unit.nFrameRate = view.nFrameRate;
        unit.nTimeMs = TimeMs(view);
    } else {
        unit.eKind = MediaUnit::Kind::Audio;
        unit.nCodec = view.nCodec;
        unit.nSampleRate = StreamBlock::SampleRateOfCode(view.nRateCode);
    }
    bytes.clear();
    if (unit.IsVideo())
        bytes.reserve(view.nPayload + MediaUnit::kPadding);
    bytes.insert(bytes.end(), view.pPayload, view.pPayload + view.nPayload);
    unit.data.swap(bytes);
    unit.nSourceBytes = view.nBlockSize;
}

bool BlockFileReader::KeyFrameAfter(int64_t nOffset, int64_t &nKeyOffset, int64_t &nKeyMs, int64_t nLimit)
{
    if (std::fseek(m_pFile.get(), static_cast<long>(nOffset), SEEK_SET) != 0)
        return false;
    StreamBlock::Parser parser;
    std::vector<uint8_t> chunk(kChunk);
    int64_t nFed = nOffset;
    for (;;) {
        if (nLimit >= 0 && nFed >= nLimit)
            return false;
        const size_t nRead = std::fread(chunk.data(), 1, chunk.size(), m_pFile.get());
        if (nRead == 0)
            return false;
        nFed += static_cast<int64_t>(nRead);
        const uint8_t *p = chunk.data();
        size_t n = nRead;
        StreamBlock::View view;
        while (parser.Next(p, n, view)) {
            if (view.IsKeyFrame()) {
                // The end of the block in the file: all bytes given, less those not used yet.
                const int64_t nEnd = nFed - static_cast<int64_t>(n) - static_cast<int64_t>(parser.PendingBytes());
                nKeyOffset = nEnd - static_cast<int64_t>(view.nBlockSize);
                nKeyMs = TimeMs(view);
                return true;
            }
        }
    }
}

bool BlockFileReader::ScanSpan()
{
    int64_t nKeyOffset = 0;
    if (!KeyFrameAfter(0, nKeyOffset, m_nFirstMs))
        return false;
    // The last video block: parse the file's tail, a larger one while it holds none.
    for (int64_t nTail = 4 * 1024 * 1024;; nTail *= 2) {
        const int64_t nFrom = std::max<int64_t>(0, m_nSize - nTail);
        if (std::fseek(m_pFile.get(), static_cast<long>(nFrom), SEEK_SET) != 0)
            return false;
        StreamBlock::Parser parser;
        std::vector<uint8_t> chunk(kChunk);
        bool bFound = false;
        size_t nRead = 0;
        while ((nRead = std::fread(chunk.data(), 1, chunk.size(), m_pFile.get())) > 0) {
            parser.Feed(chunk.data(), nRead, [&](const StreamBlock::View &view) {
                if (view.IsVideo()) {
                    m_nLastMs = TimeMs(view);
                    bFound = true;
                }
            });
        }
        if (bFound || nFrom == 0)
            break;
    }
    m_nLastMs = std::max(m_nLastMs, m_nFirstMs);
    return true;
}

bool BlockFileReader::GoTo(int64_t nOffset)
{
    m_parser.Reset();
    m_pChunkAt = nullptr;
    m_nChunkLeft = 0;
    m_bEnd = false;
    return std::fseek(m_pFile.get(), static_cast<long>(nOffset), SEEK_SET) == 0;
}

MediaFileReader::Result BlockFileReader::Next(MediaUnit &unit)
{
    for (;;) {
        // One block at a time out of the chunk read last, straight into the caller's unit.
        StreamBlock::View view;
        if (m_parser.Next(m_pChunkAt, m_nChunkLeft, view)) {
            ToUnit(view, unit);
            return Result::Unit;
        }
        if (m_bEnd)
            return Result::End;
        m_chunk.resize(kChunk);
        const size_t nRead = std::fread(m_chunk.data(), 1, m_chunk.size(), m_pFile.get());
        if (nRead == 0) {
            if (std::ferror(m_pFile.get()))
                return Result::Error;
            m_bEnd = true;
            continue;
        }
        m_pChunkAt = m_chunk.data();
        m_nChunkLeft = nRead;
    }
}

bool BlockFileReader::SeekToFraction(double dFraction)
{
    dFraction = std::min(1.0, std::max(0.0, dFraction));
    const int64_t nTarget = m_nFirstMs + static_cast<int64_t>(dFraction * static_cast<double>(m_nLastMs - m_nFirstMs));
    int64_t nBest = 0, nBestMs = 0;
    if (!KeyFrameAfter(0, nBest, nBestMs))
        return false;
    // Bisection over the offsets for the last key frame not after the target ...
    int64_t nLow = nBest + 1, nHigh = m_nSize;
    while (nHigh - nLow > static_cast<int64_t>(kChunk)) {
        const int64_t nMid = nLow + (nHigh - nLow) / 2;
        int64_t nKey = 0, nMs = 0;
        if (!KeyFrameAfter(nMid, nKey, nMs) || nMs > nTarget) {
            nHigh = nMid;
        } else {
            nBest = nKey;
            nBestMs = nMs;
            nLow = nKey + 1;
        }
    }
    // ... then key frame by key frame from there.
    int64_t nKey = 0, nMs = 0;
    while (KeyFrameAfter(nBest + 1, nKey, nMs) && nMs <= nTarget) {
        nBest = nKey;
        nBestMs = nMs;
    }
    return GoTo(nBest);
}
