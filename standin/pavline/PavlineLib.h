#pragma once

#include "platform/pavline.h"
#include "standin/pavline/AudioCapture.h"
#include "standin/pavline/DecodePool.h"
#include "standin/pavline/PavlinePort.h"
#include "standin/pavline/SoundOutput.h"

#include <array>
#include <atomic>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The decode library's state behind the pavline.h functions: the ports, the sound device, the microphone, the
// conversions, and what the control header sets and reads.
class PavlineLib
{
public:
    static PavlineLib &Instance();
    ~PavlineLib();

    // Every call begins here: it is journaled and fails when a failure was set for it (the last error is set
    // then). Returns false to fail the call.
    bool Enter(const char *pName, const std::string &strArgs);
    // The same for a call that is not journaled (the block input): without a failure set for any call it
    // takes no lock and allocates nothing.
    bool EnterQuiet(const char *pName);

    static void SetLastError(int32_t nError);
    static int32_t LastError();
    // Sets the last error when nError is one; returns the call's int result (1 success, 0 failure).
    static int Result(int32_t nError);

    // The port, or null with the last error KTN_ERR_PORT.
    PavlinePort *Port(int nPort);
    SoundOutput &Sound() { return m_sound; }
    DecodePool &Pool() { return m_pool; }
    AudioCapture &Capture() { return m_capture; }

    // Starts a conversion thread; KTN_ERR_NONE or the error.
    int32_t Convert(const std::string &strSource, const std::string &strTarget, int nType,
                    KTN_fConvertProgressCallBack cb, void *pUser);
    // Waits for every conversion to end.
    void WaitForConversions();
    int RunningConversions();

    // Control.
    std::vector<std::string> Journal();
    void ClearJournal();
    void FailNextCall(const std::string &strName, int32_t nError, int nPassFirst);
    void Reset();

private:
    PavlineLib();
    void ReapConversions(bool bAll);
    // m_mutex held: whether the call fails now.
    bool FailsNow(const char *pName);

    std::mutex m_mutex;
    std::deque<std::string> m_journal;
    struct Failure
    {
        int32_t nError;
        int nPassFirst;     // calls let through before this one fails
    };
    // Looked up by the call's own name, without a string made of it.
    std::map<std::string, std::deque<Failure>, std::less<>> m_failNext;
    std::atomic<int> m_nFailures{0};     // queued in m_failNext

    SoundOutput m_sound;
    AudioCapture m_capture;
    // Before the ports: it outlives them.
    DecodePool m_pool;
    std::array<std::unique_ptr<PavlinePort>, KTN_VIEW_MAX_PORT> m_ports;

    struct Conversion
    {
        std::thread thread;
        std::shared_ptr<bool> pDone;    // set by the thread, read under m_conversionMutex
    };
    std::mutex m_conversionMutex;
    std::vector<Conversion> m_conversions;
};
