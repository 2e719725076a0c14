#include "standin/pavline/PortState.h"

#include "standin/pavline/MediaFileReader.h"
#include "standin/pavline/PortRecorder.h"

PortState::PortState() = default;

PortState::~PortState() = default;

void PortState::ClearQueues()
{
    nParserBytes = 0;
    while (!pending.empty())
        buffers.Give(std::move(pending.take_front().data));
    nPendingBytes = 0;
    present.clear();
    nPresentPictures = 0;
    history.clear();
    nStepForward = nStepBack = 0;
    ++nFlushGeneration;
    timeline.Reset();
    bSeeking = false;
    pSeekCandidate.reset();
}
