// Recordings of the simulated library: playback by time and by name paced by the play commands (pause,
// speed levels, seek) with one position report at the end, and downloads into real files of blocks. Pacing is
// checked against the library's clock held by the test, never against the time a loaded machine takes.

#include "platform/stream_block.h"
#include "tests/support/DeviceSeconds.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <QFile>
#include <QImage>

#include <cstring>

namespace {

const char *kDevice = R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
  "Main": {"Codec": "H.265", "Width": 352, "Height": 288, "FrameRate": 25},
  "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 25}}])";

ZDK_FindInfo Find(int nChannel, int nStream, int nFromSecond, int nToSecond)
{
    ZDK_FindInfo find;
    std::memset(&find, 0, sizeof find);
    find.nChannel = nChannel;
    find.nFileType = 3;
    find.startTime = ZDK_Time6{2021, 3, 4, 10, nFromSecond / 60, nFromSecond % 60};
    find.endTime = ZDK_Time6{2021, 3, 4, 10, nToSecond / 60, nToSecond % 60};
    find.nStreamType = nStream;
    return find;
}

const int64_t kBegin = DeviceSeconds(2021, 3, 4, 10, 0, 0);

struct Media
{
    int nVideo = 0, nAudio = 0, nKeys = 0;
    int64_t nFirstMs = -1, nLastMs = -1;    // media times of the first and the last video block
    bool bOrdered = true;
    bool bFirstIsKey = false;
};

// Media time of a video block in ms since kBegin.
int64_t MediaMs(const StreamBlock::View &v)
{
    return (static_cast<int64_t>(v.nSeconds) - kBegin) * 1000 + v.nMilliseconds;
}

Media Scan(const std::vector<BlockSink::Block> &blocks, size_t nFrom = 0)
{
    Media m;
    StreamBlock::Parser parser;
    for (size_t i = nFrom; i < blocks.size(); ++i) {
        parser.Feed(blocks[i].data.data(), blocks[i].data.size(), [&](const StreamBlock::View &v) {
            if (v.IsAudio()) {
                ++m.nAudio;
                return;
            }
            const int64_t nMs = MediaMs(v);
            if (m.nVideo == 0) {
                m.nFirstMs = nMs;
                m.bFirstIsKey = v.IsKeyFrame();
            } else if (nMs <= m.nLastMs) {
                m.bOrdered = false;
            }
            m.nLastMs = nMs;
            ++m.nVideo;
            m.nKeys += v.IsKeyFrame();
        });
    }
    return m;
}

int64_t LastVideoMs(const BlockSink &sink)
{
    const std::vector<BlockSink::Block> blocks = sink.Blocks();
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
        if (it->nType != ZDK_DATA_VIDEO)
            continue;
        StreamBlock::Parser parser;
        int64_t nMs = -1;
        parser.Feed(it->data.data(), it->data.size(), [&](const StreamBlock::View &v) { nMs = MediaMs(v); });
        return nMs;
    }
    return -1;
}

// The media time of the last video block out when the play clock stands at nClockMs: blocks go out up to
// 400 ms ahead of it, and a video block comes every 40 ms. (The tests keep the clock off those 40 ms steps,
// where a block goes out a microsecond late.)
int64_t LastVideoAt(int64_t nClockMs) { return (nClockMs + 400) / 40 * 40; }

} // namespace

class KorvexPlayback : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevice);
        m_lLogin = LoginBuiltIn();
    }
    int32_t ByTime(int nFrom, int nTo, int nStream = 1)
    {
        const ZDK_FindInfo find = Find(1, nStream, nFrom, nTo);
        return ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, &BlockSink::OnData, &m_sink, &BlockSink::OnPos, &m_sink);
    }
    int32_t m_lLogin = 0;
    BlockSink m_sink;
};

