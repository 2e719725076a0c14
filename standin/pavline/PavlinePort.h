#pragma once

#include "platform/pavline.h"
#include "platform/AvPointers.h"
#include "platform/stream_block.h"
#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/PictureRenderer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MediaFileReader;
class NativeSurface;
class PortRecorder;
class SoundOutput;

// What a port has done, for tests and benchmarks.
struct PortStats
{
    bool bOpen = false;
    bool bFile = false;
    bool bPlaying = false;
    bool bPaused = false;
    bool bStepping = false;
    int nSpeed = 0;                 // -4 (1/16) .. 4 (16 times)
    int nStreamMode = 0;
    int nPictureCache = 0;
    int64_t nInputCalls = 0;
    int64_t nInputRefused = 0;
    int64_t nUnitsSkipped = 0;      // video before the first key frame, and cut from a growing live delay
    int64_t nPicturesDecoded = 0;
    int64_t nPicturesShown = 0;
    int64_t nPicturesDropped = 0;   // decoded but never shown (late, or cut)
    int64_t nDecodeErrors = 0;
    int64_t nDecodeCallbacks = 0;
    int64_t nFileEndCallbacks = 0;
    int64_t nAudioUnits = 0;        // audio units that reached the front of the port (heard or not)
    int64_t nWakes = 0;             // times the port's thread woke from a wait
    int64_t nLastShownMs = 0;
    RenderSettings settings;
};

// One port of the decode library. Control calls come from any thread and are serialised; KTN_VIEW_InputData
// cuts the bytes into units on the caller's thread (their one copy), queues them and never waits for the
// port's thread. While the port plays, its thread (which also reads a file port's file) decodes ahead up to the
// picture cache, shows each picture when its time has come, plays sound and calls the callbacks. Input wakes the
// thread only when it waits for input and a picture (or sound that is heard) arrives, so a live port wakes about
// once per picture.
class PavlinePort
{
public:
    PavlinePort(int nPort, SoundOutput &sound);
    ~PavlinePort();
    PavlinePort(const PavlinePort &) = delete;
    PavlinePort &operator=(const PavlinePort &) = delete;

    // Each returns KTN_ERR_NONE or the error of the failure.
    int32_t OpenStream(uint32_t nBufferSize);
    int32_t SetStreamMode(int nMode);
    int32_t Input(const uint8_t *pData, uint32_t nSize);
    int32_t CloseStream();
    int32_t OpenFile(const std::string &strPath);
    int32_t SetFileEndCallBack(KTN_fFileEndCallBack cb, void *pUser);
    int32_t CloseFile();

    int32_t Play(HWND hWnd);
    int32_t Stop();
    int32_t Pause(int nPause);
    int32_t Fast();
    int32_t Slow();
    int32_t StepForward();
    int32_t StepBack();
    int32_t SetPlayPos(double dPos);
    int32_t Refresh();
    int32_t PlayPos(float &fPos) const;
    int64_t CurPlayTime() const;
    int32_t SetPictureCache(int nPictures);

    int32_t SoundAllowed() const;   // KTN_ERR_NONE when the port is open

    int32_t SetRegion(const RECT *pRect, bool bEnable);
    int32_t SetVideoMode(int nKind, int nValue);
    int32_t SetActualSize(bool bOn);
    int32_t PictureSize(int &nWidth, int &nHeight) const;
    int32_t SetColor(int nBrightness, int nContrast, int nSaturation, int nHue);
    int32_t GetColor(int &nBrightness, int &nContrast, int &nSaturation, int &nHue) const;
    int32_t SourceBytes(int &nBytes) const;
    int32_t DecodedPictures(int &nPictures) const;
    int32_t Capture(uint8_t *pBuffer, uint32_t nBufferSize, int &nWidth, int &nHeight, int nType);
    int32_t StartRecord(const std::string &strPath, int nType);
    int32_t StopRecord();
    int32_t SetDecCallBack(KTN_fDecCallBack cb, void *pUser);

    PortStats Stats() const;
    // Closes whatever is open and forgets the callbacks (a reset of the library).
    void Reset();

private:
    // One single step forward or back: counts it in nSteps and lets the thread show it.
    int32_t Step(int &nSteps);
    // One speed step faster (+1) or slower (-1), within kMaxSpeed steps of normal either way.
    int32_t ChangeSpeed(int nStep);
    using Clock = std::chrono::steady_clock;
    enum class Source { None, Stream, File };

    struct Item
    {
        AvFramePtr pFrame;      // a picture, or null for sound
        int64_t nTimeMs = 0;
        MediaUnit audio;
    };

    // m_controlMutex held by control; a stop lets it go while it waits for the thread, so that the thread's
    // callbacks can still make control calls meanwhile (they fail: the port is stopping).
    int32_t Open(std::unique_lock<std::mutex> &control, Source eSource, uint32_t nBufferSize,
                 std::unique_ptr<MediaFileReader> pReader);
    int32_t Close(std::unique_lock<std::mutex> &control, Source eSource);
    int32_t StopLocked(std::unique_lock<std::mutex> &control);
    bool Playing() const;

    // m_mutex held: empties the queues and starts the timeline anew.
    void ClearQueues();
    void Wake();
    bool RealTime() const { return m_eSource == Source::Stream && m_nStreamMode == STREAME_REALTIME; }
    bool KeepsHistory() const { return m_eSource == Source::File || m_nStreamMode == STREAME_FILE; }
    Clock::time_point Due(int64_t nTimeMs, Clock::time_point now);
    void Anchor(int64_t nTimeMs, Clock::time_point now);
    bool CutBacklog();
    size_t NextPicture() const;

