#include "standin/pavline/SoundOutput.h"

#include <cstdlib>

void SoundOutput::SetSoundPort(int nPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nSoundPort = nPort;
    m_nHeardAlone = nPort;
}

void SoundOutput::StopSound()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nSoundPort = -1;
    m_nHeardAlone = -1;
}

void SoundOutput::SetShared(int nPort, bool bOn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bOn)
        m_shared.insert(nPort);
    else
        m_shared.erase(nPort);
    m_nShared = static_cast<int>(m_shared.size());
}

void SoundOutput::PortClosed(int nPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nSoundPort == nPort)
        m_nSoundPort = -1;
    m_shared.erase(nPort);
    m_nHeardAlone = m_nSoundPort;
    m_nShared = static_cast<int>(m_shared.size());
}

bool SoundOutput::IsAudible(int nPort) const
{
    // Asked for every block of sound: without ports heard together no lock is needed.
    if (m_nHeardAlone.load(std::memory_order_relaxed) == nPort)
        return true;
    if (m_nShared.load(std::memory_order_relaxed) == 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSoundPort == nPort || m_shared.count(nPort) > 0;
}

int SoundOutput::SoundPort() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSoundPort;
}

std::vector<int> SoundOutput::SharedPorts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<int>(m_shared.begin(), m_shared.end());
}

void SoundOutput::Play(int nPort, const int16_t *pSamples, size_t nCount, int nSampleRate)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nSoundPort != nPort && m_shared.count(nPort) == 0)
        return;
    Counter &counter = m_counters[nPort];
    counter.nSamples += static_cast<int64_t>(nCount);
    ++counter.nBlocks;
    if (!m_bWavChecked) {
        m_bWavChecked = true;
        const char *pPath = std::getenv("PAVLINE_SOUND_WAV");
        if (pPath && *pPath && nSampleRate > 0)
            m_wav.Create(pPath, nSampleRate);
    }
    // The file keeps the rate it was opened with; other rates are counted, not written.
    if (m_wav.IsOpen() && nSampleRate == m_wav.SampleRate() && nCount > 0)
        m_wav.Append(pSamples, nCount);
}

int64_t SoundOutput::Samples(int nPort) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_counters.find(nPort);
    return it == m_counters.end() ? 0 : it->second.nSamples;
}

int64_t SoundOutput::Blocks(int nPort) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_counters.find(nPort);
    return it == m_counters.end() ? 0 : it->second.nBlocks;
}

void SoundOutput::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nSoundPort = -1;
    m_shared.clear();
    m_nHeardAlone = -1;
    m_nShared = 0;
    m_counters.clear();
    m_bWavChecked = false;
    m_wav = WavFile();
}