TEST_F(KorvexPlayback, ByTimeDeliversTheSpanOnceWithItsOwnTimes)
{
    HoldClock();
    const int32_t lPlay = ByTime(0, 6);
    ASSERT_GT(lPlay, 0);
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 4, 0), 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    // Six seconds at sixteen times take 375 ms; the second after that brings no second report.
    RunLibraryFor(1400, 50);
    const Media m = Scan(m_sink.Blocks());
    EXPECT_EQ(m.nVideo, 6 * 25);
    EXPECT_EQ(m.nAudio, 6 * 25) << "40 ms audio blocks";
    EXPECT_EQ(m.nKeys, 6);
    EXPECT_EQ(m.nFirstMs, 0);
    EXPECT_EQ(m.nLastMs, 6000 - 40);
    EXPECT_TRUE(m.bOrdered);
    EXPECT_TRUE(m.bFirstIsKey);
    const std::vector<BlockSink::Position> positions = m_sink.Positions();
    ASSERT_EQ(positions.size(), 1u) << "one report when everything is delivered";
    EXPECT_EQ(positions[0].nHandle, lPlay);
    EXPECT_GT(positions[0].nTotal, 0);
    EXPECT_EQ(positions[0].nPos, positions[0].nTotal);

    // The recording decodes.
    AvTestDecoder decoder(false);
    int nFrames = 0;
    StreamBlock::Parser parser;
    for (const BlockSink::Block &b : m_sink.Blocks())
        parser.Feed(b.data.data(), b.data.size(), [&](const StreamBlock::View &v) {
            if (v.IsVideo()) {
                EXPECT_TRUE(decoder.Decode(v.pPayload, v.nPayload));
                ++nFrames;
            }
        });
    EXPECT_TRUE(decoder.Flush());
    EXPECT_EQ(decoder.Pictures(), nFrames);
    EXPECT_EQ(decoder.Width(), 320);

    EXPECT_NE(ZDK_DEV_StopPlayBack(lPlay), 0);
    EXPECT_EQ(ZDK_DEV_StopPlayBack(lPlay), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
}

TEST_F(KorvexPlayback, PauseAndSpeedLevels)
{
    HoldClock();
    const int32_t lPlay = ByTime(0, 600);
    ASSERT_GT(lPlay, 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(0)) << "nothing runs ahead of the play clock";
    RunLibraryFor(810);
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(810)) << "normal speed";

    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_PAUSE, 0, 0), 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    const size_t nPaused = m_sink.Count();
    RunLibraryFor(2000);
    EXPECT_EQ(m_sink.Count(), nPaused) << "nothing is delivered while paused";

    // Each level against the library's time: fast 2 is four times, slow 2 a quarter, normal once.
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 2, 0), 0);
    RunLibraryFor(500);
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(810 + 2000)) << "fast 2";
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_SLOW, 2, 0), 0);
    RunLibraryFor(800);
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(2810 + 200)) << "slow 2";
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_SLOW, 0, 0), 0);
    RunLibraryFor(700);
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(3010 + 700)) << "normal again";
    EXPECT_TRUE(Scan(m_sink.Blocks()).bOrdered);

    // Unknown commands and levels are refused.
    EXPECT_EQ(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 5, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    EXPECT_EQ(ZDK_DEV_PlayBackControl(lPlay, 7, 0, 0), 0);
    EXPECT_EQ(ZDK_DEV_PlayBackControl(m_lLogin, ZDK_PLAY_NORMAL, 0, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
    EXPECT_TRUE(m_sink.Positions().empty());
}

TEST_F(KorvexPlayback, SeekGoesOnFromTheKeyFrameAtOrBefore)
{
    HoldClock();
    const int32_t lPlay = ByTime(0, 60);
    ASSERT_GT(lPlay, 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    RunLibraryFor(200);
    EXPECT_EQ(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, 60, 0), 0) << "the end is outside the span";
    EXPECT_EQ(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, -1, 0), 0);
    const size_t nBefore = m_sink.Count();
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, 20, 0), 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    EXPECT_EQ(LastVideoMs(m_sink), LastVideoAt(20000)) << "the play clock starts again at the key frame";
    const std::vector<BlockSink::Block> blocks = m_sink.Blocks();
    // The first video block at or after 20 s is the key frame of 20 s, and nothing in between was skipped to.
    size_t nJump = blocks.size();
    for (size_t i = nBefore; i < blocks.size(); ++i) {
        StreamBlock::Parser parser;
        bool bJump = false;
        parser.Feed(blocks[i].data.data(), blocks[i].data.size(), [&](const StreamBlock::View &v) {
            if (v.IsVideo() && MediaMs(v) >= 20000) {
                EXPECT_EQ(MediaMs(v), 20000);
                EXPECT_TRUE(v.IsKeyFrame());
                bJump = true;
            }
        });
        if (bJump) {
            nJump = i;
            break;
        }
    }
    ASSERT_LT(nJump, blocks.size());
    const Media after = Scan(blocks, nJump);
    EXPECT_TRUE(after.bOrdered);

    // Near the end, fast: one report; a seek back delivers again and reports again, once.
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, 57, 0), 0);
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 4, 0), 0);
    RunLibraryFor(400, 50);
    EXPECT_EQ(m_sink.Positions().size(), 1u);
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_POSITION, 55, 0), 0);
    RunLibraryFor(2000, 50);
    EXPECT_EQ(m_sink.Positions().size(), 2u);
}

