#pragma once

#include "platform/FilePtr.h"
#include "platform/stream_block.h"
#include "standin/pavline/MediaFileReader.h"

#include <cstdio>
#include <vector>
#include <memory>
#include <string>

// A file of the data block format: blocks end to end, timestamps in the video headers. The time span comes from
// the first and the last video block; a seek looks for the key frame by bisection over the file.
class BlockFileReader : public MediaFileReader
{
public:
    // Whether the file can be read and begins like a block stream (a block within its first bytes).
    static bool Probe(const std::string &strPath, bool &bBlocks);
    static std::unique_ptr<BlockFileReader> Open(const std::string &strPath, int32_t &nError);

    Result Next(MediaUnit &unit) override;
    bool SeekToFraction(double dFraction) override;
    int64_t FirstMs() const override { return m_nFirstMs; }
    int64_t LastMs() const override { return m_nLastMs; }
    bool IsBlockFormat() const override { return true; }

    // A unit of a parsed block, in the room the unit's buffer already has.
    static void ToUnit(const StreamBlock::View &view, MediaUnit &unit);
    static int64_t TimeMs(const StreamBlock::View &view)
    {
        return static_cast<int64_t>(view.nSeconds) * 1000 + view.nMilliseconds;
    }

private:

    BlockFileReader() = default;
    // The first key frame that begins at or after nOffset: its offset and timestamp. False when there is none.
    bool KeyFrameAfter(int64_t nOffset, int64_t &nKeyOffset, int64_t &nKeyMs, int64_t nLimit = -1);
    bool ScanSpan();
    bool GoTo(int64_t nOffset);

    FilePtr m_pFile;
    int64_t m_nSize = 0;
    int64_t m_nFirstMs = 0;
    int64_t m_nLastMs = 0;
    StreamBlock::Parser m_parser;
    std::vector<uint8_t> m_chunk;           // the file's bytes read last ...
    const uint8_t *m_pChunkAt = nullptr;    // ... and those of them the parser has not taken yet
    size_t m_nChunkLeft = 0;
    bool m_bEnd = false;
};
