#include "device/RecordFiles.h"

#include "device/FreeFileName.h"
#include "device/media/CMp4Writer.h"
#include "platform/FilePtr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/error.h>
}

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

QString Stem(const QString &strPath)
{
    const QFileInfo info(strPath);
    return info.absolutePath() + "/" + info.completeBaseName();
}

bool Remux(const QString &strRaw, const QString &strSound, int nSoundRate, bool bSound, const QString &strMp4,
           int nFrameRate)
{
    const QByteArray mp4 = Local(strMp4);
    const QByteArray pcm = Local(strSound);
    CMp4Writer::RemuxAudio audio;
    audio.szPcmPath = pcm.constData();
    audio.nSampleRate = nSoundRate;
    audio.nChannels = 1;
    CMp4Writer remux(mp4.constData());
    // Read to the end, everything written.
    return remux.RemuxFile(Local(strRaw).constData(), mp4.constData(), nFrameRate, bSound ? &audio : nullptr) ==
           AVERROR_EOF;
}

QString KeepBeside(const QString &strRaw, const QString &strMp4, const QString &strSuffix)
{
    const QString strKept = FreeFileName(Stem(strMp4) + "." + strSuffix);
    return MoveFile(strRaw, strKept) ? strKept : QString();
}

} // namespace RecordFiles
