// Live streams of the simulated library: real H.264 and H.265 that libavcodec decodes at the profile's size,
// V2 frame records, G.711 audio blocks, fresh timestamps, callbacks on library threads, refused blocks.

#include "platform/stream_block.h"
#include "standin/korvex/AnnexB.h"
#include "standin/korvex/DeviceCatalog.h"
#include "standin/korvex/LiveStream.h"
#include "standin/korvex/TestPatternEncoder.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

#include <cstring>
#include <set>

namespace {

const char *kSmallDevice = R"([{"IP": "10.0.0.9", "Port": 9000, "Channels": 4,
  "Main": {"Codec": "H.265", "Width": 352, "Height": 288, "FrameRate": 25},
  "Sub": {"Codec": "H.264", "Width": 320, "Height": 180, "FrameRate": 25},
  "Audio": {"Codec": "G711U", "SampleRate": 16000}}])";

struct ProfileCase
{
    const char *pName;
    int nStream;
    int nWidth, nHeight, nFrameRate;
    bool bH265;
};

} // namespace

class KorvexLive : public KorvexFixture
{
protected:
    // Takes the video of a stream until nFrames have come, checks every block and decodes them all.
    void CheckProfile(const ProfileCase &c, int nChannel)
    {
        const int32_t lLogin = LoginBuiltIn();
        BlockSink sink;
        const StreamsStop stop;
        uint32_t nOpenSeconds = 0;
        uint16_t nOpenMs = 0;
        LiveStream::LocalNow(nOpenSeconds, nOpenMs);
        const int32_t lPlay = OpenLiveStream(lLogin, nChannel, c.nStream);
        ASSERT_GT(lPlay, 0);
        ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, &BlockSink::OnFrame, &sink), 0);
        // Two key intervals of video, with the audio between.
        const size_t nWanted = static_cast<size_t>(c.nFrameRate) * 2;
        auto videoCount = [&] {
            size_t nVideo = 0;
            for (const BlockSink::Block &b : sink.Blocks())
                nVideo += b.nType == ZDK_FRAME_VIDEO;
            return nVideo;
        };
        ASSERT_TRUE(WaitUntil([&] { return videoCount() >= nWanted; })) << c.pName;
        ASSERT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);

        uint32_t nNowSeconds = 0;
        uint16_t nNowMs = 0;
        LiveStream::LocalNow(nNowSeconds, nNowMs);
        AvTestDecoder decoder(c.bH265);
        int nKeyFrames = 0, nAudio = 0, nDecoded = 0;
        bool bFirstVideo = true;
        for (const BlockSink::Block &b : sink.Blocks()) {
            ASSERT_TRUE(b.bHasFrame);
            EXPECT_NE(b.thread, std::this_thread::get_id());
            const RealDataFrame &f = b.frame;
            EXPECT_EQ(f.nDataLength, b.data.size());
            // The local time of the block, within the time the stream was open, however long that took.
            EXPECT_GE(f.nTimeStamp, nOpenSeconds) << "fresh timestamps";
            EXPECT_LE(f.nTimeStamp, nNowSeconds) << "fresh timestamps";
            StreamBlock::Parser parser;
            size_t nBlocks = parser.Feed(b.data.data(), b.data.size(), [&](const StreamBlock::View &v) {
                EXPECT_EQ(v.nBlockSize, b.data.size()) << "one whole block per callback";
                if (f.nKind == ZDK_FRAME_VIDEO) {
                    ASSERT_TRUE(v.IsVideo());
                    EXPECT_EQ(v.nCodec, c.bH265 ? 3 : 2);
                    EXPECT_EQ(v.nFrameRate, c.nFrameRate);
                    EXPECT_EQ(v.nSeconds, f.nTimeStamp);
                    EXPECT_EQ(v.IsKeyFrame(), f.nKeyFrame != 0);
                    if (bFirstVideo) {
                        EXPECT_TRUE(v.IsKeyFrame()) << "a stream begins with a key frame";
                    }
                    bFirstVideo = false;
                    if (v.IsKeyFrame()) {
                        ++nKeyFrames;
                        EXPECT_TRUE(AnnexB::HasParameterSets(v.pPayload, v.nPayload, c.bH265))
                            << "every key frame carries its parameter sets";
                    }
                    EXPECT_EQ(f.nCodec, c.bH265 ? 5u : 2u);
                    EXPECT_EQ(f.nFrameRate, static_cast<uint32_t>(c.nFrameRate));
                    EXPECT_EQ(f.nWidth, c.nWidth);
                    EXPECT_EQ(f.nHeight, c.nHeight);
                    EXPECT_TRUE(decoder.Decode(v.pPayload, v.nPayload)) << c.pName << " frame " << nDecoded;
                    ++nDecoded;
                } else {
                    ASSERT_EQ(f.nKind, ZDK_FRAME_AUDIO);
                    ASSERT_TRUE(v.IsAudio());
                    // The talk header: A-law at 8000 Hz, 40 ms a block.
                    const std::vector<uint8_t> header(b.data.begin(), b.data.begin() + 8);
                    EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 1, 0xFA, 0x0E, 0x02, 0x40, 0x01}));
                    EXPECT_EQ(f.nCodec, 14u);
                    EXPECT_EQ(f.nSampleRate, 8000u);
                    ++nAudio;
                }
            });
            EXPECT_EQ(nBlocks, 1u);
        }
        EXPECT_TRUE(decoder.Flush());
        EXPECT_EQ(decoder.Pictures(), nDecoded) << "every access unit gives a picture";
        EXPECT_EQ(decoder.Width(), c.nWidth);
        EXPECT_EQ(decoder.Height(), c.nHeight);
        EXPECT_GE(nKeyFrames, 2);
        EXPECT_GT(nAudio, 0);
    }
};

