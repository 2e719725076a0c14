#include "windows/HostPlayState.h"

#include "device/PlayState.h"

int HostPlayState(int nState, int nOther)
{
    if (nState == PLAY_STATE_STOPPED)
        return 0;
    if (nState == PLAY_STATE_NORMAL)
        return 2;
    if (nState == PLAY_STATE_PAUSE)
        return 4;
    if (IsSlowPlayState(nState))
        return 5;
    if (IsFastPlayState(nState))
        return 6;
    if (nState == PLAY_STATE_STEP)
        return 7;
    if (nState == PLAY_STATE_STEP_BACK)
        return 8;
    return nOther;
}
