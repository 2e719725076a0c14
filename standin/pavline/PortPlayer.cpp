#include "standin/pavline/PortPlayer.h"

#include "standin/pavline/MediaFileReader.h"
#include "standin/pavline/PortRecorder.h"
#include "standin/pavline/PortState.h"
#include "standin/pavline/SoundOutput.h"
#include "standin/windows/GdiObjects.h"
#include "standin/windows/NativeSurface.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>

namespace {

constexpr size_t kMaxHistory = 8;           // pictures kept for stepping back
constexpr size_t kFileReadAhead = 32;       // units read from a file ahead of the decoder
constexpr int64_t kBacklogMs = 1000;        // a live port lets its delay grow this far before it cuts
constexpr auto kDropLate = std::chrono::milliseconds(100);     // this late with the next one due: dropped (live)
constexpr auto kIdleLook = std::chrono::milliseconds(200);     // an idle stream port looks at unheard sound
constexpr auto kServiceBudget = std::chrono::milliseconds(5);

} // namespace

PortPlayer::PortPlayer(int nPort, PortState &state, SoundOutput &sound)
    : DecodePool::Client(nPort)
    , m_state(state)
    , m_sound(sound)
    , m_decoder(&state.buffers)
{
}

PortPlayer::~PortPlayer() = default;

PortPlayer::Clock::time_point PortPlayer::Service(Clock::time_point now)
{
    PortState &s = m_state;
    Lock lk(s.mutex);
    ++s.stats.nWakes;
    s.bIdle = false;
    const Clock::time_point deadline = now + kServiceBudget;
    for (;;) {
        if (s.bStop)
            return Clock::time_point::max();
        Restart();
        const Clock::time_point t = Clock::now();
        Clock::time_point wake = Clock::time_point::max();
        const bool bDid = (s.RealTime() && !s.bPaused && !s.bStepping && CutBacklog()) || StepBack(lk) ||
                          TakeFront(lk, t, wake) || DecodeAhead(lk) || ReadFile(lk) || FinishFile(lk) || Redraw(lk);
        if (!bDid) {
            if (wake != Clock::time_point::max())
                return wake;
            // Waiting for input: arriving pictures and heard sound make the port ready; sound nobody hears
            // is looked at now and then.
            s.bIdle = true;
            return s.eSource == PortState::Source::Stream ? t + kIdleLook : Clock::time_point::max();
        }
        const Clock::time_point after = Clock::now();
        if (after >= deadline)
            return after;
    }
}

void PortPlayer::Restart()
{
    if (!m_bFirst && m_nGeneration == m_state.nFlushGeneration)
        return;
    m_bFirst = false;
    m_nGeneration = m_state.nFlushGeneration;
    m_decoder.Flush();
    m_bNeedKey = true;
}

size_t PortPlayer::NextPicture() const
{
    for (size_t i = 1; i < m_state.present.size(); ++i)
        if (m_state.present[i].pFrame)
            return i;
    return 0;
}

bool PortPlayer::CutBacklog()
{
    PortState &s = m_state;
    // The delay of a live port: from the picture due next to the newest video received.
    int64_t nNewest = 0, nOldest = 0;
    bool bNewest = false, bOldest = false;
    for (size_t i = s.pending.size(); i-- > 0;)
        if (s.pending[i].IsVideo()) {
            nNewest = s.pending[i].nTimeMs;
            bNewest = true;
            break;
        }
    for (size_t i = 0; i < s.present.size() && !bOldest; ++i)
        if (s.present[i].pFrame) {
            nOldest = s.present[i].nTimeMs;
            bOldest = true;
        }
    for (size_t i = 0; i < s.pending.size() && !bOldest; ++i)
        if (s.pending[i].IsVideo()) {
            nOldest = s.pending[i].nTimeMs;
            bOldest = true;
        }
    if (!bNewest || !bOldest || nNewest - nOldest <= kBacklogMs)
        return false;
    size_t nKey = s.pending.size();
    for (size_t i = s.pending.size(); i-- > 0;)
        if (s.pending[i].IsVideo() && s.pending[i].bKeyFrame) {
            nKey = i;
            break;
        }
    if (nKey == s.pending.size() || (nKey == 0 && s.nPresentPictures == 0))
        return false;
    // Everything before the newest key frame goes; the port goes on from there.
    s.stats.nPicturesDropped += s.nPresentPictures;
    for (size_t i = 0; i < nKey; ++i) {
        MediaUnit unit = s.pending.take_front();
        if (unit.IsVideo())
            ++s.stats.nUnitsSkipped;
        s.nPendingBytes -= unit.nSourceBytes;
        s.buffers.Give(std::move(unit.data));
    }
    for (size_t i = 0; i < s.present.size(); ++i)
        if (!s.present[i].pFrame)
            s.nPendingBytes -= s.present[i].audio.nSourceBytes;
    s.present.clear();
    s.nPresentPictures = 0;
    s.timeline.Reset();
    return true;
}