TEST_F(KorvexLive, SubStreamDecodesAtItsSize)
{
    const KorvexDevice dev = DeviceCatalog::BuiltIn();
    ASSERT_EQ(dev.sub.nCodec, 2);
    CheckProfile({"sub", 1, dev.sub.nWidth, dev.sub.nHeight, dev.sub.nFrameRate, false}, 0);
}

TEST_F(KorvexLive, MainStreamDecodesAtItsSize)
{
    const KorvexDevice dev = DeviceCatalog::BuiltIn();
    ASSERT_EQ(dev.main.nCodec, 3);
    CheckProfile({"main", 0, dev.main.nWidth, dev.main.nHeight, dev.main.nFrameRate, true}, 15);
}

TEST_F(KorvexLive, V1CallbackGetsTheSameBlocksWithTheirTypes)
{
    UseDevices(kSmallDevice);
    const int32_t lLogin = LoginAt("10.0.0.9", 9000);
    // User value 0 is channel 0: the library delivers to it like any other value.
    struct Probe
    {
        std::mutex mutex;
        std::vector<std::pair<int32_t, std::vector<uint8_t>>> blocks;
        std::set<void *> users;
    } probe;
    const StreamsStop stop;
    static Probe *s_pProbe = nullptr;
    s_pProbe = &probe;
    auto onData = [](int32_t, int32_t nType, const unsigned char *p, uint32_t n, void *pUser) -> int32_t {
        std::lock_guard<std::mutex> lock(s_pProbe->mutex);
        s_pProbe->blocks.emplace_back(nType, std::vector<uint8_t>(p, p + n));
        s_pProbe->users.insert(pUser);
        return 1;
    };
    const int32_t lPlay = OpenLiveStream(lLogin, 0, 0);
    ASSERT_GT(lPlay, 0);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack(lPlay, onData, ZDK_ChannelToUser(0)), 0);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(probe.mutex);
        return probe.blocks.size() >= 40;
    }));
    ASSERT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    std::lock_guard<std::mutex> lock(probe.mutex);
    ASSERT_GE(probe.blocks.size(), 40u);
    EXPECT_EQ(probe.users, std::set<void *>{nullptr});
    int nVideo = 0, nAudio = 0;
    for (const auto &entry : probe.blocks) {
        ASSERT_GE(entry.second.size(), 8u);
        if (entry.first == ZDK_DATA_VIDEO) {
            ++nVideo;
            EXPECT_TRUE(entry.second[3] == 0xFC || entry.second[3] == 0xFD);
            EXPECT_EQ(entry.second[4], 3) << "H.265 main stream";
        } else {
            ASSERT_EQ(entry.first, ZDK_DATA_AUDIO);
            ++nAudio;
            // mu-law at 16000 Hz: 640 bytes a block.
            EXPECT_EQ(std::vector<uint8_t>(entry.second.begin(), entry.second.begin() + 8),
                      (std::vector<uint8_t>{0, 0, 1, 0xFA, 0x0A, 0x04, 0x80, 0x02}));
            EXPECT_EQ(entry.second.size(), 648u);
        }
    }
    EXPECT_GT(nVideo, 0);
    EXPECT_GT(nAudio, 0);
}

