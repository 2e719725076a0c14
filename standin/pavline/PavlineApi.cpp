// The pavline.h functions of the decode library stand-in: each journals its arguments, passes the entry gate
// (forced failures) and hands over to its port or to the library.

#include "platform/pavline.h"
#include "standin/pavline/PavlineLib.h"

#include <cstdio>
#include <string>

namespace {

PavlineLib &Lib() { return PavlineLib::Instance(); }

std::string Num(int64_t n) { return std::to_string(n); }

std::string Handle(const void *p)
{
    if (!p)
        return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

std::string Text(const char *p) { return p ? std::string(p) : std::string("(null)"); }

// The common shape of a port call: journal, gate, port, result.
template <typename F>
int PortCall(const char *pName, int nPort, const std::string &strArgs, F &&call)
{
    if (!Lib().Enter(pName, strArgs.empty() ? Num(nPort) : Num(nPort) + " " + strArgs))
        return 0;
    PavlinePort *pPort = Lib().Port(nPort);
    if (!pPort)
        return 0;
    return PavlineLib::Result(call(*pPort));
}

} // namespace

// ----------------------------------------------------------------------------------------------------------
// Stream.

int KTN_VIEW_OpenStream(int nPort, const unsigned char *pHeader, uint32_t nHeaderSize, uint32_t nBufferSize)
{
    (void)pHeader;  // the block format has no stream header; only its length is journaled
    return PortCall("KTN_VIEW_OpenStream", nPort, Num(nHeaderSize) + " " + Num(nBufferSize),
                    [&](PavlinePort &port) { return port.OpenStream(nBufferSize); });
}

int KTN_VIEW_SetStreamOpenMode(int nPort, int nMode)
{
    return PortCall("KTN_VIEW_SetStreamOpenMode", nPort, Num(nMode),
                    [&](PavlinePort &port) { return port.SetStreamMode(nMode); });
}

int KTN_VIEW_InputData(int nPort, const unsigned char *pData, uint32_t nSize)
{
    if (!Lib().EnterQuiet("KTN_VIEW_InputData"))
        return 0;
    PavlinePort *pPort = Lib().Port(nPort);
    if (!pPort)
        return 0;
    return PavlineLib::Result(pPort->Input(pData, nSize));
}

int KTN_VIEW_CloseStream(int nPort)
{
    return PortCall("KTN_VIEW_CloseStream", nPort, "", [&](PavlinePort &port) { return port.CloseStream(); });
}

// ----------------------------------------------------------------------------------------------------------
// File.

int KTN_VIEW_OpenFile(int nPort, const char *pFileName)
{
    return PortCall("KTN_VIEW_OpenFile", nPort, Text(pFileName), [&](PavlinePort &port) {
        return pFileName ? port.OpenFile(pFileName) : static_cast<int32_t>(KTN_ERR_PARAM);
    });
}

int KTN_VIEW_SetFileEndCallBack(int nPort, KTN_fFileEndCallBack cbFileEnd, void *pUser)
{
    return PortCall("KTN_VIEW_SetFileEndCallBack", nPort, cbFileEnd ? "set" : "none",
                    [&](PavlinePort &port) { return port.SetFileEndCallBack(cbFileEnd, pUser); });
}

int KTN_VIEW_CloseFile(int nPort)
{
    return PortCall("KTN_VIEW_CloseFile", nPort, "", [&](PavlinePort &port) { return port.CloseFile(); });
}

// ----------------------------------------------------------------------------------------------------------
// Play.

int KTN_VIEW_Play(int nPort, HWND hWnd)
{
    return PortCall("KTN_VIEW_Play", nPort, Handle(hWnd), [&](PavlinePort &port) { return port.Play(hWnd); });
}

int KTN_VIEW_Stop(int nPort)
{
    return PortCall("KTN_VIEW_Stop", nPort, "", [&](PavlinePort &port) { return port.Stop(); });
}

int KTN_VIEW_Pause(int nPort, int nPause)
{
    return PortCall("KTN_VIEW_Pause", nPort, Num(nPause), [&](PavlinePort &port) { return port.Pause(nPause); });
}

int KTN_VIEW_Fast(int nPort)
{
    return PortCall("KTN_VIEW_Fast", nPort, "", [&](PavlinePort &port) { return port.Fast(); });
}

int KTN_VIEW_Slow(int nPort)
{
    return PortCall("KTN_VIEW_Slow", nPort, "", [&](PavlinePort &port) { return port.Slow(); });
}

int KTN_VIEW_OneByOne(int nPort)
{
    return PortCall("KTN_VIEW_OneByOne", nPort, "", [&](PavlinePort &port) { return port.StepForward(); });
}

int KTN_VIEW_OneByOneBack(int nPort)
{
    return PortCall("KTN_VIEW_OneByOneBack", nPort, "", [&](PavlinePort &port) { return port.StepBack(); });
}

int KTN_VIEW_SetPlayPos(int nPort, double dPos)
{
    return PortCall("KTN_VIEW_SetPlayPos", nPort, std::to_string(dPos),
                    [&](PavlinePort &port) { return port.SetPlayPos(dPos); });
}

int KTN_VIEW_RefreshPlay(int nPort)
{
    return PortCall("KTN_VIEW_RefreshPlay", nPort, "", [&](PavlinePort &port) { return port.Refresh(); });
}

float KTN_VIEW_GetPlayPos(int nPort, int nKind)
{
    float fPos = 0.0f;
    PortCall("KTN_VIEW_GetPlayPos", nPort, Num(nKind), [&](PavlinePort &port) {
        return nKind == 0 ? port.PlayPos(fPos) : static_cast<int32_t>(KTN_ERR_PARAM);
    });
    return fPos;
}

int64_t KTN_VIEW_GetCurPlayTime(int nPort)
{
    int64_t nTime = 0;
    PortCall("KTN_VIEW_GetCurPlayTime", nPort, "", [&](PavlinePort &port) {
        nTime = port.CurPlayTime();
        return static_cast<int32_t>(KTN_ERR_NONE);
    });
    return nTime;
}

int KTN_VIEW_SetPictureCache(int nPort, int nPictures)
{
    return PortCall("KTN_VIEW_SetPictureCache", nPort, Num(nPictures),
                    [&](PavlinePort &port) { return port.SetPictureCache(nPictures); });
}

// ----------------------------------------------------------------------------------------------------------
// Sound.

int KTN_VIEW_PlaySound(int nPort)
{
    return PortCall("KTN_VIEW_PlaySound", nPort, "", [&](PavlinePort &port) {
        const int32_t nError = port.SoundAllowed();
        if (nError == KTN_ERR_NONE)
            Lib().Sound().SetSoundPort(nPort);
        return nError;
    });
}

int KTN_VIEW_StopSound()
{
    if (!Lib().Enter("KTN_VIEW_StopSound", ""))
        return 0;
    Lib().Sound().StopSound();
    return 1;
}

int KTN_VIEW_PlaySoundShare(int nPort)
{
    return PortCall("KTN_VIEW_PlaySoundShare", nPort, "", [&](PavlinePort &port) {
        const int32_t nError = port.SoundAllowed();
        if (nError == KTN_ERR_NONE)
            Lib().Sound().SetShared(nPort, true);
        return nError;
    });
}

int KTN_VIEW_StopSoundShare(int nPort)
{
    return PortCall("KTN_VIEW_StopSoundShare", nPort, "", [&](PavlinePort &) {
        Lib().Sound().SetShared(nPort, false);
        return static_cast<int32_t>(KTN_ERR_NONE);
    });
}

int KTN_VIEW_StartAudioCapture(KTN_fAudioCaptureCallBack cbCapture, int nBitsPerSample, int nSampleRate,
                               int nBlockSize, void *pUser)
{
    if (!Lib().Enter("KTN_VIEW_StartAudioCapture",
                     Num(nBitsPerSample) + " " + Num(nSampleRate) + " " + Num(nBlockSize)))
        return 0;
    return PavlineLib::Result(Lib().Capture().Start(cbCapture, nBitsPerSample, nSampleRate, nBlockSize, pUser));
}

int KTN_VIEW_StopAudioCapture()
{
    if (!Lib().Enter("KTN_VIEW_StopAudioCapture", ""))
        return 0;
    return PavlineLib::Result(Lib().Capture().Stop());
}

// ----------------------------------------------------------------------------------------------------------
// Display and colour.

int KTN_VIEW_SetDisplayRegion(int nPort, int nRegion, const RECT *pRect, HWND hDestWnd, int bEnable)
{
    (void)hDestWnd;
    const std::string strRect = pRect ? Num(pRect->left) + "," + Num(pRect->top) + "," + Num(pRect->right) + "," +
                                            Num(pRect->bottom)
                                      : std::string("none");
    return PortCall("KTN_VIEW_SetDisplayRegion", nPort, Num(nRegion) + " " + strRect + " " + Num(bEnable),
                    [&](PavlinePort &port) {
                        return nRegion == 0 ? port.SetRegion(pRect, bEnable != 0) : static_cast<int32_t>(KTN_ERR_PARAM);
                    });
}

int KTN_VIEW_SetVideoMode(int nPort, int nKind, int nValue)
{
    return PortCall("KTN_VIEW_SetVideoMode", nPort, Num(nKind) + " " + Num(nValue),
                    [&](PavlinePort &port) { return port.SetVideoMode(nKind, nValue); });
}

int KTN_VIEW_SetActualSize(int nPort, int nRegion, const int *pOn)
{
    return PortCall("KTN_VIEW_SetActualSize", nPort, Num(nRegion) + " " + (pOn ? Num(*pOn) : std::string("(null)")),
                    [&](PavlinePort &port) {
                        if (nRegion != 0 || !pOn || (*pOn != 0 && *pOn != 1))
                            return static_cast<int32_t>(KTN_ERR_PARAM);
                        return port.SetActualSize(*pOn == 1);
                    });
}

int KTN_VIEW_GetPictureSize(int nPort, int *pWidth, int *pHeight)
{
    return PortCall("KTN_VIEW_GetPictureSize", nPort, "", [&](PavlinePort &port) {
        if (!pWidth || !pHeight)
            return static_cast<int32_t>(KTN_ERR_PARAM);
        return port.PictureSize(*pWidth, *pHeight);
    });
}

int KTN_VIEW_SetColor(int nPort, int nRegion, int nBrightness, int nContrast, int nSaturation, int nHue)
{
    return PortCall("KTN_VIEW_SetColor", nPort,
                    Num(nRegion) + " " + Num(nBrightness) + " " + Num(nContrast) + " " + Num(nSaturation) + " " +
                        Num(nHue),
                    [&](PavlinePort &port) {
                        if (nRegion != 0)
                            return static_cast<int32_t>(KTN_ERR_PARAM);
                        return port.SetColor(nBrightness, nContrast, nSaturation, nHue);
                    });
}

int KTN_VIEW_GetColor(int nPort, int nRegion, int *pBrightness, int *pContrast, int *pSaturation, int *pHue)
{
    return PortCall("KTN_VIEW_GetColor", nPort, Num(nRegion), [&](PavlinePort &port) {
        if (nRegion != 0 || !pBrightness || !pContrast || !pSaturation || !pHue)
            return static_cast<int32_t>(KTN_ERR_PARAM);
        return port.GetColor(*pBrightness, *pContrast, *pSaturation, *pHue);
    });
}

// ----------------------------------------------------------------------------------------------------------
// Buffers and capture.

int KTN_VIEW_GetSourceBufferRemain(int nPort)
{
    // Polled while a stream plays out, so not journaled (as the block input is not).
    if (!Lib().EnterQuiet("KTN_VIEW_GetSourceBufferRemain"))
        return 0;
    PavlinePort *pPort = Lib().Port(nPort);
    int nBytes = 0;
    if (pPort)
        PavlineLib::Result(pPort->SourceBytes(nBytes));
    return nBytes;
}

int KTN_VIEW_GetBufferValue(int nPort, int nKind)
{
    int nValue = -1;
    PortCall("KTN_VIEW_GetBufferValue", nPort, Num(nKind), [&](PavlinePort &port) {
        if (nKind != KTN_BUF_DECODED_PICTURES)
            return static_cast<int32_t>(KTN_ERR_PARAM);
        nValue = 0;
        return port.DecodedPictures(nValue);
    });
    return nValue;
}

int KTN_VIEW_CapturePicture(int nPort, unsigned char *pBuffer, uint32_t nBufferSize, int *pWidth, int *pHeight,
                            int nType)
{
    return PortCall("KTN_VIEW_CapturePicture", nPort, Num(nBufferSize) + " " + Num(nType), [&](PavlinePort &port) {
        int nWidth = 0, nHeight = 0;
        const int32_t nError = port.Capture(pBuffer, nBufferSize, nWidth, nHeight, nType);
        if (nError == KTN_ERR_NONE) {
            if (pWidth)
                *pWidth = nWidth;
            if (pHeight)
                *pHeight = nHeight;
        }
        return nError;
    });
}

// ----------------------------------------------------------------------------------------------------------
// Record and conversion.

int KTN_VIEW_StartDataRecord(int nPort, const char *pFileName, int nType)
{
    return PortCall("KTN_VIEW_StartDataRecord", nPort, Text(pFileName) + " " + Num(nType), [&](PavlinePort &port) {
        return pFileName ? port.StartRecord(pFileName, nType) : static_cast<int32_t>(KTN_ERR_PARAM);
    });
}

int KTN_VIEW_StopDataRecord(int nPort)
{
    return PortCall("KTN_VIEW_StopDataRecord", nPort, "", [&](PavlinePort &port) { return port.StopRecord(); });
}

int KTN_VIEW_ConvertFile(const char *pSource, const char *pTarget, int nType, KTN_fConvertProgressCallBack cbProgress,
                         void *pUser)
{
    if (!Lib().Enter("KTN_VIEW_ConvertFile", Text(pSource) + " " + Text(pTarget) + " " + Num(nType)))
        return 0;
    if (!pSource || !pTarget)
        return PavlineLib::Result(KTN_ERR_PARAM);
    return PavlineLib::Result(Lib().Convert(pSource, pTarget, nType, cbProgress, pUser));
}

// ----------------------------------------------------------------------------------------------------------
// Decode callback and errors.

int KTN_VIEW_SetDecCallBack(int nPort, KTN_fDecCallBack cbDecode, void *pUser)
{
    return PortCall("KTN_VIEW_SetDecCallBack", nPort, cbDecode ? "set" : "none",
                    [&](PavlinePort &port) { return port.SetDecCallBack(cbDecode, pUser); });
}

int KTN_VIEW_GetLastError() { return PavlineLib::LastError(); }
