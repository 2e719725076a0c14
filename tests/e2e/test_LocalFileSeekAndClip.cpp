// A local file on the playback page, driven over the program's socket: a seek lands where it was asked, not on
// the key frame before it, and a clip of it begins with that key frame, decodes whole, and is answered as kept
// only when it is.

#include "device/media/CMp4Writer.h"
#include "platform/stream_block.h"
#include "tests/e2e/PlaybackFixture.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/Mp4Frames.h"
#include "tests/support/ScratchMount.h"
#include "tests/support/TestVideoEncoder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PlaybackE2e;

namespace {

constexpr int kFps = 25;
constexpr int kFrames = 20 * kFps;      // 20 s
constexpr int kGop = 10 * kFps;         // key frames at 0 and 10 s
constexpr int kWidth = 320, kHeight = 180;

// The play-control request's status of its one pane.
const Json::Value &PaneStatus(const HostMessage &reply) { return reply["ChnStatus"][0]; }

// Where the test pattern's moving box (white, at three quarters of the height) begins in a picture: it crosses
// the picture once per loop of kFrames, so its column tells the frame. -1 when there is no box.
int BoxColumn(const QImage &picture)
{
    const int nBox = std::max(8, kHeight / 8) & ~1;
    const int nRow = ((kHeight * 3 / 4) & ~1) + nBox / 2;
    for (int x = 0; x < picture.width(); ++x) {
        const QColor c = picture.pixelColor(x, nRow);
        if (c.red() > 235 && c.green() > 235 && c.blue() > 235)
            return x;
    }
    return -1;
}

// The box's column in frame nFrame, as the pattern draws it: it moves less than a pixel a frame, on even
// columns, so two pixels either way are about three frames.
int BoxColumnOf(int nFrame)
{
    const int nBox = std::max(8, kHeight / 8) & ~1;
    return (nFrame * (kWidth - nBox) / kFrames) & ~1;
}

// The video blocks of a clip, decoded with libavcodec.
struct ClipContent
{
    int nVideo = 0;
    int nDecoded = 0;
    bool bErrors = false;
    bool bFirstIsKey = false;
    int64_t nFirstMs = -1, nLastMs = -1;
};

ClipContent ReadClip(const QString &strPath)
{
    ClipContent clip;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return clip;
    const QByteArray bytes = file.readAll();
    AvTestDecoder decoder(false);
    StreamBlock::Parser parser;
    parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()),
                [&](const StreamBlock::View &view) {
                    if (!view.IsVideo())
                        return;
                    const int64_t nMs = static_cast<int64_t>(view.nSeconds) * 1000 + view.nMilliseconds;
                    if (clip.nVideo++ == 0) {
                        clip.bFirstIsKey = view.IsKeyFrame();
                        clip.nFirstMs = nMs;
                    }
                    clip.nLastMs = nMs;
                    if (!decoder.Decode(view.pPayload, view.nPayload))
                        clip.bErrors = true;
                });
    if (!decoder.Flush())
        clip.bErrors = true;
    clip.nDecoded = decoder.Pictures();
    return clip;
}

class LocalFileSeekAndClip : public PlaybackTest
{
protected:
    void SetUp() override
    {
        // 20 s of the moving pattern, H.264 in MP4, a key frame every 10 s.
        m_strFile = m_dir.filePath("long_gop.mp4");
        const auto units = TestVideoEncoder::Encode(TestVideoEncoder::Codec::H264, kWidth, kHeight, kFps, kFrames, kGop);
        ASSERT_EQ(units.size(), static_cast<size_t>(kFrames));
        CMp4Writer writer(m_strFile.toLocal8Bit().constData());
        for (const TestVideoEncoder::AccessUnit &unit : units) {
            const FrameInfo frame = Mp4VideoFrame(unit.data, unit.bKey, CMp4Writer::kCodecH264, kFps, kWidth, kHeight);
            ASSERT_EQ(writer.WriteFrame(&frame), 1);
        }
    }