TEST_F(KorvexLive, RefusedBlockComesAgain)
{
    UseDevices(kSmallDevice);
    const int32_t lLogin = LoginAt("10.0.0.9", 9000);
    struct Probe
    {
        std::mutex mutex;
        std::vector<std::vector<uint8_t>> calls;
        std::vector<std::thread::id> threads;
    } probe;
    const StreamsStop stop;
    static Probe *s_pProbe = nullptr;
    s_pProbe = &probe;
    auto onData = [](int32_t, int32_t, const unsigned char *p, uint32_t n, void *) -> int32_t {
        std::lock_guard<std::mutex> lock(s_pProbe->mutex);
        s_pProbe->calls.emplace_back(p, p + n);
        s_pProbe->threads.push_back(std::this_thread::get_id());
        // The first three deliveries are refused, as a full decoder would.
        return s_pProbe->calls.size() <= 3 ? 0 : 1;
    };
    const int32_t lPlay = OpenLiveStream(lLogin, 1, 1);
    ASSERT_GT(lPlay, 0);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack(lPlay, onData, nullptr), 0);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(probe.mutex);
        return probe.calls.size() >= 6;
    }));
    ASSERT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    std::lock_guard<std::mutex> lock(probe.mutex);
    ASSERT_GE(probe.calls.size(), 6u);
    EXPECT_EQ(probe.calls[0], probe.calls[1]);
    EXPECT_EQ(probe.calls[0], probe.calls[2]);
    EXPECT_EQ(probe.calls[0], probe.calls[3]) << "the accepted block is the refused one";
    EXPECT_NE(probe.calls[3], probe.calls[4]) << "then the stream goes on";
    for (std::thread::id id : probe.threads)
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(KorvexLive, RefusedRequestsAndCallbackRemoval)
{
    UseDevices(kSmallDevice);
    const int32_t lLogin = LoginAt("10.0.0.9", 9000);
    EXPECT_EQ(OpenLiveStream(lLogin, 4, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_CHANNEL);
    EXPECT_EQ(OpenLiveStream(lLogin, -1, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_NO_CHANNEL);
    EXPECT_EQ(OpenLiveStream(lLogin, 0, 2), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    EXPECT_EQ(OpenLiveStream(lLogin + 1000, 0, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZDK_DEV_RealPlay(lLogin, nullptr, nullptr), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);

    BlockSink sink, other;
    const StreamsStop stop;
    const int32_t lPlay = OpenLiveStream(lLogin, 3, 1);
    ASSERT_GT(lPlay, 0);
    EXPECT_EQ(ZDK_DEV_SetRealDataCallBack(lLogin, &BlockSink::OnData, nullptr), 0) << "a login is not a play handle";
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack(lPlay, &BlockSink::OnData, &sink), 0);
    ASSERT_TRUE(sink.WaitForBlocks(3, 20000));
    EXPECT_EQ(ZDK_DEV_DelRealDataCallBack(lPlay, &BlockSink::OnData, &other), 0) << "not the user value set";
    EXPECT_EQ(ZDK_DEV_DelRealDataCallBack_V2(lPlay, &BlockSink::OnFrame, &sink), 0) << "no V2 callback was set";
    ASSERT_NE(ZDK_DEV_DelRealDataCallBack(lPlay, &BlockSink::OnData, &sink), 0);
    const size_t nAfterRemoval = sink.Count();
    // The stream runs on without a callback.
    HoldClock();
    RunLibraryFor(400);
    EXPECT_EQ(sink.Count(), nAfterRemoval) << "nothing comes after the removal returned";
    EXPECT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    EXPECT_EQ(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);

    // A forced failure of one call.
    KorvexControl::FailNextCall("ZDK_DEV_RealPlay", -11401);
    EXPECT_EQ(OpenLiveStream(lLogin, 0, 1), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), -11401);
    const int32_t lAgain = OpenLiveStream(lLogin, 0, 1);
    EXPECT_GT(lAgain, 0);
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_RealPlay").back(),
              "ZDK_DEV_RealPlay login=" + std::to_string(lLogin) + " channel=0 stream=1 mode=0 rest=0/0/0 reserved=null");
    EXPECT_EQ(KorvexControl::OpenStreams(), 1);
    EXPECT_NE(ZDK_DEV_Logout(lLogin), 0);
    EXPECT_EQ(KorvexControl::OpenStreams(), 0) << "a logout closes the login's streams";
}

TEST_F(KorvexLive, DeviceEntryMayNameAMediaFile)
{
    // A raw H.265 file made from the test pattern stands for the device's media file.
    TestPatternEncoder::Settings settings;
    settings.nCodec = 3;
    settings.nWidth = 160;
    settings.nHeight = 96;
    settings.nFrameCount = 60;
    settings.nKeyInterval = 25;
    VideoLoop loop;
    std::string strError;
    ASSERT_TRUE(TestPatternEncoder::EncodeLoop(settings, loop, strError)) << strError;
    const QString strPath = TempPath("clip.hevc");
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const EncodedFrame &f : loop.frames)
            file.write(reinterpret_cast<const char *>(f.data.data()), static_cast<qint64>(f.data.size()));
    }
    UseDevices(R"([{"IP": "10.0.0.7", "Audio": {"Codec": "None"}, "MediaFile": ")" + strPath.toStdString() + R"("}])");
    const int32_t lLogin = LoginAt("10.0.0.7", 34567);
    BlockSink sink;
    const StreamsStop stop;
    const int32_t lPlay = OpenLiveStream(lLogin, 5, 0);
    ASSERT_GT(lPlay, 0);
    ASSERT_NE(ZDK_DEV_SetRealDataCallBack_V2(lPlay, &BlockSink::OnFrame, &sink), 0);
    ASSERT_TRUE(sink.WaitForBlocks(30, 20000));
    ASSERT_NE(ZDK_DEV_StopRealPlay(lPlay, 0), 0);
    AvTestDecoder decoder(true);
    int nFrames = 0;
    for (const BlockSink::Block &b : sink.Blocks()) {
        ASSERT_EQ(b.frame.nKind, ZDK_FRAME_VIDEO) << "the entry has no audio";
        EXPECT_EQ(b.frame.nCodec, 5u);
        EXPECT_EQ(b.frame.nWidth, 160);
        EXPECT_EQ(b.frame.nHeight, 96);
        EXPECT_TRUE(decoder.Decode(b.data.data() + 16, b.data.size() - 16)) << "frame " << nFrames;
        ++nFrames;
    }
    EXPECT_TRUE(decoder.Flush());
    EXPECT_EQ(decoder.Pictures(), nFrames);
    EXPECT_EQ(decoder.Width(), 160);
    EXPECT_EQ(decoder.Height(), 96);
}

