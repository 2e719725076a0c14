#include "standin/pavline/PavlineControl.h"

#include "standin/pavline/PavlineLib.h"
#include "standin/pavline/PavlineThreads.h"

#include <chrono>
#include <thread>

namespace PavlineControl {

std::vector<std::string> Journal() { return PavlineLib::Instance().Journal(); }

std::vector<std::string> JournalOf(const std::string &strName)
{
    std::vector<std::string> lines;
    for (const std::string &strLine : Journal())
        if (strLine == strName || strLine.compare(0, strName.size() + 1, strName + " ") == 0)
            lines.push_back(strLine);
    return lines;
}

void ClearJournal() { PavlineLib::Instance().ClearJournal(); }

void FailNextCall(const std::string &strName, int32_t nError, int nPassFirst)
{
    PavlineLib::Instance().FailNextCall(strName, nError, nPassFirst);
}

PortStats Stats(int nPort)
{
    PavlinePort *pPort = PavlineLib::Instance().Port(nPort);
    return pPort ? pPort->Stats() : PortStats();
}

bool WaitForShown(int nPort, int64_t nPictures, int nTimeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        if (Stats(nPort).nPicturesShown >= nPictures)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int SoundPort() { return PavlineLib::Instance().Sound().SoundPort(); }
std::vector<int> SharedSoundPorts() { return PavlineLib::Instance().Sound().SharedPorts(); }
int64_t SoundSamples(int nPort) { return PavlineLib::Instance().Sound().Samples(nPort); }
int64_t SoundBlocks(int nPort) { return PavlineLib::Instance().Sound().Blocks(nPort); }

bool CaptureRunning() { return PavlineLib::Instance().Capture().IsRunning(); }
int64_t CaptureBlocks() { return PavlineLib::Instance().Capture().BlocksDelivered(); }

int RunningThreads() { return PavlineThreads::Running(); }
int DecodeWorkers() { return PavlineLib::Instance().Pool().Workers(); }
int RunningConversions() { return PavlineLib::Instance().RunningConversions(); }
void WaitForConversions() { PavlineLib::Instance().WaitForConversions(); }

void Reset() { PavlineLib::Instance().Reset(); }

} // namespace PavlineControl
