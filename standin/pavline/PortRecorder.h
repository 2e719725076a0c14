#pragma once

#include "platform/FilePtr.h"
#include "platform/stream_block.h"
#include "standin/pavline/AviWriter.h"
#include "standin/pavline/MediaUnit.h"

#include <cstdio>
#include <memory>
#include <string>

// The recorder of a port: the stream's blocks as they arrive (KTN_RECORD_BLOCKS), or an AVI file
// (KTN_RECORD_AVI). Streams hand it their bytes, files (and the pre-roll) their units. It notes whether it has
// written a key frame: a file of video without one holds no picture that can be decoded.
class PortRecorder
{
public:
    // Null with the error (KTN_ERR_PARAM, KTN_ERR_FILE) when the type is unknown or the file cannot be made.
    static std::unique_ptr<PortRecorder> Create(const std::string &strPath, int nType, int32_t &nError);
    ~PortRecorder();

    void WriteBytes(const uint8_t *pData, size_t nSize);
    void WriteUnit(const MediaUnit &unit);
    // Closes the file: KTN_ERR_NONE; KTN_ERR_NO_PICTURE when it holds pictures none of which can be decoded
    // (no key frame before them; the file is removed); KTN_ERR_FILE when it could not be written whole. Later
    // calls return the same.
    int32_t Finish();

    uint64_t BytesWritten() const { return m_nBytes; }

private:

    PortRecorder() = default;
    // The bytes written in KTN_RECORD_BLOCKS: looked at until they hold a key frame.
    void LookForKeyFrame(const uint8_t *pData, size_t nSize);
    void Note(bool bVideo, bool bKeyFrame);

    std::string m_strPath;
    int m_nType = 0;
    FilePtr m_pFile;
    std::unique_ptr<AviWriter> m_pAvi;
    StreamBlock::Parser m_parser;
    std::vector<uint8_t> m_block;
    uint64_t m_nBytes = 0;
    bool m_bFailed = false;
    bool m_bKeyFrame = false;
    bool m_bVideo = false;
    bool m_bFinished = false;
    int32_t m_nResult = 0;
};
