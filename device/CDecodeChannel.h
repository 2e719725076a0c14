#pragma once

#include "device/PlayState.h"
#include "platform/pavline.h"
#include "platform/winapi.h"

#include <atomic>
#include <cstdint>
#include <memory>

struct RealDataFrame;
class CRecordWorker;
class QString;

// The decode ports the pages use.
enum DecodePortBase : int {
    DECODE_PORT_LIVE = 0,           // 0-63: live channel n
    DECODE_PORT_PLAYBACK = 64,      // 64-67: device playback pane 0-3
    DECODE_PORT_LOCAL_FILE = 128,   // 128-131: local-file pane 0-3
    DECODE_PORT_COLOR_PREVIEW = 320,
    DECODE_PORT_TALK = 499,         // talk and voice audio, used without a channel
};

constexpr int DISPLAY_REGION_SCALE = KTN_DISPLAY_REGION_SCALE;

// The decode callback a page registers: each picture's status, the drawing context on the surface, the channel's
// play window and the page's user value. Runs on a thread of the decode library.
typedef void (*DecodeDrawCallBack)(int32_t nStatus, void *pData, HWND hWnd, void *pUser);

// One port of the decode library: opened for a live or playback stream or a local file, bound to a tile's native
// window, with play control, sound, colour and display region. Made by a page for a port on first use and kept
// until the page goes; the page stops and closes the port before it deletes the channel.
//
// Recording: in OEM mode 0 the decode library's recorder writes the file. In OEM modes 1 and 2 a ".h264" or
// ".h265" name is recorded by the channel itself into an MP4 file (device/CRecordWorker.h, with its own worker
// thread); any other name goes to the library's recorder too. A recording begins with the blocks since the last
// key frame the channel received: what was on screen when it was started.
class CDecodeChannel
{
public:
    explicit CDecodeChannel(int nPort);
    ~CDecodeChannel();
    CDecodeChannel(const CDecodeChannel &) = delete;
    CDecodeChannel &operator=(const CDecodeChannel &) = delete;

    int GetPort() const { return m_nPort; }
    void SetPlayWnd(HWND hWnd);
    HWND GetPlayWnd() const { return m_hPlayWnd.load(); }
    bool IsStreamOpen() const { return m_bStreamOpen; }
    bool IsSoundOpen() const { return m_bSoundOpen; }
    int GetOpenMode() const { return m_nOpenMode; }

    // Stream and play.
    int Open(int nOpenMode);
    int Close();
    int StartPreview();
    int StartPlayback(bool bLocalFile);
    int StopPreview();
    int StopPlayback();
    int BeginLocalPlay(const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser);
    int StopLocalPlay();
    // One block, header included, as the device delivered it; pFrame is the live block's record or null.
    int InputData(const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame);

    // Speed, position and time.
    int GetPlayState() const { return m_nPlayState; }
    int SetPlayState(int nCode);
    int SetPlayTime(const char *pBeginTime, const char *pEndTime);
    float GetPlayPos(int nMode);
    int GetSeekTime(int nPerMille);
    float GetLocalPlayPos();
    int SetPlayPos(double dPos);
    bool RefreshPlay();
    int GetYuvVal();
    int GetBufVal();
    const SYSTEMTIME &GetBeginTime() const { return m_stBeginTime; }
    const SYSTEMTIME &GetEndTime() const { return m_stEndTime; }

    // Picture, sound and display.
    int OpenSound();
    int CloseSound();
    int GetColor(int &nBrightness, int &nContrast, int &nSaturation, int &nHue);
    int SetColor(int nWhich, int nValue);
    int SetDisplayRegion(const RECT *pRect, bool bEnable);
    bool SetDisplayRegionNoLog(int nLeft, int nTop, int nRight, int nBottom, bool bEnable);
    static int SetVideoMode(int nPort, int nValue);
    int SetOriginalValue(int nValue);
    int GetPictureSize(int &nWidth, int &nHeight);
    int SetDecCallBack(DecodeDrawCallBack cbDecode, void *pUser);

    // The decode library's decode callback (its user value is the channel).
    static void FilterDecCallBack(int32_t nStatus, void *pData, void *pUser);

    // Recording, snapshots and conversion. Paths are in the local 8-bit encoding.
    // Starts recording into pPath with the library's record type (0 blocks, 2 AVI); 0 while a recording runs or
    // its finishing does, or when the recording cannot start. While stopped: 0, and a recording left running is
    // ended (its file finished) and the recording flag cleared. Never waits for a conversion or a remux.
    int StartRecord(const char *pPath, int nRecordType);
    // Ends the recording; 1 (or the library's result) when it ended with its file kept, 0 when none ran or its
    // file could not be kept (no picture in it that can be decoded, or not written whole): the recording has
    // ended all the same (IsRecording tells), and the own recorder's data is kept for the next start.
    int StopRecord();
    bool IsRecording() const { return m_bRecording.load(); }
    // The picture shown, as a BMP file (type 0) or a JPEG file (type 1); missing folders are made.
    bool CapturePicture(const char *pPath, int nType);
    // Converts a recorded file by the decode library (type 2, AVI, only) with its progress callback.
    static bool ChangeFileFormat(const QString &strSource, const QString &strTarget, int nType,
                                 KTN_fConvertProgressCallBack cbProgress, void *pUser);

private:
    int StopPlay(const char *pTag);

    bool m_bStreamOpen = false;
    bool m_bSoundOpen = false;
    std::atomic<bool> m_bRecording{false};
    int m_nPort;
    std::atomic<HWND> m_hPlayWnd{nullptr};
    int m_nPlayState = PLAY_STATE_STOPPED;
    SYSTEMTIME m_stBeginTime{};
    SYSTEMTIME m_stEndTime{};
    int m_nBrightness = 64;
    int m_nContrast = 64;
    int m_nSaturation = 64;
    int m_nHue = 64;
    int m_nOpenMode = -1;
    // Read by the decode library's thread while a page may register anew.
    std::atomic<DecodeDrawCallBack> m_cbDecode{nullptr};
    std::atomic<void *> m_pDecodeUser{nullptr};
    bool m_bDecCallBackSet = false;     // the filter was registered with the port (GUI thread only)
    // Recording: which recorder runs, and in OEM modes 1 and 2 the channel's own with its worker thread.
    enum RecordRoute : int { RECORD_NONE = 0, RECORD_LIBRARY = 1, RECORD_OWN = 2 };
    const int m_nOemMode;
    RecordRoute m_eRecordRoute = RECORD_NONE;
    // Shared with its worker thread, which may finish a recording after the channel has gone.
    std::shared_ptr<CRecordWorker> m_pRecordWorker;
};
