#include "standin/korvex/FileTransferTask.h"

FileTransferTask::FileTransferTask(int32_t nHandle, int32_t nLogin, KorvexReceivedFile file,
                                   ZDK_fFileTransferCallBack cb, void *pUser)
    : SimStream(Kind::Transfer, nHandle, nLogin)
    , m_file(std::move(file))
    , m_cb(cb)
    , m_pUser(pUser)
{
}

void FileTransferTask::Run()
{
    // 10 ms, and the time the file takes at 4 MiB/s.
    const auto duration = std::chrono::milliseconds(10 + static_cast<int64_t>(m_file.strData.size()) * 1000 / (4 << 20));
    if (!WaitUntil(Now() + duration) || Broken())
        return;
    FileTransfer::Instance().Received(m_file);
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (!Stopping() && !Broken())
        m_cb(Handle(), m_file.nKind, m_file.nValue1, m_file.nValue2, m_pUser);
}
