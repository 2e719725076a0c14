#pragma once

// Fixtures for recording tests: an application directory of its own with the OEM mode of the test, live
// streams of the simulated device into decode channels, blocks replayed into a channel with their live records,
// what libavformat and libavcodec make of a recorded file, and ffmpeg stand-in scripts in the application
// directory.

#include "platform/korvex.h"
#include "tests/support/PavlineFixture.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDecodeChannel;

namespace RecordTest {

// A V2 live data callback that hands each block to a decode channel as the live page does, noting what came.
struct LiveFeed
{
    // One block delivered: video (a key frame or not) or sound with its samples.
    struct Event
    {
        bool bVideo = false;
        bool bKey = false;
        int nSamples = 0;
        int nSampleRate = 0;
        int64_t nTimeMs = 0;    // video: the block's device timestamp
    };

    CDecodeChannel *pChannel = nullptr;
    std::atomic<int> nVideo{0};
    std::atomic<int> nBlocks{0};

    static int32_t OnFrame(int32_t lPlay, const RealDataFrame *pFrame, void *pUser);
    std::vector<Event> Events() const;
    // Video blocks since the last key frame (-1 before the first key frame).
    int FramesSinceKey() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    int m_nSinceKey = -1;
};

} // namespace RecordTest

// A decode-library test with the data centre on a temporary application directory and g_nOemMode set by the
// test (back to 0 at its end). Its teardown stops every live stream it started before the channels go, and
// waits for every record worker.
class RecordFixture : public PavlineFixture
{
protected:
    // A decode channel playing a live stream of the simulated device, as the live page has it.
    struct LiveChannel
    {
        std::unique_ptr<CDecodeChannel> pChannel;
        RecordTest::LiveFeed feed;
        int32_t lPlay = 0;
    };

    void SetUp() override;
    void TearDown() override;

    // Opens a channel on port nPort, plays it and connects stream nStream of device channel nChannel into it.
    LiveChannel &StartLive(int32_t lLogin, int nChannel, int nStream, int nPort);
    // Stops the stream (no block comes after this), the preview, closes the port and deletes the channel.
    void StopLive(LiveChannel &live);
    // Waits until every record worker of the process has ended (the channels they belonged to gone).
    bool WaitForRecordings();

    void SetOemMode(int nMode);
    QString AppDir() const;
    QString RecordDir() const;
    QString TempFolder() const;   // the application directory's "Temp<session>"
    // The files of the record folder matching the pattern ("*.mp4"), sorted by name.
    QStringList RecordFiles(const QString &strPattern) const;
    // Writes an executable "ffmpeg" script with the given body (after "#!/bin/sh") into the application directory.
    void FakeFfmpeg(const std::string &strBody);

private:
    std::vector<std::unique_ptr<LiveChannel>> m_lives;
    QString m_strSavedAppDir;
    int m_nSavedSessionId = 0;
};

namespace RecordTest {

// One block with the record the live stream gives it.
struct LiveBlock
{
    std::vector<uint8_t> data;
    RealDataFrame frame{};
};

// nFrames video blocks of the loop (repeated as needed) from nStartMs, with their records; with bSound the
// stream's sound comes between them as a device sends it: blocks of 40 ms of a 440 Hz tone (A-law, or mu-law, at
// the rate code), each once the pictures have reached its time.
std::vector<LiveBlock> LiveBlocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, bool bSound = false,
                                  uint8_t nAudioType = 0x0E, uint8_t nRateCode = 0x02);
// The samples of sound among the blocks.
int64_t SoundSamples(const std::vector<LiveBlock> &blocks);
// Hands every block to the channel as the live page does.
void Feed(CDecodeChannel &channel, const std::vector<LiveBlock> &blocks);
// The payload bytes of the video blocks.
size_t VideoPayload(const std::vector<LiveBlock> &blocks);

// A loop encoded here (H.264 or H.265 by the block codec): a key frame a second with its parameter sets, no
// B-frames; the simulated device's test pattern, or with bNoise pictures of noise (a stream of about two bits a
// pixel, for files that grow fast); with bTiming false its H.265 parameter sets carry no timing (so that a raw
// reader takes 25 frames a second).
std::shared_ptr<const VideoLoop> EncodedLoop(uint8_t nCodec, int nWidth, int nHeight, int nFrameRate, int nFrames,
                                             bool bNoise, bool bTiming = true);
std::shared_ptr<const VideoLoop> UntimedH265Loop(int nWidth, int nHeight, int nFrameRate, int nFrames);

// What libavformat and libavcodec make of a media file: every packet of its video stream decoded, and every
// packet of its (first) audio stream.
struct MediaReport
{
    bool bOpened = false;
    std::string strVideoCodec;      // "h264", "hevc"
    int nWidth = 0, nHeight = 0;
    int nVideoPackets = 0;
    int64_t nVideoBytes = 0;
    int nPictures = 0;              // decoded, the decoder drained
    int nDecodeErrors = 0;
    bool bFirstIsKey = false;
    std::vector<bool> keyFlags;     // per video packet
    double dFrameRate = 0;          // from the first and last video timestamps
    double dVideoDuration = 0;      // seconds, from the first picture's start to the last one's end
    bool bDtsRising = true;         // every video packet's decoding time after the one before
    bool bPicturesInOrder = true;   // the decoded pictures' times rising, in the order they come out
    int nAudioStreams = 0;
    std::string strAudioCodec;
    int nSampleRate = 0;
    int nAudioPackets = 0;
    int64_t nAudioBytes = 0;
    int nAudioDecodeErrors = 0;
    int64_t nAudioSamples = 0;      // decoded
    double dAudioDuration = 0;      // seconds of decoded sound
};
// With nDecodeLimit above 0 only the first video packets are decoded (all are still read).
MediaReport Probe(const QString &strPath, int nDecodeLimit = 0);
std::string Describe(const MediaReport &report);

} // namespace RecordTest
