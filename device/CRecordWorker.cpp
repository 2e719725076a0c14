#include "device/CRecordWorker.h"

#include "device/FreeFileName.h"
#include "device/RecordFiles.h"
#include "device/media/CAudioConvert.h"
#include "device/media/CMp4Writer.h"
#include "platform/korvex.h"
#include "runtime/CDataCenter.h"
#include "runtime/LightWeightLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kIdlePoll{100};
constexpr std::chrono::milliseconds kChildPoll{10};

QByteArray Local(const QString &strPath) { return strPath.toLocal8Bit(); }

std::FILE *OpenFile(const QString &strPath, const char *pMode) { return std::fopen(Local(strPath).constData(), pMode); }

// The ffmpeg program: the one in the application directory when it is there, else the one on the PATH.
QString FfmpegProgram(const QString &strAppDir)
{
    const QString strLocal = strAppDir + "/ffmpeg";
    return QFileInfo(strLocal).isExecutable() ? strLocal : QString();
}

using RecordFiles::Stem;

// The G.711 sound that goes beside a segment ("..._000001.h264" -> "..._000001.g711").
QString SoundOfSegment(const QString &strSegment) { return strSegment.left(strSegment.size() - 5) + ".g711"; }

// Every recorder's worker of the process, so that its end can be waited for after its channel has gone.
struct WorkerCount
{
    std::mutex mutex;
    std::condition_variable done;
    int nRunning = 0;
};

WorkerCount &Workers()
{
    // Never destroyed: a worker may end while the process does.
    static WorkerCount *pWorkers = new WorkerCount;
    return *pWorkers;
}

// The failure callback, held while it runs so that its replacement waits for it.
struct FailReport
{
    std::mutex mutex;
    CRecordWorker::FailCallBack cb = nullptr;
    void *pUser = nullptr;
};

FailReport &FailReports()
{
    // Never destroyed: a worker may report while the process ends.
    static FailReport *pReport = new FailReport;
    return *pReport;
}

int CodecOfBlock(uint8_t nBlockCodec)
{
    if (nBlockCodec == StreamBlock::kCodecH265)
        return CMp4Writer::kCodecH265;
    if (nBlockCodec == StreamBlock::kCodecH264)
        return CMp4Writer::kCodecH264;
    return 0;
}

} // namespace

constexpr int64_t CRecordWorker::kRollOverBytes;
constexpr std::chrono::milliseconds CRecordWorker::kConvertLimit;
constexpr std::chrono::milliseconds CRecordWorker::kCloseBudget;

CRecordWorker::CRecordWorker(int nPort)
    : m_nPort(nPort)
{
}

std::shared_ptr<CRecordWorker> CRecordWorker::Create(int nPort)
{
    std::shared_ptr<CRecordWorker> pWorker(new CRecordWorker(nPort));
    {
        std::lock_guard<std::mutex> lock(Workers().mutex);
        ++Workers().nRunning;
    }
    pWorker->m_thread = std::thread(&CRecordWorker::RecordThreadProc, pWorker);
    return pWorker;
}

