// Ports of the decode library stand-in: buffers that never block and drain, errors per thread, the gate of
// forced failures, calls from a port's own callback, sound, the talk port 499 and audio capture.

#include "device/media/G711Alaw.h"
#include "device/media/G711Ulaw.h"
#include "device/media/TalkFrameHeader.h"
#include "platform/stream_block.h"
#include "standin/pavline/WavFile.h"
#include "tests/support/PavlineFixture.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using PavlinePortsTest = PavlineFixture;

int SourceBytes(int nPort) { return KTN_VIEW_GetSourceBufferRemain(nPort); }
int DecodedPictures(int nPort) { return KTN_VIEW_GetBufferValue(nPort, KTN_BUF_DECODED_PICTURES); }

TEST_F(PavlinePortsTest, InputNeverWaitsAndRefusesWhatDoesNotFit)
{
    auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
    ASSERT_TRUE(loop);
    const auto blocks = PavlineTest::Blocks(*loop, 50, 1700000000000LL);
    // Room for the first three blocks and a byte.
    const uint32_t nCapacity = static_cast<uint32_t>(blocks[0].size() + blocks[1].size() + blocks[2].size() + 1);
    ASSERT_GE(nCapacity, 1024u);
    ASSERT_NE(KTN_VIEW_OpenStream(7, nullptr, 0, nCapacity), 0);
    // Not playing: blocks are kept until the buffer is full, then refused whole.
    size_t nTaken = 0, nBytes = 0;
    while (nTaken < blocks.size() &&
           KTN_VIEW_InputData(7, blocks[nTaken].data(), static_cast<uint32_t>(blocks[nTaken].size()))) {
        nBytes += blocks[nTaken].size();
        ++nTaken;
    }
    ASSERT_EQ(nTaken, 3u);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_BUFFER_FULL);
    EXPECT_EQ(static_cast<size_t>(SourceBytes(7)), nBytes);
    EXPECT_LE(nBytes, nCapacity);
    EXPECT_GT(nBytes + blocks[nTaken].size(), nCapacity);
    EXPECT_EQ(PavlineControl::Stats(7).nInputRefused, 1);
    // A block larger than the whole buffer never fits.
    std::vector<uint8_t> huge(nCapacity + 1, 0);
    EXPECT_EQ(KTN_VIEW_InputData(7, huge.data(), static_cast<uint32_t>(huge.size())), 0);

    // Playing, the port takes the rest as it decodes, and its buffers drain to 0.
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(7, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(7, nullptr), 0);
    std::vector<std::vector<uint8_t>> rest(blocks.begin() + static_cast<std::ptrdiff_t>(nTaken), blocks.end());
    ASSERT_TRUE(PavlineTest::FeedAll(7, rest));
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return SourceBytes(7) == 0 && DecodedPictures(7) == 0; }));
    const PortStats stats = PavlineControl::Stats(7);
    // In file mode every picture is shown.
    EXPECT_EQ(stats.nPicturesShown, 50);
    EXPECT_EQ(stats.nPicturesDropped, 0);
    EXPECT_EQ(stats.nDecodeErrors, 0);
    EXPECT_NE(KTN_VIEW_Stop(7), 0);
    EXPECT_NE(KTN_VIEW_CloseStream(7), 0);
}

TEST_F(PavlinePortsTest, BlocksCutAnywhereStillDecode)
{
    auto loop = PavlineTest::PatternLoop(3, 320, 180, 25);
    ASSERT_TRUE(loop);
    const std::vector<uint8_t> stream = PavlineTest::Join(PavlineTest::Blocks(*loop, 30, 1700000000000LL, 5));
    ASSERT_NE(KTN_VIEW_OpenStream(8, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(8, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(8, nullptr), 0);
    // Pieces of 1 to 997 bytes, cutting headers and payloads alike.
    size_t nAt = 0, nPiece = 1;
    while (nAt < stream.size()) {
        const size_t n = std::min(nPiece, stream.size() - nAt);
        ASSERT_NE(KTN_VIEW_InputData(8, stream.data() + nAt, static_cast<uint32_t>(n)), 0);
        nAt += n;
        nPiece = nPiece * 7 % 997 + 1;
    }
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::Stats(8).nPicturesShown == 30; }));
    const PortStats stats = PavlineControl::Stats(8);
    EXPECT_EQ(stats.nDecodeErrors, 0);
    EXPECT_EQ(stats.nAudioUnits, 6);
    int nWidth = 0, nHeight = 0;
    EXPECT_NE(KTN_VIEW_GetPictureSize(8, &nWidth, &nHeight), 0);
    EXPECT_EQ(nWidth, 320);
    EXPECT_EQ(nHeight, 180);
}