bool PortPlayer::StepBack(Lock &lk)
{
    PortState &s = m_state;
    // A step back shows the picture before the one shown; the one shown waits at the front again.
    if (s.nStepBack <= 0)
        return false;
    --s.nStepBack;
    if (s.history.size() >= 2) {
        PortState::Item current = s.history.take_back();
        AvFramePtr pPrevious = RefAvFrame(s.history.back().pFrame.get());
        const int64_t nPreviousMs = s.history.back().nTimeMs;
        s.present.push_front(std::move(current));
        ++s.nPresentPictures;
        s.bRedraw = false;
        ShowItem(lk, std::move(pPrevious), nPreviousMs, false);
    }
    return true;
}

bool PortPlayer::PlayFrontSound(Lock &lk)
{
    PortState &s = m_state;
    // Sound goes out when it reaches the front; a still port holds it, other speeds drop it.
    if (s.bPaused && !s.bShowOne)
        return false;
    MediaUnit audio = std::move(s.present.take_front().audio);
    const bool bHeard = s.nSpeed == 0 && !s.bStepping && !s.bPaused;
    const uint64_t nGeneration = s.nFlushGeneration;
    const size_t nBytes = audio.nSourceBytes;
    lk.unlock();
    if (bHeard && m_sound.IsAudible(Port()) && m_audio.Decode(audio, m_pcm) && !m_pcm.empty())
        m_sound.Play(Port(), m_pcm.data(), m_pcm.size(), audio.nSampleRate);
    s.buffers.Give(std::move(audio.data));
    lk.lock();
    // Out of the source buffer only once heard: a caller that waits for the buffer to empty before it stops the
    // sound must not stop it under this unit. A flush meanwhile has emptied the count already.
    if (nGeneration == s.nFlushGeneration)
        s.nPendingBytes -= nBytes;
    ++s.stats.nAudioUnits;
    return true;
}

bool PortPlayer::TakeFront(Lock &lk, Clock::time_point now, Clock::time_point &wake)
{
    PortState &s = m_state;
    if (s.present.empty())
        return false;
    PortState::Item &front = s.present.front();
    if (!front.pFrame)
        return PlayFrontSound(lk);
    bool bShow = false;
    if (s.bShowOne) {
        s.bShowOne = false;
        bShow = true;
    } else if (s.bStepping) {
        if (s.nStepForward > 0) {
            --s.nStepForward;
            bShow = true;
        }
    } else if (!s.bPaused) {
        const Clock::time_point due = s.timeline.DueOfFront(front.nTimeMs, s.bHaveCurrent, s.nCurrentMs, now, s.nSpeed,
                                                            s.RealTime() && s.nSpeed == 0);
        if (due > now) {
            wake = due;
            return false;
        }
        // A live port drops a picture that came too late to matter; a file or playback shows every one.
        const size_t nNext = s.RealTime() ? NextPicture() : 0;
        if (nNext > 0 && now - due > kDropLate && s.timeline.Due(s.present[nNext].nTimeMs, now, s.nSpeed) <= now) {
            s.present.pop_front();
            --s.nPresentPictures;
            ++s.stats.nPicturesDropped;
            return true;
        }
        bShow = true;
    }
    if (!bShow)
        return false;
    PortState::Item item = s.present.take_front();
    --s.nPresentPictures;
    s.bRedraw = false;
    ShowItem(lk, std::move(item.pFrame), item.nTimeMs, true);
    return true;
}

void PortPlayer::Present(AvFramePtr pFrame, int64_t nTimeMs)
{
    PortState::Item item;
    item.nTimeMs = nTimeMs;
    item.pFrame = std::move(pFrame);
    m_state.present.push_back(std::move(item));
    ++m_state.nPresentPictures;
}

