// Recordings started and stopped over and over while the simulated device's threads deliver blocks: every
// stop meets blocks in flight, every start may meet the worker finishing the recording before. Run under
// ThreadSanitizer too.

#include "device/CDecodeChannel.h"
#include "device/CQZConnect.h"
#include "tests/support/RecordFixture.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <memory>
#include <random>

namespace {

using RecordTest::LiveFeed;
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
    std::vector<std::unique_ptr<CDecodeChannel>> channels;
    std::vector<std::unique_ptr<LiveFeed>> lives;
    std::vector<int> plays;
    for (const Setup &s : setups) {
        channels.push_back(std::make_unique<CDecodeChannel>(s.nChannel));
        ASSERT_EQ(channels.back()->Open(1), 1);
        ASSERT_EQ(channels.back()->StartPreview(), 1);
        lives.push_back(std::make_unique<LiveFeed>());
        lives.back()->pChannel = channels.back().get();
        plays.push_back(CQZConnect::GetInstance()->ConnectChanel_V2(lLogin, s.nChannel, s.nStream, &LiveFeed::OnFrame,
                                                                    lives.back().get()));
        ASSERT_GT(plays.back(), 0);
    }
    // The streams run before the first start.
    ASSERT_TRUE(PavlineTest::WaitUntil([&] {
        for (const auto &pLive : lives)
            if (pLive->nBlocks.load() < 5)
                return false;
        return true;
    }, 10000));
    // Mostly short recordings (each stop meets blocks in flight), some long enough to hold key frames.
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> pause(0, 100);
    std::uniform_int_distribution<int> longOne(0, 7);
    int nStarts = 0, nRefused = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 4000) {
        for (size_t i = 0; i < channels.size(); ++i) {
            CDecodeChannel &channel = *channels[i];
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
        QThread::msleep(static_cast<unsigned long>(longOne(random) == 0 ? 1100 : pause(random)));
    }
    for (size_t i = 0; i < channels.size(); ++i) {
        EXPECT_EQ(CQZConnect::GetInstance()->DisconnectChannel_V2(plays[i], &LiveFeed::OnFrame, lives[i].get()), 1);
        EXPECT_GT(lives[i]->nBlocks.load(), 20);
        channels[i]->StopPreview();
        channels[i]->Close();
    }
    channels.clear();   // stops what still records and waits for the workers
    EXPECT_GT(nStarts, 15);

    // Every recording that saw a key frame is a whole file; the others left an empty placeholder (H.264) or
    // nothing (H.265 writer).
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
    }
    EXPECT_GE(nFiles, 3);
    EXPECT_EQ(RecordFiles("*").size(), RecordFiles("*.mp4").size()) << "nothing kept but MP4 files";
    EXPECT_FALSE(QFileInfo::exists(TempFolder()));
    std::printf("starts %d, refused %d, files %d\n", nStarts, nRefused, nFiles);
}

} // namespace
