#include "device/CRecordWorker.h"

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
constexpr size_t kCopyBlock = 64 * 1024;

QByteArray Local(const QString &strPath) { return strPath.toLocal8Bit(); }

std::FILE *OpenFile(const QString &strPath, const char *pMode) { return std::fopen(Local(strPath).constData(), pMode); }

// Appends the whole file at strSource to pTarget; a short write ends the append. False when the source cannot
// be read.
bool AppendFile(const QString &strSource, std::FILE *pTarget)
{
    std::FILE *pSource = OpenFile(strSource, "rb");
    if (!pSource)
        return false;
    std::vector<char> buffer(kCopyBlock);
    for (;;) {
        const size_t nRead = std::fread(buffer.data(), 1, buffer.size(), pSource);
        if (nRead == 0 || std::fwrite(buffer.data(), 1, nRead, pTarget) != nRead)
            break;
    }
    std::fclose(pSource);
    return true;
}

// The ffmpeg program: the one in the application directory when it is there, else the one on the PATH.
QString FfmpegProgram(const QString &strAppDir)
{
    const QString strLocal = strAppDir + "/ffmpeg";
    return QFileInfo(strLocal).isExecutable() ? strLocal : QString();
}

// The media file name without its extension ("01_20240115_100000" of ".../01_20240115_100000.mp4").
QString Stem(const QString &strPath)
{
    const QFileInfo info(strPath);
    return info.absolutePath() + "/" + info.completeBaseName();
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

constexpr std::chrono::milliseconds CRecordWorker::kConvertLimit;
constexpr std::chrono::milliseconds CRecordWorker::kCloseBudget;

CRecordWorker::CRecordWorker(int nPort)
    : m_nPort(nPort)
{
    m_thread = std::thread(&CRecordWorker::RecordThreadProc, this);
}

CRecordWorker::~CRecordWorker()
{
    Stop();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopAt = Clock::now();
        m_bStopRequest = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
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

QString CRecordWorker::FreeName(const QString &strPath)
{
    if (!QFileInfo::exists(strPath))
        return strPath;
    const QFileInfo info(strPath);
    const QString strStem = info.absolutePath() + "/" + info.completeBaseName();
    const QString strExt = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    for (int n = 1;; ++n) {
        const QString strName = QString("%1_%2%3").arg(strStem).arg(n).arg(strExt);
        if (!QFileInfo::exists(strName))
            return strName;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Start, stop and the tap.

int CRecordWorker::Start(const QString &strPath)
{
    const Route eRoute = RouteOf(strPath);
    if (eRoute == RouteNone)
        return 0;
    // The file lock first: a remux under way keeps this start waiting, not the data thread.
    std::lock_guard<std::mutex> file(m_fileMutex);
    if (m_bRecording.load() || m_bJoining)
        return 0;   // a recording runs, or the one before is still being finished
    // A name already taken (a recording of the same second) is never overwritten.
    const QString strMp4 = FreeName(strPath.left(strPath.size() - 5) + ".mp4");
    std::unique_ptr<CMp4Writer> pWriter;
    if (eRoute == RouteH264) {
        m_strTempFolder = TempFolder();
        QDir().mkpath(m_strTempFolder);
        m_strMp4Path = strMp4;
        m_strAccumulationPath = m_strTempFolder + "/" + QFileInfo(strMp4).completeBaseName() + ".h264";
        if (!OpenAccumulation())
            return 0;
        m_pPlaceholder.reset(OpenFile(m_strMp4Path, "ab"));
        m_nAccumulationFrameRate = 0;
    } else {
        pWriter = std::make_unique<CMp4Writer>(Local(strMp4).constData());
    }
    std::lock_guard<std::mutex> tap(m_tapMutex);
    m_nVideoBlocks = 0;
    m_bSegmentStarted = false;
    m_parser.Reset();
    m_strWriterPath = strMp4;
    m_nH265Bytes = 0;
    m_pWriter = std::move(pWriter);
    m_bAudioAnnounced = false;
    m_eRoute = eRoute;
    // Set with the joining, so that the worker never sees a new recording as one that has stopped.
    m_bJoining = eRoute == RouteH264;
    m_bRecording = true;
    return 1;
}

int CRecordWorker::Stop()
{
    {
        std::lock_guard<std::mutex> tap(m_tapMutex);
        if (!m_bRecording.load())
            return 0;
        m_pWriter.reset();  // its file is finished
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
    return 1;
}

bool CRecordWorker::IsFinishing() const
{
    std::lock_guard<std::mutex> file(m_fileMutex);
    return m_bJoining;
}

void CRecordWorker::Tap(const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame)
{
    if (!pFrame || !pData)
        return;
    if (pFrame->nKind == ZDK_FRAME_AUDIO && pFrame->nSampleRate > 0) {
        m_nStreamAudioRate.store(static_cast<int>(pFrame->nSampleRate), std::memory_order_relaxed);
        m_nStreamAudioCodec.store(static_cast<int>(pFrame->nCodec), std::memory_order_relaxed);
    }
    if (!m_bRecording.load(std::memory_order_relaxed))
        return;
    if (pFrame->nKind != ZDK_FRAME_VIDEO && pFrame->nKind != ZDK_FRAME_AUDIO)
        return;
    std::lock_guard<std::mutex> tap(m_tapMutex);
    if (!m_bRecording.load())
        return;
    const uint8_t *p = pData;
    size_t nSize = nLength;
    StreamBlock::View block;
    while (m_parser.Next(p, nSize, block)) {
        if (m_eRoute == RouteH264)
            TapH264(block, *pFrame);
        else if (m_eRoute == RouteH265)
            TapH265(block, *pFrame);
    }
    // Each call brings whole blocks; nothing is carried into the next one.
    m_parser.Reset();
}

void CRecordWorker::TapH264(const StreamBlock::View &block, const RealDataFrame &frame)
{
    // Audio bytes (or video of another codec) would corrupt the elementary stream.
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
    if (m_pSegment)
        std::fwrite(block.pPayload, 1, block.nPayload, m_pSegment.get());
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
        if (block.IsKeyFrame() && m_nH265Bytes > kRollOverBytes) {
            // Rolled over at a key frame, so that the new file begins decodable.
            const QString strNext = FreeName(RollOverName(m_strWriterPath));
            m_pWriter.reset();
            m_nH265Bytes = 0;
            m_strWriterPath = strNext;
            m_pWriter = std::make_unique<CMp4Writer>(Local(strNext).constData());
            m_bAudioAnnounced = false;
        }
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
            if (sound.nSampleRate > 0)
                m_pWriter->WriteFrame(&sound);
        }
        info.nFrameType = CMp4Writer::kFrameVideo;
        info.nSubType = block.IsKeyFrame() ? 0 : 1;
        info.nFrameRate = frame.nFrameRate > 0 ? static_cast<int>(frame.nFrameRate) : block.nFrameRate;
        info.nWidth = frame.nWidth;
        info.nHeight = frame.nHeight;
    } else {
        info.nSampleRate = StreamBlock::SampleRateOfCode(block.nRateCode);
        if (info.nSampleRate <= 0)
            return;
        info.nFrameType = CMp4Writer::kFrameAudio;
        info.nCodec = block.nCodec;     // the talk header's audio type is the converter's codec number
        m_bAudioAnnounced = true;
        info.nChannels = 1;
        info.nBitsPerSample = 16;
    }
    m_nH265Bytes += static_cast<int64_t>(block.nPayload);
    if (m_pWriter)
        m_pWriter->WriteFrame(&info);
}

void CRecordWorker::OpenSegment(uint8_t nCodec, int nFrameRate)
{
    // The port counted from 1, the local time and a running number: segments of one second stay apart.
    const char *pExt = nCodec == StreamBlock::kCodecH265 ? ".h265" : ".h264";
    const QString strFolder = TempFolder();
    m_strSegmentPath = QString("%1/%2_%3_%4%5")
                           .arg(strFolder)
                           .arg(m_nPort + 1)
                           .arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"))
                           .arg(++m_nSegmentNumber, 6, 10, QChar('0'))
                           .arg(pExt);
    m_pSegment.reset(OpenFile(m_strSegmentPath, "ab"));
    if (!m_pSegment && QDir().mkpath(strFolder))
        m_pSegment.reset(OpenFile(m_strSegmentPath, "ab"));
    m_nSegmentFrameRate = nFrameRate;
    m_nVideoBlocks = 0;
}

void CRecordWorker::QueueSegment()
{
    m_nVideoBlocks = 0;
    if (!m_pSegment)
        return;
    m_pSegment.reset();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_segments.push_back(Segment{m_strSegmentPath, m_nSegmentFrameRate});
    }
    m_wake.notify_all();
}

// ---------------------------------------------------------------------------------------------------------
// The worker.

int CRecordWorker::RecordThreadProc(CRecordWorker *pWorker)
{
    pWorker->ConvertFile();
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
        if (m_bStopRequest.load() && !IsFinishing())
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
        const bool bConverted = Convert(segment.strPath, strTarget);
        if (!bConverted) {
            QFile::remove(strTarget);
            KeepUnconverted(segment.strPath);
            QFile::remove(segment.strPath);
            return;
        }
        QFile::remove(segment.strPath);
        strSource = strTarget;
    }
    std::lock_guard<std::mutex> file(m_fileMutex);
    if (!m_bJoining || (!m_pAccumulation && !OpenAccumulation())) {
        QFile::remove(strSource);
        return;
    }
    if (m_nAccumulationFrameRate <= 0)
        m_nAccumulationFrameRate = segment.nFrameRate;
    AppendFile(strSource, m_pAccumulation.get());
    QFile::remove(strSource);
    std::fflush(m_pAccumulation.get());
    if (std::ftell(m_pAccumulation.get()) < kRollOverBytes)
        return;
    CloseAndRemux();
    m_strMp4Path = FreeName(RollOverName(m_strMp4Path));
    m_strAccumulationPath = m_strTempFolder + "/" + QFileInfo(m_strMp4Path).completeBaseName() + ".h264";
    m_nAccumulationFrameRate = 0;
    // Still recording: the next file opens now; stopped: the segments still queued open it.
    if (m_bRecording.load())
        OpenAccumulation();
}

std::chrono::steady_clock::time_point CRecordWorker::ConvertDeadline(Clock::time_point started) const
{
    Clock::time_point deadline = started + kConvertLimit;
    if (m_bStopRequest.load())
        deadline = std::min(deadline, m_stopAt + kCloseBudget);
    return deadline;
}

bool CRecordWorker::Convert(const QString &strSegment, const QString &strTarget)
{
    const Clock::time_point started = Clock::now();
    if (ConvertDeadline(started) <= started)
        return false;   // the channel closes and its time for conversions is spent
    const QString strAppDir = CDataCenter::GetInstance()->m_strAppDir;
    const QString strProgram = FfmpegProgram(strAppDir);
    const QByteArray program = strProgram.isEmpty() ? QByteArray("ffmpeg") : Local(strProgram);
    const QByteArray dir = Local(strAppDir), segment = Local(strSegment), target = Local(strTarget);
    const char *argv[] = {"ffmpeg", "-i", segment.constData(), "-vcodec", "h264", "-y", target.constData(), nullptr};

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
        if (Clock::now() >= ConvertDeadline(started)) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
            }
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
    if (!m_bJoining)
        return;
    const QString strKept = Stem(m_strMp4Path) + ".h265";
    std::FILE *pKept = OpenFile(strKept, "ab");
    if (!pKept)
        return;
    AppendFile(strSegment, pKept);
    std::fclose(pKept);
}

