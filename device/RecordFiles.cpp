#include "device/RecordFiles.h"

#include "platform/FilePtr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace RecordFiles {

namespace {

constexpr size_t kCopyBlock = 64 * 1024;

QByteArray Local(const QString &strPath) { return strPath.toLocal8Bit(); }

} // namespace

Append AppendFile(const QString &strSource, std::FILE *pTarget)
{
    FilePtr pSource(std::fopen(Local(strSource).constData(), "rb"));
    if (!pSource)
        return Append::NoSource;
    std::vector<char> buffer(kCopyBlock);
    Append eResult = Append::Done;
    for (;;) {
        const size_t nRead = std::fread(buffer.data(), 1, buffer.size(), pSource.get());
        if (nRead == 0)
            break;
        if (std::fwrite(buffer.data(), 1, nRead, pTarget) != nRead) {
            eResult = Append::WriteFailed;
            break;
        }
    }
    if (std::fflush(pTarget) != 0)
        eResult = Append::WriteFailed;
    return eResult;
}

bool MoveFile(const QString &strSource, const QString &strTarget)
{
    const QByteArray source = Local(strSource), target = Local(strTarget);
    if (std::rename(source.constData(), target.constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    FilePtr pOut(std::fopen(target.constData(), "wbx"));
    if (!pOut)
        return false;
    bool bWhole = AppendFile(strSource, pOut.get()) == Append::Done && fsync(fileno(pOut.get())) == 0;
    if (std::fclose(pOut.release()) != 0)
        bWhole = false;
    if (!bWhole) {
        std::remove(target.constData());
        return false;
    }
    return std::remove(source.constData()) == 0;
}

void MoveInto(const QString &strFolder, std::initializer_list<QString> files)
{
    if (!QDir().mkpath(strFolder))
        return;
    for (const QString &strFile : files)
        if (!strFile.isEmpty() && QFileInfo::exists(strFile))
            std::rename(Local(strFile).constData(), Local(strFolder + "/" + QFileInfo(strFile).fileName()).constData());
}

void RemoveFiles(std::initializer_list<QString> files)
{
    for (const QString &strFile : files)
        if (!strFile.isEmpty() && QFileInfo::exists(strFile))
            QFile::remove(strFile);
}

} // namespace RecordFiles
