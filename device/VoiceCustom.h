#pragma once

#include "runtime/MainThreadObject.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>

// The custom alarm voice: records the microphone as G.711 A-law into "customAlarmVoice.pcm" in the application
// directory (at most 40960 bytes), and plays that file back on port 499 as a test. Progress goes out as JSON
// events through VoiceRecordTime:
//   {"MainEvent": 6, "SubEvent": 0, "Ret": 100, "Pos": seconds left}   after each recorded block
//   {"MainEvent": 6, "SubEvent": 1, "Ret": 100 (with "Pos" when a block reached the limit) or 1016 (a write
//    failed)}                                                          the recording ended
//   {"MainEvent": 6, "SubEvent": 3, "Ret": 100}                         the test playback ended
// One object per process, made on first use, living until the process ends, on the GUI thread. While a talk
// holds port 499 and the microphone (CTalk), recording and testing are refused.
class VoiceCustom : public QObject
{
    Q_OBJECT
public:
    enum State : int32_t { STATE_IDLE = 0, STATE_RECORDING = 1, STATE_TESTING = 2 };

    static constexpr int64_t kMaxFileBytes = 40960;
    // Results of StartRecord and StartTest while a talk holds port 499 and the microphone.
    static constexpr int kTalkBusy = -5;

    static VoiceCustom *GetInstance();

    // 320 at 16000 Hz, else 160 bytes per test frame.
    void SetSampleRate(int nSampleRate);
    // A set flag makes the rate 16000 (320 bytes per test frame).
    void SetSampleRate16K(bool bFlag);
    int GetSampleRate() const { return m_nSampleRate.load(); }
    int32_t GetState() const { return m_nState.load(); }
    // Whether the thread of a test playback still runs (it ends shortly after its end event).
    bool IsTestThreadRunning() const { return m_nTestThreads.load() > 0; }
    QString FilePath() const;

    // 0, -3 when not idle, -2 when the capture does not start, -5 when a talk holds the microphone.
    int StartRecord();
    // 0, or -1 when the capture does not stop; nothing happens unless recording.
    int StopRecordVoice();
    // 0, -1 when not idle, -2 when the file does not open, -3 when it is empty, -4 when port 499 does not open,
    // -5 when a talk holds port 499.
    int StartTest();
    // Asks a running test to end (it still sends its end event). Returns 0.
    int StopTest();

    // The capture callback, on the decode library's thread.
    static void OnAudioCapture(const unsigned char *pPcm, int32_t nLength, void *pUser);

signals:
    void VoiceRecordTime(QString strEvent);
    void returnToMainThread(std::function<void(void)> fn);

private slots:
    void onReturnToMainThread(std::function<void(void)> fn);

private:
    explicit VoiceCustom(QObject *parent = nullptr);

    void RecordBlock(const unsigned char *pPcm, int32_t nLength);
    // On the object's thread: stops the capture of that recording, unless it was stopped already.
    void StopCaptureOf(uint64_t nRecording);
    // Port 499 and the microphone go back once idle with no capture of a recording left running.
    void ReleaseIfUnused();
    // Owns the file.
    void TestThread(std::FILE *pFile, int nSampleRate, int nFrameSize, int nSendInterval);
    void WaitPlayedOut();
    void Emit(int nSubEvent, int nRet, int nPos, bool bPos);

    std::atomic<int32_t> m_nState{STATE_IDLE};
    std::atomic<int32_t> m_nStop{0};
    std::atomic<int> m_nSampleRate{8000};

    std::mutex m_stopMutex;             // with m_stopCv: wakes the test thread at a stop
    std::condition_variable m_stopCv;
    // Starts and stops of the capture; never taken by the capture callback, which a stop waits for.
    std::mutex m_captureMutex;
    bool m_bCapturing = false;                  // a capture started by a recording runs (m_captureMutex)
    std::atomic<uint64_t> m_nRecording{0};      // the recording in progress, counted (written under m_captureMutex)
    std::atomic<int> m_nTestThreads{0};
};