TEST(KorvexTestPattern, LoopsBeginWithKeyFramesThatCarryTheirParameterSets)
{
    for (uint8_t nCodec : {uint8_t(2), uint8_t(3)}) {
        TestPatternEncoder::Settings settings;
        settings.nCodec = nCodec;
        settings.nWidth = 176;
        settings.nHeight = 144;
        settings.nFrameRate = 10;
        settings.nFrameCount = 30;
        settings.nKeyInterval = 10;
        settings.nLabel = 11;
        VideoLoop loop;
        std::string strError;
        ASSERT_TRUE(TestPatternEncoder::EncodeLoop(settings, loop, strError)) << strError;
        ASSERT_EQ(loop.frames.size(), 30u);
        for (size_t i = 0; i < loop.frames.size(); ++i) {
            EXPECT_EQ(loop.frames[i].bKeyFrame, i % 10 == 0) << int(nCodec) << " frame " << i;
            if (loop.frames[i].bKeyFrame) {
                EXPECT_TRUE(AnnexB::HasParameterSets(loop.frames[i].data.data(), loop.frames[i].data.size(),
                                                     nCodec == 3));
            }
        }
        // The loop plays twice over without a decoder error: its end runs into its first key frame.
        AvTestDecoder decoder(nCodec == 3);
        for (int nPass = 0; nPass < 2; ++nPass)
            for (const EncodedFrame &f : loop.frames)
                EXPECT_TRUE(decoder.Decode(f.data.data(), f.data.size()));
        EXPECT_TRUE(decoder.Flush());
        EXPECT_EQ(decoder.Pictures(), 60);
    }
    // The pattern shows the channel number: two labels give two different pictures.
    std::vector<uint8_t> a(176 * 144 * 3 / 2), b(a.size());
    auto draw = [](std::vector<uint8_t> &img, int nLabel) {
        TestPatternEncoder::Draw(img.data(), 176, img.data() + 176 * 144, 88, img.data() + 176 * 144 * 5 / 4, 88, 176,
                                 144, nLabel, 0, 25, 50);
    };
    draw(a, 0);
    draw(b, 1);
    EXPECT_NE(a, b);
    draw(b, 0);
    EXPECT_EQ(a, b);
}
