#include "standin/pavline/PavlinePort.h"

#include "platform/stream_block.h"
#include "standin/pavline/AudioDecoder.h"
#include "standin/pavline/BlockFileReader.h"
#include "standin/pavline/MediaFileReader.h"
#include "standin/pavline/PavlineThreads.h"
#include "standin/pavline/PortRecorder.h"
#include "standin/pavline/SoundOutput.h"
#include "standin/pavline/VideoDecoder.h"
#include "standin/windows/GdiObjects.h"
#include "standin/windows/NativeSurface.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QImage>

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr size_t kMaxHistory = 8;           // pictures kept for stepping back
constexpr size_t kFileReadAhead = 32;       // units read from a file ahead of the decoder
constexpr int kMinBuffer = 1024;
constexpr int kMaxPictureCache = 50;
constexpr int kMaxSpeed = 4;
constexpr int64_t kBacklogMs = 1000;        // a live port lets its delay grow this far before it cuts
constexpr auto kLateLimit = std::chrono::milliseconds(1000);   // later than this: the timeline starts anew
constexpr auto kDropLate = std::chrono::milliseconds(100);     // this late with the next one due: dropped (live)
constexpr int64_t kJumpBackMs = 500;        // timestamps jumping this far back or ...
constexpr int64_t kJumpAheadMs = 5000;      // ... this far ahead start the timeline anew
constexpr size_t kMaxPreRoll = 8u * 1024u * 1024u;  // input kept for a recorder: one group of pictures
constexpr auto kLiveEarly = std::chrono::milliseconds(10);     // a live timeline moves up this much a picture
constexpr auto kIdleLook = std::chrono::milliseconds(200);     // an idle stream port looks at unheard sound

bool ValidRegion(const RECT &r)
{
    return r.left >= 0 && r.top >= 0 && r.right <= KTN_DISPLAY_REGION_SCALE && r.bottom <= KTN_DISPLAY_REGION_SCALE &&
           r.left < r.right && r.top < r.bottom;
}

bool ValidColour(int n) { return n >= 0 && n <= KTN_COLOR_MAX; }

} // namespace

PavlinePort::PavlinePort(int nPort, SoundOutput &sound)
    : m_nPort(nPort)
    , m_sound(sound)
{
}

PavlinePort::~PavlinePort() { Reset(); }

// ---------------------------------------------------------------------------------------------------------
// Opening and closing.

int32_t PavlinePort::Open(std::unique_lock<std::mutex> &control, Source eSource, uint32_t nBufferSize,
                          std::unique_ptr<MediaFileReader> pReader)
{
    Source eOpen = Source::None;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        eOpen = m_eSource;
    }
    if (eOpen != Source::None) {
        // A second open starts the port afresh.
        const int32_t nClose = Close(control, eOpen);
        if (nClose != KTN_ERR_NONE)
            return nClose;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eSource = eSource;
    m_nCapacity = nBufferSize;
    ClearQueues();
    m_bSourceEnded = m_bDecoderDrained = m_bEndReported = false;
    m_nStreamMode = STREAME_REALTIME;
    m_nPictureCache = 10;
    m_settings = RenderSettings();
    m_bHaveCurrent = false;
    m_nCurrentMs = 0;
    m_nWidth = m_nHeight = 0;
    m_pLastFrame.reset();
    m_stats = PortStats();
    m_nFirstMs = pReader ? pReader->FirstMs() : 0;
    m_nLastMs = pReader ? pReader->LastMs() : 0;
    {
        std::lock_guard<std::mutex> readerLock(m_readerMutex);
        m_pReader = std::move(pReader);
    }
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Close(std::unique_lock<std::mutex> &control, Source eSource)
{
    if (PavlineThreads::CurrentPort() == m_nPort)
        return KTN_ERR_WRONG_THREAD;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource != eSource || eSource == Source::None)
            return KTN_ERR_ORDER;
    }
    if (Playing()) {
        const int32_t nStop = StopLocked(control);
        if (nStop != KTN_ERR_NONE)
            return nStop;
    }
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        if (m_pRecorder) {
            m_pRecorder->Finish();
            m_pRecorder.reset();
        }
        m_preRoll.clear();
        m_bPreRoll = false;
    }
    m_sound.PortClosed(m_nPort);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eSource = Source::None;
        ClearQueues();
        m_pLastFrame.reset();
        m_bHaveCurrent = false;
        m_nWidth = m_nHeight = 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_readerMutex);
        m_pReader.reset();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
        m_cbFileEnd = nullptr;
        m_pFileEndUser = nullptr;
    }
    return KTN_ERR_NONE;
}

