// Makes the test-pattern loops of stream profiles into a folder, as the simulated device would encode them at
// their first use, so that the build ships them and no test process spends seconds encoding.
//
//   korvex_make_loops FOLDER PROFILE...
//
// A profile is "CODEC:WIDTHxHEIGHT@FPS:FIRST-LAST", CODEC "H.264" or "H.265", FIRST-LAST the channels (0-based)
// whose pattern is made ("H.265:1280x720@25:0-15").

#include "platform/stream_block.h"
#include "standin/korvex/LoopCache.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/TestPatternEncoder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

bool ParseProfile(const char *pText, std::vector<VideoSpec> &specs)
{
    char szCodec[8] = {0};
    int nWidth = 0, nHeight = 0, nRate = 0, nFirst = 0, nLast = 0;
    if (std::sscanf(pText, "%7[^:]:%dx%d@%d:%d-%d", szCodec, &nWidth, &nHeight, &nRate, &nFirst, &nLast) != 6)
        return false;
    VideoSpec spec;
    if (std::strcmp(szCodec, "H.264") == 0)
        spec.nCodec = StreamBlock::kCodecH264;
    else if (std::strcmp(szCodec, "H.265") == 0)
        spec.nCodec = StreamBlock::kCodecH265;
    else
        return false;
    if (nWidth < 16 || nHeight < 16 || (nWidth & 1) || (nHeight & 1) || nRate < 1 || nRate > 60 || nFirst < 0 ||
        nLast < nFirst || nLast > 255)
        return false;
    spec.nWidth = nWidth;
    spec.nHeight = nHeight;
    spec.nFrameRate = nRate;
    for (int nLabel = nFirst; nLabel <= nLast; ++nLabel) {
        spec.nLabel = nLabel;
        specs.push_back(spec);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER CODEC:WIDTHxHEIGHT@FPS:FIRST-LAST...\n", argv[0]);
        return 2;
    }
    const std::string strFolder = argv[1];
    std::vector<VideoSpec> specs;
    for (int i = 2; i < argc; ++i) {
        if (!ParseProfile(argv[i], specs)) {
            std::fprintf(stderr, "%s: bad profile \"%s\"\n", argv[0], argv[i]);
            return 2;
        }
    }
    // A few encoders at once: the build runs other jobs beside this one.
    std::atomic<size_t> nNext{0};
    std::atomic<bool> bFailed{false};
    std::mutex outMutex;
    auto work = [&] {
        for (size_t i = nNext++; i < specs.size() && !bFailed; i = nNext++) {
            VideoLoop loop;
            std::string strError;
            if (!TestPatternEncoder::EncodeLoop(MediaLibrary::PatternSettings(specs[i]), loop, strError) ||
                !LoopCache::Put(strFolder, MediaLibrary::LoopKey(specs[i]), loop, strError)) {
                std::lock_guard<std::mutex> lock(outMutex);
                std::fprintf(stderr, "%s: %s: %s\n", argv[0], specs[i].Key().c_str(), strError.c_str());
                bFailed = true;
            }
        }
    };
    const unsigned nWorkers = std::max(1u, std::min(4u, std::thread::hardware_concurrency() / 2));
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < nWorkers; ++i)
        workers.emplace_back(work);
    for (std::thread &worker : workers)
        worker.join();
    return bFailed ? 1 : 0;
}
