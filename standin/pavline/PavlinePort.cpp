#include "standin/pavline/PavlinePort.h"

#include "platform/stream_block.h"
#include "standin/pavline/BlockFileReader.h"
#include "standin/pavline/DecodePool.h"
#include "standin/pavline/MediaFileReader.h"
#include "standin/pavline/PavlineThreads.h"
#include "standin/pavline/PortPlayer.h"
#include "standin/pavline/PortRecorder.h"
#include "standin/pavline/SoundOutput.h"
#include "standin/windows/NativeSurface.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace {

constexpr int kMinBuffer = 1024;
constexpr int kMaxPictureCache = 50;
constexpr int kMaxSpeed = 4;
// A seek decodes from the key frame before its target; a port still on its way after this long has failed.
constexpr auto kLandingWait = std::chrono::seconds(10);

bool ValidRegion(const RECT &r)
{
    return r.left >= 0 && r.top >= 0 && r.right <= KTN_DISPLAY_REGION_SCALE && r.bottom <= KTN_DISPLAY_REGION_SCALE &&
           r.left < r.right && r.top < r.bottom;
}

bool ValidColour(int n) { return n >= 0 && n <= KTN_COLOR_MAX; }

} // namespace

PavlinePort::PavlinePort(int nPort, SoundOutput &sound, DecodePool &pool)
    : m_nPort(nPort)
    , m_sound(sound)
    , m_pool(pool)
{
}

PavlinePort::~PavlinePort() { Reset(); }

void PavlinePort::Wake()
{
    if (m_pPlayer)
        m_pool.Ready(*m_pPlayer);
}

bool PavlinePort::ShownTime(int64_t &nShownMs) const
{
    nShownMs = m_state.nCurrentMs;
    return m_state.bHaveCurrent;
}

// ---------------------------------------------------------------------------------------------------------
// Opening and closing.

