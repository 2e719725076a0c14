#pragma once

#include "platform/FilePtr.h"
#include "platform/stream_block.h"
#include "standin/pavline/AviWriter.h"
#include "standin/pavline/MediaUnit.h"

#include <cstdio>
#include <memory>
#include <string>

// The recorder of a port: the stream's blocks as they arrive (KTN_RECORD_BLOCKS), or an AVI file
// (KTN_RECORD_AVI). Streams hand it their bytes, files their units.
class PortRecorder
{
public:
    // Null with the error (KTN_ERR_PARAM, KTN_ERR_FILE) when the type is unknown or the file cannot be made.
    static std::unique_ptr<PortRecorder> Create(const std::string &strPath, int nType, int32_t &nError);
    ~PortRecorder();

    void WriteBytes(const uint8_t *pData, size_t nSize);
    void WriteUnit(const MediaUnit &unit);
    bool Finish();

    uint64_t BytesWritten() const { return m_nBytes; }

private:

    PortRecorder() = default;

    int m_nType = 0;
    FilePtr m_pFile;
    std::unique_ptr<AviWriter> m_pAvi;
    StreamBlock::Parser m_parser;
    std::vector<uint8_t> m_block;
    uint64_t m_nBytes = 0;
    bool m_bFailed = false;
};