void PortPlayer::Queue(std::vector<AvFramePtr> &frames)
{
    PortState &s = m_state;
    for (AvFramePtr &pFrame : frames) {
        ++s.stats.nPicturesDecoded;
        s.nWidth = pFrame->width;
        s.nHeight = pFrame->height;
        const int64_t nMs = pFrame->pts;
        if (s.bSeeking) {
            // On the way to a seek's target: the last picture before it waits, in case the next one is past it.
            if (nMs < s.nSeekMs) {
                if (s.pSeekCandidate)
                    ++s.stats.nPicturesPassed;
                s.pSeekCandidate = std::move(pFrame);
                s.nSeekCandidateMs = nMs;
                continue;
            }
            // The picture shown at the target: this one when it is there, else the one before it.
            s.bSeeking = false;
            if (s.pSeekCandidate && nMs > s.nSeekMs)
                Present(std::move(s.pSeekCandidate), s.nSeekCandidateMs);
            else if (s.pSeekCandidate)
                ++s.stats.nPicturesPassed;
            s.pSeekCandidate.reset();
        }
        Present(std::move(pFrame), nMs);
    }
}

bool PortPlayer::DecodeAhead(Lock &lk)
{
    PortState &s = m_state;
    if (s.pending.empty() || s.nPresentPictures >= s.nPictureCache)
        return false;
    MediaUnit unit = s.pending.take_front();
    if (unit.IsAudio()) {
        // Sound before a seek's target is not heard.
        if (s.bSeeking) {
            s.nPendingBytes -= unit.nSourceBytes;
            s.buffers.Give(std::move(unit.data));
            return true;
        }
        // Sound is decoded as it is played: it stays in the source buffer until then.
        PortState::Item item;
        item.audio = std::move(unit);
        s.present.push_back(std::move(item));
        return true;
    }
    s.nPendingBytes -= unit.nSourceBytes;
    if (m_bNeedKey && !unit.bKeyFrame) {
        ++s.stats.nUnitsSkipped;
        s.buffers.Give(std::move(unit.data));
        return true;
    }
    m_bNeedKey = false;
    lk.unlock();
    const bool bSent = m_decoder.Send(unit);
    m_frames.clear();
    while (AvFramePtr pFrame = m_decoder.Receive())
        m_frames.push_back(std::move(pFrame));
    s.buffers.Give(std::move(unit.data));   // a unit the decoder did not take
    lk.lock();
    if (!bSent)
        ++s.stats.nDecodeErrors;
    if (m_nGeneration == s.nFlushGeneration)
        Queue(m_frames);
    return true;
}

bool PortPlayer::ReadFile(Lock &lk)
{
    PortState &s = m_state;
    // A file is read ahead of the decoder; what is read goes to the recorder and the pre-roll too.
    if (s.eSource != PortState::Source::File || s.bSourceEnded || s.pending.size() >= kFileReadAhead)
        return false;
    const bool bShown = s.bHaveCurrent;
    const int64_t nShownMs = s.nCurrentMs;
    lk.unlock();
    MediaUnit unit;
    unit.data = s.buffers.Take();
    MediaFileReader::Result eResult = MediaFileReader::Result::End;
    uint64_t nReadGeneration = 0;
    {
        // A seek moves the reader and empties the pre-roll under the reader's lock: what is read here belongs
        // to one side of it.
        std::lock_guard<std::mutex> readerLock(s.readerMutex);
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            nReadGeneration = s.nFlushGeneration;
        }
        if (s.pReader)
            eResult = s.pReader->Next(unit);
        if (eResult == MediaFileReader::Result::Unit) {
            std::lock_guard<std::mutex> recordLock(s.recordMutex);
            if (s.pRecorder)
                s.pRecorder->WriteUnit(unit);
            s.preRoll.Keep(unit, bShown, nShownMs);
        }
    }
    lk.lock();
    if (nReadGeneration != s.nFlushGeneration) {
        s.buffers.Give(std::move(unit.data));
    } else if (eResult == MediaFileReader::Result::Unit) {
        s.nPendingBytes += unit.nSourceBytes;
        s.pending.push_back(std::move(unit));
    } else {
        s.buffers.Give(std::move(unit.data));
        s.bSourceEnded = true;
    }
    return true;
}

