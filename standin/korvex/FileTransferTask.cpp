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
    if (!WaitUntil(Clock::now() + std::chrono::milliseconds(10)) || Broken())
        return;
    FileTransfer::Instance().Received(m_file);
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (!Stopping() && !Broken())
        m_cb(Handle(), m_file.nKind, m_file.nValue1, m_file.nValue2, m_pUser);
}