int32_t PavlinePort::Open(std::unique_lock<std::mutex> &control, Source eSource, uint32_t nBufferSize,
                          std::unique_ptr<MediaFileReader> pReader)
{
    Source eOpen = Source::None;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        eOpen = m_state.eSource;
    }
    if (eOpen != Source::None) {
        // A second open starts the port afresh.
        const int32_t nClose = Close(control, eOpen);
        if (nClose != KTN_ERR_NONE)
            return nClose;
    }
    std::lock_guard<std::mutex> lock(m_state.mutex);
    PortState &s = m_state;
    s.eSource = eSource;
    s.nCapacity = nBufferSize;
    s.ClearQueues();
    s.bSourceEnded = s.bDecoderDrained = s.bEndReported = false;
    s.nStreamMode = STREAME_REALTIME;
    s.nPictureCache = 10;
    s.settings = RenderSettings();
    s.bHaveCurrent = false;
    s.nCurrentMs = 0;
    s.nWidth = s.nHeight = 0;
    s.pLastFrame.reset();
    s.stats = PortStats();
    s.nFirstMs = pReader ? pReader->FirstMs() : 0;
    s.nLastMs = pReader ? pReader->LastMs() : 0;
    {
        std::lock_guard<std::mutex> readerLock(s.readerMutex);
        s.pReader = std::move(pReader);
    }
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Close(std::unique_lock<std::mutex> &control, Source eSource)
{
    if (PavlineThreads::CurrentPort() == m_nPort)
        return KTN_ERR_WRONG_THREAD;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (m_state.eSource != eSource || eSource == Source::None)
            return KTN_ERR_ORDER;
    }
    if (Playing()) {
        const int32_t nStop = StopLocked(control);
        if (nStop != KTN_ERR_NONE)
            return nStop;
    }
    {
        std::lock_guard<std::mutex> lock(m_state.recordMutex);
        if (m_state.pRecorder) {
            m_state.pRecorder->Finish();
            m_state.pRecorder.reset();
        }
        m_state.preRoll.Clear();
    }
    m_sound.PortClosed(m_nPort);
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.eSource = Source::None;
        m_state.ClearQueues();
        m_state.pLastFrame.reset();
        m_state.bHaveCurrent = false;
        m_state.nWidth = m_state.nHeight = 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_state.readerMutex);
        m_state.pReader.reset();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_state.callbackMutex);
        m_state.cbFileEnd = nullptr;
        m_state.pFileEndUser = nullptr;
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
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (m_state.eSource != Source::File)
            return KTN_ERR_ORDER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_state.callbackMutex);
    m_state.cbFileEnd = cb;
    m_state.pFileEndUser = pUser;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetStreamMode(int nMode)
{
    if (nMode != STREAME_REALTIME && nMode != STREAME_FILE)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource != Source::Stream)
        return KTN_ERR_ORDER;
    m_state.nStreamMode = nMode;
    m_state.timeline.Reset();
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Input(const uint8_t *pData, uint32_t nSize)
{
    if (!pData || nSize == 0)
        return KTN_ERR_PARAM;
    PortState &s = m_state;
    std::lock_guard<std::mutex> input(m_inputMutex);
    uint64_t nGeneration = 0;
    int64_t nShownMs = 0;
    bool bShown = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.eSource != Source::Stream)
            return KTN_ERR_ORDER;
        ++s.stats.nInputCalls;
        if (s.nParserBytes + s.nPendingBytes + nSize > s.nCapacity) {
            ++s.stats.nInputRefused;
            return KTN_ERR_BUFFER_FULL;
        }
        nGeneration = s.nFlushGeneration;
        bShown = ShownTime(nShownMs);
    }
    if (nGeneration != m_nParserGeneration) {
        // A flush came since the last input: a block cut before it is not completed by this one.
        m_parser.Reset();
        m_nParserGeneration = nGeneration;
    }
    // The bytes' one copy, outside the port's lock: each whole block's payload into a unit of its own, in a
    // buffer the port has used before.
    m_parsed.clear();
    m_parser.Feed(pData, nSize, [&](const StreamBlock::View &view) {
        m_parsed.emplace_back();
        m_parsed.back().data = s.buffers.Take();
        BlockFileReader::ToUnit(view, m_parsed.back());
    });
    const bool bVideo = std::any_of(m_parsed.begin(), m_parsed.end(), [](const MediaUnit &u) { return u.IsVideo(); });
    const bool bHeard = !bVideo && !m_parsed.empty() && m_sound.IsAudible(m_nPort);
    {
        std::lock_guard<std::mutex> lock(s.recordMutex);
        for (const MediaUnit &unit : m_parsed)
            s.preRoll.Keep(unit, bShown, nShownMs);
        if (s.pRecorder)
            s.pRecorder->WriteBytes(pData, nSize);
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.eSource != Source::Stream)
        return KTN_ERR_ORDER;
    if (nGeneration == s.nFlushGeneration) {
        s.nParserBytes = m_parser.PendingBytes();
        for (MediaUnit &unit : m_parsed) {
            s.nPendingBytes += unit.nSourceBytes;
            s.pending.push_back(std::move(unit));
        }
        // Sound nobody hears waits for the next picture (or the idle player's own look).
        if (s.bIdle && (bVideo || bHeard))
            Wake();
    } else {
        for (MediaUnit &unit : m_parsed)
            s.buffers.Give(std::move(unit.data));
    }
    return KTN_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------------------
// Play control.

