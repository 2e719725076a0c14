#pragma once

// What the harnesses share: a check that ends the run with a message (libFuzzer then keeps the input as a
// crash), chunk sizes for cutting a stream, and the seed corpus each harness writes at start.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

[[noreturn]] void FuzzFail(const char *pFile, int nLine, const char *pCondition, const std::string &strWhat);

#define FUZZ_CHECK(cond, what)                                                                                  \
    do {                                                                                                        \
        if (!(cond))                                                                                            \
            FuzzFail(__FILE__, __LINE__, #cond, (what));                                                        \
    } while (0)

// Chunk sizes drawn from a seed: mostly small (inside headers and length fields), now and then large.
class ChunkSizes
{
public:
    explicit ChunkSizes(uint32_t nSeed) : m_nState(nSeed * 2654435761u + 0x9E3779B9u) {}
    size_t Next();

private:
    uint32_t m_nState;
};

// Reads a little-endian integer of nBytes bytes from the front of the input (zero past its end) and advances.
uint32_t TakeLe(const uint8_t *&pData, size_t &nSize, int nBytes);

// When QUORRIN_FUZZ_SEEDS names a folder (scripts/fuzz.sh sets it to the harness's corpus), writes each seed
// there as a file of its own; called from LLVMFuzzerInitialize, before libFuzzer reads the corpus.
void WriteSeeds(const std::vector<std::string> &seeds);
