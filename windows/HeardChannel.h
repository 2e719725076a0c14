#pragma once

#include <functional>

class CDecodeChannel;

// Which one of a page's channels (or panes) is heard: one at a time, so switching another one's sound on
// switches this one's off first.
class HeardChannel
{
public:
    // Switches the sound of the channel at nIndex on or off; channelOf gives the page's decode channel of an
    // index (null when there is none). 0 when the last switch succeeded, -1 a channel was missing, -2 a
    // channel's sound did not switch (the one heard before stays heard when its sound would not go off).
    int Switch(int nIndex, bool bOn, const std::function<CDecodeChannel *(int)> &channelOf);
    // -1 when none is heard.
    int Index() const { return m_nIndex; }
    // The channel heard has gone (its sound went with it).
    void Forget() { m_nIndex = -1; }

private:
    int m_nIndex = -1;
};
