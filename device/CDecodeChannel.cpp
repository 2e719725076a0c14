#include "device/CDecodeChannel.h"

#include "device/CRecordWorker.h"
#include "device/media/JpegWriter.h"
#include "runtime/CDataCenter.h"
#include "runtime/LightWeightLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr uint32_t kLiveBufferSize = 2048000;     // open mode 1
constexpr uint32_t kOtherBufferSize = 4096000;
constexpr int kPreviewPictureCache = 8;
// Snapshot buffers: a 54-byte BMP header and up to 36,000,000 bytes of pixels, or an I420 picture.
constexpr size_t kBmpBufferSize = 36000054;
constexpr size_t kI420BufferSize = 18000000;
constexpr uint32_t kBmpHeaderSize = 54;
// The stream header the library is opened with: the block format has none, one byte stands for it.
const unsigned char kStreamHeader[1] = {0};

// Seconds since 1970 of a device-local time, counted as the device counts its timestamps.
int64_t Seconds(const SYSTEMTIME &t)
{
    struct tm fields = {};
    fields.tm_year = t.wYear - 1900;
    fields.tm_mon = t.wMonth - 1;
    fields.tm_mday = t.wDay;
    fields.tm_hour = t.wHour;
    fields.tm_min = t.wMinute;
    fields.tm_sec = t.wSecond;
    return static_cast<int64_t>(timegm(&fields));
}

SYSTEMTIME ReadTime(const char *pText)
{
    int v[6] = {0, 0, 0, 0, 0, 0};
    if (pText)
        std::sscanf(pText, "%04d-%02d-%02d %02d:%02d:%02d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    SYSTEMTIME t{};
    t.wYear = static_cast<uint16_t>(v[0]);
    t.wMonth = static_cast<uint16_t>(v[1]);
    t.wDay = static_cast<uint16_t>(v[2]);
    t.wHour = static_cast<uint16_t>(v[3]);
    t.wMinute = static_cast<uint16_t>(v[4]);
    t.wSecond = static_cast<uint16_t>(v[5]);
    return t;
}

} // namespace

CDecodeChannel::CDecodeChannel(int nPort)
    : m_nPort(nPort)
    , m_nOemMode(g_nOemMode)
{
    LOGN(QString("port %1").arg(nPort), "CDecodeChannel::CDecodeChannel");
    if (m_nOemMode == 1 || m_nOemMode == 2)
        m_pRecordWorker = CRecordWorker::Create(nPort);
}

CDecodeChannel::~CDecodeChannel()
{
    // A recording still running is ended. The worker is given the close's budget to finish it; past that it
    // finishes on its own thread, with nothing of the channel.
    if (m_bRecording.load())
        StopRecord();
    if (m_pRecordWorker)
        m_pRecordWorker->Close(CRecordWorker::kCloseBudget);
    // The port keeps a registered filter past the channel; once this returns no picture may call into it. The
    // decode library waits for a callback under way before it lets the registration go.
    if (m_bDecCallBackSet)
        KTN_VIEW_SetDecCallBack(m_nPort, nullptr, nullptr);
}

void CDecodeChannel::SetPlayWnd(HWND hWnd) { m_hPlayWnd = hWnd; }

// ---------------------------------------------------------------------------------------------------------
// Stream and play.

int CDecodeChannel::Open(int nOpenMode)
{
    if (m_bStreamOpen)
        return 1;
    m_nOpenMode = nOpenMode;
    const uint32_t nSize = nOpenMode == 1 ? kLiveBufferSize : kOtherBufferSize;
    const int nRet = KTN_VIEW_OpenStream(m_nPort, kStreamHeader, 1, nSize);
    if (nRet)
        m_bStreamOpen = true;
    LOGN(QString("size=%1 res=%2").arg(nSize).arg(nRet), "CDecodeChannel::Open");
    return nRet;
}

int CDecodeChannel::Close()
{
    if (!m_bStreamOpen)
        return 1;
    const int nRet = KTN_VIEW_CloseStream(m_nPort);
    if (nRet) {
        m_bStreamOpen = false;
        m_bSoundOpen = false;
    }
    m_nOpenMode = -1;
    LOGN(QString("res=%1").arg(nRet), "CDecodeChannel::Close");
    return nRet;
}