CRecordWorker::~CRecordWorker()
{
    // Reached once the thread has let go of its reference: joined by Close, or ended on its own after it (and
    // then possibly on that very thread).
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

bool CRecordWorker::Close(std::chrono::milliseconds wait)
{
    Stop();
    bool bEnded = false;
    {
        std::unique_lock<std::mutex> lock(m_queueMutex);
        m_bStopRequest = true;
        m_bWake = true;
        m_wake.notify_all();
        bEnded = m_ended.wait_for(lock, wait, [this] { return m_bEnded; });
    }
    if (m_thread.joinable()) {
        if (bEnded) {
            m_thread.join();
        } else {
            // Still converting or remuxing: it finishes the files on its own, the channel does not wait.
            LOGN(QString("port %1: the recording is finished after the channel").arg(m_nPort),
                 "CDecodeChannel::~CDecodeChannel");
            m_thread.detach();
        }
    }
    return bEnded;
}

bool CRecordWorker::WaitForAll(std::chrono::milliseconds timeout)
{
    WorkerCount &workers = Workers();
    std::unique_lock<std::mutex> lock(workers.mutex);
    return workers.done.wait_for(lock, timeout, [&] { return workers.nRunning == 0; });
}

void CRecordWorker::SetFailCallBack(FailCallBack cbFail, void *pUser)
{
    FailReport &report = FailReports();
    std::lock_guard<std::mutex> lock(report.mutex);
    report.cb = cbFail;
    report.pUser = pUser;
}

void CRecordWorker::ReportFailure(bool bRecording) const
{
    LOGW(QString("port %1: a recorded file could not be finished; its data is kept for the next start").arg(m_nPort),
         "CDecodeChannel::ConvertFile");
    FailReport &report = FailReports();
    std::lock_guard<std::mutex> lock(report.mutex);
    if (report.cb)
        report.cb(m_nPort, bRecording, report.pUser);
}

CRecordWorker::Route CRecordWorker::RouteOf(const QString &strPath)
{
    if (strPath.endsWith(".h264"))
        return RouteH264;
    if (strPath.endsWith(".h265"))
        return RouteH265;
    return RouteNone;
}

QString CRecordWorker::TempFolder()
{
    const CDataCenter *pCenter = CDataCenter::GetInstance();
    return QDir::cleanPath(pCenter->m_strAppDir + QString("/Temp%1").arg(pCenter->m_nSessionId));
}

QString CRecordWorker::RollOverName(const QString &strPath)
{
    const int nSlash = strPath.lastIndexOf('/');
    const int nNameStart = nSlash + 1;
    int nUnderscore = strPath.indexOf('_', nNameStart);
    if (nUnderscore < 0) {
        // A name without "_": the whole name before its extension is kept.
        const int nDot = strPath.indexOf('.', nNameStart);
        nUnderscore = nDot < 0 ? strPath.size() : nDot;
    }
    const int nDot = strPath.indexOf('.', nUnderscore);
    const QString strTail = nDot < 0 ? QString() : strPath.mid(nDot);
    return strPath.left(nUnderscore) + "_" + QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss") + strTail;
}

// ---------------------------------------------------------------------------------------------------------
// Start, stop and the tap.

int CRecordWorker::Start(const QString &strPath)
{
    const Route eRoute = RouteOf(strPath);
    if (eRoute == RouteNone)
        return 0;
    // A recording that runs, or one the worker is still joining, refuses the start at once: the page's thread
    // never waits for a conversion or a remux.
    if (m_bRecording.load() || m_bJoining.load())
        return 0;
    // A name already taken (a recording of the same second) is never overwritten.
    const QString strMp4 = FreeFileName(strPath.left(strPath.size() - 5) + ".mp4");
    const QString strTempFolder = TempFolder();
    std::unique_ptr<CMp4Writer> pWriter;
    // Free: the worker holds it for long only while a joining runs, and none does.
    std::unique_lock<std::mutex> file(m_fileMutex, std::defer_lock);
    if (eRoute == RouteH264) {
        file.lock();
        m_strAppDir = CDataCenter::GetInstance()->m_strAppDir;
        m_strTempFolder = strTempFolder;
        QDir().mkpath(m_strTempFolder);
        m_strMp4Path = strMp4;
        m_strAccumulationPath = m_strTempFolder + "/" + QFileInfo(strMp4).completeBaseName() + ".h264";
        m_nAccumulationFrameRate = 0;
        m_nAccumulationFrames = 0;
        m_bConverterHung = false;
        m_bJoinFailed = false;
        m_bRecordFailed = false;
        if (!OpenAccumulation())
            return 0;
        m_pPlaceholder.reset(OpenFile(m_strMp4Path, "ab"));
        m_manifest = CRecordManifest();
        m_manifest.strMp4Path = m_strMp4Path;
        m_manifest.nPort = m_nPort;
        m_manifest.nRoute = RouteH264;
        // What the stream has shown so far, for a start after a killed run that finds only segments.
        m_manifest.nFrameRate = m_nStreamFrameRate.load(std::memory_order_relaxed);
        m_manifest.nAudioType = m_nStreamAudioCodec.load(std::memory_order_relaxed);
        m_manifest.nAudioRate = m_nStreamAudioRate.load(std::memory_order_relaxed);
        m_manifest.Write(CRecordManifest::PathFor(m_strTempFolder, m_strMp4Path));
    } else {
        pWriter = std::make_unique<CMp4Writer>(Local(strMp4).constData());
    }
    std::lock_guard<std::mutex> tap(m_tapMutex);
    m_nVideoBlocks = 0;
    m_bSegmentStarted = false;
    m_bLost = false;
    m_parser.Reset();
    m_strSegmentFolder = strTempFolder;
    m_strWriterPath = strMp4;
    m_nWriterCodec = 0;
    m_nH265Bytes = 0;
    m_pWriter = std::move(pWriter);
    m_bAudioAnnounced = false;
    m_nWriterSoundRate = 0;
    m_strJournalStem.clear();
    m_bRollOverFailed = false;
    m_eRoute = eRoute;
    // Recording before joining: a worker that sees the joining sees a recording that has not stopped.
    m_bRecording = true;
    m_bJoining = eRoute == RouteH264;
    // The recording begins with what the channel received since the last key frame: the picture on screen.
    m_preRoll.ForEach([this](const uint8_t *pData, uint32_t nLength, const RealDataFrame &frame) {
        TapBlocks(pData, nLength, frame);
    });
    return 1;
}

int CRecordWorker::Stop()
{
    int nRet = 1;
    {
        std::lock_guard<std::mutex> tap(m_tapMutex);
        if (!m_bRecording.load())
            return 0;
        if (m_pWriter && !FinishWriterFile())
            nRet = -1;
        QueueSegment();
        m_nVideoBlocks = 0;
        m_bSegmentStarted = false;
        m_eRoute = RouteNone;
        // After the last segment is queued: a worker that sees the recording stopped also sees that segment.
        m_bRecording = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_bWake = true;
    }
    m_wake.notify_all();
    return nRet;
}

void CRecordWorker::Tap(const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame)
{
    if (!pFrame || !pData || nLength == 0)
        return;
    if (pFrame->nKind == ZDK_FRAME_AUDIO && pFrame->nSampleRate > 0) {
        m_nStreamAudioRate.store(static_cast<int>(pFrame->nSampleRate), std::memory_order_relaxed);
        m_nStreamAudioCodec.store(static_cast<int>(pFrame->nCodec), std::memory_order_relaxed);
    } else if (pFrame->nKind == ZDK_FRAME_VIDEO && pFrame->nFrameRate > 0) {
        m_nStreamFrameRate.store(static_cast<int>(pFrame->nFrameRate), std::memory_order_relaxed);
    }
    if (pFrame->nKind != ZDK_FRAME_VIDEO && pFrame->nKind != ZDK_FRAME_AUDIO)
        return;
    bool bRollOverFailed = false;
    {
        std::lock_guard<std::mutex> tap(m_tapMutex);
        m_preRoll.Add(pData, nLength, *pFrame);
        if (m_bRecording.load(std::memory_order_relaxed))
            TapBlocks(pData, nLength, *pFrame);
        std::swap(bRollOverFailed, m_bRollOverFailed);
    }
    if (bRollOverFailed)
        ReportFailure(true);
}

void CRecordWorker::TapBlocks(const unsigned char *pData, uint32_t nLength, const RealDataFrame &frame)
{
    const uint8_t *p = pData;
    size_t nSize = nLength;
    StreamBlock::View block;
    while (m_parser.Next(p, nSize, block)) {
        if (m_eRoute == RouteH264)
            TapH264(block, frame);
        else if (m_eRoute == RouteH265)
            TapH265(block, frame);
    }
    // Each call brings whole blocks; nothing is carried into the next one.
    m_parser.Reset();
}

void CRecordWorker::TapH264(const StreamBlock::View &block, const RealDataFrame &frame)
{
    if (block.IsAudio()) {
        // The sound goes beside the segment's pictures, from the recording's first picture on; the worker
        // encodes it into the MP4 file's AAC track.
        const int nRate = StreamBlock::SampleRateOfCode(block.nRateCode);
        if (!m_pSegment || nRate <= 0 || block.nPayload == 0)
            return;
        if (!m_pSegmentAudio) {
            if (m_nSegmentAudioRate > 0)
                return;     // its file could not be made
            m_nSegmentAudioType = block.nCodec;
            m_nSegmentAudioRate = nRate;
            m_pSegmentAudio.reset(OpenFile(SoundOfSegment(m_strSegmentPath), "ab"));
            if (!m_pSegmentAudio)
                return;
        } else if (block.nCodec != m_nSegmentAudioType || nRate != m_nSegmentAudioRate) {
            return;     // one kind of sound a segment; the worker fills what is missing with silence
        }
        if (std::fwrite(block.pPayload, 1, block.nPayload, m_pSegmentAudio.get()) != block.nPayload)
            m_bLost = true;
        return;
    }
    // Video of another codec would corrupt the elementary stream.
    if (!block.IsVideo() || !CodecOfBlock(block.nCodec))
        return;
    const int nFrameRate = frame.nFrameRate > 0 ? static_cast<int>(frame.nFrameRate) : block.nFrameRate;
    if (!m_bSegmentStarted) {
        // The recording begins at a key frame: what comes before it cannot be decoded.
        if (!block.IsKeyFrame())
            return;
        m_bSegmentStarted = true;
        OpenSegment(block.nCodec, nFrameRate);
    } else if (block.IsKeyFrame() && m_nVideoBlocks > 0) {
        // A segment runs from one key frame to the next, so that each one (and every file the worker rolls
        // over into) begins decodable.
        QueueSegment();
        OpenSegment(block.nCodec, nFrameRate);
    }
    ++m_nVideoBlocks;
    // A picture that cannot be kept makes the file incomplete: its finishing reports it.
    if (!m_pSegment || std::fwrite(block.pPayload, 1, block.nPayload, m_pSegment.get()) != block.nPayload)
        m_bLost = true;
}

void CRecordWorker::TapH265(const StreamBlock::View &block, const RealDataFrame &frame)
{
    FrameInfo info;
    info.pData = block.pPayload;
    info.nLength = static_cast<int>(block.nPayload);
    if (block.IsVideo()) {
        info.nCodec = CodecOfBlock(block.nCodec);
        if (!info.nCodec)
            return;
        // Rolled over at a key frame, so that the new file begins decodable; a stream that changed its codec goes
        // on in a new file too, as one file has one codec.
        if (block.IsKeyFrame() &&
            (m_nH265Bytes > kRollOverBytes || (m_nWriterCodec != 0 && info.nCodec != m_nWriterCodec))) {
            const QString strNext = FreeFileName(RollOverName(m_strWriterPath));
            if (!FinishWriterFile())
                m_bRollOverFailed = true;
            m_nH265Bytes = 0;
            m_nWriterCodec = 0;
            m_strWriterPath = strNext;
            m_pWriter = std::make_unique<CMp4Writer>(Local(strNext).constData());
            m_bAudioAnnounced = false;
            m_nWriterSoundRate = 0;
        }
        if (block.IsKeyFrame() && m_nWriterCodec == 0)
            m_nWriterCodec = info.nCodec;
        // The audio stream is made with the file, at its first key frame: the writer learns the stream's
        // sound first, even when no audio block has come since the recording began.
        if (!m_bAudioAnnounced && m_pWriter) {
            m_bAudioAnnounced = true;
            FrameInfo sound;
            sound.nFrameType = CMp4Writer::kFrameAudio;
            sound.nSampleRate = m_nStreamAudioRate.load(std::memory_order_relaxed);
            sound.nCodec = m_nStreamAudioCodec.load(std::memory_order_relaxed);
            sound.nChannels = 1;
            sound.nBitsPerSample = 16;
            if (sound.nSampleRate > 0) {
                m_pWriter->WriteFrame(&sound);
                m_nWriterSoundRate = sound.nSampleRate;
            }
        }
        info.nFrameType = CMp4Writer::kFrameVideo;
        info.nSubType = block.IsKeyFrame() ? 0 : 1;
        info.nFrameRate = frame.nFrameRate > 0 ? static_cast<int>(frame.nFrameRate) : block.nFrameRate;
        info.nWidth = frame.nWidth;
        info.nHeight = frame.nHeight;
        // The journal holds the file's pictures from its first key frame on, whatever becomes of the file.
        if (m_strJournalStem.isEmpty() && block.IsKeyFrame() && info.nCodec == m_nWriterCodec)
            OpenJournal(info.nCodec, info.nFrameRate);
        if (m_pJournal && info.nCodec == m_nJournalCodec) {
            if (std::fwrite(block.pPayload, 1, block.nPayload, m_pJournal.get()) != block.nPayload)
                m_bJournalFailed = true;
        }
    } else {
        info.nSampleRate = StreamBlock::SampleRateOfCode(block.nRateCode);
        if (info.nSampleRate <= 0)
            return;
        info.nFrameType = CMp4Writer::kFrameAudio;
        info.nCodec = block.nCodec;     // the talk header's audio type is the converter's codec number
        m_bAudioAnnounced = true;
        info.nChannels = 1;
        info.nBitsPerSample = 16;
        if (m_strJournalStem.isEmpty())
            m_nWriterSoundRate = info.nSampleRate;  // the file is made with the last sound before its picture
        else
            JournalSound(block);
    }
    m_nH265Bytes += static_cast<int64_t>(block.nPayload);
    if (m_pWriter)
        m_pWriter->WriteFrame(&info);
}

void CRecordWorker::OpenJournal(int nCodec, int nFrameRate)
{
    m_strJournalStem = m_strSegmentFolder + "/" + QFileInfo(m_strWriterPath).completeBaseName();
    m_bJournalFailed = false;
    m_journalManifest = CRecordManifest();
    m_journalManifest.strMp4Path = m_strWriterPath;
    m_journalManifest.nPort = m_nPort;
    m_journalManifest.nRoute = RouteH265;
    m_journalManifest.nFrameRate = nFrameRate;
    // The sound of the file is the rate its audio stream was made with (8000 Hz when none was known).
    m_journalManifest.nSoundRate = m_nWriterSoundRate > 0 ? m_nWriterSoundRate : 8000;
    m_nJournalCodec = nCodec;
    const QString strVideo = m_strJournalStem + (nCodec == CMp4Writer::kCodecH265 ? ".h265" : ".h264");
    m_pJournal.reset(OpenFile(strVideo, "wb"));
    if (!m_pJournal && QDir().mkpath(m_strSegmentFolder))
        m_pJournal.reset(OpenFile(strVideo, "wb"));
    // One write a picture, so that a killed run leaves whole ones.
    if (m_pJournal)
        std::setvbuf(m_pJournal.get(), nullptr, _IONBF, 0);
    m_pJournalSound.reset();
    if (!m_pJournal || !m_journalManifest.Write(m_strJournalStem + ".rec"))
        m_bJournalFailed = true;
}

void CRecordWorker::JournalSound(const StreamBlock::View &block)
{
    if (m_bJournalFailed || StreamBlock::SampleRateOfCode(block.nRateCode) != m_journalManifest.nSoundRate ||
        block.nPayload == 0)
        return;
    if (!m_pJournalSound) {
        m_pJournalSound.reset(OpenFile(m_strJournalStem + ".pcm", "wb"));
        if (!m_pJournalSound) {
            m_bJournalFailed = true;
            return;
        }
    }
    m_vecJournalPcm.resize(2 * static_cast<size_t>(block.nPayload));
    const int nBytes = CAudioConvert().ToPcm16(block.pPayload, static_cast<int>(block.nPayload), m_vecJournalPcm.data(),
                                               static_cast<int>(m_vecJournalPcm.size()), block.nCodec);
    if (nBytes > 0 &&
        std::fwrite(m_vecJournalPcm.data(), 1, static_cast<size_t>(nBytes), m_pJournalSound.get()) !=
            static_cast<size_t>(nBytes))
        m_bJournalFailed = true;
}

bool CRecordWorker::FinishWriterFile()
{
    if (!m_pWriter)
        return true;
    const bool bWhole = m_pWriter->Finish();
    m_pWriter.reset();  // a file that nothing was written into goes
    for (FilePtr *pFile : {&m_pJournal, &m_pJournalSound}) {
        if (*pFile && (std::fflush(pFile->get()) != 0 || std::ferror(pFile->get())))
            m_bJournalFailed = true;
        if (*pFile && std::fclose(pFile->release()) != 0)
            m_bJournalFailed = true;
    }
    const QString strStem = m_strJournalStem;
    m_strJournalStem.clear();
    if (strStem.isEmpty())
        return bWhole;
    if (bWhole) {
        RecordFiles::RemoveFiles({strStem + ".h264", strStem + ".h265", strStem + ".pcm", strStem + ".rec"});
        QDir().rmdir(m_strSegmentFolder);   // once no recording uses it
        return true;
    }
    // The journal is the whole recording: it waits in a folder of its own for the next start, and the broken
    // file goes. Without a whole journal the file is kept as it is, all there is.
    if (!m_bJournalFailed)
        QFile::remove(m_journalManifest.strMp4Path);
    const QString strPark = FreeFileName(strStem);
    RecordFiles::MoveInto(strPark, {strStem + ".h264", strStem + ".h265", strStem + ".pcm", strStem + ".rec"});
    LOGW(QString("%1 could not be written whole; kept %2 for the next start").arg(m_journalManifest.strMp4Path, strPark),
         "CDecodeChannel::StopRecord");
    return false;
}

void CRecordWorker::OpenSegment(uint8_t nCodec, int nFrameRate)
{
    // The port counted from 1, the local time and a running number: segments of one second stay apart.
    const char *pExt = nCodec == StreamBlock::kCodecH265 ? ".h265" : ".h264";
    m_strSegmentPath = QString("%1/%2_%3_%4%5")
                           .arg(m_strSegmentFolder)
                           .arg(m_nPort + 1)
                           .arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"))
                           .arg(++m_nSegmentNumber, 6, 10, QChar('0'))
                           .arg(pExt);
    m_pSegment.reset(OpenFile(m_strSegmentPath, "ab"));
    if (!m_pSegment && QDir().mkpath(m_strSegmentFolder))
        m_pSegment.reset(OpenFile(m_strSegmentPath, "ab"));
    // One write a picture: a run killed in the middle leaves whole pictures for the next start to join.
    if (m_pSegment)
        std::setvbuf(m_pSegment.get(), nullptr, _IONBF, 0);
    m_nSegmentFrameRate = nFrameRate;
    m_nVideoBlocks = 0;
    m_pSegmentAudio.reset();
    m_nSegmentAudioType = 0;
    m_nSegmentAudioRate = 0;
}

void CRecordWorker::QueueSegment()
{
    const int nFrames = m_nVideoBlocks;
    m_nVideoBlocks = 0;
    const bool bSound = m_pSegmentAudio != nullptr;
    m_pSegmentAudio.reset();
    if (!m_pSegment) {
        if (bSound)
            QFile::remove(SoundOfSegment(m_strSegmentPath));
        return;
    }
    if (std::fflush(m_pSegment.get()) != 0)
        m_bLost = true;
    m_pSegment.reset();
    Segment segment;
    segment.strPath = m_strSegmentPath;
    segment.nNumber = m_nSegmentNumber;
    segment.nFrameRate = m_nSegmentFrameRate;
    segment.nFrames = nFrames;
    if (bSound) {
        segment.strAudioPath = SoundOfSegment(m_strSegmentPath);
        segment.nAudioType = m_nSegmentAudioType;
        segment.nAudioRate = m_nSegmentAudioRate;
    }
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_segments.push_back(std::move(segment));
    }
    m_wake.notify_all();
}

