#pragma once

#include "platform/AvPointers.h"
#include "platform/pavline.h"
#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/PictureRenderer.h"
#include "standin/pavline/PortStats.h"
#include "standin/pavline/PortTimeline.h"
#include "standin/pavline/PreRoll.h"
#include "standin/pavline/RingQueue.h"
#include "standin/pavline/UnitBufferPool.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class MediaFileReader;
class NativeSurface;
class PortRecorder;

// What a port's controls (PavlinePort) and its player (PortPlayer) share. Each part names the lock that
// guards it; the locks are taken in the order control, input, reader, state, and the record and callback locks
// on their own.
struct PortState
{
    enum class Source { None, Stream, File };

    // A decoded picture (or, with no picture, a unit of sound) on its way to be shown.
    struct Item
    {
        AvFramePtr pFrame;
        int64_t nTimeMs = 0;
        MediaUnit audio;
    };

    PortState();
    ~PortState();
    PortState(const PortState &) = delete;
    PortState &operator=(const PortState &) = delete;

    // mutex held: empties the queues and starts the timeline anew; what is decoded from here on belongs to a
    // new flush generation.
    void ClearQueues();
    bool RealTime() const { return eSource == Source::Stream && nStreamMode == STREAME_REALTIME; }
    bool KeepsHistory() const { return eSource == Source::File || nStreamMode == STREAME_FILE; }

    // Guarded by mutex.
    mutable std::mutex mutex;
    Source eSource = Source::None;
    uint32_t nCapacity = 0;
    size_t nParserBytes = 0;                // bytes of a block cut between two inputs, kept by the parser
    bool bIdle = false;                     // the player waits for input
    RingQueue<MediaUnit> pending;
    size_t nPendingBytes = 0;
    RingQueue<Item> present;
    int nPresentPictures = 0;
    RingQueue<Item> history;                // pictures shown, for the step back (playback ports only)
    uint64_t nFlushGeneration = 0;
    bool bSourceEnded = false;
    bool bDecoderDrained = false;
    bool bEndReported = false;
    int64_t nFirstMs = 0, nLastMs = 0;      // a file's span

    bool bPlaying = false;
    bool bStop = false;
    bool bPaused = false;
    bool bStepping = false;
    int nStepForward = 0;
    int nStepBack = 0;
    bool bShowOne = false;                  // a still port shows the first picture after a seek
    bool bRedraw = false;                   // the settings changed: draw the last picture again
    int nSpeed = 0;
    int nStreamMode = STREAME_REALTIME;
    int nPictureCache = 10;
    PortTimeline timeline;

    // A seek: pictures before the one at the target are decoded and dropped; the seek has landed once the
    // picture of its flush generation is shown (or the file has ended).
    bool bSeeking = false;
    int64_t nSeekMs = 0;
    AvFramePtr pSeekCandidate;              // the last picture decoded at or before the target
    int64_t nSeekCandidateMs = 0;
    uint64_t nLandedGeneration = 0;
    std::condition_variable landed;

    HWND hWnd = nullptr;
    std::shared_ptr<NativeSurface> pSurface;
    RenderSettings settings;

    AvFramePtr pLastFrame;                  // the picture shown
    bool bHaveCurrent = false;
    int64_t nCurrentMs = 0;
    int nWidth = 0, nHeight = 0;            // of the last decoded picture

    PortStats stats;

    // Guarded by callbackMutex, which is held while a callback runs.
    std::recursive_mutex callbackMutex;
    KTN_fDecCallBack cbDecode = nullptr;
    void *pDecodeUser = nullptr;
    KTN_fFileEndCallBack cbFileEnd = nullptr;
    void *pFileEndUser = nullptr;

    // Guarded by readerMutex.
    std::mutex readerMutex;
    std::unique_ptr<MediaFileReader> pReader;

    // Guarded by recordMutex.
    std::mutex recordMutex;
    std::unique_ptr<PortRecorder> pRecorder;
    PreRoll preRoll;

    // Locks of its own.
    UnitBufferPool buffers;
};
