#pragma once

#include "standin/korvex/MediaLoop.h"

#include <functional>
#include <string>

// Encoded test-pattern loops kept in files, so that the processes of a test run that start at once share each
// loop instead of encoding it again each (an H.265 loop costs a second of a core). The folder is named by
// KORVEX_LOOP_CACHE (empty: no cache), else it is "korvex-loops-<user>-<program folder>" in the temporary
// folder. A file that does not read back whole, or was written for another key, is encoded again.
class LoopCache
{
public:
    using Encode = std::function<bool(VideoLoop &loop, std::string &strError)>;

    // The loop of the key: read from its file, or made by encode while the key's lock file is held (the other
    // processes wait for the file rather than encoding too) and then kept. False with encode's message when it
    // fails.
    static bool Get(const std::string &strKey, VideoLoop &loop, const Encode &encode, std::string &strError);

private:
    static std::string Folder();
    static bool Read(const std::string &strPath, const std::string &strKey, VideoLoop &loop);
    static void Write(const std::string &strPath, const std::string &strKey, const VideoLoop &loop);
};
