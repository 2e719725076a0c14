#include "tests/support/ScratchMount.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

QString Options(qint64 nBytes) { return QString("size=%1,mode=0777").arg(nBytes); }

} // namespace

ScratchMount::ScratchMount(qint64 nBytes) : m_nBytes(nBytes)
{
    if (!m_dir.isValid()) {
        m_strWhy = "no temporary folder";
        return;
    }
    const QByteArray path = QFile::encodeName(m_dir.path());
    if (::mount("quorrin-scratch", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                Options(nBytes).toLatin1().constData()) != 0) {
        m_strWhy = QString("cannot mount a tmpfs at %1: %2").arg(m_dir.path(), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_bMounted = true;
}

ScratchMount::~ScratchMount()
{
    if (m_bMounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

bool ScratchMount::Fill(const QString &strName)
{
    if (!m_bMounted)
        return false;
    const QByteArray path = QFile::encodeName(QDir(m_dir.path()).filePath(strName));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // Large writes first, then smaller ones, until not even one byte fits.
    std::vector<char> block(64 * 1024, 'f');
    bool bFull = false;
    for (size_t nSize = block.size(); nSize > 0 && !bFull;) {
        const ssize_t nWritten = ::write(fd, block.data(), nSize);
        if (nWritten > 0)
            continue;
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten < 0 && errno != ENOSPC)
            break;
        if (nSize == 1)
            bFull = true;
        nSize /= 2;
    }
    ::fsync(fd);
    ::close(fd);
    return bFull;
}

void ScratchMount::Unfill(const QString &strName)
{
    QFile::remove(QDir(m_dir.path()).filePath(strName));
}

bool ScratchMount::SetReadOnly(bool bReadOnly)
{
    if (!m_bMounted)
        return false;
    const unsigned long nFlags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (bReadOnly ? MS_RDONLY : 0);
    return ::mount("quorrin-scratch", QFile::encodeName(m_dir.path()).constData(), "tmpfs", nFlags,
                   Options(m_nBytes).toLatin1().constData()) == 0;
}
