#include "standin/pavline/AudioCapture.h"

#include "standin/pavline/PavlineThreads.h"
#include "standin/pavline/WavFile.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The microphone's signal at the asked rate: the WAV file's first channel (nearest sample when the rates
// differ), or one second of a 1 kHz tone.
std::vector<int16_t> SourceSignal(int nSampleRate)
{
    std::vector<int16_t> signal;
    const char *pPath = std::getenv("PAVLINE_MIC_WAV");
    std::vector<int16_t> file;
    int nFileRate = 0;
    if (pPath && *pPath && WavFile::Read(pPath, file, nFileRate) && !file.empty()) {
        const size_t nOut = static_cast<size_t>(static_cast<double>(file.size()) * nSampleRate / nFileRate);
        signal.reserve(nOut);
        for (size_t i = 0; i < nOut; ++i)
            signal.push_back(file[std::min(file.size() - 1, static_cast<size_t>(static_cast<double>(i) * nFileRate /
                                                                                 nSampleRate))]);
        if (!signal.empty())
            return signal;
    }
    signal.resize(static_cast<size_t>(nSampleRate));
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * 3.14159265358979323846 * 1000.0 *
                                                                        static_cast<double>(i) / nSampleRate)));
    return signal;
}

} // namespace

AudioCapture::~AudioCapture() { Stop(); }

int32_t AudioCapture::Start(KTN_fAudioCaptureCallBack cb, int nBitsPerSample, int nSampleRate, int nBlockSize,
                            void *pUser)
{
    if (!cb || nBitsPerSample != 16 || nSampleRate < 8000 || nSampleRate > 48000 || nBlockSize < 2 ||
        nBlockSize % 2 != 0 || nBlockSize > 65536)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bRunning)
        return KTN_ERR_BUSY;
    if (m_thread.joinable())
        m_thread.join();    // a capture that ended itself
    m_bStop = false;
    m_bRunning = true;
    m_nBlocks = 0;
    m_thread = std::thread(&AudioCapture::Run, this, cb, nSampleRate, nBlockSize, pUser, SourceSignal(nSampleRate));
    m_threadId = m_thread.get_id();
    return KTN_ERR_NONE;
}

int32_t AudioCapture::Stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bRunning && std::this_thread::get_id() == m_threadId)
            return KTN_ERR_WRONG_THREAD;
        m_bStop = true;
        thread = std::move(m_thread);
    }
    m_cv.notify_all();
    if (thread.joinable())
        thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bRunning = false;
    return KTN_ERR_NONE;
}

bool AudioCapture::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bRunning;
}

int64_t AudioCapture::BlocksDelivered() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nBlocks;
}

void AudioCapture::Run(KTN_fAudioCaptureCallBack cb, int nSampleRate, int nBlockSize, void *pUser,
                       std::vector<int16_t> source)
{
    PavlineThreads::Scope scope(-1);
    const size_t nSamples = static_cast<size_t>(nBlockSize / 2);
    std::vector<unsigned char> block(static_cast<size_t>(nBlockSize));
    size_t nAt = 0;
    using Clock = std::chrono::steady_clock;
    const auto step = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(nSamples) / nSampleRate));
    Clock::time_point next = Clock::now() + step;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // A block is there once its duration has been "heard".
            if (m_cv.wait_until(lock, next, [this] { return m_bStop; }))
                return;
        }
        for (size_t i = 0; i < nSamples; ++i) {
            const int16_t s = source[nAt];
            nAt = (nAt + 1) % source.size();
            block[2 * i] = static_cast<unsigned char>(s & 0xFF);
            block[2 * i + 1] = static_cast<unsigned char>((s >> 8) & 0xFF);
        }
        cb(block.data(), nBlockSize, pUser);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_nBlocks;
        }
        next += step;
        const Clock::time_point now = Clock::now();
        if (next + std::chrono::milliseconds(500) < now)
            next = now;     // held up by a slow callback: go on from now, not in a burst
    }
}
