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

void PortRecorder::WriteBytes(const uint8_t *pData, size_t nSize)
{
    if (m_bFailed || !pData || nSize == 0)
        return;
    if (m_pFile) {
        if (std::fwrite(pData, 1, nSize, m_pFile.get()) != nSize)
            m_bFailed = true;
        m_nBytes += nSize;
        return;
    }
    if (m_pAvi)
        m_parser.Feed(pData, nSize, [&](const StreamBlock::View &view) {
            MediaUnit unit;
            BlockFileReader::ToUnit(view, unit);
            if (!m_pAvi->Write(unit))
                m_bFailed = true;
            m_nBytes += view.nBlockSize;
        });
}

void PortRecorder::WriteUnit(const MediaUnit &unit)
{
    if (m_bFailed)
        return;
    if (m_pAvi) {
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
    if (!m_block.empty())
        WriteBytes(m_block.data(), m_block.size());
}

bool PortRecorder::Finish()
{
    bool bOk = !m_bFailed;
    if (m_pFile) {
        if (std::fflush(m_pFile.get()) != 0)
            bOk = false;
        m_pFile.reset();
    }
    if (m_pAvi) {
        if (!m_pAvi->Finish())
            bOk = false;
        m_pAvi.reset();
    }
    return bOk;
}