// ---------------------------------------------------------------------------------------------------------
// The worker.

int CRecordWorker::RecordThreadProc(std::shared_ptr<CRecordWorker> pWorker)
{
    pWorker->ConvertFile();
    {
        std::lock_guard<std::mutex> lock(pWorker->m_queueMutex);
        pWorker->m_bEnded = true;
    }
    pWorker->m_ended.notify_all();
    // The last reference once the channel has gone: the recorder goes with its thread.
    pWorker.reset();
    WorkerCount &workers = Workers();
    {
        std::lock_guard<std::mutex> lock(workers.mutex);
        --workers.nRunning;
    }
    workers.done.notify_all();
    return 0;
}

void CRecordWorker::ConvertFile()
{
    for (;;) {
        Segment segment;
        if (TakeSegment(segment)) {
            JoinSegment(segment);
            continue;
        }
        FinishIfStopped();
        if (m_bStopRequest.load() && !m_bJoining.load())
            return;
        std::unique_lock<std::mutex> lock(m_queueMutex);
        m_wake.wait_for(lock, kIdlePoll, [this] { return !m_segments.empty() || m_bWake || m_bStopRequest.load(); });
        m_bWake = false;
    }
}

bool CRecordWorker::TakeSegment(Segment &segment)
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_segments.empty())
        return false;
    segment = m_segments.front();
    m_segments.pop_front();
    return true;
}