TEST_F(PavlinePortsTest, ErrorsAreTheCallingThreadsOwn)
{
    struct Case
    {
        const char *pWhat;
        std::function<int()> call;
        int32_t nError;
    };
    NativeTestWindow window(64, 64);
    const std::vector<Case> cases = {
        {"port below range", [] { return KTN_VIEW_OpenStream(-1, nullptr, 0, 100000); }, KTN_ERR_PORT},
        {"port above range", [] { return KTN_VIEW_Stop(KTN_VIEW_MAX_PORT); }, KTN_ERR_PORT},
        {"tiny buffer", [] { return KTN_VIEW_OpenStream(1, nullptr, 0, 16); }, KTN_ERR_PARAM},
        {"input to a closed port", [] {
             const unsigned char b[4] = {0, 0, 1, 0xFC};
             return KTN_VIEW_InputData(2, b, 4);
         }, KTN_ERR_ORDER},
        {"play of a closed port", [] { return KTN_VIEW_Play(2, nullptr); }, KTN_ERR_ORDER},
        {"stop of a port not playing", [] {
             KTN_VIEW_OpenStream(3, nullptr, 0, 100000);
             return KTN_VIEW_Stop(3);
         }, KTN_ERR_ORDER},
        {"no such window", [] { return KTN_VIEW_Play(3, reinterpret_cast<HWND>(0x7FFFFFF0)); }, KTN_ERR_WINDOW},
        {"pause of a port not playing", [] { return KTN_VIEW_Pause(3, 1); }, KTN_ERR_ORDER},
        {"file mode of a closed port", [] { return KTN_VIEW_SetStreamOpenMode(4, STREAME_FILE); }, KTN_ERR_ORDER},
        {"missing file", [] { return KTN_VIEW_OpenFile(4, "/nonexistent/file.h265x"); }, KTN_ERR_FILE},
        {"region out of scale", [] {
             const RECT r{0, 0, 9000, 100};
             return KTN_VIEW_SetDisplayRegion(3, 0, &r, nullptr, 1);
         }, KTN_ERR_PARAM},
        {"colour out of range", [] { return KTN_VIEW_SetColor(3, 0, 64, 64, 129, 64); }, KTN_ERR_PARAM},
        {"picture size before a picture", [] {
             int w = 0, h = 0;
             return KTN_VIEW_GetPictureSize(3, &w, &h);
         }, KTN_ERR_NO_PICTURE},
        {"record of an unknown type", [] { return KTN_VIEW_StartDataRecord(3, "/tmp/x.rec", 5); }, KTN_ERR_PARAM},
        {"stop of no recorder", [] { return KTN_VIEW_StopDataRecord(3); }, KTN_ERR_ORDER},
        {"capture of 8 bits", [] { return KTN_VIEW_StartAudioCapture([](const unsigned char *, int32_t, void *) {}, 8, 8000, 320, nullptr); }, KTN_ERR_PARAM},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.call(), 0) << c.pWhat;
        EXPECT_EQ(KTN_VIEW_GetLastError(), c.nError) << c.pWhat;
    }
    // Another thread's failure does not change this thread's error, nor the other way round.
    EXPECT_EQ(KTN_VIEW_Play(2, nullptr), 0);
    int32_t nOther = -1;
    std::thread([&] {
        KTN_VIEW_Stop(KTN_VIEW_MAX_PORT + 3);
        nOther = KTN_VIEW_GetLastError();
    }).join();
    EXPECT_EQ(nOther, KTN_ERR_PORT);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_ORDER);
    // The window exists: the same play works.
    EXPECT_NE(KTN_VIEW_Play(3, window.Handle()), 0);
}

TEST_F(PavlinePortsTest, ForcedFailuresAndTheJournal)
{
    ASSERT_NE(KTN_VIEW_OpenStream(9, nullptr, 1, 2048000), 0);
    PavlineControl::FailNextCall("KTN_VIEW_Play", KTN_ERR_FAILED);
    EXPECT_EQ(KTN_VIEW_Play(9, nullptr), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_FAILED);
    EXPECT_FALSE(PavlineControl::Stats(9).bPlaying);
    EXPECT_NE(KTN_VIEW_Play(9, nullptr), 0);
    EXPECT_NE(KTN_VIEW_Pause(9, 1), 0);
    const std::vector<std::string> expected = {"KTN_VIEW_OpenStream 9 1 2048000", "KTN_VIEW_Play 9 0",
                                               "KTN_VIEW_Play 9 0", "KTN_VIEW_Pause 9 1"};
    EXPECT_EQ(PavlineControl::Journal(), expected);
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_Play").size(), 2u);
}