int32_t PavlinePort::OpenStream(uint32_t nBufferSize)
{
    if (nBufferSize < static_cast<uint32_t>(kMinBuffer) || nBufferSize > 0x7FFFFFFFu)
        return KTN_ERR_PARAM;
    std::unique_lock<std::mutex> control(m_controlMutex);
    return Open(control, Source::Stream, nBufferSize, nullptr);
}

int32_t PavlinePort::CloseStream()
{
    std::unique_lock<std::mutex> control(m_controlMutex);
    return Close(control, Source::Stream);
}

int32_t PavlinePort::OpenFile(const std::string &strPath)
{
    int32_t nError = KTN_ERR_NONE;
    std::unique_ptr<MediaFileReader> pReader = MediaFileReader::Open(strPath, nError);
    if (!pReader)
        return nError != KTN_ERR_NONE ? nError : KTN_ERR_FORMAT;
    std::unique_lock<std::mutex> control(m_controlMutex);
    return Open(control, Source::File, 0, std::move(pReader));
}

int32_t PavlinePort::CloseFile()
{
    std::unique_lock<std::mutex> control(m_controlMutex);
    return Close(control, Source::File);
}

int32_t PavlinePort::SetFileEndCallBack(KTN_fFileEndCallBack cb, void *pUser)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource != Source::File)
            return KTN_ERR_ORDER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
    m_cbFileEnd = cb;
    m_pFileEndUser = pUser;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetStreamMode(int nMode)
{
    if (nMode != STREAME_REALTIME && nMode != STREAME_FILE)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource != Source::Stream)
        return KTN_ERR_ORDER;
    m_nStreamMode = nMode;
    m_bAnchored = false;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Input(const uint8_t *pData, uint32_t nSize)
{
    if (!pData || nSize == 0)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> input(m_inputMutex);
    uint64_t nGeneration = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource != Source::Stream)
            return KTN_ERR_ORDER;
        ++m_stats.nInputCalls;
        if (m_nParserBytes + m_nPendingBytes + nSize > m_nCapacity) {
            ++m_stats.nInputRefused;
            return KTN_ERR_BUFFER_FULL;
        }
        nGeneration = m_nFlushGeneration;
    }
    if (nGeneration != m_nParserGeneration) {
        // A flush came since the last input: a block cut before it is not completed by this one.
        m_parser.Reset();
        m_nParserGeneration = nGeneration;
    }
    // The bytes' one copy, outside the port's lock: each whole block's payload into its unit.
    m_parsed.clear();
    m_parser.Feed(pData, nSize, [&](const StreamBlock::View &view) {
        m_parsed.emplace_back();
        BlockFileReader::ToUnit(view, m_parsed.back());
    });
    const bool bVideo = std::any_of(m_parsed.begin(), m_parsed.end(), [](const MediaUnit &u) { return u.IsVideo(); });
    const bool bHeard = !bVideo && !m_parsed.empty() && m_sound.IsAudible(m_nPort);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource != Source::Stream)
            return KTN_ERR_ORDER;
        if (nGeneration == m_nFlushGeneration) {
            m_nParserBytes = m_parser.PendingBytes();
            for (MediaUnit &unit : m_parsed) {
                m_nPendingBytes += unit.nSourceBytes;
                m_pending.push_back(std::move(unit));
            }
            // Sound nobody hears waits for the next picture (or the idle thread's own look).
            if (m_bIdle && (bVideo || bHeard))
                Wake();
        }
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    KeepPreRoll(pData, nSize);
    if (m_pRecorder)
        m_pRecorder->WriteBytes(pData, nSize);
    return KTN_ERR_NONE;
}

void PavlinePort::KeepPreRoll(const uint8_t *pData, uint32_t nSize)
{
    // A recording begins with what is on screen: the input since the last key frame that began an input.
    if (nSize >= 4 && pData[0] == 0 && pData[1] == 0 && pData[2] == 1 && pData[3] == StreamBlock::kTypeKeyFrame) {
        m_preRoll.clear();
        m_bPreRoll = true;
    }
    if (!m_bPreRoll)
        return;
    if (m_preRoll.size() + nSize > kMaxPreRoll) {
        m_preRoll.clear();
        m_bPreRoll = false;
        return;
    }
    m_preRoll.insert(m_preRoll.end(), pData, pData + nSize);
}