    // The program on the playback page in local-file mode, the file chosen and playing in pane 0.
    void OpenFile(const QByteArray &clientCfg = QByteArray())
    {
        ASSERT_TRUE(m_plugin.App().WriteBrowse({m_strFile.toUtf8()}));
        ASSERT_TRUE(Open(4, clientCfg));
        ASSERT_TRUE(m_plugin.Request(PageMode("m", 0)));
        const HostMessage chosen = m_plugin.Request(HostedPlugin::NewRequest(5, 33, "f"));
        ASSERT_EQ(chosen["Ret"].asInt(), 100);
        ASSERT_EQ(chosen["Wnd"].asInt(), 0);
    }

    // The first position event of pane 0 after the reply to msgId (thousandths of the file).
    int PositionAfter(const char *pMsgId, int nAtLeast = 0)
    {
        const HostMessage position = WaitAfter(IndexOfReply(pMsgId), [&](const HostMessage &m) {
            return IsEvent(m, 1, 3) && m["Data"]["wnd"] == 0 && m["Data"]["pos"].isNumeric() &&
                   m["Data"]["pos"].asInt() >= nAtLeast;
        });
        EXPECT_TRUE(position) << "no position event after " << pMsgId;
        return position ? position["Data"]["pos"].asInt() : -1;
    }

    // The clip button of pane 0.
    HostMessage ClipButton(const char *pMsgId) { return m_plugin.Request(ForChannel(pMsgId, 44, 0)); }

    QStringList Clips(const QString &strFolder) const
    {
        return QDir(strFolder).entryList({"Local_*.h265x"}, QDir::Files, QDir::Name);
    }

    QTemporaryDir m_dir;
    QString m_strFile;
};

TEST_F(LocalFileSeekAndClip, ASeekWhilePlayingGoesOnFromWhereItWasAsked)
{
    OpenFile();
    // 500 thousandths of the span is 9.98 s, just before the key frame at 10 s: the key frame before it is the
    // one at 0 s.
    const HostMessage sought = m_plugin.Request(Control("k", 0, 4, 500));
    EXPECT_EQ(PaneStatus(sought)["Ret"].asInt(), 100);
    EXPECT_EQ(PaneStatus(sought)["Status"].asInt(), 2);
    // The position reported next is within a second (50 thousandths) of the target, not near the start.
    const int nPos = PositionAfter("k");
    EXPECT_GE(nPos, 450);
    EXPECT_LE(nPos, 550);
}

TEST_F(LocalFileSeekAndClip, ASeekWhilePausedShowsThePictureAtTheTarget)
{
    OpenFile();
    ASSERT_EQ(PaneStatus(m_plugin.Request(Control("p", 0, 2)))["Ret"].asInt(), 100);
    const HostMessage sought = m_plugin.Request(Control("k", 0, 4, 500));
    EXPECT_EQ(PaneStatus(sought)["Ret"].asInt(), 100);
    EXPECT_EQ(PaneStatus(sought)["Status"].asInt(), 4);
    // Still at the last picture at or before 9.98 s: 9.96 s of 19.96 s.
    EXPECT_NEAR(PositionAfter("k"), 499, 1);
    // The pane shows frame 249 of the pattern, not the key frame at 0 s.
    const HostMessage shot = m_plugin.Request(ForChannel("s", 41, 0));
    ASSERT_EQ(shot["Ret"].asInt(), 100);
    const QDir captures(QString::fromStdString(shot["CapPath"].asString()));
    const QStringList shots = captures.entryList({"Local_*.bmp"}, QDir::Files);
    ASSERT_EQ(shots.size(), 1);
    const QImage picture(captures.filePath(shots.front()));
    ASSERT_EQ(picture.size(), QSize(kWidth, kHeight));
    EXPECT_NEAR(BoxColumn(picture), BoxColumnOf(249), 2);

    // Sought again at once, back into the first group of pictures: 250 thousandths, 4.99 s, frame 124.
    ASSERT_TRUE(QFile::remove(captures.filePath(shots.front())));
    EXPECT_EQ(PaneStatus(m_plugin.Request(Control("k2", 0, 4, 250)))["Ret"].asInt(), 100);
    EXPECT_NEAR(PositionAfter("k2"), 249, 1);
    ASSERT_EQ(m_plugin.Request(ForChannel("s2", 41, 0))["Ret"].asInt(), 100);
    const QStringList again = captures.entryList({"Local_*.bmp"}, QDir::Files);
    ASSERT_EQ(again.size(), 1);
    EXPECT_NEAR(BoxColumn(QImage(captures.filePath(again.front()))), BoxColumnOf(124), 2);
}