// A decode callback that tries to stop and close its own port.
struct SelfStop
{
    int nPort = 0;
    std::atomic<int> nStop{-1}, nClose{-1}, nError{0}, nCalls{0};
};

void StopFromCallback(int32_t, void *, void *pUser)
{
    SelfStop *p = static_cast<SelfStop *>(pUser);
    if (p->nCalls++ == 0) {
        p->nStop = KTN_VIEW_Stop(p->nPort);
        p->nError = KTN_VIEW_GetLastError();
        p->nClose = KTN_VIEW_CloseStream(p->nPort);
    }
}

TEST_F(PavlinePortsTest, APortCannotBeStoppedFromItsOwnCallback)
{
    auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
    ASSERT_TRUE(loop);
    SelfStop self;
    const PortsStop stop;
    self.nPort = 11;
    ASSERT_NE(KTN_VIEW_SetDecCallBack(11, StopFromCallback, &self), 0);
    ASSERT_NE(KTN_VIEW_OpenStream(11, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(11, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(11, nullptr), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(11, PavlineTest::Blocks(*loop, 5, 1700000000000LL)));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return self.nCalls.load() >= 5; }));
    EXPECT_EQ(self.nStop.load(), 0);
    EXPECT_EQ(self.nClose.load(), 0);
    EXPECT_EQ(self.nError.load(), KTN_ERR_WRONG_THREAD);
    EXPECT_TRUE(PavlineControl::Stats(11).bPlaying);
    // From outside, the stop returns once no callback can come any more.
    EXPECT_NE(KTN_VIEW_Stop(11), 0);
    const int nCalls = self.nCalls.load();
    // The stopped port has no thread left: what it is given now is decoded by nobody.
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(11, PavlineTest::Blocks(*loop, 5, 1700000001000LL)));
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    EXPECT_EQ(self.nCalls.load(), nCalls);
}

TEST_F(PavlinePortsTest, SixtyFourPortsShareAtMostOneWorkerPerCore)
{
    auto loop = PavlineTest::PatternLoop(2, 160, 96, 25);
    ASSERT_TRUE(loop);
    const auto blocks = PavlineTest::Blocks(*loop, 30, 1700000000000LL, 3);
    const int nCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const PortsStop stop;
    for (int nPort = 0; nPort < 64; ++nPort) {
        ASSERT_NE(KTN_VIEW_OpenStream(nPort, nullptr, 0, 4096000), 0);
        ASSERT_NE(KTN_VIEW_SetStreamOpenMode(nPort, STREAME_FILE), 0);
        ASSERT_NE(KTN_VIEW_Play(nPort, nullptr), 0);
    }
    int nMostThreads = 0;
    for (int nPort = 0; nPort < 64; ++nPort) {
        ASSERT_TRUE(PavlineTest::FeedAll(nPort, blocks)) << nPort;
        nMostThreads = std::max(nMostThreads, PavlineControl::RunningThreads());
    }
    ASSERT_TRUE(PavlineTest::WaitUntil([] {
        for (int nPort = 0; nPort < 64; ++nPort)
            if (PavlineControl::Stats(nPort).nPicturesShown < 30)
                return false;
        return true;
    }));
    nMostThreads = std::max(nMostThreads, PavlineControl::RunningThreads());
    EXPECT_LE(nMostThreads, nCores);
    EXPECT_LE(PavlineControl::DecodeWorkers(), nCores);
    for (int nPort = 0; nPort < 64; ++nPort) {
        const PortStats stats = PavlineControl::Stats(nPort);
        EXPECT_EQ(stats.nPicturesShown, 30) << nPort;
        EXPECT_EQ(stats.nAudioUnits, 10) << nPort;
        EXPECT_EQ(stats.nDecodeErrors, 0) << nPort;
    }
    for (int nPort = 0; nPort < 64; ++nPort)
        EXPECT_NE(KTN_VIEW_Stop(nPort), 0);
    // The last stop ended the workers.
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
}

// A decode callback that is held inside until the test lets it go.
struct HeldCallback
{
    std::mutex mutex;
    std::condition_variable cv;
    bool bHold = true;
    std::atomic<bool> bInside{false};
    std::atomic<int> nCalls{0};

