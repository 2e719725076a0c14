#pragma once

#include <atomic>
#include <cstdint>

// One element of a playback request's "FileInfo" list, read by CQZConnect::BeginPlayback.
struct PlaybackFileEntry
{
    int32_t Channel;
    int32_t Stream;
    char BeginTime[32];     // "yyyy-MM-dd hh:mm:ss"
    char EndTime[32];
    char Reserved1[32];
    char Reserved2[32];
    uint32_t FileLength;
    char FileName[108];
    int32_t Wnd;
    int32_t FileType;
};
static_assert(sizeof(PlaybackFileEntry) == 256, "playback entry size");

// One element of a download request's "FileInfo" list, read by CQZConnect::StartDownLoad.
struct DownloadFileEntry
{
    int32_t Channel;
    uint32_t FileLength;
    char FileName[108];
    char BeginTime[32];     // "yyyy-MM-dd hh:mm:ss"
    char EndTime[32];
    int32_t Stream;
};
static_assert(sizeof(DownloadFileEntry) == 184, "download entry size");

// The user value that the playback and download callbacks carry back: one per playback pane, one for the
// download. The request thread writes it while the libraries' threads read it, so each field is atomic.
struct PlayUserRecord
{
    std::atomic<int32_t> Channel;   // device channel shown; -1 after a stop
    std::atomic<int32_t> Pane;      // playback pane 0-3
    std::atomic<int32_t> State;     // the pane's play state (the download's: 1 record file, 0 picture)
    std::atomic<int32_t> Kind;      // 0 playback, 1 record-file download, 2 picture download

    // Field by field, each atomically.
    PlayUserRecord &operator=(const PlayUserRecord &other)
    {
        Channel = other.Channel.load();
        Pane = other.Pane.load();
        State = other.State.load();
        Kind = other.Kind.load();
        return *this;
    }
};
static_assert(sizeof(PlayUserRecord) == 16 && std::atomic<int32_t>::is_always_lock_free, "user record size");