// ---------------------------------------------------------------------------------------------------------
// Play control.

bool PavlinePort::Playing() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bPlaying;
}

int32_t PavlinePort::Play(HWND hWnd)
{
    std::shared_ptr<NativeSurface> pSurface;
    if (hWnd) {
        pSurface = NativeSurface::Find(hWnd);
        if (!pSurface)
            return KTN_ERR_WINDOW;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    std::shared_ptr<NativeSurface> pOld;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource == Source::None || m_bStop)
            return KTN_ERR_ORDER;
        // Playing already: back to normal speed, out of a pause or single steps, into this window.
        m_nSpeed = 0;
        m_bPaused = false;
        m_bStepping = false;
        m_nStepForward = m_nStepBack = 0;
        m_bShowOne = false;
        m_bAnchored = false;
        if (m_pSurface != pSurface) {
            pOld = m_pSurface;
            m_pSurface = pSurface;
            m_bRedraw = true;
        }
        m_hWnd = hWnd;
        if (m_bPlaying) {
            Wake();
        } else {
            m_bPlaying = true;
            m_thread = std::thread([this] { Run(); });
        }
    }
    if (pOld)
        pOld->Clear();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StopLocked(std::unique_lock<std::mutex> &control)
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bPlaying || m_bStop)
            return KTN_ERR_ORDER;
        m_bStop = true;
        thread = std::move(m_thread);
        Wake();
    }
    control.unlock();
    if (thread.joinable())
        thread.join();
    control.lock();
    std::shared_ptr<NativeSurface> pSurface;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = false;
        m_bPlaying = false;
        m_bPaused = m_bStepping = m_bShowOne = m_bRedraw = false;
        m_nSpeed = 0;
        // What was received and not shown is dropped; a file starts again from its beginning.
        ClearQueues();
        m_pLastFrame.reset();
        m_bHaveCurrent = false;
        m_nCurrentMs = 0;
        m_nWidth = m_nHeight = 0;
        m_bSourceEnded = m_bDecoderDrained = m_bEndReported = false;
        pSurface = std::move(m_pSurface);
        m_hWnd = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_readerMutex);
        if (m_pReader)
            m_pReader->SeekToFraction(0.0);
    }
    if (pSurface)
        pSurface->Clear();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Stop()
{
    if (PavlineThreads::CurrentPort() == m_nPort)
        return KTN_ERR_WRONG_THREAD;
    std::unique_lock<std::mutex> control(m_controlMutex);
    return StopLocked(control);
}

int32_t PavlinePort::Pause(int nPause)
{
    if (nPause != 0 && nPause != 1)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlaying)
        return KTN_ERR_ORDER;
    if (nPause) {
        m_bPaused = true;
    } else {
        m_bPaused = false;
        m_bStepping = false;
        m_nStepForward = 0;
    }
    m_bAnchored = false;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Fast()
{
    return ChangeSpeed(+1);
}

int32_t PavlinePort::Slow()
{
    return ChangeSpeed(-1);
}

int32_t PavlinePort::ChangeSpeed(int nStep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlaying)
        return KTN_ERR_ORDER;
    if (m_nSpeed + nStep > kMaxSpeed || m_nSpeed + nStep < -kMaxSpeed)
        return KTN_ERR_PARAM;
    m_nSpeed += nStep;
    m_bAnchored = false;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StepForward()
{
    return Step(m_nStepForward);
}

int32_t PavlinePort::StepBack()
{
    return Step(m_nStepBack);
}

