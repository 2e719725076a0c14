#pragma once

// The client configuration of "ClientCfg.ini": folders (zero-terminated, local 8-bit encoding) and file types.
struct LocalInfo
{
    char RecPath[260];  // folder for local recordings
    char CapPath[260];  // folder for snapshots
    char DownPath[260]; // folder for downloads
    int CaptureType;
    int RecordType;     // 0 ".h265x", 2 ".avi"
    int ImageType;      // 0 BMP, other JPEG
    int VideoType;
};