int CDecodeChannel::StartPreview()
{
    if (m_nPlayState != PLAY_STATE_STOPPED)
        return 1;
    int nRet = KTN_VIEW_SetPictureCache(m_nPort, kPreviewPictureCache);
    if (nRet) {
        nRet = KTN_VIEW_Play(m_nPort, m_hPlayWnd.load());
        if (nRet)
            m_nPlayState = PLAY_STATE_NORMAL;
    }
    LOGN(QString("Port=%1 Res=%2").arg(m_nPort).arg(nRet), "CDecodeChannel::StartPreview");
    return nRet;
}

int CDecodeChannel::StartPlayback(bool bLocalFile)
{
    if (m_nPlayState != PLAY_STATE_STOPPED)
        return 1;
    if (!bLocalFile) {
        // Device playback arrives faster than it plays: every picture is kept and paced.
        KTN_VIEW_SetStreamOpenMode(m_nPort, STREAME_FILE);
        LOGN("KTN_VIEW_SetStreamOpenMode STREAME_FILE", "CDecodeChannel::StartPlayback");
    }
    const int nRet = KTN_VIEW_Play(m_nPort, m_hPlayWnd.load());
    if (nRet)
        m_nPlayState = PLAY_STATE_NORMAL;
    LOGN(QString("Port=%1 Res=%2").arg(m_nPort).arg(nRet), "CDecodeChannel::StartPlayback");
    return nRet;
}

int CDecodeChannel::StopPlay(const char *pTag)
{
    if (m_nPlayState == PLAY_STATE_STOPPED)
        return 0;
    SetDisplayRegion(nullptr, false);
    const int nRet = KTN_VIEW_Stop(m_nPort);
    if (nRet)
        m_nPlayState = PLAY_STATE_STOPPED;
    LOGN(QString("Port=%1 Res=%2").arg(m_nPort).arg(nRet), pTag);
    return nRet;
}

int CDecodeChannel::StopPreview() { return StopPlay("CDecodeChannel::StopPreview"); }

int CDecodeChannel::StopPlayback() { return StopPlay("CDecodeChannel::StopPlayback"); }

int CDecodeChannel::BeginLocalPlay(const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser)
{
    const char *pTag = "CDecodeChannel::BeginLocalPlay";
    int nRet = KTN_VIEW_OpenFile(m_nPort, pFilePath);
    LOGN(QString("KTN_VIEW_OpenFile Port =%1 Res=%2").arg(m_nPort).arg(nRet), pTag);
    if (!nRet)
        return 0;
    nRet = KTN_VIEW_SetFileEndCallBack(m_nPort, cbFileEnd, pUser);
    LOGN(QString("KTN_VIEW_SetFileEndCallBack Port =%1 Res=%2").arg(m_nPort).arg(nRet), pTag);
    return nRet;
}

int CDecodeChannel::StopLocalPlay()
{
    const int nRet = KTN_VIEW_CloseFile(m_nPort);
    LOGN(QString("KTN_VIEW_CloseFile Port =%1 Res=%2").arg(m_nPort).arg(nRet), "CDecodeChannel::StopLocalPlay");
    return nRet;
}

int CDecodeChannel::InputData(const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame)
{
    if (m_pRecordWorker)
        m_pRecordWorker->Tap(pData, nLength, pFrame);
    return KTN_VIEW_InputData(m_nPort, pData, nLength);
}

// ---------------------------------------------------------------------------------------------------------
// Speed, position and time.

int CDecodeChannel::SetPlayState(int nCode)
{
    const int s = m_nPlayState;
    const HWND hWnd = m_hPlayWnd.load();
    if (nCode == PLAY_STATE_STEP || nCode == PLAY_STATE_STEP_BACK) {
        const int nRet = nCode == PLAY_STATE_STEP ? KTN_VIEW_OneByOne(m_nPort) : KTN_VIEW_OneByOneBack(m_nPort);
        if (nRet)
            m_nPlayState = nCode;
        return m_nPlayState;
    }
    if (nCode == PLAY_STATE_NORMAL) {
        if (s >= PLAY_STATE_STEP || IsFastPlayState(s) || IsSlowPlayState(s)) {
            if (KTN_VIEW_Play(m_nPort, hWnd))
                m_nPlayState = PLAY_STATE_NORMAL;
        } else if (s == PLAY_STATE_PAUSE) {
            if (KTN_VIEW_Pause(m_nPort, 0))
                m_nPlayState = PLAY_STATE_NORMAL;
        }
        return m_nPlayState;
    }
    // Only the four fast codes step the speed up; 36-47 and codes above 49 are no play state.
    if (IsFastPlayState(nCode)) {
        if (s > PLAY_STATE_FAST_4 || !KTN_VIEW_Play(m_nPort, hWnd))
            return m_nPlayState;
        for (int i = 0; i < nCode - 31; ++i)
            if (!KTN_VIEW_Fast(m_nPort))
                return m_nPlayState;
        m_nPlayState = nCode;
        return m_nPlayState;
    }
    if (IsSlowPlayState(nCode)) {
        if (!KTN_VIEW_Play(m_nPort, hWnd))
            return m_nPlayState;
        for (int i = 0; i < nCode - 15; ++i)
            if (!KTN_VIEW_Slow(m_nPort))
                return m_nPlayState;
        m_nPlayState = nCode;
        return m_nPlayState;
    }
    if (nCode == PLAY_STATE_PAUSE) {
        // From another speed or a single step, back to normal speed first.
        if ((IsSlowPlayState(s) || IsFastPlayState(s) || s >= PLAY_STATE_STEP) && !KTN_VIEW_Play(m_nPort, hWnd))
            return m_nPlayState;
        if (KTN_VIEW_Pause(m_nPort, 1))
            m_nPlayState = PLAY_STATE_PAUSE;
        return m_nPlayState;
    }
    return m_nPlayState;
}

