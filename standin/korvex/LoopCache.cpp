#include "standin/korvex/LoopCache.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KORVEX_BUILT_LOOPS
#define KORVEX_BUILT_LOOPS ""
#endif

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

std::string FullKey(const std::string &strKey) { return std::string(kFormat) + " " + LIBAVCODEC_IDENT + " " + strKey; }

void PutU32(std::string &out, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

bool GetU32(const std::string &in, size_t &nPos, uint32_t &n)
{
    if (nPos > in.size() || in.size() - nPos < 4)
        return false;
    n = 0;
    for (int i = 0; i < 4; ++i)
        n |= static_cast<uint32_t>(static_cast<unsigned char>(in[nPos + i])) << (8 * i);
    nPos += 4;
    return true;
}

// A descriptor that closes itself (closing the lock file releases its lock).
struct Descriptor
{
    int fd = -1;
    explicit Descriptor(int n = -1)
        : fd(n)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

// Says once per folder why it is not used.
void NoteRefused(const std::string &strFolder, const std::string &strWhy)
{
    static std::mutex s_mutex;
    static std::set<std::string> s_noted;
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s_noted.insert(strFolder).second)
        std::fprintf(stderr, "korvex stand-in: loop cache %s not used: %s\n", strFolder.c_str(), strWhy.c_str());
}

bool WriteAll(int fd, const std::string &data)
{
    size_t nDone = 0;
    while (nDone < data.size()) {
        const ssize_t n = ::write(fd, data.data() + nDone, data.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string LoopCache::BuiltFolder() { return KORVEX_BUILT_LOOPS; }

std::string LoopCache::RunTimeFolder()
{
    if (const char *pFolder = std::getenv("KORVEX_LOOP_CACHE"))
        return pFolder;
    // Per program folder: two builds (or two checkouts) never share loops of a pattern that may differ.
    char path[4096];
    const ssize_t nLength = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string strProgram = nLength > 0 ? std::string(path, static_cast<size_t>(nLength)) : std::string();
    strProgram = strProgram.substr(0, strProgram.rfind('/'));
    const char *pTemp = std::getenv("TMPDIR");
    return TemporaryFolder(pTemp && *pTemp ? pTemp : "/tmp", strProgram);
}

std::string LoopCache::TemporaryFolder(const std::string &strTemp, const std::string &strProgramFolder)
{
    return strTemp + "/korvex-loops-" + std::to_string(::geteuid()) + "-" + Hex(Fnv1a(strProgramFolder)).substr(0, 8);
}

std::string LoopCache::FileName(const std::string &strKey) { return Hex(Fnv1a(FullKey(strKey))) + ".loop"; }

int LoopCache::OpenFolder(const std::string &strPath, bool bCreate, std::string &strWhy)
{
    if (strPath.empty()) {
        strWhy = "no folder";
        return -1;
    }
    if (bCreate && ::mkdir(strPath.c_str(), 0700) != 0 && errno != EEXIST) {
        strWhy = std::string("cannot be made: ") + std::strerror(errno);
        return -1;
    }
    // Checked on the descriptor itself, so that what is checked is what is used.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        strWhy = errno == ELOOP || errno == ENOTDIR ? "a link or no folder" : std::strerror(errno);
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        strWhy = "no folder";
    } else if (st.st_uid != ::geteuid()) {
        strWhy = "owned by user " + std::to_string(st.st_uid);
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char szMode[8];
        std::snprintf(szMode, sizeof szMode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        strWhy = std::string("writable by others (mode ") + szMode + ")";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

bool LoopCache::Get(const std::string &strKey, VideoLoop &loop, const Encode &encode, std::string &strError)
{
    const std::string strFullKey = FullKey(strKey);
    const std::string strName = FileName(strKey);
    std::string strWhy;
    {
        Descriptor built(OpenFolder(BuiltFolder(), false, strWhy));
        if (built.fd >= 0 && Read(built.fd, strName, strFullKey, loop))
            return true;
    }
    const std::string strFolder = RunTimeFolder();
    if (strFolder.empty())
        return encode(loop, strError);
    Descriptor folder(OpenFolder(strFolder, true, strWhy));
    if (folder.fd < 0) {
        NoteRefused(strFolder, strWhy);
        return encode(loop, strError);
    }
    if (Read(folder.fd, strName, strFullKey, loop))
        return true;
    // The lock file is made new, or else opened as the regular file of this user that another process made; a
    // name that is something else is not used, and the loop is then made without the lock.
    const std::string strLock = strName + ".lock";
    Descriptor lock(::openat(folder.fd, strLock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.fd < 0 && errno == EEXIST)
        lock.fd = ::openat(folder.fd, strLock.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    if (lock.fd >= 0 && (::fstat(lock.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
        ::close(lock.fd);
        lock.fd = -1;
    }
    if (lock.fd >= 0) {
        while (::flock(lock.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // Another process may have made it while this one waited for the lock.
        if (Read(folder.fd, strName, strFullKey, loop))
            return true;
    }
    if (!encode(loop, strError))
        return false;
    std::string strWriteError;
    if (!Write(folder.fd, strName, strFullKey, loop, strWriteError))
        NoteRefused(strFolder + "/" + strName, strWriteError);
    return true;
}

bool LoopCache::Put(const std::string &strFolder, const std::string &strKey, const VideoLoop &loop,
                    std::string &strError)
{
    Descriptor folder(OpenFolder(strFolder, true, strError));
    if (folder.fd < 0) {
        strError = strFolder + ": " + strError;
        return false;
    }
    return Write(folder.fd, FileName(strKey), FullKey(strKey), loop, strError);
}

bool LoopCache::Read(int nFolder, const std::string &strName, const std::string &strKey, VideoLoop &loop)
{
    Descriptor file(::openat(nFolder, strName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st = {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 30))
        return false;
    std::string data(static_cast<size_t>(st.st_size), '\0');
    size_t nDone = 0;
    while (nDone < data.size()) {
        const ssize_t n = ::read(file.fd, &data[nDone], data.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
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

bool LoopCache::Write(int nFolder, const std::string &strName, const std::string &strKey, const VideoLoop &loop,
                      std::string &strError)
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
    // Written to a file made new beside it and renamed over the name, so that a reader sees the whole file or
    // none, and a link planted under either name is replaced, never followed.
    static std::atomic<unsigned> s_nTemp{0};
    const std::string strTemp = strName + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++s_nTemp);
    bool bOk = false;
    {
        Descriptor file(
            ::openat(nFolder, strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.fd < 0) {
            strError = strTemp + ": " + std::strerror(errno);
            return false;
        }
        bOk = WriteAll(file.fd, data);
        if (!bOk)
            strError = strTemp + ": " + std::strerror(errno);
    }
    if (bOk && ::renameat(nFolder, strTemp.c_str(), nFolder, strName.c_str()) != 0) {
        strError = strName + ": " + std::strerror(errno);
        bOk = false;
    }
    if (!bOk)
        ::unlinkat(nFolder, strTemp.c_str(), 0);
    return bOk;
}
