#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "standin/pavline/WavFile.h"

// The sound device of the decode library: one port heard alone (sound on) and any number heard together (sound
// share). What is heard is counted per port and, when PAVLINE_SOUND_WAV names a file, written into it as a
// mono 16-bit WAV at the rate of the first sound.
class SoundOutput
{
public:
    void SetSoundPort(int nPort);
    void StopSound();
    void SetShared(int nPort, bool bOn);
    void PortClosed(int nPort);
    bool IsAudible(int nPort) const;
    int SoundPort() const;
    std::vector<int> SharedPorts() const;

    // PCM of a port; nothing happens unless the port is heard.
    void Play(int nPort, const int16_t *pSamples, size_t nCount, int nSampleRate);

    int64_t Samples(int nPort) const;
    int64_t Blocks(int nPort) const;
    // Forgets ports, counters and the WAV file (the next sound opens PAVLINE_SOUND_WAV anew).
    void Reset();

private:
    struct Counter
    {
        int64_t nSamples = 0;
        int64_t nBlocks = 0;
    };

    mutable std::mutex m_mutex;
    int m_nSoundPort = -1;
    std::set<int> m_shared;
    // Copies of the two above for IsAudible, written under the lock.
    std::atomic<int> m_nHeardAlone{-1};
    std::atomic<int> m_nShared{0};
    std::map<int, Counter> m_counters;
    bool m_bWavChecked = false;
    WavFile m_wav;
};