int32_t PavlinePort::Step(int &nSteps)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlaying)
        return KTN_ERR_ORDER;
    m_bStepping = true;
    m_bPaused = false;
    ++nSteps;
    m_bAnchored = false;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetPlayPos(double dPos)
{
    if (!(dPos >= 0.0 && dPos <= 1.0))
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> control(m_controlMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource != Source::File)
            return KTN_ERR_ORDER;
    }
    // The reader is not used by the thread while this lock is held; what it read before is dropped below.
    std::lock_guard<std::mutex> readerLock(m_readerMutex);
    if (!m_pReader || !m_pReader->SeekToFraction(dPos))
        return KTN_ERR_FILE;
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearQueues();
    m_bSourceEnded = m_bDecoderDrained = m_bEndReported = false;
    m_bHaveCurrent = false;
    if (m_bPaused || m_bStepping)
        m_bShowOne = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Refresh()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource == Source::None)
        return KTN_ERR_ORDER;
    // A file's data is read, not received: there is nothing to drop, and a seek just made is kept.
    if (m_eSource == Source::Stream)
        ClearQueues();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::PlayPos(float &fPos) const
{
    fPos = 0.0f;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource != Source::File)
        return KTN_ERR_ORDER;
    if (m_bEndReported) {
        fPos = 1.0f;
    } else if (m_bHaveCurrent && m_nLastMs > m_nFirstMs) {
        const double d = static_cast<double>(m_nCurrentMs - m_nFirstMs) / static_cast<double>(m_nLastMs - m_nFirstMs);
        fPos = static_cast<float>(std::min(1.0, std::max(0.0, d)));
    }
    return KTN_ERR_NONE;
}

int64_t PavlinePort::CurPlayTime() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bHaveCurrent)
        return 0;
    return m_nCurrentMs >= 0 ? m_nCurrentMs / 1000 : 0;
}

int32_t PavlinePort::SetPictureCache(int nPictures)
{
    if (nPictures < 1 || nPictures > kMaxPictureCache)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource == Source::None)
        return KTN_ERR_ORDER;
    m_nPictureCache = nPictures;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SoundAllowed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------------------
// Display, colour, buffers, capture.

int32_t PavlinePort::SetRegion(const RECT *pRect, bool bEnable)
{
    if (pRect && bEnable && !ValidRegion(*pRect))
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource == Source::None)
        return KTN_ERR_ORDER;
    m_settings.bRegion = pRect && bEnable;
    m_settings.region = m_settings.bRegion ? *pRect : RECT{0, 0, KTN_DISPLAY_REGION_SCALE, KTN_DISPLAY_REGION_SCALE};
    m_bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetVideoMode(int nKind, int nValue)
{
    if (nKind != KTN_VIDEO_MODE_SCALING || nValue < KTN_SCALING_FAST || nValue > KTN_SCALING_BICUBIC)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource == Source::None)
        return KTN_ERR_ORDER;
    m_settings.nScaling = nValue;
    m_bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetActualSize(bool bOn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_eSource == Source::None)
        return KTN_ERR_ORDER;
    m_settings.bActualSize = bOn;
    m_bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::PictureSize(int &nWidth, int &nHeight) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nWidth <= 0 || m_nHeight <= 0)
        return KTN_ERR_NO_PICTURE;
    nWidth = m_nWidth;
    nHeight = m_nHeight;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetColor(int nBrightness, int nContrast, int nSaturation, int nHue)
{
    if (!ValidColour(nBrightness) || !ValidColour(nContrast) || !ValidColour(nSaturation) || !ValidColour(nHue))
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.nBrightness = nBrightness;
    m_settings.nContrast = nContrast;
    m_settings.nSaturation = nSaturation;
    m_settings.nHue = nHue;
    m_bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::GetColor(int &nBrightness, int &nContrast, int &nSaturation, int &nHue) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    nBrightness = m_settings.nBrightness;
    nContrast = m_settings.nContrast;
    nSaturation = m_settings.nSaturation;
    nHue = m_settings.nHue;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SourceBytes(int &nBytes) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    nBytes = static_cast<int>(m_nParserBytes + m_nPendingBytes);
    return m_eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

int32_t PavlinePort::DecodedPictures(int &nPictures) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    nPictures = m_nPresentPictures;
    return m_eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

int32_t PavlinePort::Capture(uint8_t *pBuffer, uint32_t nBufferSize, int &nWidth, int &nHeight, int nType)
{
    if (!pBuffer || (nType != KTN_CAPTURE_BMP && nType != KTN_CAPTURE_I420))
        return KTN_ERR_PARAM;
    AvFramePtr pFrame;
    RenderSettings settings;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pLastFrame)
            return KTN_ERR_NO_PICTURE;
        pFrame = RefAvFrame(m_pLastFrame.get());
        settings = m_settings;
    }
    if (!pFrame)
        return KTN_ERR_FAILED;
    // A renderer of its own: the port's thread keeps using the port's.
    PictureRenderer renderer;
    int32_t nError = KTN_ERR_NONE;
    if (!renderer.Capture(pFrame.get(), settings, nType, pBuffer, nBufferSize, nWidth, nHeight, nError))
        return nError;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StartRecord(const std::string &strPath, int nType)
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eSource == Source::None)
            return KTN_ERR_ORDER;
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (m_pRecorder)
        return KTN_ERR_BUSY;
    int32_t nError = KTN_ERR_NONE;
    m_pRecorder = PortRecorder::Create(strPath, nType, nError);
    if (m_pRecorder && !m_preRoll.empty())
        m_pRecorder->WriteBytes(m_preRoll.data(), m_preRoll.size());
    return m_pRecorder ? KTN_ERR_NONE : nError;
}

