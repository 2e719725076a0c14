#include "windows/HostPlayState.h"

#include "device/CDecodeChannel.h"

int HostPlayState(int nState, int nOther)
{
    if (nState == PLAY_STATE_STOPPED)
        return 0;
    if (nState == PLAY_STATE_NORMAL)
        return 2;
    if (nState == PLAY_STATE_PAUSE)
        return 4;
    if (nState >= PLAY_STATE_SLOW_1 && nState <= PLAY_STATE_SLOW_4)
        return 5;
    if (nState >= PLAY_STATE_FAST_1 && nState <= PLAY_STATE_FAST_4)
        return 6;
    if (nState == PLAY_STATE_STEP)
        return 7;
    if (nState == PLAY_STATE_STEP_BACK)
        return 8;
    return nOther;
}