    static void OnPicture(int32_t, void *, void *pUser)
    {
        HeldCallback *p = static_cast<HeldCallback *>(pUser);
        p->bInside = true;
        {
            std::unique_lock<std::mutex> lock(p->mutex);
            p->cv.wait(lock, [p] { return !p->bHold; });
        }
        ++p->nCalls;
        p->bInside = false;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        bHold = false;
        cv.notify_all();
    }
};

TEST_F(PavlinePortsTest, AStopReturnsOnlyOnceTheCallbackUnderWayHasEnded)
{
    auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
    ASSERT_TRUE(loop);
    HeldCallback held;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_SetDecCallBack(13, HeldCallback::OnPicture, &held), 0);
    ASSERT_NE(KTN_VIEW_OpenStream(13, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(13, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(13, nullptr), 0);
    // Another port plays on meanwhile: the held callback holds up only its own port.
    ASSERT_NE(KTN_VIEW_OpenStream(14, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(14, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(14, nullptr), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(13, PavlineTest::Blocks(*loop, 5, 1700000000000LL)));
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return held.bInside.load(); }));
    ASSERT_TRUE(PavlineTest::FeedAll(14, PavlineTest::Blocks(*loop, 10, 1700000000000LL)));
    ASSERT_TRUE(PavlineControl::WaitForShown(14, 10, 20000));

    std::atomic<bool> bStopped{false}, bInsideAtReturn{true};
    std::thread stopper([&] {
        bStopped = KTN_VIEW_Stop(13) != 0;
        bInsideAtReturn = held.bInside.load();
    });
    held.Release();
    stopper.join();
    EXPECT_TRUE(bStopped.load());
    EXPECT_FALSE(bInsideAtReturn.load());
    const int nCalls = held.nCalls.load();
    ASSERT_TRUE(PavlineTest::FeedAll(13, PavlineTest::Blocks(*loop, 5, 1700000001000LL)));
    ASSERT_TRUE(PavlineTest::FeedAll(14, PavlineTest::Blocks(*loop, 5, 1700000001000LL)));
    ASSERT_TRUE(PavlineControl::WaitForShown(14, 15, 20000));
    EXPECT_EQ(held.nCalls.load(), nCalls);
}

// A decode callback of one port that stops another port, once.
struct StopOther
{
    int nOther = 0;
    std::atomic<int> nStop{-1}, nCalls{0};
};

void StopOtherFromCallback(int32_t, void *, void *pUser)
{
    StopOther *p = static_cast<StopOther *>(pUser);
    if (p->nCalls++ == 0)
        p->nStop = KTN_VIEW_Stop(p->nOther);
}

