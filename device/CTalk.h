#pragma once

#include "device/DevLoginInfo.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>

// A two-way voice talk with a device, or with one camera channel behind a recorder: the microphone (or, in file
// mode, "Sound/AlarmSound.wav" in a loop) goes to the device as G.711 A-law talk frames, and the device's audio
// plays on the local port 499.
//
// Port 499 and the microphone serve one user at a time: a talk, or the custom alarm voice (VoiceCustom). Each
// claims them before it opens anything and gives them back once it has closed what it opened.
class CTalk
{
public:
    // Error codes of the file task.
    static constexpr int32_t kFileTaskStarted = 100;
    static constexpr int32_t kOpenFileFailed = 401016;
    static constexpr int32_t kReadFileFailed = 401020;
    static constexpr int32_t kSendFailed = 401036;
    static constexpr int32_t kFileMissing = 401037;

    static constexpr int kTalkPort = 499;
    static constexpr int kFrameBufferSize = 4096;

    // Port 499 and the microphone, claimed by their user (a talk, or the custom voice): true when they were free
    // or are that user's already. The release frees them only for the user that holds them.
    static bool ClaimVoicePort(const void *pUser);
    static void ReleaseVoicePort(const void *pUser);
    // The user that holds them, or null.
    static const void *VoicePortOwner();

    CTalk();
    ~CTalk();
    CTalk(const CTalk &) = delete;
    CTalk &operator=(const CTalk &) = delete;

    // Copies the whole login record; its login handle is the one the talk uses.
    void SetDeviceInfo(const DevLoginInfo &info);
    void SetSampleRate(int nSampleRate);
    // A set flag makes the rate 16000.
    void SetSampleRate16K(bool bFlag);
    // File mode sends "Sound/AlarmSound.wav" instead of the microphone, one frame per send interval (ms); an
    // interval shorter than a frame lasts (20 ms) is held to that.
    void SetFileMode(bool bFileMode);
    void SetSendInterval(int nMilliseconds);

    int GetSampleRate() const { return m_nSampleRate; }
    bool IsStarted() const { return m_bStarted; }
    int32_t GetTalkHandle() const { return m_lTalkHandle.load(); }
    // The file task's result: 100 once started, or one of its error codes.
    int32_t GetErrorCode() const { return m_nErrorCode.load(); }

    // True when the talk runs.
    bool TalkDevice();
    bool TalkChannel(int nChannel);
    // 1, or 0 when there is no login.
    int StopTalk();

    // Opens port 499 for the device's audio: non-zero on success.
    int StartTalkPlay();
    bool StartTalkDevice();
    bool StartTalkChannel(int nChannel);

    // Microphone blocks, on the decode library's capture thread.
    static void OnAudioCapture(const unsigned char *pPcm, int32_t nLength, void *pUser);
    // The device's audio, on a thread of the device library.
    static void OnTalkData(int32_t lTalkHandle, const char *pData, int32_t nLength, int32_t nDataType, void *pUser);

private:
    // Stops play and sound share and closes the stream of port 499.
    static void CloseTalkPlay();
    // After the voice com has started: the file task (when bFileTask) or the capture, then the talk counts as
    // started. A capture that does not start stops the voice com and closes port 499.
    bool StartSending(int32_t lTalkHandle, bool bFileTask, const QString &strCaptureLog, const QString &strTag);
    // Gives port 499 and the microphone back after a start that failed.
    void AbandonStart();
    void FileTask(int32_t lTalkHandle);
    // Sleeps the send interval; false when the stop came first.
    bool WaitInterval();
    void SendCaptured(const unsigned char *pPcm, int32_t nLength);

    std::unique_ptr<unsigned char[]> m_pFrameBuffer;    // made on first use, by the capture callback alone
    std::atomic<int32_t> m_lTalkHandle{-1};
    bool m_bStarted = false;
    DevLoginInfo m_stDevInfo{};
    int m_nSampleRate = 8000;
    bool m_bFileMode = false;
    std::atomic<bool> m_bStop{false};
    std::atomic<int32_t> m_nErrorCode{0};
    int m_nSendInterval = 20;
    std::future<void> m_fileTask;

    std::mutex m_stopMutex;             // with m_stopCv: wakes the file task at a stop
    std::condition_variable m_stopCv;
    bool m_bPortClaimed = false;        // port 499 and the microphone are this talk's
    bool m_bPlayOpen = false;           // port 499 is open
    bool m_bCapturing = false;          // this talk started the microphone capture
};