void CRecordWorker::JoinSegment(const Segment &segment)
{
    QString strSource = segment.strPath;
    if (segment.strPath.endsWith(".h265")) {
        // The joined file is H.264: an H.265 segment is converted first.
        const QString strTarget = segment.strPath.left(segment.strPath.size() - 5) + ".h264";
        if (m_bConverterHung || !Convert(m_strAppDir, segment.strPath, strTarget, m_bConverterHung)) {
            QFile::remove(strTarget);
            KeepUnconverted(segment.strPath);
            QFile::remove(segment.strPath);
            if (!segment.strAudioPath.isEmpty())
                QFile::remove(segment.strAudioPath);
            return;
        }
        QFile::remove(segment.strPath);
        strSource = strTarget;
    }
    bool bRollOverFailed = false;
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        if (!m_bJoining.load()) {
            RecordFiles::RemoveFiles({strSource, segment.strAudioPath});
            return;
        }
        if (!m_bJoinFailed && !m_pAccumulation && !OpenAccumulation())
            m_bJoinFailed = true;
        const long nBefore = m_pAccumulation ? std::ftell(m_pAccumulation.get()) : -1;
        if (!m_bJoinFailed) {
            const RecordFiles::Append eAppend = RecordFiles::AppendFile(strSource, m_pAccumulation.get());
            if (eAppend == RecordFiles::Append::WriteFailed) {
                // What was appended goes again, so that the segment can still be joined whole by the next start.
                if (nBefore < 0 || ftruncate(fileno(m_pAccumulation.get()), nBefore) != 0 ||
                    std::fseek(m_pAccumulation.get(), nBefore, SEEK_SET) != 0)
                    m_bRecordFailed = true;
                m_bJoinFailed = true;
                LOGW(QString("cannot join %1 into %2").arg(strSource, m_strAccumulationPath), "CDecodeChannel::ConvertFile");
            } else if (eAppend == RecordFiles::Append::NoSource) {
                m_bRecordFailed = true;
            }
        }
        if (m_bJoinFailed) {
            // Nothing more is joined into this file: its segments are kept in order beside it for the next start.
            RecordFiles::MoveInto(ParkFolder(), {strSource, segment.strAudioPath});
            return;
        }
        if (m_nAccumulationFrameRate <= 0)
            m_nAccumulationFrameRate = segment.nFrameRate;
        // Its sound starts where its pictures start.
        AppendSound(segment);
        m_nAccumulationFrames += segment.nFrames;
        if (m_manifest.nAudioRate == 0 && segment.nAudioRate > 0) {
            m_manifest.nAudioType = segment.nAudioType;
            m_manifest.nAudioRate = segment.nAudioRate;
        }
        // The manifest says the segment is in before it goes, so that it is neither lost nor joined twice.
        m_manifest.nJoined = static_cast<int64_t>(segment.nNumber);
        UpdateManifest();
        RecordFiles::RemoveFiles({strSource, segment.strAudioPath});
        if (std::ftell(m_pAccumulation.get()) < kRollOverBytes)
            return;
        bRollOverFailed = !CloseAndRemux();
        m_strMp4Path = FreeFileName(RollOverName(m_strMp4Path));
        m_strAccumulationPath = m_strTempFolder + "/" + QFileInfo(m_strMp4Path).completeBaseName() + ".h264";
        m_nAccumulationFrameRate = 0;
        m_manifest.strMp4Path = m_strMp4Path;
        m_manifest.nSoundRate = 0;
        m_manifest.nBytes = 0;
        m_manifest.nSoundBytes = -1;
        m_manifest.Write(CRecordManifest::PathFor(m_strTempFolder, m_strMp4Path));
        // Still recording: the next file opens now; stopped: the segments still queued open it.
        if (m_bRecording.load())
            OpenAccumulation();
    }
    if (bRollOverFailed)
        ReportFailure(m_bRecording.load());
}