TEST_F(PavlinePortsTest, APortsCallbackMayStopAnotherPort)
{
    auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
    ASSERT_TRUE(loop);
    StopOther other;
    other.nOther = 16;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_OpenStream(16, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(16, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(16, nullptr), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(16, PavlineTest::Blocks(*loop, 5, 1700000000000LL)));
    ASSERT_TRUE(PavlineControl::WaitForShown(16, 1, 20000));
    ASSERT_NE(KTN_VIEW_SetDecCallBack(15, StopOtherFromCallback, &other), 0);
    ASSERT_NE(KTN_VIEW_OpenStream(15, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(15, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(15, nullptr), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(15, PavlineTest::Blocks(*loop, 10, 1700000000000LL)));
    ASSERT_TRUE(PavlineControl::WaitForShown(15, 10, 20000));
    EXPECT_EQ(other.nStop.load(), 1);
    EXPECT_FALSE(PavlineControl::Stats(16).bPlaying);
    EXPECT_EQ(other.nCalls.load(), 10);
    EXPECT_NE(KTN_VIEW_Stop(15), 0);
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
}

// Talk frames: the 8-byte talk header and G.711 codes of a known tone.
std::vector<uint8_t> TalkFrame(uint8_t nType, int nRate, const std::vector<int16_t> &pcm)
{
    std::vector<uint8_t> codes;
    for (int16_t s : pcm)
        codes.push_back(nType == TalkFrameHeader::kAudioAlaw ? G711AlawEncodeSample(s) : G711UlawEncodeSample(s));
    const TalkFrameHeader header = TalkFrameHeader::Make(nType, nRate, static_cast<uint16_t>(codes.size()));
    std::vector<uint8_t> frame(reinterpret_cast<const uint8_t *>(&header),
                               reinterpret_cast<const uint8_t *>(&header) + sizeof header);
    frame.insert(frame.end(), codes.begin(), codes.end());
    return frame;
}

std::vector<int16_t> Tone(size_t n, int nRate, double dHz)
{
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i)
        pcm[i] = static_cast<int16_t>(std::lround(6000.0 * std::sin(6.283185307 * dHz * static_cast<double>(i) / nRate)));
    return pcm;
}

TEST_F(PavlinePortsTest, TalkPortPlaysAudioWithoutAWindowIntoTheSoundFile)
{
    const QString strWav = TempPath("sound.wav");
    setenv("PAVLINE_SOUND_WAV", strWav.toLocal8Bit().constData(), 1);
    PavlineControl::Reset();    // the sound device opens the file anew
    ASSERT_NE(KTN_VIEW_OpenStream(499, nullptr, 0, 2560000), 0);
    ASSERT_NE(KTN_VIEW_Play(499, nullptr), 0);
    ASSERT_NE(KTN_VIEW_PlaySoundShare(499), 0);
    // Another port may be heard at the same time.
    ASSERT_NE(KTN_VIEW_OpenStream(5, nullptr, 0, 2048000), 0);
    ASSERT_NE(KTN_VIEW_PlaySound(5), 0);
    EXPECT_EQ(PavlineControl::SoundPort(), 5);
    EXPECT_EQ(PavlineControl::SharedSoundPorts(), std::vector<int>{499});

    const std::vector<int16_t> tone = Tone(160, 8000, 440.0);
    std::vector<uint8_t> frames;
    for (int i = 0; i < 10; ++i) {
        const auto f = TalkFrame(i % 2 ? TalkFrameHeader::kAudioUlaw : TalkFrameHeader::kAudioAlaw, 8000, tone);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    ASSERT_NE(KTN_VIEW_InputData(499, frames.data(), static_cast<uint32_t>(frames.size())), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::SoundSamples(499) == 1600; }));
    EXPECT_EQ(PavlineControl::SoundBlocks(499), 10);

    std::vector<int16_t> written;
    int nRate = 0;
    ASSERT_TRUE(WavFile::Read(strWav.toStdString(), written, nRate));
    EXPECT_EQ(nRate, 8000);
    ASSERT_EQ(written.size(), 1600u);
    // What is heard is the tone again, within G.711's step.
    for (size_t i = 0; i < written.size(); ++i)
        ASSERT_NEAR(written[i], tone[i % 160], 200) << i;

    // Sound share off: the frames go on being decoded, nothing more is heard.
    ASSERT_NE(KTN_VIEW_StopSoundShare(499), 0);
    ASSERT_NE(KTN_VIEW_InputData(499, frames.data(), static_cast<uint32_t>(frames.size())), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::Stats(499).nAudioUnits == 20; }));
    EXPECT_EQ(PavlineControl::SoundSamples(499), 1600);
    // The single sound port: a new one replaces it; off without a port.
    ASSERT_NE(KTN_VIEW_OpenStream(6, nullptr, 0, 2048000), 0);
    ASSERT_NE(KTN_VIEW_PlaySound(6), 0);
    EXPECT_EQ(PavlineControl::SoundPort(), 6);
    ASSERT_NE(KTN_VIEW_StopSound(), 0);
    EXPECT_EQ(PavlineControl::SoundPort(), -1);
    EXPECT_NE(KTN_VIEW_Stop(499), 0);
    EXPECT_NE(KTN_VIEW_CloseStream(499), 0);
    unsetenv("PAVLINE_SOUND_WAV");
}

TEST_F(PavlinePortsTest, SoundOfAStreamIsHeardOnlyAtNormalSpeed)
{
    auto loop = PavlineTest::PatternLoop(2, 320, 180, 25);
    ASSERT_TRUE(loop);
    ASSERT_NE(KTN_VIEW_OpenStream(12, nullptr, 0, 4096000), 0);
    ASSERT_NE(KTN_VIEW_SetStreamOpenMode(12, STREAME_FILE), 0);
    ASSERT_NE(KTN_VIEW_Play(12, nullptr), 0);
    ASSERT_NE(KTN_VIEW_PlaySound(12), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(12, PavlineTest::Blocks(*loop, 10, 1700000000000LL, 2)));
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::Stats(12).nAudioUnits == 5; }));
    EXPECT_EQ(PavlineControl::SoundSamples(12), 5 * 320);
    ASSERT_NE(KTN_VIEW_Fast(12), 0);
    ASSERT_TRUE(PavlineTest::FeedAll(12, PavlineTest::Blocks(*loop, 10, 1700000000400LL, 2)));
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::Stats(12).nAudioUnits == 10; }));
    EXPECT_EQ(PavlineControl::SoundSamples(12), 5 * 320);
    // The port's close ends its sound.
    EXPECT_NE(KTN_VIEW_CloseStream(12), 0);
    EXPECT_EQ(PavlineControl::SoundPort(), -1);
}

