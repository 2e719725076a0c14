#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/AudioDecoder.h"
#include "standin/pavline/DecodePool.h"
#include "standin/pavline/PictureRenderer.h"
#include "standin/pavline/VideoDecoder.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class NativeSurface;
class SoundOutput;
struct PortState;

// The decoding and drawing of a playing port, done by the workers of the decode pool. A service goes through
// the port's work one step at a time, the port's lock held for each (let go around decoding, drawing and the
// callbacks), until nothing is left that is due: a live delay cut at a key frame, a step back, the picture or
// sound at the front when its time has come, a unit decoded ahead up to the picture cache, a unit read from
// the file, the file's end, a drawing again with new settings. It then tells the pool when the front is due,
// or that it waits for input. A service gives the worker back after kServiceBudget with work left, which the
// next tick goes on with.
class PortPlayer : public DecodePool::Client
{
public:
    using Clock = DecodePool::Clock;

    PortPlayer(int nPort, PortState &state, SoundOutput &sound);
    ~PortPlayer() override;

    Clock::time_point Service(Clock::time_point now) override;

private:
    using Lock = std::unique_lock<std::mutex>;

    // A refresh, a seek or the start: nothing of before is decoded on.
    void Restart();
    bool CutBacklog();
    bool StepBack(Lock &lk);
    bool TakeFront(Lock &lk, Clock::time_point now, Clock::time_point &wake);
    bool PlayFrontSound(Lock &lk);
    bool DecodeAhead(Lock &lk);
    bool ReadFile(Lock &lk);
    bool FinishFile(Lock &lk);
    bool Redraw(Lock &lk);
    // The index of the second picture at the front, 0 when there is none.
    size_t NextPicture() const;
    // Decoded pictures into the queue, those on the way to a seek's target held back or dropped.
    void Queue(std::vector<AvFramePtr> &frames);
    void Present(AvFramePtr pFrame, int64_t nTimeMs);
    // Shows the picture (the lock let go meanwhile) and records it as shown unless a flush came in between.
    void ShowItem(Lock &lk, AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory);
    // Draws the picture into the window and calls the decode callback; the port's lock not held. Returns
    // whether the decode callback ran.
    bool Show(const AVFrame *pFrame, const RenderSettings &settings, const std::shared_ptr<NativeSurface> &pSurface);
    // The port's lock held: the picture is the one shown now.
    void Shown(AvFramePtr pFrame, int64_t nTimeMs, bool bIntoHistory, bool bCalledBack);

    PortState &m_state;
    SoundOutput &m_sound;
    VideoDecoder m_decoder;
    AudioDecoder m_audio;
    PictureRenderer m_renderer;
    QImage m_canvas;
    std::vector<int16_t> m_pcm;
    std::vector<AvFramePtr> m_frames;   // what one unit decoded to
    uint64_t m_nGeneration = 0;
    bool m_bFirst = true;
    bool m_bNeedKey = true;
};
