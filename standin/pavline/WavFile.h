#pragma once

#include "platform/FilePtr.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// 16-bit PCM WAV files: a writer whose header is right after every append, and a reader that gives mono.
class WavFile
{
public:
    // Reads a PCM WAV file (8 or 16 bits, any number of channels, the first one taken). False when it is none.
    static bool Read(const std::string &strPath, std::vector<int16_t> &samples, int &nSampleRate);

    // A writer of mono 16-bit samples.
    WavFile() = default;
    bool Create(const std::string &strPath, int nSampleRate);
    bool Append(const int16_t *pSamples, size_t nCount);
    bool IsOpen() const { return m_pFile != nullptr; }
    int SampleRate() const { return m_nSampleRate; }
    uint64_t Samples() const { return m_nSamples; }

private:
    struct FileCloser { void operator()(std::FILE *p) const { std::fclose(p); } };
    bool WriteHeader();

    std::unique_ptr<std::FILE, FileCloser> m_pFile;
    int m_nSampleRate = 0;
    uint64_t m_nSamples = 0;
};