bool PavlinePort::Playing() const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    return m_state.bPlaying;
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
    PortPlayer *pStarted = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        PortState &s = m_state;
        if (s.eSource == Source::None || s.bStop)
            return KTN_ERR_ORDER;
        // Playing already: back to normal speed, out of a pause or single steps, into this window.
        s.nSpeed = 0;
        s.bPaused = false;
        s.bStepping = false;
        s.nStepForward = s.nStepBack = 0;
        s.bShowOne = false;
        s.timeline.Reset();
        if (s.pSurface != pSurface) {
            pOld = s.pSurface;
            s.pSurface = pSurface;
            s.bRedraw = true;
        }
        s.hWnd = hWnd;
        if (s.bPlaying) {
            Wake();
        } else {
            s.bPlaying = true;
            s.bIdle = true;
            m_pPlayer = std::make_unique<PortPlayer>(m_nPort, s, m_sound);
            pStarted = m_pPlayer.get();
        }
    }
    // The player is only destroyed by a stop, which waits for this control call.
    if (pStarted)
        m_pool.Attach(*pStarted);
    if (pOld)
        pOld->Clear();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StopLocked(std::unique_lock<std::mutex> &control)
{
    std::unique_ptr<PortPlayer> pPlayer;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (!m_state.bPlaying || m_state.bStop)
            return KTN_ERR_ORDER;
        m_state.bStop = true;
        pPlayer = std::move(m_pPlayer);
        m_state.landed.notify_all();
    }
    control.unlock();
    // Once the pool lets it go, no service of the player runs and none can start: no callback of the port
    // can come any more.
    if (pPlayer)
        m_pool.Detach(*pPlayer);
    pPlayer.reset();
    control.lock();
    std::shared_ptr<NativeSurface> pSurface;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        PortState &s = m_state;
        s.bStop = false;
        s.bPlaying = false;
        s.bPaused = s.bStepping = s.bShowOne = s.bRedraw = false;
        s.nSpeed = 0;
        // What was received and not shown is dropped; a file starts again from its beginning.
        s.ClearQueues();
        s.pLastFrame.reset();
        s.bHaveCurrent = false;
        s.nCurrentMs = 0;
        s.nWidth = s.nHeight = 0;
        s.bSourceEnded = s.bDecoderDrained = s.bEndReported = false;
        pSurface = std::move(s.pSurface);
        s.hWnd = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_state.readerMutex);
        if (m_state.pReader)
            m_state.pReader->SeekToFraction(0.0);
        std::lock_guard<std::mutex> recordLock(m_state.recordMutex);
        if (m_state.pReader)
            m_state.preRoll.Clear();
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
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (!m_state.bPlaying)
        return KTN_ERR_ORDER;
    if (nPause) {
        m_state.bPaused = true;
    } else {
        m_state.bPaused = false;
        m_state.bStepping = false;
        m_state.nStepForward = 0;
    }
    m_state.timeline.Reset();
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::Fast() { return ChangeSpeed(+1); }

int32_t PavlinePort::Slow() { return ChangeSpeed(-1); }

int32_t PavlinePort::ChangeSpeed(int nStep)
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (!m_state.bPlaying)
        return KTN_ERR_ORDER;
    if (m_state.nSpeed + nStep > kMaxSpeed || m_state.nSpeed + nStep < -kMaxSpeed)
        return KTN_ERR_PARAM;
    m_state.nSpeed += nStep;
    m_state.timeline.Reset();
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StepForward() { return Step(m_state.nStepForward); }

int32_t PavlinePort::StepBack() { return Step(m_state.nStepBack); }

int32_t PavlinePort::Step(int &nSteps)
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (!m_state.bPlaying)
        return KTN_ERR_ORDER;
    m_state.bStepping = true;
    m_state.bPaused = false;
    ++nSteps;
    m_state.timeline.Reset();
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetPlayPos(double dPos)
{
    if (!(dPos >= 0.0 && dPos <= 1.0))
        return KTN_ERR_PARAM;
    PortState &s = m_state;
    std::unique_lock<std::mutex> control(m_controlMutex);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.eSource != Source::File)
            return KTN_ERR_ORDER;
    }
    uint64_t nGeneration = 0;
    bool bWait = false;
    {
        // The reader is not used by the player while this lock is held; what it read before is dropped below.
        std::lock_guard<std::mutex> readerLock(s.readerMutex);
        if (!s.pReader || !s.pReader->SeekToFraction(dPos))
            return KTN_ERR_FILE;
        {
            std::lock_guard<std::mutex> recordLock(s.recordMutex);
            s.preRoll.Clear();
        }
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ClearQueues();
        s.bSourceEnded = s.bDecoderDrained = s.bEndReported = false;
        // From the key frame on, the pictures before the target are decoded and dropped.
        s.bSeeking = true;
        s.nSeekMs = s.nFirstMs + static_cast<int64_t>(dPos * static_cast<double>(s.nLastMs - s.nFirstMs));
        s.bHaveCurrent = true;
        s.nCurrentMs = s.nSeekMs;
        if (s.bPaused || s.bStepping)
            s.bShowOne = true;
        nGeneration = s.nFlushGeneration;
        // A library thread waiting here could be the one the landing needs.
        bWait = s.bPlaying && !PavlineThreads::OnLibraryThread();
        Wake();
    }
    if (!bWait)
        return KTN_ERR_NONE;
    // Other control calls may come meanwhile (the port's own callbacks among them): a stop ends the wait.
    control.unlock();
    std::unique_lock<std::mutex> lock(s.mutex);
    const bool bDone = s.landed.wait_for(lock, kLandingWait, [&] {
        return s.nLandedGeneration == nGeneration || s.nFlushGeneration != nGeneration || s.bEndReported || s.bStop ||
               !s.bPlaying;
    });
    if (s.nLandedGeneration == nGeneration)
        return KTN_ERR_NONE;
    if (!bDone)
        return KTN_ERR_FAILED;
    // The file ended without a picture at the target, or the port was stopped or sought again meanwhile.
    return s.bEndReported ? KTN_ERR_FILE : KTN_ERR_ORDER;
}

