#pragma once

#include "standin/korvex/SimStream.h"

#include <memory>
#include <vector>

class LiveStream;

// The one thread of a login's live streams: it sleeps until the next block of any of them is due on the
// library's clock and delivers every block that is due, so that the streams of a login cost one thread and one
// wake per due time instead of a thread and a wake per block each. Made with the login's first live stream and
// stopped by its logout (or the clean-up); it is no handle of its own (handle 0).
class LiveClock : public SimStream
{
public:
    explicit LiveClock(int32_t nLogin);

    // Any thread. A stream added is served from the next pass on; one removed is never served again once a pass
    // in progress has ended (the stream's own stop sees to its callbacks).
    void Add(const std::shared_ptr<LiveStream> &stream);
    void Remove(const LiveStream *pStream);
    // Something changed that the streams' times do not tell (a first callback set): a pass now.
    void Nudge() { Wake(); }

protected:
    void Run() override;

private:
    // Guarded by m_mutex.
    std::vector<std::shared_ptr<LiveStream>> m_streams;
};
