#pragma once

#include <chrono>
#include <cstdint>

// When each picture of a port is due: a timeline that ties a timestamp to a wall time and runs at the play speed
// (2 to the power of the speed steps times real time). It starts anew when reset, when the timestamps jump away
// from the picture shown, and when it has fallen too far behind; a live timeline moves up towards pictures that
// come ahead of it, so that a delay it began with shrinks.
class PortTimeline
{
public:
    using Clock = std::chrono::steady_clock;

    void Reset() { m_bAnchored = false; }
    bool IsAnchored() const { return m_bAnchored; }
    // The picture is due now: the timeline goes on from it.
    void Anchor(int64_t nTimeMs, Clock::time_point now);
    // When the picture is due (the timeline is anchored at it when it is not yet).
    Clock::time_point Due(int64_t nTimeMs, Clock::time_point now, int nSpeed);
    // When the picture at the front is due, the timeline set anew or moved up as its rules say. bShown and
    // nShownMs: the picture shown last; bLive: a live stream at normal speed.
    Clock::time_point DueOfFront(int64_t nTimeMs, bool bShown, int64_t nShownMs, Clock::time_point now, int nSpeed,
                                 bool bLive);

private:
    bool m_bAnchored = false;
    Clock::time_point m_anchorWall;
    int64_t m_nAnchorMs = 0;
};