void CRecordWorker::UpdateManifest()
{
    CRecordManifest manifest = m_manifest;
    if (m_nAccumulationFrameRate > 0)
        manifest.nFrameRate = m_nAccumulationFrameRate;
    manifest.nSoundRate = m_pSound ? m_nSoundRate : 0;
    manifest.nBytes = m_pAccumulation ? static_cast<int64_t>(std::ftell(m_pAccumulation.get())) : -1;
    manifest.nSoundBytes = -1;
    if (m_pSound && std::fflush(m_pSound.get()) == 0)
        manifest.nSoundBytes = static_cast<int64_t>(std::ftell(m_pSound.get()));
    if (manifest != m_manifest || !QFileInfo::exists(CRecordManifest::PathFor(m_strTempFolder, m_strMp4Path))) {
        m_manifest = manifest;
        m_manifest.Write(CRecordManifest::PathFor(m_strTempFolder, m_strMp4Path));
    }
}

void CRecordWorker::AppendSound(const Segment &segment)
{
    if (segment.strAudioPath.isEmpty() || segment.nAudioRate <= 0 || m_nAccumulationFrameRate <= 0)
        return;
    if (!m_pSound) {
        if (m_nSoundRate > 0)
            return;     // its file could not be made
        m_nSoundRate = segment.nAudioRate;
        m_nSoundSamples = 0;
        m_strSoundPath = Stem(m_strAccumulationPath) + ".pcm";
        m_pSound.reset(OpenFile(m_strSoundPath, "wb"));
        if (!m_pSound)
            return;
    }
    // The sound keeps to the pictures: a stretch without any (or sound that began late) becomes silence.
    const int64_t nStart = m_nAccumulationFrames * m_nSoundRate / m_nAccumulationFrameRate;
    if (nStart - m_nSoundSamples > m_nSoundRate / 10)
        WriteSilence(nStart - m_nSoundSamples);
    FilePtr pIn(OpenFile(segment.strAudioPath, "rb"));
    if (!pIn)
        return;
    const CAudioConvert convert;
    unsigned char in[1024];
    unsigned char pcm[2 * sizeof in];
    for (;;) {
        const size_t nRead = std::fread(in, 1, sizeof in, pIn.get());
        if (nRead == 0)
            return;
        if (segment.nAudioRate != m_nSoundRate) {
            // Sound of another rate than the file's: its time is kept, silent.
            WriteSilence(static_cast<int64_t>(nRead) * m_nSoundRate / segment.nAudioRate);
            continue;
        }
        const int nBytes = convert.ToPcm16(in, static_cast<int>(nRead), pcm, static_cast<int>(sizeof pcm),
                                           segment.nAudioType);
        if (nBytes <= 0) {
            WriteSilence(static_cast<int64_t>(nRead));
            continue;
        }
        std::fwrite(pcm, 1, static_cast<size_t>(nBytes), m_pSound.get());
        m_nSoundSamples += nBytes / 2;
    }
}

