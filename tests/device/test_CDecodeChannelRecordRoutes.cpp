// Every recording route with the simulated device's live streams: OEM mode 0 through the decode library's
// recorder, modes 1 and 2 through the channel's own (H.264 segments, H.265 writer), main stream H.265 and sub
// stream H.264. Each file opens in libavformat, decodes whole and plays at the source's frame rate.

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "tests/support/RecordFixture.h"

#include <QFileInfo>

#include <atomic>
#include <memory>

namespace {

using RecordTest::LiveFeed;
using RecordTest::MediaReport;

struct RouteCase
{
    int nOemMode;
    int nStream;            // 0 main (H.265 1280x720 at 25), 1 sub (H.264 640x360 at 15)
    const char *pExt;
    int nRecordType;
    const char *pFile;      // the file the recording ends in, by its extension
};

class RecordRouteTest : public RecordFixture, public ::testing::WithParamInterface<RouteCase>
{
};

TEST_P(RecordRouteTest, LiveStreamRecordsIntoAFileThatDecodesWhole)
{
    const RouteCase c = GetParam();
    SetOemMode(c.nOemMode);
    const bool bMain = c.nStream == 0;
    const int nFrameRate = bMain ? 25 : 15;
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    auto pChannel = std::make_unique<CDecodeChannel>(3);
    ASSERT_EQ(pChannel->Open(1), 1);
    ASSERT_EQ(pChannel->StartPreview(), 1);
    LiveFeed live;
    live.pChannel = pChannel.get();
    const int lPlay = CQZConnect::GetInstance()->ConnectChanel_V2(lLogin, 3, c.nStream, &LiveFeed::OnFrame, &live);
    ASSERT_GT(lPlay, 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return live.nVideo.load() >= 3; }, 10000));

    const QString strName = RecordDir() + "/04_20240115_100000" + c.pExt;
    ASSERT_EQ(pChannel->StartRecord(strName.toLocal8Bit().constData(), c.nRecordType), 1);
    const int nFrom = live.nVideo.load();
    // Past the next key frame (one a second) and a second more.
    ASSERT_TRUE(PavlineTest::WaitUntil([&] { return live.nVideo.load() >= nFrom + 2 * nFrameRate + 5; }, 10000));
    EXPECT_EQ(pChannel->StopRecord(), 1);
    const int nRecordedAtMost = live.nVideo.load() - nFrom + 2;
    EXPECT_EQ(CQZConnect::GetInstance()->DisconnectChannel_V2(lPlay, &LiveFeed::OnFrame, &live), 1);
    pChannel->StopPreview();
    pChannel->Close();
    pChannel.reset();

    const QString strFile = RecordDir() + "/04_20240115_100000" + c.pFile;
    EXPECT_EQ(RecordFiles("*"), QStringList{strFile});
    const MediaReport report = RecordTest::Probe(strFile);
    ASSERT_TRUE(report.bOpened) << strFile.toStdString();
    EXPECT_EQ(report.strVideoCodec, bMain ? "hevc" : "h264") << RecordTest::Describe(report);
    EXPECT_EQ(report.nWidth, bMain ? 1280 : 640);
    EXPECT_EQ(report.nHeight, bMain ? 720 : 360);
    EXPECT_TRUE(report.bFirstIsKey);
    EXPECT_GE(report.nVideoPackets, nFrameRate);
    EXPECT_LE(report.nVideoPackets, nRecordedAtMost);
    EXPECT_EQ(report.nPictures, report.nVideoPackets);
    EXPECT_EQ(report.nDecodeErrors, 0);
    EXPECT_NEAR(report.dFrameRate, nFrameRate, 0.05);
    // The H.265 writer and the library's AVI carry the device's sound; H.264 segments hold video only.
    const bool bSegments = QString(c.pExt) == ".h264";
    EXPECT_EQ(report.nAudioStreams, bSegments ? 0 : 1);
    if (!bSegments) {
        EXPECT_GT(report.nAudioPackets, 0);
    }
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Routes, RecordRouteTest,
    ::testing::Values(RouteCase{0, 0, ".avi", 2, ".avi"}, RouteCase{0, 1, ".avi", 2, ".avi"},
                      RouteCase{1, 0, ".h265", 0, ".mp4"}, RouteCase{1, 1, ".h264", 0, ".mp4"},
                      RouteCase{2, 0, ".h265", 0, ".mp4"}, RouteCase{2, 1, ".h264", 0, ".mp4"},
                      // Mode 1 with an AVI name: the library's recorder, rather than a start that fails.
                      RouteCase{1, 1, ".avi", 2, ".avi"}),
    [](const ::testing::TestParamInfo<RouteCase> &info) {
        std::string strExt = info.param.pExt + 1;
        return "Mode" + std::to_string(info.param.nOemMode) + (info.param.nStream == 0 ? "Main" : "Sub") + strExt;
    });

} // namespace
