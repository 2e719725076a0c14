#pragma once

// Control of the decode library stand-in for tests and benchmarks.

#include "standin/pavline/PavlinePort.h"

#include <cstdint>
#include <string>
#include <vector>

namespace PavlineControl {

// Every call made since the last reset, as "Name port args" lines (KTN_VIEW_InputData and KTN_VIEW_GetLastError
// are counted in the port statistics instead, and KTN_VIEW_GetSourceBufferRemain, a poll, is left out), and the
// lines of one function.
std::vector<std::string> Journal();
std::vector<std::string> JournalOf(const std::string &strName);
void ClearJournal();

// The next call of the function (by its name, such as "KTN_VIEW_Fast") fails with the error, or the one after
// nPassFirst more calls of it; several calls queue several failures.
// A program in a process of its own takes the same from its environment at the library's start:
// PAVLINE_FAIL_NEXT="KTN_VIEW_Play:9,KTN_VIEW_Fast:2:3" (name, error, and optionally the calls to pass first).
void FailNextCall(const std::string &strName, int32_t nError, int nPassFirst = 0);

// What a port has done since it was opened.
PortStats Stats(int nPort);
// Waits until the port has shown at least nPictures pictures; false when the time ran out.
bool WaitForShown(int nPort, int64_t nPictures, int nTimeoutMs);

// The sound device: the port heard alone, the ports heard together, and what each port has sent to it.
int SoundPort();
std::vector<int> SharedSoundPorts();
int64_t SoundSamples(int nPort);
int64_t SoundBlocks(int nPort);

// Audio capture blocks delivered since the capture started, and whether it runs.
bool CaptureRunning();
int64_t CaptureBlocks();

// Threads of the library that run (decode workers, capture, conversions), and conversions not finished.
int RunningThreads();
// The decode pool's workers (at most one per core).
int DecodeWorkers();
int RunningConversions();
void WaitForConversions();

// Closes every port, stops capture, waits for conversions, forgets journal, failures, callbacks and sound.
void Reset();

} // namespace PavlineControl