TEST_F(KorvexPlayback, ByNameReadsTheFileRecord)
{
    ZDK_FileData file;
    std::memset(&file, 0, sizeof file);
    file.nChannel = 2;
    file.nFileLength = 0x1234;
    std::strcpy(file.sFileName, "/idea0/2021-03-04/001/10.00.00-10.00.02[R][@1][0].h264");
    file.stBeginTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 0};
    file.stEndTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 2};
    file.nStreamType = 0;
    const int32_t lPlay = ZDK_DEV_PlayBackByName(m_lLogin, &file, &BlockSink::OnPos, &BlockSink::OnData, &m_sink);
    ASSERT_GT(lPlay, 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_PlayBackByName").back(),
              "ZDK_DEV_PlayBackByName login=" + std::to_string(m_lLogin) +
                  " channel=2 length=4660 name=/idea0/2021-03-04/001/10.00.00-10.00.02[R][@1][0].h264"
                  " begin=2021-03-04T10:00:00 end=2021-03-04T10:00:02 unused=0/0 stream=0");
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 3, 0), 0);
    ASSERT_TRUE(m_sink.WaitForPositions(1, 15000));
    const Media m = Scan(m_sink.Blocks());
    EXPECT_EQ(m.nVideo, 50);
    EXPECT_EQ(m.nFirstMs, 0);
    // The main stream of the device is H.265.
    StreamBlock::Parser parser;
    const std::vector<BlockSink::Block> blocks = m_sink.Blocks();
    parser.Feed(blocks[0].data.data(), blocks[0].data.size(),
                [](const StreamBlock::View &v) { EXPECT_EQ(v.nCodec, StreamBlock::kCodecH265); });

    // A record filled one field off (the slot before the hour) or without a span is refused.
    file.stBeginTime.nUnused = 10;
    EXPECT_EQ(ZDK_DEV_PlayBackByName(m_lLogin, &file, &BlockSink::OnPos, &BlockSink::OnData, &m_sink), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    file.stBeginTime = file.stEndTime;
    EXPECT_EQ(ZDK_DEV_PlayBackByName(m_lLogin, &file, &BlockSink::OnPos, &BlockSink::OnData, &m_sink), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_RECORD);
}

TEST_F(KorvexPlayback, RefusedBlocksComeAgainSoAPausedDecoderLosesNothing)
{
    m_sink.RefuseNext(5);
    const int32_t lPlay = ByTime(0, 2);
    ASSERT_GT(lPlay, 0);
    ASSERT_NE(ZDK_DEV_PlayBackControl(lPlay, ZDK_PLAY_FAST, 4, 0), 0);
    ASSERT_TRUE(m_sink.WaitForPositions(1, 15000));
    EXPECT_EQ(m_sink.Refused(), 5);
    const Media m = Scan(m_sink.Blocks());
    EXPECT_EQ(m.nVideo, 50);
    EXPECT_EQ(m.nFirstMs, 0);
    EXPECT_TRUE(m.bOrdered);

    // A stop ends the deliveries at once.
    const int32_t lSecond = ByTime(0, 600);
    ASSERT_TRUE(m_sink.WaitForBlocks(m_sink.Count() + 3, 10000));
    ASSERT_NE(ZDK_DEV_StopPlayBack(lSecond), 0);
    const size_t nStopped = m_sink.Count();
    HoldClock();
    RunLibraryFor(500);
    EXPECT_EQ(m_sink.Count(), nStopped);
}

