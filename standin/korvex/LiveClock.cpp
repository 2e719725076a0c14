#include "standin/korvex/LiveClock.h"

#include "standin/korvex/LiveStream.h"

#include <algorithm>

LiveClock::LiveClock(int32_t nLogin)
    : SimStream(Kind::Live, 0, nLogin)
{
}

void LiveClock::Add(const std::shared_ptr<LiveStream> &stream)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streams.push_back(stream);
    }
    Wake();
}

void LiveClock::Remove(const LiveStream *pStream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.erase(std::remove_if(m_streams.begin(), m_streams.end(),
                                   [pStream](const std::shared_ptr<LiveStream> &s) { return s.get() == pStream; }),
                    m_streams.end());
}

void LiveClock::Run()
{
    std::vector<std::shared_ptr<LiveStream>> streams;
    while (!Stopping()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            streams = m_streams;
        }
        Clock::time_point next = Clock::time_point::max();
        for (const std::shared_ptr<LiveStream> &stream : streams) {
            if (Stopping())
                return;
            next = std::min(next, stream->Serve());
        }
        streams.clear();
        // With nothing due it has nothing to do (it counts as idle) until a stream changes or it stops.
        if (!(next == Clock::time_point::max() ? WaitForWake() : WaitUntil(next)))
            return;
    }
}