void CRecordWorker::WriteSilence(int64_t nSamples)
{
    static const int16_t kSilence[1024] = {};
    while (nSamples > 0 && m_pSound) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(nSamples, 1024));
        std::fwrite(kSilence, sizeof kSilence[0], n, m_pSound.get());
        m_nSoundSamples += static_cast<int64_t>(n);
        nSamples -= static_cast<int64_t>(n);
    }
}

bool CRecordWorker::Convert(const QString &strAppDir, const QString &strSegment, const QString &strTarget, bool &bHung)
{
    const Clock::time_point deadline = Clock::now() + kConvertLimit;
    const QString strProgram = FfmpegProgram(strAppDir);
    const QByteArray program = strProgram.isEmpty() ? QByteArray("ffmpeg") : Local(strProgram);
    const QByteArray dir = Local(strAppDir), segment = Local(strSegment), target = Local(strTarget);
    // No B-frames: the joined file is remuxed with each picture shown when it is decoded.
    const char *argv[] = {"ffmpeg", "-i", segment.constData(), "-vcodec", "h264", "-bf", "0", "-y",
                          target.constData(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Nothing of this process's open files goes to the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The child runs in the application directory; the process's own directory is never changed.
    posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own, so that a child past its time is ended with everything it started.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    char **args = const_cast<char **>(argv);
    const int nSpawn = strProgram.isEmpty() ? posix_spawnp(&pid, program.constData(), &actions, &attr, args, environ)
                                            : posix_spawn(&pid, program.constData(), &actions, &attr, args, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0) {
        LOGW(QString("ffmpeg did not start: %1").arg(std::strerror(nSpawn)), "CDecodeChannel::ConvertFile");
        return false;
    }
    int nStatus = 0;
    for (;;) {
        const pid_t nDone = waitpid(pid, &nStatus, WNOHANG);
        if (nDone == pid)
            break;
        if (nDone < 0 && errno != EINTR)
            return false;
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
            }
            bHung = true;
            LOGW(QString("ffmpeg ended past its time: %1").arg(strSegment), "CDecodeChannel::ConvertFile");
            return false;
        }
        std::this_thread::sleep_for(kChildPoll);
    }
    const bool bExited = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
    if (!bExited)
        LOGW(QString("ffmpeg failed on %1").arg(strSegment), "CDecodeChannel::ConvertFile");
    return bExited && QFileInfo(strTarget).size() > 0;
}

