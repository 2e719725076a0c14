#pragma once

#include "platform/korvex.h"
#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/SimStream.h"

#include <atomic>

// One file on its way to the device: after its transfer time (10 ms and 4 MiB/s) it records the file as received and reports
// the result once through the callback; the handle then stays valid for acknowledgements until the logout.
class FileTransferTask : public SimStream
{
public:
    FileTransferTask(int32_t nHandle, int32_t nLogin, KorvexReceivedFile file, ZDK_fFileTransferCallBack cb,
                     void *pUser);

    void Acknowledge() { ++m_nAcks; }
    int Acks() const { return m_nAcks.load(); }

protected:
    void Run() override;

private:
    KorvexReceivedFile m_file;
    ZDK_fFileTransferCallBack m_cb;
    void *m_pUser;
    std::atomic<int> m_nAcks{0};
};
