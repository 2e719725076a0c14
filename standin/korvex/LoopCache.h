#pragma once

#include "standin/korvex/MediaLoop.h"

#include <functional>
#include <string>

// Encoded test-pattern loops kept in files. The loops of the profiles the project uses are made when it is built
// (standin/korvex/loops/) into a folder of the build tree, whose path is fixed at build time. A loop not among
// them is encoded at its first use and kept in a folder made at run time, so that the processes of a test run
// that start at once share it instead of encoding it again each (an H.265 loop costs a second of a core): the
// folder KORVEX_LOOP_CACHE names (empty: none), else "korvex-loops-<user>-<program folder>" in the temporary
// folder. A file that does not read back whole, or was written for another key, is encoded again.
//
// Other local users may share the temporary folder: a cache folder is used only when it is no link, is owned by
// this user and is writable by nobody else (one made here is made so, mode 0700); its files are opened without
// following links, and those made here are made new (a name already there is never written through).
class LoopCache
{
public:
    using Encode = std::function<bool(VideoLoop &loop, std::string &strError)>;

    // The loop of the key: read from the loops made at build time or from the run-time folder, else made by
    // encode while the key's lock file is held (the other processes wait for the file rather than encoding too)
    // and then kept. False with encode's message when it fails.
    static bool Get(const std::string &strKey, VideoLoop &loop, const Encode &encode, std::string &strError);

    // For the build: keeps the loop of the key in the folder, made (mode 0700) when it is missing. False with the
    // reason.
    static bool Put(const std::string &strFolder, const std::string &strKey, const VideoLoop &loop,
                    std::string &strError);

    // The folder of the loops made at build time, and the run-time folder (empty: none).
    static std::string BuiltFolder();
    static std::string RunTimeFolder();
    // The run-time folder in the temporary folder of a program in that folder.
    static std::string TemporaryFolder(const std::string &strTemp, const std::string &strProgramFolder);
    // The name of the key's loop file in a folder.
    static std::string FileName(const std::string &strKey);

    // The folder as one this user alone may write, made with mode 0700 when bCreate and it is missing: an open
    // descriptor that the caller closes, or -1 with the reason when it is a link or no folder, is owned by another
    // user or is writable by its group or others.
    static int OpenFolder(const std::string &strPath, bool bCreate, std::string &strWhy);

private:
    static bool Read(int nFolder, const std::string &strName, const std::string &strKey, VideoLoop &loop);
    static bool Write(int nFolder, const std::string &strName, const std::string &strKey, const VideoLoop &loop,
                      std::string &strError);
};