bool PortPlayer::FinishFile(Lock &lk)
{
    PortState &s = m_state;
    // The end of a file: the pictures the decoder still holds, then the file-end callback once.
    if (s.eSource != PortState::Source::File || !s.bSourceEnded || !s.pending.empty())
        return false;
    if (!s.bDecoderDrained) {
        lk.unlock();
        m_decoder.SendEnd();
        m_frames.clear();
        while (AvFramePtr pFrame = m_decoder.Receive())
            m_frames.push_back(std::move(pFrame));
        lk.lock();
        if (m_nGeneration == s.nFlushGeneration) {
            s.bDecoderDrained = true;
            Queue(m_frames);
            // A target past the last picture: the last one is the target's.
            if (s.bSeeking) {
                s.bSeeking = false;
                if (s.pSeekCandidate)
                    Present(std::move(s.pSeekCandidate), s.nSeekCandidateMs);
            }
        }
        return true;
    }
    if (!s.present.empty() || s.bEndReported)
        return false;
    s.bEndReported = true;
    ++s.stats.nFileEndCallbacks;
    s.landed.notify_all();
    lk.unlock();
    {
        std::lock_guard<std::recursive_mutex> lock(s.callbackMutex);
        if (s.cbFileEnd)
            s.cbFileEnd(Port(), s.pFileEndUser);
    }
    lk.lock();
    return true;
}

bool PortPlayer::Redraw(Lock &lk)
{
    PortState &s = m_state;
    // New settings on a port that shows nothing new: the last picture again.
    if (!s.bRedraw)
        return false;
    s.bRedraw = false;
    if (s.pLastFrame) {
        AvFramePtr pFrame = RefAvFrame(s.pLastFrame.get());
        const RenderSettings settings = s.settings;
        const std::shared_ptr<NativeSurface> pSurface = s.pSurface;
        lk.unlock();
        const bool bCalled = Show(pFrame.get(), settings, pSurface);
        lk.lock();
        if (bCalled)
            ++s.stats.nDecodeCallbacks;
    }
    return true;
}

void PortPlayer::ShowItem(Lock &lk, AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory)
{
    const RenderSettings settings = m_state.settings;
    const std::shared_ptr<NativeSurface> pSurface = m_state.pSurface;
    lk.unlock();
    const bool bCalled = Show(pFrame.get(), settings, pSurface);
    lk.lock();
    if (m_nGeneration == m_state.nFlushGeneration)
        Shown(std::move(pFrame), nTimeMs, bIntoHistory, bCalled);
}

bool PortPlayer::Show(const AVFrame *pFrame, const RenderSettings &settings,
                      const std::shared_ptr<NativeSurface> &pSurface)
{
    if (pSurface) {
        const QSize size = pSurface->Size();
        if (m_canvas.size() != size || !PictureRenderer::FitsTarget(m_canvas))
            m_canvas = PictureRenderer::NewTarget(size);
        m_renderer.Draw(pFrame, settings, m_canvas);
    }
    bool bCalled = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_state.callbackMutex);
        if (m_state.cbDecode) {
            // The overlay is drawn into this picture before it is shown.
            HDC hDC = pSurface ? GdiObjects::CreateImageDC(&m_canvas) : nullptr;
            m_state.cbDecode(0, hDC, m_state.pDecodeUser);
            if (hDC)
                GdiObjects::DeleteImageDC(hDC);
            bCalled = true;
        }
    }
    // Handed over, not copied: the canvas comes back as an image the window no longer shows.
    if (pSurface)
        pSurface->Present(m_canvas);
    return bCalled;
}

void PortPlayer::Shown(AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory, bool bCalledBack)
{
    PortState &s = m_state;
    if (bCalledBack)
        ++s.stats.nDecodeCallbacks;
    ++s.stats.nPicturesShown;
    s.stats.nLastShownMs = nTimeMs;
    s.bHaveCurrent = true;
    s.nCurrentMs = nTimeMs;
    if (bIntoHistory && s.KeepsHistory()) {
        PortState::Item item;
        item.pFrame = RefAvFrame(pFrame.get());
        item.nTimeMs = nTimeMs;
        s.history.push_back(std::move(item));
        while (s.history.size() > kMaxHistory)
            s.history.pop_front();
    }
    s.pLastFrame = std::move(pFrame);
    // The first picture since a seek (or any flush) is where the port has landed.
    if (s.nLandedGeneration != s.nFlushGeneration) {
        s.nLandedGeneration = s.nFlushGeneration;
        s.landed.notify_all();
    }
}