    // The port's thread: one step per phase, each with m_mutex held (in lk) and returning whether it did
    // something, so that the loop starts over; the lock is let go around decoding, drawing and callbacks.
    struct Worker;
    void Run();
    // A refresh, a seek or the start: nothing of before is decoded on.
    void Restart(Worker &w);
    bool StepBack(std::unique_lock<std::mutex> &lk, Worker &w);
    // The unit at the front: sound out, or the picture shown or dropped when its time has come; else the time
    // it is due goes to wake.
    bool TakeFront(std::unique_lock<std::mutex> &lk, Worker &w, Clock::time_point now, Clock::time_point &wake);
    bool PlayFrontSound(std::unique_lock<std::mutex> &lk, Worker &w);
    bool DecodeAhead(std::unique_lock<std::mutex> &lk, Worker &w);
    bool ReadFile(std::unique_lock<std::mutex> &lk);
    bool FinishFile(std::unique_lock<std::mutex> &lk, Worker &w);
    bool Redraw(std::unique_lock<std::mutex> &lk, Worker &w);
    void Sleep(std::unique_lock<std::mutex> &lk, Clock::time_point wake);
    // Shows the item (the lock let go meanwhile) and records it as shown unless a flush came in between.
    void ShowItem(std::unique_lock<std::mutex> &lk, Worker &w, AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory);
    // Decoded pictures into the queue.
    void Queue(std::vector<AvFramePtr> &frames);
    // Draws the picture into the window and calls the decode callback; m_mutex not held.
    // Returns whether the decode callback ran.
    bool Show(const AVFrame *pFrame, const RenderSettings &settings, const std::shared_ptr<NativeSurface> &pSurface,
              Worker &w);
    // m_recordMutex held: keeps the input since its last key frame for a recorder started later.
    void KeepPreRoll(const uint8_t *pData, uint32_t nSize);
    // m_mutex held: the picture is the one shown now.
    void Shown(AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory, bool bCalledBack);

    const int m_nPort;
    SoundOutput &m_sound;

    std::mutex m_controlMutex;              // one control call at a time
    std::recursive_mutex m_callbackMutex;   // held while a callback runs
    std::mutex m_readerMutex;               // the file reader
    std::mutex m_recordMutex;               // the recorder
    std::mutex m_inputMutex;                // the input's parser, held through KTN_VIEW_InputData

    // Guarded by m_inputMutex.
    StreamBlock::Parser m_parser;
    uint64_t m_nParserGeneration = 0;       // the flush generation the parser's kept bytes belong to
    std::vector<MediaUnit> m_parsed;

    mutable std::mutex m_mutex;             // everything below, shared with the thread
    std::condition_variable m_cv;
    bool m_bWake = false;
    bool m_bStop = false;
    std::thread m_thread;

    Source m_eSource = Source::None;
    uint32_t m_nCapacity = 0;
    size_t m_nParserBytes = 0;              // bytes of a block cut between two inputs, kept by the parser
    bool m_bIdle = false;                   // the thread waits for input
    std::deque<MediaUnit> m_pending;
    size_t m_nPendingBytes = 0;
    std::deque<Item> m_present;
    int m_nPresentPictures = 0;
    std::deque<Item> m_history;             // pictures shown, for the step back (playback ports only)
    uint64_t m_nFlushGeneration = 0;
    bool m_bSourceEnded = false;
    bool m_bDecoderDrained = false;
    bool m_bEndReported = false;
    int64_t m_nFirstMs = 0, m_nLastMs = 0;  // a file's span

    bool m_bPlaying = false;
    bool m_bPaused = false;
    bool m_bStepping = false;
    int m_nStepForward = 0;
    int m_nStepBack = 0;
    bool m_bShowOne = false;                // a still port shows the first picture after a seek
    bool m_bRedraw = false;                 // the settings changed: draw the last picture again
    int m_nSpeed = 0;
    int m_nStreamMode = STREAME_REALTIME;
    int m_nPictureCache = 10;
    bool m_bAnchored = false;
    Clock::time_point m_anchorWall;
    int64_t m_nAnchorMs = 0;

    HWND m_hWnd = nullptr;
    std::shared_ptr<NativeSurface> m_pSurface;
    RenderSettings m_settings;

    AvFramePtr m_pLastFrame;                // the picture shown
    bool m_bHaveCurrent = false;
    int64_t m_nCurrentMs = 0;
    int m_nWidth = 0, m_nHeight = 0;        // of the last decoded picture

    PortStats m_stats;

    // Guarded by m_callbackMutex.
    KTN_fDecCallBack m_cbDecode = nullptr;
    void *m_pDecodeUser = nullptr;
    KTN_fFileEndCallBack m_cbFileEnd = nullptr;
    void *m_pFileEndUser = nullptr;

    std::unique_ptr<MediaFileReader> m_pReader;     // guarded by m_readerMutex
    std::unique_ptr<PortRecorder> m_pRecorder;      // guarded by m_recordMutex
    std::vector<uint8_t> m_preRoll;                 // guarded by m_recordMutex
    bool m_bPreRoll = false;                        // a key frame began it and all since fits
};