int CDecodeChannel::SetPlayTime(const char *pBeginTime, const char *pEndTime)
{
    m_stBeginTime = ReadTime(pBeginTime);
    m_stEndTime = ReadTime(pEndTime);
    return 1;
}

float CDecodeChannel::GetPlayPos(int nMode)
{
    if (m_nPlayState == PLAY_STATE_STOPPED)
        return 0.0f;
    const int64_t nCurrent = KTN_VIEW_GetCurPlayTime(m_nPort);
    const int64_t nBegin = Seconds(m_stBeginTime);
    if (nCurrent <= 0 || nCurrent < nBegin)
        return 0.0f;
    if (nMode == 2)
        return static_cast<float>(nCurrent % 86400);
    // An empty (or reversed) span has no position in it.
    const int64_t nSpan = Seconds(m_stEndTime) - nBegin;
    if (nSpan <= 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(nCurrent - nBegin) / static_cast<double>(nSpan));
}

int CDecodeChannel::GetSeekTime(int nPerMille)
{
    if (m_nPlayState == PLAY_STATE_STOPPED)
        return 0;
    const int64_t nCurrent = KTN_VIEW_GetCurPlayTime(m_nPort);
    const int64_t nBegin = Seconds(m_stBeginTime);
    if (nCurrent <= 0 || nCurrent < nBegin)
        return 0;
    const int64_t nSpan = Seconds(m_stEndTime) - nBegin;
    if (nSpan < 0)
        return 0;
    return static_cast<int>(nPerMille / 1000.0 * static_cast<double>(nSpan));
}

float CDecodeChannel::GetLocalPlayPos() { return KTN_VIEW_GetPlayPos(m_nPort, 0); }

int CDecodeChannel::SetPlayPos(double dPos)
{
    // The seek's own result: the page answers the seek with it.
    const int nRet = KTN_VIEW_SetPlayPos(m_nPort, dPos);
    KTN_VIEW_RefreshPlay(m_nPort);
    return nRet;
}

bool CDecodeChannel::RefreshPlay() { return KTN_VIEW_RefreshPlay(m_nPort) != 0; }

int CDecodeChannel::GetYuvVal() { return KTN_VIEW_GetBufferValue(m_nPort, KTN_BUF_DECODED_PICTURES); }

int CDecodeChannel::GetBufVal() { return KTN_VIEW_GetSourceBufferRemain(m_nPort); }

// ---------------------------------------------------------------------------------------------------------
// Picture, sound and display.

int CDecodeChannel::OpenSound()
{
    const int nRet = KTN_VIEW_PlaySound(m_nPort);
    if (nRet)
        m_bSoundOpen = true;
    return nRet;
}

int CDecodeChannel::CloseSound()
{
    const int nRet = KTN_VIEW_StopSound();
    if (nRet)
        m_bSoundOpen = false;
    return nRet;
}

int CDecodeChannel::GetColor(int &nBrightness, int &nContrast, int &nSaturation, int &nHue)
{
    LOGN(QString("m_nPort = %1").arg(m_nPort), "CDecodeChannel::GetColor");
    int b = 0, c = 0, s = 0, h = 0;
    const int nRet = KTN_VIEW_GetColor(m_nPort, 0, &b, &c, &s, &h);
    if (nRet) {
        m_nBrightness = b;
        m_nContrast = c;
        m_nSaturation = s;
        m_nHue = h;
    }
    nBrightness = m_nBrightness;
    nContrast = m_nContrast;
    nSaturation = m_nSaturation;
    nHue = m_nHue;
    return nRet;
}

