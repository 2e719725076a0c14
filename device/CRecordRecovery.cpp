#include "device/CRecordRecovery.h"

#include "device/CRecordManifest.h"
#include "device/CRecordWorker.h"
#include "device/FreeFileName.h"
#include "device/RecordFiles.h"
#include "device/media/CAudioConvert.h"
#include "device/media/CMp4Writer.h"
#include "platform/FilePtr.h"
#include "runtime/LightWeightLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *const kTag = "CRecordRecovery";

QByteArray Local(const QString &strPath) { return strPath.toLocal8Bit(); }

bool Exists(const QString &strPath) { return !strPath.isEmpty() && QFileInfo::exists(strPath); }

using RecordFiles::Stem;

// Locks the session's byte of the lock file for reading (shared) or writing (alone), waiting for it only when
// bWait. The lock belongs to the open file description: nothing else the process opens or closes lets it go.
bool LockSession(int nFd, int nSession, short nType, bool bWait)
{
    struct flock lock = {};
    lock.l_type = nType;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(static_cast<uint32_t>(nSession));
    lock.l_len = 1;
    for (;;) {
        if (fcntl(nFd, bWait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// The recovery thread of the process, so that its end can be waited for.
struct RecoveryThread
{
    std::mutex mutex;
    std::condition_variable done;
    bool bRunning = false;
};

RecoveryThread &Recovery()
{
    // Never destroyed: the thread may end while the process does.
    static RecoveryThread *pThread = new RecoveryThread;
    return *pThread;
}

// A segment of the joined route: "<port + 1>_<yyyyMMdd>_<hhmmss>_<running number>.h264" (or ".h265").
const QRegularExpression &SegmentName()
{
    static const QRegularExpression name("^(\\d+)_(\\d{8})_(\\d{6})_(\\d{6,})\\.(h264|h265)$");
    return name;
}

uint64_t SegmentNumber(const QString &strPath)
{
    return SegmentName().match(QFileInfo(strPath).fileName()).captured(4).toULongLong();
}

// Cuts a file back to what its manifest says is whole (nothing when it says all of it).
void CutTo(const QString &strPath, int64_t nBytes)
{
    if (nBytes >= 0 && Exists(strPath) && QFileInfo(strPath).size() > nBytes)
        QFile(strPath).resize(nBytes);
}

// One recording to finish: its manifest (made up for data whose manifest is lost), where its raw data lies, and
// the segments not joined yet, in order.
struct Recording
{
    CRecordManifest manifest;
    QString strManifestPath;    // empty when made up
    QString strStem;            // "<folder>/<stem>": the raw data is "<stem>.h264" or "<stem>.h265", its sound "<stem>.pcm"
    QStringList segments;
};

class FolderRecovery
{
public:
    FolderRecovery(const QString &strFolder, const QString &strAppDir, const std::function<QString()> &fnFallback)
        : m_strFolder(QDir::cleanPath(QFileInfo(strFolder).absoluteFilePath())), m_strAppDir(strAppDir),
          m_fnFallback(fnFallback)
    {
    }

    void Run();

private:
    void Gather(std::vector<Recording> &recordings);
    void Finish(const Recording &recording);
    bool Join(const Recording &recording, const QString &strJoined, const QString &strSound, int nSoundRate);
    void Keep(std::initializer_list<QString> files)
    {
        for (const QString &strFile : files)
            if (Exists(strFile))
                m_kept.insert(QFileInfo(strFile).absoluteFilePath());
    }

    // Where a recording goes whose manifest is lost (the record folder, read only when needed).
    QString Fallback()
    {
        if (m_strFallback.isEmpty())
            m_strFallback = m_fnFallback ? m_fnFallback() : m_strAppDir;
        return m_strFallback;
    }

    const QString m_strFolder;
    const QString m_strAppDir;
    const std::function<QString()> m_fnFallback;
    QString m_strFallback;
    std::set<QString> m_kept;   // what stays for the next start
};

void FolderRecovery::Run()
{
    QDir dir(m_strFolder);
    for (const QFileInfo &sub : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name))
        FolderRecovery(sub.absoluteFilePath(), m_strAppDir, m_fnFallback).Run();
    std::vector<Recording> recordings;
    Gather(recordings);
    for (const Recording &recording : recordings)
        Finish(recording);
    // What belongs to no recording goes: sound without pictures, a manifest's unfinished rewrite.
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!m_kept.count(file.absoluteFilePath())) {
            LOGN(QString("removed %1").arg(file.absoluteFilePath()), "CRecordRecovery::RecoverFolder");
            QFile::remove(file.absoluteFilePath());
        }
    }
    dir.rmdir(m_strFolder);
}

void FolderRecovery::Gather(std::vector<Recording> &recordings)
{
    QDir dir(m_strFolder);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    std::set<QString> names;
    for (const QFileInfo &file : files)
        names.insert(file.fileName());

    // Recordings by their manifests; the segments of a port belong to its newest one.
    std::map<int, size_t> newestOfPort;
    std::set<QString> stems;
    for (const QFileInfo &file : files) {
        if (file.suffix() != "rec")
            continue;
        Recording recording;
        if (!recording.manifest.Read(file.absoluteFilePath()))
            continue;
        recording.strManifestPath = file.absoluteFilePath();
        recording.strStem = m_strFolder + "/" + file.completeBaseName();
        stems.insert(file.completeBaseName());
        recordings.push_back(recording);
        if (recording.manifest.nRoute != CRecordWorker::RouteH264)
            continue;
        auto it = newestOfPort.find(recording.manifest.nPort);
        if (it == newestOfPort.end() ||
            QFileInfo(recordings[it->second].strManifestPath).lastModified() <= file.lastModified())
            newestOfPort[recording.manifest.nPort] = recordings.size() - 1;
    }

    std::map<int, QStringList> segmentsOfPort;
    std::set<QString> segmentNames;
    for (const QFileInfo &file : files) {
        const QRegularExpressionMatch match = SegmentName().match(file.fileName());
        if (!match.hasMatch())
            continue;
        segmentNames.insert(file.fileName());
        // The H.264 file of an H.265 segment whose conversion was cut short: the segment itself is still there.
        if (match.captured(5) == "h264" && names.count(file.completeBaseName() + ".h265")) {
            QFile::remove(file.absoluteFilePath());
            continue;
        }
        segmentsOfPort[match.captured(1).toInt() - 1] << file.absoluteFilePath();
    }
    for (auto &port : segmentsOfPort) {
        // In the order they were recorded, which their running numbers keep whatever the clock did.
        std::sort(port.second.begin(), port.second.end(),
                  [](const QString &a, const QString &b) { return SegmentNumber(a) < SegmentNumber(b); });
        auto it = newestOfPort.find(port.first);
        if (it != newestOfPort.end()) {
            // Those joined already, whose removal the kill cut short, are not joined twice.
            Recording &recording = recordings[it->second];
            for (const QString &strSegment : port.second) {
                if (static_cast<int64_t>(SegmentNumber(strSegment)) > recording.manifest.nJoined)
                    recording.segments << strSegment;
                else
                    RecordFiles::RemoveFiles({strSegment, strSegment.left(strSegment.size() - 5) + ".g711"});
            }
            continue;
        }
        // Segments whose manifest is lost: a file of their own in the fallback folder, named by the first.
        const QRegularExpressionMatch first = SegmentName().match(QFileInfo(port.second.first()).fileName());
        Recording recording;
        recording.manifest.strMp4Path = QString("%1/%2_%3_%4.mp4")
                                            .arg(Fallback())
                                            .arg(port.first + 1, 2, 10, QChar('0'))
                                            .arg(first.captured(2), first.captured(3));
        recording.manifest.nPort = port.first;
        recording.manifest.nRoute = CRecordWorker::RouteH264;
        recording.strStem = m_strFolder + "/" + QFileInfo(recording.manifest.strMp4Path).completeBaseName();
        recording.segments = port.second;
        recordings.push_back(recording);
        stems.insert(QFileInfo(recording.manifest.strMp4Path).completeBaseName());
    }

    // Raw data whose manifest is lost.
    for (const QFileInfo &file : files) {
        if ((file.suffix() != "h264" && file.suffix() != "h265") || segmentNames.count(file.fileName()) ||
            stems.count(file.completeBaseName()))
            continue;
        Recording recording;
        recording.manifest.strMp4Path = Fallback() + "/" + file.completeBaseName() + ".mp4";
        recording.manifest.nRoute = file.suffix() == "h264" ? CRecordWorker::RouteH264 : CRecordWorker::RouteH265;
        recording.strStem = m_strFolder + "/" + file.completeBaseName();
        stems.insert(file.completeBaseName());
        recordings.push_back(recording);
    }
}

bool FolderRecovery::Join(const Recording &recording, const QString &strJoined, const QString &strSound,
                          int nSoundRate)
{
    const CRecordManifest &manifest = recording.manifest;
    FilePtr pJoined(std::fopen(Local(strJoined).constData(), "ab"));
    FilePtr pSound;
    bool bFailed = !pJoined;
    const CAudioConvert convert;
    for (const QString &strSegment : recording.segments) {
        const QString strAudio = strSegment.left(strSegment.size() - 5) + ".g711";
        if (bFailed) {
            // In order or not at all: the rest waits for the next start.
            Keep({strSegment, strAudio});
            continue;
        }
        QString strSource = strSegment;
        if (strSegment.endsWith(".h265")) {
            const QString strTarget = strSegment.left(strSegment.size() - 5) + ".h264";
            bool bHung = false;
            if (!CRecordWorker::Convert(m_strAppDir, strSegment, strTarget, bHung)) {
                // Kept as it came, beside the recording, as the recorder keeps it.
                QFile::remove(strTarget);
                QDir().mkpath(QFileInfo(manifest.strMp4Path).absolutePath());
                FilePtr pKept(std::fopen(Local(Stem(manifest.strMp4Path) + ".h265").constData(), "ab"));
                if (pKept && RecordFiles::AppendFile(strSegment, pKept.get()) == RecordFiles::Append::Done) {
                    RecordFiles::RemoveFiles({strSegment, strAudio});
                } else {
                    Keep({strSegment, strAudio});
                    bFailed = true;
                }
                continue;
            }
            QFile::remove(strSegment);
            strSource = strTarget;
        }
        const long nBefore = std::ftell(pJoined.get());
        if (RecordFiles::AppendFile(strSource, pJoined.get()) == RecordFiles::Append::WriteFailed) {
            if (nBefore >= 0 && ftruncate(fileno(pJoined.get()), nBefore) == 0)
                std::fseek(pJoined.get(), nBefore, SEEK_SET);
            Keep({strSource, strAudio});
            bFailed = true;
            continue;
        }
        QFile::remove(strSource);
        // Its sound, when it is of the file's kind; the pictures' timing is kept by the segments' order.
        if (nSoundRate > 0 && manifest.nAudioRate == nSoundRate && Exists(strAudio)) {
            if (!pSound)
                pSound.reset(std::fopen(Local(strSound).constData(), "ab"));
            FilePtr pIn(std::fopen(Local(strAudio).constData(), "rb"));
            unsigned char in[1024];
            unsigned char pcm[2 * sizeof in];
            for (size_t nRead = 0; pSound && pIn && (nRead = std::fread(in, 1, sizeof in, pIn.get())) > 0;) {
                const int nBytes = convert.ToPcm16(in, static_cast<int>(nRead), pcm, static_cast<int>(sizeof pcm),
                                                   manifest.nAudioType);
                if (nBytes > 0)
                    std::fwrite(pcm, 1, static_cast<size_t>(nBytes), pSound.get());
            }
        }
        QFile::remove(strAudio);
    }
    if (pJoined && std::fclose(pJoined.release()) != 0)
        bFailed = true;
    return !bFailed;
}

void FolderRecovery::Finish(const Recording &recording)
{
    const CRecordManifest &manifest = recording.manifest;
    const QString strSound = recording.strStem + ".pcm";
    QString strRaw = recording.strStem + ".h264";
    if (!Exists(strRaw) && Exists(recording.strStem + ".h265"))
        strRaw = recording.strStem + ".h265";
    if (!Exists(strRaw) && recording.segments.isEmpty()) {
        RecordFiles::RemoveFiles({recording.strManifestPath, strSound});
        return;
    }
    // What a join killed in the middle appended past the manifest goes.
    CutTo(strRaw, manifest.nBytes);
    CutTo(strSound, manifest.nSoundBytes);
    // The sound: what was joined already, at the manifest's rate, or from the segments on, at the stream's.
    int nSoundRate = Exists(strSound) ? manifest.nSoundRate : manifest.nAudioRate;
    if (Exists(strSound) && (nSoundRate <= 0 || !Exists(strRaw))) {
        QFile::remove(strSound);
        nSoundRate = manifest.nAudioRate;
    }
    if (!recording.segments.isEmpty() && !Join(recording, strRaw, strSound, nSoundRate)) {
        LOGW(QString("cannot join what %1 recorded: kept for the next start").arg(manifest.strMp4Path),
             "CRecordRecovery::RecoverFolder");
        Keep({strRaw, strSound, recording.strManifestPath});
        return;
    }
    if (QFileInfo(strRaw).size() <= 0) {
        RecordFiles::RemoveFiles({strRaw, strSound, recording.strManifestPath});
        return;
    }
    // Never over a whole file: the file of a run killed after its end was written gets a name of its own.
    QString strMp4 = manifest.strMp4Path;
    if (Exists(strMp4) && CRecordRecovery::IsWholeMedia(strMp4))
        strMp4 = FreeFileName(strMp4);
    QDir().mkpath(QFileInfo(strMp4).absolutePath());
    const bool bSound = nSoundRate > 0 && QFileInfo(strSound).size() > 0;
    if (RecordFiles::Remux(strRaw, strSound, nSoundRate, bSound, strMp4, manifest.nFrameRate)) {
        RecordFiles::RemoveFiles({strRaw, strSound, recording.strManifestPath});
        LOGN(QString("recovered %1").arg(strMp4), "CRecordRecovery::RecoverFolder");
        return;
    }
    QFile::remove(strMp4);
    // Data that cannot become an MP4 file is kept beside its name as it is; where even that cannot be written,
    // it stays for the next start.
    const QString strKept = RecordFiles::KeepBeside(strRaw, strMp4, QFileInfo(strRaw).suffix());
    if (!strKept.isEmpty()) {
        RecordFiles::RemoveFiles({strSound, recording.strManifestPath});
        LOGW(QString("remux failed, kept %1").arg(strKept), "CRecordRecovery::RecoverFolder");
        return;
    }
    Keep({strRaw, strSound, recording.strManifestPath});
    LOGW(QString("cannot write %1: kept %2 for the next start").arg(strMp4, strRaw), "CRecordRecovery::RecoverFolder");
}

} // namespace

