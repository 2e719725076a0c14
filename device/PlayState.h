#pragma once

// Play states kept by a channel: 1 stopped, 0 normal, 2 paused, 16-19 slow 1-4, 32-35 fast 1-4, 48 and 49 the
// two single steps. The device's playback is driven by the same codes.
enum PlayStateCode : int {
    PLAY_STATE_NORMAL = 0,
    PLAY_STATE_STOPPED = 1,
    PLAY_STATE_PAUSE = 2,
    PLAY_STATE_SLOW_1 = 16,
    PLAY_STATE_SLOW_4 = 19,
    PLAY_STATE_FAST_1 = 32,
    PLAY_STATE_FAST_4 = 35,
    PLAY_STATE_STEP = 48,
    PLAY_STATE_STEP_BACK = 49,
};

inline bool IsSlowPlayState(int nState) { return nState >= PLAY_STATE_SLOW_1 && nState <= PLAY_STATE_SLOW_4; }
inline bool IsFastPlayState(int nState) { return nState >= PLAY_STATE_FAST_1 && nState <= PLAY_STATE_FAST_4; }
