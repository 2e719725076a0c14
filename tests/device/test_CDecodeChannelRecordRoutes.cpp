// Every recording route with the simulated device's live streams: OEM mode 0 through the decode library's
// recorder, modes 1 and 2 through the channel's own (H.264 segments joined; H.265 segments converted by ffmpeg and
// remuxed; H.265 straight into the MP4 writer), main stream H.265 and sub stream H.264. Each recording is started
// half a group of pictures after a key frame and runs a little over two seconds: its file decodes whole with its
// pictures in presentation order, begins with that key frame, and its video and sound both last as long as the
// time recorded plus that half group.

#include "device/CDecodeChannel.h"
#include "platform/stream_block.h"
#include "standin/korvex/MediaLibrary.h"
#include "tests/support/RecordFixture.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace {

using RecordTest::LiveFeed;
using RecordTest::MediaReport;

struct RouteCase
{
    const char *pName;
    int nOemMode;
    int nStream;            // 0 main (H.265 1280x720 at 25), 1 sub (H.264 640x360 at 15)
    const char *pExt;
    int nRecordType;
    const char *pFile;      // the file the recording ends in, by its extension
    const char *pAudioCodec;
};

class RecordRouteTest : public RecordFixture, public ::testing::WithParamInterface<RouteCase>
{
};

constexpr int kDeviceChannel = 3;

// Video blocks among events [nFrom, nTo).
int VideoBetween(const std::vector<LiveFeed::Event> &events, size_t nFrom, size_t nTo)
{
    int n = 0;
    for (size_t i = nFrom; i < std::min(nTo, events.size()); ++i)
        n += events[i].bVideo ? 1 : 0;
    return n;
}

// The last key frame among events [0, nBefore); events.size() when there is none.
size_t LastKeyBefore(const std::vector<LiveFeed::Event> &events, size_t nBefore)
{
    for (size_t i = std::min(nBefore, events.size()); i-- > 0;)
        if (events[i].bKey)
            return i;
    return events.size();
}

