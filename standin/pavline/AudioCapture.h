#pragma once

#include "platform/pavline.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// The microphone of the decode library: a thread that delivers blocks of 16-bit mono PCM in real time, from the
// WAV file named by PAVLINE_MIC_WAV (looped, taken to the asked rate) or else from a 1 kHz tone.
class AudioCapture
{
public:
    ~AudioCapture();

    // KTN_ERR_NONE, or the error: KTN_ERR_PARAM (not 16 bits, a rate outside 8000-48000, an odd or too large
    // block), KTN_ERR_BUSY (a capture runs).
    int32_t Start(KTN_fAudioCaptureCallBack cb, int nBitsPerSample, int nSampleRate, int nBlockSize, void *pUser);
    // Returns once no callback can run any more; KTN_ERR_WRONG_THREAD from the capture callback itself.
    int32_t Stop();
    bool IsRunning() const;
    int64_t BlocksDelivered() const;

private:
    void Run(KTN_fAudioCaptureCallBack cb, int nSampleRate, int nBlockSize, void *pUser, std::vector<int16_t> source);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bStop = false;
    bool m_bRunning = false;
    std::thread m_thread;
    std::thread::id m_threadId;
    int64_t m_nBlocks = 0;
};
