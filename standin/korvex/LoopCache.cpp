#include "standin/korvex/LoopCache.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bumped whenever the pattern, the encoder settings or this file's layout change.
const char kFormat[] = "korvex-loop 1";

uint64_t Fnv1a(const std::string &strText)
{
    uint64_t nHash = 14695981039346656037ull;
    for (unsigned char c : strText) {
        nHash ^= c;
        nHash *= 1099511628211ull;
    }
    return nHash;
}

std::string Hex(uint64_t nValue)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(nValue));
    return text;
}

void PutU32(std::string &out, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

bool GetU32(const std::string &in, size_t &nPos, uint32_t &n)
{
    if (in.size() - nPos < 4 || nPos > in.size())
        return false;
    n = 0;
    for (int i = 0; i < 4; ++i)
        n |= static_cast<uint32_t>(static_cast<unsigned char>(in[nPos + i])) << (8 * i);
    nPos += 4;
    return true;
}

// Closes the lock file, which releases its lock.
struct LockFile
{
    int fd = -1;
    ~LockFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::string LoopCache::Folder()
{
    if (const char *pFolder = std::getenv("KORVEX_LOOP_CACHE"))
        return pFolder;
    // Per program folder: two builds (or two checkouts) never share loops of a pattern that may differ.
    char path[4096];
    const ssize_t nLength = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string strProgram = nLength > 0 ? std::string(path, static_cast<size_t>(nLength)) : std::string();
    strProgram = strProgram.substr(0, strProgram.rfind('/'));
    const char *pTemp = std::getenv("TMPDIR");
    return std::string(pTemp && *pTemp ? pTemp : "/tmp") + "/korvex-loops-" + std::to_string(::getuid()) + "-" +
           Hex(Fnv1a(strProgram)).substr(0, 8);
}

bool LoopCache::Get(const std::string &strKey, VideoLoop &loop, const Encode &encode, std::string &strError)
{
    const std::string strFolder = Folder();
    if (strFolder.empty() || (::mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST))
        return encode(loop, strError);
    const std::string strFullKey = std::string(kFormat) + " " + LIBAVCODEC_IDENT + " " + strKey;
    const std::string strBase = strFolder + "/" + Hex(Fnv1a(strFullKey));
    if (Read(strBase + ".loop", strFullKey, loop))
        return true;
    LockFile lock;
    lock.fd = ::open((strBase + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock.fd >= 0)
        ::flock(lock.fd, LOCK_EX);
    // Another process may have made it while this one waited for the lock.
    if (Read(strBase + ".loop", strFullKey, loop))
        return true;
    if (!encode(loop, strError))
        return false;
    Write(strBase + ".loop", strFullKey, loop);
    return true;
}

bool LoopCache::Read(const std::string &strPath, const std::string &strKey, VideoLoop &loop)
{
    std::ifstream file(strPath, std::ios::binary);
    if (!file)
        return false;
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.compare(0, strKey.size() + 1, strKey + '\n') != 0)
        return false;
    size_t nPos = strKey.size() + 1;
    uint32_t nCodec = 0, nWidth = 0, nHeight = 0, nFrameRate = 0, nFrames = 0;
    if (!GetU32(data, nPos, nCodec) || !GetU32(data, nPos, nWidth) || !GetU32(data, nPos, nHeight) ||
        !GetU32(data, nPos, nFrameRate) || !GetU32(data, nPos, nFrames) || nFrames == 0 || nFrames > 100000)
        return false;
    VideoLoop read;
    read.nCodec = static_cast<uint8_t>(nCodec);
    read.nWidth = static_cast<int>(nWidth);
    read.nHeight = static_cast<int>(nHeight);
    read.nFrameRate = static_cast<int>(nFrameRate);
    for (uint32_t i = 0; i < nFrames; ++i) {
        uint32_t nKey = 0, nSize = 0;
        if (!GetU32(data, nPos, nKey) || !GetU32(data, nPos, nSize) || nSize > data.size() - nPos)
            return false;
        EncodedFrame frame;
        frame.bKeyFrame = nKey != 0;
        frame.data.assign(data.begin() + static_cast<std::ptrdiff_t>(nPos),
                          data.begin() + static_cast<std::ptrdiff_t>(nPos + nSize));
        nPos += nSize;
        read.frames.push_back(std::move(frame));
    }
    if (nPos != data.size() || !read.frames.front().bKeyFrame)
        return false;
    loop = std::move(read);
    return true;
}

void LoopCache::Write(const std::string &strPath, const std::string &strKey, const VideoLoop &loop)
{
    std::string data = strKey + '\n';
    PutU32(data, loop.nCodec);
    PutU32(data, static_cast<uint32_t>(loop.nWidth));
    PutU32(data, static_cast<uint32_t>(loop.nHeight));
    PutU32(data, static_cast<uint32_t>(loop.nFrameRate));
    PutU32(data, static_cast<uint32_t>(loop.frames.size()));
    for (const EncodedFrame &frame : loop.frames) {
        PutU32(data, frame.bKeyFrame ? 1 : 0);
        PutU32(data, static_cast<uint32_t>(frame.data.size()));
        data.append(reinterpret_cast<const char *>(frame.data.data()), frame.data.size());
    }
    // Written beside and renamed, so that a reader sees the whole file or none.
    const std::string strTemp = strPath + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream file(strTemp, std::ios::binary | std::ios::trunc);
        file.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!file.flush()) {
            file.close();
            std::remove(strTemp.c_str());
            return;
        }
    }
    if (std::rename(strTemp.c_str(), strPath.c_str()) != 0)
        std::remove(strTemp.c_str());
}
