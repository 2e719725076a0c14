#include "standin/pavline/PortTimeline.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kLateLimit = std::chrono::milliseconds(1000);   // later than this: the timeline starts anew
constexpr int64_t kJumpBackMs = 500;        // timestamps jumping this far back or ...
constexpr int64_t kJumpAheadMs = 5000;      // ... this far ahead start the timeline anew
constexpr auto kLiveEarly = std::chrono::milliseconds(10);     // a live timeline moves up this much a picture

} // namespace

void PortTimeline::Anchor(int64_t nTimeMs, Clock::time_point now)
{
    m_bAnchored = true;
    m_anchorWall = now;
    m_nAnchorMs = nTimeMs;
}

PortTimeline::Clock::time_point PortTimeline::Due(int64_t nTimeMs, Clock::time_point now, int nSpeed)
{
    if (!m_bAnchored)
        Anchor(nTimeMs, now);
    const double dFactor = std::ldexp(1.0, nSpeed);
    const double dMicros = static_cast<double>(nTimeMs - m_nAnchorMs) * 1000.0 / dFactor;
    return m_anchorWall + std::chrono::microseconds(static_cast<int64_t>(dMicros));
}

PortTimeline::Clock::time_point PortTimeline::DueOfFront(int64_t nTimeMs, bool bShown, int64_t nShownMs,
                                                         Clock::time_point now, int nSpeed, bool bLive)
{
    if (m_bAnchored && bShown && (nTimeMs < nShownMs - kJumpBackMs || nTimeMs > nShownMs + kJumpAheadMs))
        m_bAnchored = false;
    Clock::time_point due = Due(nTimeMs, now, nSpeed);
    if (now - due > kLateLimit) {
        Anchor(nTimeMs, now);
        return now;
    }
    if (bLive && due > now) {
        // A live picture ahead of its timeline (the timeline began with a picture that came late, or a burst
        // arrived): the timeline moves towards it, so the delay shrinks and pictures that arrive in time are
        // shown without another wait.
        const Clock::duration shift = std::min<Clock::duration>(due - now, kLiveEarly);
        m_anchorWall -= shift;
        due -= shift;
    }
    return due;
}