int CDecodeChannel::SetColor(int nWhich, int nValue)
{
    switch (nWhich) {
    case 0: m_nBrightness = nValue; break;
    case 1: m_nContrast = nValue; break;
    case 2: m_nSaturation = nValue; break;
    case 3: m_nHue = nValue; break;
    case 4: m_nBrightness = m_nContrast = m_nSaturation = m_nHue = nValue; break;
    default: break;
    }
    return KTN_VIEW_SetColor(m_nPort, 0, m_nBrightness, m_nContrast, m_nSaturation, m_nHue);
}

int CDecodeChannel::SetDisplayRegion(const RECT *pRect, bool bEnable)
{
    if (m_nPlayState != PLAY_STATE_NORMAL)
        return 0;
    const int nRet = KTN_VIEW_SetDisplayRegion(m_nPort, 0, pRect, nullptr, bEnable ? 1 : 0);
    const char *pTag = "CDecodeChannel::SetDisplayRegion";
    if (pRect)
        LOGN(QString("KTN_VIEW_SetDisplayRegion Port=%1 left=%2 right=%3 top=%4  bottom=%5 Enable=%6 Ret=%7")
                 .arg(m_nPort)
                 .arg(pRect->left)
                 .arg(pRect->right)
                 .arg(pRect->top)
                 .arg(pRect->bottom)
                 .arg(bEnable ? 1 : 0)
                 .arg(nRet),
             pTag);
    else
        LOGN(QString("KTN_VIEW_SetDisplayRegion Port=%5 left=%1 top=%2 Enable=%3 Ret=%4")
                 .arg(0)
                 .arg(0)
                 .arg(bEnable ? 1 : 0)
                 .arg(nRet)
                 .arg(m_nPort),
             pTag);
    return nRet;
}

bool CDecodeChannel::SetDisplayRegionNoLog(int nLeft, int nTop, int nRight, int nBottom, bool bEnable)
{
    const RECT rect{nLeft, nTop, nRight, nBottom};
    return KTN_VIEW_SetDisplayRegion(m_nPort, 0, bEnable ? &rect : nullptr, nullptr, bEnable ? 1 : 0) != 0;
}

int CDecodeChannel::SetVideoMode(int nPort, int nValue)
{
    return KTN_VIEW_SetVideoMode(nPort, KTN_VIDEO_MODE_SCALING, nValue);
}

int CDecodeChannel::SetOriginalValue(int nValue) { return KTN_VIEW_SetActualSize(m_nPort, 0, &nValue); }

int CDecodeChannel::GetPictureSize(int &nWidth, int &nHeight)
{
    nWidth = 0;
    nHeight = 0;
    return KTN_VIEW_GetPictureSize(m_nPort, &nWidth, &nHeight);
}

int CDecodeChannel::SetDecCallBack(DecodeDrawCallBack cbDecode, void *pUser)
{
    m_cbDecode = cbDecode;
    m_pDecodeUser = pUser;
    m_bDecCallBackSet = true;
    return KTN_VIEW_SetDecCallBack(m_nPort, &CDecodeChannel::FilterDecCallBack, this);
}

void CDecodeChannel::FilterDecCallBack(int32_t nStatus, void *pData, void *pUser)
{
    CDecodeChannel *pChannel = static_cast<CDecodeChannel *>(pUser);
    if (!pChannel || !pData || nStatus != 0)
        return;
    const DecodeDrawCallBack cb = pChannel->m_cbDecode.load();
    if (cb)
        cb(nStatus, pData, pChannel->m_hPlayWnd.load(), pChannel->m_pDecodeUser.load());
}

// ---------------------------------------------------------------------------------------------------------
// Recording, snapshots and conversion.

