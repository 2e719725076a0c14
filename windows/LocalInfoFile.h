#pragma once

#include "windows/LocalInfo.h"

#include <QString>

// Reads "ClientCfg.ini" of an application directory into a LocalInfo. Needs no window, so that any caller can
// fill a record of its own.
class LocalInfoFile
{
public:
    // Fills the record from the file; a folder that is empty or absent gets its default under the application
    // directory, which is written back to the file. Folders are not created.
    static void Load(LocalInfo &info, const QString &strAppDir);
    // The same without its two log lines (the live page reads it at every snapshot and start).
    static void Read(LocalInfo &info, const QString &strAppDir);

    // The default folder of a kind ("Capture", "Record" or "Download") under the application directory.
    static QString DefaultFolder(const QString &strAppDir, const QString &strKind);
};
