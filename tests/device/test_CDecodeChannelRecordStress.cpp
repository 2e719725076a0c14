// Recordings started and stopped over and over while the simulated device's threads deliver blocks: every
// stop meets blocks in flight, every start may meet the worker finishing the recording before. Run under
// ThreadSanitizer too.

#include "device/CDecodeChannel.h"
#include "tests/support/RecordFixture.h"

#include <QDateTime>
#include <QFileInfo>

#include <atomic>
#include <memory>
#include <random>

namespace {

using RecordTest::MediaReport;

using RecordStressTest = RecordFixture;

TEST_F(RecordStressTest, StartsAndStopsWhileBlocksArrive)
{
    SetOemMode(2);
    const int lLogin = LoginBuiltIn();
    ASSERT_GT(lLogin, 0);
    // Channel, stream, name: the H.265 writer, H.264 segments, and H.264 blocks into the writer.
    struct Setup
    {
        int nChannel, nStream;
        const char *pExt;
    };
    const Setup setups[] = {{0, 0, ".h265"}, {1, 1, ".h264"}, {2, 1, ".h265"}};
    // The fixture owns the streams and channels: whatever ends the test, its teardown stops every stream before
    // a channel goes.
    std::vector<LiveChannel *> lives;
    for (const Setup &s : setups) {
        lives.push_back(&StartLive(lLogin, s.nChannel, s.nStream, s.nChannel));
        ASSERT_GT(lives.back()->lPlay, 0);
    }
    // The streams run before the first start.
    ASSERT_TRUE(WaitUntil([&] {
        for (const LiveChannel *pLive : lives)
            if (pLive->feed.nBlocks.load() < 5)
                return false;
        return true;
    }, 60000));
    // Mostly short recordings (each stop meets blocks in flight), some long enough to hold key frames; paced by
    // the blocks of the first stream.
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> pause(0, 5);
    std::uniform_int_distribution<int> longOne(0, 7);
    int nStarts = 0, nRefused = 0;
    for (int nRound = 0; nRound < 30; ++nRound) {
        for (size_t i = 0; i < lives.size(); ++i) {
            CDecodeChannel &channel = *lives[i]->pChannel;
            if (channel.IsRecording()) {
                EXPECT_EQ(channel.StopRecord(), 1);
                continue;
            }
            const QString strName = QString("%1/%2_%3%4")
                                        .arg(RecordDir())
                                        .arg(setups[i].nChannel + 1, 2, 10, QChar('0'))
                                        .arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"))
                                        .arg(setups[i].pExt);
            if (channel.StartRecord(strName.toLocal8Bit().constData(), 0))
                ++nStarts;
            else
                ++nRefused;     // the recording before is still being finished
        }
        const int nUntil = lives[0]->feed.nBlocks.load() + (longOne(random) == 0 ? 60 : pause(random));
        ASSERT_TRUE(WaitUntil([&] { return lives[0]->feed.nBlocks.load() >= nUntil; }, 60000));
    }
    for (LiveChannel *pLive : lives) {
        const int nBlocks = pLive->feed.nBlocks.load();
        StopLive(*pLive);   // stops what still records; the workers finish
        EXPECT_GT(nBlocks, 20);
    }
    ASSERT_TRUE(WaitForRecordings());
    EXPECT_GT(nStarts, 15);

    // Every recording begins with a key frame (the one before its start) and is a whole file.
    int nFiles = 0;
    for (const QString &strFile : RecordFiles("*.mp4")) {
        if (QFileInfo(strFile).size() == 0)
            continue;
        ++nFiles;
        const MediaReport mp4 = RecordTest::Probe(strFile);
        EXPECT_TRUE(mp4.bFirstIsKey) << strFile.toStdString() << " " << RecordTest::Describe(mp4);
        EXPECT_GT(mp4.nVideoPackets, 0);
        EXPECT_EQ(mp4.nPictures, mp4.nVideoPackets) << strFile.toStdString();
        EXPECT_EQ(mp4.nDecodeErrors, 0) << strFile.toStdString();
        EXPECT_TRUE(mp4.bPicturesInOrder) << strFile.toStdString();
        EXPECT_EQ(mp4.nAudioDecodeErrors, 0) << strFile.toStdString();
    }
    EXPECT_GE(nFiles, 3);
    EXPECT_EQ(RecordFiles("*").size(), RecordFiles("*.mp4").size()) << "nothing kept but MP4 files";
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
    std::printf("starts %d, refused %d, files %d\n", nStarts, nRefused, nFiles);
}

} // namespace
