#pragma once

// The decode and render library's functions as the system calls them. The library itself is not on this
// machine; standin/pavline implements this interface.
//
// Conventions of the library:
// - Ports are numbered 0 to KTN_VIEW_MAX_PORT - 1. A call takes the port first and returns an int, non-zero
//   for success, unless said otherwise. After a failure the calling thread's last error (KTN_VIEW_GetLastError)
//   tells why.
// - A port plays one encoded stream (blocks of the data block format, platform/stream_block.h, fed by
//   KTN_VIEW_InputData) or one recorded file, decodes it on one of the library's threads and draws every picture into
//   the window it plays into, then calls the decode callback with a drawing context on that window.
// - Every callback runs on a thread of the library. A stop or a close of a port returns only when no callback
//   of that port can run any more; it cannot be called from that port's own callbacks.
// - Display regions are on the scale of KTN_DISPLAY_REGION_SCALE across each axis of the picture.
// - Colour values run from 0 to 128; 64 leaves the picture as it is.

#include "platform/winapi.h"

#include <cstdint>

constexpr int KTN_VIEW_MAX_PORT = 512;
constexpr int KTN_DISPLAY_REGION_SCALE = 8192;
constexpr int KTN_COLOR_MAX = 128;
constexpr int KTN_COLOR_NEUTRAL = 64;

// Error numbers of KTN_VIEW_GetLastError.
enum KTN_ErrorCode : int32_t {
    KTN_ERR_NONE = 0,
    KTN_ERR_PORT = 1,           // the port is outside 0 - KTN_VIEW_MAX_PORT-1
    KTN_ERR_ORDER = 2,          // the port is not in a state for the call (not open, not playing, a file, ...)
    KTN_ERR_PARAM = 3,          // a bad argument: null pointer, value out of range
    KTN_ERR_FILE = 4,           // a file could not be opened, created or read
    KTN_ERR_FORMAT = 5,         // a file or stream the library does not read
    KTN_ERR_BUFFER_FULL = 6,    // input refused: the port's buffer is full
    KTN_ERR_BUFFER_SMALL = 7,   // the caller's buffer is too small for the picture
    KTN_ERR_NO_PICTURE = 8,     // nothing has been decoded yet
    KTN_ERR_WINDOW = 9,         // no window has that handle
    KTN_ERR_BUSY = 10,          // already recording, or audio capture already runs
    KTN_ERR_WRONG_THREAD = 11,  // a stop or close from the port's own callback
    KTN_ERR_DECODER = 12,       // no decoder or writer for the codec
    KTN_ERR_FAILED = 13,        // a failure without a more precise cause
};

// Stream open modes.
enum : int { STREAME_REALTIME = 0, STREAME_FILE = 1 };

// KTN_VIEW_GetBufferValue kinds.
enum : int { KTN_BUF_DECODED_PICTURES = 3 };

// KTN_VIEW_CapturePicture types: a whole BMP file image (24 bits, 54-byte header), or planar YUV 4:2:0.
enum : int { KTN_CAPTURE_BMP = 0, KTN_CAPTURE_I420 = 1 };

// KTN_VIEW_StartDataRecord types: the blocks as received, or an AVI file.
enum : int { KTN_RECORD_BLOCKS = 0, KTN_RECORD_AVI = 2 };

// KTN_VIEW_ConvertFile target types.
enum : int { KTN_CONVERT_AVI = 2 };

// KTN_VIEW_SetVideoMode kinds and the values of KTN_VIDEO_MODE_SCALING: how pictures are scaled to the window.
enum : int { KTN_VIDEO_MODE_SCALING = 1 };
enum : int { KTN_SCALING_FAST = 0, KTN_SCALING_BILINEAR = 1, KTN_SCALING_BICUBIC = 2 };

// ---------------------------------------------------------------------------------------------------------
// Callbacks (all run on threads of the library).

