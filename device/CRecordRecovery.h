#pragma once

#include <QString>

#include <chrono>
#include <functional>

// The recordings a run of the program could not finish, because it was killed (or its disk was full): what it
// left in a temporary folder of the application directory ("Temp<session>", device/CRecordWorker.h) becomes the
// MP4 files it was recording, at the next start.
//
// Every run holds its temporary folder while it lives: an open-file-description lock on the byte of its session
// in the lock file "Temp.lock" of the application directory, read-shared by the runs of one session and let go
// by the end of the process however it ends. A folder whose byte can be locked for writing belongs to no live
// run. At start-up, before any recording, a run takes hold of its own folder and moves what dead runs left in
// any of them into folders of their own inside it ("Recover-..."); a thread then finishes each recording there
// (joining what was not joined yet, remuxing into the MP4 file named by its manifest) or, for what cannot be
// made whole, keeps it: beside the MP4 name as raw video when the data cannot be read, or where it is for the
// next start when the file cannot be written. Whatever belongs to no recording is removed. The folders of live
// runs are never touched.
class CRecordRecovery
{
public:
    // Takes this run's hold on its temporary folder and gathers the dead runs' leftovers (on the calling thread,
    // quickly: renames only), then finishes them on a thread of its own. fnFallbackFolder names, on that thread
    // and only when needed, where a recording goes whose manifest is lost. Once per process.
    static void Start(const QString &strAppDir, int nSessionId, const std::function<QString()> &fnFallbackFolder);
    // Waits for that thread; false when the time ran out (it then ends on its own, with nothing of the caller's).
    static bool Wait(std::chrono::milliseconds timeout);

    // Finishes or removes everything in strFolder, a folder no live run uses, and its subfolders, on the calling
    // thread; the folder goes once empty.
    static void RecoverFolder(const QString &strFolder, const QString &strAppDir,
                              const std::function<QString()> &fnFallbackFolder);

    // Whether libavformat reads the file as media with a video stream (a whole file: an MP4 file that was
    // never finished has no index and is not).
    static bool IsWholeMedia(const QString &strPath);
};
