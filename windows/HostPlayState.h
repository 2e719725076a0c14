#pragma once

// A channel's play state (PlayStateCode) as the host reports it: 0 stopped, 2 playing, 4 paused, 5 slow, 6 fast,
// 7 and 8 the two single steps; nOther for a value outside these states.
int HostPlayState(int nState, int nOther);