TEST_P(RecordRouteTest, LiveRecordingBeginsWithThePictureOnScreenAndKeepsItsSound)
{
    const RouteCase c = GetParam();
    SetOemMode(c.nOemMode);
    const bool bMain = c.nStream == 0;
    const int nFrameRate = bMain ? 25 : 15;
    // The stream's loop is encoded here, so that the waits below wait for the stream only.
    VideoSpec spec;
    spec.nCodec = bMain ? StreamBlock::kCodecH265 : StreamBlock::kCodecH264;
    spec.nWidth = bMain ? 1280 : 640;
    spec.nHeight = bMain ? 720 : 360;
    spec.nFrameRate = nFrameRate;
    spec.nLabel = kDeviceChannel;
    std::string strError;
    ASSERT_TRUE(MediaLibrary::Instance().Video(spec, strError)) << strError;

    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    LiveChannel &live = StartLive(lLogin, kDeviceChannel, c.nStream, 3);
    ASSERT_GT(live.lPlay, 0);
    // Half a group of pictures after a key frame: the picture on screen is not a key frame.
    ASSERT_TRUE(WaitUntil([&] { return live.feed.FramesSinceKey() >= nFrameRate / 2; }, 60000));

    const QString strName = RecordDir() + "/04_20240115_100000" + c.pExt;
    const size_t nStartBefore = live.feed.Events().size();
    ASSERT_EQ(live.pChannel->StartRecord(strName.toLocal8Bit().constData(), c.nRecordType), 1);
    const size_t nStartAfter = live.feed.Events().size();
    const int nFrom = live.feed.nVideo.load();
    ASSERT_TRUE(WaitUntil([&] { return live.feed.nVideo.load() >= nFrom + 2 * nFrameRate + nFrameRate / 3; }, 60000));
    const size_t nStopBefore = live.feed.Events().size();
    EXPECT_EQ(live.pChannel->StopRecord(), 1);
    const size_t nStopAfter = live.feed.Events().size();
    StopLive(live);
    ASSERT_TRUE(WaitForRecordings());

    // The recording holds the blocks from the last key frame before its start to its stop. A key frame that came
    // while the start ran may have begun it instead; a block in flight at the stop may be in it.
    const std::vector<LiveFeed::Event> events = live.feed.Events();
    const size_t nKeyBefore = LastKeyBefore(events, nStartBefore);
    ASSERT_LT(nKeyBefore, events.size());
    const size_t nKeyLatest = std::max(nKeyBefore, LastKeyBefore(events, nStartAfter));
    const int nPreRoll = VideoBetween(events, nKeyBefore, nStartBefore);
    EXPECT_GE(nPreRoll, nFrameRate / 2);
    const int nLeast = VideoBetween(events, nKeyLatest, nStopBefore);
    const int nMost = VideoBetween(events, nKeyBefore, nStopAfter) + 1;
    // The time recorded plus the pre-roll, by the stream's own clock.
    const double dRecorded = VideoBetween(events, nKeyBefore, nStopBefore) / static_cast<double>(nFrameRate);
    // The same by the device's timestamps, which follow the stream's delivery (late on a loaded machine).
    int64_t nLastMs = events[nKeyBefore].nTimeMs;
    for (size_t i = nKeyBefore; i < std::min(nStopBefore, events.size()); ++i)
        if (events[i].bVideo)
            nLastMs = events[i].nTimeMs;
    const double dStamped = static_cast<double>(nLastMs - events[nKeyBefore].nTimeMs) / 1000.0 + 1.0 / nFrameRate;

    const QString strFile = RecordDir() + "/04_20240115_100000" + c.pFile;
    EXPECT_EQ(RecordFiles("*"), QStringList{strFile});
    const MediaReport report = RecordTest::Probe(strFile);
    ASSERT_TRUE(report.bOpened) << strFile.toStdString();
    SCOPED_TRACE(RecordTest::Describe(report) + ", pre-roll " + std::to_string(nPreRoll) + " pictures, recorded " +
                 std::to_string(dRecorded) + " s, stamped " + std::to_string(dStamped) + " s");
    // H.265 stays H.265 but where it was converted for an H.264 recording.
    EXPECT_EQ(report.strVideoCodec, bMain && QString(c.pExt) != ".h264" ? "hevc" : "h264");
    EXPECT_EQ(report.nWidth, bMain ? 1280 : 640);
    EXPECT_EQ(report.nHeight, bMain ? 720 : 360);
    // Whole, in order, from the key frame received before the start.
    EXPECT_TRUE(report.bFirstIsKey);
    EXPECT_GE(report.nVideoPackets, nLeast);
    EXPECT_LE(report.nVideoPackets, nMost);
    EXPECT_EQ(report.nPictures, report.nVideoPackets);
    EXPECT_EQ(report.nDecodeErrors, 0);
    EXPECT_TRUE(report.bDtsRising);
    EXPECT_TRUE(report.bPicturesInOrder);
    // The channel's own files are timed by their pictures; the library's AVI by the device's timestamps, which
    // follow the stream's delivery.
    if (QString(c.pFile) == ".mp4") {
        EXPECT_NEAR(report.dFrameRate, nFrameRate, 0.05);
    }
    EXPECT_NEAR(report.dVideoDuration, QString(c.pFile) == ".mp4" ? dRecorded : dStamped, 0.2);
    // The device's sound, as long as the pictures.
    EXPECT_EQ(report.nAudioStreams, 1);
    EXPECT_EQ(report.strAudioCodec, c.pAudioCodec);
    EXPECT_EQ(report.nAudioDecodeErrors, 0);
    EXPECT_NEAR(report.dAudioDuration, dRecorded, 0.2);
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

// The library writes AVI with the G.711 sound as it came; the channel's own routes encode it to AAC.
INSTANTIATE_TEST_SUITE_P(
    Routes, RecordRouteTest,
    ::testing::Values(RouteCase{"Mode0MainLibraryAvi", 0, 0, ".avi", 2, ".avi", "pcm_alaw"},
                      RouteCase{"Mode0SubLibraryAvi", 0, 1, ".avi", 2, ".avi", "pcm_alaw"},
                      // Mode 1 with an AVI name: the library's recorder, rather than a start that fails.
                      RouteCase{"Mode1SubLibraryAvi", 1, 1, ".avi", 2, ".avi", "pcm_alaw"},
                      RouteCase{"Mode1SubH264Segments", 1, 1, ".h264", 0, ".mp4", "aac"},
                      RouteCase{"Mode2SubH264Segments", 2, 1, ".h264", 0, ".mp4", "aac"},
                      // The codec table said H.264 of an H.265 stream: its segments go through ffmpeg.
                      RouteCase{"Mode1MainH265SegmentsConverted", 1, 0, ".h264", 0, ".mp4", "aac"},
                      RouteCase{"Mode1MainH265Writer", 1, 0, ".h265", 0, ".mp4", "aac"},
                      RouteCase{"Mode2MainH265Writer", 2, 0, ".h265", 0, ".mp4", "aac"}),
    [](const ::testing::TestParamInfo<RouteCase> &info) { return std::string(info.param.pName); });

} // namespace
