#pragma once

#include "platform/pavline.h"
#include "platform/stream_block.h"
#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/PortState.h"
#include "standin/pavline/PortStats.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DecodePool;
class MediaFileReader;
class PortPlayer;
class SoundOutput;

// One port of the decode library: its state and its controls. Control calls come from any thread and are
// serialised; KTN_VIEW_InputData cuts the bytes into units on the caller's thread (their one copy, into buffers
// the port keeps for reuse), queues them and never waits. While the port plays, its player (PortPlayer) is
// serviced by the decode pool's workers: it decodes ahead up to the picture cache, shows each picture when its
// time has come, plays sound and calls the callbacks. Input and controls make the player ready for the pool's
// next tick; input does so only when the player waits for it and a picture (or sound that is heard) arrives.
class PavlinePort
{
public:
    PavlinePort(int nPort, SoundOutput &sound, DecodePool &pool);
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
    // Seeks to the key frame before the position and returns once the picture at the position is shown (a port
    // that plays; else once the seek is made): the position is then within a picture of the one asked for.
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
    // Ends the recording; KTN_ERR_NO_PICTURE or KTN_ERR_FILE when its file holds no picture that can be decoded
    // (and is removed) or could not be written whole: the recording has ended all the same.
    int32_t StopRecord();
    int32_t SetDecCallBack(KTN_fDecCallBack cb, void *pUser);

    PortStats Stats() const;
    // Closes whatever is open and forgets the callbacks (a reset of the library).
    void Reset();

private:
    using Source = PortState::Source;

    // One single step forward or back: counts it in nSteps and lets the player show it.
    int32_t Step(int &nSteps);
    // One speed step faster (+1) or slower (-1), within kMaxSpeed steps of normal either way.
    int32_t ChangeSpeed(int nStep);

    // m_controlMutex held by control; a stop lets it go while it waits for the player's service to end, so
    // that the port's callbacks can still make control calls meanwhile (they fail: the port is stopping).
    int32_t Open(std::unique_lock<std::mutex> &control, Source eSource, uint32_t nBufferSize,
                 std::unique_ptr<MediaFileReader> pReader);
    int32_t Close(std::unique_lock<std::mutex> &control, Source eSource);
    int32_t StopLocked(std::unique_lock<std::mutex> &control);
    bool Playing() const;
    // The state's mutex held: the player is serviced at the next tick.
    void Wake();
    // The state's mutex held: a picture shown, or a seek made; bShown false when there is none.
    bool ShownTime(int64_t &nShownMs) const;

    const int m_nPort;
    SoundOutput &m_sound;
    DecodePool &m_pool;

    std::mutex m_controlMutex;              // one control call at a time
    std::mutex m_inputMutex;                // the input's parser, held through KTN_VIEW_InputData

    // Guarded by m_inputMutex.
    StreamBlock::Parser m_parser;
    uint64_t m_nParserGeneration = 0;       // the flush generation the parser's kept bytes belong to
    std::vector<MediaUnit> m_parsed;

    PortState m_state;
    // Guarded by m_state.mutex: made at play, gone at the stop once the pool no longer services it.
    std::unique_ptr<PortPlayer> m_pPlayer;
};