int32_t PavlinePort::StopRecord()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    std::unique_ptr<PortRecorder> pRecorder;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        pRecorder = std::move(m_pRecorder);
    }
    if (!pRecorder)
        return KTN_ERR_ORDER;
    // The recording has ended either way: a failure here would leave the caller believing it still runs, with
    // no stop that could ever succeed.
    pRecorder->Finish();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetDecCallBack(KTN_fDecCallBack cb, void *pUser)
{
    std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
    m_cbDecode = cb;
    m_pDecodeUser = pUser;
    return KTN_ERR_NONE;
}

PortStats PavlinePort::Stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PortStats stats = m_stats;
    stats.bOpen = m_eSource != Source::None;
    stats.bFile = m_eSource == Source::File;
    stats.bPlaying = m_bPlaying;
    stats.bPaused = m_bPaused;
    stats.bStepping = m_bStepping;
    stats.nSpeed = m_nSpeed;
    stats.nStreamMode = m_nStreamMode;
    stats.nPictureCache = m_nPictureCache;
    stats.settings = m_settings;
    return stats;
}

void PavlinePort::Reset()
{
    {
        std::unique_lock<std::mutex> control(m_controlMutex);
        Source eSource = Source::None;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            eSource = m_eSource;
        }
        if (eSource != Source::None)
            Close(control, eSource);
    }
    std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
    m_cbDecode = nullptr;
    m_pDecodeUser = nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// The thread.

void PavlinePort::Wake()
{
    m_bWake = true;
    m_cv.notify_all();
}

void PavlinePort::ClearQueues()
{
    m_nParserBytes = 0;
    m_pending.clear();
    m_nPendingBytes = 0;
    m_present.clear();
    m_nPresentPictures = 0;
    m_history.clear();
    m_nStepForward = m_nStepBack = 0;
    ++m_nFlushGeneration;
    m_bAnchored = false;
    Wake();
}

void PavlinePort::Anchor(int64_t nTimeMs, Clock::time_point now)
{
    m_bAnchored = true;
    m_anchorWall = now;
    m_nAnchorMs = nTimeMs;
}

PavlinePort::Clock::time_point PavlinePort::Due(int64_t nTimeMs, Clock::time_point now)
{
    if (!m_bAnchored)
        Anchor(nTimeMs, now);
    const double dFactor = std::ldexp(1.0, m_nSpeed);
    const double dMicros = static_cast<double>(nTimeMs - m_nAnchorMs) * 1000.0 / dFactor;
    return m_anchorWall + std::chrono::microseconds(static_cast<int64_t>(dMicros));
}

size_t PavlinePort::NextPicture() const
{
    for (size_t i = 1; i < m_present.size(); ++i)
        if (m_present[i].pFrame)
            return i;
    return 0;
}

bool PavlinePort::CutBacklog()
{
    // The delay of a live port: from the picture due next to the newest video received.
    int64_t nNewest = 0, nOldest = 0;
    bool bNewest = false, bOldest = false;
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
        if (it->IsVideo()) {
            nNewest = it->nTimeMs;
            bNewest = true;
            break;
        }
    for (const Item &item : m_present)
        if (item.pFrame) {
            nOldest = item.nTimeMs;
            bOldest = true;
            break;
        }
    if (!bOldest)
        for (const MediaUnit &unit : m_pending)
            if (unit.IsVideo()) {
                nOldest = unit.nTimeMs;
                bOldest = true;
                break;
            }
    if (!bNewest || !bOldest || nNewest - nOldest <= kBacklogMs)
        return false;
    size_t nKey = m_pending.size();
    for (size_t i = m_pending.size(); i-- > 0;)
        if (m_pending[i].IsVideo() && m_pending[i].bKeyFrame) {
            nKey = i;
            break;
        }
    if (nKey == m_pending.size() || (nKey == 0 && m_nPresentPictures == 0))
        return false;
    // Everything before the newest key frame goes; the port goes on from there.
    m_stats.nPicturesDropped += m_nPresentPictures;
    for (size_t i = 0; i < nKey; ++i) {
        if (m_pending[i].IsVideo())
            ++m_stats.nUnitsSkipped;
        m_nPendingBytes -= m_pending[i].nSourceBytes;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(nKey));
    m_present.clear();
    m_nPresentPictures = 0;
    m_bAnchored = false;
    return true;
}

