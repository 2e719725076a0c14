#pragma once

#include <QString>
#include <QTemporaryDir>

// A small file system of its own (tmpfs) at a fresh folder, for the tests of a full or read-only disk. Making it
// needs the right to mount (root, or CAP_SYS_ADMIN); without it Mounted() is false and Why() says why, so that a
// test can skip. The file system goes (detached) with the object, even while a process still has files open in it.
class ScratchMount
{
public:
    explicit ScratchMount(qint64 nBytes);
    ~ScratchMount();
    ScratchMount(const ScratchMount &) = delete;
    ScratchMount &operator=(const ScratchMount &) = delete;

    bool Mounted() const { return m_bMounted; }
    QString Why() const { return m_strWhy; }
    // The folder the file system is mounted at.
    QString Path() const { return m_dir.path(); }

    // Fills what is left of the file system with one file ("fill" unless named), so that the next write of any
    // size fails with "no space"; true when the file system is full.
    bool Fill(const QString &strName = "fill");
    // Gives back the space of the fill file.
    void Unfill(const QString &strName = "fill");
    // Remounts it read-only (true) or writable again: every write is then refused, even root's.
    bool SetReadOnly(bool bReadOnly);

private:
    QTemporaryDir m_dir;
    qint64 m_nBytes = 0;
    bool m_bMounted = false;
    QString m_strWhy;
};