int32_t PavlinePort::Refresh()
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource == Source::None)
        return KTN_ERR_ORDER;
    // A file's data is read, not received: there is nothing to drop, and a seek just made is kept.
    if (m_state.eSource == Source::Stream) {
        m_state.ClearQueues();
        Wake();
    }
    return KTN_ERR_NONE;
}

int32_t PavlinePort::PlayPos(float &fPos) const
{
    fPos = 0.0f;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    const PortState &s = m_state;
    if (s.eSource != Source::File)
        return KTN_ERR_ORDER;
    if (s.bEndReported) {
        fPos = 1.0f;
    } else if (s.bHaveCurrent && s.nLastMs > s.nFirstMs) {
        const double d = static_cast<double>(s.nCurrentMs - s.nFirstMs) / static_cast<double>(s.nLastMs - s.nFirstMs);
        fPos = static_cast<float>(std::min(1.0, std::max(0.0, d)));
    }
    return KTN_ERR_NONE;
}

int64_t PavlinePort::CurPlayTime() const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (!m_state.bHaveCurrent)
        return 0;
    return m_state.nCurrentMs >= 0 ? m_state.nCurrentMs / 1000 : 0;
}

int32_t PavlinePort::SetPictureCache(int nPictures)
{
    if (nPictures < 1 || nPictures > kMaxPictureCache)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource == Source::None)
        return KTN_ERR_ORDER;
    m_state.nPictureCache = nPictures;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SoundAllowed() const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    return m_state.eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

// ---------------------------------------------------------------------------------------------------------
// Display, colour, buffers, capture.

int32_t PavlinePort::SetRegion(const RECT *pRect, bool bEnable)
{
    if (pRect && bEnable && !ValidRegion(*pRect))
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource == Source::None)
        return KTN_ERR_ORDER;
    m_state.settings.bRegion = pRect && bEnable;
    m_state.settings.region =
        m_state.settings.bRegion ? *pRect : RECT{0, 0, KTN_DISPLAY_REGION_SCALE, KTN_DISPLAY_REGION_SCALE};
    m_state.bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetVideoMode(int nKind, int nValue)
{
    if (nKind != KTN_VIDEO_MODE_SCALING || nValue < KTN_SCALING_FAST || nValue > KTN_SCALING_BICUBIC)
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource == Source::None)
        return KTN_ERR_ORDER;
    m_state.settings.nScaling = nValue;
    m_state.bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetActualSize(bool bOn)
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.eSource == Source::None)
        return KTN_ERR_ORDER;
    m_state.settings.bActualSize = bOn;
    m_state.bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::PictureSize(int &nWidth, int &nHeight) const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (m_state.nWidth <= 0 || m_state.nHeight <= 0)
        return KTN_ERR_NO_PICTURE;
    nWidth = m_state.nWidth;
    nHeight = m_state.nHeight;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SetColor(int nBrightness, int nContrast, int nSaturation, int nHue)
{
    if (!ValidColour(nBrightness) || !ValidColour(nContrast) || !ValidColour(nSaturation) || !ValidColour(nHue))
        return KTN_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_state.mutex);
    RenderSettings &settings = m_state.settings;
    settings.nBrightness = nBrightness;
    settings.nContrast = nContrast;
    settings.nSaturation = nSaturation;
    settings.nHue = nHue;
    m_state.bRedraw = true;
    Wake();
    return KTN_ERR_NONE;
}