void CRecordRecovery::RecoverFolder(const QString &strFolder, const QString &strAppDir,
                                    const std::function<QString()> &fnFallbackFolder)
{
    FolderRecovery(strFolder, strAppDir, fnFallbackFolder).Run();
}

bool CRecordRecovery::IsWholeMedia(const QString &strPath)
{
    AVFormatContext *pRaw = nullptr;
    if (avformat_open_input(&pRaw, Local(strPath).constData(), nullptr, nullptr) < 0)
        return false;
    AvInputPtr pIn(pRaw);
    if (avformat_find_stream_info(pIn.get(), nullptr) < 0)
        return false;
    for (unsigned i = 0; i < pIn->nb_streams; ++i)
        if (pIn->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            return true;
    return false;
}

void CRecordRecovery::Start(const QString &strAppDir, int nSessionId, const std::function<QString()> &fnFallbackFolder)
{
    const QString strTag = "CRecordRecovery::Start";
    // Kept open to the end of the process: the lock goes with it.
    const int nFd = open(Local(strAppDir + "/Temp.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (nFd < 0) {
        LOGW(QString("no lock file in %1: no recording is recovered").arg(strAppDir), strTag);
        return;
    }
    const QString strOwn = QDir::cleanPath(strAppDir + QString("/Temp%1").arg(nSessionId));
    const QString strStamp = QString("%1-%2").arg(getpid()).arg(QDateTime::currentMSecsSinceEpoch());
    QStringList folders;
    // Alone in the session: what its folder holds was left by runs that are gone.
    if (LockSession(nFd, nSessionId, F_WRLCK, false)) {
        const QFileInfoList left = QDir(strOwn).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        if (!left.isEmpty()) {
            const QString strInto = strOwn + "/Recover-" + strStamp;
            if (QDir().mkpath(strInto)) {
                for (const QFileInfo &entry : left)
                    std::rename(Local(entry.absoluteFilePath()).constData(),
                                Local(strInto + "/" + entry.fileName()).constData());
                folders << strInto;
            }
        }
        // Held shared from here on, as every run of the session holds it.
        LockSession(nFd, nSessionId, F_RDLCK, false);
    } else {
        LockSession(nFd, nSessionId, F_RDLCK, true);
    }
    // The folders of other sessions that no live run holds.
    static const QRegularExpression tempName("^Temp(-?\\d+)$");
    for (const QFileInfo &entry : QDir(strAppDir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QRegularExpressionMatch match = tempName.match(entry.fileName());
        bool bNumber = false;
        const int nSession = match.hasMatch() ? match.captured(1).toInt(&bNumber) : 0;
        if (!bNumber || nSession == nSessionId || !LockSession(nFd, nSession, F_WRLCK, false))
            continue;
        const QString strInto = strOwn + "/Recover-" + QString::number(nSession) + "-" + strStamp;
        if (QDir().mkpath(strOwn) && std::rename(Local(entry.absoluteFilePath()).constData(), Local(strInto).constData()) == 0)
            folders << strInto;
        LockSession(nFd, nSession, F_UNLCK, false);
    }
    if (folders.isEmpty())
        return;
    LOGN(QString("recordings left by runs that ended: %1").arg(folders.join(", ")), strTag);
    {
        std::lock_guard<std::mutex> lock(Recovery().mutex);
        Recovery().bRunning = true;
    }
    std::thread([folders, strAppDir, strOwn, fnFallbackFolder] {
        for (const QString &strFolder : folders)
            RecoverFolder(strFolder, strAppDir, fnFallbackFolder);
        // The run's own folder goes too once nothing of it is left (its recordings remove it otherwise).
        QDir().rmdir(strOwn);
        RecoveryThread &recovery = Recovery();
        {
            std::lock_guard<std::mutex> lock(recovery.mutex);
            recovery.bRunning = false;
        }
        recovery.done.notify_all();
    }).detach();
}

bool CRecordRecovery::Wait(std::chrono::milliseconds timeout)
{
    RecoveryThread &recovery = Recovery();
    std::unique_lock<std::mutex> lock(recovery.mutex);
    return recovery.done.wait_for(lock, timeout, [&] { return !recovery.bRunning; });
}
