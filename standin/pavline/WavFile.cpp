#include "standin/pavline/WavFile.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t Le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put32(uint8_t *p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>((n >> (8 * i)) & 0xFF);
}
void Put16(uint8_t *p, uint16_t n)
{
    p[0] = static_cast<uint8_t>(n & 0xFF);
    p[1] = static_cast<uint8_t>(n >> 8);
}

} // namespace

bool WavFile::Read(const std::string &strPath, std::vector<int16_t> &samples, int &nSampleRate)
{
    samples.clear();
    std::FILE *pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pFile)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(pFile);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    int nChannels = 0, nBits = 0;
    nSampleRate = 0;
    size_t nAt = 12;
    while (nAt + 8 <= bytes.size()) {
        const uint8_t *pChunk = bytes.data() + nAt;
        const size_t nSize = Le32(pChunk + 4);
        const size_t nBody = std::min(nSize, bytes.size() - nAt - 8);
        if (std::memcmp(pChunk, "fmt ", 4) == 0 && nBody >= 16) {
            if (Le16(pChunk + 8) != 1)
                return false;   // PCM only
            nChannels = Le16(pChunk + 10);
            nSampleRate = static_cast<int>(Le32(pChunk + 12));
            nBits = Le16(pChunk + 22);
        } else if (std::memcmp(pChunk, "data", 4) == 0 && nChannels > 0 && (nBits == 8 || nBits == 16)) {
            const size_t nFrame = static_cast<size_t>(nChannels) * (nBits / 8);
            const uint8_t *p = pChunk + 8;
            for (size_t i = 0; i + nFrame <= nBody; i += nFrame)
                samples.push_back(nBits == 16 ? static_cast<int16_t>(Le16(p + i))
                                              : static_cast<int16_t>((p[i] - 128) << 8));
            return nSampleRate > 0;
        }
        nAt += 8 + nSize + (nSize & 1);
    }
    return false;
}

bool WavFile::Create(const std::string &strPath, int nSampleRate)
{
    m_pFile.reset(std::fopen(strPath.c_str(), "wb"));
    m_nSampleRate = nSampleRate;
    m_nSamples = 0;
    return m_pFile && WriteHeader();
}

bool WavFile::WriteHeader()
{
    uint8_t h[44];
    const uint32_t nData = static_cast<uint32_t>(m_nSamples * 2);
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + nData);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, 1);
    Put32(h + 24, static_cast<uint32_t>(m_nSampleRate));
    Put32(h + 28, static_cast<uint32_t>(m_nSampleRate) * 2);
    Put16(h + 32, 2);
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, nData);
    if (std::fseek(m_pFile.get(), 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, m_pFile.get()) != sizeof h)
        return false;
    return std::fseek(m_pFile.get(), 0, SEEK_END) == 0;
}

bool WavFile::Append(const int16_t *pSamples, size_t nCount)
{
    if (!m_pFile)
        return false;
    uint8_t buf[4096];
    size_t nDone = 0;
    while (nDone < nCount) {
        const size_t nNow = std::min(nCount - nDone, sizeof buf / 2);
        for (size_t i = 0; i < nNow; ++i)
            Put16(buf + 2 * i, static_cast<uint16_t>(pSamples[nDone + i]));
        if (std::fwrite(buf, 2, nNow, m_pFile.get()) != nNow)
            return false;
        nDone += nNow;
    }
    m_nSamples += nCount;
    return WriteHeader() && std::fflush(m_pFile.get()) == 0;
}