// What the port's thread keeps for itself while it runs.
struct PavlinePort::Worker
{
    VideoDecoder decoder;
    AudioDecoder audio;
    PictureRenderer renderer;
    QImage canvas;
    std::vector<int16_t> pcm;
    std::vector<AvFramePtr> frames;     // what one unit decoded to
    uint64_t nGeneration = 0;
    bool bFirst = true;
    bool bNeedKey = true;
};

bool PavlinePort::Show(const AVFrame *pFrame, const RenderSettings &settings,
                       const std::shared_ptr<NativeSurface> &pSurface, Worker &w)
{
    if (pSurface) {
        const QSize size = pSurface->Size();
        if (w.canvas.size() != size || !PictureRenderer::FitsTarget(w.canvas))
            w.canvas = PictureRenderer::NewTarget(size);
        w.renderer.Draw(pFrame, settings, w.canvas);
    }
    bool bCalled = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
        if (m_cbDecode) {
            // The overlay is drawn into this picture before it is shown.
            HDC hDC = pSurface ? GdiObjects::CreateImageDC(&w.canvas) : nullptr;
            m_cbDecode(0, hDC, m_pDecodeUser);
            if (hDC)
                GdiObjects::DeleteImageDC(hDC);
            bCalled = true;
        }
    }
    // Handed over, not copied: the canvas comes back as an image the window no longer shows.
    if (pSurface)
        pSurface->Present(w.canvas);
    return bCalled;
}

void PavlinePort::Shown(AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory, bool bCalledBack)
{
    if (bCalledBack)
        ++m_stats.nDecodeCallbacks;
    ++m_stats.nPicturesShown;
    m_stats.nLastShownMs = nTimeMs;
    m_bHaveCurrent = true;
    m_nCurrentMs = nTimeMs;
    if (bIntoHistory && KeepsHistory()) {
        Item item;
        item.pFrame = RefAvFrame(pFrame.get());
        item.nTimeMs = nTimeMs;
        m_history.push_back(std::move(item));
        while (m_history.size() > kMaxHistory)
            m_history.pop_front();
    }
    m_pLastFrame = std::move(pFrame);
}

void PavlinePort::Run()
{
    PavlineThreads::Scope scope(m_nPort);
    pthread_setname_np(pthread_self(), ("pavline " + std::to_string(m_nPort)).c_str());
    Worker w;
    std::unique_lock<std::mutex> lk(m_mutex);
    while (!m_bStop) {
        Restart(w);
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = Clock::time_point::max();
        if ((RealTime() && !m_bPaused && !m_bStepping && CutBacklog()) || StepBack(lk, w) ||
            TakeFront(lk, w, now, wake) || DecodeAhead(lk, w) || ReadFile(lk) || FinishFile(lk, w) || Redraw(lk, w))
            continue;
        Sleep(lk, wake);
    }
}

void PavlinePort::Restart(Worker &w)
{
    if (!w.bFirst && w.nGeneration == m_nFlushGeneration)
        return;
    w.bFirst = false;
    w.nGeneration = m_nFlushGeneration;
    w.decoder.Flush();
    w.bNeedKey = true;
}

void PavlinePort::ShowItem(std::unique_lock<std::mutex> &lk, Worker &w, AvFramePtr pFrame, int64_t nTimeMs,
                           bool bIntoHistory)
{
    const RenderSettings settings = m_settings;
    const std::shared_ptr<NativeSurface> pSurface = m_pSurface;
    lk.unlock();
    const bool bCalled = Show(pFrame.get(), settings, pSurface, w);
    lk.lock();
    if (w.nGeneration == m_nFlushGeneration)
        Shown(std::move(pFrame), nTimeMs, bIntoHistory, bCalled);
}

