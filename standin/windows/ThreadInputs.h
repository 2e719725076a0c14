#pragma once

#include "platform/winapi.h"

#include <map>
#include <utility>

// The thread inputs attached with AttachThreadInput and not detached again. Not locked: its owner
// (BrowserWindows) holds the lock around every use.
class ThreadInputs
{
public:
    // False for a thread id of 0, a thread attached to itself, or a detach with nothing attached.
    bool Attach(DWORD nFrom, DWORD nTo, bool bAttach);
    int Attached() const;
    void Clear() { m_attached.clear(); }

private:
    std::map<std::pair<DWORD, DWORD>, int> m_attached;
};