// After each picture drawn: status 0, pData the drawing context (HDC) on the window's surface for this picture
// (null for a port that plays into no window), valid only during the call.
typedef void (*KTN_fDecCallBack)(int32_t nStatus, void *pData, void *pUser);
// A local file has been played to its end (once per end reached).
typedef void (*KTN_fFileEndCallBack)(int32_t nPort, void *pUser);
// Progress of a file conversion; the last call has nCurrent equal to nTotal, once the target is complete.
typedef void (*KTN_fConvertProgressCallBack)(int32_t nCurrent, int32_t nTotal, void *pUser);
// One captured block of 16-bit little-endian mono PCM.
typedef void (*KTN_fAudioCaptureCallBack)(const unsigned char *pPcm, int32_t nLength, void *pUser);

// ---------------------------------------------------------------------------------------------------------
// Stream.

// Opens the port for a stream; the header block is not read beyond its length and may be null. The buffer
// holds at most nBufferSize bytes of blocks not yet decoded. Opening an open stream starts it afresh.
int KTN_VIEW_OpenStream(int nPort, const unsigned char *pHeader, uint32_t nHeaderSize, uint32_t nBufferSize);
// STREAME_REALTIME (live: pictures follow the arrival, a growing delay is cut at the next key frame) or
// STREAME_FILE (device playback: every picture shown, paced by its timestamp and the play speed).
int KTN_VIEW_SetStreamOpenMode(int nPort, int nMode);
// Queues bytes of the stream (whole blocks or any piece of them). Never waits: returns 0 when the buffer
// cannot take them (KTN_ERR_BUFFER_FULL), and takes nothing then.
int KTN_VIEW_InputData(int nPort, const unsigned char *pData, uint32_t nSize);
int KTN_VIEW_CloseStream(int nPort);

// ---------------------------------------------------------------------------------------------------------
// File: a file of the data block format, or an MP4/AVI file with H.264 or H.265 video.

int KTN_VIEW_OpenFile(int nPort, const char *pFileName);
int KTN_VIEW_SetFileEndCallBack(int nPort, KTN_fFileEndCallBack cbFileEnd, void *pUser);
int KTN_VIEW_CloseFile(int nPort);

// ---------------------------------------------------------------------------------------------------------
// Play.

// Starts drawing into the window (null: no window, for an audio-only port). On a playing port it returns to
// normal speed, ends a pause or single stepping and changes the window.
int KTN_VIEW_Play(int nPort, HWND hWnd);
// Ends play; the window shows its own painting again.
int KTN_VIEW_Stop(int nPort);
// 1 pause, 0 resume.
int KTN_VIEW_Pause(int nPort, int nPause);
// One speed step faster or slower: speeds 1/16 to 16 times in powers of two.
int KTN_VIEW_Fast(int nPort);
int KTN_VIEW_Slow(int nPort);
// Single steps: the next picture, or the picture before the one shown; the port then stays still.
int KTN_VIEW_OneByOne(int nPort);
int KTN_VIEW_OneByOneBack(int nPort);
// File: position 0.0 - 1.0 of the file's time span. A playing port goes to the key frame before the position,
// decodes up to it and returns once the picture at the position is shown: the position is then within a
// picture of the one asked for. Fails when the file cannot get there.
int KTN_VIEW_SetPlayPos(int nPort, double dPos);
// Stream: empties the port's buffers (blocks and decoded pictures); the next picture comes from the next key
// frame. File: nothing to empty (a seek made just before is kept). Non-zero when the port is open: its buffers
// hold nothing received before the call.
int KTN_VIEW_RefreshPlay(int nPort);
// File: position 0.0 - 1.0 of the picture shown (nKind 0).
float KTN_VIEW_GetPlayPos(int nPort, int nKind);
// The timestamp of the picture shown, in seconds (for streams: since 1970 of the device's local time); 0 or
// less when none.
int64_t KTN_VIEW_GetCurPlayTime(int nPort);
// The number of decoded pictures held ready to be shown (1 - 50).
int KTN_VIEW_SetPictureCache(int nPort, int nPictures);

// ---------------------------------------------------------------------------------------------------------
// Sound.