bool PavlinePort::StepBack(std::unique_lock<std::mutex> &lk, Worker &w)
{
    // A step back shows the picture before the one shown; the one shown waits at the front again.
    if (m_nStepBack <= 0)
        return false;
    --m_nStepBack;
    if (m_history.size() >= 2) {
        Item current = std::move(m_history.back());
        m_history.pop_back();
        AvFramePtr pPrevious = RefAvFrame(m_history.back().pFrame.get());
        const int64_t nPreviousMs = m_history.back().nTimeMs;
        m_present.push_front(std::move(current));
        ++m_nPresentPictures;
        m_bRedraw = false;
        ShowItem(lk, w, std::move(pPrevious), nPreviousMs, false);
    }
    return true;
}

bool PavlinePort::PlayFrontSound(std::unique_lock<std::mutex> &lk, Worker &w)
{
    // Sound goes out when it reaches the front; a still port holds it, other speeds drop it.
    if (m_bPaused && !m_bShowOne)
        return false;
    MediaUnit audio = std::move(m_present.front().audio);
    m_present.pop_front();
    const bool bHeard = m_nSpeed == 0 && !m_bStepping && !m_bPaused;
    lk.unlock();
    if (bHeard && m_sound.IsAudible(m_nPort) && w.audio.Decode(audio, w.pcm) && !w.pcm.empty())
        m_sound.Play(m_nPort, w.pcm.data(), w.pcm.size(), audio.nSampleRate);
    lk.lock();
    ++m_stats.nAudioUnits;
    return true;
}

bool PavlinePort::TakeFront(std::unique_lock<std::mutex> &lk, Worker &w, Clock::time_point now,
                            Clock::time_point &wake)
{
    if (m_present.empty())
        return false;
    Item &front = m_present.front();
    if (!front.pFrame)
        return PlayFrontSound(lk, w);
    bool bShow = false;
    if (m_bShowOne) {
        m_bShowOne = false;
        bShow = true;
    } else if (m_bStepping) {
        if (m_nStepForward > 0) {
            --m_nStepForward;
            bShow = true;
        }
    } else if (!m_bPaused) {
        const int64_t nMs = front.nTimeMs;
        if (m_bAnchored && m_bHaveCurrent && (nMs < m_nCurrentMs - kJumpBackMs || nMs > m_nCurrentMs + kJumpAheadMs))
            m_bAnchored = false;    // the timestamps jumped: a new timeline
        Clock::time_point due = Due(nMs, now);
        if (now - due > kLateLimit) {
            Anchor(nMs, now);
            due = now;
        } else if (RealTime() && m_nSpeed == 0 && due > now) {
            // A live picture ahead of its timeline (the timeline began with a picture that came late, or a burst
            // arrived): the timeline moves towards it by up to kLiveEarly a picture, so the delay shrinks and
            // pictures that arrive in time are shown without another wait.
            const Clock::duration shift = std::min<Clock::duration>(due - now, kLiveEarly);
            m_anchorWall -= shift;
            due -= shift;
        }
        if (due > now) {
            wake = due;
            return false;
        }
        // A live port drops a picture that came too late to matter; a file or playback shows every one.
        const size_t nNext = RealTime() ? NextPicture() : 0;
        if (nNext > 0 && now - due > kDropLate && Due(m_present[nNext].nTimeMs, now) <= now) {
            m_present.pop_front();
            --m_nPresentPictures;
            ++m_stats.nPicturesDropped;
            return true;
        }
        bShow = true;
    }
    if (!bShow)
        return false;
    Item item = std::move(front);
    m_present.pop_front();
    --m_nPresentPictures;
    m_bRedraw = false;
    ShowItem(lk, w, std::move(item.pFrame), item.nTimeMs, true);
    return true;
}

void PavlinePort::Queue(std::vector<AvFramePtr> &frames)
{
    for (AvFramePtr &pFrame : frames) {
        ++m_stats.nPicturesDecoded;
        m_nWidth = pFrame->width;
        m_nHeight = pFrame->height;
        Item item;
        item.nTimeMs = pFrame->pts;
        item.pFrame = std::move(pFrame);
        m_present.push_back(std::move(item));
        ++m_nPresentPictures;
    }
}