void CRecordWorker::KeepUnconverted(const QString &strSegment)
{
    // What cannot be converted is kept as it came, beside the recording.
    std::lock_guard<std::mutex> file(m_fileMutex);
    if (!m_bJoining.load())
        return;
    const QString strKept = Stem(m_strMp4Path) + ".h265";
    std::FILE *pKept = OpenFile(strKept, "ab");
    if (!pKept || RecordFiles::AppendFile(strSegment, pKept) != RecordFiles::Append::Done)
        m_bRecordFailed = true;
    if (pKept && std::fclose(pKept) != 0)
        m_bRecordFailed = true;
}

void CRecordWorker::FinishIfStopped()
{
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        if (!m_bJoining.load() || (m_bRecording.load() && !m_bStopRequest.load()))
            return;
    }
    // Stopped: no segment of this recording comes any more; those still queued are joined first.
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (!m_segments.empty())
            return;
    }
    bool bWhole = true;
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        bWhole = Finish();
    }
    if (!bWhole)
        ReportFailure(m_bRecording.load());
}

bool CRecordWorker::OpenAccumulation()
{
    m_pAccumulation.reset(OpenFile(m_strAccumulationPath, "wb"));
    if (!m_pAccumulation && QDir().mkpath(m_strTempFolder))
        m_pAccumulation.reset(OpenFile(m_strAccumulationPath, "wb"));
    m_nAccumulationFrames = 0;
    return m_pAccumulation != nullptr;
}