TEST_F(LocalFileSeekAndClip, AClipShorterThanTheKeyFrameIntervalBeginsWithTheKeyFrameBeforeIt)
{
    OpenFile();
    // Two seconds into the group of pictures that began at 0 s, a clip of about two seconds.
    ASSERT_GE(PositionAfter("f", 100), 100);
    const HostMessage on = ClipButton("r");
    EXPECT_EQ(on["Ret"].asInt(), 100);
    EXPECT_TRUE(on["Record"].asBool());
    ASSERT_GE(PositionAfter("r", 200), 200);
    const HostMessage off = ClipButton("r2");
    EXPECT_EQ(off["Ret"].asInt(), 100);
    EXPECT_FALSE(off["Record"].asBool());

    const QString strFolder = QString::fromStdString(off["RecPath"].asString());
    const QStringList clips = Clips(strFolder);
    ASSERT_EQ(clips.size(), 1);
    const ClipContent clip = ReadClip(QDir(strFolder).filePath(clips.front()));
    // Every picture decodes: the clip begins with the key frame at 0 s and runs past the 4 s it was stopped at.
    EXPECT_TRUE(clip.bFirstIsKey);
    EXPECT_EQ(clip.nFirstMs, 0);
    EXPECT_GE(clip.nLastMs, 4000);
    EXPECT_GE(clip.nVideo, 4 * kFps);
    EXPECT_EQ(clip.nDecoded, clip.nVideo);
    EXPECT_FALSE(clip.bErrors);
}

TEST_F(LocalFileSeekAndClip, AClipOnAFullDiskIsAnsweredAsLostAndTheNextOneIsKept)
{
    ScratchMount disk(4 * 1024 * 1024);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why().toStdString();
    OpenFile("[Path]\nRecPath=" + disk.Path().toUtf8() + "\n");
    ASSERT_GE(PositionAfter("f", 50), 50);
    EXPECT_EQ(ClipButton("r")["Ret"].asInt(), 100);
    ASSERT_TRUE(disk.Fill());
    ASSERT_GE(PositionAfter("r", 150), 150);
    // What the clip read since the disk filled up is lost: not answered as kept, and the pane records no more.
    const HostMessage lost = ClipButton("r2");
    EXPECT_EQ(lost["Ret"].asInt(), 1016);
    EXPECT_FALSE(lost["Record"].asBool());
    EXPECT_FALSE(m_plugin.Request(ForChannel("st", 45, 0))["Data"]["Record"].asBool());

    // With room again, the next clip starts, and is kept whole.
    disk.Unfill();
    for (const QString &strName : Clips(disk.Path()))
        QFile::remove(QDir(disk.Path()).filePath(strName));
    const HostMessage on = ClipButton("r3");
    EXPECT_EQ(on["Ret"].asInt(), 100);
    EXPECT_TRUE(on["Record"].asBool());
    ASSERT_GE(PositionAfter("r3", 250), 250);
    const HostMessage kept = ClipButton("r4");
    EXPECT_EQ(kept["Ret"].asInt(), 100);
    EXPECT_FALSE(kept["Record"].asBool());
    const QStringList clips = Clips(disk.Path());
    ASSERT_EQ(clips.size(), 1);
    const ClipContent clip = ReadClip(QDir(disk.Path()).filePath(clips.front()));
    EXPECT_TRUE(clip.bFirstIsKey);
    EXPECT_EQ(clip.nDecoded, clip.nVideo);
    EXPECT_GT(clip.nVideo, 0);
}

} // namespace
