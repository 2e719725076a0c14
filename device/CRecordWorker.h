#pragma once

#include "device/CPreRollCache.h"
#include "device/CRecordManifest.h"
#include "platform/FilePtr.h"
#include "platform/stream_block.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct RealDataFrame;
class CMp4Writer;

// The recorder of a decode channel in OEM modes 1 and 2: it turns the live blocks that pass through the channel
// into MP4 files. A ".h264" recording is written as raw segments (video, and its sound beside it) into the
// temporary folder "<app dir>/Temp<session>", which the worker thread converts (an H.265 segment goes through the
// ffmpeg program), joins and remuxes into the MP4 file with an AAC track; a ".h265" recording goes straight into
// an MP4 writer. Both roll over into a new file past 10 MiB. Every recording begins with the blocks since the
// last key frame the channel received before its start.
//
// Threads: Tap runs on the device library's data thread, Start and Stop on the page's thread, the worker on its
// own. The tap lock guards what the data thread and Start/Stop share (pre-roll, segment files, counters, MP4
// writer); the queue lock guards the segment queue; the file lock guards the joining (accumulation, sound and
// placeholder files, temporary folder, accumulation and MP4 paths), which belongs to the worker while a joining
// runs: Start never waits for it, it refuses at once. Start takes the file lock and then the tap lock; Stop and
// the tap take the tap lock and then the queue lock; the worker never takes the tap lock and never holds the
// queue and file locks together.
//
// What is not whole yet stays recoverable in the temporary folder: beside every file being made lies its manifest
// (device/CRecordManifest.h) and its raw data, the joined H.264 or, for the MP4 writer's route, a journal of the
// pictures and sound written, removed once the MP4 file is whole. A file that cannot be finished (the disk full)
// keeps them there for the next start (device/CRecordRecovery.h), and the failure is told: by Stop for the MP4
// writer's file, through the failure callback for what finishes later (a joined file, a roll-over).
//
// Lifetime: the channel owns one reference and the worker thread another. Close ends the recording and waits a
// bounded time; a worker still finishing then goes on alone (it never refers to its channel) and the object
// goes with its thread's last reference.
class CRecordWorker
{
public:
    enum Route : int { RouteNone = 0, RouteH264 = 1, RouteH265 = 2 };

    // Recordings are cut at this many bytes of joined H.264 or of H.265 payload.
    static constexpr int64_t kRollOverBytes = 10485760;
    // A conversion child may run this long; one that does not end by then is ended with what it started, and the
    // rest of that recording's H.265 segments are kept unconverted rather than waited for again.
    static constexpr std::chrono::milliseconds kConvertLimit{30000};
    // What a channel's close waits for its worker.
    static constexpr std::chrono::milliseconds kCloseBudget{3000};

    // The recorder of the channel of port nPort, with its worker thread started.
    static std::shared_ptr<CRecordWorker> Create(int nPort);
    ~CRecordWorker();
    CRecordWorker(const CRecordWorker &) = delete;
    CRecordWorker &operator=(const CRecordWorker &) = delete;

    // Ends a running recording and lets the worker end once everything recorded is in its files; waits for that
    // at most wait. True when the worker has ended.
    bool Close(std::chrono::milliseconds wait);
    // Waits until the worker of every recorder of the process has ended; false when the time ran out.
    static bool WaitForAll(std::chrono::milliseconds timeout);

    // The route a recorded name takes: ".h264" and ".h265" at its end, RouteNone for any other name.
    static Route RouteOf(const QString &strPath);

    // Starts a recording into strPath (a ".h264" or ".h265" name in a folder that exists). 0 while a recording
    // runs or is still being finished, for another name, or when its first file cannot be made; else 1.
    int Start(const QString &strPath);
    // Ends the recording: the MP4 writer's file is finished, the last segment is queued for the worker.
    // 0 when no recording runs, -1 when the MP4 writer's file could not be finished whole (its data is kept for
    // the next start), else 1.
    int Stop();
    bool IsRecording() const { return m_bRecording.load(); }
    // A ".h264" recording is still being joined (until the worker has finished its last file).
    bool IsFinishing() const { return m_bJoining.load(); }

    // The recording tap: one live block (header included) with its record.
    void Tap(const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame);

    // Told when a file of a recording could not be finished whole after its stop or at a roll-over (its data is
    // kept in the temporary folder for the next start): the port, and whether it records again (or still). Runs
    // on the worker's or the data thread; once SetFailCallBack has returned, the callback it replaced no longer
    // runs.
    typedef void (*FailCallBack)(int nPort, bool bRecording, void *pUser);
    static void SetFailCallBack(FailCallBack cbFail, void *pUser);

    // The temporary folder of the process.
    static QString TempFolder();
    // Converts an H.265 segment into an H.264 file with the ffmpeg program, started in strAppDir; a child past
    // its time is ended (and bHung set). True when the target was made.
    static bool Convert(const QString &strAppDir, const QString &strSegment, const QString &strTarget, bool &bHung);
    // The name a recording continues in: the text up to the first "_" of the file name, "_", the local time as
    // "yyyyMMdd_hhmmss", and the file name's text from the first "." after that "_".
    static QString RollOverName(const QString &strPath);

private:
    // One closed segment waiting for the worker: its video with the frame rate and count of its pictures, and the
    // G.711 sound that came with them (none when the segment had no sound).
    struct Segment
    {
        QString strPath;
        uint64_t nNumber = 0;   // the running number in its name
        int nFrameRate = 0;
        int nFrames = 0;
        QString strAudioPath;
        int nAudioType = 0;     // the talk header's audio type (0x0E A-law, 0x0A mu-law)
        int nAudioRate = 0;
    };

