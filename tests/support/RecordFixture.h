#pragma once

// Fixtures for recording tests: an application directory of its own with the OEM mode of the test, blocks
// replayed into a decode channel with their live records, what libavformat and libavcodec make of a recorded
// file, and ffmpeg stand-in scripts in the application directory.

#include "platform/korvex.h"
#include "tests/support/PavlineFixture.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CDecodeChannel;

// A decode-library test with the data centre on a temporary application directory and g_nOemMode set by the
// test (back to 0 at its end).
class RecordFixture : public PavlineFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    void SetOemMode(int nMode);
    QString AppDir() const;
    QString RecordDir() const;
    QString TempFolder() const;   // the application directory's "Temp<session>"
    // The files of the record folder matching the pattern ("*.mp4"), sorted by name.
    QStringList RecordFiles(const QString &strPattern) const;
    // Writes an executable "ffmpeg" script with the given body (after "#!/bin/sh") into the application directory.
    void FakeFfmpeg(const std::string &strBody);
};

namespace RecordTest {

// One block with the record the live stream gives it.
struct LiveBlock
{
    std::vector<uint8_t> data;
    RealDataFrame frame{};
};

// nFrames video blocks of the loop (repeated as needed) from nStartMs, with their records; with nAudioEvery
// above 0 an audio block of 320 bytes (A-law, or mu-law) at the rate code follows every nAudioEvery-th one.
std::vector<LiveBlock> LiveBlocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, int nAudioEvery = 0,
                                  uint8_t nAudioType = 0x0E, uint8_t nRateCode = 0x02);
// A V2 live data callback that hands each block to a decode channel as the live page does, counting them.
struct LiveFeed
{
    CDecodeChannel *pChannel = nullptr;
    std::atomic<int> nVideo{0};
    std::atomic<int> nBlocks{0};

    static int32_t OnFrame(int32_t lPlay, const RealDataFrame *pFrame, void *pUser);
};

// Hands every block to the channel as the live page does.
void Feed(CDecodeChannel &channel, const std::vector<LiveBlock> &blocks);
// The payload bytes of the video blocks.
size_t VideoPayload(const std::vector<LiveBlock> &blocks);

// A loop whose H.265 parameter sets carry no timing (so that a raw reader takes 25 frames a second).
std::shared_ptr<const VideoLoop> UntimedH265Loop(int nWidth, int nHeight, int nFrameRate, int nFrames);

// What libavformat and libavcodec make of a media file: every packet of its video stream decoded.
struct MediaReport
{
    bool bOpened = false;
    std::string strVideoCodec;      // "h264", "hevc"
    int nWidth = 0, nHeight = 0;
    int nVideoPackets = 0;
    int nPictures = 0;              // decoded, the decoder drained
    int nDecodeErrors = 0;
    bool bFirstIsKey = false;
    std::vector<bool> keyFlags;     // per video packet
    double dFrameRate = 0;          // from the first and last video timestamps
    int nAudioStreams = 0;
    std::string strAudioCodec;
    int nSampleRate = 0;
    int nAudioPackets = 0;
};
// With nDecodeLimit above 0 only the first packets are decoded (all are still read).
MediaReport Probe(const QString &strPath, int nDecodeLimit = 0);
std::string Describe(const MediaReport &report);

} // namespace RecordTest