void CRecordWorker::FinishIfStopped()
{
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        if (!m_bJoining || (m_bRecording.load() && !m_bStopRequest.load()))
            return;
    }
    // Stopped: no segment of this recording comes any more; those still queued are joined first.
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (!m_segments.empty())
            return;
    }
    std::lock_guard<std::mutex> file(m_fileMutex);
    Finish();
}

bool CRecordWorker::OpenAccumulation()
{
    m_pAccumulation.reset(OpenFile(m_strAccumulationPath, "wb"));
    if (!m_pAccumulation && QDir().mkpath(m_strTempFolder))
        m_pAccumulation.reset(OpenFile(m_strAccumulationPath, "wb"));
    return m_pAccumulation != nullptr;
}

void CRecordWorker::CloseAndRemux()
{
    m_pPlaceholder.reset();
    if (!m_pAccumulation)
        return;
    std::fflush(m_pAccumulation.get());
    const long nSize = std::ftell(m_pAccumulation.get());
    m_pAccumulation.reset();
    if (nSize <= 0) {
        QFile::remove(m_strAccumulationPath);
        return;
    }
    const QByteArray mp4 = Local(m_strMp4Path);
    int nRet = 0;
    {
        CMp4Writer remux(mp4.constData());
        nRet = remux.RemuxFile(Local(m_strAccumulationPath).constData(), mp4.constData(), m_nAccumulationFrameRate);
    }
    if (nRet == AVERROR_EOF) {   // read to the end
        QFile::remove(m_strAccumulationPath);
        return;
    }
    // The remux failed: the joined file is kept beside the recording.
    const QString strKept = FreeName(Stem(m_strMp4Path) + ".h264");
    if (QFile::rename(m_strAccumulationPath, strKept))
        LOGW(QString("remux failed, kept %1").arg(strKept), "CDecodeChannel::ConvertFile");
    else
        LOGW(QString("remux failed, kept %1").arg(m_strAccumulationPath), "CDecodeChannel::ConvertFile");
}

void CRecordWorker::Finish()
{
    CloseAndRemux();
    // The folder is shared by every channel of the process: it goes once no recording uses it.
    if (!m_strTempFolder.isEmpty() && QDir().rmdir(m_strTempFolder))
        LOGN(QString("Path=%1").arg(m_strTempFolder), "CDecodeChannel::ConvertFile");
    m_bJoining = false;
    m_strAccumulationPath.clear();
    m_nAccumulationFrameRate = 0;
}