bool PavlinePort::DecodeAhead(std::unique_lock<std::mutex> &lk, Worker &w)
{
    if (m_pending.empty() || m_nPresentPictures >= m_nPictureCache)
        return false;
    MediaUnit unit = std::move(m_pending.front());
    m_pending.pop_front();
    m_nPendingBytes -= unit.nSourceBytes;
    if (unit.IsAudio()) {
        Item item;
        item.audio = std::move(unit);
        m_present.push_back(std::move(item));
        return true;
    }
    if (w.bNeedKey && !unit.bKeyFrame) {
        ++m_stats.nUnitsSkipped;
        return true;
    }
    w.bNeedKey = false;
    lk.unlock();
    const bool bSent = w.decoder.Send(unit);
    w.frames.clear();
    while (AvFramePtr pFrame = w.decoder.Receive())
        w.frames.push_back(std::move(pFrame));
    lk.lock();
    if (!bSent)
        ++m_stats.nDecodeErrors;
    if (w.nGeneration == m_nFlushGeneration)
        Queue(w.frames);
    return true;
}

bool PavlinePort::ReadFile(std::unique_lock<std::mutex> &lk)
{
    // A file is read ahead of the decoder; what is read goes to the recorder too.
    if (m_eSource != Source::File || m_bSourceEnded || m_pending.size() >= kFileReadAhead)
        return false;
    lk.unlock();
    MediaUnit unit;
    MediaFileReader::Result eResult = MediaFileReader::Result::End;
    uint64_t nReadGeneration = 0;
    {
        std::lock_guard<std::mutex> readerLock(m_readerMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            nReadGeneration = m_nFlushGeneration;
        }
        if (m_pReader)
            eResult = m_pReader->Next(unit);
    }
    if (eResult == MediaFileReader::Result::Unit) {
        std::lock_guard<std::mutex> recordLock(m_recordMutex);
        if (m_pRecorder)
            m_pRecorder->WriteUnit(unit);
    }
    lk.lock();
    if (nReadGeneration == m_nFlushGeneration) {
        if (eResult == MediaFileReader::Result::Unit) {
            m_nPendingBytes += unit.nSourceBytes;
            m_pending.push_back(std::move(unit));
        } else {
            m_bSourceEnded = true;
        }
    }
    return true;
}

bool PavlinePort::FinishFile(std::unique_lock<std::mutex> &lk, Worker &w)
{
    // The end of a file: the pictures the decoder still holds, then the file-end callback once.
    if (m_eSource != Source::File || !m_bSourceEnded || !m_pending.empty())
        return false;
    if (!m_bDecoderDrained) {
        lk.unlock();
        w.decoder.SendEnd();
        w.frames.clear();
        while (AvFramePtr pFrame = w.decoder.Receive())
            w.frames.push_back(std::move(pFrame));
        lk.lock();
        if (w.nGeneration == m_nFlushGeneration) {
            m_bDecoderDrained = true;
            Queue(w.frames);
        }
        return true;
    }
    if (!m_present.empty() || m_bEndReported)
        return false;
    m_bEndReported = true;
    ++m_stats.nFileEndCallbacks;
    lk.unlock();
    {
        std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
        if (m_cbFileEnd)
            m_cbFileEnd(m_nPort, m_pFileEndUser);
    }
    lk.lock();
    return true;
}

bool PavlinePort::Redraw(std::unique_lock<std::mutex> &lk, Worker &w)
{
    // New settings on a port that shows nothing new: the last picture again.
    if (!m_bRedraw)
        return false;
    m_bRedraw = false;
    if (m_pLastFrame) {
        AvFramePtr pFrame = RefAvFrame(m_pLastFrame.get());
        const RenderSettings settings = m_settings;
        const std::shared_ptr<NativeSurface> pSurface = m_pSurface;
        lk.unlock();
        const bool bCalled = Show(pFrame.get(), settings, pSurface, w);
        lk.lock();
        if (bCalled)
            ++m_stats.nDecodeCallbacks;
    }
    return true;
}

void PavlinePort::Sleep(std::unique_lock<std::mutex> &lk, Clock::time_point wake)
{
    const auto woken = [this] { return m_bStop || m_bWake; };
    if (wake != Clock::time_point::max()) {
        m_cv.wait_until(lk, wake, woken);
    } else {
        // Waiting for input: arriving pictures and heard sound wake the thread; sound nobody hears is looked
        // at now and then.
        m_bIdle = true;
        if (m_eSource == Source::Stream)
            m_cv.wait_for(lk, kIdleLook, woken);
        else
            m_cv.wait(lk, woken);
        m_bIdle = false;
    }
    m_bWake = false;
    ++m_stats.nWakes;
}