// Collects capture blocks.
struct CaptureSink
{
    std::mutex mutex;
    std::vector<std::vector<int16_t>> blocks;
    std::atomic<int> nStopResult{-1}, nStopError{0};
    bool bTryStop = false;
};

void OnCapture(const unsigned char *pPcm, int32_t nLength, void *pUser)
{
    CaptureSink *pSink = static_cast<CaptureSink *>(pUser);
    std::vector<int16_t> block(static_cast<size_t>(nLength / 2));
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>(pPcm[2 * i] | (pPcm[2 * i + 1] << 8));
    std::lock_guard<std::mutex> lock(pSink->mutex);
    if (pSink->bTryStop && pSink->blocks.empty()) {
        pSink->nStopResult = KTN_VIEW_StopAudioCapture();
        pSink->nStopError = KTN_VIEW_GetLastError();
    }
    pSink->blocks.push_back(std::move(block));
}

TEST_F(PavlinePortsTest, AudioCaptureDeliversToneBlocksUntilStopped)
{
    CaptureSink sink;
    const PortsStop stop;
    sink.bTryStop = true;
    ASSERT_NE(KTN_VIEW_StartAudioCapture(OnCapture, 16, 8000, 640, &sink), 0);
    EXPECT_EQ(KTN_VIEW_StartAudioCapture(OnCapture, 16, 8000, 640, &sink), 0);
    EXPECT_EQ(KTN_VIEW_GetLastError(), KTN_ERR_BUSY);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(sink.mutex);
        return sink.blocks.size() >= 5;
    }));
    // The capture thread cannot wait for itself.
    EXPECT_EQ(sink.nStopResult.load(), 0);
    EXPECT_EQ(sink.nStopError.load(), KTN_ERR_WRONG_THREAD);
    ASSERT_NE(KTN_VIEW_StopAudioCapture(), 0);
    size_t nBlocks = 0;
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        nBlocks = sink.blocks.size();
        for (const auto &block : sink.blocks)
            ASSERT_EQ(block.size(), 320u);
        // A tone: not silence, and within its amplitude.
        int nPeak = 0;
        for (int16_t s : sink.blocks[0])
            nPeak = std::max(nPeak, std::abs(static_cast<int>(s)));
        EXPECT_GT(nPeak, 4000);
        EXPECT_LE(nPeak, 8000);
    }
    // The capture's thread is gone: no block can come after the stop.
    EXPECT_FALSE(PavlineControl::CaptureRunning());
    EXPECT_EQ(PavlineControl::RunningThreads(), 0);
    std::lock_guard<std::mutex> lock(sink.mutex);
    EXPECT_EQ(sink.blocks.size(), nBlocks);
}

TEST_F(PavlinePortsTest, AudioCaptureReadsTheMicrophoneFileAtTheAskedRate)
{
    // A ramp at 8000 Hz, captured at 16000 Hz: every sample twice, looped.
    std::vector<int16_t> ramp(400);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<int16_t>(i * 10);
    const QString strWav = TempPath("mic.wav");
    {
        WavFile wav;
        ASSERT_TRUE(wav.Create(strWav.toStdString(), 8000));
        ASSERT_TRUE(wav.Append(ramp.data(), ramp.size()));
    }
    setenv("PAVLINE_MIC_WAV", strWav.toLocal8Bit().constData(), 1);
    CaptureSink sink;
    const PortsStop stop;
    ASSERT_NE(KTN_VIEW_StartAudioCapture(OnCapture, 16, 16000, 640, &sink), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(sink.mutex);
        return sink.blocks.size() >= 4;
    }));
    ASSERT_NE(KTN_VIEW_StopAudioCapture(), 0);
    unsetenv("PAVLINE_MIC_WAV");
    std::vector<int16_t> all;
    for (const auto &block : sink.blocks)
        all.insert(all.end(), block.begin(), block.end());
    ASSERT_GE(all.size(), 1280u);
    for (size_t i = 0; i < 1280; ++i)
        ASSERT_EQ(all[i], ramp[(i / 2) % ramp.size()]) << i;
}

} // namespace