int CDecodeChannel::StartRecord(const char *pPath, int nRecordType)
{
    LOGN(QString("StartRecord port:%1").arg(m_nPort), "CDecodeChannel::StartRecord");
    if (m_nPlayState == PLAY_STATE_STOPPED) {
        // Nothing plays. A recording left from before play stopped is ended rather than forgotten: with only its
        // flag cleared it would run on unstoppable and its file never be finished.
        if (m_bRecording.load())
            StopRecord();
        m_bRecording = false;
        return 0;
    }
    // A recording runs: it goes on until its stop.
    if (m_bRecording.load())
        return 0;
    const QString strPath = QString::fromLocal8Bit(pPath ? pPath : "");
    // The record folder may not exist yet: every missing level is made.
    if (!strPath.isEmpty())
        QDir().mkpath(QFileInfo(strPath).absolutePath());
    if (m_pRecordWorker && CRecordWorker::RouteOf(strPath) != CRecordWorker::RouteNone) {
        const int nRet = m_pRecordWorker->Start(strPath);
        if (nRet)
            m_eRecordRoute = RECORD_OWN;
        m_bRecording = nRet != 0;
        return nRet;
    }
    // Mode 0, and in modes 1 and 2 every name the channel's own recorder does not write (".h265x", ".avi").
    const int nRet = KTN_VIEW_StartDataRecord(m_nPort, pPath, nRecordType);
    if (nRet)
        m_eRecordRoute = RECORD_LIBRARY;
    m_bRecording = nRet != 0;
    return nRet;
}

int CDecodeChannel::StopRecord()
{
    if (m_eRecordRoute == RECORD_OWN) {
        // Stopped either way; a file that could not be finished whole is a failure of the stop.
        const int nRet = m_pRecordWorker->Stop();
        m_eRecordRoute = RECORD_NONE;
        m_bRecording = false;
        return nRet > 0 ? nRet : 0;
    }
    if (m_pRecordWorker && !m_bRecording.load())
        return 0;
    const int nRet = KTN_VIEW_StopDataRecord(m_nPort);
    // A recording whose file could not be kept whole has ended all the same.
    const int nError = nRet ? KTN_ERR_NONE : KTN_VIEW_GetLastError();
    if (nRet || nError == KTN_ERR_NO_PICTURE || nError == KTN_ERR_FILE) {
        m_eRecordRoute = RECORD_NONE;
        m_bRecording = false;
    }
    return nRet;
}

bool CDecodeChannel::CapturePicture(const char *pPath, int nType)
{
    if (!pPath || (nType != KTN_CAPTURE_BMP && nType != KTN_CAPTURE_I420))
        return false;
    const size_t nSize = nType == KTN_CAPTURE_BMP ? kBmpBufferSize : kI420BufferSize;
    // Zero-filled; calloc gives fresh pages for a buffer this large instead of clearing them.
    std::unique_ptr<uint8_t, void (*)(void *)> buffer(static_cast<uint8_t *>(std::calloc(nSize, 1)), std::free);
    if (!buffer)
        return false;
    int nWidth = 0, nHeight = 0;
    if (!KTN_VIEW_CapturePicture(m_nPort, buffer.get(), static_cast<uint32_t>(nSize), &nWidth, &nHeight, nType))
        return false;
    const QString strPath = QString::fromLocal8Bit(pPath);
    if (!QDir().mkpath(QFileInfo(strPath).absolutePath()))
        return false;
    if (nType == KTN_CAPTURE_I420)
        return WriteJpegFile(pPath, nWidth, nHeight, buffer.get(), nSize);

    // The BMP file as the library made it; its size is the header's, which must fit the buffer.
    const uint8_t *p = buffer.get();
    const uint32_t nFileSize = static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[3]) << 8 |
                               static_cast<uint32_t>(p[4]) << 16 | static_cast<uint32_t>(p[5]) << 24;
    if (nFileSize < kBmpHeaderSize || nFileSize > nSize)
        return false;
    std::FILE *pFile = std::fopen(pPath, "wb");
    if (!pFile)
        return false;
    bool bOk = std::fwrite(p, 1, nFileSize, pFile) == nFileSize;
    if (std::fclose(pFile) != 0)
        bOk = false;
    if (!bOk && QFileInfo(strPath).isFile())
        QFile::remove(strPath);
    return bOk;
}

bool CDecodeChannel::ChangeFileFormat(const QString &strSource, const QString &strTarget, int nType,
                                      KTN_fConvertProgressCallBack cbProgress, void *pUser)
{
    if (nType != KTN_CONVERT_AVI)
        return false;
    LOGN(QString("srcFileName:%1<--->dstFileName:%2").arg(strSource, strTarget), "CDecodeChannel::ChangeFileFormat");
    return KTN_VIEW_ConvertFile(strSource.toLocal8Bit().constData(), strTarget.toLocal8Bit().constData(),
                                KTN_CONVERT_AVI, cbProgress, pUser) > 0;
}
