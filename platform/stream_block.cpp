#include "platform/stream_block.h"

#include <algorithm>
#include <cstring>

namespace StreamBlock {

namespace {

void PutLe16(uint8_t *p, uint16_t n)
{
    p[0] = static_cast<uint8_t>(n & 0xFF);
    p[1] = static_cast<uint8_t>(n >> 8);
}

void PutLe32(uint8_t *p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>((n >> (8 * i)) & 0xFF);
}

uint16_t GetLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetLe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool IsBlockType(uint8_t n) { return n == kTypeAudio || n == kTypeKeyFrame || n == kTypeFrame; }

bool IsSync(const uint8_t *p) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && IsBlockType(p[3]); }

// An Annex-B access unit begins with a start code.
bool BeginsWithStartCode(const uint8_t *p)
{
    return p[0] == 0 && p[1] == 0 && (p[2] == 1 || (p[2] == 0 && p[3] == 1));
}

} // namespace

int SampleRateOfCode(uint8_t nRateCode)
{
    switch (nRateCode) {
    case kRate8000: return 8000;
    case kRate16000: return 16000;
    default: return 0;
    }
}

void WriteVideoHeader(uint8_t *pOut, bool bKeyFrame, uint8_t nCodec, uint8_t nFrameRate, uint32_t nSeconds,
                      uint16_t nMilliseconds, uint32_t nPayloadLength)
{
    pOut[0] = 0;
    pOut[1] = 0;
    pOut[2] = 1;
    pOut[3] = bKeyFrame ? kTypeKeyFrame : kTypeFrame;
    pOut[4] = static_cast<uint8_t>(nCodec & 0x0F);
    pOut[5] = nFrameRate;
    PutLe16(pOut + 6, nMilliseconds);
    PutLe32(pOut + 8, nSeconds);
    PutLe32(pOut + 12, nPayloadLength);
}

void WriteAudioHeader(uint8_t *pOut, uint8_t nAudioType, uint8_t nRateCode, uint16_t nPayloadLength)
{
    pOut[0] = 0;
    pOut[1] = 0;
    pOut[2] = 1;
    pOut[3] = kTypeAudio;
    pOut[4] = nAudioType;
    pOut[5] = nRateCode;
    PutLe16(pOut + 6, nPayloadLength);
}

void AppendVideo(std::vector<uint8_t> &out, bool bKeyFrame, uint8_t nCodec, uint8_t nFrameRate, uint32_t nSeconds,
                 uint16_t nMilliseconds, const uint8_t *pPayload, size_t nPayload)
{
    const size_t nAt = out.size();
    out.resize(nAt + kVideoHeaderSize + nPayload);
    WriteVideoHeader(out.data() + nAt, bKeyFrame, nCodec, nFrameRate, nSeconds, nMilliseconds,
                     static_cast<uint32_t>(nPayload));
    if (nPayload)
        std::memcpy(out.data() + nAt + kVideoHeaderSize, pPayload, nPayload);
}

void AppendAudio(std::vector<uint8_t> &out, uint8_t nAudioType, uint8_t nRateCode, const uint8_t *pPayload,
                 size_t nPayload)
{
    const size_t nAt = out.size();
    out.resize(nAt + kAudioHeaderSize + nPayload);
    WriteAudioHeader(out.data() + nAt, nAudioType, nRateCode, static_cast<uint16_t>(nPayload));
    if (nPayload)
        std::memcpy(out.data() + nAt + kAudioHeaderSize, pPayload, nPayload);
}

Parser::Parser(uint32_t nMaxVideoPayload)
    : m_nMaxVideoPayload(nMaxVideoPayload)
{
}

void Parser::Reset()
{
    m_buffer.clear();
    m_nStart = 0;
}

bool Parser::Scan(const uint8_t *pData, size_t nSize, size_t &nUsed, View &out)
{
    size_t i = 0;
    for (;;) {
        size_t s = i;
        while (s + 4 <= nSize && !IsSync(pData + s))
            ++s;
        if (s + 4 > nSize) {
            // No block starts here; keep the last bytes when they may begin one.
            size_t nKeep = 0;
            if (nSize >= 3 && pData[nSize - 3] == 0 && pData[nSize - 2] == 0 && pData[nSize - 1] == 1)
                nKeep = 3;
            else if (nSize >= 2 && pData[nSize - 2] == 0 && pData[nSize - 1] == 0)
                nKeep = 2;
            else if (nSize >= 1 && pData[nSize - 1] == 0)
                nKeep = 1;
            nKeep = std::min(nKeep, nSize - i);
            m_nSkipped += nSize - nKeep - i;
            nUsed = nSize - nKeep;
            return false;
        }
        m_nSkipped += s - i;
        i = s;
        const uint8_t nType = pData[s + 3];
        const bool bAudio = nType == kTypeAudio;
        const size_t nHeader = bAudio ? kAudioHeaderSize : kVideoHeaderSize;
        const size_t nAvail = nSize - s;
        if (nAvail < nHeader) {
            nUsed = s;
            return false;
        }
        size_t nPayload = 0;
        if (bAudio) {
            nPayload = GetLe16(pData + s + 6);
        } else {
            nPayload = GetLe32(pData + s + 12);
            if (nPayload < 4 || nPayload > m_nMaxVideoPayload) {
                ++m_nSkipped;
                i = s + 1;
                continue;
            }
            if (nAvail < nHeader + 4) {
                nUsed = s;
                return false;
            }
            if (!BeginsWithStartCode(pData + s + nHeader)) {
                ++m_nSkipped;
                i = s + 1;
                continue;
            }
        }
        if (nAvail < nHeader + nPayload) {
            nUsed = s;
            return false;
        }
        const uint8_t *p = pData + s;
        out = View();
        out.nType = nType;
        if (bAudio) {
            out.nCodec = p[4];
            out.nRateCode = p[5];
        } else {
            out.nCodec = static_cast<uint8_t>(p[4] & 0x0F);
            out.nFrameRate = p[5];
            out.nMilliseconds = GetLe16(p + 6);
            out.nSeconds = GetLe32(p + 8);
        }
        out.pBlock = p;
        out.nBlockSize = nHeader + nPayload;
        out.pPayload = p + nHeader;
        out.nPayload = nPayload;
        nUsed = s + nHeader + nPayload;
        return true;
    }
}

bool Parser::Next(const uint8_t *&pData, size_t &nSize, View &out)
{
    if (m_nStart < m_buffer.size()) {
        if (nSize) {
            // A block was cut: continue it with the new bytes.
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_nStart));
            m_nStart = 0;
            m_buffer.insert(m_buffer.end(), pData, pData + nSize);
            pData += nSize;
            nSize = 0;
        }
        size_t nUsed = 0;
        const bool bGot = Scan(m_buffer.data() + m_nStart, m_buffer.size() - m_nStart, nUsed, out);
        m_nStart += nUsed;
        if (!bGot && m_nStart >= m_buffer.size()) {
            m_buffer.clear();
            m_nStart = 0;
        }
        return bGot;
    }
    m_buffer.clear();
    m_nStart = 0;
    if (nSize == 0)
        return false;
    size_t nUsed = 0;
    if (Scan(pData, nSize, nUsed, out)) {
        pData += nUsed;
        nSize -= nUsed;
        return true;
    }
    m_buffer.assign(pData + nUsed, pData + nSize);
    pData += nSize;
    nSize = 0;
    return false;
}

} // namespace StreamBlock
