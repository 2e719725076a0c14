#include "standin/pavline/PortRecorder.h"

#include "platform/pavline.h"
#include "standin/pavline/BlockFileReader.h"

#include <algorithm>

std::unique_ptr<PortRecorder> PortRecorder::Create(const std::string &strPath, int nType, int32_t &nError)
{
    if (strPath.empty() || (nType != KTN_RECORD_BLOCKS && nType != KTN_RECORD_AVI)) {
        nError = KTN_ERR_PARAM;
        return nullptr;
    }
    std::unique_ptr<PortRecorder> pRecorder(new PortRecorder());
    pRecorder->m_strPath = strPath;
    pRecorder->m_nType = nType;
    if (nType == KTN_RECORD_BLOCKS) {
        pRecorder->m_pFile.reset(std::fopen(strPath.c_str(), "wb"));
        if (!pRecorder->m_pFile) {
            nError = KTN_ERR_FILE;
            return nullptr;
        }
    } else {
        pRecorder->m_pAvi = std::make_unique<AviWriter>(strPath);
        if (!pRecorder->m_pAvi->Create(nError))
            return nullptr;
    }
    return pRecorder;
}

PortRecorder::~PortRecorder() { Finish(); }

void PortRecorder::LookForKeyFrame(const uint8_t *pData, size_t nSize)
{
    if (m_bKeyFrame)
        return;
    m_parser.Feed(pData, nSize, [&](const StreamBlock::View &view) { Note(view.IsVideo(), view.IsKeyFrame()); });
    if (m_bKeyFrame)
        m_parser.Reset();
}

void PortRecorder::Note(bool bVideo, bool bKeyFrame)
{
    m_bVideo = m_bVideo || bVideo;
    m_bKeyFrame = m_bKeyFrame || bKeyFrame;
}

void PortRecorder::WriteBytes(const uint8_t *pData, size_t nSize)
{
    if (m_bFailed || m_bFinished || !pData || nSize == 0)
        return;
    if (m_pFile) {
        if (std::fwrite(pData, 1, nSize, m_pFile.get()) != nSize) {
            m_bFailed = true;
            return;
        }
        m_nBytes += nSize;
        LookForKeyFrame(pData, nSize);
        return;
    }
    if (m_pAvi)
        m_parser.Feed(pData, nSize, [&](const StreamBlock::View &view) {
            MediaUnit unit;
            BlockFileReader::ToUnit(view, unit);
            Note(view.IsVideo(), view.IsKeyFrame());
            if (!m_pAvi->Write(unit))
                m_bFailed = true;
            m_nBytes += view.nBlockSize;
        });
}

void PortRecorder::WriteUnit(const MediaUnit &unit)
{
    if (m_bFailed || m_bFinished)
        return;
    if (m_pAvi) {
        Note(unit.IsVideo(), unit.IsVideo() && unit.bKeyFrame);
        if (!m_pAvi->Write(unit))
            m_bFailed = true;
        m_nBytes += unit.nSourceBytes;
        return;
    }
    // Units of a container file become blocks again; decoded PCM has no block form and stays out.
    m_block.clear();
    if (unit.IsVideo()) {
        const int64_t nMs = unit.nTimeMs < 0 ? 0 : unit.nTimeMs;
        StreamBlock::AppendVideo(m_block, unit.bKeyFrame, unit.nCodec,
                                 static_cast<uint8_t>(unit.nFrameRate > 0 && unit.nFrameRate < 256 ? unit.nFrameRate : 25),
                                 static_cast<uint32_t>(nMs / 1000), static_cast<uint16_t>(nMs % 1000), unit.data.data(),
                                 unit.data.size());
    } else if (unit.nCodec != MediaUnit::kAudioPcm16) {
        const uint8_t nRate = unit.nSampleRate == 16000 ? StreamBlock::kRate16000 : StreamBlock::kRate8000;
        for (size_t nAt = 0; nAt < unit.data.size(); nAt += 0xFFFF)
            StreamBlock::AppendAudio(m_block, unit.nCodec, nRate, unit.data.data() + nAt,
                                     std::min<size_t>(0xFFFF, unit.data.size() - nAt));
    }
    if (m_block.empty() || !m_pFile)
        return;
    if (std::fwrite(m_block.data(), 1, m_block.size(), m_pFile.get()) != m_block.size()) {
        m_bFailed = true;
        return;
    }
    m_nBytes += m_block.size();
    Note(unit.IsVideo(), unit.IsVideo() && unit.bKeyFrame);
}

int32_t PortRecorder::Finish()
{
    if (m_bFinished)
        return m_nResult;
    m_bFinished = true;
    bool bWritten = !m_bFailed;
    // Pictures need a key frame before them to be decoded; sound alone (the talk port's), or nothing received,
    // is kept as it is.
    bool bPicture = m_bKeyFrame || !m_bVideo;
    if (m_pFile) {
        if (std::fflush(m_pFile.get()) != 0)
            bWritten = false;
        if (std::fclose(m_pFile.release()) != 0)
            bWritten = false;
    }
    if (m_pAvi) {
        if (!m_pAvi->Finish())
            bWritten = false;
        // It begins at its first key frame, and removes itself when none came.
        bPicture = m_pAvi->VideoFrames() > 0 || !m_bVideo;
        m_pAvi.reset();
    }
    if (!bPicture) {
        std::remove(m_strPath.c_str());
        m_nResult = KTN_ERR_NO_PICTURE;
    } else {
        m_nResult = bWritten ? KTN_ERR_NONE : KTN_ERR_FILE;
    }
    return m_nResult;
}