QString CRecordWorker::ParkFolder()
{
    if (m_strParkFolder.isEmpty())
        m_strParkFolder = FreeFileName(m_strTempFolder + "/" + QFileInfo(m_strMp4Path).completeBaseName());
    return m_strParkFolder;
}

bool CRecordWorker::CloseAndRemux()
{
    m_pPlaceholder.reset();
    // The sound of this file, if any came.
    const bool bSound = m_pSound && m_nSoundSamples > 0;
    if (m_pSound && std::fflush(m_pSound.get()) != 0)
        m_bRecordFailed = true;
    m_pSound.reset();
    const QString strSound = m_strSoundPath;
    const int nSoundRate = m_nSoundRate;
    m_strSoundPath.clear();
    m_nSoundRate = 0;
    m_nSoundSamples = 0;
    const int nFrameRate = m_nAccumulationFrameRate;
    m_nAccumulationFrames = 0;
    const QString strManifest = CRecordManifest::PathFor(m_strTempFolder, m_strMp4Path);
    const QString strParked = m_strParkFolder;
    m_strParkFolder.clear();
    if (!m_pAccumulation) {
        RecordFiles::RemoveFiles({strSound, strManifest});
        return true;
    }
    std::fflush(m_pAccumulation.get());
    const long nSize = std::ftell(m_pAccumulation.get());
    m_pAccumulation.reset();
    if (m_bJoinFailed) {
        // Its segments wait in the park folder: the joined part goes with them, in order, for the next start.
        m_strParkFolder = strParked;
        RecordFiles::MoveInto(ParkFolder(), {m_strAccumulationPath, strSound, strManifest});
        m_strParkFolder.clear();
        m_bJoinFailed = false;
        return false;
    }
    if (nSize <= 0) {
        RecordFiles::RemoveFiles({m_strAccumulationPath, strSound, strManifest});
        return true;
    }
    if (RecordFiles::Remux(m_strAccumulationPath, strSound, nSoundRate, bSound, m_strMp4Path, nFrameRate)) {
        RecordFiles::RemoveFiles({m_strAccumulationPath, strSound, strManifest});
        return true;
    }
    // Not a whole file: it goes, so that no broken file passes for the recording.
    QFile::remove(m_strMp4Path);
    // The joined file is kept beside the recording as it is; where that cannot be (the disk full), it stays with
    // its sound and manifest for the next start.
    const QString strKept = RecordFiles::KeepBeside(m_strAccumulationPath, m_strMp4Path, "h264");
    if (!strKept.isEmpty()) {
        LOGW(QString("remux failed, kept %1").arg(strKept), "CDecodeChannel::ConvertFile");
        RecordFiles::RemoveFiles({strSound, strManifest});
        return false;
    }
    RecordFiles::MoveInto(ParkFolder(), {m_strAccumulationPath, strSound, strManifest});
    LOGW(QString("remux failed, kept %1 for the next start").arg(ParkFolder()), "CDecodeChannel::ConvertFile");
    m_strParkFolder.clear();
    return false;
}

bool CRecordWorker::Finish()
{
    const bool bWhole = CloseAndRemux() && !m_bRecordFailed && !m_bLost.load();
    // The folder is shared by every channel of the process: it goes once no recording uses it.
    if (!m_strTempFolder.isEmpty() && QDir().rmdir(m_strTempFolder))
        LOGN(QString("Path=%1").arg(m_strTempFolder), "CDecodeChannel::ConvertFile");
    m_strAccumulationPath.clear();
    m_nAccumulationFrameRate = 0;
    m_bConverterHung = false;
    m_bRecordFailed = false;
    // Last: the start of the next recording may take everything above from here on.
    m_bJoining = false;
    return bWhole;
}