int32_t PavlinePort::GetColor(int &nBrightness, int &nContrast, int &nSaturation, int &nHue) const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    const RenderSettings &settings = m_state.settings;
    nBrightness = settings.nBrightness;
    nContrast = settings.nContrast;
    nSaturation = settings.nSaturation;
    nHue = settings.nHue;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::SourceBytes(int &nBytes) const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    nBytes = static_cast<int>(m_state.nParserBytes + m_state.nPendingBytes);
    return m_state.eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

int32_t PavlinePort::DecodedPictures(int &nPictures) const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    nPictures = m_state.nPresentPictures;
    return m_state.eSource == Source::None ? KTN_ERR_ORDER : KTN_ERR_NONE;
}

int32_t PavlinePort::Capture(uint8_t *pBuffer, uint32_t nBufferSize, int &nWidth, int &nHeight, int nType)
{
    if (!pBuffer || (nType != KTN_CAPTURE_BMP && nType != KTN_CAPTURE_I420))
        return KTN_ERR_PARAM;
    AvFramePtr pFrame;
    RenderSettings settings;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (!m_state.pLastFrame)
            return KTN_ERR_NO_PICTURE;
        pFrame = RefAvFrame(m_state.pLastFrame.get());
        settings = m_state.settings;
    }
    if (!pFrame)
        return KTN_ERR_FAILED;
    // A renderer of its own: the player keeps using the port's.
    PictureRenderer renderer;
    int32_t nError = KTN_ERR_NONE;
    if (!renderer.Capture(pFrame.get(), settings, nType, pBuffer, nBufferSize, nWidth, nHeight, nError))
        return nError;
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StartRecord(const std::string &strPath, int nType)
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    int64_t nShownMs = 0;
    bool bShown = false;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        if (m_state.eSource == Source::None)
            return KTN_ERR_ORDER;
        bShown = ShownTime(nShownMs);
    }
    std::lock_guard<std::mutex> lock(m_state.recordMutex);
    if (m_state.pRecorder)
        return KTN_ERR_BUSY;
    int32_t nError = KTN_ERR_NONE;
    m_state.pRecorder = PortRecorder::Create(strPath, nType, nError);
    if (!m_state.pRecorder)
        return nError;
    // It begins with the key frame before the picture on screen.
    m_state.preRoll.WriteTo(*m_state.pRecorder, bShown, nShownMs);
    return KTN_ERR_NONE;
}

int32_t PavlinePort::StopRecord()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    std::unique_ptr<PortRecorder> pRecorder;
    {
        std::lock_guard<std::mutex> lock(m_state.recordMutex);
        pRecorder = std::move(m_state.pRecorder);
    }
    if (!pRecorder)
        return KTN_ERR_ORDER;
    // The recording has ended whatever its file became; the caller learns whether the file is worth keeping.
    return pRecorder->Finish();
}

int32_t PavlinePort::SetDecCallBack(KTN_fDecCallBack cb, void *pUser)
{
    std::lock_guard<std::recursive_mutex> lock(m_state.callbackMutex);
    m_state.cbDecode = cb;
    m_state.pDecodeUser = pUser;
    return KTN_ERR_NONE;
}

PortStats PavlinePort::Stats() const
{
    std::lock_guard<std::mutex> lock(m_state.mutex);
    const PortState &s = m_state;
    PortStats stats = s.stats;
    stats.bOpen = s.eSource != Source::None;
    stats.bFile = s.eSource == Source::File;
    stats.bPlaying = s.bPlaying;
    stats.bPaused = s.bPaused;
    stats.bStepping = s.bStepping;
    stats.nSpeed = s.nSpeed;
    stats.nStreamMode = s.nStreamMode;
    stats.nPictureCache = s.nPictureCache;
    stats.settings = s.settings;
    return stats;
}

void PavlinePort::Reset()
{
    {
        std::unique_lock<std::mutex> control(m_controlMutex);
        Source eSource = Source::None;
        {
            std::lock_guard<std::mutex> lock(m_state.mutex);
            eSource = m_state.eSource;
        }
        if (eSource != Source::None)
            Close(control, eSource);
    }
    std::lock_guard<std::recursive_mutex> lock(m_state.callbackMutex);
    m_state.cbDecode = nullptr;
    m_state.pDecodeUser = nullptr;
}