// The one port whose sound is heard (a new one replaces it); sound off for it.
int KTN_VIEW_PlaySound(int nPort);
int KTN_VIEW_StopSound();
// Sound of a port heard together with any other (talk and voice port).
int KTN_VIEW_PlaySoundShare(int nPort);
int KTN_VIEW_StopSoundShare(int nPort);
// Microphone capture (one at a time): nBlockSize bytes of nBitsPerSample (16) PCM at nSampleRate per call, in
// real time. The stop cannot be called from the capture callback.
int KTN_VIEW_StartAudioCapture(KTN_fAudioCaptureCallBack cbCapture, int nBitsPerSample, int nSampleRate,
                               int nBlockSize, void *pUser);
int KTN_VIEW_StopAudioCapture();

// ---------------------------------------------------------------------------------------------------------
// Display.

// Region nRegion 0 only; hDestWnd is not used. With a rectangle and bEnable set, that part of the picture fills
// the window; without a rectangle, or bEnable clear, the whole picture.
int KTN_VIEW_SetDisplayRegion(int nPort, int nRegion, const RECT *pRect, HWND hDestWnd, int bEnable);
int KTN_VIEW_SetVideoMode(int nPort, int nKind, int nValue);
// Actual size (*pOn 1): the picture at its own pixel size in the middle of the window; 0 fills the window.
int KTN_VIEW_SetActualSize(int nPort, int nRegion, const int *pOn);
// The size of the last decoded picture; fails before the first.
int KTN_VIEW_GetPictureSize(int nPort, int *pWidth, int *pHeight);

// ---------------------------------------------------------------------------------------------------------
// Colour, applied to every picture shown and captured.

int KTN_VIEW_SetColor(int nPort, int nRegion, int nBrightness, int nContrast, int nSaturation, int nHue);
int KTN_VIEW_GetColor(int nPort, int nRegion, int *pBrightness, int *pContrast, int *pSaturation, int *pHue);

// ---------------------------------------------------------------------------------------------------------
// Buffers.

// Bytes of blocks received and not yet decoded.
int KTN_VIEW_GetSourceBufferRemain(int nPort);
// nKind KTN_BUF_DECODED_PICTURES: pictures decoded and not yet shown; -1 for another kind.
int KTN_VIEW_GetBufferValue(int nPort, int nKind);

// ---------------------------------------------------------------------------------------------------------
// Capture of the picture shown, at its own size: a BMP file image or I420 (width x height x 3 / 2 bytes).

int KTN_VIEW_CapturePicture(int nPort, unsigned char *pBuffer, uint32_t nBufferSize, int *pWidth, int *pHeight,
                            int nType);

// ---------------------------------------------------------------------------------------------------------
// Record: what the port receives (or reads) from now on, into the file (created or truncated).

// A recording begins with the key frame at or before the picture shown (what the port received or read since
// then is kept for it), so that its first picture can be decoded.
int KTN_VIEW_StartDataRecord(int nPort, const char *pFileName, int nType);
// Ends the recording. Fails when the port records nothing (KTN_ERR_ORDER), and when its file holds pictures none
// of which can be decoded (KTN_ERR_NO_PICTURE: the file is removed) or could not be written whole
// (KTN_ERR_FILE): such a recording has ended all the same.
int KTN_VIEW_StopDataRecord(int nPort);

// ---------------------------------------------------------------------------------------------------------
// Conversion (no port) of a block-format file into nType KTN_CONVERT_AVI, on a thread of the library. Greater
// than 0 when the conversion has started.

int KTN_VIEW_ConvertFile(const char *pSource, const char *pTarget, int nType, KTN_fConvertProgressCallBack cbProgress,
                         void *pUser);

// ---------------------------------------------------------------------------------------------------------
// Decode callback of a port; it stays registered across opens and closes of the port. A new registration waits
// for a call in progress.

int KTN_VIEW_SetDecCallBack(int nPort, KTN_fDecCallBack cbDecode, void *pUser);

// ---------------------------------------------------------------------------------------------------------
// The error number of the calling thread's last failed call.

int KTN_VIEW_GetLastError();
