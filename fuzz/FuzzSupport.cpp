#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

void FuzzFail(const char *pFile, int nLine, const char *pCondition, const std::string &strWhat)
{
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n  %s\n", pFile, nLine, pCondition, strWhat.c_str());
    std::fflush(stderr);
    std::abort();
}

size_t ChunkSizes::Next()
{
    m_nState ^= m_nState << 13;
    m_nState ^= m_nState >> 17;
    m_nState ^= m_nState << 5;
    switch (m_nState % 8) {
    case 0: return 1;
    case 1:
    case 2:
    case 3: return 1 + (m_nState >> 8) % 20;
    case 4:
    case 5: return 1 + (m_nState >> 8) % 300;
    default: return 1 + (m_nState >> 8) % 5000;
    }
}

uint32_t TakeLe(const uint8_t *&pData, size_t &nSize, int nBytes)
{
    uint32_t nValue = 0;
    for (int i = 0; i < nBytes; ++i) {
        if (nSize > 0) {
            nValue |= static_cast<uint32_t>(*pData) << (8 * i);
            ++pData;
            --nSize;
        }
    }
    return nValue;
}

void WriteSeeds(const std::vector<std::string> &seeds)
{
    const char *pDir = std::getenv("QUORRIN_FUZZ_SEEDS");
    if (!pDir || !*pDir)
        return;
    for (size_t i = 0; i < seeds.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%04zu", i);
        std::ofstream out(std::string(pDir) + name, std::ios::binary | std::ios::trunc);
        out.write(seeds[i].data(), static_cast<std::streamsize>(seeds[i].size()));
    }
}