TEST_F(KorvexPlayback, RefusedRequests)
{
    ZDK_FindInfo find = Find(4, 1, 0, 10);
    EXPECT_EQ(ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, &BlockSink::OnData, &m_sink, nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_CHANNEL);
    find = Find(0, 1, 10, 10);
    EXPECT_EQ(ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, &BlockSink::OnData, &m_sink, nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_RECORD);
    find = Find(0, 1, 0, 10);
    find.startTime.nMonth = 13;
    EXPECT_EQ(ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, &BlockSink::OnData, &m_sink, nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    find = Find(0, 1, 0, 10);
    EXPECT_EQ(ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    std::strcpy(find.szText1, "first text");
    std::strcpy(find.szText2, "second");
    const int32_t lPlay = ZDK_DEV_PlayBackByTimeEx(m_lLogin, &find, &BlockSink::OnData, &m_sink, nullptr, nullptr);
    EXPECT_GT(lPlay, 0) << "no position callback is needed";
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_PlayBackByTimeEx").back(),
              "ZDK_DEV_PlayBackByTimeEx login=" + std::to_string(m_lLogin) +
                  " channel=0 type=3 begin=2021-03-04T10:00:00 end=2021-03-04T10:00:10 stream=1"
                  " text1=first text text2=second");
    EXPECT_NE(ZDK_DEV_Logout(m_lLogin), 0);
    EXPECT_EQ(ZDK_DEV_StopPlayBack(lPlay), 0) << "the logout ended the playback";
}

TEST_F(KorvexPlayback, DownloadWritesTheSpanAsBlocks)
{
    KorvexControl::SetDownloadSpeed(0);
    ZDK_FileData file;
    std::memset(&file, 0, sizeof file);
    file.nChannel = 0;
    std::strcpy(file.sFileName, "record.h264");
    file.stBeginTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 0};
    file.stEndTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 3};
    file.nStreamType = 1;
    const QString strPath = TempPath("download.h265x");
    const int32_t lDown = ZDK_DEV_DownloadByName(m_lLogin, &file, strPath.toLocal8Bit().constData(),
                                                 &BlockSink::OnPos, &m_sink, 0);
    ASSERT_GT(lDown, 0);
    ASSERT_TRUE(WaitUntil([&] { return !m_sink.Positions().empty() && m_sink.Positions().back().nPos == -1; }));
    // The download then only waits for its stop: no report comes after the last.
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    const std::vector<BlockSink::Position> positions = m_sink.Positions();
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.back().nPos, -1) << "the last report is -1";
    int nLast = 0;
    for (size_t i = 0; i + 1 < positions.size(); ++i) {
        EXPECT_EQ(positions[i].nHandle, lDown);
        EXPECT_EQ(positions[i].nTotal, positions.back().nTotal);
        EXPECT_GE(positions[i].nPos, nLast) << "progress only grows";
        nLast = positions[i].nPos;
    }
    EXPECT_EQ(nLast, positions.back().nTotal);

    QFile out(strPath);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray bytes = out.readAll();
    EXPECT_EQ((bytes.size() + 1023) / 1024, positions.back().nTotal);
    std::vector<BlockSink::Block> blocks(1);
    blocks[0].data.assign(bytes.begin(), bytes.end());
    const Media m = Scan(blocks);
    EXPECT_EQ(m.nVideo, 75);
    EXPECT_EQ(m.nAudio, 75);
    EXPECT_EQ(m.nFirstMs, 0);
    EXPECT_EQ(m.nLastMs, 3000 - 40);
    EXPECT_TRUE(m.bFirstIsKey);
    EXPECT_NE(ZDK_DEV_StopDownload(lDown), 0);
    EXPECT_EQ(ZDK_DEV_StopDownload(lDown), 0);
}

TEST_F(KorvexPlayback, PictureDownloadAndRefusedDownloads)
{
    ZDK_FileData file;
    std::memset(&file, 0, sizeof file);
    file.nChannel = 1;
    std::strcpy(file.sFileName, "/pic/2021-03-04/10.00.00.jpg");
    const QString strPath = TempPath("temp.jpg");
    const int32_t lDown = ZDK_DEV_DownloadByName(m_lLogin, &file, strPath.toLocal8Bit().constData(),
                                                 &BlockSink::OnPos, &m_sink, 0);
    ASSERT_GT(lDown, 0);
    ASSERT_TRUE(m_sink.WaitForPositions(2, 10000));
    EXPECT_EQ(m_sink.Positions().back().nPos, -1);
    QImage picture(strPath);
    EXPECT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), 352) << "the main stream's size";
    EXPECT_EQ(picture.height(), 288);
    EXPECT_NE(ZDK_DEV_StopDownload(lDown), 0);

    std::strcpy(file.sFileName, "record.h264");
    file.stBeginTime = ZDK_FileTime{2021, 3, 4, 0, 10, 0, 0};
    file.stEndTime = ZDK_FileTime{2021, 3, 4, 0, 11, 0, 0};
    EXPECT_EQ(ZDK_DEV_DownloadByName(m_lLogin, &file, TempPath("no/such/dir/x").toLocal8Bit().constData(),
                                     &BlockSink::OnPos, &m_sink, 0),
              0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_FILE_OPEN);

    // A download stopped midway reports nothing more and leaves whole blocks behind.
    KorvexControl::SetDownloadSpeed(1);
    m_sink.Clear();
    HoldClock();
    const QString strPartial = TempPath("partial.h265x");
    const int32_t lPartial = ZDK_DEV_DownloadByName(m_lLogin, &file, strPartial.toLocal8Bit().constData(),
                                                    &BlockSink::OnPos, &m_sink, 0);
    ASSERT_GT(lPartial, 0);
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    RunLibraryFor(300);
    ASSERT_NE(ZDK_DEV_StopDownload(lPartial), 0);
    const size_t nReports = m_sink.Positions().size();
    RunLibraryFor(500);
    EXPECT_EQ(m_sink.Positions().size(), nReports);
    QFile partial(strPartial);
    ASSERT_TRUE(partial.open(QIODevice::ReadOnly));
    const QByteArray bytes = partial.readAll();
    StreamBlock::Parser parser;
    size_t nBlocks = parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size(),
                                 [](const StreamBlock::View &) {});
    EXPECT_GT(nBlocks, 0u);
    EXPECT_EQ(parser.PendingBytes(), 0u);
    EXPECT_EQ(parser.SkippedBytes(), 0u);
}
