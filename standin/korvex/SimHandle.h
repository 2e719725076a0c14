#pragma once

#include <cstdint>
#include <thread>

// A handle of the simulated library (a live stream, a playback, a download, an upgrade, a file transfer, a voice
// talk) that calls back from a thread of the library, and its login.
class SimHandle
{
public:
    enum class Kind { Live, Playback, Download, Upgrade, Transfer, Talk };

    SimHandle(Kind eKind, int32_t nHandle, int32_t nLogin)
        : m_eKind(eKind)
        , m_nHandle(nHandle)
        , m_nLogin(nLogin)
    {
    }
    virtual ~SimHandle() = default;
    SimHandle(const SimHandle &) = delete;
    SimHandle &operator=(const SimHandle &) = delete;

    Kind GetKind() const { return m_eKind; }
    int32_t Handle() const { return m_nHandle; }
    int32_t Login() const { return m_nLogin; }

    virtual void Start() = 0;
    // Returns when no callback of this handle can run any more. Called from one of the handle's own callbacks it
    // cannot wait for that callback: whatever must still end after it is handed back as a thread to join later
    // (else the returned thread is empty).
    virtual std::thread Stop() = 0;
    // The connection was lost: nothing more is delivered.
    virtual void Break() = 0;

private:
    const Kind m_eKind;
    const int32_t m_nHandle;
    const int32_t m_nLogin;
};
