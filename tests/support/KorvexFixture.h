#pragma once

// Fixtures for tests against the simulated device library: a clean, initialised library per test, a sink that
// collects what the library's callbacks deliver, and a libavcodec decoder for the streams.

#include "platform/korvex.h"
#include "standin/korvex/KorvexControl.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A test with the library reset and initialised (no disconnect callback); at its end the library is cleaned up
// and no library thread may be left.
class KorvexFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the JSON text to a file named by KORVEX_DEVICES and starts the library again with those devices.
    void UseDevices(const std::string &strJson);
    // A login to the built-in device by address.
    int32_t LoginBuiltIn();
    // A login by address to a device entry of UseDevices.
    int32_t LoginAt(const std::string &strIP, int nPort, const std::string &strUser = "admin",
                    const std::string &strPassword = "");
    QString TempPath(const QString &strName) const { return m_tempDir.filePath(strName); }

    // Holds the library's clock (KorvexControl::HoldClock) for the rest of the test and waits until every
    // library thread waits on it.
    void HoldClock();
    // Lets the library run for nMilliseconds of its own time, in steps of nStepMs, each waited out until every
    // library thread is idle again; a clock not held by the test is held for this and let go afterwards. A
    // check that nothing more comes (after a stop, a pause, a cut or a removed callback) runs the library so,
    // rather than sleeping for a while.
    void RunLibraryFor(int nMilliseconds, int nStepMs = 20);

    QTemporaryDir m_tempDir;
    bool m_bClockHeld = false;
};

// Ends every stream of the library when it goes out of scope. Declared after the probes and sinks of a test
// that the library's callbacks write into, it stops the streams before those are gone, also when a failed
// assertion leaves the test early: the fixture's TearDown runs only after the test's locals have gone.
class StreamsStop
{
public:
    StreamsStop() = default;
    StreamsStop(const StreamsStop &) = delete;
    StreamsStop &operator=(const StreamsStop &) = delete;
    ~StreamsStop() { ZDK_DEV_Cleanup(); }
};

// A live stream of the login's channel (ZDK_DEV_RealPlay, no callback set yet); 0 when the library refuses it.
int32_t OpenLiveStream(int32_t lLogin, int nChannel, int nStream);

// Collects blocks and position reports from the library's threads.
class BlockSink
{
public:
    struct Block
    {
        int32_t nHandle = 0;
        int32_t nType = 0;
        std::vector<uint8_t> data;
        bool bHasFrame = false;
        RealDataFrame frame{};      // V2 only (its data pointer is not valid after the call)
        std::thread::id thread;
        std::chrono::steady_clock::time_point at;
    };
    struct Position
    {
        int32_t nHandle;
        int32_t nTotal;
        int32_t nPos;
    };

    // Callbacks whose user value is the BlockSink.
    static int32_t OnData(int32_t lHandle, int32_t nType, const unsigned char *pData, uint32_t nSize, void *pUser);
    static int32_t OnFrame(int32_t lHandle, const RealDataFrame *pFrame, void *pUser);
    static void OnPos(int32_t lHandle, int32_t nTotal, int32_t nPos, void *pUser);

    size_t Count() const;
    std::vector<Block> Blocks() const;
    std::vector<Position> Positions() const;
    bool WaitForBlocks(size_t nCount, int nTimeoutMs) const;
    bool WaitForPositions(size_t nCount, int nTimeoutMs) const;
    void Clear();

    // The next n deliveries are refused (the callback returns 0); they are counted in Refused().
    void RefuseNext(int n) { m_nRefuse = n; }
    int Refused() const { return m_nRefused; }
    // Keeps only the last blocks, so that long runs do not grow without bound (0: keep all).
    void KeepLast(size_t n) { m_nKeep = n; }

private:
    int32_t Take(Block &&block);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Block> m_blocks;
    std::vector<Position> m_positions;
    size_t m_nTotal = 0;
    std::atomic<int> m_nRefuse{0};
    std::atomic<int> m_nRefused{0};
    std::atomic<size_t> m_nKeep{0};
};

// Decodes Annex-B access units with libavcodec.
class AvTestDecoder
{
public:
    explicit AvTestDecoder(bool bH265);
    ~AvTestDecoder();
    AvTestDecoder(const AvTestDecoder &) = delete;
    AvTestDecoder &operator=(const AvTestDecoder &) = delete;

    // Decodes one access unit; false when the decoder reports an error.
    bool Decode(const uint8_t *pData, size_t nSize);
    // Drains the pictures still inside; false on an error.
    bool Flush();
    int Pictures() const { return m_nPictures; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    bool Receive();

    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    int m_nPictures = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
};