    explicit CRecordWorker(int nPort);

    // Thread procedure and worker loop.
    static int RecordThreadProc(std::shared_ptr<CRecordWorker> pWorker);
    void ConvertFile();

    // Data thread, or Start replaying the pre-roll (tap lock held).
    void TapBlocks(const unsigned char *pData, uint32_t nLength, const RealDataFrame &frame);
    void TapH264(const StreamBlock::View &block, const RealDataFrame &frame);
    void TapH265(const StreamBlock::View &block, const RealDataFrame &frame);
    void OpenSegment(uint8_t nCodec, int nFrameRate);
    void QueueSegment();

    // The MP4 writer's route (tap lock held): the journal of the writer's file, begun at its first picture, and
    // the end of the file. FinishWriterFile is false when the file is not whole.
    void OpenJournal(int nCodec, int nFrameRate);
    void JournalSound(const StreamBlock::View &block);
    bool FinishWriterFile();
    void ReportFailure(bool bRecording) const;

    // Worker.
    bool TakeSegment(Segment &segment);
    void JoinSegment(const Segment &segment);
    void KeepUnconverted(const QString &strSegment);
    void FinishIfStopped();
    // File lock held.
    bool OpenAccumulation();
    void AppendSound(const Segment &segment);
    void WriteSilence(int64_t nSamples);
    bool CloseAndRemux();
    bool Finish();
    void UpdateManifest();
    QString ParkFolder();

    const int m_nPort;

    // Segment queue, the worker's wake-up and its end (queue lock).
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::condition_variable m_ended;
    std::deque<Segment> m_segments;
    bool m_bWake = false;
    bool m_bEnded = false;
    std::atomic<bool> m_bStopRequest{false};

    // Joining (file lock; the worker's alone while m_bJoining is set). m_bJoining is set by Start once the
    // joining is prepared and cleared by the worker once it is finished; m_bRecording is set under the file lock
    // and the tap lock together, cleared under the tap lock once the last segment is queued.
    mutable std::mutex m_fileMutex;
    std::atomic<bool> m_bRecording{false};
    std::atomic<bool> m_bJoining{false};
    QString m_strAppDir;
    QString m_strTempFolder;
    QString m_strAccumulationPath;
    QString m_strMp4Path;
    FilePtr m_pAccumulation;
    FilePtr m_pPlaceholder;
    int m_nAccumulationFrameRate = 0;
    int64_t m_nAccumulationFrames = 0;  // pictures joined into the accumulation file
    // The sound of the accumulation, 16-bit PCM from its first picture on.
    QString m_strSoundPath;
    FilePtr m_pSound;
    int m_nSoundRate = 0;
    int64_t m_nSoundSamples = 0;
    bool m_bConverterHung = false;      // a conversion of this recording ran past its limit
    CRecordManifest m_manifest;         // as last written for the accumulation
    bool m_bJoinFailed = false;         // an append failed: the rest of the file is parked for the next start
    bool m_bRecordFailed = false;       // something of the file could not be kept
    QString m_strParkFolder;            // where the file's data waits for the next start

    // Recording tap (tap lock).
    std::mutex m_tapMutex;
    CPreRollCache m_preRoll;
    Route m_eRoute = RouteNone;
    StreamBlock::Parser m_parser;
    QString m_strSegmentFolder;
    QString m_strSegmentPath;
    FilePtr m_pSegment;
    int m_nSegmentFrameRate = 0;
    int m_nVideoBlocks = 0;
    bool m_bSegmentStarted = false;
    uint64_t m_nSegmentNumber = 0;
    std::atomic<bool> m_bLost{false};   // a picture or sound of the recording could not be written
    FilePtr m_pSegmentAudio;
    int m_nSegmentAudioType = 0;
    int m_nSegmentAudioRate = 0;
    QString m_strWriterPath;
    int m_nWriterCodec = 0;             // the codec of the writer's file, from its first key frame
    int64_t m_nH265Bytes = 0;
    std::unique_ptr<CMp4Writer> m_pWriter;
    bool m_bAudioAnnounced = false;     // the writer was told the stream's sound before its first picture
    int m_nWriterSoundRate = 0;         // the sound rate the writer's file was made with
    // The journal of the writer's file: its pictures and sound as written, and its manifest.
    QString m_strJournalStem;           // "<temp>/<stem of the writer's file>"; empty while none
    FilePtr m_pJournal;
    FilePtr m_pJournalSound;
    int m_nJournalCodec = 0;            // the file's pictures go in, of its codec only
    bool m_bJournalFailed = false;
    CRecordManifest m_journalManifest;
    std::vector<unsigned char> m_vecJournalPcm;
    bool m_bRollOverFailed = false;     // to be told once the tap lock is let go

    // The sound and frame rate of the stream, from its records whether recording or not (written by the data
    // thread only).
    std::atomic<int> m_nStreamAudioRate{0};
    std::atomic<int> m_nStreamAudioCodec{0};
    std::atomic<int> m_nStreamFrameRate{0};

    std::thread m_thread;
};
